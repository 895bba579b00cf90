#pragma once

// The crash reporter's compression: raw deflate with fixed parameters (zlib's
// level 2, a 32 KB window, memory level 8), inflate of data whose size is
// known, a self-checking compressed string, CRC-32 and a small ZIP writer for
// report attachments. Every failure is a result (0, empty, false); nothing here
// throws.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zeb {

// Files are read and written through windows of this size, so large ones never
// sit in memory whole.
inline constexpr std::size_t kDataWindow = 1u << 20;

// The destination capacity callers give DeflateBuffer: enough for any input.
std::size_t DeflateCapacity(std::size_t sourceLength);

// Compressed length, 0 on failure (including a destination too small).
std::size_t DeflateBuffer(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination);
// Uncompressed length: 0 unless the whole source was consumed and exactly
// destination.size() bytes came out.
std::size_t InflateBuffer(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination);

// One side of DeflateData and InflateData: a buffer, or an open file (fd >= 0)
// read or written at absolute positions.
struct DataSource {
  std::span<const std::uint8_t> bytes;
  int fd = -1;
};
struct DataSink {
  std::span<std::uint8_t> bytes;
  int fd = -1;
};

// The file forms. `offset` leaves room before the output when compressing and
// skips that much input when decompressing; lengths do not count it. With
// `crc`, the CRC-32 of the uncompressed side is stored there. A failed or
// short read or write gives 0.
std::uint64_t DeflateData(const DataSource& source, std::uint64_t sourceLength, const DataSink& destination,
                          std::uint64_t destinationCapacity, std::uint64_t offset = 0,
                          std::uint32_t* crc = nullptr);
std::uint64_t InflateData(const DataSource& source, std::uint64_t sourceLength, const DataSink& destination,
                          std::uint64_t expectedLength, std::uint64_t offset = 0, std::uint32_t* crc = nullptr);

// The longest text UnpackString accepts; a larger announced length is refused
// before anything is allocated.
inline constexpr std::uint32_t kUnpackLimit = 64u << 20;

// A compressed string: the uncompressed length (4 bytes, little-endian), 4
// bytes not read, the CRC-32 of the text (little-endian), raw deflate data.
// Empty when the input is shorter than 13 bytes, announces more than the limit,
// does not inflate to exactly its length or fails its CRC.
std::string UnpackString(std::span<const std::uint8_t> packed);

// The CRC-32 register without the final inversion: start with 0xFFFFFFFF and
// invert the end value.
std::uint32_t Crc32Update(std::uint32_t reg, std::span<const std::uint8_t> data);

// Writes a new ZIP archive of the files, deflated. Member i is called
// memberNames[i] when that is given and not empty, else the file's name after
// its last "/". A file that cannot be read whole is left out, and so is one
// that would not fit the format's 32-bit sizes and offsets or its 65,535
// members. False (and no archive left) when the archive cannot be written or
// holds no member.
bool WriteZipArchive(const std::string& archivePath, const std::vector<std::string>& filePaths,
                     const std::vector<std::string>& memberNames = {});

}  // namespace zeb

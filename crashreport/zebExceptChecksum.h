#pragma once

// The program-file checksum test. A build step stamps the program file with
// the checksum of its bytes into a 4-byte slot of its own ELF section
// (".zebcrc"); at start-up the reporter computes it again and reports a
// changed file. A slot holding 0 means "not stamped" and always passes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zeb {

// The name of the section that holds the slot.
inline constexpr const char* kChecksumSection = ".zebcrc";

// The ones'-complement fold of little-endian 16-bit words: each word is added
// to `running` and a carry past 16 bits is folded back at once; a last odd
// byte counts as a word of its own.
std::uint16_t ComputeImageChecksum(std::span<const std::uint8_t> bytes, std::uint32_t running);

// The checksum of a whole file whose slot lies at `slotOffset`: the fold of
// the bytes before the slot, continued over the bytes after it, plus its own
// high half (cut to 16 bits), plus the file's length.
std::uint32_t FileChecksum(std::span<const std::uint8_t> file, std::size_t slotOffset);

struct FileSection {
  std::size_t offset = 0;
  std::size_t size = 0;
};
// A section of a 64-bit ELF file with its bytes in the file; none when the
// file is no such ELF, has no section of that name, or it has no bytes there.
std::optional<FileSection> FindFileSection(std::span<const std::uint8_t> file, std::string_view name);

// Where the slot lies in an ELF file (the start of the section); none when
// the section is missing or shorter than 4 bytes.
std::optional<std::size_t> ChecksumSlotOffset(std::span<const std::uint8_t> file);

enum class ChecksumResult { Unstamped, Valid, Mismatch, Unreadable };
// Checks a file as the start-up does.
ChecksumResult VerifyFileChecksum(const std::string& path);
// Writes the checksum into the file's slot; false (file unchanged) when it
// has no slot or cannot be written.
bool StampFileChecksum(const std::string& path, std::string* error = nullptr);

}  // namespace zeb

#pragma once

// Layout constants of the regf format and the name rules shared by the reader
// and the writer (upper-casing, sub-key order, hash-leaf hashes).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::hive {

inline constexpr std::uint32_t kNoCell = 0xFFFFFFFFu;
inline constexpr std::size_t kBaseBlockSize = 4096;
inline constexpr std::size_t kBinHeaderSize = 32;
inline constexpr std::size_t kBinAlign = 4096;
inline constexpr std::size_t kChecksumSpan = 508;

// Base block fields.
namespace bb {
inline constexpr std::size_t Signature = 0, Sequence1 = 4, Sequence2 = 8, Time = 12, Major = 20, Minor = 24,
                             Type = 28, Format = 32, Root = 36, BinsSize = 40, Cluster = 44, FileName = 48,
                             FileNameSize = 64, Checksum = 508;
}

// Key node (nk) payload fields, offsets after the cell size.
namespace nk {
inline constexpr std::size_t Sig = 0, Flags = 2, Time = 4, Access = 12, Parent = 16, SubkeyCount = 20,
                             VolatileCount = 24, SubkeyList = 28, VolatileList = 32, ValueCount = 36,
                             ValueList = 40, Security = 44, Class = 48, MaxNameLen = 52, MaxClassLen = 56,
                             MaxValueNameLen = 60, MaxValueDataLen = 64, WorkVar = 68, NameLen = 72,
                             ClassLen = 74, Name = 76;
inline constexpr std::uint16_t FlagHiveEntry = 0x0004, FlagCompName = 0x0020;
}  // namespace nk

// Value key (vk) payload fields.
namespace vk {
inline constexpr std::size_t Sig = 0, NameLen = 2, DataSize = 4, DataOff = 8, Type = 12, Flags = 16, Spare = 18,
                             Name = 20;
inline constexpr std::uint16_t FlagCompName = 0x0001;
inline constexpr std::uint32_t Resident = 0x80000000u;
}  // namespace vk

// Security (sk) payload fields.
namespace sk {
inline constexpr std::size_t Sig = 0, Reserved = 2, Flink = 4, Blink = 8, RefCount = 12, Size = 16, Descriptor = 20;
}

// Big data (db): segments of at most this many bytes (format 1.4 and later).
inline constexpr std::size_t kBigDataSegment = 16344;
inline constexpr std::size_t kMaxBigDataSegments = 0xFFFF;

// Windows' own limits on names, enforced on write only (reading takes any
// length the format can hold).
inline constexpr std::size_t kMaxKeyNameUnits = 255;
inline constexpr std::size_t kMaxValueNameUnits = 16383;

// Upper-cases one UTF-16 unit the way the registry does (simple mappings of
// the BMP; surrogates and units without a single-unit mapping stay).
char16_t upcaseUnit(char16_t c);

// The hash of a hash-leaf element: 37 * h + upcased unit, over the UTF-16 name.
std::uint32_t nameHash(std::u16string_view name);

// Case-insensitive equality of two names under upcaseUnit.
bool namesEqual(std::u16string_view a, std::u16string_view b);

// Writes an empty bin of `size` bytes (a multiple of 4096) at bins offset
// `at`: a header and one free cell. It stands in for pages that do not hold a
// sound bin, so the bins after them stay reachable.
void writeEmptyBin(std::uint8_t* bin, std::uint32_t at, std::uint32_t size);

// XOR-32 checksum of the first 508 bytes of a base block.
std::uint32_t baseBlockChecksum(const std::uint8_t* block);

}  // namespace platform::hive

#pragma once

// Transaction log replay: brings a dirty hive image up to date from its logs,
// in memory. Two log formats exist. The old one (up to Windows 8) holds a copy
// of the base block, a dirty vector ("DIRT", one bit per 512-byte page of the
// bins) and the dirty pages. The new one holds the base block copy and a run of
// "HvLE" entries, each a set of pages guarded by two Marvin32 hashes and
// numbered by sequence; entries may be split over .LOG1 and .LOG2.
//
// Log bytes are hostile like hive bytes: every size, offset and count is
// checked before use, and a page is never written outside the bins its entry
// declares.

#include <cstdint>
#include <span>

#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveImage.h"

namespace platform::hive {

// Marvin32 with a 64-bit seed; the 64-bit result is (high state << 32) | low.
std::uint64_t marvin32(std::uint64_t seed, std::span<const std::uint8_t> data);

// The seed of the log entry hashes (bytes 82 EF 4D 88 7A 4E 55 C5 read as one
// big-endian number).
inline constexpr std::uint64_t kLogEntrySeed = 0x82EF4D887A4E55C5ull;

// Field offsets of a new-format log entry.
namespace le {
inline constexpr std::size_t Sig = 0, Size = 4, Flags = 8, Sequence = 12, BinsSize = 16, PageCount = 20,
                             Hash1 = 24, Hash2 = 32, Pages = 40;
}

// True when the primary's base block asks for recovery: the sequence numbers
// differ or the checksum is wrong. A file that is not a hive at all (neither a
// base block signature nor a first bin) never does.
bool needsRecovery(std::span<const std::uint8_t> primary);

// Replays the logs onto `hive` (the whole primary file; a heap buffer, not a
// mapping), given in their roles' order: first and second of the dual logs,
// then the single log. Empty spans stand for missing logs. The buffer is
// changed only when some log data is applied; then its base block carries
// equal sequence numbers, the final bins size and a fresh checksum.
LogReplayInfo replayLogs(ByteBuffer& hive, std::span<const std::span<const std::uint8_t>> logs);

}  // namespace platform::hive

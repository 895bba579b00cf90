#pragma once

// File input and output of the hive engine.

#include <filesystem>
#include <span>

#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveImage.h"

namespace platform::hive {

// Reads a whole file with one read loop. IoError (errno kept) or NotFound.
HiveError readWholeFile(const std::filesystem::path& path, ByteBuffer& out);

// Maps a whole file private, or falls back to reading it: read-only, or
// writable (copy-on-write: a page written becomes ours, the file never
// changes). The mapping spares a copy of the file; our own saves replace
// files by rename, so a mapped file is never cut short under us by this
// program.
HiveError mapWholeFile(const std::filesystem::path& path, ByteBuffer& out, bool writable = false);

// Replaces `target` with the concatenated parts so that, whatever moment the
// process or machine dies, `target` is either the old file or the new one,
// whole: the bytes go to a temporary file in the same folder, which is synced,
// renamed over the target, and the folder synced. The target's permissions are
// kept. IoError (errno kept) on failure, with the target untouched.
HiveError replaceFileAtomically(const std::filesystem::path& target,
                                std::span<const std::span<const std::uint8_t>> parts);

}  // namespace platform::hive

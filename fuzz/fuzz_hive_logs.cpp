// libFuzzer target: a hive and up to three transaction logs, replayed and
// then walked. The input is the hive, then each log after a "LOG!" marker.
// The first byte is a switch: with bit 0 set, the logs' checksums and entry
// hashes are made right before replay, so mutations reach the code that
// applies pages instead of dying at the hash checks.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "platform/hive/HiveBytes.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveFormat.h"
#include "platform/hive/HiveLog.h"

using namespace platform::hive;

namespace {

void fixLog(std::vector<std::uint8_t>& log) {
  if (log.size() < 512) return;
  storeU32(log.data() + bb::Checksum, baseBlockChecksum(log.data()));
  for (std::size_t off = 512; off <= log.size() && log.size() - off >= le::Pages;) {
    std::uint8_t* p = log.data() + off;
    if (std::memcmp(p, "HvLE", 4) != 0) break;
    const std::uint32_t size = loadU32(p + le::Size);
    if (size < le::Pages || size % 512 != 0 || size > log.size() - off) break;
    storeU64(p + le::Hash1, marvin32(kLogEntrySeed, std::span<const std::uint8_t>(p + le::Pages, size - le::Pages)));
    storeU64(p + le::Hash2, marvin32(kLogEntrySeed, std::span<const std::uint8_t>(p, 32)));
    off += size;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool fix = data[0] & 1;
  std::vector<std::vector<std::uint8_t>> parts(1);
  for (std::size_t i = 1; i < size;) {
    if (size - i >= 4 && std::memcmp(data + i, "LOG!", 4) == 0 && parts.size() < 4) {
      parts.emplace_back();
      i += 4;
      continue;
    }
    parts.back().push_back(data[i++]);
  }
  std::vector<std::span<const std::uint8_t>> logs;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (fix) fixLog(parts[i]);
    logs.emplace_back(parts[i]);
  }
  auto opened = HiveFile::openBytesWithLogs(parts[0], logs, OpenMode::ReadWrite);
  if (!opened) return 0;
  HiveFile& h = **opened;
  const LogReplayInfo r = h.logReplay();
  if (r.replayed && h.baseBlock().dirty()) __builtin_trap();  // a replay must leave equal sequence numbers
  std::vector<KeyId> pending{h.root()};
  std::vector<KeyId> kids;
  std::vector<ValueId> vals;
  std::vector<std::uint8_t> bytes;
  ValueInfo vi;
  std::size_t steps = 0;
  while (!pending.empty() && ++steps < 20000) {
    const KeyId k = pending.back();
    pending.pop_back();
    (void)h.keyInfo(k);
    (void)h.security(k);
    if (h.valuesInto(k, vals))
      for (ValueId v : vals) {
        (void)h.valueInfoInto(v, vi);
        (void)h.valueDataInto(v, bytes);
      }
    if (h.subkeysInto(k, kids)) pending.insert(pending.end(), kids.begin(), kids.end());
  }
  if (!h.readOnly()) {
    // A replayed hive that opened writable saves to a hive that opens clean.
    (void)h.createKey(h.root(), u"fuzz");
    auto out = h.serialize();
    if (out) {
      auto again = HiveFile::openBytes(*out, OpenMode::ReadOnly);
      if (!again || (*again)->baseBlock().dirty()) __builtin_trap();
    }
  }
  return 0;
}

// libFuzzer target: any bytes opened as a hive, then everything walked and
// read, plus a few lookups and writes on what opened writable.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/hive/HiveFile.h"

using namespace platform::hive;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto opened = HiveFile::openBytes(std::span<const std::uint8_t>(data, size), OpenMode::ReadWrite);
  if (!opened) return 0;
  HiveFile& h = **opened;
  (void)h.baseBlock();
  std::vector<KeyId> pending{h.root()};
  std::vector<KeyId> kids;
  std::vector<ValueId> vals;
  std::vector<std::uint8_t> bytes;
  std::u16string name;
  ValueInfo vi;
  std::size_t steps = 0;
  while (!pending.empty() && ++steps < 20000) {
    const KeyId k = pending.back();
    pending.pop_back();
    (void)h.keyInfo(k);
    (void)h.parent(k);
    (void)h.security(k);
    if (h.keyNameInto(k, name)) (void)h.findSubkey(k, name);
    if (h.valuesInto(k, vals)) {
      for (ValueId v : vals) {
        if (h.valueInfoInto(v, vi)) (void)h.findValue(k, vi.name);
        (void)h.valueDataInto(v, bytes);
      }
    }
    if (h.subkeysInto(k, kids)) pending.insert(pending.end(), kids.begin(), kids.end());
  }
  if (!h.readOnly()) {
    // Writes on a hive that opened clean must keep it readable.
    auto k = h.createKey(h.root(), u"fuzz");
    if (k) {
      (void)h.setValue(*k, u"v", 3, std::vector<std::uint8_t>(20000, 1));
      (void)h.deleteValue(*k, u"v");
      (void)h.deleteKey(*k);
    }
    auto out = h.serialize();
    if (out) {
      auto again = HiveFile::openBytes(*out, OpenMode::ReadOnly);
      if (!again) __builtin_trap();
    }
  }
  return 0;
}

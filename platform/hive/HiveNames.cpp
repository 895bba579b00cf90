#include <algorithm>
#include <cstring>

#include "platform/hive/HiveBytes.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveFormat.h"

namespace platform::hive {

namespace {

struct UpcaseRange {
  char16_t first;
  char16_t last;
  std::uint8_t step;
  std::int32_t delta;
};

constexpr UpcaseRange kUpcaseRanges[] = {
#include "platform/hive/HiveUpcaseTable.inc"
};

}  // namespace

char16_t upcaseUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  // Last range whose first unit is <= c.
  auto it = std::upper_bound(std::begin(kUpcaseRanges), std::end(kUpcaseRanges), c,
                             [](char16_t v, const UpcaseRange& r) { return v < r.first; });
  if (it == std::begin(kUpcaseRanges)) return c;
  --it;
  if (c > it->last || (c - it->first) % it->step != 0) return c;
  return static_cast<char16_t>(c + it->delta);
}

std::uint32_t nameHash(std::u16string_view name) {
  std::uint32_t h = 0;
  for (char16_t c : name) h = h * 37u + upcaseUnit(c);
  return h;
}

bool namesEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && upcaseUnit(a[i]) != upcaseUnit(b[i])) return false;
  return true;
}

int compareKeyNames(std::u16string_view a, std::u16string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = upcaseUnit(a[i]);
    const char16_t y = upcaseUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

void writeEmptyBin(std::uint8_t* bin, std::uint32_t at, std::uint32_t size) {
  std::memset(bin, 0, size);
  std::memcpy(bin, "hbin", 4);
  storeU32(bin + 4, at);
  storeU32(bin + 8, size);
  storeU32(bin + kBinHeaderSize, size - static_cast<std::uint32_t>(kBinHeaderSize));  // one free cell
}

std::uint32_t baseBlockChecksum(const std::uint8_t* block) {
  std::uint32_t c = 0;
  for (std::size_t i = 0; i < kChecksumSpan; i += 4) c ^= loadU32(block + i);
  if (c == 0xFFFFFFFFu) c = 0xFFFFFFFEu;
  if (c == 0) c = 1;
  return c;
}

}  // namespace platform::hive

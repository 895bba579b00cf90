// Feeds arbitrary bytes to the information database's reader: it must raise
// its stream error or read items, never crash, and what it read must save and
// read back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "core/UnitRegistryInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TRegistryInfo info;
  try {
    info.ReadFromStream(std::span<const std::uint8_t>(data, size));
  } catch (const EReadError&) {
    return 0;
  }
  std::vector<std::uint8_t> first;
  info.WriteToStream(first);
  TRegistryInfo again;
  again.ReadFromStream(first);
  std::vector<std::uint8_t> second;
  again.WriteToStream(second);
  if (first != second) std::abort();
  return 0;
}

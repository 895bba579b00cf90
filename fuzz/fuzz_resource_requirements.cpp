// Feeds arbitrary bytes to the requirements-list decoder as a value's data:
// it must never read outside them, and what it shows is either nothing or one
// row per descriptor the data holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "core/ResourceRequirementsList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so a read one past the data is one past an allocation.
  const std::vector<std::uint8_t> bytes(data, data + size);
  const auto rows = DecodeResourceRequirementsList(bytes);
  if (!rows.empty() && (size < 40 || rows.size() != (size - 40) / 32)) std::abort();
  for (const ResourceRequirementRow& row : rows) {
    const bool vectors = row.length.empty();
    if (row.minimum.size() != (vectors ? 4u : 8u) || row.maximum.size() != row.minimum.size()) std::abort();
  }
  return 0;
}

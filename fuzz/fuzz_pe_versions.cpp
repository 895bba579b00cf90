// The PE version-resource reader on arbitrary bytes: taken as a whole image
// and as a bare VS_VERSIONINFO block.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/bwlPEVersions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> bytes(data, size);
  if (auto block = FindVersionResource(bytes)) (void)ParseVersionInfo(*block);
  if (auto info = ParseVersionInfo(bytes)) {
    for (const auto& table : info->StringTables) (void)info->Query(table.Key, "ProductName");
  }
  return 0;
}

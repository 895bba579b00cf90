// Feeds arbitrary bytes to the compressed-string reader: it must never crash
// or allocate more than its limit, and what it returns must match the length
// and CRC its header announces.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "crashreport/zebZip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = zeb::UnpackString(std::span<const std::uint8_t>(data, size));
  if (text.empty()) return 0;
  const std::uint32_t length = std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 | std::uint32_t(data[2]) << 16 |
                               std::uint32_t(data[3]) << 24;
  const std::uint32_t crc = std::uint32_t(data[8]) | std::uint32_t(data[9]) << 8 | std::uint32_t(data[10]) << 16 |
                            std::uint32_t(data[11]) << 24;
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  if (text.size() != length || ~zeb::Crc32Update(0xFFFFFFFF, bytes) != crc) __builtin_trap();
  return 0;
}

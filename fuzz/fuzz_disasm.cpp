// Feeds arbitrary bytes to the x86-64 decoder and the function analysis: no
// byte sequence may fault, every valid instruction fits its 15 bytes and the
// bytes given, and the analysis and listing of the bytes as a function stay
// bounded.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "crashreport/zebDisAsmText.h"
#include "crashreport/zebStackScan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A linear sweep, as over code of unknown origin.
  zeb::TRegState regs;
  for (std::size_t i = 0; i < size;) {
    zeb::TDisAsmParts parts;
    auto span = std::span<const std::uint8_t>(data + i, size - i);
    zeb::CodeInfo info = zeb::DecodeBytes(span, 0x10000 + i, nullptr, &regs, &parts);
    if (info.valid) {
      const std::uint64_t length = info.next - info.address;
      if (length == 0 || length > 15 || length > size - i) __builtin_trap();
      const std::string mnemonic = zeb::Mnemonic(parts);
      (void)zeb::FormatOperands(parts, info, mnemonic);
      i += std::size_t(length);
    } else {
      ++i;
    }
  }
  // The bytes as a function in memory, read through a guard.
  static const zeb::TDATryRead guard = zeb::ReadGuardStart();
  std::vector<std::uint8_t> copy(data, data + size);
  if (!copy.empty()) {
    zeb::TAnalyseLimits limits;
    limits.instructions = 4096;
    const auto at = reinterpret_cast<std::uint64_t>(copy.data());
    (void)zeb::AnalyseFunction(at, at + copy.size(), guard, limits);
    zeb::TFunctionInfo info;
    (void)zeb::ListFunction(at, at + copy.size(), guard, at + copy.size() / 2, info, true, 5, zeb::TDisAsmHooks{});
    (void)zeb::FollowsCall(at + copy.size(), guard);
  }
  return 0;
}

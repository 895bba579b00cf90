// Decoding speed of the crash reporter's x86-64 decoder beside two others.
//
//   disasm [FILE] [RUNS]
//
// FILE (libQt6Widgets.so.6 unless given) is read and its .text swept linearly
// by each decoder (an undecodable byte is skipped) RUNS times (5 unless
// given), the decoders taking turns; the median instructions per second of
// each is printed. Ours is timed as the analysis uses it (length, branch kind
// and target) and with the mnemonic besides; the second library with details
// off (it always formats text); the third without and with its operands.

#include <capstone/capstone.h>
#include <Zydis/Zydis.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "crashreport/zebDisAsm.h"
#include "crashreport/zebElfCode.h"

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Sweep {
  const char* name;
  std::function<std::size_t()> run;  // instructions decoded
  std::vector<double> rates;
  std::size_t count = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "/usr/lib/x86_64-linux-gnu/libQt6Widgets.so.6";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  zeb::TElfCode code = zeb::ReadElfCode(path);
  if (!code.valid || code.textSize == 0) {
    std::fprintf(stderr, "disasm: %s has no .text to decode\n", path.c_str());
    return 1;
  }
  const std::uint8_t* text = code.bytes.data() + code.textOffset;
  const std::size_t size = std::size_t(code.textSize);
  const std::uint64_t base = code.textAddress;
  volatile std::uint64_t sink = 0;

  csh capstone = 0;
  if (cs_open(CS_ARCH_X86, CS_MODE_64, &capstone) != CS_ERR_OK) {
    std::fprintf(stderr, "disasm: the second decoder does not open\n");
    return 1;
  }
  cs_option(capstone, CS_OPT_DETAIL, CS_OPT_OFF);
  cs_option(capstone, CS_OPT_SKIPDATA, CS_OPT_OFF);
  ZydisDecoder zydis;
  ZydisDecoderInit(&zydis, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64);

  std::vector<Sweep> sweeps;
  sweeps.push_back({"ours (CodeInfo)", [&] {
                      std::size_t n = 0;
                      for (std::size_t i = 0; i < size;) {
                        zeb::CodeInfo info = zeb::DecodeBytes(
                            std::span<const std::uint8_t>(text + i, std::min<std::size_t>(15, size - i)), base + i);
                        sink = sink + info.target;
                        i += info.valid ? std::size_t(info.next - info.address) : 1;
                        n += info.valid;
                      }
                      return n;
                    }, {}});
  sweeps.push_back({"ours (with mnemonic)", [&] {
                      std::size_t n = 0;
                      zeb::TDisAsmParts parts;
                      for (std::size_t i = 0; i < size;) {
                        zeb::CodeInfo info =
                            zeb::DecodeBytes(std::span<const std::uint8_t>(text + i, std::min<std::size_t>(15, size - i)),
                                             base + i, nullptr, nullptr, &parts);
                        if (info.valid) sink = sink + zeb::Mnemonic(parts).size();
                        i += info.valid ? std::size_t(info.next - info.address) : 1;
                        n += info.valid;
                      }
                      return n;
                    }, {}});
  sweeps.push_back({"capstone (details off)", [&] {
                      std::size_t n = 0;
                      cs_insn* insn = cs_malloc(capstone);
                      const std::uint8_t* p = text;
                      std::size_t left = size;
                      std::uint64_t address = base;
                      while (left > 0) {
                        if (cs_disasm_iter(capstone, &p, &left, &address, insn)) {
                          ++n;
                          sink = sink + insn->size;
                        } else {
                          ++p;
                          --left;
                          ++address;
                        }
                      }
                      cs_free(insn, 1);
                      return n;
                    }, {}});
  sweeps.push_back({"zydis (instruction only)", [&] {
                      std::size_t n = 0;
                      ZydisDecoderContext context;
                      ZydisDecodedInstruction insn;
                      for (std::size_t i = 0; i < size;) {
                        if (ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&zydis, &context, text + i, size - i, &insn))) {
                          ++n;
                          i += insn.length;
                          sink = sink + insn.mnemonic;
                        } else {
                          ++i;
                        }
                      }
                      return n;
                    }, {}});
  sweeps.push_back({"zydis (with operands)", [&] {
                      std::size_t n = 0;
                      ZydisDecodedInstruction insn;
                      ZydisDecodedOperand ops[ZYDIS_MAX_OPERAND_COUNT];
                      for (std::size_t i = 0; i < size;) {
                        if (ZYAN_SUCCESS(ZydisDecoderDecodeFull(&zydis, text + i, size - i, &insn, ops))) {
                          ++n;
                          i += insn.length;
                          sink = sink + ops[0].size;
                        } else {
                          ++i;
                        }
                      }
                      return n;
                    }, {}});

  for (auto& s : sweeps) s.count = s.run();  // warm-up
  for (int r = 0; r < runs; ++r) {
    for (auto& s : sweeps) {
      const auto start = std::chrono::steady_clock::now();
      s.count = s.run();
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      s.rates.push_back(double(s.count) / seconds);
    }
  }
  cs_close(&capstone);
  std::printf("%s: .text %zu bytes, %d runs, median instructions per second\n", path.c_str(), size, runs);
  for (auto& s : sweeps)
    std::printf("  %-26s %12.0f  (%zu instructions)\n", s.name, median(s.rates), s.count);
  return 0;
}

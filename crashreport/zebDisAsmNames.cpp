// Intel mnemonics of decoded instructions. Tables hold one entry per opcode;
// an entry may hold variants separated by "/", chosen by the mandatory prefix
// in the order none, 66, F3, F2 (an empty variant falls back to the first),
// and groups separated by "|", chosen by the ModRM reg field. "%cc" stands for
// the condition code of the opcode's low four bits.
#include <array>
#include <string_view>

#include "crashreport/zebDisAsm.h"

namespace zeb {

namespace {

constexpr const char* kConditions[16] = {"o", "no", "b", "nb", "z", "nz", "be", "a",
                                         "s", "ns", "p", "np", "l", "ge", "le", "g"};

// Piece number index of a text split at sep; "" when missing.
std::string_view Piece(std::string_view text, char sep, unsigned index) {
  for (unsigned i = 0; i < index; ++i) {
    auto at = text.find(sep);
    if (at == std::string_view::npos) return {};
    text.remove_prefix(at + 1);
  }
  return text.substr(0, text.find(sep));
}

// Mandatory prefix choice: 0 none, 1 66, 2 F3, 3 F2.
unsigned PrefixChoice(const TDisAsmParts& d) {
  if (d.encoding != Encoding::Legacy) return d.vexPP;
  if (d.lastRepPrefix == 0xF3) return 2;
  if (d.lastRepPrefix == 0xF2) return 3;
  if (d.prefixes & kPrefixOpSize) return 1;
  return 0;
}

std::string Expand(std::string_view entry, const TDisAsmParts& d) {
  if (entry.find('|') != std::string_view::npos) entry = Piece(entry, '|', (d.modrm >> 3) & 7);
  if (entry.find('/') != std::string_view::npos) {
    std::string_view v = Piece(entry, '/', PrefixChoice(d));
    entry = v.empty() ? Piece(entry, '/', 0) : v;
  }
  std::string out(entry);
  auto at = out.find("%cc");
  if (at != std::string::npos) out.replace(at, 3, kConditions[d.opcode & 15]);
  return out;
}

const char* const kOneByte[256] = {
    // 00
    "add", "add", "add", "add", "add", "add", "", "", "or", "or", "or", "or", "or", "or", "", "",
    // 10
    "adc", "adc", "adc", "adc", "adc", "adc", "", "", "sbb", "sbb", "sbb", "sbb", "sbb", "sbb", "", "",
    // 20
    "and", "and", "and", "and", "and", "and", "", "", "sub", "sub", "sub", "sub", "sub", "sub", "", "",
    // 30
    "xor", "xor", "xor", "xor", "xor", "xor", "", "", "cmp", "cmp", "cmp", "cmp", "cmp", "cmp", "", "",
    // 40
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    // 50
    "push", "push", "push", "push", "push", "push", "push", "push",
    "pop", "pop", "pop", "pop", "pop", "pop", "pop", "pop",
    // 60
    "", "", "", "movsxd", "", "", "", "", "push", "imul", "push", "imul", "insb", "ins", "outsb", "outs",
    // 70
    "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc",
    "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc",
    // 80
    "add|or|adc|sbb|and|sub|xor|cmp", "add|or|adc|sbb|and|sub|xor|cmp", "", "add|or|adc|sbb|and|sub|xor|cmp",
    "test", "test", "xchg", "xchg", "mov", "mov", "mov", "mov", "mov", "lea", "mov", "pop",
    // 90
    "nop", "xchg", "xchg", "xchg", "xchg", "xchg", "xchg", "xchg", "", "", "", "fwait", "pushf", "popf", "sahf", "lahf",
    // A0
    "mov", "mov", "mov", "mov", "movsb", "", "cmpsb", "", "test", "test", "stosb", "", "lodsb", "", "scasb", "",
    // B0
    "mov", "mov", "mov", "mov", "mov", "mov", "mov", "mov", "mov", "mov", "mov", "mov", "mov", "mov", "mov", "mov",
    // C0
    "rol|ror|rcl|rcr|shl|shr|sal|sar", "rol|ror|rcl|rcr|shl|shr|sal|sar", "ret", "ret", "", "", "mov", "mov",
    "enter", "leave", "retf", "retf", "int3", "int", "", "iretq",
    // D0
    "rol|ror|rcl|rcr|shl|shr|sal|sar", "rol|ror|rcl|rcr|shl|shr|sal|sar", "rol|ror|rcl|rcr|shl|shr|sal|sar",
    "rol|ror|rcl|rcr|shl|shr|sal|sar", "", "", "", "xlat", "", "", "", "", "", "", "", "",
    // E0
    "loopne", "loope", "loop", "jrcxz", "in", "in", "out", "out", "call", "jmp", "", "jmp", "in", "in", "out", "out",
    // F0
    "", "int1", "", "", "hlt", "cmc", "test|test|not|neg|mul|imul|div|idiv", "test|test|not|neg|mul|imul|div|idiv",
    "clc", "stc", "cli", "sti", "cld", "std", "inc|dec", "inc|dec|call|call|jmp|jmp|push",
};

// The 0F map, with the SSE variants by mandatory prefix (none/66/F3/F2).
const char* const kTwoByte[256] = {
    // 00
    "sldt|str|lldt|ltr|verr|verw", "sgdt|sidt|lgdt|lidt|smsw||lmsw|invlpg", "lar", "lsl", "", "syscall", "clts",
    "sysret", "invd", "wbinvd", "", "ud2", "", "prefetch|prefetchw", "femms", "",
    // 10
    "movups/movupd/movss/movsd", "movups/movupd/movss/movsd", "movlps/movlpd/movsldup/movddup", "movlps/movlpd",
    "unpcklps/unpcklpd", "unpckhps/unpckhpd", "movhps/movhpd/movshdup", "movhps/movhpd",
    "prefetchnta|prefetcht0|prefetcht1|prefetcht2|nop|nop|nop|nop", "nop", "nop", "nop", "nop", "nop",
    "nop/nop/endbr64", "nop",
    // 20
    "mov", "mov", "mov", "mov", "", "", "", "", "movaps/movapd", "movaps/movapd",
    "cvtpi2ps/cvtpi2pd/cvtsi2ss/cvtsi2sd", "movntps/movntpd", "cvttps2pi/cvttpd2pi/cvttss2si/cvttsd2si",
    "cvtps2pi/cvtpd2pi/cvtss2si/cvtsd2si", "ucomiss/ucomisd", "comiss/comisd",
    // 30
    "wrmsr", "rdtsc", "rdmsr", "rdpmc", "sysenter", "sysexit", "", "getsec", "", "", "", "", "", "", "", "",
    // 40
    "cmov%cc", "cmov%cc", "cmov%cc", "cmov%cc", "cmov%cc", "cmov%cc", "cmov%cc", "cmov%cc",
    "cmov%cc", "cmov%cc", "cmov%cc", "cmov%cc", "cmov%cc", "cmov%cc", "cmov%cc", "cmov%cc",
    // 50
    "movmskps/movmskpd", "sqrtps/sqrtpd/sqrtss/sqrtsd", "rsqrtps//rsqrtss", "rcpps//rcpss", "andps/andpd",
    "andnps/andnpd", "orps/orpd", "xorps/xorpd", "addps/addpd/addss/addsd", "mulps/mulpd/mulss/mulsd",
    "cvtps2pd/cvtpd2ps/cvtss2sd/cvtsd2ss", "cvtdq2ps/cvtps2dq/cvttps2dq", "subps/subpd/subss/subsd",
    "minps/minpd/minss/minsd", "divps/divpd/divss/divsd", "maxps/maxpd/maxss/maxsd",
    // 60
    "punpcklbw", "punpcklwd", "punpckldq", "packsswb", "pcmpgtb", "pcmpgtw", "pcmpgtd", "packuswb", "punpckhbw",
    "punpckhwd", "punpckhdq", "packssdw", "/punpcklqdq", "/punpckhqdq", "movd", "movq/movdqa/movdqu",
    // 70
    "pshufw/pshufd/pshufhw/pshuflw", "||psrlw||psraw||psllw", "||psrld||psrad||pslld", "||psrlq|psrldq|||psllq|pslldq",
    "pcmpeqb", "pcmpeqw", "pcmpeqd", "emms", "vmread/extrq//insertq", "vmwrite/extrq//insertq", "", "",
    "/haddpd//haddps", "/hsubpd//hsubps", "movd/movd/movq", "movq/movdqa/movdqu",
    // 80
    "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc",
    "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc", "j%cc",
    // 90
    "set%cc", "set%cc", "set%cc", "set%cc", "set%cc", "set%cc", "set%cc", "set%cc",
    "set%cc", "set%cc", "set%cc", "set%cc", "set%cc", "set%cc", "set%cc", "set%cc",
    // A0
    "push", "pop", "cpuid", "bt", "shld", "shld", "", "", "push", "pop", "rsm", "bts", "shrd", "shrd",
    "fxsave|fxrstor|ldmxcsr|stmxcsr|xsave|xrstor|xsaveopt|clflush", "imul",
    // B0
    "cmpxchg", "cmpxchg", "lss", "btr", "lfs", "lgs", "movzx", "movzx", "//popcnt", "ud1", "||||bt|bts|btr|btc",
    "btc", "bsf//tzcnt", "bsr//lzcnt", "movsx", "movsx",
    // C0
    "xadd", "xadd", "cmpps/cmppd/cmpss/cmpsd", "movnti", "pinsrw", "pextrw", "shufps/shufpd",
    "|cmpxchg8b|||||rdrand|rdseed", "bswap", "bswap", "bswap", "bswap", "bswap", "bswap", "bswap", "bswap",
    // D0
    "/addsubpd//addsubps", "psrlw", "psrld", "psrlq", "paddq", "pmullw", "/movq/movq2dq/movdq2q", "pmovmskb",
    "psubusb", "psubusw", "pminub", "pand", "paddusb", "paddusw", "pmaxub", "pandn",
    // E0
    "pavgb", "psraw", "psrad", "pavgw", "pmulhuw", "pmulhw", "/cvttpd2dq/cvtdq2pd/cvtpd2dq", "movntq/movntdq",
    "psubsb", "psubsw", "pminsw", "por", "paddsb", "paddsw", "pmaxsw", "pxor",
    // F0
    "///lddqu", "psllw", "pslld", "psllq", "pmuludq", "pmaddwd", "psadbw", "maskmovq/maskmovdqu", "psubb", "psubw",
    "psubd", "psubq", "paddb", "paddw", "paddd", "ud0",
};

// 0F 38 and 0F 3A: the SSSE3 to SSE4.2 instructions and the VEX-only ones
// compilers and the C library use.
std::string_view ThreeByte38(std::uint8_t op, bool vex) {
  switch (op) {
    case 0x00: return "pshufb"; case 0x01: return "phaddw"; case 0x02: return "phaddd"; case 0x03: return "phaddsw";
    case 0x04: return "pmaddubsw"; case 0x05: return "phsubw"; case 0x06: return "phsubd"; case 0x07: return "phsubsw";
    case 0x08: return "psignb"; case 0x09: return "psignw"; case 0x0A: return "psignd"; case 0x0B: return "pmulhrsw";
    case 0x0C: return vex ? "permilps" : ""; case 0x0D: return vex ? "permilpd" : "";
    case 0x10: return "pblendvb"; case 0x14: return "blendvps"; case 0x15: return "blendvpd";
    case 0x13: return vex ? "cvtph2ps" : "";
    case 0x16: return vex ? "permps" : ""; case 0x17: return "ptest";
    case 0x18: return vex ? "broadcastss" : ""; case 0x19: return vex ? "broadcastsd" : "";
    case 0x1A: return vex ? "broadcastf128" : "";
    case 0x1C: return "pabsb"; case 0x1D: return "pabsw"; case 0x1E: return "pabsd";
    case 0x20: return "pmovsxbw"; case 0x21: return "pmovsxbd"; case 0x22: return "pmovsxbq";
    case 0x23: return "pmovsxwd"; case 0x24: return "pmovsxwq"; case 0x25: return "pmovsxdq";
    case 0x28: return "pmuldq"; case 0x29: return "pcmpeqq"; case 0x2A: return "movntdqa"; case 0x2B: return "packusdw";
    case 0x30: return "pmovzxbw"; case 0x31: return "pmovzxbd"; case 0x32: return "pmovzxbq";
    case 0x33: return "pmovzxwd"; case 0x34: return "pmovzxwq"; case 0x35: return "pmovzxdq";
    case 0x36: return vex ? "permd" : ""; case 0x37: return "pcmpgtq";
    case 0x38: return "pminsb"; case 0x39: return "pminsd"; case 0x3A: return "pminuw"; case 0x3B: return "pminud";
    case 0x3C: return "pmaxsb"; case 0x3D: return "pmaxsd"; case 0x3E: return "pmaxuw"; case 0x3F: return "pmaxud";
    case 0x40: return "pmulld"; case 0x41: return "phminposuw";
    case 0x45: return vex ? "psrlv" : ""; case 0x46: return vex ? "psravd" : ""; case 0x47: return vex ? "psllv" : "";
    case 0x58: return vex ? "pbroadcastd" : ""; case 0x59: return vex ? "pbroadcastq" : "";
    case 0x5A: return vex ? "broadcasti128" : "";
    case 0x78: return vex ? "pbroadcastb" : ""; case 0x79: return vex ? "pbroadcastw" : "";
    case 0x8C: return vex ? "pmaskmov" : ""; case 0x8E: return vex ? "pmaskmov" : "";
    case 0x90: return vex ? "pgatherd" : ""; case 0x92: return vex ? "gatherdp" : "";
    case 0xDB: return "aesimc"; case 0xDC: return "aesenc"; case 0xDD: return "aesenclast";
    case 0xDE: return "aesdec"; case 0xDF: return "aesdeclast";
    case 0xF0: case 0xF1: return vex ? "" : "movbe";
    default: return "";
  }
}

std::string_view ThreeByte3A(std::uint8_t op, bool vex) {
  switch (op) {
    case 0x00: return vex ? "permq" : ""; case 0x01: return vex ? "permpd" : ""; case 0x02: return vex ? "pblendd" : "";
    case 0x04: return vex ? "permilps" : ""; case 0x05: return vex ? "permilpd" : "";
    case 0x06: return vex ? "perm2f128" : "";
    case 0x08: return "roundps"; case 0x09: return "roundpd"; case 0x0A: return "roundss"; case 0x0B: return "roundsd";
    case 0x0C: return "blendps"; case 0x0D: return "blendpd"; case 0x0E: return "pblendw"; case 0x0F: return "palignr";
    case 0x14: return "pextrb"; case 0x15: return "pextrw"; case 0x16: return "pextrd"; case 0x17: return "extractps";
    case 0x1D: return vex ? "cvtps2ph" : "";
    case 0x18: return vex ? "insertf128" : ""; case 0x19: return vex ? "extractf128" : "";
    case 0x20: return "pinsrb"; case 0x21: return "insertps"; case 0x22: return "pinsrd";
    case 0x38: return vex ? "inserti128" : ""; case 0x39: return vex ? "extracti128" : "";
    case 0x25: return vex ? "pternlog" : "";
    case 0x40: return "dpps"; case 0x41: return "dppd"; case 0x42: return "mpsadbw"; case 0x44: return "pclmulqdq";
    case 0x46: return vex ? "perm2i128" : "";
    case 0x4A: return vex ? "blendvps" : ""; case 0x4B: return vex ? "blendvpd" : ""; case 0x4C: return vex ? "pblendvb" : "";
    case 0x60: return "pcmpestrm"; case 0x61: return "pcmpestri"; case 0x62: return "pcmpistrm"; case 0x63: return "pcmpistri";
    case 0xDF: return "aeskeygenassist";
    default: return "";
  }
}

// The scalar-integer VEX instructions (BMI1, BMI2) and the mask-register
// instructions carry no "v".
std::string VexInteger(const TDisAsmParts& d) {
  if (d.map == OpMap::Map0F) {
    const bool w = d.rex & 8;
    // Mask size: b with 66 and W0, w with no prefix and W0, d with 66 and W1
    // or F2 and W0, q with no prefix and W1 or F2 and W1.
    auto size = [&]() -> const char* {
      if (d.vexPP == 3) return w ? "q" : "d";
      if (d.vexPP == 1) return w ? "d" : "b";
      return w ? "q" : "w";
    };
    switch (d.opcode) {
      case 0x90: case 0x91: case 0x92: case 0x93: return std::string("kmov") + size();
      case 0x41: return std::string("kand") + size();
      case 0x42: return std::string("kandn") + size();
      case 0x44: return std::string("knot") + size();
      case 0x45: return std::string("kor") + size();
      case 0x46: return std::string("kxnor") + size();
      case 0x47: return std::string("kxor") + size();
      case 0x4A: return std::string("kadd") + size();
      case 0x4B: return d.vexPP == 1 ? "kunpckbw" : w ? "kunpckdq" : "kunpckwd";
      case 0x98: return std::string("kortest") + size();
      case 0x99: return std::string("ktest") + size();
      default: return {};
    }
  }
  if (d.map == OpMap::Map0F38) {
    switch (d.opcode) {
      case 0xF2: return d.vexPP == 0 ? "andn" : "";
      case 0xF3: return std::string(Piece("|blsr|blsmsk|blsi", '|', (d.modrm >> 3) & 7));
      case 0xF5: return d.vexPP == 0 ? "bzhi" : d.vexPP == 2 ? "pext" : d.vexPP == 3 ? "pdep" : "";
      case 0xF6: return d.vexPP == 3 ? "mulx" : "";
      case 0xF7: return d.vexPP == 0 ? "bextr" : d.vexPP == 1 ? "shlx" : d.vexPP == 2 ? "sarx" : "shrx";
      default: return "";
    }
  }
  if (d.map == OpMap::Map0F3A && d.opcode == 0xF0 && d.vexPP == 3) return "rorx";
  return "";
}

// The fused multiply-adds of 0F 38 96..BF and the masked moves 2C..2F.
std::string VexFusedMultiplyAdd(const TDisAsmParts& d) {
  const std::uint8_t op = d.opcode;
  const bool w = d.rex & 8;
  if (op >= 0x2C && op <= 0x2F) return std::string("maskmov") + (op & 1 ? "pd" : "ps");
  if (op < 0x96 || op > 0xBF || (op & 15) < 6 || d.vexPP != 1) return {};
  static constexpr const char* kKinds[10] = {"fmaddsub", "fmsubadd", "fmadd", "fmadd", "fmsub",
                                             "fmsub",    "fnmadd",   "fnmadd", "fnmsub", "fnmsub"};
  const unsigned kind = (op & 15) - 6;
  const char* order = (op >> 4) == 9 ? "132" : (op >> 4) == 0xA ? "213" : "231";
  const bool scalar = kind >= 2 && (kind & 1);
  return std::string(kKinds[kind]) + order + (scalar ? (w ? "sd" : "ss") : (w ? "pd" : "ps"));
}

// x87: memory forms by opcode and reg, register forms by opcode and reg.
std::string X87(const TDisAsmParts& d) {
  static constexpr const char* kMemory[8] = {
      "add|mul|com|comp|sub|subr|div|divr",      "ld||st|stp|ldenv|ldcw|nstenv|nstcw",
      "iadd|imul|icom|icomp|isub|isubr|idiv|idivr", "ild|isttp|ist|istp||ld||stp",
      "add|mul|com|comp|sub|subr|div|divr",      "ld|isttp|st|stp|rstor||nsave|nstsw",
      "iadd|imul|icom|icomp|isub|isubr|idiv|idivr", "ild|isttp|ist|istp|bld|ild|bstp|istp"};
  static constexpr const char* kRegister[8] = {
      "add|mul|com|comp|sub|subr|div|divr",     "ld|xch|nop||||||",
      "cmovb|cmove|cmovbe|cmovu||ucompp||",     "cmovnb|cmovne|cmovnbe|cmovnu||ucomi|comi|",
      "add|mul|com|comp|subr|sub|divr|div",     "free|xch|st|stp|ucom|ucomp||",
      "addp|mulp||compp|subrp|subp|divrp|divp", "freep||||nstsw|ucomip|comip|"};
  unsigned row = d.opcode - 0xD8;
  std::string_view name = Piece(d.mod == 3 ? kRegister[row] : kMemory[row], '|', (d.modrm >> 3) & 7);
  if (d.mod == 3 && row == 1 && ((d.modrm >> 3) & 7) >= 4) {
    static constexpr const char* kD9[32] = {"chs", "abs", "", "", "tst", "xam", "", "",
                                            "ld1", "ldl2t", "ldl2e", "ldpi", "ldlg2", "ldln2", "ldz", "",
                                            "2xm1", "yl2x", "ptan", "patan", "xtract", "prem1", "decstp", "incstp",
                                            "prem", "yl2xp1", "sqrt", "sincos", "rndint", "scale", "sin", "cos"};
    name = kD9[d.modrm - 0xE0];
  }
  if (d.mod == 3 && row == 3 && d.modrm == 0xE2) name = "nclex";
  if (d.mod == 3 && row == 3 && d.modrm == 0xE3) name = "ninit";
  if (d.mod == 3 && row == 7 && d.modrm == 0xE0) name = "nstsw";
  if (name.empty()) return {};
  return "f" + std::string(name);
}

const char* StringSuffix(const TDisAsmParts& d) {
  return d.operandSize == 8 ? "q" : d.operandSize == 2 ? "w" : "d";
}

}  // namespace

std::string Mnemonic(const TDisAsmParts& d) {
  if (d.length == 0) return {};
  const std::uint8_t op = d.opcode;
  if (d.encoding != Encoding::Legacy) {
    std::string integer = d.encoding == Encoding::Vex ? VexInteger(d) : std::string();
    if (!integer.empty()) return integer;
    std::string base;
    switch (d.map) {
      case OpMap::Map0F:
        if (op == 0x77) return d.vexL ? "vzeroall" : "vzeroupper";
        base = Expand(kTwoByte[op], d);
        break;
      case OpMap::Map0F38:
        base = std::string(ThreeByte38(op, true));
        if (base.empty() && d.encoding == Encoding::Vex) base = VexFusedMultiplyAdd(d);
        break;
      case OpMap::Map0F3A: base = std::string(ThreeByte3A(op, true)); break;
      default: break;
    }
    if (base.empty()) return {};
    // The q/d choice of movd/movq and of the variable shifts follows W.
    bool w = d.rex & 8;
    if (d.map == OpMap::Map0F && (op == 0x6E || op == 0x7E) && d.vexPP == 1) base = w ? "movq" : "movd";
    if (d.map == OpMap::Map0F3A && op == 0x25) base += w ? "q" : "d";
    if (d.map == OpMap::Map0F38 && (op == 0x45 || op == 0x47 || op == 0x8C || op == 0x8E || op == 0x90 || op == 0x92))
      base += w ? (op == 0x92 ? "d" : "q") : (op == 0x92 ? "s" : "d");
    return "v" + base;
  }
  switch (d.map) {
    case OpMap::OneByte: {
      if (op >= 0xD8 && op <= 0xDF) return X87(d);
      switch (op) {
        case 0x90:
          if (d.rex & 1) return "xchg";
          return d.lastRepPrefix == 0xF3 ? "pause" : "nop";
        case 0x98: return d.operandSize == 8 ? "cdqe" : d.operandSize == 2 ? "cbw" : "cwde";
        case 0x99: return d.operandSize == 8 ? "cqo" : d.operandSize == 2 ? "cwd" : "cdq";
        case 0x9C: return d.operandSize == 2 ? "pushf" : "pushfq";
        case 0x9D: return d.operandSize == 2 ? "popf" : "popfq";
        case 0xA5: return std::string("movs") + StringSuffix(d);
        case 0xA7: return std::string("cmps") + StringSuffix(d);
        case 0xAB: return std::string("stos") + StringSuffix(d);
        case 0xAD: return std::string("lods") + StringSuffix(d);
        case 0xAF: return std::string("scas") + StringSuffix(d);
        case 0xC6: return d.modrm == 0xF8 ? "xabort" : "mov";
        case 0xC7: return d.modrm == 0xF8 ? "xbegin" : "mov";
        case 0xCF: return d.operandSize == 8 ? "iretq" : "iretd";
        case 0xE3: return d.addressSize32 ? "jecxz" : "jrcxz";
        default: return Expand(kOneByte[op], d);
      }
    }
    case OpMap::Map0F:
      if (op == 0x01 && d.mod == 3) {
        switch (d.modrm) {
          case 0xC1: return "vmcall"; case 0xC2: return "vmlaunch"; case 0xC3: return "vmresume";
          case 0xC4: return "vmxoff"; case 0xC8: return "monitor"; case 0xC9: return "mwait";
          case 0xCA: return "clac"; case 0xCB: return "stac"; case 0xD0: return "xgetbv"; case 0xD1: return "xsetbv";
          case 0xEE: return "rdpkru"; case 0xEF: return "wrpkru";
          case 0xD5: return "xend"; case 0xD6: return "xtest"; case 0xF8: return "swapgs"; case 0xF9: return "rdtscp";
          default: return {};
        }
      }
      if (op == 0xC7 && d.rex & 8 && ((d.modrm >> 3) & 7) == 1) return "cmpxchg16b";
      if (op == 0xAE && d.mod == 3) {
        if (d.lastRepPrefix == 0xF3)
          return std::string(Piece("rdfsbase|rdgsbase|wrfsbase|wrgsbase", '|', (d.modrm >> 3) & 7));
        return std::string(Piece("|||||lfence|mfence|sfence", '|', (d.modrm >> 3) & 7));
      }
      if ((op == 0x12 || op == 0x16) && d.mod == 3 && PrefixChoice(d) == 0) return op == 0x12 ? "movhlps" : "movlhps";
      if ((op == 0x6E || op == 0x7E) && (d.rex & 8) && d.lastRepPrefix != 0xF3) return "movq";
      if (op == 0x1E && d.lastRepPrefix == 0xF3 && d.mod == 3) return d.modrm == 0xFA ? "endbr64" : d.modrm == 0xFB ? "endbr32" : "nop";
      return Expand(kTwoByte[op], d);
    case OpMap::Map0F38:
      if (d.lastRepPrefix == 0xF2 && (op == 0xF0 || op == 0xF1)) return "crc32";
      return std::string(ThreeByte38(op, false));
    case OpMap::Map0F3A: return std::string(ThreeByte3A(op, false));
    case OpMap::Map3DNow: {
      switch (std::uint8_t(d.imm)) {
        case 0x0D: return "pi2fd"; case 0x1D: return "pf2id"; case 0x90: return "pfcmpge"; case 0x94: return "pfmin";
        case 0x96: return "pfrcp"; case 0x97: return "pfrsqrt"; case 0x9A: return "pfsub"; case 0x9E: return "pfadd";
        case 0xA0: return "pfcmpgt"; case 0xA4: return "pfmax"; case 0xA6: return "pfrcpit1"; case 0xA7: return "pfrsqit1";
        case 0xAA: return "pfsubr"; case 0xAE: return "pfacc"; case 0xB0: return "pfcmpeq"; case 0xB4: return "pfmul";
        case 0xB6: return "pfrcpit2"; case 0xB7: return "pmulhrw"; case 0xBF: return "pavgusb";
        default: return {};
      }
    }
    default: return {};
  }
}

}  // namespace zeb

// Intel-syntax operands of decoded instructions: one table of operand codes
// for the general-purpose one-byte and 0F opcodes, the x87 forms, and the
// register/memory pattern of the vector instructions.
#include <cstdio>

#include "crashreport/zebDisAsmText.h"

namespace zeb {

namespace {

const char* const kReg64[16] = {"rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi",
                                "r8",  "r9",  "r10", "r11", "r12", "r13", "r14", "r15"};
const char* const kReg32[16] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi",
                                "r8d", "r9d", "r10d", "r11d", "r12d", "r13d", "r14d", "r15d"};
const char* const kReg16[16] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di",
                                "r8w", "r9w", "r10w", "r11w", "r12w", "r13w", "r14w", "r15w"};
const char* const kReg8Rex[16] = {"al", "cl", "dl", "bl", "spl", "bpl", "sil", "dil",
                                  "r8b", "r9b", "r10b", "r11b", "r12b", "r13b", "r14b", "r15b"};
const char* const kReg8[8] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char* const kSegments[8] = {"es", "cs", "ss", "ds", "fs", "gs", "?", "?"};

std::string Hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "$%llx", static_cast<unsigned long long>(v));
  return buf;
}

}  // namespace

std::string FormatNumber(std::uint64_t v) { return v <= 9 ? std::to_string(v) : Hex(v); }

std::string FormatSigned(std::int64_t v) {
  if (v >= -9 && v <= 9) return std::to_string(v);
  return v < 0 ? "-" + Hex(0 - std::uint64_t(v)) : Hex(std::uint64_t(v));
}

std::string RegisterName(unsigned r, unsigned size, bool rex) {
  r &= 15;
  switch (size) {
    case 8: return kReg64[r];
    case 4: return kReg32[r];
    case 2: return kReg16[r];
    case 1: return rex ? kReg8Rex[r] : (r < 8 ? kReg8[r] : kReg8Rex[r]);
    default: return "?";
  }
}

namespace {

std::string SizeKeyword(unsigned size) {
  switch (size) {
    case 1: return "byte ptr ";
    case 2: return "word ptr ";
    case 4: return "dword ptr ";
    case 8: return "qword ptr ";
    case 10: return "tbyte ptr ";
    case 16: return "oword ptr ";
    case 32: return "yword ptr ";
    case 64: return "zword ptr ";
    default: return {};
  }
}

std::string VectorRegister(const TDisAsmParts& d, unsigned r, unsigned bytes) {
  const char* kind = bytes == 64 ? "zmm" : bytes == 32 ? "ymm" : "xmm";
  return kind + std::to_string(r & 31);
}

}  // namespace

std::string MemoryOperand(const TDisAsmParts& d, std::uint64_t next, unsigned size, std::uint64_t* ripTarget) {
  std::string out = SizeKeyword(size);
  if (d.segment) {
    static const char* const kPrefixNames[] = {"es:", "cs:", "ss:", "ds:", "fs:", "gs:"};
    const std::uint8_t segs[] = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65};
    for (int i = 0; i < 6; ++i)
      if (segs[i] == d.segment) out += kPrefixNames[i];
  }
  const unsigned addrSize = d.addressSize32 ? 4 : 8;
  std::string inner;
  std::int64_t disp = d.disp;
  if (d.ripRelative) {
    inner = "rip";
    if (ripTarget) *ripTarget = next + std::uint64_t(disp);
  } else {
    bool noBase = d.hasSib && (d.base & 7) == 5 && d.mod == 0;
    if (!d.hasSib) inner = RegisterName(d.rm, addrSize, true);
    else if (!noBase) inner = RegisterName(d.base, addrSize, true);
    if (d.hasSib && d.index != 4) {
      if (!inner.empty()) inner += "+";
      inner += RegisterName(d.index, addrSize, true);
      if (d.scale > 1) inner += "*" + std::to_string(d.scale);
    }
    if (inner.empty()) return out + "[" + FormatNumber(std::uint64_t(std::uint32_t(disp))) + "]";
  }
  if (disp > 0) inner += "+" + FormatNumber(std::uint64_t(disp));
  if (disp < 0) inner += "-" + FormatNumber(0 - std::uint64_t(disp));
  return out + "[" + inner + "]";
}

namespace {

// Operand codes of the one-byte map: E = ModRM r/m, G = ModRM reg, I =
// immediate, J = relative, Z = register in the opcode, A = the accumulator,
// O = memory offset, M = memory only, S = segment register; b/w/d/q/v = byte,
// word, dword, qword, operand size; "1" and "cl" stand for themselves.
const char* OneByteOperands(std::uint8_t op, unsigned reg) {
  if (op < 0x40 && (op & 7) < 6) {
    static const char* const kAlu[6] = {"Eb,Gb", "Ev,Gv", "Gb,Eb", "Gv,Ev", "Ab,Ib", "Av,Iz"};
    return kAlu[op & 7];
  }
  if (op >= 0x50 && op <= 0x5F) return "Zq";
  if (op >= 0x70 && op <= 0x7F) return "Jb";
  if (op >= 0x91 && op <= 0x97) return "Zv,Av";
  if (op >= 0xB0 && op <= 0xB7) return "Zb,Ib";
  if (op >= 0xB8 && op <= 0xBF) return "Zv,Iv";
  switch (op) {
    case 0x63: return "Gv,Ed";
    case 0x68: return "Iz";
    case 0x69: return "Gv,Ev,Iz";
    case 0x6A: return "Ib";
    case 0x6B: return "Gv,Ev,Ib";
    case 0x80: return "Eb,Ib";
    case 0x81: return "Ev,Iz";
    case 0x83: return "Ev,Ib";
    case 0x84: case 0x86: case 0x88: return "Eb,Gb";
    case 0x85: case 0x87: case 0x89: return "Ev,Gv";
    case 0x8A: return "Gb,Eb";
    case 0x8B: return "Gv,Ev";
    case 0x8C: return "Ew,Sw";
    case 0x8D: return "Gv,M";
    case 0x8E: return "Sw,Ew";
    case 0x8F: return "Eq";
    case 0xA0: return "Ab,Ob";
    case 0xA1: return "Av,Ov";
    case 0xA2: return "Ob,Ab";
    case 0xA3: return "Ov,Av";
    case 0xA8: return "Ab,Ib";
    case 0xA9: return "Av,Iz";
    case 0xC0: return "Eb,Ib";
    case 0xC1: return "Ev,Ib";
    case 0xC2: case 0xCA: return "Iw";
    case 0xC6: return reg == 0 ? "Eb,Ib" : "Ib";
    case 0xC7: return reg == 0 ? "Ev,Iz" : "Jz";
    case 0xC8: return "enter";
    case 0xCD: return "Ib";
    case 0xD0: return "Eb,1";
    case 0xD1: return "Ev,1";
    case 0xD2: return "Eb,cl";
    case 0xD3: return "Ev,cl";
    case 0xE0: case 0xE1: case 0xE2: case 0xE3: case 0xEB: return "Jb";
    case 0xE4: return "Ab,Ib";
    case 0xE5: return "Ad,Ib";
    case 0xE6: return "Ib,Ab";
    case 0xE7: return "Ib,Ad";
    case 0xE8: case 0xE9: return "Jz";
    case 0xEC: return "Ab,dx";
    case 0xED: return "Ad,dx";
    case 0xEE: return "dx,Ab";
    case 0xEF: return "dx,Ad";
    case 0xF6: return reg < 2 ? "Eb,Ib" : "Eb";
    case 0xF7: return reg < 2 ? "Ev,Iz" : "Ev";
    case 0xFE: return "Eb";
    case 0xFF: return reg == 2 || reg == 4 || reg == 6 ? "Eq" : reg == 3 || reg == 5 ? "M" : "Ev";
    default: return "";
  }
}

// General-purpose opcodes of the 0F map; nullptr for the vector ones.
const char* TwoByteOperands(std::uint8_t op, unsigned reg) {
  if (op >= 0x40 && op <= 0x4F) return "Gv,Ev";
  if (op >= 0x80 && op <= 0x8F) return "Jz";
  if (op >= 0x90 && op <= 0x9F) return "Eb";
  if (op >= 0xC8 && op <= 0xCF) return "Zv";
  switch (op) {
    case 0x05: case 0x06: case 0x07: case 0x08: case 0x09: case 0x0B: case 0x0E: case 0x30: case 0x31:
    case 0x32: case 0x33: case 0x34: case 0x35: case 0x37: case 0x77: case 0xA2: case 0xAA:
      return "";
    case 0x00: return "Ew";
    case 0x01: return "M";
    case 0x0D: case 0x18: return "M";
    case 0x19: case 0x1A: case 0x1B: case 0x1C: case 0x1D: case 0x1E: case 0x1F: return "Ev";
    case 0xA0: case 0xA8: return "fs";
    case 0xA1: case 0xA9: return "gs";
    case 0xA3: case 0xAB: case 0xB3: case 0xBB: return "Ev,Gv";
    case 0xA4: case 0xAC: return "Ev,Gv,Ib";
    case 0xA5: case 0xAD: return "Ev,Gv,cl";
    case 0xAE: return "M";
    case 0xAF: return "Gv,Ev";
    case 0xB0: case 0xC0: return "Eb,Gb";
    case 0xB1: case 0xC1: return "Ev,Gv";
    case 0xB6: case 0xBE: return "Gv,Eb";
    case 0xB7: case 0xBF: return "Gv,Ew";
    case 0xB8: case 0xBC: case 0xBD: return "Gv,Ev";
    case 0xBA: return "Ev,Ib";
    case 0xC3: return "Ev,Gv";
    case 0xC7: return reg == 6 || reg == 7 ? "Ev" : "M";
    default: return nullptr;
  }
}

// Whether a VEX/EVEX instruction names the extra source register vvvv: the
// moves, conversions, broadcasts, extractions and one-source operations
// leave it unused.
bool UsesVvvv(const TDisAsmParts& d) {
  const std::uint8_t op = d.opcode;
  switch (d.map) {
    case OpMap::Map0F:
      if (op == 0x10 || op == 0x11) return d.vexPP >= 2 && d.mod == 3;  // scalar register moves merge
      if (op == 0x12 || op == 0x16) return d.vexPP <= 1 && (d.mod != 3 || d.vexPP == 0) ? d.vexPP <= 1 : false;
      switch (op) {
        case 0x13: case 0x17: case 0x28: case 0x29: case 0x2B: case 0x2C: case 0x2D: case 0x2E: case 0x2F:
        case 0x50: case 0x51: case 0x52: case 0x53: case 0x5B: case 0x6E: case 0x6F: case 0x70: case 0x7E:
        case 0x7F: case 0xC5: case 0xD6: case 0xD7: case 0xE6: case 0xE7: case 0xF0: case 0xF7:
          return op == 0x51 || op == 0x52 || op == 0x53 ? d.vexPP >= 2 : false;
        case 0x5A:
          return d.vexPP >= 2;
        default:
          return true;
      }
    case OpMap::Map0F38:
      switch (op) {
        case 0x13: case 0x17: case 0x18: case 0x19: case 0x1A: case 0x1C: case 0x1D: case 0x1E: case 0x2A:
        case 0x58: case 0x59: case 0x5A: case 0x78: case 0x79:
          return false;
        default:
          return !(op >= 0x20 && op <= 0x25) && !(op >= 0x30 && op <= 0x35);
      }
    case OpMap::Map0F3A:
      switch (op) {
        case 0x00: case 0x01: case 0x04: case 0x05: case 0x08: case 0x09: case 0x14: case 0x15: case 0x16:
        case 0x17: case 0x19: case 0x1D: case 0x39: case 0x60: case 0x61: case 0x62: case 0x63: case 0xDF:
          return false;
        default:
          return true;
      }
    default:
      return true;
  }
}

}  // namespace

std::vector<std::string> FormatOperands(const TDisAsmParts& d, const CodeInfo& info, const std::string& mnemonic,
                                        std::uint64_t* ripTarget) {
  std::vector<std::string> out;
  const bool rex = d.rex != 0;
  const unsigned osize = d.operandSize;
  const unsigned reg = (d.modrm >> 3) & 7;
  auto rm = [&](unsigned size, bool withSize) {
    if (d.mod == 3) return RegisterName(d.rm, size, rex);
    return MemoryOperand(d, info.next, withSize ? size : 0, ripTarget);
  };
  auto sizeOf = [&](char c) -> unsigned {
    switch (c) {
      case 'b': return 1;
      case 'w': return 2;
      case 'd': return 4;
      case 'q': return 8;
      default: return osize;
    }
  };
  auto relative = [&]() {
    std::int64_t disp = d.imm;
    std::string s = disp > 0 ? "+" + FormatSigned(disp) : FormatSigned(disp);
    char buf[32];
    std::snprintf(buf, sizeof buf, " ($%llx)", static_cast<unsigned long long>(info.next + std::uint64_t(disp)));
    return s + buf;
  };
  const char* codes = nullptr;
  if (d.encoding == Encoding::Legacy && d.map == OpMap::OneByte) {
    if (d.opcode >= 0xD8 && d.opcode <= 0xDF) {
      const unsigned row = d.opcode - 0xD8;
      if (d.mod != 3) {
        static const unsigned kSizes[8][8] = {{4, 4, 4, 4, 4, 4, 4, 4}, {4, 0, 4, 4, 0, 2, 0, 2},
                                              {4, 4, 4, 4, 4, 4, 4, 4}, {4, 4, 4, 4, 0, 10, 0, 10},
                                              {8, 8, 8, 8, 8, 8, 8, 8}, {8, 8, 8, 8, 0, 0, 0, 2},
                                              {2, 2, 2, 2, 2, 2, 2, 2}, {2, 2, 2, 2, 10, 8, 10, 8}};
        out.push_back(MemoryOperand(d, info.next, kSizes[row][reg], ripTarget));
        return out;
      }
      const std::string sti = "st(" + std::to_string(d.modrm & 7) + ")";
      if (row == 1 && reg >= 4) return out;
      if (row == 3 && (d.modrm == 0xE2 || d.modrm == 0xE3)) return out;
      if (row == 7 && d.modrm == 0xE0) return {"ax"};
      if (row == 0 || row == 2 || (row == 3 && reg != 4) || (row == 7 && reg >= 5)) return {"st", sti};
      if (row == 4 || row == 6) return {sti, "st"};
      out.push_back(sti);
      return out;
    }
    codes = OneByteOperands(d.opcode, reg);
  } else if (d.encoding == Encoding::Legacy && d.map == OpMap::Map0F) {
    codes = TwoByteOperands(d.opcode, reg);
  }
  if (codes) {
    std::string c(codes);
    if (c == "enter") return {Hex(std::uint64_t(std::uint16_t(d.imm))), Hex(std::uint64_t(std::uint8_t(d.imm2)))};
    for (std::size_t at = 0; at < c.size();) {
      std::size_t comma = c.find(',', at);
      std::string code = c.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
      at = comma == std::string::npos ? c.size() : comma + 1;
      const char kind = code[0];
      const char sz = code.size() > 1 ? code[1] : 'v';
      if (code == "1" || code == "cl" || code == "dx" || code == "fs" || code == "gs") {
        out.push_back(code);
      } else if (kind == 'E') {
        // The size keyword is needed when no register operand implies it.
        bool implied = c.find('G') != std::string::npos || c.find('Z') != std::string::npos;
        out.push_back(rm(sizeOf(sz), !implied || d.opcode == 0x63 || d.opcode == 0xB6 || d.opcode == 0xB7 ||
                                          d.opcode == 0xBE || d.opcode == 0xBF));
      } else if (kind == 'M') {
        out.push_back(d.mod == 3 ? RegisterName(d.rm, 8, rex) : MemoryOperand(d, info.next, 0, ripTarget));
      } else if (kind == 'G') {
        out.push_back(RegisterName(d.reg, sizeOf(sz), rex));
      } else if (kind == 'Z') {
        out.push_back(RegisterName((d.opcode & 7) | ((d.rex & 1) << 3), sizeOf(sz), rex));
      } else if (kind == 'A') {
        out.push_back(RegisterName(0, sizeOf(sz), rex));
      } else if (kind == 'S') {
        out.push_back(kSegments[reg]);
      } else if (kind == 'O') {
        out.push_back(std::string(d.segment ? "" : "") + "[" + FormatNumber(std::uint64_t(d.imm)) + "]");
      } else if (kind == 'J') {
        out.push_back(relative());
      } else if (kind == 'I') {
        const bool signedImm = d.map == OpMap::OneByte &&
                               (d.opcode == 0x69 || d.opcode == 0x6B || (d.opcode >= 0x80 && d.opcode <= 0x83) ||
                                d.opcode == 0x6A);
        std::uint64_t mask = d.immSize >= 8 ? ~std::uint64_t(0) : ((std::uint64_t(1) << (d.immSize * 8)) - 1);
        out.push_back(signedImm ? FormatSigned(d.imm) : FormatNumber(std::uint64_t(d.imm) & mask));
      }
    }
    return out;
  }
  // The general-purpose instructions of the 0F 38 / 0F 3A maps and of VEX.
  {
    const unsigned gsize = (d.rex & 8) ? 8 : 4;
    auto g = [&](unsigned r) { return RegisterName(r, gsize, rex); };
    auto e = [&](unsigned size) {
      return d.mod == 3 ? RegisterName(d.rm, size, rex) : MemoryOperand(d, info.next, size, ripTarget);
    };
    if (d.encoding == Encoding::Legacy && d.map == OpMap::Map0F38 && (d.opcode == 0xF0 || d.opcode == 0xF1)) {
      if (d.lastRepPrefix == 0xF2) return {g(d.reg), e(d.opcode == 0xF0 ? 1 : osize)};  // crc32
      if (d.opcode == 0xF0) return {RegisterName(d.reg, osize, rex), e(osize)};          // movbe load
      return {e(osize), RegisterName(d.reg, osize, rex)};
    }
    if (d.encoding == Encoding::Vex && d.map == OpMap::Map0F38 && d.opcode >= 0xF2 && d.opcode <= 0xF7) {
      const std::uint8_t op = d.opcode;
      if (op == 0xF3) return {g(d.vvvv), e(gsize)};
      if (op == 0xF7 || (op == 0xF5 && d.vexPP == 0)) return {g(d.reg), e(gsize), g(d.vvvv)};
      return {g(d.reg), g(d.vvvv), e(gsize)};
    }
    if (d.encoding == Encoding::Vex && d.map == OpMap::Map0F3A && d.opcode == 0xF0)
      return {g(d.reg), e(gsize), FormatNumber(std::uint64_t(std::uint8_t(d.imm)))};
  }
  // Vector instructions: destination register, the VEX extra source when
  // there is one, then the register or memory operand, then an immediate.
  if (!d.hasModRM) return out;
  const unsigned vbytes = d.encoding == Encoding::Evex ? (16u << d.vexL) : d.encoding == Encoding::Vex ? (16u << d.vexL) : 16u;
  unsigned memSize = vbytes;
  auto ends = [&](const char* tail) {
    return mnemonic.size() > 2 && mnemonic.compare(mnemonic.size() - 2, 2, tail) == 0;
  };
  if (ends("ss") || mnemonic.find("movd") != std::string::npos) memSize = 4;
  if (ends("sd") || mnemonic == "movq" || mnemonic == "vmovq" || mnemonic.find("movlp") != std::string::npos ||
      mnemonic.find("movhp") != std::string::npos)
    memSize = 8;
  const bool mmx = d.encoding == Encoding::Legacy && d.map != OpMap::Map0F38 && d.map != OpMap::Map0F3A &&
                   !(d.prefixes & kPrefixOpSize) && d.lastRepPrefix == 0 && d.opcode >= 0x60 && d.opcode != 0x77;
  auto regName = [&](unsigned r) { return mmx ? "mm" + std::to_string(r & 7) : VectorRegister(d, r, vbytes); };
  // Broadcasts, widening moves and 128-bit lane inserts take an xmm source.
  bool xmmSource = false, lane = false;
  if (d.encoding != Encoding::Legacy && d.map == OpMap::Map0F38) {
    const std::uint8_t op = d.opcode;
    xmmSource = op == 0x18 || op == 0x19 || op == 0x58 || op == 0x59 || op == 0x78 || op == 0x79 ||
                (op >= 0x20 && op <= 0x25) || (op >= 0x30 && op <= 0x35) || op == 0x13;
    if (xmmSource && d.mod != 3) {
      static const unsigned kWidening[6] = {8, 4, 2, 8, 4, 8};
      if ((op >= 0x20 && op <= 0x25) || (op >= 0x30 && op <= 0x35)) memSize = kWidening[op & 7] * (vbytes / 16);
      else if (op == 0x78) memSize = 1;
      else if (op == 0x79) memSize = 2;
      else if (op == 0x18 || op == 0x58) memSize = 4;
      else if (op == 0x13) memSize = vbytes / 2;
      else memSize = 8;
    }
  }
  if (d.encoding != Encoding::Legacy && d.map == OpMap::Map0F3A &&
      (d.opcode == 0x18 || d.opcode == 0x38 || d.opcode == 0x19 || d.opcode == 0x39)) {
    xmmSource = true;
    lane = d.opcode == 0x19 || d.opcode == 0x39;
    if (d.mod != 3) memSize = 16;
  }
  std::string first = regName(d.reg);
  std::string second = d.mod == 3 ? (xmmSource ? VectorRegister(d, d.rm, 16) : regName(d.rm))
                                  : MemoryOperand(d, info.next, memSize, ripTarget);
  if (lane) {
    // vextract*128: the lane goes to the r/m operand.
    return {second, first, FormatNumber(std::uint64_t(std::uint8_t(d.imm)))};
  }
  const bool store = d.map == OpMap::Map0F &&
                     (d.opcode == 0x11 || d.opcode == 0x13 || d.opcode == 0x17 || d.opcode == 0x29 ||
                      d.opcode == 0x2B || d.opcode == 0x7F || d.opcode == 0xD6 || d.opcode == 0xE7 ||
                      (d.opcode == 0x7E && PrefixIs66OrNone(d)));
  if (d.map == OpMap::Map0F && (d.opcode == 0x6E || d.opcode == 0x7E) && d.lastRepPrefix != 0xF3) {
    // movd/movq between a vector and a general register.
    unsigned gsize = (d.rex & 8) ? 8 : 4;
    second = d.mod == 3 ? RegisterName(d.rm, gsize, rex) : MemoryOperand(d, info.next, gsize, ripTarget);
  }
  if (d.map == OpMap::Map0F) {
    const unsigned gsize = (d.rex & 8) ? 8 : 4;
    const unsigned pfx = d.encoding == Encoding::Legacy ? (d.lastRepPrefix == 0xF3 ? 2 : d.lastRepPrefix == 0xF2 ? 3 : 0)
                                                        : d.vexPP;
    // Mask extraction and word extraction write a general register.
    if (d.opcode == 0xD7 || d.opcode == 0x50 || d.opcode == 0xC5) first = RegisterName(d.reg, gsize, rex);
    // Conversions between a general register and a scalar.
    if (d.opcode == 0x2A && pfx >= 2)
      second = d.mod == 3 ? RegisterName(d.rm, gsize, rex) : MemoryOperand(d, info.next, gsize, ripTarget);
    if ((d.opcode == 0x2C || d.opcode == 0x2D) && pfx >= 2) first = RegisterName(d.reg, gsize, rex);
  }
  if (store) out = {second, first};
  else out = {first, second};
  // Shifts by an immediate (0F 71..73): the r/m register is shifted, reg is
  // part of the opcode; under VEX vvvv is the destination.
  if (d.map == OpMap::Map0F && d.opcode >= 0x71 && d.opcode <= 0x73) {
    out = {regName(d.rm)};
    if (d.encoding != Encoding::Legacy) out.insert(out.begin(), VectorRegister(d, d.vvvv, vbytes));
  } else if (d.encoding != Encoding::Legacy && UsesVvvv(d)) {
    out.insert(out.begin() + 1, VectorRegister(d, d.vvvv, vbytes));
  }
  if (d.immSize) out.push_back(FormatNumber(std::uint64_t(std::uint8_t(d.imm))));
  return out;
}

bool PrefixIs66OrNone(const TDisAsmParts& d) { return d.lastRepPrefix == 0; }

}  // namespace zeb

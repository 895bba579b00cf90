#include "crashreport/zebDisAsm.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zeb {

// ---- Read guard ---------------------------------------------------------------

std::size_t TDATryRead::ReadableFrom(std::uint64_t address, std::size_t max) const {
  auto it = std::upper_bound(ranges.begin(), ranges.end(), address,
                             [](std::uint64_t a, const TDATryRange& r) { return a < r.end; });
  if (it == ranges.end() || address < it->start || !it->readable) return 0;
  std::uint64_t left = it->end - address;
  return left < max ? std::size_t(left) : max;
}

TDATryRead ReadGuardFromMaps(const std::string& mapsText) {
  TDATryRead guard;
  std::istringstream in(mapsText);
  std::string line;
  std::uint64_t covered = 0;
  auto add = [&](std::uint64_t start, std::uint64_t end, bool readable) {
    if (end <= start) return;
    if (!guard.ranges.empty() && guard.ranges.back().readable == readable && guard.ranges.back().end == start) {
      guard.ranges.back().end = end;
    } else {
      guard.ranges.push_back({start, end, readable});
    }
  };
  while (std::getline(in, line)) {
    unsigned long long start = 0, end = 0;
    char perms[8] = {};
    if (std::sscanf(line.c_str(), "%llx-%llx %7s", &start, &end, perms) != 3) continue;
    if (start < covered || end <= start) continue;  // out of order or empty: ignore
    add(covered, start, false);
    add(start, end, perms[0] == 'r');
    covered = end;
  }
  add(covered, ~std::uint64_t(0), false);
  return guard;
}

TDATryRead ReadGuardStart() {
  std::ifstream in("/proc/self/maps");
  std::stringstream text;
  text << in.rdbuf();
  return ReadGuardFromMaps(text.str());
}

bool SafeRead(std::uint64_t source, void* destination, std::size_t count, const TDATryRead* guard) {
  if (source == 0) return false;
  if (count == 0) return true;
  if (guard && guard->ReadableFrom(source, count) < count) return false;
  iovec local{destination, count};
  iovec remote{reinterpret_cast<void*>(source), count};
  ssize_t got = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
  return got == ssize_t(count);
}

bool TRegState::operator==(const TRegState& o) const {
  if (known != o.known) return false;
  for (unsigned r = 0; r < 16; ++r)
    if (Known(r) && value[r] != o.value[r]) return false;
  return true;
}

// ---- Opcode properties --------------------------------------------------------

namespace {

// Immediate kinds.
enum Imm : std::uint8_t {
  I0,     // none
  IB,     // 1 byte
  IW,     // 2 bytes
  IZ,     // 2 with 66, else 4
  IV,     // 2, 4 or 8 by operand size (mov r, imm)
  IWB,    // enter: 2 + 1
  IMOFF,  // memory offset of A0..A3: 8, or 4 with 67
  RB,     // rel8
  RZ,     // rel32 (66 is ignored on near branches in long mode)
};

struct OpProps {
  bool valid;
  bool modrm;
  Imm imm;
};

// The one-byte map in long mode. Prefix bytes, REX, VEX/EVEX escapes and 0F
// are handled before the table is asked.
OpProps OneByteProps(std::uint8_t op) {
  if (op < 0x40) {
    switch (op & 7) {
      case 0: case 1: case 2: case 3: return {true, true, I0};
      case 4: return {true, false, IB};
      case 5: return {true, false, IZ};
      default: return {false, false, I0};  // push/pop seg, daa/das/aaa/aas, prefixes
    }
  }
  if (op >= 0x50 && op <= 0x5F) return {true, false, I0};
  if (op >= 0x70 && op <= 0x7F) return {true, false, RB};
  if (op >= 0x84 && op <= 0x8F) return {true, true, I0};
  if (op >= 0x90 && op <= 0x99) return {true, false, I0};
  if (op >= 0xA4 && op <= 0xA7) return {true, false, I0};
  if (op >= 0xAA && op <= 0xAF) return {true, false, I0};
  if (op >= 0xB0 && op <= 0xB7) return {true, false, IB};
  if (op >= 0xB8 && op <= 0xBF) return {true, false, IV};
  if (op >= 0xD8 && op <= 0xDF) return {true, true, I0};
  if (op >= 0xE0 && op <= 0xE3) return {true, false, RB};
  if (op >= 0xE4 && op <= 0xE7) return {true, false, IB};
  if (op >= 0xEC && op <= 0xEF) return {true, false, I0};
  if (op >= 0xF8 && op <= 0xFD) return {true, false, I0};
  switch (op) {
    case 0x63: return {true, true, I0};
    case 0x68: return {true, false, IZ};
    case 0x69: return {true, true, IZ};
    case 0x6A: return {true, false, IB};
    case 0x6B: return {true, true, IB};
    case 0x6C: case 0x6D: case 0x6E: case 0x6F: return {true, false, I0};
    case 0x80: case 0x83: return {true, true, IB};
    case 0x81: return {true, true, IZ};
    case 0x9B: case 0x9C: case 0x9D: case 0x9E: case 0x9F: return {true, false, I0};
    case 0xA0: case 0xA1: case 0xA2: case 0xA3: return {true, false, IMOFF};
    case 0xA8: return {true, false, IB};
    case 0xA9: return {true, false, IZ};
    case 0xC0: case 0xC1: case 0xC6: return {true, true, IB};
    case 0xC7: return {true, true, IZ};
    case 0xC2: case 0xCA: return {true, false, IW};
    case 0xC3: case 0xC9: case 0xCB: case 0xCC: case 0xCF: return {true, false, I0};
    case 0xC8: return {true, false, IWB};
    case 0xCD: return {true, false, IB};
    case 0xD0: case 0xD1: case 0xD2: case 0xD3: return {true, true, I0};
    case 0xD7: return {true, false, I0};
    case 0xE8: case 0xE9: return {true, false, RZ};
    case 0xEB: return {true, false, RB};
    case 0xF1: case 0xF4: case 0xF5: return {true, false, I0};
    case 0xF6: case 0xF7: case 0xFE: case 0xFF: return {true, true, I0};  // refined by ModRM
    default: return {false, false, I0};  // 06, 60, 61, 82, 9A, C4/C5/62 handled before, CE, D4-D6, EA, ...
  }
}

OpProps Map0FProps(std::uint8_t op) {
  switch (op) {
    case 0x04: case 0x0A: case 0x0C: case 0x24: case 0x25: case 0x26: case 0x27:
    case 0x36: case 0x39: case 0x3B: case 0x3C: case 0x3D: case 0x3E: case 0x3F:
    case 0x7A: case 0x7B:
      return {false, false, I0};
    case 0x05: case 0x06: case 0x07: case 0x08: case 0x09: case 0x0B: case 0x0E:
    case 0x30: case 0x31: case 0x32: case 0x33: case 0x34: case 0x35: case 0x37:
    case 0x77: case 0xA0: case 0xA1: case 0xA2: case 0xA8: case 0xA9: case 0xAA:
      return {true, false, I0};
    case 0x70: case 0x71: case 0x72: case 0x73: case 0xA4: case 0xAC: case 0xBA:
    case 0xC2: case 0xC4: case 0xC5: case 0xC6:
      return {true, true, IB};
    default:
      break;
  }
  if (op >= 0x80 && op <= 0x8F) return {true, false, RZ};
  if (op >= 0xC8 && op <= 0xCF) return {true, false, I0};
  return {true, true, I0};
}

// Maps 1-3 under VEX/EVEX: always a ModRM except vzeroupper/vzeroall.
Imm VexImm(OpMap map, std::uint8_t op) {
  if (map == OpMap::Map0F3A) return IB;
  if (map == OpMap::Map0F) {
    switch (op) {
      case 0x70: case 0x71: case 0x72: case 0x73: case 0xC2: case 0xC4: case 0xC5: case 0xC6:
        return IB;
      default:
        return I0;
    }
  }
  return I0;
}

bool IsSegmentPrefix(std::uint8_t b) {
  return b == 0x26 || b == 0x2E || b == 0x36 || b == 0x3E || b == 0x64 || b == 0x65;
}

std::int64_t ReadSigned(const std::uint8_t* p, unsigned size) {
  switch (size) {
    case 1: return std::int8_t(p[0]);
    case 2: { std::int16_t v; std::memcpy(&v, p, 2); return v; }
    case 4: { std::int32_t v; std::memcpy(&v, p, 4); return v; }
    case 8: { std::int64_t v; std::memcpy(&v, p, 8); return v; }
    default: return 0;
  }
}

constexpr std::size_t kMaxLength = 15;

}  // namespace

bool DecodeParts(std::span<const std::uint8_t> bytes, TDisAsmParts& d) {
  d = TDisAsmParts{};
  const std::size_t n = std::min(bytes.size(), kMaxLength);
  const std::uint8_t* p = bytes.data();
  std::size_t i = 0;
  auto need = [&](std::size_t count) { return i + count <= n; };

  // Legacy prefixes; a REX counts only directly before the opcode.
  for (;;) {
    if (!need(1)) return false;
    std::uint8_t b = p[i];
    if (b == 0xF0) d.prefixes |= kPrefixLock;
    else if (b == 0xF2) { d.prefixes |= kPrefixRepne; d.lastRepPrefix = b; }
    else if (b == 0xF3) { d.prefixes |= kPrefixRep; d.lastRepPrefix = b; }
    else if (b == 0x66) d.prefixes |= kPrefixOpSize;
    else if (b == 0x67) d.prefixes |= kPrefixAddrSize;
    else if (IsSegmentPrefix(b)) { d.prefixes |= kPrefixSegment; d.segment = b; }
    else if ((b & 0xF0) == 0x40) {
      // A REX followed by another prefix is ignored.
      d.rex = b;
      ++i;
      if (!need(1)) return false;
      std::uint8_t c = p[i];
      if ((c & 0xF0) == 0x40 || c == 0xF0 || c == 0xF2 || c == 0xF3 || c == 0x66 || c == 0x67 || IsSegmentPrefix(c)) {
        d.rex = 0;
        continue;
      }
      break;
    } else break;
    ++i;
  }
  d.addressSize32 = d.prefixes & kPrefixAddrSize;
  bool rexW = d.rex & 8;
  OpProps props{};
  std::uint8_t op = p[i++];

  if (op == 0xC4 || op == 0xC5 || op == 0x62) {
    // VEX and EVEX: no REX, 66, F2 or F3 may come before them.
    if (d.rex || (d.prefixes & (kPrefixOpSize | kPrefixRep | kPrefixRepne | kPrefixLock))) return false;
    std::uint8_t rxb = 0, w = 0, mmmmm = 0;
    if (op == 0xC5) {
      if (!need(1)) return false;
      std::uint8_t b1 = p[i++];
      rxb = (b1 & 0x80) ? 0 : 4;
      mmmmm = 1;
      d.vvvv = (~b1 >> 3) & 15;
      d.vexL = (b1 >> 2) & 1;
      d.vexPP = b1 & 3;
      d.encoding = Encoding::Vex;
    } else if (op == 0xC4) {
      if (!need(2)) return false;
      std::uint8_t b1 = p[i++], b2 = p[i++];
      rxb = (~b1 >> 5) & 7;
      mmmmm = b1 & 31;
      w = b2 >> 7;
      d.vvvv = (~b2 >> 3) & 15;
      d.vexL = (b2 >> 2) & 1;
      d.vexPP = b2 & 3;
      d.encoding = Encoding::Vex;
      if (mmmmm < 1 || mmmmm > 3) return false;
    } else {
      if (!need(3)) return false;
      std::uint8_t p0 = p[i++], p1 = p[i++], p2 = p[i++];
      if (!(p1 & 4)) return false;  // the fixed 1 bit
      rxb = (~p0 >> 5) & 7;
      mmmmm = p0 & 7;
      w = p1 >> 7;
      d.vvvv = (~p1 >> 3) & 15;
      d.vexPP = p1 & 3;
      d.vexL = (p2 >> 5) & 3;
      d.encoding = Encoding::Evex;
      if (mmmmm == 0 || mmmmm == 4 || mmmmm == 7) return false;
    }
    d.rex = std::uint8_t(0x40 | (w << 3) | rxb);
    rexW = w;
    d.map = OpMap(mmmmm);
    if (!need(1)) return false;
    op = p[i++];
    d.opcode = op;
    if (d.encoding == Encoding::Vex && d.map == OpMap::Map0F && op == 0x77) {
      props = {true, false, I0};
    } else {
      props = {true, true, VexImm(d.map, op)};
    }
  } else if (op == 0x0F) {
    if (!need(1)) return false;
    op = p[i++];
    if (op == 0x38 || op == 0x3A) {
      d.map = op == 0x38 ? OpMap::Map0F38 : OpMap::Map0F3A;
      if (!need(1)) return false;
      op = p[i++];
      props = {true, true, d.map == OpMap::Map0F3A ? IB : I0};
    } else if (op == 0x0F) {
      d.map = OpMap::Map3DNow;  // ModRM, then the suffix byte that names the operation
      props = {true, true, IB};
    } else {
      d.map = OpMap::Map0F;
      props = Map0FProps(op);
      // SSE4a's extrq/insertq with immediates carry two bytes.
      if (op == 0x78 && ((d.prefixes & kPrefixOpSize) || d.lastRepPrefix == 0xF2)) {
        props = {true, true, IB};
        d.imm2Size = 1;
      }
    }
    d.opcode = op;
  } else {
    d.map = OpMap::OneByte;
    d.opcode = op;
    props = OneByteProps(op);
  }
  if (!props.valid) return false;

  d.operandSize = rexW ? 8 : (d.prefixes & kPrefixOpSize) ? 2 : 4;

  if (props.modrm) {
    if (!need(1)) return false;
    d.hasModRM = true;
    d.modrm = p[i++];
    d.mod = d.modrm >> 6;
    d.reg = std::uint8_t(((d.modrm >> 3) & 7) | ((d.rex & 4) << 1));
    d.rm = std::uint8_t((d.modrm & 7) | ((d.rex & 1) << 3));
    // mov to and from control and debug registers always names registers.
    if (d.map == OpMap::Map0F && d.encoding == Encoding::Legacy && d.opcode >= 0x20 && d.opcode <= 0x23) d.mod = 3;
    if (d.mod != 3) {
      if ((d.modrm & 7) == 4) {
        if (!need(1)) return false;
        d.hasSib = true;
        std::uint8_t sib = p[i++];
        d.scale = std::uint8_t(1u << (sib >> 6));
        d.index = std::uint8_t(((sib >> 3) & 7) | ((d.rex & 2) << 2));
        d.base = std::uint8_t((sib & 7) | ((d.rex & 1) << 3));
        if ((sib & 7) == 5 && d.mod == 0) d.dispSize = 4;
      } else if ((d.modrm & 7) == 5 && d.mod == 0) {
        d.ripRelative = true;
        d.dispSize = 4;
      }
      if (d.mod == 1) d.dispSize = 1;
      if (d.mod == 2) d.dispSize = 4;
    }
    if (d.map == OpMap::OneByte) {
      unsigned r = (d.modrm >> 3) & 7;
      if ((op == 0xF6 || op == 0xF7) && r < 2) props.imm = op == 0xF6 ? IB : IZ;
      if (op == 0xFE && r > 1) return false;
      if (op == 0xFF && r == 7) return false;
      if (op == 0xFF && (r == 3 || r == 5) && d.mod == 3) return false;  // far forms need memory
      if (op == 0x8F && r != 0) return false;
      if ((op == 0xC6 || op == 0xC7) && r != 0) {
        // xabort / xbegin: C6 F8 ib, C7 F8 rel.
        if (d.modrm != 0xF8) return false;
        if (op == 0xC7) props.imm = RZ;
      }
    }
    if (d.dispSize) {
      d.dispOffset = std::uint8_t(i);
      if (!need(d.dispSize)) return false;
      d.disp = ReadSigned(p + i, d.dispSize);
      i += d.dispSize;
    }
  }

  switch (props.imm) {
    case I0: break;
    case IB: case RB: d.immSize = 1; break;
    case IW: d.immSize = 2; break;
    case IZ: d.immSize = d.operandSize == 2 ? 2 : 4; break;
    case IV: d.immSize = d.operandSize; break;
    case IWB: d.immSize = 2; d.imm2Size = 1; break;
    case IMOFF: d.immSize = d.addressSize32 ? 4 : 8; break;
    case RZ: d.immSize = 4; break;
  }
  // Near branches, push and pop default to 64 bits in long mode.
  if (props.imm == RB || props.imm == RZ) d.operandSize = 8;
  if (d.immSize) {
    d.immOffset = std::uint8_t(i);
    if (!need(d.immSize)) return false;
    d.imm = ReadSigned(p + i, d.immSize);
    i += d.immSize;
  }
  if (d.imm2Size) {
    if (!need(d.imm2Size)) return false;
    d.imm2 = ReadSigned(p + i, d.imm2Size);
    i += d.imm2Size;
  }
  d.length = std::uint8_t(i);
  return true;
}

namespace {

std::uint16_t OpcodeNumber(const TDisAsmParts& d) {
  std::uint16_t high = 0;
  switch (d.map) {
    case OpMap::OneByte: high = 0; break;
    case OpMap::Map0F: high = 0x0F00; break;
    case OpMap::Map0F38: high = 0x3800; break;
    case OpMap::Map0F3A: high = 0x3A00; break;
    case OpMap::Map3DNow: high = 0x0F00; break;
    default: high = std::uint16_t(std::uint16_t(d.map) << 8); break;
  }
  if (d.encoding == Encoding::Vex) high = std::uint16_t(0x8000 | (std::uint16_t(d.map) << 8));
  if (d.encoding == Encoding::Evex) high = std::uint16_t(0x4000 | (std::uint16_t(d.map) << 8));
  return std::uint16_t(high | (d.map == OpMap::Map3DNow ? 0x0F : d.opcode));
}

// Registers an instruction writes, as far as the register state cares.
void UpdateRegisters(const TDisAsmParts& d, std::uint64_t next, TRegState& regs) {
  if (d.encoding != Encoding::Legacy) {
    if (d.hasModRM && d.mod == 3) {
      // Vector instructions that write a general register (vmovd/vpextr*, vmovmskps...).
      regs.Forget(d.reg);
      regs.Forget(d.rm);
    }
    return;
  }
  const std::uint8_t op = d.opcode;
  if (d.map == OpMap::OneByte) {
    if (op >= 0xB8 && op <= 0xBF) {
      unsigned r = (op & 7) | ((d.rex & 1) << 3);
      std::uint64_t v = d.operandSize == 4 ? std::uint32_t(d.imm) : std::uint64_t(d.imm);
      if (d.operandSize == 2) regs.Forget(r); else regs.Set(r, v);
      return;
    }
    if (op == 0xC7 && d.mod == 3 && d.reg == 0 + ((d.rex & 4) << 1)) {
      std::uint64_t v = d.operandSize == 4 ? std::uint32_t(d.imm) : std::uint64_t(d.imm);
      if (d.operandSize == 2) regs.Forget(d.rm); else regs.Set(d.rm, v);
      return;
    }
    if (op == 0x8D && d.operandSize == 8 && d.ripRelative) {  // lea reg, [rip+x]
      regs.Set(d.reg, next + std::uint64_t(d.disp));
      return;
    }
    if (op == 0x8B && d.mod == 3 && d.operandSize == 8) {  // mov reg, reg
      if (regs.Known(d.rm)) regs.Set(d.reg, regs.value[d.rm]); else regs.Forget(d.reg);
      return;
    }
    if (op >= 0x50 && op <= 0x57) return;  // push
    if (op >= 0x58 && op <= 0x5F) { regs.Forget((op & 7) | ((d.rex & 1) << 3)); return; }
    if (op >= 0x91 && op <= 0x97) { regs.Forget(0); regs.Forget((op & 7) | ((d.rex & 1) << 3)); return; }
    if (op >= 0xB0 && op <= 0xB7) { regs.Forget((op & 7) | ((d.rex & 1) << 3)); return; }
    // Stores, compares and tests leave registers alone.
    switch (op) {
      case 0x38: case 0x39: case 0x3A: case 0x3B: case 0x3C: case 0x3D:
      case 0x84: case 0x85: case 0x88: case 0x89: case 0xA8: case 0xA9:
      case 0x70: case 0x71: case 0x72: case 0x73: case 0x74: case 0x75: case 0x76: case 0x77:
      case 0x78: case 0x79: case 0x7A: case 0x7B: case 0x7C: case 0x7D: case 0x7E: case 0x7F:
      case 0xE9: case 0xEB: case 0xC3: case 0xCC: case 0x90:
        if ((op == 0x88 || op == 0x89) && d.mod == 3) regs.Forget(d.rm);
        return;
      case 0x80: case 0x81: case 0x83:
        if (d.mod == 3 && ((d.modrm >> 3) & 7) != 7) regs.Forget(d.rm);
        return;
      case 0xC6: case 0xC7: case 0xFE: case 0xFF: case 0xF6: case 0xF7:
      case 0xC0: case 0xC1: case 0xD0: case 0xD1: case 0xD2: case 0xD3: case 0x8F:
        if (d.mod == 3) regs.Forget(d.rm);
        if (op == 0xF6 || op == 0xF7) { regs.Forget(0); regs.Forget(2); }
        if (op == 0xFF && ((d.modrm >> 3) & 7) == 2) regs.known = 0;  // a call clobbers
        return;
      case 0xE8:
        regs.known = 0;
        return;
      default:
        break;
    }
    // Everything else with a register destination in ModRM.reg, or implicit ones.
    if (d.hasModRM) {
      regs.Forget(d.reg);
      if (d.mod == 3) regs.Forget(d.rm);
    }
    // Implicit writers (string ops, cdq, xchg, in, lahf, xlat, ...): forget rax,
    // rcx, rdx, rsi, rdi.
    for (unsigned r : {0u, 1u, 2u, 6u, 7u}) regs.Forget(r);
    return;
  }
  if (d.hasModRM) {
    regs.Forget(d.reg);
    if (d.mod == 3) regs.Forget(d.rm);
  }
  for (unsigned r : {0u, 1u, 2u, 3u}) regs.Forget(r);  // cpuid, rdtsc, rdmsr, ...
}

bool ReadPointer(std::uint64_t address, std::uint64_t& value, const TDATryRead* guard) {
  return guard && SafeRead(address, &value, 8, guard);
}

}  // namespace

CodeInfo DecodeBytes(std::span<const std::uint8_t> bytes, std::uint64_t address, const TDATryRead* guard,
                     TRegState* regs, TDisAsmParts* partsOut) {
  CodeInfo info;
  info.address = address;
  TDisAsmParts local;
  TDisAsmParts& d = partsOut ? *partsOut : local;
  if (!DecodeParts(bytes, d)) {
    info.next = address + 1;
    return info;
  }
  info.valid = true;
  info.next = address + d.length;
  info.opcode = OpcodeNumber(d);
  info.modRM = d.modrm;
  if (d.encoding == Encoding::Legacy) {
    const std::uint8_t op = d.opcode;
    bool relative = false;
    if (d.map == OpMap::OneByte) {
      if (op == 0xE8) { info.call = true; relative = true; }
      else if (op == 0xE9 || op == 0xEB || (op >= 0x70 && op <= 0x7F) || (op >= 0xE0 && op <= 0xE3)) {
        info.jump = true;
        relative = true;
        info.enlargeable = op == 0xEB || (op >= 0x70 && op <= 0x7F);
      } else if (op == 0xC7 && d.modrm == 0xF8) {
        relative = true;  // xbegin's fallback address is no branch
        info.relativeTarget = true;
        info.target = info.next + std::uint64_t(d.imm);
        return info;
      } else if (op == 0xFF) {
        unsigned r = (d.modrm >> 3) & 7;
        if (r >= 2 && r <= 5) {
          info.call = r <= 3;
          info.jump = r >= 4;
          if (d.mod == 3) {
            if (regs && regs->Known(d.rm)) info.target = regs->value[d.rm];
          } else {
            std::uint64_t cell = 0;
            bool cellKnown = false;
            if (d.ripRelative && !d.addressSize32) {
              cell = info.next + std::uint64_t(d.disp);
              cellKnown = true;
              info.targetPointerPointer = address + d.dispOffset;
            } else if (d.hasSib && d.index == 4 && (d.base & 7) == 5 && d.mod == 0) {
              cell = std::uint64_t(d.disp);  // [disp32] absolute
              cellKnown = true;
              info.targetPointerPointer = address + d.dispOffset;
            } else if (!d.hasSib && d.dispSize == 0 && regs && regs->Known(d.rm)) {
              cell = regs->value[d.rm];
              cellKnown = true;
            }
            if (cellKnown && r != 3 && r != 5) {
              info.targetPointer = cell;
              info.targetSize = 8;
              std::uint64_t value = 0;
              if (ReadPointer(cell, value, guard)) info.target = value;
            }
          }
        }
      }
    } else if (d.map == OpMap::Map0F && op >= 0x80 && op <= 0x8F) {
      info.jump = true;
      relative = true;
    }
    if (relative) {
      info.relativeTarget = true;
      info.target = info.next + std::uint64_t(d.imm);
      info.targetPointer = address + d.immOffset;
      info.targetSize = d.immSize;
    }
    // "call $+5" (and a jump to the next instruction) only reads RIP.
    if ((info.call || info.jump) && info.relativeTarget && info.target == info.next) {
      info.call = info.jump = info.relativeTarget = info.enlargeable = false;
      info.target = info.targetPointer = 0;
      info.targetSize = 0;
    }
  }
  if (regs) UpdateRegisters(d, info.next, *regs);
  return info;
}

CodeInfo DecodeInstruction(std::uint64_t address, const TDATryRead* guard, TRegState* regs, TDisAsmParts* parts) {
  std::uint8_t bytes[kMaxLength];
  std::size_t count = kMaxLength;
  if (guard) count = guard->ReadableFrom(address, kMaxLength);
  // Near the end of a mapping fewer bytes are there; read what can be read.
  while (count > 0 && !SafeRead(address, bytes, count, nullptr)) {
    if (guard) { count = 0; break; }
    count = count > 1 ? count - 1 : 0;
  }
  if (count == 0) {
    CodeInfo info;
    info.address = address;
    info.next = address + 1;
    if (parts) *parts = TDisAsmParts{};
    return info;
  }
  return DecodeBytes(std::span<const std::uint8_t>(bytes, count), address, guard, regs, parts);
}

CodeInfo DecodeInstruction(std::uint64_t address) { return DecodeInstruction(address, nullptr); }

}  // namespace zeb

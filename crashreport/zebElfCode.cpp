#include "crashreport/zebElfCode.h"

#include <elf.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace zeb {

namespace {

template <typename T>
bool Fetch(const std::vector<std::uint8_t>& bytes, std::uint64_t offset, T& out) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, bytes.data() + offset, sizeof(T));
  return true;
}

}  // namespace

TElfCode ReadElfCode(const std::string& path) {
  TElfCode code;
  std::ifstream in(path, std::ios::binary);
  if (!in) return code;
  code.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const auto& b = code.bytes;
  Elf64_Ehdr eh;
  if (!Fetch(b, 0, eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_ident[EI_DATA] != ELFDATA2LSB || eh.e_shentsize != sizeof(Elf64_Shdr))
    return code;
  std::vector<Elf64_Shdr> sections(eh.e_shnum);
  for (unsigned i = 0; i < eh.e_shnum; ++i)
    if (!Fetch(b, eh.e_shoff + std::uint64_t(i) * sizeof(Elf64_Shdr), sections[i])) return code;
  if (eh.e_shstrndx >= sections.size()) return code;
  const Elf64_Shdr& names = sections[eh.e_shstrndx];
  auto sectionName = [&](const Elf64_Shdr& s) -> std::string {
    std::uint64_t at = names.sh_offset + s.sh_name;
    if (at >= b.size()) return {};
    const char* c = reinterpret_cast<const char*>(b.data() + at);
    return std::string(c, strnlen(c, b.size() - at));
  };
  // Symbol values are addresses; the section they lie in gives the file offset.
  auto fileOffset = [&](std::uint64_t address, std::uint64_t size, std::uint64_t& offset) {
    for (const auto& s : sections) {
      if (s.sh_type != SHT_PROGBITS || !(s.sh_flags & SHF_EXECINSTR)) continue;
      if (address >= s.sh_addr && address + size <= s.sh_addr + s.sh_size) {
        offset = s.sh_offset + (address - s.sh_addr);
        return offset + size <= b.size();
      }
    }
    return false;
  };
  for (const auto& s : sections) {
    if (sectionName(s) == ".text" && s.sh_offset + s.sh_size <= b.size()) {
      code.textAddress = s.sh_addr;
      code.textSize = s.sh_size;
      code.textOffset = s.sh_offset;
    }
  }
  for (unsigned wanted : {unsigned(SHT_SYMTAB), unsigned(SHT_DYNSYM)}) {
    for (const auto& s : sections) {
      if (s.sh_type != wanted || s.sh_link >= sections.size() || s.sh_entsize != sizeof(Elf64_Sym)) continue;
      const Elf64_Shdr& strings = sections[s.sh_link];
      for (std::uint64_t at = 0; at + sizeof(Elf64_Sym) <= s.sh_size; at += sizeof(Elf64_Sym)) {
        Elf64_Sym sym;
        if (!Fetch(b, s.sh_offset + at, sym)) break;
        if (ELF64_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_shndx == SHN_UNDEF || sym.st_size == 0) continue;
        TElfFunction f;
        f.address = sym.st_value;
        f.size = sym.st_size;
        if (!fileOffset(f.address, f.size, f.fileOffset)) continue;
        std::uint64_t nameAt = strings.sh_offset + sym.st_name;
        if (nameAt < b.size()) {
          const char* c = reinterpret_cast<const char*>(b.data() + nameAt);
          f.name.assign(c, strnlen(c, b.size() - nameAt));
        }
        code.functions.push_back(std::move(f));
      }
    }
    if (!code.functions.empty()) break;
  }
  std::sort(code.functions.begin(), code.functions.end(),
            [](const TElfFunction& x, const TElfFunction& y) { return x.address < y.address; });
  code.functions.erase(std::unique(code.functions.begin(), code.functions.end(),
                                   [](const TElfFunction& x, const TElfFunction& y) { return x.address == y.address; }),
                       code.functions.end());
  code.valid = true;
  return code;
}

}  // namespace zeb

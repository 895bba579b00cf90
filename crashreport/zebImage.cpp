#include "crashreport/zebImage.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "crashreport/zebStrings.h"
#include "crashreport/zebTools.h"

namespace zeb {

namespace {

// Owns the descriptor and the libelf handle of one file.
struct ElfFile {
  int fd = -1;
  Elf* elf = nullptr;
  explicit ElfFile(const std::string& path) {
    if (elf_version(EV_CURRENT) == EV_NONE) return;
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) elf = elf_begin(fd, ELF_C_READ, nullptr);
  }
  ~ElfFile() {
    if (elf) elf_end(elf);
    if (fd >= 0) ::close(fd);
  }
  ElfFile(const ElfFile&) = delete;
  ElfFile& operator=(const ElfFile&) = delete;
};

std::string HexBytes(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

}  // namespace

ElfImage::ElfImage(const std::string& path) {
  ElfFile file(path);
  if (!file.elf || elf_kind(file.elf) != ELF_K_ELF) return;
  valid_ = true;

  std::size_t segments = 0;
  if (elf_getphdrnum(file.elf, &segments) == 0) {
    bool found = false;
    for (std::size_t i = 0; i < segments; ++i) {
      GElf_Phdr header;
      if (!gelf_getphdr(file.elf, int(i), &header) || header.p_type != PT_LOAD) continue;
      const std::uint64_t align = header.p_align > 1 ? header.p_align : 1;
      const std::uint64_t base = header.p_vaddr & ~(align - 1);
      if (!found || base < loadBase_) loadBase_ = base;
      found = true;
    }
  }

  for (Elf_Scn* section = nullptr; (section = elf_nextscn(file.elf, section)) != nullptr;) {
    GElf_Shdr header;
    if (!gelf_getshdr(section, &header)) continue;
    Elf_Data* data = elf_getdata(section, nullptr);
    if (!data || !data->d_buf) continue;
    if (header.sh_type == SHT_NOTE) {
      // libelf checks every note's lengths against the section.
      GElf_Nhdr note;
      std::size_t offset = 0, nameOffset = 0, descOffset = 0;
      while ((offset = gelf_getnote(data, offset, &note, &nameOffset, &descOffset)) > 0) {
        if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
            std::memcmp(static_cast<const char*>(data->d_buf) + nameOffset, "GNU", 4) == 0)
          buildId_ = HexBytes(static_cast<const unsigned char*>(data->d_buf) + descOffset, note.n_descsz);
      }
    } else if (header.sh_type == SHT_SYMTAB || header.sh_type == SHT_DYNSYM) {
      if (header.sh_entsize == 0) continue;
      const std::size_t count = header.sh_size / header.sh_entsize;
      for (std::size_t i = 0; i < count; ++i) {
        GElf_Sym symbol;
        if (!gelf_getsym(data, int(i), &symbol)) break;
        const int type = GELF_ST_TYPE(symbol.st_info);
        if ((type != STT_FUNC && type != STT_OBJECT) || symbol.st_shndx == SHN_UNDEF || symbol.st_value == 0) continue;
        const char* name = elf_strptr(file.elf, header.sh_link, symbol.st_name);
        if (!name || !*name) continue;
        symbols_.push_back({name, symbol.st_value, symbol.st_size});
      }
    }
  }
  std::sort(symbols_.begin(), symbols_.end(), [](const ImageSymbol& a, const ImageSymbol& b) {
    return a.address != b.address ? a.address < b.address : a.name < b.name;
  });
  // The same symbol from .symtab and .dynsym counts once.
  symbols_.erase(std::unique(symbols_.begin(), symbols_.end(),
                             [](const ImageSymbol& a, const ImageSymbol& b) {
                               return a.address == b.address && a.name == b.name;
                             }),
                 symbols_.end());
}

std::optional<ImageSymbol> ElfImage::SymbolAt(std::uint64_t address) const {
  auto it = std::upper_bound(symbols_.begin(), symbols_.end(), address,
                             [](std::uint64_t a, const ImageSymbol& s) { return a < s.address; });
  if (it == symbols_.begin()) return std::nullopt;
  --it;
  return *it;
}

bool ModuleOfAddress(std::uintptr_t address, TModule& module) {
  for (const TModule& m : ModuleList())
    if (address >= m.base && address < m.end) {
      module = m;
      return true;
    }
  return false;
}

std::string ExportNameOf(std::uintptr_t address, bool unmangle) {
  TModule module;
  if (!ModuleOfAddress(address, module)) return {};
  const ElfImage image(module.path);
  if (!image.IsValid()) return {};
  const std::uint64_t fileAddress = address - module.base + image.LoadBase();
  const auto symbol = image.SymbolAt(fileAddress);
  if (!symbol) return {};
  std::string name = symbol->name, unit;
  if (unmangle && UnmangleExportName(name, unit) && !unit.empty()) name = unit + "." + name;
  const std::uint64_t offset = fileAddress - symbol->address;
  return offset ? name + "+0x" + HexText(offset) : name;
}

}  // namespace zeb

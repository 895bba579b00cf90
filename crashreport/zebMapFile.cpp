#include "crashreport/zebMapFile.h"

#include <elfutils/libdw.h>
#include <elfutils/libdwfl.h>
#include <gelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "crashreport/zebDisAsmText.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebStrings.h"
#include "crashreport/zebTools.h"

namespace zeb {

namespace {

char* debugInfoPath = nullptr;  // libdw's default search (build-id folders)

// Separate debug files are looked up on this machine only, by build id: the
// standard search would load the network client of debug servers (and its
// dozen libraries) into a process that is reporting a crash.
const Dwfl_Callbacks kCallbacks = {
    dwfl_linux_proc_find_elf,
    dwfl_build_id_find_debuginfo,
    nullptr,
    &debugInfoPath,
};

// The executable file mappings: what the view depends on. Files mapped for
// reading only (among them the debug files libdw maps itself) do not count.
std::string ModuleSignature() {
  std::ifstream in("/proc/self/maps");
  std::string line, s;
  while (std::getline(in, line)) {
    const std::size_t perms = line.find(' ');
    if (perms == std::string::npos || perms + 3 >= line.size() || line[perms + 3] != 'x') continue;
    const std::size_t path = line.find('/');
    if (path == std::string::npos) continue;
    s += line.substr(0, perms) + line.substr(path) + "\n";
  }
  return s;
}

std::mutex& viewLock() {
  static std::mutex m;
  return m;
}

std::string BaseName(const char* path) { return path ? FileNameOf(path) : std::string(); }

}  // namespace

ProcessDebugView::ProcessDebugView() {
  signature_ = ModuleSignature();
  dwfl_ = dwfl_begin(&kCallbacks);
  if (!dwfl_) return;
  dwfl_report_begin(dwfl_);
  const int rc = dwfl_linux_proc_report(dwfl_, getpid());
  if (rc != 0 || dwfl_report_end(dwfl_, nullptr, nullptr) != 0) {
    dwfl_end(dwfl_);
    dwfl_ = nullptr;
  }
}

ProcessDebugView::~ProcessDebugView() {
  if (dwfl_) dwfl_end(dwfl_);
}

Dwfl_Module* ProcessDebugView::ModuleAt(std::uint64_t address) const {
  if (!dwfl_) return nullptr;
  // The lookup answers with the nearest module below an address in no file.
  Dwfl_Module* module = dwfl_addrmodule(dwfl_, address);
  Dwarf_Addr start = 0, end = 0;
  if (!module || !dwfl_module_info(module, nullptr, &start, &end, nullptr, nullptr, nullptr, nullptr) ||
      address < start || address >= end)
    return nullptr;
  return module;
}

std::shared_ptr<ProcessDebugView> CurrentDebugView() {
  static auto& current = *new std::shared_ptr<ProcessDebugView>;
  const std::string signature = ModuleSignature();
  std::lock_guard lock(viewLock());
  if (!current || current->Signature() != signature) current = std::make_shared<ProcessDebugView>();
  return current;
}

TMapFile::TMapFile(ProcessDebugView& view, Dwfl_Module* module, std::string path)
    : view_(view), module_(module), path_(std::move(path)) {
  if (!module_) return;
  auto lock = view_.Lock();
  Dwarf_Addr low = 0, high = 0;
  dwfl_module_info(module_, nullptr, &low, &high, nullptr, nullptr, nullptr, nullptr);
  codeStart_ = low;
  codeEnd_ = high;
  const unsigned char* bits = nullptr;
  GElf_Addr vaddr = 0;
  const int n = dwfl_module_build_id(module_, &bits, &vaddr);
  for (int i = 0; i < n; ++i) buildId_ += PadText(HexText(bits[i]), 2, '0');

  const int count = dwfl_module_getsymtab(module_);
  for (int i = 1; i < count; ++i) {
    GElf_Sym sym;
    GElf_Addr address = 0;
    const char* name = dwfl_module_getsym_info(module_, i, &sym, &address, nullptr, nullptr, nullptr);
    if (!name || !*name) continue;
    const int type = GELF_ST_TYPE(sym.st_info);
    if ((type != STT_FUNC && type != STT_GNU_IFUNC) || sym.st_shndx == SHN_UNDEF) continue;
    TMfPublic p;
    p.valid = true;
    p.name = name;
    // A versioned name ("__libc_start_main@@GLIBC_2.34") without its version.
    if (const std::size_t at = p.name.find('@'); at != std::string::npos && at > 0) p.name.resize(at);
    p.address = address;
    p.size = sym.st_size;
    p.global = GELF_ST_BIND(sym.st_info) != STB_LOCAL;
    publics_.push_back(std::move(p));
  }
  // One public per address: a global name before a local alias ("abort"
  // before "__GI_abort"), a sized symbol before an unsized one.
  std::stable_sort(publics_.begin(), publics_.end(), [](const TMfPublic& a, const TMfPublic& b) {
    if (a.address != b.address) return a.address < b.address;
    if (a.global != b.global) return a.global;
    return a.size > b.size;
  });
  publics_.erase(std::unique(publics_.begin(), publics_.end(),
                             [](const TMfPublic& a, const TMfPublic& b) { return a.address == b.address; }),
                 publics_.end());
  Dwarf_Addr bias = 0;
  valid_ = !publics_.empty() || dwfl_module_getdwarf(module_, &bias) != nullptr;
}

TMfSegment TMapFile::SegmentAt(bool code, std::uint64_t address) const {
  TMfSegment segment;
  if (!valid_ || !code) return segment;
  auto lock = view_.Lock();
  Dwarf_Addr bias = 0;
  Dwarf_Die* cu = dwfl_module_addrdie(module_, address, &bias);
  if (!cu) return segment;
  Dwarf_Addr base = 0, start = 0, end = 0;
  ptrdiff_t offset = 0;
  while ((offset = dwarf_ranges(cu, offset, &base, &start, &end)) > 0) {
    if (address - bias >= start && address - bias < end) {
      segment.valid = true;
      segment.start = start + bias;
      segment.length = end - start;
      break;
    }
  }
  if (!segment.valid) return segment;
  segment.code = true;
  segment.unitName = BaseName(dwarf_diename(cu));
  Dwarf_Lines* lines = nullptr;
  std::size_t lineCount = 0;
  segment.hasLineNumbers = dwarf_getsrclines(cu, &lines, &lineCount) == 0 && lineCount > 0;
  return segment;
}

TMfPublic TMapFile::PublicAt(std::uint64_t address) const {
  auto it = std::upper_bound(publics_.begin(), publics_.end(), address,
                             [](std::uint64_t a, const TMfPublic& p) { return a < p.address; });
  if (it == publics_.begin()) return {};
  const TMfPublic& p = *(it - 1);
  const std::uint64_t end = p.size ? p.address + p.size : it != publics_.end() ? it->address : codeEnd_;
  if (address >= end && end != 0) return {};
  return p;
}

int TMapFile::LineAt(std::uint64_t address, std::uint64_t* nextLineStart) const {
  if (nextLineStart) *nextLineStart = address + 1;
  if (!valid_) return 0;
  auto lock = view_.Lock();
  Dwarf_Addr bias = 0;
  Dwarf_Die* cu = dwfl_module_addrdie(module_, address, &bias);
  if (!cu) return 0;
  Dwarf_Lines* lines = nullptr;
  std::size_t count = 0;
  if (dwarf_getsrclines(cu, &lines, &count) != 0 || count == 0) return 0;
  const Dwarf_Addr target = address - bias;
  // Rows are sorted by address; the last row at or below the target holds it
  // unless it ends a sequence.
  std::size_t lo = 0, hi = count;
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    Dwarf_Addr a = 0;
    dwarf_lineaddr(dwarf_onesrcline(lines, mid), &a);
    if (a <= target)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo == 0) return 0;
  Dwarf_Line* row = dwarf_onesrcline(lines, lo - 1);
  bool endSequence = false;
  dwarf_lineendsequence(row, &endSequence);
  if (endSequence) return 0;
  // Of several rows at one address (views) the last names the line, as
  // addr2line has it.
  int line = 0;
  dwarf_lineno(row, &line);
  if (nextLineStart && lo < count) {
    Dwarf_Addr next = 0;
    dwarf_lineaddr(dwarf_onesrcline(lines, lo), &next);
    *nextLineStart = next + bias;
  }
  return line;
}

std::uint64_t TMapFile::PublicByName(bool code, std::string_view unit, bool caseSensitive,
                                     std::string_view name) const {
  if (!valid_ || !code) return 0;
  auto tryUnit = [&](const std::string& u) -> std::uint64_t {
    for (const TMfPublic& p : publics_) {
      const bool same = caseSensitive ? p.name == name : SameTextIgnoringCase(p.name, name);
      if (!same) continue;
      if (SameTextIgnoringCase(SegmentAt(true, p.address).unitName, u)) return p.address;
    }
    return 0;
  };
  std::string u(unit);
  if (std::uint64_t a = tryUnit(u)) return a;
  if (u.find('.') == std::string::npos)
    for (const char* ext : {".cpp", ".h", ".c"})
      if (std::uint64_t a = tryUnit(u + ext)) return a;
  return 0;
}

std::shared_ptr<const TMapFile> ProcessDebugView::ReaderAt(std::uint64_t address) {
  auto lock = Lock();
  Dwfl_Module* module = ModuleAt(address);
  if (!module) return nullptr;
  const char* path = nullptr;
  dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr, &path, nullptr);
  const char* name = dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  const std::string file = path ? path : name ? name : "";
  struct stat st {};
  const std::int64_t mtime =
      ::stat(file.c_str(), &st) == 0 ? std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec : 0;
  CachedReader& cached = readers_[module];
  if (!cached.reader || cached.mtime != mtime) {
    cached.reader = std::make_unique<TMapFile>(*this, module, name ? std::string(name) : file);
    cached.mtime = mtime;
  }
  return std::shared_ptr<const TMapFile>(shared_from_this(), cached.reader.get());
}

TMapFilePtr LoadDebugInfo(std::uint64_t address) {
  if (address == 0) address = reinterpret_cast<std::uintptr_t>(&LoadDebugInfo);
  return CurrentDebugView()->ReaderAt(address);
}

TAddressInfo AddressInfo(std::uint64_t address) {
  TAddressInfo info;
  if (address == 0) address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  TMapFilePtr reader = LoadDebugInfo(address);
  if (!reader || !reader->Valid()) return info;
  info.found = true;
  info.moduleFileName = reader->ModuleFileName();
  info.unitName = reader->SegmentAt(true, address).unitName;
  info.line = reader->LineAt(address);
  const TMfPublic p = reader->PublicAt(address);
  if (p.valid) {
    info.publicAddress = p.address;
    info.publicName = p.name;
    std::string unit;
    UnmangleExportName(info.publicName, unit);
    if (!unit.empty()) info.publicName = unit + "::" + info.publicName;
  }
  return info;
}

std::string ProcNameAt(std::uint64_t address) {
  TMapFilePtr reader = LoadDebugInfo(address);
  if (!reader) return {};
  const TMfPublic p = reader->PublicAt(address);
  if (!p.valid || p.address != address) return {};
  std::string name = p.name, unit;
  UnmangleExportName(name, unit);
  return unit.empty() ? name : unit + "::" + name;
}

void LineNumberAt(std::uint64_t address, int& line, std::uint64_t& rangeStart, std::uint64_t& rangeEnd) {
  if (address >= rangeStart && address < rangeEnd) return;
  TMapFilePtr reader = LoadDebugInfo(address);
  std::uint64_t next = address + 1;
  line = reader ? std::max(0, reader->LineAt(address, &next)) : 0;
  rangeStart = address;
  rangeEnd = std::max(next, address + 1);
}

void InstallDebugInfoHooks() {
  TDisAsmHooks& hooks = DisAsmHooks();
  hooks.nameOf = [](std::uint64_t a) { return ProcNameAt(a); };
  hooks.moduleOf = [](std::uint64_t a) -> std::string {
    TMapFilePtr reader = LoadDebugInfo(a);
    if (!reader) return {};
    const std::string name = FileNameOf(reader->ModuleFileName());
    return name == ProgramFileName() ? std::string() : name;
  };
  hooks.lineOf = [](std::uint64_t a) -> unsigned {
    TMapFilePtr reader = LoadDebugInfo(a);
    return reader ? unsigned(std::max(0, reader->LineAt(a))) : 0;
  };
}

}  // namespace zeb

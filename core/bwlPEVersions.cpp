#include "core/bwlPEVersions.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/Text.h"

namespace {

// A little-endian view that answers "does it fit" before every read. All
// arithmetic is in size_t and of the form `len > size - off`.
class Bytes {
public:
  explicit Bytes(std::span<const std::uint8_t> b) : b_(b) {}
  std::size_t size() const { return b_.size(); }
  bool fits(std::size_t off, std::size_t len) const { return off <= b_.size() && len <= b_.size() - off; }
  bool u16(std::size_t off, std::uint16_t& v) const {
    if (!fits(off, 2)) return false;
    v = static_cast<std::uint16_t>(b_[off] | (b_[off + 1] << 8));
    return true;
  }
  bool u32(std::size_t off, std::uint32_t& v) const {
    if (!fits(off, 4)) return false;
    v = static_cast<std::uint32_t>(b_[off]) | (static_cast<std::uint32_t>(b_[off + 1]) << 8) |
        (static_cast<std::uint32_t>(b_[off + 2]) << 16) | (static_cast<std::uint32_t>(b_[off + 3]) << 24);
    return true;
  }
  std::span<const std::uint8_t> sub(std::size_t off, std::size_t len) const { return b_.subspan(off, len); }

private:
  std::span<const std::uint8_t> b_;
};

constexpr std::uint16_t kRtVersion = 16;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kResourceDirSize = 16;
constexpr std::size_t kResourceEntrySize = 8;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000u;

struct Section {
  std::uint32_t virtualAddress, rawSize, rawPointer;
};

// The file bytes of [rva, rva + size) as far as one section's raw data holds
// them; empty when the RVA lies in no section's raw data.
std::span<const std::uint8_t> rvaSpan(const Bytes& file, const std::vector<Section>& sections, std::uint32_t rva,
                                      std::uint32_t size) {
  for (const Section& s : sections) {
    if (rva < s.virtualAddress) continue;
    std::size_t delta = rva - s.virtualAddress;
    if (delta >= s.rawSize) continue;
    std::size_t off = static_cast<std::size_t>(s.rawPointer) + delta;
    std::size_t avail = s.rawSize - delta;
    if (off >= file.size()) return {};
    avail = std::min<std::size_t>({avail, file.size() - off, size});
    return file.sub(off, avail);
  }
  return {};
}

// The offset-to-data field of the entry of the resource directory at `dirOff`
// whose id is `id` (any entry when id is negative); false when there is none.
bool findResourceEntry(const Bytes& res, std::size_t dirOff, int id, std::uint32_t& target) {
  std::uint16_t named = 0, ids = 0;
  if (!res.fits(dirOff, kResourceDirSize) || !res.u16(dirOff + 12, named) || !res.u16(dirOff + 14, ids)) return false;
  std::size_t count = static_cast<std::size_t>(named) + ids;
  std::size_t first = dirOff + kResourceDirSize;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t e = first + i * kResourceEntrySize;
    std::uint32_t name = 0, data = 0;
    if (!res.u32(e, name) || !res.u32(e + 4, data)) return false;
    if (id < 0 || ((name & kSubdirectoryBit) == 0 && name == static_cast<std::uint32_t>(id))) {
      target = data;
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// VS_VERSIONINFO blocks: wLength, wValueLength, wType, a NUL-terminated UTF-16
// key, padding to 4 bytes, the value, padding, the children. Alignment counts
// from the start of the root block.

std::size_t align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

struct Block {
  std::u16string key;
  std::size_t valueOff = 0, valueLen = 0;  // the value, clipped to the block
  std::size_t childrenOff = 0, end = 0;
  std::uint16_t type = 0;
};

// The block at `off`, which must end by `limit`.
std::optional<Block> readBlock(const Bytes& b, std::size_t off, std::size_t limit) {
  std::uint16_t length = 0, valueLength = 0, type = 0;
  if (limit > b.size() || off > limit || !b.u16(off, length) || !b.u16(off + 2, valueLength) ||
      !b.u16(off + 4, type))
    return std::nullopt;
  if (length < 6 || length > limit - off) return std::nullopt;
  Block blk;
  blk.type = type;
  blk.end = off + length;
  std::size_t p = off + 6;
  for (;;) {
    std::uint16_t c = 0;
    if (p + 2 > blk.end || !b.u16(p, c)) return std::nullopt;  // a key must end inside its block
    p += 2;
    if (c == 0) break;
    blk.key.push_back(static_cast<char16_t>(c));
  }
  blk.valueOff = std::min(align4(p), blk.end);
  std::size_t declared = type == 1 ? std::size_t{valueLength} * 2 : valueLength;
  blk.valueLen = std::min(declared, blk.end - blk.valueOff);
  blk.childrenOff = std::min(align4(blk.valueOff + blk.valueLen), blk.end);
  return blk;
}

// Calls f(child) for each child block of `parent` that fits it, in order.
template <class F>
void forEachChild(const Bytes& b, const Block& parent, F f) {
  std::size_t off = parent.childrenOff;
  while (off < parent.end) {
    std::optional<Block> child = readBlock(b, off, parent.end);
    if (!child) return;
    f(*child);
    off = align4(child->end);  // a block is at least 6 bytes long, so this moves on
  }
}

std::string textValue(const Bytes& b, const Block& blk) {
  std::u16string w;
  for (std::size_t p = blk.valueOff; p + 2 <= blk.valueOff + blk.valueLen; p += 2) {
    std::uint16_t c = 0;
    b.u16(p, c);
    if (c == 0) break;
    w.push_back(static_cast<char16_t>(c));
  }
  return platform::wideToAnsi(w);
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
           return up(x) == up(y);
         });
}

std::string hex4(std::uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v);
  return buf;
}

// ---------------------------------------------------------------------------
// Writing blocks

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put16(out, static_cast<std::uint16_t>(v));
  put16(out, static_cast<std::uint16_t>(v >> 16));
}
void pad4(std::vector<std::uint8_t>& out) {
  while (out.size() % 4) out.push_back(0);
}
void putWide(std::vector<std::uint8_t>& out, std::u16string_view s) {
  for (char16_t c : s) put16(out, static_cast<std::uint16_t>(c));
  put16(out, 0);
}

std::vector<std::uint8_t> makeBlock(std::u16string_view key, std::uint16_t type, std::uint16_t valueLength,
                                    const std::vector<std::uint8_t>& value,
                                    const std::vector<std::vector<std::uint8_t>>& children) {
  std::vector<std::uint8_t> out;
  put16(out, 0);
  put16(out, valueLength);
  put16(out, type);
  putWide(out, key);
  pad4(out);
  out.insert(out.end(), value.begin(), value.end());
  for (const auto& child : children) {
    pad4(out);
    out.insert(out.end(), child.begin(), child.end());
  }
  out[0] = static_cast<std::uint8_t>(out.size());
  out[1] = static_cast<std::uint8_t>(out.size() >> 8);
  return out;
}

bool isProgramFile(const std::string& fileName) {
  std::error_code ec;
  return std::filesystem::equivalent(fileName, "/proc/self/exe", ec) && !ec;
}

// The version block of a file: the program's own, or the one in a PE file.
// Files larger than this are no program files this reader is meant for.
constexpr std::uintmax_t kMaxImageSize = std::uintmax_t{1} << 30;

std::optional<std::vector<std::uint8_t>> versionBlockOf(const std::string& fileName) {
  if (isProgramFile(fileName)) return ProgramVersionBlock();
  std::error_code ec;
  std::uintmax_t size = std::filesystem::file_size(fileName, ec);
  if (ec || size > kMaxImageSize) return std::nullopt;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> image(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  image.resize(static_cast<std::size_t>(in.gcount()));
  return FindVersionResource(image);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> FindVersionResource(std::span<const std::uint8_t> image) {
  Bytes file(image);
  std::uint16_t mz = 0;
  std::uint32_t peOff = 0, peSig = 0;
  if (!file.u16(0, mz) || mz != 0x5A4D || !file.u32(0x3C, peOff) || !file.u32(peOff, peSig) || peSig != 0x00004550)
    return std::nullopt;
  std::size_t coff = std::size_t{peOff} + 4;
  std::uint16_t sectionCount = 0, optSize = 0, magic = 0;
  if (!file.u16(coff + 2, sectionCount) || !file.u16(coff + 16, optSize)) return std::nullopt;
  std::size_t opt = coff + 20;
  if (!file.fits(opt, optSize) || !file.u16(opt, magic)) return std::nullopt;
  std::size_t countOff, dirsOff;
  if (magic == 0x10B) {
    countOff = 92, dirsOff = 96;
  } else if (magic == 0x20B) {
    countOff = 108, dirsOff = 112;
  } else {
    return std::nullopt;
  }
  std::uint32_t dirCount = 0, resRva = 0, resSize = 0;
  constexpr std::size_t kResourceDir = 2, kDirEntrySize = 8;
  std::size_t resDirOff = dirsOff + kResourceDir * kDirEntrySize;
  if (optSize < resDirOff + kDirEntrySize || !file.u32(opt + countOff, dirCount) || dirCount <= kResourceDir ||
      !file.u32(opt + resDirOff, resRva) || !file.u32(opt + resDirOff + 4, resSize) || resRva == 0)
    return std::nullopt;

  std::vector<Section> sections;
  std::size_t table = opt + optSize;
  for (std::size_t i = 0; i < sectionCount; ++i) {
    std::size_t h = table + i * kSectionHeaderSize;
    Section s{};
    if (!file.fits(h, kSectionHeaderSize)) return std::nullopt;
    (void)file.u32(h + 12, s.virtualAddress);
    (void)file.u32(h + 16, s.rawSize);
    (void)file.u32(h + 20, s.rawPointer);
    sections.push_back(s);
  }

  Bytes res(rvaSpan(file, sections, resRva, resSize));
  // Type, then name, then language: the first version resource, first language.
  std::uint32_t entry = 0;
  if (!findResourceEntry(res, 0, kRtVersion, entry) || !(entry & kSubdirectoryBit)) return std::nullopt;
  if (!findResourceEntry(res, entry & ~kSubdirectoryBit, -1, entry) || !(entry & kSubdirectoryBit))
    return std::nullopt;
  if (!findResourceEntry(res, entry & ~kSubdirectoryBit, -1, entry) || (entry & kSubdirectoryBit))
    return std::nullopt;
  std::uint32_t dataRva = 0, dataSize = 0;
  if (!res.u32(entry, dataRva) || !res.u32(entry + 4, dataSize)) return std::nullopt;
  std::span<const std::uint8_t> data = rvaSpan(file, sections, dataRva, dataSize);
  if (data.empty()) return std::nullopt;
  return std::vector<std::uint8_t>(data.begin(), data.end());
}

std::optional<std::string> TVersionInfo::Query(const std::string& tableKey, const std::string& name) const {
  for (const TStringTable& t : StringTables) {
    if (!equalsIgnoreCase(t.Key, tableKey)) continue;
    for (const auto& [n, v] : t.Values)
      if (equalsIgnoreCase(n, name)) return v;
  }
  return std::nullopt;
}

std::optional<TVersionInfo> ParseVersionInfo(std::span<const std::uint8_t> block) {
  Bytes b(block);
  std::optional<Block> root = readBlock(b, 0, block.size());
  if (!root || root->key != u"VS_VERSION_INFO") return std::nullopt;
  TVersionInfo info;
  forEachChild(b, *root, [&](const Block& child) {
    if (child.key == u"StringFileInfo") {
      forEachChild(b, child, [&](const Block& table) {
        TVersionInfo::TStringTable t;
        t.Key = platform::wideToAnsi(table.key);
        forEachChild(b, table, [&](const Block& str) { t.Values.emplace_back(platform::wideToAnsi(str.key), textValue(b, str)); });
        info.StringTables.push_back(std::move(t));
      });
    } else if (child.key == u"VarFileInfo") {
      forEachChild(b, child, [&](const Block& var) {
        if (var.key != u"Translation") return;
        for (std::size_t p = var.valueOff; var.valueOff + var.valueLen - p >= 4; p += 4) {
          std::uint32_t t = 0;
          (void)b.u32(p, t);
          info.Translations.push_back(t);
        }
      });
    }
  });
  return info;
}

std::vector<std::uint8_t> BuildVersionInfo(std::uint32_t translation,
                                           const std::vector<std::pair<std::string, std::string>>& strings,
                                           const std::uint16_t (&fileVersion)[4]) {
  std::vector<std::vector<std::uint8_t>> values;
  for (const auto& [name, value] : strings) {
    std::u16string w = platform::ansiToWide(value);
    std::vector<std::uint8_t> bytes;
    putWide(bytes, w);
    values.push_back(makeBlock(platform::ansiToWide(name), 1, static_cast<std::uint16_t>(w.size() + 1), bytes, {}));
  }
  std::string key = hex4(static_cast<std::uint16_t>(translation)) + hex4(static_cast<std::uint16_t>(translation >> 16));
  auto table = makeBlock(platform::ansiToWide(key), 1, 0, {}, values);
  auto stringInfo = makeBlock(u"StringFileInfo", 1, 0, {}, {table});
  std::vector<std::uint8_t> t;
  put32(t, translation);
  auto var = makeBlock(u"Translation", 0, 4, t, {});
  auto varInfo = makeBlock(u"VarFileInfo", 1, 0, {}, {var});

  std::vector<std::uint8_t> fixed;
  std::uint32_t ms = (std::uint32_t{fileVersion[0]} << 16) | fileVersion[1];
  std::uint32_t ls = (std::uint32_t{fileVersion[2]} << 16) | fileVersion[3];
  for (std::uint32_t v : {0xFEEF04BDu, 0x00010000u, ms, ls, ms, ls, 0x3Fu, 0u, 0x40004u, 1u, 0u, 0u, 0u})
    put32(fixed, v);
  return makeBlock(u"VS_VERSION_INFO", 0, static_cast<std::uint16_t>(fixed.size()), fixed, {stringInfo, varInfo});
}

const std::vector<std::uint8_t>& ProgramVersionBlock() {
  static const std::vector<std::uint8_t> block = [] {
    const std::string version = HIVESCOPE_VERSION;
    std::uint16_t numbers[4] = {0, 0, 0, 0};
    std::sscanf(version.c_str(), "%hu.%hu.%hu.%hu", &numbers[0], &numbers[1], &numbers[2], &numbers[3]);
    return BuildVersionInfo(0x04E40409u,
                            {{"CompanyName", "Brantwell Limited"},
                             {"FileDescription", "Registry browser and editor"},
                             {"FileVersion", version},
                             {"InternalName", "hivescope"},
                             {"LegalCopyright", "Copyright (C) Brantwell Limited"},
                             {"OriginalFilename", "hivescope"},
                             {"ProductName", "Hivescope"},
                             {"ProductVersion", version}},
                            numbers);
  }();
  return block;
}

std::string ProgramFileName() {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

int GetVersionTranslationCount(const std::string& fileName) {
  std::optional<std::vector<std::uint8_t>> block = versionBlockOf(fileName);
  if (!block) return 0;
  std::optional<TVersionInfo> info = ParseVersionInfo(*block);
  return info ? static_cast<int>(info->Translations.size()) : 0;
}

bool GetVersionStrings(const std::string& fileName, int index, std::vector<std::string>& list) {
  std::optional<std::vector<std::uint8_t>> block = versionBlockOf(fileName);
  if (!block) return false;
  std::optional<TVersionInfo> info = ParseVersionInfo(*block);
  if (!info || index < 0 || static_cast<std::size_t>(index) >= info->Translations.size()) return false;
  std::uint32_t t = info->Translations[static_cast<std::size_t>(index)];
  std::string key = hex4(static_cast<std::uint16_t>(t)) + hex4(static_cast<std::uint16_t>(t >> 16));
  static const char* const kNames[] = {"FileVersion",     "CompanyName",      "InternalName", "Comments",
                                       "LegalCopyright",  "LegalTrademarks",  "OriginalFilename",
                                       "ProductName",     "ProductVersion",   "FileDescription",
                                       "PrivateBuild",    "SpecialBuild"};
  for (const char* name : kNames) list.push_back(std::string(name) + "=" + info->Query(key, name).value_or(""));
  std::string translators = info->Query(key, "Translators").value_or("");
  if (!translators.empty()) list.push_back("Translators=" + translators);
  return true;
}

#include "platform/hive/HiveFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/hive/HiveFileImpl.h"
#include "platform/hive/HiveLog.h"
#include "platform/hive/HiveSave.h"

namespace platform::hive {

namespace {

using Fail = HiveError;

template <class T>
HiveResult<T> fail(HiveError e) {
  return HiveResult<T>::failure(e);
}

FileTime nowFileTime() {
  using namespace std::chrono;
  const auto ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<FileTime>(ns / 100) + 116444736000000000ull;
}

// Leaf kinds by format: hash leaves from 1.5, fast leaves in 1.3 and 1.4,
// index leaves before.
enum class Leaf { Li, Lf, Lh };

Leaf leafFor(unsigned minor) { return minor >= 5 ? Leaf::Lh : (minor >= 3 ? Leaf::Lf : Leaf::Li); }

// Windows splits a leaf once it outgrows a page; a leaf under an index root
// holds at most this many.
constexpr std::size_t kMaxLeaf = 1012;
constexpr std::size_t kRootLeaf = 512;

// A key flagged as a predefined handle keeps a handle where the value count
// would be: it has no values to read, and none to edit (a value list written
// there would replace the handle and never read back).
bool predefinedHandle(ByteView nkv) { return (nkv.u16(nk::Flags) & 0x0040) != 0; }

bool fitsLatin1(std::u16string_view s) {
  for (char16_t c : s)
    if (c > 0xFF) return false;
  return true;
}

// The self-relative descriptor new hives give their root: owner
// Administrators, group SYSTEM; Administrators and SYSTEM full control,
// Everyone read, all inherited by sub-keys.
std::vector<std::uint8_t> defaultSecurity() {
  std::vector<std::uint8_t> sd(120, 0);
  std::uint8_t* p = sd.data();
  p[0] = 1;                   // revision
  storeU16(p + 2, 0x8004);    // self-relative, DACL present
  storeU32(p + 4, 92);        // owner
  storeU32(p + 8, 108);       // group
  storeU32(p + 12, 0);        // no SACL
  storeU32(p + 16, 20);       // DACL
  std::uint8_t* acl = p + 20;
  acl[0] = 2;
  storeU16(acl + 2, 72);
  storeU16(acl + 4, 3);
  auto sid = [](std::uint8_t* s, std::uint8_t authority, std::initializer_list<std::uint32_t> subs) {
    s[0] = 1;
    s[1] = static_cast<std::uint8_t>(subs.size());
    s[7] = authority;
    std::size_t i = 8;
    for (std::uint32_t v : subs) {
      storeU32(s + i, v);
      i += 4;
    }
  };
  std::uint8_t* ace = acl + 8;
  auto addAce = [&](std::uint32_t mask, std::uint8_t authority, std::initializer_list<std::uint32_t> subs) {
    const std::size_t size = 8 + 8 + 4 * subs.size();
    ace[0] = 0;     // ACCESS_ALLOWED
    ace[1] = 0x02;  // CONTAINER_INHERIT
    storeU16(ace + 2, static_cast<std::uint16_t>(size));
    storeU32(ace + 4, mask);
    sid(ace + 8, authority, subs);
    ace += size;
  };
  addAce(0xF003F, 5, {32, 544});
  addAce(0xF003F, 5, {18});
  addAce(0x20019, 1, {0});
  sid(p + 92, 5, {32, 544});
  sid(p + 108, 5, {18});
  return sd;
}

// A self-relative descriptor worth storing: the header, and every part it
// points to inside the buffer.
bool plausibleDescriptor(std::span<const std::uint8_t> sd) {
  ByteView v(sd);
  if (sd.size() < 20 || sd.size() > 0xFFFF || v.u8(0) != 1) return false;
  if ((v.u16(2) & 0x8000) == 0) return false;
  for (std::size_t field : {4, 8, 12, 16}) {
    const std::uint32_t at = v.u32(field);
    if (at != 0 && (at < 20 || !v.has(at, 8))) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- factories

namespace {

// The hive file's bytes, mapped: read-only when only read, else private
// (pages are copied only as they are written).
HiveError loadPrimary(const std::filesystem::path& path, OpenMode mode, ByteBuffer& out) {
  return mapWholeFile(path, out, mode == OpenMode::ReadWrite);
}

// The hive a replay gave, unless the replay broke it: no readable root, or
// damage that the primary alone (read again by `reload`) does not have. A
// replay that stopped short is kept; it is damaged by its own account.
template <class Reload>
HiveResult<std::unique_ptr<HiveFile>> unlessReplayBroke(HiveResult<std::unique_ptr<HiveFile>> opened, OpenMode mode,
                                                        const std::filesystem::path& path, Reload reload) {
  const bool noRoot = !opened && (opened.error() == HiveError::Corrupt || opened.error() == HiveError::NotAHive);
  const bool broke = opened && (*opened)->damaged() && (*opened)->logReplay().entries > 0 &&
                     !(*opened)->logReplay().incomplete;
  if (!noRoot && !broke) return opened;
  ByteBuffer again;
  if (!reload(again)) return opened;
  LogReplayInfo failed;
  failed.attempted = true;
  auto primary = HiveFileImpl::fromBytes(std::move(again), mode, path, std::move(failed));
  if (noRoot || (primary && !(*primary)->damaged())) return primary;
  return opened;
}

// Opens with the logs at the given paths when the hive needs recovery. Logs
// are mapped, not read: a huge or hostile log costs address space only for
// the pages replay looks at.
HiveResult<std::unique_ptr<HiveFile>> openRecovering(ByteBuffer buf, const std::filesystem::path& path,
                                                     std::span<const std::filesystem::path> logPaths, OpenMode mode) {
  if (logPaths.empty() || !needsRecovery(std::span<const std::uint8_t>(buf.data(), buf.size())))
    return HiveFileImpl::fromBytes(std::move(buf), mode, path);
  std::vector<ByteBuffer> logs(logPaths.size());
  std::vector<std::span<const std::uint8_t>> spans;
  for (std::size_t i = 0; i < logPaths.size(); ++i) {
    if (mapWholeFile(logPaths[i], logs[i]) != HiveError::None) logs[i] = ByteBuffer();
    spans.emplace_back(logs[i].data(), logs[i].size());
  }
  // A replay that broke the hive means the logs do not belong to it (or
  // lie): the hive as it is on disk is the better answer.
  return unlessReplayBroke(HiveFileImpl::fromBytesAndLogs(std::move(buf), mode, path, spans), mode, path,
                           [&](ByteBuffer& again) { return loadPrimary(path, mode, again) == HiveError::None; });
}

bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

HiveResult<std::unique_ptr<HiveFile>> HiveFile::open(const std::filesystem::path& path, OpenMode mode) {
  ByteBuffer buf;
  const HiveError e = loadPrimary(path, mode, buf);
  if (e != HiveError::None) return fail<std::unique_ptr<HiveFile>>(e);
  // Only a hive that needs recovery goes looking for its logs.
  if (!needsRecovery(std::span<const std::uint8_t>(buf.data(), buf.size())))
    return HiveFileImpl::fromBytes(std::move(buf), mode, path);
  const std::vector<std::filesystem::path> logs = findLogs(path);
  return openRecovering(std::move(buf), path, logs, mode);
}

HiveResult<std::unique_ptr<HiveFile>> HiveFile::openWithLogs(const std::filesystem::path& path,
                                                             std::span<const std::filesystem::path> logs,
                                                             OpenMode mode) {
  ByteBuffer buf;
  const HiveError e = loadPrimary(path, mode, buf);
  if (e != HiveError::None) return fail<std::unique_ptr<HiveFile>>(e);
  return openRecovering(std::move(buf), path, logs, mode);
}

std::vector<std::filesystem::path> HiveFile::findLogs(const std::filesystem::path& hivePath) {
  std::vector<std::filesystem::path> found;
  std::error_code ec;
  const std::filesystem::path dir = hivePath.has_parent_path() ? hivePath.parent_path() : std::filesystem::path(".");
  const std::string base = hivePath.filename().string();
  for (const char* suffix : {".LOG1", ".LOG2", ".LOG"}) {
    std::filesystem::path exact = hivePath;
    exact += suffix;
    if (std::filesystem::is_regular_file(exact, ec)) {
      found.push_back(exact);
      continue;
    }
    // Copied off a Windows disk, "NTUSER.DAT" may come with "ntuser.dat.LOG1".
    // The folder is read for it only when the exact name is missing, and not
    // without end.
    const std::string want = base + suffix;
    std::size_t seen = 0;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end && seen < 100000;
         it.increment(ec), ++seen) {
      if (sameNameIgnoringCase(it->path().filename().string(), want) && it->is_regular_file(ec)) {
        found.push_back(it->path());
        break;
      }
    }
  }
  return found;
}

HiveResult<std::unique_ptr<HiveFile>> HiveFile::openBytes(std::span<const std::uint8_t> bytes, OpenMode mode) {
  ByteBuffer buf;
  if (!buf.resize(bytes.size())) return fail<std::unique_ptr<HiveFile>>(HiveError::OutOfMemory);
  if (!bytes.empty()) std::memcpy(buf.data(), bytes.data(), bytes.size());
  return HiveFileImpl::fromBytes(std::move(buf), mode, {});
}

HiveResult<std::unique_ptr<HiveFile>> HiveFile::openBytesWithLogs(std::span<const std::uint8_t> bytes,
                                                                  std::span<const std::span<const std::uint8_t>> logs,
                                                                  OpenMode mode) {
  ByteBuffer buf;
  if (!buf.resize(bytes.size())) return fail<std::unique_ptr<HiveFile>>(HiveError::OutOfMemory);
  if (!bytes.empty()) std::memcpy(buf.data(), bytes.data(), bytes.size());
  auto opened = HiveFileImpl::fromBytesAndLogs(std::move(buf), mode, {}, logs);
  if (logs.empty()) return opened;
  // As in openRecovering(): a replay that breaks the hive is dropped.
  return unlessReplayBroke(std::move(opened), mode, {}, [&](ByteBuffer& again) {
    if (!again.resize(bytes.size())) return false;
    if (!bytes.empty()) std::memcpy(again.data(), bytes.data(), bytes.size());
    return true;
  });
}

HiveResult<std::unique_ptr<HiveFile>> HiveFile::createEmpty(std::u16string_view rootName) {
  if (rootName.size() > kMaxKeyNameUnits) return fail<std::unique_ptr<HiveFile>>(HiveError::InvalidArgument);
  const FileTime now = nowFileTime();
  ByteBuffer buf;
  if (!buf.resize(kBaseBlockSize + kBinAlign)) return fail<std::unique_ptr<HiveFile>>(HiveError::OutOfMemory);
  std::uint8_t* b = buf.data();
  std::memset(b, 0, buf.size());
  std::memcpy(b, "regf", 4);
  storeU32(b + bb::Sequence1, 1);
  storeU32(b + bb::Sequence2, 1);
  storeU64(b + bb::Time, now);
  storeU32(b + bb::Major, 1);
  storeU32(b + bb::Minor, 5);
  storeU32(b + bb::Format, 1);
  storeU32(b + bb::Root, kNoCell);
  storeU32(b + bb::BinsSize, kBinAlign);
  storeU32(b + bb::Cluster, 1);
  storeU32(b + bb::Checksum, baseBlockChecksum(b));
  std::uint8_t* h = b + kBaseBlockSize;
  std::memcpy(h, "hbin", 4);
  storeU32(h + 8, kBinAlign);
  storeU64(h + 20, now);
  storeU32(h + kBinHeaderSize, kBinAlign - kBinHeaderSize);  // one free cell

  auto hive = std::make_unique<HiveFileImpl>();
  hive->image_.load(std::move(buf), kBinAlign, 4);
  hive->image_.enableAllocation();
  hive->minor_ = 5;
  hive->readOnly_ = false;

  bool compressed = false;
  const std::uint32_t rootOff = hive->allocName(nk::Name, rootName, compressed);
  const std::vector<std::uint8_t> sd = defaultSecurity();
  const std::uint32_t skOff = hive->alloc(sk::Descriptor + sd.size());
  if (rootOff == kNoCell || skOff == kNoCell) return fail<std::unique_ptr<HiveFile>>(HiveError::OutOfMemory);
  std::uint8_t* s = hive->image_.payload(skOff);
  std::memcpy(s, "sk", 2);
  storeU32(s + sk::Flink, skOff);
  storeU32(s + sk::Blink, skOff);
  storeU32(s + sk::RefCount, 1);
  storeU32(s + sk::Size, static_cast<std::uint32_t>(sd.size()));
  std::memcpy(s + sk::Descriptor, sd.data(), sd.size());

  std::uint8_t* n = hive->image_.payload(rootOff);
  storeU16(n + nk::Flags, static_cast<std::uint16_t>(0x000C | (compressed ? nk::FlagCompName : 0)));
  storeU64(n + nk::Time, now);
  storeU32(n + nk::Parent, 0);
  storeU32(n + nk::SubkeyList, kNoCell);
  storeU32(n + nk::VolatileList, kNoCell);
  storeU32(n + nk::ValueList, kNoCell);
  storeU32(n + nk::Security, skOff);
  storeU32(n + nk::Class, kNoCell);
  hive->root_ = rootOff;
  storeU32(hive->image_.base() + bb::Root, rootOff);
  hive->modified_ = true;
  return std::unique_ptr<HiveFile>(std::move(hive));
}

HiveResult<std::unique_ptr<HiveFile>> HiveFileImpl::fromBytesAndLogs(
    ByteBuffer bytes, OpenMode mode, std::filesystem::path path, std::span<const std::span<const std::uint8_t>> logs) {
  LogReplayInfo replay;
  if (!logs.empty() && needsRecovery(std::span<const std::uint8_t>(bytes.data(), bytes.size()))) {
    if (bytes.mapped()) {
      // Replay works on a private copy; the mapped file is never written.
      ByteBuffer copy;
      if (!copy.resize(bytes.size())) return HiveResult<std::unique_ptr<HiveFile>>::failure(Fail::OutOfMemory);
      std::memcpy(copy.data(), bytes.data(), bytes.size());
      bytes = std::move(copy);
    }
    replay = replayLogs(bytes, logs);
  }
  return fromBytes(std::move(bytes), mode, std::move(path), std::move(replay));
}

HiveResult<std::unique_ptr<HiveFile>> HiveFileImpl::fromBytes(ByteBuffer bytes, OpenMode mode,
                                                               std::filesystem::path path, LogReplayInfo replay) {
  using R = HiveResult<std::unique_ptr<HiveFile>>;
  if (bytes.size() < kBaseBlockSize || std::memcmp(bytes.data(), "regf", 4) != 0) return R::failure(Fail::NotAHive);
  const std::uint8_t* b = bytes.data();
  const std::uint32_t major = loadU32(b + bb::Major);
  const std::uint32_t minor = loadU32(b + bb::Minor);
  if (major != 1 || minor > 6 || minor < 1) {
    // Unknown versions still read when the layout is the familiar one.
    if (major != 1) return R::failure(Fail::NotAHive);
  }
  const bool checksumOk = baseBlockChecksum(b) == loadU32(b + bb::Checksum);
  const bool dirty = loadU32(b + bb::Sequence1) != loadU32(b + bb::Sequence2);
  const std::uint32_t declared = loadU32(b + bb::BinsSize);
  const std::uint32_t rootOff = loadU32(b + bb::Root);

  const std::size_t fileBytes = bytes.size();
  auto hive = std::make_unique<HiveFileImpl>();
  hive->minor_ = std::min<std::uint32_t>(std::max<std::uint32_t>(minor, 1), 6);
  hive->path_ = std::move(path);
  const HiveImage::ScanResult scan = hive->image_.load(std::move(bytes), declared, minor == 1 ? 8 : 4);
  if (scan.binsSize == 0) return R::failure(Fail::Corrupt);
  hive->root_ = rootOff;
  if (hive->nkAt(rootOff).empty()) return R::failure(Fail::Corrupt);
  const bool treeSound = hive->checkTree();
  hive->damaged_ = scan.damaged || !checksumOk || replay.incomplete || !treeSound;
  hive->replay_ = std::move(replay);
  // Format 1.1 cells carry a back link we do not maintain, so such hives are
  // only read. Other minors we do not know are read the 1.5 way, not written.
  const bool writableFormat = minor >= 2 && minor <= 6;
  hive->readOnly_ = mode == OpenMode::ReadOnly || dirty || hive->damaged_ || !writableFormat;
  if (!hive->readOnly_) {
    // The buffer still holds the whole file: bins appended later overwrite
    // what lies past the hive's end, so it is copied out first.
    const std::size_t end = hive->image_.bytes();
    if (fileBytes > end) {
      hive->slack_.assign(hive->image_.base() + end, hive->image_.base() + fileBytes);
      hive->slackAt_ = end;
    }
    hive->image_.enableAllocation();
  }
  return R(std::unique_ptr<HiveFile>(std::move(hive)));
}

// ---------------------------------------------------------------- ids

std::uint32_t HiveFileImpl::offOf(std::uint32_t id) const {
  if (idToOff_.empty()) return id;
  if (auto it = idToOff_.find(id); it != idToOff_.end()) return it->second;
  // The cell at this offset belongs to another id: this one is stale.
  if (offToId_.count(id)) return kNoCell;
  return id;
}

std::uint32_t HiveFileImpl::idOf(std::uint32_t off) const {
  if (offToId_.empty()) return off;
  auto it = offToId_.find(off);
  return it == offToId_.end() ? off : it->second;
}

std::uint32_t HiveFileImpl::newIdFor(std::uint32_t off) {
  // A new cell at an offset that is still the id of a moved key or value gets
  // an id no offset can be: offsets are multiples of 8.
  if (!idToOff_.count(off)) return off;
  const std::uint32_t id = (++nextSynthetic_ << 3) | 1u;
  idToOff_[id] = off;
  offToId_[off] = id;
  return id;
}

void HiveFileImpl::moveId(std::uint32_t oldOff, std::uint32_t newOff) {
  const std::uint32_t id = idOf(oldOff);
  offToId_.erase(oldOff);
  if (id == newOff) {
    idToOff_.erase(id);
  } else {
    idToOff_[id] = newOff;
    offToId_[newOff] = id;
  }
}

void HiveFileImpl::dropId(std::uint32_t off) {
  auto it = offToId_.find(off);
  if (it != offToId_.end()) {
    idToOff_.erase(it->second);
    offToId_.erase(it);
  }
}

// ---------------------------------------------------------------- reading

ByteView HiveFileImpl::nkAt(std::uint32_t off) const {
  ByteView v = image_.cell(off);
  if (v.size() < nk::Name || !v.sig(0, 'n', 'k')) return {};
  return v;
}

ByteView HiveFileImpl::vkAt(std::uint32_t off) const {
  ByteView v = image_.cell(off);
  if (v.size() < vk::Name || !v.sig(0, 'v', 'k')) return {};
  return v;
}

ByteView HiveFileImpl::keyCell(KeyId key, std::uint32_t* off) const {
  const std::uint32_t o = offOf(key);
  if (off) *off = o;
  return o == kNoCell ? ByteView() : nkAt(o);
}

ByteView HiveFileImpl::valueCell(ValueId value, std::uint32_t* off) const {
  const std::uint32_t o = offOf(value);
  if (off) *off = o;
  return o == kNoCell ? ByteView() : vkAt(o);
}

bool HiveFileImpl::readName(ByteView cell, std::size_t at, std::size_t len, bool compressed, std::u16string& out) {
  if (!cell.has(at, len)) return false;
  const std::uint8_t* p = cell.data() + at;
  if (compressed) {
    out.resize(len);
    for (std::size_t i = 0; i < len; ++i) out[i] = p[i];
  } else {
    // An odd byte count leaves half a unit, which is dropped.
    out.resize(len / 2);
    for (std::size_t i = 0; i < len / 2; ++i) out[i] = loadU16(p + 2 * i);
  }
  return true;
}

bool HiveFileImpl::nkName(ByteView nkv, std::u16string& out) const {
  const bool comp = minor_ > 1 && (nkv.u16(nk::Flags) & nk::FlagCompName);
  return readName(nkv, nk::Name, nkv.u16(nk::NameLen), comp, out);
}

bool HiveFileImpl::vkName(ByteView vkv, std::u16string& out) const {
  const bool comp = minor_ > 1 && (vkv.u16(vk::Flags) & vk::FlagCompName);
  return readName(vkv, vk::Name, vkv.u16(vk::NameLen), comp, out);
}

namespace {
bool rawNameEquals(ByteView cell, std::size_t at, std::size_t len, bool comp, std::u16string_view name) {
  if (!cell.has(at, len)) return false;
  const std::uint8_t* p = cell.data() + at;
  const std::size_t units = comp ? len : len / 2;
  if (units != name.size()) return false;
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t c = comp ? p[i] : loadU16(p + 2 * i);
    if (c != name[i] && upcaseUnit(c) != upcaseUnit(name[i])) return false;
  }
  return true;
}
}  // namespace

bool HiveFileImpl::nkNameEquals(ByteView nkv, std::u16string_view name) const {
  const bool comp = minor_ > 1 && (nkv.u16(nk::Flags) & nk::FlagCompName);
  return rawNameEquals(nkv, nk::Name, nkv.u16(nk::NameLen), comp, name);
}

bool HiveFileImpl::vkNameEquals(ByteView vkv, std::u16string_view name) const {
  const bool comp = minor_ > 1 && (vkv.u16(vk::Flags) & vk::FlagCompName);
  return rawNameEquals(vkv, vk::Name, vkv.u16(vk::NameLen), comp, name);
}

namespace {
// Bytes per entry of a sub-key leaf (a key offset, and a hash or hint in the
// hashed kinds); 0 for a cell that is no leaf.
std::size_t leafStride(ByteView leaf) {
  if (leaf.sig(0, 'l', 'h') || leaf.sig(0, 'l', 'f')) return 8;
  if (leaf.sig(0, 'l', 'i')) return 4;
  return 0;
}
}  // namespace

bool HiveFileImpl::collectLeaf(ByteView leaf, std::uint32_t keyOff, std::uint32_t limit,
                               std::vector<std::uint32_t>& out) const {
  const std::size_t stride = leafStride(leaf);
  if (stride == 0) return false;
  std::size_t n = leaf.u16(2);
  bool sound = true;
  if (n > (leaf.size() - 4) / stride) {
    n = (leaf.size() - 4) / stride;
    sound = false;
  }
  const std::uint8_t* p = leaf.data() + 4;
  for (std::size_t i = 0; i < n && out.size() < limit; ++i, p += stride) {
    const std::uint32_t child = loadU32(p);
    ByteView c = nkAt(child);
    // A child that names another parent, the root, or shows up twice would
    // turn the tree into a graph; such entries are skipped.
    if (!isChildOf(keyOff, child, c) || image_.testAndMark(child)) {
      sound = false;
      continue;
    }
    out.push_back(child);
  }
  return sound;
}

std::uint32_t HiveFileImpl::parentOf(std::uint32_t off, ByteView nkv) const {
  if (!adopted_.empty())
    if (auto it = adopted_.find(off); it != adopted_.end()) return it->second;
  return nkv.u32(nk::Parent);
}

namespace {
// Units of a key node's name. Windows never writes a key without one: such a
// child would open as its own parent, so it is never listed.
std::size_t nkNameUnits(ByteView c, unsigned minor) {
  const std::size_t len = c.u16(nk::NameLen);
  return minor > 1 && (c.u16(nk::Flags) & nk::FlagCompName) ? len : len / 2;
}
}  // namespace

bool HiveFileImpl::isChildOf(std::uint32_t keyOff, std::uint32_t child, ByteView c) const {
  return !c.empty() && child != root_ && parentOf(child, c) == keyOff && nkNameUnits(c, minor_) != 0;
}

// Two bits per 8-byte cell start: used by one owner (keys, lists, values,
// data, class names), or shared (security cells, which keys share by count).
struct HiveFileImpl::CellClaims {
  explicit CellClaims(std::uint32_t bins) : own(bins / 512 + 1, 0), shared(bins / 512 + 1, 0) {}
  std::vector<std::uint64_t> own, shared;
  std::vector<std::uint32_t> cells;  // scratch for dataCells()

  static std::uint64_t bit(std::uint32_t off) { return std::uint64_t{1} << ((off >> 3) & 63); }
  // False when the cell has an owner already or is shared.
  bool claim(std::uint32_t off) {
    std::uint64_t& w = own[off >> 9];
    if ((w | shared[off >> 9]) & bit(off)) return false;
    w |= bit(off);
    return true;
  }
  // False when the cell has an owner.
  bool share(std::uint32_t off) {
    if (own[off >> 9] & bit(off)) return false;
    shared[off >> 9] |= bit(off);
    return true;
  }
};

bool HiveFileImpl::checkTree() {
  bool sound = true;
  const std::uint32_t bins = image_.binsSize();
  std::vector<std::uint64_t> seen(bins / 512 + 1, 0);
  auto visit = [&](std::uint32_t off) {
    std::uint64_t& w = seen[off >> 9];
    const std::uint64_t bit = std::uint64_t{1} << ((off >> 3) & 63);
    const bool was = (w & bit) != 0;
    w |= bit;
    return !was;
  };
  auto visited = [&](std::uint32_t off) { return (seen[off >> 9] >> ((off >> 3) & 63)) & 1u; };
  // Children met with a parent field naming another cell, with the key that
  // listed them, in the order met; and how often each was listed.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> strays;
  std::unordered_map<std::uint32_t, std::uint32_t> listings;
  std::vector<std::uint32_t> pending{root_};
  visit(root_);
  CellClaims claims(bins);

  auto walk = [&] {
    while (!pending.empty()) {
      const std::uint32_t keyOff = pending.back();
      pending.pop_back();
      const ByteView v = nkAt(keyOff);
      if (!checkKeyCells(keyOff, v, claims)) sound = false;
      // Every length a key records is bounded by the cells it describes: a
      // name's 16-bit length field (a compressed name counts two bytes a
      // unit), a class's, and data that must fit in the bins.
      if (v.u32(nk::MaxValueNameLen) > 2 * 0xFFFFu || v.u32(nk::MaxClassLen) > 0xFFFFu ||
          v.u32(nk::MaxValueDataLen) > bins)
        sound = false;
      const std::uint32_t count = v.u32(nk::SubkeyCount);
      if (count == 0) continue;
      std::uint32_t taken = 0;
      auto leafEntries = [&](ByteView leaf) {
        const std::size_t stride = leafStride(leaf);
        if (stride == 0) return void(sound = false);
        const std::size_t n = std::min<std::size_t>(leaf.u16(2), (leaf.size() - 4) / stride);
        for (std::size_t i = 0; i < n && taken < count; ++i) {
          const std::uint32_t child = leaf.u32(4 + stride * i);
          const ByteView c = nkAt(child);
          if (c.empty() || child == root_ || visited(child) || nkNameUnits(c, minor_) == 0) {
            sound = false;
            continue;
          }
          if (parentOf(child, c) != keyOff) {
            sound = false;
            if (listings[child]++ == 0) strays.emplace_back(child, keyOff);
            continue;
          }
          visit(child);
          ++taken;
          pending.push_back(child);
        }
      };
      const ByteView list = image_.cell(v.u32(nk::SubkeyList));
      if (list.sig(0, 'r', 'i')) {
        const std::size_t n = std::min<std::size_t>(list.u16(2), (list.size() - 4) / 4);
        for (std::size_t i = 0; i < n && taken < count; ++i) {
          const ByteView leaf = image_.cell(list.u32(4 + 4 * i));
          if (leaf.sig(0, 'r', 'i')) {
            sound = false;
            continue;
          }
          leafEntries(leaf);
        }
      } else {
        leafEntries(list);
      }
    }
  };

  walk();
  // A child whose parent field is wrong, listed by one key only and not yet
  // in the tree (so not on that key's own path), is read under the key that
  // lists it. Sound links are all followed first, so such a child never
  // takes a key away from a true parent the tree has reached. Only keys not
  // yet seen are taken, and the walk below each may add strays of its own.
  for (std::size_t i = 0; i < strays.size(); ++i) {
    const auto [child, lister] = strays[i];
    if (listings[child] != 1 || visited(child)) continue;
    adopted_[child] = lister;
    visit(child);
    pending.push_back(child);
    walk();
  }
  return sound;
}

bool HiveFileImpl::dataCells(std::uint32_t sizeField, std::uint32_t offField, std::vector<std::uint32_t>& out) const {
  // The same steps as readData(), without the copy.
  out.clear();
  const std::uint32_t size = sizeField & ~vk::Resident;
  if (sizeField & vk::Resident) return size <= 4;
  if (size == 0) return true;
  const ByteView cell = image_.cell(offField);
  if (cell.empty()) return false;
  out.push_back(offField);
  if (!isBigData(size, cell)) return cell.size() >= size;
  const std::size_t segments = cell.u16(2);
  const std::uint32_t listOff = cell.u32(4);
  const ByteView list = image_.cell(listOff);
  if (list.empty() || list.size() / 4 < segments || size > segments * kBigDataSegment) return false;
  out.push_back(listOff);
  std::size_t done = 0;
  for (std::size_t i = 0; i < segments && done < size; ++i) {
    const std::uint32_t segOff = list.u32(4 * i);
    const std::size_t take = std::min({image_.cell(segOff).size(), kBigDataSegment, std::size_t{size} - done});
    if (take == 0) return false;
    out.push_back(segOff);
    done += take;
  }
  return done == size;
}

bool HiveFileImpl::checkKeyCells(std::uint32_t keyOff, ByteView v, CellClaims& claims) const {
  bool sound = claims.claim(keyOff);
  if (!v.has(nk::Name, v.u16(nk::NameLen))) sound = false;
  // A class is there when it has a length; the offset of an empty one means
  // nothing (and is never freed).
  if (v.u16(nk::ClassLen) != 0) {
    const std::uint32_t cls = v.u32(nk::Class);
    if (!image_.isCell(cls) || !claims.claim(cls)) sound = false;
  }
  const std::uint32_t skOff = v.u32(nk::Security);
  const ByteView s = image_.cell(skOff);
  if (s.size() < sk::Descriptor || !s.sig(0, 's', 'k') || s.u32(sk::Size) == 0 ||
      !s.has(sk::Descriptor, s.u32(sk::Size)) || !claims.share(skOff))
    sound = false;
  if (v.u32(nk::SubkeyCount) != 0) {
    // The list cells themselves; checkTree() judges what they hold.
    const std::uint32_t listOff = v.u32(nk::SubkeyList);
    const ByteView list = image_.cell(listOff);
    if (list.empty() || !claims.claim(listOff)) {
      sound = false;
    } else if (list.sig(0, 'r', 'i')) {
      const std::size_t n = std::min<std::size_t>(list.u16(2), (list.size() - 4) / 4);
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t leaf = list.u32(4 + 4 * i);
        if (!image_.isCell(leaf) || !claims.claim(leaf)) sound = false;
      }
    }
  }
  const std::uint32_t count = v.u32(nk::ValueCount);
  if (count == 0 || predefinedHandle(v)) return sound;
  const std::uint32_t listOff = v.u32(nk::ValueList);
  const ByteView list = image_.cell(listOff);
  if (list.empty() || !claims.claim(listOff)) return false;
  if (count > list.size() / 4) sound = false;
  const std::size_t n = std::min<std::size_t>(count, list.size() / 4);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t vkOff = list.u32(4 * i);
    const ByteView val = vkAt(vkOff);
    if (val.empty() || !claims.claim(vkOff)) {
      sound = false;
      continue;
    }
    if (!val.has(vk::Name, val.u16(vk::NameLen))) sound = false;
    if (!dataCells(val.u32(vk::DataSize), val.u32(vk::DataOff), claims.cells)) sound = false;
    for (std::uint32_t c : claims.cells)
      if (!claims.claim(c)) sound = false;
  }
  return sound;
}

bool HiveFileImpl::collectSubkeys(std::uint32_t keyOff, ByteView nkv, std::vector<std::uint32_t>& out) const {
  out.clear();
  const std::uint32_t count = nkv.u32(nk::SubkeyCount);
  if (count == 0) return true;
  ByteView list = image_.cell(nkv.u32(nk::SubkeyList));
  bool sound = true;
  if (list.sig(0, 'r', 'i')) {
    std::size_t n = list.u16(2);
    if (n > (list.size() - 4) / 4) {
      n = (list.size() - 4) / 4;
      sound = false;
    }
    for (std::size_t i = 0; i < n && out.size() < count; ++i) {
      const std::uint32_t leafOff = list.u32(4 + 4 * i);
      ByteView leaf = image_.cell(leafOff);
      // An index root may only point to leaves; one pointing to another index
      // root (or twice to one leaf) is where a cycle would start.
      if (leaf.empty() || leaf.sig(0, 'r', 'i') || image_.testAndMark(leafOff)) {
        sound = false;
        continue;
      }
      scratch_.push_back(leafOff);
      sound = collectLeaf(leaf, keyOff, count, out) && sound;
    }
    for (std::uint32_t l : scratch_) image_.unmark(l);
    scratch_.clear();
  } else {
    sound = collectLeaf(list, keyOff, count, out);
  }
  for (std::uint32_t c : out) image_.unmark(c);
  return sound && out.size() == count;
}

std::uint32_t HiveFileImpl::listedSubkeys(ByteView nkv) const {
  const std::uint32_t count = nkv.u32(nk::SubkeyCount);
  if (count == 0) return 0;
  ByteView list = image_.cell(nkv.u32(nk::SubkeyList));
  auto leafCount = [](ByteView leaf) -> std::size_t {
    if (leaf.sig(0, 'l', 'h') || leaf.sig(0, 'l', 'f')) return std::min<std::size_t>(leaf.u16(2), (leaf.size() - 4) / 8);
    if (leaf.sig(0, 'l', 'i')) return std::min<std::size_t>(leaf.u16(2), (leaf.size() - 4) / 4);
    return 0;
  };
  std::size_t total = 0;
  if (list.sig(0, 'r', 'i')) {
    const std::size_t n = std::min<std::size_t>(list.u16(2), (list.size() - 4) / 4);
    for (std::size_t i = 0; i < n; ++i) {
      ByteView leaf = image_.cell(list.u32(4 + 4 * i));
      if (!leaf.sig(0, 'r', 'i')) total += leafCount(leaf);
    }
  } else {
    total = leafCount(list);
  }
  return static_cast<std::uint32_t>(std::min<std::size_t>(total, count));
}

bool HiveFileImpl::collectValues(ByteView nkv, std::vector<std::uint32_t>& out) const {
  out.clear();
  std::size_t count = nkv.u32(nk::ValueCount);
  if (count == 0) return true;
  ByteView list = image_.cell(nkv.u32(nk::ValueList));
  bool sound = true;
  if (count > list.size() / 4) {
    count = list.size() / 4;
    sound = false;
  }
  out.reserve(count);
  const std::uint8_t* p = list.data();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t v = loadU32(p + 4 * i);
    if (vkAt(v).empty()) {
      sound = false;
      continue;
    }
    out.push_back(v);
  }
  return sound;
}

struct HiveFileImpl::SubkeyIndex {
  std::uint32_t keyOff = kNoCell;
  std::unordered_multimap<std::uint32_t, std::uint32_t> byHash;  // nameHash -> child offset
  // The list was found of the shape insertListEntry() writes; only it has
  // changed the list since.
  bool listShapeKnown = false;
};

namespace {
// Below this many children a scan of the list is as quick as an index.
constexpr std::uint32_t kIndexedSubkeyCount = 64;
}  // namespace

HiveFileImpl::SubkeyIndex* HiveFileImpl::subkeyIndexFor(std::uint32_t keyOff, ByteView nkv) {
  if (nkv.empty() || nkv.u32(nk::SubkeyCount) < kIndexedSubkeyCount) return nullptr;
  if (subkeyIndex_ && subkeyIndex_->keyOff == keyOff) return subkeyIndex_.get();
  subkeyIndex_.reset();
  std::vector<std::uint32_t> children;
  if (!collectSubkeys(keyOff, nkv, children)) return nullptr;
  auto index = std::make_unique<SubkeyIndex>();
  index->keyOff = keyOff;
  index->byHash.reserve(children.size());
  for (std::uint32_t c : children) {
    if (!nkName(nkAt(c), nameScratch_)) return nullptr;
    index->byHash.emplace(nameHash(nameScratch_), c);
  }
  subkeyIndex_ = std::move(index);
  return subkeyIndex_.get();
}

std::uint32_t HiveFileImpl::indexedChild(const SubkeyIndex& index, std::u16string_view name) const {
  const auto [from, to] = index.byHash.equal_range(nameHash(name));
  for (auto it = from; it != to; ++it)
    if (nkNameEquals(nkAt(it->second), name)) return it->second;
  return kNoCell;
}

void HiveFileImpl::dropSubkeyIndex() { subkeyIndex_.reset(); }

std::uint32_t HiveFileImpl::findChild(std::uint32_t keyOff, ByteView nkv, std::u16string_view name) const {
  // A key being filled with many children answers from its index: a scan
  // per new child would make filling it quadratic.
  if (subkeyIndex_ && subkeyIndex_->keyOff == keyOff) return indexedChild(*subkeyIndex_, name);
  // Every open walks a path of these, so this is the engine's hottest lookup:
  // it reads the leaf entries in place instead of collecting the siblings.
  // The first pass only looks at hash-leaf entries whose stored hash equals
  // the name's. Hashes written by other programs can disagree with ours for
  // rare characters (their upper-case table is not ours), so a miss is
  // confirmed by a second pass that compares every name. A child is accepted
  // only when it names this key as its parent, as in collectSubkeys().
  if (nkv.u32(nk::SubkeyCount) == 0) return kNoCell;
  const std::uint32_t hash = nameHash(name);

  auto scanLeaf = [&](ByteView leaf, bool useHash) -> std::uint32_t {
    std::size_t stride;
    const bool hashed = leaf.sig(0, 'l', 'h');
    if (hashed || leaf.sig(0, 'l', 'f'))
      stride = 8;
    else if (leaf.sig(0, 'l', 'i'))
      stride = 4;
    else
      return kNoCell;
    const std::size_t n = std::min<std::size_t>(leaf.u16(2), (leaf.size() - 4) / stride);
    const std::uint8_t* p = leaf.data() + 4;
    for (std::size_t i = 0; i < n; ++i, p += stride) {
      if (useHash && (!hashed || loadU32(p + 4) != hash)) continue;
      const std::uint32_t child = loadU32(p);
      ByteView c = nkAt(child);
      if (!isChildOf(keyOff, child, c)) continue;
      if (nkNameEquals(c, name)) return child;
    }
    return kNoCell;
  };

  auto scan = [&](bool useHash) -> std::uint32_t {
    ByteView list = image_.cell(nkv.u32(nk::SubkeyList));
    if (!list.sig(0, 'r', 'i')) return scanLeaf(list, useHash);
    const std::size_t n = std::min<std::size_t>(list.u16(2), (list.size() - 4) / 4);
    for (std::size_t i = 0; i < n; ++i) {
      ByteView leaf = image_.cell(list.u32(4 + 4 * i));
      // Only leaves below an index root; a nested root is never followed.
      if (leaf.empty() || leaf.sig(0, 'r', 'i')) continue;
      const std::uint32_t found = scanLeaf(leaf, useHash);
      if (found != kNoCell) return found;
    }
    return kNoCell;
  };

  const std::uint32_t found = scan(true);
  return found != kNoCell ? found : scan(false);
}

struct HiveFileImpl::ValueIndex {
  std::uint32_t keyOff = kNoCell;
  std::vector<std::uint32_t> offs;  // as collectValues gives them
  // Name hash -> positions in offs of the values of that hash. Names are
  // compared in the cells: a key of many values keeps no copy of them.
  std::unordered_multimap<std::uint32_t, std::uint32_t> byHash;

  // The first value of that name, as a scan finds it.
  std::uint32_t find(const HiveFileImpl& hive, std::u16string_view name) const {
    const auto [from, to] = byHash.equal_range(nameHash(name));
    std::uint32_t first = kNoCell;
    for (auto it = from; it != to; ++it)
      if (it->second < first && hive.vkNameEquals(hive.vkAt(offs[it->second]), name)) first = it->second;
    return first == kNoCell ? kNoCell : offs[first];
  }
};

namespace {
// Below this many values a scan is as quick as keeping an index.
constexpr std::uint32_t kIndexedValueCount = 64;
}  // namespace

HiveFileImpl::HiveFileImpl() = default;
HiveFileImpl::~HiveFileImpl() = default;

void HiveFileImpl::dropValueIndex() const { valueIndex_.reset(); }

const HiveFileImpl::ValueIndex* HiveFileImpl::valueIndexFor(std::uint32_t keyOff, ByteView nkv) const {
  if (nkv.empty() || nkv.u32(nk::ValueCount) < kIndexedValueCount) return nullptr;
  if (valueIndex_ && valueIndex_->keyOff == keyOff) return valueIndex_.get();
  auto index = std::make_unique<ValueIndex>();
  index->keyOff = keyOff;
  collectValues(nkv, index->offs);
  index->byHash.reserve(index->offs.size());
  std::u16string name;
  for (std::size_t i = 0; i < index->offs.size(); ++i) {
    // A name that cannot be read matches nothing, as in a scan.
    if (!vkName(vkAt(index->offs[i]), name)) continue;
    index->byHash.emplace(nameHash(name), static_cast<std::uint32_t>(i));
  }
  valueIndex_ = std::move(index);
  return valueIndex_.get();
}

std::uint32_t HiveFileImpl::findValueOff(ByteView nkv, std::u16string_view name, std::size_t* index) const {
  std::vector<std::uint32_t> vals;
  collectValues(nkv, vals);
  for (std::size_t i = 0; i < vals.size(); ++i) {
    if (vkNameEquals(vkAt(vals[i]), name)) {
      if (index) *index = i;
      return vals[i];
    }
  }
  return kNoCell;
}

bool HiveFileImpl::isBigData(std::uint32_t size, ByteView cell) const {
  return minor_ >= 4 && size > kBigDataSegment && cell.size() >= 8 && cell.sig(0, 'd', 'b');
}

HiveStatus HiveFileImpl::readData(ByteView vkv, std::vector<std::uint8_t>& out) const {
  const std::uint32_t raw = vkv.u32(vk::DataSize);
  const std::uint32_t size = raw & ~vk::Resident;
  out.clear();
  if (raw & vk::Resident) {
    if (size > 4) return Fail::Corrupt;
    out.assign(vkv.data() + vk::DataOff, vkv.data() + vk::DataOff + size);
    return {};
  }
  if (size == 0) return {};
  ByteView cell = image_.cell(vkv.u32(vk::DataOff));
  if (cell.empty()) return Fail::Corrupt;
  if (isBigData(size, cell)) {
    const std::size_t segments = cell.u16(2);
    ByteView list = image_.cell(cell.u32(4));
    if (list.size() / 4 < segments) return Fail::Corrupt;
    // The declared size comes from the file: never allocate more than the
    // segments can hold (a hostile size would cost up to 2 GiB per read).
    if (size > segments * kBigDataSegment) return Fail::Corrupt;
    out.resize(size);
    std::size_t done = 0;
    for (std::size_t i = 0; i < segments && done < size; ++i) {
      ByteView seg = image_.cell(list.u32(4 * i));
      const std::size_t take = std::min({seg.size(), kBigDataSegment, std::size_t{size} - done});
      if (take == 0) return Fail::Corrupt;
      std::memcpy(out.data() + done, seg.data(), take);
      done += take;
    }
    if (done != size) {
      out.clear();
      return Fail::Corrupt;
    }
    return {};
  }
  if (cell.size() < size) return Fail::Corrupt;
  out.assign(cell.data(), cell.data() + size);
  return {};
}

BaseBlockInfo HiveFileImpl::baseBlock() const {
  const std::uint8_t* b = image_.base();
  BaseBlockInfo info;
  info.primarySequence = loadU32(b + bb::Sequence1);
  info.secondarySequence = loadU32(b + bb::Sequence2);
  info.lastWritten = loadU64(b + bb::Time);
  info.majorVersion = loadU32(b + bb::Major);
  info.minorVersion = loadU32(b + bb::Minor);
  info.fileType = loadU32(b + bb::Type);
  info.fileFormat = loadU32(b + bb::Format);
  info.rootCellOffset = root_;
  info.hiveBinsDataSize = loadU32(b + bb::BinsSize);
  for (std::size_t i = 0; i < bb::FileNameSize; i += 2) {
    const char16_t c = loadU16(b + bb::FileName + i);
    if (c == 0) break;
    info.fileName.push_back(c);
  }
  info.checksum = loadU32(b + bb::Checksum);
  info.checksumValid = baseBlockChecksum(b) == info.checksum;
  return info;
}

HiveResult<KeyInfo> HiveFileImpl::keyInfo(KeyId key) const {
  ByteView v = keyCell(key);
  if (v.empty()) return fail<KeyInfo>(Fail::NotFound);
  KeyInfo info;
  if (!nkName(v, info.name)) return fail<KeyInfo>(Fail::Corrupt);
  const std::uint16_t classLen = v.u16(nk::ClassLen);
  if (classLen) {
    ByteView cls = image_.cell(v.u32(nk::Class));
    // A class cell shorter than its recorded length gives what it holds.
    readName(cls, 0, std::min<std::size_t>(classLen, cls.size()) & ~std::size_t{1}, false, info.className);
  }
  info.lastWritten = v.u64(nk::Time);
  info.flags = v.u16(nk::Flags);
  info.subkeyCount = listedSubkeys(v);
  {
    const std::uint32_t count = v.u32(nk::ValueCount);
    info.valueCount = count == 0 ? 0 : static_cast<std::uint32_t>(std::min<std::size_t>(count, image_.cell(v.u32(nk::ValueList)).size() / 4));
  }
  info.maxSubkeyNameLength = (v.u32(nk::MaxNameLen) & 0xFFFF) / 2;
  info.maxClassNameLength = v.u32(nk::MaxClassLen) / 2;
  info.maxValueNameLength = v.u32(nk::MaxValueNameLen) / 2;
  info.maxValueDataSize = v.u32(nk::MaxValueDataLen);
  ByteView s = image_.cell(v.u32(nk::Security));
  if (s.size() >= sk::Descriptor && s.sig(0, 's', 'k') && s.has(sk::Descriptor, s.u32(sk::Size)))
    info.securitySize = s.u32(sk::Size);
  return info;
}

HiveResult<std::optional<KeyId>> HiveFileImpl::parent(KeyId key) const {
  using R = HiveResult<std::optional<KeyId>>;
  std::uint32_t off;
  ByteView v = keyCell(key, &off);
  if (v.empty()) return R::failure(Fail::NotFound);
  if (off == root_) return R(std::nullopt);
  const std::uint32_t p = parentOf(off, v);
  if (nkAt(p).empty()) return R::failure(Fail::Corrupt);
  return R(std::optional<KeyId>(idOf(p)));
}

HiveStatus HiveFileImpl::subkeysInto(KeyId key, std::vector<KeyId>& out) const {
  std::uint32_t off;
  ByteView v = keyCell(key, &off);
  out.clear();
  if (v.empty()) return Fail::NotFound;
  collectSubkeys(off, v, out);
  if (!offToId_.empty())
    for (auto& c : out) c = idOf(c);
  return {};
}

HiveResult<std::vector<KeyId>> HiveFileImpl::subkeys(KeyId key) const {
  std::vector<KeyId> out;
  const HiveStatus st = subkeysInto(key, out);
  if (!st) return fail<std::vector<KeyId>>(st.error());
  return out;
}

HiveResult<KeyId> HiveFileImpl::findSubkey(KeyId parentId, std::u16string_view name) const {
  std::uint32_t off;
  ByteView v = keyCell(parentId, &off);
  if (v.empty()) return fail<KeyId>(Fail::NotFound);
  const std::uint32_t c = findChild(off, v, name);
  if (c == kNoCell) return fail<KeyId>(Fail::NotFound);
  return idOf(c);
}

HiveStatus HiveFileImpl::valuesInto(KeyId key, std::vector<ValueId>& out) const {
  ByteView v = keyCell(key);
  out.clear();
  if (v.empty()) return Fail::NotFound;
  if (v.u16(nk::Flags) & 0x0040) return {};  // a predefined handle keeps a handle in the count
  collectValues(v, out);
  if (!offToId_.empty())
    for (auto& c : out) c = idOf(c);
  return {};
}

HiveResult<std::vector<ValueId>> HiveFileImpl::values(KeyId key) const {
  std::vector<ValueId> out;
  const HiveStatus st = valuesInto(key, out);
  if (!st) return fail<std::vector<ValueId>>(st.error());
  return out;
}

HiveResult<ValueId> HiveFileImpl::valueAt(KeyId key, std::size_t position) const {
  std::uint32_t keyOff;
  ByteView v = keyCell(key, &keyOff);
  if (v.empty()) return fail<ValueId>(Fail::NotFound);
  if (v.u16(nk::Flags) & 0x0040) return fail<ValueId>(Fail::NotFound);  // as valuesInto: no values
  if (const ValueIndex* index = valueIndexFor(keyOff, v)) {
    if (position >= index->offs.size()) return fail<ValueId>(Fail::NotFound);
    return idOf(index->offs[position]);
  }
  std::vector<std::uint32_t> offs;
  collectValues(v, offs);
  if (position >= offs.size()) return fail<ValueId>(Fail::NotFound);
  return idOf(offs[position]);
}

HiveResult<ValueId> HiveFileImpl::findValue(KeyId key, std::u16string_view name) const {
  std::uint32_t keyOff;
  ByteView v = keyCell(key, &keyOff);
  if (v.empty()) return fail<ValueId>(Fail::NotFound);
  const ValueIndex* index = valueIndexFor(keyOff, v);
  const std::uint32_t off = index ? index->find(*this, name) : findValueOff(v, name);
  if (off == kNoCell) return fail<ValueId>(Fail::NotFound);
  return idOf(off);
}

HiveStatus HiveFileImpl::keyNameInto(KeyId key, std::u16string& out) const {
  ByteView v = keyCell(key);
  if (v.empty()) return Fail::NotFound;
  if (!nkName(v, out)) return Fail::Corrupt;
  return {};
}

HiveStatus HiveFileImpl::valueInfoInto(ValueId value, ValueInfo& out) const {
  ByteView v = valueCell(value);
  if (v.empty()) return Fail::NotFound;
  if (!vkName(v, out.name)) return Fail::Corrupt;
  out.type = v.u32(vk::Type);
  out.dataSize = v.u32(vk::DataSize) & ~vk::Resident;
  return {};
}

HiveResult<ValueInfo> HiveFileImpl::valueInfo(ValueId value) const {
  ValueInfo info;
  const HiveStatus st = valueInfoInto(value, info);
  if (!st) return fail<ValueInfo>(st.error());
  return info;
}

HiveStatus HiveFileImpl::valueDataInto(ValueId value, std::vector<std::uint8_t>& out) const {
  ByteView v = valueCell(value);
  if (v.empty()) {
    out.clear();
    return Fail::NotFound;
  }
  return readData(v, out);
}

HiveResult<std::vector<std::uint8_t>> HiveFileImpl::valueData(ValueId value) const {
  std::vector<std::uint8_t> out;
  const HiveStatus st = valueDataInto(value, out);
  if (!st) return fail<std::vector<std::uint8_t>>(st.error());
  return out;
}

HiveResult<std::vector<std::uint8_t>> HiveFileImpl::security(KeyId key) const {
  ByteView v = keyCell(key);
  if (v.empty()) return fail<std::vector<std::uint8_t>>(Fail::NotFound);
  ByteView s = image_.cell(v.u32(nk::Security));
  if (s.size() < sk::Descriptor || !s.sig(0, 's', 'k')) return fail<std::vector<std::uint8_t>>(Fail::Corrupt);
  const auto bytes = s.sub(sk::Descriptor, s.u32(sk::Size));
  if (bytes.empty()) return fail<std::vector<std::uint8_t>>(Fail::Corrupt);
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

// ---------------------------------------------------------------- writing helpers

HiveStatus HiveFileImpl::writable() const { return readOnly_ ? HiveStatus(Fail::ReadOnly) : HiveStatus(); }

void HiveFileImpl::touch(std::uint32_t keyOff) {
  storeU64(image_.payload(keyOff) + nk::Time, nowFileTime());
  modified_ = true;
}

std::uint32_t HiveFileImpl::alloc(std::size_t payload) {
  modified_ = true;
  return image_.alloc(payload, nowFileTime());
}

std::uint32_t HiveFileImpl::allocName(std::size_t fixed, std::u16string_view name, bool& compressed) {
  compressed = fitsLatin1(name);
  const std::size_t bytes = compressed ? name.size() : name.size() * 2;
  const std::uint32_t off = alloc(fixed + bytes);
  if (off == kNoCell) return off;
  std::uint8_t* p = image_.payload(off);
  if (fixed == nk::Name) {
    std::memcpy(p, "nk", 2);
    storeU16(p + nk::NameLen, static_cast<std::uint16_t>(bytes));
  } else {
    std::memcpy(p, "vk", 2);
    storeU16(p + vk::NameLen, static_cast<std::uint16_t>(bytes));
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (compressed)
      p[fixed + i] = static_cast<std::uint8_t>(name[i]);
    else
      storeU16(p + fixed + 2 * i, name[i]);
  }
  return off;
}

HiveStatus HiveFileImpl::storeData(std::span<const std::uint8_t> data, std::uint32_t& sizeField,
                                   std::uint32_t& offField) {
  const std::size_t n = data.size();
  if (n <= 4) {
    // Small data lives in the offset field itself.
    std::uint8_t inl[4] = {0, 0, 0, 0};
    if (n) std::memcpy(inl, data.data(), n);
    sizeField = static_cast<std::uint32_t>(n) | vk::Resident;
    offField = loadU32(inl);
    return {};
  }
  if (minor_ < 4 || n <= kBigDataSegment) {
    if (n > 0x7FFF0000u) return Fail::TooLarge;
    const std::uint32_t c = alloc(n);
    if (c == kNoCell) return Fail::TooLarge;
    std::memcpy(image_.payload(c), data.data(), n);
    sizeField = static_cast<std::uint32_t>(n);
    offField = c;
    return {};
  }
  const std::size_t segments = (n + kBigDataSegment - 1) / kBigDataSegment;
  if (segments > kMaxBigDataSegments) return Fail::TooLarge;
  // Segment cells carry 4 bytes beyond their data, as Windows writes them
  // (a full one is exactly a 16,352-byte cell); readers such as libhivex
  // count on that slack when they size the last segment. They are laid out
  // back to back in order, which other readers assume.
  std::vector<std::size_t> sizes(segments, kBigDataSegment + 4);
  sizes.back() = n - (segments - 1) * kBigDataSegment + 4;
  std::vector<std::uint32_t> segs;
  modified_ = true;
  if (!image_.allocRun(sizes, nowFileTime(), segs)) return Fail::TooLarge;
  auto undo = [&] {
    for (std::uint32_t s : segs) image_.release(s);
  };
  for (std::size_t i = 0; i < segments; ++i)
    std::memcpy(image_.payload(segs[i]), data.data() + i * kBigDataSegment, sizes[i] - 4);
  const std::uint32_t list = alloc(4 * segments);
  const std::uint32_t db = list == kNoCell ? kNoCell : alloc(8);
  if (db == kNoCell) {
    image_.release(list);
    undo();
    return Fail::TooLarge;
  }
  std::uint8_t* l = image_.payload(list);
  for (std::size_t i = 0; i < segments; ++i) storeU32(l + 4 * i, segs[i]);
  std::uint8_t* d = image_.payload(db);
  std::memcpy(d, "db", 2);
  storeU16(d + 2, static_cast<std::uint16_t>(segments));
  storeU32(d + 4, list);
  sizeField = static_cast<std::uint32_t>(n);
  offField = db;
  return {};
}

void HiveFileImpl::freeData(std::uint32_t sizeField, std::uint32_t offField) {
  // Only cells the reader could use as this value's data are freed: data it
  // cannot read is left where it is (a leak), never freed on a guess that
  // might hit a cell something else uses.
  std::vector<std::uint32_t> cells;
  if (!dataCells(sizeField, offField, cells)) return;
  for (std::uint32_t c : cells) image_.release(c);
}

void HiveFileImpl::freeList(std::uint32_t listOff) {
  ByteView list = image_.cell(listOff);
  if (list.sig(0, 'r', 'i')) {
    const std::size_t n = std::min<std::size_t>(list.u16(2), (list.size() - 4) / 4);
    std::vector<std::uint32_t> leaves;
    for (std::size_t i = 0; i < n; ++i) leaves.push_back(list.u32(4 + 4 * i));
    for (std::uint32_t l : leaves) {
      ByteView leaf = image_.cell(l);
      if (leaf.sig(0, 'l', 'i') || leaf.sig(0, 'l', 'f') || leaf.sig(0, 'l', 'h')) image_.release(l);
    }
    image_.release(listOff);
  } else if (list.sig(0, 'l', 'i') || list.sig(0, 'l', 'f') || list.sig(0, 'l', 'h')) {
    image_.release(listOff);
  }
}

std::uint32_t HiveFileImpl::entryHash(std::u16string_view name) const {
  switch (leafFor(minor_)) {
    case Leaf::Lh:
      return nameHash(name);
    case Leaf::Lf: {
      // The first four units as bytes; a unit that is not Latin-1 voids the hint.
      std::uint8_t hint[4] = {0, 0, 0, 0};
      for (std::size_t i = 0; i < name.size() && i < 4; ++i) {
        if (name[i] > 0xFF) return 0;
        hint[i] = static_cast<std::uint8_t>(name[i]);
      }
      return loadU32(hint);
    }
    case Leaf::Li:
      return 0;
  }
  return 0;
}

HiveStatus HiveFileImpl::readListEntries(std::uint32_t keyOff, std::vector<ListEntry>& out) {
  out.clear();
  std::vector<std::uint32_t> children;
  ByteView v = nkAt(keyOff);
  if (!collectSubkeys(keyOff, v, children)) return Fail::Corrupt;
  out.reserve(children.size() + 1);
  for (std::uint32_t c : children) {
    if (!nkName(nkAt(c), nameScratch_)) return Fail::Corrupt;
    out.push_back({c, entryHash(nameScratch_)});
  }
  return {};
}

HiveStatus HiveFileImpl::writeSubkeyList(std::uint32_t keyOff, const std::vector<ListEntry>& entries) {
  const std::uint32_t oldList = image_.cell(keyOff).u32(nk::SubkeyList);
  const Leaf kind = leafFor(minor_);
  const std::size_t stride = kind == Leaf::Li ? 4 : 8;
  auto writeLeaf = [&](std::size_t from, std::size_t count) -> std::uint32_t {
    const std::uint32_t off = alloc(4 + stride * count);
    if (off == kNoCell) return off;
    std::uint8_t* p = image_.payload(off);
    std::memcpy(p, kind == Leaf::Lh ? "lh" : (kind == Leaf::Lf ? "lf" : "li"), 2);
    storeU16(p + 2, static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
      storeU32(p + 4 + stride * i, entries[from + i].off);
      if (stride == 8) storeU32(p + 8 + stride * i, entries[from + i].hash);
    }
    return off;
  };
  std::uint32_t newList = kNoCell;
  if (entries.size() > 0xFFFF * kRootLeaf) return Fail::TooLarge;
  if (!entries.empty() && entries.size() <= kMaxLeaf) {
    newList = writeLeaf(0, entries.size());
    if (newList == kNoCell) return Fail::TooLarge;
  } else if (!entries.empty()) {
    const std::size_t leaves = (entries.size() + kRootLeaf - 1) / kRootLeaf;
    std::vector<std::uint32_t> leafOffs;
    for (std::size_t i = 0; i < leaves; ++i) {
      const std::size_t from = i * kRootLeaf;
      const std::uint32_t l = writeLeaf(from, std::min(kRootLeaf, entries.size() - from));
      if (l == kNoCell) {
        for (std::uint32_t x : leafOffs) image_.release(x);
        return Fail::TooLarge;
      }
      leafOffs.push_back(l);
    }
    newList = alloc(4 + 4 * leaves);
    if (newList == kNoCell) {
      for (std::uint32_t x : leafOffs) image_.release(x);
      return Fail::TooLarge;
    }
    std::uint8_t* p = image_.payload(newList);
    std::memcpy(p, "ri", 2);
    storeU16(p + 2, static_cast<std::uint16_t>(leaves));
    for (std::size_t i = 0; i < leaves; ++i) storeU32(p + 4 + 4 * i, leafOffs[i]);
  }
  freeList(oldList);
  std::uint8_t* n = image_.payload(keyOff);
  storeU32(n + nk::SubkeyCount, static_cast<std::uint32_t>(entries.size()));
  storeU32(n + nk::SubkeyList, newList);
  return {};
}

bool HiveFileImpl::insertListEntry(std::uint32_t keyOff, ListEntry entry, std::u16string_view name,
                                   HiveStatus& st, bool& shapeKnown) {
  const Leaf kind = leafFor(minor_);
  const char* sig = kind == Leaf::Lh ? "lh" : (kind == Leaf::Lf ? "lf" : "li");
  const std::size_t stride = kind == Leaf::Li ? 4 : 8;
  auto isOurLeaf = [&](ByteView l) {
    return l.size() >= 4 && l.sig(0, sig[0], sig[1]) && l.u16(2) != 0 && l.u16(2) <= (l.size() - 4) / stride;
  };
  // Sorts before `name`: the child at entry i of a leaf.
  auto before = [&](ByteView leaf, std::size_t i) {
    nkName(nkAt(leaf.u32(4 + stride * i)), nameScratch_);
    return compareKeyNames(nameScratch_, name) < 0;
  };
  const ByteView nkv = nkAt(keyOff);
  const std::uint32_t count = nkv.u32(nk::SubkeyCount);
  const std::uint32_t listOff = nkv.u32(nk::SubkeyList);
  const ByteView list = image_.cell(listOff);
  std::uint32_t rootOff = kNoCell, leafOff = listOff;
  std::size_t slot = 0, leaves = 0;
  if (count == 0 || count == 0xFFFFFFFFu) return false;
  if (list.sig(0, 'r', 'i')) {
    leaves = list.u16(2);
    if (leaves == 0 || leaves > (list.size() - 4) / 4) return false;
    if (!shapeKnown) {
      // Every leaf is checked once; from then on only this function changes
      // the list, and it keeps the shape.
      std::size_t total = 0;
      for (std::size_t i = 0; i < leaves; ++i) {
        const ByteView l = image_.cell(list.u32(4 + 4 * i));
        if (!isOurLeaf(l)) return false;
        total += l.u16(2);
      }
      if (total != count) return false;
    }
    // The first leaf whose last child sorts after the name takes it; past
    // every leaf, the last one does.
    std::size_t lo = 0, hi = leaves - 1;
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      const ByteView l = image_.cell(list.u32(4 + 4 * mid));
      if (before(l, l.u16(2) - 1u))
        lo = mid + 1;
      else
        hi = mid;
    }
    rootOff = listOff;
    slot = lo;
    leafOff = list.u32(4 + 4 * lo);
    if (!isOurLeaf(image_.cell(leafOff))) return false;
  } else if (!isOurLeaf(list) || list.u16(2) != count) {
    return false;
  }

  const ByteView leaf = image_.cell(leafOff);
  const std::size_t n = leaf.u16(2);
  std::size_t pos = 0, hi = n;
  while (pos < hi) {
    const std::size_t mid = (pos + hi) / 2;
    if (before(leaf, mid))
      pos = mid + 1;
    else
      hi = mid;
  }
  auto putEntry = [&](std::uint8_t* at, const ListEntry& e) {
    storeU32(at, e.off);
    if (stride == 8) storeU32(at + 4, e.hash);
  };
  auto tooLarge = [&] {
    st = Fail::TooLarge;
    return true;
  };
  auto leafRoom = [&](std::size_t entries) {
    return std::min(kMaxLeaf, std::max(entries + 1, entries + entries / 2 + 4));
  };

  if (n + 1 <= kMaxLeaf) {
    std::uint32_t target = leafOff;
    if ((leaf.size() - 4) / stride < n + 1) {
      // The leaf grows by half again, up to the most a leaf holds.
      target = alloc(4 + stride * leafRoom(n));
      if (target == kNoCell) return tooLarge();
      std::memcpy(image_.payload(target), image_.payload(leafOff), 4 + stride * n);
    }
    std::uint8_t* p = image_.payload(target);
    std::memmove(p + 4 + stride * (pos + 1), p + 4 + stride * pos, stride * (n - pos));
    putEntry(p + 4 + stride * pos, entry);
    storeU16(p + 2, static_cast<std::uint16_t>(n + 1));
    if (target != leafOff) {
      image_.release(leafOff);
      storeU32(rootOff == kNoCell ? image_.payload(keyOff) + nk::SubkeyList : image_.payload(rootOff) + 4 + 4 * slot,
               target);
    }
  } else {
    // A full leaf of its own becomes an index root: the caller writes that.
    if (rootOff == kNoCell) return false;
    if (leaves + 1 > 0xFFFF) return tooLarge();
    // A full leaf under an index root splits in two halves; the second half
    // goes to a new leaf placed right after it.
    std::vector<ListEntry> all;
    all.reserve(n + 1);
    for (std::size_t i = 0; i < n; ++i)
      all.push_back({leaf.u32(4 + stride * i), stride == 8 ? leaf.u32(8 + stride * i) : 0});
    all.insert(all.begin() + static_cast<std::ptrdiff_t>(pos), entry);
    const std::size_t half = all.size() / 2;
    const std::uint32_t second = alloc(4 + stride * leafRoom(all.size() - half));
    if (second == kNoCell) return tooLarge();
    std::uint32_t root = rootOff;
    if ((image_.cell(rootOff).size() - 4) / 4 < leaves + 1) {
      const std::size_t room = std::min<std::size_t>(0xFFFF, leaves + leaves / 2 + 4);
      root = alloc(4 + 4 * room);
      if (root == kNoCell) {
        image_.release(second);
        return tooLarge();
      }
      std::memcpy(image_.payload(root), image_.payload(rootOff), 4 + 4 * leaves);
    }
    std::uint8_t* a = image_.payload(leafOff);
    for (std::size_t i = 0; i < half; ++i) putEntry(a + 4 + stride * i, all[i]);
    std::memset(a + 4 + stride * half, 0, stride * (n - half));
    storeU16(a + 2, static_cast<std::uint16_t>(half));
    std::uint8_t* b = image_.payload(second);
    std::memcpy(b, sig, 2);
    for (std::size_t i = half; i < all.size(); ++i) putEntry(b + 4 + stride * (i - half), all[i]);
    storeU16(b + 2, static_cast<std::uint16_t>(all.size() - half));
    std::uint8_t* r = image_.payload(root);
    std::memmove(r + 4 + 4 * (slot + 2), r + 4 + 4 * (slot + 1), 4 * (leaves - slot - 1));
    storeU32(r + 4 + 4 * (slot + 1), second);
    storeU16(r + 2, static_cast<std::uint16_t>(leaves + 1));
    if (root != rootOff) {
      image_.release(rootOff);
      storeU32(image_.payload(keyOff) + nk::SubkeyList, root);
    }
  }
  storeU32(image_.payload(keyOff) + nk::SubkeyCount, count + 1);
  st = {};
  shapeKnown = true;
  return true;
}

HiveStatus HiveFileImpl::writeValueList(std::uint32_t keyOff, const std::vector<std::uint32_t>& vals) {
  const std::uint32_t oldList = image_.cell(keyOff).u32(nk::ValueList);
  const std::uint32_t oldCount = image_.cell(keyOff).u32(nk::ValueCount);
  std::uint32_t list = kNoCell;
  if (!vals.empty()) {
    ByteView old = oldCount ? image_.cell(oldList) : ByteView();
    if (!old.empty() && old.size() / 4 >= vals.size()) {
      list = oldList;
    } else {
      // Leave room to grow so appending values one by one stays cheap.
      list = alloc(4 * std::max<std::size_t>(vals.size(), 2 * oldCount));
      if (list == kNoCell) return Fail::TooLarge;
    }
    std::uint8_t* p = image_.payload(list);
    for (std::size_t i = 0; i < vals.size(); ++i) storeU32(p + 4 * i, vals[i]);
  }
  if (oldCount && oldList != list) image_.release(oldList);
  std::uint8_t* n = image_.payload(keyOff);
  storeU32(n + nk::ValueCount, static_cast<std::uint32_t>(vals.size()));
  storeU32(n + nk::ValueList, list);
  return {};
}

HiveStatus HiveFileImpl::appendToValueList(std::uint32_t keyOff, std::uint32_t value) {
  const ByteView nkv = nkAt(keyOff);
  const std::uint32_t count = nkv.u32(nk::ValueCount);
  const std::uint32_t oldList = nkv.u32(nk::ValueList);
  const std::size_t room = count ? image_.cell(oldList).size() / 4 : 0;
  if (count && room < count) return Fail::Corrupt;  // the caller checked the list holds every entry
  if (count == 0xFFFFFFFFu) return Fail::TooLarge;
  std::uint32_t list = oldList;
  if (room <= count) {
    // The list grows by half again, as Windows' own lists do, so filling a
    // key value by value copies each entry a bounded number of times.
    const std::size_t want = std::max<std::size_t>(count + 1, std::max<std::size_t>(8, count + count / 2));
    if (want > 0x7FFF0000u / 4) return Fail::TooLarge;
    list = alloc(4 * want);
    if (list == kNoCell) return Fail::TooLarge;
    if (count) std::memcpy(image_.payload(list), image_.payload(oldList), 4 * std::size_t{count});
    if (count) image_.release(oldList);
  }
  storeU32(image_.payload(list) + 4 * std::size_t{count}, value);
  std::uint8_t* n = image_.payload(keyOff);
  storeU32(n + nk::ValueCount, count + 1);
  storeU32(n + nk::ValueList, list);
  return {};
}

namespace {
std::uint32_t storedNameBytes(ByteView cell, std::size_t lenField, std::size_t flagField, std::uint16_t compFlag) {
  const std::uint32_t len = cell.u16(lenField);
  return (cell.u16(flagField) & compFlag) ? 2 * len : len;
}
}  // namespace

void HiveFileImpl::recomputeKeyMaxima(std::uint32_t keyOff) {
  std::vector<std::uint32_t> children;
  collectSubkeys(keyOff, nkAt(keyOff), children);
  std::uint32_t maxName = 0, maxClass = 0;
  for (std::uint32_t c : children) {
    ByteView cv = nkAt(c);
    maxName = std::max(maxName, storedNameBytes(cv, nk::NameLen, nk::Flags, nk::FlagCompName));
    maxClass = std::max<std::uint32_t>(maxClass, cv.u16(nk::ClassLen));
  }
  std::uint8_t* p = image_.payload(keyOff);
  // The upper half of this field holds flags since Vista; keep them.
  storeU32(p + nk::MaxNameLen, (loadU32(p + nk::MaxNameLen) & 0xFFFF0000u) | std::min<std::uint32_t>(maxName, 0xFFFF));
  storeU32(p + nk::MaxClassLen, maxClass);
}

void HiveFileImpl::recomputeValueMaxima(std::uint32_t keyOff) {
  std::vector<std::uint32_t> vals;
  collectValues(nkAt(keyOff), vals);
  std::uint32_t maxName = 0, maxData = 0;
  for (std::uint32_t v : vals) {
    ByteView vv = vkAt(v);
    maxName = std::max(maxName, storedNameBytes(vv, vk::NameLen, vk::Flags, vk::FlagCompName));
    maxData = std::max(maxData, vv.u32(vk::DataSize) & ~vk::Resident);
  }
  std::uint8_t* p = image_.payload(keyOff);
  storeU32(p + nk::MaxValueNameLen, maxName);
  storeU32(p + nk::MaxValueDataLen, maxData);
}

void HiveFileImpl::skAddRef(std::uint32_t skOff) {
  ByteView s = image_.cell(skOff);
  if (s.size() < sk::Descriptor || !s.sig(0, 's', 'k')) return;
  std::uint8_t* p = image_.payload(skOff);
  storeU32(p + sk::RefCount, loadU32(p + sk::RefCount) + 1);
}

void HiveFileImpl::skRelease(std::uint32_t skOff) {
  ByteView s = image_.cell(skOff);
  if (s.size() < sk::Descriptor || !s.sig(0, 's', 'k')) return;
  std::uint8_t* p = image_.payload(skOff);
  const std::uint32_t refs = loadU32(p + sk::RefCount);
  if (refs > 1) {
    storeU32(p + sk::RefCount, refs - 1);
    return;
  }
  // Last user gone: unlink from the ring, then free.
  const std::uint32_t next = loadU32(p + sk::Flink);
  const std::uint32_t prev = loadU32(p + sk::Blink);
  ByteView nv = image_.cell(next), pv = image_.cell(prev);
  if (next != skOff && prev != skOff && nv.sig(0, 's', 'k') && pv.sig(0, 's', 'k') && nv.size() >= sk::Descriptor &&
      pv.size() >= sk::Descriptor) {
    storeU32(image_.payload(prev) + sk::Flink, next);
    storeU32(image_.payload(next) + sk::Blink, prev);
  }
  image_.release(skOff);
}

std::uint32_t HiveFileImpl::findOrAddSecurity(std::span<const std::uint8_t> sd, std::uint32_t near) {
  // Walk the ring from `near` (any sk of this hive), bounded by the number of
  // cells the bins could hold.
  ByteView start = image_.cell(near);
  const bool ringOk = start.size() >= sk::Descriptor && start.sig(0, 's', 'k');
  if (ringOk) {
    std::uint32_t cur = near;
    const std::size_t limit = image_.binsSize() / 8 + 1;
    for (std::size_t i = 0; i < limit; ++i) {
      ByteView s = image_.cell(cur);
      if (s.size() < sk::Descriptor || !s.sig(0, 's', 'k')) break;
      const auto bytes = s.sub(sk::Descriptor, s.u32(sk::Size));
      if (bytes.size() == sd.size() && !bytes.empty() && std::memcmp(bytes.data(), sd.data(), sd.size()) == 0) {
        skAddRef(cur);
        return cur;
      }
      cur = s.u32(sk::Flink);
      if (cur == near) break;
    }
  }
  const std::uint32_t off = alloc(sk::Descriptor + sd.size());
  if (off == kNoCell) return off;
  std::uint8_t* p = image_.payload(off);
  std::memcpy(p, "sk", 2);
  storeU32(p + sk::RefCount, 1);
  storeU32(p + sk::Size, static_cast<std::uint32_t>(sd.size()));
  std::memcpy(p + sk::Descriptor, sd.data(), sd.size());
  ByteView n = image_.cell(near);
  const std::uint32_t prev = ringOk ? n.u32(sk::Blink) : kNoCell;
  ByteView pv = image_.cell(prev);
  if (ringOk && pv.size() >= sk::Descriptor && pv.sig(0, 's', 'k')) {
    // Insert before `near`.
    storeU32(p + sk::Flink, near);
    storeU32(p + sk::Blink, prev);
    storeU32(image_.payload(prev) + sk::Flink, off);
    storeU32(image_.payload(near) + sk::Blink, off);
  } else {
    storeU32(p + sk::Flink, off);
    storeU32(p + sk::Blink, off);
  }
  return off;
}

// ---------------------------------------------------------------- writing

namespace {
HiveStatus checkKeyName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxKeyNameUnits) return HiveError::InvalidArgument;
  if (name.find(u'\\') != std::u16string_view::npos) return HiveError::InvalidArgument;
  return {};
}
}  // namespace

HiveResult<KeyId> HiveFileImpl::createKey(KeyId parentId, std::u16string_view name) {
  dropValueIndex();
  if (auto st = writable(); !st) return fail<KeyId>(st.error());
  if (auto st = checkKeyName(name); !st) return fail<KeyId>(st.error());
  std::uint32_t parentOff;
  ByteView pv = keyCell(parentId, &parentOff);
  if (pv.empty()) return fail<KeyId>(Fail::NotFound);
  // Sorted position (the list is kept sorted; a foreign unsorted one still gets a valid list).
  auto sortedPosition = [&](const std::vector<ListEntry>& entries, bool& exists) {
    std::size_t lo = 0, hi = entries.size();
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      nkName(nkAt(entries[mid].off), nameScratch_);
      const int c = compareKeyNames(nameScratch_, name);
      if (c == 0) exists = true;
      if (c < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  };
  SubkeyIndex* index = subkeyIndexFor(parentOff, pv);
  std::vector<ListEntry> entries;
  std::size_t lo = 0;
  if (index) {
    if (indexedChild(*index, name) != kNoCell) return fail<KeyId>(Fail::AlreadyExists);
  } else {
    if (auto st = readListEntries(parentOff, entries); !st) return fail<KeyId>(st.error());
    bool exists = false;
    lo = sortedPosition(entries, exists);
    if (exists) return fail<KeyId>(Fail::AlreadyExists);
    for (const ListEntry& e : entries)  // an unsorted list could hide a match from the search
      if (nkNameEquals(nkAt(e.off), name)) return fail<KeyId>(Fail::AlreadyExists);
  }

  bool compressed = false;
  const std::uint32_t off = allocName(nk::Name, name, compressed);
  if (off == kNoCell) return fail<KeyId>(Fail::TooLarge);
  const std::uint32_t skOff = image_.cell(parentOff).u32(nk::Security);
  std::uint8_t* n = image_.payload(off);
  storeU16(n + nk::Flags, compressed ? nk::FlagCompName : 0);
  storeU64(n + nk::Time, nowFileTime());
  storeU32(n + nk::Parent, parentOff);
  storeU32(n + nk::SubkeyList, kNoCell);
  storeU32(n + nk::VolatileList, kNoCell);
  storeU32(n + nk::ValueList, kNoCell);
  storeU32(n + nk::Class, kNoCell);
  // A new key shares its parent's descriptor, as inheritance would give it.
  storeU32(n + nk::Security, skOff);
  skAddRef(skOff);

  const ListEntry entry{off, entryHash(name)};
  HiveStatus st;
  // A key with many children takes the new one into its list in place; a
  // list of another shape, or a short one, is written whole.
  if (!index || !insertListEntry(parentOff, entry, name, st, index->listShapeKnown)) {
    if (index) {
      index->listShapeKnown = false;
      st = readListEntries(parentOff, entries);
      bool exists = false;
      lo = sortedPosition(entries, exists);
    }
    if (st) {
      entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(lo), entry);
      st = writeSubkeyList(parentOff, entries);
    }
  }
  if (!st) {
    dropSubkeyIndex();
    skRelease(skOff);
    image_.release(off);
    return fail<KeyId>(st.error());
  }
  if (index) index->byHash.emplace(nameHash(name), off);
  std::uint8_t* p = image_.payload(parentOff);
  const std::uint32_t nameBytes = static_cast<std::uint32_t>(2 * name.size());
  if ((loadU32(p + nk::MaxNameLen) & 0xFFFF) < nameBytes)
    storeU32(p + nk::MaxNameLen, (loadU32(p + nk::MaxNameLen) & 0xFFFF0000u) | nameBytes);
  touch(parentOff);
  return newIdFor(off);
}

HiveStatus HiveFileImpl::deleteKey(KeyId key) {
  dropValueIndex();
  dropSubkeyIndex();
  if (auto st = writable(); !st) return st;
  std::uint32_t off;
  ByteView v = keyCell(key, &off);
  if (v.empty()) return Fail::NotFound;
  if (off == root_) return Fail::InvalidArgument;
  if (v.u32(nk::SubkeyCount) != 0) return Fail::HasSubkeys;
  const std::uint32_t parentOff = v.u32(nk::Parent);
  if (nkAt(parentOff).empty()) return Fail::Corrupt;
  std::vector<ListEntry> entries;
  if (auto st = readListEntries(parentOff, entries); !st) return st;
  auto it = std::find_if(entries.begin(), entries.end(), [&](const ListEntry& e) { return e.off == off; });
  if (it == entries.end()) return Fail::Corrupt;
  entries.erase(it);
  if (auto st = writeSubkeyList(parentOff, entries); !st) return st;

  std::vector<std::uint32_t> vals;
  collectValues(nkAt(off), vals);
  for (std::uint32_t val : vals) {
    ByteView vv = vkAt(val);
    freeData(vv.u32(vk::DataSize), vv.u32(vk::DataOff));
    dropId(val);
    image_.release(val);
  }
  ByteView k = nkAt(off);
  if (k.u32(nk::ValueCount)) image_.release(k.u32(nk::ValueList));
  if (k.u16(nk::ClassLen)) image_.release(k.u32(nk::Class));
  skRelease(k.u32(nk::Security));
  dropId(off);
  image_.release(off);
  recomputeKeyMaxima(parentOff);
  touch(parentOff);
  return {};
}

HiveStatus HiveFileImpl::renameKey(KeyId key, std::u16string_view newName) {
  dropValueIndex();
  dropSubkeyIndex();
  if (auto st = writable(); !st) return st;
  if (auto st = checkKeyName(newName); !st) return st;
  std::uint32_t off;
  ByteView v = keyCell(key, &off);
  if (v.empty()) return Fail::NotFound;
  const bool isRoot = off == root_;
  const std::uint32_t parentOff = isRoot ? kNoCell : v.u32(nk::Parent);
  std::vector<ListEntry> entries;
  if (!isRoot) {
    if (nkAt(parentOff).empty()) return Fail::Corrupt;
    if (auto st = readListEntries(parentOff, entries); !st) return st;
    for (const ListEntry& e : entries)
      if (e.off != off && nkNameEquals(nkAt(e.off), newName)) return Fail::AlreadyExists;
  }
  const bool compressed = fitsLatin1(newName);
  const std::size_t bytes = compressed ? newName.size() : newName.size() * 2;
  std::uint32_t target = off;
  if (image_.payloadSize(off) < nk::Name + bytes) {
    target = alloc(nk::Name + bytes);
    if (target == kNoCell) return Fail::TooLarge;
    std::memcpy(image_.payload(target), image_.payload(off), nk::Name);
  }
  std::uint8_t* n = image_.payload(target);
  storeU16(n + nk::Flags, static_cast<std::uint16_t>((loadU16(n + nk::Flags) & ~nk::FlagCompName) |
                                                     (compressed ? nk::FlagCompName : 0)));
  storeU16(n + nk::NameLen, static_cast<std::uint16_t>(bytes));
  for (std::size_t i = 0; i < newName.size(); ++i) {
    if (compressed)
      n[nk::Name + i] = static_cast<std::uint8_t>(newName[i]);
    else
      storeU16(n + nk::Name + 2 * i, newName[i]);
  }
  if (target != off) {
    // The node moved: children point back at it by offset.
    std::vector<std::uint32_t> children;
    collectSubkeys(off, nkAt(off), children);
    for (std::uint32_t c : children) storeU32(image_.payload(c) + nk::Parent, target);
    moveId(off, target);
    image_.release(off);
    if (isRoot) root_ = target;
  }
  if (!isRoot) {
    std::erase_if(entries, [&](const ListEntry& e) { return e.off == off; });
    std::size_t pos = 0;
    while (pos < entries.size()) {
      nkName(nkAt(entries[pos].off), nameScratch_);
      if (compareKeyNames(nameScratch_, newName) > 0) break;
      ++pos;
    }
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(pos), ListEntry{target, entryHash(newName)});
    if (auto st = writeSubkeyList(parentOff, entries); !st) return st;
    recomputeKeyMaxima(parentOff);
    touch(parentOff);
  }
  touch(target);
  return {};
}

HiveStatus HiveFileImpl::setClassName(KeyId key, std::u16string_view className) {
  dropValueIndex();
  if (auto st = writable(); !st) return st;
  std::uint32_t off;
  ByteView v = keyCell(key, &off);
  if (v.empty()) return Fail::NotFound;
  if (className.size() * 2 > 0xFFFF) return Fail::InvalidArgument;
  std::uint32_t cls = kNoCell;
  if (!className.empty()) {
    cls = alloc(className.size() * 2);
    if (cls == kNoCell) return Fail::TooLarge;
    std::uint8_t* p = image_.payload(cls);
    for (std::size_t i = 0; i < className.size(); ++i) storeU16(p + 2 * i, className[i]);
  }
  ByteView k = nkAt(off);
  if (k.u16(nk::ClassLen)) image_.release(k.u32(nk::Class));
  std::uint8_t* n = image_.payload(off);
  storeU32(n + nk::Class, cls);
  storeU16(n + nk::ClassLen, static_cast<std::uint16_t>(className.size() * 2));
  if (off != root_) recomputeKeyMaxima(nkAt(off).u32(nk::Parent));
  touch(off);
  return {};
}

HiveStatus HiveFileImpl::setSecurity(KeyId key, std::span<const std::uint8_t> descriptor) {
  dropValueIndex();
  if (auto st = writable(); !st) return st;
  std::uint32_t off;
  ByteView v = keyCell(key, &off);
  if (v.empty()) return Fail::NotFound;
  if (!plausibleDescriptor(descriptor)) return Fail::InvalidArgument;
  const std::uint32_t old = v.u32(nk::Security);
  // Search from the old cell, else from the root's, so equal descriptors share one cell.
  std::uint32_t near = old;
  if (image_.cell(near).size() < sk::Descriptor || !image_.cell(near).sig(0, 's', 'k'))
    near = nkAt(root_).u32(nk::Security);
  const std::uint32_t sk = findOrAddSecurity(descriptor, near);
  if (sk == kNoCell) return Fail::TooLarge;
  storeU32(image_.payload(off) + nk::Security, sk);
  skRelease(old);
  modified_ = true;
  return {};
}

HiveStatus HiveFileImpl::setLastWritten(KeyId key, FileTime time) {
  // Only the time field changes in place: the value index stays sound.
  if (auto st = writable(); !st) return st;
  std::uint32_t off;
  if (keyCell(key, &off).empty()) return Fail::NotFound;
  storeU64(image_.payload(off) + nk::Time, time);
  modified_ = true;
  return {};
}

HiveResult<ValueId> HiveFileImpl::setValue(KeyId key, std::u16string_view name, std::uint32_t type,
                                           std::span<const std::uint8_t> data) {
  if (auto st = writable(); !st) return fail<ValueId>(st.error());
  if (name.size() > kMaxValueNameUnits) return fail<ValueId>(Fail::InvalidArgument);
  std::uint32_t off;
  ByteView v = keyCell(key, &off);
  if (v.empty()) return fail<ValueId>(Fail::NotFound);
  if (predefinedHandle(v)) return fail<ValueId>(Fail::InvalidArgument);
  std::vector<std::uint32_t> vals;
  std::uint32_t existing = kNoCell;
  const bool indexed = valueIndexFor(off, v) != nullptr;
  if (indexed) {
    existing = valueIndex_->find(*this, name);
  } else {
    collectValues(v, vals);
    for (std::uint32_t x : vals)
      if (vkNameEquals(vkAt(x), name)) {
        existing = x;
        break;
      }
  }
  // Whatever happens below, the index is only kept when it is brought up to
  // date at the end.
  std::unique_ptr<ValueIndex> index = std::move(valueIndex_);
  // New data first: if it cannot be stored, the old value stays whole.
  std::uint32_t sizeField = 0, offField = 0;
  if (auto st = storeData(data, sizeField, offField); !st) return fail<ValueId>(st.error());
  std::uint32_t target = existing;
  bool isNew = false;
  if (existing == kNoCell) {
    bool compressed = false;
    target = allocName(vk::Name, name, compressed);
    if (target == kNoCell) {
      freeData(sizeField, offField);
      return fail<ValueId>(Fail::TooLarge);
    }
    storeU16(image_.payload(target) + vk::Flags, compressed ? vk::FlagCompName : 0);
    HiveStatus st;
    if (indexed && index && index->offs.size() == nkAt(off).u32(nk::ValueCount)) {
      // The index holds the whole list: only the new entry is written.
      st = appendToValueList(off, target);
    } else {
      if (indexed && index) vals = index->offs;
      vals.push_back(target);
      st = writeValueList(off, vals);
    }
    if (!st) {
      freeData(sizeField, offField);
      image_.release(target);
      return fail<ValueId>(st.error());
    }
    isNew = true;
  } else {
    ByteView old = vkAt(existing);
    freeData(old.u32(vk::DataSize), old.u32(vk::DataOff));
  }
  std::uint8_t* p = image_.payload(target);
  storeU32(p + vk::DataSize, sizeField);
  storeU32(p + vk::DataOff, offField);
  storeU32(p + vk::Type, type);
  if (isNew) {
    // A new value can only raise the maxima; a scan of every value per
    // append would make filling a key quadratic.
    std::uint8_t* n = image_.payload(off);
    ByteView vv = vkAt(target);
    const std::uint32_t nameBytes = storedNameBytes(vv, vk::NameLen, vk::Flags, vk::FlagCompName);
    const std::uint32_t dataBytes = vv.u32(vk::DataSize) & ~vk::Resident;
    if (loadU32(n + nk::MaxValueNameLen) < nameBytes) storeU32(n + nk::MaxValueNameLen, nameBytes);
    if (loadU32(n + nk::MaxValueDataLen) < dataBytes) storeU32(n + nk::MaxValueDataLen, dataBytes);
  } else {
    recomputeValueMaxima(off);
  }
  touch(off);
  if (indexed && index && index->keyOff == off) {
    if (isNew) {
      index->byHash.emplace(nameHash(name), static_cast<std::uint32_t>(index->offs.size()));
      index->offs.push_back(target);
    }
    if (index->offs.size() == nkAt(off).u32(nk::ValueCount)) valueIndex_ = std::move(index);
  }
  return isNew ? newIdFor(target) : idOf(target);
}

HiveStatus HiveFileImpl::deleteValue(KeyId key, std::u16string_view name) {
  dropValueIndex();
  if (auto st = writable(); !st) return st;
  std::uint32_t off;
  ByteView v = keyCell(key, &off);
  if (v.empty()) return Fail::NotFound;
  if (predefinedHandle(v)) return Fail::InvalidArgument;
  std::vector<std::uint32_t> vals;
  collectValues(v, vals);
  auto it = std::find_if(vals.begin(), vals.end(), [&](std::uint32_t x) { return vkNameEquals(vkAt(x), name); });
  if (it == vals.end()) return Fail::NotFound;
  const std::uint32_t val = *it;
  vals.erase(it);  // keeps the order of the others
  if (auto st = writeValueList(off, vals); !st) return st;
  ByteView vv = vkAt(val);
  freeData(vv.u32(vk::DataSize), vv.u32(vk::DataOff));
  dropId(val);
  image_.release(val);
  recomputeValueMaxima(off);
  touch(off);
  return {};
}

HiveStatus HiveFileImpl::renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName) {
  dropValueIndex();
  if (auto st = writable(); !st) return st;
  if (newName.size() > kMaxValueNameUnits) return Fail::InvalidArgument;
  std::uint32_t off;
  ByteView v = keyCell(key, &off);
  if (v.empty()) return Fail::NotFound;
  if (predefinedHandle(v)) return Fail::InvalidArgument;
  std::vector<std::uint32_t> vals;
  collectValues(v, vals);
  std::size_t index = vals.size();
  for (std::size_t i = 0; i < vals.size(); ++i)
    if (vkNameEquals(vkAt(vals[i]), oldName)) {
      index = i;
      break;
    }
  if (index == vals.size()) return Fail::NotFound;
  for (std::size_t i = 0; i < vals.size(); ++i)
    if (i != index && vkNameEquals(vkAt(vals[i]), newName)) return Fail::AlreadyExists;
  const std::uint32_t val = vals[index];
  const bool compressed = fitsLatin1(newName);
  const std::size_t bytes = compressed ? newName.size() : newName.size() * 2;
  std::uint32_t target = val;
  if (image_.payloadSize(val) < vk::Name + bytes) {
    target = alloc(vk::Name + bytes);
    if (target == kNoCell) return Fail::TooLarge;
    std::memcpy(image_.payload(target), image_.payload(val), vk::Name);
  }
  std::uint8_t* p = image_.payload(target);
  storeU16(p + vk::NameLen, static_cast<std::uint16_t>(bytes));
  storeU16(p + vk::Flags, static_cast<std::uint16_t>((loadU16(p + vk::Flags) & ~vk::FlagCompName) |
                                                     (compressed ? vk::FlagCompName : 0)));
  for (std::size_t i = 0; i < newName.size(); ++i) {
    if (compressed)
      p[vk::Name + i] = static_cast<std::uint8_t>(newName[i]);
    else
      storeU16(p + vk::Name + 2 * i, newName[i]);
  }
  if (target != val) {
    vals[index] = target;
    if (auto st = writeValueList(off, vals); !st) {
      image_.release(target);
      return st;
    }
    moveId(val, target);
    image_.release(val);
  }
  recomputeValueMaxima(off);
  touch(off);
  return {};
}

// ---------------------------------------------------------------- saving

void HiveFileImpl::writeBaseBlock(std::uint8_t* block, std::uint32_t sequence) const {
  std::memcpy(block, image_.base(), kBaseBlockSize);
  storeU32(block + bb::Sequence1, sequence);
  storeU32(block + bb::Sequence2, sequence);
  storeU64(block + bb::Time, nowFileTime());
  storeU32(block + bb::Type, 0);
  storeU32(block + bb::Format, 1);
  storeU32(block + bb::Root, root_);
  storeU32(block + bb::BinsSize, image_.binsSize());
  storeU32(block + bb::Checksum, baseBlockChecksum(block));
}

std::span<const std::uint8_t> HiveFileImpl::slackToKeep() const {
  const std::size_t end = image_.bytes();
  if (slack_.empty() || end < slackAt_ || end - slackAt_ >= slack_.size()) return {};
  const std::span<const std::uint8_t> tail = std::span<const std::uint8_t>(slack_).subspan(end - slackAt_);
  // A bin header naming the very offset it stands at would read as the next
  // bin of the hive to a reader that walks bins to the end of the file (and
  // to recovery, should the base block break).
  if (tail.size() >= kBinHeaderSize && std::memcmp(tail.data(), "hbin", 4) == 0 &&
      loadU32(tail.data() + 4) == image_.binsSize())
    return {};
  return tail;
}

HiveResult<std::vector<std::uint8_t>> HiveFileImpl::serialize() {
  const std::span<const std::uint8_t> slack = slackToKeep();
  std::vector<std::uint8_t> out(image_.bytes() + slack.size());
  writeBaseBlock(out.data(), loadU32(image_.base() + bb::Sequence1) + 1);
  std::memcpy(out.data() + kBaseBlockSize, image_.base() + kBaseBlockSize, image_.binsSize());
  if (!slack.empty()) std::memcpy(out.data() + image_.bytes(), slack.data(), slack.size());
  return out;
}

HiveStatus HiveFileImpl::saveTo(const std::filesystem::path& target) {
  dropValueIndex();
  if (readOnly_) return Fail::ReadOnly;
  if (target.empty()) return Fail::InvalidArgument;
  const std::uint32_t sequence = loadU32(image_.base() + bb::Sequence1) + 1;
  std::uint8_t block[kBaseBlockSize];
  writeBaseBlock(block, sequence);
  const std::span<const std::uint8_t> parts[] = {
      std::span<const std::uint8_t>(block, kBaseBlockSize),
      std::span<const std::uint8_t>(image_.base() + kBaseBlockSize, image_.binsSize()), slackToKeep()};
  const HiveError e = replaceFileAtomically(target, parts);
  if (e != HiveError::None) return e;
  std::memcpy(image_.base(), block, kBaseBlockSize);
  modified_ = false;
  return {};
}

HiveStatus HiveFileImpl::save() { return saveTo(path_); }

HiveStatus HiveFileImpl::saveAs(const std::filesystem::path& p) {
  const HiveStatus st = saveTo(p);
  if (st) path_ = p;
  return st;
}

}  // namespace platform::hive

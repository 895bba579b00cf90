// .reg export and import of the unit bwlRegTools: the registry walk of the
// exporter and the reader that applies parsed lines to the registry.

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "core/bwlRegTools.h"
#include "core/kxStrings.h"
#include "platform/AtomicFile.h"
#include "platform/Threads.h"
#include "platform/ErrorText.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "unicode/SupUnicode.h"

using platform::HKEY;

namespace {

// Hives nest keys 512 deep at most; a deeper walk means a cycle or damage.
constexpr int kMaxExportDepth = 512;

std::unique_ptr<TMyRegistry> makeRegistry(HKEY root, Is64Flag is64) {
  std::unique_ptr<TMyRegistry> reg;
  if (is64 != Is64Flag::no) {
    reg = std::make_unique<TMyRegistry64>();
  } else {
    reg = std::make_unique<TMyRegistry>();
  }
  reg->SetRootKey(root);
  return reg;
}

// Closes a key handle of the walk on every way out.
class OpenedKey {
public:
  explicit OpenedKey(HKEY key) : key_(key) {}
  ~OpenedKey() {
    if (key_) platform::RegCloseKey(key_);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  HKEY get() const { return key_; }

private:
  HKEY key_;
};

// The sub-key names of one key, wide and exact, each followed by a NUL so it
// can be handed to the open call as it stands. One per depth of the walk,
// reused by every key at that depth.
struct SubKeyList {
  std::u16string names;
  std::vector<std::size_t> starts;  // where each name begins; its end is the next start minus the NUL
  std::u16string buffer;

  std::size_t size() const { return starts.size(); }
  std::u16string_view name(std::size_t i) const {
    const std::size_t end = (i + 1 < starts.size() ? starts[i + 1] : names.size()) - 1;
    return std::u16string_view(names).substr(starts[i], end - starts[i]);
  }
  const char16_t* terminated(std::size_t i) const { return names.c_str() + starts[i]; }
};

// Pieces of this size (8-bit text to convert, bytes to write) are handed on
// at once: a large export needs neither a buffer of its whole size nor its
// page faults, and each conversion and write is one long pass.
constexpr std::size_t kChunkSize = std::size_t(1) << 20;

// Writes an export's pieces to its file on a thread of its own, so the walk
// goes on while a piece is converted and written; the file is made (and an
// old one cut to nothing, which takes a while for a large one) there too. One
// piece waits at most: the walk hands over a full buffer and gets an empty one
// back, so the buffers go round and are never allocated again.
class FileSink {
public:
  enum class Outcome { written, notCreated, notWritten };

  // `unicode`: what pieces handed over for conversion become, UTF-16LE
  // (version 5) or the version-4 code page.
  FileSink(const std::filesystem::path& fileName, bool unicode) : fileName_(fileName), unicode_(unicode) {
    for (std::string* buffer : {&pending_, &work_}) buffer->reserve(kChunkSize + (kChunkSize >> 1));
    converted_.reserve(2 * kChunkSize + (kChunkSize >> 1));
    thread_ = platform::StartThread("reg file writer", "", [this] { run(); });
  }
  ~FileSink() { finish(); }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Hands `piece` over (8-bit text that is to become the file's encoding when
  // `convert`, else the file's bytes) and leaves an empty buffer in its place.
  void put(std::string& piece, bool convert) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !hasPending_; });
    pending_.swap(piece);
    piece.clear();
    pendingConvert_ = convert;
    hasPending_ = true;
    changed_.notify_all();
  }

  // Waits until everything handed over is written and the file is closed.
  Outcome finish() {
    if (thread_.joinable()) {
      {
        std::lock_guard lock(mutex_);
        done_ = true;
      }
      changed_.notify_all();
      thread_.join();
    }
    return outcome_;
  }

private:
  void run() {
    // The export goes to a temporary file that replaces the target only when
    // it is complete, so a failed export never leaves an old file cut short.
    platform::AtomicFile file;
    if (file.open(fileName_) != 0) outcome_ = Outcome::notCreated;
    for (;;) {
      bool convert = false;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return hasPending_ || done_; });
        if (!hasPending_) break;
        work_.swap(pending_);
        convert = pendingConvert_;
        hasPending_ = false;
      }
      changed_.notify_all();
      // Pieces for a file that could not be made are taken and dropped, so
      // the walk never waits for nothing.
      if (outcome_ == Outcome::written) {
        try {
          int err;
          if (convert) {
            converted_.clear();
            if (unicode_) {
              WriteRegFileText(work_, converted_, true);
            } else {
              AppendRegFile4Bytes(work_, converted_);
            }
            err = file.write(converted_.data(), converted_.size());
          } else {
            err = file.write(work_.data(), work_.size());
          }
          if (err) outcome_ = Outcome::notWritten;
        } catch (...) {
          outcome_ = Outcome::notWritten;
        }
      }
      work_.clear();
    }
    if (outcome_ != Outcome::written) return;  // the temporary file goes with `file`
    if (file.commit() != 0) outcome_ = Outcome::notWritten;
  }

  const std::filesystem::path fileName_;
  const bool unicode_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string pending_;           // the piece handed over, not yet taken
  bool pendingConvert_ = false;
  bool hasPending_ = false;
  bool done_ = false;
  std::string work_;              // the piece being written (writer thread only)
  std::string converted_;         // its UTF-16LE form (writer thread only)
  Outcome outcome_ = Outcome::written;  // the writer thread's until joined
  std::thread thread_;
};

// One export: where its text goes and the buffers every key and value reuse,
// so the walk allocates next to nothing per key.
//
// Text is made as 8-bit units (a section line, a value line, a comment), each
// ending in CR LF. Version 4 writes them to `out` as they are, or, for a file
// whose code page is not the active one, converts them a piece at a time
// (a single-byte page then, cut after a line as well as whole). Version 5
// converts them to UTF-16LE: in the UTF-8 code page a whole piece of units at
// a time (cut after an ASCII byte, UTF-8 converts the same in pieces as as a
// whole), in another code page each unit on its own as WriteRegFileText is
// given it.
struct ExportWalk {
  // `file`: the text is a file's, so version 4 goes in its own code page.
  ExportWalk(HKEY root_, std::string& out_, bool unicode_, Is64Flag is64_, bool recursive_, bool file = false)
      : root(root_), rootName(RootKeyToLongName(root_)), out(out_), unicode(unicode_),
        deferred(unicode_ ? platform::activeCodePage() == platform::kCodePageUtf8
                          : file && RegFile4CodePage() != platform::activeCodePage()),
        is64(is64_), recursive(recursive_) {}

  HKEY root;
  std::string rootName;
  std::string& out;
  bool unicode;
  bool deferred;                    // text converted a piece at a time
  Is64Flag is64;
  bool recursive;
  platform::REGSAM view = 0;        // the view flag every open adds to its mask
  FileSink* sink = nullptr;         // when set, the text goes there a piece at a time
  std::string path;                 // the path of the key being written ("\A\B")
  std::string text;                 // deferred 8-bit text not yet converted into `out`
  std::string line;                 // one unit of 8-bit text, converted on its own
  std::string ansiName;
  std::u16string valueName;
  std::vector<std::uint8_t> data;
  std::deque<SubKeyList> levels;    // a deque: references stay valid as it grows
  RegExportResult result;

  // Where the next unit of 8-bit text is put together; end() hands it on.
  std::string& beginUnit() {
    if (deferred) return text;
    if (!unicode) return out;
    line.clear();
    return line;
  }
  void endUnit() {
    if (unicode && !deferred) WriteRegFileText(line, out, true);
  }
  // For the writers that take a buffer and a version: where a unit goes, and
  // whether it is to be converted on the way.
  std::string& unitOut() { return deferred ? text : out; }
  bool unitUnicode() const { return unicode && !deferred; }

  // Hands on what has gathered: past a piece's size, or all of it at the end
  // of the export. Deferred text is converted into `out`, or by the sink.
  void flush(bool all) {
    if (deferred && !text.empty() && (all || text.size() >= kChunkSize)) {
      if (sink) {
        sink->put(text, true);
      } else {
        if (unicode) {
          WriteRegFileText(text, out, true);
        } else {
          AppendRegFile4Bytes(text, out);
        }
        text.clear();
      }
    }
    if (sink && !out.empty() && (all || out.size() >= kChunkSize)) sink->put(out, false);
  }
  SubKeyList& level(std::size_t depth) {
    while (levels.size() <= depth) levels.emplace_back();
    return levels[depth];
  }
};

void writeSectionLine(ExportWalk& walk) {
  std::string& line = walk.beginUnit();
  line.append(kCrLf);
  line.push_back('[');
  line.append(walk.rootName);
  line.append(walk.path);
  line.push_back(']');
  line.append(kCrLf);
  walk.endUnit();
}

void writeSectionLine(HKEY root, const std::string& keyPath, std::string& out, bool unicode) {
  std::string line;
  line.reserve(keyPath.size() + 32);
  line.append(kCrLf);
  line.push_back('[');
  line.append(RootKeyToLongName(root));
  line.append(keyPath);
  line.push_back(']');
  line.append(kCrLf);
  WriteRegFileText(line, out, unicode);
}

void writeErrorComment(std::string_view what, HKEY root, const std::string& keyPath, const std::string* valueName,
                       std::string& out, bool unicode) {
  std::string text;
  text.append(kCrLf).append(what).append(kCrLf);
  text.append("//   RootKey: ").append(RootKeyToLongName(root)).append(kCrLf);
  text.append("//   Key    : ").append(keyPath).append(kCrLf);
  if (valueName) text.append("//   Value  : ").append(*valueName).append(kCrLf);
  WriteRegFileText(text, out, unicode);
}

// The comment for a value whose data could not be read, by its kind.
std::string readFailureComment(TRegDataType kind, const std::string& name) {
  const std::string quotedField = "\"" + RegValueNameField(name) + "\"";
  switch (kind) {
    case rdString:
      return "// an exception occured while reading AnsiString value " + quotedField;
    case rdExpandString:
      return "// an exception occured while reading expand AnsiString value " + quotedField;
    case rdBinary:
      return "// an exception occured while reading binary value " + quotedField;
    case rdInteger:
      return "// an exception occured while reading integer value " + quotedField;
    default:
      return "// an unknown exception occured while creating value \"" + name + "\"";
  }
}

// Opens a sub-key by its exact wide name (NUL-terminated) under an open key,
// with the three masks of OpenKeyReadOnly in turn. A null handle when none is
// granted.
HKEY openChildReadOnly(HKEY parent, const char16_t* name, platform::REGSAM view) {
  constexpr platform::REGSAM kReadNoNotify = 0x20009;
  const platform::REGSAM masks[] = {platform::KEY_READ, kReadNoNotify, platform::KEY_QUERY_VALUE};
  for (const platform::REGSAM mask : masks) {
    HKEY opened;
    if (platform::RegOpenKeyExW(parent, name, 0, mask | view, &opened) == platform::ERROR_SUCCESS) return opened;
  }
  return HKEY();
}

// The sizes one query of the open key gives both listings.
struct KeySizes {
  platform::DWORD subKeys = 0;
  platform::DWORD maxSubKeyLen = 0;
  platform::DWORD values = 0;
  platform::DWORD maxValueNameLen = 0;
  platform::DWORD maxValueLen = 0;
};

bool querySizes(HKEY key, KeySizes& sizes) {
  return platform::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &sizes.subKeys, &sizes.maxSubKeyLen, nullptr,
                                    &sizes.values, &sizes.maxValueNameLen, &sizes.maxValueLen, nullptr,
                                    nullptr) == platform::ERROR_SUCCESS;
}

// The sub-key names of an open key, wide and exact, in enumeration order. A
// key whose sub-keys may not be listed has none to export.
void listSubKeys(HKEY key, const KeySizes& sizes, SubKeyList& list) {
  list.names.clear();
  list.starts.clear();
  list.starts.reserve(sizes.subKeys);
  const std::size_t start = RegSizeHint::nameBuffer(sizes.maxSubKeyLen);
  if (list.buffer.size() < start) list.buffer.resize(start);
  for (platform::DWORD i = 0;; ++i) {
    platform::DWORD len = RegSizeHint::saturated(list.buffer.size());
    const auto rc = platform::RegEnumKeyExW(key, i, list.buffer.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == platform::ERROR_MORE_DATA) {  // longer than the hint said, or grown since the query
      const std::size_t grown = RegSizeHint::grownNameBuffer(list.buffer.size());
      if (grown == 0) break;
      list.buffer.resize(grown);
      --i;
      continue;
    }
    if (rc != platform::ERROR_SUCCESS) break;
    // A nameless sub-key would open as this key again and the walk would
    // export it inside itself until the depth limit.
    if (len == 0) continue;
    list.starts.push_back(list.names.size());
    list.names.append(list.buffer.data(), len);
    list.names.push_back(u'\0');
  }
}

std::string regFileValueLine(TMyRegistry& registry, const std::string& name, bool unicode, Is64Flag is64);

// The value line of a value whose name holds a NUL goes the ordinary way (the
// name cut at the NUL, as the 8-bit interface lists it), through a registry
// object on a handle of its own to the same key.
void writeValueByName(ExportWalk& walk, HKEY key, const std::string& name) {
  const HKEY again = openChildReadOnly(key, u"", walk.view);
  if (!again) throw ERegistryException("Failed to open key");
  auto reg = makeRegistry(walk.root, walk.is64);
  reg->ChangeKey(again, walk.path.empty() ? std::string() : walk.path.substr(1));
  std::string& line = walk.beginUnit();
  line.append(regFileValueLine(*reg, name, walk.unicode, walk.is64));
  line.append(kCrLf);
  walk.endUnit();
}

// A name a .reg line cannot hold: a line break would split the line, and a
// key path cut at a NUL names another key.
bool nameFitsNoLine(std::u16string_view name, bool key) {
  return name.find_first_of(key ? std::u16string_view(u"\r\n\0", 3) : std::u16string_view(u"\r\n")) !=
         std::u16string_view::npos;
}

// The name in a comment: its line breaks and NULs shown as "?".
std::string commentName(std::u16string_view name) {
  std::string out;
  platform::appendWideToAnsi(name, out);
  for (char& c : out) {
    if (c == '\r' || c == '\n' || c == '\0') c = '?';
  }
  return out;
}

// A key or value left out because no .reg line can name it: a comment says so
// and the export counts it.
void writeLeftOut(ExportWalk& walk, std::string_view what, std::u16string_view name) {
  const std::string where = "[" + walk.rootName + walk.path + "] " + std::string(what) + " \"" + commentName(name) + "\"";
  if (walk.result.leftOut++ == 0) walk.result.firstLeftOut = where;
  std::string& line = walk.beginUnit();
  line.append("// left out: ").append(where).append(", its name holds a line break or a NUL").append(kCrLf);
  walk.endUnit();
}

// A value whose data (or even whose name) cannot be read: a comment names it
// and the export counts it; the key's other values are written all the same.
void writeUnreadableValue(ExportWalk& walk, HKEY key, platform::DWORD index, platform::LSTATUS error) {
  std::u16string name(16384, u'\0');
  platform::DWORD nameLen = static_cast<platform::DWORD>(name.size());
  std::string field;
  if (platform::RegEnumValueW(key, index, name.data(), &nameLen, nullptr, nullptr, nullptr, nullptr) ==
      platform::ERROR_SUCCESS) {
    std::string ansi;
    platform::appendWideToAnsi(std::u16string_view(name.data(), nameLen), ansi);
    field = RegValueNameField(ansi);
  } else {
    field = "number " + std::to_string(index);
  }
  if (walk.result.unreadableValues++ == 0)
    walk.result.firstUnreadable = "[" + walk.rootName + walk.path + "] " + field;
  std::string& line = walk.beginUnit();
  line.append("// the value ").append(field).append(" could not be read: ");
  line.append(platform::systemErrorText(static_cast<std::uint32_t>(error))).append(kCrLf);
  walk.endUnit();
}

// The value lines of the open key, in enumeration order. Each value is read
// with its name, type and data in one call into the walk's buffers.
void writeValues(ExportWalk& walk, HKEY key, const KeySizes& sizes) {
  std::u16string& name = walk.valueName;
  std::vector<std::uint8_t>& data = walk.data;
  // The sizes are hints from the file: the buffers start from them clamped
  // and grow to what the listing call asks for.
  if (name.size() < RegSizeHint::nameBuffer(sizes.maxValueNameLen)) name.resize(RegSizeHint::nameBuffer(sizes.maxValueNameLen));
  if (data.size() < RegSizeHint::dataBuffer(sizes.maxValueLen)) data.resize(RegSizeHint::dataBuffer(sizes.maxValueLen));
  for (platform::DWORD i = 0;; ++i) {
    platform::DWORD nameLen = RegSizeHint::saturated(name.size());
    platform::DWORD dataLen = RegSizeHint::saturated(data.size());
    platform::DWORD type = 0;
    const auto rc = platform::RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
    if (rc == platform::ERROR_MORE_DATA) {
      // The data said how much it needs; a name says nothing, so its buffer
      // doubles up to the longest name a hive can hold.
      if (dataLen > data.size()) {
        data.resize(dataLen);
      } else {
        const std::size_t grown = RegSizeHint::grownNameBuffer(name.size());
        if (grown == 0) throw ERegistryException("Failed to list values");
        name.resize(grown);
      }
      --i;
      continue;
    }
    if (rc == platform::ERROR_NO_MORE_ITEMS) break;
    if (rc != platform::ERROR_SUCCESS) {
      // Past the count the key gave, a failure is the list's, not a value's.
      if (i >= sizes.values) throw ERegistryException("Failed to list values");
      writeUnreadableValue(walk, key, i, rc);
      continue;
    }
    const std::u16string_view wideName(name.data(), nameLen);
    if (nameFitsNoLine(wideName, false)) {
      writeLeftOut(walk, "value", wideName);
      continue;
    }
    walk.ansiName.clear();
    platform::appendWideToAnsi(wideName, walk.ansiName);
    if (wideName.find(u'\0') != std::u16string_view::npos) {
      writeValueByName(walk, key, walk.ansiName.substr(0, walk.ansiName.find('\0')));
      continue;
    }
    std::string& line = walk.beginUnit();
    AppendRegValueLine(line, walk.ansiName, type, std::span<const std::uint8_t>(data.data(), dataLen), walk.unicode);
    line.append(kCrLf);
    walk.endUnit();
  }
}

// The values of an open key and, when recursive, its sub-keys' sections.
// Sub-keys are opened relative to their parent, which stays open meanwhile: a
// path walk from the root for every key would cost a name lookup per level.
void exportOpenKey(ExportWalk& walk, HKEY key, std::size_t depth) {
  // A key whose sizes cannot be queried may not be listed: it has nothing to
  // export beyond its section line.
  KeySizes sizes;
  if (!querySizes(key, sizes)) return;
  const std::size_t pathLength = walk.path.size();
  try {
    writeValues(walk, key, sizes);
  } catch (...) {
    writeErrorComment("// an error occured while writing values of", walk.root, walk.path, nullptr, walk.unitOut(),
                      walk.unitUnicode());
  }
  walk.flush(false);
  if (!walk.recursive) return;
  try {
    SubKeyList& list = walk.level(depth);
    listSubKeys(key, sizes, list);
    if (list.size() != 0 && depth >= std::size_t(kMaxExportDepth)) throw ERegistryException("Key tree too deep");
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (nameFitsNoLine(list.name(i), true)) {
        writeLeftOut(walk, "key", list.name(i));
        continue;
      }
      walk.path.push_back('\\');
      platform::appendWideToAnsi(list.name(i), walk.path);
      writeSectionLine(walk);
      const OpenedKey child(openChildReadOnly(key, list.terminated(i), walk.view));
      if (child.get()) exportOpenKey(walk, child.get(), depth + 1);
      walk.path.resize(pathLength);
    }
  } catch (...) {
    walk.path.resize(pathLength);
    writeErrorComment("// an error occured while writing subkeys of", walk.root, walk.path, nullptr, walk.unitOut(),
                      walk.unitUnicode());
  }
}

void exportTree(ExportWalk& walk, std::string keyPath) {
  if (!keyPath.empty() && keyPath.back() == '\\') keyPath.pop_back();
  walk.path = std::move(keyPath);
  try {
    writeSectionLine(walk);
    auto reg = makeRegistry(walk.root, walk.is64);
    if (reg->OpenKeyReadOnly(walk.path)) {
      walk.view = reg->ViewAccess(0);
      exportOpenKey(walk, reg->CurrentKey(), 0);
    }
  } catch (...) {
    walk.flush(true);  // what was written so far stays, as it would unconverted
    throw;
  }
  walk.flush(true);
}

RegExportResult exportTree(HKEY root, std::string keyPath, std::string& out, bool unicode, Is64Flag is64,
                           bool recursive) {
  ExportWalk walk(root, out, unicode, is64, recursive);
  exportTree(walk, std::move(keyPath));
  return walk.result;
}

std::string cleanKeyPath(const std::string& path) {
  std::string clean = CollapseBackslashes(path);
  if (!clean.empty() && clean.back() == '\\') clean.pop_back();
  if (clean.empty() || clean.front() != '\\') clean.insert(clean.begin(), '\\');
  return clean;
}

void writeFileStart(std::string& out, bool unicode) {
  if (unicode) out.append("\xFF\xFE");
  std::string header(unicode ? kRegFileHeader5 : kRegFileHeader4);
  header.append(kCrLf);
  WriteRegFileText(header, out, unicode);
}


}  // namespace

// ---------------------------------------------------------------- export

namespace {
std::string regFileValueLine(TMyRegistry& registry, const std::string& name, bool unicode, Is64Flag is64) {
  std::string line;
  try {
    if (is64 != Is64Flag::no) registry.SetBitness(Bitness::x64);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (registry.readRawValue(name, type, data)) {
      line = FormatRegValueLine(name, type, data, unicode);
    } else if (!registry.ValueExists(name)) {
      line = RegValueMissingComment(name);
    } else {
      line = readFailureComment(registry.GetDataType(name), name);
    }
  } catch (...) {
    line = "// an unknown exception occured while creating value \"" + name + "\"";
  }
  return line;
}
}  // namespace

void WriteRegFileValue(TMyRegistry& registry, const std::string& name, std::string& out, bool unicode,
                       Is64Flag is64) {
  std::string line = regFileValueLine(registry, name, unicode, is64);
  line.append(kCrLf);
  WriteRegFileText(line, out, unicode);
}

std::string RegExportResult::text() const {
  std::string text;
  if (unreadableValues != 0) {
    text = std::to_string(unreadableValues) + (unreadableValues == 1 ? " value" : " values") +
           " could not be read; the first, " + firstUnreadable;
  }
  if (leftOut != 0) {
    if (!text.empty()) text += "; ";
    text += std::to_string(leftOut) + (leftOut == 1 ? " name" : " names") +
            " no .reg line can hold left out; the first, " + firstLeftOut;
  }
  return text;
}

RegExportResult ExportRegistryKeyTree(HKEY root, const std::string& keyPath, std::string& out, bool unicode,
                                      Is64Flag is64, bool recursive) {
  return exportTree(root, keyPath, out, unicode, is64, recursive);
}

RegExportResult ExportRegistryKey(HKEY root, const std::string& keyPath, std::string& out, bool unicode,
                                  Is64Flag is64) {
  return exportTree(root, keyPath, out, unicode, is64, true);
}

void ExportRegistryValues(HKEY root, const std::string& keyPath, std::span<const std::string> names, std::string& out,
                          bool unicode, Is64Flag is64) {
  writeSectionLine(root, keyPath, out, unicode);
  auto reg = makeRegistry(root, is64);
  if (!reg->OpenKeyReadOnly(keyPath)) return;
  for (const std::string& name : names) {
    try {
      WriteRegFileValue(*reg, name, out, unicode, is64);
    } catch (...) {
      writeErrorComment("// an error occured while writing:", root, keyPath, &name, out, unicode);
    }
  }
}

void ExportRegistryValue(HKEY root, const std::string& keyPath, const std::string& name, std::string& out,
                         bool unicode, Is64Flag is64) {
  ExportRegistryValues(root, keyPath, std::span<const std::string>(&name, 1), out, unicode, is64);
}

RegExportResult ExportRegistryKeysToFile(std::span<const HKEY> roots, std::span<const std::string> keyPaths,
                                         const std::filesystem::path& fileName, bool unicode, Is64Flag is64,
                                         bool recursive) {
  RegExportResult result;
  if (roots.size() != keyPaths.size()) return result;
  // The text goes out in pieces of about kChunkSize as the walk makes it. A
  // file that cannot be made is known when the writer is done.
  FileSink::Outcome outcome;
  {
    FileSink sink(fileName, unicode);
    std::string out;
    out.reserve(kChunkSize + (kChunkSize >> 1));
    writeFileStart(out, unicode);
    sink.put(out, false);
    for (std::size_t i = 0; i < roots.size(); ++i) {
      if (keyPaths[i].empty()) continue;
      ExportWalk walk(roots[i], out, unicode, is64, recursive, true);
      walk.sink = &sink;
      try {
        exportTree(walk, cleanKeyPath(keyPaths[i]));
      } catch (...) {
        // One key's failure costs that key only.
      }
      if (walk.result.unreadableValues != 0 && result.unreadableValues == 0)
        result.firstUnreadable = walk.result.firstUnreadable;
      result.unreadableValues += walk.result.unreadableValues;
      if (walk.result.leftOut != 0 && result.leftOut == 0) result.firstLeftOut = walk.result.firstLeftOut;
      result.leftOut += walk.result.leftOut;
    }
    WriteRegFileText(kCrLf, out, unicode);
    sink.put(out, false);
    outcome = sink.finish();
  }
  if (outcome == FileSink::Outcome::notCreated) {
    throw sup::EStreamError("Cannot create file \"" + fileName.string() + "\"");
  }
  if (outcome == FileSink::Outcome::notWritten) throw sup::EStreamError("Stream write error");
  return result;
}

RegExportResult ExportRegistryKeyToFile(HKEY root, const std::string& keyPath, const std::filesystem::path& fileName,
                                        bool unicode, Is64Flag is64, bool recursive) {
  return ExportRegistryKeysToFile(std::span<const HKEY>(&root, 1), std::span<const std::string>(&keyPath, 1), fileName,
                           unicode, is64, recursive);
}

void StreamToRegFileLine(const MemoryStream& data, const std::string& name, TRegDataType kind,
                         std::vector<std::string>& list) {
  std::string line;
  if (FormatRegStreamLine(data.Memory, name, kind, line)) list.push_back(std::move(line));
}

// ---------------------------------------------------------------- import

TMyRegistryReader::TMyRegistryReader() = default;
TMyRegistryReader::~TMyRegistryReader() = default;

bool TMyRegistryReader::LoadFromFile(const std::filesystem::path& fileName) {
  // The file is read a line at a time: a value of many megabytes is held as
  // its one joined line, not as the whole file and all its lines besides.
  // Progress names the last line, so a reader that reports it counts the
  // lines first.
  std::size_t last = 0;
  if (OnProgress) {
    RegFileLineReader counter;
    if (!counter.open(fileName)) return false;
    std::string line;
    std::size_t count = 0;
    while (counter.next(line)) ++count;
    last = count == 0 ? 0 : count - 1;
  }
  RegFileLineReader reader;
  if (!reader.open(fileName)) return false;
  std::string line;
  if (!reader.next(line)) return true;
  RegFileParser parser = beginImport(RegFileVersionOfHeader(line));
  for (std::size_t index = 1; reader.next(line); ++index)
    parser.parseLine(index, std::max(last, index), line);
  FRegistry.CloseKey();
  return true;
}

RegFileParser TMyRegistryReader::beginImport(RegFileVersion version) {
  version_ = version;
  keyOpen_ = false;
  failures_ = {};
  FRegistry.CloseKey();
  // A reader that only reports takes value lines wherever they stand; one that
  // writes has no key for lines before the first section.
  return RegFileParser(*this, version_, !FWriteToRegistry);
}

void TMyRegistryReader::ImportStrings(const std::vector<std::string>& lines) {
  RegFileParser parser = beginImport(lines.empty() ? RegFileVersion::unknown : RegFileVersionOfHeader(lines.front()));
  parser.parseLines(lines);
  FRegistry.CloseKey();
}

void TMyRegistryReader::ProcessValueLine(const std::string& line) {
  regValue(RegFileParser::splitValueLine(line, version_));
}

void TMyRegistryReader::DoKey(HKEY rootKey, const std::string& keyPath, bool deleted) {
  FCurrentRootKey = rootKey;
  FCurrentKeyPath = keyPath;
  if (OnKey) OnKey(rootKey, keyPath, deleted);
}

void TMyRegistryReader::DoValue(HKEY rootKey, const std::string& keyPath, bool deleted, const std::string& rawData,
                                std::string dataText, TRegDataType dataType, const std::string& valueName) {
  if (!FKeepDWordText && dataType == rdInteger && dataText.starts_with("dword:")) {
    dataText = std::to_string(HexToInt64(std::string_view(dataText).substr(6)));
  }
  if (OnValue) OnValue(rootKey, keyPath, deleted, rawData, dataText, dataType, valueName);
}

std::string TMyRegistryReader::HexToText(std::string_view digits) { return RegHexDigitsToText(digits); }

std::string TMyRegistryReader::StripHexPrefix(std::string_view text) { return StripRegHexPrefix(text); }

void TMyRegistryReader::regProgress(std::size_t lineIndex, std::size_t lastLineIndex) {
  if (OnProgress) OnProgress(static_cast<int>(lineIndex), static_cast<int>(lastLineIndex));
}

bool TMyRegistryReader::regKey(std::string_view rootName, std::string_view keyPath, bool deleted) {
  FRegistry.CloseKey();
  keyOpen_ = false;
  const HKEY root = NameToRootKey(rootName);
  DoKey(root, std::string(keyPath), deleted);
  if (!FWriteToRegistry) return true;
  auto failed = [&](std::uint32_t error) {
    if (failures_.sections++ == 0) {
      failures_.firstKey = std::string(rootName) + std::string(keyPath);
      failures_.firstError = platform::systemErrorText(error);
    }
    return false;
  };
  if (!root) return failed(platform::ERROR_BAD_PATHNAME);
  FRegistry.SetRootKey(root);
  const std::string path(keyPath);
  // A path holding a NUL would be cut there and name another key.
  if (path.find('\0') != std::string::npos) return failed(platform::ERROR_BAD_PATHNAME);
  if (deleted) {
    // A path that names no key of its own would delete another: one ending
    // in a backslash names its parent, an empty one the root. Such a section
    // deletes nothing.
    if (path.empty() || path.back() == '\\') return failed(platform::ERROR_BAD_PATHNAME);
    // A key that is not there is deleted already; one that stays is a failure.
    if (FRegistry.KeyExists(path) && !FRegistry.DeleteKey(path)) {
      throw ERegistryException("Failed to delete key [" + RootKeyToLongName(root) + path + "]");
    }
    return false;
  }
  keyOpen_ = FRegistry.OpenKey(path, true);
  if (!keyOpen_) return failed(static_cast<std::uint32_t>(FRegistry.LastError()));
  return true;
}

void TMyRegistryReader::regValue(const RegFileValueLine& value) {
  DoValue(FCurrentRootKey, FCurrentKeyPath, value.deleted, value.rawData, value.dataText, value.kind, value.name);
  if (FWriteToRegistry && keyOpen_) applyValue(value);
}

void TMyRegistryReader::applyValue(const RegFileValueLine& value) {
  const auto where = [&] {
    return "'" + value.name + "' in [" + RootKeyToLongName(FCurrentRootKey) + FCurrentKeyPath + "]";
  };
  if (value.deleted) {
    if (FRegistry.ValueExists(value.name) && !FRegistry.DeleteValue(value.name)) {
      throw ERegistryException("Failed to delete value " + where());
    }
    return;
  }
  std::uint32_t type = 0;
  std::vector<std::uint8_t> stored;
  // Data of no known form, or malformed, writes nothing; the whole value is
  // made before the one write, so nothing is ever half-written.
  if (!RegFileDataToStored(value.data, version_, type, stored)) {
    ++failures_.unusableValues;
    return;
  }
  try {
    FRegistry.writeRawValue(value.name, type, stored);
  } catch (const ERegistryException&) {
    throw ERegistryException("Failed to set data for " + where());
  }
}

bool ImportRegFile(const std::filesystem::path& fileName) {
  RegImportFailures failures;
  return ImportRegFile(fileName, failures) && !failures.any();
}

bool ImportRegFile(const std::filesystem::path& fileName, RegImportFailures& failures) {
  TMyRegistryReader reader;
  reader.FWriteToRegistry = true;
  const bool read = reader.LoadFromFile(fileName);
  failures = reader.Failures();
  return read;
}

std::string RegImportFailures::text() const {
  std::string text;
  if (sections != 0) {
    text = std::to_string(sections) + (sections == 1 ? " section" : " sections") + " not written; the first, [" +
           firstKey + "]: " + firstError;
  }
  if (unusableValues != 0) {
    if (!text.empty()) text += "; ";
    text += std::to_string(unusableValues) + (unusableValues == 1 ? " value line" : " value lines") +
            " could not be used";
  }
  return text;
}

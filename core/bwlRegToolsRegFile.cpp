// .reg export and import of the unit bwlRegTools: the registry walk of the
// exporter and the reader that applies parsed lines to the registry.

#include <algorithm>
#include <fstream>
#include <memory>

#include "core/bwlRegTools.h"
#include "core/kxStrings.h"
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

// Opens a sub-key by its exact wide name under an open key, with the three
// masks of OpenKeyReadOnly in turn. A null handle when none is granted.
HKEY openChildReadOnly(const TMyRegistry& parent, const std::u16string& name) {
  constexpr platform::REGSAM kReadNoNotify = 0x20009;
  const platform::REGSAM masks[] = {platform::KEY_READ, kReadNoNotify, platform::KEY_QUERY_VALUE};
  for (const platform::REGSAM mask : masks) {
    HKEY opened;
    if (platform::RegOpenKeyExW(parent.CurrentKey(), name.c_str(), 0, parent.ViewAccess(mask), &opened) ==
        platform::ERROR_SUCCESS) {
      return opened;
    }
  }
  return HKEY();
}

// The sub-key names of an open key, wide and exact, in enumeration order. A
// key whose sub-keys may not be listed has none to export.
// The sizes one query of the open key gives both listings.
struct KeySizes {
  platform::DWORD subKeys = 0;
  platform::DWORD maxSubKeyLen = 0;
  platform::DWORD maxValueNameLen = 0;
  platform::DWORD maxValueLen = 0;
};

bool querySizes(HKEY key, KeySizes& sizes) {
  return platform::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &sizes.subKeys, &sizes.maxSubKeyLen, nullptr,
                                    nullptr, &sizes.maxValueNameLen, &sizes.maxValueLen, nullptr,
                                    nullptr) == platform::ERROR_SUCCESS;
}

std::vector<std::u16string> subKeyNames(HKEY key, const KeySizes& sizes) {
  std::vector<std::u16string> names;
  const platform::DWORD maxLen = sizes.maxSubKeyLen;
  names.reserve(sizes.subKeys);
  std::u16string buffer(std::size_t(maxLen) + 1, u'\0');
  for (platform::DWORD i = 0;; ++i) {
    platform::DWORD len = static_cast<platform::DWORD>(buffer.size());
    const auto rc = platform::RegEnumKeyExW(key, i, buffer.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == platform::ERROR_MORE_DATA) {  // grown since the query
      buffer.resize(buffer.size() * 2 + 256);
      --i;
      continue;
    }
    if (rc != platform::ERROR_SUCCESS) break;
    names.emplace_back(buffer.data(), len);
  }
  return names;
}

// The value lines of the open key, in enumeration order. Each value is read
// with its name, type and data in one call; a name holding a NUL goes the
// ordinary way (cut at the NUL, as the 8-bit interface lists it).
void writeValues(TMyRegistry& reg, const KeySizes& sizes, std::string& out, bool unicode, Is64Flag is64) {
  const HKEY key = reg.CurrentKey();
  std::u16string name(std::size_t(sizes.maxValueNameLen) + 1, u'\0');
  std::vector<std::uint8_t> data(std::size_t(sizes.maxValueLen) + 1);
  std::string line;
  for (platform::DWORD i = 0;; ++i) {
    platform::DWORD nameLen = static_cast<platform::DWORD>(name.size());
    platform::DWORD dataLen = static_cast<platform::DWORD>(data.size());
    platform::DWORD type = 0;
    const auto rc = platform::RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
    if (rc == platform::ERROR_MORE_DATA) {  // grown since the query
      name.resize(name.size() * 2 + 256);
      data.resize(std::max<std::size_t>(data.size() * 2, dataLen + 1));
      --i;
      continue;
    }
    if (rc == platform::ERROR_NO_MORE_ITEMS) break;
    if (rc != platform::ERROR_SUCCESS) throw ERegistryException("Failed to list values");
    const std::u16string_view wideName(name.data(), nameLen);
    const std::string ansiName = platform::wideToAnsi(wideName);
    if (wideName.find(u'\0') != std::u16string_view::npos) {
      WriteRegFileValue(reg, ansiName.substr(0, ansiName.find('\0')), out, unicode, is64);
      continue;
    }
    line.clear();
    AppendRegValueLine(line, ansiName, type, std::span<const std::uint8_t>(data.data(), dataLen), unicode);
    line.append(kCrLf);
    WriteRegFileText(line, out, unicode);
  }
}

// The section of an open key with its values and, when recursive, its
// sub-keys' sections. Sub-keys are opened relative to their parent, which
// stays open meanwhile: a path walk from the root for every key would cost a
// name lookup per level.
void exportOpenKey(HKEY root, const std::string& keyPath, TMyRegistry& reg, std::string& out, bool unicode,
                   Is64Flag is64, bool recursive, int depth) {
  // A key whose sizes cannot be queried may not be listed: it has nothing to
  // export beyond its section line.
  KeySizes sizes;
  if (!querySizes(reg.CurrentKey(), sizes)) return;
  try {
    writeValues(reg, sizes, out, unicode, is64);
  } catch (...) {
    writeErrorComment("// an error occured while writing values of", root, keyPath, nullptr, out, unicode);
  }
  if (!recursive) return;
  try {
    const std::vector<std::u16string> names = subKeyNames(reg.CurrentKey(), sizes);
    if (!names.empty() && depth >= kMaxExportDepth) throw ERegistryException("Key tree too deep");
    for (const std::u16string& name : names) {
      const std::string childPath = keyPath + "\\" + platform::wideToAnsi(name);
      writeSectionLine(root, childPath, out, unicode);
      const HKEY opened = openChildReadOnly(reg, name);
      if (!opened) continue;
      auto child = makeRegistry(root, is64);
      child->ChangeKey(opened, childPath.substr(1));
      exportOpenKey(root, childPath, *child, out, unicode, is64, true, depth + 1);
    }
  } catch (...) {
    writeErrorComment("// an error occured while writing subkeys of", root, keyPath, nullptr, out, unicode);
  }
}

void exportTree(HKEY root, std::string keyPath, std::string& out, bool unicode, Is64Flag is64, bool recursive) {
  if (!keyPath.empty() && keyPath.back() == '\\') keyPath.pop_back();
  writeSectionLine(root, keyPath, out, unicode);
  auto reg = makeRegistry(root, is64);
  if (!reg->OpenKeyReadOnly(keyPath)) return;
  exportOpenKey(root, keyPath, *reg, out, unicode, is64, recursive, 0);
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

bool readWholeFile(const std::filesystem::path& fileName, std::string& bytes) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec)) return false;
  const auto size = std::filesystem::file_size(fileName, ec);
  if (ec) return false;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  bytes.resize(size);
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  bytes.resize(static_cast<std::size_t>(in.gcount()));  // the file may have shrunk meanwhile
  return !in.bad();
}

}  // namespace

// ---------------------------------------------------------------- export

void WriteRegFileValue(TMyRegistry& registry, const std::string& name, std::string& out, bool unicode,
                       Is64Flag is64) {
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
  line.append(kCrLf);
  WriteRegFileText(line, out, unicode);
}

void ExportRegistryKeyTree(HKEY root, const std::string& keyPath, std::string& out, bool unicode, Is64Flag is64,
                           bool recursive) {
  exportTree(root, keyPath, out, unicode, is64, recursive);
}

void ExportRegistryKey(HKEY root, const std::string& keyPath, std::string& out, bool unicode, Is64Flag is64) {
  exportTree(root, keyPath, out, unicode, is64, true);
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

void ExportRegistryKeysToFile(std::span<const HKEY> roots, std::span<const std::string> keyPaths,
                              const std::filesystem::path& fileName, bool unicode, Is64Flag is64, bool recursive) {
  if (roots.size() != keyPaths.size()) return;
  std::string out;
  // Growing a large export by doubling copies it again and again; start big.
  out.reserve(std::size_t(1) << 24);
  writeFileStart(out, unicode);
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (keyPaths[i].empty()) continue;
    try {
      exportTree(roots[i], cleanKeyPath(keyPaths[i]), out, unicode, is64, recursive);
    } catch (...) {
      // One key's failure costs that key only.
    }
  }
  WriteRegFileText(kCrLf, out, unicode);

  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  if (!file) throw sup::EStreamError("Cannot create file \"" + fileName.string() + "\"");
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
  file.close();
  if (!file) throw sup::EStreamError("Stream write error");
}

void ExportRegistryKeyToFile(HKEY root, const std::string& keyPath, const std::filesystem::path& fileName,
                             bool unicode, Is64Flag is64, bool recursive) {
  ExportRegistryKeysToFile(std::span<const HKEY>(&root, 1), std::span<const std::string>(&keyPath, 1), fileName,
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
  std::string bytes;
  if (!readWholeFile(fileName, bytes)) return false;
  std::vector<std::string> lines;
  RegFileVersion version = RegFileVersion::unknown;
  if (!ReadRegFileLines(bytes, lines, version)) return false;
  bytes = {};
  if (lines.size() > 2) ImportStrings(lines);
  return true;
}

void TMyRegistryReader::ImportStrings(const std::vector<std::string>& lines) {
  version_ = lines.empty() ? RegFileVersion::unknown : RegFileVersionOfHeader(lines.front());
  keyOpen_ = false;
  FRegistry.CloseKey();
  // A reader that only reports takes value lines wherever they stand; one that
  // writes has no key for lines before the first section.
  RegFileParser parser(*this, version_, !FWriteToRegistry);
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
  if (!root) return false;
  FRegistry.SetRootKey(root);
  const std::string path(keyPath);
  if (deleted) {
    // A key that is not there is deleted already; one that stays is a failure.
    if (FRegistry.KeyExists(path) && !FRegistry.DeleteKey(path)) {
      throw ERegistryException("Failed to delete key [" + RootKeyToLongName(root) + path + "]");
    }
    return false;
  }
  keyOpen_ = FRegistry.OpenKey(path, true);
  return keyOpen_;
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
  if (!RegFileDataToStored(value.data, version_, type, stored)) return;
  try {
    FRegistry.writeRawValue(value.name, type, stored);
  } catch (const ERegistryException&) {
    throw ERegistryException("Failed to set data for " + where());
  }
}

bool ImportRegFile(const std::filesystem::path& fileName) {
  TMyRegistryReader reader;
  reader.FWriteToRegistry = true;
  return reader.LoadFromFile(fileName);
}

#include "core/bwlRegistry.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/kxStrings.h"
#include "platform/Text.h"
#include "platform/hive/HiveFormat.h"

using namespace platform;

namespace {

struct KindInfo {
  std::uint32_t regType;
  const char* name;
};

// Indexed by TRegDataType.
constexpr std::array<KindInfo, kRegDataTypeCount> kKinds{{
    {0, "REG_NONE"},                         // rdUnknown
    {0, "REG_NONE"},                         // rdNone
    {1, "REG_SZ"},                           // rdString
    {2, "REG_EXPAND_SZ"},                    // rdExpandString
    {3, "REG_BINARY"},                       // rdBinary
    {4, "REG_DWORD"},                        // rdInteger
    {4, "REG_DWORD_LITTLE_ENDIAN"},          // rdLittleEndianInteger
    {5, "REG_DWORD_BIG_ENDIAN"},             // rdBigEndianInteger
    {6, "REG_LINK"},                         // rdLink
    {7, "REG_MULTI_SZ"},                     // rdMultiString
    {8, "REG_RESOURCE_LIST"},                // rdResourceList
    {9, "REG_FULL_RESOURCE_DESCRIPTOR"},     // rdFullResourceDescriptor
    {10, "REG_RESOURCE_REQUIREMENTS_LIST"},  // rdResourceRequirementsList
    {11, "REG_QWORD"},                       // rdInt64
    {11, "REG_QWORD_LITTLE_ENDIAN"},         // rdLittleEndianInt64
    {4, "REG_DWORD"},                        // rdCardinal
}};

// The order names are tried in; the first match wins.
constexpr std::array<std::pair<const char*, TRegDataType>, 14> kNames{{
    {"REG_NONE", rdNone},
    {"REG_SZ", rdString},
    {"REG_EXPAND_SZ", rdExpandString},
    {"REG_BINARY", rdBinary},
    {"REG_DWORD", rdInteger},
    {"REG_DWORD_LITTLE_ENDIAN", rdLittleEndianInteger},
    {"REG_DWORD_BIG_ENDIAN", rdBigEndianInteger},
    {"REG_LINK", rdLink},
    {"REG_MULTI_SZ", rdMultiString},
    {"REG_RESOURCE_LIST", rdResourceList},
    {"REG_FULL_RESOURCE_DESCRIPTOR", rdFullResourceDescriptor},
    {"REG_RESOURCE_REQUIREMENTS_LIST", rdResourceRequirementsList},
    {"REG_QWORD", rdInt64},
    {"REG_QWORD_LITTLE_ENDIAN", rdLittleEndianInt64},
}};

std::uint64_t readLittleEndian(std::span<const std::uint8_t> data, std::size_t width) {
  std::uint64_t v = 0;
  const std::size_t n = std::min(width, data.size());
  for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(data[i]) << (8 * i);
  return v;
}

}  // namespace

std::uint32_t RegDataTypeToRegType(TRegDataType kind) {
  if (kind >= kRegDataTypeCount) return 0;
  return kKinds[kind].regType;
}

TRegDataType RegTypeToRegDataType(std::uint32_t regType) {
  switch (regType) {
    case 0: return rdNone;
    case 1: return rdString;
    case 2: return rdExpandString;
    case 3: return rdBinary;
    case 4: return rdInteger;
    case 5: return rdBigEndianInteger;
    case 6: return rdLink;
    case 7: return rdMultiString;
    case 8: return rdResourceList;
    case 9: return rdFullResourceDescriptor;
    case 10: return rdResourceRequirementsList;
    case 11: return rdInt64;
    default: return rdUnknown;
  }
}

std::string RegDataTypeToStr(TRegDataType kind) {
  if (kind >= kRegDataTypeCount) return "REG_NONE";
  return kKinds[kind].name;
}

TRegDataType StrToRegDataType(std::string_view name) {
  for (const auto& [text, kind] : kNames) {
    if (name == text) return kind;
  }
  return rdUnknown;
}

void RaiseInvalidDataType(std::string_view valueName) {
  throw ERegistryException("Invalid data type for '" + std::string(valueName) + "'");
}

std::string DWordToDisplayText(std::uint32_t value) {
  return "0x" + DWordToHex(value) + " (" + std::to_string(value) + ")";
}

std::string QWordToDisplayText(std::int64_t value) {
  return "0x" + Int64ToHex(value) + " (" + std::to_string(value) + ")";
}

std::int64_t DisplayTextToQWord(std::string_view text) {
  const auto blank = text.find(' ');
  if (blank == std::string_view::npos || text.substr(0, 2) != "0x") return 0;
  // The blank may sit inside "0x" itself ("0 x" fails the prefix test above);
  // here it is at index 2 or later.
  return HexToInt64(text.substr(2, blank - 2));
}

std::uint32_t DisplayTextToDWord(std::string_view text) {
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(DisplayTextToQWord(text)));
}

std::string RegDataToDisplayText(TRegDataType kind, std::span<const std::uint8_t> data) {
  switch (kind) {
    case rdNone:
    case rdBinary:
    case rdLink:
    case rdResourceList:
    case rdFullResourceDescriptor:
    case rdResourceRequirementsList: {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      std::string out(data.size() * 3, ' ');
      for (std::size_t i = 0; i < data.size(); ++i) {
        out[3 * i] = kDigits[data[i] >> 4];
        out[3 * i + 1] = kDigits[data[i] & 15];
      }
      return out;
    }
    case rdString:
    case rdExpandString: {
      const auto nul = std::find(data.begin(), data.end(), std::uint8_t{0});
      return std::string(data.begin(), nul);
    }
    case rdMultiString: {
      std::string out(data.begin(), data.end());
      std::replace(out.begin(), out.end(), '\0', ' ');
      return out;
    }
    case rdInteger:
    case rdLittleEndianInteger:
      return DWordToDisplayText(static_cast<std::uint32_t>(readLittleEndian(data, 4)));
    case rdBigEndianInteger: {
      const auto v = static_cast<std::uint32_t>(readLittleEndian(data, 4));
      return DWordToDisplayText(__builtin_bswap32(v));
    }
    case rdInt64:
    case rdLittleEndianInt64:
      return QWordToDisplayText(static_cast<std::int64_t>(readLittleEndian(data, 8)));
    case rdUnknown:
    case rdCardinal:
    default:
      return {};
  }
}

// ---------------------------------------------------------------------------
// Registry access object

namespace {

// Registry paths nest at most 512 levels deep; anything deeper is a loop
// (a link or a copy into its own sub-tree) and is not followed.
constexpr int kMaxKeyDepth = 512;

constexpr REGSAM kReadNoNotify = 0x20009;  // KEY_READ without KEY_NOTIFY

class KeyHandle {
public:
  explicit KeyHandle(HKEY key = HKEY()) : key_(key) {}
  ~KeyHandle() {
    if (key_) RegCloseKey(key_);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  HKEY get() const { return key_; }
  explicit operator bool() const { return static_cast<bool>(key_); }

private:
  HKEY key_;
};

using DeleteKeyExA = LSTATUS (*)(HKEY, LPCSTR, REGSAM, DWORD);
using DeleteKeyExW = LSTATUS (*)(HKEY, LPCWSTR, REGSAM, DWORD);
DeleteKeyExA gRegDeleteKeyExA = &RegDeleteKeyExA;
DeleteKeyExW gRegDeleteKeyExW = &RegDeleteKeyExW;

LSTATUS callDeleteKeyExW(HKEY base, LPCWSTR path, REGSAM sam) {
  if (gRegDeleteKeyExW == nullptr) return ERROR_DLL_INIT_FAILED;
  return gRegDeleteKeyExW(base, path, sam, 0);
}

std::u16string toWide(std::string_view text) { return platform::ansiToWide(text); }
std::string toAnsi(std::u16string_view text) { return platform::wideToAnsi(text); }

std::string dropLeadingBackslash(const std::string& key, bool& relative) {
  relative = IsRelativeKeyPath(key);
  return relative ? key : key.substr(1);
}

bool isMultiByteCodePage(unsigned cp) {
  return cp == kCodePageUtf8 || cp == 932 || cp == 936 || cp == 949 || cp == 950 || cp == 1361;
}

// Stored bytes and type number of a value through the wide interface, which
// hands out the data exactly as stored.
bool queryRawW(HKEY key, const std::u16string& name, DWORD& type, std::vector<std::uint8_t>& data) {
  DWORD size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  for (int attempt = 0; attempt < 4; ++attempt) {
    data.assign(size, 0);
    DWORD got = size;
    const LSTATUS rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.empty() ? nullptr : data.data(), &got);
    if (rc == ERROR_SUCCESS) {
      data.resize(std::min<std::size_t>(got, data.size()));
      return true;
    }
    if (rc != ERROR_MORE_DATA) return false;
    size = got;  // it grew meanwhile
  }
  return false;
}

// Lists names through a "W" enumeration call. The key's longest-name length
// is a hint from the file: the buffer starts from it clamped, and a name
// longer than that (damage, or the key changed meanwhile) grows the buffer,
// so no name is cut or lost.
template <class EnumFn>
std::vector<std::u16string> listNamesW(DWORD count, DWORD maxLen, EnumFn enumerate) {
  std::vector<std::u16string> names;
  std::vector<char16_t> buffer(RegSizeHint::nameBuffer(maxLen));
  for (DWORD i = 0; i < count; ++i) {
    for (;;) {
      DWORD cch = RegSizeHint::saturated(buffer.size());
      const LSTATUS rc = enumerate(i, buffer.data(), &cch);
      if (rc == ERROR_SUCCESS) {
        names.emplace_back(buffer.data(), std::min<std::size_t>(cch, buffer.size()));
        break;
      }
      const std::size_t grown = RegSizeHint::grownNameBuffer(buffer.size());
      if (rc != ERROR_MORE_DATA || grown == 0) break;
      buffer.resize(grown);
    }
  }
  return names;
}

std::vector<std::u16string> subKeyNamesW(HKEY key) {
  DWORD count = 0, maxLen = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &maxLen, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr) != ERROR_SUCCESS)
    return {};
  std::vector<std::u16string> names = listNamesW(count, maxLen, [key](DWORD i, char16_t* buffer, DWORD* cch) {
    return RegEnumKeyExW(key, i, buffer, cch, nullptr, nullptr, nullptr, nullptr);
  });
  // A nameless sub-key opens as the key itself: a walk into it never ends.
  std::erase_if(names, [](const std::u16string& n) { return n.empty(); });
  return names;
}

std::vector<std::u16string> valueNamesW(HKEY key) {
  DWORD count = 0, maxLen = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxLen, nullptr, nullptr,
                       nullptr) != ERROR_SUCCESS)
    return {};
  return listNamesW(count, maxLen, [key](DWORD i, char16_t* buffer, DWORD* cch) {
    return RegEnumValueW(key, i, buffer, cch, nullptr, nullptr, nullptr, nullptr);
  });
}

[[noreturn]] void raiseGetData(std::string_view name) {
  throw ERegistryException("Failed to get data for '" + std::string(name) + "'");
}
[[noreturn]] void raiseSetData(std::string_view name) {
  throw ERegistryException("Failed to set data for '" + std::string(name) + "'");
}

template <class T>
T fromBytes(const std::uint8_t* p) {
  T v{};
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

std::u16string RegistryNameKey(std::string_view name) {
  // ASCII folding is not enough: the registry also takes "\xC3\xA4" and
  // "\xC3\x84" for one name, and a guard that missed that would delete the
  // very value or key it was meant to keep.
  std::u16string out = toWide(name);
  for (char16_t& c : out) c = platform::hive::upcaseUnit(c);
  return out;
}

std::u16string RegistryPathKey(std::string_view path) {
  std::u16string out = RegistryNameKey(path);
  while (!out.empty() && out.front() == u'\\') out.erase(out.begin());
  while (!out.empty() && out.back() == u'\\') out.pop_back();
  return out;
}

void MemoryStream::Write(const void* data, std::size_t size) {
  if (size == 0) return;
  if (Memory.size() < Position + size) Memory.resize(Position + size);
  std::memcpy(Memory.data() + Position, data, size);
  Position += size;
}

bool IsRelativeKeyPath(std::string_view path) { return path.empty() || path.front() != '\\'; }
bool IsRelativeKeyPath(std::u16string_view path) { return path.empty() || path.front() != u'\\'; }

void BindRegistryFunctions(bool bound) {
  gRegDeleteKeyExA = bound ? &RegDeleteKeyExA : nullptr;
  gRegDeleteKeyExW = bound ? &RegDeleteKeyExW : nullptr;
}

LSTATUS TMyRegistry::openSubKey(HKEY base, const std::string& path, REGSAM sam, HKEY* result) const {
  return RegOpenKeyExA(base, path.c_str(), 0, sam, result);
}

TMyRegistry::TMyRegistry() : FRootKey(HKEY_CURRENT_USER), FAccess(KEY_ALL_ACCESS) {}

TMyRegistry::~TMyRegistry() { CloseKey(); }

void TMyRegistry::SetRootKey(HKEY root) {
  if (root == FRootKey) return;
  CloseKey();
  FRootKey = root;
}

void TMyRegistry::SetBitness(Bitness bitness) {
  switch (bitness) {
    case Bitness::x32:
      FAccess &= ~KEY_WOW64_64KEY;
      FBitness = 32;
      FView = rv32Bit;
      return;
    case Bitness::x64:
      FAccess = (FAccess & ~KEY_WOW64_32KEY) | KEY_WOW64_64KEY;
      FBitness = 64;
      FView = rv64Bit;
      return;
  }
  throw std::runtime_error(kBitnessErrorText);
}

void TMyRegistry::SetView(TRegistryView view) {
  FView = view;
  if (view == rvDefault || view == rv32Bit) {
    SetBitness(Bitness::x32);
  } else if (view == rv64Bit) {
    SetBitness(Bitness::x64);
  }
}

REGSAM TMyRegistry::ViewAccess(REGSAM mask) const {
  return FBitness == 64 ? (mask | KEY_WOW64_64KEY) : mask;
}

void TMyRegistry::alignAccessWithBitness() {
  if (FBitness == 64) {
    FAccess = (FAccess & ~KEY_WOW64_32KEY) | KEY_WOW64_64KEY;
  } else {
    FAccess &= ~KEY_WOW64_64KEY;
  }
}

HKEY TMyRegistry::GetBaseKey(bool relative) const {
  return (relative && FCurrentKey) ? FCurrentKey : FRootKey;
}

bool TMyRegistry::OpenKey(const std::string& key, bool canCreate) {
  alignAccessWithBitness();
  bool relative = false;
  std::string path = dropLeadingBackslash(key, relative);
  HKEY opened;
  LSTATUS rc;
  if (!canCreate || path.empty()) {
    rc = openSubKey(GetBaseKey(relative), path, FAccess, &opened);
  } else {
    rc = RegCreateKeyExA(GetBaseKey(relative), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, FAccess, nullptr,
                         &opened, nullptr);
  }
  FLastError = rc;
  if (rc != ERROR_SUCCESS) return false;
  if (FCurrentKey && relative) path = FCurrentPath + "\\" + path;
  ChangeKey(opened, path);
  return true;
}

bool TMyRegistry::OpenKeyReadOnly(const std::string& key) {
  bool relative = false;
  std::string path = dropLeadingBackslash(key, relative);
  const REGSAM view = FAccess & kViewFlagsMask;
  const REGSAM masks[] = {view | KEY_READ, view | kReadNoNotify, view | KEY_QUERY_VALUE};
  for (REGSAM mask : masks) {
    HKEY opened;
    FLastError = openSubKey(GetBaseKey(relative), path, mask, &opened);
    if (FLastError == ERROR_SUCCESS) {
      if (FCurrentKey && relative) path = FCurrentPath + "\\" + path;
      ChangeKey(opened, path);
      return true;
    }
  }
  return false;
}

void TMyRegistry::CloseKey() {
  if (FCurrentKey) {
    // No flush: the store writes lazily, as the class library's object does.
    RegCloseKey(FCurrentKey);
    FCurrentKey = HKEY();
    FCurrentPath.clear();
  }
}

void TMyRegistry::ChangeKey(HKEY key, const std::string& path) {
  CloseKey();
  FCurrentKey = key;
  FCurrentPath = path;
}

bool TMyRegistry::CreateKey(const std::string& key) {
  bool relative = false;
  const std::string path = dropLeadingBackslash(key, relative);
  HKEY created;
  if (RegCreateKeyExA(GetBaseKey(relative), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      ViewAccess(KEY_ALL_ACCESS), nullptr, &created, nullptr) != ERROR_SUCCESS) {
    throw ERegistryException("Failed to create key " + key);
  }
  RegCloseKey(created);
  return true;
}

HKEY TMyRegistry::GetKey(const std::string& key) const {
  bool relative = false;
  const std::string path = dropLeadingBackslash(key, relative);
  HKEY opened;
  if (openSubKey(GetBaseKey(relative), path, FAccess, &opened) != ERROR_SUCCESS) return HKEY();
  return opened;
}

HKEY TMyRegistry::GetKeyW(std::u16string_view key) const {
  const bool relative = IsRelativeKeyPath(key);
  const std::u16string path(relative ? key : key.substr(1));
  HKEY opened;
  if (RegOpenKeyExW(GetBaseKey(relative), path.c_str(), 0, FAccess, &opened) != ERROR_SUCCESS) return HKEY();
  return opened;
}

bool TMyRegistry::KeyExists(const std::string& key) const {
  bool relative = false;
  const std::string path = dropLeadingBackslash(key, relative);
  HKEY opened;
  if (openSubKey(GetBaseKey(relative), path, ViewAccess((FAccess & kViewFlagsMask) | kReadNoNotify), &opened) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(opened);
  return true;
}

bool TMyRegistry::HasSubKeys() const {
  TRegKeyInfo info;
  return GetKeyInfo(info) && info.NumSubKeys > 0;
}

bool TMyRegistry::GetKeyInfo(TRegKeyInfo& info) const {
  info = TRegKeyInfo{};
  if (RegQueryInfoKeyA(FCurrentKey, nullptr, nullptr, nullptr, &info.NumSubKeys, &info.MaxSubKeyLen, nullptr,
                       &info.NumValues, &info.MaxValueLen, &info.MaxDataLen, nullptr,
                       &info.FileTime) != ERROR_SUCCESS) {
    info = TRegKeyInfo{};
    return false;
  }
  // The lengths count UTF-16 units; the 8-bit names of a multi-byte code page
  // take more bytes than that.
  if (isMultiByteCodePage(platform::activeCodePage())) {
    info.MaxSubKeyLen = RegSizeHint::saturatedProduct(info.MaxSubKeyLen, 2);
    info.MaxValueLen = RegSizeHint::saturatedProduct(info.MaxValueLen, 2);
  }
  return true;
}

namespace {

// Lists names through an "A" enumeration call. The buffer starts at three
// bytes per UTF-16 unit of the clamped length hint (the most an 8-bit unit of
// this program's code pages needs) and grows when a name still does not fit,
// so no name is cut or lost.
template <class EnumFn>
void listNamesA(std::uint32_t count, std::uint32_t maxLen, std::vector<std::string>& list, EnumFn enumerate) {
  constexpr std::size_t kBytesPerUnit = 3;
  std::vector<char> buffer((RegSizeHint::nameBuffer(maxLen) - 1) * kBytesPerUnit + 1);
  for (DWORD i = 0; i < count; ++i) {
    for (;;) {
      DWORD cch = RegSizeHint::saturated(buffer.size());
      const LSTATUS rc = enumerate(i, buffer.data(), &cch);
      if (rc == ERROR_SUCCESS) {
        const std::size_t n = std::min<std::size_t>(cch, buffer.size());
        list.emplace_back(buffer.data(), std::find(buffer.data(), buffer.data() + n, '\0'));
        break;
      }
      if (rc != ERROR_MORE_DATA || buffer.size() > RegSizeHint::kStoredNameUnits * kBytesPerUnit) break;
      buffer.resize(std::min(buffer.size() * 2 + 256, RegSizeHint::kStoredNameUnits * kBytesPerUnit + 1));
    }
  }
}

}  // namespace

void TMyRegistry::GetKeyNames(std::vector<std::string>& list) const {
  list.clear();
  TRegKeyInfo info;
  if (!GetKeyInfo(info)) return;
  listNamesA(info.NumSubKeys, info.MaxSubKeyLen, list, [&](DWORD i, char* buf, DWORD* cch) {
    return RegEnumKeyExA(FCurrentKey, i, buf, cch, nullptr, nullptr, nullptr, nullptr);
  });
  // A nameless sub-key opens as the key itself: a walk into it never ends.
  std::erase_if(list, [](const std::string& n) { return n.empty(); });
}

void TMyRegistry::GetValueNames(std::vector<std::string>& list) const {
  list.clear();
  TRegKeyInfo info;
  if (!GetKeyInfo(info)) return;
  listNamesA(info.NumValues, info.MaxValueLen, list, [&](DWORD i, char* buf, DWORD* cch) {
    return RegEnumValueA(FCurrentKey, i, buf, cch, nullptr, nullptr, nullptr, nullptr);
  });
}

bool TMyRegistry::GetDataInfo(const std::string& name, TMyRegDataInfo& info) const {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(FCurrentKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    info = TMyRegDataInfo{};
    return false;
  }
  info.RegType = type;
  info.RegData = RegTypeToRegDataType(type);
  info.DataSize = size;
  return true;
}

TRegDataType TMyRegistry::GetDataType(const std::string& name) const {
  TMyRegDataInfo info;
  return GetDataInfo(name, info) ? info.RegData : rdUnknown;
}

int TMyRegistry::GetDataSize(const std::string& name) const {
  TMyRegDataInfo info;
  return GetDataInfo(name, info) ? static_cast<int>(info.DataSize) : -1;
}

bool TMyRegistry::ValueExists(const std::string& name) const {
  TMyRegDataInfo info;
  return GetDataInfo(name, info);
}

int TMyRegistry::GetData(const std::string& name, void* buffer, TRegDataType& kind, std::uint32_t bufSize) const {
  DWORD type = 0;
  DWORD size = bufSize;
  if (RegQueryValueExA(FCurrentKey, name.c_str(), nullptr, &type, static_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    raiseGetData(name);
  }
  const TRegDataType stored = RegTypeToRegDataType(type);
  if (!(type == REG_DWORD && (kind == rdCardinal || kind == rdLittleEndianInteger))) kind = stored;
  return static_cast<int>(size);
}

void TMyRegistry::PutData(const std::string& name, const void* buffer, TRegDataType kind, std::uint32_t size) {
  if (RegSetValueExA(FCurrentKey, name.c_str(), 0, RegDataTypeToRegType(kind), static_cast<const BYTE*>(buffer),
                     size) != ERROR_SUCCESS) {
    raiseSetData(name);
  }
}

std::string TMyRegistry::ReadString(const std::string& name) const {
  const int size = GetDataSize(name);
  if (size < 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(size) * 2 + 1, '\0');
  TRegDataType kind = rdUnknown;
  const int got = GetData(name, buffer.data(), kind, static_cast<std::uint32_t>(buffer.size()));
  if (kind != rdString && kind != rdExpandString) RaiseInvalidDataType(name);
  const char* end = buffer.data() + std::min<std::size_t>(static_cast<std::size_t>(got), buffer.size());
  const char* begin = buffer.data();
  return std::string(begin, std::find(begin, end, '\0'));
}

std::string TMyRegistry::ReadMultiString(const std::string& name) const {
  const int size = GetDataSize(name);
  if (size <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(size), '\0');
  TRegDataType kind = rdUnknown;
  const int got = GetData(name, buffer.data(), kind, static_cast<std::uint32_t>(buffer.size()));
  if (kind != rdMultiString) RaiseInvalidDataType(name);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(got), buffer.size());
  std::string out;
  out.reserve(n + n / 2);
  for (std::size_t i = 0; i < n; ++i) {
    const char c = buffer[i];
    if (c == '\0' && i + 1 < n) {
      out += "\r\n";
    } else if (c == '\0') {
      break;  // the very last byte: the first remaining NUL cuts here
    } else {
      out += c;
    }
  }
  return out;
}

std::int32_t TMyRegistry::ReadInteger(const std::string& name) const {
  std::uint8_t bytes[4] = {};
  TRegDataType kind = rdInteger;
  GetData(name, bytes, kind, sizeof bytes);
  if (kind != rdInteger) RaiseInvalidDataType(name);
  return fromBytes<std::int32_t>(bytes);
}

bool TMyRegistry::ReadBool(const std::string& name) const { return ReadInteger(name) != 0; }

std::uint32_t TMyRegistry::ReadCardinal(const std::string& name) const {
  std::uint8_t bytes[4] = {};
  TRegDataType kind = rdCardinal;
  GetData(name, bytes, kind, sizeof bytes);
  if (kind != rdCardinal) RaiseInvalidDataType(name);
  return fromBytes<std::uint32_t>(bytes);
}

std::int32_t TMyRegistry::ReadLittleEndianInteger(const std::string& name) const {
  std::uint8_t bytes[4] = {};
  TRegDataType kind = rdLittleEndianInteger;
  GetData(name, bytes, kind, sizeof bytes);
  if (kind != rdLittleEndianInteger) RaiseInvalidDataType(name);
  return fromBytes<std::int32_t>(bytes);
}

std::int32_t TMyRegistry::ReadBigEndianInteger(const std::string& name) const {
  std::uint8_t bytes[4] = {};
  TRegDataType kind = rdBigEndianInteger;
  GetData(name, bytes, kind, sizeof bytes);
  if (kind != rdBigEndianInteger) RaiseInvalidDataType(name);
  std::reverse(std::begin(bytes), std::end(bytes));
  return fromBytes<std::int32_t>(bytes);
}

std::int64_t TMyRegistry::ReadInt64(const std::string& name) const {
  std::uint8_t bytes[8] = {};
  TRegDataType kind = rdInt64;
  GetData(name, bytes, kind, sizeof bytes);
  if (kind != rdInt64) RaiseInvalidDataType(name);
  return fromBytes<std::int64_t>(bytes);
}

std::int64_t TMyRegistry::ReadLittleEndianInt64(const std::string& name) const {
  // A stored REG_QWORD always reads back as rdInt64.
  return ReadInt64(name);
}

double TMyRegistry::ReadFloat(const std::string& name) const {
  std::uint8_t bytes[8] = {};
  TRegDataType kind = rdBinary;
  const int got = GetData(name, bytes, kind, sizeof bytes);
  if (kind != rdBinary || got != 8) RaiseInvalidDataType(name);
  return fromBytes<double>(bytes);
}

int TMyRegistry::ReadBinaryData(const std::string& name, void* buffer, std::uint32_t bufSize) const {
  TMyRegDataInfo info;
  if (!GetDataInfo(name, info)) return 0;
  if (info.DataSize > bufSize) RaiseInvalidDataType(name);
  TRegDataType kind = info.RegData;
  return GetData(name, buffer, kind, info.DataSize);
}

bool TMyRegistry::ReadBinaryStream(const std::string& name, MemoryStream& stream) const {
  try {
    TMyRegDataInfo info;
    if (!GetDataInfo(name, info)) return false;
    std::vector<std::uint8_t> buffer(info.DataSize);
    TRegDataType kind = info.RegData;
    const int got = GetData(name, buffer.data(), kind, info.DataSize);
    stream.Write(buffer.data(), static_cast<std::size_t>(got));
    return true;
  } catch (...) {
    return false;
  }
}

void TMyRegistry::WriteTypedString(const std::string& name, const std::string& text, TRegDataType kind) {
  PutData(name, text.c_str(), kind, static_cast<std::uint32_t>(text.size() + 1));
}

void TMyRegistry::WriteString(const std::string& name, const std::string& text) {
  WriteTypedString(name, text, rdString);
}

void TMyRegistry::WriteExpandString(const std::string& name, const std::string& text) {
  WriteTypedString(name, text, rdExpandString);
}

void TMyRegistry::WriteMultiString(const std::string& name, const std::string& text) {
  std::string data;
  data.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      data += '\0';
      ++i;
    } else {
      data += text[i];
    }
  }
  data += '\0';
  PutData(name, data.data(), rdMultiString, static_cast<std::uint32_t>(data.size()));
}

void TMyRegistry::WriteInteger(const std::string& name, std::int32_t value) {
  PutData(name, &value, rdInteger, sizeof value);
}

void TMyRegistry::WriteCardinal(const std::string& name, std::uint32_t value) {
  PutData(name, &value, rdCardinal, sizeof value);
}

void TMyRegistry::WriteLittleEndianInteger(const std::string& name, std::int32_t value) {
  PutData(name, &value, rdLittleEndianInteger, sizeof value);
}

void TMyRegistry::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

void TMyRegistry::WriteBigEndianInteger(const std::string& name, std::int32_t value) {
  const auto v = __builtin_bswap32(static_cast<std::uint32_t>(value));
  PutData(name, &v, rdBigEndianInteger, sizeof v);
}

void TMyRegistry::WriteInt64(const std::string& name, std::int64_t value) {
  PutData(name, &value, rdInt64, sizeof value);
}

void TMyRegistry::WriteLittleEndianInt64(const std::string& name, std::int64_t value) {
  PutData(name, &value, rdLittleEndianInt64, sizeof value);
}

void TMyRegistry::WriteFloat(const std::string& name, double value) { PutData(name, &value, rdBinary, sizeof value); }

void TMyRegistry::WriteBinaryData(const std::string& name, const void* buffer, std::uint32_t size) {
  PutData(name, buffer, rdBinary, size);
}

void TMyRegistry::WriteLink(const std::string& name, const void* buffer, std::uint32_t size) {
  PutData(name, buffer, rdLink, size);
}

void TMyRegistry::WriteResourceList(const std::string& name, const void* buffer, std::uint32_t size) {
  PutData(name, buffer, rdResourceList, size);
}

void TMyRegistry::WriteFullResourceDescriptor(const std::string& name, const void* buffer, std::uint32_t size) {
  PutData(name, buffer, rdFullResourceDescriptor, size);
}

void TMyRegistry::WriteResourceRequirementsList(const std::string& name, const void* buffer, std::uint32_t size) {
  PutData(name, buffer, rdResourceRequirementsList, size);
}

void TMyRegistry::WriteNone(const std::string& name) { PutData(name, nullptr, rdNone, 0); }

void TMyRegistry::WriteBinaryStream(const std::string& name, TRegDataType kind, const MemoryStream& stream) {
  PutData(name, stream.Memory.data(), kind, static_cast<std::uint32_t>(stream.Memory.size()));
}

bool TMyRegistry::DeleteValue(const std::string& name) {
  return RegDeleteValueA(FCurrentKey, name.c_str()) == ERROR_SUCCESS;
}

bool TMyRegistry::readRawValue(const std::string& name, std::uint32_t& type, std::vector<std::uint8_t>& data) const {
  DWORD t = 0;
  if (!queryRawW(FCurrentKey, toWide(name), t, data)) return false;
  type = t;
  return true;
}

void TMyRegistry::writeRawValue(const std::string& name, std::uint32_t type, std::span<const std::uint8_t> data) {
  if (RegSetValueExW(FCurrentKey, toWide(name).c_str(), 0, type, data.empty() ? nullptr : data.data(),
                     static_cast<DWORD>(data.size())) != ERROR_SUCCESS) {
    raiseSetData(name);
  }
}

bool TMyRegistry::RenameValue(const std::string& oldName, const std::string& newName) {
  if (!ValueExists(oldName) || ValueExists(newName)) return false;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (!readRawValue(oldName, type, data)) return false;
  // Write first: should it fail, the old value is still there.
  writeRawValue(newName, type, data);
  return DeleteValue(oldName);
}

bool TMyRegistry::deleteTreeW(HKEY base, const std::u16string& path, int depth) {
  if (depth > kMaxKeyDepth) return false;
  {
    HKEY opened;
    if (RegOpenKeyExW(base, path.c_str(), 0, FAccess, &opened) == ERROR_SUCCESS) {
      KeyHandle key(opened);
      // From the last sub-key down, each by its exact wide name, so a name
      // with no form in the active code page is still the one deleted.
      auto names = subKeyNamesW(key.get());
      for (auto it = names.rbegin(); it != names.rend(); ++it) deleteTreeW(key.get(), *it, depth + 1);
    }
  }
  LSTATUS rc = callDeleteKeyExW(base, path.c_str(), ViewAccess(0));
  // RegDeleteKey works in the default (32-bit) view only: in the 64-bit view it
  // would remove the 32-bit twin of the key, so it is the fallback there only
  // when RegDeleteKeyEx is missing altogether.
  if (rc != ERROR_SUCCESS && (FBitness == 32 || rc == ERROR_DLL_INIT_FAILED)) rc = RegDeleteKeyW(base, path.c_str());
  return rc == ERROR_SUCCESS;
}

bool TMyRegistry::DeleteKey(const std::string& key) { return DeleteKeyW(toWide(key)); }

bool TMyRegistry::DeleteKeyW(std::u16string_view key) {
  const bool relative = IsRelativeKeyPath(key);
  const std::u16string path(relative ? key : key.substr(1));
  return deleteTreeW(GetBaseKey(relative), path, 0);
}

void TMyRegistry::copyValuesW(HKEY source, HKEY target) {
  for (const auto& name : valueNamesW(source)) {
    DWORD type = 0;
    std::vector<std::uint8_t> data;
    if (!queryRawW(source, name, type, data)) continue;  // vanished meanwhile
    // The type number goes across as stored, unknown numbers included.
    if (RegSetValueExW(target, name.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                       static_cast<DWORD>(data.size())) != ERROR_SUCCESS) {
      raiseSetData(toAnsi(name));
    }
  }
}

void TMyRegistry::copySubKeysW(HKEY source, HKEY target, int depth) {
  if (depth > kMaxKeyDepth) return;
  for (const auto& name : subKeyNamesW(source)) {
    // Reading is all a copy needs of its source: keys an administrator may
    // read but not write (many of the system's own) are copied too. A key
    // that cannot be read fails the copy, so it is never reported whole.
    HKEY from;
    const LSTATUS rc = RegOpenKeyExW(source, name.c_str(), 0, ViewAccess((FAccess & kViewFlagsMask) | kReadNoNotify), &from);
    if (rc == ERROR_FILE_NOT_FOUND) continue;  // vanished meanwhile
    if (rc != ERROR_SUCCESS) throw ERegistryException("Failed to open key " + toAnsi(name));
    KeyHandle fromKey(from);
    HKEY to;
    if (RegCreateKeyExW(target, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, FAccess, nullptr, &to, nullptr) !=
        ERROR_SUCCESS) {
      throw ERegistryException("Failed to create key " + toAnsi(name));
    }
    KeyHandle toKey(to);
    copyValuesW(fromKey.get(), toKey.get());
    copySubKeysW(fromKey.get(), toKey.get(), depth + 1);
  }
}

void TMyRegistry::MoveKey(const std::string& oldName, const std::string& newName, bool deleteSource) {
  if (!KeyExists(oldName) || KeyExists(newName)) return;
  // A target inside the source would be copied into itself without end, and
  // deleting the source would take the copy with it.
  if (IsRelativeKeyPath(oldName) == IsRelativeKeyPath(newName)) {
    const std::u16string from = RegistryPathKey(oldName);
    const std::u16string to = RegistryPathKey(newName);
    if (to == from || (to.size() > from.size() && to.compare(0, from.size(), from) == 0 && to[from.size()] == u'\\'))
      return;
  }
  // The source is only read (it is deleted, when it is, by name).
  KeyHandle source([&] {
    bool relative = false;
    const std::string path = dropLeadingBackslash(oldName, relative);
    HKEY opened;
    if (openSubKey(GetBaseKey(relative), path, ViewAccess((FAccess & kViewFlagsMask) | kReadNoNotify), &opened) !=
        ERROR_SUCCESS)
      return HKEY();
    return opened;
  }());
  if (!source) return;
  CreateKey(newName);
  KeyHandle target(GetKey(newName));
  if (!target) throw ERegistryException("Failed to create key " + newName);
  copyValuesW(source.get(), target.get());
  copySubKeysW(source.get(), target.get(), 0);
  if (deleteSource) DeleteKey(oldName);
}

std::string TMyRegistry::ReadValueAsText(const std::string& name) const {
  // The search reads every value of a hive through here, so one query serves
  // most values: data that fits the first buffer needs no size query first.
  std::array<std::uint8_t, 512> small;
  std::vector<std::uint8_t> large;
  std::uint8_t* data = small.data();
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(small.size());
  LSTATUS rc = RegQueryValueExA(FCurrentKey, name.c_str(), nullptr, &type, data, &size);
  // The data may grow between the queries; a few tries, then it is a failure.
  for (int attempt = 0; rc == ERROR_MORE_DATA && attempt < 4; ++attempt) {
    large.resize(size);
    data = large.data();
    rc = RegQueryValueExA(FCurrentKey, name.c_str(), nullptr, &type, data, &size);
  }
  if (rc == ERROR_MORE_DATA) raiseGetData(name);
  if (rc != ERROR_SUCCESS) return {};  // no such value
  const TRegDataType kind = RegTypeToRegDataType(type);
  const std::span<const std::uint8_t> bytes(data, size);
  switch (kind) {
    // The typed readers take at most the number's width; more data is a
    // failed read, less is zero-extended.
    case rdInteger:
    case rdBigEndianInteger:
      if (size > 4) raiseGetData(name);
      return RegDataToDisplayText(kind, bytes);
    case rdInt64:
      if (size > 8) raiseGetData(name);
      return RegDataToDisplayText(kind, bytes);
    default:
      return RegDataToDisplayText(kind, bytes);
  }
}

void TMyRegistry::WriteValueFromText(const std::string& name, const std::string& text, TRegDataType targetKind,
                                     TRegDataType sourceKind) {
  std::int64_t number = 0;
  switch (sourceKind) {
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger:
    case rdCardinal:
      number = DisplayTextToDWord(text);
      break;
    case rdInt64:
    case rdLittleEndianInt64:
      number = DisplayTextToQWord(text);
      break;
    default:
      break;
  }
  const auto n32 = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
  switch (targetKind) {
    case rdString: WriteTypedString(name, text, rdString); break;
    case rdExpandString: WriteExpandString(name, text); break;
    case rdMultiString: WriteMultiString(name, text); break;
    case rdInteger: WriteInteger(name, n32); break;
    case rdLittleEndianInteger: WriteLittleEndianInteger(name, n32); break;
    case rdBigEndianInteger: WriteBigEndianInteger(name, n32); break;
    case rdCardinal: WriteCardinal(name, static_cast<std::uint32_t>(n32)); break;
    case rdInt64: WriteInt64(name, number); break;
    case rdLittleEndianInt64: WriteLittleEndianInt64(name, number); break;
    default: break;
  }
}

TMyRegistry64::TMyRegistry64() { TMyRegistry::SetBitness(Bitness::x64); }

void TMyRegistry64::SetBitness(Bitness bitness) { TMyRegistry::SetBitness(bitness); }

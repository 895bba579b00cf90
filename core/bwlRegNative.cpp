#include "core/bwlRegNative.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "core/bwlRegistry.h"
#include "platform/Security.h"

using namespace platform;

namespace {

// OBJ_INHERIT | OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE
constexpr ULONG kObjectAttributes = 0x242;

// What a native call receives for a name: the whole text, NULs included.
// Longer than a counted string can say is refused rather than cut, since a
// cut name would reach another key or value.
class CountedName {
public:
  explicit CountedName(std::u16string_view text) : text_(text) {
    valid_ = text_.size() <= (0xFFFFu - 2) / 2;
    if (!valid_) return;
    str_.Length = USHORT(text_.size() * 2);
    str_.MaximumLength = USHORT(str_.Length + 2);
    str_.Buffer = text_.data();
  }
  CountedName(const CountedName&) = delete;
  CountedName& operator=(const CountedName&) = delete;
  bool valid() const { return valid_; }
  const UNICODE_STRING* get() const { return &str_; }

private:
  std::u16string text_;  // owned: valid until the native call has returned
  UNICODE_STRING str_;
  bool valid_ = false;
};

std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t off) {
  std::uint32_t v = 0;
  if (off <= b.size() && b.size() - off >= 4) std::memcpy(&v, b.data() + off, 4);
  return v;
}

std::u16string textOf(const std::uint8_t* p, std::size_t units) {
  std::u16string s(units, u'\0');
  if (units) std::memcpy(s.data(), p, units * 2);
  return s;
}

std::u16string widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Native record sizes the first enumeration attempt uses: room for a name of
// 260 UTF-16 units. A longer name grows the buffer to what the call reports.
constexpr ULONG kKeyBasicBuffer = 536;
constexpr ULONG kValueBasicBuffer = 532;
// Names are counted in 16 bits of bytes, so no record of a name needs more;
// a report above this is not believed.
constexpr ULONG kMaxNameRecord = 0x10000 + 64;

// Enumerates names with `call(index, buffer, length, &resultLength)` until
// the first answer other than success. A name too long for the buffer makes
// the buffer grow (once per name) instead of ending the list, so no later
// name is hidden behind a long one.
template <typename Call>
void enumerateNames(sup::TWideStringList& list, ULONG firstSize, std::size_t nameLengthOffset,
                    std::size_t nameOffset, Call call) {
  std::vector<std::uint8_t> buffer(firstSize);
  for (ULONG index = 0; index < 0xFFFFFFFFu; ++index) {
    ULONG needed = 0;
    NTSTATUS st = call(index, buffer.data(), ULONG(buffer.size()), &needed);
    if ((st == STATUS_BUFFER_OVERFLOW || st == STATUS_BUFFER_TOO_SMALL) && needed > buffer.size() &&
        needed <= kMaxNameRecord) {
      buffer.resize(needed);
      st = call(index, buffer.data(), ULONG(buffer.size()), &needed);
    }
    if (st != STATUS_SUCCESS) return;
    const std::size_t filled = std::min<std::size_t>(needed, buffer.size());
    const std::uint32_t nameBytes = get32(buffer, nameLengthOffset);
    if (filled < nameOffset || nameBytes > filled - nameOffset) return;  // a record that lies about itself
    list.Add(textOf(buffer.data() + nameOffset, nameBytes / 2));
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TCustomRegistry

bool TCustomRegistry::DeleteKey(std::u16string_view) { return false; }

void TCustomRegistry::GetKeyNames(sup::TWideStringList& List) { List.Clear(); }

void TCustomRegistry::GetValueNames(sup::TWideStringList& List) { List.Clear(); }

std::int64_t TCustomRegistry::ReadBinaryAsInt64(std::u16string_view Name) {
  std::vector<std::uint8_t> data;
  if (!ReadData(Name, REG_BINARY, 8, data)) return 0;
  std::int64_t v = 0;
  std::memcpy(&v, data.data(), std::min<std::size_t>(data.size(), 8));
  return v;
}

double TCustomRegistry::ReadBinaryAsFloat(std::u16string_view Name) {
  std::vector<std::uint8_t> data;
  if (!ReadData(Name, REG_BINARY, 8, data)) return 0;
  std::uint8_t bytes[8] = {};
  std::memcpy(bytes, data.data(), std::min<std::size_t>(data.size(), 8));
  double v;
  std::memcpy(&v, bytes, 8);
  return v;
}

std::u16string TCustomRegistry::ReadString(std::u16string_view Name) {
  std::vector<std::uint8_t> data;
  if (!ReadData(Name, REG_SZ, 0, data)) return {};
  return textOf(data.data(), data.size() / 2);
}

std::u16string TCustomRegistry::ReadExpandString(std::u16string_view Name) {
  std::vector<std::uint8_t> data;
  if (!ReadData(Name, REG_EXPAND_SZ, 0, data)) return {};
  return textOf(data.data(), data.size() / 2);
}

std::uint32_t TCustomRegistry::ReadDWord(std::u16string_view Name) {
  std::vector<std::uint8_t> data;
  if (!ReadData(Name, REG_DWORD, 4, data) || data.size() < 4) return 0;
  std::uint32_t v;
  std::memcpy(&v, data.data(), 4);
  return v;
}

std::uint32_t TCustomRegistry::ReadBigEndianDWord(std::u16string_view Name) {
  std::vector<std::uint8_t> data;
  if (!ReadData(Name, REG_DWORD_BIG_ENDIAN, 4, data) || data.size() < 4) return 0;
  return std::uint32_t(data[0]) << 24 | std::uint32_t(data[1]) << 16 | std::uint32_t(data[2]) << 8 | data[3];
}

std::uint64_t TCustomRegistry::ReadQWord(std::u16string_view Name) {
  std::vector<std::uint8_t> data;
  if (!ReadData(Name, REG_QWORD, 8, data) || data.size() < 8) return 0;
  std::uint64_t v;
  std::memcpy(&v, data.data(), 8);
  return v;
}

std::u16string TCustomRegistry::ExpandKeyPath(std::u16string_view Path) const {
  if (!Path.empty() && Path.front() == u'\\') return std::u16string(Path);
  std::u16string out = FCurrentPath;
  if (out.empty() || out.back() != u'\\') out += u'\\';
  out += Path;
  return out;
}

bool TCustomRegistry::GetNtKeyPath(std::u16string_view KeyPath, std::u16string& NtPath) const {
  if (FRootKey == HKEY_LOCAL_MACHINE) {
    NtPath = u"\\Registry\\Machine";
  } else if (FRootKey == HKEY_CURRENT_USER) {
    // The current user's keys are the hive mounted under the users' master
    // key by the user's SID, as HKEY_CURRENT_USER resolves it.
    const std::string sid = currentUserSid();
    NtPath = u"\\Registry\\User\\" + widen(sid);
  } else {
    NtPath.clear();
    return false;
  }
  // The windows give paths with a leading "\"; one without is still a path
  // below the root, not a sibling of it.
  if (!KeyPath.empty() && KeyPath.front() != u'\\') NtPath += u'\\';
  NtPath += KeyPath;
  return true;
}

// ---------------------------------------------------------------------------
// TNtRegistry

TNtRegistry::~TNtRegistry() { CloseKey(); }

NTSTATUS TNtRegistry::openPath(std::u16string_view Path, bool Create, HANDLE& Handle) const {
  Handle = nullptr;
  std::u16string nt;
  if (!GetNtKeyPath(Path, nt)) return STATUS_OBJECT_PATH_NOT_FOUND;

  auto openOne = [Create](HANDLE root, std::u16string_view name, HANDLE& out) -> NTSTATUS {
    CountedName counted(name);
    if (!counted.valid()) return STATUS_OBJECT_NAME_INVALID;
    OBJECT_ATTRIBUTES oa;
    oa.RootDirectory = root;
    oa.ObjectName = counted.get();
    oa.Attributes = kObjectAttributes;
    if (Create) return NtCreateKey(&out, KEY_ALL_ACCESS, &oa, 0, nullptr, 0, nullptr);
    return NtOpenKey(&out, KEY_ALL_ACCESS, &oa);
  };

  const std::size_t firstNul = nt.find(u'\0');
  if (firstNul == std::u16string::npos) return openOne(nullptr, nt, Handle);

  // A full object path cannot carry a NUL, so the part before the component
  // that holds it is opened by name and the rest relative to that handle.
  const std::size_t split = nt.rfind(u'\\', firstNul);
  if (split == std::u16string::npos) return STATUS_OBJECT_NAME_INVALID;
  HANDLE parent;
  NTSTATUS st = openOne(nullptr, std::u16string_view(nt).substr(0, split + 1), parent);
  if (st != STATUS_SUCCESS) return st;
  st = openOne(parent, std::u16string_view(nt).substr(split + 1), Handle);
  NtClose(parent);
  if (st != STATUS_SUCCESS) Handle = nullptr;
  return st;
}

bool TNtRegistry::CreateKey(std::u16string_view Path, bool) {
  HANDLE h;
  if (openPath(Path, true, h) != STATUS_SUCCESS) return false;
  // The previous key is closed only now, so a failed create leaves it open.
  CloseKey();
  FKeyHandle = h;
  FCurrentPath = std::u16string(Path);
  return true;
}

bool TNtRegistry::OpenKey(std::u16string_view Path) {
  HANDLE h;
  FLastStatus = openPath(Path, false, h);
  if (FLastStatus != STATUS_SUCCESS) return false;
  CloseKey();
  FKeyHandle = h;
  FCurrentPath = std::u16string(Path);
  return true;
}

void TNtRegistry::CloseKey() {
  if (FKeyHandle) NtClose(FKeyHandle);
  FKeyHandle = nullptr;
  FCurrentPath.clear();
}

bool TNtRegistry::DeleteKey(std::u16string_view Path) {
  const std::u16string full = ExpandKeyPath(Path);
  CloseKey();
  if (!CreateKey(full, false)) return false;
  const bool deleted = NtDeleteKey(FKeyHandle) == STATUS_SUCCESS;
  CloseKey();
  return deleted;
}

bool TNtRegistry::DeleteValue(std::u16string_view Name) {
  if (!FKeyHandle) return false;
  CountedName counted(Name);
  return counted.valid() && NtDeleteValueKey(FKeyHandle, counted.get()) == STATUS_SUCCESS;
}

bool TNtRegistry::WriteData(std::u16string_view Name, std::uint32_t Type, std::span<const std::uint8_t> Data) {
  if (!FKeyHandle) return false;
  CountedName counted(Name);
  if (!counted.valid() || Data.size() > 0xFFFFFFFFu) return false;
  return NtSetValueKey(FKeyHandle, counted.get(), 0, Type, Data.data(), ULONG(Data.size())) == STATUS_SUCCESS;
}

void TNtRegistry::GetKeyNames(sup::TWideStringList& List) {
  TCustomRegistry::GetKeyNames(List);
  if (!FKeyHandle) return;
  const HANDLE key = FKeyHandle;
  enumerateNames(List, kKeyBasicBuffer, offsetof(KEY_BASIC_INFORMATION, NameLength),
                 offsetof(KEY_BASIC_INFORMATION, Name), [key](ULONG i, void* buf, ULONG len, ULONG* got) {
                   return NtEnumerateKey(key, i, KeyBasicInformation, buf, len, got);
                 });
}

void TNtRegistry::GetValueNames(sup::TWideStringList& List) {
  TCustomRegistry::GetValueNames(List);
  if (!FKeyHandle) return;
  const HANDLE key = FKeyHandle;
  enumerateNames(List, kValueBasicBuffer, offsetof(KEY_VALUE_BASIC_INFORMATION, NameLength),
                 offsetof(KEY_VALUE_BASIC_INFORMATION, Name), [key](ULONG i, void* buf, ULONG len, ULONG* got) {
                   return NtEnumerateValueKey(key, i, KeyValueBasicInformation, buf, len, got);
                 });
}

bool TNtRegistry::queryFull(std::u16string_view Name, std::vector<std::uint8_t>& Record,
                            TKeyValueFullInfoHead& Head) {
  if (!FKeyHandle) return false;
  CountedName counted(Name);
  if (!counted.valid()) return false;
  ULONG needed = 0;
  if (NtQueryValueKey(FKeyHandle, counted.get(), KeyValueFullInformation, nullptr, 0, &needed) !=
      STATUS_BUFFER_TOO_SMALL)
    return false;
  // The value may grow between the two calls (another thread or process);
  // a few retries with the newly reported size cover that.
  NTSTATUS st = STATUS_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && st == STATUS_BUFFER_OVERFLOW; ++attempt) {
    if (needed < sizeof(std::uint32_t) * 5) return false;
    Record.assign(needed, 0);
    st = NtQueryValueKey(FKeyHandle, counted.get(), KeyValueFullInformation, Record.data(), needed, &needed);
  }
  if (st != STATUS_SUCCESS) return false;
  Record.resize(std::min<std::size_t>(needed, Record.size()));
  Head.TitleIndex = get32(Record, 0);
  Head.Type = get32(Record, 4);
  Head.DataOffset = get32(Record, 8);
  Head.DataLength = get32(Record, 12);
  Head.NameLength = get32(Record, 16);
  if (Head.DataOffset > Record.size() || Head.DataLength > Record.size() - Head.DataOffset) return false;
  return true;
}

bool TNtRegistry::GetValueInfo(std::u16string_view Name, TKeyValueFullInfoHead& Head) {
  std::vector<std::uint8_t> record;
  TKeyValueFullInfoHead head;
  if (!queryFull(Name, record, head)) return false;
  Head = head;
  return true;
}

bool TNtRegistry::ReadData(std::u16string_view Name, std::uint32_t Type, std::uint32_t Size,
                           std::vector<std::uint8_t>& Buffer) {
  std::vector<std::uint8_t> record;
  TKeyValueFullInfoHead head;
  if (!queryFull(Name, record, head)) return false;
  const std::uint8_t* data = record.data() + head.DataOffset;
  const std::size_t length = head.DataLength;
  switch (Type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      std::size_t units = length / 2;
      for (std::size_t i = 0; i < units; ++i) {
        if (data[2 * i] == 0 && data[2 * i + 1] == 0) {
          units = i;
          break;
        }
      }
      Buffer.assign(data, data + units * 2);
      return true;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
    case REG_QWORD: {
      const std::size_t width = Type == REG_QWORD ? 8 : 4;
      Buffer.assign(width, 0);
      std::memcpy(Buffer.data(), data, std::min(width, length));
      return true;
    }
    default:
      Buffer.assign(data, data + std::min<std::size_t>(length, Size));
      return true;
  }
}

std::u16string TNtRegistry::ReadValueAsText(std::u16string_view Name) {
  std::vector<std::uint8_t> record;
  TKeyValueFullInfoHead head;
  if (!queryFull(Name, record, head)) return {};
  const std::uint8_t* data = record.data() + head.DataOffset;
  switch (head.Type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return ReadString(Name);
    case REG_DWORD:
      return widen(DWordToDisplayText(ReadDWord(Name)));
    case REG_DWORD_BIG_ENDIAN:
      return widen(DWordToDisplayText(ReadBigEndianDWord(Name)));
    case REG_QWORD:
      return widen(QWordToDisplayText(std::int64_t(ReadQWord(Name))));
    case REG_MULTI_SZ: {
      std::u16string text = textOf(data, head.DataLength / 2);
      for (char16_t& c : text)
        if (c == u'\0') c = u' ';
      return text;
    }
    case REG_NONE:
    case REG_BINARY:
    case REG_LINK:
    case REG_RESOURCE_LIST:
    case REG_FULL_RESOURCE_DESCRIPTOR:
    case REG_RESOURCE_REQUIREMENTS_LIST: {
      static constexpr char16_t kHex[] = u"0123456789ABCDEF";
      std::u16string text;
      text.reserve(std::size_t(head.DataLength) * 3);
      for (std::uint32_t i = 0; i < head.DataLength; ++i) {
        text += kHex[data[i] >> 4];
        text += kHex[data[i] & 0xF];
        text += u' ';
      }
      return text;
    }
    default:
      return {};
  }
}

bool TNtRegistry::RenameValue(std::u16string_view OldName, std::u16string_view NewName) {
  std::vector<std::uint8_t> record;
  TKeyValueFullInfoHead head;
  TKeyValueFullInfoHead other;
  if (!queryFull(OldName, record, head) || GetValueInfo(NewName, other)) return false;
  const std::span<const std::uint8_t> data(record.data() + head.DataOffset, head.DataLength);
  if (!WriteData(NewName, head.Type, data)) return false;
  return DeleteValue(OldName);
}

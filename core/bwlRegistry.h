#pragma once

// The kind of a registry value and the text a value's data is shown as.

#include <algorithm>
#include <cstdint>
#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"
#include "unicode/UniErrors.h"  // ERegistryException

// The ordinals are stored by the change-history database: never reorder.
enum TRegDataType : std::uint8_t {
  rdUnknown = 0,
  rdNone = 1,
  rdString = 2,
  rdExpandString = 3,
  rdBinary = 4,
  rdInteger = 5,
  rdLittleEndianInteger = 6,
  rdBigEndianInteger = 7,
  rdLink = 8,
  rdMultiString = 9,
  rdResourceList = 10,
  rdFullResourceDescriptor = 11,
  rdResourceRequirementsList = 12,
  rdInt64 = 13,
  rdLittleEndianInt64 = 14,
  rdCardinal = 15,
};

inline constexpr int kRegDataTypeCount = 16;

// The binary form of a value that a display text stands for.
using TRegByteArray = std::vector<std::uint8_t>;

// Windows value-type numbers. REG_DWORD and REG_DWORD_LITTLE_ENDIAN share 4,
// REG_QWORD and REG_QWORD_LITTLE_ENDIAN share 11, so reading a stored type
// never gives rdLittleEndianInteger, rdLittleEndianInt64 or rdCardinal.
std::uint32_t RegDataTypeToRegType(TRegDataType kind);
// Any number the program does not know gives rdUnknown (0 gives rdNone).
TRegDataType RegTypeToRegDataType(std::uint32_t regType);
// "REG_SZ", ...; rdUnknown is named "REG_NONE", rdCardinal "REG_DWORD".
std::string RegDataTypeToStr(TRegDataType kind);
// Exact, case-sensitive; an unknown name gives rdUnknown and none gives rdCardinal.
TRegDataType StrToRegDataType(std::string_view name);

// Throws ERegistryException "Invalid data type for '<name>'".
[[noreturn]] void RaiseInvalidDataType(std::string_view valueName);

// "0x" + 8 hex digits + " (" + unsigned decimal + ")".
std::string DWordToDisplayText(std::uint32_t value);
// "0x" + 16 hex digits + " (" + signed decimal + ")".
std::string QWordToDisplayText(std::int64_t value);
// 0 unless the text holds a blank and starts with exactly "0x"; then the digits
// up to the first blank. A plain decimal text reads as 0.
std::int64_t DisplayTextToQWord(std::string_view text);
std::uint32_t DisplayTextToDWord(std::string_view text);

// The display text of a value's data, by its kind: hex bytes each followed by a
// blank for the byte kinds, the text up to its first NUL for the strings, the
// bytes with every NUL as a blank for multi-strings, the number texts for the
// number kinds (big-endian reversed first), and nothing for rdUnknown and
// rdCardinal. The data of strings is 8-bit text here. A number kind reads the
// first bytes of its width, zero-extended when the data is shorter.
std::string RegDataToDisplayText(TRegDataType kind, std::span<const std::uint8_t> data);

// ---------------------------------------------------------------------------
// The registry view. Four encodings cross the program's interfaces; each is
// its own type so one can never be passed where another is meant.

// The view a registry object works in: 32 or 64. Any other number makes
// TMyRegistry::SetBitness throw.
enum class Bitness : std::uint8_t { x32 = 32, x64 = 64 };

// The view of a tree node or a security call: rvDefault and rv32Bit both give
// the 32-bit view.
enum TRegistryView : std::uint8_t { rvDefault = 0, rv32Bit = 1, rv64Bit = 2 };

// The view byte of some one-call helpers: 0 the 32-bit view, 1 the 64-bit
// view; any other value leaves the object's default (32-bit).
enum class ViewByte : std::uint8_t { v32 = 0, v64 = 1 };

// The plain 64-bit flag of the name-listing helpers and the exporter: any
// non-zero value selects the 64-bit view.
enum class Is64Flag : std::uint8_t { no = 0, yes = 1 };

inline constexpr platform::REGSAM kViewFlagsMask = platform::KEY_WOW64_64KEY | platform::KEY_WOW64_32KEY;

// The general failure SetBitness raises: deliberately not ERegistryException.
inline constexpr const char* kBitnessErrorText = "Windows Registry only supported with 32 or 64 bits!";

struct TMyRegDataInfo {
  TRegDataType RegData = rdUnknown;
  std::uint32_t RegType = 0;
  std::uint32_t DataSize = 0;
};

struct TRegKeyInfo {
  std::uint32_t NumSubKeys = 0;
  std::uint32_t MaxSubKeyLen = 0;
  std::uint32_t NumValues = 0;
  std::uint32_t MaxValueLen = 0;
  std::uint32_t MaxDataLen = 0;
  platform::FILETIME FileTime;
};

// The lengths and sizes a key reports (longest name, largest data) are read
// from the hive file and are only hints: a damaged file may claim anything.
// Buffers start from a clamped hint and grow to what the listing call says.
namespace RegSizeHint {
// The longest name Windows gives a value, in UTF-16 units; no listing buffer
// starts larger.
inline constexpr std::uint32_t kNameUnits = 16383;
// The longest name a hive's 16-bit length field can hold (one byte per unit
// when stored compressed); a buffer never grows past this.
inline constexpr std::size_t kStoredNameUnits = 65535;
// A data buffer starts no larger than this whatever the hint says.
inline constexpr std::size_t kDataStart = 64 * 1024;

// Units (with the terminating NUL) a name buffer starts with for a hint.
inline std::size_t nameBuffer(std::uint32_t hint) { return std::size_t{std::min(hint, kNameUnits)} + 1; }
// The next size of a name buffer that was too small, or 0 when it already
// holds the longest name there can be.
inline std::size_t grownNameBuffer(std::size_t units) {
  if (units > kStoredNameUnits) return 0;
  return std::min(units * 2 + 256, kStoredNameUnits + 1);
}
// Bytes a data buffer starts with for a hint.
inline std::size_t dataBuffer(std::uint32_t hint) { return std::min<std::size_t>(hint, kDataStart) + 1; }
// A buffer size as a DWORD count: sizes past 32 bits saturate, never wrap.
inline std::uint32_t saturated(std::size_t n) {
  return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
}
// A*b saturating at 32 bits.
inline std::uint32_t saturatedProduct(std::uint32_t a, std::uint32_t b) {
  return saturated(std::uint64_t{a} * b);
}
}  // namespace RegSizeHint

// A growable block of memory with a position, for the stream readers and
// writers. Write puts bytes at the position (overwriting, then growing).
struct MemoryStream {
  std::vector<std::uint8_t> Memory;
  std::size_t Position = 0;
  void Write(const void* data, std::size_t size);
};

// A path beginning with "\" is absolute (taken under the root); any other is
// relative (under the open key when one is open, else under the root).
bool IsRelativeKeyPath(std::string_view path);
bool IsRelativeKeyPath(std::u16string_view path);

// The form in which the registry compares names (UTF-16, upper-cased the
// registry's way, non-ASCII letters included); equal keys mean one name. The
// path form also drops leading and trailing backslashes.
std::u16string RegistryNameKey(std::string_view name);
std::u16string RegistryPathKey(std::string_view path);

// For tests: makes RegDeleteKeyEx unbound (as on a system that lacks it), or
// binds it again. An unbound call gives ERROR_DLL_INIT_FAILED (1114).
void BindRegistryFunctions(bool bound = true);

// The program's registry access object: one open key under one root in the
// 32-bit or the 64-bit view, with typed reading and writing of every kind.
// Names and paths are 8-bit text in the active code page. Objects live for one
// operation and are not shared between threads.
//
// Failures: the typed readers and writers, GetData, PutData, CreateKey and
// MoveKey throw ERegistryException; the open, exists and info calls answer
// false or an empty result.
class TMyRegistry {
public:
  TMyRegistry();
  virtual ~TMyRegistry();
  TMyRegistry(const TMyRegistry&) = delete;
  TMyRegistry& operator=(const TMyRegistry&) = delete;

  // ---- state
  platform::HKEY RootKey() const { return FRootKey; }
  // A different root closes the open key.
  void SetRootKey(platform::HKEY root);
  platform::HKEY CurrentKey() const { return FCurrentKey; }
  const std::string& CurrentPath() const { return FCurrentPath; }
  platform::REGSAM Access() const { return FAccess; }
  void SetAccess(platform::REGSAM access) { FAccess = access; }
  std::uint8_t GetBitness() const { return FBitness; }
  TRegistryView GetView() const { return FView; }
  // The Windows error code of the last attempt of OpenKey or OpenKeyReadOnly
  // (0 on success).
  std::int32_t LastError() const { return FLastError; }

  // ---- view
  // 32 drops KEY_WOW64_64KEY; 64 drops KEY_WOW64_32KEY and adds KEY_WOW64_64KEY.
  // Another number throws std::runtime_error(kBitnessErrorText) and changes nothing.
  virtual void SetBitness(Bitness bitness);
  void SetView(TRegistryView view);
  platform::REGSAM ViewAccess(platform::REGSAM mask) const;

  // ---- opening and closing
  // An empty key opens the base key itself.
  bool OpenKey(const std::string& key, bool canCreate);
  // Tries KEY_READ, then KEY_READ without KEY_NOTIFY, then KEY_QUERY_VALUE;
  // LastError() holds the last attempt's code. Access() is unchanged.
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();
  // Closes the open key and adopts a handle and its path.
  void ChangeKey(platform::HKEY key, const std::string& path);
  // Creates the key and its missing parents and closes it at once; throws
  // "Failed to create key <path>".
  bool CreateKey(const std::string& key);
  // A handle the caller closes; a null handle when the key does not open.
  platform::HKEY GetKey(const std::string& key) const;
  platform::HKEY GetKeyW(std::u16string_view key) const;
  bool KeyExists(const std::string& key) const;
  bool HasSubKeys() const;
  platform::HKEY GetBaseKey(bool relative) const;

  // ---- information
  bool GetKeyInfo(TRegKeyInfo& info) const;
  void GetKeyNames(std::vector<std::string>& list) const;
  // Each name cut at its first NUL.
  void GetValueNames(std::vector<std::string>& list) const;
  bool GetDataInfo(const std::string& name, TMyRegDataInfo& info) const;
  TRegDataType GetDataType(const std::string& name) const;
  // -1 when the value cannot be queried.
  int GetDataSize(const std::string& name) const;
  bool ValueExists(const std::string& name) const;

  // ---- core read and write
  // Reads at most bufSize bytes; kind comes back as the stored kind, except
  // that a caller's rdCardinal or rdLittleEndianInteger stays for a REG_DWORD.
  int GetData(const std::string& name, void* buffer, TRegDataType& kind, std::uint32_t bufSize) const;
  void PutData(const std::string& name, const void* buffer, TRegDataType kind, std::uint32_t size);

  // ---- typed readers
  std::string ReadString(const std::string& name) const;
  std::string ReadMultiString(const std::string& name) const;
  std::int32_t ReadInteger(const std::string& name) const;
  bool ReadBool(const std::string& name) const;
  std::uint32_t ReadCardinal(const std::string& name) const;
  std::int32_t ReadLittleEndianInteger(const std::string& name) const;
  std::int32_t ReadBigEndianInteger(const std::string& name) const;
  std::int64_t ReadInt64(const std::string& name) const;
  std::int64_t ReadLittleEndianInt64(const std::string& name) const;
  // 8 bytes of REG_BINARY: shorter data is "Invalid data type", longer data
  // "Failed to get data".
  double ReadFloat(const std::string& name) const;
  // Bytes read; 0 when the value is missing; throws "Invalid data type" when
  // the data is larger than bufSize.
  int ReadBinaryData(const std::string& name, void* buffer, std::uint32_t bufSize) const;
  // Appends the raw bytes at the stream's position; false on any failure.
  bool ReadBinaryStream(const std::string& name, MemoryStream& stream) const;

  // ---- typed writers
  void WriteTypedString(const std::string& name, const std::string& text, TRegDataType kind);
  void WriteString(const std::string& name, const std::string& text);
  void WriteExpandString(const std::string& name, const std::string& text);
  // Every CR LF becomes one NUL and one NUL is appended, nothing more: "a\r\nb"
  // is stored as a NUL b NUL.
  void WriteMultiString(const std::string& name, const std::string& text);
  void WriteInteger(const std::string& name, std::int32_t value);
  void WriteCardinal(const std::string& name, std::uint32_t value);
  void WriteLittleEndianInteger(const std::string& name, std::int32_t value);
  void WriteBool(const std::string& name, bool value);
  void WriteBigEndianInteger(const std::string& name, std::int32_t value);
  void WriteInt64(const std::string& name, std::int64_t value);
  void WriteLittleEndianInt64(const std::string& name, std::int64_t value);
  void WriteFloat(const std::string& name, double value);
  void WriteBinaryData(const std::string& name, const void* buffer, std::uint32_t size);
  void WriteLink(const std::string& name, const void* buffer, std::uint32_t size);
  void WriteResourceList(const std::string& name, const void* buffer, std::uint32_t size);
  void WriteFullResourceDescriptor(const std::string& name, const void* buffer, std::uint32_t size);
  void WriteResourceRequirementsList(const std::string& name, const void* buffer, std::uint32_t size);
  void WriteNone(const std::string& name);
  // The stream's whole memory, whatever its position.
  void WriteBinaryStream(const std::string& name, TRegDataType kind, const MemoryStream& stream);

  // ---- values and keys
  bool DeleteValue(const std::string& name);
  // Only when oldName exists and newName does not (names compare as the
  // registry compares them, ignoring case). The data and its type number are
  // copied unchanged, zero-length values included; the new value is written
  // before the old one is deleted, so a failed write leaves the old value.
  // True when renamed; a failed write throws "Failed to set data".
  bool RenameValue(const std::string& oldName, const std::string& newName);
  // Deletes the key with all its sub-keys. False when it or a sub-key could
  // not be deleted (a sub-key that stays keeps its parent).
  bool DeleteKey(const std::string& key);
  bool DeleteKeyW(std::u16string_view key);
  // Copies oldName with its values and sub-keys to newName (and deletes
  // oldName when `deleteSource`). Nothing happens unless oldName exists and
  // newName does not, or when newName lies inside oldName. Values keep their
  // type numbers and exact bytes. A failed write throws.
  void MoveKey(const std::string& oldName, const std::string& newName, bool deleteSource);
  // The stored type number and bytes of a value, with no code-page
  // conversion; false when it cannot be read. The writer stores them as they
  // are (throws "Failed to set data"). Copies go through these so that no
  // type or byte is changed on the way.
  bool readRawValue(const std::string& name, std::uint32_t& type, std::vector<std::uint8_t>& data) const;
  void writeRawValue(const std::string& name, std::uint32_t type, std::span<const std::uint8_t> data);

  // The value display text; empty for a missing value.
  std::string ReadValueAsText(const std::string& name) const;
  void WriteValueFromText(const std::string& name, const std::string& text, TRegDataType targetKind,
                          TRegDataType sourceKind);

protected:
  // Every open of an 8-bit path goes through here (RegOpenKeyExA); tests
  // override it to stand for keys their rights make hard to open.
  virtual platform::LSTATUS openSubKey(platform::HKEY base, const std::string& path, platform::REGSAM sam,
                                       platform::HKEY* result) const;

  platform::HKEY FRootKey;
  platform::HKEY FCurrentKey;
  std::string FCurrentPath;
  platform::REGSAM FAccess;
  std::uint8_t FBitness = 32;
  TRegistryView FView = rvDefault;
  std::int32_t FLastError = 0;

private:
  void alignAccessWithBitness();
  bool deleteTreeW(platform::HKEY base, const std::u16string& path, int depth);
  void copyValuesW(platform::HKEY source, platform::HKEY target);
  void copySubKeysW(platform::HKEY source, platform::HKEY target, int depth);
};

// The same object starting in the 64-bit view.
class TMyRegistry64 : public TMyRegistry {
public:
  TMyRegistry64();
  void SetBitness(Bitness bitness) override;
};

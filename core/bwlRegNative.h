#pragma once

// Registry access through the native key calls, which take counted UTF-16
// names: the only way to reach key and value names that hold NUL characters
// (the ordinary calls stop at the first NUL). The windows list the shown key
// through it and rename and delete such values, and delete such keys, with it.
//
// Names travel as UTF-16 exactly as the registry stores them. A list filled by
// GetKeyNames / GetValueNames normalises its strings for display; hand
// rawString(i) back to these calls, never Strings(i), or a name stored in
// decomposed form would reach its composed twin (or nothing).
//
// Nothing here throws: failures answer false, 0 or an empty text.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NtRegistry.h"
#include "platform/Registry.h"
#include "unicode/SupUnicode.h"

// The fixed head of a KEY_VALUE_FULL_INFORMATION record.
struct TKeyValueFullInfoHead {
  std::uint32_t TitleIndex = 0;
  std::uint32_t Type = 0;
  std::uint32_t DataOffset = 0;
  std::uint32_t DataLength = 0;
  std::uint32_t NameLength = 0;
};

// The registry interface the windows use for native names.
class TCustomRegistry {
public:
  TCustomRegistry() = default;
  virtual ~TCustomRegistry() = default;
  TCustomRegistry(const TCustomRegistry&) = delete;
  TCustomRegistry& operator=(const TCustomRegistry&) = delete;

  // The value served as the type asked for, whatever type is stored:
  // REG_SZ / REG_EXPAND_SZ: the UTF-16 bytes of the text up to its first NUL;
  // REG_DWORD / REG_DWORD_BIG_ENDIAN: the first 4 data bytes; REG_QWORD: the
  // first 8 (numbers are zero-extended when the data is shorter); any other
  // type: the data bytes, at most `Size`. False with no open key or no value.
  virtual bool ReadData(std::u16string_view Name, std::uint32_t Type, std::uint32_t Size,
                        std::vector<std::uint8_t>& Buffer) = 0;
  // Stores the bytes under the name with the type. True when stored.
  virtual bool WriteData(std::u16string_view Name, std::uint32_t Type, std::span<const std::uint8_t> Data) = 0;
  // The Boolean is accepted for the interface's sake and not used.
  virtual bool CreateKey(std::u16string_view Path, bool CanCreate) = 0;
  virtual bool OpenKey(std::u16string_view Path) = 0;
  virtual void CloseKey() = 0;
  virtual bool DeleteKey(std::u16string_view Path);
  virtual bool DeleteValue(std::u16string_view Name) = 0;
  // Empty the list; the native implementation then adds every name.
  virtual void GetKeyNames(sup::TWideStringList& List);
  virtual void GetValueNames(sup::TWideStringList& List);
  // 8 bytes of REG_BINARY data read as a 64-bit integer / a double; 0 when
  // the read fails. Shorter data is zero-extended.
  virtual std::int64_t ReadBinaryAsInt64(std::u16string_view Name);
  virtual double ReadBinaryAsFloat(std::u16string_view Name);
  // The text up to its first NUL; empty when the read fails.
  virtual std::u16string ReadString(std::u16string_view Name);
  virtual std::u16string ReadExpandString(std::u16string_view Name);

  // 0 when the read fails.
  std::uint32_t ReadDWord(std::u16string_view Name);
  std::uint32_t ReadBigEndianDWord(std::u16string_view Name);
  std::uint64_t ReadQWord(std::u16string_view Name);

  // A path beginning with "\" unchanged; any other appended to the open
  // key's path with one "\" between.
  std::u16string ExpandKeyPath(std::u16string_view Path) const;
  // "\Registry\Machine" + path for HKEY_LOCAL_MACHINE, the current user's
  // native root + path for HKEY_CURRENT_USER; false for any other root.
  bool GetNtKeyPath(std::u16string_view KeyPath, std::u16string& NtPath) const;

  const std::u16string& CurrentPath() const { return FCurrentPath; }

  // Set by the caller right after construction.
  platform::HKEY FRootKey = platform::HKEY_LOCAL_MACHINE;

protected:
  std::u16string FCurrentPath;
};

class TNtRegistry : public TCustomRegistry {
public:
  TNtRegistry() = default;
  ~TNtRegistry() override;

  bool ReadData(std::u16string_view Name, std::uint32_t Type, std::uint32_t Size,
                std::vector<std::uint8_t>& Buffer) override;
  bool WriteData(std::u16string_view Name, std::uint32_t Type, std::span<const std::uint8_t> Data) override;
  bool CreateKey(std::u16string_view Path, bool CanCreate) override;
  bool OpenKey(std::u16string_view Path) override;
  void CloseKey() override;
  bool DeleteKey(std::u16string_view Path) override;
  bool DeleteValue(std::u16string_view Name) override;
  void GetKeyNames(sup::TWideStringList& List) override;
  void GetValueNames(sup::TWideStringList& List) override;

  // The head of the value's full record; false with no open key or no value.
  bool GetValueInfo(std::u16string_view Name, TKeyValueFullInfoHead& Head);
  // The value's display text by its stored type; empty for a missing value or
  // a type above REG_QWORD.
  std::u16string ReadValueAsText(std::u16string_view Name);
  // Copies the value's type and bytes to the new name, then deletes the old
  // one. Only when the old name exists and the new one does not. The old
  // value is deleted only once the copy is stored, so a failed write loses
  // nothing. True when renamed.
  bool RenameValue(std::u16string_view OldName, std::u16string_view NewName);

  platform::HANDLE KeyHandle() const { return FKeyHandle; }
  // The NTSTATUS of the last OpenKey.
  platform::NTSTATUS LastStatus() const { return FLastStatus; }

private:
  // Opens or creates Path (NULs allowed) with the native calls; the open
  // handle on success.
  platform::NTSTATUS openPath(std::u16string_view Path, bool Create, platform::HANDLE& Handle) const;
  // The value's whole KEY_VALUE_FULL_INFORMATION record, checked.
  bool queryFull(std::u16string_view Name, std::vector<std::uint8_t>& Record, TKeyValueFullInfoHead& Head);

  platform::HANDLE FKeyHandle;
  platform::NTSTATUS FLastStatus = platform::STATUS_SUCCESS;
};

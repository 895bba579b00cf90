#pragma once

// The kind of a registry value and the text a value's data is shown as.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

// The registry layer's failures ("Failed to get data for '%s'", ...).
class ERegistryException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

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

#include "core/bwlRegistry.h"

#include <algorithm>
#include <array>

#include "core/kxStrings.h"

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
      std::string out;
      out.reserve(data.size() * 3);
      for (std::uint8_t b : data) {
        out += ByteToHex(b);
        out += ' ';
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

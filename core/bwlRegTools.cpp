#include "core/bwlRegTools.h"

#include "core/kxStrings.h"

TRegDataType RegTypeNameToRegDataType(std::string_view name) { return StrToRegDataType(name); }

void ValueTextToBytes(std::string_view text, TRegDataType kind, TRegByteArray& bytes) {
  switch (kind) {
    case rdBinary:
    case rdLink:
    case rdResourceList:
    case rdFullResourceDescriptor:
    case rdResourceRequirementsList: {
      // Each pair is followed by one separator; a trailing separator leaves a
      // last zero byte, an empty text gives one zero byte.
      bytes.assign(text.size() / 3 + 1, 0);
      std::size_t index = 0;
      while (!text.empty() && index < bytes.size()) {
        bytes[index++] = HexPairToByte(text.substr(0, 2));
        if (text.size() < 3) {
          text = {};
        } else {
          text.remove_prefix(3);
        }
      }
      return;
    }
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger: {
      const std::uint32_t v = DisplayTextToDWord(text);
      bytes.resize(4);
      for (int i = 0; i < 4; ++i) {
        const int shift = kind == rdBigEndianInteger ? 8 * (3 - i) : 8 * i;
        bytes[i] = static_cast<std::uint8_t>(v >> shift);
      }
      return;
    }
    case rdString:
    case rdExpandString:
    case rdUnknown:
      bytes.assign(text.begin(), text.end());
      return;
    default:
      return;
  }
}

int ValueTextDataSize(std::string_view text, TRegDataType kind) {
  switch (kind) {
    case rdString:
    case rdExpandString:
    case rdMultiString:
      return static_cast<int>(text.size());
    case rdBinary:
    case rdLink:
    case rdResourceList:
    case rdFullResourceDescriptor:
    case rdResourceRequirementsList:
      return static_cast<int>(text.size() / 3 + 1);
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger:
      return 4;
    case rdInt64:
    case rdLittleEndianInt64:
      return 8;
    default:
      return 0;
  }
}

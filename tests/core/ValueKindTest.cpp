#include <gtest/gtest.h>

#include "core/bwlRegTools.h"
#include "core/bwlRegistry.h"

TEST(ValueKind, OrdinalsAreFixed) {
  // The change history stores these numbers.
  EXPECT_EQ(int(rdUnknown), 0);
  EXPECT_EQ(int(rdString), 2);
  EXPECT_EQ(int(rdMultiString), 9);
  EXPECT_EQ(int(rdInt64), 13);
  EXPECT_EQ(int(rdCardinal), 15);
  EXPECT_EQ(sizeof(TRegDataType), 1u);
}

TEST(ValueKind, MappingsBothWays) {
  struct Case {
    TRegDataType kind;
    std::uint32_t written;
    const char* name;
    TRegDataType readBackByType;
    TRegDataType readBackByName;
  };
  const Case cases[] = {
      {rdUnknown, 0, "REG_NONE", rdNone, rdNone},
      {rdNone, 0, "REG_NONE", rdNone, rdNone},
      {rdString, 1, "REG_SZ", rdString, rdString},
      {rdExpandString, 2, "REG_EXPAND_SZ", rdExpandString, rdExpandString},
      {rdBinary, 3, "REG_BINARY", rdBinary, rdBinary},
      {rdInteger, 4, "REG_DWORD", rdInteger, rdInteger},
      {rdLittleEndianInteger, 4, "REG_DWORD_LITTLE_ENDIAN", rdInteger, rdLittleEndianInteger},
      {rdBigEndianInteger, 5, "REG_DWORD_BIG_ENDIAN", rdBigEndianInteger, rdBigEndianInteger},
      {rdLink, 6, "REG_LINK", rdLink, rdLink},
      {rdMultiString, 7, "REG_MULTI_SZ", rdMultiString, rdMultiString},
      {rdResourceList, 8, "REG_RESOURCE_LIST", rdResourceList, rdResourceList},
      {rdFullResourceDescriptor, 9, "REG_FULL_RESOURCE_DESCRIPTOR", rdFullResourceDescriptor,
       rdFullResourceDescriptor},
      {rdResourceRequirementsList, 10, "REG_RESOURCE_REQUIREMENTS_LIST", rdResourceRequirementsList,
       rdResourceRequirementsList},
      {rdInt64, 11, "REG_QWORD", rdInt64, rdInt64},
      {rdLittleEndianInt64, 11, "REG_QWORD_LITTLE_ENDIAN", rdInt64, rdLittleEndianInt64},
      {rdCardinal, 4, "REG_DWORD", rdInteger, rdInteger},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RegDataTypeToRegType(c.kind), c.written);
    EXPECT_EQ(RegDataTypeToStr(c.kind), c.name);
    EXPECT_EQ(RegTypeToRegDataType(c.written), c.readBackByType);
    EXPECT_EQ(StrToRegDataType(c.name), c.readBackByName);
    EXPECT_EQ(RegTypeNameToRegDataType(c.name), c.readBackByName);
  }
  EXPECT_EQ(RegTypeToRegDataType(12), rdUnknown);
  EXPECT_EQ(RegTypeToRegDataType(0x20), rdUnknown);
  EXPECT_EQ(RegTypeToRegDataType(0xFFFFFFFF), rdUnknown);
  EXPECT_EQ(StrToRegDataType("reg_sz"), rdUnknown);
  EXPECT_EQ(StrToRegDataType(""), rdUnknown);
}

TEST(ValueKind, RaiseInvalidDataType) {
  try {
    RaiseInvalidDataType("Speed");
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Speed'");
  }
}

TEST(ValueText, NumberTexts) {
  EXPECT_EQ(DWordToDisplayText(10), "0x0000000A (10)");
  EXPECT_EQ(DWordToDisplayText(0), "0x00000000 (0)");
  EXPECT_EQ(DWordToDisplayText(0xFFFFFFFF), "0xFFFFFFFF (4294967295)");
  EXPECT_EQ(QWordToDisplayText(-1), "0xFFFFFFFFFFFFFFFF (-1)");
  EXPECT_EQ(QWordToDisplayText(INT64_MIN), "0x8000000000000000 (-9223372036854775808)");

  struct Case {
    const char* text;
    std::int64_t expected;
  };
  const Case cases[] = {
      {"0x0000000A (10)", 10},
      {"0x0000000A", 0},       // no blank
      {"0X0000000A (10)", 0},  // upper-case X
      {"10", 0},
      {"", 0},
      {"0x (1)", 0},
      {"0xFFFFFFFFFFFFFFFF (-1)", -1},
      {"0x00000001FFFFFFFF (8589934591)", 0x1FFFFFFFFll},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DisplayTextToQWord(c.text), c.expected);
    EXPECT_EQ(DisplayTextToDWord(c.text), static_cast<std::uint32_t>(c.expected));
  }
}

TEST(ValueText, DisplayTextOfData) {
  using B = std::vector<std::uint8_t>;
  struct Case {
    const char* what;
    TRegDataType kind;
    B data;
    std::string expected;
  };
  const Case cases[] = {
      {"binary", rdBinary, {0x01, 0x00, 0xFF}, "01 00 FF "},
      {"empty binary", rdBinary, {}, ""},
      {"none", rdNone, {0xA0}, "A0 "},
      {"link", rdLink, {0x61, 0x00}, "61 00 "},
      {"string to first NUL", rdString, {'a', 'b', 0, 'c'}, "ab"},
      {"expand string unexpanded", rdExpandString, {'%', 'X', '%', 0}, "%X%"},
      {"multi-string", rdMultiString, {'a', 0, 'b', 0, 0}, "a b  "},
      {"dword", rdInteger, {0x0A, 0, 0, 0}, "0x0000000A (10)"},
      {"big-endian", rdBigEndianInteger, {0, 0, 0, 0x0A}, "0x0000000A (10)"},
      {"qword", rdInt64, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "0xFFFFFFFFFFFFFFFF (-1)"},
      {"unknown", rdUnknown, {1, 2}, ""},
      {"cardinal", rdCardinal, {1, 0, 0, 0}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(RegDataToDisplayText(c.kind, c.data), c.expected);
  }
}

TEST(ValueText, TextToBytesAndSize) {
  using B = TRegByteArray;
  struct Case {
    const char* text;
    TRegDataType kind;
    B expected;
    int size;
  };
  const Case cases[] = {
      {"01 02 03", rdResourceList, {1, 2, 3}, 3},
      {"01 02 03 ", rdBinary, {1, 2, 3, 0}, 4},  // trailing blank leaves a zero
      {"", rdBinary, {0}, 1},
      {"0", rdLink, {0}, 1},
      {"0x0000BEEF (48879)", rdBigEndianInteger, {0x00, 0x00, 0xBE, 0xEF}, 4},
      {"0x0000BEEF (48879)", rdInteger, {0xEF, 0xBE, 0x00, 0x00}, 4},
      {"48879", rdLittleEndianInteger, {0, 0, 0, 0}, 4},
      {"abc", rdString, {'a', 'b', 'c'}, 3},
      {"abc", rdUnknown, {'a', 'b', 'c'}, 0},
      {"abc", rdMultiString, {}, 3},
      {"0x0000000000000001 (1)", rdInt64, {}, 8},
      {"x", rdNone, {}, 0},
      {"x", rdCardinal, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " as " + RegDataTypeToStr(c.kind));
    B bytes;
    ValueTextToBytes(c.text, c.kind, bytes);
    EXPECT_EQ(bytes, c.expected);
    EXPECT_EQ(ValueTextDataSize(c.text, c.kind), c.size);
  }
  // The kinds that give no bytes leave the caller's array alone.
  B kept{9, 9};
  ValueTextToBytes("abc", rdMultiString, kept);
  EXPECT_EQ(kept, (B{9, 9}));
}

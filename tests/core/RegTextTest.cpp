// The text forms of .reg files: value lines, hex wrapping, escapes, the data
// classification and the bytes an import stores.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/RegText.h"
#include "platform/Text.h"
#include "tests/support/Files.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes seq(std::size_t n) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i + 1);
  return out;
}

std::string line4(std::string_view name, std::uint32_t type, const Bytes& data) {
  return FormatRegValueLine(name, type, data, false);
}
std::string line5(std::string_view name, std::uint32_t type, const Bytes& data) {
  return FormatRegValueLine(name, type, data, true);
}

class RegTextTest : public ::testing::Test {
protected:
  void SetUp() override { platform::setActiveCodePage(platform::kCodePageUtf8); }
};

TEST_F(RegTextTest, HexListWrapsAfterColumn76AndNeverEndsInACommaOrBreak) {
  // "Data"=hex: is 11 columns; 22 bytes bring the column to 77.
  const std::string thirty = FormatRegHexBytes(seq(30), 11);
  const std::string firstLine = "01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n";
  EXPECT_EQ(thirty, firstLine + "  17,18,19,1a,1b,1c,1d,1e");

  const std::string twentyTwo = FormatRegHexBytes(seq(22), 11);
  EXPECT_EQ(twentyTwo, "01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16");

  EXPECT_EQ(FormatRegHexBytes({}, 11), "");
  EXPECT_EQ(FormatRegHexBytes(Bytes{0xAB, 0x00}, 0, true), "ab,00,00,00");

  // A long list: every continuation line restarts at column 2, so it holds 25 bytes.
  const std::string longList = FormatRegHexBytes(Bytes(100, 0xFF), 10);
  std::vector<std::size_t> lineLengths;
  std::size_t start = 0;
  for (std::size_t at; (at = longList.find("\r\n", start)) != std::string::npos; start = at + 2) {
    lineLengths.push_back(at - start);
  }
  ASSERT_EQ(lineLengths.size(), 4u);  // 23 + 25 + 25 + 25 + 2
  EXPECT_EQ(lineLengths[0], 23u * 3 + 1);  // 23 bytes: 10 + 69 = 79 > 76
  EXPECT_EQ(lineLengths[1], 2u + 25 * 3 + 1);
  EXPECT_EQ(longList.substr(longList.size() - 3), ",ff");
}

TEST_F(RegTextTest, EscapesRoundTrip) {
  EXPECT_EQ(EscapeRegString("C:\\x\"y"), "C:\\\\x\\\"y");
  const char* const texts[] = {"", "plain", "C:\\Temp\\", "\"", "\\\"", "\\\\\"", "a\\\"b\\", "\"\\\""};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(UnescapeRegString(EscapeRegString(text)), text);
  }
  // A hand-written single backslash stays.
  EXPECT_EQ(UnescapeRegString("C:\\Temp"), "C:\\Temp");
  EXPECT_EQ(CollapseBackslashes("\\\\Software\\\\\\x\\"), "\\Software\\x\\");
}

TEST_F(RegTextTest, ValueLinesOfEveryKindInVersion4) {
  struct Case {
    const char* name;
    std::uint32_t type;
    Bytes data;
    const char* expected;
  };
  const Case cases[] = {
      {"Path", 1, testsupport::utf16z(u"C:\\x\"y"), "\"Path\"=\"C:\\\\x\\\"y\""},
      {"", 1, testsupport::utf16z(u"C:\\x\"y"), "@=\"C:\\\\x\\\"y\""},
      {"Empty", 1, testsupport::utf16z(u""), "\"Empty\"=\"\""},
      // Text only where it reads back to the stored bytes: anything after the
      // NUL, no terminator, an odd byte count or no bytes at all go as hex(1).
      {"Cut", 1, testsupport::utf16z(std::u16string_view(u"ab\0cd", 5)),
       "\"Cut\"=hex(1):61,00,62,00,00,00,63,00,64,00,00,00"},
      {"NoNul", 1, {'a', 0}, "\"NoNul\"=hex(1):61,00"},
      {"Odd", 1, {'a', 0, 0}, "\"Odd\"=hex(1):61,00,00"},
      {"Zero", 1, {}, "\"Zero\"=hex(1):"},
      {"TwoNuls", 1, {'a', 0, 0, 0, 0, 0}, "\"TwoNuls\"=hex(1):61,00,00,00,00,00"},
      // Beyond the version-4 code page: the stored bytes, not '?'.
      {"Far", 1, testsupport::utf16z(u"\u0416"), "\"Far\"=hex(1):16,04,00,00"},
      {"Near", 1, testsupport::utf16z(u"\u00fc"), "\"Near\"=\"\xC3\xBC\""},
      // Names escape backslashes and double quotes as strings do.
      {"a\\b", 1, testsupport::utf16z(u"v"), "\"a\\\\b\"=\"v\""},
      {"q\"q", 1, testsupport::utf16z(u"v"), "\"q\\\"q\"=\"v\""},
      {"q\"=q", 1, testsupport::utf16z(u"v"), "\"q\\\"=q\"=\"v\""},
      {"N", 4, {0xFF, 0, 0, 0}, "\"N\"=dword:000000ff"},
      {"Q", 11, {1, 2, 3, 4, 5, 6, 7, 8}, "\"Q\"=hex(B):01,02,03,04,05,06,07,08"},
      {"E", 2, testsupport::utf16z(u"%x%"), "\"E\"=hex(2):25,78,25,00"},
      {"M", 7, testsupport::utf16z(std::u16string_view(u"a\0b\0", 4)), "\"M\"=hex(7):61,00,62,00,00"},
      // Every character of the string kinds, NULs after the first included;
      // no bytes are no bytes.
      {"E", 2, testsupport::utf16z(std::u16string_view(u"a\0b", 3)), "\"E\"=hex(2):61,00,62,00"},
      {"E", 2, {}, "\"E\"=hex(2):"},
      {"E", 2, {'a', 0}, "\"E\"=hex(2):61"},
      {"M", 7, {}, "\"M\"=hex(7):"},
      {"M", 7, testsupport::utf16z(std::u16string_view(u"a\0\0b\0", 5)), "\"M\"=hex(7):61,00,00,62,00,00"},
      {"Big", 5, {0, 0, 0, 10}, "\"Big\"=hex(5):00,00,00,0a"},
      {"L", 6, {1}, "\"L\"=hex(6):01"},
      {"R8", 8, {1}, "\"R8\"=hex(8):01"},
      {"R9", 9, {1}, "\"R9\"=hex(9):01"},
      {"RA", 10, {1}, "\"RA\"=hex(A):01"},
      {"B", 3, {}, "\"B\"=hex:"},
      {"B", 3, {1, 0, 0xFF}, "\"B\"=hex:01,00,ff"},
      // REG_NONE and numbers without a form of their own keep their bytes under hex(N).
      {"None", 0, {1, 2}, "\"None\"=hex(0):01,02"},
      {"Empty", 0, {}, "\"Empty\"=hex(0):"},
      {"Odd", 0x1234, {1}, "\"Odd\"=hex(1234):01"},
      {"", 0x1f4, {}, "@=hex(1f4):"},
      {"d", 0xffff0011, {1, 2, 3}, "\"d\"=hex(ffff0011):01,02,03"},
      {"C", 12, {1}, "\"C\"=hex(c):01"},
      // A line break in a string would split the line: its stored bytes go under hex(1).
      {"Br", 1, testsupport::utf16z(u"a\r\nb"), "\"Br\"=hex(1):61,00,0d,00,0a,00,62,00,00,00"},
      {"Lf", 1, testsupport::utf16z(u"\n"), "\"Lf\"=hex(1):0a,00,00,00"},
      // A REG_DWORD of the wrong size keeps its exact bytes.
      {"D8", 4, {1, 2, 3, 4, 5, 6, 7, 8}, "\"D8\"=hex(4):01,02,03,04,05,06,07,08"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(line4(c.name, c.type, c.data), c.expected);
  }
  EXPECT_EQ(RegValueMissingComment("Foo"), "// the value \"\"Foo\"\" does not exist");
}

TEST_F(RegTextTest, Version5WritesStringDataAsUtf16) {
  EXPECT_EQ(line5("E", 2, testsupport::utf16z(u"%x%")), "\"E\"=hex(2):25,00,78,00,25,00,00,00");
  EXPECT_EQ(line5("M", 7, testsupport::utf16z(std::u16string_view(u"a\0b\0", 4))),
            "\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00");
  // Non-ASCII expandable data: real UTF-16 units, not bytes widened one by one.
  EXPECT_EQ(line5("E", 2, testsupport::utf16z(u"\u00e9\u20ac")), "\"E\"=hex(2):e9,00,ac,20,00,00");
  // Version 4 lists are in the Windows code page, whatever the active one.
  EXPECT_EQ(line4("E", 2, testsupport::utf16z(u"\u00e9")), "\"E\"=hex(2):e9,00");
  // Version 5 keeps the stored bytes of the string kinds as they stand.
  EXPECT_EQ(line5("E", 2, {}), "\"E\"=hex(2):");
  EXPECT_EQ(line5("E", 2, {'a', 0, 0}), "\"E\"=hex(2):61,00,00");
  EXPECT_EQ(line5("E", 2, testsupport::utf16z(std::u16string_view(u"a\0b", 3))),
            "\"E\"=hex(2):61,00,00,00,62,00,00,00");
  EXPECT_EQ(line5("M", 7, {}), "\"M\"=hex(7):");
  // Wrapping counts bytes of the list: a long expandable string wraps like binary data.
  const std::u16string longText(40, u'x');
  const std::string wrapped = line5("Data", 2, testsupport::utf16z(longText));
  // 14 + 21 * 3 = 77 > 76: the break follows the 21st byte.
  EXPECT_EQ(wrapped.find("\\\r\n"), std::string("\"Data\"=hex(2):").size() + 21 * 3);
}

TEST_F(RegTextTest, Version5FileTextIsUtf16Le) {
  std::string out;
  WriteRegFileText("Wi", out, true);
  EXPECT_EQ(out, std::string("W\0i\0", 4));
  out.clear();
  WriteRegFileText("\xC3\xA9\xE2\x82\xAC", out, true);  // é €
  EXPECT_EQ(out, std::string("\xE9\x00\xAC\x20", 4));
  out.clear();
  WriteRegFileText("\xC3\xA9", out, false);
  EXPECT_EQ(out, "\xC3\xA9");
}

// The writer takes shortcuts (runs of bytes between breaks, ASCII written
// without conversion, 8 bytes widened at once); each must give exactly what
// the plain rules give, at every length and start column and around every
// non-ASCII position.
TEST_F(RegTextTest, WriterShortcutsMatchThePlainRules) {
  const auto plainHex = [](const Bytes& bytes, std::size_t column, bool wide) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const char digits[] = "0123456789abcdef";
      out.push_back(digits[bytes[i] >> 4]);
      out.push_back(digits[bytes[i] & 0xF]);
      out.push_back(',');
      if (wide) out.append("00,");
      column += wide ? 6 : 3;
      if (column > 76 && i + 1 < bytes.size()) {
        out.append("\\\r\n  ");
        column = 2;
      }
    }
    if (!out.empty()) out.pop_back();
    return out;
  };
  for (const bool wide : {false, true}) {
    for (std::size_t column = 0; column <= 90; column += 1) {
      for (std::size_t n = 0; n <= 80; ++n) {
        const Bytes bytes = seq(n);
        ASSERT_EQ(FormatRegHexBytes(bytes, column, wide), plainHex(bytes, column, wide))
            << "wide " << wide << ", column " << column << ", " << n << " bytes";
      }
    }
  }

  const auto plainWide = [](std::string_view text) {
    std::string out;
    for (const char16_t u : platform::ansiToWide(text)) {
      out.push_back(static_cast<char>(u & 0xFF));
      out.push_back(static_cast<char>(u >> 8));
    }
    return out;
  };
  const std::string ascii = "0123456789abcdefghijklmnopqrstuv";  // 32 bytes
  for (std::size_t length = 0; length <= ascii.size(); ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      // The text cut to `length`, with "é" in place of its byte `at` (none when at == length).
      std::string text = ascii.substr(0, length);
      if (at < length) text.replace(at, 1, "\xC3\xA9");
      std::string out = "kept";
      WriteRegFileText(text, out, true);
      ASSERT_EQ(out, "kept" + plainWide(text)) << "length " << length << ", at " << at;
    }
  }

  // Long text of many lines (a whole export at once) converts only the lines
  // holding other bytes; the result is the text converted as a whole.
  const std::string manyLines[] = {
      "first \xC3\xA9\r\n[plain]\r\n\"v\"=\"x\"\r\n\r\n\xE2\x82\xAC\r\n\xE2\x82\xAC\r\nlast",
      "\r\n\r\n\xC3\r\nbroken before the line end\xE2\x82\n\xF0\x9F\x98\x80 pair\r\n",
      std::string(100, 'a') + "\n" + std::string(20, 'b') + "\xC3\xA9" + std::string(30, 'c') + "\n" +
          std::string(50, 'd') + "\xED\xA0\x80",
      "\xC3\xA9",
      "\n\xC3\xA9\n",
  };
  for (const unsigned codePage : {platform::kCodePageUtf8, 1252u}) {
    platform::setActiveCodePage(codePage);
    for (const std::string& text : manyLines) {
      SCOPED_TRACE(testing::Message() << "code page " << codePage << ": " << text);
      std::string out = "kept";
      WriteRegFileText(text, out, true);
      EXPECT_EQ(out, "kept" + plainWide(text));
    }
  }
  platform::setActiveCodePage(platform::kCodePageUtf8);

  // Value lines whose data is not all ASCII, or not UTF-8 text, take the
  // conversion; the same data in ASCII the shortcut.
  struct Case {
    std::uint32_t type;
    Bytes data;
  };
  Bytes odd = testsupport::utf16z(u"abc");
  odd.push_back('z');  // half a unit at the end
  const Case cases[] = {
      {1, testsupport::utf16z(u"plain \"q\" C:\\x")},
      {1, testsupport::utf16z(u"caf\u00e9 \"q\" C:\\x")},
      {1, testsupport::utf16z(std::u16string{u'a', u'\xD800', u'b'})},
      {1, testsupport::utf16z(u"\u0100")},  // low byte ASCII, high byte not zero
      {1, odd},
      {2, testsupport::utf16z(u"%SystemRoot%\\x")},
      {2, testsupport::utf16z(u"%P%\\\u00e9")},
      {2, odd},
      {7, testsupport::utf16z(std::u16string_view(u"a\0b\0", 4))},
      {7, testsupport::utf16z(std::u16string_view(u"\u00e9\0\u20ac\0", 4))},
      {7, odd},
  };
  for (const unsigned codePage : {platform::kCodePageUtf8, 1252u}) {
    platform::setActiveCodePage(codePage);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "code page " << codePage << ", type " << c.type << ", "
                                      << c.data.size() << " bytes");
      std::u16string units;
      for (std::size_t i = 0; i + 1 < c.data.size(); i += 2) units.push_back(char16_t(c.data[i] | (c.data[i + 1] << 8)));
      const std::u16string cut = units.substr(0, units.find(u'\0'));
      // A string is quoted when the text reads back to its bytes, else its
      // bytes go under hex(1); the other kinds' version-4 lists are every
      // unit in the Windows code page, their version-5 lists the bytes.
      const bool oneString = c.data.size() % 2 == 0 && !units.empty() && cut.size() + 1 == units.size() &&
                             cut.find_first_of(u"\r\n") == std::u16string::npos;
      const unsigned page4 = RegFile4CodePage();
      const bool survives = platform::ansiToWide(platform::wideToAnsi(cut)) == cut;
      const bool survives4 =
          survives && platform::codePageToWide(page4, platform::wideToCodePage(page4, cut)) == cut;
      const std::string quoted = "\"v\"=\"" + EscapeRegString(platform::wideToAnsi(cut)) + "\"";
      const std::string hex1 = "\"v\"=hex(1):" + FormatRegHexBytes(c.data, 11);
      if (c.type == 1) {
        EXPECT_EQ(line4("v", 1, c.data), oneString && survives4 ? quoted : hex1);
        EXPECT_EQ(line5("v", 1, c.data), oneString && survives ? quoted : hex1);
        continue;
      }
      const std::string list4 = platform::wideToCodePage(page4, units);
      const std::string prefix = c.type == 2 ? "\"v\"=hex(2):" : "\"v\"=hex(7):";
      EXPECT_EQ(line4("v", c.type, c.data), prefix + FormatRegHexBytes(Bytes(list4.begin(), list4.end()), prefix.size()));
      EXPECT_EQ(line5("v", c.type, c.data), prefix + FormatRegHexBytes(c.data, prefix.size()));
    }
  }
  platform::setActiveCodePage(platform::kCodePageUtf8);
}

TEST_F(RegTextTest, StreamLines) {
  struct Case {
    const char* name;
    TRegDataType kind;
    Bytes data;
    const char* expected;
  };
  const Case cases[] = {
      {"Count", rdInteger, {10, 0, 0, 0}, "\"Count\"=dword:0000000a"},
      {"Count", rdCardinal, {0xFF, 0xFF, 0xFF, 0xFF}, "\"Count\"=dword:ffffffff"},
      {"", rdString, {'a', '"', 0}, "@=\"a\\\"\""},
      // Data that is not one text and its NUL keeps all of its characters.
      {"", rdString, {'a', '"', 0, 'z'}, "@=hex(1):61,00,22,00,00,00,7a,00"},
      {"S", rdString, {'a'}, "\"S\"=hex(1):61,00"},
      {"S", rdString, {}, "\"S\"=hex(1):"},
      {"S", rdString, {0xD0, 0x96, 0}, "\"S\"=hex(1):16,04,00,00"},
      {"S", rdString, {0xC3, 0xBC, 0}, "\"S\"=\"\xC3\xBC\""},
      {"q\"=", rdString, {'v', 0}, "\"q\\\"=\"=\"v\""},
      {"E", rdExpandString, {'%', 'x', '%', 0}, "\"E\"=hex(2):25,78,25,00"},
      {"E", rdExpandString, {0xC3, 0xBC, 0}, "\"E\"=hex(2):fc,00"},
      {"E", rdExpandString, {}, "\"E\"=hex(2):"},
      {"B", rdBinary, {1, 2}, "\"B\"=hex:01,02"},
      {"L", rdLittleEndianInteger, {1, 0, 0, 0}, "\"L\"=hex(4):01,00,00,00"},
      {"G", rdBigEndianInteger, {0, 0, 0, 1}, "\"G\"=hex(5):00,00,00,01"},
      {"K", rdLink, {1}, "\"K\"=hex(6):01"},
      {"M", rdMultiString, {'a', 0, 0}, "\"M\"=hex(7):61,00,00"},
      {"M", rdMultiString, {'a', 0, 0, 'b', 0, 0}, "\"M\"=hex(7):61,00,00,62,00,00"},
      {"M", rdMultiString, {}, "\"M\"=hex(7):"},
      {"R", rdResourceList, {1}, "\"R\"=hex(8):01"},
      {"F", rdFullResourceDescriptor, {1}, "\"F\"=hex(9):01"},
      {"Q", rdResourceRequirementsList, {1}, "\"Q\"=hex(A):01"},
      {"Q", rdInt64, {1, 0, 0, 0, 0, 0, 0, 0}, "\"Q\"=hex(B):01,00,00,00,00,00,00,00"},
      {"Q", rdLittleEndianInt64, {2, 0, 0, 0, 0, 0, 0, 0}, "\"Q\"=hex(B):02,00,00,00,00,00,00,00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    std::string line;
    ASSERT_TRUE(FormatRegStreamLine(c.data, c.name, c.kind, line));
    EXPECT_EQ(line, c.expected);
  }
  // REG_NONE, a type number without a kind, and a string holding a line break.
  std::string line = "untouched";
  ASSERT_TRUE(FormatRegStreamLine(Bytes{1}, "x", rdNone, line));
  EXPECT_EQ(line, "\"x\"=hex(0):01");
  ASSERT_TRUE(FormatRegStreamLine(Bytes{1, 2}, "x", rdUnknown, line, 0xffff0011u));
  EXPECT_EQ(line, "\"x\"=hex(ffff0011):01,02");
  ASSERT_TRUE(FormatRegStreamLine(Bytes{'a', '\n', 0}, "x", rdString, line));
  EXPECT_EQ(line, "\"x\"=hex(1):61,00,0a,00,00,00");
  // An unknown kind whose number was not kept gives no entry.
  line = "untouched";
  EXPECT_FALSE(FormatRegStreamLine(Bytes{1}, "x", rdUnknown, line));
  EXPECT_EQ(line, "untouched");
  // The wrap column counts the entry's own prefix.
  ASSERT_TRUE(FormatRegStreamLine(seq(30), "Data", rdBinary, line));
  EXPECT_EQ(line.find("\\\r\n  "), std::string("\"Data\"=hex:").size() + 22 * 3);
}

TEST_F(RegTextTest, ReadingHelpers) {
  EXPECT_EQ(UnquoteRegName("\"a\\\\b\""), "a\\b");
  EXPECT_EQ(UnquoteRegName("\"@\""), "@");
  EXPECT_EQ(UnquoteRegName("\"x"), "\"x");
  // Doubled backslashes are undone pairwise, so a name with two survives.
  EXPECT_EQ(UnquoteRegName("\"a\\\\\\\\b\""), "a\\\\b");
  EXPECT_EQ(UnquoteRegName("\"double\\\"quote\""), "double\"quote");
  EXPECT_EQ(StripRegHexPrefix("hex(b):0a,ff"), "0AFF");
  EXPECT_EQ(SwapHexQWord("0100000000000000"), "0000000000000001");
  EXPECT_EQ(SwapHexQWord("0102"), "0102");
  EXPECT_EQ(RegHexListToText("61,00,62,zz,63", false), "abc");
  EXPECT_EQ(RegHexListToText("61,00,62,00,00", true), "a\r\nb\r\n\r\n");

  EXPECT_EQ(RegHexDigitsToText("6100620000"), "a\r\nb");
  EXPECT_EQ(RegHexDigitsToText("61000000620000000000"), "a\r\nb");
  EXPECT_EQ(RegHexDigitsToText("61000000620000000000", RegFileVersion::v5), "a\r\nb");
  EXPECT_EQ(RegHexDigitsToText("25782500"), "%x%");
  EXPECT_EQ(RegHexDigitsToText("2500780025000000"), "%x%");
  // UTF-16 data is decoded, not cut to its low bytes.
  EXPECT_EQ(RegHexDigitsToText("e900ac20000000"), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(RegHexDigitsToText("e900ac20", RegFileVersion::v5), "\xC3\xA9\xE2\x82\xAC");
}

TEST_F(RegTextTest, ParseRegFileDataForms) {
  struct Case {
    const char* data;
    TRegDataType kind;
    const char* display;
  };
  const Case cases[] = {
      {"\"C:\\\\x\"", rdString, "C:\\\\x"},
      {"HEX(2):25,78,25,00", rdExpandString, "%x%"},
      {"hex(2):25,00,78,00,25,00,00,00", rdExpandString, "%x%"},
      {"hex:01,a0,ff", rdBinary, "01 A0 FF"},
      {"dword:0000000a", rdInteger, "0x0000000A (10)"},
      {"hex(4):0a,00,00,00", rdLittleEndianInteger, "0x0000000A (10)"},
      {"hex(5):00,00,01,00", rdBigEndianInteger, "0x00000100 (256)"},
      {"hex(6):01", rdLink, "01"},
      {"hex(7):61,00,62,00,00", rdMultiString, "a\r\nb\r\n\r\n"},
      {"hex(7):61,00,00,00,62,00,00,00,00,00", rdMultiString, "a\r\nb\r\n\r\n"},
      {"hex(8):01", rdResourceList, "01"},
      {"hex(9):01", rdFullResourceDescriptor, "01"},
      {"hex(A):01", rdResourceRequirementsList, "01"},
      {"hex(b):01,00,00,00,00,00,00,00", rdInt64, "0x0000000000000001 (1)"},
      {"hex(0):01", rdNone, "01"},
      {"hex(0):", rdNone, ""},
      {"hex(3):01", rdBinary, "01"},
      {"hex(c):01", rdUnknown, "01"},
      {"hex(FFFF0011):01,0a", rdUnknown, "01 0A"},
      {"hex(1):61,00,5c,00,0a,00,00,00,62,00", rdString, "a\\\\\n"},
      // Not a type number of 1 to 8 hex digits.
      {"hex():01", rdUnknown, "hex():01"},
      {"hex(123456789):01", rdUnknown, "hex(123456789):01"},
      {"hex(1g):01", rdUnknown, "hex(1g):01"},
      {"hex(1:01", rdUnknown, "hex(1:01"},
      {"\"open", rdUnknown, "\"open"},
      {"", rdUnknown, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    std::string display;
    EXPECT_EQ(ParseRegFileData(c.data, display), c.kind);
    EXPECT_EQ(display, c.display);
  }
}

TEST_F(RegTextTest, StoredBytesOfImportedData) {
  struct Case {
    const char* data;
    RegFileVersion version;
    bool ok;
    std::uint32_t type;
    Bytes stored;
  };
  const Case cases[] = {
      {"\"C:\\\\Temp\\\\\"", RegFileVersion::v4, true, 1, testsupport::utf16z(u"C:\\Temp\\")},
      {"\"\xC3\xA9\"", RegFileVersion::v5, true, 1, testsupport::utf16z(u"\u00e9")},
      {"dword:000000ff", RegFileVersion::v4, true, 4, {0xFF, 0, 0, 0}},
      {"DWORD:1", RegFileVersion::v4, true, 4, {1, 0, 0, 0}},
      {"dword:123456789", RegFileVersion::v4, false, 0, {}},
      {"dword:xyz", RegFileVersion::v4, false, 0, {}},
      {"dword:", RegFileVersion::v4, false, 0, {}},
      {"hex:01,00,00,00", RegFileVersion::v4, true, 3, {1, 0, 0, 0}},
      {"hex:", RegFileVersion::v4, true, 3, {}},
      {"hex:01,02,", RegFileVersion::v4, true, 3, {1, 2}},
      {"hex:01,0g", RegFileVersion::v4, false, 0, {}},
      {"hex:1,02", RegFileVersion::v4, false, 0, {}},
      {"hex:01,,02", RegFileVersion::v4, false, 0, {}},
      {"hex(4):01,00,00,00", RegFileVersion::v4, true, 4, {1, 0, 0, 0}},
      {"hex(5):00,00,01,00", RegFileVersion::v4, true, 5, {0, 0, 1, 0}},
      {"hex(b):01,00,00,00,00,00,00,00", RegFileVersion::v4, true, 11, {1, 0, 0, 0, 0, 0, 0, 0}},
      {"hex(2):25,78,25,00", RegFileVersion::v4, true, 2, testsupport::utf16z(u"%x%")},
      {"hex(2):25,00,78,00,25,00,00,00", RegFileVersion::v5, true, 2, testsupport::utf16z(u"%x%")},
      {"hex(2):e9,00,00,00", RegFileVersion::v5, true, 2, testsupport::utf16z(u"\u00e9")},
      // The string kinds keep every character, and no bytes are no bytes.
      {"hex(2):", RegFileVersion::v4, true, 2, {}},
      {"hex(2):", RegFileVersion::v5, true, 2, {}},
      {"hex(7):", RegFileVersion::v4, true, 7, {}},
      {"hex(7):", RegFileVersion::v5, true, 7, {}},
      {"hex(1):", RegFileVersion::v4, true, 1, {}},
      {"hex(1):", RegFileVersion::v5, true, 1, {}},
      {"hex(2):61,00,00", RegFileVersion::v5, true, 2, {'a', 0, 0}},
      {"hex(2):61,00,62", RegFileVersion::v4, true, 2, {'a', 0, 0, 0, 'b', 0}},
      {"hex(2):61,00,00,00,62,00,00,00", RegFileVersion::v5, true, 2, testsupport::utf16z(std::u16string_view(u"a\0b", 3))},
      // Version 4 lists are Western (1252) here, not the active UTF-8.
      {"hex(2):fc,00", RegFileVersion::v4, true, 2, testsupport::utf16z(u"\u00fc")},
      {"hex(7):80,00,00", RegFileVersion::v4, true, 7, testsupport::utf16z(std::u16string_view(u"\u20ac\0", 2))},
      // Both forms of the multi-string a, b store it with its final terminator.
      {"hex(7):61,00,62,00,00", RegFileVersion::v4, true, 7, testsupport::utf16z(std::u16string_view(u"a\0b\0", 4))},
      {"hex(7):61,00,00,00,62,00,00,00,00,00", RegFileVersion::v5, true, 7,
       testsupport::utf16z(std::u16string_view(u"a\0b\0", 4))},
      {"hex(7):61,00,00,00,62,00,00,00,00,00", RegFileVersion::unknown, true, 7,
       testsupport::utf16z(std::u16string_view(u"a\0b\0", 4))},
      // Version 4 is 8-bit: "a", "" and the terminator are not taken for UTF-16.
      {"hex(7):61,00,00,00", RegFileVersion::v4, true, 7, testsupport::utf16z(std::u16string_view(u"a\0\0", 3))},
      {"hex(7):61,00,00,00", RegFileVersion::unknown, true, 7, {0x61, 0, 0, 0}},
      {"hex(7):e9,00,00", RegFileVersion::v4, true, 7, testsupport::utf16z(std::u16string_view(u"\u00e9\0", 2))},
      // Every other number stores exactly its bytes under itself.
      {"hex(0):01", RegFileVersion::v4, true, 0, {1}},
      {"hex(0):", RegFileVersion::v5, true, 0, {}},
      {"hex(ffff0011):01,02,03", RegFileVersion::v5, true, 0xffff0011u, {1, 2, 3}},
      {"HEX(1F4):0a", RegFileVersion::v4, true, 0x1f4, {10}},
      {"hex(3):01", RegFileVersion::v4, true, 3, {1}},
      {"hex(1):61,00,0a,00,00,00", RegFileVersion::v4, true, 1, {0x61, 0, 0x0a, 0, 0, 0}},
      {"hex(ffff0011):01,zz", RegFileVersion::v4, false, 0, {}},
      {"hex(123456789):01", RegFileVersion::v4, false, 0, {}},
      {"nonsense", RegFileVersion::v4, false, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    std::uint32_t type = 0;
    Bytes stored;
    ASSERT_EQ(RegFileDataToStored(c.data, c.version, type, stored), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(stored, c.stored);
  }
}

TEST_F(RegTextTest, EveryExportedLineReadsBackToTheSameBytes) {
  struct Case {
    const char* name;
    std::uint32_t type;
    Bytes data;
  };
  const Case cases[] = {
      {"s", 1, testsupport::utf16z(u"C:\\x\"y\u00e9\U0001F600")},
      {"e", 2, testsupport::utf16z(u"%SystemRoot%\\\u00e9")},
      {"m", 7, testsupport::utf16z(std::u16string_view(u"a\0\u00e9\0", 4))},
      {"b", 3, seq(300)},
      {"d", 4, {1, 2, 3, 4}},
      {"d8", 4, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"g", 5, {1, 2, 3, 4}},
      {"q", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"r", 10, seq(90)},
      {"n0", 0, {}},
      {"n3", 0, {1, 2, 3}},
      {"dev", 0xffff0011u, seq(100)},
      {"odd", 0x1f4, {9}},
      {"br", 1, testsupport::utf16z(u"one\r\ntwo\u00e9")},
      // String data that is not one clean string.
      {"s after nul", 1, testsupport::utf16z(std::u16string_view(u"ab\0cd", 5))},
      {"s no nul", 1, {'a', 0, 'b', 0}},
      {"s odd", 1, {'a', 0, 'b'}},
      {"s zero", 1, {}},
      {"s far", 1, testsupport::utf16z(u"\u0416\u4e2d")},
      {"e after nul", 2, testsupport::utf16z(std::u16string_view(u"%a%\0junk", 8))},
      {"e no nul", 2, {'a', 0}},
      {"e zero", 2, {}},
      {"m inner empty", 7, testsupport::utf16z(std::u16string_view(u"a\0\0b\0", 5))},
      {"m no final", 7, {'a', 0, 0, 0, 'b', 0}},
      {"m zero", 7, {}},
      // Version 4 cannot hold these: an odd byte count or characters beyond
      // its code page in the 8-bit lists of hex(2) and hex(7).
      {"e odd (v5 only)", 2, {'a', 0, 0}},
      {"e far (v5 only)", 2, testsupport::utf16z(u"\u0416")},
      {"m odd (v5 only)", 7, {'a', 0, 0, 0, 0}},
  };
  for (const bool unicode : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (unicode ? " v5" : " v4"));
      if (!unicode && std::string_view(c.name).ends_with("(v5 only)")) continue;
      const std::string line = FormatRegValueLine(c.name, c.type, c.data, unicode);
      // Joined continuations, as the reader sees them.
      std::string joined;
      for (std::size_t i = 0; i < line.size(); ++i) {
        if (line.compare(i, 5, "\\\r\n  ") == 0) {
          i += 4;
          continue;
        }
        joined.push_back(line[i]);
      }
      const std::string data = joined.substr(joined.find('=') + 1);
      std::uint32_t type = 0;
      Bytes stored;
      ASSERT_TRUE(RegFileDataToStored(data, unicode ? RegFileVersion::v5 : RegFileVersion::v4, type, stored));
      EXPECT_EQ(type, c.type);
      EXPECT_EQ(stored, c.data);
    }
  }
}

}  // namespace

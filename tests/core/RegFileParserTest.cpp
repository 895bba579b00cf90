// The .reg line parser, with a recorder as its sink.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/RegFileParser.h"
#include "core/kxStrings.h"
#include "platform/Text.h"
#include "tests/support/TempDir.h"

namespace {

// Records every event as one line of text.
class Recorder : public RegFileSink {
public:
  bool openKeys = true;
  std::vector<std::string> events;
  std::vector<RegFileValueLine> values;
  std::size_t progressCalls = 0;
  std::size_t lastProgress = 0;

  void regProgress(std::size_t lineIndex, std::size_t lastLineIndex) override {
    ++progressCalls;
    lastProgress = lineIndex;
    EXPECT_LE(lineIndex, lastLineIndex);
  }
  bool regKey(std::string_view rootName, std::string_view keyPath, bool deleted) override {
    events.push_back(std::string(deleted ? "delkey " : "key ") + std::string(rootName) + "|" + std::string(keyPath));
    return openKeys && !deleted;
  }
  void regValue(const RegFileValueLine& value) override {
    values.push_back(value);
    events.push_back(std::string(value.deleted ? "delval " : "val ") + value.name + "|" + value.data);
  }
};

std::vector<std::string> parse(Recorder& recorder, std::string_view text, bool takeBeforeSection = false,
                               RegFileVersion version = RegFileVersion::v4) {
  RegFileParser parser(recorder, version, takeBeforeSection);
  const std::vector<std::string> lines = SplitTextLines(text);
  parser.parseLines(lines);
  return recorder.events;
}

using Events = std::vector<std::string>;

TEST(RegFileParserTest, SectionsValuesAndDeletions) {
  struct Case {
    const char* text;
    Events expected;
  };
  const Case cases[] = {
      {"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\x]\r\n\"a\"=\"1\"\r\n",
       {"key HKEY_CURRENT_USER|\\Software\\x", "val a|\"1\""}},
      // The line after the header is read like any other: a section there is kept.
      {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\T]\r\n\"a\"=\"1\"\r\n",
       {"key HKEY_CURRENT_USER|\\Software\\T", "val a|\"1\""}},
      // A header alone, or a header and one line, holds nothing more.
      {"REGEDIT4", {}},
      {"REGEDIT4\r\n[HKLM\\k]", {"key HKLM|\\k"}},
      {"REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\x]\r\n\"a\"=\"1\"\r\n[HKCU\\y]\r\n\"b\"=-\r\n",
       {"delkey HKEY_CURRENT_USER|\\Software\\x", "key HKCU|\\y", "delval b|-"}},
      {"REGEDIT4\r\n\r\n[HKLM\\k]\r\n@=\"d\"\r\n@=-\r\n-@\r\n\"@\"=\"n\"\r\n-\"gone\"\r\n",
       {"key HKLM|\\k", "val |\"d\"", "delval |-", "delval |", "val @|\"n\"", "delval gone|"}},
      // A section line must end in "]": a trailing blank makes it a (useless) value line.
      {"REGEDIT4\r\n\r\n[HKLM\\k]\r\n[HKLM\\j] \r\n", {"key HKLM|\\k", "val [HKLM\\j]|"}},
      // A section without a backslash names a root alone.
      {"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n", {"key HKEY_LOCAL_MACHINE|"}},
      {"REGEDIT4\r\n\r\n[]\r\n[-]\r\n", {"key |", "delkey |"}},
      // Comments, blank and blank-only lines.
      {"REGEDIT4\r\n\r\n[HKLM\\k]\r\n// note\r\n   \r\n\t// indented note\r\n\r\n\"a\"=dword:1\r\n",
       {"key HKLM|\\k", "val a|dword:1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Recorder recorder;
    EXPECT_EQ(parse(recorder, c.text), c.expected);
  }
}

TEST(RegFileParserTest, ValueLinesNeedAnOpenKeyWhenTheSinkSaysSo) {
  const char* text = "REGEDIT4\r\n\r\n\"early\"=\"1\"\r\n[HKLM\\k]\r\n\"a\"=\"1\"\r\n[-HKLM\\k]\r\n\"b\"=\"2\"\r\n";
  {
    Recorder importer;  // takes nothing before a section, nothing in a deleted or unopened one
    EXPECT_EQ(parse(importer, text, false), (Events{"key HKLM|\\k", "val a|\"1\"", "delkey HKLM|\\k"}));
  }
  {
    Recorder closed;
    closed.openKeys = false;
    EXPECT_EQ(parse(closed, text, false), (Events{"key HKLM|\\k", "delkey HKLM|\\k"}));
  }
  {
    Recorder lister;  // a reader that lists takes the early line
    EXPECT_EQ(parse(lister, text, true).front(), "val early|\"1\"");
  }
}

TEST(RegFileParserTest, ContinuationLinesJoin) {
  Recorder recorder;
  parse(recorder,
        "REGEDIT4\r\n\r\n[HKLM\\k]\r\n\"Data\"=hex:01,02,\\\r\n  03,04,\\\r\n// between\r\n  05\r\n"
        "\"next\"=dword:00000001\r\n");
  EXPECT_EQ(recorder.events, (Events{"key HKLM|\\k", "val Data|hex:01,02,03,04,05", "val next|dword:00000001"}));
  EXPECT_EQ(recorder.values[0].kind, rdBinary);
  EXPECT_EQ(recorder.progressCalls, 7u);  // lines 1..7
  EXPECT_EQ(recorder.lastProgress, 7u);
}

TEST(RegFileParserTest, UnfinishedValuesAreDropped) {
  // A value cut off by a section or by the end of the text is never reported.
  Recorder recorder;
  parse(recorder, "REGEDIT4\r\n\r\n[HKLM\\k]\r\n\"a\"=hex:01,\\\r\n[HKLM\\j]\r\n\"b\"=dword:2\r\n\"c\"=hex:01,\\\r\n");
  EXPECT_EQ(recorder.events, (Events{"key HKLM|\\k", "key HKLM|\\j", "val b|dword:2"}));
}

TEST(RegFileParserTest, ValueLineParts) {
  struct Case {
    const char* line;
    const char* name;
    bool deleted;
    TRegDataType kind;
    const char* rawData;
    const char* dataText;
  };
  const Case cases[] = {
      {"\"Path\"=\"C:\\\\x\\\"y\"", "Path", false, rdString, "\"C:\\x\"y\"", "C:\\x\"y"},
      {"\"T\"=\"C:\\\\Temp\\\\\"", "T", false, rdString, "\"C:\\Temp\\\"", "C:\\Temp\\"},
      {"@=\"\"", "", false, rdString, "\"\"", ""},
      {"\"E\"=hex(2):25,78,25,00", "E", false, rdExpandString, "hex(2):25,78,25,00", "%x%"},
      {"\"M\"=hex(7):61,00,62,00,00", "M", false, rdMultiString, "hex(7):61,00,62,00,00", "a\r\nb"},
      {"\"N\"=dword:0000000a", "N", false, rdInteger, "dword:0000000a", "dword:0000000a"},
      {"\"H\"=hex(4):01,00,00,00", "H", false, rdLittleEndianInteger, "hex(4):01,00,00,00", "hex(4):01,00,00,00"},
      {"\"U\"=hex(0):01", "U", false, rdNone, "hex(0):01", "hex(0):01"},
      {"\"D\"=hex(ffff0011):01,02", "D", false, rdUnknown, "hex(ffff0011):01,02", "hex(ffff0011):01,02"},
      // A string written as its UTF-16LE bytes (its text holds a line break).
      {"\"L\"=hex(1):61,00,0d,00,0a,00,5c,00,00,00", "L", false, rdString, "hex(1):61,00,0d,00,0a,00,5c,00,00,00",
       "a\r\n\\"},
      {"\"X\"=hex:zz", "X", false, rdBinary, "hex:zz", "hex:zz"},
      {"\"a\\\\b\"=-", "a\\b", true, rdUnknown, "-", "-"},
      {"-\"a\"", "a", true, rdUnknown, "", ""},
      {"novalue", "novalue", false, rdUnknown, "", ""},
      // Names holding "=" and double quotes, as the exporter writes them.
      {"\"a=b\"=\"v\"", "a=b", false, rdString, "\"v\"", "v"},
      {"\"x\"=y\"=dword:00000001", "x\"=y", false, rdInteger, "dword:00000001", "dword:00000001"},
      // Data-like text inside the name: the split whose rest is valid data wins.
      {"\"x\"=dword:1\"=hex:01", "x\"=dword:1", false, rdBinary, "hex:01", "hex:01"},
      {"\"k\"=\"v=\"=\"w\"", "k", false, rdString, "\"v=\"=\"w\"", "v=\"=\"w"},
      {"\"q\"\"=hex:01", "q\"", false, rdBinary, "hex:01", "hex:01"},
      {"\"back\\\\\"=\"v\"", "back\\", false, rdString, "\"v\"", "v"},
      // An escaped quote (as names are written) is part of the name.
      {"\"e\\\"=f\"=\"v\"", "e\"=f", false, rdString, "\"v\"", "v"},
      {"\"double\\\"quote\"=\"v\"", "double\"quote", false, rdString, "\"v\"", "v"},
      {"\"\\\"=\\\"\"=hex:01", "\"=\"", false, rdBinary, "hex:01", "hex:01"},
      {"\"=\"=-", "=", true, rdUnknown, "-", "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const RegFileValueLine v = RegFileParser::splitValueLine(c.line, RegFileVersion::v4);
    EXPECT_EQ(v.name, c.name);
    EXPECT_EQ(v.deleted, c.deleted);
    EXPECT_EQ(v.kind, c.kind);
    EXPECT_EQ(v.rawData, c.rawData);
    EXPECT_EQ(v.dataText, c.dataText);
  }
  // Version 5 decodes string-kind lists as UTF-16LE.
  platform::setActiveCodePage(platform::kCodePageUtf8);
  const RegFileValueLine v5 =
      RegFileParser::splitValueLine("\"M\"=hex(7):61,00,00,00,e9,00,00,00,00,00", RegFileVersion::v5);
  EXPECT_EQ(v5.dataText, "a\r\n\xC3\xA9");
}

// A joined line of a megabyte whose every piece could end the name: the name
// ends at the first split whose rest is data, found in one pass (a parse per
// candidate took minutes here).
TEST(RegFileParserTest, AMegabyteLineOfNameEndCandidatesSplitsOnce) {
  std::string pieces;
  while (pieces.size() < (std::size_t{1} << 20)) pieces += "\"=hex(7):41,";
  struct Case {
    std::string line;
    std::string name;
    TRegDataType kind;
  };
  const Case cases[] = {
      {"\"n" + pieces + "\"=dword:00000001", "n" + pieces, rdInteger},
      {"\"n" + pieces + "\"=\"v\"", "n" + pieces, rdString},
      {"\"n\"=\"v" + pieces + "\"", "n", rdString},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.substr(c.line.size() - 20));
    const RegFileValueLine v = RegFileParser::splitValueLine(c.line, RegFileVersion::v4);
    EXPECT_EQ(v.name, c.name);
    EXPECT_EQ(v.kind, c.kind);
  }
}

TEST(RegFileParserTest, RecognisesBothHeaders) {
  platform::setActiveCodePage(platform::kCodePageUtf8);
  std::vector<std::string> lines;
  RegFileVersion version = RegFileVersion::unknown;

  ASSERT_TRUE(ReadRegFileLines("REGEDIT4\r\n\r\n[HKLM\\x]\r\n", lines, version));
  EXPECT_EQ(version, RegFileVersion::v4);
  EXPECT_EQ(lines, (std::vector<std::string>{"REGEDIT4", "", "[HKLM\\x]"}));

  std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\\u00e9]\r\n";
  std::string bytes = "\xFF\xFE";
  for (const char16_t u : text) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  ASSERT_TRUE(ReadRegFileLines(bytes, lines, version));
  EXPECT_EQ(version, RegFileVersion::v5);
  EXPECT_EQ(lines.at(2), "[HKLM\\\xC3\xA9]");

  // Version 4 is the Windows code page (Western here), never the active one.
  ASSERT_TRUE(ReadRegFileLines("REGEDIT4\r\n\r\n[HKLM\\Gr\xFC\xDF" "e \x80]\r\n", lines, version));
  EXPECT_EQ(lines.at(2), "[HKLM\\Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC]");
  // Version 5 saved as UTF-8 with its mark.
  ASSERT_TRUE(ReadRegFileLines("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n[HKLM\\\xC3\xA9]\r\n", lines,
                               version));
  EXPECT_EQ(version, RegFileVersion::v5);
  EXPECT_EQ(lines.at(2), "[HKLM\\\xC3\xA9]");

  const char* const rejected[] = {"", "regedit4\r\n", "Windows Registry Editor Version 5.00\r\n",
                                  "\xFF\xFEW\0i\0", "\xEF\xBB\xBFREGEDIT4\r\n"};
  for (const char* bad : rejected) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ReadRegFileLines(bad, lines, version));
  }
  EXPECT_EQ(RegFileVersionOfHeader("REGEDIT4"), RegFileVersion::v4);
  EXPECT_EQ(RegFileVersionOfHeader(kRegFileHeader5), RegFileVersion::v5);
  EXPECT_EQ(RegFileVersionOfHeader("[HKLM]"), RegFileVersion::unknown);
}

}  // namespace

// A file read a piece at a time gives the very lines the whole file gives,
// whatever falls on the boundary between pieces (a megabyte): a CR LF, the
// two bytes of a UTF-16 unit, the two units of a surrogate pair.
TEST(RegFileParserTest, TheLineReaderGivesTheLinesOfTheWholeFile) {
  platform::setActiveCodePage(platform::kCodePageUtf8);
  testsupport::TempDir dir;
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  struct Case {
    const char* what;
    bool v5;
    std::size_t shift;  // where around the boundary the awkward text starts
  };
  // The text from `shift` units before the boundary on is CR, LF, a quote
  // and a surrogate pair.
  const Case cases[] = {
      {"v4, CR LF on the boundary", false, 1},
      {"v4, CR alone at the end of the file", false, 0},
      {"v5, CR LF on the boundary, half a unit at the end", true, 1},
      {"v5, a surrogate pair on the boundary", true, 4},
      {"v5, lone surrogates and no final break", true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::u16string text = c.v5 ? u"Windows Registry Editor Version 5.00\r\n\r\n" : u"REGEDIT4\r\n\r\n";
    text += u"[HKEY_CURRENT_USER\\K]\r\n\"v\"=\"";
    // The reader looks at the first 74 bytes (the longer header) alone, then
    // reads whole pieces: the first boundary falls on this text unit.
    const std::size_t boundary = c.v5 ? (72 + kPiece) / 2 : 74 + kPiece;
    while (text.size() < boundary - c.shift) text += u'x';
    text += u"\r\n\"\U0001F600\"\r\n\r\na\rb\nc";
    if (c.v5 && c.shift == 3) text += u"\xD800=\xDC00";
    if (c.shift == 0) text += u"\r";
    std::string bytes;
    if (c.v5) {
      bytes = "\xFF\xFE";
      for (const char16_t u : text) {
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
      }
      if (c.shift == 1) bytes.push_back('z');  // half a unit at the very end
    } else {
      bytes = platform::wideToAnsi(text);
    }
    const auto file = dir.path() / "in.reg";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    std::vector<std::string> whole;
    RegFileVersion version = RegFileVersion::unknown;
    ASSERT_TRUE(ReadRegFileLines(bytes, whole, version));
    RegFileLineReader reader;
    ASSERT_TRUE(reader.open(file));
    EXPECT_EQ(reader.version(), version);
    std::vector<std::string> read;
    for (std::string line; reader.next(line);) read.push_back(line);
    EXPECT_FALSE(reader.failed());
    EXPECT_EQ(read, whole);
  }
  RegFileLineReader notReg;
  std::ofstream(dir.path() / "no.reg", std::ios::binary) << "REGEDIT5\r\n";
  EXPECT_FALSE(notReg.open(dir.path() / "no.reg"));
}

// A version-5 file saved as UTF-8 reads the same a piece at a time, a
// character cut by the boundary included, in the UTF-8 code page and another.
TEST(RegFileParserTest, TheLineReaderReadsVersion5SavedAsUtf8) {
  testsupport::TempDir dir;
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  std::string bytes = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n\"v\"=\"";
  // The reader takes 74 bytes first, then whole pieces: the euro sign's
  // three bytes straddle the first boundary.
  while (bytes.size() < 74 + kPiece - 1) bytes += 'x';
  bytes += "\xE2\x82\xAC\"\r\n\xC3\xBC";
  const auto file = dir.path() / "u.reg";
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  for (const unsigned page : {platform::kCodePageUtf8, 1252u}) {
    SCOPED_TRACE(page);
    platform::setActiveCodePage(page);
    std::vector<std::string> whole;
    RegFileVersion version = RegFileVersion::unknown;
    ASSERT_TRUE(ReadRegFileLines(bytes, whole, version));
    RegFileLineReader reader;
    ASSERT_TRUE(reader.open(file));
    EXPECT_EQ(reader.version(), RegFileVersion::v5);
    std::vector<std::string> read;
    for (std::string line; reader.next(line);) read.push_back(line);
    EXPECT_EQ(read, whole);
    ASSERT_EQ(whole.size(), 4u);
    EXPECT_EQ(whole[3], page == 1252u ? "\xFC" : "\xC3\xBC");
    const std::string euroAndQuote = page == 1252u ? "\x80\"" : "\xE2\x82\xAC\"";
    EXPECT_EQ(whole[2].substr(whole[2].size() - euroAndQuote.size() - 1), "x" + euroAndQuote);
  }
  platform::setActiveCodePage(platform::kCodePageUtf8);
}

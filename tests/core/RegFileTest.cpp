// .reg export and import against the registry store: a fixture key with one
// value of every kind, exported in both versions and imported back; the import
// cases that need a registry; events of a reader that only reports.

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <fstream>
#include <iterator>
#include <tuple>

#include "core/bwlRegTools.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "tests/core/RegistryFixture.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using namespace platform;

namespace {

using Bytes = std::vector<std::uint8_t>;

void writeFile(const std::filesystem::path& p, std::string_view bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string utf16Le(std::string_view utf8) {
  std::string out;
  WriteRegFileText(utf8, out, true);
  return out;
}

class RegFileTest : public RegistryFixture {
protected:
  void SetUp() override { setActiveCodePage(kCodePageUtf8); }

  static void put(const std::string& path, const std::string& name, std::uint32_t type, const Bytes& data) {
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(path, true)) << path;
    reg.writeRawValue(name, type, data);
  }

  // One value of every kind, in this stored order, and a sub-key.
  static void makeFixture(const std::string& path) {
    Bytes thirty(30);
    for (std::size_t i = 0; i < thirty.size(); ++i) thirty[i] = static_cast<std::uint8_t>(i + 1);
    put(path, "", REG_SZ, testsupport::utf16z(u"default"));
    put(path, "q\"uote\\back", REG_SZ, testsupport::utf16z(u"say \"hi\" C:\\dir\\"));
    put(path, "Empty", REG_SZ, testsupport::utf16z(u""));
    put(path, "Dword", REG_DWORD, {0xFF, 0, 0, 0});
    put(path, "Qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    put(path, "Expand", REG_EXPAND_SZ, testsupport::utf16z(u"%x%"));
    put(path, "Multi", REG_MULTI_SZ, testsupport::utf16z(std::u16string_view(u"a\0b\0", 4)));
    put(path, "Big", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 10});
    put(path, "None", REG_NONE, {});
    put(path, "EmptyBin", REG_BINARY, {});
    put(path, "Data", REG_BINARY, thirty);
    put(path, "Custom", 0x1234, {1, 2});
    put(path, "a=b", REG_SZ, testsupport::utf16z(u"equals"));
    put(path + "\\Sub", "x", REG_DWORD, {1, 0, 0, 0});
  }

  // The fixture's text, line by line, as the rules give it.
  static std::vector<std::string> fixtureLines(const std::string& section) {
    return {
        "REGEDIT4",
        "",
        "[" + section + "]",
        "@=\"default\"",
        "\"q\\\"uote\\\\back\"=\"say \\\"hi\\\" C:\\\\dir\\\\\"",
        "\"Empty\"=\"\"",
        "\"Dword\"=dword:000000ff",
        "\"Qword\"=hex(B):01,02,03,04,05,06,07,08",
        "\"Expand\"=hex(2):25,78,25,00",
        "\"Multi\"=hex(7):61,00,62,00,00",
        "\"Big\"=hex(5):00,00,00,0a",
        "\"None\"=hex(0):",
        "\"EmptyBin\"=hex:",
        "\"Data\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\",
        "  17,18,19,1a,1b,1c,1d,1e",
        "\"Custom\"=hex(1234):01,02",
        "\"a=b\"=\"equals\"",
        "",
        "[" + section + "\\Sub]",
        "\"x\"=dword:00000001",
        "",
    };
  }

  static std::string joinCrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    return text;
  }
};

TEST_F(RegFileTest, FixtureExportsToTheExactTextInBothVersions) {
  const std::string path = testKey("Fix");
  makeFixture(path);
  testsupport::TempDir dir;

  ExportRegistryKeyToFile(HKEY_CURRENT_USER, path, dir / "v4.reg", false, Is64Flag::no, true);
  const std::string v4 = testsupport::readFileText(dir / "v4.reg");
  const std::vector<std::string> expected = fixtureLines("HKEY_CURRENT_USER" + path);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = v4.find("\r\n", start)) != std::string::npos; start = at + 2) {
    lines.push_back(v4.substr(start, at - start));
  }
  EXPECT_EQ(start, v4.size()) << "the text ends in CR LF";
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines[i], expected[i]);
  }

  // Version 5: FF FE, then the same text in UTF-16LE except the header and the
  // string-kind lists, which are UTF-16LE bytes.
  ExportRegistryKeyToFile(HKEY_CURRENT_USER, path, dir / "v5.reg", true, Is64Flag::no, true);
  std::vector<std::string> expected5 = expected;
  expected5[0] = "Windows Registry Editor Version 5.00";
  expected5[8] = "\"Expand\"=hex(2):25,00,78,00,25,00,00,00";
  expected5[9] = "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00";
  const std::string v5 = testsupport::readFileText(dir / "v5.reg");
  EXPECT_EQ(v5, "\xFF\xFE" + utf16Le(joinCrLf(expected5)));
  EXPECT_EQ(v5.substr(0, 6), std::string("\xFF\xFE\x57\x00\x69\x00", 6));
  EXPECT_EQ(v5.substr(v5.size() - 4), std::string("\x0D\x00\x0A\x00", 4));
}

// An export larger than the pieces the exporter converts and writes at once
// (and than its writer thread holds) gives the text the rules give, unit by
// unit converted, with non-ASCII names and data scattered through it, in the
// UTF-8 code page and in another.
TEST_F(RegFileTest, LargeExportsAreTheTextOfTheirUnits) {
  const std::string path = testKey("Large");
  struct Value {
    std::u16string name;
    std::uint32_t type;
    Bytes data;
  };
  struct Key {
    std::u16string name;
    std::vector<Value> values;
  };
  std::vector<Key> keys;
  for (int k = 0; k < 40; ++k) {
    char16_t name[8] = {u'k', char16_t(u'0' + k / 10), char16_t(u'0' + k % 10), 0};
    Key key{name, {}};
    for (int v = 0; v < 26; ++v) {
      Bytes blob(997 + v);
      for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(i * 7 + k + v);
      const char16_t id[] = {u'v', char16_t(u'a' + v), 0};
      key.values.push_back({id, REG_BINARY, blob});
    }
    if (k % 7 == 3) {
      key.values.push_back({u"caf\u00e9 \\\"", REG_SZ, testsupport::utf16z(u"\u20ac and \"q\" C:\\x")});
      key.values.push_back({u"exp\u00e9", REG_EXPAND_SZ, testsupport::utf16z(u"%P%\\\u00e9")});
      key.values.push_back({u"multi", REG_MULTI_SZ, testsupport::utf16z(std::u16string_view(u"\u00e9\0b\0", 4))});
    }
    keys.push_back(std::move(key));
  }
  keys.push_back({u"\u00e9t\u00e9", {{u"x", REG_DWORD, {1, 0, 0, 0}}}});
  keys.push_back({u"\u20ac", {}});

  HKEY base = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.substr(1).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &base,
                            nullptr),
            ERROR_SUCCESS);
  for (const Key& key : keys) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(base, key.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    for (const Value& v : key.values) {
      ASSERT_EQ(RegSetValueExW(k, v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size())),
                ERROR_SUCCESS);
    }
    RegCloseKey(k);
  }
  RegCloseKey(base);

  testsupport::TempDir dir;
  for (const unsigned codePage : {kCodePageUtf8, 1252u}) {
    setActiveCodePage(codePage);
    for (const bool unicode : {false, true}) {
      SCOPED_TRACE(testing::Message() << "code page " << codePage << ", version " << (unicode ? 5 : 4));
      // The units as the rules give them, each converted on its own.
      const std::string section = "HKEY_CURRENT_USER" + path;
      std::vector<std::string> units = {std::string(unicode ? kRegFileHeader5 : kRegFileHeader4) + "\r\n",
                                        "\r\n[" + section + "]\r\n"};
      for (const Key& key : keys) {
        units.push_back("\r\n[" + section + "\\" + wideToAnsi(key.name) + "]\r\n");
        for (const Value& v : key.values) {
          units.push_back(FormatRegValueLine(wideToAnsi(v.name), v.type, v.data, unicode) + "\r\n");
        }
      }
      units.push_back("\r\n");
      // A version-4 file is in the Windows code page; the text in memory in the active one.
      std::string expected = unicode ? "\xFF\xFE" : "";
      std::string expectedText;
      for (const std::string& unit : units) {
        WriteRegFileText(unit, expectedText, unicode);
        if (unicode) WriteRegFileText(unit, expected, true);
        else AppendRegFile4Bytes(unit, expected);
      }
      ASSERT_GT(expected.size(), std::size_t(3) << 20);

      const auto file = dir / "large.reg";
      ExportRegistryKeyToFile(HKEY_CURRENT_USER, path, file, unicode, Is64Flag::no, true);
      const std::string got = testsupport::readFileText(file);
      ASSERT_EQ(got.size(), expected.size());
      EXPECT_TRUE(got == expected) << "first difference at byte "
                                   << std::mismatch(got.begin(), got.end(), expected.begin()).first - got.begin();
      // The text in memory is the file's between its header and final CR LF.
      std::string text;
      ExportRegistryKey(HKEY_CURRENT_USER, path, text, unicode, Is64Flag::no);
      std::string header = unicode ? "\xFF\xFE" : "";
      WriteRegFileText(units.front(), header, unicode);
      std::string tail;
      WriteRegFileText("\r\n", tail, unicode);
      EXPECT_TRUE(header + text + tail == (unicode ? expected : expectedText));
    }
  }
  setActiveCodePage(kCodePageUtf8);
}

TEST_F(RegFileTest, NonAsciiTextIsRealUtf16InVersion5) {
  const std::string path = testKey("Uni");
  put(path, "\xC3\xA9t\xC3\xA9", REG_SZ, testsupport::utf16z(u"\u20ac\U0001F600"));
  std::string out;
  ExportRegistryKey(HKEY_CURRENT_USER, path, out, true, Is64Flag::no);
  EXPECT_NE(out.find(utf16Le("\"\xC3\xA9t\xC3\xA9\"=\"\xE2\x82\xAC\xF0\x9F\x98\x80\"")), std::string::npos);
  out.clear();
  ExportRegistryKey(HKEY_CURRENT_USER, path, out, false, Is64Flag::no);
  // Version 4 holds the name in the Windows code page, the data (beyond it)
  // as its stored bytes.
  EXPECT_NE(out.find("\"\xC3\xA9t\xC3\xA9\"=hex(1):ac,20,3d,d8,00,de,00,00"), std::string::npos);
}

TEST_F(RegFileTest, ExportFileCases) {
  makeFixture(testKey("Fix"));
  testsupport::TempDir dir;
  const HKEY two[] = {HKEY_CURRENT_USER, HKEY_CURRENT_USER};
  const std::string one[] = {testKey("Fix")};
  ExportRegistryKeysToFile(two, one, dir / "none.reg", false, Is64Flag::no, true);
  EXPECT_FALSE(std::filesystem::exists(dir / "none.reg"));

  // A path without its leading backslash and with a doubled one is cleaned.
  ExportRegistryKeyToFile(HKEY_CURRENT_USER, "Software\\\\HivescopeTests\\Fix\\", dir / "clean.reg", false,
                          Is64Flag::no, false);
  const std::string clean = testsupport::readFileText(dir / "clean.reg");
  EXPECT_TRUE(clean.starts_with("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\HivescopeTests\\Fix]\r\n@=")) << clean;
  EXPECT_EQ(clean.find("\\Sub]"), std::string::npos) << "not recursive";

  // "\" is the whole root.
  ExportRegistryKeyToFile(HKEY_CURRENT_USER, "\\", dir / "root.reg", false, Is64Flag::no, true);
  const std::string root = testsupport::readFileText(dir / "root.reg");
  EXPECT_TRUE(root.starts_with("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER]\r\n")) << root.substr(0, 80);
  EXPECT_NE(root.find("[HKEY_CURRENT_USER\\Software\\HivescopeTests\\Fix\\Sub]\r\n"), std::string::npos);

  // A key that does not open keeps its section alone; an empty path is skipped.
  const HKEY roots[] = {HKEY_CURRENT_USER, HKEY_CURRENT_USER};
  const std::string paths[] = {"\\Software\\HivescopeTests\\Missing", ""};
  ExportRegistryKeysToFile(roots, paths, dir / "missing.reg", false, Is64Flag::no, true);
  EXPECT_EQ(testsupport::readFileText(dir / "missing.reg"),
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\HivescopeTests\\Missing]\r\n\r\n");

  EXPECT_THROW(ExportRegistryKeyToFile(HKEY_CURRENT_USER, "\\x", dir / "no" / "such" / "dir.reg", false,
                                       Is64Flag::no, true),
               std::runtime_error);
}

TEST_F(RegFileTest, ExportOfChosenValues) {
  makeFixture(testKey("Fix"));
  std::string out;
  const std::string names[] = {"Dword", "Gone", ""};
  ExportRegistryValues(HKEY_CURRENT_USER, testKey("Fix"), names, out, false, Is64Flag::no);
  EXPECT_EQ(out,
            "\r\n[HKEY_CURRENT_USER\\Software\\HivescopeTests\\Fix]\r\n"
            "\"Dword\"=dword:000000ff\r\n"
            "// the value \"\"Gone\"\" does not exist\r\n"
            "@=\"default\"\r\n");

  MemoryStream stream;
  const std::uint8_t ten[] = {10, 0, 0, 0};
  stream.Write(ten, sizeof ten);
  std::vector<std::string> list;
  StreamToRegFileLine(stream, "Count", rdInteger, list);
  StreamToRegFileLine(stream, "Count", rdNone, list);
  EXPECT_EQ(list, (std::vector<std::string>{"\"Count\"=dword:0000000a", "\"Count\"=hex(0):0a,00,00,00"}));
}

TEST_F(RegFileTest, ExportedFixtureImportsBackToTheSameValues) {
  const std::string path = testKey("Fix");
  makeFixture(path);
  // Every value comes back, REG_NONE and the unknown type number included.
  const auto original = walk(HKEY_CURRENT_USER, path);
  testsupport::TempDir dir;
  for (const bool unicode : {false, true}) {
    SCOPED_TRACE(unicode ? "v5" : "v4");
    DeleteRegistryKey(HKEY_CURRENT_USER, path, ViewByte::v32);
    makeFixture(path);
    ExportRegistryKeyToFile(HKEY_CURRENT_USER, path, dir / "x.reg", unicode, Is64Flag::no, true);
    ASSERT_TRUE(DeleteRegistryKey(HKEY_CURRENT_USER, path, ViewByte::v32));
    ASSERT_TRUE(ImportRegFile(dir / "x.reg"));
    EXPECT_EQ(walk(HKEY_CURRENT_USER, path), original);
    // Exporting again gives the same text.
    ExportRegistryKeyToFile(HKEY_CURRENT_USER, path, dir / "again.reg", unicode, Is64Flag::no, true);
    EXPECT_EQ(testsupport::readFileText(dir / "again.reg"), testsupport::readFileText(dir / "x.reg"));
  }
}

TEST_F(RegFileTest, ImportCases) {
  const std::string section = "[HKEY_CURRENT_USER\\Software\\HivescopeTests\\Imp]";
  put(testKey("Imp\\Old\\Deep"), "v", REG_SZ, testsupport::utf16z(u"old"));
  put(testKey("Imp"), "", REG_SZ, testsupport::utf16z(u"old default"));
  put(testKey("Imp"), "gone", REG_SZ, testsupport::utf16z(u"old"));
  put(testKey("Imp"), "gone2", REG_SZ, testsupport::utf16z(u"old"));
  testsupport::TempDir dir;
  const std::string text = "REGEDIT4\r\n\r\n" + section + "\r\n" +
                           "@=-\r\n"
                           "\"gone\"=-\r\n"
                           "-\"gone2\"\r\n"
                           "\"@\"=\"named at\"\r\n"
                           "\"path\"=\"C:\\\\Temp\\\\\"\r\n"
                           "\"le\"=hex(4):01,00,00,00\r\n"
                           "\"q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                           "\"m4\"=hex(7):61,00,62,00,00\r\n"
                           "\"bin\"=hex:01,02,\\\r\n  03,\\\r\n// comment\r\n  04\r\n"
                           "\"bad\"=hex:01,zz\r\n"
                           "\"baddword\"=dword:123456789\r\n"
                           "\"none\"=hex(0):01\r\n"
                           "\"dev\"=hex(ffff0011):01,02,03\r\n"
                           "\"x=y\"=dword:00000002\r\n"
                           "[-HKEY_CURRENT_USER\\Software\\HivescopeTests\\Imp\\Old]\r\n"
                           "\"skipped\"=\"after a deletion\"\r\n"
                           "[HKEY_CURRENT_USER\\Software\\HivescopeTests\\Imp\\New\r\n"
                           "\"skipped2\"=\"no bracket: still the deleted section\"\r\n"
                           "[NOROOT\\x]\r\n"
                           "\"skipped3\"=\"unknown root\"\r\n";
  writeFile(dir / "in.reg", text);
  // Two malformed value lines and an unknown root: read, but not complete.
  RegImportFailures failures;
  ASSERT_TRUE(ImportRegFile(dir / "in.reg", failures));
  EXPECT_EQ(failures.unusableValues, 2u);
  EXPECT_EQ(failures.sections, 1u);
  EXPECT_FALSE(ImportRegFile(dir / "in.reg")) << "the one-call import reports what it could not write";

  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly(testKey("Imp")));
  EXPECT_FALSE(reg.ValueExists(""));
  EXPECT_FALSE(reg.ValueExists("gone"));
  EXPECT_FALSE(reg.ValueExists("gone2"));
  EXPECT_EQ(reg.ReadString("@"), "named at");
  EXPECT_EQ(reg.ReadString("path"), "C:\\Temp\\");
  EXPECT_EQ(reg.ReadInteger("le"), 1);
  EXPECT_EQ(reg.ReadInt64("q"), 1);
  EXPECT_EQ(reg.ReadMultiString("m4"), "a\r\nb\r\n");
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_TRUE(reg.readRawValue("bin", type, data));
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(data, (Bytes{1, 2, 3, 4}));
  EXPECT_FALSE(reg.ValueExists("bad"));
  EXPECT_FALSE(reg.ValueExists("baddword"));
  // REG_NONE and a type number without a kind keep their exact bytes.
  for (const auto& [name, rawType, bytes] : {std::tuple{"none", 0u, Bytes{1}}, std::tuple{"dev", 0xffff0011u, Bytes{1, 2, 3}}}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(reg.readRawValue(name, type, data));
    EXPECT_EQ(type, rawType);
    EXPECT_EQ(data, bytes);
  }
  EXPECT_EQ(reg.ReadInteger("x=y"), 2);
  EXPECT_FALSE(reg.ValueExists("skipped"));
  EXPECT_FALSE(reg.KeyExists("Old"));
  EXPECT_FALSE(reg.KeyExists("New"));
}

TEST_F(RegFileTest, HeadersDecideWhatIsRead) {
  testsupport::TempDir dir;
  const std::string body = "\r\n[HKEY_CURRENT_USER\\Software\\HivescopeTests\\H]\r\n\"v\"=\"1\"\r\n";
  struct Case {
    const char* label;
    std::string bytes;
    bool read;
  };
  const Case cases[] = {
      {"version 4", "REGEDIT4\r\n" + body, true},
      {"version 5", "\xFF\xFE" + utf16Le("Windows Registry Editor Version 5.00\r\n" + body), true},
      {"version 5 without its mark", "Windows Registry Editor Version 5.00\r\n" + body, false},
      {"mark with another first line", "\xFF\xFE" + utf16Le("REGEDIT5\r\n" + body), false},
      {"wrong first line", "[HKEY_CURRENT_USER\\x]\r\n" + body, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    DeleteRegistryKey(HKEY_CURRENT_USER, testKey("H"), ViewByte::v32);
    writeFile(dir / "h.reg", c.bytes);
    EXPECT_EQ(ImportRegFile(dir / "h.reg"), c.read);
    EXPECT_EQ(RegistryValueExists(HKEY_CURRENT_USER, testKey("H"), "v", ViewByte::v32), c.read);
  }
  EXPECT_FALSE(ImportRegFile(dir / "absent.reg"));
}

TEST_F(RegFileTest, AReaderThatOnlyReportsFiresItsEvents) {
  TMyRegistryReader reader;
  reader.FKeepDWordText = false;
  std::vector<std::string> seen;
  int progress = 0;
  reader.OnKey = [&](HKEY root, const std::string& path, bool deleted) {
    seen.push_back(RootKeyToShortName(root) + path + (deleted ? " deleted" : ""));
  };
  reader.OnValue = [&](HKEY, const std::string& path, bool deleted, const std::string& raw, const std::string& text,
                       TRegDataType kind, const std::string& name) {
    seen.push_back(path + "|" + name + "|" + raw + "|" + text + "|" + RegDataTypeToStr(kind) +
                   (deleted ? " deleted" : ""));
  };
  reader.OnProgress = [&](int line, int last) {
    EXPECT_EQ(line, progress + 1);
    EXPECT_EQ(last, 6);
    ++progress;
  };
  reader.ImportStrings({"REGEDIT4", "", "[HKCU\\k]", "\"n\"=dword:000000ff", "\"s\"=\"a\\\\b\"", "[-HKLM\\d]",
                        "\"x\"=-"});
  EXPECT_EQ(progress, 6);
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "HKCU\\k",
                      "\\k|n|dword:000000ff|255|REG_DWORD",
                      "\\k|s|\"a\\b\"|a\\b|REG_SZ",
                      "HKLM\\d deleted",
                      "\\d|x|-|-|REG_NONE deleted",
                  }));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, "\\k", ViewByte::v32)) << "nothing is written";
}

}  // namespace

namespace {

// A delete section whose path names no key of its own (empty after the root,
// a final backslash, a NUL) deletes nothing and is a reported failure: cut at
// the NUL or the backslash it would name the parent, and that tree was gone.
TEST_F(RegFileTest, DeleteSectionsThatNameNoKeyOfTheirOwnDeleteNothing) {
  testsupport::TempDir dir;
  const std::string keep = "HKEY_CURRENT_USER\\Software\\HivescopeTests\\Keep";
  const char* const sections[] = {
      "[-HKEY_CURRENT_USER\\Software\\HivescopeTests\\Keep\\\\]",
      "[-HKEY_CURRENT_USER\\Software\\HivescopeTests\\Keep\\]",
      "[-HKEY_CURRENT_USER\\Software\\HivescopeTests\\Keep\\Child\\]",
      "[-HKEY_CURRENT_USER]",
      "[-HKEY_CURRENT_USER\\]",
  };
  std::vector<std::string> cases(std::begin(sections), std::end(sections));
  cases.push_back("[-" + keep + "\\Child" + '\0' + "x]");
  cases.push_back("[-" + keep + '\0' + "]");
  for (const bool unicode : {false, true}) {
    for (const std::string& section : cases) {
      SCOPED_TRACE(std::string(unicode ? "v5 " : "v4 ") + section);
      put(testKey("Keep\\Child\\Deep"), "v", REG_DWORD, {1, 0, 0, 0});
      put(testKey("Keep"), "w", REG_DWORD, {2, 0, 0, 0});
      const auto before = walk(HKEY_CURRENT_USER, "\\Software");
      const std::string text = std::string(unicode ? kRegFileHeader5 : kRegFileHeader4) + "\r\n\r\n" + section +
                               "\r\n\"after\"=dword:00000001\r\n";
      writeFile(dir / "d.reg", unicode ? "\xFF\xFE" + utf16Le(text) : text);
      RegImportFailures failures;
      ASSERT_TRUE(ImportRegFile(dir / "d.reg", failures));
      EXPECT_EQ(failures.sections, 1u);
      EXPECT_EQ(failures.firstError, "The specified path is invalid.");
      EXPECT_FALSE(ImportRegFile(dir / "d.reg"));
      EXPECT_EQ(walk(HKEY_CURRENT_USER, "\\Software"), before);
    }
  }
  // A sound delete section still deletes its key and only that.
  writeFile(dir / "d.reg", "REGEDIT4\r\n\r\n[-" + keep + "\\Child]\r\n");
  EXPECT_TRUE(ImportRegFile(dir / "d.reg"));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, testKey("Keep\\Child"), ViewByte::v32));
  EXPECT_TRUE(RegistryValueExists(HKEY_CURRENT_USER, testKey("Keep"), "w", ViewByte::v32));
}

// Names with double quotes, backslashes and "=" come back under their own
// name; a version-4 file is read in the Windows code page whatever the
// locale, and a version-5 file saved as UTF-8 with its mark is read too.
TEST_F(RegFileTest, NamesAndTextTravelExactlyWhateverTheLocale) {
  const char* const oldLocale = std::setlocale(LC_ALL, nullptr);
  const std::string savedLocale = oldLocale ? oldLocale : "C";
  std::setlocale(LC_ALL, "C.UTF-8");
  testsupport::TempDir dir;
  const std::string path = testKey("Names");
  for (const char* name : {"double\"quote", "a\"=b", "back\\", "\"=\"=\"", "\\\"", "Gr\xC3\xBC\xC3\x9F" "e"}) {
    put(path, name, REG_SZ, testsupport::utf16z(u"v"));
  }
  put(path, "zero-expand", REG_EXPAND_SZ, {});
  put(path, "zero-multi", REG_MULTI_SZ, {});
  put(path, "zero-string", REG_SZ, {});
  const auto original = walk(HKEY_CURRENT_USER, path);
  for (const bool unicode : {false, true}) {
    SCOPED_TRACE(unicode ? "v5" : "v4");
    ExportRegistryKeyToFile(HKEY_CURRENT_USER, path, dir / "n.reg", unicode, Is64Flag::no, true);
    ASSERT_TRUE(DeleteRegistryKey(HKEY_CURRENT_USER, path, ViewByte::v32));
    ASSERT_TRUE(ImportRegFile(dir / "n.reg"));
    EXPECT_EQ(walk(HKEY_CURRENT_USER, path), original);
  }
  // As Windows writes a version-4 file: Western bytes.
  ASSERT_TRUE(DeleteRegistryKey(HKEY_CURRENT_USER, path, ViewByte::v32));
  writeFile(dir / "w.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\HivescopeTests\\Gr\xFC\xDF" "e]\r\n"
                           "\"Gr\xFC\xDF" "e\"=\"Gr\xFC\xDF" "e \x80\"\r\n\"x\"=hex(2):fc,00\r\n");
  ASSERT_TRUE(ImportRegFile(dir / "w.reg"));
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly(testKey("Gr\xC3\xBC\xC3\x9F" "e")));
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_TRUE(reg.readRawValue("Gr\xC3\xBC\xC3\x9F" "e", type, data));
  EXPECT_EQ(data, testsupport::utf16z(u"Gr\u00fc\u00dfe \u20ac"));
  ASSERT_TRUE(reg.readRawValue("x", type, data));
  EXPECT_EQ(data, testsupport::utf16z(u"\u00fc"));
  // Version 5 as UTF-8 with its mark.
  writeFile(dir / "u.reg", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\HivescopeTests\\U]\r\n\"\xC3\xBC\"=\"\xE2\x82\xAC\"\r\n");
  ASSERT_TRUE(ImportRegFile(dir / "u.reg"));
  ASSERT_TRUE(reg.OpenKeyReadOnly(testKey("U")));
  ASSERT_TRUE(reg.readRawValue("\xC3\xBC", type, data));
  EXPECT_EQ(data, testsupport::utf16z(u"\u20ac"));
  std::setlocale(LC_ALL, savedLocale.c_str());
}

}  // namespace

// .reg export and import on mounted hive files, checked against other
// programs: the line wrapping against `reged -x` (chntpw), the import against
// `hivexregedit --merge`, and a real hive through export, import into an
// empty hive and export again. The comparisons skip when the program or the
// test data is missing.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <sys/resource.h>

#include "core/bwlRegTools.h"
#include "platform/Kernel.h"
#include "platform/hive/HiveFormat.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/Text.h"
#include "platform/hive/HiveFile.h"
#include "tests/support/Files.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

using namespace platform;

namespace {

using Bytes = std::vector<std::uint8_t>;


bool haveProgram(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The hex-list values of a .reg text (8-bit, CR LF or LF), each with its
// physical lines, by section and name field. The type digit is lower-cased.
std::map<std::string, std::vector<std::string>> hexValues(const std::string& text) {
  std::map<std::string, std::vector<std::string>> out;
  static const std::regex valueLine(R"(^(@|".*?")=hex(\([0-9a-fA-F]\))?:)");
  std::istringstream in(text);
  std::string line, section;
  std::vector<std::string>* open = nullptr;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (open) {
      open->push_back(line);
      if (line.empty() || line.back() != '\\') open = nullptr;
      continue;
    }
    if (line.starts_with("[")) {
      section = line;
      continue;
    }
    std::smatch m;
    if (!std::regex_search(line, m, valueLine)) continue;
    const auto typeAt = line.find("=hex(");
    if (typeAt == static_cast<std::size_t>(m.length(1))) {
      line[typeAt + 5] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[typeAt + 5])));
    }
    auto& lines = out[section + "|" + m.str(1)];
    lines.push_back(line);
    if (line.back() == '\\') open = &lines;
  }
  return out;
}

// Every key and value of a mounted hive, with its stored type and bytes.
struct HiveEntry {
  std::uint32_t type = 0;
  Bytes data;
};
void walkHive(const TMyRegistry& parent, const std::string& path, std::map<std::string, HiveEntry>& out, int depth) {
  ASSERT_LT(depth, 100);
  TMyRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKeyReadOnly(path)) << path;
  (void)parent;
  std::vector<std::string> names;
  reg.GetValueNames(names);
  for (const auto& n : names) {
    HiveEntry e;
    ASSERT_TRUE(reg.readRawValue(n, e.type, e.data)) << path << " " << n;
    out[path.substr(path.find('\\', 1)) + "|" + n] = std::move(e);
  }
  std::vector<std::string> keys;
  reg.GetKeyNames(keys);
  for (const auto& k : keys) walkHive(reg, path + "\\" + k, out, depth + 1);
  out[path.substr(std::min(path.size(), path.find('\\', 1))) + "|<key>"] = {};
}

class RegFileHiveTest : public ::testing::Test {
protected:
  void SetUp() override {
    setActiveCodePage(kCodePageUtf8);
    ASSERT_TRUE(testsupport::setRestorePrivilege(true));
    // The walks read every key of real hives, SYSTEM-only ones included.
    ASSERT_TRUE(testsupport::setBackupPrivilege(true));
  }
  void TearDown() override {
    for (const auto& name : mounted_) RegUnLoadKeyA(HKEY_LOCAL_MACHINE, name.c_str());
    testsupport::setRestorePrivilege(false);
    testsupport::setBackupPrivilege(false);
  }

  std::filesystem::path emptyHive(const std::string& name) {
    const auto path = dir_ / name;
    auto hive = hive::HiveFile::createEmpty();
    EXPECT_TRUE(hive);
    EXPECT_TRUE((*hive)->saveAs(path));
    return path;
  }

  void mount(const std::string& name, const std::filesystem::path& file) {
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, name.c_str(), file.c_str()), ERROR_SUCCESS) << file;
    mounted_.push_back(name);
  }
  void unmount(const std::string& name) {
    ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, name.c_str()), ERROR_SUCCESS);
    std::erase(mounted_, name);
  }

  static void put(const std::string& path, const std::string& name, std::uint32_t type, const Bytes& data) {
    TMyRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(path, true)) << path;
    reg.writeRawValue(name, type, data);
  }

  // Imports `file` into a new empty hive mounted as \TEMPHIVE in place of
  // `mountedFile`, walks it (and exports it again to `again` when given), and
  // mounts `mountedFile` back.
  std::map<std::string, HiveEntry> importIntoEmpty(const std::filesystem::path& file, const std::string& copyName,
                                                   const std::filesystem::path& mountedFile,
                                                   const std::filesystem::path& again = {}, bool unicode = false) {
    std::map<std::string, HiveEntry> after;
    const auto copy = emptyHive(copyName);
    unmount("TEMPHIVE");
    mount("TEMPHIVE", copy);
    EXPECT_TRUE(ImportRegFile(file));
    walkHive(TMyRegistry(), "\\TEMPHIVE", after, 0);
    if (!again.empty()) ExportRegistryKeyToFile(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", again, unicode, Is64Flag::no, true);
    unmount("TEMPHIVE");
    mount("TEMPHIVE", mountedFile);
    return after;
  }

  // Every key and value of `before` in `after` with its type and bytes.
  static void expectSameValues(const std::map<std::string, HiveEntry>& before,
                               const std::map<std::string, HiveEntry>& after) {
    EXPECT_EQ(after.size(), before.size());
    for (const auto& [name, entry] : before) {
      const auto it = after.find(name);
      ASSERT_NE(it, after.end()) << name;
      EXPECT_EQ(it->second.type, entry.type) << name;
      EXPECT_EQ(it->second.data, entry.data) << name;
    }
  }

  testsupport::TempRegistry registry_;
  testsupport::TempDir dir_;
  std::vector<std::string> mounted_;
};

TEST_F(RegFileHiveTest, HexWrappingMatchesReged) {
  if (!haveProgram("reged")) GTEST_SKIP() << "reged (chntpw) is not installed";
  const auto file = emptyHive("wrap.hive");
  mount("TEMPHIVE", file);
  const std::string key = "\\TEMPHIVE\\Wrap";
  // reged writes a value without data with no line end: none here.
  for (const std::size_t n : {1, 21, 22, 23, 30, 47, 48, 100, 333, 1000, 4096}) {
    Bytes data(n);
    for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    put(key, "Bin" + std::to_string(n), REG_BINARY, data);
    put(key, "N" + std::string(n % 40, 'x'), REG_BINARY, data);
    put(key, "Big" + std::to_string(n), REG_DWORD_BIG_ENDIAN, data);
  }
  put(key, "", REG_BINARY, Bytes(50, 0xAB));
  put(key, "Q", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
  put(key, "R", REG_RESOURCE_REQUIREMENTS_LIST, Bytes(200, 0x11));
  put(key, "Exp", REG_EXPAND_SZ, testsupport::utf16z(u"%SystemRoot%\\system32\\some\\rather\\long\\path\\file.dll"));
  put(key, "Multi", REG_MULTI_SZ,
      testsupport::utf16z(std::u16string_view(u"first string\0second string\0a third, longer string\0", 51)));
  unmount("TEMPHIVE");

  // reged reads the unmounted file; our export reads it mounted again.
  const auto regedOut = dir_ / "reged.reg";
  const std::string cmd = "reged -x " + testsupport::shellQuote(file.string()) + " 'HKEY_LOCAL_MACHINE\\TEMPHIVE' '\\Wrap' " +
                          testsupport::shellQuote(regedOut.string()) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  mount("TEMPHIVE", file);
  std::string ours;
  ExportRegistryKey(HKEY_LOCAL_MACHINE, key, ours, true, Is64Flag::no);
  // Version 5 text as 8-bit, to set beside reged's (which writes 8-bit text).
  std::u16string wide(ours.size() / 2, u'\0');
  for (std::size_t i = 0; i < wide.size(); ++i) {
    wide[i] = static_cast<char16_t>(static_cast<unsigned char>(ours[2 * i]) |
                                    (static_cast<unsigned char>(ours[2 * i + 1]) << 8));
  }
  const auto mine = hexValues(wideToAnsi(wide));
  const auto theirs = hexValues(testsupport::readFileText(regedOut));
  ASSERT_FALSE(mine.empty());
  std::size_t compared = 0;
  for (const auto& [name, lines] : mine) {
    SCOPED_TRACE(name);
    const auto it = theirs.find(name);
    ASSERT_NE(it, theirs.end());
    // reged keeps writing past the wrap column after a name that reaches it
    // by itself; the rule here breaks after the first byte. Only names that
    // leave room are compared.
    if (name.size() - name.find('|') > 60) continue;
    EXPECT_EQ(lines, it->second);
    ++compared;
  }
  EXPECT_GE(compared, 30u);
}

// REG_NONE and type numbers without a kind, in a hive made through the
// engine: both versions write them as hex(N) with their bytes and import
// them back; hivexregedit merges our text to the same values (as reglookup
// reads them), and its own export imports back to them.
TEST_F(RegFileHiveTest, ValuesOfNoKindTravelBothWays) {
  const auto made = emptyHive("made.hive");
  mount("TEMPHIVE", made);
  const std::map<std::string, HiveEntry> values = {
      {"n0", {0, {}}}, {"n3", {0, {1, 2, 3}}}, {"d", {0xffff0011u, {1, 2, 3}}}, {"o", {0x1f4, {9}}}};
  for (const auto& [name, entry] : values) put("\\TEMPHIVE\\K", name, entry.type, entry.data);
  std::map<std::string, HiveEntry> before;
  walkHive(TMyRegistry(), "\\TEMPHIVE", before, 0);
  for (const bool unicode : {false, true}) {
    SCOPED_TRACE(unicode ? "v5" : "v4");
    const auto file = dir_ / (unicode ? "x5.reg" : "x4.reg");
    ExportRegistryKeyToFile(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", file, unicode, Is64Flag::no, true);
    const std::string text = testsupport::readFileText(file);
    for (const char* line : {"\"d\"=hex(ffff0011):01,02,03\r\n", "\"n0\"=hex(0):\r\n", "\"n3\"=hex(0):01,02,03\r\n",
                             "\"o\"=hex(1f4):09\r\n"}) {
      std::string encoded;
      WriteRegFileText(line, encoded, unicode);
      EXPECT_NE(text.find(encoded), std::string::npos) << line;
    }
    expectSameValues(before, importIntoEmpty(file, unicode ? "copy5.hive" : "copy4.hive", made));
  }
  unmount("TEMPHIVE");
  if (!haveProgram("hivexregedit") || !haveProgram("reglookup")) {
    GTEST_SKIP() << "hivexregedit (libwin-hivex-perl) or reglookup is not installed";
  }
  const auto theirs = emptyHive("theirs.hive");
  const std::string merge = "hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\\TEMPHIVE' " +
                            testsupport::shellQuote(theirs.string()) + " " +
                            testsupport::shellQuote((dir_ / "x4.reg").string()) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(merge.c_str()), 0) << merge;
  const auto listing = dir_ / "lookup.txt";
  const std::string lookup = "reglookup " + testsupport::shellQuote(theirs.string()) + " > " +
                             testsupport::shellQuote(listing.string()) + " 2>/dev/null";
  ASSERT_EQ(std::system(lookup.c_str()), 0) << lookup;
  const std::string seen = testsupport::readFileText(listing);
  for (const char* row : {"/K/n0,NONE,(null),", "/K/n3,NONE,%01%02%03,", "/K/d,0xFFFF0011,%01%02%03,",
                          "/K/o,0x000001F4,%09,"}) {
    EXPECT_NE(seen.find(row), std::string::npos) << row << "\n" << seen;
  }
  const auto back = dir_ / "theirs.reg";
  const std::string exportCmd = "hivexregedit --export --prefix 'HKEY_LOCAL_MACHINE\\TEMPHIVE' " +
                                testsupport::shellQuote(theirs.string()) + " '\\' > " +
                                testsupport::shellQuote(back.string()) + " 2>/dev/null";
  ASSERT_EQ(std::system(exportCmd.c_str()), 0) << exportCmd;
  // hivexregedit writes local 8-bit text with LF; a version-5 file is
  // UTF-16LE with its mark and CR LF, as the system's editor writes it.
  const auto backWide = dir_ / "theirs5.reg";
  {
    std::string crlf;
    for (const char c : testsupport::readFileText(back)) {
      if (c == '\n') crlf.push_back('\r');
      crlf.push_back(c);
    }
    std::string wide = "\xFF\xFE";
    WriteRegFileText(crlf, wide, true);
    std::ofstream(backWide, std::ios::binary) << wide;
  }
  mount("TEMPHIVE", emptyHive("ours.hive"));
  ASSERT_TRUE(ImportRegFile(backWide));
  std::map<std::string, HiveEntry> ours;
  walkHive(TMyRegistry(), "\\TEMPHIVE", ours, 0);
  for (const auto& [name, entry] : before) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(ours.contains(name));
    EXPECT_EQ(ours[name].type, entry.type);
    EXPECT_EQ(ours[name].data, entry.data);
  }
}

TEST_F(RegFileHiveTest, RealHiveSurvivesExportImportExport) {
  HS_TESTDATA_OR_SKIP(source, testsupport::unpackedTestdata("hives/real/NTUSER.DAT.xz"));
  const auto original = dir_ / "ntuser.hive";
  std::filesystem::copy_file(source, original);
  mount("TEMPHIVE", original);
  std::map<std::string, HiveEntry> before;
  walkHive(TMyRegistry(), "\\TEMPHIVE", before, 0);
  for (const bool unicode : {false, true}) {
    SCOPED_TRACE(unicode ? "v5" : "v4");
    const auto first = dir_ / (unicode ? "first5.reg" : "first4.reg");
    const auto second = dir_ / (unicode ? "second5.reg" : "second4.reg");
    ExportRegistryKeyToFile(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", first, unicode, Is64Flag::no, true);
    const auto after = importIntoEmpty(first, unicode ? "copy5.hive" : "copy4.hive", original, second, unicode);
    // The same text, and every key and value back with its exact type and
    // bytes, REG_NONE and type numbers without a kind included.
    EXPECT_EQ(testsupport::readFileText(second), testsupport::readFileText(first));
    expectSameValues(before, after);
  }
}

TEST_F(RegFileHiveTest, ImportGivesTheValuesHivexregeditMerges) {
  if (!haveProgram("hivexregedit")) GTEST_SKIP() << "hivexregedit (libwin-hivex-perl) is not installed";
  HS_TESTDATA_OR_SKIP(source, testsupport::unpackedTestdata("hives/real/NTUSER.DAT.xz"));
  const auto original = dir_ / "ntuser.hive";
  std::filesystem::copy_file(source, original);
  mount("TEMPHIVE", original);
  const auto text = dir_ / "v4.reg";
  ExportRegistryKeyToFile(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", text, false, Is64Flag::no, true);
  unmount("TEMPHIVE");

  // The export has no comment lines for hivexregedit to stumble on: every
  // line goes to it as written.
  EXPECT_EQ(testsupport::readFileText(text).find("\n//"), std::string::npos);
  const auto forHivex = text;
  const auto theirsFile = emptyHive("theirs.hive");
  const std::string cmd = "hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\\TEMPHIVE' " +
                          testsupport::shellQuote(theirsFile.string()) + " " + testsupport::shellQuote(forHivex.string()) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  const auto oursFile = emptyHive("ours.hive");
  mount("TEMPHIVE", oursFile);
  ASSERT_TRUE(ImportRegFile(text));
  std::map<std::string, HiveEntry> ours;
  walkHive(TMyRegistry(), "\\TEMPHIVE", ours, 0);
  unmount("TEMPHIVE");
  mount("THEIRS", theirsFile);
  std::map<std::string, HiveEntry> theirs;
  walkHive(TMyRegistry(), "\\THEIRS", theirs, 0);

  ASSERT_EQ(ours.size(), theirs.size());
  for (auto& [name, entry] : theirs) {
    SCOPED_TRACE(name);
    const auto it = ours.find(name);
    ASSERT_NE(it, ours.end());
    // hivexregedit keeps the 8-bit bytes of hex(2) and hex(7) lists and widens
    // the bytes of "..." strings one by one; both are in the Windows code
    // page of a version-4 file.
    if (entry.type == REG_EXPAND_SZ || entry.type == REG_MULTI_SZ) {
      const std::u16string wide = codePageToWide(
          RegFile4CodePage(), std::string_view(reinterpret_cast<const char*>(entry.data.data()), entry.data.size()));
      Bytes le;
      for (const char16_t u : wide) {
        le.push_back(static_cast<std::uint8_t>(u & 0xFF));
        le.push_back(static_cast<std::uint8_t>(u >> 8));
      }
      entry.data = le;
    } else if (entry.type == REG_SZ && entry.data != it->second.data) {
      std::string narrow;
      for (std::size_t i = 0; i + 1 < entry.data.size(); i += 2) narrow.push_back(static_cast<char>(entry.data[i]));
      entry.data = testsupport::utf16z(codePageToWide(RegFile4CodePage(), narrow.substr(0, narrow.size() - 1)));
    }
    EXPECT_EQ(it->second.type, entry.type);
    EXPECT_EQ(it->second.data, entry.data);
  }
}

}  // namespace

namespace {

TEST_F(RegFileHiveTest, AWriteTheRegistryRefusesStopsTheImportNamingKeyAndValue) {
  // A dirty hive without its logs opens read-only: its keys open (this one's
  // DACL lets administrators write), its values cannot be set.
  HS_TESTDATA_OR_SKIP(source, testsupport::unpackedTestdata("hives/real/UsrClass.dat.xz"));
  const auto file = dir_ / "usrclass.hive";
  std::filesystem::copy_file(source, file);
  mount("TEMPHIVE", file);
  TMyRegistryReader reader;
  reader.FWriteToRegistry = true;
  std::vector<std::string> values;
  reader.OnValue = [&](HKEY, const std::string&, bool, const std::string&, const std::string&, TRegDataType,
                       const std::string& name) { values.push_back(name); };
  try {
    reader.ImportStrings({"REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\TEMPHIVE]", "\"first\"=dword:00000001",
                          "\"second\"=dword:00000002"});
    FAIL() << "the refused write was not reported";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'first' in [HKEY_LOCAL_MACHINE\\TEMPHIVE]");
  }
  EXPECT_EQ(values, std::vector<std::string>{"first"}) << "the import stops at the failure";
}

}  // namespace

namespace {

// Peak resident memory of this process so far, in bytes.
std::size_t peakResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

// A real hive with one field of one key node changed, as disks and copies
// damage them. The numbers such a hive gives are hints: the export sizes its
// buffers by what the listing calls return, never follows a key into itself,
// and gives each key once.
TEST_F(RegFileHiveTest, ADamagedKeyFieldIsExportedBoundedAndEachKeyOnce) {
  HS_TESTDATA_OR_SKIP(source, testsupport::unpackedTestdata("hives/real/NTUSER.DAT.xz"));
  const auto original = dir_ / "clean.hive";
  std::filesystem::copy_file(source, original);
  std::uint32_t software = 0;
  {
    auto hive = hive::HiveFile::open(original, hive::OpenMode::ReadOnly);
    ASSERT_TRUE(hive.ok());
    software = *(*hive)->findSubkey((*hive)->root(), u"Software");  // a fresh open: ids are cell offsets
  }
  mount("TEMPHIVE", original);
  std::string clean;
  ExportRegistryKey(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", clean, true, Is64Flag::no);
  unmount("TEMPHIVE");
  // The sections below Software, which a nameless Software loses.
  std::string software5;
  WriteRegFileText("[HKEY_LOCAL_MACHINE\\TEMPHIVE\\Software", software5, true);
  std::size_t softwareSections = 0;
  for (std::size_t at = 0; (at = clean.find(software5, at)) != std::string::npos; at += software5.size())
    ++softwareSections;
  ASSERT_GT(softwareSections, 10u);

  constexpr std::size_t kCellPayload = 4096 + 4;
  constexpr std::size_t kParent = 16, kMaxValueNameLen = 60, kMaxValueDataLen = 64, kNameLen = 72;
  struct Case {
    const char* what;
    std::size_t field;
    std::uint32_t value;  // a 16-bit field keeps the low half
    bool loosesSoftware;
  };
  const Case cases[] = {
      {"largest data 0xFFFFFFFF", kMaxValueDataLen, 0xFFFFFFFFu, false},
      {"longest value name 0x4a000000", kMaxValueNameLen, 0x4a000000u, false},
      {"no name", kNameLen, 0, true},
      {"one parent bit", kParent, 0, false},  // set below: the field with one bit changed
  };
  const std::size_t before = peakResidentBytes();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = testsupport::readFileText(original);
    char* field = bytes.data() + kCellPayload + software + c.field;
    if (c.field == kNameLen) {
      field[0] = field[1] = 0;
    } else if (c.field == kParent) {
      field[1] ^= 0x10;
    } else {
      for (int i = 0; i < 4; ++i) field[i] = static_cast<char>(c.value >> (8 * i));
    }
    const auto damaged = dir_ / "damaged.hive";
    std::ofstream(damaged, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    mount("TEMPHIVE", damaged);
    std::string text;
    ExportRegistryKey(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", text, true, Is64Flag::no);
    unmount("TEMPHIVE");
    if (!c.loosesSoftware) {
      EXPECT_EQ(text, clean);
      continue;
    }
    EXPECT_EQ(text.find(software5), std::string::npos);
    EXPECT_LT(text.size(), clean.size());
    // Every section of the export is one of the clean export's, once.
    std::set<std::string> sections;
    std::string section5;
    WriteRegFileText("\r\n[", section5, true);
    for (std::size_t at = 0; (at = text.find(section5, at)) != std::string::npos; at += section5.size()) {
      const std::size_t end = text.find(std::string("]\0", 2), at);
      const std::string line = text.substr(at, end - at);
      EXPECT_TRUE(sections.insert(line).second) << "a section twice";
      EXPECT_NE(clean.find(line), std::string::npos);
    }
  }
  // The undamaged export of this hive takes a few MiB; sizing buffers by the
  // hints took gigabytes.
  EXPECT_LT(peakResidentBytes() - before, std::size_t{256} << 20);
}

}  // namespace

namespace {

// A section whose key cannot be opened or created is counted with the first
// such key and the system's reason; the sections around it still import.
TEST_F(RegFileHiveTest, SectionsThatCannotBeWrittenAreCountedAndNamed) {
  HS_TESTDATA_OR_SKIP(source, testsupport::unpackedTestdata("hives/real/SECURITY.xz"));
  const auto dirty = dir_ / "security.hive";  // dirty, no logs: read-only
  std::filesystem::copy_file(source, dirty);
  mount("DIRTY", dirty);
  mount("WRITABLE", emptyHive("writable.hive"));
  std::string deep = "HKEY_LOCAL_MACHINE\\WRITABLE";
  for (int i = 0; i < 600; ++i) deep += "\\k";

  struct Case {
    const char* what;
    std::string section;
    std::string error;
  };
  const Case cases[] = {
      {"a hive that cannot be written", "HKEY_LOCAL_MACHINE\\DIRTY\\NewKey", "Access is denied."},
      {"600 levels deep", deep, "The parameter is incorrect."},
      {"an unknown root", "HKEY_NOWHERE\\Key", "The specified path is invalid."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TMyRegistryReader reader;
    reader.FWriteToRegistry = true;
    reader.ImportStrings({"REGEDIT4", "", "[" + c.section + "]", "\"lost\"=dword:00000001", "",
                          "[HKEY_LOCAL_MACHINE\\WRITABLE\\Fine]", "\"kept\"=dword:00000002", "", "[" + c.section + "]"});
    const RegImportFailures& f = reader.Failures();
    EXPECT_EQ(f.sections, 2u);
    EXPECT_EQ(f.firstKey, c.section);
    EXPECT_EQ(f.firstError, c.error);
    EXPECT_EQ(f.text(), "2 sections not written; the first, [" + c.section + "]: " + c.error);
    TMyRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("\\WRITABLE\\Fine", false));
    EXPECT_TRUE(reg.ValueExists("kept"));
    reg.CloseKey();
    EXPECT_TRUE(reg.DeleteKey("\\WRITABLE\\Fine"));
  }
  // A file: the same count through the one-call import; a sound one has none.
  const auto file = dir_ / "in.reg";
  std::ofstream(file, std::ios::binary) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\DIRTY\\NewKey]\r\n\r\n";
  RegImportFailures failures;
  ASSERT_TRUE(ImportRegFile(file, failures));
  EXPECT_EQ(failures.sections, 1u);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\WRITABLE\\Ok]\r\n\r\n";
  ASSERT_TRUE(ImportRegFile(file, failures));
  EXPECT_FALSE(failures.any());
  EXPECT_EQ(failures.text(), "");
}

// A value line whose data is of no known form or malformed writes nothing and
// is counted, so the import can say it was not complete; the good lines beside
// it are written.
TEST_F(RegFileHiveTest, UnusableValueLinesAreCounted) {
  mount("WRITABLE", emptyHive("writable.hive"));
  TMyRegistryReader reader;
  reader.FWriteToRegistry = true;
  reader.ImportStrings({"REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\WRITABLE\\V]", "\"odd\"=strange:12",
                        "\"bad\"=dword:xyz", "\"good\"=dword:00000003", ""});
  const RegImportFailures& f = reader.Failures();
  EXPECT_EQ(f.sections, 0u);
  EXPECT_EQ(f.unusableValues, 2u);
  EXPECT_TRUE(f.any());
  EXPECT_EQ(f.text(), "2 value lines could not be used");
  TMyRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("\\WRITABLE\\V", false));
  EXPECT_TRUE(reg.ValueExists("good"));
  EXPECT_FALSE(reg.ValueExists("odd"));
  EXPECT_FALSE(reg.ValueExists("bad"));
}

}  // namespace

namespace {

// Finds the value record of a compressed (Latin-1) name in hive bytes.
std::size_t findValueRecord(const Bytes& file, std::string_view name) {
  for (std::size_t i = 4096; i + 20 + name.size() <= file.size(); ++i) {
    if (file[i] != 'v' || file[i + 1] != 'k') continue;
    if (file[i + 2] != name.size() || file[i + 3] != 0) continue;
    if (std::string_view(reinterpret_cast<const char*>(&file[i + 20]), name.size()) == name) return i;
  }
  return std::string::npos;
}

// A value whose data cannot be read is named in a comment and counted; the
// values after it in the same key are written as always.
TEST_F(RegFileHiveTest, AnUnreadableValueIsNamedAndCountedAndTheOthersAreWritten) {
  const auto file = dir_ / "damaged.hive";
  {
    auto hive = hive::HiveFile::createEmpty();
    ASSERT_TRUE(hive);
    const auto root = (*hive)->root();
    ASSERT_TRUE((*hive)->setValue(root, u"first", REG_DWORD, Bytes{1, 0, 0, 0}));
    ASSERT_TRUE((*hive)->setValue(root, u"broken", REG_BINARY, Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    for (int i = 0; i < 42; ++i) {
      const std::string name = "after" + std::to_string(i);
      ASSERT_TRUE((*hive)->setValue(root, std::u16string(name.begin(), name.end()), REG_DWORD,
                                    Bytes{static_cast<std::uint8_t>(i), 0, 0, 0}));
    }
    ASSERT_TRUE((*hive)->saveAs(file));
  }
  const std::string text = testsupport::readFileText(file);
  Bytes bytes(text.begin(), text.end());
  const std::size_t record = findValueRecord(bytes, "broken");
  ASSERT_NE(record, std::string::npos);
  // "Stored in the record" with a size no record holds.
  bytes[record + 4] = 8;
  bytes[record + 7] = 0x80;
  testsupport::writeFileText(file, std::string(bytes.begin(), bytes.end()));
  mount("TEMPHIVE", file);

  for (const bool unicode : {false, true}) {
    SCOPED_TRACE(unicode ? "v5" : "v4");
    const auto out = dir_ / (unicode ? "out5.reg" : "out4.reg");
    const RegExportResult result =
        ExportRegistryKeyToFile(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", out, unicode, Is64Flag::no, true);
    EXPECT_EQ(result.unreadableValues, 1u);
    EXPECT_FALSE(result.complete());
    EXPECT_EQ(result.text(), "1 value could not be read; the first, [HKEY_LOCAL_MACHINE\\TEMPHIVE] \"broken\"");
    std::vector<std::string> lines;
    RegFileVersion version;
    ASSERT_TRUE(ReadRegFileLines(testsupport::readFileText(out), lines, version));
    const auto has = [&](std::string_view start) {
      return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(start); });
    };
    EXPECT_TRUE(has("\"first\"=dword:00000001"));
    EXPECT_TRUE(has("// the value \"broken\" could not be read: "));
    for (int i = 0; i < 42; ++i) EXPECT_TRUE(has("\"after" + std::to_string(i) + "\"=dword:")) << i;
  }
  // The sound hive exports complete.
  unmount("TEMPHIVE");
  mount("TEMPHIVE", emptyHive("sound.hive"));
  EXPECT_TRUE(ExportRegistryKeyToFile(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", dir_ / "sound.reg", true, Is64Flag::no, true)
                  .complete());
}

// ---- every test hive through both versions of .reg text and back

// The values of one key, by upper-cased name (names that differ only in case
// are one value to the registry).
struct EngineValue {
  std::u16string name;
  std::uint32_t type = 0;
  Bytes data;
};
struct EngineKey {
  std::u16string path;  // from the hive's root, "\A\B"
  std::map<std::u16string, EngineValue> values;
};
// A hive as the engine reads it, keys by upper-cased path, and what cannot
// travel through .reg text (with the reason), by upper-cased path or
// "path|name".
struct EngineTree {
  std::map<std::u16string, EngineKey> keys;
  std::map<std::u16string, std::string> excluded;
  std::size_t values = 0;
};

std::u16string upcased(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = hive::upcaseUnit(c);
  return out;
}

std::string utf8Of(std::u16string_view text) { return utf16ToWtf8(text); }

bool holdsLineBreakOrNul(std::u16string_view text) {
  return text.find_first_of(std::u16string_view(u"\r\n\0", 3)) != std::u16string_view::npos;
}

// Whether text survives version-4 text: the Windows code page and back.
bool fitsVersion4(std::u16string_view text) {
  return codePageToWide(RegFile4CodePage(), wideToCodePage(RegFile4CodePage(), text)) == text;
}

void readEngineTree(const hive::HiveFile& hive, hive::KeyId key, const std::u16string& path, bool v4,
                    EngineTree& tree, int depth) {
  if (depth > 512) return;
  const std::u16string keyId = upcased(path);
  if (tree.keys.contains(keyId)) {
    tree.excluded[keyId] = "a second key of this name (ignoring case): one key on import";
    return;
  }
  EngineKey& entry = tree.keys[keyId];
  entry.path = path;
  if (auto values = hive.values(key)) {
    for (const hive::ValueId id : *values) {
      auto info = hive.valueInfo(id);
      if (!info) continue;
      auto data = hive.valueData(id);
      const std::u16string valueId = upcased(info->name);
      const std::u16string where = keyId + u"|" + valueId;
      if (!data) {
        tree.excluded[where] = "data the engine cannot read (named in a comment by the export)";
        continue;
      }
      if (holdsLineBreakOrNul(info->name)) {
        tree.excluded[where] = "a name with a line break or a NUL: no .reg line holds it";
        continue;
      }
      if (entry.values.contains(valueId)) {
        tree.excluded[where] = "a second value of this name (ignoring case): one value on import";
        entry.values.erase(valueId);
        continue;
      }
      if (v4 && !fitsVersion4(info->name)) {
        tree.excluded[where] = "version 4: a name beyond the Windows code page";
        continue;
      }
      if (v4 && (info->type == REG_EXPAND_SZ || info->type == REG_MULTI_SZ)) {
        const Bytes& d = *data;
        std::u16string units(d.size() / 2, u'\0');
        for (std::size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(d[2 * i] | (d[2 * i + 1] << 8));
        if (d.size() % 2 != 0 || !fitsVersion4(units)) {
          tree.excluded[where] = "version 4: an expandable or multi-string of odd length or beyond the code page";
          continue;
        }
      }
      entry.values[valueId] = EngineValue{info->name, info->type, std::move(*data)};
      ++tree.values;
    }
  }
  auto subkeys = hive.subkeys(key);
  if (!subkeys) return;
  for (const hive::KeyId sub : *subkeys) {
    auto info = hive.keyInfo(sub);
    if (!info) continue;
    const std::u16string subPath = path + u"\\" + info->name;
    const std::string reason =
        info->name.empty()                                    ? "a nameless key: no path names it"
        : holdsLineBreakOrNul(info->name) || info->name.find(u'\\') != std::u16string::npos
            ? "a key name with a line break, a NUL or a backslash: no section line holds it"
        : v4 && !fitsVersion4(info->name) ? "version 4: a key name beyond the Windows code page"
                                          : "";
    if (!reason.empty()) {
      tree.excluded[upcased(subPath)] = reason + " (with its sub-keys)";
      continue;
    }
    readEngineTree(hive, sub, subPath, v4, tree, depth + 1);
  }
}

// The first difference of `after` from `before`, or "".
// In version 4 a name beyond the code page arrives with '?' in place of what
// the page lacks: such keys are the excluded ones under another name.
std::string firstDifference(const EngineTree& before, const EngineTree& after, bool v4) {
  for (const auto& [id, key] : before.keys) {
    const auto it = after.keys.find(id);
    if (it == after.keys.end()) return "key " + utf8Of(key.path) + " missing";
    for (const auto& [valueId, value] : key.values) {
      const auto v = it->second.values.find(valueId);
      const std::string where = utf8Of(key.path) + " value \"" + utf8Of(value.name) + "\"";
      if (v == it->second.values.end()) return where + " missing";
      if (v->second.type != value.type)
        return where + ": type " + std::to_string(v->second.type) + " instead of " + std::to_string(value.type);
      if (v->second.data != value.data)
        return where + ": " + std::to_string(v->second.data.size()) + " bytes instead of " +
               std::to_string(value.data.size()) + " or other bytes";
    }
  }
  for (const auto& [id, key] : after.keys) {
    if (v4 && key.path.find(u'?') != std::u16string::npos) continue;
    if (!before.keys.contains(id) && !before.excluded.contains(id)) return "key " + utf8Of(key.path) + " added";
  }
  return "";
}

// Every hive of the test data, real and crafted: exported as version 5 and as
// version 4, imported into an empty hive, and read back with the engine, every
// value of every key is there with its type and bytes. What .reg text cannot
// carry is excluded, with the reason, in the table: names with line breaks or
// NULs in any version; in version 4 (a Windows code page) names beyond that
// page and expandable or multi-strings it cannot hold. Version 5 excludes
// nothing else.
TEST_F(RegFileHiveTest, EveryTestHiveTravelsThroughBothVersionsUnchanged) {
  if (testsupport::testdataDir().empty()) GTEST_SKIP() << "test data not found (../shared/testdata or HIVESCOPE_TESTDATA)";
  struct Source {
    std::string label;
    std::filesystem::path file;
    std::vector<std::filesystem::path> logs;
  };
  std::vector<Source> sources;
  for (const char* name : {"BCD", "NTUSER.DAT", "NTUSER_modified.DAT", "SAM", "SECURITY", "SYSTEM", "UsrClass.dat"}) {
    const std::string rel = std::string("hives/real/") + name;
    Source s{rel, testsupport::unpackedTestdata(rel + ".xz"), {}};
    for (const char* log : {".LOG1", ".LOG2"}) {
      if (!testsupport::testdataFile(rel + log + ".xz").empty()) s.logs.push_back(testsupport::unpackedTestdata(rel + log + ".xz"));
    }
    sources.push_back(s);
  }
  for (const char* name : {"minimal", "rlenvalue_test_hive", "special", "pwr/fake_system.rf", "pwr/invalid_regf_header.rf",
                           "pwr/winnt_error_tests.rf", "pwr/winnt_key_tests.rf", "pwr/winnt_security_tests.rf",
                           "pwr/winnt_value_tests.rf"}) {
    const std::string rel = std::string("hives/crafted/") + name;
    sources.push_back({rel, testsupport::testdataFile(rel), {}});
  }
  for (const char* name :
       {"TruncatedHive", "EmptyHive", "BigDataHive", "DupNameHive", "UnicodeHive", "BadListHive", "SlackHive",
        "GarbageHive", "StringValuesHive", "TruncatedPairHive2", "OffHive", "ManySubkeysHive", "DuplicateSubkeysHive",
        "BadSubkeyHive", "PairHive", "NewFlagsHive", "WrongOrderHive", "EffectiveSizeHive", "TruncatedPairHive",
        "ExtendedASCIIHive", "ReallocValueDataHive", "ValuesOrderHive", "InvalidParentFragment", "InvalidParentHive",
        "CompHive", "BogusKeyNamesHive", "TwoOwnersHive", "HealedHive", "System_Delta", "ReallocValueHive",
        "TruncatedNameHive", "UpcaseHive", "TruncatedDirtyHive", "TruncatedHiveBin", "MultiSzHive",
        "BadBaseBlockHive/BadBaseBlockHive"}) {
    const std::string tar = "hives/crafted/yarp-hives.tar.xz";
    Source s{std::string("yarp/") + name, testsupport::unpackedTestdataMember(tar, name), {}};
    if (std::string_view(name).starts_with("BadBaseBlockHive/")) {
      for (const char* log : {".LOG1", ".LOG2"}) s.logs.push_back(testsupport::unpackedTestdataMember(tar, std::string(name) + log));
    }
    sources.push_back(s);
  }

  std::ostringstream table;
  std::string firstFailure;
  int compared = 0;
  for (const Source& source : sources) {
    if (source.file.empty()) {
      table << source.label << ": not in the test data\n";
      continue;
    }
    // A copy with its logs: the engine may replay them at the mount.
    const auto work = dir_ / "work";
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work);
    const auto original = work / source.file.filename();
    std::filesystem::copy_file(source.file, original);
    for (const auto& log : source.logs) {
      if (!log.empty()) std::filesystem::copy_file(log, work / log.filename());
    }
    std::filesystem::permissions(work, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
    for (const auto& entry : std::filesystem::directory_iterator(work))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
    auto opened = hive::HiveFile::open(original, hive::OpenMode::ReadOnly);
    if (!opened) {
      table << source.label << ": skipped, the engine does not open it\n";
      continue;
    }
    if (RegLoadKeyA(HKEY_LOCAL_MACHINE, "TEMPHIVE", original.c_str()) != ERROR_SUCCESS) {
      table << source.label << ": skipped, the registry does not mount it\n";
      continue;
    }
    mounted_.push_back("TEMPHIVE");
    for (const bool unicode : {true, false}) {
      const std::string version = unicode ? "v5" : "v4";
      EngineTree before;
      readEngineTree(**opened, (*opened)->root(), u"", !unicode, before, 0);
      const auto text = dir_ / ("export-" + version + ".reg");
      const RegExportResult exported =
          ExportRegistryKeyToFile(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", text, unicode, Is64Flag::no, true);
      // Into an empty hive in the original's place, then read from its file.
      unmount("TEMPHIVE");
      const auto copy = emptyHive("import-" + version + ".hive");
      mount("TEMPHIVE", copy);
      RegImportFailures failures;
      const bool read = ImportRegFile(text, failures);
      unmount("TEMPHIVE");
      mount("TEMPHIVE", original);
      auto imported = hive::HiveFile::open(copy, hive::OpenMode::ReadOnly);
      ASSERT_TRUE(imported) << copy;
      EngineTree after;
      readEngineTree(**imported, (*imported)->root(), u"", !unicode, after, 0);
      std::string difference = !read ? "the export is no .reg file" : failures.any() ? "import: " + failures.text() : "";
      if (difference.empty()) difference = firstDifference(before, after, !unicode);
      ++compared;
      table << source.label << " " << version << ": " << before.keys.size() << " keys, " << before.values << " values, "
            << before.excluded.size() << " excluded, " << exported.unreadableValues << " unreadable, "
            << exported.leftOut << " left out: "
            << (difference.empty() ? "same" : difference) << "\n";
      std::map<std::string, int> reasons;
      for (const auto& [where, reason] : before.excluded) ++reasons[reason];
      for (const auto& [reason, count] : reasons) table << "    excluded " << count << ": " << reason << "\n";
      if (!difference.empty() && firstFailure.empty()) firstFailure = source.label + " " + version + ": " + difference;
    }
    unmount("TEMPHIVE");
  }
  std::cout << table.str();
  EXPECT_GT(compared, 0);
  EXPECT_EQ(firstFailure, "") << table.str();
}

}  // namespace

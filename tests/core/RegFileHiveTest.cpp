// .reg export and import on mounted hive files, checked against other
// programs: the line wrapping against `reged -x` (chntpw), the import against
// `hivexregedit --merge`, and a real hive through export, import into an
// empty hive and export again. The comparisons skip when the program or the
// test data is missing.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include "core/bwlRegTools.h"
#include "platform/Kernel.h"
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
    ExportRegistryKeyToFile(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", first, unicode, Is64Flag::no, true);
    const auto copy = emptyHive(unicode ? "copy5.hive" : "copy4.hive");
    unmount("TEMPHIVE");
    mount("TEMPHIVE", copy);
    ASSERT_TRUE(ImportRegFile(first));
    std::map<std::string, HiveEntry> after;
    walkHive(TMyRegistry(), "\\TEMPHIVE", after, 0);
    const auto second = dir_ / (unicode ? "second5.reg" : "second4.reg");
    ExportRegistryKeyToFile(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", second, unicode, Is64Flag::no, true);
    unmount("TEMPHIVE");
    mount("TEMPHIVE", original);

    // The same text, less the comments for values of no type, which carry no
    // data to import.
    std::string firstText = testsupport::readFileText(first);
    std::string none = "// the type of value";
    if (unicode) {
      std::string wideNone;
      WriteRegFileText(none, wideNone, true);
      none = wideNone;
    }
    std::size_t removed = 0;
    for (std::size_t at; (at = firstText.find(none)) != std::string::npos; ++removed) {
      const std::string crlf = unicode ? std::string("\r\0\n\0", 4) : std::string("\r\n");
      firstText.erase(at, firstText.find(crlf, at) + crlf.size() - at);
    }
    EXPECT_EQ(testsupport::readFileText(second), firstText);
    // Every value came back with its exact type and bytes, but those.
    std::size_t missing = 0;
    for (const auto& [name, entry] : before) {
      const auto it = after.find(name);
      if (it == after.end()) {
        ++missing;
        EXPECT_TRUE(entry.type == REG_NONE || RegTypeToRegDataType(entry.type) == rdUnknown) << name;
        continue;
      }
      if (entry.type == REG_SZ || entry.type == REG_EXPAND_SZ) continue;  // cut at their NUL by the text
      EXPECT_EQ(it->second.type, entry.type) << name;
      EXPECT_EQ(it->second.data, entry.data) << name;
    }
    EXPECT_EQ(missing, removed);
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

  // hivexregedit reads no "//" comments: they go, they carry no data.
  const auto forHivex = dir_ / "hivex.reg";
  {
    std::istringstream in(testsupport::readFileText(text));
    std::ofstream out(forHivex, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.starts_with("//")) out << line << "\n";
    }
  }
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
    // the bytes of "..." strings one by one; both are UTF-8 text here.
    if (entry.type == REG_EXPAND_SZ || entry.type == REG_MULTI_SZ) {
      const std::u16string wide =
          ansiToWide(std::string_view(reinterpret_cast<const char*>(entry.data.data()), entry.data.size()));
      Bytes le;
      for (const char16_t u : wide) {
        le.push_back(static_cast<std::uint8_t>(u & 0xFF));
        le.push_back(static_cast<std::uint8_t>(u >> 8));
      }
      entry.data = le;
    } else if (entry.type == REG_SZ && entry.data != it->second.data) {
      std::string narrow;
      for (std::size_t i = 0; i + 1 < entry.data.size(); i += 2) narrow.push_back(static_cast<char>(entry.data[i]));
      entry.data = testsupport::utf16z(ansiToWide(narrow.substr(0, narrow.size() - 1)));
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

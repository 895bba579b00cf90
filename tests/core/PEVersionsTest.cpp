// The version-resource reader against PE files the cross tools build from
// resource scripts, checked against what pefile reads from the same file.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "core/bwlPEVersions.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using testsupport::shellQuote;

namespace {

const char* const kStandardNames[] = {"FileVersion",    "CompanyName",     "InternalName",     "Comments",
                                      "LegalCopyright", "LegalTrademarks", "OriginalFilename", "ProductName",
                                      "ProductVersion", "FileDescription", "PrivateBuild",     "SpecialBuild"};

bool haveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

class PEVersionsTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!haveTool("x86_64-w64-mingw32-windres") || !haveTool("x86_64-w64-mingw32-ld"))
      GTEST_SKIP() << "binutils-mingw-w64-x86-64 is not installed";
    if (std::system((shellQuote(HIVESCOPE_PYTHON3) + " -c 'import pefile' 2>/dev/null").c_str()) != 0)
      GTEST_SKIP() << "python3-pefile is not installed";
  }

  // A DLL holding the resource script `rc`.
  fs::path buildDll(const std::string& name, const std::string& rc) {
    fs::path script = dir_ / (name + ".rc"), object = dir_ / (name + ".o"), dll = dir_ / (name + ".dll");
    std::ofstream(script) << rc;
    std::string cmd = "x86_64-w64-mingw32-windres --preprocessor=cpp -c 65001 -i " + shellQuote(script.string()) +
                      " -o " + shellQuote(object.string()) + " && x86_64-w64-mingw32-ld --dll -o " +
                      shellQuote(dll.string()) + " " + shellQuote(object.string()) + " 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return dll;
  }

  // The string tables pefile reads: table key -> name -> value.
  std::map<std::string, std::map<std::string, std::string>> pefileStrings(const fs::path& dll) {
    fs::path out = dir_ / "pefile.txt";
    std::string script =
        "import pefile, sys\n"
        "pe = pefile.PE(sys.argv[1])\n"
        "with open(sys.argv[2], 'w', encoding='utf-8') as f:\n"
        "  for fi in pe.FileInfo:\n"
        "    for e in fi:\n"
        "      if e.Key == b'StringFileInfo':\n"
        "        for st in e.StringTable:\n"
        "          for k, v in st.entries.items():\n"
        "            f.write(st.LangID.decode() + '\\t' + k.decode() + '\\t' + v.decode() + '\\n')\n";
    std::string cmd = shellQuote(HIVESCOPE_PYTHON3) + " -c " + shellQuote(script) + " " + shellQuote(dll.string()) +
                      " " + shellQuote(out.string());
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::map<std::string, std::map<std::string, std::string>> tables;
    std::istringstream in(testsupport::readFileText(out));
    std::string line;
    while (std::getline(in, line)) {
      auto a = line.find('\t'), b = line.find('\t', a + 1);
      tables[line.substr(0, a)][line.substr(a + 1, b - a - 1)] = line.substr(b + 1);
    }
    return tables;
  }

  testsupport::TempDir dir_{"hivescope-pe"};
};

const char* const kOneTranslation = R"rc(1 VERSIONINFO
FILEVERSION 2,5,0,17
PRODUCTVERSION 2,5,0,0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904E4"
    BEGIN
      VALUE "CompanyName", "Probe Works"
      VALUE "FileDescription", "Probe library"
      VALUE "FileVersion", "2, 5, 0, 17"
      VALUE "LegalCopyright", "(C) Probe Works"
      VALUE "ProductName", "Probe"
      VALUE "ProductVersion", "2, 5"
      VALUE "Comments", "Grüße"
      VALUE "SpecialBuild", ""
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1252
  END
END
)rc";

const char* const kTwoTranslations = R"rc(1 VERSIONINFO
FILEVERSION 1,0,0,0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904E4"
    BEGIN
      VALUE "ProductName", "Probe"
      VALUE "Translators", "German=Hans Muster"
    END
    BLOCK "040704B0"
    BEGIN
      VALUE "ProductName", "Probe (de)"
      VALUE "PrivateBuild", "intern"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1252, 0x407, 1200
  END
END
)rc";

std::vector<std::string> expectedLines(const std::map<std::string, std::string>& table) {
  std::vector<std::string> lines;
  for (const char* name : kStandardNames) {
    auto it = table.find(name);
    lines.push_back(std::string(name) + "=" + (it == table.end() ? "" : it->second));
  }
  if (auto it = table.find("Translators"); it != table.end() && !it->second.empty())
    lines.push_back("Translators=" + it->second);
  return lines;
}

}  // namespace

TEST_F(PEVersionsTest, StringsOfABuiltResourceAreWhatPefileReads) {
  fs::path dll = buildDll("one", kOneTranslation);
  auto tables = pefileStrings(dll);
  ASSERT_EQ(tables.count("040904E4"), 1u);

  EXPECT_EQ(GetVersionTranslationCount(dll.string()), 1);
  std::vector<std::string> list{"kept"};
  ASSERT_TRUE(GetVersionStrings(dll.string(), 0, list));
  std::vector<std::string> expected{"kept"};
  for (const std::string& line : expectedLines(tables["040904E4"])) expected.push_back(line);
  EXPECT_EQ(list, expected);
  // No PrivateBuild value: the bare name; no Translators value: no line.
  EXPECT_EQ(list[11], "PrivateBuild=");
  EXPECT_EQ(list.back(), "SpecialBuild=");
  EXPECT_EQ(list[4], "Comments=Grüße");
}

TEST_F(PEVersionsTest, EachTranslationReadsItsOwnTable) {
  fs::path dll = buildDll("two", kTwoTranslations);
  auto tables = pefileStrings(dll);
  EXPECT_EQ(GetVersionTranslationCount(dll.string()), 2);

  std::vector<std::string> first;
  ASSERT_TRUE(GetVersionStrings(dll.string(), 0, first));
  EXPECT_EQ(first, expectedLines(tables["040904E4"]));
  EXPECT_EQ(first.back(), "Translators=German=Hans Muster");

  std::vector<std::string> second;
  ASSERT_TRUE(GetVersionStrings(dll.string(), 1, second));
  EXPECT_EQ(second, expectedLines(tables["040704B0"]));

  // An index at or past the count, or below 0, reads nothing.
  for (int index : {2, 3, -1}) {
    SCOPED_TRACE(index);
    std::vector<std::string> list{"kept"};
    EXPECT_FALSE(GetVersionStrings(dll.string(), index, list));
    EXPECT_EQ(list, std::vector<std::string>{"kept"});
  }
}

TEST_F(PEVersionsTest, EveryCutOfAnImageReadsSafely) {
  fs::path dll = buildDll("cut", kTwoTranslations);
  std::string bytes = testsupport::readFileText(dll);
  std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
  auto whole = FindVersionResource(image);
  ASSERT_TRUE(whole);
  // Cut at every length: the sanitizer build sees any read past the end.
  // Once the cut reaches into the resource, nothing may claim to be whole.
  for (std::size_t n = 0; n < image.size(); ++n) {
    auto block = FindVersionResource(std::span(image.data(), n));
    if (block) (void)ParseVersionInfo(*block);
  }
  for (std::size_t n = 0; n < whole->size(); ++n) {
    auto info = ParseVersionInfo(std::span(whole->data(), n));
    if (info) {
      EXPECT_LE(info->Translations.size(), 2u);
    }
  }
  // A child claiming more than its parent holds ends the parent's reading.
  std::vector<std::uint8_t> block = *whole;
  const std::uint8_t key[] = {'V', 0, 'a', 0, 'r', 0, 'F', 0};
  auto pos = std::search(block.begin(), block.end(), std::begin(key), std::end(key));
  ASSERT_NE(pos, block.end());
  std::size_t varInfo = static_cast<std::size_t>(pos - block.begin()) - 6;
  block[varInfo] = 0xFF, block[varInfo + 1] = 0xFF;
  auto damaged = ParseVersionInfo(block);
  ASSERT_TRUE(damaged);
  EXPECT_TRUE(damaged->Translations.empty());
  EXPECT_EQ(damaged->StringTables.size(), 2u);
}

TEST(PEVersions, FilesWithoutAResourceGiveNothing) {
  testsupport::TempDir dir("hivescope-pe");
  std::ofstream(dir / "text.txt") << "MZ is not enough\n";
  for (std::string file : {std::string("/bin/sh"), (dir / "text.txt").string(), (dir / "missing.dll").string(),
                           dir.path().string()}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(GetVersionTranslationCount(file), 0);
    std::vector<std::string> list{"kept"};
    EXPECT_FALSE(GetVersionStrings(file, 0, list));
    EXPECT_EQ(list, std::vector<std::string>{"kept"});
  }
}

TEST(PEVersions, TheProgramAnswersFromItsBuiltInBlock) {
  std::string self = ProgramFileName();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(GetVersionTranslationCount(self), 1);
  std::vector<std::string> list;
  ASSERT_TRUE(GetVersionStrings(self, 0, list));
  auto has = [&](const std::string& line) { return std::find(list.begin(), list.end(), line) != list.end(); };
  EXPECT_TRUE(has("ProductName=Hivescope"));
  EXPECT_TRUE(has(std::string("ProductVersion=") + HIVESCOPE_PROJECT_VERSION));
  EXPECT_TRUE(has("PrivateBuild="));
  auto info = ParseVersionInfo(ProgramVersionBlock());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Translations, std::vector<std::uint32_t>{0x04E40409u});
  EXPECT_EQ(info->StringTables.at(0).Key, "040904E4");
}

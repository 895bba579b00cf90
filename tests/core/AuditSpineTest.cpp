// Cases of the registry spine that the per-unit suites leave open: names that
// the registry takes as one although they differ in non-ASCII case, native
// names seen through the ordinary interface, the key-information and
// handle calls, the folder fallbacks, the engine's error texts, the settings'
// float reader, the declared column types of a query and the font-charset
// conversion.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "core/RegExpEngine.h"
#include "core/SQLiteTables.h"
#include "core/bwlConfig.h"
#include "core/bwlFilesPathsWinAPI.h"
#include "core/bwlRegNative.h"
#include "core/bwlRegTools.h"
#include "core/bwlRegistryHistorySQLite.h"
#include "core/kxStrings.h"
#include "platform/Text.h"
#include "tests/core/RegistryFixture.h"

using namespace platform;
using namespace std::string_literals;

namespace {

// Restores the active code page a test changes.
class CodePageGuard {
public:
  ~CodePageGuard() { setActiveCodePage(saved_); }

private:
  unsigned saved_ = activeCodePage();
};

// "\xC3\xA4" and "\xC3\x84" are one letter in two cases: the registry keeps one
// name for both, while an ASCII-only comparison sees two names.
const std::string kSmallAUmlaut = "\xC3\xA4";
const std::string kCapitalAUmlaut = "\xC3\x84";

}  // namespace

using AuditSpine = RegistryFixture;

TEST_F(AuditSpine, NonAsciiCaseVariantsOfOneNameAreNeverDeletedAsATarget) {
  const HKEY cu = HKEY_CURRENT_USER;
  const std::string key = testKey("Case");
  const std::string small = testKey("Case\\" + kSmallAUmlaut);
  const std::string capital = testKey("Case\\" + kCapitalAUmlaut);
  ASSERT_TRUE(WriteRegistryInteger(cu, key, kSmallAUmlaut, Bitness::x32, 7));
  ASSERT_TRUE(WriteRegistryInteger(cu, small + "\\Sub", "v", Bitness::x32, 1));
  ASSERT_TRUE(RegistryValueExists(cu, key, kCapitalAUmlaut, ViewByte::v32)) << "the registry folds this case";
  const auto before = walk(cu, key);

  struct Case {
    const char* what;
    std::function<void()> call;
  };
  const Case cases[] = {
      {"value renamed onto its other case, with overwrite",
       [&] { EXPECT_TRUE(RenameRegistryValue(cu, key, kSmallAUmlaut, true, kCapitalAUmlaut)); }},
      {"value renamed onto its other case, without overwrite",
       [&] { EXPECT_FALSE(RenameRegistryValue(cu, key, kSmallAUmlaut, false, kCapitalAUmlaut)); }},
      {"key renamed onto its other case, with overwrite",
       [&] { EXPECT_TRUE(RenameRegistryKey(cu, small, capital, true)); }},
      {"key renamed into its own sub-tree spelt in the other case",
       [&] { EXPECT_FALSE(RenameRegistryKey(cu, small, capital + "\\Inner", true)); }},
      {"value moved onto itself through the other case",
       [&] { CopyRegistryValue(cu, small + "\\Sub", "v", true, "V", capital + "\\Sub", cu); }},
      {"key moved into its own sub-tree spelt in the other case",
       [&] {
         TMyRegistry reg;
         reg.MoveKey(small, capital + "\\Inner", true);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.call();
    EXPECT_EQ(walk(cu, key), before);
  }
}

TEST_F(AuditSpine, TheOrdinaryInterfaceSeesANativeNulNameCutAtTheNul) {
  const std::u16string nulName = u"a\0b"s;
  {
    TNtRegistry native;
    native.FRootKey = HKEY_CURRENT_USER;
    // The native create makes one level only: the parent first.
    ASSERT_TRUE(native.CreateKey(u"\\Software\\HivescopeTests", false));
    ASSERT_TRUE(native.CreateKey(u"\\Software\\HivescopeTests\\Nul", false));
    ASSERT_TRUE(native.WriteData(nulName, REG_DWORD, std::vector<std::uint8_t>{0x0A, 0, 0, 0}));
  }

  TMyRegistry ordinary;
  ASSERT_TRUE(ordinary.OpenKeyReadOnly(testKey("Nul")));
  std::vector<std::string> cut;
  ordinary.GetValueNames(cut);
  EXPECT_EQ(cut, (std::vector<std::string>{"a"}));
  ordinary.CloseKey();

  TNtRegistry native;
  native.FRootKey = HKEY_CURRENT_USER;
  ASSERT_TRUE(native.OpenKey(u"\\Software\\HivescopeTests\\Nul"));
  sup::TWideStringList names;
  native.GetValueNames(names);
  ASSERT_EQ(names.Count(), 1);
  EXPECT_EQ(names.rawString(0), nulName);
  EXPECT_EQ(names.rawString(0).size(), 3u);
  EXPECT_EQ(native.ReadValueAsText(nulName), u"0x0000000A (10)");
  ASSERT_TRUE(native.RenameValue(nulName, u"plain"));
  EXPECT_EQ(native.ReadValueAsText(u"plain"), u"0x0000000A (10)");
  EXPECT_TRUE(native.DeleteValue(u"plain"));
  native.GetValueNames(names);
  EXPECT_EQ(names.Count(), 0);
}

TEST_F(AuditSpine, NativeDeleteOfAMissingKeyLeavesNoKeyBehind) {
  TNtRegistry native;
  native.FRootKey = HKEY_CURRENT_USER;
  ASSERT_TRUE(native.CreateKey(u"\\Software\\HivescopeTests", false));
  // The delete opens by creating, so the missing key is made and removed again.
  EXPECT_TRUE(native.DeleteKey(u"\\Software\\HivescopeTests\\NeverThere"));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, testKey("NeverThere"), ViewByte::v32));
}

TEST_F(AuditSpine, KeyHandlesAndKeyInformation) {
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey(testKey("Info\\Child"), true));
  reg.WriteString("sz", "abc");
  ASSERT_TRUE(reg.OpenKey(testKey("Info"), false));
  reg.WriteInteger("a-longer-name", 1);

  // GetKey opens without touching the open key; the caller closes the handle.
  const HKEY child = reg.GetKey("Child");
  ASSERT_TRUE(child);
  EXPECT_EQ(reg.CurrentPath(), "Software\\HivescopeTests\\Info");
  EXPECT_FALSE(reg.GetKey("Missing"));
  // ChangeKey closes the open key and adopts the handle and its path.
  reg.ChangeKey(child, "Software\\HivescopeTests\\Info\\Child");
  EXPECT_EQ(reg.CurrentKey(), child);
  EXPECT_EQ(reg.ReadString("sz"), "abc");

  ASSERT_TRUE(reg.OpenKey(testKey("Info"), false));
  struct Case {
    unsigned codePage;
    std::uint32_t factor;  // the name lengths double for a multi-byte code page
  };
  for (const Case c : {Case{1252, 1}, Case{932, 2}}) {
    SCOPED_TRACE(c.codePage);
    CodePageGuard guard;
    setActiveCodePage(c.codePage);
    TRegKeyInfo info;
    ASSERT_TRUE(reg.GetKeyInfo(info));
    EXPECT_EQ(info.NumSubKeys, 1u);
    EXPECT_EQ(info.NumValues, 1u);
    EXPECT_EQ(info.MaxSubKeyLen, 5u * c.factor);
    EXPECT_EQ(info.MaxValueLen, 13u * c.factor);
    EXPECT_EQ(info.MaxDataLen, 4u);
  }
  reg.CloseKey();
  TRegKeyInfo none;
  EXPECT_FALSE(reg.GetKeyInfo(none));
}

TEST_F(AuditSpine, ACreateTheRegistryRefusesRaisesWithThePath) {
  // Nothing can be created directly below the machine's master key.
  TMyRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(thrownText([&] { reg.CreateKey("\\HivescopeTopLevel"); }), "Failed to create key \\HivescopeTopLevel");
  EXPECT_FALSE(reg.OpenKey("\\HivescopeTopLevel", true));
  EXPECT_FALSE(CreateRegistryKey(HKEY_LOCAL_MACHINE, "\\HivescopeTopLevel", ViewByte::v32));
}

TEST_F(AuditSpine, SpecialFolderFallbacksReadTheRegistry) {
  testsupport::TempDir home;
  const char* oldData = std::getenv("XDG_DATA_HOME");
  const std::string savedData = oldData ? oldData : "";
  ::setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);

  const std::string shellFolders = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";
  struct Case {
    int csidl;
    HKEY root;
    std::string key;
    const char* name;
  };
  const Case cases[] = {
      {6, HKEY_CURRENT_USER, shellFolders, "Favorites"},
      {21, HKEY_CURRENT_USER, shellFolders, "Templates"},
      {31, HKEY_LOCAL_MACHINE, shellFolders, "Common Favorites"},
      {38, HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\", "ProgramFilesDir"},
      {45, HKEY_LOCAL_MACHINE, shellFolders, "Common Templates"},
      {46, HKEY_LOCAL_MACHINE, shellFolders, "Common Documents"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string stored = std::string("/srv/") + c.name;
    ASSERT_TRUE(WriteRegistryString(c.root, c.key, c.name, Bitness::x32, stored));
    // A folder the system knows wins; only a folder it lacks falls back.
    const std::string shell = GetShellFolderPath(c.csidl);
    EXPECT_EQ(MySpecialDir(c.csidl), shell.empty() ? stored : shell);
  }
  // The control panel's name, when only the 64-bit view has it.
  const std::string clsid = "\\Software\\CLASSES\\CLSID\\{21EC2020-3AEA-1069-A2DD-08002B30309D}\\";
  ASSERT_TRUE(WriteRegistryString(HKEY_LOCAL_MACHINE, clsid, "", Bitness::x64, "Panel64"));
  EXPECT_EQ(GetControlPanelFolder("", "/win"), "/win/Panel64");
  ASSERT_TRUE(WriteRegistryString(HKEY_LOCAL_MACHINE, clsid, "", Bitness::x32, "Panel32"));
  EXPECT_EQ(GetControlPanelFolder("", "/win"), "/win/Panel32");

  if (oldData) {
    ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
}

TEST(AuditRegExp, EveryErrorCodeHasItsText) {
  struct Case {
    int code;
    const char* text;
  };
  const Case cases[] = {
      {0, "No errors"},
      {100, "TRegExpEngine(comp): Null Argument"},
      {101, "TRegExpEngine(comp): Regexp Too Big"},
      {102, "TRegExpEngine(comp): ParseReg Too Many ()"},
      {103, "TRegExpEngine(comp): ParseReg Unmatched ()"},
      {104, "TRegExpEngine(comp): ParseReg Unmatched ()"},
      {105, "TRegExpEngine(comp): ParseReg Junk On End"},
      {106, "TRegExpEngine(comp): *+ Operand Could Be Empty"},
      {107, "TRegExpEngine(comp): Nested *?+"},
      {108, "TRegExpEngine(comp): Bad Hex Digit"},
      {109, "TRegExpEngine(comp): Invalid [] Range"},
      {110, "TRegExpEngine(comp): Parse Atom Trailing \\"},
      {111, "TRegExpEngine(comp): No Hex Code After \\x"},
      {112, "TRegExpEngine(comp): Hex Code After \\x Is Too Big"},
      {113, "TRegExpEngine(comp): Unmatched []"},
      {114, "TRegExpEngine(comp): Internal Urp"},
      {115, "TRegExpEngine(comp): ?+*{ Follows Nothing"},
      {116, "TRegExpEngine(comp): Trailing \\"},
      {119, "TRegExpEngine(comp): RarseAtom Internal Disaster"},
      {122, "TRegExpEngine(comp): BRACES Argument Too Big"},
      {124, "TRegExpEngine(comp): BRACE Min Param Greater then Max"},
      {125, "TRegExpEngine(comp): Unclosed (?#Comment)"},
      {126, "TRegExpEngine(comp): If you want take part in beta-testing BRACES '{min,max}' and non-greedy ops "
            "'*?', '+?', '?" "?' for complex cases - remove '.' from {.$DEFINE ComplexBraces}"},
      {127, "TRegExpEngine(comp): Urecognized Modifier"},
      {128, "TRegExpEngine(comp): LinePairedSeparator must countain two different chars or no chars at all"},
      {1000, "TRegExpEngine(exec): RegRepeat Called Inappropriately"},
      {1001, "TRegExpEngine(exec): MatchPrim Memory Corruption"},
      {1002, "TRegExpEngine(exec): MatchPrim Corrupted Pointers"},
      {1003, "TRegExpEngine(exec): Not Assigned Expression Property"},
      {1004, "TRegExpEngine(exec): Corrupted Program"},
      {1005, "TRegExpEngine(exec): No Inpit String Specified"},
      {1006, "TRegExpEngine(exec): Offset Must Be Greater Then 0"},
      {1007, "TRegExpEngine(exec): ExecNext Without Exec[Pos]"},
      {1008, "TRegExpEngine(exec): GetInputString Without InputString"},
      {1011, "TRegExpEngine(dump): Corrupted Opcode"},
      {1014, "TRegExpEngine(exec): Loop Stack Exceeded"},
      {1015, "TRegExpEngine(exec): Loop Without LoopEntry !"},
      {117, "Unknown error"},
      {1012, "Unknown error"},
  };
  TRegExpEngine re;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(re.ErrorText(c.code), c.text);
  }
}

TEST(AuditRegExp, CompileErrorsCarryTheirPosition) {
  struct Case {
    const char* pattern;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {"(abc", 103, "TRegExpEngine(comp): ParseReg Unmatched () (pos 4)"},
      {"ab)", 104, "TRegExpEngine(comp): ParseReg Unmatched () (pos 2)"},
      {"[z-a]", 109, "TRegExpEngine(comp): Invalid [] Range (pos 4)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    TRegExpEngine re;
    re.SetExpression(c.pattern);
    try {
      (void)re.Exec("x");
      ADD_FAILURE() << "compiled";
    } catch (const ERegExpEngine& e) {
      EXPECT_EQ(e.Code, c.code);
      EXPECT_STREQ(e.what(), c.text);
      EXPECT_GT(e.Position, 0);
    }
  }
}

TEST(AuditSettings, AFloatOfTheWrongLengthRaisesTheReadersText) {
  testsupport::TempRegistry registry;
  TBWLConfigManager cfg;
  cfg.SetAppName("HivescopeAudit");
  {
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(cfg.GetBaseKey(), true));
    const std::uint8_t bytes[9] = {};
    reg.WriteBinaryData("Short", bytes, 4);
    reg.WriteBinaryData("Long", bytes, 9);
    reg.WriteBinaryData("Exact", bytes, 8);
  }
  double value = 1.5;
  EXPECT_EQ(thrownText([&] { (void)cfg.ReadFloat("Short", value); }), "Invalid data type for 'Short'");
  EXPECT_EQ(thrownText([&] { (void)cfg.ReadFloat("Long", value); }), "Failed to get data for 'Long'");
  EXPECT_EQ(value, 1.5);
  EXPECT_TRUE(cfg.ReadFloat("Exact", value));
  EXPECT_EQ(value, 0.0);
}

TEST(AuditSQLite, ColumnKindsComeFromTheExactDeclaredType) {
  testsupport::TempDir dir;
  TSQLiteDatabase db((dir / "k.sqlite").string());
  db.Execute(
      "CREATE TABLE t (i INT, b BOOLEAN, n NUMERIC, d DOUBLE, fl FLOAT, v VARCHAR(10), bl BLOB)");
  db.Execute("INSERT INTO t VALUES (5, 1, 2.5, 3.5, 4.5, 'x', x'00')");
  auto t = db.Query("SELECT *, NULL AS nix FROM t");
  ASSERT_EQ(t->GetRowCount(), 1);
  struct Case {
    const char* column;
    bool isNumber;
    const char* text;
  };
  const Case cases[] = {
      {"i", false, "5"},  // "INT" is none of the integer declarations: text
      {"b", true, "1"},        {"n", true, "2.5"}, {"d", true, "3.5"}, {"fl", true, "4.5"},
      {"v", false, "x"},       {"nix", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    const int column = t->ColumnIndex(c.column);
    EXPECT_EQ(t->CellText(column), c.text);
    if (c.isNumber) {
      EXPECT_NO_THROW((void)t->CellFloat(column));
    } else if (std::string(c.column) != "nix") {
      EXPECT_EQ(thrownText([&] { (void)t->CellInt64(column); }), "Not an integer or numeric field");
    }
  }
  // A column of no declared type whose first row is NULL reads as nothing.
  EXPECT_EQ(t->CellInt64(t->ColumnIndex("nix")), 0);
  EXPECT_EQ(t->CellStream(t->ColumnIndex("nix")), nullptr);
  EXPECT_EQ(t->CellBlobText(t->ColumnIndex("bl")), std::string(1, '\0'));
}

// A type number without a kind of its own (device properties use such
// numbers) survives the history: the deletion recorded, the row read back
// from the database, its undo line and its undo bring back the value under
// that number with its bytes.
TEST_F(AuditSpine, UndoOfADeletedValueKeepsAnUnknownTypeNumber) {
  testsupport::TempDir dir;
  const HKEY cu = HKEY_CURRENT_USER;
  const std::string tree = testKey("Unknown");
  {
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(tree, true));
    const std::uint8_t bytes[] = {1, 2, 3};
    reg.writeRawValue("dev", 0xffff0011u, bytes);
    reg.writeRawValue("none", 0, {});
  }
  const auto before = walk(cu, tree);
  {
    TRegistryChangeHistory history((dir / "h.sqlite").string());
    history.RecordKeyDelete(cu, tree);
  }
  ASSERT_TRUE(DeleteRegistryKey(cu, tree, ViewByte::v32));
  TRegistryChangeHistory history((dir / "h.sqlite").string());
  history.LoadAll();
  std::vector<std::string> undo;
  for (int i = 0; i < history.Count(); ++i) history.GetItem(i).GetUndoLines(undo);
  EXPECT_NE(std::find(undo.begin(), undo.end(), "\"dev\"=hex(ffff0011):01,02,03"), undo.end());
  EXPECT_NE(std::find(undo.begin(), undo.end(), "\"none\"=hex(0):"), undo.end());
  for (int i = history.Count() - 1; i >= 0; --i) EXPECT_TRUE(history.GetItem(i).Undo()) << i;
  EXPECT_EQ(walk(cu, tree), before);
}

TEST(AuditStrings, AnsiToWideCharsetUsesTheCharsetsCodePage) {
  CodePageGuard guard;
  setActiveCodePage(1252);
  struct Case {
    std::uint8_t charset;
    std::string text;
    std::u16string wide;
  };
  const Case cases[] = {
      {0, "\x80", u"\u20AC"},     // ANSI_CHARSET: 1252
      {204, "\xC0", u"\u0410"},   // RUSSIAN_CHARSET: 1251
      {161, "\xC1", u"\u0391"},   // GREEK_CHARSET: 1253
      {238, "\xA5", u"\u0104"},   // EASTEUROPE_CHARSET: 1250
      {77, "\xC0", u"\u00C0"},    // unknown: the active code page (1252 here)
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.charset));
    EXPECT_EQ(AnsiToWideCharset(c.text, c.charset), c.wide);
  }
}

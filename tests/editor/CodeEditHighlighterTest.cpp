#include "editor/CodeEditHighlighter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "editor/CodeHighlighterIni.h"
#include "platform/Registry.h"
#include "tests/support/TempDir.h"
#include "tests/support/ThrownText.h"

using namespace codeedit;
using namespace platform;

namespace {

// The least a highlighter must be: attributes added in the order given, and
// a scanner that takes one character per token.
class TestHighlighter : public TCodeCustomHighlighter {
public:
  explicit TestHighlighter(std::vector<const char*> names) {
    for (const char* name : names) {
      std::u16string caption(name, name + std::strlen(name));
      AddAttribute(std::make_unique<TCodeHighlighterAttributes>(name, caption));
    }
    SetAttributesOnChange();
  }
  TCodeHighlighterAttributes* DefaultAttribute(int) const override { return nullptr; }
  bool AtLineEnd() const override { return FScanPos > FScanLength; }
  TCodeHighlighterAttributes* CurrentTokenAttribute() const override { return nullptr; }
  int CurrentTokenKind() const override { return 0; }
  void ScanNextToken() override {
    FTokenStart = FScanPos;
    ++FScanPos;
    TCodeCustomHighlighter::ScanNextToken();
  }
  const std::u16string& scanLine() const { return FScanLine; }
};

struct Listener {
  std::vector<void*> senders;
  void Changed(void* sender) { senders.push_back(sender); }
};

}  // namespace

TEST(CodeEditHighlighterTest, AttributesInStorageNameOrder) {
  TestHighlighter h({"Comment", "Text", "Section"});
  ASSERT_EQ(h.AttributeCount(), 3);
  EXPECT_EQ(h.AttributeByIndex(0)->StorageName(), "Comment");
  EXPECT_EQ(h.AttributeByIndex(1)->StorageName(), "Section");
  EXPECT_EQ(h.AttributeByIndex(2)->StorageName(), "Text");
  EXPECT_EQ(h.AttributeByIndex(-1), nullptr);
  EXPECT_EQ(h.AttributeByIndex(3), nullptr);

  TCodeIniHighlighter ini;
  std::string order;
  for (int i = 0; i < ini.AttributeCount(); ++i)
    order += ini.AttributeByIndex(i)->StorageName() + " ";
  EXPECT_EQ(order, "Comment Key Number Section Space String Symbol Text ");
  EXPECT_EQ(ini.AttributeByIndex(ini.AttributeCount()), nullptr);

  // Names are told apart without regard to case.
  EXPECT_EQ(thrownText([&] { h.AddAttribute(std::make_unique<TCodeHighlighterAttributes>("text", u"t")); }),
            "String list does not allow duplicates");
  EXPECT_EQ(h.AttributeCount(), 3);
}

TEST(CodeEditHighlighterTest, EditorsHearOfChanges) {
  TCodeIniHighlighter h;
  Listener editor;
  h.AddChangeHandler(NotifyEvent<&Listener::Changed>(&editor));

  h.SetEnabled(false);
  h.SetEnabled(false);
  EXPECT_EQ(editor.senders, std::vector<void*>{nullptr});

  h.KeyAttri()->SetForeground(0x0000FF);
  h.KeyAttri()->SetForeground(0x0000FF);
  ASSERT_EQ(editor.senders.size(), 2u);
  EXPECT_EQ(editor.senders[1], h.KeyAttri());

  // Style bits change the style one step at a time.
  editor.senders.clear();
  h.TextAttri()->SetStyleBits(3);
  EXPECT_EQ(h.TextAttri()->Style(), fsBold | fsItalic);
  EXPECT_EQ(h.TextAttri()->GetStyleBits(), 3);
  EXPECT_EQ(editor.senders.size(), 2u);

  // While settings load, the editors hear once at the end.
  editor.senders.clear();
  h.BeginLoading();
  h.SetEnabled(true);
  h.CommentAttri()->SetStyle(0);
  EXPECT_TRUE(editor.senders.empty());
  h.Loaded();
  EXPECT_EQ(editor.senders, std::vector<void*>{nullptr});

  h.RemoveChangeHandler(NotifyEvent<&Listener::Changed>(&editor));
  h.SetEnabled(false);
  EXPECT_EQ(editor.senders.size(), 1u);
}

TEST(CodeEditHighlighterTest, AttributeAssignAndDefaults) {
  TCodeHighlighterAttributes a("A", u"A"), b("B", u"B");
  int changes = 0;
  a.OnChange = [&](TCodeHighlighterAttributes&) { ++changes; };
  b.SetBackground(0x112233);
  b.SetStyle(fsUnderline);
  a.AssignColorAndStyle(b);
  EXPECT_EQ(changes, 1);
  a.AssignColorAndStyle(b);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(a.BackgroundIsStored());
  EXPECT_FALSE(a.ForegroundIsStored());
  a.RecordDefaults();
  EXPECT_FALSE(a.BackgroundIsStored() || a.StyleIsStored());
  a.Assign(b);
  EXPECT_EQ(a.StorageName(), "B");
  EXPECT_EQ(a.Caption(), u"A");
}

TEST(CodeEditHighlighterTest, HighlighterAssign) {
  TCodeIniHighlighter source, target;
  source.StringAttri()->SetForeground(0xABCDEF);
  source.SetDefaultFilter("Reg (*.reg)|*.reg");
  source.SetEnabled(false);
  TestHighlighter other({"String", "Extra"});
  other.AttributeByIndex(1)->SetStyle(fsBold);  // "String"

  target.Assign(source);
  EXPECT_EQ(target.StringAttri()->Foreground(), 0xABCDEFu);
  EXPECT_EQ(target.GetDefaultFilter(), "Reg (*.reg)|*.reg");
  EXPECT_FALSE(target.Enabled());
  target.Assign(other);  // only the attributes of the same name
  EXPECT_EQ(target.StringAttri()->Style(), fsBold);
  EXPECT_EQ(target.StringAttri()->Foreground(), clNone);
  EXPECT_EQ(target.CommentAttri()->Style(), fsItalic);
  EXPECT_TRUE(target.Enabled());
}

TEST(CodeEditHighlighterTest, CharacterClasses) {
  TestHighlighter h({});
  struct Case {
    char16_t ch;
    bool white, ident, wordBreak;
  } cases[] = {
      {u'\t', true, false, true},      {u' ', true, false, true},      {u'\u00e9', true, false, false},
      {u'7', false, true, false},      {u',', false, false, true},     {u'_', false, true, false},
      {u'\u00a7', false, false, true}, {u'\u00b4', false, false, true}, {u'~', false, false, true},
      {u'\u4e00', true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.ch));
    EXPECT_EQ(h.IsWhiteChar(c.ch), c.white);
    EXPECT_EQ(h.IsIdentChar(c.ch), c.ident);
    EXPECT_EQ(h.IsWordBreakChar(c.ch), c.wordBreak);
  }
}

TEST(CodeEditHighlighterTest, ScanLineIsLowerCaseTokensKeepTheirCase) {
  TestHighlighter h({});
  h.SetLine(u"AbC\u00c9", 7);
  EXPECT_EQ(h.scanLine().substr(0, 4), u"abc\u00e9");
  EXPECT_EQ(h.GetTokenText(), u"A");
  EXPECT_FALSE(h.IsLineEnd(3));
  EXPECT_TRUE(h.IsLineEnd(4));
  int tokens = 0;
  h.SetLine(u"x\ry", 0);
  EXPECT_TRUE(h.IsLineEnd(1));
  h.NextToEol();
  EXPECT_TRUE(h.AtLineEnd());
  h.SetLine(u"", 0);
  for (; !h.AtLineEnd(); h.ScanNextToken())
    ++tokens;
  EXPECT_EQ(tokens, 0);
}

// ---- Registry

namespace {

struct CodeEditHighlighterRegistryTest : testing::Test {
  static constexpr const char* kKey = "\\Software\\HivescopeTests\\Highlighter";

  HKEY create(const std::u16string& path) {
    HKEY key{};
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    keys.push_back(key);
    return key;
  }
  void setDword(HKEY key, const char16_t* name, DWORD value) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
  }
  void setString(HKEY key, const char16_t* name, const std::u16string& value) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * 2)),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    for (HKEY key : keys)
      RegCloseKey(key);
  }

  testsupport::TempRegistry registry;
  std::vector<HKEY> keys;
};

}  // namespace

TEST_F(CodeEditHighlighterRegistryTest, SaveThenLoadRoundTripsEveryAttribute) {
  TCodeIniHighlighter saved;
  for (int i = 0; i < saved.AttributeCount(); ++i) {
    TCodeHighlighterAttributes* a = saved.AttributeByIndex(i);
    a->SetForeground(0x010203u * static_cast<TColor>(i + 1));
    a->SetBackground(i % 2 ? clWindow : 0x00FFEE00u + static_cast<TColor>(i));
    a->SetStyle(static_cast<TFontStyles>(i % 16));
  }
  ASSERT_TRUE(saved.SaveToRegistry(HKEY_CURRENT_USER, kKey));

  TCodeIniHighlighter loaded;
  ASSERT_TRUE(loaded.LoadFromRegistry(HKEY_CURRENT_USER, kKey));
  for (int i = 0; i < saved.AttributeCount(); ++i) {
    SCOPED_TRACE(saved.AttributeByIndex(i)->StorageName());
    EXPECT_EQ(loaded.AttributeByIndex(i)->Foreground(), saved.AttributeByIndex(i)->Foreground());
    EXPECT_EQ(loaded.AttributeByIndex(i)->Background(), saved.AttributeByIndex(i)->Background());
    EXPECT_EQ(loaded.AttributeByIndex(i)->Style(), saved.AttributeByIndex(i)->Style());
  }

  // The layout on disk: a sub-key per attribute with three REG_DWORD values.
  HKEY key{};
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\HivescopeTests\\Highlighter\\Comment", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  keys.push_back(key);
  DWORD type = 0, value = 0, size = sizeof value;
  ASSERT_EQ(RegQueryValueExW(key, u"Style", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(value, 0u);
}

TEST_F(CodeEditHighlighterRegistryTest, LoadTakesWhatIsThere) {
  HKEY key = create(u"Software\\HivescopeTests\\Highlighter\\Key");
  setDword(key, u"Style", 3);
  TCodeIniHighlighter h;
  // Only "Key" exists: the others answer false, and Key changes its style alone.
  EXPECT_FALSE(h.LoadFromRegistry(HKEY_CURRENT_USER, kKey));
  EXPECT_EQ(h.KeyAttri()->Style(), fsBold | fsItalic);
  EXPECT_EQ(h.KeyAttri()->Foreground(), clNone);
  EXPECT_EQ(h.KeyAttri()->Background(), clNone);
  EXPECT_EQ(h.CommentAttri()->Style(), fsItalic);

  EXPECT_FALSE(h.LoadFromRegistry(HKEY_CURRENT_USER, "Software\\HivescopeTests\\Missing"));

  setString(key, u"Foreground", u"red");
  EXPECT_EQ(thrownText([&] { h.LoadFromRegistry(HKEY_CURRENT_USER, kKey); }),
            "Invalid data type for 'Foreground'");
}

TEST_F(CodeEditHighlighterRegistryTest, EditorSettingsListLayout) {
  HKEY key = create(u"Software\\HivescopeTests\\Editor\\Colors");
  setString(key, u"Reserved Word", u"0,0,BI,1,0,0,12");
  setString(key, u"Comment", u"0,0,U,0,0,2,7");
  setString(key, u"Short", u"0,0,B");
  setString(key, u"Bad", u"0,0,B,0,0,99,0");
  const std::string path = "Software\\HivescopeTests\\Editor\\Colors";

  TCodeHighlighterAttributes a("A", u"A");
  ASSERT_TRUE(a.LoadFromEditorSettings(HKEY_CURRENT_USER, path, "Reserved Word", true));
  EXPECT_EQ(a.Foreground(), clWindowText);
  EXPECT_EQ(a.Background(), 0xFF0000u);
  EXPECT_EQ(a.Style(), fsBold | fsItalic);

  ASSERT_TRUE(a.LoadFromEditorSettings(HKEY_CURRENT_USER, path, "Comment", true));
  EXPECT_EQ(a.Foreground(), 0x008000u);
  EXPECT_EQ(a.Background(), 0xC0C0C0u);
  EXPECT_EQ(a.Style(), fsUnderline);

  // Missing values, missing fields and colour indexes past the palette fail
  // without raising.
  EXPECT_FALSE(a.LoadFromEditorSettings(HKEY_CURRENT_USER, path, "Whitespace", true));
  EXPECT_FALSE(a.LoadFromEditorSettings(HKEY_CURRENT_USER, path, "Short", true));
  EXPECT_FALSE(a.LoadFromEditorSettings(HKEY_CURRENT_USER, path, "Bad", true));
  EXPECT_FALSE(a.LoadFromEditorSettings(HKEY_CURRENT_USER, "Software\\HivescopeTests\\Nothing", "Comment", true));
}

TEST_F(CodeEditHighlighterRegistryTest, EditorSettingsKeyLayout) {
  const std::string path = "Software\\HivescopeTests\\Editor\\Highlight";
  HKEY partial = create(u"Software\\HivescopeTests\\Editor\\Highlight\\Partial");
  setDword(partial, u"Foreground Color", 9);
  setDword(partial, u"Background Color", 0);
  for (const char16_t* name : {u"Bold", u"Italic", u"Default Foreground", u"Default Background"})
    setString(partial, name, u"False");

  TCodeHighlighterAttributes a("A", u"A");
  EXPECT_FALSE(a.LoadFromEditorSettings(HKEY_CURRENT_USER, path, "Partial", false));
  EXPECT_EQ(a.Foreground(), clNone);
  EXPECT_EQ(a.Background(), clNone);

  setString(partial, u"Underline", u"");  // an empty text counts as set
  ASSERT_TRUE(a.LoadFromEditorSettings(HKEY_CURRENT_USER, path, "Partial", false));
  EXPECT_EQ(a.Foreground(), 0x0000FFu);
  EXPECT_EQ(a.Background(), 0x000000u);
  EXPECT_EQ(a.Style(), fsUnderline);

  HKEY named = create(u"Software\\HivescopeTests\\Editor\\Highlight\\Named");
  setString(named, u"Foreground Color New", u"clNavy");
  setString(named, u"Background Color New", u"$00FF00");
  setString(named, u"Bold", u"true");
  setString(named, u"Italic", u"0");
  setString(named, u"Underline", u"FALSE");
  setString(named, u"Default Foreground", u"false");
  setString(named, u"Default Background", u"1");
  ASSERT_TRUE(a.LoadFromEditorSettings(HKEY_CURRENT_USER, path, "Named", false));
  EXPECT_EQ(a.Foreground(), 0x800000u);
  EXPECT_EQ(a.Background(), clWindow);
  EXPECT_EQ(a.Style(), fsBold);

  EXPECT_FALSE(a.LoadFromEditorSettings(HKEY_CURRENT_USER, path, "Absent", false));
}

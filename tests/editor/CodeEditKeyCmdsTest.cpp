#include "editor/CodeEditKeyCmds.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

#include "tests/support/ThrownText.h"

using namespace codeedit;

TEST(CodeEditKeyCmdsTest, IdentifierTableRoundTrips) {
  const auto& table = EditorCommandIdents();
  ASSERT_EQ(table.size(), 101u);
  std::set<int> numbers;
  for (const TCodeEditorCommandIdent& entry : table) {
    SCOPED_TRACE(std::string(entry.Ident));
    int number = -1;
    std::string ident;
    ASSERT_TRUE(CommandFromIdent(entry.Ident, number));
    EXPECT_EQ(number, entry.Command);
    ASSERT_TRUE(CommandToIdent(entry.Command, ident));
    EXPECT_EQ(ident, entry.Ident);
    EXPECT_TRUE(numbers.insert(entry.Command).second) << "number listed twice";
  }
  // Every movement has its selecting twin a hundred above.
  for (int move = ecLeft; move <= ecGotoXY; ++move) {
    std::string a, b;
    ASSERT_TRUE(CommandToIdent(move, a));
    ASSERT_TRUE(CommandToIdent(move + 100, b));
    EXPECT_EQ("ecSel" + a.substr(2), b);
  }
}

TEST(CodeEditKeyCmdsTest, LookupsOutsideTheTable) {
  int number = 77;
  std::string ident = "kept";
  EXPECT_TRUE(CommandFromIdent("ECCOPY", number));  // identifiers ignore case
  EXPECT_EQ(number, ecCopy);
  number = 77;
  EXPECT_FALSE(CommandFromIdent("ecNoSuchThing", number));
  EXPECT_EQ(number, 77);
  EXPECT_FALSE(CommandToIdent(5000, ident));
  EXPECT_EQ(ident, "kept");
  EXPECT_EQ(CommandToText(ecSetMarker9), "ecSetMarker9");
  EXPECT_EQ(CommandToText(5000), "5000");
  EXPECT_EQ(CommandToText(1002), "1002");  // user commands past the first have no name
}

TEST(CodeEditKeyCmdsTest, ShortCutTexts) {
  const std::pair<TShortCut, std::string> cases[] = {
      {ShortCut('C', ssCtrl), "Ctrl+C"},
      {ShortCut(VK_INSERT, ssShift), "Shift+Ins"},
      {ShortCut(VK_BACK, ssShift | ssAlt), "Shift+Alt+BkSp"},
      {ShortCut(VK_NEXT, ssCtrl | ssShift), "Shift+Ctrl+PgDn"},
      {ShortCut(VK_F1 + 4, ssCtrl | ssAlt | ssShift), "Shift+Ctrl+Alt+F5"},
      {ShortCut('7', 0), "7"},
      {0, ""},
      {ShortCut(0xE8, ssCtrl), ""},  // a key without a name
  };
  for (const auto& [value, text] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ShortCutToText(value), text);
  }
  std::uint16_t key = 0;
  TShiftState shift = 0;
  ShortCutToKey(ShortCut(VK_UP, ssCtrl | ssAlt), key, shift);
  EXPECT_EQ(key, VK_UP);
  EXPECT_EQ(shift, ssCtrl | ssAlt);
  EXPECT_EQ(ShortCut(0x1FF, 0), 0);
}

TEST(CodeEditKeyCmdsTest, DefaultMap) {
  TCodeEditKeyStrokes keys;
  keys.AddBinding(ecUserFirst, 'Q', ssCtrl);  // cleared by the defaults
  keys.LoadDefaults();
  ASSERT_EQ(keys.Count(), 82);
  EXPECT_EQ(keys.FindSingleKey('C', ssCtrl), 46);
  EXPECT_EQ(keys.Items(0).Command(), ecUp);
  EXPECT_EQ(keys.Items(81).Command(), ecMatchBracket);
  EXPECT_EQ(keys.Items(keys.FindSingleKey('5', ssCtrl | ssShift)).Command(), ecSetMarker0 + 5);
  EXPECT_EQ(keys.Items(keys.FindSingleKey(VK_BACK, ssShift | ssAlt)).Command(), ecRedo);
  EXPECT_EQ(keys.FindSingleKey('Q', ssCtrl), -1);

  std::set<std::pair<int, int>> seen;
  int copies = 0;
  for (int i = 0; i < keys.Count(); ++i) {
    const TCodeEditKeyStroke& k = keys.Items(i);
    EXPECT_EQ(k.SecondKey(), 0);
    EXPECT_TRUE(seen.insert({k.FirstKey(), k.FirstShift()}).second) << k.GetDisplayName();
    if (k.Command() == ecCopy)
      ++copies;
  }
  EXPECT_EQ(copies, 2);
  EXPECT_EQ(keys.Items(46).GetDisplayName(), "ecCopy - Ctrl+C");
  EXPECT_EQ(keys.Items(33).GetDisplayName(), "ecPaste - Shift+Ins");
}

TEST(CodeEditKeyCmdsTest, DuplicateShortCutRaisesAndKeepsTheItem) {
  TCodeEditKeyStrokes keys;
  keys.AddBinding(ecCopy, 'C', ssCtrl);
  keys.AddBinding(ecPaste, 'V', ssCtrl);
  TCodeEditKeyStroke& paste = keys.Items(1);

  EXPECT_EQ(thrownText([&] { paste.SetShortCut(ShortCut('C', ssCtrl)); }), "Shortcut already exists");
  EXPECT_EQ(paste.GetShortCut(), ShortCut('V', ssCtrl));
  // A binding of a bound key is refused and leaves no half-made item.
  EXPECT_EQ(thrownText([&] { keys.AddBinding(ecCut, 'V', ssCtrl); }), "Shortcut already exists");
  EXPECT_EQ(keys.Count(), 2);
  EXPECT_THROW(keys.AddBinding(ecCut, 'V', ssCtrl), ECodeKeyError);

  // Its own value and 0 never raise; 0 clears the key.
  EXPECT_NO_THROW(paste.SetShortCut(ShortCut('V', ssCtrl)));
  EXPECT_NO_THROW(paste.SetShortCut(0));
  EXPECT_EQ(paste.FirstKey(), 0);
  EXPECT_EQ(paste.FirstShift(), 0);
  EXPECT_NO_THROW(keys.Items(0).SetShortCut(0));  // now both items hold 0/0
}

TEST(CodeEditKeyCmdsTest, TwoKeySequences) {
  TCodeEditKeyStrokes keys;
  TCodeEditKeyStroke& pair = keys.Add();
  pair.SetCommand(ecUserFirst);
  pair.SetShortCut(ShortCut('K', ssCtrl));
  pair.SetShortCut2(ShortCut('B', ssCtrl));
  EXPECT_EQ(keys.FindSingleKey('K', ssCtrl), -1);
  EXPECT_EQ(keys.FindKeyPair('K', ssCtrl, 'B', ssCtrl), 0);
  EXPECT_EQ(keys.FindKeyPair('K', ssCtrl, 'B', 0), -1);
  keys.AddBinding(ecCopy, 'K', ssCtrl);  // a single key beside the sequence it starts
  EXPECT_EQ(keys.FindSingleKey('K', ssCtrl), 1);

  // A second key that makes the pair of another item is refused.
  TCodeEditKeyStroke& other = keys.Items(1);
  EXPECT_THROW(other.SetShortCut2(ShortCut('B', ssCtrl)), ECodeKeyError);
  EXPECT_EQ(other.SecondKey(), 0);

  EXPECT_EQ(pair.GetDisplayName(), "ecUserFirst - Ctrl+K Ctrl+B");
  TCodeEditKeyStroke& unnamed = keys.Add();
  unnamed.SetCommand(5000);
  EXPECT_EQ(unnamed.GetDisplayName().rfind("5000", 0), 0u);
}

TEST(CodeEditKeyCmdsTest, AssignCopiesEveryItem) {
  TCodeEditKeyStrokes source;
  source.LoadDefaults();
  source.Items(3).SetShortCut2(ShortCut('X', ssAlt));
  TCodeEditKeyStrokes target;
  target.AddBinding(ecUserFirst, 'Q', ssCtrl);
  target.Assign(source);
  ASSERT_EQ(target.Count(), source.Count());
  for (int i = 0; i < source.Count(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(target.Items(i).GetDisplayName(), source.Items(i).GetDisplayName());
    EXPECT_EQ(target.Items(i).Index(), i);
  }
  // The copies belong to the target: a clash is found there.
  EXPECT_THROW(target.Items(0).SetShortCut(ShortCut('C', ssCtrl)), ECodeKeyError);
}

namespace {

// What each pair of keys runs, the first binding of a pair winning as it does
// when a key is pressed.
std::map<std::pair<TShortCut, TShortCut>, TCodeEditorCommand> Bound(const TCodeEditKeyStrokes& keys) {
  std::map<std::pair<TShortCut, TShortCut>, TCodeEditorCommand> result;
  for (int i = 0; i < keys.Count(); ++i)
    result.emplace(std::pair{keys.Items(i).GetShortCut(), keys.Items(i).GetShortCut2()}, keys.Items(i).Command());
  return result;
}

}  // namespace

TEST(CodeEditKeyCmdsTest, DefaultMapHasNoDifferences) {
  TCodeEditKeyStrokes defaults, current, added, removed;
  defaults.LoadDefaults();
  current.LoadDefaults();
  EXPECT_TRUE(KeystrokesEqual(current, defaults));
  AddedKeystrokes(current, defaults, added);
  RemovedKeystrokes(current, defaults, removed);
  EXPECT_EQ(added.Count(), 0);
  EXPECT_EQ(removed.Count(), 0);
  // The same bindings in another order are a different map.
  current.Delete(0);
  current.AddBinding(ecUp, VK_UP, 0);
  EXPECT_FALSE(KeystrokesEqual(current, defaults));
}

TEST(CodeEditKeyCmdsTest, DifferencesApplyBackToTheSameBindings) {
  TCodeEditKeyStrokes defaults;
  defaults.LoadDefaults();
  struct Case {
    const char* name;
    void (*change)(TCodeEditKeyStrokes&);
    int added, removed;
    bool sameOrder;  // a binding changed in place comes back at the end
  };
  const Case cases[] = {
      {"one default removed, another key added",
       [](TCodeEditKeyStrokes& k) {
         k.Delete(k.FindSingleKey('Y', ssCtrl));
         TCodeEditKeyStroke& pair = k.Add();
         pair.SetCommand(ecUserFirst);
         pair.SetShortCut(ShortCut('K', ssCtrl));
         pair.SetShortCut2(ShortCut('B', ssCtrl));
       },
       1, 1, true},
      {"a default key given another command",
       [](TCodeEditKeyStrokes& k) { k.Items(k.FindSingleKey('C', ssCtrl)).SetCommand(ecCut); }, 1, 1, false},
      {"a default key moved to another key",
       [](TCodeEditKeyStrokes& k) { k.Items(k.FindSingleKey('X', ssCtrl)).SetShortCut(ShortCut('X', ssAlt)); }, 1,
       1, false},
      {"everything removed", [](TCodeEditKeyStrokes& k) { k.Clear(); }, 0, 82, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCodeEditKeyStrokes current, added, removed;
    current.LoadDefaults();
    c.change(current);
    EXPECT_FALSE(KeystrokesEqual(current, defaults));
    AddedKeystrokes(current, defaults, added);
    RemovedKeystrokes(current, defaults, removed);
    EXPECT_EQ(added.Count(), c.added);
    EXPECT_EQ(removed.Count(), c.removed);

    // Read back as a stored form does: the removed ones go first, so a key
    // given a new command is free again when its new binding arrives.
    TCodeEditKeyStrokes restored;
    restored.LoadDefaults();
    ApplyRemovedKeystrokes(restored, removed);
    ApplyAddedKeystrokes(restored, added);
    EXPECT_EQ(Bound(restored), Bound(current));
    EXPECT_EQ(restored.Count(), current.Count());
    if (c.sameOrder) {
      EXPECT_TRUE(KeystrokesEqual(restored, current));
    }
  }
}

TEST(CodeEditKeyCmdsTest, RemovingLeavesAKeyBoundToAnotherCommand) {
  TCodeEditKeyStrokes target, removed;
  target.AddBinding(ecUserFirst, 'C', ssCtrl);
  target.AddBinding(ecPaste, 'V', ssCtrl);
  removed.AddBinding(ecCopy, 'C', ssCtrl);   // the key is now the user's command
  removed.AddBinding(ecPaste, 'V', ssCtrl);  // this one goes
  removed.AddBinding(ecCut, 'X', ssCtrl);    // not bound at all
  ApplyRemovedKeystrokes(target, removed);
  ASSERT_EQ(target.Count(), 1);
  EXPECT_EQ(target.Items(0).Command(), ecUserFirst);
  EXPECT_EQ(target.Items(0).GetShortCut(), ShortCut('C', ssCtrl));
}

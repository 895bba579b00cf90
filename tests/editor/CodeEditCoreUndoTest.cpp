#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "editor/CodeEditCore.h"
#include "tests/editor/CodeEditCoreFixture.h"

using namespace codeedit;

namespace {

struct UndoFixture : ::testing::Test {
  CellView view;
  TCodeEditCore core{&view};

  void SetUp() override { SetLines(core, {u"line one", u"line two", u"line three"}); }
  void type(std::u16string_view text) {
    for (char16_t c : text)
      core.ExecuteCommand(ecChar, c, nullptr);
  }
  // A caret move as the keys make one: a change after it is a new step.
  void moveTo(TBufferCoord pos) { core.ExecuteCommand(ecGotoXY, 0, &pos); }
  int undoSteps() {
    int steps = 0;
    while (core.UndoList().CanUndo() && steps < 100) {
      core.Undo();
      ++steps;
    }
    return steps;
  }
};

TEST_F(UndoFixture, TypedCharactersAreOneStepOnlyWithGroupUndo) {
  for (bool group : {true, false}) {
    SCOPED_TRACE(group ? "grouped" : "one by one");
    SetUp();
    core.SetOptions(group ? core.Options() | OptionBit(eoGroupUndo) : core.Options() & ~OptionBit(eoGroupUndo));
    moveTo({1, 1});
    type(u"abc");
    EXPECT_EQ(core.LineText(1), u"abcline one");
    core.Undo();
    EXPECT_EQ(core.LineText(1), group ? u"line one" : u"abline one");
    EXPECT_EQ(undoSteps(), group ? 0 : 2);
    EXPECT_EQ(core.LineText(1), u"line one");
  }
}

TEST_F(UndoFixture, ACaretMoveBetweenTypingStartsANewStep) {
  moveTo({1, 1});
  type(u"ab");
  moveTo({1, 2});
  type(u"cd");
  core.Undo();
  EXPECT_EQ(LinesOf(core), (TextLines{u"abline one", u"line two", u"line three"}));
  core.Undo();
  EXPECT_EQ(LinesOf(core), (TextLines{u"line one", u"line two", u"line three"}));
  // Redo walks forward the same steps.
  core.Redo();
  EXPECT_EQ(core.LineText(1), u"abline one");
  EXPECT_EQ(core.LineText(2), u"line two");
  core.Redo();
  EXPECT_EQ(core.LineText(2), u"cdline two");
}

TEST_F(UndoFixture, TwoIndentsUndoOneAtATime) {
  core.SetOptions(core.Options() | OptionBit(eoTabsToSpaces));
  core.SetTabWidth(2);
  core.SetCaretAndSelection({1, 3}, {1, 1}, {1, 3});
  core.ExecuteCommand(ecBlockIndent, 0, nullptr);
  core.ExecuteCommand(ecBlockIndent, 0, nullptr);
  EXPECT_EQ(core.LineText(2), u"    line two");
  core.Undo();
  EXPECT_EQ(LinesOf(core), (TextLines{u"  line one", u"  line two", u"line three"}));
  core.Undo();
  EXPECT_EQ(LinesOf(core), (TextLines{u"line one", u"line two", u"line three"}));
}

TEST_F(UndoFixture, APasteIsOneStepThatBringsTheReplacedSelectionBack) {
  core.SetCaretAndSelection({5, 1}, {1, 1}, {5, 1});
  core.PasteText(u"first\r\nsecond", smNormal);
  EXPECT_EQ(LinesOf(core), (TextLines{u"first", u"second one", u"line two", u"line three"}));
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{7, 2}));
  core.Undo();
  EXPECT_EQ(LinesOf(core), (TextLines{u"line one", u"line two", u"line three"}));
  EXPECT_TRUE(core.SelAvail());
  EXPECT_EQ(core.BlockBeginSorted(), (TBufferCoord{1, 1}));
  EXPECT_EQ(core.BlockEndSorted(), (TBufferCoord{5, 1}));
  EXPECT_FALSE(core.UndoList().CanUndo());
  core.Redo();
  EXPECT_EQ(LinesOf(core), (TextLines{u"first", u"second one", u"line two", u"line three"}));
  EXPECT_FALSE(core.RedoList().CanUndo());
}

TEST_F(UndoFixture, PastedColumnsAndLinesGoBackInOneStep) {
  core.SetCaretAndSelection({3, 1}, {3, 1}, {3, 1});
  core.PasteText(u"XY\r\nZW", smColumn);
  EXPECT_EQ(LinesOf(core), (TextLines{u"liXYne one", u"liZWne two", u"line three"}));
  core.SetCaretAndSelection({4, 3}, {4, 3}, {4, 3});
  core.PasteText(u"new\r\n", smLine);
  EXPECT_EQ(LinesOf(core), (TextLines{u"liXYne one", u"liZWne two", u"new", u"line three"}));
  core.Undo();
  EXPECT_EQ(LinesOf(core), (TextLines{u"liXYne one", u"liZWne two", u"line three"}));
  core.Undo();
  EXPECT_EQ(LinesOf(core), (TextLines{u"line one", u"line two", u"line three"}));
}

TEST_F(UndoFixture, ANewChangeClearsRedo) {
  moveTo({1, 1});
  type(u"a");
  core.Undo();
  EXPECT_TRUE(core.RedoList().CanUndo());
  // Undo itself adds to the redo list and must not clear it; a change does.
  type(u"b");
  EXPECT_FALSE(core.RedoList().CanUndo());
  core.Redo();
  EXPECT_EQ(core.LineText(1), u"bline one");
}

TEST_F(UndoFixture, UndoingPastTheSavedStateSetsModified) {
  std::vector<TCodeStatusChanges> reported;
  core.OnStatusChange = [&](TCodeEditCore&, TCodeStatusChanges c) { reported.push_back(c); };
  moveTo({1, 1});
  type(u"ab");
  EXPECT_TRUE(core.Modified());
  core.SetModified(false);
  type(u"c");
  EXPECT_TRUE(core.Modified());
  core.Undo();
  EXPECT_FALSE(core.Modified()) << "back at the saved text";
  core.Undo();
  EXPECT_TRUE(core.Modified()) << "before the saved text";
  core.Redo();
  EXPECT_FALSE(core.Modified()) << "redone up to the saved text";
  core.Redo();
  EXPECT_TRUE(core.Modified());
  bool sawModified = false;
  for (TCodeStatusChanges c : reported)
    sawModified = sawModified || (c & scModified) != 0;
  EXPECT_TRUE(sawModified);
}

TEST_F(UndoFixture, NegativeMaxUndoIsIgnored) {
  core.SetMaxUndo(5);
  core.SetMaxUndo(-1);
  EXPECT_EQ(core.MaxUndo(), 5);
  EXPECT_EQ(core.RedoList().MaxEntries(), 5);
  core.SetMaxUndo(0);
  EXPECT_EQ(core.MaxUndo(), 0);
}

TEST_F(UndoFixture, ReadOnlyRefusesUndoRedoAndEveryChange) {
  moveTo({1, 1});
  type(u"ab");
  moveTo({1, 2});
  type(u"cd");
  core.Undo();
  const TextLines before = LinesOf(core);
  core.SetReadOnly(true);
  EXPECT_FALSE(core.CanUndo());
  core.Undo();
  core.Redo();
  for (TCodeEditorCommand c : {ecChar, ecDeleteChar, ecLineBreak, ecTab, ecBlockIndent, ecUndo, ecRedo, ecClearAll,
                               ecPaste, ecCut, ecUpperCase}) {
    SCOPED_TRACE(c);
    core.ExecuteCommand(c, u'x', nullptr);
  }
  EXPECT_EQ(LinesOf(core), before);
  EXPECT_TRUE(core.UndoList().CanUndo());
  EXPECT_TRUE(core.RedoList().CanUndo());
}

TEST_F(UndoFixture, ClearAllEmptiesTextUndoAndModified) {
  type(u"x");
  core.SetBookmark(3, 1, 2);
  core.ExecuteCommand(ecClearAll, 0, nullptr);
  EXPECT_EQ(core.LineCount(), 0);
  EXPECT_FALSE(core.UndoList().CanUndo());
  EXPECT_FALSE(core.RedoList().CanUndo());
  EXPECT_FALSE(core.Modified());
  EXPECT_EQ(core.BookMark(3), nullptr);
  EXPECT_EQ(core.Marks().Count(), 0);
}

TEST_F(UndoFixture, CaseConversionUndoRestoresSelectionAndCaret) {
  core.SetCaretAndSelection({5, 2}, {1, 2}, {5, 2});
  core.ExecuteCommand(ecUpperCaseBlock, 0, nullptr);
  EXPECT_EQ(core.LineText(2), u"LINE two");
  core.SetCaretAndSelection({9, 3}, {9, 3}, {9, 3});
  core.Undo();
  EXPECT_EQ(core.LineText(2), u"line two");
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{5, 2}));
  EXPECT_EQ(core.BlockBeginSorted(), (TBufferCoord{1, 2}));
  EXPECT_EQ(core.BlockEndSorted(), (TBufferCoord{5, 2}));
}

TEST_F(UndoFixture, AGroupOfEveryBracketGoesBackAsOneStep) {
  for (TCodeChangeReason begin : {crGroupABegin, crGroupBBegin, crGroupCBegin}) {
    SCOPED_TRACE(int(begin));
    SetUp();
    core.UndoList().AddChange(begin, {1, 1}, {1, 1}, u"", smNormal);
    moveTo({1, 1});
    type(u"a");
    moveTo({1, 2});
    type(u"b");
    core.UndoList().AddChange(static_cast<TCodeChangeReason>(begin + 1), {1, 1}, {1, 1}, u"", smNormal);
    core.Undo();
    EXPECT_EQ(LinesOf(core), (TextLines{u"line one", u"line two", u"line three"}));
    EXPECT_FALSE(core.UndoList().CanUndo());
    core.Redo();
    EXPECT_EQ(LinesOf(core), (TextLines{u"aline one", u"bline two", u"line three"}));
  }
}

// --- seeded random editing ----------------------------------------------------------

const TextLines RegText = {
    u"Windows Registry Editor Version 5.00",
    u"",
    u"[HKEY_CURRENT_USER\\Software\\Hivescope\\Test]",
    u"\"Name\"=\"Value with spaces\"",
    u"\"Number\"=dword:0000002a",
    u"@=\"default\"",
    u"    \"Indented\"=\"four blanks\"",
    u"\t\"Tabbed\"=\"one tab\"",
    u"",
    u"[HKEY_CURRENT_USER\\Software\\Hivescope\\Test\\Sub Key]",
    u"\"Path\"=hex(2):43,00,3a,00,5c,00,00,00",
    u"\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00",
    u"\"Wide\"=\"\u00e9t\u00e9 \u4E2D\u6587\"",
    u"",
};

struct RandomEditor {
  explicit RandomEditor(unsigned seed) : rng(seed) {}

  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

  TBufferCoord randomPos(TCodeEditCore& core) {
    const int line = pick(1, std::max(1, core.LineCount()));
    const int len = static_cast<int>(core.LineText(line).size());
    // Mostly inside the text, sometimes past the line end.
    const int x = pick(0, 9) == 0 ? pick(1, len + 6) : pick(1, len + 1);
    return {x, line};
  }

  void step(TCodeEditCore& core) {
    const int what = pick(0, 99);
    last = "command " + std::to_string(what) + " at " + std::to_string(core.CaretXY().CharPos) + "," +
           std::to_string(core.CaretXY().LinePos) + (core.SelAvail() ? " with a selection from " + std::to_string(core.BlockBegin().CharPos) + "," +
                                  std::to_string(core.BlockBegin().LinePos) + " mode " +
                                  std::to_string(core.ActiveSelectionMode())
                            : "") +
           (core.InsertMode() ? "" : " overwriting");
    if (what < 12) {
      TBufferCoord p = randomPos(core);
      core.ExecuteCommand(ecGotoXY, 0, &p);
      return;
    }
    if (what < 18) {
      const TBufferCoord a = randomPos(core), b = randomPos(core);
      core.SetSelectionMode(static_cast<TCodeSelectionMode>(pick(0, 2)));
      core.SetCaretAndSelection(b, a, b);
      return;
    }
    if (what < 20) {
      core.SetInsertMode(!core.InsertMode());
      return;
    }
    if (what < 23) {
      core.Undo();
      return;
    }
    if (what < 25) {
      core.Redo();
      return;
    }
    if (what < 30) {
      static const std::u16string clips[] = {u"x", u"two\r\nlines", u"\"a\"=\"b\"\r\n", u"\u00e9\u4E2D", u"\r\n"};
      const int clip = pick(0, 4), mode = pick(0, 2);
      last += " paste " + std::to_string(clip) + " mode " + std::to_string(mode);
      core.PasteText(clips[clip], static_cast<TCodeSelectionMode>(mode));
      return;
    }
    static const TCodeEditorCommand commands[] = {
        ecDeleteLastChar, ecDeleteChar,    ecDeleteWord,     ecDeleteLastWord,  ecDeleteBOL,
        ecDeleteEOL,      ecDeleteLine,    ecLineBreak,      ecInsertLine,      ecBlockIndent,
        ecBlockUnindent,  ecTab,           ecShiftTab,       ecUpperCase,       ecLowerCase,
        ecToggleCase,     ecTitleCase,     ecUpperCaseBlock, ecLowerCaseBlock,  ecToggleCaseBlock};
    if (what < 60) {
      static const char16_t chars[] = u"abcXYZ09 =\"[]\\,:\u00e9\u4E2D";
      core.ExecuteCommand(ecChar, chars[pick(0, static_cast<int>(std::size(chars)) - 2)], nullptr);
      return;
    }
    const TCodeEditorCommand command = commands[pick(0, static_cast<int>(std::size(commands)) - 1)];
    last += " editor command " + std::to_string(command) + " mode " + std::to_string(core.ActiveSelectionMode());
    core.ExecuteCommand(command, 0, nullptr);
  }

  std::mt19937 rng;
  std::string last;
};

unsigned SeedFromEnvironment(unsigned fallback) {
  const char* text = std::getenv("HIVESCOPE_EDITOR_SEED");
  return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : fallback;
}

struct RandomRun {
  const char* name;
  TCodeEditorOptions options;
  int tabWidth;
};

class RandomEditing : public ::testing::TestWithParam<RandomRun> {};

// Every change is recorded: taking back all steps gives the text that was
// loaded, and repeating them all gives the edited text again. Each undo step
// must land on a text the editing passed through (the one it had when the
// undo list last held as many entries), and each redo step on the text that
// undo step started from.
TEST_P(RandomEditing, UndoAllRestoresTheTextAndRedoAllRepeatsIt) {
  const unsigned seed = SeedFromEnvironment(20261211);
  SCOPED_TRACE("seed " + std::to_string(seed));
  CellView view;
  TCodeEditCore core(&view);
  core.SetOptions(GetParam().options);
  core.SetTabWidth(GetParam().tabWidth);
  core.SetMaxUndo(1000000);
  SetLines(core, RegText);
  RandomEditor editor(seed);
  std::map<int, std::pair<int, TextLines>> textAtCount;
  textAtCount[0] = {-1, RegText};
  for (int i = 0; i < 10000; ++i) {
    editor.step(core);
    ASSERT_GE(core.LineCount(), 1) << "step " << i;
    textAtCount[core.UndoList().ItemCount()] = {i, LinesOf(core)};
  }
  const TextLines final = LinesOf(core);
  const int redoItems = core.RedoList().ItemCount();
  std::vector<TextLines> undone;
  while (core.UndoList().CanUndo() && undone.size() < 20000) {
    undone.push_back(LinesOf(core));
    core.Undo();
    const auto seen = textAtCount.find(core.UndoList().ItemCount());
    if (seen != textAtCount.end()) {
      ASSERT_EQ(LinesOf(core), seen->second.second)
          << "undo back to step " << seen->second.first << ": " << Narrow(LinesOf(core));
    }
  }
  ASSERT_FALSE(core.UndoList().CanUndo());
  EXPECT_EQ(LinesOf(core), RegText) << Narrow(LinesOf(core));
  while (core.RedoList().CanUndo() && !undone.empty()) {
    core.Redo();
    ASSERT_EQ(LinesOf(core), undone.back()) << "redo step " << undone.size() << ": " << Narrow(LinesOf(core));
    undone.pop_back();
  }
  // What the editing itself had undone last is still there to redo.
  EXPECT_EQ(core.RedoList().ItemCount(), redoItems);
  EXPECT_EQ(LinesOf(core), final) << Narrow(LinesOf(core));
}

// Without grouping one undo takes back exactly one command: checked after
// every command, so that a fault shows at the command that made it.
TEST_P(RandomEditing, EachCommandUndoesAndRedoesOnItsOwn) {
  const unsigned seed = SeedFromEnvironment(7);
  SCOPED_TRACE("seed " + std::to_string(seed));
  CellView view;
  TCodeEditCore core(&view);
  core.SetOptions(GetParam().options & ~OptionBit(eoGroupUndo));
  core.SetTabWidth(GetParam().tabWidth);
  core.SetMaxUndo(1000000);
  SetLines(core, RegText);
  RandomEditor editor(seed);
  for (int i = 0; i < 3000; ++i) {
    const TextLines before = LinesOf(core);
    const int undoItems = core.UndoList().ItemCount();
    editor.step(core);
    if (core.UndoList().ItemCount() <= undoItems || core.RedoList().CanUndo())
      continue;  // nothing recorded, or an undo or redo step itself
    const TextLines after = LinesOf(core);
    core.Undo();
    ASSERT_EQ(LinesOf(core), before) << "undo of step " << i << " (" << editor.last << "): " << Narrow(LinesOf(core)) << " was "
                                     << Narrow(before);
    core.Redo();
    ASSERT_EQ(LinesOf(core), after) << "redo of step " << i << " (" << editor.last << "): " << Narrow(LinesOf(core)) << " was "
                                    << Narrow(after);
  }
}

const RandomRun Runs[] = {
    {"DefaultOptions", CODEEDIT_DEFAULT_OPTIONS, 8},
    {"TabsAndTabIndent",
     (CODEEDIT_DEFAULT_OPTIONS & ~OptionBit(eoTabsToSpaces) & ~OptionBit(eoSmartTabDelete)) | OptionBit(eoTabIndent),
     4},
};

INSTANTIATE_TEST_SUITE_P(CodeEditCore, RandomEditing, ::testing::ValuesIn(Runs),
                         [](const ::testing::TestParamInfo<RandomRun>& info) { return std::string(info.param.name); });

}  // namespace

#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

#include "editor/CodeEditCore.h"
#include "tests/editor/CodeEditCoreFixture.h"
#include "tests/editor/CodeEditThrowingHighlighter.h"

using namespace codeedit;

namespace {

constexpr TCodeEditorOptions Base = OptionBit(eoAutoIndent) | OptionBit(eoScrollPastEol);
constexpr TBufferCoord None{0, 0};

struct EditCase {
  const char* name;
  TCodeEditorOptions options;
  int tabWidth;
  TextLines before;
  TBufferCoord caret;
  TBufferCoord selBegin;  // None: no selection
  TBufferCoord selEnd;
  TCodeEditorCommand command;
  char16_t ch;
  TextLines after;  // empty: the text must not change
  TBufferCoord caretAfter;
  TBufferCoord caretAfterUndo;  // None: the caret before the command
  bool insertMode = true;
  TCodeSelectionMode mode = smNormal;
  int maxScrollWidth = 1024;
};

const EditCase Cases[] = {
    {"backspace at the very start records nothing", Base, 8, {u"abc"}, {1, 1}, None, None, ecDeleteLastChar, 0,
     {}, {1, 1}, None},
    {"backspace in column 1 joins the line to the one above", Base, 8, {u"one", u"two", u"three"}, {1, 3}, None,
     None, ecDeleteLastChar, 0, {u"one", u"twothree"}, {4, 2}, None},
    {"smart backspace goes back to the indentation above (8 to 4)", Base | OptionBit(eoSmartTabDelete), 8,
     {u"a", u"    b", u"        c"}, {9, 3}, None, None, ecDeleteLastChar, 0, {u"a", u"    b", u"    c"}, {5, 3},
     None},
    {"smart backspace goes back to the indentation above (4 to 0)", Base | OptionBit(eoSmartTabDelete), 8,
     {u"a", u"    b", u"    c"}, {5, 3}, None, None, ecDeleteLastChar, 0, {u"a", u"    b", u"c"}, {1, 3}, None},
    {"backspace without smart delete goes back to the tab stop", Base, 4, {u"      x"}, {7, 1}, None, None,
     ecDeleteLastChar, 0, {u"    x"}, {5, 1}, None},
    {"backspace without smart delete takes one tab", Base, 4, {u"\t\tx"}, {3, 1}, None, None, ecDeleteLastChar, 0,
     {u"\tx"}, {2, 1}, None},
    {"backspace over a selection made backwards", Base, 8, {u"abcdef"}, {2, 1}, {5, 1}, {2, 1}, ecDeleteLastChar, 0,
     {u"aef"}, {2, 1}, {5, 1}},
    {"delete past the end joins the next line", Base, 8, {u"ab", u"cd"}, {3, 1}, None, None, ecDeleteChar, 0,
     {u"abcd"}, {3, 1}, None},
    {"delete on the last line past its end does nothing", Base, 8, {u"ab"}, {3, 1}, None, None, ecDeleteChar, 0, {},
     {3, 1}, None},
    {"delete word takes the word and the blanks after it", Base, 8, {u"one two three"}, {5, 1}, None, None,
     ecDeleteWord, 0, {u"one three"}, {5, 1}, None},
    {"delete to the line end", Base, 8, {u"one two"}, {4, 1}, None, None, ecDeleteEOL, 0, {u"one"}, {4, 1}, None},
    {"delete the previous word", Base, 8, {u"one two"}, {8, 1}, None, None, ecDeleteLastWord, 0, {u"one "}, {5, 1},
     None},
    {"delete to the line start", Base, 8, {u"one two"}, {5, 1}, None, None, ecDeleteBOL, 0, {u"two"}, {1, 1}, None},
    {"delete line on the only empty line does nothing", Base, 8, {u""}, {1, 1}, None, None, ecDeleteLine, 0, {},
     {1, 1}, None},
    {"delete line in the middle", Base, 8, {u"a", u"b", u"c"}, {1, 2}, None, None, ecDeleteLine, 0, {u"a", u"c"},
     {1, 2}, None},
    {"delete line on the last line keeps it empty", Base, 8, {u"a", u"b"}, {2, 2}, None, None, ecDeleteLine, 0,
     {u"a", u""}, {1, 2}, {1, 2}},
    {"typing past the end adds the blanks and the character", Base, 8, {u"abc"}, {10, 1}, None, None, ecChar, u'x',
     {u"abc      x"}, {11, 1}, None},
    {"typing beyond the widest line allowed is refused", Base, 8, {u"abc"}, {6, 1}, None, None, ecChar, u'x', {},
     {6, 1}, None, true, smNormal, 5},
    {"a control character types nothing", Base, 8, {u"abc"}, {2, 1}, None, None, ecChar, u'\t', {}, {2, 1}, None},
    {"overwrite at the line end appends", Base, 8, {u"abc"}, {4, 1}, None, None, ecChar, u'x', {u"abcx"}, {5, 1},
     None, false},
    {"overwrite replaces the character at the caret", Base, 8, {u"abc"}, {2, 1}, None, None, ecChar, u'x', {u"axc"},
     {3, 1}, None, false},
    {"typing over a selection replaces it", Base, 8, {u"abcdef"}, {5, 1}, {2, 1}, {5, 1}, ecChar, u'x', {u"axef"},
     {3, 1}, {5, 1}},
    {"line break keeps an indentation of blanks", Base | OptionBit(eoTabsToSpaces), 4, {u"    text"}, {7, 1}, None,
     None, ecLineBreak, 0, {u"    te", u"    xt"}, {5, 2}, None},
    {"line break gives a tab for a tab's width of blanks", Base, 4, {u"    text"}, {7, 1}, None, None, ecLineBreak, 0,
     {u"    te", u"\txt"}, {2, 2}, None},
    {"line break past the end puts the indentation on the new line", Base | OptionBit(eoTabsToSpaces), 4,
     {u"  ab"}, {9, 1}, None, None, ecLineBreak, 0, {u"  ab", u"  "}, {3, 2}, {5, 1}},
    {"line break in column 1 moves the line down", Base, 8, {u"ab"}, {1, 1}, None, None, ecLineBreak, 0,
     {u"", u"ab"}, {1, 2}, None},
    {"insert line leaves the caret", Base, 8, {u"abcd"}, {3, 1}, None, None, ecInsertLine, 0, {u"ab", u"cd"}, {3, 1},
     None},
    {"block indent of lines 2 to 4", Base | OptionBit(eoTabsToSpaces), 2, {u"l1", u"l2", u"l3", u"l4", u"l5"},
     {1, 5}, {1, 2}, {1, 5}, ecBlockIndent, 0, {u"l1", u"  l2", u"  l3", u"  l4", u"l5"}, {1, 5}, {1, 5}},
    {"block unindent of three blanks, two blanks and a tab, and a letter", Base, 4, {u"   a", u"  \tb", u"x"},
     {2, 3}, {1, 1}, {2, 3}, ecBlockUnindent, 0, {u"a", u"b", u"x"}, {2, 3}, {1, 1}},
    {"tab to the next stop in blanks (2)", Base | OptionBit(eoTabsToSpaces), 4, {u"ab"}, {3, 1}, None, None, ecTab, 0,
     {u"ab  "}, {5, 1}, None},
    {"tab to the next stop in blanks (4)", Base | OptionBit(eoTabsToSpaces), 4, {u"abcd"}, {5, 1}, None, None, ecTab,
     0, {u"abcd    "}, {9, 1}, None},
    {"smart tab lines up with the next word above", Base | OptionBit(eoTabsToSpaces) | OptionBit(eoSmartTabs), 4,
     {u"hello  world", u""}, {1, 2}, None, None, ecTab, 0, {u"hello  world", u"       "}, {8, 2}, None},
    {"a tab character without blanks", Base, 4, {u"ab"}, {2, 1}, None, None, ecTab, 0, {u"a\tb"}, {3, 1}, None},
    {"shift tab goes back to the previous tab stop", Base, 4, {u"        text"}, {9, 1}, None, None, ecShiftTab, 0,
     {u"    text"}, {5, 1}, None},
    {"title case of the word at the caret", Base, 8, {u"hELLo world"}, {3, 1}, None, None, ecTitleCase, 0,
     {u"Hello world"}, {3, 1}, None},
    {"title case from the blanks after a word", Base, 8, {u"abc   "}, {5, 1}, None, None, ecTitleCase, 0,
     {u"Abc   "}, {5, 1}, None},
    {"toggle case block without a selection takes one character", Base, 8, {u"aBc"}, {2, 1}, None, None,
     ecToggleCaseBlock, 0, {u"abc"}, {3, 1}, {2, 1}},
    {"upper case block of a selection", Base, 8, {u"abcd"}, {4, 1}, {2, 1}, {4, 1}, ecUpperCaseBlock, 0, {u"aBCd"},
     {4, 1}, {4, 1}},
    {"typing over a column selection puts the character at its top left", Base, 8, {u"abcd", u"efgh"}, {3, 2},
     {2, 1}, {3, 2}, ecChar, u'x', {u"axcd", u"egh"}, {3, 1}, {3, 2}, true, smColumn},
};

class EditingCommands : public ::testing::TestWithParam<EditCase> {};

TEST_P(EditingCommands, ChangeTheTextThenUndoAndRedoIt) {
  const EditCase& c = GetParam();
  CellView view;
  TCodeEditCore core(&view);
  core.SetOptions(c.options);
  core.SetTabWidth(c.tabWidth);
  core.SetMaxScrollWidth(c.maxScrollWidth);
  core.SetInsertMode(c.insertMode);
  SetLines(core, c.before);
  core.SetSelectionMode(c.mode);
  if (c.selBegin == None) {
    core.SetCaretAndSelection(c.caret, c.caret, c.caret);
  } else {
    core.SetCaretAndSelection(c.caret, c.selBegin, c.selEnd);
  }
  core.SetActiveSelectionMode(c.mode);
  ASSERT_EQ(core.CaretXY(), c.caret);

  core.ExecuteCommand(c.command, c.ch, nullptr);
  const bool changes = !c.after.empty();
  EXPECT_EQ(LinesOf(core), changes ? c.after : c.before) << Narrow(LinesOf(core));
  EXPECT_EQ(core.CaretXY(), c.caretAfter);
  if (!changes) {
    EXPECT_FALSE(core.UndoList().CanUndo());
    return;
  }

  core.Undo();
  EXPECT_EQ(LinesOf(core), c.before) << "after undo: " << Narrow(LinesOf(core));
  EXPECT_EQ(core.CaretXY(), c.caretAfterUndo == None ? c.caret : c.caretAfterUndo);
  EXPECT_FALSE(core.UndoList().CanUndo()) << "one undo takes the whole command back";
  if (!(c.selBegin == None) && c.command != ecChar && c.command != ecDeleteLastChar) {
    EXPECT_TRUE(core.SelAvail()) << "the selection comes back";
  }

  core.Redo();
  EXPECT_EQ(LinesOf(core), c.after) << "after redo: " << Narrow(LinesOf(core));
  EXPECT_FALSE(core.RedoList().CanUndo()) << "one redo repeats the whole command";
}

INSTANTIATE_TEST_SUITE_P(CodeEditCore, EditingCommands, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<EditCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p != 0; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

TEST(EditingCommandFailures, ACommandThatFailsClosesItsUndoBlockAndPutsTheOptionsBack) {
  for (TCodeEditorCommand command : {ecChar, ecLineBreak, ecTab, ecBlockIndent, ecUpperCaseBlock}) {
    SCOPED_TRACE(command);
    CellView view;
    TCodeEditCore core(&view);
    const TCodeEditorOptions options = core.Options() & ~OptionBit(eoScrollPastEol);
    core.SetOptions(options);
    SetLines(core, {u"key=value", u"other=1"});
    core.SetCaretAndSelection({4, 2}, {1, 1}, {4, 2});
    ThrowingHighlighter h;
    core.SetHighlighter(&h);
    h.armed = true;
    EXPECT_ANY_THROW(core.ExecuteCommand(command, u'x', nullptr));
    h.armed = false;
    EXPECT_EQ(core.UndoList().BlockDepth(), 0);
    EXPECT_EQ(core.Options(), options);
    EXPECT_EQ(core.PaintLock(), 0);
    core.SetHighlighter(nullptr);
    // The editor goes on working, and what was recorded still undoes.
    core.SetCaretAndSelection({1, 1}, {1, 1}, {1, 1});
    core.ExecuteCommand(ecChar, u'z', nullptr);
    EXPECT_EQ(core.LineText(1).substr(0, 1), u"z");
    while (core.UndoList().CanUndo())
      core.Undo();
  }
}

}  // namespace

namespace {

TEST(InputMethodText, GoesInAtTheCaretOrOverTheSelectionAsOneStep) {
  struct Case {
    const char* name;
    bool insertMode;
    TBufferCoord caret;
    TBufferCoord selBegin;
    TextLines after;
    TBufferCoord caretAfter;
  };
  const Case cases[] = {
      {"inserted at the caret", true, {3, 1}, {3, 1}, {u"ab\u4E2D\u6587cdef"}, {5, 1}},
      {"over the characters at the caret", false, {3, 1}, {3, 1}, {u"ab\u4E2D\u6587ef"}, {5, 1}},
      {"past the line end after blanks", true, {9, 1}, {9, 1}, {u"abcdef  \u4E2D\u6587"}, {11, 1}},
      {"over a selection made backwards", true, {2, 1}, {5, 1}, {u"a\u4E2D\u6587ef"}, {4, 1}},
  };
  static const char16_t ime[] = u"\u4E2D\u6587";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CellView view;
    TCodeEditCore core(&view);
    SetLines(core, {u"abcdef"});
    core.SetInsertMode(c.insertMode);
    core.SetCaretAndSelection(c.caret, c.selBegin, c.caret);
    core.ExecuteCommand(ecImeStr, 0, const_cast<char16_t*>(ime));
    EXPECT_EQ(LinesOf(core), c.after) << Narrow(LinesOf(core));
    EXPECT_EQ(core.CaretXY(), c.caretAfter);
    core.Undo();
    EXPECT_EQ(LinesOf(core), (TextLines{u"abcdef"}));
    EXPECT_FALSE(core.UndoList().CanUndo());
    core.Redo();
    EXPECT_EQ(LinesOf(core), c.after);
  }
}

}  // namespace

#include "editor/CodeEditCore.h"

#include "editor/CodeClipboardText.h"

#include <gtest/gtest.h>

#include "tests/editor/CodeEditWindowFixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <string>
#include <vector>

using namespace codeedit;

namespace {

struct CommandFixture : CodeEditWindowFixture {
  void setLines(int count) {
    std::u16string text;
    for (int i = 1; i <= count; ++i)
      text += u"line " + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + u"\r\n";
    setText(text);
  }
  void run(TCodeEditorCommand command, void* data = nullptr, char16_t ch = 0) { core.ProcessCommand(command, ch, data); }
};

// What the pipeline's events and hooks saw, in order.
struct Trace {
  std::vector<std::string> calls;
};

}  // namespace

TEST_F(CommandFixture, ThePipelineRunsEventsHooksAndTheSwitchInOrder) {
  setText(u"abc");
  Trace t;
  core.OnProcessCommand = [&](TCodeEditCore&, TCodeEditorCommand& c, char16_t&, void*) {
    t.calls.push_back("process " + std::to_string(c));
  };
  core.OnProcessUserCommand = [&](TCodeEditCore&, TCodeEditorCommand& c, char16_t&, void*) {
    t.calls.push_back("user " + std::to_string(c));
  };
  core.OnCommandProcessed = [&](TCodeEditCore&, TCodeEditorCommand& c, char16_t&, void*) {
    t.calls.push_back("processed " + std::to_string(c));
  };
  core.AddCommandHook([&](TCodeEditCore&, bool after, bool&, TCodeEditorCommand& c, char16_t&, void*, void* data) {
    t.calls.push_back(std::string(after ? "after " : "before ") + std::to_string(c) + " " +
                      static_cast<const char*>(data));
  }, const_cast<char*>("h1"));

  run(ecRight);
  EXPECT_EQ(t.calls, (std::vector<std::string>{"process 2", "before 2 h1", "after 2 h1", "processed 2"}));
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{2, 1}));

  // A user command fires its own event and the hooks, never the switch.
  t.calls.clear();
  bool reachedSwitch = false;
  core.OnStatusChange = [&](TCodeEditCore&, TCodeStatusChanges) { reachedSwitch = true; };
  run(ecUserFirst);
  run(2000);
  EXPECT_EQ(t.calls, (std::vector<std::string>{"user 1001", "before 1001 h1", "after 1001 h1", "processed 1001",
                                               "user 2000", "before 2000 h1", "after 2000 h1", "processed 2000"}));
  EXPECT_FALSE(reachedSwitch);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{2, 1}));
}

TEST_F(CommandFixture, AHandlerOrHookThatDropsTheCommandStopsTheRest) {
  setText(u"abc");
  std::vector<TCodeEditorCommand> processed;
  core.OnCommandProcessed = [&](TCodeEditCore&, TCodeEditorCommand& c, char16_t&, void*) { processed.push_back(c); };
  int hookCalls = 0;
  core.AddCommandHook([&](TCodeEditCore&, bool, bool&, TCodeEditorCommand&, char16_t&, void*, void*) { ++hookCalls; });

  core.OnProcessCommand = [](TCodeEditCore&, TCodeEditorCommand& c, char16_t&, void*) { c = ecNone; };
  run(ecRight);
  EXPECT_EQ(hookCalls, 0);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 1}));
  ASSERT_EQ(processed.size(), 1u);
  EXPECT_EQ(processed[0], ecNone);

  // A hook that says Handled before the command: the switch and the second
  // pass are skipped; every hook of the pass still runs.
  core.OnProcessCommand = nullptr;
  processed.clear();
  hookCalls = 0;
  const int handler = core.AddCommandHook(
      [](TCodeEditCore&, bool, bool& handled, TCodeEditorCommand&, char16_t&, void*, void*) { handled = true; });
  int lastHook = 0;
  core.AddCommandHook([&](TCodeEditCore&, bool, bool& handled, TCodeEditorCommand&, char16_t&, void*, void*) {
    lastHook = handled ? 2 : 1;
  });
  run(ecRight);
  EXPECT_EQ(hookCalls, 1);
  EXPECT_EQ(lastHook, 2) << "Handled is shared across the hooks of one pass";
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 1}));
  EXPECT_EQ(processed, (std::vector<TCodeEditorCommand>{ecNone}));

  core.RemoveCommandHook(handler);
  run(ecRight);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{2, 1}));
}

TEST_F(CommandFixture, KeysFindOneAndTwoKeyBindings) {
  setText(u"abc");
  TCodeEditKeyStroke& pair = core.Keystrokes().Add();
  pair.SetShortCut(ShortCut('A', 0));
  pair.SetShortCut2(ShortCut('B', 0));
  pair.SetCommand(ecEditorBottom);
  void* data = nullptr;

  // A: no binding of its own, so it is remembered; B then finds the pair.
  EXPECT_EQ(core.TranslateKeyCode('A', 0, data), ecNone);
  EXPECT_EQ(core.LastKey(), 65);
  EXPECT_EQ(core.TranslateKeyCode('B', 0, data), ecEditorBottom);
  EXPECT_EQ(core.LastKey(), 0);

  // A key outside 30..145 without a binding forgets the first key.
  EXPECT_EQ(core.TranslateKeyCode('A', 0, data), ecNone);
  EXPECT_EQ(core.TranslateKeyCode(20, 0, data), ecNone);
  EXPECT_EQ(core.LastKey(), 0);
  EXPECT_EQ(core.TranslateKeyCode('B', 0, data), ecNone);

  // A bound key forgets it too.
  EXPECT_EQ(core.TranslateKeyCode('A', 0, data), ecNone);
  EXPECT_EQ(core.TranslateKeyCode(VK_LEFT, ssShift, data), ecSelLeft);
  EXPECT_EQ(core.LastKey(), 0);
  EXPECT_EQ(data, nullptr);
}

TEST_F(CommandFixture, KeyDownRunsTheCommandAndDropsItsCharacter) {
  setText(u"abc");
  std::vector<std::pair<TCodeEditorCommand, char16_t>> seen;
  core.OnCommandProcessed = [&](TCodeEditCore&, TCodeEditorCommand& c, char16_t& ch, void*) {
    seen.push_back({c, ch});
  };
  std::uint16_t key = VK_RIGHT;
  EXPECT_TRUE(core.KeyDown(key, 0));
  EXPECT_EQ(key, 0);
  core.HandleCharMessage(u'x');  // the key's own character
  EXPECT_EQ(seen.size(), 1u);
  key = 'Q';
  EXPECT_FALSE(core.KeyDown(key, 0));
  core.HandleCharMessage(u'q');
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], (std::pair<TCodeEditorCommand, char16_t>{ecChar, u'q'}));

  // A key-down handler that takes the key leaves nothing to translate.
  int older = 0;
  core.KbdHandler().AddKeyDownHandler([&](void*, std::uint16_t&, TShiftState) { ++older; });
  core.KbdHandler().AddKeyDownHandler([](void*, std::uint16_t& k, TShiftState) { k = 0; });
  key = VK_RIGHT;
  EXPECT_FALSE(core.KeyDown(key, 0));
  EXPECT_EQ(older, 0);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{3, 1})) << "where the typed q left it";
}

TEST_F(CommandFixture, AltWithKeypadDigitsTypesCodesFrom256OnTheAltRelease) {
  std::vector<char16_t> typed;
  core.OnCommandProcessed = [&](TCodeEditCore&, TCodeEditorCommand& c, char16_t& ch, void*) {
    if (c == ecChar)
      typed.push_back(ch);
  };
  const auto type = [&](std::string_view digits) {
    for (char d : digits) {
      std::uint16_t key = static_cast<std::uint16_t>(0x60 + (d - '0'));
      core.KeyUp(key, ssAlt);
    }
    std::uint16_t alt = 18;
    core.KeyUp(alt, 0);
  };
  type("9600");
  type("65");      // the window system's own
  type("70000");   // no UTF-16 unit
  EXPECT_EQ(typed, (std::vector<char16_t>{u'\u2580'}));
}

TEST_F(CommandFixture, AReadOnlyEditorRefusesChangesButRunsEverythingElse) {
  setText(u"abc\r\ndef");
  const std::u16string before = core.Lines().GetAllText();
  core.SetReadOnly(true);
  std::vector<TCodeEditorCommand> processed;
  core.OnCommandProcessed = [&](TCodeEditCore&, TCodeEditorCommand& c, char16_t&, void*) { processed.push_back(c); };
  for (TCodeEditorCommand c : {ecDeleteChar, ecDeleteLastChar, ecPaste, ecCut, ecUndo, ecLineBreak, ecChar})
    run(c, nullptr, u'x');
  EXPECT_EQ(core.Lines().GetAllText(), before);
  EXPECT_EQ(processed.size(), 7u);

  run(ecSelectAll);
  EXPECT_EQ(core.SelectedText(), u"abc\r\ndef");
  run(ecCopy);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("abc\r\ndef"));
  run(ecToggleMode);
  EXPECT_FALSE(core.InsertMode());
  run(ecColumnSelect);
  EXPECT_EQ(core.SelectionMode(), smColumn);
}

TEST_F(CommandFixture, EditingCommandsGoToTheEditingHook) {
  struct Editing : TCodeEditCore {
    using TCodeEditCore::TCodeEditCore;
    void ExecuteEditCommand(TCodeEditorCommand c, char16_t, void*) override { got.push_back(c); }
    std::vector<TCodeEditorCommand> got;
  } editing{&view};
  const std::vector<TCodeEditorCommand> changes{ecDeleteLastChar, ecClearAll, ecChar, ecImeStr, ecUndo, ecRedo,
                                                ecCut, ecPaste, ecBlockIndent, ecShiftTab, ecTitleCase,
                                                ecToggleCaseBlock};
  for (TCodeEditorCommand c : changes)
    editing.ProcessCommand(c, u'x', nullptr);
  // Commands with no effect in the switch reach nobody.
  for (TCodeEditorCommand c : {ecCommentBlock, ecString, ecAutoCompletion, ecFocusEnter, ecFocusExit,
                               static_cast<TCodeEditorCommand>(624)})
    editing.ProcessCommand(c, 0, nullptr);
  EXPECT_EQ(editing.got, changes);
  editing.got.clear();
  editing.SetReadOnly(true);
  for (TCodeEditorCommand c : changes)
    editing.ProcessCommand(c, u'x', nullptr);
  EXPECT_TRUE(editing.got.empty());
}

TEST_F(CommandFixture, PageMovesFollowTheOptions) {
  setLines(100);
  struct Case {
    TCodeEditorOptions extra;
    int rows;
  } cases[] = {{0, 20}, {OptionBit(eoHalfPageScroll), 10},
               {OptionBit(eoHalfPageScroll) | OptionBit(eoScrollByOneLess), 9}};
  const TCodeEditorOptions base = core.Options();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows);
    core.SetOptions(base | c.extra);
    run(ecEditorTop);
    core.SetTopLine(1);
    run(ecPageDown);
    EXPECT_EQ(core.CaretXY().LinePos, 1 + c.rows);
    EXPECT_EQ(core.FTopLine, 1 + c.rows);
    run(ecSelPageUp);
    EXPECT_EQ(core.CaretXY().LinePos, 1);
    EXPECT_EQ(core.BlockBeginSorted(), (TBufferCoord{1, 1}));
    EXPECT_EQ(core.BlockEndSorted(), (TBufferCoord{1, 1 + c.rows}));
  }
}

TEST_F(CommandFixture, EditorTopBottomAndGotoXY) {
  run(ecEditorBottom);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 1})) << "an empty editor";
  setText(u"ab\r\nlast line");
  run(ecEditorBottom);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{10, 2}));
  run(ecGotoXY);  // no position: nothing
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{10, 2}));
  TBufferCoord to{2, 1};
  run(ecSelGotoXY, &to);
  EXPECT_EQ(core.CaretXY(), to);
  EXPECT_EQ(core.SelectedText(), u"b\r\nlast line");
  run(ecEditorTop);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 1}));
  EXPECT_FALSE(core.SelAvail());
}

TEST_F(CommandFixture, SetMarkerTogglesAndMovesBookmarks) {
  setLines(10);
  core.SetCaretXY({3, 4});
  run(static_cast<TCodeEditorCommand>(ecSetMarker0 + 3));
  ASSERT_NE(core.BookMark(3), nullptr);
  EXPECT_EQ(core.BookMark(3)->Line(), 4);
  EXPECT_EQ(core.BookMark(3)->Char(), 3);
  run(static_cast<TCodeEditorCommand>(ecSetMarker0 + 3));
  EXPECT_EQ(core.BookMark(3), nullptr) << "the second press on its line takes it away";

  run(static_cast<TCodeEditorCommand>(ecSetMarker0 + 3));
  TBufferCoord other{2, 7};
  run(static_cast<TCodeEditorCommand>(ecSetMarker0 + 3), &other);
  ASSERT_NE(core.BookMark(3), nullptr);
  EXPECT_EQ(core.BookMark(3)->Line(), 7);
  EXPECT_EQ(core.Marks().Count(), 1);

  core.SetCaretXY({1, 1});
  run(static_cast<TCodeEditorCommand>(ecGotoMarker0 + 3));
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{2, 7}));

  // A bookmark far below the window comes into its middle.
  setLines(100);
  TBufferCoord far{1, 70};
  run(static_cast<TCodeEditorCommand>(ecSetMarker0 + 4), &far);
  core.SetCaretAndSelection({1, 1}, {1, 1}, {3, 1});
  run(static_cast<TCodeEditorCommand>(ecGotoMarker0 + 4));
  EXPECT_EQ(core.CaretXY(), far);
  EXPECT_EQ(core.FTopLine, 70 - 19 + 10);
  EXPECT_FALSE(core.SelAvail());

  // Without EnableKeys the keys do nothing.
  core.BookMarkOptions().SetEnableKeys(false);
  core.SetCaretXY({1, 1});
  run(static_cast<TCodeEditorCommand>(ecGotoMarker0 + 3));
  run(static_cast<TCodeEditorCommand>(ecSetMarker0 + 5));
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 1}));
  EXPECT_EQ(core.BookMark(5), nullptr);
}

TEST_F(CommandFixture, ScrollCommandsKeepTheCaretInTheWindow) {
  setLines(100);
  core.SetCaretXY({1, 1});
  run(ecScrollDown);
  EXPECT_EQ(core.FTopLine, 2);
  EXPECT_EQ(core.CaretXY().LinePos, 2) << "the caret follows to the first visible row";
  core.SetCaretXY({1, 21});
  run(ecScrollUp);
  EXPECT_EQ(core.FTopLine, 1);
  EXPECT_EQ(core.CaretXY().LinePos, 20) << "and to the last visible row";
}

TEST_F(CommandFixture, ContextHelpGetsTheWordAtTheCaret) {
  setText(u"alpha beta");
  std::u16string word;
  core.OnContextHelp = [&](TCodeEditCore&, const std::u16string& w) { word = w; };
  core.SetCaretXY({8, 1});
  run(ecContextHelp);
  EXPECT_EQ(word, u"beta");
}

TEST_F(CommandFixture, CopyPutsTextAndThePrivateBlock) {
  setText(u"hello world");
  core.SetCaretAndSelection({6, 1}, {1, 1}, {6, 1});
  run(ecCopy);
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->text(), QStringLiteral("hello"));
  const QByteArray block = data->data(QString::fromLatin1(CodeEditClipboardFormat));
  ASSERT_EQ(block.size(), 7);
  EXPECT_EQ(block.at(0), static_cast<char>(smNormal));
  EXPECT_EQ(block.mid(1, 5), QByteArray("hello"));
  EXPECT_EQ(block.at(6), '\0');

  // Nothing selected: the clipboard stays as it was.
  core.SetCaretAndSelection({1, 1}, {1, 1}, {1, 1});
  run(ecCopy);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("hello"));
}

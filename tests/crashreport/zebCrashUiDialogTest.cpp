#include "crashreport/zebCrashUiDialog.h"

#include <gtest/gtest.h>

#include "crashreport/zebExceptSettings.h"

using namespace zeb;

namespace {

// This program's settings as the failing process sends them.
CrashUiFacts ProgramFacts() {
  CrashUiFacts facts;
  facts.message = "Access violation.";
  facts.programName = "hivescope";
  for (const SettingEntry& e : BuiltinSettings()) {
    switch (e.kind) {
      case SettingKind::Bool: facts.settings.SetBool(e.name, e.boolValue); break;
      case SettingKind::Int: facts.settings.SetInt(e.name, e.intValue); break;
      case SettingKind::Text: facts.settings.Set(e.name, e.textValue); break;
    }
  }
  facts.settings.Set("TitleBar", "hivescope");
  return facts;
}

// Seven pixels a character, lines of 13 pixels, broken at the width.
DialogMetrics FixedMetrics() {
  DialogMetrics m;
  m.textWidth = [](std::string_view text) { return int(text.size()) * 7; };
  m.textSize = [](std::string_view text, int width) {
    const int perLine = std::max(width / 7, 1);
    int lines = 0, longest = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string_view::npos) end = text.size();
      int chars = int(end - pos);
      if (chars && text[end - 1] == '\r') --chars;
      lines += std::max(1, (chars + perLine - 1) / perLine);
      longest = std::max(longest, std::min(chars, perLine) * 7);
      pos = end + 1;
    }
    return std::pair{longest, lines * 13};
  };
  return m;
}

}  // namespace

TEST(zebCrashUiDialog, ThisProgramsFullBox) {
  DialogInput input;
  input.facts = ProgramFacts();
  const DialogLayout d = LayoutExceptionDialog(input, FixedMetrics());
  EXPECT_EQ(d.title, "hivescope");
  EXPECT_EQ(d.text, "An error occurred in the application.");
  EXPECT_TRUE(d.stacked);
  EXPECT_FALSE(d.resizable);
  const auto& b = d.buttons;
  EXPECT_TRUE(b[kSendButton].visible && b[kShowButton].visible);
  EXPECT_FALSE(b[kSaveButton].visible || b[kPrintButton].visible);
  // Send and show at the left of the bottom row, the three others stacked at the right.
  EXPECT_EQ(b[kSendButton].rect.x, 6);
  EXPECT_EQ(b[kShowButton].rect.x, b[kSendButton].rect.x + b[kSendButton].rect.width + 4);
  EXPECT_EQ(b[kSendButton].row, 2);
  EXPECT_EQ(b[kShowButton].row, 2);
  EXPECT_EQ(b[kContinueButton].row, 0);
  EXPECT_EQ(b[kRestartButton].row, 1);
  EXPECT_EQ(b[kCloseButton].row, 2);
  EXPECT_EQ(b[kContinueButton].rect.x, b[kCloseButton].rect.x);
  EXPECT_EQ(b[kContinueButton].rect.width, b[kCloseButton].rect.width);
  EXPECT_GT(b[kContinueButton].rect.x, b[kShowButton].rect.x + b[kShowButton].rect.width);
  EXPECT_EQ(b[kCloseButton].rect.y, b[kSendButton].rect.y);
  EXPECT_EQ(b[kRestartButton].rect.y - b[kContinueButton].rect.y, d.buttonHeight + 4);
  EXPECT_EQ(d.focused, kSendButton);
  EXPECT_EQ(d.countdownButton, -1);
  EXPECT_EQ(d.height, 3 * (d.buttonHeight + 4) + b[kContinueButton].rect.y + 8);
  // Escape continues when the exception can be continued, else closes.
  EXPECT_EQ(CloseWindowAction(d, d.focusedSetting, true), kActionContinue);
  EXPECT_EQ(CloseWindowAction(d, d.focusedSetting, false), kActionClose);
}

TEST(zebCrashUiDialog, AnExceptionThatCannotContinue) {
  DialogInput input;
  input.facts = ProgramFacts();
  input.facts.canContinue = false;
  DialogLayout d = LayoutExceptionDialog(input, FixedMetrics());
  EXPECT_FALSE(d.buttons[kContinueButton].enabled);
  EXPECT_EQ(d.buttons[kContinueButton].glyph, kCantContinueGlyph);
  // Without restart and close it stays enabled and closes the application.
  input.facts.settings.SetBool("RestartBtnVis", false);
  input.facts.settings.SetBool("CloseBtnVis", false);
  d = LayoutExceptionDialog(input, FixedMetrics());
  EXPECT_TRUE(d.buttons[kContinueButton].enabled);
  EXPECT_EQ(ButtonAction(kContinueButton, false), kActionClose);
}

TEST(zebCrashUiDialog, ReportShownAtOnceHidesShowAndTakesTheTabs) {
  DialogInput input;
  input.facts = ProgramFacts();
  input.facts.settings.SetBool("AutoShowBugRep", true);
  const DialogLayout d = LayoutExceptionDialog(input, FixedMetrics());
  EXPECT_FALSE(d.buttons[kShowButton].visible);
  EXPECT_TRUE(d.resizable);
  EXPECT_TRUE(d.showBugReport);
  EXPECT_GE(d.width, 664);
  EXPECT_GT(d.tabRect.height, 400);
  EXPECT_EQ(d.tabRect.width, d.width - 15);
}

TEST(zebCrashUiDialog, SimpleBoxesCentreTheirButtons) {
  DialogInput input;
  input.facts = ProgramFacts();
  input.facts.message = "Not a valid date.";
  input.simpleBox = true;
  input.withDetailsButton = true;
  DialogLayout d = LayoutExceptionDialog(input, FixedMetrics());
  EXPECT_EQ(d.title, "hivescope");
  EXPECT_EQ(d.text, "Not a valid date.");
  EXPECT_TRUE(d.buttons[kContinueButton].visible);
  EXPECT_EQ(d.buttons[kContinueButton].caption, "&OK");
  EXPECT_TRUE(d.buttons[kShowButton].visible);
  EXPECT_EQ(d.buttons[kShowButton].caption, "&Details");
  EXPECT_FALSE(d.buttons[kSendButton].visible || d.buttons[kCloseButton].visible);
  EXPECT_EQ(d.buttons[kContinueButton].rect.width, 75);  // 79 wide at least
  EXPECT_EQ(d.focused, kContinueButton);
  EXPECT_EQ(d.height, d.buttons[kContinueButton].rect.y - (d.buttonHeight + 4) + 2 * d.buttonHeight + 21);
  input.withDetailsButton = false;
  d = LayoutExceptionDialog(input, FixedMetrics());
  EXPECT_FALSE(d.buttons[kShowButton].visible);
  const DialogRect ok = d.buttons[kContinueButton].rect;
  EXPECT_NEAR(ok.x + ok.width / 2, d.width / 2, 4);
  // Closing a simple box without a continuable exception closes.
  EXPECT_EQ(CloseWindowAction(d, 0, false), kActionClose);
}

TEST(zebCrashUiDialog, AutomaticActionsChooseFocusAndCountdown) {
  DialogInput input;
  input.facts = ProgramFacts();
  input.autoCloseDue = true;
  DialogLayout d = LayoutExceptionDialog(input, FixedMetrics());
  EXPECT_EQ(d.focused, kCloseButton);
  EXPECT_EQ(d.countdownButton, kCloseButton);
  EXPECT_EQ(CloseWindowAction(d, d.focusedSetting, true), kActionClose);
  input.autoCloseDue = false;
  input.facts.settings.SetBool("AutoContinue", true);
  d = LayoutExceptionDialog(input, FixedMetrics());
  EXPECT_EQ(d.focused, kContinueButton);
  EXPECT_EQ(d.countdownButton, kContinueButton);
}

TEST(zebCrashUiDialog, MessageLineBreaks) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"Short. Text here.", "Short. Text here."},  // under 31 characters
      {"The first sentence is long. The second one is here.", "The first sentence is long.\r\nThe second one is here."},
      {"Tiny. Then a long sentence follows here.", "Tiny. Then a long sentence follows here."},  // "." before 20
      {"The first sentence is long. Then more words. Ok.",
       "The first sentence is long.\r\nThen more words. Ok."},  // not after length - 10
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(InsertMessageBreaks(c.in), c.out);
  }
}

TEST(zebCrashUiDialog, CountdownLineRunsAcrossTheButton) {
  EXPECT_EQ(CountdownPosition(0, 100, 10, false).x, 0);
  EXPECT_EQ(CountdownPosition(5000, 100, 10, false).x, 50);
  EXPECT_FALSE(CountdownPosition(10000, 100, 10, false).due);
  EXPECT_TRUE(CountdownPosition(10100, 100, 10, false).due);
  EXPECT_EQ(CountdownPosition(0, 100, 10, true).x, 5);
  EXPECT_FALSE(CountdownPosition(10000, 100, 10, true).due);
  EXPECT_TRUE(CountdownPosition(10100, 100, 10, true).due);
  EXPECT_FALSE(CountdownPosition(99999, 100, 0, false).due);  // no delay, no countdown
}

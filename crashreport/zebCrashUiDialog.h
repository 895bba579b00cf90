#pragma once

// The exception dialog's decisions without a window: which buttons it shows
// with which captions, where everything stands, which button has the focus,
// what closing the window does, and the countdown's line. Text sizes come in
// through a small metrics interface, so tests use fixed numbers.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "crashreport/zebCrashUiTypes.h"

namespace zeb {

// Button indexes; the same numbers are the values of FocusedBtn and the
// glyph indexes (7: continue that cannot continue, 8: the icon).
enum ExceptButton : int {
  kSendButton = 0,
  kSaveButton = 1,
  kPrintButton = 2,
  kShowButton = 3,
  kContinueButton = 4,
  kRestartButton = 5,
  kCloseButton = 6,
  kButtonCount = 7,
  kCantContinueGlyph = 7,
  kBigGlyph = 8,
};

// Action codes the dialog fires and hands to the failing process.
enum CrashAction : int {
  kActionSend = 0,
  kActionSave = 1,
  kActionPrint = 2,
  kActionShow = 6,
  kActionHelp = 7,
  kActionContinue = 8,
  kActionRestart = 9,
  kActionClose = 10,
};

struct DialogMetrics {
  // Width of a caption in the dialog's font ("&" marks excluded).
  std::function<int(std::string_view)> textWidth;
  // Size of a word-wrapped text within `width`.
  std::function<std::pair<int, int>(std::string_view text, int width)> textSize;
  int screenWidth = 1024;
  int screenHeight = 768;
  int captionHeight = 18;
  bool hasIcon = true;
};

struct DialogRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const DialogRect&) const = default;
};

struct DialogButton {
  bool visible = false;
  std::string caption;
  DialogRect rect;
  int row = 0;
  bool enabled = true;
  int glyph = 0;
};

struct DialogInput {
  CrashUiFacts facts;
  bool simpleBox = false;
  bool withDetailsButton = false;
  bool autoCloseDue = false;
  bool autoRestartDue = false;
  // The name of a class whose messages get no inserted line breaks.
  std::string exemptClass;
};

struct DialogLayout {
  bool simpleBox = false;
  bool resizable = false;  // the full box with the report shown
  bool stacked = false;
  std::string title;
  std::string text;
  std::array<DialogButton, kButtonCount> buttons;
  int focusedSetting = 0;   // FocusedBtn after the automatic actions chose
  int focused = -1;         // the button with the focus and the default mark
  int countdownButton = -1; // the button whose action runs when the countdown ends
  int buttonHeight = 0;
  DialogRect textRect;
  DialogRect iconRect;      // empty without the icon
  DialogRect tabRect;       // empty without the report
  int width = 0;            // client size
  int height = 0;
  bool showBugReport = false;
};

// Line breaks before sentences: for each p from length - 10 down to 20
// (1-based) where "." stands at p and a blank at p + 1, the blank becomes
// CR LF.
std::string InsertMessageBreaks(std::string message);

DialogLayout LayoutExceptionDialog(const DialogInput& input, const DialogMetrics& metrics);

// What closing the window (Escape) does: an action code, or -1 for nothing.
int CloseWindowAction(const DialogLayout& layout, int focusedSetting, bool canContinue);

// The action of a clicked button.
int ButtonAction(int button, bool canContinue);

// The countdown line's x in a button `width` wide after `elapsedMs`; the
// action is due when the line passes the end (`due`).
struct CountdownStep {
  int x = 0;
  bool due = false;
};
CountdownStep CountdownPosition(std::int64_t elapsedMs, int width, int delaySeconds, bool uglyButtons);

}  // namespace zeb

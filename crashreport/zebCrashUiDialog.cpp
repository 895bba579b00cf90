#include "crashreport/zebCrashUiDialog.h"

#include <algorithm>

#include "crashreport/zebExcept.h"

namespace zeb {

std::string InsertMessageBreaks(std::string message) {
  const int length = int(message.size());
  for (int p = length - 10; p >= 20; --p) {
    // p is 1-based: "." at p, a blank at p + 1.
    if (message[std::size_t(p) - 1] == '.' && std::size_t(p) < message.size() && message[std::size_t(p)] == ' ')
      message.replace(std::size_t(p), 1, "\r\n");
  }
  return message;
}

namespace {

std::string WithoutMarks(std::string_view caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') out += '&', ++i;
      continue;
    }
    out += caption[i];
  }
  return out;
}

}  // namespace

DialogLayout LayoutExceptionDialog(const DialogInput& input, const DialogMetrics& metrics) {
  const CrashUiFacts& facts = input.facts;
  const CrashUiSettings& s = facts.settings;
  DialogLayout out;
  const bool simple = input.simpleBox;
  const bool full = !simple;
  out.simpleBox = simple;
  const bool autoShow = full && s.Bool("AutoShowBugRep");
  out.showBugReport = autoShow;
  out.resizable = autoShow;
  const bool showVisSetting = s.Bool("ShowBtnVis") && !autoShow;

  int focusedSetting = s.Int("FocusedBtn") & 0x7F;
  if (input.autoCloseDue && s.Bool("CloseBtnVis")) focusedSetting = kCloseButton;
  else if (input.autoRestartDue && s.Bool("RestartBtnVis")) focusedSetting = kRestartButton;
  else if (s.Bool("AutoContinue") && s.Bool("ContinueBtnVis") && facts.canContinue) focusedSetting = kContinueButton;

  std::string message = facts.message;
  if (input.exemptClass.empty() || facts.className != input.exemptClass) message = InsertMessageBreaks(message);
  const bool frozen = facts.kind == 1;
  if (full) {
    out.text = ExpandVariables(facts.programName, s.Text(frozen ? "FrozenMsg" : "ExceptMsg"), message, {});
    out.title = s.Text("TitleBar");
  } else {
    out.text = frozen ? ExpandVariables(facts.programName, s.Text("FrozenMsg"), message, {}) : message;
    out.title = facts.programName;
  }

  auto& b = out.buttons;
  b[kSendButton].visible = s.Bool("SendBtnVis") && full;
  b[kSaveButton].visible = s.Bool("SaveBtnVis") && full;
  b[kPrintButton].visible = s.Bool("PrintBtnVis") && full;
  b[kShowButton].visible = (showVisSetting && full) || (simple && input.withDetailsButton);
  b[kContinueButton].visible = s.Bool("ContinueBtnVis") || simple;
  b[kRestartButton].visible = s.Bool("RestartBtnVis") && full;
  b[kCloseButton].visible = s.Bool("CloseBtnVis") && full;

  out.buttonHeight = full ? (s.Bool("UglyBtns") ? 26 : 22) : 23;
  const int bh = out.buttonHeight;
  b[kSendButton].caption = s.Text("SendBtnTxt");
  b[kSaveButton].caption = s.Text("SaveBtnTxt");
  b[kPrintButton].caption = s.Text("PrintBtnTxt");
  b[kShowButton].caption = s.Text(full ? "ShowBtnTxt" : "DetailsBtnTxt");
  b[kContinueButton].caption = s.Text(full ? "ContinueBtnTxt" : "OkBtnTxt");
  b[kRestartButton].caption = s.Text("RestartBtnTxt");
  b[kCloseButton].caption = s.Text("CloseBtnTxt");
  for (int k = 0; k < kButtonCount; ++k) b[std::size_t(k)].glyph = k;

  std::array<int, kButtonCount> w{};
  for (int k = 0; k < kButtonCount; ++k)
    if (b[std::size_t(k)].visible) w[std::size_t(k)] = metrics.textWidth(WithoutMarks(b[std::size_t(k)].caption)) + 39;
  if (simple) {
    for (int k : {int(kContinueButton), int(kShowButton)})
      if (b[std::size_t(k)].visible && w[std::size_t(k)] < 75) w[std::size_t(k)] = 79;
  }
  const int right = std::max({w[kContinueButton], w[kRestartButton], w[kCloseButton]});

  int v = int(b[kContinueButton].visible) + int(b[kRestartButton].visible) + int(b[kCloseButton].visible);
  const bool leftAny = b[kSendButton].visible || b[kSaveButton].visible || b[kPrintButton].visible ||
                       b[kShowButton].visible;
  out.stacked = full && v > 1 && leftAny;
  if (v == 1) v = 2;

  int area = 0, inset = 26;
  if (simple) {
    area = b[kShowButton].visible ? w[kContinueButton] + w[kShowButton] + 28 : w[kContinueButton] + 26;
  } else if (out.stacked) {
    area = w[kSendButton] + w[kSaveButton] + w[kPrintButton] + w[kShowButton] + right + 14;
    inset = right + 40;
  } else {
    for (int x : w) area += x;
    area += 14;
  }
  if (metrics.hasIcon) {
    inset += 40;
    out.iconRect = {9, 10, 32, 32};
  }

  const auto [textW, textH] = metrics.textSize(out.text, (area > 663 ? area : 664) - inset);
  int width = std::max(textW + inset, area);
  const int fit = std::min(664, metrics.screenWidth - 5 * metrics.captionHeight);
  if (autoShow) width = std::max(width, fit);

  int top = (metrics.hasIcon && textH < 26) ? 31 : textH + 5;
  if (v == 3) {
    if (out.stacked) top = std::max(top - (bh + 4), 7);
    else v = 2;
  }
  auto place = [&](int k, int x, int row, int bw) {
    DialogButton& button = b[std::size_t(k)];
    button.row = row;
    button.rect = {x, top + row * (bh + 4), bw - 4, bh};
  };

  int height = 0;
  if (full) {
    int x = 6;
    for (int k : {int(kSendButton), int(kSaveButton), int(kPrintButton), int(kShowButton)}) {
      if (!b[std::size_t(k)].visible) continue;
      place(k, x, v - 1, w[std::size_t(k)]);
      x += w[std::size_t(k)];
    }
    if (out.stacked) {
      x = width - right - 8;
      if (b[kContinueButton].visible) place(kContinueButton, x, 0, right);
      if (b[kRestartButton].visible) place(kRestartButton, x, b[kContinueButton].visible ? 1 : 0, right);
      if (b[kCloseButton].visible) place(kCloseButton, x, v - 1, right);
    } else {
      x = width - w[kContinueButton] - w[kRestartButton] - w[kCloseButton] - 8;
      for (int k : {int(kContinueButton), int(kRestartButton), int(kCloseButton)}) {
        if (!b[std::size_t(k)].visible) continue;
        place(k, x, 1, w[std::size_t(k)]);
        x += w[std::size_t(k)];
      }
    }
    height = v * (bh + 4) + top + 8;
  } else {
    int x = b[kShowButton].visible ? (width - w[kContinueButton] - w[kShowButton] + 2) / 2 - 3
                                   : (width - w[kContinueButton] + 4) / 2 - 3;
    place(kContinueButton, x, 1, w[kContinueButton]);
    if (b[kShowButton].visible) {
      x += w[kContinueButton] + 2;
      place(kShowButton, x, 1, w[kShowButton]);
    }
    height = top + 2 * bh + 21;
  }

  // Creation order decides which button takes the focus.
  if (simple) {
    out.focused = kContinueButton;
  } else {
    for (int k = 0; k < kButtonCount; ++k)
      if (b[std::size_t(k)].visible && k == focusedSetting) {
        out.focused = k;
        break;
      }
  }

  if (b[kContinueButton].visible && !facts.canContinue && (b[kRestartButton].visible || b[kCloseButton].visible)) {
    b[kContinueButton].enabled = false;
    b[kContinueButton].glyph = kCantContinueGlyph;
  }

  out.textRect = {11, 12, textW, textH};
  if (metrics.hasIcon) {
    out.textRect.x = 51;
    if (textH < 26) out.textRect.y = (26 - textH) / 2 + 12;
  }

  const int top2 = height;
  if (autoShow) height += 474;
  height = std::min(height, metrics.screenHeight - 5 * metrics.captionHeight);
  if (autoShow) out.tabRect = {5, top2 - 4, width - 15, height - top2 - 6};

  if (full) {
    if (input.autoCloseDue && b[kCloseButton].visible) out.countdownButton = kCloseButton;
    else if (input.autoRestartDue && b[kRestartButton].visible) out.countdownButton = kRestartButton;
    else if (s.Bool("AutoContinue") && b[kContinueButton].visible && facts.canContinue)
      out.countdownButton = kContinueButton;
  }
  out.focusedSetting = focusedSetting;
  out.width = width;
  out.height = height;
  return out;
}

int CloseWindowAction(const DialogLayout& layout, int focusedSetting, bool canContinue) {
  const auto& b = layout.buttons;
  switch (focusedSetting & 0x7F) {
    case kContinueButton: return kActionContinue;
    case kRestartButton: return kActionRestart;
    case kCloseButton: return kActionClose;
    default: break;
  }
  if (b[kContinueButton].visible && canContinue) return kActionContinue;
  if (b[kCloseButton].visible) return kActionClose;
  if (b[kRestartButton].visible) return kActionRestart;
  if (layout.simpleBox) return kActionClose;
  return -1;
}

int ButtonAction(int button, bool canContinue) {
  switch (button) {
    case kSendButton: return kActionSend;
    case kSaveButton: return kActionSave;
    case kPrintButton: return kActionPrint;
    case kShowButton: return kActionShow;
    case kContinueButton: return canContinue ? kActionContinue : kActionClose;
    case kRestartButton: return kActionRestart;
    case kCloseButton: return kActionClose;
    default: return -1;
  }
}

CountdownStep CountdownPosition(std::int64_t elapsedMs, int width, int delaySeconds, bool uglyButtons) {
  CountdownStep step;
  if (delaySeconds <= 0) return step;
  const std::int64_t d = delaySeconds;
  if (uglyButtons) {
    step.x = int((elapsedMs * (width - 11) + d * 500) / (d * 1000) + 5);
    step.due = step.x > width - 6;
  } else {
    step.x = int((elapsedMs * width + d * 500) / (d * 1000));
    step.due = step.x > width;
  }
  return step;
}

}  // namespace zeb

// The geometry of the drawn task dialog: where its text starts, the areas
// the client rectangle is cut into, the window's size and where the buttons
// and the expand label go. Nothing here paints or needs a window.

#include "taskdialog/TdDialogLayout.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <array>
#include <map>
#include <tuple>

#include "taskdialog/TdButton.h"
#include "taskdialog/TdDialog.h"
#include "taskdialog/TdDialogStrs.h"
#include "taskdialog/TdGraphics.h"
#include "taskdialog/TdLabel.h"
#include "unicode/qt/UniMenus.h"

namespace {

// Lengths that changed with the newer look of the system's dialogs; this
// dialog always has that look.
constexpr int kButtonWidthLess = 7;
constexpr int kButtonHeightLess = 3;
constexpr int kFooterHeightMore = 5;
constexpr int kFooterTextTopMore = 3;

// The expand label's chevron and the room after it.
constexpr int kMoreGlyph = 16;
constexpr int kMoreSpacing = 4;
// The verification box's height at 96 dpi.
constexpr int kCheckBoxHeight = 17;

int bottomOf(const QRect& R) { return R.y() + R.height(); }

QString joined(const QStringList& Lines) { return Lines.join(QStringLiteral("\r\n")); }

struct ButtonInfo {
  TdDialogStr Caption;
  int Result;
  const char* Name;
};
constexpr std::array<ButtonInfo, CommonButtonCount> kButtons = {{
    {DialogStrYes, mrYes, "bYes"},
    {DialogStrNo, mrNo, "bNo"},
    {DialogStrOK, mrOk, "bOK"},
    {DialogStrCancel, mrCancel, "bCancel"},
    {DialogStrAbort, mrAbort, "bAbort"},
    {DialogStrRetry, mrRetry, "bRetry"},
    {DialogStrIgnore, mrIgnore, "bIgnore"},
    {DialogStrAll, mrAll, "bAll"},
    {DialogStrNoToAll, mrNoToAll, "bNoToAll"},
    {DialogStrYesToAll, mrYesToAll, "bYesToAll"},
    {DialogStrHelp, mrNone, "bHelp"},
    {DialogStrClose, mrNone, "bClose"},
}};

}  // namespace

int TdMulDiv(int A, int B, int C) {
  if (C == 0)
    return 0;
  const long long product = static_cast<long long>(A) * B;
  const long long half = (C < 0 ? -static_cast<long long>(C) : C) / 2;
  const bool negative = (product < 0) != (C < 0);
  const long long magnitude = ((product < 0 ? -product : product) + half) / (C < 0 ? -static_cast<long long>(C) : C);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

QSize TdAverageCharSize(const TTdTextMetrics& Metrics, const QFont& Font) {
  static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return {Metrics.textWidth(Font, letters) / 52, Metrics.textHeight(Font, letters)};
}

QSize TdWrappedTextSize(const TTdTextMetrics& Metrics, const QFont& Font, QStringView Text, int Width) {
  if (Text.isEmpty())
    return {0, 0};
  const int lineHeight = Metrics.textHeight(Font, u"Ag");
  int widest = 0;
  int lines = 0;
  auto addLine = [&](QStringView Line) {
    widest = std::max(widest, Metrics.textWidth(Font, Line));
    ++lines;
  };
  qsizetype start = 0;
  while (start <= Text.size()) {
    qsizetype end = start;
    while (end < Text.size() && Text[end] != u'\r' && Text[end] != u'\n')
      ++end;
    QStringView paragraph = Text.mid(start, end - start);
    // Words go onto the line while they fit; blanks at a break vanish.
    qsizetype lineStart = 0;
    do {
      qsizetype fitEnd = -1;  // end of the last word that fits
      qsizetype pos = lineStart;
      while (pos < paragraph.size()) {
        qsizetype wordEnd = pos;
        while (wordEnd < paragraph.size() && paragraph[wordEnd] != u' ')
          ++wordEnd;
        if (fitEnd >= 0 && Metrics.textWidth(Font, paragraph.mid(lineStart, wordEnd - lineStart)) > Width)
          break;
        fitEnd = wordEnd;
        pos = wordEnd;
        while (pos < paragraph.size() && paragraph[pos] == u' ')
          ++pos;
      }
      if (fitEnd < 0)
        fitEnd = paragraph.size();
      addLine(paragraph.mid(lineStart, fitEnd - lineStart));
      lineStart = fitEnd;
      while (lineStart < paragraph.size() && paragraph[lineStart] == u' ')
        ++lineStart;
    } while (lineStart < paragraph.size());
    if (end >= Text.size())
      break;
    start = end + (Text[end] == u'\r' && end + 1 < Text.size() && Text[end + 1] == u'\n' ? 2 : 1);
  }
  return {widest, lines * lineHeight};
}

QString TdCommonButtonCaption(TCommonButton Button) {
  return LoadDialogText(kButtons[Button].Caption);
}

int TdCommonButtonResult(TCommonButton Button) { return kButtons[Button].Result; }

QString TdCommonButtonName(TCommonButton Button) { return QString::fromLatin1(kButtons[Button].Name); }

QSize TdCommonButtonSize(const TTdTextMetrics& Metrics, const QFont& Font, TCommonButtons Buttons) {
  // The caption widths measured so far; a new caption, font or metrics is a
  // new key.
  static std::map<std::tuple<const TTdTextMetrics*, int, QString, QString>, int> widths;
  const QSize average = TdAverageCharSize(Metrics, Font);
  int width = TdMulDiv(50, average.width(), 4) - kButtonWidthLess;
  for (int b = 0; b < CommonButtonCount; ++b) {
    if (!hasButton(Buttons, static_cast<TCommonButton>(b)))
      continue;
    const QString caption = TdCommonButtonCaption(static_cast<TCommonButton>(b));
    auto [it, fresh] = widths.try_emplace({&Metrics, b, caption, Font.key()}, 0);
    if (fresh)
      it->second = Metrics.textWidth(Font, uni::WideStripHotkeys(caption)) + 8;
    width = std::max(width, it->second);
  }
  return {width, TdMulDiv(14, average.height(), 8) - kButtonHeightLess};
}

// ---------------------------------------------------------------------------

void TTdCustomDialog::setLayoutMetrics(const TTdTextMetrics* Metrics, int PixelsPerInch) {
  FMetrics = Metrics ? Metrics : &TdScreenMetrics();
  FPixelsPerInch = PixelsPerInch > 0 ? PixelsPerInch : 96;
  FButtonBarHeight = TdMulDiv(41, FPixelsPerInch, 96);
  FExpandLabelWidth = -1;
}

bool TdIsStandardIcon(TTaskDialogIcon Icon) {
  return Icon == tdiWarning || Icon == tdiError || Icon == tdiInformation || Icon == tdiConfirmation ||
         Icon == tdiShield;
}

void TTdCustomDialog::PrepareTexts() {
  const bool standard = TdIsStandardIcon(FMainIcon);
  if (!Instruction.showGlyph() && !Instruction.showAtTop() && (!FGlyph.isNull() || standard))
    FTextLeft = standard ? FEdgeMargin + 43 : FGlyph.width() + FEdgeMargin + 11;
  else if (Instruction.showGlyph() && Instruction.glyph().empty() &&
           (TdIsStandardIcon(Instruction.icon()) || standard))
    FTextLeft = FEdgeMargin + 43;
  else if (Instruction.showGlyph() && !Instruction.glyph().empty())
    FTextLeft = Instruction.glyph().Pixmap.width() + FEdgeMargin + 11;
  else
    FTextLeft = 11;
  if (FMainIcon != tdiNone || !joined(FContent).trimmed().isEmpty() || !Instruction.text().trimmed().isEmpty())
    FTextLeft += 1;
  else
    FTextLeft = 10;
  // A glyph above the instruction leaves the text beside it.
  if (!FGlyph.isNull() && Instruction.showAtTop() && !Instruction.text().isEmpty())
    FTextLeft = FGlyph.width() + FEdgeMargin + 8;
  FTextRightMargin = 10;
}

int TTdCustomDialog::GetExpandoAreaHeight() const {
  if (!Expando.visible() || !Verification.visible())
    return 0;
  const int labelHeight = std::max(metrics().textHeight(FFont.Font, u"Ag"), kMoreGlyph);
  return labelHeight + TdMulDiv(kCheckBoxHeight, FPixelsPerInch, 96) + FItemGap + 2 * FSectionGap + 1;
}

int TTdCustomDialog::GetMinWidth() const {
  int width = 0;
  if (Expando.visible())
    width = (Verification.visible() ? 420 : 406) + (Footer.visible() ? 27 : 0);
  else
    width = Footer.visible() ? 415 : Verification.visible() ? 388 : 0;
  if (!Instruction.text().isEmpty())
    width += 23;
  if (!FContent.isEmpty())
    width += 12;
  return std::max(width, 360);
}

namespace {

int footerHeight(const TTdCustomDialog& D, int W) {
  const int width = W + (D.Footer.icon() == tdiNone ? 24 : 0) - D.FEdgeMargin - 35;
  return MeasureCaptionHeight(D.Footer.text(), width, D.Footer.font().Font, D.metrics()) + kFooterHeightMore + 16;
}

int detailsFooterHeight(const TTdCustomDialog& D, int W) {
  if (D.Expando.moreFormat() == mfRTF || D.Expando.moreSource() != msDefault)
    return D.Expando.moreHeight() + 2 * D.FSectionGap;
  return MeasureCaptionHeight(joined(D.Expando.lines()), W - 2 * D.FEdgeMargin, D.Expando.font().Font,
                              D.metrics()) +
         2 * D.FSectionGap;
}

int headerHeight(const TTdCustomDialog& D, int W) {
  if (!D.Header.visible())
    return 0;
  int icon = 0;
  if (D.Header.icon() == tdiCustom && !D.Header.glyph().empty())
    icon = D.Header.glyph().Pixmap.height();
  else if (D.Header.icon() != tdiNone)
    icon = D.Header.iconSize() == isSmall ? 16 : D.Header.iconSize() == isMedium ? 24 : 32;
  const int text = MeasureCaptionHeight(D.Header.text(), W, D.Header.font().Font, D.metrics());
  return std::max(icon + 2 * D.FItemGap, text + 2 * D.FItemGap);
}

}  // namespace

QRect TTdCustomDialog::GetAreaRect(int Area) const {
  const int W = FClientWidth;
  const int HC = FClientHeight;
  if (W == 0)
    return {};
  const int H = headerHeight(*this, W);
  const int textWidth = W - FTextRightMargin - FTextLeft;
  switch (Area) {
    case taGlyph: {
      if (FGlyph.isNull())
        return {};
      QRect r(10, H + 10, FGlyph.width(), FGlyph.height());
      if (Instruction.showAtTop())
        r.translate(0, GetAreaRect(taInstruction).height() + FItemGap);
      return r;
    }
    case taInstruction: {
      if (Instruction.text().isEmpty())
        return {FTextLeft, H, textWidth, 0};
      int height = TdWrappedTextSize(metrics(), Instruction.font().Font, Instruction.text(), textWidth).height();
      if (Instruction.showGlyph()) {
        const int icon = !Instruction.glyph().empty() ? Instruction.glyph().Pixmap.height() : 32;
        height = std::max(height, icon + 2 * FItemGap);
      }
      return {FTextLeft, H + 10, textWidth, height};
    }
    case taContent: {
      const int B = bottomOf(GetAreaRect(taInstruction));
      const QString text = joined(FContent);
      if (text.trimmed().isEmpty())
        return {FTextLeft, B + (Instruction.text().isEmpty() ? 8 : 32), textWidth, 0};
      return {FTextLeft, B != 0 ? B + 15 : 16, textWidth, MeasureCaptionHeight(text, textWidth, FFont.Font, metrics())};
    }
    case taExpandedText: {
      if (Expando.showInFooter())
        return {};
      const int top = bottomOf(GetAreaRect(taContent)) + FItemGap;
      return {FTextLeft, top, textWidth,
              MeasureCaptionHeight(joined(Expando.lines()), textWidth, Expando.font().Font, metrics())};
    }
    case taHeader:
      return {0, 0, W, H};
    case taFooter: {
      const int height = footerHeight(*this, W);
      const int bottom = detailsExpanded() && Expando.showInFooter() ? GetAreaRect(taFooterDetails).y() : HC;
      return {0, bottom - height, W, height};
    }
    case taFooterDetails: {
      const int height = detailsFooterHeight(*this, W);
      return {0, HC - height, W, height};
    }
    case taButtonBar: {
      int BH = FButtonBarHeight;
      if (Verification.visible() && Expando.visible())
        BH = std::max(FButtonBarHeight, GetExpandoAreaHeight()) + 2;
      const int F = Footer.visible() ? footerHeight(*this, W) : 0;
      int D = 0;
      if (detailsExpanded() && Expando.showInFooter()) {
        if (Expando.moreFormat() == mfRTF || Expando.moreSource() != msDefault)
          D = Expando.moreHeight() + (Footer.visible() ? 0 : 16);
        else
          D = detailsFooterHeight(*this, W);
      }
      return {0, HC - BH - F - D, W, BH};
    }
    case taHeaderAndInstruction:
      return {0, H, W, bottomOf(GetAreaRect(taInstruction)) - H};
    case taProgressBar:
      return {0, bodyBottom(), W, hasProgressBar() ? 25 : 0};
    case taRadioButtons: {
      const QRect progress = GetAreaRect(taProgressBar);
      return {FTextLeft, bottomOf(progress), textWidth, hasOption(doRadioButtons) ? radioAreaHeight() : 0};
    }
    case taHelpLink: {
      if (!hasOption(doShowHelpLink))
        return {};
      const int height = helpLinkHeight();
      int bottom = HC - (Footer.visible() ? footerHeight(*this, W) : 0);
      if (ButtonBar.visible())
        bottom = GetAreaRect(taButtonBar).y();
      return {FTextLeft, bottom - height - FItemGap, textWidth, height};
    }
    case taCommandLinks: {
      const QRect radios = GetAreaRect(taRadioButtons);
      const int gap = radios.height() > 0 && RadioButton.showBorder() ? FSectionGap : 0;
      return {FTextLeft, bottomOf(radios) + gap, textWidth, commandLinks() ? commandLinksHeight() : 0};
    }
    default: return {};
  }
}

int TTdCustomDialog::bodyBottom() const {
  const QRect content = GetAreaRect(taContent);
  int bottom = bottomOf(content) + (content.height() > 0 ? 9 : 0);
  if (detailsExpanded() && !Expando.showInFooter())
    bottom += GetAreaRect(taExpandedText).height() + FSectionGap + (content.height() == 0 ? FSectionGap : 0);
  return bottom;
}

int TTdCustomDialog::radioAreaHeight() const {
  const int count = static_cast<int>(RadioButtons.items().size());
  if (count == 0)
    return 0;
  const int line = radioTextHeight();
  const int step = 2 * FItemGap + line - 1;
  if (!RadioButton.showBorder())
    return count * step;
  // A group: its caption on top, the items in rows of Columns.
  const int columns = std::max(1, RadioButton.columns());
  const int rows = (count + columns - 1) / columns;
  return line + rows * step + 2 * FItemGap;
}

int TTdCustomDialog::commandLinksHeight() const {
  if (FCustomButtonControls.empty())
    return 0;
  int height = 0;
  for (const QPushButton* control : FCustomButtonControls)
    height += control->height();
  height += FItemGap + 6;
  if (joined(FContent).trimmed().isEmpty() && Instruction.text().trimmed().isEmpty())
    height += 16;
  return height;
}

QSize TTdCustomDialog::commonButtonSize() const {
  return TdCommonButtonSize(metrics(), FFont.Font, ButtonBar.buttons());
}

std::vector<std::pair<TCommonButton, QRect>> TTdCustomDialog::commonButtonRects() const {
  std::vector<std::pair<TCommonButton, QRect>> rects;
  if (!ButtonBar.visible())
    return rects;
  const QSize size = commonButtonSize();
  const QRect bar = GetAreaRect(taButtonBar);
  int top = bar.y() + (bar.height() - size.height()) / 2;
  if (Expando.visible() && Verification.visible())
    top -= 9;
  for (int b = 0; b < CommonButtonCount; ++b)
    if (hasButton(ButtonBar.buttons(), static_cast<TCommonButton>(b)))
      rects.emplace_back(static_cast<TCommonButton>(b), QRect());
  int left = bar.x() + bar.width() - size.width() - 2 * FButtonGap - 2;
  for (auto it = rects.rbegin(); it != rects.rend(); ++it) {
    it->second = QRect(QPoint(left, top), size);
    left -= size.width() + FButtonGap + 2;
  }
  return rects;
}

namespace {
int captionWidth(const TTdTextMetrics& Metrics, const QFont& Font, const QString& Caption) {
  return Metrics.textWidth(Font, uni::WideStripHotkeys(Caption));
}
}  // namespace

QRect TTdCustomDialog::moreLabelRect() const {
  const QRect bar = GetAreaRect(taButtonBar);
  const QString caption = Expando.showing() ? Expando.hideText() : Expando.showText();
  const int width = TdMoreLabelWidth(captionWidth(metrics(), FFont.Font, caption), kMoreGlyph, kMoreSpacing);
  const int height = std::max(metrics().textHeight(FFont.Font, u"Ag") + 1, kMoreGlyph);
  return {bar.x() + 10, bar.y() + 10, width, height};
}

int TTdCustomDialog::moreLabelWidth() const {
  if (FExpandLabelWidth < 0) {
    const QString shown = Expando.showing() ? Expando.hideText() : Expando.showText();
    const QString other = Expando.showing() ? Expando.showText() : Expando.hideText();
    const int label = TdMoreLabelWidth(captionWidth(metrics(), FFont.Font, shown), kMoreGlyph, kMoreSpacing);
    FExpandLabelWidth = std::max(label + FEdgeMargin,
                                 captionWidth(metrics(), FFont.Font, other) + kMoreGlyph + kMoreSpacing + FEdgeMargin);
  }
  return FExpandLabelWidth;
}

void TTdCustomDialog::CalculateLayout() {
  if (FLayingOut)
    return;
  FLayingOut = true;
  PrepareTexts();
  const bool links = commandLinks();
  const bool standard = TdIsStandardIcon(FMainIcon);

  // 1-2: the width the texts want.
  const int within = FWidth != 0 ? FWidth : links ? GetMinWidth() : 360;
  int T = TdWrappedTextSize(metrics(), Instruction.font().Font, Instruction.text(), within).width() + 8;
  if (Instruction.showGlyph() && !Instruction.glyph().empty())
    T += Instruction.glyph().Pixmap.width();
  if (T < 16)
    T = TdWrappedTextSize(metrics(), FFont.Font, joined(FContent), 360 - FTextLeft).width() + 7;
  T += 2 * FEdgeMargin;
  if (!FGlyph.isNull() || standard ||
      (Instruction.showGlyph() && !Instruction.showAtTop() &&
       (!Instruction.glyph().empty() || TdIsStandardIcon(Instruction.icon()))))
    T += FEdgeMargin + (!FGlyph.isNull()                 ? FGlyph.width()
                        : !Instruction.glyph().empty() ? Instruction.glyph().Pixmap.width()
                                                       : 32);

  // 3: the width the button bar wants.
  int B = 0;
  if (ButtonBar.visible()) {
    B = 2 * FEdgeMargin;
    const QSize button = commonButtonSize();
    if (!links) {
      bool any = false;
      for (const TTdCustomButtonItem& item : CustomButtons.items()) {
        if (!item.Visible)
          continue;
        any = true;
        B += customButtonWidth(item) + FEdgeMargin;
      }
      if (any)
        B += FButtonGap;
    }
    for (int b = 0; b < CommonButtonCount; ++b)
      if (hasButton(ButtonBar.buttons(), static_cast<TCommonButton>(b)))
        B += button.width() + FEdgeMargin;
    const int verification =
        Verification.visible()
            ? captionWidth(metrics(), FFont.Font, QStringLiteral("  ") + Verification.text()) +
                  TdMulDiv(20, FPixelsPerInch, 96) + FEdgeMargin
            : 0;
    B += std::max(Expando.visible() ? moreLabelWidth() : 0, verification);
  }

  // 4: the client width.
  int width = FWidth != 0 ? FWidth : links ? std::max(T, GetMinWidth()) : std::max(T, 360);
  if (links && FWidth == 0)
    for (const QPushButton* control : FCustomButtonControls)
      if (const auto* link = qobject_cast<const TTdCommandLinkButton*>(control))
        width = std::max(width, link->preferredWidth() + FTextLeft + FTextRightMargin);
  width = std::max(width, B);
  FClientWidth = width + GetExtraWidth();
  // The links are as wide as the text column; their heights follow.
  if (links)
    for (QPushButton* control : FCustomButtonControls) {
      control->resize(FClientWidth - FTextLeft - FTextRightMargin, control->height());
      if (auto* link = qobject_cast<TTdCommandLinkButton*>(control))
        link->AdjustBounds();
    }

  // 5: the client height.
  const QRect content = GetAreaRect(taContent);
  int height = bottomOf(content) + (content.height() > 0 ? 9 : 0);
  if (detailsExpanded()) {
    if (Expando.showInFooter())
      height += Expando.moreFormat() == mfRTF ? 2 * FSectionGap + Expando.moreHeight()
                                              : GetAreaRect(taFooterDetails).height();
    else
      height += GetAreaRect(taExpandedText).height() + FSectionGap + (content.height() == 0 ? FSectionGap : 0);
  }
  if (hasProgressBar())
    height += GetAreaRect(taProgressBar).height();
  // A gap keeps a radio group's frame off the button bar.
  if (hasOption(doRadioButtons) && !RadioButtons.items().empty())
    height += radioAreaHeight() + (RadioButton.showBorder() ? FSectionGap : 0);
  if (links)
    height += commandLinksHeight();
  if (hasOption(doShowHelpLink))
    height += helpLinkHeight() + 2 * FItemGap;
  if (ButtonBar.visible()) {
    int BH = FButtonBarHeight;
    if (Verification.visible() && Expando.visible())
      BH = std::max(FButtonBarHeight, GetExpandoAreaHeight());
    height += BH;
  } else if (!CustomButtons.empty()) {
    height += links ? FSectionGap : FButtonBarHeight - FSectionGap;
  }
  if (Footer.visible())
    height += footerHeight(*this, FClientWidth);
  if (UseMinimumHeight() && height < 93)
    height = 93;
  FClientHeight = height + GetExtraHeight();
  FLayingOut = false;
  applyFormSize();
}

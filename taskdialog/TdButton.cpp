#include "taskdialog/TdButton.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>

#include <algorithm>

#include "taskdialog/TdDialog.h"
#include "taskdialog/TdGraphics.h"
#include "taskdialog/TdTypes.h"
#include "unicode/qt/UniControls.h"
#include "unicode/qt/UniMenus.h"

namespace {

constexpr int kArrowSize = 20;
constexpr std::uint32_t kTextColor = 0x551C15;
constexpr std::uint32_t kHotTextColor = 0xE54A07;

QPainterPath roundedPath(const QRectF& Rect, qreal Corner) {
  QPainterPath path;
  path.addRoundedRect(Rect, Corner / 2.0, Corner / 2.0);
  return path;
}

void outline(QPainter& Canvas, const QRect& Rect, std::uint32_t Color, int Corner) {
  Canvas.save();
  Canvas.setRenderHint(QPainter::Antialiasing);
  Canvas.setPen(TdColor(Color));
  Canvas.setBrush(Qt::NoBrush);
  Canvas.drawPath(roundedPath(QRectF(Rect).adjusted(0.5, 0.5, -0.5, -0.5), Corner));
  Canvas.restore();
}

}  // namespace

QPixmap TdCommandLinkArrow(TTdArrowState State) {
  const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
  QPixmap pixmap(QSize(kArrowSize, kArrowSize) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor arrow(0x1E, 0x8C, 0x3A);
  QColor ring = Qt::transparent;
  switch (State) {
    case TTdArrowState::Cold: break;
    case TTdArrowState::Hot:
      arrow = QColor(0x2E, 0xB8, 0x4F);
      ring = QColor(0x2E, 0xB8, 0x4F, 0x50);
      break;
    case TTdArrowState::Down:
      arrow = QColor(0x14, 0x6B, 0x2B);
      ring = QColor(0x14, 0x6B, 0x2B, 0x60);
      break;
    case TTdArrowState::Disabled: arrow = QColor(0xA0, 0xA0, 0xA0); break;
  }
  if (ring.alpha() > 0) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(ring);
    painter.drawEllipse(QRectF(1, 1, kArrowSize - 2, kArrowSize - 2));
  }
  // A shaft and a head pointing right.
  QPainterPath path;
  path.moveTo(4, 8.5);
  path.lineTo(10, 8.5);
  path.lineTo(10, 4.5);
  path.lineTo(16.5, 10);
  path.lineTo(10, 15.5);
  path.lineTo(10, 11.5);
  path.lineTo(4, 11.5);
  path.closeSubpath();
  painter.setPen(Qt::NoPen);
  painter.setBrush(arrow);
  painter.drawPath(path);
  return pixmap;
}

TTdCustomCommandLinkButton::TTdCustomCommandLinkButton(QWidget* Parent)
    : QPushButton(Parent), FColor(QApplication::palette().color(QPalette::Base)), FMetrics(&TdScreenMetrics()) {
  FCaptionFont = QApplication::font();
  FCaptionFont.setPointSize(12);
  FInfoFont = QApplication::font();
  FInfoFont.setPointSize(9);
  FShowCues = style()->styleHint(QStyle::SH_UnderlineShortcut, nullptr, this) != 0;
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::StrongFocus);
  setAutoDefault(false);
  uni::RegisterHotkeyControl(this, [this] {
    setFocus(Qt::ShortcutFocusReason);
    click();
    return true;
  });
}

QString TTdCustomCommandLinkButton::caption() const { return uni::UniControlGetText(this); }

void TTdCustomCommandLinkButton::setCaption(const QString& Caption) {
  if (Caption == caption())
    return;
  uni::UniControlSetText(this, Caption);
  AdjustBounds();
  update();
}

void TTdCustomCommandLinkButton::setInfo(const QStringList& Info) {
  if (Info == FInfo)
    return;
  FInfo = Info;
  AdjustBounds();
  update();
}

void TTdCustomCommandLinkButton::setCaptionFont(const QFont& Font) {
  FCaptionFont = Font;
  AdjustBounds();
  update();
}

void TTdCustomCommandLinkButton::setInfoFont(const QFont& Font) {
  FInfoFont = Font;
  update();
}

void TTdCustomCommandLinkButton::setAutoSize(bool AutoSize) {
  FAutoSize = AutoSize;
  AdjustBounds();
  update();
}

void TTdCustomCommandLinkButton::setShowIcon(bool ShowIcon) {
  FShowIcon = ShowIcon;
  update();
}

void TTdCustomCommandLinkButton::setGlyph(const QPixmap& Glyph) {
  FGlyph = Glyph;
  AdjustBounds();
  update();
}

void TTdCustomCommandLinkButton::setPicture(const QPixmap& Picture) {
  FPicture = Picture;
  AdjustBounds();
  update();
}

void TTdCustomCommandLinkButton::setElevationRequired(bool Required) {
  FElevationRequired = Required;
  setGlyph(Required ? TdStandardIcon(tdiShield, 16) : QPixmap());
}

void TTdCustomCommandLinkButton::setButtonStyle(TTdButtonStyle Style) {
  FStyle = Style;
  UpdateRegion();
  update();
}

void TTdCustomCommandLinkButton::setColor(const QColor& Color) {
  FColor = Color;
  update();
}

void TTdCustomCommandLinkButton::setDefaultHeight(int Height) {
  FDefaultHeight = Height;
  AdjustBounds();
}

void TTdCustomCommandLinkButton::setShowKeyboardCues(bool Show) {
  if (FShowCues == Show)
    return;
  FShowCues = Show;
  update();
}

void TTdCustomCommandLinkButton::setMetrics(const TTdTextMetrics* Metrics) {
  FMetrics = Metrics ? Metrics : &TdScreenMetrics();
  AdjustBounds();
}

QSize TTdCustomCommandLinkButton::glyphSize() const {
  if (!FGlyph.isNull())
    return FGlyph.deviceIndependentSize().toSize();
  return {kArrowSize, kArrowSize};
}

int TTdCustomCommandLinkButton::NoteIndent() const {
  int indent = FShowIcon ? glyphSize().width() + 17 : 7;
  if (!FPicture.isNull())
    indent += FPicture.width() + 4;
  return indent;
}

QString TTdCustomCommandLinkButton::GetNoteText() const {
  return FInfo.join(QStringLiteral("\r\n")).trimmed();
}

QRect TTdCustomCommandLinkButton::GetPartRect(int Part) const {
  const int W = width();
  switch (Part) {
    case bpBackground: return rect();
    case bpFocus: return rect().adjusted(3, 3, -3, -3);
    case bpGlyph:
      if (FShowIcon)
        return {10, 13, glyphSize().width(), glyphSize().height()};
      return {0, 0, 6, 0};
    case bpCaption: {
      const QRect glyph = GetPartRect(bpGlyph);
      const int left = glyph.x() + glyph.width() + 7;
      return {left, 10, W - 12 - left, FMetrics->textHeight(FCaptionFont, captionDrawing().Text)};
    }
    case bpNote: {
      const QRect caption = GetPartRect(bpCaption);
      int left = caption.x();
      int width = W - 12 - left;
      if (!FPicture.isNull()) {
        left += FPicture.width() + 8;
        width = W - FPicture.width() - 20 - (caption.x() + FPicture.width() + 4);
      }
      int height = MeasureCaptionHeight(GetNoteText(), width, FInfoFont, *FMetrics);
      if (!FPicture.isNull())
        height = std::max(height, FPicture.height() + 4);
      return {left, caption.y() + caption.height() + 1, W - 12 - left, height};
    }
    case bpPicture: {
      const QRect caption = GetPartRect(bpCaption);
      return {caption.x() + 1, caption.y() + caption.height() + 4, FPicture.width(), FPicture.height()};
    }
    default: return {};
  }
}

int TTdCustomCommandLinkButton::preferredWidth() const {
  const int a = FShowIcon ? glyphSize().width() + 16 : 16;
  int width = a + 16 + FMetrics->textWidth(FCaptionFont, uni::WideStripHotkeys(caption()));
  if (!FPicture.isNull())
    width += FPicture.width() + 20;
  return width;
}

void TTdCustomCommandLinkButton::AdjustBounds() {
  const int a = FShowIcon ? glyphSize().width() + 16 : 16;
  if (width() < a)
    return;
  const QString text = uni::WideStripHotkeys(caption());
  const int H1 = FMetrics->textHeight(FCaptionFont, text);
  const int W = FAutoSize ? preferredWidth() : width();
  int H2 = MeasureCaptionHeight(GetNoteText(), W - NoteIndent() - 12, FInfoFont, *FMetrics);
  if (!FPicture.isNull())
    H2 = std::max(H2, FPicture.height() + 4);
  setGeometry(x(), y(), W, H1 + H2 + 21);
}

TTdCustomCommandLinkButton::TCaptionDrawing TTdCustomCommandLinkButton::captionDrawing() const {
  TCaptionDrawing drawing;
  drawing.Flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs | Qt::TextDontClip;
  if (FShowCues) {
    drawing.Text = caption();
    drawing.Flags |= Qt::TextShowMnemonic;
  } else {
    drawing.Text = uni::WideStripHotkeys(caption());
  }
  return drawing;
}

QColor TTdCustomCommandLinkButton::textColor() const {
  if (!isEnabled())
    return palette().color(QPalette::Disabled, QPalette::WindowText);
  return TdColor(FHot && !FPressed ? kHotTextColor : kTextColor);
}

bool TTdCustomCommandLinkButton::otherNonLinkActive() const {
  const QWidget* active = window() ? window()->focusWidget() : nullptr;
  return active && active != this && !qobject_cast<const TTdCustomCommandLinkButton*>(active);
}

void TTdCustomCommandLinkButton::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  canvas.fillRect(rect(), FStyle == jsbNative ? FColor : palette().color(QPalette::Button));
  const QWidget* active = window() ? window()->focusWidget() : nullptr;
  if (FHot) {
    DrawBackground(canvas, GetPartRect(bpBackground));
  } else if (isDefault() && otherNonLinkActive()) {
    DrawFrame(canvas, GetPartRect(bpBackground));
  } else if (!isDefault() || active == this) {
    if ((isDefault() && !FPressed) || hasFocus())
      DrawFrame(canvas, GetPartRect(bpBackground));
    else if (FStyle == jsbClassic)
      DrawBackground(canvas, GetPartRect(bpBackground));
  }
  // A pressed classic button moves its face by a pixel.
  const QPoint shift = FStyle == jsbClassic && FPressed ? QPoint(1, 1) : QPoint(0, 0);
  if (FShowIcon)
    DrawGlyph(canvas, GetPartRect(bpGlyph).translated(shift));
  DrawCaptionText(canvas, GetPartRect(bpCaption).translated(shift));
  DrawNote(canvas, GetPartRect(bpNote).translated(shift));
  if (!FPicture.isNull())
    DrawPicture(canvas, GetPartRect(bpPicture).translated(shift));
  if (hasFocus())
    DrawFocus(canvas, GetPartRect(bpFocus));
}

void TTdCustomCommandLinkButton::DrawBackground(QPainter& Canvas, const QRect& Rect) {
  if (FStyle == jsbClassic) {
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = Rect;
    if (FPressed)
      option.state |= QStyle::State_Sunken;
    else
      option.state |= QStyle::State_Raised;
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &Canvas, this);
    return;
  }
  if (FPressed) {
    Canvas.fillRect(Rect, TdColor(0xECECEB));
    Canvas.save();
    Canvas.setPen(TdColor(0xECECEB));
    Canvas.drawRect(GetPartRect(bpFocus).adjusted(0, 0, -1, -1));
    Canvas.restore();
  } else {
    QLinearGradient gradient(Rect.topLeft(), Rect.bottomLeft());
    gradient.setColorAt(0, TdColor(0xFFFFFF));
    gradient.setColorAt(1, TdColor(0xF6F6F6));
    Canvas.fillRect(Rect.adjusted(0, 0, 0, -1), gradient);
    Canvas.fillRect(QRect(Rect.x(), Rect.y() + Rect.height() - 3, Rect.width(), 1), TdColor(0xFBFBFB));
  }
  outline(Canvas, Rect, 0xEAEAEA, 2);
  outline(Canvas, Rect, 0xC6C6C6, 5);
}

void TTdCustomCommandLinkButton::DrawFrame(QPainter& Canvas, const QRect& Rect) {
  if (FStyle == jsbClassic) {
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = Rect;
    option.state |= QStyle::State_Raised | QStyle::State_MouseOver;
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &Canvas, this);
    return;
  }
  outline(Canvas, Rect, 0xFFF4C7, 2);
  outline(Canvas, Rect, 0xFFEFAE, 5);
}

void TTdCustomCommandLinkButton::DrawCaptionText(QPainter& Canvas, const QRect& Rect) {
  const TCaptionDrawing drawing = captionDrawing();
  Canvas.save();
  Canvas.setFont(FCaptionFont);
  Canvas.setPen(textColor());
  Canvas.drawText(Rect, drawing.Flags, drawing.Text);
  Canvas.restore();
}

void TTdCustomCommandLinkButton::DrawNote(QPainter& Canvas, const QRect& Rect) {
  const QString note = GetNoteText();
  if (note.isEmpty())
    return;
  Canvas.save();
  Canvas.setPen(textColor());
  // The note lies on what is drawn beneath it.
  const TTdBackground background(clNone, true, GetPartRect(bpNote));
  DrawCaptionRect(Canvas, note, Rect, FInfoFont, &background);
  Canvas.restore();
}

void TTdCustomCommandLinkButton::DrawGlyph(QPainter& Canvas, const QRect& Rect) {
  if (!FGlyph.isNull()) {
    Canvas.drawPixmap(Rect.topLeft(), FGlyph);
    return;
  }
  TTdArrowState state = TTdArrowState::Cold;
  if (!isEnabled())
    state = TTdArrowState::Disabled;
  else if (FHot && FPressed)
    state = TTdArrowState::Down;
  else if (FHot)
    state = TTdArrowState::Hot;
  Canvas.drawPixmap(Rect.topLeft(), TdCommandLinkArrow(state));
}

void TTdCustomCommandLinkButton::DrawFocus(QPainter& Canvas, const QRect& Rect) {
  if (!isEnabled())
    return;
  QStyleOptionFocusRect option;
  option.initFrom(this);
  option.rect = Rect;
  style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &Canvas, this);
}

void TTdCustomCommandLinkButton::DrawPicture(QPainter& Canvas, const QRect& Rect) {
  Canvas.drawPixmap(Rect.topLeft(), FPicture);
}

void TTdCustomCommandLinkButton::UpdateRegion() {
  if (width() <= 0 || height() <= 0)
    return;
  if (FStyle == jsbNative)
    setMask(QRegion(roundedPath(QRectF(0, 0, width() + 1, height() + 1), 2).toFillPolygon().toPolygon()));
  else
    clearMask();
}

void TTdCustomCommandLinkButton::resizeEvent(QResizeEvent* Event) {
  QPushButton::resizeEvent(Event);
  UpdateRegion();
}

void TTdCustomCommandLinkButton::enterEvent(QEnterEvent* Event) {
  FHot = true;
  update();
  QPushButton::enterEvent(Event);
}

void TTdCustomCommandLinkButton::leaveEvent(QEvent* Event) {
  FHot = false;
  update();
  QPushButton::leaveEvent(Event);
}

void TTdCustomCommandLinkButton::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton) {
    FPressed = true;
    setFocus(Qt::MouseFocusReason);
    update();
  }
  QPushButton::mousePressEvent(Event);
}

void TTdCustomCommandLinkButton::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton) {
    FPressed = false;
    update();
  }
  QPushButton::mouseReleaseEvent(Event);
}

void TTdCustomCommandLinkButton::keyPressEvent(QKeyEvent* Event) {
  const bool plain = (Event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0;
  if (plain && (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter)) {
    FEnterDown = true;
    return;
  }
  if (plain && Event->key() == Qt::Key_Space) {
    if (!Event->isAutoRepeat())
      FSpaceDown = true;
    return;
  }
  QPushButton::keyPressEvent(Event);
}

void TTdCustomCommandLinkButton::keyReleaseEvent(QKeyEvent* Event) {
  if (Event->isAutoRepeat()) {
    Event->accept();
    return;
  }
  const bool enter = Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter;
  if ((enter && FEnterDown) || (Event->key() == Qt::Key_Space && FSpaceDown)) {
    FEnterDown = FSpaceDown = false;
    click();
    return;
  }
  QPushButton::keyReleaseEvent(Event);
}

void TTdCustomCommandLinkButton::focusInEvent(QFocusEvent* Event) {
  QPushButton::focusInEvent(Event);
  update();
}

void TTdCustomCommandLinkButton::focusOutEvent(QFocusEvent* Event) {
  FEnterDown = FSpaceDown = false;
  QPushButton::focusOutEvent(Event);
  update();
}

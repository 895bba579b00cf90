#include "taskdialog/TdLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>

#include "unicode/qt/UniControls.h"
#include "unicode/qt/UniGraphics.h"

int TdMoreLabelCaptionLeft(int GlyphWidth, int Spacing) {
  return 2 + (GlyphWidth > 0 ? GlyphWidth + Spacing : 2);
}

int TdMoreLabelWidth(int CaptionWidth, int GlyphWidth, int Spacing) {
  return TdMoreLabelCaptionLeft(GlyphWidth, Spacing) + CaptionWidth + GlyphWidth + Spacing;
}

QPixmap TdMoreLabelGlyph(bool Expanded, TTdGlyphState State) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor ring = State == TTdGlyphState::Cold ? QColor(0xA0, 0xA0, 0xA0) : QColor(0x3C, 0x7F, 0xB1);
  const QColor fill = State == TTdGlyphState::Cold  ? QColor(0xFF, 0xFF, 0xFF)
                      : State == TTdGlyphState::Hot ? QColor(0xE5, 0xF3, 0xFB)
                                                    : QColor(0xC4, 0xE5, 0xF6);
  painter.setPen(QPen(ring, 1));
  painter.setBrush(fill);
  painter.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  const QColor arrow = State == TTdGlyphState::Cold ? QColor(0x40, 0x40, 0x40) : QColor(0x1C, 0x4E, 0x7A);
  painter.setPen(QPen(arrow, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  // Two chevrons, pointing down (show) or up (hide).
  for (const qreal top : {4.5, 8.0}) {
    QPainterPath path;
    if (Expanded) {
      path.moveTo(4.5, top + 3);
      path.lineTo(8, top);
      path.lineTo(11.5, top + 3);
    } else {
      path.moveTo(4.5, top);
      path.lineTo(8, top + 3);
      path.lineTo(11.5, top);
    }
    painter.drawPath(path);
  }
  return pixmap;
}

// ---------------------------------------------------------------------------

TTdCustomLabel::TTdCustomLabel(QWidget* Parent) : QWidget(Parent) {
  resize(65, 17);
  setBackgroundRole(QPalette::Button);
  uni::RegisterHotkeyControl(this, [this] {
    setFocus(Qt::ShortcutFocusReason);
    Click();
    return true;
  });
}

QString TTdCustomLabel::caption() const { return uni::UniControlGetText(this); }

void TTdCustomLabel::setCaption(const QString& Caption) {
  if (Caption == caption())
    return;
  uni::UniControlSetText(this, Caption);
  AdjustBounds();
  update();
}

QRect TTdCustomLabel::GetCaptionRect(QRect Rect) const { return Rect.adjusted(4, 1, 0, 0); }

void TTdCustomLabel::Click() { emit clicked(); }

void TTdCustomLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(backgroundRole()));
  painter.setFont(font());
  QRect r = GetCaptionRect(rect());
  const unsigned format = uni::DT_LEFT | uni::DT_WORDBREAK;
  if (!isEnabled()) {
    // Embossed: a light copy one pixel down and right, the shadow on top.
    QRect shifted = r.translated(1, 1);
    painter.setPen(palette().color(QPalette::Light));
    uni::WideDrawText(painter, caption(), shifted, format);
    painter.setPen(palette().color(QPalette::Dark));
  } else {
    painter.setPen(palette().color(foregroundRole()));
  }
  QRect drawn = r;
  uni::WideDrawText(painter, caption(), drawn, format);
  if (hasFocus()) {
    QRect extent = r;
    uni::WideMeasureText(font(), caption(), extent, uni::DT_LEFT | uni::DT_SINGLELINE);
    const QRect focus(QPoint(0, extent.top()), QPoint(extent.right() + 2, extent.bottom() + 2));
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(focus.adjusted(0, 0, -1, -1));
  }
}

void TTdCustomLabel::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton)
    setFocus(Qt::MouseFocusReason);
  QWidget::mousePressEvent(Event);
}

void TTdCustomLabel::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()))
    Click();
  QWidget::mouseReleaseEvent(Event);
}

void TTdCustomLabel::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  if (Event->type() == QEvent::FontChange)
    AdjustBounds();
  if (Event->type() == QEvent::FontChange || Event->type() == QEvent::PaletteChange ||
      Event->type() == QEvent::EnabledChange)
    update();
}

void TTdCustomLabel::focusInEvent(QFocusEvent* Event) {
  QWidget::focusInEvent(Event);
  update();
}

void TTdCustomLabel::focusOutEvent(QFocusEvent* Event) {
  QWidget::focusOutEvent(Event);
  update();
}

// ---------------------------------------------------------------------------

TTdMoreLabel::TTdMoreLabel(QWidget* Parent) : TTdCustomLabel(Parent) {
  resize(200, 20);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_Hover);
}

void TTdMoreLabel::setExpanded(bool Expanded) {
  if (Expanded == FExpanded)
    return;
  FExpanded = Expanded;
  if (!FShowCaption.isEmpty() || !FHideCaption.isEmpty())
    setCaption(FExpanded ? FHideCaption : FShowCaption);
  update();
  emit expandedChanged(FExpanded);
  if (FExpanded)
    DoExpanded();
  else
    DoCollapsed();
}

void TTdMoreLabel::setSpacing(int Spacing) {
  if (Spacing == FSpacing)
    return;
  FSpacing = Spacing;
  AdjustBounds();
  update();
}

void TTdMoreLabel::setGlyph(const QPixmap& Glyph) {
  FGlyph = Glyph;
  AdjustBounds();
  update();
}

void TTdMoreLabel::setCaptions(const QString& ShowCaption, const QString& HideCaption) {
  FShowCaption = ShowCaption;
  FHideCaption = HideCaption;
  setCaption(FExpanded ? FHideCaption : FShowCaption);
}

QSize TTdMoreLabel::glyphSize() const { return FGlyph.isNull() ? QSize(16, 16) : FGlyph.size(); }

QPixmap TTdMoreLabel::currentGlyph() const {
  if (!FGlyph.isNull())
    return FGlyph;
  const TTdGlyphState state = FHot && FPressed ? TTdGlyphState::Pressed
                              : FHot           ? TTdGlyphState::Hot
                                               : TTdGlyphState::Cold;
  return TdMoreLabelGlyph(FExpanded, state);
}

QRect TTdMoreLabel::GetCaptionRect(QRect Rect) const {
  Rect.setTop(Rect.top() + 1);
  Rect.setLeft(Rect.left() + TdMoreLabelCaptionLeft(glyphSize().width(), FSpacing));
  return Rect;
}

void TTdMoreLabel::AdjustBounds() {
  QRect r = GetCaptionRect(QRect(0, 0, 1 << 16, 1 << 16));
  const int textHeight = uni::WideMeasureText(font(), caption(), r, uni::DT_LEFT | uni::DT_SINGLELINE);
  const int captionWidth = caption().isEmpty() ? 0 : r.width();
  FFitted = QSize(TdMoreLabelWidth(captionWidth, glyphSize().width(), FSpacing),
                  std::max(textHeight, glyphSize().height()));
  resize(FFitted);
  updateGeometry();
}

QSize TTdMoreLabel::sizeHint() const { return FFitted.isValid() ? FFitted : QSize(200, 20); }

void TTdMoreLabel::Click() {
  setExpanded(!FExpanded);
  TTdCustomLabel::Click();
}

void TTdMoreLabel::paintEvent(QPaintEvent* Event) {
  TTdCustomLabel::paintEvent(Event);
  QPainter painter(this);
  painter.drawPixmap(0, 0, currentGlyph());
}

void TTdMoreLabel::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Space && Event->modifiers() == Qt::NoModifier) {
    Click();
    return;
  }
  TTdCustomLabel::keyPressEvent(Event);
}

void TTdMoreLabel::enterEvent(QEnterEvent* Event) {
  FMouseInside = FHot = true;
  update();
  TTdCustomLabel::enterEvent(Event);
}

void TTdMoreLabel::leaveEvent(QEvent* Event) {
  FMouseInside = FHot = false;
  update();
  TTdCustomLabel::leaveEvent(Event);
}

void TTdMoreLabel::mousePressEvent(QMouseEvent* Event) {
  FHot = FPressed = true;
  update();
  TTdCustomLabel::mousePressEvent(Event);
}

void TTdMoreLabel::mouseReleaseEvent(QMouseEvent* Event) {
  FPressed = false;
  FHot = FMouseInside;
  update();
  TTdCustomLabel::mouseReleaseEvent(Event);
}

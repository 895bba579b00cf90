#include "taskdialog/TdCheckBox.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

#include "unicode/qt/UniControls.h"
#include "unicode/qt/UniGraphics.h"

QRect TdCheckBoxBoxRect(QSize Client, QSize BoxSize, bool BoxRight) {
  const int x = BoxRight ? Client.width() - BoxSize.width() : 0;
  const int y = std::max(1, (Client.height() - BoxSize.height() + 1) / 2);
  return QRect(QPoint(x, y), BoxSize);
}

QRect TdCheckBoxCaptionRect(QSize Client, QSize BoxSize, bool BoxRight) {
  QRect r(QPoint(0, 0), Client);
  r.setTop(r.top() + 1);
  if (BoxRight) {
    r.setLeft(r.left() + 2);
    r.setRight(r.right() - (BoxSize.width() + 1));
  } else {
    r.setLeft(r.left() + BoxSize.width() + 4);
  }
  return r;
}

TTdCheckBox::TTdCheckBox(QWidget* Parent) : QWidget(Parent) {
  resize(97, 17 * logicalDpiY() / 96);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_Hover);
  uni::RegisterHotkeyControl(this, [this] {
    setFocus(Qt::ShortcutFocusReason);
    if (hasFocus())
      Toggle();
    return true;
  });
}

QString TTdCheckBox::caption() const { return uni::UniControlGetText(this); }

void TTdCheckBox::setCaption(const QString& Caption) {
  uni::UniControlSetText(this, Caption);
  updateGeometry();
  update();
}

void TTdCheckBox::setChecked(bool Checked) {
  if (Checked == FChecked)
    return;
  FChecked = Checked;
  update();
  emit checkedChanged(FChecked);
}

void TTdCheckBox::setAlignment(Qt::Alignment Alignment) {
  FAlignment = Alignment;
  update();
}

void TTdCheckBox::setTransparent(bool Transparent) {
  FTransparent = Transparent;
  update();
}

QSize TTdCheckBox::boxSize() const {
  return QSize(style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this),
               style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this));
}

bool TTdCheckBox::boxRight() const {
  // Right-to-left reading mirrors the box's side.
  const bool right = FAlignment & Qt::AlignRight;
  return layoutDirection() == Qt::RightToLeft ? !right : right;
}

QRect TTdCheckBox::boxRect() const { return TdCheckBoxBoxRect(size(), boxSize(), boxRight()); }

QRect TTdCheckBox::captionRect() const { return TdCheckBoxCaptionRect(size(), boxSize(), boxRight()); }

QSize TTdCheckBox::sizeHint() const {
  QRect text(0, 0, 1 << 16, 1 << 16);
  const int height = uni::WideMeasureText(font(), caption(), text, uni::DT_SINGLELINE);
  const int minHeight = 17 * logicalDpiY() / 96;
  return QSize(std::max(97, boxSize().width() + 4 + text.width() + 4),
               std::max({minHeight, height + 2, boxSize().height() + 2}));
}

bool TTdCheckBox::PointInCaption(QPoint Point) const { return captionRect().contains(Point); }

void TTdCheckBox::Toggle() { setChecked(!FChecked); }

void TTdCheckBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!FTransparent)
    painter.fillRect(rect(), palette().color(backgroundRole()));

  QStyleOptionButton box;
  box.initFrom(this);
  box.rect = boxRect();
  box.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
  box.state |= FChecked ? QStyle::State_On : QStyle::State_Off;
  if (isEnabled() && FPressed)
    box.state |= QStyle::State_Sunken;
  if (isEnabled() && FHot)
    box.state |= QStyle::State_MouseOver;
  style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, &painter, this);

  QRect text = captionRect();
  unsigned format = uni::DT_SINGLELINE | uni::DT_VCENTER | uni::DT_EXPANDTABS;
  if (layoutDirection() == Qt::RightToLeft)
    format |= uni::DT_RIGHT | uni::DT_RTLREADING;
  painter.setFont(font());
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
  uni::WideDrawText(painter, caption(), text, format);
  if (hasFocus()) {
    QRect extent = captionRect();
    uni::WideMeasureText(font(), caption(), extent, uni::DT_SINGLELINE);
    const QRect r = captionRect();
    QRect focus(r.left() - 2, r.top() + (r.height() - extent.height()) / 2 - 1, extent.width() + 4,
                extent.height() + 2);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(focus.adjusted(0, 0, -1, -1));
  }
}

void TTdCheckBox::mousePressEvent(QMouseEvent* Event) {
  FPressed = true;
  if (Event->button() == Qt::LeftButton)
    setFocus(Qt::MouseFocusReason);
  update();
}

void TTdCheckBox::mouseReleaseEvent(QMouseEvent* Event) {
  FPressed = Event->buttons() != Qt::NoButton;
  const QPoint at = Event->position().toPoint();
  if (Event->button() == Qt::LeftButton && isEnabled() && (boxRect().contains(at) || PointInCaption(at)))
    Toggle();
  update();
  DoClick();
}

void TTdCheckBox::enterEvent(QEnterEvent* Event) {
  FHot = true;
  update();
  QWidget::enterEvent(Event);
}

void TTdCheckBox::leaveEvent(QEvent* Event) {
  FHot = false;
  update();
  QWidget::leaveEvent(Event);
}

void TTdCheckBox::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  update();
}

void TTdCheckBox::focusInEvent(QFocusEvent* Event) {
  QWidget::focusInEvent(Event);
  update();
}

void TTdCheckBox::focusOutEvent(QFocusEvent* Event) {
  QWidget::focusOutEvent(Event);
  update();
}

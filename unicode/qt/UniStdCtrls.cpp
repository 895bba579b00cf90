#include "unicode/qt/UniStdCtrls.h"

#include <QPainter>

#include "unicode/qt/UniControls.h"
#include "unicode/qt/UniGraphics.h"

namespace uni {

namespace {

bool canFocus(const QWidget* Control) {
  return Control != nullptr && Control->isEnabled() && Control->isVisible() &&
         Control->focusPolicy() != Qt::NoFocus;
}

}  // namespace

// ---- TUniEdit ------------------------------------------------------------

TUniEdit::TUniEdit(QWidget* Parent) : QLineEdit(Parent) { EnsureUniEventFilter(); }

QString TUniEdit::text() const { return QLineEdit::text(); }
void TUniEdit::setText(const QString& Text) { UniControlSetText(this, Text); }
QString TUniEdit::hint() const { return UniControlGetHint(this); }
void TUniEdit::setHint(const QString& Hint) { UniControlSetHint(this, Hint); }

int TUniEdit::selStart() const {
  return hasSelectedText() ? selectionStart() : cursorPosition();
}

void TUniEdit::setSelStart(int Start) {
  deselect();
  setCursorPosition(Start);
}

int TUniEdit::selLength() const { return hasSelectedText() ? selectionLength() : 0; }

void TUniEdit::setSelLength(int Length) {
  const int start = selStart();
  if (Length <= 0) {
    setSelStart(start);
    return;
  }
  setSelection(start, Length);
}

QString TUniEdit::selText() const { return selectedText(); }

// ---- TUniLabel -----------------------------------------------------------

TUniLabel::TUniLabel(QWidget* Parent) : QLabel(Parent) {
  // The caption is never markup, whatever it looks like.
  setTextFormat(Qt::PlainText);
  RegisterHotkeyControl(this, [this] { return hotkeyPressed(); });
}

TUniLabel::TUniLabel(const QString& Caption, QWidget* Parent) : TUniLabel(Parent) {
  setCaption(Caption);
}

QString TUniLabel::caption() const { return UniControlGetText(this); }

void TUniLabel::setCaption(const QString& Caption) {
  UniControlSetText(this, Caption);
  updateGeometry();
  update();
}

QString TUniLabel::hint() const { return UniControlGetHint(this); }
void TUniLabel::setHint(const QString& Hint) { UniControlSetHint(this, Hint); }

void TUniLabel::setShowAccelChar(bool Show) {
  FShowAccelChar = Show;
  updateGeometry();
  update();
}

void TUniLabel::setEllipsisPosition(TEllipsisPosition Position) {
  FEllipsis = Position;
  update();
}

void TUniLabel::setAutoSize(bool AutoSize) {
  FAutoSize = AutoSize;
  updateGeometry();
  update();
}

bool TUniLabel::hotkeyPressed() {
  QWidget* target = buddy();
  if (!FShowAccelChar || !isEnabled() || !canFocus(target))
    return false;
  target->setFocus(Qt::ShortcutFocusReason);
  return true;
}

unsigned TUniLabel::baseFormat() const {
  unsigned format = 0;
  const Qt::Alignment align = alignment();
  if (align & Qt::AlignHCenter)
    format |= DT_CENTER;
  else if (align & Qt::AlignRight)
    format |= DT_RIGHT;
  if (wordWrap())
    format |= DT_WORDBREAK;
  format |= DT_EXPANDTABS;
  if (!FShowAccelChar)
    format |= DT_NOPREFIX;
  if (layoutDirection() == Qt::RightToLeft)
    format |= DT_RTLREADING;
  return format;
}

TUniLabel::TDrawing TUniLabel::drawing() const {
  TDrawing result{caption(), baseFormat(), true};
  if (FEllipsis == TEllipsisPosition::None || FAutoSize)
    return result;
  result.Format &= ~(DT_CALCRECT | DT_EXPANDTABS);
  result.Format |= FEllipsis == TEllipsisPosition::Path ? DT_PATH_ELLIPSIS
                   : FEllipsis == TEllipsisPosition::End ? DT_END_ELLIPSIS
                                                         : DT_WORD_ELLIPSIS;
  if (wordWrap() && FEllipsis != TEllipsisPosition::Path) {
    const QRect client = contentsRect();
    const QFont labelFont = font();
    const int narrowed = client.width() - WideCanvasTextWidth(labelFont, u"...");
    const unsigned measureFormat = result.Format | DT_CALCRECT;
    const TShortenedText shortened = WideShortenToFit(
        result.Text,
        [&](const QString& Trial) {
          QRect rect(client.left(), client.top(), narrowed, client.height());
          return WideMeasureText(labelFont, Trial, rect, measureFormat);
        },
        client.height(), WideCanvasTextHeight(labelFont, u" "));
    result.Text = shortened.Text;
    result.Draw = shortened.Draw;
  }
  return result;
}

std::vector<TLabelPass> LabelPasses(bool Enabled) {
  if (Enabled)
    return {{QPoint(0, 0), QPalette::WindowText}};
  return {{QPoint(1, 1), QPalette::Light}, {QPoint(0, 0), QPalette::Dark}};
}

QSize TUniLabel::sizeHint() const {
  QString text = caption();
  // An empty caption, or a lone hotkey marker, still measures one line.
  if (text.isEmpty() || (FShowAccelChar && text == u"&"))
    text += u' ';
  QRect rect(0, 0, wordWrap() ? std::max(width(), 1) : 0, 0);
  WideMeasureText(font(), text, rect, baseFormat() | DT_CALCRECT);
  const QMargins margins = contentsMargins();
  return QSize(rect.width() + margins.left() + margins.right(),
               rect.height() + margins.top() + margins.bottom());
}

QSize TUniLabel::minimumSizeHint() const {
  if (FAutoSize)
    return sizeHint();
  return QSize(0, sizeHint().height());
}

void TUniLabel::paintEvent(QPaintEvent*) {
  const TDrawing draw = drawing();
  if (!draw.Draw)
    return;
  QPainter painter(this);
  painter.setFont(font());
  for (const TLabelPass& pass : LabelPasses(isEnabled())) {
    QRect rect = contentsRect().translated(pass.Offset);
    painter.setPen(palette().color(pass.Role));
    WideDrawText(painter, draw.Text, rect, draw.Format);
  }
}

// ---- Buttons -------------------------------------------------------------

TUniButton::TUniButton(QWidget* Parent) : TWideCaptioned<QPushButton>(Parent) {
  RegisterHotkeyControl(this, [this] {
    if (!canFocus(this))
      return false;
    click();
    return true;
  });
}

TUniButton::TUniButton(const QString& Caption, QWidget* Parent) : TUniButton(Parent) {
  setCaption(Caption);
}


TUniCheckBox::TUniCheckBox(QWidget* Parent) : TWideCaptioned<QCheckBox>(Parent) {
  RegisterHotkeyControl(this, [this] {
    if (!canFocus(this))
      return false;
    setFocus(Qt::ShortcutFocusReason);
    if (hasFocus())
      toggle();
    return true;
  });
}

TUniCheckBox::TUniCheckBox(const QString& Caption, QWidget* Parent) : TUniCheckBox(Parent) {
  setCaption(Caption);
}


TUniRadioButton::TUniRadioButton(QWidget* Parent) : TWideCaptioned<QRadioButton>(Parent) {
  RegisterHotkeyControl(this, [this] {
    if (!canFocus(this))
      return false;
    setFocus(Qt::ShortcutFocusReason);
    return true;
  });
}

TUniRadioButton::TUniRadioButton(const QString& Caption, QWidget* Parent) : TUniRadioButton(Parent) {
  setCaption(Caption);
}


}  // namespace uni

#include "app/ChangeLogPane.h"

#include <QFont>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QTextBlock>

#include "app/QtText.h"

#include <algorithm>

class ChangeLogGutter : public QWidget {
public:
  explicit ChangeLogGutter(ChangeLogPane* pane) : QWidget(pane), pane_(pane) {
    QFont small(QStringLiteral("Courier New"));
    small.setStyleHint(QFont::Monospace);
    small.setPixelSize(11);
    setFont(small);
  }
  QSize sizeHint() const override { return {pane_->gutterWidth(), 0}; }

protected:
  void paintEvent(QPaintEvent* event) override { pane_->paintGutter(event); }

private:
  ChangeLogPane* pane_;
};

ChangeLogPane::ChangeLogPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont mono(QStringLiteral("Courier New"));
  mono.setStyleHint(QFont::Monospace);
  mono.setPixelSize(13);
  setFont(mono);
  gutter_ = new ChangeLogGutter(this);
  connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { updateGutterWidth(); });
  connect(this, &QPlainTextEdit::updateRequest, this, &ChangeLogPane::updateGutter);
  updateGutterWidth();
}

void ChangeLogPane::Add(const QString& line) { appendLines({line}); }

void ChangeLogPane::AddStrings(const std::vector<std::string>& lines) {
  QStringList wide;
  wide.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string& line : lines) wide << ansiToQString(line);
  appendLines(wide);
}

QString ChangeLogPane::Text() const {
  QString text;
  for (const QString& line : lines_) text += line + QStringLiteral("\r\n");
  return text;
}

void ChangeLogPane::appendLines(const QStringList& lines) {
  if (lines.isEmpty()) return;
  // The document's first block exists before any line: the first line fills
  // it, every further line opens a block of its own.
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  for (const QString& line : lines) {
    if (!lines_.isEmpty()) cursor.insertBlock();
    // A line break inside a line would show as two lines of the pane.
    QString shown = line;
    shown.replace(u'\r', u' ').replace(u'\n', u' ');
    cursor.insertText(shown);
    lines_ << line;
  }
  cursor.endEditBlock();
}

int ChangeLogPane::gutterWidth() const {
  int digits = 1;
  for (int n = std::max(1, Count()); n >= 10; n /= 10) ++digits;
  return 8 + gutter_->fontMetrics().horizontalAdvance(u'9') * std::max(digits, 3);
}

void ChangeLogPane::updateGutterWidth() {
  setViewportMargins(gutterWidth(), 0, 0, 0);
  const QRect area = contentsRect();
  gutter_->setGeometry(QRect(area.left(), area.top(), gutterWidth(), area.height()));
}

void ChangeLogPane::updateGutter(const QRect& rect, int dy) {
  if (dy)
    gutter_->scroll(0, dy);
  else
    gutter_->update(0, rect.y(), gutter_->width(), rect.height());
  if (rect.contains(viewport()->rect())) updateGutterWidth();
}

void ChangeLogPane::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  updateGutterWidth();
}

void ChangeLogPane::paintGutter(QPaintEvent* event) {
  QPainter painter(gutter_);
  painter.fillRect(event->rect(), palette().color(QPalette::Window));
  painter.setPen(palette().color(QPalette::PlaceholderText));
  QTextBlock block = firstVisibleBlock();
  int number = block.blockNumber();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  int bottom = top + qRound(blockBoundingRect(block).height());
  const int lineHeight = fontMetrics().height();
  while (block.isValid() && top <= event->rect().bottom()) {
    // The empty pane shows no number: it has no lines yet.
    if (block.isVisible() && bottom >= event->rect().top() && number < Count())
      painter.drawText(0, top, gutter_->width() - 4, lineHeight, Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(number + 1));
    block = block.next();
    top = bottom;
    bottom = top + qRound(blockBoundingRect(block).height());
    ++number;
  }
}

#include "taskdialog/TdUnicode.h"

#include <QFontMetrics>
#include <QPainter>

int TTdFontMetrics::textWidth(const QFont& Font, QStringView Text) const {
  return QFontMetrics(Font).horizontalAdvance(Text.toString());
}

int TTdFontMetrics::textHeight(const QFont& Font, QStringView Text) const {
  return QFontMetrics(Font).height();
}

const TTdTextMetrics& TdScreenMetrics() {
  static const TTdFontMetrics metrics;
  return metrics;
}

int WideTextWidth(const QFont& Font, QStringView Text) { return TdScreenMetrics().textWidth(Font, Text); }

int WideTextHeight(const QFont& Font, QStringView Text) { return TdScreenMetrics().textHeight(Font, Text); }

void DrawTextWide(QPainter& Painter, QStringView Text, int Flags, QRect& Rect, bool Calc) {
  if (Calc) {
    Rect = Painter.fontMetrics().boundingRect(Rect, Flags, Text.toString());
    return;
  }
  Painter.drawText(Rect, Flags, Text.toString());
}

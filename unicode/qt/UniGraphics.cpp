#include "unicode/qt/UniGraphics.h"

#include <QFontMetrics>
#include <QPainter>

#include "unicode/qt/UniMenus.h"

namespace uni {

QSize WideCanvasTextExtent(const QFont& Font, QStringView Text) {
  const QFontMetrics metrics(Font);
  return QSize(metrics.horizontalAdvance(Text.toString()), metrics.height());
}

int WideCanvasTextWidth(const QFont& Font, QStringView Text) {
  return WideCanvasTextExtent(Font, Text).width();
}

int WideCanvasTextHeight(const QFont& Font, QStringView Text) {
  return WideCanvasTextExtent(Font, Text).height();
}

namespace {

int qtFlags(unsigned Format) {
  int flags = 0;
  if (Format & DT_CENTER)
    flags |= Qt::AlignHCenter;
  else if (Format & DT_RIGHT)
    flags |= Qt::AlignRight;
  else
    flags |= Qt::AlignLeft;
  // Windows centres vertically only on a single line.
  if ((Format & DT_SINGLELINE) && (Format & DT_VCENTER))
    flags |= Qt::AlignVCenter;
  else if ((Format & DT_SINGLELINE) && (Format & DT_BOTTOM))
    flags |= Qt::AlignBottom;
  else
    flags |= Qt::AlignTop;
  if (Format & DT_SINGLELINE)
    flags |= Qt::TextSingleLine;
  else if (Format & DT_WORDBREAK)
    flags |= Qt::TextWordWrap;
  if (Format & DT_EXPANDTABS)
    flags |= Qt::TextExpandTabs;
  if (Format & DT_NOCLIP)
    flags |= Qt::TextDontClip;
  if (!(Format & DT_NOPREFIX))
    flags |= Qt::TextShowMnemonic;
  return flags;
}

// The text Qt is handed: with hotkeys, only the marker the caption means;
// without, the text as it stands (Qt then draws every "&").
QString qtText(QStringView Text, unsigned Format) {
  if (Format & DT_NOPREFIX)
    return Text.toString();
  return QtMnemonicText(Text);
}

QString elided(const QFontMetrics& Metrics, const QString& Text, int Width, unsigned Format) {
  if (Format & DT_PATH_ELLIPSIS)
    return Metrics.elidedText(Text, Qt::ElideMiddle, Width, Qt::TextShowMnemonic);
  if (Format & (DT_END_ELLIPSIS | DT_WORD_ELLIPSIS))
    return Metrics.elidedText(Text, Qt::ElideRight, Width, Qt::TextShowMnemonic);
  return Text;
}

int measure(const QFontMetrics& Metrics, const QString& Text, QRect& Rect, unsigned Format) {
  const int flags = qtFlags(Format);
  // A wrapped text keeps the rectangle's width; one line grows as it needs.
  const QRect bounds = (Format & DT_WORDBREAK) && !(Format & DT_SINGLELINE)
                           ? Metrics.boundingRect(QRect(Rect.left(), Rect.top(), Rect.width(), 1 << 20),
                                                  flags, Text)
                           : Metrics.boundingRect(QRect(Rect.left(), Rect.top(), 1 << 20, 1 << 20),
                                                  flags, Text);
  const int height = Text.isEmpty() ? 0 : bounds.height();
  Rect.setRight(Rect.left() + bounds.width() - 1);
  Rect.setBottom(Rect.top() + height - 1);
  return height;
}

}  // namespace

int WideMeasureText(const QFont& Font, QStringView Text, QRect& Rect, unsigned Format) {
  return measure(QFontMetrics(Font), qtText(Text, Format), Rect, Format);
}

int WideDrawText(QPainter& Painter, QStringView Text, QRect& Rect, unsigned Format) {
  const QFontMetrics metrics = Painter.fontMetrics();
  QString text = qtText(Text, Format);
  if (Format & DT_CALCRECT)
    return measure(metrics, text, Rect, Format);
  if ((Format & (DT_PATH_ELLIPSIS | DT_END_ELLIPSIS | DT_WORD_ELLIPSIS)) && (Format & DT_SINGLELINE ||
                                                                              !(Format & DT_WORDBREAK)))
    text = elided(metrics, text, Rect.width(), Format);
  QRect bounds;
  Painter.drawText(Rect, qtFlags(Format), text, &bounds);
  return bounds.height();
}

TShortenedText WideShortenToFit(const QString& Text, const TMeasureHeight& MeasureHeight,
                                int ClientHeight, int FontHeight) {
  QString trial = Text;
  QString cut = Text;
  for (;;) {
    const int height = MeasureHeight(trial);
    if (height <= ClientHeight || height <= FontHeight)
      break;
    const qsizetype blank = std::max(cut.lastIndexOf(u' '), cut.lastIndexOf(u'\t'));
    if (blank >= 0)
      cut.truncate(blank);
    else
      cut.chop(1);
    trial = cut + QStringLiteral("...");
    if (cut.isEmpty())
      break;
  }
  return {trial, !cut.isEmpty()};
}

}  // namespace uni

// Painting of the drawn task dialog: everything that is not a control.

#include <QLinearGradient>
#include <QPainter>

#include "taskdialog/TdDialog.h"
#include "taskdialog/TdGraphics.h"
#include "taskdialog/TdLabel.h"

namespace {

// The divider lines of the newer system dialogs.
const QColor kDividerColor(0xDF, 0xDF, 0xDF);

QString joined(const QStringList& Lines) { return Lines.join(QStringLiteral("\r\n")); }

void drawMarkup(QPainter& Canvas, const QString& Text, const QRect& Rect, const TTdFont& Font) {
  if (Text.isEmpty() || Rect.width() <= 0)
    return;
  Canvas.save();
  Canvas.setPen(Font.Color);
  DrawCaptionRect(Canvas, Text, Rect, Font.Font, nullptr);
  Canvas.restore();
}

}  // namespace

void TTdCustomDialog::Paint(QPainter& Canvas) {
  if (FLayingOut || FRealigning || FClientWidth == 0)
    return;
  Canvas.fillRect(QRect(0, 0, FClientWidth, FClientHeight), FColor);
  if (Header.visible())
    PaintHeader(Canvas, GetAreaRect(taHeader));
  PaintInstruction(Canvas, GetAreaRect(taInstruction));
  PaintGlyph(Canvas, GetAreaRect(taGlyph));
  PaintContent(Canvas, GetAreaRect(taContent));
  PaintExtra(Canvas, QRect());
  if (detailsExpanded() && !Expando.showInFooter())
    PaintExpandedText(Canvas, GetAreaRect(taExpandedText));
  PaintButtonBar(Canvas, GetAreaRect(taButtonBar));
  if (Footer.visible() || (Expando.showInFooter() && Expando.visible()))
    PaintFooter(Canvas);
  if (Border.visible()) {
    Canvas.save();
    Canvas.setPen(QPen(Border.color(), Border.width()));
    Canvas.setBrush(Qt::NoBrush);
    const int inset = Border.width() > 1 ? 1 : 0;
    Canvas.drawRect(QRect(0, 0, FClientWidth, FClientHeight).adjusted(inset, inset, -1 - inset, -1 - inset));
    Canvas.restore();
  }
}

void TTdCustomDialog::PaintInstruction(QPainter& Canvas, const QRect& Rect) {
  if (Instruction.color().isValid() && FMainIcon == tdiNone)
    Canvas.fillRect(GetAreaRect(taHeaderAndInstruction), Instruction.color());
  if (Instruction.showGlyph()) {
    QPixmap icon = Instruction.glyph().Pixmap;
    if (icon.isNull() && TdIsStandardIcon(Instruction.icon()))
      icon = TdStandardIcon(Instruction.icon(), 32);
    if (!icon.isNull())
      Canvas.drawPixmap(Rect.x() - 8 - icon.width(), Rect.y(), icon);
  }
  if (Instruction.text().isEmpty())
    return;
  Canvas.save();
  Canvas.setFont(Instruction.font().Font);
  Canvas.setPen(Instruction.font().Color);
  Canvas.drawText(Rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, Instruction.text());
  Canvas.restore();
}

void TTdCustomDialog::PaintGlyph(QPainter& Canvas, const QRect& Rect) {
  if (FGlyph.isNull())
    return;
  Canvas.fillRect(Rect, FColor);
  Canvas.drawPixmap(Rect.topLeft(), FGlyph);
}

void TTdCustomDialog::PaintContent(QPainter& Canvas, const QRect& Rect) {
  drawMarkup(Canvas, joined(FContent), Rect, FFont);
}

void TTdCustomDialog::PaintExpandedText(QPainter& Canvas, const QRect& Rect) {
  if (Rect.x() + Rect.width() > 0)
    drawMarkup(Canvas, joined(Expando.lines()), Rect, Expando.font());
}

void TTdCustomDialog::PaintHeader(QPainter& Canvas, const QRect& Rect) {
  Canvas.fillRect(Rect, Header.color());
  const TTdGradient& gradient = Header.Gradient;
  if (gradient.enabled() && gradient.startColor() != clNone && gradient.endColor() != clNone) {
    const bool horizontal = gradient.direction() == TGradientDirection::gdHorizontal;
    QLinearGradient fill(Rect.topLeft(), horizontal ? Rect.topRight() : Rect.bottomLeft());
    fill.setColorAt(0, TdColor(gradient.startColor()));
    fill.setColorAt(1, TdColor(gradient.endColor()));
    Canvas.fillRect(Rect, fill);
  }
  int textLeft = FEdgeMargin;
  QPixmap icon;
  if (Header.icon() == tdiCustom && !Header.glyph().empty())
    icon = Header.glyph().Pixmap.scaledToHeight(Header.iconSize() == isSmall ? 16 : Header.iconSize() == isMedium ? 24 : 32);
  else if (TdIsStandardIcon(Header.icon()))
    icon = TdStandardIcon(Header.icon(), Header.iconSize() == isSmall ? 16 : Header.iconSize() == isMedium ? 24 : 32);
  if (!icon.isNull()) {
    Canvas.drawPixmap(Rect.x() + FEdgeMargin, Rect.y() + FItemGap, icon);
    textLeft = icon.width() + 2 * FEdgeMargin;
  }
  drawMarkup(Canvas, Header.text(), Rect.adjusted(textLeft, FItemGap, 0, 0), Header.font());
}

void TTdCustomDialog::PaintButtonBar(QPainter& Canvas, const QRect& Rect) {
  if (!ButtonBar.visible())
    return;
  Canvas.fillRect(Rect, ButtonBar.color());
  if (ButtonBar.showDivider())
    Canvas.fillRect(QRect(Rect.x(), Rect.y(), Rect.width(), 1), kDividerColor);
}

void TTdCustomDialog::PaintDivider(QPainter& Canvas, const QRect& Rect) {
  Canvas.fillRect(QRect(Rect.x(), Rect.y(), Rect.width(), 1), kDividerColor);
  Canvas.fillRect(QRect(Rect.x(), Rect.y() + 1, Rect.width(), 1), Qt::white);
}

void TTdCustomDialog::PaintFooter(QPainter& Canvas) {
  if (Footer.visible()) {
    const QRect area = GetAreaRect(taFooter);
    Canvas.fillRect(area, Footer.color());
    PaintDivider(Canvas, area);
    if (Footer.icon() != tdiNone) {
      const QRect place(area.x() + 12, area.y() + 7 + 4, 16, 16);
      if (Footer.icon() == tdiCustom) {
        if (!Footer.glyph().empty())
          Canvas.drawPixmap(place, Footer.glyph().Pixmap);
      } else {
        Canvas.drawPixmap(place.topLeft(), TdStandardIcon(Footer.icon(), 16));
      }
    }
  }
  if (detailsExpanded() && Expando.showInFooter()) {
    const QRect area = GetAreaRect(taFooterDetails);
    Canvas.fillRect(area, ButtonBar.color());
    PaintDivider(Canvas, area);
    if (Expando.moreFormat() == mfText && Expando.moreSource() == msDefault)
      drawMarkup(Canvas, joined(Expando.lines()), area.adjusted(FEdgeMargin, FSectionGap, -FEdgeMargin, 0),
                 Expando.font());
  }
}

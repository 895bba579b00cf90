#include "app/DataImages.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>

#include <array>

namespace {

QPixmap blank() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  return pm;
}

// A folder, closed or open, in the colour of its view.
QPixmap folder(QColor body, bool open, const char* badge) {
  QPixmap pm = blank();
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor edge = body.darker(170);
  p.setPen(QPen(edge, 1));
  p.setBrush(body.darker(115));
  p.drawRoundedRect(QRectF(1.5, 3.5, 6, 3), 1, 1);  // tab
  p.drawRoundedRect(QRectF(1.5, 4.5, 13, 9.5), 1, 1);
  if (open) {
    QPainterPath front;
    front.moveTo(3.5, 7.5);
    front.lineTo(15.5, 7.5);
    front.lineTo(13.5, 14);
    front.lineTo(1.5, 14);
    front.closeSubpath();
    p.setBrush(body.lighter(120));
    p.drawPath(front);
  } else {
    p.setBrush(body);
    p.drawRect(QRectF(1.5, 6.5, 13, 7.5));
  }
  if (badge) {
    QFont f = p.font();
    f.setPixelSize(7);
    f.setBold(true);
    p.setFont(f);
    p.setPen(edge.darker(140));
    p.drawText(QRectF(3, 7, 12, 7), Qt::AlignCenter, QString::fromLatin1(badge));
  }
  return pm;
}

QPixmap glyph(QColor colour, const char* text) {
  QPixmap pm = blank();
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(colour.darker(150));
  p.setBrush(colour.lighter(170));
  p.drawRoundedRect(QRectF(0.5, 1.5, 15, 13), 2, 2);
  QFont f = p.font();
  f.setPixelSize(8);
  f.setBold(true);
  p.setFont(f);
  p.setPen(colour.darker(200));
  p.drawText(QRectF(0, 1, 16, 14), Qt::AlignCenter, QString::fromLatin1(text));
  return pm;
}

QPixmap standard(QStyle::StandardPixmap which) {
  return QApplication::style()->standardIcon(which).pixmap(16, 16);
}

QPixmap magnifier() {
  QPixmap pm = blank();
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.setBrush(QColor(200, 225, 255));
  p.drawEllipse(QRectF(2, 2, 8, 8));
  p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
  return pm;
}

const std::array<QPixmap, kDataImageCount>& images() {
  static const std::array<QPixmap, kDataImageCount> list = [] {
    std::array<QPixmap, kDataImageCount> l;
    const QColor yellow(240, 200, 80), blue(120, 170, 230), green(120, 200, 120);
    l[0] = standard(QStyle::SP_ComputerIcon);
    l[1] = folder(yellow, false, nullptr);
    l[2] = folder(yellow, true, nullptr);
    l[3] = glyph(QColor(200, 60, 60), "ab");
    l[4] = glyph(QColor(60, 90, 200), "01");
    l[5] = glyph(QColor(90, 140, 90), "U");
    l[6] = glyph(QColor(220, 170, 40), "+");
    l[7] = glyph(QColor(200, 40, 40), "x");
    l[8] = standard(QStyle::SP_FileIcon);
    l[9] = standard(QStyle::SP_DriveNetIcon);
    l[10] = glyph(QColor(120, 120, 120), "\xBB");
    l[11] = magnifier();
    l[12] = blank();
    l[13] = standard(QStyle::SP_DialogSaveButton);
    l[14] = glyph(QColor(80, 130, 200), "{}");
    l[15] = folder(blue, false, "32");
    l[16] = folder(blue, true, "32");
    l[17] = folder(green, false, "64");
    l[18] = folder(green, true, "64");
    return l;
  }();
  return list;
}

}  // namespace

QIcon dataImage(int index) {
  if (index < 0 || index >= kDataImageCount) return {};
  return QIcon(images()[static_cast<std::size_t>(index)]);
}

QIcon dataNodeIcon(int image, int selectedImage) {
  QIcon icon;
  if (image >= 0 && image < kDataImageCount) icon.addPixmap(images()[static_cast<std::size_t>(image)], QIcon::Normal);
  if (selectedImage >= 0 && selectedImage < kDataImageCount)
    icon.addPixmap(images()[static_cast<std::size_t>(selectedImage)], QIcon::Selected);
  return icon;
}

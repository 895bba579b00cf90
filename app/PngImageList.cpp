#include "app/PngImageList.h"

#include <QFile>
#include <QPixmap>

int PngImageList::Add(const QByteArray& png) {
  QImage image;
  if (!image.loadFromData(png, "PNG") || image.width() != width_ || image.height() != height_) return -1;
  pngs_.push_back(png);
  images_.push_back(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
  return Count() - 1;
}

bool PngImageList::AddFiles(const QStringList& fileNames) {
  for (const QString& name : fileNames) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly) || Add(file.readAll()) < 0) return false;
  }
  return true;
}

QByteArray PngImageList::Png(int index) const {
  if (index < 0 || index >= Count()) return {};
  return pngs_[static_cast<std::size_t>(index)];
}

QImage PngImageList::Image(int index) const {
  if (index < 0 || index >= Count()) return {};
  return images_[static_cast<std::size_t>(index)];
}

QIcon PngImageList::icon(int index) const {
  if (index < 0 || index >= Count()) return {};
  return QIcon(QPixmap::fromImage(images_[static_cast<std::size_t>(index)]));
}

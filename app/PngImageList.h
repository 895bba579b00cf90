#pragma once

// An image list whose images are kept as PNG files, alpha and all, and handed
// out as icons by index, as menus, actions and tool bars draw them. Every
// image has the list's size. Qt's PNG reader decodes each image once, when
// it is added.

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QStringList>

#include <vector>

class PngImageList {
public:
  PngImageList(int width, int height) : width_(width), height_(height) {}

  int Width() const { return width_; }
  int Height() const { return height_; }
  int Count() const { return static_cast<int>(pngs_.size()); }

  // Appends the image; its index, or -1 (and nothing added) when the bytes
  // are no PNG image or not of the list's size.
  int Add(const QByteArray& png);
  // Appends the PNG files (paths or Qt resources) in order; false when one
  // cannot be read or added, the ones before it staying.
  bool AddFiles(const QStringList& fileNames);

  // The image's PNG bytes as added; empty outside the list.
  QByteArray Png(int index) const;
  // The decoded image; a null image outside the list.
  QImage Image(int index) const;
  // The image as an icon; a null icon outside the list.
  QIcon icon(int index) const;

private:
  int width_, height_;
  std::vector<QByteArray> pngs_;
  std::vector<QImage> images_;
};

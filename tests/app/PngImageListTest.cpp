// The PNG image list, and the history window's two lists built into the
// program.

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include "app/PngImageList.h"

namespace {

QByteArray pngOf(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

QImage filled(int size, QRgb colour) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(colour);
  return image;
}

TEST(PngImageList, KeepsTheBytesAndRefusesWhatDoesNotFit) {
  PngImageList list(16, 16);
  const QByteArray red = pngOf(filled(16, qRgba(255, 0, 0, 128)));
  EXPECT_EQ(list.Add(red), 0);
  const struct {
    const char* what;
    QByteArray bytes;
  } refused[] = {
      {"no PNG", QByteArray("not an image")},
      {"a cut PNG", red.left(red.size() / 2)},
      {"another size", pngOf(filled(24, qRgb(0, 0, 255)))},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(list.Add(c.bytes), -1);
  }
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Png(0), red);
  EXPECT_EQ(qAlpha(list.Image(0).pixel(3, 3)), 128);
  EXPECT_FALSE(list.icon(0).isNull());
  for (int outside : {-1, 1}) {
    EXPECT_TRUE(list.Png(outside).isEmpty());
    EXPECT_TRUE(list.Image(outside).isNull());
    EXPECT_TRUE(list.icon(outside).isNull());
  }
  EXPECT_FALSE(list.AddFiles({QStringLiteral(":/no/such/image.png")}));
}

// Five images of each size, each with opaque and fully transparent pixels.
TEST(PngImageList, TheHistoryImagesAreBuiltIn) {
  for (int size : {16, 24}) {
    SCOPED_TRACE(size);
    PngImageList list(size, size);
    QStringList files;
    for (int i = 0; i < 5; ++i) files << QStringLiteral(":/history/%1/%2.png").arg(size).arg(i);
    ASSERT_TRUE(list.AddFiles(files));
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE(i);
      EXPECT_TRUE(list.Png(i).startsWith("\x89PNG"));
      const QImage image = list.Image(i);
      bool clear = false, opaque = false;
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
          clear = clear || qAlpha(image.pixel(x, y)) == 0;
          opaque = opaque || qAlpha(image.pixel(x, y)) == 255;
        }
      EXPECT_TRUE(clear && opaque);
    }
  }
}

}  // namespace

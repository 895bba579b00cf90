#include "png/qt/PngRoutines.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include <cmath>

#include "png/qt/PngIconList.h"
#include "png/qt/PngPictureQt.h"

namespace {

// alpha × (level + 1) / 256, halves to the even neighbour.
std::uint8_t scaledAlpha(unsigned alpha, unsigned level) {
  const unsigned n = alpha * (level + 1);
  unsigned q = n / 256;
  const unsigned r = n % 256;
  if (r > 128 || (r == 128 && (q & 1))) ++q;
  return std::uint8_t(q);
}

long double roundHalfEven(long double v) {
  const long double lower = std::floor(v);
  const long double diff = v - lower;
  if (diff > 0.5L) return lower + 1;
  if (diff < 0.5L) return lower;
  return std::fmod(lower, 2.0L) == 0 ? lower : lower + 1;
}

void greyPixel(std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue, unsigned amount) {
  const long double grey =
      std::uint8_t(unsigned(roundHalfEven(red * 0.3L + green * 0.59L + blue * 0.11L)) & 0xFF);
  const long double toward = roundHalfEven(grey / 256.0L * (amount + 1));
  auto move = [&](std::uint8_t& c) {
    c = std::uint8_t(unsigned(roundHalfEven(c / 256.0L * (255 - amount)) + toward) % 256);
  };
  move(red);
  move(green);
  move(blue);
}

// A grey or palette image becomes a colour image with alpha: the blend of
// such an image cannot live in its colour table.
void blendIndexedPng(TPngPicture& image, std::uint8_t level) {
  const TPngDrawSource source = image.DrawSource();
  TPngPicture blended;
  blended.PrepareFromBitmap(source.width, source.height, kDefaultBitmapBits);
  blended.AddAlphaPlane();
  for (std::uint32_t y = 0; y < source.height; ++y) {
    std::uint8_t* alpha = blended.AlphaRow(y);
    for (std::uint32_t x = 0; x < source.width; ++x) {
      blended.SetPixel(x, y, image.GetPixel(x, y));
      const bool keyed = source.kind == tkColorKey && (source.argb[std::size_t(y) * source.width + x] >> 24) == 0;
      alpha[x] = keyed ? 0 : level;
    }
  }
  image.CopyFromPng(blended);
}

// An 8-bit colour image of the bitmap's colours (a bitmap with alpha gives
// its colours as they are, not blended), with an opaque alpha plane.
std::unique_ptr<TPngPicture> colourImageWithAlpha(const QImage& bitmap) {
  const QImage argb = bitmap.convertToFormat(QImage::Format_ARGB32);
  auto image = std::make_unique<TPngPicture>();
  image->PrepareFromBitmap(std::uint32_t(argb.width()), std::uint32_t(argb.height()), kDefaultBitmapBits);
  for (int y = 0; y < argb.height(); ++y) {
    const auto* s = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    std::uint8_t* d = image->PixelRow(std::uint32_t(y));
    for (int x = 0; x < argb.width(); ++x) {
      d[3 * x] = std::uint8_t(qBlue(s[x]));
      d[3 * x + 1] = std::uint8_t(qGreen(s[x]));
      d[3 * x + 2] = std::uint8_t(qRed(s[x]));
    }
  }
  image->AddAlphaPlane();
  return image;
}

template <class Canvas>
void drawPngIcon(const TPngPicture& image, Canvas& canvas, const QRect& rect, TPngOptions options) noexcept {
  if (!options) {
    Draw(image, canvas, rect);
    return;
  }
  try {
    TPngPicture copy;
    copy.CopyFromPng(image);
    if (!copy.HasHeader()) return;
    if (options.testFlag(pngBlendOnDisabled)) BlendPngIcon(copy, 127);
    if (options.testFlag(pngGrayscaleOnDisabled)) GreyPngIcon(copy, 255);
    Draw(copy, canvas, rect);
  } catch (...) {
    // Drawing runs in paint events; an image that cannot be changed is left out.
  }
}

}  // namespace

void BlendPngIcon(TPngPicture& image, std::uint8_t level) {
  const TPngHeaderFields& f = image.HeaderChunk().HeaderFields();
  if (f.ColorType == 0 || f.ColorType == 3) {
    blendIndexedPng(image, level);
    return;
  }
  // A colour key becomes alpha 0 at the keyed pixels here.
  if (f.ColorType == 2) image.AddAlphaPlane();
  if (f.ColorType != 4 && f.ColorType != 6) return;
  for (std::uint32_t y = 0; y < f.Height; ++y) {
    std::uint8_t* alpha = image.AlphaRow(y);
    if (!alpha) return;
    for (std::uint32_t x = 0; x < f.Width; ++x) alpha[x] = scaledAlpha(alpha[x], level);
  }
}

void GreyPngIcon(TPngPicture& image, std::uint8_t amount) {
  TChunkIHDR& h = image.HeaderChunk();
  const std::uint8_t type = h.HeaderFields().ColorType;
  if (type == 0 || type == 4) return;
  if (type == 3) {
    std::vector<std::uint32_t> palette = image.GetPalette();
    for (std::uint32_t& c : palette) {
      std::uint8_t r = std::uint8_t(c), g = std::uint8_t(c >> 8), b = std::uint8_t(c >> 16);
      greyPixel(r, g, b, amount);
      c = std::uint32_t(r) | std::uint32_t(g) << 8 | std::uint32_t(b) << 16;
    }
    image.SetPalette(palette);
    return;
  }
  if (!h.HasPixelStore() || h.DibInfo().biBitCount != 24) return;
  for (std::uint32_t y = 0; y < h.Height(); ++y) {
    std::uint8_t* p = h.PixelRow(y);
    for (std::uint32_t x = 0; x < h.Width(); ++x, p += 3) greyPixel(p[2], p[1], p[0], amount);
  }
}

void DrawPngIcon(const TPngPicture& image, QImage& canvas, const QRect& rect, TPngOptions options) noexcept {
  drawPngIcon(image, canvas, rect, options);
}

void DrawPngIcon(const TPngPicture& image, QPainter& painter, const QRect& rect, TPngOptions options) noexcept {
  drawPngIcon(image, painter, rect, options);
}

std::unique_ptr<TPngPicture> PngFromBitmapAndMask(const QImage& bitmap, const QImage* mask, bool inverted) {
  auto image = colourImageWithAlpha(bitmap);
  if (!mask || mask->isNull()) return image;
  const QRect maskArea = mask->rect();
  for (int y = 0; y < bitmap.height(); ++y) {
    std::uint8_t* alpha = image->AlphaRow(std::uint32_t(y));
    for (int x = 0; x < bitmap.width(); ++x) {
      if (!maskArea.contains(x, y)) continue;
      const int red = qRed(mask->pixel(x, y));
      alpha[x] = std::uint8_t(inverted ? 255 - red : red);
    }
  }
  return image;
}

std::unique_ptr<TPngPicture> PngFromMaskColor(const QImage& bitmap, std::uint32_t maskColor) {
  auto image = colourImageWithAlpha(bitmap);
  for (int y = 0; y < bitmap.height(); ++y) {
    std::uint8_t* alpha = image->AlphaRow(std::uint32_t(y));
    for (int x = 0; x < bitmap.width(); ++x) alpha[x] = image->GetPixel(x, y) == maskColor ? 0 : 255;
  }
  return image;
}

std::unique_ptr<TPngPicture> PngFromGraphic(const TPngPicture& graphic) {
  auto image = std::make_unique<TPngPicture>();
  image->CopyFromPng(graphic);
  return image;
}

std::unique_ptr<TPngPicture> PngFromGraphic(const QImage& graphic) {
  if (!graphic.hasAlphaChannel()) {
    auto image = std::make_unique<TPngPicture>();
    AssignBitmap(*image, graphic.convertToFormat(QImage::Format_RGB888), false, 0);
    return image;
  }
  const QImage argb = graphic.convertToFormat(QImage::Format_ARGB32);
  auto image = colourImageWithAlpha(argb);
  for (int y = 0; y < argb.height(); ++y) {
    const auto* s = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    std::uint8_t* alpha = image->AlphaRow(std::uint32_t(y));
    for (int x = 0; x < argb.width(); ++x) alpha[x] = std::uint8_t(qAlpha(s[x]));
  }
  return image;
}

std::unique_ptr<TPngPicture> PngFromGraphic(const QIcon& graphic, const QSize& size) {
  QImage picture = graphic.pixmap(size).toImage();
  if (picture.isNull()) {
    picture = QImage(size, QImage::Format_ARGB32);
    if (picture.isNull()) return std::make_unique<TPngPicture>();
    picture.fill(Qt::transparent);
  }
  // An icon always carries alpha, even one whose picture is opaque.
  if (!picture.hasAlphaChannel()) picture = picture.convertToFormat(QImage::Format_ARGB32);
  return PngFromGraphic(picture);
}

void PngFromImageListEntry(TPngPicture& image, const TPngIconList& list, int index) {
  if (const TPngIconCollectionItem* item = list.PngIcons().ItemAt(index); item && item->PngIcon())
    image.CopyFromPng(*item->PngIcon());
}

#include "png/qt/PngPictureQt.h"

#include <QClipboard>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

// The image in Qt's 32-bit form: opaque images as RGB32, the others as ARGB32
// with their alpha (0 at keyed pixels).
QImage argbImage(const TPngDrawSource& source) {
  QImage image(int(source.width), int(source.height),
               source.kind == tkNone ? QImage::Format_RGB32 : QImage::Format_ARGB32);
  for (std::uint32_t y = 0; y < source.height; ++y)
    std::memcpy(image.scanLine(int(y)), source.argb.data() + std::size_t(y) * source.width,
                std::size_t(source.width) * 4);
  return image;
}

// Draws onto a 32-bit canvas whose pixels are 0xAARRGGBB words.
void drawOn32Bits(const TPngDrawSource& source, QImage& canvas, const QRect& rect) {
  const int w = int(source.width), h = int(source.height);
  if (w == 0 || h == 0) return;
  const QRect bounds = canvas.rect();
  if (source.kind == tkAlpha) {
    const QRect area = QRect(rect.topLeft(), QSize(w, h)) & bounds;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      auto* d = reinterpret_cast<QRgb*>(canvas.scanLine(y));
      const std::uint32_t* s = source.argb.data() + std::size_t(y - rect.top()) * source.width;
      for (int x = area.left(); x <= area.right(); ++x) {
        const std::uint32_t p = s[x - rect.left()];
        const std::uint32_t a = p >> 24;
        std::uint32_t out = d[x] & 0xFF000000u;
        for (int shift = 0; shift <= 16; shift += 8) {
          const std::uint32_t sc = p >> shift & 0xFF, dc = d[x] >> shift & 0xFF;
          out |= ((sc * a + 255 + (255 - a) * dc) >> 8) << shift;
        }
        d[x] = out;
      }
    }
    return;
  }
  // Stretched over the rectangle, each canvas pixel taking the image pixel
  // its position falls on; key pixels leave the canvas as it was.
  const int rw = rect.width(), rh = rect.height();
  if (rw <= 0 || rh <= 0) return;
  const QRect area = rect & bounds;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    auto* d = reinterpret_cast<QRgb*>(canvas.scanLine(y));
    const std::size_t sy = std::size_t(std::int64_t(y - rect.top()) * h / rh);
    const std::uint32_t* s = source.argb.data() + sy * source.width;
    for (int x = area.left(); x <= area.right(); ++x) {
      const std::uint32_t p = s[std::int64_t(x - rect.left()) * w / rw];
      if ((p >> 24) == 0) continue;
      d[x] = p | 0xFF000000u;
    }
  }
}

}  // namespace

QImage ToArgbImage(const TPngPicture& image) {
  const TPngDrawSource source = image.DrawSource();
  return source.argb.empty() ? QImage() : argbImage(source);
}

void Draw(const TPngPicture& image, QImage& canvas, const QRect& rect) noexcept {
  try {
    if (canvas.isNull()) return;
    const TPngDrawSource source = image.DrawSource();
    if (source.argb.empty()) return;
    const QImage::Format format = canvas.format();
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32) {
      drawOn32Bits(source, canvas, rect);
      return;
    }
    QImage work = canvas.convertToFormat(QImage::Format_ARGB32);
    drawOn32Bits(source, work, rect);
    canvas = work.convertToFormat(format, canvas.colorTable());
  } catch (...) {
    // A paint event must go on; a drawing that cannot be made is left out.
  }
}

void Draw(const TPngPicture& image, QPainter& painter, const QRect& rect) noexcept {
  try {
    const TPngDrawSource source = image.DrawSource();
    if (source.argb.empty()) return;
    const QImage argb = argbImage(source);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (source.kind == tkAlpha)
      painter.drawImage(rect.topLeft(), argb);
    else
      painter.drawImage(rect, argb);
    painter.restore();
  } catch (...) {
  }
}

QImage ToQImage(const TPngPicture& image) {
  if (!image.HasHeader() || !image.HeaderChunk().HasPixelStore()) return {};
  const TChunkIHDR& h = image.HeaderChunk();
  const int w = int(h.Width()), ht = int(h.Height());
  const unsigned bits = h.DibInfo().biBitCount;
  auto stored = [&](int y) { return h.PixelBytes().data() + std::size_t(h.RowStride()) * std::size_t(ht - 1 - y); };
  if (bits == 24) {
    QImage out(w, ht, QImage::Format_RGB888);
    for (int y = 0; y < ht; ++y) {
      const std::uint8_t* s = stored(y);
      std::uint8_t* d = out.scanLine(y);
      for (int x = 0; x < w; ++x) {
        d[3 * x] = s[3 * x + 2];
        d[3 * x + 1] = s[3 * x + 1];
        d[3 * x + 2] = s[3 * x];
      }
    }
    return out;
  }
  QList<QRgb> table;
  const int entries = 1 << bits;
  for (int i = 0; i < entries; ++i) {
    const TRgbQuad& c = h.ColorTable()[std::size_t(i)];
    table.append(qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue));
  }
  if (image.TransparencyKind() == tkColorKey) {
    const QRgb key = RgbFromColorValue(image.KeyColor());
    for (QRgb& c : table)
      if (c == key) c = key & 0x00FFFFFFu;
  }
  QImage out(w, ht, bits == 1 ? QImage::Format_Mono : QImage::Format_Indexed8);
  out.setColorTable(table);
  for (int y = 0; y < ht; ++y) {
    const std::uint8_t* s = stored(y);
    std::uint8_t* d = out.scanLine(y);
    if (bits == 1) {
      std::memcpy(d, s, std::size_t(w + 7) / 8);
    } else if (bits == 8) {
      std::memcpy(d, s, std::size_t(w));
    } else {
      for (int x = 0; x < w; ++x) d[x] = std::uint8_t(x % 2 ? s[x / 2] & 0x0F : s[x / 2] >> 4);
    }
  }
  return out;
}

void AssignBitmap(TPngPicture& image, const QImage& bitmap, bool transparent, QRgb color) {
  QImage source = bitmap;
  unsigned bits = 24;
  if (source.format() == QImage::Format_MonoLSB) source = source.convertToFormat(QImage::Format_Mono);
  if (source.format() == QImage::Format_Mono)
    bits = 1;
  else if (source.format() == QImage::Format_Indexed8)
    bits = 8;
  else
    source = source.convertToFormat(QImage::Format_RGB888);
  image.PrepareFromBitmap(std::uint32_t(source.width()), std::uint32_t(source.height()), bits);
  TChunkIHDR& h = image.HeaderChunk();
  if (bits < 16) {
    const QList<QRgb> table = source.colorTable();
    for (int i = 0; i < table.size() && i < (1 << bits); ++i)
      h.ColorTable()[std::size_t(i)] =
          TRgbQuad{std::uint8_t(qBlue(table[i])), std::uint8_t(qGreen(table[i])), std::uint8_t(qRed(table[i])), 0};
  }
  const int w = source.width();
  for (int y = 0; y < source.height(); ++y) {
    const std::uint8_t* s = source.constScanLine(y);
    std::uint8_t* d = image.PixelRow(std::uint32_t(y));
    if (bits == 1) {
      std::memcpy(d, s, std::size_t(w + 7) / 8);
    } else if (bits == 8) {
      std::memcpy(d, s, std::size_t(w));
    } else {
      for (int x = 0; x < w; ++x) {
        d[3 * x] = s[3 * x + 2];
        d[3 * x + 1] = s[3 * x + 1];
        d[3 * x + 2] = s[3 * x];
      }
    }
  }
  if (transparent) image.Chunks().AddChunkOfClass<TChunktRNS>().SetKeyColor(ColorValueFromRgb(color));
}

void Assign(TPngPicture& image, const QImage& bitmap) {
  if (bitmap.format() == QImage::Format_Indexed8 || bitmap.format() == QImage::Format_Mono ||
      bitmap.format() == QImage::Format_MonoLSB) {
    const QList<QRgb> table = bitmap.colorTable();
    auto clear = std::find_if(table.begin(), table.end(), [](QRgb c) { return qAlpha(c) == 0; });
    if (clear != table.end()) {
      AssignBitmap(image, bitmap, true, *clear);
      return;
    }
  }
  AssignBitmap(image, bitmap, false, 0);
}

void SaveToClipboard(const TPngPicture& image, QClipboard& clipboard) {
  QImage bitmap(int(image.GetWidth()), int(image.GetHeight()), QImage::Format_RGB32);
  bitmap.fill(Qt::white);
  Draw(image, bitmap, bitmap.rect());
  clipboard.setImage(bitmap);
}

bool LoadFromClipboard(TPngPicture& image, const QClipboard& clipboard) {
  const QImage bitmap = clipboard.image();
  if (bitmap.isNull()) return false;
  AssignBitmap(image, bitmap, false, 0);
  return true;
}

QList<QRgb> PngPalette(const TPngPicture& image) {
  QList<QRgb> colors;
  for (std::uint32_t c : image.GetPalette()) colors.append(RgbFromColorValue(c));
  return colors;
}

void SetPngPalette(TPngPicture& image, const QList<QRgb>& colors) {
  std::vector<std::uint32_t> values;
  values.reserve(std::size_t(colors.size()));
  for (QRgb c : colors) values.push_back(ColorValueFromRgb(c));
  image.SetPalette(values);
}

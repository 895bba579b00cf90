#pragma once

// TPngPicture on the screen: drawing onto a QImage or through a QPainter,
// conversion to and from QImage, the clipboard and the palette as Qt colours.
// The codec itself has no Qt; what it offers (pixels, DrawSource) is all
// these need.

#include <QImage>
#include <QList>
#include <QRect>
#include <QRgb>

#include "png/pngpicture.h"

class QClipboard;
class QPainter;

// Draws the image into `rect` of `canvas`, by the image's transparency kind:
// an opaque image is stretched over the rectangle (nearest pixel, no
// smoothing), a colour-keyed one likewise with its key pixels left out, and
// an image with alpha is blended at its own size at the rectangle's top-left
// corner, each colour byte as (s × a + 255 + (255 − a) × d) >> 8 (the
// canvas's alpha byte is left alone). Never throws, since it runs in paint
// events: an image without a header draws nothing. Canvases other than 32-bit
// RGB and ARGB are converted there and back.
void Draw(const TPngPicture& image, QImage& canvas, const QRect& rect) noexcept;
// The same through a painter (any device). The blend is the painter's, so it
// may differ from the formula above by 1.
void Draw(const TPngPicture& image, QPainter& painter, const QRect& rect) noexcept;

// The image as drawing shows it: ARGB32 with its alpha (0 at key pixels;
// RGB32 when opaque). A null image without a header.
QImage ToArgbImage(const TPngPicture& image);

// The image as a QImage in the store's format: 1-bit images as Mono, 4- and
// 8-bit ones as Indexed8 with their colour table, colour images as RGB888.
// A colour-keyed palette or grey image gives its key entry alpha 0. The alpha
// plane is not carried. A null image without a header.
QImage ToQImage(const TPngPicture& image);
// Rebuilds the image from a bitmap: Mono and Indexed8 images become palette
// images of 1 or 8 bits (2^depth entries), everything else 8-bit colour (the
// bitmap's alpha is dropped). With `transparent`, `color` becomes the tRNS key.
void AssignBitmap(TPngPicture& image, const QImage& bitmap, bool transparent, QRgb color);
// As AssignBitmap; an indexed bitmap whose colour table has a fully
// transparent entry is transparent with that entry's colour.
void Assign(TPngPicture& image, const QImage& bitmap);

// Puts the image, drawn onto a white bitmap of its size, on the clipboard.
void SaveToClipboard(const TPngPicture& image, QClipboard& clipboard);
// Takes the clipboard's image as an opaque bitmap; false (image unchanged)
// when the clipboard holds none.
bool LoadFromClipboard(TPngPicture& image, const QClipboard& clipboard);

// The colour table of a grey or palette image (256 colours); empty otherwise.
QList<QRgb> PngPalette(const TPngPicture& image);
// Grey and palette images: the colours (up to 256) go into the colour table.
void SetPngPalette(TPngPicture& image, const QList<QRgb>& colors);

// 0x00BBGGRR colour values of the codec to and from Qt's 0xAARRGGBB.
inline QRgb RgbFromColorValue(std::uint32_t bgr) {
  return qRgb(int(bgr & 0xFF), int(bgr >> 8 & 0xFF), int(bgr >> 16 & 0xFF));
}
inline std::uint32_t ColorValueFromRgb(QRgb rgb) {
  return std::uint32_t(qRed(rgb)) | std::uint32_t(qGreen(rgb)) << 8 | std::uint32_t(qBlue(rgb)) << 16;
}

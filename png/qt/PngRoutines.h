#pragma once

// Routines on PNG images: the disabled look of an image (alpha scaled down,
// colours moved to grey), drawing in that look, and PNG images with alpha
// made from Qt's other pictures.

#include <QFlags>
#include <QImage>
#include <QRect>

#include <cstdint>
#include <memory>

#include "png/pngpicture.h"

class QIcon;
class QPainter;
class TPngIconList;

enum TPngOption : std::uint8_t {
  pngBlendOnDisabled = 0x01,      // disabled images are made partly transparent
  pngGrayscaleOnDisabled = 0x02,  // disabled images are made grey
};
Q_DECLARE_FLAGS(TPngOptions, TPngOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TPngOptions)

// Scales the image's alpha by (level + 1) / 256, rounding halves to even,
// after giving it alpha when it has none. Key-coloured pixels get alpha 0. A
// grey or palette image becomes a colour image with alpha `level` (0 at its
// key pixels).
void BlendPngIcon(TPngPicture& image, std::uint8_t level);
// Moves every colour (or palette entry) toward its grey (0.3 R + 0.59 G +
// 0.11 B) by `amount`; 255 makes it grey. Grey images are left alone.
void GreyPngIcon(TPngPicture& image, std::uint8_t amount);

// Draws the image as Draw does; with options, a copy blended (level 127)
// and/or greyed (amount 255) is drawn instead.
void DrawPngIcon(const TPngPicture& image, QImage& canvas, const QRect& rect, TPngOptions options) noexcept;
void DrawPngIcon(const TPngPicture& image, QPainter& painter, const QRect& rect, TPngOptions options) noexcept;

// A colour image with alpha from a bitmap and a mask: each pixel's alpha is
// the mask's red at that place (255 minus it when inverted), so white is
// opaque. Without a mask, or past its edges, pixels are opaque.
std::unique_ptr<TPngPicture> PngFromBitmapAndMask(const QImage& bitmap, const QImage* mask, bool inverted);
// A colour image with alpha 0 where the bitmap's colour (0x00BBGGRR, compared
// as it stands) is `maskColor`, 255 elsewhere.
std::unique_ptr<TPngPicture> PngFromMaskColor(const QImage& bitmap, std::uint32_t maskColor);
// A copy of a PNG image.
std::unique_ptr<TPngPicture> PngFromGraphic(const TPngPicture& graphic);
// A colour image of a bitmap; one with an alpha channel (or an indexed one
// with transparent entries) keeps its alpha.
std::unique_ptr<TPngPicture> PngFromGraphic(const QImage& graphic);
// A colour image with alpha of the icon's picture at `size`.
std::unique_ptr<TPngPicture> PngFromGraphic(const QIcon& graphic, const QSize& size);
// Fills `image` from the list's item at `index`; nothing when there is none.
void PngFromImageListEntry(TPngPicture& image, const TPngIconList& list, int index);

// Qt shows 24-bit colour and has per-pixel alpha everywhere.
inline constexpr int kDefaultBitmapBits = 24;
inline constexpr bool IsXpOrLater() { return true; }

#pragma once

// Small pictures the editor draws in the gutter and at line ends: a
// replaceable glyph with a built-in fallback (the wrapped-line mark) and a
// strip of equally wide pictures (the ten bookmarks). Built-in pictures are
// resources under ":/editor/"; their mask colour becomes transparency when
// they load. Strips of the same name share one image.

#include <QImage>

#include <functional>
#include <memory>
#include <string>

#include "editor/CodeEditTypes.h"

class QPainter;

namespace codeedit {

// The built-in picture Name ("CodeEditWrapped") with MaskColor turned
// transparent; a null image when there is no such resource.
QImage LoadCodeEditResource(const QString& Name, TColor MaskColor = clNone);

// Where a picture of height H lands in a line of LineHeight: pictures that
// fit are centred; taller ones show their middle rows.
struct TGlyphPlacement {
  int DestY = 0;
  int SourceY = 0;
  int Height = 0;
};
TGlyphPlacement PlaceGlyph(int Y, int H, int LineHeight);

class TCodeGlyph {
public:
  // An empty ResourceName gives no fallback picture.
  TCodeGlyph(const QString& ResourceName, TColor MaskColor);

  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);
  const QImage& Glyph() const { return FGlyph; }
  void SetGlyph(const QImage& Value);
  TColor MaskColor() const { return FMaskColor; }
  void SetMaskColor(TColor Value);
  TColor InternalMaskColor() const { return FInternalMaskColor; }
  const QImage& InternalGlyph() const { return FInternalGlyph; }
  int GetWidth() const;
  // Draws whatever Visible says; the caller looks at Visible.
  void Draw(QPainter& Painter, int X, int Y, int LineHeight) const;
  void Assign(const TCodeGlyph& Source);

  std::function<void(TCodeGlyph& Sender)> OnChange;

private:
  void Changed();

  bool FVisible = true;
  QImage FInternalGlyph;  // mask already applied
  QImage FGlyph;
  TColor FInternalMaskColor = clNone;
  TColor FMaskColor = clNone;
};

class TCodeInternalImage {
public:
  TCodeInternalImage(const QString& Name, int Count);
  ~TCodeInternalImage();
  TCodeInternalImage(const TCodeInternalImage&) = delete;
  TCodeInternalImage& operator=(const TCodeInternalImage&) = delete;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int Count() const { return FCount; }
  // Nothing for a Number outside 0..Count - 1.
  void Draw(QPainter& Painter, int Number, int X, int Y, int LineHeight) const;
  // How many strips currently share the image of Name (case ignored).
  static int SharedUseCount(const QString& Name);
  const QImage* Strip() const { return FStrip.get(); }

private:
  std::shared_ptr<const QImage> FStrip;
  QString FKey;
  int FWidth = 0;
  int FHeight = 0;
  int FCount = 0;
};

}  // namespace codeedit

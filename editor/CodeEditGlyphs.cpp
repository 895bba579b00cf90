#include "editor/CodeEditGlyphs.h"

#include <QPainter>

#include <map>

#include "editor/CodeTextDrawer.h"

namespace codeedit {

namespace {

QImage WithMask(QImage Image, TColor MaskColor) {
  if (Image.isNull())
    return Image;
  Image = Image.convertToFormat(QImage::Format_ARGB32);
  if (MaskColor == clNone)
    return Image;
  const QRgb Mask = CodeColorToQColor(MaskColor).rgb() & 0xFFFFFF;
  for (int y = 0; y < Image.height(); ++y) {
    QRgb* Line = reinterpret_cast<QRgb*>(Image.scanLine(y));
    for (int x = 0; x < Image.width(); ++x)
      if ((Line[x] & 0xFFFFFF) == Mask)
        Line[x] = 0;
  }
  return Image;
}

struct SharedStrip {
  std::shared_ptr<const QImage> Image;
  int UseCount = 0;
};

// Keyed by the upper-cased name; an entry lives while a strip uses it.
std::map<QString, SharedStrip>& StripCache() {
  static std::map<QString, SharedStrip> Cache;
  return Cache;
}

}  // namespace

QImage LoadCodeEditResource(const QString& Name, TColor MaskColor) {
  return WithMask(QImage(QStringLiteral(":/editor/") + Name + QStringLiteral(".png")), MaskColor);
}

TGlyphPlacement PlaceGlyph(int Y, int H, int LineHeight) {
  if (H <= LineHeight)
    return {Y + (LineHeight - H) / 2, 0, H};
  return {Y, (H - LineHeight) / 2, LineHeight};
}

TCodeGlyph::TCodeGlyph(const QString& ResourceName, TColor MaskColor) {
  if (!ResourceName.isEmpty()) {
    FInternalGlyph = LoadCodeEditResource(ResourceName, MaskColor);
    FInternalMaskColor = MaskColor;
  }
}

void TCodeGlyph::Changed() {
  if (OnChange)
    OnChange(*this);
}

void TCodeGlyph::SetVisible(bool Value) {
  if (FVisible == Value)
    return;
  FVisible = Value;
  Changed();
}

void TCodeGlyph::SetGlyph(const QImage& Value) {
  FGlyph = Value;
  Changed();
}

void TCodeGlyph::SetMaskColor(TColor Value) {
  if (FMaskColor == Value)
    return;
  FMaskColor = Value;
  Changed();
}

int TCodeGlyph::GetWidth() const {
  if (!FGlyph.isNull())
    return FGlyph.width();
  return FInternalGlyph.isNull() ? 0 : FInternalGlyph.width();
}

void TCodeGlyph::Draw(QPainter& Painter, int X, int Y, int LineHeight) const {
  const QImage Picture = !FGlyph.isNull() ? WithMask(FGlyph, FMaskColor) : FInternalGlyph;
  if (Picture.isNull())
    return;
  const TGlyphPlacement P = PlaceGlyph(Y, Picture.height(), LineHeight);
  Painter.drawImage(QPoint(X, P.DestY), Picture, QRect(0, P.SourceY, Picture.width(), P.Height));
}

void TCodeGlyph::Assign(const TCodeGlyph& Source) {
  if (&Source == this)
    return;
  FVisible = Source.FVisible;
  FMaskColor = Source.FMaskColor;
  FInternalMaskColor = Source.FInternalMaskColor;
  FGlyph = Source.FGlyph;
  Changed();
}

TCodeInternalImage::TCodeInternalImage(const QString& Name, int Count) : FKey(Name.toUpper()) {
  SharedStrip& Entry = StripCache()[FKey];
  if (!Entry.Image)
    Entry.Image = std::make_shared<const QImage>(LoadCodeEditResource(Name));
  ++Entry.UseCount;
  FStrip = Entry.Image;
  FCount = std::max(1, Count);
  FWidth = (FStrip->width() + FCount / 2) / FCount;
  FHeight = FStrip->height();
}

TCodeInternalImage::~TCodeInternalImage() {
  auto& Cache = StripCache();
  auto It = Cache.find(FKey);
  if (It != Cache.end() && --It->second.UseCount <= 0)
    Cache.erase(It);
}

int TCodeInternalImage::SharedUseCount(const QString& Name) {
  auto& Cache = StripCache();
  auto It = Cache.find(Name.toUpper());
  return It == Cache.end() ? 0 : It->second.UseCount;
}

void TCodeInternalImage::Draw(QPainter& Painter, int Number, int X, int Y, int LineHeight) const {
  if (Number < 0 || Number >= FCount || FStrip->isNull())
    return;
  const TGlyphPlacement P = PlaceGlyph(Y, FHeight, LineHeight);
  Painter.drawImage(QPoint(X, P.DestY), *FStrip, QRect(Number * FWidth, P.SourceY, FWidth, P.Height));
}

}  // namespace codeedit

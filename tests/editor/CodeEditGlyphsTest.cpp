#include "editor/CodeEditGlyphs.h"

#include <QPainter>

#include <memory>

#include <gtest/gtest.h>

using namespace codeedit;

namespace {

QImage canvas(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32);
  image.fill(Qt::white);
  return image;
}

}  // namespace

TEST(CodeEditGlyphs, BuiltInPicturesHaveTheirSizesAndTheMaskBecomesAlpha) {
  const QImage wrap = LoadCodeEditResource(QStringLiteral("CodeEditWrapped"), 0x00FF00);
  ASSERT_FALSE(wrap.isNull());
  EXPECT_EQ(wrap.size(), QSize(15, 14));
  EXPECT_EQ(qAlpha(wrap.pixel(0, 0)), 0);
  const QImage strip = LoadCodeEditResource(QStringLiteral("CodeEditInternalImages"));
  EXPECT_EQ(strip.size(), QSize(110, 14));
  EXPECT_TRUE(LoadCodeEditResource(QStringLiteral("NoSuchPicture")).isNull());
}

TEST(CodeEditGlyphs, PlacementCentresOrCutsTheMiddle) {
  struct Case {
    int h, lineHeight;
    TGlyphPlacement expected;
  } cases[] = {
      {14, 10, {100, 2, 10}},  // rows 2..11 shown
      {14, 18, {102, 0, 14}},  // two pixels down
      {14, 14, {100, 0, 14}},
      {14, 15, {100, 0, 14}},
  };
  for (const Case& c : cases) {
    TGlyphPlacement p = PlaceGlyph(100, c.h, c.lineHeight);
    EXPECT_EQ(p.DestY, c.expected.DestY) << c.lineHeight;
    EXPECT_EQ(p.SourceY, c.expected.SourceY) << c.lineHeight;
    EXPECT_EQ(p.Height, c.expected.Height) << c.lineHeight;
  }
}

TEST(CodeEditGlyphs, AGlyphPrefersItsOwnPictureWithItsMaskColour) {
  TCodeGlyph none(QString(), clNone);
  EXPECT_EQ(none.GetWidth(), 0);
  QImage target = canvas(20, 20);
  {
    QPainter p(&target);
    none.Draw(p, 0, 0, 20);
  }
  EXPECT_EQ(target, canvas(20, 20));

  TCodeGlyph glyph(QStringLiteral("CodeEditWrapped"), 0x00FF00);
  EXPECT_EQ(glyph.GetWidth(), 15);
  int changes = 0;
  glyph.OnChange = [&](TCodeGlyph&) { ++changes; };
  QImage own(4, 4, QImage::Format_ARGB32);
  own.fill(QColor(255, 0, 0));
  own.setPixel(0, 0, qRgb(0, 0, 255));
  glyph.SetGlyph(own);
  glyph.SetMaskColor(0xFF0000);  // blue, as the framework writes it
  glyph.SetMaskColor(0xFF0000);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(glyph.GetWidth(), 4);
  target = canvas(20, 20);
  {
    QPainter p(&target);
    glyph.Draw(p, 2, 0, 20);  // 4 high on 20: 8 down
  }
  EXPECT_EQ(target.pixelColor(2, 8), QColor(Qt::white));
  EXPECT_EQ(target.pixelColor(3, 8), QColor(255, 0, 0));
  EXPECT_EQ(target.pixelColor(3, 7), QColor(Qt::white));

  TCodeGlyph copy(QString(), clNone);
  copy.Assign(glyph);
  EXPECT_EQ(copy.GetWidth(), 4);
  EXPECT_EQ(copy.MaskColor(), 0xFF0000u);
}

TEST(CodeEditGlyphs, StripsShareTheirImageByName) {
  auto a = std::make_unique<TCodeInternalImage>(QStringLiteral("CodeEditInternalImages"), 10);
  auto b = std::make_unique<TCodeInternalImage>(QStringLiteral("codeeditinternalimages"), 10);
  EXPECT_EQ(a->Strip(), b->Strip());
  EXPECT_EQ(TCodeInternalImage::SharedUseCount(QStringLiteral("CODEEDITINTERNALIMAGES")), 2);
  EXPECT_EQ(a->Width(), 11);
  EXPECT_EQ(a->Height(), 14);
  a.reset();
  EXPECT_EQ(TCodeInternalImage::SharedUseCount(QStringLiteral("CodeEditInternalImages")), 1);

  QImage target = canvas(11, 14);
  {
    QPainter p(&target);
    b->Draw(p, 10, 0, 0, 14);
    b->Draw(p, -1, 0, 0, 14);
  }
  EXPECT_EQ(target, canvas(11, 14));
  {
    QPainter p(&target);
    b->Draw(p, 3, 0, 0, 14);
  }
  EXPECT_NE(target, canvas(11, 14));
  b.reset();
  EXPECT_EQ(TCodeInternalImage::SharedUseCount(QStringLiteral("CodeEditInternalImages")), 0);
}

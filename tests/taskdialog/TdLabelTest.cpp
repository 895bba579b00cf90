#include "taskdialog/TdLabel.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "tests/app/Screenshot.h"
#include "tests/taskdialog/TaskDialogTesting.h"
#include "unicode/qt/UniGraphics.h"

namespace {

TEST(TdMoreLabel, WidthAddsTheGlyphAndSpacingOnBothSides) {
  EXPECT_EQ(TdMoreLabelWidth(50, 16, 4), 92);
  EXPECT_EQ(TdMoreLabelCaptionLeft(16, 4), 22);
  // Without a glyph the caption starts 4 pixels in.
  EXPECT_EQ(TdMoreLabelCaptionLeft(0, 4), 4);

  QWidget parent;
  auto* label = new TTdMoreLabel(&parent);
  label->setCaption(QStringLiteral("&Show Location"));
  QRect text(0, 0, 1000, 1000);
  const int textHeight = uni::WideMeasureText(label->font(), label->caption(), text, uni::DT_SINGLELINE);
  EXPECT_EQ(label->width(), TdMoreLabelWidth(text.width(), 16, 4));
  EXPECT_EQ(label->height(), std::max(textHeight, 16));
  label->setSpacing(10);
  EXPECT_EQ(label->width(), TdMoreLabelWidth(text.width(), 16, 10));
}

struct LabelWindow : ControlWindow<TTdMoreLabel> {
  LabelWindow() : label(control) {
    label->setCaptions(QStringLiteral("&Show Location"), QStringLiteral("&Hide Location"));
    show();
  }
  TTdMoreLabel* label;
};

TEST(TdMoreLabel, ClickFlipsCaptionAndFiresOnlyOnChange) {
  LabelWindow w;
  QSignalSpy expanded(w.label, &TTdMoreLabel::OnExpanded);
  QSignalSpy collapsed(w.label, &TTdMoreLabel::OnCollapsed);
  EXPECT_EQ(w.label->caption(), QStringLiteral("&Show Location"));
  saveScreenshot(w.window, "TdMoreLabelCollapsed");

  QTest::mouseClick(w.label, Qt::LeftButton, {}, QPoint(30, 5));
  EXPECT_EQ(w.label->caption(), QStringLiteral("&Hide Location"));
  EXPECT_TRUE(w.label->expanded());
  EXPECT_TRUE(w.label->hasFocus());
  EXPECT_EQ(expanded.count(), 1);
  EXPECT_EQ(collapsed.count(), 0);
  saveScreenshot(w.window, "TdMoreLabelExpanded");

  w.label->setExpanded(true);
  EXPECT_EQ(expanded.count(), 1);
  w.label->setExpanded(false);
  EXPECT_EQ(collapsed.count(), 1);
  EXPECT_EQ(w.label->caption(), QStringLiteral("&Show Location"));
}

TEST(TdMoreLabel, HotkeyAndSpaceClick) {
  LabelWindow w;
  QSignalSpy clicks(w.label, &TTdMoreLabel::clicked);
  w.alt(Qt::Key_S, QStringLiteral("s"));
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_TRUE(w.label->expanded());
  EXPECT_TRUE(w.label->hasFocus());
  QTest::keyClick(w.label, Qt::Key_Space);
  EXPECT_EQ(clicks.count(), 2);
  EXPECT_FALSE(w.label->expanded());
  // The caption now says "&Show"; Alt+H belongs to nobody.
  w.alt(Qt::Key_H, QStringLiteral("h"));
  EXPECT_EQ(clicks.count(), 2);
}

TEST(TdMoreLabel, DisabledCaptionIsEmbossed) {
  QWidget parent;
  auto* label = new TTdMoreLabel(&parent);
  label->setCaption(QStringLiteral("Details"));
  label->setEnabled(false);
  const QImage image = label->grab().toImage();
  const QColor light = label->palette().color(QPalette::Light);
  const QColor dark = label->palette().color(QPalette::Dark);
  bool sawLight = false, sawDark = false;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 22; x < image.width(); ++x) {
      sawLight |= image.pixelColor(x, y) == light;
      sawDark |= image.pixelColor(x, y) == dark;
    }
  EXPECT_TRUE(sawLight);
  EXPECT_TRUE(sawDark);
}

TEST(TdMoreLabel, GlyphsDifferByStateAndDirection) {
  const QImage show = TdMoreLabelGlyph(false, TTdGlyphState::Cold).toImage();
  EXPECT_EQ(show.size(), QSize(16, 16));
  EXPECT_NE(show, TdMoreLabelGlyph(true, TTdGlyphState::Cold).toImage());
  EXPECT_NE(show, TdMoreLabelGlyph(false, TTdGlyphState::Hot).toImage());
  EXPECT_NE(TdMoreLabelGlyph(false, TTdGlyphState::Hot).toImage(),
            TdMoreLabelGlyph(false, TTdGlyphState::Pressed).toImage());
}

}  // namespace

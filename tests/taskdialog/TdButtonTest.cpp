// The command link on its own: its size from fixed metrics, the shield in
// the arrow's place, keyboard cues and the keys that click it.

#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "taskdialog/TdButton.h"
#include "tests/taskdialog/TaskDialogTesting.h"

namespace {

// An auto-sized link measured with 6-pixel characters and 15-pixel lines.
void setUp(TTdCommandLinkButton& Link, const QString& Caption) {
  Link.setMetrics(&kFixed);
  Link.setCaption(Caption);
  Link.setAutoSize(true);
}

QImage rendered(TTdCommandLinkButton& Link) { return Link.grab().toImage(); }

}  // namespace

TEST(TdButton, AutoSizeFollowsGlyphCaptionAndNote) {
  struct Case {
    const char* name;
    bool showIcon;
    QStringList note;
    int width, height, noteIndent;
  };
  // "&Open" is 4 characters drawn: 24 pixels; the arrow is 20 wide.
  const Case cases[] = {
      {"icon, no note", true, {}, 20 + 32 + 24, 15 + 21, 20 + 17},
      {"no icon", false, {}, 16 + 16 + 24, 15 + 21, 7},
      {"icon and a two-line note", true, {"first", "second"}, 20 + 32 + 24, 15 + 30 + 21, 20 + 17},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTdCommandLinkButton link;
    link.setShowIcon(c.showIcon);
    link.setInfo(c.note);
    setUp(link, QStringLiteral("&Open"));
    EXPECT_EQ(link.width(), c.width);
    EXPECT_EQ(link.height(), c.height);
    EXPECT_EQ(link.NoteIndent(), c.noteIndent);
  }
}

TEST(TdButton, ElevationSwapsTheArrowForTheShieldAndBack) {
  TTdCommandLinkButton link;
  setUp(link, QStringLiteral("&Open"));
  const QSize arrowSized = link.size();

  link.setElevationRequired(true);
  EXPECT_FALSE(link.glyph().isNull());
  EXPECT_EQ(link.glyphSize(), QSize(16, 16));
  EXPECT_EQ(link.width(), 16 + 32 + 24);
  EXPECT_EQ(link.NoteIndent(), 16 + 17);

  link.setElevationRequired(false);
  EXPECT_TRUE(link.glyph().isNull()) << "the arrow is drawn again";
  EXPECT_EQ(link.glyphSize(), QSize(20, 20));
  EXPECT_EQ(link.size(), arrowSized);
}

TEST(TdButton, WithoutCuesTheAmpersandIsNeitherDrawnNorUnderlined) {
  TTdCommandLinkButton marked;
  TTdCommandLinkButton plain;
  setUp(marked, QStringLiteral("&Open"));
  setUp(plain, QStringLiteral("Open"));
  // Equal widths: the metrics measure the drawn text.
  ASSERT_EQ(marked.size(), plain.size());
  marked.setShowKeyboardCues(false);
  plain.setShowKeyboardCues(false);
  EXPECT_EQ(marked.captionDrawing().Text, QStringLiteral("Open"));
  EXPECT_FALSE(marked.captionDrawing().Flags & Qt::TextShowMnemonic);
  EXPECT_EQ(rendered(marked), rendered(plain)) << "drawn as if it had no access key";

  marked.setShowKeyboardCues(true);
  EXPECT_TRUE(marked.captionDrawing().Flags & Qt::TextShowMnemonic);
  EXPECT_NE(rendered(marked), rendered(plain)) << "the O is underlined";
}

TEST(TdButton, EnterOrSpacePressedAndReleasedClick) {
  ControlWindow<TTdCommandLinkButton> w;
  setUp(*w.control, QStringLiteral("&Open"));
  w.show();
  QSignalSpy clicks(w.control, &QPushButton::clicked);
  w.control->setFocus();

  QTest::keyPress(w.control, Qt::Key_Space);
  EXPECT_EQ(clicks.count(), 0) << "a press alone does not click";
  QTest::keyRelease(w.control, Qt::Key_Space);
  EXPECT_EQ(clicks.count(), 1);
  QTest::keyClick(w.control, Qt::Key_Return);
  EXPECT_EQ(clicks.count(), 2);
  QTest::keyClick(w.control, Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(clicks.count(), 2) << "not with a shift key";
  // A release whose press went elsewhere does nothing.
  QTest::keyRelease(w.control, Qt::Key_Space);
  EXPECT_EQ(clicks.count(), 2);

  // The access key clicks it from another control.
  w.other->setFocus();
  w.alt(Qt::Key_O, QStringLiteral("o"));
  EXPECT_EQ(clicks.count(), 3);
  EXPECT_TRUE(w.control->hasFocus());
}

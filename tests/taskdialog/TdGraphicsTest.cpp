#include "taskdialog/TdGraphics.h"

#include <QApplication>
#include <QTest>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <vector>

#include "tests/app/Screenshot.h"
#include "tests/taskdialog/TaskDialogTesting.h"

namespace {

// The same numbers without one-pass prefix widths: every piece is measured.
class FixedMetricsPerPiece final : public TTdTextMetrics {
 public:
  int textWidth(const QFont&, QStringView Text) const override { return int(Text.size()) * 6; }
  int textHeight(const QFont&, QStringView) const override { return 15; }
  std::vector<int> prefixWidths(const QFont&, QStringView) const override { return {}; }
};
const FixedMetricsPerPiece kPerPiece;

QStringList marked(const TTdParsedCaption& Caption) {
  QStringList runs;
  for (const TTdRun& run : Caption.Runs)
    runs << run.marked();
  return runs;
}

struct ParseCase {
  const char* Text;
  QStringList Runs;
  std::vector<TTdLinkInfo> Links;
};

TEST(TdParseCaption, RunsAndLinks) {
  const std::vector<ParseCase> cases = {
      {"", {}, {}},
      {"plain", {"plain"}, {}},
      {"x <b>bold</b> y", {"x ", "<BOLD>bold", " y"}, {}},
      {"<B>Caps</B> and <U>u</u>", {"", "<BOLD>Caps", " and ", "<UNDERLINE>u"}, {}},
      {"<b>x", {"<b>x"}, {}},
      {"a\r\nb", {"a", "<NEWLINE>", "b"}, {}},
      {"\r\n", {"", "<NEWLINE>", ""}, {}},
      {"<b>a<i>b</i>c</b>", {"", "<BOLD>a<i>b</i>c"}, {}},
      {"<i>a</i> <b>b</b>", {"", "<ITALIC>a", " ", "<BOLD>b"}, {}},
      {"</b>x<b>y</b>", {"</b>x", "<BOLD>y"}, {}},
      {"<b>a\r\nb</b>", {"", "<BOLD>a\r\nb"}, {}},
      {"see <a href=\"https://x.org/\">site</a>.", {"see ", "<LINK>site", "."}, {{"site", "https://x.org/"}}},
      {"<A HREF=\"mailto:a@b\">mail</A>", {"", "<LINK>mail"}, {{"mail", "mailto:a@b"}}},
      {"<a href=\"http://one/\">1</a> or <a href=\"http://two/\">2</a>",
       {"", "<LINK>1", " or ", "<LINK>2"},
       {{"1", "http://one/"}, {"2", "http://two/"}}},
      {"<a href=\"x\">no end", {"<a href=\"x\">no end"}, {}},
  };
  for (const ParseCase& c : cases) {
    const TTdParsedCaption parsed = TdParseCaption(QString::fromUtf8(c.Text));
    EXPECT_EQ(marked(parsed), c.Runs) << c.Text;
    EXPECT_EQ(parsed.Links, c.Links) << c.Text;
  }
  // Each link run points at its own link.
  const TTdParsedCaption two = TdParseCaption(QString::fromUtf8(cases[13].Text));
  EXPECT_EQ(two.Runs[1].Link, 0);
  EXPECT_EQ(two.Runs[3].Link, 1);
}

TTdCaptionLayout layout(const QString& Text, int Width, int Height = -1) {
  TTdCaptionGeometry geometry;
  geometry.Width = Width;
  geometry.Height = Height;
  return TdLayoutCaption(TdParseCaption(Text), geometry, TdCaptionFonts(QFont()), kFixed);
}

struct Placed {
  QString Text;
  int X, Y;
  bool operator==(const Placed&) const = default;
};

std::vector<Placed> placed(const TTdCaptionLayout& Layout) {
  std::vector<Placed> out;
  for (const TTdPlacedText& piece : Layout.Pieces)
    out.push_back({piece.Text, piece.Rect.left(), piece.Rect.top()});
  return out;
}

void PrintTo(const Placed& P, std::ostream* Os) { *Os << '"' << P.Text.toStdString() << "\"@" << P.X << ',' << P.Y; }

TEST(TdLayoutCaption, WrapsRunsAtBlanksWithFixedMetrics) {
  struct Case {
    const char* Text;
    int Width;
    std::vector<Placed> Pieces;
    int Height;
  };
  const std::vector<Case> cases = {
      // A word wider than the caption stays whole on its line.
      {"abcdefghij", 30, {{"abcdefghij", 0, 0}}, 15},
      {"aaa bbb ccc", 48, {{"aaa bbb", 0, 0}, {"ccc", 0, 15}}, 30},
      // A run that no longer fits moves whole to the line directly below.
      {"ab <b>cd</b>", 24, {{"ab ", 0, 0}, {"cd", 0, 15}}, 30},
      {"ab <b>cd</b>", 30, {{"ab ", 0, 0}, {"cd", 18, 0}}, 15},
      {"a\r\nb", 100, {{"a", 0, 0}, {"b", 0, 15}}, 30},
      {"<b>a\r\nb</b>", 100, {{"a", 0, 0}, {"b", 0, 15}}, 30},
      // Overflow lines give back characters to the last blank.
      {"aa bbbbbbb cc", 60, {{"aa", 0, 0}, {"bbbbbbb cc", 0, 15}}, 30},
      {"one two three four", 50, {{"one two", 0, 0}, {"three", 0, 15}, {"four", 0, 30}}, 45},
  };
  for (const Case& c : cases) {
    const TTdCaptionLayout result = layout(QString::fromUtf8(c.Text), c.Width);
    EXPECT_EQ(placed(result), c.Pieces) << c.Text << " at " << c.Width;
    EXPECT_EQ(result.Height, c.Height) << c.Text << " at " << c.Width;
    TTdCaptionGeometry geometry;
    geometry.Width = c.Width;
    const TTdCaptionLayout perPiece =
        TdLayoutCaption(TdParseCaption(QString::fromUtf8(c.Text)), geometry, TdCaptionFonts(QFont()), kPerPiece);
    EXPECT_EQ(placed(perPiece), c.Pieces) << c.Text << " at " << c.Width << ", measured per piece";
  }
}

TEST(TdLayoutCaption, MeasuredHeights) {
  EXPECT_EQ(MeasureCaptionHeight(u"one line", 360, QFont(), kFixed), 15);
  EXPECT_EQ(MeasureCaptionHeight(u"", 360, QFont(), kFixed), 0);
  EXPECT_EQ(MeasureCaptionHeight(u"a\r\n\r\nb", 360, QFont(), kFixed), 45);
  // A negative width counts as its absolute value.
  EXPECT_EQ(MeasureCaptionHeight(u"aaa bbb ccc", -48, QFont(), kFixed), 30);
}

TEST(TdLayoutCaption, LongTextWrapsWithinWidthAndKeepsEveryWord) {
  QStringList words;
  for (int k = 0; k < 400; ++k)
    words << QString::number(k * 7919 % 100000);
  const QString text = words.join(u' ');
  const TTdCaptionLayout result = layout(text, 100);
  QStringList shown;
  int lastY = -1;
  for (const TTdPlacedText& piece : result.Pieces) {
    EXPECT_LE(piece.Rect.width(), 100) << piece.Text.toStdString();
    EXPECT_GT(piece.Rect.top(), lastY);
    lastY = piece.Rect.top();
    shown << piece.Text;
  }
  EXPECT_EQ(shown.join(u' '), text);
  EXPECT_EQ(result.Height, lastY + 15);
}

TEST(TdLayoutCaption, ItalicWidthAndCentredSingleRun) {
  QFont nine(QStringLiteral("DejaVu Sans"), 9);
  TTdCaptionGeometry geometry;
  geometry.Width = 200;
  TTdCaptionLayout italic = TdLayoutCaption(TdParseCaption(u"<i>ab</i>"), geometry, TdCaptionFonts(nine), kFixed);
  ASSERT_EQ(italic.Pieces.size(), 1u);
  EXPECT_EQ(italic.Pieces[0].Rect.width(), 15);
  QFont eight = nine;
  eight.setPointSize(8);
  italic = TdLayoutCaption(TdParseCaption(u"<i>ab</i>"), geometry, TdCaptionFonts(eight), kFixed);
  EXPECT_EQ(italic.Pieces[0].Rect.width(), 12);

  const TTdCaptionLayout centred = layout(QStringLiteral("single"), 200, 45);
  ASSERT_EQ(centred.Pieces.size(), 1u);
  EXPECT_EQ(centred.Pieces[0].Rect.top(), 15);
}

TEST(TdLayoutCaption, EachLinkRectangleMapsToItsOwnLink) {
  const TTdParsedCaption caption =
      TdParseCaption(u"go <a href=\"https://one.org/\">one</a> or <a href=\"https://two.org/\">two words</a>");
  TTdCaptionGeometry geometry;
  geometry.Width = 48;  // the second link wraps onto two lines
  const TTdCaptionLayout result = TdLayoutCaption(caption, geometry, TdCaptionFonts(QFont()), kFixed);
  ASSERT_GE(result.LinkRects.size(), 3u);
  for (const TTdLinkRect& r : result.LinkRects)
    EXPECT_EQ(result.linkAt(r.Rect.center()), r.Link);
  EXPECT_EQ(caption.Links[size_t(result.linkAt(result.LinkRects.front().Rect.center()))].Url,
            QStringLiteral("https://one.org/"));
  EXPECT_EQ(caption.Links[size_t(result.linkAt(result.LinkRects.back().Rect.center()))].Url,
            QStringLiteral("https://two.org/"));
  EXPECT_EQ(result.linkAt(QPoint(1, 1)), -1);
}

TEST(TdGraphics, ColoursAreBlueGreenRed) {
  EXPECT_EQ(TdColor(0x993300).name(), QStringLiteral("#003399"));
  EXPECT_EQ(TdColor(0xFF0000), QColor(0, 0, 255));
  EXPECT_FALSE(TdColor(clNone).isValid());
  const TTdCaptionFonts fonts = TdCaptionFonts(QFont());
  EXPECT_EQ(fonts.LinkColor, QColor(0, 0, 255));
  EXPECT_TRUE(fonts.Link.underline());
}

TEST(TdLinkOpener, OnlyWebAndMailAddressesAreOpened) {
  RecordingOpener opener;
  for (const char* url : {"https://x.org/", "http://x.org/a?b=c", "mailto:someone@x.org", "HTTPS://X.ORG/"})
    EXPECT_TRUE(TdOpenLink(QString::fromUtf8(url))) << url;
  for (const char* url : {"file:///etc/passwd", "/usr/bin/xterm", "smb://host/x", "javascript:alert(1)",
                          "http://", "", "x-terminal:run"})
    EXPECT_FALSE(TdOpenLink(QString::fromUtf8(url))) << url;
  EXPECT_EQ(opener.Opened, QStringList({"https://x.org/", "http://x.org/a?b=c", "mailto:someone@x.org",
                                        "HTTPS://X.ORG/"}));
}

struct CaptionWindow {
  CaptionWindow() {
    window.resize(300, 200);
    control = new TTdCaptionControl(&window);
    control->setGeometry(10, 10, 260, 0);
    control->setText({QStringLiteral("Open <a href=\"https://one.org/\">one</a>, "
                                     "<a href=\"file:///etc/passwd\">two</a> or <b>none</b>."),
                      QStringLiteral("Second line")});
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
  }
  QPoint linkCentre(int Link) const {
    for (const TTdLinkRect& r : control->captionLayout().LinkRects)
      if (r.Link == Link)
        return r.Rect.center();
    ADD_FAILURE() << "no rectangle for link " << Link;
    return {};
  }
  QWidget window;
  TTdCaptionControl* control;
};

TEST(TdCaptionControl, SizesItselfAndOpensTheClickedLink) {
  RecordingOpener opener;
  CaptionWindow w;
  EXPECT_EQ(w.control->height(),
            MeasureCaptionHeight(w.control->text().join(QStringLiteral("\r\n")), 260, w.control->font()));
  EXPECT_GT(w.control->height(), QFontMetrics(w.control->font()).height());

  QTest::mouseMove(w.control, w.linkCentre(0));
  EXPECT_EQ(w.control->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseMove(w.control, QPoint(250, w.control->height() - 2));
  EXPECT_EQ(w.control->cursor().shape(), Qt::ArrowCursor);

  QTest::mouseClick(w.control, Qt::LeftButton, {}, w.linkCentre(0));
  QTest::mouseClick(w.control, Qt::LeftButton, {}, w.linkCentre(1));
  EXPECT_EQ(opener.Opened, QStringList({"https://one.org/"}));
  EXPECT_TRUE(w.control->hasFocus());
  saveScreenshot(w.window, "TdCaptionControl");

  QStringList seen;
  w.control->OnLinkClick = [&](TTdCaptionControl*, const QString& Url, bool& Handled) {
    seen << Url;
    Handled = true;
  };
  QTest::mouseClick(w.control, Qt::LeftButton, {}, w.linkCentre(0));
  EXPECT_EQ(seen, QStringList({"https://one.org/"}));
  EXPECT_EQ(opener.Opened.size(), 1);
}

TEST(TdCaptionControl, SpaceClicks) {
  CaptionWindow w;
  QSignalSpy clicks(w.control, &TTdCaptionControl::clicked);
  w.control->setFocus();
  QTest::keyClick(w.control, Qt::Key_Space);
  EXPECT_EQ(clicks.count(), 1);
}

TEST(TdTypes, GradientFiresChangeOnlyForNewValuesAndNotWhileUpdating) {
  TTdGradient gradient;
  EXPECT_FALSE(gradient.enabled());
  EXPECT_EQ(gradient.direction(), TGradientDirection::gdHorizontal);
  EXPECT_EQ(gradient.startColor(), clNone);
  EXPECT_EQ(gradient.endColor(), clNone);
  int changes = 0;
  gradient.OnChange = [&](TTdChangePersistent*) { ++changes; };
  gradient.setEnabled(true);
  gradient.setEnabled(true);
  gradient.setStartColor(0x00FF00);
  EXPECT_EQ(changes, 2);
  gradient.Updating = true;
  gradient.setEndColor(0xFF);
  EXPECT_EQ(changes, 2);

  TTdBackground background(0x123456, false, {}, &gradient);
  EXPECT_TRUE(background.Gradient.enabled());
  EXPECT_EQ(background.Gradient.endColor(), 0xFFu);
  EXPECT_EQ(background.clone()->Gradient.startColor(), 0x00FF00u);
  EXPECT_FALSE(TTdBackground().Gradient.enabled());
}

}  // namespace

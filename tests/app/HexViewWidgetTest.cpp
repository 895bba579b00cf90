// THexView as a widget: its fitting to the width with the real font, keys and
// clicks on the model, rows produced only when visible, its place in the main
// window.
#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QPixmap>
#include <QScrollBar>
#include <QSplitter>
#include <QKeyEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/FormUnitMain.h"
#include "app/vkxHexView.h"
#include "tests/app/Screenshot.h"

namespace {

void pressKey(QWidget* w, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
}

void click(QWidget* w, QPoint at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
}

// The blocks the fitting rule gives for a viewport `clientWidth` wide,
// measured here independently of the layout code.
int expectedBlocks(const THexView& view, int clientWidth) {
  const QFontMetrics fm(view.font());
  const int room = clientWidth - view.columnWidth(HexDumpLayout::cPos) - 20;
  int n = 2;
  while (n < 17) {
    const int w = fm.horizontalAdvance(QStringLiteral("AABBCCDD ").repeated(n + 1)) +
                  fm.horizontalAdvance(QStringLiteral("ABCD").repeated(n + 1));
    if (w >= room) break;
    ++n;
  }
  return n;
}

class HexViewWidget : public ::testing::Test {
protected:
  void SetUp() override {
    bytes.resize(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    view.SetOnGetBinaryData([this](std::uint64_t first, std::uint64_t count, std::vector<std::uint8_t>& data) {
      ++fetches;
      for (std::uint64_t i = 0; i < count && first + i < bytes.size(); ++i) data[i] = bytes[first + i];
    });
    view.SetDataSize(bytes.size());
    view.resize(600, 300);
    view.show();
    QApplication::processEvents();
  }
  std::vector<std::uint8_t> bytes;
  int fetches = 0;
  THexView view;
};

}  // namespace

TEST(HexViewDefaults, AsConstructed) {
  THexView view;
  EXPECT_EQ(view.font().family(), QStringLiteral("Courier New"));
  EXPECT_EQ(view.HexBlocks(), 4);
  EXPECT_EQ(view.DataSize(), 0u);
  EXPECT_EQ(view.DisabledHexChar(), QChar(0xA4));
  EXPECT_EQ(view.DisabledTextChar(), QChar(0xA4));
  const int widths[] = {68, 260, 128};
  const char* captions[] = {"Pos", "Dump", "Text"};
  for (int c = 0; c < 3; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(view.columnWidth(c), widths[c]);
    EXPECT_EQ(view.header()->sectionSize(c), widths[c]);
    EXPECT_EQ(view.header()->model()->headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(captions[c]));
  }
}

TEST_F(HexViewWidget, BlocksFollowTheWidth) {
  const int widths[] = {100, 300, 450, 600, 800, 1200, 4000};
  int previous = 0;
  for (int w : widths) {
    SCOPED_TRACE(w);
    view.resize(w, 300);
    QApplication::processEvents();
    const int client = view.viewport()->width();
    const int blocks = expectedBlocks(view, client);
    EXPECT_EQ(view.HexBlocks(), blocks);
    EXPECT_GE(view.HexBlocks(), previous);  // wider never means fewer
    previous = view.HexBlocks();
    const QFontMetrics fm(view.font());
    EXPECT_EQ(view.columnWidth(HexDumpLayout::cDump),
              fm.horizontalAdvance(QStringLiteral("AABBCCDD ").repeated(blocks)) + 8);
    EXPECT_EQ(view.columnWidth(HexDumpLayout::cText), fm.horizontalAdvance(QStringLiteral("ABCD").repeated(blocks)) + 12);
    EXPECT_EQ(view.header()->sectionSize(HexDumpLayout::cDump), view.columnWidth(HexDumpLayout::cDump));
    // The row count follows the new row length.
    EXPECT_EQ(view.model().rowCount(), static_cast<std::int64_t>(1000 / (blocks * 4) + 1));
  }
  EXPECT_EQ(expectedBlocks(view, 100), 2);  // the narrowest case above really was too narrow
  view.resize(100, 300);
  QApplication::processEvents();
  EXPECT_EQ(view.HexBlocks(), 2);
  EXPECT_EQ(view.OwnerDataFetch(0).dump, QStringLiteral("030A1118 1F262D34"));
  view.resize(4000, 300);
  QApplication::processEvents();
  EXPECT_EQ(view.HexBlocks(), 17);
}

TEST_F(HexViewWidget, BytesShownIsWholeVisibleRowsTimesRowLength) {
  const int rows = view.viewport()->height() / view.layout().metrics.lineHeight;
  EXPECT_GT(rows, 0);
  EXPECT_EQ(view.BytesShown(), static_cast<std::uint64_t>(rows * view.HexBlocks() * 4));
}

TEST_F(HexViewWidget, KeysMoveTheSelectionAndKeepItInView) {
  view.setFocus();
  EXPECT_EQ(view.selectedRow(), -1);
  pressKey(&view, Qt::Key_Down);
  EXPECT_EQ(view.selectedRow(), 0);
  pressKey(&view, Qt::Key_Down);
  pressKey(&view, Qt::Key_Up);
  EXPECT_EQ(view.selectedRow(), 0);
  pressKey(&view, Qt::Key_Up);
  EXPECT_EQ(view.selectedRow(), 0);

  const std::int64_t last = view.model().rowCount() - 1;
  pressKey(&view, Qt::Key_End);
  EXPECT_EQ(view.selectedRow(), last);
  const int page = view.layout().pageRows();
  EXPECT_EQ(view.topRow(), last - page + 1);
  EXPECT_EQ(view.verticalScrollBar()->value(), view.topRow());

  pressKey(&view, Qt::Key_PageUp);
  EXPECT_EQ(view.selectedRow(), last - page);
  pressKey(&view, Qt::Key_Home);
  EXPECT_EQ(view.selectedRow(), 0);
  EXPECT_EQ(view.topRow(), 0);
}

TEST_F(HexViewWidget, ClickSelectsTheRowUnderTheMouse) {
  const int h = view.layout().metrics.lineHeight;
  click(view.viewport(), QPoint(20, 2 * h + h / 2));
  EXPECT_EQ(view.selectedRow(), 2);
  view.SetDataSize(10);  // one row now
  click(view.viewport(), QPoint(20, 3 * h + 1));
  EXPECT_EQ(view.selectedRow(), -1);
}

TEST_F(HexViewWidget, ANewRowLengthKeepsTheSelectedBytesInView) {
  view.resize(300, 200);  // two blocks
  QApplication::processEvents();
  ASSERT_EQ(view.HexBlocks(), 2);
  view.selectRow(100);  // bytes 800..807
  view.resize(1200, 200);
  QApplication::processEvents();
  const int blocks = view.HexBlocks();
  ASSERT_GT(blocks, 2);
  EXPECT_EQ(view.selectedRow(), 800 / (blocks * 4));
  EXPECT_LE(view.topRow(), view.selectedRow());
  EXPECT_LT(view.selectedRow(), view.topRow() + view.layout().pageRows());
}

TEST_F(HexViewWidget, PaintingFetchesOnlyVisibleRows) {
  view.SetDataSize(1ULL << 32);  // 4 GiB: nothing but the visible rows may be asked for
  fetches = 0;
  const QPixmap shot = view.grab();
  EXPECT_FALSE(shot.isNull());
  EXPECT_GT(fetches, 0);
  EXPECT_LE(fetches, view.layout().pageRows() + 1);
  view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
  const std::int64_t top = view.topRow();
  EXPECT_EQ(view.OwnerDataFetch(top).pos,
            QString::fromLatin1("%1").arg(static_cast<quint32>(top * view.HexBlocks() * 4), 8, 16, QLatin1Char('0')).toUpper());
}

// A picture to look at: HIVESCOPE_SCREENSHOT_DIR=/tmp keeps it as hexview.png.
TEST_F(HexViewWidget, Screenshot) {
  view.SetOnGetRowColor([](std::uint64_t first, std::uint64_t, QColor& color) {
    if (first >= 40 && first < 80) color = Qt::darkRed;
  });
  view.SetOnGetAvailableData([this](std::uint64_t first, std::uint64_t count, std::vector<std::uint8_t>& data,
                                    std::vector<bool>& enabled) {
    for (std::uint64_t i = 0; i < count; ++i) {
      data[i] = bytes[first + i];
      enabled[i] = first + i < 60 || first + i >= 66;
    }
  });
  view.resize(640, 220);
  view.selectRow(1);
  QApplication::processEvents();
  const QImage image = view.grab().toImage();
  ASSERT_FALSE(image.isNull());
  saveScreenshot(view, "hexview");
}

TEST(HexViewInMainWindow, IsTheHiddenHexDumpBelowTheValueList) {
  TformMain form;
  auto* hex = form.findChild<THexView*>(QStringLiteral("lvHexDump"));
  ASSERT_NE(hex, nullptr);
  EXPECT_EQ(hex, form.lvHexDump);
  EXPECT_EQ(hex->parentWidget(), form.splitterHexDump);
  EXPECT_EQ(form.splitterHexDump->indexOf(hex), 1);
  EXPECT_EQ(hex->minimumHeight(), 40);
  EXPECT_TRUE(hex->isHidden());
  EXPECT_EQ(hex->font().family(), QStringLiteral("Courier New"));
  EXPECT_EQ(hex->DisabledHexChar(), QChar(0xA4));
}

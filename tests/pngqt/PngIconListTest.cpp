// TPngIconList: its items, the icons it keeps for them and its operations.

#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QSignalSpy>
#include <QToolBar>

#include "png/qt/PngIconList.h"
#include "png/qt/PngPictureQt.h"
#include "tests/app/Screenshot.h"
#include "tests/support/TempDir.h"

namespace {

// A size × size RGBA picture: a disc of `colour` on a clear ground, with a
// half-transparent band, as PNG bytes.
QByteArray discPng(int size, QColor colour) {
  QImage picture(size, size, QImage::Format_ARGB32);
  picture.fill(Qt::transparent);
  {
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    QColor band = colour.darker(200);
    band.setAlpha(128);
    p.setBrush(band);
    p.drawRect(QRectF(0, size / 2 - 1, size, 3));
  }
  auto png = PngFromGraphic(picture);
  const PngByteWriter bytes = png->SaveToBytes();
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

const QColor kColours[] = {QColor(200, 40, 40), QColor(40, 160, 40), QColor(40, 80, 200), QColor(220, 160, 0),
                           QColor(120, 60, 160)};

void fill(TPngIconList& list, int size) {
  list.SetWidth(size);
  list.SetHeight(size);
  for (const QColor& c : kColours) ASSERT_GE(list.AddPng(discPng(size, c)), 0);
}

// Pixmaps keep their pixels premultiplied, so pictures are compared so.
QImage pictureOf(const QIcon& icon, QIcon::Mode mode, int size) {
  return icon.pixmap(QSize(size, size), mode).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage pngOf(const TPngIconList& list, int index) {
  return list.Image(index).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

TEST(PngIconList, IconsShowThePngAndADisabledFormOfIt) {
  TPngIconList list;
  fill(list, 24);
  ASSERT_EQ(list.Count(), 5);
  ASSERT_EQ(list.PngIcons().Count(), 5);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const QImage png = pngOf(list, i);
    EXPECT_EQ(pictureOf(list.icon(i), QIcon::Normal, 24), png);
    const QImage disabled = pictureOf(list.icon(i), QIcon::Disabled, 24);
    int opaque = 0;
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 24; ++x) {
        const int a = qAlpha(png.pixel(x, y));
        if (a == 255) {
          ++opaque;
          EXPECT_EQ(qAlpha(disabled.pixel(x, y)), 128) << x << "," << y;
        } else if (a == 0) {
          EXPECT_EQ(qAlpha(disabled.pixel(x, y)), 0) << x << "," << y;
        }
      }
    EXPECT_GT(opaque, 100);
  }
  EXPECT_TRUE(list.icon(5).isNull());
  EXPECT_TRUE(list.icon(-1).isNull());
}

TEST(PngIconList, GreyOptionMakesTheDisabledFormGrey) {
  TPngIconList list;
  list.SetPngOptions(pngGrayscaleOnDisabled);
  fill(list, 16);
  const QImage disabled = pictureOf(list.icon(0), QIcon::Disabled, 16);
  const QRgb centre = disabled.pixel(8, 4);
  EXPECT_EQ(qAlpha(centre), 255);
  EXPECT_EQ(qRed(centre), qGreen(centre));
  EXPECT_EQ(qGreen(centre), qBlue(centre));
}

TEST(PngIconList, OperationsKeepItemsAndIconsInStep) {
  TPngIconList list;
  fill(list, 16);
  QSignalSpy changes(&list, &TPngIconList::Change);

  EXPECT_EQ(list.Add(nullptr, nullptr), -1);
  EXPECT_EQ(list.AddIcon(nullptr), -1);
  EXPECT_EQ(list.AddMasked(nullptr, 0), -1);
  list.Delete(5);
  list.Delete(-1);
  list.Move(0, 5);
  list.Insert(0, nullptr, nullptr);
  list.Replace(0, nullptr, nullptr);
  EXPECT_EQ(list.Count(), 5);
  EXPECT_EQ(list.PngIcons().Count(), 5);
  EXPECT_EQ(changes.count(), 0);

  const QImage first = pngOf(list, 0), second = pngOf(list, 1);
  list.Move(0, 4);
  EXPECT_EQ(pngOf(list, 4), first);
  EXPECT_EQ(pngOf(list, 0), second);
  EXPECT_EQ(pictureOf(list.icon(4), QIcon::Normal, 16), first);
  EXPECT_EQ(pictureOf(list.icon(0), QIcon::Normal, 16), second);
  EXPECT_GT(changes.count(), 0);

  list.Delete(0);
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(pictureOf(list.icon(3), QIcon::Normal, 16), first);

  QImage square(16, 16, QImage::Format_RGB32);
  square.fill(qRgb(255, 0, 255));
  square.setPixel(8, 8, qRgb(1, 2, 3));
  list.InsertMasked(1, &square, 0x00FF00FF);
  ASSERT_EQ(list.Count(), 5);
  const QImage masked = pictureOf(list.icon(1), QIcon::Normal, 16);
  EXPECT_EQ(masked.pixel(8, 8), qRgb(1, 2, 3));
  EXPECT_EQ(qAlpha(masked.pixel(0, 0)), 0);

  list.Replace(1, &square, nullptr);
  EXPECT_EQ(qAlpha(pictureOf(list.icon(1), QIcon::Normal, 16).pixel(0, 0)), 255);

  EXPECT_EQ(list.AddMasked(&square, 0x00FF00FF), 5);
  EXPECT_EQ(list.Count(), 6);

  TPngIconList other;
  other.AddImages(list);
  EXPECT_EQ(other.Count(), 6);
  EXPECT_EQ(pngOf(other, 5), pngOf(list, 5));

  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.PngIcons().Count(), 0);
}

TEST(PngIconList, NewItemsAreNamedByIndexAndResizingClears) {
  TPngIconList list;
  for (int i = 0; i < 4; ++i) list.PngIcons().NewItem();
  const TPngIconCollectionItem* fourth = list.PngIcons().ItemAt(3);
  ASSERT_NE(fourth, nullptr);
  EXPECT_EQ(fourth->Name(), QStringLiteral("PngIcon3"));
  EXPECT_EQ(fourth->Background(), 0xFF00000Fu);
  EXPECT_EQ(list.PngIcons().ItemAt(4), nullptr);
  EXPECT_EQ(list.Count(), 4);  // items without a picture keep their place

  list.SetWidth(16);  // unchanged
  EXPECT_EQ(list.PngIcons().Count(), 4);
  list.SetWidth(24);
  EXPECT_EQ(list.PngIcons().Count(), 0);
  EXPECT_EQ(list.Count(), 0);
  fill(list, 24);
  list.SetHeight(16);
  EXPECT_EQ(list.Count(), 0);
}

TEST(PngIconList, DisabledListsShowBlendedCopies) {
  TPngIconList list;
  fill(list, 16);
  const QImage png = pngOf(list, 2);
  list.SetEnabledImages(false);
  const QImage normal = pictureOf(list.icon(2), QIcon::Normal, 16);
  EXPECT_EQ(qAlpha(normal.pixel(8, 4)), 128);
  EXPECT_EQ(qAlpha(png.pixel(8, 4)), 255);
  list.SetEnabledImages(true);
  EXPECT_EQ(pictureOf(list.icon(2), QIcon::Normal, 16), png);
}

TEST(PngIconList, DrawImageDrawsThePngOrItsDisabledForm) {
  TPngIconList list;
  fill(list, 16);
  QImage enabled(20, 20, QImage::Format_RGB32), disabled(20, 20, QImage::Format_RGB32);
  enabled.fill(Qt::white);
  disabled.fill(Qt::white);
  list.DrawImage(enabled, 2, 2, 1, true);
  list.DrawImage(disabled, 2, 2, 1, false);
  list.DrawImage(disabled, 2, 2, 7, false);  // no such item: nothing
  const QRgb solid = enabled.pixel(2 + 8, 2 + 4), faded = disabled.pixel(2 + 8, 2 + 4);
  EXPECT_EQ(solid, pngOf(list, 1).pixel(8, 4) | 0xFF000000u);
  EXPECT_EQ(qGreen(faded), (qGreen(solid) * 128 + 255 + 127 * 255) >> 8);
  EXPECT_EQ(enabled.pixel(0, 0), qRgb(255, 255, 255));
}

TEST(PngIconList, AssignToCarriesItemsAndEnabledImagesNotOptions) {
  TPngIconList source;
  fill(source, 24);
  source.SetEnabledImages(false);
  source.SetPngOptions(pngGrayscaleOnDisabled);
  source.PngIcons().ItemAt(2)->SetName(QStringLiteral("Save"));
  source.PngIcons().ItemAt(2)->SetBackground(0xFF000005);

  TPngIconList destination;
  destination.AddPng(discPng(16, Qt::black));
  source.AssignTo(destination);
  EXPECT_EQ(destination.Width(), 24);
  EXPECT_EQ(destination.Count(), 5);
  EXPECT_FALSE(destination.EnabledImages());
  EXPECT_EQ(destination.PngOptions(), TPngOptions(pngBlendOnDisabled));
  EXPECT_EQ(destination.PngIcons().ItemAt(2)->Name(), QStringLiteral("Save"));
  EXPECT_EQ(destination.PngIcons().ItemAt(2)->Background(), 0xFF000005u);
  EXPECT_EQ(pngOf(destination, 4), pngOf(source, 4));
  // The copies are the destination's own.
  source.Clear();
  EXPECT_EQ(destination.Count(), 5);
}

TEST(PngIconList, FilesAreAddedInOrderUntilOneCannotBeRead) {
  testsupport::TempDir dir;
  const QString first = QString::fromStdString((dir / "first.png").string());
  const QString bad = QString::fromStdString((dir / "bad.png").string());
  for (const auto& [path, bytes] : {std::pair{first, discPng(16, Qt::red)}, {bad, QByteArray("not a png")}}) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  TPngIconList list(16, 16);
  EXPECT_EQ(list.Width(), 16);
  EXPECT_TRUE(list.AddFiles({first}));
  EXPECT_FALSE(list.AddFiles({first, bad, first}));
  EXPECT_FALSE(list.AddFiles({QStringLiteral(":/no/such/file.png")}));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Image(1), list.Image(0));
  EXPECT_TRUE(list.Image(2).isNull());
}

TEST(PngIconList, MenusAndToolBarsShowTheIcons) {
  TPngIconList small, large;
  fill(small, 16);
  fill(large, 24);
  QMainWindow window;
  QToolBar* bar = window.addToolBar(QStringLiteral("tools"));
  bar->setIconSize(QSize(24, 24));
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  QMenu* menu = window.menuBar()->addMenu(QStringLiteral("&Edit"));
  const char* names[] = {"&Undo selected", "&Redo selected", "Save &undo...", "Save &redo...", "&Delete selected"};
  for (int i = 0; i < 5; ++i) {
    QIcon icon = large.icon(i);
    for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled})
      icon.addPixmap(small.icon(i).pixmap(QSize(16, 16), mode), mode);
    auto* action = new QAction(icon, QString::fromUtf8(names[i]), &window);
    action->setEnabled(i != 1);
    menu->addAction(action);
    bar->addAction(action);
  }
  window.resize(720, 200);
  window.show();
  saveScreenshot(window, "png-icon-list-window");
  menu->popup(window.mapToGlobal(QPoint(0, 20)));
  saveScreenshot(*menu, "png-icon-list-menu");
  // The disabled action's tool button shows the list's own disabled form.
  const QIcon shown = bar->actions()[1]->icon();
  EXPECT_EQ(pictureOf(shown, QIcon::Disabled, 24), pictureOf(large.icon(1), QIcon::Disabled, 24));
  menu->hide();
}

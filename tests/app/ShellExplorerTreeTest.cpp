// What the hive-file dialog asks of an explorer tree, run against every tree
// that offers it: the selection count and the selected node's path.

#include <QApplication>
#include <QKeyEvent>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "app/FileTreeStandIn.h"
#include "tests/support/TempDir.h"

namespace {

template <class Tree>
class ShellExplorerTreeTest : public ::testing::Test {
protected:
  std::unique_ptr<Tree> tree = std::make_unique<Tree>();
  testsupport::TempDir dir{"hivescope-tree"};
};

using Trees = ::testing::Types<FileTreeStandIn>;
TYPED_TEST_SUITE(ShellExplorerTreeTest, Trees);

TYPED_TEST(ShellExplorerTreeTest, GivesTheSelectedPathOrNothing) {
  ShellExplorerTree& tree = *this->tree;
  const auto folder = this->dir.path() / "Windows";
  std::filesystem::create_directories(folder);
  const auto file = folder / "SYSTEM";
  std::ofstream(file) << "x";

  EXPECT_EQ(tree.SelectedCount(), 0);
  EXPECT_EQ(tree.GetSelectedPath(), u"");

  ASSERT_TRUE(tree.SelectPath(QString::fromStdString(file.string())));
  EXPECT_EQ(tree.SelectedCount(), 1);
  EXPECT_EQ(tree.GetSelectedPath(), file.u16string());

  ASSERT_TRUE(tree.SelectPath(QString::fromStdString(folder.string())));
  EXPECT_EQ(tree.SelectedCount(), 1);
  EXPECT_EQ(tree.GetSelectedPath(), folder.u16string()) << "a folder is a file-system item too";

  EXPECT_FALSE(tree.SelectPath(QString::fromStdString((folder / "missing").string())));
}

// The dialog looks at the selection again after every released key.
TYPED_TEST(ShellExplorerTreeTest, ReleasedKeysAreHeard) {
  ShellExplorerTree& tree = *this->tree;
  int keys = 0;
  tree.OnKeyUp = [&] { ++keys; };
  tree.widget()->show();
  QApplication::processEvents();
  const auto file = this->dir.path() / "hive";
  std::ofstream(file) << "x";
  ASSERT_TRUE(tree.SelectPath(QString::fromStdString(file.string())));
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier);
  QApplication::sendEvent(tree.widget(), &release);
  EXPECT_EQ(keys, 1);
}

}  // namespace

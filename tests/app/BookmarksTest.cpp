// The bookmarks: the menu read from and written to the bookmark file, the
// manager's rules, and the main window's bookmark actions on a real registry.

#include <QApplication>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/FormUnitBookmarks.h"
#include "app/FormUnitMain.h"
#include "app/KeyLister.h"
#include "app/ProgramWindows.h"
#include "app/UiSeams.h"
#include "app/UnitMessages.h"
#include "app/bwlLocalization.h"
#include "app/CommandLine.h"
#include "core/bwlConfig.h"
#include "core/bwlRegistry.h"
#include "platform/RegistryStore.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/ScriptedAnswers.h"
#include "tests/app/Screenshot.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// The menu's entries in order: a bookmark as caption=key path, a folder as
// caption[entries], a separator as "-", any other entry by its text.
QString describe(const QMenu* menu) {
  QStringList parts;
  for (QAction* a : menu->actions()) {
    if (const QMenu* folder = a->menu<QMenu*>())
      parts << a->text() + u'[' + describe(folder) + u']';
    else if (const auto* b = qobject_cast<const TBookmarkMenuItem*>(a))
      parts << b->text() + u'=' + b->KeyPath;
    else if (a->isSeparator())
      parts << QStringLiteral("-");
    else
      parts << a->text();
  }
  return parts.join(QStringLiteral(" | "));
}

// The manager's tree the same way.
QString describe(const QTreeWidgetItem* node, const QTreeWidget* tree = nullptr) {
  QStringList parts;
  const int count = node ? node->childCount() : tree->topLevelItemCount();
  for (int i = 0; i < count; ++i) {
    const QTreeWidgetItem* child = node ? node->child(i) : tree->topLevelItem(i);
    if (TformBookmarks::IsBookmarkNode(child))
      parts << child->text(0) + u'=' + TformBookmarks::NodeKeyPath(child);
    else
      parts << child->text(0) + u'[' + describe(child) + u']';
  }
  return parts.join(QStringLiteral(" | "));
}

// A "Bookmarks" menu with the main window's fixed entries.
struct FixedMenu {
  QMenu menu;
  QAction manage{QStringLiteral("&Manage bookmarks")};
  FixedMenu() {
    SetGroupIndex(menu.addSeparator(), kFixedGroupIndex);
    menu.addAction(&manage);
    SetGroupIndex(&manage, kFixedGroupIndex);
  }
};

// Each file read into a menu with its fixed entries and written back.
TEST(BookmarkMenu, FilesReadIntoTheMenuAndWrittenBack) {
  const struct {
    const char* name;
    std::string file;
    const char* menu;  // before the fixed entries
    std::string written;
  } cases[] = {
      {"one folder's entries show in reverse", "ITEM,A,x\r\nITEM,B,y\r\n", "B=y | A=x", "ITEM,A,x\r\nITEM,B,y\r\n"},
      {"folders nest and keep their order",
       "FOLDER_OPEN,F\r\nITEM,A,x\r\nFOLDER_OPEN,G\r\nITEM,B,y\r\nFOLDER_CLOSE\r\nITEM,C,z\r\nFOLDER_CLOSE\r\n"
       "ITEM,D,w\r\n",
       "D=w | F[C=z | G[B=y] | A=x]",
       "FOLDER_OPEN,F\r\nITEM,A,x\r\nFOLDER_OPEN,G\r\nITEM,B,y\r\nFOLDER_CLOSE\r\nITEM,C,z\r\nFOLDER_CLOSE\r\n"
       "ITEM,D,w\r\n"},
      {"comments are skipped and not kept", "//ITEM,A,x\r\n##ITEM,B,y\r\nITEM,C,z\r\n", "C=z", "ITEM,C,z\r\n"},
      {"a close at the top level is ignored", "FOLDER_CLOSE\r\nITEM,A,x\r\nFOLDER_CLOSE\r\nITEM,B,y\r\n", "B=y | A=x",
       "ITEM,A,x\r\nITEM,B,y\r\n"},
      {"a missing close keeps the rest in the folder", "FOLDER_OPEN,F\r\nITEM,A,x\r\nITEM,B,y\r\n", "F[B=y | A=x]",
       "FOLDER_OPEN,F\r\nITEM,A,x\r\nITEM,B,y\r\nFOLDER_CLOSE\r\n"},
      {"an unquoted blank separates", "ITEM,My key,path\r\n", "My=key", "ITEM,My,key\r\n"},
      {"a caption with a blank is quoted", "ITEM,\"My key\",\"HKEY_CURRENT_USER\\A b\"\r\n",
       "My key=HKEY_CURRENT_USER\\A b", "ITEM,\"My key\",\"HKEY_CURRENT_USER\\A b\"\r\n"},
      {"short, unknown and lower-case lines are skipped; extra fields dropped",
       "ITEM,A\r\nFOLDER_OPEN\r\nitem,a,b\r\nFOLDER,x\r\n\r\nITEM,B,y,extra\r\n", "B=y", "ITEM,B,y\r\n"},
      {"8-bit text in the active code page", "ITEM,Caf\xc3\xa9,HKEY_CURRENT_USER\\\xc3\xa9\r\n",
       "Caf\u00e9=HKEY_CURRENT_USER\\\u00e9", "ITEM,Caf\xc3\xa9,HKEY_CURRENT_USER\\\xc3\xa9\r\n"},
  };
  testsupport::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TformBookmarks form;
    FixedMenu fixed;
    writeFile(dir / "in.txt", c.file);
    form.LoadFromFile(dir / "in.txt", &fixed.menu);
    EXPECT_EQ(describe(&fixed.menu), QString::fromUtf8(c.menu) + QStringLiteral(" | - | &Manage bookmarks"));
    ASSERT_EQ(form.SaveToFile(dir / "out.txt", &fixed.menu), 0);
    EXPECT_EQ(testsupport::readFileText(dir / "out.txt"), c.written);
  }

  // A missing file adds nothing; clearing leaves only the fixed entries.
  TformBookmarks form;
  FixedMenu fixed;
  form.LoadFromFile(dir / "missing.txt", &fixed.menu);
  EXPECT_EQ(describe(&fixed.menu), QStringLiteral("- | &Manage bookmarks"));
  writeFile(dir / "in.txt", "FOLDER_OPEN,F\r\nITEM,A,x\r\nFOLDER_CLOSE\r\nITEM,B,y\r\n");
  form.LoadFromFile(dir / "in.txt", &fixed.menu);
  form.ClearMenu(&fixed.menu);
  EXPECT_EQ(describe(&fixed.menu), QStringLiteral("- | &Manage bookmarks"));

  // A new file is the user's alone, whatever the umask; an existing one
  // keeps its mode.
  testsupport::ScopedUmask umask(022);
  ASSERT_EQ(form.SaveToFile(dir / "new.txt", &fixed.menu), 0);
  EXPECT_EQ(testsupport::permissionBits(dir / "new.txt"), 0600u);
  std::filesystem::permissions(dir / "new.txt", std::filesystem::perms(0640), std::filesystem::perm_options::replace);
  ASSERT_EQ(form.SaveToFile(dir / "new.txt", &fixed.menu), 0);
  EXPECT_EQ(testsupport::permissionBits(dir / "new.txt"), 0640u);
}

class BookmarkManager : public ::testing::Test {
protected:
  void SetUp() override {
    // The main window's constructor gives the program its messages.
    AppTranslator()->SetDefaultMessages(kMessageTable, kMessageHighIndex);
    setPrompter(&answers);
    setMessageBoxes(&answers);
  }
  void TearDown() override {
    setPrompter(nullptr);
    setMessageBoxes(nullptr);
  }
  void load(const std::string& file) {
    writeFile(dir / "in.txt", file);
    form.LoadFromFile(dir / "in.txt", &fixed.menu);
  }
  // Runs the manager, does `act` in it and leaves with OK or Cancel.
  bool manage(const std::function<void()>& act, bool ok = true) {
    onNextModalWindow([&](QDialog&) {
      act();
      (ok ? form.bnOK : form.bnCancel)->click();
    });
    return form.Manage(&fixed.menu);
  }
  QString tree() const { return describe(nullptr, form.tvBookmarks); }
  // The node at a path of captions, "F/C".
  QTreeWidgetItem* node(const QString& path) const {
    QTreeWidgetItem* found = nullptr;
    for (const QString& caption : path.split(u'/')) {
      QTreeWidgetItem* next = nullptr;
      const int count = found ? found->childCount() : form.tvBookmarks->topLevelItemCount();
      for (int i = 0; i < count && !next; ++i) {
        QTreeWidgetItem* child = found ? found->child(i) : form.tvBookmarks->topLevelItem(i);
        if (child->text(0) == caption) next = child;
      }
      if (!next) return nullptr;
      found = next;
    }
    return found;
  }
  void select(const QString& path) { form.tvBookmarks->setCurrentItem(path.isEmpty() ? nullptr : node(path)); }
  // A drag of `dragged` dropped on `target` (empty space when null), through
  // the tree's own drag events. Whether the drop was taken.
  bool drop(QTreeWidgetItem* dragged, QTreeWidgetItem* target) {
    if (!form.BeginDrag(dragged)) return false;
    QWidget* viewport = form.tvBookmarks->viewport();
    form.tvBookmarks->expandAll();
    QApplication::processEvents();
    const QPoint at = target ? form.tvBookmarks->visualItemRect(target).center()
                             : QPoint(10, viewport->height() - 4);
    QMimeData mime;
    mime.setData(QStringLiteral("application/x-hivescope-bookmark"), {});
    QDragEnterEvent enter(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    if (!enter.isAccepted()) return false;
    QDragMoveEvent move(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    if (!move.isAccepted()) return false;
    QDropEvent dropped(QPointF(at), Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &dropped);
    return dropped.isAccepted();
  }

  testsupport::TempDir dir;
  ScriptedAnswers answers;
  TformBookmarks form;
  FixedMenu fixed;
};

// A bookmark dropped on a bookmark goes before it, on a folder to its end,
// on empty space to the end of the top level; folders are not dragged and
// nothing drops on itself. OK rebuilds the menu in the tree's order.
TEST_F(BookmarkManager, DragAndDropFollowTheTargetAndOkRebuildsTheMenu) {
  load("ITEM,A,a\r\nITEM,B,b\r\nFOLDER_OPEN,F\r\nITEM,C,c\r\nFOLDER_CLOSE\r\n");  // menu: F, B, A
  EXPECT_TRUE(manage([&] {
    EXPECT_EQ(tree(), QStringLiteral("F[C=c] | B=b | A=a"));
    EXPECT_TRUE(drop(node("A"), node("B")));
    EXPECT_EQ(tree(), QStringLiteral("F[C=c] | A=a | B=b"));
    EXPECT_TRUE(drop(node("B"), node("F")));
    EXPECT_EQ(tree(), QStringLiteral("F[C=c | B=b] | A=a"));
    EXPECT_TRUE(drop(node("F/C"), node("A")));
    EXPECT_EQ(tree(), QStringLiteral("F[B=b] | C=c | A=a"));
    EXPECT_TRUE(drop(node("C"), nullptr));
    EXPECT_EQ(tree(), QStringLiteral("F[B=b] | A=a | C=c"));
    EXPECT_FALSE(drop(node("F"), node("A")));
    EXPECT_EQ(form.FDragNode, nullptr);
    EXPECT_FALSE(drop(node("A"), node("A")));
    EXPECT_EQ(tree(), QStringLiteral("F[B=b] | A=a | C=c"));
    saveScreenshot(form, "bookmark-manager");
  }));
  EXPECT_EQ(describe(&fixed.menu), QStringLiteral("F[B=b] | A=a | C=c | - | &Manage bookmarks"));
  fixed.menu.adjustSize();
  saveScreenshot(fixed.menu, "bookmark-menu-with-folder");
  ASSERT_EQ(form.SaveToFile(dir / "out.txt", &fixed.menu), 0);
  EXPECT_EQ(testsupport::readFileText(dir / "out.txt"),
            "ITEM,C,c\r\nITEM,A,a\r\nFOLDER_OPEN,F\r\nITEM,B,b\r\nFOLDER_CLOSE\r\n");
}

// New entries go to the selected node's folder (the top level for a
// top-level bookmark or no selection); the two sorts keep to their levels;
// Cancel leaves the menu as it was.
TEST_F(BookmarkManager, AddSortAndCancel) {
  load("ITEM,z,1\r\nFOLDER_OPEN,F\r\nITEM,y,2\r\nITEM,b,3\r\nFOLDER_OPEN,G\r\nITEM,q,4\r\nITEM,p,5\r\n"
       "FOLDER_CLOSE\r\nFOLDER_CLOSE\r\nITEM,a,6\r\n");
  const QString before = describe(&fixed.menu);
  ASSERT_EQ(before, QStringLiteral("a=6 | F[G[p=5 | q=4] | b=3 | y=2] | z=1 | - | &Manage bookmarks"));
  form.FLastPath = QStringLiteral("HKEY_CURRENT_USER\\Last");
  EXPECT_FALSE(manage(
      [&] {
        select("a");
        answers.replies = {"top", "HKEY_CURRENT_USER\\Top"};
        form.aAddBookmark->trigger();
        ASSERT_EQ(answers.asked.size(), 2u);
        EXPECT_EQ(answers.asked[0].title, QStringLiteral("New bookmark name"));
        EXPECT_EQ(answers.asked[0].prompt, QStringLiteral("Please enter the name for the new bookmark:"));
        EXPECT_EQ(answers.asked[0].text, QStringLiteral("New bookmark"));
        EXPECT_EQ(answers.asked[1].title, QStringLiteral("New bookmark location"));
        EXPECT_EQ(answers.asked[1].text, QStringLiteral("HKEY_CURRENT_USER\\Last"));
        select("F/b");
        answers.replies = {"inner", "k"};
        form.aAddBookmark->trigger();
        answers.replies = {"Sub"};
        form.aAddFolder->trigger();
        EXPECT_EQ(answers.asked.back().text, QStringLiteral("New folder"));
        EXPECT_TRUE(node("F")->isExpanded());
        select("");
        answers.replies = {"named only"};  // the location is cancelled: nothing is added
        form.aAddBookmark->trigger();
        EXPECT_EQ(tree(), QStringLiteral("a=6 | F[G[p=5 | q=4] | b=3 | y=2 | inner=k | Sub[]] | z=1 | top=HKEY_CURRENT_USER\\Top"));

        select("F/y");
        form.aSortOneLevel->trigger();
        EXPECT_EQ(tree(), QStringLiteral("a=6 | F[b=3 | G[p=5 | q=4] | inner=k | Sub[] | y=2] | z=1 | top=HKEY_CURRENT_USER\\Top"));
        select("a");
        form.aSortOneLevel->trigger();
        EXPECT_EQ(tree(), QStringLiteral("a=6 | F[b=3 | G[p=5 | q=4] | inner=k | Sub[] | y=2] | top=HKEY_CURRENT_USER\\Top | z=1"));
        node("F/G")->addChild(node("F/G")->takeChild(0));  // G: q, p
        select("F");
        form.aSortRecursive->trigger();
        EXPECT_EQ(describe(node("F")), QStringLiteral("b=3 | G[p=5 | q=4] | inner=k | Sub[] | y=2"));
      },
      false));
  EXPECT_EQ(describe(&fixed.menu), before);
}

// Selection sets the status text and the enabling; renames and deletes ask
// first, and No keeps the node.
TEST_F(BookmarkManager, SelectionRenameAndDelete) {
  load("FOLDER_OPEN,F\r\nITEM,A,HKEY_LOCAL_MACHINE\\SOFTWARE\r\nFOLDER_CLOSE\r\n");
  EXPECT_TRUE(manage([&] {
    EXPECT_FALSE(form.aRenameBookmark->isEnabled());
    EXPECT_FALSE(form.aDeleteFolder->isEnabled());
    select("F/A");
    EXPECT_EQ(form.sbStatus->currentMessage(), QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE"));
    EXPECT_EQ(node("F/A")->toolTip(0), QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE"));
    EXPECT_TRUE(form.aRenameBookmark->isEnabled() && form.aDeleteBookmark->isEnabled());
    EXPECT_FALSE(form.aRenameFolder->isEnabled() || form.aDeleteFolder->isEnabled());
    answers.replies = {"Software"};
    form.aRenameBookmark->trigger();
    EXPECT_EQ(answers.asked.back().title, QStringLiteral("Rename bookmark"));
    EXPECT_EQ(answers.asked.back().text, QStringLiteral("A"));
    answers.boxReply = mrNo;
    form.aDeleteBookmark->trigger();
    EXPECT_EQ(answers.messages, QStringList({"Do you really want to delete this bookmark?"}));
    EXPECT_EQ(tree(), QStringLiteral("F[Software=HKEY_LOCAL_MACHINE\\SOFTWARE]"));

    select("F");
    EXPECT_EQ(form.sbStatus->currentMessage(), QString());
    EXPECT_FALSE(form.aRenameBookmark->isEnabled() || form.aDeleteBookmark->isEnabled());
    EXPECT_TRUE(form.aRenameFolder->isEnabled() && form.aDeleteFolder->isEnabled());
    answers.replies = {"Folder"};
    form.aRenameFolder->trigger();
    EXPECT_EQ(answers.asked.back().title, QStringLiteral("Rename folder"));
    answers.boxReply = mrYes;
    form.aDeleteFolder->trigger();
    EXPECT_EQ(answers.messages.back(), QStringLiteral("Do you really want to delete this folder?"));
    EXPECT_EQ(tree(), QString());
  }));
  EXPECT_EQ(describe(&fixed.menu), QStringLiteral("- | &Manage bookmarks"));
}

// "Export one level" takes a folder's bookmarks and those of its direct
// sub-folders, "Export recursive" all below it, both in tree order; a
// bookmark alone gives itself.
TEST_F(BookmarkManager, ExportsCollectByLevel) {
  load("FOLDER_OPEN,F\r\nITEM,c2,k5\r\nFOLDER_OPEN,G\r\nFOLDER_OPEN,H\r\nITEM,e1,k4\r\nFOLDER_CLOSE\r\n"
       "ITEM,d1,k3\r\nFOLDER_CLOSE\r\nITEM,c1,k2\r\nFOLDER_CLOSE\r\nITEM,b1,k1\r\n");
  std::vector<std::pair<QStringList, QStringList>> exported;
  form.OnExportBookmarks = [&](const QStringList& captions, const QStringList& keyPaths) {
    exported.emplace_back(captions, keyPaths);
  };
  manage([&] {
    ASSERT_EQ(tree(), QStringLiteral("b1=k1 | F[c1=k2 | G[d1=k3 | H[e1=k4]] | c2=k5]"));
    select("F");
    form.aExportOneLevel->trigger();
    form.aExportRecursive->trigger();
    select("F/G/d1");
    form.aExportRecursive->trigger();
  });
  ASSERT_EQ(exported.size(), 3u);
  EXPECT_EQ(exported[0].first, QStringList({"c1", "d1", "c2"}));
  EXPECT_EQ(exported[0].second, QStringList({"k2", "k3", "k5"}));
  EXPECT_EQ(exported[1].first, QStringList({"c1", "d1", "e1", "c2"}));
  EXPECT_EQ(exported[2].second, QStringList({"k3"}));
}

// The program's main window, started as the program starts it, on a fresh
// registry with its own data folder.
class BookmarksOnMainWindow : public ::testing::Test {
protected:
  void SetUp() override {
    platform::registry::shutdownForTests();
    ConfigManager().SetAppName("Hivescope");
    setPrompter(&answers);
    setMessageBoxes(&answers);
  }
  void TearDown() override {
    windows.reset();
    setPrompter(nullptr);
    setMessageBoxes(nullptr);
    std::error_code ec;
    fs::permissions(data / "hivescope", fs::perms::owner_all, ec);
    platform::registry::shutdownForTests();
  }
  void showForm() {
    windows.reset();
    windows = std::make_unique<TProgramWindows>(&lister, TCommandLine({}, data.path()));
    form = &windows->Main();
    form->show();
    QApplication::processEvents();
  }
  QString selectedPath() {
    KeyNode* n = form->selectedNode();
    return n ? form->GetNodeLocation(n).displayPath : QString();
  }
  TBookmarkMenuItem* firstBookmark() {
    return qobject_cast<TBookmarkMenuItem*>(form->miBookmarks->actions().value(0));
  }
  fs::path file() const { return data / "hivescope" / "Bookmarks.txt"; }

  testsupport::TempRegistry registry;
  testsupport::TempDir data;
  testsupport::ScopedEnv xdg{"XDG_DATA_HOME", data.path().string()};
  RegistryKeyLister lister;
  ScriptedAnswers answers;
  std::unique_ptr<TProgramWindows> windows;
  TformMain* form = nullptr;
};

// Ctrl+B puts the selected key at the top of the menu and into the user's
// data folder; a new window reads it there, and choosing it selects the key.
TEST_F(BookmarksOnMainWindow, CtrlBAddsTheKeyAndANewWindowJumpsToIt) {
  showForm();
  EXPECT_EQ(form->aKeyAddBookmark->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_B));
  form->JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE"));
  answers.replies = {"Software key"};
  form->aKeyAddBookmark->trigger();
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_EQ(answers.asked[0].title, QStringLiteral("New bookmark name"));
  EXPECT_EQ(answers.asked[0].text, QStringLiteral("New bookmark"));
  EXPECT_EQ(describe(form->miBookmarks),
            QStringLiteral("Software key=HKEY_LOCAL_MACHINE\\SOFTWARE | - | &Manage bookmarks"));
  EXPECT_EQ(testsupport::readFileText(file()), "ITEM,\"Software key\",HKEY_LOCAL_MACHINE\\SOFTWARE\r\n");
  EXPECT_TRUE(answers.messages.isEmpty());
  // A cancelled name adds nothing.
  form->aKeyAddBookmark->trigger();
  EXPECT_EQ(form->miBookmarks->actions().size(), 3);

  showForm();
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER"));
  ASSERT_NE(firstBookmark(), nullptr);
  EXPECT_EQ(firstBookmark()->KeyPath, QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE"));
  firstBookmark()->trigger();
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_LOCAL_MACHINE\\SOFTWARE"));

  form->menuBar()->setActiveAction(form->miBookmarks->menuAction());
  QApplication::processEvents();
  saveScreenshot(*form->miBookmarks, "bookmark-menu");
}

// A data folder that cannot be written: an error box names the file, the
// menu keeps the new bookmark and the window goes on working.
TEST_F(BookmarksOnMainWindow, AnUnwritableFileIsReportedAndTheMenuKept) {
  showForm();
  fs::create_directories(data / "hivescope");
  if (::geteuid() == 0)
    fs::create_directory(file());  // permissions do not stop the superuser; a folder in the file's place does
  else
    fs::permissions(data / "hivescope", fs::perms::owner_read | fs::perms::owner_exec);
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER"));
  answers.replies = {"User"};
  form->aKeyAddBookmark->trigger();
  ASSERT_EQ(answers.messages.size(), 1);
  EXPECT_TRUE(answers.messages[0].contains(QString::fromStdString(file().string()))) << answers.messages[0].toStdString();
  EXPECT_EQ(describe(form->miBookmarks), QStringLiteral("User=HKEY_CURRENT_USER | - | &Manage bookmarks"));
  form->JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE"));
  firstBookmark()->trigger();
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER"));
}

// A folder's export through the manager writes each bookmarked key with its
// own values only.
TEST_F(BookmarksOnMainWindow, ManagerExportWritesTheBookmarkedKeys) {
  const struct {
    const char *key, *name, *data;
  } values[] = {{"\\Software\\Marked", "top", "y"}, {"\\Software\\Marked\\Child", "deep", "x"}};
  for (const auto& v : values) {
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(v.key, true));
    reg.WriteString(v.name, v.data);
  }
  fs::create_directories(data / "hivescope");
  writeFile(file(), "FOLDER_OPEN,F\r\nITEM,one,HKEY_CURRENT_USER\\Software\\Marked\r\n"
                    "ITEM,two,HKEY_CURRENT_USER\\Software\\Marked\\Child\r\nFOLDER_CLOSE\r\n");
  showForm();
  answers.saveAnswer = QString::fromStdString((data / "marks.reg").string());
  answers.filterAnswer = 2;
  onNextModalWindow([&](QDialog&) {
    TformBookmarks* manager = form->formBookmarks();
    manager->tvBookmarks->setCurrentItem(manager->tvBookmarks->topLevelItem(0));
    manager->aExportRecursive->trigger();
  });
  form->aBookmarksManage->trigger();
  EXPECT_EQ(testsupport::readFileText(data / "marks.reg"),
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Marked\\Child]\r\n\"deep\"=\"x\"\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\Marked]\r\n\"top\"=\"y\"\r\n\r\n");
}

}  // namespace

#pragma once

// The bookmarks: named key paths the user collects in folders. They live in
// the main window's "Bookmarks" menu, where choosing one jumps to its key, and
// in the bookmark file (core/BookmarkFile.h). The manager `TformBookmarks`
// edits them as a tree and hands the keys of a folder to the main window for
// export.
//
// The menu holds the bookmarks and folders (group index 1) first, then the
// main window's fixed entries (group index 2 or more), which are never
// written, deleted or shown in the manager. A folder is a sub-menu.

#include <QAction>
#include <QDialog>
#include <QStringList>
#include <QTreeWidget>

#include <filesystem>
#include <functional>
#include <vector>

#include "core/BookmarkFile.h"

class QMenu;
class QPushButton;
class QStatusBar;
class TformBookmarks;

inline constexpr int kBookmarkGroupIndex = 1;
inline constexpr int kFixedGroupIndex = 2;
// The group index of a menu entry; 0 for one that never got any.
int GroupIndex(const QAction* action);
void SetGroupIndex(QAction* action, int index);

// A bookmark of the menu: its caption is the entry's text.
class TBookmarkMenuItem : public QAction {
  Q_OBJECT
public:
  TBookmarkMenuItem(const QString& caption, const QString& keyPath, QObject* parent);
  // The key as the address box shows it: long root name, "\", path.
  QString KeyPath;
};

// The manager's tree: drags only bookmarks and drops them by the manager's
// rule instead of Qt's own moves.
class TBookmarkTree : public QTreeWidget {
public:
  TBookmarkTree(TformBookmarks& form, QWidget* parent);

protected:
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  TformBookmarks& form_;
};

class TformBookmarks : public QDialog {
  Q_OBJECT
public:
  explicit TformBookmarks(QWidget* parent = nullptr);

  // Inserts the file's bookmarks at the top of `menu`, each entry of a folder
  // before those read earlier, so the menu shows them in reverse file order.
  // Nothing when the file cannot be read or `menu` is null.
  void LoadFromFile(const std::filesystem::path& fileName, QMenu* menu);
  // Writes the menu's bookmarks as a new file, each folder's entries from the
  // last to the first, so a file read and written back keeps its order. 0 or
  // an errno value; a failed write leaves the old file whole.
  [[nodiscard]] int SaveToFile(const std::filesystem::path& fileName, QMenu* menu) const;
  // Asks for a name; on OK puts a bookmark for `keyPath` at the top of the
  // menu, remembers the path and returns true.
  bool AddBookmark(QMenu* menu, const QString& keyPath);
  // Shows the manager for the menu's bookmarks; on OK rebuilds the menu in the
  // tree's order and returns true. Cancel leaves the menu as it was.
  bool Manage(QMenu* menu);
  // Deletes every entry of the menu below the fixed group.
  void ClearMenu(QMenu* menu);

  // The menu's bookmarks in file order (each folder's entries last to first).
  static std::vector<BookmarkEntry> MenuEntries(const QMenu* menu);

  // Given to every bookmark of the menu; runs when one is chosen.
  std::function<void(TBookmarkMenuItem*)> OnBookmarkClick;
  // Receives the captions and key paths of the bookmarks to export.
  std::function<void(const QStringList& captions, const QStringList& keyPaths)> OnExportBookmarks;
  // The key path of the bookmark added last from the main window.
  QString FLastPath;
  // The node being dragged.
  QTreeWidgetItem* FDragNode = nullptr;

  // The manager's tree and its rules, as the buttons and the pop-up menu run
  // them on the selected node.
  static bool IsBookmarkNode(const QTreeWidgetItem* node);
  static QString NodeKeyPath(const QTreeWidgetItem* node);
  // The folder a new or sorted entry goes to for `node`: the node itself when
  // it is a folder, else the folder holding it; null for the top level.
  static QTreeWidgetItem* TargetFolder(QTreeWidgetItem* node);
  void tvBookmarksChange(QTreeWidgetItem* node);
  void aAddBookmarkExecute();
  void aRenameBookmarkExecute();
  void aDeleteBookmarkExecute();
  void aAddFolderExecute();
  void aRenameFolderExecute();
  void aDeleteFolderExecute();
  void aSortOneLevelExecute();
  void aSortRecursiveExecute();
  void aExportOneLevelExecute();
  void aExportRecursiveExecute();
  // Drag and drop: only a bookmark can be dragged; a drop is taken anywhere
  // but on the dragged node itself. The dragged node goes to the end of a
  // folder dropped on, before a bookmark dropped on, or to the end of the top
  // level for a drop on empty space (`target` null).
  bool BeginDrag(QTreeWidgetItem* node);
  bool AcceptsDrop(const QTreeWidgetItem* target) const;
  bool DropNode(QTreeWidgetItem* target);

  TBookmarkTree* tvBookmarks = nullptr;
  QStatusBar* sbStatus = nullptr;
  QPushButton* bnOK = nullptr;
  QPushButton* bnCancel = nullptr;
  QMenu* pmBookmarks = nullptr;
  QAction *aAddBookmark, *aRenameBookmark, *aDeleteBookmark, *aAddFolder, *aRenameFolder, *aDeleteFolder,
      *aSortOneLevel, *aSortRecursive, *aExportOneLevel, *aExportRecursive;

private:
  QAction* makeAction(const char* name, const QString& caption, void (TformBookmarks::*handler)());
  void createLayout();
  QWidget* promptParent();
  TBookmarkMenuItem* newMenuBookmark(QMenu* menu, QAction* before, const QString& caption, const QString& keyPath);
  QMenu* newMenuFolder(QMenu* menu, QAction* before, const QString& caption);
  void insertEntries(QMenu* menu, const std::vector<BookmarkEntry>& entries);
  void addMenuToTree(const QMenu* menu, QTreeWidgetItem* parent);
  void addTreeToMenu(QTreeWidgetItem* parent, QMenu* menu, QAction* before);
  QTreeWidgetItem* newNode(QTreeWidgetItem* parent, bool folder, const QString& caption, const QString& keyPath,
                           int position = -1);
  void sortLevel(QTreeWidgetItem* folder, bool recursive);
  void exportBookmarks(bool recursive);
};

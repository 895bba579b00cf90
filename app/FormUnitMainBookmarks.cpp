// The main window's bookmarks: the "Bookmarks" menu's file, adding the
// selected key (Ctrl+B), the manager, and the jump of a chosen bookmark.

#include <QMenu>

#include <filesystem>

#include "app/FormUnitBookmarks.h"
#include "app/FormUnitMain.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/bwlRegTools.h"
#include "platform/ErrorText.h"
#include "platform/ProgramFiles.h"

namespace fs = std::filesystem;

TformBookmarks* TformMain::formBookmarks() {
  if (!bookmarks_) {
    bookmarks_ = new TformBookmarks(this);
    bookmarks_->OnBookmarkClick = [this](TBookmarkMenuItem* item) { JumpToBookmark(item); };
    bookmarks_->OnExportBookmarks = [this](const QStringList& captions, const QStringList& keyPaths) {
      ExportBookmarkKeys(captions, keyPaths);
    };
  }
  return bookmarks_;
}

void TformMain::LoadBookmarks() {
  // The user's copy, which every change writes, when there is one; else the
  // file shipped beside the program or in its installed data folder.
  const fs::path file = platform::findProgramFile(platform::kBookmarksFile);
  if (!file.empty()) formBookmarks()->LoadFromFile(file, miBookmarks);
}

bool TformMain::SaveBookmarks() {
  const fs::path file = platform::programFileWritePlace(platform::kBookmarksFile);
  int rc = platform::createPrivateFolders(file.parent_path());
  if (rc == 0) rc = formBookmarks()->SaveToFile(file, miBookmarks);
  if (rc == 0) return true;
  // The menu keeps what the user did; only the file is behind.
  messageBoxes().messageDlg(this,
                            QStringLiteral("Cannot create file \"%1\". %2")
                                .arg(QString::fromStdString(file.string()),
                                     QString::fromStdString(platform::systemErrorText(platform::errnoToWin32Error(rc)))),
                            jmError, buttonBit(cbOK));
  return false;
}

void TformMain::aKeyAddBookmarkExecute() {
  // A key of the local tree only: a .reg file view's or a remote computer's
  // node names no key a jump could reach.
  KeyNode* node = selectedNode();
  if (!node || node->level() == 0 || GetNodeKind(node) != nkLocal) return;
  const NodeLocation loc = GetNodeLocation(node);
  if (formBookmarks()->AddBookmark(miBookmarks, ansiToQString(RootKeyToLongName(loc.root)) + loc.keyPath))
    SaveBookmarks();
}

void TformMain::aBookmarksManageExecute() {
  if (formBookmarks()->Manage(miBookmarks)) SaveBookmarks();
}

void TformMain::JumpToBookmark(QAction* item) {
  if (auto* bookmark = qobject_cast<TBookmarkMenuItem*>(item)) JumpToPath(bookmark->KeyPath);
}

// The main window's bookmarks: the "Bookmarks" menu's file, adding the
// selected key (Ctrl+B), the manager, and the jump of a chosen bookmark.

#include <QCoreApplication>
#include <QMenu>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/FormUnitBookmarks.h"
#include "app/FormUnitMain.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/bwlRegTools.h"
#include "platform/ErrorText.h"

namespace fs = std::filesystem;

namespace {

const char* const kBookmarksFile = "Bookmarks.txt";

// The user's own copy, which every change writes: $XDG_DATA_HOME/hivescope.
fs::path bookmarksWritePlace() {
  fs::path data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && fs::path(xdg).is_absolute())
    data = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    data = fs::path(home) / ".local" / "share";
  else
    data = "/";
  return data / "hivescope" / kBookmarksFile;
}

// The user's copy when there is one, else the file shipped beside the program
// or in its installed data folder. Reading only the program's folder would
// lose every change at the next start.
fs::path bookmarksReadPlace() {
  const fs::path program = QCoreApplication::applicationDirPath().toStdString();
  for (const fs::path& place : {bookmarksWritePlace(), program / kBookmarksFile,
                                program.parent_path() / "share" / "hivescope" / kBookmarksFile}) {
    std::error_code ec;
    if (fs::is_regular_file(place, ec)) return place;
  }
  return {};
}

}  // namespace

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
  const fs::path file = bookmarksReadPlace();
  if (!file.empty()) formBookmarks()->LoadFromFile(file, miBookmarks);
}

bool TformMain::SaveBookmarks() {
  const fs::path file = bookmarksWritePlace();
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  int rc = ec ? ec.value() : formBookmarks()->SaveToFile(file, miBookmarks);
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

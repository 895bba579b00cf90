#include "app/FileTreeStandIn.h"

#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>

FileTreeStandIn::FileTreeStandIn(QWidget* parent) : QTreeView(parent) {
  setObjectName(QStringLiteral("vstFile"));
  files_ = new QFileSystemModel(this);
  files_->setFilter(QDir::AllDirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  // Windows' shortcut files are ordinary files here.
  files_->setResolveSymlinks(false);
  files_->setReadOnly(true);
  files_->setRootPath(QStringLiteral("/"));
  setModel(files_);
  setRootIndex(files_->index(QStringLiteral("/")).parent());
  // Only the names show; the sort is by type (folders first, as the model
  // puts them).
  for (int column = 1; column < files_->columnCount(); ++column) setColumnHidden(column, true);
  setHeaderHidden(true);
  // Sorted by type, each folder as it is read.
  setSortingEnabled(true);
  sortByColumn(2, Qt::AscendingOrder);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setContextMenuPolicy(Qt::NoContextMenu);
  setUniformRowHeights(true);
  connect(this, &QTreeView::clicked, this, [this] {
    if (OnClick) OnClick();
  });
}

int FileTreeStandIn::SelectedCount() const {
  return selectionModel() ? static_cast<int>(selectionModel()->selectedRows().size()) : 0;
}

std::u16string FileTreeStandIn::GetSelectedPath() const noexcept {
  try {
    if (!selectionModel()) return {};
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty()) return {};
    const QString path = files_->filePath(rows.first());
    if (path.isEmpty()) return {};
    return path.toStdU16String();
  } catch (...) {
    return {};
  }
}

bool FileTreeStandIn::SelectPath(const QString& path) {
  const QModelIndex index = files_->index(QFileInfo(path).absoluteFilePath());
  if (!index.isValid()) return false;
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) expand(up);
  scrollTo(index);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  return true;
}

void FileTreeStandIn::keyReleaseEvent(QKeyEvent* event) {
  QTreeView::keyReleaseEvent(event);
  if (OnKeyUp) OnKeyUp();
}

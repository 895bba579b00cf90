#pragma once

// The explorer tree of the hive-file dialog, made of a QTreeView over the
// file system: "/" at the top (mounted disks are folders below it), folders,
// files and hidden items, folders first and then by file type, no context
// menu.

#include <QTreeView>

#include "shell/ShellExplorerTree.h"

class QFileSystemModel;

class FileTreeStandIn final : public QTreeView, public ShellExplorerTree {
  Q_OBJECT
public:
  explicit FileTreeStandIn(QWidget* parent = nullptr);

  QWidget* widget() override { return this; }
  int SelectedCount() const override;
  std::u16string GetSelectedPath() const noexcept override;
  bool SelectPath(const QString& path) override;

protected:
  void keyReleaseEvent(QKeyEvent* event) override;

private:
  QFileSystemModel* files_ = nullptr;
};

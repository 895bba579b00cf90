#pragma once

// What a dialog asks of an explorer tree in which the user picks a file:
// how many nodes are selected and the file-system path of the first one.
// The tree is a widget of its own; the dialog places it and hears of clicks
// and released keys, after which it looks at the selection again.

#include <QWidget>

#include <functional>
#include <string>

class ShellExplorerTree {
public:
  virtual ~ShellExplorerTree() = default;
  // The tree's widget, owned by the tree's parent.
  virtual QWidget* widget() = 0;
  // The number of selected nodes.
  virtual int SelectedCount() const = 0;
  // The path of the first selected node when it is a file-system item (a
  // folder or a file), else "" (no selection, or a node that is no file-system
  // item). Never throws.
  virtual std::u16string GetSelectedPath() const noexcept = 0;
  // Selects the node of a path, opening the folders above it; false when the
  // tree has no node for it. What a user's clicks do, for tests and for a
  // caller that preselects a file.
  virtual bool SelectPath(const QString& path) = 0;

  std::function<void()> OnClick;
  std::function<void()> OnKeyUp;
};

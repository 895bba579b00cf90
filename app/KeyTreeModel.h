#pragma once

// The key tree's nodes live here, behind one model; the tree view only shows
// them. A node knows whether it has children before they are read; they are
// read when it is first expanded (fetchMore hands that to the main window).

#include <QAbstractItemModel>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// The data of a key node: the key's raw name, which may hold NUL characters.
// Owned by the node. A .reg file view's nodes derive from it to add values.
struct TKeyNodeData {
  virtual ~TKeyNodeData() = default;
  QString Name;
};

struct KeyNode {
  QString text;
  std::unique_ptr<TKeyNodeData> data;
  int imageIndex = -1;
  int selectedIndex = -1;
  bool hasChildren = false;
  KeyNode* parent = nullptr;
  std::vector<std::unique_ptr<KeyNode>> children;

  // 0 for a top node ("My Computer", a .reg file, a remote computer).
  int level() const;
  int row() const;
  int count() const { return static_cast<int>(children.size()); }
  KeyNode* child(int i) const { return children[static_cast<std::size_t>(i)].get(); }
  // The raw name from the data, else the shown text.
  QString name() const { return data ? data->Name : text; }
};

class KeyTreeModel : public QAbstractItemModel {
  Q_OBJECT
public:
  enum Roles { ImageIndexRole = Qt::UserRole + 1, SelectedIndexRole };

  explicit KeyTreeModel(QObject* parent = nullptr);
  ~KeyTreeModel() override;

  // The invisible root; its children are the top nodes.
  KeyNode* root() const { return root_.get(); }
  KeyNode* nodeOf(const QModelIndex& index) const;
  QModelIndex indexOf(const KeyNode* node) const;

  KeyNode* insertChild(KeyNode* parent, int position, const QString& text, std::unique_ptr<TKeyNodeData> data,
                       int image, int selectedImage);
  KeyNode* addChild(KeyNode* parent, const QString& text, std::unique_ptr<TKeyNodeData> data, int image,
                    int selectedImage) {
    return insertChild(parent, parent->count(), text, std::move(data), image, selectedImage);
  }
  // Appends a node built outside the model, with its sub-tree, in one step.
  KeyNode* adoptChild(KeyNode* parent, std::unique_ptr<KeyNode> node);
  void deleteChildren(KeyNode* node);
  // Takes the node with its sub-tree out of its parent.
  void removeNode(KeyNode* node);
  // Shows the node's changed text.
  void nodeChanged(KeyNode* node);
  void clear();
  void setHasChildren(KeyNode* node, bool value);
  void setImages(KeyNode* node, int image, int selectedImage);

  // Called when a node that has children but none read yet is expanded.
  std::function<void(KeyNode*)> onExpanding;
  // The icon of an image index of the image list.
  std::function<QIcon(int image, int selectedImage)> iconProvider;
  // A note on a node that stands out (a hive that takes no changes): the
  // node shows in italics and dark red, with the note as its tool tip. Empty
  // for a plain node.
  std::function<QString(const KeyNode*)> noteOf;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

private:
  std::unique_ptr<KeyNode> root_;
};

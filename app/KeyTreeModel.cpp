#include "app/KeyTreeModel.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QIcon>

int KeyNode::level() const {
  int level = -1;
  for (const KeyNode* n = parent; n; n = n->parent) ++level;
  return level;
}

int KeyNode::row() const {
  if (!parent) return 0;
  for (int i = 0; i < parent->count(); ++i)
    if (parent->child(i) == this) return i;
  return 0;
}

KeyTreeModel::KeyTreeModel(QObject* parent) : QAbstractItemModel(parent), root_(std::make_unique<KeyNode>()) {}

KeyTreeModel::~KeyTreeModel() = default;

KeyNode* KeyTreeModel::nodeOf(const QModelIndex& index) const {
  if (!index.isValid()) return nullptr;
  return static_cast<KeyNode*>(index.internalPointer());
}

QModelIndex KeyTreeModel::indexOf(const KeyNode* node) const {
  if (!node || node == root_.get()) return {};
  return createIndex(node->row(), 0, const_cast<KeyNode*>(node));
}

KeyNode* KeyTreeModel::insertChild(KeyNode* parent, int position, const QString& text,
                                   std::unique_ptr<TKeyNodeData> data, int image, int selectedImage) {
  if (!parent) parent = root_.get();
  position = std::clamp(position, 0, parent->count());
  auto node = std::make_unique<KeyNode>();
  node->text = text;
  node->data = std::move(data);
  node->imageIndex = image;
  node->selectedIndex = selectedImage;
  node->parent = parent;
  KeyNode* raw = node.get();
  const bool wasLeaf = parent->children.empty() && !parent->hasChildren;
  beginInsertRows(indexOf(parent), position, position);
  parent->children.insert(parent->children.begin() + position, std::move(node));
  endInsertRows();
  if (wasLeaf && parent != root_.get()) {
    // The view caches whether a row can expand; make it look again.
    emit layoutAboutToBeChanged();
    emit layoutChanged();
  }
  return raw;
}

KeyNode* KeyTreeModel::adoptChild(KeyNode* parent, std::unique_ptr<KeyNode> node) {
  if (!parent) parent = root_.get();
  node->parent = parent;
  KeyNode* raw = node.get();
  const int position = parent->count();
  beginInsertRows(indexOf(parent), position, position);
  parent->children.push_back(std::move(node));
  endInsertRows();
  return raw;
}

void KeyTreeModel::deleteChildren(KeyNode* node) {
  if (!node || node->children.empty()) return;
  beginRemoveRows(indexOf(node), 0, node->count() - 1);
  node->children.clear();
  endRemoveRows();
}

void KeyTreeModel::removeNode(KeyNode* node) {
  if (!node || !node->parent) return;
  KeyNode* parent = node->parent;
  const int row = node->row();
  beginRemoveRows(indexOf(parent), row, row);
  parent->children.erase(parent->children.begin() + row);
  endRemoveRows();
}

void KeyTreeModel::nodeChanged(KeyNode* node) {
  const QModelIndex index = indexOf(node);
  if (index.isValid()) emit dataChanged(index, index);
}

void KeyTreeModel::clear() {
  beginResetModel();
  root_->children.clear();
  endResetModel();
}

void KeyTreeModel::setHasChildren(KeyNode* node, bool value) {
  if (!node || node->hasChildren == value) return;
  node->hasChildren = value;
  if (node->children.empty()) {
    emit layoutAboutToBeChanged();
    emit layoutChanged();
  }
}

void KeyTreeModel::setImages(KeyNode* node, int image, int selectedImage) {
  if (!node) return;
  node->imageIndex = image;
  node->selectedIndex = selectedImage;
  const QModelIndex i = indexOf(node);
  emit dataChanged(i, i, {Qt::DecorationRole, ImageIndexRole, SelectedIndexRole});
}

QModelIndex KeyTreeModel::index(int row, int column, const QModelIndex& parent) const {
  const KeyNode* p = parent.isValid() ? nodeOf(parent) : root_.get();
  if (!p || column != 0 || row < 0 || row >= p->count()) return {};
  return createIndex(row, 0, p->child(row));
}

QModelIndex KeyTreeModel::parent(const QModelIndex& child) const {
  const KeyNode* n = nodeOf(child);
  if (!n || !n->parent || n->parent == root_.get()) return {};
  return indexOf(n->parent);
}

int KeyTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const KeyNode* p = parent.isValid() ? nodeOf(parent) : root_.get();
  return p ? p->count() : 0;
}

int KeyTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool KeyTreeModel::hasChildren(const QModelIndex& parent) const {
  const KeyNode* p = parent.isValid() ? nodeOf(parent) : root_.get();
  return p && (!p->children.empty() || p->hasChildren);
}

QVariant KeyTreeModel::data(const QModelIndex& index, int role) const {
  const KeyNode* n = nodeOf(index);
  if (!n) return {};
  switch (role) {
    case Qt::DisplayRole:
      return n->text;
    case Qt::DecorationRole:
      return iconProvider ? QVariant(iconProvider(n->imageIndex, n->selectedIndex)) : QVariant();
    case ImageIndexRole:
      return n->imageIndex;
    case SelectedIndexRole:
      return n->selectedIndex;
    case Qt::ToolTipRole:
    case Qt::FontRole:
    case Qt::ForegroundRole: {
      const QString note = noteOf ? noteOf(n) : QString();
      if (note.isEmpty()) return {};
      if (role == Qt::ToolTipRole) return note;
      if (role == Qt::ForegroundRole) return QBrush(QColor(0x80, 0, 0));
      QFont font;
      font.setItalic(true);
      return font;
    }
    default:
      return {};
  }
}

bool KeyTreeModel::canFetchMore(const QModelIndex& parent) const {
  const KeyNode* n = nodeOf(parent);
  return n && n->hasChildren && n->children.empty();
}

void KeyTreeModel::fetchMore(const QModelIndex& parent) {
  KeyNode* n = nodeOf(parent);
  if (n && onExpanding) onExpanding(n);
}

#include "app/ValueListModel.h"

#include <QColor>

#include "app/DataImages.h"

int ValueImageIndex(TRegDataType kind) {
  switch (kind) {
    case rdString:
    case rdExpandString:
    case rdMultiString:
      return 3;
    case rdUnknown:
    case rdCardinal:
      return -1;
    default:
      return 4;
  }
}

QColor WindowsColorToQColor(std::uint32_t color) {
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}

ValueListModel::ValueListModel(QObject* parent)
    : QAbstractTableModel(parent), stringIcon_(dataImage(3)), numberIcon_(dataImage(4)) {}

void ValueListModel::setRows(std::vector<TRegistryValueListItem> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

int ValueListModel::addRow(TRegistryValueListItem row) {
  const int at = count();
  beginInsertRows({}, at, at);
  rows_.push_back(std::move(row));
  endInsertRows();
  return at;
}

void ValueListModel::rowChanged(int row) {
  if (row < 0 || row >= count()) return;
  emit dataChanged(index(row, 0), index(row, colCount - 1));
}

void ValueListModel::removeRow(int row) {
  if (row < 0 || row >= count()) return;
  beginRemoveRows({}, row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

int ValueListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count(); }

int ValueListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : colCount; }

QVariant ValueListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count()) return {};
  const TRegistryValueListItem& r = rows_[static_cast<std::size_t>(index.row())];
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
      return column == colName ? r.Caption : r.SubItems[static_cast<std::size_t>(column - 1)];
    case Qt::DecorationRole:
      if (column != colName) return {};
      if (r.ImageIndex == 3) return stringIcon_;
      if (r.ImageIndex == 4) return numberIcon_;
      if (r.ImageIndex >= 0) return dataImage(r.ImageIndex);
      return {};
    case Qt::BackgroundRole:
      // Rows without a mark keep the window colour the view paints anyway.
      if (r.MarkColor > 0) return WindowsColorToQColor(r.MarkColor);
      return {};
    case KindRole:
      return column == colName ? QVariant(static_cast<int>(r.DataInfo.RegData)) : QVariant();
    default:
      return {};
  }
}

QVariant ValueListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= colCount) return {};
  return captions_[section];
}

bool ValueListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role) {
  if (orientation != Qt::Horizontal || (role != Qt::EditRole && role != Qt::DisplayRole) || section < 0 ||
      section >= colCount)
    return false;
  captions_[section] = value.toString();
  emit headerDataChanged(orientation, section, section);
  return true;
}

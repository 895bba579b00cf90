#include "app/HistoryListModel.h"

#include <unordered_map>

#include "app/QtText.h"
#include "core/bwlRegistryHistorySQLite.h"

namespace {

// One row as FillListItem fills it: the caption first, then the sub-items.
class RowTexts final : public HistoryListItem {
public:
  RowTexts(int index, std::vector<std::string>& texts) : index_(index), texts_(texts) {
    texts_.assign(1, std::string());
  }
  int Index() const override { return index_; }
  void SetCaption(const std::string& text) override { texts_[0] = text; }
  int SubItemCount() const override { return static_cast<int>(texts_.size()) - 1; }
  void AddSubItem(const std::string& text) override { texts_.push_back(text); }
  void SetSubItem(int index, const std::string& text) override {
    if (index >= 0 && index < SubItemCount()) texts_[static_cast<std::size_t>(index) + 1] = text;
  }

private:
  int index_;
  std::vector<std::string>& texts_;
};

// Timestamp, the two types and the action stand centred.
Qt::Alignment columnAlignment(int column) {
  switch (column) {
    case HistoryListModel::colTimestamp:
    case HistoryListModel::colType:
    case HistoryListModel::colAction:
    case HistoryListModel::colDataType: return Qt::AlignCenter;
    default: return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

}  // namespace

void HistoryListModel::setHistory(TRegistryChangeHistory* history) {
  beginResetModel();
  history_ = history;
  rows_ = 0;
  cachedRow_ = -1;
  endResetModel();
}

void HistoryListModel::setRows(int count) {
  beginResetModel();
  rows_ = history_ ? std::max(0, count) : 0;
  cachedRow_ = -1;
  endResetModel();
}

TRegistryChange* HistoryListModel::change(int row) const {
  if (!history_ || row < 0 || row >= rows_ || row >= history_->Count()) return nullptr;
  return &history_->GetItem(row);
}

void HistoryListModel::sortByColumn(int column) {
  if (!history_ || column < 0 || column >= colCount) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<const TRegistryChange*> held;
  held.reserve(static_cast<std::size_t>(before.size()));
  for (const QModelIndex& index : before) held.push_back(change(index.row()));

  switch (column) {
    case colId: history_->SortByIndex(); break;
    case colTimestamp: history_->SortByTime(); break;
    case colType: history_->SortByType(); break;
    case colAction: history_->SortByAction(); break;
    case colRoot: history_->SortByRootKey(); break;
    case colKeyPath: history_->SortByKeyPath(); break;
    case colValue: history_->SortByValue(); break;
    case colDataType: history_->SortByDataType(); break;
    default: break;
  }
  cachedRow_ = -1;

  std::unordered_map<const TRegistryChange*, int> rowOf;
  for (int row = 0; row < rows_ && row < history_->Count(); ++row) rowOf[&history_->GetItem(row)] = row;
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i) {
    const auto found = held[static_cast<std::size_t>(i)] ? rowOf.find(held[static_cast<std::size_t>(i)]) : rowOf.end();
    // A change the sort moved out of the listed rows leaves the selection.
    after << (found == rowOf.end() ? QModelIndex() : index(found->second, before[i].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int HistoryListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int HistoryListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : colCount; }

const std::vector<std::string>& HistoryListModel::rowTexts(int row) const {
  if (row != cachedRow_) {
    RowTexts item(row, cachedTexts_);
    if (history_) history_->FillListItem(item);
    cachedRow_ = row;
  }
  return cachedTexts_;
}

QVariant HistoryListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_ || index.column() >= colCount) return {};
  if (role == Qt::DisplayRole) {
    const std::vector<std::string>& texts = rowTexts(index.row());
    const auto column = static_cast<std::size_t>(index.column());
    return column < texts.size() ? ansiToQString(texts[column]) : QString();
  }
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(columnAlignment(index.column()));
  return {};
}

QVariant HistoryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= colCount) return {};
  if (role == Qt::DisplayRole) {
    static const char* const kCaptions[colCount] = {"ID",    "Timestamp", "Type",     "Action",   "Root",
                                                    "Key Path", "Value", "Type", "New name", "Hive file"};
    return QString::fromLatin1(kCaptions[section]);
  }
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(columnAlignment(section));
  return {};
}

#pragma once

// The rows of the history window's list, produced on demand: a row is asked
// of the change history (TRegistryChangeHistory::FillListItem) when the view
// shows it, so a history of many thousand changes costs no item per row.
// Row n is item n of the history's collection; the row count is what the
// window sets at its reload, so changes added to the collection afterwards
// show from the next reload on.

#include <QAbstractTableModel>

#include <string>
#include <vector>

class TRegistryChange;
class TRegistryChangeHistory;

class HistoryListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  // colNewName: the new name of a rename; colHiveFile: the file of the hive
  // the key lies in (the key path names only its mount point).
  enum Column {
    colId = 0, colTimestamp, colType, colAction, colRoot, colKeyPath, colValue, colDataType, colNewName, colHiveFile,
    colCount
  };

  explicit HistoryListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // The history the rows come from (not owned); none shows no row.
  void setHistory(TRegistryChangeHistory* history);
  TRegistryChangeHistory* history() const { return history_; }
  // The number of rows; resets the view.
  void setRows(int count);
  // The change of a row; none outside the rows or the collection.
  TRegistryChange* change(int row) const;
  // Reorders the collection by a column, as a click on its header does; a
  // selection stays with its changes.
  void sortByColumn(int column);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
  // The texts of one row: the caption and the sub-items.
  const std::vector<std::string>& rowTexts(int row) const;

  TRegistryChangeHistory* history_ = nullptr;
  int rows_ = 0;
  // The row asked last: the view asks every column of a row in turn.
  mutable int cachedRow_ = -1;
  mutable std::vector<std::string> cachedTexts_;
};

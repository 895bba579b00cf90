#pragma once

// The rows of the value list `lvData` live here, in one vector behind one
// model; the list view only shows them. A key can hold 100,000 values, so a
// refill replaces the whole vector in one reset instead of inserting rows one
// by one.

#include <QAbstractTableModel>
#include <QChar>
#include <QIcon>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

#include "core/bwlRegistry.h"

// One row of the value list.
struct TRegistryValueListItem {
  // What the row shows: the caption (column "Name") and the sub-items
  // "Type", "Value", "Size" and "Registry Value".
  QString Caption;
  std::array<QString, 4> SubItems;
  int ImageIndex = -1;
  // 1 for the default value's row and the placeholder row, else -1.
  int StateIndex = -1;

  platform::HKEY RootKey = platform::HKEY_LOCAL_MACHINE;
  // The key path as handed to FillValueList (leading "\").
  QString KeyPath;
  // The raw value name, NULs included; empty for the default value.
  QString ValueName;
  TMyRegDataInfo DataInfo;
  QString ValueText;
  // Background of a difference mark as a Windows colour (0x00BBGGRR); 0 when none.
  std::uint32_t MarkColor = 0;
  // "U", "N", "T" or "C" for a .reg file value; null for registry values.
  QChar DiffMark;
};

// The image of a value kind in the window's image list: 3 for the string
// kinds, 4 for the byte and number kinds, -1 for rdUnknown and rdCardinal.
int ValueImageIndex(TRegDataType kind);

// A Windows colour (0x00BBGGRR) as a QColor.
QColor WindowsColorToQColor(std::uint32_t color);

class ValueListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum Column { colName = 0, colType, colValue, colSize, colRegistryValue, colCount };
  // Column 0 answers the row's TRegDataType under this role.
  static constexpr int KindRole = Qt::UserRole + 1;

  explicit ValueListModel(QObject* parent = nullptr);

  // Replaces every row at once.
  void setRows(std::vector<TRegistryValueListItem> rows);
  void clear() { setRows({}); }
  // Appends one row.
  int addRow(TRegistryValueListItem row);
  // Tells the view that `row` changed after item(row) was edited.
  void rowChanged(int row);
  void removeRow(int row);

  int count() const { return static_cast<int>(rows_.size()); }
  const TRegistryValueListItem& item(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
  TRegistryValueListItem& item(int row) { return rows_.at(static_cast<std::size_t>(row)); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // The column captions are the language's.
  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role = Qt::EditRole) override;

private:
  std::vector<TRegistryValueListItem> rows_;
  QString captions_[colCount] = {QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Value"),
                                 QStringLiteral("Size"), QStringLiteral("Registry Value")};
  // Built once: the same two icons stand on most of 100,000 rows.
  QIcon stringIcon_, numberIcon_;
};

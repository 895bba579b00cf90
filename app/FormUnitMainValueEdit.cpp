// The main window's value editing: "Change data" opens the editor that fits
// each selected value's kind and writes what it returns, logs the change in
// both panes and records it in the history; "Change type" rewrites a value
// under another kind through a temporary name.
//
// A value whose name or key path holds a NUL is read and written through the
// native interface by its exact name: the 8-bit calls would cut the name at
// the NUL and reach another value. Such changes go unlogged, as their
// deletion does.

#include <QItemSelectionModel>
#include <QScopeGuard>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <exception>
#include <random>

#include "app/FormUnitMain.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "app/ValueEditors.h"
#include "core/bwlRegNative.h"
#include "core/bwlRegTools.h"
#include "core/bwlRegistryHistorySQLite.h"

namespace {

bool holdsNul(const QString& text) { return text.contains(QChar(u'\0')); }

QString keyText(platform::HKEY root, const QString& keyPath) {
  return QString::fromStdString(RootKeyToLongName(root)) + keyPath;
}

QString cannotOpenText(platform::HKEY root, const QString& keyPath) {
  return QStringLiteral("The key %1 cannot be opened for writing.").arg(ShownKeyName(keyText(root, keyPath)));
}

QString failedToSetText(const QString& name) {
  return QStringLiteral("Failed to set data for '%1'").arg(ShownKeyName(name));
}

void appendUtf16(std::vector<std::uint8_t>& bytes, const QString& text) {
  for (const QChar c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c.unicode() & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c.unicode() >> 8));
  }
}

// The stored type and bytes of a value written from `text` under
// `targetKind`, read as `sourceKind` (the native twin of
// TMyRegistry::WriteValueFromText). False for a kind it does not write.
bool storedFromText(const QString& text, TRegDataType targetKind, TRegDataType sourceKind, std::uint32_t& type,
                    std::vector<std::uint8_t>& bytes) {
  std::int64_t number = 0;
  const std::string ansi = qStringToAnsi(text);
  switch (sourceKind) {
    case rdInteger: case rdLittleEndianInteger: case rdBigEndianInteger: case rdCardinal:
      number = DisplayTextToDWord(ansi);
      break;
    case rdInt64: case rdLittleEndianInt64:
      number = DisplayTextToQWord(ansi);
      break;
    default:
      break;
  }
  bytes.clear();
  type = RegDataTypeToRegType(targetKind);
  auto little = [&](int width) {
    for (int i = 0; i < width; ++i)
      bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(number) >> (8 * i)));
  };
  switch (targetKind) {
    case rdString:
    case rdExpandString: {
      // Up to the first NUL, then one NUL, as the string writers store it.
      const qsizetype end = text.indexOf(QChar(u'\0'));
      appendUtf16(bytes, (end < 0 ? text : text.left(end)) + QChar(u'\0'));
      return true;
    }
    case rdMultiString: {
      // Every CR LF ends one string; one NUL closes the list.
      QString list = text;
      list.replace(QStringLiteral("\r\n"), QString(QChar(u'\0')));
      appendUtf16(bytes, list + QChar(u'\0'));
      return true;
    }
    case rdInteger: case rdLittleEndianInteger: case rdCardinal:
      little(4);
      return true;
    case rdBigEndianInteger:
      little(4);
      std::reverse(bytes.begin(), bytes.end());
      return true;
    case rdInt64: case rdLittleEndianInt64:
      little(8);
      return true;
    default:
      return false;
  }
}

// The strings of stored multi-string data, each followed by CR LF but the
// last, as the 8-bit reader gives them.
QString multiStringText(const std::vector<std::uint8_t>& bytes) {
  QString text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += QChar(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  while (text.endsWith(QChar(u'\0'))) text.chop(1);
  return text.replace(QChar(u'\0'), QStringLiteral("\r\n"));
}

// The row shows the written data at once; a multi-string keeps the list's own
// text in ValueText until the list is refilled.
void showWritten(ValueListModel& model, int row, TRegDataType kind, const QString& text) {
  if (row < 0 || row >= model.count()) return;
  model.item(row).SubItems[1] = text;
  if (kind != rdMultiString) model.item(row).ValueText = text;
  model.rowChanged(row);
}

}  // namespace

// The kinds without an editor of their own whose bytes the binary editor
// changes. The stored type number stays as it was.
bool editedAsBytes(TRegDataType kind) {
  switch (kind) {
    case rdNone: case rdBinary: case rdLink: case rdResourceList: case rdFullResourceDescriptor:
      return true;
    default:
      return false;
  }
}

// The value's size in the row, after a write that may have changed it.
void showWrittenSize(ValueListModel& model, int row, std::size_t size) {
  if (row < 0 || row >= model.count()) return;
  TRegistryValueListItem& item = model.item(row);
  item.DataInfo.DataSize = static_cast<std::uint32_t>(size);
  if (item.SubItems.size() > 2) item.SubItems[2] = QString::number(size);
  model.rowChanged(row);
}

// ---- the actions -----------------------------------------------------------

QList<int> SelectedRowsInOrder(const QTreeView* view) {
  QList<int> rows;
  if (!view->selectionModel()) return rows;
  for (const QModelIndex& index : view->selectionModel()->selectedRows()) rows << index.row();
  std::sort(rows.begin(), rows.end());
  return rows;
}

void TformMain::aValueChangeExecute() {
  const QList<int> rows = SelectedRowsInOrder(lvData);
  if (rows.isEmpty()) return;
  SetValueEditorOpen(true);
  const auto done = qScopeGuard([this] { SetValueEditorOpen(false); });
  for (int row : rows) EditValue(row);
}

void TformMain::aValueChangeTypeExecute() {
  const QList<int> rows = SelectedRowsInOrder(lvData);
  if (rows.isEmpty()) return;
  SetValueEditorOpen(true);
  const auto done = qScopeGuard([this] { SetValueEditorOpen(false); });
  for (int row : rows) ChangeValueType(row);
}

// ---- EditValue -------------------------------------------------------------

void TformMain::EditValue(int row) {
  if (row < 0 || row >= valueModel_->count()) return;
  const TRegistryValueListItem item = valueModel_->item(row);
  const NodeLocation loc = GetSelectedLocation();
  try {
    if (holdsNul(loc.keyPath) || holdsNul(item.ValueName)) {
      EditNativeValue(row);
      return;
    }
    const TRegDataType kind = item.DataInfo.RegData;
    const std::string path = qStringToAnsi(loc.keyPath);
    const std::string name = qStringToAnsi(item.ValueName);
    TMyRegistry64 reg;
    reg.SetView(loc.view);
    reg.SetRootKey(loc.root);

    MemoryStream oldData;
    std::vector<std::string> previousLines;
    if (kind != rdResourceRequirementsList) {
      if (reg.OpenKeyReadOnly(path)) {
        reg.ReadBinaryStream(name, oldData);
        reg.CloseKey();
      }
      previousLines = ExportedValueLines(loc.root, loc.keyPath, item.ValueName, loc.view);
    }
    auto openForWriting = [&] {
      if (reg.OpenKey(path, false)) return true;
      showError(cannotOpenText(loc.root, loc.keyPath));
      return false;
    };

    QString newText;  // sub-item 1 after the write
    // The string kinds are written from the editor's text under their own kind.
    auto writeText = [&](const QString& text) {
      if (!openForWriting()) return false;
      reg.WriteValueFromText(name, qStringToAnsi(text), kind, kind);
      newText = text;
      return true;
    };
    switch (kind) {
      case rdString:
      case rdExpandString: {
        QString text = item.SubItems[1];
        if (valueEditors().editString(item.ValueName, text) != mrOk || !writeText(text)) return;
        break;
      }
      case rdInteger:
      case rdLittleEndianInteger:
      case rdBigEndianInteger: {
        // Without a writable key the editor is not shown.
        if (!openForWriting()) return;
        std::int32_t number = kind == rdInteger                 ? reg.ReadInteger(name)
                              : kind == rdLittleEndianInteger ? reg.ReadLittleEndianInteger(name)
                                                              : reg.ReadBigEndianInteger(name);
        auto value = static_cast<std::uint32_t>(number);
        if (valueEditors().editInteger32(item.ValueName, value) != mrOk) return;
        number = static_cast<std::int32_t>(value);
        if (kind == rdInteger)
          reg.WriteInteger(name, number);
        else if (kind == rdLittleEndianInteger)
          reg.WriteLittleEndianInteger(name, number);
        else
          reg.WriteBigEndianInteger(name, number);
        newText = QString::fromStdString(DWordToDisplayText(value));
        break;
      }
      case rdMultiString: {
        QString text;
        if (reg.OpenKeyReadOnly(path)) {
          text = ansiToQString(reg.ReadMultiString(name));
          reg.CloseKey();
        }
        if (valueEditors().editMultiString(item.Caption, text) != mrOk || !writeText(text)) return;
        break;
      }
      case rdInt64:
      case rdLittleEndianInt64: {
        if (!openForWriting()) return;
        std::int64_t number = kind == rdInt64 ? reg.ReadInt64(name) : reg.ReadLittleEndianInt64(name);
        if (valueEditors().editInteger64(item.Caption, number) != mrOk) return;
        if (kind == rdInt64)
          reg.WriteInt64(name, number);
        else
          reg.WriteLittleEndianInt64(name, number);
        newText = QString::fromStdString(QWordToDisplayText(number));
        break;
      }
      case rdResourceRequirementsList:
        valueEditors().showResourceRequirementsList(FValueData);
        return;
      default: {
        if (!editedAsBytes(kind)) return;
        // The bytes and the type number as stored: a write keeps the type,
        // REG_NONE and unusual numbers included.
        std::uint32_t type = 0;
        std::vector<std::uint8_t> bytes;
        const bool read = reg.OpenKeyReadOnly(path) && reg.readRawValue(name, type, bytes);
        reg.CloseKey();
        if (!read) {
          showError(QStringLiteral("Failed to get data for '%1'").arg(ShownKeyName(item.ValueName)));
          return;
        }
        if (valueEditors().editBinary(item.ValueName, bytes) != mrOk || !openForWriting()) return;
        reg.writeRawValue(name, type, bytes);
        newText = ansiToQString(RegDataToDisplayText(kind, bytes));
        showWrittenSize(*valueModel_, row, bytes.size());
        break;
      }
    }
    reg.CloseKey();
    showWritten(*valueModel_, row, kind, newText);
    // The dump below the list shows the bytes now stored.
    lvDataClick();

    LogValueChange(loc.root, loc.keyPath, item.ValueName, previousLines, loc.view);
    recordChange([&](TRegistryChangeHistory& h) {
      h.RecordValueChange(loc.root, path, name, kind, oldData.Memory, loc.view == rv64Bit);
    });
  } catch (const std::exception& e) {
    // A refused read or write ends this value only; nothing was logged or
    // recorded for it.
    showError(QString::fromLocal8Bit(e.what()));
  }
}

void TformMain::EditNativeValue(int row) {
  const TRegistryValueListItem item = valueModel_->item(row);
  const NodeLocation loc = GetSelectedLocation();
  TNtRegistry nt;
  nt.FRootKey = loc.root;
  const std::u16string name = item.ValueName.toStdU16String();
  if (!nt.OpenKey(loc.keyPath.toStdU16String())) {
    showError(cannotOpenText(loc.root, loc.keyPath));
    return;
  }
  TKeyValueFullInfoHead head;
  std::vector<std::uint8_t> stored;
  if (!nt.GetValueInfo(name, head) || !nt.ReadData(name, head.Type, head.DataLength, stored)) {
    showError(QStringLiteral("Failed to get data for '%1'").arg(ShownKeyName(item.ValueName)));
    return;
  }
  const TRegDataType kind = item.DataInfo.RegData;
  QString text;
  switch (kind) {
    case rdString:
    case rdExpandString:
      text = item.SubItems[1];
      if (valueEditors().editString(item.ValueName, text) != mrOk) return;
      break;
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger: {
      std::uint32_t value = kind == rdBigEndianInteger ? nt.ReadBigEndianDWord(name) : nt.ReadDWord(name);
      if (valueEditors().editInteger32(item.ValueName, value) != mrOk) return;
      text = QString::fromStdString(DWordToDisplayText(value));
      break;
    }
    case rdMultiString:
      text = multiStringText(stored);
      if (valueEditors().editMultiString(item.Caption, text) != mrOk) return;
      break;
    case rdInt64:
    case rdLittleEndianInt64: {
      auto value = static_cast<std::int64_t>(nt.ReadQWord(name));
      if (valueEditors().editInteger64(item.Caption, value) != mrOk) return;
      text = QString::fromStdString(QWordToDisplayText(value));
      break;
    }
    case rdResourceRequirementsList:
      valueEditors().showResourceRequirementsList(FValueData);
      return;
    default: {
      if (!editedAsBytes(kind)) return;
      std::vector<std::uint8_t> bytes = stored;
      if (valueEditors().editBinary(item.ValueName, bytes) != mrOk) return;
      if (!nt.WriteData(name, head.Type, bytes)) {
        showError(failedToSetText(item.ValueName));
        return;
      }
      showWritten(*valueModel_, row, kind, ansiToQString(RegDataToDisplayText(kind, bytes)));
      showWrittenSize(*valueModel_, row, bytes.size());
      lvDataClick();
      return;
    }
  }
  std::uint32_t type = 0;
  std::vector<std::uint8_t> bytes;
  // The number texts read back as the number they show.
  if (!storedFromText(text, kind, kind, type, bytes)) return;
  // The stored type number stays, whatever kind it reads as.
  if (!nt.WriteData(name, head.Type, bytes)) {
    showError(failedToSetText(item.ValueName));
    return;
  }
  showWritten(*valueModel_, row, kind, text);
  lvDataClick();
}

// ---- ChangeValueType ---------------------------------------------------------

namespace {

std::function<std::int32_t()> clockSeededNumbers() {
  auto engine = std::make_shared<std::mt19937>(
      static_cast<std::mt19937::result_type>(std::chrono::system_clock::now().time_since_epoch().count()));
  return [engine] { return std::uniform_int_distribution<std::int32_t>(0, 2147483646)(*engine); };
}

}  // namespace

void TformMain::ChangeValueType(int row) {
  if (row < 0 || row >= valueModel_->count()) return;
  const TRegistryValueListItem item = valueModel_->item(row);
  const NodeLocation loc = GetSelectedLocation();
  const TRegDataType kind = item.DataInfo.RegData;
  const QString text = item.SubItems[1];
  TRegDataType newKind = rdUnknown;
  if (!valueEditors().changeValueType(item.ValueName, text, kind, newKind) || newKind == rdUnknown) return;
  if (!FRandomNumber) FRandomNumber = clockSeededNumbers();
  try {
    if (holdsNul(loc.keyPath) || holdsNul(item.ValueName)) {
      ChangeNativeValueType(item, newKind);
      return;
    }
    const std::string name = qStringToAnsi(item.ValueName);
    TMyRegistry64 reg;
    reg.SetView(loc.view);
    reg.SetRootKey(loc.root);
    if (!reg.OpenKey(qStringToAnsi(loc.keyPath), false)) {
      showError(cannotOpenText(loc.root, loc.keyPath));
      return;
    }
    std::string temporary;
    do {
      temporary = name + "-temp-" + std::to_string(FRandomNumber());
    } while (reg.ValueExists(temporary));
    if (!reg.RenameValue(name, temporary)) {
      showError(failedToSetText(item.ValueName));
      return;
    }
    try {
      reg.WriteValueFromText(name, qStringToAnsi(text), newKind, kind);
    } catch (const std::exception&) {
      // Written or not, the value comes back under its own name as it was.
      reg.DeleteValue(name);
      reg.RenameValue(temporary, name);
      throw;
    }
    if (reg.ValueExists(name))
      reg.DeleteValue(temporary);
    else
      reg.RenameValue(temporary, name);
    // The row is not updated here: the monitor's report refills the list
    // once the editor flag is down again.
  } catch (const std::exception& e) {
    showError(QString::fromLocal8Bit(e.what()));
  }
}

void TformMain::ChangeNativeValueType(const TRegistryValueListItem& item, TRegDataType kind) {
  const NodeLocation loc = GetSelectedLocation();
  TNtRegistry nt;
  nt.FRootKey = loc.root;
  if (!nt.OpenKey(loc.keyPath.toStdU16String())) {
    showError(cannotOpenText(loc.root, loc.keyPath));
    return;
  }
  std::uint32_t type = 0;
  std::vector<std::uint8_t> bytes;
  if (!storedFromText(item.SubItems[1], kind, item.DataInfo.RegData, type, bytes)) return;
  const std::u16string name = item.ValueName.toStdU16String();
  TKeyValueFullInfoHead head;
  std::u16string temporary;
  do {
    temporary = name + u"-temp-" + QString::number(FRandomNumber()).toStdU16String();
  } while (nt.GetValueInfo(temporary, head));
  if (!nt.RenameValue(name, temporary)) {
    showError(failedToSetText(item.ValueName));
    return;
  }
  if (!nt.WriteData(name, type, bytes)) {
    nt.DeleteValue(name);
    nt.RenameValue(temporary, name);
    showError(failedToSetText(item.ValueName));
    return;
  }
  nt.DeleteValue(temporary);
}

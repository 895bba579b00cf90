// The main window's value commands: the new-value kinds, delete and rename
// values, select all, and the values' rule lines on the clipboard.
//
// As for keys, a change reaches the change logs and the history only once the
// registry has taken it. A value whose name or key path holds a NUL is deleted
// and renamed through the native interface by its exact name and goes
// unlogged, as its edits do: the exporter's 8-bit names would describe
// another value.

#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QScopeGuard>
#include <QTreeView>

#include <algorithm>
#include <exception>

#include "app/FormUnitMain.h"
#include "app/FormUnitQELValue.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "app/UnitMessages.h"
#include "core/bwlRegNative.h"
#include "core/bwlRegTools.h"
#include "core/bwlRegistryHistorySQLite.h"

namespace {

bool holdsNul(const QString& text) { return text.contains(QChar(u'\0')); }

QString keyText(platform::HKEY root, const QString& keyPath) {
  return ShownKeyName(QString::fromStdString(RootKeyToLongName(root)) + keyPath);
}

QString cannotOpenText(platform::HKEY root, const QString& keyPath) {
  return QStringLiteral("The key %1 cannot be opened for writing.").arg(keyText(root, keyPath));
}

bool isStringKind(TRegDataType kind) { return kind == rdString || kind == rdExpandString || kind == rdMultiString; }

bool isNumberKind(TRegDataType kind) {
  return kind == rdInteger || kind == rdLittleEndianInteger || kind == rdBigEndianInteger || kind == rdInt64 ||
         kind == rdLittleEndianInt64;
}

// The default name's message of a kind.
int defaultNameMessage(TRegDataType kind) {
  if (isStringKind(kind)) return 28;
  if (isNumberKind(kind)) return 29;
  switch (kind) {
    case rdBinary: case rdLink: case rdResourceList: case rdFullResourceDescriptor:
    case rdResourceRequirementsList: case rdNone:
      return 30;
    default:
      return 27;
  }
}

// The first write of a new value: empty text, zero or no bytes.
void writeFirst(TMyRegistry& reg, const std::string& name, TRegDataType kind) {
  switch (kind) {
    case rdString: reg.WriteTypedString(name, {}, rdString); break;
    case rdExpandString: reg.WriteExpandString(name, {}); break;
    case rdMultiString: reg.WriteMultiString(name, {}); break;
    case rdInteger: reg.WriteInteger(name, 0); break;
    case rdLittleEndianInteger: reg.WriteLittleEndianInteger(name, 0); break;
    case rdBigEndianInteger: reg.WriteBigEndianInteger(name, 0); break;
    case rdInt64: reg.WriteInt64(name, 0); break;
    case rdLittleEndianInt64: reg.WriteLittleEndianInt64(name, 0); break;
    case rdBinary: reg.WriteBinaryData(name, nullptr, 0); break;
    case rdLink: reg.WriteLink(name, nullptr, 0); break;
    case rdResourceList: reg.WriteResourceList(name, nullptr, 0); break;
    case rdFullResourceDescriptor: reg.WriteFullResourceDescriptor(name, nullptr, 0); break;
    case rdResourceRequirementsList: reg.WriteResourceRequirementsList(name, nullptr, 0); break;
    case rdNone: reg.WriteNone(name); break;
    default: break;
  }
}

}  // namespace

// ---- new values --------------------------------------------------------------

bool TformMain::ValueNameExists(const QString& name) const {
  for (int r = 0; r < valueModel_->count(); ++r)
    if (valueModel_->item(r).Caption.compare(name, Qt::CaseInsensitive) == 0) return true;
  return false;
}

QString TformMain::MakeUniqueValueName(const QString& name) const {
  for (int n = 1;; ++n) {
    const QString candidate = name + QString::number(n);
    if (!ValueNameExists(candidate)) return candidate;
  }
}

bool TformMain::AskNewValueName(TRegDataType kind, QString& name) {
  int title = 16;
  if (isStringKind(kind))
    title = 18;
  else if (kind == rdBinary || kind == rdLink)
    title = 22;
  else if (isNumberKind(kind))
    title = 20;
  do {
    if (!prompter().inputQuery(this, Msg(title), Msg(title + 1), name)) return false;
  } while (ValueNameExists(name));
  return true;
}

void TformMain::AddValue(TRegDataType kind) {
  KeyNode* node = selectedNode();
  if (!node || node->level() == 0 || GetNodeKind(node) != nkLocal) return;
  QString name = MakeUniqueValueName(Msg(defaultNameMessage(kind)) + QStringLiteral(" #"));
  if (!AskNewValueName(kind, name)) return;
  const NodeLocation loc = GetNodeLocation(node);
  if (holdsNul(loc.keyPath) || holdsNul(name)) {
    showError(QStringLiteral("No value can be created in the key %1: its name holds a NUL.")
                  .arg(keyText(loc.root, loc.keyPath)));
    return;
  }
  const std::string path = qStringToAnsi(loc.keyPath);
  const std::string rawName = qStringToAnsi(name);
  try {
    TMyRegistry64 reg;
    reg.SetView(loc.view);
    reg.SetRootKey(loc.root);
    if (!reg.OpenKey(path, false)) {
      showError(cannotOpenText(loc.root, loc.keyPath));
      return;
    }
    writeFirst(reg, rawName, kind);
    reg.CloseKey();
  } catch (const std::exception& e) {
    showError(QString::fromLocal8Bit(e.what()));
    return;
  }
  tvKeysClick();
  recordChange([&](TRegistryChangeHistory& h) { h.RecordValueCreate(loc.root, path, rawName, kind, loc.view == rv64Bit); });
  int row = -1;
  for (int r = 0; r < valueModel_->count() && row < 0; ++r)
    if (valueModel_->item(r).Caption == name) row = r;
  if (row < 0) return;
  lvData->setFocus();
  lvData->selectionModel()->setCurrentIndex(valueModel_->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  SetValueEditorOpen(true);
  const auto done = qScopeGuard([this] { SetValueEditorOpen(false); });
  EditValue(row);
}

namespace {

// Message 1 before a kind the program writes but edits only as bytes.
bool confirmComplicatedKind(TformMain& form) {
  return messageBoxes().messageDlg(&form, form.Msg(1), jmConfirmation, buttonBit(cbYes) | buttonBit(cbNo)) == mrYes;
}

}  // namespace

void TformMain::aValueAddStringExecute() { AddValue(rdString); }
void TformMain::aValueAddExpandStringExecute() { AddValue(rdExpandString); }
void TformMain::aValueAddMultiStringExecute() { AddValue(rdMultiString); }
void TformMain::aValueAddIntegerExecute() { AddValue(rdInteger); }
void TformMain::aValueAddLEIntegerExecute() { AddValue(rdLittleEndianInteger); }
void TformMain::aValueAddBEIntegerExecute() { AddValue(rdBigEndianInteger); }
void TformMain::aValueAddInt64Execute() { AddValue(rdInt64); }
void TformMain::aValueAddLEInt64Execute() { AddValue(rdLittleEndianInt64); }
void TformMain::aValueAddBinaryExecute() { AddValue(rdBinary); }
void TformMain::aValueAddLinkExecute() {
  if (confirmComplicatedKind(*this)) AddValue(rdLink);
}
void TformMain::aValueAddResourceListExecute() {
  if (confirmComplicatedKind(*this)) AddValue(rdResourceList);
}
void TformMain::aValueAddFullResourceDescriptorExecute() {
  if (confirmComplicatedKind(*this)) AddValue(rdFullResourceDescriptor);
}
void TformMain::aValueAddResourceRequirementsListExecute() {
  if (confirmComplicatedKind(*this)) AddValue(rdResourceRequirementsList);
}
void TformMain::aValueAddNoneExecute() {
  if (confirmComplicatedKind(*this)) AddValue(rdNone);
}

// ---- delete and rename -------------------------------------------------------

void TformMain::aValueDeleteExecute() {
  const KeyNode* node = selectedNode();
  const QList<int> rows = SelectedRowsInOrder(lvData);
  if (!node || rows.isEmpty()) return;
  const NodeLocation loc = GetNodeLocation(node);
  bool yesToAll = false;
  int lowest = -1;
  for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
    const int row = *it;
    const TRegistryValueListItem item = valueModel_->item(row);
    if (!yesToAll) {
      const int answer = messageBoxes().messageDlg(
          this, FormatMessage(Msg(2), {item.Caption}), jmConfirmation,
          buttonBit(cbYes) | buttonBit(cbNo) | buttonBit(cbNoToAll) | buttonBit(cbYesToAll));
      if (answer == mrNoToAll) break;
      if (answer == mrYesToAll)
        yesToAll = true;
      else if (answer != mrYes)
        continue;
    }
    bool done = false;
    try {
      if (holdsNul(loc.keyPath) || holdsNul(item.ValueName)) {
        TNtRegistry nt;
        nt.FRootKey = loc.root;
        done = nt.OpenKey(loc.keyPath.toStdU16String()) && nt.DeleteValue(item.ValueName.toStdU16String());
      } else {
        TMyRegistry64 reg;
        reg.SetView(loc.view);
        reg.SetRootKey(loc.root);
        if (reg.OpenKey(qStringToAnsi(loc.keyPath), false)) {
          BeginChange();
          const auto end = qScopeGuard([&] { EndChange(done); });
          LogValueDelete(loc.root, loc.keyPath, item.ValueName, loc.view);
          done = reg.DeleteValue(qStringToAnsi(item.ValueName));
        }
      }
    } catch (const std::exception&) {
      done = false;
    }
    if (!done) {
      showError(QStringLiteral("The value %1 of the key %2 could not be deleted.")
                    .arg(ShownKeyName(item.ValueName), keyText(loc.root, loc.keyPath)));
      continue;
    }
    valueModel_->removeRow(row);
    lowest = row;
  }
  if (lowest >= 0 && lowest < valueModel_->count())
    lvData->selectionModel()->setCurrentIndex(valueModel_->index(lowest, 0),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TformMain::aValueRenameExecute() {
  const KeyNode* node = selectedNode();
  const QList<int> rows = SelectedRowsInOrder(lvData);
  if (!node || rows.isEmpty()) return;
  const NodeLocation loc = GetNodeLocation(node);
  for (const int row : rows) {
    TRegistryValueListItem& item = valueModel_->item(row);
    const QString oldName = item.ValueName;
    QString name = oldName;
    if (!prompter().inputQuery(this, FormatMessage(Msg(10), {item.Caption}), Msg(11), name)) return;
    if (name == oldName) continue;
    bool done = false;
    try {
      if (holdsNul(loc.keyPath) || holdsNul(oldName) || holdsNul(name)) {
        TNtRegistry nt;
        nt.FRootKey = loc.root;
        done = nt.OpenKey(loc.keyPath.toStdU16String()) &&
               nt.RenameValue(oldName.toStdU16String(), name.toStdU16String());
      } else {
        TMyRegistry64 reg;
        reg.SetView(loc.view);
        reg.SetRootKey(loc.root);
        if (reg.OpenKey(qStringToAnsi(loc.keyPath), false) && !reg.ValueExists(qStringToAnsi(name))) {
          BeginChange();
          const auto end = qScopeGuard([&] { EndChange(done); });
          LogValueRename(LogPane::undo, loc.root, name, oldName, loc.keyPath, loc.view);
          done = reg.RenameValue(qStringToAnsi(oldName), qStringToAnsi(name));
          if (done) LogValueRename(LogPane::redo, loc.root, oldName, name, loc.keyPath, loc.view);
        }
      }
    } catch (const std::exception&) {
      done = false;
    }
    if (!done) {
      showError(QStringLiteral("The value %1 could not be renamed to %2: the key cannot be written or the name "
                               "is taken.")
                    .arg(ShownKeyName(oldName), ShownKeyName(name)));
      continue;
    }
    item.ValueName = name;
    item.Caption = name.isEmpty() ? Msg(msgDialogValueDefault) : ShownKeyName(name);
    valueModel_->rowChanged(row);
  }
}

void TformMain::aValueSelectAllExecute() {
  lvData->selectAll();
  lvData->setFocus();
}

// ---- the values' rule lines --------------------------------------------------

void TformMain::aValueCreateRuleExecute() {
  const KeyNode* node = selectedNode();
  if (!node) return;
  const NodeLocation loc = GetNodeLocation(node);
  QString text;
  for (const int row : SelectedRowsInOrder(lvData)) {
    const TRegistryValueListItem& item = valueModel_->item(row);
    QString line;
    if (formOpenQELValue().Execute(loc.root, item.DataInfo.RegData, line, item.SubItems[1], item.ValueName,
                                   loc.keyPath))
      text += line + QStringLiteral("\r\n");
  }
  QApplication::clipboard()->setText(text);
}

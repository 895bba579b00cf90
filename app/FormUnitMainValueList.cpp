// The main window's value list and hex dump: filling the list from the
// ordinary and the native registry interface, the key monitor that keeps it
// current, the hex dump of the clicked value, the row hint and the selection
// by name.

#include <QCollator>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSplitter>
#include <QToolTip>
#include <QTreeView>

#include <algorithm>
#include <numeric>

#include "app/FormUnitMain.h"
#include "app/NativeNames.h"
#include "app/QtMainThreadQueue.h"
#include "app/UnitMessages.h"
#include "core/bwlRegNative.h"
#include "core/bwlRegTools.h"

namespace {

bool holdsNul(const QString& text) { return text.contains(QChar(u'\0')); }

bool isStringKind(TRegDataType kind) { return kind == rdString || kind == rdExpandString || kind == rdMultiString; }

// The ordinary names sorted as the list shows them: the user's locale, case
// ignored. Sort keys are made once per name, so 100,000 names sort quickly.
void sortNames(QStringList& names) {
  QCollator collator{QLocale()};
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::vector<QCollatorSortKey> keys;
  keys.reserve(static_cast<std::size_t>(names.size()));
  for (const QString& n : names) keys.push_back(collator.sortKey(n));
  std::vector<int> order(static_cast<std::size_t>(names.size()));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return keys[static_cast<std::size_t>(a)].compare(keys[static_cast<std::size_t>(b)]) < 0;
  });
  QStringList sorted;
  sorted.reserve(names.size());
  for (int i : order) sorted << names[i];
  names.swap(sorted);
}

// The kinds whose bytes the hex dump shows; the 32-bit number kinds show
// their number in the list and need no dump.
bool dumpShowsKind(TRegDataType kind) {
  switch (kind) {
    case rdUnknown:
    case rdInteger:
    case rdLittleEndianInteger:
    case rdCardinal:
      return false;
    default:
      return true;
  }
}

}  // namespace

void TformMain::StopMonitor() {
  if (!FMonitor) return;
  FMonitor->Stop();
  FMonitor->WaitFor();
  FMonitor.reset();
}

void TformMain::FillValueList(platform::HKEY root, const QString& keyPath, TRegistryView view) {
  QString monitorPath = keyPath;
  if (monitorPath.startsWith(u'\\')) monitorPath.remove(0, 1);
  if (monitorPath.endsWith(u'\\')) monitorPath.chop(1);
  const std::string monitorAnsi = qStringToAnsi(monitorPath);
  // The 8-bit calls end a path at its first NUL and would open (and watch,
  // and list) another key; such a key is read through the native interface
  // alone and has no monitor.
  const bool nulPath = holdsNul(keyPath);

  // The bitness counts too: the two "SOFTWARE" nodes share root and path, and
  // a monitor left on the other view would never report the shown key.
  const Bitness bitness = view == rv64Bit ? Bitness::x64 : Bitness::x32;
  if (FMonitor && (FMonitor->FRootKey != root || FMonitor->FKeyPath != monitorAnsi || FMonitor->FBitness != bitness ||
                   nulPath))
    StopMonitor();
  if (!FMonitor && !nulPath) {
    FMonitor = std::make_unique<TRegMonitorThread>(*mainThread_);
    FMonitor->FBitness = bitness;
    FMonitor->FRootKey = root;
    FMonitor->FKeyPath = monitorAnsi;
    FMonitor->OnChange = [this](platform::HKEY r, const std::string& p) { MonitorChange(r, p); };
    FMonitor->Resume();
  }

  lvData->setUpdatesEnabled(false);
  const auto done = qScopeGuard([this] {
    pg->setValue(0);
    lvData->setUpdatesEnabled(true);
  });
  valueModel_->clear();

  TMyRegistry64 reg;
  reg.SetView(view);
  reg.SetRootKey(root);
  TNtRegistry nt;
  nt.FRootKey = root;

  QStringList names;
  const bool ordinaryOpen = !nulPath && reg.OpenKeyReadOnly(qStringToAnsi(keyPath));
  if (ordinaryOpen) {
    std::vector<std::string> listed;
    reg.GetValueNames(listed);
    names.reserve(static_cast<qsizetype>(listed.size()));
    for (const std::string& n : listed) names << ansiToQString(n);
    sortNames(names);
  }
  // The native interface knows no views: in a view that sends the ordinary
  // calls to another key, its names belong to a key this list does not show.
  const bool nativeOpen =
      nt.OpenKey(keyPath.toStdU16String()) && (!ordinaryOpen || SameKey(reg.CurrentKey(), nt));
  if (nativeOpen) names = MergeNativeNames(std::move(names), NativeValueNames(nt), true);

  if (ordinaryOpen || nativeOpen) {
    std::vector<TRegistryValueListItem> rows;
    rows.reserve(static_cast<std::size_t>(names.size()) + 1);
    pg->setMinimum(0);
    pg->setValue(0);
    // A range of 0..0 would turn the bar into a busy indicator; one name
    // keeps the bar empty instead.
    if (!names.isEmpty()) pg->setMaximum(std::max(1, static_cast<int>(names.size()) - 1));

    const bool hasDefault = std::any_of(names.cbegin(), names.cend(), [](const QString& n) { return n.isEmpty(); });
    if (!hasDefault) {
      TRegistryValueListItem row;
      row.Caption = Msg(msgDialogValueDefault);
      row.SubItems = {QStringLiteral("REG_SZ"), Msg(msgDialogDataNotDefined), QStringLiteral("0"), QString()};
      row.ImageIndex = 3;
      row.StateIndex = 1;
      row.RootKey = root;
      row.KeyPath = keyPath;
      row.DataInfo.RegData = rdString;
      row.DataInfo.RegType = RegDataTypeToRegType(rdString);
      row.DataInfo.DataSize = 0;
      row.ValueText = Msg(msgDialogDataNotDefined);
      rows.push_back(std::move(row));
    }

    const QString errorText = Msg(msgDialogDataError);
    for (int i = 0; i < names.size(); ++i) {
      const QString& name = names[i];
      pg->setValue(i);
      TRegistryValueListItem row;
      row.RootKey = root;
      row.KeyPath = keyPath;
      row.ValueName = name;
      if (name.isEmpty()) {
        row.Caption = Msg(msgDialogValueDefault);
        row.StateIndex = 1;
      } else {
        row.Caption = ShownKeyName(name);
      }
      QString typeText, valueText, sizeText;
      try {
        if (nulPath || holdsNul(name)) {
          TKeyValueFullInfoHead head;
          // A value gone since it was listed is a failed read, not an empty one.
          if (!nt.GetValueInfo(name.toStdU16String(), head)) throw ERegistryException("value not found");
          const TRegDataType kind = RegTypeToRegDataType(head.Type);
          row.DataInfo.RegData = kind;
          row.DataInfo.RegType = head.Type;
          row.DataInfo.DataSize = head.DataLength;
          typeText = QString::fromStdString(RegDataTypeToStr(kind));
          valueText = QString::fromStdU16String(nt.ReadValueAsText(name.toStdU16String()));
          sizeText = QString::number(head.DataLength);
        } else {
          const std::string ansi = qStringToAnsi(name);
          if (!reg.GetDataInfo(ansi, row.DataInfo)) throw ERegistryException("value not found");
          typeText = QString::fromStdString(RegDataTypeToStr(row.DataInfo.RegData));
          valueText = ansiToQString(reg.ReadValueAsText(ansi));
          sizeText = QString::number(reg.GetDataSize(ansi));
        }
        row.ImageIndex = ValueImageIndex(row.DataInfo.RegData);
      } catch (const std::exception&) {
        typeText = QStringLiteral("N/A");
        valueText = errorText;
        sizeText = QStringLiteral("0");
        row.ImageIndex = -1;
      }
      row.SubItems = {typeText, valueText, sizeText, QString()};
      row.ValueText = valueText;
      rows.push_back(std::move(row));
    }
    valueModel_->setRows(std::move(rows));
  }
  reg.CloseKey();
  nt.CloseKey();
}

void TformMain::RefreshValueList() {
  const NodeLocation loc = GetSelectedLocation();
  FillValueList(loc.root, loc.keyPath, loc.view);
}

void TformMain::MonitorChange(platform::HKEY root, const std::string& keyPath) {
  KeyNode* node = selectedNode();
  // Only a local key's list comes from the registry: a .reg file's node of
  // the same path must not be filled from it.
  if (!node || GetNodeKind(node) != nkLocal || FValueEditorOpen) return;
  // "My Computer" shows no values, though its location is a root's.
  if (node->level() == 0) return;
  const NodeLocation loc = GetNodeLocation(node);
  if (root != loc.root || ansiToQString(keyPath) != loc.keyPath.mid(1)) return;
  FillValueList(root, QStringLiteral("\\") + ansiToQString(keyPath), loc.view);
}

int TformMain::selectedValueRow() const {
  const QModelIndex current = lvData->currentIndex();
  if (!current.isValid() || !lvData->selectionModel() || !lvData->selectionModel()->isRowSelected(current.row()))
    return -1;
  return current.row();
}

void TformMain::lvDataClick() {
  lvHexDump->SetDataSize(0);
  FValueData.clear();
  bool shown = false;
  const int row = selectedValueRow();
  if (row >= 0) {
    KeyNode* node = selectedNode();
    const int kind = GetNodeKind(node);
    const TRegistryValueListItem& item = valueModel_->item(row);
    const TMyRegDataInfo info = item.DataInfo;
    if (dumpShowsKind(info.RegData)) {
      if (kind == nkLocal) {
        const NodeLocation loc = GetNodeLocation(node);
        if (holdsNul(item.KeyPath) || holdsNul(item.ValueName)) {
          // The 8-bit calls cannot name such a value; its bytes come the
          // way the list read it.
          TNtRegistry nt;
          nt.FRootKey = item.RootKey;
          std::vector<std::uint8_t> bytes;
          if (nt.OpenKey(item.KeyPath.toStdU16String()) &&
              nt.ReadData(item.ValueName.toStdU16String(), platform::REG_BINARY, info.DataSize, bytes)) {
            lvHexDump->SetDataSize(info.DataSize);
            bytes.resize(std::min<std::size_t>(bytes.size(), info.DataSize));
            FValueData = std::move(bytes);
            shown = true;
          }
        } else {
          TMyRegistry64 reg;
          reg.SetView(loc.view);
          reg.SetRootKey(loc.root);
          // The string kinds as stored (UTF-16): the 8-bit read converts
          // them to the active code page, and the dump shows the hive's bytes.
          std::vector<std::uint8_t> stored;
          std::uint32_t storedType = 0;
          if (isStringKind(info.RegData) && reg.OpenKeyReadOnly(qStringToAnsi(item.KeyPath)) &&
              reg.readRawValue(qStringToAnsi(item.ValueName), storedType, stored)) {
            lvHexDump->SetDataSize(stored.size());
            FValueData = std::move(stored);
            shown = true;
          } else if (reg.OpenKeyReadOnly(qStringToAnsi(item.KeyPath))) {
            try {
              // One byte more than listed: a value that grew since shows what
              // fits rather than failing.
              std::vector<std::uint8_t> buffer(static_cast<std::size_t>(info.DataSize) + 1);
              const int got = reg.ReadBinaryData(qStringToAnsi(item.ValueName), buffer.data(),
                                                 static_cast<std::uint32_t>(buffer.size()));
              buffer.resize(static_cast<std::size_t>(std::clamp<int>(got, 0, static_cast<int>(info.DataSize))));
              lvHexDump->SetDataSize(info.DataSize);
              FValueData = std::move(buffer);
              shown = true;
            } catch (const std::exception&) {
              // Changed beyond what the row knows: no dump until the list is
              // refilled.
            }
          }
        }
      } else if (kind == nkRegFile) {
        lvHexDump->SetDataSize(info.DataSize);
        TRegByteArray bytes;
        ValueTextToBytes(qStringToAnsi(item.SubItems[1]), info.RegData, bytes);
        bytes.resize(std::min<std::size_t>(bytes.size(), info.DataSize));
        FValueData = std::move(bytes);
        shown = true;
      }
      // A remote key's values are not read through the connection: no dump.
    }
  }
  if (!shown) {
    lvHexDump->SetDataSize(0);
    FValueData.clear();
  }
  lvHexDump->setVisible(shown);
  if (shown) lvHexDump->viewport()->update();
  pmValuesPopup();
}

void TformMain::lvHexDumpGetBinaryData(std::uint64_t start, std::uint64_t count,
                                       std::vector<std::uint8_t>& data) const {
  data.resize(static_cast<std::size_t>(count));
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t at = start + i;
    data[static_cast<std::size_t>(i)] = at < FValueData.size() ? FValueData[static_cast<std::size_t>(at)] : 0;
  }
}

void TformMain::lvDataMouseMove(const QPoint& pos) {
  const QModelIndex index = lvData->indexAt(pos);
  if (!index.isValid()) {
    lvData->viewport()->setToolTip(QString());
    return;
  }
  const TRegistryValueListItem& item = valueModel_->item(index.row());
  auto caption = [this](int column) {
    return valueModel_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  };
  QStringList lines;
  lines << caption(ValueListModel::colName) + QStringLiteral(": ") + item.Caption;
  for (int c = ValueListModel::colType; c <= ValueListModel::colSize; ++c)
    lines << caption(c) + QStringLiteral(": ") + item.SubItems[static_cast<std::size_t>(c - 1)];
  QString hint = lines.join(u'\n');
  if (!item.DiffMark.isNull()) {
    QString mark;
    const QString registryText =
        u'\n' + caption(ValueListModel::colValue) + QStringLiteral(": ") + item.SubItems[3];
    switch (item.DiffMark.unicode()) {
      case u'U': mark = QStringLiteral("This value and data exists in your registry."); break;
      case u'N': mark = QStringLiteral("Not in registry."); break;
      case u'T': mark = QStringLiteral("Type is different in registry.") + registryText; break;
      case u'C': mark = QStringLiteral("Data is different in registry.") + registryText; break;
      default: break;
    }
    hint += QStringLiteral("\n\n") + mark;
  }
  lvData->viewport()->setToolTip(hint);
}

void TformMain::SelectValueByName(const QString& name) {
  // The class library's upper-casing touches the ASCII letters only.
  auto upper = [](QString s) {
    for (QChar& c : s)
      if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - (u'a' - u'A'));
    return s;
  };
  const QString wanted = upper(name);
  for (int row = valueModel_->count() - 1; row >= 0; --row) {
    if (upper(valueModel_->item(row).Caption) != wanted) continue;
    const QModelIndex index = valueModel_->index(row, 0);
    lvData->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    lvData->scrollTo(index);
    lvData->setFocus();
    return;
  }
}

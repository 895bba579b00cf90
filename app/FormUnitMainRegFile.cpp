// The main window's .reg file view: File > "Open registry file" shows a file's
// keys and values in the key tree without importing them; the "difference
// only" form also marks each value against the local registry.

#include <QFileInfo>
#include <QTreeView>

#include "app/FormUnitMain.h"
#include "app/QtText.h"
#include "app/RegFileTree.h"
#include "app/UiSeams.h"
#include "app/UnitMessages.h"

namespace {

const QString kRegFileFilter = QStringLiteral("Registry files (*.reg);;All files (*)");

// The width the "Registry Value" column opens with when a view shows it.
constexpr int kRegistryValueWidth = 150;

}  // namespace

void TformMain::aFileOpenRegExecute() {
  const QString file = prompter().openFileName(this, QStringLiteral("Open registry file"), kRegFileFilter);
  if (!file.isEmpty()) ShowRegFile(file, false);
}

void TformMain::aFileDiffOpenRegExecute() {
  const QString file =
      prompter().openFileName(this, QStringLiteral("Open registry file (difference only)"), kRegFileFilter);
  if (!file.isEmpty()) ShowRegFile(file, true);
}

void TformMain::ShowRegFile(const QString& fileName, bool compare) {
  if (!QFileInfo(fileName).isFile()) return;
  // The whole tree is built off the model and taken in as one row.
  KeyNode* top = model_->adoptChild(model_->root(), BuildRegFileTree(fileName.toStdString(), compare));
  tvKeys->expand(model_->indexOf(top));
}

void TformMain::ShowRegFileValues(KeyNode* node) {
  if (!node) return;
  const NodeLocation loc = GetNodeLocation(node);
  bool registryValueWanted = false;
  std::vector<TRegistryValueListItem> rows = RegFileValueRows(
      *node, loc.root, loc.keyPath, Msg(msgDialogValueDefault), Msg(msgDialogDataNotDefined), registryValueWanted);
  lvData->setUpdatesEnabled(false);
  valueModel_->setRows(std::move(rows));
  if (registryValueWanted) {
    if (lvData->isColumnHidden(ValueListModel::colRegistryValue) ||
        lvData->columnWidth(ValueListModel::colRegistryValue) == 0) {
      lvData->setColumnHidden(ValueListModel::colRegistryValue, false);
      lvData->setColumnWidth(ValueListModel::colRegistryValue, kRegistryValueWidth);
    }
  } else {
    lvData->setColumnHidden(ValueListModel::colRegistryValue, true);
  }
  lvData->setUpdatesEnabled(true);
}

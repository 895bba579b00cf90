// The main window's key commands: new, delete and rename key, and the key's
// rule line on the clipboard.
//
// A change is written to the change logs and the history only once the
// registry has taken it: the before-image (the undo export, the history's
// reading of a key about to go) is taken first and kept only on success.
// A key path holding a NUL cannot be named through the 8-bit calls, which
// would cut it at the NUL and act on another key: such keys are deleted
// natively and are not renamed or given new sub-keys.

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QTreeView>

#include <exception>

#include "app/FormUnitMain.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "app/UnitMessages.h"
#include "core/bwlRegNative.h"
#include "core/bwlRegTools.h"

namespace {

bool holdsNul(const QString& text) { return text.contains(QChar(u'\0')); }

QString keyText(platform::HKEY root, const QString& keyPath) {
  return ShownKeyName(QString::fromStdString(RootKeyToLongName(root)) + keyPath);
}

const QString kRootkitRefusal = QStringLiteral("Moving or renaming rootkit keys is not allowed!");

}  // namespace

bool TformMain::ChildKeyExists(const KeyNode* node, const QString& name) const {
  if (!node) return false;
  for (const auto& child : node->children)
    if (child->text.compare(name, Qt::CaseInsensitive) == 0) return true;
  return false;
}

QString TformMain::MakeUniqueKeyName(const KeyNode* node, const QString& name) const {
  for (int n = 1;; ++n) {
    const QString candidate = name + QString::number(n);
    if (!ChildKeyExists(node, candidate)) return candidate;
  }
}

bool TformMain::AskNewKeyName(const KeyNode* node, QString& name) {
  do {
    if (!prompter().inputQuery(this, Msg(14), Msg(15), name)) return false;
  } while (ChildKeyExists(node, name));
  return true;
}

void TformMain::aKeyAddExecute() {
  KeyNode* node = selectedNode();
  if (!node || node->level() == 0) return;
  // Children not read yet would not be seen by the name checks.
  tvKeysExpanding(node);
  QString name = MakeUniqueKeyName(node, Msg(26) + QStringLiteral(" #"));
  if (!AskNewKeyName(node, name)) return;
  const NodeLocation loc = GetNodeLocation(node);
  if (holdsNul(loc.keyPath) || holdsNul(name)) {
    showError(kRootkitRefusal);
    return;
  }
  const QString path = loc.keyPath + u'\\' + name;
  try {
    TMyRegistry64 reg;
    reg.SetView(loc.view);
    reg.SetRootKey(loc.root);
    if (!reg.CreateKey(qStringToAnsi(path))) {
      showError(QStringLiteral("The key %1 could not be created.").arg(keyText(loc.root, path)));
      return;
    }
  } catch (const std::exception& e) {
    showError(QString::fromLocal8Bit(e.what()));
    return;
  }
  AddKeyNode(node, name, rvDefault);
  aKeyRefreshExecute();
  LogKeyCreate(loc.root, path, loc.view);
}

void TformMain::aKeyDeleteExecute() {
  KeyNode* node = selectedNode();
  if (!node || node->level() <= 1) return;
  const NodeLocation loc = GetNodeLocation(node);
  TaskMessage question;
  question.title = QGuiApplication::applicationDisplayName();
  question.instruction = QStringLiteral("Delete this key?");
  question.content = FormatMessage(Msg(3), {node->text});
  question.details = ShownKeyName(loc.displayPath);
  question.expandCaption = QStringLiteral("&Show Location");
  question.collapseCaption = QStringLiteral("&Hide Location");
  question.kind = jmConfirmation;
  question.buttons = buttonBit(cbYes) | buttonBit(cbNo);
  if (messageBoxes().taskMessageDlg(this, question) != mrYes) return;

  bool done = false;
  BeginChange();
  {
    const auto end = qScopeGuard([&] { EndChange(done); });
    LogKeyDelete(loc.root, ShownKeyName(loc.keyPath), loc.view);
    try {
      if (holdsNul(loc.keyPath)) {
        TNtRegistry nt;
        nt.FRootKey = loc.root;
        done = nt.DeleteKey(loc.keyPath.toStdU16String());
      } else {
        TMyRegistry64 reg;
        reg.SetView(loc.view);
        reg.SetRootKey(loc.root);
        done = reg.DeleteKey(qStringToAnsi(loc.keyPath));
      }
    } catch (const std::exception&) {
      done = false;
    }
  }
  if (!done) {
    showError(QStringLiteral("The key %1 could not be deleted.").arg(keyText(loc.root, loc.keyPath)));
    return;
  }
  model_->removeNode(node);
  tvKeysClick();
}

void TformMain::aKeyRenameExecute() {
  KeyNode* node = selectedNode();
  if (!node || node->level() <= 1) return;
  const NodeLocation loc = GetNodeLocation(node);
  if (holdsNul(loc.keyPath)) {
    showError(kRootkitRefusal);
    return;
  }
  QString name = node->text;
  if (!prompter().inputQuery(this, FormatMessage(Msg(12), {node->text}), Msg(13), name)) return;
  const qsizetype slash = loc.keyPath.lastIndexOf(u'\\');
  const QString newPath = slash < 0 ? loc.keyPath : loc.keyPath.left(slash + 1) + name;
  if (newPath == loc.keyPath) return;
  if (holdsNul(name)) {
    showError(kRootkitRefusal);
    return;
  }
  TMyRegistry64 reg;
  reg.SetView(loc.view);
  reg.SetRootKey(loc.root);
  // Moving onto an existing key would do nothing, yet its log would delete
  // the untouched source on Apply.
  if (reg.KeyExists(qStringToAnsi(newPath))) {
    showError(QStringLiteral("The key %1 cannot be renamed: the key %2 exists already.")
                  .arg(keyText(loc.root, loc.keyPath), keyText(loc.root, newPath)));
    return;
  }
  bool done = false;
  QString failure;
  BeginChange();
  {
    const auto end = qScopeGuard([&] { EndChange(done); });
    LogKeyRename(loc.root, loc.keyPath, LogPane::undo, newPath, loc.view);
    try {
      reg.MoveKey(qStringToAnsi(loc.keyPath), qStringToAnsi(newPath), true);
      done = reg.KeyExists(qStringToAnsi(newPath)) && !reg.KeyExists(qStringToAnsi(loc.keyPath));
    } catch (const std::exception& e) {
      failure = QString::fromLocal8Bit(e.what());
    }
    if (done) LogKeyRename(loc.root, loc.keyPath, LogPane::redo, newPath, loc.view);
  }
  if (!done) {
    if (failure.isEmpty())
      failure = QStringLiteral("The key %1 could not be renamed.").arg(keyText(loc.root, loc.keyPath));
    showError(failure);
    return;
  }
  node->text = ShownKeyName(name);
  if (node->data) node->data->Name = name;
  model_->nodeChanged(node);
  addToAddressBox(ShownKeyName(GetNodeLocation(node).displayPath), node->imageIndex);
}

// ---- the key's rule line -----------------------------------------------------

void TformMain::aKeyCreateRuleExecute() {
  const KeyNode* node = selectedNode();
  if (!node || node->level() <= 1) return;
  const NodeLocation loc = GetNodeLocation(node);
  platform::HKEY root{};
  std::string parentPath, last;
  if (!SplitRegistryPath(qStringToAnsi(QString::fromStdString(RootKeyToLongName(loc.root)) + loc.keyPath), root,
                         parentPath, last))
    return;
  QApplication::clipboard()->setText(FormatMessage(
      QStringLiteral("RegyKey:\"description\",%s,\"%s\",\"%s\""),
      {QString::fromStdString(RootKeyToLongName(root)), ansiToQString(parentPath), ansiToQString(last)}));
}

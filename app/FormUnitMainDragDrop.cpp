// Drag and drop onto the main window's key tree: the value list's selected
// rows or the tree's selected key are moved, or copied while Ctrl is held,
// into the key they are dropped on.
//
// The deciding and the doing are TformMain's (tvKeysDragOver, tvKeysDragDrop),
// so tests drive them without a drag; the small filter below only turns the
// two views' mouse and drag events into those calls.
//
// Drops that could not end well are refused: a value moved onto its own key
// would be copied onto itself and then deleted, a key copied into its own
// subtree would never end, and a name holding a NUL would be cut at the NUL
// by the 8-bit calls and name another key or value.

#include <QApplication>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QTreeView>

#include "app/FormUnitMain.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "app/UnitMessages.h"
#include "core/bwlRegTools.h"
#include "core/bwlRegistry.h"

namespace {

const char* const kKeyDragFormat = "application/x-hivescope-key";
const char* const kValuesDragFormat = "application/x-hivescope-values";

bool holdsNul(const QString& text) { return text.contains(QChar(u'\0')); }

bool samePath(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Whether `path` is `ancestor` or lies below it.
bool withinPath(const QString& path, const QString& ancestor) {
  if (samePath(path, ancestor)) return true;
  return path.size() > ancestor.size() && path.at(ancestor.size()) == u'\\' &&
         samePath(path.left(ancestor.size()), ancestor);
}

bool withinNode(const KeyNode* node, const KeyNode* ancestor) {
  for (; node; node = node->parent)
    if (node == ancestor) return true;
  return false;
}

QString keyText(platform::HKEY root, const QString& keyPath) {
  return ShownKeyName(QString::fromStdString(RootKeyToLongName(root)) + keyPath);
}

// The last element of a key path.
QString lastElement(const QString& keyPath) { return keyPath.mid(keyPath.lastIndexOf(u'\\') + 1); }

// Replaces the existing key `target` by a copy of `source`. The copy is
// made under a free temporary name first, so the old key goes only once its
// replacement is complete.
bool replaceKey(platform::HKEY root, const std::string& source, const std::string& target) {
  std::string temporary;
  for (int n = 1; temporary.empty() || RegistryKeyExists(root, temporary, ViewByte::v32); ++n)
    temporary = target + " (" + std::to_string(n) + ")";
  if (!CopyRegistryKey(root, source, root, temporary, false) || !RegistryKeyExists(root, temporary, ViewByte::v32))
    return false;
  TMyRegistry reg;
  reg.SetRootKey(root);
  if (!reg.DeleteKey(target)) {
    reg.DeleteKey(temporary);
    return false;
  }
  return CopyRegistryKey(root, temporary, root, target, true) && RegistryKeyExists(root, target, ViewByte::v32);
}

// Turns the two views' mouse and drag events into the window's drag and
// drop calls. Installed on both viewports.
class KeyTreeDrops final : public QObject {
public:
  explicit KeyTreeDrops(TformMain& form) : QObject(&form), form_(form) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    const bool onTree = watched == form_.tvKeys->viewport();
    switch (event->type()) {
      case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        pressed_ = mouse->button() == Qt::LeftButton;
        pressPos_ = mouse->position().toPoint();
        return false;
      }
      case QEvent::MouseButtonRelease:
        pressed_ = false;
        return false;
      case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!pressed_ || !(mouse->buttons() & Qt::LeftButton) ||
            (mouse->position().toPoint() - pressPos_).manhattanLength() < QApplication::startDragDistance())
          return false;
        pressed_ = false;
        return onTree ? startKeyDrag() : startValuesDrag();
      }
      case QEvent::DragEnter:
      case QEvent::DragMove:
        if (onTree) dragOver(static_cast<QDragMoveEvent*>(event));
        return onTree;
      case QEvent::DragLeave:
        if (onTree) form_.tvKeysDragLeave();
        return onTree;
      case QEvent::Drop:
        if (onTree) drop(static_cast<QDropEvent*>(event));
        return onTree;
      default:
        return false;
    }
  }

private:
  bool startKeyDrag() {
    KeyNode* node = form_.keyModel()->nodeOf(form_.tvKeys->indexAt(pressPos_));
    if (!node || node != form_.selectedNode()) return false;
    if (form_.GetNodeKind(node) != nkLocal || node->level() <= 1) return false;
    runDrag(form_.tvKeys, kKeyDragFormat);
    return true;
  }

  bool startValuesDrag() {
    const QModelIndex index = form_.lvData->indexAt(pressPos_);
    if (!index.isValid() || !form_.lvData->selectionModel()->isRowSelected(index.row())) return false;
    runDrag(form_.lvData, kValuesDragFormat);
    return true;
  }

  void runDrag(QWidget* from, const char* format) {
    auto* drag = new QDrag(from);
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(format), {});
    drag->setMimeData(mime);
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
    form_.tvKeysDragLeave();
  }

  // What the drag carries, when it comes from this window's views.
  bool sourceOf(const QDropEvent* event, TreeDragSource& source) const {
    const QMimeData* mime = event->mimeData();
    if (event->source() == form_.tvKeys && mime->hasFormat(QString::fromLatin1(kKeyDragFormat))) {
      source = TreeDragSource::key;
      return true;
    }
    if (event->source() == form_.lvData && mime->hasFormat(QString::fromLatin1(kValuesDragFormat))) {
      source = TreeDragSource::values;
      return true;
    }
    return false;
  }

  KeyNode* nodeAt(const QDropEvent* event) const {
    return form_.keyModel()->nodeOf(form_.tvKeys->indexAt(event->position().toPoint()));
  }

  void dragOver(QDragMoveEvent* event) {
    TreeDragSource source{};
    const bool copy = IsCtrlKeyDown();
    if (sourceOf(event, source) && form_.tvKeysDragOver(nodeAt(event), source, copy)) {
      event->setDropAction(copy ? Qt::CopyAction : Qt::MoveAction);
      event->accept();
    } else {
      // A drag that is not ours, or a node it may not go to; the enter is
      // still taken, so moving on to a good node is seen.
      if (event->type() == QEvent::DragEnter && sourceOf(event, source))
        event->accept();
      else
        event->ignore();
    }
  }

  void drop(QDropEvent* event) {
    TreeDragSource source{};
    form_.tvKeysDragLeave();
    if (!sourceOf(event, source)) {
      event->ignore();
      return;
    }
    const bool copy = IsCtrlKeyDown();
    event->setDropAction(copy ? Qt::CopyAction : Qt::MoveAction);
    event->accept();
    form_.tvKeysDragDrop(nodeAt(event), source, copy);
  }

  TformMain& form_;
  QPoint pressPos_;
  bool pressed_ = false;
};

}  // namespace

void TformMain::InstallKeyTreeDrops() {
  auto* drops = new KeyTreeDrops(*this);
  tvKeys->setAcceptDrops(true);
  tvKeys->viewport()->setAcceptDrops(true);
  tvKeys->viewport()->installEventFilter(drops);
  lvData->viewport()->installEventFilter(drops);
}

bool TformMain::DropAllowed(KeyNode* target, TreeDragSource source, QString* why) const {
  KeyNode* from = selectedNode();
  if (!target || !from || GetNodeKind(target) != nkLocal || target->level() < 1) return false;
  if (GetNodeKind(from) != nkLocal) return false;
  const NodeLocation to = GetNodeLocation(target);
  const NodeLocation at = GetNodeLocation(from);
  const auto refuse = [why](const QString& reason) {
    if (why) *why = reason;
    return false;
  };
  if (source == TreeDragSource::values) {
    const QList<int> rows = SelectedRowsInOrder(lvData);
    if (rows.isEmpty() || (to.root == at.root && samePath(to.keyPath, at.keyPath))) return false;
    if (holdsNul(to.keyPath) || holdsNul(at.keyPath))
      return refuse(QStringLiteral("Values of keys whose paths hold a NUL cannot be moved or copied."));
    for (int row : rows)
      if (holdsNul(valueModel_->item(row).ValueName))
        return refuse(QStringLiteral("Values whose names hold a NUL cannot be moved or copied."));
    return true;
  }
  if (from->level() <= 1 || withinNode(target, from) || target == from->parent) return false;
  // The same key may stand under other nodes too (another view of it).
  if (to.root == at.root && (withinPath(to.keyPath, at.keyPath) ||
                             samePath(to.keyPath + u'\\' + lastElement(at.keyPath), at.keyPath)))
    return false;
  if (holdsNul(to.keyPath) || holdsNul(at.keyPath))
    return refuse(QStringLiteral("Moving or renaming rootkit keys is not allowed!"));
  return true;
}

bool TformMain::tvKeysDragOver(KeyNode* target, TreeDragSource source, bool copy) {
  if (!DropAllowed(target, source, nullptr)) {
    sbarPanel0->clear();
    return false;
  }
  if (source == TreeDragSource::values)
    sbarPanel0->setText(FormatMessage(Msg(copy ? 6 : 5), {target->text}));
  else
    sbarPanel0->setText(FormatMessage(Msg(copy ? 8 : 7), {selectedNode()->text, target->text}));
  return true;
}

void TformMain::tvKeysDragLeave() { sbarPanel0->clear(); }

void TformMain::tvKeysDragDrop(KeyNode* target, TreeDragSource source, bool copy) {
  QString why;
  if (!DropAllowed(target, source, &why)) {
    if (!why.isEmpty()) showError(why);
    return;
  }
  if (source == TreeDragSource::values)
    DropValues(target, copy);
  else
    DropKey(target, copy);
}

void TformMain::DropValues(KeyNode* target, bool copy) {
  const NodeLocation from = GetSelectedLocation();
  const NodeLocation to = GetNodeLocation(target);
  const std::string sourcePath = qStringToAnsi(from.keyPath);
  const std::string targetPath = qStringToAnsi(to.keyPath);
  int allAnswer = mrNone;
  QStringList failed;
  for (int row : SelectedRowsInOrder(lvData)) {
    const TRegistryValueListItem item = valueModel_->item(row);
    const std::string name = qStringToAnsi(item.ValueName);
    // The default value's placeholder row stands for no value.
    if (!RegistryValueExists(from.root, sourcePath, name, ViewByte::v32)) continue;
    if (RegistryValueExists(to.root, targetPath, name, ViewByte::v32)) {
      int answer = allAnswer;
      if (answer == mrNone) {
        answer = messageBoxes().messageDlg(
            this, FormatMessage(Msg(4), {item.ValueName}), jmConfirmation,
            buttonBit(cbYes) | buttonBit(cbNo) | buttonBit(cbNoToAll) | buttonBit(cbYesToAll));
        if (answer == mrNoToAll || answer == mrYesToAll) allAnswer = answer;
      }
      if (answer != mrYes && answer != mrYesToAll) continue;
    }
    std::uint32_t type = 0;
    std::vector<std::uint8_t> before;
    TMyRegistry reader;
    reader.SetRootKey(from.root);
    if (!reader.OpenKeyReadOnly(sourcePath) || !reader.readRawValue(name, type, before)) continue;
    try {
      CopyRegistryValue(from.root, sourcePath, name, !copy, name, targetPath, to.root);
    } catch (const std::exception&) {
    }
    std::uint32_t copiedType = 0;
    std::vector<std::uint8_t> copied;
    TMyRegistry check;
    check.SetRootKey(to.root);
    if (!check.OpenKeyReadOnly(targetPath) || !check.readRawValue(name, copiedType, copied) ||
        copiedType != type || copied != before)
      failed << ShownKeyName(item.ValueName.isEmpty() ? QStringLiteral("(Default)") : item.ValueName);
  }
  if (!copy) RefreshValueList();
  if (!failed.isEmpty())
    showError(QStringLiteral("These values could not be %1 to %2: %3")
                  .arg(copy ? QStringLiteral("copied") : QStringLiteral("moved"), keyText(to.root, to.keyPath),
                       failed.join(QStringLiteral(", "))));
}

void TformMain::DropKey(KeyNode* target, bool copy) {
  KeyNode* dragged = selectedNode();
  const NodeLocation from = GetNodeLocation(dragged);
  const NodeLocation to = GetNodeLocation(target);
  if (from.root != to.root) {
    showError(Msg(9));
    return;
  }
  QString newPath = to.keyPath;
  if (!newPath.endsWith(u'\\')) newPath += u'\\';
  newPath += lastElement(from.keyPath);
  const std::string sourcePath = qStringToAnsi(from.keyPath);
  const std::string targetPath = qStringToAnsi(newPath);
  bool done = false;
  if (RegistryKeyExists(to.root, targetPath, ViewByte::v32)) {
    if (messageBoxes().messageDlg(this, FormatMessage(Msg(4), {dragged->text}), jmConfirmation,
                                  buttonBit(cbYes) | buttonBit(cbNo)) != mrYes)
      return;
    done = replaceKey(to.root, sourcePath, targetPath);
    if (done && !copy) {
      TMyRegistry reg;
      reg.SetRootKey(from.root);
      reg.DeleteKey(sourcePath);
    }
  } else {
    done = CopyRegistryKey(from.root, sourcePath, to.root, targetPath, !copy) &&
           RegistryKeyExists(to.root, targetPath, ViewByte::v32);
  }
  if (!done) {
    showError(QStringLiteral("The key %1 could not be %2 to %3.")
                  .arg(keyText(from.root, from.keyPath), copy ? QStringLiteral("copied") : QStringLiteral("moved"),
                       keyText(to.root, newPath)));
    return;
  }
  // The tree shows where the key went: the moved node goes, the target's
  // children are read again.
  KeyNode* select = copy ? dragged : dragged->parent;
  if (!copy) model_->removeNode(dragged);
  if (withinNode(select, target) && select != target) select = target;
  model_->deleteChildren(target);
  model_->setHasChildren(target, true);
  tvKeysExpanding(target);
  tvKeys->expand(model_->indexOf(target));
  selectNode(select);
  tvKeysClick();
}

// The main window's key navigation: jumping along a key path (the address
// box, "Jump to key...", the CLSID jumps, bookmarks, search results, the
// start-up key) and keeping the value list on the key the tree's keyboard
// moves to.

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QScopeGuard>
#include <QTreeView>

#include "app/DataImages.h"
#include "app/FormUnitMain.h"
#include "app/UnitMessages.h"
#include "app/UiSeams.h"
#include "core/bwlRegTools.h"

namespace {

bool inBraces(const QString& text) { return text.startsWith(u'{') && text.endsWith(u'}'); }

}  // namespace

// Every key that can move the tree's selection runs the key selection when
// it is let go, so the value list follows: the arrows, Home, End, the page
// keys, and the typed characters of the tree's type-ahead search (key codes
// below Qt's special keys are characters).
void TformMain::tvKeysKeyUp(int key) {
  switch (key) {
    case Qt::Key_Left: case Qt::Key_Up: case Qt::Key_Right: case Qt::Key_Down:
    case Qt::Key_Home: case Qt::Key_End: case Qt::Key_PageUp: case Qt::Key_PageDown:
      tvKeysClick();
      return;
    default:
      if (key > 0 && key < Qt::Key_Escape) tvKeysClick();
      return;
  }
}

void TformMain::JumpToPath(QString path) {
  const auto fin = qScopeGuard([this] { tvKeysClick(); });
  // My Computer\HKEY_LOCAL_MACHINE\SOFTWARE -> HKEY_LOCAL_MACHINE\SOFTWARE
  if (!path.startsWith(QLatin1String("HK")) && path.indexOf(u'\\') == path.indexOf(QLatin1String("\\HK")))
    path = path.mid(path.indexOf(u'\\') + 1);
  if (path.endsWith(u'\\')) path.chop(1);

  auto rootAndSubPath = [](const QString& p, platform::HKEY& root, QString& subPath) {
    const QStringList elements = p.split(u'\\');
    root = NameToRootKey(qStringToAnsi(elements.value(0)));
    const int slash = p.indexOf(u'\\');
    subPath = slash < 0 ? p : p.mid(slash);
    return elements;
  };
  platform::HKEY root;
  QString subPath;
  QStringList elements = rootAndSubPath(path, root, subPath);
  if (!lister_->keyExists(root, subPath, false)) {
    path.replace(QLatin1String("\\ "), QLatin1String("\\"));
    path.replace(QLatin1String(" \\"), QLatin1String("\\"));
    elements = rootAndSubPath(path, root, subPath);
  }
  if (elements.isEmpty()) return;
  if (!lister_->keyExists(root, subPath, true) && elements.size() != 1) return;
  if (!FMyComputerNode) return;

  KeyNode* current = nullptr;
  for (int i = FMyComputerNode->count() - 1; i >= 0; --i) {
    if (FMyComputerNode->child(i)->text.compare(elements[0], Qt::CaseInsensitive) == 0) {
      current = FMyComputerNode->child(i);
      break;
    }
  }
  if (!current) return;
  tvKeysExpanding(current);
  tvKeys->setUpdatesEnabled(false);
  for (int i = 1; i < elements.size() && current; ++i) {
    KeyNode* child = FindChildNode(current, elements[i], false);
    if (!child) {
      // A key the tree has not listed (made since its parent was read): put it
      // where the sort puts it, so later searches find it and add no twin.
      int position = 0;
      const QString shown = ShownKeyName(elements[i]);
      while (position < current->count() && compareKeyNames(current->child(position)->text, shown) <= 0) ++position;
      child = AddKeyNode(current, elements[i], rvDefault, position);
    }
    if (child) tvKeysExpanding(child);
    current = child;
  }
  if (current) selectNode(current);
  tvKeys->setUpdatesEnabled(true);
  tvKeys->setFocus();
}

void TformMain::addToAddressBox(const QString& shownPath, int image) {
  for (int i = 0; i < cbAddress->count(); ++i) {
    if (cbAddress->itemText(i).compare(shownPath, Qt::CaseInsensitive) == 0) {
      cbAddress->setCurrentIndex(i);
      return;
    }
  }
  cbAddress->addItem(dataImage(image), shownPath);
  cbAddress->setCurrentIndex(cbAddress->count() - 1);
}

void TformMain::cbAddressSelect() {
  QString text = cbAddress->currentText();
  const int slash = text.indexOf(u'\\');
  if (slash >= 0 && text.left(slash).compare(Msg(msgMyComputer), Qt::CaseInsensitive) == 0) text = text.mid(slash + 1);
  JumpToPath(text);
}

void TformMain::cbAddressKeyPress(QChar key) {
  if (key == QChar(13)) JumpToPath(cbAddress->currentText());
}

void TformMain::aKeyJumpExecute() {
  QString text = QApplication::clipboard()->text();
  if (prompter().inputQuery(this, Msg(msgDialogJumpToKeyTitle), Msg(msgDialogJumpToKeyCaption), text))
    JumpToPath(text);
}

void TformMain::aKeyJumpToHKCRCLSIDExecute() {
  if (KeyNode* node = selectedNode()) JumpToPath(QStringLiteral("HKEY_CLASSES_ROOT\\CLSID\\") + node->text);
}

void TformMain::aValueJumpToHKCRCLSIDExecute() {
  const int row = selectedValueRow();
  if (row >= 0 && inBraces(valueModel_->item(row).Caption))
    JumpToPath(QStringLiteral("HKEY_CLASSES_ROOT\\CLSID\\") + valueModel_->item(row).Caption);
}

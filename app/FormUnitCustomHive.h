#pragma once

// The window in which the user picks a hive file in an explorer tree and
// says where to mount it: under which root key and with which key name.
// The main window does the mounting.

#include <QDialog>
#include <QString>

#include <memory>

#include "platform/WinTypes.h"
#include "shell/ShellExplorerTree.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TformOpenCustomHive : public QDialog {
  Q_OBJECT
public:
  // Without a tree, the file-system stand-in.
  explicit TformOpenCustomHive(QWidget* parent = nullptr, ShellExplorerTree* tree = nullptr);

  // Shows the window with `root`, `keyName` and `persistent` set; on OK
  // gives the picked file, the root, the key name and the check box.
  bool Execute(QString& fileName, platform::HKEY& root, bool& persistent, QString& keyName);
  // OK is enabled exactly while a key name is given, a node is selected, it
  // names an existing file, a root is chosen and no key of that name exists
  // under the root yet.
  void UpdateOkButton();

  QLabel* lblNote = nullptr;
  ShellExplorerTree* vstFile = nullptr;
  QComboBox* cbRootKey = nullptr;
  QLineEdit* editKeyName = nullptr;
  QCheckBox* cbPersisent = nullptr;
  // Off at every Execute; the main window reads it after OK.
  QCheckBox* cbCheckSecurity = nullptr;
  QPushButton* bnOk = nullptr;
  QPushButton* bnCancel = nullptr;
};

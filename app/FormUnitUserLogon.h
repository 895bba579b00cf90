#pragma once

// The window in which the user gives the name and password of a local
// account whose registry the main window then opens by logging that user on.
// It offers the local accounts whose hives are not loaded yet.

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TformUserLogon : public QDialog {
  Q_OBJECT
public:
  // The local account names, in the system's order.
  using UserNames = std::function<std::vector<std::string>()>;
  // Without a source, the system's user database. The list is filled here.
  explicit TformUserLogon(QWidget* parent = nullptr, UserNames names = {});

  // Shows the window with `userName` and an empty password; on OK gives both.
  // Both fields are emptied afterwards, whatever the answer.
  bool Execute(QString& userName, QString& password);
  // The local accounts whose hive is not under HKEY_USERS yet. A failing
  // lookup leaves the list empty and is said in an error box.
  void FillUserList();
  void cbUsernameChange();

  QLabel* lblNote = nullptr;
  QComboBox* cbUsername = nullptr;
  QLineEdit* editPassword = nullptr;
  QPushButton* bnOk = nullptr;
  QPushButton* bnCancel = nullptr;

protected:
  void showEvent(QShowEvent* event) override;

private:
  UserNames FNames;
};

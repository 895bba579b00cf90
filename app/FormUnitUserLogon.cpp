#include "app/FormUnitUserLogon.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <exception>

#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/bwlRegTools.h"
#include "core/kxNetInfo.h"
#include "core/kxSecurity.h"

TformUserLogon::TformUserLogon(QWidget* parent, UserNames names) : QDialog(parent), FNames(std::move(names)) {
  setObjectName(QStringLiteral("formUserLogon"));
  setWindowTitle(QStringLiteral("Additional User Logon"));
  lblNote = new QLabel(QStringLiteral("This function allows you to log on additional users to see and edit their "
                                      "registry, using the documented official way (contrary to the /allhives "
                                      "function)."),
                       this);
  lblNote->setWordWrap(true);
  cbUsername = new QComboBox(this);
  cbUsername->setObjectName(QStringLiteral("cbUsername"));
  cbUsername->setEditable(true);
  cbUsername->setInsertPolicy(QComboBox::NoInsert);
  auto* lblUser = new QLabel(QStringLiteral("&User name:"), this);
  lblUser->setBuddy(cbUsername);
  editPassword = new QLineEdit(this);
  editPassword->setObjectName(QStringLiteral("editPassword"));
  // Nobody looking over the user's shoulder reads the password.
  editPassword->setEchoMode(QLineEdit::Password);
  auto* lblPassword = new QLabel(QStringLiteral("&Password:"), this);
  lblPassword->setBuddy(editPassword);
  bnOk = new QPushButton(QStringLiteral("OK"), this);
  bnOk->setObjectName(QStringLiteral("bnOk"));
  bnOk->setDefault(true);
  bnOk->setEnabled(false);
  bnCancel = new QPushButton(QStringLiteral("Cancel"), this);

  auto* grid = new QGridLayout(this);
  grid->addWidget(lblNote, 0, 0, 1, 2);
  grid->addWidget(lblUser, 1, 0);
  grid->addWidget(cbUsername, 1, 1);
  grid->addWidget(lblPassword, 2, 0);
  grid->addWidget(editPassword, 2, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(bnOk);
  buttons->addWidget(bnCancel);
  grid->addLayout(buttons, 3, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog border
  setMinimumWidth(380);

  connect(cbUsername, &QComboBox::editTextChanged, this, &TformUserLogon::cbUsernameChange);
  connect(bnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(bnCancel, &QPushButton::clicked, this, &QDialog::reject);
  FillUserList();
}

void TformUserLogon::FillUserList() {
  cbUsername->clear();
  std::vector<std::string> names;
  if (FNames) {
    names = FNames();
  } else {
    GetLocalUserNames(&names);
  }
  // From the last to the first, as accounts are dropped while going. An
  // account that cannot be looked up ends the filling with an empty list;
  // a name can still be typed.
  try {
    for (auto it = names.size(); it-- > 0;) {
      const std::string sid = kxConvertSidToStringSid(kxLookupAccountName(names[it], {}));
      if (RegistryKeyExists(platform::HKEY_USERS, "\\" + sid, ViewByte::v32)) names.erase(names.begin() + it);
    }
  } catch (const std::exception& e) {
    messageBoxes().messageDlg(this, QString::fromLocal8Bit(e.what()), jmError, buttonBit(cbOK));
    return;
  }
  for (const std::string& name : names) cbUsername->addItem(ansiToQString(name));
  cbUsername->setCurrentIndex(-1);
  cbUsername->setEditText({});
}

void TformUserLogon::cbUsernameChange() { bnOk->setEnabled(!cbUsername->currentText().isEmpty()); }

void TformUserLogon::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  cbUsername->setFocus();
}

bool TformUserLogon::Execute(QString& userName, QString& password) {
  cbUsername->setEditText(userName);
  editPassword->clear();
  cbUsernameChange();
  const bool ok = exec() == QDialog::Accepted;
  if (ok) {
    userName = cbUsername->currentText();
    password = editPassword->text();
  }
  cbUsername->setEditText({});
  editPassword->clear();
  return ok;
}

#include "app/FormUnitCustomHive.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/FileTreeStandIn.h"
#include "app/QtText.h"
#include "core/bwlRegTools.h"

TformOpenCustomHive::TformOpenCustomHive(QWidget* parent, ShellExplorerTree* tree) : QDialog(parent) {
  setObjectName(QStringLiteral("formOpenCustomHive"));
  setWindowTitle(QStringLiteral("Load custom hive"));
  lblNote = new QLabel(QStringLiteral("Select a hive file and choose where to mount this hive please. If you load user "
                                      "hives, these users may not log in unless you close this application, or not "
                                      "until a restart if you check the \"persisent\" option."),
                       this);
  lblNote->setWordWrap(true);
  vstFile = tree ? tree : new FileTreeStandIn(this);
  vstFile->widget()->setParent(this);
  auto* lblFile = new QLabel(QStringLiteral("Hive &file:"), this);
  lblFile->setBuddy(vstFile->widget());
  cbRootKey = new QComboBox(this);
  cbRootKey->setObjectName(QStringLiteral("cbRootKey"));
  cbRootKey->addItems({QStringLiteral("HKEY_LOCAL_MACHINE"), QStringLiteral("HKEY_USERS")});
  cbRootKey->setCurrentIndex(0);
  auto* lblRoot = new QLabel(QStringLiteral("&Root key:"), this);
  lblRoot->setBuddy(cbRootKey);
  editKeyName = new QLineEdit(this);
  editKeyName->setObjectName(QStringLiteral("editKeyName"));
  auto* lblKey = new QLabel(QStringLiteral("&Key name:"), this);
  lblKey->setBuddy(editKeyName);
  cbPersisent = new QCheckBox(QStringLiteral("Persist hive until reboot"), this);
  cbPersisent->setObjectName(QStringLiteral("cbPersisent"));
  cbPersisent->setEnabled(false);
  // A hive file is its owner's to read whole; its keys' own permissions
  // count only when the user asks for it.
  cbCheckSecurity = new QCheckBox(QStringLiteral("Check the keys' own permissions"), this);
  cbCheckSecurity->setObjectName(QStringLiteral("cbCheckSecurity"));
  bnOk = new QPushButton(QStringLiteral("OK"), this);
  bnOk->setObjectName(QStringLiteral("bnOk"));
  bnOk->setDefault(true);
  bnOk->setEnabled(false);
  bnCancel = new QPushButton(QStringLiteral("Cancel"), this);

  auto* grid = new QGridLayout(this);
  grid->addWidget(lblNote, 0, 0, 1, 2);
  grid->addWidget(lblFile, 1, 0, 1, 2);
  grid->addWidget(vstFile->widget(), 2, 0, 1, 2);
  grid->addWidget(lblRoot, 3, 0);
  grid->addWidget(cbRootKey, 3, 1);
  grid->addWidget(lblKey, 4, 0);
  grid->addWidget(editKeyName, 4, 1);
  grid->addWidget(cbPersisent, 5, 1);
  grid->addWidget(cbCheckSecurity, 6, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(bnOk);
  buttons->addWidget(bnCancel);
  grid->addLayout(buttons, 7, 0, 1, 2);
  grid->setRowStretch(2, 1);
  grid->setColumnStretch(1, 1);
  resize(460, 480);

  vstFile->OnClick = [this] { UpdateOkButton(); };
  vstFile->OnKeyUp = [this] { UpdateOkButton(); };
  connect(editKeyName, &QLineEdit::textChanged, this, &TformOpenCustomHive::UpdateOkButton);
  connect(cbRootKey, &QComboBox::currentIndexChanged, this, &TformOpenCustomHive::UpdateOkButton);
  connect(bnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(bnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TformOpenCustomHive::UpdateOkButton() {
  const QString keyName = editKeyName->text();
  bool ok = !keyName.isEmpty() && vstFile->SelectedCount() > 0;
  if (ok) {
    const QFileInfo file(QString::fromStdU16String(vstFile->GetSelectedPath()));
    ok = !file.filePath().isEmpty() && file.exists() && file.isFile();
  }
  ok = ok && cbRootKey->currentIndex() >= 0;
  ok = ok && !RegistryKeyExists(NameToRootKey(qStringToAnsi(cbRootKey->currentText())),
                                qStringToAnsi(QStringLiteral("\\") + keyName), ViewByte::v32);
  bnOk->setEnabled(ok);
}

bool TformOpenCustomHive::Execute(QString& fileName, platform::HKEY& root, bool& persistent, QString& keyName) {
  cbRootKey->setCurrentIndex(cbRootKey->findText(QString::fromStdString(RootKeyToLongName(root))));
  editKeyName->setText(keyName);
  cbPersisent->setChecked(persistent);
  cbCheckSecurity->setChecked(false);
  UpdateOkButton();
  if (exec() != QDialog::Accepted) return false;
  fileName = QString::fromStdU16String(vstFile->GetSelectedPath());
  root = NameToRootKey(qStringToAnsi(cbRootKey->currentText()));
  keyName = editKeyName->text();
  persistent = cbPersisent->isChecked();
  return true;
}

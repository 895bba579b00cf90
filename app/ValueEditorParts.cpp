#include "app/ValueEditorParts.h"

#include <QBoxLayout>
#include <QDialog>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

#include "app/UiSeams.h"

QLineEdit* makeReadOnlyField(QWidget* parent, const char* name) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(QString::fromLatin1(name));
  field->setReadOnly(true);
  QPalette grey = field->palette();
  grey.setColor(QPalette::Base, grey.color(QPalette::Window));
  field->setPalette(grey);
  return field;
}

void addOkCancel(QDialog* dialog, QBoxLayout* layout, QPushButton*& ok, QPushButton*& cancel) {
  ok = new QPushButton(QStringLiteral("OK"), dialog);
  ok->setObjectName(QStringLiteral("bnOK"));
  ok->setDefault(true);
  cancel = new QPushButton(QStringLiteral("Cancel"), dialog);
  cancel->setObjectName(QStringLiteral("bnCancel"));
  layout->addStretch(1);
  layout->addWidget(ok);
  layout->addWidget(cancel);
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

int modalResultOf(int dialogCode) { return dialogCode == QDialog::Accepted ? mrOk : mrCancel; }

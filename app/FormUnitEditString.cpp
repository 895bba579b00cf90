#include "app/FormUnitEditString.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <limits>

#include "app/QtText.h"
#include "app/ValueEditorParts.h"

TformEditString::TformEditString(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("formEditString"));
  setWindowTitle(QStringLiteral("Change string data"));
  GroupBox1 = new QGroupBox(QStringLiteral("Registry Value"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  editValue = makeReadOnlyField(GroupBox1, "editValue");
  editData = new QLineEdit(GroupBox1);
  editData->setObjectName(QStringLiteral("editData"));
  // A line edit keeps 32767 characters unless told otherwise; a longer string
  // value would come back cut.
  editData->setMaxLength(std::numeric_limits<int>::max());
  auto* form = new QVBoxLayout(GroupBox1);
  form->addWidget(new QLabel(QStringLiteral("Name of value:"), GroupBox1));
  form->addWidget(editValue);
  form->addWidget(new QLabel(QStringLiteral("Value data:"), GroupBox1));
  form->addWidget(editData);

  auto* buttons = new QHBoxLayout;
  addOkCancel(this, buttons, bnOK, bnCancel);
  auto* top = new QVBoxLayout(this);
  top->addWidget(GroupBox1);
  top->addLayout(buttons);
  resize(380, 190);
}

void TformEditString::Fill(const QString& valueName, const QString& text) {
  editValue->setText(ShownKeyName(valueName));
  editData->setText(text);
}

int TformEditString::Execute(const QString& valueName, QString& text) {
  Fill(valueName, text);
  const int result = modalResultOf(exec());
  text = editData->text();
  return result;
}

void TformEditString::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  editData->setFocus();
}

#include "app/FormUnitEditType.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/QtText.h"
#include "app/ValueEditorParts.h"

bool CanChangeValueType(int kind) {
  return kind >= 0 && kind < kRegDataTypeCount && ValueTypeTargets[static_cast<std::size_t>(kind)] != 0;
}

TformValueType::TformValueType(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("formValueType"));
  setWindowTitle(QStringLiteral("Change registry value type"));
  GroupBox1 = new QGroupBox(QStringLiteral("Registry Value"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  editValue = makeReadOnlyField(GroupBox1, "editValue");
  editData = makeReadOnlyField(GroupBox1, "editData");
  editTypeCurrent = makeReadOnlyField(GroupBox1, "editTypeCurrent");
  auto* grid = new QGridLayout(GroupBox1);
  const struct {
    const char* caption;
    QLineEdit* field;
  } rows[] = {{"Name of value:", editValue}, {"Value data:", editData}, {"Current type:", editTypeCurrent}};
  int row = 0;
  for (const auto& r : rows) {
    grid->addWidget(new QLabel(QString::fromLatin1(r.caption), GroupBox1), row, 0);
    grid->addWidget(r.field, row, 1);
    ++row;
  }

  cbTypeNew = new QComboBox(this);
  cbTypeNew->setObjectName(QStringLiteral("cbTypeNew"));
  auto* change = new QHBoxLayout;
  auto* changeLabel = new QLabel(QStringLiteral("Change type to:"), this);
  changeLabel->setBuddy(cbTypeNew);
  change->addWidget(changeLabel);
  change->addWidget(cbTypeNew, 1);

  auto* buttons = new QHBoxLayout;
  addOkCancel(this, buttons, bnOK, bnCancel);
  bnOK->setEnabled(false);
  auto* top = new QVBoxLayout(this);
  top->addWidget(GroupBox1);
  top->addLayout(change);
  top->addStretch(1);
  top->addLayout(buttons);
  resize(400, 240);

  connect(cbTypeNew, &QComboBox::currentIndexChanged, this, [this](int index) { bnOK->setEnabled(index >= 0); });
}

void TformValueType::Fill(const QString& valueName, const QString& dataText, TRegDataType currentKind) {
  editValue->setText(ShownKeyName(valueName));
  editData->setText(dataText);
  editTypeCurrent->setText(QString::fromLatin1(RegDataTypeToStr(currentKind)));
  cbTypeNew->clear();
  const std::uint16_t targets = currentKind < kRegDataTypeCount ? ValueTypeTargets[currentKind] : 0;
  for (int n = 0; n < kRegDataTypeCount; ++n) {
    if (targets & (1u << n))
      cbTypeNew->addItem(QString::fromLatin1(RegDataTypeToStr(static_cast<TRegDataType>(n))));
  }
  // A drop-down list picks its first entry by itself; the user must choose.
  cbTypeNew->setCurrentIndex(-1);
  bnOK->setEnabled(false);
}

bool TformValueType::ChosenKind(TRegDataType& kind) const {
  if (cbTypeNew->currentIndex() < 0) return false;
  kind = StrToRegDataType(cbTypeNew->currentText().toStdString());
  return true;
}

bool TformValueType::Execute(const QString& valueName, const QString& dataText, TRegDataType currentKind,
                             TRegDataType& newKind) {
  Fill(valueName, dataText, currentKind);
  return exec() == QDialog::Accepted && ChosenKind(newKind);
}


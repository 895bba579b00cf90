#include "app/FormUnitResourceRequirementsList.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/ValueEditorParts.h"
#include "core/ResourceRequirementsList.h"

TformEditResourceRequirementsList::TformEditResourceRequirementsList(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("formEditResourceRequirementsList"));
  setWindowTitle(QStringLiteral("Display Resource Requirements List"));

  // The header's interface type, bus and slot are not read from the data.
  auto* header = new QGridLayout;
  const struct {
    const char* caption;
    const char* name;
    QLabel** shown;
  } fields[] = {{"Interface type:", "lblInterfaceType", &lblInterfaceType},
                {"Bus number:", "lblBusNumber", &lblBusNumber},
                {"Slot number:", "lblSlotNumber", &lblSlotNumber}};
  int row = 0;
  for (const auto& f : fields) {
    *f.shown = new QLabel(QStringLiteral("?"), this);
    (*f.shown)->setObjectName(QString::fromLatin1(f.name));
    header->addWidget(new QLabel(QString::fromLatin1(f.caption), this), row, 0);
    header->addWidget(*f.shown, row, 1);
    ++row;
  }
  header->setColumnStretch(1, 1);

  lvList = new QTreeWidget(this);
  lvList->setObjectName(QStringLiteral("lvList"));
  lvList->setRootIsDecorated(false);
  lvList->setUniformRowHeights(true);
  lvList->setSelectionMode(QAbstractItemView::SingleSelection);
  const struct {
    const char* caption;
    int width;
  } columns[] = {{"Type", 64},  {"Minimum Address", 66}, {"Maximum Address", 66},
                 {"Length", 28}, {"Align", 28},          {"Options", 80}};
  QStringList captions;
  for (const auto& c : columns) captions << QString::fromLatin1(c.caption);
  lvList->setHeaderLabels(captions);
  for (int i = 0; i < static_cast<int>(std::size(columns)); ++i) lvList->setColumnWidth(i, columns[i].width);

  auto* buttons = new QHBoxLayout;
  addOkCancel(this, buttons, bnOK, bnCancel);
  auto* top = new QVBoxLayout(this);
  top->addLayout(header);
  top->addWidget(lvList, 1);
  top->addLayout(buttons);
  resize(470, 300);
}

void TformEditResourceRequirementsList::Fill(std::span<const std::uint8_t> data) {
  lvList->clear();
  for (const ResourceRequirementRow& r : DecodeResourceRequirementsList(data)) {
    const QStringList texts = {QString::fromStdString(r.type),   QString::fromStdString(r.minimum),
                               QString::fromStdString(r.maximum), QString::fromStdString(r.length),
                               QString::fromStdString(r.align),   QString::fromStdString(r.options)};
    lvList->addTopLevelItem(new QTreeWidgetItem(texts));
  }
}

#include "app/FormUnitRemoteConnect.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "app/UiSeams.h"
#include "core/Networks.h"

void MergeNeighborhoodNames(QStringList& list, std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  for (const std::string& raw : names) {
    QString name = QString::fromLocal8Bit(raw.data(), qsizetype(raw.size()));
    const qsizetype open = name.indexOf(u'(');
    const qsizetype close = name.indexOf(u')');
    if (open >= 0 && close >= 0) name = name.mid(open + 1, close - open - 1);
    name.prepend(QStringLiteral("\\\\"));
    if (!list.contains(name, Qt::CaseInsensitive)) list << name;
  }
}

TformRemoteConnect::TformRemoteConnect(QWidget* parent, BrowserFactory browsers)
    : QDialog(parent), FBrowsers(std::move(browsers)) {
  setObjectName(QStringLiteral("formRemoteConnect"));
  setWindowTitle(QStringLiteral("Connect to remote registry"));
  lblCaption = new QLabel(QStringLiteral("Please enter the name of the remote computer:"), this);
  cbRemoteName = new QComboBox(this);
  cbRemoteName->setObjectName(QStringLiteral("cbRemoteName"));
  cbRemoteName->setEditable(true);
  cbRemoteName->setInsertPolicy(QComboBox::NoInsert);
  bnSearch = new QPushButton(QStringLiteral("&Search"), this);
  bnSearch->setObjectName(QStringLiteral("bnSearch"));
  // A busy indicator stands for the find-computer animation; it runs only
  // while a search does.
  aniSearch = new QProgressBar(this);
  aniSearch->setRange(0, 1);
  aniSearch->setTextVisible(false);
  aniSearch->setFixedWidth(48);
  lblNote = new QLabel(QStringLiteral("Note: Connecting to a remote registry will only work if the remote computer is "
                                      "running Windows NT, 2000 or XP, or Windows ME if the remote service is running."),
                       this);
  lblNote->setWordWrap(true);
  bnOK = new QPushButton(QStringLiteral("OK"), this);
  bnOK->setDefault(true);
  bnCancel = new QPushButton(QStringLiteral("Cancel"), this);

  auto* grid = new QGridLayout(this);
  grid->addWidget(lblCaption, 0, 0, 1, 3);
  grid->addWidget(cbRemoteName, 1, 0);
  grid->addWidget(bnSearch, 1, 1);
  grid->addWidget(aniSearch, 1, 2);
  grid->addWidget(lblNote, 2, 0, 1, 3);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(bnOK);
  buttons->addWidget(bnCancel);
  grid->addLayout(buttons, 3, 0, 1, 3);
  grid->setColumnStretch(0, 1);
  grid->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog border
  setMinimumWidth(420);

  connect(bnSearch, &QPushButton::clicked, this, &TformRemoteConnect::bnSearchClick);
  connect(bnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(bnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TformRemoteConnect::bnSearchClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  aniSearch->setRange(0, 0);
  try {
    std::unique_ptr<platform::NetworkBrowser> browser = FBrowsers ? FBrowsers() : platform::makeMdnsNetworkBrowser();
    if (!browser) throw ECannotFindNetwork();
    TNetworkNeighborhood hood(*browser);
    TStringObjectList names;
    hood.GetComputerNames(names);
    QStringList list;
    for (int i = 0; i < cbRemoteName->count(); ++i) list << cbRemoteName->itemText(i);
    const QString text = cbRemoteName->currentText();
    MergeNeighborhoodNames(list, names.Strings());
    for (qsizetype i = cbRemoteName->count(); i < list.size(); ++i) cbRemoteName->addItem(list[i]);
    cbRemoteName->setEditText(text);
  } catch (const std::exception& e) {
    // The list keeps what it had; the failure is told, not swallowed.
    aniSearch->setRange(0, 1);
    QApplication::restoreOverrideCursor();
    messageBoxes().messageDlg(this, QString::fromLocal8Bit(e.what()), jmError, buttonBit(cbOK));
    return;
  }
  aniSearch->setRange(0, 1);
  QApplication::restoreOverrideCursor();
}

#include "app/FormUnitQELValue.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/UnitMessages.h"
#include "core/bwlRegTools.h"

const std::array<RuleItemType, kRuleItemTypeCount> kRuleItemTypes = {{
    {"REG_CLASSID", "Class ID"},
    {"REG_INTERFACE", "Interface"},
    {"REG_TYPELIB", "Type library"},
    {"REG_ROOTCLASS", "Root class"},
    {"REG_BHO", "Browser helper object"},
    {"REG_DPF", "Downloaded program file"},
    {"REG_IEEXTENSION", "Browser extension"},
    {"REG_IEMENUEXT", "Browser menu extension"},
    {"REG_IETOOLBAR", "Browser toolbar"},
    {"REG_EXPLORERBAR", "Explorer bar"},
    {"REG_SETTINGS", "Settings"},
    {"REG_GLOBALSETTINGS", "Global settings"},
    {"REG_USERSETTINGS", "User settings"},
    {"REG_ACTIVEXSETTINGS", "ActiveX settings"},
    {"REG_IESEARCHHOOK", "Browser search hook"},
    {"REG_RASPROFILE", "Dial-up profile"},
    {"REG_APPID", "Application ID"},
    {"REG_FILEEXTENSION", "File extension"},
    {"REG_AUTORUN", "Autorun entry"},
    {"REG_UNINSTALL", "Uninstall entry"},
    {"REG_MODULEUSAGE", "Module usage"},
    {"REG_SHAREDDLL", "Shared library"},
    {"REG_IESEARCHURL", "Browser search URL"},
    {"REG_IESEARCHBAR", "Browser search bar"},
    {"REG_IESEARCHPAGE", "Browser search page"},
    {"REG_IESTARTPAGE", "Browser start page"},
    {"REG_IEDEFAULTPAGE", "Browser default page"},
    {"REG_TCPHIJACK", "TCP/IP hijack"},
    {"REG_PROTOCOLFILTER", "Protocol filter"},
    {"REG_SERVICE", "Service"},
    {"FILE_LIBRARY", "Library"},
    {"FILE_DATA", "Data file"},
    {"FILE_EXE", "Executable"},
    {"FILE_AD", "Advertisement"},
    {"FILE_INSTSTUB", "Installer stub"},
    {"FILE_INSTALLER", "Installer"},
    {"FILE_UNINSTALLER", "Uninstaller"},
    {"FILE_WEBPAGE", "Web page"},
    {"FILE_TEXT", "Text file"},
    {"FILE_SYSTEM", "System file"},
    {"FILE_SOUND", "Sound file"},
    {"FILE_DPF", "Downloaded program file"},
    {"FILE_HELP", "Help file"},
    {"FILE_DIALEREXE", "Dialer"},
    {"FILE_BADBOOKMARK", "Bad bookmark"},
    {"FILE_TEMP", "Temporary file"},
    {"FILE_LINK", "Shortcut"},
    {"FILE_PICTURE", "Picture"},
    {"FILE_LOG", "Log file"},
    {"FILE_PROG", "Program file"},
    {"FILE_AUTOSTART", "Autostart file"},
    {"FILE_UNINSTALLER", "Uninstaller"},
    {"FILE_DESKTOPLINK", "Desktop shortcut"},
    {"FILE_GROUPENTRY", "Program group entry"},
    {"FILE_STARTMENUITEM", "Start menu item"},
    {"FILE_QUICKLAUNCH", "Quick launch item"},
    {"FILE_CONFIGURATION", "Configuration file"},
    {"FILE_SERVICE", "Service file"},
    {"FILE_ADS", "Alternate data stream"},
    {"DIR_PROG", "Program folder"},
    {"DIR_DOWNLOAD", "Download folder"},
    {"DIR_PROGGROUP", "Program group folder"},
    {"DIR_TEMP", "Temporary folder"},
    {"DIR_PERSONAL", "Personal folder"},
    {"DIR_APPDATA", "Application data folder"},
    {"DIR_COMMON_APPDATA", "Common application data folder"},
    {"DIR_COMMON_DOCS", "Common documents folder"},
    {"DIR_COMMON_FILES", "Common files folder"},
    {"BROWSER_TRACKINGCOOKIE", "Tracking cookie"},
    {"BROWSER_COOKIE", "Cookie"},
    {"BROWSER_CACHE", "Browser cache"},
    {"BROWSER_BOOKMARK", "Bookmark"},
    {"BROWSER_BOOKMARKGROUP", "Bookmark group"},
    {"BROWSER_PAGE", "Browser page"},
    {"API_WINSOCK", "Winsock"},
}};

QString ValueRuleLine(RuleCommand command, bool withParameter, const QString& description, const QString& root,
                      const QString& keyPath, const QString& valueName, const QString& parameter) {
  const char* format = nullptr;
  switch (command) {
    case RuleCommand::value:
      format = withParameter ? "RegyValue:\"%s\",%s,\"%s\",\"%s\",\"%s\"" : "RegyValue:\"%s\",%s,\"%s\",\"%s\"";
      break;
    case RuleCommand::remove: format = "RegyRemove:\"%s\",%s,\"%s\",\"%s\",\"%s\""; break;
    case RuleCommand::change: format = "RegyChange:\"%s\",%s,\"%s\",\"%s=%s\""; break;
    case RuleCommand::fix: format = "RegyFix:\"%s\",%s,\"%s\",\"%s=%s\""; break;
  }
  return FormatMessage(QString::fromLatin1(format), {description, root, keyPath, valueName, parameter});
}

TformOpenQELValue::TformOpenQELValue(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Create OpenQEL for registry value"));
  auto* layout = new QVBoxLayout(this);

  auto* location = new QGroupBox(QStringLiteral("&Location"), this);
  auto* form = new QFormLayout(location);
  auto label = [&](const char* caption) {
    auto* value = new QLabel(location);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QString::fromLatin1(caption), value);
    return value;
  };
  lRootValue = label("Root:");
  lPathValue = label("Path:");
  lValueValue = label("Value:");
  lTypeValue = label("Type:");
  lDataValue = label("Data:");
  layout->addWidget(location);

  auto* description = new QGroupBox(QStringLiteral("Description"), this);
  auto* descriptionLayout = new QVBoxLayout(description);
  cbDescription = new QComboBox(description);
  cbDescription->setObjectName(QStringLiteral("cbDescription"));
  cbDescription->setEditable(true);
  cbDescription->setInsertPolicy(QComboBox::NoInsert);
  descriptionLayout->addWidget(cbDescription);
  layout->addWidget(description);

  auto* command = new QGroupBox(QStringLiteral("OpenQEL command"), this);
  auto* commandLayout = new QVBoxLayout(command);
  rbRegyValue = new QRadioButton(QStringLiteral("Regy&Value,"), command);
  cbVerifier = new QCheckBox(QStringLiteral("using the &advanced registry parameter below:"), command);
  rbRegyRemove = new QRadioButton(QStringLiteral("Regy&Remove, removing the text below from the data:"), command);
  rbRegyChange = new QRadioButton(QStringLiteral("Regy&Change, changing the data back to the default below:"), command);
  rbRegyFix = new QRadioButton(QStringLiteral("Regy&Fix, removing the value if the data is the same as below:"), command);
  editVerifier = new QLineEdit(command);
  editVerifier->setObjectName(QStringLiteral("editVerifier"));
  rbRegyValue->setChecked(true);
  auto* valueRow = new QHBoxLayout;
  valueRow->addWidget(rbRegyValue);
  valueRow->addWidget(cbVerifier);
  valueRow->addStretch();
  commandLayout->addLayout(valueRow);
  commandLayout->addWidget(rbRegyRemove);
  commandLayout->addWidget(rbRegyChange);
  commandLayout->addWidget(rbRegyFix);
  commandLayout->addWidget(editVerifier);
  layout->addWidget(command);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QStringLiteral("O&K"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  // A fixed border: the dialog keeps the size its contents need.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  FormCreate();
}

void TformOpenQELValue::FormCreate() {
  for (const RuleItemType& type : kRuleItemTypes)
    cbDescription->addItem(QStringLiteral("<$") + QString::fromLatin1(type.identifier.data(), type.identifier.size()) +
                           u'>');
  cbDescription->setEditText(QStringLiteral("enter or select description text here"));
}

void TformOpenQELValue::Prepare(platform::HKEY root, TRegDataType kind, const QString& dataText,
                                const QString& valueName, const QString& keyPath) {
  lRootValue->setText(QString::fromStdString(RootKeyToLongName(root)));
  lPathValue->setText(keyPath);
  lValueValue->setText(valueName);
  lTypeValue->setText(QString::fromStdString(RegDataTypeToStr(kind)));
  lDataValue->setText(dataText);
  // Only text can have a part of it removed; a remove command chosen for an
  // earlier string value stays chosen.
  rbRegyRemove->setEnabled(kind == rdString || kind == rdExpandString || kind == rdMultiString);
  editVerifier->setText(valueName + u'=' + dataText);
}

QString TformOpenQELValue::RuleLine() const {
  RuleCommand command = RuleCommand::value;
  if (rbRegyRemove->isChecked())
    command = RuleCommand::remove;
  else if (rbRegyChange->isChecked())
    command = RuleCommand::change;
  else if (rbRegyFix->isChecked())
    command = RuleCommand::fix;
  return ValueRuleLine(command, cbVerifier->isChecked(), cbDescription->currentText(), lRootValue->text(),
                       lPathValue->text(), lValueValue->text(), editVerifier->text());
}

bool TformOpenQELValue::Execute(platform::HKEY root, TRegDataType kind, QString& ruleLine, const QString& dataText,
                                const QString& valueName, const QString& keyPath) {
  Prepare(root, kind, dataText, valueName, keyPath);
  if (exec() != QDialog::Accepted) return false;
  ruleLine = RuleLine();
  return true;
}

TformOpenQELValue& formOpenQELValue() {
  static TformOpenQELValue* form = new TformOpenQELValue;
  return *form;
}

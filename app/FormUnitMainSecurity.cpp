// The main window's "Security information" and "Info database" pages: the
// security tree of the selected key, its security report to a file or the
// clipboard, the NULL DACL, and the notes the information database keeps on
// the key.

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "app/DataImages.h"
#include "app/FormUnitMain.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/UnitRegistryInfo.h"
#include "core/bwlRegTools.h"
#include "core/kxSecurityGUI.h"
#include "platform/AtomicFile.h"
#include "platform/ErrorText.h"
#include "platform/ProgramFiles.h"
#include "platform/RegistryStore.h"

namespace {

// Images of the security tree in the main window's image list.
constexpr int kAccountImage = 5;
constexpr int kCategoryImage = 1;
constexpr int kLeafImage = 6;

// The security tree page's QTreeWidget as the filling sees it.
class TreeWidgetSecurityTree final : public SecurityTree {
public:
  explicit TreeWidgetSecurityTree(QTreeWidget* tree) : tree_(tree) {}
  void BeginUpdate() override { tree_->setUpdatesEnabled(false); }
  void EndUpdate() override { tree_->setUpdatesEnabled(true); }
  void Clear() override { tree_->clear(); }
  Node AddChild(Node parent, const std::string& text, int image) override {
    auto* item = parent ? new QTreeWidgetItem(static_cast<QTreeWidgetItem*>(parent))
                        : new QTreeWidgetItem(tree_);
    item->setText(0, ansiToQString(text));
    item->setIcon(0, dataImage(image));
    return item;
  }
  void SetHint(const std::string& hint) override {
    QString text = ansiToQString(hint);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(u'\n')) text.chop(1);
    tree_->setToolTip(text);
  }

private:
  QTreeWidget* tree_;
};

// The NULL DACL's refusal in an information box.
class WindowInformationBox final : public InformationBox {
public:
  explicit WindowInformationBox(QWidget* parent) : parent_(parent) {}
  void showInformation(const std::string& text) override {
    messageBoxes().messageDlg(parent_, ansiToQString(text), jmInformation, buttonBit(cbOK));
  }

private:
  QWidget* parent_;
};

// Why the file of the mounted hive holding the key may not be written;
// empty when it may, or when the key lies in no mounted hive file.
QString hiveFileRefusal(const NodeLocation& location) {
  if (location.root != platform::HKEY_LOCAL_MACHINE && location.root != platform::HKEY_USERS) return {};
  const QString mountName = location.keyPath.section(u'\\', 1, 1);
  if (mountName.isEmpty()) return {};
  std::filesystem::path file, given;
  if (platform::registry::mountedHiveFile(location.root, mountName.toStdU16String(), &file, &given) !=
      platform::ERROR_SUCCESS)
    return {};
  const int error = platform::checkReplaceable(file);
  if (error == 0) return {};
  struct stat st {};
  const bool readOnly = ::stat(file.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  const QString why = readOnly ? QStringLiteral("the file is read-only")
                               : ansiToQString(platform::systemErrorText(platform::errnoToWin32Error(error)));
  return QStringLiteral("Nothing was changed: the hive file \"%1\" may not be written (%2). "
                        "Mount a writable copy of it to change its keys.")
      .arg(QString::fromStdString(given.string()), why);
}

QStringList memoLines(const QPlainTextEdit* memo) {
  QString text = memo->toPlainText();
  if (text.isEmpty()) return {};
  return text.split(u'\n');
}

}  // namespace

void TformMain::connectSecurityPages() {
  connect(mInfoDBKey, &QPlainTextEdit::textChanged, this, [this] { mInfoDBKeyKeyPress(); });
  connect(mInfoDBValue, &QPlainTextEdit::textChanged, this, [this] { mInfoDBValueKeyPress(); });
  if (auto* add = tsDatabaseInfoDebug->findChild<QToolButton*>(QStringLiteral("bnInfoDBAdd")))
    connect(add, &QToolButton::clicked, this, &TformMain::bnInfoDBAddClick);
}

// ---- security page --------------------------------------------------------

void TformMain::ShowSelectedKeySecurity(const NodeLocation& location) {
  TreeWidgetSecurityTree tree(tvInfo);
  try {
    ShowKeySecurity(location.root, qStringToAnsi(location.keyPath), tree, kAccountImage, kCategoryImage, kLeafImage,
                    location.view);
  } catch (...) {
    // The page keeps what the filling left.
    tvInfo->setUpdatesEnabled(true);
  }
}

QString TformMain::SecurityReportText(const NodeLocation& location) const {
  QString text;
  for (const std::string& line : GetKeyAccessReport(location.root, qStringToAnsi(location.keyPath), location.view))
    text += ansiToQString(line) + QStringLiteral("\r\n");
  return text;
}

bool TformMain::SaveSecurityReport(const NodeLocation& location, const QString& fileName) {
  const std::string text = qStringToAnsi(SecurityReportText(location));
  const int error = platform::writeFileAtomically(
      std::filesystem::path(fileName.toStdString()), std::as_bytes(std::span<const char>(text.data(), text.size())));
  if (error == 0) return true;
  showError(QStringLiteral("Cannot create file \"%1\". %2")
                .arg(fileName, ansiToQString(platform::systemErrorText(platform::errnoToWin32Error(error)))));
  return false;
}

void TformMain::aSecurityInformationExportToFileExecute() {
  if (!keyActionRules().securityToFile) return;
  const NodeLocation location = GetSelectedLocation();
  const QString fileName =
      prompter().saveFileName(this, QString(), QStringLiteral("Text files (*.txt)"), QStringLiteral("txt"));
  if (!fileName.isEmpty()) SaveSecurityReport(location, fileName);
}

void TformMain::aSecurityInformationExportToClipboardExecute() {
  if (!keyActionRules().securityToClipboard) return;
  QApplication::clipboard()->setText(SecurityReportText(GetSelectedLocation()));
}

void TformMain::aSecurityInformationGrantAllExecute() {
  if (!keyActionRules().securityGrantAll) return;
  const NodeLocation location = GetSelectedLocation();
  // Everyone may read, change and delete the key afterwards: asked first.
  const QString keyText = ansiToQString(RootKeyToLongName(location.root)) + location.keyPath;
  if (messageBoxes().messageDlg(this,
                                QStringLiteral("Grant all rights to everyone on the key \"%1\"?\n"
                                               "Everyone may then read, change and delete it.")
                                    .arg(keyText),
                                jmConfirmation, buttonBit(cbYes) | buttonBit(cbNo)) != mrYes)
    return;
  if (const QString refusal = hiveFileRefusal(location); !refusal.isEmpty()) {
    messageBoxes().messageDlg(this, refusal, jmError, buttonBit(cbOK));
    return;
  }
  WindowInformationBox box(this);
  SetKeyNullDacl(location.root, qStringToAnsi(location.keyPath), location.view, box);
}

// ---- information page -----------------------------------------------------

TRegistryInfo& TformMain::InfoDatabase() {
  if (!FInfoDatabase) FInfoDatabase = std::make_unique<TRegistryInfo>();
  return *FInfoDatabase;
}

void TformMain::ShowKeyInfo(const QString& keyText) {
  bnInfoDBSaveKeyInfo->setVisible(false);
  bnInfoDBSaveValueInfo->setVisible(false);
  fillingInfo_ = true;
  mInfoDBKey->setUpdatesEnabled(false);
  QStringList lines;
  if (const TRegistryInfoItem* item = InfoDatabase().FindKey(qStringToAnsi(keyText))) {
    for (const std::string& line : item->Info) lines << ansiToQString(line);
  }
  mInfoDBKey->setPlainText(lines.join(u'\n'));
  mInfoDBKey->setUpdatesEnabled(true);
  fillingInfo_ = false;
}

void TformMain::mInfoDBKeyKeyPress() {
  if (!fillingInfo_) bnInfoDBSaveKeyInfo->setVisible(true);
}

void TformMain::mInfoDBValueKeyPress() {
  if (!fillingInfo_) bnInfoDBSaveValueInfo->setVisible(true);
}

bool TformMain::SaveInfoDatabase() {
  const std::filesystem::path file = platform::programFileWritePlace(platform::kInformationDatabaseFile);
  try {
    if (const int rc = platform::createPrivateFolders(file.parent_path())) {
      throw std::runtime_error("Cannot create file \"" + file.string() + "\". " +
                               platform::systemErrorText(platform::errnoToWin32Error(rc)));
    }
    InfoDatabase().SaveToFile(file.string());
    return true;
  } catch (const std::exception& e) {
    showError(ansiToQString(e.what()));
    return false;
  }
}

void TformMain::aInfoDBSaveKeyInfoExecute() {
  KeyNode* node = selectedNode();
  if (!node) return;
  const NodeLocation location = GetNodeLocation(node);
  const std::string keyText = RootKeyToLongName(location.root) + qStringToAnsi(location.keyPath);
  TRegistryInfoItem* item = InfoDatabase().FindKey(keyText);
  if (!item) {
    item = &InfoDatabase().Add();
    item->Key = keyText;
    item->Value.clear();
  }
  item->Info.clear();
  for (const QString& line : memoLines(mInfoDBKey)) item->Info.push_back(qStringToAnsi(line));
  // A failed save keeps the button, so the notes can still be saved later.
  if (SaveInfoDatabase()) bnInfoDBSaveKeyInfo->setVisible(false);
}

void TformMain::aInfoDBSaveValueInfoExecute() {}

void TformMain::bnInfoDBAddClick() {
  auto* key = tsDatabaseInfoDebug->findChild<QLineEdit*>(QStringLiteral("editInfoDBKey"));
  auto* value = tsDatabaseInfoDebug->findChild<QLineEdit*>(QStringLiteral("editInfoDBValue"));
  auto* memo = tsDatabaseInfoDebug->findChild<QPlainTextEdit*>(QStringLiteral("memoInfoDBInfo"));
  if (!key || !value || !memo) return;
  TRegistryInfoItem& item = InfoDatabase().Add();
  item.Key = qStringToAnsi(key->text());
  item.Value = qStringToAnsi(value->text());
  for (const QString& line : memoLines(memo)) item.Info.push_back(qStringToAnsi(line));
}

void TformMain::bnInfoDBLoadClick() {
  try {
    const std::filesystem::path file = platform::findProgramFile(platform::kInformationDatabaseFile);
    if (!file.empty()) InfoDatabase().LoadFromFile(file.string());
  } catch (const std::exception& e) {
    showError(ansiToQString(e.what()));
  }
}

void TformMain::bnInfoDBSaveClick() { SaveInfoDatabase(); }

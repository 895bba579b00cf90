// The main window's "Load hive file..." and "Open user registry (logon)...":
// a hive file mounted under HKEY_LOCAL_MACHINE or HKEY_USERS, for this run
// only (a mount lasts as long as the process that made it), and the logon of
// another local user, which this platform does not offer and says so.
// A hive that mounts read-only says so at once (status bar, a marked node),
// and again with every change it refuses.

#include <QCheckBox>
#include <QLabel>
#include <QStringList>

#include <algorithm>
#include <optional>

#include "app/FormUnitCustomHive.h"
#include "app/FormUnitMain.h"
#include "app/FormUnitUserLogon.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/bwlRegHives.h"
#include "core/bwlRegTools.h"
#include "platform/ErrorText.h"
#include "platform/RegistryStore.h"

namespace {

// The hive holding root\keyPath, when one does.
std::optional<platform::registry::MountStatus> mountOf(platform::HKEY root, const QString& keyPath) {
  platform::registry::MountStatus status;
  if (platform::registry::mountStatusOf(root, platform::registry::splitKeyPath(keyPath.toStdU16String()), &status) !=
      platform::ERROR_SUCCESS)
    return std::nullopt;
  return status;
}

QString fileText(const platform::registry::MountStatus& status) {
  return QString::fromStdString(status.file.string());
}

}  // namespace

QString TformMain::ReadOnlyHiveNote(platform::HKEY root, const QString& keyPath) {
  using platform::registry::HiveReadOnlyReason;
  const auto status = mountOf(root, keyPath);
  if (!status) return {};
  const QString file = fileText(*status);
  switch (status->readOnly) {
    case HiveReadOnlyReason::None:
      return {};
    case HiveReadOnlyReason::Dirty:
      return QStringLiteral("The hive file %1 is loaded read-only: its last changes are still in its transaction "
                            "logs, and no usable logs (%2.LOG1, %2.LOG2) lie beside it. Its keys can be read and "
                            "exported as the file holds them; to change it, put its logs beside it and load it "
                            "again.")
          .arg(file, status->file.filename().string().c_str());
    case HiveReadOnlyReason::Damaged:
      return QStringLiteral("The hive file %1 is loaded read-only: it is damaged. Its sound keys can be read and "
                            "exported; to change them, export them to a .reg file and import that into a sound "
                            "hive.")
          .arg(file);
    case HiveReadOnlyReason::OldFormat:
      return QStringLiteral("The hive file %1 is loaded read-only: this program reads its format but does not "
                            "write it. Export its keys to a .reg file to change them elsewhere.")
          .arg(file);
    case HiveReadOnlyReason::FileNotWritable:
      return QStringLiteral("The hive file %1 is loaded read-only: the file or its folder cannot be written. To "
                            "change it, copy it to a folder you may write and load the copy.")
          .arg(file);
  }
  return {};
}

QString TformMain::MountNote(const KeyNode* node) const {
  if (!node || node->level() != 2 || GetNodeKind(node) != nkLocal) return {};
  const NodeLocation loc = GetNodeLocation(node);
  if (loc.root != platform::HKEY_LOCAL_MACHINE && loc.root != platform::HKEY_USERS) return {};
  return ReadOnlyHiveNote(loc.root, loc.keyPath);
}

QString TformMain::KeyRefusalNote(platform::HKEY root, const QString& keyPath, TRegistryView view) const {
  const std::int32_t error = lister_->readError(root, keyPath, view);
  if (error == 0) return {};
  QString text = QString::fromStdString(platform::systemErrorText(static_cast<std::uint32_t>(error))).trimmed();
  if (error == platform::ERROR_ACCESS_DENIED) {
    const auto status = mountOf(root, keyPath);
    if (status && status->accessChecks && !status->defaultRegistry)
      text += QStringLiteral(" The key's permissions refuse you, and the permissions of the hive file %1 are "
                             "checked; load it without checking them to read every key as the file's owner.")
                  .arg(fileText(*status));
    else
      text += QStringLiteral(" The key's permissions refuse you.");
  }
  return text;
}

TformOpenCustomHive* TformMain::formOpenCustomHive() {
  if (!openCustomHive_) openCustomHive_ = new TformOpenCustomHive(this);
  return openCustomHive_;
}

TformUserLogon* TformMain::formUserLogon() {
  if (!userLogon_) userLogon_ = new TformUserLogon(this);
  return userLogon_;
}

void TformMain::aFileOpenHiveExecute() {
  QString mountName = QStringLiteral("TEMPHIVE");
  QString fileName;
  bool persistent = false;
  platform::HKEY root = platform::HKEY_LOCAL_MACHINE;
  if (!formOpenCustomHive()->Execute(fileName, root, persistent, mountName)) return;
  const auto rc = LoadHive(root, mountName.toStdU16String(), fileName.toStdU16String());
  if (rc != 0) {
    messageBoxes().messageDlg(this,
                              QStringLiteral("Could not load this file as a hive file: \n") +
                                  QString::fromStdString(platform::systemErrorText(static_cast<std::uint32_t>(rc))),
                              jmError, buttonBit(cbOK));
    return;
  }
  const bool checked = formOpenCustomHive()->cbCheckSecurity->isChecked() &&
                       platform::registry::setMountAccessChecks(root, mountName.toStdU16String(), true) ==
                           platform::ERROR_SUCCESS;
  // The tree shows the mount after "&Refresh" of its root.
  if (!persistent) FCustomHives.push_back({mountName + u'=' + fileName, root});
  QString status = ReadOnlyHiveNote(root, u'\\' + mountName);
  if (status.isEmpty())
    status = QStringLiteral("The hive file %1 is loaded as %2.")
                 .arg(fileName, QString::fromStdString(RootKeyToLongName(root)) + u'\\' + mountName);
  if (checked) status += QStringLiteral(" Its keys' own permissions are checked.");
  sbarPanel0->setText(status);
}

void TformMain::UnloadCustomHives() {
  for (const TCustomHive& hive : FCustomHives) {
    const qsizetype equals = hive.Line.indexOf(u'=');
    UnloadHive(hive.Root, hive.Line.left(equals).toStdU16String(), hive.Line.mid(equals + 1).toStdU16String());
  }
  FCustomHives.clear();
}

void TformMain::aFileLogonUserExecute() {
  FLogons.emplace_back();
  QString userName, password;
  // A cancelled logon leaves its empty entry; giving it back does nothing.
  if (!formUserLogon()->Execute(userName, password)) return;
  std::string user = qStringToAnsi(userName);
  std::string secret = qStringToAnsi(password);
  TUserLogonEntry& entry = FLogons.back();
  if (platform::LogonUserA(user.c_str(), nullptr, secret.c_str(), platform::LOGON32_LOGON_INTERACTIVE,
                           platform::LOGON32_PROVIDER_DEFAULT, &entry.Token)) {
    entry.Profile = {};
    entry.Profile.dwSize = 32;
    entry.Profile.lpUserName = user.data();
    platform::LoadUserProfileA(entry.Token, &entry.Profile);
    entry.Profile.lpUserName = nullptr;  // the name goes with this call
  } else {
    const QString reason = QString::fromStdString(platform::systemErrorText(platform::GetLastError()));
    FLogons.pop_back();
    messageBoxes().messageDlg(this,
                              reason + QStringLiteral("\nPlease make sure you specified username and password "
                                                      "correctly, and the user is not already logged on."),
                              jmError, buttonBit(cbOK));
  }
  // No copy of the password outlives the command.
  std::fill(secret.begin(), secret.end(), '\0');
  password.fill(QChar(u'\0'));
}

void TformMain::UnloadLogonProfiles() {
  for (const TUserLogonEntry& entry : FLogons) platform::UnloadUserProfile(entry.Token, entry.Profile.hProfile);
  FLogons.clear();
}

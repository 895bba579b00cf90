// The main window's "Load hive file..." and "Open user registry (logon)...":
// a hive file mounted under HKEY_LOCAL_MACHINE or HKEY_USERS, for this run
// only (a mount lasts as long as the process that made it), and the logon of
// another local user, which this platform does not offer and says so.

#include <QStringList>

#include <algorithm>

#include "app/FormUnitCustomHive.h"
#include "app/FormUnitMain.h"
#include "app/FormUnitUserLogon.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/bwlRegHives.h"
#include "platform/ErrorText.h"

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
  // The tree shows the mount after "&Refresh" of its root.
  if (!persistent) FCustomHives.push_back({mountName + u'=' + fileName, root});
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

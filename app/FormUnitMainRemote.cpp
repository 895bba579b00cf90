// The main window's remote registry: "Connect to remote registry..." adds a
// computer's root keys to the key tree, and its keys are listed over a
// connection to that computer when they are expanded. The names the user
// entered or found are kept between runs.
//
// This platform reaches no other computer: only this machine's own names
// connect, and show its registry as a remote (read-only) tree.

#include <QComboBox>
#include <QProgressBar>
#include <QTreeView>

#include "app/FormUnitMain.h"
#include "app/FormUnitRemoteConnect.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/CommaText.h"
#include "core/bwlRegTools.h"
#include "platform/ErrorText.h"
#include "platform/WNet.h"

namespace {

// The message of a connection error the program explains itself; 0 for
// the others, which get the system's text.
int connectionErrorMessage(platform::DWORD code) {
  switch (code) {
    case 5: return 61;
    case 67: return 64;
    case 85: return 62;
    case 86: return 68;
    case 170: return 67;
    case 1200: return 63;
    case 1203: return 69;
    case 1204: return 66;
    case 1206: return 65;
    case 1222: return 70;
    default: return 0;
  }
}

// The computer node's images.
constexpr int kComputerImage = 9;

}  // namespace

TformRemoteConnect* TformMain::formRemoteConnect() {
  if (!remoteConnect_) remoteConnect_ = new TformRemoteConnect(this);
  return remoteConnect_;
}

void TformMain::aFileConnectRegExecute() {
  TformRemoteConnect* dialog = formRemoteConnect();
  // An empty box stays empty: the user names the computer.
  if (dialog->exec() != QDialog::Accepted) return;
  const QString name = dialog->cbRemoteName->currentText();
  // The name is offered again next time (and after a restart).
  if (!name.isEmpty() && dialog->cbRemoteName->findText(name, Qt::MatchFixedString) < 0)
    dialog->cbRemoteName->addItem(name);

  std::string remoteName = qStringToAnsi(name);
  platform::NETRESOURCEA resource;
  resource.dwType = platform::RESOURCETYPE_ANY;
  resource.lpRemoteName = remoteName.data();
  const platform::DWORD rc = platform::WNetAddConnection2A(&resource, nullptr, nullptr,
                                                           platform::CONNECT_INTERACTIVE | platform::CONNECT_PROMPT);
  if (rc != 0) {
    // Every failure is said: a code the program does not explain itself gets
    // the system's text, so a failed connection never looks like nothing.
    const int message = connectionErrorMessage(rc);
    const QString text = message ? Msg(message) : QString::fromStdString(platform::systemErrorText(rc));
    messageBoxes().messageDlg(this, text, jmError, buttonBit(cbOK));
    return;
  }
  KeyNode* computer = model_->addChild(model_->root(), name, nullptr, kComputerImage, kComputerImage);
  computer->hasChildren = true;
  AddRemoteRootKeys(computer);
  tvKeys->expand(model_->indexOf(computer));
}

void TformMain::AddRemoteRootKeys(KeyNode* computer) {
  pg->setMinimum(0);
  pg->setValue(0);
  pg->setMaximum(static_cast<int>(FRootKeyNames.size()));
  tvKeys->setUpdatesEnabled(false);
  try {
    for (int i = 0; i < FRootKeyNames.size(); ++i) {
      pg->setValue(i);
      const QString& rootName = FRootKeyNames[i];
      const RemoteKeyListing listing =
          lister_->remoteSubKeyNames(computer->text, NameToRootKey(qStringToAnsi(rootName)), QStringLiteral("\\"));
      if (!listing.connected) continue;  // a root that refuses is left out
      KeyNode* root = AddKeyNode(computer, rootName, rvDefault);
      if (!root) continue;
      for (const QString& name : listing.names.value_or(QStringList())) AddKeyNode(root, name, rvDefault);
      model_->setHasChildren(root, root->count() > 0);
    }
  } catch (...) {
    pg->setValue(0);
  }
  model_->setHasChildren(computer, computer->count() > 0);
  tvKeys->setUpdatesEnabled(true);
  pg->setValue(0);
}

void TformMain::ExpandRemoteNode(KeyNode* node) {
  QString computer;
  GetNodeKind(node, &computer);
  const NodeLocation loc = GetNodeLocation(node);
  const QString keyPath = loc.keyPath.isEmpty() ? QStringLiteral("\\") : loc.keyPath;
  const RemoteKeyListing listing = lister_->remoteSubKeyNames(computer, loc.root, keyPath);
  if (!listing.connected) return;  // the network may answer next time
  if (!listing.names) {
    model_->setHasChildren(node, false);
    return;
  }
  tvKeys->setUpdatesEnabled(false);
  // The children are marked as having children without asking the network.
  for (const QString& name : *listing.names) AddKeyNode(node, name, rvDefault);
  tvKeys->setUpdatesEnabled(true);
  if (node->count() == 0) model_->setHasChildren(node, false);
}

void TformMain::ReadRemoteListHistory() {
  QComboBox* names = formRemoteConnect()->cbRemoteName;
  names->clear();
  for (const std::u16string& name : SplitCommaText(ansiToQString(FSettings.RemoteListHistory).toStdU16String()))
    names->addItem(QString::fromStdU16String(name));
  names->setCurrentIndex(-1);
}

void TformMain::WriteRemoteListHistory() {
  if (!remoteConnect_) return;  // never shown: the setting stays as read
  std::vector<std::u16string> names;
  for (int i = 0; i < remoteConnect_->cbRemoteName->count(); ++i)
    names.push_back(remoteConnect_->cbRemoteName->itemText(i).toStdU16String());
  FSettings.RemoteListHistory = qStringToAnsi(QString::fromStdU16String(JoinCommaText(names)));
}

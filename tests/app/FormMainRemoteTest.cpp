// The main window's remote registry: connecting adds the computer's roots
// that connect, its keys are listed over the network when expanded, and a
// computer that cannot be reached is said once.

#include <QComboBox>
#include <QSysInfo>

#include "app/FormUnitRemoteConnect.h"
#include "tests/app/EditingWindow.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/Screenshot.h"
#include "tests/support/TestData.h"

namespace {

QStringList childTexts(const KeyNode* node) {
  QStringList texts;
  for (const auto& child : node->children) texts << child->text;
  return texts;
}

// The program's registry for the local tree; remote questions answered from
// a table and recorded.
class TableRemoteLister : public RegistryKeyLister {
public:
  // "ROOT\path" -> listing; a root or key not in the table does not connect.
  std::map<QString, RemoteKeyListing> table;
  QStringList asked;  // "computer|ROOT|path"
  RemoteKeyListing remoteSubKeyNames(const QString& computer, platform::HKEY root, const QString& keyPath) override {
    const QString rootName = QString::fromStdString(RootKeyToLongName(root));
    asked << computer + u'|' + rootName + u'|' + keyPath;
    const auto found = table.find(rootName + keyPath);
    return found == table.end() ? RemoteKeyListing{} : found->second;
  }
};

class RemoteRegistry : public EditingWindow {
protected:
  // Connects through the dialog to `name`; the new top node, if any.
  KeyNode* connectTo(const QString& name) {
    const int before = form->keyModel()->root()->count();
    onNextModalWindow([name](QDialog& dialog) {
      auto& connect = static_cast<TformRemoteConnect&>(dialog);
      connect.cbRemoteName->setEditText(name);
      connect.accept();
    });
    form->aFileConnectRegExecute();
    KeyNode* root = form->keyModel()->root();
    return root->count() > before ? root->child(root->count() - 1) : nullptr;
  }
  static QString thisHost() { return QStringLiteral("\\\\") + QSysInfo::machineHostName(); }
};

TEST_F(RemoteRegistry, ThisMachineShowsItsConnectingRootsAndItsMountedHivesReadOnly) {
  HS_TESTDATA_OR_SKIP(source, testsupport::testdataFile("hives/crafted/special"));
  mountCopy(source, "SPECIAL");
  showForm();
  KeyNode* computer = connectTo(thisHost());
  ASSERT_NE(computer, nullptr);
  EXPECT_EQ(computer->text, thisHost());
  EXPECT_EQ(computer->imageIndex, 9);
  EXPECT_EQ(form->GetNodeKind(computer), nkRemote);
  QStringList roots = form->FRootKeyNames;
  roots.removeAll(QStringLiteral("HKEY_DYN_DATA"));
  EXPECT_EQ(childTexts(computer), roots);
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();

  KeyNode* machine = FindChildNode(computer, QStringLiteral("HKEY_LOCAL_MACHINE"), false);
  ASSERT_NE(machine, nullptr);
  KeyNode* special = FindChildNode(machine, QStringLiteral("SPECIAL"), false);
  ASSERT_NE(special, nullptr) << childTexts(machine).join(u',').toStdString();
  // Deeper levels come over the connection when expanded.
  form->tvKeysExpanding(special);
  EXPECT_FALSE(special->children.empty());

  form->selectNode(special);
  form->tvKeysClick();
  form->tvKeys->expand(form->keyModel()->indexOf(special));
  saveScreenshot(*form, "remote-tree");
  const KeyActionRules rules = form->keyActionRules();
  EXPECT_FALSE(rules.keyDelete);
  EXPECT_FALSE(rules.keyRename);
  EXPECT_FALSE(rules.keyAdd);
}

TEST_F(RemoteRegistry, AComputerThatCannotBeReachedIsSaidAndAddsNoNode) {
  showForm();
  const int before = form->keyModel()->root()->count();
  EXPECT_EQ(connectTo(QStringLiteral("\\\\PC1")), nullptr);
  EXPECT_EQ(form->keyModel()->root()->count(), before);
  EXPECT_EQ(boxes.texts, QStringList({"The network path was not found."}));
  // Cancel connects to nothing and says nothing.
  boxes.texts.clear();
  onNextModalWindow([](QDialog& dialog) { dialog.reject(); });
  form->aFileConnectRegExecute();
  EXPECT_EQ(form->keyModel()->root()->count(), before);
  EXPECT_TRUE(boxes.texts.isEmpty());
}

// Roots that refuse are left out; a key that does not open has no children;
// a connection that fails while expanding adds nothing and may be tried again.
TEST_F(RemoteRegistry, RemoteKeysAreListedWhenExpanded) {
  TableRemoteLister remote;
  remote.table[QStringLiteral("HKEY_LOCAL_MACHINE\\")] = {true, QStringList({"A", "B"})};
  remote.table[QStringLiteral("HKEY_USERS\\")] = {true, std::nullopt};
  remote.table[QStringLiteral("HKEY_LOCAL_MACHINE\\A")] = {true, QStringList({"X"})};
  remote.table[QStringLiteral("HKEY_LOCAL_MACHINE\\A\\X")] = {true, std::nullopt};
  form = std::make_unique<TformMain>();
  form->setKeyLister(&remote);
  form->show();
  QApplication::processEvents();

  KeyNode* computer = connectTo(QStringLiteral("localhost"));
  ASSERT_NE(computer, nullptr);
  EXPECT_EQ(childTexts(computer), QStringList({"HKEY_LOCAL_MACHINE", "HKEY_USERS"}));
  KeyNode* machine = computer->child(0);
  EXPECT_EQ(childTexts(machine), QStringList({"A", "B"}));
  EXPECT_FALSE(computer->child(1)->hasChildren);
  for (const QString& root : form->FRootKeyNames)
    EXPECT_TRUE(remote.asked.contains(QStringLiteral("localhost|") + root + QStringLiteral("|\\")))
        << root.toStdString();

  remote.asked.clear();
  KeyNode* a = machine->child(0);
  KeyNode* b = machine->child(1);
  form->tvKeysExpanding(a);
  EXPECT_EQ(childTexts(a), QStringList({"X"}));
  EXPECT_TRUE(a->child(0)->hasChildren) << "marked without asking the network";
  form->tvKeysExpanding(a->child(0));
  EXPECT_FALSE(a->child(0)->hasChildren);
  form->tvKeysExpanding(b);
  EXPECT_TRUE(b->children.empty());
  EXPECT_TRUE(b->hasChildren) << "a failed connection leaves the node to be tried again";
  EXPECT_EQ(remote.asked, QStringList({"localhost|HKEY_LOCAL_MACHINE|\\A", "localhost|HKEY_LOCAL_MACHINE|\\A\\X",
                                       "localhost|HKEY_LOCAL_MACHINE|\\B"}));
}

}  // namespace

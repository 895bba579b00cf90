// Drag and drop onto the key tree, through the window's drag-over and drop
// handlers: what is taken, what the status bar says, the questions asked, and
// the registry and the tree afterwards.

#include "tests/app/KeyValueActionsWindow.h"
#include "tests/support/Privileges.h"
#include "tests/support/RegistryWalk.h"
#include "tests/support/TestData.h"

namespace {

constexpr platform::HKEY kUser = platform::HKEY_CURRENT_USER;
constexpr platform::HKEY kMachine = platform::HKEY_LOCAL_MACHINE;

class DragDrop : public KeyValueActionsWindow {
protected:
  // The node of a key, reached by jumping to it (which selects it).
  KeyNode* node(const QString& path) {
    form->JumpToPath(path);
    KeyNode* found = form->selectedNode();
    EXPECT_NE(found, nullptr) << path.toStdString();
    return found;
  }
  // Selects the key and all of its rows.
  void selectAllValuesOf(const QString& path) {
    node(path);
    form->aValueSelectAllExecute();
  }
  static QByteArray data(platform::HKEY root, const std::string& path, const std::string& name) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
    if (!rawValue(root, path, name, type, bytes)) return {};
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
  }
};

TEST_F(DragDrop, ValuesMoveOrCopyToAnotherRootWithTheStatusSaid) {
  auto from = openKey(kUser, "Software\\From", Bitness::x32);
  from->WriteString("s", "text");
  from->WriteInteger("n", 7);
  openKey(kMachine, "SYSTEM\\To", Bitness::x32);
  showForm();
  KeyNode* to = node(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\To"));

  selectAllValuesOf(QStringLiteral("HKEY_CURRENT_USER\\Software\\From"));
  EXPECT_TRUE(form->tvKeysDragOver(to, TreeDragSource::values, true));
  EXPECT_EQ(form->statusText(0), QStringLiteral("Copying value(s) to To..."));
  EXPECT_TRUE(form->tvKeysDragOver(to, TreeDragSource::values, false));
  EXPECT_EQ(form->statusText(0), QStringLiteral("Moving value(s) to To..."));
  form->tvKeysDragLeave();
  EXPECT_EQ(form->statusText(0), QString());

  form->tvKeysDragDrop(to, TreeDragSource::values, true);
  EXPECT_EQ(names(valueNames(kUser, "Software\\From")), QStringList({"n", "s"}));
  EXPECT_EQ(data(kMachine, "SYSTEM\\To", "s"), data(kUser, "Software\\From", "s"));

  // Both exist now: the overwrite question is asked per value; "No to all"
  // at the first keeps the target's values as they were.
  EditingWindow::openKey(kUser, "Software\\From", Bitness::x32)->WriteString("s", "changed");
  form->RefreshValueList();
  form->aValueSelectAllExecute();
  script.answers = {mrNoToAll};
  form->tvKeysDragDrop(to, TreeDragSource::values, false);
  EXPECT_EQ(script.texts, QStringList({"A value of that name (\"n\") already exists in your destination key. Do you "
                                       "really want to overwrite it?"}));
  EXPECT_NE(data(kMachine, "SYSTEM\\To", "s"), data(kUser, "Software\\From", "s"));
  EXPECT_EQ(names(valueNames(kUser, "Software\\From")), QStringList({"n", "s"}));

  // "Yes to all" moves both without a second question.
  script.texts.clear();
  form->aValueSelectAllExecute();
  const QByteArray changed = data(kUser, "Software\\From", "s");
  script.answers = {mrYesToAll};
  form->tvKeysDragDrop(to, TreeDragSource::values, false);
  EXPECT_EQ(script.texts.size(), 1);
  EXPECT_EQ(data(kMachine, "SYSTEM\\To", "s"), changed);
  EXPECT_EQ(names(valueNames(kUser, "Software\\From")), QStringList());
  EXPECT_EQ(form->valueModel()->count() > 0 ? form->valueModel()->item(0).ValueName : QString(), QString())
      << "the list is refilled after a move";
  EXPECT_EQ(form->editRedoLog->Count(), 0) << "drops are not logged";
}

TEST_F(DragDrop, DropsThatCouldNotEndWellAreNotTaken) {
  openKey(kUser, "Software\\A\\B\\C", Bitness::x32)->WriteString("v", "1");
  openKey(kUser, "Software\\A", Bitness::x32)->WriteString("w", "2");
  showForm();
  const auto before = testsupport::walkRegistry(kUser, "\\Software\\A");
  KeyNode* c = node(QStringLiteral("HKEY_CURRENT_USER\\Software\\A\\B\\C"));
  KeyNode* a = node(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));
  KeyNode* b = FindChildNode(a, QStringLiteral("B"), false);
  ASSERT_NE(b, nullptr);

  // A key onto itself, its own sub-key or its parent.
  struct Case {
    KeyNode* target;
    const char* what;
  };
  form->selectNode(b);
  form->tvKeysClick();
  for (const Case& drop : {Case{b, "itself"}, Case{c, "its own sub-key"}, Case{a, "its parent"}}) {
    for (bool copy : {false, true}) {
      EXPECT_FALSE(form->tvKeysDragOver(drop.target, TreeDragSource::key, copy)) << drop.what;
      EXPECT_EQ(form->statusText(0), QString()) << drop.what;
      form->tvKeysDragDrop(drop.target, TreeDragSource::key, copy);
    }
  }
  // Values onto their own key.
  selectAllValuesOf(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));
  a = form->selectedNode();
  EXPECT_FALSE(form->tvKeysDragOver(a, TreeDragSource::values, false));
  form->tvKeysDragDrop(a, TreeDragSource::values, false);
  // "My Computer" takes no drop.
  EXPECT_FALSE(form->tvKeysDragOver(form->FMyComputerNode, TreeDragSource::values, false));

  EXPECT_EQ(testsupport::walkRegistry(kUser, "\\Software\\A"), before);
  EXPECT_TRUE(script.texts.isEmpty()) << script.texts.join(u'\n').toStdString();
}

TEST_F(DragDrop, KeysMoveWithinTheirRootOnly) {
  openKey(kUser, "Software\\From\\K\\Sub", Bitness::x32)->WriteString("v", "1");
  openKey(kUser, "Software\\To", Bitness::x32);
  openKey(kMachine, "SYSTEM\\Other", Bitness::x32);
  showForm();
  const auto source = testsupport::walkRegistry(kUser, "\\Software\\From\\K");
  KeyNode* other = node(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\Other"));
  KeyNode* to = node(QStringLiteral("HKEY_CURRENT_USER\\Software\\To"));
  node(QStringLiteral("HKEY_CURRENT_USER\\Software\\From\\K"));

  EXPECT_TRUE(form->tvKeysDragOver(other, TreeDragSource::key, false));
  EXPECT_EQ(form->statusText(0), QStringLiteral("Moving key K into Other..."));
  form->tvKeysDragDrop(other, TreeDragSource::key, false);
  EXPECT_EQ(script.texts, QStringList({"You cannot move keys between different root keys (yet)!"}));
  EXPECT_FALSE(keyExists(kMachine, "SYSTEM\\Other\\K"));

  script.texts.clear();
  EXPECT_TRUE(form->tvKeysDragOver(to, TreeDragSource::key, true));
  EXPECT_EQ(form->statusText(0), QStringLiteral("Copying key K into To..."));
  form->tvKeysDragDrop(to, TreeDragSource::key, false);
  EXPECT_TRUE(script.texts.isEmpty()) << script.texts.join(u'\n').toStdString();
  EXPECT_FALSE(keyExists(kUser, "Software\\From\\K"));
  EXPECT_EQ(testsupport::walkRegistry(kUser, "\\Software\\To\\K"), source);
  ASSERT_NE(form->selectedNode(), nullptr);
  EXPECT_EQ(form->selectedNode()->text, QStringLiteral("From")) << "the moved key's parent is selected";
  EXPECT_EQ(FindChildNode(form->selectedNode(), QStringLiteral("K"), false), nullptr);
  EXPECT_NE(FindChildNode(to, QStringLiteral("K"), false), nullptr);
}

// Overwriting a key replaces it by the dragged one; No leaves both alone.
TEST_F(DragDrop, AKeyOfThatNameIsReplacedOnlyOnYes) {
  openKey(kUser, "Software\\From\\K", Bitness::x32)->WriteString("new", "1");
  openKey(kUser, "Software\\To\\K\\Old", Bitness::x32)->WriteString("old", "2");
  showForm();
  const auto source = testsupport::walkRegistry(kUser, "\\Software\\From\\K");
  const auto target = testsupport::walkRegistry(kUser, "\\Software\\To\\K");
  KeyNode* to = node(QStringLiteral("HKEY_CURRENT_USER\\Software\\To"));
  node(QStringLiteral("HKEY_CURRENT_USER\\Software\\From\\K"));

  script.answers = {mrNo};
  form->tvKeysDragDrop(to, TreeDragSource::key, true);
  EXPECT_EQ(script.texts, QStringList({"A value of that name (\"K\") already exists in your destination key. Do you "
                                       "really want to overwrite it?"}));
  EXPECT_EQ(testsupport::walkRegistry(kUser, "\\Software\\To\\K"), target);

  script.answers = {mrYes};
  form->tvKeysDragDrop(to, TreeDragSource::key, true);
  EXPECT_EQ(testsupport::walkRegistry(kUser, "\\Software\\To\\K"), source);
  EXPECT_EQ(testsupport::walkRegistry(kUser, "\\Software\\From\\K"), source);
  EXPECT_EQ(names(EditingWindow::valueNames(kUser, "Software\\To")), QStringList());
  std::vector<std::string> keys;
  TMyRegistry reg;
  reg.SetRootKey(kUser);
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\To"));
  reg.GetKeyNames(keys);
  EXPECT_EQ(keys, std::vector<std::string>({"K"})) << "no temporary key is left";
}

TEST_F(DragDrop, KeysOrValuesWithANulAreRefusedWithAMessage) {
  HS_TESTDATA_OR_SKIP(source, testsupport::testdataFile("hives/crafted/special"));
  openKey(kMachine, "SYSTEM\\To", Bitness::x32);
  KeyNode* zero = selectCraftedNulKey(source);
  ASSERT_NE(zero, nullptr);
  KeyNode* to = node(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\To"));
  form->selectNode(zero);
  form->tvKeysClick();
  EXPECT_FALSE(form->tvKeysDragOver(to, TreeDragSource::key, true));
  form->tvKeysDragDrop(to, TreeDragSource::key, true);
  EXPECT_EQ(script.texts, QStringList({"Moving or renaming rootkit keys is not allowed!"}));
  TMyRegistry reg;
  reg.SetRootKey(kMachine);
  std::vector<std::string> keys;
  ASSERT_TRUE(reg.OpenKeyReadOnly("SYSTEM\\To"));
  reg.GetKeyNames(keys);
  EXPECT_TRUE(keys.empty());
}

// A whole real services tree copied onto another key arrives as it was.
TEST_F(DragDrop, ACopyOfARealServicesTreeWalksEqualToItsSource) {
  HS_TESTDATA_OR_SKIP(system, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  mountCopy(system, "TEMPHIVE");
  // Some services keys are the system's alone; a user who copies them reads
  // them with the backup privilege.
  ASSERT_TRUE(testsupport::setBackupPrivilege());
  openKey(kMachine, "TEMPHIVE\\Copy", Bitness::x32);
  showForm();
  const auto source = testsupport::walkRegistry(kMachine, "\\TEMPHIVE\\ControlSet001\\Services");
  ASSERT_GT(source.size(), 100u);
  KeyNode* target = node(QStringLiteral("HKEY_LOCAL_MACHINE\\TEMPHIVE\\Copy"));
  node(QStringLiteral("HKEY_LOCAL_MACHINE\\TEMPHIVE\\ControlSet001\\Services"));
  ASSERT_TRUE(form->tvKeysDragOver(target, TreeDragSource::key, true));
  form->tvKeysDragDrop(target, TreeDragSource::key, true);
  EXPECT_TRUE(script.texts.isEmpty()) << script.texts.join(u'\n').toStdString();
  const auto copied = testsupport::walkRegistry(kMachine, "\\TEMPHIVE\\Copy\\Services");
  for (const auto& e : source)
    if (std::find(copied.begin(), copied.end(), e) == copied.end()) ADD_FAILURE() << "missing " << e.path << '|' << e.name;
  EXPECT_EQ(copied, source);
  EXPECT_EQ(testsupport::walkRegistry(kMachine, "\\TEMPHIVE\\ControlSet001\\Services"), source);
}

}  // namespace

// The main window's start-up and close on the registry store: settings and
// placements kept across runs, the command line's key, file and search, and
// the failures that are said once (a history that cannot be opened, settings
// that cannot be saved).

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/FormUnitHistory.h"
#include "app/FormUnitMain.h"
#include "app/FormUnitRemoteConnect.h"
#include "app/FormUnitSearch.h"
#include "app/KeyLister.h"
#include "app/ProgramWindows.h"
#include "app/UiSeams.h"
#include "app/UnitMessages.h"
#include "core/bwlConfig.h"
#include "core/bwlRegTools.h"
#include "platform/Paths.h"
#include "platform/ProgramFiles.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/support/Waiting.h"
#include "tests/app/Screenshot.h"
#include "tests/support/Files.h"
#include "tests/support/Privileges.h"
#include "tests/support/TestData.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Records every message box and answers with a set result.
class MessageRecorder : public MessageBoxes {
public:
  struct Box {
    QString text;
    TTdMessageType kind;
    TCommonButtons buttons;
  };
  int answer = mrOk;
  std::vector<Box> boxes;
  int messageDlg(QWidget*, const QString& text, TTdMessageType kind, TCommonButtons buttons) override {
    boxes.push_back({text, kind, buttons});
    return answer;
  }
};

class FormMainStartup : public ::testing::Test {
protected:
  void SetUp() override {
    setMessageBoxes(&boxes);
    ConfigManager().SetAppName("Hivescope");
  }
  void TearDown() override {
    windows.reset();
    setMessageBoxes(nullptr);
  }

  // Makes the program's windows as the program does and shows the main one.
  TformMain& start(std::vector<std::string> parameters) {
    windows.reset();
    windows = std::make_unique<TProgramWindows>(&lister, TCommandLine(std::move(parameters), data.path()));
    TformMain& form = windows->Main();
    form.show();
    QApplication::processEvents();
    return form;
  }
  // Closes the main window as the user does, then ends the run.
  void closeAndEnd() {
    windows->Main().close();
    windows.reset();
  }

  QString selectedPath() {
    TformMain& form = windows->Main();
    if (!form.selectedNode()) return {};
    const NodeLocation loc = form.GetSelectedLocation();
    return QString::fromStdString(RootKeyToLongName(loc.root)) + loc.keyPath;
  }

  std::string readSetting(const char* name) {
    std::string value;
    if (!ConfigManager().ReadString(name, value)) return "<missing>";
    return value;
  }

  testsupport::TempRegistry registry;
  testsupport::TempDir data{"hivescope-startup"};
  // The history and the program's files of the user go here.
  testsupport::ScopedEnv xdg{"XDG_DATA_HOME", data.path().string()};
  RegistryKeyLister lister;
  MessageRecorder boxes;
  std::unique_ptr<TProgramWindows> windows;
};

TEST_F(FormMainStartup, ARestartReturnsToTheLastKeyPlacementAndSettings) {
  TformMain& first = start({});
  EXPECT_TRUE(boxes.boxes.empty()) << "no settings file, languages or help: nothing to say";
  ASSERT_NE(first.History(), nullptr);
  first.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software"));
  first.move(40, 30);
  first.resize(700, 500);  // on the 800 x 600 offscreen screen
  QApplication::processEvents();
  closeAndEnd();
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(readSetting("LastKey"), "HKEY_CURRENT_USER\\Software");
  // Every setting is there, each with its own registry type.
  bool flag = false;
  std::int32_t number = 0;
  double when = 0;
  std::string text;
  for (const char* name : {"SearchKeys", "SearchValues", "SearchData", "SearchRange", "SearchIgnoreCase",
                           "SearchHighSpeed", "SearchTypeStrings", "SearchTypeNumerics", "SearchTypeBinary",
                           "SearchForHex", "ReplaceIgnoreCase", "ReplaceOverwriteExistingValues",
                           "ReplaceOverwriteExistingKeys"})
    EXPECT_TRUE(ConfigManager().ReadBool(name, flag)) << name;
  for (const char* name : {"SearchByDateMode", "SearchStyle", "HexDumpSize"})
    EXPECT_TRUE(ConfigManager().ReadInteger(name, number)) << name;
  for (const char* name : {"SearchDateTime1", "SearchDateTime2"}) EXPECT_TRUE(ConfigManager().ReadFloat(name, when)) << name;
  for (const char* name : {"SearchTerm", "RemoteListHistory"}) EXPECT_TRUE(ConfigManager().ReadString(name, text)) << name;

  // Settings of windows not built yet survive a run untouched.
  ASSERT_TRUE(ConfigManager().WriteString("RemoteListHistory", "alpha,beta", false));
  ASSERT_TRUE(ConfigManager().WriteInteger("SearchStyle", 2, false));
  TformMain& second = start({});
  EXPECT_EQ(selectedPath(), QStringLiteral("HKEY_CURRENT_USER\\Software"));
  EXPECT_EQ(second.pos(), QPoint(40, 30));
  EXPECT_EQ(second.size(), QSize(700, 500));
  EXPECT_EQ(second.Settings().RemoteListHistory, "alpha,beta");
  EXPECT_EQ(second.Settings().Search.Style, 2);
  saveScreenshot(second, "startup-restored");
  // File > Exit closes the window the same way: everything is saved.
  second.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE"));
  second.aFileExit->trigger();
  windows.reset();
  EXPECT_EQ(readSetting("LastKey"), "HKEY_LOCAL_MACHINE\\SOFTWARE");
  EXPECT_EQ(readSetting("RemoteListHistory"), "alpha,beta");
  std::int32_t style = 0;
  EXPECT_TRUE(ConfigManager().ReadInteger("SearchStyle", style));
  EXPECT_EQ(style, 2);
  EXPECT_TRUE(boxes.boxes.empty());
}

// A window comes back where it was, run after run: what is saved is what is
// restored (the client area), so no title bar's height creeps in. A
// placement off every screen (a monitor that is gone) is moved onto one,
// for the main window and the windows it opens.
TEST_F(FormMainStartup, PlacementsComeBackUnchangedAndOntoAScreen) {
  const QRect placed(50, 60, 600, 400);
  start({}).setGeometry(placed);
  QApplication::processEvents();
  closeAndEnd();
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    TformMain& form = start({});
    EXPECT_EQ(form.geometry(), placed);
    closeAndEnd();
  }
  std::int32_t top = 0;
  ASSERT_TRUE(ConfigManager().ReadInteger("UI\\Forms\\formMain", "Top", top));
  EXPECT_EQ(top, placed.y());

  for (const char* form : {"formMain", "formHistory"}) {
    const std::string key = std::string("UI\\Forms\\") + form;
    ASSERT_TRUE(ConfigManager().WriteInteger(key, "Left", 5000, false));
    ASSERT_TRUE(ConfigManager().WriteInteger(key, "Top", -3000, false));
    ASSERT_TRUE(ConfigManager().WriteInteger(key, "WindowState", 0, false));
  }
  TformMain& form = start({});
  form.aShowHistoryExecute();
  QApplication::processEvents();
  const QRect screen = QApplication::primaryScreen()->availableGeometry();
  for (QWidget* window : {static_cast<QWidget*>(&form), static_cast<QWidget*>(form.formHistory())}) {
    SCOPED_TRACE(window->objectName().toStdString());
    EXPECT_TRUE(screen.contains(window->frameGeometry()))
        << window->frameGeometry().x() << "," << window->frameGeometry().y();
  }
  // The search window, made on first use, opens on the screen too.
  form.formSearch()->move(-4000, 9000);
  form.aSearchExecute();
  QApplication::processEvents();
  EXPECT_TRUE(screen.contains(form.formSearch()->frameGeometry()));
  closeAndEnd();
}

// The computer names entered in the remote-connect window come back with
// the next run, also when the connection failed.
TEST_F(FormMainStartup, RemoteNamesEnteredAreOfferedAfterARestart) {
  TformMain& first = start({});
  onNextModalWindow([](QDialog& dialog) {
    auto& connect = static_cast<TformRemoteConnect&>(dialog);
    connect.cbRemoteName->setEditText(QStringLiteral("\\\\PC1"));
    connect.accept();
  });
  first.aFileConnectRegExecute();
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("The network path was not found."));
  closeAndEnd();
  EXPECT_EQ(readSetting("RemoteListHistory"), "\\\\PC1");

  TformMain& second = start({});
  QComboBox* names = second.formRemoteConnect()->cbRemoteName;
  ASSERT_EQ(names->count(), 1);
  EXPECT_EQ(names->itemText(0), QStringLiteral("\\\\PC1"));
}

TEST_F(FormMainStartup, TheCommandLineKeyWinsAndNoLastJumpOpensNothing) {
  ASSERT_TRUE(ConfigManager().WriteString("LastKey", "HKEY_LOCAL_MACHINE\\SOFTWARE", false));
  const struct {
    std::vector<std::string> parameters;
    QString selected;
  } cases[] = {
      {{}, QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE")},
      {{"-nolastjump"}, QString()},
      {{"/NOLASTJUMP"}, QString()},
      {{"HKEY_CURRENT_USER\\Software"}, QStringLiteral("HKEY_CURRENT_USER\\Software")},
      // "-s" alone names no file: the last key is opened.
      {{"/s"}, QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE")},
      // A key that is not there selects nothing.
      {{"HKEY_CURRENT_USER\\NoSuchKey"}, QString()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.parameters.empty() ? std::string("(none)") : c.parameters.front());
    TformMain& form = start(c.parameters);
    EXPECT_EQ(selectedPath(), c.selected);
    EXPECT_FALSE(form.TerminateRequested());
    windows.reset();  // ends without a close: the stored last key stays
  }
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(FormMainStartup, ACommandLineFileIsImportedAfterAskingAndTheRunEnds) {
  std::ofstream(data / "i.reg") << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Imp]\n\"D\"=dword:000000ff\n";
  std::ofstream(data / "hklm.reg") << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\x]\n\"a\"=\"b\"\n";
  const struct {
    std::vector<std::string> parameters;
    int answer;
    bool asked, imported, ends;
    QString error;  // the error box's text begins so; empty: none
  } cases[] = {
      {{"i.reg"}, mrNo, true, false, true, {}},
      {{"i.reg"}, mrYes, true, true, true, {}},
      {{"i.reg", "/gui"}, mrYes, true, true, false, {}},
      {{"i.reg", "-s", "-gui"}, mrOk, false, true, false, {}},
      {{"hklm.reg", "-s", "-gui"}, mrOk, false, false, false, QString::fromStdString((data / "hklm.reg").string())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.parameters.front() + (c.parameters.size() > 1 ? " " + c.parameters[1] : std::string()) +
                 " answer " + std::to_string(c.answer));
    ASSERT_TRUE(DeleteRegistryKey(platform::HKEY_CURRENT_USER, "\\Software\\Imp", ViewByte::v32) ||
                !RegistryKeyExists(platform::HKEY_CURRENT_USER, "\\Software\\Imp", ViewByte::v32));
    boxes.boxes.clear();
    boxes.answer = c.answer;
    TformMain& form = start(c.parameters);
    std::size_t next = 0;
    if (c.asked) {
      ASSERT_GT(boxes.boxes.size(), next);
      EXPECT_EQ(boxes.boxes[next].text, MessageText(msgDialogConfirmImport));
      EXPECT_EQ(boxes.boxes[next].kind, jmConfirmation);
      EXPECT_EQ(boxes.boxes[next].buttons, buttonBit(cbYes) | buttonBit(cbNo));
      ++next;
    }
    if (!c.error.isEmpty()) {
      ASSERT_GT(boxes.boxes.size(), next);
      EXPECT_TRUE(boxes.boxes[next].text.startsWith(c.error)) << boxes.boxes[next].text.toStdString();
      EXPECT_TRUE(boxes.boxes[next].text.contains(QStringLiteral("(5)"))) << boxes.boxes[next].text.toStdString();
      EXPECT_EQ(boxes.boxes[next].kind, jmError);
      ++next;
    }
    EXPECT_EQ(boxes.boxes.size(), next);
    TMyRegistry reg;
    reg.SetRootKey(platform::HKEY_CURRENT_USER);
    const bool found = reg.OpenKeyReadOnly("\\Software\\Imp") && reg.ValueExists("D");
    EXPECT_EQ(found, c.imported);
    if (found) EXPECT_EQ(reg.ReadInteger("D"), 255);
    EXPECT_EQ(form.TerminateRequested(), c.ends);
    windows.reset();
  }
}

TEST_F(FormMainStartup, ACommandLineSearchIsPreparedOnTheSavedOptions) {
  ASSERT_TRUE(ConfigManager().WriteBool("SearchHighSpeed", true, false));
  TformMain& form = start({"*", "Run", "-search", "-style=regexp", "-focus=all", "-nofocus=data"});
  ASSERT_TRUE(form.CommandLineSearch().has_value());
  const TCommandLineSearch& s = *form.CommandLineSearch();
  EXPECT_TRUE(s.Options.RangeComplete);
  EXPECT_EQ(s.Options.Style, 3);
  EXPECT_EQ(s.Options.Term, "Run");
  EXPECT_TRUE(s.Options.FocusKeys);
  EXPECT_TRUE(s.Options.FocusValues);
  EXPECT_FALSE(s.Options.FocusData);
  EXPECT_TRUE(s.Options.HighSpeed);
  EXPECT_EQ(s.Root, platform::HKEY{});
  // The options are the search window's now, so a close keeps them.
  closeAndEnd();
  std::int32_t style = 0;
  EXPECT_TRUE(ConfigManager().ReadInteger("SearchStyle", style));
  EXPECT_EQ(style, 3);
  EXPECT_EQ(readSetting("SearchTerm"), "Run");

  TformMain& plain = start({"HKEY_CURRENT_USER\\Software"});
  EXPECT_FALSE(plain.CommandLineSearch().has_value());
}

// The search the command line asks for runs in the search window, in the
// scope it names.
TEST_F(FormMainStartup, ACommandLineSearchRunsInTheSearchWindow) {
  {
    TMyRegistry reg;
    reg.SetRootKey(platform::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\Software\\FindMeHere", true));
  }
  TformMain& form = start({"HKEY_CURRENT_USER\\Software", "FindMe", "-search", "-focus=keys"});
  TformSearch* search = form.formSearch();
  ASSERT_TRUE(search->isVisible());
  EXPECT_TRUE(search->rbRangeKey->isChecked());
  EXPECT_EQ(search->editSearchTerm->text(), QStringLiteral("FindMe"));
  ASSERT_TRUE(testsupport::waitUntil([&] {
    QCoreApplication::processEvents();
    return !search->searching() && search->resultsModel()->count() > 0;
  })) << search->statusText().toStdString();
  closeAndEnd();
}

TEST_F(FormMainStartup, FamilySettingsFileDecidesBartPEMode) {
  const struct {
    const char* ini;  // nullptr: no file
    bool bartPE;
  } cases[] = {{nullptr, false}, {"[Wirescope]\r\nBartPE=1\r\n", true}, {"[Wirescope]\r\nBartPE=0\r\n", false},
               {"[Other]\r\nBartPE=1\r\n", false}, {"[Wirescope]\r\nBartPE=2\r\n", false}};
  const fs::path folder = data / "hivescope";
  ASSERT_EQ(platform::createPrivateFolders(folder), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini ? c.ini : "(no file)");
    fs::remove(folder / "xScope.ini");
    if (c.ini) std::ofstream(folder / "xScope.ini", std::ios::binary) << c.ini;
    boxes.boxes.clear();
    TformMain& form = start({});
    EXPECT_EQ(form.BartPEMode(), c.bartPE);
    EXPECT_EQ(form.bnInfoDBSaveKeyInfo->isEnabled(), !c.bartPE);
    EXPECT_EQ(form.bnInfoDBSaveValueInfo->isEnabled(), !c.bartPE);
    EXPECT_EQ(form.bnInfoDBSaveKeyInfo->toolTip(), c.bartPE ? QStringLiteral("Not available in BartPE") : QString());
    // The hives notice belongs to the pre-installation environment only.
    EXPECT_TRUE(boxes.boxes.empty());
    windows.reset();
  }
}

TEST_F(FormMainStartup, InThePreinstallationEnvironmentTheHivesFoundAreAnnounced) {
  const fs::path folder = data / "hivescope";
  ASSERT_EQ(platform::createPrivateFolders(folder), 0);
  const struct {
    const char* ini;
    bool bartPE, announced;
  } cases[] = {{nullptr, true, true}, {"[Wirescope]\r\nBartPE=0\r\n", false, false},
               {"[Wirescope]\r\nBartPE=1\r\n", true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini ? c.ini : "(no file)");
    fs::remove(folder / "xScope.ini");
    if (c.ini) std::ofstream(folder / "xScope.ini", std::ios::binary) << c.ini;
    boxes.boxes.clear();
    TformMain form;
    form.FormCreate(TCommandLine({}, data.path()), true);
    EXPECT_EQ(form.BartPEMode(), c.bartPE);
    ASSERT_EQ(boxes.boxes.size(), c.announced ? 1u : 0u);
    if (c.announced) {
      QString expected = MessageText(msgDialogHivesLoaded);
      expected.replace(QStringLiteral("%d"), QStringLiteral("0"));  // nothing to mount here
      EXPECT_EQ(boxes.boxes[0].text, expected);
      EXPECT_EQ(boxes.boxes[0].kind, jmInformation);
      EXPECT_EQ(boxes.boxes[0].buttons, buttonBit(cbOK));
    }
  }
}

TEST_F(FormMainStartup, TheHivesThePolicyMountsAreCountedAndGivenBackAtTheEnd) {
  const fs::path minimal = testsupport::testdataFile("hives/crafted/minimal");
  if (!fs::exists(minimal)) GTEST_SKIP() << "test data hives/crafted/minimal is absent";
  fs::create_directories(data / "D" / "WINDOWS" / "System32" / "config");
  for (const char* name : {"system", "software"})
    fs::copy_file(minimal, data / "D" / "WINDOWS" / "System32" / "config" / name);
  platform::setDriveTable({{'C', "/"}, {'D', (data / "D").string()}});
  {
    TformMain form;
    form.FormCreate(TCommandLine({"-externalhives", "-nouserhives"}, data.path()), true);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    QString expected = MessageText(msgDialogHivesLoaded);
    expected.replace(QStringLiteral("%d"), QStringLiteral("2"));
    EXPECT_EQ(boxes.boxes[0].text, expected);
    EXPECT_TRUE(RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, "\\PE_D_SOFTWARE", ViewByte::v64));
    form.FormDestroy();
    EXPECT_FALSE(RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, "\\PE_D_SOFTWARE", ViewByte::v64));
    EXPECT_FALSE(RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, "\\PE_D_SYSTEM", ViewByte::v64));
  }
  platform::setDriveTable({});
  testsupport::setRestorePrivilege(false);
}

TEST_F(FormMainStartup, AHistoryThatCannotBeOpenedIsSaidOnceAndTheProgramRuns) {
  std::ofstream(data / "Brantwell") << "a file where the history's folder belongs";
  TformMain& form = start({"HKEY_CURRENT_USER\\Software"});
  EXPECT_EQ(form.History(), nullptr);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, jmError);
  EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("history"))) << boxes.boxes[0].text.toStdString();
  EXPECT_EQ(selectedPath(), QStringLiteral("HKEY_CURRENT_USER\\Software"));
  closeAndEnd();
  EXPECT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(readSetting("LastKey"), "HKEY_CURRENT_USER\\Software");
}

TEST_F(FormMainStartup, SettingsThatCannotBeSavedAreSaidOnceAndTheWindowStillCloses) {
  start({});
  windows.reset();
  const fs::path hive = platform::registry::registryFolder() / "users" / platform::currentUserSid() / "NTUSER.DAT";
  platform::registry::shutdownForTests();
  testsupport::makeHiveDirty(hive);  // with no logs beside it: read-only, every write refused
  ASSERT_FALSE(ConfigManager().WriteString("Probe", "x", false)) << "the user's hive should refuse writes";

  TformMain& form = start({"HKEY_CURRENT_USER\\Software"});
  EXPECT_TRUE(boxes.boxes.empty());
  form.close();
  EXPECT_FALSE(form.isVisible());
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, jmError);
  EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("The settings could not be saved"))) << boxes.boxes[0].text.toStdString();
  windows.reset();
  EXPECT_EQ(boxes.boxes.size(), 1u);
}

}  // namespace

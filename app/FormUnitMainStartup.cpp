// The main window's life: what creating it, showing it the first time,
// closing it and destroying it do, in their order, with the command line.

#include <QApplication>
#include <QCloseEvent>
#include <QMetaObject>
#include <QSplitter>
#include <QTabWidget>
#include <QToolButton>

#include <fstream>
#include <sstream>

#include "app/CommandLineImport.h"
#include "app/FormUnitMain.h"
#include "app/FormUnitSearch.h"
#include "app/FormUnitHistory.h"
#include "app/HtmlHelpAPI.h"
#include "app/IniFile.h"
#include "app/QtText.h"
#include "app/StartupSteps.h"
#include "app/UiSeams.h"
#include "app/UnitMessages.h"
#include "app/bwlLocalization.h"
#include "core/UnitRegistryInfo.h"
#include "core/bwlConfig.h"
#include "core/bwlRegTools.h"
#include "core/bwlRegistryHistorySQLite.h"
#include "core/kxSecurity.h"
#include "core/kxWinPE.h"
#include "platform/ErrorText.h"
#include "platform/ProgramFiles.h"
#include "platform/RegistryStore.h"

namespace {

// BartPE mode: the family settings file's [Wirescope] BartPE = 1, with 1 as
// the default in the pre-installation environment and 0 elsewhere. A file
// that is missing reads as empty, so the default decides; one that cannot be
// read leaves the probe's answer.
bool ReadBartPEMode(bool winPE) {
  const std::filesystem::path ini = platform::findProgramFile(platform::kFamilySettingsFile);
  if (ini.empty()) return winPE;
  std::ifstream in(ini, std::ios::binary);
  if (!in) return winPE;
  std::ostringstream text;
  if (!(text << in.rdbuf()) && in.peek() != std::ifstream::traits_type::eof()) return winPE;
  return IniFile(text.str()).ReadInteger("Wirescope", "BartPE", winPE ? 1 : 0) == 1;
}

QString fileText(const std::filesystem::path& file) { return QString::fromStdString(file.string()); }

}  // namespace

void TformMain::FormCreate(const TCommandLine& commandLine) { FormCreate(commandLine, IsWinPE()); }

void TformMain::FormCreate(const TCommandLine& commandLine, bool winPE) {
  FStarted = true;
  FCommandLine = commandLine;
  // 1. No monitor, no hive of this run.
  StopMonitor();
  FCustomHives.clear();

  // 2.-3. BartPE mode, where the information database is not saved.
  FBartPE = ReadBartPEMode(winPE);
  for (QToolButton* button : {bnInfoDBSaveKeyInfo, bnInfoDBSaveValueInfo}) {
    button->setEnabled(!FBartPE);
    button->setToolTip(FBartPE ? QStringLiteral("Not available in BartPE") : QString());
  }

  // 4. The hives the policy selects. A candidate whose handling fails
  // unexpectedly is said and the next one tried.
  HiveManager().FInformUser = [this](const std::string& text) {
    messageBoxes().messageDlg(this, ansiToQString(text), jmInformation, buttonBit(cbOK));
  };
  const int hivesMounted = ApplyHiveLoadingPolicy(FCommandLine);

  // 5.-6. The translator learns where the language choice and the language
  // files are, the messages and the menu that lists the languages.
  ConfigureTranslator();

  // 7. In BartPE mode the user is told how many hives were found.
  if (FBartPE && winPE) {
    QString text = Msg(msgDialogHivesLoaded);
    text.replace(QStringLiteral("%d"), QString::number(hivesMounted));
    messageBoxes().messageDlg(this, text, jmInformation, buttonBit(cbOK));
  }

  // 8. The information database; a missing or broken file leaves it empty.
  FInfoDatabase = std::make_unique<TRegistryInfo>();
  try {
    const std::filesystem::path rdb = platform::findProgramFile(platform::kInformationDatabaseFile);
    if (!rdb.empty()) FInfoDatabase->LoadFromFile(rdb.string());
  } catch (...) {
    FInfoDatabase->Clear();
  }

  // 9. The root names, in the tree's order.
  FRootKeyNames = {QStringLiteral("HKEY_CLASSES_ROOT"),     QStringLiteral("HKEY_CURRENT_USER"),
                   QStringLiteral("HKEY_LOCAL_MACHINE"),    QStringLiteral("HKEY_USERS"),
                   QStringLiteral("HKEY_PERFORMANCE_DATA"), QStringLiteral("HKEY_CURRENT_CONFIG"),
                   QStringLiteral("HKEY_DYN_DATA")};

  // 10. The change history. Without it the program still works; the user is
  // told once, here, rather than at every change.
  OpenHistory(TRegistryChangeHistory::DefaultFileName());
}

void TformMain::FormShow() {
  if (FStarted) {
    // 1. The help file, until a language file names another.
    setApplicationHelpFile(fileText(platform::findProgramFile("Help/English.chm")));
    // 2. The English language file, the languages, the saved language.
    StartTranslator();
    // 3. Window placements.
    ConfigManager().LoadFormPlacements();
  }

  // 4. The data page in front; nothing to export yet.
  pcMain->setTabVisible(pcMain->indexOf(tsInfo), kxSecurityAvailable());
  pcMain->setCurrentWidget(tsData);
  aSecurityInformationExportToFile->setEnabled(false);
  aSecurityInformationExportToClipboard->setEnabled(false);

  // 5. The settings; "LastKey" waits for step 11.
  if (FStarted) {
    ReadMainSettings(FSettings);
    ReadRemoteListHistory();
    if (FSettings.HexDumpSizeFound && FSettings.HexDumpSize > 0) {
      lvHexDump->resize(lvHexDump->width(), FSettings.HexDumpSize);
      const int total = splitterHexDump->height();
      splitterHexDump->setSizes({std::max(0, total - FSettings.HexDumpSize), FSettings.HexDumpSize});
    }
  }

  // 6. The key tree.
  BuildKeyTree();
  if (!FStarted) return;

  // 7. The bookmarks into their menu.
  LoadBookmarks();

  // 8.-11. The command line: a file to import, a key to open, or the last key.
  const std::string target = FCommandLine.Target();
  const std::filesystem::path file = FCommandLine.TargetFile();
  if (!file.empty()) {
    const bool silent = FCommandLine.FindSwitch("s");
    if (silent || messageBoxes().messageDlg(this, Msg(msgDialogConfirmImport), jmConfirmation,
                                            buttonBit(cbYes) | buttonBit(cbNo)) == mrYes) {
      const TImportOutcome outcome = ImportRegFileChecked(file);
      if (!outcome.Succeeded)
        messageBoxes().messageDlg(this, fileText(file) + QStringLiteral(": ") + QString::fromStdString(outcome.FirstFailure),
                                  jmError, buttonBit(cbOK));
    }
    if (!FCommandLine.FindSwitch("gui")) {
      // The program ends without closing the window (nothing of a close is
      // saved); the loop ends at its first turn.
      FTerminateRequested = true;
      QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
  } else if (!target.empty()) {
    JumpToPath(ansiToQString(target));
  } else if (FSettings.LastKeyFound && !FSettings.LastKey.empty() && !FCommandLine.FindSwitch("nolastjump")) {
    JumpToPath(ansiToQString(FSettings.LastKey));
  }

  // 12. A command-line search: the search window takes its options, shows
  // its scope and starts it once start-up is through (the search handles
  // events while it runs). The options are the search window's from then on,
  // so a close keeps them as set.
  if (FCommandLine.FindSwitch("search")) {
    FCommandLineSearch = PrepareCommandLineSearch(FCommandLine, FSettings.Search);
    FSettings.Search = FCommandLineSearch->Options;
    TformSearch* search = formSearch();
    search->setSettings(FCommandLineSearch->Options);
    search->ShowSearch(FCommandLineSearch->Root, ansiToQString(FCommandLineSearch->KeyPath),
                       static_cast<TRegistryView>(FCommandLineSearch->View));
    QMetaObject::invokeMethod(
        search, [search] { search->aSearchStartExecute(); }, Qt::QueuedConnection);
  }

  // 13. The history window gets the history.
  formHistory()->SetHistory(FHistory.get());
}

void TformMain::FormCloseQuery() { StopMonitor(); }

void TformMain::FormClose() {
  const NodeLocation location = GetSelectedLocation();
  std::string failure;
  if (!ConfigManager().SaveFormPlacements()) failure = "the window placements cannot be written";
  FSettings.LastKey = RootKeyToLongName(location.root) + qStringToAnsi(location.keyPath);
  FSettings.LastKeyFound = true;
  FSettings.HexDumpSize = lvHexDump->height();
  if (formSearch_) FSettings.Search = formSearch_->settings();
  WriteRemoteListHistory();
  if (std::string written = WriteMainSettings(FSettings); !written.empty() && failure.empty()) failure = written;
  // The settings count as saved once they are in the hive file.
  if (const auto rc = platform::registry::flushAll(); rc != 0 && failure.empty())
    failure = "the registry hives cannot be written back: " + platform::systemErrorText(static_cast<std::uint32_t>(rc));
  // A failure is said; the window still closes and the program ends normally.
  if (!failure.empty())
    messageBoxes().messageDlg(this, QStringLiteral("The settings could not be saved: ") + ansiToQString(failure),
                              jmError, buttonBit(cbOK));
}

void TformMain::FormDestroy() {
  if (!FStarted || FDestroyed) return;
  FDestroyed = true;
  // The profiles of additionally logged-on users and the hives mounted for
  // this run are given back by their units once those are built; the hives
  // the policy mounted go back here, unless another program still uses them.
  UnloadHivesAtExit();
  HiveManager().FInformUser = nullptr;
  if (formHistory_) formHistory_->SetHistory(nullptr);
  FHistory.reset();
  FRootKeyNames.clear();
  FInfoDatabase.reset();  // never saved here
}

void TformMain::closeEvent(QCloseEvent* event) {
  FormCloseQuery();
  if (FStarted && !FClosed) {
    FClosed = true;
    FormClose();
  }
  // The search window has no parent; closing the main window ends the
  // program, so a search still running stops and its window goes too.
  if (formSearch_) formSearch_->bnCancelClick();
  QMainWindow::closeEvent(event);
}

// The about box: its texts from the program's version block, the credits,
// and the update check against a python http.server on 127.0.0.1.

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/UiSeams.h"
#include "app/bwlUIDlgAbout.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/Screenshot.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

namespace fs = std::filesystem;

namespace {

struct Shown {
  QString text;
  TTdMessageType kind;
  TCommonButtons buttons;
};

class RecordingBoxes : public MessageBoxes {
public:
  std::vector<Shown> shown;
  int answer = mrYes;
  int messageDlg(QWidget*, const QString& text, TTdMessageType kind, TCommonButtons buttons) override {
    shown.push_back({text, kind, buttons});
    return answer;
  }
};

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace

TEST(DlgAbout, VersionsCompareAsDottedNumbers) {
  struct Case {
    const char *a, *b;
    int sign;
  } cases[] = {
      {"1.10", "1.6", 1},     {"1.6", "1.6", 0},     {"1.6.1", "1.6", 1},  {"1.6", "1.6.1", -1},
      {"2.0", "10.0", -1},    {"1.06", "1.6", 0},    {"1.6b", "1.6B", 0},  {"1.6b", "1.6a", 1},
      {"", "1.6", -1},        {"1.6", "", 1},        {"1.7", "1.6.9", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    const int r = CompareVersionTexts(QString::fromLatin1(c.a), QString::fromLatin1(c.b));
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
  }
}

TEST(DlgAbout, ShowsTheProgramsOwnVersion) {
  ScopedEnv noServer("HIVESCOPE_UPDATE_SERVER", "");
  TdlgAbout box;
  box.SetUpdateFile(QStringLiteral("hivescope.ini"));
  box.FillFromVersionResource();
  EXPECT_EQ(box.windowTitle(), QStringLiteral("About Hivescope"));
  EXPECT_EQ(box.labelProduct->text(), QStringLiteral("Hivescope"));
  EXPECT_EQ(box.labelVersion->text(), QStringLiteral("Version " HIVESCOPE_PROJECT_VERSION));
  EXPECT_EQ(box.FOwnVersion, QStringLiteral(HIVESCOPE_PROJECT_VERSION));
  box.show();
  QApplication::processEvents();
  EXPECT_FALSE(box.bnTranslations->isVisible());
  EXPECT_FALSE(box.bnUpdates->isVisible()) << "no update server";
  EXPECT_TRUE(box.bnOk->isVisible());
  saveScreenshot(box, "about-box");
}

TEST(DlgAbout, ShowAboutBoxTakesTheUpdateFileName) {
  ScopedEnv server("HIVESCOPE_UPDATE_SERVER", "127.0.0.1:1");
  UpdateFileName = QStringLiteral("hivescope.ini");
  bool seen = false;
  onNextModalWindow([&](QDialog& dialog) {
    auto* box = qobject_cast<TdlgAbout*>(&dialog);
    ASSERT_NE(box, nullptr);
    seen = true;
    EXPECT_EQ(box->windowTitle(), QStringLiteral("About Hivescope"));
    EXPECT_EQ(box->FUpdateFile, QStringLiteral("hivescope.ini"));
    EXPECT_TRUE(box->bnUpdates->isVisible());
    box->bnOk->click();
  });
  ShowAboutBox(QString(), false);
  UpdateFileName.clear();
  EXPECT_TRUE(seen);
}

TEST(DlgAbout, UpdatesShowWithAFileAndAServer) {
  struct Case {
    const char* server;
    const char* file;
    bool visible;
  } cases[] = {{"127.0.0.1:1", "hivescope.ini", true}, {"127.0.0.1:1", "", false}, {"", "hivescope.ini", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.server) + " " + c.file);
    ScopedEnv server("HIVESCOPE_UPDATE_SERVER", c.server);
    TdlgAbout box;
    box.SetUpdateFile(QString::fromLatin1(c.file));
    box.show();
    QApplication::processEvents();
    EXPECT_EQ(box.bnUpdates->isVisible(), c.visible);
  }
}

TEST(DlgAbout, CreditsListEachTranslatorLine) {
  RecordingBoxes boxes;
  setMessageBoxes(&boxes);
  TdlgAbout box;
  box.FillFromVersionStrings({"ProductName=Probe", "ProductVersion=2, 5", "FileVersion=2, 5, 0, 17",
                              "FileDescription=Probe tool", "LegalCopyright=(C) Probe",
                              "Translators=German=Hans Muster\r\nFrench=Jean Dupont"});
  box.show();
  QApplication::processEvents();
  EXPECT_EQ(box.windowTitle(), QStringLiteral("About Probe"));
  EXPECT_EQ(box.labelVersion->text(), QStringLiteral("Version 2.5"));
  EXPECT_EQ(box.labelDescription->text(), QStringLiteral("Probe tool 2.5.0.17"));
  EXPECT_EQ(box.labelLegal->text(), QStringLiteral("(C) Probe\n"));
  EXPECT_TRUE(box.bnTranslations->isVisible());
  box.bnTranslations->click();
  setMessageBoxes(nullptr);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, QStringLiteral("German: Hans Muster\nFrench: Jean Dupont\n"));
}

// The update server: python's http.server serving a temporary folder.
class UpdateCheck : public ::testing::Test {
protected:
  void SetUp() override {
    if (!fs::exists(HIVESCOPE_PYTHON3)) GTEST_SKIP() << "python3 is not installed";
    fs::create_directories(site_ / "updates");
    fs::create_directories(site_ / "files");
    fs::create_directories(config_);
    fs::create_directories(desktop_);
    std::ofstream(config_ / "user-dirs.dirs") << "XDG_DESKTOP_DIR=\"" << desktop_.string() << "\"\n";

    server_.setProgram(QString::fromLocal8Bit(HIVESCOPE_PYTHON3));
    server_.setArguments({QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"), QStringLiteral("0"),
                          QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--directory"),
                          QString::fromStdString(site_.string())});
    server_.setProcessChannelMode(QProcess::SeparateChannels);
    server_.start();
    ASSERT_TRUE(server_.waitForStarted(30000));
    // It names the port it got: "Serving HTTP on 127.0.0.1 port 41234 (...".
    QByteArray said;
    QRegularExpression portText(QStringLiteral("port (\\d+)"));
    testsupport::waitUntil([&] {
      server_.waitForReadyRead(100);
      said += server_.readAllStandardOutput();
      return portText.match(QString::fromLatin1(said)).hasMatch();
    });
    const QString port = portText.match(QString::fromLatin1(said)).captured(1);
    ASSERT_FALSE(port.isEmpty()) << said.toStdString();
    base_ = "http://127.0.0.1:" + port.toStdString();
    serverEnv_.emplace("HIVESCOPE_UPDATE_SERVER", "127.0.0.1:" + port.toStdString());
    setMessageBoxes(&boxes_);
  }
  void TearDown() override {
    setMessageBoxes(nullptr);
    if (server_.state() != QProcess::NotRunning) {
      server_.kill();
      server_.waitForFinished(30000);
    }
  }
  void answerFile(const std::string& text) { std::ofstream(site_ / "updates" / "hivescope.ini") << text; }
  // Runs the check in a box whose own version is 1.6.
  void check(const QString& updateFile = QStringLiteral("hivescope.ini")) {
    boxes_.shown.clear();
    TdlgAbout box;
    box.FillFromVersionStrings({"ProductName=Hivescope", "ProductVersion=1.6"});
    box.SetUpdateFile(updateFile);
    box.CheckForUpdates();
  }
  std::vector<QString> texts() const {
    std::vector<QString> t;
    for (const Shown& s : boxes_.shown) t.push_back(s.text);
    return t;
  }

  testsupport::TempDir dir_{"hivescope-update"};
  fs::path site_ = dir_ / "site", config_ = dir_ / "config", desktop_ = dir_ / "Desktop";
  ScopedEnv configEnv_{"XDG_CONFIG_HOME", (dir_ / "config").string()};
  ScopedEnv noProxy_{"no_proxy", "*"};
  std::optional<ScopedEnv> serverEnv_;
  QProcess server_;
  std::string base_;
  RecordingBoxes boxes_;
};

TEST_F(UpdateCheck, AnswersAboutTheVersion) {
  struct Case {
    const char* answer;
    const char* text;
    TTdMessageType kind;
  } cases[] = {
      {"CurrentVersion=1.10\r\nNotifyText=Faster search\r\n", "There's a new version, 1.10, available.\nFaster search",
       jmWarning},
      {"currentversion=1.6.1\nNotifyText=Fixes\n", "There's a new version, 1.6.1, available.\nFixes", jmWarning},
      {"CurrentVersion=1.6\r\nNotifyText=Same\r\n", "Nothing to update - you're still using the newest version.",
       jmInformation},
      {"CurrentVersion=1.5\r\n", "Nothing to update - you're still using the newest version.", jmInformation},
      {"NotifyText=no version\r\n", "Nothing to update - you're still using the newest version.", jmInformation},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    answerFile(c.answer);
    check();
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, QString::fromUtf8(c.text));
    EXPECT_EQ(boxes_.shown[0].kind, c.kind);
  }
}

TEST_F(UpdateCheck, AMissingAnswerFileIsReported) {
  check(QStringLiteral("absent.ini"));
  EXPECT_EQ(texts(), std::vector<QString>{QStringLiteral(
                         "An unknown error occured while trying to search for updates:\nFile not found on server!")});
}

TEST_F(UpdateCheck, AProgramIsSavedNotRun) {
  const fs::path marker = dir_ / "marker";
  const std::string script = "#!/bin/sh\ntouch " + testsupport::shellQuote(marker.string()) + "\n";
  std::ofstream(site_ / "files" / "update.exe") << script;
  answerFile("CurrentVersion=1.10\r\nNotifyText=New things\r\nURL=" + base_ + "/files/update.exe\r\n");
  check();
  EXPECT_EQ(texts(), (std::vector<QString>{
                         QStringLiteral("There's a new version, 1.10, available.\nNew things\nDo you want to download it?"),
                         QStringLiteral("The update has been downloaded and saved as update.exe on your desktop.")}));
  ASSERT_EQ(boxes_.shown.size(), 2u);
  EXPECT_EQ(boxes_.shown[0].kind, jmConfirmation);
  EXPECT_EQ(boxes_.shown[0].buttons, buttonBit(cbYes) | buttonBit(cbNo));
  EXPECT_EQ(testsupport::readFileText(desktop_ / "update.exe"), script);
  const fs::perms perms = fs::status(desktop_ / "update.exe").permissions();
  EXPECT_EQ(perms & (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec), fs::perms::none);
  EXPECT_FALSE(fs::exists(marker));

}

// The desktop folder may be the home folder: a download never replaces what
// is there, and never takes a name beginning with a dot.
TEST_F(UpdateCheck, ADownloadNeverReplacesAFileNorWritesADotName) {
  std::ofstream(desktop_ / ".profile") << "mine";
  std::ofstream(desktop_ / "update.exe") << "kept";
  std::ofstream(site_ / "files" / ".profile") << "theirs";
  std::ofstream(site_ / "files" / ".hidden") << "theirs";
  std::ofstream(site_ / "files" / "update.exe") << "theirs";
  const QString question = QStringLiteral("There's a new version, 2.0, available.\n\nDo you want to download it?");
  const QString failed = QStringLiteral("An unknown error occured while trying to download the update:\n");
  struct Case {
    const char* file;
    QString why;
  } cases[] = {
      {".profile", QStringLiteral("The filename, directory name, or volume label syntax is incorrect.")},
      {".hidden", QStringLiteral("The filename, directory name, or volume label syntax is incorrect.")},
      {"update.exe", QStringLiteral("Cannot create a file when that file already exists.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    answerFile("CurrentVersion=2.0\r\nURL=" + base_ + "/files/" + c.file + "\r\n");
    check();
    EXPECT_EQ(texts(), (std::vector<QString>{question, failed + c.why}));
  }
  EXPECT_EQ(testsupport::readFileText(desktop_ / ".profile"), "mine");
  EXPECT_EQ(testsupport::readFileText(desktop_ / "update.exe"), "kept");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(desktop_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".profile", "update.exe"}));
}

TEST_F(UpdateCheck, AFailedOrDeclinedDownloadLeavesTheDesktopAlone) {
  std::ofstream(desktop_ / "old.bin") << "keep";
  std::ofstream(site_ / "files" / "new.bin") << "new bytes";
  const QString question = QStringLiteral("There's a new version, 2.0, available.\n\nDo you want to download it?");
  struct Case {
    std::string url;
    int answer;
    std::vector<QString> texts;
  } cases[] = {
      {base_ + "/files/gone.bin", mrYes,
       {question, QStringLiteral("An unknown error occured while trying to download the update:\nFile not found on server!")}},
      {base_ + "/files/old.bin", mrYes,
       {question, QStringLiteral("An unknown error occured while trying to download the update:\n"
                                 "Cannot create a file when that file already exists.")}},
      {base_ + "/files/new.bin", mrNo, {question}},
      {base_ + "/files/", mrYes,
       {question, QStringLiteral("An unknown error occured while trying to download the update:\n"
                                 "The filename, directory name, or volume label syntax is incorrect.")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    answerFile("CurrentVersion=2.0\r\nURL=" + c.url + "\r\n");
    boxes_.answer = c.answer;
    check();
    EXPECT_EQ(texts(), c.texts);
    EXPECT_EQ(testsupport::readFileText(desktop_ / "old.bin"), "keep");
    EXPECT_FALSE(fs::exists(desktop_ / "new.bin"));
    std::size_t entries = 0;
    for (const auto& e : fs::directory_iterator(desktop_)) entries += e.path().filename() != "old.bin";
    EXPECT_EQ(entries, 0u) << "no partial or temporary file stays";
  }
}

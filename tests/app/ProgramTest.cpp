// The program as a child process: any arguments, closed the way a desktop
// session closes it; its first run, its settings across runs and its silent
// import, checked on the files it leaves.

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

namespace fs = std::filesystem;

namespace {

// Whether the process has a handler of its own for `signal` (the SigCgt mask
// of /proc/<pid>/status); that is when it is ready to be closed by it.
bool catchesSignal(qint64 pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    return (mask >> (signal - 1)) & 1u;
  }
  return false;
}

QProcessEnvironment programEnvironment(const fs::path& registry, const fs::path& data) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  environment.insert("HIVESCOPE_REGISTRY", QString::fromStdString(registry.string()));
  environment.insert("XDG_DATA_HOME", QString::fromStdString(data.string()));
  return environment;
}

// Starts the program and waits until its window is up and closing it by
// SIGTERM is possible. False (with the reason recorded) when it ended first.
bool startUntilReady(QProcess& program, const QStringList& arguments) {
  const int patience = static_cast<int>(testsupport::kPatience.count());
  program.start(QStringLiteral(HIVESCOPE_PROGRAM), arguments);
  if (!program.waitForStarted(patience)) {
    ADD_FAILURE() << "the program did not start";
    return false;
  }
  bool ready = false;
  testsupport::waitUntil([&] {
    ready = catchesSignal(program.processId(), SIGTERM);
    return ready || program.state() != QProcess::Running;
  });
  if (!ready)
    ADD_FAILURE() << "the program ended or never got ready; exit code " << program.exitCode() << "\n"
                  << program.readAllStandardError().toStdString();
  return ready;
}

// Closes the program as a desktop session does; it must end normally with 0.
void terminateNormally(QProcess& program) {
  program.terminate();  // SIGTERM
  ASSERT_TRUE(program.waitForFinished(static_cast<int>(testsupport::kPatience.count())));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
}

// The only folder below users/: the user's SID.
fs::path userFolder(const fs::path& registry) {
  for (const auto& e : fs::directory_iterator(registry / "users")) return e.path();
  return {};
}

bool haveTool(const char* name) { return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty(); }

// What a hivex tool prints for the arguments (standard input: `input`).
std::string runTool(const char* name, const QStringList& arguments, const std::string& input = {}) {
  QProcess tool;
  tool.start(QString::fromLatin1(name), arguments);
  const int patience = static_cast<int>(testsupport::kPatience.count());
  if (!tool.waitForStarted(patience)) return "<did not start>";
  tool.write(input.data(), static_cast<qint64>(input.size()));
  tool.closeWriteChannel();
  if (!tool.waitForFinished(patience)) return "<did not end>";
  return tool.readAllStandardOutput().toStdString();
}

QString qs(const fs::path& p) { return QString::fromStdString(p.string()); }

// A setting as hivexget prints it, from the user's hive.
std::string setting(const fs::path& registry, const char* key, const char* name) {
  std::string out = runTool("hivexget", {qs(userFolder(registry) / "NTUSER.DAT"),
                                         QString::fromLatin1("\\Software\\Brantwell Limited\\Hivescope") +
                                             QString::fromLatin1(key),
                                         QString::fromLatin1(name)});
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

TEST(Program, UnknownArgumentsNeverCrashAndSigtermClosesWithExitCodeZero) {
  const QStringList argumentSets[] = {
      {"--bogus", "/x", "-zz"},
      {"", "-", "--", "/", "\\\\"},
      {QString(5000, u'x'), QString::fromUtf8("/\xc3\xa9\xe2\x82\xac"), "HKEY_NOWHERE\\a\\b"},
      // Qt's own options are ours: Qt never sees them.
      {"-style=regexp", "-reverse", "-platform", "xcb"},
  };
  for (const QStringList& arguments : argumentSets) {
    SCOPED_TRACE(arguments.join(u' ').left(80).toStdString());
    testsupport::TempDir dir("hivescope-program");
    QProcess program;
    program.setProcessEnvironment(programEnvironment(dir / "registry", dir / "data"));
    if (!startUntilReady(program, arguments)) continue;
    terminateNormally(program);
  }
}

// An X server of the test's own, for what only a real display shows (window
// titles of child processes). Stopped when it goes out of scope.
class OwnDisplay {
public:
  OwnDisplay() {
    if (!haveTool("Xvfb")) return;
    // With -displayfd the server writes its display number once it accepts
    // connections.
    server_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
    if (!server_.waitForStarted(static_cast<int>(testsupport::kPatience.count()))) return;
    QByteArray out;
    testsupport::waitUntil([&] {
      server_.waitForReadyRead(100);
      out += server_.readAllStandardOutput();
      return out.contains('\n') || server_.state() != QProcess::Running;
    });
    if (out.contains('\n')) display_ = QStringLiteral(":") + QString::fromLatin1(out.trimmed());
  }
  ~OwnDisplay() {
    server_.terminate();
    server_.waitForFinished(static_cast<int>(testsupport::kPatience.count()));
  }
  OwnDisplay(const OwnDisplay&) = delete;
  OwnDisplay& operator=(const OwnDisplay&) = delete;
  // ":N", or empty when no server could be started.
  const QString& name() const { return display_; }

private:
  QProcess server_;
  QString display_;
};

// Process id -> title of every top-level window with a title beginning with
// `prefix` on the display.
std::map<qint64, std::string> windowsTitled(const QString& display, const std::string& prefix) {
  std::map<qint64, std::string> found;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("DISPLAY", display);
  auto run = [&](const char* tool, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QString::fromLatin1(tool), arguments);
    process.waitForFinished(static_cast<int>(testsupport::kPatience.count()));
    return process.readAllStandardOutput().toStdString();
  };
  std::istringstream tree(run("xwininfo", {"-root", "-children"}));
  std::string line;
  while (std::getline(tree, line)) {
    // `     0x200006 "Title": ("class" "Class")  900x757+0+0  +0+0`
    const std::size_t open = line.find(" \"");
    if (open == std::string::npos || line.find("0x") == std::string::npos) continue;
    const std::size_t close = line.find("\":", open + 2);
    if (close == std::string::npos) continue;
    const std::string title = line.substr(open + 2, close - open - 2);
    if (title.rfind(prefix, 0) != 0) continue;
    std::istringstream words(line);
    std::string id;
    words >> id;
    const std::string pid = run("xprop", {"-id", QString::fromStdString(id), "_NET_WM_PID"});
    const std::size_t equals = pid.find("= ");
    if (equals != std::string::npos) found[std::stoll(pid.substr(equals + 2))] = title;
  }
  return found;
}

// Both write the English file and read the language files at the same time;
// neither waits for the other for good, both come up in the language chosen,
// and the English file is whole afterwards.
TEST(Program, TwoInstancesStartedAtOnceBothComeUpInTheirLanguageAndLeaveTheEnglishFileWhole) {
  if (!haveTool("hivexsh")) GTEST_SKIP() << "hivexsh is not installed";
  testsupport::TempDir dir("hivescope-program");
  const fs::path languages = dir / "data" / "hivescope" / "Languages";
  // A first run makes the registry, the change history and the English file.
  {
    QProcess once;
    once.setProcessEnvironment(programEnvironment(dir / "registry", dir / "data"));
    ASSERT_TRUE(startUntilReady(once, {}));
    terminateNormally(once);
  }
  // A German file made from the English one, with the main window's title
  // changed, is the language chosen.
  {
    std::ifstream in(languages / "English.hsc", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string german = text.str();
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"\r\nLanguageName=English\r\n",
                                                                       "\r\nLanguageName=Deutsch\r\n"},
                                   {"\r\nformMain=Hivescope\r\n", "\r\nformMain=Hivescope auf Deutsch\r\n"}}) {
      const std::size_t at = german.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      german.replace(at, from.size(), to);
    }
    std::ofstream(languages / "Deutsch.hsc", std::ios::binary) << german;
  }
  runTool("hivexsh", {"-w", qs(userFolder(dir / "registry") / "NTUSER.DAT")},
          "cd \\Software\\Brantwell Limited\nadd Analysis tools\ncd Analysis tools\nadd Hivescope\n"
          "cd Hivescope\nsetval 1\nLanguage\nstring:Deutsch\ncommit\n");

  // Window titles need a display; without an X server the instances still
  // run, on the offscreen platform.
  const OwnDisplay display;
  const bool onDisplay = !display.name().isEmpty() && haveTool("xwininfo") && haveTool("xprop");
  QProcess first, second;
  for (QProcess* program : {&first, &second}) {
    QProcessEnvironment environment = programEnvironment(dir / "registry", dir / "data");
    if (onDisplay) {
      environment.insert("QT_QPA_PLATFORM", "xcb");
      environment.insert("DISPLAY", display.name());
    }
    program->setProcessEnvironment(environment);
    program->start(QStringLiteral(HIVESCOPE_PROGRAM), {});
  }
  for (QProcess* program : {&first, &second}) {
    ASSERT_TRUE(program->waitForStarted(static_cast<int>(testsupport::kPatience.count())));
    bool ready = false;
    testsupport::waitUntil([&] {
      ready = catchesSignal(program->processId(), SIGTERM);
      return ready || program->state() != QProcess::Running;
    });
    ASSERT_TRUE(ready) << program->readAllStandardError().toStdString();
  }
  if (onDisplay) {
    std::map<qint64, std::string> titled;
    testsupport::waitUntil([&] {
      titled = windowsTitled(display.name(), "Hivescope auf Deutsch");
      return titled.size() == 2;
    });
    EXPECT_EQ(titled.count(first.processId()), 1u) << "the first instance's window is not in German";
    EXPECT_EQ(titled.count(second.processId()), 1u) << "the second instance's window is not in German";
  }
  for (QProcess* program : {&first, &second}) terminateNormally(*program);
  std::ifstream in(languages / "English.hsc", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const std::string english = text.str();
  EXPECT_NE(english.find("[Main]\r\nLanguageName=English\r\n"), std::string::npos);
  EXPECT_NE(english.find("\r\nRemoteErrorNoNetwork=The network is unavailable.\r\n"), std::string::npos);
  // The flags are written last.
  const std::size_t flag32 = english.rfind("\r\nFlag32=424D");
  ASSERT_NE(flag32, std::string::npos);
  EXPECT_EQ(english.find("\r\n", flag32 + 2), english.size() - 4) << "one line, then the section's end";
  if (!onDisplay) GTEST_SKIP() << "no Xvfb, xwininfo or xprop: the windows' language was not checked";
}

TEST(Program, AFirstRunMakesAPrivateRegistryAndACloseSavesEverySetting) {
  testsupport::TempDir dir("hivescope-program");
  const fs::path registry = dir / "registry";
  QProcess program;
  program.setProcessEnvironment(programEnvironment(registry, dir / "data"));
  {
    testsupport::ScopedUmask umask(022);  // the child inherits it
    ASSERT_TRUE(startUntilReady(program, {}));
  }
  terminateNormally(program);

  const fs::path user = userFolder(registry);
  ASSERT_FALSE(user.empty());
  for (const fs::path& folder : {registry, registry / "machine", registry / "users", user})
    EXPECT_EQ(testsupport::permissionBits(folder), 0700u) << folder;
  for (const char* hive : {"SYSTEM", "SOFTWARE", "SAM", "SECURITY", "DEFAULT"})
    EXPECT_EQ(testsupport::permissionBits(registry / "machine" / hive), 0600u) << hive;
  for (const char* hive : {"NTUSER.DAT", "UsrClass.dat"}) EXPECT_EQ(testsupport::permissionBits(user / hive), 0600u) << hive;
  EXPECT_EQ(testsupport::permissionBits(dir / "data" / "Brantwell" / "Hivescope" / "history.sqlite"), 0600u);

  if (!haveTool("hivexsh")) GTEST_SKIP() << "hivexsh is not installed";
  const std::string values =
      runTool("hivexsh", {qs(user / "NTUSER.DAT")}, "cd \\Software\\Brantwell Limited\\Hivescope\nlsval\n");
  for (const char* name :
       {"LastKey", "SearchKeys", "SearchValues", "SearchData", "SearchRange", "SearchIgnoreCase", "SearchHighSpeed",
        "SearchTypeStrings", "SearchTypeNumerics", "SearchTypeBinary", "SearchForHex", "SearchTerm",
        "SearchDateTime1", "SearchDateTime2", "SearchByDateMode", "SearchStyle", "ReplaceIgnoreCase",
        "ReplaceOverwriteExistingValues", "ReplaceOverwriteExistingKeys", "HexDumpSize", "RemoteListHistory"})
    EXPECT_NE(values.find(std::string("\"") + name + "\"="), std::string::npos) << name << "\n" << values;
  const std::string placement = runTool("hivexsh", {qs(user / "NTUSER.DAT")},
                                        "cd \\Software\\Brantwell Limited\\Hivescope\\UI\\Forms\\formMain\nlsval\n");
  for (const char* name : {"Left", "Top", "Width", "Height", "WindowState"})
    EXPECT_NE(placement.find(std::string("\"") + name + "\"=dword:"), std::string::npos) << name << "\n" << placement;
  // Every window the program made keeps its placement.
  const std::string forms =
      runTool("hivexsh", {qs(user / "NTUSER.DAT")}, "cd \\Software\\Brantwell Limited\\Hivescope\\UI\\Forms\nls\n");
  for (const char* form : {"formMain", "formEditString", "formEditInteger", "formEditMultiString",
                           "formEditResourceRequirementsList", "formImportProgress", "formValueType",
                           "formHistory"})
    EXPECT_NE(forms.find(form), std::string::npos) << form << "\n" << forms;
}

TEST(Program, TheCommandLineKeyAndSearchReachTheSettingsKeptAtClose) {
  if (!haveTool("hivexget")) GTEST_SKIP() << "hivexget is not installed";
  testsupport::TempDir dir("hivescope-program");
  const fs::path registry = dir / "registry";
  const struct {
    QStringList arguments;
    const char* lastKey;
    const char* style;  // SearchStyle as hivexget prints it
  } runs[] = {
      {{"HKEY_CURRENT_USER\\Software"}, "HKEY_CURRENT_USER\\Software", "0"},
      {{}, "HKEY_CURRENT_USER\\Software", "0"},  // a restart returns to the last key
      {{"*", "Run", "-search", "-style=regexp", "-nolastjump"}, "HKEY_LOCAL_MACHINE", "3"},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.arguments.join(u' ').toStdString());
    QProcess program;
    program.setProcessEnvironment(programEnvironment(registry, dir / "data"));
    if (!startUntilReady(program, run.arguments)) continue;
    terminateNormally(program);
    EXPECT_EQ(setting(registry, "", "LastKey"), run.lastKey);
    EXPECT_EQ(setting(registry, "", "SearchStyle"), run.style);
  }
  EXPECT_EQ(setting(registry, "", "SearchTerm"), "Run");
}

TEST(Program, SilentImportNeedsNoDisplayAndSaysWhatFailed) {
  testsupport::TempDir dir("hivescope-silent");
  const fs::path registry = dir / "registry";
  std::ofstream(dir / "i.reg") << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Imp]\n\"D\"=dword:000000ff\n";
  std::ofstream(dir / "text.reg") << "just some text\n";
  std::ofstream(dir / "hklm.reg") << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\x]\n\"a\"=\"b\"\n";
  // Every kind of line that applies: values of several kinds, the default
  // value, a deletion of a value and of a key that are not there, an empty
  // section.
  std::ofstream(dir / "forms.reg") << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Forms]\n\"S\"=\"x\"\n@=\"d\"\n"
                                      "\"B\"=hex:01,02\n\"Gone\"=-\n[-HKEY_CURRENT_USER\\Software\\Never]\n"
                                      "[HKEY_CURRENT_USER\\Software\\Empty]\n";
  std::ofstream(dir / "malformed.reg") << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Bad]\n\"D\"=dword:zz\n";
  std::ofstream(dir / "unknown.reg") << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Bad]\n\"E\"=foo:12\n";
  // A delete path with a final backslash names no key of its own: cut there
  // it would name Software and take Imp with it (checked at the end).
  std::ofstream(dir / "climb.reg") << "REGEDIT4\n\n[-HKEY_CURRENT_USER\\Software\\\\]\n";
  const struct {
    QStringList arguments;
    int exitCode;
    const char* stderrHas;  // in its one line; nullptr: stderr stays empty
  } cases[] = {
      {{qs(dir / "i.reg"), "-s"}, 0, nullptr},
      {{"/S", "i.reg"}, 0, nullptr},  // relative to the working folder
      {{qs(dir / "forms.reg"), "-s"}, 0, nullptr},
      {{qs(dir / "malformed.reg"), "-s"}, 1, "'D' in [HKEY_CURRENT_USER\\Software\\Bad] was not written"},
      {{qs(dir / "unknown.reg"), "-s"}, 1, "'E' in [HKEY_CURRENT_USER\\Software\\Bad] has data of no known form"},
      {{qs(dir / "climb.reg"), "-s"}, 1, "[HKEY_CURRENT_USER\\Software\\\\]"},
      {{qs(dir / "text.reg"), "--s"}, 1, "text.reg: "},
      {{qs(dir / "hklm.reg"), "-s"}, 1, "[HKEY_LOCAL_MACHINE\\x]: Access is denied. (5)"},
      {{qs(dir / "missing.reg"), "-s"}, 1, "missing.reg: "},
      {{qs(dir.path()), "-s"}, 1, ": no such file"},  // a folder is no file
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.join(u' ').toStdString());
    QProcess program;
    QProcessEnvironment environment = programEnvironment(registry, dir / "data");
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(qs(dir.path()));
    program.start(QStringLiteral(HIVESCOPE_PROGRAM), c.arguments);
    ASSERT_TRUE(program.waitForFinished(static_cast<int>(testsupport::kPatience.count())));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), c.exitCode);
    const std::string errors = program.readAllStandardError().toStdString();
    if (!c.stderrHas) {
      EXPECT_EQ(errors, "");
    } else {
      EXPECT_NE(errors.find(c.stderrHas), std::string::npos) << errors;
      EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line:\n" << errors;
    }
  }
  if (!haveTool("hivexget")) GTEST_SKIP() << "hivexget is not installed";
  const std::string value =
      runTool("hivexget", {qs(userFolder(registry) / "NTUSER.DAT"), "\\Software\\Imp", "D"});
  EXPECT_EQ(value, "255\n");
}

}  // namespace

// The user's hive is a link to a file elsewhere (a hive kept on another
// disk): a silent import writes into that file, and the link stays a link.
TEST(Program, ASilentImportIntoAHiveMountedThroughALinkChangesTheRealFile) {
  if (!haveTool("hivexget")) GTEST_SKIP() << "hivexget is not installed";
  testsupport::TempDir dir("hivescope-program");
  const fs::path registry = dir / "registry";
  const auto silentImport = [&](const std::string& text) {
    testsupport::writeFileText(dir / "import.reg", text);
    QProcess program;
    program.setProcessEnvironment(programEnvironment(registry, dir / "data"));
    program.start(QStringLiteral(HIVESCOPE_PROGRAM), {qs(dir / "import.reg"), QStringLiteral("-s")});
    const int patience = static_cast<int>(testsupport::kPatience.count());
    EXPECT_TRUE(program.waitForFinished(patience));
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
  };
  silentImport("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Linked]\r\n\"v\"=\"before\"\r\n");
  const fs::path user = userFolder(registry);
  ASSERT_FALSE(user.empty());
  fs::create_directory(dir / "elsewhere");
  const fs::path real = dir / "elsewhere" / "NTUSER.DAT";
  fs::rename(user / "NTUSER.DAT", real);
  fs::create_symlink(real, user / "NTUSER.DAT");
  const auto entries = [](const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> userEntries = entries(user);

  silentImport("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Linked]\r\n\"v\"=\"through a link\"\r\n");
  EXPECT_EQ(runTool("hivexget", {qs(real), QStringLiteral("\\Software\\Linked"), QStringLiteral("v")}),
            "through a link\n");
  EXPECT_TRUE(fs::is_symlink(user / "NTUSER.DAT"));
  EXPECT_EQ(fs::read_symlink(user / "NTUSER.DAT"), real);
  EXPECT_EQ(entries(user), userEntries) << "nothing left beside the link";
  EXPECT_EQ(entries(dir / "elsewhere"), std::vector<std::string>{"NTUSER.DAT"}) << "nor beside the file";
}

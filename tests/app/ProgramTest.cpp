// The program as a child process: any arguments, closed the way a desktop
// session closes it.

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

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

TEST(Program, UnknownArgumentsNeverCrashAndSigtermClosesWithExitCodeZero) {
  const QStringList argumentSets[] = {
      {"--bogus", "/x", "-zz"},
      {"", "-", "--", "/", "\\\\"},
      {QString(5000, u'x'), QString::fromUtf8("/\xc3\xa9\xe2\x82\xac"), "HKEY_NOWHERE\\a\\b"},
  };
  for (const QStringList& arguments : argumentSets) {
    SCOPED_TRACE(arguments.join(u' ').left(80).toStdString());
    testsupport::TempDir registry("hivescope-program");
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("HIVESCOPE_REGISTRY", QString::fromStdString(registry.path().string()));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(HIVESCOPE_PROGRAM), arguments);
    const int patience = static_cast<int>(testsupport::kPatience.count());
    ASSERT_TRUE(program.waitForStarted(patience));

    // Ready once the window is up and the SIGTERM handler installed.
    bool ready = false;
    testsupport::waitUntil([&] {
      ready = catchesSignal(program.processId(), SIGTERM);
      return ready || program.state() != QProcess::Running;
    });
    ASSERT_TRUE(ready) << "the program ended or never got ready; exit code " << program.exitCode() << "\n"
                       << program.readAllStandardError().toStdString();

    program.terminate();  // SIGTERM
    ASSERT_TRUE(program.waitForFinished(patience));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
  }
}

}  // namespace

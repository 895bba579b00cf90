#include <QApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <iostream>

#include "app/CommandLine.h"
#include "app/CommandLineImport.h"
#include "app/FormUnitMain.h"
#include "app/KeyLister.h"
#include "app/ProgramWindows.h"
#include "core/bwlConfig.h"
#include "crashreport/qt/zebCrashUiPresenter.h"
#include "crashreport/qt/zebCrashUiServer.h"
#include "crashreport/qt/zebExceptApplication.h"
#include "crashreport/qt/zebReportQt.h"
#include "crashreport/zebExceptStart.h"

namespace {

// The write end of the pipe that carries SIGTERM into the event loop.
int terminatePipeWrite = -1;

void onTerminate(int) {
  // Only async-signal-safe work here: one byte into the pipe. A full pipe
  // means a close is already on its way, so a failed write loses nothing.
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(terminatePipeWrite, &byte, 1);
  errno = saved;
}

// A desktop session ends its programs with SIGTERM (at logout, for example).
// The main window then closes through its ordinary close path, so everything
// a close does happens and the process ends with exit code 0, as after File >
// Exit. Qt may not be called from the handler; the pipe hands the signal to
// the event loop, which closes the window.
void closeOnTerminate(QApplication& application, QWidget& window) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the default action stays
  terminatePipeWrite = fds[1];
  auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, &application);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, fd = fds[0]] {
    char drained[64];
    while (::read(fd, drained, sizeof drained) > 0) {
    }
    window.close();
  });
  struct sigaction action{};
  action.sa_handler = &onTerminate;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

// The program block: the settings get the program's name, a silent import
// runs with no window at all, otherwise the windows are made and the loop
// runs until the main window closes or the command-line import ends the run.
int ProgramMain(int argc, char* argv[]) {
  // The parameters are copied before Qt sees them: Qt takes its own options
  // out of the list it is given ("-style=...", "-reverse", ...), which would
  // swallow "-style=regexp". Qt is given the program name alone.
  const TCommandLine commandLine = TCommandLine::FromArgv(argc, argv);
  ConfigManager().SetAppName("Hivescope");

  // No display is needed, nor opened: this runs before the application
  // object exists.
  if (commandLine.IsSilentImport()) return RunSilentImport(commandLine, std::cerr);

  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  crashreport::ReportingApplication application(qtArgc, qtArgv);
  zeb::InstallDisplayModeSource();  // the reports' "display mode"
  QApplication::setApplicationName(QStringLiteral("Hivescope"));
  QApplication::setApplicationDisplayName(QStringLiteral("Hivescope"));
  RegistryKeyLister registry;  // outlives the windows, which read through it
  TProgramWindows windows(&registry, commandLine);
  TformMain& formMain = windows.Main();
  formMain.show();
  // Installed once the window is shown, so a signal always finds a window
  // to close.
  closeOnTerminate(application, formMain);
  const int exitCode = QApplication::exec();
  formMain.FormDestroy();
  return exitCode;
}

int main(int argc, char* argv[]) {
  crashreport::RunCrashUiIfAsked(argc, argv);  // the crash reporter's windows for a failing copy
  zeb::LinkCrashReporter();  // the crash reporter started itself as the program loaded
  zeb::InstallCrashUiPresenter();
  return ProgramMain(argc, argv);
}

// crashprobe MODE: a program that fails on purpose, for the crash reporter's
// tests. It carries the reporter as the program does, with settings of its
// own: the console shows just the exception's message, the bug-report file
// lies in the temporary folder, and CRASHPROBE_SETTINGS adds lines of the
// settings table ("Name kind value", separated by ";"). A handler prints each
// exception's source and whether it can continue. Everything a test looks
// for goes to standard output unbuffered.
//
// Modes: segv-write, segv-read, div0, abort, stack-overflow, uncaught,
// uncaught-thread, thread-throw, silent-abort, two-threads, qt-slot-throw,
// fault-in-report, capture, freeze, asm-no-cfi, and "restart N" (N continuable
// exceptions, then a fault).

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/zebDispatch.h"
#include "crashreport/zebExceptResource.h"
#include "crashreport/zebExceptSignals.h"
#include "crashreport/zebImage.h"
#include "crashreport/zebExceptStart.h"
#include "crashreport/zebHandlers.h"
#include "crashreport/zebTools.h"
#include "platform/Threads.h"

#ifdef CRASHPROBE_WITH_QT
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QTimer>
#include <QWidget>

#include "crashreport/qt/zebCrashUiPresenter.h"
#include "crashreport/qt/zebCrashUiServer.h"
#include "crashreport/qt/zebDetailsView.h"
#include "crashreport/qt/zebExceptApplication.h"
#include "crashreport/qt/zebExceptDialog.h"
#endif

namespace zeb {

std::span<const std::uint8_t> ProgramSettingsResource() {
  static const std::vector<std::uint8_t> resource = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string table =
        "Enabled bool true\nNoSettings bool false\nCheckFileCrc bool true\nExceptMsg text %exceptMsg%\n"
        "AutoClip bool false\nAutoSave bool false\nScrShotDepth int 0\nShowBtnVis bool true\n";
    table += std::string("BugRepFile text ") + (tmp && *tmp ? tmp : "/tmp") + "/crashprobe-bugreport.txt\n";
    std::vector<SettingEntry> entries = ParseSettingsTable(table);
    // The test's lines replace the values above.
    if (const char* extra = std::getenv("CRASHPROBE_SETTINGS")) {
      std::string lines(extra);
      for (char& c : lines)
        if (c == ';') c = '\n';
      for (SettingEntry& added : ParseSettingsTable(lines)) {
        std::erase_if(entries, [&](const SettingEntry& e) { return e.name == added.name; });
        entries.push_back(std::move(added));
      }
    }
    return WriteSettingsResource(entries);
  }();
  return resource;
}

}  // namespace zeb

namespace {

void Say(const std::string& text) {
  const std::string line = text + "\n";
  [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, line.data(), line.size());
}

void WriteNowhere();
// "fault-in-report": the handler itself faults, on the handling thread.
std::atomic<bool> faultInHandler{false};
// "freeze": the main thread stays frozen until the watchdog has reported it.
std::atomic<bool> frozenReported{false};

void PrintingHandler(zeb::IZeqException& exception, bool&) {
  if (faultInHandler) WriteNowhere();
  if (exception.Source() == zeb::SourceFrozen) frozenReported = true;
  Say("handler: source " + std::to_string(int(exception.Source())) + ", can continue " +
      (exception.CanContinue() ? "yes" : "no"));
}

volatile int zero = 0;
volatile int seven = 7;
volatile int* volatile nowhere = nullptr;

__attribute__((noinline)) void WriteNowhere() { *nowhere = 1; }
__attribute__((noinline)) int ReadNowhere() { return *nowhere; }
// Not 1 / 0: the compiler turns a division of 1 into a comparison.
__attribute__((noinline)) int DivideByZero() { return seven / zero; }

extern "C" void crashprobe_asm_fault(std::uint64_t planted);
extern "C" char crashprobe_decoy_return[];

// "asm-no-cfi": the fault lies in an assembly function without unwind
// entries that keeps a value on its stack that only looks like a return
// address.
__attribute__((noinline)) void AsmCallerInner() {
  crashprobe_asm_fault(reinterpret_cast<std::uint64_t>(crashprobe_decoy_return));
  asm volatile("" ::: "memory");
}
__attribute__((noinline)) void AsmCallerOuter() {
  AsmCallerInner();
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) int Recurse(int depth) {
  volatile char pad[512];
  pad[0] = char(depth);
  if (depth < 0) return 0;  // never: keeps the compiler from calling the recursion endless
  return Recurse(depth + 1) + pad[0];
}

__attribute__((noinline)) void ThrowFromHere(const char* text) { throw std::runtime_error(text); }

__attribute__((noinline)) void FailInThread(const char* text) {
  std::thread t = platform::StartThread("probe worker", "", [text] { ThrowFromHere(text); });
  t.join();
}

// Whether a process still runs; one that has ended but is not yet reaped
// by its parent (a zombie) does not.
bool Runs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return false;
  const char state = stat[close + 2];
  return state != 'Z' && state != 'X';
}

std::atomic<bool> spinning{true};

__attribute__((noinline)) void Spin() {
  while (spinning.load()) {
  }
}

// Takes the registers of a busy thread: its program counter lies in this
// program's code.
int Capture() {
  std::atomic<pid_t> id{0};
  std::thread t = platform::StartThread("spinner", "", [&] {
    id = platform::CurrentThreadId();
    Spin();
  });
  while (id.load() == 0) std::this_thread::yield();
  ucontext_t context;
  const bool captured = zeb::CaptureThreadContext(id, context, std::chrono::seconds(30));
  zeb::ReleaseCapturedThreads();
  spinning = false;
  t.join();
  if (!captured) {
    Say("not captured");
    return 1;
  }
  zeb::TModule module;
  zeb::ModuleOfAddress(std::uintptr_t(context.uc_mcontext.gregs[REG_RIP]), module);
  Say("captured in module " + module.fileName);
  return 0;
}

int Restart(int continuable) {
  if (const pid_t old = zeb::RestartedFrom()) {
    int filled = 0;
    for (std::uint64_t t : zeb::CurrentHistory()) filled += t != 0;
    Say("restarted from " + std::to_string(old) + ", history " + std::to_string(filled) + ", old process " +
        (Runs(old) ? "alive" : "gone"));
    return 0;
  }
  Say("first run " + std::to_string(::getpid()));
  for (int i = 0; i < continuable; ++i) FailInThread("continuable failure");
  WriteNowhere();
  return 0;
}

}  // namespace

#ifdef CRASHPROBE_WITH_QT
// The user at the crash-UI process's dialog: CRASHPROBE_UI says what they do
// ("escape", "close", "restart", "close-request", "show", "send", "save");
// what they see goes to standard output, which the crash-UI process shares
// with the probe.
void PlayTheUser(zeb::TExceptionBox* box) {
  const char* script = std::getenv("CRASHPROBE_UI");
  const std::string what = script ? script : "escape";
  if (box->DetailsView()) {
    std::string tabs;
    for (int k = 0; k < box->DetailsView()->count(); ++k)
      tabs += (k ? "," : "") + box->DetailsView()->tabText(k).toStdString();
    Say("ui: tabs " + tabs);
    const char* dir = std::getenv("HIVESCOPE_SCREENSHOT_DIR");
    if (!dir) {
      QTimer::singleShot(0, box, [box] { box->reject(); });
      return;
    }
    // Pictures of every page of the completed report, for a person to look at.
    auto* poll = new QTimer(box);
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, box, [box, poll, tries, path = QString::fromLocal8Bit(dir)] {
      zeb::TDetailsView* view = box->DetailsView();
      if (!view->Report().complete && ++*tries < 400) return;
      poll->stop();
      for (int k = 0; k < view->count(); ++k) {
        view->setCurrentIndex(k);
        box->grab().save(path + "/crashprobe-" + view->tabText(k).replace(' ', '-') + ".png");
      }
      box->reject();
    });
    poll->start(50);
    return;
  }
  auto name = [box](int index) {
    zeb::TExceptButton* b = box->Button(index);
    return b ? b->text().toStdString() : std::string("-");
  };
  const zeb::TExceptButton* send = box->Button(zeb::kSendButton);
  const zeb::TExceptButton* show = box->Button(zeb::kShowButton);
  const zeb::TExceptButton* cont = box->Button(zeb::kContinueButton);
  const zeb::TExceptButton* close = box->Button(zeb::kCloseButton);
  const bool bottomLeft = send && show && send->y() == close->y() && show->y() == close->y() && send->x() < show->x() &&
                          show->geometry().right() < cont->x();
  const bool stacked = cont && close && cont->x() == close->x() && cont->y() < box->Button(zeb::kRestartButton)->y() &&
                       box->Button(zeb::kRestartButton)->y() < close->y();
  Say("ui: " + name(zeb::kSendButton) + " and " + name(zeb::kShowButton) + (bottomLeft ? " at the bottom left" : " elsewhere") +
      ", " + name(zeb::kContinueButton) + ", " + name(zeb::kRestartButton) + ", " + name(zeb::kCloseButton) +
      (stacked ? " stacked at the right" : " not stacked") + ", focus on " +
      (box->focusWidget() ? box->focusWidget()->objectName().toStdString() : std::string("nothing")));
  Say("ui: text " + box->findChild<QWidget*>("messageText")->property("text").toString().toStdString());
  // The choice comes once the dialog is up.
  QTimer::singleShot(0, box, [box, what] {
    if (what == "close") box->RunButton(zeb::kCloseButton);
    else if (what == "restart") box->RunButton(zeb::kRestartButton);
    else if (what == "show") box->RunButton(zeb::kShowButton);
    else if (what == "send" || what == "save") {
      // The dialog stays open; once the action is answered, the user goes on.
      QObject::connect(box, &zeb::TExceptionBox::actionFinished, box, [box](int code, bool) {
        Say(std::string("ui: ") + (code == zeb::kActionSave ? "save" : "send") + " answered, save button " +
            (box->Button(zeb::kSaveButton) ? "kept" : "gone"));
        box->reject();
      });
      box->RunButton(what == "send" ? zeb::kSendButton : zeb::kSaveButton);
    }
    else if (what == "close-request") {
      QCloseEvent request;
      QApplication::sendEvent(box, &request);
      Say(std::string("ui: close request ") + (request.isAccepted() ? "accepted" : "ignored"));
      box->reject();
    } else if (what != "wait") {
      box->reject();
    }
  });
  QObject::connect(box, &QDialog::finished, [box] {
    Say("ui: dialog gone, " + std::string(box->EndingAction() < 0 ? "no action" : "an action"));
  });
}
#endif

#ifdef CRASHPROBE_WITH_QT
// The user answers every crash-UI process's boxes (what they say goes to
// standard output) and save dialogs (keeping the file they propose).
void AnswerModalWindows(zeb::CrashUiController* controller) {
  auto* poll = new QTimer(controller);
  QObject::connect(poll, &QTimer::timeout, [] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      Say("ui: box " + box->text().toStdString());
      box->accept();
    } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
      Say("ui: save dialog " + files->windowTitle().toStdString());
      QMetaObject::invokeMethod(files, "accept");
    }
  });
  poll->start(50);
}
#endif

int main(int argc, char** argv) {
#ifdef CRASHPROBE_WITH_QT
  zeb::TExceptionBox::SetCreatedHook(&PlayTheUser);
  zeb::CrashUiController::SetStartedHook(&AnswerModalWindows);
  crashreport::RunCrashUiIfAsked(argc, argv);
  // The window branch only when a test plays the user; the others read the console.
  if (std::getenv("CRASHPROBE_UI")) zeb::InstallCrashUiPresenter();
#endif
  zeb::LinkCrashReporter();
  zeb::RegisterExceptionHandler(&PrintingHandler, 0, 1);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "segv-write") WriteNowhere();
  if (mode == "segv-read") return ReadNowhere();
  if (mode == "asm-no-cfi") AsmCallerOuter();
  if (mode == "div0") return DivideByZero();
  if (mode == "abort") std::abort();
  if (mode == "stack-overflow") return Recurse(0);
  if (mode == "uncaught") ThrowFromHere("uncaught in main");
  if (mode == "uncaught-thread") {
    std::thread t([] { ThrowFromHere("uncaught in a thread"); });
    t.join();
  }
  if (mode == "thread-throw") {
    FailInThread("failure in a thread");
    Say("main goes on");
    return 0;
  }
  if (mode == "silent-abort") {
    std::thread t = platform::StartThread("quiet", "", [] { throw platform::SilentAbort(); });
    t.join();
    Say("main goes on");
    return 0;
  }
  if (mode == "two-threads") {
    std::thread a = platform::StartThread("first", "", [] { ThrowFromHere("first failure"); });
    std::thread b = platform::StartThread("", "TProbeThread", [] { ThrowFromHere("second failure"); });
    a.join();
    b.join();
    Say("main goes on");
    return 0;
  }
  if (mode == "wait") {
    // Named threads that idle beside the main thread until stdin closes.
    std::atomic<bool> done{false};
    std::thread a = platform::StartThread("idle worker", "", [&] {
      while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    std::thread b = platform::StartThread("", "TProbeThread", [&] {
      while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    Say("waiting");
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    done = true;
    a.join();
    b.join();
    return 0;
  }
  if (mode == "capture") return Capture();
  if (mode == "fault-in-report") {
    faultInHandler = true;
    WriteNowhere();
  }
  if (mode == "restart") return Restart(argc > 2 ? std::atoi(argv[2]) : 0);
  if (mode == "freeze") {
    zeb::MainThreadDispatcher::Instance().SetMainThread();
    // Frozen for 3 s, and on a slow machine until the watchdog has spoken.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    for (int i = 0; i < 600 && !frozenReported; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    zeb::MainThreadDispatcher::Instance().RunPendingCalls();
    Say("main goes on");
    return 0;
  }
#ifdef CRASHPROBE_WITH_QT
  if (mode == "qt-slot-throw") {
    if (const pid_t old = zeb::RestartedFrom()) {
      Say("restarted from " + std::to_string(old) + " as " + std::to_string(::getpid()));
      return 0;
    }
    Say("first run " + std::to_string(::getpid()));
    crashreport::ReportingApplication application(argc, argv);
    QWidget window;
    window.show();
    QMetaObject::invokeMethod(&application, [&window] {
      window.grabMouse();
      ThrowFromHere("failure in a slot");
    }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(&application, [] {
      Say(std::string("the loop goes on, mouse grab ") + (QWidget::mouseGrabber() ? "kept" : "released"));
      QCoreApplication::quit();
    }, Qt::QueuedConnection);
    return application.exec();
  }
  if (mode == "qt-freeze") {
    crashreport::ReportingApplication application(argc, argv);
    QMetaObject::invokeMethod(&application, [] {
      std::this_thread::sleep_for(std::chrono::seconds(3));
      Say("main goes on");
    }, Qt::QueuedConnection);
    // Ends once the exception was dealt with: the dialog went when the main
    // thread answered again, and the program continues.
    zeb::RegisterActionHandler(
        [](std::uint8_t action, zeb::IZeqException&, bool&) {
          Say("action " + std::to_string(int(action)));
          if (action == zeb::ActionContinue)
            QMetaObject::invokeMethod(qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
        },
        0);
    return application.exec();
  }
#endif
  Say("unknown mode " + mode);
  return 3;
}

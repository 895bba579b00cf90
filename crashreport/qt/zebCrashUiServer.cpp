#include "crashreport/qt/zebCrashUiServer.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "crashreport/qt/zebAssistant.h"
#include "crashreport/qt/zebCrashUiText.h"
#include "crashreport/qt/zebExceptDialog.h"
#include "crashreport/qt/zebPrint.h"
#include "crashreport/qt/zebProgressWindow.h"
#include "crashreport/qt/zebReportQt.h"
#include "crashreport/zebCrashUiClient.h"
#include "crashreport/zebDispatch.h"
#include "crashreport/zebExcept.h"

namespace zeb {

CrashUiController::CrashUiController(int fd, QObject* parent) : QObject(parent), fd_(fd) {}

CrashUiController::~CrashUiController() {
  delete dialog_.data();
  if (fd_ >= 0) ::close(fd_);
}

TExceptionBox* CrashUiController::Dialog() const { return dialog_.data(); }

namespace {

std::function<void(CrashUiController*)>& startedHook() {
  static std::function<void(CrashUiController*)> hook;
  return hook;
}

}  // namespace

void CrashUiController::SetStartedHook(std::function<void(CrashUiController*)> hook) {
  startedHook() = std::move(hook);
}

void CrashUiController::Start() {
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &CrashUiController::OnReadable);
  CrashUiMessage ready;
  ready.type = kUiReady;
  Reply(ready);
  if (finished_) return;
  // The beat runs on this thread's event loop (and the modal windows' loops):
  // a UI whose loop is stuck goes silent, and the failing process gives up.
  auto* beat = new QTimer(this);
  connect(beat, &QTimer::timeout, this, &CrashUiController::Beat);
  beat->start(kCrashUiBeatMs);
  if (startedHook()) startedHook()(this);
}

void CrashUiController::Beat() {
  if (finished_) return;
  CrashUiMessage alive;
  alive.type = kUiAlive;
  // A peer busy elsewhere may not read for long: a full socket skips a beat
  // (it reads the ones queued before), and only a gone one ends the UI.
  if (TrySendCrashUiMessage(fd_, alive, kCrashUiPeerTimeoutSeconds * 1000) == CrashUiTrySend::Failed) Finish();
}

void CrashUiController::Reply(const CrashUiMessage& message) {
  if (!SendCrashUiMessage(fd_, message)) Finish();
}

void CrashUiController::Finish() {
  if (finished_) return;
  finished_ = true;
  if (notifier_) notifier_->setEnabled(false);
  emit finished();
}

void CrashUiController::OnReadable() {
  std::uint8_t buffer[65536];
  while (true) {
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      Finish();
      return;
    }
    decoder_.Feed({buffer, std::size_t(n)});
    if (std::size_t(n) < sizeof buffer) break;
  }
  // A message may open a modal window with its own loop; the notifier stays
  // live meanwhile, so each message is taken out before it is handled.
  CrashUiMessage message;
  while (!finished_ && decoder_.Next(message)) Handle(message);
  if (decoder_.Broken()) Finish();
}

void CrashUiController::Handle(const CrashUiMessage& m) {
  switch (m.type) {
    case kUiFacts: {
      facts_ = FactsFromMessage(m, &autoCloseDue_, &autoRestartDue_);
      // Show setting 1 is an assistant alone: the facts only give it its settings.
      if (facts_.showSetting == 1) break;
      DialogInput input;
      input.facts = facts_;
      input.simpleBox = facts_.showSetting != 0;
      input.withDetailsButton = facts_.showSetting == 2;
      input.autoCloseDue = autoCloseDue_;
      input.autoRestartDue = autoRestartDue_;
      ShowDialog(input);
      break;
    }
    case kUiReport:
      ApplyReportMessage(m, report_);
      if (dialog_) dialog_->SetReport(report_);
      break;
    case kUiProgress:
      HandleProgress(m);
      break;
    case kUiActionDone: {
      const int code = int(m.GetInt("code"));
      const bool handled = m.GetInt("handled") != 0;
      if (code == kActionPrint && !handled) PrintReportText(ReportPlainText(report_), dialog_, &facts_.settings);
      if (dialog_ && code == kActionSave && m.GetInt("fixed") != 0) dialog_->RemoveSaveButton();
      if (dialog_) dialog_->FinishAction(code, handled);
      break;
    }
    case kUiFreezeOver:
      if (dialog_) dialog_->EndWithoutAction();
      break;
    case kUiRunAssistant: {
      CrashUiMessage answer;
      answer.type = kUiAssistantDone;
      answer.AddInt("result", RunAssistant(m.Get("name"), answer));
      Reply(answer);
      break;
    }
    case kUiAskSavePath: {
      CrashUiMessage answer;
      answer.type = kUiSavePath;
      // Over the dialog, which stays on top of everything else.
      answer.Add("path", AskBugReportSavePath(m.Get("folder"), m.Get("file"), m.Get("title"), dialog_));
      Reply(answer);
      break;
    }
    case kUiShowText: {
      QMessageBox box(QMessageBox::Critical, CrashUiText(m.Get("title")), CrashUiText(m.Get("text")), QMessageBox::Ok);
      box.setWindowFlag(Qt::WindowStaysOnTopHint);
      box.exec();
      CrashUiMessage answer;
      answer.type = kUiTextClosed;
      Reply(answer);
      break;
    }
    default:
      break;
  }
}

void CrashUiController::ShowDialog(const DialogInput& input) {
  auto* dialog = new TExceptionBox(input, report_);
  dialog->setAttribute(Qt::WA_DeleteOnClose, false);
  dialog_ = dialog;
  connect(dialog, &TExceptionBox::actionRequested, this, &CrashUiController::OnAction);
  connect(dialog, &QDialog::finished, this, &CrashUiController::OnDialogFinished);
  dialog->show();
}

int CrashUiController::RunAssistant(const std::string& name, CrashUiMessage& answer) {
  const std::string definition = FindAssistantDefinition(facts_.settings, name);
  if (definition.empty()) return 0;
  AssistantContext context;
  context.screenshot = facts_.screenshotFile.empty() ? nullptr : LoadBmpFile(facts_.screenshotFile);
  context.attachScreenshot = facts_.attachScreenshot;
  const std::string folder = TempFolder();
  context.screenshotFile = folder.empty() ? std::string() : folder + "screenShot.bmp";
  context.beep = [] { QApplication::beep(); };
  NVAssistant assistant = LoadAssistant(definition, &context);
  // Without a screenshot there is nothing to offer on its form.
  if (!context.screenshot)
    for (NVForm& form : assistant.forms)
      if (form.name == "ScrShotForm") form.skip = true;
  const int result = ShowAssistantModally(assistant, &context, dialog_);
  const AssistantYield yield = CollectAssistantYield(assistant);
  AddYield(answer, yield.header, yield.sections);
  if (context.mailFromSet) answer.Add("mailFrom", context.mailFrom);
  answer.AddInt("attach", context.attachScreenshot);
  if (context.screenshotChanged && context.screenshot && !facts_.screenshotFile.empty() &&
      context.screenshot->SaveAsBmp(facts_.screenshotFile + ".edited"))
    answer.Add("screenshot", facts_.screenshotFile + ".edited");
  facts_.attachScreenshot = context.attachScreenshot;
  return result;
}

void CrashUiController::OnAction(int code) {
  // The failing process fires the handlers and asks for the assistant of
  // send, save and print when none of them took the action over.
  CrashUiMessage m;
  m.type = kUiAction;
  m.AddInt("code", code);
  Reply(m);
}

void CrashUiController::OnDialogFinished() {
  TExceptionBox* dialog = dialog_;
  if (!dialog) return;
  const bool again = dialog->ShowAgain();
  dialog->deleteLater();
  dialog_ = nullptr;
  if (again) {
    // Shown again with the report: larger, resizable, without a beep and
    // without the automatic actions of the first showing.
    DialogInput input;
    input.facts = facts_;
    input.facts.beep = false;
    input.facts.settings.SetBool("AutoShowBugRep", true);
    input.facts.settings.SetBool("AutoContinue", false);
    input.facts.settings.SetInt("AutoRestart", 0);
    input.facts.settings.SetInt("AutoClose", 0);
    ShowDialog(input);
    return;
  }
  CrashUiMessage closed;
  closed.type = kUiDialogClosed;
  Reply(closed);
}

void CrashUiController::HandleProgress(const CrashUiMessage& m) {
  const std::string op = m.Get("op");
  if (op == "show") {
    if (!progress_) progress_ = std::make_unique<TProgressWindow>(CrashUiText(m.Get("title")), int(m.GetInt("icon")));
    progress_->SetTitle(CrashUiText(m.Get("title")));
    // A send the user waits for belongs to the dialog; one in the
    // background stands alone.
    const bool activate = m.GetInt("activate") != 0;
    progress_->ShowWindow(activate ? dialog_.data() : nullptr, activate);
    return;
  }
  if (!progress_) progress_ = std::make_unique<TProgressWindow>(QString(), -1);
  if (op == "title") progress_->SetTitle(CrashUiText(m.Get("text")));
  else if (op == "add") progress_->AddArea(m.GetInt("value"), m.Get("text"));
  else if (op == "clear") progress_->ClearAreas();
  else if (op == "position") progress_->SetPosition(int(m.GetInt("value")));
  else if (op == "area") progress_->SetCurrentArea(int(m.GetInt("value")));
  else if (op == "done") progress_->AreaDone();
  else if (op == "close") progress_->CloseWindow();
}

}  // namespace zeb

namespace crashreport {

void RunCrashUiIfAsked(int argc, char** argv) {
  if (argc < 3 || std::strcmp(argv[1], zeb::kCrashUiSwitch) != 0) return;
  const int fd = std::atoi(argv[2]);
  // A fault in the windows' process ends it; the failing process then
  // reports on its console. Nor does this process watch its own main thread.
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP}) ::signal(sig, SIG_DFL);
  zeb::StopFreezeWatchdog();
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication app(qtArgc, qtArgv);
  QApplication::setQuitOnLastWindowClosed(false);
  zeb::CrashUiController controller(fd);
  QObject::connect(&controller, &zeb::CrashUiController::finished, &app, [] { QApplication::exit(0); });
  controller.Start();
  // Without a peer to greet there is nothing to show.
  if (!controller.Finished()) app.exec();
  std::fflush(nullptr);
  ::_exit(0);
}

}  // namespace crashreport

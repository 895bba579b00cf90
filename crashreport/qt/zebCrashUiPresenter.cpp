#include "crashreport/qt/zebCrashUiPresenter.h"

#include <unistd.h>

#include <QGuiApplication>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "crashreport/qt/zebNVBitmapCapture.h"
#include "crashreport/zebCrashUiAssistant.h"
#include "crashreport/zebCrashUiClient.h"
#include "crashreport/zebCrashUiDelivery.h"
#include "crashreport/zebCrashUiDialog.h"
#include "crashreport/zebDispatch.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebHandlers.h"
#include "crashreport/zebSend.h"
#include "crashreport/zebTools.h"

namespace zeb {

namespace {

class CrashUiPresenter final : public IExceptionPresenter {
public:
  // Starts the UI process here, so that a UI that cannot start leaves the
  // exception to the console branch.
  bool CanPresent() override {
    if (!QGuiApplication::instance()) return false;
    session_ = std::make_unique<CrashUiSession>();
    if (session_->Start()) return true;
    session_.reset();
    return false;
  }

  UserChoice Present(IZeqException& exception) override {
    told_ = false;
    std::unique_ptr<CrashUiSession> session = std::move(session_);
    if (!session && !CanPresent()) return OnConsole(exception);
    if (!session) session = std::move(session_);
    const UserChoice choice = Run(*session, exception, told_);
    session->Stop();
    return choice;
  }

  bool ToldTheHandlers() const override { return told_; }

private:
  static UserChoice OnConsole(IZeqException& exception) {
    const bool frozen = exception.Kind() == ExceptionKind::Frozen;
    const std::string message = ExpandVariables(ProgramFileName(),
                                                exception.ReadTextSetting(frozen ? "FrozenMsg" : "ExceptMsg"),
                                                exception.Message(), {}, exception.VersionText()) +
                                "\n";
    [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, message.data(), message.size());
    return exception.CanContinue() ? UserChoice::Continue : UserChoice::Close;
  }

  static std::string ScreenshotFile(IZeqException& exception) {
    const NVBitmapPtr shot = exception.Screenshot();
    const std::string folder = TempFolder();
    if (!shot || folder.empty()) return {};
    const std::string file = folder + "crashUiScreenshot.bmp";
    return shot->SaveAsBmp(file) ? file : std::string();
  }

  // The send, save and print buttons: the handlers hear of the user's choice
  // first; unless one takes it over, its assistant runs (cancelling it takes
  // the action over), the handlers hear of the confirmed choice, and then
  // the report is sent or saved (printing happens where the windows are,
  // once this answer arrives).
  static bool RunReportAction(CrashUiSession& session, TIZeqException& exception, int code, CrashUiMessage& done) {
    bool handled = false;
    FireEvent(HandlerKind::Action, std::uint8_t(code), handled, exception);
    if (handled) return true;
    const std::string assistant =
        exception.ReadTextSetting(code == kActionSend ? "SendAssis" : code == kActionSave ? "SaveAssis" : "PrintAssis");
    if (!assistant.empty()) {
      CrashUiMessage yield;
      const int result = RunCrashUiAssistant(session, assistant, &yield);
      if (result == kFormContinue) ApplyCrashUiYield(exception, yield);
      // 0: no such assistant (or the UI is gone), nothing to confirm.
      else if (result != kFormNone) return true;
    }
    FireEvent(HandlerKind::Action, std::uint8_t(code + 3), handled, exception);
    if (handled) return true;
    if (code == kActionSend) {
      SendReportAsAsked(exception, std::make_shared<CrashUiDeliveryServices>(&session));
    } else if (code == kActionSave) {
      const bool saved = SaveReportAsAsked(
          exception, [&session](const std::string& folder, const std::string& file, const std::string& title) {
            return AskCrashUiSavePath(session, folder, file, title);
          });
      done.AddInt("saved", saved);
      done.AddInt("fixed", saved && SaveTargetIsFixed(exception));
    }
    return false;
  }

  static UserChoice Run(CrashUiSession& session, IZeqException& exception, bool& told) {
    auto* object = dynamic_cast<TIZeqException*>(&exception);
    std::uint8_t show = exception.ShowSetting();
    const std::string shot = ScreenshotFile(exception);
    if (show == 1) {
      // The assistant alone; one that does not exist falls back to the dialog.
      CrashUiMessage yield;
      const std::string name = exception.AssistantName();
      session.Send(FactsMessage(CrashUiFactsOf(exception, 1, true, shot), false, false));
      const int result = RunCrashUiAssistant(session, name, &yield);
      if (!session.Running()) return OnConsole(exception);
      if (result == 1) ApplyCrashUiYield(exception, yield);
      if (result != 0) return UserChoice::Continue;
      show = 0;
    }
    const ExceptionHistory history = CurrentHistory();
    const std::uint64_t now = HistoryNow();
    const CrashUiFacts facts = CrashUiFactsOf(exception, show, true, shot);
    CrashUiReport sent = CrashUiReportOf(exception);
    if (!session.Send(ReportMessage(sent, nullptr))) return OnConsole(exception);

    // A frozen main thread that answers again ends the dialog: a call queued
    // for it now runs then.
    std::shared_ptr<std::atomic<bool>> answered;
    bool overSent = false;
    if (exception.Kind() == ExceptionKind::Frozen) {
      answered = std::make_shared<std::atomic<bool>>(false);
      if (MainThreadDispatcher::Instance().Post([answered] { answered->store(true); }) == 0) answered.reset();
    }
    CrashUiCallbacks callbacks;
    callbacks.action = [&](int code, const CrashUiMessage&, CrashUiMessage& done) {
      if (!object) return false;
      if (code == kActionSend || code == kActionSave || code == kActionPrint)
        return RunReportAction(session, *object, code, done);
      bool handled = false;
      FireEvent(HandlerKind::Action, std::uint8_t(code), handled, *object);
      // Continue goes on whatever the handlers say; a handler that takes
      // restart or close over keeps the dialog open. A dialog that goes
      // without an action (the frozen program answered) goes on as after
      // continue, which the dispatch then tells the handlers.
      if (code == kActionContinue) handled = false;
      if ((code == kActionContinue || code == kActionRestart || code == kActionClose) && !handled) told = true;
      return handled;
    };
    callbacks.idle = [&](CrashUiSession& s) {
      NoteReportProgress();
      if (answered && answered->load() && !overSent) {
        CrashUiMessage over;
        over.type = kUiFreezeOver;
        overSent = s.Send(over);
      }
      CrashUiReport now = CrashUiReportOf(exception);
      if (now.header == sent.header && now.sections == sent.sections && now.text == sent.text) return;
      s.Send(ReportMessage(now, &sent));
      sent = std::move(now);
    };
    const CrashUiOutcome outcome =
        RunCrashUiDialog(session,
                         FactsMessage(facts, AutoActionDue(exception.AutoClose(), history, now),
                                      AutoActionDue(exception.AutoRestart(), history, now)),
                         callbacks);
    switch (outcome) {
      case CrashUiOutcome::Continue: return UserChoice::Continue;
      case CrashUiOutcome::Restart: return UserChoice::Restart;
      case CrashUiOutcome::Close: return UserChoice::Close;
      case CrashUiOutcome::Failed: break;
    }
    return OnConsole(exception);
  }

  std::unique_ptr<CrashUiSession> session_;
  bool told_ = false;
};

// The screenshot is taken on the GUI thread; a thread that does not answer
// within 1500 ms (frozen, or stopped in the fault) gives none.
NVBitmapPtr CaptureOnMainThread(bool ownWindowsOnly) {
  struct Shared {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    NVBitmapPtr picture;
  };
  auto shared = std::make_shared<Shared>();
  if (MainThreadDispatcher::Instance().IsMainThread()) return CaptureScreen(ownWindowsOnly);
  if (MainThreadDispatcher::Instance().Post([shared, ownWindowsOnly] {
        NVBitmapPtr picture = CaptureScreen(ownWindowsOnly);
        std::lock_guard guard(shared->lock);
        shared->picture = std::move(picture);
        shared->finished = true;
        shared->done.notify_all();
      }) == 0)
    return nullptr;
  std::unique_lock guard(shared->lock);
  shared->done.wait_for(guard, std::chrono::milliseconds(1500), [&] { return shared->finished; });
  return shared->picture;
}

}  // namespace

void InstallCrashUiPresenter() {
  PrepareCrashUi();
  SetScreenCapture(&CaptureOnMainThread);
  SetExceptionPresenter(std::make_shared<CrashUiPresenter>());
  // A delivery without a window (on its background thread, or the automatic
  // send) shows its progress and failure in a crash-UI process of its own.
  SetDeliveryServices(std::make_shared<CrashUiDeliveryServices>());
}

}  // namespace zeb

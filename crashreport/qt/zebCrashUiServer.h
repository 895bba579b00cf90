#pragma once

// The crash-UI process: a second copy of the program started with the
// crash-UI switch. It shows the crash reporter's windows as the failing
// process asks (the exception dialog with its details, assistants, the
// progress window, message boxes) and sends back what the user chose. It
// ends when the failing process closes its end of the socket.

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

#include "crashreport/zebCrashUiAssistant.h"
#include "crashreport/zebCrashUiDialog.h"
#include "crashreport/zebCrashUiProtocol.h"

class QSocketNotifier;

namespace zeb {

class TExceptionBox;
class TProgressWindow;

class CrashUiController : public QObject {
  Q_OBJECT
public:
  explicit CrashUiController(int fd, QObject* parent = nullptr);
  ~CrashUiController() override;

  // Greets the failing process and starts listening.
  void Start();
  TExceptionBox* Dialog() const;
  bool Finished() const { return finished_; }
  TProgressWindow* Progress() const { return progress_.get(); }

  // Called with every controller once it has greeted its peer (a test's
  // stand-in user answers the windows from there).
  static void SetStartedHook(std::function<void(CrashUiController*)> hook);

signals:
  // The failing process is gone (or spoke garbage).
  void finished();

private:
  void OnReadable();
  void Handle(const CrashUiMessage& message);
  void ShowDialog(const DialogInput& input);
  void OnAction(int code);
  void OnDialogFinished();
  void HandleProgress(const CrashUiMessage& message);
  int RunAssistant(const std::string& name, CrashUiMessage& answer);
  void Reply(const CrashUiMessage& message);
  void Beat();
  void Finish();

  int fd_;
  QSocketNotifier* notifier_ = nullptr;
  CrashUiDecoder decoder_;
  CrashUiFacts facts_;
  bool autoCloseDue_ = false, autoRestartDue_ = false;
  CrashUiReport report_;
  QPointer<TExceptionBox> dialog_;
  std::unique_ptr<TProgressWindow> progress_;
  bool finished_ = false;
};

}  // namespace zeb

namespace crashreport {

// The program's first call: when the program was started as a crash-UI
// process, runs it and ends the process; otherwise returns at once.
void RunCrashUiIfAsked(int argc, char** argv);

}  // namespace crashreport

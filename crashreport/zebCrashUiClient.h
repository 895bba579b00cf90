#pragma once

// The failing process's side of the crash-UI process: it starts a second
// copy of the program (/proc/self/exe) with one end of a socket pair, sends
// the exception's facts, the report as it changes and the progress, and
// carries out the actions the user picks. A UI that cannot start, or dies,
// leaves the caller to its console branch.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "crashreport/zebCrashUiProtocol.h"

namespace zeb {

// The switch the crash-UI process is started with, followed by the number of
// its socket.
inline constexpr const char* kCrashUiSwitch = "--zeb-crash-ui";
inline constexpr int kCrashUiChildFd = 3;

// Prepares the program file and arguments at start-up, so a crash needs
// nothing but the spawn. Without a call the session uses /proc/self/exe.
void PrepareCrashUi(const std::string& program = "/proc/self/exe");

class CrashUiSession {
public:
  CrashUiSession() = default;
  ~CrashUiSession();
  CrashUiSession(const CrashUiSession&) = delete;
  CrashUiSession& operator=(const CrashUiSession&) = delete;

  // Starts the UI process and waits (at most `readyTimeoutMs`) for its
  // greeting; false, with nothing left running, when it does not come.
  bool Start(int readyTimeoutMs = 30000);
  bool Running() const { return fd_ >= 0; }
  pid_t Pid() const { return pid_; }
  // The silence (no message, not even the beat; no bytes taken by a send)
  // after which the UI counts as dead: the session stops then, and every
  // wait on it ends as if the UI had closed.
  void SetPeerTimeout(int seconds) { peerTimeoutSeconds_ = seconds; }
  // False when the UI is gone or took nothing for the peer time-out; the
  // session is stopped then (a frame cut short cannot be taken back).
  bool Send(const CrashUiMessage& message);
  // The UI's next message other than its beat; Closed when it ended or
  // stayed silent for the peer time-out (the session is stopped then).
  CrashUiRead Receive(CrashUiMessage& message, int timeoutMs);
  // Closes the socket (the UI ends at its end), waits a bounded time for the
  // process and kills it when it lingers; without `letItEnd` it is killed
  // at once.
  void Stop(bool letItEnd = true);

  // Progress window operations (ProgressMessage).
  bool ShowProgress(const std::string& title, int iconGlyph, bool activate);
  bool ProgressOp(const std::string& op, std::int64_t value = 0, const std::string& text = {});

private:
  int fd_ = -1;
  pid_t pid_ = -1;
  CrashUiDecoder decoder_;
  int peerTimeoutSeconds_ = kCrashUiPeerTimeoutSeconds;
  std::chrono::steady_clock::time_point lastHeard_;
};

enum class CrashUiOutcome { Continue, Restart, Close, Failed };

struct CrashUiCallbacks {
  // Runs an action the user chose (the assistant's yield is in the message);
  // true when a handler took it over. What else the window is to know of
  // the outcome goes into `done`.
  std::function<bool(int code, const CrashUiMessage& action, CrashUiMessage& done)> action;
  // Called about every 100 ms while waiting: sends report changes, ends a
  // freeze, and so on.
  std::function<void(CrashUiSession&)> idle;
};

// Shows the dialog for `facts` and serves it until it is gone. Continue also
// stands for a dialog that ended without an action; Failed means the UI died
// before a decision (the caller falls back to its console branch).
CrashUiOutcome RunCrashUiDialog(CrashUiSession& session, const CrashUiMessage& facts, const CrashUiCallbacks& callbacks);

// Runs the named assistant in the UI; its result (1 done, 3 cancelled, 0 when
// the UI died or there is no such assistant) and its yield.
int RunCrashUiAssistant(CrashUiSession& session, const std::string& name, CrashUiMessage* result);

// Shows a message box and waits until the user closed it.
bool ShowCrashUiText(CrashUiSession& session, const std::string& title, const std::string& text);

// Asks the user where to save (the save dialog, starting in `folder` with
// `fileName`); the chosen path, empty when cancelled or the UI is gone.
std::string AskCrashUiSavePath(CrashUiSession& session, const std::string& folder, const std::string& fileName,
                               const std::string& title);

}  // namespace zeb

namespace zeb {

class TIZeqSettings;
// The settings the windows read, taken from a settings object.
CrashUiSettings CrashUiSettingsOf(TIZeqSettings& settings);

}  // namespace zeb

namespace zeb {

class IZeqException;
// The facts of an exception as the windows need them; `screenshotFile` is a
// BMP of its screenshot written beforehand (empty for none).
CrashUiFacts CrashUiFactsOf(IZeqException& exception, std::uint8_t showSetting, bool beep,
                            const std::string& screenshotFile);
// The report as it stands (not waiting for its completion).
CrashUiReport CrashUiReportOf(IZeqException& exception);
// Takes what an assistant yielded into the exception: header fields,
// sections, the mail sender, the attach flag and an edited screenshot.
void ApplyCrashUiYield(IZeqException& exception, const CrashUiMessage& message);

}  // namespace zeb

#include "crashreport/zebCrashUiClient.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "crashreport/zebDispatch.h"

extern char** environ;

namespace zeb {

namespace {

struct PreparedArguments {
  std::string program = "/proc/self/exe";
  std::string fdText = std::to_string(kCrashUiChildFd);
  std::vector<char*> argv;
  void Build() {
    argv = {program.data(), const_cast<char*>(kCrashUiSwitch), fdText.data(), nullptr};
  }
};

PreparedArguments& Prepared() {
  static PreparedArguments& prepared = *[] {
    auto* p = new PreparedArguments;
    p->Build();
    return p;
  }();
  return prepared;
}

bool WaitForExit(pid_t pid, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

void PrepareCrashUi(const std::string& program) {
  Prepared().program = program;
  Prepared().Build();
}

CrashUiSession::~CrashUiSession() { Stop(); }

bool CrashUiSession::Start(int readyTimeoutMs) {
  Stop();
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
  int childEnd = pair[1];
  // dup2 onto the same number would keep close-on-exec set.
  if (childEnd == kCrashUiChildFd) {
    childEnd = ::fcntl(pair[1], F_DUPFD_CLOEXEC, kCrashUiChildFd + 1);
    ::close(pair[1]);
    if (childEnd < 0) {
      ::close(pair[0]);
      return false;
    }
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, childEnd, kCrashUiChildFd);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, Prepared().program.c_str(), &actions, nullptr, Prepared().argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(childEnd);
  if (rc != 0) {
    ::close(pair[0]);
    return false;
  }
  fd_ = pair[0];
  pid_ = pid;
  decoder_ = CrashUiDecoder();
  lastHeard_ = std::chrono::steady_clock::now();
  CrashUiMessage ready;
  // A program that starts slowly (a busy machine) is no silent one: the
  // greeting has its own bound.
  const int peerTimeout = peerTimeoutSeconds_;
  peerTimeoutSeconds_ = std::max(peerTimeout, (readyTimeoutMs + 999) / 1000);
  while (true) {
    const CrashUiRead r = Receive(ready, readyTimeoutMs);
    if (r == CrashUiRead::Message && ready.type == kUiReady) {
      peerTimeoutSeconds_ = peerTimeout;
      return true;
    }
    if (r != CrashUiRead::Message) break;
  }
  peerTimeoutSeconds_ = peerTimeout;
  Stop();
  return false;
}

bool CrashUiSession::Send(const CrashUiMessage& message) {
  if (fd_ < 0) return false;
  if (SendCrashUiMessage(fd_, message, peerTimeoutSeconds_ * 1000)) return true;
  // Gone, or hung without reading: it is not waited for.
  Stop(false);
  return false;
}

CrashUiRead CrashUiSession::Receive(CrashUiMessage& message, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
  bool silent = false;
  while (fd_ >= 0) {
    // Beats that queued while this side was busy are read before the
    // silence is judged: a wait of 0 still takes what is there.
    const auto silentFrom = lastHeard_ + std::chrono::seconds(peerTimeoutSeconds_);
    const auto until = std::min(deadline, silentFrom);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    const CrashUiRead r = ReceiveCrashUiMessage(fd_, decoder_, message, int(std::max<long long>(wait, 0)));
    if (r == CrashUiRead::Closed) break;
    if (r == CrashUiRead::Message) {
      lastHeard_ = Clock::now();
      if (message.type == kUiAlive) continue;
      return r;
    }
    const auto now = Clock::now();
    if (now >= silentFrom) {
      silent = true;
      break;
    }
    if (now >= deadline) return CrashUiRead::Timeout;
  }
  // A UI that closed its end is ending; a silent one is hung.
  Stop(!silent);
  return CrashUiRead::Closed;
}

void CrashUiSession::Stop(bool letItEnd) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (pid_ > 0) {
    if (!letItEnd || !WaitForExit(pid_, 5000)) {
      ::kill(pid_, SIGKILL);
      WaitForExit(pid_, 5000);
    }
    pid_ = -1;
  }
}

bool CrashUiSession::ShowProgress(const std::string& title, int iconGlyph, bool activate) {
  return Send(ShowProgressMessage(title, iconGlyph, activate));
}

bool CrashUiSession::ProgressOp(const std::string& op, std::int64_t value, const std::string& text) {
  return Send(ProgressMessage(op, value, text));
}

CrashUiOutcome RunCrashUiDialog(CrashUiSession& session, const CrashUiMessage& facts, const CrashUiCallbacks& callbacks) {
  if (!session.Send(facts)) return CrashUiOutcome::Failed;
  bool decided = false;
  CrashUiOutcome outcome = CrashUiOutcome::Continue;
  while (true) {
    CrashUiMessage m;
    const CrashUiRead r = session.Receive(m, 100);
    if (r == CrashUiRead::Closed) return decided ? outcome : CrashUiOutcome::Failed;
    if (r == CrashUiRead::Timeout) {
      if (callbacks.idle) callbacks.idle(session);
      continue;
    }
    if (m.type == kUiDialogClosed) return outcome;
    if (m.type != kUiAction) continue;
    const int code = int(m.GetInt("code"));
    bool handled = false;
    // A cancelled assistant took the action over before it came here.
    CrashUiMessage done;
    if (callbacks.action) handled = callbacks.action(code, m, done);
    done.type = kUiActionDone;
    done.AddInt("code", code);
    done.AddInt("handled", handled);
    if (code == 8) {
      decided = true;
      outcome = CrashUiOutcome::Continue;
    } else if (code == 9 && !handled) {
      decided = true;
      outcome = CrashUiOutcome::Restart;
    } else if (code == 10 && !handled) {
      decided = true;
      outcome = CrashUiOutcome::Close;
    }
    if (!session.Send(done)) return decided ? outcome : CrashUiOutcome::Failed;
  }
}

namespace {

// Sends `request` and waits for the answer of type `answerType` as long as
// the user takes; false when the UI is gone. The wait counts as the
// report's progress, so a faulting thread does not take it for a hung one.
bool AskAndWait(CrashUiSession& session, const CrashUiMessage& request, std::uint8_t answerType,
                CrashUiMessage& answer) {
  if (!session.Send(request)) return false;
  while (true) {
    const CrashUiRead r = session.Receive(answer, 1000);
    if (r == CrashUiRead::Closed) return false;
    NoteReportProgress();
    if (r == CrashUiRead::Message && answer.type == answerType) return true;
  }
}

}  // namespace

int RunCrashUiAssistant(CrashUiSession& session, const std::string& name, CrashUiMessage* result) {
  CrashUiMessage m;
  m.type = kUiRunAssistant;
  m.Add("name", name);
  CrashUiMessage answer;
  if (!AskAndWait(session, m, kUiAssistantDone, answer)) return 0;
  if (result) *result = answer;
  return int(answer.GetInt("result"));
}

bool ShowCrashUiText(CrashUiSession& session, const std::string& title, const std::string& text) {
  CrashUiMessage m;
  m.type = kUiShowText;
  m.Add("title", title);
  m.Add("text", text);
  CrashUiMessage answer;
  return AskAndWait(session, m, kUiTextClosed, answer);
}

std::string AskCrashUiSavePath(CrashUiSession& session, const std::string& folder, const std::string& fileName,
                               const std::string& title) {
  CrashUiMessage m;
  m.type = kUiAskSavePath;
  m.Add("folder", folder);
  m.Add("file", fileName);
  m.Add("title", title);
  CrashUiMessage answer;
  return AskAndWait(session, m, kUiSavePath, answer) ? answer.Get("path") : std::string();
}

}  // namespace zeb

#include "crashreport/zebExceptSettings.h"

namespace zeb {

CrashUiSettings CrashUiSettingsOf(TIZeqSettings& settings) {
  CrashUiSettings out;
  for (std::string_view name : kCrashUiSettingNames) {
    SettingKind kind = SettingKind::Text;
    for (const SettingEntry& e : BuiltinSettings())
      if (e.name == name) kind = e.kind;
    switch (kind) {
      case SettingKind::Bool: out.SetBool(name, settings.ReadBoolSetting(name)); break;
      case SettingKind::Int: out.SetInt(name, settings.ReadIntSetting(name)); break;
      case SettingKind::Text: out.Set(name, settings.ReadTextSetting(name)); break;
    }
  }
  return out;
}

}  // namespace zeb

#include "crashreport/zebExcept.h"
#include "crashreport/zebExceptObject.h"

namespace zeb {

namespace {

ReportFieldList FieldsOf(const IZeqFields& fields) {
  ReportFieldList out;
  if (!fields) return out;
  fields->BeginAccess();
  for (int k = 0; k < fields->Count(); ++k) out.emplace_back(fields->NameAt(k), fields->ValueAt(k));
  fields->EndAccess();
  return out;
}

}  // namespace

CrashUiFacts CrashUiFactsOf(IZeqException& exception, std::uint8_t showSetting, bool beep,
                            const std::string& screenshotFile) {
  CrashUiFacts facts;
  facts.kind = std::uint8_t(exception.Kind());
  facts.canContinue = exception.CanContinue();
  facts.message = exception.Message();
  facts.className = exception.ClassName();
  facts.programName = WithoutExtension(ProgramFileName());
  facts.showSetting = showSetting;
  facts.beep = beep;
  facts.attachScreenshot = exception.AppendScreenshot();
  facts.screenshotFile = screenshotFile;
  facts.settings = CrashUiSettingsOf(exception);
  return facts;
}

CrashUiReport CrashUiReportOf(IZeqException& exception) {
  CrashUiReport report;
  report.header = FieldsOf(exception.ReportHeader());
  report.sections = FieldsOf(exception.ReportSections());
  report.text = exception.ReportText(false);
  if (auto* object = dynamic_cast<TIZeqException*>(&exception)) report.complete = object->IsComplete();
  return report;
}

void ApplyCrashUiYield(IZeqException& exception, const CrashUiMessage& message) {
  ReportFieldList header, sections;
  YieldOf(message, header, sections);
  if (IZeqFields fields = exception.ReportHeader())
    for (const auto& [name, value] : header) fields->Assign(name, value);
  if (IZeqFields fields = exception.ReportSections())
    for (const auto& [name, value] : sections) fields->Assign(name, value);
  if (message.Has("mailFrom")) exception.SetMailFrom(message.Get("mailFrom"));
  if (message.Has("attach")) exception.SetAppendScreenshot(message.GetInt("attach") != 0);
  const std::string edited = message.Get("screenshot");
  if (!edited.empty()) {
    if (NVBitmapPtr bitmap = LoadBmpFile(edited)) exception.SetScreenshot(bitmap);
    ::unlink(edited.c_str());
  }
}

}  // namespace zeb

#include "crashreport/zebExceptObject.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

#include "crashreport/zebExcept.h"
#include "crashreport/zebHook.h"
#include "crashreport/zebStackScan.h"
#include "crashreport/zebStrings.h"

namespace zeb {

namespace {

// Guards every object's callback lists, as the handler registry does.
std::mutex& handlerLock() {
  static std::mutex m;
  return m;
}

Hook<std::function<NVBitmapPtr(bool)>>& captureHook() {
  static auto& hook = *new Hook<std::function<NVBitmapPtr(bool)>>;
  return hook;
}

Hook<std::function<void(IZeqException&)>>& showHook() {
  static auto& hook = *new Hook<std::function<void(IZeqException&)>>;
  return hook;
}

pid_t CurrentThreadId() { return pid_t(syscall(SYS_gettid)); }

// The processor context of a raise: its registers, with rip moved from the
// return address back to the call of the throw when the code before it is
// one, so that it points into the throwing function even when that call is
// its last instruction.
ucontext_t ContextOfRaise(const RaiseContext& raise) {
  TThreadRegisters registers;
  std::copy(std::begin(raise.registers), std::end(raise.registers), registers.regs);
  ucontext_t context = ContextFromRegisters(registers);
  CodeInfo call;
  if (FollowsCall(raise.registers[16], ReadGuardStart(), &call)) context.uc_mcontext.gregs[REG_RIP] = greg_t(call.address);
  return context;
}

}  // namespace

void SetScreenCapture(std::function<NVBitmapPtr(bool)> capture) { captureHook().Set(std::move(capture)); }

void SetExceptionShowHandler(std::function<void(IZeqException&)> show) { showHook().Set(std::move(show)); }

bool MatchesClassList(const std::exception_ptr& exception, std::string_view list) {
  const std::type_info* type = ExceptionType(exception);
  if (!type) return false;
  for (std::size_t i = 1, n = ListCount(list, ','); i <= n; ++i) {
    const std::string name = TrimmedCopy(ListItem(list, i, ','));
    if (!name.empty() && IsOfClass(type, name)) return true;
  }
  return false;
}

std::shared_ptr<TIZeqException> NewExceptionObject(ExceptionFacts facts) {
  IZeqSettings settings = facts.moduleSettings;
  if (!settings) settings = MainSettings();
  if (!settings) settings = SettingsOfModule(0);
  return std::make_shared<TIZeqException>(std::move(facts), std::move(settings));
}

TIZeqException::TIZeqException(ExceptionFacts facts, IZeqSettings moduleSettings)
    : IZeqException(moduleSettings->ModuleHandle(), false), facts_(std::move(facts)),
      moduleSettings_(std::move(moduleSettings)) {
  MarkValid();
  SetVersionText(moduleSettings_->VersionText());
  facts_.moduleSettings.reset();  // held once, in moduleSettings_
  canContinue_ = facts_.canContinue;
  continueAllowed_ = facts_.canContinue;
  if (facts_.threadId == 0) facts_.threadId = CurrentThreadId();
  if (facts_.stackPointer == 0) {
    int here = 0;
    facts_.stackPointer = reinterpret_cast<std::uintptr_t>(&here);
  }
  if (facts_.framePointer == 0) facts_.framePointer = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (facts_.context) {
    context_ = *facts_.context;
  } else if (facts_.raiseContext.valid) {
    context_ = ContextOfRaise(facts_.raiseContext);
    contextFromRaise_ = true;
    facts_.raiseContext.stackSize = std::min<std::uint32_t>(facts_.raiseContext.stackSize, RaiseContext::kStackBytes);
  }
  facts_.context = nullptr;
  applyClassFilters();
  appendScreenshot_ = createScreenshot_.load();
}

TIZeqException::~TIZeqException() {
  abort_ = true;
  if (completionThread_.joinable()) completionThread_.join();
  completionThreadId_ = 0;
  if (header_) header_->DetachException();
  if (sections_) sections_->DetachException();
  if (sendThread_.joinable()) sendThread_.join();
}

SettingEntry* TIZeqException::FindSetting(std::string_view name, bool useBuiltin, SettingKind kind, bool create) {
  std::lock_guard lock(SettingsLock());
  for (SettingEntry& e : own_)
    if (e.name == name) return &e;
  if (create) {
    SettingEntry e;
    e.name = std::string(name);
    e.kind = kind;
    own_.push_back(std::move(e));
    return &own_.back();
  }
  if (SettingEntry* e = moduleSettings_->FindSetting(name, false, kind, false)) return e;
  return TIZeqSettings::FindSetting(name, useBuiltin, kind, false);
}

void TIZeqException::applyClassFilters() {
  std::string row = "Gn";
  if (MatchesClassList(facts_.exception, F1Classes()))
    row = "F1";
  else if (MatchesClassList(facts_.exception, F2Classes()))
    row = "F2";
  createBugReport_ = !ReadBoolSetting(row + "NoBugRep");
  createScreenshot_ = !ReadBoolSetting(row + "NoScrShot") && ScrShotDepth() > 0;
  const bool pause = !ReadBoolSetting(row + "NoSuspend") && PauseThreads();
  SetPauseThreads(pause);
  callHandlers_ = !ReadBoolSetting(row + "NoHandlers");
  showSetting_ = std::uint8_t(std::clamp(ReadIntSetting(row + "ShowCfg"), 0, 3));
  SetAssistantName(ReadTextSetting(row + "Assis"));
}

void TIZeqException::SetCanContinue(bool value) {
  if (!value || continueAllowed_) canContinue_ = value;
}

std::string TIZeqException::ClassName() {
  std::lock_guard lock(namesLock_);
  if (className_.empty()) className_ = ExceptionClassName(facts_.exception);
  return className_;
}

std::string TIZeqException::Message() {
  std::lock_guard lock(namesLock_);
  if (message_.empty()) message_ = AsSentence(ExceptionMessageText(facts_.exception));
  return message_;
}

std::uint32_t TIZeqException::CallstackCrc(int index) const {
  return index >= 0 && index < 3 ? callstackCrc_[index] : 0;
}

void TIZeqException::SetCallstackCrc(int index, std::uint32_t value) {
  if (index >= 0 && index < 3) callstackCrc_[index] = value;
}

IZeqFields TIZeqException::ReportHeader() {
  std::lock_guard lock(lock_);
  if (!header_) {
    header_ = NewFieldList(true);
    header_->SetException(this);
  }
  return header_;
}

IZeqFields TIZeqException::ReportSections() {
  std::lock_guard lock(lock_);
  if (!sections_) {
    sections_ = NewFieldList(true);
    sections_->SetException(this);
  }
  return sections_;
}

// Header lines are the name padded to one more than the longest name, ": "
// and the value; each section follows with its title line.
std::string TIZeqException::composeReport() {
  const IZeqFields header = ReportHeader();
  const IZeqFields sections = ReportSections();
  std::string text;
  header->BeginAccess();
  std::size_t width = 0;
  for (int i = 0; i < header->Count(); ++i) width = std::max(width, header->NameAt(i).size());
  for (int i = 0; i < header->Count(); ++i) {
    if (!text.empty()) text += "\r\n";
    text += PadText(header->NameAt(i), -int(width + 1), ' ') + ": " + header->ValueAt(i);
  }
  header->EndAccess();
  sections->BeginAccess();
  for (int i = 0; i < sections->Count(); ++i) {
    if (!text.empty()) text += "\r\n\r\n";
    text += sections->NameAt(i) + ":\r\n" + sections->ValueAt(i);
  }
  sections->EndAccess();
  return text;
}

std::string TIZeqException::ReportText(bool mustBeComplete) {
  if (mustBeComplete && completionThread_.joinable() && std::this_thread::get_id() != completionThread_.get_id()) {
    // The completion ends by itself; joining here is the wait for it.
    static std::mutex joinLock;
    std::lock_guard join(joinLock);
    if (completionThread_.joinable()) completionThread_.join();
  }
  std::uint64_t version;
  {
    std::lock_guard lock(lock_);
    if (!reportText_.empty()) return reportText_;
    version = reportVersion_;
  }
  std::string text = composeReport();
  std::lock_guard lock(lock_);
  if (reportVersion_ == version && reportText_.empty()) reportText_ = text;
  return text;
}

std::string TIZeqException::CompleteReportText() { return ReportText(true); }

void TIZeqException::SetReportText(const std::string& text) {
  {
    std::lock_guard lock(lock_);
    reportText_ = text;
  }
  notifyReportChanged();
}

void TIZeqException::StartCompletion(std::function<void(TIZeqException&, const std::atomic<bool>&)> complete) {
  if (completionThread_.joinable()) return;
  completionThread_ = std::thread([this, complete = std::move(complete)] {
    completionThreadId_ = CurrentThreadId();
    try {
      complete(*this, abort_);
    } catch (...) {
    }
    if (!abort_) MarkComplete();
  });
}

void TIZeqException::MarkComplete() {
  complete_ = true;
  std::uint8_t three = 3;
  phase_.compare_exchange_strong(three, 4);
  MarkModified();
}

NVBitmapPtr TIZeqException::Screenshot() {
  std::lock_guard lock(screenshotLock_);
  if (!screenshot_ && createScreenshot_) {
    if (const auto capture = captureHook().Get()) screenshot_ = capture(ScrShotAppOnly());
    // A failed capture is not tried again.
    if (!screenshot_) createScreenshot_ = false;
  }
  return screenshot_;
}

void TIZeqException::SetScreenshot(NVBitmapPtr bitmap) {
  std::lock_guard lock(screenshotLock_);
  screenshot_ = std::move(bitmap);
}

void TIZeqException::BeginChange() { ++updateCount_; }

void TIZeqException::EndChange() {
  if (--updateCount_ == 0 && dirty_) MarkModified();
}

void TIZeqException::MarkModified() {
  if (updateCount_ > 0) {
    dirty_ = true;
    return;
  }
  dirty_ = false;
  {
    std::lock_guard lock(lock_);
    ++reportVersion_;
    reportText_.clear();
  }
  notifyReportChanged();
}

std::uint64_t TIZeqException::ReportVersion() const {
  std::lock_guard lock(const_cast<std::mutex&>(lock_));
  return reportVersion_;
}

void TIZeqException::notifyReportChanged() {
  std::vector<std::pair<ReportCallback, bool>> callbacks;
  std::vector<MethodCallback> methods;
  {
    std::lock_guard lock(handlerLock());
    callbacks = callbacks_;
    methods = methodCallbacks_;
  }
  if (callbacks.empty() && methods.empty()) return;
  const std::string text = ReportText(false);
  const bool complete = complete_;
  for (const auto& [callback, critical] : callbacks) {
    try {
      callback(complete, text, *this);
    } catch (...) {
    }
  }
  for (const MethodCallback& m : methods) {
    try {
      m.code(m.data, complete, text, *this);
    } catch (...) {
    }
  }
}

void TIZeqException::AddReportCallback(ReportCallback callback, bool critical) {
  if (!callback) return;
  {
    std::lock_guard lock(handlerLock());
    for (auto& entry : callbacks_)
      if (entry.first == callback) {
        entry.second = critical;
        return;
      }
    callbacks_.emplace_back(callback, critical);
  }
  try {
    callback(complete_, ReportText(false), *this);
  } catch (...) {
  }
}

void TIZeqException::AddReportCallback(ReportMethod code, void* data, bool critical) {
  if (!code) return;
  {
    std::lock_guard lock(handlerLock());
    for (auto& entry : methodCallbacks_)
      if (entry.code == code && entry.data == data) {
        entry.critical = critical;
        return;
      }
    methodCallbacks_.push_back({code, data, critical});
  }
  try {
    code(data, complete_, ReportText(false), *this);
  } catch (...) {
  }
}

void TIZeqException::RemoveReportCallback(ReportCallback callback) {
  std::lock_guard lock(handlerLock());
  auto it = std::find_if(callbacks_.begin(), callbacks_.end(), [&](const auto& e) { return e.first == callback; });
  if (it != callbacks_.end()) callbacks_.erase(it);
}

void TIZeqException::RemoveReportCallback(ReportMethod code, void* data) {
  std::lock_guard lock(handlerLock());
  auto it = std::find_if(methodCallbacks_.begin(), methodCallbacks_.end(),
                         [&](const MethodCallback& e) { return e.code == code && e.data == data; });
  if (it != methodCallbacks_.end()) methodCallbacks_.erase(it);
}

bool TIZeqException::HasCriticalReportCallback() {
  std::lock_guard lock(handlerLock());
  return std::any_of(callbacks_.begin(), callbacks_.end(), [](const auto& e) { return e.second; }) ||
         std::any_of(methodCallbacks_.begin(), methodCallbacks_.end(), [](const MethodCallback& e) { return e.critical; });
}

std::string TIZeqException::AssistantName() const {
  std::lock_guard lock(assistantLock_);
  return assistant_;
}

void TIZeqException::SetAssistantName(const std::string& value) {
  std::lock_guard lock(assistantLock_);
  assistant_ = value;
}

void TIZeqException::Show() {
  if (const auto show = showHook().Get()) show(*this);
}

void TIZeqException::SetPhase(std::uint8_t phase) { phase_ = phase == 3 && complete_ ? 4 : phase; }

}  // namespace zeb

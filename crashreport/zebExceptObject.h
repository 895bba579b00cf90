#pragma once

// The exception object: one per exception the crash reporter handles (and one
// for the whole-process trace). It carries the facts of the exception, a
// settings store of its own over the settings of the module the exception
// belongs to, the flags the class filters decide, the bug report's header,
// sections and text, the screenshot, the report callbacks and the phase of
// its handling. Other parts reach it through IZeqException / IZeqExceptionEx.

#include <sys/types.h>
#include <ucontext.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/zebExceptSettings.h"
#include "crashreport/zebNVBitmap.h"

namespace zeb {

enum class ExceptionKind : std::uint8_t { Exception = 0, Frozen = 1 };

class IZeqException;
using ReportCallback = void (*)(bool complete, const std::string& report, IZeqException& exception);
using ReportMethod = void (*)(void* data, bool complete, const std::string& report, IZeqException& exception);

// The operations every part of the crash reporter uses; the settings
// operations come first (they answer from this exception's own settings, then
// the module's, then the built-in values, and writes change this exception
// only).
class IZeqException : public TIZeqSettings, public ReportChangeTarget {
public:
  using TIZeqSettings::TIZeqSettings;

  virtual std::uint8_t Phase() const = 0;
  virtual bool CanContinue() const = 0;
  // True is taken only when the object was created with continuing allowed.
  virtual void SetCanContinue(bool value) = 0;
  virtual ExceptionKind Kind() const = 0;
  virtual std::exception_ptr ExceptionObject() const = 0;
  virtual std::string ClassName() = 0;
  virtual std::string Message() = 0;
  virtual std::uintptr_t ExceptionAddress() const = 0;
  virtual pid_t ThreadId() const = 0;
  // Index 0 to 2; any other gives 0.
  virtual std::uint32_t CallstackCrc(int index) const = 0;
  // The copy of the processor context; null when none was given. A thrown
  // exception's is the throwing function's at its throw, when the raise hook
  // recorded it.
  virtual const ucontext_t* Context() const = 0;
  virtual std::uint8_t Source() const = 0;
  virtual std::uintptr_t Package() const = 0;

  virtual IZeqFields ReportHeader() = 0;
  virtual IZeqFields ReportSections() = 0;
  // Waits for the completion of the report, then its text.
  virtual std::string CompleteReportText() = 0;
  virtual void SetReportText(const std::string& text) = 0;
  virtual std::string ReportText(bool mustBeComplete) = 0;

  // Taken on first request when the object wants one; null when none.
  virtual NVBitmapPtr Screenshot() = 0;
  virtual void SetScreenshot(NVBitmapPtr bitmap) = 0;

  virtual void AddReportCallback(ReportCallback callback, bool critical) = 0;
  virtual void AddReportCallback(ReportMethod code, void* data, bool critical) = 0;
  virtual void RemoveReportCallback(ReportCallback callback) = 0;
  virtual void RemoveReportCallback(ReportMethod code, void* data) = 0;

  virtual bool CreateBugReport() const = 0;
  virtual void SetCreateBugReport(bool value) = 0;
  virtual bool CreateScreenshot() const = 0;
  virtual void SetCreateScreenshot(bool value) = 0;
  virtual bool CallHandlers() const = 0;
  virtual void SetCallHandlers(bool value) = 0;
  virtual bool AppendScreenshot() const = 0;
  virtual void SetAppendScreenshot(bool value) = 0;
  virtual std::uint8_t ShowSetting() const = 0;
  virtual void SetShowSetting(std::uint8_t value) = 0;
  virtual std::string AssistantName() const = 0;
  virtual void SetAssistantName(const std::string& value) = 0;
  // Hands the object to the show operation the dispatch installed.
  virtual void Show() = 0;
};

class IZeqExceptionEx {
public:
  virtual ~IZeqExceptionEx() = default;
  virtual bool HasCriticalReportCallback() = 0;
  // 0 when the report is not completed on a thread of its own.
  virtual pid_t CompletionThreadId() const = 0;
  // A request for phase 3 on a complete report stores 4.
  virtual void SetPhase(std::uint8_t phase) = 0;
  virtual bool ReportSent() const = 0;
  virtual void SetReportSent(bool value) = 0;
  virtual bool ReportSaved() const = 0;
  virtual void SetReportSaved(bool value) = 0;
  // Each true exactly once per object.
  virtual bool FirstCompletionCall() = 0;
  virtual bool FirstAutoSaveCall() = 0;
  // Where the delivery keeps its background sending thread.
  virtual std::thread& SendThread() = 0;
};

// What the raise hook keeps of the function that threw, beside its return
// addresses: the registers at its call of the throw (rsp as it is once the
// call returns, rip the return address) and the top of its stack from rsp up,
// which later code overwrites long before the report is made. In the order of
// TThreadRegisters: rax, rdx, rcx, rbx, rsi, rdi, rbp, rsp, r8 to r15, rip.
struct RaiseContext {
  static constexpr std::size_t kStackBytes = 320;  // the 20 lines a stack dump shows
  bool valid = false;
  std::uint64_t registers[17] = {};
  std::uint32_t stackSize = 0;  // bytes of stack copied, from rsp up
  std::uint8_t stack[kStackBytes] = {};
};

// What the creation is given; zeros stand for "the calling thread's".
struct ExceptionFacts {
  ExceptionKind kind = ExceptionKind::Exception;
  std::exception_ptr exception;
  std::uintptr_t address = 0;
  bool canContinue = true;
  pid_t threadId = 0;
  std::uintptr_t stackPointer = 0;
  std::uintptr_t framePointer = 0;
  const ucontext_t* context = nullptr;
  IZeqSettings moduleSettings;  // null: the program's settings
  std::uint8_t source = 0;
  std::uintptr_t package = 0;
  bool dontCompleteYet = false;
  // The return addresses recorded where the exception was thrown, innermost
  // first; empty when none were.
  std::vector<std::uintptr_t> preparedStack;
  // Without a processor context, the object's context is made from this.
  RaiseContext raiseContext;
};

class TIZeqException;
std::shared_ptr<TIZeqException> NewExceptionObject(ExceptionFacts facts);

// The screenshot the object takes when it wants one (the windows install
// CaptureScreen); without one no screenshot is taken.
void SetScreenCapture(std::function<NVBitmapPtr(bool ownWindowsOnly)> capture);
// The dispatch's show operation.
void SetExceptionShowHandler(std::function<void(IZeqException&)> show);

// Whether the exception's class or one of its bases is named in the ","-list.
bool MatchesClassList(const std::exception_ptr& exception, std::string_view list);

class TIZeqException final : public IZeqException, public IZeqExceptionEx {
public:
  // Use NewExceptionObject.
  TIZeqException(ExceptionFacts facts, IZeqSettings moduleSettings);
  ~TIZeqException() override;

  SettingEntry* FindSetting(std::string_view name, bool useBuiltin, SettingKind kind, bool create) override;

  std::uint8_t Phase() const override { return phase_.load(); }
  bool CanContinue() const override { return canContinue_.load(); }
  void SetCanContinue(bool value) override;
  ExceptionKind Kind() const override { return facts_.kind; }
  std::exception_ptr ExceptionObject() const override { return facts_.exception; }
  std::string ClassName() override;
  std::string Message() override;
  std::uintptr_t ExceptionAddress() const override { return facts_.address; }
  pid_t ThreadId() const override { return facts_.threadId; }
  std::uint32_t CallstackCrc(int index) const override;
  void SetCallstackCrc(int index, std::uint32_t value);
  const ucontext_t* Context() const override { return context_ ? &*context_ : nullptr; }
  std::uint8_t Source() const override { return facts_.source; }
  std::uintptr_t Package() const override { return facts_.package; }
  std::uintptr_t StackPointer() const { return facts_.stackPointer; }
  std::uintptr_t FramePointer() const { return facts_.framePointer; }
  const std::vector<std::uintptr_t>& PreparedStack() const { return facts_.preparedStack; }
  // Whether Context() comes from the raise hook: its stack is gone by now
  // (walk the prepared stack instead), and RaiseStack() holds its top.
  bool ContextFromRaise() const { return contextFromRaise_; }
  std::span<const std::uint8_t> RaiseStack() const {
    return contextFromRaise_ ? std::span<const std::uint8_t>(facts_.raiseContext.stack, facts_.raiseContext.stackSize)
                             : std::span<const std::uint8_t>();
  }

  IZeqFields ReportHeader() override;
  IZeqFields ReportSections() override;
  std::string CompleteReportText() override;
  void SetReportText(const std::string& text) override;
  std::string ReportText(bool mustBeComplete) override;
  bool IsComplete() const { return complete_.load(); }
  // Runs `complete` on a thread of its own; when it returns (and the object
  // is not being destroyed) the report counts as complete. `abort` turns true
  // when the object is destroyed meanwhile.
  void StartCompletion(std::function<void(TIZeqException&, const std::atomic<bool>& abort)> complete);
  void MarkComplete();

  NVBitmapPtr Screenshot() override;
  void SetScreenshot(NVBitmapPtr bitmap) override;

  void BeginChange() override;
  void EndChange() override;
  void MarkModified() override;
  std::uint64_t ReportVersion() const;

  void AddReportCallback(ReportCallback callback, bool critical) override;
  void AddReportCallback(ReportMethod code, void* data, bool critical) override;
  void RemoveReportCallback(ReportCallback callback) override;
  void RemoveReportCallback(ReportMethod code, void* data) override;

  bool CreateBugReport() const override { return createBugReport_; }
  void SetCreateBugReport(bool value) override { createBugReport_ = value; }
  bool CreateScreenshot() const override { return createScreenshot_; }
  void SetCreateScreenshot(bool value) override { createScreenshot_ = value; }
  bool CallHandlers() const override { return callHandlers_; }
  void SetCallHandlers(bool value) override { callHandlers_ = value; }
  bool AppendScreenshot() const override { return appendScreenshot_; }
  void SetAppendScreenshot(bool value) override { appendScreenshot_ = value; }
  std::uint8_t ShowSetting() const override { return showSetting_; }
  void SetShowSetting(std::uint8_t value) override { showSetting_ = value; }
  std::string AssistantName() const override;
  void SetAssistantName(const std::string& value) override;
  void Show() override;

  bool HasCriticalReportCallback() override;
  pid_t CompletionThreadId() const override { return completionThreadId_.load(); }
  void SetPhase(std::uint8_t phase) override;
  bool ReportSent() const override { return reportSent_; }
  void SetReportSent(bool value) override { reportSent_ = value; }
  bool ReportSaved() const override { return reportSaved_; }
  void SetReportSaved(bool value) override { reportSaved_ = value; }
  bool FirstCompletionCall() override { return ++firstCompletion_ == 0; }
  bool FirstAutoSaveCall() override { return ++firstAutoSave_ == 0; }
  std::thread& SendThread() override { return sendThread_; }

protected:
  bool WillTakeScreenshot() override { return createScreenshot_; }

private:
  void applyClassFilters();
  void notifyReportChanged();
  std::string composeReport();

  ExceptionFacts facts_;
  IZeqSettings moduleSettings_;
  std::vector<SettingEntry> own_;
  std::optional<ucontext_t> context_;
  bool contextFromRaise_ = false;
  std::atomic<std::uint8_t> phase_{0};
  std::atomic<bool> canContinue_{true};
  bool continueAllowed_ = true;
  std::uint32_t callstackCrc_[3] = {0, 0, 0};

  std::mutex lock_;  // the report text and its version
  IZeqFields header_;
  IZeqFields sections_;
  std::string reportText_;
  std::uint64_t reportVersion_ = 0;
  std::atomic<bool> complete_{false};
  std::atomic<int> updateCount_{0};
  std::atomic<bool> dirty_{false};

  struct MethodCallback {
    ReportMethod code;
    void* data;
    bool critical;
  };
  std::vector<std::pair<ReportCallback, bool>> callbacks_;
  std::vector<MethodCallback> methodCallbacks_;

  std::mutex screenshotLock_;
  NVBitmapPtr screenshot_;
  std::atomic<bool> createBugReport_{true}, createScreenshot_{false}, callHandlers_{true}, appendScreenshot_{false};
  std::atomic<std::uint8_t> showSetting_{0};
  mutable std::mutex assistantLock_;
  std::string assistant_;

  std::thread completionThread_;
  std::atomic<pid_t> completionThreadId_{0};
  std::atomic<bool> abort_{false};
  std::atomic<bool> reportSent_{false}, reportSaved_{false};
  std::atomic<int> firstCompletion_{-1}, firstAutoSave_{-1};
  std::thread sendThread_;

  std::mutex namesLock_;
  std::string className_, message_;
};

}  // namespace zeb

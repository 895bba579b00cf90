// The dispatch inside this test program: requests from any thread reach the
// handlers on the one handling thread, one after the other; silent aborts and
// exceptions of the handling thread itself are ignored; the main thread waits
// through its waiter, which may give up without losing a request slot. Also
// the automatic-action test over the history and the fault messages. The
// fatal paths (signals, close, restart) run in crashprobe.

#include "crashreport/zebDispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/zebHandlers.h"
#include "platform/Threads.h"
#include "crashreport/zebExceptObject.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

using namespace zeb;

namespace {

TEST(ZebDispatch, AnAutomaticActionIsDueAfterTenExceptionsWithinItsSeconds) {
  const std::uint64_t now = 13'000'000'000;
  ExceptionHistory tenRecent{};
  for (std::size_t i = 0; i < tenRecent.size(); ++i) tenRecent[i] = now - i * 3;  // oldest 27 s ago
  ExceptionHistory nineRecent = tenRecent;
  nineRecent[9] = 0;
  ExceptionHistory oneOld = tenRecent;
  oneOld[9] = now - 31;
  struct Case {
    std::int32_t value;
    const ExceptionHistory* history;
    bool due;
  } cases[] = {
      {0, &tenRecent, false}, {1, &nineRecent, true}, {30, &tenRecent, true},
      {30, &nineRecent, false}, {30, &oneOld, false}, {27, &tenRecent, true}, {26, &tenRecent, false},
      {-5, &tenRecent, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << c.value);
    EXPECT_EQ(AutoActionDue(c.value, *c.history, now), c.due);
  }
}

TEST(ZebDispatch, TheHistoryKeepsTheTenNewestTimesNewestFirst) {
  ExceptionHistory history{};
  for (std::uint64_t t = 1; t <= 12; ++t) history = ShiftHistory(history, t);
  EXPECT_EQ(history[0], 12u);
  EXPECT_EQ(history[9], 3u);
  EXPECT_GT(HistoryNow(), 13'000'000'000u);  // seconds since 1601: after 2012
}

__attribute__((noinline)) void CodeInThisProgram() {}

TEST(ZebDispatch, FaultsGetTheMessagesOfTheirKind) {
  const auto here = reinterpret_cast<std::uintptr_t>(&CodeInThisProgram);
  const std::uintptr_t stackLow = 0x7ff000000000, stackHigh = 0x7ff000800000;
  struct Case {
    SignalFacts facts;
    std::string message;
  } cases[] = {
      {{SIGSEGV, SEGV_MAPERR, 0, here, stackHigh - 0x100, true, stackLow, stackHigh},
       "Access violation at address " + [&] {
         char t[24];
         std::snprintf(t, sizeof t, "$%lx", static_cast<unsigned long>(here));
         return std::string(t);
       }() + " in module 'test_crashreport'. Write of address $0"},
      {{SIGSEGV, SEGV_ACCERR, 0x10, 0x10, stackHigh - 0x100, false, stackLow, stackHigh}, "Access Violation"},
      {{SIGSEGV, SEGV_MAPERR, stackLow - 0x800, here, stackLow + 0x10, true, stackLow, stackHigh}, "Stack overflow"},
      {{SIGSEGV, SEGV_MAPERR, 0x5000 - 8, here, 0x5000, true, 0, 0}, "Stack overflow"},
      {{SIGFPE, FPE_INTDIV}, "Division by zero"},
      {{SIGFPE, FPE_INTOVF}, "Integer overflow"},
      {{SIGFPE, FPE_FLTDIV}, "Floating point division by zero"},
      {{SIGFPE, FPE_FLTOVF}, "Floating point overflow"},
      {{SIGFPE, FPE_FLTUND}, "Floating point underflow"},
      {{SIGFPE, FPE_FLTINV}, "Invalid floating point operation"},
      {{SIGFPE, FPE_FLTSUB}, "Range check error"},
      {{SIGILL, ILL_PRVOPC}, "Privileged instruction"},
      {{SIGILL, ILL_ILLOPC}, "External exception C000001D"},
      {{SIGTRAP, 0}, "External exception 80000003"},
      {{SIGABRT, 0}, "Abnormal program termination"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(SignalMessage(c.facts), c.message);
  }
}

// What the handler saw of each exception.
struct Seen {
  std::string message;
  std::string className;
  std::uint8_t source = 0;
  bool canContinue = false;
  pid_t reportedThread = 0;
  pid_t handlerThread = 0;
};

struct Recorder {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Seen> seen;
  bool gateOpen = true;
  bool submitFromHandler = false;
};
Recorder* recorder = nullptr;

// Marks every exception handled, so that nothing is shown and the test
// program goes on.
void RecordingHandler(IZeqException& exception, bool& handled) {
  Seen s{exception.Message(), exception.ClassName(), exception.Source(), exception.CanContinue(), exception.ThreadId(),
         platform::CurrentThreadId()};
  std::unique_lock lock(recorder->lock);
  recorder->changed.wait(lock, [] { return recorder->gateOpen; });
  if (recorder->submitFromHandler) {
    SubmitArguments again;
    again.exception = std::make_exception_ptr(std::runtime_error("raised while handling"));
    lock.unlock();
    SubmitException(again);  // ignored: this is the handling thread
    lock.lock();
  }
  recorder->seen.push_back(s);
  recorder->changed.notify_all();
  handled = true;
}

class ZebDispatchThread : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(StartExceptionThread()); }
  static void TearDownTestSuite() { StopExceptionThread(); }
  void SetUp() override {
    recorder = &recorder_;
    RegisterExceptionHandler(&RecordingHandler, 0, 1);
  }
  void TearDown() override {
    {
      std::lock_guard lock(recorder_.lock);
      recorder_.gateOpen = true;
    }
    recorder_.changed.notify_all();
    UnregisterExceptionHandler(&RecordingHandler);
    SetMainThreadWaiter(nullptr);
    SetMainThreadId(0);
    recorder = nullptr;
  }
  std::size_t SeenCount() {
    std::lock_guard lock(recorder_.lock);
    return recorder_.seen.size();
  }
  Recorder recorder_;
};

SubmitArguments Failure(const std::string& text, std::uint8_t source = SourceThread) {
  SubmitArguments arguments;
  arguments.exception = std::make_exception_ptr(std::runtime_error(text));
  arguments.source = source;
  return arguments;
}

TEST_F(ZebDispatchThread, EachThreadsExceptionIsHandledOnTheHandlingThreadBeforeItsSubmitterGoesOn) {
  std::vector<std::thread> threads;
  std::vector<pid_t> ids(4);
  std::vector<std::size_t> seenWhenBack(4);
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      ids[i] = platform::CurrentThreadId();
      SubmitException(Failure("failure " + std::to_string(i)));
      std::lock_guard lock(recorder_.lock);
      seenWhenBack[i] = std::count_if(recorder_.seen.begin(), recorder_.seen.end(),
                                      [&](const Seen& s) { return s.reportedThread == ids[i]; });
    });
  for (std::thread& t : threads) t.join();
  ASSERT_EQ(recorder_.seen.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(seenWhenBack[i], 1u) << "thread " << i;
  for (const Seen& s : recorder_.seen) {
    EXPECT_EQ(s.handlerThread, ExceptionThreadId());
    EXPECT_EQ(s.className, "runtime_error");
    EXPECT_EQ(s.message.rfind("failure ", 0), 0u) << s.message;
    EXPECT_EQ(s.source, SourceThread);
    EXPECT_TRUE(s.canContinue);
  }
}

TEST_F(ZebDispatchThread, TheExceptionBeingHandledIsTakenWhenNoneIsGiven) {
  try {
    throw std::out_of_range("index 7");
  } catch (...) {
    SubmitArguments arguments;
    arguments.source = SourceApplication;
    SubmitException(arguments);
  }
  ASSERT_EQ(recorder_.seen.size(), 1u);
  EXPECT_EQ(recorder_.seen[0].className, "out_of_range");
  EXPECT_EQ(recorder_.seen[0].message, "index 7.");
}

TEST_F(ZebDispatchThread, SilentAbortsAndExceptionsOfTheHandlingThreadAreIgnored) {
  SubmitArguments quiet;
  quiet.exception = std::make_exception_ptr(platform::SilentAbort());
  SubmitException(quiet);
  EXPECT_EQ(SeenCount(), 0u);
  recorder_.submitFromHandler = true;
  SubmitException(Failure("the one report"));
  ASSERT_EQ(SeenCount(), 1u);
  EXPECT_EQ(recorder_.seen[0].message, "the one report.");
}

TEST_F(ZebDispatchThread, TheMainThreadWaitsThroughItsWaiter) {
  SetMainThreadId(platform::CurrentThreadId());
  int waits = 0;
  SetMainThreadWaiter([&](const std::function<bool()>& done) {
    ++waits;
    ASSERT_TRUE(testsupport::waitUntil(done));
  });
  SubmitException(Failure("on the main thread"));
  EXPECT_EQ(waits, 1);
  EXPECT_EQ(SeenCount(), 1u);
}

TEST_F(ZebDispatchThread, AWaiterThatGivesUpLosesNoRequestSlot) {
  SetMainThreadId(platform::CurrentThreadId());
  SetMainThreadWaiter([](const std::function<bool()>&) {});  // a quit ends every wait at once
  {
    std::lock_guard lock(recorder_.lock);
    recorder_.gateOpen = false;
  }
  // More than the requests that can be under way at once.
  for (int i = 0; i < 40; ++i) SubmitException(Failure("abandoned"));
  {
    std::lock_guard lock(recorder_.lock);
    recorder_.gateOpen = true;
  }
  recorder_.changed.notify_all();
  // The requests queued while the gate was shut are handled and their slots
  // freed by the handling thread; then a request that waits comes through.
  SetMainThreadWaiter(nullptr);
  auto lastMessage = [&] {
    std::lock_guard lock(recorder_.lock);
    return recorder_.seen.empty() ? std::string() : recorder_.seen.back().message;
  };
  EXPECT_TRUE(testsupport::waitUntil([&] {
    SubmitException(Failure("after the quit"));
    return lastMessage() == "after the quit.";
  }));
  std::lock_guard lock(recorder_.lock);
  EXPECT_EQ(recorder_.seen.front().message, "abandoned.");
}

struct RecordingPresenter : IExceptionPresenter {
  bool CanPresent() override { return true; }
  UserChoice Present(IZeqException& exception) override {
    shown.push_back(exception.Message());
    return UserChoice::Continue;
  }
  std::vector<std::string> shown;
};

std::vector<std::uint8_t> actions;
void RecordAction(std::uint8_t action, IZeqException&, bool&) { actions.push_back(action); }

// The actions the handlers hear of while `presenter` shows one exception.
std::vector<std::uint8_t> ActionsAround(std::shared_ptr<IExceptionPresenter> presenter) {
  UnregisterExceptionHandler(&RecordingHandler);
  SetExceptionPresenter(std::move(presenter));
  InstallPresentException();
  RegisterActionHandler(&RecordAction, 0);
  actions.clear();
  SubmitException(Failure("shown in a window"));
  SetExceptionPresenter(nullptr);
  UnregisterActionHandler(&RecordAction);
  return actions;
}

TEST_F(ZebDispatchThread, APresenterShowsWhatNoHandlerTookAndTheChoiceIsFiredAsAnAction) {
  auto presenter = std::make_shared<RecordingPresenter>();
  const std::vector<std::uint8_t> heard = ActionsAround(presenter);
  EXPECT_EQ(presenter->shown, std::vector<std::string>{"shown in a window."});
  // Continue, then the automatic save of the program's settings.
  EXPECT_EQ(heard, (std::vector<std::uint8_t>{ActionContinue, ActionSave}));
}

}  // namespace

namespace {

// A window that tells the handlers of the choice itself, as the crash-UI
// presenter does: the dispatch carries the choice out without telling them
// again.
struct TellingPresenter : IExceptionPresenter {
  bool CanPresent() override { return true; }
  UserChoice Present(IZeqException& exception) override {
    bool handled = false;
    FireEvent(HandlerKind::Action, ActionContinue, handled, dynamic_cast<TIZeqException&>(exception));
    return UserChoice::Continue;
  }
  bool ToldTheHandlers() const override { return true; }
};

TEST_F(ZebDispatchThread, AWindowThatToldTheHandlersOfTheChoiceIsNotToldAgain) {
  EXPECT_EQ(ActionsAround(std::make_shared<TellingPresenter>()),
            (std::vector<std::uint8_t>{ActionContinue, ActionSave}));
}

// The window's send goes to the installed delivery as the user's request,
// with the window's services; the save asks the window where and writes
// there, nothing when the user cancels.
TEST(ZebDispatch, TheWindowsSendAndSaveAsTheUserAsks) {
  auto exception = NewExceptionObject(ExceptionFacts{});
  exception->SetReportText("date/time : now\r\nexception message : shown");
  EXPECT_FALSE(SendReportAsAsked(*exception, nullptr));  // no delivery installed
  std::vector<bool> byUser;
  std::vector<bool> withServices;
  SetReportDelivery([&](IZeqException&, const DeliveryRequest& request) {
    byUser.push_back(request.byUser);
    withServices.push_back(request.services != nullptr);
  });
  EXPECT_TRUE(SendReportAsAsked(*exception, nullptr));
  SetReportDelivery(nullptr);
  EXPECT_EQ(byUser, std::vector<bool>{true});
  EXPECT_EQ(withServices, std::vector<bool>{false});

  testsupport::TempDir dir;
  const std::string chosen = (dir / "chosen.txt").string();
  std::string asked;
  EXPECT_TRUE(SaveReportAsAsked(*exception, [&](const std::string&, const std::string& file, const std::string& title) {
    asked = file + " / " + title;
    return chosen;
  }));
  EXPECT_EQ(asked, "bugreport.txt / save bug report");
  EXPECT_EQ(testsupport::readFileText(chosen), "date/time : now\r\nexception message : shown\r\n\r\n");
  EXPECT_FALSE(exception->ReportSaved());  // only the automatic save into the configured file marks it
  EXPECT_FALSE(SaveReportAsAsked(*exception, [](const std::string&, const std::string&, const std::string&) {
    return std::string();
  }));
  EXPECT_FALSE(SaveReportAsAsked(*exception, nullptr));
}

TEST(ZebDispatch, OnlyAnAbsoluteBugReportFileLeavesTheSaveNothingToChoose) {
  struct Case {
    const char* name;
    bool fixed;
  } cases[] = {{"bugreport.txt", false}, {"reports/bugreport.txt", false}, {"/var/tmp/bugreport.txt", true},
               {"C:\\bugreport.txt", true},  {"\\\\server\\bugreport.txt", true}, {"/a", false}};
  auto exception = NewExceptionObject(ExceptionFacts{});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    exception->SetBugRepFile(c.name);
    EXPECT_EQ(SaveTargetIsFixed(*exception), c.fixed);
  }
}

}  // namespace

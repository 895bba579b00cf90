// Firing the handlers: phases, the handled flag (which only the early phases
// may set), the order of method and procedure handlers, action handlers, and
// handlers that ask for the main thread: they run there when it answers,
// run on the firing thread (sync mode 2) or not at all (mode 1) when it does
// not, and never wait for a frozen main thread.

#include "crashreport/zebHandlers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/zebTools.h"
#include "platform/Threads.h"
#include "tests/support/Waiting.h"

using namespace zeb;

namespace {

struct Call {
  std::string who;
  pid_t thread;
};
std::vector<Call>* calls = nullptr;
std::mutex callsLock;

void Note(const std::string& who) {
  std::lock_guard lock(callsLock);
  calls->push_back({who, platform::CurrentThreadId()});
}

void FirstProc(IZeqException&, bool& handled) {
  Note("first proc");
  handled = true;
}
void SecondProc(IZeqException&, bool&) { Note("second proc"); }
void Method(void* object, IZeqException&, bool& handled) {
  Note(*static_cast<std::string*>(object));
  if (*static_cast<std::string*>(object) == "handling method") handled = true;
}
void ActionProc(std::uint8_t action, IZeqException&, bool& handled) {
  Note("action " + std::to_string(action));
  handled = true;
}
void LaterActionProc(std::uint8_t action, IZeqException&, bool&) { Note("later action " + std::to_string(action)); }

class ZebHandlers : public ::testing::Test {
protected:
  void SetUp() override {
    calls = &calls_;
    ExceptionFacts facts;
    facts.exception = std::make_exception_ptr(std::runtime_error("boom"));
    exception_ = NewExceptionObject(std::move(facts));
  }
  void TearDown() override {
    ClearHandlers();
    calls = nullptr;
  }
  std::vector<std::string> Who() {
    std::lock_guard lock(callsLock);
    std::vector<std::string> names;
    for (const Call& c : calls_) names.push_back(c.who);
    return names;
  }
  bool Fire(std::uint8_t phase, HandlerKind kind = HandlerKind::Exception, std::uint8_t action = 0) {
    exception_->SetPhase(phase);
    bool handled = false;
    FireEvent(kind, action, handled, *exception_);
    return handled;
  }
  // Fires phase 1 on a thread of its own while this thread, the main
  // thread, runs its loop (or not); the firing thread's id.
  pid_t FireFromAnotherThread(bool mainLoopRuns) {
    MainThreadDispatcher::Instance().SetMainThread();
    std::atomic<bool> fired{false};
    pid_t firingThread = 0;
    std::thread firing([&] {
      firingThread = platform::CurrentThreadId();
      Fire(1);
      fired = true;
    });
    if (mainLoopRuns) {
      EXPECT_TRUE(testsupport::waitUntil([&] {
        MainThreadDispatcher::Instance().RunPendingCalls();
        return fired.load();
      }));
    }
    firing.join();
    MainThreadDispatcher::Instance().RunPendingCalls();  // a ping that found nobody
    return firingThread;
  }
  std::vector<Call> calls_;
  std::shared_ptr<TIZeqException> exception_;
};

TEST_F(ZebHandlers, WithNoHandlerNothingRunsAndTheExceptionStaysUnhandled) {
  EXPECT_FALSE(Fire(1));
  EXPECT_FALSE(Fire(1, HandlerKind::Action, ActionClose));
  EXPECT_TRUE(Who().empty());
}

TEST_F(ZebHandlers, HandlersRunInTheirPhaseMethodsFirstAndStopOnceHandled) {
  std::string handling = "handling method", passive = "passive method";
  RegisterExceptionHandler(&Method, &passive, 0, 1);
  RegisterExceptionHandler(&Method, &handling, 0, 1);
  RegisterExceptionHandler(&SecondProc, 0, 1);
  RegisterExceptionHandler(&FirstProc, 0, 2);
  EXPECT_TRUE(Fire(1));
  EXPECT_EQ(Who(), (std::vector<std::string>{"passive method", "handling method"}));
  calls_.clear();
  EXPECT_TRUE(Fire(2));
  EXPECT_EQ(Who(), (std::vector<std::string>{"first proc"}));
}

TEST_F(ZebHandlers, FromPhaseThreeOnAHandlerCannotMarkTheExceptionHandled) {
  RegisterExceptionHandler(&FirstProc, 0, 3);
  RegisterExceptionHandler(&SecondProc, 0, 3);
  EXPECT_FALSE(Fire(3));
  EXPECT_EQ(Who(), (std::vector<std::string>{"first proc", "second proc"}));
}

TEST_F(ZebHandlers, ActionHandlersStopAtTheFirstThatTakesTheAction) {
  RegisterActionHandler(&ActionProc, 0);
  RegisterActionHandler(&LaterActionProc, 0);
  EXPECT_TRUE(Fire(3, HandlerKind::Action, ActionSend));
  EXPECT_EQ(Who(), (std::vector<std::string>{"action 0"}));
}

TEST_F(ZebHandlers, AnExceptionWhoseHandlersAreOffFiresNothing) {
  RegisterExceptionHandler(&FirstProc, 0, 1);
  exception_->SetCallHandlers(false);
  EXPECT_FALSE(Fire(1));
  EXPECT_TRUE(Who().empty());
}

TEST_F(ZebHandlers, SynchronisedHandlersRunOnTheMainThreadWhenItAnswers) {
  RegisterExceptionHandler(&SecondProc, 1, 1);
  FireFromAnotherThread(true);
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].thread, platform::CurrentThreadId());
}

TEST_F(ZebHandlers, WithoutAnAnswerOnlyHandlersThatAllowItRunOnTheFiringThread) {
  std::string mainOnly = "main only", either = "either";
  RegisterExceptionHandler(&Method, &mainOnly, 1, 1);
  RegisterExceptionHandler(&Method, &either, 2, 1);
  const pid_t firingThread = FireFromAnotherThread(false);
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].who, "either");
  EXPECT_EQ(calls_[0].thread, firingThread);
}

TEST_F(ZebHandlers, AFrozenMainThreadIsNeverAskedToRunHandlers) {
  ExceptionFacts facts;
  facts.kind = ExceptionKind::Frozen;
  exception_ = NewExceptionObject(std::move(facts));
  std::string either = "either";
  RegisterExceptionHandler(&Method, &either, 2, 1);
  // Even with the main loop running, the handler stays on the firing thread.
  const pid_t firingThread = FireFromAnotherThread(true);
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].thread, firingThread);
}

}  // namespace

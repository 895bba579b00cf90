#include "platform/Threads.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/Waiting.h"

namespace {

using platform::CurrentThreadId;

// A thread that runs until released, so that its id stays valid.
class ParkedThread {
public:
  ParkedThread() {
    thread_ = std::thread([this] {
      id_ = CurrentThreadId();
      std::unique_lock lock(mutex_);
      released_.wait(lock, [this] { return release_; });
    });
    EXPECT_TRUE(testsupport::waitUntil([this] { return id_.load() != 0; }));
  }
  ~ParkedThread() { Finish(); }
  void Finish() {
    {
      std::lock_guard lock(mutex_);
      release_ = true;
    }
    released_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  pid_t Id() const { return id_; }

private:
  std::atomic<pid_t> id_{0};
  std::mutex mutex_;
  std::condition_variable released_;
  bool release_ = false;
  std::thread thread_;
};

std::string Hex(pid_t id) {
  char text[24];
  std::snprintf(text, sizeof text, "$%x", unsigned(id));
  return text;
}

TEST(ThreadRegistry, TitlesNameTheThreadItsClassOrOnlyItsId) {
  ParkedThread named, classed, plain;
  platform::RegisterThread(named.Id(), "main thread");
  platform::RegisterThread(classed.Id(), "", CurrentThreadId(), 0x401000, "TRegMonitorThread");
  EXPECT_EQ(platform::ThreadTitle(named.Id()), "main thread (" + Hex(named.Id()) + ")");
  EXPECT_EQ(platform::ThreadTitle(classed.Id()), "thread " + Hex(classed.Id()) + " (TRegMonitorThread)");
  EXPECT_EQ(platform::ThreadTitle(plain.Id()), "thread " + Hex(plain.Id()));
  platform::UnregisterThread(named.Id());
  platform::UnregisterThread(classed.Id());
}

TEST(ThreadRegistry, TheReportersOwnThreadsHaveATitleOnlyWhenForced) {
  ParkedThread reporter;
  platform::RegisterThread(reporter.Id(), "-");
  EXPECT_EQ(platform::ThreadTitle(reporter.Id()), "");
  EXPECT_EQ(platform::ThreadTitle(reporter.Id(), true), "thread " + Hex(reporter.Id()));
  platform::UnregisterThread(reporter.Id());
}

TEST(ThreadRegistry, RenamingKeepsTheCreatorAndTheClass) {
  ParkedThread thread;
  platform::RegisterThread(thread.Id(), "", 4242, 0x401234, "TWorker");
  platform::SetThreadName(thread.Id(), "renamed");
  const auto entry = platform::FindThread(thread.Id());
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->name, "renamed");
  EXPECT_EQ(entry->className, "TWorker");
  EXPECT_EQ(entry->creatorThreadId, 4242);
  EXPECT_EQ(entry->creatorAddress, 0x401234u);
  std::uintptr_t creator = 0;
  pid_t creatorThread = 0;
  EXPECT_EQ(platform::ThreadTitle(thread.Id(), false, &creator, &creatorThread), "renamed (" + Hex(thread.Id()) + ")");
  EXPECT_EQ(creator, 0x401234u);
  EXPECT_EQ(creatorThread, 4242);
  platform::UnregisterThread(thread.Id());
  EXPECT_FALSE(platform::FindThread(thread.Id()));
}

TEST(ThreadRegistry, AThreadThatHasEndedIsNotRegisteredAndItsEntryGoesAtTheNextRegistration) {
  pid_t ended = 0;
  {
    ParkedThread thread;
    ended = thread.Id();
    platform::RegisterThread(ended, "short-lived");
    ASSERT_TRUE(platform::FindThread(ended));
  }
  ParkedThread other;
  platform::RegisterThread(other.Id(), "other");
  EXPECT_FALSE(platform::FindThread(ended));
  platform::RegisterThread(ended, "too late");
  EXPECT_FALSE(platform::FindThread(ended));
  platform::UnregisterThread(other.Id());
}

TEST(ThreadRegistry, TheSystemKeepsTheCallingThreadsNameCutTo15Bytes) {
  std::string comm;
  std::thread([&] {
    platform::SetThreadName(CurrentThreadId(), "a rather long thread name");
    std::ifstream in("/proc/thread-self/comm");
    std::getline(in, comm);
    platform::UnregisterThread(CurrentThreadId());
  }).join();
  EXPECT_EQ(comm, "a rather long t");
}

TEST(ThreadRegistry, TheProcessListHoldsEveryRunningThread) {
  ParkedThread thread;
  const std::vector<pid_t> ids = platform::ListProcessThreads();
  EXPECT_NE(std::find(ids.begin(), ids.end(), CurrentThreadId()), ids.end());
  EXPECT_NE(std::find(ids.begin(), ids.end(), thread.Id()), ids.end());
}

// What the hooks saw; one test at a time installs them.
struct HookLog {
  std::mutex lock;
  int started = 0, ending = 0;
  std::vector<std::pair<std::uint8_t, std::string>> failures;
};
HookLog* hookLog = nullptr;

const platform::ThreadHooks kRecordingHooks{
    [] {
      std::lock_guard lock(hookLog->lock);
      ++hookLog->started;
    },
    [] {
      std::lock_guard lock(hookLog->lock);
      ++hookLog->ending;
    },
    [](const std::exception_ptr& exception, std::uint8_t source, std::string_view className) {
      std::string what;
      try {
        std::rethrow_exception(exception);
      } catch (const std::exception& e) {
        what = e.what();
      }
      std::lock_guard lock(hookLog->lock);
      hookLog->failures.emplace_back(source, std::string(className) + ":" + what);
      return true;
    }};

class StartThreadTest : public ::testing::Test {
protected:
  void SetUp() override {
    hookLog = &log_;
    platform::SetThreadHooks(&kRecordingHooks);
  }
  void TearDown() override {
    platform::SetThreadHooks(nullptr);
    hookLog = nullptr;
  }
  HookLog log_;
};

TEST_F(StartThreadTest, TheThreadIsRegisteredWithItsCreatorWhileItRuns) {
  std::optional<platform::ThreadEntry> seen;
  pid_t id = 0;
  std::thread t = platform::StartThread("worker", "TWorker", [&] {
    id = CurrentThreadId();
    seen = platform::FindThread(id);
  });
  t.join();
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->name, "worker");
  EXPECT_EQ(seen->className, "TWorker");
  EXPECT_EQ(seen->creatorThreadId, CurrentThreadId());
  EXPECT_NE(seen->creatorAddress, 0u);
  EXPECT_FALSE(platform::FindThread(id));
  EXPECT_EQ(log_.started, 1);
  EXPECT_EQ(log_.ending, 1);
  EXPECT_TRUE(log_.failures.empty());
}

TEST_F(StartThreadTest, AnEscapingExceptionGoesToTheReporterWithTheSourceOfItsKind) {
  platform::StartThread("plain", "", [] { throw std::runtime_error("plain failure"); }).join();
  platform::StartThread("", "TWorker", [] { throw std::logic_error("method failure"); }).join();
  platform::StartThread("quiet", "", [] { throw platform::SilentAbort(); }).join();
  ASSERT_EQ(log_.failures.size(), 2u);
  EXPECT_EQ(log_.failures[0], std::make_pair(std::uint8_t(16), std::string(":plain failure")));
  EXPECT_EQ(log_.failures[1], std::make_pair(std::uint8_t(17), std::string("TWorker:method failure")));
  EXPECT_EQ(log_.ending, 3);
}

TEST(StartThread, WithoutTheReporterAnEscapingExceptionEndsOnlyTheThread) {
  // An exception escaping a plain thread would end this test program.
  std::atomic<bool> ran{false};
  platform::StartThread("alone", "", [&] {
    ran = true;
    throw std::runtime_error("nobody listens");
  }).join();
  EXPECT_TRUE(ran);
}

}  // namespace

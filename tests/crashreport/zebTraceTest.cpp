// The whole-process report on request, asked of this test process itself:
// through the caller's function and through the hivescope-trace tool, into
// shared memory of several sizes and onto the clipboard.
//
// The shared memory and the semaphore have fixed names, so every request
// stands in this one test (one process) and none runs beside another.

#include "crashreport/zebTrace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "crashreport/zebExcept.h"
#include "crashreport/zebTools.h"
#include "tests/support/Files.h"
#include "tests/support/Waiting.h"

using namespace zeb;

TEST(zebTrace, RequestsAreAnsweredIntoSharedMemoryOrClipboard) {
  std::string current;
  std::mutex lock;
  SetTraceReportMaker([&] {
    std::lock_guard guard(lock);
    return current;
  });
  auto setReport = [&](std::string text) {
    std::lock_guard guard(lock);
    current = std::move(text);
  };
  ASSERT_TRUE(InstallTraceSignal());
  ASSERT_TRUE(InstallTraceSignal());  // a second install changes nothing

  std::string longReport;
  for (int i = 0; longReport.size() < 10000; ++i) longReport += "thread " + std::to_string(i) + "\r\n";
  setReport(longReport);
  struct Case {
    int mapSize;
    std::string report;
    std::string expected;
  } cases[] = {
      {4096, longReport, longReport.substr(0, 4095)},
      {1, longReport, ""},
      {100, longReport.substr(0, 100), longReport.substr(0, 99)},
      {4096, "short", "short"},
      {4096, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mapSize) + " " + std::to_string(c.report.size()));
    setReport(c.report);
    std::string report, error;
    ASSERT_TRUE(RequestProcessTrace(::getpid(), c.mapSize, 60, report, error)) << error;
    EXPECT_EQ(report, c.expected);
  }

#ifdef HIVESCOPE_TRACE_TOOL
  setReport(longReport);
  int status = -1;
  const std::string printed = testsupport::commandOutput(
      std::string(HIVESCOPE_TRACE_TOOL) + " " + std::to_string(::getpid()) + " 4096", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(printed, longReport.substr(0, 4095));
#endif

  // Size 0: the clipboard, through the main thread when it answers.
  std::string clipboard;
  SetClipboardSink([&](const std::string& text) { clipboard = text; });
  MainThreadDispatcher& dispatcher = MainThreadDispatcher::Instance();
  dispatcher.SetMainThread();
  setReport("on the clipboard");
  std::atomic<bool> answered{false};
  std::thread caller([&] {
    std::string report, error;
    EXPECT_TRUE(RequestProcessTrace(::getpid(), 0, 60, report, error)) << error;
    answered = true;
  });
  EXPECT_TRUE(testsupport::waitUntil([&] {
    dispatcher.RunPendingCalls();
    return answered.load();
  }));
  caller.join();
  EXPECT_EQ(clipboard, "on the clipboard");

  // A main thread that does not answer leaves the clipboard alone, and the
  // caller still gets its answer.
  clipboard.clear();
  std::string report, error;
  EXPECT_TRUE(RequestProcessTrace(::getpid(), 0, 60, report, error)) << error;
  dispatcher.RunPendingCalls();
  EXPECT_EQ(clipboard, "");
  SetClipboardSink(nullptr);

  // Nobody there to ask.
  RemoveTraceSignal();
  EXPECT_FALSE(RequestProcessTrace(0x7FFFFFF0, 16, 1, report, error));
  EXPECT_FALSE(error.empty());
  SetTraceReportMaker(nullptr);
}

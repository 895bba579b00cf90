#pragma once

// The bug report of an exception object: the header composed at once on the
// handling thread, the sections first as placeholders and then filled by the
// completion (on a thread of its own when the handling thread asks), which
// walks the call stacks of the threads and runs the plug-ins.
//
// What the composition needs of the rest of the crash reporter (the threads
// and their registers, their titles, the stack recorded at a throw, the
// plug-ins) comes in ReportSources, so the interception can hand in what it
// captured and tests can hand in threads whose stacks they know.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "crashreport/zebExceptObject.h"
#include "crashreport/zebPlugins.h"
#include "crashreport/zebStackTrace.h"

namespace zeb {

// One thread as the report sees it. Without registers its stack cannot be
// walked (the thread could not be stopped, or it blocks the signal that
// takes its snapshot) and its section says so.
struct ThreadSnapshot {
  pid_t tid = 0;
  std::optional<TThreadRegisters> registers;
  int priority = 0;        // nice value; shown when not 0
  bool suspended = false;  // stopped by the reporter or a debugger
  std::uint64_t creatorAddress = 0;
  pid_t creatorThread = 0;
};

struct ReportSources {
  pid_t mainThread = 0;      // 0: the process id
  pid_t handlingThread = 0;  // left out of the thread sections
  pid_t watchdogThread = 0;  // likewise
  // The threads of the process in the system's order; empty: /proc/self/task
  // without registers.
  std::function<std::vector<ThreadSnapshot>()> threads;
  // "main thread ($1a2b)", "worker ($1a2c)", "thread $1a2d"; empty leaves the
  // thread out unless forced.
  std::function<std::string(pid_t tid, bool force)> threadTitle;
  // The return addresses recorded where the exception was thrown, youngest
  // first; used when the exception carries no processor context.
  std::vector<std::uint64_t> preparedStack;
  // The registered plug-ins; empty: the three standard ones.
  std::function<std::vector<ReportPlugin>()> plugins;
  // Takes the registers of a thread the snapshot left without them and holds
  // the thread until the next capture or releaseThreads: its stack is walked
  // at once. None when the thread does not answer.
  std::function<std::optional<TThreadRegisters>(pid_t tid)> captureRegisters;
  std::function<void()> releaseThreads;
};

// The sources the running crash reporter offers: its thread registry and
// titles, registers taken by its capture signal, the stack recorded where
// the exception was thrown. With `keepReporterThreads` (the whole-process
// trace) the reporter's own threads stay in the report, titled.
ReportSources RunningReporterSources(TIZeqException& exception, bool keepReporterThreads = false);
// Makes the running reporter compose full reports (on its completion
// thread) and save them into the bug-report file when AutoSave is on; the
// debug information also names the functions of its listings.
void InstallReportComposer();

// The title a thread gets without a registry: "main thread ($id)" for the
// main thread, its name and id when it has one of its own, else "thread $id".
std::string DefaultThreadTitle(pid_t tid, bool force);
// The threads of /proc/self/task, without registers.
std::vector<ThreadSnapshot> ProcessThreads();

// Composes the header when report creation is on and the header is empty.
void ComposeReportHeader(TIZeqException& exception, const ReportSources& sources);
// Creates the placeholder sections when report creation is on and the
// section list is empty, then completes them: on a thread of its own when
// onOwnThread, else at once. Completing at once from a completion thread the
// caller runs, abort is that thread's flag and the caller marks the report
// complete; without one the report is marked complete here. Returns false
// when nothing was to be done.
bool CreateReportSections(TIZeqException& exception, const ReportSources& sources, bool onOwnThread,
                          const std::atomic<bool>* abort = nullptr);
// Both, as the handling thread (or a completion thread) calls them.
void ComposeReport(TIZeqException& exception, const ReportSources& sources, bool completeOnOwnThread = true,
                   const std::atomic<bool>* abort = nullptr);

// The section texts of a processor context.
std::string CpuRegistersText(const ucontext_t& context);
// From rsp upward, 16 bytes a line, at most 20 lines, never past the end of
// the mapping that holds rsp.
std::string StackDumpText(const ucontext_t& context);
std::string StackDumpOf(std::uint64_t stackPointer, std::uint64_t regionEnd);
// The dump of bytes copied earlier from address up (at most the 20 lines).
constexpr std::size_t kStackDumpLines = 20;
std::string StackDumpLines(std::uint64_t address, std::span<const std::uint8_t> bytes);

// The process-wide count of composed headers.
std::uint64_t ExceptionCount();

}  // namespace zeb

#pragma once

// The whole-process report on request: an outside tool asks a running (maybe
// hanging) program for a report of all its threads without an exception.
//
// The tool creates the POSIX shared memory kTraceMapName (at least mapSize
// bytes) and the semaphore kTraceDoneName, then queues the signal
// TraceSignal() to the program with mapSize as its value. The program's trace
// thread makes the report, writes it cut to mapSize - 1 bytes plus a NUL into
// the shared memory, and posts the semaphore. A mapSize below 1 puts the
// report on the clipboard instead.

#include <sys/types.h>

#include <functional>
#include <string>

namespace zeb {

inline constexpr const char* kTraceMapName = "/zebTraceProcessMap";
inline constexpr const char* kTraceDoneName = "/zebTraceProcessDone";
// The request is this real-time signal above SIGRTMIN.
inline constexpr int kTraceSignalOffset = 11;
int TraceSignal();

// The report of the whole process: an exception object of the frozen kind
// for the calling thread, listing every thread, without the please-wait box.
std::string TraceProcessReport();

// Whether a whole-process report is being made: its composition then keeps
// the crash reporter's own threads in the thread list.
bool TraceInProgress();

// Replaces how the report is made (null: TraceProcessReport).
void SetTraceReportMaker(std::function<std::string()> maker);

// What one request does, on the calling thread: makes the report and delivers
// it into the shared memory or to the clipboard, then posts the semaphore.
// Always 0.
int zebTraceProcess(int mapSize);

// Starts the trace thread and installs the signal's handler; true when both
// stand (also when they already did).
bool InstallTraceSignal();
// Removes the handler and ends the trace thread.
void RemoveTraceSignal();

// The tool's side: asks process `pid` for its report and waits for it at
// most `timeoutSeconds`. With mapSize >= 1 the report (up to its NUL) goes to
// `report`; below 1 the program puts it on its clipboard. False with a reason
// in `error` when the request could not be made or was not answered.
bool RequestProcessTrace(pid_t pid, int mapSize, int timeoutSeconds, std::string& report, std::string& error);

}  // namespace zeb

#pragma once

// The fatal signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT) on
// an alternate stack, so that a stack overflow can be reported too. The
// handler only records the fault, hands it to the handling thread through
// its pipe and waits: it is async-signal-safe.

#include <sys/types.h>
#include <ucontext.h>

#include <chrono>

namespace zeb {

// Installs the handlers (once); false when one could not be installed.
bool InstallSignalHandlers();
// Gives the default actions back.
void RemoveSignalHandlers();

// The calling thread's alternate signal stack, and the bounds of its own
// stack that tell a stack overflow from another fault. Every thread the
// reporter watches calls the first at its start and the second at its end.
void InstallAlternateStack();
void RemoveAlternateStack();

// The registers of another thread of this process, taken by a real-time
// signal whose handler stores them and holds the thread until the next
// capture or ReleaseCapturedThreads (at most 30 s). False when the thread
// did not answer within `limit` (it has no handler, or is blocked in one).
bool CaptureThreadContext(pid_t threadId, ucontext_t& context,
                          std::chrono::milliseconds limit = std::chrono::seconds(2));
void ReleaseCapturedThreads();

}  // namespace zeb

#pragma once

// The crash reporter's start-up and shut-down. Nothing in the program calls
// the reporter: it starts itself while the program is loaded, before the
// constructors of the program's own globals, and stops after them. Only a
// program whose main calls LinkCrashReporter() has it (the unit that starts
// it, and the hook that records where each C++ exception is thrown, link in
// only then): the test programs that use the toolkit go without.

#include <cstdint>

namespace zeb {

// Does nothing; calling it links the start-up in.
void LinkCrashReporter();

// Reads the program's settings and, when they are on, installs the signal
// handlers, the terminate handler, the thread hooks, the handling thread and
// (with CheckFreeze) the freeze watchdog. Runs once; the load of the program
// calls it. A program file whose stamped checksum no longer matches writes
// BitFaultMsg to standard error and ends with exit code 0.
void StartCrashReporter();
void StopCrashReporter();

// Milliseconds of a steady clock when the reporter started.
std::uint64_t StartTime();

}  // namespace zeb

#pragma once

// The hook on every C++ throw of the program (it replaces the run-time's
// __cxa_throw and goes on with it): the thrown object, the throw address,
// up to 64 return addresses, the throwing function's registers and the top of
// its stack are kept for the throwing thread (CurrentRaiseRecord), so that
// the report of an exception caught further up shows where it was thrown and
// what the processor held there. A program that links this unit has the hook.

namespace zeb {

// Does nothing; calling it links the hook in.
void LinkRaiseHook();

}  // namespace zeb

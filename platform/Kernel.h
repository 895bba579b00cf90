#pragma once

// Kernel objects of our own in place of the Windows ones the program uses:
// events (the key monitor waits on one), handle closing, and the WOW64 probe.
// Handles are process-local numbers; a named event is shared by every handle
// of this process that opens the same name.

#include "platform/WinTypes.h"

namespace platform {

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// Events. A manual-reset event stays signalled until ResetEvent; an
// auto-reset one is reset by the wait that sees it. Creating an event whose
// name exists gives a new handle to the existing event and sets the last
// error to ERROR_ALREADY_EXISTS (the other arguments are then ignored).
// Null on failure (last error set).
HANDLE CreateEventA(const SECURITY_ATTRIBUTES* attributes, bool manualReset, bool initialState, LPCSTR name);
HANDLE CreateEventW(const SECURITY_ATTRIBUTES* attributes, bool manualReset, bool initialState, LPCWSTR name);
bool SetEvent(HANDLE event);
bool ResetEvent(HANDLE event);
// WAIT_OBJECT_0 when signalled, WAIT_TIMEOUT after `milliseconds`,
// WAIT_FAILED for a handle that is not an event.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Closes an event, a token or a native key handle. False for an unknown handle.
bool CloseHandle(HANDLE handle);

// The pseudo handle of the current process (never needs closing).
HANDLE GetCurrentProcess();

// Whether the process runs as a 32-bit program on a 64-bit system. This
// program presents itself so by default (the 32-bit registry view is its
// default view); setWow64ForTests makes it a native 64-bit process.
bool IsWow64Process(HANDLE process, bool* wow64);
void setWow64ForTests(bool wow64);

}  // namespace platform

#pragma once

// The process token and its privileges, and the user's SID.
//
// The process runs with an administrator's token that holds the backup and
// restore privileges, disabled, as an elevated Windows process does. Loading
// and unloading hives needs SeRestorePrivilege enabled first (the registry
// answers ERROR_PRIVILEGE_NOT_HELD otherwise). Enabling works.

#include <string>

#include "platform/WinTypes.h"

namespace platform {

struct LUID {
  DWORD LowPart = 0;
  LONG HighPart = 0;
  friend constexpr bool operator==(LUID, LUID) = default;
};

struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes = 0;
};

// Like Windows' record: a count followed by that many entries. Callers that
// pass more than one entry allocate sizeof(DWORD) + n * sizeof(LUID_AND_ATTRIBUTES)
// bytes (rounded up) and cast; the record is never read past PrivilegeCount
// or the given buffer length.
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount = 0;
  LUID_AND_ATTRIBUTES Privileges[1];
};

inline constexpr DWORD SE_PRIVILEGE_ENABLED_BY_DEFAULT = 0x00000001;
inline constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
inline constexpr DWORD SE_PRIVILEGE_REMOVED = 0x00000004;

inline constexpr DWORD TOKEN_QUERY = 0x0008;
inline constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;

inline constexpr const char* SE_BACKUP_NAME = "SeBackupPrivilege";
inline constexpr const char* SE_RESTORE_NAME = "SeRestorePrivilege";

// Opens the token of a process (only GetCurrentProcess() is known). Close it
// with CloseHandle. False with the last error set on failure.
bool OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token);

// The local identifier of a privilege by name ("SeRestorePrivilege"...);
// systemName must be null or empty (this computer). ERROR_NO_SUCH_PRIVILEGE
// for a name the system does not know.
bool LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, LUID* luid);
bool LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, LUID* luid);

// Enables or disables the listed privileges. As on Windows, success with the
// last error ERROR_NOT_ALL_ASSIGNED when the token does not hold one of them,
// else success with ERROR_SUCCESS. The previous state of the changed
// privileges goes to previousState when given (returnLength receives the
// bytes needed; ERROR_INSUFFICIENT_BUFFER when bufferLength is too small and
// nothing is changed). The token needs TOKEN_ADJUST_PRIVILEGES.
bool AdjustTokenPrivileges(HANDLE token, bool disableAllPrivileges, const TOKEN_PRIVILEGES* newState,
                           DWORD bufferLength, TOKEN_PRIVILEGES* previousState, DWORD* returnLength);

// Whether the current process has the privilege enabled right now (what the
// registry checks before loading a hive).
bool processPrivilegeEnabled(LPCSTR name);
// For tests: puts the process token back in its starting state (backup and
// restore privileges held and disabled).
void resetProcessTokenForTests();

// The SID of the user running the program, "S-1-5-21-a-b-c-rid": the three
// sub-authorities come from the machine id, the RID from the Unix user id
// (1000 + uid), so it is stable per machine and user.
std::string currentUserSid();

}  // namespace platform

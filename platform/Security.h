#pragma once

// The process token and its privileges, the user's SID, account names and
// the text forms of SIDs and descriptors.
//
// The process runs with an elevated administrator's token: the user, then
// the groups Everyone, Authenticated Users, Users and Administrators; new
// objects are owned by Administrators. It holds the backup and restore
// privileges, disabled, and not the security privilege (so SACLs stay out of
// reach). Loading and unloading hives needs SeRestorePrivilege enabled first
// (the registry answers ERROR_PRIVILEGE_NOT_HELD otherwise); with
// SeBackupPrivilege enabled every key opens for reading, whatever its DACL.

#include <string>
#include <vector>

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
inline constexpr const char* SE_SECURITY_NAME = "SeSecurityPrivilege";

using PSID = void*;
using HLOCAL = void*;

enum SID_NAME_USE : DWORD {
  SidTypeUser = 1,
  SidTypeGroup,
  SidTypeDomain,
  SidTypeAlias,
  SidTypeWellKnownGroup,
  SidTypeDeletedAccount,
  SidTypeInvalid,
  SidTypeUnknown,
  SidTypeComputer,
  SidTypeLabel,
};

inline constexpr DWORD SDDL_REVISION_1 = 1;

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
// This machine's account domain, "S-1-5-21-a-b-c", and its name: the host
// name up to the first ".", upper-cased.
std::string machineDomainSid();
std::string machineName();

// The token's SIDs as bytes: the user first, then its groups.
std::vector<std::vector<std::uint8_t>> tokenSids();
// Owner and primary group of what the token creates (Administrators; the
// domain's "None" group), and the DACL given where nothing is inherited.
std::vector<std::uint8_t> tokenOwnerSid();
std::vector<std::uint8_t> tokenPrimaryGroupSid();

// Frees what the calls below allocate. Null on success, as on Windows.
HLOCAL LocalFree(HLOCAL memory);

// SDDL revision 1 both ways; the buffers are the caller's to LocalFree.
// Failure: ERROR_UNKNOWN_REVISION for another revision,
// ERROR_INVALID_PARAMETER for bad arguments or text, ERROR_INVALID_SID and
// ERROR_INVALID_ACL for a bad account or entry.
bool ConvertSecurityDescriptorToStringSecurityDescriptorA(PSECURITY_DESCRIPTOR descriptor, DWORD revision,
                                                          SECURITY_INFORMATION info, LPSTR* text, ULONG* textLength);
bool ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor, ULONG* size);
// "S-1-..." (never an alias) and back (an alias too). ERROR_INVALID_SID for
// a malformed SID or text.
bool ConvertSidToStringSidA(PSID sid, LPSTR* text);
bool ConvertStringSidToSidA(LPCSTR text, PSID* sid);
// The bytes a binary SID takes, 0 when it is not one.
DWORD GetLengthSid(PSID sid);

// Account names: Windows' well-known accounts and groups, this machine's
// domain and its users (the Unix users, by the rule of currentUserSid()).
// systemName must be null, empty or this machine's name (else
// ERROR_NONE_MAPPED). Sizes count characters or bytes; too small a buffer
// gives ERROR_INSUFFICIENT_BUFFER with the sizes needed (text sizes with
// their NUL). ERROR_NONE_MAPPED for a SID or name of nobody here.
bool LookupAccountSidA(LPCSTR systemName, PSID sid, LPSTR name, DWORD* nameSize, LPSTR domain, DWORD* domainSize,
                       SID_NAME_USE* use);
// name may be "DOMAIN\name".
bool LookupAccountNameA(LPCSTR systemName, LPCSTR name, PSID sid, DWORD* sidSize, LPSTR domain, DWORD* domainSize,
                        SID_NAME_USE* use);

}  // namespace platform

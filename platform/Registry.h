#pragma once

// The Win32-shaped registry calls, over our own registry store (hive files on
// disk; see RegistryStore.h). Names, arguments, error codes and sizes are
// Windows': each call returns a Win32 error code (ERROR_SUCCESS = 0).
//
// "A" calls take and give 8-bit text in the active code page (platform/Text.h);
// "W" calls UTF-16. Names are NUL-terminated here; names holding NUL
// characters are reachable through the native calls (NtRegistry.h) only.
//
// Sizes: cb... are bytes, cch... are characters (UTF-16 units for "W",
// bytes of the 8-bit text for "A"), as on Windows.
//
// Thread-safe: the store serialises the calls.

#include <string>

#include "platform/Kernel.h"
#include "platform/WinTypes.h"

namespace platform {

// ---- predefined roots
inline constexpr HKEY HKEY_CLASSES_ROOT{std::uintptr_t(0x80000000u)};
inline constexpr HKEY HKEY_CURRENT_USER{std::uintptr_t(0x80000001u)};
inline constexpr HKEY HKEY_LOCAL_MACHINE{std::uintptr_t(0x80000002u)};
inline constexpr HKEY HKEY_USERS{std::uintptr_t(0x80000003u)};
inline constexpr HKEY HKEY_PERFORMANCE_DATA{std::uintptr_t(0x80000004u)};
inline constexpr HKEY HKEY_CURRENT_CONFIG{std::uintptr_t(0x80000005u)};
inline constexpr HKEY HKEY_DYN_DATA{std::uintptr_t(0x80000006u)};

// ---- access rights (REGSAM)
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM KEY_WOW64_RES = 0x0300;

inline constexpr ACCESS_MASK DELETE = 0x00010000;
inline constexpr ACCESS_MASK READ_CONTROL = 0x00020000;
inline constexpr ACCESS_MASK WRITE_DAC = 0x00040000;
inline constexpr ACCESS_MASK WRITE_OWNER = 0x00080000;
inline constexpr ACCESS_MASK SYNCHRONIZE = 0x00100000;
inline constexpr ACCESS_MASK STANDARD_RIGHTS_REQUIRED = 0x000F0000;
inline constexpr ACCESS_MASK STANDARD_RIGHTS_READ = READ_CONTROL;
inline constexpr ACCESS_MASK STANDARD_RIGHTS_WRITE = READ_CONTROL;
inline constexpr ACCESS_MASK STANDARD_RIGHTS_ALL = 0x001F0000;
inline constexpr ACCESS_MASK ACCESS_SYSTEM_SECURITY = 0x01000000;
inline constexpr ACCESS_MASK MAXIMUM_ALLOWED = 0x02000000;
inline constexpr ACCESS_MASK GENERIC_ALL = 0x10000000;
inline constexpr ACCESS_MASK GENERIC_EXECUTE = 0x20000000;
inline constexpr ACCESS_MASK GENERIC_WRITE = 0x40000000;
inline constexpr ACCESS_MASK GENERIC_READ = 0x80000000;

inline constexpr REGSAM KEY_READ = 0x00020019;     // READ_CONTROL | QUERY_VALUE | ENUMERATE_SUB_KEYS | NOTIFY
inline constexpr REGSAM KEY_EXECUTE = KEY_READ;
inline constexpr REGSAM KEY_WRITE = 0x00020006;    // READ_CONTROL | SET_VALUE | CREATE_SUB_KEY
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

// ---- value types
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_RESOURCE_LIST = 8;
inline constexpr DWORD REG_FULL_RESOURCE_DESCRIPTOR = 9;
inline constexpr DWORD REG_RESOURCE_REQUIREMENTS_LIST = 10;
inline constexpr DWORD REG_QWORD = 11;
inline constexpr DWORD REG_QWORD_LITTLE_ENDIAN = 11;

// ---- RegCreateKeyEx options and dispositions
inline constexpr DWORD REG_OPTION_RESERVED = 0x0000;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0000;
inline constexpr DWORD REG_OPTION_VOLATILE = 0x0001;       // kept in memory, never written to the hive file
inline constexpr DWORD REG_OPTION_CREATE_LINK = 0x0002;
inline constexpr DWORD REG_OPTION_BACKUP_RESTORE = 0x0004;
inline constexpr DWORD REG_OPTION_OPEN_LINK = 0x0008;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// ---- change notification filter
inline constexpr DWORD REG_NOTIFY_CHANGE_NAME = 0x1;        // sub-key added or deleted
inline constexpr DWORD REG_NOTIFY_CHANGE_ATTRIBUTES = 0x2;  // key attributes (class, flags)
inline constexpr DWORD REG_NOTIFY_CHANGE_LAST_SET = 0x4;    // a value set, added or deleted
inline constexpr DWORD REG_NOTIFY_CHANGE_SECURITY = 0x8;    // security descriptor changed
inline constexpr DWORD REG_LEGAL_CHANGE_FILTER = 0xF;
inline constexpr DWORD REG_NOTIFY_THREAD_AGNOSTIC = 0x10000000;

// ---- security information flags (RegGetKeySecurity / RegSetKeySecurity)
inline constexpr SECURITY_INFORMATION OWNER_SECURITY_INFORMATION = 0x1;
inline constexpr SECURITY_INFORMATION GROUP_SECURITY_INFORMATION = 0x2;
inline constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x4;
inline constexpr SECURITY_INFORMATION SACL_SECURITY_INFORMATION = 0x8;

// ---- keys
// subKey may be null or empty: a new handle to hKey itself. A path with a
// leading "\" is ERROR_BAD_PATHNAME (161); a missing key ERROR_FILE_NOT_FOUND.
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR subKey, DWORD options, REGSAM samDesired, PHKEY result);
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR subKey, DWORD options, REGSAM samDesired, PHKEY result);
// Creates the key and its missing parents. disposition (optional) receives
// REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY. A volatile parent takes only
// volatile children (ERROR_CHILD_MUST_BE_VOLATILE). Directly under the master
// keys HKEY_LOCAL_MACHINE and HKEY_USERS nothing can be created
// (ERROR_ACCESS_DENIED).
LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* securityAttributes, PHKEY result,
                        LPDWORD disposition);
LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* securityAttributes, PHKEY result,
                        LPDWORD disposition);
// Closing a predefined root succeeds and does nothing. Closing a key handle
// signals a change notification armed on it.
LSTATUS RegCloseKey(HKEY hKey);
// A key with sub-keys is ERROR_ACCESS_DENIED. RegDeleteKeyEx takes the view
// flag (KEY_WOW64_32KEY / KEY_WOW64_64KEY) in samDesired.
LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR subKey);
LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR subKey);
LSTATUS RegDeleteKeyExA(HKEY hKey, LPCSTR subKey, REGSAM samDesired, DWORD reserved);
LSTATUS RegDeleteKeyExW(HKEY hKey, LPCWSTR subKey, REGSAM samDesired, DWORD reserved);
// Sub-keys in the hive's order (upper-cased name order). ERROR_NO_MORE_ITEMS
// past the end; ERROR_MORE_DATA when the name (plus its NUL) does not fit,
// with *cchName unchanged.
LSTATUS RegEnumKeyExA(HKEY hKey, DWORD index, LPSTR name, LPDWORD cchName, LPDWORD reserved, LPSTR className,
                      LPDWORD cchClass, FILETIME* lastWriteTime);
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD reserved, LPWSTR className,
                      LPDWORD cchClass, FILETIME* lastWriteTime);
// The old form: cchName counts the buffer including the NUL.
LSTATUS RegEnumKeyA(HKEY hKey, DWORD index, LPSTR name, DWORD cchName);
LSTATUS RegEnumKeyW(HKEY hKey, DWORD index, LPWSTR name, DWORD cchName);
// Any out pointer may be null. Lengths are in characters without the NUL;
// maxValueLen is bytes of data; the "A" form reports the wide lengths, as
// Windows does.
LSTATUS RegQueryInfoKeyA(HKEY hKey, LPSTR className, LPDWORD cchClass, LPDWORD reserved, LPDWORD subKeys,
                         LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                         LPDWORD maxValueLen, LPDWORD cbSecurityDescriptor, FILETIME* lastWriteTime);
LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR className, LPDWORD cchClass, LPDWORD reserved, LPDWORD subKeys,
                         LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                         LPDWORD maxValueLen, LPDWORD cbSecurityDescriptor, FILETIME* lastWriteTime);
// Writes the key's hive to its file now.
LSTATUS RegFlushKey(HKEY hKey);

// ---- values
// data null: only the type and size. A buffer too small: ERROR_MORE_DATA and
// *cbData receives the size needed. The "A" form converts REG_SZ,
// REG_EXPAND_SZ and REG_MULTI_SZ to the active code page and reports the exact
// size of the converted text.
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD cbData);
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD cbData);
// The "A" form converts string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) to
// UTF-16 before storing it.
LSTATUS RegSetValueExA(HKEY hKey, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData);
LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData);
LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR valueName);
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR valueName);
// Values in the order they were stored. name and cchName as RegEnumKeyEx;
// data and cbData as RegQueryValueEx. The "A" form cuts a name at its first
// NUL.
LSTATUS RegEnumValueA(HKEY hKey, DWORD index, LPSTR valueName, LPDWORD cchValueName, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD cbData);
LSTATUS RegEnumValueW(HKEY hKey, DWORD index, LPWSTR valueName, LPDWORD cchValueName, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD cbData);

// ---- security
// The parts of the key's self-relative descriptor the flags ask for.
// ERROR_INSUFFICIENT_BUFFER with *cbSecurityDescriptor = the size needed when
// the buffer is null or too small.
LSTATUS RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR securityDescriptor,
                          LPDWORD cbSecurityDescriptor);
// securityDescriptor is a self-relative descriptor; the parts named by info
// replace the key's.
LSTATUS RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR securityDescriptor);

// ---- change notification
// Arms a one-shot watch on the key (and its sub-tree when watchSubtree): the
// first change matching filter (REG_NOTIFY_*) afterwards signals event, made
// by this process or, through the hive file, by another one. Closing the key
// handle signals it too. Asynchronous only needs an event; synchronous waits
// for the change (event ignored).
LSTATUS RegNotifyChangeKeyValue(HKEY hKey, bool watchSubtree, DWORD notifyFilter, HANDLE event, bool asynchronous);

// ---- hives
// Mounts a hive file as subKey directly under HKEY_LOCAL_MACHINE or
// HKEY_USERS. Needs SeRestorePrivilege enabled (ERROR_PRIVILEGE_NOT_HELD).
// Other roots or an empty name: ERROR_INVALID_PARAMETER; a file mounted
// already (here or by another process): ERROR_SHARING_VIOLATION; not a hive:
// ERROR_BADDB. The file is locked while mounted and written back safely.
LSTATUS RegLoadKeyA(HKEY hKey, LPCSTR subKey, LPCSTR file);
LSTATUS RegLoadKeyW(HKEY hKey, LPCWSTR subKey, LPCWSTR file);
// Writes the hive back and unmounts it. ERROR_ACCESS_DENIED while any handle
// below the mount point is open.
LSTATUS RegUnLoadKeyA(HKEY hKey, LPCSTR subKey);
LSTATUS RegUnLoadKeyW(HKEY hKey, LPCWSTR subKey);

// ---- connection and per-user roots
// This machine's own names: "", ".", "localhost" or the host name (short or
// full, any case), each with or without a leading "\\".
bool isLocalMachineName(std::u16string name);

// machineName null, "", ".", "localhost" or this host's name (with or
// without a leading "\\"): a new handle to that root of the local registry
// (any predefined root but HKEY_DYN_DATA: ERROR_INVALID_HANDLE). Any other
// name: ERROR_BAD_NETPATH (no remote registry on this platform).
LSTATUS RegConnectRegistryA(LPCSTR machineName, HKEY hKey, PHKEY result);
LSTATUS RegConnectRegistryW(LPCWSTR machineName, HKEY hKey, PHKEY result);
// A handle to the current user's root (HKEY_USERS\<SID>).
LSTATUS RegOpenCurrentUser(REGSAM samDesired, PHKEY result);

}  // namespace platform

#pragma once

// The plain types the Win32-shaped calls of platform/ use. They carry the
// Windows names so that code written against those calls reads the same, but
// they are ordinary C++ types of fixed width: WCHAR is a UTF-16 unit, DWORD a
// 32-bit unsigned number, and so on.

#include <compare>
#include <cstddef>
#include <cstdint>

namespace platform {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using QWORD = std::uint64_t;
using LONGLONG = std::int64_t;
using ULONG_PTR = std::uintptr_t;
using WCHAR = char16_t;
using CHAR = char;

using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;

// Win32 error code returned by the registry calls (0 = ERROR_SUCCESS).
using LSTATUS = LONG;
using ACCESS_MASK = DWORD;
using REGSAM = ACCESS_MASK;
using SECURITY_INFORMATION = DWORD;
// A self-relative security descriptor as bytes.
using PSECURITY_DESCRIPTOR = void*;

// 100 ns ticks since 1601-01-01 UTC, split in two halves as Windows keeps it.
struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};

inline constexpr std::uint64_t fileTimeToU64(FILETIME ft) {
  return (std::uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline constexpr FILETIME u64ToFileTime(std::uint64_t t) {
  return FILETIME{DWORD(t & 0xFFFFFFFFu), DWORD(t >> 32)};
}

struct SECURITY_ATTRIBUTES {
  DWORD nLength = sizeof(SECURITY_ATTRIBUTES);
  PSECURITY_DESCRIPTOR lpSecurityDescriptor = nullptr;
  bool bInheritHandle = false;
};

// Opaque handles. A handle is a number with no meaning outside the table that
// gave it out; 0 is "no handle". They behave like the pointer handles of
// Windows (compare with nullptr, test in an if) but are literal types, so the
// predefined roots below are constants.
struct HKEY {
  std::uintptr_t value = 0;
  constexpr HKEY() = default;
  constexpr HKEY(std::nullptr_t) {}
  constexpr explicit HKEY(std::uintptr_t v) : value(v) {}
  constexpr explicit operator bool() const { return value != 0; }
  friend constexpr bool operator==(HKEY, HKEY) = default;
  friend constexpr auto operator<=>(HKEY, HKEY) = default;
};
using PHKEY = HKEY*;

// A kernel object handle: events, tokens, the current process, and native
// key handles (the native calls hand out key handles of this type; the same
// number is also a valid HKEY, as on Windows).
struct HANDLE {
  std::uintptr_t value = 0;
  constexpr HANDLE() = default;
  constexpr HANDLE(std::nullptr_t) {}
  constexpr explicit HANDLE(std::uintptr_t v) : value(v) {}
  constexpr explicit HANDLE(HKEY key) : value(key.value) {}
  constexpr explicit operator bool() const { return value != 0; }
  constexpr explicit operator HKEY() const { return HKEY(value); }
  friend constexpr bool operator==(HANDLE, HANDLE) = default;
  friend constexpr auto operator<=>(HANDLE, HANDLE) = default;
};
using PHANDLE = HANDLE*;

// ---- Win32 error codes the platform layer returns
inline constexpr LSTATUS ERROR_SUCCESS = 0;
inline constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
inline constexpr LSTATUS ERROR_PATH_NOT_FOUND = 3;
inline constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
inline constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
inline constexpr LSTATUS ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LSTATUS ERROR_OUTOFMEMORY = 14;
inline constexpr LSTATUS ERROR_SHARING_VIOLATION = 32;
inline constexpr LSTATUS ERROR_LOCK_VIOLATION = 33;
inline constexpr LSTATUS ERROR_NOT_SUPPORTED = 50;
inline constexpr LSTATUS ERROR_BAD_NETPATH = 53;
inline constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
inline constexpr LSTATUS ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr LSTATUS ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr LSTATUS ERROR_INVALID_NAME = 123;
inline constexpr LSTATUS ERROR_BAD_PATHNAME = 161;
inline constexpr LSTATUS ERROR_ALREADY_EXISTS = 183;
inline constexpr LSTATUS ERROR_MORE_DATA = 234;
inline constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
inline constexpr LSTATUS ERROR_NOACCESS = 998;
inline constexpr LSTATUS ERROR_CANTOPEN = 1011;
inline constexpr LSTATUS ERROR_CANTREAD = 1012;
inline constexpr LSTATUS ERROR_CANTWRITE = 1013;
inline constexpr LSTATUS ERROR_REGISTRY_RECOVERED = 1014;
inline constexpr LSTATUS ERROR_REGISTRY_CORRUPT = 1015;
inline constexpr LSTATUS ERROR_REGISTRY_IO_FAILED = 1016;
inline constexpr LSTATUS ERROR_NOT_REGISTRY_FILE = 1017;
inline constexpr LSTATUS ERROR_BADDB = 1009;
inline constexpr LSTATUS ERROR_BADKEY = 1010;
inline constexpr LSTATUS ERROR_KEY_DELETED = 1018;
inline constexpr LSTATUS ERROR_CHILD_MUST_BE_VOLATILE = 1021;
inline constexpr LSTATUS ERROR_PROC_NOT_FOUND = 127;
inline constexpr LSTATUS ERROR_DLL_INIT_FAILED = 1114;
inline constexpr LSTATUS ERROR_NO_SYSTEM_RESOURCES = 1450;
inline constexpr LSTATUS ERROR_NOT_ALL_ASSIGNED = 1300;
inline constexpr LSTATUS ERROR_NO_SUCH_PRIVILEGE = 1313;
inline constexpr LSTATUS ERROR_PRIVILEGE_NOT_HELD = 1314;
inline constexpr LSTATUS ERROR_INVALID_ACL = 1336;
inline constexpr LSTATUS ERROR_INVALID_SID = 1337;
inline constexpr LSTATUS ERROR_INVALID_SECURITY_DESCR = 1338;
inline constexpr LSTATUS ERROR_NONE_MAPPED = 1332;
inline constexpr LSTATUS ERROR_UNKNOWN_REVISION = 1305;

// The calling thread's last error, set by the calls that answer a Boolean
// (as Windows' GetLastError). The registry calls return their code instead.
DWORD GetLastError();
void SetLastError(DWORD code);

}  // namespace platform

#pragma once

// The native registry calls: counted UTF-16 names (NUL characters allowed),
// object paths "\Registry\Machine\..." and "\Registry\User\<SID>\...", and
// NTSTATUS results. Records are laid out as the native interface lays them
// out, so callers read them from byte buffers they size themselves.
//
// As for a 32-bit program on a 64-bit system, the native calls see the same
// view redirection as the Win32 calls (KEY_WOW64_* in the access mask), and
// the CurrentControlSet link.

#include "platform/Kernel.h"
#include "platform/WinTypes.h"

namespace platform {

using NTSTATUS = std::int32_t;

inline constexpr NTSTATUS STATUS_SUCCESS = 0;
inline constexpr NTSTATUS STATUS_BUFFER_OVERFLOW = NTSTATUS(0x80000005u);
inline constexpr NTSTATUS STATUS_NO_MORE_ENTRIES = NTSTATUS(0x8000001Au);
inline constexpr NTSTATUS STATUS_UNSUCCESSFUL = NTSTATUS(0xC0000001u);
inline constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = NTSTATUS(0xC0000002u);
inline constexpr NTSTATUS STATUS_INVALID_HANDLE = NTSTATUS(0xC0000008u);
inline constexpr NTSTATUS STATUS_INVALID_PARAMETER = NTSTATUS(0xC000000Du);
inline constexpr NTSTATUS STATUS_NO_MEMORY = NTSTATUS(0xC0000017u);
inline constexpr NTSTATUS STATUS_ACCESS_DENIED = NTSTATUS(0xC0000022u);
inline constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = NTSTATUS(0xC0000023u);
inline constexpr NTSTATUS STATUS_OBJECT_TYPE_MISMATCH = NTSTATUS(0xC0000024u);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = NTSTATUS(0xC0000033u);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = NTSTATUS(0xC0000034u);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = NTSTATUS(0xC0000035u);
inline constexpr NTSTATUS STATUS_OBJECT_PATH_INVALID = NTSTATUS(0xC0000039u);
inline constexpr NTSTATUS STATUS_OBJECT_PATH_NOT_FOUND = NTSTATUS(0xC000003Au);
inline constexpr NTSTATUS STATUS_OBJECT_PATH_SYNTAX_BAD = NTSTATUS(0xC000003Bu);
inline constexpr NTSTATUS STATUS_SHARING_VIOLATION = NTSTATUS(0xC0000043u);
inline constexpr NTSTATUS STATUS_PRIVILEGE_NOT_HELD = NTSTATUS(0xC0000061u);
inline constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = NTSTATUS(0xC000009Au);
inline constexpr NTSTATUS STATUS_CANNOT_DELETE = NTSTATUS(0xC0000121u);
inline constexpr NTSTATUS STATUS_REGISTRY_CORRUPT = NTSTATUS(0xC000014Cu);
inline constexpr NTSTATUS STATUS_REGISTRY_IO_FAILED = NTSTATUS(0xC000014Du);
inline constexpr NTSTATUS STATUS_KEY_DELETED = NTSTATUS(0xC000017Cu);
inline constexpr NTSTATUS STATUS_CHILD_MUST_BE_VOLATILE = NTSTATUS(0xC0000181u);

inline constexpr bool NT_SUCCESS(NTSTATUS s) { return s >= 0; }

// A counted UTF-16 string: Length and MaximumLength in bytes; Buffer need not
// be NUL-terminated and may hold NULs.
struct UNICODE_STRING {
  USHORT Length = 0;
  USHORT MaximumLength = 0;
  WCHAR* Buffer = nullptr;
};

inline constexpr ULONG OBJ_INHERIT = 0x00000002;
inline constexpr ULONG OBJ_PERMANENT = 0x00000010;
inline constexpr ULONG OBJ_EXCLUSIVE = 0x00000020;
inline constexpr ULONG OBJ_CASE_INSENSITIVE = 0x00000040;
inline constexpr ULONG OBJ_OPENIF = 0x00000080;
inline constexpr ULONG OBJ_OPENLINK = 0x00000100;
inline constexpr ULONG OBJ_KERNEL_HANDLE = 0x00000200;

// ObjectName is a full native path when RootDirectory is null, else a path
// relative to the key RootDirectory (a native key handle).
struct OBJECT_ATTRIBUTES {
  ULONG Length = sizeof(OBJECT_ATTRIBUTES);
  HANDLE RootDirectory;
  const UNICODE_STRING* ObjectName = nullptr;
  ULONG Attributes = 0;
  void* SecurityDescriptor = nullptr;
  void* SecurityQualityOfService = nullptr;
};

enum KEY_INFORMATION_CLASS : ULONG {
  KeyBasicInformation = 0,
  KeyNodeInformation = 1,
  KeyFullInformation = 2,
  KeyNameInformation = 3,
};

enum KEY_VALUE_INFORMATION_CLASS : ULONG {
  KeyValueBasicInformation = 0,
  KeyValueFullInformation = 1,
  KeyValuePartialInformation = 2,
};

// The records. A trailing one-element array stands for a variable tail (name,
// class, data) that the caller's buffer holds; lengths are in bytes. The
// layouts match the native interface, 8-byte fields at 8-byte alignment.
struct KEY_BASIC_INFORMATION {
  LONGLONG LastWriteTime;
  ULONG TitleIndex;
  ULONG NameLength;
  WCHAR Name[1];
};

struct KEY_NODE_INFORMATION {
  LONGLONG LastWriteTime;
  ULONG TitleIndex;
  ULONG ClassOffset;  // from the start of the record; -1 without a class
  ULONG ClassLength;
  ULONG NameLength;
  WCHAR Name[1];
};

struct KEY_FULL_INFORMATION {
  LONGLONG LastWriteTime;
  ULONG TitleIndex;
  ULONG ClassOffset;
  ULONG ClassLength;
  ULONG SubKeys;
  ULONG MaxNameLen;       // bytes
  ULONG MaxClassLen;      // bytes
  ULONG Values;
  ULONG MaxValueNameLen;  // bytes
  ULONG MaxValueDataLen;
  WCHAR Class[1];
};

struct KEY_NAME_INFORMATION {
  ULONG NameLength;
  WCHAR Name[1];
};

struct KEY_VALUE_BASIC_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG NameLength;
  WCHAR Name[1];
};

struct KEY_VALUE_FULL_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG DataOffset;  // from the start of the record
  ULONG DataLength;
  ULONG NameLength;
  WCHAR Name[1];
};

struct KEY_VALUE_PARTIAL_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG DataLength;
  BYTE Data[1];
};

// Opens a key. STATUS_OBJECT_NAME_NOT_FOUND for a missing key.
NTSTATUS NtOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess, const OBJECT_ATTRIBUTES* objectAttributes);
// Opens or creates a key (its parent must exist: STATUS_OBJECT_NAME_NOT_FOUND
// otherwise). disposition (optional): REG_CREATED_NEW_KEY / REG_OPENED_EXISTING_KEY.
NTSTATUS NtCreateKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess, const OBJECT_ATTRIBUTES* objectAttributes,
                     ULONG titleIndex, const UNICODE_STRING* className, ULONG createOptions, ULONG* disposition);
NTSTATUS NtClose(HANDLE handle);
// Deletes the open key; STATUS_CANNOT_DELETE while it has sub-keys. The
// handle stays open (and invalid for anything but closing).
NTSTATUS NtDeleteKey(HANDLE keyHandle);
NTSTATUS NtDeleteValueKey(HANDLE keyHandle, const UNICODE_STRING* valueName);
// Queries fill the buffer with the record of the class asked for.
// resultLength receives the bytes of the whole record. Length 0 or smaller
// than the fixed head: STATUS_BUFFER_TOO_SMALL; a head that fits but a tail
// that does not: STATUS_BUFFER_OVERFLOW with the head filled in.
NTSTATUS NtEnumerateKey(HANDLE keyHandle, ULONG index, KEY_INFORMATION_CLASS infoClass, void* keyInformation,
                        ULONG length, ULONG* resultLength);
NTSTATUS NtEnumerateValueKey(HANDLE keyHandle, ULONG index, KEY_VALUE_INFORMATION_CLASS infoClass,
                             void* keyValueInformation, ULONG length, ULONG* resultLength);
NTSTATUS NtQueryKey(HANDLE keyHandle, KEY_INFORMATION_CLASS infoClass, void* keyInformation, ULONG length,
                    ULONG* resultLength);
NTSTATUS NtQueryValueKey(HANDLE keyHandle, const UNICODE_STRING* valueName, KEY_VALUE_INFORMATION_CLASS infoClass,
                         void* keyValueInformation, ULONG length, ULONG* resultLength);
NTSTATUS NtSetValueKey(HANDLE keyHandle, const UNICODE_STRING* valueName, ULONG titleIndex, ULONG type,
                       const void* data, ULONG dataSize);

// Points dest at a NUL-terminated source (Length without the NUL).
void RtlInitUnicodeString(UNICODE_STRING* dest, LPCWSTR source);
// The Win32 error code for an NTSTATUS (STATUS_OBJECT_NAME_NOT_FOUND -> 2...).
ULONG RtlNtStatusToDosError(NTSTATUS status);

}  // namespace platform

#include "platform/NtRegistry.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ErrorText.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"

namespace platform {

namespace {

using registry::Path;

NTSTATUS toStatus(LSTATUS rc) {
  switch (rc) {
    case ERROR_SUCCESS: return STATUS_SUCCESS;
    case ERROR_FILE_NOT_FOUND: return STATUS_OBJECT_NAME_NOT_FOUND;
    case ERROR_PATH_NOT_FOUND: return STATUS_OBJECT_PATH_NOT_FOUND;
    case ERROR_ACCESS_DENIED: return STATUS_ACCESS_DENIED;
    case ERROR_INVALID_HANDLE: return STATUS_INVALID_HANDLE;
    case ERROR_INVALID_PARAMETER: return STATUS_INVALID_PARAMETER;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return STATUS_NO_MEMORY;
    case ERROR_SHARING_VIOLATION: return STATUS_SHARING_VIOLATION;
    case ERROR_BAD_PATHNAME: return STATUS_OBJECT_PATH_SYNTAX_BAD;
    case ERROR_ALREADY_EXISTS: return STATUS_OBJECT_NAME_COLLISION;
    case ERROR_NO_MORE_ITEMS: return STATUS_NO_MORE_ENTRIES;
    case ERROR_BADDB: return STATUS_REGISTRY_CORRUPT;
    case ERROR_REGISTRY_IO_FAILED: return STATUS_REGISTRY_IO_FAILED;
    case ERROR_KEY_DELETED: return STATUS_KEY_DELETED;
    case ERROR_CHILD_MUST_BE_VOLATILE: return STATUS_CHILD_MUST_BE_VOLATILE;
    case ERROR_PRIVILEGE_NOT_HELD: return STATUS_PRIVILEGE_NOT_HELD;
    case ERROR_NO_SYSTEM_RESOURCES: return STATUS_INSUFFICIENT_RESOURCES;
    default: return STATUS_UNSUCCESSFUL;
  }
}

bool counted(const UNICODE_STRING* s, std::u16string* out) {
  if (!s) {
    out->clear();
    return true;
  }
  if (s->Length % 2 != 0 || s->Length > s->MaximumLength || (s->Length && !s->Buffer)) return false;
  out->assign(s->Buffer, s->Buffer + s->Length / 2);
  return true;
}

// Splits a native name at "\" (NULs are ordinary characters); empty
// components are refused, as the object manager refuses them.
bool splitNative(std::u16string_view name, Path* out) {
  out->clear();
  std::size_t start = 0;
  while (start < name.size()) {
    std::size_t end = name.find(u'\\', start);
    if (end == std::u16string_view::npos) end = name.size();
    if (end == start) return false;
    out->emplace_back(name.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

bool ciEqualAscii(std::u16string_view a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char16_t c = a[i];
    if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
    char d = b[i];
    if (d >= 'a' && d <= 'z') d = char(d - 32);
    if (c != char16_t(d)) return false;
  }
  return true;
}

NTSTATUS openOrCreate(PHANDLE keyHandle, ACCESS_MASK access, const OBJECT_ATTRIBUTES* oa, bool create,
                      const UNICODE_STRING* className, ULONG options, ULONG* disposition) {
  if (!keyHandle || !oa) return STATUS_INVALID_PARAMETER;
  *keyHandle = nullptr;
  std::u16string name;
  if (!oa->ObjectName || !counted(oa->ObjectName, &name)) return STATUS_INVALID_PARAMETER;
  std::u16string cls;
  if (!counted(className, &cls)) return STATUS_INVALID_PARAMETER;

  registry::OpenRequest req;
  req.access = access;
  req.create = create;
  req.createParents = false;
  req.options = options;
  req.className = className ? &cls : nullptr;

  HKEY result;
  DWORD disp = 0;
  LSTATUS rc;
  if (oa->RootDirectory) {
    if (!name.empty() && name[0] == u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
    Path sub;
    if (!splitNative(name, &sub)) return STATUS_OBJECT_NAME_INVALID;
    rc = registry::openKey(HKEY(oa->RootDirectory), sub, req, &result, &disp);
  } else {
    if (name.empty() || name[0] != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
    Path all;
    if (!splitNative(std::u16string_view(name).substr(1), &all)) return STATUS_OBJECT_NAME_INVALID;
    if (all.size() < 2 || !ciEqualAscii(all[0], "REGISTRY")) return STATUS_OBJECT_NAME_NOT_FOUND;
    registry::NativeRoot root;
    if (ciEqualAscii(all[1], "MACHINE")) root = registry::NativeRoot::Machine;
    else if (ciEqualAscii(all[1], "USER")) root = registry::NativeRoot::Users;
    else return STATUS_OBJECT_NAME_NOT_FOUND;
    Path sub(all.begin() + 2, all.end());
    rc = registry::openNative(root, sub, req, &result, &disp);
  }
  if (rc != ERROR_SUCCESS) return toStatus(rc);
  *keyHandle = HANDLE(result);
  if (disposition) *disposition = disp;
  return STATUS_SUCCESS;
}

// Fills a record: the head always when it fits, the tail as far as it fits.
// STATUS_BUFFER_TOO_SMALL when not even the head fits, STATUS_BUFFER_OVERFLOW
// when the tail was cut.
NTSTATUS deliver(const std::vector<std::uint8_t>& record, std::size_t headSize, void* buffer, ULONG length,
                 ULONG* resultLength) {
  if (resultLength) *resultLength = ULONG(record.size());
  if (length < headSize || !buffer) return STATUS_BUFFER_TOO_SMALL;
  if (length < record.size()) {
    std::memcpy(buffer, record.data(), length);
    return STATUS_BUFFER_OVERFLOW;
  }
  std::memcpy(buffer, record.data(), record.size());
  return STATUS_SUCCESS;
}

void put32(std::vector<std::uint8_t>& r, std::size_t off, std::uint32_t v) { std::memcpy(r.data() + off, &v, 4); }
void put64(std::vector<std::uint8_t>& r, std::size_t off, std::uint64_t v) { std::memcpy(r.data() + off, &v, 8); }
void putText(std::vector<std::uint8_t>& r, std::size_t off, std::u16string_view t) {
  if (!t.empty()) std::memcpy(r.data() + off, t.data(), t.size() * 2);
}

NTSTATUS keyRecord(KEY_INFORMATION_CLASS cls, std::uint64_t lastWritten, std::u16string_view name,
                   std::u16string_view className, const registry::KeyInformation* full,
                   std::vector<std::uint8_t>* out, std::size_t* head) {
  const ULONG nameBytes = ULONG(name.size() * 2);
  const ULONG classBytes = ULONG(className.size() * 2);
  switch (cls) {
    case KeyBasicInformation: {
      *head = offsetof(KEY_BASIC_INFORMATION, Name);
      out->assign(*head + nameBytes, 0);
      put64(*out, 0, lastWritten);
      put32(*out, 12, nameBytes);
      putText(*out, *head, name);
      return STATUS_SUCCESS;
    }
    case KeyNodeInformation: {
      *head = offsetof(KEY_NODE_INFORMATION, Name);
      out->assign(*head + nameBytes + classBytes, 0);
      put64(*out, 0, lastWritten);
      put32(*out, 12, classBytes ? ULONG(*head + nameBytes) : 0xFFFFFFFFu);
      put32(*out, 16, classBytes);
      put32(*out, 20, nameBytes);
      putText(*out, *head, name);
      putText(*out, *head + nameBytes, className);
      return STATUS_SUCCESS;
    }
    case KeyFullInformation: {
      if (!full) return STATUS_INVALID_PARAMETER;
      *head = offsetof(KEY_FULL_INFORMATION, Class);
      out->assign(*head + classBytes, 0);
      put64(*out, 0, lastWritten);
      put32(*out, 12, classBytes ? ULONG(*head) : 0xFFFFFFFFu);
      put32(*out, 16, classBytes);
      put32(*out, 20, full->subKeys);
      put32(*out, 24, full->maxSubKeyLen * 2);
      put32(*out, 28, full->maxClassLen * 2);
      put32(*out, 32, full->values);
      put32(*out, 36, full->maxValueNameLen * 2);
      put32(*out, 40, full->maxValueLen);
      putText(*out, *head, className);
      return STATUS_SUCCESS;
    }
    case KeyNameInformation: {
      *head = offsetof(KEY_NAME_INFORMATION, Name);
      out->assign(*head + nameBytes, 0);
      put32(*out, 0, nameBytes);
      putText(*out, *head, name);
      return STATUS_SUCCESS;
    }
  }
  return STATUS_INVALID_PARAMETER;
}

NTSTATUS valueRecord(KEY_VALUE_INFORMATION_CLASS cls, const registry::ValueEntry& v, std::vector<std::uint8_t>* out,
                     std::size_t* head) {
  const ULONG nameBytes = ULONG(v.name.size() * 2);
  const ULONG dataBytes = ULONG(v.data.size());
  switch (cls) {
    case KeyValueBasicInformation:
      *head = offsetof(KEY_VALUE_BASIC_INFORMATION, Name);
      out->assign(*head + nameBytes, 0);
      put32(*out, 4, v.type);
      put32(*out, 8, nameBytes);
      putText(*out, *head, v.name);
      return STATUS_SUCCESS;
    case KeyValueFullInformation: {
      *head = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
      const std::size_t dataOffset = (*head + nameBytes + 3) & ~std::size_t(3);
      out->assign(dataOffset + dataBytes, 0);
      put32(*out, 4, v.type);
      put32(*out, 8, ULONG(dataOffset));
      put32(*out, 12, dataBytes);
      put32(*out, 16, nameBytes);
      putText(*out, *head, v.name);
      if (dataBytes) std::memcpy(out->data() + dataOffset, v.data.data(), dataBytes);
      return STATUS_SUCCESS;
    }
    case KeyValuePartialInformation:
      *head = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
      out->assign(*head + dataBytes, 0);
      put32(*out, 4, v.type);
      put32(*out, 8, dataBytes);
      if (dataBytes) std::memcpy(out->data() + *head, v.data.data(), dataBytes);
      return STATUS_SUCCESS;
  }
  return STATUS_INVALID_PARAMETER;
}

}  // namespace

NTSTATUS NtOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess, const OBJECT_ATTRIBUTES* objectAttributes) {
  return openOrCreate(keyHandle, desiredAccess, objectAttributes, false, nullptr, 0, nullptr);
}

NTSTATUS NtCreateKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess, const OBJECT_ATTRIBUTES* objectAttributes, ULONG,
                     const UNICODE_STRING* className, ULONG createOptions, ULONG* disposition) {
  return openOrCreate(keyHandle, desiredAccess, objectAttributes, true, className, createOptions, disposition);
}

NTSTATUS NtClose(HANDLE handle) {
  if (registry::closeKey(HKEY(handle.value)) == ERROR_SUCCESS) return STATUS_SUCCESS;
  return CloseHandle(handle) ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}

NTSTATUS NtDeleteKey(HANDLE keyHandle) {
  HKEY key(keyHandle.value);
  REGSAM access = 0;
  LSTATUS rc = registry::handleAccess(key, &access);
  if (rc != ERROR_SUCCESS) return toStatus(rc);
  if (!(access & DELETE)) return STATUS_ACCESS_DENIED;
  registry::KeyInformation info;
  if (registry::queryInfo(key, &info) == ERROR_SUCCESS && info.subKeys > 0) return STATUS_CANNOT_DELETE;
  return toStatus(registry::deleteKey(key, {}, 0));
}

NTSTATUS NtDeleteValueKey(HANDLE keyHandle, const UNICODE_STRING* valueName) {
  std::u16string name;
  if (!counted(valueName, &name)) return STATUS_INVALID_PARAMETER;
  return toStatus(registry::deleteValue(HKEY(keyHandle.value), name));
}

NTSTATUS NtEnumerateKey(HANDLE keyHandle, ULONG index, KEY_INFORMATION_CLASS infoClass, void* keyInformation,
                        ULONG length, ULONG* resultLength) {
  registry::SubKeyEntry e;
  LSTATUS rc = registry::enumKey(HKEY(keyHandle.value), index, &e);
  if (rc != ERROR_SUCCESS) return toStatus(rc);
  if (infoClass != KeyBasicInformation && infoClass != KeyNodeInformation) return STATUS_INVALID_PARAMETER;
  std::vector<std::uint8_t> record;
  std::size_t head = 0;
  NTSTATUS st = keyRecord(infoClass, e.lastWritten, e.name, e.className, nullptr, &record, &head);
  if (st != STATUS_SUCCESS) return st;
  return deliver(record, head, keyInformation, length, resultLength);
}

namespace {

// A value's record of the asked class, copied out as far as `length` allows.
NTSTATUS deliverValue(KEY_VALUE_INFORMATION_CLASS infoClass, const registry::ValueEntry& v, void* out, ULONG length,
                      ULONG* resultLength) {
  std::vector<std::uint8_t> record;
  std::size_t head = 0;
  NTSTATUS st = valueRecord(infoClass, v, &record, &head);
  if (st != STATUS_SUCCESS) return st;
  return deliver(record, head, out, length, resultLength);
}

}  // namespace

NTSTATUS NtEnumerateValueKey(HANDLE keyHandle, ULONG index, KEY_VALUE_INFORMATION_CLASS infoClass,
                             void* keyValueInformation, ULONG length, ULONG* resultLength) {
  registry::ValueEntry v;
  LSTATUS rc = registry::enumValue(HKEY(keyHandle.value), index, &v, infoClass != KeyValueBasicInformation);
  if (rc != ERROR_SUCCESS) return toStatus(rc);
  return deliverValue(infoClass, v, keyValueInformation, length, resultLength);
}

NTSTATUS NtQueryKey(HANDLE keyHandle, KEY_INFORMATION_CLASS infoClass, void* keyInformation, ULONG length,
                    ULONG* resultLength) {
  HKEY key(keyHandle.value);
  registry::KeyInformation info;
  LSTATUS rc = registry::queryInfo(key, &info);
  if (rc != ERROR_SUCCESS) return toStatus(rc);
  std::u16string fullName;
  rc = registry::keyNativeName(key, &fullName);
  if (rc != ERROR_SUCCESS) return toStatus(rc);
  std::u16string name = infoClass == KeyNameInformation ? fullName : fullName.substr(fullName.rfind(u'\\') + 1);
  std::vector<std::uint8_t> record;
  std::size_t head = 0;
  NTSTATUS st = keyRecord(infoClass, info.lastWritten, name, info.className, &info, &record, &head);
  if (st != STATUS_SUCCESS) return st;
  return deliver(record, head, keyInformation, length, resultLength);
}

NTSTATUS NtQueryValueKey(HANDLE keyHandle, const UNICODE_STRING* valueName, KEY_VALUE_INFORMATION_CLASS infoClass,
                         void* keyValueInformation, ULONG length, ULONG* resultLength) {
  std::u16string name;
  if (!counted(valueName, &name)) return STATUS_INVALID_PARAMETER;
  registry::ValueEntry v;
  LSTATUS rc = registry::queryValue(HKEY(keyHandle.value), name, &v, infoClass != KeyValueBasicInformation);
  if (rc != ERROR_SUCCESS) return toStatus(rc);
  return deliverValue(infoClass, v, keyValueInformation, length, resultLength);
}

NTSTATUS NtSetValueKey(HANDLE keyHandle, const UNICODE_STRING* valueName, ULONG, ULONG type, const void* data,
                       ULONG dataSize) {
  std::u16string name;
  if (!counted(valueName, &name)) return STATUS_INVALID_PARAMETER;
  if (!data && dataSize) return STATUS_INVALID_PARAMETER;
  const auto* p = static_cast<const std::uint8_t*>(data);
  return toStatus(registry::setValue(HKEY(keyHandle.value), name, type,
                                     std::span<const std::uint8_t>(p, p ? dataSize : 0)));
}

void RtlInitUnicodeString(UNICODE_STRING* dest, LPCWSTR source) {
  if (!dest) return;
  std::size_t n = 0;
  if (source)
    while (source[n] && n < 0x7FFE) ++n;
  dest->Length = USHORT(n * 2);
  dest->MaximumLength = USHORT(source ? n * 2 + 2 : 0);
  dest->Buffer = const_cast<WCHAR*>(source);
}

ULONG RtlNtStatusToDosError(NTSTATUS status) {
  if (status == STATUS_SUCCESS) return ERROR_SUCCESS;
  return ntStatusToWin32Error(std::uint32_t(status));
}

}  // namespace platform

#include "platform/Registry.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Kernel.h"
#include "platform/Paths.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "platform/SecurityDescriptor.h"
#include "platform/Text.h"

namespace platform {

namespace {

using registry::Path;

bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::u16string wide(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }
std::u16string wide(LPCSTR s) { return s ? ansiToWide(s) : std::u16string(); }

// UTF-16LE bytes <-> units. An odd last byte has no unit and is dropped.
std::u16string bytesToUnits(const std::vector<std::uint8_t>& data) {
  std::u16string out(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = char16_t(data[2 * i] | (data[2 * i + 1] << 8));
  return out;
}

std::vector<std::uint8_t> unitsToBytes(std::u16string_view text) {
  std::vector<std::uint8_t> out(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    out[2 * i] = std::uint8_t(text[i]);
    out[2 * i + 1] = std::uint8_t(text[i] >> 8);
  }
  return out;
}

// String data as the "A" calls see it: the UTF-16 text in the active code
// page, NULs and all, so the size is exact.
std::vector<std::uint8_t> ansiData(DWORD type, std::vector<std::uint8_t> data) {
  if (!isStringType(type)) return data;
  std::string a = wideToAnsi(bytesToUnits(data));
  return std::vector<std::uint8_t>(a.begin(), a.end());
}

// The data/size protocol shared by RegQueryValueEx and RegEnumValue.
LSTATUS deliverData(const std::vector<std::uint8_t>& bytes, LPBYTE data, LPDWORD cbData) {
  if (!cbData) return ERROR_SUCCESS;
  const DWORD size = DWORD(bytes.size());
  if (data) {
    if (*cbData < size) {
      *cbData = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, bytes.data(), size);
  }
  *cbData = size;
  return ERROR_SUCCESS;
}

template <class Char>
LSTATUS deliverName(const std::basic_string<Char>& name, Char* buffer, LPDWORD cch) {
  if (!buffer || !cch) return ERROR_INVALID_PARAMETER;
  if (name.size() + 1 > *cch) return ERROR_MORE_DATA;
  std::copy(name.begin(), name.end(), buffer);
  buffer[name.size()] = Char(0);
  *cch = DWORD(name.size());
  return ERROR_SUCCESS;
}

// A sub-key text of the Win32 calls: a leading "\" is refused as Windows
// refuses it.
LSTATUS keyPath(const std::u16string& text, Path* out) {
  if (!text.empty() && text[0] == u'\\') return ERROR_BAD_PATHNAME;
  *out = registry::splitKeyPath(text);
  return ERROR_SUCCESS;
}

// The same for a text the caller gives up: a single name, the common case of a
// walk opening sub-keys, becomes the path's one component as it stands.
LSTATUS keyPath(std::u16string&& text, Path* out) {
  if (!text.empty() && text.find(u'\\') == std::u16string::npos) {
    out->clear();
    out->push_back(std::move(text));
    return ERROR_SUCCESS;
  }
  return keyPath(static_cast<const std::u16string&>(text), out);
}


LSTATUS openW(HKEY hKey, std::u16string sub, DWORD options, REGSAM sam, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Path path;
  LSTATUS rc = keyPath(std::move(sub), &path);
  if (rc != ERROR_SUCCESS) return rc;
  registry::OpenRequest req;
  req.access = sam;
  req.options = options;
  return registry::openKey(hKey, path, req, result, nullptr);
}

LSTATUS createW(HKEY hKey, const std::u16string& sub, const std::u16string* className, DWORD options, REGSAM sam,
                const SECURITY_ATTRIBUTES* sa, PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_BADKEY;
  *result = nullptr;
  Path path;
  LSTATUS rc = keyPath(sub, &path);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<std::uint8_t> security;
  if (sa && sa->lpSecurityDescriptor) {
    const auto* p = static_cast<const std::uint8_t*>(sa->lpSecurityDescriptor);
    security.assign(p, p + sd::descriptorSize(p));
    if (!sd::parse(security)) return ERROR_INVALID_PARAMETER;
  }
  registry::OpenRequest req;
  req.access = sam;
  req.create = true;
  req.options = options;
  req.className = className;
  req.security = security.empty() ? nullptr : &security;
  return registry::openKey(hKey, path, req, result, disposition);
}

LSTATUS deleteW(HKEY hKey, const std::u16string& sub, REGSAM sam) {
  Path path;
  LSTATUS rc = keyPath(sub, &path);
  if (rc != ERROR_SUCCESS) return rc;
  return registry::deleteKey(hKey, path, sam);
}

LSTATUS connectW(const std::u16string& machine, HKEY hKey, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!isLocalMachineName(machine)) return ERROR_BAD_NETPATH;
  if (hKey.value < 0x80000000u || hKey.value > 0x80000005u) return ERROR_INVALID_HANDLE;
  return openW(hKey, u"", 0, MAXIMUM_ALLOWED, result);
}

std::filesystem::path hiveFilePath(const std::u16string& file) {
  if (!file.empty() && file[0] == u'/') return std::filesystem::path(utf16ToWtf8(file));
  return windowsToLinuxPath(utf16ToWtf8(file));
}

LSTATUS loadW(HKEY hKey, LPCWSTR subKey, LPCWSTR file) {
  if (!subKey || !*subKey || !file || !*file) return ERROR_INVALID_PARAMETER;
  std::filesystem::path p = hiveFilePath(file);
  if (p.empty()) return ERROR_FILE_NOT_FOUND;
  return registry::loadHive(hKey, subKey, p);
}

}  // namespace

bool isLocalMachineName(std::u16string name) {
  if (name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\') name.erase(0, 2);
  if (name.empty() || name == u".") return true;
  std::string n = utf16ToWtf8(name);
  for (char& c : n) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (n == "localhost") return true;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return false;
  std::string h = host;
  for (char& c : h) c = char(std::tolower(static_cast<unsigned char>(c)));
  // The short name matches as well as the full one.
  return n == h || n == h.substr(0, h.find('.'));
}

// ---------------------------------------------------------------- keys

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR subKey, DWORD options, REGSAM samDesired, PHKEY result) {
  return openW(hKey, wide(subKey), options, samDesired, result);
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR subKey, DWORD options, REGSAM samDesired, PHKEY result) {
  return openW(hKey, wide(subKey), options, samDesired, result);
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR subKey, DWORD, LPSTR className, DWORD options, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES* securityAttributes, PHKEY result, LPDWORD disposition) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  std::u16string cls = wide(static_cast<LPCSTR>(className));
  return createW(hKey, wide(subKey), className ? &cls : nullptr, options, samDesired, securityAttributes, result,
                 disposition);
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR subKey, DWORD, LPWSTR className, DWORD options, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES* securityAttributes, PHKEY result, LPDWORD disposition) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  std::u16string cls = wide(static_cast<LPCWSTR>(className));
  return createW(hKey, wide(subKey), className ? &cls : nullptr, options, samDesired, securityAttributes, result,
                 disposition);
}

LSTATUS RegCloseKey(HKEY hKey) { return registry::closeKey(hKey); }

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return deleteW(hKey, wide(subKey), 0);
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return deleteW(hKey, wide(subKey), 0);
}

LSTATUS RegDeleteKeyExA(HKEY hKey, LPCSTR subKey, REGSAM samDesired, DWORD) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return deleteW(hKey, wide(subKey), samDesired & KEY_WOW64_RES);
}

LSTATUS RegDeleteKeyExW(HKEY hKey, LPCWSTR subKey, REGSAM samDesired, DWORD) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return deleteW(hKey, wide(subKey), samDesired & KEY_WOW64_RES);
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD reserved, LPWSTR className,
                      LPDWORD cchClass, FILETIME* lastWriteTime) {
  if (!name || !cchName || reserved) return ERROR_INVALID_PARAMETER;
  // Reused: a walk over a whole hive calls this once per key.
  thread_local registry::SubKeyEntry e;
  LSTATUS rc = registry::enumKey(hKey, index, &e, className || cchClass || lastWriteTime);
  if (rc != ERROR_SUCCESS) return rc;
  if (className && cchClass && e.className.size() + 1 > *cchClass) return ERROR_MORE_DATA;
  rc = deliverName(e.name, name, cchName);
  if (rc != ERROR_SUCCESS) return rc;
  if (className && cchClass) (void)deliverName(e.className, className, cchClass);
  else if (cchClass) *cchClass = DWORD(e.className.size());
  if (lastWriteTime) *lastWriteTime = u64ToFileTime(e.lastWritten);
  return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD index, LPSTR name, LPDWORD cchName, LPDWORD reserved, LPSTR className,
                      LPDWORD cchClass, FILETIME* lastWriteTime) {
  if (!name || !cchName || reserved) return ERROR_INVALID_PARAMETER;
  registry::SubKeyEntry e;
  LSTATUS rc = registry::enumKey(hKey, index, &e);
  if (rc != ERROR_SUCCESS) return rc;
  const std::string n = wideToAnsi(e.name);
  const std::string c = wideToAnsi(e.className);
  if (className && cchClass && c.size() + 1 > *cchClass) return ERROR_MORE_DATA;
  rc = deliverName(n, name, cchName);
  if (rc != ERROR_SUCCESS) return rc;
  if (className && cchClass) (void)deliverName(c, className, cchClass);
  else if (cchClass) *cchClass = DWORD(c.size());
  if (lastWriteTime) *lastWriteTime = u64ToFileTime(e.lastWritten);
  return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyA(HKEY hKey, DWORD index, LPSTR name, DWORD cchName) {
  return RegEnumKeyExA(hKey, index, name, &cchName, nullptr, nullptr, nullptr, nullptr);
}

LSTATUS RegEnumKeyW(HKEY hKey, DWORD index, LPWSTR name, DWORD cchName) {
  return RegEnumKeyExW(hKey, index, name, &cchName, nullptr, nullptr, nullptr, nullptr);
}

namespace {

template <class Char>
LSTATUS queryInfo(HKEY hKey, Char* className, LPDWORD cchClass, LPDWORD reserved, LPDWORD subKeys,
                  LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                  LPDWORD maxValueLen, LPDWORD cbSecurityDescriptor, FILETIME* lastWriteTime) {
  if (reserved) return ERROR_INVALID_PARAMETER;
  if (className && !cchClass) return ERROR_INVALID_PARAMETER;
  registry::KeyInformation info;
  LSTATUS rc = registry::queryInfo(hKey, &info);
  if (rc != ERROR_SUCCESS) return rc;
  std::basic_string<Char> cls;
  if constexpr (sizeof(Char) == 1) cls = wideToAnsi(info.className);
  else cls = info.className;
  if (cchClass) {
    if (className) {
      if (cls.size() + 1 > *cchClass) {
        *cchClass = DWORD(cls.size());
        return ERROR_MORE_DATA;
      }
      std::copy(cls.begin(), cls.end(), className);
      className[cls.size()] = Char(0);
    }
    *cchClass = DWORD(cls.size());
  }
  if (subKeys) *subKeys = info.subKeys;
  if (maxSubKeyLen) *maxSubKeyLen = info.maxSubKeyLen;
  if (maxClassLen) *maxClassLen = info.maxClassLen;
  if (values) *values = info.values;
  if (maxValueNameLen) *maxValueNameLen = info.maxValueNameLen;
  if (maxValueLen) *maxValueLen = info.maxValueLen;
  if (cbSecurityDescriptor) *cbSecurityDescriptor = info.securitySize;
  if (lastWriteTime) *lastWriteTime = u64ToFileTime(info.lastWritten);
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegQueryInfoKeyA(HKEY hKey, LPSTR className, LPDWORD cchClass, LPDWORD reserved, LPDWORD subKeys,
                         LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                         LPDWORD maxValueLen, LPDWORD cbSecurityDescriptor, FILETIME* lastWriteTime) {
  return queryInfo(hKey, className, cchClass, reserved, subKeys, maxSubKeyLen, maxClassLen, values,
                   maxValueNameLen, maxValueLen, cbSecurityDescriptor, lastWriteTime);
}

LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR className, LPDWORD cchClass, LPDWORD reserved, LPDWORD subKeys,
                         LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                         LPDWORD maxValueLen, LPDWORD cbSecurityDescriptor, FILETIME* lastWriteTime) {
  return queryInfo(hKey, className, cchClass, reserved, subKeys, maxSubKeyLen, maxClassLen, values,
                   maxValueNameLen, maxValueLen, cbSecurityDescriptor, lastWriteTime);
}

LSTATUS RegFlushKey(HKEY hKey) { return registry::flushKey(hKey); }

// ---------------------------------------------------------------- values

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD cbData) {
  if ((data && !cbData) || reserved) return ERROR_INVALID_PARAMETER;
  registry::ValueEntry e;
  LSTATUS rc = registry::queryValue(hKey, wide(valueName), &e, data || cbData);
  if (rc != ERROR_SUCCESS) return rc;
  if (type) *type = e.type;
  return deliverData(e.data, data, cbData);
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD cbData) {
  if ((data && !cbData) || reserved) return ERROR_INVALID_PARAMETER;
  registry::ValueEntry e;
  // The size of converted text depends on the text, so the data is read
  // even when only the size is asked for.
  LSTATUS rc = registry::queryValue(hKey, wide(valueName), &e, true);
  if (rc != ERROR_SUCCESS) return rc;
  if (type) *type = e.type;
  return deliverData(ansiData(e.type, std::move(e.data)), data, cbData);
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
  if (!data && cbData) return ERROR_NOACCESS;
  return registry::setValue(hKey, wide(valueName), type, std::span<const std::uint8_t>(data, data ? cbData : 0));
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
  if (!data && cbData) return ERROR_NOACCESS;
  if (isStringType(type) && data) {
    const std::u16string w = ansiToWide(std::string_view(reinterpret_cast<const char*>(data), cbData));
    const std::vector<std::uint8_t> bytes = unitsToBytes(w);
    return registry::setValue(hKey, wide(valueName), type, bytes);
  }
  return registry::setValue(hKey, wide(valueName), type, std::span<const std::uint8_t>(data, data ? cbData : 0));
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR valueName) { return registry::deleteValue(hKey, wide(valueName)); }
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR valueName) { return registry::deleteValue(hKey, wide(valueName)); }

LSTATUS RegEnumValueW(HKEY hKey, DWORD index, LPWSTR valueName, LPDWORD cchValueName, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD cbData) {
  if (!valueName || !cchValueName || reserved || (data && !cbData)) return ERROR_INVALID_PARAMETER;
  // Reused: a walk over a whole hive calls this once per value. A large
  // buffer is let go again so one huge value does not stay for the thread's life.
  thread_local registry::ValueEntry e;
  LSTATUS rc = registry::enumValue(hKey, index, &e, data || cbData);
  if (rc == ERROR_SUCCESS) {
    rc = deliverName(e.name, valueName, cchValueName);
    if (rc == ERROR_SUCCESS) {
      if (type) *type = e.type;
      rc = deliverData(e.data, data, cbData);
    }
  }
  if (e.data.capacity() > (std::size_t(1) << 20)) e.data = {};
  return rc;
}

LSTATUS RegEnumValueA(HKEY hKey, DWORD index, LPSTR valueName, LPDWORD cchValueName, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD cbData) {
  if (!valueName || !cchValueName || reserved || (data && !cbData)) return ERROR_INVALID_PARAMETER;
  registry::ValueEntry e;
  LSTATUS rc = registry::enumValue(hKey, index, &e, data || cbData);
  if (rc != ERROR_SUCCESS) return rc;
  // 8-bit names end at their first NUL; names holding one are whole only
  // through the native calls.
  std::u16string_view n = e.name;
  n = n.substr(0, n.find(u'\0'));
  rc = deliverName(wideToAnsi(n), valueName, cchValueName);
  if (rc != ERROR_SUCCESS) return rc;
  if (type) *type = e.type;
  return deliverData(ansiData(e.type, std::move(e.data)), data, cbData);
}

// ---------------------------------------------------------------- security

LSTATUS RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR securityDescriptor,
                          LPDWORD cbSecurityDescriptor) {
  if (!cbSecurityDescriptor) return ERROR_INVALID_PARAMETER;
  if (info & SACL_SECURITY_INFORMATION) return ERROR_PRIVILEGE_NOT_HELD;
  REGSAM access = 0;
  LSTATUS rc = registry::handleAccess(hKey, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(access & READ_CONTROL)) return ERROR_ACCESS_DENIED;
  std::vector<std::uint8_t> whole;
  rc = registry::getSecurity(hKey, &whole);
  if (rc != ERROR_SUCCESS) return rc;
  auto parts = sd::parse(whole);
  if (!parts) return ERROR_INVALID_SECURITY_DESCR;
  sd::Parts asked;
  asked.control = parts->control;
  if (info & OWNER_SECURITY_INFORMATION) asked.owner = parts->owner;
  if (info & GROUP_SECURITY_INFORMATION) asked.group = parts->group;
  if (info & DACL_SECURITY_INFORMATION) asked.dacl = parts->dacl;
  const std::vector<std::uint8_t> out = sd::compose(asked);
  if (!securityDescriptor || *cbSecurityDescriptor < out.size()) {
    *cbSecurityDescriptor = DWORD(out.size());
    return ERROR_INSUFFICIENT_BUFFER;
  }
  std::memcpy(securityDescriptor, out.data(), out.size());
  *cbSecurityDescriptor = DWORD(out.size());
  return ERROR_SUCCESS;
}

LSTATUS RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR securityDescriptor) {
  if (!securityDescriptor) return ERROR_INVALID_PARAMETER;
  const auto* p = static_cast<const std::uint8_t*>(securityDescriptor);
  std::vector<std::uint8_t> bytes(p, p + sd::descriptorSize(p));
  return registry::setSecurity(hKey, info, bytes);
}

// ---------------------------------------------------------------- notification

LSTATUS RegNotifyChangeKeyValue(HKEY hKey, bool watchSubtree, DWORD notifyFilter, HANDLE event, bool asynchronous) {
  if (asynchronous) {
    if (!event) return ERROR_INVALID_PARAMETER;
    return registry::notifyChange(hKey, watchSubtree, notifyFilter, event);
  }
  HANDLE own = CreateEventW(nullptr, true, false, nullptr);
  LSTATUS rc = registry::notifyChange(hKey, watchSubtree, notifyFilter, own);
  if (rc == ERROR_SUCCESS) WaitForSingleObject(own, INFINITE);
  CloseHandle(own);
  return rc;
}

// ---------------------------------------------------------------- hives

LSTATUS RegLoadKeyA(HKEY hKey, LPCSTR subKey, LPCSTR file) {
  if (!subKey || !file) return ERROR_INVALID_PARAMETER;
  const std::u16string s = wide(subKey), f = wide(file);
  return loadW(hKey, s.c_str(), f.c_str());
}

LSTATUS RegLoadKeyW(HKEY hKey, LPCWSTR subKey, LPCWSTR file) { return loadW(hKey, subKey, file); }

LSTATUS RegUnLoadKeyA(HKEY hKey, LPCSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return registry::unloadHive(hKey, wide(subKey));
}

LSTATUS RegUnLoadKeyW(HKEY hKey, LPCWSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return registry::unloadHive(hKey, wide(subKey));
}

// ---------------------------------------------------------------- connection

LSTATUS RegConnectRegistryA(LPCSTR machineName, HKEY hKey, PHKEY result) {
  return connectW(wide(machineName), hKey, result);
}

LSTATUS RegConnectRegistryW(LPCWSTR machineName, HKEY hKey, PHKEY result) {
  return connectW(wide(machineName), hKey, result);
}

LSTATUS RegOpenCurrentUser(REGSAM samDesired, PHKEY result) {
  return openW(HKEY_USERS, asciiToWide(currentUserSid()), 0, samDesired, result);
}

}  // namespace platform

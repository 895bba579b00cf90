#include "platform/Security.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/Kernel.h"
#include "platform/KernelObjects.h"
#include "platform/Text.h"

namespace platform {

namespace {

// Windows' local identifiers of the privileges (their LowPart).
struct PrivilegeName {
  const char* name;
  DWORD luid;
};
constexpr PrivilegeName kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},         {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},          {"SeIncreaseQuotaPrivilege", 5},
    {"SeMachineAccountPrivilege", 6},      {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},            {"SeTakeOwnershipPrivilege", 9},
    {"SeLoadDriverPrivilege", 10},         {"SeSystemProfilePrivilege", 11},
    {"SeSystemtimePrivilege", 12},         {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14}, {"SeCreatePagefilePrivilege", 15},
    {"SeCreatePermanentPrivilege", 16},    {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},            {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},              {"SeAuditPrivilege", 21},
    {"SeSystemEnvironmentPrivilege", 22},  {"SeChangeNotifyPrivilege", 23},
    {"SeRemoteShutdownPrivilege", 24},     {"SeUndockPrivilege", 25},
    {"SeSyncAgentPrivilege", 26},          {"SeEnableDelegationPrivilege", 27},
    {"SeManageVolumePrivilege", 28},       {"SeImpersonatePrivilege", 29},
    {"SeCreateGlobalPrivilege", 30},
};

// What an elevated administrator's token holds: the attributes per LUID.
std::map<DWORD, DWORD> startingPrivileges() {
  const DWORD enabledByDefault = SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT;
  return {
      {5, 0},  {8, 0},  {9, 0},  {10, 0}, {11, 0}, {12, 0}, {13, 0}, {14, 0},
      {15, 0}, {17, 0}, {18, 0}, {19, 0}, {20, 0}, {22, 0}, {23, enabledByDefault},
      {24, 0}, {25, 0}, {28, 0}, {29, enabledByDefault}, {30, enabledByDefault},
  };
}

struct TokenState {
  std::mutex mutex;
  std::map<DWORD, DWORD> privileges = startingPrivileges();
  std::map<std::uintptr_t, DWORD> handles;  // handle -> granted access
};

TokenState& token() {
  static TokenState* state = new TokenState;  // lives to the very end, like the process token
  return *state;
}

bool lookupPrivilege(std::string_view name, LUID* luid) {
  if (!luid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  for (const auto& p : kPrivileges) {
    std::string_view n = p.name;
    if (n.size() == name.size() &&
        std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        })) {
      *luid = LUID{p.luid, 0};
      return true;
    }
  }
  SetLastError(ERROR_NO_SUCH_PRIVILEGE);
  return false;
}

std::uint64_t fnv1a(std::string_view text, std::uint64_t h = 1469598103934665603ull) {
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string machineIdentity() {
  for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::ifstream in(file);
    std::string id;
    if (in && std::getline(in, id) && !id.empty()) return id;
  }
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0 && host[0]) return host;
  return "hivescope";
}

}  // namespace

namespace kernel {
bool closeTokenHandle(HANDLE handle) {
  TokenState& t = token();
  std::lock_guard lock(t.mutex);
  return t.handles.erase(handle.value) != 0;
}
}  // namespace kernel

bool OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* result) {
  if (process != GetCurrentProcess() || !result) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  TokenState& t = token();
  std::lock_guard lock(t.mutex);
  HANDLE h(kernel::allocateHandleValue());
  t.handles[h.value] = desiredAccess;
  *result = h;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, LUID* luid) {
  if (systemName && *systemName) {
    SetLastError(ERROR_NONE_MAPPED);
    return false;
  }
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return lookupPrivilege(name, luid);
}

bool LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, LUID* luid) {
  const std::string system = systemName ? utf16ToWtf8(systemName) : std::string();
  const std::string privilege = name ? utf16ToWtf8(name) : std::string();
  return LookupPrivilegeValueA(system.c_str(), name ? privilege.c_str() : nullptr, luid);
}

bool AdjustTokenPrivileges(HANDLE tokenHandle, bool disableAllPrivileges, const TOKEN_PRIVILEGES* newState,
                           DWORD bufferLength, TOKEN_PRIVILEGES* previousState, DWORD* returnLength) {
  TokenState& t = token();
  std::lock_guard lock(t.mutex);
  auto h = t.handles.find(tokenHandle.value);
  if (h == t.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (!(h->second & TOKEN_ADJUST_PRIVILEGES)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (!disableAllPrivileges && !newState) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }

  // What changes: (luid, new attributes).
  std::vector<std::pair<DWORD, DWORD>> changes;
  bool notAll = false;
  if (disableAllPrivileges) {
    for (auto& [luid, attrs] : t.privileges)
      if (attrs & SE_PRIVILEGE_ENABLED) changes.emplace_back(luid, attrs & ~SE_PRIVILEGE_ENABLED);
  } else {
    // The count comes from the caller; a huge one is a caller bug, but must
    // not make us walk far beyond any sane record.
    if (newState->PrivilegeCount > 64) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& e = newState->Privileges[i];
      auto it = e.Luid.HighPart == 0 ? t.privileges.find(e.Luid.LowPart) : t.privileges.end();
      if (it == t.privileges.end()) {
        notAll = true;
        continue;
      }
      DWORD attrs = (it->second & ~SE_PRIVILEGE_ENABLED) | (e.Attributes & SE_PRIVILEGE_ENABLED);
      if (attrs != it->second) changes.emplace_back(it->first, attrs);
    }
  }

  const DWORD needed = DWORD(sizeof(DWORD) + std::max<std::size_t>(changes.size(), 1) * sizeof(LUID_AND_ATTRIBUTES));
  if (previousState) {
    if (returnLength) *returnLength = needed;
    if (bufferLength < needed) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    previousState->PrivilegeCount = DWORD(changes.size());
    for (std::size_t i = 0; i < changes.size(); ++i) {
      previousState->Privileges[i].Luid = LUID{changes[i].first, 0};
      previousState->Privileges[i].Attributes = t.privileges[changes[i].first];
    }
  }
  for (auto& [luid, attrs] : changes) t.privileges[luid] = attrs;
  SetLastError(notAll ? DWORD(ERROR_NOT_ALL_ASSIGNED) : DWORD(ERROR_SUCCESS));
  return true;
}

bool processPrivilegeEnabled(LPCSTR name) {
  LUID luid;
  if (!name || !lookupPrivilege(name, &luid)) return false;
  TokenState& t = token();
  std::lock_guard lock(t.mutex);
  auto it = t.privileges.find(luid.LowPart);
  return it != t.privileges.end() && (it->second & SE_PRIVILEGE_ENABLED);
}

void resetProcessTokenForTests() {
  TokenState& t = token();
  std::lock_guard lock(t.mutex);
  t.privileges = startingPrivileges();
}

std::string currentUserSid() {
  // A keyed hash rather than the machine id itself: the id should not leak
  // into files that may be shared.
  const std::uint64_t h1 = fnv1a("hivescope-user-sid:" + machineIdentity());
  const std::uint64_t h2 = fnv1a("second", h1);
  // Sub-authorities of real domains are large numbers; keep them in that range.
  const std::uint32_t a = std::uint32_t(h1) | 0x10000000u;
  const std::uint32_t b = std::uint32_t(h1 >> 32) | 0x10000000u;
  const std::uint32_t c = std::uint32_t(h2) | 0x10000000u;
  const std::uint32_t rid = 1000u + std::uint32_t(::getuid());
  return "S-1-5-21-" + std::to_string(a) + "-" + std::to_string(b) + "-" + std::to_string(c) + "-" +
         std::to_string(rid);
}

}  // namespace platform

#include "platform/Security.h"

#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <cctype>
#include <map>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/Kernel.h"
#include "platform/KernelObjects.h"
#include "platform/SecurityDescriptor.h"
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

std::string machineDomainSid() {
  static const std::string sid = [] {
  // A keyed hash rather than the machine id itself: the id should not leak
  // into files that may be shared.
  const std::uint64_t h1 = fnv1a("hivescope-user-sid:" + machineIdentity());
  const std::uint64_t h2 = fnv1a("second", h1);
  // Sub-authorities of real domains are large numbers; keep them in that range.
  const std::uint32_t a = std::uint32_t(h1) | 0x10000000u;
  const std::uint32_t b = std::uint32_t(h1 >> 32) | 0x10000000u;
  const std::uint32_t c = std::uint32_t(h2) | 0x10000000u;
  return "S-1-5-21-" + std::to_string(a) + "-" + std::to_string(b) + "-" + std::to_string(c);
  }();
  return sid;
}

std::string currentUserSid() { return machineDomainSid() + "-" + std::to_string(1000u + std::uint32_t(::getuid())); }

std::string machineName() {
  char host[256] = {};
  std::string name = ::gethostname(host, sizeof host - 1) == 0 && host[0] ? host : "LOCALHOST";
  name = name.substr(0, name.find('.'));
  for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes sidOf(const std::string& text) { return sd::sidFromString(text).value_or(Bytes{}); }

}  // namespace

std::vector<Bytes> tokenSids() {
  return {sidOf(currentUserSid()), sidOf("S-1-1-0"), sidOf("S-1-5-11"), sidOf("S-1-5-32-545"),
          sidOf("S-1-5-32-544")};
}

Bytes tokenOwnerSid() { return sidOf("S-1-5-32-544"); }
Bytes tokenPrimaryGroupSid() { return sidOf(machineDomainSid() + "-513"); }

// ---------------------------------------------------------------- text forms

HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}

namespace {

template <class T>
T* copyToLocal(const void* data, std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (p && size) std::memcpy(p, data, size);
  return static_cast<T*>(p);
}

Bytes domainBytes() { return sidOf(machineDomainSid()); }

}  // namespace

DWORD GetLengthSid(PSID sid) {
  if (!sid) return 0;
  const auto* p = static_cast<const std::uint8_t*>(sid);
  if (p[0] != 1 || p[1] > 15) return 0;
  return DWORD(8 + 4 * p[1]);
}

bool ConvertSecurityDescriptorToStringSecurityDescriptorA(PSECURITY_DESCRIPTOR descriptor, DWORD revision,
                                                          SECURITY_INFORMATION info, LPSTR* text, ULONG* textLength) {
  if (!descriptor || !text) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (revision != SDDL_REVISION_1) {
    SetLastError(ERROR_UNKNOWN_REVISION);
    return false;
  }
  const std::size_t size = sd::descriptorSize(static_cast<const std::uint8_t*>(descriptor));
  auto out = sd::toSddl({static_cast<const std::uint8_t*>(descriptor), size}, info, domainBytes());
  if (!out) {
    SetLastError(out.error());
    return false;
  }
  *text = copyToLocal<char>(out->c_str(), out->size() + 1);
  if (!*text) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (textLength) *textLength = ULONG(out->size() + 1);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor, ULONG* size) {
  if (!text || !descriptor) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (revision != SDDL_REVISION_1) {
    SetLastError(ERROR_UNKNOWN_REVISION);
    return false;
  }
  auto bytes = sd::fromSddl(text, domainBytes());
  if (!bytes) {
    SetLastError(bytes.error());
    return false;
  }
  *descriptor = copyToLocal<void>(bytes->data(), bytes->size());
  if (size) *size = ULONG(bytes->size());
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool ConvertSidToStringSidA(PSID sid, LPSTR* text) {
  const DWORD len = GetLengthSid(sid);
  if (!text || len == 0) {
    SetLastError(ERROR_INVALID_SID);
    return false;
  }
  auto s = sd::sidToString({static_cast<const std::uint8_t*>(sid), len});
  if (!s) {
    SetLastError(ERROR_INVALID_SID);
    return false;
  }
  *text = copyToLocal<char>(s->c_str(), s->size() + 1);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool ConvertStringSidToSidA(LPCSTR text, PSID* sid) {
  if (!text || !sid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  auto bytes = sd::sidFromSddl(text, domainBytes());
  if (!bytes) {
    SetLastError(ERROR_INVALID_SID);
    return false;
  }
  *sid = copyToLocal<void>(bytes->data(), bytes->size());
  SetLastError(ERROR_SUCCESS);
  return true;
}

// ---------------------------------------------------------------- accounts

namespace {

struct Account {
  std::string sid;
  std::string name;
  std::string domain;
  SID_NAME_USE use;
};

const std::vector<Account>& wellKnownAccounts() {
  static const std::vector<Account> accounts = [] {
    const std::string nt = "NT AUTHORITY";
    const std::string builtin = "BUILTIN";
    std::vector<Account> a = {
        {"S-1-1-0", "Everyone", "", SidTypeWellKnownGroup},
        {"S-1-2-0", "LOCAL", "", SidTypeWellKnownGroup},
        {"S-1-3-0", "CREATOR OWNER", "", SidTypeWellKnownGroup},
        {"S-1-3-1", "CREATOR GROUP", "", SidTypeWellKnownGroup},
        {"S-1-3-4", "OWNER RIGHTS", "", SidTypeWellKnownGroup},
        {"S-1-5-1", "DIALUP", nt, SidTypeWellKnownGroup},
        {"S-1-5-2", "NETWORK", nt, SidTypeWellKnownGroup},
        {"S-1-5-3", "BATCH", nt, SidTypeWellKnownGroup},
        {"S-1-5-4", "INTERACTIVE", nt, SidTypeWellKnownGroup},
        {"S-1-5-6", "SERVICE", nt, SidTypeWellKnownGroup},
        {"S-1-5-7", "ANONYMOUS LOGON", nt, SidTypeWellKnownGroup},
        {"S-1-5-9", "ENTERPRISE DOMAIN CONTROLLERS", nt, SidTypeWellKnownGroup},
        {"S-1-5-10", "SELF", nt, SidTypeWellKnownGroup},
        {"S-1-5-11", "Authenticated Users", nt, SidTypeWellKnownGroup},
        {"S-1-5-12", "RESTRICTED", nt, SidTypeWellKnownGroup},
        {"S-1-5-13", "TERMINAL SERVER USER", nt, SidTypeWellKnownGroup},
        {"S-1-5-14", "REMOTE INTERACTIVE LOGON", nt, SidTypeWellKnownGroup},
        {"S-1-5-18", "SYSTEM", nt, SidTypeWellKnownGroup},
        {"S-1-5-19", "LOCAL SERVICE", nt, SidTypeWellKnownGroup},
        {"S-1-5-20", "NETWORK SERVICE", nt, SidTypeWellKnownGroup},
        {"S-1-5-32", "BUILTIN", builtin, SidTypeDomain},
        {"S-1-5-32-544", "Administrators", builtin, SidTypeAlias},
        {"S-1-5-32-545", "Users", builtin, SidTypeAlias},
        {"S-1-5-32-546", "Guests", builtin, SidTypeAlias},
        {"S-1-5-32-547", "Power Users", builtin, SidTypeAlias},
        {"S-1-5-32-548", "Account Operators", builtin, SidTypeAlias},
        {"S-1-5-32-549", "Server Operators", builtin, SidTypeAlias},
        {"S-1-5-32-550", "Print Operators", builtin, SidTypeAlias},
        {"S-1-5-32-551", "Backup Operators", builtin, SidTypeAlias},
        {"S-1-5-32-552", "Replicator", builtin, SidTypeAlias},
        {"S-1-5-32-555", "Remote Desktop Users", builtin, SidTypeAlias},
        {"S-1-5-32-556", "Network Configuration Operators", builtin, SidTypeAlias},
        {"S-1-5-32-558", "Performance Monitor Users", builtin, SidTypeAlias},
        {"S-1-5-32-559", "Performance Log Users", builtin, SidTypeAlias},
        {"S-1-5-32-568", "IIS_IUSRS", builtin, SidTypeAlias},
        {"S-1-5-32-569", "Cryptographic Operators", builtin, SidTypeAlias},
        {"S-1-5-32-573", "Event Log Readers", builtin, SidTypeAlias},
        {"S-1-5-32-578", "Hyper-V Administrators", builtin, SidTypeAlias},
        {"S-1-5-32-579", "Access Control Assistance Operators", builtin, SidTypeAlias},
        {"S-1-5-32-580", "Remote Management Users", builtin, SidTypeAlias},
        {"S-1-5-80-0", "ALL SERVICES", "NT SERVICE", SidTypeWellKnownGroup},
        {"S-1-15-2-1", "ALL APPLICATION PACKAGES", "APPLICATION PACKAGE AUTHORITY", SidTypeWellKnownGroup},
        {"S-1-16-4096", "Low Mandatory Level", "Mandatory Label", SidTypeLabel},
        {"S-1-16-8192", "Medium Mandatory Level", "Mandatory Label", SidTypeLabel},
        {"S-1-16-12288", "High Mandatory Level", "Mandatory Label", SidTypeLabel},
        {"S-1-16-16384", "System Mandatory Level", "Mandatory Label", SidTypeLabel},
    };
    const std::string domain = machineDomainSid();
    const std::string host = machineName();
    a.push_back({domain, host, host, SidTypeDomain});
    a.push_back({domain + "-513", "None", host, SidTypeGroup});
    return a;
  }();
  return accounts;
}

bool sameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool thisMachine(LPCSTR systemName) {
  if (!systemName || !*systemName) return true;
  std::string_view n = systemName;
  while (n.starts_with('\\')) n.remove_prefix(1);
  return sameText(n, machineName()) || sameText(n, "localhost") || n == ".";
}

// Copies text into a caller buffer of `*size` characters; false (and the
// size needed, NUL included) when it does not fit.
bool fits(const std::string& text, DWORD* size) {
  if (!size) return false;
  const bool ok = *size > text.size();
  if (!ok) *size = DWORD(text.size() + 1);
  return ok;
}

std::optional<Account> accountOfSid(const std::string& sid) {
  for (const Account& a : wellKnownAccounts())
    if (a.sid == sid) return a;
  const std::string domain = machineDomainSid() + "-";
  if (sid.starts_with(domain)) {
    std::uint32_t rid = 0;
    const std::string_view ridText = std::string_view(sid).substr(domain.size());
    auto [p, ec] = std::from_chars(ridText.data(), ridText.data() + ridText.size(), rid);
    if (ec == std::errc() && p == ridText.data() + ridText.size() && rid >= 1000) {
      struct passwd pw;
      struct passwd* found = nullptr;
      char buf[4096];
      if (::getpwuid_r(uid_t(rid - 1000), &pw, buf, sizeof buf, &found) == 0 && found)
        return Account{sid, found->pw_name, machineName(), SidTypeUser};
    }
  }
  return std::nullopt;
}

std::optional<Account> accountOfName(std::string_view full) {
  std::string_view domain;
  std::string_view name = full;
  if (auto slash = full.find('\\'); slash != std::string_view::npos) {
    domain = full.substr(0, slash);
    name = full.substr(slash + 1);
  }
  for (const Account& a : wellKnownAccounts())
    if (sameText(a.name, name) && (domain.empty() || sameText(a.domain, domain))) return a;
  if (!domain.empty() && !sameText(domain, machineName())) return std::nullopt;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buf[4096];
  const std::string n(name);
  if (::getpwnam_r(n.c_str(), &pw, buf, sizeof buf, &found) == 0 && found)
    return Account{machineDomainSid() + "-" + std::to_string(1000u + std::uint32_t(found->pw_uid)), found->pw_name,
                   machineName(), SidTypeUser};
  return std::nullopt;
}

}  // namespace

bool LookupAccountSidA(LPCSTR systemName, PSID sid, LPSTR name, DWORD* nameSize, LPSTR domain, DWORD* domainSize,
                       SID_NAME_USE* use) {
  const DWORD len = GetLengthSid(sid);
  if (len == 0 || !nameSize || !domainSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  auto text = sd::sidToString({static_cast<const std::uint8_t*>(sid), len});
  auto account = text && thisMachine(systemName) ? accountOfSid(*text) : std::nullopt;
  if (!account) {
    SetLastError(ERROR_NONE_MAPPED);
    return false;
  }
  const bool nameFits = fits(account->name, nameSize) && name;
  const bool domainFits = fits(account->domain, domainSize) && domain;
  if (!nameFits || !domainFits) {
    *nameSize = DWORD(account->name.size() + 1);
    *domainSize = DWORD(account->domain.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(name, account->name.c_str(), account->name.size() + 1);
  std::memcpy(domain, account->domain.c_str(), account->domain.size() + 1);
  *nameSize = DWORD(account->name.size());
  *domainSize = DWORD(account->domain.size());
  if (use) *use = account->use;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool LookupAccountNameA(LPCSTR systemName, LPCSTR name, PSID sid, DWORD* sidSize, LPSTR domain, DWORD* domainSize,
                        SID_NAME_USE* use) {
  if (!name || !sidSize || !domainSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  auto account = thisMachine(systemName) ? accountOfName(name) : std::nullopt;
  if (!account) {
    SetLastError(ERROR_NONE_MAPPED);
    return false;
  }
  const Bytes bytes = sidOf(account->sid);
  const bool sidFits = sid && *sidSize >= bytes.size();
  const bool domainFits = fits(account->domain, domainSize) && domain;
  if (!sidFits || !domainFits) {
    *sidSize = DWORD(bytes.size());
    *domainSize = DWORD(account->domain.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(sid, bytes.data(), bytes.size());
  std::memcpy(domain, account->domain.c_str(), account->domain.size() + 1);
  *sidSize = DWORD(bytes.size());
  *domainSize = DWORD(account->domain.size());
  if (use) *use = account->use;
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace platform

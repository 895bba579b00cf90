#include "core/kxSecurity.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <memory>

#include "core/CommaText.h"
#include "core/kxDate.h"
#include "platform/ErrorText.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/Text.h"

using namespace platform;

namespace {

struct CodeName {
  std::string_view code;
  std::string_view name;
};

std::string unknownCode(std::string_view code) { return "?Unknown:" + std::string(code) + "?"; }

std::string lookUp(std::span<const CodeName> table, std::string_view code) {
  for (const CodeName& entry : table) {
    if (entry.code == code) return std::string(entry.name);
  }
  return unknownCode(code);
}

constexpr CodeName kAceTypes[] = {
    {"A", "ACCESS_ALLOWED_ACE_TYPE"},
    {"D", "ACCESS_DENIED_ACE_TYPE "},
    {"OA", "ACCESS_ALLOWED_OBJECT_ACE_TYPE "},
    {"OD", "ACCESS_DENIED_OBJECT_ACE_TYPE "},
    {"AU", "SYSTEM_AUDIT_ACE_TYPE "},
    {"AL", "SYSTEM_ALARM_ACE_TYPE "},
    {"OU", "SYSTEM_AUDIT_OBJECT_ACE_TYPE "},
    {"OL", "SYSTEM_ALARM_OBJECT_ACE_TYPE "},
};

constexpr CodeName kAceFlags[] = {
    {"CI", "CONTAINER_INHERIT_ACE"},      {"OI", "OBJECT_INHERIT_ACE"},
    {"NP", "NO_PROPAGATE_INHERIT_ACE"},   {"IO", "INHERIT_ONLY_ACE"},
    {"ID", "INHERITED_ACE"},              {"SA", "SUCCESSFUL_ACCESS_ACE_FLAG"},
    {"FA", "FAILED_ACCESS_ACE_FLAG"},
};

constexpr CodeName kRights[] = {
    {"GA", "GENERIC_ALL"},
    {"GR", "GENERIC_READ"},
    {"GW", "GENERIC_WRITE"},
    {"GX", "GENERIC_EXECUTE"},
    {"RC", "READ_CONTROL"},
    {"SD", "DELETE"},
    {"WD", "WRITE_DAC"},
    {"WO", "WRITE_OWNER"},
    {"RP", "ADS_RIGHT_DS_READ_PROP"},
    {"WP", "ADS_RIGHT_DS_WRITE_PROP"},
    {"CC", "ADS_RIGHT_DS_CREATE_CHILD"},
    {"DC", "ADS_RIGHT_DS_DELETE_CHILD"},
    {"LC", "ADS_RIGHT_DS_LIST"},
    {"SW", "ADS_RIGHT_DS_SELF"},
    {"LO", "ADS_RIGHT_DS_LIST_OBJECT"},
    {"DT", "ADS_RIGHT_DS_DELETE_TREE"},
    {"CR", "ADS_RIGHT_DS_CONTROL_ACCESS"},
    {"FA", "FILE_ALL_ACCESS"},
    {"FR", "FILE_GENERIC_READ"},
    {"FW", "FILE_GENERIC_WRITE"},
    {"FX", "FILE_GENERIC_EXECUTE"},
    {"KA", "KEY_ALL_ACCESS"},
    {"KR", "KEY_READ"},
    {"KW", "KEY_WRITE"},
    {"KX", "KEY_EXECUTE"},
};

constexpr CodeName kSidAliases[] = {
    {"AO", "Account operators"},
    {"RU", "Alias to allow previous Windows 2000"},
    {"AN", "Anonymous logon"},
    {"AU", "Authenticated users"},
    {"BA", "Built-in administrators"},
    {"BG", "Built-in guests"},
    {"BO", "Backup operators"},
    {"BU", "Built-in users"},
    {"CA", "Certificate publishers"},
    {"CG", "Creator group"},
    {"CO", "Creator owner"},
    {"DA", "Domain administrators"},
    {"DC", "Domain computers"},
    {"DD", "Domain controllers"},
    {"DG", "Domain guests"},
    {"DU", "Domain users"},
    {"EA", "Enterprise administrators"},
    {"ED", "Enterprise domain controllers"},
    {"WD", "Everyone"},
    {"PA", "Group Policy administrators"},
    {"IU", "Interactively logged-on user"},
    {"LA", "Local administrator"},
    {"LG", "Local guest"},
    {"LS", "Local service account"},
    {"SY", "Local system"},
    {"NU", "Network logon user"},
    {"NO", "Network configuration operators"},
    {"NS", "Network service account"},
    {"PO", "Printer operators"},
    {"PS", "Principal self"},
    {"PU", "Power users"},
    {"RS", "RAS servers group"},
    {"RD", "Terminal server users"},
    {"RE", "Replicator"},
    {"RC", "Restricted code"},
    {"SA", "Schema administrators"},
    {"SO", "Server operators"},
    {"SU", "Service logon user"},
};

// The bits of a key's access mask, lowest first.
struct MaskBit {
  std::uint32_t bit;
  std::string_view name;
};
constexpr MaskBit kMaskBits[] = {
    {KEY_QUERY_VALUE, "KEY_QUERY_VALUE"},
    {KEY_SET_VALUE, "KEY_SET_VALUE"},
    {KEY_CREATE_SUB_KEY, "KEY_CREATE_SUB_KEY"},
    {KEY_ENUMERATE_SUB_KEYS, "KEY_ENUMERATE_SUB_KEYS"},
    {KEY_NOTIFY, "KEY_NOTIFY"},
    {KEY_CREATE_LINK, "KEY_CREATE_LINK"},
    {KEY_WOW64_64KEY, "KEY_WOW64_64KEY"},
    {KEY_WOW64_32KEY, "KEY_WOW64_32KEY"},
    {DELETE, "DELETE"},
    {READ_CONTROL, "READ_CONTROL"},
    {WRITE_DAC, "WRITE_DAC"},
    {WRITE_OWNER, "WRITE_OWNER"},
    {SYNCHRONIZE, "SYNCHRONIZE"},
    {ACCESS_SYSTEM_SECURITY, "ACCESS_SYSTEM_SECURITY"},
    {MAXIMUM_ALLOWED, "MAXIMUM_ALLOWED"},
    {GENERIC_ALL, "GENERIC_ALL"},
    {GENERIC_EXECUTE, "GENERIC_EXECUTE"},
    {GENERIC_WRITE, "GENERIC_WRITE"},
    {GENERIC_READ, "GENERIC_READ"},
};

// Names each two-letter code of a run, joined by ",".
template <typename Namer>
std::string namePairs(std::string_view run, Namer name) {
  std::string out;
  for (std::size_t i = 0; i + 1 < run.size(); i += 2) {
    if (!out.empty()) out += ',';
    out += name(run.substr(i, 2));
  }
  return out;
}

// What the system allocated for a text, released when the text is copied.
struct LocalText {
  LPSTR text = nullptr;
  ~LocalText() {
    if (text) LocalFree(text);
  }
};

}  // namespace

bool kxSecurityAvailable() { return true; }

std::string kxGetRegistrySecurityString(HKEY root, const std::string& keyPath, SECURITY_INFORMATION information,
                                        TRegistryView view) {
  TMyRegistry reg;
  reg.SetView(view);
  reg.SetRootKey(root);
  if (!reg.OpenKeyReadOnly(keyPath)) {
    const auto code = static_cast<std::uint32_t>(reg.LastError());
    throw SecurityAPIException("kxGetRegistrySecurityString.OpenKeyReadOnly failed: " + systemErrorText(code), code);
  }
  DWORD size = 0;
  LSTATUS rc = RegGetKeySecurity(reg.CurrentKey(), information, nullptr, &size);
  std::vector<std::uint8_t> descriptor(size);
  if (rc == ERROR_INSUFFICIENT_BUFFER) rc = RegGetKeySecurity(reg.CurrentKey(), information, descriptor.data(), &size);
  if (rc != ERROR_SUCCESS)
    throw SecurityAPIException("kxGetRegistrySecurityString.RegGetKeySecurity failed.", static_cast<std::uint32_t>(rc));
  descriptor.resize(size);
  // Whatever was read is asked for whole; parts that are not there give no
  // text.
  return kxConvertSecurityDescriptor(descriptor, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                                     DACL_SECURITY_INFORMATION);
}

std::string kxConvertSecurityDescriptor(std::span<const std::uint8_t> descriptor, SECURITY_INFORMATION information) {
  // The conversion reads the descriptor's own offsets; a buffer shorter than
  // its header is refused here rather than read past.
  if (descriptor.size() < 20) {
    throw std::runtime_error(
        "kxConvertSecurityDescriptor.ConvertSecurityDescriptorToStringSecurityDescriptor failed (" +
        systemErrorText(ERROR_INVALID_PARAMETER) + ")!");
  }
  std::vector<std::uint8_t> copy(descriptor.begin(), descriptor.end());
  LocalText text;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(copy.data(), SDDL_REVISION_1, information, &text.text,
                                                            nullptr)) {
    throw std::runtime_error(
        "kxConvertSecurityDescriptor.ConvertSecurityDescriptorToStringSecurityDescriptor failed (" +
        systemErrorText(GetLastError()) + ")!");
  }
  return text.text ? std::string(text.text) : std::string();
}

std::string kxConvertSidToStringSid(std::span<const std::uint8_t> sid) {
  std::vector<std::uint8_t> copy(sid.begin(), sid.end());
  LocalText text;
  if (copy.empty() || GetLengthSid(copy.data()) > copy.size() || !ConvertSidToStringSidA(copy.data(), &text.text)) {
    const DWORD code = copy.empty() || GetLengthSid(copy.data()) > copy.size() ? ERROR_INVALID_SID : GetLastError();
    throw std::runtime_error("kxConvertSidToStringSid.ConvertSidToStringSid failed (" + systemErrorText(code) + ")!");
  }
  return text.text ? std::string(text.text) : std::string();
}

std::vector<std::uint8_t> kxLookupAccountName(const std::string& account, const std::string& computer) {
  const char* system = computer.empty() ? nullptr : computer.c_str();
  DWORD sidSize = 0, domainSize = 0;
  SID_NAME_USE use{};
  LookupAccountNameA(system, account.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
  std::vector<std::uint8_t> sid(sidSize);
  std::string domain(std::size_t{domainSize} * 2 + 1, '\0');
  DWORD domainCapacity = domainSize * 2;
  if (sidSize == 0 ||
      !LookupAccountNameA(system, account.c_str(), sid.data(), &sidSize, domain.data(), &domainCapacity, &use)) {
    throw std::runtime_error("kxLookupAccountName.LookupAccountName failed (" + systemErrorText(GetLastError()) + ")!");
  }
  sid.resize(sidSize);
  return sid;
}

void SplitSddlAcl(std::string_view text, std::string& prefix, std::string& flags, std::vector<std::string>& aces) {
  prefix.clear();
  flags.clear();
  aces.clear();
  const std::size_t open = text.find('(');
  const std::string_view head = text.substr(0, open);
  const std::size_t colon = head.find(':');
  if (colon == std::string_view::npos) {
    prefix = std::string(head);
  } else {
    prefix = std::string(head.substr(0, colon));
    flags = std::string(head.substr(colon + 1));
  }
  if (open == std::string_view::npos) return;
  std::string_view rest = text.substr(open);
  while (!rest.empty()) {
    const std::size_t close = rest.find(')');
    if (close == std::string_view::npos) {
      aces.emplace_back(rest);
      break;
    }
    aces.emplace_back(rest.substr(0, close + 1));
    rest.remove_prefix(close + 1);
  }
}

TAceFields ParseAceString(std::string_view ace) {
  TAceFields fields;
  if (ace.size() < 3 || ace.front() != '(' || ace.back() != ')') return fields;
  std::string_view inner = ace.substr(1, ace.size() - 2);
  std::string* const slots[] = {&fields.Type,        &fields.Flags,       &fields.Rights,
                                &fields.ObjectGuid,  &fields.InheritGuid, &fields.AccountSid};
  for (std::string* slot : slots) {
    const std::size_t semicolon = inner.find(';');
    *slot = std::string(inner.substr(0, semicolon));
    if (semicolon == std::string_view::npos) break;
    inner.remove_prefix(semicolon + 1);
  }
  return fields;
}

std::string AceTypeName(std::string_view code) { return lookUp(kAceTypes, code); }
std::string AceFlagName(std::string_view code) { return lookUp(kAceFlags, code); }
std::string AccessRightName(std::string_view code) { return lookUp(kRights, code); }

std::string SidAliasName(std::string_view code) {
  if (code.size() != 2) return std::string(code);
  for (const CodeName& entry : kSidAliases) {
    if (entry.code == code) return std::string(entry.name);
  }
  return "Unknown(?): " + std::string(code);
}

std::string AceFlagsText(std::string_view flags) { return namePairs(flags, AceFlagName); }

std::string AccessRightsText(std::string_view rights, int) {
  if (rights.size() >= 2 && rights[0] == '0' && (rights[1] == 'x' || rights[1] == 'X')) {
    const std::string digits(rights.substr(2));
    return AccessMaskText(static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16)));
  }
  return namePairs(rights, AccessRightName);
}

std::string AccessMaskText(std::uint32_t mask) {
  std::string out;
  for (const MaskBit& entry : kMaskBits) {
    if (mask & entry.bit) {
      out += entry.name;
      out += ',';
      mask &= ~entry.bit;
    }
  }
  if (mask != 0) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X,", mask);
    out += hex;
  }
  return out;
}

std::vector<std::string> SplitNameList(std::string_view text) {
  std::vector<std::string> names;
  for (const std::u16string& field : SplitCommaText(ansiToWide(text))) names.push_back(wideToAnsi(field));
  if (names.empty()) names.emplace_back();
  return names;
}

std::string SidToAccountName(const std::string& sidText, const std::string& computer) {
  try {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidA(sidText.c_str(), &sid)) return SidAliasName(sidText);
    const std::unique_ptr<void, HLOCAL (*)(HLOCAL)> owned(sid, LocalFree);
    DWORD nameSize = 0, domainSize = 0;
    SID_NAME_USE use{};
    const char* system = nullptr;
    LookupAccountSidA(nullptr, sid, nullptr, &nameSize, nullptr, &domainSize, &use);
    if (nameSize == 0) {
      system = computer.empty() ? nullptr : computer.c_str();
      LookupAccountSidA(system, sid, nullptr, &nameSize, nullptr, &domainSize, &use);
    }
    std::string name(nameSize + 1, '\0'), domain(domainSize + 1, '\0');
    if (nameSize == 0 || !LookupAccountSidA(system, sid, name.data(), &nameSize, domain.data(), &domainSize, &use))
      return SidAliasName(sidText);
    name.resize(nameSize);
    domain.resize(domainSize);
    if (name.empty()) return SidAliasName(sidText);
    return domain.empty() ? name : name + " (" + domain + ")";
  } catch (...) {
    return SidAliasName(sidText);
  }
}

std::vector<TAceDescription> DescribeAcl(std::string_view text, const std::string& computer) {
  std::string prefix, flags;
  std::vector<std::string> aces;
  SplitSddlAcl(text, prefix, flags, aces);
  std::vector<TAceDescription> out;
  for (const std::string& ace : aces) {
    const TAceFields f = ParseAceString(ace);
    TAceDescription d;
    d.Account = SidToAccountName(f.AccountSid, computer);
    if (!f.Type.empty()) d.TypeName = AceTypeName(f.Type);
    if (!f.Flags.empty()) d.Flags = SplitNameList(AceFlagsText(f.Flags));
    d.Rights = SplitNameList(AccessRightsText(f.Rights, 0));
    d.ObjectGuid = f.ObjectGuid;
    d.InheritGuid = f.InheritGuid;
    out.push_back(std::move(d));
  }
  return out;
}

void AddAceReportLines(std::string_view text, std::vector<std::string>& list, bool append) {
  if (!append) list.clear();
  for (const TAceDescription& d : DescribeAcl(text, {})) {
    list.push_back(d.Account);
    if (!d.TypeName.empty()) list.push_back("+ ACE Type: " + d.TypeName);
    if (!d.Flags.empty()) {
      list.emplace_back("+ ACE Flags:");
      for (const std::string& name : d.Flags) list.push_back("  + " + name);
    }
    list.emplace_back("+ Rights:");
    for (const std::string& name : d.Rights) list.push_back("  + " + name);
    if (!d.ObjectGuid.empty()) list.push_back("+ Object GUID: " + d.ObjectGuid);
    if (!d.InheritGuid.empty()) list.push_back("+ Inherit GUID: " + d.InheritGuid);
  }
}

std::vector<std::string> KeyInfoLines(const TRegKeyInfo& info) {
  std::vector<std::string> lines{
      "  NumSubKeys: " + std::to_string(info.NumSubKeys),   "  MaxSubKeyLen: " + std::to_string(info.MaxSubKeyLen),
      "  NumValues: " + std::to_string(info.NumValues),     "  MaxValueLen: " + std::to_string(info.MaxValueLen),
      "  MaxDataLen: " + std::to_string(info.MaxDataLen),
  };
  std::string when;
  const double value = FileTimeToDateTime(info.FileTime);
  if (value > 0) {
    // The date-time is a local reading already: broken down as it stands.
    const auto seconds = static_cast<std::time_t>(std::llround((value - kUnixEpochDateTime) * 86400.0));
    std::tm tm{};
    if (gmtime_r(&seconds, &tm)) {
      char buffer[128];
      if (std::strftime(buffer, sizeof buffer, "%x", &tm) > 0) when = buffer;
      if (tm.tm_hour != 0 || tm.tm_min != 0 || tm.tm_sec != 0) {
        if (std::strftime(buffer, sizeof buffer, "%X", &tm) > 0) when += std::string(" ") + buffer;
      }
    }
  }
  lines.push_back("  FileTime: " + when);
  return lines;
}

// The key security report and the NULL DACL of the unit bwlRegTools.

#include <cstdint>

#include "core/bwlRegTools.h"
#include "core/kxSecurity.h"
#include "platform/ErrorText.h"
#include "platform/Registry.h"
#include "platform/Security.h"

using namespace platform;

namespace {

struct SecurityPart {
  SECURITY_INFORMATION information;
  const char* name;
};
// The order the report reads them in.
constexpr SecurityPart kParts[] = {
    {DACL_SECURITY_INFORMATION, "DACL_SECURITY_INFORMATION"},
    {GROUP_SECURITY_INFORMATION, "GROUP_SECURITY_INFORMATION"},
    {OWNER_SECURITY_INFORMATION, "OWNER_SECURITY_INFORMATION"},
    {SACL_SECURITY_INFORMATION, "SACL_SECURITY_INFORMATION"},
};

void addConversionFailure(DWORD error, std::vector<std::string>& lines) {
  lines.emplace_back("- Could not convert Security Descriptor to AnsiString!");
  switch (error) {
    case ERROR_INVALID_PARAMETER: lines.emplace_back("- Error message: Invalid parameter."); break;
    case ERROR_UNKNOWN_REVISION: lines.emplace_back("- Error message: The revision level is invalid."); break;
    case ERROR_NONE_MAPPED:
      lines.emplace_back(
          "- Error message: A SID in the input security descriptor could not be found in an account lookup "
          "operation.");
      break;
    case ERROR_INVALID_ACL:
      lines.emplace_back(
          "- Error message: Invalid ACL. This error is returned if the SE_DACL_PRESENT flag is set in the input "
          "security descriptor and the DACL is NULL.");
      break;
    default: break;
  }
}

void reportPart(HKEY key, const SecurityPart& part, std::vector<std::string>& lines) {
  lines.push_back(std::string("+ Accessing ") + part.name);
  DWORD size = 0;
  if (RegGetKeySecurity(key, part.information, nullptr, &size) == ERROR_SUCCESS) {
    // Only a part of no bytes at all reads into no buffer; there is nothing
    // to decode then.
    lines.emplace_back("+ Security settings read on first try.");
    return;
  }
  std::vector<std::uint8_t> descriptor(std::size_t{size} + 1);
  DWORD capacity = size + 1;
  const LSTATUS rc = RegGetKeySecurity(key, part.information, descriptor.data(), &capacity);
  if (rc != ERROR_SUCCESS) {
    lines.push_back("- Could not read even after allocating memory: " +
                    systemErrorText(static_cast<std::uint32_t>(rc)));
    return;
  }
  lines.emplace_back("+ Security settings read after allocating memory.");
  if (part.information == DACL_SECURITY_INFORMATION && descriptor.size() >= 4) {
    lines.emplace_back("+ Security settings read with allocated memory");
    lines.push_back("  Revision: " + std::to_string(descriptor[0]));
    lines.push_back("  Sbz1: " + std::to_string(descriptor[1]));
    lines.push_back("  Control: " + std::to_string(descriptor[2] | (descriptor[3] << 8)));
  }
  LPSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.data(), SDDL_REVISION_1, part.information,
                                                            &text, nullptr)) {
    addConversionFailure(GetLastError(), lines);
    return;
  }
  const std::string sddl = text ? text : "";
  if (text) LocalFree(text);
  if (sddl.empty()) return;
  lines.emplace_back("+ Converted security descriptor follows...");
  AddAceReportLines(sddl, lines, true);
}

}  // namespace

std::vector<std::string> GetKeyAccessReport(HKEY root, const std::string& keyPath, TRegistryView view) {
  std::vector<std::string> lines{"+ Accessing " + RootKeyToLongName(root) + keyPath};
  TMyRegistry reg;
  reg.SetView(view);
  reg.SetRootKey(root);
  if (!reg.OpenKeyReadOnly(keyPath)) {
    lines.emplace_back("- reg.OpenKeyReadOnly: Access denied!");
    return lines;
  }
  TRegKeyInfo info;
  if (reg.GetKeyInfo(info)) {
    for (std::string& line : KeyInfoLines(info)) lines.push_back(std::move(line));
  } else {
    lines.emplace_back("- reg.GetKeyInfo: Access denied!");
  }
  for (const SecurityPart& part : kParts) reportPart(reg.CurrentKey(), part, lines);
  reg.CloseKey();
  return lines;
}

void SetKeyNullDacl(HKEY root, const std::string& keyPath, TRegistryView view, InformationBox& box) {
  TMyRegistry reg;
  reg.SetView(view);
  reg.SetRootKey(root);
  reg.SetAccess(WRITE_DAC);
  if (!reg.OpenKey(keyPath, false)) return;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  LSTATUS rc = ERROR_INVALID_PARAMETER;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:NO_ACCESS_CONTROL", SDDL_REVISION_1, &descriptor,
                                                           nullptr)) {
    rc = RegSetKeySecurity(reg.CurrentKey(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
  }
  if (rc != ERROR_SUCCESS)
    box.showInformation("- Could not set key security: " + systemErrorText(static_cast<std::uint32_t>(rc)));
  reg.CloseKey();
}

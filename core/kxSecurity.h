#pragma once

// Key security: a key's security descriptor as SDDL text, the text taken
// apart into access-control entries and their readable names, and the SID and
// account conversions the hive finders use. The diagnostic report of a key's
// security and the NULL DACL are in core/bwlRegTools.h.
//
// SDDL as read here: an ACL part is a prefix letter ("D" DACL, "S" SACL,
// "O" owner, "G" group), ":", optional ACL flags ("PAI"), then entries, each
// "(" type ";" flags ";" rights ";" object GUID ";" inherit GUID ";" SID ")".
// Flags and rights are runs of two-letter codes; rights may instead be a
// hexadecimal mask beginning "0x".

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/bwlRegistry.h"
#include "platform/WinTypes.h"

// A failed security call, with the Windows error code it reported.
class SecurityAPIException : public std::runtime_error {
public:
  SecurityAPIException(const std::string& message, std::uint32_t code)
      : std::runtime_error(message), ErrorCode(code) {}
  std::uint32_t ErrorCode;
};

// Whether the security functions can be used; always so here.
bool kxSecurityAvailable();

// The owner, group and DACL text of the key's descriptor, of the parts that
// `information` (the *_SECURITY_INFORMATION bits) asked for. Throws
// SecurityAPIException when the key does not open or its security cannot be
// read.
std::string kxGetRegistrySecurityString(platform::HKEY root, const std::string& keyPath,
                                        platform::SECURITY_INFORMATION information, TRegistryView view);
// The SDDL text (revision 1) of a self-relative descriptor. Throws
// std::runtime_error naming the system's message.
std::string kxConvertSecurityDescriptor(std::span<const std::uint8_t> descriptor,
                                        platform::SECURITY_INFORMATION information);
// "S-1-..."; throws std::runtime_error for a malformed SID.
std::string kxConvertSidToStringSid(std::span<const std::uint8_t> sid);
// The SID of an account ("name" or "DOMAIN\name") on `computer` (empty: this
// one). Throws std::runtime_error when nobody of that name is known.
std::vector<std::uint8_t> kxLookupAccountName(const std::string& account, const std::string& computer);

// An ACL part cut in three: "D:PAI(A;;KA;;;BA)(...)" gives prefix "D", flags
// "PAI" and the entries "(A;;KA;;;BA)", "(...)", parentheses kept. Without a
// "(" there are no entries.
void SplitSddlAcl(std::string_view text, std::string& prefix, std::string& flags, std::vector<std::string>& aces);

// The six fields of one entry; all empty unless the text has at least three
// characters and stands in parentheses. Missing trailing fields stay empty.
struct TAceFields {
  std::string Type, Flags, Rights, ObjectGuid, InheritGuid, AccountSid;
};
TAceFields ParseAceString(std::string_view ace);

// The names of the codes; an unknown code gives "?Unknown:" + code + "?".
// Several type names end in a blank, as they always have.
std::string AceTypeName(std::string_view code);
std::string AceFlagName(std::string_view code);
std::string AccessRightName(std::string_view code);
// The description of a two-letter SID alias; any other two letters give
// "Unknown(?): " + the text, a text of another length comes back unchanged.
std::string SidAliasName(std::string_view code);

// Each two-letter code named, joined by "," (an odd last letter is dropped).
std::string AceFlagsText(std::string_view flags);
// Likewise for rights; a field beginning "0x" is a mask named by
// AccessMaskText, whose text ends with ",". `objectKind` is accepted for the
// callers' sake: every mask shown is a key's.
std::string AccessRightsText(std::string_view rights, int objectKind);
// Every set bit of a key's access mask by its name, each followed by ",";
// bits no name covers come last as one hexadecimal number.
std::string AccessMaskText(std::uint32_t mask);

// The names of a name list as the report and the tree show them: split at
// "," and blanks, a trailing "," giving an empty last name; an empty text is
// one empty name.
std::vector<std::string> SplitNameList(std::string_view text);

// "name (domain)", "name" without a domain, or the alias text when the SID
// names nobody known (also when the text is no SID).
std::string SidToAccountName(const std::string& sidText, const std::string& computer);

// Every entry of an ACL part as the report and the tree show it: the account
// by name, the type's name (empty when the entry has no type), the flag
// names (none without flags), the right names (at least one, maybe empty)
// and the GUIDs. Accounts are looked up on `computer` (empty: this one).
struct TAceDescription {
  std::string Account;
  std::string TypeName;
  std::vector<std::string> Flags;
  std::vector<std::string> Rights;
  std::string ObjectGuid, InheritGuid;
};
std::vector<TAceDescription> DescribeAcl(std::string_view text, const std::string& computer);

// The report lines of every entry of an ACL part: account, "+ ACE Type: ",
// "+ ACE Flags:" with "  + " lines, "+ Rights:" with "  + " lines, and the
// GUIDs. The list is emptied first unless `append`.
void AddAceReportLines(std::string_view text, std::vector<std::string>& list, bool append);

// The six lines describing a key's sizes and last write, as the report and
// the security tree's hint show them: "  NumSubKeys: ", "  MaxSubKeyLen: ",
// "  NumValues: ", "  MaxValueLen: ", "  MaxDataLen: " with their numbers and
// "  FileTime: " with the local time in the locale's short date and time (the
// time left out at exactly midnight).
std::vector<std::string> KeyInfoLines(const TRegKeyInfo& info);

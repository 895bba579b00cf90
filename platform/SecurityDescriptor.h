#pragma once

// Self-relative security descriptors as bytes: building and reading them,
// their text form (SDDL revision 1), the access check against a token's SIDs
// and the descriptor a new key inherits from its parent.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Result.h"
#include "platform/WinTypes.h"

namespace platform::sd {

inline constexpr std::uint16_t SE_OWNER_DEFAULTED = 0x0001;
inline constexpr std::uint16_t SE_GROUP_DEFAULTED = 0x0002;
inline constexpr std::uint16_t SE_DACL_PRESENT = 0x0004;
inline constexpr std::uint16_t SE_DACL_DEFAULTED = 0x0008;
inline constexpr std::uint16_t SE_SACL_PRESENT = 0x0010;
inline constexpr std::uint16_t SE_SACL_DEFAULTED = 0x0020;
inline constexpr std::uint16_t SE_DACL_AUTO_INHERIT_REQ = 0x0100;
inline constexpr std::uint16_t SE_SACL_AUTO_INHERIT_REQ = 0x0200;
inline constexpr std::uint16_t SE_DACL_AUTO_INHERITED = 0x0400;
inline constexpr std::uint16_t SE_SACL_AUTO_INHERITED = 0x0800;
inline constexpr std::uint16_t SE_DACL_PROTECTED = 0x1000;
inline constexpr std::uint16_t SE_SACL_PROTECTED = 0x2000;
inline constexpr std::uint16_t SE_SELF_RELATIVE = 0x8000;

inline constexpr std::uint8_t ACCESS_ALLOWED_ACE_TYPE = 0;
inline constexpr std::uint8_t ACCESS_DENIED_ACE_TYPE = 1;
inline constexpr std::uint8_t SYSTEM_AUDIT_ACE_TYPE = 2;
inline constexpr std::uint8_t SYSTEM_ALARM_ACE_TYPE = 3;
inline constexpr std::uint8_t ACCESS_ALLOWED_OBJECT_ACE_TYPE = 5;
inline constexpr std::uint8_t ACCESS_DENIED_OBJECT_ACE_TYPE = 6;
inline constexpr std::uint8_t SYSTEM_AUDIT_OBJECT_ACE_TYPE = 7;
inline constexpr std::uint8_t SYSTEM_ALARM_OBJECT_ACE_TYPE = 8;
inline constexpr std::uint8_t SYSTEM_MANDATORY_LABEL_ACE_TYPE = 0x11;
inline constexpr std::uint8_t OBJECT_INHERIT_ACE = 0x01;
inline constexpr std::uint8_t CONTAINER_INHERIT_ACE = 0x02;
inline constexpr std::uint8_t NO_PROPAGATE_INHERIT_ACE = 0x04;
inline constexpr std::uint8_t INHERIT_ONLY_ACE = 0x08;
inline constexpr std::uint8_t INHERITED_ACE = 0x10;
inline constexpr std::uint8_t SUCCESSFUL_ACCESS_ACE_FLAG = 0x40;
inline constexpr std::uint8_t FAILED_ACCESS_ACE_FLAG = 0x80;
// Object ACEs: which of the two GUIDs follow the mask.
inline constexpr std::uint32_t ACE_OBJECT_TYPE_PRESENT = 0x1;
inline constexpr std::uint32_t ACE_INHERITED_OBJECT_TYPE_PRESENT = 0x2;

// The generic rights and how a kind of object maps them to its own rights.
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericExecute = 0x20000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kGenericRead = 0x80000000;
inline constexpr std::uint32_t kMaximumAllowed = 0x02000000;
inline constexpr std::uint32_t kAccessSystemSecurity = 0x01000000;
inline constexpr std::uint32_t kReadControl = 0x00020000;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
struct GenericMapping {
  std::uint32_t read, write, execute, all;
};
inline constexpr GenericMapping kKeyMapping{0x00020019, 0x00020006, 0x00020019, 0x000F003F};
std::uint32_t mapGeneric(std::uint32_t mask, const GenericMapping& mapping);

using Bytes = std::vector<std::uint8_t>;

// "S-1-5-18" -> binary SID; nullopt when malformed.
std::optional<Bytes> sidFromString(std::string_view text);
// Binary SID -> "S-1-..."; nullopt when malformed.
std::optional<std::string> sidToString(std::span<const std::uint8_t> sid);
// Length of the SID at the start of bytes, 0 when it is not one.
std::size_t sidLength(std::span<const std::uint8_t> bytes);

using Guid = std::array<std::uint8_t, 16>;  // as stored: Data1..3 little-endian

struct Ace {
  Ace() = default;
  Ace(std::uint8_t t, std::uint8_t f, std::uint32_t m, Bytes s) : type(t), flags(f), mask(m), sid(std::move(s)) {}
  std::uint8_t type = ACCESS_ALLOWED_ACE_TYPE;
  std::uint8_t flags = 0;
  std::uint32_t mask = 0;
  Bytes sid;
  // Object ACE types only.
  std::optional<Guid> objectType;
  std::optional<Guid> inheritedObjectType;
  // An entry of a type this code does not know, kept whole (header included).
  Bytes raw;
};

bool isObjectAceType(std::uint8_t type);

// An ACL holding the entries: revision 4 when one is an object entry, else 2.
Bytes buildAcl(const std::vector<Ace>& aces);
// The entries of an ACL and its revision; nullopt when malformed.
struct Acl {
  std::uint8_t revision = 2;
  std::vector<Ace> aces;
};
std::optional<Acl> parseAcl(std::span<const std::uint8_t> acl);

// The parts of a descriptor; an absent part is nullopt. A present DACL that
// is empty bytes stands for a NULL DACL (everyone has access).
struct Parts {
  std::uint16_t control = 0;  // without SE_SELF_RELATIVE and the *_PRESENT bits
  std::optional<Bytes> owner;
  std::optional<Bytes> group;
  std::optional<Bytes> sacl;
  std::optional<Bytes> dacl;
};

// The bytes of a self-relative descriptor in memory a caller vouches for, as
// on Windows: the furthest end of its parts.
std::size_t descriptorSize(const std::uint8_t* descriptor);

// Reads a self-relative descriptor, checking every offset and length.
std::optional<Parts> parse(std::span<const std::uint8_t> descriptor);
// Writes a self-relative descriptor (SACL, DACL, owner, group in that order).
Bytes compose(const Parts& parts);

// ---- text form (SDDL revision 1)
// The two-letter aliases of well-known SIDs: the domain-relative ones ("LA",
// "DA"...) stand for RIDs below `domain`, this machine's account domain.

// A SID as SDDL writes it: its alias when it has one, else "S-1-...".
std::string sidToSddl(std::span<const std::uint8_t> sid, std::span<const std::uint8_t> domain);
// "S-1-..." or an alias; nullopt when neither.
std::optional<Bytes> sidFromSddl(std::string_view text, std::span<const std::uint8_t> domain);

// The text of the parts `info` names (OWNER, GROUP, DACL, SACL bits), in
// the order O, G, D, S. Failure: ERROR_INVALID_SECURITY_DESCR for a
// descriptor that does not parse, ERROR_INVALID_ACL for an ACE SDDL cannot
// write.
Result<std::string, DWORD> toSddl(std::span<const std::uint8_t> descriptor, DWORD info,
                                  std::span<const std::uint8_t> domain);
// A self-relative descriptor from its text. Failure: ERROR_INVALID_PARAMETER
// for malformed text, ERROR_INVALID_SID for a bad account, ERROR_INVALID_ACL
// for a malformed entry.
Result<Bytes, DWORD> fromSddl(std::string_view text, std::span<const std::uint8_t> domain);

// ---- access check
// The rights `parts` grants to a token whose user and group SIDs are `sids`,
// for the rights `desired` (generic rights mapped; kMaximumAllowed asks for
// all it grants). The owner implicitly gets READ_CONTROL and WRITE_DAC; a
// NULL or absent DACL grants everything; entries count in order, the first
// word on a right (allow or deny) holds. nullopt when a right asked for is
// refused. kAccessSystemSecurity is the caller's to handle (a privilege).
std::optional<std::uint32_t> accessCheck(const Parts& parts, std::span<const Bytes> sids, std::uint32_t desired,
                                         const GenericMapping& mapping);

// ---- inheritance
// The descriptor of a new key below one with `parent`: the parent's
// inheritable entries (CREATOR OWNER / CREATOR GROUP made into entries for
// `owner` / `group`, generic rights mapped, an inherit-only copy kept where
// the entry goes on down), marked inherited; `defaultDacl` when nothing is
// inherited; owner and group as given.
Bytes inherit(const Parts& parent, const Bytes& owner, const Bytes& group, const std::vector<Ace>& defaultDacl,
              const GenericMapping& mapping);

}  // namespace platform::sd

#pragma once

// Self-relative security descriptors as bytes: just enough to build the
// descriptors of the default registry, to hand out the parts a caller asks
// for and to merge the parts a caller sets. No access checks here.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace platform::sd {

inline constexpr std::uint16_t SE_OWNER_DEFAULTED = 0x0001;
inline constexpr std::uint16_t SE_GROUP_DEFAULTED = 0x0002;
inline constexpr std::uint16_t SE_DACL_PRESENT = 0x0004;
inline constexpr std::uint16_t SE_DACL_DEFAULTED = 0x0008;
inline constexpr std::uint16_t SE_SACL_PRESENT = 0x0010;
inline constexpr std::uint16_t SE_SACL_DEFAULTED = 0x0020;
inline constexpr std::uint16_t SE_DACL_AUTO_INHERITED = 0x0400;
inline constexpr std::uint16_t SE_SACL_AUTO_INHERITED = 0x0800;
inline constexpr std::uint16_t SE_DACL_PROTECTED = 0x1000;
inline constexpr std::uint16_t SE_SACL_PROTECTED = 0x2000;
inline constexpr std::uint16_t SE_SELF_RELATIVE = 0x8000;

inline constexpr std::uint8_t ACCESS_ALLOWED_ACE_TYPE = 0;
inline constexpr std::uint8_t ACCESS_DENIED_ACE_TYPE = 1;
inline constexpr std::uint8_t OBJECT_INHERIT_ACE = 0x01;
inline constexpr std::uint8_t CONTAINER_INHERIT_ACE = 0x02;
inline constexpr std::uint8_t INHERIT_ONLY_ACE = 0x08;

using Bytes = std::vector<std::uint8_t>;

// "S-1-5-18" -> binary SID; nullopt when malformed.
std::optional<Bytes> sidFromString(std::string_view text);
// Binary SID -> "S-1-..."; nullopt when malformed.
std::optional<std::string> sidToString(std::span<const std::uint8_t> sid);
// Length of the SID at the start of bytes, 0 when it is not one.
std::size_t sidLength(std::span<const std::uint8_t> bytes);

struct Ace {
  std::uint8_t type = ACCESS_ALLOWED_ACE_TYPE;
  std::uint8_t flags = 0;
  std::uint32_t mask = 0;
  Bytes sid;
};

// An ACL (revision 2) holding the entries.
Bytes buildAcl(const std::vector<Ace>& aces);

// The parts of a descriptor; an absent part is nullopt. A present DACL that
// is empty bytes stands for a NULL DACL (everyone has access).
struct Parts {
  std::uint16_t control = 0;  // without SE_SELF_RELATIVE and the *_PRESENT bits
  std::optional<Bytes> owner;
  std::optional<Bytes> group;
  std::optional<Bytes> sacl;
  std::optional<Bytes> dacl;
};

// Reads a self-relative descriptor, checking every offset and length.
std::optional<Parts> parse(std::span<const std::uint8_t> descriptor);
// Writes a self-relative descriptor (SACL, DACL, owner, group in that order).
Bytes compose(const Parts& parts);

}  // namespace platform::sd

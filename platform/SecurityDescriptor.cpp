#include "platform/SecurityDescriptor.h"

#include <charconv>
#include <string>

namespace platform::sd {

namespace {

std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t off) {
  return std::uint16_t(b[off] | (b[off + 1] << 8));
}
std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t off) {
  return std::uint32_t(b[off]) | (std::uint32_t(b[off + 1]) << 8) | (std::uint32_t(b[off + 2]) << 16) |
         (std::uint32_t(b[off + 3]) << 24);
}
void put16(Bytes& b, std::size_t off, std::uint16_t v) {
  b[off] = std::uint8_t(v);
  b[off + 1] = std::uint8_t(v >> 8);
}
void put32(Bytes& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = std::uint8_t(v >> (8 * i));
}

// Length of a well-formed ACL at the start of bytes (its declared size,
// entries checked to lie inside it), 0 otherwise.
std::size_t aclLength(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 8) return 0;
  std::size_t size = get16(bytes, 2);
  std::size_t count = get16(bytes, 4);
  if (size < 8 || size > bytes.size()) return 0;
  std::size_t pos = 8;
  for (std::size_t i = 0; i < count; ++i) {
    if (size - pos < 4) return 0;
    std::size_t aceSize = get16(bytes, pos + 2);
    if (aceSize < 4 || aceSize > size - pos) return 0;
    pos += aceSize;
  }
  return size;
}

}  // namespace

std::optional<Bytes> sidFromString(std::string_view text) {
  if (text.size() < 4 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') return std::nullopt;
  std::vector<std::uint64_t> parts;
  std::size_t pos = 2;
  while (pos <= text.size()) {
    std::size_t end = text.find('-', pos);
    if (end == std::string_view::npos) end = text.size();
    std::uint64_t v = 0;
    auto [p, ec] = std::from_chars(text.data() + pos, text.data() + end, v);
    if (ec != std::errc() || p != text.data() + end || end == pos) return std::nullopt;
    parts.push_back(v);
    pos = end + 1;
  }
  // revision, authority, 1..15 sub-authorities
  if (parts.size() < 3 || parts.size() > 17 || parts[0] != 1 || parts[1] > 0xFFFFFFFFFFFFull) return std::nullopt;
  std::size_t subs = parts.size() - 2;
  Bytes sid(8 + 4 * subs);
  sid[0] = 1;
  sid[1] = std::uint8_t(subs);
  for (int i = 0; i < 6; ++i) sid[2 + i] = std::uint8_t(parts[1] >> (8 * (5 - i)));
  for (std::size_t i = 0; i < subs; ++i) {
    if (parts[2 + i] > 0xFFFFFFFFu) return std::nullopt;
    put32(sid, 8 + 4 * i, std::uint32_t(parts[2 + i]));
  }
  return sid;
}

std::size_t sidLength(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 8 || bytes[0] != 1 || bytes[1] > 15) return 0;
  std::size_t len = 8 + 4 * std::size_t(bytes[1]);
  return len <= bytes.size() ? len : 0;
}

std::optional<std::string> sidToString(std::span<const std::uint8_t> sid) {
  std::size_t len = sidLength(sid);
  if (len == 0) return std::nullopt;
  std::uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | sid[2 + i];
  std::string s = "S-1-" + std::to_string(authority);
  for (std::size_t i = 0; i < sid[1]; ++i) s += "-" + std::to_string(get32(sid, 8 + 4 * i));
  return s;
}

Bytes buildAcl(const std::vector<Ace>& aces) {
  Bytes acl(8, 0);
  acl[0] = 2;  // ACL_REVISION
  for (const Ace& a : aces) {
    std::size_t size = (8 + a.sid.size() + 3) & ~std::size_t(3);
    std::size_t at = acl.size();
    acl.resize(at + size, 0);
    acl[at] = a.type;
    acl[at + 1] = a.flags;
    put16(acl, at + 2, std::uint16_t(size));
    put32(acl, at + 4, a.mask);
    std::copy(a.sid.begin(), a.sid.end(), acl.begin() + std::ptrdiff_t(at + 8));
  }
  put16(acl, 2, std::uint16_t(acl.size()));
  put16(acl, 4, std::uint16_t(aces.size()));
  return acl;
}

std::optional<Parts> parse(std::span<const std::uint8_t> d) {
  if (d.size() < 20 || d[0] != 1) return std::nullopt;
  std::uint16_t control = get16(d, 2);
  if (!(control & SE_SELF_RELATIVE)) return std::nullopt;
  Parts p;
  p.control = std::uint16_t(control & ~(SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_SACL_PRESENT));
  auto sidAt = [&](std::uint32_t off) -> std::optional<Bytes> {
    if (off < 20 || off >= d.size()) return std::nullopt;
    std::size_t len = sidLength(d.subspan(off));
    if (len == 0) return std::nullopt;
    return Bytes(d.begin() + off, d.begin() + off + len);
  };
  auto aclAt = [&](std::uint32_t off) -> std::optional<Bytes> {
    if (off == 0) return Bytes{};  // present and NULL
    if (off < 20 || off >= d.size()) return std::nullopt;
    std::size_t len = aclLength(d.subspan(off));
    if (len == 0) return std::nullopt;
    return Bytes(d.begin() + off, d.begin() + off + len);
  };
  if (std::uint32_t off = get32(d, 4)) {
    p.owner = sidAt(off);
    if (!p.owner) return std::nullopt;
  }
  if (std::uint32_t off = get32(d, 8)) {
    p.group = sidAt(off);
    if (!p.group) return std::nullopt;
  }
  if (control & SE_SACL_PRESENT) {
    p.sacl = aclAt(get32(d, 12));
    if (!p.sacl) return std::nullopt;
  }
  if (control & SE_DACL_PRESENT) {
    p.dacl = aclAt(get32(d, 16));
    if (!p.dacl) return std::nullopt;
  }
  return p;
}

Bytes compose(const Parts& p) {
  Bytes d(20, 0);
  d[0] = 1;
  std::uint16_t control = std::uint16_t(p.control | SE_SELF_RELATIVE);
  auto append = [&](const Bytes& part, std::size_t headerOffset) {
    if (part.empty()) return;  // a NULL ACL has offset 0
    put32(d, headerOffset, std::uint32_t(d.size()));
    d.insert(d.end(), part.begin(), part.end());
  };
  if (p.sacl) {
    control |= SE_SACL_PRESENT;
    append(*p.sacl, 12);
  }
  if (p.dacl) {
    control |= SE_DACL_PRESENT;
    append(*p.dacl, 16);
  }
  if (p.owner) append(*p.owner, 4);
  if (p.group) append(*p.group, 8);
  put16(d, 2, control);
  return d;
}

}  // namespace platform::sd

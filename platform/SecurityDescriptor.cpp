#include "platform/SecurityDescriptor.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
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
    int base = 10;
    if (parts.size() == 1 && end - pos > 2 && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
      pos += 2;
      base = 16;
    }
    auto [p, ec] = std::from_chars(text.data() + pos, text.data() + end, v, base);
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
  // Authorities too large for 32 bits are written in hex, as Windows does.
  std::string s = "S-1-";
  if (authority >> 32) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "0x%012llX", static_cast<unsigned long long>(authority));
    s += buf;
  } else {
    s += std::to_string(authority);
  }
  for (std::size_t i = 0; i < sid[1]; ++i) s += "-" + std::to_string(get32(sid, 8 + 4 * i));
  return s;
}

bool isObjectAceType(std::uint8_t type) {
  return type >= ACCESS_ALLOWED_OBJECT_ACE_TYPE && type <= SYSTEM_ALARM_OBJECT_ACE_TYPE;
}

std::uint32_t mapGeneric(std::uint32_t mask, const GenericMapping& m) {
  std::uint32_t out = mask & ~(kGenericAll | kGenericRead | kGenericWrite | kGenericExecute);
  if (mask & kGenericRead) out |= m.read;
  if (mask & kGenericWrite) out |= m.write;
  if (mask & kGenericExecute) out |= m.execute;
  if (mask & kGenericAll) out |= m.all;
  return out;
}

Bytes buildAcl(const std::vector<Ace>& aces) {
  Bytes acl(8, 0);
  acl[0] = 2;  // ACL_REVISION
  for (const Ace& a : aces) {
    std::size_t at = acl.size();
    if (!a.raw.empty()) {
      acl.insert(acl.end(), a.raw.begin(), a.raw.end());
      continue;
    }
    const bool object = isObjectAceType(a.type);
    if (object) acl[0] = 4;  // ACL_REVISION_DS
    std::size_t body = 8 + (object ? 4 + (a.objectType ? 16 : 0) + (a.inheritedObjectType ? 16 : 0) : 0);
    std::size_t size = (body + a.sid.size() + 3) & ~std::size_t(3);
    acl.resize(at + size, 0);
    acl[at] = a.type;
    acl[at + 1] = a.flags;
    put16(acl, at + 2, std::uint16_t(size));
    put32(acl, at + 4, a.mask);
    std::size_t pos = at + 8;
    if (object) {
      put32(acl, pos, (a.objectType ? ACE_OBJECT_TYPE_PRESENT : 0) |
                          (a.inheritedObjectType ? ACE_INHERITED_OBJECT_TYPE_PRESENT : 0));
      pos += 4;
      for (const auto* g : {&a.objectType, &a.inheritedObjectType})
        if (*g) {
          std::copy((*g)->begin(), (*g)->end(), acl.begin() + std::ptrdiff_t(pos));
          pos += 16;
        }
    }
    std::copy(a.sid.begin(), a.sid.end(), acl.begin() + std::ptrdiff_t(pos));
  }
  put16(acl, 2, std::uint16_t(acl.size()));
  put16(acl, 4, std::uint16_t(aces.size()));
  return acl;
}

std::optional<Acl> parseAcl(std::span<const std::uint8_t> bytes) {
  std::size_t size = aclLength(bytes);
  if (size == 0) return std::nullopt;
  Acl acl;
  acl.revision = bytes[0];
  const std::size_t count = get16(bytes, 4);
  std::size_t pos = 8;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t aceSize = get16(bytes, pos + 2);
    const auto ace = bytes.subspan(pos, aceSize);
    Ace a;
    a.type = ace[0];
    a.flags = ace[1];
    const bool known = a.type <= SYSTEM_ALARM_OBJECT_ACE_TYPE || a.type == SYSTEM_MANDATORY_LABEL_ACE_TYPE;
    std::size_t at = 8;
    bool sound = known && aceSize >= 8;
    if (sound) {
      a.mask = get32(ace, 4);
      if (isObjectAceType(a.type)) {
        sound = aceSize >= 12;
        const std::uint32_t present = sound ? get32(ace, 8) : 0;
        at = 12;
        for (auto [bit, field] : {std::pair{ACE_OBJECT_TYPE_PRESENT, &a.objectType},
                                  std::pair{ACE_INHERITED_OBJECT_TYPE_PRESENT, &a.inheritedObjectType}}) {
          if (!sound || !(present & bit)) continue;
          if (aceSize - at < 16) {
            sound = false;
            break;
          }
          Guid g;
          std::copy(ace.begin() + std::ptrdiff_t(at), ace.begin() + std::ptrdiff_t(at + 16), g.begin());
          *field = g;
          at += 16;
        }
      }
    }
    std::size_t sidLen = sound ? sidLength(ace.subspan(at)) : 0;
    // What we would write back must be these very bytes; anything else is
    // kept as it stands.
    if (sidLen == 0 || ((at + sidLen + 3) & ~std::size_t(3)) != aceSize) {
      a = Ace{};
      a.type = ace[0];
      a.flags = ace[1];
      a.raw.assign(ace.begin(), ace.end());
    } else {
      a.sid.assign(ace.begin() + std::ptrdiff_t(at), ace.begin() + std::ptrdiff_t(at + sidLen));
    }
    acl.aces.push_back(std::move(a));
    pos += aceSize;
  }
  return acl;
}

std::size_t descriptorSize(const std::uint8_t* p) {
  const std::span<const std::uint8_t> header(p, 20);
  const std::uint16_t control = get16(header, 2);
  std::size_t end = 20;
  for (std::size_t field : {std::size_t(4), std::size_t(8)})
    if (std::uint32_t off = get32(header, field)) end = std::max<std::size_t>(end, off + 8 + 4 * std::size_t(p[off + 1]));
  for (auto [bit, field] : {std::pair{SE_SACL_PRESENT, std::size_t(12)}, std::pair{SE_DACL_PRESENT, std::size_t(16)}})
    if (control & bit)
      if (std::uint32_t off = get32(header, field)) end = std::max<std::size_t>(end, off + (p[off + 2] | (p[off + 3] << 8)));
  return end;
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

namespace {

bool sidIn(std::span<const Bytes> sids, const Bytes& sid) {
  return std::find(sids.begin(), sids.end(), sid) != sids.end();
}

}  // namespace

std::optional<std::uint32_t> accessCheck(const Parts& parts, std::span<const Bytes> sids, std::uint32_t desired,
                                         const GenericMapping& mapping) {
  const bool maximum = (desired & kMaximumAllowed) != 0;
  const std::uint32_t wanted = mapGeneric(desired & ~kMaximumAllowed, mapping);
  // What any entry can grant: the mapping's rights and the standard ones.
  const std::uint32_t everything = mapping.all | 0x001F0000u;
  std::uint32_t granted = 0;
  std::uint32_t denied = 0;
  if (parts.owner && sidIn(sids, *parts.owner)) granted |= kReadControl | kWriteDac;
  if (!parts.dacl || parts.dacl->empty()) {
    granted |= everything;
  } else {
    auto acl = parseAcl(*parts.dacl);
    if (!acl) return std::nullopt;  // an unreadable DACL grants nothing
    for (const Ace& a : acl->aces) {
      if ((a.flags & INHERIT_ONLY_ACE) || !a.raw.empty()) continue;
      if (a.type != ACCESS_ALLOWED_ACE_TYPE && a.type != ACCESS_DENIED_ACE_TYPE) continue;
      if (!sidIn(sids, a.sid)) continue;
      const std::uint32_t mask = mapGeneric(a.mask, mapping);
      if (a.type == ACCESS_ALLOWED_ACE_TYPE)
        granted |= mask & ~denied;
      else
        denied |= mask & ~granted;
      // Every right asked for has had its word: later entries change nothing.
      if (!maximum && (wanted & ~(granted | denied)) == 0) break;
    }
  }
  if ((wanted & granted) != wanted) return std::nullopt;
  if (maximum) {
    if (granted == 0) return std::nullopt;
    return granted | wanted;
  }
  return wanted;
}

namespace {

const Bytes& creatorOwner() {
  static const Bytes sid = *sidFromString("S-1-3-0");
  return sid;
}
const Bytes& creatorGroup() {
  static const Bytes sid = *sidFromString("S-1-3-1");
  return sid;
}

// The entries a container child takes from `parent`'s list.
std::vector<Ace> inheritedAces(const std::vector<Ace>& parent, const Bytes& owner, const Bytes& group,
                               const GenericMapping& mapping) {
  std::vector<Ace> out;
  for (const Ace& a : parent) {
    const bool ci = a.flags & CONTAINER_INHERIT_ACE;
    const bool oi = a.flags & OBJECT_INHERIT_ACE;
    const bool np = a.flags & NO_PROPAGATE_INHERIT_ACE;
    if (!ci && !oi) continue;
    const std::uint8_t audit = a.flags & (SUCCESSFUL_ACCESS_ACE_FLAG | FAILED_ACCESS_ACE_FLAG);
    if (!ci) {
      // Meant for leaf objects below: a container passes it on, inert.
      if (np) continue;
      Ace copy = a;
      copy.flags = std::uint8_t(OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE | INHERITED_ACE | audit);
      out.push_back(std::move(copy));
      continue;
    }
    const bool creator = a.raw.empty() && (a.sid == creatorOwner() || a.sid == creatorGroup());
    const bool generic = a.raw.empty() && mapGeneric(a.mask, mapping) != a.mask;
    const bool passesOn = !np;
    if (creator || generic) {
      // An effective entry for this key, and, where it goes on down, the
      // entry as it stands for the keys below.
      Ace effective = a;
      effective.flags = std::uint8_t(INHERITED_ACE | audit);
      effective.mask = mapGeneric(a.mask, mapping);
      if (a.sid == creatorOwner()) effective.sid = owner;
      else if (a.sid == creatorGroup()) effective.sid = group;
      out.push_back(std::move(effective));
      if (passesOn) {
        Ace rest = a;
        rest.flags = std::uint8_t((a.flags & (CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE)) | INHERIT_ONLY_ACE |
                                  INHERITED_ACE | audit);
        out.push_back(std::move(rest));
      }
      continue;
    }
    Ace copy = a;
    copy.flags = passesOn ? std::uint8_t((a.flags & ~(INHERIT_ONLY_ACE | NO_PROPAGATE_INHERIT_ACE)) | INHERITED_ACE)
                          : std::uint8_t(INHERITED_ACE | audit);
    if (!copy.raw.empty()) copy.raw[1] = copy.flags;
    out.push_back(std::move(copy));
  }
  return out;
}

}  // namespace

Bytes inherit(const Parts& parent, const Bytes& owner, const Bytes& group, const std::vector<Ace>& defaultDacl,
              const GenericMapping& mapping) {
  Parts child;
  child.owner = owner;
  child.group = group;
  std::vector<Ace> dacl;
  if (parent.dacl && !parent.dacl->empty())
    if (auto acl = parseAcl(*parent.dacl)) dacl = inheritedAces(acl->aces, owner, group, mapping);
  if (!dacl.empty()) {
    child.dacl = buildAcl(dacl);
    if (parent.control & SE_DACL_AUTO_INHERITED) child.control |= SE_DACL_AUTO_INHERITED;
  } else {
    child.dacl = buildAcl(defaultDacl);
  }
  if (parent.sacl && !parent.sacl->empty())
    if (auto acl = parseAcl(*parent.sacl)) {
      auto sacl = inheritedAces(acl->aces, owner, group, mapping);
      if (!sacl.empty()) {
        child.sacl = buildAcl(sacl);
        if (parent.control & SE_SACL_AUTO_INHERITED) child.control |= SE_SACL_AUTO_INHERITED;
      }
    }
  return compose(child);
}

}  // namespace platform::sd

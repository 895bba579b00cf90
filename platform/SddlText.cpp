// The text form of security descriptors (SDDL revision 1), both ways, written
// as Windows writes it so that texts compare equal with what it shows.

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/SecurityDescriptor.h"
#include "platform/WinTypes.h"

namespace platform::sd {

namespace {

struct Alias {
  const char* code;
  const char* sid;  // "S-1-..."; or, for a domain-relative one, the RID alone
  bool domainRelative = false;
};

// The order matters where two aliases share a SID: the first is written.
constexpr Alias kAliases[] = {
    {"WD", "S-1-1-0"},        {"CO", "S-1-3-0"},        {"CG", "S-1-3-1"},        {"OW", "S-1-3-4"},
    {"NU", "S-1-5-2"},        {"IU", "S-1-5-4"},        {"SU", "S-1-5-6"},        {"AN", "S-1-5-7"},
    {"ED", "S-1-5-9"},        {"PS", "S-1-5-10"},       {"AU", "S-1-5-11"},       {"RC", "S-1-5-12"},
    {"SY", "S-1-5-18"},       {"LS", "S-1-5-19"},       {"NS", "S-1-5-20"},       {"WR", "S-1-5-33"},
    {"BA", "S-1-5-32-544"},   {"BU", "S-1-5-32-545"},   {"BG", "S-1-5-32-546"},   {"PU", "S-1-5-32-547"},
    {"AO", "S-1-5-32-548"},   {"SO", "S-1-5-32-549"},   {"PO", "S-1-5-32-550"},   {"BO", "S-1-5-32-551"},
    {"RE", "S-1-5-32-552"},   {"RU", "S-1-5-32-554"},   {"RD", "S-1-5-32-555"},   {"NO", "S-1-5-32-556"},
    {"MU", "S-1-5-32-558"},   {"LU", "S-1-5-32-559"},   {"IS", "S-1-5-32-568"},   {"CY", "S-1-5-32-569"},
    {"ER", "S-1-5-32-573"},   {"CD", "S-1-5-32-574"},   {"RA", "S-1-5-32-575"},   {"ES", "S-1-5-32-576"},
    {"MS", "S-1-5-32-577"},   {"HA", "S-1-5-32-578"},   {"AA", "S-1-5-32-579"},   {"RM", "S-1-5-32-580"},
    {"AC", "S-1-15-2-1"},     {"LW", "S-1-16-4096"},    {"ME", "S-1-16-8192"},    {"MP", "S-1-16-8448"},
    {"HI", "S-1-16-12288"},   {"SI", "S-1-16-16384"},
    {"LA", "500", true},      {"LG", "501", true},      {"DA", "512", true},      {"DU", "513", true},
    {"DG", "514", true},      {"DC", "515", true},      {"DD", "516", true},      {"CA", "517", true},
    {"SA", "518", true},      {"EA", "519", true},      {"PA", "520", true},      {"RO", "498", true},
    {"CN", "522", true},      {"AP", "525", true},      {"KA", "526", true},      {"EK", "527", true},
    {"RS", "553", true},
};

std::optional<Bytes> aliasSid(const Alias& a, std::span<const std::uint8_t> domain) {
  if (!a.domainRelative) return sidFromString(a.sid);
  auto domainText = sidToString(domain);
  if (!domainText) return std::nullopt;
  return sidFromString(*domainText + "-" + a.sid);
}

struct Code {
  const char* code;
  std::uint32_t value;
};

constexpr Code kAceTypes[] = {
    {"A", ACCESS_ALLOWED_ACE_TYPE},         {"D", ACCESS_DENIED_ACE_TYPE},
    {"AU", SYSTEM_AUDIT_ACE_TYPE},          {"AL", SYSTEM_ALARM_ACE_TYPE},
    {"OA", ACCESS_ALLOWED_OBJECT_ACE_TYPE}, {"OD", ACCESS_DENIED_OBJECT_ACE_TYPE},
    {"OU", SYSTEM_AUDIT_OBJECT_ACE_TYPE},   {"OL", SYSTEM_ALARM_OBJECT_ACE_TYPE},
    {"ML", SYSTEM_MANDATORY_LABEL_ACE_TYPE},
};

// In the order they are written.
constexpr Code kAceFlags[] = {
    {"OI", OBJECT_INHERIT_ACE}, {"CI", CONTAINER_INHERIT_ACE},     {"NP", NO_PROPAGATE_INHERIT_ACE},
    {"IO", INHERIT_ONLY_ACE},   {"ID", INHERITED_ACE},             {"SA", SUCCESSFUL_ACCESS_ACE_FLAG},
    {"FA", FAILED_ACCESS_ACE_FLAG},
};

// Codes that stand for several rights at once; a mask equal to one is
// written as that code.
constexpr Code kCombinedRights[] = {
    {"FA", 0x001F01FF}, {"FR", 0x00120089}, {"FW", 0x00120116}, {"FX", 0x001200A0},
    {"KA", 0x000F003F}, {"KR", 0x00020019}, {"KW", 0x00020006}, {"KX", 0x00020019},
    {"NR", 0x00000002}, {"NW", 0x00000001}, {"NX", 0x00000004},
};

// One right each, in the order they are written (lowest bit first).
constexpr Code kSingleRights[] = {
    {"CC", 0x00000001}, {"DC", 0x00000002}, {"LC", 0x00000004}, {"SW", 0x00000008},
    {"RP", 0x00000010}, {"WP", 0x00000020}, {"DT", 0x00000040}, {"LO", 0x00000080},
    {"CR", 0x00000100}, {"SD", 0x00010000}, {"RC", 0x00020000}, {"WD", 0x00040000},
    {"WO", 0x00080000}, {"GA", 0x10000000}, {"GX", 0x20000000}, {"GW", 0x40000000},
    {"GR", 0x80000000},
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

std::string rightsText(std::uint32_t mask, std::uint8_t aceType) {
  const bool label = aceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE;
  for (const Code& c : kCombinedRights) {
    const bool labelCode = c.code[0] == 'N';
    if (labelCode == label && c.value == mask) return c.code;
  }
  std::string out;
  std::uint32_t left = mask;
  for (const Code& c : kSingleRights)
    if (mask & c.value) {
      out += c.code;
      left &= ~c.value;
    }
  if (left == 0 && mask != 0) return out;
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", mask);
  return buf;
}

std::string guidText(const Guid& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return buf;
}

std::optional<Guid> guidFromText(std::string_view t) {
  if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') return std::nullopt;
  std::string hex;
  for (char c : t)
    if (c != '-') hex += c;
  if (hex.size() != 32) return std::nullopt;
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < 16; ++i) {
    unsigned v = 0;
    auto [p, ec] = std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, v, 16);
    if (ec != std::errc() || p != hex.data() + 2 * i + 2) return std::nullopt;
    bytes[i] = std::uint8_t(v);
  }
  // Text order is Data1 (4 bytes), Data2, Data3 big-endian, then Data4.
  Guid g;
  g[0] = bytes[3], g[1] = bytes[2], g[2] = bytes[1], g[3] = bytes[0];
  g[4] = bytes[5], g[5] = bytes[4], g[6] = bytes[7], g[7] = bytes[6];
  std::copy(bytes.begin() + 8, bytes.end(), g.begin() + 8);
  return g;
}

std::string aclFlagsText(std::uint16_t control, bool dacl) {
  std::string out;
  if (control & (dacl ? SE_DACL_PROTECTED : SE_SACL_PROTECTED)) out += "P";
  if (control & (dacl ? SE_DACL_AUTO_INHERIT_REQ : SE_SACL_AUTO_INHERIT_REQ)) out += "AR";
  if (control & (dacl ? SE_DACL_AUTO_INHERITED : SE_SACL_AUTO_INHERITED)) out += "AI";
  return out;
}

Result<std::string, DWORD> aclText(const Bytes& acl, std::span<const std::uint8_t> domain) {
  if (acl.empty()) return std::string("NO_ACCESS_CONTROL");
  auto parsed = parseAcl(acl);
  if (!parsed) return Result<std::string, DWORD>::failure(ERROR_INVALID_ACL);
  std::string out;
  for (const Ace& a : parsed->aces) {
    if (!a.raw.empty()) return Result<std::string, DWORD>::failure(ERROR_INVALID_ACL);
    const char* type = nullptr;
    for (const Code& c : kAceTypes)
      if (c.value == a.type) type = c.code;
    if (!type) return Result<std::string, DWORD>::failure(ERROR_INVALID_ACL);
    out += "(";
    out += type;
    out += ";";
    for (const Code& c : kAceFlags)
      if (a.flags & c.value) out += c.code;
    out += ";" + rightsText(a.mask, a.type) + ";";
    if (a.objectType) out += guidText(*a.objectType);
    out += ";";
    if (a.inheritedObjectType) out += guidText(*a.inheritedObjectType);
    out += ";" + sidToSddl(a.sid, domain) + ")";
  }
  return out;
}

// ---- reading

class Reader {
public:
  Reader(std::string_view text, std::span<const std::uint8_t> domain) : t_(text), domain_(domain) {}

  Result<Bytes, DWORD> descriptor() {
    Parts p;
    bool seen[4] = {};
    skipBlanks();
    while (pos_ < t_.size()) {
      if (t_.size() - pos_ < 2 || t_[pos_ + 1] != ':') return fail(ERROR_INVALID_PARAMETER);
      const char section = char(std::toupper(static_cast<unsigned char>(t_[pos_])));
      const int index = section == 'O' ? 0 : section == 'G' ? 1 : section == 'D' ? 2 : section == 'S' ? 3 : -1;
      if (index < 0 || seen[index]) return fail(ERROR_INVALID_PARAMETER);
      seen[index] = true;
      pos_ += 2;
      if (index < 2) {
        // A SID: an alias of two letters, or "S-" and the digits, dashes and
        // hex authority that follow.
        skipBlanks();
        std::size_t end = pos_;
        if (t_.size() - pos_ >= 2 && (t_[pos_] == 'S' || t_[pos_] == 's') && t_[pos_ + 1] == '-') {
          end = pos_ + 2;
          while (end < t_.size() && (std::isxdigit(static_cast<unsigned char>(t_[end])) || t_[end] == '-' ||
                                     t_[end] == 'x' || t_[end] == 'X') &&
                 !(end + 1 < t_.size() && t_[end + 1] == ':'))
            ++end;
        } else {
          end = std::min(t_.size(), pos_ + 2);
        }
        auto sid = sidFromSddl(t_.substr(pos_, end - pos_), domain_);
        pos_ = end;
        skipBlanks();
        if (!sid) return fail(ERROR_INVALID_SID);
        (index == 0 ? p.owner : p.group) = std::move(*sid);
        continue;
      }
      // An ACL runs to the next section letter and ":" outside parentheses.
      std::size_t end = pos_;
      int depth = 0;
      while (end < t_.size()) {
        const char c = t_[end];
        if (c == '(') ++depth;
        else if (c == ')') --depth;
        else if (depth == 0 && end + 1 < t_.size() && t_[end + 1] == ':' && std::strchr("OGDSogds", c))
          break;
        ++end;
      }
      std::string_view body = trim(t_.substr(pos_, end - pos_));
      pos_ = end;
      std::uint16_t control = 0;
      auto acl = parseAclText(body, index == 2, &control);
      if (!acl) return fail(acl.error());
      p.control |= control;
      (index == 2 ? p.dacl : p.sacl) = std::move(acl.value());
    }
    return compose(p);
  }

private:
  static Result<Bytes, DWORD> fail(DWORD code) { return Result<Bytes, DWORD>::failure(code); }

  void skipBlanks() {
    while (pos_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[pos_]))) ++pos_;
  }
  static std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
  }

  Result<Bytes, DWORD> parseAclText(std::string_view body, bool dacl, std::uint16_t* control) {
    std::size_t i = 0;
    // ACL flags up to the first entry.
    while (i < body.size() && body[i] != '(') {
      std::string_view rest = body.substr(i);
      if (rest.starts_with("NO_ACCESS_CONTROL")) {
        i += 17;
        if (trim(body.substr(i)).size() != 0) return fail(ERROR_INVALID_ACL);
        return Bytes{};  // a NULL ACL
      }
      if (rest.starts_with("P")) {
        *control |= dacl ? SE_DACL_PROTECTED : SE_SACL_PROTECTED;
        i += 1;
      } else if (rest.starts_with("AR")) {
        *control |= dacl ? SE_DACL_AUTO_INHERIT_REQ : SE_SACL_AUTO_INHERIT_REQ;
        i += 2;
      } else if (rest.starts_with("AI")) {
        *control |= dacl ? SE_DACL_AUTO_INHERITED : SE_SACL_AUTO_INHERITED;
        i += 2;
      } else if (std::isspace(static_cast<unsigned char>(rest[0]))) {
        i += 1;
      } else {
        return fail(ERROR_INVALID_PARAMETER);
      }
    }
    std::vector<Ace> aces;
    while (i < body.size()) {
      if (std::isspace(static_cast<unsigned char>(body[i]))) {
        ++i;
        continue;
      }
      if (body[i] != '(') return fail(ERROR_INVALID_ACL);
      const std::size_t close = body.find(')', i);
      if (close == std::string_view::npos) return fail(ERROR_INVALID_ACL);
      auto ace = parseAce(body.substr(i + 1, close - i - 1));
      if (!ace) return fail(ace.error());
      aces.push_back(std::move(ace.value()));
      i = close + 1;
    }
    return buildAcl(aces);
  }

  Result<Ace, DWORD> parseAce(std::string_view text) {
    auto failAce = [](DWORD code) { return Result<Ace, DWORD>::failure(code); };
    std::vector<std::string_view> f;
    std::size_t start = 0;
    while (true) {
      const std::size_t semi = text.find(';', start);
      f.push_back(trim(text.substr(start, semi == std::string_view::npos ? std::string_view::npos : semi - start)));
      if (semi == std::string_view::npos) break;
      start = semi + 1;
    }
    if (f.size() != 6) return failAce(ERROR_INVALID_ACL);
    Ace a;
    bool typeFound = false;
    for (const Code& c : kAceTypes)
      if (equalsIgnoringCase(f[0], c.code)) {
        a.type = std::uint8_t(c.value);
        typeFound = true;
      }
    if (!typeFound) return failAce(ERROR_INVALID_ACL);
    for (std::size_t i = 0; i < f[1].size(); i += 2) {
      if (f[1].size() - i < 2) return failAce(ERROR_INVALID_ACL);
      const std::string_view code = f[1].substr(i, 2);
      bool found = false;
      for (const Code& c : kAceFlags)
        if (equalsIgnoringCase(code, c.code)) {
          a.flags |= std::uint8_t(c.value);
          found = true;
        }
      if (!found) return failAce(ERROR_INVALID_ACL);
    }
    auto mask = rightsFromText(f[2], a.type);
    if (!mask) return failAce(ERROR_INVALID_ACL);
    a.mask = *mask;
    if (!f[3].empty() || !f[4].empty()) {
      if (!isObjectAceType(a.type)) return failAce(ERROR_INVALID_ACL);
      if (!f[3].empty() && !(a.objectType = guidFromText(f[3]))) return failAce(ERROR_INVALID_ACL);
      if (!f[4].empty() && !(a.inheritedObjectType = guidFromText(f[4]))) return failAce(ERROR_INVALID_ACL);
    }
    auto sid = sidFromSddl(f[5], domain_);
    if (!sid) return failAce(ERROR_INVALID_SID);
    a.sid = std::move(*sid);
    return a;
  }

  static std::optional<std::uint32_t> rightsFromText(std::string_view t, std::uint8_t aceType) {
    if (t.empty()) return 0u;
    if (std::isdigit(static_cast<unsigned char>(t[0]))) {
      int base = 10;
      if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        t.remove_prefix(2);
        base = 16;
      }
      std::uint32_t v = 0;
      auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v, base);
      if (ec != std::errc() || p != t.data() + t.size()) return std::nullopt;
      return v;
    }
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < t.size(); i += 2) {
      if (t.size() - i < 2) return std::nullopt;
      const std::string_view code = t.substr(i, 2);
      bool found = false;
      for (const Code& c : kSingleRights)
        if (equalsIgnoringCase(code, c.code)) mask |= c.value, found = true;
      for (const Code& c : kCombinedRights) {
        if (found) break;
        if (c.code[0] == 'N' && aceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE) continue;
        if (equalsIgnoringCase(code, c.code)) mask |= c.value, found = true;
      }
      if (!found) return std::nullopt;
    }
    return mask;
  }

  std::string_view t_;
  std::span<const std::uint8_t> domain_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string sidToSddl(std::span<const std::uint8_t> sid, std::span<const std::uint8_t> domain) {
  const std::size_t len = sidLength(sid);
  if (len == 0) return {};
  const std::span<const std::uint8_t> exact = sid.first(len);
  for (const Alias& a : kAliases) {
    auto s = aliasSid(a, domain);
    if (s && std::equal(s->begin(), s->end(), exact.begin(), exact.end())) return a.code;
  }
  return sidToString(exact).value_or(std::string());
}

std::optional<Bytes> sidFromSddl(std::string_view text, std::span<const std::uint8_t> domain) {
  if (text.size() == 2) {
    for (const Alias& a : kAliases)
      if (equalsIgnoringCase(text, a.code)) return aliasSid(a, domain);
    return std::nullopt;
  }
  return sidFromString(text);
}

Result<std::string, DWORD> toSddl(std::span<const std::uint8_t> descriptor, DWORD info,
                                  std::span<const std::uint8_t> domain) {
  auto parts = parse(descriptor);
  if (!parts) return Result<std::string, DWORD>::failure(ERROR_INVALID_SECURITY_DESCR);
  std::string out;
  if ((info & 0x1) && parts->owner) out += "O:" + sidToSddl(*parts->owner, domain);
  if ((info & 0x2) && parts->group) out += "G:" + sidToSddl(*parts->group, domain);
  for (const bool dacl : {true, false}) {
    if (!(info & (dacl ? 0x4 : 0x8))) continue;
    const auto& acl = dacl ? parts->dacl : parts->sacl;
    if (!acl) continue;
    auto text = aclText(*acl, domain);
    if (!text) return text;
    out += (dacl ? "D:" : "S:") + aclFlagsText(parts->control, dacl) + text.value();
  }
  return out;
}

Result<Bytes, DWORD> fromSddl(std::string_view text, std::span<const std::uint8_t> domain) {
  return Reader(text, domain).descriptor();
}

}  // namespace platform::sd

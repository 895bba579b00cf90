// Security descriptors: the text form both ways (against a table, against
// every descriptor of real hives), the access check and inheritance.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/SecurityDescriptor.h"
#include "platform/Security.h"
#include "platform/hive/HiveFile.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace sd = platform::sd;
using platform::hive::HiveFile;
using platform::hive::KeyId;
using platform::hive::OpenMode;
using namespace platform;

namespace {

const sd::Bytes kDomain = *sd::sidFromString("S-1-5-21-1-2-3");


sd::Bytes fromText(const std::string& text) {
  auto r = sd::fromSddl(text, kDomain);
  EXPECT_TRUE(r.ok()) << text << " error " << r.error();
  return r.ok() ? r.value() : sd::Bytes{};
}

std::string toText(const sd::Bytes& d, DWORD info = 0xF) {
  auto r = sd::toSddl(d, info, kDomain);
  EXPECT_TRUE(r.ok()) << "error " << r.error();
  return r.ok() ? r.value() : std::string();
}

TEST(SddlText, RoundTripsTextIdentical) {
  const char* cases[] = {
      "D:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)",
      "O:BAG:SYD:P(A;CI;KA;;;SY)",
      "D:NO_ACCESS_CONTROL",
      "D:P(D;;KW;;;WD)(A;;KR;;;WD)",
      "O:SYG:SYD:(A;OICINPIOID;FA;;;S-1-5-21-9-8-7-1001)S:AI(AU;SAFA;KA;;;WD)",
      "D:(OA;CI;RPWP;bf967aba-0de6-11d0-a285-00aa003049e2;;AU)"
      "(OD;;CR;;4828cc14-1437-45bc-9b07-ad6f015e5f28;BU)",
      "D:(A;;0x1200a9;;;BU)(A;;CCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;GXGR;;;LA)",
      "O:DAG:DUD:AR(A;;0x200;;;S-1-0x123456789ABC-4)",
      "S:NO_ACCESS_CONTROL",
      "",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(toText(fromText(text)), text);
  }
}

TEST(SddlText, WritesWindowsForms) {
  struct Case {
    const char* in;
    DWORD info;
    const char* out;
  };
  const Case cases[] = {
      // Lower case, blanks and another section order read; Windows' order written.
      {"d:(a;ci;ka;;;ba) O: S-1-5-32-544 G:S-1-5-18", 0xF, "O:BAG:SYD:(A;CI;KA;;;BA)"},
      // Only the parts asked for.
      {"O:BAG:SYD:P(A;;KA;;;SY)", 0x4, "D:P(A;;KA;;;SY)"},
      {"O:BAG:SYD:P(A;;KA;;;SY)", 0x3, "O:BAG:SY"},
      // Single codes when no combined one fits; a combined one when it does.
      {"D:(A;;RCSD;;;WD)(A;;0xF003F;;;WD)(A;;131097;;;WD)", 0x4, "D:(A;;SDRC;;;WD)(A;;KA;;;WD)(A;;KR;;;WD)"},
      // A bit no code names: hex.
      {"D:(A;;0x100000;;;WD)", 0x4, "D:(A;;0x100000;;;WD)"},
      // Domain-relative aliases against the machine's domain.
      {"O:S-1-5-21-1-2-3-500G:S-1-5-21-9-9-9-500", 0x3, "O:LAG:S-1-5-21-9-9-9-500"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(toText(fromText(c.in), c.info), c.out);
  }
}

TEST(SddlText, RefusesBadTextWithWindowsCodes) {
  struct Case {
    const char* text;
    DWORD code;
  };
  const Case cases[] = {
      {"X:BA", ERROR_INVALID_PARAMETER},       {"O:BAO:SY", ERROR_INVALID_PARAMETER},
      {"O:ZZ", ERROR_INVALID_SID},             {"O:S-1-x", ERROR_INVALID_SID},
      {"D:(A;;KA;;;QQ)", ERROR_INVALID_SID},   {"D:(A;;KA;;BA)", ERROR_INVALID_ACL},
      {"D:(Q;;KA;;;BA)", ERROR_INVALID_ACL},   {"D:(A;XX;KA;;;BA)", ERROR_INVALID_ACL},
      {"D:(A;;KAZ;;;BA)", ERROR_INVALID_ACL},  {"D:(A;;KA;;;BA", ERROR_INVALID_ACL},
      {"D:(A;;KA;nonsense;;BA)", ERROR_INVALID_ACL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = sd::fromSddl(c.text, kDomain);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), c.code);
  }
}

TEST(SddlText, SidTextsBothWays) {
  struct Case {
    const char* text;
    const char* canonical;  // ConvertSidToStringSid
  };
  const Case cases[] = {
      {"BA", "S-1-5-32-544"},
      {"sy", "S-1-5-18"},
      {"S-1-1-0", "S-1-1-0"},
      {"S-1-0x123456789ABC-7", "S-1-0x123456789ABC-7"},
      {"S-1-5-21-1-2-3-4-5-6-7-8-9-10-11-12-13-14", "S-1-5-21-1-2-3-4-5-6-7-8-9-10-11-12-13-14"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto bytes = sd::sidFromSddl(c.text, kDomain);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(sd::sidToString(*bytes), c.canonical);
  }
  for (const char* bad : {"", "S-1", "S-2-5-18", "S-1-5-", "S-1-5-4294967296", "XX", "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(sd::sidFromSddl(bad, kDomain));
  }
}

std::vector<std::string> split(const std::string& s, char at) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = s.find(at, start);
    out.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

// An ACL as its revision and entries, byte for byte: SDDL cannot carry
// unused room at an ACL's end, which some real ACLs have.
std::optional<sd::Bytes> entriesOf(const std::optional<sd::Bytes>& acl) {
  if (!acl || acl->empty()) return acl;
  auto parsed = sd::parseAcl(*acl);
  if (!parsed) return sd::Bytes{0xFF};
  sd::Bytes out = sd::buildAcl(parsed->aces);
  out[0] = parsed->revision;
  return out;
}

// Every distinct descriptor of a hive, and the keys' count of each.
std::set<sd::Bytes> descriptorsOf(const HiveFile& h) {
  std::set<sd::Bytes> out;
  std::vector<KeyId> work{h.root()};
  while (!work.empty()) {
    const KeyId k = work.back();
    work.pop_back();
    if (auto s = h.security(k)) out.insert(*s);
    if (auto subs = h.subkeys(k)) work.insert(work.end(), subs->begin(), subs->end());
  }
  return out;
}

TEST(SddlText, RealHiveDescriptorsReadBackToTheSameParts) {
  for (const char* name : {"hives/real/SYSTEM.xz", "hives/real/SAM.xz", "hives/real/SECURITY.xz"}) {
    SCOPED_TRACE(name);
    HS_TESTDATA_OR_SKIP(file, testsupport::unpackedTestdata(name));
    auto hive = HiveFile::openWithLogs(file, {}, OpenMode::ReadOnly);
    ASSERT_TRUE(hive.ok());
    const auto all = descriptorsOf(**hive);
    ASSERT_FALSE(all.empty());
    for (const sd::Bytes& d : all) {
      auto original = sd::parse(d);
      ASSERT_TRUE(original);
      const std::string text = toText(d);
      SCOPED_TRACE(text);
      auto back = sd::parse(fromText(text));
      ASSERT_TRUE(back);
      // SDDL has no letters for the *_DEFAULTED bits, nor a place for the
      // flags of an ACL that is absent.
      std::uint16_t unsaid = sd::SE_OWNER_DEFAULTED | sd::SE_GROUP_DEFAULTED | sd::SE_DACL_DEFAULTED |
                             sd::SE_SACL_DEFAULTED;
      if (!original->dacl) unsaid |= sd::SE_DACL_PROTECTED | sd::SE_DACL_AUTO_INHERITED | sd::SE_DACL_AUTO_INHERIT_REQ;
      if (!original->sacl) unsaid |= sd::SE_SACL_PROTECTED | sd::SE_SACL_AUTO_INHERITED | sd::SE_SACL_AUTO_INHERIT_REQ;
      EXPECT_EQ(back->control, original->control & ~unsaid);
      EXPECT_EQ(back->owner, original->owner);
      EXPECT_EQ(back->group, original->group);
      EXPECT_EQ(entriesOf(back->dacl), entriesOf(original->dacl));
      EXPECT_EQ(entriesOf(back->sacl), entriesOf(original->sacl));
    }
  }
}

}  // namespace

namespace {

// The other reader: Debian's python3-samba. For each line "descriptor hex
// TAB our text" it prints "its text TAB the descriptor it reads from our
// text, hex (or ERR)". Its reader lacks the key-right codes, so those reach
// it as numbers; it has no text for a NULL ACL either, so such an ACL is
// left out on both sides.
const char* kSambaScript = R"(
import re
import sys
from samba.dcerpc import security
from samba.ndr import ndr_unpack, ndr_pack
dom = security.dom_sid(sys.argv[2])
keys = {'KA': '0xf003f', 'KR': '0x20019', 'KW': '0x20006', 'KX': '0x20019'}
for line in open(sys.argv[1]):
    hexbytes, ours = line.rstrip('\n').split('\t')
    theirs = ndr_unpack(security.descriptor, bytes.fromhex(hexbytes)).as_sddl(dom)
    ours = re.sub('[DS]:[PARI]*NO_ACCESS_CONTROL', '', ours)
    for code, number in keys.items():
        ours = ours.replace(';' + code + ';', ';' + number + ';')
    try:
        back = ndr_pack(security.descriptor.from_sddl(ours, dom)).hex()
    except Exception:
        back = 'ERR'
    print(theirs + '\t' + back)
)";

std::string hexOf(const sd::Bytes& b) {
  std::string out;
  char buf[3];
  for (std::uint8_t c : b) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

sd::Bytes bytesOfHex(const std::string& hex) {
  sd::Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(std::uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// Owner, group and the entries of both ACLs, for comparing descriptors
// written by different hands (the other writer gives every ACL revision 4).
std::string partsOf(const sd::Bytes& descriptor) {
  auto p = sd::parse(descriptor);
  if (!p) return "unreadable";
  auto sid = [](const std::optional<sd::Bytes>& s) { return s ? hexOf(*s) : std::string("-"); };
  auto acl = [](const std::optional<sd::Bytes>& a) {
    if (!a) return std::string("-");
    if (a->empty()) return std::string("-");
    return hexOf(entriesOf(a).value()).substr(2);
  };
  return sid(p->owner) + " " + sid(p->group) + " D" + acl(p->dacl) + " S" + acl(p->sacl);
}

TEST(SddlText, SambaReadsAndWritesTheSameParts) {
  if (std::system("/usr/bin/python3 -c 'import samba.dcerpc.security' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-samba is not installed";
  testsupport::TempDir dir;
  const std::filesystem::path script = dir / "oracle.py";
  const std::filesystem::path input = dir / "descriptors";
  std::ofstream(script) << kSambaScript;
  std::vector<sd::Bytes> all;
  {
    std::ofstream in(input);
    for (const char* name : {"hives/real/SYSTEM.xz", "hives/real/SAM.xz", "hives/real/SECURITY.xz"}) {
      HS_TESTDATA_OR_SKIP(file, testsupport::unpackedTestdata(name));
      auto hive = HiveFile::openWithLogs(file, {}, OpenMode::ReadOnly);
      ASSERT_TRUE(hive.ok());
      for (const sd::Bytes& d : descriptorsOf(**hive)) {
        all.push_back(d);
        in << hexOf(d) << "\t" << toText(d) << "\n";
      }
    }
  }
  int status = 0;
  const std::string out = testsupport::commandOutput("/usr/bin/python3 " + testsupport::shellQuote(script.string()) +
                                                         " " + testsupport::shellQuote(input.string()) + " " +
                                                         *sd::sidToString(kDomain),
                                                     &status);
  ASSERT_EQ(status, 0) << out;
  const auto lines = split(out, '\n');
  ASSERT_GE(lines.size(), all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    const auto fields = split(lines[i], '\t');
    ASSERT_EQ(fields.size(), 2u) << lines[i];
    SCOPED_TRACE(toText(all[i]) + "  /  " + fields[0]);
    EXPECT_EQ(partsOf(fromText(fields[0])), partsOf(all[i])) << "our reading of its text";
    ASSERT_NE(fields[1], "ERR") << "its reading of our text";
    EXPECT_EQ(partsOf(bytesOfHex(fields[1])), partsOf(all[i])) << "its reading of our text";
  }
}

}  // namespace

namespace {

TEST(Inheritance, NewKeyTakesTheParentsInheritableEntries) {
  struct Case {
    const char* parent;
    const char* child;
  };
  const Case cases[] = {
      // Creator owner becomes the owner with mapped rights, plus its inherit-only copy.
      {"O:SYG:SYD:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)", "O:BAG:DUD:AI(A;CIID;KA;;;BA)(A;ID;KA;;;BA)(A;CIIOID;GA;;;CO)"},
      // Generic rights: an effective entry with key rights and the entry as it stands for the keys below.
      {"D:(A;CI;GR;;;BU)", "O:BAG:DUD:(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)"},
      // No propagation: this key only, without inheritance flags.
      {"D:(A;CINP;KA;;;WD)(A;CINPIO;GA;;;CO)", "O:BAG:DUD:(A;ID;KA;;;WD)(A;ID;KA;;;BA)"},
      // For leaf objects only: passed on, inert.
      {"D:(A;OI;KR;;;WD)", "O:BAG:DUD:(A;OIIOID;KR;;;WD)"},
      // Nothing inheritable, a NULL DACL, none at all: the token's default DACL.
      {"D:(A;;KA;;;WD)(A;OINP;KR;;;WD)", "O:BAG:DUD:(A;;KA;;;BA)(A;;KA;;;SY)"},
      {"D:NO_ACCESS_CONTROL", "O:BAG:DUD:(A;;KA;;;BA)(A;;KA;;;SY)"},
      {"O:SY", "O:BAG:DUD:(A;;KA;;;BA)(A;;KA;;;SY)"},
      // Audit entries of the SACL inherit the same way.
      {"S:AI(AU;CISA;KA;;;WD)(AU;SA;KA;;;BA)", "O:BAG:DUD:(A;;KA;;;BA)(A;;KA;;;SY)S:AI(AU;CIIDSA;KA;;;WD)"},
  };
  const sd::Bytes owner = *sd::sidFromSddl("BA", kDomain);
  const sd::Bytes group = *sd::sidFromSddl("DU", kDomain);
  const std::vector<sd::Ace> defaultDacl = {{sd::ACCESS_ALLOWED_ACE_TYPE, 0, 0xF003F, owner},
                                            {sd::ACCESS_ALLOWED_ACE_TYPE, 0, 0xF003F, *sd::sidFromString("S-1-5-18")}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parent);
    auto parent = sd::parse(fromText(c.parent));
    ASSERT_TRUE(parent);
    EXPECT_EQ(toText(sd::inherit(*parent, owner, group, defaultDacl, sd::kKeyMapping)), c.child);
  }
}

}  // namespace

namespace {

// reglookup's names of access rights and entry flags.
struct Named {
  const char* name;
  std::uint32_t bit;
};
constexpr Named kRightNames[] = {
    {"QRY_VAL", 0x1},        {"SET_VAL", 0x2},      {"CREATE_KEY", 0x4},  {"ENUM_KEYS", 0x8},
    {"NOTIFY", 0x10},        {"CREATE_LNK", 0x20},  {"WOW64_64", 0x100},  {"WOW64_32", 0x200},
    {"DELETE", 0x10000},     {"R_CONT", 0x20000},   {"W_DAC", 0x40000},   {"W_OWNER", 0x80000},
    {"SYNC", 0x100000},      {"SYS_SEC", 0x1000000}, {"MAX_ALLWD", 0x2000000}, {"GEN_A", 0x10000000},
    {"GEN_X", 0x20000000},   {"GEN_W", 0x40000000}, {"GEN_R", 0x80000000},
};
constexpr Named kFlagNames[] = {{"OI", 0x1}, {"CI", 0x2}, {"NP", 0x4}, {"IO", 0x8}, {"IA", 0x10},
                                {"SA", 0x40}, {"FA", 0x80}};

std::uint32_t bitsOf(const std::string& names, std::span<const Named> table) {
  std::uint32_t bits = 0;
  for (const std::string& n : split(names, ' ')) {
    if (n.empty()) continue;
    bool found = false;
    for (const Named& t : table)
      if (n == t.name) bits |= t.bit, found = true;
    if (!found) ADD_FAILURE() << "name not in the table: " << n;
  }
  return bits;
}

// One key's security as reglookup prints it: "owner,group,SID:ALLOW:rights:flags|...".
std::string theirSecurity(const std::vector<std::string>& fields) {
  std::string out = fields[4] + "," + fields[5] + ",";
  for (const std::string& ace : split(fields[7], '|')) {
    if (ace.empty()) continue;
    const auto f = split(ace, ':');
    if (f.size() != 4) return out + "?" + ace;
    char buf[64];
    std::snprintf(buf, sizeof buf, ":%08x:%02x|", bitsOf(f[2], kRightNames), bitsOf(f[3], kFlagNames));
    out += f[0] + ":" + f[1] + buf;
  }
  return out;
}

// reglookup leaves out the rights it has no name for.
std::uint32_t namedRights() {
  std::uint32_t all = 0;
  for (const Named& n : kRightNames) all |= n.bit;
  return all;
}

std::string ourSecurity(const sd::Bytes& descriptor) {
  auto p = sd::parse(descriptor);
  if (!p) return "unreadable";
  std::string out = (p->owner ? *sd::sidToString(*p->owner) : "") + "," + (p->group ? *sd::sidToString(*p->group) : "") + ",";
  if (p->dacl && !p->dacl->empty()) {
    auto acl = sd::parseAcl(*p->dacl);
    if (!acl) return out + "bad ACL";
    for (const sd::Ace& a : acl->aces) {
      char buf[64];
      std::snprintf(buf, sizeof buf, ":%08x:%02x|", a.mask & namedRights(), a.flags);
      out += *sd::sidToString(a.sid) + (a.type == sd::ACCESS_ALLOWED_ACE_TYPE ? ":ALLOW" : ":DENY") + buf;
    }
  }
  return out;
}

// Our reading of every key's owner, group and DACL entries equals reglookup's;
// both walk the keys depth first in stored order.
TEST(HiveSecurityOracle, EveryKeyAsReglookupReadsIt) {
  if (!testsupport::haveTool("reglookup")) GTEST_SKIP() << "reglookup is not installed";
  for (const char* name : {"hives/real/SYSTEM.xz", "hives/real/SAM.xz"}) {
    SCOPED_TRACE(name);
    HS_TESTDATA_OR_SKIP(file, testsupport::unpackedTestdata(name));
    int status = 0;
    const std::string out =
        testsupport::commandOutput("reglookup -s -t KEY " + testsupport::shellQuote(file.string()) + " 2>/dev/null", &status);
    ASSERT_EQ(status, 0);
    std::vector<std::pair<std::string, std::string>> theirs;  // path, security
    for (const std::string& line : split(out, '\n')) {
      if (line.empty() || line.starts_with("PATH,")) continue;
      const auto fields = split(line, ',');
      ASSERT_GE(fields.size(), 9u) << line;
      theirs.emplace_back(fields[0], theirSecurity(fields));
    }
    auto hive = HiveFile::openWithLogs(file, {}, OpenMode::ReadOnly);
    ASSERT_TRUE(hive.ok());
    std::vector<std::string> ours;
    std::vector<KeyId> work{(*hive)->root()};
    while (!work.empty()) {
      const KeyId k = work.back();
      work.pop_back();
      auto s = (*hive)->security(k);
      ours.push_back(s ? ourSecurity(*s) : "no descriptor");
      if (auto subs = (*hive)->subkeys(k)) work.insert(work.end(), subs->rbegin(), subs->rend());
    }
    ASSERT_EQ(ours.size(), theirs.size());
    for (std::size_t i = 0; i < ours.size(); ++i) {
      ASSERT_EQ(ours[i], theirs[i].second) << theirs[i].first;
    }
  }
}

}  // namespace

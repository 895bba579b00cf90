// Reading hives: the crafted edge cases, real hives against hivexml, and
// damaged files (which must give errors or a partial tree, never a crash).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "HiveTestUtil.h"
#include "platform/hive/HiveFile.h"
#include "tests/support/TestData.h"

using namespace platform::hive;
using namespace hivetest;

namespace {

const char* kYarp = "hives/crafted/yarp-hives.tar.xz";

std::unique_ptr<HiveFile> openOk(const std::filesystem::path& p) {
  auto r = HiveFile::open(p, OpenMode::ReadOnly);
  EXPECT_TRUE(r.ok()) << p << " error " << static_cast<int>(r.error());
  return r.ok() ? std::move(*r) : nullptr;
}

KeyId keyAt(const HiveFile& h, std::initializer_list<std::u16string_view> path) {
  KeyId k = h.root();
  for (auto n : path) {
    auto r = h.findSubkey(k, n);
    EXPECT_TRUE(r.ok()) << utf8(n);
    if (!r) return k;
    k = *r;
  }
  return k;
}

std::vector<std::u16string> childNames(const HiveFile& h, KeyId k) {
  std::vector<std::u16string> out;
  const auto kids = h.subkeys(k);
  for (KeyId c : *kids) out.push_back(h.keyInfo(c)->name);
  return out;
}

}  // namespace

TEST(HiveRead, SpecialNamesWithNulAndLatin1) {
  HS_TESTDATA_OR_SKIP(path, testsupport::testdataFile("hives/crafted/special"));
  auto h = openOk(path);
  ASSERT_TRUE(h);
  EXPECT_FALSE(h->baseBlock().dirty());
  EXPECT_TRUE(h->baseBlock().checksumValid);
  const std::u16string zeroKey(u"zero\0key", 8), zeroVal(u"zero\0val", 8);
  auto names = childNames(*h, h->root());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"abcd_äöüß", u"weird™", zeroKey}));
  const KeyId zero = keyAt(*h, {zeroKey});
  auto v = h->findValue(zero, zeroVal);
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(h->valueInfo(*v)->name, zeroVal);
  EXPECT_EQ(h->valueInfo(*v)->type, 4u);
  // The NUL is part of the name: the prefix alone is another name.
  EXPECT_EQ(h->findSubkey(h->root(), u"zero").error(), HiveError::NotFound);
  EXPECT_TRUE(h->findValue(keyAt(*h, {u"WEIRD™"}), u"symbols $£₤₧€").ok());
}

TEST(HiveRead, ResidentAndSmallDataAroundTheBoundary) {
  HS_TESTDATA_OR_SKIP(path, testsupport::testdataFile("hives/crafted/rlenvalue_test_hive"));
  auto h = openOk(path);
  ASSERT_TRUE(h);
  const KeyId k = keyAt(*h, {u"ModerateValueParent"});
  const std::string digits = "0123456789ABCDEF0123456789ABCDEF0";
  for (std::size_t n : {3, 16, 30, 31, 32, 33}) {
    SCOPED_TRACE(n);
    std::u16string name;
    for (char c : std::to_string(n) + "Bytes") name += static_cast<char16_t>(c);
    auto id = h->findValue(k, name);
    ASSERT_TRUE(id.ok());
    auto data = h->valueData(*id);
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(std::string(data->begin(), data->end()), digits.substr(0, n));
    EXPECT_EQ(h->valueInfo(*id)->dataSize, n);
  }
}

TEST(HiveRead, YarpEdgeCases) {
  HS_TESTDATA_OR_SKIP(big, testsupport::unpackedTestdataMember(kYarp, "BigDataHive"));
  {
    auto h = openOk(big);
    ASSERT_TRUE(h);
    const KeyId k = keyAt(*h, {u"key_with_bigdata"});
    auto def = h->valueData(*h->findValue(k, u""));
    ASSERT_TRUE(def.ok());
    EXPECT_EQ(*def, std::vector<std::uint8_t>(16345, '1'));
    auto v = h->valueData(*h->findValue(k, u"V"));
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(*v, std::vector<std::uint8_t>(81725, '2'));
  }
  {
    auto h = openOk(testsupport::unpackedTestdataMember(kYarp, "ManySubkeysHive"));
    ASSERT_TRUE(h);
    const KeyId many = keyAt(*h, {u"key_with_MAny_subkeys"});
    EXPECT_EQ(h->subkeys(many)->size(), 5000u);
    EXPECT_EQ(h->keyInfo(many)->subkeyCount, 5000u);
    auto names = childNames(*h, many);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(),
                               [](auto& a, auto& b) { return compareKeyNames(a, b) < 0; }));
    const KeyId found = keyAt(*h, {u"key_with_MAny_subkeys", u"2119", u"FIND_ME"});
    EXPECT_EQ(h->keyInfo(found)->name, u"find_me");
  }
  {
    auto h = openOk(testsupport::unpackedTestdataMember(kYarp, "UnicodeHive"));
    ASSERT_TRUE(h);
    const KeyId k = keyAt(*h, {u"ПриВет", u"КлюЧ"});
    EXPECT_EQ(h->keyInfo(k)->name, u"Ключ");
    EXPECT_EQ(h->security(h->root())->size(), 144u);
    EXPECT_EQ(h->keyInfo(h->root())->securitySize, 144u);
  }
  {
    auto h = openOk(testsupport::unpackedTestdataMember(kYarp, "ExtendedASCIIHive"));
    ASSERT_TRUE(h);
    const KeyId k = keyAt(*h, {u"ËIGENAARDIG"});
    EXPECT_EQ(h->keyInfo(k)->name, u"ëigenaardig");
    EXPECT_TRUE(h->findValue(k, u"ëigenaardig").ok());
  }
  {
    auto h = openOk(testsupport::unpackedTestdataMember(kYarp, "UpcaseHive"));
    ASSERT_TRUE(h);
    EXPECT_EQ(childNames(*h, h->root()), (std::vector<std::u16string>{u"ss1", u"SS3", u"ß2"}));
  }
  {
    auto h = openOk(testsupport::unpackedTestdataMember(kYarp, "EmptyHive"));
    ASSERT_TRUE(h);
    EXPECT_TRUE(h->subkeys(h->root())->empty());
    // 2017-03-04 16:37:31 UTC
    EXPECT_EQ(h->keyInfo(h->root())->lastWritten / 10000000ull - 11644473600ull, 1488645451ull);
  }
}

TEST(HiveRead, NameOrderAndHashes) {
  // Windows' order upper-cases UTF-16 units and compares them as numbers.
  EXPECT_LT(compareKeyNames(u"ss1", u"SS3"), 0);
  EXPECT_LT(compareKeyNames(u"SS3", u"ß2"), 0);
  EXPECT_EQ(compareKeyNames(u"abc", u"ABC"), 0);
  EXPECT_LT(compareKeyNames(u"ab", u"abc"), 0);
  EXPECT_GT(compareKeyNames(u"_", u"Z"), 0);  // '_' sorts after the letters once they are upper case
  EXPECT_EQ(compareKeyNames(u"привет", u"ПРИВЕТ"), 0);
}

// Every damaged or odd file of the test data: opening gives an error or a
// hive whose walk ends; nothing crashes (run under ASan/UBSan too).
TEST(HiveRead, DamagedAndOddFilesNeverCrash) {
  const char* members[] = {"TruncatedHive", "BadListHive", "BadSubkeyHive", "DuplicateSubkeysHive", "WrongOrderHive",
                           "TruncatedDirtyHive", "TruncatedHiveBin", "TruncatedNameHive", "InvalidParentFragment",
                           "InvalidParentHive", "GarbageHive", "EffectiveSizeHive", "SlackHive", "PairHive",
                           "TruncatedPairHive", "TruncatedPairHive2", "BogusKeyNamesHive", "MultiSzHive",
                           "StringValuesHive", "ValuesOrderHive", "DupNameHive", "CompHive", "TwoOwnersHive",
                           "NewFlagsHive", "System_Delta", "HealedHive", "OffHive", "ReallocValueHive",
                           "ReallocValueDataHive", "BadBaseBlockHive/BadBaseBlockHive"};
  std::vector<std::filesystem::path> files;
  for (const char* m : members) files.push_back(testsupport::unpackedTestdataMember(kYarp, m));
  for (const char* f : {"fake_system.rf", "invalid_regf_header.rf", "winnt_error_tests.rf", "winnt_key_tests.rf",
                        "winnt_security_tests.rf", "winnt_value_tests.rf"})
    files.push_back(testsupport::testdataFile(std::string("hives/crafted/pwr/") + f));
  if (files.front().empty()) GTEST_SKIP() << "test data not found";
  for (const auto& f : files) {
    SCOPED_TRACE(f.string());
    ASSERT_FALSE(f.empty());
    auto r = HiveFile::open(f, OpenMode::ReadWrite);
    if (!r) {
      EXPECT_TRUE(r.error() == HiveError::NotAHive || r.error() == HiveError::Corrupt);
      continue;
    }
    const Walk w = walkHive(**r, 100000);
    EXPECT_LT(w.keys, 100000u);
  }
}

TEST(HiveRead, DamagedFilesGiveTheSoundPart) {
  HS_TESTDATA_OR_SKIP(trunc, testsupport::unpackedTestdataMember(kYarp, "TruncatedHive"));
  EXPECT_EQ(HiveFile::open(testsupport::unpackedTestdataMember(kYarp, "TruncatedHiveBin"), OpenMode::ReadOnly).error(),
            HiveError::NotAHive);
  EXPECT_EQ(HiveFile::open(testsupport::testdataFile("hives/crafted/pwr/invalid_regf_header.rf"), OpenMode::ReadOnly)
                .error(),
            HiveError::NotAHive);
  struct Case {
    const char* member;
    bool dirty;
  };
  for (const Case& c : {Case{"TruncatedHive", false}, Case{"TruncatedDirtyHive", true},
                        Case{"BadBaseBlockHive/BadBaseBlockHive", true}}) {
    SCOPED_TRACE(c.member);
    auto r = HiveFile::open(testsupport::unpackedTestdataMember(kYarp, c.member), OpenMode::ReadWrite);
    if (!r) continue;  // nothing sound at all is a fine answer too
    EXPECT_TRUE((*r)->readOnly());
    EXPECT_EQ((*r)->baseBlock().dirty(), c.dirty);
    EXPECT_EQ((*r)->createKey((*r)->root(), u"x").error(), HiveError::ReadOnly);
  }
  // A key whose name runs past its cell is an error for that key only.
  auto h = openOk(testsupport::unpackedTestdataMember(kYarp, "TruncatedNameHive"));
  ASSERT_TRUE(h);
  const Walk w = walkHive(*h);
  EXPECT_GE(w.keys, 1u);
}

TEST(HiveRead, DirtyRealHivesOpenReadOnly) {
  HS_TESTDATA_OR_SKIP(sec, testsupport::unpackedTestdata("hives/real/SECURITY.xz"));
  for (const char* f : {"hives/real/SECURITY.xz", "hives/real/UsrClass.dat.xz"}) {
    SCOPED_TRACE(f);
    auto r = HiveFile::open(testsupport::unpackedTestdata(f), OpenMode::ReadWrite);
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE((*r)->baseBlock().dirty());
    EXPECT_TRUE((*r)->readOnly());
    EXPECT_EQ((*r)->setValue((*r)->root(), u"v", 4, std::vector<std::uint8_t>(4)).error(), HiveError::ReadOnly);
    EXPECT_EQ((*r)->save().error(), HiveError::ReadOnly);
  }
  auto clean = HiveFile::open(testsupport::unpackedTestdata("hives/real/SAM.xz"), OpenMode::ReadWrite);
  ASSERT_TRUE(clean.ok());
  EXPECT_FALSE((*clean)->readOnly());
}

// ---------------------------------------------------------------- hivexml

namespace {

// Just enough XML for hivexml's output: elements, attributes, text, entities.
struct XmlReader {
  std::string_view s;
  std::size_t i = 0;

  static void appendUtf8(std::string& out, std::uint32_t c) {
    std::u16string u;
    if (c >= 0x10000) {
      c -= 0x10000;
      u += static_cast<char16_t>(0xD800 + (c >> 10));
      u += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      u += static_cast<char16_t>(c);
    }
    out += utf8(u);
  }
  static std::string unescape(std::string_view t) {
    std::string out;
    for (std::size_t k = 0; k < t.size(); ++k) {
      if (t[k] != '&') {
        out += t[k];
        continue;
      }
      const std::size_t semi = t.find(';', k);
      const std::string_view ent = t.substr(k + 1, semi - k - 1);
      if (ent == "amp") out += '&';
      else if (ent == "lt") out += '<';
      else if (ent == "gt") out += '>';
      else if (ent == "quot") out += '"';
      else if (ent == "apos") out += '\'';
      else if (!ent.empty() && ent[0] == '#')
        appendUtf8(out, static_cast<std::uint32_t>(ent.size() > 1 && ent[1] == 'x'
                                                       ? std::stoul(std::string(ent.substr(2)), nullptr, 16)
                                                       : std::stoul(std::string(ent.substr(1)))));
      k = semi;
    }
    return out;
  }
};

struct HivexmlItems {
  std::vector<std::string> items;
};

// Renders what hivexml shows of a value from the raw type and bytes.
std::string renderValue(std::uint32_t type, const std::vector<std::uint8_t>& d) {
  auto units = [&] {
    std::u16string u;
    for (std::size_t i = 0; i + 1 < d.size(); i += 2) u += static_cast<char16_t>(d[i] | (d[i + 1] << 8));
    return u;
  };
  auto b64 = [&] {
    static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string o;
    std::size_t i = 0;
    for (; i + 2 < d.size(); i += 3) {
      const std::uint32_t v = (d[i] << 16) | (d[i + 1] << 8) | d[i + 2];
      o += t[v >> 18], o += t[(v >> 12) & 63], o += t[(v >> 6) & 63], o += t[v & 63];
    }
    if (d.size() - i == 1) {
      const std::uint32_t v = d[i] << 16;
      o += t[v >> 18], o += t[(v >> 12) & 63], o += "==";
    } else if (d.size() - i == 2) {
      const std::uint32_t v = (d[i] << 16) | (d[i + 1] << 8);
      o += t[v >> 18], o += t[(v >> 12) & 63], o += t[(v >> 6) & 63], o += '=';
    }
    return o;
  };
  switch (type) {
    case 1: case 2: case 6: {
      std::u16string u = units();
      u = u.substr(0, u.find(u'\0'));
      return (type == 1 ? "string:" : type == 2 ? "expand:" : "link:") + utf8(u);
    }
    case 7: {
      std::u16string u = units();
      std::string o = "string-list:";
      std::size_t start = 0;
      while (start < u.size()) {
        const std::size_t end = std::min(u.find(u'\0', start), u.size());
        o += "<" + utf8(u.substr(start, end - start)) + ">";
        start = end + 1;
      }
      return o;
    }
    case 4: case 5:
      if (d.size() == 4) {
        const std::uint32_t v = type == 4 ? (d[0] | d[1] << 8 | d[2] << 16 | static_cast<std::uint32_t>(d[3]) << 24)
                                          : (d[3] | d[2] << 8 | d[1] << 16 | static_cast<std::uint32_t>(d[0]) << 24);
        return "int32:" + std::to_string(static_cast<std::int32_t>(v));
      }
      return "int32:-1";  // hivexml's way of showing a DWORD of the wrong size
    case 11:
      if (d.size() == 8) {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | d[i];
        return "int64:" + std::to_string(static_cast<std::int64_t>(v));
      }
      return "int64:-1";
  }
  static const char* names[] = {"none", "string", "expand", "binary", "int32", "int32", "link", "string-list",
                                "resource-list", "resource-description", "resource-requirements", "int64"};
  return std::string(type < 12 ? names[type] : "unknown") + ":" + b64();
}

std::vector<std::string> hivexmlItems(const std::filesystem::path& hive) {
  std::vector<std::string> items;
  FILE* p = ::popen(("hivexml '" + hive.string() + "' 2>/dev/null").c_str(), "r");
  if (!p) return items;
  std::string xml;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) xml.append(buf, n);
  ::pclose(p);

  std::vector<std::string> path;
  std::string valueHead;  // pending string-list value
  std::string listBody;
  bool inList = false;
  std::size_t i = 0;
  auto attr = [](std::string_view tag, std::string_view name) -> std::optional<std::string> {
    const std::string key = " " + std::string(name) + "=\"";
    const std::size_t a = tag.find(key);
    if (a == std::string_view::npos) return std::nullopt;
    const std::size_t b = tag.find('"', a + key.size());
    return XmlReader::unescape(tag.substr(a + key.size(), b - a - key.size()));
  };
  auto joined = [&] {
    std::string s;
    for (auto& p : path) s += "/" + p;
    return s;
  };
  while ((i = xml.find('<', i)) != std::string::npos) {
    const std::size_t end = xml.find('>', i);
    const std::string_view tag(xml.data() + i, end - i + 1);
    i = end + 1;
    if (tag.starts_with("<node ")) {
      path.push_back(*attr(tag, "name"));
      items.push_back("K " + joined());
      if (tag.ends_with("/>")) path.pop_back();
    } else if (tag == "</node>") {
      path.pop_back();
    } else if (tag.starts_with("<value ")) {
      const std::string type = *attr(tag, "type");
      const std::string name = attr(tag, "default") ? "" : attr(tag, "key").value_or("");
      const std::string head = "V " + joined() + "|" + name + "|";
      if (type == "string-list") {
        inList = true;
        valueHead = head;
        listBody = "string-list:";
      } else {
        std::string v = attr(tag, "value").value_or("");
        if (attr(tag, "encoding")) std::erase_if(v, [](char c) { return c == '\n' || c == ' ' || c == '\r'; });
        items.push_back(head + type + ":" + v);
      }
    } else if (tag == "<string>" && inList) {
      const std::size_t close = xml.find("</string>", i);
      listBody += "<" + XmlReader::unescape(std::string_view(xml).substr(i, close - i)) + ">";
      i = close;
    } else if (tag == "<string/>" && inList) {
      listBody += "<>";
    } else if (tag == "</value>" && inList) {
      items.push_back(valueHead + listBody);
      inList = false;
    }
  }
  return items;
}

std::vector<std::string> engineItems(const HiveFile& h) {
  std::vector<std::string> items;
  std::vector<std::pair<KeyId, std::string>> pending{{h.root(), ""}};
  while (!pending.empty()) {
    auto [k, parent] = pending.back();
    pending.pop_back();
    std::u16string name = h.keyInfo(k)->name;
    name = name.substr(0, name.find(u'\0'));  // hivexml stops names at a NUL
    const std::string path = parent + "/" + utf8(name);
    items.push_back("K " + path);
    const auto vals = h.values(k);
    for (ValueId v : *vals) {
      auto vi = h.valueInfo(v);
      std::u16string vn = vi->name.substr(0, vi->name.find(u'\0'));
      items.push_back("V " + path + "|" + utf8(vn) + "|" + renderValue(vi->type, *h.valueData(v)));
    }
    const auto kids = h.subkeys(k);
    for (KeyId c : *kids) pending.emplace_back(c, path);
  }
  return items;
}

}  // namespace

TEST(HiveRead, RealHivesMatchHivexml) {
  HS_TESTDATA_OR_SKIP(sys, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  if (std::system("hivexml --help >/dev/null 2>&1") != 0 && std::system("command -v hivexml >/dev/null") != 0)
    GTEST_SKIP() << "hivexml (libhivex-bin) not installed";
  for (const char* f : {"SYSTEM", "NTUSER.DAT", "NTUSER_modified.DAT", "SAM", "SECURITY", "BCD", "UsrClass.dat"}) {
    SCOPED_TRACE(f);
    const auto path = testsupport::unpackedTestdata(std::string("hives/real/") + f + ".xz");
    auto h = openOk(path);
    ASSERT_TRUE(h);
    auto ours = engineItems(*h);
    auto theirs = hivexmlItems(path);
    ASSERT_FALSE(theirs.empty());
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    std::vector<std::string> onlyOurs, onlyTheirs;
    std::set_difference(ours.begin(), ours.end(), theirs.begin(), theirs.end(), std::back_inserter(onlyOurs));
    std::set_difference(theirs.begin(), theirs.end(), ours.begin(), ours.end(), std::back_inserter(onlyTheirs));
    EXPECT_EQ(ours.size(), theirs.size());
    for (std::size_t i = 0; i < std::min<std::size_t>(onlyOurs.size(), 5); ++i) ADD_FAILURE() << "only ours: " << onlyOurs[i].substr(0, 300);
    for (std::size_t i = 0; i < std::min<std::size_t>(onlyTheirs.size(), 5); ++i) ADD_FAILURE() << "only hivexml: " << onlyTheirs[i].substr(0, 300);
  }
}

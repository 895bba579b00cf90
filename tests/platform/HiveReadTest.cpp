// Reading hives: the crafted edge cases, real hives against hivexml, and
// damaged files (which must give errors or a partial tree, never a crash).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <set>

#include "HiveTestUtil.h"
#include "platform/hive/HiveBytes.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveFormat.h"
#include "tests/support/TestData.h"

using namespace platform::hive;
using namespace hivetest;

namespace {

const char* kYarp = "hives/crafted/yarp-hives.tar.xz";

// Opens a file as it is on disk: logs other tests unpacked beside it are not replayed.
std::unique_ptr<HiveFile> openOk(const std::filesystem::path& p) {
  auto r = HiveFile::openWithLogs(p, {}, OpenMode::ReadOnly);
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
    auto r = HiveFile::openWithLogs(testsupport::unpackedTestdataMember(kYarp, c.member), {}, OpenMode::ReadWrite);
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

// Dirty and without logs (UsrClass.dat's logs are left out): read-only.
TEST(HiveRead, DirtyRealHivesOpenReadOnly) {
  HS_TESTDATA_OR_SKIP(sec, testsupport::unpackedTestdata("hives/real/SECURITY.xz"));
  for (const char* f : {"hives/real/SECURITY.xz", "hives/real/UsrClass.dat.xz"}) {
    SCOPED_TRACE(f);
    auto r = HiveFile::openWithLogs(testsupport::unpackedTestdata(f), {}, OpenMode::ReadWrite);
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

// ---------------------------------------------------------------- damaged copies of a real hive

namespace {

constexpr std::size_t kPayload = 4096 + 4;  // a cell's payload in the file: base block, then the size field

// The key paths of a walk (class names dropped: a damaged class cell is no
// loss of a key).
std::set<std::string> keyPaths(const Walk& w) {
  std::set<std::string> out;
  for (const auto& l : w.lines)
    if (l.starts_with("K ")) out.insert(l.substr(2, l.find(" class=") - 2));
  return out;
}

// The keys a reader must still give back when the bins offsets [lo, hi) are
// lost: those whose key node, and the list cells naming them, and the same
// for every key above them, lie outside.
std::set<std::string> keysOutside(const std::vector<std::uint8_t>& bytes, std::uint32_t lo, std::uint32_t hi) {
  auto u32 = [&](std::size_t at) { return loadU32(bytes.data() + at); };
  auto u16 = [&](std::size_t at) { return loadU16(bytes.data() + at); };
  auto outside = [&](std::uint32_t off) { return off < lo || off >= hi; };
  auto name = [&](std::uint32_t off) {
    const std::size_t len = u16(kPayload + off + nk::NameLen);
    std::string s;
    if (u16(kPayload + off + nk::Flags) & nk::FlagCompName) {
      s.assign(reinterpret_cast<const char*>(bytes.data() + kPayload + off + nk::Name), len);
    } else {
      std::u16string w;
      for (std::size_t i = 0; i + 1 < len; i += 2) w.push_back(u16(kPayload + off + nk::Name + i));
      s = utf8(w);
    }
    return s;
  };
  std::set<std::string> out;
  std::vector<std::pair<std::uint32_t, std::string>> pending{{u32(bb::Root), ""}};
  while (!pending.empty()) {
    auto [off, parentPath] = pending.back();
    pending.pop_back();
    const std::string path = parentPath + "/" + name(off);
    out.insert(path);
    if (u32(kPayload + off + nk::SubkeyCount) == 0) continue;
    std::vector<std::uint32_t> leaves{u32(kPayload + off + nk::SubkeyList)};
    if (!outside(leaves.front())) continue;
    if (bytes[kPayload + leaves.front()] == 'r') {
      const std::uint32_t ri = leaves.front();
      leaves.clear();
      for (std::size_t i = 0; i < u16(kPayload + ri + 2); ++i) leaves.push_back(u32(kPayload + ri + 4 + 4 * i));
    }
    for (std::uint32_t leaf : leaves) {
      if (!outside(leaf)) continue;
      const std::size_t stride = bytes[kPayload + leaf + 1] == 'i' ? 4 : 8;
      for (std::size_t i = 0; i < u16(kPayload + leaf + 2); ++i) {
        const std::uint32_t child = u32(kPayload + leaf + 4 + stride * i);
        if (outside(child)) pending.emplace_back(child, path);
      }
    }
  }
  return out;
}

std::unique_ptr<HiveFile> openCopy(const std::vector<std::uint8_t>& bytes) {
  auto r = HiveFile::openBytes(bytes, OpenMode::ReadWrite);
  EXPECT_TRUE(r.ok()) << static_cast<int>(r.error());
  return r.ok() ? std::move(*r) : nullptr;
}

}  // namespace

// One bad bin (a changed signature byte, a zeroed page) hides only what lies
// in it: the bins after it are read, the hive is damaged and read-only.
TEST(HiveRead, ABadBinHidesOnlyItsOwnPages) {
  HS_TESTDATA_OR_SKIP(path, testsupport::unpackedTestdata("hives/real/NTUSER.DAT.xz"));
  const std::vector<std::uint8_t> original = readFile(path);
  const std::set<std::string> all = keyPaths(walkHive(*openCopy(original)));
  // The bin that starts nearest a third into the bins.
  const std::uint32_t bins = loadU32(original.data() + bb::BinsSize);
  std::uint32_t binOff = 0, binSize = 0;
  for (std::uint32_t at = 0; at < bins; at += binSize) {
    binSize = loadU32(original.data() + 4096 + at + 8);
    binOff = at;
    if (at >= bins / 3) break;
  }
  ASSERT_GT(binOff, 0u);
  const std::set<std::string> expected = keysOutside(original, binOff, binOff + binSize);
  ASSERT_LT(expected.size(), all.size());

  struct Case {
    const char* what;
    void (*damage)(std::uint8_t* bin);
  };
  const Case cases[] = {
      {"one signature byte", [](std::uint8_t* bin) { bin[1] ^= 0x20; }},
      {"a zeroed page", [](std::uint8_t* bin) { std::memset(bin, 0, 4096); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = original;
    c.damage(bytes.data() + 4096 + binOff);
    auto hive = openCopy(bytes);
    ASSERT_TRUE(hive);
    EXPECT_TRUE(hive->damaged());
    EXPECT_TRUE(hive->readOnly());
    const std::set<std::string> got = keyPaths(walkHive(*hive));
    EXPECT_TRUE(std::includes(all.begin(), all.end(), got.begin(), got.end()));
    EXPECT_TRUE(std::includes(got.begin(), got.end(), expected.begin(), expected.end()))
        << got.size() << " keys of " << expected.size();
  }
}

// A hive cut short (copied off a failing disk, a download that stopped): the
// bins past the cut are missing. That is damage, not a smaller hive: it opens
// damaged and read-only, with every key the remaining bytes still hold.
TEST(HiveRead, ATruncatedHiveIsDamagedAndReadOnly) {
  HS_TESTDATA_OR_SKIP(path, testsupport::unpackedTestdata("hives/real/NTUSER.DAT.xz"));
  const std::vector<std::uint8_t> original = readFile(path);
  const std::set<std::string> all = keyPaths(walkHive(*openCopy(original)));
  // The file holds bytes past the hive's end (slack); the last page of the
  // bins is the last one the hive needs.
  const std::size_t end = 4096 + loadU32(original.data() + bb::BinsSize);
  ASSERT_LT(end, original.size());
  for (std::size_t size : {std::size_t{100 * 1024}, std::size_t{100 * 1024 + 1000}, end - 4096}) {
    SCOPED_TRACE(size);
    const std::vector<std::uint8_t> cut(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(size));
    auto hive = openCopy(cut);
    ASSERT_TRUE(hive);
    EXPECT_TRUE(hive->damaged());
    EXPECT_TRUE(hive->readOnly());
    EXPECT_EQ(hive->createKey(hive->root(), u"x").error(), HiveError::ReadOnly);
    const std::uint32_t kept = static_cast<std::uint32_t>((size - 4096) / 4096 * 4096);
    const std::set<std::string> expected = keysOutside(original, kept, 0xFFFFFFFFu);
    const std::set<std::string> got = keyPaths(walkHive(*hive));
    EXPECT_TRUE(std::includes(all.begin(), all.end(), got.begin(), got.end()));
    EXPECT_TRUE(std::includes(got.begin(), got.end(), expected.begin(), expected.end()))
        << got.size() << " keys of " << expected.size();
  }
}

// One field of a key node changed. A key without a name is never listed (it
// would open as its own parent); a wrong parent field alone hides nothing;
// an impossible size hint is damage. Each leaves the hive damaged and
// read-only, and every key is listed at most once.
TEST(HiveRead, ADamagedKeyFieldIsReportedAndTheTreeStaysATree) {
  HS_TESTDATA_OR_SKIP(path, testsupport::unpackedTestdata("hives/real/NTUSER.DAT.xz"));
  const std::vector<std::uint8_t> original = readFile(path);
  auto clean = openCopy(original);
  ASSERT_TRUE(clean);
  EXPECT_FALSE(clean->damaged());
  const Walk whole = walkHive(*clean);
  const KeyId software = keyAt(*clean, {u"Software"});  // a fresh open: ids are cell offsets
  const std::size_t below = std::count_if(whole.lines.begin(), whole.lines.end(), [&](const std::string& l) {
    return l.starts_with("K /" + utf8(clean->keyInfo(clean->root())->name) + "/Software");
  });
  ASSERT_GT(below, 100u);

  struct Case {
    const char* what;
    std::size_t field;
    std::uint32_t xorMask;  // applied to the 32-bit field
    std::size_t keysLost;
  };
  const Case cases[] = {
      {"no name", nk::NameLen, loadU16(original.data() + kPayload + software + nk::NameLen), below},
      {"one parent bit", nk::Parent, 0x00001000u, 0},
      {"largest data 0xFFFFFFFF", nk::MaxValueDataLen,
       0xFFFFFFFFu ^ loadU32(original.data() + kPayload + software + nk::MaxValueDataLen), 0},
      {"longest value name 0x4a000000", nk::MaxValueNameLen,
       0x4a000000u ^ loadU32(original.data() + kPayload + software + nk::MaxValueNameLen), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = original;
    std::uint8_t* field = bytes.data() + kPayload + software + c.field;
    storeU32(field, loadU32(field) ^ c.xorMask);
    auto hive = openCopy(bytes);
    ASSERT_TRUE(hive);
    EXPECT_TRUE(hive->damaged());
    EXPECT_TRUE(hive->readOnly());
    const Walk w = walkHive(*hive);
    EXPECT_EQ(w.errors, 0u);
    EXPECT_EQ(w.keys, whole.keys - c.keysLost);
    const std::set<std::string> paths = keyPaths(w);
    EXPECT_EQ(paths.size(), w.keys);  // none twice
    if (c.keysLost == 0) EXPECT_EQ(w.lines, whole.lines);
    for (const std::u16string& name : childNames(*hive, hive->root())) EXPECT_FALSE(name.empty());
    if (c.field == nk::Parent) {
      const auto parent = hive->parent(software);
      ASSERT_TRUE(parent.ok()) << static_cast<int>(parent.error());
      EXPECT_EQ(*parent, std::optional<KeyId>(hive->root()));
    }
  }
}

// ---------------------------------------------------------------- damaged value cells

namespace {

// A small hive to damage: keys A and B with a resident DWORD, a string in a
// data cell of its own and a big-data value each; A has a class name.
struct ValueHive {
  std::vector<std::uint8_t> bytes;
  KeyId a = 0, b = 0;  // ids of a fresh open are cell offsets
  ValueId aDword = 0, aText = 0, aBig = 0, bText = 0, bBig = 0;
};

ValueHive valueHive() {
  auto h = HiveFile::createEmpty().value();
  for (const char16_t* key : {u"A", u"B"}) {
    const KeyId k = *h->createKey(h->root(), key);
    EXPECT_TRUE(h->setValue(k, u"dword", 4, std::vector<std::uint8_t>{1, 2, 3, 4}).ok());
    EXPECT_TRUE(h->setValue(k, u"text", 1, bytesOf(std::string(40, key[0]))).ok());
    EXPECT_TRUE(h->setValue(k, u"big", 3, std::vector<std::uint8_t>(20000, static_cast<std::uint8_t>(key[0]))).ok());
  }
  EXPECT_TRUE(h->setClassName(*h->findSubkey(h->root(), u"A"), u"classy").ok());
  ValueHive v;
  v.bytes = *h->serialize();
  auto o = HiveFile::openBytes(v.bytes, OpenMode::ReadOnly).value();
  v.a = *o->findSubkey(o->root(), u"A");
  v.b = *o->findSubkey(o->root(), u"B");
  v.aDword = *o->findValue(v.a, u"dword");
  v.aText = *o->findValue(v.a, u"text");
  v.aBig = *o->findValue(v.a, u"big");
  v.bText = *o->findValue(v.b, u"text");
  v.bBig = *o->findValue(v.b, u"big");
  return v;
}

// The payload of the cell at bins offset `off` in a file's bytes.
std::uint8_t* payloadIn(std::vector<std::uint8_t>& bytes, std::uint32_t off) { return bytes.data() + kPayload + off; }

}  // namespace

// One field of a value list, value or data cell changed: the cell can no
// longer be used as it is (or is another value's, or a key's), and the hive
// is damaged and read-only, so an edit cannot free a cell another value
// still uses. The sound copy is neither.
TEST(HiveRead, DamageInValueListsValuesAndDataIsReported) {
  const ValueHive v = valueHive();
  {
    auto clean = HiveFile::openBytes(v.bytes, OpenMode::ReadWrite);
    ASSERT_TRUE(clean.ok());
    EXPECT_FALSE((*clean)->damaged());
    EXPECT_FALSE((*clean)->readOnly());
  }
  auto vkField = [](std::uint32_t vkOff, std::size_t field) {
    return [vkOff, field](std::vector<std::uint8_t>& b) { return payloadIn(b, vkOff) + field; };
  };
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
  };
  const auto listOf = [&](std::vector<std::uint8_t>& b, KeyId k) { return loadU32(payloadIn(b, k) + nk::ValueList); };
  const auto dataOf = [&](std::vector<std::uint8_t>& b, ValueId x) { return loadU32(payloadIn(b, x) + vk::DataOff); };
  const Case cases[] = {
      {"value list not a cell", [&](auto& b) { storeU32(payloadIn(b, v.a) + nk::ValueList, listOf(b, v.a) + 8); }},
      {"value count past the list", [&](auto& b) { storeU32(payloadIn(b, v.a) + nk::ValueCount, 500); }},
      {"value list shared with B", [&](auto& b) { storeU32(payloadIn(b, v.a) + nk::ValueList, listOf(b, v.b)); }},
      {"entry names no value cell", [&](auto& b) { storeU32(payloadIn(b, listOf(b, v.a)), v.aText + 8); }},
      {"entry names B's value", [&](auto& b) { storeU32(payloadIn(b, listOf(b, v.a) + 4), v.bText); }},
      {"entry names a key", [&](auto& b) { storeU32(payloadIn(b, listOf(b, v.a)), v.b); }},
      {"value signature", [&](auto& b) { payloadIn(b, v.aText)[0] = 'x'; }},
      {"value name past its cell", [&](auto& b) { storeU16(payloadIn(b, v.aText) + vk::NameLen, 0x4000); }},
      {"data not a cell", [&](auto& b) { storeU32(vkField(v.aText, vk::DataOff)(b), dataOf(b, v.aText) + 16); }},
      {"data longer than its cell", [&](auto& b) { storeU32(vkField(v.aText, vk::DataSize)(b), 4000); }},
      {"data is B's data", [&](auto& b) { storeU32(vkField(v.aText, vk::DataOff)(b), dataOf(b, v.bText)); }},
      {"data is a key node", [&](auto& b) { storeU32(vkField(v.aText, vk::DataOff)(b), v.b); }},
      {"data is the root's security", [&](auto& b) {
         storeU32(vkField(v.aText, vk::DataOff)(b), loadU32(payloadIn(b, loadU32(b.data() + bb::Root)) + nk::Security));
       }},
      {"resident data of 5 bytes", [&](auto& b) { storeU32(vkField(v.aDword, vk::DataSize)(b), 0x80000005u); }},
      {"big data is B's", [&](auto& b) { storeU32(vkField(v.aBig, vk::DataOff)(b), dataOf(b, v.bBig)); }},
      {"big data segment list shared with B", [&](auto& b) {
         storeU32(payloadIn(b, dataOf(b, v.aBig)) + 4, loadU32(payloadIn(b, dataOf(b, v.bBig)) + 4));
       }},
      {"big data segment is B's", [&](auto& b) {
         const std::uint32_t aList = loadU32(payloadIn(b, dataOf(b, v.aBig)) + 4);
         const std::uint32_t bList = loadU32(payloadIn(b, dataOf(b, v.bBig)) + 4);
         storeU32(payloadIn(b, aList) + 4, loadU32(payloadIn(b, bList) + 4));
       }},
      {"big data segment count past its list", [&](auto& b) { storeU16(payloadIn(b, dataOf(b, v.aBig)) + 2, 40); }},
      {"class is B's text", [&](auto& b) { storeU32(payloadIn(b, v.a) + nk::Class, dataOf(b, v.bText)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = v.bytes;
    c.damage(bytes);
    auto hive = HiveFile::openBytes(bytes, OpenMode::ReadWrite);
    ASSERT_TRUE(hive.ok());
    EXPECT_TRUE((*hive)->damaged());
    EXPECT_TRUE((*hive)->readOnly());
    // An edit of A is refused and never frees a cell that B (or a key) uses.
    const auto edited = (*hive)->setValue(v.a, u"text", 1, bytesOf(std::string(40, 'n')));
    EXPECT_FALSE(edited.ok());
    EXPECT_EQ(*(*hive)->valueData(v.bText), bytesOf(std::string(40, 'B')));
  }
}

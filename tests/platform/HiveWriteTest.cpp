// Writing hives: structure kept as Windows keeps it (sorted lists, hashes,
// shared security cells with exact counts), ids across moves, free-space
// reuse, and files that other readers accept.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "HiveTestUtil.h"
#include "platform/hive/HiveBytes.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveFormat.h"
#include "tests/support/TempDir.h"
#include "tests/support/Files.h"
#include "tests/support/TestData.h"

using namespace platform::hive;
using namespace hivetest;

namespace {

std::unique_ptr<HiveFile> fresh() {
  auto r = HiveFile::createEmpty(u"ROOT");
  EXPECT_TRUE(r.ok());
  return std::move(*r);
}

std::unique_ptr<HiveFile> reopen(HiveFile& h) {
  auto bytes = h.serialize();
  EXPECT_TRUE(bytes.ok());
  auto r = HiveFile::openBytes(*bytes, OpenMode::ReadWrite);
  EXPECT_TRUE(r.ok());
  return r.ok() ? std::move(*r) : nullptr;
}

std::vector<std::uint8_t> sd(std::uint8_t tag) {
  // A minimal self-relative descriptor (owner only) made distinct by its RID.
  std::vector<std::uint8_t> d(20 + 12, 0);
  d[0] = 1;
  storeU16(d.data() + 2, 0x8000);
  storeU32(d.data() + 4, 20);
  d[20] = 1, d[21] = 1, d[27] = 5;
  storeU32(d.data() + 28, 1000u + tag);
  return d;
}

// Checks the raw structure of a serialized hive the way Windows relies on it:
// every sub-key list sorted by upper-cased name, hash-leaf hashes right,
// counts equal to list contents, every security cell's count equal to the
// keys using it and the cells forming one consistent ring.
void checkRaw(const std::vector<std::uint8_t>& file) {
  auto opened = HiveFile::openBytes(file, OpenMode::ReadOnly);
  ASSERT_TRUE(opened.ok());
  const HiveFile& h = **opened;
  EXPECT_FALSE(h.damaged());
  EXPECT_TRUE(h.baseBlock().checksumValid);
  EXPECT_FALSE(h.baseBlock().dirty());
  const std::uint8_t* bins = file.data() + 4096;
  auto cell = [&](std::uint32_t off) { return bins + off + 4; };
  std::map<std::uint32_t, std::uint32_t> skUses;
  std::vector<KeyId> pending{h.root()};
  while (!pending.empty()) {
    const KeyId k = pending.back();  // a fresh open: ids are cell offsets
    pending.pop_back();
    const std::uint8_t* n = cell(k);
    ++skUses[loadU32(n + nk::Security)];
    const std::uint32_t count = loadU32(n + nk::SubkeyCount);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    if (count) {
      const std::uint8_t* list = cell(loadU32(n + nk::SubkeyList));
      std::vector<const std::uint8_t*> leaves;
      if (list[0] == 'r' && list[1] == 'i') {
        for (std::size_t i = 0; i < loadU16(list + 2); ++i) leaves.push_back(cell(loadU32(list + 4 + 4 * i)));
      } else {
        leaves.push_back(list);
      }
      for (const std::uint8_t* leaf : leaves) {
        ASSERT_TRUE(leaf[0] == 'l' && leaf[1] == 'h') << "leaf kind of a 1.5 hive";
        for (std::size_t i = 0; i < loadU16(leaf + 2); ++i)
          entries.emplace_back(loadU32(leaf + 4 + 8 * i), loadU32(leaf + 8 + 8 * i));
      }
    }
    ASSERT_EQ(entries.size(), count);
    std::u16string prev;
    std::uint32_t maxName = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::u16string name = h.keyInfo(entries[i].first)->name;
      EXPECT_EQ(entries[i].second, nameHash(name)) << utf8(name);
      if (i) EXPECT_LT(compareKeyNames(prev, name), 0) << utf8(prev) << " / " << utf8(name);
      EXPECT_EQ(loadU32(cell(entries[i].first) + nk::Parent), k);
      maxName = std::max<std::uint32_t>(maxName, 2 * static_cast<std::uint32_t>(name.size()));
      prev = name;
      pending.push_back(entries[i].first);
    }
    EXPECT_GE(loadU32(n + nk::MaxNameLen) & 0xFFFF, maxName);
  }
  // Reference counts and the ring.
  for (auto [off, uses] : skUses) {
    const std::uint8_t* s = cell(off);
    ASSERT_TRUE(s[0] == 's' && s[1] == 'k');
    EXPECT_EQ(loadU32(s + sk::RefCount), uses);
    EXPECT_EQ(loadU32(cell(loadU32(s + sk::Flink)) + sk::Blink), off);
  }
  std::set<std::uint32_t> ring;
  std::uint32_t cur = skUses.begin()->first;
  for (std::size_t i = 0; i <= skUses.size() && ring.insert(cur).second; ++i) cur = loadU32(cell(cur) + sk::Flink);
  EXPECT_EQ(ring.size(), skUses.size());
}

}  // namespace

TEST(HiveWrite, BuildSaveAndReadBack) {
  auto h = fresh();
  const std::u16string nulName(u"zero\0key", 8);
  const std::vector<std::u16string> names = {u"beta", u"Alpha", u"ß2", u"SS3", u"ss1", u"Привет", nulName,
                                             u"_under", u"Zed", u"ünïcödé™", u"a"};
  std::map<std::u16string, KeyId> ids;
  for (const auto& n : names) {
    auto k = h->createKey(h->root(), n);
    ASSERT_TRUE(k.ok()) << utf8(n);
    ids[n] = *k;
  }
  EXPECT_EQ(h->createKey(h->root(), u"ALPHA").error(), HiveError::AlreadyExists);
  EXPECT_EQ(h->createKey(h->root(), u"").error(), HiveError::InvalidArgument);
  EXPECT_EQ(h->createKey(h->root(), u"a\\b").error(), HiveError::InvalidArgument);
  EXPECT_EQ(h->createKey(h->root(), std::u16string(256, u'x')).error(), HiveError::InvalidArgument);
  EXPECT_TRUE(h->createKey(h->root(), std::u16string(255, u'x')).ok());

  // Values of every storage form: resident (0-4 bytes), one cell, big data.
  const KeyId k = ids[u"Alpha"];
  std::vector<std::pair<std::u16string, std::vector<std::uint8_t>>> vals;
  std::mt19937 rng(7);
  for (std::size_t size : {0, 1, 3, 4, 5, 100, 16344, 16345, 32688, 32689, 100000, 1 << 20}) {
    std::vector<std::uint8_t> d(size);
    for (auto& b : d) b = static_cast<std::uint8_t>(rng());
    std::u16string name = u"v";
    for (char c : std::to_string(size)) name += static_cast<char16_t>(c);
    vals.emplace_back(name, d);
    ASSERT_TRUE(h->setValue(k, name, 3, d).ok());
  }
  ASSERT_TRUE(h->setValue(k, u"", 1, bytesOf(std::string("d\0\0\0", 4))).ok());
  ASSERT_TRUE(h->setValue(k, std::u16string(u"n\0ul", 4), 0xDEADBEEF, bytesOf("x")).ok());
  ASSERT_TRUE(h->setValue(k, u"ïñtl™", 4, bytesOf("1234")).ok());
  ASSERT_TRUE(h->setClassName(ids[u"beta"], u"Some class").ok());
  ASSERT_TRUE(h->setClassName(ids[u"beta"], u"Another class").ok());

  const Walk before = walkHive(*h);
  EXPECT_EQ(before.errors, 0u);
  testsupport::TempDir dir;
  ASSERT_TRUE(h->saveAs(dir / "hive").ok());
  EXPECT_FALSE(h->modified());
  auto back = HiveFile::open(dir / "hive", OpenMode::ReadWrite);
  ASSERT_TRUE(back.ok());
  EXPECT_FALSE((*back)->readOnly());
  const Walk after = walkHive(**back);
  EXPECT_EQ(before.lines, after.lines);

  // Order as Windows sorts, data exact.
  std::vector<std::u16string> order;
  auto kids = (*back)->subkeys((*back)->root());
  for (KeyId c : *kids) order.push_back((*back)->keyInfo(c)->name);
  std::vector<std::u16string> expected = names;
  expected.push_back(std::u16string(255, u'x'));
  std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return compareKeyNames(a, b) < 0; });
  EXPECT_EQ(order, expected);
  const KeyId bk = *(*back)->findSubkey((*back)->root(), u"alpha");
  for (const auto& [name, data] : vals) {
    SCOPED_TRACE(utf8(name));
    auto v = (*back)->findValue(bk, name);
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(*(*back)->valueData(*v), data);
  }
  EXPECT_EQ((*back)->keyInfo(*(*back)->findSubkey((*back)->root(), u"BETA"))->className, u"Another class");
  auto info = (*back)->keyInfo(bk);
  EXPECT_EQ(info->maxValueDataSize, 1u << 20);
  EXPECT_EQ(info->maxValueNameLength, 8u);  // "v1048576"
  checkRaw(readFile(dir / "hive"));
}

TEST(HiveWrite, IdsSurviveRenamesAndMoves) {
  auto h = fresh();
  const KeyId a = *h->createKey(h->root(), u"a");
  const KeyId child = *h->createKey(a, u"child");
  ASSERT_TRUE(h->setValue(a, u"x", 4, bytesOf("1234")).ok());
  const ValueId y = *h->setValue(a, u"y", 1, bytesOf("y\0"));
  ASSERT_TRUE(h->setValue(a, u"z", 3, bytesOf("zz")).ok());
  // A longer name does not fit the cell: the key node moves, its id stays.
  const std::u16string longName(200, u'L');
  ASSERT_TRUE(h->renameKey(a, longName).ok());
  EXPECT_EQ(h->keyInfo(a)->name, longName);
  EXPECT_EQ(**h->parent(child), a);
  EXPECT_EQ(*h->findSubkey(h->root(), longName), a);
  EXPECT_EQ(h->values(a)->size(), 3u);
  // Same for a value: renamed long, same id, same place in the order.
  ASSERT_TRUE(h->renameValue(a, u"y", std::u16string(300, u'Y')).ok());
  EXPECT_EQ(h->valueInfo(y)->name, std::u16string(300, u'Y'));
  EXPECT_EQ(h->values(a)->at(1), y);
  EXPECT_EQ(h->renameValue(a, u"x", u"Z").error(), HiveError::AlreadyExists);
  EXPECT_EQ(h->renameValue(a, u"nope", u"q").error(), HiveError::NotFound);
  // Deleting keeps the others' order; a new value goes last.
  ASSERT_TRUE(h->deleteValue(a, u"X").ok());
  ASSERT_TRUE(h->setValue(a, u"w", 4, bytesOf("0000")).ok());
  std::vector<std::u16string> order;
  auto vals = h->values(a);
  for (ValueId v : *vals) order.push_back(h->valueInfo(v)->name);
  EXPECT_EQ(order, (std::vector<std::u16string>{std::u16string(300, u'Y'), u"z", u"w"}));
  // Replacing keeps the name's stored case and the position.
  ASSERT_TRUE(h->setValue(a, u"Z", 3, std::vector<std::uint8_t>(20000, 7)).ok());
  EXPECT_EQ(h->valueInfo(h->values(a)->at(1))->name, u"z");
  // Renames that collide, and the root.
  const KeyId b = *h->createKey(h->root(), u"b");
  EXPECT_EQ(h->renameKey(b, u"L" + std::u16string(199, u'l')).error(), HiveError::AlreadyExists);
  EXPECT_TRUE(h->renameKey(b, u"B").ok());  // a case change of itself
  EXPECT_EQ(h->deleteKey(a).error(), HiveError::HasSubkeys);
  EXPECT_EQ(h->deleteKey(h->root()).error(), HiveError::InvalidArgument);
  ASSERT_TRUE(h->deleteKey(child).ok());
  EXPECT_EQ(h->keyInfo(child).error(), HiveError::NotFound);
  ASSERT_TRUE(h->deleteKey(a).ok());
  EXPECT_EQ(h->keyInfo(a).error(), HiveError::NotFound);
  EXPECT_EQ(h->valueInfo(y).error(), HiveError::NotFound);
  ASSERT_TRUE(h->renameKey(h->root(), u"NEWROOT").ok());
  auto back = reopen(*h);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->keyInfo(back->root())->name, u"NEWROOT");
  EXPECT_EQ(childNamesOf(*back, back->root()), std::vector<std::u16string>{u"B"});
  checkRaw(*h->serialize());
}

TEST(HiveWrite, SecurityCellsAreSharedAndCounted) {
  auto h = fresh();
  std::vector<KeyId> keys;
  for (int i = 0; i < 30; ++i) keys.push_back(*h->createKey(h->root(), u"k" + std::u16string(1, u'0' + i / 10) + std::u16string(1, u'0' + i % 10)));
  for (std::size_t i = 0; i < keys.size(); ++i) ASSERT_TRUE(h->setSecurity(keys[i], sd(i % 3)).ok());
  EXPECT_EQ(*h->security(keys[4]), sd(1));
  checkRaw(*h->serialize());
  // Back to one descriptor for all: the others' cells go away.
  for (KeyId k : keys) ASSERT_TRUE(h->setSecurity(k, sd(9)).ok());
  for (std::size_t i = 0; i < 10; ++i) ASSERT_TRUE(h->deleteKey(keys[i]).ok());
  checkRaw(*h->serialize());
  EXPECT_EQ(h->setSecurity(keys[20], bytesOf("short")).error(), HiveError::InvalidArgument);
  // New keys inherit their parent's cell.
  const KeyId sub = *h->createKey(keys[20], u"sub");
  EXPECT_EQ(*h->security(sub), sd(9));
  checkRaw(*h->serialize());
}

TEST(HiveWrite, ManySubkeysUseAnIndexRootAndStaySorted) {
  auto h = fresh();
  const KeyId p = *h->createKey(h->root(), u"p");
  std::mt19937 rng(3);
  std::vector<int> order(3000);
  for (int i = 0; i < 3000; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  for (int i : order) {
    std::u16string name = u"Key";
    for (char c : std::to_string(i)) name += static_cast<char16_t>(c);
    ASSERT_TRUE(h->createKey(p, name).ok());
  }
  for (int i = 0; i < 3000; i += 7) {
    std::u16string name = u"key";
    for (char c : std::to_string(i)) name += static_cast<char16_t>(c);
    ASSERT_TRUE(h->deleteKey(*h->findSubkey(p, name)).ok());
  }
  EXPECT_EQ(h->keyInfo(p)->subkeyCount, 3000u - 429u);
  checkRaw(*h->serialize());
}

TEST(HiveWrite, RepeatedBigValueReusesSpace) {
  auto h = fresh();
  const KeyId k = *h->createKey(h->root(), u"k");
  const std::vector<std::uint8_t> mb(1 << 20, 0x5A);
  ASSERT_TRUE(h->setValue(k, u"big", 3, mb).ok());
  const std::size_t first = h->fileSize();
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(h->deleteValue(k, u"big").ok());
    ASSERT_TRUE(h->setValue(k, u"big", 3, mb).ok());
  }
  EXPECT_LT(h->fileSize(), 2 * first);
  // Growing and shrinking one value in place as well.
  for (std::size_t n : {10u, 20000u, 5u, 300000u, 0u, 16345u}) ASSERT_TRUE(h->setValue(k, u"other", 3, std::vector<std::uint8_t>(n, 1)).ok());
  EXPECT_LT(h->fileSize(), 2 * first);
  checkRaw(*h->serialize());
}

TEST(HiveWrite, EditingARealHiveKeepsTheRest) {
  HS_TESTDATA_OR_SKIP(src, testsupport::unpackedTestdata("hives/real/NTUSER.DAT.xz"));
  testsupport::TempDir dir;
  std::filesystem::copy_file(src, dir / "NTUSER.DAT");
  const Walk original = walkHive(**HiveFile::open(src, OpenMode::ReadOnly));
  {
    auto h = HiveFile::open(dir / "NTUSER.DAT", OpenMode::ReadWrite);
    ASSERT_TRUE(h.ok());
    ASSERT_FALSE((*h)->readOnly());
    const KeyId added = *(*h)->createKey((*h)->root(), u"HivescopeTest");
    ASSERT_TRUE((*h)->setValue(added, u"v", 1, bytesOf(std::string("x\0\0\0", 4))).ok());
    ASSERT_TRUE((*h)->deleteKey(added).ok());
    ASSERT_TRUE((*h)->save().ok());
  }
  auto back = HiveFile::open(dir / "NTUSER.DAT", OpenMode::ReadOnly);
  ASSERT_TRUE(back.ok());
  EXPECT_FALSE((*back)->damaged());
  EXPECT_EQ(walkHive(**back).lines, original.lines);
  const auto info = (*back)->baseBlock();
  EXPECT_EQ(info.primarySequence, info.secondarySequence);
}

TEST(HiveWrite, SaveFailureLeavesNothingBehind) {
  auto h = fresh();
  EXPECT_EQ(h->save().error(), HiveError::InvalidArgument);  // no path yet
  EXPECT_EQ(h->saveAs("/nonexistent-dir/hive").error(), HiveError::IoError);
  testsupport::TempDir dir;
  ASSERT_TRUE(h->saveAs(dir / "h").ok());
  auto ro = HiveFile::open(dir / "h", OpenMode::ReadOnly);
  ASSERT_TRUE(ro.ok());
  EXPECT_EQ((*ro)->saveAs(dir / "other").error(), HiveError::ReadOnly);
  std::size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
}

using testsupport::haveTool;
std::string run(const std::string& cmd, int* status = nullptr) { return testsupport::commandOutput(cmd, status); }

// A hive of our making, read by the field's other readers: the same tree.
TEST(HiveWrite, OtherReadersAcceptWrittenHive) {
  auto h = fresh();
  std::size_t keys = 1, values = 0;
  for (int i = 0; i < 40; ++i) {
    std::u16string n = u"Group";
    for (char c : std::to_string(i)) n += static_cast<char16_t>(c);
    const KeyId g = *h->createKey(h->root(), n);
    ++keys;
    ASSERT_TRUE(h->setSecurity(g, sd(i % 4)).ok());
    if (i % 5 == 0) ASSERT_TRUE(h->setClassName(g, u"Class" + n).ok());
    for (int j = 0; j < 60; ++j) {
      std::u16string c = u"item";
      for (char ch : std::to_string(j)) c += static_cast<char16_t>(ch);
      const KeyId kk = *h->createKey(g, c);
      ++keys;
      ASSERT_TRUE(h->setValue(kk, u"n", 4, bytesOf(std::string("\1\0\0\0", 4))).ok());
      ASSERT_TRUE(h->setValue(kk, u"s", 1, bytesOf(std::string("t\0e\0x\0t\0\0\0", 10))).ok());
      values += 2;
    }
  }
  const KeyId odd = *h->createKey(h->root(), u"ünïcödé ∑ key");
  const KeyId nul = *h->createKey(h->root(), std::u16string(u"nul\0name", 8));
  keys += 2;
  ASSERT_TRUE(h->setValue(odd, u"big", 3, std::vector<std::uint8_t>(100 * 1024, 0xAB)).ok());
  ASSERT_TRUE(h->setValue(odd, u"wört", 2, bytesOf(std::string("%\0P\0%\0\0\0", 8))).ok());
  ASSERT_TRUE(h->setValue(nul, u"m", 7, bytesOf(std::string("a\0\0\0b\0\0\0\0\0", 10))).ok());
  values += 3;
  testsupport::TempDir dir;
  const auto file = std::getenv("HIVE_KEEP") ? std::filesystem::path(std::getenv("HIVE_KEEP")) : dir / "written.hive";
  ASSERT_TRUE(h->saveAs(file).ok());
  auto back = HiveFile::open(file, OpenMode::ReadOnly);
  ASSERT_TRUE(back.ok());

  if (haveTool("hivexml")) {
    auto ours = engineItems(**back), theirs = hivexmlItems(file);
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(ours, theirs);
  }
  if (haveTool("hivexsh")) {
    int st = -1;
    const std::string out = run("printf 'cd Group7\\nls\\ncd item3\\nlsval\\n' | hivexsh '" + file.string() + "' 2>&1", &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_NE(out.find("item59"), std::string::npos) << out;
    EXPECT_NE(out.find("\"s\"=\"text\""), std::string::npos) << out;
  }
  if (haveTool("reglookup")) {
    int st = -1;
    const std::string out = run("reglookup '" + file.string() + "' 2>/dev/null", &st);
    EXPECT_EQ(st, 0);
    const std::string warnings = run("reglookup '" + file.string() + "' 2>&1 >/dev/null");
    EXPECT_EQ(warnings.find("ERROR"), std::string::npos) << warnings.substr(0, 500);
    // Its only complaint may be the non-ASCII key name it cannot print.
    EXPECT_EQ(warnings.find("could not be interpreted"), std::string::npos) << warnings.substr(0, 500);
    std::size_t keyLines = 0, lines = 0;
    for (std::size_t pos = 0; (pos = out.find('\n', pos)) != std::string::npos; ++pos) ++lines;
    for (std::size_t pos = 0; (pos = out.find(",KEY,", pos)) != std::string::npos; ++pos) ++keyLines;
    EXPECT_EQ(keyLines, keys);
    EXPECT_EQ(lines - 1 - keyLines, values);  // header line, then keys and values
    EXPECT_NE(out.find("/nul/m,MULTI_SZ,a|b,"), std::string::npos);
  }
  if (haveTool("regfinfo") && haveTool("regfexport")) {
    int st = -1;
    const std::string info = run("regfinfo '" + file.string() + "' 2>&1", &st);
    EXPECT_EQ(st, 0) << info;
    const std::string out = run("regfexport '" + file.string() + "' 2>&1", &st);
    EXPECT_EQ(st, 0);
    std::size_t keyLines = 0;
    for (std::size_t pos = 0; (pos = out.find("Key path", pos)) != std::string::npos; ++pos) ++keyLines;
    EXPECT_EQ(keyLines, keys) << out.substr(0, 1500);
    EXPECT_EQ(out.find("Unable"), std::string::npos);
  }
}

// A key with many values is served from an index by position and by name;
// every kind of write must leave the answers the same as a plain scan gives.
TEST(HiveWrite, ManyValuesStayFoundByNameAndPositionThroughWrites) {
  auto h = fresh();
  const KeyId a = *h->createKey(h->root(), u"many");
  const KeyId other = *h->createKey(h->root(), u"other");
  constexpr int kCount = 300;  // well above what a scan serves
  auto nameOf = [](int i) {
    std::u16string n = u"Value";
    for (char c : std::to_string(i)) n += char16_t(c);
    return n;
  };
  for (int i = 0; i < kCount; ++i) ASSERT_TRUE(h->setValue(a, nameOf(i), 4, bytesOf("1234")).ok());
  auto check = [&](const char* step) {
    SCOPED_TRACE(step);
    auto vals = h->values(a);
    ASSERT_TRUE(vals.ok());
    for (std::size_t i = 0; i < vals->size(); ++i) {
      ASSERT_EQ(*h->valueAt(a, i), (*vals)[i]) << i;
      const std::u16string name = h->valueInfo((*vals)[i])->name;
      std::u16string upper = name;
      for (char16_t& c : upper) c = upcaseUnit(c);
      ASSERT_EQ(*h->findValue(a, upper), (*vals)[i]) << i;
    }
    EXPECT_EQ(h->valueAt(a, vals->size()).error(), HiveError::NotFound);
  };
  check("filled");
  EXPECT_EQ(h->values(a)->size(), std::size_t(kCount));
  ASSERT_TRUE(h->deleteValue(a, u"value7").ok());
  EXPECT_EQ(h->findValue(a, u"Value7").error(), HiveError::NotFound);
  check("deleted");
  ASSERT_TRUE(h->renameValue(a, u"Value8", u"Renamed").ok());
  EXPECT_EQ(h->findValue(a, u"Value8").error(), HiveError::NotFound);
  check("renamed");
  ASSERT_TRUE(h->setValue(a, u"VALUE9", 3, std::vector<std::uint8_t>(5000, 1)).ok());  // replaced
  EXPECT_EQ(h->valueInfo(*h->findValue(a, u"value9"))->dataSize, 5000u);
  EXPECT_EQ(h->keyInfo(a)->maxValueDataSize, 5000u);
  ASSERT_TRUE(h->setValue(a, u"Appended", 3, std::vector<std::uint8_t>(6000, 1)).ok());
  EXPECT_EQ(h->keyInfo(a)->maxValueDataSize, 6000u);
  check("replaced and appended");
  // Another key's questions in between, and a move of the key node.
  ASSERT_TRUE(h->setValue(other, u"Value1", 4, bytesOf("abcd")).ok());
  EXPECT_EQ(h->findValue(other, u"Value2").error(), HiveError::NotFound);
  ASSERT_TRUE(h->renameKey(a, std::u16string(200, u'M')).ok());
  check("key moved");
  auto back = reopen(*h);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->values(*back->findSubkey(back->root(), std::u16string(200, u'M')))->size(),
            std::size_t(kCount + 1 - 1));
}

namespace {

std::u16string numbered(const char16_t* stem, int i) {
  std::u16string n = stem;
  for (char c : std::to_string(i)) n += static_cast<char16_t>(c);
  return n;
}

// A fresh hive of another format minor: its leaves are li (1.2), lf (1.3)
// or lh (1.5).
std::unique_ptr<HiveFile> freshOfMinor(std::uint32_t minor) {
  auto bytes = fresh()->serialize();
  storeU32(bytes->data() + bb::Minor, minor);
  storeU32(bytes->data() + bb::Checksum, baseBlockChecksum(bytes->data()));
  auto r = HiveFile::openBytes(*bytes, OpenMode::ReadWrite);
  EXPECT_TRUE(r.ok() && !(*r)->readOnly());
  return r.ok() ? std::move(*r) : nullptr;
}

}  // namespace

// A key filled with thousands of children takes each into its list in place
// (leaves grow and split under an index root); whatever the order they come
// in and the leaf kind, the list stays sorted, complete and found by name,
// before and after a save, and through deletes and renames in between.
TEST(HiveWrite, ManySubkeysInsertedInAnyOrderStaySortedAndFound) {
  constexpr int kCount = 4000;  // several leaf splits
  struct Case {
    const char* what;
    std::uint32_t minor;
    int order;  // 0 ascending, 1 descending, 2 shuffled
  };
  const Case cases[] = {{"1.5 ascending", 5, 0}, {"1.5 descending", 5, 1}, {"1.5 shuffled", 5, 2},
                        {"1.3 shuffled", 3, 2},  {"1.2 shuffled", 2, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto h = freshOfMinor(c.minor);
    ASSERT_TRUE(h);
    const KeyId p = *h->createKey(h->root(), u"p");
    std::vector<int> order(kCount);
    for (int i = 0; i < kCount; ++i) order[i] = c.order == 1 ? kCount - 1 - i : i;
    if (c.order == 2) std::shuffle(order.begin(), order.end(), std::mt19937(11));
    std::set<std::u16string> names;
    for (int n = 0; n < kCount; ++n) {
      const int i = order[n];
      ASSERT_TRUE(h->createKey(p, numbered(u"Key", i)).ok()) << i;
      names.insert(numbered(u"Key", i));
      // Names differing in case only are the same name.
      if (n % 500 == 0) {
        EXPECT_EQ(h->createKey(p, numbered(u"kEY", i)).error(), HiveError::AlreadyExists);
      }
      if (n == kCount / 2) {
        // Writes that drop what the key knows of its children, halfway.
        ASSERT_TRUE(h->deleteKey(*h->findSubkey(p, numbered(u"key", order[0]))).ok());
        names.erase(numbered(u"Key", order[0]));
        ASSERT_TRUE(h->renameKey(*h->findSubkey(p, numbered(u"key", order[1])), u"Renamed").ok());
        names.erase(numbered(u"Key", order[1]));
        names.insert(u"Renamed");
      }
    }
    auto check = [&](const HiveFile& f, KeyId key) {
      std::vector<std::u16string> listed;
      const auto children = f.subkeys(key);
      for (KeyId k : *children) listed.push_back(f.keyInfo(k)->name);
      std::vector<std::u16string> expected(names.begin(), names.end());
      std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return compareKeyNames(a, b) < 0; });
      ASSERT_EQ(listed, expected);
      EXPECT_EQ(f.keyInfo(key)->subkeyCount, names.size());
      for (const auto& n : names) ASSERT_TRUE(f.findSubkey(key, n).ok()) << utf8(n);
      EXPECT_EQ(f.findSubkey(key, numbered(u"Key", order[0])).error(), HiveError::NotFound);
    };
    check(*h, p);
    // A list written by another session is taken up in place too.
    auto back = reopen(*h);
    ASSERT_TRUE(back);
    const KeyId bp = *back->findSubkey(back->root(), u"p");
    check(*back, bp);
    for (int i = kCount; i < kCount + 700; ++i) {
      ASSERT_TRUE(back->createKey(bp, numbered(u"Key", i)).ok());
      names.insert(numbered(u"Key", i));
    }
    check(*back, bp);
    if (c.minor == 5) checkRaw(*back->serialize());
  }
}

// A key filled value by value keeps every value in order; deletes and
// renames in between keep the order of the others; the saved hive reads the
// same in the field's other readers.
TEST(HiveWrite, BigKeysWrittenInPlaceReadInOtherReaders) {
  constexpr int kValues = 5000, kKeys = 3000;
  auto h = fresh();
  const KeyId vals = *h->createKey(h->root(), u"vals");
  const KeyId keys = *h->createKey(h->root(), u"keys");
  std::vector<std::u16string> expected;
  for (int i = 0; i < kValues; ++i) {
    ASSERT_TRUE(h->setValue(vals, numbered(u"Value", i), 4, bytesOf("1234")).ok());
    expected.push_back(numbered(u"Value", i));
    if (i == 3000) {
      ASSERT_TRUE(h->deleteValue(vals, u"Value10").ok());
      ASSERT_TRUE(h->renameValue(vals, u"Value20", std::u16string(100, u'R')).ok());  // its cell moves
      expected.erase(expected.begin() + 10);
      expected[19] = std::u16string(100, u'R');
    }
  }
  std::vector<int> order(kKeys);
  for (int i = 0; i < kKeys; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(5));
  for (int i : order) ASSERT_TRUE(h->createKey(keys, numbered(u"Key", i)).ok());

  testsupport::TempDir dir;
  const auto file = dir / "big.hive";
  ASSERT_TRUE(h->saveAs(file).ok());
  auto back = HiveFile::open(file, OpenMode::ReadOnly);
  ASSERT_TRUE(back.ok());
  const KeyId bv = *(*back)->findSubkey((*back)->root(), u"vals");
  std::vector<std::u16string> names;
  const auto values = (*back)->values(bv);
  for (ValueId v : *values) names.push_back((*back)->valueInfo(v)->name);
  EXPECT_EQ(names, expected);
  checkRaw(readFile(file));

  const std::size_t totalKeys = 3 + kKeys, totalValues = expected.size();
  if (haveTool("hivexsh")) {
    int st = -1;
    const std::string out = run("printf 'cd vals\\nlsval\\ncd ..\\ncd keys\\nls\\n' | hivexsh '" + file.string() + "' 2>&1", &st);
    EXPECT_EQ(st, 0) << out.substr(0, 500);
    std::size_t lines = 0;
    for (std::size_t pos = 0; (pos = out.find('\n', pos)) != std::string::npos; ++pos) ++lines;
    EXPECT_EQ(lines, totalValues + kKeys) << out.substr(0, 500);
  }
  if (haveTool("reglookup")) {
    int st = -1;
    const std::string out = run("reglookup '" + file.string() + "' 2>/dev/null", &st);
    EXPECT_EQ(st, 0);
    const std::string warnings = run("reglookup '" + file.string() + "' 2>&1 >/dev/null");
    EXPECT_EQ(warnings.find("ERROR"), std::string::npos) << warnings.substr(0, 500);
    std::size_t keyLines = 0, lines = 0;
    for (std::size_t pos = 0; (pos = out.find('\n', pos)) != std::string::npos; ++pos) ++lines;
    for (std::size_t pos = 0; (pos = out.find(",KEY,", pos)) != std::string::npos; ++pos) ++keyLines;
    EXPECT_EQ(keyLines, totalKeys);
    EXPECT_EQ(lines - 1 - keyLines, totalValues);
  }
  if (haveTool("regfinfo")) {
    int st = -1;
    const std::string info = run("regfinfo '" + file.string() + "' 2>&1", &st);
    EXPECT_EQ(st, 0) << info;
  }
}

// A hive opened for writing is mapped, not copied: the file stays as it was
// through every write, also when the hive grows past the file's end, until
// it is saved.
TEST(HiveWrite, AHiveOpenedForWritingChangesOnlyWhenSaved) {
  testsupport::TempDir dir;
  const auto file = dir / "hive";
  {
    auto h = fresh();
    ASSERT_TRUE(h->setValue(*h->createKey(h->root(), u"k"), u"v", 4, bytesOf("1234")).ok());
    ASSERT_TRUE(h->saveAs(file).ok());
  }
  const std::vector<std::uint8_t> onDisk = readFile(file);
  auto h = HiveFile::open(file, OpenMode::ReadWrite);
  ASSERT_TRUE(h.ok());
  ASSERT_FALSE((*h)->readOnly());
  const KeyId k = *(*h)->findSubkey((*h)->root(), u"k");
  ASSERT_TRUE((*h)->setValue(k, u"v", 4, bytesOf("abcd")).ok());  // a page of the file, written
  EXPECT_EQ(readFile(file), onDisk);
  const std::vector<std::uint8_t> big(3 << 20, 0x5A);
  ASSERT_TRUE((*h)->setValue(k, u"big", 3, big).ok());  // far past the file's end
  ASSERT_TRUE((*h)->createKey((*h)->root(), u"new").ok());
  EXPECT_EQ(readFile(file), onDisk);
  EXPECT_EQ(*(*h)->valueData(*(*h)->findValue(k, u"big")), big);
  ASSERT_TRUE((*h)->save().ok());
  auto back = HiveFile::open(file, OpenMode::ReadOnly);
  ASSERT_TRUE(back.ok());
  const KeyId bk = *(*back)->findSubkey((*back)->root(), u"k");
  EXPECT_EQ(*(*back)->valueData(*(*back)->findValue(bk, u"v")), bytesOf("abcd"));
  EXPECT_EQ(*(*back)->valueData(*(*back)->findValue(bk, u"big")), big);
  EXPECT_TRUE((*back)->findSubkey((*back)->root(), u"new").ok());
  // The hive still held goes on from what it saved.
  ASSERT_TRUE((*h)->setValue(k, u"after", 4, bytesOf("wxyz")).ok());
  ASSERT_TRUE((*h)->save().ok());
  auto again = HiveFile::open(file, OpenMode::ReadOnly);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(walkHive(**again).lines, walkHive(**h).lines);
}

// A key flagged as a predefined handle keeps a handle where the value count
// would be, so it lists no values; an edit of its values would write a value
// list over the handle and could never be read back. It is refused.
TEST(HiveWrite, ValuesOfAPredefinedHandleKeyAreNotEdited) {
  auto h = fresh();
  const KeyId k = *h->createKey(h->root(), u"perf");
  std::vector<std::uint8_t> bytes = *h->serialize();
  std::uint8_t* flags = bytes.data() + 4096 + 4 + k + nk::Flags;  // a fresh key's id is its cell offset
  storeU16(flags, loadU16(flags) | 0x0040);
  storeU32(bytes.data() + 4096 + 4 + k + nk::ValueCount, 0x80000004u);
  auto o = HiveFile::openBytes(bytes, OpenMode::ReadWrite).value();
  ASSERT_FALSE(o->readOnly());
  EXPECT_TRUE(o->values(k)->empty());
  EXPECT_EQ(o->setValue(k, u"v", 4, std::vector<std::uint8_t>(4, 1)).error(), HiveError::InvalidArgument);
  EXPECT_EQ(o->deleteValue(k, u"v").error(), HiveError::InvalidArgument);
  EXPECT_EQ(o->renameValue(k, u"v", u"w").error(), HiveError::InvalidArgument);
  auto back = HiveFile::openBytes(*o->serialize(), OpenMode::ReadOnly).value();
  EXPECT_EQ(loadU32(back->serialize()->data() + 4096 + 4 + k + nk::ValueCount), 0x80000004u);
}

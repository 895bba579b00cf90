// The hive engine against damage made on purpose (one field at a time, in a
// hive whose layout we know), every format version, a copy of each real
// hive through the writer, and the on-disk size of a file edited many times.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <fstream>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "HiveTestUtil.h"
#include "platform/hive/HiveBytes.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveFormat.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

using namespace platform::hive;
using namespace hivetest;

namespace {

std::u16string numbered(std::u16string_view prefix, int i) {
  std::u16string s(prefix);
  for (char c : std::to_string(i)) s += static_cast<char16_t>(c);
  return s;
}

// A hive with every structure a mutation below aims at: an index root of
// hash leaves (key "a", 1,500 sub-keys), a value list with a big-data value
// and a class name on "a", and two sound siblings "b" and "c".
struct Layout {
  std::vector<std::uint8_t> bytes;
  KeyId root = 0, a = 0, b = 0, c = 0, aChild = 0;
  ValueId big = 0, small = 0;
};

const Layout& layout() {
  static const Layout l = [] {
    Layout out;
    auto h = HiveFile::createEmpty(u"ROOT").value();
    const KeyId a = *h->createKey(h->root(), u"a");
    for (int i = 0; i < 1500; ++i) (void)*h->createKey(a, numbered(u"k", i));
    (void)h->setClassName(a, u"class of a");
    (void)h->setValue(a, u"small", 4, std::vector<std::uint8_t>{1, 2, 3, 4});
    (void)h->setValue(a, u"big", 3, std::vector<std::uint8_t>(40000, 0xCD));
    const KeyId b = *h->createKey(h->root(), u"b");
    (void)h->setValue(b, u"keep", 1, std::vector<std::uint8_t>{'o', 0, 'k', 0, 0, 0});
    (void)h->createKey(h->root(), u"c");
    out.bytes = *h->serialize();
    // Open the bytes again: ids are then the cells' offsets.
    auto f = HiveFile::openBytes(out.bytes, OpenMode::ReadOnly).value();
    out.root = f->root();
    out.a = *f->findSubkey(out.root, u"a");
    out.b = *f->findSubkey(out.root, u"b");
    out.c = *f->findSubkey(out.root, u"c");
    out.aChild = *f->findSubkey(out.a, u"k700");
    out.big = *f->findValue(out.a, u"big");
    out.small = *f->findValue(out.a, u"small");
    return out;
  }();
  return l;
}

// The payload of the cell at a hive offset, in a byte image of the file.
std::uint8_t* cell(std::vector<std::uint8_t>& file, std::uint32_t off) { return file.data() + 4096 + off + 4; }
std::uint8_t* cellSize(std::vector<std::uint8_t>& file, std::uint32_t off) { return file.data() + 4096 + off; }

void fixChecksum(std::vector<std::uint8_t>& file) {
  storeU32(file.data() + bb::Checksum, baseBlockChecksum(file.data()));
}

}  // namespace

// One broken field at a time: opening gives an error, or a hive whose walk
// ends, whose sound keys still read, and which, when writable, still writes
// and reads back. Run under ASan/UBSan as well.
TEST(AuditHive, DamagedFieldsGiveErrorsOrTheSoundPart) {
  const Layout& L = layout();
  using Mutate = std::function<void(std::vector<std::uint8_t>&)>;
  struct Case {
    const char* what;
    Mutate mutate;
    bool siblingsReadable;  // b's value and c must still be there
  };
  const Case cases[] = {
      {"index root entry pointing at the index root itself",
       [&](auto& f) {
         std::uint8_t* ri = cell(f, loadU32(cell(f, L.a) + nk::SubkeyList));
         ASSERT_TRUE(ri[0] == 'r' && ri[1] == 'i');
         storeU32(ri + 4, loadU32(cell(f, L.a) + nk::SubkeyList));
       },
       true},
      {"index root entry pointing at an index root (nested)",
       [&](auto& f) {
         const std::uint32_t riOff = loadU32(cell(f, L.a) + nk::SubkeyList);
         std::uint8_t* ri = cell(f, riOff);
         // The root's own list becomes an index root whose entry is a's
         // index root: two levels of index roots.
         std::uint8_t* rootList = cell(f, loadU32(cell(f, L.root) + nk::SubkeyList));
         rootList[0] = 'r', rootList[1] = 'i';
         storeU16(rootList + 2, 1);
         storeU32(rootList + 4, riOff);
         (void)ri;
       },
       false},
      {"sub-key list of a child pointing back at its parent's list (cycle)",
       [&](auto& f) {
         storeU32(cell(f, L.aChild) + nk::SubkeyList, loadU32(cell(f, L.root) + nk::SubkeyList));
         storeU32(cell(f, L.aChild) + nk::SubkeyCount, 3);
       },
       true},
      {"key is its own parent and own child",
       [&](auto& f) {
         storeU32(cell(f, L.c) + nk::Parent, L.c);
         storeU32(cell(f, L.c) + nk::SubkeyList, loadU32(cell(f, L.root) + nk::SubkeyList));
         storeU32(cell(f, L.c) + nk::SubkeyCount, 3);
       },
       false},
      {"sub-key list outside the bins",
       [&](auto& f) { storeU32(cell(f, L.a) + nk::SubkeyList, 0x7FFFFFF0u); },
       true},
      {"sub-key count far above the list",
       [&](auto& f) { storeU32(cell(f, L.a) + nk::SubkeyCount, 0xFFFFFFF0u); },
       true},
      {"leaf element count above the cell",
       [&](auto& f) {
         std::uint8_t* ri = cell(f, loadU32(cell(f, L.a) + nk::SubkeyList));
         storeU16(cell(f, loadU32(ri + 4)) + 2, 0xFFFF);
       },
       true},
      {"cell size 0 on a key node",
       [&](auto& f) { storeU32(cellSize(f, L.a), 0); },
       true},
      {"cell size running past the bin",
       [&](auto& f) { storeU32(cellSize(f, L.a), static_cast<std::uint32_t>(-0x7FFFFFF0)); },
       true},
      {"key name longer than its cell",
       [&](auto& f) { storeU16(cell(f, L.a) + nk::NameLen, 0xFFFF); },
       true},
      {"parent field naming another key",
       [&](auto& f) { storeU32(cell(f, L.aChild) + nk::Parent, L.b); },
       true},
      {"value list outside the bins",
       [&](auto& f) { storeU32(cell(f, L.a) + nk::ValueList, 0x7FFFFFF0u); },
       true},
      {"value count far above the list",
       [&](auto& f) { storeU32(cell(f, L.a) + nk::ValueCount, 0x7FFFFFFFu); },
       true},
      {"value data offset outside the bins",
       [&](auto& f) { storeU32(cell(f, L.small) + vk::DataOff, 0x7FFFFFF0u); },
       true},
      {"value data size above the data cell",
       [&](auto& f) { storeU32(cell(f, L.big) + vk::DataSize, 0x7FFFFFF0u); },
       true},
      {"big-data segment count above its list",
       [&](auto& f) {
         std::uint8_t* db = cell(f, loadU32(cell(f, L.big) + vk::DataOff));
         ASSERT_TRUE(db[0] == 'd' && db[1] == 'b');
         storeU16(db + 2, 0xFFFF);
       },
       true},
      {"big-data segment list pointing at the db cell itself",
       [&](auto& f) {
         const std::uint32_t dbOff = loadU32(cell(f, L.big) + vk::DataOff);
         storeU32(cell(f, dbOff) + 4, dbOff);
       },
       true},
      {"value name longer than its cell",
       [&](auto& f) { storeU16(cell(f, L.small) + vk::NameLen, 0xFFFF); },
       true},
      {"class name outside the bins",
       [&](auto& f) {
         storeU32(cell(f, L.a) + nk::Class, 0x7FFFFFF0u);
         storeU16(cell(f, L.a) + nk::ClassLen, 0xFFFF);
       },
       true},
      {"security cell outside the bins",
       [&](auto& f) { storeU32(cell(f, L.a) + nk::Security, 0x7FFFFFF0u); },
       true},
      {"security cell pointing at a key node",
       [&](auto& f) { storeU32(cell(f, L.a) + nk::Security, L.b); },
       true},
      {"root cell offset outside the bins",
       [&](auto& f) {
         storeU32(f.data() + bb::Root, 0x7FFFFFF0u);
         fixChecksum(f);
       },
       false},
      {"hive bins size larger than the file",
       [&](auto& f) {
         storeU32(f.data() + bb::BinsSize, 0x7FFFF000u);
         fixChecksum(f);
       },
       false},
      {"wrong checksum",
       [&](auto& f) { storeU32(f.data() + bb::Checksum, loadU32(f.data() + bb::Checksum) ^ 1); },
       true},
      {"bin header size 0",
       [&](auto& f) { storeU32(f.data() + 4096 + 8, 0); },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> file = L.bytes;
    c.mutate(file);
    if (HasFatalFailure()) return;
    auto opened = HiveFile::openBytes(file, OpenMode::ReadWrite);
    if (!opened) {
      EXPECT_TRUE(opened.error() == HiveError::NotAHive || opened.error() == HiveError::Corrupt);
      EXPECT_FALSE(c.siblingsReadable) << "a damaged key must not take the whole hive with it";
      continue;
    }
    HiveFile& h = **opened;
    const Walk w = walkHive(h, 10000);
    EXPECT_LE(w.keys, 1505u) << "every key at most once";
    if (c.siblingsReadable) {
      auto b = h.findSubkey(h.root(), u"b");
      ASSERT_TRUE(b.ok());
      auto v = h.findValue(*b, u"keep");
      ASSERT_TRUE(v.ok());
      auto data = h.valueData(*v);
      if (data) {
        EXPECT_EQ(*data, (std::vector<std::uint8_t>{'o', 0, 'k', 0, 0, 0}));
      } else {
        // A bad cell size hides where the next cells of its bin start;
        // data there may be refused, never misread.
        EXPECT_EQ(data.error(), HiveError::Corrupt);
      }
      EXPECT_TRUE(h.findSubkey(h.root(), u"c").ok());
    }
    if (!h.readOnly()) {
      auto k = h.createKey(h.root(), u"after");
      if (k) (void)h.setValue(*k, u"v", 3, std::vector<std::uint8_t>(20000, 1));
      auto out = h.serialize();
      ASSERT_TRUE(out.ok());
      EXPECT_TRUE(HiveFile::openBytes(*out, OpenMode::ReadOnly).ok());
    }
  }
}

TEST(AuditHive, TruncatedAtAnyBinBoundaryNeverCrashes) {
  const std::vector<std::uint8_t>& whole = layout().bytes;
  for (std::size_t size = 0; size < whole.size(); size += size < 8192 ? 512 : 4096 + 7) {
    SCOPED_TRACE(size);
    std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
    auto opened = HiveFile::openBytes(cut, OpenMode::ReadWrite);
    if (!opened) continue;
    EXPECT_TRUE((*opened)->readOnly()) << "a hive cut short is never written";
    const Walk w = walkHive(**opened, 10000);
    EXPECT_LE(w.keys, 1505u);
  }
}

// Minor versions 2 to 6 (1.1 lays its cells out differently, so a 1.5 image
// relabelled as 1.1 is not a 1.1 hive): the same tree reads from each, and
// each writes the list kind and big-data form of its version.
TEST(AuditHive, EveryFormatVersionReads) {
  auto h = HiveFile::createEmpty(u"ROOT").value();
  const KeyId k = *h->createKey(h->root(), u"key");
  for (int i = 0; i < 20; ++i) (void)*h->createKey(k, numbered(u"sub", i));
  (void)h->setValue(k, u"v", 3, std::vector<std::uint8_t>(100, 7));
  const std::vector<std::uint8_t> base = *h->serialize();
  const Walk expected = walkHive(**HiveFile::openBytes(base, OpenMode::ReadOnly));
  for (std::uint32_t minor = 2; minor <= 6; ++minor) {
    SCOPED_TRACE(minor);
    std::vector<std::uint8_t> file = base;
    storeU32(file.data() + bb::Minor, minor);
    fixChecksum(file);
    auto opened = HiveFile::openBytes(file, OpenMode::ReadWrite);
    ASSERT_TRUE(opened.ok());
    HiveFile& f = **opened;
    EXPECT_EQ(f.baseBlock().minorVersion, minor);
    EXPECT_EQ(walkHive(f).lines, expected.lines);
    ASSERT_FALSE(f.readOnly());
    // A new key under a fresh parent makes a new list of this version's kind.
    const KeyId fresh = *f.createKey(f.root(), u"fresh");
    ASSERT_TRUE(f.createKey(fresh, u"x").ok());
    // Above one segment: big data from 1.4 on, one plain cell before.
    ASSERT_TRUE(f.setValue(fresh, u"large", 3, std::vector<std::uint8_t>(20000, 9)).ok());
    std::vector<std::uint8_t> out = *f.serialize();
    auto back = HiveFile::openBytes(out, OpenMode::ReadOnly);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ((*back)->baseBlock().minorVersion, minor);
    const KeyId fk = *(*back)->findSubkey((*back)->root(), u"fresh");
    EXPECT_EQ(*(*back)->valueData(*(*back)->findValue(fk, u"large")), std::vector<std::uint8_t>(20000, 9));
    std::uint8_t* list = cell(out, loadU32(cell(out, fk) + nk::SubkeyList));
    const std::string kind(reinterpret_cast<const char*>(list), 2);
    EXPECT_EQ(kind, minor >= 5 ? "lh" : minor >= 3 ? "lf" : "li");
    const std::uint8_t* data = cell(out, loadU32(cell(out, *(*back)->findValue(fk, u"large")) + vk::DataOff));
    EXPECT_EQ(data[0] == 'd' && data[1] == 'b', minor >= 4);
  }
}

// Each real hive copied key by key through the writer (names, classes,
// security, values, times) reads back as the same tree.
TEST(AuditHive, RealHivesCopiedThroughTheWriterReadTheSame) {
  HS_TESTDATA_OR_SKIP(first, testsupport::unpackedTestdata("hives/real/SAM.xz"));
  for (const char* name : {"SAM", "SECURITY", "BCD", "NTUSER.DAT", "UsrClass.dat"}) {
    SCOPED_TRACE(name);
    const auto path = testsupport::unpackedTestdata(std::string("hives/real/") + name + ".xz");
    auto src = HiveFile::openWithLogs(path, {}, OpenMode::ReadOnly);
    ASSERT_TRUE(src.ok());
    const HiveFile& s = **src;
    auto dst = HiveFile::createEmpty(s.keyInfo(s.root())->name).value();
    std::vector<std::pair<KeyId, KeyId>> pending{{s.root(), dst->root()}};
    std::size_t copied = 0;
    while (!pending.empty()) {
      auto [from, to] = pending.back();
      pending.pop_back();
      ++copied;
      const KeyInfo info = *s.keyInfo(from);
      if (!info.className.empty()) {
        ASSERT_TRUE(dst->setClassName(to, info.className).ok());
      }
      if (auto sec = s.security(from)) {
        ASSERT_TRUE(dst->setSecurity(to, *sec).ok());
      }
      const std::vector<ValueId> values = s.values(from).value();
      for (ValueId v : values) {
        const ValueInfo vi = *s.valueInfo(v);
        ASSERT_TRUE(dst->setValue(to, vi.name, vi.type, *s.valueData(v)).ok());
      }
      const std::vector<KeyId> children = s.subkeys(from).value();
      for (KeyId child : children) {
        auto made = dst->createKey(to, s.keyInfo(child)->name);
        ASSERT_TRUE(made.ok()) << utf8(s.keyInfo(child)->name);
        pending.emplace_back(child, *made);
      }
      ASSERT_TRUE(dst->setLastWritten(to, info.lastWritten).ok());
    }
    testsupport::TempDir dir;
    ASSERT_TRUE(dst->saveAs(dir / "copy").ok());
    auto back = HiveFile::open(dir / "copy", OpenMode::ReadOnly);
    ASSERT_TRUE(back.ok());
    EXPECT_FALSE((*back)->damaged());
    const Walk a = walkHive(s), b = walkHive(**back);
    EXPECT_EQ(a.errors, 0u);
    EXPECT_EQ(b.errors, 0u);
    EXPECT_EQ(a.keys, copied);
    EXPECT_EQ(b.lines, a.lines);
    // Security and times too, key by key in walk order.
    std::vector<std::pair<KeyId, KeyId>> both{{s.root(), (*back)->root()}};
    std::size_t checked = 0;
    while (!both.empty() && !HasFailure()) {
      auto [x, y] = both.back();
      both.pop_back();
      ++checked;
      EXPECT_EQ(s.security(x).ok(), (*back)->security(y).ok());
      if (s.security(x).ok()) {
        EXPECT_EQ(*s.security(x), *(*back)->security(y));
      }
      EXPECT_EQ(s.keyInfo(x)->lastWritten, (*back)->keyInfo(y)->lastWritten);
      const std::vector<KeyId> xs = s.subkeys(x).value(), ys = (*back)->subkeys(y).value();
      ASSERT_EQ(xs.size(), ys.size());
      for (std::size_t i = 0; i < xs.size(); ++i) both.emplace_back(xs[i], ys[i]);
    }
    EXPECT_EQ(checked, copied);
  }
}

// The file on disk, not only the size the engine computes: a 1 MB value set,
// then deleted and set again a thousand times, with saves in between.
TEST(AuditHive, BigValueChurnKeepsTheFileSmallOnDisk) {
  testsupport::TempDir dir;
  const auto file = dir / "churn";
  auto h = HiveFile::createEmpty(u"ROOT").value();
  const KeyId k = *h->createKey(h->root(), u"k");
  const std::vector<std::uint8_t> mb(1 << 20, 0x5A);
  ASSERT_TRUE(h->setValue(k, u"big", 3, mb).ok());
  ASSERT_TRUE(h->saveAs(file).ok());
  const auto first = std::filesystem::file_size(file);
  std::uint32_t lastSequence = h->baseBlock().primarySequence;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(h->deleteValue(k, u"big").ok());
    ASSERT_TRUE(h->setValue(k, u"big", 3, mb).ok());
    if (i % 100 == 99) {
      ASSERT_TRUE(h->save().ok());
      const auto bb = h->baseBlock();
      EXPECT_EQ(bb.primarySequence, bb.secondarySequence);
      EXPECT_GT(bb.primarySequence, lastSequence) << "each save moves the sequence numbers on";
      lastSequence = bb.primarySequence;
    }
  }
  EXPECT_LT(std::filesystem::file_size(file), 2 * first);
  auto back = HiveFile::open(file, OpenMode::ReadOnly);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(*(*back)->valueData(*(*back)->findValue(*(*back)->findSubkey((*back)->root(), u"k"), u"big")), mb);
}

#if defined(__SANITIZE_ADDRESS__)
#define HS_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HS_UNDER_ASAN 1
#endif
#endif

// A big-data value whose size field claims almost 2 GiB: reading it must
// fail without first allocating what the file claims. Checked in a child
// whose address space leaves no room for such an allocation.
TEST(AuditHiveDeathTest, OversizedBigDataIsRefusedWithoutAllocatingIt) {
#ifdef HS_UNDER_ASAN
  GTEST_SKIP() << "an address-space limit does not work under AddressSanitizer";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Layout& L = layout();
  std::vector<std::uint8_t> file = L.bytes;
  storeU32(cell(file, L.big) + vk::DataSize, 0x7FFFFFF0u);
  const auto readInLimitedSpace = [&] {
    std::size_t vmKb = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmSize:", 0) == 0) vmKb = std::stoul(line.substr(7));
    rlimit lim{};
    lim.rlim_cur = lim.rlim_max = (vmKb + 512 * 1024) * 1024;
    if (vmKb == 0 || ::setrlimit(RLIMIT_AS, &lim) != 0) std::exit(3);
    auto h = HiveFile::openBytes(file, OpenMode::ReadOnly);
    if (!h) std::exit(4);
    try {
      auto data = (*h)->valueData(L.big);
      std::exit(!data && data.error() == HiveError::Corrupt ? 0 : 5);
    } catch (const std::bad_alloc&) {
      std::exit(6);
    }
  };
  EXPECT_EXIT(readInLimitedSpace(), testing::ExitedWithCode(0), "");
#endif
}

// The base block of a real hive as its bytes say, and what a save writes
// there.
TEST(AuditHive, BaseBlockFieldsReadAndWritten) {
  HS_TESTDATA_OR_SKIP(path, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  auto h = HiveFile::open(path, OpenMode::ReadOnly);
  ASSERT_TRUE(h.ok());
  const BaseBlockInfo b = (*h)->baseBlock();
  EXPECT_EQ(b.primarySequence, 0x369Fu);
  EXPECT_EQ(b.secondarySequence, 0x369Fu);
  EXPECT_EQ(b.lastWritten, 0x01CD14BF127D2D9Eull);
  EXPECT_EQ(b.majorVersion, 1u);
  EXPECT_EQ(b.minorVersion, 5u);
  EXPECT_EQ(b.fileType, 0u);
  EXPECT_EQ(b.fileFormat, 1u);
  EXPECT_EQ(b.rootCellOffset, 0x20u);
  EXPECT_EQ((*h)->root(), 0x20u);
  EXPECT_EQ(b.hiveBinsDataSize, std::filesystem::file_size(path) - 4096);
  EXPECT_EQ(b.fileName, u"SYSTEM");
  EXPECT_TRUE(b.checksumValid);

  // A save: equal sequence numbers one past the old ones, a fresh time, a
  // checksum that holds, bins size equal to what follows the base block.
  testsupport::TempDir dir;
  auto w = HiveFile::createEmpty(u"R").value();
  ASSERT_TRUE(w->saveAs(dir / "a").ok());
  const BaseBlockInfo first = w->baseBlock();
  ASSERT_TRUE(w->createKey(w->root(), u"k").ok());
  ASSERT_TRUE(w->save().ok());
  auto back = HiveFile::open(dir / "a", OpenMode::ReadOnly);
  ASSERT_TRUE(back.ok());
  const BaseBlockInfo second = (*back)->baseBlock();
  EXPECT_EQ(second.primarySequence, second.secondarySequence);
  EXPECT_GT(second.primarySequence, first.primarySequence);
  EXPECT_GE(second.lastWritten, first.lastWritten);
  EXPECT_TRUE(second.checksumValid);
  EXPECT_EQ(second.hiveBinsDataSize, std::filesystem::file_size(dir / "a") - 4096);
  EXPECT_EQ(second.hiveBinsDataSize % 4096, 0u);
}

// Transaction log replay: real dirty hives with their logs, logs built here
// for one behaviour each (both formats), hostile logs, and the stale logs a
// save leaves behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "HiveTestUtil.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveFormat.h"
#include "platform/hive/HiveLog.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

using namespace platform::hive;
using namespace hivetest;

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

const char* kYarp = "hives/crafted/yarp-hives.tar.xz";

void copyTo(const fs::path& from, const fs::path& to) {
  ASSERT_FALSE(from.empty());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

// The real dirty UsrClass.dat with its two logs, copied into `dir` so that
// no other test's files sit beside it. False when the test data is missing.
bool usrClassIn(const testsupport::TempDir& dir) {
  const fs::path hive = testsupport::unpackedTestdata("hives/real/UsrClass.dat.xz");
  const fs::path log1 = testsupport::unpackedTestdata("hives/real/UsrClass.dat.LOG1.xz");
  const fs::path log2 = testsupport::unpackedTestdata("hives/real/UsrClass.dat.LOG2.xz");
  if (hive.empty() || log1.empty() || log2.empty()) return false;
  copyTo(hive, dir / "UsrClass.dat");
  copyTo(log1, dir / "UsrClass.dat.LOG1");
  copyTo(log2, dir / "UsrClass.dat.LOG2");
  return true;
}

std::unique_ptr<HiveFile> openOrFail(HiveResult<std::unique_ptr<HiveFile>> r) {
  EXPECT_TRUE(r.ok()) << "error " << static_cast<int>(r.error());
  return r.ok() ? std::move(*r) : nullptr;
}

// Key paths with their last-written times.
std::map<std::string, FileTime> keyTimes(const HiveFile& h) {
  std::map<std::string, FileTime> out;
  std::vector<std::pair<KeyId, std::string>> pending{{h.root(), ""}};
  while (!pending.empty() && out.size() < 1'000'000) {
    auto [k, parent] = pending.back();
    pending.pop_back();
    auto info = h.keyInfo(k);
    if (!info) continue;
    const std::string path = parent + "/" + utf8(info->name);
    out[path] = info->lastWritten;
    if (auto kids = h.subkeys(k))
      for (KeyId c : *kids) pending.emplace_back(c, path);
  }
  return out;
}

std::size_t countOnlyIn(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::string> x = a, y = b, d;
  std::sort(x.begin(), x.end());
  std::sort(y.begin(), y.end());
  std::set_difference(x.begin(), x.end(), y.begin(), y.end(), std::back_inserter(d));
  return d.size();
}

// ---- building logs

std::uint32_t u32At(const Bytes& b, std::size_t off) { return loadU32(b.data() + off); }
void put32(Bytes& b, std::size_t off, std::uint32_t v) { storeU32(b.data() + off, v); }
void put64(Bytes& b, std::size_t off, std::uint64_t v) { storeU64(b.data() + off, v); }
void fixChecksum(Bytes& b) { put32(b, bb::Checksum, baseBlockChecksum(b.data())); }

// A hive as bytes whose base block says a write began and never ended.
Bytes madeDirty(Bytes hive) {
  put32(hive, bb::Sequence1, u32At(hive, bb::Sequence2) + 1);
  fixChecksum(hive);
  return hive;
}

// The first sector of a log: the hive's base block with the log's file type
// and sequence number.
Bytes logBaseBlock(const Bytes& hive, std::uint32_t type, std::uint32_t sequence) {
  Bytes b(hive.begin(), hive.begin() + 512);
  put32(b, bb::Sequence1, sequence);
  put32(b, bb::Sequence2, sequence);
  put32(b, bb::Type, type);
  fixChecksum(b);
  return b;
}

struct Page {
  std::uint32_t off;
  Bytes data;
};

// One HvLE entry with correct hashes, padded to whole sectors.
Bytes logEntry(std::uint32_t sequence, std::uint32_t binsSize, const std::vector<Page>& pages) {
  Bytes e(40);
  std::memcpy(e.data(), "HvLE", 4);
  put32(e, le::Sequence, sequence);
  put32(e, le::BinsSize, binsSize);
  put32(e, le::PageCount, static_cast<std::uint32_t>(pages.size()));
  for (const Page& p : pages) {
    Bytes ref(8);
    put32(ref, 0, p.off);
    put32(ref, 4, static_cast<std::uint32_t>(p.data.size()));
    e.insert(e.end(), ref.begin(), ref.end());
  }
  for (const Page& p : pages) e.insert(e.end(), p.data.begin(), p.data.end());
  e.resize((e.size() + 511) / 512 * 512, 0);
  put32(e, le::Size, static_cast<std::uint32_t>(e.size()));
  return e;
}

// Recomputes both hashes of the entry at `off` after a test edited it.
void rehash(Bytes& log, std::size_t off) {
  const std::uint32_t size = u32At(log, off + le::Size);
  put64(log, off + le::Hash1, marvin32(kLogEntrySeed, std::span<const std::uint8_t>(log.data() + off + 40, size - 40)));
  put64(log, off + le::Hash2, marvin32(kLogEntrySeed, std::span<const std::uint8_t>(log.data() + off, 32)));
}

Bytes newLog(const Bytes& hive, std::uint32_t sequence, const std::vector<Bytes>& entries) {
  Bytes log = logBaseBlock(hive, 6, sequence);
  for (const Bytes& e : entries) {
    const std::size_t at = log.size();
    log.insert(log.end(), e.begin(), e.end());
    rehash(log, at);
  }
  return log;
}

// An old-format log of the 512-byte pages of `to` that differ from `from`.
Bytes oldLog(const Bytes& from, const Bytes& to, std::uint32_t sequence) {
  Bytes log = logBaseBlock(to, 1, sequence);
  const std::size_t bins = to.size() - 4096;
  Bytes vec(4 + bins / 512 / 8, 0);
  std::memcpy(vec.data(), "DIRT", 4);
  Bytes pages;
  for (std::size_t p = 0; p < bins / 512; ++p) {
    const std::size_t at = 4096 + p * 512;
    if (at + 512 <= from.size() && std::equal(to.begin() + at, to.begin() + at + 512, from.begin() + at)) continue;
    vec[4 + p / 8] |= static_cast<std::uint8_t>(1u << (p % 8));
    pages.insert(pages.end(), to.begin() + at, to.begin() + at + 512);
  }
  vec.resize((vec.size() + 511) / 512 * 512, 0);
  log.insert(log.end(), vec.begin(), vec.end());
  log.insert(log.end(), pages.begin(), pages.end());
  return log;
}

// The 4096-byte pages of the bins of `to` that differ from `from`.
std::vector<Page> changedPages(const Bytes& from, const Bytes& to) {
  std::vector<Page> out;
  for (std::size_t at = 4096; at < to.size(); at += 4096) {
    if (at + 4096 <= from.size() && std::equal(to.begin() + at, to.begin() + at + 4096, from.begin() + at)) continue;
    out.push_back({static_cast<std::uint32_t>(at - 4096), Bytes(to.begin() + at, to.begin() + at + 4096)});
  }
  return out;
}

// A small hive before and after a batch of edits that grows it by bins.
struct Generations {
  Bytes before, after;
};

Generations twoGenerations() {
  auto h = HiveFile::createEmpty().value();
  for (int i = 0; i < 20; ++i) {
    const KeyId k = *h->createKey(h->root(), u"key" + std::u16string(1, static_cast<char16_t>(u'A' + i)));
    EXPECT_TRUE(h->setValue(k, u"v", 4, Bytes{1, 2, 3, static_cast<std::uint8_t>(i)}).ok());
  }
  Generations g;
  g.before = *h->serialize();
  auto again = HiveFile::openBytes(g.before, OpenMode::ReadWrite).value();
  const KeyId k = *again->findSubkey(again->root(), u"keyC");
  EXPECT_TRUE(again->setValue(k, u"big", 3, Bytes(30000, 0x5A)).ok());
  EXPECT_TRUE(again->createKey(again->root(), u"added").ok());
  EXPECT_TRUE(again->deleteValue(*again->findSubkey(again->root(), u"keyT"), u"v").ok());
  g.after = *again->serialize();
  // The log's base block comes from memory with the same time as the primary.
  put64(g.after, bb::Time, u32At(g.before, bb::Time) | (std::uint64_t{u32At(g.before, bb::Time + 4)} << 32));
  put32(g.after, bb::Sequence1, u32At(g.before, bb::Sequence1));
  put32(g.after, bb::Sequence2, u32At(g.before, bb::Sequence2));
  fixChecksum(g.after);
  EXPECT_GT(g.after.size(), g.before.size());
  return g;
}

std::vector<std::string> walkLines(const Bytes& hive) {
  auto h = HiveFile::openBytes(hive, OpenMode::ReadOnly);
  EXPECT_TRUE(h.ok());
  return h.ok() ? walkHive(**h).lines : std::vector<std::string>{};
}

HiveResult<std::unique_ptr<HiveFile>> openWith(const Bytes& hive, const std::vector<Bytes>& logs,
                                               OpenMode mode = OpenMode::ReadWrite) {
  std::vector<std::span<const std::uint8_t>> spans;
  for (const Bytes& l : logs) spans.emplace_back(l);
  return HiveFile::openBytesWithLogs(hive, spans, mode);
}

}  // namespace

// ---------------------------------------------------------------- real hives

TEST(HiveLog, UsrClassReplaysBothLogsInSequenceOrder) {
  testsupport::TempDir dir;
  if (!usrClassIn(dir)) GTEST_SKIP() << "test data not found: hives/real/UsrClass.dat(.LOG1/.LOG2).xz";
  const fs::path file = dir / "UsrClass.dat";
  const Bytes onDisk = readFile(file);

  auto plain = openOrFail(HiveFile::openWithLogs(file, {}, OpenMode::ReadOnly));
  ASSERT_TRUE(plain);
  EXPECT_TRUE(plain->baseBlock().dirty());
  EXPECT_TRUE(plain->readOnly());
  EXPECT_FALSE(plain->logReplay().attempted);

  auto h = openOrFail(HiveFile::open(file, OpenMode::ReadWrite));
  ASSERT_TRUE(h);
  const LogReplayInfo r = h->logReplay();
  EXPECT_TRUE(r.attempted);
  EXPECT_TRUE(r.replayed);
  EXPECT_FALSE(r.incomplete);
  EXPECT_TRUE(r.newFormat);
  EXPECT_FALSE(r.baseBlockRecovered);
  // LOG1 holds entries 287-290, LOG2 291-300: every one applies, in order.
  EXPECT_EQ(r.entries, 14u);
  EXPECT_EQ(r.firstSequence, 287u);
  EXPECT_EQ(r.lastSequence, 300u);
  EXPECT_EQ(r.logsUsed, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(r.dummyBins, 0u);
  const BaseBlockInfo b = h->baseBlock();
  EXPECT_FALSE(b.dirty());
  EXPECT_EQ(b.primarySequence, 300u);
  EXPECT_TRUE(b.checksumValid);
  EXPECT_FALSE(h->damaged());
  EXPECT_FALSE(h->readOnly());
  EXPECT_FALSE(h->modified());

  const Walk before = walkHive(*plain);
  const Walk after = walkHive(*h);
  EXPECT_EQ(before.errors, 0u);
  EXPECT_EQ(after.errors, 0u);
  const std::size_t gone = countOnlyIn(before.lines, after.lines);
  const std::size_t added = countOnlyIn(after.lines, before.lines);
  EXPECT_GT(gone + added, 0u);
  std::size_t newer = 0, older = 0;
  const auto t0 = keyTimes(*plain), t1 = keyTimes(*h);
  for (const auto& [path, t] : t1) {
    auto it = t0.find(path);
    if (it == t0.end()) continue;
    newer += t > it->second;
    older += t < it->second;
  }
  EXPECT_GT(newer, 0u);
  EXPECT_EQ(older, 0u);
  std::cout << "UsrClass.dat: keys " << before.keys << " -> " << after.keys << ", values " << before.values << " -> "
            << after.values << "; walk lines only before " << gone << ", only after " << added
            << "; keys with a newer last-written time " << newer << "\n";

  // Opening read-only replays into a private copy, and the file is untouched.
  auto ro = openOrFail(HiveFile::open(file, OpenMode::ReadOnly));
  ASSERT_TRUE(ro);
  EXPECT_TRUE(ro->logReplay().replayed);
  EXPECT_EQ(walkHive(*ro).lines, after.lines);
  EXPECT_EQ(readFile(file), onDisk);

  // The roles of the two dual logs do not decide the order: sequence numbers do.
  const fs::path swapped[] = {dir / "UsrClass.dat.LOG2", dir / "UsrClass.dat.LOG1"};
  auto s = openOrFail(HiveFile::openWithLogs(file, swapped, OpenMode::ReadOnly));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->logReplay().logsUsed, (std::vector<std::size_t>{1, 0}));
  EXPECT_EQ(walkHive(*s).lines, after.lines);
}

TEST(HiveLog, SaveAfterReplayLeavesStaleLogsThatAreNeverReplayed) {
  testsupport::TempDir dir;
  if (!usrClassIn(dir)) GTEST_SKIP() << "test data not found: hives/real/UsrClass.dat(.LOG1/.LOG2).xz";
  const fs::path file = dir / "UsrClass.dat";
  std::vector<std::string> replayed;
  {
    auto h = openOrFail(HiveFile::open(file, OpenMode::ReadWrite));
    ASSERT_TRUE(h);
    ASSERT_TRUE(h->logReplay().replayed);
    replayed = walkHive(*h).lines;
    ASSERT_TRUE(h->save().ok());
  }
  // Clean now: the logs beside it are not even looked at.
  auto h = openOrFail(HiveFile::open(file, OpenMode::ReadWrite));
  ASSERT_TRUE(h);
  EXPECT_FALSE(h->logReplay().attempted);
  EXPECT_FALSE(h->baseBlock().dirty());
  EXPECT_EQ(h->baseBlock().primarySequence, 301u);
  EXPECT_FALSE(h->readOnly());
  EXPECT_FALSE(h->damaged());
  const Walk w = walkHive(*h);
  EXPECT_EQ(w.errors, 0u);
  EXPECT_EQ(w.lines, replayed);
  h.reset();

  // Should the saved hive turn dirty, the old logs are still not replayed:
  // they start before its last completed write.
  Bytes saved = readFile(file);
  writeFile(file, madeDirty(saved));
  auto d = openOrFail(HiveFile::open(file, OpenMode::ReadWrite));
  ASSERT_TRUE(d);
  EXPECT_TRUE(d->logReplay().attempted);
  EXPECT_FALSE(d->logReplay().replayed);
  EXPECT_EQ(d->logReplay().entries, 0u);
  EXPECT_TRUE(d->baseBlock().dirty());
  EXPECT_TRUE(d->readOnly());
  EXPECT_EQ(walkHive(*d).lines, replayed);
  d.reset();

  // Nor when its base block breaks: the sequence numbers it kept still say
  // the logs are older than the hive.
  Bytes broken = saved;
  put32(broken, bb::Checksum, u32At(broken, bb::Checksum) ^ 0x100);
  writeFile(file, broken);
  auto b = openOrFail(HiveFile::open(file, OpenMode::ReadWrite));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->logReplay().entries, 0u);
  EXPECT_FALSE(b->logReplay().baseBlockRecovered);
  EXPECT_TRUE(b->damaged());
  EXPECT_TRUE(b->readOnly());
  EXPECT_EQ(walkHive(*b).lines, replayed);
}

TEST(HiveLog, BadBaseBlockRecoversFromTheOldFormatLog) {
  HS_TESTDATA_OR_SKIP(src, testsupport::unpackedTestdataMember(kYarp, "BadBaseBlockHive/BadBaseBlockHive"));
  testsupport::TempDir dir;
  copyTo(src, dir / "BadBaseBlockHive");
  copyTo(testsupport::unpackedTestdataMember(kYarp, "BadBaseBlockHive/BadBaseBlockHive.LOG1"),
         dir / "BadBaseBlockHive.LOG1");
  copyTo(testsupport::unpackedTestdataMember(kYarp, "BadBaseBlockHive/BadBaseBlockHive.LOG2"),
         dir / "BadBaseBlockHive.LOG2");

  // As it is on disk, its base block names no root that can be read.
  auto plain = HiveFile::openWithLogs(dir / "BadBaseBlockHive", {}, OpenMode::ReadWrite);
  if (plain) {
    EXPECT_TRUE((*plain)->damaged());
    EXPECT_TRUE((*plain)->readOnly());
  }

  auto h = openOrFail(HiveFile::open(dir / "BadBaseBlockHive", OpenMode::ReadWrite));
  ASSERT_TRUE(h);
  const LogReplayInfo r = h->logReplay();
  EXPECT_TRUE(r.replayed);
  EXPECT_FALSE(r.newFormat);
  EXPECT_TRUE(r.baseBlockRecovered);
  EXPECT_EQ(r.pages, 64u);
  EXPECT_EQ(r.logsUsed, (std::vector<std::size_t>{0}));
  const BaseBlockInfo b = h->baseBlock();
  EXPECT_TRUE(b.checksumValid);
  EXPECT_FALSE(b.dirty());
  EXPECT_EQ(b.fileType, 0u);
  EXPECT_FALSE(h->damaged());
  EXPECT_FALSE(h->readOnly());
  const Walk w = walkHive(*h);
  EXPECT_EQ(w.errors, 0u);
  std::cout << "BadBaseBlockHive: " << (plain ? "opened damaged" : "did not open") << " without its log; "
            << w.keys << " keys, " << w.values << " values after replay\n";

  // Saved and reopened: clean, and the same tree.
  ASSERT_TRUE(h->save().ok());
  auto again = openOrFail(HiveFile::open(dir / "BadBaseBlockHive", OpenMode::ReadWrite));
  ASSERT_TRUE(again);
  EXPECT_FALSE(again->logReplay().attempted);
  EXPECT_FALSE(again->readOnly());
  EXPECT_EQ(walkHive(*again).lines, w.lines);
}

TEST(HiveLog, DirtyWithoutUsableLogsStaysReadOnly) {
  HS_TESTDATA_OR_SKIP(trunc, testsupport::unpackedTestdataMember(kYarp, "TruncatedDirtyHive"));
  const fs::path badLog = testsupport::unpackedTestdataMember(kYarp, "BadBaseBlockHive/BadBaseBlockHive.LOG1");
  const fs::path security = testsupport::unpackedTestdata("hives/real/SECURITY.xz");
  testsupport::TempDir dir;
  copyTo(trunc, dir / "TruncatedDirtyHive");
  const Bytes log = readFile(badLog);
  // The same log stamped with the truncated hive's time: it would apply, but
  // its bins reach far past what the truncated file and the log hold.
  Bytes stamped = log;
  std::memcpy(stamped.data() + bb::Time, readFile(trunc).data() + bb::Time, 8);
  fixChecksum(stamped);

  struct Case {
    const char* name;
    std::vector<Bytes> logs;
  };
  const Case cases[] = {
      {"no logs", {}},
      {"empty logs", {Bytes{}, Bytes{}}},
      {"another hive's log", {log}},
      {"garbage", {Bytes(5000, 0xAB)}},
      {"log cut inside its base block", {Bytes(log.begin(), log.begin() + 300)}},
      {"matching log, impossible size", {stamped}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto h = openWith(readFile(trunc), c.logs);
    if (!h) continue;  // nothing sound at all is a fine answer too
    EXPECT_TRUE((*h)->readOnly());
    EXPECT_FALSE((*h)->logReplay().replayed);
    EXPECT_EQ((*h)->logReplay().entries, 0u);
    EXPECT_LT(walkHive(**h, 100000).keys, 100000u);
  }

  if (!security.empty()) {
    copyTo(security, dir / "SECURITY");
    auto h = openOrFail(HiveFile::open(dir / "SECURITY", OpenMode::ReadWrite));
    ASSERT_TRUE(h);
    EXPECT_TRUE(h->baseBlock().dirty());
    EXPECT_TRUE(h->readOnly());
    EXPECT_FALSE(h->logReplay().attempted);
  }
}

TEST(HiveLog, FindLogsMatchesNamesIgnoringCaseInRoleOrder) {
  testsupport::TempDir dir;
  writeFile(dir / "NTUSER.DAT", Bytes(10));
  writeFile(dir / "ntuser.dat.log", Bytes(1));
  writeFile(dir / "NTUSER.DAT.LOG2", Bytes(1));
  writeFile(dir / "ntuser.DAT.Log1", Bytes(1));
  writeFile(dir / "NTUSER.DAT.LOG3", Bytes(1));
  fs::create_directory(dir / "other");
  EXPECT_EQ(HiveFile::findLogs(dir / "NTUSER.DAT"),
            (std::vector<fs::path>{dir / "ntuser.DAT.Log1", dir / "NTUSER.DAT.LOG2", dir / "ntuser.dat.log"}));
  EXPECT_TRUE(HiveFile::findLogs(dir / "other" / "SYSTEM").empty());
}

// ---------------------------------------------------------------- built logs

TEST(HiveLog, NewFormatEntriesSplitOverBothLogsRebuildTheNewerHive) {
  const Generations g = twoGenerations();
  const Bytes dirty = madeDirty(g.before);
  const std::uint32_t s = u32At(dirty, bb::Sequence1);
  const std::vector<Page> pages = changedPages(g.before, g.after);
  ASSERT_GE(pages.size(), 3u);
  const std::uint32_t bins = static_cast<std::uint32_t>(g.after.size() - 4096);
  const std::vector<Page> first(pages.begin(), pages.begin() + 2), rest(pages.begin() + 2, pages.end());
  // The writer swapped logs: the second log holds the earlier entry.
  const Bytes log2 = newLog(g.after, s, {logEntry(s, bins, first)});
  const Bytes log1 = newLog(g.after, s + 1, {logEntry(s + 1, bins, rest)});

  auto h = openWith(dirty, {log1, log2});
  ASSERT_TRUE(h.ok());
  const LogReplayInfo r = (*h)->logReplay();
  EXPECT_TRUE(r.replayed);
  EXPECT_EQ(r.entries, 2u);
  EXPECT_EQ(r.logsUsed, (std::vector<std::size_t>{1, 0}));
  EXPECT_EQ(r.pages, pages.size());
  EXPECT_FALSE((*h)->readOnly());
  EXPECT_EQ((*h)->fileSize(), g.after.size());
  EXPECT_EQ(walkHive(**h).lines, walkLines(g.after));
  // The bins equal the newer hive's, byte for byte.
  const Bytes out = *(*h)->serialize();
  EXPECT_TRUE(std::equal(out.begin() + 4096, out.end(), g.after.begin() + 4096, g.after.end()));
}

// The newer of the two logs cannot be used (cut short, or its only entry
// torn): the older log's entries apply, but the hive lacks what the newer one
// held, so the replay is incomplete and the hive read-only, never a clean
// replay that a save would make final.
TEST(HiveLog, ANewerLogThatCannotBeUsedLeavesTheReplayIncomplete) {
  const Generations g = twoGenerations();
  const Bytes dirty = madeDirty(g.before);
  const std::uint32_t s = u32At(dirty, bb::Sequence1);
  const std::vector<Page> pages = changedPages(g.before, g.after);
  const std::uint32_t bins = static_cast<std::uint32_t>(g.after.size() - 4096);
  // The older log makes the whole change, so what it gives is a sound hive;
  // the newer one writes a page again.
  const Bytes older = newLog(g.after, s, {logEntry(s, bins, pages)});
  const Bytes newer = newLog(g.after, s + 1, {logEntry(s + 1, bins, {pages.back()})});
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
  };
  const Case cases[] = {
      {"cut to 1 KB", [](Bytes& l) { l.resize(1024); }},
      {"only its base block", [](Bytes& l) { l.resize(512); }},
      {"its entry fails its hash", [](Bytes& l) { l[512 + 100] ^= 1; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes log = newer;
    c.damage(log);
    auto h = openWith(dirty, {older, log});
    ASSERT_TRUE(h.ok());
    const LogReplayInfo r = (*h)->logReplay();
    EXPECT_EQ(r.entries, 1u);
    EXPECT_TRUE(r.incomplete);
    EXPECT_FALSE(r.replayed);
    EXPECT_TRUE((*h)->damaged());
    EXPECT_TRUE((*h)->readOnly());
    EXPECT_EQ((*h)->save().error(), HiveError::ReadOnly);
  }
}

// Each case edits the logs of a good replay; the replay must stop before the
// first entry that fails a check and keep everything applied up to it.
TEST(HiveLog, NewFormatReplayStopsAtTheFirstBadEntry) {
  const Generations g = twoGenerations();
  const Bytes dirty = madeDirty(g.before);
  const std::uint32_t s = u32At(dirty, bb::Sequence1);
  const std::vector<Page> pages = changedPages(g.before, g.after);
  const std::uint32_t bins = static_cast<std::uint32_t>(g.after.size() - 4096);
  // The first entry makes the whole change; the later ones write pages of it
  // again, so the image is consistent after any number of entries.
  std::vector<Bytes> entries{logEntry(s, bins, pages)};
  for (std::uint32_t i = 1; i <= 3; ++i) entries.push_back(logEntry(s + i, bins, {pages[i % pages.size()]}));
  const Bytes good = newLog(g.after, s, entries);
  std::vector<std::size_t> at;  // offsets of the entries
  for (std::size_t off = 512; off < good.size(); off += u32At(good, off + le::Size)) at.push_back(off);
  ASSERT_EQ(at.size(), 4u);
  const std::vector<std::string> newer = walkLines(g.after);

  struct Case {
    const char* name;
    std::function<void(Bytes&)> edit;
    std::uint32_t applied;  // entries expected to apply
    // Sound entries numbered past the bad one are still in the log: a write
    // was lost from the middle, and the replay says it stopped short.
    bool cut = false;
  };
  const std::size_t e1 = at[1];
  const Case cases[] = {
      {"untouched", [](Bytes&) {}, static_cast<std::uint32_t>(at.size())},
      {"page byte flipped", [&](Bytes& l) { l[e1 + 40 + 8 + 100] ^= 1; }, 1, true},
      {"header byte flipped", [&](Bytes& l) { l[e1 + le::Flags] ^= 2; }, 1, true},
      {"hash-2 only recomputed after an edit", [&](Bytes& l) {
         l[e1 + 40 + 8 + 100] ^= 1;
         put64(l, e1 + le::Hash2, marvin32(kLogEntrySeed, std::span<const std::uint8_t>(l.data() + e1, 32)));
       }, 1, true},
      {"sequence skips one", [&](Bytes& l) { put32(l, e1 + le::Sequence, s + 2); rehash(l, e1); }, 1, true},
      {"sequence repeats", [&](Bytes& l) { put32(l, e1 + le::Sequence, s); rehash(l, e1); }, 1, true},
      {"bins size not whole pages", [&](Bytes& l) { put32(l, e1 + le::BinsSize, bins + 512); rehash(l, e1); }, 1, true},
      {"bins size of 2 GiB", [&](Bytes& l) { put32(l, e1 + le::BinsSize, 0x80000000u); rehash(l, e1); }, 1, true},
      {"page past the bins", [&](Bytes& l) { put32(l, e1 + 40, bins - 2048); rehash(l, e1); }, 1, true},
      {"page offset wraps", [&](Bytes& l) { put32(l, e1 + 40, 0xFFFFF000u); rehash(l, e1); }, 1, true},
      {"page longer than the entry", [&](Bytes& l) { put32(l, e1 + 44, 0x10000); rehash(l, e1); }, 1, true},
      {"page count past the entry", [&](Bytes& l) { put32(l, e1 + le::PageCount, 0x20000000); rehash(l, e1); }, 1, true},
      {"size not whole sectors", [&](Bytes& l) { put32(l, e1 + le::Size, u32At(l, e1 + le::Size) - 8); }, 1, true},
      {"size past the log", [&](Bytes& l) { put32(l, e1 + le::Size, 0x7FFFFE00); }, 1, true},
      {"log cut inside the second entry", [&](Bytes& l) { l.resize(e1 + 600); }, 1},
      {"first entry not the log's sequence", [&](Bytes& l) { put32(l, at[0] + le::Sequence, s + 7); rehash(l, at[0]); }, 0},
      {"log base block torn", [&](Bytes& l) { put32(l, bb::Sequence2, s - 1); fixChecksum(l); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes log = good;
    c.edit(log);
    auto h = openWith(dirty, {log});
    ASSERT_TRUE(h.ok());
    const LogReplayInfo r = (*h)->logReplay();
    EXPECT_EQ(r.entries, c.applied);
    EXPECT_EQ(r.replayed, c.applied > 0 && !c.cut);
    EXPECT_EQ(r.incomplete, c.cut);
    EXPECT_EQ((*h)->damaged(), c.cut);
    EXPECT_EQ((*h)->readOnly(), c.applied == 0 || c.cut);
    if (c.applied > 0) {
      EXPECT_EQ(r.lastSequence, s + c.applied - 1);
      EXPECT_EQ((*h)->baseBlock().primarySequence, s + c.applied - 1);
      EXPECT_FALSE((*h)->baseBlock().dirty());
      EXPECT_EQ(walkHive(**h).lines, newer);
    } else {
      EXPECT_TRUE((*h)->baseBlock().dirty());
      EXPECT_EQ(walkHive(**h).lines, walkLines(g.before));
    }
  }
}

TEST(HiveLog, NewFormatRecoversABadBaseBlockFromTheLatestLog) {
  const Generations g = twoGenerations();
  const std::uint32_t s = u32At(g.before, bb::Sequence1) + 1;
  const std::uint32_t bins = static_cast<std::uint32_t>(g.after.size() - 4096);
  const std::vector<Page> pages = changedPages(g.before, g.after);
  // The older log would wreck the newer state: only the latest may be used.
  ASSERT_GE(s, 3u);
  const Bytes older = newLog(g.before, s - 2, {logEntry(s - 2, bins, {{0, Bytes(4096, 0xEE)}})});
  const Bytes latest = newLog(g.after, s, {logEntry(s, bins, pages)});
  Bytes wrongChecksum = madeDirty(g.before);
  put32(wrongChecksum, bb::Checksum, 0x4C564E49);  // "INVL"
  Bytes garbled = wrongChecksum;
  std::fill(garbled.begin(), garbled.begin() + 512, 0xA5);
  for (const Bytes* broken : {&wrongChecksum, &garbled}) {
    SCOPED_TRACE(broken == &garbled ? "garbled" : "wrong checksum");
    auto h = openWith(*broken, {older, latest});
    ASSERT_TRUE(h.ok()) << static_cast<int>(h.error());
    const LogReplayInfo r = (*h)->logReplay();
    EXPECT_TRUE(r.replayed);
    EXPECT_TRUE(r.baseBlockRecovered);
    EXPECT_EQ(r.logsUsed, (std::vector<std::size_t>{1}));
    EXPECT_TRUE((*h)->baseBlock().checksumValid);
    EXPECT_EQ((*h)->baseBlock().fileType, 0u);
    EXPECT_FALSE((*h)->damaged());
    EXPECT_EQ(walkHive(**h).lines, walkLines(g.after));
  }
}

TEST(HiveLog, NewFormatReplacesABinTheLogLeftInvalid) {
  const Generations g = twoGenerations();
  const Bytes dirty = madeDirty(g.before);
  const std::uint32_t s = u32At(dirty, bb::Sequence1);
  const std::uint32_t bins = static_cast<std::uint32_t>(g.after.size() - 4096);
  std::vector<Page> pages = changedPages(g.before, g.after);
  // The last bin's first page arrives without its header.
  auto binStart = std::find_if(pages.rbegin(), pages.rend(),
                               [](const Page& p) { return std::memcmp(p.data.data(), "hbin", 4) == 0; });
  ASSERT_NE(binStart, pages.rend());
  std::memset(binStart->data.data(), 0, 32);
  auto h = openWith(dirty, {newLog(g.after, s, {logEntry(s, bins, pages)})});
  ASSERT_TRUE(h.ok());
  const LogReplayInfo r = (*h)->logReplay();
  // The bin's size went with its header: each of its pages becomes an empty bin.
  EXPECT_GE(r.dummyBins, 1u);
  EXPECT_TRUE(r.incomplete);
  EXPECT_FALSE(r.replayed);
  EXPECT_TRUE((*h)->damaged());
  EXPECT_TRUE((*h)->readOnly());
  EXPECT_LT(walkHive(**h, 100000).keys, 100000u);
}

TEST(HiveLog, OldFormatLogChoice) {
  const Generations g = twoGenerations();
  const Bytes dirty = madeDirty(g.before);
  const std::uint32_t s = u32At(dirty, bb::Sequence1);
  const Bytes good = oldLog(g.before, g.after, s);
  const std::vector<std::string> newer = walkLines(g.after);
  Bytes otherTime = good;  // a log of another write of this hive
  put64(otherTime, bb::Time, 0x01D0000000000000ull);
  fixChecksum(otherTime);
  Bytes laterTime = good;
  put64(laterTime, bb::Time, 0x7FD0000000000000ull);
  fixChecksum(laterTime);
  Bytes stale = good;  // written before the primary's last completed write
  put32(stale, bb::Sequence1, s - 2);
  put32(stale, bb::Sequence2, s - 2);
  fixChecksum(stale);
  Bytes badBin = good;  // the first dirty page (a bin header) claims another offset
  put32(badBin, 1024 + 4, 0x1000);
  Bytes cut = good;
  cut.resize(cut.size() - 512);

  struct Case {
    const char* name;
    std::vector<Bytes> logs;
    int used;  // index of the log applied, -1 for none
    bool whole;
  };
  const Case cases[] = {
      {"first log", {good, {}}, 0, true},
      {"single log in the third place", {{}, {}, good}, 2, true},
      {"second log when the first is torn", {Bytes(good.begin(), good.begin() + 100), good}, 1, true},
      {"second log when it is more recent", {otherTime, laterTime}, 1, true},
      {"no log when the second is older", {laterTime, otherTime}, -1, false},
      {"another write's log alone", {otherTime}, -1, false},
      {"stale log", {stale}, -1, false},
      {"first bin invalid", {badBin}, -1, false},
      {"pages cut short", {cut}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto h = openWith(dirty, c.logs);
    ASSERT_TRUE(h.ok());
    const LogReplayInfo r = (*h)->logReplay();
    if (c.used < 0) {
      EXPECT_EQ(r.entries, 0u);
      EXPECT_TRUE((*h)->readOnly());
      EXPECT_TRUE((*h)->baseBlock().dirty());
      continue;
    }
    EXPECT_EQ(r.logsUsed, (std::vector<std::size_t>{static_cast<std::size_t>(c.used)}));
    EXPECT_FALSE(r.newFormat);
    EXPECT_EQ(r.replayed, c.whole);
    EXPECT_EQ(r.incomplete, !c.whole);
    EXPECT_EQ((*h)->readOnly(), !c.whole);
    if (c.whole) EXPECT_EQ(walkHive(**h).lines, newer);
    EXPECT_LT(walkHive(**h, 100000).keys, 100000u);
  }
}

// Entries that pass every check yet leave no readable root: the hive opens as
// it is, read-only, rather than not at all.
TEST(HiveLog, ALogThatBreaksTheHiveIsDropped) {
  const Generations g = twoGenerations();
  const Bytes dirty = madeDirty(g.before);
  const std::uint32_t s = u32At(dirty, bb::Sequence1);
  Bytes emptyBin(4096, 0);
  std::memcpy(emptyBin.data(), "hbin", 4);
  put32(emptyBin, 8, 4096);
  put32(emptyBin, 32, 4096 - 32);
  const Bytes log = newLog(g.before, s, {logEntry(s, 4096, {{0, emptyBin}})});
  auto h = openWith(dirty, {log});
  ASSERT_TRUE(h.ok()) << static_cast<int>(h.error());
  EXPECT_TRUE((*h)->logReplay().attempted);
  EXPECT_FALSE((*h)->logReplay().replayed);
  EXPECT_TRUE((*h)->baseBlock().dirty());
  EXPECT_TRUE((*h)->readOnly());
  EXPECT_EQ(walkHive(**h).lines, walkLines(g.before));

  testsupport::TempDir dir;
  writeFile(dir / "hive", dirty);
  writeFile(dir / "hive.LOG1", log);
  auto f = HiveFile::open(dir / "hive", OpenMode::ReadWrite);
  ASSERT_TRUE(f.ok());
  EXPECT_TRUE((*f)->logReplay().attempted);
  EXPECT_FALSE((*f)->logReplay().replayed);
  EXPECT_TRUE((*f)->readOnly());
}

// Bins an entry cuts off read as zeros when a later entry grows them back,
// unless a page rewrites them.
TEST(HiveLog, NewFormatBinsCutAndGrownBackAreZeros) {
  const Generations g = twoGenerations();
  const Bytes dirty = madeDirty(g.before);
  const std::uint32_t s = u32At(dirty, bb::Sequence1);
  const std::uint32_t bins = static_cast<std::uint32_t>(g.after.size() - 4096);
  const std::vector<Page> pages = changedPages(g.before, g.after);
  ASSERT_GE(bins, 3u * 4096);
  std::vector<Page> allButOne;
  for (const Page& p : pages)
    if (p.off != bins - 4096) allButOne.push_back(p);
  ASSERT_EQ(allButOne.size() + 1, pages.size());
  const Bytes log = newLog(g.after, s,
                           {logEntry(s, bins, pages), logEntry(s + 1, 4096, {}), logEntry(s + 2, bins, allButOne)});
  // The image is replayed alone: a hive whose last page reads as zeros is
  // damaged, and opening it would fall back to the primary.
  ByteBuffer image;
  ASSERT_TRUE(image.resize(dirty.size()));
  std::memcpy(image.data(), dirty.data(), dirty.size());
  const std::span<const std::uint8_t> logs[] = {log};
  EXPECT_EQ(replayLogs(image, logs).entries, 3u);
  const Bytes out(image.data(), image.data() + image.size());
  ASSERT_EQ(out.size(), g.after.size());
  const std::size_t last = 4096 + bins - 4096;
  ASSERT_FALSE(std::all_of(g.after.begin() + last, g.after.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(out.begin() + last, out.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(out.begin() + 4096, out.begin() + last, g.after.begin() + 4096));
}

// Real logs put beside a hive they were not written for are refused, and a
// real replay with an entry lost from the middle, or with its newer log cut
// short, opens read-only, saying so.
TEST(HiveLog, RealLogsOfAnotherHiveOrCutInTheMiddleAreNoCleanReplay) {
  testsupport::TempDir dir;
  if (!usrClassIn(dir)) GTEST_SKIP() << "test data not found: hives/real/UsrClass.dat(.LOG1/.LOG2).xz";
  HS_TESTDATA_OR_SKIP(ntuser, testsupport::unpackedTestdata("hives/real/NTUSER.DAT.xz"));
  {
    SCOPED_TRACE("logs of another hive");
    // Dirty, with sequence numbers the logs' entries would follow on from.
    Bytes other = readFile(ntuser);
    put32(other, bb::Sequence1, 287);
    put32(other, bb::Sequence2, 286);
    fixChecksum(other);
    writeFile(dir / "NTUSER.DAT", other);
    copyTo(dir / "UsrClass.dat.LOG1", dir / "NTUSER.DAT.LOG1");
    copyTo(dir / "UsrClass.dat.LOG2", dir / "NTUSER.DAT.LOG2");
    auto plain = openOrFail(HiveFile::openWithLogs(dir / "NTUSER.DAT", {}, OpenMode::ReadOnly));
    auto h = openOrFail(HiveFile::open(dir / "NTUSER.DAT", OpenMode::ReadWrite));
    ASSERT_TRUE(plain && h);
    EXPECT_FALSE(h->logReplay().replayed);
    EXPECT_EQ(h->logReplay().entries, 0u);
    EXPECT_TRUE(h->readOnly());
    EXPECT_EQ(walkHive(*h).lines, walkHive(*plain).lines);
  }
  {
    SCOPED_TRACE("an entry of the second log fails its hash");
    Bytes log2 = readFile(dir / "UsrClass.dat.LOG2");
    const std::size_t second = 512 + u32At(log2, 512 + le::Size);
    log2[second + le::Pages + 8 * std::size_t{u32At(log2, second + le::PageCount)} + 10] ^= 1;
    writeFile(dir / "UsrClass.dat.LOG2", log2);
    auto h = openOrFail(HiveFile::open(dir / "UsrClass.dat", OpenMode::ReadWrite));
    ASSERT_TRUE(h);
    const LogReplayInfo r = h->logReplay();
    EXPECT_EQ(r.entries, 5u);  // LOG1's four and LOG2's first
    EXPECT_TRUE(r.incomplete);
    EXPECT_FALSE(r.replayed);
    EXPECT_TRUE(h->damaged());
    EXPECT_TRUE(h->readOnly());
    EXPECT_EQ(h->save().error(), HiveError::ReadOnly);
  }
  {
    SCOPED_TRACE("the newer log cut to 1 KB");
    testsupport::TempDir fresh;
    ASSERT_TRUE(usrClassIn(fresh));
    Bytes log2 = readFile(fresh / "UsrClass.dat.LOG2");  // entries 291-300
    log2.resize(1024);
    writeFile(fresh / "UsrClass.dat.LOG2", log2);
    auto h = openOrFail(HiveFile::open(fresh / "UsrClass.dat", OpenMode::ReadWrite));
    ASSERT_TRUE(h);
    const LogReplayInfo r = h->logReplay();
    EXPECT_EQ(r.entries, 4u);  // LOG1's
    EXPECT_TRUE(r.incomplete);
    EXPECT_FALSE(r.replayed);
    EXPECT_TRUE(h->damaged());
    EXPECT_TRUE(h->readOnly());
    EXPECT_EQ(h->save().error(), HiveError::ReadOnly);
  }
}

// Saving is crash-safe: a process killed at any moment during saves leaves
// either the old hive or the new one on disk, whole.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "HiveTestUtil.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveBytes.h"
#include "platform/hive/HiveFormat.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"
#include "tests/support/Waiting.h"

using namespace platform::hive;
using namespace hivetest;

namespace {

constexpr std::size_t kBlob = 300 * 1024;

// What the child says after each completed save: the generation now on disk
// and how long that save took.
struct SaveReport {
  std::uint32_t gen = 0;
  std::uint32_t micros = 0;
};

std::uint32_t genOf(const std::vector<std::uint8_t>& d) {
  return d.size() == 4 ? (d[0] | d[1] << 8 | d[2] << 16 | static_cast<std::uint32_t>(d[3]) << 24) : 0;
}

// The child: saves the hive over and over, each generation writing a counter
// and a blob filled with it, and reports every completed save on `reports`,
// until it is killed.
[[noreturn]] void saveForever(const std::filesystem::path& file, unsigned seed, int reports) {
  auto h = HiveFile::open(file, OpenMode::ReadWrite);
  if (!h || (*h)->readOnly()) _exit(2);
  const KeyId k = *(*h)->findSubkey((*h)->root(), u"state");
  std::uint32_t gen = genOf(*(*h)->valueData(*(*h)->findValue(k, u"gen")));
  for (;;) {
    ++gen;
    const std::vector<std::uint8_t> g = {static_cast<std::uint8_t>(gen), static_cast<std::uint8_t>(gen >> 8),
                                         static_cast<std::uint8_t>(gen >> 16), static_cast<std::uint8_t>(gen >> 24)};
    if (!(*h)->setValue(k, u"gen", 4, g)) _exit(3);
    if (!(*h)->setValue(k, u"blob", 3, std::vector<std::uint8_t>(kBlob + (gen + seed) % 5000, gen & 0xFF))) _exit(3);
    const auto began = std::chrono::steady_clock::now();
    if (!(*h)->save()) _exit(4);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began);
    const SaveReport r{gen, static_cast<std::uint32_t>(std::min<std::int64_t>(took.count(), 10'000'000))};
    // One write of a few bytes to a pipe is never split.
    if (::write(reports, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(5);
  }
}

}  // namespace

TEST(HiveSave, KilledDuringSavesLeavesAWholeHive) {
  testsupport::TempDir dir;
  const auto file = dir / "hive";
  {
    auto h = HiveFile::createEmpty().value();
    for (int i = 0; i < 300; ++i) {
      std::u16string n = u"filler";
      for (char c : std::to_string(i)) n += static_cast<char16_t>(c);
      const KeyId f = *h->createKey(h->root(), n);
      ASSERT_TRUE(h->setValue(f, u"v", 3, std::vector<std::uint8_t>(2000, static_cast<std::uint8_t>(i))).ok());
    }
    const KeyId s = *h->createKey(h->root(), u"state");
    ASSERT_TRUE(h->setValue(s, u"gen", 4, std::vector<std::uint8_t>(4, 0)).ok());
    ASSERT_TRUE(h->setValue(s, u"blob", 3, std::vector<std::uint8_t>(kBlob, 0)).ok());
    ASSERT_TRUE(h->saveAs(file).ok());
  }
  // Each child is killed at a random moment of a save that follows one it
  // reported, so every round makes progress however slow the machine is,
  // and the kills fall anywhere in a save: while the temporary file is
  // written, synced, renamed, or the folder synced.
  std::mt19937 rng(12345);
  std::uint32_t lastGen = 0;
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      saveForever(file, static_cast<unsigned>(round), fds[1]);
    }
    ::close(fds[1]);
    SaveReport report;
    bool reported = true;
    for (int n = std::uniform_int_distribution<int>(1, 3)(rng); n > 0 && reported; --n)
      reported = testsupport::readFully(fds[0], &report, sizeof report);
    if (reported) {
      const auto delay = std::uniform_int_distribution<std::uint32_t>(0, report.micros)(rng);
      std::this_thread::sleep_for(std::chrono::microseconds(delay));
    }
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child stopped on its own, status " << status;
    ASSERT_TRUE(reported) << "no save reported within " << testsupport::kPatience.count() << " ms";
    // Saves the child finished while we slept: their reports wait in the pipe.
    for (SaveReport more; testsupport::readFully(fds[0], &more, sizeof more);) report = more;
    ::close(fds[0]);

    auto h = HiveFile::open(file, OpenMode::ReadWrite);
    ASSERT_TRUE(h.ok());
    ASSERT_FALSE((*h)->damaged());
    ASSERT_FALSE((*h)->readOnly());
    const auto bb = (*h)->baseBlock();
    ASSERT_TRUE(bb.checksumValid);
    ASSERT_EQ(bb.primarySequence, bb.secondarySequence);
    const auto s = (*h)->findSubkey((*h)->root(), u"state");
    ASSERT_TRUE(s.ok());
    const auto genValue = (*h)->findValue(*s, u"gen");
    const auto blobValue = (*h)->findValue(*s, u"blob");
    ASSERT_TRUE(genValue.ok() && blobValue.ok());
    const auto genData = (*h)->valueData(*genValue);
    const auto blob = (*h)->valueData(*blobValue);
    ASSERT_TRUE(genData.ok() && blob.ok());
    const std::uint32_t gen = genOf(*genData);
    // The last reported save is there; the one it was killed in may have
    // landed too, whole.
    ASSERT_GE(gen, report.gen);
    ASSERT_LE(gen, report.gen + 1);
    ASSERT_GT(gen, lastGen);
    lastGen = gen;
    // The blob belongs to the same generation: never half of one save.
    ASSERT_GE(blob->size(), kBlob);
    ASSERT_EQ(std::count(blob->begin(), blob->end(), static_cast<std::uint8_t>(gen & 0xFF)),
              static_cast<std::ptrdiff_t>(blob->size()));
    const Walk w = walkHive(**h);
    ASSERT_EQ(w.errors, 0u);
    ASSERT_EQ(w.keys, 302u);
  }
}

// Bytes a hive file holds past the hive's end (slack: old bins of a hive that
// shrank, whatever the disk held) are evidence to a forensic reader. A save
// keeps them where they were; bins the hive grows by take their place.
TEST(HiveSave, BytesPastTheHivesEndAreKept) {
  HS_TESTDATA_OR_SKIP(ntuser, testsupport::unpackedTestdata("hives/real/NTUSER.DAT.xz"));
  const std::vector<std::uint8_t> original = readFile(ntuser);
  const std::size_t end = 4096 + loadU32(original.data() + bb::BinsSize);
  ASSERT_GT(original.size(), end + 40000);  // 48 KB of stale bins from elsewhere in the file
  testsupport::TempDir dir;
  struct Case {
    const char* what;
    std::size_t bigValue;  // 0: a small edit only
  };
  for (const Case& c : {Case{"a small edit", 0}, Case{"bins grown into the slack", 20000},
                        Case{"bins grown past the slack", 200000}}) {
    SCOPED_TRACE(c.what);
    const auto file = dir / "NTUSER.DAT";
    writeFile(file, original);
    std::size_t newEnd = 0;
    {
      auto h = HiveFile::open(file, OpenMode::ReadWrite).value();
      ASSERT_FALSE(h->readOnly());
      ASSERT_TRUE(h->setValue(h->root(), u"edited", 4, std::vector<std::uint8_t>{1, 0, 0, 0}).ok());
      if (c.bigValue) ASSERT_TRUE(h->setValue(h->root(), u"big", 3, std::vector<std::uint8_t>(c.bigValue, 7)).ok());
      ASSERT_TRUE(h->save().ok());
      newEnd = h->fileSize();
    }
    const std::vector<std::uint8_t> saved = readFile(file);
    EXPECT_EQ(saved.size(), std::max(original.size(), newEnd));
    if (c.bigValue) EXPECT_GT(newEnd, end);
    if (saved.size() > newEnd)
      EXPECT_TRUE(std::equal(saved.begin() + static_cast<std::ptrdiff_t>(newEnd), saved.end(),
                             original.begin() + static_cast<std::ptrdiff_t>(newEnd)));
    auto back = HiveFile::open(file, OpenMode::ReadWrite).value();
    EXPECT_FALSE(back->damaged());
    EXPECT_FALSE(back->readOnly());
    EXPECT_TRUE(back->findValue(back->root(), u"edited").ok());
  }
}

// Slack that would read as one more bin of the hive (a bin header naming the
// offset it stands at, right at the hive's end) is not kept: a reader that
// walks bins to the end of the file would take it for part of the hive.
TEST(HiveSave, SlackThatReadsAsABinOfTheHiveIsDropped) {
  auto h = HiveFile::createEmpty().value();
  const std::vector<std::uint8_t> hive = *h->serialize();
  const std::uint32_t bins = loadU32(hive.data() + bb::BinsSize);
  std::vector<std::uint8_t> stale(4096, 0xAB), bin(4096, 0);
  std::memcpy(bin.data(), "hbin", 4);
  storeU32(bin.data() + 4, bins);
  storeU32(bin.data() + 8, 4096);
  storeU32(bin.data() + 32, 4096 - 32);
  testsupport::TempDir dir;
  const auto file = dir / "hive";
  for (const auto& [slack, kept] : {std::pair{stale, true}, std::pair{bin, false}}) {
    SCOPED_TRACE(kept);
    std::vector<std::uint8_t> withSlack = hive;
    withSlack.insert(withSlack.end(), slack.begin(), slack.end());
    writeFile(file, withSlack);
    auto o = HiveFile::open(file, OpenMode::ReadWrite).value();
    ASSERT_FALSE(o->damaged());
    ASSERT_TRUE(o->createKey(o->root(), u"k").ok());
    ASSERT_TRUE(o->save().ok());
    const std::vector<std::uint8_t> saved = readFile(file);
    ASSERT_EQ(saved.size(), kept ? withSlack.size() : hive.size());
    EXPECT_TRUE(std::equal(saved.begin() + static_cast<std::ptrdiff_t>(hive.size()), saved.end(), slack.begin()));
    const auto serialized = o->serialize();
    EXPECT_EQ(serialized->size(), saved.size());
  }
}

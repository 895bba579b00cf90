// Saving is crash-safe: a process killed at any moment during saves leaves
// either the old hive or the new one on disk, whole.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "HiveTestUtil.h"
#include "platform/hive/HiveFile.h"
#include "tests/support/TempDir.h"

using namespace platform::hive;
using namespace hivetest;

namespace {

constexpr std::size_t kBlob = 300 * 1024;

// The child: saves the hive over and over, each generation writing a counter
// and a blob filled with it, until it is killed.
[[noreturn]] void saveForever(const std::filesystem::path& file, unsigned seed) {
  auto h = HiveFile::open(file, OpenMode::ReadWrite);
  if (!h || (*h)->readOnly()) _exit(2);
  const KeyId k = *(*h)->findSubkey((*h)->root(), u"state");
  const auto start = *(*h)->valueData(*(*h)->findValue(k, u"gen"));
  std::uint32_t gen = start.size() == 4 ? (start[0] | start[1] << 8 | start[2] << 16 | static_cast<std::uint32_t>(start[3]) << 24) : 0;
  for (;;) {
    ++gen;
    const std::vector<std::uint8_t> g = {static_cast<std::uint8_t>(gen), static_cast<std::uint8_t>(gen >> 8),
                                         static_cast<std::uint8_t>(gen >> 16), static_cast<std::uint8_t>(gen >> 24)};
    if (!(*h)->setValue(k, u"gen", 4, g)) _exit(3);
    if (!(*h)->setValue(k, u"blob", 3, std::vector<std::uint8_t>(kBlob + (gen + seed) % 5000, gen & 0xFF))) _exit(3);
    if (!(*h)->save()) _exit(4);
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
  std::mt19937 rng(12345);
  std::uint32_t lastGen = 0;
  int progressed = 0;
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) saveForever(file, static_cast<unsigned>(round));
    usleep(std::uniform_int_distribution<int>(200, 20000)(rng));
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child stopped on its own with " << WEXITSTATUS(status);

    auto h = HiveFile::open(file, OpenMode::ReadWrite);
    ASSERT_TRUE(h.ok());
    ASSERT_FALSE((*h)->damaged());
    ASSERT_FALSE((*h)->readOnly());
    const auto bb = (*h)->baseBlock();
    ASSERT_TRUE(bb.checksumValid);
    ASSERT_EQ(bb.primarySequence, bb.secondarySequence);
    const KeyId s = *(*h)->findSubkey((*h)->root(), u"state");
    const auto g = *(*h)->valueData(*(*h)->findValue(s, u"gen"));
    ASSERT_EQ(g.size(), 4u);
    const std::uint32_t gen = g[0] | g[1] << 8 | g[2] << 16 | static_cast<std::uint32_t>(g[3]) << 24;
    ASSERT_GE(gen, lastGen);
    progressed += gen > lastGen;
    lastGen = gen;
    // The blob belongs to the same generation: never half of one save.
    const auto blob = *(*h)->valueData(*(*h)->findValue(s, u"blob"));
    ASSERT_GE(blob.size(), kBlob);
    ASSERT_EQ(std::count(blob.begin(), blob.end(), static_cast<std::uint8_t>(gen & 0xFF)),
              static_cast<std::ptrdiff_t>(blob.size()));
    const Walk w = walkHive(**h);
    ASSERT_EQ(w.errors, 0u);
    ASSERT_EQ(w.keys, 302u);
  }
  EXPECT_GT(progressed, 5);  // the children did get saves through
}

#include "core/ResourceRequirementsList.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/hive/HiveFile.h"
#include "tests/support/ResourceRequirementsData.h"
#include "tests/support/TestData.h"

namespace {

using testsupport::putLE32;
using testsupport::requirementsList;

std::vector<std::string> texts(const ResourceRequirementRow& r) {
  return {r.type, r.minimum, r.maximum, r.length, r.align, r.options};
}

}  // namespace

TEST(ResourceRequirementsList, RowsShowEachDescriptorKind) {
  const auto data = requirementsList({
      // Addresses show their low 32 bits, length and alignment their low byte.
      {.option = 9, .type = 1, .share = 1, .first = 0x108, .second = 0x1, .minimum = 0x1000003F8ull,
       .maximum = 0x3FF},
      {.option = 0, .type = 2, .share = 3, .first = 0x12345, .second = 0x17},
      {.option = 8, .type = 3, .share = 2, .first = 0x1000, .second = 0x1000, .minimum = 0xFEB00000,
       .maximum = 0xFEBFFFFF},
      {.option = 1, .type = 4, .share = 0, .first = 4, .second = 7},
      {.option = 0, .type = 0x80, .share = 0, .first = 0xAB, .second = 0xCD, .minimum = 5, .maximum = 6},
  });
  const auto rows = DecodeResourceRequirementsList(data);
  const std::vector<std::vector<std::string>> expected = {
      {"Port", "000003F8", "000003FF", "08", "01", "Alternative Preferred Device-exclusive "},
      {"Interrupt", "2345", "0017", "", "", ""},
      {"Memory", "FEB00000", "FEBFFFFF", "00", "00", "Alternative "},
      {"DMA", "0004", "0007", "", "", "Preferred "},
      {"Type 128", "00000005", "00000006", "AB", "CD", ""},
  };
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(texts(rows[i]), expected[i]);
  }
}

TEST(ResourceRequirementsList, SizesAndCountsThatDisagreeWithTheDataShowNothing) {
  const auto good = requirementsList({{.type = 1, .minimum = 0x60, .maximum = 0x60},
                                      {.type = 2, .first = 1, .second = 1}});
  struct Case {
    const char* what;
    std::vector<std::uint8_t> data;
    std::size_t rows;
  };
  auto withSize = [&](std::uint32_t size) { auto d = good; putLE32(d, 0, size); return d; };
  auto withCount = [&](std::uint32_t count) { auto d = good; putLE32(d, 36, count); return d; };
  auto withTail = [&](std::size_t extra) {
    auto d = good;
    d.resize(d.size() + extra, 0xEE);
    putLE32(d, 0, static_cast<std::uint32_t>(d.size()));
    return d;
  };
  std::vector<std::uint8_t> header39(good.begin(), good.begin() + 39);
  putLE32(header39, 0, 39);
  const Case cases[] = {
      {"well formed", good, 2},
      {"empty", {}, 0},
      {"39 bytes", header39, 0},
      {"header only", requirementsList({}), 0},
      {"size one more", withSize(static_cast<std::uint32_t>(good.size() + 1)), 0},
      {"size one less", withSize(static_cast<std::uint32_t>(good.size() - 1)), 0},
      {"count one more", withCount(3), 0},
      {"count one less", withCount(1), 0},
      {"count huge", withCount(0xFFFFFFFFu), 0},
      // A tail shorter than a descriptor does not change (L - 40) div 32.
      {"31 bytes of tail", withTail(31), 2},
      {"32 bytes of tail", withTail(32), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecodeResourceRequirementsList(c.data).size(), c.rows);
  }
}

// Every requirements list a real machine stored decodes without reading
// outside its data (the sanitizer build watches the reads) and, when it has a
// single alternative list, to one row per descriptor.
TEST(ResourceRequirementsList, EveryValueOfARealSystemHiveDecodes) {
  HS_TESTDATA_OR_SKIP(path, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  auto opened = platform::hive::HiveFile::openWithLogs(path, {}, platform::hive::OpenMode::ReadOnly);
  ASSERT_TRUE(opened.ok());
  const auto& hive = **opened;
  constexpr std::uint32_t kRegResourceRequirementsList = 10;
  std::size_t values = 0, shown = 0;
  std::vector<platform::hive::KeyId> pending{hive.root()};
  std::vector<platform::hive::KeyId> keys;
  std::vector<platform::hive::ValueId> ids;
  platform::hive::ValueInfo info;
  std::vector<std::uint8_t> data;
  while (!pending.empty()) {
    const auto key = pending.back();
    pending.pop_back();
    ASSERT_TRUE(hive.subkeysInto(key, keys).ok());
    pending.insert(pending.end(), keys.begin(), keys.end());
    ASSERT_TRUE(hive.valuesInto(key, ids).ok());
    for (const auto id : ids) {
      ASSERT_TRUE(hive.valueInfoInto(id, info).ok());
      if (info.type != kRegResourceRequirementsList) continue;
      ASSERT_TRUE(hive.valueDataInto(id, data).ok());
      // An exact-size copy, so a read past the value's end is one past the allocation.
      const std::vector<std::uint8_t> exact(data.begin(), data.end());
      const auto rows = DecodeResourceRequirementsList(exact);
      ++values;
      if (rows.empty()) continue;
      ++shown;
      EXPECT_EQ(rows.size(), (exact.size() - 40) / 32);
    }
  }
  EXPECT_EQ(values, 142u);
  EXPECT_GT(shown, 0u);
}

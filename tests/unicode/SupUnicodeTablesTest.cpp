// The generated tables hold what the list's normalisation is built on: the
// Unicode 4.1 data in the documented layout, with its exclusions.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "unicode/SupUnicode.h"
#include "unicode/SupUnicodeData.h"

namespace {

using namespace sup;

struct Decomposition {
  std::uint32_t code;
  std::vector<std::uint32_t> mapping;
};

std::vector<Decomposition> readDecompositions() {
  const std::uint32_t* w = data::kDecomposition;
  const std::size_t size = data::kDecompositionSize;
  std::vector<Decomposition> out;
  std::size_t pos = 1;
  for (std::uint32_t i = 0; i < w[0]; ++i) {
    if (pos + 2 > size) {
      ADD_FAILURE() << "decomposition table ends inside entry " << i;
      break;
    }
    Decomposition d{w[pos], {}};
    const std::uint32_t length = w[pos + 1];
    pos += 2;
    if (length > size - pos) {
      ADD_FAILURE() << "decomposition " << i << " runs past the table";
      break;
    }
    d.mapping.assign(w + pos, w + pos + length);
    pos += length;
    out.push_back(std::move(d));
  }
  EXPECT_EQ(pos, size) << "words after the last decomposition";
  return out;
}

TEST(SupUnicodeTables, DecompositionHoldsFullCanonicalMappingsOfMultiCharacterDecompositions) {
  const auto entries = readDecompositions();
  EXPECT_EQ(entries.size(), 1002u);
  int aboveBmp = 0;
  std::uint32_t previous = 0;
  for (const auto& e : entries) {
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << e.code);
    EXPECT_EQ(e.code & (1u << 30), 0u) << "compatibility entry";
    EXPECT_EQ(e.code & ~0xFFFFFFu, 0u) << "stray high bits";
    EXPECT_GT(e.code, previous) << "not in ascending order";
    previous = e.code;
    EXPECT_GE(e.mapping.size(), 2u);
    EXPECT_LE(e.mapping.size(), 4u);
    EXPECT_FALSE(e.code >= 0xAC00 && e.code <= 0xD7A3) << "Hangul syllables are algorithmic";
    if (e.code > 0xFFFF) ++aboveBmp;
  }
  EXPECT_EQ(aboveBmp, 13);

  std::map<std::uint32_t, std::vector<std::uint32_t>> byCode;
  for (const auto& e : entries) byCode[e.code] = e.mapping;
  // Singletons have no entry.
  for (std::uint32_t singleton : {0x212Bu, 0x2126u, 0x1F71u, 0x1FEEu, 0xF900u, 0x2F800u})
    EXPECT_EQ(byCode.count(singleton), 0u) << std::hex << singleton;
  // Full (recursive) mappings: U+1E08 = U+00C7 U+0301 = C U+0327 U+0301; U+1F82
  // goes through U+1F02 and U+1F00.
  EXPECT_EQ(byCode[0x1E08], (std::vector<std::uint32_t>{0x43, 0x327, 0x301}));
  EXPECT_EQ(byCode[0x1F82], (std::vector<std::uint32_t>{0x3B1, 0x313, 0x300, 0x345}));
  for (std::uint32_t code = 0x1D15E; code <= 0x1D164; ++code) EXPECT_EQ(byCode.count(code), 1u);
  for (std::uint32_t code = 0x1D1BB; code <= 0x1D1C0; ++code) EXPECT_EQ(byCode.count(code), 1u);
}

TEST(SupUnicodeTables, CombiningHasOneRecordPerClass) {
  const std::uint32_t* w = data::kCombining;
  const std::size_t size = data::kCombiningSize;
  std::size_t pos = 0;
  int records = 0;
  std::uint32_t codePoints = 0, previousClass = 0;
  while (pos < size) {
    ASSERT_LE(pos + 2, size);
    const std::uint32_t cls = w[pos], ranges = w[pos + 1];
    pos += 2;
    ASSERT_LE(ranges * 2, size - pos);
    EXPECT_GT(cls, previousClass) << "classes not ascending";
    previousClass = cls;
    for (std::uint32_t r = 0; r < ranges; ++r, pos += 2) {
      EXPECT_LE(w[pos], w[pos + 1]);
      codePoints += w[pos + 1] - w[pos] + 1;
    }
    ++records;
  }
  EXPECT_EQ(records, 53);
  EXPECT_EQ(codePoints, 384u);
  EXPECT_EQ(previousClass, 240u);

  const struct {
    char32_t code;
    int cls;
  } cases[] = {{0x0301, 230}, {0x0327, 202}, {0x0345, 240}, {0x05B4, 14},
               {0x0041, 0},   {0xD834, 0},   {0x1D165, 216}, {0x0F71, 129}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << std::uint32_t(c.code));
    EXPECT_EQ(CanonicalCombiningClass(c.code), c.cls);
  }
}

TEST(SupUnicodeTables, CompositionPairsAreSortedAndKeepTheDocumentedExceptions) {
  const std::uint32_t* w = data::kComposition;
  ASSERT_EQ(data::kCompositionSize, 1 + 2 * std::size_t{w[0]});
  EXPECT_EQ(w[0], 922u);
  std::set<std::uint32_t> composites;
  for (std::uint32_t i = 0; i < w[0]; ++i) {
    const std::uint32_t key = w[1 + 2 * i], composite = w[2 + 2 * i];
    if (i > 0) {
      EXPECT_LT(w[1 + 2 * (i - 1)], key) << "keys not ascending at " << i;
    }
    EXPECT_LE(composite, 0xFFFFu);
    composites.insert(composite);
  }
  // The excluded composites.
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> excluded = {
      {0x0958, 0x095F}, {0x09DC, 0x09DD}, {0x09DF, 0x09DF}, {0x0A33, 0x0A33}, {0x0A36, 0x0A36},
      {0x0A59, 0x0A5B}, {0x0A5E, 0x0A5E}, {0x0B5C, 0x0B5D}, {0x0F43, 0x0F43}, {0x0F4D, 0x0F4D},
      {0x0F52, 0x0F52}, {0x0F57, 0x0F57}, {0x0F5C, 0x0F5C}, {0x0F69, 0x0F69}, {0x0F76, 0x0F76},
      {0x0F78, 0x0F78}, {0x0F93, 0x0F93}, {0x0F9D, 0x0F9D}, {0x0FA2, 0x0FA2}, {0x0FA7, 0x0FA7},
      {0x0FAC, 0x0FAC}, {0x0FB9, 0x0FB9}, {0x2ADC, 0x2ADC}, {0xFB1F, 0xFB1F}, {0xFB2A, 0xFB36},
      {0xFB38, 0xFB3C}, {0xFB3E, 0xFB3E}, {0xFB40, 0xFB41}, {0xFB43, 0xFB44}, {0xFB46, 0xFB4E}};
  for (const auto& [first, last] : excluded)
    for (std::uint32_t c = first; c <= last; ++c)
      EXPECT_EQ(composites.count(c), 0u) << "U+" << std::hex << c << " should be excluded";
  for (std::uint32_t kept : {0xFB1Du, 0x0344u, 0x0F73u, 0x0F75u, 0x0F81u, 0x1E08u})
    EXPECT_EQ(composites.count(kept), 1u) << "U+" << std::hex << kept << " should be present";

  const struct {
    char32_t first, second;
    bool found;
    char32_t composite;
  } pairs[] = {{0x00C7, 0x0301, true, 0x1E08},  {0x0065, 0x0301, true, 0x00E9},
               {0x05D9, 0x05B4, true, 0xFB1D},  {0x0308, 0x0301, true, 0x0344},
               {0x0915, 0x093C, false, 0},      {0x0041, 0x0041, false, 0},
               {0x1D157, 0x1D165, false, 0},    {0x10065, 0x0301, false, 0}};
  for (const auto& p : pairs) {
    SCOPED_TRACE(testing::Message() << std::hex << "U+" << std::uint32_t(p.first) << " U+"
                                    << std::uint32_t(p.second));
    char32_t composite = 0;
    EXPECT_EQ(UnicodeComposePair(p.first, p.second, composite), p.found);
    if (p.found) {
      EXPECT_EQ(composite, p.composite);
    }
  }
}

TEST(SupUnicodeTables, DecomposeLooksUpCanonicalDataAndHangul) {
  EXPECT_EQ(UnicodeDecompose(0x00E9, false), U"e\u0301");
  EXPECT_EQ(UnicodeDecompose(0x00E9, true), U"e\u0301");  // no compatibility data
  EXPECT_EQ(UnicodeDecompose(0x212B, false), U"");
  EXPECT_EQ(UnicodeDecompose(0x0041, false), U"");
  EXPECT_EQ(UnicodeDecompose(0xAC00, false), U"\u1100\u1161");
  EXPECT_EQ(UnicodeDecompose(0xAC01, false), U"\u1100\u1161\u11A8");
  EXPECT_EQ(UnicodeDecompose(0xD7A3, false), U"\u1112\u1175\u11C2");
  EXPECT_EQ(UnicodeDecompose(0xD7A4, false), U"");
  EXPECT_EQ(UnicodeDecompose(0x7FFFFFFF, false), U"");
  EXPECT_EQ(DecomposeHangul(0xAC00), U"\u1100\u1161");
}

}  // namespace

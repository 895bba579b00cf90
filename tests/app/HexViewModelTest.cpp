// The hex dump's rows, produced without any widget.
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "app/vkxHexView.h"
#include "tests/support/TempDir.h"

namespace {

// A model over `bytes`, answering through OnGetBinaryData like the main window.
struct BytesModel {
  explicit BytesModel(std::vector<std::uint8_t> b, int blocks = 4) : bytes(std::move(b)) {
    model.setHexBlocks(blocks);
    model.setDataSize(bytes.size());
    model.onGetBinaryData = [this](std::uint64_t first, std::uint64_t count, std::vector<std::uint8_t>& data) {
      for (std::uint64_t i = 0; i < count && first + i < bytes.size(); ++i) data[i] = bytes[first + i];
    };
  }
  std::vector<std::uint8_t> bytes;
  HexDumpModel model;
};

std::vector<std::uint8_t> counting(std::size_t n, int mul = 1, int add = 0) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * mul + add);
  return out;
}

// Runs a command and returns its standard output; empty when it cannot run.
std::string runCommand(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return out;
  char buf[512];
  while (size_t n = std::fread(buf, 1, sizeof buf, pipe.get())) out.append(buf, n);
  return out;
}

}  // namespace

TEST(HexDumpModel, RowCountFollowsSizeAndRowLength) {
  struct Case {
    std::uint64_t size;
    int blocks;
    std::int64_t rows;
  } cases[] = {
      {0, 4, 0},  {1, 4, 1},   {15, 4, 1},  {16, 4, 2},  // an exact multiple ends with an empty row
      {17, 4, 2}, {64, 4, 5},  {64, 2, 9},  {68, 17, 2}, {67, 17, 1},
      {0x1'0000'0000ULL, 2, 0x2000'0001LL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "size " << c.size << ", blocks " << c.blocks);
    HexDumpModel m;
    m.setHexBlocks(c.blocks);
    m.setDataSize(c.size);
    EXPECT_EQ(m.rowCount(), c.rows);
  }
}

TEST(HexDumpModel, BlocksAreClampedToTwoThroughSeventeen) {
  HexDumpModel m;
  EXPECT_EQ(m.hexBlocks(), 4);
  m.setHexBlocks(1);
  EXPECT_EQ(m.hexBlocks(), 2);
  m.setHexBlocks(40);
  EXPECT_EQ(m.hexBlocks(), 17);
  EXPECT_FALSE(m.setHexBlocks(17));
}

TEST(HexDumpModel, SixteenBytesGiveOneFullRowAndAnEmptyOne) {
  BytesModel b({0x48, 0x69, 0x76, 0x65, 0x00, 0x01, 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xA4, 0xE9, 0xFF, 0x30, 0x39});
  ASSERT_EQ(b.model.rowCount(), 2);
  const HexRow r0 = b.model.row(0);
  EXPECT_EQ(r0.pos, QStringLiteral("00000000"));
  EXPECT_EQ(r0.dump, QStringLiteral("48697665 00011F20 7E7F80A4 E9FF3039"));
  EXPECT_EQ(r0.text, QStringLiteral(u"Hive... ~\u007F\u20AC\u00A4\u00E9\u00FF09"));
  const HexRow r1 = b.model.row(1);
  EXPECT_EQ(r1.pos, QStringLiteral("00000010"));
  EXPECT_TRUE(r1.dump.isEmpty());
  EXPECT_TRUE(r1.text.isEmpty());
  // No row outside the dump.
  EXPECT_TRUE(b.model.row(2).pos.isEmpty());
  EXPECT_TRUE(b.model.row(-1).pos.isEmpty());
}

TEST(HexDumpModel, ControlCharactersShowAsPointsButDelShowsItself) {
  BytesModel b({0x41, 0x00, 0x7F});
  const HexRow r = b.model.row(0);
  EXPECT_EQ(r.dump, QStringLiteral("41007F"));
  EXPECT_EQ(r.text, QStringLiteral(u"A.\u007F"));
}

TEST(HexDumpModel, PartialRowsHaveNoTrailingBlank) {
  struct Case {
    std::size_t size;
    const char* dump;
  } cases[] = {
      {1, "00"}, {4, "00010203"}, {5, "00010203 04"}, {8, "00010203 04050607"}, {9, "00010203 04050607 08"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    BytesModel b(counting(c.size));
    EXPECT_EQ(b.model.row(0).dump, QString::fromLatin1(c.dump));
    EXPECT_EQ(b.model.row(0).text.size(), static_cast<qsizetype>(c.size));
  }
}

// The dump column at four blocks is xxd's upper-case hex part, line by line.
TEST(HexDumpModel, DumpOfSixtyFourBytesMatchesXxd) {
  if (runCommand("command -v xxd").empty()) GTEST_SKIP() << "xxd is not installed (package xxd or vim-common)";
  const std::vector<std::uint8_t> bytes = counting(64, 37, 11);
  testsupport::TempDir dir;
  const auto file = dir / "value.bin";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const QStringList lines = QString::fromStdString(runCommand("xxd -u -g4 -c16 '" + file.string() + "'"))
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4);

  BytesModel b(bytes);
  ASSERT_EQ(b.model.rowCount(), 5);
  for (int r = 0; r < 4; ++r) {
    SCOPED_TRACE(r);
    // "00000000: 0B304F6E ...  ...": the offset, ": ", 35 hex characters.
    const QString hexPart = lines[r].mid(10, 35);
    EXPECT_EQ(b.model.row(r).dump, hexPart);
    EXPECT_EQ(b.model.row(r).pos, lines[r].left(8));
  }
  EXPECT_TRUE(b.model.row(4).dump.isEmpty());
}

TEST(HexDumpModel, PinnedDumpOfSixtyFourBytes) {
  // As xxd -u -g4 -c16 prints them, for machines without xxd.
  BytesModel b(counting(64, 37, 11));
  const char* expected[] = {"0B30557A 9FC4E90E 33587DA2 C7EC1136", "5B80A5CA EF14395E 83A8CDF2 173C6186",
                            "ABD0F51A 3F6489AE D3F81D42 678CB1D6", "FB20456A 8FB4D9FE 23486D92 B7DC0126"};
  for (int r = 0; r < 4; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(b.model.row(r).dump, QString::fromLatin1(expected[r]));
  }
}

TEST(HexDumpModel, PosShowsOnlyTheLowThirtyTwoBitsOfTheOffset) {
  HexDumpModel m;
  m.setDataSize(0x1'2345'6789ULL);  // over 4 GiB; no byte is stored
  const std::int64_t row = 0x1'0000'0010LL / 16;
  EXPECT_EQ(m.row(row).pos, QStringLiteral("00000010"));
  EXPECT_EQ(m.row(m.rowCount() - 1).pos, QStringLiteral("23456780"));
  EXPECT_EQ(m.row(m.rowCount() - 1).dump, QStringLiteral("00000000 00000000 00"));  // no event: zeros
}

TEST(HexDumpModel, UnavailableBytesShowTheDisabledCharacters) {
  HexDumpModel m;
  m.setDataSize(6);
  m.onGetBinaryData = [](std::uint64_t, std::uint64_t, std::vector<std::uint8_t>&) {
    ADD_FAILURE() << "the availability event takes precedence";
  };
  m.onGetAvailableData = [](std::uint64_t, std::uint64_t count, std::vector<std::uint8_t>& data,
                            std::vector<bool>& enabled) {
    for (std::uint64_t i = 0; i < count; ++i) {
      data[i] = static_cast<std::uint8_t>(0x61 + i);
      enabled[i] = i % 2 == 0;
    }
  };
  HexRow r = m.row(0);
  EXPECT_EQ(r.dump, QStringLiteral(u"61\u00A4\u00A463\u00A4\u00A4 65\u00A4\u00A4"));
  EXPECT_EQ(r.text, QStringLiteral(u"a\u00A4c\u00A4e\u00A4"));

  m.disabledHexChar = QLatin1Char('?');
  m.disabledTextChar = QLatin1Char('_');
  r = m.row(0);
  EXPECT_EQ(r.dump, QStringLiteral("61??63?? 65??"));
  EXPECT_EQ(r.text, QStringLiteral("a_c_e_"));
}

TEST(HexDumpModel, BytesAHandlerDroppedAreLeftOut) {
  HexDumpModel m;
  m.setDataSize(6);
  m.onGetBinaryData = [](std::uint64_t, std::uint64_t, std::vector<std::uint8_t>& data) {
    data = {0x41, 0x42, 0x43, 0x44, 0x45};  // one short
  };
  EXPECT_EQ(m.row(0).dump, QStringLiteral("41424344 45"));
  EXPECT_EQ(m.row(0).text, QStringLiteral("ABCDE"));
  m.onGetAvailableData = [](std::uint64_t, std::uint64_t, std::vector<std::uint8_t>& data,
                            std::vector<bool>& enabled) {
    data.assign(6, 0x5A);
    enabled.clear();  // no byte says it is there
  };
  EXPECT_TRUE(m.row(0).dump.isEmpty());
}

TEST(HexDumpModel, EachRowAsksForItsOwnBytesOnly) {
  HexDumpModel m;
  m.setHexBlocks(3);
  m.setDataSize(30);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> asked;
  m.onGetBinaryData = [&](std::uint64_t first, std::uint64_t count, std::vector<std::uint8_t>& data) {
    asked.emplace_back(first, count);
    EXPECT_EQ(data.size(), count);
  };
  for (std::int64_t r = 0; r < m.rowCount(); ++r) (void)m.row(r);
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> expected = {{0, 12}, {12, 12}, {24, 6}};
  EXPECT_EQ(asked, expected);
}

TEST(HexDumpModel, RowColourComesFromTheEventWithTheRowsByteRange) {
  HexDumpModel m;
  m.setHexBlocks(2);
  m.setDataSize(20);
  EXPECT_EQ(m.rowColor(1, Qt::black), QColor(Qt::black));
  std::uint64_t first = 0, last = 0;
  m.onGetRowColor = [&](std::uint64_t f, std::uint64_t l, QColor& color) {
    first = f;
    last = l;
    if (f >= 16) color = Qt::red;
  };
  EXPECT_EQ(m.rowColor(1, Qt::black), QColor(Qt::black));
  EXPECT_EQ(first, 8u);
  EXPECT_EQ(last, 15u);
  // The last row's range runs to the row's end, past the data.
  EXPECT_EQ(m.rowColor(2, Qt::black), QColor(Qt::red));
  EXPECT_EQ(last, 23u);
}

TEST(HexDumpModel, NewRowLengthSelectsTheRowHoldingTheSameFirstByte) {
  struct Case {
    std::uint64_t size;
    int oldBlocks, newBlocks;
    std::int64_t oldRow, newRow;
  } cases[] = {
      {1000, 4, 8, 10, 5},   // byte 160
      {1000, 8, 4, 5, 10},   // and back
      {1000, 4, 3, 7, 9},    // byte 112 lies in row 9 of 12-byte rows
      {1000, 2, 17, 30, 3},  // byte 240 in 68-byte rows
      {1000, 4, 4, 7, 7},    // unchanged
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.oldBlocks << " -> " << c.newBlocks << ", row " << c.oldRow);
    HexDumpModel m;
    m.setHexBlocks(c.oldBlocks);
    m.setDataSize(c.size);
    m.selectRow(c.oldRow);
    EXPECT_EQ(m.setHexBlocks(c.newBlocks), c.oldBlocks != c.newBlocks);
    EXPECT_EQ(m.selectedRow(), c.newRow);
  }
  HexDumpModel none;
  none.setDataSize(100);
  none.setHexBlocks(8);
  EXPECT_EQ(none.selectedRow(), -1);
}

TEST(HexDumpModel, SelectionStaysWithinTheRows) {
  HexDumpModel m;
  m.selectRow(3);
  EXPECT_EQ(m.selectedRow(), -1);  // no rows
  m.setDataSize(100);              // 7 rows
  m.selectRow(99);
  EXPECT_EQ(m.selectedRow(), 6);
  m.selectRow(-5);
  EXPECT_EQ(m.selectedRow(), 0);
  m.selectRow(6);
  m.setDataSize(40);  // 3 rows: row 6 is gone
  EXPECT_EQ(m.selectedRow(), -1);
  m.selectRow(2);
  m.setDataSize(0);
  EXPECT_EQ(m.selectedRow(), -1);
}

#include "crashreport/zebCrashUiDetails.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zeb;

namespace {

std::vector<std::string> Captions(const DetailPage& page) {
  std::vector<std::string> out;
  for (const TColumn& c : page.columns) out.push_back((c.upperCase ? "^" : "") + std::string(c.alignment ? " " : "") + c.caption);
  return out;
}

std::vector<std::string> Cells(const DetailPage& page, std::size_t row) { return RowCells(page, page.items.at(row)); }

std::string A(unsigned long long address) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%016llX", address);
  return buffer;
}

}  // namespace

TEST(zebCrashUiDetails, TabsFollowTheSections) {
  ReportFieldList one{{"main thread ($1f4)", "x"}, {"modules", "m"}, {"cpu registers", "r"},
                      {"stack dump", "s"}, {"disassembling", "d"}, {"hardware", "h"}};
  EXPECT_EQ(WantedDetailTabs(one), (std::vector<std::string>{"general", "call stack", "modules", "cpu regs",
                                                             "stack dump", "disasm", "hardware"}));
  ReportFieldList two{{"main thread ($1f4)", "x"}, {"worker ($1f5)", "y"}, {"worker ($1f6)", "z"}, {"processes", "p"}};
  EXPECT_EQ(WantedDetailTabs(two), (std::vector<std::string>{"general", "call stacks", "processes"}));

  CrashUiReport report;
  report.header = {{"date/time", "2026-12-11"}, {"exception message", "boom"}};
  report.sections = two;
  EXPECT_EQ(DetailTabTextOf(0, report).text, "date/time\t2026-12-11\r\nexception message\tboom");
  EXPECT_EQ(DetailTabTextOf(1, report).text,
            ">> main thread ($1f4)\r\nx\r\n\r\n>> worker ($1f5)\r\ny\r\n\r\n>> worker ($1f6)\r\nz");
  EXPECT_EQ(DetailTabTextOf(2, report).text, "p");
  EXPECT_EQ(DetailTabTextOf(2, report).sectionName, "processes");
  EXPECT_EQ(DetailTabTextOf(3, report).text, "");
}

TEST(zebCrashUiDetails, HeaderHasNameAndValueColumns) {
  const DetailPage page = ParseDetailPage(0, "", "date/time\t2026-12-11, 05:00:00\r\ncomputer name\tHOST");
  ASSERT_TRUE(page.IsList());
  EXPECT_EQ(Captions(page), (std::vector<std::string>{"description", "value"}));
  ASSERT_EQ(page.items.size(), 2u);
  EXPECT_EQ(Cells(page, 0), (std::vector<std::string>{"date/time", "2026-12-11, 05:00:00"}));
  EXPECT_EQ(Cells(page, 1), (std::vector<std::string>{"computer name", "HOST"}));
}

TEST(zebCrashUiDetails, StackDumpCutsAtTheFixedColumns) {
  const std::string line1 = A(0x7ffc0010) + "  01 02 03 04 05 06 07 08 - 09 0A 0B 0C 0D 0E 0F 10  ................";
  const std::string line2 = A(0x7ffc0020) + "  41 42 43 44 45 46 47 48 - 49 4A 4B 4C 4D 4E 4F 50  ABCDEFGHIJKLMNOP";
  const DetailPage page = ParseDetailPage(6, "stack dump", line1 + "\r\n" + line2);
  EXPECT_TRUE(page.fixedPitch);
  EXPECT_EQ(Captions(page), (std::vector<std::string>{"address", "data - hexadecimal", "data - chars"}));
  ASSERT_EQ(page.items.size(), 2u);
  EXPECT_EQ(Cells(page, 1), (std::vector<std::string>{A(0x7ffc0020), "41 42 43 44 45 46 47 48 - 49 4A 4B 4C 4D 4E 4F 50",
                                                      "ABCDEFGHIJKLMNOP"}));
}

TEST(zebCrashUiDetails, DisassemblyMarksTheFaultingRow) {
  const std::string text = A(0x401000) + "   push rbp\r\n" + A(0x401001) + " > mov dword ptr [0], 1 ; the write\r\n" +
                           A(0x401008) + "   ret";
  const DetailPage page = ParseDetailPage(7, "disassembling", text);
  EXPECT_EQ(Captions(page), (std::vector<std::string>{"address", "asm code", "comments"}));
  ASSERT_EQ(page.items.size(), 3u);
  EXPECT_EQ(page.items[0].colour, 0u);
  EXPECT_EQ(page.items[1].colour, kRowMarker);
  EXPECT_EQ(page.items[2].colour, 0u);
  const auto cells = Cells(page, 1);
  EXPECT_EQ(cells[0], A(0x401001));
  // The marker stays as a non-breaking space in front of the code.
  EXPECT_EQ(cells[1], "\xC2\xA0 mov dword ptr [0], 1");
  EXPECT_EQ(cells[2], "; the write");
}

TEST(zebCrashUiDetails, DisassemblyWithLineNumbersGetsALineColumn) {
  const std::string text = A(0x401000) + "  12   push rbp\r\n" + A(0x401001) + "  13 > nop\r\n";
  const DetailPage page = ParseDetailPage(7, "disassembling", text);
  EXPECT_EQ(Captions(page), (std::vector<std::string>{"address", "line", "asm code", "comments"}));
  EXPECT_EQ(page.items[1].colour, kRowMarker);
  EXPECT_EQ(Cells(page, 1)[1], "13");
}

TEST(zebCrashUiDetails, CaretTextsTakeTheirHeadersFromTheFirstLine) {
  const DetailPage page = ParseDetailPage(5, "hardware", "^device\t^ count\r\nkeyboard\t1\r\nmouse\t2");
  ASSERT_TRUE(page.IsList());
  ASSERT_EQ(page.columns.size(), 2u);
  EXPECT_EQ(page.columns[0].caption, "device");
  EXPECT_EQ(page.columns[1].caption, "count");
  EXPECT_EQ(page.columns[1].alignment, 1);
  EXPECT_TRUE(page.columns[1].upperCase);
  ASSERT_EQ(page.items.size(), 2u);
  EXPECT_EQ(Cells(page, 1), (std::vector<std::string>{"mouse", "2"}));
}

TEST(zebCrashUiDetails, TheEightyCharacterRuleChoosesPlainText) {
  const std::string longLine(90, 'x');
  struct Case {
    const char* what;
    std::string text;
    bool list;
  } cases[] = {
      {"one long line in six short ones is a table", "a b\r\na c\r\nb d\r\nc e\r\nd f\r\ne g\r\n" + longLine, true},
      {"one long line in five short ones is text", "a b\r\na c\r\nb d\r\nc e\r\nd f\r\n" + longLine, false},
      {"a single line is text", "alone here", false},
      {"long lines only are text", longLine + "\r\n" + longLine, false},
      {"a caret makes a list anyway", "^head\r\n" + longLine, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ParseDetailPage(5, "hardware", c.text).IsList(), c.list);
  }
}

TEST(zebCrashUiDetails, ColumnDetectionFindsSharedBoundaries) {
  std::string text = "alpha  one   x\r\nbeta   two   y\r\ngamma  three z";
  EXPECT_EQ(DetectColumns(text, true), (std::vector<int>{7, 13}));
  // A colon followed by a blank separates as well and turns into a blank.
  std::string regs = "RAX: 0000000000000001\r\nRBX: 0000000000000002\r\nRCX: 0000000000000003";
  EXPECT_EQ(DetectColumns(regs, true), (std::vector<int>{5}));
  EXPECT_EQ(regs.substr(0, 5), "RAX  ");
  // Headings never take part.
  std::string headed = ">> a heading that is much longer than the rest\r\nab cd\r\nef gh";
  EXPECT_EQ(DetectColumns(headed, false), (std::vector<int>{3}));
}

TEST(zebCrashUiDetails, RegistersAndModulesUseDetectedColumns) {
  const DetailPage regs = ParseDetailPage(5, "cpu registers", "RAX: 0000000000000001\r\nRBX: 0000000000000002\r\nRIP: 0000000000401000");
  EXPECT_TRUE(regs.fixedPitch);
  ASSERT_EQ(regs.items.size(), 3u);
  EXPECT_EQ(Cells(regs, 2), (std::vector<std::string>{"RIP", "0000000000401000"}));

  const DetailPage modules = ParseDetailPage(
      2, "modules",
      "7f0000000000  libc.so.6      2.36.0.0  /usr/lib/libc.so.6\r\n"
      "55aa00000000  hivescope      1.0.0.0   /usr/bin/hivescope\r\n"
      "7f1100000000  libQt6Core.so  6.4.2.0   /usr/lib/libQt6Core.so");
  EXPECT_EQ(Captions(modules), (std::vector<std::string>{"^handle", "file name", " version", "path"}));
  ASSERT_EQ(modules.items.size(), 3u);
  EXPECT_EQ(Cells(modules, 2), (std::vector<std::string>{"7F1100000000", "libQt6Core.so", "6.4.2.0", "/usr/lib/libQt6Core.so"}));
}

TEST(zebCrashUiDetails, ProcessesChooseTheirColumnsByCount) {
  const DetailPage four = ParseDetailPage(2, "processes", "0001  init      8  /sbin/init\r\n0002  kthreadd  8  none\r\n0305  bash      8  /bin/bash");
  EXPECT_EQ(four.columns.size(), 4u);
  const DetailPage five = ParseDetailPage(2, "processes",
                                          "0001  init      0  8  /sbin/init\r\n0002  kthreadd  0  8  none\r\n0305  bash      1  8  /bin/bash");
  EXPECT_EQ(five.columns.size(), 5u);
  EXPECT_EQ(Cells(five, 2), (std::vector<std::string>{"0305", "bash", "1", "8", "/bin/bash"}));
}

TEST(zebCrashUiDetails, CallStackFindsItsRolesAndHeadings) {
  const std::string text =
      ">> main thread ($1f4)\r\n" + A(0x401010) + " +010 crashprobe  probe.cpp  120 +2 SegvWrite\r\n" + A(0x401200) +
      " +200 crashprobe  probe.cpp  245 +1 main\r\n\r\n>> worker ($1f5)\r\n" + A(0x7f0000) +
      " +000 libc.so.6   libc.c     99 +0 start";
  const DetailPage page = ParseDetailPage(1, "", text);
  EXPECT_FALSE(page.fixedPitch);
  EXPECT_EQ(Captions(page), (std::vector<std::string>{"^address", "^ rel.", "module", "unit", " line", " rel.", "function"}));
  ASSERT_EQ(page.items.size(), 6u);
  EXPECT_EQ(page.items[0].text, ">> main thread ($1f4)");
  EXPECT_EQ(page.items[0].colour, kRowWhite);
  EXPECT_TRUE(page.items[0].groupStart);
  EXPECT_EQ(Cells(page, 1), (std::vector<std::string>{A(0x401010), "+010", "crashprobe", "probe.cpp", "120", "+2", "SegvWrite"}));
  EXPECT_EQ(page.items[3].text, "");
  EXPECT_EQ(page.items[4].text, ">> worker ($1f5)");
  EXPECT_TRUE(page.items[4].groupStart);  // after an empty row
  EXPECT_EQ(Cells(page, 5).back(), "start");
  EXPECT_EQ(Cells(page, 4)[0], ">>");
}

TEST(zebCrashUiDetails, PendingSectionsUseTheGenericParser) {
  // While the report is completed a page says so; it is no call stack yet.
  const DetailPage page = ParseDetailPage(1, "", ">> will be completed in a moment...");
  EXPECT_FALSE(page.IsList());
  const DetailPage internal = ParseDetailPage(3, "hardware", ">> internal error in ListHardware\r\n");
  EXPECT_TRUE(internal.IsList());
  EXPECT_FALSE(internal.items.front().groupStart);
}

TEST(zebCrashUiDetails, FixedPitchDiffsAreColouredByMarker) {
  const DetailPage page = ParseDetailPage(5, "changes", "!first\r\n+ added\r\n- removed\r\n  context with a blank");
  // "  context" starts with a blank, not "+" or "-": no fixed pitch, a plain table.
  EXPECT_FALSE(page.fixedPitch);
  const DetailPage diff = ParseDetailPage(5, "changes", "!first\r\n+ added\r\n- removed\r\n- gone");
  ASSERT_TRUE(diff.fixedPitch);
  ASSERT_EQ(diff.items.size(), 4u);
  EXPECT_EQ(diff.items[0].text, "first");
  EXPECT_EQ(diff.items[0].colour, kRowBang);
  EXPECT_EQ(diff.items[1].colour, kRowPlus);
  EXPECT_EQ(diff.items[2].colour, 0u);
}

TEST(zebCrashUiDetails, CallStackOfTheWalkerWithFramesWithoutDebugInformation) {
  // As the walker writes it: padded columns, frames of libraries without
  // units and lines, and C++ names with blanks in the last column.
  const std::string text =
      ">> main thread ($54ec)\r\n"
      "00005649ff659553 +033 crashprobe              crashprobe.cpp           118   +0 "
      "(anonymous namespace)::ThrowFromHere(char const*)\r\n"
      "00007f388a35f9b5 +2a5 libQt6Core.so.6.4.2                                       QObject::event(QEvent*)\r\n"
      "00005649ff679e6b +00b crashprobe              zebExceptApplication.cpp  22   +2 "
      "crashreport::ReportingApplication::notify(QObject*, QEvent*)\r\n"
      "00007f388a045248 +078 libc.so.6               libc-start.c              58  +29 __libc_start_call_main";
  const DetailPage page = ParseDetailPage(1, "", text);
  EXPECT_EQ(Captions(page), (std::vector<std::string>{"^address", "^ rel.", "module", "unit", " line", " rel.", "function"}));
  ASSERT_EQ(page.items.size(), 5u);
  EXPECT_EQ(Cells(page, 1), (std::vector<std::string>{"00005649FF659553", "+033", "crashprobe", "crashprobe.cpp", "118", "+0",
                                                      "(anonymous namespace)::ThrowFromHere(char const*)"}));
  EXPECT_EQ(Cells(page, 2), (std::vector<std::string>{"00007F388A35F9B5", "+2A5", "libQt6Core.so.6.4.2", "", "", "",
                                                      "QObject::event(QEvent*)"}));
  EXPECT_EQ(Cells(page, 3).back(), "crashreport::ReportingApplication::notify(QObject*, QEvent*)");
}

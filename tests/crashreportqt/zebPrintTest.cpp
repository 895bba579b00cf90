// Printing the report into a PDF and reading the text back.

#include <QPrinter>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "crashreport/qt/zebPrint.h"
#include "tests/support/TempDir.h"

using namespace zeb;

namespace {

std::string PdfText(const std::string& pdf, bool layout) {
  const std::string command = std::string("pdftotext ") + (layout ? "-layout " : "") + "'" + pdf + "' -";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {};
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

bool HavePdfToText() { return std::system("command -v pdftotext >/dev/null 2>&1") == 0; }

}  // namespace

TEST(zebPrint, LongLinesWrapAndLongReportsTakePages) {
  if (!HavePdfToText()) GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
  testsupport::TempDir dir;
  const std::string pdf = (dir / "report.pdf").string();
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(pdf));
  printer.setPageSize(QPageSize(QPageSize::A4));

  std::string longLine;
  for (int k = 0; longLine.size() < 200; ++k) longLine += "word" + std::to_string(k) + " ";
  longLine.resize(200);
  std::string report = longLine;
  for (int k = 1; k <= 150; ++k) report += "\r\nline " + std::to_string(k);
  const int pages = PrintReportOn(printer, report);
  EXPECT_GT(pages, 1);

  const std::string text = PdfText(pdf, false);
  // Every printed line of the long one ends at a word's end.
  const std::size_t firstBreak = text.find('\n');
  ASSERT_NE(firstBreak, std::string::npos);
  const std::string firstLine = text.substr(0, firstBreak);
  EXPECT_LT(firstLine.size(), 200u);
  EXPECT_EQ(longLine.substr(0, firstLine.size()), firstLine);
  EXPECT_TRUE(longLine[firstLine.size()] == ' ' || firstLine.back() == ' ') << firstLine;
  EXPECT_NE(text.find("line 1\n"), std::string::npos);
  EXPECT_NE(text.find("line 150"), std::string::npos);
  // A form feed between the pages.
  EXPECT_NE(text.find('\f'), text.rfind('\f'));
}

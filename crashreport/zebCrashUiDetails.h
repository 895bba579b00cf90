#pragma once

// The bug-report details: which tabs the report's sections give, the text of
// each tab, and the parsers that turn a tab's text into columns and rows.
// They work on the text alone and never see a widget, so the sanitizer and
// fuzz builds run them on any text.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/zebCrashUiTypes.h"

namespace zeb {

struct TColumn {
  std::string caption;
  int alignment = 0;  // 0 left, 1 right
  bool upperCase = false;
  bool operator==(const TColumn&) const = default;
};

// Row colours are Windows COLORREF values (0x00BBGGRR).
inline constexpr std::uint32_t kRowWhite = 0xFFFFFF;    // heading rows; never shown selected
inline constexpr std::uint32_t kRowMarker = 0xD0D0FF;   // the faulting instruction
inline constexpr std::uint32_t kRowPlus = 0xFFF8F0;
inline constexpr std::uint32_t kRowBang = 0xF4F4FF;

struct TItem {
  std::string text;        // cells separated by tabs; ">>" starts a heading row
  std::uint32_t colour = 0;  // 0: the column stripes
  bool groupStart = false;
  bool operator==(const TItem&) const = default;
};

struct DetailPage {
  std::vector<TColumn> columns;
  std::vector<TItem> items;
  bool fixedPitch = false;
  bool columnHeaders = true;
  // Without columns or rows the page shows its text as it is.
  bool IsList() const { return !columns.empty() && !items.empty(); }
};

// The report's addresses are 16 hexadecimal digits; the stack dump's cells
// start after them and after the 16 bytes of hexadecimal data.
inline constexpr int kAddressDigits = 16;
inline constexpr int kStackDumpDataColumn = kAddressDigits + 2;
inline constexpr int kStackDumpCharsColumn = kStackDumpDataColumn + 51;

// "general", "call stack(s)" and one tab per further section.
std::vector<std::string> WantedDetailTabs(const ReportFieldList& sections);

struct DetailTabText {
  std::string text;
  std::string sectionName;  // empty for the first two tabs
};
// The text of a tab; an index past the tabs gives empty text.
DetailTabText DetailTabTextOf(int tab, const CrashUiReport& report);

// The columns and rows of a tab's text.
DetailPage ParseDetailPage(int tab, std::string_view sectionName, std::string_view text);

// A row's cells as the list shows them: split at its tabs once per column
// (the last column takes the rest), trimmed, upper-cased for upper-case
// columns. A heading row gives ">>" and empty cells.
std::vector<std::string> RowCells(const DetailPage& page, const TItem& item);

// Exposed for tests: the column boundaries (1-based positions) that every
// line of `text` shares; the accepted separators in `text` become blanks.
std::vector<int> DetectColumns(std::string& text, bool ignoreSingleLines);

}  // namespace zeb

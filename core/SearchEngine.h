#pragma once

// The registry search: walks one root from a start key through all its
// sub-keys, depth first, and reports every key name, value name and value
// display text that matches a term as one result row.
//
// The engine knows no window. It reads its settings from SearchOptions and
// reports through a SearchSink: the search window shows the rows and the
// status and dispatches its pending events; tests record; the benchmark
// counts.

#include <cstdint>
#include <string>

#include "core/bwlRegistry.h"
#include "core/kxStringCompare.h"

// Which row a result is, and the icon it shows.
enum TSearchImage : std::uint8_t {
  siKey = 0,         // a key, found by a search in the default view
  siValueName = 1,   // a value whose name matched
  siData = 2,        // a value whose data matched, not a string kind
  siStringData = 3,  // the same for rdString, rdExpandString and rdMultiString
  siKey32 = 4,       // a key, found in the 32-bit view
  siKey64 = 5,       // a key, found in the 64-bit view
};

// One result row: what the list shows and what acting on the row needs.
struct TSearchListItem {
  // Long root name + key path; a key row's path includes the key's own name
  // and has no final "\". NUL characters show as "<0x00>".
  std::string Caption;
  std::string SubItem1;  // the value name as shown; empty for key rows
  std::string SubItem2;  // the data text; empty unless a data row
  bool Checked = true;
  TSearchImage ImageIndex = siKey;

  platform::HKEY RootKey;
  // Value and data rows: the holding key's path, ending "\". Key rows: the
  // found key's path (parent path + name, no final "\").
  std::string KeyPath;
  std::string ValueName;  // raw; empty for key rows
  TRegDataType DataType = rdUnknown;
  std::string DataText;
  bool Failed = false;  // a replace or delete on the row failed
  // The view the row was found in; deleting and replacing act there.
  TRegistryView View = rvDefault;
};

// Which keys the date test lets through; the bounds are inclusive.
enum TSearchDateMode : std::uint8_t {
  sdAnyDate = 0,
  sdNewerThan = 1,  // written at Date1 or later
  sdOlderThan = 2,  // written at Date1 or earlier
  sdBetween = 3,    // Date1 <= written <= Date2 (nothing when Date1 is later)
  sdOutsideOf = 4,  // written <= Date1 or written >= Date2
};

struct SearchOptions {
  // What is compared.
  bool Keys = true;
  bool Values = true;
  bool Data = true;
  // Which value kinds Data compares (ignored with HighSpeed).
  bool Strings = true;
  bool Numerics = true;
  bool Binary = false;
  bool IgnoreCase = false;
  // No status text, no event processing, no kind filter.
  bool HighSpeed = false;
  std::uint8_t CompareMode = cmpSubstring;  // a TCompareMode
  // The date test of key results, with local date-times (days since
  // 30 December 1899, time of day as the fraction), compared to the second.
  TSearchDateMode DateMode = sdAnyDate;
  double Date1 = 0;
  double Date2 = 0;
  // The status text shown per key; "%s" becomes the long root name and path.
  std::string StatusFormat = "Searching %s";
};

class SearchSink {
public:
  virtual ~SearchSink() = default;
  virtual void AddResult(TSearchListItem item) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  // Lets the user interface handle what is pending (never with HighSpeed).
  virtual void ProcessMessages() = 0;
  // Asked once per key taken from the work list; the rows so far stay.
  virtual bool StopRequested() = 0;
  // The term cannot be compared: a regular expression that does not compile
  // (nothing is searched), or one that ran past its step limit (the search
  // ends, keeping its rows). The text is the expression engine's.
  virtual void SearchFailed(const std::string& message) = 0;
};

// Searches root from startPath (a key path with a leading "\"; "\" for the
// whole root) in view and hands the matches to the sink. statusStyle 0 or 1
// shows the status text with the key's path, 2 adds "..." to the path, larger
// values show nothing. Keys that do not open are skipped with everything below
// them; a value or name that cannot be read is skipped alone.
//
// On a 64-bit system (the program running under WOW64) the machine's
// "\SOFTWARE" and "\SOFTWARE\Classes" reached from above are searched once in
// the 32-bit and once in the 64-bit view, everything below them in that same
// view, and the "Wow6432Node" directly under them is not entered.
void RunSearch(SearchSink& sink, const SearchOptions& options, platform::HKEY root, const std::string& startPath,
               TRegistryView view, int statusStyle, const std::string& term);

#pragma once

// Reads .reg text line by line and reports what it says to a sink: key
// sections, value lines (set or delete) and progress. It touches no registry;
// the importer connects a sink that writes, the .reg view one that lists, and
// tests a recorder. All state lives in the parser object.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/RegText.h"

// One complete value line (continuations joined), taken apart.
struct RegFileValueLine {
  // Unquoted, escapes undone; empty for the default value ("@").
  std::string name;
  // "-name", "name=-", "-@" and "@=-" delete.
  bool deleted = false;
  // The text after the name's "=", as it stands (empty when there is none).
  std::string data;
  // The data with a string's escapes undone.
  std::string rawData;
  // The string between the quotes (escapes undone), the decoded text of an
  // expandable string or a multi-string (lines joined by CR LF), else `data`.
  std::string dataText;
  // rdUnknown for a deletion and for data of no known form.
  TRegDataType kind = rdUnknown;
};

class RegFileSink {
public:
  virtual ~RegFileSink() = default;
  // Before each line after the header.
  virtual void regProgress(std::size_t lineIndex, std::size_t lastLineIndex);
  // A section line. `rootName` is the text before the first backslash and
  // `keyPath` the rest from that backslash on; a section without a backslash
  // names a root alone (empty key path). Returns whether the value lines of
  // this section are to be taken.
  virtual bool regKey(std::string_view rootName, std::string_view keyPath, bool deleted) = 0;
  virtual void regValue(const RegFileValueLine& value) = 0;
};

class RegFileParser {
public:
  // `takeValuesBeforeSection`: whether value lines before the first section
  // are reported (a reader that only lists takes them; an importer has no key
  // to put them in).
  RegFileParser(RegFileSink& sink, RegFileVersion version, bool takeValuesBeforeSection);

  // The lines from index 1 on: the header is skipped whatever it holds, the
  // line after it is read like any other. A header alone does nothing.
  void parseLines(std::span<const std::string> lines);
  // One line of a text read a line at a time: the line at `index` of a text
  // whose last line is at `last` (as parseLines would see it).
  void parseLine(std::size_t index, std::size_t last, std::string_view line);
  // One complete value line.
  void processValueLine(std::string_view line);

  // Takes a value line apart (what processValueLine reports).
  static RegFileValueLine splitValueLine(std::string_view line, RegFileVersion version);

private:
  void sectionLine(std::string_view line);
  void otherLine(std::string_view line);

  RegFileSink& sink_;
  RegFileVersion version_;
  bool takeValues_;
  // A value line continued by a final "\" so far.
  std::string pending_;
};

// The version of a .reg file from its first bytes: version 4 when the first
// line begins with "REGEDIT4"; version 5 when the file starts with FF FE and
// its UTF-16LE text begins with "Windows Registry Editor Version 5.00" (or
// with the UTF-8 mark EF BB BF and that header in UTF-8).
// Anything else is no .reg text (false). `lines` receives the text as 8-bit
// lines in the active code page (version 5 decoded from UTF-16LE, version 4
// from RegFile4CodePage), split at CR LF, CR or LF.
bool ReadRegFileLines(std::string_view fileBytes, std::vector<std::string>& lines, RegFileVersion& version);
// Gives the lines of a .reg file one at a time, as ReadRegFileLines would
// split them, reading and decoding the file a piece at a time: a large file
// is never held whole, as text or as lines.
class RegFileLineReader {
public:
  // False when the file cannot be opened or is no .reg text.
  bool open(const std::filesystem::path& fileName);
  RegFileVersion version() const { return version_; }
  // The next line; false after the last one (or when reading failed).
  bool next(std::string& line);
  bool failed() const { return failed_; }

private:
  bool fill();

  std::ifstream in_;
  RegFileVersion version_ = RegFileVersion::unknown;
  std::string text_;        // decoded text not yet given out, from pos_
  std::size_t pos_ = 0;
  std::size_t searched_ = 0;  // text_ before this holds no line break after pos_
  std::string rawCarry_;    // an odd byte of UTF-16 held for the next piece
  std::u16string unitCarry_;  // a high surrogate held for its pair
  bool utf8_ = false;       // version 5 text in UTF-8 (with its mark) instead of UTF-16LE
  bool eof_ = false;
  bool failed_ = false;
};

// The version the header line of a text says (unknown for another line).
RegFileVersion RegFileVersionOfHeader(std::string_view firstLine);

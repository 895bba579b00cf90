#pragma once

// What the main window uses of a text editor control's lines: the change-log
// panes only collect lines, so this is all a pane has to offer. The read-only
// stand-in of the windows and the real control both fulfil it, and one test
// suite runs against each.

#include <QString>

#include <string>
#include <vector>

class CodeEditLines {
public:
  virtual ~CodeEditLines() = default;
  // The number of lines; 0 for a pane that has received nothing.
  virtual int Count() const = 0;
  // Appends one wide line; an empty text appends an empty line.
  virtual void Add(const QString& line) = 0;
  // Appends every 8-bit line (active code page), converted, in order.
  virtual void AddStrings(const std::vector<std::string>& lines) = 0;
  // All lines, each followed by CR LF, as one text.
  virtual QString Text() const = 0;
};

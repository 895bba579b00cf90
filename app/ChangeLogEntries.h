#pragma once

// Where each entry of a change-log pane begins. The panes show the entries
// in the order the changes were made, but undoing must run them the other
// way round: a value changed twice is back to its first data only when the
// later change is undone first. No Qt, so tests drive it with plain lines.

#include <string>
#include <vector>

class ChangeLogEntries {
public:
  // An entry begins at this line of the pane (0-based, after the header).
  void Begin(int line);
  // Entries begun at this line or later were never shown (a change that did
  // not happen); they go.
  void DropFrom(int line);
  int Count() const { return static_cast<int>(starts_.size()); }

  // The pane's lines for an undo: the lines before the first entry (the
  // header), then the entries newest first, each with its lines in order.
  // Starts past the end of `lines` are ignored.
  std::vector<std::string> NewestFirst(const std::vector<std::string>& lines) const;

private:
  std::vector<int> starts_;  // ascending
};

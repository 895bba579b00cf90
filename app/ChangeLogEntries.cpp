#include "app/ChangeLogEntries.h"

#include <algorithm>

void ChangeLogEntries::Begin(int line) {
  // Two calls for one line (an entry that added nothing) make one boundary.
  if (!starts_.empty() && starts_.back() >= line) return;
  starts_.push_back(line);
}

void ChangeLogEntries::DropFrom(int line) {
  starts_.erase(std::lower_bound(starts_.begin(), starts_.end(), line), starts_.end());
}

std::vector<std::string> ChangeLogEntries::NewestFirst(const std::vector<std::string>& lines) const {
  const int size = static_cast<int>(lines.size());
  std::vector<int> starts;
  for (int start : starts_)
    if (start >= 0 && start < size) starts.push_back(start);
  if (starts.empty()) return lines;
  std::vector<std::string> out(lines.begin(), lines.begin() + starts.front());
  out.reserve(lines.size());
  int end = size;
  for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
    out.insert(out.end(), lines.begin() + *it, lines.begin() + end);
    end = *it;
  }
  return out;
}

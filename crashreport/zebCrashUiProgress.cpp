#include "crashreport/zebCrashUiProgress.h"

#include <algorithm>

namespace zeb {

void ProgressAreas::AddArea(std::int64_t weight, std::string text) {
  if (text.empty() && !areas_.empty()) text = areas_.back().text;
  weight = std::max<std::int64_t>(weight, 0);
  areas_.push_back(Area{total_, weight, std::move(text)});
  total_ += weight;
}

void ProgressAreas::ClearAreas() {
  areas_.clear();
  total_ = 0;
  current_ = 0;
}

void ProgressAreas::EnsureArea() {
  if (areas_.empty()) AddArea(1000, kPleaseWaitText);
}

void ProgressAreas::SetPosition(int position) { position_ = std::clamp(position, 0, 1000); }

bool ProgressAreas::SetCurrentArea(int index) {
  const int count = int(areas_.size());
  if (index == current_ || index < 0 || index > count) return false;
  if (index == count) {
    if (count == 0) return false;
    current_ = count - 1;
    position_ = 1000;
  } else {
    current_ = index;
    position_ = 0;
  }
  return true;
}

std::string ProgressAreas::CurrentText() const {
  if (current_ < 0 || std::size_t(current_) >= areas_.size()) return {};
  return areas_[std::size_t(current_)].text;
}

int ProgressAreas::BarPosition() const {
  // A total of 0 (no areas, or only weightless ones) shows an empty bar
  // rather than dividing by zero.
  if (total_ <= 0 || current_ < 0 || std::size_t(current_) >= areas_.size()) return 0;
  const Area& area = areas_[std::size_t(current_)];
  // Scaled before dividing: the area's share divided first would drop to
  // nothing for small weights (weight 3 at 500 would count as 1).
  return int((area.weight * position_ + area.start * 1000) / total_);
}

}  // namespace zeb

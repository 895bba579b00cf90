#pragma once

// The progress window's areas: the work shown is divided into areas, each
// with a weight and a text; the bar stands at the weights of the finished
// areas plus the current area's own progress (0 to 1000) scaled by its
// weight, on a scale of 0 to 1000.

#include <cstdint>
#include <string>
#include <vector>

namespace zeb {

class ProgressAreas {
public:
  struct Area {
    std::int64_t start = 0;
    std::int64_t weight = 0;
    std::string text;
  };

  // An empty text takes the text of the area before.
  void AddArea(std::int64_t weight, std::string text);
  void ClearAreas();
  // The please-wait area a window shown without areas gets.
  void EnsureArea();
  // 0..1000; values outside are clamped.
  void SetPosition(int position);
  int Position() const { return position_; }
  // Ignored when equal to the current one, negative or above the number of
  // areas; the number of areas makes the last area current and full.
  // Whether the current area changed.
  bool SetCurrentArea(int index);
  void AreaDone() { SetCurrentArea(current_ + 1); }
  int CurrentArea() const { return current_; }
  // The text of the current area; empty without areas.
  std::string CurrentText() const;
  // The bar, 0..1000.
  int BarPosition() const;
  const std::vector<Area>& Areas() const { return areas_; }

private:
  std::vector<Area> areas_;
  std::int64_t total_ = 0;
  int current_ = 0;
  int position_ = 0;
};

inline constexpr const char* kPleaseWaitText = "Please wait...";

}  // namespace zeb

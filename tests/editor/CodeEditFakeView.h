#pragma once

// A screen for the editor model with fixed cells that records what the model
// asks of it: invalidated line ranges, scrolls, scroll-bar updates and caret
// placements.

#include <utility>
#include <vector>

#include "editor/CodeEditCore.h"

// CJK ideographs take two cells, combining marks none, everything else one.
class FakeView : public codeedit::CodeEditView {
public:
  bool HasWindow() const override { return window; }
  int CharCells(char16_t Ch) override {
    ++measured;
    if (Ch >= 0x4E00 && Ch <= 0x9FFF)
      return 2;
    if (Ch >= 0x0300 && Ch <= 0x036F)
      return 0;
    return 1;
  }
  void InvalidateAll() override { ++wholeInvalidations; }
  void InvalidateTextLines(int First, int Last) override { textRanges.push_back({First, Last}); }
  void InvalidateGutterLines(int First, int Last) override { gutterRanges.push_back({First, Last}); }
  void ScrollText(int DeltaColumns, int DeltaRows) override { scrolls.push_back({DeltaColumns, DeltaRows}); }
  void UpdateScrollBars() override { ++scrollBarUpdates; }
  bool PlaceCaret() override {
    ++caretPlacements;
    return focused;
  }
  void CaretShapeChanged() override { ++caretShapes; }
  bool HasFocus() const override { return focused; }

  void clear() {
    wholeInvalidations = scrollBarUpdates = caretPlacements = caretShapes = 0;
    textRanges.clear();
    gutterRanges.clear();
    scrolls.clear();
  }

  bool window = true;
  bool focused = true;
  int measured = 0;
  int wholeInvalidations = 0;
  int scrollBarUpdates = 0;
  int caretPlacements = 0;
  int caretShapes = 0;
  std::vector<std::pair<int, int>> textRanges;
  std::vector<std::pair<int, int>> gutterRanges;
  std::vector<std::pair<int, int>> scrolls;
};

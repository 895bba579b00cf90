#pragma once

// The search and sort the sorted string lists share: each list brings its own
// comparison (locale, normalised text, case) and its own items.

#include <string>
#include <utility>
#include <vector>

namespace sup {

// Binary search over items 0..Count-1 in ascending order; CompareAt(i) compares
// item i with the key (-1, 0, 1). Found: Index is an equal item, the first one
// when FirstOfEqual, else the one the search met. Not found: Index is where
// the key belongs.
template <class CompareAt>
bool FindInSorted(int Count, CompareAt compareAt, bool FirstOfEqual, int& Index) {
  bool found = false;
  int low = 0, high = Count - 1;
  while (low <= high) {
    const int mid = low + (high - low) / 2;
    const int c = compareAt(mid);
    if (c < 0) {
      low = mid + 1;
    } else {
      high = mid - 1;
      if (c == 0) {
        found = true;
        if (!FirstOfEqual) low = mid;
      }
    }
  }
  Index = low;
  return found;
}

// Sorts Items[L..R] by Compare(TextOf(a), TextOf(b)). Hoare partition around
// the middle item; the smaller part is sorted by recursion and the larger one
// by the loop, so the depth stays logarithmic whatever the order.
template <class Item, class TextOf, class Compare>
void QuickSortItems(std::vector<Item>& Items, int L, int R, TextOf textOf, Compare compare) {
  while (L < R) {
    int i = L, j = R;
    const std::u16string pivot(textOf(Items[static_cast<std::size_t>(L + (R - L) / 2)]));
    while (i <= j) {
      while (i < R && compare(textOf(Items[static_cast<std::size_t>(i)]), pivot) < 0) ++i;
      while (j > L && compare(textOf(Items[static_cast<std::size_t>(j)]), pivot) > 0) --j;
      if (i <= j) {
        std::swap(Items[static_cast<std::size_t>(i)], Items[static_cast<std::size_t>(j)]);
        ++i;
        --j;
      }
    }
    if (j - L < R - i) {
      if (L < j) QuickSortItems(Items, L, j, textOf, compare);
      L = i;
    } else {
      if (i < R) QuickSortItems(Items, i, R, textOf, compare);
      R = j;
    }
  }
}

}  // namespace sup

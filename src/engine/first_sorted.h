// Keeping the first few of many items, in order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace vantrel {

// Keeps the first `limit` of `items` in the order `before` gives, sorted.
// nth_element then a sort of the kept ones: O(n + k log k). (A
// partial_sort that keeps every item is a heap sort of all of them, several
// times slower than a sort.)
template <typename T, typename Before>
void KeepFirstSorted(size_t limit, std::vector<T>* items, Before before) {
  if (limit < items->size()) {
    std::nth_element(items->begin(), items->begin() + static_cast<std::ptrdiff_t>(limit),
                     items->end(), before);
    items->resize(limit);
  }
  std::sort(items->begin(), items->end(), before);
}

}  // namespace vantrel

// Keeping the first few of many items, in order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
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

// Moves `run` (sorted in the order `before` gives) into `items` (sorted
// likewise), keeping `items` sorted: one pass instead of a sort of all.
template <typename T, typename Before>
void MergeSortedRun(std::vector<T>* run, std::vector<T>* items, Before before) {
  const auto middle = items->insert(items->end(), std::make_move_iterator(run->begin()),
                                    std::make_move_iterator(run->end()));
  std::inplace_merge(items->begin(), middle, items->end(), before);
  run->clear();
}

}  // namespace vantrel

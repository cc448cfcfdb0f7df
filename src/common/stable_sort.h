#pragma once
// Stable merge sort over a vector with a strict "comes before" predicate; equal
// elements keep their order. Used wherever lists are ordered by date text.
#include <cstddef>
#include <utility>
#include <vector>

namespace bv {

template <typename T, typename Less>
void StableMergeSort(std::vector<T>& items, Less less) {
  const std::size_t n = items.size();
  if (n < 2) return;
  std::vector<T> scratch(n);
  for (std::size_t width = 1; width < n; width *= 2) {
    for (std::size_t lo = 0; lo < n; lo += 2 * width) {
      std::size_t mid = lo + width < n ? lo + width : n;
      std::size_t hi = lo + 2 * width < n ? lo + 2 * width : n;
      std::size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) {
        // Take from the right run only when it is strictly before: keeps stability.
        if (less(items[j], items[i]))
          scratch[k++] = std::move(items[j++]);
        else
          scratch[k++] = std::move(items[i++]);
      }
      while (i < mid) scratch[k++] = std::move(items[i++]);
      while (j < hi) scratch[k++] = std::move(items[j++]);
    }
    items.swap(scratch);
  }
}

}  // namespace bv

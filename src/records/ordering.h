#pragma once
// Orders reader results by a text field compared without regard to case, as the lists
// show them. The records are large (several wide strings), so the merge sort runs over
// small keys and the records are moved once into their final order. For date texts of
// the fixed form "YYYY-MM-DD HH:MM:SS" the key is the 14 digits as one number, which
// compares exactly as the texts do; any other text falls back to the text comparison.
#include <cstdint>
#include <string>
#include <vector>

#include "common/stable_sort.h"
#include "common/text.h"

namespace bv {

// The digits of a well-formed date text as a number; false for any other text.
bool DateDigits(const std::wstring& text, std::uint64_t& value);

// The stable ascending (or descending) order of `items` by the text `field(item)`,
// compared with CompareNoCase, as a list of indices.
template <typename Items, typename Field>
std::vector<std::uint32_t> OrderOf(const Items& items, Field field, bool descending = false) {
  struct Key {
    std::uint64_t digits;
    std::uint32_t index;
    bool isDate;
  };
  std::vector<Key> keys(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    keys[i].index = static_cast<std::uint32_t>(i);
    keys[i].isDate = DateDigits(field(items[i]), keys[i].digits);
  }
  auto before = [&](const Key& a, const Key& b) {
    int c;
    if (a.isDate && b.isDate)
      c = a.digits < b.digits ? -1 : (a.digits > b.digits ? 1 : 0);
    else
      c = CompareNoCase(field(items[a.index]), field(items[b.index]));
    return descending ? c > 0 : c < 0;
  };
  StableMergeSort(keys, before);
  std::vector<std::uint32_t> order(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].index;
  return order;
}

// Puts `items` into that order.
template <typename T, typename Field>
void OrderByText(std::vector<T>& items, Field field, bool descending = false) {
  if (items.size() < 2) return;
  const std::vector<std::uint32_t> order = OrderOf(items, field, descending);
  std::vector<T> ordered;
  ordered.reserve(items.size());
  for (std::uint32_t i : order) ordered.push_back(std::move(items[i]));
  items.swap(ordered);
}

}  // namespace bv

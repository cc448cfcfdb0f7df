#pragma once
// Orders reader results by a text field compared without regard to case, as the lists
// show them. The records are large (several wide strings), so the merge sort runs over
// small keys and the records are moved once into their final order. For date texts of
// the fixed form "YYYY-MM-DD HH:MM:SS" the key is the 14 digits as one number, which
// compares exactly as the texts do; any other text falls back to the text comparison.
#include <algorithm>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/stable_sort.h"
#include "common/text.h"

namespace bv {

// The digits of a well-formed date text as a number; false for any other text.
bool DateDigits(std::string_view text, std::uint64_t& value);

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

// Sort keys of records that live in list nodes, taken while each record is built (its
// memory is then still in cache), and the same stable order as OrderOf for them. The
// nodes are then moved into their final lists in that order without copying a record.
// A record costs 20 bytes here (its date digits, node and group) and 8 more while the
// order is sorted.
template <typename T>
class NodeOrder {
 public:
  using Node = typename std::list<T>::iterator;

  // `group` names the list the node goes to (see SpliceSorted).
  void Add(Node node, std::string_view text, std::int32_t group = 0) {
    std::uint64_t digits = 0;
    if (!DateDigits(text, digits)) {
      digits = kNotDate;
      allDates_ = false;
    }
    digits_.push_back(digits);
    nodes_.push_back(node);
    groups_.push_back(group);
  }
  std::size_t size() const { return nodes_.size(); }
  // Room for `count` nodes at once, where the caller knows about how many will come
  // (a vector grown by doubling holds up to twice its nodes, and three times while it moves).
  void Reserve(std::size_t count) {
    digits_.reserve(count);
    nodes_.reserve(count);
    groups_.reserve(count);
  }

  // Moves every added node out of `from`, in ascending (or descending) order of the
  // text `field(record)`, to the end of the list `target(group)`; `visit(record)` (or
  // `visit(record, group)`) runs on each record just before, while it is in cache.
  template <typename Field, typename Target, typename Visit>
  void SpliceSorted(std::list<T>& from, Field field, Target target, Visit visit,
                    bool descending = false) {
    std::vector<std::uint32_t> order(nodes_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
    if (allDates_) {
      SortDates(order, descending);
    } else {
      auto before = [&](std::uint32_t a, std::uint32_t b) {
        int c;
        if (digits_[a] != kNotDate && digits_[b] != kNotDate)
          c = digits_[a] < digits_[b] ? -1 : (digits_[a] > digits_[b] ? 1 : 0);
        else
          c = CompareNoCase(field(*nodes_[a]), field(*nodes_[b]));
        return descending ? c > 0 : c < 0;
      };
      StableMergeSort(order, before);
    }
    std::vector<std::uint64_t>().swap(digits_);
    for (const std::uint32_t i : order) {
      const Node node = nodes_[i];
      if constexpr (std::is_invocable_v<Visit&, T&, std::int32_t>)
        visit(*node, groups_[i]);
      else
        visit(*node);
      std::list<T>& to = target(groups_[i]);
      to.splice(to.end(), from, node);
    }
    std::vector<Node>().swap(nodes_);
    std::vector<std::int32_t>().swap(groups_);
    allDates_ = true;
  }

 private:
  // Date digits are below 10^14 (< 2^47); any other text is marked with this.
  static constexpr std::uint64_t kNotDate = ~std::uint64_t{0};

  // A stable radix sort of the indices by their date digits in three passes of 16 bits:
  // the merge sort's order without its mispredicted comparisons.
  void SortDates(std::vector<std::uint32_t>& order, bool descending) const {
    std::vector<std::uint32_t> scratch(order.size());
    std::vector<std::uint32_t> count(65537);
    for (int shift = 0; shift < 48; shift += 16) {
      std::fill(count.begin(), count.end(), 0);
      auto digit = [&](std::uint32_t i) {
        const std::uint32_t d = static_cast<std::uint32_t>((digits_[i] >> shift) & 0xFFFF);
        return descending ? 0xFFFF - d : d;
      };
      for (const std::uint32_t i : order) ++count[digit(i) + 1];
      for (std::size_t k = 1; k < count.size(); ++k) count[k] += count[k - 1];
      for (const std::uint32_t i : order) scratch[count[digit(i)]++] = i;
      order.swap(scratch);
    }
  }

  std::vector<std::uint64_t> digits_;  // per node: its date digits, or kNotDate
  std::vector<Node> nodes_;
  std::vector<std::int32_t> groups_;
  bool allDates_ = true;
};

}  // namespace bv

#pragma once
// Orders reader results by a text field compared without regard to case, as the lists
// show them. The records are large (several wide strings), so the merge sort runs over
// small keys and the records are moved once into their final order. For date texts of
// the fixed form "YYYY-MM-DD HH:MM:SS" the key is the 14 digits as one number, which
// compares exactly as the texts do; any other text falls back to the text comparison.
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
template <typename T>
class NodeOrder {
 public:
  using Node = typename std::list<T>::iterator;

  // `group` names the list the node goes to (see SpliceSorted).
  void Add(Node node, std::string_view text, std::int32_t group = 0) {
    Key key;
    key.index = static_cast<std::uint32_t>(nodes_.size());
    key.isDate = DateDigits(text, key.digits);
    allDates_ = allDates_ && key.isDate;
    keys_.push_back(key);
    nodes_.push_back({node, group});
  }
  std::size_t size() const { return nodes_.size(); }

  // Moves every added node out of `from`, in ascending (or descending) order of the
  // text `field(record)`, to the end of the list `target(group)`; `visit(record)` (or
  // `visit(record, group)`) runs on each record just before, while it is in cache.
  template <typename Field, typename Target, typename Visit>
  void SpliceSorted(std::list<T>& from, Field field, Target target, Visit visit,
                    bool descending = false) {
    if (allDates_) {
      SortDates(descending);
    } else {
      auto before = [&](const Key& a, const Key& b) {
        int c;
        if (a.isDate && b.isDate)
          c = a.digits < b.digits ? -1 : (a.digits > b.digits ? 1 : 0);
        else
          c = CompareNoCase(field(*nodes_[a.index].node), field(*nodes_[b.index].node));
        return descending ? c > 0 : c < 0;
      };
      StableMergeSort(keys_, before);
    }
    for (const Key& key : keys_) {
      const Placed& p = nodes_[key.index];
      if constexpr (std::is_invocable_v<Visit&, T&, std::int32_t>)
        visit(*p.node, p.group);
      else
        visit(*p.node);
      std::list<T>& to = target(p.group);
      to.splice(to.end(), from, p.node);
    }
    keys_.clear();
    nodes_.clear();
    allDates_ = true;
  }

 private:
  struct Key {
    std::uint64_t digits = 0;
    std::uint32_t index = 0;
    bool isDate = false;
  };
  struct Placed {
    Node node;
    std::int32_t group;
  };

  // Date digits are below 10^14 (< 2^47): a stable radix sort in three passes of 16
  // bits gives the merge sort's order without its mispredicted comparisons.
  void SortDates(bool descending) {
    std::vector<Key> scratch(keys_.size());
    for (int shift = 0; shift < 48; shift += 16) {
      std::vector<std::uint32_t> count(65537, 0);
      auto digit = [&](const Key& k) {
        const std::uint32_t d = static_cast<std::uint32_t>((k.digits >> shift) & 0xFFFF);
        return descending ? 0xFFFF - d : d;
      };
      for (const Key& k : keys_) ++count[digit(k) + 1];
      for (std::size_t i = 1; i < count.size(); ++i) count[i] += count[i - 1];
      for (const Key& k : keys_) scratch[count[digit(k)]++] = k;
      keys_.swap(scratch);
    }
  }

  std::vector<Key> keys_;
  std::vector<Placed> nodes_;
  bool allDates_ = true;
};

}  // namespace bv

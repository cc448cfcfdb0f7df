#pragma once
// The keys of the live records that a deleted-row pass compares its readings with: a
// carved row that repeats a live record is an old copy of it, not a deleted one.
// A key is a tuple of views into a live record (texts and numbers, made by `keyOf`);
// what is kept of each record is a 64-bit hash of its key and the record's address,
// sorted at the first lookup. A lookup compares the whole key of every record whose
// hash matches, so the answer is exact. The records must stay where they are, unchanged,
// while the keys are in use.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace bv {

namespace live_keys_detail {

inline std::uint64_t Mix(std::uint64_t h, std::uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  return h;
}

inline std::uint64_t HashOne(std::string_view text) {
  return std::hash<std::string_view>()(text);
}

template <typename Number, typename = std::enable_if_t<std::is_integral_v<Number>>>
std::uint64_t HashOne(Number n) {
  std::uint64_t x = static_cast<std::uint64_t>(n) * 0xFF51AFD7ED558CCDull;
  return x ^ (x >> 33);
}

template <typename... Parts>
std::uint64_t HashKey(const std::tuple<Parts...>& key) {
  return std::apply(
      [](const auto&... part) {
        std::uint64_t h = 0;
        ((h = Mix(h, HashOne(part))), ...);
        return h;
      },
      key);
}

inline std::uint64_t HashKey(std::string_view key) {
  return HashOne(key);
}

}  // namespace live_keys_detail

template <typename Record, typename KeyOf>
class LiveKeys {
 public:
  using Key = std::invoke_result_t<const KeyOf&, const Record&>;

  explicit LiveKeys(KeyOf keyOf) : keyOf_(std::move(keyOf)) {}
  void Reserve(std::size_t count) { entries_.reserve(count); }
  // Adds every record of a map whose values are lists of records (conversations, chats).
  template <typename ListMap>
  void AddLists(const ListMap& lists) {
    std::size_t count = entries_.size();
    for (const auto& entry : lists) count += entry.second.size();
    entries_.reserve(count);
    for (const auto& entry : lists)
      for (const Record& record : entry.second) Add(record);
  }
  void Add(const Record& record) {
    entries_.emplace_back(live_keys_detail::HashKey(keyOf_(record)), &record);
    sorted_ = false;
  }
  bool Contains(const Key& key) {
    if (!sorted_) {
      std::sort(entries_.begin(), entries_.end());
      sorted_ = true;
    }
    const std::uint64_t hash = live_keys_detail::HashKey(key);
    auto it = std::lower_bound(entries_.begin(), entries_.end(), hash,
                               [](const Entry& e, std::uint64_t h) { return e.first < h; });
    for (; it != entries_.end() && it->first == hash; ++it)
      if (keyOf_(*it->second) == key) return true;
    return false;
  }

 private:
  using Entry = std::pair<std::uint64_t, const Record*>;
  KeyOf keyOf_;
  std::vector<Entry> entries_;
  bool sorted_ = true;
};

}  // namespace bv

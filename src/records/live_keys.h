#pragma once
// The keys of the live records that a deleted-row pass compares its readings with: a
// carved row that repeats a live record is an old copy of it, not a deleted one.
// Keys are views into the live records (tuples of string_view and numbers), gathered
// in a vector and sorted at the first lookup: no text is copied, and one record costs
// one small entry instead of a tree node with copies of its texts. The records must
// stay where they are, unchanged, while the keys are in use.
#include <algorithm>
#include <utility>
#include <vector>

namespace bv {

template <typename Key>
class LiveKeys {
 public:
  void Reserve(std::size_t count) { keys_.reserve(count); }
  void Add(Key key) {
    keys_.push_back(std::move(key));
    sorted_ = false;
  }
  bool Contains(const Key& key) {
    if (!sorted_) {
      std::sort(keys_.begin(), keys_.end());
      sorted_ = true;
    }
    return std::binary_search(keys_.begin(), keys_.end(), key);
  }

 private:
  std::vector<Key> keys_;
  bool sorted_ = true;
};

}  // namespace bv

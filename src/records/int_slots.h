#pragma once
// A table from 32-bit row keys (Z_PK, handle ids, session ids) to small values. Keys of
// iOS stores are mostly dense row numbers, so they index a vector directly when their
// range is small next to their count; otherwise a hash table holds them. A missing key
// reads as a value-initialised T. Not thread-safe.
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace bv {

template <typename T>
class IntSlots {
 public:
  // `keys` are the keys that will be used (any order, repeats allowed).
  template <typename Keys>
  explicit IntSlots(const Keys& keys) {
    std::int64_t lo = 0, hi = -1;
    std::size_t n = 0;
    for (std::int32_t k : keys) {
      if (n++ == 0) lo = hi = k;
      if (k < lo) lo = k;
      if (k > hi) hi = k;
    }
    const std::int64_t range = hi - lo + 1;
    dense_ = n == 0 || (range <= static_cast<std::int64_t>(8 * n + 65536) && range <= (1 << 24));
    if (dense_ && n != 0) {
      base_ = lo;
      slots_.resize(static_cast<std::size_t>(range));
    }
  }

  T& operator[](std::int32_t key) {
    if (dense_) {
      const std::int64_t i = static_cast<std::int64_t>(key) - base_;
      if (i >= 0 && i < static_cast<std::int64_t>(slots_.size()))
        return slots_[static_cast<std::size_t>(i)];
      return spill_[key];  // a key that was not announced
    }
    return spill_[key];
  }

 private:
  bool dense_ = true;
  std::int64_t base_ = 0;
  std::vector<T> slots_;
  std::unordered_map<std::int32_t, T> spill_;
};

}  // namespace bv

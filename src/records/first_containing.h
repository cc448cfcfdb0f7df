#pragma once
// Answers "which is the first text, in list order, that contains this needle as an
// exact, case-sensitive substring?" for many needles over one fixed list of texts
// (address-book phone texts, group-member JIDs). The answer equals a walk over the
// list with a substring search per text, but each distinct needle is answered once
// (cached) and, over a large list, through a 4-character gram index instead of a
// scan of every text, so messages × contacts searches never happen.
// Not thread-safe (the cache fills on lookup).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace bv {

class FirstContaining {
 public:
  // `texts` is copied; their order is the order of the answer.
  explicit FirstContaining(const std::vector<std::string_view>& texts);

  // Index of the first text containing `needle`, or -1. An empty needle is contained
  // in every text, the empty ones included.
  std::ptrdiff_t Find(std::string_view needle);

  std::size_t size() const { return starts_.size(); }

 private:
  static constexpr std::size_t kGram = 4;
  std::ptrdiff_t Search(std::string_view needle);
  std::ptrdiff_t SearchByGrams(std::string_view needle);
  std::ptrdiff_t TextAt(std::size_t offset) const;
  std::uint32_t BucketOf(const char* gram) const;
  void BuildIndex();

  // All texts joined, each followed by a NUL; needles never hold a NUL, so a match
  // never spans two texts.
  std::string joined_;
  std::vector<std::size_t> starts_;  // offset of each text in joined_
  bool indexed_ = false;
  unsigned bucketBits_ = 0;
  std::vector<std::uint32_t> bucketStart_;  // size 2^bits + 1
  std::vector<std::uint32_t> positions_;    // gram start offsets, ascending per bucket
  // Looked up by view, so a repeated needle costs no allocation.
  struct ViewHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view v) const { return std::hash<std::string_view>()(v); }
  };
  std::unordered_map<std::string, std::ptrdiff_t, ViewHash, std::equal_to<>> cache_;
};

}  // namespace bv

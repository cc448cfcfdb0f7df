#include "records/first_containing.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace bv {

namespace {
// Below this many characters a plain scan per needle is cheaper than an index.
constexpr std::size_t kIndexThreshold = 16384;
}  // namespace

FirstContaining::FirstContaining(const std::vector<std::string_view>& texts) {
  std::size_t total = 0;
  for (auto t : texts) total += t.size() + 1;
  joined_.reserve(total);
  starts_.reserve(texts.size());
  for (auto t : texts) {
    starts_.push_back(joined_.size());
    joined_.append(t);
    joined_.push_back('\0');
  }
}

std::ptrdiff_t FirstContaining::Find(std::string_view needle) {
  if (starts_.empty()) return -1;
  if (needle.empty()) return 0;
  auto it = cache_.find(needle);
  if (it != cache_.end()) return it->second;
  std::ptrdiff_t answer = Search(needle);
  cache_.emplace(std::string(needle), answer);
  return answer;
}

std::ptrdiff_t FirstContaining::TextAt(std::size_t offset) const {
  auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
  return static_cast<std::ptrdiff_t>(it - starts_.begin()) - 1;
}

std::ptrdiff_t FirstContaining::Search(std::string_view needle) {
  if (needle.find('\0') != std::string_view::npos) {
    // Cannot come from SQLite text, but a NUL would match across the separators.
    for (std::size_t i = 0; i < starts_.size(); ++i) {
      const std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] - 1 : joined_.size() - 1;
      std::string_view text(joined_.data() + starts_[i], end - starts_[i]);
      if (text.find(needle) != std::string_view::npos) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
  }
  if (needle.size() >= kGram && joined_.size() >= kIndexThreshold &&
      joined_.size() < std::numeric_limits<std::uint32_t>::max()) {
    if (!indexed_) BuildIndex();
    return SearchByGrams(needle);
  }
  const std::size_t at = std::string_view(joined_).find(needle);
  return at == std::string_view::npos ? -1 : TextAt(at);
}

std::uint32_t FirstContaining::BucketOf(const char* gram) const {
  std::uint64_t h = 0;
  for (std::size_t i = 0; i < kGram; ++i)
    h = (h ^ static_cast<std::uint32_t>(gram[i])) * 0x100000001b3ULL + 0x9e3779b97f4a7c15ULL;
  h ^= h >> 29;
  h *= 0xbf58476d1ce4e5b9ULL;
  return static_cast<std::uint32_t>(h >> (64 - bucketBits_));
}

void FirstContaining::BuildIndex() {
  indexed_ = true;
  const std::size_t n = joined_.size();
  // Up to 2^16 buckets: their counters stay in cache while the texts stream past, and
  // a bucket still holds few grams (each candidate costs one comparison).
  bucketBits_ = 10;
  while (bucketBits_ < 16 && (std::size_t{1} << bucketBits_) < n) ++bucketBits_;
  const std::size_t buckets = std::size_t{1} << bucketBits_;
  bucketStart_.assign(buckets + 1, 0);
  const char* data = joined_.data();
  // Grams holding a separator can never match a needle and are left out.
  auto usable = [&](std::size_t i) {
    for (std::size_t k = 0; k < kGram; ++k)
      if (data[i + k] == '\0') return false;
    return true;
  };
  // Two passes hash every gram twice rather than keep each gram's bucket (four bytes a
  // character) beside the positions while they are filled.
  for (std::size_t i = 0; i + kGram <= n; ++i)
    if (usable(i)) ++bucketStart_[BucketOf(data + i) + 1];
  for (std::size_t b = 0; b < buckets; ++b) bucketStart_[b + 1] += bucketStart_[b];
  positions_.assign(bucketStart_[buckets], 0);
  std::vector<std::uint32_t> fill(bucketStart_.begin(), bucketStart_.end() - 1);
  for (std::size_t i = 0; i + kGram <= n; ++i)
    if (usable(i)) positions_[fill[BucketOf(data + i)]++] = static_cast<std::uint32_t>(i);
}

std::ptrdiff_t FirstContaining::SearchByGrams(std::string_view needle) {
  // The rarest gram of the needle gives the fewest candidates; its positions are in
  // ascending order, so the first verified candidate is the earliest match overall.
  std::size_t bestOffset = 0;
  std::uint32_t bestBucket = 0;
  std::uint32_t bestCount = std::numeric_limits<std::uint32_t>::max();
  for (std::size_t k = 0; k + kGram <= needle.size(); ++k) {
    const std::uint32_t b = BucketOf(needle.data() + k);
    const std::uint32_t count = bucketStart_[b + 1] - bucketStart_[b];
    if (count < bestCount) {
      bestCount = count;
      bestBucket = b;
      bestOffset = k;
      if (count == 0) return -1;
    }
  }
  const std::size_t n = joined_.size();
  for (std::uint32_t j = bucketStart_[bestBucket]; j < bucketStart_[bestBucket + 1]; ++j) {
    const std::size_t p = positions_[j];
    if (p < bestOffset) continue;
    const std::size_t start = p - bestOffset;
    if (start + needle.size() > n) continue;
    if (std::memcmp(joined_.data() + start, needle.data(), needle.size()) == 0)
      return TextAt(start);
  }
  return -1;
}

}  // namespace bv

#pragma once
// Usage counters: how often a few user actions happened in this run, under
// short codes. They live in memory only; nothing is sent or stored. Header-only
// so that any engine part can count without a link dependency on this folder.
// Thread-safe.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace bv::stats {

class UsageCounters {
 public:
  void Increment(const std::string& code, std::uint32_t by = 1) {
    std::lock_guard<std::mutex> hold(lock_);
    counts_[code] += by;
  }
  std::uint32_t Count(const std::string& code) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = counts_.find(code);
    return it == counts_.end() ? 0 : it->second;
  }
  std::map<std::string, std::uint32_t> Snapshot() const {
    std::lock_guard<std::mutex> hold(lock_);
    return counts_;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    counts_.clear();
  }

 private:
  mutable std::mutex lock_;
  std::map<std::string, std::uint32_t> counts_;
};

// The counters of this process.
inline UsageCounters& Usage() {
  static UsageCounters counters;
  return counters;
}

// Short code of one exported item of a result category (ids 1 to 14 of the
// selection): "E01" for Camera Roll up to "E14" for Safari bookmarks; empty outside
// that range.
inline std::string ExportCode(std::int32_t categoryId) {
  if (categoryId < 1 || categoryId > 14) return {};
  std::string code = "E";
  code += static_cast<char>('0' + categoryId / 10);
  code += static_cast<char>('0' + categoryId % 10);
  return code;
}

}  // namespace bv::stats

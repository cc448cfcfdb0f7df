#pragma once
// The progress link that the data source hands to a reader: the scan page's callback
// and the catalogue's position and unit as they stand when the read starts. Readers
// report positions relative to that start and never move the catalogue's position
// themselves; the data source makes its own end advance afterwards.
#include <cstdint>
#include <string>

namespace bv {

// The two callbacks of the progress protocol, declared here, in the lowest layer that
// reports progress; the catalogue and everything above include this header.
// Progress report: (user data, position in percent). 0 goes on, non-zero stops and
// becomes the operation's result.
using ProgressCallback = std::int32_t (*)(void* user, std::int32_t percent);
// Copy report: (user data, percent, status, destination path). Same answer.
using CopyCallback = std::int32_t (*)(void* user, std::int32_t percent, std::int32_t status,
                                      const std::string& destination);

struct ProgressSink {
  ProgressCallback callback = nullptr;  // may be absent
  void* user = nullptr;
  std::int32_t progress = 0;  // catalogue position at the start of the read
  std::int32_t step = 0;      // catalogue weight unit of one operation

  bool Present() const { return callback != nullptr; }
  // Reports `position`; returns the callback's answer (0 without a callback).
  std::int32_t Report(std::int32_t position) const {
    return callback != nullptr ? callback(user, position) : 0;
  }
};

}  // namespace bv

#pragma once
// Result codes of every engine operation: 32-bit signed, 0 = success.
#include <cstdint>

namespace bv {

using Result = std::int32_t;

inline constexpr Result kSuccess = 0;
inline constexpr Result kStopped = 2;            // the progress callback asked to stop
inline constexpr Result kShortRead = 30;         // a file shorter than what detection reads
inline constexpr Result kInvalidParameter = 87;  // missing or unusable file, folder or process
inline constexpr Result kQueryFailed = 1006;     // a database statement reported an error
inline constexpr Result kMbdbUnopenable = 6009;  // Manifest.mbdb exists but cannot be opened
inline constexpr Result kWrongPassword = -110;   // the decryption tool refused the password
inline constexpr Result kScanError = -1;         // handed to the scan page's own error path

}  // namespace bv

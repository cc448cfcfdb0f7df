#pragma once
// Our layer in place of the operating system's interfaces: folders, time zone,
// mounted volumes, file copies and error texts. Nothing above src/platform calls an OS
// API for these. All functions are thread-safe.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/utf8.h"

namespace bv::platform {

namespace fs = std::filesystem;

// $XDG_DATA_HOME, else $HOME/.local/share (Linux); ~/Library/Application Support (macOS).
// Empty when neither variable is set.
fs::path AppDataFolder();
// Where the phone-sync software keeps its backups for this user.
fs::path BackupRoot();
// Our work folder: application data + "TarnwickBackvault".
fs::path WorkFolder();
// Folder of the running executable.
fs::path ExecutableFolder();

// Standard-time offset of the local zone in minutes west of UTC (UTC+8 gives -480),
// without daylight saving.
std::int32_t TimeZoneBiasMinutes();
// Formats seconds since 1970 (UTC) as local time "YYYY-MM-DD HH:MM:SS". False when
// the platform cannot convert the value.
bool FormatLocalTime(std::int64_t unixSeconds, std::string& out);
// Same, as UTC.
bool FormatUtcTime(std::int64_t unixSeconds, std::string& out);
// Seconds since 1970 of a broken-down UTC date (no range checks beyond the calendar).
std::int64_t UtcToUnix(int year, int month, int day, int hour, int minute, int second);

struct Volume {
  fs::path mountPoint;
  std::string device;
  std::uint64_t freeBytes = 0;
};
// Mounted file systems backed by real devices, with their free space.
std::vector<Volume> MountedVolumes();
// Free bytes on the volume holding `path`; 0 when unknown.
std::uint64_t FreeSpace(const fs::path& path);

// Text of a platform error code, in US English.
std::string ErrorText(int code);

// Writes all of `data` to a file descriptor, retrying short writes and interruptions.
// False (errno set) when a write fails.
bool WriteAll(int fd, const void* data, std::size_t size);

// Copies a file, replacing the destination. Returns 0 or the platform error code.
int CopyFileReplace(const fs::path& from, const fs::path& to);
// Size of a file in bytes (64-bit); -1 with `error` set when it cannot be read.
std::int64_t FileSize(const fs::path& path, int* error = nullptr);

}  // namespace bv::platform

#include "platform/platform.h"

#include "platform/files.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>

namespace bv::platform {

namespace {
std::mutex g_timeMutex;  // tzset/localtime read process-wide state

// Re-reads the zone only when TZ changed since the last look: tzset with TZ unset
// stats /etc/localtime on every call, which a reader converting many dates would pay.
// Call with g_timeMutex held.
void RefreshZone() {
  static std::string last;
  static bool first = true;
  const char* tz = std::getenv("TZ");
  std::string now = tz ? std::string("=") + tz : std::string();
  if (first || now != last) {
    tzset();
    last = std::move(now);
    first = false;
  }
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// Undoes the octal escapes /proc/self/mounts uses for blanks and the like.
std::string UnescapeMount(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3') {
      int v = (s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0');
      out.push_back(static_cast<char>(v));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}
}  // namespace

fs::path AppDataFolder() {
#ifdef __APPLE__
  std::string home = Env("HOME");
  if (home.empty()) return {};
  return fs::path(home) / "Library" / "Application Support";
#else
  std::string xdg = Env("XDG_DATA_HOME");
  if (!xdg.empty()) return fs::path(xdg);
  std::string home = Env("HOME");
  if (home.empty()) return {};
  return fs::path(home) / ".local" / "share";
#endif
}

fs::path BackupRoot() {
  fs::path base = AppDataFolder();
  if (base.empty()) return {};
#ifdef __APPLE__
  return base / "MobileSync" / "Backup";
#else
  return base / "Apple Computer" / "MobileSync" / "Backup";
#endif
}

fs::path WorkFolder() {
  fs::path base = AppDataFolder();
  if (base.empty()) return {};
  return base / "TarnwickBackvault";
}

fs::path ExecutableFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec);
  return exe.parent_path();
}

std::int32_t TimeZoneBiasMinutes() {
  std::lock_guard<std::mutex> lock(g_timeMutex);
  RefreshZone();
  // POSIX `timezone` is seconds west of UTC for standard time: the bias we need.
  return static_cast<std::int32_t>(timezone / 60);
}

bool FormatLocalTime(std::int64_t unixSeconds, std::string& out) {
  std::tm tm{};
  {
    std::lock_guard<std::mutex> lock(g_timeMutex);
    RefreshZone();
    time_t t = static_cast<time_t>(unixSeconds);
    if (!localtime_r(&t, &tm)) return false;
  }
  char buf[64];
  if (std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm) == 0) return false;
  out = buf;
  return true;
}

bool FormatUtcTime(std::int64_t unixSeconds, std::string& out) {
  std::tm tm{};
  time_t t = static_cast<time_t>(unixSeconds);
  if (!gmtime_r(&t, &tm)) return false;
  char buf[64];
  if (std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm) == 0) return false;
  out = buf;
  return true;
}

std::int64_t UtcToUnix(int year, int month, int day, int hour, int minute, int second) {
  // Days from civil (proleptic Gregorian), valid for any year.
  std::int64_t y = year - (month <= 2 ? 1 : 0);
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  std::int64_t yoe = y - era * 400;
  std::int64_t m = month;
  std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  std::int64_t days = era * 146097 + doe - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::vector<Volume> MountedVolumes() {
  std::vector<Volume> out;
  std::ifstream in("/proc/self/mounts");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string device, mount, type;
    if (!(ls >> device >> mount >> type)) continue;
    // Real devices only: block devices, not proc, tmpfs, overlays of containers etc.
    if (device.rfind("/dev/", 0) != 0) continue;
    Volume v;
    v.device = UnescapeMount(device);
    v.mountPoint = UnescapeMount(mount);
    v.freeBytes = FreeSpace(v.mountPoint);
    out.push_back(std::move(v));
  }
  return out;
}

std::uint64_t FreeSpace(const fs::path& path) {
  struct statvfs st {};
  if (statvfs(path.c_str(), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

std::string ErrorText(int code) {
  // strerror_l with the C locale gives the US-English text whatever the user's locale.
  locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  std::string text;
  if (c) {
    text = strerror_l(code, c);
    freelocale(c);
  } else {
    text = "Error " + std::to_string(code);
  }
  return text;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int CopyFileReplace(const fs::path& from, const fs::path& to) {
  // The source is often a file of a backup: never wait on a FIFO or a device node.
  ReadOnlyFile in;
  if (const int rc = in.Open(from); rc != 0) return rc == kNotRegularFile ? ENOENT : rc;
  UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!out.Valid()) return errno;
  std::vector<char> buf(1 << 20);
  std::uint64_t offset = 0;
  for (;;) {
    int error = 0;
    const std::int64_t n = in.ReadAt(offset, buf.data(), buf.size(), &error);
    if (n < 0) return error;
    if (n == 0) break;
    if (!WriteAll(out.Get(), buf.data(), static_cast<std::size_t>(n)))
      return errno != 0 ? errno : EIO;
    offset += static_cast<std::uint64_t>(n);
  }
  return out.Close();
}

std::int64_t FileSize(const fs::path& path, int* error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (error) *error = errno;
    return -1;
  }
  if (error) *error = 0;
  return static_cast<std::int64_t>(st.st_size);
}

}  // namespace bv::platform

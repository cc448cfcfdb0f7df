#include "platform/private_folder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>

namespace bv::platform {

namespace fs = std::filesystem;

namespace {

std::atomic<std::uint64_t> g_counter{0};

bool Digits(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Makes `folder` and any missing levels above it; the levels we make are ours alone.
int MakeFolders(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return 0;
  if (folder.has_parent_path() && folder.parent_path() != folder) {
    if (const int rc = MakeFolders(folder.parent_path()); rc != 0) return rc;
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  return fs::is_directory(folder, ec) ? 0 : ENOTDIR;
}

}  // namespace

std::string PrivateFolderName(std::string_view prefix, int pid, std::uint64_t startTime,
                              std::uint64_t n) {
  std::string name(prefix);
  name += '-' + std::to_string(pid) + '-' + std::to_string(startTime) + '-' + std::to_string(n);
  return name;
}

bool ParsePrivateFolderName(std::string_view name, std::string_view prefix, int& pid,
                            std::uint64_t& startTime) {
  if (prefix.empty() || name.size() <= prefix.size() + 1 || !name.starts_with(prefix) ||
      name[prefix.size()] != '-')
    return false;
  std::string_view rest = name.substr(prefix.size() + 1);
  std::uint64_t parts[3] = {};
  for (int i = 0; i < 3; ++i) {
    const std::size_t dash = rest.find('-');
    const std::string_view piece = i == 2 ? rest : rest.substr(0, dash);
    if ((i < 2 && dash == std::string_view::npos) || !Digits(piece, parts[i])) return false;
    if (i < 2) rest = rest.substr(dash + 1);
  }
  if (parts[0] == 0 || parts[0] > 0x7fffffff) return false;
  pid = static_cast<int>(parts[0]);
  startTime = parts[1];
  return true;
}

std::optional<std::uint64_t> ProcessStartTime(int pid) {
  if (pid <= 0) return std::nullopt;
#if defined(__linux__)
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buf[1024];
  std::size_t got = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buf + got, sizeof buf - 1 - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
    if (got == sizeof buf - 1) break;
  }
  ::close(fd);
  // "pid (comm) state ppid ...": the command may hold blanks and parentheses, so the
  // fields are counted from the last ')'. The start time is field 22.
  const std::string_view text(buf, got);
  const std::size_t close = text.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(close + 1);
  int field = 2;
  std::size_t at = 0;
  while (at < rest.size()) {
    while (at < rest.size() && rest[at] == ' ') ++at;
    const std::size_t end = rest.find(' ', at);
    const std::string_view piece =
        rest.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    ++field;
    if (field == 22) {
      std::uint64_t value = 0;
      if (!Digits(piece, value)) return std::nullopt;
      return value;
    }
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return std::nullopt;
#else
  if (::kill(pid, 0) == 0 || errno == EPERM) return 0;
  return std::nullopt;
#endif
}

std::unique_ptr<PrivateFolder> PrivateFolder::Create(const fs::path& parent,
                                                     std::string_view prefix, int* error) {
  if (error) *error = 0;
  if (const int rc = MakeFolders(parent); rc != 0) {
    if (error) *error = rc;
    return nullptr;
  }
  const int pid = static_cast<int>(::getpid());
  const std::uint64_t start = ProcessStartTime(pid).value_or(0);
  int last = EEXIST;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const fs::path folder = parent / PrivateFolderName(prefix, pid, start, g_counter++);
    if (::mkdir(folder.c_str(), 0700) == 0) {
      ::chmod(folder.c_str(), 0700);  // whatever the umask left
      return std::unique_ptr<PrivateFolder>(new PrivateFolder(folder));
    }
    last = errno;
    if (last != EEXIST) break;  // a name of ours from a killed run with our pid: try the next
  }
  if (error) *error = last;
  return nullptr;
}

PrivateFolder::~PrivateFolder() {
  std::error_code ec;
  // remove_all never follows links: a link planted inside removes only the link.
  fs::remove_all(path_, ec);
}

std::size_t RemoveStalePrivateFolders(const fs::path& parent, std::string_view prefix) {
  std::size_t removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().native();
    int pid = 0;
    std::uint64_t start = 0;
    if (!ParsePrivateFolderName(name, prefix, pid, start)) continue;
    std::error_code statEc;
    if (!fs::is_directory(fs::symlink_status(it->path(), statEc))) continue;
    const std::optional<std::uint64_t> running = ProcessStartTime(pid);
    if (running && *running == start) continue;  // that run is still going
    std::error_code removeEc;
    if (fs::remove_all(it->path(), removeEc) > 0 && !removeEc) ++removed;
  }
  return removed;
}

}  // namespace bv::platform

#pragma once
// Small helpers for catalogue tests: a temporary folder that removes itself and
// writers for files of a hand-made backup.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support.h"

namespace bv::testing {

inline bool SetImmutable(const std::filesystem::path& p, bool on);

// The shared temporary folder, named after the test, with the wide path that the
// catalogue's interfaces take.
class TempFolder : public bv::test::TempDir {
 public:
  explicit TempFolder(const std::string& tag) : TempDir("bvcat-" + tag) {}
  std::string wide() const { return path().string(); }
};

// Marks a file immutable, so that even root cannot open it for writing: the way to
// prove read-only access when tests run as root. False where the file system lacks it.
inline bool SetImmutable(const std::filesystem::path& p, bool on) {
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

// Makes every file below `folder` unwritable: immutable where possible, else mode 0400.
// False when neither holds for the current user (root on a file system without flags).
inline bool MakeReadOnly(const std::filesystem::path& folder) {
  bool all = true;
  for (auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    std::filesystem::permissions(e.path(), std::filesystem::perms::owner_read);
    if (!SetImmutable(e.path(), true) && ::geteuid() == 0) all = false;
  }
  return all;
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_.c_str(), old_.c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

}  // namespace bv::testing

#pragma once
// A small tmpfs mounted over a folder for the life of the object: a full disk or a
// read-only volume that tests can write to for real. The mount lives in a mount
// namespace private to the test process, so it never shows in the machine's mounts and
// goes with the process even when a test dies. Needs the privilege to mount; where that
// is missing, ok() is false and the test skips.
//
//   test::TempDir dir;                                   // declared first: outlives it
//   test::ScratchMount disk(dir / "out", "size=262144");
//   if (!disk.ok()) GTEST_SKIP() << disk.error();
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace bv::test {

class ScratchMount {
 public:
  ScratchMount(const std::filesystem::path& at, const std::string& options, bool readOnly = false)
      : at_(at) {
    std::error_code ec;
    std::filesystem::create_directories(at, ec);
    if (int e = PrivateNamespace(); e != 0) {
      error_ = std::string("no private mount namespace: ") + std::strerror(e);
      return;
    }
    const unsigned long flags = MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    if (::mount("tmpfs", at.c_str(), "tmpfs", flags, options.c_str()) != 0) {
      error_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~ScratchMount() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;

  bool ok() const { return mounted_; }
  const std::string& error() const { return error_; }

 private:
  // Once per process: our own copy of the mount table, whose changes propagate nowhere.
  static int PrivateNamespace() {
    static const int result = [] {
      if (::unshare(CLONE_NEWNS) != 0) return errno;
      if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return errno;
      return 0;
    }();
    return result;
  }

  std::filesystem::path at_;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace bv::test

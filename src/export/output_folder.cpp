#include "export/output_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include "platform/platform.h"
#include "platform/utf8.h"

namespace bv {

namespace {

// One path piece: no separator, not empty, not "." or "..".
bool IsPiece(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// Hidden, and unguessable so that nothing can be planted under it beforehand.
std::string TemporaryName() {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t seed = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device() ^
           static_cast<std::uint64_t>(::getpid());
  }();
  std::mt19937_64 mix(seed + counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  char name[40];
  std::snprintf(name, sizeof name, ".backvault-%016llx.part",
                static_cast<unsigned long long>(mix()));
  return name;
}

// 0 when something has the name, ENOENT when nothing has, else the error of the look.
int Look(int dirFd, const std::string& name) {
  struct stat st {};
  return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

bool Exists(int dirFd, const std::string& name) {
  return Look(dirFd, name) != ENOENT;
}

// Renames `from` to `to` in one folder unless `to` exists (EEXIST then).
int RenameNoReplace(int dirFd, const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
#endif
  // A file system without the no-replace rename: a hard link claims the name just as
  // atomically.
  if (::linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) == 0) {
    ::unlinkat(dirFd, from.c_str(), 0);
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EMLINK) return errno;
  // Neither (FAT and the like): look, then rename.
  if (Exists(dirFd, to)) return EEXIST;
  return ::renameat(dirFd, from.c_str(), dirFd, to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string NumberedName(std::string_view name, unsigned n) {
  if (n == 0) return std::string(name);
  const fs::path p = platform::PathFromUtf8(name);
  return platform::Utf8FromPath(p.stem()) + "(" + std::to_string(n) + ")" +
         platform::Utf8FromPath(p.extension());
}

// ---- OutputFolder ---------------------------------------------------------------------

OutputFolder::~OutputFolder() {
  if (fd_ >= 0) ::close(fd_);
}

OutputFolder::OutputFolder(OutputFolder&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

Result OutputFolder::OpenRoot(const fs::path& root, OutputFolder& out) {
  std::error_code made;
  fs::create_directories(root, made);
  const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    // A folder that could not be made says more than "no such file".
    return errno == ENOENT && made ? made.value() : errno;
  }
  out = OutputFolder();
  out.fd_ = fd;
  out.path_ = root;
  return kSuccess;
}

Result OutputFolder::Enter(std::string_view name, OutputFolder& out) const {
  if (fd_ < 0) return EBADF;
  if (!IsPiece(name)) return EINVAL;
  const std::string piece(name);
  const int made = ::mkdirat(fd_, piece.c_str(), 0777) == 0 ? 0 : errno;
  const int fd = ::openat(fd_, piece.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int opened = errno;
    if (opened == ENOTDIR || opened == ELOOP) {
      // With O_DIRECTORY a link says "not a folder"; say what it is.
      struct stat st {};
      if (::fstatat(fd_, piece.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return ELOOP;
      return ENOTDIR;
    }
    return opened == ENOENT && made != 0 && made != EEXIST ? made : opened;
  }
  out = OutputFolder();
  out.fd_ = fd;
  out.path_ = path_ / platform::PathFromUtf8(name);
  return kSuccess;
}

fs::path OutputFolder::PathOf(std::string_view name) const {
  return path_ / platform::PathFromUtf8(name);
}

bool OutputFolder::Has(std::string_view name) const {
  return Exists(fd_, std::string(name));
}

std::string OutputFolder::FreeName(std::string_view name, unsigned* number) const {
  for (unsigned n = 0;; ++n) {
    std::string candidate = NumberedName(name, n);
    // A folder that cannot be looked into ends the search: creating the file will
    // report why.
    const int look = Look(fd_, candidate);
    if (look != 0 || n == ~0u) {
      if (number) *number = n;
      return candidate;
    }
  }
}

// ---- PendingFile ----------------------------------------------------------------------

PendingFile::~PendingFile() {
  Discard();
}

Result PendingFile::Begin(const OutputFolder& folder, std::string_view name, bool create) {
  Discard();
  committed_ = false;
  error_ = kSuccess;
  folder_ = &folder;
  asked_ = std::string(name);
  name_ = asked_;
  number_ = 0;
  if (!folder.IsOpen()) return error_ = EBADF;
  if (!IsPiece(name)) return error_ = EINVAL;
  name_ = folder.FreeName(name, &number_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = TemporaryName();
    if (!create) {
      if (Exists(folder.Fd(), temp)) continue;
      temp_ = std::move(temp);
      created_ = false;
      return kSuccess;
    }
    const int fd = ::openat(folder.Fd(), temp.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_ = fd;
      temp_ = std::move(temp);
      created_ = true;
      return kSuccess;
    }
    if (errno != EEXIST) return error_ = errno;
  }
  return error_ = EEXIST;
}

Result PendingFile::Create(const OutputFolder& folder, std::string_view name) {
  return Begin(folder, name, true);
}

Result PendingFile::Reserve(const OutputFolder& folder, std::string_view name) {
  return Begin(folder, name, false);
}

Result PendingFile::Write(std::string_view bytes) {
  if (error_ != kSuccess) return error_;
  if (fd_ < 0) return error_ = EBADF;
  if (!platform::WriteAll(fd_, bytes.data(), bytes.size())) error_ = errno != 0 ? errno : EIO;
  return error_;
}

Result PendingFile::Commit() {
  if (committed_) return kSuccess;
  if (!folder_ || temp_.empty()) return error_ != kSuccess ? error_ : EBADF;
  if (fd_ >= 0) {
    // close reports what delayed writes could not do (network file systems, quotas).
    if (::close(fd_) != 0 && errno != EINTR && error_ == kSuccess) error_ = errno;
    fd_ = -1;
  }
  if (error_ == kSuccess && !created_) {
    // The writer made this file itself: it must be a plain file, where we expect it.
    struct stat st {};
    if (::fstatat(folder_->Fd(), temp_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      error_ = errno;
    else if (!S_ISREG(st.st_mode))
      error_ = S_ISLNK(st.st_mode) ? ELOOP : EINVAL;
  }
  if (error_ != kSuccess) {
    Discard();
    return error_;
  }
  for (unsigned n = number_;; ++n) {
    std::string candidate = NumberedName(asked_, n);
    const int r = RenameNoReplace(folder_->Fd(), temp_, candidate);
    if (r == 0) {
      name_ = std::move(candidate);
      number_ = n;
      temp_.clear();
      committed_ = true;
      return kSuccess;
    }
    if (r != EEXIST || n == ~0u) {
      error_ = r;
      Discard();
      return error_;
    }
  }
}

void PendingFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!committed_ && folder_ && folder_->IsOpen() && !temp_.empty())
    ::unlinkat(folder_->Fd(), temp_.c_str(), 0);
  temp_.clear();
}

fs::path PendingFile::TempPath() const {
  return folder_ ? folder_->PathOf(temp_) : fs::path();
}

fs::path PendingFile::FinalPath() const {
  return folder_ ? folder_->PathOf(name_) : platform::PathFromUtf8(name_);
}

}  // namespace bv

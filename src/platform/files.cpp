#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace bv::platform {

bool IsMissingFile(int openError) {
  return openError == ENOENT || openError == ENOTDIR || openError == kNotRegularFile;
}

std::string OpenErrorText(int openError) {
  if (openError == kNotRegularFile) return "not a regular file";
  return ErrorText(openError);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

int UniqueFd::Close() {
  if (fd_ < 0) return 0;
  const int fd = Release();
  // Linux closes the descriptor even when close reports EINTR: never retry.
  return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

int ReadOnlyFile::Open(const std::filesystem::path& path) {
  Close();
  size_ = 0;
  // O_NONBLOCK: opening a FIFO without a writer (or a device) must not wait; it has no
  // effect on reads of regular files.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return errno;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kNotRegularFile;
  size_ = static_cast<std::int64_t>(st.st_size);
  fd_ = std::move(fd);
  return 0;
}

std::int64_t ReadOnlyFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size,
                                  int* error) const {
  if (error) *error = 0;
  if (!fd_.Valid()) {
    if (error) *error = EBADF;
    return -1;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n =
        ::pread(fd_.Get(), out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = errno;
      return -1;
    }
    if (n == 0) break;  // end of the file
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

int CheckRegularFile(const std::filesystem::path& path) {
  ReadOnlyFile file;
  return file.Open(path);
}

int ReadWholeFile(const std::filesystem::path& path, std::string& out, std::uint64_t limit) {
  out.clear();
  ReadOnlyFile file;
  if (const int rc = file.Open(path); rc != 0) return rc;
  if (static_cast<std::uint64_t>(file.Size()) > limit) return EFBIG;
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  int error = 0;
  const std::int64_t got = file.ReadAt(0, bytes.data(), bytes.size(), &error);
  if (got < 0) return error;
  bytes.resize(static_cast<std::size_t>(got));  // a file that shrank meanwhile
  out = std::move(bytes);
  return 0;
}

}  // namespace bv::platform

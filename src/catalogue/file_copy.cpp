#include "catalogue/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "catalogue/manifest.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace bv {

namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

Result CopyChunks(int in, int out, std::int64_t size, const std::wstring& destination,
                  CopyCallback callback, void* user) {
  constexpr std::size_t kChunk = 65536;
  std::vector<char> buf(kChunk);
  std::int64_t copied = 0;
  while (copied < size) {
    const std::size_t want = static_cast<std::size_t>(
        size - copied < static_cast<std::int64_t>(kChunk) ? size - copied : kChunk);
    std::size_t got = 0;
    while (got < want) {
      ssize_t n = ::pread(in, buf.data() + got, want - got, copied + static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      if (n == 0) return EIO;  // the file shrank under us
      got += static_cast<std::size_t>(n);
    }
    std::size_t put = 0;
    while (put < got) {
      ssize_t n = ::pwrite(out, buf.data() + put, got - put, copied + static_cast<off_t>(put));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      if (n == 0) return EIO;  // a device that takes nothing would loop forever
      put += static_cast<std::size_t>(n);
    }
    copied += static_cast<std::int64_t>(got);
    if (callback) {
      // 64-bit arithmetic: files over 4 GiB copy whole and the percentage never overflows.
      const auto percent = static_cast<std::int32_t>(copied * 100 / size);
      std::int32_t answer = callback(user, percent, 0, destination);
      if (answer != 0) return answer;
    }
  }
  return kSuccess;
}

}  // namespace

Result CopyBackupFile(const std::wstring& source, const std::wstring& destination,
                      CopyCallback callback, void* user) {
  const auto dest = platform::PathFromWide(destination);
  std::error_code ec;
  if (dest.has_parent_path()) std::filesystem::create_directories(dest.parent_path(), ec);

  Result result = kSuccess;
  Fd in, out;
  in.fd = ::open(platform::PathFromWide(source).c_str(), O_RDONLY | O_CLOEXEC);
  if (in.fd < 0) {
    result = errno;
  } else {
    // The destination is always new: never an existing file, never through a link
    // planted under its name.
    out.fd = ::open(dest.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (out.fd < 0) result = errno;
  }
  if (result == kSuccess) {
    struct stat st {};
    if (::fstat(in.fd, &st) != 0) {
      result = errno;
    } else if (st.st_size > 0) {
      result = CopyChunks(in.fd, out.fd, st.st_size, destination, callback, user);
    }
    // The close reports what delayed writes could not do (network file systems).
    const int closed = ::close(out.fd);
    if (closed != 0 && errno != EINTR && result == kSuccess) result = errno;
    out.fd = -1;
    // A copy cut short never stays under the destination's name.
    if (result != kSuccess) ::unlink(dest.c_str());
  }
  if (result != kSuccess && callback) callback(user, 100, result, destination);
  return result;
}

Result CopyMessageDatabase(const BackupCatalog& catalog, const std::string& destination) {
  return platform::CopyFileReplace(platform::PathFromWide(StoredFilePath(catalog, kMessagesDbId)),
                                   platform::PathFromUtf8(destination));
}

Result CopyContactsDatabase(const BackupCatalog& catalog, const std::string& destination) {
  return platform::CopyFileReplace(
      platform::PathFromWide(StoredFilePath(catalog, kAddressBookDbId)),
      platform::PathFromUtf8(destination));
}

}  // namespace bv

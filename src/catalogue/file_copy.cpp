#include "catalogue/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "catalogue/manifest.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace bv {

namespace {

Result CopyChunks(const platform::ReadOnlyFile& in, int out, std::int64_t size,
                  const std::string& destination, CopyCallback callback, void* user) {
  constexpr std::size_t kChunk = 65536;
  std::vector<char> buf(kChunk);
  std::int64_t copied = 0;
  while (copied < size) {
    const std::size_t want = static_cast<std::size_t>(
        size - copied < static_cast<std::int64_t>(kChunk) ? size - copied : kChunk);
    int error = 0;
    const std::int64_t read =
        in.ReadAt(static_cast<std::uint64_t>(copied), buf.data(), want, &error);
    if (read < 0) return error;
    const auto got = static_cast<std::size_t>(read);
    if (got < want) return EIO;  // the file shrank under us
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

Result CopyBackupFile(const std::string& source, const std::string& destination,
                      CopyCallback callback, void* user) {
  const auto dest = platform::PathFromUtf8(destination);
  std::error_code ec;
  if (dest.has_parent_path()) std::filesystem::create_directories(dest.parent_path(), ec);

  Result result = kSuccess;
  // Regular files only, opened without blocking: a FIFO or device node in the backup
  // counts as missing instead of hanging the copy.
  platform::ReadOnlyFile in;
  platform::UniqueFd out;
  if (const int rc = in.Open(platform::PathFromUtf8(source)); rc != 0) {
    result = rc == platform::kNotRegularFile ? ENOENT : rc;
  } else {
    // The destination is always new: never an existing file, never through a link
    // planted under its name.
    out.Reset(::open(dest.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!out.Valid()) result = errno;
  }
  if (result == kSuccess) {
    if (in.Size() > 0) result = CopyChunks(in, out.Get(), in.Size(), destination, callback, user);
    // The close reports what delayed writes could not do (network file systems).
    const int closed = out.Close();
    if (closed != 0 && result == kSuccess) result = closed;
    // A copy cut short never stays under the destination's name.
    if (result != kSuccess) ::unlink(dest.c_str());
  }
  if (result != kSuccess && callback) callback(user, 100, result, destination);
  return result;
}

Result CopyMessageDatabase(const BackupCatalog& catalog, const std::string& destination) {
  return platform::CopyFileReplace(platform::PathFromUtf8(StoredFilePath(catalog, kMessagesDbId)),
                                   platform::PathFromUtf8(destination));
}

Result CopyDatabaseWithLog(const DatabaseFile& file, const std::string& destination) {
  ReadOnlyDatabase db;
  if (db.Open(file) != 0) return kQueryFailed;
  // A log that could not be applied adds nothing to the plain copy.
  if (!db.Issue().logProblem.empty()) return kQueryFailed;
  const auto to = platform::PathFromUtf8(destination);
  const int rc = db.CopyTo(to);
  if (rc != 0) {
    std::error_code ec;
    std::filesystem::remove(to, ec);
    return kQueryFailed;
  }
  return kSuccess;
}

Result CopyContactsDatabase(const BackupCatalog& catalog, const std::string& destination) {
  return platform::CopyFileReplace(
      platform::PathFromUtf8(StoredFilePath(catalog, kAddressBookDbId)),
      platform::PathFromUtf8(destination));
}

}  // namespace bv

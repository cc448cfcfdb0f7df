#pragma once
// The one place that opens files by descriptor.
//
// ReadOnlyFile is how every file of a backup is opened: read-only, close-on-exec and
// without blocking, so that a FIFO or a device node in place of a stored file can never
// hang the program; fstat then keeps only regular files. Anything else counts as missing.
// UniqueFd owns a descriptor the caller opened itself (files we write).
// Neither is copyable; both close their descriptor exactly once. One thread at a time.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace bv::platform {

// Open's answer for a path that exists but is no regular file (a FIFO, a device node, a
// folder, a socket). Negative, so that it is never mistaken for an errno value.
inline constexpr int kNotRegularFile = -2;

// True for the answers that mean "no such file here": missing, a path through a
// non-folder, or no regular file.
bool IsMissingFile(int openError);
// "not a regular file" for kNotRegularFile, the platform's text otherwise.
std::string OpenErrorText(int openError);

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release();
  // Closes the descriptor (if any) and takes `fd`.
  void Reset(int fd = -1);
  // Closes now and reports the result: 0 or the platform error code (a write that the
  // kernel could only fail at close time).
  int Close();

 private:
  int fd_ = -1;
};

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ReadOnlyFile(ReadOnlyFile&&) noexcept = default;
  ReadOnlyFile& operator=(ReadOnlyFile&&) noexcept = default;
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens `path` (O_RDONLY | O_NONBLOCK | O_CLOEXEC) and keeps it only when fstat calls it
  // a regular file. Returns 0, the platform error code, or kNotRegularFile. An open file
  // is closed first.
  int Open(const std::filesystem::path& path);
  bool IsOpen() const { return fd_.Valid(); }
  void Close() { fd_.Reset(); }
  int Fd() const { return fd_.Get(); }
  // Size from the fstat of Open (64-bit).
  std::int64_t Size() const { return size_; }

  // Reads up to `size` bytes at `offset`, retrying interrupted and short reads. Returns
  // the number of bytes read (fewer only at the end of the file), or -1 with the platform
  // error code in `*error` when a read fails.
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size,
                      int* error = nullptr) const;

 private:
  UniqueFd fd_;
  std::int64_t size_ = 0;
};

// The same rule without keeping the file: 0 when `path` opens as a regular file, else
// what ReadOnlyFile::Open answered. For libraries that open the file themselves (SQLite),
// which must never be handed a FIFO.
int CheckRegularFile(const std::filesystem::path& path);

// Reads a whole regular file of at most `limit` bytes into `out`. 0, the open error, EFBIG
// when it is larger than `limit`, or the read error.
int ReadWholeFile(const std::filesystem::path& path, std::string& out,
                  std::uint64_t limit = std::uint64_t{1} << 30);

}  // namespace bv::platform

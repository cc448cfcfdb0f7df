#pragma once
// A file written byte for byte (binary), replacing what was there; RAII over
// FILE*. Used by the document writers, which need the platform's error code of
// a failed open.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace bv {

class OutFile {
 public:
  OutFile() = default;
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;
  ~OutFile() { Close(); }

  // Creates the file's folder, then opens it. 0 or the platform's error code.
  int Open(const std::filesystem::path& path) {
    Close();
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    errno = 0;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return errno != 0 ? errno : EIO;
    return 0;
  }
  bool IsOpen() const { return file_ != nullptr; }
  // False when the bytes could not all be written.
  bool Write(std::string_view bytes) {
    if (!file_) return false;
    if (bytes.empty()) return true;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
      error_ = errno ? errno : EIO;
    return error_ == 0;
  }
  void Flush() {
    if (file_) std::fflush(file_);
  }
  // 0 or the first write or close error.
  int Close() {
    if (file_) {
      if (std::fclose(file_) != 0 && error_ == 0) error_ = errno ? errno : EIO;
      file_ = nullptr;
    }
    return error_;
  }

 private:
  std::FILE* file_ = nullptr;
  int error_ = 0;
};

}  // namespace bv

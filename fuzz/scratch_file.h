#pragma once
// A file of the fuzz process's own under TMPDIR (or /tmp) that a target writes its input
// to, for readers that take a path. Removed when the process ends.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bv::fuzz {

class ScratchFile {
 public:
  // `name` and this process's id name the file, followed by `suffix`.
  ScratchFile(const char* name, const char* suffix) {
    const char* dir = std::getenv("TMPDIR");
    path_ =
        std::string(dir && *dir ? dir : "/tmp") + "/" + name + std::to_string(getpid()) + suffix;
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return path_; }

  // Replaces the file's contents with `size` bytes at `data`.
  void Write(const std::uint8_t* data, std::size_t size) const {
    if (FILE* f = std::fopen(path_.c_str(), "wb")) {
      if (size != 0) std::fwrite(data, 1, size, f);
      std::fclose(f);
    }
  }

 private:
  std::string path_;
};

}  // namespace bv::fuzz

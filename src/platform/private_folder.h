#pragma once
// A folder that belongs to one run of the program: created 0700 under a parent folder,
// named "<prefix>-<pid>-<start>-<n>" (our process id, the start time of our process so
// that a later process that reuses the id is not taken for us, and a counter for several
// folders of one run), and removed with everything in it when the object goes. Folders of
// runs that were killed stay behind; RemoveStalePrivateFolders finds them by their names
// at the next start and removes those whose process is gone.
// Thread-safe: the counter is atomic; each object belongs to one owner.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace bv::platform {

class PrivateFolder {
 public:
  // Creates a fresh folder under `parent` (made as well when missing). Null, with the
  // platform error code in `*error`, when it cannot be made.
  static std::unique_ptr<PrivateFolder> Create(const std::filesystem::path& parent,
                                               std::string_view prefix, int* error = nullptr);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  explicit PrivateFolder(std::filesystem::path path) : path_(std::move(path)) {}
  std::filesystem::path path_;
};

// The name a folder of process `pid`, started at `startTime`, gets for counter `n`.
std::string PrivateFolderName(std::string_view prefix, int pid, std::uint64_t startTime,
                              std::uint64_t n);
// Reads such a name back; false for any other name.
bool ParsePrivateFolderName(std::string_view name, std::string_view prefix, int& pid,
                            std::uint64_t& startTime);

// Removes every folder named by PrivateFolderName(prefix, ...) directly under `parent`
// whose process no longer runs, or runs with another start time (the id was reused).
// Links and files with such names are left alone. Returns how many folders went.
std::size_t RemoveStalePrivateFolders(const std::filesystem::path& parent, std::string_view prefix);

// Start time of process `pid` (clock ticks since boot on Linux); nullopt when there is no
// such process. Where the platform does not tell, a running process gives 0.
std::optional<std::uint64_t> ProcessStartTime(int pid);

}  // namespace bv::platform

#pragma once
// What the program tidies up when it ends: the media players it started itself, and the
// three preview temporaries in its work folder. Nothing else is ended or removed; in
// particular no process is ever ended by its name. UI-thread only.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"

namespace bv {

// The external players this run started (a preview that plays through another program
// registers it here), so that exactly those are ended at exit.
class CPlayerProcesses {
 public:
  static CPlayerProcesses& instance();
  // Starts a player from an argument vector; 0 or the platform error code.
  int Start(const std::vector<std::string>& argv);
  // Ends every registered player that still runs and forgets them all.
  void EndAll();
  std::size_t Count() const { return m_players.size(); }
  // The process ids of the registered players (for tests).
  std::vector<int> Pids() const;

 private:
  std::vector<std::unique_ptr<platform::Process>> m_players;
};

// The preview temporaries: "tmp.jpg", "tmp.wav" and "tmp.avi".
inline constexpr const char* kPreviewTemporaries[] = {"tmp.jpg", "tmp.wav", "tmp.avi"};

// Ends the registered players and deletes the preview temporaries from `workFolder`
// (missing files are fine). Returns how many temporaries were deleted.
int ShutdownCleanup(const std::filesystem::path& workFolder);

}  // namespace bv

#include "app/shutdown.h"

#include <system_error>

namespace bv {

CPlayerProcesses& CPlayerProcesses::instance() {
  static CPlayerProcesses players;
  return players;
}

int CPlayerProcesses::Start(const std::vector<std::string>& argv) {
  auto p = std::make_unique<platform::Process>();
  const int rc = p->Start(argv);
  if (rc != 0) return rc;
  p->CloseInput();
  m_players.push_back(std::move(p));
  return 0;
}

void CPlayerProcesses::EndAll() {
  for (auto& p : m_players)
    if (p->Running()) p->Kill();
  m_players.clear();
}

std::vector<int> CPlayerProcesses::Pids() const {
  std::vector<int> pids;
  for (const auto& p : m_players) pids.push_back(p->Pid());
  return pids;
}

int ShutdownCleanup(const std::filesystem::path& workFolder) {
  CPlayerProcesses::instance().EndAll();
  int removed = 0;
  if (workFolder.empty()) return 0;
  for (const char* name : kPreviewTemporaries) {
    std::error_code ec;
    // A file or a link of that name goes (a link, not what it points at); a folder of
    // that name is not ours and stays.
    const auto path = workFolder / name;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (ec || !std::filesystem::exists(status) || std::filesystem::is_directory(status)) continue;
    if (std::filesystem::remove(path, ec)) ++removed;
  }
  return removed;
}

}  // namespace bv

#include "cli/scan_outcome.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "common/result_codes.h"
#include "platform/interrupt.h"
#include "platform/platform.h"

namespace bv::cli {

namespace {
constexpr auto kPoll = std::chrono::milliseconds(50);
}  // namespace

void WaitForScan(CScanSession& session, bool drawProgress) {
  std::int32_t drawn = -1;
  while (session.IsScanning()) {
    if (platform::InterruptRequested()) {
      session.Stop();  // waits until the worker is idle; the data source cleans up
      break;
    }
    if (drawProgress && session.ShownPercent() != drawn) {
      drawn = session.ShownPercent();
      std::fprintf(stderr, "\rScanning... %3d%%", drawn);
      std::fflush(stderr);
    }
    std::this_thread::sleep_for(kPoll);
  }
  session.Wait();
  if (drawProgress && drawn >= 0) std::fprintf(stderr, "\n");
}

std::string OpenFailure(const CScanSession& session) {
  if (session.WrongPassword()) return "the backup password is wrong";
  const std::int32_t open = session.OpenResult();
  if (open == kSuccess) return {};
  std::string text = "the backup could not be opened";
  const std::string problem = session.OpenProblem();
  if (!problem.empty()) return text + ": " + problem;
  // A source that does not say why: the code at least, in words where it has some.
  switch (open) {
    case kStopped:
      return text + ": stopped";
    case kInvalidParameter:
      return text + ": a file it needs is missing or cannot be read (result 87)";
    case kQueryFailed:
      return text + ": its manifest cannot be read (result 1006)";
    case kMbdbUnopenable:
      return text + ": Manifest.mbdb cannot be opened (result 6009)";
    default:
      return text + " (result " + std::to_string(open) + ")";
  }
}

int PrintCategoryWarnings(const CScanSession& session, std::ostream& err,
                          const std::string& prefix) {
  int printed = 0;
  for (const CategoryInfo& info : Categories()) {
    if (!session.Chosen()[static_cast<int>(info.category)]) continue;
    const std::string problem = session.CategoryProblem(info.category);
    if (problem.empty()) continue;
    err << prefix << "warning: " << info.name << ": " << problem << "\n";
    ++printed;
  }
  return printed;
}

}  // namespace bv::cli

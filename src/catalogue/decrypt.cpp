#include "catalogue/decrypt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "catalogue/discovery.h"
#include "catalogue/manifest.h"
#include "common/text.h"
#include "platform/process.h"
#include "platform/program_files.h"

namespace bv {

namespace fs = std::filesystem;

namespace {

// The first two bytes of an executable of this platform, written over the staged copy.
#if defined(_WIN32)
constexpr char kExecutableHeader[2] = {'M', 'Z'};
#elif defined(__APPLE__)
constexpr char kExecutableHeader[2] = {'\xcf', '\xfa'};
#else
constexpr char kExecutableHeader[2] = {'\x7f', 'E'};
#endif

constexpr int kWaitMs = 5;
constexpr std::size_t kPeekSize = 4096;
constexpr int kDrainPasses = 100;

std::mutex g_rootMutex;
fs::path g_rootAppData;
fs::path g_root;
bool g_rootKnown = false;

// Clears a copy of the password before its memory goes back to the allocator.
void WipeText(std::string& text) {
  volatile char* p = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}

// The number after the last "Count:" of a chunk (leading blanks allowed; 0 without
// digits). The last one is the newest when several lines came together.
std::int64_t CountIn(const std::string& chunk, bool& found) {
  const std::size_t at = chunk.rfind("Count:");
  found = at != std::string::npos;
  if (!found) return 0;
  std::size_t i = at + 6;
  while (i < chunk.size() && (chunk[i] == ' ' || chunk[i] == '\t')) ++i;
  std::int64_t n = 0;
  while (i < chunk.size() && chunk[i] >= '0' && chunk[i] <= '9') {
    if (n > (INT64_MAX - 9) / 10) break;
    n = n * 10 + (chunk[i] - '0');
    ++i;
  }
  return n;
}

// Copies the tool to the work folder as "tool.exe", marks it as an executable of this
// platform and makes it runnable. A failed copy leaves no staged tool behind, so an
// older copy can never run in its place.
fs::path StageTool(const BackupCatalog& catalog, const fs::path& tool) {
  const fs::path staged = platform::PathFromWide(catalog.workFolder) / "tool.exe";
  std::error_code ec;
  fs::remove(staged, ec);  // a running old copy keeps its inode; we get a fresh file
  if (platform::CopyFileReplace(tool, staged) != 0) {
    fs::remove(staged, ec);
    return staged;
  }
  const int fd = ::open(staged.c_str(), O_RDWR | O_CLOEXEC);
  if (fd >= 0) {
    if (::pwrite(fd, kExecutableHeader, sizeof kExecutableHeader, 0) !=
        static_cast<ssize_t>(sizeof kExecutableHeader)) {
      ::close(fd);
      fs::remove(staged, ec);
      return staged;
    }
    ::close(fd);
  }
  ::chmod(staged.c_str(), 0700);
  return staged;
}

}  // namespace

std::vector<fs::path> TemporaryRootChoices(const fs::path& appData,
                                           std::optional<std::uint64_t> appDataFree,
                                           const std::vector<platform::Volume>& volumes) {
  const fs::path ownRoot = appData / "TarnwickBackvault" / "TarnwickTempFile";
  std::vector<fs::path> choices;
  if (!appData.empty() && appDataFree && *appDataFree > kTemporaryRootMinFree) {
    choices.push_back(ownRoot);
  }
  // Most free first; a stable sort keeps the first of equals first.
  std::vector<platform::Volume> readable;
  for (const auto& v : volumes) {
    if (v.freeBytes > 0 && !v.mountPoint.empty()) readable.push_back(v);
  }
  std::stable_sort(readable.begin(), readable.end(),
                   [](const platform::Volume& a, const platform::Volume& b) {
                     return a.freeBytes > b.freeBytes;
                   });
  for (const auto& v : readable) {
    fs::path p = v.mountPoint / "TarnwickTempFile";
    if (std::find(choices.begin(), choices.end(), p) == choices.end()) choices.push_back(p);
  }
  if (!appData.empty() && std::find(choices.begin(), choices.end(), ownRoot) == choices.end()) {
    choices.push_back(ownRoot);
  }
  return choices;
}

fs::path TemporaryRoot() {
  const fs::path appData = platform::AppDataFolder();
  std::lock_guard<std::mutex> lock(g_rootMutex);
  // Once per run; tests that move the application data folder get a root of their own.
  if (g_rootKnown && g_rootAppData == appData) return g_root;
  std::optional<std::uint64_t> free;
  if (!appData.empty()) {
    std::error_code ec;
    fs::create_directories(appData, ec);
    const std::uint64_t bytes = platform::FreeSpace(appData);
    if (bytes > 0) free = bytes;
  }
  const auto choices = TemporaryRootChoices(appData, free, platform::MountedVolumes());
  fs::path chosen;
  for (const fs::path& candidate : choices) {
    std::error_code ec;
    fs::create_directories(candidate, ec);
    if (fs::is_directory(candidate, ec) && ::access(candidate.c_str(), W_OK) == 0) {
      chosen = candidate;
      break;
    }
  }
  if (chosen.empty()) chosen = fs::temp_directory_path() / "TarnwickTempFile";
  g_root = chosen;
  g_rootAppData = appData;
  g_rootKnown = true;
  return g_root;
}

fs::path DecryptedOutputFolder() {
  return TemporaryRoot() / "TarnwickBackvaultBackupPath";
}

Result DecryptBackup(BackupCatalog& catalog, const std::wstring& password,
                     std::wstring& outputFolder, const fs::path& toolFolder) {
  const fs::path source =
      toolFolder.empty() ? platform::HelperProgram("tool") : toolFolder / "tool";
  const fs::path staged = StageTool(catalog, source);

  const fs::path output = DecryptedOutputFolder();
  std::error_code ec;
  fs::create_directories(output, ec);
  outputFolder = platform::WideFromPath(output);

  // The password never goes on the command line, where any local user could read it;
  // it is the first line of the tool's standard input.
  platform::Process tool;
  const std::vector<std::string> argv = {
      staged.string(), platform::PathFromWide(catalog.current.folder).string(), output.string()};
  if (tool.Start(argv) != 0) return kInvalidParameter;
  std::string secret = WideToUtf8(password);
  secret.push_back('\n');
  tool.WriteInput(secret);  // a tool that ended early is noticed by the loop below
  WipeText(secret);
  tool.CloseInput();

  const std::int64_t files = static_cast<std::int64_t>(catalog.backupFiles.size());
  Result result = kSuccess;
  int countdown = kDrainPasses;
  for (;;) {
    // Once the tool has ended, a bounded number of passes drains what it left.
    if (tool.Wait(kWaitMs) && --countdown < 0) break;
    if (tool.Available() == 0) continue;
    std::string chunk;
    if (tool.ReadAvailable(chunk, kPeekSize) == 0) break;
    if (chunk.find("Wrong password") != std::string::npos) {
      result = kWrongPassword;
      break;
    }
    bool counted = false;
    const std::int64_t n = CountIn(chunk, counted);
    if (counted && catalog.progress == 0) {
      catalog.progress = 1;
      if (Result r = catalog.Report(1); r != 0) {
        result = r;
        break;
      }
    }
    if (catalog.progressCallback) {
      const std::int64_t share =
          files == 0 ? 0 : static_cast<std::int64_t>(catalog.progressStep) * n / files;
      if (Result r = catalog.Report(static_cast<std::int32_t>(catalog.progress + share)); r != 0) {
        result = r;
        break;
      }
    }
  }
  // Leaving `tool` ends it if it still runs (a stop or a wrong password): only our child.
  catalog.Report(catalog.progress + catalog.progressStep);
  return result;
}

Result PrepareEncryptedBackup(BackupCatalog& catalog, const std::wstring& password,
                              std::wstring& decryptedFolder) {
  catalog.progressStep = 10;
  catalog.backupFiles.clear();
  std::vector<std::wstring> top;
  ListFolder(catalog.backupFolder, top);
  for (const std::wstring& entry : top) {
    std::error_code ec;
    if (fs::is_directory(platform::PathFromWide(entry), ec)) {
      ListFolder(entry, catalog.backupFiles);
    } else {
      catalog.backupFiles.push_back(entry);
    }
  }
  std::wstring output;
  const Result r = DecryptBackup(catalog, password, output);
  if (r != kSuccess) return r;
  catalog.backupFiles.clear();
  ListFolder(output, catalog.backupFiles);
  decryptedFolder = output;
  return kSuccess;
}

void CleanUp(BackupCatalog& catalog) {
  std::error_code ec;
  const fs::path output = DecryptedOutputFolder();
  for (fs::directory_iterator it(output, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fileEc;
    if (it->is_regular_file(fileEc) || it->is_symlink(fileEc)) fs::remove(it->path(), fileEc);
  }
  if (catalog.workFolder.empty()) return;
  const fs::path work = platform::PathFromWide(catalog.workFolder);
  for (const char* name : {"tmp.jpg", "tmp.avi", "tmp.wav"}) fs::remove(work / name, ec);
}

}  // namespace bv

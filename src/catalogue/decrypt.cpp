#include "catalogue/decrypt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "catalogue/discovery.h"
#include "catalogue/manifest.h"
#include "common/text.h"
#include "platform/files.h"
#include "platform/private_folder.h"
#include "platform/process.h"
#include "platform/program_files.h"
#include "records/readonly_db.h"

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
constexpr auto kQuietReport = std::chrono::milliseconds(200);

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

// Copies "tool" into the run's private folder as "tool.exe", marks it as an executable
// of this platform and makes it runnable. Each run stages its own copy: two runs at once
// never start (or overwrite) each other's half-written file. Returns 0 or the error.
int StageTool(const fs::path& staged, const fs::path& tool) {
  std::error_code ec;
  if (const int rc = platform::CopyFileReplace(tool, staged); rc != 0) {
    fs::remove(staged, ec);
    return rc;
  }
  platform::UniqueFd fd(::open(staged.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.Valid() || ::pwrite(fd.Get(), kExecutableHeader, sizeof kExecutableHeader, 0) !=
                         static_cast<ssize_t>(sizeof kExecutableHeader)) {
    const int error = errno != 0 ? errno : EIO;
    fd.Reset();
    fs::remove(staged, ec);
    return error;
  }
  if (const int closed = fd.Close(); closed != 0) return closed;
  ::chmod(staged.c_str(), 0700);
  return 0;
}

// The text of the first "Error: " line of a chunk (without the marker), or empty.
std::string ErrorLineIn(const std::string& chunk) {
  const std::size_t at = chunk.find("Error: ");
  if (at == std::string::npos) return {};
  const std::size_t end = chunk.find('\n', at);
  std::string text =
      chunk.substr(at + 7, end == std::string::npos ? std::string::npos : end - at - 7);
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
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

fs::path DecryptionRunParent(const BackupCatalog& catalog) {
  if (!catalog.workFolder.empty())
    return platform::PathFromUtf8(catalog.workFolder) / "TarnwickTempFile";
  std::error_code ec;
  return fs::temp_directory_path(ec) / "TarnwickTempFile";
}

Result DecryptBackup(BackupCatalog& catalog, const std::string& password, std::string& outputFolder,
                     const fs::path& toolFolder) {
  outputFolder.clear();
  // A previous scan's plaintext goes before this one's is made.
  catalog.decryptionRun.reset();
  int error = 0;
  catalog.decryptionRun =
      platform::PrivateFolder::Create(DecryptionRunParent(catalog), kDecryptionRunPrefix, &error);
  if (!catalog.decryptionRun) {
    catalog.manifestProblem = "no private folder for the decrypted files could be made in " +
                              platform::Utf8FromPath(DecryptionRunParent(catalog)) + ": " +
                              platform::ErrorText(error);
    return kInvalidParameter;
  }
  const fs::path run = catalog.decryptionRun->Path();
  const fs::path output = run / kDecryptedOutputName;
  if (::mkdir(output.c_str(), 0700) != 0) {
    catalog.manifestProblem =
        "no private folder for the decrypted files could be made: " + platform::ErrorText(errno);
    return kInvalidParameter;
  }
  outputFolder = platform::Utf8FromPath(output);

  const fs::path source =
      toolFolder.empty() ? platform::HelperProgram("tool") : toolFolder / "tool";
  const fs::path staged = run / "tool.exe";
  if (const int rc = StageTool(staged, source); rc != 0) {
    catalog.manifestProblem = "the decryption tool cannot be prepared from " +
                              platform::Utf8FromPath(source) + ": " + platform::ErrorText(rc);
    return kInvalidParameter;
  }

  // The password never goes on the command line, where any local user could read it;
  // it is the first line of the tool's standard input. In a process group of its own,
  // the tool does not get the terminal's Ctrl-C: we end it ourselves after a stop.
  platform::Process tool;
  tool.SetOwnProcessGroup(true);
  const std::vector<std::string> argv = {
      staged.native(), platform::PathFromUtf8(catalog.current.folder).native(), output.native()};
  if (const int rc = tool.Start(argv); rc != 0) {
    catalog.manifestProblem = "the decryption tool cannot be started: " + platform::ErrorText(rc);
    return kInvalidParameter;
  }
  std::string secret = password;
  secret.push_back('\n');
  tool.WriteInput(secret);  // a tool that ended early is noticed by the loop below
  WipeText(secret);
  tool.CloseInput();

  const std::int64_t files = static_cast<std::int64_t>(catalog.backupFiles.size());
  Result result = kSuccess;
  int countdown = kDrainPasses;
  std::string toolError;
  std::int32_t lastReported = catalog.progress;
  auto lastReport = std::chrono::steady_clock::now();
  for (;;) {
    // Once the tool has ended, a bounded number of passes drains what it left.
    if (tool.Wait(kWaitMs) && --countdown < 0) break;
    if (tool.Available() == 0) {
      // A tool that is silent for long (deriving the key of a real backup takes seconds)
      // still hears a stop: the last position is reported again now and then.
      if (catalog.progressCallback &&
          std::chrono::steady_clock::now() - lastReport >= kQuietReport) {
        lastReport = std::chrono::steady_clock::now();
        if (Result r = catalog.Report(lastReported); r != 0) {
          result = r;
          break;
        }
      }
      continue;
    }
    std::string chunk;
    if (tool.ReadAvailable(chunk, kPeekSize) == 0) break;
    if (chunk.find("Wrong password") != std::string::npos) {
      result = kWrongPassword;
      break;
    }
    if (toolError.empty()) toolError = ErrorLineIn(chunk);
    bool counted = false;
    const std::int64_t n = CountIn(chunk, counted);
    if (counted && catalog.progress == 0) {
      catalog.progress = 1;
      lastReported = 1;
      lastReport = std::chrono::steady_clock::now();
      if (Result r = catalog.Report(1); r != 0) {
        result = r;
        break;
      }
    }
    if (catalog.progressCallback) {
      const std::int64_t share =
          files == 0 ? 0 : static_cast<std::int64_t>(catalog.progressStep) * n / files;
      lastReported = static_cast<std::int32_t>(catalog.progress + share);
      lastReport = std::chrono::steady_clock::now();
      if (Result r = catalog.Report(lastReported); r != 0) {
        result = r;
        break;
      }
    }
  }
  if (result == kSuccess && tool.ExitCode() >= 128) {
    // Ended by a signal: what it left is a part at best.
    result = kInvalidParameter;
    catalog.manifestProblem = "the decryption tool was ended by signal " +
                              std::to_string(tool.ExitCode() - 128) + " before it finished";
  } else if (result == kSuccess && !toolError.empty()) {
    catalog.manifestProblem = "the decryption tool reported: " + toolError;
  }
  // Leaving `tool` ends it if it still runs (a stop or a wrong password): only our child.
  // A stop that arrives with the final report still counts: the scan must not go on.
  const Result last = catalog.Report(catalog.progress + catalog.progressStep);
  if (result == kSuccess && last != 0) result = last;
  return result;
}

Result PrepareEncryptedBackup(BackupCatalog& catalog, const std::string& password,
                              std::string& decryptedFolder) {
  catalog.progressStep = 10;
  catalog.backupFiles.clear();
  std::vector<std::string> top;
  ListFolder(catalog.backupFolder, top);
  for (const std::string& entry : top) {
    std::error_code ec;
    if (fs::is_directory(platform::PathFromUtf8(entry), ec)) {
      ListFolder(entry, catalog.backupFiles);
    } else {
      catalog.backupFiles.push_back(entry);
    }
  }
  std::string output;
  const Result r = DecryptBackup(catalog, password, output);
  if (r != kSuccess) return r;
  catalog.backupFiles.clear();
  std::vector<std::string> written;
  ListFolder(output, written);
  // The decrypted manifest lies beside the stored files; it is none of them.
  for (std::string& entry : written) {
    if (platform::PathFromUtf8(entry).filename() != kDecryptedManifestName)
      catalog.backupFiles.push_back(std::move(entry));
  }
  decryptedFolder = output;
  return kSuccess;
}

void CleanUp(BackupCatalog& catalog) {
  std::error_code ec;
  // Runs that were killed left their private folders; their processes are gone now.
  platform::RemoveStalePrivateFolders(DecryptionRunParent(catalog), kDecryptionRunPrefix);
  // So did copies of databases with a log (decrypted ones among them).
  platform::RemoveStalePrivateFolders(fs::temp_directory_path(ec), kPrivateCopyPrefix);
  const fs::path output = DecryptedOutputFolder();
  for (fs::directory_iterator it(output, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fileEc;
    if (it->is_regular_file(fileEc) || it->is_symlink(fileEc)) fs::remove(it->path(), fileEc);
  }
  if (catalog.workFolder.empty()) return;
  const fs::path work = platform::PathFromUtf8(catalog.workFolder);
  for (const char* name : {"tmp.jpg", "tmp.avi", "tmp.wav"}) fs::remove(work / name, ec);
}

}  // namespace bv

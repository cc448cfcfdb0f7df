#include "cli/backup_args.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "catalogue/discovery.h"
#include "common/text.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace bv::cli {

namespace {

// A password is one line; more than this is no password file.
constexpr std::size_t kPasswordLimit = 64 * 1024;

void DropLineEnd(std::string& line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
}

}  // namespace

bool BackupArgParser::Take(const std::vector<std::string>& args, std::size_t& i) {
  const std::string& a = args[i];
  if (a == "--password-stdin" || a == "--password-file") {
    const bool file = a == "--password-file";
    if (file && i + 1 >= args.size()) {
      if (error_.empty()) error_ = "--password-file needs the name of a file";
      return true;
    }
    if (source_ != Source::kNone) {
      if (error_.empty()) error_ = "give the password once: --password-stdin or --password-file F";
    } else {
      source_ = file ? Source::kFile : Source::kStdin;
    }
    if (file) file_ = args[++i];
    return true;
  }
  if (!a.empty() && a[0] != '-' && folder_.empty()) {
    folder_ = a;
    return true;
  }
  return false;
}

bool BackupArgParser::Check(std::string& error) const {
  if (!error_.empty()) {
    error = error_;
    return false;
  }
  if (folder_.empty()) {
    error = "no backup folder given";
    return false;
  }
  return true;
}

bool BackupArgParser::Finish(std::istream& in, BackupArgs& out, std::string& error, bool& usage) {
  usage = true;
  if (!Check(error)) return false;
  usage = false;
  out = BackupArgs{};
  out.folder = folder_;
  if (source_ == Source::kNone) return true;
  std::string line;
  const bool read = source_ == Source::kStdin ? ReadPasswordLine(in, line, error)
                                              : ReadPasswordFile(file_, line, error);
  if (!read) return false;
  out.password = ValidUtf8(line);
  out.passwordGiven = true;
  // The copy of the text goes before its memory is given back.
  for (char& c : line) c = '\0';
  return true;
}

bool ReadPasswordLine(std::istream& in, std::string& line, std::string& error) {
  line.clear();
  if (!std::getline(in, line) && line.empty()) {
    error = "no password on standard input";
    return false;
  }
  DropLineEnd(line);
  return true;
}

bool ReadPasswordFile(const std::string& path, std::string& line, std::string& error) {
  line.clear();
  auto fail = [&](const std::string& why) {
    error = "cannot read the password file '" + path + "': " + why;
    return false;
  };
  // Blocking on purpose: a pipe (--password-file <(...)) is a fine place for a password.
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) return fail(platform::ErrorText(errno));
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return fail(platform::ErrorText(errno));
  if (S_ISDIR(st.st_mode)) return fail(platform::ErrorText(EISDIR));
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(platform::ErrorText(errno));
    if (n == 0) break;
    line.append(buf, static_cast<std::size_t>(n));
    const std::size_t end = line.find('\n');
    if (end != std::string::npos) {
      line.resize(end);
      break;
    }
    if (line.size() > kPasswordLimit) return fail("its first line is longer than a password");
  }
  DropLineEnd(line);
  return true;
}

bool ReadBackupRecord(const BackupArgs& args, BackupRecord& record, std::string& error) {
  namespace fs = std::filesystem;
  const fs::path folder(std::u8string(args.folder.begin(), args.folder.end()));
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    error = "'" + args.folder + "' is not a folder";
    return false;
  }
  // Absolute, so that the paths of the records stay usable from anywhere.
  const fs::path absolute = fs::absolute(folder, ec);
  if (ReadBackupFolder(platform::Utf8FromPath(ec ? folder : absolute), record) != kSuccess) {
    const int rc = platform::CheckRegularFile(folder / "Info.plist");
    // Missing (or a file that reads but says nothing): no backup. Anything else in the
    // way (a FIFO, no permission) is said as it is.
    if (rc == 0 || rc == ENOENT || rc == ENOTDIR)
      error = "'" + args.folder + "' holds no Info.plist: not a backup folder";
    else
      error =
          "the Info.plist of '" + args.folder + "' cannot be read: " + platform::OpenErrorText(rc);
    return false;
  }
  if (record.encrypted && !args.passwordGiven) {
    error = "the backup is encrypted: give its password with --password-stdin or --password-file";
    return false;
  }
  return true;
}

}  // namespace bv::cli

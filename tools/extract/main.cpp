// extract: the archive extractor that device access runs on the phone's relay archive.
//
//   extract x [-aoa] ARCHIVE -oDIR
//
// A compressed stream (gzip, bzip2, xz, ...) is unpacked one layer, into DIR/<archive
// name without its last extension> ("Tarnwick.tmp" gives "Tarnwick"): the relay sends a
// gzip-compressed cpio archive and the program reads the cpio bytes itself. An archive
// (cpio, tar, zip, ...) is unpacked member by member into DIR. Existing files are
// overwritten. Prints "Everything is Ok" when everything was unpacked; exits 0 then, 2
// after any error, 7 for a bad command line.
//
// Nothing is ever written outside DIR: members with an absolute name or a ".."
// piece, links that point out of DIR, and paths through links are refused (reported,
// not written), and device files are not created.
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 2;
constexpr int kExitUsage = 7;
constexpr std::size_t kPiece = 64 * 1024;

struct Options {
  std::string archive;
  std::string output;
};

int Usage(const char* why) {
  std::fprintf(stderr, "Command Line Error: %s\nUsage: extract x [-aoa] ARCHIVE -oDIR\n", why);
  return kExitUsage;
}

// A member name made relative and checked: no absolute name, no "..", nothing empty.
// False when the member must not be written.
bool SafeRelative(const std::string& name, fs::path& out) {
  if (name.empty() || name[0] == '/') return false;
  fs::path result;
  for (const auto& piece : fs::path(name)) {
    const std::string p = piece.string();
    if (p.empty() || p == ".") continue;
    if (p == ".." || p.find('\\') != std::string::npos) return false;
    result /= piece;
  }
  if (result.empty()) return false;
  out = result;
  return true;
}

// True when no folder on the way from `root` to `relative`'s parent is a link, so a
// member cannot be written through a link planted by an earlier one.
bool NoLinkOnTheWay(const fs::path& root, const fs::path& relative) {
  fs::path at = root;
  const fs::path parent = relative.parent_path();
  for (const auto& piece : parent) {
    at /= piece;
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0) return true;  // not there yet: created as a folder
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Opens `path` for writing, replacing a file that is there; never follows a link.
int CreateReplacing(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    std::error_code ec;
    if (S_ISDIR(st.st_mode)) return -1;
    fs::remove(path, ec);
  }
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
}

// Copies the current entry's data to `fd`. False on a read or write error.
bool CopyData(archive* a, int fd, std::uint64_t& bytes) {
  std::vector<char> buffer(kPiece);
  for (;;) {
    const la_ssize_t n = archive_read_data(a, buffer.data(), buffer.size());
    if (n == 0) return true;
    if (n < 0) return false;
    if (!WriteAll(fd, buffer.data(), static_cast<std::size_t>(n))) return false;
    bytes += static_cast<std::uint64_t>(n);
  }
}

// The stream is compressed (a filter besides "none" was found): one output file.
int UnpackStream(const Options& o, std::uint64_t& files, std::uint64_t& bytes) {
  archive* a = archive_read_new();
  archive_read_support_filter_all(a);
  archive_read_support_format_raw(a);
  int result = kExitOk;
  archive_entry* entry = nullptr;
  if (archive_read_open_filename(a, o.archive.c_str(), kPiece) != ARCHIVE_OK ||
      archive_read_next_header(a, &entry) != ARCHIVE_OK) {
    std::fprintf(stderr, "ERROR: %s: %s\n", o.archive.c_str(), archive_error_string(a));
    archive_read_free(a);
    return kExitError;
  }
  // Named after the archive, never after a name stored inside it.
  fs::path name = fs::path(o.archive).stem();
  if (name.empty() || name == "." || name == "..") name = "unpacked";
  fs::path target = fs::path(o.output) / name;
  std::error_code ec;
  if (fs::equivalent(target, o.archive, ec)) target += ".out";
  const int fd = CreateReplacing(target);
  if (fd < 0) {
    std::fprintf(stderr, "ERROR: cannot create %s: %s\n", target.c_str(), std::strerror(errno));
    archive_read_free(a);
    return kExitError;
  }
  std::printf("- %s\n", name.c_str());
  if (!CopyData(a, fd, bytes)) {
    // What was unpacked stays: a cut-off transfer may still hold whole members.
    std::fprintf(stderr, "ERROR: %s: %s\n", o.archive.c_str(),
                 archive_error_string(a) != nullptr ? archive_error_string(a) : "write failed");
    result = kExitError;
  }
  ::close(fd);
  ++files;
  archive_read_free(a);
  return result;
}

// A link target that stays inside the output folder: relative, and its ".." pieces
// never climb above the output folder, counted from the folder the link sits in.
bool SafeLinkTarget(const fs::path& linkRelative, const std::string& target) {
  if (target.empty() || target[0] == '/') return false;
  int depth = 0;
  for (const auto& piece : linkRelative.parent_path()) {
    if (!piece.empty()) ++depth;
  }
  for (const auto& piece : fs::path(target)) {
    const std::string p = piece.string();
    if (p.empty() || p == ".") continue;
    if (p == "..") {
      if (--depth < 0) return false;
    } else {
      ++depth;
    }
  }
  return true;
}

int UnpackMembers(const Options& o, std::uint64_t& files, std::uint64_t& bytes) {
  archive* a = archive_read_new();
  archive_read_support_filter_all(a);
  archive_read_support_format_all(a);
  if (archive_read_open_filename(a, o.archive.c_str(), kPiece) != ARCHIVE_OK) {
    std::fprintf(stderr, "ERROR: %s: %s\n", o.archive.c_str(), archive_error_string(a));
    archive_read_free(a);
    return kExitError;
  }
  const fs::path root = o.output;
  int result = kExitOk;
  archive_entry* entry = nullptr;
  for (;;) {
    const int rc = archive_read_next_header(a, &entry);
    if (rc == ARCHIVE_EOF) break;
    if (rc == ARCHIVE_FATAL) {
      std::fprintf(stderr, "ERROR: %s: %s\n", o.archive.c_str(), archive_error_string(a));
      result = kExitError;
      break;
    }
    if (rc == ARCHIVE_WARN) std::fprintf(stderr, "WARNING: %s\n", archive_error_string(a));
    const char* rawName = archive_entry_pathname(entry);
    const std::string name = rawName != nullptr ? rawName : "";
    fs::path relative;
    if (!SafeRelative(name, relative) || !NoLinkOnTheWay(root, relative)) {
      std::fprintf(stderr, "ERROR: refused member outside the output folder: %s\n", name.c_str());
      result = kExitError;
      continue;
    }
    const fs::path target = root / relative;
    std::error_code ec;
    const char* hardlink = archive_entry_hardlink(entry);
    const mode_t type = archive_entry_filetype(entry);
    if (hardlink != nullptr) {
      fs::path linked;
      if (!SafeRelative(hardlink, linked) || !NoLinkOnTheWay(root, linked) ||
          !fs::is_regular_file(fs::symlink_status(root / linked, ec))) {
        std::fprintf(stderr, "ERROR: refused link outside the output folder: %s\n", name.c_str());
        result = kExitError;
        continue;
      }
      fs::create_directories(target.parent_path(), ec);
      fs::remove(target, ec);
      fs::copy_file(root / linked, target, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        std::fprintf(stderr, "ERROR: cannot create %s: %s\n", target.c_str(), ec.message().c_str());
        result = kExitError;
      }
      ++files;
      continue;
    }
    if (type == AE_IFDIR) {
      fs::create_directories(target, ec);
      if (ec || fs::is_symlink(target, ec)) {
        std::fprintf(stderr, "ERROR: cannot create folder %s\n", target.c_str());
        result = kExitError;
      }
      continue;
    }
    fs::create_directories(target.parent_path(), ec);
    if (type == AE_IFLNK) {
      const char* linkTarget = archive_entry_symlink(entry);
      if (linkTarget == nullptr || !SafeLinkTarget(relative, linkTarget)) {
        std::fprintf(stderr, "ERROR: refused link outside the output folder: %s\n", name.c_str());
        result = kExitError;
        continue;
      }
      fs::remove(target, ec);
      if (::symlink(linkTarget, target.c_str()) != 0) {
        std::fprintf(stderr, "ERROR: cannot create link %s: %s\n", target.c_str(),
                     std::strerror(errno));
        result = kExitError;
      }
      ++files;
      continue;
    }
    if (type != AE_IFREG) {
      std::fprintf(stderr, "WARNING: skipped special file %s\n", name.c_str());
      continue;
    }
    const int fd = CreateReplacing(target);
    if (fd < 0) {
      std::fprintf(stderr, "ERROR: cannot create %s: %s\n", target.c_str(), std::strerror(errno));
      result = kExitError;
      continue;
    }
    std::printf("- %s\n", relative.c_str());
    const bool ok = CopyData(a, fd, bytes);
    ::close(fd);
    ++files;
    if (!ok) {
      std::fprintf(stderr, "ERROR: %s: %s\n", name.c_str(),
                   archive_error_string(a) != nullptr ? archive_error_string(a) : "write failed");
      result = kExitError;
      break;  // the stream is out of step after a failed member
    }
  }
  archive_read_free(a);
  return result;
}

// True when the file is a compressed stream rather than an archive of members.
bool IsCompressedStream(const std::string& path, bool& readable) {
  archive* a = archive_read_new();
  archive_read_support_filter_all(a);
  archive_read_support_format_raw(a);
  bool compressed = false;
  readable = archive_read_open_filename(a, path.c_str(), kPiece) == ARCHIVE_OK;
  if (readable) {
    archive_entry* entry = nullptr;
    // The filters are known once the first header has been read.
    readable = archive_read_next_header(a, &entry) == ARCHIVE_OK;
    compressed = archive_filter_count(a) > 1;
  }
  archive_read_free(a);
  return compressed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "x") != 0) return Usage("expected the command x");
  Options o;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-aoa" || arg == "-y") continue;  // overwriting is what we always do
    if (arg.rfind("-o", 0) == 0) {
      o.output = arg.substr(2);
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(("unknown switch " + arg).c_str());
    } else if (o.archive.empty()) {
      o.archive = arg;
    } else {
      return Usage("more than one archive");
    }
  }
  if (o.archive.empty()) return Usage("no archive");
  if (o.output.empty()) o.output.assign(1, '.');  // the current folder

  std::printf("Extracting archive: %s\n", o.archive.c_str());
  std::error_code ec;
  if (!fs::is_regular_file(o.archive, ec)) {
    std::fprintf(stderr, "ERROR: cannot open the archive %s\n", o.archive.c_str());
    return kExitError;
  }
  fs::create_directories(o.output, ec);
  if (!fs::is_directory(o.output, ec)) {
    std::fprintf(stderr, "ERROR: cannot create the output folder %s\n", o.output.c_str());
    return kExitError;
  }
  // Resolve the output folder once, so a link that is the folder itself is followed
  // only here, knowingly, and never below it.
  o.output = fs::canonical(o.output, ec).string();

  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  bool readable = false;
  const bool compressed = IsCompressedStream(o.archive, readable);
  int result = compressed ? UnpackStream(o, files, bytes) : UnpackMembers(o, files, bytes);
  if (result == kExitOk && !compressed && !readable && files == 0) {
    std::fprintf(stderr, "ERROR: %s: cannot open the file as an archive\n", o.archive.c_str());
    result = kExitError;
  }
  std::printf("Files: %llu\nSize: %llu\n", static_cast<unsigned long long>(files),
              static_cast<unsigned long long>(bytes));
  if (result == kExitOk) {
    std::printf("Everything is Ok\n");
  } else {
    std::printf("Errors occurred\n");
  }
  std::fflush(stdout);
  return result;
}

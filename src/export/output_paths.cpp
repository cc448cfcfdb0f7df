#include "export/output_paths.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <system_error>

#include "common/text.h"
#include "export/output_folder.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace bv {

namespace {

bool Rejected(unsigned char c) {
  if (c < 0x20 || c == 0x7f) return true;
  switch (c) {
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
      return true;
    default:
      return false;
  }
}

bool IsDeviceName(const std::string& piece) {
  std::string stem = piece.substr(0, piece.find('.'));
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* n : kNames)
    if (EqualsNoCase(stem, n)) return true;
  if (stem.size() == 4 &&
      (EqualsNoCase(stem.substr(0, 3), "COM") || EqualsNoCase(stem.substr(0, 3), "LPT")))
    return stem[3] >= '1' && stem[3] <= '9';
  return false;
}

// Cuts `text` to at most `limit` bytes, on a character boundary.
std::string CutUtf8(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

constexpr std::size_t kMaxPieceBytes = 200;
constexpr std::size_t kMaxExtension = 16;

}  // namespace

std::string SafePathPiece(const std::string& name) {
  std::string piece;
  piece.reserve(name.size());
  for (char c : name) piece += Rejected(static_cast<unsigned char>(c)) ? '_' : c;
  if (piece.empty()) return "_";
  if (piece.find_first_not_of('.') == std::string::npos) piece.assign(piece.size(), '_');
  for (std::size_t i = piece.size(); i > 0 && (piece[i - 1] == '.' || piece[i - 1] == ' '); --i)
    piece[i - 1] = '_';
  if (IsDeviceName(piece)) piece.insert(0, 1, '_');
  if (piece.size() > kMaxPieceBytes) {
    std::size_t dot = piece.rfind('.');
    std::string ext;
    // A short extension counts in characters, as a name's user sees it.
    if (dot != std::string::npos && dot > 0 &&
        Utf8Length(std::string_view(piece).substr(dot)) <= kMaxExtension)
      ext = piece.substr(dot);
    std::string stem = piece.substr(0, piece.size() - ext.size());
    piece = CutUtf8(stem, kMaxPieceBytes - ext.size()) + ext;
  }
  return piece;
}

fs::path MakeUniquePath(const fs::path& path) {
  std::error_code ec;
  // symlink_status: a dangling link still occupies the name.
  if (!fs::exists(fs::symlink_status(path, ec))) return path;
  const fs::path folder = path.parent_path();
  const std::string name = platform::Utf8FromPath(path.filename());
  for (unsigned n = 1;; ++n) {
    fs::path candidate = folder / platform::PathFromUtf8(NumberedName(name, n));
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
  }
}

std::string MakeUniquePath(const std::string& path) {
  return platform::Utf8FromPath(MakeUniquePath(platform::PathFromUtf8(path)));
}

namespace {

struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const Identity&) const = default;
};

bool FolderIdentity(const fs::path& folder, Identity& id) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

// Absolute, with links and ".." resolved as far as the path exists.
fs::path Resolved(const fs::path& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;
  fs::path resolved = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : resolved;
}

std::string Quoted(const fs::path& path) {
  return "'" + platform::Utf8FromPath(path) + "'";
}

}  // namespace

std::string OutputFolderProblem(const fs::path& backupFolder, const fs::path& outputFolder) {
  Identity backup;
  if (!FolderIdentity(backupFolder, backup)) return {};  // nothing there to protect
  const fs::path out = Resolved(outputFolder);
  for (fs::path p = out;; p = p.parent_path()) {
    Identity id;
    if (FolderIdentity(p, id) && id == backup) {
      if (p == out)
        return "the output folder " + Quoted(outputFolder) +
               " is the backup folder itself; choose a folder outside the backup";
      return "the output folder " + Quoted(outputFolder) + " lies inside the backup folder " +
             Quoted(backupFolder) + "; choose a folder outside the backup";
    }
    if (p.parent_path() == p || p.empty()) break;
  }
  Identity output;
  if (!FolderIdentity(out, output)) return {};
  const fs::path inBackup = Resolved(backupFolder);
  for (fs::path b = inBackup; b.parent_path() != b && !b.empty(); b = b.parent_path()) {
    Identity parent;
    if (!FolderIdentity(b.parent_path(), parent) || !(parent == output)) continue;
    const std::string top = platform::Utf8FromPath(b.filename());
    for (const char* name : kOutputFolders)
      if (top == name)
        return "the backup folder " + Quoted(backupFolder) + " lies inside " +
               Quoted(outputFolder / name) +
               ", where recovered files are written; choose another output folder";
  }
  return {};
}

bool IsInside(const fs::path& root, const fs::path& path) {
  const fs::path r = root.lexically_normal();
  const fs::path p = path.lexically_normal();
  auto ri = r.begin(), pi = p.begin();
  for (; ri != r.end(); ++ri, ++pi) {
    if (ri->empty() && std::next(ri) == r.end()) return true;  // trailing separator of root
    if (pi == p.end() || *ri != *pi) return false;
  }
  for (; pi != p.end(); ++pi)
    if (*pi == "..") return false;
  return true;
}

std::string MakeJobStamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return ValidUtf8(text);
}

}  // namespace bv

#include "support.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace bv::test {

namespace {
bool SetImmutable(const fs::path& path, bool on);
}

TempDir::TempDir(const std::string& tag) {
  std::string pattern = (fs::temp_directory_path() / (tag + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

namespace {
// Gives `p` and, for a folder, everything below it back its owner's rights (and takes
// away the immutable flag as root), the folder before its entries so that it can be read.
void Unlock(const fs::path& p) {
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(p, ec))) return;
  if (::geteuid() == 0) SetImmutable(p, false);
  fs::permissions(p, fs::perms::owner_all, fs::perm_options::add, ec);
  if (!fs::is_directory(fs::status(p, ec))) return;
  for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec))
    Unlock(it->path());
}
}  // namespace

TempDir::~TempDir() {
  std::error_code ec;
  if (fs::remove_all(path_, ec) != static_cast<std::uintmax_t>(-1) && !ec) return;
  // A test left something read-only or immutable (as root, write bits alone stop nothing).
  Unlock(path_);
  fs::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    had_ = true;
    old_ = old;
  }
  setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

std::map<std::string, std::string> SnapshotTree(const fs::path& folder) {
  std::map<std::string, std::string> tree;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec), end;
       !ec && it != end; it.increment(ec)) {
    const std::string rel = fs::relative(it->path(), folder).string();
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0) {
      tree[rel] = "unreadable";
      continue;
    }
    std::string entry = std::to_string(st.st_mode);
    if (S_ISREG(st.st_mode)) {
      entry += " " + ReadFile(it->path());
    } else if (S_ISLNK(st.st_mode)) {
      entry += " -> " + fs::read_symlink(it->path(), ec).string();
    }
    tree[rel] = entry;
  }
  return tree;
}

std::string TreeChanges(const std::map<std::string, std::string>& before,
                        const std::map<std::string, std::string>& after) {
  std::string changes;
  for (const auto& [path, entry] : after) {
    auto it = before.find(path);
    if (it == before.end())
      changes += "added: " + path + "\n";
    else if (it->second != entry)
      changes += "changed: " + path + "\n";
  }
  for (const auto& [path, entry] : before)
    if (after.find(path) == after.end()) changes += "removed: " + path + "\n";
  return changes;
}

namespace {
bool SetImmutable(const fs::path& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}
}  // namespace

ReadOnlyTree::ReadOnlyTree(const fs::path& folder) : folder_(folder) {
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    entries.push_back(it->path());
  entries.push_back(folder);
  for (const fs::path& p : entries) {
    if (fs::is_symlink(fs::symlink_status(p, ec))) continue;
    const fs::file_status st = fs::status(p, ec);
    if (ec || !(fs::is_regular_file(st) || fs::is_directory(st))) continue;
    perms_.emplace_back(p, st.permissions());
    fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
  }
  // Files first, the folders above them last: the order of `entries`.
  if (::geteuid() == 0) {
    for (const auto& [p, perms] : perms_)
      if (SetImmutable(p, true)) immutable_.push_back(p);
  }
}

ReadOnlyTree::~ReadOnlyTree() {
  for (auto it = immutable_.rbegin(); it != immutable_.rend(); ++it) SetImmutable(*it, false);
  std::error_code ec;
  for (auto it = perms_.rbegin(); it != perms_.rend(); ++it)
    fs::permissions(it->first, it->second, fs::perm_options::replace, ec);
}

bool ReadOnlyTree::Effective() const {
  const fs::path probe = folder_ / ".write-probe";
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return true;
  ::close(fd);
  ::unlink(probe.c_str());
  return false;
}

fs::path BuildBackup(const TempDir& dir, const mkbackup::BackupOptions& options,
                     const std::string& name) {
  fs::path folder = dir.path() / name;
  std::string error;
  if (mkbackup::WriteBackup(options, folder, &error) != 0) {
    std::fprintf(stderr, "BuildBackup failed: %s\n", error.c_str());
    std::abort();
  }
  return folder;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteDatabaseWithLog(const fs::path& database, const fs::path& log, const std::string& mainSql,
                          const std::string& logSql) {
  const TempDir live("bvwal");
  const fs::path file = live / "db";
  sqlite3* db = nullptr;
  auto run = [&](const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string message = error != nullptr ? error : "unknown error";
      sqlite3_free(error);
      sqlite3_close(db);
      throw std::runtime_error("WriteDatabaseWithLog: " + message + " in " + sql.substr(0, 200));
    }
  };
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open db");
  run(mainSql);
  run("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
  run(logSql);
  fs::path liveLog = file;
  liveLog += "-wal";
  fs::copy_file(file, database, fs::copy_options::overwrite_existing);
  fs::copy_file(liveLog, log, fs::copy_options::overwrite_existing);
  sqlite3_close(db);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// ---- JSON ---------------------------------------------------------------------

namespace {

const Json& NullJson() {
  static const Json null;
  return null;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  Json Document() {
    Json v = Value(0);
    Space();
    if (pos_ != s_.size()) Fail("trailing text");
    return v;
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("JSON: ") + what + " at offset " + std::to_string(pos_));
  }
  void Space() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t'))
      ++pos_;
  }
  bool Take(char c) {
    Space();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Take(c)) Fail("unexpected character");
  }
  bool Word(const char* w) {
    std::size_t n = std::char_traits<char>::length(w);
    if (s_.compare(pos_, n, w) == 0) {
      pos_ += n;
      return true;
    }
    return false;
  }
  static void PutUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  std::uint32_t Hex4() {
    if (pos_ + 4 > s_.size()) Fail("short escape");
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = s_[pos_++];
      v <<= 4;
      if (c >= '0' && c <= '9')
        v |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        v |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        v |= static_cast<std::uint32_t>(c - 'A' + 10);
      else
        Fail("bad hex digit");
    }
    return v;
  }
  std::string String() {
    Expect('"');
    std::string out;
    while (true) {
      if (pos_ >= s_.size()) Fail("unterminated string");
      char c = s_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("control character in string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) Fail("unterminated escape");
      char e = s_[pos_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t cp = Hex4();
          if (cp >= 0xD800 && cp < 0xDC00 && Word("\\u")) {
            std::uint32_t lo = Hex4();
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          PutUtf8(out, cp);
          break;
        }
        default:
          Fail("bad escape");
      }
    }
  }
  Json Value(int depth) {
    if (depth > 200) Fail("nesting too deep");
    Space();
    if (pos_ >= s_.size()) Fail("unexpected end");
    Json v;
    char c = s_[pos_];
    if (c == '{') {
      ++pos_;
      v.kind = Json::Kind::kObject;
      if (Take('}')) return v;
      do {
        Space();
        std::string name = String();
        Expect(':');
        v.members.emplace_back(std::move(name), Value(depth + 1));
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      ++pos_;
      v.kind = Json::Kind::kArray;
      if (Take(']')) return v;
      do {
        v.items.push_back(Value(depth + 1));
      } while (Take(','));
      Expect(']');
    } else if (c == '"') {
      v.kind = Json::Kind::kString;
      v.text = String();
    } else if (Word("true")) {
      v.kind = Json::Kind::kBool;
      v.boolean = true;
    } else if (Word("false")) {
      v.kind = Json::Kind::kBool;
    } else if (Word("null")) {
      v.kind = Json::Kind::kNull;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      std::size_t start = pos_++;
      while (pos_ < s_.size() &&
             (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.' ||
              s_[pos_] == 'e' || s_[pos_] == 'E' || s_[pos_] == '+' || s_[pos_] == '-'))
        ++pos_;
      v.kind = Json::Kind::kNumber;
      v.text = s_.substr(start, pos_ - start);
    } else {
      Fail("unexpected character");
    }
    return v;
  }

  const std::string& s_;
  std::size_t pos_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& name) const {
  for (const auto& [key, value] : members)
    if (key == name) return value;
  return NullJson();
}

const Json& Json::operator[](std::size_t index) const {
  return index < items.size() ? items[index] : NullJson();
}

bool Json::Has(const std::string& name) const {
  for (const auto& m : members)
    if (m.first == name) return true;
  return false;
}

std::int64_t Json::Int() const {
  return kind == Kind::kNumber ? std::stoll(text) : 0;
}
double Json::Number() const {
  return kind == Kind::kNumber ? std::stod(text) : 0.0;
}

Json Json::Parse(const std::string& text) {
  return Parser(text).Document();
}

Json ReadTruth(const fs::path& backupFolder) {
  return Json::Parse(ReadFile(backupFolder / "mkbackup-truth.json"));
}

std::vector<const Json*> FindDatabases(const Json& truth, const std::string& label) {
  std::vector<const Json*> out;
  for (const Json& db : truth["databases"].items)
    if (db["label"].Str() == label) out.push_back(&db);
  return out;
}

const Json* FindDatabase(const Json& truth, const std::string& label) {
  auto all = FindDatabases(truth, label);
  return all.empty() ? nullptr : all.front();
}

std::vector<const Json*> LiveRows(const Json& database, const std::string& table) {
  std::vector<const Json*> out;
  for (const Json& t : database["tables"].items)
    if (t["name"].Str() == table)
      for (const Json& row : t["rows"].items) out.push_back(&row);
  return out;
}

std::vector<const Json*> DeletedRows(const Json& database, const std::string& table) {
  std::vector<const Json*> out;
  for (const Json& row : database["deleted"].items)
    if (table.empty() || row["table"].Str() == table) out.push_back(&row);
  return out;
}

fs::path StoredFile(const fs::path& backupFolder, const Json& database) {
  const std::string id = database["fileId"].Str();
  fs::path nested = backupFolder / id.substr(0, 2) / id;
  return fs::exists(nested) ? nested : backupFolder / id;
}

}  // namespace bv::test

// The recover command as a real process: under the "C" locale and a UTF-8 one, and
// interrupted by real signals before its first file and while it writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "common/text.h"
#include "platform/process.h"
#include "support.h"

namespace bv::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path Cli() {
  const char* bin = std::getenv("BV_BIN_DIR");
  return fs::path(bin ? bin : ".") / "backvault-cli";
}

struct Ran {
  int code = -1;
  std::string output;  // standard output and error together
};

// Drains the child's output until it ends (at most `seconds`).
Ran Finish(platform::Process& child, int seconds = 60) {
  Ran r;
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!child.Wait(10)) {
    child.ReadAvailable(r.output);
    if (Clock::now() > deadline) {
      child.Kill();
      r.output += "\n[killed: still running after " + std::to_string(seconds) + " s]";
      break;
    }
  }
  while (!child.OutputClosed() && child.ReadAvailable(r.output) > 0) {
  }
  r.code = child.ExitCode();
  return r;
}

Ran Recover(const std::vector<std::string>& args) {
  platform::Process child;
  std::vector<std::string> argv{Cli().string(), "recover"};
  argv.insert(argv.end(), args.begin(), args.end());
  if (child.Start(argv) != 0) return {};
  return Finish(child);
}

// True once the child has put its own handler on `signal` (the kernel's SigCgt mask).
bool Catches(int pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("SigCgt:", 0) == 0) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (signal - 1)) & 1;
    }
  return false;
}

std::size_t CountFiles(const fs::path& root, const std::string& part = {}) {
  std::size_t n = 0;
  if (!fs::exists(root)) return 0;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && e.path().filename().string().find(part) != std::string::npos) ++n;
  return n;
}

class RecoverProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    envHome_ = std::make_unique<test::ScopedEnv>("HOME", dir.path().string());
    envData_ = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", (dir / "data").string());
  }
  test::TempDir dir;
  std::unique_ptr<test::ScopedEnv> envHome_, envData_;
};

// Under LANG=C nothing may go through the locale: names with non-ASCII characters that
// clash (here the same person on SMS and iMessage, "Julia Müller", within one run; every
// name with the earlier run's) are numbered, and no run aborts.
TEST_F(RecoverProcessTest, NonAsciiNamesThatClashUnderEitherLocale) {
  mkbackup::BackupOptions o;
  o.seed = 26;
  o.messages = 30;
  o.contacts = 12;
  o.whatsapp = 10;
  o.wechat = o.qq = 0;
  const fs::path backup = test::BuildBackup(dir, o);
  for (const char* lang : {"C", "C.UTF-8"}) {
    SCOPED_TRACE(lang);
    test::ScopedEnv env("LANG", lang);
    test::ScopedEnv all("LC_ALL", lang);
    const fs::path out = dir / (std::string("out-") + lang);
    const Ran first = Recover({backup.string(), "--out", out.string()});
    ASSERT_EQ(first.code, 0) << first.output;
    const std::size_t files = CountFiles(out);
    // The clash within the first run, under its non-ASCII name.
    EXPECT_EQ(CountFiles(out / "Message", "M\xC3\xBCller(+15551000013)(1)."), 2u)
        << "mkbackup's seed 26 no longer gives a non-ASCII conversation twice";
    const Ran second = Recover({backup.string(), "--out", out.string()});
    ASSERT_EQ(second.code, 0) << second.output;
    EXPECT_EQ(CountFiles(out), 2 * files);  // nothing of the first run was replaced
  }
}

// Runs statements on a database of the backup; the test fails on an error.
void Exec(const fs::path& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK) << db;
  char* error = nullptr;
  const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(handle);
  ASSERT_EQ(rc, SQLITE_OK) << message << "\n" << sql;
}

// A recovered tree with the run's time stamps and the output folder's own name taken
// out, so that two runs of the same backup compare equal.
std::map<std::string, std::string> NormalisedTree(const fs::path& out) {
  static const std::regex stamp("20[0-9]{12}");
  std::map<std::string, std::string> tree;
  for (auto& [path, entry] : test::SnapshotTree(out)) {
    std::string body = entry;
    ReplaceAll(body, out.string(), "<OUT>");
    tree[std::regex_replace(path, stamp, "<STAMP>")] = std::regex_replace(body, stamp, "<STAMP>");
  }
  return tree;
}

// Names in many scripts (Chinese, emoji beyond the basic plane, a combining accent
// that no precomposed letter replaces, Hebrew and Arabic written right to left) in
// contacts, WhatsApp chats, notes and a camera-roll file: the "C" locale and a UTF-8
// one recover the same tree, byte for byte and name for name.
TEST_F(RecoverProcessTest, NonAsciiNamesRecoverTheSameTreeUnderEitherLocale) {
  mkbackup::BackupOptions o;
  o.seed = 21;
  o.messages = 40;
  o.contacts = 10;
  o.whatsapp = 30;
  o.notes = 6;
  o.wechat = o.qq = 0;
  const fs::path backup = test::BuildBackup(dir, o);
  const test::Json truth = test::ReadTruth(backup);
  const test::Json* book = test::FindDatabase(truth, "AddressBook.sqlitedb");
  const test::Json* whatsapp = test::FindDatabase(truth, "ChatStorage.sqlite");
  ASSERT_NE(book, nullptr);
  ASSERT_NE(whatsapp, nullptr);
  const std::string chinese = "\xE7\x8E\x8B\xE5\xB0\x8F\xE6\x98\x8E";  // 王小明
  const std::string emoji =
      "Smile \xF0\x9F\x98\x80\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";           // 😀👍🏽
  const std::string combining = "Jose\xCC\x81 Ame\xCC\x81lie";            // e + U+0301
  const std::string hebrew = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D";          // שלום
  const std::string arabic = "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7";  // مرحبا
  const std::vector<std::string> names{chinese, emoji, combining, hebrew, arabic};
  std::string people, chats;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string row = std::to_string(i + 1);
    people += "UPDATE ABPerson SET First='" + names[i] + "', Last='" + names[(i + 1) % 5] +
              "' WHERE ROWID=" + row + ";";
    chats += "UPDATE ZWACHATSESSION SET ZPARTNERNAME='" + names[i] + " " + names[(i + 2) % 5] +
             "' WHERE Z_PK=" + row + ";";
  }
  Exec(test::StoredFile(backup, *book), people);
  Exec(test::StoredFile(backup, *whatsapp), chats);
  // A camera-roll file under a non-ASCII name: the manifest's name is the one recovered.
  const std::string photo = chinese + " " + emoji + " " + combining + " " + hebrew + ".JPG";
  Exec(
      backup / "Manifest.db",
      "UPDATE Files SET relativePath='Media/DCIM/100APPLE/" + photo +
          "' WHERE domain='CameraRollDomain' AND relativePath='Media/DCIM/100APPLE/IMG_0100.JPG';");

  std::map<std::string, std::map<std::string, std::string>> trees;
  for (const char* lang : {"C", "C.UTF-8"}) {
    SCOPED_TRACE(lang);
    test::ScopedEnv env("LANG", lang);
    test::ScopedEnv all("LC_ALL", lang);
    const fs::path out = dir / (std::string("out-") + lang);
    const Ran ran = Recover({backup.string(), "--out", out.string()});
    ASSERT_EQ(ran.code, 0) << ran.output;
    trees[lang] = NormalisedTree(out);
  }
  const auto& c = trees["C"];
  EXPECT_EQ(test::TreeChanges(c, trees["C.UTF-8"]), "");
  EXPECT_EQ(c.size(), trees["C.UTF-8"].size());
  // The names really reached the file names (else the comparison proves little).
  std::set<std::string> seen;
  for (const auto& [path, entry] : c)
    for (const std::string& name : names)
      if (path.find(name) != std::string::npos) seen.insert(name);
  EXPECT_EQ(seen.size(), names.size());
  EXPECT_EQ(c.count("Camera Roll/" + photo), 1u);
}

class InterruptTest : public RecoverProcessTest {
 protected:
  // A backup whose camera-roll files are large, so that copying them takes a while.
  fs::path LargeBackup() {
    mkbackup::BackupOptions o;
    o.seed = 3;
    o.messages = 400;
    o.contacts = 60;
    const fs::path backup = test::BuildBackup(dir, o);
    const test::Json truth = test::ReadTruth(backup);
    for (const test::Json& f : truth["files"].items)
      if (f["domain"].Str() == "CameraRollDomain" && !f["storedAs"].Str().empty()) {
        fs::resize_file(backup / f["storedAs"].Str(), 32u << 20);  // sparse: quick to make
        sources.insert(backup / f["storedAs"].Str());
      }
    return backup;
  }
  // Whether `file` is a whole copy of one of the large stored files.
  bool WholeCopy(const fs::path& file) const {
    for (const fs::path& s : sources)
      if (fs::file_size(s) == fs::file_size(file) && test::ReadFile(s) == test::ReadFile(file))
        return true;
    return false;
  }
  std::set<fs::path> sources;
};

// SIGINT while the backup is still being read: the same cancel as the window's button,
// before anything is written. The output folder is not even made.
TEST_F(InterruptTest, SigintBeforeTheFirstFileWritesNothing) {
  const fs::path backup = LargeBackup();
  const fs::path out = dir / "out";
  platform::Process child;
  ASSERT_EQ(child.Start({Cli().string(), "recover", backup.string(), "--out", out.string()}), 0);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!Catches(child.Pid(), SIGINT) && child.Running() && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  ASSERT_TRUE(Catches(child.Pid(), SIGINT)) << "the command never took SIGINT as a cancel";
  ASSERT_FALSE(fs::exists(out)) << "the output folder was made before the backup was read";
  ASSERT_EQ(::kill(child.Pid(), SIGINT), 0);
  const Ran r = Finish(child);
  EXPECT_EQ(r.code, 130) << r.output;
  EXPECT_NE(r.output.find("cancelled"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(out)) << r.output;
}

// SIGTERM while a large file is being copied: the copy is cut short and removed, the
// summary says "cancelled" with counts that match what is on disk, and the process ends
// with 143.
TEST_F(InterruptTest, SigtermWhileWritingLeavesOnlyWholeFiles) {
  const fs::path backup = LargeBackup();
  const fs::path out = dir / "out";
  platform::Process child;
  ASSERT_EQ(child.Start({Cli().string(), "recover", backup.string(), "--out", out.string()}), 0);
  // Wait until a copy is under way: a temporary file in the camera-roll folder.
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  bool writing = false;
  std::string output;
  while (!writing && child.Running() && Clock::now() < deadline) {
    child.ReadAvailable(output);
    writing = CountFiles(out / "Camera Roll", ".part") > 0;
    if (!writing) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ASSERT_TRUE(writing) << "no copy seen under way; output: " << output;
  ASSERT_EQ(::kill(child.Pid(), SIGTERM), 0);
  Ran r = Finish(child);
  r.output = output + r.output;
  EXPECT_EQ(r.code, 143) << r.output;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.output, m,
                                std::regex("Recovered (\\d+) of (\\d+) item\\(s\\).*cancelled")))
      << r.output;
  EXPECT_LT(std::stoi(m[1]), std::stoi(m[2]));
  EXPECT_EQ(CountFiles(out, ".part"), 0u);
  std::size_t copies = 0;
  for (const auto& e : fs::directory_iterator(out / "Camera Roll")) {
    ++copies;
    EXPECT_TRUE(WholeCopy(e.path())) << e.path();
  }
  // Only camera-roll files came before the signal; each counted one is on disk.
  EXPECT_EQ(static_cast<std::size_t>(std::stoi(m[1])), copies) << r.output;
}

}  // namespace
}  // namespace bv::cli

// The backup arguments that scan, recover and chats share: the folder, the password from
// standard input (the command's own stream, so it is testable) or from a file, and the
// errors a user sees when either cannot be had.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "cli/backup_args.h"
#include "cli/command.h"
#include "encrypt_backup.h"
#include "support.h"

namespace bv::cli {
namespace {

namespace fs = std::filesystem;

struct Parsed {
  bool ok = false;
  bool usage = false;
  std::string error;
  BackupArgs args;
  std::vector<std::string> rest;  // arguments the parser left to the command
};

Parsed Parse(std::vector<std::string> args, const std::string& input = "") {
  Parsed p;
  BackupArgParser parser;
  for (std::size_t i = 0; i < args.size(); ++i)
    if (!parser.Take(args, i)) p.rest.push_back(args[i]);
  std::istringstream in(input);
  p.ok = parser.Finish(in, p.args, p.error, p.usage);
  return p;
}

TEST(BackupArgsTest, PasswordFromTheCommandsStandardInputOrAFile) {
  test::TempDir dir;
  Parsed p = Parse({"--json", "/some/backup", "--password-stdin", "--categories", "notes"},
                   "s\xc3\xa9same \"q\"\r\nsecond line\n");
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.args.folder, "/some/backup");
  EXPECT_TRUE(p.args.passwordGiven);
  EXPECT_EQ(p.args.password, "s\u00e9same \"q\"");
  // The command's own options and their values stay with the command.
  EXPECT_EQ(p.rest, (std::vector<std::string>{"--json", "--categories", "notes"}));

  test::WriteFile(dir / "pw", "from a file\r\nignored");
  p = Parse({"--password-file", (dir / "pw").string(), "/b"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.args.password, "from a file");
  // A last line without its line end, and the empty password, are passwords too.
  test::WriteFile(dir / "pw", "no line end");
  EXPECT_EQ(Parse({"/b", "--password-file", (dir / "pw").string()}).args.password, "no line end");
  test::WriteFile(dir / "pw", "\n");
  p = Parse({"/b", "--password-file", (dir / "pw").string()});
  EXPECT_TRUE(p.ok && p.args.passwordGiven && p.args.password.empty());

  // Without a password option standard input is never touched.
  std::istringstream untouched("keep me\n");
  BackupArgParser parser;
  std::vector<std::string> args{"/b"};
  std::size_t i = 0;
  ASSERT_TRUE(parser.Take(args, i));
  BackupArgs out;
  std::string error;
  bool usage = false;
  ASSERT_TRUE(parser.Finish(untouched, out, error, usage));
  EXPECT_FALSE(out.passwordGiven);
  std::string line;
  std::getline(untouched, line);
  EXPECT_EQ(line, "keep me");
}

TEST(BackupArgsTest, AFileThatCannotBeReadIsSaidSoNotTakenForAWrongPassword) {
  test::TempDir dir;
  fs::create_directories(dir / "folder");
  Parsed p = Parse({"/b", "--password-file", (dir / "folder").string()});
  EXPECT_FALSE(p.ok);
  EXPECT_FALSE(p.usage);
  EXPECT_EQ(p.error,
            "cannot read the password file '" + (dir / "folder").string() + "': Is a directory");
  p = Parse({"/b", "--password-file", (dir / "missing").string()});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.error, "cannot read the password file '" + (dir / "missing").string() +
                         "': No such file or directory");
  test::WriteFile(dir / "huge", std::string(100 * 1024, 'x'));
  p = Parse({"/b", "--password-file", (dir / "huge").string()});
  EXPECT_FALSE(p.ok);
  EXPECT_NE(p.error.find("longer than a password"), std::string::npos);
  if (::geteuid() != 0) {
    test::WriteFile(dir / "locked", "pw\n");
    fs::permissions(dir / "locked", fs::perms::none);
    p = Parse({"/b", "--password-file", (dir / "locked").string()});
    EXPECT_NE(p.error.find("Permission denied"), std::string::npos);
  }
  p = Parse({"/b", "--password-stdin"}, "");
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.error, "no password on standard input");

  // A pipe is a fine place for a password: --password-file <(pass show phone).
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(fifo) << "piped\n"; });
  p = Parse({"/b", "--password-file", fifo.string()});
  writer.join();
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.args.password, "piped");
}

TEST(BackupArgsTest, WrongArgumentsAreUsageErrors) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"/b", "--password-stdin", "--password-file", "f"},
                                             {"/b", "--password-stdin", "--password-stdin"},
                                             {"/b", "--password-file"},
                                             {"--password-stdin"},
                                             {}}) {
    const Parsed p = Parse(args, "pw\n");
    EXPECT_FALSE(p.ok);
    EXPECT_TRUE(p.usage) << p.error;
  }
  EXPECT_EQ(Parse({}).error, "no backup folder given");
  EXPECT_EQ(Parse({"/b", "--password-file"}).error, "--password-file needs the name of a file");
  // A second folder is not the parser's: the command calls it unexpected.
  EXPECT_EQ(Parse({"/b", "/c"}).rest, std::vector<std::string>{"/c"});
}

// The three commands read the same arguments the same way.
TEST(BackupArgsTest, EveryCommandTakesThePasswordFromItsStreams) {
  test::TempDir dir;
  test::ScopedEnv xdg("XDG_DATA_HOME", (dir / "data").string());
  mkbackup::BackupOptions o;
  o.seed = 3;
  o.messages = 5;
  const fs::path plain = test::BuildBackup(dir, o);
  mkbackup::EncryptOptions e;
  e.password = "open \"sesame\"";
  e.dpic = 10;
  e.iter = 10;
  std::string error;
  ASSERT_EQ(mkbackup::EncryptBackup(plain, dir / "enc", e, &error), 0) << error;
  const char* bin = std::getenv("BV_BIN_DIR");
  if (!bin || !fs::exists(fs::path(bin) / "tool")) GTEST_SKIP() << "decryption tool not built";

  auto run = [&](std::vector<std::string> args, const std::string& input) {
    std::ostringstream out, err;
    std::istringstream in(input);
    const int code = RunCli(args, {out, err, in});
    return std::make_pair(code, err.str());
  };
  const std::string enc = (dir / "enc").string();
  auto r = run({"scan", enc, "--categories", "contacts", "--password-stdin"}, e.password + "\n");
  EXPECT_EQ(r.first, kExitOk) << r.second;
  r = run({"scan", enc, "--password-stdin", "--categories", "contacts"}, "wrong\n");
  EXPECT_EQ(r.first, kExitFailed);
  EXPECT_NE(r.second.find("password is wrong"), std::string::npos) << r.second;
  r = run({"chats", enc, "--password-stdin"}, e.password + "\n");
  EXPECT_EQ(r.first, kExitOk) << r.second;
  r = run({"recover", enc, "--categories", "contacts", "--out", (dir / "out").string(),
           "--password-stdin"},
          e.password + "\n");
  EXPECT_EQ(r.first, kExitOk) << r.second;
  r = run({"chats", enc, "--password-stdin"}, "");
  EXPECT_EQ(r.first, kExitFailed);
  EXPECT_NE(r.second.find("no password on standard input"), std::string::npos) << r.second;
  for (const char* command : {"scan", "recover", "chats"}) {
    r = run({command, enc, "--password-stdin", "--password-file", "x", "--out", "o"}, "");
    EXPECT_EQ(r.first, kExitUsage) << command << ": " << r.second;
  }
}

}  // namespace
}  // namespace bv::cli

// The extract program on crafted archives: the relay's gzip-compressed cpio, plain
// archives, members that try to leave the output folder, and damaged input.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"

namespace {

namespace fs = std::filesystem;

struct Entry {
  Entry(std::string n, std::string d, unsigned t = AE_IFREG, std::string l = {})
      : name(std::move(n)), data(std::move(d)), type(t), link(std::move(l)) {}
  std::string name;
  std::string data;
  unsigned type;
  std::string link;  // symlink target or hard-link name
};

// Writes an archive with libarchive: `format` "cpio" (odc) or "tar"; `gzip` adds the
// compression layer.
std::string MakeArchive(const std::vector<Entry>& entries, const std::string& format, bool gzip) {
  std::string out;
  archive* a = archive_write_new();
  if (format == "tar")
    archive_write_set_format_pax_restricted(a);
  else
    archive_write_set_format_cpio(a);
  if (gzip) archive_write_add_filter_gzip(a);
  archive_write_set_bytes_in_last_block(a, 1);
  archive_write_open(
      a, &out, nullptr,
      [](archive*, void* user, const void* data, std::size_t size) -> la_ssize_t {
        static_cast<std::string*>(user)->append(static_cast<const char*>(data), size);
        return static_cast<la_ssize_t>(size);
      },
      nullptr);
  for (const Entry& e : entries) {
    archive_entry* x = archive_entry_new();
    archive_entry_set_pathname(x, e.name.c_str());
    archive_entry_set_filetype(x, e.type);
    archive_entry_set_perm(x, e.type == AE_IFDIR ? 0755 : 0644);
    if (e.type == AE_IFLNK) archive_entry_set_symlink(x, e.link.c_str());
    if (e.type == AE_IFREG && !e.link.empty()) archive_entry_set_hardlink(x, e.link.c_str());
    archive_entry_set_size(
        x, e.type == AE_IFREG && e.link.empty() ? static_cast<la_int64_t>(e.data.size()) : 0);
    archive_write_header(a, x);
    if (e.type == AE_IFREG && e.link.empty()) archive_write_data(a, e.data.data(), e.data.size());
    archive_entry_free(x);
  }
  archive_write_close(a);
  archive_write_free(a);
  return out;
}

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> n{0};
    dir_ = fs::temp_directory_path() /
           ("bv-extract-" + std::to_string(::getpid()) + "-" + std::to_string(n++));
    fs::create_directories(dir_ / "out");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  fs::path Write(const std::string& name, const std::string& data) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << data;
    return p;
  }

  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Runs extract as the device source does; returns its exit code and output.
  int Run(const std::vector<std::string>& args, std::string& output) {
    const char* bin = std::getenv("BV_BIN_DIR");
    const fs::path tool = fs::path(bin != nullptr ? bin : ".") / "extract";
    std::vector<std::string> argv = {tool.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    bv::platform::Process p;
    if (p.Start(argv) != 0) return -1;
    p.CloseInput();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!p.Wait(5)) {
      p.ReadAvailable(output);
      if (std::chrono::steady_clock::now() > deadline) return -2;
    }
    while (p.ReadAvailable(output) > 0) {
    }
    return p.ExitCode();
  }

  int Extract(const fs::path& archive, std::string& output) {
    return Run({"x", "-aoa", archive.string(), "-o" + (dir_ / "out").string()}, output);
  }

  fs::path dir_;
};

TEST_F(ExtractTest, CompressedRelayArchiveLeavesTheCpioBytes) {
  const std::string cpio = MakeArchive({{"./var/mobile/Library/SMS/sms.db", "sms"}}, "cpio", false);
  const fs::path archive = Write(
      "Tarnwick.tmp", MakeArchive({{"./var/mobile/Library/SMS/sms.db", "sms"}}, "cpio", true));
  std::string output;
  EXPECT_EQ(Extract(archive, output), 0) << output;
  EXPECT_NE(output.find("Everything is Ok"), std::string::npos);
  EXPECT_EQ(Read(dir_ / "out/Tarnwick"), cpio);
  // Overwrites what an earlier run left, also a longer file.
  std::ofstream(dir_ / "out/Tarnwick", std::ios::binary) << std::string(cpio.size() * 3, 'x');
  EXPECT_EQ(Extract(archive, output), 0);
  EXPECT_EQ(Read(dir_ / "out/Tarnwick"), cpio);
}

TEST_F(ExtractTest, ArchivesAreUnpackedMemberByMember) {
  for (const std::string format : {"cpio", "tar"}) {
    SCOPED_TRACE(format);
    const fs::path archive = Write("a." + format, MakeArchive({{"dir", "", AE_IFDIR},
                                                               {"dir/a.txt", "alpha"},
                                                               {"./b/c.txt", "gamma"},
                                                               {"dir/rel", "", AE_IFLNK, "a.txt"}},
                                                              format, false));
    std::string output;
    EXPECT_EQ(Extract(archive, output), 0) << output;
    EXPECT_NE(output.find("Everything is Ok"), std::string::npos);
    EXPECT_EQ(Read(dir_ / "out/dir/a.txt"), "alpha");
    EXPECT_EQ(Read(dir_ / "out/b/c.txt"), "gamma");
    EXPECT_TRUE(fs::is_symlink(dir_ / "out/dir/rel"));
  }
}

TEST_F(ExtractTest, NothingIsWrittenOutsideTheOutputFolder) {
  struct Case {
    const char* what;
    std::vector<Entry> entries;
    fs::path outside;  // must not exist afterwards
    std::string format;
  };
  const std::vector<Case> cases = {
      {"parent", {{"../escaped.txt", "x"}, {"ok.txt", "ok"}}, dir_ / "escaped.txt", "cpio"},
      {"deep parent",
       {{"a/../../escaped2.txt", "x"}, {"ok.txt", "ok"}},
       dir_ / "escaped2.txt",
       "cpio"},
      {"absolute",
       {{(dir_ / "absolute.txt").string(), "x"}, {"ok.txt", "ok"}},
       dir_ / "absolute.txt",
       "cpio"},
      {"through a link",
       {{"link", "", AE_IFLNK, dir_.string()}, {"link/through.txt", "x"}, {"ok.txt", "ok"}},
       dir_ / "through.txt",
       "cpio"},
      {"relative link out",
       {{"up", "", AE_IFLNK, ".."}, {"up/through2.txt", "x"}, {"ok.txt", "ok"}},
       dir_ / "through2.txt",
       "cpio"},
      {"hard link out",
       {{"hard", "", AE_IFREG, "../secret"}, {"ok.txt", "ok"}},
       dir_ / "out/hard",
       "tar"},
  };
  std::ofstream(dir_ / "secret") << "secret";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_ / "out");
    fs::create_directories(dir_ / "out");
    const fs::path archive = Write("evil." + c.format, MakeArchive(c.entries, c.format, false));
    std::string output;
    EXPECT_NE(Extract(archive, output), 0);
    EXPECT_EQ(output.find("Everything is Ok"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(fs::symlink_status(c.outside))) << c.outside;
    EXPECT_EQ(Read(dir_ / "out/ok.txt"), "ok") << "the other members are unpacked";
    for (const auto& e : fs::recursive_directory_iterator(dir_ / "out")) {
      if (fs::is_symlink(e.symlink_status())) {
        const fs::path target = fs::read_symlink(e.path());
        EXPECT_TRUE(target.is_relative()) << e.path();
      }
    }
  }
}

TEST_F(ExtractTest, DamagedInputFails) {
  const std::string good =
      MakeArchive({{"./var/mobile/Library/SMS/sms.db", std::string(200000, 's')}}, "cpio", true);
  std::string output;
  // A transfer cut short: no success, but what arrived is kept.
  EXPECT_NE(Extract(Write("cut.tmp", good.substr(0, good.size() / 2)), output), 0);
  EXPECT_EQ(output.find("Everything is Ok"), std::string::npos);
  output.clear();
  EXPECT_NE(Extract(Write("junk.bin", std::string(5000, '\x01')), output), 0);
  EXPECT_EQ(output.find("Everything is Ok"), std::string::npos);
  output.clear();
  EXPECT_NE(Extract(Write("empty.bin", ""), output), 0);
  output.clear();
  EXPECT_NE(Extract(dir_ / "missing.gz", output), 0);
  // A cpio whose last member is cut off.
  const std::string cpio = MakeArchive({{"a", "1"}, {"b", std::string(5000, 'b')}}, "cpio", false);
  output.clear();
  EXPECT_NE(Extract(Write("short.cpio", cpio.substr(0, cpio.size() - 3000)), output), 0);
  EXPECT_EQ(output.find("Everything is Ok"), std::string::npos);
  // Bad command lines.
  EXPECT_EQ(Run({"l", "x"}, output), 7);
  EXPECT_EQ(Run({"x", "-aoa"}, output), 7);
  EXPECT_EQ(Run({"x", "-zz", "a", "-oout"}, output), 7);
}

}  // namespace

// The recover and chats commands over backups written by mkbackup.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "catalogue/heif_picture.h"
#include "cli/command.h"
#include "cli_run.h"
#include "common/hash.h"
#include "common/result_codes.h"
#include "scratch_mount.h"
#include "support.h"
#include "vcard_parser.h"

namespace bv::cli {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

std::map<std::string, std::string> Digests(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file())
      files[fs::relative(e.path(), root).string()] = Sha1Hex(ReadFile(e.path()));
  return files;
}

std::vector<fs::path> Children(const fs::path& folder) {
  std::vector<fs::path> v;
  if (fs::is_directory(folder))
    for (const auto& e : fs::directory_iterator(folder)) v.push_back(e.path());
  std::sort(v.begin(), v.end());
  return v;
}

std::size_t Count(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

class RecoverCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    mkbackup::BackupOptions o;
    o.seed = 11;
    o.messages = 40;
    o.contacts = 12;
    o.calls = 10;
    o.notes = 6;
    o.whatsapp = 20;
    o.media = 6;
    backup_ = new fs::path(test::BuildBackup(*dir_, o));
  }
  static void TearDownTestSuite() {
    delete backup_;
    delete dir_;
  }
  void SetUp() override {
    home_ = std::make_unique<test::TempDir>();
    envHome_ = std::make_unique<test::ScopedEnv>("HOME", home_->path().string());
    envData_ =
        std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", (home_->path() / "data").string());
  }
  fs::path Out(const std::string& name) const { return home_->path() / name; }

  static test::TempDir* dir_;
  static fs::path* backup_;
  std::unique_ptr<test::TempDir> home_;
  std::unique_ptr<test::ScopedEnv> envHome_, envData_;
};
test::TempDir* RecoverCommandTest::dir_ = nullptr;
fs::path* RecoverCommandTest::backup_ = nullptr;

TEST_F(RecoverCommandTest, RecoversEveryCategoryIntoTheProgramsTree) {
  const auto before = Digests(*backup_);
  const fs::path out = Out("out");
  Outcome r = Cli({"recover", backup_->string(), "--out", out.string()});
  ASSERT_EQ(r.code, 0) << r.err << r.out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("Recovered (\\d+) of (\\d+) item")));
  EXPECT_EQ(m[1], m[2]);
  EXPECT_GT(std::stoi(m[1]), 20);

  // Documents: one folder per conversation and chat, each with its files.
  const auto conversations = Children(out / "Message");
  ASSERT_GT(conversations.size(), 1u);
  std::size_t folders = 0;
  for (const fs::path& p : conversations) {
    if (p.filename() == "sms.sqlite") continue;
    ++folders;
    ASSERT_TRUE(fs::is_directory(p)) << p;
    EXPECT_TRUE(std::regex_search(p.filename().string(), std::regex("-\\d{14}$"))) << p;
    std::size_t txt = 0, html = 0;
    for (const fs::path& f : Children(p)) {
      txt += f.extension() == ".txt";
      html += f.extension() == ".html";
      if (f.extension() == ".txt") {
        EXPECT_EQ(ReadFile(f).substr(0, 3), "\xEF\xBB\xBF");
      }
    }
    EXPECT_GE(txt, 1u);
    EXPECT_EQ(txt, html);
  }
  EXPECT_GT(folders, 0u);
  EXPECT_EQ(Sha1Hex(ReadFile(out / "Message" / "sms.sqlite")),
            Sha1Hex(ReadFile(*backup_ / "3d" / "3d0d7e5fb2ce288813306e4d4636395e047a3d28")));

  const auto stamps = Children(out / "Contacts");
  ASSERT_EQ(stamps.size(), 1u);
  const std::string contacts = ReadFile(stamps[0] / "Contacts.html");
  const std::string csv = ReadFile(stamps[0] / "Contacts.csv");
  EXPECT_GT(Count(contacts, "\t<tr>"), 0u);
  EXPECT_EQ(Count(csv, "Name,PhoneOne,"), 1u);
  // The cards a phone can import: one per contact, people without a number included.
  const auto cards = test::ParseVCards(ReadFile(stamps[0] / "Contacts.vcf"));
  EXPECT_EQ(cards.size(), Count(contacts, "\t<tr>"));
  std::size_t withoutPhone = 0;
  for (const test::VCard& card : cards) withoutPhone += card.All("TEL").empty();
  EXPECT_GT(withoutPhone, 0u);
  EXPECT_TRUE(fs::is_regular_file(stamps[0] / "Contacts.sqlite"));
  EXPECT_EQ(Children(out / "CallHistory").size(), 1u);
  EXPECT_EQ(Children(out / "Notes").size(), 1u);
  EXPECT_FALSE(Children(out / "WhatsApp Message").empty());
  EXPECT_FALSE(Children(out / "Camera Roll").empty());

  // The backup folder is unchanged byte for byte.
  EXPECT_EQ(Digests(*backup_), before);

  // A second recovery into the same folder numbers the copies.
  const std::size_t photos = Children(out / "Camera Roll").size();
  Outcome again =
      Cli({"recover", backup_->string(), "--out", out.string(), "--categories", "camera-roll"});
  ASSERT_EQ(again.code, 0) << again.err;
  const auto twice = Children(out / "Camera Roll");
  EXPECT_EQ(twice.size(), 2 * photos);
  std::size_t numbered = 0;
  for (const fs::path& p : twice) numbered += p.stem().string().ends_with("(1)");
  EXPECT_EQ(numbered, photos);
}

// HEIC and AVIF pictures are recovered byte for byte in every media category, and
// --heic-jpeg puts a JPEG that decodes beside each of them (and beside nothing else).
TEST_F(RecoverCommandTest, HeifPicturesByteForByteAndTheirJpegs) {
  const test::Json truth = test::ReadTruth(*backup_);
  std::map<std::string, std::size_t> pictures;  // SHA-1 of a HEIF picture -> count
  std::size_t heif = 0;
  for (const test::Json& f : truth["files"].items) {
    const std::string type = f["type"].Str();
    const std::string key = f["key"].Str();
    // Of the group containers, only WhatsApp's shared media folder is walked.
    const bool walked =
        key.find("AppDomainGroup-") == std::string::npos ||
        key.rfind("AppDomainGroup-group.net.whatsapp.WhatsApp.shared-Message/Media/", 0) == 0;
    if ((type == "heic" || type == "avif") && walked) {
      ++pictures[Sha1Hex(ReadFile(*backup_ / f["storedAs"].Str()))];
      ++heif;
    }
  }
  ASSERT_GT(heif, 10u);
  const std::string media =
      "camera-roll,photo-stream,app-photos,message-attachments,whatsapp-attachments";
  for (bool jpeg : {false, true}) {
    SCOPED_TRACE(jpeg ? "with --heic-jpeg" : "without");
    const fs::path out = Out(jpeg ? "heic-jpeg" : "heic-only");
    std::vector<std::string> args = {"recover",    backup_->string(), "--out",
                                     out.string(), "--categories",    media};
    if (jpeg) args.push_back("--heic-jpeg");
    Outcome r = Cli(args);
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    std::map<std::string, std::size_t> copied;
    std::size_t beside = 0;
    for (const auto& e : fs::recursive_directory_iterator(out)) {
      if (!e.is_regular_file()) continue;
      const std::string ext = e.path().extension().string();
      if (ext == ".HEIC" || ext == ".AVIF") {
        ++copied[Sha1Hex(ReadFile(e.path()))];
        const fs::path j = fs::path(e.path()).replace_extension(".JPG");
        if (!jpeg) continue;
        ASSERT_TRUE(fs::is_regular_file(j)) << j;
        RgbPicture p;
        std::string reason;
        ASSERT_EQ(DecodeJpeg(ReadFile(j), p, &reason), 0) << j << ": " << reason;
        EXPECT_EQ(p.width, mkbackup::kHeifSampleWidth);
        EXPECT_EQ(p.height, mkbackup::kHeifSampleHeight);
        // The camera's Exif data (date taken, model) goes with the picture.
        const std::string bytes = ReadFile(j);
        EXPECT_NE(bytes.find(std::string("Exif\0\0", 6)), std::string::npos) << j;
        EXPECT_NE(bytes.find("iPhone 12"), std::string::npos) << j;
        ++beside;
      }
    }
    EXPECT_EQ(copied, pictures);
    EXPECT_EQ(beside, jpeg ? heif : 0u);
  }
  // The JPEGs are all that the option added.
  std::size_t plain = 0, withJpeg = 0;
  for (const auto& e : fs::recursive_directory_iterator(Out("heic-only")))
    plain += e.is_regular_file();
  for (const auto& e : fs::recursive_directory_iterator(Out("heic-jpeg")))
    withJpeg += e.is_regular_file();
  EXPECT_EQ(withJpeg, plain + heif);
}

TEST_F(RecoverCommandTest, CategoriesAndDeletedOnly) {
  const fs::path out = Out("contacts-only");
  Outcome r = Cli({"recover", backup_->string(), "--out", out.string(), "--categories",
                   "contacts,call-history", "--deleted-only"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const fs::path& p : Children(out)) {
    const std::string name = p.filename().string();
    EXPECT_TRUE(name == "Contacts" || name == "CallHistory") << name;
  }
  // Only deleted records are left: fewer contacts than a full recovery gives.
  const fs::path all = Out("contacts-all");
  ASSERT_EQ(
      Cli({"recover", backup_->string(), "--out", all.string(), "--categories", "contacts"}).code,
      0);
  auto rows = [](const fs::path& root) {
    const auto stamps = Children(root / "Contacts");
    return stamps.empty() ? 0u : Count(ReadFile(stamps[0] / "Contacts.html"), "\t<tr>");
  };
  EXPECT_LT(rows(out), rows(all));
}

// The text a chat's file holds, made from what the chats command shows of it.
std::string ChatFileText(const test::Json& messages, bool deletedOnly) {
  std::string text = "\xEF\xBB\xBF";
  for (const test::Json& m : messages.items) {
    if (deletedOnly && !m["deleted"].boolean) continue;
    std::string body;
    for (char c : m["text"].Str()) {
      if (c == '\n') body += '\r';
      body += c;
    }
    text += m["time"].Str() + " " + (m["isSender"].Int() != 0 ? "Me" : m["sender"].Str()) +
            ":\r\n    " + body + (m["partial"].boolean ? "\xE2\x80\xA6" : "") + "\r\n\r\n";
  }
  return text;
}

// WeChat and QQ chats are recovered as one text per chat under their account, exactly as
// the chats command shows them; with --deleted-only, the chats with deleted messages and
// only those messages.
TEST_F(RecoverCommandTest, ChatAppsAreRecoveredAsTextPerChat) {
  Outcome shown = Cli({"chats", backup_->string(), "--json"});
  ASSERT_EQ(shown.code, 0) << shown.err;
  const test::Json doc = test::Json::Parse(shown.out);
  for (bool deletedOnly : {false, true}) {
    SCOPED_TRACE(deletedOnly ? "deleted only" : "all");
    const fs::path out = Out(deletedOnly ? "chat-apps-deleted" : "chat-apps");
    std::vector<std::string> args = {"recover",    backup_->string(), "--out",
                                     out.string(), "--categories",    "wechat,qq"};
    if (deletedOnly) args.push_back("--deleted-only");
    Outcome r = Cli(args);
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    std::set<std::string> tops;
    for (const fs::path& p : Children(out)) tops.insert(p.filename().string());
    EXPECT_EQ(tops, (std::set<std::string>{"QQ Message", "WeChat Message"}));
    std::size_t files = 0, expected = 0;
    for (const auto& [app, top] : {std::pair{"wechat", "WeChat Message"}, {"qq", "QQ Message"}}) {
      for (const test::Json& account : doc[app]["accounts"].items) {
        const auto folders = Children(out / top);
        const fs::path* folder = nullptr;
        for (const fs::path& f : folders)
          if (std::regex_match(f.filename().string(),
                               std::regex(account["account"].Str() + "-\\d{14}")))
            folder = &f;
        std::size_t chatsWithFiles = 0;
        for (const test::Json& chat : account["chats"].items) {
          if (deletedOnly && chat["deleted"].Int() == 0) continue;
          ++chatsWithFiles;
          ++expected;
          ASSERT_NE(folder, nullptr) << top << " " << account["account"].Str();
          const fs::path file = *folder / (chat["key"].Str() + ".txt");
          ASSERT_TRUE(fs::is_regular_file(file)) << file;
          EXPECT_EQ(ReadFile(file), ChatFileText(chat["messages"], deletedOnly)) << file;
        }
        if (folder) files += Children(*folder).size();
        if (chatsWithFiles == 0) {
          EXPECT_EQ(folder, nullptr);
        }
      }
    }
    EXPECT_GT(expected, 0u);
    EXPECT_EQ(files, expected);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("Recovered (\\d+) of (\\d+) item")));
    EXPECT_EQ(std::stoul(m[1]), expected);
  }
}

TEST_F(RecoverCommandTest, DeletedOnlyWritesTheCarvedRowsAndNothingElse) {
  // What the scan lists as deleted: messages and calls carved from the databases.
  Outcome scan =
      Cli({"scan", backup_->string(), "--json", "--categories", "messages,call-history"});
  ASSERT_EQ(scan.code, 0) << scan.err;
  test::Json doc;
  ASSERT_NO_THROW(doc = test::Json::Parse(scan.out));
  std::size_t deletedMessages = 0, deletedCalls = 0;
  for (const test::Json& c : doc["categories"].items) {
    for (const test::Json& conversation : c["conversations"].items)
      for (const test::Json& m : conversation["messages"].items)
        deletedMessages += m["deleted"].Int() != 0;
    for (const test::Json& call : c["records"].items) deletedCalls += call["deleted"].Int() != 0;
  }
  ASSERT_GT(deletedMessages, 0u) << "mkbackup deletes messages";
  ASSERT_GT(deletedCalls, 0u) << "mkbackup deletes calls";

  const fs::path out = Out("deleted-rows");
  Outcome r = Cli({"recover", backup_->string(), "--out", out.string(), "--categories",
                   "messages,call-history", "--deleted-only"});
  ASSERT_EQ(r.code, 0) << r.err;
  // Each conversation's text file holds its deleted messages only.
  std::size_t written = 0;
  for (const fs::path& conversation : Children(out / "Message"))
    for (const fs::path& file : Children(conversation))
      if (file.extension() == ".txt") written += Count(ReadFile(file), "   Content: ");
  EXPECT_EQ(written, deletedMessages);
  const auto calls = Children(out / "CallHistory");
  ASSERT_EQ(calls.size(), 1u);
  const std::string table = ReadFile(calls[0]);
  // Every row of the call table is a deleted call, in the deleted style.
  EXPECT_EQ(Count(table, "\t<tr"), deletedCalls);
  EXPECT_EQ(Count(table, "\t<tr class=\"deleted\""), deletedCalls);
}

TEST_F(RecoverCommandTest, BadArgumentsAndBadBackups) {
  EXPECT_EQ(Cli({"recover", backup_->string()}).code, kExitUsage);
  EXPECT_EQ(Cli({"recover", "--out", Out("x").string()}).code, kExitUsage);
  EXPECT_EQ(
      Cli({"recover", backup_->string(), "--out", Out("x").string(), "--categories", "nope"}).code,
      kExitUsage);
  EXPECT_EQ(
      Cli({"recover", backup_->string(), "--out", Out("x").string(), "--password", "pw"}).code,
      kExitUsage);
  const fs::path empty = Out("not-a-backup");
  fs::create_directories(empty);
  Outcome r = Cli({"recover", empty.string(), "--out", Out("y").string()});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("Info.plist"), std::string::npos);
}

// An output folder that is the backup, lies inside it, or reaches it through a link or
// "..": refused before anything is read or made, and the backup stays as it was.
TEST_F(RecoverCommandTest, AnOutputFolderInsideTheBackupIsRefused) {
  const auto before = Digests(*backup_);
  fs::create_directory_symlink(*backup_, Out("link-to-backup"));
  const std::vector<fs::path> inside = {
      *backup_,
      *backup_ / "recovered",
      *backup_ / "3d",
      Out("link-to-backup") / "recovered",
      *backup_ / "nothing-yet" / ".." / "recovered",
  };
  for (const fs::path& out : inside) {
    SCOPED_TRACE(out);
    Outcome r = Cli({"recover", backup_->string(), "--out", out.string()});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find("backup folder"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(Digests(*backup_), before);
  EXPECT_FALSE(fs::exists(*backup_ / "recovered"));
  EXPECT_FALSE(fs::exists(*backup_ / "nothing-yet"));
}

// A backup that cannot be opened leaves no output folder behind.
TEST_F(RecoverCommandTest, NoOutputFolderBeforeTheBackupHasOpened) {
  mkbackup::BackupOptions o;
  o.seed = 5;
  o.messages = o.contacts = 5;
  const fs::path broken = test::BuildBackup(*home_, o, "broken");
  test::WriteFile(broken / "Manifest.db", std::string(8192, 'x'));
  const fs::path out = Out("never-made");
  Outcome r = Cli({"recover", broken.string(), "--out", out.string()});
  EXPECT_NE(r.code, kExitOk) << r.out;
  EXPECT_FALSE(fs::exists(out)) << r.err;
}

// A read-only output volume: every item fails with the system's reason and the summary
// says so; nothing is counted as recovered.
TEST_F(RecoverCommandTest, AReadOnlyOutputFolderIsNoSuccess) {
  const fs::path out = Out("read-only");
  test::ScratchMount readOnly(out, "size=65536", true);
  if (!readOnly.ok()) GTEST_SKIP() << readOnly.error();
  Outcome r = Cli({"recover", backup_->string(), "--out", out.string()});
  EXPECT_EQ(r.code, kExitFailed);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("Recovered (\\d+) of (\\d+) item\\(s\\)")))
      << r.out;
  EXPECT_EQ(m[1], "0");
  EXPECT_GT(std::stoi(m[2]), 20);
  EXPECT_EQ(Count(r.err, "failed: "), Count(r.err, ": Read-only file system\n")) << r.err;
  EXPECT_EQ(r.err.find("The parameter is incorrect."), std::string::npos);
  EXPECT_TRUE(fs::is_empty(out));
}

// Every WeChat and QQ message that mkbackup deleted and whose bytes are still in the
// store (single rows, and whole conversations whose table was dropped) is shown as a
// deleted message with its own text.
// and nothing else: no live message, no message twice. A message whose end was
// overwritten is shown as partial, its text the beginning of the deleted one.
TEST_F(RecoverCommandTest, ChatsShowEveryDeletedMessageStillInTheStore) {
  Outcome r = Cli({"chats", backup_->string(), "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  test::Json doc;
  ASSERT_NO_THROW(doc = test::Json::Parse(r.out)) << r.out;
  std::multiset<std::string> shown;       // whole deleted messages
  std::vector<std::string> shownPartial;  // the kept beginnings of partial ones
  for (const char* app : {"wechat", "qq"})
    for (const test::Json& account : doc[app]["accounts"].items)
      for (const test::Json& chat : account["chats"].items)
        for (const test::Json& m : chat["messages"].items) {
          ASSERT_EQ(m["partial"].kind, test::Json::Kind::kBool);
          if (m["status"].Int() == 0) {
            EXPECT_FALSE(m["partial"].boolean);
          } else if (m["partial"].boolean) {
            shownPartial.push_back(m["text"].Str());
          } else {
            shown.insert(m["text"].Str());
          }
        }
  const test::Json truth = test::ReadTruth(*backup_);
  std::set<std::string> deleted, live;
  int expected = 0;
  auto textOf = [](const test::Json& values) {
    return values.Has("Message") ? values["Message"].Str() : values["content"].Str();
  };
  for (const char* label : {"MM.sqlite", "QQ.db"}) {
    for (const test::Json* db : test::FindDatabases(truth, label)) {
      for (const test::Json& table : (*db)["tables"].items)
        for (const test::Json& row : table["rows"].items)
          if (row["values"].Has("Message") || row["values"].Has("content"))
            live.insert(textOf(row["values"]));
      for (const test::Json& row : (*db)["deleted"].items) {
        const std::string text = textOf(row["values"]);
        deleted.insert(text);
        if (row["probeInFile"].kind != test::Json::Kind::kBool || !row["probeInFile"].boolean)
          continue;
        if (text.empty()) continue;
        ++expected;
        // Whole, or (a text longer than a page, its end on overflow pages) partial.
        bool partly = false;
        for (const std::string& part : shownPartial) partly |= text.rfind(part, 0) == 0;
        EXPECT_TRUE(shown.count(text) == 1u || (shown.count(text) == 0 && partly))
            << label << " " << row["table"].Str() << " (" << row["how"].Str() << "): " << text;
      }
    }
  }
  EXPECT_GT(expected, 5);
  for (const std::string& text : shown) {
    EXPECT_EQ(deleted.count(text), 1u) << "no deleted row: " << text;
    EXPECT_EQ(live.count(text), 0u) << "a live row shown as deleted: " << text;
    EXPECT_EQ(shown.count(text), 1u) << "shown twice: " << text;
  }
  for (const std::string& part : shownPartial) {
    bool begins = false;
    for (const std::string& text : deleted) begins |= text.rfind(part, 0) == 0;
    EXPECT_TRUE(begins) << "a partial text that begins no deleted row: " << part;
  }
}

TEST_F(RecoverCommandTest, ChatsListsAccountsWithLiveAndDeletedMessages) {
  Outcome r = Cli({"chats", backup_->string(), "--json"});
  test::Json doc;
  ASSERT_NO_THROW(doc = test::Json::Parse(r.out)) << r.out;
  for (const char* app : {"wechat", "qq"}) {
    SCOPED_TRACE(app);
    const test::Json& part = doc[app];
    ASSERT_FALSE(part.IsNull());
    EXPECT_EQ(part["result"].Int(), 0);
    ASSERT_GT(part["accounts"].size(), 0u);
    std::int64_t live = 0, deleted = 0;
    for (const test::Json& account : part["accounts"].items)
      for (const test::Json& chat : account["chats"].items) {
        live += chat["live"].Int();
        deleted += chat["deleted"].Int();
        EXPECT_EQ(static_cast<std::int64_t>(chat["messages"].size()),
                  chat["live"].Int() + chat["deleted"].Int());
      }
    EXPECT_GT(live, 0);
    // mkbackup leaves deleted rows in every store (WeChat's in the phone's own column
    // order, TableVer first); some of each come back.
    EXPECT_GT(deleted, 0);
  }
  EXPECT_EQ(r.code, 0) << r.err;
  Outcome text = Cli({"chats", backup_->string()});
  EXPECT_NE(text.out.find("WeChat:"), std::string::npos);
  EXPECT_NE(text.out.find("QQ:"), std::string::npos);
}

}  // namespace
}  // namespace bv::cli

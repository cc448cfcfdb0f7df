// What the command line tells about a backup it could read only in part, or not at all:
// one warning per category whose source could not be read (with the reason in words),
// the JSON's "error" per category, exit code 3; a backup that does not open says why in
// words and prints nothing else; carve refuses a table that is not there.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "cli/command.h"
#include "cli_run.h"
#include "support.h"

namespace bv::cli {
namespace {

namespace fs = std::filesystem;
using test::Json;

std::size_t Lines(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

class ScanProblemsTest : public ::testing::Test {
 protected:
  fs::path Build(mkbackup::Layout layout, const std::string& name) {
    mkbackup::BackupOptions o;
    o.layout = layout;
    o.seed = 8;
    return test::BuildBackup(dir_, o, name);
  }
  static fs::path Db(const fs::path& backup, const std::string& label) {
    const Json truth = test::ReadTruth(backup);
    return test::StoredFile(backup, *test::FindDatabase(truth, label));
  }

  test::TempDir dir_;
  test::ScopedEnv xdg_{"XDG_DATA_HOME", (dir_ / "data").string()};
};

TEST_F(ScanProblemsTest, ADamagedCalendarDatabaseWarnsForEventsAndTheOlderSystemsReminders) {
  for (const auto layout : {mkbackup::Layout::kNewer, mkbackup::Layout::kOlder}) {
    const bool newer = layout == mkbackup::Layout::kNewer;
    const fs::path backup = Build(layout, newer ? "cal-newer" : "cal-older");
    test::WriteFile(Db(backup, "Calendar.sqlitedb"), std::string(4096, 'x'));
    const Outcome r = Cli(
        {"scan", backup.string(), "--categories", "reminder,calendar,safari-bookmark", "--json"});
    EXPECT_EQ(r.code, kExitWarnings) << r.err;
    // iOS 14 keeps reminders in stores of their own; iOS 9 in the calendar database.
    EXPECT_EQ(Lines(r.err, "warning: "), newer ? 1u : 2u) << r.err;
    const std::string damaged = "the calendar database is damaged: file is not a database";
    const Json doc = Json::Parse(r.out);
    int seen = 0;
    for (const Json& c : doc["categories"].items) {
      const std::string name = c["name"].Str();
      if (name == "Calendar" || (name == "Reminder" && !newer)) {
        EXPECT_EQ(c["error"].Str(), damaged) << name;
        ++seen;
      } else if (name == "Reminder" || name == "Safari Bookmark") {
        EXPECT_EQ(c["error"].kind, Json::Kind::kNull) << name;
        EXPECT_GT(c["count"].Int(), 0) << name;
        ++seen;
      }
    }
    EXPECT_EQ(seen, 3);
  }
}

// Systems before the reminders app and Bookmarks.db: the categories are empty, and
// nothing is said about them.
TEST_F(ScanProblemsTest, ABackupOfASystemWithoutTheNewerDatabasesScansWithoutWarnings) {
  mkbackup::BackupOptions o;
  o.layout = mkbackup::Layout::kOlder;
  o.iosVersion = "4.2.1";
  o.seed = 8;
  const fs::path backup = test::BuildBackup(dir_, o, "ios4");
  const Outcome r =
      Cli({"scan", backup.string(), "--categories", "reminder,calendar,safari-bookmark", "--json"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.err, "");
  const Json doc = Json::Parse(r.out);
  for (const Json& c : doc["categories"].items) {
    EXPECT_EQ(c["error"].kind, Json::Kind::kNull) << c["name"].Str();
    if (c["name"].Str() == "Calendar") {
      EXPECT_GT(c["count"].Int(), 0);
    }
  }
}

TEST_F(ScanProblemsTest, ADamagedRecordDatabaseIsAWarningNotAnEmptyCategory) {
  const fs::path backup = Build(mkbackup::Layout::kNewer, "b");
  test::WriteFile(Db(backup, "sms.db"), std::string(4096, 'x'));
  fs::remove(Db(backup, "AddressBook.sqlitedb"));

  Outcome r = Cli({"scan", backup.string(), "--json"});
  EXPECT_EQ(r.code, kExitWarnings) << r.err;
  EXPECT_NE(r.err.find("backvault-cli scan: warning: Messages: the message database is damaged: "
                       "file is not a database\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("warning: Contacts: the address book is missing from the backup\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Lines(r.err, "warning: "), 2u) << r.err;
  const Json doc = Json::Parse(r.out);
  for (const Json& c : doc["categories"].items) {
    const std::string name = c["name"].Str();
    if (name == "Messages") {
      EXPECT_EQ(c["error"].Str(), "the message database is damaged: file is not a database");
    } else if (name == "Contacts") {
      EXPECT_EQ(c["error"].Str(), "the address book is missing from the backup");
    } else {
      EXPECT_EQ(c["error"].kind, Json::Kind::kNull) << name;
    }
  }

  // Text: the table as always on standard output, the warnings beside it.
  r = Cli({"scan", backup.string(), "--categories", "messages,notes"});
  EXPECT_EQ(r.code, kExitWarnings);
  EXPECT_NE(r.out.find("Messages (0)"), std::string::npos) << r.out;
  EXPECT_EQ(Lines(r.err, "warning: "), 1u) << r.err;
  // Not chosen, not warned about.
  r = Cli({"scan", backup.string(), "--categories", "notes"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.err, "");

  // recover says the same and finishes with the same code.
  r = Cli({"recover", backup.string(), "--categories", "messages,notes", "--out",
           (dir_ / "out").string()});
  EXPECT_EQ(r.code, kExitWarnings) << r.err;
  EXPECT_NE(r.err.find("backvault-cli recover: warning: Messages: the message database is "
                       "damaged: file is not a database\n"),
            std::string::npos)
      << r.err;
}

TEST_F(ScanProblemsTest, ACutManifestWarnsForEveryCategoryItLists) {
  const fs::path backup = Build(mkbackup::Layout::kOlder, "old");
  const std::string mbdb = test::ReadFile(backup / "Manifest.mbdb");
  const Outcome whole = Cli({"scan", backup.string(), "--json"});
  ASSERT_EQ(whole.code, kExitOk) << whole.err;
  test::WriteFile(backup / "Manifest.mbdb", mbdb.substr(0, mbdb.size() * 2 / 5));

  const Outcome r = Cli({"scan", backup.string(), "--json"});
  EXPECT_EQ(r.code, kExitWarnings) << r.err;
  const Json before = Json::Parse(whole.out);
  const Json after = Json::Parse(r.out);
  std::int64_t lost = 0;
  for (std::size_t i = 0; i < after["categories"].size(); ++i) {
    const Json& c = after["categories"][i];
    const std::string name = c["name"].Str();
    lost += before["categories"][i]["count"].Int() - c["count"].Int();
    const bool listed = name == "Camera Roll" || name == "Photo Stream" || name == "App Photos" ||
                        name == "App Videos" || name == "Message attachments" ||
                        name == "WhatsApp attachments";
    if (listed) {
      EXPECT_EQ(c["error"].Str().rfind("Manifest.mbdb is cut short after ", 0), 0u) << name;
      EXPECT_NE(r.err.find("warning: " + name + ": Manifest.mbdb is cut short"), std::string::npos)
          << name;
    } else if (name != "WhatsApp") {
      // Read by their fixed names, not through the manifest.
      EXPECT_EQ(c["error"].kind, Json::Kind::kNull) << name;
    }
  }
  EXPECT_GT(lost, 0) << "the cut should have cost some items";
}

TEST_F(ScanProblemsTest, ABackupThatDoesNotOpenSaysWhyAndPrintsNothingElse) {
  const fs::path backup = Build(mkbackup::Layout::kNewer, "broken");
  test::WriteFile(backup / "Manifest.db", "this manifest is no database at all, just text.");
  for (const bool json : {false, true}) {
    std::vector<std::string> args = {"scan", backup.string()};
    if (json) args.push_back("--json");
    const Outcome r = Cli(args);
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "backvault-cli scan: the backup could not be opened: Manifest.db is damaged: file "
              "is not a database\n");
  }
  const Outcome r = Cli({"recover", backup.string(), "--out", (dir_ / "out").string()});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Manifest.db is damaged: file is not a database"), std::string::npos);

  // A FIFO in place of the manifest or of Info.plist: at once, and said as it is.
  fs::remove(backup / "Manifest.db");
  ASSERT_EQ(::mkfifo((backup / "Manifest.db").c_str(), 0600), 0);
  const Outcome fifo = Cli({"scan", backup.string()});
  EXPECT_EQ(fifo.code, kExitFailed);
  EXPECT_EQ(fifo.err,
            "backvault-cli scan: the backup could not be opened: Manifest.db is not a regular "
            "file\n");
  const std::string info = test::ReadFile(backup / "Info.plist");
  fs::remove(backup / "Info.plist");
  ASSERT_EQ(::mkfifo((backup / "Info.plist").c_str(), 0600), 0);
  const Outcome plist = Cli({"scan", backup.string()});
  EXPECT_EQ(plist.code, kExitFailed);
  EXPECT_EQ(plist.err, "backvault-cli scan: the Info.plist of '" + backup.string() +
                           "' cannot be read: not a regular file\n");
  fs::remove(backup / "Info.plist");
  test::WriteFile(backup / "Info.plist", info);

  fs::remove(backup / "Manifest.db");
  const Outcome none = Cli({"scan", backup.string()});
  EXPECT_EQ(none.code, kExitFailed);
  EXPECT_EQ(none.err,
            "backvault-cli scan: the backup could not be opened: the folder has neither "
            "Manifest.db nor Manifest.mbdb\n");
}

TEST_F(ScanProblemsTest, CarveRefusesATableThatIsNotThere) {
  const fs::path backup = Build(mkbackup::Layout::kNewer, "carve");
  const fs::path sms = Db(backup, "sms.db");
  Outcome r = Cli({"carve", sms.string(), "no_such_table"});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "carve: " + sms.string() + " has no table 'no_such_table'\n");
  r = Cli({"carve", sms.string(), "message"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("live rows"), std::string::npos);
}

}  // namespace
}  // namespace bv::cli

// mkbackup content: deleted rows gone from the tables but present in the files,
// freelist pages and overflow rows, byte-identical output per seed, media of every
// detected kind, the truth file's escaping, and the command line.
#include <gtest/gtest.h>

#include "catalogue/discovery.h"
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "support.h"

namespace {

namespace fs = std::filesystem;
using bv::test::Json;

std::uint32_t Be32At(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
         static_cast<unsigned char>(bytes[at + 3]);
}

bool RowExists(sqlite3* db, const std::string& table, std::int64_t rowid, bool* tableExists) {
  sqlite3_stmt* st = nullptr;
  std::string sql = "SELECT 1 FROM \"" + table + "\" WHERE rowid=" + std::to_string(rowid);
  *tableExists = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK;
  bool found = *tableExists && sqlite3_step(st) == SQLITE_ROW;
  sqlite3_finalize(st);
  return found;
}

class ContentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new bv::test::TempDir();
    bv::mkbackup::BackupOptions o;
    o.seed = 9;
    o.messages = 1200;
    o.contacts = 60;
    o.calls = 80;
    o.notes = 30;
    o.whatsapp = 200;
    o.wechat = 1600;
    o.qq = 1000;
    o.media = 30;
    backup_ = new fs::path(bv::test::BuildBackup(*dir_, o));
    truth_ = new Json(bv::test::ReadTruth(*backup_));
  }
  static void TearDownTestSuite() {
    delete truth_;
    delete backup_;
    delete dir_;
  }
  static bv::test::TempDir* dir_;
  static fs::path* backup_;
  static Json* truth_;
};

bv::test::TempDir* ContentTest::dir_ = nullptr;
fs::path* ContentTest::backup_ = nullptr;
Json* ContentTest::truth_ = nullptr;

TEST_F(ContentTest, DeletedRowsAreGoneButTheirBytesStay) {
  std::map<std::string, int> found, missing;
  for (const Json& db : (*truth_)["databases"].items) {
    const fs::path file = bv::test::StoredFile(*backup_, db);
    const std::string bytes = bv::test::ReadFile(file);
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.string().c_str(), &h, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    for (const Json* d : bv::test::DeletedRows(db)) {
      std::string table = (*d)["table"].Str();
      const std::string how = (*d)["how"].Str();
      if (how == "fts") table += "_content";  // the search table's rows live there
      bool tableExists = false;
      EXPECT_FALSE(RowExists(h, table, (*d)["rowid"].Int(), &tableExists))
          << db["label"].Str() << " " << table << " " << (*d)["rowid"].Int();
      EXPECT_EQ(tableExists, how != "table") << table;
      const std::string probe = (*d)["probe"].Str();
      if (probe.empty()) continue;
      const bool inFile = bytes.find(probe) != std::string::npos;
      EXPECT_EQ((*d)["probeInFile"].boolean, inFile) << db["label"].Str() << ": " << probe;
      ++(inFile ? found : missing)[how];
    }
    sqlite3_close(h);
  }
  // Single rows and dropped tables keep every text; runs lose only the rows on the
  // pages that the emptying merged.
  EXPECT_GT(found["row"], 40);
  EXPECT_EQ(missing["row"], 0);
  EXPECT_GT(found["table"], 200);
  EXPECT_EQ(missing["table"], 0);
  EXPECT_GT(found["page"], 3 * missing["page"]);
}

TEST_F(ContentTest, ChatStoresHaveFreelistPagesOverflowRowsAndVariedPageSizes) {
  std::set<int> pageSizes;
  for (const char* label : {"MM.sqlite", "QQ.db"}) {
    auto dbs = bv::test::FindDatabases(*truth_, label);
    ASSERT_EQ(dbs.size(), 2u) << label;
    for (const Json* db : dbs) {
      const std::string bytes = bv::test::ReadFile(bv::test::StoredFile(*backup_, *db));
      ASSERT_GT(bytes.size(), 100u);
      int pageSize =
          static_cast<unsigned char>(bytes[16]) << 8 | static_cast<unsigned char>(bytes[17]);
      if (pageSize == 1) pageSize = 65536;
      EXPECT_EQ(pageSize, (*db)["pageSize"].Int());
      pageSizes.insert(pageSize);
      EXPECT_GT(Be32At(bytes, 36), 0u) << label << ": no freelist pages";
      // Some live text is longer than a page, so it spills into overflow pages.
      bool overflow = false;
      for (const Json& t : (*db)["tables"].items)
        for (const Json& row : t["rows"].items)
          for (const auto& [column, value] : row["values"].members)
            if (value.kind == Json::Kind::kString &&
                static_cast<int>(value.Str().size()) > pageSize)
              overflow = true;
      EXPECT_TRUE(overflow) << label << " page size " << pageSize;
    }
  }
  EXPECT_EQ(pageSizes, (std::set<int>{1024, 4096, 65536}));
}

TEST_F(ContentTest, MediaCoverEveryDetectedKind) {
  // First bytes of each kind as the type detection looks for them.
  auto at = [](const std::string& b, std::size_t off, const std::string& s) {
    return b.size() >= off + s.size() && b.compare(off, s.size(), s) == 0;
  };
  std::map<std::string, int> seen;
  for (const Json& f : (*truth_)["files"].items) {
    if (f["directory"].boolean) continue;
    const std::string type = f["type"].Str();
    if (type == "sqlite" || type == "plist" || type == "empty") continue;
    const std::string b = bv::test::ReadFile(*backup_ / f["storedAs"].Str());
    if (b.size() < 512) {
      ++seen["short"];
      continue;
    }
    bool ok = false;
    if (type == "jpg")
      ok = at(b, 0, "\xFF\xD8\xFF\xE0") ? at(b, 6, "JFIF")
                                        : (at(b, 0, "\xFF\xD8\xFF\xE1") && at(b, 6, "Exif"));
    if (type == "png") ok = at(b, 0, "\x89PNG\r\n\x1A\n");
    if (type == "gif") ok = at(b, 0, "GIF87a") || at(b, 0, "GIF89a");
    if (type == "bmp") ok = at(b, 0, "BM") && Be32At(b, 14) == 0x28000000u;
    if (type == "ico") ok = at(b, 0, std::string("\0\0\1\0", 4));
    if (type == "mp4") ok = at(b, 4, "ftyp") && (at(b, 8, "iso") || at(b, 8, "mp42"));
    if (type == "3gp") ok = at(b, 4, "ftyp") && at(b, 8, "3gp");
    if (type == "mov") ok = at(b, 0, "moov") || (at(b, 4, "ftyp") && at(b, 8, "qt  "));
    if (type == "heic") ok = at(b, 4, "ftyp") && (at(b, 8, "heic") || at(b, 8, "mif1"));
    if (type == "avif") ok = at(b, 4, "ftyp") && at(b, 8, "avif");
    if (type == "mp3") ok = at(b, 0, "ID3") && (static_cast<unsigned char>(b[5]) & 0x1F) == 0;
    if (type == "mid") ok = at(b, 0, std::string("MThd\0\0\0\6", 8)) && at(b, 14, "MTrk");
    if (type == "wav") ok = at(b, 0, "RIFF") && at(b, 8, "WAVEfmt ");
    if (type == "avi") ok = at(b, 0, "RIFF") && at(b, 8, "AVI LIST");
    if (type == "wmv") ok = at(b, 0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11");
    if (type == "rmvb") ok = at(b, 0, ".RMF");
    if (type == "mpeg") {
      const std::string head = b.substr(0, 32);
      ok = (at(b, 0, std::string("\0\0\1\xBA", 4)) &&
            head.find(std::string("\0\0\1\xBB", 4)) != std::string::npos) ||
           (at(b, 0, std::string("\0\0\1\xB3", 4)) &&
            head.find(std::string("\0\0\1\xB8", 4)) != std::string::npos);
    }
    EXPECT_TRUE(ok) << type << " " << f["key"].Str();
    std::string variant = type;
    if (type == "gif" && at(b, 0, "GIF87a")) variant += "87";
    if (type == "mov" && at(b, 0, "moov")) variant += "-moov";
    if (type == "jpg" && at(b, 6, "Exif")) variant += "-exif";
    if (type == "mp4" && at(b, 8, "mp42")) variant += "-mp42";
    if (type == "mpeg" && at(b, 3, "\xB3")) variant += "-es";
    if (type == "heic" && at(b, 8, "mif1")) variant += "-mif1";
    ++seen[variant];
  }
  for (const char* kind :
       {"jpg",      "jpg-exif", "png",  "gif",      "gif87", "bmp",       "ico",  "mp4",
        "mp4-mp42", "3gp",      "mov",  "mov-moov", "mp3",   "mid",       "wav",  "avi",
        "wmv",      "rmvb",     "mpeg", "mpeg-es",  "heic",  "heic-mif1", "avif", "short"})
    EXPECT_GT(seen[kind], 0) << kind;
  // Placement: Camera Roll, Photo Stream, attachments, app and group containers.
  std::set<std::string> places;
  for (const Json& f : (*truth_)["files"].items) {
    const std::string key = f["key"].Str();
    for (const char* p :
         {"CameraRollDomain-Media/DCIM/", "MediaDomain-Media/PhotoStreamsData/", "/Attachments/",
          "AppDomain-com.", "AppDomain-net.", "AppDomain-org.", "AppDomain-net.whatsapp.WhatsApp",
          "AppDomainGroup-group.net.whatsapp.WhatsApp.shared"})
      if (key.find(p) != std::string::npos) places.insert(p);
  }
  EXPECT_EQ(places.size(), 8u);
}

TEST(MkbackupDeterminism, SameSeedGivesIdenticalBytesOtherSeedDoesNot) {
  bv::test::TempDir dir;
  bv::mkbackup::BackupOptions o;
  o.seed = 77;
  o.media = 5;
  o.manifestExtra = 10;
  for (auto layout : {bv::mkbackup::Layout::kNewer, bv::mkbackup::Layout::kOlder}) {
    o.layout = layout;
    o.seed = 77;
    const fs::path a = bv::test::BuildBackup(dir, o, "a");
    const fs::path b = bv::test::BuildBackup(dir, o, "b");
    o.seed = 78;
    const fs::path c = bv::test::BuildBackup(dir, o, "c");
    std::size_t compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(a)) {
      if (!entry.is_regular_file()) continue;
      const fs::path rel = fs::relative(entry.path(), a);
      ASSERT_TRUE(fs::exists(b / rel)) << rel;
      EXPECT_EQ(bv::test::ReadFile(entry.path()), bv::test::ReadFile(b / rel)) << rel;
      ++compared;
    }
    std::size_t inB = 0;
    for (const auto& entry : fs::recursive_directory_iterator(b)) inB += entry.is_regular_file();
    EXPECT_EQ(compared, inB);
    EXPECT_GT(compared, 100u);
    EXPECT_NE(bv::test::ReadFile(a / "mkbackup-truth.json"),
              bv::test::ReadFile(c / "mkbackup-truth.json"));
    fs::remove_all(a);
    fs::remove_all(b);
    fs::remove_all(c);
  }
}

TEST(MkbackupTruth, TextsWithQuotesAndControlsSurviveTheJson) {
  bv::test::TempDir dir;
  bv::mkbackup::BackupOptions o;
  o.displayName = "Tom & Ann's \"phone\"\\\t\x01 \xE6\x9D\x8E";
  o.messages = 5;
  const fs::path backup = bv::test::BuildBackup(dir, o);
  const Json truth = bv::test::ReadTruth(backup);
  EXPECT_EQ(truth["device"]["Display Name"].Str(), o.displayName);
  // Info.plist holds it escaped for XML.
  EXPECT_NE(bv::test::ReadFile(backup / "Info.plist").find("Tom &amp; Ann's"), std::string::npos);
  // The live rows of the truth are the rows in the database.
  const Json* sms = bv::test::FindDatabase(truth, "sms.db");
  ASSERT_NE(sms, nullptr);
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open_v2(bv::test::StoredFile(backup, *sms).string().c_str(), &h,
                            SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(h, "SELECT ROWID, text FROM message ORDER BY ROWID", -1, &st, nullptr),
      SQLITE_OK);
  auto rows = bv::test::LiveRows(*sms, "message");
  std::size_t i = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    ASSERT_LT(i, rows.size());
    EXPECT_EQ(sqlite3_column_int64(st, 0), (*rows[i])["rowid"].Int());
    const unsigned char* text = sqlite3_column_text(st, 1);
    const Json& expected = (*rows[i])["values"]["text"];
    if (text) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(text)), expected.Str());
    } else {
      EXPECT_TRUE(expected.IsNull());
    }
    ++i;
  }
  EXPECT_EQ(i, rows.size());
  sqlite3_finalize(st);
  sqlite3_close(h);
}

// Chat stores of chosen page sizes that went on being used: the truth's live rows are
// what SQLite reads from each table, updates included, and every kind of deletion is
// there.
TEST(MkbackupChatChurn, TruthFollowsUpdatesAndDeletions) {
  bv::test::TempDir dir;
  bv::mkbackup::BackupOptions o;
  o.messages = o.contacts = o.calls = o.notes = o.whatsapp = 0;
  o.wechat = o.qq = 1400;
  o.wechatPageSizes = o.qqPageSizes = {2048, 8192};
  o.chatChurn = true;
  const fs::path backup = bv::test::BuildBackup(dir, o);
  const Json truth = bv::test::ReadTruth(backup);
  for (const char* label : {"MM.sqlite", "QQ.db"}) {
    const auto dbs = bv::test::FindDatabases(truth, label);
    ASSERT_EQ(dbs.size(), 2u) << label;
    for (const Json* db : dbs) {
      const fs::path file = bv::test::StoredFile(backup, *db);
      const std::string bytes = bv::test::ReadFile(file);
      int pageSize =
          static_cast<unsigned char>(bytes[16]) << 8 | static_cast<unsigned char>(bytes[17]);
      EXPECT_EQ(pageSize, (*db)["pageSize"].Int());
      sqlite3* h = nullptr;
      ASSERT_EQ(sqlite3_open_v2(file.string().c_str(), &h, SQLITE_OPEN_READONLY, nullptr),
                SQLITE_OK);
      std::set<std::string> kinds;
      for (const Json* d : bv::test::DeletedRows(*db)) kinds.insert((*d)["how"].Str());
      const std::set<std::string> expected =
          std::string(label) == "MM.sqlite"
              ? std::set<std::string>{"all", "churn", "clear", "page", "row", "table"}
              : std::set<std::string>{"churn", "clear", "page", "row", "table"};
      EXPECT_EQ(kinds, expected) << label;
      int updated = 0;
      for (const Json& t : (*db)["tables"].items) {
        const std::string table = t["name"].Str();
        if (table.rfind("Chat_", 0) != 0 && table.rfind("tb_c2cMsg_", 0) != 0) continue;
        bool dropped = false;
        for (const Json& name : (*db)["droppedTables"].items) dropped |= name.Str() == table;
        if (dropped) continue;
        std::map<std::int64_t, std::vector<std::string>> inFile;
        const Json* first = t["rows"].items.empty() ? nullptr : &t["rows"].items.front();
        std::vector<std::string> columns;
        if (first)
          for (const auto& [name, value] : (*first)["values"].members) columns.push_back(name);
        std::string sql = "SELECT rowid";
        for (const std::string& c : columns) sql += ", \"" + c + "\"";
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(
            sqlite3_prepare_v2(h, (sql + " FROM \"" + table + "\"").c_str(), -1, &st, nullptr),
            SQLITE_OK)
            << table;
        while (sqlite3_step(st) == SQLITE_ROW) {
          std::vector<std::string> row;
          for (int c = 1; c <= static_cast<int>(columns.size()); ++c) {
            const unsigned char* text = sqlite3_column_text(st, c);
            row.push_back(text ? reinterpret_cast<const char*>(text) : "null");
          }
          inFile[sqlite3_column_int64(st, 0)] = row;
        }
        sqlite3_finalize(st);
        ASSERT_EQ(inFile.size(), t["rows"].size()) << table;
        for (const Json& row : t["rows"].items) {
          std::vector<std::string> values;
          for (const auto& [name, value] : row["values"].members)
            values.push_back(value.kind == Json::Kind::kNull ? "null" : value.Str());
          EXPECT_EQ(inFile[row["rowid"].Int()], values) << table << " " << row["rowid"].Int();
          const Json& grown =
              row["values"].Has("ImgStatus") ? row["values"]["ImgStatus"] : row["values"]["col8"];
          updated += grown.kind == Json::Kind::kNumber && grown.Int() > 1;
        }
      }
      EXPECT_GT(updated, 20) << label;
      sqlite3_close(h);
    }
  }
  o.wechatPageSizes = {1000};
  std::string error;
  EXPECT_EQ(bv::mkbackup::WriteBackup(o, dir / "bad", &error), 87);
  EXPECT_NE(error.find("page sizes"), std::string::npos);
}

TEST(MkbackupOptions, BadInputIsRefusedWithAMessage) {
  bv::test::TempDir dir;
  bv::mkbackup::BackupOptions o;
  std::string error;
  o.date = "yesterday";
  EXPECT_EQ(bv::mkbackup::WriteBackup(o, dir / "a", &error), 87);
  EXPECT_NE(error.find("date"), std::string::npos);
  o.date = "2021-03-04T05:06:07Z";
  o.iosVersion = "abc";
  EXPECT_EQ(bv::mkbackup::WriteBackup(o, dir / "b", &error), 87);
  o.iosVersion = "";
  o.messages = -1;
  EXPECT_EQ(bv::mkbackup::WriteBackup(o, dir / "c", &error), 87);
}

int RunCommand(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MkbackupCommandLine, WritesBackupsAndTheDemoRootAndRefusesBadArguments) {
  const char* bin = std::getenv("BV_BIN_DIR");
  ASSERT_NE(bin, nullptr);
  const std::string tool = (fs::path(bin) / "mkbackup").string();
  if (!fs::exists(tool)) GTEST_SKIP() << "mkbackup not built";
  bv::test::TempDir dir;
  const std::string out = (dir / "cli").string();
  EXPECT_EQ(
      RunCommand(
          tool + " '" + out +
          "' --layout older --ios 9.3.5 --seed 3 --messages 20 --name 'CLI phone' 2>/dev/null"),
      0);
  EXPECT_TRUE(fs::exists(fs::path(out) / "Manifest.mbdb"));
  EXPECT_EQ(bv::test::ReadTruth(out)["device"]["Display Name"].Str(), "CLI phone");
  EXPECT_NE(RunCommand(tool + " '" + out + "' --messages lots 2>/dev/null"), 0);
  EXPECT_NE(RunCommand(tool + " '" + out + "' --layout sideways 2>/dev/null"), 0);
  EXPECT_NE(RunCommand(tool + " 2>/dev/null"), 0);

  const fs::path root = dir / "demo";
  EXPECT_EQ(RunCommand(tool + " --demo '" + root.string() + "' 2>/dev/null"), 0);
  std::set<std::string> names, dates;
  bool mbdb = false, db = false;
  int encrypted = 0;
  for (const auto& e : fs::directory_iterator(root)) {
    encrypted += bv::ProbeEncrypted(e.path().string()) ? 1 : 0;
    ASSERT_TRUE(fs::exists(e.path() / "Info.plist"));
    const Json t = bv::test::ReadTruth(e.path());
    names.insert(t["device"]["Serial Number"].Str());
    dates.insert(t["device"]["Last Backup Date"].Str());
    mbdb |= fs::exists(e.path() / "Manifest.mbdb");
    db |= fs::exists(e.path() / "Manifest.db");
  }
  EXPECT_GE(names.size(), 3u);
  EXPECT_GE(dates.size(), 3u);
  EXPECT_TRUE(mbdb && db);
  EXPECT_EQ(encrypted, 1);  // the demo's "Locked iPhone"
}

}  // namespace

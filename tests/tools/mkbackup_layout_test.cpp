// mkbackup output against the reference layouts: every table of every database has
// the columns of its ios-schemas.sql section (run here into a database of its own),
// every stored file is named by the SHA-1 of its key, and the manifests describe
// exactly the files written. One test body per layout and iOS version.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <plist/plist.h>
#include <sqlite3.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "support.h"

namespace {

namespace fs = std::filesystem;
using bv::test::Json;

std::string Sha1Of(const std::string& text) {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(text.data(), text.size(), d, &n, EVP_sha1(), nullptr);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < n; ++i) {
    out += hex[d[i] >> 4];
    out += hex[d[i] & 15];
  }
  return out;
}

// The reference file, read from the source tree, split into its sections.
std::map<std::string, std::string> ReferenceSections() {
  const char* src = std::getenv("BV_SOURCE_DIR");
  std::string text =
      bv::test::ReadFile(fs::path(src ? src : ".") / "tools/mkbackup/ios-schemas.sql");
  std::map<std::string, std::string> out;
  std::istringstream in(text);
  std::string line, title;
  while (std::getline(in, line)) {
    if (line.rfind("-- @@ section: ", 0) == 0) {
      title = line.substr(15);
      out[title];
    } else if (!title.empty()) {
      out[title] += line + "\n";
    }
  }
  return out;
}

class Sqlite {
 public:
  explicit Sqlite(const std::string& path, bool readOnly = true) {
    int rc = sqlite3_open_v2(
        path.c_str(), &db_,
        readOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), nullptr);
    if (rc != SQLITE_OK) ADD_FAILURE() << "cannot open " << path;
  }
  ~Sqlite() { sqlite3_close(db_); }
  sqlite3* get() { return db_; }
  std::vector<std::vector<std::string>> Query(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
      return rows;
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const unsigned char* t = sqlite3_column_text(st, i);
        row.push_back(t ? reinterpret_cast<const char*>(t) : "<null>");
      }
      rows.push_back(row);
    }
    sqlite3_finalize(st);
    return rows;
  }
  std::vector<std::string> Columns(const std::string& table) {
    std::vector<std::string> out;
    for (auto& row : Query("PRAGMA table_info(\"" + table + "\")")) out.push_back(row[1]);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

struct Case {
  bv::mkbackup::Layout layout;
  const char* ios;
};

class LayoutTest : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    sections_ = new std::map<std::string, std::string>(ReferenceSections());
  }
  static void TearDownTestSuite() {
    delete sections_;
    sections_ = nullptr;
  }
  void SetUp() override {
    bv::mkbackup::BackupOptions o;
    o.layout = GetParam().layout;
    o.iosVersion = GetParam().ios;
    o.seed = 42;
    o.messages = 500;
    o.wechat = 700;
    o.qq = 500;
    o.media = 25;
    o.manifestExtra = 30;
    backup_ = bv::test::BuildBackup(dir_, o);
    truth_ = bv::test::ReadTruth(backup_);
  }
  bool newer() const { return GetParam().layout == bv::mkbackup::Layout::kNewer; }

  static std::map<std::string, std::string>* sections_;
  bv::test::TempDir dir_;
  fs::path backup_;
  Json truth_;
};

std::map<std::string, std::string>* LayoutTest::sections_ = nullptr;

TEST_P(LayoutTest, EveryTableHasTheReferenceColumns) {
  int compared = 0;
  for (const Json& db : truth_["databases"].items) {
    Sqlite file(bv::test::StoredFile(backup_, db).string());
    std::set<std::string> dropped;
    for (const Json& d : db["droppedTables"].items) dropped.insert(d.Str());
    for (const Json& table : db["tables"].items) {
      const std::string name = table["name"].Str();
      const std::string section = table["section"].Str();
      if (section.empty() || dropped.count(name)) continue;
      ASSERT_TRUE(sections_->count(section)) << section;
      Sqlite reference(":memory:", false);
      char* err = nullptr;
      ASSERT_EQ(
          sqlite3_exec(reference.get(), (*sections_)[section].c_str(), nullptr, nullptr, &err),
          SQLITE_OK)
          << (err ? err : "");
      const std::string refName =
          name.rfind("Chat_", 0) == 0 ? "Chat_00000000000000000000000000000000" : name;
      const std::vector<std::string> expected = reference.Columns(refName);
      ASSERT_FALSE(expected.empty()) << name << " not in " << section;
      EXPECT_EQ(file.Columns(name), expected) << db["label"].Str() << " " << name;
      ++compared;
    }
  }
  EXPECT_GT(compared, 20);
}

TEST_P(LayoutTest, ChatStoresHaveTheDecodedColumnPositions) {
  for (const Json* db : bv::test::FindDatabases(truth_, "MM.sqlite")) {
    Sqlite file(bv::test::StoredFile(backup_, *db).string());
    auto friendCols = file.Columns("Friend");
    ASSERT_EQ(friendCols.size(), 13u);
    EXPECT_EQ(friendCols[1], "UsrName");
    EXPECT_EQ(friendCols[2], "NickName");
    EXPECT_EQ(friendCols[6], "Type");
    auto chats =
        file.Query("SELECT name FROM sqlite_master WHERE name LIKE 'Chat\\_%' ESCAPE '\\'");
    ASSERT_FALSE(chats.empty());
    for (auto& row : chats) {
      EXPECT_EQ(row[0].size(), 37u);
      EXPECT_EQ(file.Columns(row[0]).size(), 9u);
    }
  }
  auto qq = bv::test::FindDatabases(truth_, "QQ.db");
  ASSERT_EQ(qq.size(), 2u);
  for (const Json* db : qq) {
    Sqlite file(bv::test::StoredFile(backup_, *db).string());
    EXPECT_EQ(file.Columns("tb_c2cTables").size(), 1u);
    for (auto& row : file.Query("SELECT uin FROM tb_c2cTables")) {
      auto cols = file.Columns(row[0]);
      if (cols.empty()) continue;  // a listed table that does not exist
      ASSERT_EQ(cols.size(), 50u);
      EXPECT_EQ(cols[1], "uin");
      EXPECT_EQ(cols[2], "time");
      EXPECT_EQ(cols[4], "flag");
      EXPECT_EQ(cols[6], "content");
    }
  }
}

TEST_P(LayoutTest, StoredFilesAreNamedBySha1OfTheirKey) {
  std::size_t files = 0;
  for (const Json& f : truth_["files"].items) {
    const std::string key = f["domain"].Str() + "-" + f["path"].Str();
    EXPECT_EQ(f["key"].Str(), key);
    const std::string id = Sha1Of(key);
    EXPECT_EQ(f["fileId"].Str(), id);
    if (f["directory"].boolean) continue;
    fs::path stored = newer() ? backup_ / id.substr(0, 2) / id : backup_ / id;
    ASSERT_TRUE(fs::exists(stored)) << key;
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(stored)), f["size"].Int()) << key;
    ++files;
  }
  EXPECT_GT(files, 150u);
  // Well-known identifiers of the fixed databases.
  EXPECT_EQ(bv::test::FindDatabase(truth_, "sms.db")->operator[]("fileId").Str(),
            "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
  EXPECT_EQ(bv::test::FindDatabase(truth_, "AddressBook.sqlitedb")->operator[]("fileId").Str(),
            "31bb7ba8914766d4ba40d6dfb6113c8b614be442");
}

TEST_P(LayoutTest, ManifestListsExactlyTheWrittenFiles) {
  const Json& files = truth_["files"];
  if (newer()) {
    ASSERT_FALSE(fs::exists(backup_ / "Manifest.mbdb"));
    Sqlite manifest((backup_ / "Manifest.db").string());
    EXPECT_EQ(manifest.Query("PRAGMA user_version")[0][0], "2");
    auto rows = manifest.Query("SELECT fileID, domain, relativePath, flags FROM Files");
    ASSERT_EQ(rows.size(), files.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i][0], Sha1Of(rows[i][1] + "-" + rows[i][2]));
      EXPECT_EQ(rows[i][1], files[i]["domain"].Str());
      EXPECT_EQ(rows[i][2], files[i]["path"].Str());
      EXPECT_EQ(rows[i][3], files[i]["directory"].boolean ? "2" : "1");
    }
    // The file blob is an NSKeyedArchiver archive of an MBFile.
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(manifest.get(), "SELECT relativePath, file FROM Files", -1, &st,
                                 nullptr),
              SQLITE_OK);
    std::size_t i = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      const std::string path = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      plist_t root = nullptr;
      plist_from_bin(static_cast<const char*>(sqlite3_column_blob(st, 1)),
                     static_cast<std::uint32_t>(sqlite3_column_bytes(st, 1)), &root);
      ASSERT_NE(root, nullptr) << path;
      plist_t objects = plist_dict_get_item(root, "$objects");
      plist_t file = plist_array_get_item(objects, 1);
      std::uint64_t size = 0, mode = 0, uid = 0;
      plist_get_uint_val(plist_dict_get_item(file, "Size"), &size);
      plist_get_uint_val(plist_dict_get_item(file, "Mode"), &mode);
      plist_get_uid_val(plist_dict_get_item(file, "RelativePath"), &uid);
      char* rel = nullptr;
      plist_get_string_val(plist_array_get_item(objects, static_cast<std::uint32_t>(uid)), &rel);
      EXPECT_EQ(std::string(rel ? rel : ""), path);
      free(rel);
      plist_t cls = plist_array_get_item(objects, 3);
      char* clsName = nullptr;
      plist_get_string_val(plist_dict_get_item(cls, "$classname"), &clsName);
      EXPECT_STREQ(clsName, "MBFile");
      free(clsName);
      if (!files[i]["directory"].boolean) {
        EXPECT_EQ(static_cast<std::int64_t>(size), files[i]["size"].Int()) << path;
        EXPECT_EQ(mode, 0100644u);
      } else {
        EXPECT_EQ(mode, 040755u);
      }
      plist_free(root);
      ++i;
    }
    sqlite3_finalize(st);
  } else {
    ASSERT_FALSE(fs::exists(backup_ / "Manifest.db"));
    // An independent reader of the record layout (big-endian; 0xFFFF = absent string).
    const std::string m = bv::test::ReadFile(backup_ / "Manifest.mbdb");
    ASSERT_GE(m.size(), 6u);
    ASSERT_EQ(m.substr(0, 4), "mbdb");
    std::size_t pos = 6;
    auto need = [&](std::size_t n) {
      if (pos + n > m.size()) throw std::runtime_error("truncated record");
    };
    auto u = [&](int bytes) {
      need(static_cast<std::size_t>(bytes));
      std::uint64_t v = 0;
      for (int k = 0; k < bytes; ++k) v = v << 8 | static_cast<unsigned char>(m[pos++]);
      return v;
    };
    auto str = [&]() {
      std::uint64_t n = u(2);
      if (n == 0xFFFF) return std::string();
      need(n);
      std::string s = m.substr(pos, n);
      pos += n;
      return s;
    };
    std::size_t index = 0;
    while (pos < m.size()) {
      ASSERT_LT(index, files.size());
      const Json& f = files[index++];
      EXPECT_EQ(str(), f["domain"].Str());
      EXPECT_EQ(str(), f["path"].Str());
      str();                           // link target
      const std::string hash = str();  // data hash
      str();                           // encryption key
      const std::uint64_t mode = u(2);
      u(8);  // inode
      u(4);
      u(4);
      u(4);
      u(4);
      u(4);
      const std::uint64_t size = u(8);
      u(1);
      const std::uint64_t props = u(1);
      for (std::uint64_t p = 0; p < props; ++p) {
        str();
        str();
      }
      EXPECT_EQ((mode & 0xE000) == 0x4000, f["directory"].boolean);
      if (!f["directory"].boolean) {
        EXPECT_EQ(static_cast<std::int64_t>(size), f["size"].Int());
        EXPECT_EQ(hash.size(), 20u);
      }
    }
    EXPECT_EQ(index, files.size());
    EXPECT_EQ(pos, m.size());
  }
}

TEST_P(LayoutTest, InfoPlistCarriesTheDeviceFactsOneValuePerLine) {
  const std::string text = bv::test::ReadFile(backup_ / "Info.plist");
  plist_t root = nullptr;
  plist_from_xml(text.data(), static_cast<std::uint32_t>(text.size()), &root);
  ASSERT_NE(root, nullptr);
  const Json& device = truth_["device"];
  for (const char* key : {"Display Name", "Phone Number", "Product Version", "Serial Number",
                          "Device Name", "Product Type", "Unique Identifier"}) {
    char* value = nullptr;
    plist_get_string_val(plist_dict_get_item(root, key), &value);
    ASSERT_NE(value, nullptr) << key;
    EXPECT_EQ(std::string(value), device[key].Str()) << key;
    free(value);
    // The key line is followed directly by its value line.
    const std::string keyLine = std::string("<key>") + key + "</key>\n";
    std::size_t at = text.find(keyLine);
    ASSERT_NE(at, std::string::npos) << key;
    std::size_t next = text.find('\n', at + keyLine.size());
    EXPECT_NE(text.substr(at + keyLine.size(), next - at - keyLine.size()).find("<string>"),
              std::string::npos);
  }
  EXPECT_EQ(plist_get_node_type(plist_dict_get_item(root, "Last Backup Date")), PLIST_DATE);
  EXPECT_LT(text.find("<key>Display Name</key>"), text.find("<key>Serial Number</key>"));
  EXPECT_LT(text.find("<key>Last Backup Date</key>"), text.find("<key>Serial Number</key>"));
  EXPECT_LT(text.find("<key>Product Version</key>"), text.find("<key>Serial Number</key>"));
  EXPECT_NE(text.find("<date>" + device["Last Backup Date"].Str() + "</date>"), std::string::npos);
  plist_free(root);
}

TEST_P(LayoutTest, MessageDatesUseTheUnitOfTheVersion) {
  const Json* sms = bv::test::FindDatabase(truth_, "sms.db");
  ASSERT_NE(sms, nullptr);
  Sqlite file(bv::test::StoredFile(backup_, *sms).string());
  auto range = file.Query("SELECT min(date), max(date), count(*) FROM message");
  ASSERT_EQ(range.size(), 1u);
  const long long lo = std::stoll(range[0][0]), hi = std::stoll(range[0][1]);
  if (std::atoi(GetParam().ios) >= 11) {
    EXPECT_GT(lo, 100000000000000000ll);  // nanoseconds since 2001
  } else {
    EXPECT_GT(lo, 100000000ll);  // seconds since 2001
    EXPECT_LT(hi, 10000000000ll);
  }
  // Messages without text, without a chat, and handles of e-mail addresses exist.
  EXPECT_FALSE(file.Query("SELECT 1 FROM message WHERE text IS NULL").empty());
  EXPECT_FALSE(
      file.Query(
              "SELECT 1 FROM message WHERE ROWID NOT IN (SELECT message_id FROM chat_message_join)")
          .empty());
  EXPECT_FALSE(file.Query("SELECT 1 FROM handle WHERE id LIKE '%@%'").empty());
  EXPECT_FALSE(
      file.Query("SELECT handle_id FROM chat_handle_join GROUP BY handle_id HAVING count(*) > 1")
          .empty());
}

TEST_P(LayoutTest, AddressBookSearchTableIsRealFts) {
  const Json* ab = bv::test::FindDatabase(truth_, "AddressBook.sqlitedb");
  ASSERT_NE(ab, nullptr);
  Sqlite file(bv::test::StoredFile(backup_, *ab).string());
  const int major = std::atoi(GetParam().ios);
  if (major < 6) return;
  auto sql = file.Query("SELECT sql FROM sqlite_master WHERE name='ABPersonFullTextSearch'");
  ASSERT_EQ(sql.size(), 1u);
  EXPECT_NE(sql[0][0].find("USING fts4"), std::string::npos);
  for (const char* shadow : {"_content", "_segments", "_segdir", "_docsize", "_stat"})
    EXPECT_FALSE(file.Columns(std::string("ABPersonFullTextSearch") + shadow).empty()) << shadow;
  const std::string phone = major >= 10 ? "c16Phone" : "c15Phone";
  const std::string email = major >= 10 ? "c17Email" : "c16Email";
  if (major >= 10) {
    EXPECT_NE(sql[0][0].find("ab_cf_tokenizer"), std::string::npos);
  }
  // Every number of a person appears in the person's search text.
  auto rows = file.Query(
      "SELECT m.value, c." + phone +
      " FROM ABMultiValue m JOIN ABPersonFullTextSearch_content c ON c.docid = m.record_id"
      " WHERE m.property = 3");
  ASSERT_FALSE(rows.empty());
  for (auto& r : rows) EXPECT_NE(r[1].find(r[0] + " "), std::string::npos) << r[0];
  EXPECT_FALSE(file.Query("SELECT 1 FROM ABPersonFullTextSearch_content WHERE " + phone +
                          " IS NULL AND " + email + " IS NOT NULL")
                   .empty());
  EXPECT_FALSE(file.Query("SELECT 1 FROM ABPersonFullTextSearch_content WHERE c0First IS NULL AND "
                          "c1Last IS NULL")
                   .empty());
}

INSTANTIATE_TEST_SUITE_P(Versions, LayoutTest,
                         ::testing::Values(Case{bv::mkbackup::Layout::kNewer, "14.3"},
                                           Case{bv::mkbackup::Layout::kNewer, "12.4"},
                                           Case{bv::mkbackup::Layout::kNewer, "17.3"},
                                           Case{bv::mkbackup::Layout::kOlder, "9.3.5"},
                                           Case{bv::mkbackup::Layout::kOlder, "6.1.6"},
                                           Case{bv::mkbackup::Layout::kOlder, "4.2.1"}),
                         [](const auto& info) {
                           std::string name =
                               std::string(info.param.layout == bv::mkbackup::Layout::kNewer
                                               ? "Newer"
                                               : "Older") +
                               "_" + info.param.ios;
                           for (char& c : name)
                             if (c == '.') c = '_';
                           return name;
                         });

}  // namespace

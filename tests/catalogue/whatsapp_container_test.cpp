// WhatsApp's chats in its app group's shared container (current versions) or in the
// app's own container (older ones, or a leftover beside the shared store).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "catalogue/discovery.h"
#include "catalogue/local_recovery.h"
#include "catalogue_fixture.h"
#include "mkbackup.h"
#include "records/readers.h"

namespace bv {
namespace {

namespace fs = std::filesystem;

void RunSql(const fs::path& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error != nullptr ? error : "";
  sqlite3_free(error);
  sqlite3_close(handle);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

std::size_t MessagesOf(const WhatsAppChatMap& chats) {
  std::size_t n = 0;
  for (const auto& [key, list] : chats) n += list.size();
  return n;
}

class WhatsAppContainers : public ::testing::Test {
 protected:
  void SetUp() override {
    mkbackup::BackupOptions o;
    o.seed = 17;
    o.whatsapp = 50;
    o.iosVersion = "15.3.1";
    backup_ = test::BuildBackup(dir_, o);
    shared_ = Stored(mkbackup::FileIdOf("AppDomainGroup-group.net.whatsapp.WhatsApp.shared",
                                        "ChatStorage.sqlite"));
    ASSERT_TRUE(fs::is_regular_file(shared_));
  }
  fs::path Stored(const std::string& id) const { return backup_ / id.substr(0, 2) / id; }
  // Stores `db` as the app container's ChatStorage.sqlite and lists it.
  void AddAppStore(const fs::path& db) {
    const std::string path = "Documents/ChatStorage.sqlite";
    const std::string id = mkbackup::FileIdOf("AppDomain-net.whatsapp.WhatsApp", path);
    fs::create_directories(Stored(id).parent_path());
    fs::copy_file(db, Stored(id));
    RunSql(backup_ / "Manifest.db",
           "INSERT INTO Files(fileID, domain, relativePath, flags) VALUES('" + id +
               "', 'AppDomain-net.whatsapp.WhatsApp', '" + path + "', 1);");
  }
  WhatsAppChatMap Read(std::string* problem = nullptr) {
    BackupCatalog catalog;
    BackupRecord record;
    EXPECT_EQ(ReadBackupFolder(backup_.string(), record), 0);
    SelectBackup(catalog, record);
    CLocalBuckupRecovery source;
    source.Attach(&catalog);
    EXPECT_EQ(source.OpenBackup(""), 0);
    WhatsAppChatMap chats;
    EXPECT_EQ(source.ReadWhatsApp(chats), 0);
    if (problem != nullptr) *problem = source.ReadProblem(Category::WhatsApp);
    return chats;
  }
  testing::TempFolder dir_{"wacontainer"};
  fs::path backup_, shared_;
};

TEST_F(WhatsAppContainers, TheSharedStoreIsReadWhenTheAppHasNone) {
  const std::size_t shared = MessagesOf(Read());
  EXPECT_GT(shared, 20u);
  // An app container whose store holds no chats (left by an older version).
  fs::copy_file(shared_, dir_.path() / "empty.sqlite");
  RunSql(dir_.path() / "empty.sqlite",
         "DELETE FROM ZWAMESSAGE; DELETE FROM ZWACHATSESSION; DELETE FROM ZWAGROUPMEMBER;");
  AddAppStore(dir_.path() / "empty.sqlite");
  std::string problem = "unset";
  EXPECT_EQ(MessagesOf(Read(&problem)), shared);
  EXPECT_EQ(problem, "");
}

TEST_F(WhatsAppContainers, TheAppsOwnStoreIsReadWhenItHasChats) {
  const WhatsAppChatMap all = Read();
  ASSERT_GT(all.size(), 1u);
  // The app container's store: the same chats but the first session's.
  const std::int32_t first = all.begin()->first;
  fs::copy_file(shared_, dir_.path() / "app.sqlite");
  RunSql(dir_.path() / "app.sqlite",
         "DELETE FROM ZWAMESSAGE WHERE ZCHATSESSION = " + std::to_string(first) + ";");
  AddAppStore(dir_.path() / "app.sqlite");
  const WhatsAppChatMap read = Read();
  EXPECT_EQ(MessagesOf(read), MessagesOf(all) - all.begin()->second.size());
  EXPECT_EQ(read.count(first), 0u);
}

}  // namespace
}  // namespace bv

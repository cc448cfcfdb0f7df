#pragma once
// A phone tree with real databases (the iOS table layouts), a fake phone over it, and
// the application data folder moved into the test's temporary folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/result_codes.h"
#include "device/device_recovery.h"
#include "device/fake_phone.h"
#include "platform/platform.h"
#include "records/records_fixture.h"

namespace bv::test {

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const fs::path& path, const std::string& data) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

// A PNG of `size` bytes (signature, then filler), enough for type detection.
inline std::string FakePng(std::size_t size) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  png.resize(size, 'p');
  return png;
}

struct ProgressLog {
  std::vector<std::int32_t> positions;
  std::int32_t stopAt = -1;  // answer 2 when this position is reported
  static std::int32_t Callback(void* user, std::int32_t percent) {
    auto* log = static_cast<ProgressLog*>(user);
    log->positions.push_back(percent);
    return percent == log->stopAt ? 2 : 0;
  }
};

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"XDG_DATA_HOME", "HOME"}) {
      const char* old = std::getenv(v);
      saved_.emplace_back(v, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    }
    setenv("XDG_DATA_HOME", (tmp_.path() / "appdata").c_str(), 1);
    setenv("HOME", (tmp_.path() / "home").c_str(), 1);
    root_ = tmp_.path() / "phone";
    library_ = root_ / "private/var/mobile/Library";
    fs::create_directories(root_ / "private/var/mobile/Media");
    BuildDatabases();
    phone_ = std::make_unique<FakePhone>(root_);
    phone_->Discover();
  }

  void TearDown() override {
    for (auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

  // Messages from two handles, two contacts naming them, two notes and two calls.
  void BuildDatabases() {
    const fs::path ab = library_ / "AddressBook/AddressBook.sqlitedb";
    fs::create_directories(ab.parent_path());
    Sql(ab.string(), SchemaSection("NEW full-text layout"));
    Sql(ab.string(),
        "INSERT INTO ABPersonFullTextSearch_content(docid,c0First,c1Last,c16Phone) VALUES"
        "(1,'Ada','Lovelace','+15550001'),(2,'Alan','Turing','+15550002');");

    const fs::path sms = library_ / "SMS/sms.db";
    fs::create_directories(sms.parent_path());
    Sql(sms.string(), SchemaSection("sms.db | iOS 12.4"));
    std::string sql =
        "BEGIN;INSERT INTO handle(ROWID,id,country,service) VALUES(1,'+15550001','us','SMS'),"
        "(2,'+15550002','us','SMS');INSERT INTO chat(ROWID,guid,style,state) VALUES(1,'c1',45,3),"
        "(2,'c2',45,3);INSERT INTO chat_handle_join(chat_id,handle_id) VALUES(1,1),(2,2);";
    for (int i = 1; i <= 5; ++i) {
      sql += "INSERT INTO message(ROWID,guid,text,handle_id,date,is_from_me,service) VALUES(" +
             std::to_string(i) + ",'G" + std::to_string(i) + "','text " + std::to_string(i) + "'," +
             std::to_string(i % 2 + 1) + "," + std::to_string(600000000000000000LL + i) +
             ",0,'SMS');"
             "INSERT INTO chat_message_join(chat_id,message_id) VALUES(" +
             std::to_string(i % 2 + 1) + "," + std::to_string(i) + ");";
    }
    Sql(sms.string(), sql + "COMMIT;");

    const fs::path notes = library_ / "Notes/notes.sqlite";
    fs::create_directories(notes.parent_path());
    Sql(notes.string(), SchemaSection("notes.sqlite (HomeDomain"));
    Sql(notes.string(),
        "INSERT INTO ZNOTEBODY(Z_PK,ZCONTENT,ZOWNER) VALUES(1,'first body',1),(2,'second body',2);"
        "INSERT INTO ZNOTE(Z_PK,ZBODY,ZCREATIONDATE,ZTITLE) "
        "VALUES(1,1,500000000,'One'),(2,2,500000100,'Two');");

    // The call database at the phone's older path, holding the store the call reader
    // understands.
    const fs::path calls = root_ / "private/var/wireless/Library/CallHistory/call_history.db";
    fs::create_directories(calls.parent_path());
    Sql(calls.string(), SchemaSection("CallHistory.storedata (HomeDomain"));
    Sql(calls.string(),
        "INSERT INTO ZCALLRECORD(Z_PK,ZANSWERED,ZDURATION,ZADDRESS,ZDATE) VALUES"
        "(1,1,61,'+15550002',600000000),(2,0,0,'+15559999',600000100);");
  }

  std::unique_ptr<CDeviceRecovery> MakeSource() {
    auto source = std::make_unique<CDeviceRecovery>();
    source->SetToolFolder(BinFolder());
    source->SetProgressCallback(&ProgressLog::Callback, &log_);
    source->Attach(phone_.get());
    return source;
  }

  static fs::path BinFolder() {
    const char* bin = std::getenv("BV_BIN_DIR");
    return bin != nullptr ? fs::path(bin) : fs::path();
  }

  TempFolder tmp_;
  fs::path root_;
  fs::path library_;
  std::unique_ptr<FakePhone> phone_;
  ProgressLog log_;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace bv::test

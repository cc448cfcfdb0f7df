#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "platform/platform.h"
#include "records/whatsapp_reader.h"
#include "records_fixture.h"

namespace bv {
namespace {

using test::MakeDb;
using test::Sql;
using test::TempFolder;

const char kChatStorage[] = "ChatStorage.sqlite (AppDomainGroup";

// Sessions 1 (one-to-one), 2 (group A+B), 3 (group B+A); members and messages that
// interleave the chats.
std::string MakeChats(const TempFolder& t) {
  const std::string path = MakeDb(t, "ChatStorage.sqlite", kChatStorage);
  Sql(path,
      "INSERT INTO ZWACHATSESSION(Z_PK,ZPARTNERNAME,ZCONTACTJID) VALUES"
      "(1,'Bob','1555@s.whatsapp.net'),(2,'Team','120@g.us'),(3,'Other','121@g.us'),"
      "(0,'zero','0@g.us');"
      "INSERT INTO ZWAGROUPMEMBER(Z_PK,ZCHATSESSION,ZCONTACTNAME,ZMEMBERJID) VALUES"
      "(1,2,'Ann','4477@s.whatsapp.net'),(2,2,NULL,'4488@s.whatsapp.net'),"
      "(3,3,NULL,'4488@s.whatsapp.net'),(4,3,'Ann','4477@s.whatsapp.net'),"
      "(5,0,'Ghost','0000@s.whatsapp.net');"
      "INSERT INTO ZWAMESSAGE(Z_PK,ZISFROMME,ZCHATSESSION,ZMESSAGEDATE,ZPUSHNAME,ZTEXT) VALUES"
      "(1,0,2,100,'+4477','group first'),"
      "(2,0,2,101,'x4488','group second'),"
      "(3,0,1,102,'Bobby','direct'),"
      "(4,0,2,103,'Z','one-char push'),"
      "(5,1,2,104,'me','mine'),"
      "(6,0,1,105.9,NULL,NULL),"
      "(7,0,1,106,NULL,''),"
      "(8,0,9,107,'lost','no session'),"
      "(9,0,0,108,NULL,'session zero'),"
      "(10,0,3,99,'+4499','nobody matches');"
      "INSERT INTO ZWAMEDIAITEM(Z_PK,ZMESSAGE,ZTITLE) VALUES(1,6,'photo title'),(2,6,'second'),"
      "(3,0,'orphan');");
  return path;
}

const WhatsAppMessageRecord* ById(const WhatsAppChatMap& chats, int id) {
  for (auto& [k, list] : chats)
    for (auto& m : list)
      if (m.messageId == id) return &m;
  return nullptr;
}

TEST(WhatsAppReaderJoin, MembersNamesMediaAndGroups) {
  TempFolder t;
  auto path = MakeChats(t);
  WhatsAppChatMap chats;
  EXPECT_EQ(WhatsAppReader().Read(path, chats), 0);
  // Every message with text (or a media title) stays, the first of each group run too.
  int count = 0;
  for (auto& [k, list] : chats) count += static_cast<int>(list.size());
  EXPECT_EQ(count, 8);
  EXPECT_EQ(chats.count(0), 0u);

  const auto* first = ById(chats, 1);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->text, "group first");
  EXPECT_EQ(first->chatJids(), "4477@s.whatsapp.net,4488@s.whatsapp.net");
  EXPECT_EQ(first->chatTitle(), "Ann");
  EXPECT_EQ(first->chatPartner(), "Team");
  EXPECT_EQ(first->senderName, "Ann");  // "4477" found in Ann's JID

  const auto* second = ById(chats, 2);
  EXPECT_EQ(second->senderName, "");  // the unnamed member's name

  const auto* reversed = ById(chats, 10);
  ASSERT_NE(reversed, nullptr);
  EXPECT_EQ(reversed->chatTitle(), ",Ann");
  EXPECT_EQ(reversed->chatJids(), "4488@s.whatsapp.net,4477@s.whatsapp.net");
  EXPECT_EQ(reversed->senderName, "Other");  // nobody matched: the partner name stays

  EXPECT_EQ(ById(chats, 4)->senderName, "Ann");  // one character: first member of all

  const auto* mine = ById(chats, 5);
  EXPECT_EQ(mine->senderName, "Me");
  EXPECT_EQ(mine->pushName, "");
  EXPECT_EQ(mine->isFromMe, 1);

  const auto* direct = ById(chats, 3);
  EXPECT_EQ(direct->chatJids(), "1555@s.whatsapp.net");
  EXPECT_EQ(direct->chatTitle(), "Bob");
  EXPECT_EQ(direct->senderName, "Bob");
  EXPECT_EQ(direct->pushName, "Bobby");

  EXPECT_EQ(ById(chats, 6)->text, "photo title");  // first media item of the message
  EXPECT_EQ(ById(chats, 7), nullptr);              // no text, no media

  const auto* lost = ById(chats, 8);
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(lost->chatTitle(), "");
  EXPECT_EQ(lost->senderName, "");

  // Ordered by date within a chat.
  std::vector<int> team;
  for (auto& m : chats[2]) team.push_back(m.messageId);
  EXPECT_EQ(team, (std::vector<int>{1, 2, 4, 5}));
}

TEST(WhatsAppReaderDates, SecondsSince2001InLocalTime) {
  TempFolder t;
  const std::string path = MakeDb(t, "ChatStorage.sqlite", kChatStorage);
  Sql(path,
      "INSERT INTO ZWACHATSESSION(Z_PK,ZPARTNERNAME,ZCONTACTJID) VALUES(1,'P','1@s');"
      "INSERT INTO ZWAMESSAGE(Z_PK,ZISFROMME,ZCHATSESSION,ZMESSAGEDATE,ZTEXT) VALUES"
      "(1,0,1,0,'zero'),(2,0,1,68169600,'leap'),(3,0,1,704735807.221498,'real'),"
      "(4,0,1,-1e17,'far'),(5,0,1,NULL,'none');");
  WhatsAppChatMap chats;
  WhatsAppReader().Read(path, chats);
  EXPECT_EQ(ById(chats, 1)->date, "2001-01-01 00:00:00");
  EXPECT_EQ(ById(chats, 2)->date, "2003-03-01 00:00:00");
  EXPECT_EQ(ById(chats, 3)->date, "2023-05-02 15:56:47");
  EXPECT_EQ(ById(chats, 4)->date, "");  // cannot be converted, still listed
  EXPECT_EQ(ById(chats, 5)->date, "");
  test::ZoneGuard zone("America/New_York");
  WhatsAppChatMap local;
  WhatsAppReader().Read(path, local);
  EXPECT_EQ(ById(local, 1)->date, "2000-12-31 19:00:00");
  EXPECT_EQ(ById(local, 3)->date, "2023-05-02 11:56:47");  // daylight saving applies
}

TEST(WhatsAppReaderFailures, ResultCodes) {
  TempFolder t;
  WhatsAppChatMap chats;
  EXPECT_EQ(WhatsAppReader().Read(t.File("missing.sqlite"), chats), 14);
  EXPECT_TRUE(chats.empty());
  // Without the media table only that statement's failure is reported.
  const std::string path = t.File("partial.sqlite");
  Sql(path,
      "CREATE TABLE ZWACHATSESSION(Z_PK INTEGER, ZPARTNERNAME VARCHAR, ZCONTACTJID VARCHAR);"
      "CREATE TABLE ZWAMESSAGE(Z_PK INTEGER, ZISFROMME INTEGER, ZCHATSESSION INTEGER,"
      " ZMESSAGEDATE TIMESTAMP, ZPUSHNAME VARCHAR, ZTEXT VARCHAR);"
      "INSERT INTO ZWACHATSESSION VALUES(1,'P','1@s');"
      "INSERT INTO ZWAMESSAGE VALUES(1,0,1,0,NULL,'hi');");
  EXPECT_EQ(WhatsAppReader().Read(path, chats), kQueryFailed);
  EXPECT_EQ(chats[1].size(), 1u);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct CopyRecorder {
  std::vector<std::vector<int>> calls;  // percent, status
  int stopAt = -1;
  static std::int32_t Callback(void* user, std::int32_t percent, std::int32_t status,
                               const std::string&) {
    auto* r = static_cast<CopyRecorder*>(user);
    r->calls.push_back({percent, status});
    return static_cast<int>(r->calls.size()) - 1 == r->stopAt ? 2 : 0;
  }
};

TEST(WhatsAppChatText, FileBytesProgressAndFailures) {
  TempFolder t;
  WhatsAppChatMap chats;
  WhatsAppMessageRecord a;
  a.date = "2021-01-02 03:04:05";
  a.senderName = "Unknown";
  a.pushName = "Pusher";
  a.text = "two\nlines";
  WhatsAppMessageRecord b = a;
  b.isFromMe = 1;
  b.text = "caf\u00e9";
  WhatsAppMessageRecord c = a;
  c.senderName = "Named";
  c.text = "third";
  chats[-5] = {a, b, c};  // keys beyond 2^31 are kept as they are

  const std::string out = t.File("sub/dir/chat.txt");
  CopyRecorder r;
  EXPECT_EQ(
      WriteWhatsAppChatText(chats, -5, platform::Utf8FromPath(out), CopyRecorder::Callback, &r), 0);
  EXPECT_EQ(ReadAll(out),
            "\xEF\xBB\xBF"
            "2021-01-02 03:04:05 Pusher:\r\n    two\r\nlines\r\n\r\n"
            "2021-01-02 03:04:05 Me:\r\n    caf\xC3\xA9\r\n\r\n"
            "2021-01-02 03:04:05 Named:\r\n    third\r\n\r\n");
  EXPECT_EQ(r.calls, (std::vector<std::vector<int>>{{33, 0}, {66, 0}, {100, 0}}));

  CopyRecorder stop;
  stop.stopAt = 0;
  EXPECT_EQ(
      WriteWhatsAppChatText(chats, -5, platform::Utf8FromPath(out), CopyRecorder::Callback, &stop),
      2);
  EXPECT_EQ(stop.calls, (std::vector<std::vector<int>>{{33, 0}, {100, 2}}));
  EXPECT_EQ(ReadAll(out),
            "\xEF\xBB\xBF"
            "2021-01-02 03:04:05 Pusher:\r\n    two\r\nlines\r\n\r\n");

  // A chat that is not there: an empty text file and 0.
  EXPECT_EQ(WriteWhatsAppChatText(chats, 42, platform::Utf8FromPath(out), nullptr, nullptr), 0);
  EXPECT_EQ(ReadAll(out), "\xEF\xBB\xBF");

  // A path that cannot be created: the platform's code, reported once with 100.
  std::ofstream(t.File("blocker")) << "x";
  CopyRecorder fail;
  const Result rc = WriteWhatsAppChatText(
      chats, -5, platform::Utf8FromPath(t.File("blocker/x.txt")), CopyRecorder::Callback, &fail);
  EXPECT_GT(rc, 0);
  EXPECT_EQ(fail.calls, (std::vector<std::vector<int>>{{100, rc}}));
}

}  // namespace
}  // namespace bv

// The text of a message's attributedBody: typedstream blobs as the message app writes
// them (mkbackup's writer follows the real layout), at every length where the length
// prefix changes, and blobs that are cut, foreign or garbage.
#include <gtest/gtest.h>

#include <set>

#include "mkbackup.h"
#include "records/attributed_body.h"
#include "records/message_reader.h"
#include "records_fixture.h"

namespace bv {
namespace {

TEST(AttributedBody, TextsOfEveryLengthPrefixAndBothStringClasses) {
  for (std::size_t length : {0u, 1u, 127u, 128u, 129u, 255u, 256u, 65535u, 65536u, 70001u}) {
    std::string text(length, 'a');
    for (std::size_t i = 0; i < length; i += 7) text[i] = static_cast<char>('0' + i % 10);
    for (bool mutableString : {false, true}) {
      const std::string blob = mkbackup::AttributedBody(text, mutableString);
      std::string out = "stale";
      ASSERT_TRUE(DecodeAttributedBodyText(blob, out)) << length << " " << mutableString;
      EXPECT_EQ(out, text) << length;
    }
  }
  // The prefix itself: one byte below 128, 0x81 + 2 bytes below 65,536, 0x82 + 4 beyond.
  const std::string at127 = mkbackup::AttributedBody(std::string(127, 'x'));
  const std::string at128 = mkbackup::AttributedBody(std::string(128, 'x'));
  const std::string at65536 = mkbackup::AttributedBody(std::string(65536, 'x'));
  EXPECT_NE(at127.find(std::string("+\x7f") + "xxx"), std::string::npos);
  EXPECT_NE(at128.find(std::string("+\x81\x80\x00", 4) + "xxx"), std::string::npos);
  EXPECT_NE(at65536.find(std::string("+\x82\x00\x00\x01\x00", 6) + "xxx"), std::string::npos);
}

TEST(AttributedBody, UnicodeTextsStayByteForByte) {
  for (const std::string& text : std::vector<std::string>{
           "Grüße aus Köln", "見て 你好 😀👍🏽", "line one\nline two\ttab",
           "\xEF\xBF\xBC photo", std::string("nul\0inside", 10)}) {
    std::string out;
    ASSERT_TRUE(DecodeAttributedBodyText(mkbackup::AttributedBody(text), out)) << text;
    EXPECT_EQ(out, text);
  }
  // A broken sequence inside the string: shown with U+FFFD, not dropped.
  std::string out;
  ASSERT_TRUE(DecodeAttributedBodyText(mkbackup::AttributedBody("ab\xC3"), out));
  EXPECT_EQ(out, "ab\xEF\xBF\xBD");
}

TEST(AttributedBody, CutForeignAndGarbageBlobsGiveNoText) {
  const std::string text(300, 'q');
  const std::string blob = mkbackup::AttributedBody(text);
  const std::size_t textEnd = blob.find(text) + text.size();
  // Every cut before the text's end fails; after it the text is whole.
  for (std::size_t cut = 0; cut < blob.size(); ++cut) {
    std::string out = "stale";
    const bool ok = DecodeAttributedBodyText(std::string_view(blob).substr(0, cut), out);
    EXPECT_EQ(ok, cut >= textEnd) << cut;
    EXPECT_EQ(out, ok ? text : "") << cut;
  }
  std::string out;
  EXPECT_FALSE(DecodeAttributedBodyText("", out));
  EXPECT_FALSE(DecodeAttributedBodyText("plain text, not archived", out));
  // Another archive format with the same class names (a keyed archive's property list).
  EXPECT_FALSE(DecodeAttributedBodyText("bplist00\xd4\x01\x02NSString+\x05hello", out));
  std::string version = blob;
  version[0] = 5;
  EXPECT_FALSE(DecodeAttributedBodyText(version, out));
  std::string signature = blob;
  signature[3] = 'T';
  EXPECT_FALSE(DecodeAttributedBodyText(signature, out));
  // A length beyond the blob, in each prefix form, and a tag where the length belongs.
  const std::size_t length = blob.find(text) - 3;  // 0x81 and two bytes
  for (const std::string& prefix :
       std::vector<std::string>{std::string("\x81\xff\xff"), std::string("\x82\xff\xff\xff\x7f"),
                                std::string("\x83"), std::string("\x85")}) {
    std::string bad = blob.substr(0, length) + prefix + text;
    EXPECT_FALSE(DecodeAttributedBodyText(bad, out)) << prefix.size();
    EXPECT_EQ(out, "");
  }
  // No string class at all, or its type too far from its name.
  std::string noClass = blob;
  noClass.replace(noClass.find("NSString"), 8, "NSNumber");
  EXPECT_FALSE(DecodeAttributedBodyText(noClass, out));
  std::string far = blob;
  far.insert(far.find("NSString") + 8, std::string(100, '\x01'));
  EXPECT_FALSE(DecodeAttributedBodyText(far, out));
  // Garbage of every byte value never reads outside its bytes (ASan would tell).
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 131 + 7) & 0xFF);
  for (std::size_t from = 0; from < 64; ++from)
    DecodeAttributedBodyText(std::string_view(garbage).substr(from), out);
}

// Messages of an iOS 16 sms.db whose text column is NULL are read from the attributed
// string; a layout without the column is read as before.
TEST(AttributedBody, MessagesWithTheirTextOnlyThereAreRead) {
  test::TempFolder t;
  mkbackup::BackupOptions o;
  o.iosVersion = "16.1";
  o.seed = 31;
  o.messages = 300;
  o.deletedRows = false;
  const auto backup = test::BuildBackup(t, o);
  const test::Json truth = test::ReadTruth(backup);
  const test::Json* sms = test::FindDatabase(truth, "sms.db");
  ASSERT_NE(sms, nullptr);
  const test::Json& bodies = (*sms)["bodyTexts"];
  ASSERT_GT(bodies.size(), 100u);
  // Listed: messages of a chat from a handle (the owner's own in a group have none).
  std::set<std::int64_t> joined, fromHandle;
  for (const test::Json* row : test::LiveRows(*sms, "chat_message_join"))
    joined.insert((*row)["values"]["message_id"].Int());
  for (const test::Json* row : test::LiveRows(*sms, "message"))
    if ((*row)["values"]["handle_id"].Int() != 0) fromHandle.insert((*row)["rowid"].Int());
  ConversationMap conversations;
  MessageReader reader({});
  const std::string addressBook =
      test::StoredFile(backup, *test::FindDatabase(truth, "AddressBook.sqlitedb")).string();
  ASSERT_EQ(reader.Read(test::StoredFile(backup, *sms).string(), addressBook, conversations), 0);
  std::map<std::int64_t, std::string> read;
  for (const auto& [handle, list] : conversations)
    for (const MessageRecord& m : list) read[m.rowId] = m.text;
  std::size_t expected = 0, longest = 0;
  for (const auto& [rowid, text] : bodies.members) {
    const std::int64_t id = std::stoll(rowid);
    if (!joined.count(id) || !fromHandle.count(id)) continue;
    ++expected;
    longest = std::max(longest, text.Str().size());
    ASSERT_EQ(read.count(id), 1u) << rowid;
    EXPECT_EQ(read[id], text.Str()) << rowid;
  }
  EXPECT_GT(expected, 100u);
  EXPECT_GE(longest, 65536u);

  // A table of its own making without the column: read with the statement that never
  // names it.
  test::Sql(t.File("plain.db"),
            "CREATE TABLE message(ROWID INTEGER PRIMARY KEY, text, is_from_me, date, handle_id);"
            "CREATE TABLE handle(ROWID INTEGER PRIMARY KEY, id);"
            "CREATE TABLE chat_message_join(chat_id, message_id);"
            "INSERT INTO handle VALUES(1, '+15550001');"
            "INSERT INTO message VALUES(1, 'plain', 0, 600000000, 1);"
            "INSERT INTO chat_message_join VALUES(1, 1);");
  ConversationMap plain;
  MessageReader again({});
  EXPECT_EQ(again.Read(t.File("plain.db"), addressBook, plain), 0);
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain.begin()->second.front().text, "plain");
  EXPECT_TRUE(again.Problem().Quiet());
}

}  // namespace
}  // namespace bv

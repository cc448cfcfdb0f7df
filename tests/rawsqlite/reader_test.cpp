// The page reader and the carving strategies on pages built byte by byte: header
// fields, varints, the column-count table, cell offsets, children, freelist and chain
// bounds, and the rules of each strategy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/text.h"
#include "platform/platform.h"
#include "rawsqlite/chat_passes.h"
#include "rawsqlite/raw_db_file.h"
#include "rawsqlite/store_builder.h"

namespace bv {
namespace {

using Page = std::vector<std::uint8_t>;

void Put16(Page& p, std::size_t at, std::uint32_t v) {
  p[at] = static_cast<std::uint8_t>(v >> 8);
  p[at + 1] = static_cast<std::uint8_t>(v);
}
void Put32(Page& p, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
void PutBytes(Page& p, std::size_t at, const std::vector<std::uint8_t>& bytes) {
  std::memcpy(p.data() + at, bytes.data(), bytes.size());
}

// A 9-column chat record from its first serial type on: NULL row id, two 1-byte
// integers, a 4-byte time, the text, three 1-byte integers, direction constant 0.
std::vector<std::uint8_t> ChatRecordBody(const std::string& text, std::uint32_t time) {
  std::vector<std::uint8_t> r{0, 1, 1, 4, static_cast<std::uint8_t>(text.size() * 2 + 13),
                              1, 1, 1, 8};
  r.insert(r.end(), {1, 7});
  for (int i = 0; i < 4; ++i) r.push_back(static_cast<std::uint8_t>(time >> (24 - 8 * i)));
  r.insert(r.end(), text.begin(), text.end());
  r.insert(r.end(), {2, 0, 1});
  return r;
}

// A file: page index 0 with the magic and the given fields, then the pages given.
std::string WriteFile(const test::TempDir& dir, std::uint32_t page_size_field, std::size_t size,
                      const std::vector<Page>& pages, std::uint32_t freelist = 0) {
  Page first(size, 0);
  std::memcpy(first.data(), "SQLite format 3", 16);
  Put16(first, 16, page_size_field);
  Put32(first, 32, freelist);
  first[100] = 0x0D;  // empty schema leaf
  std::vector<std::uint8_t> file(first);
  for (const Page& p : pages) file.insert(file.end(), p.begin(), p.end());
  const std::string path = dir.File("f" + std::to_string(page_size_field) + "_" +
                                    std::to_string(pages.size()) + "_" + std::to_string(freelist));
  test::WriteAll(path, file);
  return path;
}

TEST(RawReader, VarintRules) {
  int len = 77;
  const std::uint8_t nine[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(RawDbFile::read_varint(Bytes(nine), 9, len), 0x7FFFFFFFFFFFFFFFull);
  EXPECT_EQ(len, 9);
  // The limit ends an unterminated integer and is reported as its length.
  EXPECT_EQ(RawDbFile::read_varint(Bytes(nine), 2, len), 0x3FFFull);
  EXPECT_EQ(len, 2);
  len = 77;
  EXPECT_EQ(RawDbFile::read_varint(Bytes(nine), 0, len), 0u);
  EXPECT_EQ(len, 77);
  const std::uint8_t two[] = {0x81, 0x00};
  EXPECT_EQ(RawDbFile::read_varint(Bytes(two), 100, len), 128u);
  EXPECT_EQ(len, 2);
  // The buffer end is a limit too; it is never read past.
  bool truncated = false;
  RawDbFile::read_varint(Bytes(nine, 3), 9, len, &truncated);
  EXPECT_TRUE(truncated);
  EXPECT_EQ(len, 3);

  RawDbFile r;
  r.page_size = 512;
  const std::uint8_t types[] = {0x00, 0x81, 0x01, 0x17, 0x80};
  EXPECT_EQ(r.varints_length(Bytes(types), 3), 4u);
  EXPECT_EQ(r.varints_length(Bytes(types), 5), 0u);  // the last would leave the buffer
}

TEST(RawReader, ExpectedColumnTable) {
  RawDbFile r;
  EXPECT_EQ(r.expected_columns("Chat_anything"), 9u);
  EXPECT_EQ(r.current_columns, 9u);
  EXPECT_EQ(r.expected_columns("chat_anything"), 0u);
  EXPECT_EQ(r.current_columns, 0u);
  EXPECT_EQ(r.expected_columns("TB_C2CTABLES"), 1u);
  EXPECT_EQ(r.expected_columns("tb_c2cMsg_123"), 50u);
  EXPECT_EQ(r.expected_columns("TB_C2CMSG_123"), 0u);
  EXPECT_EQ(r.expected_columns("friend"), 13u);
  EXPECT_EQ(r.expected_columns("MESSAGE"), 38u);
  r.message_columns = 51;
  EXPECT_EQ(r.expected_columns("message"), 51u);
  EXPECT_EQ(r.expected_columns("ZWAMESSAGE"), 28u);
  EXPECT_EQ(r.expected_columns("ABPersonFullTextSearch_content"), 24u);
  r.person_index_columns = 26;
  EXPECT_EQ(r.expected_columns("ABPersonFullTextSearch_content"), 25u);
  EXPECT_EQ(r.expected_columns("call"), 13u);
  EXPECT_EQ(r.expected_columns("ZCALLRECORD"), 17u);
  EXPECT_EQ(r.expected_columns("Chat_"), 9u);
  EXPECT_EQ(r.expected_columns("Chat"), 0u);
}

TEST(RawReader, OpenChecksMagicAndPageSize) {
  test::TempDir dir;
  RawDbFile r;
  EXPECT_EQ(r.open(WriteFile(dir, 1024, 1024, {})), 0);
  EXPECT_EQ(r.PageSize(), 1024u);
  EXPECT_EQ(r.open(WriteFile(dir, 1000, 1000, {})), 87);
  EXPECT_EQ(r.open(WriteFile(dir, 256, 512, {})), 87);
  // The value 1 stands for 65536.
  EXPECT_EQ(r.open(WriteFile(dir, 1, 65536, {})), 0);
  EXPECT_EQ(r.PageSize(), 65536u);
  // The magic compares without regard to ASCII case.
  Page odd(512, 0);
  std::memcpy(odd.data(), "sqlite FORMAT 3", 16);
  Put16(odd, 16, 512);
  test::WriteAll(dir.File("odd"), odd);
  EXPECT_EQ(r.open(dir.File("odd")), 0);
  odd[15] = 'x';
  test::WriteAll(dir.File("odd"), odd);
  EXPECT_EQ(r.open(dir.File("odd")), 87);
  EXPECT_NE(r.open(dir.File("missing")), 0);
  EXPECT_EQ(r.read_page(0, odd.data()), 87);  // nothing open
}

TEST(RawReader, FreelistIsBoundedByPageAndCycles) {
  test::TempDir dir;
  // Trunk page 2 claims 5000 leaves and links back to itself.
  Page trunk(512, 0);
  Put32(trunk, 0, 2);
  Put32(trunk, 4, 5000);
  for (std::size_t at = 8; at + 4 <= 512; at += 4) Put32(trunk, at, 3);
  Page leaf(512, 0);
  RawDbFile r;
  ASSERT_EQ(r.open(WriteFile(dir, 512, 512, {trunk, leaf}, 2)), 0);
  EXPECT_EQ(r.free_pages.size(), 3u);  // bounded by the pages of the file
  for (std::int32_t p : r.free_pages) EXPECT_EQ(p, 2);
}

TEST(RawReader, CellOffsetsAndChildren) {
  RawDbFile r;
  r.page_size = 512;
  // One cell: the content-area start is the offset, the pointer array is not read.
  Page leaf(512, 0);
  leaf[0] = 0x0D;
  Put16(leaf, 3, 1);
  Put16(leaf, 5, 400);
  Put16(leaf, 8, 300);
  EXPECT_EQ(r.cell_offsets(Bytes(leaf)), (std::list<std::uint16_t>{400}));
  Put16(leaf, 3, 2);
  Put16(leaf, 10, 450);
  EXPECT_EQ(r.cell_offsets(Bytes(leaf)), (std::list<std::uint16_t>{300, 450}));

  // Page index 0 as an interior schema page: pointers from 112, right-most at 108.
  Page first(512, 0);
  std::memcpy(first.data(), "SQLite format 3", 16);
  first[100] = 0x05;
  Put16(first, 103, 2);
  Put32(first, 108, 9);
  Put16(first, 112, 500);
  Put16(first, 114, 490);
  Put32(first, 500, 7);
  first[504] = 0x05;
  Put32(first, 490, 3);
  first[494] = 0x02;
  EXPECT_EQ(r.cell_offsets(Bytes(first)), (std::list<std::uint16_t>{500, 490}));
}

TEST(RawReader, WalksStopAtPageCycles) {
  test::TempDir dir;
  // Pages 2 and 3 are interior pages whose children point at each other; page 4 is a
  // leaf reached from both.
  Page a(512, 0), b(512, 0), leaf(512, 0);
  a[0] = 0x05;
  Put16(a, 3, 1);
  Put16(a, 5, 500);
  Put32(a, 500, 3);
  Put32(a, 8, 4);
  b[0] = 0x05;
  Put16(b, 3, 1);
  Put16(b, 5, 500);
  Put32(b, 500, 2);
  Put32(b, 8, 4);
  leaf[0] = 0x0D;
  Put16(leaf, 3, 1);
  Put16(leaf, 5, 480);
  RawDbFile r;
  ASSERT_EQ(r.open(WriteFile(dir, 512, 512, {a, b, leaf})), 0);
  CellMap cells;
  EXPECT_EQ(r.collect_live_cells(1, Bytes(a), cells), 0);
  ASSERT_EQ(cells.size(), 1u);
  EXPECT_EQ(cells.begin()->first, 3);
  const auto children = r.child_pages(Bytes(a));
  EXPECT_EQ(children.at(3), -1);  // right-most child
  EXPECT_EQ(children.at(2), 0);
}

TEST(RawReader, OverflowChainWithCycleEnds) {
  test::TempDir dir;
  // A leaf cell claiming 5000 bytes whose overflow page links to itself.
  Page leaf(512, 0), over(512, 0);
  leaf[0] = 0x0D;
  Put16(leaf, 3, 1);
  Put16(leaf, 5, 60);
  leaf[60] = 0x80 | (5000 >> 7);
  leaf[61] = 5000 & 0x7F;
  leaf[62] = 1;
  const std::uint32_t usable = 512, max_local = usable - 35;
  const std::uint32_t min_local = (usable - 12) * 32 / 255 - 23;
  std::uint32_t local = min_local + (5000 - min_local) % (usable - 4);
  if (local > max_local) local = min_local;
  ASSERT_LE(63 + local + 4, 512u);
  Put32(leaf, 63 + local, 3);
  Put32(over, 0, 3);
  RawDbFile r;
  ASSERT_EQ(r.open(WriteFile(dir, 512, 512, {leaf, over})), 0);
  std::vector<std::uint8_t> joined;
  Bytes view;
  EXPECT_EQ(r.read_live_payload(Bytes(leaf), 60, 512, joined, view), 0);
  EXPECT_EQ(view.size(), 3 + local + 508);  // the local part and one pass over page 3
}

TEST(Carving, FreeblockChainEndsAtZeroSizeAndLoops) {
  RawDbFile r;
  r.page_size = 512;
  r.current_table = "Chat_x";
  Page p(512, 0);
  p[0] = 0x0D;
  Put16(p, 1, 300);
  const auto body = ChatRecordBody("hello", 1500000000);
  // Block at 300: size 40, the header-size byte still intact, next block 350.
  Put16(p, 300, 350);
  Put16(p, 302, 40);
  p[304] = 10;
  PutBytes(p, 305, body);
  // Block at 350 has size 0: the walk ends there and the block at 400 is never seen.
  Put16(p, 350, 400);
  Put16(p, 400, 0);
  Put16(p, 402, 40);
  p[404] = 10;
  PutBytes(p, 405, body);
  std::list<std::uint16_t> out;
  r.carve_freeblocks(Bytes(p), out);
  EXPECT_EQ(out, (std::list<std::uint16_t>{305}));

  // A chain that points back at itself ends instead of looping.
  Put16(p, 350, 300);
  Put16(p, 352, 40);
  out.clear();
  r.carve_freeblocks(Bytes(p), out);
  EXPECT_LE(out.size(), 2u);

  // A table without a known column count gets no candidates at all.
  r.current_table = "unknown";
  EXPECT_TRUE(r.carve_page(Bytes(p)).empty());
}

TEST(Carving, FreeblockWithStalePointerIsFoundTwice) {
  RawDbFile r;
  r.page_size = 512;
  r.current_table = "Chat_x";
  Page p(512, 0);
  p[0] = 0x0D;
  // Live cells at 450 and 200; the deleted cell between them became a freeblock and
  // its old pointer entry is still there beyond the cell count.
  Put16(p, 1, 300);
  Put16(p, 3, 2);
  Put16(p, 5, 200);
  Put16(p, 8, 450);
  Put16(p, 10, 200);
  Put16(p, 12, 300);
  Put16(p, 300, 0);
  Put16(p, 302, 40);
  p[304] = 10;
  PutBytes(p, 305, ChatRecordBody("twice", 1500000000));
  const auto body = ChatRecordBody("live", 1500000000);
  for (std::size_t at : {200u, 450u}) {
    p[at] = static_cast<std::uint8_t>(body.size() + 1);
    p[at + 1] = 1;
    p[at + 2] = 10;
    PutBytes(p, at + 3, body);
  }
  const auto all = r.carve_page(Bytes(p));
  EXPECT_EQ(std::count(all.begin(), all.end(), 305), 2);
}

TEST(Carving, MessageFreeblockNeedsNonZeroLeadingBytes) {
  RawDbFile r;
  r.page_size = 1024;
  r.message_columns = 3;
  r.current_table = "message";
  Page p(1024, 0);
  p[0] = 0x0D;
  Put16(p, 1, 500);
  Put16(p, 500, 0);
  Put16(p, 502, 80);
  // Header size 4, types NULL, text of 40, 1-byte int; contents after.
  p[504] = 4;
  const std::vector<std::uint8_t> types{0, 40 * 2 + 13, 1};
  PutBytes(p, 505, types);
  std::memset(p.data() + 508, 'm', 40);
  p[548] = 5;
  std::list<std::uint16_t> out;
  r.carve_freeblocks(Bytes(p), out);
  EXPECT_EQ(out, (std::list<std::uint16_t>{505}));
  p[520] = 0;  // a zero within the 36 bytes after the serial types
  out.clear();
  r.carve_freeblocks(Bytes(p), out);
  EXPECT_TRUE(out.empty());
}

TEST(Carving, StalePointerNearLastLiveIsSkipped) {
  RawDbFile r;
  r.page_size = 512;
  r.current_table = "Chat_x";
  Page p(512, 0);
  p[0] = 0x0D;
  Put16(p, 3, 2);
  Put16(p, 5, 200);
  Put16(p, 8, 200);
  Put16(p, 10, 300);
  // Stale entries: 304 lies within 6 bytes of the last live pointer (300); 400 does not.
  Put16(p, 12, 304);
  Put16(p, 14, 400);
  const auto body = ChatRecordBody("stale row", 1500000000);
  for (std::size_t at : {304u, 400u}) {
    // An intact cell head: payload length, row id, header size, then the record.
    p[at] = static_cast<std::uint8_t>(body.size() + 1);
    p[at + 1] = 5;
    p[at + 2] = 10;
    PutBytes(p, at + 3, body);
  }
  std::list<std::uint16_t> out;
  r.carve_stale_pointers(Bytes(p), out);
  EXPECT_EQ(out, (std::list<std::uint16_t>{403}));

  // The candidate decodes as a deleted WeChat row.
  std::list<ChatMessageRecord> records;
  CellInput cell{Bytes(p), 403, 512, true, 1};
  decode_chat_message(r, cell, records, ChatLayout::WeChat);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records.front().text, "stale row");
  EXPECT_EQ(records.front().status, 1);
  EXPECT_EQ(records.front().is_sender, 1);
  EXPECT_EQ(records.front().row_id, 0);
}

TEST(Carving, CarvedRowWithLostFirstTypeKeepsColumnIndices) {
  RawDbFile r;
  r.page_size = 512;
  r.current_table = "Chat_x";
  auto body = ChatRecordBody("shifted", 1500000000);
  // The first serial type (column 0) is gone: the bytes start at column 1's type.
  body.erase(body.begin());
  body[0] = 1;  // column 1 now a non-zero 1-byte integer
  Page p(512, 0);
  PutBytes(p, 100, body);
  std::list<ChatMessageRecord> records;
  decode_chat_message(r, CellInput{Bytes(p), 100, 512, true, 1}, records, ChatLayout::WeChat);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records.front().text, "shifted");
}

// Rows merged into one freeblock, each behind four overwritten head bytes, and a row in
// the unallocated space: the free space step finds each once, beside the freeblock's
// own candidate, and nothing in the junk between them.
TEST(Carving, FreeSpaceHoldsRowsBehindOverwrittenHeads) {
  RawDbFile r;
  r.page_size = 512;
  r.current_table = "Chat_x";
  Page p(512, 0);
  p[0] = 0x0D;
  Put16(p, 3, 1);    // one live cell
  Put16(p, 5, 200);  // content area from the freeblock on
  Put16(p, 8, 400);
  const auto live = ChatRecordBody("live", 1500000000);
  p[400] = static_cast<std::uint8_t>(live.size() + 1);
  p[401] = 1;
  p[402] = 10;
  PutBytes(p, 403, live);

  const std::vector<std::uint8_t> junk{0, 0, 0, 0x30};
  std::vector<std::uint8_t> block;
  std::vector<std::size_t> starts;
  for (const char* text : {"first", "second", "third"}) {
    block.insert(block.end(), junk.begin(), junk.end());
    starts.push_back(200 + block.size());
    const auto body = ChatRecordBody(text, 1500000000);
    block.insert(block.end(), body.begin(), body.end());
  }
  PutBytes(p, 200, block);
  Put16(p, 1, 200);
  Put16(p, 202, static_cast<std::uint32_t>(block.size()));
  // A row given back to the unallocated space below the content area.
  PutBytes(p, 60, junk);
  PutBytes(p, 64, ChatRecordBody("gap", 1500000000));

  ColumnSignature signature;
  signature.learn(Bytes(p), {400});
  std::list<std::uint16_t> found;
  const std::list<std::uint16_t> known{static_cast<std::uint16_t>(starts[0])};
  r.carve_free_space(Bytes(p), signature, known, found);
  EXPECT_EQ(found, (std::list<std::uint16_t>{static_cast<std::uint16_t>(starts[1]),
                                             static_cast<std::uint16_t>(starts[2]), 64}));
  std::list<ChatMessageRecord> records;
  for (std::uint16_t at : found)
    decode_chat_message(r, CellInput{Bytes(p), at, 512, true, 1}, records, ChatLayout::WeChat);
  std::vector<std::string> texts;
  for (const auto& rec : records) texts.push_back(rec.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"second", "third", "gap"}));

  // Without live rows to learn from, the step finds nothing.
  std::list<std::uint16_t> none;
  r.carve_free_space(Bytes(p), ColumnSignature(), known, none);
  EXPECT_TRUE(none.empty());
}

// WeChat's own column order: TableVer (constant 1, type 9) in column 0, the row-id alias
// MesLocalID (NULL, type 0) in column 1. Carved with its whole header, or with
// TableVer's type overwritten, the row still gives its time, text and direction.
TEST(Carving, CarvedRowInWeChatColumnOrder) {
  RawDbFile r;
  r.page_size = 512;
  r.current_table = "Chat_x";
  const std::string text = "phone order";
  const std::uint32_t time = 1500000000;
  std::vector<std::uint8_t> body{9, 0, 1, 4, static_cast<std::uint8_t>(text.size() * 2 + 13),
                                 1, 1, 1, 8};
  body.push_back(7);  // MesSvrID
  for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(time >> (24 - 8 * i)));
  body.insert(body.end(), text.begin(), text.end());
  body.insert(body.end(), {2, 0, 1});
  for (int lost : {0, 1}) {
    Page p(512, 0);
    PutBytes(p, 100, std::vector<std::uint8_t>(body.begin() + lost, body.end()));
    std::list<ChatMessageRecord> records;
    decode_chat_message(r, CellInput{Bytes(p), 100, 512, true, 1}, records, ChatLayout::WeChat);
    ASSERT_EQ(records.size(), 1u) << lost;
    EXPECT_EQ(records.front().text, "phone order") << lost;
    EXPECT_EQ(records.front().is_sender, 1) << lost;
    EXPECT_EQ(records.front().status, 1) << lost;
    std::string expected;
    ASSERT_TRUE(platform::FormatLocalTime(time, expected));
    EXPECT_EQ(records.front().time, ValidUtf8(expected)) << lost;
  }
}

TEST(Carving, DirectionStoredAsIntegerLeavesReceived) {
  RawDbFile r;
  r.page_size = 512;
  r.current_table = "Chat_x";
  auto body = ChatRecordBody("int direction", 1);
  body[8] = 1;        // direction as a 1-byte integer...
  body.push_back(0);  // ...holding 0
  Page p(512, 0);
  PutBytes(p, 100, body);
  std::list<ChatMessageRecord> records;
  decode_chat_message(r, CellInput{Bytes(p), 100, 512, true, 1}, records, ChatLayout::WeChat);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records.front().is_sender, 0);
}

TEST(Carving, TextBeyondThePageYieldsNothing) {
  RawDbFile r;
  r.page_size = 512;
  r.current_table = "Chat_x";
  auto body = ChatRecordBody("cut", 1);
  Page p(512, 0);
  PutBytes(p, 512 - 14, std::vector<std::uint8_t>(body.begin(), body.begin() + 14));
  std::list<ChatMessageRecord> records;
  EXPECT_EQ(decode_chat_message(r, CellInput{Bytes(p), 512 - 14, 512, true, 1}, records,
                                ChatLayout::WeChat),
            87);
  EXPECT_TRUE(records.empty());
}

}  // namespace
}  // namespace bv

namespace bv {
namespace {

std::vector<std::string> Texts(const std::list<ChatMessageRecord>& list) {
  std::vector<std::string> out;
  for (const auto& r : list) out.push_back(r.text);
  return out;
}

// Ascending by time text; rows without a time first; equal times keep their order.
TEST(ChatSort, OrdersByTimeTextAndKeepsTies) {
  auto make = [](std::initializer_list<std::pair<const char*, const char*>> rows) {
    std::list<ChatMessageRecord> list;
    for (const auto& [time, text] : rows) {
      ChatMessageRecord r;
      r.time = time;
      r.text = text;
      list.push_back(r);
    }
    return list;
  };
  auto two = make({{"2017-07-14 10:00:01", "b"}, {"2017-07-14 10:00:00", "a"}});
  SortChatMessages(two);
  EXPECT_EQ(Texts(two), (std::vector<std::string>{"a", "b"}));

  auto mixed = make({{"2017-07-14 10:00:00", "t1"},
                     {"", "none1"},
                     {"2016-01-01 00:00:00", "old"},
                     {"2017-07-14 10:00:00", "t2"},
                     {"", "none2"},
                     {"2017-07-14 10:00:00", "t3"}});
  SortChatMessages(mixed);
  EXPECT_EQ(Texts(mixed), (std::vector<std::string>{"none1", "none2", "old", "t1", "t2", "t3"}));

  // A time of another form: the text comparison decides, case ignored.
  auto odd = make(
      {{"2017-07-14 10:00:00", "x"}, {"abc", "y"}, {"ABD", "z"}, {"1999-12-31 23:59:59", "w"}});
  SortChatMessages(odd);
  EXPECT_EQ(Texts(odd), (std::vector<std::string>{"w", "x", "y", "z"}));
}

}  // namespace
}  // namespace bv

// The page reader and the carving strategies on pages built byte by byte: header
// fields, varints, the column-count table, cell offsets, children, freelist and chain
// bounds, and the rules of each strategy.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "common/text.h"
#include "platform/platform.h"
#include "rawsqlite/carving.h"
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

// The run of serial types is measured as read_varint reads each of them: checked
// against the varints read one by one, on runs of long and cut-off integers, with the
// page size as each integer's limit (small pages make the limit bind).
TEST(RawReader, VarintsLengthReadsEachVarintAsReadVarint) {
  std::mt19937 rng(7);
  for (const std::uint16_t page_size : {512, 1024, 0}) {  // 0 stands for 65536 when open
    RawDbFile r;
    r.page_size = page_size;
    for (int round = 0; round < 3000; ++round) {
      // Mostly short integers, some with high bits, now and then a long run of them.
      std::vector<std::uint8_t> bytes(1 + rng() % 40);
      for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0x80 | rng() : rng() % 128);
      if (round % 50 == 0)
        bytes.insert(bytes.begin() + static_cast<long>(rng() % bytes.size()), 600, 0x81);
      const std::uint32_t count = 1 + rng() % 12;
      // The rule, varint by varint.
      std::uint64_t total = 0;
      int previous = 0;
      bool failed = false;
      for (std::uint32_t i = 0; i < count && !failed; ++i) {
        if (total >= bytes.size()) {
          failed = true;
          break;
        }
        int length = 0;
        bool truncated = false;
        RawDbFile::read_varint(Tail(Bytes(bytes), total),
                               static_cast<std::int64_t>(r.PageSize()) - previous, length,
                               &truncated);
        if (truncated || length <= 0) failed = true;
        total += static_cast<std::uint64_t>(length);
        previous = length;
      }
      const std::uint32_t expected = failed ? 0 : static_cast<std::uint32_t>(total);
      ASSERT_EQ(r.varints_length(Bytes(bytes), count), expected)
          << "page size " << r.PageSize() << ", round " << round;
    }
  }
}

TEST(RawReader, ExpectedColumnTable) {
  ColumnCounts r;
  EXPECT_EQ(r.expected_columns("Chat_anything"), 9u);
  EXPECT_EQ(r.expected_columns("chat_anything"), 0u);
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
  r.otherColumns = 4;
  EXPECT_EQ(r.expected_columns("Chat"), 4u);
  EXPECT_EQ(r.expected_columns("Friend"), 13u);
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

// A file larger than the page cache, read in an order that makes it drop and fetch
// pages again: every read returns that page's own bytes.
TEST(RawReader, PageCacheReturnsEachPageItsOwnBytes) {
  test::TempDir dir;
  constexpr std::size_t kSize = 1024;
  constexpr std::uint32_t kPages = 9000;  // the cache keeps 8 MB: 8192 pages of 1 KB
  std::vector<Page> pages;
  for (std::uint32_t i = 1; i < kPages; ++i) {
    Page p(kSize);
    for (std::size_t b = 0; b < kSize; b += 4)
      Put32(p, b, i * 7919u + static_cast<std::uint32_t>(b));
    pages.push_back(std::move(p));
  }
  RawDbFile r;
  ASSERT_EQ(r.open(WriteFile(dir, 1024, kSize, pages)), 0);
  ASSERT_EQ(r.PageCount(), kPages);
  std::vector<std::int32_t> order;
  for (std::uint32_t round = 0; round < 2; ++round)
    for (std::uint32_t i = 1; i < kPages; ++i) order.push_back(static_cast<std::int32_t>(i));
  std::mt19937 rng(3);
  for (int i = 0; i < 20000; ++i)
    order.push_back(static_cast<std::int32_t>(1 + rng() % (kPages - 1)));
  Page buffer(kSize);
  for (const std::int32_t index : order) {
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    ASSERT_EQ(r.read_page(index, buffer.data()), 0);
    ASSERT_EQ(buffer, pages[static_cast<std::size_t>(index) - 1]) << "page " << index;
  }
  EXPECT_EQ(r.read_page(static_cast<std::int32_t>(kPages), buffer.data()), 30);  // past the end

  // A page looked at in place keeps its bytes while every other page passes through
  // the cache (more than it holds, so every slot is taken again), until the next view.
  std::vector<std::uint8_t> spare;
  for (const std::int32_t viewed : {5, 8000, 1}) {
    Bytes view;
    ASSERT_EQ(r.PageView(viewed, view, spare), 0);
    for (std::uint32_t i = 1; i < kPages; ++i) {
      ASSERT_EQ(r.read_page(static_cast<std::int32_t>(i), buffer.data()), 0);
      ASSERT_EQ(buffer, pages[i - 1]) << "page " << i << " while " << viewed << " is viewed";
    }
    const Page& want = pages[static_cast<std::size_t>(viewed) - 1];
    ASSERT_TRUE(std::equal(view.begin(), view.end(), want.begin(), want.end()))
        << "viewed page " << viewed;
  }
  Bytes view;
  EXPECT_EQ(r.PageView(static_cast<std::int32_t>(kPages), view, spare), 30);
  EXPECT_TRUE(view.empty());
}

// What is no regular file is refused at once (a FIFO without a writer would block a
// read for good); a file cut inside its last page reads up to there, and that page
// is short. Nothing of an earlier file stays readable after a failed open.
TEST(RawReader, NoRegularFileIsRefusedAndACutPageIsShort) {
  test::TempDir dir;
  Page tail(1024, 0x5A);
  const std::string path = WriteFile(dir, 1024, 1024, {tail, tail});
  RawDbFile r;
  ASSERT_EQ(r.open(path), 0);
  ASSERT_EQ(::truncate(path.c_str(), 1024 * 2 + 100), 0);  // cut after the open
  Page buffer(1024);
  EXPECT_EQ(r.read_page(1, buffer.data()), 0);
  EXPECT_EQ(buffer, tail);
  EXPECT_EQ(r.read_page(2, buffer.data()), 30);
  ASSERT_EQ(r.open(path), 0);  // opened again: a partial third page
  EXPECT_EQ(r.PageCount(), 3);
  EXPECT_EQ(r.read_page(2, buffer.data()), 30);
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_EQ(r.open(dir.File("fifo")), 87);
  EXPECT_FALSE(r.IsOpen());
  EXPECT_EQ(r.read_page(1, buffer.data()), 87);
  EXPECT_EQ(r.open(dir.path().string()), 87);  // a folder
  EXPECT_EQ(r.open(dir.File("missing")), ENOENT);
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
  Carver carver(r, {"Chat_x", 9, 0});
  ChatPassState state;
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
  carver.CarveFreeblocks(Bytes(p), out);
  EXPECT_EQ(out, (std::list<std::uint16_t>{305}));

  // A chain that points back at itself ends instead of looping: each block gives its
  // record once.
  Put16(p, 350, 300);
  Put16(p, 352, 40);
  p[354] = 10;
  PutBytes(p, 355, body);
  out.clear();
  carver.CarveFreeblocks(Bytes(p), out);
  EXPECT_EQ(out, (std::list<std::uint16_t>{305, 355}));

  // A table without a known column count gets no candidates at all.
  Carver unknown(r, {"unknown", 0, 0});
  EXPECT_TRUE(unknown.carve_page(Bytes(p)).empty());
}

TEST(Carving, FreeblockWithStalePointerIsFoundTwice) {
  RawDbFile r;
  r.page_size = 512;
  Carver carver(r, {"Chat_x", 9, 0});
  ChatPassState state;
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
  const auto all = carver.carve_page(Bytes(p));
  EXPECT_EQ(std::count(all.begin(), all.end(), 305), 2);
}

TEST(Carving, MessageFreeblockNeedsNonZeroLeadingBytes) {
  RawDbFile r;
  r.page_size = 1024;
  Carver carver(r, {"message", 3, 0});
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
  carver.CarveFreeblocks(Bytes(p), out);
  EXPECT_EQ(out, (std::list<std::uint16_t>{505}));
  p[520] = 0;  // a zero within the 36 bytes after the serial types
  out.clear();
  carver.CarveFreeblocks(Bytes(p), out);
  EXPECT_TRUE(out.empty());
}

TEST(Carving, StalePointerNearLastLiveIsSkipped) {
  RawDbFile r;
  r.page_size = 512;
  Carver carver(r, {"Chat_x", 9, 0});
  ChatPassState state;
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
  carver.CarveStalePointers(Bytes(p), out);
  EXPECT_EQ(out, (std::list<std::uint16_t>{403}));

  // The candidate decodes as a deleted WeChat row.
  std::list<ChatMessageRecord> records;
  CellInput cell{Bytes(p), 403, 512, true, 1, -1, 9};
  decode_chat_message(r, cell, records, ChatLayout::WeChat, state);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records.front().text, "stale row");
  EXPECT_EQ(records.front().status, 1);
  EXPECT_EQ(records.front().is_sender, 1);
  EXPECT_EQ(records.front().row_id, 0);
}

// A 65536-byte page whose pointer array holds, beyond its cell count, entries that point
// at and into its live cells (SQLite shifts the array on every delete and leaves the
// old tail behind): nothing carved starts inside a live cell, while a stale entry into
// free space still gives its row.
TEST(Carving, NoReadStartsInsideALiveCellOnA65536BytePage) {
  test::TempDir dir;
  RawDbFile r;
  ASSERT_EQ(r.open(WriteFile(dir, 1, 65536, {})), 0);  // the page size field 1: 65536
  ASSERT_EQ(r.PageSize(), 65536u);
  Page p(65536, 0);
  p[0] = 0x0D;
  const auto live = ChatRecordBody("live row", 1500000000);
  const std::uint32_t cell = static_cast<std::uint32_t>(live.size() + 3);
  const std::uint32_t first = 65536 - 2 * cell, second = 65536 - cell;
  Put16(p, 3, 2);
  Put16(p, 5, first);
  for (std::uint32_t at : {first, second}) {
    p[at] = static_cast<std::uint8_t>(live.size() + 1);
    p[at + 1] = 5;
    p[at + 2] = 10;
    PutBytes(p, at + 3, live);
  }
  Put16(p, 8, first);
  Put16(p, 10, second);
  Put16(p, 12, first);       // stale: a live cell itself
  Put16(p, 14, second + 3);  // stale: into a live cell's record
  Carver carver(r, {"Chat_x", 9, 0});
  std::list<std::uint16_t> raw;
  carver.CarveStalePointers(Bytes(p), raw);
  ASSERT_FALSE(raw.empty());  // the strategy alone takes the live cell for a deleted one
  EXPECT_TRUE(carver.carve_page(Bytes(p)).empty());

  // A deleted row in the gap below the content area, with a stale entry of its own.
  const auto gone = ChatRecordBody("deleted row", 1500000000);
  p[50000] = static_cast<std::uint8_t>(gone.size() + 1);
  p[50001] = 6;
  p[50002] = 10;
  PutBytes(p, 50003, gone);
  Put16(p, 16, 50000);
  const auto found = carver.carve_page(Bytes(p));
  EXPECT_EQ(std::count(found.begin(), found.end(), 50003), 1);
  for (std::uint16_t at : found) EXPECT_LT(at, first);

  // The free-space scan steps over live cells too, even where a damaged freeblock chain
  // claims them as free.
  Put16(p, 1, first - 10);
  Put16(p, first - 10, 0);
  Put16(p, first - 8, 2 * cell + 10);
  ColumnSignature signature;
  signature.Learn(Bytes(p),
                  {static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(second)});
  std::list<std::uint16_t> extra;
  carver.CarveFreeSpace(Bytes(p), signature, {}, extra);
  for (std::uint16_t at : extra) EXPECT_LT(at, first);
}

TEST(Carving, CarvedRowWithLostFirstTypeKeepsColumnIndices) {
  RawDbFile r;
  r.page_size = 512;
  Carver carver(r, {"Chat_x", 9, 0});
  ChatPassState state;
  auto body = ChatRecordBody("shifted", 1500000000);
  // The first serial type (column 0) is gone: the bytes start at column 1's type.
  body.erase(body.begin());
  body[0] = 1;  // column 1 now a non-zero 1-byte integer
  Page p(512, 0);
  PutBytes(p, 100, body);
  std::list<ChatMessageRecord> records;
  decode_chat_message(r, CellInput{Bytes(p), 100, 512, true, 1, -1, 9}, records, ChatLayout::WeChat,
                      state);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records.front().text, "shifted");
}

// Rows merged into one freeblock, each behind four overwritten head bytes, and a row in
// the unallocated space: the free space step finds each once, beside the freeblock's
// own candidate, and nothing in the junk between them.
TEST(Carving, FreeSpaceHoldsRowsBehindOverwrittenHeads) {
  RawDbFile r;
  r.page_size = 512;
  Carver carver(r, {"Chat_x", 9, 0});
  ChatPassState state;
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
  signature.Learn(Bytes(p), {400});
  std::list<std::uint16_t> found;
  const std::list<std::uint16_t> known{static_cast<std::uint16_t>(starts[0])};
  carver.CarveFreeSpace(Bytes(p), signature, known, found);
  EXPECT_EQ(found, (std::list<std::uint16_t>{static_cast<std::uint16_t>(starts[1]),
                                             static_cast<std::uint16_t>(starts[2]), 64}));
  std::list<ChatMessageRecord> records;
  for (std::uint16_t at : found)
    decode_chat_message(r, CellInput{Bytes(p), at, 512, true, 1, -1, 9}, records,
                        ChatLayout::WeChat, state);
  std::vector<std::string> texts;
  for (const auto& rec : records) texts.push_back(rec.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"second", "third", "gap"}));

  // Without live rows to learn from, the step finds nothing.
  std::list<std::uint16_t> none;
  carver.CarveFreeSpace(Bytes(p), ColumnSignature(), known, none);
  EXPECT_TRUE(none.empty());
}

// A freed page whose header is gone (a freelist trunk) keeps rows whose freeblock link
// and size went over the payload length, row id, header size and column 0's type, when
// column 0 is an integer that live rows always hold (as QQ's msgId): the contents of
// column 0 still lead the record, and the region scan finds it.
TEST(Carving, RegionScanFindsRowsThatLostAnIntegerFirstType) {
  RawDbFile r;
  r.page_size = 512;
  Carver carver(r, {"Chat_x", 9, 0});
  ChatPassState state;
  const std::uint32_t time = 1500000000;
  // Column 0 an integer of one byte, then the columns of ChatRecordBody.
  auto row = [&](std::uint8_t first, const std::string& text, bool with_first_type) {
    std::vector<std::uint8_t> body = ChatRecordBody(text, time);
    body.erase(body.begin());  // ChatRecordBody's NULL column 0
    if (with_first_type) body.insert(body.begin(), 1);
    body.insert(body.begin() + (with_first_type ? 9 : 8), first);
    return body;
  };
  Page p(512, 0);
  const auto live = row(7, "a live row", true);
  p[400] = static_cast<std::uint8_t>(live.size() + 1);
  p[401] = 1;
  p[402] = 10;
  PutBytes(p, 403, live);
  ColumnSignature signature;
  signature.Learn(Bytes(p), {400});

  Page trunk(512, 0);
  PutBytes(trunk, 100, {0x00, 0x00, 0x92, 0xA5});
  PutBytes(trunk, 104, row(9, "lost its first type", false));
  std::list<std::uint16_t> found;
  carver.CarveRegion(Bytes(trunk), signature, 12, 512, {}, found);
  EXPECT_EQ(found, (std::list<std::uint16_t>{104}));
  std::list<ChatMessageRecord> records;
  state.signature = &signature;
  for (std::uint16_t at : found)
    decode_chat_message(r, CellInput{Bytes(trunk), at, 512, true, 1, -1, 9}, records,
                        ChatLayout::WeChat, state);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records.front().text, "lost its first type");
  EXPECT_FALSE(records.front().partial);
}

// The quick test that passes over free space never turns away a position where the full
// test finds a record (random bytes with real records among them, two signatures).
TEST(Carving, QuickStartTestAgreesWithTheFullOne) {
  std::mt19937 rng(7);
  for (int round = 0; round < 2; ++round) {
    Page p(4096, 0);
    for (auto& b : p) b = static_cast<std::uint8_t>(rng() % (round == 0 ? 256 : 16));
    ColumnSignature signature;
    std::list<std::uint16_t> cells;
    for (std::uint16_t at = 600; at < 4000; at += 400) {
      auto body = ChatRecordBody("row at " + std::to_string(at), 1500000000 + at);
      if (round == 1) body[0] = 9;  // TableVer 1: column 0 takes no bytes
      p[at] = static_cast<std::uint8_t>(body.size() + 1);
      p[at + 1] = 1;
      p[at + 2] = 10;
      PutBytes(p, at + 3, body);
      cells.push_back(at);
    }
    signature.Learn(Bytes(p), cells);
    int starts = 0;
    for (std::int64_t x = 0; x + 1 < 4096; ++x) {
      const bool full = RecordEndAt(Bytes(p), signature, 9, x, 0, 4096) >= 0 ||
                        RecordEndAt(Bytes(p), signature, 9, x, 1, 4096) >= 0;
      starts += full;
      if (full) {
        EXPECT_TRUE(signature.MayStart(p[x], p[x + 1])) << round << " at " << x;
      }
    }
    EXPECT_GE(starts, 8) << round;  // the records themselves at least
  }
}

// Serial types written in more bytes than they need (a damaged or hand-made file) teach
// the signature what their short forms do: kinds, widths and small values.
TEST(Carving, SignatureReadsLongFormTypesAsTheirShortForms) {
  // Cells of a record with an integer 5 (type 1), the constants 0 and 1, a NULL and a
  // text of three bytes, once with one-byte types and once with two-byte ones.
  const Page shortForm = {10, 1, 6, 1, 8, 9, 0, 19, 5, 'a', 'b', 'c'};
  const Page longForm = {15, 1, 11, 0x80, 1, 0x80, 8, 0x80, 9, 0x80, 0, 0x80, 19, 5, 'a', 'b', 'c'};
  auto learned = [](const Page& cell) {
    Page p(512, 0);
    PutBytes(p, 100, cell);
    ColumnSignature signature;
    signature.Learn(Bytes(p), {100});
    return signature;
  };
  const ColumnSignature a = learned(shortForm), b = learned(longForm);
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_TRUE(a.HasValue(0, 5));
  EXPECT_TRUE(a.HasValue(1, 0));
  EXPECT_TRUE(a.HasValue(2, 1));
  for (std::size_t column = 0; column < 6; ++column) {
    for (std::uint64_t type = 0; type < 20; ++type)
      EXPECT_EQ(a.Fits(column, type), b.Fits(column, type)) << column << " " << type;
    for (std::uint32_t width = 0; width <= 8; ++width)
      EXPECT_EQ(a.HasWidth(column, width), b.HasWidth(column, width)) << column << " " << width;
    for (std::int64_t value = -128; value < 128; ++value)
      EXPECT_EQ(a.HasValue(column, value), b.HasValue(column, value)) << column << " " << value;
  }
}

// WeChat's own column order: TableVer (constant 1, type 9) in column 0, the row-id alias
// MesLocalID (NULL, type 0) in column 1. Carved with its whole header, or with
// TableVer's type overwritten, the row still gives its time, text and direction.
TEST(Carving, CarvedRowInWeChatColumnOrder) {
  RawDbFile r;
  r.page_size = 512;
  Carver carver(r, {"Chat_x", 9, 0});
  ChatPassState state;
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
    decode_chat_message(r, CellInput{Bytes(p), 100, 512, true, 1, -1, 9}, records,
                        ChatLayout::WeChat, state);
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
  Carver carver(r, {"Chat_x", 9, 0});
  ChatPassState state;
  auto body = ChatRecordBody("int direction", 1500000000);
  body[8] = 1;        // direction as a 1-byte integer...
  body.push_back(0);  // ...holding 0
  Page p(512, 0);
  PutBytes(p, 100, body);
  std::list<ChatMessageRecord> records;
  decode_chat_message(r, CellInput{Bytes(p), 100, 512, true, 1, -1, 9}, records, ChatLayout::WeChat,
                      state);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records.front().is_sender, 0);
}

// A carved row's text ends where other bytes took its place: the page end, the next
// live cell, a freeblock that begins inside it, the head of a later row written over
// it. What came before is kept and the record is marked partial; a row cut before its
// time gives nothing.
TEST(Carving, CarvedTextEndsWhereOtherBytesBegin) {
  RawDbFile r;
  r.page_size = 512;
  ChatPassState state;
  const std::uint32_t time = 1500000000;
  // Types (9 bytes), the row-id alias (none) and MesSvrID (1 byte, 7) and the time
  // (4 bytes) come before the text.
  const std::size_t textAt = 9 + 2 + 4;
  auto decode = [&](const Page& p, std::uint32_t at, std::uint32_t next) {
    std::list<ChatMessageRecord> out;
    decode_chat_message(r, CellInput{Bytes(p), at, next, true, 1, -1, 9}, out, ChatLayout::WeChat,
                        state);
    return out;
  };

  // Whole: not partial.
  {
    Page p(512, 0);
    PutBytes(p, 100, ChatRecordBody("a whole row", time));
    const auto out = decode(p, 100, 512);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.front().text, "a whole row");
    EXPECT_FALSE(out.front().partial);
  }
  // The page end.
  {
    Page p(512, 0);
    const auto body = ChatRecordBody("cut short here", time);
    const std::size_t at = 512 - (textAt + 5);
    PutBytes(p, at, std::vector<std::uint8_t>(body.begin(), body.begin() + textAt + 5));
    const auto out = decode(p, static_cast<std::uint32_t>(at), 512);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.front().text, "cut s");
    EXPECT_TRUE(out.front().partial);
    // Cut inside its time: nothing.
    Page q(512, 0);
    PutBytes(q, 512 - 13, std::vector<std::uint8_t>(body.begin(), body.begin() + 13));
    EXPECT_TRUE(decode(q, 512 - 13, 512).empty());
  }
  // The next live cell, ten bytes into the text.
  {
    Page p(512, 0);
    PutBytes(p, 100, ChatRecordBody("overwritten by a live row", time));
    const auto out = decode(p, 100, static_cast<std::uint32_t>(100 + textAt + 10));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.front().text, "overwritte");
    EXPECT_TRUE(out.front().partial);
  }
  // A freeblock that begins six bytes into the text.
  {
    Page p(512, 0);
    PutBytes(p, 100, ChatRecordBody("freed over its tail", time));
    const std::size_t block = 100 + textAt + 6;
    Put16(p, 1, static_cast<std::uint32_t>(block));
    Put16(p, block, 0);
    Put16(p, block + 2, 40);
    const auto out = decode(p, 100, 512);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.front().text, "freed ");
    EXPECT_TRUE(out.front().partial);
  }
  // A later row written over the tail, its head bytes readable as text: payload length
  // 39 (an apostrophe), row id 66 ("B"), header size 10 (a line feed), then a zero type.
  {
    Page p(512, 0);
    PutBytes(p, 100, ChatRecordBody("an older row whose tail was written over", time));
    const auto later = ChatRecordBody("twenty bytes of text", time);
    ASSERT_EQ(later.size() + 1, 39u);
    const std::size_t head = 100 + textAt + 8;
    p[head] = 39;
    p[head + 1] = 'B';
    p[head + 2] = 10;
    PutBytes(p, head + 3, later);
    const auto out = decode(p, 100, 512);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.front().text, "an older");
    EXPECT_TRUE(out.front().partial);
  }
  // A later row began on the text's last byte, its payload length printable (38, "&")
  // and the rest of its head behind the text.
  {
    Page p(512, 0);
    PutBytes(p, 100, ChatRecordBody("keys x&y", time));
    const auto later = ChatRecordBody("a later row, longer", time + 60);
    ASSERT_EQ(later.size() + 1, 38u);
    const std::size_t head = 100 + textAt + 7;  // the "y"
    p[head] = 38;
    p[head + 1] = 0x82;
    p[head + 2] = 0x56;
    p[head + 3] = 10;
    PutBytes(p, head + 4, later);
    const auto out = decode(p, 100, 512);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.front().text, "keys x&");
    EXPECT_TRUE(out.front().partial);
  }
  // A later row began on the text's last byte and was freed: its freeblock link starts
  // with a carriage return (13, which text may hold) and its serial types follow the
  // link and size. With the columns learnt from a live row, the text ends before it;
  // a line end of the text's own is kept.
  {
    Page p(512, 0);
    const auto live = ChatRecordBody("a live row", time);
    p[400] = static_cast<std::uint8_t>(live.size() + 1);
    p[401] = 5;
    p[402] = 10;
    PutBytes(p, 403, live);
    ColumnSignature signature;
    signature.Learn(Bytes(p), {400});
    state.signature = &signature;

    Page q = p;
    PutBytes(q, 100, ChatRecordBody("coffee bad", time));
    const std::size_t head = 100 + textAt + 9;  // the "d"
    q[head] = 13;
    q[head + 1] = 0x4E;
    Put16(q, head + 2, 60);
    PutBytes(q, head + 4, ChatRecordBody("a later row", time + 60));
    const auto out = decode(q, 100, 400);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.front().text, "coffee ba");
    EXPECT_TRUE(out.front().partial);

    Page r2 = p;
    PutBytes(r2, 100, ChatRecordBody("two\r\nlines\r", time));
    const auto whole = decode(r2, 100, 400);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole.front().text, "two\r\nlines\r");
    EXPECT_FALSE(whole.front().partial);
    state.signature = nullptr;
  }
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

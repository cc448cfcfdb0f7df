// The generic table pass, the four row decoders and the two chat store passes.
#include "rawsqlite/chat_passes.h"

#include <algorithm>
#include <ctime>
#include <set>
#include <vector>

#include "common/hash.h"
#include "common/result_codes.h"
#include "common/text.h"
#include "platform/platform.h"
#include "rawsqlite/record_cursor.h"

namespace bv {

namespace {

// Smallest other offset of the sorted list above `offset`, else the page size. Sorted
// once per leaf: a damaged page may claim tens of thousands of cells.
std::uint32_t NextOffset(const std::vector<std::uint16_t>& sorted, std::uint16_t offset,
                         std::uint32_t page_size) {
  const auto it = std::upper_bound(sorted.begin(), sorted.end(), offset);
  return it == sorted.end() ? page_size : *it;
}

// Decodes every live cell of a cell map (leaf pages are read again), and learns from
// them the kinds of value of each column when `signature` is given.
std::int32_t DecodeLive(RawDbFile& reader, const CellMap& cells, std::int32_t status,
                        const RowDecoder& decoder, std::vector<std::uint8_t>& buffer,
                        ColumnSignature* signature) {
  std::int32_t result = kSuccess;
  for (const auto& [leaf, offsets] : cells) {
    if (offsets.empty()) continue;
    if (std::int32_t rc = reader.read_page(leaf, buffer.data()); rc != 0) return rc;
    Bytes page(buffer);
    if (signature != nullptr && !StartsWithMagic(page)) signature->learn(page, offsets);
    std::vector<std::uint16_t> sorted(offsets.begin(), offsets.end());
    std::sort(sorted.begin(), sorted.end());
    for (std::uint16_t offset : offsets) {
      CellInput cell{page,  offset, NextOffset(sorted, offset, reader.PageSize()),
                     false, status, leaf};
      decoder(reader, cell);
    }
  }
  return result;
}

// Decodes positions of one page in carved mode, as deleted rows.
void DecodeCarved(RawDbFile& reader, Bytes page, std::int32_t index,
                  const std::list<std::uint16_t>& positions, const RowDecoder& decoder) {
  for (std::uint16_t offset : positions) {
    CellInput cell{page, offset, reader.PageSize(), true, 1, index};
    decoder(reader, cell);
  }
}

// Decodes every candidate of a candidate map; with a signature, then also the rows
// found in the free space of each leaf beyond its candidates.
std::int32_t DecodeCandidates(RawDbFile& reader, const CandidateMap& candidates,
                              const RowDecoder& decoder, std::vector<std::uint8_t>& buffer,
                              const ColumnSignature& signature) {
  for (const auto& [leaf, offsets] : candidates) {
    if (offsets.empty() && signature.empty()) continue;
    if (std::int32_t rc = reader.read_page(leaf, buffer.data()); rc != 0) return rc;
    Bytes page(buffer);
    DecodeCarved(reader, page, leaf, offsets, decoder);
    if (signature.empty() || StartsWithMagic(page) || page[0] != 0x0D) continue;
    std::list<std::uint16_t> extra;
    reader.carve_free_space(page, signature, offsets, extra);
    DecodeCarved(reader, page, leaf, extra, decoder);
  }
  return kSuccess;
}

}  // namespace

std::int32_t read_freed_pages(RawDbFile& reader, const std::string& table,
                              const RowDecoder& decoder, ColumnSignature* shared) {
  reader.current_table = table;
  const std::uint32_t expected = reader.expected_columns(table);
  if (expected == 0) return kSuccess;
  ColumnSignature local;
  ColumnSignature& learned = shared != nullptr ? *shared : local;
  std::vector<std::uint8_t> page_buffer(reader.PageSize());
  std::vector<std::uint8_t> leaf_buffer(reader.PageSize());
  const std::vector<std::int32_t> freed = reader.free_pages;  // the walk may not change it
  for (std::int32_t index : freed) {
    if (std::int32_t rc = reader.read_page(index, page_buffer.data()); rc != 0) return rc;
    Bytes page(page_buffer);
    const std::size_t hdr = StartsWithMagic(page) ? 100 : 0;
    if (page[hdr] != 0x0D && page[hdr] != 0x05) continue;
    CellMap cells;
    reader.collect_live_cells(index, page, cells);
    const std::int32_t count = reader.match_free_page(cells);
    if (count < 0 && hdr == 0 && page[0] == 0x0D && Be16(page, 3) == 0 && !learned.empty()) {
      // The pages of a dropped table go to the freelist with an empty header (no cells)
      // but keep their old rows: carve the whole page with what the live rows showed.
      std::list<std::uint16_t> found;
      reader.carve_free_space(page, learned, {}, found);
      DecodeCarved(reader, page, index, found, decoder);
      continue;
    }
    if (count < 0 || static_cast<std::uint32_t>(count) != reader.expected_columns(table)) continue;
    DecodeLive(reader, cells, 1, decoder, leaf_buffer, &learned);
    CandidateMap candidates;
    reader.collect_candidates(index, page, candidates);
    DecodeCandidates(reader, candidates, decoder, leaf_buffer, learned);
  }
  // A freed page that became a trunk of the freelist lost only its first bytes to the
  // trunk's link, count and page list; the rest still holds its old cells.
  if (learned.empty()) return kSuccess;
  const std::vector<std::int32_t> trunks = reader.free_trunks;
  for (std::int32_t index : trunks) {
    if (std::int32_t rc = reader.read_page(index, page_buffer.data()); rc != 0) return rc;
    Bytes page(page_buffer);
    const std::int64_t listed =
        std::min<std::int64_t>(Be32(page, 4), (static_cast<std::int64_t>(page.size()) - 8) / 4);
    std::list<std::uint16_t> found;
    reader.carve_region(page, learned, 8 + 4 * listed, static_cast<std::int64_t>(page.size()), {},
                        found);
    DecodeCarved(reader, page, index, found, decoder);
  }
  return kSuccess;
}

std::int32_t read_table(RawDbFile& reader, const std::string& table, const RowDecoder& decoder,
                        bool use_freed_pages, ColumnSignature* shared) {
  ColumnSignature local;
  ColumnSignature& signature = shared != nullptr ? *shared : local;
  std::vector<std::uint8_t> buffer(reader.PageSize());
  if (std::int32_t rc = reader.read_page(0, buffer.data()); rc != 0) return rc;
  const auto roots = reader.find_root_pages(table);
  reader.current_table = table;
  std::int32_t result = kSuccess;
  std::vector<std::uint8_t> leaf_buffer(reader.PageSize());
  for (const auto& [root, key] : roots) {
    (void)key;
    if (std::int32_t rc = reader.read_page(root, buffer.data()); rc != 0) return rc;
    Bytes page(buffer);
    CellMap cells;
    if (std::int32_t rc = reader.collect_live_cells(root, page, cells); rc != 0) result = rc;
    if (std::int32_t rc = DecodeLive(reader, cells, 0, decoder, leaf_buffer, &signature); rc != 0)
      result = rc;
    CandidateMap candidates;
    if (std::int32_t rc = reader.collect_candidates(root, page, candidates); rc != 0) result = rc;
    if (std::int32_t rc = DecodeCandidates(reader, candidates, decoder, leaf_buffer, signature);
        rc != 0)
      result = rc;
    // A root that became an interior page when it first split keeps the cells it held
    // as a leaf in its free space.
    if (page[0] == 0x05 && !StartsWithMagic(page)) {
      std::list<std::uint16_t> extra;
      reader.carve_free_space(page, signature, {}, extra);
      DecodeCarved(reader, page, root, extra, decoder);
    }
  }
  if (use_freed_pages) {
    if (std::int32_t rc = read_freed_pages(reader, table, decoder, &signature); rc != 0)
      result = rc;
  }
  return result;
}

namespace {

// Walks the columns of one chat row into `record`; 87 when a text leaves the bytes or
// the peer column names another number.
std::int32_t WalkChatColumns(RawDbFile& reader, RecordCursor& cursor, ChatMessageRecord& record,
                             ChatLayout layout, std::string& peer_seen) {
  const int time_col = layout == ChatLayout::WeChat ? 3 : 2;
  const int text_col = layout == ChatLayout::WeChat ? 4 : 6;
  const int dir_col = layout == ChatLayout::WeChat ? 8 : 4;
  const int peer_col = layout == ChatLayout::QQ ? 1 : -1;
  Column col;
  while (cursor.Next(col)) {
    if (col.IsText() && !col.Fits()) return kInvalidParameter;
    if (col.index == time_col) {
      // The constants 0 and 1 are integers too: a time of 0 is stored as type 8.
      if (col.type == 8 || col.type == 9)
        record.time = reader.times.FromUnixSeconds(col.type == 9 ? 1 : 0);
      else if (col.type >= 1 && col.type <= 4 && col.Fits())
        record.time = reader.times.FromUnixSeconds(static_cast<std::int64_t>(col.Unsigned()));
    } else if (col.index == dir_col) {
      if (col.type == 8)
        record.is_sender = 1;
      else if (col.type == 9)
        record.is_sender = 0;
    } else if (col.index == text_col) {
      if (col.IsText()) record.text = ValidUtf8(col.Text());
    } else if (col.index == peer_col) {
      if (col.IsText()) {
        peer_seen = ValidUtf8(col.Text());
        if (!reader.peer_filter.empty() && peer_seen != reader.peer_filter)
          return kInvalidParameter;
      } else if (col.IsInteger() && col.Fits()) {
        // QQ keeps the partner's number as an integer (uin INTEGER): compare its digits.
        peer_seen = std::to_string(col.Signed());
        if (!reader.peer_filter.empty() && peer_seen != reader.peer_filter)
          return kInvalidParameter;
      }
    }
  }
  return kSuccess;
}

// A message as chat apps write them: a text free of undecodable bytes and a time from
// the year 2000 to next year (carved rows read at a wrong alignment fail one or the
// other: their time comes from the wrong bytes).
bool PlausibleChat(const ChatMessageRecord& record) {
  if (record.text.empty() || record.text.find("\uFFFD") != std::string::npos) return false;
  static const std::string latest = [] {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::string text;
    FormatCivil(now + 366 * 86400LL, text);
    return text;
  }();
  return record.time.size() == 19 && record.time >= "2000-01-01 00:00:00" && record.time <= latest;
}

}  // namespace

std::int32_t decode_chat_message(RawDbFile& reader, const CellInput& cell,
                                 std::list<ChatMessageRecord>& out, ChatLayout layout) {
  ChatMessageRecord record;
  record.status = cell.status;
  Bytes bytes = Tail(cell.page, cell.offset);
  std::vector<std::uint8_t> joined;
  if (!cell.carved) {
    if (std::int32_t rc =
            reader.read_live_payload(cell.page, cell.offset, cell.next, joined, bytes);
        rc != 0)
      return rc;
  }
  const std::uint32_t columns = cell.carved ? reader.expected_columns(reader.current_table) : 0;
  RecordCursor cursor;
  if (!cursor.Open(reader, bytes, cell.carved, columns)) return kInvalidParameter;
  if (!cell.carved) record.row_id = static_cast<std::int32_t>(cursor.row_id & 0xFFFFFFFFu);
  std::string peer;
  std::int32_t result = WalkChatColumns(reader, cursor, record, layout, peer);

  // The carved-header rule reads a row whose first byte is zero as whole and one whose
  // first byte is not as having lost column 0 with no contents (a row-id alias is NULL).
  // Real chat tables break both halves: WeChat keeps TableVer (never NULL) in column 0
  // and its row-id alias in column 1, so a whole header starts with a non-zero byte and
  // one that lost TableVer with a zero; QQ's msgId is an ordinary integer, so when its
  // type is lost its contents still lead the record and every column reads shifted.
  // When the rule's reading is not a plausible message, read the row the other way,
  // then with the lost column's contents of each width an integer can have, and keep
  // the first plausible reading.
  if (cell.carved && !PlausibleChat(record)) {
    struct Reading {
      int first_column;
      std::uint32_t skip;
    };
    const Reading readings[] = {
        {bytes[0] == 0 ? 1 : 0, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 6}, {1, 8}};
    bool found = false;
    ChatMessageRecord flipped;  // the other reading, whatever it gave
    std::string flipped_peer;
    std::int32_t flipped_rc = kSuccess;
    for (const Reading& reading : readings) {
      if (reading.skip != 0 && bytes[0] == 0) break;  // column 0 was not lost
      ChatMessageRecord other;
      other.status = cell.status;
      RecordCursor alternative;
      if (!alternative.OpenCarved(reader, bytes, columns, reading.first_column, reading.skip))
        continue;
      std::string other_peer;
      const std::int32_t rc = WalkChatColumns(reader, alternative, other, layout, other_peer);
      if (PlausibleChat(other)) {
        record = std::move(other);
        peer = std::move(other_peer);
        result = rc;
        found = true;
        break;
      }
      if (reading.skip == 0) {
        flipped = std::move(other);
        flipped_peer = std::move(other_peer);
        flipped_rc = rc;
      }
    }
    // Nothing plausible: a WeChat row that the rule reads without text may still give
    // its text the other way round.
    if (!found && record.text.empty() && layout == ChatLayout::WeChat && !flipped.text.empty()) {
      record = std::move(flipped);
      peer = std::move(flipped_peer);
      result = flipped_rc;
    }
  }
  reader.last_peer = std::move(peer);
  if (!record.text.empty()) out.push_back(std::move(record));
  return result;
}

std::int32_t decode_friend(RawDbFile& reader, const CellInput& cell,
                           std::list<WeChatFriendRecord>& out) {
  WeChatFriendRecord record;
  record.status = cell.status;
  RecordCursor cursor;
  // Friend rows are read in place; their overflow pages are not followed.
  if (!cursor.Open(reader, Tail(cell.page, cell.offset), cell.carved,
                   cell.carved ? reader.expected_columns(reader.current_table) : 0))
    return kInvalidParameter;
  Column col;
  while (cursor.Next(col)) {
    if (col.IsText() && !col.Fits()) return kInvalidParameter;
    if (col.index == 1 && col.IsText())
      record.user_name = ValidUtf8(col.Text());
    else if (col.index == 2 && col.IsText())
      record.nick_name = ValidUtf8(col.Text());
    else if (col.index == 6 && col.type >= 1 && col.type <= 4 && col.Fits())
      record.type = static_cast<std::int32_t>(col.Signed());
    else if (col.index == 6 && (col.type == 8 || col.type == 9))
      record.type = col.type == 9 ? 1 : 0;  // the file format's own 0 and 1
  }
  out.push_back(std::move(record));
  return kSuccess;
}

std::int32_t decode_qq_table(RawDbFile& reader, const CellInput& cell,
                             std::list<QQTableRecord>& out) {
  QQTableRecord record;
  RecordCursor cursor;
  if (!cursor.Open(reader, Tail(cell.page, cell.offset), cell.carved, 1)) return kInvalidParameter;
  Column col;
  while (cursor.Next(col)) {
    if (col.IsText() && !col.Fits()) return kInvalidParameter;
    if (col.index == 0 && col.IsText()) record.table_name = ValidUtf8(col.Text());
  }
  const std::size_t underscore = record.table_name.rfind('_');
  if (underscore != std::string::npos) record.peer = record.table_name.substr(underscore + 1);
  out.push_back(std::move(record));
  return kSuccess;
}

namespace {

// The 14 digits of a time text of the form "YYYY-MM-DD HH:MM:SS" as one number, plus 1
// so that an empty text (0) comes first; false for any other text.
bool TimeKey(const std::string& time, std::uint64_t& key) {
  if (time.empty()) {
    key = 0;
    return true;
  }
  if (time.size() != 19) return false;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 19; ++i) {
    const char c = time[i];
    if (i == 4 || i == 7) {
      if (c != '-') return false;
    } else if (i == 10) {
      if (c != ' ') return false;
    } else if (i == 13 || i == 16) {
      if (c != ':') return false;
    } else {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
  }
  key = value + 1;
  return true;
}

}  // namespace

void SortChatMessages(std::list<ChatMessageRecord>& messages) {
  // Time texts all have one fixed form (or are empty), so their digits order them as
  // the text comparison does: sort small keys and relink the nodes once, instead of
  // comparing wide texts node by node. Any other text falls back to the comparison.
  struct Key {
    std::uint64_t value;
    std::list<ChatMessageRecord>::iterator node;
  };
  std::vector<Key> keys;
  keys.reserve(messages.size());
  for (auto it = messages.begin(); it != messages.end(); ++it) {
    std::uint64_t value = 0;
    if (!TimeKey(it->time, value)) {
      messages.sort([](const ChatMessageRecord& a, const ChatMessageRecord& b) {
        return CompareNoCase(a.time, b.time) < 0;
      });
      return;
    }
    keys.push_back({value, it});
  }
  const auto before = [](const Key& a, const Key& b) { return a.value < b.value; };
  // Live rows usually come in time order already.
  if (std::is_sorted(keys.begin(), keys.end(), before)) return;
  std::stable_sort(keys.begin(), keys.end(), before);
  std::list<ChatMessageRecord> sorted;
  for (const Key& k : keys) sorted.splice(sorted.end(), messages, k.node);
  messages.swap(sorted);
}

std::int32_t WeChatPass(const std::string& path, ChatMap& result) {
  RawDbFile reader;
  if (std::int32_t rc = reader.open(path); rc != 0) return rc;
  std::list<WeChatFriendRecord> friends;
  const RowDecoder friend_decoder = [&friends](RawDbFile& r, const CellInput& c) {
    return decode_friend(r, c, friends);
  };
  if (std::int32_t rc = read_table(reader, "Friend", friend_decoder, true); rc != 0) return rc;

  std::list<ChatMessageRecord> messages;
  const RowDecoder chat_decoder = [&messages](RawDbFile& r, const CellInput& c) {
    return decode_chat_message(r, c, messages, ChatLayout::WeChat);
  };
  // Every chat table has one layout: what their live rows show carves free space,
  // freed pages and trunk pages of all of them.
  ColumnSignature chat_columns;
  // A user name found twice (a live row and its carved copy) names the same table and
  // would give the same list again.
  std::set<std::string> done;
  for (const WeChatFriendRecord& f : friends) {
    if (!done.insert(f.user_name).second) continue;
    const std::string table = "Chat_" + Md5Hex(f.user_name);
    read_table(reader, table, chat_decoder, false, &chat_columns);
    if (!messages.empty()) {
      SortChatMessages(messages);
      result[f.user_name] = std::move(messages);
      messages.clear();
    }
  }
  // No schema row has this name: only freed pages with 9-column records contribute.
  read_table(reader, "Chat_FreePageNumber", chat_decoder, true, &chat_columns);
  if (!messages.empty()) {
    SortChatMessages(messages);
    result["Unknown"] = std::move(messages);
  }
  return kSuccess;
}

std::int32_t QQPass(const std::string& path, ChatMap& result) {
  RawDbFile reader;
  if (std::int32_t rc = reader.open(path); rc != 0) return rc;
  std::list<QQTableRecord> tables;
  const RowDecoder table_decoder = [&tables](RawDbFile& r, const CellInput& c) {
    return decode_qq_table(r, c, tables);
  };
  if (std::int32_t rc = read_table(reader, "tb_c2cTables", table_decoder, true); rc != 0) return rc;

  std::list<ChatMessageRecord> messages;
  const RowDecoder chat_decoder = [&messages](RawDbFile& r, const CellInput& c) {
    return decode_chat_message(r, c, messages, ChatLayout::QQ);
  };
  ColumnSignature chat_columns;  // as for WeChat: one layout for every message table
  // As for WeChat friends: a table named twice gives the same list again.
  std::set<std::string> done;
  for (const QQTableRecord& t : tables) {
    if (t.table_name.empty() || !done.insert(t.table_name).second) continue;
    const std::string table = t.table_name;
    read_table(reader, table, chat_decoder, false, &chat_columns);
    // Freed pages may hold any partner's rows: keep those whose peer column names ours.
    reader.peer_filter = t.peer;
    read_freed_pages(reader, table, chat_decoder, &chat_columns);
    reader.peer_filter.clear();
    if (!messages.empty()) {
      SortChatMessages(messages);
      result[t.peer] = std::move(messages);
      messages.clear();
    }
  }

  // A conversation deleted as a whole loses its message table and its row in the table
  // list; its rows survive only on freed pages. Group the plausible rows found there by
  // their partner's number and keep those of numbers that no listed table stands for.
  std::map<std::string, std::list<ChatMessageRecord>> orphans;
  const RowDecoder orphan_decoder = [&orphans, &messages](RawDbFile& r, const CellInput& c) {
    const std::int32_t rc = decode_chat_message(r, c, messages, ChatLayout::QQ);
    if (!messages.empty()) {
      if (PlausibleChat(messages.back()) && !r.last_peer.empty()) {
        auto& list = orphans[r.last_peer];
        list.splice(list.end(), messages);
      }
      messages.clear();
    }
    return rc;
  };
  read_freed_pages(reader, "tb_c2cMsg_FreePageNumber", orphan_decoder, &chat_columns);
  std::set<std::string> listed;
  for (const QQTableRecord& t : tables) listed.insert(t.peer);
  for (auto& [peer, list] : orphans) {
    if (listed.count(peer) != 0 || result.count(peer) != 0) continue;
    SortChatMessages(list);
    result[peer] = std::move(list);
  }
  return kSuccess;
}

}  // namespace bv

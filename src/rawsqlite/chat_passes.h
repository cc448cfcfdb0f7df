#pragma once
// The WeChat and QQ store passes: each turns one chat database into a map from chat
// partner to that partner's messages, live rows (status 0) and rows found in deleted
// space (status 1), reading the file only through RawDbFile.
//
// Thread-compatible: every pass owns its reader; run any number on separate threads.
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "common/local_time.h"
#include "rawsqlite/carving.h"
#include "rawsqlite/chat_records.h"
#include "rawsqlite/raw_db_file.h"

namespace bv {

// Which columns of a chat row hold what (column indices from 0, row-id alias included).
enum class ChatLayout {
  WeChat,  // "Chat_" tables: time 3, text 4, direction 8
  QQ,      // "tb_c2cMsg" tables: peer 1 (text), time 2, direction 4, text 6
};

// One cell or carving candidate handed to a decoder.
struct CellInput {
  Bytes page;                // the whole page
  std::uint32_t offset = 0;  // cell offset (live) or candidate offset (carved)
  // Live: the smallest other live cell offset above, or the page size. Carved: the start
  // of the next live cell, or the page size; the bytes up to it may be the row's own.
  std::uint32_t next = 0;
  bool carved = false;
  std::int32_t status = 0;
  std::int32_t pageIndex = -1;  // the leaf page the offsets belong to
  // Carved: C of the carved-header rule (the table's expected column count).
  std::uint32_t columns = 0;
};

// The state of one store's table passes: the file, the column counts of the tables the
// pass knows, and the table in progress.
struct TablePass {
  RawDbFile reader;
  ColumnCounts counts;
  std::string current_table;
  // Carving also takes deleted rows that spilled into overflow pages (see CarveTable).
  bool spilledRows = false;
};

// Decodes one cell; returns 0 or an error code (87 for a row it could not use).
using RowDecoder = std::function<std::int32_t(RawDbFile&, const CellInput&)>;

// The generic table pass: live cells (status 0) then carving candidates (status 1) of
// every root page of `table`, then, when `use_freed_pages`, the freed pages whose first
// record has the table's column count. Returns 0 or the code of the last failing step.
// `signature`, when given, collects the kinds of value of the table's columns from its
// live rows and is used (and kept) for carving free space; passes over several tables
// of one layout share it, so that freed pages and freelist trunk pages, which belong
// to no table, can be carved with what the live rows showed.
std::int32_t read_table(TablePass& pass, const std::string& table, const RowDecoder& decoder,
                        bool use_freed_pages, ColumnSignature* signature = nullptr);
// Only the freed-page step of a table pass (current_table is set to `table`); then the
// freelist trunk pages, whose old contents behind their page lists are carved with
// `signature` (nothing when it is empty).
std::int32_t read_freed_pages(TablePass& pass, const std::string& table, const RowDecoder& decoder,
                              ColumnSignature* signature = nullptr);

// What the chat row decoder keeps over the tables of one store.
struct ChatPassState {
  // Non-empty: rows whose partner column names another number are dropped (QQ's freed
  // pages, which may hold any partner's rows).
  std::string peer_filter;
  // The partner column of the row decoded last (QQ layout; its digits when it is an
  // integer), empty when the row had none.
  std::string lastPeer;
  // Message times of this store as local date texts, and the text of the last one.
  LocalTimeFormatter times;
  std::string timeText;
  // What the live rows of the store's chat tables hold per column (none: nothing
  // learned yet). A carved reading must fit it.
  const ColumnSignature* signature = nullptr;
};

std::int32_t decode_chat_message(RawDbFile& reader, const CellInput& cell,
                                 std::list<ChatMessageRecord>& out, ChatLayout layout,
                                 ChatPassState& state);
std::int32_t decode_friend(RawDbFile& reader, const CellInput& cell,
                           std::list<WeChatFriendRecord>& out);
std::int32_t decode_qq_table(RawDbFile& reader, const CellInput& cell,
                             std::list<QQTableRecord>& out);

// Learns the columns of a store's chat tables from the first leaf page of each, so that
// the first table carved already knows them (a table whose rows were all deleted
// teaches nothing). When no table has a live row, the columns are those that the apps
// are known to write.
void LearnChatColumns(TablePass& pass, const std::vector<std::string>& tables, ChatLayout layout,
                      ColumnSignature& signature);

// path: UTF-8 file name of "MM.sqlite" / "QQ.db". result is filled incrementally.
std::int32_t WeChatPass(const std::string& path, ChatMap& result);
std::int32_t QQPass(const std::string& path, ChatMap& result);
// The same with the store's write-ahead log at `log_path` (empty: none); `log_problem`,
// when given, receives RawDbFile::LogProblem() (why the log is not applied whole).
std::int32_t WeChatPass(const std::string& path, const std::string& log_path, ChatMap& result,
                        std::string* log_problem = nullptr);
std::int32_t QQPass(const std::string& path, const std::string& log_path, ChatMap& result,
                    std::string* log_problem = nullptr);

// Orders a partner's messages by time text (ASCII case folded).
void SortChatMessages(std::list<ChatMessageRecord>& messages);

// Among the deleted records of one store's chats: drops those equal to a live row (the
// same time, direction and text; a partial one whose text begins a live row's text of
// the same time and direction), which are stale copies that SQLite left behind when it
// moved or rewrote the row; and lists each deleted row once, keeping its most complete
// reading (a whole text before a partial one, a longer partial before a shorter one,
// one with a time before one without). Between equal readings the one under a chat
// other than "Unknown" is kept. Live records are never touched.
void SettleDeletedMessages(ChatMap& chats);

}  // namespace bv

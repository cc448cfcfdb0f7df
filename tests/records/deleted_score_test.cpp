// Scores the deleted messages, calls, WhatsApp messages, notes and contacts that the readers list
// against what mkbackup deleted, over backups of several system versions and page sizes.
//
// A deleted row "remains in the file" when the bytes of its record from the second
// serial type to its end are still in the file, whole: the scorer writes the same row
// with the same CREATE statement into a scratch database of its own (so that SQLite
// encodes it exactly as it did in the backup) and searches the backup's file for those
// bytes. Every record listed as deleted is one of:
//   found      a deleted row (the fields the record shows equal), the first time;
//   duplicate  a deleted row listed a second time;
//   live copy  equal to a live row;
//   garbage    anything else.
// Recall is found / remaining, per database. The test fails below 90% for any database,
// or on any false record. It prints its table; BV_DELETED_SCORE_SEEDS=N scores N seeds
// per version and page size (default 1), BV_DELETED_SCORE_FIRST=S starts at seed S.
// Each is scored with a small and a larger address book: the book's size moves every
// other database's bytes (a larger one once let overwritten readings through);
// BV_DELETED_SCORE_CONTACTS=N scores one size only.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "common/text.h"
#include "records/readers.h"
#include "support.h"

namespace bv {
namespace {

namespace fs = std::filesystem;
using test::Json;

constexpr std::int64_t kApple = 978307200;

std::string Utc(std::int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// Text of a truth value: strings as they are, blobs decoded, anything else empty.
std::string TextOf(const Json& v) {
  if (v.kind == Json::Kind::kString) return v.Str();
  if (v.kind == Json::Kind::kObject && v.Has("blob")) return Unhex(v["blob"].Str());
  return {};
}

std::uint64_t Varint(const std::string& b, std::size_t& at) {
  std::uint64_t v = 0;
  for (int i = 0; i < 9 && at < b.size(); ++i) {
    const auto c = static_cast<std::uint8_t>(b[at++]);
    if (i == 8) return (v << 8) | c;
    v = (v << 7) | (c & 0x7F);
    if ((c & 0x80) == 0) break;
  }
  return v;
}

// Writes single rows with a table's own CREATE statement and hands back the bytes of
// each row's record from its second serial type on, as SQLite encodes them.
class RecordEncoder {
 public:
  RecordEncoder(const fs::path& scratch, const std::string& createSql) : path_(scratch) {
    fs::remove(path_);
    EXPECT_EQ(sqlite3_open(path_.c_str(), &db_), SQLITE_OK);
    Exec("PRAGMA page_size=65536; PRAGMA journal_mode=DELETE;");
    Exec(createSql);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "SELECT name, rootpage FROM sqlite_master WHERE type='table'", -1, &st,
                       nullptr);
    if (sqlite3_step(st) == SQLITE_ROW) {
      table_ = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      root_ = sqlite3_column_int(st, 1);
    }
    sqlite3_finalize(st);
  }
  ~RecordEncoder() { sqlite3_close(db_); }

  // Empty when the row spills into overflow pages even on 65536-byte pages. `payload`,
  // when given, receives the whole payload (header-size varint on) and `header` where the
  // second serial type begins in it.
  std::string Body(const Json& values, std::int64_t rowid, std::string* payloadOut = nullptr,
                   std::size_t* header = nullptr) {
    Exec("DELETE FROM \"" + table_ + "\";");
    std::string sql = "INSERT INTO \"" + table_ + "\"(rowid";
    std::string marks = "?";
    for (const auto& [name, v] : values.members) {
      sql += ",\"" + name + "\"";
      marks += ",?";
    }
    sql += ") VALUES(" + marks + ")";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(db_) << " " << sql;
      return {};
    }
    sqlite3_bind_int64(st, 1, rowid);
    int i = 2;
    for (const auto& [name, v] : values.members) {
      if (v.kind == Json::Kind::kString) {
        sqlite3_bind_text(st, i, v.Str().data(), static_cast<int>(v.Str().size()),
                          SQLITE_TRANSIENT);
      } else if (v.kind == Json::Kind::kObject && v.Has("blob")) {
        const std::string b = Unhex(v["blob"].Str());
        sqlite3_bind_blob(st, i, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
      } else if (v.kind == Json::Kind::kNumber) {
        if (v.Str().find_first_of(".eE") != std::string::npos)
          sqlite3_bind_double(st, i, v.Number());
        else
          sqlite3_bind_int64(st, i, v.Int());
      } else {
        sqlite3_bind_null(st, i);
      }
      ++i;
    }
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE) << sqlite3_errmsg(db_);
    sqlite3_finalize(st);
    const std::string file = test::ReadFile(path_);
    const std::size_t page = static_cast<std::size_t>(root_ - 1) * 65536;
    if (file.size() < page + 65536) return {};
    const std::string p = file.substr(page, 65536);
    std::size_t at = (static_cast<std::uint8_t>(p[8]) << 8) | static_cast<std::uint8_t>(p[9]);
    const std::uint64_t length = Varint(p, at);
    Varint(p, at);  // row id
    if (length > 65536 - 35 || at + length > p.size()) return {};
    const std::string payload = p.substr(at, length);
    std::size_t h = 0;
    Varint(payload, h);
    Varint(payload, h);  // column 0's type
    if (payloadOut != nullptr) *payloadOut = payload;
    if (header != nullptr) *header = h;
    return payload.substr(h);
  }

 private:
  void Exec(const std::string& sql) {
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "") << " " << sql.substr(0, 200);
    sqlite3_free(error);
  }
  fs::path path_;
  sqlite3* db_ = nullptr;
  std::string table_;
  int root_ = 0;
};

std::string CreateStatement(const fs::path& file, const std::string& table) {
  sqlite3* db = nullptr;
  std::string sql;
  const std::string uri = "file:" + file.string() + "?immutable=1";
  if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE type='table' AND name=?", -1, &st,
                       nullptr);
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW)
      sql = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return sql;
}

using Key = std::vector<std::string>;

// Bytes of a payload that a table leaf keeps itself (the file format's rule).
std::uint64_t LocalPart(std::uint64_t payload, std::uint64_t usable) {
  const std::uint64_t maxLocal = usable - 35;
  if (payload <= maxLocal) return payload;
  const std::uint64_t minLocal = (usable - 12) * 32 / 255 - 23;
  const std::uint64_t local = minLocal + (payload - minLocal) % (usable - 4);
  return local > maxLocal ? minLocal : local;
}

// Whether `piece` lies in `file` at offset `at` of some page (at < 0: anywhere).
bool InFile(const std::string& file, const std::string& piece, std::int64_t at,
            std::size_t pageSize) {
  for (std::size_t pos = file.find(piece); pos != std::string::npos;
       pos = file.find(piece, pos + 1))
    if (at < 0 || pos % pageSize == static_cast<std::size_t>(at)) return true;
  return false;
}

// A row that spills into overflow pages of the backup's file remains when its local part
// (from the second serial type on) is in the file and each of its overflow pages' shares
// is at offset 4 of a page: the chain's pages were not taken since.
bool SpilledRowRemains(const std::string& file, const std::string& payload, std::size_t header,
                       std::uint64_t local, const std::string& log) {
  const std::size_t pageSize =
      file.size() < 100 ? 0
      : ((static_cast<std::uint8_t>(file[16]) << 8) | static_cast<std::uint8_t>(file[17])) == 1
          ? 65536
          : ((static_cast<std::uint8_t>(file[16]) << 8) | static_cast<std::uint8_t>(file[17]));
  if (pageSize == 0 || local <= header) return false;
  const std::size_t usable = pageSize - static_cast<std::uint8_t>(file[20]);
  // In a log, a page lies 24 bytes behind each frame's start (32 + n * (24 + page size)).
  const std::int64_t inLog = static_cast<std::int64_t>((32 + 24 + 4) % (24 + pageSize));
  auto held = [&](const std::string& piece, std::int64_t at) {
    return InFile(file, piece, at, pageSize) ||
           (!log.empty() && InFile(log, piece, at < 0 ? -1 : inLog, 24 + pageSize));
  };
  if (!held(payload.substr(header, local - header), -1)) return false;
  for (std::size_t at = local; at < payload.size(); at += usable - 4)
    if (!held(payload.substr(at, usable - 4), 4)) return false;
  return true;
}

struct Score {
  int remaining = 0, recalled = 0, foundGone = 0;
  int duplicate = 0, liveCopy = 0, garbage = 0;
  int listed = 0;
  // Of remaining and recalled: the rows that spill into overflow pages.
  int spilledRemaining = 0, spilledRecalled = 0;
  void Add(const Score& o) {
    spilledRemaining += o.spilledRemaining;
    spilledRecalled += o.spilledRecalled;
    remaining += o.remaining;
    recalled += o.recalled;
    foundGone += o.foundGone;
    duplicate += o.duplicate;
    liveCopy += o.liveCopy;
    garbage += o.garbage;
    listed += o.listed;
  }
  int False() const { return duplicate + liveCopy + garbage; }
};

// Scores the records listed as deleted (`listed`) against the deleted rows of `table`
// and its live rows, keyed by `keyOf` (values of a row -> what the record shows; empty
// for a row the reader does not list, such as a message without text). With
// `liveAlikeUnscored`, a deleted row whose key a live row has too is not scored: where the
// key is all a record shows (a note's body without its note), such a row cannot be told
// from a stale copy of the live one, and the reader leaves it out.
template <typename KeyOf>
Score ScoreTable(const DatabaseFile& stored, const Json& db, const std::string& table,
                 const std::vector<Key>& listed, KeyOf keyOf, const fs::path& scratch,
                 std::vector<std::string>& notes, bool liveAlikeUnscored = false) {
  Score s;
  const fs::path file = stored.path;
  RecordEncoder encoder(scratch, CreateStatement(file, table));
  const std::string bytes = test::ReadFile(file);
  // A stored log's frames hold rows too (pages in frames, behind 24 bytes each).
  const std::string log = stored.log.empty() ? std::string() : test::ReadFile(stored.log);
  std::multiset<Key> live;
  for (const Json* r : test::LiveRows(db, table)) {
    Key k = keyOf((*r)["values"], (*r)["rowid"].Int());
    if (!k.empty()) live.insert(k);
  }
  const std::uint64_t usable = bytes.size() < 100
                                   ? 0
                                   : (((static_cast<std::uint8_t>(bytes[16]) << 8) |
                                       static_cast<std::uint8_t>(bytes[17])) == 1
                                          ? 65536
                                          : ((static_cast<std::uint8_t>(bytes[16]) << 8) |
                                             static_cast<std::uint8_t>(bytes[17]))) -
                                         static_cast<std::uint8_t>(bytes[20]);
  std::map<Key, std::vector<bool>> deleted;  // key -> per deleted row: remains whole
  std::set<Key> spilledKeys;                 // keys of rows that spill and remain
  for (const Json* r : test::DeletedRows(db, table)) {
    Key k = keyOf((*r)["values"], (*r)["rowid"].Int());
    if (k.empty() || (liveAlikeUnscored && live.count(k) != 0)) continue;
    std::string payload;
    std::size_t header = 0;
    const std::string body = encoder.Body((*r)["values"], (*r)["rowid"].Int(), &payload, &header);
    const std::uint64_t local = usable > 480 ? LocalPart(payload.size(), usable) : payload.size();
    const bool spills = !body.empty() && local < payload.size();
    const bool remains = spills ? SpilledRowRemains(bytes, payload, header, local, log)
                                : !body.empty() && (bytes.find(body) != std::string::npos ||
                                                    log.find(body) != std::string::npos);
    deleted[k].push_back(remains);
    s.remaining += remains;
    if (spills && remains) {
      ++s.spilledRemaining;
      spilledKeys.insert(k);
    }
  }
  std::map<Key, std::size_t> used;
  for (const Key& k : listed) {
    ++s.listed;
    auto d = deleted.find(k);
    if (d != deleted.end() && used[k] < d->second.size()) {
      // Rows of one key are alike; the ones that remain are counted first.
      std::size_t remainingOfKey = 0;
      for (bool b : d->second) remainingOfKey += b;
      if (used[k] < remainingOfKey) {
        ++s.recalled;
        s.spilledRecalled += spilledKeys.count(k) != 0;
      } else
        ++s.foundGone;
      ++used[k];
    } else if (d != deleted.end()) {
      ++s.duplicate;
      if (notes.size() < 12) notes.push_back(table + " twice: " + k[0]);
    } else if (live.count(k) != 0) {
      ++s.liveCopy;
      if (notes.size() < 12) notes.push_back(table + " live copy: " + k[0]);
    } else {
      ++s.garbage;
      if (notes.size() < 12) {
        std::string hex;
        for (unsigned char c : k[0].substr(0, 8))
          hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
        notes.push_back(table + " garbage: '" + k[0] + "' (" + hex + ") | " + k[1] + " | " + k[2] +
                        " | " + k[3]);
      }
    }
  }
  for (const auto& [k, rows] : deleted) {
    std::size_t remainingOfKey = 0;
    for (bool b : rows) remainingOfKey += b;
    if (used[k] < remainingOfKey && notes.size() < 24)
      notes.push_back(table + " missed: " + k[0] + " | " + k[1]);
  }
  return s;
}

struct Phone {
  const char* ios;
  mkbackup::Layout layout;
};

void Print(const std::string& label, const Score& s) {
  std::printf("%-34s %6d %6d %6.1f%% %6d %6d %6d %6d %6d %6d %6d\n", label.c_str(), s.remaining,
              s.recalled, s.remaining ? 100.0 * s.recalled / s.remaining : 100.0, s.foundGone,
              s.duplicate, s.liveCopy, s.garbage, s.listed, s.spilledRemaining, s.spilledRecalled);
}

using Tally = std::map<std::string, Score>;

// Builds the backup of `o` and scores each database of it, adding to `byDatabase` and, per
// system version and page size, to `byStore`.
void ScoreBackup(const Phone& setup, const mkbackup::BackupOptions& o, const std::string& tag,
                 test::TempDir& dir, Tally& byDatabase, Tally& byStore,
                 std::vector<std::string>& notes) {
  const int pageSize = o.recordPageSize;
  const fs::path backup = test::BuildBackup(dir, o, "b" + tag);
  const Json truth = test::ReadTruth(backup);
  // A database with the log stored beside it, when it has one.
  auto path = [&](const char* label) {
    const Json* db = test::FindDatabase(truth, label);
    if (db == nullptr) return DatabaseFile();
    const std::string file = test::StoredFile(backup, *db).string();
    if (!db->Has("logFileId") || (*db)["logFileId"].Str().empty()) return DatabaseFile(file);
    const std::string id = (*db)["logFileId"].Str();
    fs::path log = backup / id.substr(0, 2) / id;
    if (!fs::exists(log)) log = backup / id;
    return DatabaseFile(file, log.string());
  };
  const DatabaseFile book = path("AddressBook.sqlitedb");
  const std::string suffix = std::string(" iOS ") + setup.ios + " " + std::to_string(pageSize);
  auto add = [&](const std::string& name, const Score& s) {
    byDatabase[name].Add(s);
    byStore[name + suffix].Add(s);
  };

  // Messages: text, date, handle, direction.
  {
    const Json& db = *test::FindDatabase(truth, "sms.db");
    const Json& bodies = db["bodyTexts"];
    const bool nanoseconds = std::atoi(setup.ios) >= 11;
    auto keyOf = [&](const Json& v, std::int64_t rowid) -> Key {
      std::string text = TextOf(v["text"]);
      if (text.empty() && bodies.Has(std::to_string(rowid)))
        text = bodies[std::to_string(rowid)].Str();
      if (text.empty()) return {};
      const std::int64_t date = v["date"].Int();
      return {ValidUtf8(text), Utc((nanoseconds ? date / 1000000000 : date) + kApple),
              std::to_string(v["handle_id"].Int()), std::to_string(v["is_from_me"].Int())};
    };
    ConversationMap map;
    MessageReader({}).Read(path("sms.db"), book, map);
    std::vector<Key> listed;
    for (const auto& [key, list] : map)
      for (const MessageRecord& m : list)
        if (m.deleted != 0)
          listed.push_back(
              {m.text.str(), m.date.str(), std::to_string(m.handleId), std::to_string(m.isFromMe)});
    add("sms.db message",
        ScoreTable(path("sms.db"), db, "message", listed, keyOf, dir.path() / "s.db", notes));
  }
  // Calls: date, address, duration, answered.
  {
    const bool newer = test::FindDatabase(truth, "CallHistory.storedata") != nullptr;
    const char* label = newer ? "CallHistory.storedata" : "call_history.db";
    const Json& db = *test::FindDatabase(truth, label);
    auto keyOf = [&](const Json& v, std::int64_t) -> Key {
      const std::string address = TextOf(v[newer ? "ZADDRESS" : "address"]);
      if (address.empty()) return {};
      const double date = v[newer ? "ZDATE" : "date"].Number();
      const std::int64_t seconds =
          static_cast<std::int64_t>(std::floor(date)) + (newer ? kApple : 0);
      const Json& answered = v[newer ? "ZANSWERED" : "answered"];
      return {ValidUtf8(address), Utc(seconds),
              std::to_string(
                  static_cast<int>(std::trunc(v[newer ? "ZDURATION" : "duration"].Number()))),
              std::to_string(answered.kind == Json::Kind::kNumber && answered.Int() != 0)};
    };
    std::list<CallRecord> calls;
    CallHistoryReader().Read(path(label), book, calls);
    std::vector<Key> listed;
    for (const CallRecord& c : calls)
      if (c.deleted != 0)
        listed.push_back(
            {c.address, c.date.str(), std::to_string(c.duration), std::to_string(c.answered)});
    add(newer ? "CallHistory ZCALLRECORD" : "call_history call",
        ScoreTable(path(label), db, newer ? "ZCALLRECORD" : "call", listed, keyOf,
                   dir.path() / "c.db", notes));
  }
  // WhatsApp: session, text, date, direction.
  {
    const Json& db = *test::FindDatabase(truth, "ChatStorage.sqlite");
    auto keyOf = [&](const Json& v, std::int64_t) -> Key {
      const std::string text = TextOf(v["ZTEXT"]);
      if (text.empty() || v["ZCHATSESSION"].Int() == 0) return {};
      const auto seconds = static_cast<std::int64_t>(std::floor(v["ZMESSAGEDATE"].Number()));
      return {ValidUtf8(text), Utc(seconds + kApple), std::to_string(v["ZCHATSESSION"].Int()),
              std::to_string(v["ZISFROMME"].Int())};
    };
    WhatsAppChatMap chats;
    WhatsAppReader().Read(path("ChatStorage.sqlite"), chats);
    std::vector<Key> listed;
    for (const auto& [session, list] : chats)
      for (const WhatsAppMessageRecord& m : list)
        if (m.deleted != 0)
          listed.push_back(
              {m.text, m.date.str(), std::to_string(session), std::to_string(m.isFromMe)});
    add("ChatStorage ZWAMESSAGE", ScoreTable(path("ChatStorage.sqlite"), db, "ZWAMESSAGE", listed,
                                             keyOf, dir.path() / "w.db", notes));
  }
  // Notes: the store whose notes are shown (the older up to iOS 9, else the newer).
  // Keys: text, date, title, kind.
  {
    std::list<NoteRecord> shown;
    NoteReader().Read(path("notes.sqlite"), path("NoteStore.sqlite"), shown);
    auto clean = [](std::string text) {
      CleanNoteText(text);
      return text;
    };
    std::vector<Key> dated, undated;
    for (const NoteRecord& n : shown)
      if (n.deleted != 0)
        (n.date.empty() ? undated : dated).push_back({n.body, n.date.str(), n.title, "note"});
    if (std::atoi(setup.ios) >= 11) {
      const Json& db = *test::FindDatabase(truth, "NoteStore.sqlite");
      auto keyOf = [&](const Json& v, std::int64_t) -> Key {
        const std::string title = clean(TextOf(v["ZTITLE1"])),
                          snippet = clean(TextOf(v["ZSNIPPET"]));
        if (title.empty() && snippet.empty()) return {};
        for (const char* c : {"ZCREATIONDATE", "ZCREATIONDATE3", "ZCREATIONDATE1"})
          if (v.Has(c) && v[c].kind == Json::Kind::kNumber)
            return {snippet, Utc(static_cast<std::int64_t>(std::floor(v[c].Number())) + kApple),
                    title, "note"};
        return {};
      };
      EXPECT_TRUE(undated.empty());
      add("NoteStore ZICCLOUDSYNCINGOBJECT",
          ScoreTable(path("NoteStore.sqlite"), db, "ZICCLOUDSYNCINGOBJECT", dated, keyOf,
                     dir.path() / "n.db", notes));
    } else {
      const Json& db = *test::FindDatabase(truth, "notes.sqlite");
      auto noteOf = [&](const Json& v, std::int64_t) -> Key {
        const std::string title = clean(TextOf(v["ZTITLE"])),
                          summary = clean(TextOf(v["ZSUMMARY"]));
        if (title.empty() && summary.empty()) return {};
        return {summary,
                Utc(static_cast<std::int64_t>(std::floor(v["ZCREATIONDATE"].Number())) + kApple),
                title, "note"};
      };
      auto bodyOf = [&](const Json& v, std::int64_t) -> Key {
        const std::string body = clean(TextOf(v["ZCONTENT"]));
        if (body.empty()) return {};
        return {body, "", "", "note"};
      };
      // A note whose row and body were both carved is listed once, with its whole body
      // behind the summary: scored as the row (by its summary) and as the body.
      auto words = [](const std::string& text) {
        std::string out;
        for (const char c : text) {
          const bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
          if (space && !out.empty() && out.back() != ' ') out += ' ';
          if (!space) out += c;
        }
        if (!out.empty() && out.back() == ' ') out.pop_back();
        return out;
      };
      std::map<std::pair<std::string, std::string>, std::string> summaryOf;  // (date, title)
      for (const Json* r : test::DeletedRows(db, "ZNOTE")) {
        const Key k = noteOf((*r)["values"], (*r)["rowid"].Int());
        if (!k.empty()) summaryOf[{k[1], k[2]}] = k[0];
      }
      // (A body no longer than the summary shows as the summary itself: the note stands
      // for its body when a deleted body has that text.)
      std::set<std::string> deletedBodies;
      for (const Json* r : test::DeletedRows(db, "ZNOTEBODY")) {
        const Key k = bodyOf((*r)["values"], (*r)["rowid"].Int());
        if (!k.empty()) deletedBodies.insert(k[0]);
      }
      for (Key& k : dated) {
        const auto summary = summaryOf.find({k[1], k[2]});
        if (summary == summaryOf.end() || words(k[0]).rfind(words(summary->second), 0) != 0 ||
            (words(k[0]) == words(summary->second) && deletedBodies.count(k[0]) == 0))
          continue;
        undated.push_back({k[0], "", "", "note"});
        k[0] = summary->second;
      }
      add("notes ZNOTE",
          ScoreTable(path("notes.sqlite"), db, "ZNOTE", dated, noteOf, dir.path() / "n.db", notes));
      add("notes ZNOTEBODY", ScoreTable(path("notes.sqlite"), db, "ZNOTEBODY", undated, bodyOf,
                                        dir.path() / "b.db", notes, true));
    }
  }
  // Contacts: first, last and organization of the person's row (a deleted contact
  // comes from the search table or the person table; the person table says which
  // persons were deleted and whether their row remains).
  if (const Json* ab = test::FindDatabase(truth, "AddressBook.sqlitedb")) {
    std::list<ContactRecord> contacts;
    ContactReader().Read(book, contacts);
    std::vector<Key> listed;
    for (const ContactRecord& c : contacts)
      if (c.deleted != 0) listed.push_back({c.first, c.last, c.organization, c.name});
    auto keyOf = [&](const Json& v, std::int64_t) -> Key {
      const std::string first = TextOf(v["First"]), last = TextOf(v["Last"]),
                        organization = TextOf(v["Organization"]);
      if (first.empty() && last.empty() && organization.empty()) return {};
      return {first, last, organization, PersonName(first, last, organization)};
    };
    add("AddressBook ABPerson", ScoreTable(path("AddressBook.sqlitedb"), *ab, "ABPerson", listed,
                                           keyOf, dir.path() / "p.db", notes, true));
  }
  fs::remove_all(backup);
}

// Prints the table and checks the goals: 90% of the rows that remain, of the spilled ones
// apart too, and no false record.
void Report(const Tally& byDatabase, const Tally& byStore, const std::vector<std::string>& notes,
            int fewest = 20) {
  // remain: deleted rows whose record is whole in the file; found: of those, the ones
  // listed with the right fields; gone: listed although the scorer did not find the
  // whole record (its fields were still there); twice, livecpy, garbage: false records.
  // long: of remain and found, the rows that spill into overflow pages.
  std::printf("%-34s %6s %6s %7s %6s %6s %6s %6s %6s %6s %6s\n", "database", "remain", "found",
              "recall", "gone", "twice", "livecpy", "garbage", "listed", "long", "lfound");
  for (const auto& [name, s] : byStore) Print(name, s);
  for (const auto& [name, s] : byDatabase) Print("all " + name, s);
  for (const std::string& n : notes) std::printf("  %s\n", n.c_str());
  for (const auto& [name, s] : byDatabase) {
    EXPECT_GT(s.remaining, fewest) << name << ": too few deleted rows to score";
    EXPECT_GE(100.0 * s.recalled, 90.0 * s.remaining) << name;
    EXPECT_GE(100.0 * s.spilledRecalled, 90.0 * s.spilledRemaining) << name << ": spilled rows";
    EXPECT_EQ(s.False(), 0) << name;
  }
}

const Phone kSetups[] = {{"6.1.6", mkbackup::Layout::kOlder},
                         {"9.3.5", mkbackup::Layout::kOlder},
                         {"11.2", mkbackup::Layout::kNewer},
                         {"14.3", mkbackup::Layout::kNewer},
                         {"17.3", mkbackup::Layout::kNewer}};

mkbackup::BackupOptions ScoredOptions(const Phone& setup, int seed, int pageSize, int contacts) {
  mkbackup::BackupOptions o;
  o.layout = setup.layout;
  o.iosVersion = setup.ios;
  o.seed = static_cast<std::uint64_t>(seed);
  o.messages = 500;
  o.contacts = contacts;
  o.calls = 300;
  o.notes = 40;
  o.whatsapp = 400;
  o.wechat = o.qq = 0;
  o.recordPageSize = pageSize;
  return o;
}

TEST(DeletedScore, RecordDatabasesRecallAndNothingFalse) {
  test::ScopedEnv tz("TZ", "UTC");
  tzset();
  const int pageSizes[] = {1024, 4096, 32768};
  int seeds = 1, first = 1;
  std::vector<int> contactCounts = {30, 120};
  if (const char* c = std::getenv("BV_DELETED_SCORE_CONTACTS"))
    contactCounts = {std::max(1, std::atoi(c))};
  if (const char* n = std::getenv("BV_DELETED_SCORE_SEEDS")) seeds = std::max(1, std::atoi(n));
  if (const char* f = std::getenv("BV_DELETED_SCORE_FIRST")) first = std::max(1, std::atoi(f));
  test::TempDir dir("bv-deleted-score");
  Tally byDatabase, byStore;
  std::vector<std::string> notes;
  for (int seed = first; seed < first + seeds; ++seed) {
    for (const Phone& setup : kSetups) {
      for (std::size_t run = 0; run < std::size(pageSizes) * contactCounts.size(); ++run) {
        const int pageSize = pageSizes[run / contactCounts.size()];
        const int contacts = contactCounts[run % contactCounts.size()];
        const std::string tag = std::string(setup.ios) + "-" + std::to_string(pageSize) + "-" +
                                std::to_string(contacts) + "-" + std::to_string(seed);
        ScoreBackup(setup, ScoredOptions(setup, seed, pageSize, contacts), tag, dir, byDatabase,
                    byStore, notes);
      }
    }
  }
  Report(byDatabase, byStore, notes);
}

// Backups whose databases were in use: the newest third of each table's rows only in a
// write-ahead log stored beside the file, some of them deleted again in the log's later
// frames (those deletions exist nowhere else), and the file's own deletions with the log
// beside it.
TEST(DeletedScore, LoggedBackupsRecallAndNothingFalse) {
  test::ScopedEnv tz("TZ", "UTC");
  tzset();
  int seeds = 1, first = 1;
  if (const char* n = std::getenv("BV_DELETED_SCORE_SEEDS")) seeds = std::max(1, std::atoi(n));
  if (const char* f = std::getenv("BV_DELETED_SCORE_FIRST")) first = std::max(1, std::atoi(f));
  test::TempDir dir("bv-deleted-score-log");
  Tally byDatabase, byStore;
  std::vector<std::string> notes;
  for (int seed = first; seed < first + seeds; ++seed) {
    for (const Phone& setup : kSetups) {
      for (const int pageSize : {1024, 4096}) {
        mkbackup::BackupOptions o = ScoredOptions(setup, seed, pageSize, 30);
        o.writeAheadLogs = true;
        o.logDeletions = true;
        const std::string tag = std::string(setup.ios) + "-" + std::to_string(pageSize) + "-log-" +
                                std::to_string(seed);
        ScoreBackup(setup, o, tag, dir, byDatabase, byStore, notes);
      }
    }
  }
  // Fewer backups: some databases have only a few deleted rows left to score.
  Report(byDatabase, byStore, notes, 8);
}

}  // namespace
}  // namespace bv

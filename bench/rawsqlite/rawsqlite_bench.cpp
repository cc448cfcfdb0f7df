// WeChat store pass throughput: builds a store of the given size (default 100 MB) with
// a third of its messages deleted, then reports MB/s of reading the file sequentially,
// of SQLite reading every row of the chat tables (SELECT *, every column fetched, rows
// discarded), of the live walk alone and of the whole pass (live rows, carving, freed
// pages). The pass is measured against SQLite's own reading of the same tables.
// Then the same store in use: a fifth more messages and some deletions kept in its
// write-ahead log (copied before a checkpoint), read by the pass with the log and by
// SQLite with the log beside the file.
//   bench_rawsqlite [MB] [folder] [rounds]   (medians of the rounds, default 5)
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/hash.h"
#include "rawsqlite/chat_passes.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql.c_str(), error ? error : "?");
    std::exit(1);
  }
}

std::vector<std::string> BuildStore(const std::string& path, std::int64_t bytes) {
  fs::remove(path);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  Exec(db,
       "PRAGMA page_size=4096; PRAGMA secure_delete=OFF; PRAGMA journal_mode=OFF; PRAGMA "
       "synchronous=OFF");
  Exec(db,
       "CREATE TABLE Friend (FriendID INTEGER PRIMARY KEY, UsrName TEXT, NickName TEXT, Uin "
       "INTEGER, Email TEXT, Mobile TEXT, Type INTEGER, LastChatTime INTEGER, Draft TEXT, "
       "DraftTime INTEGER, Sex INTEGER, ImgStatus INTEGER, Remark TEXT)");
  std::vector<std::string> users;
  for (int u = 0; u < 40; ++u) {
    users.push_back("wxid_bench_" + std::to_string(u));
    Exec(db,
         "INSERT INTO Friend (UsrName, NickName, Type) VALUES ('" + users.back() + "', 'n', 3)");
    Exec(db, "CREATE TABLE Chat_" + bv::Md5Hex(users.back()) +
                 " (TableVer INTEGER DEFAULT 1, MesLocalID INTEGER PRIMARY KEY AUTOINCREMENT, "
                 "MesSvrID INTEGER DEFAULT 0, CreateTime INTEGER DEFAULT 0, Message TEXT, Status "
                 "INTEGER DEFAULT 0, ImgStatus INTEGER DEFAULT 0, Type INTEGER, Des INTEGER)");
  }
  std::mt19937 rng(1);
  std::vector<sqlite3_stmt*> inserts;
  for (const auto& u : users) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(
        db,
        ("INSERT INTO Chat_" + bv::Md5Hex(u) + " VALUES (1, NULL, ?, ?, ?, 2, 0, 1, ?)").c_str(),
        -1, &s, nullptr);
    inserts.push_back(s);
  }
  Exec(db, "BEGIN");
  std::int64_t written = 0, id = 0;
  std::string text;
  while (written < bytes * 12 / 10) {  // deletions below free about a sixth of the file
    sqlite3_stmt* s = inserts[rng() % inserts.size()];
    text.assign(20 + rng() % 400, static_cast<char>('a' + rng() % 26));
    sqlite3_bind_int64(s, 1, id++);
    sqlite3_bind_int64(s, 2, 1500000000 + static_cast<std::int64_t>(rng() % 100000000));
    sqlite3_bind_text(s, 3, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(s, 4, static_cast<int>(rng() % 2));
    sqlite3_step(s);
    sqlite3_reset(s);
    written += static_cast<std::int64_t>(text.size()) + 30;
  }
  Exec(db, "COMMIT");
  for (auto* s : inserts) sqlite3_finalize(s);
  Exec(db, "BEGIN");
  for (const auto& u : users)
    Exec(db, "DELETE FROM Chat_" + bv::Md5Hex(u) + " WHERE MesSvrID % 3 = 1");
  Exec(db, "COMMIT");
  sqlite3_close(db);
  return users;
}

// Copies the store at `path` to `copy` and changes it in WAL mode: about `bytes` more
// messages and every seventh deleted, all of it only in the log, which is kept as
// `copy` + "-wal" (taken before the close would fold it into the file).
void BuildLoggedCopy(const std::string& path, const std::string& copy,
                     const std::vector<std::string>& users, std::int64_t bytes) {
  fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
  sqlite3* db = nullptr;
  sqlite3_open(copy.c_str(), &db);
  Exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; PRAGMA synchronous=OFF");
  std::mt19937 rng(2);
  Exec(db, "BEGIN");
  std::int64_t written = 0, id = 1 << 30;
  std::string text;
  while (written < bytes) {
    const std::string& u = users[rng() % users.size()];
    text.assign(20 + rng() % 400, static_cast<char>('a' + rng() % 26));
    Exec(db, "INSERT INTO Chat_" + bv::Md5Hex(u) + " VALUES (1, NULL, " + std::to_string(id++) +
                 ", " + std::to_string(1600000000 + rng() % 10000000) + ", '" + text +
                 "', 2, 0, 1, 0)");
    written += static_cast<std::int64_t>(text.size()) + 30;
  }
  Exec(db, "COMMIT");
  Exec(db, "BEGIN");
  for (const auto& u : users)
    Exec(db, "DELETE FROM Chat_" + bv::Md5Hex(u) + " WHERE MesSvrID % 7 = 2");
  Exec(db, "COMMIT");
  fs::copy_file(copy, copy + ".main", fs::copy_options::overwrite_existing);
  fs::copy_file(copy + "-wal", copy + ".log", fs::copy_options::overwrite_existing);
  sqlite3_close(db);
  fs::rename(copy + ".main", copy);
  fs::rename(copy + ".log", copy + "-wal");
  std::error_code ec;
  fs::remove(copy + "-shm", ec);
}

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of this process: on a shared machine wall time mostly measures the
// neighbours.
double Cpu() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t mb = argc > 1 ? std::atoll(argv[1]) : 100;
  const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
  const std::string path =
      (folder / ("bv_bench_mm_" + std::to_string(getpid()) + ".sqlite")).string();
  std::printf("building a WeChat store of about %lld MB...\n", static_cast<long long>(mb));
  const auto users = BuildStore(path, mb << 20);
  const double size_mb = static_cast<double>(fs::file_size(path)) / (1 << 20);

  // Each round measures the floor (reading the file sequentially, from the cache after
  // the first round's warm-up), the live walk alone and the whole pass; the medians of
  // the rounds are reported.
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  std::vector<double> seq_wall, seq_cpu, sql_wall, sql_cpu_s, live_wall, live_cpu_s, whole_wall,
      whole_cpu_s, build_wall, build_cpu_s;
  std::size_t live_rows = 0, records = 0, deleted = 0, sql_rows = 0;
  // SQLite itself: every row of every chat table, each column fetched as its type.
  auto sqlite_read_of = [&](const std::string& file) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::size_t sum = 0;
    sql_rows = 0;
    for (const auto& u : users) {
      sqlite3_stmt* s = nullptr;
      const std::string sql = "SELECT * FROM Chat_" + bv::Md5Hex(u);
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) continue;
      const int columns = sqlite3_column_count(s);
      while (sqlite3_step(s) == SQLITE_ROW) {
        ++sql_rows;
        for (int c = 0; c < columns; ++c) {
          if (sqlite3_column_type(s, c) == SQLITE_TEXT) {
            const unsigned char* text = sqlite3_column_text(s, c);
            sum += static_cast<std::size_t>(sqlite3_column_bytes(s, c)) + (text ? text[0] : 0);
          } else {
            sum += static_cast<std::size_t>(sqlite3_column_int64(s, c));
          }
        }
      }
      sqlite3_finalize(s);
    }
    sqlite3_close(db);
    if (sum == 1) std::printf(" ");
  };
  auto sqlite_read = [&] { sqlite_read_of(path); };
  auto sequential_read = [&] {
    FILE* f = std::fopen(path.c_str(), "rb");
    std::vector<char> buf(65536);
    std::size_t sum = 0;
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), f))
      sum += static_cast<unsigned char>(buf[n - 1]);
    std::fclose(f);
    if (sum == 1) std::printf(" ");
  };
  sequential_read();  // warm-up
  for (int round = 0; round < rounds; ++round) {
    {
      const auto start = Clock::now();
      const double cpu0 = Cpu();
      sequential_read();
      seq_wall.push_back(Seconds(start));
      seq_cpu.push_back(std::max(Cpu() - cpu0, 1e-3));
    }
    {
      const auto start = Clock::now();
      const double cpu0 = Cpu();
      sqlite_read();
      sql_wall.push_back(Seconds(start));
      sql_cpu_s.push_back(std::max(Cpu() - cpu0, 1e-3));
    }
    // Live walk alone: every chat table's live cells decoded, no carving.
    const auto live_start = Clock::now();
    const double live_cpu0 = Cpu();
    live_rows = 0;
    {
      bv::RawDbFile reader;
      reader.open(path);
      bv::ChatPassState state;
      std::vector<std::uint8_t> page(reader.PageSize()), leaf(reader.PageSize());
      std::list<bv::ChatMessageRecord> out;
      for (const auto& u : users) {
        const std::string table = "Chat_" + bv::Md5Hex(u);
        for (const auto& [root, key] : reader.find_root_pages(table)) {
          (void)key;
          reader.read_page(root, page.data());
          bv::CellMap cells;
          reader.collect_live_cells(root, bv::Bytes(page), cells);
          for (const auto& [index, offsets] : cells) {
            reader.read_page(index, leaf.data());
            std::vector<std::uint16_t> sorted(offsets.begin(), offsets.end());
            std::sort(sorted.begin(), sorted.end());
            for (std::uint16_t o : offsets) {
              auto it = std::upper_bound(sorted.begin(), sorted.end(), o);
              bv::CellInput cell{bv::Bytes(leaf), o, it == sorted.end() ? reader.PageSize() : *it,
                                 false,           0, index};
              bv::decode_chat_message(reader, cell, out, bv::ChatLayout::WeChat, state);
            }
          }
        }
        live_rows += out.size();
        out.clear();
      }
    }
    live_wall.push_back(Seconds(live_start));
    live_cpu_s.push_back(Cpu() - live_cpu0);

    const auto whole_start = Clock::now();
    const double whole_cpu0 = Cpu();
    auto* map = new bv::ChatMap;
    bv::WeChatPass(path, *map);
    whole_wall.push_back(Seconds(whole_start));
    whole_cpu_s.push_back(Cpu() - whole_cpu0);
    records = deleted = 0;
    for (const auto& [k, list] : *map)
      for (const auto& r : list) {
        ++records;
        deleted += r.status != 0;
      }
    // What the pass's output alone costs to build: the same records copied into new
    // lists (every string allocated and written once more), no parsing.
    {
      const auto start = Clock::now();
      const double cpu0 = Cpu();
      auto* copy = new bv::ChatMap(*map);
      build_wall.push_back(Seconds(start));
      build_cpu_s.push_back(Cpu() - cpu0);
      delete copy;
    }
    delete map;  // not timed
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double sequential = median(seq_wall), sequential_cpu = median(seq_cpu);
  const double sql = median(sql_wall), sql_cpu = median(sql_cpu_s);
  const double live = median(live_wall), live_cpu = median(live_cpu_s);
  const double whole = median(whole_wall), whole_cpu = median(whole_cpu_s);
  const double build = median(build_wall), build_cpu = median(build_cpu_s);

  std::printf("file %.1f MB; %zu live rows (SQLite: %zu); whole pass %zu records (%zu deleted)\n",
              size_mb, live_rows, sql_rows, records, deleted);
  std::printf("medians of %d rounds\n", rounds);
  std::printf("                  wall MB/s   cpu MB/s  (share of sequential, wall / cpu)\n");
  std::printf("sequential read : %9.1f  %9.1f\n", size_mb / sequential,
              size_mb / std::max(sequential_cpu, 1e-3));
  std::printf("sqlite SELECT * : %9.1f  %9.1f  (%.0f%% / %.0f%%)\n", size_mb / sql,
              size_mb / sql_cpu, 100.0 * sequential / sql,
              100.0 * std::max(sequential_cpu, 1e-3) / sql_cpu);
  std::printf("live walk       : %9.1f  %9.1f  (%.0f%% / %.0f%%)\n", size_mb / live,
              size_mb / live_cpu, 100.0 * sequential / live,
              100.0 * std::max(sequential_cpu, 1e-3) / live_cpu);
  std::printf("whole pass      : %9.1f  %9.1f  (%.0f%% / %.0f%%; goal 25%%)\n", size_mb / whole,
              size_mb / whole_cpu, 100.0 * sequential / whole,
              100.0 * std::max(sequential_cpu, 1e-3) / whole_cpu);
  std::printf(
      "records alone   : %9.1f  %9.1f  (%.0f%% / %.0f%%: copying the pass's records, "
      "the bound for any pass that builds them)\n",
      size_mb / build, size_mb / std::max(build_cpu, 1e-3), 100.0 * sequential / build,
      100.0 * std::max(sequential_cpu, 1e-3) / std::max(build_cpu, 1e-3));
  std::printf(
      "share of SQLite : live walk %.0f%% / %.0f%%, whole pass %.0f%% / %.0f%% (wall / cpu; "
      "goal for the whole pass 50%%)\n",
      100.0 * sql / live, 100.0 * sql_cpu / std::max(live_cpu, 1e-3), 100.0 * sql / whole,
      100.0 * sql_cpu / std::max(whole_cpu, 1e-3));

  // The store in use: the pass with the log against SQLite with the log, same rounds.
  const std::string logged = path + ".inuse";
  BuildLoggedCopy(path, logged, users, (mb << 20) / 5);
  const std::string log = logged + "-wal";
  const double logged_mb =
      static_cast<double>(fs::file_size(logged) + fs::file_size(log)) / (1 << 20);
  std::vector<double> lsql_wall, lsql_cpu, lpass_wall, lpass_cpu;
  std::size_t logged_live = 0, logged_deleted = 0, logged_sql_rows = 0;
  for (int round = 0; round < rounds; ++round) {
    {
      const auto start = Clock::now();
      const double cpu0 = Cpu();
      sqlite_read_of(logged);
      lsql_wall.push_back(Seconds(start));
      lsql_cpu.push_back(std::max(Cpu() - cpu0, 1e-3));
      logged_sql_rows = sql_rows;
      std::error_code ec;
      fs::remove(logged + "-shm", ec);
    }
    const auto start = Clock::now();
    const double cpu0 = Cpu();
    auto* map = new bv::ChatMap;
    bv::WeChatPass(logged, log, *map);
    lpass_wall.push_back(Seconds(start));
    lpass_cpu.push_back(Cpu() - cpu0);
    logged_live = logged_deleted = 0;
    for (const auto& [k, list] : *map)
      for (const auto& r : list) (r.status != 0 ? logged_deleted : logged_live)++;
    delete map;
  }
  const double lsql = median(lsql_wall), lsql_c = median(lsql_cpu);
  const double lpass = median(lpass_wall), lpass_c = median(lpass_cpu);
  std::printf(
      "\nin use: file and log %.1f MB (log %.1f MB); pass with the log %zu live rows (SQLite: "
      "%zu), %zu deleted\n",
      logged_mb, static_cast<double>(fs::file_size(log)) / (1 << 20), logged_live, logged_sql_rows,
      logged_deleted);
  std::printf("sqlite with log : %9.1f  %9.1f\n", logged_mb / lsql, logged_mb / lsql_c);
  std::printf("pass with log   : %9.1f  %9.1f  (share of SQLite with the log %.0f%% / %.0f%%)\n",
              logged_mb / lpass, logged_mb / std::max(lpass_c, 1e-3), 100.0 * lsql / lpass,
              100.0 * lsql_c / std::max(lpass_c, 1e-3));
  fs::remove(logged);
  fs::remove(log);
  fs::remove(path);
  return 0;
}

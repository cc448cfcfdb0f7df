// Times each record reader over large databases of the real iOS layouts against its
// floor: the SQLite library running the reader's own statements through sqlite3_exec
// with every row discarded, as the sqlite3 shell would. Each measurement runs in a
// child process so that its peak memory (maximum resident set) is its own; reader and
// floor runs alternate, and each figure is the median of the runs.
//
// A second line per reader, "records only", builds the reader's result again without
// SQLite: the same number of records in list nodes with strings of the same
// lengths. It shows how much of the reader's time is the building of its records,
// which no way of reading the database avoids.
//
//   bench_records [--source DIR] [--scale N] [--only NAME] [--dir KEEP] [--runs N]
//   (scale 1: 200,000 messages from 10,000 contacts; NAME picks readers by name;
//    5 runs by default)
//
// Writes its databases into a temporary folder and removes it at the end.
#include <sqlite3.h>
#include <sys/resource.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "records/readers.h"
#include "records/readonly_db.h"

namespace fs = std::filesystem;
using namespace bv;

namespace {

std::string g_schemas;

std::string Section(const std::string& marker) {
  const std::string head = "-- @@ section:";
  std::size_t at = 0;
  while ((at = g_schemas.find(head, at)) != std::string::npos) {
    const std::size_t lineEnd = g_schemas.find('\n', at);
    if (g_schemas.substr(at, lineEnd - at).find(marker) != std::string::npos) {
      const std::size_t next = g_schemas.find(head, lineEnd);
      return g_schemas.substr(at, next == std::string::npos ? std::string::npos : next - at);
    }
    at = lineEnd;
  }
  std::fprintf(stderr, "no schema section %s\n", marker.c_str());
  std::exit(1);
}

class Writer {
 public:
  Writer(const std::string& path, const std::string& schema) {
    fs::remove(path);
    sqlite3_open(path.c_str(), &db_);
    Exec(schema);
    Exec("PRAGMA synchronous=OFF; BEGIN;");
  }
  ~Writer() {
    Exec("COMMIT;");
    sqlite3_close(db_);
  }
  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::fprintf(stderr, "%s\n", err ? err : "?");
      std::exit(1);
    }
  }
  // Runs `sql` once per row; `bind` fills the parameters of row i.
  void Rows(const std::string& sql, int count,
            const std::function<void(sqlite3_stmt*, int)>& bind) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "%s\n", sqlite3_errmsg(db_));
      std::exit(1);
    }
    for (int i = 0; i < count; ++i) {
      bind(st, i);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
  }

 private:
  sqlite3* db_ = nullptr;
};

void Text(sqlite3_stmt* st, int col, const std::string& s) {
  sqlite3_bind_text(st, col, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

std::string Number(int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "555%07d", 1000000 + i * 13);
  return buf;
}

// Phone text of a person as the address book's search table keeps it: the number as
// entered and its generated variants, each followed by a space.
std::string PhoneText(int i) {
  const std::string n = Number(i);
  return "(" + n.substr(0, 3) + ") " + n.substr(3, 3) + "-" + n.substr(6) + " +1" + n + " 011" +
         "1" + n + " 001" + n + " 1" + n + " " + n + " " + n.substr(3) + " ";
}

struct Sizes {
  int contacts = 10000, messages = 200000, calls = 50000, notes = 20000;
  int waSessions = 2000, waMessages = 200000;
};

void Generate(const fs::path& dir, const Sizes& s) {
  std::mt19937 rng(7);
  {
    Writer w((dir / "ab.sqlitedb").string(), Section("NEW full-text layout"));
    w.Rows(
        "INSERT INTO ABPersonFullTextSearch_content(docid,c0First,c1Last,c6Organization,c16Phone,"
        "c17Email) VALUES(?,?,?,?,?,?)",
        s.contacts, [&](sqlite3_stmt* st, int i) {
          sqlite3_bind_int(st, 1, i + 1);
          Text(st, 2, "First" + std::to_string(i));
          Text(st, 3, "Last" + std::to_string(i % 977));
          Text(st, 4, i % 5 == 0 ? "Company" : "");
          Text(st, 5, PhoneText(i));
          Text(st, 6, "p" + std::to_string(i) + "@example.com ");
        });
  }
  {
    Writer w((dir / "sms.db").string(), Section("sms.db | iOS 12.4"));
    w.Rows("INSERT INTO handle(ROWID,id,country,service) VALUES(?,?,'us','iMessage')", s.contacts,
           [&](sqlite3_stmt* st, int i) {
             sqlite3_bind_int(st, 1, i + 1);
             Text(st, 2, "+1" + Number(i));
           });
    w.Rows("INSERT INTO chat(ROWID,guid,style,state) VALUES(?,?,45,3)", s.contacts,
           [&](sqlite3_stmt* st, int i) {
             sqlite3_bind_int(st, 1, i + 1);
             Text(st, 2, "iMessage;-;" + std::to_string(i));
           });
    const long long base = 600000000LL * 1000000000LL;
    w.Rows(
        "INSERT INTO message(ROWID,guid,text,handle_id,date,is_from_me,service) VALUES(?,?,?,?,?,?,"
        "'iMessage')",
        s.messages, [&](sqlite3_stmt* st, int i) {
          sqlite3_bind_int(st, 1, i + 1);
          Text(st, 2, "GUID-" + std::to_string(i));
          Text(st, 3, "Message number " + std::to_string(i) + " with some ordinary text in it.");
          sqlite3_bind_int(st, 4, static_cast<int>(rng() % s.contacts) + 1);
          sqlite3_bind_int64(st, 5,
                             base + static_cast<long long>(rng() % 100000000) * 1000000000LL);
          sqlite3_bind_int(st, 6, static_cast<int>(rng() % 2));
        });
    w.Exec(
        "INSERT INTO chat_message_join(chat_id,message_id) SELECT handle_id, ROWID FROM message;"
        "INSERT INTO chat_handle_join(chat_id,handle_id) SELECT ROWID, ROWID FROM chat;");
  }
  {
    Writer w((dir / "CallHistory.storedata").string(), Section("iOS 10.3.3 and iOS 11.2"));
    w.Rows("INSERT INTO ZCALLRECORD(Z_PK,ZANSWERED,ZDURATION,ZADDRESS,ZDATE) VALUES(?,?,?,?,?)",
           s.calls, [&](sqlite3_stmt* st, int i) {
             sqlite3_bind_int(st, 1, i + 1);
             sqlite3_bind_int(st, 2, static_cast<int>(rng() % 2));
             sqlite3_bind_double(st, 3, (rng() % 36000) / 10.0);
             const std::string a = "+1" + Number(static_cast<int>(rng() % (s.contacts * 2)));
             sqlite3_bind_blob(st, 4, a.data(), static_cast<int>(a.size()), SQLITE_TRANSIENT);
             sqlite3_bind_double(st, 5, 600000000.0 + (rng() % 100000000) + 0.25);
           });
  }
  {
    Writer w((dir / "notes.sqlite").string(), Section("notes.sqlite (HomeDomain"));
    w.Rows("INSERT INTO ZNOTEBODY(Z_PK,ZCONTENT,ZOWNER) VALUES(?,?,?)", s.notes,
           [&](sqlite3_stmt* st, int i) {
             sqlite3_bind_int(st, 1, i + 1);
             Text(st, 2,
                  "<div>Note &amp; body " + std::to_string(i) +
                      "</div><div>second&nbsp;line&lt;x&gt;<br>third</div>");
             sqlite3_bind_int(st, 3, i + 1);
           });
    w.Rows("INSERT INTO ZNOTE(Z_PK,ZBODY,ZCREATIONDATE,ZTITLE) VALUES(?,?,?,?)", s.notes,
           [&](sqlite3_stmt* st, int i) {
             sqlite3_bind_int(st, 1, i + 1);
             sqlite3_bind_int(st, 2, i + 1);
             sqlite3_bind_double(st, 3, 300000000.0 + (rng() % 300000000) + 0.5);
             Text(st, 4, "Title &quot;" + std::to_string(i) + "&quot;");
           });
  }
  {
    Writer w((dir / "NoteStore.sqlite").string(), Section("NoteStore.sqlite | iOS 11.2"));
    w.Rows(
        "INSERT INTO ZICCLOUDSYNCINGOBJECT(Z_PK,ZTITLE1,ZSNIPPET,ZCREATIONDATE,ZCREATIONDATE1) "
        "VALUES(?,?,?,?,?)",
        s.notes, [&](sqlite3_stmt* st, int i) {
          sqlite3_bind_int(st, 1, i + 1);
          Text(st, 2, "Note " + std::to_string(i));
          Text(st, 3, "Snippet of the note &amp; its text " + std::to_string(i));
          sqlite3_bind_double(st, 4, 500000000.0 + (rng() % 100000000));
          sqlite3_bind_double(st, 5, 500000000.0 + (rng() % 100000000));
        });
  }
  {
    Writer w((dir / "ChatStorage.sqlite").string(), Section("ChatStorage.sqlite (AppDomainGroup"));
    w.Rows("INSERT INTO ZWACHATSESSION(Z_PK,ZPARTNERNAME,ZCONTACTJID) VALUES(?,?,?)", s.waSessions,
           [&](sqlite3_stmt* st, int i) {
             sqlite3_bind_int(st, 1, i + 1);
             Text(st, 2, "Chat " + std::to_string(i));
             Text(st, 3,
                  i % 10 == 0 ? "1203630" + std::to_string(i) + "@g.us"
                              : "1" + Number(i) + "@s.whatsapp.net");
           });
    // Groups (every tenth session) have eight members each.
    const int groups = s.waSessions / 10;
    w.Rows("INSERT INTO ZWAGROUPMEMBER(Z_PK,ZCHATSESSION,ZCONTACTNAME,ZMEMBERJID) VALUES(?,?,?,?)",
           groups * 8, [&](sqlite3_stmt* st, int i) {
             sqlite3_bind_int(st, 1, i + 1);
             sqlite3_bind_int(st, 2, (i / 8) * 10 + 1);
             Text(st, 3, i % 3 == 0 ? "" : "Member " + std::to_string(i));
             Text(st, 4, "1" + Number(i) + "@s.whatsapp.net");
           });
    w.Rows(
        "INSERT INTO ZWAMESSAGE(Z_PK,ZISFROMME,ZCHATSESSION,ZMESSAGEDATE,ZPUSHNAME,ZTEXT) "
        "VALUES(?,?,?,?,?,?)",
        s.waMessages, [&](sqlite3_stmt* st, int i) {
          sqlite3_bind_int(st, 1, i + 1);
          sqlite3_bind_int(st, 2, static_cast<int>(rng() % 2));
          const int session = static_cast<int>(rng() % s.waSessions) + 1;
          sqlite3_bind_int(st, 3, session);
          sqlite3_bind_double(st, 4, 600000000.0 + (rng() % 100000000) + 0.5);
          Text(st, 5, "~" + Number(static_cast<int>(rng() % (groups * 8))));
          if (i % 20 == 0)
            sqlite3_bind_null(st, 6);
          else
            Text(st, 6, "WhatsApp message " + std::to_string(i) + " saying something.");
        });
    w.Rows("INSERT INTO ZWAMEDIAITEM(Z_PK,ZMESSAGE,ZTITLE) VALUES(?,?,?)", s.waMessages / 20,
           [&](sqlite3_stmt* st, int i) {
             sqlite3_bind_int(st, 1, i + 1);
             sqlite3_bind_int(st, 2, i * 20 + 1);
             Text(st, 3, "photo " + std::to_string(i));
           });
  }
}

int Discard(void*, int, char**, char**) {
  return 0;
}

// The floor: the same statements run by the SQLite library as the sqlite3 shell runs
// them (a read-only connection with default settings), every row discarded.
void Floor(const std::vector<std::pair<std::string, const char*>>& statements) {
  for (auto& [path, sql] : statements) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(db, sql, Discard, nullptr, nullptr);
    sqlite3_close(db);
  }
}

struct Measure {
  double ms = 0;      // processor time (user + system) of the work in the child
  double wallMs = 0;  // wall time of the same work, on a machine shared with other work
  long peakKb = 0;    // maximum resident set of the child
  long long items = 0;
};

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Runs `work` in a child process. `work` returns a callable that counts the items of
// its result; the counting walks every record and is not timed.
using Work = std::function<std::function<long long()>()>;

Measure InChild(const Work& work) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const double cpu0 = CpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    const auto count = work();
    const double cpu = CpuMs() - cpu0;
    const double wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    const long long items = count();
    char buf[128];
    const int n = std::snprintf(buf, sizeof buf, "%f %f %lld", cpu, wall, items);
    if (write(fds[1], buf, static_cast<std::size_t>(n)) < 0) _exit(1);
    _exit(0);  // the result is freed with the process, not timed
  }
  close(fds[1]);
  char buf[128] = {};
  if (read(fds[0], buf, sizeof buf - 1) < 0) buf[0] = 0;
  close(fds[0]);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  Measure m;
  std::sscanf(buf, "%lf %lf %lld", &m.ms, &m.wallMs, &m.items);
  m.peakKb = usage.ru_maxrss;
  return m;
}

// The run with the median time (and its other figures).
Measure Median(std::vector<Measure> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Measure& a, const Measure& b) { return a.ms < b.ms; });
  return runs[runs.size() / 2];
}

// Lengths of the strings of every record of a result, record after record.
using Shape = std::vector<std::uint32_t>;

// One text field of a record: a string, a date held in the record itself, or a shared text.
struct TextField {
  std::string* text = nullptr;
  InlineText* date = nullptr;
  SharedText* shared = nullptr;  // filled with a text of its own, as if none were shared
  TextField(std::string* t) : text(t) {}
  TextField(InlineText* d) : date(d) {}
  TextField(SharedText* s) : shared(s) {}
  std::size_t size() const {
    return text != nullptr ? text->size() : date != nullptr ? date->size() : shared->size();
  }
  void Fill(std::size_t n) const {
    if (text != nullptr)
      text->assign(n, 'x');
    else if (date != nullptr)
      *date = std::string(n, 'x');
    else
      *shared = std::string(n, 'x');
  }
};

// The records of a shape built again: list nodes, texts of the same lengths.
template <typename R, std::size_t N>
std::function<long long()> Rebuild(const Shape& shape, std::array<TextField, N> (*fields)(R&)) {
  auto& list = *new std::list<R>;
  for (std::size_t at = 0; at + N <= shape.size(); at += N) {
    R& r = list.emplace_back();
    const auto f = fields(r);
    for (std::size_t k = 0; k < N; ++k) f[k].Fill(shape[at + k]);
  }
  return [&list] { return static_cast<long long>(list.size()); };
}

std::array<TextField, 5> MessageFields(MessageRecord& m) {
  return {&m.date, &m.sender, &m.name, &m.text, &m.extra};
}
std::array<TextField, 7> ContactFields(ContactRecord& c) {
  return {&c.email, &c.address, &c.extra, &c.url, &c.phone, &c.organization, &c.name};
}
std::array<TextField, 3> CallFields(CallRecord& c) {
  return {&c.date, &c.address, &c.name};
}
std::array<TextField, 3> NoteFields(NoteRecord& n) {
  return {&n.date, &n.title, &n.body};
}
// A message's own texts; its chat's texts are held once per chat and left out.
std::array<TextField, 5> WhatsAppFields(WhatsAppMessageRecord& m) {
  return {&m.date, &m.senderName, &m.text, &m.pushName, &m.extra};
}

template <typename R, std::size_t N>
Shape ShapeOf(const std::list<R>& list, std::array<TextField, N> (*fields)(R&)) {
  Shape shape;
  for (const R& r : list) {
    const auto f = fields(const_cast<R&>(r));
    for (const TextField& t : f) shape.push_back(static_cast<std::uint32_t>(t.size()));
  }
  return shape;
}

// The shape of a reader's result, taken in a child (so that the result's memory is
// never part of this process) and handed over through a file.
Shape ShapeInChild(const fs::path& file, const std::function<Shape()>& make) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    const Shape shape = make();
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(shape.data()),
              static_cast<std::streamsize>(shape.size() * sizeof(std::uint32_t)));
    _exit(out ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Shape shape(fs::exists(file) ? fs::file_size(file) / sizeof(std::uint32_t) : 0);
  std::ifstream in(file, std::ios::binary);
  in.read(reinterpret_cast<char*>(shape.data()),
          static_cast<std::streamsize>(shape.size() * sizeof(std::uint32_t)));
  fs::remove(file);
  return shape;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path source = BV_BENCH_SOURCE_DIR;
  int scale = 1;
  int runs = 5;
  std::string only;
  fs::path keep;  // --dir: keep (and reuse) the databases there
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--source") == 0) source = argv[i + 1];
    if (std::strcmp(argv[i], "--scale") == 0) scale = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
    if (std::strcmp(argv[i], "--dir") == 0) keep = argv[i + 1];
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  }
  {
    std::ifstream in(source / "tools/mkbackup/ios-schemas.sql");
    std::stringstream s;
    s << in.rdbuf();
    g_schemas = s.str();
  }
  Sizes sizes;
  sizes.messages *= scale;
  sizes.calls *= scale;
  sizes.notes *= scale;
  sizes.waMessages *= scale;
  const fs::path dir =
      keep.empty() ? fs::temp_directory_path() / ("bv-bench-records-" + std::to_string(getpid()))
                   : keep;
  const bool reuse = !keep.empty() && fs::exists(dir / "ChatStorage.sqlite");
  fs::create_directories(dir);
  const auto t0 = std::chrono::steady_clock::now();
  if (!reuse) Generate(dir, sizes);
  std::printf(
      "databases written in %.0f ms: %d messages, %d contacts, %d calls, %d notes, "
      "%d WhatsApp messages; median of %d runs\n",
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count(),
      sizes.messages, sizes.contacts, sizes.calls, sizes.notes, sizes.waMessages, runs);
  const std::string sms = (dir / "sms.db").string(), ab = (dir / "ab.sqlitedb").string(),
                    calls = (dir / "CallHistory.storedata").string(),
                    older = (dir / "notes.sqlite").string(),
                    newer = (dir / "NoteStore.sqlite").string(),
                    wa = (dir / "ChatStorage.sqlite").string();

  // Each reader's result stays allocated (freed with the child process, not timed).
  auto readMessages = [&]() -> ConversationMap& {
    auto& map = *new ConversationMap;
    MessageReader({}).Read(sms, ab, map);
    return map;
  };
  auto readContacts = [&]() -> std::list<ContactRecord>& {
    auto& l = *new std::list<ContactRecord>;
    ContactReader().Read(ab, l);
    return l;
  };
  auto readCalls = [&]() -> std::list<CallRecord>& {
    auto& l = *new std::list<CallRecord>;
    CallHistoryReader().Read(calls, ab, l);
    return l;
  };
  auto readOlderNotes = [&]() -> std::list<NoteRecord>& {
    auto& l = *new std::list<NoteRecord>;
    NoteReader().Read(older, newer, l);
    return l;
  };
  auto readNewerNotes = [&]() -> std::list<NoteRecord>& {
    auto& l = *new std::list<NoteRecord>;
    NoteReader().ReadNewerStore(newer, l);
    return l;
  };
  auto readWhatsApp = [&]() -> WhatsAppChatMap& {
    auto& map = *new WhatsAppChatMap;
    WhatsAppReader().Read(wa, map);
    return map;
  };

  struct Case {
    const char* name;
    Work reader;
    std::vector<std::pair<std::string, const char*>> floor;
    std::function<Shape()> shape;
    std::function<std::function<long long()>(const Shape&)> rebuild;
  };
  const Case cases[] = {
      {"messages",
       [&] {
         ConversationMap& map = readMessages();
         return std::function<long long()>([&map] {
           // The owner's messages to a group have no sender and so no name.
           long long n = 0, named = 0;
           for (auto& [k, l] : map)
             for (auto& m : l) n += 1, named += !m.name.empty() || m.sender.empty();
           return named == n ? n : -n;  // negative: some message had no name
         });
       },
       {{sms, kChatMemberStatement},
        {sms, kChatNameStatement},
        {sms, kChatMessageStatement},
        {ab, kAddressBookStatementNew}},
       [&] {
         std::list<MessageRecord> all;
         for (auto& [k, l] : readMessages()) all.splice(all.end(), l);
         return ShapeOf(all, MessageFields);
       },
       [](const Shape& s) { return Rebuild(s, MessageFields); }},
      {"contacts",
       [&] {
         auto& l = readContacts();
         return std::function<long long()>([&l] { return static_cast<long long>(l.size()); });
       },
       {{ab, kAddressBookStatementNew}, {ab, kMultiValueStatement}},
       [&] { return ShapeOf(readContacts(), ContactFields); },
       [](const Shape& s) { return Rebuild(s, ContactFields); }},
      {"calls",
       [&] {
         auto& l = readCalls();
         return std::function<long long()>([&l] { return static_cast<long long>(l.size()); });
       },
       {{calls, kCallStatement}, {ab, kAddressBookStatementNew}},
       [&] { return ShapeOf(readCalls(), CallFields); },
       [](const Shape& s) { return Rebuild(s, CallFields); }},
      {"notes (older store)",
       [&] {
         auto& l = readOlderNotes();
         return std::function<long long()>([&l] { return static_cast<long long>(l.size()); });
       },
       {{older, kOlderNoteStatement}},
       [&] { return ShapeOf(readOlderNotes(), NoteFields); },
       [](const Shape& s) { return Rebuild(s, NoteFields); }},
      {"notes (newer store)",
       [&] {
         auto& l = readNewerNotes();
         return std::function<long long()>([&l] { return static_cast<long long>(l.size()); });
       },
       {{newer, kNewerNoteStatement}},
       [&] { return ShapeOf(readNewerNotes(), NoteFields); },
       [](const Shape& s) { return Rebuild(s, NoteFields); }},
      {"whatsapp",
       [&] {
         auto& map = readWhatsApp();
         return std::function<long long()>([&map] {
           long long n = 0;
           for (auto& [k, l] : map) n += static_cast<long long>(l.size());
           return n;
         });
       },
       {{wa, kWhatsAppSessionStatement},
        {wa, kWhatsAppMemberStatement},
        {wa, kWhatsAppMessageStatement},
        {wa, kWhatsAppMediaStatement}},
       [&] {
         std::list<WhatsAppMessageRecord> all;
         for (auto& [k, l] : readWhatsApp()) all.splice(all.end(), l);
         return ShapeOf(all, WhatsAppFields);
       },
       [](const Shape& s) { return Rebuild(s, WhatsAppFields); }},
  };
  std::printf("%-20s %9s %9s %6s %9s %9s %11s %11s %8s\n", "reader", "cpu ms", "floor ms", "ratio",
              "wall ms", "floor", "peak", "floor peak", "items");
  bool allWithin = true;
  for (const Case& c : cases) {
    if (!only.empty() && std::string(c.name).find(only) == std::string::npos) continue;
    std::vector<Measure> floorRuns, readerRuns;
    for (int i = 0; i < runs; ++i) {
      floorRuns.push_back(InChild([&] {
        Floor(c.floor);
        return std::function<long long()>([] { return 0LL; });
      }));
      readerRuns.push_back(InChild(c.reader));
    }
    const Measure floor = Median(floorRuns);
    const Measure reader = Median(readerRuns);
    const double ratio = reader.ms / floor.ms;
    allWithin &= ratio <= 1.5;
    std::printf("%-20s %9.1f %9.1f %6.2f %9.1f %9.1f %8ld KB %8ld KB %8lld\n", c.name, reader.ms,
                floor.ms, ratio, reader.wallMs, floor.wallMs, reader.peakKb, floor.peakKb,
                reader.items);
    const Shape shape = ShapeInChild(dir / "shape.bin", c.shape);
    std::vector<Measure> recordRuns;
    for (int i = 0; i < runs; ++i) recordRuns.push_back(InChild([&] { return c.rebuild(shape); }));
    const Measure records = Median(recordRuns);
    std::printf("%-20s %9.1f %9s %6.2f %9.1f %9s %8ld KB %11s %8lld\n", "  records only",
                records.ms, "", records.ms / floor.ms, records.wallMs, "", records.peakKb, "",
                records.items);
  }
  std::error_code ec;
  if (keep.empty()) fs::remove_all(dir, ec);
  std::printf(allWithin ? "every reader within 1.5 x its floor\n"
                        : "some reader above 1.5 x its floor\n");
  return 0;
}

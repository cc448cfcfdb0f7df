#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "common/text.h"

#include "records/note_reader.h"
#include "records_fixture.h"

namespace bv {
namespace {

using test::MakeDb;
using test::Q;
using test::Sql;
using test::TempFolder;

struct OldNote {
  std::string created;  // SQL literal
  const char* title;
  const char* body;
};

std::string MakeOlderStore(const TempFolder& t, const std::vector<OldNote>& notes) {
  const std::string path = MakeDb(t, "notes.sqlite", "notes.sqlite (HomeDomain");
  std::string sql = "BEGIN;";
  int pk = 1;
  for (const OldNote& n : notes) {
    const std::string id = std::to_string(pk++);
    sql += "INSERT INTO ZNOTEBODY(Z_PK,ZCONTENT,ZOWNER) VALUES(" + id + "," +
           (n.body ? Q(n.body) : "NULL") + "," + id + ");";
    sql += "INSERT INTO ZNOTE(Z_PK,ZBODY,ZCREATIONDATE,ZTITLE) VALUES(" + id + "," + id + "," +
           n.created + "," + (n.title ? Q(n.title) : "NULL") + ");";
  }
  Sql(path, sql + "COMMIT;");
  return path;
}

std::string MakeNewerStore(const TempFolder& t, const std::string& section,
                           const std::string& inserts) {
  const std::string path = MakeDb(t, "NoteStore.sqlite", section);
  if (!inserts.empty()) Sql(path, inserts);
  return path;
}

std::vector<std::string> Titles(const std::list<NoteRecord>& notes) {
  std::vector<std::string> out;
  for (auto& n : notes) out.push_back(n.title);
  return out;
}

TEST(NoteCleanUp, EntitiesAndTagsInOrder) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a&lt;b&gt;c", "a<b>c"},
      {"x<div>y</div>", "x\ny"},
      {"l1<br>l2", "l1\nl2"},
      {"&amp;nbsp;", "&nbsp;"},
      {"&amp;lt;", "&lt;"},
      {"&lt;div&gt;z", "\nz"},
      {"it&#39;s &quot;q&quot;&nbsp;&amp;", "it's \"q\" &"},
      {"<DIV>kept<br/>", "<DIV>kept<br/>"},
      {"<</div>br>", "\n"},      // the removed closing tag joins a line break
      {"<</div>div>", "<div>"},  // but a division tag that it joins stays
      {"&lt;br&gt;&amp;lt;", "\n&lt;"},
  };
  for (auto& c : cases) {
    std::string text = c.in;
    CleanNoteText(text);
    EXPECT_EQ(text, c.out);
  }
}

TEST(NoteCleanUp, SameAsTheNineReplacementsOneAfterTheOther) {
  // Texts made of the pieces of every entity and tag, checked against the nine steps
  // run one after the other.
  auto steps = [](std::string t) {
    const std::pair<const char*, const char*> kSteps[] = {
        {"&#39;", "'"}, {"&quot;", "\""}, {"&lt;", "<"},  {"&gt;", ">"}, {"&nbsp;", " "},
        {"&amp;", "&"}, {"<div>", "\n"},  {"</div>", ""}, {"<br>", "\n"}};
    for (const auto& [from, to] : kSteps) ReplaceAll(t, from, to);
    return t;
  };
  const char* pieces[] = {"&", "amp;", "lt;", "gt;", "quot;", "#39;", "nbsp;", "<",
                          ">", "div",  "/",   "br",  "x",     ";",    "&amp",  "</div>"};
  std::mt19937 rng(17);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const int n = static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k) text += pieces[rng() % std::size(pieces)];
    std::string cleaned = text;
    CleanNoteText(cleaned);
    ASSERT_EQ(cleaned, steps(text)) << text;
  }
}

TEST(NoteReaderOlderStore, RowsDatesOrderAndCleanUp) {
  TempFolder t;
  auto path = MakeOlderStore(t, {{"0", "First", "a&lt;b"},
                                 {"68169600", "Leap", nullptr},    // 2003-03-01
                                 {"94608000.75", "NewYear", "x"},  // 2004-01-01
                                 {"5", "", ""},                    // empty: dropped
                                 {"6", nullptr, "body only"},
                                 {"1e300", "Huge", "still listed"},
                                 {"-1e17", "Negative", "still listed"}});
  std::list<NoteRecord> notes;
  EXPECT_EQ(NoteReader().ReadOlderStore(path, notes), 0);
  ASSERT_EQ(notes.size(), 6u);
  // Newest first; unconvertible dates are empty and sort last.
  EXPECT_EQ(Titles(notes),
            (std::vector<std::string>{"NewYear", "Leap", "", "First", "Huge", "Negative"}));
  auto it = notes.begin();
  EXPECT_EQ(it->date, "2004-01-01 00:00:00");
  EXPECT_EQ((++it)->date, "2003-03-01 00:00:00");  // never a 29 February of 2003
  EXPECT_EQ((++it)->body, "body only");
  EXPECT_EQ((++it)->date, "2001-01-01 00:00:00");
  EXPECT_EQ(it->body, "a<b");
  EXPECT_EQ((++it)->date, "");
  EXPECT_EQ((++it)->date, "");
}

TEST(NoteReaderOlderStore, DatesFollowTheLocalZone) {
  TempFolder t;
  auto path = MakeOlderStore(t, {{"0", "Zero", ""}});
  test::ZoneGuard zone("Asia/Tokyo");
  std::list<NoteRecord> notes;
  ASSERT_EQ(NoteReader().ReadOlderStore(path, notes), 0);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes.front().date, "2001-01-01 09:00:00");
}

TEST(NoteReaderNewerStore, LayoutsOfSeveralVersions) {
  TempFolder t;
  {
    auto path = MakeNewerStore(
        t, "NoteStore.sqlite | iOS 11.2",
        "INSERT INTO ZICCLOUDSYNCINGOBJECT(Z_PK,ZTITLE1,ZSNIPPET,ZCREATIONDATE,ZCREATIONDATE1) "
        "VALUES"
        "(1,'Old','s1',0,10),(2,'New','s2&amp;',600000000,20),(3,NULL,NULL,5,30),(4,'',"
        "'snippet only',NULL,NULL);");
    std::list<NoteRecord> notes;
    EXPECT_EQ(NoteReader().ReadNewerStore(path, notes), 0);
    EXPECT_EQ(Titles(notes), (std::vector<std::string>{"New", "Old", ""}));
    EXPECT_EQ(notes.front().date, "2020-01-06 10:40:00");  // UTC text from SQLite
    EXPECT_EQ(notes.front().body, "s2&");
    EXPECT_EQ(notes.back().date, "");
  }
  {
    // iOS 9 has no ZCREATIONDATE1: the statement fails, the list is kept (and ordered).
    TempFolder t9;
    auto path = MakeNewerStore(t9, "NoteStore.sqlite (AppDomainGroup", "");
    NoteRecord a, b;
    a.date = "2001";
    b.date = "2002";
    std::list<NoteRecord> notes{a, b};
    EXPECT_EQ(NoteReader().ReadNewerStore(path, notes), kQueryFailed);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes.front().date, "2002");
  }
}

TEST(NoteReaderChoice, OlderStoreShadowsNewer) {
  TempFolder t;
  auto newer = MakeNewerStore(
      t, "NoteStore.sqlite | iOS 17.3",
      "INSERT INTO ZICCLOUDSYNCINGOBJECT(Z_PK,ZTITLE1,ZSNIPPET) VALUES(1,'Newer','n');");
  auto older = MakeOlderStore(t, {{"0", "Older", "o"}});
  std::list<NoteRecord> notes;
  EXPECT_EQ(NoteReader().Read(older, newer, notes), 0);
  EXPECT_EQ(Titles(notes), (std::vector<std::string>{"Older"}));
  // An older store without notes, or none at all, lets the newer one be read.
  TempFolder t2;
  auto emptyOlder = MakeOlderStore(t2, {{"0", "", ""}});
  notes.clear();
  EXPECT_EQ(NoteReader().Read(emptyOlder, newer, notes), 0);
  EXPECT_EQ(Titles(notes), (std::vector<std::string>{"Newer"}));
  notes.clear();
  EXPECT_EQ(NoteReader().Read(t.File("none"), newer, notes), 0);
  EXPECT_EQ(Titles(notes), (std::vector<std::string>{"Newer"}));
  notes.clear();
  EXPECT_EQ(NoteReader().Read(t.File("none"), t.File("none2"), notes), 14);
  EXPECT_TRUE(notes.empty());
}

// Deleted notes follow the live ones (which stay exactly as the live read gives them),
// newest first, each once, none a copy of a live note.
bool SameNotes(const std::list<NoteRecord>& a, const std::list<NoteRecord>& b) {
  if (a.size() != b.size()) return false;
  for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
    if (i->deleted != j->deleted || i->date != j->date || i->title != j->title ||
        i->body != j->body)
      return false;
  return true;
}

TEST(DeletedNotes, NewerStoreRowsAfterTheLiveOnesWithTheirSnippets) {
  TempFolder t;
  std::string sql =
      "BEGIN;INSERT INTO ZICCLOUDSYNCINGOBJECT(Z_PK,Z_ENT,Z_OPT,ZIDENTIFIER,ZTITLE2) "
      "VALUES(1,14,1,'F-1','A "
      "folder of notes');";
  const char* titles[] = {"Shopping list for the weekend",  "Call the plumber about the leak",
                          "Ideas for the garden in spring", "Books to read on the holiday",
                          "Recipe for the lemon tart",      "Passwords are not kept here",
                          "Dentist on Tuesday at nine"};
  for (int i = 0; i < 7; ++i)
    sql +=
        "INSERT INTO "
        "ZICCLOUDSYNCINGOBJECT(Z_PK,Z_ENT,Z_OPT,ZIDENTIFIER,ZTITLE1,ZSNIPPET,ZCREATIONDATE1) "
        "VALUES(" +
        std::to_string(i + 2) + ",11,3,'NOTE-" + std::to_string(i) + "-4F1C2B'," + Q(titles[i]) +
        ",'milk &amp; eggs, then the second line of note " + std::to_string(i) + "'," +
        std::to_string(600000000 + i * 86400) + ");";
  sql += "COMMIT;";
  auto path = MakeNewerStore(t, "NoteStore.sqlite | iOS 11.2", sql);
  // Two notes deleted, the folder too; a third rewritten under a new row, longer than
  // any freed cell so that it keeps them (its old row is a stale copy, not a deleted note).
  // No two freed rows lie side by side: SQLite would merge them into one free block.
  Sql(path,
      "PRAGMA secure_delete=OFF; DELETE FROM ZICCLOUDSYNCINGOBJECT WHERE Z_PK IN (1,3,5,7);"
      "INSERT INTO ZICCLOUDSYNCINGOBJECT(Z_PK,Z_ENT,Z_OPT,ZIDENTIFIER,ZTITLE1,ZSNIPPET,"
      "ZCREATIONDATE1) VALUES(20,11,3,'NOTE-5-4F1C2B','Passwords are not kept "
      "here','" +
          std::string(300, 'e') + "',600432000);");
  std::list<NoteRecord> live, notes;
  ASSERT_EQ(NoteReader().ReadNewerStore(path, live), 0);
  ASSERT_EQ(NoteReader().Read(t.File("none"), path, notes), 0);
  ASSERT_EQ(live.size(), 5u);
  ASSERT_EQ(notes.size(), 7u) << Titles(notes).back();
  std::list<NoteRecord> shownLive(notes.begin(), std::next(notes.begin(), 5));
  EXPECT_TRUE(SameNotes(shownLive, live));
  auto it = std::next(notes.begin(), 5);
  EXPECT_EQ(it->deleted, 1);
  EXPECT_EQ(it->title, titles[3]);
  EXPECT_EQ(it->date, "2020-01-09 10:40:00");
  EXPECT_EQ(it->body, "milk & eggs, then the second line of note 3");
  ++it;
  EXPECT_EQ(it->deleted, 1);
  EXPECT_EQ(it->title, titles[1]);
  EXPECT_EQ(it->date, "2020-01-07 10:40:00");
}

TEST(DeletedNotes, OlderStoreNoteRowsAndBodiesEachByThemselves) {
  TempFolder t;
  // Rows as the app writes them: every bookkeeping column set (the carver reads a row
  // whose head was overwritten by the kinds of its first values).
  const std::string path = MakeDb(t, "notes.sqlite", "notes.sqlite (HomeDomain");
  const std::pair<const char*, const char*> rows[] = {
      {"Kept note one", "<div>the first body that stays</div>"},
      {"Removed note title", "<div>a body that was deleted with it</div>"},
      {"Kept note two", "same words in two notes"},
      {"Removed twin", "same words in two notes"}};
  std::string sql = "BEGIN;";
  for (int i = 1; i <= 4; ++i) {
    const std::string id = std::to_string(i);
    const auto& [title, body] = rows[i - 1];
    sql += "INSERT INTO ZNOTEBODY(Z_PK,Z_ENT,Z_OPT,ZOWNER,ZCONTENT) VALUES(" + id + ",2,1," + id +
           "," + Q(body) + ");";
    sql +=
        "INSERT INTO ZNOTE(Z_PK,Z_ENT,Z_OPT,ZCONTAINSCJK,ZCONTENTTYPE,ZDELETEDFLAG,ZBODY,ZSTORE,"
        "ZCREATIONDATE,ZMODIFICATIONDATE,ZAUTHOR,ZGUID,ZTITLE) VALUES(" +
        id + ",3,2,0,0,0," + id + ",1," + std::to_string(i * 100000000) + ".25," +
        std::to_string(i * 100000000 + 120) + ".5,'owner@example.com','GUID-" + id + "-A7'," +
        Q(title) + ");";
  }
  Sql(path, sql + "COMMIT;");
  Sql(path,
      "PRAGMA secure_delete=OFF; DELETE FROM ZNOTE WHERE Z_PK IN (2,4); DELETE FROM ZNOTEBODY "
      "WHERE Z_PK IN (2,4);");
  test::ZoneGuard zone("UTC");
  std::list<NoteRecord> live, notes;
  ASSERT_EQ(NoteReader().ReadOlderStore(path, live), 0);
  ASSERT_EQ(NoteReader().Read(path, t.File("none"), notes), 0);
  ASSERT_EQ(live.size(), 2u);
  std::vector<std::string> titles = Titles(notes);
  ASSERT_EQ(notes.size(), 5u) << titles.back();
  EXPECT_TRUE(SameNotes(std::list<NoteRecord>(notes.begin(), std::next(notes.begin(), 2)), live));
  // The note rows, newest first, then the body whose text no live note has (the twin's
  // body cannot be told from the live one's).
  auto it = std::next(notes.begin(), 2);
  EXPECT_EQ(it->title, "Removed twin");
  EXPECT_EQ(it->date, "2013-09-04 15:06:40");
  EXPECT_EQ((++it)->title, "Removed note title");
  EXPECT_EQ((++it)->title, "");
  EXPECT_EQ(it->date, "");
  EXPECT_EQ(it->body, "\na body that was deleted with it");
  for (it = std::next(notes.begin(), 2); it != notes.end(); ++it) EXPECT_EQ(it->deleted, 1);
}

// A deleted note whose row and body's row were both carved is listed once: the row's
// summary begins the body (words alike), and no other row or body matches either.
TEST(DeletedNotes, OlderStoreNoteRowAndItsBodyAreOneNote) {
  TempFolder t;
  const std::string path = MakeDb(t, "notes.sqlite", "notes.sqlite (HomeDomain");
  struct Row {
    const char* title;
    const char* summary;
    const char* body;
  };
  const Row rows[] = {{"Kept note", "the first body", "<div>the first body that stays</div>"},
                      {"Removed note", "a body that was", "<div>a body that was deleted</div>"},
                      {"Removed one", "shared words", "<div>shared words of two notes</div>"},
                      {"Removed two", "shared words", "<div>shared words, other text</div>"}};
  std::string sql = "BEGIN;";
  for (int i = 1; i <= 4; ++i) {
    const std::string id = std::to_string(i);
    const Row& r = rows[i - 1];
    sql += "INSERT INTO ZNOTEBODY(Z_PK,Z_ENT,Z_OPT,ZOWNER,ZCONTENT) VALUES(" + id + ",2,1," + id +
           "," + Q(r.body) + ");";
    sql +=
        "INSERT INTO ZNOTE(Z_PK,Z_ENT,Z_OPT,ZCONTAINSCJK,ZCONTENTTYPE,ZDELETEDFLAG,ZBODY,ZSTORE,"
        "ZCREATIONDATE,ZMODIFICATIONDATE,ZAUTHOR,ZGUID,ZSUMMARY,ZTITLE) VALUES(" +
        id + ",3,2,0,0,0," + id + ",1," + std::to_string(i * 100000000) + ".25," +
        std::to_string(i * 100000000 + 120) + ".5,'owner@example.com','GUID-" + id + "-A7'," +
        Q(r.summary) + "," + Q(r.title) + ");";
  }
  Sql(path, sql + "COMMIT;");
  Sql(path,
      "PRAGMA secure_delete=OFF; DELETE FROM ZNOTE WHERE Z_PK > 1; DELETE FROM ZNOTEBODY "
      "WHERE Z_PK > 1;");
  test::ZoneGuard zone("UTC");
  std::list<NoteRecord> notes;
  ASSERT_EQ(NoteReader().Read(path, t.File("none"), notes), 0);
  std::map<std::string, std::string> dated;  // title -> body
  std::multiset<std::string> undated;
  for (const NoteRecord& n : notes) {
    if (n.deleted == 0) continue;
    if (n.date.empty())
      undated.insert(n.body);
    else
      dated[n.title] = n.body;
  }
  ASSERT_EQ(dated.size(), 3u);
  // Its row and its body: one note with the whole text.
  EXPECT_EQ(dated["Removed note"], "\na body that was deleted");
  EXPECT_EQ(undated.count("\na body that was deleted"), 0u);
  // Two rows whose summaries begin one body alike: neither takes it.
  EXPECT_EQ(dated["Removed one"], "shared words");
  EXPECT_EQ(dated["Removed two"], "shared words");
  EXPECT_EQ(undated, (std::multiset<std::string>{"\nshared words of two notes",
                                                 "\nshared words, other text"}));
}

}  // namespace
}  // namespace bv

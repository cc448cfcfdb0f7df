#include "records/note_reader.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <tuple>
#include <utility>

#include "records/ordering.h"
#include "common/text.h"
#include "records/date_text.h"
#include "records/deleted_rows.h"
#include "records/item_tables.h"
#include "records/live_keys.h"
#include "records/note_document.h"
#include "records/readonly_db.h"

namespace bv {

void NoteReader::SortNewestFirst(std::list<NoteRecord>& notes) {
  if (notes.size() < 2) return;
  std::list<NoteRecord> from;
  from.splice(from.end(), notes);
  NodeOrder<NoteRecord> order;
  for (auto it = from.begin(); it != from.end(); ++it) order.Add(it, it->date);
  order.SpliceSorted(
      from, [](const NoteRecord& n) -> std::string_view { return n.date; },
      [&](std::int32_t) -> std::list<NoteRecord>& { return notes; }, [](const NoteRecord&) {},
      true);
}

void CleanNoteText(std::string& text) {
  // The six entity steps in one pass. Each entity runs from an ampersand to the next
  // semicolon with neither in between, so no two matches overlap, and no replacement
  // makes an entity that a later step would find: one left-to-right pass that replaces
  // whichever entity starts at an ampersand gives what the six passes give (an "&amp;"
  // followed by "lt;" becomes "&lt;" and stays so).
  if (std::size_t at = text.find('&'); at != std::string::npos) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&#39;", '\''}, {"&quot;", '"'}, {"&lt;", '<'},
        {"&gt;", '>'},   {"&nbsp;", ' '}, {"&amp;", '&'}};
    std::string out;
    out.reserve(text.size());
    const std::string_view rest(text);
    std::size_t done = 0;  // text before `done` is in `out` or replaced
    while (at != std::string_view::npos) {
      for (const auto& [entity, replacement] : kEntities) {
        if (rest.substr(at, entity.size()) == entity) {
          out.append(rest.substr(done, at - done));
          out.push_back(replacement);
          done = at + entity.size();
          at = done - 1;  // the next ampersand is searched after the entity
          break;
        }
      }
      at = rest.find('&', at + 1);
    }
    out.append(rest.substr(done));
    text.swap(out);
  }
  // The tag steps in their order: removing "</div>" can join the pieces of a "<br>".
  if (text.find('<') != std::string::npos) {
    ReplaceAll(text, "<div>", "\n");
    ReplaceAll(text, "</div>", "");
    ReplaceAll(text, "<br>", "\n");
  }
}

template <typename Row>
void NoteReader::AddOlder(const Row& row) {
  std::string title = row.Utf8(1);
  std::string body = row.Utf8(2);
  if (title.empty() && body.empty()) return;
  std::int64_t seconds = 0;
  std::string date;
  if (row.WholeSeconds(0, seconds)) date = dates_.FromAppleWholeSeconds(seconds);
  Keep(std::move(date), std::move(title), std::move(body));
}

template <typename Row>
void NoteReader::AddNewer(const Row& row) {
  std::string title = row.Utf8(0);
  // The whole text from the note's document when it decodes, else the snippet (its
  // first lines). The document holds plain text, not HTML: nothing to clean in it.
  std::string body;
  const bool whole = DecodeNoteDocument(row.Bytes(4), body) && !body.empty();
  if (!whole) body = row.Utf8(1);
  if (title.empty() && body.empty()) return;
  Keep(row.Utf8(2), std::move(title), std::move(body), !whole);
}

void NoteReader::Keep(std::string date, std::string title, std::string body, bool htmlBody) {
  // Cleaned while the texts are in cache; a failed statement discards the rows anyway.
  const auto node = rows_.emplace(rows_.end());
  node->date = std::move(date);
  node->body = std::move(body);
  node->title = std::move(title);
  if (htmlBody) CleanNoteText(node->body);
  CleanNoteText(node->title);
  order_.Add(node, node->date);
}

std::string NewerNoteStatement(ReadOnlyDatabase& db) {
  const TableColumns notes(db, "ZICCLOUDSYNCINGOBJECT");
  const TableColumns data(db, "ZICNOTEDATA");
  db.ForgetStatementError();  // the probes'; the statement tells its own
  // A table without the columns read: the described statement, which says what lacks.
  // So does the iOS 9 layout, which lacks ZCREATIONDATE1 that the ordering names.
  if (!notes.Has("ZTITLE1") || !notes.Has("ZSNIPPET") || !notes.Has("Z_PK") ||
      !notes.Has("ZCREATIONDATE1"))
    return kNewerNoteStatement;
  // The creation date moved: ZCREATIONDATE, ZCREATIONDATE1, and ZCREATIONDATE3 on iOS 17.
  std::string dates;
  for (const char* column : {"ZCREATIONDATE", "ZCREATIONDATE3", "ZCREATIONDATE1"})
    if (notes.Has(column)) dates += std::string(dates.empty() ? "" : ", ") + "o." + column;
  const std::string date = dates.empty()                          ? "NULL"
                           : dates.find(',') == std::string::npos ? dates
                                                                  : "COALESCE(" + dates + ")";
  const std::string document =
      data.Has("ZDATA") && data.Has("ZNOTE")
          ? "(SELECT d.ZDATA FROM ZICNOTEDATA d WHERE d.ZNOTE = o.Z_PK LIMIT 1)"
          : "NULL";
  return "SELECT o.ZTITLE1, o.ZSNIPPET, datetime(" + date +
         " + 978307200, 'unixepoch') AS XFORMATTEDDATESTRING, datetime(o.ZCREATIONDATE1 + "
         "978307200, 'unixepoch') AS XFORMATTEDDATESTRING1, " +
         document + " FROM ZICCLOUDSYNCINGOBJECT o order by XFORMATTEDDATESTRING1 desc;";
}

int NoteReader::OlderRow(void* context, int columns, char** values, char** /*names*/) {
  static_cast<NoteReader*>(context)->AddOlder(ExecRow(columns, values));
  return 0;
}
int NoteReader::NewerRow(void* context, int columns, char** values, char** /*names*/) {
  static_cast<NoteReader*>(context)->AddNewer(ExecRow(columns, values));
  return 0;
}
int NoteReader::OlderRow(void* context, StatementRow& row) {
  static_cast<NoteReader*>(context)->AddOlder(row);
  return 0;
}
int NoteReader::NewerRow(void* context, StatementRow& row) {
  static_cast<NoteReader*>(context)->AddNewer(row);
  return 0;
}

void NoteReader::Replace(std::list<NoteRecord>& notes) {
  std::list<NoteRecord> ordered;
  order_.SpliceSorted(
      rows_, [](const NoteRecord& n) -> std::string_view { return n.date; },
      [&](std::int32_t) -> std::list<NoteRecord>& { return ordered; }, [](const NoteRecord&) {},
      true);
  notes.swap(ordered);
}

void NoteReader::Discard() {
  rows_.clear();
  order_ = {};
}

Result NoteReader::ReadOlderStore(const DatabaseFile& path, std::list<NoteRecord>& notes) {
  Discard();
  ReadOnlyDatabase db;
  const int rc = db.Open(path);
  olderIssue_ = db.Issue();
  if (rc != 0) return rc;
  if (db.Each(kOlderNoteStatement, OlderRow, this)) {
    olderIssue_ = db.Issue();
    Discard();
    return kQueryFailed;
  }
  Replace(notes);
  return kSuccess;
}

Result NoteReader::ReadNewerStore(const DatabaseFile& path, std::list<NoteRecord>& notes) {
  Discard();
  Result result = kSuccess;
  {
    ReadOnlyDatabase db;
    const int rc = db.Open(path);
    if (rc != 0) {
      result = rc;
    } else if (db.Each(NewerNoteStatement(db).c_str(), NewerRow, this)) {
      result = kQueryFailed;
    }
    newerIssue_ = db.Issue();
  }
  if (result == kSuccess) {
    Replace(notes);
  } else {
    Discard();
    SortNewestFirst(notes);  // not replaced, but ordered all the same
  }
  return result;
}

namespace {

using NoteKey = std::tuple<std::string_view, std::string_view, std::string_view>;
NoteKey KeyOfNote(const NoteRecord& n) {
  return {n.date, n.title, n.body};
}
std::string_view BodyOfNote(const NoteRecord& n) {
  return n.body;
}
using LiveNotes = LiveKeys<NoteRecord, decltype(&KeyOfNote)>;
using LiveBodies = LiveKeys<NoteRecord, decltype(&BodyOfNote)>;

// The carved notes, newest first (the order of the live list), after the live ones.
void AppendNewestFirst(std::vector<NoteRecord>& found, std::list<NoteRecord>& notes) {
  std::stable_sort(found.begin(), found.end(),
                   [](const NoteRecord& a, const NoteRecord& b) { return a.date > b.date; });
  for (NoteRecord& n : found) notes.push_back(std::move(n));
}

bool HasReplacement(const std::string& text) {
  return text.find("\xEF\xBF\xBD") != std::string::npos;
}

std::vector<std::string> ColumnsOf(const DatabaseFile& path, std::string_view table) {
  ReadOnlyDatabase db;
  if (db.Open(path) != 0) return {};
  return DeclaredColumns(db, table);
}

// The words of a text, one space between each: the summary of a note's row is its plain
// text cut short, its body's row the same text from the note's markup.
std::string Words(const std::string& text) {
  std::string out;
  bool space = false;
  for (const char c : text) {
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += c;
  }
  return out;
}

// A deleted note whose row and body's row were both carved is one note: the row's summary
// begins the body. Where a dated note and a body match only each other that way, the
// note takes the whole body and the body is not listed by itself.
void MergeNotesWithTheirBodies(std::vector<NoteRecord>& dated, std::vector<NoteRecord>& bodies) {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::string> summaries, texts;
  for (const NoteRecord& n : dated) summaries.push_back(Words(n.body));
  for (const NoteRecord& b : bodies) texts.push_back(Words(b.body));
  // Per note and per body: the one partner, kNone for none, kNone - 1 for several.
  std::vector<std::size_t> noteMatch(dated.size(), kNone), bodyMatch(bodies.size(), kNone);
  for (std::size_t n = 0; n < dated.size(); ++n) {
    if (summaries[n].empty()) continue;
    for (std::size_t b = 0; b < bodies.size(); ++b) {
      if (texts[b].compare(0, summaries[n].size(), summaries[n]) != 0) continue;
      noteMatch[n] = noteMatch[n] == kNone ? b : kNone - 1;
      bodyMatch[b] = bodyMatch[b] == kNone ? n : kNone - 1;
    }
  }
  std::vector<bool> merged(bodies.size(), false);
  for (std::size_t n = 0; n < dated.size(); ++n) {
    const std::size_t b = noteMatch[n];
    if (b >= kNone - 1 || bodyMatch[b] != n) continue;
    dated[n].body = bodies[b].body;
    merged[b] = true;
  }
  std::size_t kept = 0;
  for (std::size_t b = 0; b < bodies.size(); ++b) {
    if (merged[b]) continue;
    if (kept != b) bodies[kept] = std::move(bodies[b]);
    ++kept;
  }
  bodies.resize(kept);
}

}  // namespace

void NoteReader::AddDeletedNewer(const DatabaseFile& path, std::list<NoteRecord>& notes) {
  const std::vector<std::string> columns = ColumnsOf(path, "ZICCLOUDSYNCINGOBJECT");
  if (columns.empty()) return;
  DeletedRows carved;
  // A file the raw reader cannot read leaves the live notes as they are.
  ReadDeletedRows(path, "ZICCLOUDSYNCINGOBJECT", columns, carved, "ZIDENTIFIER");
  const int titleColumn = carved.Column("ZTITLE1");
  const int snippetColumn = carved.Column("ZSNIPPET");
  // The creation date by the live rule: the first of these that is set.
  const int dateColumns[] = {carved.Column("ZCREATIONDATE"), carved.Column("ZCREATIONDATE3"),
                             carved.Column("ZCREATIONDATE1")};
  LiveNotes live(KeyOfNote);
  for (const NoteRecord& n : notes) live.Add(n);
  std::vector<NoteRecord> found;
  for (const GenericRow& row : carved.rows) {
    NoteRecord note;
    note.deleted = 1;
    note.title = DeletedRows::Text(row, titleColumn);
    // A carved row has lost its join to the note's document: its text is the snippet.
    note.body = DeletedRows::Text(row, snippetColumn);
    // Folders and accounts share the table; they have neither.
    if (note.title.empty() && note.body.empty()) continue;
    if (HasReplacement(note.title) || HasReplacement(note.body)) continue;
    double when = 0;
    for (int column : dateColumns)
      if (DeletedRows::Number(row, column, when)) break;
    if (when == 0) continue;
    note.date = PlausibleUtcDate(when + static_cast<double>(kAppleEpochOffset));
    if (note.date.empty()) continue;
    CleanNoteText(note.title);
    CleanNoteText(note.body);
    if (live.Contains({note.date, note.title, note.body})) continue;
    found.push_back(std::move(note));
  }
  AppendNewestFirst(found, notes);
}

void NoteReader::AddDeletedOlder(const DatabaseFile& path, std::list<NoteRecord>& notes) {
  const std::vector<std::string> noteColumns = ColumnsOf(path, "ZNOTE");
  const std::vector<std::string> bodyColumns = ColumnsOf(path, "ZNOTEBODY");
  LiveNotes live(KeyOfNote);
  LiveBodies liveBodies(BodyOfNote);
  for (const NoteRecord& n : notes) {
    live.Add(n);
    liveBodies.Add(n);
  }
  std::vector<NoteRecord> found;
  // A note's row and its body's row are joined by row ids, which carving loses: they
  // are matched by text below (MergeNotesWithTheirBodies), else each is listed by
  // itself. The note's row shows its date, title and summary (the first words of its
  // text).
  if (!noteColumns.empty()) {
    DeletedRows carved;
    ReadDeletedRows(path, "ZNOTE", noteColumns, carved, "ZGUID");
    const int titleColumn = carved.Column("ZTITLE");
    const int summaryColumn = carved.Column("ZSUMMARY");
    const int dateColumn = carved.Column("ZCREATIONDATE");
    for (const GenericRow& row : carved.rows) {
      NoteRecord note;
      note.deleted = 1;
      note.title = DeletedRows::Text(row, titleColumn);
      note.body = DeletedRows::Text(row, summaryColumn);
      if (note.title.empty() && note.body.empty()) continue;
      if (HasReplacement(note.title) || HasReplacement(note.body)) continue;
      double when = 0;
      if (!DeletedRows::Number(row, dateColumn, when)) continue;
      if (PlausibleUtcDate(when + static_cast<double>(kAppleEpochOffset)).empty()) continue;
      // Local time, as the live notes of this store show it.
      note.date = dates_.FromAppleWholeSeconds(static_cast<std::int64_t>(std::floor(when)));
      if (note.date.empty()) continue;
      CleanNoteText(note.title);
      CleanNoteText(note.body);
      if (live.Contains({note.date, note.title, note.body})) continue;
      found.push_back(std::move(note));
    }
  }
  // A body without its note is still the note's whole text: listed without date or
  // title, after the dated ones.
  std::vector<NoteRecord> bodies;
  if (!bodyColumns.empty()) {
    DeletedRows carved;
    ReadDeletedRows(path, "ZNOTEBODY", bodyColumns, carved);
    const int contentColumn = carved.Column("ZCONTENT");
    for (const GenericRow& row : carved.rows) {
      NoteRecord note;
      note.deleted = 1;
      note.body = DeletedRows::Text(row, contentColumn);
      if (note.body.empty() || HasReplacement(note.body)) continue;
      CleanNoteText(note.body);
      if (liveBodies.Contains(note.body)) continue;
      bodies.push_back(std::move(note));
    }
  }
  MergeNotesWithTheirBodies(found, bodies);
  AppendNewestFirst(found, notes);
  for (NoteRecord& n : bodies) notes.push_back(std::move(n));
}

Result NoteReader::Read(const DatabaseFile& olderPath, const DatabaseFile& newerPath,
                        std::list<NoteRecord>& notes) {
  olderIssue_ = newerIssue_ = problem_ = {};
  Result result = ReadOlderStore(olderPath, notes);
  bool newerTried = false;
  if (notes.empty()) {
    result = ReadNewerStore(newerPath, notes);
    newerTried = true;
  }
  // Only one store exists on a phone: the other one missing is the normal case.
  if (newerTried && !newerIssue_.Ok() && newerIssue_.kind != DatabaseIssue::Kind::kMissing)
    problem_ = newerIssue_;
  else if (!olderIssue_.Ok() && (!newerTried || !newerIssue_.Ok()))
    problem_ = olderIssue_;
  // Deleted notes come from the store whose live notes are shown: a store left behind
  // when the notes moved to the newer one holds deleted copies of live notes.
  if (result == kSuccess) {
    if (newerTried)
      AddDeletedNewer(newerPath, notes);
    else
      AddDeletedOlder(olderPath, notes);
  }
  // Read, but without all of its log: the store whose notes are shown tells.
  if (problem_.Ok()) {
    const DatabaseIssue& shown = newerTried ? newerIssue_ : olderIssue_;
    if (shown.Ok()) problem_.logProblem = shown.logProblem;
  }
  return result;
}

}  // namespace bv

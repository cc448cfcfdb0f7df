#include "records/note_reader.h"

#include <string_view>
#include <utility>

#include "records/ordering.h"
#include "common/text.h"
#include "records/date_text.h"
#include "records/item_tables.h"
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
      from, [](const NoteRecord& n) -> const std::string& { return n.date; },
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
      rows_, [](const NoteRecord& n) -> const std::string& { return n.date; },
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
  // Read, but without all of its log: the store whose notes are shown tells.
  if (problem_.Ok()) {
    const DatabaseIssue& shown = newerTried ? newerIssue_ : olderIssue_;
    if (shown.Ok()) problem_.logProblem = shown.logProblem;
  }
  return result;
}

}  // namespace bv

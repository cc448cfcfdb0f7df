#pragma once
// Notes of the older store (notes.sqlite, up to iOS 8) and the newer one
// (NoteStore.sqlite), with their HTML fragments turned into plain text, newest first.
// Runs on the scan thread; one object per read.
#include <list>
#include <string>
#include <vector>

#include "common/result_codes.h"
#include "records/date_text.h"
#include "records/ordering.h"
#include "records/readonly_db.h"
#include "records/record_types.h"
#include "records/row_access.h"

namespace bv {

inline constexpr const char kOlderNoteStatement[] =
    "SELECT ZNOTE.ZCREATIONDATE ,ZNOTE.ZTITLE, ZNOTEBODY.ZCONTENT from ZNOTE LEFT JOIN ZNOTEBODY "
    "ON ZBODY = ZNOTEBODY.Z_PK order by ZNOTE.ZCREATIONDATE desc;";
inline constexpr const char kNewerNoteStatement[] =
    "SELECT ZTITLE1, ZSNIPPET, datetime(ZCREATIONDATE + 978307200, 'unixepoch') AS "
    "XFORMATTEDDATESTRING,datetime(ZCREATIONDATE1 + 978307200, 'unixepoch') AS "
    "XFORMATTEDDATESTRING1 FROM ZICCLOUDSYNCINGOBJECT order by XFORMATTEDDATESTRING1 desc;";

// The statement over a newer store: the described one's columns, with the creation
// date from the first of ZCREATIONDATE, ZCREATIONDATE3 and ZCREATIONDATE1 that is set
// (iOS 17 leaves the first empty) and, fifth, the note's document (ZICNOTEDATA.ZDATA)
// where the store has one. A table without the described columns gets the described
// statement, whose error tells what lacks.
std::string NewerNoteStatement(ReadOnlyDatabase& db);

// Entities and the div and br tags of a note's HTML, replaced in a fixed order.
void CleanNoteText(std::string& text);

class NoteReader {
 public:
  // notes.sqlite. Creation dates are the local time of this machine (empty when the
  // value cannot be converted). Returns the open code or 1006 with `notes` untouched,
  // else replaces `notes` and returns 0.
  Result ReadOlderStore(const DatabaseFile& path, std::list<NoteRecord>& notes);
  // NoteStore.sqlite. Creation dates are UTC. Returns the open code or 1006 (`notes`
  // not replaced), else replaces `notes` and returns 0; the list is ordered either way.
  Result ReadNewerStore(const DatabaseFile& path, std::list<NoteRecord>& notes);
  // The older store, and the newer one when the older gave no note; then the deleted
  // notes of the store whose notes are shown, after the live ones (`deleted` set).
  // Returns the result of the last read.
  Result Read(const DatabaseFile& olderPath, const DatabaseFile& newerPath,
              std::list<NoteRecord>& notes);
  // After Read: kNone when a store that was read could be read. When neither could, the
  // issue of the one that is there (the newer first), else "missing".
  const DatabaseIssue& Problem() const { return problem_; }

  // Row callbacks of the two stores, in the form of sqlite3_exec and over a stepped
  // statement (what the reads use); context is the reader.
  static int OlderRow(void* context, int columns, char** values, char** names);
  static int NewerRow(void* context, int columns, char** values, char** names);
  static int OlderRow(void* context, StatementRow& row);
  static int NewerRow(void* context, StatementRow& row);

 private:
  template <typename Row>
  void AddOlder(const Row& row);
  template <typename Row>
  void AddNewer(const Row& row);
  void Keep(std::string date, std::string title, std::string body, bool htmlBody = true);
  // The deleted notes of the store whose notes are shown, appended after the live ones,
  // newest first as they are. No copy of a live note: a carved row holding a live
  // note's identifier, or its date, title and text, is left out.
  void AddDeletedNewer(const DatabaseFile& path, std::list<NoteRecord>& notes);
  void AddDeletedOlder(const DatabaseFile& path, std::list<NoteRecord>& notes);
  // Replaces `notes` by the rows, newest first.
  void Replace(std::list<NoteRecord>& notes);
  void Discard();
  static void SortNewestFirst(std::list<NoteRecord>& notes);
  std::list<NoteRecord> rows_;
  NodeOrder<NoteRecord> order_;
  LocalDateFormatter dates_;
  DatabaseIssue olderIssue_;
  DatabaseIssue newerIssue_;
  DatabaseIssue problem_;
};

}  // namespace bv

#pragma once
// Calls of CallHistory.storedata (iOS 8 on) with address-book names, oldest first.
// The older call_history.db has no ZCALLRECORD table and yields no calls.
// Runs on the scan thread; one object per read.
#include <list>
#include <string>
#include <vector>

#include "common/result_codes.h"
#include "records/ordering.h"
#include "records/readonly_db.h"
#include "records/record_types.h"
#include "records/row_access.h"

namespace bv {

class ContactNameLookup;

inline constexpr const char kCallStatement[] =
    "SELECT ZANSWERED, ZDURATION, ZADDRESS, datetime(ZDATE + 978307200, 'unixepoch') AS "
    "DateString FROM ZCALLRECORD ORDER BY ZDATE DESC;";

class CallHistoryReader {
 public:
  // Replaces `calls` by the calls with an address (unless the call database cannot be
  // opened), names them and orders them oldest first. Result: the open code of the
  // call database, else the open code of the address book, else 1006 when the first
  // address-book statement failed, else 0. A failing call statement is not reported.
  Result Read(const DatabaseFile& callDbPath, const DatabaseFile& addressBookPath,
              std::list<CallRecord>& calls);

  // Row callback of the call statement, in the form of sqlite3_exec and over a
  // stepped statement (what Read uses); context is the reader.
  static int CallRow(void* context, int columns, char** values, char** names);
  static int CallRow(void* context, StatementRow& row);

  // After Read: why the call database could not be read (a failing call statement
  // included, which the result does not show), and why the address book gave no names.
  const DatabaseIssue& Problem() const { return problem_; }
  const DatabaseIssue& NamesProblem() const { return namesProblem_; }

 private:
  template <typename Row>
  void AddCall(const Row& row);
  // The deleted calls of the call table (ZCALLRECORD, or the older "call") that are no
  // copy of a live call of rows_, oldest first, not named yet. Carved before the address
  // book is read, so that the raw reader's pages and the name index are never held
  // together.
  std::vector<CallRecord> CarveDeletedCalls(const DatabaseFile& file);
  // For the deleted rows: the call table of the database and its columns.
  std::string callTable_;
  std::vector<std::string> callColumns_;
  DatabaseIssue problem_;
  DatabaseIssue namesProblem_;
  std::list<CallRecord> rows_;
  NodeOrder<CallRecord> order_;
  std::vector<NamedPhone> contacts_;
};

}  // namespace bv

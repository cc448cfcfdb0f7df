#pragma once
// Text messages of sms.db with the address-book name of each correspondent, ordered by
// time and grouped by handle. Runs on the scan thread; one object per read.
#include <list>
#include <string>
#include <vector>

#include "common/result_codes.h"
#include "records/progress_sink.h"
#include "records/ordering.h"
#include "records/readonly_db.h"
#include "records/record_types.h"
#include "records/row_access.h"

namespace bv {

inline constexpr const char kMessageStatement[] =
    "SELECT  message.text, message.is_from_me, datetime(message.date/1000000000 + 978307200, "
    "'unixepoch') AS DateStr, message.RowID,message.handle_id, handle.id as "
    "sender_name,message.date, datetime(message.date + 978307200, 'unixepoch') AS DateStrOld "
    "FROM chat_message_join INNER JOIN message  ON message.rowid = chat_message_join.message_id "
    "INNER JOIN handle  ON handle.rowid = message.handle_id;";

class MessageReader {
 public:
  explicit MessageReader(const ProgressSink& progress) : progress_(progress) {}

  // Reads the message database and the address book (UTF-8 paths) and adds the
  // messages to `conversations` (existing keys get further messages appended).
  // With a progress callback the result is the answer to the last report; without
  // one it is the first failure (open code of either database, 1006 for a failed
  // statement) or 0.
  Result Read(const std::string& messageDbPath, const std::string& addressBookPath,
              ConversationMap& conversations);

  // Row callback of the message statement, in the form of sqlite3_exec and over a
  // stepped statement (what Read uses); context is the reader.
  static int MessageRow(void* context, int columns, char** values, char** names);
  static int MessageRow(void* context, StatementRow& row);

  // After Read: why the message database could not be read (kNone when it was), and why
  // the address book gave no names (an absent address book is not an issue here).
  const DatabaseIssue& Problem() const { return problem_; }
  const DatabaseIssue& NamesProblem() const { return namesProblem_; }

 private:
  template <typename Row>
  void AddMessage(const Row& row);
  ProgressSink progress_;
  // Built in list nodes, which move into their conversations without a copy.
  std::list<MessageRecord> messages_;
  NodeOrder<MessageRecord> order_;
  std::vector<std::int32_t> handles_;
  std::vector<ContactRecord> contacts_;
  DatabaseIssue problem_;
  DatabaseIssue namesProblem_;
};

}  // namespace bv

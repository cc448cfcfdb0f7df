#pragma once
// Text messages of sms.db with the address-book name of each correspondent, ordered by
// time and grouped by handle. Runs on the scan thread; one object per read.
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/result_codes.h"
#include "records/deleted_rows.h"
#include "records/name_lookup.h"
#include "records/ordering.h"
#include "records/progress_sink.h"
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

// With the chat tables: every message with its chat (the lowest chat id where one is in
// several), including the owner's messages to a group, which have no handle; a message
// in no chat needs a handle row, as in the statement above.
inline constexpr const char kChatMessageStatement[] =
    "SELECT message.text, message.is_from_me, datetime(message.date/1000000000 + 978307200, "
    "'unixepoch') AS DateStr, message.ROWID, message.handle_id, handle.id AS sender_name, "
    "message.date, datetime(message.date + 978307200, 'unixepoch') AS DateStrOld, joined.chat_id, "
    "joined.chat_id IS NOT NULL "
    "FROM message LEFT JOIN (SELECT message_id, MIN(chat_id) AS chat_id FROM chat_message_join "
    "WHERE chat_id IS NOT NULL GROUP BY message_id) AS joined ON joined.message_id = "
    "message.ROWID LEFT JOIN handle ON handle.ROWID = message.handle_id WHERE joined.chat_id IS "
    "NOT NULL OR handle.ROWID IS NOT NULL;";
// The members of each chat, and the chats' display names (a column since iOS 7).
inline constexpr const char kChatMemberStatement[] =
    "SELECT chat_handle_join.chat_id, chat_handle_join.handle_id, handle.id FROM "
    "chat_handle_join INNER JOIN handle ON handle.ROWID = chat_handle_join.handle_id;";
inline constexpr const char kChatNameStatement[] = "SELECT ROWID, display_name FROM chat;";
// The same rows with the attributed string of each message (last column), where the
// text of many messages lives from iOS 16 on (their text column is NULL).
inline constexpr const char kChatMessageWithBodyStatement[] =
    "SELECT message.text, message.is_from_me, datetime(message.date/1000000000 + 978307200, "
    "'unixepoch') AS DateStr, message.ROWID, message.handle_id, handle.id AS sender_name, "
    "message.date, datetime(message.date + 978307200, 'unixepoch') AS DateStrOld, joined.chat_id, "
    "joined.chat_id IS NOT NULL, message.attributedBody "
    "FROM message LEFT JOIN (SELECT message_id, MIN(chat_id) AS chat_id FROM chat_message_join "
    "WHERE chat_id IS NOT NULL GROUP BY message_id) AS joined ON joined.message_id = "
    "message.ROWID LEFT JOIN handle ON handle.ROWID = message.handle_id WHERE joined.chat_id IS "
    "NOT NULL OR handle.ROWID IS NOT NULL;";
// The same rows with the attributed string of each message, where the text of many
// messages lives from iOS 16 on (their text column is NULL).
inline constexpr const char kMessageWithBodyStatement[] =
    "SELECT  message.text, message.is_from_me, datetime(message.date/1000000000 + 978307200, "
    "'unixepoch') AS DateStr, message.RowID,message.handle_id, handle.id as "
    "sender_name,message.date, datetime(message.date + 978307200, 'unixepoch') AS DateStrOld, "
    "message.attributedBody "
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
  Result Read(const DatabaseFile& messageDbPath, const DatabaseFile& addressBookPath,
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
  static int MemberRow(void* context, StatementRow& row);
  static int CountRow(void* context, StatementRow& row);
  void ReserveForMessages(ReadOnlyDatabase& db);
  static int ChatNameRow(void* context, StatementRow& row);
  // Reads the chat tables; false when the database has none (messages then group by
  // handle only).
  bool ReadChats(ReadOnlyDatabase& db);
  static int HandleRow(void* context, StatementRow& row);
  // Carves the message table's deleted rows into carved_.
  void CarveDeletedMessages(const DatabaseFile& file);
  // Adds the deleted rows of the message table, each after the live messages of its
  // conversation in date order: the chat of its deleted join row where that is read
  // back with the message's date, else the conversation of its handle.
  void AddDeletedMessages(const DatabaseFile& file, ContactNameLookup* names,
                          ConversationMap& conversations);
  // The chats of the deleted join rows whose message date is one of `dates` (kNoChat
  // where two chats claim a date); empty for layouts whose join rows have no date.
  std::unordered_map<std::int64_t, std::int64_t> DeletedJoinChats(
      const DatabaseFile& file, const std::unordered_set<std::int64_t>& dates) const;
  // The chat a deleted message of `handleId` joined through `chatId`, when the chat is
  // known and the handle is the owner (0) or one of its members; else null.
  std::shared_ptr<const MessageChatInfo> ChatOfDeleted(std::int64_t chatId,
                                                       std::int32_t handleId) const;
  // The conversation key of every message (by read index) and the chat it shows.
  std::vector<std::int32_t> ConversationKeys(ContactNameLookup* names,
                                             const ConversationMap& existing);

  struct ChatBuild {
    std::vector<std::pair<std::int32_t, std::string>> members;  // handle id, handle text
    bool joined = false;                                        // members from chat_handle_join
    std::set<std::int32_t> seenHandles;                         // else from its messages
    std::string displayName;
    std::shared_ptr<MessageChatInfo> info;
  };
  bool chatTables_ = false;
  int bodyColumn_ = -1;  // the attributed string's column in the statement, or -1
  std::map<std::int64_t, ChatBuild> chats_;
  std::vector<ChatBuild*> buildOf_;  // per message read: its chat, or null
  ChatBuild* lastChat_ = nullptr;    // the chat of the message read last, and its id
  std::int64_t lastChatId_ = 0;
  ProgressSink progress_;
  // Built in list nodes, which move into their conversations without a copy.
  std::list<MessageRecord> messages_;
  NodeOrder<MessageRecord> order_;
  std::vector<std::int32_t> handles_;
  std::vector<NamedPhone> contacts_;
  DatabaseIssue problem_;
  DatabaseIssue namesProblem_;
  // For the deleted rows: the message table's columns and the handle texts by row id.
  std::vector<std::string> messageColumns_;
  // The message table's deleted rows as messages (without sender, name or chat), carved
  // before the live rows are read, and each one's stored date when it is in nanoseconds
  // (else 0).
  std::vector<MessageRecord> carved_;
  std::vector<std::int64_t> carvedDates_;
  std::vector<std::string> joinColumns_;  // chat_message_join's, when it has message_date
  std::unordered_map<std::int64_t, SharedText> handleTexts_;
  // The sender text last seen for each handle id, shared by its live messages.
  std::unordered_map<std::int32_t, SharedText> senders_;
  // One shared copy of each address-book name that messages show, by the name's text in
  // the lookup (which lives as long as the read).
  std::unordered_map<const std::string*, SharedText> sharedNames_;
  const SharedText& SharedName(const std::string& name);
};

}  // namespace bv

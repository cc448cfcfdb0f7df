#pragma once
// WhatsApp chats of ChatStorage.sqlite: sessions, group members, messages and media
// items joined into messages with chat title, sender name and text, ordered by time
// and grouped by chat session; and the text file of one chat.
// Reading runs on the scan thread, writing on the export worker; each statement opens
// and closes its own connection.
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/result_codes.h"
#include "records/date_text.h"
#include "records/deleted_rows.h"
#include "records/progress_sink.h"
#include "records/readonly_db.h"
#include "records/record_types.h"
#include "records/row_access.h"

namespace bv {

inline constexpr const char kWhatsAppSessionStatement[] =
    "SELECT Z_PK, ZPARTNERNAME, ZCONTACTJID FROM ZWACHATSESSION;";
inline constexpr const char kWhatsAppMemberStatement[] =
    "SELECT ZCHATSESSION, ZCONTACTNAME, ZMEMBERJID FROM ZWAGROUPMEMBER;";
inline constexpr const char kWhatsAppMessageStatement[] =
    "SELECT Z_PK, ZISFROMME, ZCHATSESSION, ZMESSAGEDATE, ZPUSHNAME, ZTEXT FROM ZWAMESSAGE;";
inline constexpr const char kWhatsAppMediaStatement[] =
    "SELECT ZMESSAGE, ZTITLE FROM ZWAMEDIAITEM;";

// One chat session.
struct WhatsAppSessionRecord {
  std::int32_t sessionId = 0;
  std::string contactJid;
  std::string partnerName;
  std::string memberNames;  // built by the join, comma-separated
  std::string memberJids;   // built by the join, comma-separated
  // What the session's messages share, made by the join.
  std::shared_ptr<const WhatsAppChatInfo> chat;
};

// One group member.
struct WhatsAppMemberRecord {
  std::int32_t memberSession = 0;
  std::string memberJid;
  std::string memberName;
};

// One media item.
struct WhatsAppMediaRecord {
  std::int32_t mediaMessage = 0;
  std::string mediaTitle;
};

class WhatsAppReader {
 public:
  WhatsAppReader();
  ~WhatsAppReader();
  // Reads the chats into `chats`. Result: 1006 when the media statement reported an
  // error, else the open code of its connection (0 when it opened). Failures of the
  // other three statements only leave their rows out.
  Result Read(const DatabaseFile& chatStoragePath, WhatsAppChatMap& chats);
  // After Read: the first thing that kept a statement from reading the chat database
  // (kNone when all four read it).
  const DatabaseIssue& Problem() const { return problem_; }

  // Row callbacks: in the form of sqlite3_exec, and over a stepped statement (what
  // Read uses); both make the same record of a row.
  static int SessionRow(void* context, int columns, char** values, char** names);
  static int MemberRow(void* context, int columns, char** values, char** names);
  static int MessageRow(void* context, int columns, char** values, char** names);
  static int MediaRow(void* context, int columns, char** values, char** names);
  static int SessionRow(void* context, StatementRow& row);
  static int MemberRow(void* context, StatementRow& row);
  static int MessageRow(void* context, StatementRow& row);
  static int MediaRow(void* context, StatementRow& row);

  // The join of the four row lists into `chats` (exposed for tests of the rules).
  // Read does the same, naming each message as its row arrives.
  void Join(WhatsAppChatMap& chats);

  std::vector<WhatsAppSessionRecord> sessions;
  std::vector<WhatsAppMemberRecord> members;
  // Built in list nodes: the join moves each node into its chat without copying it.
  std::list<WhatsAppMessageRecord> messages;
  std::vector<WhatsAppMediaRecord> media;

 private:
  template <typename Row>
  void AddSession(const Row& row);
  template <typename Row>
  void AddMember(const Row& row);
  template <typename Row>
  void AddMessage(const Row& row);
  template <typename Row>
  void AddMedia(const Row& row);
  struct JoinState;
  void PrepareJoin();
  void NameMessage(std::list<WhatsAppMessageRecord>::iterator node);
  void Keep(std::list<WhatsAppMessageRecord>::iterator node);
  void FinishJoin(WhatsAppChatMap& chats);
  // Carves the deleted rows of ZWAMESSAGE into carved_ as messages (without chat or
  // sender), before the live rows are read.
  void CarveDeletedMessages(const DatabaseFile& file);
  // Adds the carved rows with a text, each after the live messages of its chat
  // (ZCHATSESSION), in date order, named as live ones are.
  void AddDeletedMessages(WhatsAppChatMap& chats);
  std::unique_ptr<JoinState> join_;
  std::vector<WhatsAppMessageRecord> carved_;
  // One shared copy of each sender name that messages show, by the name's text in the
  // session and member records (null: the owner, "Me"); cleared with them.
  std::unordered_map<const std::string*, SharedText> sharedSenders_;
  const SharedText& SharedSender(const std::string* name);
  LocalDateFormatter dates_;
  DatabaseIssue problem_;
};

// Writes the chat `sessionId` of `chats` as UTF-8 text with byte-order mark and CR LF
// line ends to `outputPath` (parent folders created, an existing file replaced): per
// message "<date> <sender>:", "    <text>" and an empty line. Result: 0, the
// callback's non-zero answer, or the platform error code when the file cannot be
// written. A chat that is not in the map leaves an empty text file and returns 0.
Result WriteWhatsAppChatText(const WhatsAppChatMap& chats, std::int32_t sessionId,
                             const std::string& outputPath, CopyCallback callback, void* user);

}  // namespace bv

#include "records/whatsapp_reader.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unordered_map>

#include "records/ordering.h"
#include "common/text.h"
#include "platform/platform.h"
#include "records/date_text.h"
#include "records/first_containing.h"
#include "records/int_slots.h"
#include "records/deleted_rows.h"
#include "records/live_keys.h"
#include "records/readonly_db.h"

namespace bv {

template <typename Row>
void WhatsAppReader::AddSession(const Row& row) {
  WhatsAppSessionRecord s;
  s.sessionId = row.Int32(0);
  if (s.sessionId == 0) return;
  s.partnerName = row.Utf8(1);
  s.contactJid = row.Utf8(2);
  sessions.push_back(std::move(s));
}

template <typename Row>
void WhatsAppReader::AddMember(const Row& row) {
  WhatsAppMemberRecord m;
  m.memberSession = row.Int32(0);
  if (m.memberSession == 0) return;
  m.memberName = row.Utf8(1);
  m.memberJid = row.Utf8(2);
  members.push_back(std::move(m));
}

template <typename Row>
void WhatsAppReader::AddMessage(const Row& row) {
  const std::int32_t sessionId = row.Int32(2);
  if (sessionId == 0) return;
  const auto node = messages.emplace(messages.end());
  WhatsAppMessageRecord& m = *node;
  m.messageId = row.Int32(0);
  m.isFromMe = row.Int32(1);
  m.sessionId = sessionId;
  std::int64_t seconds = 0;
  if (row.WholeSeconds(3, seconds)) m.date = dates_.FromAppleWholeSeconds(seconds);
  m.pushName = row.Utf8(4);
  m.text = row.Utf8(5);
  if (join_ != nullptr) NameMessage(node);
}

template <typename Row>
void WhatsAppReader::AddMedia(const Row& row) {
  WhatsAppMediaRecord m;
  m.mediaMessage = row.Int32(0);
  if (m.mediaMessage == 0) return;
  m.mediaTitle = row.Utf8(1);
  media.push_back(std::move(m));
}

int WhatsAppReader::SessionRow(void* context, int columns, char** values, char** /*names*/) {
  static_cast<WhatsAppReader*>(context)->AddSession(ExecRow(columns, values));
  return 0;
}
int WhatsAppReader::MemberRow(void* context, int columns, char** values, char** /*names*/) {
  static_cast<WhatsAppReader*>(context)->AddMember(ExecRow(columns, values));
  return 0;
}
int WhatsAppReader::MessageRow(void* context, int columns, char** values, char** /*names*/) {
  static_cast<WhatsAppReader*>(context)->AddMessage(ExecRow(columns, values));
  return 0;
}
int WhatsAppReader::MediaRow(void* context, int columns, char** values, char** /*names*/) {
  static_cast<WhatsAppReader*>(context)->AddMedia(ExecRow(columns, values));
  return 0;
}
int WhatsAppReader::SessionRow(void* context, StatementRow& row) {
  static_cast<WhatsAppReader*>(context)->AddSession(row);
  return 0;
}
int WhatsAppReader::MemberRow(void* context, StatementRow& row) {
  static_cast<WhatsAppReader*>(context)->AddMember(row);
  return 0;
}
int WhatsAppReader::MessageRow(void* context, StatementRow& row) {
  static_cast<WhatsAppReader*>(context)->AddMessage(row);
  return 0;
}
int WhatsAppReader::MediaRow(void* context, StatementRow& row) {
  static_cast<WhatsAppReader*>(context)->AddMedia(row);
  return 0;
}

// What the join needs of the sessions and members, made once both are read, so that
// each message is named while its row is being turned into a record.
struct WhatsAppReader::JoinState {
  template <typename Keys>
  JoinState(const Keys& sessionKeys, const std::vector<std::string_view>& jids)
      : sessionById(sessionKeys), listOf(sessionKeys), memberByJid(jids) {}
  IntSlots<const WhatsAppSessionRecord*> sessionById;
  // Lists of a std::map stay where they are: each chat is looked up in the tree once.
  IntSlots<std::list<WhatsAppMessageRecord>*> listOf;
  // Senders of group messages: the first member (of all chats) whose JID holds the
  // push name without its first character.
  FirstContaining memberByJid;
  NodeOrder<WhatsAppMessageRecord> order;  // messages that have their text
  std::vector<std::list<WhatsAppMessageRecord>::iterator> untitled;  // still without
};

WhatsAppReader::WhatsAppReader() = default;
WhatsAppReader::~WhatsAppReader() = default;

Result WhatsAppReader::Read(const DatabaseFile& chatStoragePath, WhatsAppChatMap& chats) {
  struct Step {
    const char* sql;
    StatementRowCallback row;
  };
  const Step steps[] = {{kWhatsAppSessionStatement, SessionRow},
                        {kWhatsAppMemberStatement, MemberRow},
                        {kWhatsAppMessageStatement, MessageRow},
                        {kWhatsAppMediaStatement, MediaRow}};
  Result result = kSuccess;
  problem_ = {};
  CarveDeletedMessages(chatStoragePath);
  for (const Step& step : steps) {
    // Sessions and members are complete before the first message row.
    if (&step == &steps[2]) PrepareJoin();
    ReadOnlyDatabase db;
    const int rc = db.Open(chatStoragePath);
    result = rc;
    if (rc == 0 && db.Each(step.sql, step.row, this)) result = kQueryFailed;
    if (problem_.Ok()) problem_ = db.Issue();
  }
  FinishJoin(chats);
  AddDeletedMessages(chats);
  return result;
}

void WhatsAppReader::CarveDeletedMessages(const DatabaseFile& file) {
  // Before any record is built: the raw pass's page cache, its hashes of the live
  // cells and the carved rows of every column are gone by then, and only the messages
  // made of them wait beside the records.
  carved_.clear();
  std::vector<std::string> columns;
  {
    ReadOnlyDatabase db;
    if (db.Open(file) != 0) return;
    columns = DeclaredColumns(db, "ZWAMESSAGE");
  }
  if (columns.empty()) return;
  // A file the raw reader cannot read leaves the live messages as they are.
  DeletedRows carved;
  ReadDeletedRows(file, "ZWAMESSAGE", columns, carved, "ZSTANZAID");
  const int textColumn = carved.Column("ZTEXT");
  const int dateColumn = carved.Column("ZMESSAGEDATE");
  const int fromMeColumn = carved.Column("ZISFROMME");
  const int sessionColumn = carved.Column("ZCHATSESSION");
  const int pushColumn = carved.Column("ZPUSHNAME");
  // What a row tells of itself; the live messages and the chats decide the rest.
  for (const GenericRow& row : carved.rows) {
    WhatsAppMessageRecord m;
    m.deleted = 1;
    m.text = DeletedRows::Text(row, textColumn);
    if (m.text.empty() || m.text.find("\xEF\xBF\xBD") != std::string::npos) continue;
    std::int64_t value = 0;
    if (!DeletedRows::Integer(row, sessionColumn, value) || value <= 0 || value > INT32_MAX)
      continue;
    m.sessionId = static_cast<std::int32_t>(value);
    if (!DeletedRows::Integer(row, fromMeColumn, value) || (value != 0 && value != 1)) continue;
    m.isFromMe = static_cast<std::int32_t>(value);
    double when = 0;
    if (!DeletedRows::Number(row, dateColumn, when)) continue;
    if (PlausibleUtcDate(when + static_cast<double>(kAppleEpochOffset)).empty()) continue;
    m.date = dates_.FromAppleWholeSeconds(static_cast<std::int64_t>(std::floor(when)));
    if (m.date.empty()) continue;
    m.pushName = DeletedRows::Text(row, pushColumn);
    carved_.push_back(std::move(m));
  }
}

void WhatsAppReader::AddDeletedMessages(WhatsAppChatMap& chats) {
  std::vector<WhatsAppMessageRecord> carved = std::move(carved_);
  carved_.clear();
  if (carved.empty()) return;
  std::unordered_map<std::int32_t, const WhatsAppSessionRecord*> sessionById;
  for (const WhatsAppSessionRecord& s : sessions) sessionById.emplace(s.sessionId, &s);
  std::unordered_map<std::string, const std::string*> memberByJid;
  for (const WhatsAppMemberRecord& m : members) memberByJid.emplace(m.memberJid, &m.memberName);
  // A live message's session is the key of its chat.
  const auto keyOf = [](const WhatsAppMessageRecord& m) {
    return std::tuple<std::int32_t, std::string_view, std::string_view, std::int32_t>(
        m.sessionId, m.date, m.text, m.isFromMe);
  };
  LiveKeys<WhatsAppMessageRecord, decltype(keyOf)> live(keyOf);
  live.AddLists(chats);
  std::map<std::int32_t, std::vector<WhatsAppMessageRecord>, WhatsAppSessionLess> found;
  for (WhatsAppMessageRecord& m : carved) {
    if (live.Contains({m.sessionId, m.date, m.text, m.isFromMe})) continue;
    // Named as NameMessage names a live one.
    if (auto s = sessionById.find(m.sessionId); s != sessionById.end()) {
      m.chat = s->second->chat;
      if (m.isFromMe != 0) {
        m.senderName = SharedSender(nullptr);
        m.pushName.clear();
      } else {
        const std::string* sender = &s->second->partnerName;
        if (!m.pushName.empty() && m.chat && m.chat->jids.find(',') != std::string::npos) {
          const std::string_view push(m.pushName);
          auto member = memberByJid.find(std::string(push.substr(Utf8Offset(push, 1))));
          if (member != memberByJid.end()) sender = member->second;
        }
        m.senderName = SharedSender(sender);
      }
    }
    found[m.sessionId].push_back(std::move(m));
  }
  for (auto& [session, list] : found) {
    std::stable_sort(list.begin(), list.end(),
                     [](const WhatsAppMessageRecord& a, const WhatsAppMessageRecord& b) {
                       return a.date < b.date;
                     });
    std::list<WhatsAppMessageRecord>& chat = chats[session];
    for (WhatsAppMessageRecord& m : list) chat.push_back(std::move(m));
  }
}

namespace {
template <typename List, typename Key>
std::vector<std::int32_t> KeysOf(const List& list, Key key) {
  std::vector<std::int32_t> keys;
  keys.reserve(list.size());
  for (const auto& item : list) keys.push_back(key(item));
  return keys;
}
}  // namespace

void WhatsAppReader::PrepareJoin() {
  // Keys of the shared names are addresses in the session and member records.
  sharedSenders_.clear();
  std::vector<std::string_view> jids;
  jids.reserve(members.size());
  for (const auto& m : members) jids.push_back(m.memberJid);
  join_ = std::make_unique<JoinState>(
      KeysOf(sessions, [](const WhatsAppSessionRecord& s) { return s.sessionId; }), jids);

  // Member lists, per session in row order.
  std::unordered_map<std::int32_t, std::vector<const WhatsAppMemberRecord*>> membersOf;
  for (const auto& m : members) membersOf[m.memberSession].push_back(&m);
  for (auto& s : sessions) {
    auto it = membersOf.find(s.sessionId);
    if (it != membersOf.end()) {
      for (const WhatsAppMemberRecord* m : it->second) {
        if (s.memberJids.empty()) {
          s.memberJids = m->memberJid;
          s.memberNames = m->memberName;
        } else {
          s.memberJids += ',';
          s.memberJids += m->memberJid;
          if (!m->memberName.empty()) {
            s.memberNames += ',';
            s.memberNames += m->memberName;
          }
        }
      }
    }
    auto info = std::make_shared<WhatsAppChatInfo>();
    info->partner = s.partnerName;
    info->jids = s.memberJids.empty() ? s.contactJid : s.memberJids;
    info->title = s.memberNames.empty() ? s.partnerName : s.memberNames;
    s.chat = std::move(info);
    auto& slot = join_->sessionById[s.sessionId];
    if (slot == nullptr) slot = &s;  // the first session of an id wins
  }
}

void WhatsAppReader::NameMessage(std::list<WhatsAppMessageRecord>::iterator node) {
  WhatsAppMessageRecord& msg = *node;
  const WhatsAppSessionRecord* found = join_->sessionById[msg.sessionId];
  if (found != nullptr) {
    const WhatsAppSessionRecord& s = *found;
    msg.chat = s.chat;
    // Every message keeps its own text, also the first of a run of rows of a group.
    if (msg.isFromMe != 0) {
      msg.senderName = SharedSender(nullptr);
      msg.pushName.clear();
    } else {
      const std::string* sender = &s.partnerName;
      if (!msg.pushName.empty() && s.chat->jids.find(',') != std::string::npos) {
        // The push name without its first character (a "~" before the number).
        const std::string_view push(msg.pushName);
        const std::ptrdiff_t i = join_->memberByJid.Find(push.substr(Utf8Offset(push, 1)));
        if (i >= 0) sender = &members[static_cast<std::size_t>(i)].memberName;
      }
      msg.senderName = SharedSender(sender);
    }
  }
  // A message without text may still get a media title, read after the messages.
  if (msg.text.empty())
    join_->untitled.push_back(node);
  else
    Keep(node);
}

const SharedText& WhatsAppReader::SharedSender(const std::string* name) {
  auto [it, added] = sharedSenders_.try_emplace(name);
  if (added) it->second = name != nullptr ? std::string_view(*name) : std::string_view("Me");
  return it->second;
}

void WhatsAppReader::Keep(std::list<WhatsAppMessageRecord>::iterator node) {
  join_->order.Add(node, node->date, node->sessionId);
}

void WhatsAppReader::FinishJoin(WhatsAppChatMap& chats) {
  if (join_ == nullptr) PrepareJoin();
  IntSlots<const WhatsAppMediaRecord*> mediaByMessage(
      KeysOf(media, [](const WhatsAppMediaRecord& m) { return m.mediaMessage; }));
  for (const auto& m : media) {
    auto& slot = mediaByMessage[m.mediaMessage];
    if (slot == nullptr) slot = &m;
  }
  for (const auto node : join_->untitled) {
    if (node->messageId != 0) {
      const WhatsAppMediaRecord* item = mediaByMessage[node->messageId];
      if (item != nullptr) node->text = item->mediaTitle;
    }
    if (node->text.empty())
      messages.erase(node);
    else
      Keep(node);
  }
  // The nodes move over, not their records.
  join_->order.SpliceSorted(
      messages, [](const WhatsAppMessageRecord& m) -> std::string_view { return m.date; },
      [&](std::int32_t sessionId) -> std::list<WhatsAppMessageRecord>& {
        auto& list = join_->listOf[sessionId];
        if (list == nullptr) list = &chats[sessionId];
        return *list;
      },
      [](const WhatsAppMessageRecord&) {});
  messages.clear();
  join_.reset();
}

void WhatsAppReader::Join(WhatsAppChatMap& chats) {
  PrepareJoin();
  for (auto it = messages.begin(); it != messages.end(); ++it) NameMessage(it);
  FinishJoin(chats);
}

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Text as the Windows runtime's UTF-8 text mode writes it: every line feed as CR LF.
void AppendText(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
}

}  // namespace

Result WriteWhatsAppChatText(const WhatsAppChatMap& chats, std::int32_t sessionId,
                             const std::string& outputPath, CopyCallback callback, void* user) {
  const std::filesystem::path path = platform::PathFromUtf8(outputPath);
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  auto failed = [&](int code) -> Result {
    if (code > 0 && callback != nullptr) callback(user, 100, code, outputPath);
    return code;
  };
  if (!file) return failed(errno != 0 ? errno : EIO);
  static const char kBom[] = "\xEF\xBB\xBF";
  bool writeError = std::fwrite(kBom, 1, 3, file.get()) != 3;

  Result result = kSuccess;
  auto chat = chats.find(sessionId);
  if (chat != chats.end()) {
    const auto& list = chat->second;
    const std::int64_t total = static_cast<std::int64_t>(list.size());
    std::int64_t written = 0;
    std::string block;
    for (const WhatsAppMessageRecord& m : list) {
      const std::string_view sender = m.isFromMe != 0 ? std::string_view("Me")
                                      : (m.senderName.empty() || m.senderName == "Unknown")
                                          ? std::string_view(m.pushName)
                                          : m.senderName.view();
      block.clear();
      AppendText(block, m.date);
      block += ' ';
      AppendText(block, sender);
      block += ":\r\n    ";
      AppendText(block, m.text);
      block += "\r\n\r\n";
      if (std::fwrite(block.data(), 1, block.size(), file.get()) != block.size() ||
          std::fflush(file.get()) != 0)
        writeError = true;
      ++written;
      if (callback != nullptr) {
        result =
            callback(user, static_cast<std::int32_t>(written * 100 / total), result, outputPath);
        if (result != 0) break;
      }
    }
  }
  std::FILE* raw = file.release();
  if (std::fclose(raw) != 0) writeError = true;
  if (writeError && result == kSuccess) result = errno != 0 ? errno : EIO;
  if (result > 0 && callback != nullptr) callback(user, 100, result, outputPath);
  return result;
}

}  // namespace bv

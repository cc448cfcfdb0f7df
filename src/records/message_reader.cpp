#include "records/message_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "common/text.h"
#include "platform/files.h"
#include "platform/utf8.h"
#include "rawsqlite/raw_db_file.h"
#include "rawsqlite/record_cursor.h"
#include "records/attributed_body.h"
#include "records/contact_reader.h"
#include "records/date_text.h"
#include "records/deleted_rows.h"
#include "records/int_slots.h"
#include "records/live_keys.h"
#include "records/item_tables.h"
#include "records/name_lookup.h"
#include "records/ordering.h"
#include "records/readonly_db.h"

namespace bv {

namespace {
constexpr std::int64_t kNoChat = INT64_MIN;
}  // namespace

template <typename Row>
void MessageReader::AddMessage(const Row& row) {
  // Messages without text (attachments only) are not listed: nothing else to convert.
  // The texts go into the record straight from the row's bytes where those are valid.
  std::string scratch;
  std::string_view text = row.Utf8View(0, scratch);
  if (text.empty() && bodyColumn_ >= 0) {
    DecodeAttributedBodyText(row.Bytes(bodyColumn_), scratch);
    text = scratch;
  }
  if (text.empty()) return;
  const auto node = messages_.emplace(messages_.end());
  MessageRecord& record = *node;
  record.text = text;
  record.isFromMe = row.Int32(1);
  record.rowId = row.Int32(3);
  record.handleId = row.Int32(4);
  // A handle's messages share its text.
  const std::string_view sender = row.Utf8View(5, scratch);
  SharedText& shared = senders_[record.handleId];
  if (shared != sender) shared = sender;
  record.sender = shared;
  // Up to 14 digits the stored date is in seconds (iOS 6 to 10), beyond that in
  // nanoseconds (iOS 11 on), which the first date column already divided.
  if (row.TextLength(6) < 15 && row.Text(7) != nullptr)
    record.date = row.Utf8View(7, scratch);
  else
    record.date = row.Utf8View(2, scratch);
  // The read index stands for the conversation, which is known once all chats are read.
  order_.Add(node, record.date, static_cast<std::int32_t>(handles_.size()));
  handles_.push_back(record.handleId);
  // Column 9 says whether there is a chat, without asking SQLite for column 8's text.
  // The chats were read before the messages; a node of the map stays where it is.
  ChatBuild* chat = nullptr;
  if (chatTables_ && row.Int32(9) != 0) {
    const std::int64_t id = row.Int64(8);
    if (lastChat_ == nullptr || id != lastChatId_) {
      lastChat_ = &chats_[id];
      lastChatId_ = id;
    }
    chat = lastChat_;
  }
  buildOf_.push_back(chat);
}

void MessageReader::ReserveForMessages(ReadOnlyDatabase& db) {
  // The per-message vectors are sized once from the table's row count (messages without
  // text are left out later, so it is at most a little high). A count that cannot be
  // had, or an absurd one, leaves them to grow as they go.
  constexpr std::int64_t kMostReserved = std::int64_t{1} << 24;
  std::int64_t rows = -1;
  if (db.Each("SELECT count(*) FROM message;", CountRow, &rows)) db.ForgetStatementError();
  if (rows <= 0 || rows > kMostReserved) return;
  const auto count = static_cast<std::size_t>(rows);
  order_.Reserve(count);
  handles_.reserve(count);
  buildOf_.reserve(count);
}

int MessageReader::CountRow(void* context, StatementRow& row) {
  *static_cast<std::int64_t*>(context) = row.Int64(0);
  return 0;
}

int MessageReader::MemberRow(void* context, StatementRow& row) {
  auto* reader = static_cast<MessageReader*>(context);
  ChatBuild& chat = reader->chats_[row.Int64(0)];
  chat.joined = true;
  chat.members.emplace_back(row.Int32(1), row.Utf8(2));
  return 0;
}

int MessageReader::HandleRow(void* context, StatementRow& row) {
  static_cast<MessageReader*>(context)->handleTexts_[row.Int64(0)] = row.Utf8(1);
  return 0;
}

void MessageReader::CarveDeletedMessages(const DatabaseFile& file) {
  carved_.clear();
  carvedDates_.clear();
  DeletedRows carved;
  ReadDeletedRows(file, "message", messageColumns_, carved, "guid", true);
  const int textColumn = carved.Column("text");
  const int bodyColumn = carved.Column("attributedBody");
  const int fromMeColumn = carved.Column("is_from_me");
  const int handleColumn = carved.Column("handle_id");
  const int dateColumn = carved.Column("date");
  // What a row tells of itself; the live messages, handles and chats decide the rest.
  for (const GenericRow& row : carved.rows) {
    MessageRecord m;
    m.deleted = 1;
    std::string text = DeletedRows::Text(row, textColumn);
    if (text.empty()) {
      const GenericValue* body = DeletedRows::Value(row, bodyColumn);
      if (body != nullptr && body->kind == GenericValue::Blob && !body->truncated)
        DecodeAttributedBodyText(body->bytes, text);
    }
    // A text with broken bytes was read from someone else's bytes.
    if (text.empty() || text.find("\xEF\xBF\xBD") != std::string::npos) continue;
    m.text = text;
    double when = 0;
    if (!DeletedRows::Number(row, dateColumn, when)) continue;
    std::int64_t stored = 0;
    const bool integerDate = DeletedRows::Integer(row, dateColumn, stored);
    // As for live rows: up to 14 digits seconds, beyond that nanoseconds.
    if (std::fabs(when) >= 1e14) when = std::trunc(when / 1e9);
    m.date = PlausibleUtcDate(when + static_cast<double>(kAppleEpochOffset));
    if (m.date.empty()) continue;
    std::int64_t value = 0;
    if (!DeletedRows::Integer(row, fromMeColumn, value) || (value != 0 && value != 1)) continue;
    m.isFromMe = static_cast<std::int32_t>(value);
    if (DeletedRows::Integer(row, handleColumn, value) && value >= INT32_MIN && value <= INT32_MAX)
      m.handleId = static_cast<std::int32_t>(value);
    // Only nanosecond dates are precise enough to find the row that joined the message.
    carvedDates_.push_back(integerDate && std::llabs(stored) >= 100000000000000ll ? stored : 0);
    carved_.push_back(std::move(m));
  }
}

void MessageReader::AddDeletedMessages(const DatabaseFile& file, ContactNameLookup* names,
                                       ConversationMap& conversations) {
  if (messageColumns_.empty()) return;
  std::vector<MessageRecord> carved = std::move(carved_);
  std::vector<std::int64_t> carvedDates = std::move(carvedDates_);
  carved_.clear();
  carvedDates_.clear();
  // An old version of a live row (SQLite moved the row when a value grew) shows the
  // same message: a live one.
  const auto keyOf = [](const MessageRecord& m) {
    return std::tuple<std::string_view, std::string_view, std::int32_t, std::int32_t>(
        m.date, m.text, m.isFromMe, m.handleId);
  };
  LiveKeys<MessageRecord, decltype(keyOf)> live(keyOf);
  live.AddLists(conversations);
  std::vector<MessageRecord> carvedMessages;
  std::vector<std::int64_t> storedDates;  // per carved message: its stored date, else 0
  std::unordered_set<std::int64_t> wanted;
  for (std::size_t i = 0; i < carved.size(); ++i) {
    MessageRecord& m = carved[i];
    if (auto h = handleTexts_.find(m.handleId); h != handleTexts_.end()) m.sender = h->second;
    if (live.Contains({m.date, m.text, m.isFromMe, m.handleId})) continue;
    if (names != nullptr && !m.sender.empty()) m.name = SharedName(names->NameFor(m.sender));
    storedDates.push_back(carvedDates[i]);
    if (storedDates.back() != 0) wanted.insert(storedDates.back());
    carvedMessages.push_back(std::move(m));
  }
  const std::unordered_map<std::int64_t, std::int64_t> chatByDate = DeletedJoinChats(file, wanted);
  std::map<std::int32_t, std::vector<MessageRecord>> found;
  for (std::size_t i = 0; i < carvedMessages.size(); ++i) {
    MessageRecord& m = carvedMessages[i];
    std::int32_t key = m.handleId;
    if (auto joined = chatByDate.find(storedDates[i]);
        storedDates[i] != 0 && joined != chatByDate.end()) {
      if (auto chat = ChatOfDeleted(joined->second, m.handleId)) {
        key = chat->key;
        m.chat = std::move(chat);
      }
    }
    found[key].push_back(std::move(m));
  }
  for (auto& [key, list] : found) {
    std::stable_sort(list.begin(), list.end(), [](const MessageRecord& a, const MessageRecord& b) {
      return a.date < b.date;
    });
    std::list<MessageRecord>& conversation = conversations[key];
    // The chat of the live messages of the same conversation.
    std::shared_ptr<const MessageChatInfo> chat;
    for (const MessageRecord& live : conversation)
      if (live.chat) {
        chat = live.chat;
        break;
      }
    for (MessageRecord& m : list) {
      if (!m.chat) m.chat = chat;
      conversation.push_back(std::move(m));
    }
  }
}

namespace {

// Looks through `path` for deleted join rows (chat_id, message_id, message_date) whose date
// is one of `dates`, adding date -> chat to `chatByDate` (kNoChat where two chats claim a
// date). A freed join cell has lost its length and row id to the freeblock header that
// overwrote its first bytes, and the page reader cannot tell its columns apart any more;
// what is left is the three serial types (integers of 1-3, 1-4 and 8 bytes) followed by
// the values, and a nanosecond date pins it down. Chat and message 1 are stored as the
// constant of type 9, without bytes.
void FindJoinRows(const std::string& path, const std::unordered_set<std::int64_t>& dates,
                  std::unordered_map<std::int64_t, std::int64_t>& chatByDate) {
  platform::ReadOnlyFile file;
  if (path.empty() || file.Open(platform::PathFromUtf8(path)) != 0) return;
  constexpr std::size_t kChunk = 1 << 20;
  constexpr std::size_t kKeep = 24;  // a cell that straddles two chunks: types to date end
  std::vector<std::uint8_t> buffer(kKeep + kChunk);
  std::size_t kept = 0;
  for (std::uint64_t offset = 0;;) {
    const std::int64_t got = file.ReadAt(offset, buffer.data() + kept, kChunk);
    if (got <= 0) break;
    offset += static_cast<std::uint64_t>(got);
    const std::size_t end = kept + static_cast<std::size_t>(got);
    const bool lastChunk =
        static_cast<std::size_t>(got) < kChunk || offset >= static_cast<std::uint64_t>(file.Size());
    const Bytes data(buffer.data(), end);
    // Every position p with the date's serial type 6 after a chat id and a message id
    // type; before the last chunk, only those whose longest cell lies inside this one.
    std::size_t p = 2;
    const std::size_t stop = lastChunk ? end : end >= 16 ? end - 16 : 0;
    for (; p < stop; ++p) {
      if (data[p] != 6) continue;
      // Integers of 1-3 (chat) and 1-4 (message) bytes, or the constant 1 (type 9).
      const std::uint8_t chatType = data[p - 2], idType = data[p - 1];
      if (!((chatType >= 1 && chatType <= 3) || chatType == 9)) continue;
      if (!((idType >= 1 && idType <= 4) || idType == 9)) continue;
      const Column chat{0, chatType, SerialContentSize(chatType), p + 1, data};
      const Column id{1, idType, SerialContentSize(idType), chat.offset + chat.size, data};
      const Column date{2, 6, 8, id.offset + id.size, data};
      if (!date.Fits() || dates.count(date.Signed()) == 0) continue;
      if (chat.Signed() <= 0) continue;
      auto [it, added] = chatByDate.emplace(date.Signed(), chat.Signed());
      if (!added && it->second != chat.Signed()) it->second = kNoChat;
    }
    // Keep the tail whose cells the loop could not finish.
    const std::size_t from = std::min(p, end) >= 2 ? std::min(p, end) - 2 : 0;
    kept = end - from;
    std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(from),
              buffer.begin() + static_cast<std::ptrdiff_t>(end), buffer.begin());
    if (lastChunk) break;
  }
}

}  // namespace

std::unordered_map<std::int64_t, std::int64_t> MessageReader::DeletedJoinChats(
    const DatabaseFile& file, const std::unordered_set<std::int64_t>& dates) const {
  std::unordered_map<std::int64_t, std::int64_t> chatByDate;
  if (joinColumns_.empty() || dates.empty()) return chatByDate;
  FindJoinRows(file.path, dates, chatByDate);
  FindJoinRows(file.log.empty() ? LogBeside(file.path) : file.log, dates, chatByDate);
  return chatByDate;
}

std::shared_ptr<const MessageChatInfo> MessageReader::ChatOfDeleted(std::int64_t chatId,
                                                                    std::int32_t handleId) const {
  if (chatId == kNoChat) return {};
  auto it = chats_.find(chatId);
  if (it == chats_.end() || !it->second.info) return {};
  const ChatBuild& chat = it->second;
  // A received message comes from one of the chat's members; a reading that says
  // otherwise joined another message.
  if (handleId != 0) {
    bool member = false;
    for (const auto& [handle, text] : chat.members) member = member || handle == handleId;
    if (!member) return {};
  }
  return chat.info;
}

const SharedText& MessageReader::SharedName(const std::string& name) {
  auto [it, added] = sharedNames_.try_emplace(&name);
  if (added) it->second = name;
  return it->second;
}

int MessageReader::ChatNameRow(void* context, StatementRow& row) {
  auto* reader = static_cast<MessageReader*>(context);
  std::string name = row.Utf8(1);
  if (!name.empty()) reader->chats_[row.Int64(0)].displayName = std::move(name);
  return 0;
}

bool MessageReader::ReadChats(ReadOnlyDatabase& db) {
  if (db.Each(kChatMemberStatement, MemberRow, this)) {
    // No chat_handle_join (or handle): the layout that groups by handle only.
    db.ForgetStatementError();
    chats_.clear();
    return false;
  }
  if (db.Each(kChatNameStatement, ChatNameRow, this)) {
    // iOS 6 chats have no display name; labels then come from the members.
    db.ForgetStatementError();
  }
  return true;
}

std::vector<std::int32_t> MessageReader::ConversationKeys(ContactNameLookup* names,
                                                          const ConversationMap& existing) {
  const std::size_t count = handles_.size();
  std::vector<std::int32_t> keys(count);
  // Every chat of a message gets its conversation. Over the read vectors only: the
  // records are touched again only for chats without member rows.
  bool memberless = false;
  for (const auto& [chatId, chat] : chats_) memberless = memberless || !chat.joined;
  if (memberless) {
    // Members of chats whose join rows are gone: the handles of their messages.
    std::size_t i = 0;
    for (const MessageRecord& m : messages_) {
      ChatBuild* chat = buildOf_[i++];
      if (chat != nullptr && !chat->joined && !m.sender.empty() &&
          chat->seenHandles.insert(m.handleId).second)
        chat->members.emplace_back(m.handleId, m.sender);
    }
  }
  // Handle keys in use; chats of other sizes take keys below all of them (or above).
  std::int64_t low = 0, high = 0;
  auto use = [&](std::int64_t key) {
    low = std::min(low, key);
    high = std::max(high, key);
  };
  for (const auto& [key, list] : existing) use(key);
  for (std::size_t i = 0; i < handles_.size(); ++i)
    if (buildOf_[i] == nullptr) use(handles_[i]);
  std::int64_t ownKeys = 0;
  for (auto& [chatId, chat] : chats_) {
    std::sort(chat.members.begin(), chat.members.end());
    chat.members.erase(std::unique(chat.members.begin(), chat.members.end(),
                                   [](const auto& a, const auto& b) { return a.first == b.first; }),
                       chat.members.end());
    if (chat.members.size() == 1)
      use(chat.members[0].first);
    else
      ++ownKeys;
  }
  std::int64_t next = low - ownKeys;
  if (next < INT32_MIN) next = high + 1;
  const bool room = next + ownKeys - 1 <= INT32_MAX;
  for (auto& [chatId, chat] : chats_) {
    auto info = std::make_shared<MessageChatInfo>();
    info->chatId = chatId;
    info->isGroup = chat.members.size() >= 2;
    for (const auto& [handle, text] : chat.members) {
      info->members.push_back(text);
      info->memberNames.push_back(names != nullptr && !text.empty() ? names->NameFor(text)
                                                                    : std::string());
    }
    if (chat.members.size() == 1) {
      info->key = chat.members[0].first;
    } else if (room) {
      info->key = static_cast<std::int32_t>(next++);
    } else {
      // Keys of every 32-bit value taken: such a chat falls back to its messages' handles.
      continue;
    }
    info->label = chat.displayName;
    if (info->label.empty()) {
      for (std::size_t k = 0; k < info->members.size(); ++k) {
        if (k != 0) info->label += ", ";
        info->label += info->memberNames[k].empty() ? info->members[k] : info->memberNames[k];
      }
    }
    chat.info = std::move(info);
  }
  for (std::size_t i = 0; i < count; ++i) {
    const ChatBuild* chat = buildOf_[i];
    keys[i] = chat != nullptr && chat->info ? chat->info->key : handles_[i];
  }
  return keys;
}

int MessageReader::MessageRow(void* context, int columns, char** values, char** /*names*/) {
  static_cast<MessageReader*>(context)->AddMessage(ExecRow(columns, values));
  return 0;
}

int MessageReader::MessageRow(void* context, StatementRow& row) {
  static_cast<MessageReader*>(context)->AddMessage(row);
  return 0;
}

Result MessageReader::Read(const DatabaseFile& messageDbPath, const DatabaseFile& addressBookPath,
                           ConversationMap& conversations) {
  Result result = kSuccess;
  bool goOn = true;
  bool namesLoaded = false;
  problem_ = {};
  namesProblem_ = {};
  {
    ReadOnlyDatabase messageDb;
    ReadOnlyDatabase addressBook;
    const int rc = messageDb.Open(messageDbPath);
    if (rc != 0) {
      result = rc;
      goOn = false;
    }
    if (goOn) {
      // The deleted rows are carved before any record is built: the raw pass's page
      // cache and its hashes of the live cells are gone by then, and only the carved
      // rows wait beside the records. A file the raw reader cannot read leaves the live
      // messages as they are.
      messageColumns_ = DeclaredColumns(messageDb, "message");
      if (!messageColumns_.empty()) CarveDeletedMessages(messageDbPath);
    }
    lastChat_ = nullptr;
    chatTables_ = goOn && ReadChats(messageDb);
    // The statement without the chat tables walks chat_message_join and fetches each
    // message by row id, all over the file: worth a cache of the whole file. The one
    // with them walks the message table in order; SQLite's default cache serves it, and
    // the cache would only hold the whole file in memory beside the records.
    if (!chatTables_) messageDb.CacheWholeFile();
    // Layouts without the attributed string keep the statements that never named it.
    const bool withBody = goOn && TableColumns(messageDb, "message").Has("attributedBody");
    messageDb.ForgetStatementError();  // the probe's; the statement tells its own
    const char* statement = chatTables_
                                ? (withBody ? kChatMessageWithBodyStatement : kChatMessageStatement)
                                : (withBody ? kMessageWithBodyStatement : kMessageStatement);
    bodyColumn_ = !withBody ? -1 : chatTables_ ? 10 : 8;
    if (goOn) ReserveForMessages(messageDb);
    if (goOn && messageDb.Each(statement, MessageRow, this)) {
      result = kQueryFailed;
      goOn = false;
    }
    problem_ = messageDb.Issue();
    if (goOn) {
      // Where the join rows carry the message's date, a deleted message finds its chat
      // through its deleted join row (both lost their row ids to the carving).
      joinColumns_.clear();
      if (chatTables_) {
        DeletedRows join;
        join.columns = DeclaredColumns(messageDb, "chat_message_join");
        if (join.Column("message_date") >= 0) joinColumns_ = std::move(join.columns);
      }
      if (messageDb.Each("SELECT ROWID, id FROM handle;", HandleRow, this))
        messageDb.ForgetStatementError();  // no handle table: no senders
    }
    if (goOn && progress_.Present()) {
      const std::int32_t answer = progress_.Report(progress_.progress + progress_.step / 5);
      if (answer != 0) {
        result = answer;
        goOn = false;
      }
    }
    if (goOn) {
      const int abRc = addressBook.Open(addressBookPath);
      if (abRc != 0) {
        result = abRc;
      } else {
        ContactRows sink;
        sink.mode = ContactRowMode::kPhoneRequiredName;
        if (RunAddressBookStatements(addressBook, sink) != kSuccess) result = kQueryFailed;
        contacts_ = std::move(sink.rows);
        namesLoaded = true;
        if (progress_.Present()) result = progress_.Report(progress_.progress + progress_.step / 4);
      }
      namesProblem_ = AddressBookIssue(addressBook);
    }
  }  // both connections closed here

  if (goOn) {
    // Each message is named as it moves into its conversation, in date order.
    ContactNameLookup names(contacts_);
    {
      const std::vector<std::int32_t> keys =
          ConversationKeys(namesLoaded ? &names : nullptr, conversations);
      IntSlots<std::list<MessageRecord>*> listOf(keys);
      // One handle row is one sender text, so its name is looked up once. A handle id
      // that saturated 32 bits may stand for several rows: those are looked up by text.
      IntSlots<const std::string*> nameOf(handles_);
      order_.SpliceSorted(
          messages_, [](const MessageRecord& m) -> std::string_view { return m.date; },
          [&](std::int32_t index) -> std::list<MessageRecord>& {
            const std::int32_t key = keys[static_cast<std::size_t>(index)];
            auto& list = listOf[key];
            if (list == nullptr) list = &conversations[key];
            return *list;
          },
          [&](MessageRecord& m, std::int32_t index) {
            if (const ChatBuild* chat = buildOf_[static_cast<std::size_t>(index)];
                chat != nullptr && chat->info)
              m.chat = chat->info;
            if (!namesLoaded || m.sender.empty()) return;
            const bool exact = m.handleId != INT32_MAX && m.handleId != INT32_MIN;
            const std::string* name = exact ? nameOf[m.handleId] : nullptr;
            if (name == nullptr) {
              name = &names.NameFor(m.sender);
              if (exact) nameOf[m.handleId] = name;
            }
            m.name = SharedName(*name);
          });
    }
    // What the live rows needed is freed before the deleted-row pass, which holds the
    // carved rows beside every record.
    order_ = {};
    std::vector<std::int32_t>().swap(handles_);
    std::vector<ChatBuild*>().swap(buildOf_);
    senders_.clear();
    AddDeletedMessages(messageDbPath, namesLoaded ? &names : nullptr, conversations);
  }

  if (progress_.Present()) result = progress_.Report(progress_.progress + progress_.step);
  messages_.clear();
  order_ = {};
  handles_.clear();
  buildOf_.clear();
  lastChat_ = nullptr;
  chats_.clear();
  contacts_.clear();
  messageColumns_.clear();
  carved_.clear();
  carvedDates_.clear();
  handleTexts_.clear();
  sharedNames_.clear();
  senders_.clear();
  return result;
}

}  // namespace bv

#include "records/whatsapp_reader.h"

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
#include "records/readonly_db.h"

namespace bv {

namespace {
const char* Column(int columns, char** values, int index) {
  return index < columns && values != nullptr ? values[index] : nullptr;
}
}  // namespace

int WhatsAppReader::SessionRow(void* context, int columns, char** values, char** /*names*/) {
  auto* reader = static_cast<WhatsAppReader*>(context);
  WhatsAppSessionRecord s;
  s.sessionId = ParseInt32(Column(columns, values, 0));
  s.partnerName = Utf8ToWide(Column(columns, values, 1));
  s.contactJid = Utf8ToWide(Column(columns, values, 2));
  if (s.sessionId != 0) reader->sessions.push_back(std::move(s));
  return 0;
}

int WhatsAppReader::MemberRow(void* context, int columns, char** values, char** /*names*/) {
  auto* reader = static_cast<WhatsAppReader*>(context);
  WhatsAppMemberRecord m;
  m.memberSession = ParseInt32(Column(columns, values, 0));
  m.memberName = Utf8ToWide(Column(columns, values, 1));
  m.memberJid = Utf8ToWide(Column(columns, values, 2));
  if (m.memberSession != 0) reader->members.push_back(std::move(m));
  return 0;
}

int WhatsAppReader::MessageRow(void* context, int columns, char** values, char** /*names*/) {
  auto* reader = static_cast<WhatsAppReader*>(context);
  WhatsAppMessageRecord m;
  m.messageId = ParseInt32(Column(columns, values, 0));
  m.isFromMe = ParseInt32(Column(columns, values, 1));
  m.sessionId = ParseInt32(Column(columns, values, 2));
  if (m.sessionId == 0) return 0;
  m.date = reader->dates_.FromAppleSeconds(Column(columns, values, 3));
  m.pushName = Utf8ToWide(Column(columns, values, 4));
  m.text = Utf8ToWide(Column(columns, values, 5));
  reader->messages.push_back(std::move(m));
  return 0;
}

int WhatsAppReader::MediaRow(void* context, int columns, char** values, char** /*names*/) {
  auto* reader = static_cast<WhatsAppReader*>(context);
  WhatsAppMediaRecord m;
  m.mediaMessage = ParseInt32(Column(columns, values, 0));
  m.mediaTitle = Utf8ToWide(Column(columns, values, 1));
  if (m.mediaMessage != 0) reader->media.push_back(std::move(m));
  return 0;
}

Result WhatsAppReader::Read(const std::string& chatStoragePath, WhatsAppChatMap& chats) {
  struct Step {
    const char* sql;
    SqliteRowCallback row;
  };
  const Step steps[] = {{kWhatsAppSessionStatement, SessionRow},
                        {kWhatsAppMemberStatement, MemberRow},
                        {kWhatsAppMessageStatement, MessageRow},
                        {kWhatsAppMediaStatement, MediaRow}};
  Result result = kSuccess;
  for (const Step& step : steps) {
    ReadOnlyDatabase db;
    const int rc = db.Open(chatStoragePath);
    result = rc;
    if (rc != 0) continue;
    if (db.Exec(step.sql, step.row, this)) result = kQueryFailed;
  }
  Join(chats);
  return result;
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

void WhatsAppReader::Join(WhatsAppChatMap& chats) {
  // Member lists, per session in row order.
  std::unordered_map<std::int32_t, std::vector<const WhatsAppMemberRecord*>> membersOf;
  for (const auto& m : members) membersOf[m.memberSession].push_back(&m);
  IntSlots<const WhatsAppSessionRecord*> sessionById(
      KeysOf(sessions, [](const WhatsAppSessionRecord& s) { return s.sessionId; }));
  for (auto& s : sessions) {
    auto it = membersOf.find(s.sessionId);
    if (it != membersOf.end()) {
      for (const WhatsAppMemberRecord* m : it->second) {
        if (s.memberJids.empty()) {
          s.memberJids = m->memberJid;
          s.memberNames = m->memberName;
        } else {
          s.memberJids += L',';
          s.memberJids += m->memberJid;
          if (!m->memberName.empty()) {
            s.memberNames += L',';
            s.memberNames += m->memberName;
          }
        }
      }
    }
    auto& slot = sessionById[s.sessionId];
    if (slot == nullptr) slot = &s;  // the first session of an id wins
  }

  // Senders of group messages: the first member (of all chats) whose JID holds the
  // push name without its first character.
  std::vector<std::wstring_view> jids;
  jids.reserve(members.size());
  for (const auto& m : members) jids.push_back(m.memberJid);
  FirstContaining memberByJid(jids);

  for (auto& msg : messages) {
    const WhatsAppSessionRecord* found = sessionById[msg.sessionId];
    if (found == nullptr) continue;
    const WhatsAppSessionRecord& s = *found;
    msg.senderName = s.partnerName;
    msg.chatPartner = s.partnerName;
    msg.chatJids = s.memberJids.empty() ? s.contactJid : s.memberJids;
    msg.chatTitle = s.memberNames.empty() ? s.partnerName : s.memberNames;
    // Every message keeps its own text, also the first of a run of rows of a group.
    if (msg.isFromMe != 0) {
      msg.senderName = L"Me";
      msg.pushName.clear();
    } else if (msg.chatJids.find(L',') != std::wstring::npos && !msg.pushName.empty()) {
      const std::ptrdiff_t i = memberByJid.Find(std::wstring_view(msg.pushName).substr(1));
      if (i >= 0) msg.senderName = members[static_cast<std::size_t>(i)].memberName;
    }
  }

  IntSlots<const WhatsAppMediaRecord*> mediaByMessage(
      KeysOf(media, [](const WhatsAppMediaRecord& m) { return m.mediaMessage; }));
  for (const auto& m : media) {
    auto& slot = mediaByMessage[m.mediaMessage];
    if (slot == nullptr) slot = &m;
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    WhatsAppMessageRecord& msg = messages[i];
    if (msg.messageId != 0 && msg.text.empty()) {
      const WhatsAppMediaRecord* item = mediaByMessage[msg.messageId];
      if (item != nullptr) msg.text = item->mediaTitle;
    }
    if (msg.text.empty()) continue;
    if (kept != i) messages[kept] = std::move(msg);
    ++kept;
  }
  messages.resize(kept);

  const auto order = OrderOf(messages, [](const WhatsAppMessageRecord& m) -> const std::wstring& {
    return m.date;
  });
  // Lists of a std::map stay where they are: look each chat up in the tree once.
  IntSlots<std::list<WhatsAppMessageRecord>*> listOf(
      KeysOf(messages, [](const WhatsAppMessageRecord& m) { return m.sessionId; }));
  for (std::uint32_t i : order) {
    WhatsAppMessageRecord& msg = messages[i];
    auto& list = listOf[msg.sessionId];
    if (list == nullptr) list = &chats[msg.sessionId];
    list->push_back(std::move(msg));
  }
  messages.clear();
}

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Text as the Windows runtime's UTF-8 text mode writes it: every line feed as CR LF.
void AppendText(std::string& out, std::wstring_view text) {
  for (char c : WideToUtf8(text)) {
    if (c == '\n') out += '\r';
    out += c;
  }
}

}  // namespace

Result WriteWhatsAppChatText(const WhatsAppChatMap& chats, std::int32_t sessionId,
                             const std::wstring& outputPath, CopyCallback callback, void* user) {
  const std::filesystem::path path = platform::PathFromWide(outputPath);
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
      const std::wstring& sender = m.isFromMe != 0 ? std::wstring(L"Me")
                                   : (m.senderName.empty() || m.senderName == L"Unknown")
                                       ? m.pushName
                                       : m.senderName;
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
        result = callback(user, static_cast<std::int32_t>(written * 100 / total), result, outputPath);
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

// scan BACKUP [--categories LIST] [--password-stdin | --password-file F] [--json]
// Runs the scan exactly as the scan page does and prints every chosen category with
// its count, or one JSON document with the backup, the open result and every record,
// and the WeChat and QQ accounts under "chatApps".
// A category whose source could not be read gets a warning on standard error (and its
// reason in the JSON's "error"), and the exit code 3.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <ostream>

#include "catalogue/discovery.h"
#include "cli/backup_args.h"
#include "cli/chat_json.h"
#include "cli/command.h"
#include "cli/scan_outcome.h"
#include "common/text.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "records/item_texts.h"
#include "scan/scan_session.h"

namespace bv::cli {

namespace {

// JSON pieces.
const char* Bool(bool b) {
  return b ? "true" : "false";
}

void Put(std::ostream& os, const MediaItem& m) {
  os << "{\"size\": " << m.size << ", \"name\": " << JsonString(m.name)
     << ", \"path\": " << JsonString(m.path) << "}";
}
void Put(std::ostream& os, const AttachmentItem& m) {
  os << "{\"reserved\": " << m.reserved << ", \"size\": " << m.size
     << ", \"name\": " << JsonString(m.name) << ", \"path\": " << JsonString(m.path) << "}";
}
void Put(std::ostream& os, const AppMediaItem& m) {
  os << "{\"size\": " << m.size << ", \"app\": " << JsonString(m.app)
     << ", \"name\": " << JsonString(m.name) << ", \"path\": " << JsonString(m.path) << "}";
}
void Put(std::ostream& os, const ContactRecord& r) {
  os << "{\"deleted\": " << r.deleted << ", \"email\": " << JsonString(r.email)
     << ", \"address\": " << JsonString(r.address) << ", \"extra\": " << JsonString(r.extra)
     << ", \"url\": " << JsonString(r.url) << ", \"phone\": " << JsonString(r.phone)
     << ", \"organization\": " << JsonString(r.organization) << ", \"name\": " << JsonString(r.name)
     << "}";
}
void Put(std::ostream& os, const CallRecord& r) {
  os << "{\"deleted\": " << r.deleted << ", \"answered\": " << r.answered
     << ", \"duration\": " << r.duration << ", \"date\": " << JsonString(r.date)
     << ", \"address\": " << JsonString(r.address) << ", \"name\": " << JsonString(r.name) << "}";
}
void Put(std::ostream& os, const NoteRecord& r) {
  os << "{\"deleted\": " << r.deleted << ", \"reserved\": " << r.reserved
     << ", \"date\": " << JsonString(r.date) << ", \"title\": " << JsonString(r.title)
     << ", \"body\": " << JsonString(r.body) << "}";
}
void Put(std::ostream& os, const MessageRecord& r) {
  os << "{\"deleted\": " << r.deleted << ", \"isFromMe\": " << r.isFromMe
     << ", \"rowId\": " << r.rowId << ", \"handleId\": " << r.handleId
     << ", \"date\": " << JsonString(r.date) << ", \"sender\": " << JsonString(r.sender)
     << ", \"name\": " << JsonString(r.name) << ", \"text\": " << JsonString(r.text)
     << ", \"extra\": " << JsonString(r.extra) << "}";
}
void Put(std::ostream& os, const WhatsAppMessageRecord& r) {
  os << "{\"deleted\": " << r.deleted << ", \"isFromMe\": " << r.isFromMe
     << ", \"messageId\": " << r.messageId << ", \"sessionId\": " << r.sessionId
     << ", \"date\": " << JsonString(r.date) << ", \"senderName\": " << JsonString(r.senderName)
     << ", \"text\": " << JsonString(r.text) << ", \"pushName\": " << JsonString(r.pushName)
     << ", \"chatTitle\": " << JsonString(r.chatTitle())
     << ", \"chatJids\": " << JsonString(r.chatJids())
     << ", \"chatPartner\": " << JsonString(r.chatPartner())
     << ", \"extra\": " << JsonString(r.extra) << "}";
}

const char* ZoneKindName(ZoneKind kind) {
  switch (kind) {
    case ZoneKind::kZoned:
      return "zoned";
    case ZoneKind::kFloating:
      return "floating";
    case ZoneKind::kLocal:
      break;
  }
  return "local";
}
// Stored seconds since 2001, or null.
std::string Seconds(bool has, std::int64_t seconds) {
  return has ? std::to_string(seconds) : std::string("null");
}
void Put(std::ostream& os, const ReminderRecord& r) {
  os << "{\"deleted\": " << r.deleted << ", \"completed\": " << r.completed
     << ", \"allDay\": " << r.allDay << ", \"priority\": " << r.priority
     << ", \"rowId\": " << r.rowId << ", \"list\": " << JsonString(r.list)
     << ", \"title\": " << JsonString(r.title) << ", \"notes\": " << JsonString(r.notes)
     << ", \"due\": " << JsonString(r.due) << ", \"timeZone\": " << JsonString(r.timeZone)
     << ", \"zoneKind\": " << JsonString(std::string(ZoneKindName(r.zoneKind)))
     << ", \"dueSeconds\": " << Seconds(r.hasDue, r.dueSeconds)
     << ", \"completionDate\": " << JsonString(r.completionDate)
     << ", \"completionSeconds\": " << Seconds(r.hasCompletion, r.completionSeconds)
     << ", \"uid\": " << JsonString(r.uid) << "}";
}
void Put(std::ostream& os, const CalendarEventRecord& r) {
  os << "{\"deleted\": " << r.deleted << ", \"allDay\": " << r.allDay << ", \"rowId\": " << r.rowId
     << ", \"calendar\": " << JsonString(r.calendar) << ", \"title\": " << JsonString(r.title)
     << ", \"start\": " << JsonString(r.start) << ", \"end\": " << JsonString(r.end)
     << ", \"timeZone\": " << JsonString(r.timeZone)
     << ", \"endTimeZone\": " << JsonString(r.endTimeZone)
     << ", \"zoneKind\": " << JsonString(std::string(ZoneKindName(r.zoneKind)))
     << ", \"startSeconds\": " << Seconds(r.hasStart, r.startSeconds)
     << ", \"endSeconds\": " << Seconds(r.hasEnd, r.endSeconds)
     << ", \"location\": " << JsonString(r.location) << ", \"notes\": " << JsonString(r.notes)
     << ", \"url\": " << JsonString(r.url) << ", \"recurrence\": " << JsonString(r.recurrence)
     << ", \"uid\": " << JsonString(r.uid) << "}";
}
void Put(std::ostream& os, const BookmarkRecord& r) {
  os << "{\"deleted\": " << r.deleted
     << ", \"kind\": " << JsonString(std::string(BookmarkKindText(r.kind))) << ", \"id\": " << r.id
     << ", \"parentId\": " << r.parentId << ", \"title\": " << JsonString(r.title)
     << ", \"url\": " << JsonString(r.url) << ", \"folder\": [";
  for (std::size_t i = 0; i < r.folder.size(); ++i)
    os << (i ? ", " : "") << JsonString(r.folder[i]);
  os << "]}";
}

template <typename List>
void PutArray(std::ostream& os, const List& list, const char* indent) {
  os << "[";
  bool first = true;
  for (const auto& item : list) {
    os << (first ? "\n" : ",\n") << indent;
    Put(os, item);
    first = false;
  }
  os << (first ? "]"
               : "\n" + std::string(indent, std::char_traits<char>::length(indent) - 2) + "]");
}

void PutAppGroups(std::ostream& os, const AppGroups& groups, const char* indent) {
  AppMediaList all;
  for (const auto& [app, list] : groups) all.insert(all.end(), list.begin(), list.end());
  PutArray(os, all, indent);
}

// Conversations and chats in the order the tree lists them, each with its key and
// every message of the store under that key.
void PutConversations(std::ostream& os, const ScanStores& s) {
  os << "[";
  bool first = true;
  for (const MessageRecord& row : s.conversationList) {
    auto it = s.conversations.find(row.handleId);
    // A chat: its id and members; a group has no one handle (0). A conversation of
    // messages in no chat has its handle as its only member.
    const MessageChatInfo* chat = row.chat.get();
    const bool ownKey = chat != nullptr && chat->members.size() != 1;
    os << (first ? "\n" : ",\n") << "      {\"key\": " << row.handleId
       << ", \"handleId\": " << (ownKey ? 0 : row.handleId) << ", \"chatId\": ";
    if (chat != nullptr)
      os << chat->chatId;
    else
      os << "null";
    os << ", \"isGroup\": " << (chat != nullptr && chat->isGroup ? "true" : "false")
       << ", \"label\": " << JsonString(row.name.empty() ? row.sender : row.name)
       << ", \"members\": [";
    if (chat != nullptr) {
      for (std::size_t i = 0; i < chat->members.size(); ++i)
        os << (i != 0 ? ", " : "") << JsonString(chat->members[i]);
    } else if (!row.sender.empty()) {
      os << JsonString(row.sender);
    }
    os << "], \"deleted\": " << row.deleted << ", \"messages\": ";
    if (it != s.conversations.end())
      PutArray(os, it->second, "          ");
    else
      os << "[]";
    os << "}";
    first = false;
  }
  os << (first ? "]" : "\n    ]");
}

void PutChats(std::ostream& os, const ScanStores& s) {
  os << "[";
  bool first = true;
  for (const WhatsAppMessageRecord& row : s.chatList) {
    auto it = s.chats.find(row.sessionId);
    os << (first ? "\n" : ",\n") << "      {\"key\": " << row.sessionId
       << ", \"sessionId\": " << row.sessionId << ", \"deleted\": " << row.deleted
       << ", \"messages\": ";
    if (it != s.chats.end())
      PutArray(os, it->second, "          ");
    else
      os << "[]";
    os << "}";
    first = false;
  }
  os << (first ? "]" : "\n    ]");
}

void PrintJson(std::ostream& os, const BackupRecord& b, const CScanSession& session) {
  const ScanStores& s = session.Stores();
  os << "{\n  \"backup\": {\"encrypted\": " << Bool(b.encrypted)
     << ", \"newerSystem\": " << Bool(b.newerSystem)
     << ", \"lastBackupDate\": " << JsonString(b.lastBackupDate)
     << ", \"phoneNumber\": " << JsonString(b.phoneNumber)
     << ", \"serialNumber\": " << JsonString(b.serialNumber)
     << ", \"folder\": " << JsonString(b.folder)
     << ", \"displayName\": " << JsonString(b.displayName) << "},\n";
  os << "  \"openResult\": " << session.OpenResult() << ",\n";
  os << "  \"categories\": [";
  const char* indent = "      ";
  for (const CategoryInfo& info : Categories()) {
    const Category c = info.category;
    const bool chosen = session.Chosen()[static_cast<int>(c)];
    const std::string problem = session.CategoryProblem(c);
    os << (c == Category::CameraRoll ? "\n" : ",\n") << "    {\"id\": " << CategoryId(c)
       << ", \"name\": " << JsonString(std::string(info.name)) << ", \"chosen\": " << Bool(chosen)
       << ", \"count\": " << session.CategoryCount(c)
       << ", \"error\": " << (problem.empty() ? std::string("null") : JsonString(problem))
       << ",\n    ";
    switch (c) {
      case Category::CameraRoll:
        os << "\"records\": ";
        PutArray(os, s.cameraRoll, indent);
        break;
      case Category::PhotoStream:
        os << "\"records\": ";
        PutArray(os, s.photoStream, indent);
        break;
      case Category::AppPhotos:
        os << "\"records\": ";
        PutAppGroups(os, s.appSplit.photos, indent);
        break;
      case Category::AppVideos:
        os << "\"records\": ";
        PutAppGroups(os, s.appSplit.videos, indent);
        break;
      case Category::Messages:
        os << "\"conversations\": ";
        PutConversations(os, s);
        break;
      case Category::MessageAttachments:
        os << "\"records\": ";
        PutArray(os, s.messageAttachments, indent);
        break;
      case Category::Contacts:
        os << "\"records\": ";
        PutArray(os, s.contacts, indent);
        break;
      case Category::CallHistory:
        os << "\"records\": ";
        PutArray(os, s.calls, indent);
        break;
      case Category::Notes:
        os << "\"records\": ";
        PutArray(os, s.notes, indent);
        break;
      case Category::WhatsApp:
        os << "\"chats\": ";
        PutChats(os, s);
        break;
      case Category::WhatsAppAttachments:
        os << "\"records\": ";
        PutArray(os, s.whatsAppAttachments, indent);
        break;
      case Category::Reminder:
        os << "\"records\": ";
        PutArray(os, s.reminders, indent);
        break;
      case Category::Calendar:
        os << "\"records\": ";
        PutArray(os, s.events, indent);
        break;
      case Category::SafariBookmark:
        os << "\"records\": ";
        PutArray(os, s.bookmarks, indent);
        break;
      case Category::WeChat:
      case Category::QQ:
        break;  // under "chatApps" below
    }
    os << "}";
  }
  os << "\n  ],\n";
  // The chat apps, beside the fourteen categories: per app whether it was read, its
  // message totals and its accounts with their chats and messages.
  os << "  \"chatApps\": {";
  const std::pair<const char*, Category> apps[] = {{"wechat", Category::WeChat},
                                                   {"qq", Category::QQ}};
  for (const auto& [name, c] : apps) {
    const AccountChats& accounts = c == Category::WeChat ? s.weChat : s.qq;
    const ChatCounts counts = CountOf(accounts);
    const std::string problem = session.CategoryProblem(c);
    os << (c == Category::WeChat ? "\n" : ",\n") << "    \"" << name
       << "\": {\"id\": " << CategoryId(c)
       << ", \"chosen\": " << Bool(session.Chosen()[static_cast<int>(c)])
       << ", \"chats\": " << session.CategoryCount(c) << ", \"live\": " << counts.live
       << ", \"deleted\": " << counts.deleted
       << ", \"error\": " << (problem.empty() ? std::string("null") : JsonString(problem))
       << ",\n      ";
    PutChatAccounts(os, accounts, "      ");
    os << "}";
  }
  os << "\n  }\n}\n";
}

void PrintText(std::ostream& os, const BackupRecord& b, const CScanSession& session) {
  os << (b.displayName.empty() ? std::string("(no name)") : b.displayName);
  if (!b.lastBackupDate.empty()) os << "  " << b.lastBackupDate;
  if (b.encrypted) os << "  [encrypted]";
  os << "\n";
  for (const CategoryInfo& info : Categories()) {
    if (!session.Chosen()[static_cast<int>(info.category)]) continue;
    // The tree's node text: its name followed by the count in parentheses.
    std::string text(info.nodeText);
    text = text.substr(0, text.find('('));
    os << "  " << text << "(" << session.CategoryCount(info.category) << ")\n";
  }
  for (Category c : {Category::WeChat, Category::QQ}) {
    if (!session.Chosen()[static_cast<int>(c)]) continue;
    os << "  " << CategoryOf(c).name << " (" << session.CategoryCount(c) << ")\n";
  }
  const StatisticsLabel label = session.Label();
  os << "Total: " << label.items << " item(s), " << label.totalSize << "\n";
}

// Queues what the worker posts: the command's thread prints it.
class CliSink : public IScanEventSink {
 public:
  void Post(const ScanEvent& e) noexcept override {
    if (e.kind == ScanEventKind::Warning) warned_ = true;
  }
  bool Warned() const { return warned_.load(); }

 private:
  std::atomic<bool> warned_{false};
};

class ScanCommand : public Command {
 public:
  std::string Name() const override { return "scan"; }
  std::string Summary() const override {
    return "Scan a backup folder and print each category with its count, or every record as JSON.";
  }
  std::string Usage() const override {
    return "scan BACKUP [--categories LIST] [--password-stdin | --password-file F] [--json]";
  }
  std::vector<ArgumentHelp> Arguments() const override {
    std::vector<ArgumentHelp> a = {
        {"BACKUP", "the folder of one backup (as 'list' prints it)"},
        CategoriesArgument(),
    };
    for (ArgumentHelp& p : PasswordArguments()) a.push_back(std::move(p));
    a.push_back({"--json",
                 "print the backup, the open result and every record as one JSON "
                 "document instead of the counts. Besides \"categories\" (the fourteen), "
                 "\"chatApps\" holds \"wechat\" and \"qq\", each {id, chosen, chats, live, "
                 "deleted, error, accounts: [{account, chats: [{key, live, deleted, "
                 "messages}]}]}; live and deleted count messages, chats counts chats"});
    return a;
  }

  int Run(const std::vector<std::string>& args, Streams io) override {
    BackupArgParser backupArgs;
    std::string categories, error;
    bool json = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (backupArgs.Take(args, i)) continue;
      if (a == "--json") {
        json = true;
      } else if (a == "--categories" && i + 1 < args.size()) {
        categories = args[++i];
      } else {
        return UsageError(io, "unexpected argument '" + a + "'");
      }
    }
    CategorySet chosen = AllCategories();
    if (!categories.empty() && !ParseCategoryList(categories, chosen, error))
      return UsageError(io, error + " (known: " + KnownNames() + ")");
    BackupArgs backup;
    bool usage = false;
    if (!backupArgs.Finish(io.in, backup, error, usage))
      return usage ? UsageError(io, error) : Fail(io, error);
    BackupRecord record;
    if (!ReadBackupRecord(backup, record, error)) return Fail(io, error);

    BackupCatalog catalog;
    InitCatalog(catalog);
    CliSink sink;
    CScanSession session;
    session.SetEventSink(&sink);
    session.SetOpenedPause(std::chrono::milliseconds(0));
    ScanRequest request;
    request.catalog = &catalog;
    request.backup = record;
    request.chosen = chosen;
    request.password = backup.password;
    if (!session.Start(request)) {
      DestroyCatalog(catalog);
      return Fail(io, "cannot read this backup");
    }
    // Ctrl-C and SIGTERM stop the scan as the stop button does.
    WaitForScan(session, &io.err == &std::cerr && ::isatty(STDERR_FILENO));

    int rc = kExitOk;
    bool print = true;
    if (platform::InterruptRequested()) {
      rc = platform::InterruptExitCode();
      if (session.OpenResult() != kSuccess) {
        io.err << "backvault-cli scan: cancelled before the backup was opened\n";
        print = false;
      } else {
        io.err << "backvault-cli scan: cancelled; the counts cover what was read before\n";
      }
    } else if (const std::string failure = OpenFailure(session); !failure.empty()) {
      // Nothing on standard output: there is nothing to show.
      io.err << "backvault-cli scan: " << failure << "\n";
      rc = kExitFailed;
      print = false;
    } else if (session.LastResult() == kStopped || sink.Warned()) {
      io.err << "backvault-cli scan: the scan was stopped; the counts cover what was read\n";
      rc = kExitFailed;
    }
    if (print && PrintCategoryWarnings(session, io.err, "backvault-cli scan: ") > 0 &&
        rc == kExitOk)
      rc = kExitWarnings;
    // The backup as the user named it (not the decrypted copy that was read).
    if (print) {
      if (json)
        PrintJson(io.out, record, session);
      else
        PrintText(io.out, record, session);
    }
    DestroyCatalog(catalog);
    return rc;
  }

 private:
  static std::string KnownNames() {
    std::string names;
    for (int i = 0; i < kCategoryCount; ++i)
      names += (names.empty() ? "" : ", ") + std::string(CategoryCliName(static_cast<Category>(i)));
    return names;
  }
  int UsageError(Streams io, const std::string& what) const {
    io.err << "backvault-cli scan: " << what << "\nUsage: backvault-cli " << Usage() << "\n";
    return kExitUsage;
  }
  static int Fail(Streams io, const std::string& what) {
    io.err << "backvault-cli scan: " << what << "\n";
    return kExitFailed;
  }
};

}  // namespace

BV_REGISTER_COMMAND(ScanCommand)

}  // namespace bv::cli

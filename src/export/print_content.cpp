#include "export/print_content.h"

#include <cstdio>

#include "common/text.h"
#include "export/html_export.h"
#include "export/item_documents.h"
#include "export/out_file.h"
#include "platform/platform.h"
#include "platform/program_files.h"
#include "records/item_texts.h"

namespace bv {

namespace {

bool Cancelled(const std::atomic<bool>* cancel) {
  return cancel && cancel->load();
}

// "<p><span>LABEL:</span>" + text + "</p>\r\n"
void Line(std::string& out, const char* label, std::string_view text, bool message = false) {
  out += "<p><span>";
  out += label;
  out += ":</span>";
  out += message ? HtmlEscapeMessage(text) : HtmlEscape(text);
  out += "</p>\r\n";
}

std::string Who(std::string_view name, std::string_view address) {
  if (!name.empty() && name != "Unknown")
    return std::string(name) + "(" + std::string(address) + ")";
  return std::string(address);
}

template <typename Record>
bool Take(const CStatisticsObj& selection, const Record& r, bool deletedOnly) {
  const std::size_t at = selection.FindEntry(&r);
  if (at == CStatisticsObj::npos || selection.Entries()[at].ticked == 0) return false;
  return !deletedOnly || r.deleted != 0;
}

Result Messages(const ScanStores& s, const CStatisticsObj& sel, bool deletedOnly,
                const std::atomic<bool>* cancel, std::string& out) {
  for (const MessageRecord& conv : s.conversationList) {
    if (Cancelled(cancel)) return kStopped;
    if (!Take(sel, conv, deletedOnly)) continue;
    auto it = s.conversations.find(conv.handleId);
    if (it == s.conversations.end()) continue;
    for (const MessageRecord& m : it->second) {
      if (Cancelled(cancel)) return kStopped;
      out += "<div>\r\n";
      Line(out, m.isFromMe != 0 ? "To" : "From", Who(m.name, m.sender));
      Line(out, "Date", m.date);
      Line(out, "Content", m.text, true);
      out += "</div>\r\n";
    }
  }
  return kSuccess;
}

// One "<div>" card per ticked record of a list, its lines written by `card`.
template <typename List, typename Card>
Result Cards(const List& records, const CStatisticsObj& sel, bool deletedOnly,
             const std::atomic<bool>* cancel, std::string& out, Card card) {
  for (const auto& r : records) {
    if (Cancelled(cancel)) return kStopped;
    if (!Take(sel, r, deletedOnly)) continue;
    out += "<div>\r\n";
    card(r);
    out += "</div>\r\n";
  }
  return kSuccess;
}

Result Contacts(const ScanStores& s, const CStatisticsObj& sel, bool deletedOnly,
                const std::atomic<bool>* cancel, std::string& out) {
  return Cards(s.contacts, sel, deletedOnly, cancel, out, [&out](const ContactRecord& c) {
    Line(out, "Name", c.name);
    // Several numbers, one per line.
    Line(out, "Phone Number", c.phone, true);
    Line(out, "Company", c.organization);
    Line(out, "Email", c.email);
    Line(out, "URL", c.url);
  });
}

Result Calls(const ScanStores& s, const CStatisticsObj& sel, bool deletedOnly,
             const std::atomic<bool>* cancel, std::string& out) {
  return Cards(s.calls, sel, deletedOnly, cancel, out, [&out](const CallRecord& c) {
    Line(out, "Name", c.name);
    Line(out, "Phone Number", c.address);
    Line(out, "Date", c.date);
    Line(out, "Type", CallTypeText(c));
    Line(out, "Duration", CallDurationText(c));
  });
}

Result Notes(const ScanStores& s, const CStatisticsObj& sel, bool deletedOnly,
             const std::atomic<bool>* cancel, std::string& out) {
  return Cards(s.notes, sel, deletedOnly, cancel, out, [&out](const NoteRecord& n) {
    Line(out, "Title", n.title);
    Line(out, "Date", n.date);
    Line(out, "Notes", n.body, true);
  });
}

Result Chats(const ScanStores& s, const CStatisticsObj& sel, bool deletedOnly,
             const std::atomic<bool>* cancel, std::string& out) {
  for (const WhatsAppMessageRecord& chat : s.chatList) {
    if (Cancelled(cancel)) return kStopped;
    if (!Take(sel, chat, deletedOnly)) continue;
    out += "<div>\r\n";
    Line(out, "Chats", chat.chatPartner());
    Line(out, "Name",
         chat.chatTitle().empty() ? chat.senderName.view() : std::string_view(chat.chatTitle()));
    Line(out, "Phone Number", chat.chatJids().empty() ? chat.pushName : chat.chatJids());
    out += "<p><span>Content:</span></p>\r\n";
    auto it = s.chats.find(chat.sessionId);
    if (it != s.chats.end()) {
      for (const WhatsAppMessageRecord& m : it->second) {
        if (Cancelled(cancel)) return kStopped;
        out += "<p>" + HtmlEscape(m.isFromMe != 0 ? std::string_view("Me") : m.senderName.view()) +
               " (" + HtmlEscape(m.date) + "): " + HtmlEscapeMessage(m.text) + "</p>";
      }
    }
    out += "</div>\r\n";
  }
  return kSuccess;
}

// A WeChat or QQ chat: its account and key, then its messages (with the deleted-only
// filter, its deleted ones); a message cut short by later writes ends in "…".
Result ChatApps(const std::list<ChatAppChat>& list, const CStatisticsObj& sel, bool deletedOnly,
                const std::atomic<bool>* cancel, std::string& out) {
  for (const ChatAppChat& chat : list) {
    if (Cancelled(cancel)) return kStopped;
    if (!Take(sel, chat, deletedOnly)) continue;
    out += "<div>\r\n";
    out += "<p><span>Account:</span>" + HtmlEscapeUtf8(chat.account) + "</p>\r\n";
    out += "<p><span>Chats:</span>" + HtmlEscapeUtf8(chat.chat) + "</p>\r\n";
    out += "<p><span>Content:</span></p>\r\n";
    if (chat.messages != nullptr) {
      for (const ChatMessageRecord& m : *chat.messages) {
        if (Cancelled(cancel)) return kStopped;
        if (deletedOnly && m.status == 0) continue;
        out += "<p>" + HtmlEscapeUtf8(m.is_sender != 0 ? std::string("Me") : m.sender) + " (" +
               HtmlEscapeUtf8(m.time) + "): " + HtmlEscapeUtf8(m.text, true) +
               (m.partial ? "\xE2\x80\xA6" : "") + "</p>";
      }
    }
    out += "</div>\r\n";
  }
  return kSuccess;
}

// Reminders, events and bookmarks print as their preview cards: the fields they have.
template <typename List, typename CardOf>
Result FieldCards(const List& records, const CStatisticsObj& sel, bool deletedOnly,
                  const std::atomic<bool>* cancel, std::string& out, CardOf cardOf) {
  return Cards(records, sel, deletedOnly, cancel, out, [&out, &cardOf](const auto& r) {
    for (const CardField& f : cardOf(r))
      out += "<p><span>" + HtmlEscapeUtf8(f.label) + ":</span>" + HtmlEscapeUtf8(f.value, true) +
             "</p>\r\n";
  });
}

}  // namespace

Result BuildPrintContent(const ScanStores& stores, const CStatisticsObj& selection,
                         Category category, bool deletedOnly, const std::atomic<bool>* cancel,
                         std::string& content) {
  std::string built;
  Result r = kSuccess;
  switch (category) {
    case Category::Messages:
      r = Messages(stores, selection, deletedOnly, cancel, built);
      break;
    case Category::Contacts:
      r = Contacts(stores, selection, deletedOnly, cancel, built);
      break;
    case Category::CallHistory:
      r = Calls(stores, selection, deletedOnly, cancel, built);
      break;
    case Category::Notes:
      r = Notes(stores, selection, deletedOnly, cancel, built);
      break;
    case Category::WhatsApp:
      r = Chats(stores, selection, deletedOnly, cancel, built);
      break;
    case Category::Reminder:
      r = FieldCards(stores.reminders, selection, deletedOnly, cancel, built,
                     [](const ReminderRecord& x) { return ReminderCard(x); });
      break;
    case Category::Calendar:
      r = FieldCards(stores.events, selection, deletedOnly, cancel, built,
                     [](const CalendarEventRecord& x) { return EventCard(x); });
      break;
    case Category::SafariBookmark:
      r = FieldCards(stores.bookmarks, selection, deletedOnly, cancel, built,
                     [](const BookmarkRecord& x) { return BookmarkCard(x); });
      break;
    case Category::WeChat:
      r = ChatApps(stores.weChatList, selection, deletedOnly, cancel, built);
      break;
    case Category::QQ:
      r = ChatApps(stores.qqList, selection, deletedOnly, cancel, built);
      break;
    default:
      break;
  }
  if (r != kSuccess) return r;
  content += built;
  return kSuccess;
}

PrintTemplate LoadPrintTemplate(const std::filesystem::path& file) {
  PrintTemplate parts;
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (!in) return parts;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) parts.text.append(buffer, n);
  std::fclose(in);
  constexpr std::string_view kContent = "{|content|}";
  const std::size_t at = parts.text.find(kContent);
  if (at == std::string::npos) {
    parts.head = parts.text;  // no place for content: the page is the template
                              // then the content
  } else {
    parts.head = parts.text.substr(0, at);
    parts.tail = parts.text.substr(at + kContent.size());
  }
  return parts;
}

std::filesystem::path DefaultPrintTemplate() {
  return platform::DataFolder() / "template" / "Print.html";
}

std::filesystem::path DefaultPrintPage() {
  // Not beside the executable: an installed program's folder is not writable by its user.
  const std::filesystem::path work = platform::WorkFolder();
  return (work.empty() ? platform::ExecutableFolder() : work) / "Print" / "page";
}

Result WritePrintPage(const PrintTemplate& parts, const std::string& content,
                      const std::filesystem::path& page) {
  OutFile file;
  if (int error = file.Open(page); error != 0) return error;
  file.Write(parts.head);
  file.Write(content);
  file.Write(parts.tail);
  return file.Close();
}

}  // namespace bv

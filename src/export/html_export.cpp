#include "export/html_export.h"

#include <cerrno>
#include <cstdio>

#include "common/text.h"
#include "platform/platform.h"
#include "platform/program_files.h"

namespace bv {

namespace {

constexpr std::string_view kContent = "{|content|}";
constexpr std::string_view kTitle = "{|title|}";
constexpr std::string_view kPerson = "{|person|}";

void ReplaceAllBytes(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

void AppendEscaped(std::string& out, std::string_view text, bool breaks) {
  out.reserve(out.size() + text.size() + 8);
  std::size_t done = 0;  // text before `done` is in `out`
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string_view with;
    switch (c) {
      case '&':
        with = "&amp;";
        break;
      case '<':
        with = "&lt;";
        break;
      case '>':
        with = "&gt;";
        break;
      case '"':
        with = "&quot;";
        break;
      case '\'':
        with = "&#39;";
        break;
      case '\r':
        if (!breaks) continue;
        out.append(text.substr(done, i - done));
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += "<br>";
        done = i + 1;
        continue;
      case '\n':
        if (!breaks) continue;
        with = "<br>";
        break;
      default:
        continue;
    }
    out.append(text.substr(done, i - done));
    out.append(with);
    done = i + 1;
  }
  out.append(text.substr(done));
}

std::string Td(std::string_view text) {
  std::string cell = "<td>";
  AppendEscaped(cell, text, false);
  cell += "</td>";
  return cell;
}

template <typename Record, typename BlockFn>
Result WriteConversation(TemplateParts& parts, PendingFile& file, const std::list<Record>* messages,
                         CopyCallback report, void* user, BlockFn block) {
  parts.rows.clear();
  const std::int64_t n = messages ? static_cast<std::int64_t>(messages->size()) : 0;
  if (messages) {
    const std::string path = platform::Utf8FromPath(file.FinalPath());
    std::int64_t i = 0;
    for (const Record& message : *messages) {
      parts.rows += block(message);
      // The last message's report (100) is the caller's, once the file is whole under
      // its name.
      if (++i == n) break;
      const std::int32_t answer =
          report ? report(user, static_cast<std::int32_t>(i * 100 / n), 0, path) : 0;
      // Stopped: a document cut short is not written at all.
      if (answer != 0) return answer;
    }
  }
  file.Write(parts.personHead);
  file.Write(parts.rows);
  return file.Write(parts.tail);
}

}  // namespace

const char* TemplateFileName(TemplateKind kind) {
  switch (kind) {
    case TemplateKind::CallHistory:
      return "CallHistory.html";
    case TemplateKind::Notes:
      return "Notes.html";
    case TemplateKind::Contacts:
      return "contacts.html";
    case TemplateKind::Messages:
      return "Sms.html";
    case TemplateKind::WhatsApp:
      return "WhatsApp.html";
    case TemplateKind::Reminders:
      return "Reminders.html";
    case TemplateKind::Calendar:
      return "Calendar.html";
    case TemplateKind::Bookmarks:
      return "SafariBookmarks.html";
  }
  return "";
}

const char* TemplateTitlePrefix(TemplateKind kind) {
  switch (kind) {
    case TemplateKind::CallHistory:
      return "iPhone's Call History of ";
    case TemplateKind::Notes:
      return "iPhone's Notes of ";
    case TemplateKind::Contacts:
      return "iPhone's Contacts of ";
    case TemplateKind::Messages:
      return "iPhone's Messages of ";
    case TemplateKind::WhatsApp:
      return "iPhone's WhatsApp Messages of ";
    case TemplateKind::Reminders:
      return "iPhone's Reminders of ";
    case TemplateKind::Calendar:
      return "iPhone's Calendar of ";
    case TemplateKind::Bookmarks:
      return "iPhone's Safari Bookmarks of ";
  }
  return "";
}

fs::path DefaultTemplateFolder() {
  return platform::DataFolder() / "template";
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  AppendEscaped(out, text, false);
  return out;
}

std::string HtmlEscapeMessage(std::string_view text) {
  std::string out;
  AppendEscaped(out, text, true);
  return out;
}

Result LoadTemplate(TemplateParts& parts, const fs::path& file, const std::string& title) {
  errno = 0;
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (!in) return errno != 0 ? errno : kInvalidParameter;
  if (parts.text.empty()) {
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) parts.text.append(buffer, n);
    if (std::ferror(in)) {
      // A template read in part would give documents without their end.
      const int error = errno != 0 ? errno : EIO;
      std::fclose(in);
      parts.text.clear();
      return error;
    }
  }
  std::fclose(in);
  const std::size_t at = parts.text.find(kContent);
  if (at == std::string::npos) return kInvalidParameter;
  parts.head = parts.text.substr(0, at);
  parts.tail = parts.text.substr(at + kContent.size());
  ReplaceAllBytes(parts.head, kTitle, HtmlEscape(title));
  parts.personHead = parts.head;
  parts.rows.clear();
  return kSuccess;
}

void FillPerson(TemplateParts& parts, const std::string& personLine) {
  parts.personHead = parts.head;
  ReplaceAllBytes(parts.personHead, kPerson, HtmlEscape(personLine));
}

std::string MessagePersonLine(const MessageRecord& conversation) {
  return "Name: " + conversation.name + ", Phone: " + conversation.sender;
}

std::string WhatsAppPersonLine(const WhatsAppMessageRecord& chat) {
  return "Name: " + chat.chatTitle() + ", Phone: " + chat.chatJids();
}

std::string MessageBlock(const MessageRecord& m) {
  std::string out = "<div class=\"date\">Date: " + HtmlEscape(m.date) + " ";
  if (m.isFromMe != 0) {
    out += "Me:</div>\r\n";
    out += m.deleted != 0 ? "<div class=\"del_send_msg\">" : "<div class=\"send_msg\">";
  } else {
    const std::string_view who =
        (m.name.empty() || m.name == "Unknown") ? std::string_view(m.sender) : m.name.view();
    out += HtmlEscape(who) + ":</div>\r\n";
    out += m.deleted != 0 ? "<div class=\"del_recv_msg\">" : "<div class=\"recv_msg\">";
  }
  out += HtmlEscapeMessage(m.text) + "</div>\r\n";
  return out;
}

std::string WhatsAppBlock(const WhatsAppMessageRecord& m) {
  std::string out = "<div class=\"date\">Date: " + HtmlEscape(m.date) + " ";
  if (m.isFromMe != 0) {
    out += "Me:</div>\r\n";
    out += m.deleted != 0 ? "<div class=\"del_send_msg\">" : "<div class=\"send_msg\">";
  } else {
    const std::string_view who = (m.senderName.empty() || m.senderName == "Unknown")
                                     ? std::string_view(m.pushName)
                                     : m.senderName.view();
    out += HtmlEscape(who) + ":</div>\r\n";
    out += m.deleted != 0 ? "<div class=\"del_recv_msg\">" : "<div class=\"recv_msg\">";
  }
  out += HtmlEscapeMessage(m.text) + "</div>\r\n";
  return out;
}

std::string CallTypeText(const CallRecord& call) {
  return call.answered != 0 ? "Incoming" : "Outgoing";
}

std::string CallDurationText(const CallRecord& call) {
  if (call.duration != 0) return FormatDuration(call.duration);
  return call.answered != 0 ? "Missed" : "Canceled";
}

std::string ContactRow(const ContactRecord& c) {
  std::string phone = "<td>";
  // Escape each line, then join with the line break the cell shows.
  std::string_view rest = c.phone;
  for (;;) {
    std::size_t nl = rest.find('\n');
    AppendEscaped(phone, rest.substr(0, nl), false);
    if (nl == std::string_view::npos) break;
    phone += "<br />";
    rest.remove_prefix(nl + 1);
  }
  phone += "</td>";
  return "\t<tr>" + Td(c.name) + phone + Td(c.email) + Td(c.address) + Td(c.url) + Td(c.extra) +
         Td(c.organization) + "</tr>\r\n";
}

std::string CallRow(const CallRecord& call) {
  // A deleted call in the template's deleted colours (the rule lives on the row, so
  // that documents without deleted calls stay as they were).
  const char* row = call.deleted != 0
                        ? "\t<tr class=\"deleted\" style=\"color: var(--deleted); background: "
                          "var(--deleted-bg)\">"
                        : "\t<tr>";
  return row + Td(call.name) + Td(call.address) + Td(call.date) + Td(CallTypeText(call)) +
         Td(CallDurationText(call)) + "</tr>\r\n";
}

std::string NoteRow(const NoteRecord& note) {
  return "\t<tr>" + Td(note.title) + Td(note.date) + Td(note.body) + "</tr>\r\n";
}

Result WriteMessageDocument(TemplateParts& parts, PendingFile& file,
                            const std::list<MessageRecord>* messages, CopyCallback report,
                            void* user) {
  return WriteConversation(parts, file, messages, report, user,
                           [](const MessageRecord& m) { return MessageBlock(m); });
}

Result WriteWhatsAppDocument(TemplateParts& parts, PendingFile& file,
                             const std::list<WhatsAppMessageRecord>* messages, CopyCallback report,
                             void* user) {
  return WriteConversation(parts, file, messages, report, user,
                           [](const WhatsAppMessageRecord& m) { return WhatsAppBlock(m); });
}

Result WriteCollectedDocument(const TemplateParts& parts, PendingFile& file) {
  file.Write(parts.head);
  file.Write(parts.rows);
  return file.Write(parts.tail);
}

}  // namespace bv

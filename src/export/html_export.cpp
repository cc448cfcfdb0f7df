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

void AppendEscaped(std::string& out, std::wstring_view text, bool breaks) {
  std::wstring piece;
  piece.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    switch (c) {
      case L'&':
        piece += L"&amp;";
        break;
      case L'<':
        piece += L"&lt;";
        break;
      case L'>':
        piece += L"&gt;";
        break;
      case L'"':
        piece += L"&quot;";
        break;
      case L'\'':
        piece += L"&#39;";
        break;
      case L'\r':
        if (breaks) {
          if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
          piece += L"<br>";
        } else {
          piece += c;
        }
        break;
      case L'\n':
        piece += breaks ? L"<br>" : L"\n";
        break;
      default:
        piece += c;
    }
  }
  out += WideToUtf8(piece);
}

std::string Td(std::wstring_view text) {
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
    const std::wstring path = platform::WideFromPath(file.FinalPath());
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
  }
  return "";
}

const wchar_t* TemplateTitlePrefix(TemplateKind kind) {
  switch (kind) {
    case TemplateKind::CallHistory:
      return L"iPhone's Call History of ";
    case TemplateKind::Notes:
      return L"iPhone's Notes of ";
    case TemplateKind::Contacts:
      return L"iPhone's Contacts of ";
    case TemplateKind::Messages:
      return L"iPhone's Messages of ";
    case TemplateKind::WhatsApp:
      return L"iPhone's WhatsApp Messages of ";
  }
  return L"";
}

fs::path DefaultTemplateFolder() {
  return platform::DataFolder() / "template";
}

std::string HtmlEscape(std::wstring_view text) {
  std::string out;
  AppendEscaped(out, text, false);
  return out;
}

std::string HtmlEscapeMessage(std::wstring_view text) {
  std::string out;
  AppendEscaped(out, text, true);
  return out;
}

Result LoadTemplate(TemplateParts& parts, const fs::path& file, const std::wstring& title) {
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

void FillPerson(TemplateParts& parts, const std::wstring& personLine) {
  parts.personHead = parts.head;
  ReplaceAllBytes(parts.personHead, kPerson, HtmlEscape(personLine));
}

std::wstring MessagePersonLine(const MessageRecord& conversation) {
  return L"Name: " + conversation.name + L", Phone: " + conversation.sender;
}

std::wstring WhatsAppPersonLine(const WhatsAppMessageRecord& chat) {
  return L"Name: " + chat.chatTitle + L", Phone: " + chat.chatJids;
}

std::string MessageBlock(const MessageRecord& m) {
  std::string out = "<div class=\"date\">Date: " + HtmlEscape(m.date) + " ";
  if (m.isFromMe != 0) {
    out += "Me:</div>\r\n";
    out += m.deleted != 0 ? "<div class=\"del_send_msg\">" : "<div class=\"send_msg\">";
  } else {
    const std::wstring& who = (m.name.empty() || m.name == L"Unknown") ? m.sender : m.name;
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
    const std::wstring& who =
        (m.senderName.empty() || m.senderName == L"Unknown") ? m.pushName : m.senderName;
    out += HtmlEscape(who) + ":</div>\r\n";
    out += m.deleted != 0 ? "<div class=\"del_recv_msg\">" : "<div class=\"recv_msg\">";
  }
  out += HtmlEscapeMessage(m.text) + "</div>\r\n";
  return out;
}

std::wstring CallTypeText(const CallRecord& call) {
  return call.answered != 0 ? L"Incoming" : L"Outgoing";
}

std::wstring CallDurationText(const CallRecord& call) {
  if (call.duration != 0) return FormatDuration(call.duration);
  return call.answered != 0 ? L"Missed" : L"Canceled";
}

std::string ContactRow(const ContactRecord& c) {
  std::string phone = "<td>";
  // Escape each line, then join with the line break the cell shows.
  std::wstring_view rest = c.phone;
  for (;;) {
    std::size_t nl = rest.find(L'\n');
    AppendEscaped(phone, rest.substr(0, nl), false);
    if (nl == std::wstring_view::npos) break;
    phone += "<br />";
    rest.remove_prefix(nl + 1);
  }
  phone += "</td>";
  return "\t<tr>" + Td(c.name) + phone + Td(c.email) + Td(c.address) + Td(c.url) + Td(c.extra) +
         Td(c.organization) + "</tr>\r\n";
}

std::string CallRow(const CallRecord& call) {
  return "\t<tr>" + Td(call.name) + Td(call.address) + Td(call.date) + Td(CallTypeText(call)) +
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

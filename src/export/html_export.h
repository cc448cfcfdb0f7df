#pragma once
// HTML documents of the recovery job: the five templates, their title and
// person lines, and every fragment that goes between their head and tail. Every
// text taken from a record is HTML-escaped before it enters a document. Not
// thread-safe per TemplateParts: one recovery worker fills them.
#include <cstdint>
#include <filesystem>
#include <list>
#include <string>
#include <string_view>

#include "catalogue/types.h"
#include "common/result_codes.h"
#include "records/record_types.h"

namespace bv {

namespace fs = std::filesystem;

enum class TemplateKind { CallHistory, Notes, Contacts, Messages, WhatsApp };
inline constexpr int kTemplateCount = 5;

// "CallHistory.html", "Notes.html", "contacts.html", "Sms.html",
// "WhatsApp.html".
const char* TemplateFileName(TemplateKind kind);
// "iPhone's Call History of " and the others; each ends with a space.
const wchar_t* TemplateTitlePrefix(TemplateKind kind);
// The folder of the templates beside the executable.
fs::path DefaultTemplateFolder();

// One template, split at its first "{|content|}", with the rows built by the
// job.
struct TemplateParts {
  std::string text;        // the whole file as read
  std::string head;        // before the first "{|content|}", title filled in
  std::string personHead;  // head with "{|person|}" filled in (conversations)
  std::string rows;
  std::string tail;  // after the first "{|content|}"
};

// Text for HTML: & < > " ' become entities; the result is UTF-8.
std::string HtmlEscape(std::wstring_view text);
// As HtmlEscape, and every line break (CR LF, LF or CR) becomes "<br>".
std::string HtmlEscapeMessage(std::wstring_view text);

// Reads `file` into parts.text (when empty), splits it and fills the title
// (prefix + device name, escaped) into every "{|title|}" of the head. Returns
// 0, the platform's error code of a failed open, or 87 for a file without
// "{|content|}".
Result LoadTemplate(TemplateParts& parts, const fs::path& file, const std::wstring& title);
// personHead = head with every "{|person|}" replaced by the escaped person
// line.
void FillPerson(TemplateParts& parts, const std::wstring& personLine);
// "Name: " + name + ", Phone: " + sender / chatTitle + chatJids.
std::wstring MessagePersonLine(const MessageRecord& conversation);
std::wstring WhatsAppPersonLine(const WhatsAppMessageRecord& chat);

// One message's date line and bubble.
std::string MessageBlock(const MessageRecord& message);
std::string WhatsAppBlock(const WhatsAppMessageRecord& message);

// "Incoming"/"Outgoing" and the duration text ("Missed"/"Canceled" for 0
// seconds).
std::wstring CallTypeText(const CallRecord& call);
std::wstring CallDurationText(const CallRecord& call);

// Table rows of the collected documents.
std::string ContactRow(const ContactRecord& contact);
std::string CallRow(const CallRecord& call);
std::string NoteRow(const NoteRecord& note);

// Writes one conversation (messages may be null: no messages). Opens the file
// first; a failed open is reported (100, error, path) and returned. Reports
// i*100/n after each message; a non-zero answer stops adding blocks, the
// document is still written with the blocks so far, a final report (100,
// answer) is made and the answer returned.
Result WriteMessageDocument(TemplateParts& parts, const std::wstring& destination,
                            const std::list<MessageRecord>* messages, CopyCallback report,
                            void* user);
Result WriteWhatsAppDocument(TemplateParts& parts, const std::wstring& destination,
                             const std::list<WhatsAppMessageRecord>* messages, CopyCallback report,
                             void* user);

// head + rows + tail, replacing the file; its folder is created. 0 or the error
// code.
Result WriteCollectedDocument(const TemplateParts& parts, const std::wstring& destination);

}  // namespace bv

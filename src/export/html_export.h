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
#include "export/output_folder.h"
#include "records/record_types.h"

namespace bv {

namespace fs = std::filesystem;

// The first five are the described documents; the last three, of the categories
// that were never filled, are ours.
enum class TemplateKind {
  CallHistory,
  Notes,
  Contacts,
  Messages,
  WhatsApp,
  Reminders,
  Calendar,
  Bookmarks
};
inline constexpr int kTemplateCount = 8;

// "CallHistory.html", "Notes.html", "contacts.html", "Sms.html",
// "WhatsApp.html", "Reminders.html", "Calendar.html", "SafariBookmarks.html".
const char* TemplateFileName(TemplateKind kind);
// "iPhone's Call History of " and the others; each ends with a space.
const char* TemplateTitlePrefix(TemplateKind kind);
// The folder of the templates among the program's data files (platform::DataFolder).
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
std::string HtmlEscape(std::string_view text);
// As HtmlEscape, and every line break (CR LF, LF or CR) becomes "<br>".
std::string HtmlEscapeMessage(std::string_view text);

// Reads `file` into parts.text (when empty), splits it and fills the title
// (prefix + device name, escaped) into every "{|title|}" of the head. Returns
// 0, the platform's error code of a failed open, or 87 for a file without
// "{|content|}".
Result LoadTemplate(TemplateParts& parts, const fs::path& file, const std::string& title);
// personHead = head with every "{|person|}" replaced by the escaped person
// line.
void FillPerson(TemplateParts& parts, const std::string& personLine);
// "Name: " + name + ", Phone: " + sender / chatTitle + chatJids.
std::string MessagePersonLine(const MessageRecord& conversation);
std::string WhatsAppPersonLine(const WhatsAppMessageRecord& chat);

// One message's date line and bubble.
std::string MessageBlock(const MessageRecord& message);
std::string WhatsAppBlock(const WhatsAppMessageRecord& message);

// "Incoming"/"Outgoing" and the duration text ("Missed"/"Canceled" for 0
// seconds).
std::string CallTypeText(const CallRecord& call);
std::string CallDurationText(const CallRecord& call);

// Table rows of the collected documents.
std::string ContactRow(const ContactRecord& contact);
std::string CallRow(const CallRecord& call);
std::string NoteRow(const NoteRecord& note);

// Writes one conversation (messages may be null: no messages) into `file`, which the
// caller commits. Reports i*100/n with the file's path after each message but the last;
// the outcome (100) is the caller's to report once the file has its name. A non-zero
// answer stops the writing and is returned: nothing is written then, and the caller
// discards the file. Otherwise 0 or the first write error.
Result WriteMessageDocument(TemplateParts& parts, PendingFile& file,
                            const std::list<MessageRecord>* messages, CopyCallback report,
                            void* user);
Result WriteWhatsAppDocument(TemplateParts& parts, PendingFile& file,
                             const std::list<WhatsAppMessageRecord>* messages, CopyCallback report,
                             void* user);

// head + rows + tail into `file`. 0 or the first write error.
Result WriteCollectedDocument(const TemplateParts& parts, PendingFile& file);

}  // namespace bv

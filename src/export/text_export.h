#pragma once
// Text and CSV outputs of the recovery job: the conversation text files, the
// WhatsApp CSV and the contacts CSV. Files are UTF-8 with a byte-order mark and
// CR LF line ends on every platform, so they equal what the Windows runtime's
// UTF-8 text mode writes. CSV values that hold a comma, quote or line break are
// quoted with doubled quotes. Thread-safe (no state).
#include <list>
#include <string>
#include <string_view>

#include "common/result_codes.h"
#include "export/output_folder.h"
#include "records/record_types.h"

namespace bv {

// The contacts CSV header, 17 columns each followed by a comma.
extern const char kContactsCsvHeader[];

// The bytes of a text file: byte-order mark, UTF-8, every "\n" written as CR
// LF.
std::string TextFileBytes(std::string_view text);
// Writes TextFileBytes(text) into `file`, which the caller commits. 0 or the first
// write error.
Result WriteTextFile(PendingFile& file, std::string_view text);

// One CSV value: as it is, or quoted with its quotes doubled when it holds a
// comma, quote, CR or LF.
std::string CsvField(std::string_view value);

// The text of one conversation: per message "To"/"From", "Data" and "Content"
// lines.
std::string MessageText(const std::list<MessageRecord>* messages);
std::string WhatsAppText(const std::list<WhatsAppMessageRecord>* messages);
// The CSV of one WhatsApp chat with its header.
std::string WhatsAppCsv(const std::list<WhatsAppMessageRecord>* messages);

Result WriteMessageTextFile(PendingFile& file, const std::list<MessageRecord>* messages);
Result WriteWhatsAppTextFile(PendingFile& file, const std::list<WhatsAppMessageRecord>* messages);
Result WriteWhatsAppCsvFile(PendingFile& file, const std::list<WhatsAppMessageRecord>* messages);

// Appends the contact's line to `csv`: name, four (or more) phone columns, four
// (or more) e-mail columns, address, URL, social, company, " " under
// department, and three empty.
void AppendContactCsvLine(std::string& csv, const ContactRecord& contact);

}  // namespace bv

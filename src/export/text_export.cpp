#include "export/text_export.h"

#include "common/text.h"

namespace bv {

const char kContactsCsvHeader[] =
    "Name,PhoneOne,PhoneTwo,PhoneThree,PhoneFour,EmailOne,EmailTwo,EmailThree,"
    "EmailFour,"
    "Address,Url,Social,Company,Department,Job Title,Birthday,Note,\n";

namespace {

// "%10s: %s\n"
void AppendLine(std::string& out, std::string_view label, std::string_view value) {
  if (label.size() < 10) out.append(10 - label.size(), ' ');
  out += label;
  out += ": ";
  out += value;
  out += '\n';
}

std::string Who(std::string_view name, std::string_view address) {
  if (!name.empty() && name != "Unknown")
    return std::string(name) + "(" + std::string(address) + ")";
  return std::string(address);
}

// Phone or e-mail columns: one value per line of `text`, padded to four
// columns.
void AppendSpread(std::string& out, std::string_view text) {
  int columns = 0;
  if (!text.empty()) {
    for (;;) {
      std::size_t nl = text.find('\n');
      out += CsvField(text.substr(0, nl));
      out += ',';
      ++columns;
      if (nl == std::string_view::npos) break;
      text.remove_prefix(nl + 1);
    }
  }
  for (; columns < 4; ++columns) out += ',';
}

}  // namespace

std::string TextFileBytes(std::string_view text) {
  std::string crlf;
  crlf.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return "\xEF\xBB\xBF" + crlf;
}

Result WriteTextFile(PendingFile& file, std::string_view text) {
  return file.Write(TextFileBytes(text));
}

std::string CsvField(std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(value);
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string MessageText(const std::list<MessageRecord>* messages) {
  std::string out;
  if (!messages) return out;
  for (const MessageRecord& m : *messages) {
    AppendLine(out, m.isFromMe != 0 ? "To" : "From", Who(m.name, m.sender));
    AppendLine(out, "Data", m.date);
    AppendLine(out, "Content", m.text);
    out += '\n';
  }
  return out;
}

std::string WhatsAppText(const std::list<WhatsAppMessageRecord>* messages) {
  std::string out;
  if (!messages) return out;
  for (const WhatsAppMessageRecord& m : *messages) {
    AppendLine(out, m.isFromMe != 0 ? "To" : "From", Who(m.senderName, m.pushName));
    AppendLine(out, "Data", m.date);
    AppendLine(out, "Content", m.text);
    out += '\n';
  }
  return out;
}

std::string WhatsAppCsv(const std::list<WhatsAppMessageRecord>* messages) {
  std::string out = "Chats,Name/Phone,Date,Type,Content\n";
  if (!messages) return out;
  for (const WhatsAppMessageRecord& m : *messages) {
    out += CsvField(m.senderName) + ',' + CsvField(m.pushName) + ',' + CsvField(m.date) + ',' +
           (m.isFromMe != 0 ? "Send" : "Received") + ',' + CsvField(m.text) + '\n';
  }
  return out;
}

Result WriteMessageTextFile(PendingFile& file, const std::list<MessageRecord>* messages) {
  return WriteTextFile(file, MessageText(messages));
}

Result WriteWhatsAppTextFile(PendingFile& file, const std::list<WhatsAppMessageRecord>* messages) {
  return WriteTextFile(file, WhatsAppText(messages));
}

Result WriteWhatsAppCsvFile(PendingFile& file, const std::list<WhatsAppMessageRecord>* messages) {
  return WriteTextFile(file, WhatsAppCsv(messages));
}

void AppendContactCsvLine(std::string& csv, const ContactRecord& c) {
  csv += CsvField(c.name) + ',';
  AppendSpread(csv, c.phone);
  AppendSpread(csv, c.email);
  csv += CsvField(c.address) + ',' + CsvField(c.url) + ',' + CsvField(c.extra) + ',' +
         CsvField(c.organization) + ',';
  csv += " ,,,,\n";
}

}  // namespace bv

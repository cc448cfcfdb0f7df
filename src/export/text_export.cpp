#include "export/text_export.h"

#include "common/text.h"

namespace bv {

const wchar_t kContactsCsvHeader[] =
    L"Name,PhoneOne,PhoneTwo,PhoneThree,PhoneFour,EmailOne,EmailTwo,EmailThree,"
    L"EmailFour,"
    L"Address,Url,Social,Company,Department,Job Title,Birthday,Note,\n";

namespace {

// "%10s: %s\n"
void AppendLine(std::wstring& out, std::wstring_view label, std::wstring_view value) {
  if (label.size() < 10) out.append(10 - label.size(), L' ');
  out += label;
  out += L": ";
  out += value;
  out += L'\n';
}

std::wstring Who(const std::wstring& name, const std::wstring& address) {
  if (!name.empty() && name != L"Unknown") return name + L"(" + address + L")";
  return address;
}

// Phone or e-mail columns: one value per line of `text`, padded to four
// columns.
void AppendSpread(std::wstring& out, std::wstring_view text) {
  int columns = 0;
  if (!text.empty()) {
    for (;;) {
      std::size_t nl = text.find(L'\n');
      out += CsvField(text.substr(0, nl));
      out += L',';
      ++columns;
      if (nl == std::wstring_view::npos) break;
      text.remove_prefix(nl + 1);
    }
  }
  for (; columns < 4; ++columns) out += L',';
}

}  // namespace

std::string TextFileBytes(std::wstring_view text) {
  std::wstring crlf;
  crlf.reserve(text.size() + text.size() / 16);
  for (wchar_t c : text) {
    if (c == L'\n') crlf += L'\r';
    crlf += c;
  }
  return "\xEF\xBB\xBF" + WideToUtf8(crlf);
}

Result WriteTextFile(PendingFile& file, std::wstring_view text) {
  return file.Write(TextFileBytes(text));
}

std::wstring CsvField(std::wstring_view value) {
  if (value.find_first_of(L",\"\r\n") == std::wstring_view::npos) return std::wstring(value);
  std::wstring out = L"\"";
  for (wchar_t c : value) {
    if (c == L'"') out += L'"';
    out += c;
  }
  out += L'"';
  return out;
}

std::wstring MessageText(const std::list<MessageRecord>* messages) {
  std::wstring out;
  if (!messages) return out;
  for (const MessageRecord& m : *messages) {
    AppendLine(out, m.isFromMe != 0 ? L"To" : L"From", Who(m.name, m.sender));
    AppendLine(out, L"Data", m.date);
    AppendLine(out, L"Content", m.text);
    out += L'\n';
  }
  return out;
}

std::wstring WhatsAppText(const std::list<WhatsAppMessageRecord>* messages) {
  std::wstring out;
  if (!messages) return out;
  for (const WhatsAppMessageRecord& m : *messages) {
    AppendLine(out, m.isFromMe != 0 ? L"To" : L"From", Who(m.senderName, m.pushName));
    AppendLine(out, L"Data", m.date);
    AppendLine(out, L"Content", m.text);
    out += L'\n';
  }
  return out;
}

std::wstring WhatsAppCsv(const std::list<WhatsAppMessageRecord>* messages) {
  std::wstring out = L"Chats,Name/Phone,Date,Type,Content\n";
  if (!messages) return out;
  for (const WhatsAppMessageRecord& m : *messages) {
    out += CsvField(m.senderName) + L',' + CsvField(m.pushName) + L',' + CsvField(m.date) + L',' +
           (m.isFromMe != 0 ? L"Send" : L"Received") + L',' + CsvField(m.text) + L'\n';
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

void AppendContactCsvLine(std::wstring& csv, const ContactRecord& c) {
  csv += CsvField(c.name) + L',';
  AppendSpread(csv, c.phone);
  AppendSpread(csv, c.email);
  csv += CsvField(c.address) + L',' + CsvField(c.url) + L',' + CsvField(c.extra) + L',' +
         CsvField(c.organization) + L',';
  csv += L" ,,,,\n";
}

}  // namespace bv

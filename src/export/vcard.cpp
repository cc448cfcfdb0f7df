#include "export/vcard.h"

#include <string_view>
#include <vector>

#include "export/icalendar.h"
#include "records/contact_reader.h"

namespace bv {

namespace {

// Parts of `text` split at any of `separators`, without blanks at either end; empty
// parts are left out.
std::vector<std::string_view> Parts(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> parts;
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t to = text.find_first_of(separators, from);
    if (to == std::string_view::npos) to = text.size();
    std::string_view part = text.substr(from, to - from);
    while (!part.empty() && (part.front() == ' ' || part.front() == '\t')) part.remove_prefix(1);
    while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) part.remove_suffix(1);
    if (!part.empty()) parts.push_back(part);
    from = to + 1;
  }
  return parts;
}

// A URI value is not escaped; nothing in it may break the line.
std::string UriValue(std::string_view uri) {
  std::string out;
  for (char c : uri)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
  return out;
}

}  // namespace

std::string VCardOf(const ContactRecord& c) {
  std::string out;
  auto put = [&out](std::string_view line) { out += IcsFoldLine(line); };
  // The values one by one where the address book has them, else the search texts split.
  auto values = [](const std::vector<std::string>& own, std::string_view text,
                   std::string_view separators) {
    std::vector<std::string_view> out;
    for (const std::string& v : own) {
      const std::vector<std::string_view> lines = Parts(v, "\r\n");
      out.insert(out.end(), lines.begin(), lines.end());
    }
    return own.empty() ? Parts(text, separators) : out;
  };
  const std::vector<std::string_view> phones = values(c.phones, c.phone, "\r\n");
  const std::vector<std::string_view> emails = values(c.emails, c.email, " \t\r\n");
  const std::vector<std::string_view> urls = values(c.urls, c.url, " \t\r\n");
  // FN may not be empty: a person without any name goes by a number or address rather
  // than by the list's "No Name".
  std::string shown = c.name == "No Name" ? std::string() : c.name;
  if (shown.empty()) shown = PersonName(c.first, c.last, c.organization);
  if (shown.empty() && !phones.empty()) shown = phones.front();
  if (shown.empty() && !emails.empty()) shown = emails.front();
  if (shown.empty()) shown = "No Name";

  put("BEGIN:VCARD");
  put("VERSION:3.0");
  put("N:" + IcsEscapeText(c.last) + ";" + IcsEscapeText(c.first) + ";;;");
  put("FN:" + IcsEscapeText(shown));
  if (!c.organization.empty()) put("ORG:" + IcsEscapeText(c.organization));
  for (std::string_view phone : phones) put("TEL:" + IcsEscapeText(phone));
  for (std::string_view email : emails) put("EMAIL;TYPE=INTERNET:" + IcsEscapeText(email));
  for (std::string_view url : urls) put("URL:" + UriValue(url));
  if (!c.address.empty()) put("ADR:;;" + IcsEscapeText(c.address) + ";;;;");
  if (!c.extra.empty()) put("NOTE:" + IcsEscapeText(c.extra));
  put("END:VCARD");
  return out;
}

}  // namespace bv

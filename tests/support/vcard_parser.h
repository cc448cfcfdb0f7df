#pragma once
// A strict reader of vCard 3.0 files (RFC 2425 / RFC 2426) for the tests, written from
// the RFCs and the habits of strict importers: every line ends with CR LF and is at
// most 75 octets; a fold is CR LF followed by one blank; no physical line cuts a UTF-8
// sequence; each card is BEGIN:VCARD, VERSION:3.0 right after it, exactly one N (five
// components) and one FN (not empty), END:VCARD; property names are letters, digits
// and dashes; text values allow only the escapes \\ \; \, \n \N and no bare comma or
// semicolon where they are not separators. Anything else throws std::runtime_error.
#include <cctype>
#include <cstddef>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bv::test {

struct VCardProperty {
  std::string name;                           // upper case
  std::map<std::string, std::string> params;  // upper-case names
  std::vector<std::string> components;        // the value, unescaped, split at bare ";"
};

struct VCard {
  std::vector<VCardProperty> properties;  // in file order, BEGIN/VERSION/END left out
  std::vector<const VCardProperty*> All(const std::string& name) const {
    std::vector<const VCardProperty*> all;
    for (const VCardProperty& p : properties)
      if (p.name == name) all.push_back(&p);
    return all;
  }
  // The single text value of a property that occurs once (throws otherwise).
  const std::string& One(const std::string& name) const {
    const auto all = All(name);
    if (all.size() != 1) throw std::runtime_error("expected one " + name);
    if (all[0]->components.size() != 1) throw std::runtime_error(name + " is structured");
    return all[0]->components[0];
  }
};

namespace vcard_detail {

inline void Fail(const std::string& why, std::size_t line) {
  throw std::runtime_error("vCard line " + std::to_string(line) + ": " + why);
}

inline bool ValidUtf8Line(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

// Splits a value at unescaped `separator`s and unescapes each part. `structured`
// names the separators that are allowed bare.
inline std::vector<std::string> Components(std::string_view value, bool structured,
                                           std::size_t line) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\') {
      if (i + 1 >= value.size()) Fail("a lone backslash at the end", line);
      const char e = value[++i];
      if (e == '\\' || e == ';' || e == ',')
        parts.back() += e;
      else if (e == 'n' || e == 'N')
        parts.back() += '\n';
      else
        Fail(std::string("unknown escape \\") + e, line);
    } else if (c == ';') {
      if (!structured) Fail("a bare ';' in a text value", line);
      parts.emplace_back();
    } else if (c == ',') {
      Fail("a bare ',' in a text value", line);
    } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
      Fail("a control character in a value", line);
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

}  // namespace vcard_detail

inline std::vector<VCard> ParseVCards(const std::string& file) {
  using vcard_detail::Fail;
  // Physical lines, each checked, then unfolded into logical lines.
  std::vector<std::pair<std::string, std::size_t>> logical;
  std::size_t at = 0, number = 0;
  while (at < file.size()) {
    ++number;
    const std::size_t end = file.find("\r\n", at);
    if (end == std::string::npos) Fail("no CR LF at the end", number);
    const std::string_view physical(file.data() + at, end - at);
    if (physical.find('\n') != std::string_view::npos ||
        physical.find('\r') != std::string_view::npos)
      Fail("a bare CR or LF", number);
    if (physical.size() > 75) Fail("longer than 75 octets", number);
    if (!vcard_detail::ValidUtf8Line(physical)) Fail("a UTF-8 sequence cut or invalid", number);
    if (!physical.empty() && (physical[0] == ' ' || physical[0] == '\t')) {
      if (logical.empty()) Fail("a continuation without a line", number);
      if (physical.size() == 1) Fail("an empty continuation", number);
      logical.back().first.append(physical.substr(1));
    } else {
      if (physical.empty()) Fail("an empty line", number);
      logical.emplace_back(std::string(physical), number);
    }
    at = end + 2;
  }

  std::vector<VCard> cards;
  bool open = false;
  bool wantVersion = false;
  for (const auto& [text, line] : logical) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) Fail("no name and ':'", line);
    std::string head = text.substr(0, colon);
    const std::string value = text.substr(colon + 1);
    VCardProperty p;
    std::size_t semi = head.find(';');
    p.name = head.substr(0, semi);
    for (char& ch : p.name) {
      if (!(std::isalnum(static_cast<unsigned char>(ch)) || ch == '-')) Fail("bad name", line);
      ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    while (semi != std::string::npos) {
      const std::size_t next = head.find(';', semi + 1);
      const std::string param = head.substr(semi + 1, next - semi - 1);
      const std::size_t eq = param.find('=');
      if (eq == std::string::npos || eq == 0 || eq + 1 == param.size()) Fail("bad parameter", line);
      std::string key = param.substr(0, eq);
      for (char& ch : key) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      p.params[key] = param.substr(eq + 1);
      semi = next;
    }
    if (p.name == "BEGIN") {
      if (open || value != "VCARD") Fail("BEGIN inside a card or not VCARD", line);
      open = true;
      wantVersion = true;
      cards.emplace_back();
      continue;
    }
    if (!open) Fail("a property outside a card", line);
    if (wantVersion) {
      if (p.name != "VERSION" || value != "3.0") Fail("VERSION:3.0 does not follow BEGIN", line);
      wantVersion = false;
      continue;
    }
    if (p.name == "END") {
      if (value != "VCARD") Fail("END of something else", line);
      const VCard& card = cards.back();
      if (card.All("N").size() != 1 || card.All("FN").size() != 1)
        Fail("a card needs one N and one FN", line);
      if (card.All("N")[0]->components.size() != 5) Fail("N needs five components", line);
      if (card.One("FN").empty()) Fail("an empty FN", line);
      open = false;
      continue;
    }
    if (p.name == "VERSION") Fail("a second VERSION", line);
    if (p.name == "URL") {
      // A URI: taken as it stands.
      for (char ch : value)
        if (static_cast<unsigned char>(ch) < 0x20) Fail("a control character in a URL", line);
      p.components = {value};
    } else {
      const bool structured = p.name == "N" || p.name == "ADR" || p.name == "ORG";
      p.components = vcard_detail::Components(value, structured, line);
      if (p.name == "ADR" && p.components.size() != 7) Fail("ADR needs seven components", line);
    }
    cards.back().properties.push_back(std::move(p));
  }
  if (open) Fail("a card without END", number);
  return cards;
}

}  // namespace bv::test

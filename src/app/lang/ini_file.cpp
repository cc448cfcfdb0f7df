#include "app/lang/ini_file.h"

#include <fstream>
#include <iterator>

#include "common/text.h"

namespace bv::lang {

namespace {

std::string Trim(const std::string& s) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t b = 0, e = s.size();
  while (b < e && isSpace(s[b])) ++b;
  while (e > b && isSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

bool IsHeader(const std::string& t, std::string* name) {
  if (t.size() < 2 || t.front() != '[') return false;
  const size_t close = t.find(']');
  if (close == std::string::npos) return false;
  *name = Trim(t.substr(1, close - 1));
  return true;
}

bool IsUtf16(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

// UTF-8 text (valid: it came through DecodeIniBytes or the program) as UTF-16LE with
// its byte-order mark.
std::string EncodeUtf16(const std::string& text) {
  std::string out = "\xFF\xFE";
  auto put = [&out](unsigned v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
  };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    unsigned c = n == 1 ? lead : n == 2 ? (lead & 0x1F) : n == 3 ? (lead & 0x0F) : (lead & 0x07);
    for (std::size_t k = 1; k < n && i + k < text.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += n;
    if (c >= 0x10000 && c <= 0x10FFFF) {
      const unsigned v = c - 0x10000;
      put(0xD800 + (v >> 10));
      put(0xDC00 + (v & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

}  // namespace

std::string DecodeIniBytes(const std::string& bytes) {
  if (IsUtf16(bytes)) {
    // A trailing odd byte is dropped; an unpaired surrogate becomes U+FFFD.
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return Utf8FromUtf16(units);
  }
  std::string_view view(bytes);
  if (view.size() >= 3 && view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
  return ValidUtf8(view);
}

std::vector<IniSection> ParseIni(const std::string& text) {
  std::vector<IniSection> sections;
  IniSection* cur = nullptr;
  for (const std::string& raw : SplitLines(text)) {
    const std::string t = Trim(raw);
    if (t.empty() || t.front() == ';') continue;
    std::string name;
    if (IsHeader(t, &name)) {
      sections.push_back(IniSection{name, {}});
      cur = &sections.back();
      continue;
    }
    if (!cur) continue;
    const size_t eq = t.find('=');
    if (eq == std::string::npos)
      cur->lines.emplace_back(t, std::string());
    else
      cur->lines.emplace_back(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
  }
  return sections;
}

bool ReadIniFile(const std::filesystem::path& path, std::vector<IniSection>* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  *out = ParseIni(DecodeIniBytes(bytes));
  return true;
}

bool WriteIniValue(const std::filesystem::path& path, const std::string& section,
                   const std::string& key, const std::string& value) {
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    if (in) bytes.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  const bool utf16 = IsUtf16(bytes);
  const bool hadBom = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  std::string text = DecodeIniBytes(bytes);
  const std::string eol = text.find("\r\n") != std::string::npos || text.empty() ? "\r\n" : "\n";
  std::vector<std::string> lines = SplitLines(text);
  for (auto& l : lines)
    if (!l.empty() && l.back() == '\r') l.pop_back();

  const std::string newLine = key + "=" + value;
  int secStart = -1, secEnd = static_cast<int>(lines.size());
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    std::string name;
    if (!IsHeader(Trim(lines[static_cast<size_t>(i)]), &name)) continue;
    if (secStart >= 0) {
      secEnd = i;
      break;
    }
    if (name == section) secStart = i;
  }
  bool done = false;
  if (secStart >= 0) {
    int lastContent = secStart;
    for (int i = secStart + 1; i < secEnd; ++i) {
      const std::string t = Trim(lines[static_cast<size_t>(i)]);
      if (t.empty() || t.front() == ';') continue;
      lastContent = i;
      const size_t eq = t.find('=');
      const std::string k = Trim(eq == std::string::npos ? t : t.substr(0, eq));
      if (k == key) {
        lines[static_cast<size_t>(i)] = newLine;
        done = true;
        break;
      }
    }
    if (!done) lines.insert(lines.begin() + lastContent + 1, newLine);
  } else {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + section + "]");
    lines.push_back(newLine);
  }
  std::string outText;
  for (const auto& l : lines) outText += l + eol;
  std::string outBytes = utf16 ? EncodeUtf16(outText) : (hadBom ? "\xEF\xBB\xBF" : "") + outText;
  // Write beside and rename, so a failed write never leaves half a settings file.
  std::filesystem::path tmp = path;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(outBytes.data(), static_cast<std::streamsize>(outBytes.size()));
    if (!out) return false;
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    return false;
  }
  return true;
}

}  // namespace bv::lang

#include "app/lang/ini_file.h"

#include <fstream>
#include <iterator>

#include "common/text.h"

namespace bv::lang {

namespace {

std::wstring Trim(const std::wstring& s) {
  const auto isSpace = [](wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
  };
  size_t b = 0, e = s.size();
  while (b < e && isSpace(s[b])) ++b;
  while (e > b && isSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::wstring cur;
  for (wchar_t c : text) {
    if (c == L'\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

bool IsHeader(const std::wstring& t, std::wstring* name) {
  if (t.size() < 2 || t.front() != L'[') return false;
  const size_t close = t.find(L']');
  if (close == std::wstring::npos) return false;
  *name = Trim(t.substr(1, close - 1));
  return true;
}

bool IsUtf16(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

std::string EncodeUtf16(const std::wstring& text) {
  std::string out = "\xFF\xFE";
  for (wchar_t wc : text) {
    auto put = [&out](unsigned v) {
      out.push_back(static_cast<char>(v & 0xFF));
      out.push_back(static_cast<char>((v >> 8) & 0xFF));
    };
    const unsigned c = static_cast<unsigned>(wc);
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

std::wstring DecodeIniBytes(const std::string& bytes) {
  if (IsUtf16(bytes)) {
    std::wstring out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      unsigned v =
          static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
      if (v >= 0xD800 && v < 0xDC00 && i + 3 < bytes.size()) {
        const unsigned lo = static_cast<unsigned char>(bytes[i + 2]) |
                            (static_cast<unsigned char>(bytes[i + 3]) << 8);
        if (lo >= 0xDC00 && lo < 0xE000) {
          v = 0x10000 + ((v - 0xD800) << 10) + (lo - 0xDC00);
          i += 2;
        } else {
          v = 0xFFFD;
        }
      } else if (v >= 0xD800 && v < 0xE000) {
        v = 0xFFFD;
      }
      out.push_back(static_cast<wchar_t>(v));
    }
    return out;
  }
  std::string_view view(bytes);
  if (view.size() >= 3 && view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
  return Utf8ToWide(view);
}

std::vector<IniSection> ParseIni(const std::wstring& text) {
  std::vector<IniSection> sections;
  IniSection* cur = nullptr;
  for (const std::wstring& raw : SplitLines(text)) {
    const std::wstring t = Trim(raw);
    if (t.empty() || t.front() == L';') continue;
    std::wstring name;
    if (IsHeader(t, &name)) {
      sections.push_back(IniSection{name, {}});
      cur = &sections.back();
      continue;
    }
    if (!cur) continue;
    const size_t eq = t.find(L'=');
    if (eq == std::wstring::npos)
      cur->lines.emplace_back(t, std::wstring());
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

bool WriteIniValue(const std::filesystem::path& path, const std::wstring& section,
                   const std::wstring& key, const std::wstring& value) {
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    if (in) bytes.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  const bool utf16 = IsUtf16(bytes);
  const bool hadBom = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  std::wstring text = DecodeIniBytes(bytes);
  const std::wstring eol =
      text.find(L"\r\n") != std::wstring::npos || text.empty() ? L"\r\n" : L"\n";
  std::vector<std::wstring> lines = SplitLines(text);
  for (auto& l : lines)
    if (!l.empty() && l.back() == L'\r') l.pop_back();

  const std::wstring newLine = key + L"=" + value;
  int secStart = -1, secEnd = static_cast<int>(lines.size());
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    std::wstring name;
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
      const std::wstring t = Trim(lines[static_cast<size_t>(i)]);
      if (t.empty() || t.front() == L';') continue;
      lastContent = i;
      const size_t eq = t.find(L'=');
      const std::wstring k = Trim(eq == std::wstring::npos ? t : t.substr(0, eq));
      if (k == key) {
        lines[static_cast<size_t>(i)] = newLine;
        done = true;
        break;
      }
    }
    if (!done) lines.insert(lines.begin() + lastContent + 1, newLine);
  } else {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back(L"[" + section + L"]");
    lines.push_back(newLine);
  }
  std::wstring outText;
  for (const auto& l : lines) outText += l + eol;
  std::string outBytes =
      utf16 ? EncodeUtf16(outText) : (hadBom ? "\xEF\xBB\xBF" : "") + WideToUtf8(outText);
  // Write beside and rename, so a failed write never leaves half a settings file.
  const std::filesystem::path tmp = path.string() + ".tmp";
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

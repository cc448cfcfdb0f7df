#include "catalogue/plist_values.h"

#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/platform.h"

namespace bv {

namespace {

// Binary property lists count dates in seconds from 2001-01-01 00:00:00 UTC.
constexpr std::int64_t kAppleEpoch = 978307200;

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The characters XML allows; a reference to anything else is malformed.
bool IsXmlChar(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

int DigitValue(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The reference starting at text[at] ("&..."): its length and the text it stands for;
// 0 when malformed.
std::size_t Reference(std::string_view text, std::size_t at, std::string& decoded) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  const std::string_view rest = text.substr(at);
  for (const auto& [name, c] : kNamed)
    if (rest.starts_with(name)) {
      decoded.assign(1, c);
      return name.size();
    }
  if (!rest.starts_with("&#")) return 0;
  std::size_t i = 2;
  int base = 10;
  if (i < rest.size() && rest[i] == 'x') {
    base = 16;
    ++i;
  }
  const std::size_t firstDigit = i;
  std::uint32_t cp = 0;
  for (; i < rest.size(); ++i) {
    const int d = DigitValue(rest[i], base);
    if (d < 0) break;
    cp = cp * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);
    if (cp > 0x10FFFF) return 0;  // also keeps the sum from wrapping
  }
  if (i == firstDigit || i >= rest.size() || rest[i] != ';' || !IsXmlChar(cp)) return 0;
  decoded.clear();
  AppendUtf8(decoded, cp);
  return i + 1;
}

struct PlistFree {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

PlistPtr Parse(std::string_view bytes, bool binaryOnly) {
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) return nullptr;
  plist_t root = nullptr;
  const auto size = static_cast<std::uint32_t>(bytes.size());
  if (binaryOnly)
    plist_from_bin(bytes.data(), size, &root);
  else
    plist_from_memory(bytes.data(), size, &root);
  PlistPtr owned(root);
  if (!owned || plist_get_node_type(root) != PLIST_DICT) return nullptr;
  return owned;
}

std::optional<std::string> StringValue(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  char* value = nullptr;
  plist_get_string_val(node, &value);
  if (!value) return std::nullopt;
  std::string out(value);
  std::free(value);
  return out;
}

}  // namespace

std::string DecodeXmlReferences(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::string decoded;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '&') {
      if (const std::size_t n = Reference(text, i, decoded); n != 0) {
        out += decoded;
        i += n;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

bool IsBinaryPlist(std::string_view bytes) {
  return bytes.starts_with("bplist00");
}

bool ReadBinaryInfoPlist(std::string_view bytes, InfoPlistValues& values) {
  values = InfoPlistValues{};
  if (!IsBinaryPlist(bytes)) return false;
  PlistPtr root = Parse(bytes, true);
  if (!root) return false;
  plist_t dict = root.get();
  values.displayName = StringValue(dict, "Display Name");
  values.phoneNumber = StringValue(dict, "Phone Number");
  values.productVersion = StringValue(dict, "Product Version");
  values.serialNumber = StringValue(dict, "Serial Number");
  if (plist_t date = plist_dict_get_item(dict, "Last Backup Date")) {
    if (plist_get_node_type(date) == PLIST_DATE) {
      std::int32_t sec = 0, usec = 0;
      plist_get_date_val(date, &sec, &usec);
      // Whole seconds, as the text form has them (fractions are dropped, towards the
      // earlier second).
      std::int64_t t = kAppleEpoch + sec;
      if (usec < 0) --t;
      std::string text;
      if (platform::FormatUtcTime(t, text)) values.lastBackupDate = text;
    } else if (auto text = StringValue(dict, "Last Backup Date")) {
      // A date written as text: the same steps as the text reader's.
      std::string v = *text;
      if (std::size_t p = v.find('T'); p != std::string::npos) v[p] = ' ';
      if (std::size_t z = v.find('Z'); z != std::string::npos) v.resize(z);
      values.lastBackupDate = v;
    }
  }
  return true;
}

std::optional<bool> ReadManifestEncryptedFlag(std::string_view bytes) {
  PlistPtr root = Parse(bytes, false);
  if (!root) return std::nullopt;
  plist_t flag = plist_dict_get_item(root.get(), "IsEncrypted");
  if (!flag || plist_get_node_type(flag) != PLIST_BOOLEAN) return std::nullopt;
  std::uint8_t value = 0;
  plist_get_bool_val(flag, &value);
  return value != 0;
}

}  // namespace bv

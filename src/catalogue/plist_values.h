#pragma once
// The values of a backup's property lists that discovery needs, beside the line
// reader of text Info.plist files:
// - XML character references in the values a text Info.plist gives ("Tom &amp; Ann"),
// - Info.plist written as a binary property list ("bplist00") by newer desktop
//   software, read with libplist,
// - Manifest.plist's IsEncrypted flag (binary or XML).
// Every input is untrusted bytes: a damaged list gives no values, never a crash.
#include <optional>
#include <string>
#include <string_view>

namespace bv {

// Decodes the five predefined entities (&amp; &lt; &gt; &quot; &apos;) and numeric
// character references (&#38; &#x26;) in one pass. A malformed reference (no ";", an
// unknown name, no digits, a number that is no XML character) stays as it stands.
std::string DecodeXmlReferences(std::string_view text);

// True when the bytes are a binary property list ("bplist00" at the start).
bool IsBinaryPlist(std::string_view bytes);

// The device facts of an Info.plist, as text. Absent keys (or values of another type)
// stay empty.
struct InfoPlistValues {
  std::optional<std::string> displayName;
  // "YYYY-MM-DD HH:MM:SS" in UTC (what the text reader has before its conversion to
  // local time).
  std::optional<std::string> lastBackupDate;
  std::optional<std::string> phoneNumber;
  std::optional<std::string> productVersion;
  std::optional<std::string> serialNumber;
};

// Reads the device facts of a binary Info.plist. False when the bytes are not a
// binary property list with a dictionary at its root.
bool ReadBinaryInfoPlist(std::string_view bytes, InfoPlistValues& values);

// Manifest.plist's IsEncrypted (binary or XML property list); nothing when the list
// cannot be read or holds no such flag.
std::optional<bool> ReadManifestEncryptedFlag(std::string_view bytes);

}  // namespace bv

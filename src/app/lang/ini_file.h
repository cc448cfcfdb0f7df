#pragma once
// Reading and updating INI files the way the program's settings and language files are
// written: "[Section]" headers, "key=text" lines split at the first "=", a line without
// "=" being a key with an empty text. UTF-8 (with or without byte-order mark) or UTF-16LE
// with its mark. Blank lines and lines starting with ";" are skipped. Keys and section
// names compare exactly. UI-thread only (no shared state).
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace bv::lang {

struct IniSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> lines;  // in file order, duplicates kept
};

// Parses INI text (already decoded). Lines before the first header belong to no section
// and are dropped.
std::vector<IniSection> ParseIni(const std::string& text);

// Decodes file bytes: UTF-16LE with mark, else UTF-8 (mark dropped, bad bytes replaced).
std::string DecodeIniBytes(const std::string& bytes);

// Reads and parses a file; false when it cannot be read.
bool ReadIniFile(const std::filesystem::path& path, std::vector<IniSection>* out);

// Sets `key` in `section` to `value`, touching nothing else of the file: an existing
// line is replaced in place, a missing key is added at the end of its section, a
// missing section is appended. The file keeps its encoding. False when the file
// cannot be written.
bool WriteIniValue(const std::filesystem::path& path, const std::string& section,
                   const std::string& key, const std::string& value);

}  // namespace bv::lang

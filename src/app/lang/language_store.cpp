#include "app/lang/language_store.h"

#include <QString>

#include "app/lang/ini_file.h"
#include "app/qt_text.h"
#include "platform/platform.h"
#include "platform/program_files.h"
#include "ui/skin_window.h"

namespace bv::lang {

namespace {
std::filesystem::path P(const std::string& w) {
  return platform::PathFromUtf8(w);
}
}  // namespace

namespace {
CLanguageStore* g_override = nullptr;

// Beside the executable (a build, or a program folder of its own) config.ini is the
// program's to rewrite. An install keeps it with the shared data files, read-only for the
// user, so the user's choice lives in the work folder and wins over the shipped default.
std::string UserSettingsFile(const std::filesystem::path& dataFolder) {
  if (dataFolder == platform::ExecutableFolder()) return {};
  const std::filesystem::path work = platform::WorkFolder();
  if (work.empty()) return {};
  return platform::Utf8FromPath(work / "config.ini");
}

// The first "Default" line under "DefaultLanguage", as the profile reader finds it;
// false when the file or the value is missing or empty.
bool ReadDefaultLanguage(const std::string& path, std::string& name) {
  std::vector<IniSection> cfg;
  if (!ReadIniFile(P(path), &cfg)) return false;
  for (const auto& s : cfg) {
    if (s.name != "DefaultLanguage") continue;
    for (const auto& [k, v] : s.lines)
      if (k == "Default") {
        if (v.empty()) return false;
        name = v;
        return true;
      }
  }
  return false;
}
}  // namespace

CLanguageStore& CLanguageStore::instance() {
  if (g_override) return *g_override;
  static CLanguageStore store(platform::Utf8FromPath(platform::DataFolder()),
                              UserSettingsFile(platform::DataFolder()));
  return store;
}

void CLanguageStore::SetInstance(CLanguageStore* store) {
  g_override = store;
}

CLanguageStore::CLanguageStore(const std::string& exeFolder, const std::string& userSettings) {
  Load(exeFolder, userSettings);
}

void CLanguageStore::Load(const std::string& exeFolder, const std::string& userSettings) {
  std::string folder = exeFolder;
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  config_path = folder + "config.ini";
  settings_path = userSettings.empty() ? config_path : userSettings;
  languages_dir = folder + "Languages/";
  ReadCurrentLanguage();
  language_list.clear();
  std::vector<IniSection> cfg;
  if (ReadIniFile(P(config_path), &cfg)) {
    for (const auto& s : cfg)
      if (s.name == "Languages")
        for (const auto& [k, v] : s.lines) language_list.emplace_back(k, v);
  }
  LoadTable();
}

void CLanguageStore::ReadCurrentLanguage() {
  // The user's choice, else the shipped default; an empty value counts as none.
  if (settings_path != config_path && ReadDefaultLanguage(settings_path, current_language)) return;
  if (!ReadDefaultLanguage(config_path, current_language)) current_language = "English";
}

void CLanguageStore::LoadTable() {
  table.clear();
  // The language name becomes part of a path: a name with separators or ".." is refused.
  if (current_language.find_first_of("/\\") != std::string::npos || current_language == ".." ||
      current_language == ".")
    return;
  std::vector<IniSection> sections;
  if (!ReadIniFile(P(languages_dir + current_language + ".ini"), &sections)) return;
  for (const auto& s : sections) {
    TextSection& target = table[s.name];
    for (const auto& [k, v] : s.lines)
      target[k] = v;  // a later duplicate replaces the earlier text
  }
}

TextSection& CLanguageStore::section(const std::string& name) {
  return table[name];
}

std::string CLanguageStore::text(TextSection& sectionMap, const std::string& key) {
  return sectionMap[key];
}

bool CLanguageStore::set_language(const std::string& name) {
  if (settings_path != config_path) {
    std::error_code ec;
    std::filesystem::create_directories(P(settings_path).parent_path(), ec);
  }
  if (!WriteIniValue(P(settings_path), "DefaultLanguage", "Default", name)) return false;
  ReadCurrentLanguage();
  LoadTable();
  return true;
}

void CLanguageStore::apply(ui::CSkinWindow* window, const std::string& sectionName) {
  if (!window) return;
  apply(window->GetRoot(), sectionName);
}

void CLanguageStore::apply(ui::CControlUI* root, const std::string& sectionName) {
  if (!root) return;
  const TextSection& sec = section(sectionName);
  for (const auto& [key, value] : sec) {
    ui::CControlUI* c = ui::FindControl(root, ToQ(key));
    if (!c) continue;
    const bool disabled = !c->IsEnabled();
    if (disabled) c->SetEnabled(true);
    c->SetText(ToQ(value));
    if (disabled) c->SetEnabled(false);
    c->NeedParentUpdate();
  }
}

std::string FormatMessageArgs(const std::string& pattern, const std::vector<MsgArg>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 >= pattern.size()) {
      out.push_back(c);
      continue;
    }
    // Skip flags and width ("%-5d", "%02d"); only s, d, i, u and %% are filled.
    size_t j = i + 1;
    while (j < pattern.size() && (pattern[j] == '-' || pattern[j] == '0' || pattern[j] == '.' ||
                                  (pattern[j] >= '1' && pattern[j] <= '9') || pattern[j] == 'l'))
      ++j;
    if (j >= pattern.size()) {
      out.append(pattern, i, std::string::npos);
      break;
    }
    const char conv = pattern[j];
    if (conv == '%') {
      out.push_back('%');
    } else if (conv == 's' || conv == 'S' || conv == 'd' || conv == 'i' || conv == 'u') {
      if (next < args.size()) {
        const MsgArg& a = args[next];
        if (a.isText)
          out += a.text;
        else
          out += std::to_string(a.number);
      }
      ++next;
    } else {
      out.append(pattern, i, j - i + 1);
    }
    i = j;
  }
  return out;
}

}  // namespace bv::lang

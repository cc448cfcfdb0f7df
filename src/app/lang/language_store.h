#pragma once
// The language store: the settings file, the list of languages, the loaded table of
// texts, and the relabelling of a window's controls. One process-wide store, created on
// first use. UI-thread only; workers receive texts already looked up.
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bv::ui {
class CSkinWindow;
class CControlUI;
}  // namespace bv::ui

namespace bv::lang {

using TextSection = std::map<std::string, std::string>;

class CLanguageStore {
 public:
  // The store over the program's data files (platform::DataFolder), loaded on the first call.
  static CLanguageStore& instance();
  // Makes instance() answer with `store` (nullptr goes back to the one over the data
  // files). For tests that point windows at their own language files.
  static void SetInstance(CLanguageStore* store);

  // A store over another folder (which must end in a separator or be a plain folder
  // path); loads at once. Tests and tools use this. `userSettings`, when given, is the
  // file that keeps the user's choice of language instead of config.ini: an installed
  // config.ini is shared by every user and not theirs to rewrite.
  explicit CLanguageStore(const std::string& exeFolder, const std::string& userSettings = {});

  // The key->text map of a section; a section the file lacks is created empty.
  TextSection& section(const std::string& name);
  // The text for a key; a missing key yields "" (and is inserted with an empty text).
  static std::string text(TextSection& sectionMap, const std::string& key);
  const std::string& language_name() const { return current_language; }
  const std::vector<std::pair<std::string, std::string>>& languages() const {
    return language_list;
  }
  // Writes `name` as the default language into the settings file (config.ini, or the
  // user's settings file), reads it back and reloads the table. False when the file could
  // not be written (nothing changes then).
  bool set_language(const std::string& name);
  // Relabels every control of `window` named by a key of the section.
  void apply(ui::CSkinWindow* window, const std::string& sectionName);
  // The same for the controls below `root` only (a pane that shares its window with
  // others, so that its section cannot relabel a namesake elsewhere in the window).
  void apply(ui::CControlUI* root, const std::string& sectionName);

  const std::string& ConfigPath() const { return config_path; }
  // The file that keeps the chosen language: ConfigPath(), or the user's settings file.
  const std::string& SettingsPath() const { return settings_path; }
  const std::string& LanguagesDir() const { return languages_dir; }

 private:
  void Load(const std::string& exeFolder, const std::string& userSettings);
  void ReadCurrentLanguage();
  void LoadTable();

  std::string config_path;
  std::string settings_path;
  std::string languages_dir;
  std::string current_language;
  std::vector<std::pair<std::string, std::string>> language_list;
  std::map<std::string, TextSection> table;
};

// Texts with printf-style place holders ("%s", "%d", "%%") filled in order from typed
// values; a missing value leaves its place holder empty, surplus values are ignored.
// Never reads past the values given (the message texts are data files).
struct MsgArg {
  MsgArg(const std::string& s) : text(s), isText(true) {}
  MsgArg(const char* s) : text(s), isText(true) {}
  MsgArg(long long n) : number(n) {}
  MsgArg(int n) : number(n) {}
  MsgArg(unsigned n) : number(n) {}
  std::string text;
  long long number = 0;
  bool isText = false;
};
std::string FormatMessageArgs(const std::string& pattern, const std::vector<MsgArg>& args);

}  // namespace bv::lang

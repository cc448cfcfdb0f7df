#include "cli/docs.h"

#include <cctype>
#include <ostream>

#include "common/version.h"
#include "platform/program_files.h"

namespace bv::cli {

namespace {

bool IsPlaceholder(const std::string& word) {
  if (word.empty()) return false;
  for (char c : word)
    if (!std::isupper(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

// The words of a Usage text without its brackets and bars.
std::vector<std::string> UsageWords(const std::string& usage) {
  std::vector<std::string> words;
  std::string word;
  for (char c : usage) {
    if (c == ' ' || c == '[' || c == ']' || c == '|') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// Usage in man(7) fonts: the command and options bold, placeholders italic. An
// argument's name ("--root DIR", "BACKUP") has no command word.
std::string RoffUsage(const std::string& usage, bool startsWithCommand = true) {
  std::string out;
  std::string word;
  bool first = startsWithCommand;
  auto flush = [&] {
    if (word.empty()) return;
    if (first || word.rfind("--", 0) == 0)
      out += "\\fB" + RoffEscape(word) + "\\fR";
    else if (IsPlaceholder(word))
      out += "\\fI" + RoffEscape(word) + "\\fR";
    else
      out += RoffEscape(word);
    first = false;
    word.clear();
  };
  for (char c : usage) {
    if (c == ' ' || c == '[' || c == ']' || c == '|') {
      flush();
      out += c;
    } else {
      word += c;
    }
  }
  flush();
  return out;
}

// What a placeholder stands for, for completion.
enum class ValueKind { None, Folder, File, Categories };

ValueKind KindOf(const std::string& option, const std::string& metavar) {
  if (option == "--categories") return ValueKind::Categories;
  if (metavar == "BACKUP" || metavar == "DIR") return ValueKind::Folder;
  if (metavar == "FILE" || metavar == "F") return ValueKind::File;
  return ValueKind::None;
}

std::string CompletionCall(ValueKind kind) {
  switch (kind) {
    case ValueKind::Folder:
      return "_backvault_cli_folders";
    case ValueKind::File:
      return "_backvault_cli_files";
    case ValueKind::Categories:
      return "_backvault_cli_categories";
    case ValueKind::None:
      break;
  }
  return ":";
}

std::string Joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

// Folder of the installed programs' helpers or data for a /usr install, for the FILES
// section ("../libexec/backvault" from /usr/bin).
std::string UsrPath(const std::filesystem::path& rel) {
  if (rel.is_absolute()) return rel.generic_string();
  return (std::filesystem::path("/usr/bin") / rel).lexically_normal().generic_string();
}

}  // namespace

UsageParts ParseUsage(const std::string& usage) {
  UsageParts parts;
  const std::vector<std::string> words = UsageWords(usage);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (i == 0) {
      parts.command = w;
    } else if (w.rfind("-", 0) == 0) {
      UsageOption option{w, {}};
      if (i + 1 < words.size() && IsPlaceholder(words[i + 1])) option.metavar = words[++i];
      parts.options.push_back(option);
    } else {
      parts.positionals.push_back(w);
    }
  }
  return parts;
}

std::string RoffEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

void WriteManPage(std::ostream& os, const std::vector<std::unique_ptr<Command>>& commands) {
  const std::string helpers = UsrPath(platform::InstalledHelperFolder());
  const std::string data = UsrPath(platform::InstalledDataFolder());
  os << ".\\\" Written by bv_cli_docs from backvault-cli's own command list; do not edit.\n"
     << ".TH BACKVAULT\\-CLI 1 \"\" \"Tarnwick Backvault Pro " << kVersion
     << "\" \"User Commands\"\n"
     << ".nh\n.ad l\n"  // option and category names must not be hyphenated
     << ".SH NAME\n"
     << "backvault\\-cli \\- recover data from iPhone backups on the command line\n"
     << ".SH SYNOPSIS\n"
     << "\\fBbackvault\\-cli\\fR \\fICOMMAND\\fR [\\fIOPTIONS\\fR]\n.br\n"
     << "\\fBbackvault\\-cli help\\fR [\\fICOMMAND\\fR]\n.br\n"
     << "\\fBbackvault\\-cli \\-\\-version\\fR\n"
     << ".SH DESCRIPTION\n"
     << "\\fBbackvault\\-cli\\fR reads the iPhone backups that the phone\\-sync software keeps "
        "on a computer and gets a person's data back out of them: photos and videos, messages "
        "and their attachments, contacts, call history, notes, WhatsApp chats and media, and "
        "chat messages that were deleted, read from the raw pages of SQLite files. It is the "
        "engine of the desktop program \\fBbackvault\\fR(1) without a window, for scripts and "
        "servers.\n"
     << ".PP\n"
     << "Nothing in a backup folder is ever changed or added to. A backup password is never "
        "taken as an argument, where other users of the computer could read it: it comes on "
        "standard input or from a file.\n"
     << ".SH COMMANDS\n";
  for (const auto& c : commands) {
    os << ".SS " << RoffEscape(c->Name()) << "\n"
       << "\\fBbackvault\\-cli\\fR " << RoffUsage(c->Usage()) << "\n"
       << ".PP\n"
       << RoffEscape(c->Summary()) << "\n";
    for (const ArgumentHelp& a : c->Arguments())
      os << ".TP\n" << RoffUsage(a.name, false) << "\n" << RoffEscape(a.text) << "\n";
  }
  os << ".SS help\n"
     << "\\fBbackvault\\-cli help\\fR [\\fICOMMAND\\fR]\n.PP\n"
     << "List every command with its usage, or explain one command and its options.\n"
     << ".SH EXIT STATUS\n";
  for (const ExitCodeInfo& e : kExitCodes)
    os << ".TP\n.B " << e.code << "\n" << RoffEscape(e.meaning) << "\n";
  os << ".SH ENVIRONMENT\n"
     << ".TP\n.B XDG_DATA_HOME\nThe user's data folder (default: \\fI~/.local/share\\fR): "
        "it holds the backup root that \\fBlist\\fR reads and the program's work folder.\n"
     << ".TP\n.B HOME\nThe user's home folder, used when \\fBXDG_DATA_HOME\\fR is not set.\n"
     << ".TP\n.B TZ\nThe time zone in which dates are shown.\n"
     << ".SH FILES\n"
     << ".TP\n\\fI$XDG_DATA_HOME/Apple Computer/MobileSync/Backup/\\fR\n"
        "The backups of this user, one folder each.\n"
     << ".TP\n\\fI$XDG_DATA_HOME/TarnwickBackvault/\\fR\n"
        "The work folder for temporary files; they are removed at the end of a run and at the "
        "next start after an interrupted one.\n"
     << ".TP\n\\fI" << RoffEscape(helpers) << "/tool\\fR, \\fI" << RoffEscape(helpers)
     << "/extract\\fR\n"
     << "The decryption program for encrypted backups and the archive extractor for a phone "
        "connected by USB. They are looked for beside \\fBbackvault\\-cli\\fR first (a build "
        "keeps them there), then in \\fI"
     << RoffEscape(platform::InstalledHelperFolder().generic_string())
     << "\\fR relative to its folder.\n"
     << ".TP\n\\fI" << RoffEscape(data) << "/\\fR\n"
     << "The data files: \\fIconfig.ini\\fR, \\fILanguages/\\fR and the document templates "
        "in \\fItemplate/\\fR that \\fBrecover\\fR fills. Looked for beside "
        "\\fBbackvault\\-cli\\fR first, then in \\fI"
     << RoffEscape(platform::InstalledDataFolder().generic_string())
     << "\\fR relative to its folder.\n"
     << ".SH EXAMPLES\n"
     << ".nf\n"
     << "backvault\\-cli list\n"
     << "backvault\\-cli scan \"$HOME/.local/share/Apple Computer/MobileSync/Backup/FOLDER\"\n"
     << "printf '%s\\en' \"$PASSWORD\" | backvault\\-cli recover FOLDER \\-\\-out ~/Recovered "
        "\\-\\-password\\-stdin\n"
     << ".fi\n"
     << ".SH SEE ALSO\n"
     << "\\fBbackvault\\fR(1)\n";
}

void WriteBashCompletion(std::ostream& os, const std::vector<std::unique_ptr<Command>>& commands) {
  std::vector<std::string> names;
  for (const auto& c : commands) names.push_back(c->Name());
  std::vector<std::string> categories = CategoryNames();
  categories.push_back("all");

  os << "# bash completion for backvault-cli\n"
     << "# Written by bv_cli_docs from backvault-cli's own command list; do not edit.\n\n"
     << "_backvault_cli_reply() {\n"
     << "  mapfile -t COMPREPLY < <(compgen \"$@\")\n"
     << "}\n"
     << "_backvault_cli_folders() {\n"
     << "  compopt -o filenames 2>/dev/null\n"
     << "  _backvault_cli_reply -d -- \"$cur\"\n"
     << "}\n"
     << "_backvault_cli_files() {\n"
     << "  compopt -o filenames 2>/dev/null\n"
     << "  _backvault_cli_reply -f -- \"$cur\"\n"
     << "}\n"
     << "# A comma-separated list: complete the name after the last comma.\n"
     << "_backvault_cli_categories() {\n"
     << "  local head=\"\" word=\"$cur\"\n"
     << "  if [[ \"$cur\" == *,* ]]; then head=\"${cur%,*},\"; word=\"${cur##*,}\"; fi\n"
     << "  compopt -o nospace 2>/dev/null\n"
     << "  _backvault_cli_reply -P \"$head\" -W \"" << Joined(categories) << "\" -- \"$word\"\n"
     << "}\n"
     << "# How many placeholders come before the word being completed; $1 lists the options\n"
     << "# that take a value.\n"
     << "_backvault_cli_position() {\n"
     << "  local i n=0\n"
     << "  for ((i = 2; i < COMP_CWORD; i++)); do\n"
     << "    case \" $1 \" in *\" ${COMP_WORDS[i]} \"*) ((i++)); continue ;; esac\n"
     << "    [[ \"${COMP_WORDS[i]}\" == -* ]] || ((n++))\n"
     << "  done\n"
     << "  echo \"$n\"\n"
     << "}\n\n"
     << "_backvault_cli() {\n"
     << "  local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
     << "  COMPREPLY=()\n"
     << "  if ((COMP_CWORD == 1)); then\n"
     << "    _backvault_cli_reply -W \"" << Joined(names)
     << " help --help --version\" -- \"$cur\"\n"
     << "    return 0\n"
     << "  fi\n"
     << "  case \"${COMP_WORDS[1]}\" in\n"
     << "    help | --help | -h)\n"
     << "      ((COMP_CWORD == 2)) && _backvault_cli_reply -W \"" << Joined(names)
     << "\" -- \"$cur\"\n"
     << "      ;;\n";
  for (const auto& c : commands) {
    const UsageParts parts = ParseUsage(c->Usage());
    std::vector<std::string> all, valued;
    for (const UsageOption& o : parts.options) {
      all.push_back(o.name);
      if (!o.metavar.empty()) valued.push_back(o.name);
    }
    os << "    " << c->Name() << ")\n";
    if (!valued.empty()) {
      os << "      case \"$prev\" in\n";
      for (const UsageOption& o : parts.options)
        if (!o.metavar.empty())
          os << "        " << o.name << ") " << CompletionCall(KindOf(o.name, o.metavar))
             << "; return 0 ;;\n";
      os << "      esac\n";
    }
    os << "      if [[ \"$cur\" == -* ]]; then\n"
       << "        _backvault_cli_reply -W \"" << Joined(all) << "\" -- \"$cur\"\n"
       << "        return 0\n"
       << "      fi\n";
    if (!parts.positionals.empty()) {
      os << "      case $(_backvault_cli_position \"" << Joined(valued) << "\") in\n";
      for (std::size_t i = 0; i < parts.positionals.size(); ++i)
        os << "        " << i << ") " << CompletionCall(KindOf({}, parts.positionals[i]))
           << " ;;\n";
      os << "      esac\n";
    }
    os << "      ;;\n";
  }
  os << "  esac\n"
     << "  return 0\n"
     << "}\n"
     << "complete -F _backvault_cli backvault-cli\n";
}

}  // namespace bv::cli

// list [--root DIR] [--json]: the backups of a backup root, newest first.
#include <ostream>

#include "catalogue/discovery.h"
#include "cli/command.h"
#include "common/text.h"
#include "platform/platform.h"

namespace bv::cli {

namespace {

class ListCommand : public Command {
 public:
  std::string Name() const override { return "list"; }
  std::string Summary() const override {
    return "List the backups of a backup root (default: this user's), newest first.";
  }
  std::string Usage() const override { return "list [--root DIR] [--json]"; }
  std::vector<ArgumentHelp> Arguments() const override {
    return {{"--root DIR",
             "list the backups in DIR instead of this user's backup root ($XDG_DATA_HOME, else "
             "~/.local/share, followed by \"Apple Computer/MobileSync/Backup\")"},
            {"--json", "print one JSON array of the backups instead of text"}};
  }

  int Run(const std::vector<std::string>& args, Streams io) override {
    std::string root;
    bool json = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "--json") {
        json = true;
      } else if (args[i] == "--root" && i + 1 < args.size()) {
        root = args[++i];
      } else {
        io.err << "backvault-cli list: unexpected argument '" << args[i]
               << "'\nUsage: backvault-cli " << Usage() << "\n";
        return kExitUsage;
      }
    }
    BackupCatalog catalog;
    if (root.empty()) {
      if (FindCandidates(catalog) != kSuccess) {
        io.err << "backvault-cli list: no application data folder (HOME is not set)\n";
        return kExitFailed;
      }
    } else {
      std::error_code ec;
      if (!std::filesystem::is_directory(platform::PathFromUtf8(root), ec)) {
        io.err << "backvault-cli list: '" << root << "' is not a folder\n";
        return kExitFailed;
      }
      FindCandidatesIn(catalog, root);
    }
    std::vector<BackupRecord> records;
    ListBackups(catalog, records);
    if (json)
      PrintJson(records, io.out);
    else
      PrintText(records, io.out);
    return kExitOk;
  }

 private:
  static void PrintJson(const std::vector<BackupRecord>& records, std::ostream& os) {
    os << "[";
    for (std::size_t i = 0; i < records.size(); ++i) {
      const auto& r = records[i];
      os << (i ? ",\n " : "\n ") << "{\"displayName\": \"" << JsonEscape(r.displayName)
         << "\", \"lastBackupDate\": \"" << JsonEscape(r.lastBackupDate)
         << "\", \"serialNumber\": \"" << JsonEscape(r.serialNumber) << "\", \"phoneNumber\": \""
         << JsonEscape(r.phoneNumber)
         << "\", \"newerSystem\": " << (r.newerSystem ? "true" : "false")
         << ", \"encrypted\": " << (r.encrypted ? "true" : "false") << ", \"folder\": \""
         << JsonEscape(ValidUtf8(r.folder)) << "\"}";
    }
    os << (records.empty() ? "]\n" : "\n]\n");
  }

  static void PrintText(const std::vector<BackupRecord>& records, std::ostream& os) {
    if (records.empty()) {
      os << "No backups found.\n";
      return;
    }
    for (const auto& r : records) {
      os << (r.displayName.empty() ? std::string("(no name)") : r.displayName)
         << (r.encrypted ? "  [encrypted]" : "") << "\n"
         << "  Last backup:   " << r.lastBackupDate << "\n"
         << "  Serial number: " << r.serialNumber << "\n"
         << "  Phone number:  " << r.phoneNumber << "\n"
         << "  iOS 12 or later: " << (r.newerSystem ? "yes" : "no") << "\n"
         << "  Folder:        " << r.folder << "\n";
    }
  }
};

}  // namespace

BV_REGISTER_COMMAND(ListCommand)

}  // namespace bv::cli

#pragma once
// The manual page and the bash completion of backvault-cli, written from the command
// registry itself (names, Usage, Summary, Arguments, exit codes) so that they say what
// the program does. The build writes both with bv_cli_docs.
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"

namespace bv::cli {

// A Usage text taken apart: "scan BACKUP [--categories LIST] [--json]" has the command
// "scan", the placeholder BACKUP and the options --categories (taking LIST) and --json.
struct UsageOption {
  std::string name;     // "--categories"
  std::string metavar;  // "LIST"; empty for a switch
};
struct UsageParts {
  std::string command;
  std::vector<std::string> positionals;
  std::vector<UsageOption> options;
};
UsageParts ParseUsage(const std::string& usage);

// Text for a man(7) text line: backslashes and hyphens escaped, a leading dot or quote
// neutralised.
std::string RoffEscape(const std::string& text);

// backvault-cli(1) in man(7) macros.
void WriteManPage(std::ostream& os, const std::vector<std::unique_ptr<Command>>& commands);
// A bash completion script that defines _backvault_cli and registers it.
void WriteBashCompletion(std::ostream& os, const std::vector<std::unique_ptr<Command>>& commands);

}  // namespace bv::cli

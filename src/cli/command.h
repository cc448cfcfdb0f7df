#pragma once
// The command line as a registry of commands: one class per sub-command, output through
// streams handed in, so tests run commands and read what they print.
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "common/text.h"

namespace bv::cli {

// Exit codes of backvault-cli. Help and the manual page print kExitCodes, so a new code
// goes into the constants and into the table below it.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitFailed = 2;
inline constexpr int kExitWarnings = 3;  // finished, but some source could not be read
// 128 + the signal's number, as platform::InterruptExitCode() gives them.
inline constexpr int kExitInterrupted = 130;  // SIGINT
inline constexpr int kExitTerminated = 143;   // SIGTERM

struct ExitCodeInfo {
  int code;
  const char* meaning;
};
inline constexpr ExitCodeInfo kExitCodes[] = {
    {kExitOk, "success"},
    {kExitUsage, "usage error: unknown command or option, missing or bad argument"},
    {kExitFailed,
     "the operation failed; the reason is printed on standard error (nothing on standard "
     "output when the backup could not be opened)"},
    {kExitWarnings,
     "finished with warnings: a category's source could not be read (a damaged, cut, empty or "
     "missing database, a cut manifest); one warning per such category on standard error"},
    {kExitInterrupted,
     "interrupted by SIGINT (Ctrl-C): the work stops as the stop button stops it, decrypted "
     "files are removed, recover finishes or removes the item it was writing"},
    {kExitTerminated, "ended by SIGTERM, with the same clean-up as SIGINT"},
};

// One argument or option of a command as its Usage writes it ("BACKUP", "--root DIR"),
// with what it means.
struct ArgumentHelp {
  std::string name;
  std::string text;
};

// An input with nothing in it, for runs that hand a command no standard input.
std::istream& NoInput();

struct Streams {
  std::ostream& out;
  std::ostream& err;
  std::istream& in = NoInput();  // the command's standard input (--password-stdin)
};

class Command {
 public:
  virtual ~Command() = default;
  virtual std::string Name() const = 0;
  // One line for the command list.
  virtual std::string Summary() const = 0;
  // Usage text, e.g. "list [--root DIR] [--json]".
  virtual std::string Usage() const = 0;
  // Every argument and option of Usage() with its meaning, in Usage's order; `help COMMAND`
  // and the manual page print them.
  virtual std::vector<ArgumentHelp> Arguments() const { return {}; }
  // Runs with the arguments after the command name.
  virtual int Run(const std::vector<std::string>& args, Streams io) = 0;
};

// Every command, in the order help lists them (registry.cpp names each factory).
std::vector<std::unique_ptr<Command>> AllCommands();

// Runs argv[1..] against the registry: help, dispatch, exit code. The command runs
// inside an InterruptScope: SIGINT and SIGTERM become a cancel request that the command
// answers with a cancelled summary and exit code 130 or 143.
int RunCli(const std::vector<std::string>& args, Streams io);

// The two ways of giving a backup password, as the commands that open a backup explain them.
std::vector<ArgumentHelp> PasswordArguments();
// The names that --categories takes, in the categories' fixed order, and its explanation.
std::vector<std::string> CategoryNames();
ArgumentHelp CategoriesArgument();

using ::bv::JsonEscape;  // common/text.h

// `text` as a quoted JSON string: the one way the commands write a string value.
inline std::string JsonString(std::string_view text) {
  return "\"" + JsonEscape(text) + "\"";
}

}  // namespace bv::cli

// In a command's .cpp, inside namespace bv::cli: BV_REGISTER_COMMAND(ListCommand) defines
// MakeListCommand(), which registry.cpp declares and lists.
#define BV_REGISTER_COMMAND(Type)         \
  std::unique_ptr<Command> Make##Type() { \
    return std::make_unique<Type>();      \
  }

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <sstream>

#include "cli/command.h"
#include "common/version.h"
#include "platform/interrupt.h"
#include "scan/scan_session.h"

namespace bv::cli {

namespace {

void PrintExitCodes(std::ostream& os) {
  os << "\nExit codes:\n";
  for (const ExitCodeInfo& e : kExitCodes) {
    std::string code = std::to_string(e.code);
    code.resize(std::max<std::size_t>(code.size(), 5), ' ');
    os << "  " << code << e.meaning << "\n";
  }
}

void PrintHelp(std::ostream& os, const std::vector<std::unique_ptr<Command>>& commands) {
  os << "Usage: backvault-cli COMMAND [OPTIONS]\n\nCommands:\n";
  for (const auto& c : commands) os << "  " << c->Usage() << "\n      " << c->Summary() << "\n";
  os << "\nRun 'backvault-cli help COMMAND' for one command, 'backvault-cli --version' for the "
        "version.\n";
  PrintExitCodes(os);
}

void PrintCommandHelp(std::ostream& os, const Command& c) {
  os << "Usage: backvault-cli " << c.Usage() << "\n" << c.Summary() << "\n";
  const std::vector<ArgumentHelp> arguments = c.Arguments();
  if (arguments.empty()) return;
  std::size_t width = 0;
  for (const ArgumentHelp& a : arguments) width = std::max(width, a.name.size());
  os << "\n";
  for (const ArgumentHelp& a : arguments) {
    std::string name = a.name;
    name.resize(width + 2, ' ');
    os << "  " << name << a.text << "\n";
  }
}

}  // namespace

std::vector<ArgumentHelp> PasswordArguments() {
  return {
      {"--password-stdin",
       "read the backup password of an encrypted backup from the first line of standard input"},
      {"--password-file F", "read the backup password from the first line of the file F"},
  };
}

std::vector<std::string> CategoryNames() {
  std::vector<std::string> names;
  for (int i = 0; i < kCategoryCount; ++i)
    names.emplace_back(CategoryCliName(static_cast<Category>(i)));
  return names;
}

ArgumentHelp CategoriesArgument() {
  std::string text = "read only these categories, a comma-separated list of";
  const std::vector<std::string> names = CategoryNames();
  for (std::size_t i = 0; i < names.size(); ++i) text += (i == 0 ? " " : ", ") + names[i];
  text += " (default: all)";
  return {"--categories LIST", text};
}

std::istream& NoInput() {
  thread_local std::istringstream empty;
  empty.clear();
  empty.str({});
  return empty;
}

int RunCli(const std::vector<std::string>& args, Streams io) {
  // One scope for every command: Ctrl-C and SIGTERM become a cancel request that the
  // command answers, so its clean-up (decrypted files, partial output) runs as usual.
  platform::InterruptScope interrupts;
  platform::ResetInterrupt();
  auto commands = AllCommands();
  if (args.empty()) {
    PrintHelp(io.err, commands);
    return kExitUsage;
  }
  const std::string& name = args[0];
  if (name == "--version") {
    io.out << "backvault-cli " << kVersion << "\n";
    return kExitOk;
  }
  if (name == "help" || name == "--help" || name == "-h") {
    if (args.size() > 1) {
      for (const auto& c : commands)
        if (c->Name() == args[1]) {
          PrintCommandHelp(io.out, *c);
          return kExitOk;
        }
      io.err << "backvault-cli: unknown command '" << args[1] << "'\n";
      return kExitUsage;
    }
    PrintHelp(io.out, commands);
    return kExitOk;
  }
  for (const auto& c : commands) {
    if (c->Name() == name) {
      return c->Run(std::vector<std::string>(args.begin() + 1, args.end()), io);
    }
  }
  io.err << "backvault-cli: unknown command '" << name << "'\n";
  PrintHelp(io.err, commands);
  return kExitUsage;
}

}  // namespace bv::cli

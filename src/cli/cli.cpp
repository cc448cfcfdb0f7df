#include <cstdio>
#include <ostream>

#include "cli/command.h"

namespace bv::cli {

namespace {
void PrintHelp(std::ostream& os, const std::vector<std::unique_ptr<Command>>& commands) {
  os << "Usage: backvault-cli COMMAND [OPTIONS]\n\nCommands:\n";
  for (const auto& c : commands) os << "  " << c->Usage() << "\n      " << c->Summary() << "\n";
  os << "\nRun 'backvault-cli help COMMAND' for one command.\n";
}
}  // namespace

int RunCli(const std::vector<std::string>& args, Streams io) {
  auto commands = AllCommands();
  if (args.empty()) {
    PrintHelp(io.err, commands);
    return kExitUsage;
  }
  const std::string& name = args[0];
  if (name == "help" || name == "--help" || name == "-h") {
    if (args.size() > 1) {
      for (const auto& c : commands)
        if (c->Name() == args[1]) {
          io.out << "Usage: backvault-cli " << c->Usage() << "\n" << c->Summary() << "\n";
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

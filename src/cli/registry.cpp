#include <memory>
#include <vector>

#include "cli/command.h"

namespace bv::cli {

// Each command file defines its factory with BV_REGISTER_COMMAND.
std::unique_ptr<Command> MakeListCommand();
std::unique_ptr<Command> MakeDeviceCommand();
std::unique_ptr<Command> MakeScanCommand();
std::unique_ptr<Command> MakeRecoverCommand();
std::unique_ptr<Command> MakeChatsCommand();
std::unique_ptr<Command> MakeCarveCommand();

std::vector<std::unique_ptr<Command>> AllCommands() {
  std::vector<std::unique_ptr<Command>> all;
  all.push_back(MakeListCommand());
  all.push_back(MakeDeviceCommand());
  all.push_back(MakeScanCommand());
  all.push_back(MakeRecoverCommand());
  all.push_back(MakeChatsCommand());
  all.push_back(MakeCarveCommand());
  return all;
}

}  // namespace bv::cli

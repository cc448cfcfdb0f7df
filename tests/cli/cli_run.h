#pragma once
// Runs the command line in-process with captured output, for the command tests.
#include <sstream>
#include <string>
#include <vector>

#include "cli/command.h"

namespace bv::cli {

struct Outcome {
  int code;
  std::string out, err;
};

inline Outcome Cli(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int code = RunCli(args, {out, err});
  return {code, out.str(), err.str()};
}

}  // namespace bv::cli

// bv_cli_docs: writes backvault-cli's manual page and bash completion from its command
// registry, at build time (bv_cli_docs man FILE | bv_cli_docs bash-completion FILE).
#include <cstdio>
#include <fstream>
#include <string>

#include "cli/docs.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bv_cli_docs man|bash-completion FILE\n");
    return 1;
  }
  const std::string what = argv[1];
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  if (!out) {
    std::fprintf(stderr, "bv_cli_docs: cannot write %s\n", argv[2]);
    return 1;
  }
  const auto commands = bv::cli::AllCommands();
  if (what == "man") {
    bv::cli::WriteManPage(out, commands);
  } else if (what == "bash-completion") {
    bv::cli::WriteBashCompletion(out, commands);
  } else {
    std::fprintf(stderr, "bv_cli_docs: unknown output '%s'\n", argv[1]);
    return 1;
  }
  out.close();
  if (!out) {
    std::fprintf(stderr, "bv_cli_docs: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}

// tool BACKUP_FOLDER OUTPUT_FOLDER
// Decrypts an encrypted backup into OUTPUT_FOLDER. The password comes as one line on
// standard input, never on the command line, where every local user could read it
// from the process list.
#include <cstdio>
#include <string>

#include "backup_decryptor.h"
#include "crypto.h"

namespace {

std::string ReadPasswordLine() {
  std::string line;
  int c = 0;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("Error: usage: tool BACKUP_FOLDER OUTPUT_FOLDER (password on standard input)\n",
               stdout);
    return bv::decrypt::kExitFailed;
  }
  std::string password = ReadPasswordLine();
  const int code =
      bv::decrypt::DecryptBackupFolder(argv[1], argv[2], password, [](const std::string& line) {
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
      });
  bv::decrypt::Wipe(password);
  return code;
}

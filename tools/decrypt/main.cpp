// tool BACKUP_FOLDER OUTPUT_FOLDER
// Decrypts an encrypted backup into OUTPUT_FOLDER. The password comes as one line on
// standard input, never on the command line, where every local user could read it
// from the process list.
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <signal.h>
#include <sys/prctl.h>
#endif

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
  // Whatever we write is decrypted data: for our user alone.
  ::umask(077);
#if defined(__linux__)
  // Our parent cleans up after us when it ends; a tool that went on writing plaintext
  // into a folder it removes would undo that. Ends with the parent, even a killed one.
  const pid_t parent = ::getppid();
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) return bv::decrypt::kExitFailed;
#endif
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

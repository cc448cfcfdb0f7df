#pragma once
// The arguments of every command that opens a backup (scan, recover, chats): the backup
// folder and where its password comes from, parsed in one place. The password never
// comes from an argument, where other users of the machine could read it: it is the
// first line of the command's standard input (--password-stdin) or of a file
// (--password-file F), without its line end.
//
//   BackupArgParser parser;
//   for (std::size_t i = 0; i < args.size(); ++i) {
//     if (parser.Take(args, i)) continue;          // ours (a value after it taken too)
//     if (args[i] == "--json") ...                 // the command's own options
//   }
//   BackupArgs backup;
//   if (!parser.Finish(io.in, backup, error)) ...  // usage or password error
#include <istream>
#include <string>
#include <vector>

#include "catalogue/types.h"

namespace bv::cli {

struct BackupArgs {
  std::string folder;
  std::string password;  // the first line, as UTF-8 text decoded
  bool passwordGiven = false;
};

class BackupArgParser {
 public:
  // Offers args[i]. True when it is a backup argument: the folder (the first argument
  // that does not start with "-"), --password-stdin or --password-file F (then `i` is
  // moved past F). An option it knows but cannot accept (a second password option, a
  // --password-file without a file) is taken too and reported by Finish.
  bool Take(const std::vector<std::string>& args, std::size_t& i);

  // After the last argument: false with `error` when the backup arguments are wrong (a
  // usage error), without reading anything.
  bool Check(std::string& error) const;
  // After the last argument: reads the password where one was asked for and fills
  // `out`. False with `error` when the arguments are wrong (`usage` set: show the usage)
  // or the password cannot be read ("cannot read the password file 'F': Is a
  // directory"; "no password on standard input").
  bool Finish(std::istream& in, BackupArgs& out, std::string& error, bool& usage);

 private:
  enum class Source { kNone, kStdin, kFile };
  std::string folder_;
  Source source_ = Source::kNone;
  std::string file_;
  std::string error_;  // the first wrong argument
};

// Reads the first line of `in` or of the file at `path` (any readable file, pipes
// included: `--password-file <(...)`; a folder is refused). The line end (LF or CR LF)
// is dropped. False with `error` when nothing can be read.
bool ReadPasswordLine(std::istream& in, std::string& line, std::string& error);
bool ReadPasswordFile(const std::string& path, std::string& line, std::string& error);

// Reads the device facts of the backup in `args.folder` (made absolute, so that the
// paths of the records stay usable from anywhere). False with `error`: not a folder, no
// Info.plist, or encrypted without a password.
bool ReadBackupRecord(const BackupArgs& args, BackupRecord& record, std::string& error);

}  // namespace bv::cli

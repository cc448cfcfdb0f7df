#pragma once
// Path pieces of the output tree: names from backups and records made safe, and
// the numbering of names that already exist. Thread-safe (no state).
#include <filesystem>
#include <string>

namespace bv {

namespace fs = std::filesystem;

// Turns a name taken from a backup or a record into one path piece that stays
// where it is put: separators, control characters and the characters Windows
// rejects become '_'; a name of only dots ("." or "..") has its dots replaced;
// trailing dots and spaces (which Windows drops) become '_'; device names such
// as "CON" get a leading '_'; an empty name becomes "_"; the piece is cut to at
// most 200 bytes of UTF-8, keeping a short extension.
std::string SafePathPiece(const std::string& name);

// The path itself when nothing (file, folder or link) exists there; otherwise
// the first "stem(n).ext" for n = 1, 2, ... that does not exist.
fs::path MakeUniquePath(const fs::path& path);
std::string MakeUniquePath(const std::string& path);

// The folders that a recovery writes directly below the chosen output folder.
inline constexpr const char* kOutputFolders[] = {"Camera Roll",
                                                 "Photo Stream",
                                                 "App Photos",
                                                 "App Video",
                                                 "Message Attachments",
                                                 "WhatsApp Attachments",
                                                 "Message",
                                                 "WhatsApp Message",
                                                 "Contacts",
                                                 "CallHistory",
                                                 "Notes"};

// Why `outputFolder` may not receive a recovery of the backup in `backupFolder`, as a
// sentence for the user; empty when it may. Refused: the backup folder itself, any
// folder inside it, and a folder whose output tree would reach into the backup (the
// backup lying in its "Message" sub-folder, say). Links and ".." are resolved and
// folders compared by identity, so another path to the same folder (a link, a bind
// mount) is caught as well. The output folder need not exist; nothing is created.
std::string OutputFolderProblem(const fs::path& backupFolder, const fs::path& outputFolder);

// True when `path`, taken lexically, lies inside `root` (or is `root`).
bool IsInside(const fs::path& root, const fs::path& path);

// Local date and time as 14 digits, "%04d%02d%02d%02d%02d%02d".
std::string MakeJobStamp();

}  // namespace bv

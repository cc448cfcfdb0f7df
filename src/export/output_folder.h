#pragma once
// The output tree on disk, reached through open folder handles.
//
// - Every folder below the one the user chose is created and entered without following
//   symbolic links, so a link planted inside the output folder never leads a write
//   elsewhere.
// - Every file is written under a temporary name beside its final one and renamed when
//   it is whole, so a file under its final name is always complete; a file cut short
//   (an error, a cancel) is removed.
// - A final name never replaces anything: when it is taken, even by a job running at the
//   same moment, the file gets the next free "(n)".
//
// Not thread-safe per object: one recovery worker owns its folders and files.
#include <filesystem>
#include <string>
#include <string_view>

#include "common/result_codes.h"

namespace bv {

namespace fs = std::filesystem;

// "stem(n).ext" of a UTF-8 file name, split as std::filesystem splits stem and
// extension: ("IMG_0001.JPG", 2) gives "IMG_0001(2).JPG", ("notes", 1) "notes(1)".
// n = 0 gives the name unchanged.
std::string NumberedName(std::string_view name, unsigned n);

class OutputFolder {
 public:
  OutputFolder() = default;
  ~OutputFolder();
  OutputFolder(OutputFolder&& other) noexcept;
  OutputFolder& operator=(OutputFolder&& other) noexcept;
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Opens the folder the user chose, creating it and its parents when missing. Links
  // on the way to it are followed: that path is the user's own choice. 0 or the
  // platform's error code.
  static Result OpenRoot(const fs::path& root, OutputFolder& out);
  // Creates the sub-folder `name` (one path piece, UTF-8) when missing and enters it
  // without following a link. ELOOP when it is a symbolic link, ENOTDIR when it is no
  // folder, EINVAL for a name that is not one piece; otherwise 0 or the platform's
  // error code.
  Result Enter(std::string_view name, OutputFolder& out) const;

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  // The folder's path, for reports and for writers that open files by path.
  const fs::path& Path() const { return path_; }
  fs::path PathOf(std::string_view name) const;
  // True when anything (file, folder, link, even a dangling one) has this name.
  bool Has(std::string_view name) const;
  // The first of name, name(1), name(2), ... that nothing has now; `number` gets n.
  std::string FreeName(std::string_view name, unsigned* number = nullptr) const;

 private:
  int fd_ = -1;
  fs::path path_;
};

// One output file on its way to its final name: Create (or Reserve), write, Commit.
// Destroyed uncommitted, its temporary file is removed. Keeps a pointer to its folder,
// which must outlive it.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temporary file for `name` (one path piece, UTF-8) in `folder` and notes
  // the name it is meant to get, the first free one now. 0 or the platform's error
  // code.
  Result Create(const OutputFolder& folder, std::string_view name);
  // As Create, but only picks a free temporary name: for a writer that creates the
  // file itself from TempPath() (the data sources' copies). Commit then checks that a
  // regular file is there.
  Result Reserve(const OutputFolder& folder, std::string_view name);
  // Appends bytes. The first failure sticks: it is returned by this call, every later
  // one and Commit.
  Result Write(std::string_view bytes);
  // Closes the file (checking the close), then renames it to its name, or to the next
  // free "(n)" when that was taken meanwhile; never replaces anything. 0, or the error
  // (the temporary file is then removed).
  Result Commit();
  // Removes the temporary file; nothing once committed.
  void Discard();

  fs::path TempPath() const;
  // Before Commit the name it is meant to get; after it the name it got.
  const std::string& Name() const { return name_; }
  fs::path FinalPath() const;
  bool Committed() const { return committed_; }

 private:
  Result Begin(const OutputFolder& folder, std::string_view name, bool create);

  const OutputFolder* folder_ = nullptr;
  int fd_ = -1;
  bool created_ = false;  // by us (Create), not by a writer given TempPath (Reserve)
  std::string temp_;
  std::string asked_;  // the name asked for
  std::string name_;   // the free name (numbered when needed)
  unsigned number_ = 0;
  Result error_ = 0;
  bool committed_ = false;
};

}  // namespace bv

#pragma once
// File-type detection from the first bytes. Backup files have no extensions, so a
// table of signatures decides what a file is and gives it a generated name
// "<counter>.<extension>" from which callers take the extension.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/backup_catalog.h"
#include "common/result_codes.h"

namespace bv {

// The type codes of the recognisers; 48 means nothing was recognised.
inline constexpr int kTypeUnknown = 48;
// HEIF pictures of newer phones (extension "heic") and AVIF pictures ("avif"),
// tried after every other row.
inline constexpr int kTypeHeic = 49;
inline constexpr int kTypeAvif = 50;
// True for the codes of pictures in the HEIF container (HEIC and AVIF).
bool IsHeifFamily(int code);

// The "ftyp" box that opens an ISO base-media file (MP4, QuickTime, 3GP, HEIF):
//
//   offset  size  field
//   0       4     box size, big-endian, these 16 bytes included (16 + 4 x brands)
//   4       4     "ftyp"
//   8       4     major brand ("heic", "isom", "qt  ", ...)
//   12      4     minor version
//   16      4 n   compatible brands, up to the box size
//
// A view into the caller's bytes, valid while they are.
struct FtypBox {
  const unsigned char* data = nullptr;
  std::size_t size = 0;  // the box size, at most the bytes given
  std::string_view Major() const;
  bool HasCompatible(std::string_view brand) const;
};
// False when `data[0..size)` does not open with a whole, sound ftyp box.
bool ParseFtypBox(const unsigned char* data, std::size_t size, FtypBox& box);

// One counter per classification walk (or preview): every recognised file takes its
// value and increments it.
struct DetectionContext {
  std::int64_t counter = 0;
};

// Runs the table in order over `data[0..size)`; the code of the first recogniser that
// matches, or 48.
int RecogniseBuffer(const unsigned char* data, std::size_t size);
// The extension of the first table row with `code` ("jpg"), or empty.
const char* ExtensionOfCode(int code);

// Reads the first 512 bytes of `path` (opened read-only) and names it. 0 when read
// (recognised or not; `name` empty when not), 30 when shorter than 512 bytes, or the
// platform's error code.
Result DetectFileType(const std::string& path, DetectionContext& context, std::string& name);
// The same, also giving the file's size from the open file (-1 when it could not be
// opened), so that a walk needs no second look at the file system.
Result DetectFileType(const std::string& path, DetectionContext& context, std::string& name,
                      std::int64_t* size);
// The same over a path as the file system takes it (UTF-8).
Result DetectFileTypeNative(const std::string& path, DetectionContext& context, std::string& name,
                            std::int64_t* size);
// The same on the first 128 bytes of a buffer (which must hold at least 128); always 0.
Result DetectBufferType(const unsigned char* buffer, DetectionContext& context, std::string& name);

// The image, video and audio extension lists ("*.bmp|*.gif|...").
extern const char* const kImageExtensions;
extern const char* const kVideoExtensions;
extern const char* const kAudioExtensions;

// Copies a backup file to the fixed preview file of its kind (tmp.jpg, tmp.wav, tmp.avi
// in the work folder) and names it in `copyPath`. Always reports 100 at the end. A HEIF
// picture (HEIC, AVIF) is decoded and its tmp.jpg is a JPEG of it; one that does not
// decode gives 87 and no tmp.jpg.
// The HEIF part of PreparePreviewCopy: tmp.jpg as a JPEG of the picture. 0 or 87.
Result WriteHeifPreview(const BackupCatalog& catalog, const std::string& backupFile,
                        std::string& copyPath);
Result PreparePreviewCopy(const BackupCatalog& catalog, const std::string& backupFile,
                          std::string& copyPath, ProgressCallback callback, void* user);

}  // namespace bv

#pragma once
// The phone's file relay sends its user databases as a gzip-compressed cpio archive;
// the extractor takes off the gzip layer and leaves the cpio bytes in one file
// ("Tarnwick" in the temporary root). This reads members out of those bytes.
//
// Portable ASCII cpio ("odc"), the layout the relay uses. One member:
//
//   offset size  field
//   0      6     magic "070707"
//   6      6     dev       (octal digits, as every field below)
//   12     6     ino
//   18     6     mode      (file type in the bits 0170000; 0100000 a regular file)
//   24     6     uid
//   30     6     gid
//   36     6     nlink
//   42     6     rdev
//   48     11    mtime
//   59     6     namesize  (the name's length including its zero byte)
//   65     11    filesize
//   76     namesize      the name, ending in a zero byte
//   76+namesize filesize the data, with no padding
//
// The archive ends with a member named "TRAILER!!!". Every field is untrusted: reads
// are bounds-checked, sizes are 64-bit, and a damaged header ends the walk.
//
// Thread-compatible: plain functions over caller-owned data.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "common/result_codes.h"

namespace bv {

inline constexpr std::size_t kCpioHeaderSize = 76;
// How much of the unpacked archive is searched for a member's name.
inline constexpr std::size_t kMemberSearchWindow = 16u << 20;

struct CpioHeader {
  std::uint32_t mode = 0;
  std::uint32_t nameSize = 0;
  std::uint64_t fileSize = 0;
  bool IsRegularFile() const { return (mode & 0170000u) == 0100000u; }
};

// Parses the 76 header bytes at `data` (`size` bytes available). False when they are
// not a complete odc header.
bool ParseCpioHeader(const unsigned char* data, std::size_t size, CpioHeader& header);

// Where a member's data lies in the archive.
struct MemberSpan {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  bool fromHeader = false;  // size taken from the member's header
};

// Finds `memberPath` (e.g. "/var/mobile/Library/SMS/sms.db") in `window`, the first
// bytes of an archive of `archiveSize` bytes: the name followed by a zero byte, with
// the data right after it. When a valid header of a regular file leads to the name (the
// stored name may carry a prefix such as "."), its size says where the data ends, even
// beyond the window; otherwise the data ends at the next "07070700" (the next header's
// magic and the first digits of its first field) inside the window. False when the
// name is not in the window or no end is found.
bool FindMember(const unsigned char* window, std::size_t windowSize, std::uint64_t archiveSize,
                std::string_view memberPath, MemberSpan& span);

// Reads `size` bytes at `offset` into `buffer`; returns how many it read (fewer at the
// end of the data).
using ByteReader = std::function<std::size_t(std::uint64_t offset, void* buffer, std::size_t size)>;

struct CpioMember {
  std::string name;
  CpioHeader header;
  std::uint64_t dataOffset = 0;
};

// Walks the members of an archive of `archiveSize` bytes in order, calling `visit` for
// each one before the trailer; `visit` returns false to stop. The walk ends at the
// trailer, at a damaged header, or where a member would run past the end.
// Returns the number of members visited.
std::size_t WalkCpio(const ByteReader& read, std::uint64_t archiveSize,
                     const std::function<bool(const CpioMember&)>& visit);

// Cuts `memberPath` out of the unpacked archive file `archive` into `copy` (replaced).
// A member that is not found writes nothing and returns 0; a failed read or write of
// the files returns the platform error code.
Result CutMember(const std::filesystem::path& archive, std::string_view memberPath,
                 const std::filesystem::path& copy);

// Copies `size` bytes at `offset` of `archive` into `copy` (replaced). 0 or the
// platform error code; a short archive copies what is there.
Result CopyArchiveRange(const std::filesystem::path& archive, std::uint64_t offset,
                        std::uint64_t size, const std::filesystem::path& copy);

}  // namespace bv

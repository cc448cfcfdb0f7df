#include "device/cpio_archive.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/platform.h"

namespace bv {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[] = "070707";
constexpr char kNextHeader[] = "07070700";
constexpr std::string_view kTrailer = "TRAILER!!!";
// Longest stored name accepted in front of the searched path ("./" and the like).
constexpr std::size_t kMaxNamePrefix = 1024;
constexpr std::size_t kCopyPiece = 64 * 1024;

bool Octal(const unsigned char* p, std::size_t n, std::uint64_t& value) {
  value = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '7') return false;
    value = value * 8 + (p[i] - '0');
  }
  return true;
}

// What was read before an error or the end of the file (the cutter reads what there is).
std::size_t ReadAt(const platform::ReadOnlyFile& file, std::uint64_t offset, void* buffer,
                   std::size_t size) {
  const std::int64_t n = file.ReadAt(offset, buffer, size);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

}  // namespace

bool ParseCpioHeader(const unsigned char* data, std::size_t size, CpioHeader& header) {
  if (data == nullptr || size < kCpioHeaderSize) return false;
  if (std::memcmp(data, kMagic, 6) != 0) return false;
  std::uint64_t field = 0;
  // Every field must be octal digits; a header with other bytes is not one.
  for (std::size_t at = 6; at < 48; at += 6) {
    if (!Octal(data + at, 6, field)) return false;
    if (at == 18) header.mode = static_cast<std::uint32_t>(field);
  }
  if (!Octal(data + 48, 11, field)) return false;
  if (!Octal(data + 59, 6, field)) return false;
  header.nameSize = static_cast<std::uint32_t>(field);
  if (!Octal(data + 65, 11, field)) return false;
  header.fileSize = field;
  return header.nameSize > 0;
}

bool FindMember(const unsigned char* window, std::size_t windowSize, std::uint64_t archiveSize,
                std::string_view memberPath, MemberSpan& span) {
  if (window == nullptr || memberPath.empty() || windowSize < memberPath.size() + 1) return false;
  const std::uint64_t total = std::max<std::uint64_t>(archiveSize, windowSize);
  std::string needle(memberPath);
  needle.push_back('\0');
  const unsigned char* end = window + windowSize;
  const unsigned char* first = nullptr;
  for (const unsigned char* p = window;;) {
    p = std::search(p, end, needle.begin(), needle.end(),
                    [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); });
    if (p == end) break;
    if (first == nullptr) first = p;
    const std::size_t nameEnd = static_cast<std::size_t>(p - window) + needle.size();
    // A header whose stored name ends exactly at this zero byte: the name may carry a
    // short prefix in front of the searched path.
    const std::size_t at = static_cast<std::size_t>(p - window);
    for (std::size_t prefix = 0; prefix <= kMaxNamePrefix; ++prefix) {
      if (at < prefix + kCpioHeaderSize) break;
      const std::size_t h = at - prefix - kCpioHeaderSize;
      CpioHeader header;
      if (window[h] != '0' || !ParseCpioHeader(window + h, windowSize - h, header)) continue;
      if (h + kCpioHeaderSize + header.nameSize != nameEnd || !header.IsRegularFile()) continue;
      span.offset = nameEnd;
      span.size = std::min<std::uint64_t>(header.fileSize, total - nameEnd);
      span.fromHeader = true;
      return true;
    }
    ++p;
  }
  if (first == nullptr) return false;
  // No header leads to the name: the data runs to the next member's magic.
  const unsigned char* dataStart = first + needle.size();
  const unsigned char* next =
      std::search(dataStart, end, kNextHeader, kNextHeader + 8,
                  [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); });
  if (next == end) return false;
  span.offset = static_cast<std::uint64_t>(dataStart - window);
  span.size = static_cast<std::uint64_t>(next - dataStart);
  span.fromHeader = false;
  return true;
}

std::size_t WalkCpio(const ByteReader& read, std::uint64_t archiveSize,
                     const std::function<bool(const CpioMember&)>& visit) {
  std::size_t visited = 0;
  std::uint64_t pos = 0;
  unsigned char head[kCpioHeaderSize];
  while (pos < archiveSize && archiveSize - pos >= kCpioHeaderSize) {
    if (read(pos, head, sizeof head) != sizeof head) break;
    CpioMember member;
    if (!ParseCpioHeader(head, sizeof head, member.header)) break;
    const std::uint64_t nameAt = pos + kCpioHeaderSize;
    if (member.header.nameSize > archiveSize - nameAt) break;
    member.name.resize(member.header.nameSize);
    if (read(nameAt, member.name.data(), member.name.size()) != member.name.size()) break;
    // The stored name ends in a zero byte; anything after an early one is not the name.
    member.name.resize(std::strlen(member.name.c_str()));
    member.dataOffset = nameAt + member.header.nameSize;
    if (member.header.fileSize > archiveSize - member.dataOffset) break;
    if (member.name == kTrailer) break;
    ++visited;
    if (!visit(member)) break;
    pos = member.dataOffset + member.header.fileSize;
  }
  return visited;
}

Result CopyArchiveRange(const fs::path& archive, std::uint64_t offset, std::uint64_t size,
                        const fs::path& copy) {
  platform::ReadOnlyFile in;
  if (const int rc = in.Open(archive); rc != 0)
    return rc == platform::kNotRegularFile ? ENOENT : rc;
  // Replaced, never appended to: a longer earlier copy must not leave its tail behind.
  platform::UniqueFd out(::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!out.Valid()) return errno;
  std::vector<unsigned char> piece(kCopyPiece);
  std::uint64_t done = 0;
  while (done < size) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kCopyPiece, size - done));
    const std::size_t got = ReadAt(in, offset + done, piece.data(), want);
    if (got == 0) break;
    if (!platform::WriteAll(out.Get(), piece.data(), got)) return errno != 0 ? errno : EIO;
    done += got;
  }
  return kSuccess;
}

Result CutMember(const fs::path& archive, std::string_view memberPath, const fs::path& copy) {
  platform::ReadOnlyFile in;
  if (in.Open(archive) != 0) return kSuccess;  // nothing unpacked: nothing to cut, no error
  const std::int64_t total = in.Size();
  if (total <= 0) return kSuccess;
  std::vector<unsigned char> window(static_cast<std::size_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(total), kMemberSearchWindow)));
  window.resize(ReadAt(in, 0, window.data(), window.size()));
  MemberSpan span;
  if (!FindMember(window.data(), window.size(), static_cast<std::uint64_t>(total), memberPath,
                  span)) {
    return kSuccess;
  }
  return CopyArchiveRange(archive, span.offset, span.size, copy);
}

}  // namespace bv

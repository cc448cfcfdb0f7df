#include "rawsqlite/wal_log.h"

namespace bv {

namespace {

constexpr std::uint32_t kMagicLittle = 0x377f0682;  // checksums over little-endian words
constexpr std::uint32_t kMagicBig = 0x377f0683;     // checksums over big-endian words
constexpr std::uint32_t kFormat = 3007000;
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kFrameHeaderSize = 24;

std::uint32_t Big32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

std::uint32_t Little32(const unsigned char* p) {
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
         std::uint32_t{p[0]};
}

// SQLite's log checksum: Fletcher-like over pairs of 32-bit words, continued from
// (s0, s1). `size` is a multiple of 8 (header parts and page sizes are).
void Checksum(const unsigned char* data, std::size_t size, bool bigEndian, std::uint32_t& s0,
              std::uint32_t& s1) {
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint32_t x0 = bigEndian ? Big32(data + i) : Little32(data + i);
    const std::uint32_t x1 = bigEndian ? Big32(data + i + 4) : Little32(data + i + 4);
    s0 += x0 + s1;
    s1 += x1 + s0;
  }
}

// Whether a frame of this generation from `at` on closes a transaction. SQLite writes
// the frames of a transaction that has not committed yet (a cache spill) and may write
// them again in place before the commit, so their checksums need not chain: a broken
// frame with no commit behind it is an unfinished transaction, which SQLite ignores
// too, and loses nothing saved.
bool CommitFollows(const unsigned char* data, std::size_t size, std::size_t at,
                   std::size_t frameSize, std::uint32_t salt1, std::uint32_t salt2) {
  for (; at < size && size - at >= frameSize; at += frameSize) {
    const unsigned char* frame = data + at;
    if (Big32(frame + 8) == salt1 && Big32(frame + 12) == salt2 && Big32(frame + 4) != 0)
      return true;
  }
  return false;
}

bool ValidPageSize(std::uint32_t size) {
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

}  // namespace

WalLog ReadWalLog(const unsigned char* data, std::size_t size) {
  WalLog log;
  if (size == 0) return log;
  if (size < kHeaderSize) {
    log.problem = "is cut short (" + std::to_string(size) + " bytes): none of its changes are read";
    return log;
  }
  const std::uint32_t magic = Big32(data);
  if (magic != kMagicLittle && magic != kMagicBig) {
    log.problem = "is damaged (no log header): none of its changes are read";
    return log;
  }
  log.bigEndianChecksums = magic == kMagicBig;
  log.pageSize = Big32(data + 8);
  // The format stores 65536 as 1.
  if (log.pageSize == 1) log.pageSize = 65536;
  log.checkpointSequence = Big32(data + 12);
  log.salt1 = Big32(data + 16);
  log.salt2 = Big32(data + 20);
  std::uint32_t s0 = 0, s1 = 0;
  Checksum(data, 24, log.bigEndianChecksums, s0, s1);
  if (Big32(data + 4) != kFormat || !ValidPageSize(log.pageSize) || s0 != Big32(data + 24) ||
      s1 != Big32(data + 28)) {
    log.problem = "is damaged (its header does not check): none of its changes are read";
    return log;
  }
  log.headerValid = true;

  const std::size_t frameSize = kFrameHeaderSize + log.pageSize;
  std::size_t at = kHeaderSize;
  bool damaged = false;
  while (at < size) {
    if (size - at < frameSize) {
      damaged = true;  // a frame cut in the middle: SQLite writes whole frames
      break;
    }
    const unsigned char* frame = data + at;
    // Another generation's salts: the log ends here, as SQLite reads it.
    if (Big32(frame + 8) != log.salt1 || Big32(frame + 12) != log.salt2) break;
    std::uint32_t f0 = s0, f1 = s1;
    Checksum(frame, 8, log.bigEndianChecksums, f0, f1);
    Checksum(frame + kFrameHeaderSize, log.pageSize, log.bigEndianChecksums, f0, f1);
    const std::uint32_t page = Big32(frame);
    if (page == 0 || f0 != Big32(frame + 16) || f1 != Big32(frame + 20)) {
      damaged = CommitFollows(data, size, at, frameSize, log.salt1, log.salt2);
      break;
    }
    s0 = f0;
    s1 = f1;
    WalFrame f;
    f.page = page;
    f.commitSize = Big32(frame + 4);
    f.imageOffset = at + kFrameHeaderSize;
    log.frames.push_back(f);
    if (f.commitSize != 0) {
      log.committed = log.frames.size();
      log.databasePages = f.commitSize;
    }
    at += frameSize;
  }
  if (damaged) {
    const std::string how = size - at < frameSize ? "is cut short" : "is damaged";
    log.problem = log.committed == 0
                      ? how + " before its first saved change: none of its changes are read"
                      : how + " after " + std::to_string(log.committed) +
                            " saved page changes: the later ones are not read";
  }
  return log;
}

std::unordered_map<std::uint32_t, std::uint64_t> NewestCommittedPages(const WalLog& log) {
  std::unordered_map<std::uint32_t, std::uint64_t> newest;
  for (std::size_t i = 0; i < log.committed; ++i)
    newest[log.frames[i].page] = log.frames[i].imageOffset;
  return newest;
}

}  // namespace bv

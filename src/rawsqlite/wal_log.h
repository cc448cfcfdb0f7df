#pragma once
// The frames of a SQLite write-ahead log ("-wal" file), checked the way SQLite checks
// them when it replays a log: a 32-byte header (magic, format 3007000, page size, two
// salts, a checksum over the header), then frames of a 24-byte header (page number, the
// database size in pages on a commit frame, the salts, a checksum chained from the
// previous frame over the frame header's first 8 bytes and the page image) and one page
// image each. The log ends at the first frame whose salts differ (frames of an earlier
// generation that a restarted log has not overwritten yet: normal) or whose checksum
// fails (damage); only frames up to the last commit frame before that end count.
// Bounds-checked over arbitrary bytes; no I/O.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace bv {

struct WalFrame {
  std::uint32_t page = 0;         // 1-based page number of the database
  std::uint32_t commitSize = 0;   // database size in pages after a commit frame, else 0
  std::uint64_t imageOffset = 0;  // where the page image starts in the log
};

struct WalLog {
  bool headerValid = false;
  bool bigEndianChecksums = false;
  std::uint32_t pageSize = 0;
  std::uint32_t checkpointSequence = 0;
  std::uint32_t salt1 = 0, salt2 = 0;
  // Valid frames in log order, up to the end of the log (committed or not).
  std::vector<WalFrame> frames;
  // How many of `frames` belong to committed transactions (a prefix of them).
  std::size_t committed = 0;
  // The database size in pages after the last committed transaction; 0 without one.
  std::uint32_t databasePages = 0;
  // Why the log, or part of it, cannot be applied, in words for the user ("is cut
  // short after 12 of its changes"); empty when every frame that the file holds is
  // either applied or of an earlier generation, or the file is empty.
  std::string problem;
};

// Reads the log in `data` (the whole file). A file of 0 bytes is an empty log without
// a problem.
WalLog ReadWalLog(const unsigned char* data, std::size_t size);

// For each page, the log offset of its newest committed image.
std::unordered_map<std::uint32_t, std::uint64_t> NewestCommittedPages(const WalLog& log);

}  // namespace bv

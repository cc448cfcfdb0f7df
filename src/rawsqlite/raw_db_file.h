#pragma once
// RawDbFile: reads an SQLite database file page by page without the SQLite library, so
// that rows the library no longer shows (freeblocks, unallocated space, freed pages)
// can be carved beside the live rows. Used by the chat store passes.
//
// Thread-compatible: one object per pass, used by one thread.
//
// The file format as far as this reader uses it (multi-byte integers big-endian).
// Page numbers in the file are 1-based; we keep 0-based page indices and read page
// index i at byte offset i * page_size.
//
// File header (first 100 bytes of page index 0):
//
//   | Offset | Size | Use                                                      |
//   |--------|------|----------------------------------------------------------|
//   |    0   |  16  | "SQLite format 3\0" (compared ignoring ASCII case)      |
//   |   16   |   2  | page size; 1 means 65536                                 |
//   |   20   |   1  | reserved bytes at the end of each page (usable size)     |
//   |   32   |   4  | page number of the first freelist trunk page, 0 = none   |
//
// B-tree page header (offset 0 of a page; offset 100 on page index 0):
//
//   | Offset | Size | Use                                                      |
//   |--------|------|----------------------------------------------------------|
//   |    0   |   1  | 0x0D leaf table page, 0x05 interior table page           |
//   |    1   |   2  | first freeblock offset, 0 = none                         |
//   |    3   |   2  | number of cells                                          |
//   |    5   |   2  | start of the cell content area                           |
//   |    7   |   1  | fragmented free bytes (not read)                         |
//   |    8   |   4  | right-most child page number (interior pages only)       |
//   |  8/12  | 2*n  | cell pointer array (leaf/interior), offsets from the     |
//   |        |      | start of the page buffer, also on page index 0           |
//
//   page:  [header][cell pointers][ unallocated ][ cells and freeblocks ...... ]
//                                 ^ gap carving  ^ content area start (offset 5)
//
// Cells:
//   interior table cell : 4-byte child page number, varint key
//   leaf table cell     : varint payload length P, varint row id, payload[,4-byte
//                         first overflow page when P does not fit the page]
//   payload (a record)  : varint header size H (counting itself), one varint serial
//                         type per column, then the column contents in order
//   freeblock           : 2-byte next freeblock offset, 2-byte block size (it
//                         overwrites the first four bytes of a deleted cell)
//   freelist trunk page : 4-byte next trunk page, 4-byte leaf count n, n 4-byte leaf
//                         page numbers
//   overflow page       : 4-byte next overflow page (0 ends the chain), payload
//
// Serial types and content sizes:
//   0 NULL (0) | 1..4 int of 1..4 bytes | 5 int (6) | 6,7 int/float (8)
//   8,9 constants 0 and 1 (0) | 10,11 unused (0) | 12,13 empty blob/text (0)
//   even N >= 14 blob of (N-12)/2 | odd N >= 15 UTF-8 text of (N-13)/2
//
// Varints (our rule for every such field): 7 bits per byte, most significant group
// first, the first byte with a clear top bit ends it; a caller-given limit caps the
// bytes taken (no special ninth-byte rule; 9 bytes give 63 bits).
//
// Carved-header rule (a carved position points at the first serial type; payload
// length, row id and header size are missing): with C expected columns, a zero first
// byte means C serial types for columns 0..C-1; a non-zero first byte means column 0's
// type was lost and C-1 types belong to columns 1..C-1. C is the caller's: the reader
// knows pages, cells and records, not which tables an app keeps (see carving.h and the
// passes).
//
// Write-ahead log: opened with one (open(path, log_path)), the reader sees the database
// as SQLite sees it with the log applied: a page is read as the log's newest image of it
// in a committed transaction when the log has one, else from the file, and the page
// count is the one the log's last commit gives. The log's older images of a page (those
// a later commit replaced) stay readable for carving (SupersededImages). A log that is
// missing, damaged, cut, of another page size or unreadable is used as far as it is
// sound, or not at all; LogProblem() says why in words.
//
// Every read is bounds-checked against its page or joined buffer, and every walk over
// file-controlled links (b-tree children, overflow chains, the freelist, freeblock
// chains) stops when a page or offset repeats, so no input can crash or hang it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/files.h"

namespace bv {

using Bytes = std::span<const std::uint8_t>;

// Offsets of the live cells of every leaf page under one root: leaf page index ->
// cell offsets in pointer-array order.
using CellMap = std::map<std::int32_t, std::list<std::uint16_t>>;
// Carving candidates of every leaf page under one root.
using CandidateMap = std::map<std::int32_t, std::list<std::uint16_t>>;

class RawDbFile {
 public:
  RawDbFile();
  ~RawDbFile();
  RawDbFile(const RawDbFile&) = delete;
  RawDbFile& operator=(const RawDbFile&) = delete;

  std::uint16_t page_size = 0;  // 0 stands for 65536 once open (see PageSize())
  std::vector<std::int32_t> free_pages;
  // Page indexes of the freelist's trunk pages, in chain order (not in free_pages).
  std::vector<std::int32_t> freeTrunks;

  // Opens an existing file read-only. 0, the platform error code, or 87 when the file
  // is no SQLite database or its page size is impossible, or no regular file (a FIFO or
  // a device node, which is never opened for reading).
  std::int32_t open(const std::string& path);
  // The same, with the write-ahead log at `log_path` (any name and folder: a backup
  // keeps the log as a file of its own; empty: no log). The log never fails the open.
  std::int32_t open(const std::string& path, const std::string& log_path);
  void Close();

  // Why the log given to open is not applied, or only in part, as SQLite's readers say
  // it after "<database>'s write-ahead log " ("is cut short after 12 saved page
  // changes: the later ones are not read"); empty when there was no log, or it was
  // applied whole (an unfinished last transaction is no problem).
  const std::string& LogProblem() const { return logProblem_; }
  // Pages whose newest image comes from the log (0 without a log).
  std::size_t LogPageCount() const { return logPages_.size(); }
  // An older image of a page than the one the reader shows: the file's own image of a
  // page that the log replaces, or a committed image in the log that a later commit
  // replaced. Deleted rows may live on only there. Frames of a transaction that was
  // never committed are left out: they were never part of the database.
  struct OlderImage {
    std::int32_t page = 0;     // page index (0-based)
    std::uint64_t offset = 0;  // where the image starts in the log, or in the file
    bool inLog = false;
    std::size_t frame = 0;  // in the log: its frame's position among the log's frames
  };
  // By page index; of one page the file's image first, then the log's in log order.
  // Empty without a log.
  const std::vector<OlderImage>& SupersededImages() const { return superseded_; }
  // The older images of page index `page` (a part of SupersededImages()).
  std::span<const OlderImage> OlderImagesOf(std::int32_t page) const;
  // Reads an older image (PageSize() bytes) into `buffer`; 0, or 87 / 30 as read_at.
  std::int32_t ReadOlderImage(const OlderImage& image, std::uint8_t* buffer);
  // While an object of this class lives, read_page shows the database as it was when
  // `image` was its page's newest image (the file alone for a file image; the log's
  // committed frames before and at the image's for a log image), bypassing the cache:
  // the overflow chain of a row in an older image is read as it was then.
  class AsOf {
   public:
    AsOf(RawDbFile& reader, const OlderImage& image) : reader_(reader) {
      reader_.asOf_ = image.inLog ? static_cast<std::int64_t>(image.frame) + 1 : 0;
    }
    ~AsOf() { reader_.asOf_ = -1; }
    AsOf(const AsOf&) = delete;
    AsOf& operator=(const AsOf&) = delete;

   private:
    RawDbFile& reader_;
  };
  // True inside an AsOf: read_page shows an older state of the database.
  bool ShowsOlderState() const { return asOf_ >= 0; }
  // Which state read_page shows: -1 now, else the number of log frames that count (0:
  // the file alone). Images of one page read in different states are different pages.
  std::int64_t ShownState() const { return asOf_; }

  // Page size in bytes (65536 for the header value 1).
  std::uint32_t PageSize() const { return page_size == 0 && IsOpen() ? 65536u : page_size; }
  // A file is open (open() succeeded and Close() was not called since).
  bool IsOpen() const { return file_.IsOpen(); }
  // Usable bytes of a page: page size minus the reserved tail.
  std::uint32_t UsableSize() const { return PageSize() - reserved_; }
  // Number of whole and partial pages in the file.
  std::int64_t PageCount() const { return pageCount_; }

  // Reads `length` bytes at `offset`. 87 when nothing is open, 30 on a short read.
  std::int32_t read_at(std::uint64_t offset, std::uint32_t length, std::uint8_t* buffer);
  // Reads page index `index` into `buffer` (PageSize() bytes).
  std::int32_t read_page(std::int32_t index, std::uint8_t* buffer);
  // The same page without the copy: `view` shows it where the reader keeps it, and
  // stays valid, whatever else is read meanwhile, until the next PageView or Close.
  // Under AsOf the page is read into `spare` (resized to the page size) and shown
  // there. The page fetch is the one of read_page, so both show the same bytes.
  std::int32_t PageView(std::int32_t index, Bytes& view, std::vector<std::uint8_t>& spare);

  // Varint at the start of `bytes`, taking at most `limit` bytes and never leaving
  // `bytes`. `length` receives the bytes used (left unchanged for limit <= 0).
  // `truncated`, when given, is set when the buffer ended before a terminating byte
  // and before the limit.
  static std::uint64_t read_varint(Bytes bytes, std::int64_t limit, int& length,
                                   bool* truncated = nullptr);
  // Summed length of `count` consecutive varints at the start of `bytes`; 0 when one
  // would leave the buffer.
  std::uint32_t varints_length(Bytes bytes, std::uint32_t count) const;
  // Serial types plus contents of a record at a carved position, by the carved-header
  // rule with C = `columns` (`header_length` bytes of types when C is 0), counting
  // contents only while they fit `available`.
  std::uint32_t record_length(Bytes bytes, std::uint32_t columns, std::uint32_t header_length,
                              std::int64_t available) const;

  // Root page indices (-> key -1) of every schema row whose type, name or table name is
  // `name`. Reads page index 0 and the schema b-tree.
  std::map<std::int32_t, std::int64_t> find_root_pages(const std::string& name);
  // Child page index -> key of an interior page (right-most child with key -1).
  std::map<std::int32_t, std::int64_t> child_pages(Bytes page) const;
  // Leaf index -> live cell offsets for the sub-tree under `page` (index `index`).
  // Returns 0 or the code of the first failing page read.
  std::int32_t collect_live_cells(std::int32_t index, Bytes page, CellMap& cells);
  // Calls `visit` with every leaf page of the sub-tree under `page` (index `index`), in
  // ascending page index per interior page, as collect_live_cells walks it. Returns 0
  // or the code of the first failing page read.
  using LeafVisitor = std::function<void(std::int32_t index, Bytes leaf)>;
  std::int32_t WalkLeaves(std::int32_t index, Bytes page, const LeafVisitor& visit);
  // Cell offsets of one page.
  std::list<std::uint16_t> cell_offsets(Bytes page) const;
  // The same offsets into `out` (replacing its contents), without a node per cell.
  void CellOffsets(Bytes page, std::vector<std::uint16_t>& out) const;
  // The bytes that the live cell at `cell_offset` takes up in its page: its head, its
  // local payload and, when the payload spills, the 4-byte first overflow page number.
  // Clamped to the page.
  std::uint32_t CellExtent(Bytes page, std::uint32_t cell_offset) const;
  // Bytes of a payload of `payload` bytes that a leaf page of `page_bytes` bytes keeps
  // itself (the rest lies on overflow pages).
  std::uint64_t LocalPayload(std::uint64_t payload, std::uint32_t page_bytes) const;
  // The bytes of a live cell from `cell_offset`: `view` is set to the page from the cell
  // to its end, or, when the payload overflows, to `joined` holding the cell's local
  // part followed by its overflow chain. `next_offset` is the smallest other live cell
  // offset above it (page size when none). Returns 0 or the code of a failing
  // overflow read.
  std::int32_t read_live_payload(Bytes page, std::uint32_t cell_offset, std::uint32_t next_offset,
                                 std::vector<std::uint8_t>& joined, Bytes& view);

 private:
  std::int32_t Walk(std::int32_t index, Bytes page, const LeafVisitor& visit,
                    std::set<std::int32_t>& visited, int depth);
  void SchemaWalk(Bytes page, const std::string& name, std::map<std::int32_t, std::int64_t>& roots,
                  std::set<std::int32_t>& visited, int depth);
  void SchemaLeaf(Bytes page, const std::string& name, std::map<std::int32_t, std::int64_t>& roots);
  // Read with one positioned read per page (no seek, no stream buffer).
  platform::ReadOnlyFile file_;
  // Recent pages: `cacheSlots_` holds up to `cacheCapacity_` pages back to back, reused
  // in first-in first-out order; `cache_` maps a page index to its slot.
  std::unordered_map<std::int32_t, std::uint32_t> cache_;
  std::vector<std::uint8_t> cacheSlots_;
  std::vector<std::int32_t> cacheOwners_;  // page index per slot
  std::uint32_t cacheCapacity_ = 0;
  std::uint32_t cacheNext_ = 0;  // the slot to fill next
  // The slot of the last PageView, which no other page may take until the next view.
  std::uint32_t pinned_ = 0xFFFFFFFFu;
  // Finds page `index` (in range) in the cache, in the log, or reads it into a slot;
  // `where` receives where its bytes are.
  std::int32_t FetchPage(std::int32_t index, const std::uint8_t*& where, std::uint32_t* slot);
  std::uint32_t reserved_ = 0;
  std::int64_t pageCount_ = 0;
  // The log: its bytes, and for each page index its newest committed image's offset.
  std::string logBytes_;
  std::unordered_map<std::int32_t, std::uint64_t> logPages_;
  std::vector<OlderImage> superseded_;
  std::string logProblem_;
  // Committed images of each page in the log: (frame position, offset), in log order.
  std::unordered_map<std::int32_t, std::vector<std::pair<std::size_t, std::uint64_t>>> history_;
  std::int64_t filePages_ = 0;
  // -1: now; else the number of log frames that count (see AsOf).
  std::int64_t asOf_ = -1;
  std::int32_t ReadPageAsOf(std::int32_t index, std::uint8_t* buffer);
  void ApplyLog(const std::string& log_path);
};

// The "-wal" file beside `path` (UTF-8) when there is one as a regular file, else empty:
// for databases copied out of a phone or extracted by hand, where SQLite keeps it.
std::string LogBeside(const std::string& path);

// Inline: the decoders read several varints per cell, most of them one byte long.
inline std::uint64_t RawDbFile::read_varint(Bytes bytes, std::int64_t limit, int& length,
                                            bool* truncated) {
  if (truncated) *truncated = false;
  if (limit <= 0) return 0;
  const std::size_t readable = static_cast<std::size_t>(
      std::min<std::int64_t>(limit, static_cast<std::int64_t>(bytes.size())));
  if (readable != 0 && bytes[0] < 0x80) {
    length = 1;
    return bytes[0];
  }
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < readable; ++i) {
    value = (value << 7) | (bytes[i] & 0x7F);
    if ((bytes[i] & 0x80) == 0) {
      length = static_cast<int>(i + 1);
      return value;
    }
  }
  length = static_cast<int>(readable);
  if (truncated && static_cast<std::int64_t>(readable) < limit) *truncated = true;
  return value;
}

// Inline for the carving scans, which test a run of serial types at almost every byte
// of free space. Each varint is read as read_varint reads it, with at most the page
// size less the previous varint's length in bytes.
inline std::uint32_t RawDbFile::varints_length(Bytes bytes, std::uint32_t count) const {
  const std::size_t size = bytes.size();
  const std::int64_t page = PageSize();
  std::size_t total = 0;
  std::int64_t previous = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (total >= size) return 0;
    const std::int64_t limit = page - previous;
    if (limit <= 0) return 0;
    if (bytes[total] < 0x80) {
      ++total;
      previous = 1;
      continue;
    }
    const std::size_t readable = static_cast<std::size_t>(
        std::min<std::int64_t>(limit, static_cast<std::int64_t>(size - total)));
    std::size_t length = 0;
    while (length < readable && (bytes[total + length] & 0x80) != 0) ++length;
    if (length == readable) {
      // No last byte: cut off by the buffer (a failure) or by the limit (taken as is).
      if (static_cast<std::int64_t>(readable) < limit) return 0;
    } else {
      ++length;
    }
    total += length;
    previous = static_cast<std::int64_t>(length);
  }
  return static_cast<std::uint32_t>(total);
}

// True when the page buffer begins with the 16-byte file magic (page index 0).
bool StartsWithMagic(Bytes page);
// The bytes of `b` from `offset` on; empty when `offset` lies at or beyond its end.
inline Bytes Tail(Bytes b, std::size_t offset) {
  return offset < b.size() ? b.subspan(offset) : Bytes{};
}
// Content size of a serial type.
inline std::uint64_t SerialContentSize(std::uint64_t type) {
  static constexpr std::uint8_t kFixed[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
  if (type < 12) return kFixed[type];
  return type % 2 == 0 ? (type - 12) / 2 : (type - 13) / 2;
}
// Big-endian reads that yield 0 outside the buffer.
inline std::uint32_t Be16(Bytes b, std::size_t offset) {
  if (offset >= b.size() || b.size() - offset < 2) return 0;
  return (std::uint32_t{b[offset]} << 8) | b[offset + 1];
}
inline std::uint32_t Be32(Bytes b, std::size_t offset) {
  if (offset >= b.size() || b.size() - offset < 4) return 0;
  return (std::uint32_t{b[offset]} << 24) | (std::uint32_t{b[offset + 1]} << 16) |
         (std::uint32_t{b[offset + 2]} << 8) | b[offset + 3];
}

}  // namespace bv

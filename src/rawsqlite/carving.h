#pragma once
// Deleted-row carving over the pages of one table: the positions where a deleted record
// may still lie. Every position is the offset of the first serial type of a supposed
// record (its payload length, row id and header size are missing); the carved-header
// rule of raw_db_file.h decides which columns its serial types belong to, with the
// table's expected column count C.
//
// Strategies, run in this order on one leaf page:
//   A  the freeblock chain (a deleted cell whose first four bytes became the
//      freeblock's link and size);
//   B  the area behind the highest live cell;
//   C  the unallocated gap between the cell pointer array and the content area;
//   D  stale entries of the cell pointer array beyond the cell count.
// Beyond these, the table passes carve the free space itself (CarveFreeSpace): rows
// that SQLite merged into one freeblock or gave back to the unallocated space keep
// their serial types and contents behind a few overwritten head bytes, and each is
// recognised by the kinds of value the table's live rows hold per column.
//
// No position lies inside a live cell of its page: the pointer array says where the
// live cells are, and a read that starts inside one would show a piece of a live row
// as a deleted one.
//
// Thread-compatible: one Carver per table pass.
#include <array>
#include <cstdint>
#include <list>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "rawsqlite/raw_db_file.h"

namespace bv {

// The expected column counts of the tables that the passes know (the `expected_columns`
// lookup). Names compare ignoring ASCII case, except the two prefix rows ("Chat_" and
// "tb_c2cMsg"), which compare exactly; the first matching row wins.
struct ColumnCounts {
  std::uint32_t message_columns = 38;     // "message"
  std::uint32_t wa_message_columns = 28;  // "ZWAMESSAGE"
  // Replaces the count of "call" in the header tests of strategies B and C.
  std::uint32_t call_columns = 0;
  // Above 25 selects 25 columns for "ABPersonFullTextSearch_content", else 24.
  std::uint32_t person_index_columns = 0;
  // For names the table does not list (0 = none): lets the carve command inspect any
  // table.
  std::uint32_t otherColumns = 0;
  // The column count of one table as its own CREATE statement declares it, which wins
  // over the rows below (the layouts of the system versions differ); empty for none.
  std::string declaredTable;
  std::uint32_t declaredColumns = 0;

  std::uint32_t expected_columns(const std::string& name) const;
};

// What carving needs to know of the table whose pages it reads.
struct CarveTable {
  std::string name;           // "message" and "call" have rules of their own
  std::uint32_t columns = 0;  // C; 0 means unknown, and nothing is carved
  std::uint32_t call_columns = 0;
  // The free-space scan also takes records that spilled into overflow pages (their local
  // part and link lie in the page).
  bool spilled = false;
};

// The kind of value of a serial type: 1 integer, 2 real, 4 text, 8 blob, 16 NULL; 0 for
// the reserved types.
inline std::uint8_t SerialKind(std::uint64_t type) {
  if (type == 0) return 16;
  if (type == 10 || type == 11) return 0;
  if (type <= 6 || type == 8 || type == 9) return 1;
  if (type == 7) return 2;
  return type % 2 == 1 ? 4 : 8;
}

// Per column, the kinds of value (integer, real, text, blob, NULL) seen in live rows
// of a table. Learned from the cells of the table's own pages.
class ColumnSignature {
 public:
  // Adds the record header of every live cell of a leaf page.
  void Learn(Bytes page, std::span<const std::uint16_t> cells);
  void Learn(Bytes page, const std::list<std::uint16_t>& cells);
  bool empty() const { return kinds_.empty(); }
  // True when serial type `type` is of a kind seen in column `column`. (Inline, as the
  // two below: the free-space scan asks them at almost every byte.)
  bool Fits(std::size_t column, std::uint64_t type) const {
    const std::uint8_t kind = SerialKind(type);
    return kind != 0 && column < kinds_.size() && (kinds_[column] & kind) != 0;
  }
  // True when column `column` held a NULL or a number whose contents take `bytes` bytes
  // (0 for NULL and the constants 0 and 1).
  bool HasWidth(std::size_t column, std::uint32_t bytes) const {
    return column < widths_.size() && bytes <= 8 && (widths_[column] >> bytes & 1u) != 0;
  }
  // Kinds of value for a column that no live row showed: `kinds` of 1 integer, 2 real,
  // 4 text, 8 blob, 16 NULL; integers of the content widths in `widths` (bit n: n
  // bytes; NULL and the constants 0 and 1 take none).
  void Allow(std::size_t column, std::uint8_t kinds, std::uint16_t widths = 0x1FF);
  // True when a live row held `value` (from -128 to 127) in column `column` as a
  // one-byte integer or one of the constants 0 and 1.
  bool HasValue(std::size_t column, std::int64_t value) const;
  // Whether a record may begin with the one-byte serial types `first` and `second`: as
  // columns 0 and 1 (column 0 of a width seen), or, column 0's type lost, as columns 1
  // and 2. A quick test for scanning free space byte by byte; types of more than one
  // byte (128 or more) always pass.
  bool MayStart(std::uint8_t first, std::uint8_t second) const {
    if (!startsBuilt_) BuildStarts();
    const std::uint8_t a = first < 128 ? starts_[first] : 7;
    const std::uint8_t b = second < 128 ? starts_[second] : 7;
    return ((a & 1) != 0 && (b & 2) != 0) || ((a & 2) != 0 && (b & 4) != 0);
  }

 private:
  void Grow(std::size_t columns);
  void BuildStarts() const;
  void Note(std::size_t column, std::int64_t value);

  std::vector<std::uint8_t> kinds_;
  std::vector<std::uint16_t> widths_;                 // bit n: contents of n bytes seen
  std::vector<std::array<std::uint64_t, 4>> values_;  // small integers seen
  // MayStart's tables, built when first needed after a change: bit c of [type] for
  // column c (0 with its width) in 0..2.
  mutable std::array<std::uint8_t, 128> starts_{};
  mutable bool startsBuilt_ = false;
};

// The end of a record whose serial types begin at `x` (for the columns from `first`, 1
// when column 0's type was lost), or -1 unless every type is of a kind that `signature`
// saw in its column, column 0 takes a width it saw (when its type was lost: none, or
// else the narrowest integer it saw still leads the contents), one column holds text,
// and the contents end by `end`. Recognises records in free space
// whose head was overwritten. `longest_text`, when given, receives where the contents
// of its longest text column begin and their size.
struct TextSpan {
  std::int64_t from = -1;
  std::int64_t size = 0;
};
// With `spill_usable` (the usable page size), a record whose contents run past `end` is
// taken when it spills by the file format's rule and its local part and overflow link end
// by `end`: the result is then the end of that link, and the text span is cut at it.
std::int64_t RecordEndAt(Bytes page, const ColumnSignature& signature, std::uint32_t columns,
                         std::int64_t x, std::uint32_t first, std::int64_t end,
                         TextSpan* longest_text = nullptr, std::uint32_t spill_usable = 0);
// The offset of the first byte in [from, to) of `page` that no UTF-8 text holds (an
// invalid sequence, a NUL or a control character other than tab, line feed and
// carriage return), or -1 when all of it is text.
std::int64_t FirstNonTextByte(Bytes page, std::int64_t from, std::int64_t to);

// The byte ranges [start, end) that the live cells of one page take up, in order.
class LiveCells {
 public:
  LiveCells() = default;
  LiveCells(const RawDbFile& reader, Bytes page);
  // True when `offset` lies inside a live cell.
  bool Contains(std::int64_t offset) const { return CoveredUntil(offset) > offset; }
  // The end of the live cell that covers `offset`; `offset` itself when none does.
  std::int64_t CoveredUntil(std::int64_t offset) const;
  // The start of the first live cell that begins after `offset`, else `otherwise`.
  std::int64_t NextStart(std::int64_t offset, std::int64_t otherwise) const;
  bool empty() const { return ranges_.empty(); }

 private:
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges_;  // sorted by start
  std::vector<std::int64_t> furthest_;                         // furthest end among ranges_[0..i]
};

class Carver {
 public:
  Carver(RawDbFile& reader, CarveTable table) : reader_(reader), table_(std::move(table)) {}
  const CarveTable& table() const { return table_; }
  RawDbFile& reader() const { return reader_; }

  // Leaf index -> candidate offsets for the sub-tree under `page` (index `index`),
  // walked like collect_live_cells. 0 or the code of the first failing page read.
  std::int32_t collect_candidates(std::int32_t index, Bytes page, CandidateMap& candidates);
  // Candidate offsets of one leaf page: strategies A, B, C, D in that order, without
  // the positions that lie inside a live cell. A position found by two strategies is
  // listed twice.
  std::list<std::uint16_t> carve_page(Bytes page);
  // Serial-type count of the first cell of the lowest leaf of a freed page's cell map;
  // -1 when the map holds no cell or the record cannot be read.
  std::int32_t match_free_page(const CellMap& cells);

  // The individual strategies (positions inside live cells included), for tests and
  // the carve command.
  void CarveFreeblocks(Bytes page, std::list<std::uint16_t>& out);
  void CarveTail(Bytes page, std::list<std::uint16_t>& out);
  void CarveGap(Bytes page, std::list<std::uint16_t>& out);
  void CarveStalePointers(Bytes page, std::list<std::uint16_t>& out);
  // Deleted records in free space beyond the candidates of the strategies above:
  // inside freeblocks (SQLite merges neighbouring freed cells into one block, so a run
  // of deleted rows becomes a single block holding all of them) and in the unallocated
  // space below the content area, each record behind a few overwritten head bytes. A
  // position is taken when its serial types, read with all C columns or with column 0
  // lost, are of the kinds the table's live rows hold in those columns (`signature`),
  // one of them is text, and the record ends before the next live cell; the scan then
  // goes on behind that record. Positions in `known` are left out. An interior page is
  // read the same way (its pointer array starts at 12); a page without cells (a freed
  // page of a dropped table) is read whole.
  // `live`, when given, are the page's live cells (already worked out by the caller).
  void CarveFreeSpace(Bytes page, const ColumnSignature& signature,
                      const std::list<std::uint16_t>& known, std::list<std::uint16_t>& out,
                      const LiveCells* live = nullptr);
  // The same scan over the bytes [from, to) of a page (a freelist trunk page's old
  // contents, for instance).
  void CarveRegion(Bytes page, const ColumnSignature& signature, std::int64_t from, std::int64_t to,
                   const std::set<std::uint16_t>& known, std::list<std::uint16_t>& out);

 private:
  void ScanRegion(Bytes page, const ColumnSignature& signature, const LiveCells& live,
                  std::int64_t from, std::int64_t to, const std::set<std::uint16_t>& known,
                  std::list<std::uint16_t>& out);

  RawDbFile& reader_;
  CarveTable table_;
};

}  // namespace bv

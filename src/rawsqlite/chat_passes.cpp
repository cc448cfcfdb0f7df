// The generic table pass, the four row decoders and the two chat store passes.
#include "rawsqlite/chat_passes.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>
#include <ctime>
#include <set>
#include <unordered_map>
#include <vector>

#include "common/hash.h"
#include "common/result_codes.h"
#include "common/text.h"
#include "platform/platform.h"
#include "rawsqlite/record_cursor.h"

namespace bv {

namespace {

// Smallest other offset of the sorted list above `offset`, else the page size. Sorted
// once per leaf: a damaged page may claim tens of thousands of cells.
std::uint32_t NextOffset(const std::vector<std::uint16_t>& sorted, std::uint16_t offset,
                         std::uint32_t page_size) {
  const auto it = std::upper_bound(sorted.begin(), sorted.end(), offset);
  return it == sorted.end() ? page_size : *it;
}

// Decodes the live cells of one leaf page (in pointer-array order), and learns from
// them the kinds of value of each column when `signature` is given. `sorted` is
// scratch space.
void DecodeLiveLeaf(RawDbFile& reader, std::int32_t leaf, Bytes page,
                    std::span<const std::uint16_t> offsets, std::int32_t status,
                    const RowDecoder& decoder, ColumnSignature* signature, std::uint32_t columns,
                    std::vector<std::uint16_t>& sorted) {
  if (signature != nullptr && !StartsWithMagic(page)) signature->Learn(page, offsets);
  sorted.assign(offsets.begin(), offsets.end());
  std::sort(sorted.begin(), sorted.end());
  for (std::uint16_t offset : offsets) {
    CellInput cell{page, offset, NextOffset(sorted, offset, reader.PageSize()), false, status,
                   leaf, columns};
    decoder(reader, cell);
  }
}

// Decodes every live cell of a cell map (leaf pages are read again), and learns from
// them the kinds of value of each column when `signature` is given.
std::int32_t DecodeLive(RawDbFile& reader, const CellMap& cells, std::int32_t status,
                        const RowDecoder& decoder, std::vector<std::uint8_t>& buffer,
                        ColumnSignature* signature, std::uint32_t columns = 0) {
  std::vector<std::uint16_t> offsets, sorted;
  for (const auto& [leaf, list] : cells) {
    if (list.empty()) continue;
    if (std::int32_t rc = reader.read_page(leaf, buffer.data()); rc != 0) return rc;
    offsets.assign(list.begin(), list.end());
    DecodeLiveLeaf(reader, leaf, Bytes(buffer), offsets, status, decoder, signature, columns,
                   sorted);
  }
  return kSuccess;
}

// Decodes positions of one page in carved mode, as deleted rows. Each is given the bytes
// up to the next live cell of the page as its own (`next`).
void DecodeCarved(RawDbFile& reader, std::uint32_t columns, Bytes page, std::int32_t index,
                  const std::list<std::uint16_t>& positions, const RowDecoder& decoder,
                  const LiveCells* given = nullptr) {
  if (positions.empty()) return;
  const LiveCells own = given != nullptr ? LiveCells() : LiveCells(reader, page);
  const LiveCells& live = given != nullptr ? *given : own;
  const std::int64_t size = static_cast<std::int64_t>(page.size());
  for (std::uint16_t offset : positions) {
    const auto next = static_cast<std::uint32_t>(live.NextStart(offset, size));
    CellInput cell{page, offset, next, true, 1, index, columns};
    decoder(reader, cell);
  }
}

// Decodes the candidates of one leaf page; with a signature, then also the rows found
// in the free space of the leaf beyond its candidates.
void DecodeLeafCandidates(Carver& carver, std::int32_t leaf, Bytes page,
                          const std::list<std::uint16_t>& offsets, const RowDecoder& decoder,
                          const ColumnSignature& signature) {
  RawDbFile& reader = carver.reader();
  const std::uint32_t columns = carver.table().columns;
  const LiveCells live(reader, page);  // once for the page's three uses
  DecodeCarved(reader, columns, page, leaf, offsets, decoder, &live);
  if (signature.empty() || StartsWithMagic(page) || page[0] != 0x0D) return;
  std::list<std::uint16_t> extra;
  carver.CarveFreeSpace(page, signature, offsets, extra, &live);
  DecodeCarved(reader, columns, page, leaf, extra, decoder, &live);
}

// Decodes every candidate of a candidate map, as DecodeLeafCandidates does per leaf.
std::int32_t DecodeCandidates(Carver& carver, const CandidateMap& candidates,
                              const RowDecoder& decoder, std::vector<std::uint8_t>& buffer,
                              const ColumnSignature& signature) {
  RawDbFile& reader = carver.reader();
  for (const auto& [leaf, offsets] : candidates) {
    if (offsets.empty() && signature.empty()) continue;
    if (std::int32_t rc = reader.read_page(leaf, buffer.data()); rc != 0) return rc;
    DecodeLeafCandidates(carver, leaf, Bytes(buffer), offsets, decoder, signature);
  }
  return kSuccess;
}

// The leaf pages under `page` (index `index`) in ascending index, the order of a cell
// map. 0 or the code of the first failing page read (the leaves before it are listed).
std::int32_t LeafPages(RawDbFile& reader, std::int32_t index, Bytes page,
                       std::vector<std::int32_t>& leaves) {
  leaves.clear();
  const std::int32_t rc =
      reader.WalkLeaves(index, page, [&](std::int32_t leaf, Bytes) { leaves.push_back(leaf); });
  std::sort(leaves.begin(), leaves.end());
  leaves.erase(std::unique(leaves.begin(), leaves.end()), leaves.end());
  return rc;
}

// Serial types in the record of the first cell (in pointer-array order) of a leaf page
// held in a buffer, as Carver::match_free_page counts them for a page of the file; -1
// when there is none.
std::int32_t FirstRecordColumns(RawDbFile& reader, Bytes page,
                                const std::vector<std::uint16_t>& offsets) {
  if (offsets.empty()) return -1;
  const std::uint32_t first = offsets.front();
  std::uint32_t next = static_cast<std::uint32_t>(page.size());
  for (std::uint16_t o : offsets)
    if (o > first && o < next) next = o;
  std::vector<std::uint8_t> joined;
  Bytes view;
  if (reader.read_live_payload(page, first, next, joined, view) != 0) return -1;
  int lengthBytes = 0, rowIdBytes = 0, headerBytes = 0;
  RawDbFile::read_varint(view, static_cast<std::int64_t>(view.size()), lengthBytes);
  const std::size_t record = static_cast<std::size_t>(lengthBytes);
  RawDbFile::read_varint(Tail(view, record), static_cast<std::int64_t>(view.size()) - lengthBytes,
                         rowIdBytes);
  const std::size_t payload = record + static_cast<std::size_t>(rowIdBytes);
  const std::uint64_t header = RawDbFile::read_varint(
      Tail(view, payload),
      static_cast<std::int64_t>(view.size()) - static_cast<std::int64_t>(payload), headerBytes);
  if (headerBytes <= 0) return -1;
  const std::uint64_t end = std::min<std::uint64_t>(payload + header, view.size());
  std::uint64_t position = payload + static_cast<std::uint64_t>(headerBytes);
  std::int32_t count = 0;
  while (position < end) {
    int length = 0;
    RawDbFile::read_varint(Tail(view, position), static_cast<std::int64_t>(end - position), length);
    if (length <= 0) break;
    position += static_cast<std::uint64_t>(length);
    ++count;
  }
  return count;
}

// An older image of a page (one that the write-ahead log replaced) read as a freed
// page is: when its first record has the table's column count, its cells are decoded
// as deleted rows and its free space carved; a leaf without cells is carved whole with
// what the live rows showed. The settling afterwards drops what is still live.
void DecodeOlderImage(Carver& carver, const RawDbFile::OlderImage& image, const RowDecoder& decoder,
                      const ColumnSignature& signature, std::vector<std::uint8_t>& buffer) {
  RawDbFile& reader = carver.reader();
  const std::uint32_t expected = carver.table().columns;
  if (expected == 0 || reader.ReadOlderImage(image, buffer.data()) != kSuccess) return;
  const Bytes page(buffer);
  const RawDbFile::AsOf then(reader, image);
  // The schema page and interior pages hold no rows of the table.
  if (StartsWithMagic(page) || page[0] != 0x0D) return;
  std::vector<std::uint16_t> offsets, sorted;
  reader.CellOffsets(page, offsets);
  if (offsets.empty()) {
    if (signature.empty()) return;
    std::list<std::uint16_t> found;
    carver.CarveFreeSpace(page, signature, {}, found);
    DecodeCarved(reader, expected, page, image.page, found, decoder);
    return;
  }
  if (FirstRecordColumns(reader, page, offsets) != static_cast<std::int32_t>(expected)) return;
  DecodeLiveLeaf(reader, image.page, page, offsets, 1, decoder, nullptr, expected, sorted);
  DecodeLeafCandidates(carver, image.page, page, carver.carve_page(page), decoder, signature);
}

Carver CarverFor(TablePass& pass, const std::string& table) {
  return Carver(pass.reader, CarveTable{table, pass.counts.expected_columns(table),
                                        pass.counts.call_columns, pass.spilledRows});
}

}  // namespace

std::int32_t read_freed_pages(TablePass& pass, const std::string& table, const RowDecoder& decoder,
                              ColumnSignature* shared) {
  pass.current_table = table;
  RawDbFile& reader = pass.reader;
  Carver carver = CarverFor(pass, table);
  const std::uint32_t expected = carver.table().columns;
  if (expected == 0) return kSuccess;
  ColumnSignature local;
  ColumnSignature& learned = shared != nullptr ? *shared : local;
  std::vector<std::uint8_t> page_buffer(reader.PageSize());
  std::vector<std::uint8_t> leaf_buffer(reader.PageSize());
  const std::vector<std::int32_t> freed = reader.free_pages;  // the walk may not change it
  for (std::int32_t index : freed) {
    if (std::int32_t rc = reader.read_page(index, page_buffer.data()); rc != 0) return rc;
    Bytes page(page_buffer);
    const std::size_t hdr = StartsWithMagic(page) ? 100 : 0;
    if (page[hdr] != 0x0D && page[hdr] != 0x05) continue;
    CellMap cells;
    reader.collect_live_cells(index, page, cells);
    const std::int32_t count = carver.match_free_page(cells);
    if (count < 0 && hdr == 0 && page[0] == 0x0D && Be16(page, 3) == 0 && !learned.empty()) {
      // The pages of a dropped table go to the freelist with an empty header (no cells)
      // but keep their old rows: carve the whole page with what the live rows showed.
      std::list<std::uint16_t> found;
      carver.CarveFreeSpace(page, learned, {}, found);
      DecodeCarved(reader, expected, page, index, found, decoder);
      continue;
    }
    if (count < 0 || static_cast<std::uint32_t>(count) != expected) continue;
    DecodeLive(reader, cells, 1, decoder, leaf_buffer, &learned, expected);
    CandidateMap candidates;
    carver.collect_candidates(index, page, candidates);
    DecodeCandidates(carver, candidates, decoder, leaf_buffer, learned);
  }
  // Older images of pages that no table leaf stands on now (freed since, overflow,
  // trunk or index pages, or past the database's end): read as freed pages are.
  // Those of a table's leaf are read with that table (read_table).
  if (!reader.SupersededImages().empty()) {
    std::vector<std::uint8_t> image_buffer(reader.PageSize());
    for (const RawDbFile::OlderImage& image : reader.SupersededImages()) {
      if (image.page < reader.PageCount() &&
          reader.read_page(image.page, page_buffer.data()) == kSuccess) {
        const Bytes now(page_buffer);
        if (now[StartsWithMagic(now) ? 100 : 0] == 0x0D) continue;
      }
      DecodeOlderImage(carver, image, decoder, learned, image_buffer);
    }
  }
  // A freed page that became a trunk of the freelist lost only its first bytes to the
  // trunk's link, count and page list; the rest still holds its old cells.
  if (learned.empty()) return kSuccess;
  const std::vector<std::int32_t> trunks = reader.freeTrunks;
  for (std::int32_t index : trunks) {
    if (std::int32_t rc = reader.read_page(index, page_buffer.data()); rc != 0) return rc;
    Bytes page(page_buffer);
    const std::int64_t listed =
        std::min<std::int64_t>(Be32(page, 4), (static_cast<std::int64_t>(page.size()) - 8) / 4);
    std::list<std::uint16_t> found;
    carver.CarveRegion(page, learned, 8 + 4 * listed, static_cast<std::int64_t>(page.size()), {},
                       found);
    DecodeCarved(reader, expected, page, index, found, decoder);
  }
  return kSuccess;
}

std::int32_t read_table(TablePass& pass, const std::string& table, const RowDecoder& decoder,
                        bool use_freed_pages, ColumnSignature* shared) {
  RawDbFile& reader = pass.reader;
  ColumnSignature local;
  ColumnSignature& signature = shared != nullptr ? *shared : local;
  std::vector<std::uint8_t> buffer(reader.PageSize());
  if (std::int32_t rc = reader.read_page(0, buffer.data()); rc != 0) return rc;
  const auto roots = reader.find_root_pages(table);
  pass.current_table = table;
  Carver carver = CarverFor(pass, table);
  std::int32_t result = kSuccess;
  std::vector<std::uint8_t> leaf_buffer(reader.PageSize());
  // The leaves of each root are walked once and then read from the page cache: first
  // every live cell (which teaches the signature), then the carving of each leaf, both
  // in ascending page index as a cell map orders them.
  std::vector<std::int32_t> leaves;
  std::vector<std::uint16_t> offsets, sorted;
  for (const auto& [root, key] : roots) {
    (void)key;
    if (std::int32_t rc = reader.read_page(root, buffer.data()); rc != 0) return rc;
    Bytes page(buffer);
    const std::int32_t walked = LeafPages(reader, root, page, leaves);
    if (walked != 0) result = walked;
    // Each leaf is looked at where the reader keeps it (no copy); the decoders' own
    // reads (overflow pages) leave it there.
    Bytes leafPage;
    for (std::int32_t leaf : leaves) {
      if (std::int32_t rc = reader.PageView(leaf, leafPage, leaf_buffer); rc != 0) {
        result = rc;
        break;
      }
      reader.CellOffsets(leafPage, offsets);
      if (offsets.empty()) continue;
      DecodeLiveLeaf(reader, leaf, leafPage, offsets, 0, decoder, &signature, 0, sorted);
    }
    if (walked != 0) result = walked;
    for (std::int32_t leaf : leaves) {
      if (std::int32_t rc = reader.PageView(leaf, leafPage, leaf_buffer); rc != 0) {
        result = rc;
        break;
      }
      const std::list<std::uint16_t> candidates = carver.carve_page(leafPage);
      if (candidates.empty() && signature.empty()) continue;
      DecodeLeafCandidates(carver, leaf, leafPage, candidates, decoder, signature);
    }
    // A root that became an interior page when it first split keeps the cells it held
    // as a leaf in its free space.
    if (page[0] == 0x05 && !StartsWithMagic(page)) {
      std::list<std::uint16_t> extra;
      carver.CarveFreeSpace(page, signature, {}, extra);
      DecodeCarved(reader, carver.table().columns, page, root, extra, decoder);
    }
    // With a log: the older images of the table's pages (the root's too: before its
    // first split it was a leaf), where rows deleted since may still lie.
    if (!reader.SupersededImages().empty()) {
      if (std::find(leaves.begin(), leaves.end(), root) == leaves.end()) leaves.push_back(root);
      for (std::int32_t leaf : leaves)
        for (const RawDbFile::OlderImage& image : reader.OlderImagesOf(leaf))
          DecodeOlderImage(carver, image, decoder, signature, leaf_buffer);
    }
  }
  if (use_freed_pages) {
    if (std::int32_t rc = read_freed_pages(pass, table, decoder, &signature); rc != 0) result = rc;
  }
  return result;
}

namespace {

// WalkChatColumns: the carved reading does not fit the table's columns.
constexpr std::int32_t kNotThisRow = -1;

// Walks the columns of one chat row into `record`; 87 when a text leaves the bytes or
// the peer column names another number. A carved row's text column is not decoded but
// handed back in `carved_text`, to be cut where it was overwritten.
std::int32_t WalkChatColumns(ChatPassState& state, RecordCursor& cursor, ChatMessageRecord& record,
                             ChatLayout layout, std::string& peer_seen, Column* carved_text,
                             int* familiar = nullptr, int* strange = nullptr) {
  const int time_col = layout == ChatLayout::WeChat ? 3 : 2;
  const int text_col = layout == ChatLayout::WeChat ? 4 : 6;
  const int dir_col = layout == ChatLayout::WeChat ? 8 : 4;
  const int peer_col = layout == ChatLayout::QQ ? 1 : -1;
  Column col;
  const ColumnSignature* signature =
      carved_text != nullptr && state.signature != nullptr && !state.signature->empty()
          ? state.signature
          : nullptr;
  while (cursor.Next(col)) {
    // A carved reading whose serial types the table's live rows never hold is read at a
    // wrong alignment.
    if (signature != nullptr && !signature->Fits(static_cast<std::size_t>(col.index), col.type))
      return kNotThisRow;
    // Small integers that live rows hold in the same column (status codes, flags).
    if (signature != nullptr && familiar != nullptr &&
        (col.type == 1 || col.type == 8 || col.type == 9)) {
      if (signature->HasValue(static_cast<std::size_t>(col.index), col.Signed()))
        ++*familiar;
      else if (strange != nullptr)
        ++*strange;
    }
    if (col.index == text_col && carved_text != nullptr) {
      if (col.IsText()) *carved_text = col;
      continue;
    }
    if (col.IsText() && !col.Fits()) return kInvalidParameter;
    if (col.index == time_col) {
      // The constants 0 and 1 are integers too: a time of 0 is stored as type 8.
      const bool constant = col.type == 8 || col.type == 9;
      if (constant || (col.type >= 1 && col.type <= 4 && col.Fits())) {
        state.times.FromUnixSeconds(
            constant ? (col.type == 9 ? 1 : 0) : static_cast<std::int64_t>(col.Unsigned()),
            state.timeText);
        record.time = state.timeText;
      }
    } else if (col.index == dir_col) {
      if (col.type == 8)
        record.is_sender = 1;
      else if (col.type == 9)
        record.is_sender = 0;
    } else if (col.index == text_col) {
      if (col.IsText()) record.text = ValidUtf8(col.Text());
    } else if (col.index == peer_col) {
      if (col.IsText()) {
        peer_seen = ValidUtf8(col.Text());
        if (!state.peer_filter.empty() && peer_seen != state.peer_filter) return kInvalidParameter;
      } else if (col.IsInteger() && col.Fits()) {
        // QQ keeps the partner's number as an integer (uin INTEGER): compare its digits.
        peer_seen = std::to_string(col.Signed());
        if (!state.peer_filter.empty() && peer_seen != state.peer_filter) return kInvalidParameter;
      }
    }
  }
  return kSuccess;
}

// A time as chat apps write them: from the year 2000 to next year (carved rows read at
// a wrong alignment take their time from the wrong bytes).
bool PlausibleTime(std::string_view time) {
  static const std::string latest = [] {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::string text;
    FormatCivil(now + 366 * 86400LL, text);
    return text;
  }();
  return time.size() == 19 && time >= "2000-01-01 00:00:00" && time <= latest;
}

// A message as chat apps write them: a text free of undecodable bytes and a plausible
// time.
bool PlausibleChat(const ChatMessageRecord& record) {
  if (record.text.empty() || record.text.find("\xEF\xBF\xBD") != std::string::npos) return false;
  // What is left of a damaged text must say something: a character or two before the
  // damage is as often a reading at a wrong alignment.
  if (record.partial && Utf8Length(record.text) < 3) return false;
  return PlausibleTime(record.time);
}

// Bytes of a valid UTF-8 sequence starting at `at` (none beyond `end`); 0 when the
// bytes there are not text: invalid UTF-8, a NUL or another control character than tab,
// line feed and carriage return.
std::size_t TextCharAt(Bytes bytes, std::size_t at, std::size_t end) {
  const std::uint8_t lead = bytes[at];
  if (lead < 0x80) return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
  std::size_t length = 0;
  std::uint32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (end - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((bytes[at + i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (bytes[at + i] & 0x3F);
  }
  const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < least[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return length;
}

// True when a cell of `columns` columns begins at `at`: a payload length, a row id and
// a header whose serial types, with the contents they announce, make exactly that
// payload length. (The head of a row that a later insert wrote over an older one.)
bool CellHeadAt(const RawDbFile& reader, Bytes bytes, std::size_t at, std::uint32_t columns) {
  if (columns == 0 || at >= bytes.size()) return false;
  const Bytes cell = Tail(bytes, at);
  int lengthBytes = 0, rowIdBytes = 0, headerBytes = 0;
  const std::uint64_t payload = RawDbFile::read_varint(cell, 3, lengthBytes);
  if (lengthBytes <= 0 || (cell[static_cast<std::size_t>(lengthBytes) - 1] & 0x80) != 0)
    return false;
  const Bytes afterLength = Tail(cell, static_cast<std::size_t>(lengthBytes));
  RawDbFile::read_varint(afterLength, 9, rowIdBytes);
  if (rowIdBytes <= 0 || (afterLength[static_cast<std::size_t>(rowIdBytes) - 1] & 0x80) != 0)
    return false;
  const Bytes record = Tail(afterLength, static_cast<std::size_t>(rowIdBytes));
  const std::uint64_t header = RawDbFile::read_varint(record, 2, headerBytes);
  if (headerBytes <= 0 || header <= static_cast<std::uint64_t>(headerBytes)) return false;
  const Bytes types = Tail(record, static_cast<std::size_t>(headerBytes));
  const std::uint32_t typeBytes = reader.varints_length(types, columns);
  if (typeBytes == 0 || typeBytes != header - static_cast<std::uint64_t>(headerBytes)) return false;
  std::uint64_t contents = 0;
  std::size_t position = 0;
  for (std::uint32_t c = 0; c < columns; ++c) {
    int length = 0;
    contents += SerialContentSize(RawDbFile::read_varint(Tail(types, position), 9, length));
    position += static_cast<std::size_t>(length);
  }
  return payload == header + contents;
}

// True when a record header of `columns` columns begins at `at`: a header size that
// counts itself and exactly that many serial types.
bool HeaderAt(const RawDbFile& reader, Bytes bytes, std::size_t at, std::uint32_t columns) {
  if (columns == 0 || at >= bytes.size()) return false;
  const std::uint64_t header = bytes[at];
  // Serial types of one byte, a few of two (long texts): anything longer is no header
  // size (the bytes of a text mostly are not).
  if (header < columns + 1 || header > columns + 1 + columns / 2 + 4 || (header & 0x80) != 0)
    return false;
  return reader.varints_length(Tail(bytes, at + 1), columns) + 1 == header;
}

// The bytes of a carved row's text that are still the row's own. The text stops at the
// next live cell (`limit`), at the end of the part of the payload that a leaf page
// keeps when the row spilled into overflow pages, at a freeblock that begins inside it,
// at the head of a cell written over it, or at the first byte that no text holds.
// `local_end`: where the part of the payload kept in the page ends, from the start of
// the text column's bytes (the candidate, or the cell).
// `text_bytes` receives how many bytes from the start were checked to be text (valid
// UTF-8 among them), so that a text cut no further needs no second check.
std::size_t IntactTextLength(const RawDbFile& reader, const CellInput& cell, const Column& text,
                             std::uint64_t local_end, const ColumnSignature* signature,
                             std::size_t& text_bytes) {
  text_bytes = 0;
  const Bytes bytes = text.bytes;  // from the candidate or cell to the end of the page
  const std::uint64_t start = text.offset;
  if (start >= bytes.size()) return 0;
  std::uint64_t end = std::min<std::uint64_t>(start + text.size, bytes.size());
  const std::uint64_t limit = cell.next > cell.offset ? cell.next - cell.offset : bytes.size();
  end = std::min({end, limit, local_end});
  if (end <= start) return 0;
  // A freeblock that begins inside the text: a later row was freed there.
  for (std::uint32_t block = Be16(cell.page, 1), previous = 0, hops = 0;
       block != 0 && block > previous && hops < 4096;
       previous = block, block = Be16(cell.page, block), ++hops) {
    if (block > cell.offset + start && block < cell.offset + end) {
      end = block - cell.offset;
      break;
    }
  }
  std::uint64_t at = start;
  // Tabs and line ends pass as text, but they are also the small bytes of a cell head or
  // freeblock link written over the text; in a deleted row they are checked below.
  std::uint64_t suspects[4];
  std::size_t suspectCount = 0;
  while (at < end) {
    // Eight printable ASCII bytes at a time: no high bit, none below 0x20.
    if (end - at >= 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes.data() + at, 8);
      constexpr std::uint64_t kHigh = 0x8080808080808080ull, kSpace = 0x2020202020202020ull;
      if ((word & kHigh) == 0 && ((word - kSpace) & ~word & kHigh) == 0) {
        at += 8;
        continue;
      }
    }
    const std::uint8_t byte = bytes[static_cast<std::size_t>(at)];
    if (byte >= 0x20 && byte < 0x80) {  // printable ASCII, most of any text
      ++at;
      continue;
    }
    const std::size_t length =
        TextCharAt(bytes, static_cast<std::size_t>(at), static_cast<std::size_t>(end));
    if (length == 0) break;
    if (byte < 0x20 && suspectCount < std::size(suspects)) suspects[suspectCount++] = at;
    at += length;
  }
  text_bytes = static_cast<std::size_t>(at - start);
  // Where the head of a row written over the text begins, searched around `bad`: the
  // head whole (payload length, row id, header size and the first serial types read as
  // text), or behind the four bytes that a freeblock put over its start. (The serial
  // types of such a row may begin a few bytes after `bad`: the link and size themselves
  // may read as text up to there.)
  const auto overwrittenAt = [&](std::uint64_t bad) -> std::uint64_t {
    const std::uint64_t from = std::max(start, bad > 16 ? bad - 16 : 0);
    for (std::uint64_t head = from; head < bad + 4 && head < bytes.size(); ++head) {
      if (head < bad && CellHeadAt(reader, bytes, static_cast<std::size_t>(head), cell.columns))
        return head;
      if (head < bad && HeaderAt(reader, bytes, static_cast<std::size_t>(head), cell.columns)) {
        // A freeblock's link and size over the cell's payload length and row id (which
        // take two to six bytes before the header).
        return head > 6 ? head - 6 : 0;
      }
      // The serial types of a row whose head, header size and perhaps column 0's type
      // became a freeblock's link and size.
      if (signature != nullptr && !signature->empty() &&
          (RecordEndAt(bytes, *signature, cell.columns, static_cast<std::int64_t>(head), 0,
                       static_cast<std::int64_t>(bytes.size())) >= 0 ||
           RecordEndAt(bytes, *signature, cell.columns, static_cast<std::int64_t>(head), 1,
                       static_cast<std::int64_t>(bytes.size())) >= 0))
        return head > 4 ? head - 4 : 0;
    }
    return ~0ull;
  };
  if (at < end) {
    // Damage: cut at the head of the row that overwrote the text, else at the damage.
    const std::uint64_t head = overwrittenAt(at);
    if (head != ~0ull) at = head;
  } else if (cell.status != 0) {
    // No byte that text cannot hold, but a later row may have begun on the text's last
    // bytes: its payload length and row id are often printable. Or a line end or tab
    // is the first byte of a freeblock link over such a row (its serial types right
    // behind the link and size). Live rows are never cut.
    // (Only at a character's first byte: the last bytes of a multi-byte character, read
    // as a varint together with what follows the text, pass for a head too often.)
    for (std::uint64_t head = std::max(start, end > 3 ? end - 3 : 0); head < end; ++head) {
      if ((bytes[static_cast<std::size_t>(head)] & 0xC0) == 0x80) continue;
      if (CellHeadAt(reader, bytes, static_cast<std::size_t>(head), cell.columns)) {
        at = head;
        break;
      }
    }
    // (Only the serial types, checked against the columns of live rows: a header size
    // and types alone are too easily text, a line feed is WeChat's header size.)
    for (std::size_t i = 0;
         at == end && signature != nullptr && !signature->empty() && i < suspectCount; ++i) {
      const std::int64_t link = static_cast<std::int64_t>(suspects[i]);
      for (std::int64_t types = link + 1; types <= link + 4; ++types) {
        if (RecordEndAt(bytes, *signature, cell.columns, types, 0,
                        static_cast<std::int64_t>(bytes.size())) >= 0 ||
            RecordEndAt(bytes, *signature, cell.columns, types, 1,
                        static_cast<std::int64_t>(bytes.size())) >= 0) {
          at = suspects[i];
          break;
        }
      }
    }
  }
  if (at < end) {
    at = std::max(at, start);
    // Cut at a character boundary.
    while (at > start && (bytes[static_cast<std::size_t>(at)] & 0xC0) == 0x80) --at;
  }
  return static_cast<std::size_t>(at - start);
}

// The first `kept` bytes of a text column as UTF-8; the first `checked` of them are
// known to be valid already.
void AssignText(std::string& out, const Column& text, std::size_t kept, std::size_t checked) {
  const std::string_view bytes(reinterpret_cast<const char*>(text.bytes.data() + text.offset),
                               kept);
  if (kept <= checked)
    out.assign(bytes);
  else
    AssignValidUtf8(out, bytes);
}

// The payload end in the page of a carved record: the payload begins before the
// candidate with the header size (and column 0's type when it was lost); a payload
// over the page's local maximum kept only its first part there.
std::uint64_t CarvedLocalEnd(const RawDbFile& reader, const CellInput& cell,
                             std::uint64_t record_end, int first_column) {
  const std::uint64_t before = first_column == 0 ? 1 : 2;
  const std::uint64_t payload = record_end + before;
  const std::uint64_t usable = std::min<std::uint64_t>(reader.UsableSize(), cell.page.size());
  if (usable <= 35 || payload <= usable - 35) return ~0ull;
  const std::uint64_t minLocal = (usable - 12) * 32 / 255 - 23;
  std::uint64_t local = minLocal + (payload - minLocal) % (usable - 4);
  if (local > usable - 35) local = minLocal;
  return local > before ? local - before : 0;
}

// One reading of a carved row: the row read with `first_column` (and `skip` bytes of a
// lost column's contents passed over).
struct CarvedReading {
  ChatMessageRecord record;
  std::string peer;
  std::int32_t result = kSuccess;
  bool opened = false;
  int familiar = 0;  // small integer columns holding values that live rows hold
  int strange = 0;   // and those holding others
};

CarvedReading ReadCarved(RawDbFile& reader, const CellInput& cell, Bytes bytes, ChatLayout layout,
                         ChatPassState& state, int first_column, std::uint32_t skip) {
  CarvedReading reading;
  reading.record.status = cell.status;
  RecordCursor cursor;
  if (!cursor.OpenCarved(reader, bytes, cell.columns, first_column, skip)) return reading;
  reading.opened = true;
  Column text;
  text.type = 0;
  reading.result = WalkChatColumns(state, cursor, reading.record, layout, reading.peer, &text,
                                   &reading.familiar, &reading.strange);
  if (text.IsText()) {
    std::size_t checked = 0;
    const std::size_t kept = IntactTextLength(
        reader, cell, text, CarvedLocalEnd(reader, cell, cursor.ContentEnd(), first_column),
        state.signature, checked);
    if (kept > 0) AssignText(reading.record.text, text, kept, checked);
    reading.record.partial = kept < text.size;
  }
  return reading;
}

// The best reading of a carved row at `cell` (see decode_chat_message): kSuccess with
// `best` set, or the code of the rule's reading when none is a plausible message.
// `firstPeer` receives the partner column of the rule's reading.
std::int32_t BestCarvedReading(RawDbFile& reader, const CellInput& cell, ChatLayout layout,
                               ChatPassState& state, CarvedReading& best, std::string& firstPeer) {
  const Bytes bytes = Tail(cell.page, cell.offset);
  if (bytes.empty() || cell.columns == 0) return kInvalidParameter;
  struct Alignment {
    int first_column;
    std::uint32_t skip;
  };
  const int rule = bytes[0] == 0 ? 0 : 1;
  const Alignment alignments[] = {{rule, 0}, {1 - rule, 0}, {1, 1}, {1, 2},
                                  {1, 3},    {1, 4},        {1, 6}, {1, 8}};
  // With column 0's type lost, its contents took `skip` bytes: a width that column 0 of
  // the live rows has had (WeChat's TableVer 1 takes none, QQ's msgId one to four).
  // A reading at a wrong offset often gives column 0 a width it never has.
  const ColumnSignature* signature =
      state.signature != nullptr && !state.signature->empty() ? state.signature : nullptr;
  bool found = false;
  std::int32_t first = kInvalidParameter;
  int firstTypeBytes = 0;
  const std::uint64_t firstType = RawDbFile::read_varint(bytes, 9, firstTypeBytes);
  for (const Alignment& alignment : alignments) {
    // Column 0 is the one whose type the rule guesses at: when the reading gives it a
    // number, its width too must be one that the live rows show.
    const std::uint32_t width = alignment.first_column == 1
                                    ? alignment.skip
                                    : static_cast<std::uint32_t>(SerialContentSize(firstType));
    if (signature != nullptr && (alignment.first_column == 1 || firstType <= 9) &&
        !signature->HasWidth(0, width))
      continue;
    CarvedReading reading =
        ReadCarved(reader, cell, bytes, layout, state, alignment.first_column, alignment.skip);
    if (&alignment == &alignments[0]) {
      firstPeer = reading.peer;
      first = reading.opened ? reading.result : kInvalidParameter;
    }
    if (!reading.opened || reading.result == kNotThisRow || !PlausibleChat(reading.record))
      continue;
    // Two alignments may both read as a message when column 0's contents are a byte
    // or none (WeChat's TableVer 2 or 1): the one whose small integers are those of
    // live rows wins, the earlier one among equals.
    if (!found || reading.familiar > best.familiar) {
      best = std::move(reading);
      found = true;
      // Whole, with every small integer one that live rows hold: no later reading can
      // do better.
      if (!best.record.partial && best.strange == 0) break;
    }
  }
  if (found) return kSuccess;
  return first == kSuccess ? kInvalidParameter : first;
}

}  // namespace

std::int32_t decode_chat_message(RawDbFile& reader, const CellInput& cell,
                                 std::list<ChatMessageRecord>& out, ChatLayout layout,
                                 ChatPassState& state) {
  ChatMessageRecord record;
  record.status = cell.status;
  Bytes bytes = Tail(cell.page, cell.offset);
  std::vector<std::uint8_t> joined;
  if (!cell.carved && cell.status == 0) {
    if (std::int32_t rc =
            reader.read_live_payload(cell.page, cell.offset, cell.next, joined, bytes);
        rc != 0)
      return rc;
    RecordCursor cursor;
    if (!cursor.Open(reader, bytes, false, 0)) return kInvalidParameter;
    record.row_id = static_cast<std::int32_t>(cursor.row_id & 0xFFFFFFFFu);
    std::string peer;
    const std::int32_t result = WalkChatColumns(state, cursor, record, layout, peer, nullptr);
    state.lastPeer = std::move(peer);
    if (!record.text.empty()) out.push_back(std::move(record));
    return result;
  }
  if (!cell.carved) {
    // A cell of a freed page: a deleted row with its head intact. Its overflow pages
    // were freed with it and may hold other data by now, so only the part in the page
    // is read, and like a carved row it must show a plausible time and its text stops
    // where other bytes overwrote it.
    RecordCursor cursor;
    if (!cursor.Open(reader, bytes, false, 0)) return kInvalidParameter;
    std::string peer;
    Column text;
    text.type = 0;
    const std::int32_t result = WalkChatColumns(state, cursor, record, layout, peer, &text);
    state.lastPeer = std::move(peer);
    if (text.IsText()) {
      int lengthBytes = 0, rowIdBytes = 0;
      RawDbFile::read_varint(bytes, 9, lengthBytes);
      RawDbFile::read_varint(Tail(bytes, static_cast<std::size_t>(lengthBytes)), 9, rowIdBytes);
      const std::uint64_t local =
          reader.LocalPayload(cursor.payload_length, static_cast<std::uint32_t>(cell.page.size()));
      std::size_t checked = 0;
      const std::size_t kept = IntactTextLength(
          reader, cell, text, static_cast<std::uint64_t>(lengthBytes + rowIdBytes) + local,
          state.signature, checked);
      if (kept > 0) AssignText(record.text, text, kept, checked);
      record.partial = kept < text.size;
    }
    if (PlausibleChat(record)) out.push_back(std::move(record));
    return result;
  }

  // The carved-header rule reads a row whose first byte is zero as whole and one whose
  // first byte is not as having lost column 0 with no contents (a row-id alias is NULL).
  // Real chat tables break both halves: WeChat keeps TableVer (never NULL) in column 0
  // and its row-id alias in column 1, so a whole header starts with a non-zero byte and
  // one that lost TableVer with a zero; and when TableVer is not 1 or QQ's msgId (an
  // ordinary integer) lost its type, the contents of column 0 still lead the record and
  // every column reads shifted. So the row is read the rule's way, the other way, and
  // with the lost column's contents of each width an integer can have (BestCarvedReading
  // keeps the plausible reading that fits the live rows best). A carved row without a
  // plausible time is no message: its bytes were read at a wrong alignment or its head
  // was overwritten.
  if (bytes.empty() || cell.columns == 0) return kInvalidParameter;
  // A position inside the serial types of an intact header (its header size a few bytes
  // before, and a plausible message behind it) is no record start, unless its own header
  // size lies right before it (a row id or length byte can pass for a header size too).
  const bool ownHeader =
      cell.offset > 0 && HeaderAt(reader, cell.page, cell.offset - 1, cell.columns);
  for (std::uint32_t h = cell.offset > 12 ? cell.offset - 12 : 0; !ownHeader && h + 1 < cell.offset;
       ++h) {
    const std::uint32_t header = cell.page[h];
    if (h + header <= cell.offset || !HeaderAt(reader, cell.page, h, cell.columns)) continue;
    CellInput there = cell;
    there.offset = h + 1;
    const CarvedReading reading =
        ReadCarved(reader, there, Tail(cell.page, h + 1), layout, state, 0, 0);
    if (reading.opened && reading.result != kNotThisRow && PlausibleChat(reading.record))
      return kInvalidParameter;
  }
  CarvedReading best;
  std::string lastPeer;
  const std::int32_t result = BestCarvedReading(reader, cell, layout, state, best, lastPeer);
  // A reading whose text was cut may have come from an alignment a byte or two early (a
  // freeblock's size byte read as the row's first serial type): when the same row read
  // from a byte or two later is whole, that reading is the row.
  if (result == kSuccess && best.record.partial) {
    for (std::uint32_t shift = 1; shift <= 2 && cell.offset + shift < cell.page.size(); ++shift) {
      CellInput later = cell;
      later.offset = cell.offset + shift;
      CarvedReading other;
      std::string otherPeer;
      if (BestCarvedReading(reader, later, layout, state, other, otherPeer) == kSuccess &&
          !other.record.partial) {
        best = std::move(other);
        break;
      }
    }
  }
  state.lastPeer = result == kSuccess ? best.peer : lastPeer;
  if (result == kSuccess) {
    out.push_back(std::move(best.record));
    return kSuccess;
  }
  return result == kNotThisRow ? kInvalidParameter : result;
}

std::int32_t decode_friend(RawDbFile& reader, const CellInput& cell,
                           std::list<WeChatFriendRecord>& out) {
  WeChatFriendRecord record;
  record.status = cell.status;
  RecordCursor cursor;
  // Friend rows are read in place; their overflow pages are not followed.
  if (!cursor.Open(reader, Tail(cell.page, cell.offset), cell.carved, cell.columns))
    return kInvalidParameter;
  Column col;
  while (cursor.Next(col)) {
    if (col.IsText() && !col.Fits()) return kInvalidParameter;
    if (col.index == 1 && col.IsText())
      record.user_name = ValidUtf8(col.Text());
    else if (col.index == 2 && col.IsText())
      record.nick_name = ValidUtf8(col.Text());
    else if (col.index == 6 && col.type >= 1 && col.type <= 4 && col.Fits())
      record.type = static_cast<std::int32_t>(col.Signed());
    else if (col.index == 6 && (col.type == 8 || col.type == 9))
      record.type = col.type == 9 ? 1 : 0;  // the file format's own 0 and 1
  }
  out.push_back(std::move(record));
  return kSuccess;
}

std::int32_t decode_qq_table(RawDbFile& reader, const CellInput& cell,
                             std::list<QQTableRecord>& out) {
  QQTableRecord record;
  RecordCursor cursor;
  if (!cursor.Open(reader, Tail(cell.page, cell.offset), cell.carved, 1)) return kInvalidParameter;
  Column col;
  while (cursor.Next(col)) {
    if (col.IsText() && !col.Fits()) return kInvalidParameter;
    if (col.index == 0 && col.IsText()) record.table_name = ValidUtf8(col.Text());
  }
  const std::size_t underscore = record.table_name.rfind('_');
  if (underscore != std::string::npos) record.peer = record.table_name.substr(underscore + 1);
  out.push_back(std::move(record));
  return kSuccess;
}

namespace {

// The 14 digits of a time text of the form "YYYY-MM-DD HH:MM:SS" as one number, plus 1
// so that an empty text (0) comes first; false for any other text.
bool TimeKey(std::string_view time, std::uint64_t& key) {
  if (time.empty()) {
    key = 0;
    return true;
  }
  if (time.size() != 19) return false;
  const char* text = time.data();
  if (text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' || text[16] != ':')
    return false;
  static constexpr std::uint8_t kDigits[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
  std::uint64_t value = 0;
  for (const std::uint8_t at : kDigits) {
    const unsigned digit = static_cast<unsigned char>(text[at]) - unsigned{'0'};
    if (digit > 9) return false;
    value = value * 10 + digit;
  }
  key = value + 1;
  return true;
}

// A record with the number of its time text (see TimeKey).
struct TimedRecord {
  std::uint64_t value;
  std::list<ChatMessageRecord>::iterator node;
};

// Orders `messages` by time: `keys` hold every record of the list in list order with
// its time's number, or `keyed` is false when a time text has another form, and the
// texts are compared.
void SortByKeys(std::list<ChatMessageRecord>& messages, std::vector<TimedRecord>& keys,
                bool keyed) {
  if (!keyed) {
    messages.sort([](const ChatMessageRecord& a, const ChatMessageRecord& b) {
      return CompareNoCase(a.time, b.time) < 0;
    });
    return;
  }
  const auto before = [](const TimedRecord& a, const TimedRecord& b) { return a.value < b.value; };
  // Live rows usually come in time order already.
  if (std::is_sorted(keys.begin(), keys.end(), before)) return;
  std::stable_sort(keys.begin(), keys.end(), before);
  std::list<ChatMessageRecord> sorted;
  for (const TimedRecord& k : keys) sorted.splice(sorted.end(), messages, k.node);
  messages.swap(sorted);
}

}  // namespace

void SortChatMessages(std::list<ChatMessageRecord>& messages) {
  // Time texts all have one fixed form (or are empty), so their digits order them as
  // the text comparison does: sort small keys and relink the nodes once, instead of
  // comparing texts node by node. Any other text falls back to the comparison.
  std::vector<TimedRecord> keys;
  keys.reserve(messages.size());
  bool keyed = true;
  for (auto it = messages.begin(); it != messages.end() && keyed; ++it) {
    std::uint64_t value = 0;
    keyed = TimeKey(it->time, value);
    keys.push_back({value, it});
  }
  SortByKeys(messages, keys, keyed);
}

namespace {

// Settles the deleted records of the chats of one store (see SettleDeletedMessages).
// The passes hand it each chat's list as soon as the list is complete, while its
// records are still in the processor's caches: a store holds hundreds of thousands of
// messages, and walking them all again afterwards costs more than settling them.
class DeletedSettler {
 public:
  // Takes note of a record just appended to the working list of a chat (one that will
  // be handed over with Claim). Earlier records win ties.
  // `time`: the number of its time text when TimeKey read it, else null.
  void Note(std::list<ChatMessageRecord>::iterator record, const std::uint64_t* time = nullptr) {
    std::uint64_t key = 0;
    if (time == nullptr && TimeKey(record->time, key)) time = &key;
    const std::uint64_t moment = MomentOf(*record, time);
    if (record->status == 0)
      live_.emplace_back(moment, &*record);
    else
      readings_.push_back({nullptr, record, moment, true, !record->time.empty()});
  }
  // The records noted since the last claim now belong to `list` (moved there from the
  // working list; a moved list keeps its records where they are).
  void Claim(std::list<ChatMessageRecord>& list) {
    for (std::size_t i = claimed_; i < readings_.size(); ++i) readings_[i].list = &list;
    claimed_ = readings_.size();
  }
  // Takes note of every record of `list`, which stays where it is until Settle().
  void Add(std::list<ChatMessageRecord>& list) {
    for (auto it = list.begin(); it != list.end(); ++it) Note(it);
    Claim(list);
  }
  // Forgets the records of `list` (before the list is replaced).
  void Forget(const std::list<ChatMessageRecord>& list) {
    readings_.erase(std::remove_if(readings_.begin(), readings_.end(),
                                   [&](const Reading& r) { return r.list == &list; }),
                    readings_.end());
    claimed_ = std::min(claimed_, readings_.size());
    std::set<const ChatMessageRecord*> gone;
    for (const ChatMessageRecord& m : list) gone.insert(&m);
    live_.erase(std::remove_if(live_.begin(), live_.end(),
                               [&](const Keyed& k) { return gone.count(k.second) != 0; }),
                live_.end());
  }
  // Drops the stale copies and second readings from their lists.
  void Settle();

 private:
  // Records are grouped by moment (time text and direction) through a number: the
  // digits of a time of the usual form, a hash of any other text; equal numbers are
  // checked against the texts themselves. No text is copied.
  static std::uint64_t MomentOf(const ChatMessageRecord& m, const std::uint64_t* time) {
    if (time != nullptr) return *time * 2 + (m.is_sender != 0 ? 1 : 0);
    return (static_cast<std::uint64_t>(std::hash<std::string_view>{}(m.time)) << 1 | 1ull << 63) ^
           (m.is_sender != 0 ? 1 : 0);
  }

  struct Reading {
    std::list<ChatMessageRecord>* list;
    std::list<ChatMessageRecord>::iterator record;
    std::uint64_t moment;
    bool keep = true;
    bool timed = true;  // the record has a time text
  };
  using Keyed = std::pair<std::uint64_t, const ChatMessageRecord*>;
  std::vector<Keyed> live_;
  std::vector<Reading> readings_;
  std::size_t claimed_ = 0;  // readings_ before this one have their list
};

void DeletedSettler::Settle() {
  auto sameMoment = [](const ChatMessageRecord& a, const ChatMessageRecord& b) {
    return a.is_sender == b.is_sender && a.time == b.time;
  };
  auto begins = [](const std::string& whole, const std::string& part) {
    return whole.size() >= part.size() && whole.compare(0, part.size(), part) == 0;
  };
  std::vector<Keyed>& live = live_;
  std::vector<Reading>& readings = readings_;
  // The live records by moment, for one look-up per reading: open addressing with
  // linear probing, at most half full. A slot holds the record's place in `live` (4
  // bytes, not the 16 of the entry: the table of a large store is megabytes, and
  // fresh memory costs a page fault per 4 KB).
  constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(16, live.size() * 2));
  const int shift = 64 - std::countr_zero(capacity);
  const std::size_t mask = capacity - 1;
  const auto home = [shift](std::uint64_t moment) {
    return static_cast<std::size_t>((moment * 0x9E3779B97F4A7C15ull) >> shift);
  };
  std::vector<std::uint32_t> slots(capacity, kEmpty);
  for (std::size_t n = 0; n < live.size() && n < kEmpty; ++n) {
    std::size_t i = home(live[n].first);
    while (slots[i] != kEmpty) i = (i + 1) & mask;
    slots[i] = static_cast<std::uint32_t>(n);
  }

  // Stale copies of live rows: the same moment and text (a partial reading: the
  // beginning of the text).
  bool timeless = false;
  for (Reading& r : readings) {
    for (std::size_t i = home(r.moment); slots[i] != kEmpty && r.keep; i = (i + 1) & mask) {
      const Keyed& entry = live[slots[i]];
      if (entry.first != r.moment) continue;
      const ChatMessageRecord& m = *r.record;
      const ChatMessageRecord& l = *entry.second;
      if (sameMoment(l, m) && (l.text == m.text || (m.partial && begins(l.text, m.text))))
        r.keep = false;
    }
    timeless |= r.keep && !r.timed;
  }
  // Readings without their time (none of the chat decoders' own, which need a plausible
  // time): equal to a live or a timed deleted row's text and direction, they go.
  if (timeless) {
    std::unordered_multimap<std::size_t, const ChatMessageRecord*> byText;
    auto textKey = [](const ChatMessageRecord& m) {
      return std::hash<std::string>{}(m.text) ^ static_cast<std::size_t>(m.is_sender != 0);
    };
    for (const auto& [moment, record] : live) byText.emplace(textKey(*record), record);
    for (const Reading& r : readings)
      if (r.keep && !r.record->time.empty()) byText.emplace(textKey(*r.record), &*r.record);
    for (Reading& r : readings) {
      if (!r.keep || !r.record->time.empty() || r.record->partial) continue;
      const auto [from, to] = byText.equal_range(textKey(*r.record));
      for (auto it = from; it != to; ++it)
        if (it->second->is_sender == r.record->is_sender && it->second->text == r.record->text)
          r.keep = false;
    }
  }

  // Each deleted row once: among the readings of one moment, a reading is dropped when
  // another kept one is at least as complete and begins the same way.
  // Sorted by moment number and, within a moment, in reading order (most moments hold
  // one reading); within a moment, equal moments together (a hash may join two), equal
  // texts next to each other (whole before partial, then in reading order), and a text
  // right before the texts that begin with it.
  std::vector<std::pair<std::uint64_t, std::size_t>> kept;
  for (std::size_t i = 0; i < readings.size(); ++i)
    if (readings[i].keep) kept.emplace_back(readings[i].moment, i);
  std::sort(kept.begin(), kept.end());
  std::vector<Reading*> group;
  for (std::size_t begin = 0, end = 0; begin < kept.size(); begin = end) {
    end = begin + 1;
    while (end < kept.size() && kept[end].first == kept[begin].first) ++end;
    if (end - begin < 2) continue;
    group.clear();
    for (std::size_t i = begin; i < end; ++i) group.push_back(&readings[kept[i].second]);
    std::stable_sort(group.begin(), group.end(), [](const Reading* x, const Reading* y) {
      const ChatMessageRecord& a = *x->record;
      const ChatMessageRecord& b = *y->record;
      if (a.is_sender != b.is_sender) return a.is_sender < b.is_sender;
      if (const int order = a.time.view().compare(b.time); order != 0) return order < 0;
      if (const int order = a.text.compare(b.text); order != 0) return order < 0;
      return !a.partial && b.partial;
    });
    for (std::size_t i = 1; i < group.size(); ++i) {
      const ChatMessageRecord& a = *group[i]->record;
      const ChatMessageRecord& before = *group[i - 1]->record;
      if (sameMoment(a, before) && before.text == a.text) group[i]->keep = false;
    }
    for (std::size_t i = 0; i < group.size(); ++i) {
      const ChatMessageRecord& a = *group[i]->record;
      if (!group[i]->keep || !a.partial) continue;
      std::size_t next = i + 1;
      while (next < group.size() && sameMoment(*group[next]->record, a) &&
             group[next]->record->text == a.text)
        ++next;
      // A longer reading (whole or partial) of the same moment begins with this text.
      if (next < group.size() && sameMoment(*group[next]->record, a) &&
          begins(group[next]->record->text, a.text))
        group[i]->keep = false;
    }
  }
  for (Reading& r : readings)
    if (!r.keep) r.list->erase(r.record);
  live.clear();
  readings.clear();
}

// Stores `messages` under `key` (replacing what the key held) and hands them to the
// settler: the records it noted while they were decoded (`noted`), or all of them.
void Store(ChatMap& store, const std::string& key, std::list<ChatMessageRecord>& messages,
           DeletedSettler& settler, bool noted) {
  const auto old = store.find(key);
  if (old != store.end()) settler.Forget(old->second);
  std::list<ChatMessageRecord>& list = store[key] = std::move(messages);
  if (noted)
    settler.Claim(list);
  else
    settler.Add(list);
}

// The messages of the chat being read. Each record's time is read as a number once,
// while the record is fresh, for both the settler and the sort.
class ChatInProgress {
 public:
  std::list<ChatMessageRecord> messages;

  // Notes the record that a decoder appended (when the list grew past `before`).
  void NoteLast(std::size_t before, DeletedSettler& settler) {
    if (messages.size() == before) return;
    const auto last = std::prev(messages.end());
    std::uint64_t value = 0;
    const bool keyed = TimeKey(last->time, value);
    keyed_ = keyed_ && keyed;
    keys_.push_back({value, last});
    settler.Note(last, keyed ? &value : nullptr);
  }
  // Sorts the messages by time, stores them under `key` and starts a new chat.
  void Finish(ChatMap& store, const std::string& key, DeletedSettler& settler) {
    if (!messages.empty()) {
      SortByKeys(messages, keys_, keyed_);
      Store(store, key, messages, settler, true);
      messages.clear();
    }
    keys_.clear();
    keyed_ = true;
  }

 private:
  std::vector<TimedRecord> keys_;
  bool keyed_ = true;
};

}  // namespace

void SettleDeletedMessages(ChatMap& chats) {
  DeletedSettler settler;
  for (int pass = 0; pass < 2; ++pass)
    for (auto& [key, list] : chats)
      if ((key == "Unknown") == (pass == 1)) settler.Add(list);
  settler.Settle();
  for (auto it = chats.begin(); it != chats.end();)
    it = it->second.empty() ? chats.erase(it) : std::next(it);
}

void LearnChatColumns(TablePass& pass, const std::vector<std::string>& tables, ChatLayout layout,
                      ColumnSignature& signature) {
  RawDbFile& reader = pass.reader;
  std::vector<std::uint8_t> buffer(reader.PageSize());
  for (const std::string& table : tables) {
    for (const auto& [root, key] : reader.find_root_pages(table)) {
      (void)key;
      std::int32_t index = root;
      std::set<std::int32_t> seen;
      while (seen.insert(index).second && seen.size() < 64) {
        if (reader.read_page(index, buffer.data()) != 0) break;
        const Bytes page(buffer);
        if (StartsWithMagic(page)) break;
        if (page[0] == 0x0D) {
          signature.Learn(page, reader.cell_offsets(page));
          break;
        }
        const auto children = reader.child_pages(page);
        if (page[0] != 0x05 || children.empty()) break;
        index = children.begin()->first;
      }
    }
  }
  if (!signature.empty()) return;
  constexpr std::uint8_t kInteger = 1, kText = 4, kNull = 16, kAny = 31;
  if (layout == ChatLayout::WeChat) {
    // TableVer, MesLocalID, MesSvrID, CreateTime, Message, Status, ImgStatus, Type, Des.
    const std::uint8_t kinds[] = {kInteger, kNull | kInteger, kInteger, kInteger, kText,
                                  kInteger, kInteger,         kInteger, kInteger};
    // TableVer is a small version number: none or one byte (a reading one byte off
    // takes a freeblock's size byte for a type of five or more bytes).
    for (std::size_t c = 0; c < 9; ++c) signature.Allow(c, kinds[c], c == 0 ? 0x3 : 0x1FF);
  } else {
    // msgId, uin, time, type, flag, read, content, picUrl, then columns of unknown use.
    const std::uint8_t kinds[] = {kInteger | kNull, kInteger | kText, kInteger, kInteger,
                                  kInteger,         kInteger,         kText,    kText | kNull};
    // msgId counts the conversation's messages: up to four bytes.
    for (std::size_t c = 0; c < 50; ++c)
      signature.Allow(c, c < 8 ? kinds[c] : kAny, c == 0 ? 0x1F : 0x1FF);
  }
}

std::int32_t WeChatPass(const std::string& path, ChatMap& result) {
  return WeChatPass(path, std::string(), result);
}

std::int32_t WeChatPass(const std::string& path, const std::string& log_path, ChatMap& result,
                        std::string* log_problem) {
  TablePass pass;
  const std::int32_t opened = pass.reader.open(path, log_path);
  if (log_problem != nullptr) *log_problem = pass.reader.LogProblem();
  if (opened != 0) return opened;
  std::list<WeChatFriendRecord> friends;
  const RowDecoder friend_decoder = [&friends](RawDbFile& r, const CellInput& c) {
    return decode_friend(r, c, friends);
  };
  if (std::int32_t rc = read_table(pass, "Friend", friend_decoder, true); rc != 0) return rc;

  ChatPassState state;
  ChatMap store;  // this file's chats, settled before they go into `result`
  DeletedSettler settler;
  ChatInProgress chat;
  // Each record is noted for settling while it is fresh.
  const RowDecoder chat_decoder = [&](RawDbFile& r, const CellInput& c) {
    const std::size_t before = chat.messages.size();
    const std::int32_t rc = decode_chat_message(r, c, chat.messages, ChatLayout::WeChat, state);
    chat.NoteLast(before, settler);
    return rc;
  };
  // Every chat table has one layout: what their live rows show carves free space,
  // freed pages and trunk pages of all of them.
  ColumnSignature chat_columns;
  state.signature = &chat_columns;
  // A user name found twice (a live row and its carved copy) names the same table and
  // would give the same list again.
  std::vector<std::pair<std::string, std::string>> chats;  // user name, table
  std::set<std::string> done;
  for (const WeChatFriendRecord& f : friends)
    if (done.insert(f.user_name).second)
      chats.emplace_back(f.user_name, "Chat_" + Md5Hex(f.user_name));
  std::vector<std::string> tables;
  for (const auto& chat : chats) tables.push_back(chat.second);
  LearnChatColumns(pass, tables, ChatLayout::WeChat, chat_columns);
  for (const auto& [user, table] : chats) {
    read_table(pass, table, chat_decoder, false, &chat_columns);
    chat.Finish(store, user, settler);
  }
  // No schema row has this name: only freed pages with 9-column records contribute.
  read_table(pass, "Chat_FreePageNumber", chat_decoder, true, &chat_columns);
  chat.Finish(store, "Unknown", settler);
  settler.Settle();
  for (auto& [key, list] : store)
    if (!list.empty()) result[key] = std::move(list);
  return kSuccess;
}

std::int32_t QQPass(const std::string& path, ChatMap& result) {
  return QQPass(path, std::string(), result);
}

std::int32_t QQPass(const std::string& path, const std::string& log_path, ChatMap& result,
                    std::string* log_problem) {
  TablePass pass;
  const std::int32_t opened = pass.reader.open(path, log_path);
  if (log_problem != nullptr) *log_problem = pass.reader.LogProblem();
  if (opened != 0) return opened;
  std::list<QQTableRecord> tables;
  const RowDecoder table_decoder = [&tables](RawDbFile& r, const CellInput& c) {
    return decode_qq_table(r, c, tables);
  };
  if (std::int32_t rc = read_table(pass, "tb_c2cTables", table_decoder, true); rc != 0) return rc;

  ChatPassState state;
  ChatMap store;  // this file's chats, settled before they go into `result`
  DeletedSettler settler;
  ChatInProgress chat;
  // Each record is noted for settling while it is fresh (not those of freed pages that
  // the orphan decoder below sorts by partner: it keeps only some).
  const RowDecoder chat_decoder = [&](RawDbFile& r, const CellInput& c) {
    const std::size_t before = chat.messages.size();
    const std::int32_t rc = decode_chat_message(r, c, chat.messages, ChatLayout::QQ, state);
    chat.NoteLast(before, settler);
    return rc;
  };
  ColumnSignature chat_columns;  // as for WeChat: one layout for every message table
  state.signature = &chat_columns;
  // As for WeChat friends: a table named twice gives the same list again.
  std::vector<const QQTableRecord*> chats;
  std::vector<std::string> names;
  std::set<std::string> done;
  for (const QQTableRecord& t : tables)
    if (!t.table_name.empty() && done.insert(t.table_name).second) {
      chats.push_back(&t);
      names.push_back(t.table_name);
    }
  LearnChatColumns(pass, names, ChatLayout::QQ, chat_columns);
  for (std::size_t i = 0; i < chats.size(); ++i) {
    const QQTableRecord& t = *chats[i];
    const std::string& table = names[i];
    read_table(pass, table, chat_decoder, false, &chat_columns);
    // Freed pages may hold any partner's rows: keep those whose peer column names ours.
    state.peer_filter = t.peer;
    read_freed_pages(pass, table, chat_decoder, &chat_columns);
    state.peer_filter.clear();
    chat.Finish(store, t.peer, settler);
  }

  // A conversation deleted as a whole loses its message table and its row in the table
  // list; its rows survive only on freed pages. Group the plausible rows found there by
  // their partner's number and keep those of numbers that no listed table stands for.
  std::map<std::string, std::list<ChatMessageRecord>> orphans;
  std::list<ChatMessageRecord> messages;
  const RowDecoder orphan_decoder = [&orphans, &messages, &state](RawDbFile& r,
                                                                  const CellInput& c) {
    const std::int32_t rc = decode_chat_message(r, c, messages, ChatLayout::QQ, state);
    if (!messages.empty()) {
      if (PlausibleChat(messages.back()) && !state.lastPeer.empty()) {
        auto& list = orphans[state.lastPeer];
        list.splice(list.end(), messages);
      }
      messages.clear();
    }
    return rc;
  };
  read_freed_pages(pass, "tb_c2cMsg_FreePageNumber", orphan_decoder, &chat_columns);
  std::set<std::string> listed;
  for (const QQTableRecord& t : tables) listed.insert(t.peer);
  for (auto& [peer, list] : orphans) {
    if (listed.count(peer) != 0 || store.count(peer) != 0) continue;
    SortChatMessages(list);
    Store(store, peer, list, settler, false);
  }
  settler.Settle();
  for (auto& [key, list] : store)
    if (!list.empty()) result[key] = std::move(list);
  return kSuccess;
}

}  // namespace bv

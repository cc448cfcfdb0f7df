// Deleted-row carving: the strategies of carving.h, the free-space scan, and the
// column-count table. Local names follow the strategies' own notation (S the page size,
// C the column count, f a freeblock, p and q positions, u a record length).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <vector>

#include "rawsqlite/carving.h"

#include "common/text.h"
#include "rawsqlite/overflow_chain.h"

namespace bv {

namespace {

// Inlined: the scans of free space read a varint at almost every byte.
[[gnu::always_inline]] inline std::uint64_t VarintAt(Bytes page, std::int64_t pos,
                                                     std::int64_t limit, int& length) {
  if (pos < 0) return 0;
  return RawDbFile::read_varint(Tail(page, static_cast<std::size_t>(pos)), limit, length);
}

void Append(std::list<std::uint16_t>& out, std::int64_t pos, std::int64_t s) {
  if (pos >= 0 && pos < s && pos <= 0xFFFF) out.push_back(static_cast<std::uint16_t>(pos));
}

}  // namespace

std::int64_t RecordEndAt(Bytes page, const ColumnSignature& signature, std::uint32_t columns,
                         std::int64_t x, std::uint32_t first, std::int64_t end,
                         TextSpan* longest_text, std::uint32_t spill_usable) {
  // Column 0's type lost: its contents are none (NULL or a constant, as live rows show)
  // or an integer still in front of the other columns', at least as wide as the
  // narrowest that live rows show.
  std::uint64_t contents = 0;
  if (first == 1 && !signature.HasWidth(0, 0)) {
    for (const std::uint32_t width : {1u, 2u, 3u, 4u, 6u, 8u}) {
      if (signature.HasWidth(0, width)) {
        contents = width;
        break;
      }
    }
    if (contents == 0) return -1;
  }
  end = std::min(end, static_cast<std::int64_t>(page.size()));
  std::int64_t pos = x;
  bool text = false;
  std::uint64_t textAt = 0, textSize = 0;  // from the end of the serial types
  for (std::uint32_t column = first; column < columns; ++column) {
    if (pos >= end) return -1;
    int g = 0;
    const std::uint64_t type = VarintAt(page, pos, end - pos, g);
    if (g <= 0 || !signature.Fits(column, type)) return -1;
    if (column == 0 && type <= 9 &&
        !signature.HasWidth(0, static_cast<std::uint32_t>(SerialContentSize(type))))
      return -1;
    pos += g;
    const std::uint64_t size = SerialContentSize(type);
    if (type >= 15 && type % 2 == 1) {
      if (!text || size > textSize) {
        textAt = contents;
        textSize = size;
      }
      text = true;
    }
    contents += size;
    if (contents > static_cast<std::uint64_t>(end - pos) && spill_usable == 0) return -1;
  }
  if (!text) return -1;
  std::int64_t stop = pos + static_cast<std::int64_t>(contents);
  if (contents > static_cast<std::uint64_t>(end - pos)) {
    // A record that spilled: in the page lie its local part and the link to its first
    // overflow page (the header-size byte and, when lost, column 0's type before x).
    if (contents > (1ull << 31)) return -1;
    const std::uint64_t types = static_cast<std::uint64_t>(pos - x);
    const std::uint64_t prefix = HeaderSizeBytes(first + types) + first;
    const std::uint64_t payload = prefix + types + contents;
    const std::uint64_t local = LocalPayloadOf(payload, spill_usable);
    if (local >= payload || static_cast<std::uint64_t>(x) < prefix) return -1;
    const std::int64_t link =
        x - static_cast<std::int64_t>(prefix) + static_cast<std::int64_t>(local);
    if (link < pos || link + 4 > end) return -1;
    stop = link + 4;
  }
  if (longest_text != nullptr) {
    longest_text->from = pos + static_cast<std::int64_t>(textAt);
    longest_text->size = std::max<std::int64_t>(
        0, std::min<std::int64_t>(static_cast<std::int64_t>(textSize), stop - longest_text->from));
  }
  return stop;
}

std::int64_t FirstNonTextByte(Bytes page, std::int64_t from, std::int64_t to) {
  to = std::min(to, static_cast<std::int64_t>(page.size()));
  std::int64_t at = std::max<std::int64_t>(from, 0);
  while (at < to) {
    // Eight printable ASCII bytes at a time: no high bit, none below 0x20.
    if (to - at >= 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, page.data() + at, 8);
      constexpr std::uint64_t kHigh = 0x8080808080808080ull, kSpace = 0x2020202020202020ull;
      if ((word & kHigh) == 0 && ((word - kSpace) & ~word & kHigh) == 0) {
        at += 8;
        continue;
      }
    }
    const std::uint8_t lead = page[static_cast<std::size_t>(at)];
    if (lead < 0x80) {
      if (lead < 0x20 && lead != '\t' && lead != '\n' && lead != '\r') return at;
      ++at;
      continue;
    }
    std::int64_t length = 0;
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
      return at;
    }
    if (to - at < length) return at;
    for (std::int64_t i = 1; i < length; ++i) {
      const std::uint8_t next = page[static_cast<std::size_t>(at + i)];
      if ((next & 0xC0) != 0x80) return at;
      value = (value << 6) | (next & 0x3F);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
      return at;
    at += length;
  }
  return -1;
}

std::uint32_t ColumnCounts::expected_columns(const std::string& name) const {
  struct Row {
    const char* name;
    std::uint32_t columns;
  };
  const Row rows[] = {
      {"ZNOTEBODY", 7},
      {"ZNOTE", 19},
      {"message", message_columns},
      {"handle", 5},
      {"attachment", 9},
      {"message_attachment_join", 2},
      {"ABPersonFullTextSearch_content", person_index_columns > 25 ? 25u : 24u},
      {"call", 13},
      {"Friend", 13},
      {"tb_c2cTables", 1},
      {"ZWAMESSAGE", wa_message_columns},
      {"ZWACHATSESSION", 25},
      {"ZWAGROUPMEMBER", 13},
      {"ZWAMEDIAITEM", 24},
      {"ZCALLRECORD", 17},
      {"ZWACONTACT", 11},
      {"ZWAPHONE", 9},
  };
  if (!declaredTable.empty() && declaredColumns != 0 && EqualsNoCase(name, declaredTable))
    return declaredColumns;
  for (const Row& row : rows)
    if (EqualsNoCase(name, row.name)) return row.columns;
  if (name.compare(0, 5, "Chat_") == 0 && name.size() >= 5) return 9;
  if (name.compare(0, 9, "tb_c2cMsg") == 0 && name.size() >= 9) return 50;
  return otherColumns;
}

LiveCells::LiveCells(const RawDbFile& reader, Bytes page) {
  const std::size_t header = StartsWithMagic(page) ? 100 : 0;
  if (header >= page.size()) return;
  const bool interior = page[header] == 0x05;
  if (!interior && page[header] != 0x0D) return;
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  // The pointer array read in place (as cell_offsets does, without building a list).
  const std::uint32_t count = Be16(page, header + 3);
  const std::size_t array = header + (interior ? 12 : 8);
  const std::uint32_t listed =
      count == 1
          ? 1
          : std::min<std::uint32_t>(count, static_cast<std::uint32_t>(
                                               (page.size() - std::min(array, page.size())) / 2));
  ranges_.reserve(listed);
  for (std::uint32_t i = 0; i < listed; ++i) {
    const std::int64_t offset =
        count == 1 ? Be16(page, header + 5) : Be16(page, array + 2 * std::size_t{i});
    if (offset < static_cast<std::int64_t>(header) + 8 || offset >= s) continue;  // damaged
    std::int64_t extent = 0;
    if (interior) {
      int length = 0;
      VarintAt(page, offset + 4, s - offset - 4, length);
      extent = 4 + length;
    } else {
      extent = reader.CellExtent(page, static_cast<std::uint32_t>(offset));
    }
    ranges_.emplace_back(offset,
                         std::min<std::int64_t>(offset + std::max<std::int64_t>(extent, 1), s));
  }
  // Cells usually lie in reverse order of their pointers.
  if (!std::is_sorted(ranges_.begin(), ranges_.end())) {
    std::reverse(ranges_.begin(), ranges_.end());
    if (!std::is_sorted(ranges_.begin(), ranges_.end())) std::sort(ranges_.begin(), ranges_.end());
  }
  furthest_.reserve(ranges_.size());
  std::int64_t furthest = 0;
  for (const auto& range : ranges_) {
    furthest = std::max(furthest, range.second);
    furthest_.push_back(furthest);
  }
}

std::int64_t LiveCells::CoveredUntil(std::int64_t offset) const {
  // The ranges starting at or before `offset`; the furthest end among them (ranges of a
  // sound page do not overlap, those of a damaged one may).
  const auto it =
      std::upper_bound(ranges_.begin(), ranges_.end(),
                       std::make_pair(offset, std::numeric_limits<std::int64_t>::max()));
  if (it == ranges_.begin()) return offset;
  return std::max(offset, furthest_[static_cast<std::size_t>(it - ranges_.begin()) - 1]);
}

std::int64_t LiveCells::NextStart(std::int64_t offset, std::int64_t otherwise) const {
  const auto it =
      std::upper_bound(ranges_.begin(), ranges_.end(),
                       std::make_pair(offset, std::numeric_limits<std::int64_t>::max()));
  return it == ranges_.end() ? otherwise : std::min(it->first, otherwise);
}

void Carver::CarveFreeblocks(Bytes page, std::list<std::uint16_t>& out) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  std::int64_t f = Be16(page, 1);
  std::int64_t previous = 0;
  while (f != 0) {
    // A chain only moves forward; a loop or a block without room for its header ends it.
    if (f <= previous || f + 4 > s) break;
    const std::uint32_t c = table_.columns;
    if (c == 0) break;
    std::int64_t size = Be16(page, static_cast<std::size_t>(f) + 2);
    if (size == 0) break;
    const std::int64_t avail = s - f - 4;
    if (f + size > s) size = 0;
    int hl = 0;
    const std::uint64_t hs = VarintAt(page, f + 4, avail, hl);
    const std::uint32_t m =
        reader_.varints_length(Tail(page, static_cast<std::size_t>(f + 4 + hl)), c);
    const std::int64_t p = hs - static_cast<std::uint64_t>(hl) == m ? f + 4 + hl : f + 4;
    const std::uint32_t u = reader_.record_length(Tail(page, static_cast<std::size_t>(p)),
                                                  table_.columns, m, s - f - 4);
    if (u != 0 && u <= size) {
      bool take = true;
      if (table_.name == "message") {
        // A deleted message keeps its 36 bytes of non-zero leading contents.
        const std::int64_t from = f + 4 + m;
        if (from + 36 > s) {
          take = false;
        } else {
          for (std::int64_t i = from; i < from + 36; ++i)
            if (page[static_cast<std::size_t>(i)] == 0) take = false;
        }
      }
      if (take) Append(out, p, s);
    }
    previous = f;
    f = Be16(page, static_cast<std::size_t>(f));
  }
}

namespace {

// What a serial type below 128 tells ColumnSignature::Learn.
struct OneByteType {
  std::uint8_t kind = 0;    // SerialKind
  std::uint16_t width = 0;  // bit of its contents' width (numbers, NULL and constants)
  std::uint8_t size = 0;    // contents' size
  bool noted = false;       // a small integer (type 1) or a constant (8, 9)
};

}  // namespace

void ColumnSignature::Learn(Bytes page, const std::list<std::uint16_t>& cells) {
  const std::vector<std::uint16_t> offsets(cells.begin(), cells.end());
  Learn(page, std::span<const std::uint16_t>(offsets));
}

void ColumnSignature::Learn(Bytes page, std::span<const std::uint16_t> cells) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  for (std::uint16_t cell : cells) {
    std::int64_t pos = cell;
    int lp = 0, lr = 0, lh = 0;
    VarintAt(page, pos, s - pos, lp);
    if (lp <= 0) continue;
    pos += lp;
    VarintAt(page, pos, s - pos, lr);
    if (lr <= 0) continue;
    pos += lr;
    const std::uint64_t header = VarintAt(page, pos, s - pos, lh);
    if (lh <= 0 || header < static_cast<std::uint64_t>(lh) || header > 0xFFFF) continue;
    const std::int64_t end = std::min<std::int64_t>(pos + static_cast<std::int64_t>(header), s);
    std::int64_t content = pos + static_cast<std::int64_t>(header);
    pos += lh;
    // A table of many columns has its headers read here once per live row: the serial
    // types below 128 (nearly all, one byte each) are looked up in a table of what each
    // tells.
    static const std::array<OneByteType, 128> kOneByte = [] {
      std::array<OneByteType, 128> table{};
      for (std::uint64_t type = 0; type < 128; ++type) {
        OneByteType& t = table[type];
        t.kind = SerialKind(type);
        t.width = type <= 9 ? static_cast<std::uint16_t>(1u << SerialContentSize(type)) : 0;
        t.size = static_cast<std::uint8_t>(SerialContentSize(type));
        t.noted = type == 1 || type == 8 || type == 9;
      }
      return table;
    }();
    std::size_t column = 0;
    for (; pos < end && column < 4096; ++column) {
      std::uint64_t type = page[static_cast<std::size_t>(pos)];
      if (type < 0x80) {
        ++pos;
      } else {
        int g = 0;
        type = VarintAt(page, pos, end - pos, g);
        if (g <= 0) break;
        pos += g;
      }
      if (column >= kinds_.size()) Grow(column + 1);
      if (type >= kOneByte.size()) {  // a text or blob of 58 bytes or more
        kinds_[column] |= SerialKind(type);
        content +=
            static_cast<std::int64_t>(std::min<std::uint64_t>(SerialContentSize(type), 0x10000));
        continue;
      }
      const OneByteType& t = kOneByte[type];
      kinds_[column] |= t.kind;
      widths_[column] |= t.width;
      if (t.noted) {
        if (type != 1)
          Note(column, type == 9 ? 1 : 0);
        else if (content < s)
          Note(column, static_cast<std::int8_t>(page[static_cast<std::size_t>(content)]));
      }
      content += t.size;
    }
    if (column != 0) startsBuilt_ = false;
  }
}

void ColumnSignature::BuildStarts() const {
  for (std::uint64_t type = 0; type < 128; ++type) {
    std::uint8_t bits = 0;
    if (Fits(0, type) &&
        (type > 9 || HasWidth(0, static_cast<std::uint32_t>(SerialContentSize(type)))))
      bits |= 1;
    if (Fits(1, type)) bits |= 2;
    if (Fits(2, type)) bits |= 4;
    starts_[type] = bits;
  }
  startsBuilt_ = true;
}

void ColumnSignature::Grow(std::size_t columns) {
  if (kinds_.size() >= columns) return;
  kinds_.resize(columns, 0);
  widths_.resize(columns, 0);
  values_.resize(columns, {});
}

void ColumnSignature::Note(std::size_t column, std::int64_t value) {
  const std::uint64_t bit = static_cast<std::uint64_t>(value + 128);
  values_[column][bit / 64] |= 1ull << (bit % 64);
}

bool ColumnSignature::HasValue(std::size_t column, std::int64_t value) const {
  if (column >= values_.size() || value < -128 || value > 127) return false;
  const std::uint64_t bit = static_cast<std::uint64_t>(value + 128);
  return (values_[column][bit / 64] >> (bit % 64) & 1u) != 0;
}

void ColumnSignature::Allow(std::size_t column, std::uint8_t kinds, std::uint16_t widths) {
  Grow(column + 1);
  kinds_[column] |= kinds;
  startsBuilt_ = false;
  if ((kinds & 16) != 0) widths_[column] |= 1u;
  if ((kinds & 1) != 0) widths_[column] |= widths;
}

void Carver::ScanRegion(Bytes page, const ColumnSignature& signature, const LiveCells& live,
                        std::int64_t from, std::int64_t to, const std::set<std::uint16_t>& known,
                        std::list<std::uint16_t>& out) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  const std::uint32_t c = table_.columns;
  if (c < 2 || signature.empty()) return;
  from = std::max<std::int64_t>(from, 0);
  to = std::min(to, s);
  TextSpan text;
  auto record_end = [&](std::int64_t x, std::uint32_t first, std::int64_t end) {
    return RecordEndAt(page, signature, c, x, first, end, &text,
                       table_.spilled ? reader_.UsableSize() : 0);
  };
  std::int64_t x = from;
  // A record must end before the next live cell; that boundary is looked up again only
  // when the scan reaches it.
  std::int64_t end = -1;
  while (x < to) {
    if (end < 0 || x >= end) {
      if (const std::int64_t covered = live.CoveredUntil(x); covered > x) {
        x = covered;  // nothing inside a live cell is a deleted record
        end = -1;
        continue;
      }
      end = live.NextStart(x, to);
    }
    // Most bytes of free space start no record: two serial types that cannot begin one
    // are passed over at once.
    if (x + 1 < end && !signature.MayStart(page[static_cast<std::size_t>(x)],
                                           page[static_cast<std::size_t>(x) + 1])) {
      ++x;
      continue;
    }
    std::int64_t stop = record_end(x, 0, end);
    if (stop < 0) stop = record_end(x, 1, end);
    if (stop < 0) {
      ++x;
      continue;
    }
    if (known.count(static_cast<std::uint16_t>(x)) == 0) Append(out, x, s);
    // The scan goes on behind the record, unless its text stops being text before its
    // end: then from a little before that point, where the head of a later row written
    // over it (or, for a reading at a wrong alignment that claims thousands of bytes of
    // text, the rows it would pass over) may begin.
    std::int64_t next = stop;
    if (const std::int64_t bad = FirstNonTextByte(page, text.from, text.from + text.size); bad >= 0)
      next = std::min(stop, bad - 16);
    x = std::max(next, x + 1);
  }
}

void Carver::CarveRegion(Bytes page, const ColumnSignature& signature, std::int64_t from,
                         std::int64_t to, const std::set<std::uint16_t>& known,
                         std::list<std::uint16_t>& out) {
  ScanRegion(page, signature, LiveCells(), from, to, known, out);
}

void Carver::CarveFreeSpace(Bytes page, const ColumnSignature& signature,
                            const std::list<std::uint16_t>& known, std::list<std::uint16_t>& out,
                            const LiveCells* given) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  if (table_.columns < 2 || signature.empty() || s < 8) return;
  const std::set<std::uint16_t> seen(known.begin(), known.end());
  const LiveCells own = given != nullptr ? LiveCells() : LiveCells(reader_, page);
  const LiveCells& live = given != nullptr ? *given : own;
  // Freeblocks, behind each block's own link and size.
  std::int64_t f = Be16(page, 1);
  std::int64_t previous = 0;
  while (f != 0) {
    if (f <= previous || f + 4 > s) break;
    const std::int64_t size = Be16(page, static_cast<std::size_t>(f) + 2);
    if (size == 0) break;
    // Start at the block's own candidate when it has one (the first record, behind the
    // block's link and size and perhaps its header-size byte).
    std::int64_t from = f + 4;
    const auto first =
        seen.lower_bound(static_cast<std::uint16_t>(std::min<std::int64_t>(f + 4, 0xFFFF)));
    if (first != seen.end() && *first < f + size && *first <= f + 6) from = *first;
    ScanRegion(page, signature, live, from, f + size, seen, out);
    previous = f;
    f = Be16(page, static_cast<std::size_t>(f));
  }
  // The unallocated space between the cell pointer array and the content area (on an
  // interior page: a root that was a leaf before its first split keeps its old cells
  // there).
  const std::int64_t n = Be16(page, 3);
  const std::int64_t content = Be16(page, 5) == 0 ? 65536 : Be16(page, 5);
  const std::int64_t array = page[0] == 0x05 ? 12 : 8;
  ScanRegion(page, signature, live, array + 2 * n, content, seen, out);
}

void Carver::CarveTail(Bytes page, std::list<std::uint16_t>& out) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  if (table_.columns == 0) return;
  const std::uint32_t n = Be16(page, 3);
  std::int64_t top = 0;
  if (n == 1) {
    top = Be16(page, 5);
  } else if (n > 1) {
    const std::uint32_t count = std::min<std::uint32_t>(n, static_cast<std::uint32_t>((s - 8) / 2));
    for (std::uint32_t i = 0; i < count; ++i)
      top = std::max<std::int64_t>(top, Be16(page, 8 + 2 * std::size_t{i}));
  }
  // The end of that cell as it lies in the page: its local payload and, when the
  // payload spills, the overflow link. (Its payload length alone points past the page
  // for a spilling cell, and on a 65536-byte page the last cell ends at 65536, which
  // cut to 16 bits would restart the scans at offset 0, through every live cell.)
  const std::int64_t end =
      top < s ? top + std::max<std::int64_t>(
                          reader_.CellExtent(page, static_cast<std::uint32_t>(top)), 1)
              : s;

  // Forward scan for intact record headers.
  std::int64_t pos = end;
  while (pos < s) {
    const std::int64_t len = s - pos;
    int g = 0;
    const std::uint64_t v = VarintAt(page, pos, len, g);
    if (g <= 0) break;
    pos += g;
    std::uint32_t c = table_.columns;
    if (v != 0 && v <= std::uint64_t{c} + 5 && static_cast<std::int64_t>(v) < len &&
        static_cast<std::int64_t>(c) < len - g) {
      if (table_.name == "call") c = table_.call_columns;
      const std::uint64_t k = c != 0 ? std::uint64_t{reader_.varints_length(
                                           Tail(page, static_cast<std::size_t>(pos)), c)} +
                                           1
                                     : 0;
      if (k == v) {
        const std::uint16_t u = static_cast<std::uint16_t>(
            reader_.record_length(Tail(page, static_cast<std::size_t>(pos)), table_.columns,
                                  static_cast<std::uint32_t>(v - 1), s - pos));
        if (u < s - pos) Append(out, pos, s);
        pos += u;
      }
    }
  }

  // Forward scan of records packed back to back, each behind four overwritten bytes.
  const std::uint32_t c = table_.columns;
  std::int64_t g = end;
  while (g + static_cast<std::int64_t>(c) + 9 < s) {
    g += 4;
    const std::uint32_t hl = reader_.varints_length(Tail(page, static_cast<std::size_t>(g)), c);
    const std::uint16_t u = static_cast<std::uint16_t>(
        reader_.record_length(Tail(page, static_cast<std::size_t>(g)), table_.columns, hl, s - g));
    if (s - g < u) break;
    Append(out, g, s);
    g += u;
  }
}

void Carver::CarveGap(Bytes page, std::list<std::uint16_t>& out) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  if (table_.columns == 0) return;
  const std::uint32_t n = Be16(page, 3);
  std::int64_t top = s;
  if (n == 1) {
    top = Be16(page, 5);
  } else if (n > 1) {
    const std::uint32_t count = std::min<std::uint32_t>(n, static_cast<std::uint32_t>((s - 8) / 2));
    for (std::uint32_t i = 0; i < count; ++i)
      top = std::min<std::int64_t>(top, Be16(page, 8 + 2 * std::size_t{i}));
  }
  top = std::min(top, s);

  // The first zero word after the pointer array, then the first used byte behind it.
  std::int64_t zero = -1;
  for (std::int64_t w = 4; w < top / 2; ++w) {
    if (Be16(page, static_cast<std::size_t>(2 * w)) == 0) {
      zero = 2 * w;
      break;
    }
  }
  if (zero < 0) return;
  std::int64_t b = -1;
  for (std::int64_t x = zero + 2; x < top; ++x) {
    if (page[static_cast<std::size_t>(x)] != 0) {
      b = x;
      break;
    }
  }
  if (b < 0) return;

  // Backward scan: a header-size byte followed by exactly C serial types; records found
  // further down must end before the one found above them.
  std::int64_t limit_top = top;
  for (std::int64_t pos = limit_top - 1; pos >= b; --pos) {
    const std::int64_t d = limit_top - pos;
    int gl = 0;
    const std::uint64_t v = VarintAt(page, pos, d, gl);
    const std::int64_t q = pos + gl;
    std::uint32_t c = table_.columns;
    if (v != 0 && c <= v && v <= std::uint64_t{c} + 5 && static_cast<std::int64_t>(v) < d &&
        static_cast<std::int64_t>(v) < d - gl) {
      if (table_.name == "call") c = table_.call_columns;
      const std::uint64_t k =
          c != 0
              ? std::uint64_t{reader_.varints_length(Tail(page, static_cast<std::size_t>(q)), c)} +
                    1
              : 0;
      if (v == k && static_cast<std::int64_t>(reader_.record_length(
                        Tail(page, static_cast<std::size_t>(q)), table_.columns,
                        static_cast<std::uint32_t>(v), limit_top - q)) <= limit_top - q) {
        Append(out, q, s);
        limit_top = pos;
      }
    }
  }

  // Forward: the first non-zero word is taken as an overwritten four-byte header.
  const std::uint32_t c = table_.columns;
  for (std::int64_t pos = b; pos < top; ++pos) {
    const std::uint32_t word = Be16(page, static_cast<std::size_t>(pos));
    if (word == 0) continue;
    const std::int64_t q = pos + 4;
    const std::uint32_t hl =
        c != 0 ? reader_.varints_length(Tail(page, static_cast<std::size_t>(q)), c) : word;
    if (static_cast<std::int64_t>(reader_.record_length(Tail(page, static_cast<std::size_t>(q)),
                                                        table_.columns, hl, s - q)) <= top - q)
      Append(out, q, s);
    return;
  }
}

void Carver::CarveStalePointers(Bytes page, std::list<std::uint16_t>& out) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  if (table_.columns == 0) return;
  const std::uint32_t n = Be16(page, 3);
  std::int64_t last = 0;
  bool duplicate = false;
  // Every candidate of the page so far, for the nearness test in one look-up.
  std::multiset<std::int64_t> known(out.begin(), out.end());
  for (std::int64_t i = 0; i < s / 2; ++i) {
    if (8 + 2 * i + 2 > s) break;
    const std::int64_t e = Be16(page, static_cast<std::size_t>(8 + 2 * i));
    if (e == 0 || e >= s) break;
    if (i < n) {
      last = e;
      continue;
    }
    if (last <= e && e <= last + 6) continue;

    // a. Freeblock-shaped: the entry points at a deleted cell that became a freeblock.
    {
      std::uint32_t c = table_.columns;
      std::int64_t rem = s - e;
      if (static_cast<std::int64_t>(c) < rem) {
        std::int64_t size = Be16(page, static_cast<std::size_t>(e + 2));
        bool ok = size != 0;
        if (ok && e + size > s) {
          int l = 0;
          const std::uint64_t v = VarintAt(page, e + 3, rem, l);
          rem -= l;
          size = v > static_cast<std::uint64_t>(s) ? s + 1 : static_cast<std::int64_t>(v);
          if (size > rem) ok = false;
        }
        if (ok) {
          int hl = 0;
          const std::uint64_t hs = VarintAt(page, e + 4, rem, hl);
          const std::uint32_t m =
              c != 0 ? reader_.varints_length(Tail(page, static_cast<std::size_t>(e + 4 + hl)), c)
                     : 0;
          const std::int64_t p = hs - static_cast<std::uint64_t>(hl) == m ? e + 4 + hl : e + 4;
          if (p < s &&
              static_cast<std::int64_t>(reader_.record_length(
                  Tail(page, static_cast<std::size_t>(p)), table_.columns, m, s - p)) <= size) {
            Append(out, p, s);
            known.insert(p);
            continue;
          }
        }
      }
    }

    // b. Cell-shaped: an intact cell head, or a freeblock at the end of the chain.
    std::int64_t expected = 0;
    std::int64_t pos = 0;
    std::int64_t rem = 0;
    bool block = false;
    if (Be16(page, static_cast<std::size_t>(e)) != 0) {
      int lp = 0, lr = 0;
      const std::uint64_t payload = VarintAt(page, e, s - e, lp);
      expected = static_cast<std::int64_t>(std::min<std::uint64_t>(payload, 1ull << 40)) - 1;
      if (expected > s - e) continue;
      VarintAt(page, e + lp, s - e - lp, lr);
      rem = s - e - lp - lr;
      if (rem <= 0) continue;
      pos = e + lp + lr;
    } else {
      block = true;
      expected = static_cast<std::int64_t>(Be16(page, static_cast<std::size_t>(e + 2))) - 5;
      pos = e + 4;
      rem = s - e;
    }

    // c. The header size must count exactly C serial types.
    int hl = 0;
    const std::uint64_t hs = VarintAt(page, pos, rem, hl);
    const std::int64_t q = pos + hl;
    const std::uint32_t c = table_.columns;
    if (static_cast<std::int64_t>(c) >= rem) continue;
    const std::uint64_t k =
        c != 0
            ? std::uint64_t{reader_.varints_length(Tail(page, static_cast<std::size_t>(q)), c)} + 1
            : 0;
    if (k != hs) continue;

    // d. The header must fit the page and the cell.
    if (!(q < s && hs < static_cast<std::uint64_t>(s - q) &&
          (expected < 0 || static_cast<std::int64_t>(hs) < expected) && hs != 0))
      continue;

    // e., f.
    const std::int64_t t =
        reader_.record_length(Tail(page, static_cast<std::size_t>(q)), table_.columns,
                              static_cast<std::uint32_t>(hs), s - q);
    if (t == expected || block) {
      if (!duplicate) {
        const auto near = known.lower_bound(q - 6);
        if (near != known.end() && *near <= q + 6) duplicate = true;
      }
      if (!duplicate) {
        Append(out, q, s);
        known.insert(q);
      }
    }
  }
}

std::list<std::uint16_t> Carver::carve_page(Bytes page) {
  std::list<std::uint16_t> out;
  CarveFreeblocks(page, out);
  CarveTail(page, out);
  CarveGap(page, out);
  CarveStalePointers(page, out);
  if (out.empty()) return out;
  const LiveCells live(reader_, page);
  out.remove_if([&](std::uint16_t position) { return live.Contains(position); });
  return out;
}

std::int32_t Carver::collect_candidates(std::int32_t index, Bytes page, CandidateMap& candidates) {
  return reader_.WalkLeaves(
      index, page, [&](std::int32_t leaf, Bytes bytes) { candidates[leaf] = carve_page(bytes); });
}

std::int32_t Carver::match_free_page(const CellMap& cells) {
  if (cells.empty()) return -1;
  const auto& [index, offsets] = *cells.begin();
  if (offsets.empty()) return -1;
  std::vector<std::uint8_t> buffer(reader_.PageSize());
  if (reader_.read_page(index, buffer.data()) != 0) return -1;
  Bytes page(buffer);
  const std::uint32_t s = reader_.PageSize();
  const std::uint32_t first = offsets.front();
  std::uint32_t next = s;
  for (std::uint16_t o : offsets)
    if (o > first && o < next) next = o;
  std::vector<std::uint8_t> joined;
  Bytes view;
  if (reader_.read_live_payload(page, first, next, joined, view) != 0) return -1;
  int lp = 0, lr = 0, lh = 0;
  RawDbFile::read_varint(view, static_cast<std::int64_t>(view.size()), lp);
  RawDbFile::read_varint(Tail(view, lp), static_cast<std::int64_t>(view.size()) - lp, lr);
  const std::size_t payload = static_cast<std::size_t>(lp + lr);
  const std::uint64_t header = RawDbFile::read_varint(
      Tail(view, payload), static_cast<std::int64_t>(view.size()) - lp - lr, lh);
  if (lh <= 0) return -1;
  const std::uint64_t end = std::min<std::uint64_t>(payload + header, view.size());
  std::uint64_t pos = payload + static_cast<std::uint64_t>(lh);
  std::int32_t count = 0;
  while (pos < end) {
    int l = 0;
    RawDbFile::read_varint(Tail(view, pos), static_cast<std::int64_t>(end - pos), l);
    if (l <= 0) break;
    pos += static_cast<std::uint64_t>(l);
    ++count;
  }
  return count;
}

}  // namespace bv

// Deleted-row carving: finds, on one leaf page, the positions where a deleted record
// of the current table may still lie. Every position is an offset of the first serial
// type of a supposed record (its payload length, row id and header size are missing);
// the carved-header rule decides which columns its serial types belong to.
//
// Strategies, run in this order on one page:
//   A  the freeblock chain (a deleted cell whose first four bytes became the
//      freeblock's link and size);
//   B  the area behind the highest live cell;
//   C  the unallocated gap between the cell pointer array and the content area;
//   D  stale entries of the cell pointer array beyond the cell count.
// A table with no known column count gets no candidates: every test needs the count.
//
// Beyond these, the table passes carve the free space itself (carve_free_space): the
// rows that SQLite merged into one freeblock or gave back to the unallocated space
// keep their serial types and contents behind a few overwritten head bytes, and each
// is recognised by the kinds of value the table's live rows hold per column. Those
// positions come after the strategies' own candidates and never replace them.
#include <algorithm>
#include <cstdint>
#include <set>

#include "rawsqlite/raw_db_file.h"

namespace bv {

namespace {

std::uint64_t VarintAt(Bytes page, std::int64_t pos, std::int64_t limit, int& length) {
  if (pos < 0) return 0;
  return RawDbFile::read_varint(Tail(page, static_cast<std::size_t>(pos)), limit, length);
}

void Append(std::list<std::uint16_t>& out, std::int64_t pos, std::int64_t s) {
  if (pos >= 0 && pos < s && pos <= 0xFFFF) out.push_back(static_cast<std::uint16_t>(pos));
}

}  // namespace

void RawDbFile::carve_freeblocks(Bytes page, std::list<std::uint16_t>& out) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  std::int64_t f = Be16(page, 1);
  std::int64_t previous = 0;
  while (f != 0) {
    // A chain only moves forward; a loop or a block without room for its header ends it.
    if (f <= previous || f + 4 > s) break;
    const std::uint32_t c = expected_columns(current_table);
    if (c == 0) break;
    std::int64_t size = Be16(page, static_cast<std::size_t>(f) + 2);
    if (size == 0) break;
    const std::int64_t avail = s - f - 4;
    if (f + size > s) size = 0;
    int hl = 0;
    const std::uint64_t hs = VarintAt(page, f + 4, avail, hl);
    const std::uint32_t m = varints_length(Tail(page, static_cast<std::size_t>(f + 4 + hl)), c);
    const std::int64_t p = hs - static_cast<std::uint64_t>(hl) == m ? f + 4 + hl : f + 4;
    const std::uint32_t u = record_length(Tail(page, static_cast<std::size_t>(p)), m, s - f - 4);
    if (u != 0 && u <= size) {
      bool take = true;
      if (current_table == "message") {
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

// 1 integer, 2 real, 4 text, 8 blob, 16 NULL; 0 for the reserved types.
std::uint8_t KindOf(std::uint64_t type) {
  if (type == 0) return 16;
  if (type == 10 || type == 11) return 0;
  if (type <= 6 || type == 8 || type == 9) return 1;
  if (type == 7) return 2;
  return type % 2 == 1 ? 4 : 8;
}

}  // namespace

void ColumnSignature::learn(Bytes page, const std::list<std::uint16_t>& cells) {
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
    pos += lh;
    for (std::size_t column = 0; pos < end && column < 4096; ++column) {
      int g = 0;
      const std::uint64_t type = VarintAt(page, pos, end - pos, g);
      if (g <= 0) break;
      pos += g;
      if (kinds_.size() <= column) kinds_.resize(column + 1, 0);
      kinds_[column] |= KindOf(type);
    }
  }
}

bool ColumnSignature::fits(std::size_t column, std::uint64_t type) const {
  const std::uint8_t kind = KindOf(type);
  return kind != 0 && column < kinds_.size() && (kinds_[column] & kind) != 0;
}

void RawDbFile::carve_region(Bytes page, const ColumnSignature& signature, std::int64_t from,
                             std::int64_t to, const std::set<std::uint16_t>& known,
                             std::list<std::uint16_t>& out) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  const std::uint32_t c = expected_columns(current_table);
  if (c < 2 || signature.empty()) return;
  from = std::max<std::int64_t>(from, 0);
  to = std::min(to, s);
  // The record at `x` read with its first column `first`: its end, or -1 when a type
  // does not fit its column, the header is cut, no column holds text, or the record
  // leaves the region.
  auto record_end = [&](std::int64_t x, std::uint32_t first) -> std::int64_t {
    std::int64_t pos = x;
    std::uint64_t contents = 0;
    bool text = false;
    for (std::uint32_t column = first; column < c; ++column) {
      int g = 0;
      const std::uint64_t type = VarintAt(page, pos, to - pos, g);
      if (g <= 0 || !signature.fits(column, type)) return -1;
      pos += g;
      contents += SerialContentSize(type);
      text |= type >= 15 && type % 2 == 1;
      if (contents > static_cast<std::uint64_t>(to - pos)) return -1;
    }
    return text ? pos + static_cast<std::int64_t>(contents) : -1;
  };
  std::int64_t x = from;
  while (x < to) {
    std::int64_t stop = record_end(x, 0);
    if (stop < 0) stop = record_end(x, 1);
    if (stop < 0) {
      ++x;
      continue;
    }
    if (known.count(static_cast<std::uint16_t>(x)) == 0) Append(out, x, s);
    x = std::max(stop, x + 1);
  }
}

void RawDbFile::carve_free_space(Bytes page, const ColumnSignature& signature,
                                 const std::list<std::uint16_t>& known,
                                 std::list<std::uint16_t>& out) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  if (expected_columns(current_table) < 2 || signature.empty() || s < 8) return;
  const std::set<std::uint16_t> seen(known.begin(), known.end());
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
    carve_region(page, signature, from, f + size, seen, out);
    previous = f;
    f = Be16(page, static_cast<std::size_t>(f));
  }
  // The unallocated space between the cell pointer array and the content area (on an
  // interior page: a root that was a leaf before its first split keeps its old cells
  // there).
  const std::int64_t n = Be16(page, 3);
  const std::int64_t content = Be16(page, 5) == 0 ? 65536 : Be16(page, 5);
  const std::int64_t array = page[0] == 0x05 ? 12 : 8;
  carve_region(page, signature, array + 2 * n, content, seen, out);
}

void RawDbFile::carve_tail(Bytes page, std::list<std::uint16_t>& out) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  if (expected_columns(current_table) == 0) return;
  const std::uint32_t n = Be16(page, 3);
  std::int64_t top = 0;
  if (n == 1) {
    top = Be16(page, 5);
  } else if (n > 1) {
    const std::uint32_t count = std::min<std::uint32_t>(n, static_cast<std::uint32_t>((s - 8) / 2));
    for (std::uint32_t i = 0; i < count; ++i)
      top = std::max<std::int64_t>(top, Be16(page, 8 + 2 * std::size_t{i}));
  }
  int lp = 0, lr = 0;
  const std::uint64_t payload = VarintAt(page, top, s - top, lp);
  VarintAt(page, top + lp, s - top - lp, lr);
  // Unsigned: a damaged length may be near 2^64; only the low 16 bits count.
  const std::int64_t end =
      static_cast<std::uint16_t>(static_cast<std::uint64_t>(top + lp + lr) + payload);

  // Forward scan for intact record headers.
  std::int64_t pos = end;
  while (pos < s) {
    const std::int64_t len = s - pos;
    int g = 0;
    const std::uint64_t v = VarintAt(page, pos, len, g);
    if (g <= 0) break;
    pos += g;
    std::uint32_t c = expected_columns(current_table);
    if (v != 0 && v <= std::uint64_t{c} + 5 && static_cast<std::int64_t>(v) < len &&
        static_cast<std::int64_t>(c) < len - g) {
      if (current_table == "call") c = call_columns;
      const std::uint64_t k =
          c != 0 ? std::uint64_t{varints_length(Tail(page, static_cast<std::size_t>(pos)), c)} + 1
                 : 0;
      if (k == v) {
        const std::uint16_t u = static_cast<std::uint16_t>(record_length(
            Tail(page, static_cast<std::size_t>(pos)), static_cast<std::uint32_t>(v - 1), s - pos));
        if (u < s - pos) Append(out, pos, s);
        pos += u;
      }
    }
  }

  // Forward scan of records packed back to back, each behind four overwritten bytes.
  const std::uint32_t c = expected_columns(current_table);
  std::int64_t g = end;
  while (g + static_cast<std::int64_t>(c) + 9 < s) {
    g += 4;
    const std::uint32_t hl = varints_length(Tail(page, static_cast<std::size_t>(g)), c);
    const std::uint16_t u = static_cast<std::uint16_t>(
        record_length(Tail(page, static_cast<std::size_t>(g)), hl, s - g));
    if (s - g < u) break;
    Append(out, g, s);
    g += u;
  }
}

void RawDbFile::carve_gap(Bytes page, std::list<std::uint16_t>& out) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  if (expected_columns(current_table) == 0) return;
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
    std::uint32_t c = expected_columns(current_table);
    if (v != 0 && c <= v && v <= std::uint64_t{c} + 5 && static_cast<std::int64_t>(v) < d &&
        static_cast<std::int64_t>(v) < d - gl) {
      if (current_table == "call") c = call_columns;
      const std::uint64_t k =
          c != 0 ? std::uint64_t{varints_length(Tail(page, static_cast<std::size_t>(q)), c)} + 1
                 : 0;
      if (v == k && static_cast<std::int64_t>(record_length(Tail(page, static_cast<std::size_t>(q)),
                                                            static_cast<std::uint32_t>(v),
                                                            limit_top - q)) <= limit_top - q) {
        Append(out, q, s);
        limit_top = pos;
      }
    }
  }

  // Forward: the first non-zero word is taken as an overwritten four-byte header.
  const std::uint32_t c = expected_columns(current_table);
  for (std::int64_t pos = b; pos < top; ++pos) {
    const std::uint32_t word = Be16(page, static_cast<std::size_t>(pos));
    if (word == 0) continue;
    const std::int64_t q = pos + 4;
    const std::uint32_t hl =
        c != 0 ? varints_length(Tail(page, static_cast<std::size_t>(q)), c) : word;
    if (static_cast<std::int64_t>(
            record_length(Tail(page, static_cast<std::size_t>(q)), hl, s - q)) <= top - q)
      Append(out, q, s);
    return;
  }
}

void RawDbFile::carve_stale_pointers(Bytes page, std::list<std::uint16_t>& out) {
  const std::int64_t s = static_cast<std::int64_t>(page.size());
  if (expected_columns(current_table) == 0) return;
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
      std::uint32_t c = expected_columns(current_table);
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
              c != 0 ? varints_length(Tail(page, static_cast<std::size_t>(e + 4 + hl)), c) : 0;
          const std::int64_t p = hs - static_cast<std::uint64_t>(hl) == m ? e + 4 + hl : e + 4;
          if (p < s && static_cast<std::int64_t>(record_length(
                           Tail(page, static_cast<std::size_t>(p)), m, s - p)) <= size) {
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
    const std::uint32_t c = expected_columns(current_table);
    if (static_cast<std::int64_t>(c) >= rem) continue;
    const std::uint64_t k =
        c != 0 ? std::uint64_t{varints_length(Tail(page, static_cast<std::size_t>(q)), c)} + 1 : 0;
    if (k != hs) continue;

    // d. The header must fit the page and the cell.
    if (!(q < s && hs < static_cast<std::uint64_t>(s - q) &&
          (expected < 0 || static_cast<std::int64_t>(hs) < expected) && hs != 0))
      continue;

    // e., f.
    const std::int64_t t = record_length(Tail(page, static_cast<std::size_t>(q)),
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

std::list<std::uint16_t> RawDbFile::carve_page(Bytes page) {
  std::list<std::uint16_t> out;
  carve_freeblocks(page, out);
  carve_tail(page, out);
  carve_gap(page, out);
  carve_stale_pointers(page, out);
  return out;
}

std::int32_t RawDbFile::match_free_page(const CellMap& cells) {
  if (cells.empty()) return -1;
  const auto& [index, offsets] = *cells.begin();
  if (offsets.empty()) return -1;
  std::vector<std::uint8_t> buffer(PageSize());
  if (read_page(index, buffer.data()) != 0) return -1;
  Bytes page(buffer);
  const std::uint32_t s = PageSize();
  const std::uint32_t first = offsets.front();
  std::uint32_t next = s;
  for (std::uint16_t o : offsets)
    if (o > first && o < next) next = o;
  std::vector<std::uint8_t> joined;
  Bytes view;
  if (read_live_payload(page, first, next, joined, view) != 0) return -1;
  int lp = 0, lr = 0, lh = 0;
  read_varint(view, static_cast<std::int64_t>(view.size()), lp);
  read_varint(Tail(view, lp), static_cast<std::int64_t>(view.size()) - lp, lr);
  const std::size_t payload = static_cast<std::size_t>(lp + lr);
  const std::uint64_t header =
      read_varint(Tail(view, payload), static_cast<std::int64_t>(view.size()) - lp - lr, lh);
  if (lh <= 0) return -1;
  const std::uint64_t end = std::min<std::uint64_t>(payload + header, view.size());
  std::uint64_t pos = payload + static_cast<std::uint64_t>(lh);
  std::int32_t count = 0;
  while (pos < end) {
    int l = 0;
    read_varint(Tail(view, pos), static_cast<std::int64_t>(end - pos), l);
    if (l <= 0) break;
    pos += static_cast<std::uint64_t>(l);
    ++count;
  }
  return count;
}

}  // namespace bv

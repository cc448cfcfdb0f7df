#pragma once
// The overflow pages of deleted rows. A row whose payload does not fit its page keeps
// the rest on a chain of overflow pages (each: a 4-byte link to the next, then payload
// bytes); when SQLite deletes the row it frees those pages with it. A freed page goes
// onto the freelist as a leaf and keeps its bytes (secure_delete off) until a later
// write takes it, so the rest of the row may still be there.
//
// Only freelist leaves of the database as the reader shows it are followed: a page in
// use holds someone else's bytes now, and a trunk page lost its first bytes to the
// freelist's own data. A chain whose links disagree with the payload's length (a page
// taken by another row and freed again) ends the reading there: what it gives is then
// cut short, never filled up with another row's bytes.
#include <cstdint>
#include <vector>

#include "rawsqlite/raw_db_file.h"

namespace bv {

// Bytes of a payload of `payload` bytes that a table leaf of `usable` usable bytes
// keeps itself (the file format's rule; the rest lies on overflow pages).
inline std::uint64_t LocalPayloadOf(std::uint64_t payload, std::uint32_t usable) {
  if (usable < 480) return payload;
  const std::uint64_t maxLocal = usable - 35;
  if (payload <= maxLocal) return payload;
  const std::uint64_t minLocal = (static_cast<std::uint64_t>(usable - 12) * 32 / 255) - 23;
  const std::uint64_t local = minLocal + (payload - minLocal) % (usable - 4);
  return local > maxLocal ? minLocal : local;
}

// Bytes of the header-size varint of a record whose header holds `after` bytes behind
// it (column 0's type and the others).
inline std::uint32_t HeaderSizeBytes(std::uint64_t after) {
  return after + 1 < 128 ? 1 : (after + 2 < 16384 ? 2 : 3);
}

// Appends to `joined` the `rest` payload bytes of a deleted row that lie on its overflow
// chain from page `first_page` (1-based, as a cell stores it). True when all of them
// were read and the chain ends with them. Stops (false) at a page that is no freelist
// leaf, is `own_page` (0-based: the page of the row itself) or was met before, or whose
// link says that the chain goes on where the payload ends or ends before it; the bytes
// of the pages before it stay in `joined`.
// `pages`, when given, receives the pages (0-based) whose bytes were taken. The two Join
// functions below read a chain cut in the view with a log again as the file alone had it,
// and then give its pages as -1 - page.
bool ReadFreedOverflow(RawDbFile& reader, std::uint32_t first_page, std::int32_t own_page,
                       std::uint64_t rest, std::vector<std::uint8_t>& joined,
                       std::vector<std::int32_t>* pages = nullptr);

// A carved reading at `offset` of `page` (index `page_index`; the carved-header rule
// with C = `columns`) whose record spills: `joined` receives its bytes from the offset
// on, the local part followed by what its freed chain still holds, `view` shows them and
// `end` is the page offset past the local part's 4-byte link. False (nothing changed)
// when the record does not spill, or its link would lie at or beyond `limit` (the next
// live cell) or the page end: the caller reads the page as it is.
bool JoinSpilledCarving(RawDbFile& reader, Bytes page, std::int32_t page_index,
                        std::uint32_t offset, std::uint32_t limit, std::uint32_t columns,
                        std::vector<std::uint8_t>& joined, Bytes& view, std::uint64_t& end,
                        std::vector<std::int32_t>* pages = nullptr);

// The same for a whole cell of a freed page (payload length and row id in place) at
// `offset`: `joined` receives the cell's bytes from the offset with its chain's bytes
// after the local part. False when the payload does not spill.
bool JoinSpilledFreedCell(RawDbFile& reader, Bytes page, std::int32_t page_index,
                          std::uint32_t offset, std::vector<std::uint8_t>& joined, Bytes& view,
                          std::vector<std::int32_t>* pages = nullptr);

}  // namespace bv

#include "rawsqlite/overflow_chain.h"

#include <algorithm>
#include <set>

#include "common/result_codes.h"
#include "rawsqlite/record_cursor.h"

namespace bv {

namespace {

// No value SQLite stores is longer (its default length limit is 10^9 bytes); a
// reading that claims more is no record.
constexpr std::uint64_t kLongestPayload = 1000000000;

// The freelist's leaf pages (0-based) as the reader shows the database now or, inside an
// AsOf, as it was then: the trunks are read with read_page, which follows that view.
std::vector<std::int32_t> FreeLeaves(RawDbFile& reader) {
  if (!reader.ShowsOlderState()) return reader.free_pages;
  std::vector<std::int32_t> leaves;
  std::vector<std::uint8_t> page(reader.PageSize());
  if (reader.read_page(0, page.data()) != kSuccess) return leaves;
  const std::int64_t pages = reader.PageCount();
  std::uint32_t trunk = Be32(Bytes(page), 32);
  std::set<std::uint32_t> trunks;
  while (trunk != 0 && trunk <= pages && trunks.insert(trunk).second) {
    if (reader.read_page(static_cast<std::int32_t>(trunk - 1), page.data()) != kSuccess) break;
    const Bytes t(page);
    const std::uint32_t count =
        std::min<std::uint32_t>(Be32(t, 4), static_cast<std::uint32_t>((t.size() - 8) / 4));
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t leaf = Be32(t, 8 + 4 * std::size_t{i});
      if (leaf != 0 && leaf <= pages && static_cast<std::int64_t>(leaves.size()) < pages)
        leaves.push_back(static_cast<std::int32_t>(leaf - 1));
    }
    trunk = Be32(t, 0);
  }
  return leaves;
}

}  // namespace

bool ReadFreedOverflow(RawDbFile& reader, std::uint32_t first_page, std::int32_t own_page,
                       std::uint64_t rest, std::vector<std::uint8_t>& joined,
                       std::vector<std::int32_t>* pages) {
  if (rest == 0) return true;
  if (rest > kLongestPayload || reader.UsableSize() <= 4) return false;
  std::vector<std::int32_t> leaves = FreeLeaves(reader);
  std::sort(leaves.begin(), leaves.end());
  const std::uint64_t perPage = reader.UsableSize() - 4;
  std::vector<std::uint8_t> buffer(reader.PageSize());
  std::set<std::uint32_t> seen;
  std::uint32_t next = first_page;
  while (rest > 0) {
    if (next == 0 || next > reader.PageCount() || !seen.insert(next).second) return false;
    const auto index = static_cast<std::int32_t>(next - 1);
    if (index == own_page || !std::binary_search(leaves.begin(), leaves.end(), index)) return false;
    if (reader.read_page(index, buffer.data()) != kSuccess) return false;
    const std::uint64_t take = std::min(rest, perPage);
    const std::uint32_t link = Be32(Bytes(buffer), 0);
    // The last page of the row's chain links nowhere, every other one links on: a page
    // that says otherwise was part of another chain since.
    if ((take == rest) != (link == 0)) return false;
    joined.insert(joined.end(), buffer.begin() + 4,
                  buffer.begin() + 4 + static_cast<std::ptrdiff_t>(take));
    if (pages != nullptr) pages->push_back(index);
    rest -= take;
    next = link;
  }
  return true;
}

namespace {

// The chain as the reader shows the database; when that is cut and a write-ahead log
// applies, as the file alone had it: a row deleted in the file keeps its chain there even
// where the log's later transactions took the pages (the leaf holding the row is the
// same in both when the log never changed it).
void ReadChain(RawDbFile& reader, std::uint32_t first_page, std::int32_t own_page,
               std::uint64_t rest, std::vector<std::uint8_t>& joined,
               std::vector<std::int32_t>* pages) {
  const std::size_t local = joined.size();
  if (ReadFreedOverflow(reader, first_page, own_page, rest, joined, pages) ||
      reader.ShowsOlderState() || reader.LogPageCount() == 0)
    return;
  std::vector<std::uint8_t> before(joined.begin(), joined.end());
  std::vector<std::int32_t> beforePages;
  if (pages != nullptr) beforePages = *pages;
  joined.resize(local);
  if (pages != nullptr) pages->clear();
  RawDbFile::OlderImage file;  // the file's own state: no log frame counts
  file.inLog = false;
  const RawDbFile::AsOf then(reader, file);
  if (ReadFreedOverflow(reader, first_page, own_page, rest, joined, pages)) {
    // Pages read as the file had them are told from pages read now (a later row of the
    // log may have taken and freed them since: both readings are then sound).
    if (pages != nullptr)
      for (std::int32_t& page : *pages) page = -page - 1;
    return;
  }
  // Cut in both: the longer reading stands.
  if (before.size() > joined.size()) {
    joined = std::move(before);
    if (pages != nullptr) *pages = std::move(beforePages);
  }
}

}  // namespace

bool JoinSpilledCarving(RawDbFile& reader, Bytes page, std::int32_t page_index,
                        std::uint32_t offset, std::uint32_t limit, std::uint32_t columns,
                        std::vector<std::uint8_t>& joined, Bytes& view, std::uint64_t& end,
                        std::vector<std::int32_t>* pages) {
  const Bytes bytes = Tail(page, offset);
  if (bytes.empty() || columns == 0) return false;
  const std::uint32_t first = bytes[0] == 0 ? 0 : 1;
  RecordCursor cursor;
  if (!cursor.OpenCarved(reader, bytes, columns, static_cast<int>(first))) return false;
  Column column;
  while (cursor.Next(column)) {
  }
  const std::uint32_t types = reader.varints_length(bytes, first == 0 ? columns : columns - 1);
  const std::uint64_t record = cursor.ContentEnd();  // serial types and contents
  if (types == 0 || record < types || record > kLongestPayload) return false;
  // Behind the carved position lie the header-size varint and, when its type was lost,
  // column 0's one-byte type (NULL: the row-id alias).
  const std::uint64_t prefix = HeaderSizeBytes(first + types) + first;
  if (offset < prefix) return false;
  const std::uint64_t payload = prefix + record;
  const std::uint64_t local = LocalPayloadOf(
      payload,
      std::min<std::uint32_t>(reader.UsableSize(), static_cast<std::uint32_t>(page.size())));
  if (local >= payload) return false;
  const std::uint64_t link = offset - prefix + local;
  if (link < offset + types || link + 4 > std::min<std::uint64_t>(limit, page.size())) return false;
  joined.assign(page.begin() + offset, page.begin() + static_cast<std::ptrdiff_t>(link));
  ReadChain(reader, Be32(page, static_cast<std::size_t>(link)), page_index, payload - local, joined,
            pages);
  view = Bytes(joined);
  end = link + 4;
  return true;
}

bool JoinSpilledFreedCell(RawDbFile& reader, Bytes page, std::int32_t page_index,
                          std::uint32_t offset, std::vector<std::uint8_t>& joined, Bytes& view,
                          std::vector<std::int32_t>* pages) {
  const Bytes cell = Tail(page, offset);
  if (cell.empty()) return false;
  int payloadBytes = 0, rowIdBytes = 0;
  const std::uint64_t payload =
      RawDbFile::read_varint(cell, static_cast<std::int64_t>(cell.size()), payloadBytes);
  RawDbFile::read_varint(Tail(cell, static_cast<std::size_t>(payloadBytes)),
                         static_cast<std::int64_t>(cell.size()) - payloadBytes, rowIdBytes);
  if (payload > kLongestPayload) return false;
  const std::uint64_t local = LocalPayloadOf(
      payload,
      std::min<std::uint32_t>(reader.UsableSize(), static_cast<std::uint32_t>(page.size())));
  if (local >= payload) return false;
  const std::uint64_t link = offset + static_cast<std::uint64_t>(payloadBytes + rowIdBytes) + local;
  if (link + 4 > page.size()) return false;
  joined.assign(page.begin() + offset, page.begin() + static_cast<std::ptrdiff_t>(link));
  ReadChain(reader, Be32(page, static_cast<std::size_t>(link)), page_index, payload - local, joined,
            pages);
  view = Bytes(joined);
  return true;
}

}  // namespace bv

// The page reader: file header, pages, varints, record headers, the schema lookup and
// the b-tree walk. Carving lives in carving.cpp.
#include "rawsqlite/raw_db_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/result_codes.h"
#include "common/text.h"
#include "platform/files.h"

namespace bv {

namespace {

constexpr char kMagic[] = "SQLite format 3";  // followed by a zero byte
constexpr std::uint32_t kChunk = 65536;
// Deeper than any real table b-tree; a damaged file cannot recurse further.
constexpr int kMaxDepth = 64;

std::int32_t LastError(std::int32_t fallback) {
  return errno != 0 ? errno : fallback;
}

}  // namespace

bool StartsWithMagic(Bytes page) {
  if (page.size() < 16) return false;
  for (int i = 0; i < 16; ++i) {
    unsigned char a = page[i];
    unsigned char b = static_cast<unsigned char>(kMagic[i]);  // kMagic[15] is the zero byte
    if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

std::uint64_t SerialContentSize(std::uint64_t type) {
  switch (type) {
    case 0:
      return 0;
    case 1:
      return 1;
    case 2:
      return 2;
    case 3:
      return 3;
    case 4:
      return 4;
    case 5:
      return 6;
    case 6:
    case 7:
      return 8;
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
      return 0;
    default:
      return type % 2 == 0 ? (type - 12) / 2 : (type - 13) / 2;
  }
}

std::uint32_t Be16(Bytes b, std::size_t offset) {
  if (offset >= b.size() || b.size() - offset < 2) return 0;
  return (std::uint32_t{b[offset]} << 8) | b[offset + 1];
}

std::uint32_t Be32(Bytes b, std::size_t offset) {
  if (offset >= b.size() || b.size() - offset < 4) return 0;
  return (std::uint32_t{b[offset]} << 24) | (std::uint32_t{b[offset + 1]} << 16) |
         (std::uint32_t{b[offset + 2]} << 8) | b[offset + 3];
}

RawDbFile::RawDbFile() = default;
RawDbFile::~RawDbFile() {
  close();
}

void RawDbFile::close() {
  if (file.is_open()) file.close();
  file.clear();
  page_size = 0;
  reserved_ = 0;
  page_count_ = 0;
  free_pages.clear();
  free_trunks.clear();
  cache_.clear();
  cache_order_.clear();
}

std::int32_t RawDbFile::open(const std::string& path) {
  close();
  errno = 0;
  // A FIFO or device node in place of a store would block the open below for good.
  if (const int rc = platform::CheckRegularFile(path); rc != 0)
    return rc == platform::kNotRegularFile ? kInvalidParameter : rc;
  // Read-only: backup files are evidence and may sit on read-only media.
  file.open(path, std::ios::in | std::ios::binary);
  if (!file.is_open()) return LastError(kInvalidParameter);
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  file.seekg(0, std::ios::beg);
  if (size < 512) {
    close();
    return kInvalidParameter;
  }
  std::uint8_t header[512];
  // page_size is still 0 here; read_at does not depend on it.
  if (std::int32_t rc = read_at(0, sizeof header, header); rc != 0) {
    close();
    return rc;
  }
  Bytes h(header, sizeof header);
  if (!StartsWithMagic(h)) {
    close();
    return kInvalidParameter;
  }
  const std::uint32_t raw = Be16(h, 16);
  std::uint32_t bytes = raw == 1 ? 65536u : raw;
  if (bytes < 512 || bytes > 65536 || (bytes & (bytes - 1)) != 0) {
    close();
    return kInvalidParameter;
  }
  page_size = static_cast<std::uint16_t>(bytes & 0xFFFF);  // 65536 is kept as 0
  reserved_ = header[20];
  // The format needs at least 480 usable bytes; an impossible value is ignored.
  if (bytes - reserved_ < 480) reserved_ = 0;
  page_count_ = (static_cast<std::int64_t>(size) + bytes - 1) / bytes;

  // Freelist: trunk pages are followed until a zero link, a repeated trunk or a page
  // outside the file; leaf entries are read only as far as the trunk page holds them.
  std::vector<std::uint8_t> page(bytes);
  std::set<std::uint32_t> trunks;
  std::uint32_t trunk = Be32(h, 32);
  while (trunk != 0 && trunk <= page_count_ && trunks.insert(trunk).second) {
    if (read_page(static_cast<std::int32_t>(trunk - 1), page.data()) != 0) break;
    free_trunks.push_back(static_cast<std::int32_t>(trunk - 1));
    Bytes p(page);
    std::uint32_t n = Be32(p, 4);
    n = std::min<std::uint32_t>(n, (bytes - 8) / 4);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t leaf = Be32(p, 8 + 4 * std::size_t{i});
      if (leaf == 0 || leaf > page_count_) continue;
      if (static_cast<std::int64_t>(free_pages.size()) >= page_count_) break;
      free_pages.push_back(static_cast<std::int32_t>(leaf - 1));
    }
    trunk = Be32(p, 0);
  }
  return kSuccess;
}

std::int32_t RawDbFile::read_at(std::uint64_t offset, std::uint32_t length, std::uint8_t* buffer) {
  if (!file.is_open()) return kInvalidParameter;
  file.clear();
  errno = 0;
  file.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
  if (!file) {
    file.clear();
    return LastError(kInvalidParameter);
  }
  std::uint32_t done = 0;
  while (done < length) {
    const std::uint32_t want = std::min(kChunk, length - done);
    file.read(reinterpret_cast<char*>(buffer + done), want);
    const std::streamsize got = file.gcount();
    if (got <= 0) {
      file.clear();
      return kShortRead;
    }
    done += static_cast<std::uint32_t>(got);
  }
  return kSuccess;
}

std::int32_t RawDbFile::read_page(std::int32_t index, std::uint8_t* buffer) {
  if (!file.is_open()) return kInvalidParameter;
  if (index < 0 || index >= page_count_) return kShortRead;
  const std::uint32_t s = PageSize();
  // A table pass reads each leaf several times (live cells, carving, decoding); recent
  // pages are kept so that the file is read about once.
  if (const auto it = cache_.find(index); it != cache_.end()) {
    std::memcpy(buffer, it->second.data(), s);
    return kSuccess;
  }
  const std::int32_t rc = read_at(static_cast<std::uint64_t>(index) * s, s, buffer);
  if (rc != kSuccess) return rc;
  const std::size_t capacity = std::max<std::size_t>(16, (8u << 20) / s);
  if (cache_order_.size() >= capacity) {
    cache_.erase(cache_order_.front());
    cache_order_.pop_front();
  }
  cache_.emplace(index, std::vector<std::uint8_t>(buffer, buffer + s));
  cache_order_.push_back(index);
  return kSuccess;
}

std::uint64_t RawDbFile::read_varint(Bytes bytes, std::int64_t limit, int& length,
                                     bool* truncated) {
  if (truncated) *truncated = false;
  if (limit <= 0) return 0;
  const std::size_t n = static_cast<std::size_t>(
      std::min<std::int64_t>(limit, static_cast<std::int64_t>(bytes.size())));
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < n; ++i) {
    value = (value << 7) | (bytes[i] & 0x7F);
    if ((bytes[i] & 0x80) == 0) {
      length = static_cast<int>(i + 1);
      return value;
    }
  }
  length = static_cast<int>(n);
  if (truncated && static_cast<std::int64_t>(n) < limit) *truncated = true;
  return value;
}

std::uint32_t RawDbFile::varints_length(Bytes bytes, std::uint32_t count) const {
  std::uint64_t total = 0;
  int previous = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (total >= bytes.size()) return 0;
    int length = 0;
    bool truncated = false;
    read_varint(Tail(bytes, total), static_cast<std::int64_t>(PageSize()) - previous, length,
                &truncated);
    if (truncated || length <= 0) return 0;
    total += static_cast<std::uint64_t>(length);
    previous = length;
  }
  if (total > bytes.size()) return 0;
  return static_cast<std::uint32_t>(total);
}

std::uint32_t RawDbFile::record_length(Bytes bytes, std::uint32_t header_length,
                                       std::int64_t available) {
  const std::uint32_t c = expected_columns(current_table);
  std::uint64_t h = header_length;
  if (c != 0) {
    if (bytes.empty()) return 0;
    h = varints_length(bytes, bytes[0] == 0 ? c : c - 1);
  }
  std::uint64_t contents = 0;
  std::uint64_t pos = 0;
  const std::uint64_t end = std::min<std::uint64_t>(h, bytes.size());
  while (pos < end) {
    int length = 0;
    bool truncated = false;
    const std::uint64_t type =
        read_varint(Tail(bytes, pos), static_cast<std::int64_t>(end - pos), length, &truncated);
    if (length <= 0) break;
    pos += static_cast<std::uint64_t>(length);
    contents += SerialContentSize(type);
    if (contents > static_cast<std::uint64_t>(std::max<std::int64_t>(available, 0))) break;
    if (contents > 0xFFFFFFFFull) break;
  }
  const std::uint64_t total = h + contents;
  return total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(total);
}

std::uint32_t RawDbFile::expected_columns(const std::string& name) {
  // The carving strategies look the count up at every step: answer repeats from the
  // last lookup while the name and the adjustable counts are unchanged.
  const std::uint32_t key[] = {message_columns, wa_message_columns, person_index_columns,
                               other_columns};
  if (cache_valid_ && name == cache_name_ && std::equal(key, key + 4, cache_key_)) {
    current_columns = cache_result_;
    return cache_result_;
  }
  struct Row {
    const char* name;
    std::uint32_t columns;
  };
  const std::uint32_t person = person_index_columns > 25 ? 25 : 24;
  const Row rows[] = {
      {"ZNOTEBODY", 7},
      {"ZNOTE", 19},
      {"message", message_columns},
      {"handle", 5},
      {"attachment", 9},
      {"message_attachment_join", 2},
      {"ABPersonFullTextSearch_content", person},
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
  std::uint32_t result = other_columns;
  bool found = false;
  for (const Row& row : rows) {
    if (EqualsNoCase(name, row.name)) {
      result = row.columns;
      found = true;
      break;
    }
  }
  if (!found) {
    if (name.compare(0, 5, "Chat_") == 0 && name.size() >= 5)
      result = 9;
    else if (name.compare(0, 9, "tb_c2cMsg") == 0 && name.size() >= 9)
      result = 50;
  }
  current_columns = result;
  cache_valid_ = true;
  cache_name_ = name;
  std::copy(key, key + 4, cache_key_);
  cache_result_ = result;
  return result;
}

std::list<std::uint16_t> RawDbFile::cell_offsets(Bytes page) const {
  std::list<std::uint16_t> out;
  const std::size_t hdr = StartsWithMagic(page) ? 100 : 0;
  if (hdr >= page.size()) return out;
  std::uint32_t n = Be16(page, hdr + 3);
  if (n == 0) return out;
  if (n == 1) {
    out.push_back(static_cast<std::uint16_t>(Be16(page, hdr + 5)));
    return out;
  }
  const std::size_t start = hdr + (page[hdr] == 0x05 ? 12 : 8);
  if (start >= page.size()) return out;
  n = std::min<std::uint32_t>(n, static_cast<std::uint32_t>((page.size() - start) / 2));
  for (std::uint32_t i = 0; i < n; ++i)
    out.push_back(static_cast<std::uint16_t>(Be16(page, start + 2 * std::size_t{i})));
  return out;
}

std::map<std::int32_t, std::int64_t> RawDbFile::child_pages(Bytes page) const {
  std::map<std::int32_t, std::int64_t> children;
  const std::size_t s = page.size();
  for (std::uint16_t offset : cell_offsets(page)) {
    if (std::size_t{offset} + 4 > s) continue;
    const std::uint32_t child = Be32(page, offset);
    int length = 0;
    const std::uint64_t key = read_varint(Tail(page, std::size_t{offset} + 4),
                                          static_cast<std::int64_t>(s) - offset - 4, length);
    if (child == 0 || child > page_count_) continue;  // no such page: nothing to walk
    children[static_cast<std::int32_t>(child - 1)] = static_cast<std::int64_t>(key);
  }
  const std::uint32_t right = Be32(page, StartsWithMagic(page) ? 108 : 8);
  if (right != 0 && right <= page_count_) children[static_cast<std::int32_t>(right - 1)] = -1;
  return children;
}

std::int32_t RawDbFile::walk(std::int32_t index, Bytes page, CellMap* cells,
                             CandidateMap* candidates, std::set<std::int32_t>& visited, int depth) {
  const std::size_t hdr = StartsWithMagic(page) ? 100 : 0;
  if (hdr >= page.size()) return kSuccess;
  const std::uint8_t type = page[hdr];
  if (type == 0x0D) {
    if (cells) (*cells)[index] = cell_offsets(page);
    if (candidates) (*candidates)[index] = carve_page(page);
    return kSuccess;
  }
  if (type != 0x05 || depth >= kMaxDepth) return kSuccess;
  std::vector<std::uint8_t> buffer(PageSize());
  for (const auto& [child, key] : child_pages(page)) {
    (void)key;
    if (!visited.insert(child).second) continue;  // a page cycle in a damaged file
    if (std::int32_t rc = read_page(child, buffer.data()); rc != 0) return rc;
    if (std::int32_t rc = walk(child, Bytes(buffer), cells, candidates, visited, depth + 1);
        rc != 0)
      return rc;
  }
  return kSuccess;
}

std::int32_t RawDbFile::collect_live_cells(std::int32_t index, Bytes page, CellMap& cells) {
  std::set<std::int32_t> visited{index};
  return walk(index, page, &cells, nullptr, visited, 0);
}

std::int32_t RawDbFile::collect_candidates(std::int32_t index, Bytes page,
                                           CandidateMap& candidates) {
  std::set<std::int32_t> visited{index};
  return walk(index, page, nullptr, &candidates, visited, 0);
}

void RawDbFile::schema_leaf(Bytes page, std::uint32_t /*header*/, const std::string& name,
                            std::map<std::int32_t, std::int64_t>& roots) {
  const std::size_t s = page.size();
  for (std::uint16_t offset : cell_offsets(page)) {
    std::size_t pos = offset;
    if (pos >= s) continue;
    int length = 0;
    read_varint(Tail(page, pos), static_cast<std::int64_t>(s - pos), length);  // payload length
    pos += static_cast<std::size_t>(length);
    length = 0;
    read_varint(Tail(page, pos), static_cast<std::int64_t>(s) - static_cast<std::int64_t>(pos),
                length);  // row id
    pos += static_cast<std::size_t>(length);
    if (pos >= s) continue;
    const std::size_t payload = pos;
    length = 0;
    const std::uint64_t header_size =
        read_varint(Tail(page, pos), static_cast<std::int64_t>(s - pos), length);
    pos += static_cast<std::size_t>(length);
    const std::uint64_t header_end =
        std::min<std::uint64_t>(payload + std::min<std::uint64_t>(header_size, s), s);
    std::uint64_t content = payload + std::min<std::uint64_t>(header_size, s);
    bool matches = false;
    int column = 1;
    while (pos < header_end && column <= 4) {
      length = 0;
      const std::uint64_t type =
          read_varint(Tail(page, pos), static_cast<std::int64_t>(header_end - pos), length);
      if (length <= 0) break;
      pos += static_cast<std::size_t>(length);
      if (column == 4) {
        if (matches && type >= 1 && type <= 4 && content <= s && type <= s - content) {
          std::uint32_t root = 0;
          for (std::uint64_t i = 0; i < type; ++i) root = (root << 8) | page[content + i];
          if (root >= 1 && root <= page_count_) roots[static_cast<std::int32_t>(root - 1)] = -1;
        }
        break;
      }
      if (type > 13) {
        const std::uint64_t len = (type - 13) / 2;
        if (len == name.size() && content <= s && len <= s - content &&
            std::memcmp(page.data() + content, name.data(), name.size()) == 0)
          matches = true;
        content = len > s ? s + 1 : content + len;  // past the page: nothing more to compare
      }
      ++column;
    }
  }
}

void RawDbFile::schema_walk(std::int32_t /*index*/, Bytes page, const std::string& name,
                            std::map<std::int32_t, std::int64_t>& roots,
                            std::set<std::int32_t>& visited, int depth) {
  if (depth >= kMaxDepth) return;
  std::vector<std::uint8_t> buffer(PageSize());
  for (const auto& [child, key] : child_pages(page)) {
    (void)key;
    if (!visited.insert(child).second) continue;
    if (read_page(child, buffer.data()) != 0) continue;
    Bytes b(buffer);
    const std::size_t hdr = StartsWithMagic(b) ? 100 : 0;
    if (b[hdr] == 0x0D)
      schema_leaf(b, static_cast<std::uint32_t>(hdr), name, roots);
    else if (b[hdr] == 0x05)
      schema_walk(child, b, name, roots, visited, depth + 1);
  }
}

std::map<std::int32_t, std::int64_t> RawDbFile::find_root_pages(const std::string& name) {
  std::map<std::int32_t, std::int64_t> roots;
  if (!file.is_open()) return roots;
  std::vector<std::uint8_t> buffer(PageSize());
  if (read_page(0, buffer.data()) != 0) return roots;
  Bytes page(buffer);
  std::set<std::int32_t> visited{0};
  if (page[100] == 0x0D)
    schema_leaf(page, 100, name, roots);
  else if (page[100] == 0x05)
    schema_walk(0, page, name, roots, visited, 0);
  return roots;
}

std::int32_t RawDbFile::read_live_payload(Bytes page, std::uint32_t cell_offset,
                                          std::uint32_t next_offset,
                                          std::vector<std::uint8_t>& joined, Bytes& view) {
  const std::uint32_t s = static_cast<std::uint32_t>(page.size());
  view = Tail(page, cell_offset);
  if (cell_offset >= s) return kSuccess;
  if (next_offset <= cell_offset || next_offset > s) next_offset = s;
  const std::uint32_t gap = next_offset - cell_offset;
  int pl = 0;
  const std::uint64_t payload = read_varint(view, gap, pl);
  int rl = 0;
  read_varint(Tail(view, static_cast<std::size_t>(pl)), static_cast<std::int64_t>(gap) - pl, rl);

  // Whether and where a payload spills is the file format's rule, from the usable page
  // size; the gap to the next live cell is no guide when freed space lies in it.
  const std::uint32_t usable = std::min(UsableSize(), s);
  const std::uint64_t max_local = usable - 35;
  if (payload <= max_local) return kSuccess;  // in place: the decoder gets the page tail
  const std::uint64_t min_local = (static_cast<std::uint64_t>(usable - 12) * 32 / 255) - 23;
  std::uint64_t local = min_local + (payload - min_local) % (usable - 4);
  if (local > max_local) local = min_local;
  const std::uint64_t head = static_cast<std::uint64_t>(pl) + static_cast<std::uint64_t>(rl);
  const std::uint64_t pointer_at = cell_offset + head + local;
  if (pointer_at + 4 > s) return kSuccess;  // damaged cell: the decoder stops at the page end

  const std::uint64_t target = head + payload;
  joined.assign(page.begin() + cell_offset, page.begin() + static_cast<std::ptrdiff_t>(pointer_at));
  // No reservation from the stated length: a damaged cell may claim terabytes; the
  // buffer grows only with the pages the chain really has.
  std::uint32_t next = Be32(page, static_cast<std::size_t>(pointer_at));
  std::vector<std::uint8_t> buffer(PageSize());
  std::set<std::uint32_t> seen;
  // The chain ends at a zero link, at the stated payload length, or where a damaged
  // file repeats a page or points outside itself.
  while (next != 0 && joined.size() < target && next <= page_count_ && seen.insert(next).second) {
    if (std::int32_t rc = read_page(static_cast<std::int32_t>(next - 1), buffer.data()); rc != 0) {
      view = Bytes{};
      return rc;
    }
    const std::uint64_t want = std::min<std::uint64_t>(target - joined.size(), usable - 4);
    joined.insert(joined.end(), buffer.begin() + 4,
                  buffer.begin() + 4 + static_cast<std::ptrdiff_t>(want));
    next = Be32(Bytes(buffer), 0);
  }
  view = Bytes(joined);
  return kSuccess;
}

}  // namespace bv

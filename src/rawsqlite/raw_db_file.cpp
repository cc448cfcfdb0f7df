// The page reader: file header, pages, varints, record headers, the schema lookup and
// the b-tree walk. Carving lives in carving.cpp.
#include "rawsqlite/raw_db_file.h"

#include <algorithm>
#include <cstring>

#include "common/result_codes.h"
#include "platform/files.h"
#include "platform/utf8.h"
#include "rawsqlite/wal_log.h"

namespace bv {

namespace {

constexpr char kMagic[] = "SQLite format 3";  // followed by a zero byte
// Deeper than any real table b-tree; a damaged file cannot recurse further.
constexpr int kMaxDepth = 64;

}  // namespace

bool StartsWithMagic(Bytes page) {
  if (page.size() < 16) return false;
  for (int i = 0; i < 16; ++i) {
    unsigned char got = page[i];
    unsigned char want = static_cast<unsigned char>(kMagic[i]);  // kMagic[15] is the zero byte
    if (got >= 'A' && got <= 'Z') got = static_cast<unsigned char>(got - 'A' + 'a');
    if (want >= 'A' && want <= 'Z') want = static_cast<unsigned char>(want - 'A' + 'a');
    if (got != want) return false;
  }
  return true;
}

RawDbFile::RawDbFile() = default;
RawDbFile::~RawDbFile() {
  Close();
}

void RawDbFile::Close() {
  file_.Close();
  page_size = 0;
  reserved_ = 0;
  pageCount_ = 0;
  free_pages.clear();
  freeTrunks.clear();
  cache_.clear();
  cacheSlots_.clear();
  cacheSlots_.shrink_to_fit();
  cacheOwners_.clear();
  cacheCapacity_ = 0;
  cacheNext_ = 0;
  pinned_ = 0xFFFFFFFFu;
  logBytes_.clear();
  logBytes_.shrink_to_fit();
  logPages_.clear();
  superseded_.clear();
  logProblem_.clear();
  history_.clear();
  filePages_ = 0;
  asOf_ = -1;
}

std::string LogBeside(const std::string& path) {
  const std::string log = path + "-wal";
  return platform::CheckRegularFile(platform::PathFromUtf8(log)) == 0 ? log : std::string();
}

void RawDbFile::ApplyLog(const std::string& log_path) {
  const std::string without = ": the database is read without it";
  if (const int rc = platform::ReadWholeFile(platform::PathFromUtf8(log_path), logBytes_);
      rc != 0) {
    logBytes_.clear();
    logProblem_ = rc != platform::kNotRegularFile && platform::IsMissingFile(rc)
                      ? "is missing" + without
                      : "cannot be read (" + platform::OpenErrorText(rc) + ")" + without;
    return;
  }
  const WalLog log =
      ReadWalLog(reinterpret_cast<const unsigned char*>(logBytes_.data()), logBytes_.size());
  logProblem_ = log.problem;
  // Frames of another page size would garble every page they stand for: the log of
  // another database.
  if (log.headerValid && log.pageSize != PageSize()) {
    logProblem_ = "does not belong to the database (its pages are of " +
                  std::to_string(log.pageSize) + " bytes, the database's of " +
                  std::to_string(PageSize()) + ")" + without;
  }
  if (!log.headerValid || log.pageSize != PageSize() || log.committed == 0) {
    logBytes_.clear();
    logBytes_.shrink_to_fit();
    return;
  }
  // The database as the last commit leaves it; a page past its end is no longer part
  // of it, but its images are older images all the same.
  // Page indexes are 31-bit here: a larger size (no real database has one) is cut there.
  const std::int64_t pages = std::min<std::int64_t>(log.databasePages, 0x7FFFFFFF);
  std::unordered_map<std::int32_t, std::size_t> newest;  // page index -> frame
  for (std::size_t i = 0; i < log.committed; ++i) {
    const std::uint32_t page = log.frames[i].page;
    if (page <= pages) newest[static_cast<std::int32_t>(page - 1)] = i;
  }
  const std::int64_t filePages = pageCount_;
  filePages_ = filePages;
  pageCount_ = pages;
  logPages_.reserve(newest.size());
  for (const auto& [index, frame] : newest) {
    logPages_.emplace(index, log.frames[frame].imageOffset);
    if (index < filePages)
      superseded_.push_back({index, static_cast<std::uint64_t>(index) * PageSize(), false});
  }
  for (std::size_t i = 0; i < log.committed; ++i) {
    const WalFrame& frame = log.frames[i];
    const std::int64_t index = std::int64_t{frame.page} - 1;
    const auto it = index < pages ? newest.find(static_cast<std::int32_t>(index)) : newest.end();
    if (it != newest.end() && it->second == i) continue;
    if (index > 0x7FFFFFFF) continue;
    superseded_.push_back({static_cast<std::int32_t>(index), frame.imageOffset, true, i});
  }
  for (std::size_t i = 0; i < log.committed; ++i) {
    const WalFrame& frame = log.frames[i];
    if (frame.page <= 0x80000000u)
      history_[static_cast<std::int32_t>(frame.page - 1)].emplace_back(i, frame.imageOffset);
  }
  // Stable: of one page, the file's image stays before the log's, and those in log order.
  std::stable_sort(superseded_.begin(), superseded_.end(),
                   [](const OlderImage& a, const OlderImage& b) { return a.page < b.page; });
}

std::span<const RawDbFile::OlderImage> RawDbFile::OlderImagesOf(std::int32_t page) const {
  const auto [from, to] =
      std::equal_range(superseded_.begin(), superseded_.end(), OlderImage{page, 0, false},
                       [](const OlderImage& a, const OlderImage& b) { return a.page < b.page; });
  return {from, to};
}

std::int32_t RawDbFile::ReadOlderImage(const OlderImage& image, std::uint8_t* buffer) {
  const std::uint32_t bytes = PageSize();
  if (!image.inLog) return read_at(image.offset, bytes, buffer);
  if (image.offset > logBytes_.size() || logBytes_.size() - image.offset < bytes)
    return kInvalidParameter;
  std::memcpy(buffer, logBytes_.data() + image.offset, bytes);
  return kSuccess;
}

std::int32_t RawDbFile::ReadPageAsOf(std::int32_t index, std::uint8_t* buffer) {
  const std::uint32_t bytes = PageSize();
  if (const auto it = history_.find(index); it != history_.end()) {
    // The last image committed before the limit.
    const auto& images = it->second;
    const auto after = std::partition_point(images.begin(), images.end(), [&](const auto& image) {
      return static_cast<std::int64_t>(image.first) < asOf_;
    });
    if (after != images.begin()) {
      std::memcpy(buffer, logBytes_.data() + std::prev(after)->second, bytes);
      return kSuccess;
    }
  }
  if (index < 0 || index >= filePages_) return kShortRead;
  return read_at(static_cast<std::uint64_t>(index) * bytes, bytes, buffer);
}

std::int32_t RawDbFile::open(const std::string& path) {
  return open(path, std::string());
}

std::int32_t RawDbFile::open(const std::string& path, const std::string& log_path) {
  Close();
  // Opened without blocking and kept only as a regular file: a FIFO or device node in
  // place of a store would block a read for good.
  if (const int rc = file_.Open(platform::PathFromUtf8(path)); rc != 0)
    return rc == platform::kNotRegularFile ? kInvalidParameter : rc;
  const std::int64_t size = file_.Size();
  if (size < 512) {
    Close();
    return kInvalidParameter;
  }
  std::uint8_t header[512];
  // page_size is still 0 here; read_at does not depend on it.
  if (std::int32_t rc = read_at(0, sizeof header, header); rc != 0) {
    Close();
    return rc;
  }
  const Bytes first(header, sizeof header);
  if (!StartsWithMagic(first)) {
    Close();
    return kInvalidParameter;
  }
  const std::uint32_t field = Be16(first, 16);
  const std::uint32_t bytes = field == 1 ? 65536u : field;
  if (bytes < 512 || bytes > 65536 || (bytes & (bytes - 1)) != 0) {
    Close();
    return kInvalidParameter;
  }
  page_size = static_cast<std::uint16_t>(bytes & 0xFFFF);  // 65536 is kept as 0
  reserved_ = header[20];
  // The format needs at least 480 usable bytes; an impossible value is ignored.
  if (bytes - reserved_ < 480) reserved_ = 0;
  pageCount_ = (static_cast<std::int64_t>(size) + bytes - 1) / bytes;
  if (!log_path.empty()) ApplyLog(log_path);

  // Freelist: trunk pages are followed until a zero link, a repeated trunk or a page
  // outside the file; leaf entries are read only as far as the trunk page holds them.
  // With a log, the header is that of the log's first page when it has one.
  std::vector<std::uint8_t> page(bytes);
  std::uint32_t trunk = Be32(first, 32);
  if (logPages_.count(0) != 0 && read_page(0, page.data()) == kSuccess &&
      StartsWithMagic(Bytes(page))) {
    trunk = Be32(Bytes(page), 32);
    reserved_ = page[20];
    if (bytes - reserved_ < 480) reserved_ = 0;
  }
  std::set<std::uint32_t> trunks;
  while (trunk != 0 && trunk <= pageCount_ && trunks.insert(trunk).second) {
    if (read_page(static_cast<std::int32_t>(trunk - 1), page.data()) != 0) break;
    freeTrunks.push_back(static_cast<std::int32_t>(trunk - 1));
    const Bytes trunkPage(page);
    const std::uint32_t leaves = std::min<std::uint32_t>(Be32(trunkPage, 4), (bytes - 8) / 4);
    for (std::uint32_t i = 0; i < leaves; ++i) {
      const std::uint32_t leaf = Be32(trunkPage, 8 + 4 * std::size_t{i});
      if (leaf == 0 || leaf > pageCount_) continue;
      if (static_cast<std::int64_t>(free_pages.size()) >= pageCount_) break;
      free_pages.push_back(static_cast<std::int32_t>(leaf - 1));
    }
    trunk = Be32(trunkPage, 0);
  }
  return kSuccess;
}

std::int32_t RawDbFile::read_at(std::uint64_t offset, std::uint32_t length, std::uint8_t* buffer) {
  if (!IsOpen()) return kInvalidParameter;
  // A failed read counts as a short one: either way the bytes are not there.
  const std::int64_t got = file_.ReadAt(offset, buffer, length);
  return got == static_cast<std::int64_t>(length) ? kSuccess : kShortRead;
}

std::int32_t RawDbFile::read_page(std::int32_t index, std::uint8_t* buffer) {
  if (!IsOpen()) return kInvalidParameter;
  if (asOf_ >= 0) return ReadPageAsOf(index, buffer);
  if (index < 0 || index >= pageCount_) return kShortRead;
  const std::uint8_t* where = nullptr;
  if (const std::int32_t rc = FetchPage(index, where, nullptr); rc != kSuccess) return rc;
  std::memcpy(buffer, where, PageSize());
  return kSuccess;
}

std::int32_t RawDbFile::PageView(std::int32_t index, Bytes& view,
                                 std::vector<std::uint8_t>& spare) {
  view = Bytes{};
  pinned_ = 0xFFFFFFFFu;
  if (!IsOpen()) return kInvalidParameter;
  if (asOf_ >= 0) {
    spare.resize(PageSize());
    if (const std::int32_t rc = ReadPageAsOf(index, spare.data()); rc != kSuccess) return rc;
    view = Bytes(spare);
    return kSuccess;
  }
  if (index < 0 || index >= pageCount_) return kShortRead;
  const std::uint8_t* where = nullptr;
  std::uint32_t slot = 0xFFFFFFFFu;
  if (const std::int32_t rc = FetchPage(index, where, &slot); rc != kSuccess) return rc;
  pinned_ = slot;
  view = Bytes(where, PageSize());
  return kSuccess;
}

std::int32_t RawDbFile::FetchPage(std::int32_t index, const std::uint8_t*& where,
                                  std::uint32_t* slotOut) {
  const std::uint32_t bytes = PageSize();
  // A table pass reads each leaf several times (live cells, carving, decoding); recent
  // pages are kept so that the file is read about once. The slots are allocated once.
  if (const auto it = cache_.find(index); it != cache_.end()) {
    where = cacheSlots_.data() + std::size_t{it->second} * bytes;
    if (slotOut != nullptr) *slotOut = it->second;
    return kSuccess;
  }
  // With a log, its newest committed image of the page stands for the file's; the log
  // stays in memory as long as the file is open.
  const auto logged = logPages_.empty() ? logPages_.end() : logPages_.find(index);
  if (logged != logPages_.end()) {
    where = reinterpret_cast<const std::uint8_t*>(logBytes_.data()) + logged->second;
    return kSuccess;
  }
  if (cacheCapacity_ == 0) {
    const std::int64_t wanted = std::max<std::int64_t>(16, (8u << 20) / bytes);
    // No more slots than the file has pages: a small store needs no 8 MB.
    cacheCapacity_ =
        static_cast<std::uint32_t>(std::min(wanted, std::max<std::int64_t>(pageCount_, 1)));
    cacheSlots_.resize(std::size_t{cacheCapacity_} * bytes);
    cacheOwners_.assign(cacheCapacity_, -1);
    cache_.reserve(cacheCapacity_);
  }
  std::uint32_t slot = cacheNext_;
  // The page a view shows keeps its slot (a store of one slot has one page: no miss).
  if (slot == pinned_ && cacheCapacity_ > 1) slot = (slot + 1) % cacheCapacity_;
  cacheNext_ = (slot + 1) % cacheCapacity_;
  // The slot's old page goes before its bytes are written over.
  if (cacheOwners_[slot] >= 0) cache_.erase(cacheOwners_[slot]);
  cacheOwners_[slot] = -1;
  std::uint8_t* into = cacheSlots_.data() + std::size_t{slot} * bytes;
  if (const std::int32_t rc = read_at(static_cast<std::uint64_t>(index) * bytes, bytes, into);
      rc != kSuccess)
    return rc;
  cacheOwners_[slot] = index;
  cache_.emplace(index, slot);
  where = into;
  if (slotOut != nullptr) *slotOut = slot;
  return kSuccess;
}

std::uint32_t RawDbFile::record_length(Bytes bytes, std::uint32_t columns,
                                       std::uint32_t header_length, std::int64_t available) const {
  std::uint64_t header = header_length;
  if (columns != 0) {
    if (bytes.empty()) return 0;
    header = varints_length(bytes, bytes[0] == 0 ? columns : columns - 1);
  }
  const std::uint64_t limit = static_cast<std::uint64_t>(std::max<std::int64_t>(available, 0));
  std::uint64_t contents = 0;
  std::uint64_t position = 0;
  const std::uint64_t end = std::min<std::uint64_t>(header, bytes.size());
  while (position < end) {
    int length = 0;
    const std::uint64_t type =
        read_varint(Tail(bytes, position), static_cast<std::int64_t>(end - position), length);
    if (length <= 0) break;
    position += static_cast<std::uint64_t>(length);
    contents += SerialContentSize(type);
    if (contents > limit || contents > 0xFFFFFFFFull) break;
  }
  const std::uint64_t total = header + contents;
  return total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(total);
}

std::list<std::uint16_t> RawDbFile::cell_offsets(Bytes page) const {
  std::vector<std::uint16_t> offsets;
  CellOffsets(page, offsets);
  return std::list<std::uint16_t>(offsets.begin(), offsets.end());
}

void RawDbFile::CellOffsets(Bytes page, std::vector<std::uint16_t>& out) const {
  out.clear();
  const std::size_t header = StartsWithMagic(page) ? 100 : 0;
  if (header >= page.size()) return;
  std::uint32_t count = Be16(page, header + 3);
  if (count == 0) return;
  if (count == 1) {
    out.push_back(static_cast<std::uint16_t>(Be16(page, header + 5)));
    return;
  }
  const std::size_t start = header + (page[header] == 0x05 ? 12 : 8);
  if (start >= page.size()) return;
  count = std::min<std::uint32_t>(count, static_cast<std::uint32_t>((page.size() - start) / 2));
  out.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i)
    out.push_back(static_cast<std::uint16_t>(Be16(page, start + 2 * std::size_t{i})));
}

std::map<std::int32_t, std::int64_t> RawDbFile::child_pages(Bytes page) const {
  std::map<std::int32_t, std::int64_t> children;
  const std::size_t size = page.size();
  std::vector<std::uint16_t> offsets;
  CellOffsets(page, offsets);
  for (std::uint16_t offset : offsets) {
    if (std::size_t{offset} + 4 > size) continue;
    const std::uint32_t child = Be32(page, offset);
    int length = 0;
    const std::uint64_t key = read_varint(Tail(page, std::size_t{offset} + 4),
                                          static_cast<std::int64_t>(size) - offset - 4, length);
    if (child == 0 || child > pageCount_) continue;  // no such page: nothing to walk
    children[static_cast<std::int32_t>(child - 1)] = static_cast<std::int64_t>(key);
  }
  const std::uint32_t right = Be32(page, StartsWithMagic(page) ? 108 : 8);
  if (right != 0 && right <= pageCount_) children[static_cast<std::int32_t>(right - 1)] = -1;
  return children;
}

std::int32_t RawDbFile::Walk(std::int32_t index, Bytes page, const LeafVisitor& visit,
                             std::set<std::int32_t>& visited, int depth) {
  const std::size_t header = StartsWithMagic(page) ? 100 : 0;
  if (header >= page.size()) return kSuccess;
  const std::uint8_t type = page[header];
  if (type == 0x0D) {
    visit(index, page);
    return kSuccess;
  }
  if (type != 0x05 || depth >= kMaxDepth) return kSuccess;
  std::vector<std::uint8_t> buffer(PageSize());
  for (const auto& [child, key] : child_pages(page)) {
    (void)key;
    if (!visited.insert(child).second) continue;  // a page cycle in a damaged file
    if (std::int32_t rc = read_page(child, buffer.data()); rc != 0) return rc;
    if (std::int32_t rc = Walk(child, Bytes(buffer), visit, visited, depth + 1); rc != 0) return rc;
  }
  return kSuccess;
}

std::int32_t RawDbFile::WalkLeaves(std::int32_t index, Bytes page, const LeafVisitor& visit) {
  std::set<std::int32_t> visited{index};
  return Walk(index, page, visit, visited, 0);
}

std::int32_t RawDbFile::collect_live_cells(std::int32_t index, Bytes page, CellMap& cells) {
  return WalkLeaves(index, page,
                    [&](std::int32_t leaf, Bytes bytes) { cells[leaf] = cell_offsets(bytes); });
}

void RawDbFile::SchemaLeaf(Bytes page, const std::string& name,
                           std::map<std::int32_t, std::int64_t>& roots) {
  const std::size_t size = page.size();
  for (std::uint16_t offset : cell_offsets(page)) {
    std::size_t position = offset;
    if (position >= size) continue;
    int length = 0;
    read_varint(Tail(page, position), static_cast<std::int64_t>(size - position),
                length);  // payload length
    position += static_cast<std::size_t>(length);
    length = 0;
    read_varint(Tail(page, position),
                static_cast<std::int64_t>(size) - static_cast<std::int64_t>(position),
                length);  // row id
    position += static_cast<std::size_t>(length);
    if (position >= size) continue;
    const std::size_t payload = position;
    length = 0;
    const std::uint64_t headerSize =
        read_varint(Tail(page, position), static_cast<std::int64_t>(size - position), length);
    position += static_cast<std::size_t>(length);
    const std::uint64_t headerEnd =
        std::min<std::uint64_t>(payload + std::min<std::uint64_t>(headerSize, size), size);
    std::uint64_t content = payload + std::min<std::uint64_t>(headerSize, size);
    bool matches = false;
    int column = 1;
    while (position < headerEnd && column <= 4) {
      length = 0;
      const std::uint64_t type = read_varint(
          Tail(page, position), static_cast<std::int64_t>(headerEnd - position), length);
      if (length <= 0) break;
      position += static_cast<std::size_t>(length);
      if (column == 4) {
        if (matches && type >= 1 && type <= 4 && content <= size && type <= size - content) {
          std::uint32_t root = 0;
          for (std::uint64_t i = 0; i < type; ++i) root = (root << 8) | page[content + i];
          if (root >= 1 && root <= pageCount_) roots[static_cast<std::int32_t>(root - 1)] = -1;
        }
        break;
      }
      if (type > 13) {
        const std::uint64_t textLength = (type - 13) / 2;
        if (textLength == name.size() && content <= size && textLength <= size - content &&
            std::memcmp(page.data() + content, name.data(), name.size()) == 0)
          matches = true;
        content = textLength > size
                      ? size + 1
                      : content + textLength;  // past the page: nothing more to compare
      }
      ++column;
    }
  }
}

void RawDbFile::SchemaWalk(Bytes page, const std::string& name,
                           std::map<std::int32_t, std::int64_t>& roots,
                           std::set<std::int32_t>& visited, int depth) {
  if (depth >= kMaxDepth) return;
  std::vector<std::uint8_t> buffer(PageSize());
  for (const auto& [child, key] : child_pages(page)) {
    (void)key;
    if (!visited.insert(child).second) continue;
    if (read_page(child, buffer.data()) != 0) continue;
    const Bytes childPage(buffer);
    const std::size_t header = StartsWithMagic(childPage) ? 100 : 0;
    if (childPage[header] == 0x0D)
      SchemaLeaf(childPage, name, roots);
    else if (childPage[header] == 0x05)
      SchemaWalk(childPage, name, roots, visited, depth + 1);
  }
}

std::map<std::int32_t, std::int64_t> RawDbFile::find_root_pages(const std::string& name) {
  std::map<std::int32_t, std::int64_t> roots;
  if (!IsOpen()) return roots;
  std::vector<std::uint8_t> buffer(PageSize());
  if (read_page(0, buffer.data()) != 0) return roots;
  Bytes page(buffer);
  std::set<std::int32_t> visited{0};
  if (page[100] == 0x0D)
    SchemaLeaf(page, name, roots);
  else if (page[100] == 0x05)
    SchemaWalk(page, name, roots, visited, 0);
  return roots;
}

std::uint64_t RawDbFile::LocalPayload(std::uint64_t payload, std::uint32_t page_bytes) const {
  // The file format's rule, from the usable page size.
  const std::uint32_t usable = std::min(UsableSize(), page_bytes);
  const std::uint64_t maxLocal = usable - 35;
  if (payload <= maxLocal) return payload;
  const std::uint64_t minLocal = (static_cast<std::uint64_t>(usable - 12) * 32 / 255) - 23;
  const std::uint64_t local = minLocal + (payload - minLocal) % (usable - 4);
  return local > maxLocal ? minLocal : local;
}

std::uint32_t RawDbFile::CellExtent(Bytes page, std::uint32_t cell_offset) const {
  const std::uint64_t size = page.size();
  if (cell_offset >= size) return 0;
  const Bytes cell = Tail(page, cell_offset);
  int payloadLength = 0, rowIdLength = 0;
  const std::uint64_t payload =
      read_varint(cell, static_cast<std::int64_t>(cell.size()), payloadLength);
  read_varint(Tail(cell, static_cast<std::size_t>(payloadLength)),
              static_cast<std::int64_t>(cell.size()) - payloadLength, rowIdLength);
  const std::uint64_t local = LocalPayload(payload, static_cast<std::uint32_t>(size));
  const std::uint64_t extent =
      static_cast<std::uint64_t>(payloadLength + rowIdLength) + local + (local < payload ? 4 : 0);
  return static_cast<std::uint32_t>(std::min(extent, size - cell_offset));
}

std::int32_t RawDbFile::read_live_payload(Bytes page, std::uint32_t cell_offset,
                                          std::uint32_t next_offset,
                                          std::vector<std::uint8_t>& joined, Bytes& view) {
  const std::uint32_t size = static_cast<std::uint32_t>(page.size());
  view = Tail(page, cell_offset);
  if (cell_offset >= size) return kSuccess;
  if (next_offset <= cell_offset || next_offset > size) next_offset = size;
  const std::uint32_t gap = next_offset - cell_offset;
  int payloadLength = 0;
  const std::uint64_t payload = read_varint(view, gap, payloadLength);
  int rowIdLength = 0;
  read_varint(Tail(view, static_cast<std::size_t>(payloadLength)),
              static_cast<std::int64_t>(gap) - payloadLength, rowIdLength);

  // Whether and where a payload spills is the file format's rule, from the usable page
  // size; the gap to the next live cell is no guide when freed space lies in it.
  const std::uint64_t local = LocalPayload(payload, size);
  if (local >= payload) return kSuccess;  // in place: the decoder gets the page tail
  const std::uint64_t head =
      static_cast<std::uint64_t>(payloadLength) + static_cast<std::uint64_t>(rowIdLength);
  const std::uint64_t pointerAt = cell_offset + head + local;
  if (pointerAt + 4 > size) return kSuccess;  // damaged cell: the decoder stops at the page end

  const std::uint32_t usable = std::min(UsableSize(), size);
  const std::uint64_t target = head + payload;
  joined.assign(page.begin() + cell_offset, page.begin() + static_cast<std::ptrdiff_t>(pointerAt));
  // No reservation from the stated length: a damaged cell may claim terabytes; the
  // buffer grows only with the pages the chain really has.
  std::uint32_t next = Be32(page, static_cast<std::size_t>(pointerAt));
  std::vector<std::uint8_t> buffer(PageSize());
  std::set<std::uint32_t> seen;
  // The chain ends at a zero link, at the stated payload length, or where a damaged
  // file repeats a page or points outside itself.
  while (next != 0 && joined.size() < target && next <= pageCount_ && seen.insert(next).second) {
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

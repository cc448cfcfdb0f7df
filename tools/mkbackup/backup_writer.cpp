// WriteBackup: the order in which a backup folder is filled, the placement of
// stored files and the shared content helpers (people, sentences, dates).
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "common/hash.h"
#include "common/result_codes.h"
#include "internal.h"

namespace bv::mkbackup {

std::string FileIdOf(const std::string& domain, const std::string& relativePath) {
  return Sha1Hex(domain + "-" + relativePath);
}

std::int64_t ParseIsoDate(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6 &&
      std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6)
    throw std::runtime_error("bad date " + text + " (want YYYY-MM-DDTHH:MM:SSZ)");
  if (y < 2001 || y > 2100 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
    throw std::runtime_error("date out of range: " + text);
  // Days from civil (proleptic Gregorian), independent of the local zone.
  y -= mo <= 2;
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
  return days * 86400 + h * 3600 + mi * 60 + s;
}

std::string FormatIsoDate(std::int64_t unixSeconds) {
  std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string Utf8Prefix(const std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string Guid(Prng& rng) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) out += '-';
    out += hex[rng.Below(16)];
  }
  return out;
}

std::string Sentence(Prng& rng, int minWords, int maxWords) {
  static const std::vector<std::string> words = {
      "see",     "you",     "at",      "the",    "station", "tomorrow",   "lunch",    "call",
      "me",      "later",   "meeting", "moved",  "to",      "friday",     "thanks",   "for",
      "photos",  "can",     "we",      "talk",   "about",   "plan",       "dinner",   "tonight",
      "running", "late",    "traffic", "is",     "bad",     "happy",      "birthday", "send",
      "address", "please",  "ok",      "great",  "news",    "train",      "leaves",   "at",
      "nine",    "bring",   "keys",    "coffee", "shop",    "near",       "office",   "weekend",
      "trip",    "tickets", "booked",  "café",   "naïve",   "résumé",     "über",     "smile 😀",
      "見て",    "你好",    "ok 👍",    "a<b",    "x&y",     "\"quoted\"", "it's",     "50%"};
  int n = static_cast<int>(rng.Range(minWords, maxWords));
  std::string out;
  for (int i = 0; i < n; ++i) {
    std::string w = rng.Pick(words);
    if (i == 0 && !w.empty() && w[0] >= 'a' && w[0] <= 'z') w[0] = static_cast<char>(w[0] - 32);
    if (i) out += ' ';
    out += w;
  }
  return out;
}

std::string SpillingText(std::uint64_t seed, int pageSize) {
  Prng rng(seed * 0x9E3779B97F4A7C15ull + 0x5F11);
  const std::size_t page = static_cast<std::size_t>(std::max(pageSize, 512));
  const std::size_t want = std::min<std::size_t>(page * 11 / 10 + rng.Below(page * 14 / 10), 60000);
  std::string text;
  while (text.size() < want) text += Sentence(rng, 8, 16) + ". ";
  return Utf8Prefix(text, want);
}

std::vector<Person> MakePeople(std::uint64_t seed, int count) {
  static const std::vector<std::string> firsts = {
      "Anna", "Bert", "carl",  "Dora",  "Emil",  "Fiona", "Georg", "Hanna", "Ivan", "Julia",
      "Karl", "Lena", "Marco", "Nora",  "Oskar", "Paula", "Quinn", "Rosa",  "Sven", "Tara",
      "Uwe",  "Vera", "Wang",  "Xenia", "Yusuf", "Zoe",   "Renée", "José",  "李",   "Tom & Ann"};
  static const std::vector<std::string> lasts = {
      "Berg",     "Meyer",  "Novak",  "Okafor",  "Smith", "García",  "Müller", "Rossi",  "Dubois",
      "Kowalski", "Tanaka", "Nguyen", "O'Brien", "Silva", "Ivanova", "王",     "Hansen", "Costa"};
  static const std::vector<std::string> orgs = {
      "", "", "Acme Corp", "City Hospital", "Blue Bakery", "", "Tarn & Wick Ltd"};
  Prng rng(seed ^ 0x5EED0F9E0F1Eull);
  std::vector<Person> people;
  people.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    Person p;
    int kind = i % 10;
    p.first = kind == 7 ? "" : rng.Pick(firsts);
    p.last = (kind == 7 || kind == 3) ? "" : rng.Pick(lasts);
    p.organization = kind == 7 ? "Pizza Place" : rng.Pick(orgs);
    // Person 5 of every ten has no phone (only e-mail), person 8 has two numbers.
    char number[32];
    std::snprintf(number, sizeof number, "+1555%07d", 1000000 + i * 7 + 13);
    if (kind != 5) p.phones.push_back(number);
    if (kind == 8) {
      std::snprintf(number, sizeof number, "+4479%08d", 10000000 + i * 3);
      p.phones.push_back(number);
    }
    if (kind == 5 || kind == 1 || kind == 8) {
      std::string local = p.first.empty() ? "info" : p.first;
      for (char& c : local)
        if (c == ' ' || c == '&') c = '.';
      p.emails.push_back(local + std::to_string(i) + "@example.com");
    }
    if (kind == 2) p.url = "https://example.org/~p" + std::to_string(i);
    // Names written in CJK scripts in both parts, which the phone shows last name first.
    if (i % 20 == 6) {
      p.first = "\u5c0f\u660e";
      p.last = "\u738b";
    } else if (i % 20 == 16) {
      p.first = "\u3055\u304f\u3089";
      p.last = "\u5c71\u7530";
    }
    people.push_back(std::move(p));
  }
  return people;
}

namespace {
std::string RawSha1(const std::string& bytes) {
  Sha1 sha;
  sha.Update(bytes.data(), bytes.size());
  auto digest = sha.Final();
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}
}  // namespace

// ---- context ---------------------------------------------------------------------

BackupContext::BackupContext(const BackupOptions& options, std::filesystem::path folder)
    : options_(options), folder_(std::move(folder)), prng_(options.seed) {
  versionText_ = options.iosVersion.empty() ? (options.layout == Layout::kNewer ? "14.3" : "9.3.5")
                                            : options.iosVersion;
  version_ = ParseVersion(versionText_);
}

std::filesystem::path BackupContext::StoredPath(const std::string& fileId) {
  if (!newer()) return folder_ / fileId;
  std::string sub = fileId.substr(0, 2);
  if (madeDirs_.insert(sub).second) std::filesystem::create_directories(folder_ / sub);
  return folder_ / sub / fileId;
}

void BackupContext::AddFile(const std::string& domain, const std::string& path,
                            const std::string& bytes, const std::string& type, std::int64_t mtime) {
  Entry e;
  e.domain = domain;
  e.path = path;
  e.fileId = FileIdOf(domain, path);
  e.size = static_cast<std::int64_t>(bytes.size());
  e.mtime = mtime;
  e.mode = 0100644;
  e.inode = static_cast<std::int64_t>(entries_.size()) + 100000;
  if (!newer()) e.digest = RawSha1(bytes);
  std::filesystem::path stored = StoredPath(e.fileId);
  {
    std::ofstream out(stored, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + stored.string());
  }
  TruthFile f;
  f.domain = domain;
  f.path = path;
  f.fileId = e.fileId;
  f.storedAs = std::filesystem::relative(stored, folder_).generic_string();
  f.size = e.size;
  f.type = type;
  f.mode = e.mode;
  truth_.files.push_back(std::move(f));
  entries_.push_back(std::move(e));
}

void BackupContext::AddDirectory(const std::string& domain, const std::string& path,
                                 std::int64_t mtime) {
  Entry e;
  e.domain = domain;
  e.path = path;
  e.fileId = FileIdOf(domain, path);
  e.directory = true;
  e.mtime = mtime;
  e.mode = 040755;
  e.inode = static_cast<std::int64_t>(entries_.size()) + 100000;
  TruthFile f;
  f.domain = domain;
  f.path = path;
  f.fileId = e.fileId;
  f.directory = true;
  f.mode = e.mode;
  truth_.files.push_back(std::move(f));
  entries_.push_back(std::move(e));
}

TruthDb& BackupContext::BeginDatabase(const std::string& label, const std::string& domain,
                                      const std::string& path, int pageSize) {
  auto db = std::make_unique<TruthDb>();
  db->label = label;
  db->domain = domain;
  db->path = path;
  db->fileId = FileIdOf(domain, path);
  db->pageSize = pageSize;
  truth_.databases.push_back(std::move(db));
  return *truth_.databases.back();
}

void BackupContext::FinishDatabase(TruthDb& db, std::int64_t mtime) {
  std::filesystem::path stored = StoredPath(db.fileId);
  std::string log;
  static const char* const kInUse[] = {
      "sms.db",       "AddressBook.sqlitedb", "call_history.db",    "CallHistory.storedata",
      "notes.sqlite", "NoteStore.sqlite",     "ChatStorage.sqlite", "MM.sqlite",
      "QQ.db"};
  if (options_.writeAheadLogs &&
      std::find(std::begin(kInUse), std::end(kInUse), db.label) != std::end(kInUse))
    log = MoveNewestRowsIntoLog(stored, db, options_.logDeletions);
  // After the move, which may rebalance pages: the probes say what the file keeps.
  CheckProbes(db, stored);
  Entry e;
  e.domain = db.domain;
  e.path = db.path;
  e.fileId = db.fileId;
  e.size = static_cast<std::int64_t>(std::filesystem::file_size(stored));
  if (!newer()) {
    std::ifstream in(stored, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    e.digest = RawSha1(bytes);
  }
  e.mtime = mtime;
  e.mode = 0100644;
  e.inode = static_cast<std::int64_t>(entries_.size()) + 100000;
  TruthFile f;
  f.domain = db.domain;
  f.path = db.path;
  f.fileId = db.fileId;
  f.storedAs = std::filesystem::relative(stored, folder_).generic_string();
  f.size = e.size;
  f.type = "sqlite";
  f.mode = e.mode;
  truth_.files.push_back(std::move(f));
  entries_.push_back(std::move(e));
  if (!log.empty()) {
    AddFile(db.domain, db.path + "-wal", log, "sqlite-wal", mtime);
    db.logFileId = FileIdOf(db.domain, db.path + "-wal");
  }
}

// ---- the backup --------------------------------------------------------------------

int WriteBackup(const BackupOptions& options, const std::filesystem::path& folder,
                std::string* error) {
  try {
    if (options.messages < 0 || options.contacts < 0 || options.calls < 0 || options.notes < 0 ||
        options.whatsapp < 0 || options.wechat < 0 || options.qq < 0 || options.media < 0 ||
        options.manifestExtra < 0 || options.events < 0 || options.reminders < 0 ||
        options.bookmarks < 0)
      throw std::runtime_error("counts must not be negative");
    ParseIsoDate(options.date);
    std::filesystem::create_directories(folder);
    BackupContext ctx(options, folder);
    WriteInfoPlists(ctx);
    WriteAddressBook(ctx);
    WriteSmsDb(ctx);
    WriteCallHistory(ctx);
    WriteNotes(ctx);
    WriteWhatsApp(ctx);
    WriteWeChat(ctx);
    WriteQQ(ctx);
    WriteMedia(ctx);
    WriteExtraEntries(ctx);
    // Written last, with generators of their own, so the files above stay as they were.
    WriteCalendar(ctx);
    WriteSafari(ctx);
    if (ctx.newer()) {
      WriteManifestDb(ctx);
    } else {
      WriteManifestMbdb(ctx);
    }
    if (options.writeTruth) {
      std::string json = TruthToJson(ctx.truth(), options, ctx.versionText());
      std::ofstream out(folder / "mkbackup-truth.json", std::ios::binary | std::ios::trunc);
      out.write(json.data(), static_cast<std::streamsize>(json.size()));
      if (!out) throw std::runtime_error("cannot write the truth file");
    }
    return kSuccess;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return kInvalidParameter;
  }
}

}  // namespace bv::mkbackup

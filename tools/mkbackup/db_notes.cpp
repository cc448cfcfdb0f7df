// Notes: the older notes.sqlite (ZNOTE + ZNOTEBODY with HTML bodies) and the newer
// NoteStore.sqlite (ZICCLOUDSYNCINGOBJECT rows with gzip-wrapped note data).
#include <array>

#include "internal.h"

namespace bv::mkbackup {

namespace {

std::uint32_t Crc32(const std::string& data) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : data) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void PutLe32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// gzip member with stored (uncompressed) deflate blocks: valid for any inflater.
std::string Gzip(const std::string& data) {
  std::string out("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03", 10);
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min<std::size_t>(65535, data.size() - pos);
    const bool last = pos + n == data.size();
    out += static_cast<char>(last ? 1 : 0);
    out += static_cast<char>(n & 0xFF);
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(~n & 0xFF);
    out += static_cast<char>((~n >> 8) & 0xFF);
    out.append(data, pos, n);
    pos += n;
  } while (pos < data.size());
  PutLe32(out, Crc32(data));
  PutLe32(out, static_cast<std::uint32_t>(data.size()));
  return out;
}

void PutVarint(std::string& out, std::uint64_t v) {
  while (v >= 0x80) {
    out += static_cast<char>((v & 0x7F) | 0x80);
    v >>= 7;
  }
  out += static_cast<char>(v);
}

std::string LengthField(int field, const std::string& payload) {
  std::string out;
  PutVarint(out, static_cast<std::uint64_t>(field) << 3 | 2);
  PutVarint(out, payload.size());
  return out + payload;
}

std::string VarintField(int field, std::uint64_t value) {
  std::string out;
  PutVarint(out, static_cast<std::uint64_t>(field) << 3);
  PutVarint(out, value);
  return out;
}

std::size_t Utf16Units(const std::string& utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) n += c >= 0xF0 ? 2 : 1;
  return n;
}

// The note body message: document (2) > note (3) > text (2), then one attribute run
// (5) per line as the app writes them: its length in UTF-16 units (1) and paragraph
// style (2): the title style (0) for the first line, a checklist (103, with an item
// identifier (5.1) and its done flag (5.2)) where `checklist` says so, body text else.
std::string NoteProto(const std::string& text, bool checklist) {
  std::string runs;
  std::size_t from = 0;
  int line = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string style;
    if (line == 0) {
      style = VarintField(1, 0);
    } else if (checklist) {
      style = VarintField(1, 103) +
              LengthField(5, LengthField(1, std::string(16, static_cast<char>(line))) +
                                 VarintField(2, line % 2));
    }
    std::string run = VarintField(1, Utf16Units(text.substr(from, end - from)));
    if (!style.empty()) run += LengthField(2, style);
    runs += LengthField(5, run);
    from = end;
    ++line;
  }
  return VarintField(1, 0) + LengthField(2, VarintField(1, 0) + VarintField(2, 0) +
                                                LengthField(3, LengthField(2, text) + runs));
}

struct Note {
  std::string title, html, plain;
  std::int64_t created;  // seconds since 2001
};

std::vector<Note> MakeNotes(BackupContext& ctx, Prng& rng) {
  const BackupOptions& o = ctx.options();
  std::vector<Note> notes;
  const std::int64_t end = ParseIsoDate(o.date) - kAppleEpoch - 86400;
  for (int i = 0; i < o.notes; ++i) {
    Note n;
    n.title = i % 7 == 3 ? std::string() : Sentence(rng, 1, 4);
    const std::string a = Sentence(rng, 3, 10), b = Sentence(rng, 3, 10);
    switch (i % 5) {
      case 0:
        n.html = a + "<div>" + b + "</div>";
        break;
      case 1:
        n.html = a + "<br>" + b + "<br>";
        break;
      case 2:
        n.html = "Price &lt; 5 &amp; tax &gt; 0 &quot;ok&quot; it&#39;s&nbsp;fine";
        break;
      case 3:
        n.html = "<div>" + a + "</div><div>&amp;lt;b&amp;gt;</div><div><br></div>";
        break;
      default:
        n.html = a;
        break;
    }
    n.plain = a + "\n" + b;
    // A long note: its lines go to both forms (the newer store's snippet keeps the
    // first of them only).
    std::string lines;
    if (i % 11 == 6) {
      while (n.html.size() < 5000) {
        const std::string sentence = Sentence(rng, 8, 16);
        n.html += "<div>" + sentence + "</div>";
        lines += "\n" + sentence;
      }
    }
    n.plain += lines;
    n.created = end - static_cast<std::int64_t>(o.notes - i) * 7200 - rng.Range(0, 3000);
    notes.push_back(std::move(n));
  }
  return notes;
}

void WriteOldNotes(BackupContext& ctx, const std::vector<Note>& notes, bool live) {
  const Version v = ctx.version();
  TruthDb& truth = ctx.BeginDatabase("notes.sqlite", "HomeDomain", "Library/Notes/notes.sqlite",
                                     RecordPageSize(ctx.options()));
  Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
  db.Exec("BEGIN;");
  std::vector<std::string> sections = {"notes.sqlite (HomeDomain"};
  if (v.major >= 9) sections.push_back("notes.sqlite | iOS 9.3.5");
  CreateOverlay(db, truth, sections);
  {
    Inserter acc(db, &truth.Table("ZACCOUNT"), "ZACCOUNT",
                 {"Z_PK", "Z_ENT", "Z_OPT", "ZTYPE", "ZDEFAULTSTORE", "ZNAME"});
    acc.Row({std::int64_t{1}, std::int64_t{1}, std::int64_t{1}, std::int64_t{0}, std::int64_t{1},
             std::string("On My iPhone")});
    Inserter store(db, &truth.Table("ZSTORE"), "ZSTORE",
                   {"Z_PK", "Z_ENT", "Z_OPT", "ZACCOUNT", "ZNAME"});
    store.Row(
        {std::int64_t{1}, std::int64_t{4}, std::int64_t{1}, std::int64_t{1}, std::string("Notes")});
  }
  std::vector<std::int64_t> noteRows, spilling;
  {
    Inserter note(
        db, &truth.Table("ZNOTE"), "ZNOTE",
        {"Z_PK", "Z_ENT", "Z_OPT", "ZCONTAINSCJK", "ZCONTENTTYPE", "ZDELETEDFLAG", "ZBODY",
         "ZSTORE", "ZCREATIONDATE", "ZMODIFICATIONDATE", "ZAUTHOR", "ZGUID", "ZSUMMARY", "ZTITLE"});
    Inserter body(db, &truth.Table("ZNOTEBODY"), "ZNOTEBODY",
                  {"Z_PK", "Z_ENT", "Z_OPT", "ZOWNER", "ZCONTENT"});
    Prng rng(ctx.options().seed ^ 0x7070);
    std::int64_t pk = 0;
    for (const Note& n : notes) {
      ++pk;
      // Dates as real numbers with a fraction, as Core Data stores them.
      const double created = static_cast<double>(n.created) + 0.25;
      note.Row({pk, std::int64_t{3}, std::int64_t{2}, std::int64_t{0}, std::int64_t{0},
                std::int64_t{0}, pk, std::int64_t{1}, created, created + 120.5,
                std::string("owner@example.com"), Guid(rng), Utf8Prefix(n.plain, 60),
                n.title.empty() ? Value{} : Value{n.title}});
      // Bodies of notes deleted later that spill into overflow pages.
      const bool spills = live && ctx.options().deletedRows && pk % 7 == 4 && (pk - 2) % 6 != 0;
      body.Row(
          {pk, std::int64_t{2}, std::int64_t{1}, pk,
           spills ? n.html + "<div>" +
                        SpillingText(ctx.options().seed * 1000037 + static_cast<std::uint64_t>(pk),
                                     truth.pageSize) +
                        "</div>"
                  : n.html});
      (spills ? spilling : noteRows).push_back(pk);
    }
  }
  if (!live) {
    // A leftover store: its notes were deleted when they moved to the newer app.
    DeleteRows(db, truth, "ZNOTEBODY", noteRows, "ZCONTENT", "row");
    DeleteRows(db, truth, "ZNOTE", noteRows, "ZGUID", "row");
  } else if (ctx.options().deletedRows && noteRows.size() >= 6) {
    std::vector<std::int64_t> rows;
    for (std::size_t k = 1; k < noteRows.size(); k += 6) rows.push_back(noteRows[k]);
    DeleteRows(db, truth, "ZNOTEBODY", rows, "ZCONTENT", "row");
    DeleteRows(db, truth, "ZNOTE", rows, "ZGUID", "row");
  }
  if (!spilling.empty()) {
    DeleteRows(db, truth, "ZNOTEBODY", spilling, "ZCONTENT", "spilled");
    DeleteRows(db, truth, "ZNOTE", spilling, "ZGUID", "row");
  }
  db.Exec("COMMIT;");
  db.Close();
  ctx.FinishDatabase(truth, ParseIsoDate(ctx.options().date) - 900);
}

void WriteNoteStore(BackupContext& ctx, const std::vector<Note>& notes) {
  const Version v = ctx.version();
  TruthDb& truth = ctx.BeginDatabase("NoteStore.sqlite", "AppDomainGroup-group.com.apple.notes",
                                     "NoteStore.sqlite", 4096);
  Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
  db.Exec("BEGIN;");
  const char* section = v.major < 10   ? "NoteStore.sqlite (AppDomainGroup"
                        : v.major < 17 ? "NoteStore.sqlite | iOS 11.2"
                                       : "NoteStore.sqlite | iOS 17.3";
  CreateOverlay(db, truth, {section});
  // Where the creation date goes moves between versions.
  const std::string createdColumn = v.major < 10   ? "ZCREATIONDATE"
                                    : v.major < 17 ? "ZCREATIONDATE1"
                                                   : "ZCREATIONDATE3";
  Prng rng(ctx.options().seed ^ 0x5707E);
  std::vector<std::int64_t> noteRows;
  {
    Inserter obj(db, &truth.Table("ZICCLOUDSYNCINGOBJECT"), "ZICCLOUDSYNCINGOBJECT",
                 {"Z_PK", "Z_ENT", "Z_OPT", "ZIDENTIFIER", "ZNAME", "ZTITLE2", "ZACCOUNT",
                  "ZFOLDERTYPE", "ZTITLE1", "ZSNIPPET", createdColumn, "ZMODIFICATIONDATE1",
                  "ZFOLDER", "ZNOTEDATA", "ZACCOUNT2", "ZACCOUNT4", "ZACCOUNT7"});
    const Value n0{};
    // The account, then the folder that holds every note.
    obj.Row({std::int64_t{1}, std::int64_t{13}, std::int64_t{1}, Guid(rng),
             std::string("On My iPhone"), n0, n0, n0, n0, n0, n0, n0, n0, n0, n0, n0, n0});
    obj.Row({std::int64_t{2}, std::int64_t{14}, std::int64_t{1}, Guid(rng), n0,
             std::string("Notes"), std::int64_t{1}, std::int64_t{0}, n0, n0, n0, n0, n0, n0,
             std::int64_t{1}, std::int64_t{1}, std::int64_t{1}});
    Inserter data(db, &truth.Table("ZICNOTEDATA"), "ZICNOTEDATA",
                  {"Z_PK", "Z_ENT", "Z_OPT", "ZNOTE", "ZDATA"});
    std::int64_t pk = 2, dataPk = 0;
    for (const Note& n : notes) {
      ++pk;
      ++dataPk;
      const double created = static_cast<double>(n.created) + 0.5;
      std::string snippet = n.plain.substr(n.plain.find('\n') + 1);
      snippet = Utf8Prefix(snippet, 100);
      obj.Row({pk, std::int64_t{11}, std::int64_t{3}, Guid(rng), n0, n0, n0, n0,
               n.title.empty() ? Value{} : Value{n.title}, snippet, created, created + 300.0,
               std::int64_t{2}, dataPk, std::int64_t{1}, std::int64_t{1}, std::int64_t{1}});
      const std::string whole = (n.title.empty() ? "" : n.title + "\n") + n.plain;
      data.Row({dataPk, std::int64_t{18}, std::int64_t{1}, pk,
                Blob{Gzip(NoteProto(whole, dataPk % 4 == 2))}});
      truth.bodyTexts[pk] = whole;
      noteRows.push_back(pk);
    }
  }
  if (ctx.options().deletedRows && noteRows.size() >= 6) {
    std::vector<std::int64_t> rows;
    for (std::size_t k = 2; k < noteRows.size(); k += 7) rows.push_back(noteRows[k]);
    DeleteRows(db, truth, "ZICCLOUDSYNCINGOBJECT", rows, "ZSNIPPET", "row");
  }
  db.Exec("COMMIT;");
  db.Close();
  ctx.FinishDatabase(truth, ParseIsoDate(ctx.options().date) - 800);
}

}  // namespace

void WriteNotes(BackupContext& ctx) {
  const Version v = ctx.version();
  Prng rng = ctx.prng().Fork(44);
  const std::vector<Note> notes = MakeNotes(ctx, rng);
  if (v.major < 9) {
    WriteOldNotes(ctx, notes, true);
  } else if (v.major < 10) {
    // Notes that stayed with the old app, and a few already in the new store.
    WriteOldNotes(ctx, notes, true);
    std::vector<Note> few(notes.begin(), notes.begin() + static_cast<long>(notes.size() / 3));
    WriteNoteStore(ctx, few);
  } else if (v.major < 12) {
    WriteOldNotes(ctx, notes, false);
    WriteNoteStore(ctx, notes);
  } else {
    WriteNoteStore(ctx, notes);
  }
}

}  // namespace bv::mkbackup

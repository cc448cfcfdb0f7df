// AddressBook.sqlitedb: persons, their multi-values, and the real FTS4 search table
// (old column layout before iOS 10, new one from iOS 10), so that its _content table
// is exactly what SQLite makes.
#include <algorithm>
#include <cstdio>

#include "internal.h"

namespace bv::mkbackup {

namespace {

// "+1 (555) 100-0013" for +15551000013; other countries keep their digits grouped.
std::string AsEntered(const std::string& e164) {
  if (e164.rfind("+1", 0) == 0 && e164.size() == 12)
    return "+1 (" + e164.substr(2, 3) + ") " + e164.substr(5, 3) + "-" + e164.substr(8);
  return e164.substr(0, 3) + " " + e164.substr(3, 4) + " " + e164.substr(7);
}

// The Phone text of the search table: per number, the form as entered followed by
// generated variants, every token followed by one blank.
std::string PhoneText(const std::vector<std::string>& phones) {
  std::string out;
  for (const std::string& e164 : phones) {
    const std::string digits = e164.substr(1);
    const std::size_t cc = e164.rfind("+1", 0) == 0 ? 1 : 2;
    const std::string national = digits.substr(cc);
    out += AsEntered(e164) + " " + e164 + " 011" + digits + " 00" + digits + " " + digits + " " +
           national + " " + digits.substr(digits.size() - 7) + " ";
  }
  return out;
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& s : items) out += s + " ";
  return out;
}

}  // namespace

void WriteAddressBook(BackupContext& ctx) {
  const BackupOptions& o = ctx.options();
  const Version v = ctx.version();
  Prng rng = ctx.prng().Fork(22);
  TruthDb& truth = ctx.BeginDatabase("AddressBook.sqlitedb", "HomeDomain",
                                     "Library/AddressBook/AddressBook.sqlitedb", RecordPageSize(o));
  Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
  db.Exec("BEGIN;");
  const bool newFts = v.major >= 10;
  const bool hasFts = v.major >= 6;
  std::string ftsSection;
  if (newFts) {
    CreateOverlay(db, truth, {"AddressBook.sqlitedb | NEW"}, {"ABPersonFullTextSearch_content"});
    ftsSection = FindSection("AddressBook.sqlitedb | NEW").title;
  } else {
    CreateOverlay(db, truth, {"AddressBook.sqlitedb | iOS 4.2.1"});
    ftsSection = FindSection("AddressBook.sqlitedb | OLD").title;
  }
  if (hasFts) {
    std::string create = CommentedVirtualTable(FindSection(ftsSection));
    if (newFts) {
      // Register the stock tokenizer under the phone's tokenizer name, so the stored
      // schema text matches a real address book.
      db.Exec("SELECT fts3_tokenizer('ab_cf_tokenizer', fts3_tokenizer('simple'));");
    }
    db.Exec(create);
    truth.Table("ABPersonFullTextSearch_content").section = ftsSection;
  }

  const std::vector<Person> people = MakePeople(o.seed, o.contacts);
  const std::int64_t created = ParseIsoDate(o.date) - 400 * 86400 - kAppleEpoch;
  {
    Inserter labels(db, &truth.Table("ABMultiValueLabel"), "ABMultiValueLabel", {"value"});
    for (const char* l :
         {"_$!<Mobile>!$_", "_$!<Home>!$_", "_$!<Work>!$_", "iPhone", "_$!<HomePage>!$_"})
      labels.Row({std::string(l)});
  }
  Inserter person(db, &truth.Table("ABPerson"), "ABPerson",
                  {"ROWID", "First", "Last", "Organization", "Note", "Kind", "CreationDate",
                   "ModificationDate", "StoreID", "DisplayName", "guid"});
  Inserter multi(db, &truth.Table("ABMultiValue"), "ABMultiValue",
                 {"UID", "record_id", "property", "identifier", "label", "value", "guid"});
  std::unique_ptr<Inserter> fts;
  if (hasFts) {
    fts = std::make_unique<Inserter>(
        db, &truth.Table("ABPersonFullTextSearch"), "ABPersonFullTextSearch",
        std::vector<std::string>{"docid", "First", "Last", "Organization", "Phone", "Email", "URL",
                                 "DisplayName"});
  }
  std::int64_t uid = 0;
  std::vector<std::int64_t> deletable, spilling;  // spilling: persons with a long note
  for (std::size_t i = 0; i < people.size(); ++i) {
    const Person& p = people[i];
    const std::int64_t rowid = static_cast<std::int64_t>(i + 1);
    const std::int64_t when = created + static_cast<std::int64_t>(i) * 3600;
    const Value first = p.first.empty() ? Value{} : Value{p.first};
    const Value last = p.last.empty() ? Value{} : Value{p.last};
    const Value org = p.organization.empty() ? Value{} : Value{p.organization};
    const bool deleted = o.deletedRows && i % 9 == 4 && !p.phones.empty() && !p.last.empty();
    // Every other person deleted later has a note long enough to spill into overflow pages.
    // (Some others have a short one, as people write them.)
    Prng noteRng(o.seed * 1000039 + static_cast<std::uint64_t>(rowid));
    const Value note =
        i % 5 == 1 ? Value{Sentence(noteRng, 3, 9)}
        : deleted && i % 18 == 13
            ? Value{SpillingText(o.seed * 1000039 + static_cast<std::uint64_t>(rowid),
                                 truth.pageSize)}
            : Value{};
    person.Row({rowid, first, last, org, note, std::int64_t{0}, when, when + 60, std::int64_t{0},
                Value{}, Guid(rng)});
    int identifier = 0;
    for (std::size_t k = 0; k < p.phones.size(); ++k)
      multi.Row({++uid, rowid, std::int64_t{3}, std::int64_t{identifier++},
                 std::int64_t{k == 0 ? 1 : 4}, AsEntered(p.phones[k]), Guid(rng)});
    for (const std::string& e : p.emails)
      multi.Row({++uid, rowid, std::int64_t{4}, std::int64_t{identifier++}, std::int64_t{2}, e,
                 Guid(rng)});
    if (!p.url.empty())
      multi.Row({++uid, rowid, std::int64_t{22}, std::int64_t{identifier++}, std::int64_t{5}, p.url,
                 Guid(rng)});
    if (fts) {
      fts->Row({rowid, first, last, org, p.phones.empty() ? Value{} : Value{PhoneText(p.phones)},
                p.emails.empty() ? Value{} : Value{Join(p.emails)},
                p.url.empty() ? Value{} : Value{p.url}, Value{}});
    }
    if (i % 9 == 4 && !p.phones.empty() && !p.last.empty()) {
      deletable.push_back(rowid);
      if (std::holds_alternative<std::string>(note) && i % 5 != 1) spilling.push_back(rowid);
    }
  }
  fts.reset();
  if (o.deletedRows && !deletable.empty()) {
    DeleteRows(db, truth, "ABMultiValue",
               RowidsWhere(truth, "ABMultiValue", "record_id", deletable), "value", "row");
    // In row-id order, as one run; those with a long note as "spilled".
    for (std::int64_t id : deletable) {
      const bool spills = std::find(spilling.begin(), spilling.end(), id) != spilling.end();
      DeleteRows(db, truth, "ABPerson", {id}, "Last", spills ? "spilled" : "row");
    }
    // The index maintenance of a search-table delete may reuse the freed pages.
    if (hasFts) DeleteRows(db, truth, "ABPersonFullTextSearch", deletable, "Phone", "fts");
  }
  db.Exec("COMMIT;");
  db.Close();
  ctx.FinishDatabase(truth, ParseIsoDate(o.date) - 7200);
}

}  // namespace bv::mkbackup

#include "records/contact_reader.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <map>
#include <set>
#include <tuple>

#include "records/ordering.h"
#include "common/text.h"
#include "records/deleted_rows.h"

namespace bv {

namespace {

// One code point of valid UTF-8 (the readers make every text valid) at `i`, which moves on.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (i + length > text.size()) length = text.size() - i;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (byte(i + k) & 0x3F);
  i += length;
  return c;
}

bool IsCjk(char32_t c) {
  return (c >= 0x1100 && c <= 0x11FF) ||  // Hangul Jamo
         (c >= 0x2E80 && c <= 0x2FDF) ||  // CJK radicals, Kangxi radicals
         (c >= 0x3005 && c <= 0x3007) ||  // iteration mark, closing mark, ideographic zero
         (c >= 0x3040 && c <= 0x30FF) ||  // Hiragana, Katakana
         (c >= 0x3100 && c <= 0x31FF) ||  // Bopomofo, Hangul compatibility Jamo, ...
         (c >= 0x3400 && c <= 0x4DBF) ||  // CJK extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||  // CJK unified ideographs
         (c >= 0xA960 && c <= 0xA97F) ||  // Hangul Jamo extended A
         (c >= 0xAC00 && c <= 0xD7FF) ||  // Hangul syllables, Jamo extended B
         (c >= 0xF900 && c <= 0xFAFF) ||  // CJK compatibility ideographs
         (c >= 0xFF66 && c <= 0xFFDC) ||  // half-width Katakana and Hangul
         (c >= 0x20000 && c <= 0x3134F);  // CJK extensions B to G
}

template <typename Row>
void AddContact(ContactRows& sink, const Row& row) {
  // The lookup table keeps persons with a phone text only: nothing else to convert.
  std::string phone = row.Utf8(3);
  const bool listed = sink.mode == ContactRowMode::kContacts;
  if (!listed) {
    // The lookup keeps the phone text and the name, nothing else of the person.
    if (phone.empty()) return;
    NamedPhone& person = sink.rows.emplace_back();
    person.phone = std::move(phone);
    person.name = PersonName(row.Utf8(0), row.Utf8(1), row.Utf8(2));
    return;
  }
  ContactRecord& record = *sink.listed.emplace(sink.listed.end());
  record.phone = std::move(phone);
  record.first = row.Utf8(0);
  record.last = row.Utf8(1);
  record.organization = row.Utf8(2);
  record.name = PersonName(record.first, record.last, record.organization);
  record.email = row.Utf8(4);
  record.url = row.Utf8(5);
  if (const char* docid = row.Text(6); docid != nullptr) sink.byDocid[row.Int64(6)] = &record;
  if (record.name.empty()) record.name = "No Name";
  sink.order.Add(std::prev(sink.listed.end()), record.name);
}
}  // namespace

bool IsCjkText(std::string_view text) {
  if (text.empty()) return false;
  for (std::size_t i = 0; i < text.size();)
    if (!IsCjk(NextCodePoint(text, i))) return false;
  return true;
}

std::string PersonName(std::string_view first, std::string_view last,
                       std::string_view organization) {
  if (first.empty() && last.empty()) return std::string(organization);
  if (first.empty()) return std::string(last);
  if (last.empty()) return std::string(first);
  if (IsCjkText(first) && IsCjkText(last)) return std::string(last) + std::string(first);
  return std::string(first) + " " + std::string(last);
}

int ContactRow(void* context, int columns, char** values, char** /*names*/) {
  AddContact(*static_cast<ContactRows*>(context), ExecRow(columns, values));
  return 0;
}

int ContactRow(void* context, StatementRow& row) {
  AddContact(*static_cast<ContactRows*>(context), row);
  return 0;
}

Result RunAddressBookStatements(ReadOnlyDatabase& db, ContactRows& rows) {
  if (!db.Each(kAddressBookStatementNew, ContactRow, &rows)) return kSuccess;
  // The newer statement's failure is how an older layout shows itself.
  db.ForgetStatementError();
  db.Each(kAddressBookStatementOld, ContactRow, &rows);
  return kQueryFailed;
}

namespace {
int MultiValueRow(void* context, StatementRow& row) {
  auto* rows = static_cast<ContactRows*>(context);
  auto it = rows->byDocid.find(row.Int64(0));
  std::string value = row.Utf8(2);
  if (it == rows->byDocid.end() || value.empty()) return 0;
  switch (row.Int32(1)) {
    case 3:
      it->second->phones.push_back(std::move(value));
      break;
    case 4:
      it->second->emails.push_back(std::move(value));
      break;
    default:
      it->second->urls.push_back(std::move(value));
      break;
  }
  return 0;
}
}  // namespace

void ReadMultiValues(ReadOnlyDatabase& db, ContactRows& rows) {
  if (rows.byDocid.empty()) return;
  // Without the value table the search table's texts are all there is; no damage.
  if (db.Each(kMultiValueStatement, MultiValueRow, &rows)) db.ForgetStatementError();
}

DatabaseIssue AddressBookIssue(const ReadOnlyDatabase& db) {
  if (db.Issue().kind == DatabaseIssue::Kind::kMissing) return {};
  return db.Issue();
}

Result LoadNameLookup(const DatabaseFile& utf8Path, std::vector<NamedPhone>& rows) {
  ReadOnlyDatabase db;
  const int rc = db.Open(utf8Path);
  if (rc != 0) return rc;
  ContactRows sink;
  sink.mode = ContactRowMode::kPhoneRequiredName;
  const Result result = RunAddressBookStatements(db, sink);
  rows = std::move(sink.rows);
  return result;
}

namespace {

std::vector<std::string> ColumnsOf(ReadOnlyDatabase& db, std::string_view table) {
  std::vector<std::string> columns = DeclaredColumns(db, table);
  db.ForgetStatementError();
  return columns;
}

// The text of the first of `names` that the table has.
std::string TextOfFirst(const DeletedRows& carved, const GenericRow& row,
                        std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (const int column = carved.Column(name); column >= 0) return DeletedRows::Text(row, column);
  return {};
}

bool Sound(const std::string& text) {
  return text.find("\xEF\xBF\xBD") == std::string::npos;
}

using PersonKey = std::tuple<std::string, std::string, std::string>;

}  // namespace

void ContactReader::AddDeletedContacts(const DatabaseFile& path,
                                       std::list<ContactRecord>& contacts) {
  std::vector<std::string> searchColumns, personColumns, valueColumns;
  {
    ReadOnlyDatabase db;
    if (db.Open(path) != 0) return;
    searchColumns = ColumnsOf(db, "ABPersonFullTextSearch_content");
    personColumns = ColumnsOf(db, "ABPerson");
    valueColumns = ColumnsOf(db, "ABMultiValue");
  }
  // A deleted person whose names a live one has is taken for an old copy of that one:
  // neither table keeps an identifier that survives the carving.
  std::set<PersonKey> shown;
  for (const ContactRecord& c : contacts) shown.emplace(c.first, c.last, c.organization);
  std::vector<ContactRecord> found;
  auto keep = [&](ContactRecord&& c) {
    if (c.first.empty() && c.last.empty() && c.organization.empty()) return;
    if (!Sound(c.first) || !Sound(c.last) || !Sound(c.organization)) return;
    if (!shown.emplace(c.first, c.last, c.organization).second) return;
    c.deleted = 1;
    c.name = PersonName(c.first, c.last, c.organization);
    found.push_back(std::move(c));
  };
  // The search table's rows, which the live list is read from: names and the texts of
  // numbers, addresses and web pages in one row.
  if (!searchColumns.empty()) {
    DeletedRows carved;
    ReadDeletedRows(path, "ABPersonFullTextSearch_content", searchColumns, carved);
    for (const GenericRow& row : carved.rows) {
      ContactRecord c;
      c.first = TextOfFirst(carved, row, {"c0First"});
      c.last = TextOfFirst(carved, row, {"c1Last"});
      c.organization = TextOfFirst(carved, row, {"c6Organization"});
      c.phone = TextOfFirst(carved, row, {"c16Phone", "c15Phone"});
      c.email = TextOfFirst(carved, row, {"c17Email", "c16Email"});
      c.url = TextOfFirst(carved, row, {"c20URL", "c19URL"});
      keep(std::move(c));
    }
  }
  // The person table's rows: names, and the numbers, e-mail and web addresses of the
  // deleted ABMultiValue rows that point at the person's row id. A row carved from free
  // space has lost its row id with its cell's head (the id is no column of the record):
  // only a whole cell (of a freed page, or an older page image) keeps it. Values are
  // never matched to a person by anything else.
  if (!personColumns.empty()) {
    DeletedRows carved;
    carved.columns = personColumns;
    // A person's guid is its own: a reading holding a live one's is an old copy.
    ReadDeletedRows(path, "ABPerson", personColumns, carved,
                    carved.Column("guid") >= 0 ? "guid" : "");
    const int first = carved.Column("First"), last = carved.Column("Last"),
              organization = carved.Column("Organization");
    std::map<std::int64_t, ContactRecord> valuesOf;  // by person row id
    const bool anyId = std::any_of(carved.rows.begin(), carved.rows.end(),
                                   [](const GenericRow& row) { return row.row_id > 0; });
    if (anyId && !valueColumns.empty()) {
      DeletedRows values;
      values.columns = valueColumns;
      // As for persons: a value's guid is its own (an old copy of a live value, or a
      // second reading of one deleted value, is listed once or not at all).
      ReadDeletedRows(path, "ABMultiValue", valueColumns, values,
                      values.Column("guid") >= 0 ? "guid" : "");
      const int record = values.Column("record_id"), property = values.Column("property"),
                value = values.Column("value");
      for (const GenericRow& row : values.rows) {
        std::int64_t person = 0, kind = 0;
        if (!DeletedRows::Integer(row, record, person) || person <= 0 ||
            !DeletedRows::Integer(row, property, kind))
          continue;
        const std::string text = DeletedRows::TextOrBlob(row, value);
        if (text.empty() || !Sound(text)) continue;
        ContactRecord& c = valuesOf[person];
        if (kind == 3) c.phones.push_back(text);
        if (kind == 4) c.emails.push_back(text);
        if (kind == 22) c.urls.push_back(text);
      }
    }
    for (const GenericRow& row : carved.rows) {
      ContactRecord c;
      c.first = DeletedRows::Text(row, first);
      c.last = DeletedRows::Text(row, last);
      c.organization = DeletedRows::Text(row, organization);
      if (const auto v = valuesOf.find(row.row_id); row.row_id > 0 && v != valuesOf.end()) {
        c.phones = v->second.phones;
        c.emails = v->second.emails;
        c.urls = v->second.urls;
      }
      keep(std::move(c));
    }
  }
  // After the live contacts, ordered as they are: by name without regard to case.
  std::stable_sort(found.begin(), found.end(), [](const ContactRecord& a, const ContactRecord& b) {
    return CompareNoCase(a.name, b.name) < 0;
  });
  for (ContactRecord& c : found) contacts.push_back(std::move(c));
}

Result ContactReader::Read(const DatabaseFile& addressBookPath,
                           std::list<ContactRecord>& contacts) {
  ReadOnlyDatabase db;
  const int rc = db.Open(addressBookPath);
  problem_ = db.Issue();
  if (rc != 0) return rc;
  ContactRows sink;
  sink.mode = ContactRowMode::kContacts;
  const Result result = RunAddressBookStatements(db, sink);
  problem_ = db.Issue();
  ReadMultiValues(db, sink);
  std::list<ContactRecord> ordered;
  sink.order.SpliceSorted(
      sink.listed, [](const ContactRecord& c) -> const std::string& { return c.name; },
      [&](std::int32_t) -> std::list<ContactRecord>& { return ordered; },
      [](const ContactRecord&) {});
  contacts.swap(ordered);
  AddDeletedContacts(addressBookPath, contacts);
  return result;
}

}  // namespace bv

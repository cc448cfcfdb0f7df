#include "records/contact_reader.h"

#include <iterator>

#include "records/ordering.h"
#include "common/text.h"

namespace bv {

namespace {
template <typename Row>
void AddContact(ContactRows& sink, const Row& row) {
  // Persons without a phone text are never kept: nothing else to convert for them.
  std::string phone = row.Utf8(3);
  if (phone.empty()) return;
  const bool listed = sink.mode == ContactRowMode::kContacts;
  ContactRecord& record =
      listed ? *sink.listed.emplace(sink.listed.end()) : sink.rows.emplace_back();
  record.phone = std::move(phone);
  record.name = row.Utf8(0);
  if (const char* last = row.Text(1); last != nullptr && *last != '\0') record.name += row.Utf8(1);
  record.organization = row.Utf8(2);
  record.email = row.Utf8(4);
  record.url = row.Utf8(5);
  if (listed) {
    if (record.name.empty()) record.name = "No Name";
    sink.order.Add(std::prev(sink.listed.end()), record.name);
  }
}
}  // namespace

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

DatabaseIssue AddressBookIssue(const ReadOnlyDatabase& db) {
  if (db.Issue().kind == DatabaseIssue::Kind::kMissing) return {};
  return db.Issue();
}

Result LoadNameLookup(const std::string& utf8Path, std::vector<ContactRecord>& rows) {
  ReadOnlyDatabase db;
  const int rc = db.Open(utf8Path);
  if (rc != 0) return rc;
  ContactRows sink;
  sink.mode = ContactRowMode::kPhoneRequiredName;
  const Result result = RunAddressBookStatements(db, sink);
  rows = std::move(sink.rows);
  return result;
}

Result ContactReader::Read(const std::string& addressBookPath, std::list<ContactRecord>& contacts) {
  ReadOnlyDatabase db;
  const int rc = db.Open(addressBookPath);
  problem_ = db.Issue();
  if (rc != 0) return rc;
  ContactRows sink;
  sink.mode = ContactRowMode::kContacts;
  const Result result = RunAddressBookStatements(db, sink);
  problem_ = db.Issue();
  std::list<ContactRecord> ordered;
  sink.order.SpliceSorted(
      sink.listed, [](const ContactRecord& c) -> const std::string& { return c.name; },
      [&](std::int32_t) -> std::list<ContactRecord>& { return ordered; },
      [](const ContactRecord&) {});
  contacts.swap(ordered);
  return result;
}

}  // namespace bv

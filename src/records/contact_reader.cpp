#include "records/contact_reader.h"

#include "records/ordering.h"
#include "common/text.h"

namespace bv {

namespace {
const char* Column(int columns, char** values, int index) {
  return index < columns && values != nullptr ? values[index] : nullptr;
}
}  // namespace

int ContactRow(void* context, int columns, char** values, char** /*names*/) {
  auto* sink = static_cast<ContactRows*>(context);
  ContactRecord record;
  record.name = Utf8ToWide(Column(columns, values, 0));
  record.name += Utf8ToWide(Column(columns, values, 1));
  record.organization = Utf8ToWide(Column(columns, values, 2));
  record.phone = Utf8ToWide(Column(columns, values, 3));
  record.email = Utf8ToWide(Column(columns, values, 4));
  record.url = Utf8ToWide(Column(columns, values, 5));
  if (record.phone.empty()) return 0;
  if (sink->mode == ContactRowMode::kContacts && record.name.empty()) record.name = L"No Name";
  sink->rows.push_back(std::move(record));
  return 0;
}

Result RunAddressBookStatements(ReadOnlyDatabase& db, ContactRows& rows) {
  if (!db.Exec(kAddressBookStatementNew, ContactRow, &rows)) return kSuccess;
  db.Exec(kAddressBookStatementOld, ContactRow, &rows);
  return kQueryFailed;
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
  if (rc != 0) return rc;
  ContactRows sink;
  sink.mode = ContactRowMode::kContacts;
  const Result result = RunAddressBookStatements(db, sink);
  OrderByText(sink.rows, [](const ContactRecord& c) -> const std::wstring& { return c.name; });
  contacts.assign(std::make_move_iterator(sink.rows.begin()),
                  std::make_move_iterator(sink.rows.end()));
  return result;
}

}  // namespace bv

#include "records/call_history_reader.h"

#include "records/ordering.h"
#include "common/text.h"
#include "records/contact_reader.h"
#include "records/name_lookup.h"
#include "records/readonly_db.h"

namespace bv {

namespace {
const char* Column(int columns, char** values, int index) {
  return index < columns && values != nullptr ? values[index] : nullptr;
}
// Numbers of four characters or fewer (short codes, voicemail) never get a name.
constexpr std::size_t kShortestNamedAddress = 5;
}  // namespace

int CallHistoryReader::CallRow(void* context, int columns, char** values, char** /*names*/) {
  auto* reader = static_cast<CallHistoryReader*>(context);
  CallRecord record;
  record.answered = ParseInt32(Column(columns, values, 0));
  record.duration = ParseInt32(Column(columns, values, 1));  // "65.7" gives 65
  record.address = Utf8ToWide(Column(columns, values, 2));
  record.date = Utf8ToWide(Column(columns, values, 3));
  if (record.address.empty()) return 0;
  reader->rows_.push_back(std::move(record));
  return 0;
}

Result CallHistoryReader::Read(const std::string& callDbPath, const std::string& addressBookPath,
                               std::list<CallRecord>& calls) {
  Result result = kSuccess;
  bool replaced = false;
  {
    ReadOnlyDatabase callDb;
    const int rc = callDb.Open(callDbPath);
    if (rc != 0) {
      result = rc;
    } else {
      callDb.Exec(kCallStatement, CallRow, this);  // an error here only means no calls
      replaced = true;
      ReadOnlyDatabase addressBook;
      const int abRc = addressBook.Open(addressBookPath);
      if (abRc != 0) {
        result = abRc;
      } else {
        ContactRows sink;
        sink.mode = ContactRowMode::kPhoneRequiredName;
        result = RunAddressBookStatements(addressBook, sink);
        contacts_ = std::move(sink.rows);
      }
    }
  }
  // Without a call database the caller's calls are named and ordered again.
  if (!replaced)
    rows_.assign(std::make_move_iterator(calls.begin()), std::make_move_iterator(calls.end()));

  ContactNameLookup names(contacts_);
  for (CallRecord& call : rows_) {
    call.name.clear();
    if (call.address.size() >= kShortestNamedAddress) call.name = names.NameFor(call.address);
  }
  OrderByText(rows_, [](const CallRecord& c) -> const std::wstring& { return c.date; });
  calls.assign(std::make_move_iterator(rows_.begin()), std::make_move_iterator(rows_.end()));
  rows_.clear();
  contacts_.clear();
  return result;
}

}  // namespace bv

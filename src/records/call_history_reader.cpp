#include "records/call_history_reader.h"

#include "records/ordering.h"
#include "common/text.h"
#include "records/contact_reader.h"
#include "records/name_lookup.h"
#include "records/readonly_db.h"

namespace bv {

namespace {
// Numbers of four characters or fewer (short codes, voicemail) never get a name.
constexpr std::size_t kShortestNamedAddress = 5;
}  // namespace

template <typename Row>
void CallHistoryReader::AddCall(const Row& row) {
  // Calls without an address are not listed: nothing else to convert for them.
  std::string address = row.Utf8(2);
  if (address.empty()) return;
  const auto node = rows_.emplace(rows_.end());
  CallRecord& record = *node;
  record.address = std::move(address);
  record.answered = row.Int32(0);
  record.duration = row.Int32(1);  // 65.7 gives 65
  record.date = row.Utf8(3);
  order_.Add(node, record.date);
}

int CallHistoryReader::CallRow(void* context, int columns, char** values, char** /*names*/) {
  static_cast<CallHistoryReader*>(context)->AddCall(ExecRow(columns, values));
  return 0;
}

int CallHistoryReader::CallRow(void* context, StatementRow& row) {
  static_cast<CallHistoryReader*>(context)->AddCall(row);
  return 0;
}

Result CallHistoryReader::Read(const DatabaseFile& callDbPath, const DatabaseFile& addressBookPath,
                               std::list<CallRecord>& calls) {
  Result result = kSuccess;
  bool replaced = false;
  problem_ = {};
  namesProblem_ = {};
  {
    ReadOnlyDatabase callDb;
    const int rc = callDb.Open(callDbPath);
    if (rc != 0) {
      result = rc;
      problem_ = callDb.Issue();
    } else {
      callDb.Each(kCallStatement, CallRow, this);  // not in the result; told by Problem()
      problem_ = callDb.Issue();
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
      namesProblem_ = AddressBookIssue(addressBook);
    }
  }
  // Without a call database the caller's calls are named and ordered again.
  if (!replaced) {
    rows_.splice(rows_.end(), calls);
    for (auto it = rows_.begin(); it != rows_.end(); ++it) order_.Add(it, it->date);
  }

  // Each call is named as it moves into the caller's list, oldest first.
  ContactNameLookup names(contacts_);
  std::list<CallRecord> ordered;
  order_.SpliceSorted(
      rows_, [](const CallRecord& c) -> const std::string& { return c.date; },
      [&](std::int32_t) -> std::list<CallRecord>& { return ordered; },
      [&](CallRecord& call) {
        call.name.clear();
        if (call.address.size() >= kShortestNamedAddress &&
            Utf8Length(call.address) >= kShortestNamedAddress)
          call.name = names.NameFor(call.address);
      });
  calls.swap(ordered);
  rows_.clear();
  contacts_.clear();
  return result;
}

}  // namespace bv

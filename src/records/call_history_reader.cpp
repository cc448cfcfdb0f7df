#include "records/call_history_reader.h"

#include <algorithm>
#include <string_view>
#include <tuple>
#include <vector>

#include "records/ordering.h"
#include "common/text.h"
#include "records/contact_reader.h"
#include "records/date_text.h"
#include "records/deleted_rows.h"
#include "records/live_keys.h"
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

std::vector<CallRecord> CallHistoryReader::CarveDeletedCalls(const DatabaseFile& file) {
  std::vector<CallRecord> found;
  if (callColumns_.empty()) return found;
  const bool older = callTable_ == "call";
  DeletedRows carved;
  // A file the raw reader cannot read leaves the live calls as they are.
  ReadDeletedRows(file, callTable_, callColumns_, carved, older ? "" : "ZUNIQUE_ID", !older);
  const int addressColumn = carved.Column(older ? "address" : "ZADDRESS");
  const int dateColumn = carved.Column(older ? "date" : "ZDATE");
  const int durationColumn = carved.Column(older ? "duration" : "ZDURATION");
  const int answeredColumn = carved.Column(older ? "answered" : "ZANSWERED");
  // Live calls, for the older table whose rows have no identifier of their own.
  const auto keyOf = [](const CallRecord& c) {
    return std::tuple<std::string_view, std::string_view, std::int32_t>(c.address, c.date,
                                                                        c.duration);
  };
  LiveKeys<CallRecord, decltype(keyOf)> live(keyOf);
  live.Reserve(rows_.size());
  for (const CallRecord& c : rows_) live.Add(c);
  for (const GenericRow& row : carved.rows) {
    CallRecord call;
    call.deleted = 1;
    call.address = DeletedRows::TextOrBlob(row, addressColumn);
    if (call.address.empty() || call.address.find("\xEF\xBF\xBD") != std::string::npos) continue;
    double when = 0, duration = 0;
    if (!DeletedRows::Number(row, dateColumn, when)) continue;
    call.date = PlausibleUtcDate(older ? when : when + static_cast<double>(kAppleEpochOffset));
    if (call.date.empty()) continue;
    if (DeletedRows::Number(row, durationColumn, duration)) {
      // A call of more than a year is a reading of someone else's bytes.
      if (duration < 0 || duration > 366.0 * 86400.0) continue;
      call.duration = static_cast<std::int32_t>(duration);
    }
    std::int64_t answered = 0;
    if (DeletedRows::Integer(row, answeredColumn, answered)) call.answered = answered != 0 ? 1 : 0;
    if (live.Contains({call.address, call.date, call.duration})) continue;
    found.push_back(std::move(call));
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const CallRecord& a, const CallRecord& b) { return a.date < b.date; });
  return found;
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
  std::vector<CallRecord> deleted;  // after the live calls, named as they are
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
      callTable_ = "ZCALLRECORD";
      callColumns_ = DeclaredColumns(callDb, callTable_);
      if (callColumns_.empty()) {
        callTable_ = "call";  // the database of iOS 7 and before
        callColumns_ = DeclaredColumns(callDb, callTable_);
      }
      replaced = true;
      callDb.Close();
      deleted = CarveDeletedCalls(callDbPath);
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
  const auto name = [&](CallRecord& call) {
    call.name.clear();
    if (call.address.size() >= kShortestNamedAddress &&
        Utf8Length(call.address) >= kShortestNamedAddress)
      call.name = names.NameFor(call.address);
  };
  std::list<CallRecord> ordered;
  order_.SpliceSorted(
      rows_, [](const CallRecord& c) -> std::string_view { return c.date; },
      [&](std::int32_t) -> std::list<CallRecord>& { return ordered; }, name);
  calls.swap(ordered);
  for (CallRecord& call : deleted) {
    name(call);
    calls.push_back(std::move(call));
  }
  rows_.clear();
  callColumns_.clear();
  contacts_.clear();
  return result;
}

}  // namespace bv

#include "records/message_reader.h"

#include <cstdint>

#include "common/text.h"
#include "records/contact_reader.h"
#include "records/int_slots.h"
#include "records/name_lookup.h"
#include "records/ordering.h"
#include "records/readonly_db.h"

namespace bv {

template <typename Row>
void MessageReader::AddMessage(const Row& row) {
  // Messages without text (attachments only) are not listed: nothing else to convert.
  std::string text = row.Utf8(0);
  if (text.empty()) return;
  const auto node = messages_.emplace(messages_.end());
  MessageRecord& record = *node;
  record.text = std::move(text);
  record.isFromMe = row.Int32(1);
  record.rowId = row.Int32(3);
  record.handleId = row.Int32(4);
  record.sender = row.Utf8(5);
  // Up to 14 digits the stored date is in seconds (iOS 6 to 10), beyond that in
  // nanoseconds (iOS 11 on), which the first date column already divided.
  if (row.TextLength(6) < 15 && row.Text(7) != nullptr)
    record.date = row.Utf8(7);
  else
    record.date = row.Utf8(2);
  order_.Add(node, record.date, record.handleId);
  handles_.push_back(record.handleId);
}

int MessageReader::MessageRow(void* context, int columns, char** values, char** /*names*/) {
  static_cast<MessageReader*>(context)->AddMessage(ExecRow(columns, values));
  return 0;
}

int MessageReader::MessageRow(void* context, StatementRow& row) {
  static_cast<MessageReader*>(context)->AddMessage(row);
  return 0;
}

Result MessageReader::Read(const std::string& messageDbPath, const std::string& addressBookPath,
                           ConversationMap& conversations) {
  Result result = kSuccess;
  bool goOn = true;
  bool namesLoaded = false;
  problem_ = {};
  namesProblem_ = {};
  {
    ReadOnlyDatabase messageDb;
    ReadOnlyDatabase addressBook;
    const int rc = messageDb.Open(messageDbPath);
    if (rc != 0) {
      result = rc;
      goOn = false;
    }
    messageDb.CacheWholeFile();
    if (goOn && messageDb.Each(kMessageStatement, MessageRow, this)) {
      result = kQueryFailed;
      goOn = false;
    }
    problem_ = messageDb.Issue();
    if (goOn && progress_.Present()) {
      const std::int32_t answer = progress_.Report(progress_.progress + progress_.step / 5);
      if (answer != 0) {
        result = answer;
        goOn = false;
      }
    }
    if (goOn) {
      const int abRc = addressBook.Open(addressBookPath);
      if (abRc != 0) {
        result = abRc;
      } else {
        ContactRows sink;
        sink.mode = ContactRowMode::kPhoneRequiredName;
        if (RunAddressBookStatements(addressBook, sink) != kSuccess) result = kQueryFailed;
        contacts_ = std::move(sink.rows);
        namesLoaded = true;
        if (progress_.Present()) result = progress_.Report(progress_.progress + progress_.step / 4);
      }
      namesProblem_ = AddressBookIssue(addressBook);
    }
  }  // both connections closed here

  if (goOn) {
    // Each message is named as it moves into its conversation, in date order.
    ContactNameLookup names(contacts_);
    IntSlots<std::list<MessageRecord>*> listOf(handles_);
    // One handle row is one sender text, so its name is looked up once. A handle id
    // that saturated 32 bits may stand for several rows: those are looked up by text.
    IntSlots<const std::string*> nameOf(handles_);
    order_.SpliceSorted(
        messages_, [](const MessageRecord& m) -> const std::string& { return m.date; },
        [&](std::int32_t handleId) -> std::list<MessageRecord>& {
          auto& list = listOf[handleId];
          if (list == nullptr) list = &conversations[handleId];
          return *list;
        },
        [&](MessageRecord& m) {
          if (!namesLoaded) return;
          const bool exact = m.handleId != INT32_MAX && m.handleId != INT32_MIN;
          const std::string* name = exact ? nameOf[m.handleId] : nullptr;
          if (name == nullptr) {
            name = &names.NameFor(m.sender);
            if (exact) nameOf[m.handleId] = name;
          }
          m.name = *name;
        });
  }

  if (progress_.Present()) result = progress_.Report(progress_.progress + progress_.step);
  messages_.clear();
  order_ = {};
  handles_.clear();
  contacts_.clear();
  return result;
}

}  // namespace bv

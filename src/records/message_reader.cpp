#include "records/message_reader.h"

#include "common/text.h"
#include "records/contact_reader.h"
#include "records/int_slots.h"
#include "records/name_lookup.h"
#include "records/ordering.h"
#include "records/readonly_db.h"

namespace bv {

namespace {
const char* Column(int columns, char** values, int index) {
  return index < columns && values != nullptr ? values[index] : nullptr;
}
}  // namespace

int MessageReader::MessageRow(void* context, int columns, char** values, char** /*names*/) {
  auto* reader = static_cast<MessageReader*>(context);
  MessageRecord record;
  record.text = Utf8ToWide(Column(columns, values, 0));
  record.isFromMe = ParseInt32(Column(columns, values, 1));
  record.date = Utf8ToWide(Column(columns, values, 2));
  record.rowId = ParseInt32(Column(columns, values, 3));
  record.handleId = ParseInt32(Column(columns, values, 4));
  record.sender = Utf8ToWide(Column(columns, values, 5));
  // Up to 14 digits the stored date is in seconds (iOS 6 to 10), beyond that in
  // nanoseconds (iOS 11 on), which the first date column already divided.
  const char* raw = Column(columns, values, 6);
  std::size_t rawLength = 0;  // in characters: UTF-8 lead bytes
  for (const char* c = raw; c != nullptr && *c != '\0'; ++c)
    if ((static_cast<unsigned char>(*c) & 0xC0) != 0x80) ++rawLength;
  const char* old = Column(columns, values, 7);
  if (rawLength < 15 && old != nullptr) record.date = Utf8ToWide(old);
  if (record.text.empty()) return 0;
  reader->messages_.push_back(std::move(record));
  return 0;
}

Result MessageReader::Read(const std::string& messageDbPath, const std::string& addressBookPath,
                           ConversationMap& conversations) {
  Result result = kSuccess;
  bool goOn = true;
  std::vector<MessageRecord> working;
  bool namesLoaded = false;
  {
    ReadOnlyDatabase messageDb;
    ReadOnlyDatabase addressBook;
    const int rc = messageDb.Open(messageDbPath);
    if (rc != 0) {
      result = rc;
      goOn = false;
    }
    if (goOn && messageDb.Exec(kMessageStatement, MessageRow, this)) {
      result = kQueryFailed;
      goOn = false;
    }
    if (goOn && progress_.Present()) {
      const std::int32_t answer = progress_.Report(progress_.progress + progress_.step / 5);
      if (answer != 0) {
        result = answer;
        goOn = false;
      }
    }
    if (goOn) {
      working = std::move(messages_);
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
    }
  }  // both connections closed here

  ContactNameLookup names(contacts_);
  for (MessageRecord& m : working) m.name = namesLoaded ? names.NameFor(m.sender) : std::wstring();

  const auto order =
      OrderOf(working, [](const MessageRecord& m) -> const std::wstring& { return m.date; });
  // Lists of a std::map stay where they are: look each handle up in the tree once.
  std::vector<std::int32_t> handles;
  handles.reserve(working.size());
  for (const MessageRecord& m : working) handles.push_back(m.handleId);
  IntSlots<std::list<MessageRecord>*> listOf(handles);
  for (std::uint32_t i : order) {
    auto& list = listOf[working[i].handleId];
    if (list == nullptr) list = &conversations[working[i].handleId];
    list->push_back(std::move(working[i]));
  }
  working.clear();

  if (progress_.Present()) result = progress_.Report(progress_.progress + progress_.step);
  messages_.clear();
  contacts_.clear();
  return result;
}

}  // namespace bv

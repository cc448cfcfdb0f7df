#pragma once
// The records that the database readers produce and the scan, preview and export use.
// Every record begins with `deleted`: 0 for a live row, non-zero for one found in
// deleted space.
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/inline_text.h"
#include "common/shared_text.h"
#include "rawsqlite/chat_records.h"

namespace bv {

// The chat a message belongs to, shared by all messages of that chat. A chat with one
// member is that member's conversation (keyed by the member's handle id, as messages in
// no chat are keyed by their own handle); any other chat is one conversation of its
// own, under a key that no handle uses.
struct MessageChatInfo {
  std::int64_t chatId = 0;           // chat.ROWID
  std::int32_t key = 0;              // the conversation's key in the ConversationMap
  bool isGroup = false;              // two or more members
  std::string label;                 // the chat's display name, else its members' names joined ", "
  std::vector<std::string> members;  // the members' handle texts, by handle id
  std::vector<std::string> memberNames;  // their address-book names (empty: none matched)
};

struct MessageRecord {
  std::int32_t deleted = 0;
  std::int32_t isFromMe = 0;
  std::int32_t rowId = 0;
  std::int32_t handleId = 0;
  InlineText date;    // YYYY-MM-DD HH:MM:SS, UTC
  SharedText sender;  // handle.id: phone number or e-mail address (shared by its messages)
  SharedText name;    // address-book name, empty when none matched (shared by its messages)
  InlineText text;    // a short text is held in place
  SharedText extra;   // empty for nearly every message: no bytes of its own then
  // The message's chat; null for a message in no chat (or from a database without the
  // chat tables), whose conversation is its handle's.
  std::shared_ptr<const MessageChatInfo> chat;
};

// Conversation key (ascending) to the messages of that conversation in ascending date
// order. The key is the handle id of a one-to-one conversation; a chat of any other
// size has a key of its own (MessageChatInfo::key).
using ConversationMap = std::map<std::int32_t, std::list<MessageRecord>>;

struct ContactRecord {
  std::int32_t deleted = 0;
  std::string email;
  std::string address;
  std::string extra;
  std::string url;
  std::string phone;
  std::string organization;
  std::string name;   // as the phone shows it (PersonName)
  std::string first;  // the parts it was made of, as stored
  std::string last;
  // The person's numbers, e-mail and web addresses one by one, as the address book's
  // value table holds them (the texts above are the search table's, with generated
  // variants of each number); empty where that table has none.
  std::vector<std::string> phones;
  std::vector<std::string> emails;
  std::vector<std::string> urls;
};

// A person of the address book as the name lookup of messages and calls needs it: the
// search table's phone text and the name the phone shows.
struct NamedPhone {
  std::string phone;
  std::string name;
};

struct CallRecord {
  std::int32_t deleted = 0;
  std::int32_t answered = 0;
  std::int32_t duration = 0;  // whole seconds
  InlineText date;            // YYYY-MM-DD HH:MM:SS, UTC
  std::string address;
  std::string name;
};

struct NoteRecord {
  std::int32_t deleted = 0;
  std::int32_t reserved = 0;
  InlineText date;
  std::string title;
  std::string body;
};

// What every message of one WhatsApp chat shows of its chat. The reader makes one per
// chat session and every message of the chat points to it, instead of each message
// carrying its own copies of the member lists.
struct WhatsAppChatInfo {
  std::string title;    // the members' names, comma-separated (a group), else the partner's
  std::string jids;     // the members' JIDs, comma-separated (a group), else the contact's
  std::string partner;  // the session's partner name
};

struct WhatsAppMessageRecord {
  std::int32_t deleted = 0;
  std::int32_t isFromMe = 0;
  std::int32_t messageId = 0;
  std::int32_t sessionId = 0;
  InlineText date;
  SharedText senderName;  // shared by the messages of one sender
  std::string text;
  std::string pushName;
  // Shared by the messages of one chat; null for a message of no known session, whose
  // chat texts are empty.
  std::shared_ptr<const WhatsAppChatInfo> chat;
  std::string extra;

  const std::string& chatTitle() const { return chat ? chat->title : Empty(); }
  const std::string& chatJids() const { return chat ? chat->jids : Empty(); }
  const std::string& chatPartner() const { return chat ? chat->partner : Empty(); }

 private:
  static const std::string& Empty() {
    static const std::string empty;
    return empty;
  }
};

// Session keys compare as unsigned 32-bit values.
struct WhatsAppSessionLess {
  bool operator()(std::int32_t a, std::int32_t b) const {
    return static_cast<std::uint32_t>(a) < static_cast<std::uint32_t>(b);
  }
};
using WhatsAppChatMap =
    std::map<std::int32_t, std::list<WhatsAppMessageRecord>, WhatsAppSessionLess>;

// Account key (ordinal order) to the chats of that account.
using AccountChats = std::map<std::string, ChatMap>;

// How a calendar item's stored seconds are to be read.
enum class ZoneKind : std::int32_t {
  kZoned = 0,     // an instant, shown in the item's own zone (timeZone names it)
  kFloating = 1,  // a wall clock without zone ("_float"), stored as if it were UTC
  kLocal = 2,     // an instant without a usable zone, shown in this computer's zone
};

// A repeating event's rule as stored: frequency 1 daily, 2 weekly, 3 monthly, 4 yearly
// (0: the event does not repeat, or repeats in a way not read here), every `interval`
// periods, ending after `count` occurrences or at `untilSeconds` (since 2001) when set.
struct CalendarRecurrence {
  std::int32_t frequency = 0;
  std::int32_t interval = 1;
  std::int32_t count = 0;
  bool hasUntil = false;
  std::int64_t untilSeconds = 0;
};

// One event of Calendar.sqlitedb. Texts are UTF-8. Times are kept as stored (seconds
// since 2001) beside their texts, so documents can write them in their own forms.
struct CalendarEventRecord {
  std::int32_t deleted = 0;
  std::int32_t allDay = 0;
  ZoneKind zoneKind = ZoneKind::kLocal;
  std::int64_t rowId = 0;
  bool hasStart = false;
  bool hasEnd = false;
  bool hasModified = false;
  std::int64_t startSeconds = 0;     // since 2001-01-01 00:00:00 UTC
  std::int64_t endSeconds = 0;       // as stored; all-day ends are read by AllDayEnd
  std::int64_t modifiedSeconds = 0;  // last change, or creation when that is all there is
  std::string calendar;              // title of the item's calendar
  std::string title;
  std::string start;     // "YYYY-MM-DD HH:MM:SS" in the item's zone; "YYYY-MM-DD" all-day
  std::string end;       // the same; an all-day item's last day
  std::string timeZone;  // the zone column as stored ("Europe/Berlin", "_float", "")
  ZoneKind endZoneKind = ZoneKind::kLocal;
  std::string endTimeZone;  // the end's own zone where the layout has one, else timeZone
  std::string location;
  std::string notes;
  std::string url;
  std::string recurrence;  // "Every 2 weeks, 10 times"; empty for a single event
  CalendarRecurrence repeat;
  std::string uid;  // the item's unique identifier as stored; may be empty
};

// One reminder: of a reminders store (iOS 13 on) or a task item of Calendar.sqlitedb.
struct ReminderRecord {
  std::int32_t deleted = 0;  // also set for a reminder the phone marked as deleted
  std::int32_t completed = 0;
  std::int32_t allDay = 0;    // the due date has no time of day
  std::int32_t priority = 0;  // 0 none, 1 (high) to 9 (low), as iCalendar counts
  ZoneKind zoneKind = ZoneKind::kLocal;
  std::int64_t rowId = 0;
  bool hasDue = false;
  bool hasCompletion = false;
  bool hasModified = false;
  std::int64_t dueSeconds = 0;  // since 2001, read as the event times are
  std::int64_t completionSeconds = 0;
  std::int64_t modifiedSeconds = 0;
  std::string list;  // the list (or calendar) it belongs to
  std::string title;
  std::string notes;
  std::string due;             // "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DD"; empty without a due date
  std::string timeZone;        // the due date's zone as stored
  std::string completionDate;  // "YYYY-MM-DD HH:MM:SS" in this computer's zone
  std::string uid;
};

enum class BookmarkKind : std::int32_t {
  kBookmark = 0,
  kFolder = 1,
  kReadingList = 2,  // an item of Safari's Reading List
};

// One bookmark, folder or Reading List item of Safari's Bookmarks.db.
struct BookmarkRecord {
  std::int32_t deleted = 0;  // also set for a row the phone marked as deleted
  BookmarkKind kind = BookmarkKind::kBookmark;
  std::int64_t id = 0;
  std::int64_t parentId = 0;
  std::string title;
  std::string url;                  // empty for a folder
  std::vector<std::string> folder;  // titles of the folders above it, outermost first
};

}  // namespace bv

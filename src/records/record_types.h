#pragma once
// The records that the database readers produce and the scan, preview and export use.
// Every record begins with `deleted`: 0 for a live row, non-zero for one found in
// deleted space.
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

#include "rawsqlite/chat_records.h"

namespace bv {

struct MessageRecord {
  std::int32_t deleted = 0;
  std::int32_t isFromMe = 0;
  std::int32_t rowId = 0;
  std::int32_t handleId = 0;
  std::string date;    // YYYY-MM-DD HH:MM:SS, UTC
  std::string sender;  // handle.id: phone number or e-mail address
  std::string name;    // address-book name, empty when none matched
  std::string text;
  std::string extra;
};

// handleId (ascending) to the messages of that handle in ascending date order.
using ConversationMap = std::map<std::int32_t, std::list<MessageRecord>>;

struct ContactRecord {
  std::int32_t deleted = 0;
  std::string email;
  std::string address;
  std::string extra;
  std::string url;
  std::string phone;
  std::string organization;
  std::string name;
};

struct CallRecord {
  std::int32_t deleted = 0;
  std::int32_t answered = 0;
  std::int32_t duration = 0;  // whole seconds
  std::string date;           // YYYY-MM-DD HH:MM:SS, UTC
  std::string address;
  std::string name;
};

struct NoteRecord {
  std::int32_t deleted = 0;
  std::int32_t reserved = 0;
  std::string date;
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
  std::string date;
  std::string senderName;
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

}  // namespace bv

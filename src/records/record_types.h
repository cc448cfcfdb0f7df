#pragma once
// The records that the database readers produce and the scan, preview and export use.
// Every record begins with `deleted`: 0 for a live row, non-zero for one found in
// deleted space.
#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "rawsqlite/chat_records.h"

namespace bv {

struct MessageRecord {
  std::int32_t deleted = 0;
  std::int32_t isFromMe = 0;
  std::int32_t rowId = 0;
  std::int32_t handleId = 0;
  std::wstring date;    // YYYY-MM-DD HH:MM:SS, UTC
  std::wstring sender;  // handle.id: phone number or e-mail address
  std::wstring name;    // address-book name, empty when none matched
  std::wstring text;
  std::wstring extra;
};

// handleId (ascending) to the messages of that handle in ascending date order.
using ConversationMap = std::map<std::int32_t, std::list<MessageRecord>>;

struct ContactRecord {
  std::int32_t deleted = 0;
  std::wstring email;
  std::wstring address;
  std::wstring extra;
  std::wstring url;
  std::wstring phone;
  std::wstring organization;
  std::wstring name;
};

struct CallRecord {
  std::int32_t deleted = 0;
  std::int32_t answered = 0;
  std::int32_t duration = 0;  // whole seconds
  std::wstring date;          // YYYY-MM-DD HH:MM:SS, UTC
  std::wstring address;
  std::wstring name;
};

struct NoteRecord {
  std::int32_t deleted = 0;
  std::int32_t reserved = 0;
  std::wstring date;
  std::wstring title;
  std::wstring body;
};

struct WhatsAppMessageRecord {
  std::int32_t deleted = 0;
  std::int32_t isFromMe = 0;
  std::int32_t messageId = 0;
  std::int32_t sessionId = 0;
  std::wstring date;
  std::wstring senderName;
  std::wstring text;
  std::wstring pushName;
  std::wstring chatTitle;
  std::wstring chatJids;
  std::wstring chatPartner;
  std::wstring extra;
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
using AccountChats = std::map<std::wstring, ChatMap>;

}  // namespace bv

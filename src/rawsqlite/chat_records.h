#pragma once
// Records produced by the WeChat and QQ store passes.
#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "common/inline_text.h"

namespace bv {

// One chat message. status: 0 live row, 1 deleted (carved or read from a freed page).
struct ChatMessageRecord {
  std::int32_t status = 0;
  std::int32_t is_sender = 0;
  std::int32_t row_id = 0;
  // Held in place: the time always fits, and the passes leave sender and extra empty.
  InlineText time;  // YYYY-MM-DD HH:MM:SS, local time
  InlineText sender;
  std::string text;
  InlineText extra;
  // A deleted row whose text was overwritten from some point on by other bytes: `text`
  // holds what came before the damage. Shown with a mark of its own ("…").
  bool partial = false;
};

// One row of the WeChat "Friend" table.
struct WeChatFriendRecord {
  std::int32_t status = 0;
  std::int32_t type = 0;
  std::string user_name;
  std::string nick_name;
};

// One row of the QQ "tb_c2cTables" table.
struct QQTableRecord {
  std::string peer;
  std::string table_name;
};

// Chat key (WeChat user name, QQ peer number or "Unknown") to its messages.
using ChatMap = std::map<std::string, std::list<ChatMessageRecord>>;

}  // namespace bv

#pragma once
// The JSON form of the WeChat and QQ accounts, shared by `chats --json` and the
// `chatApps` object of `scan --json`.
#include <ostream>
#include <string>

#include "records/record_types.h"

namespace bv::cli {

struct ChatCounts {
  std::size_t live = 0, deleted = 0;
};
ChatCounts CountOf(const std::list<ChatMessageRecord>& messages);
ChatCounts CountOf(const AccountChats& accounts);

// Writes `"accounts": [...]`: per account {"account", "chats": [{"key", "live",
// "deleted", "messages": [...]}]}; every message with status, deleted, partial,
// isSender, rowId, time, sender, text and extra. `indent` is the indentation of the
// line that holds the key; the array's lines go deeper by two spaces per level.
void PutChatAccounts(std::ostream& os, const AccountChats& accounts, const std::string& indent);

}  // namespace bv::cli

#include "cli/chat_json.h"

#include "cli/command.h"

namespace bv::cli {

ChatCounts CountOf(const std::list<ChatMessageRecord>& messages) {
  ChatCounts c;
  for (const ChatMessageRecord& m : messages) (m.status != 0 ? c.deleted : c.live)++;
  return c;
}

ChatCounts CountOf(const AccountChats& accounts) {
  ChatCounts total;
  for (const auto& [account, chats] : accounts) {
    for (const auto& [key, messages] : chats) {
      const ChatCounts c = CountOf(messages);
      total.live += c.live;
      total.deleted += c.deleted;
    }
  }
  return total;
}

void PutChatAccounts(std::ostream& os, const AccountChats& accounts, const std::string& indent) {
  const std::string in1 = indent + "  ", in2 = indent + "    ", in3 = indent + "      ";
  os << "\"accounts\": [";
  bool firstAccount = true;
  for (const auto& [account, chats] : accounts) {
    os << (firstAccount ? "\n" : ",\n") << in1 << "{\"account\": " << JsonString(account)
       << ", \"chats\": [";
    firstAccount = false;
    bool firstChat = true;
    for (const auto& [key, messages] : chats) {
      const ChatCounts c = CountOf(messages);
      os << (firstChat ? "\n" : ",\n") << in2 << "{\"key\": " << JsonString(key)
         << ", \"live\": " << c.live << ", \"deleted\": " << c.deleted << ", \"messages\": [";
      firstChat = false;
      bool firstMessage = true;
      for (const ChatMessageRecord& m : messages) {
        os << (firstMessage ? "\n" : ",\n") << in3 << "{\"status\": " << m.status
           << ", \"deleted\": " << (m.status != 0 ? "true" : "false")
           << ", \"partial\": " << (m.partial ? "true" : "false")
           << ", \"isSender\": " << m.is_sender << ", \"rowId\": " << m.row_id
           << ", \"time\": " << JsonString(m.time) << ", \"sender\": " << JsonString(m.sender)
           << ", \"text\": " << JsonString(m.text) << ", \"extra\": " << JsonString(m.extra) << "}";
        firstMessage = false;
      }
      os << (messages.empty() ? "]}" : "\n" + in2 + "]}");
    }
    os << (chats.empty() ? "]}" : "\n" + in1 + "]}");
  }
  os << (accounts.empty() ? "]" : "\n" + indent + "]");
}

}  // namespace bv::cli

#include "records/chat_text.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "common/text.h"
#include "platform/platform.h"

namespace bv {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};

// Text as written by the runtime's text mode: every line feed becomes CR LF.
void AppendText(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
}

Result WriteChatText(const AccountChats& accounts, const std::string& accountKey,
                     const std::string& chatKey, const std::string& outputPath,
                     CopyCallback callback, void* user) {
  const std::filesystem::path path = platform::PathFromUtf8(outputPath);
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    const Result code = errno != 0 ? errno : EIO;
    if (code > 0 && callback != nullptr) callback(user, 100, code, outputPath);
    return code;
  }
  static const char kBom[] = "\xEF\xBB\xBF";
  bool writeError = std::fwrite(kBom, 1, 3, file.get()) != 3;

  Result result = kSuccess;
  const auto account = accounts.find(accountKey);
  const auto* chats = account != accounts.end() ? &account->second : nullptr;
  const auto chat = chats ? chats->find(chatKey) : ChatMap::const_iterator{};
  if (chats && chat != chats->end()) {
    const auto& list = chat->second;
    const std::int64_t total = static_cast<std::int64_t>(list.size());
    std::int64_t written = 0;
    std::string block;
    for (const ChatMessageRecord& m : list) {
      block.clear();
      AppendText(block, m.time);
      block += ' ';
      AppendText(block, m.is_sender != 0 ? std::string_view("Me") : m.sender.view());
      block += ":\r\n    ";
      AppendText(block, m.text);
      // A deleted message whose end was overwritten: the text stops where the damage
      // began, and says so.
      if (m.partial) block += "\xE2\x80\xA6";  // …
      block += "\r\n\r\n";
      if (std::fwrite(block.data(), 1, block.size(), file.get()) != block.size() ||
          std::fflush(file.get()) != 0)
        writeError = true;
      ++written;
      if (callback != nullptr) {
        result =
            callback(user, static_cast<std::int32_t>(written * 100 / total), result, outputPath);
        if (result != 0) break;
      }
    }
  }
  std::FILE* raw = file.release();
  if (std::fclose(raw) != 0) writeError = true;
  if (writeError && result == kSuccess) result = errno != 0 ? errno : EIO;
  if (result > 0 && callback != nullptr) callback(user, 100, result, outputPath);
  return result;
}

}  // namespace

Result WriteWeChatChatText(const AccountChats& accounts, const std::string& accountKey,
                           const std::string& chatKey, const std::string& outputPath,
                           CopyCallback callback, void* user) {
  return WriteChatText(accounts, accountKey, chatKey, outputPath, callback, user);
}

Result WriteQQChatText(const AccountChats& accounts, const std::string& accountKey,
                       const std::string& chatKey, const std::string& outputPath,
                       CopyCallback callback, void* user) {
  return WriteChatText(accounts, accountKey, chatKey, outputPath, callback, user);
}

}  // namespace bv

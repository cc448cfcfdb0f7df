#include "catalogue/accounts.h"

#include <string>

#include "catalogue/manifest.h"
#include "common/text.h"
#include "platform/platform.h"
#include "rawsqlite/chat_passes.h"

namespace bv {

namespace {

enum class Store { WeChat, QQ };

std::int32_t ReadAccounts(BackupCatalog& catalog, AccountChats& chats, Store store) {
  AccountChats& own = store == Store::WeChat ? catalog.weChatChats : catalog.qqChats;
  own.clear();
  const char* marker = store == Store::WeChat ? "/MM.sqlite" : "/QQ.db";
  std::int32_t result = 0;
  std::int32_t handled = 0;
  std::int32_t counter = 0;
  for (const ManifestEntry& entry : catalog.manifest) {
    const std::size_t at = entry.key.find(marker);
    if (at == std::string::npos) continue;
    std::string account;
    if (store == Store::WeChat) {
      account = "User" + std::to_string(++counter);
    } else {
      const std::size_t slash = at == 0 ? std::string::npos : entry.key.rfind('/', at - 1);
      const std::size_t from = slash == std::string::npos ? 0 : slash + 1;
      account = ValidUtf8(std::string_view(entry.key).substr(from, at - from));
    }
    const std::string path = StoredFilePath(catalog, entry.fileId);
    ChatMap working;
    result = store == Store::WeChat ? WeChatPass(path, working) : QQPass(path, working);
    // Filed whatever the pass returned: an unreadable store is an account without chats.
    own[account] = std::move(working);
    ++handled;
    if (catalog.progressCallback != nullptr) {
      result = catalog.Report(catalog.progress + handled);
      if (result != 0) break;
    }
  }
  catalog.Advance(catalog.progressStep);
  if (&chats != &own) chats = own;
  return result;
}

}  // namespace

std::int32_t ReadWeChat(BackupCatalog& catalog, AccountChats& chats) {
  return ReadAccounts(catalog, chats, Store::WeChat);
}

std::int32_t ReadQQ(BackupCatalog& catalog, AccountChats& chats) {
  return ReadAccounts(catalog, chats, Store::QQ);
}

}  // namespace bv

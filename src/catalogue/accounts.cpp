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
  std::string& problem = catalog.readProblems[static_cast<std::size_t>(
      store == Store::WeChat ? Category::WeChat : Category::QQ)];
  problem.clear();
  std::int32_t result = 0;
  std::int32_t handled = 0;
  std::int32_t counter = 0;
  for (const ManifestEntry& entry : catalog.manifest) {
    const std::size_t at = entry.key.find(marker);
    if (at == std::string::npos) continue;
    // SQLite's side files of a store ("MM.sqlite-wal") are no account of their own.
    if (entry.key.ends_with("-wal") || entry.key.ends_with("-shm") ||
        entry.key.ends_with("-journal"))
      continue;
    std::string account;
    if (store == Store::WeChat) {
      account = "User" + std::to_string(++counter);
    } else {
      const std::size_t slash = at == 0 ? std::string::npos : entry.key.rfind('/', at - 1);
      const std::size_t from = slash == std::string::npos ? 0 : slash + 1;
      account = ValidUtf8(std::string_view(entry.key).substr(from, at - from));
    }
    const std::string path = StoredFilePath(catalog, entry.fileId);
    // The store's log is a stored file of its own, as for the databases SQLite reads.
    const std::string log = StoredLogPath(catalog, entry.fileId);
    ChatMap working;
    std::string logProblem;
    result = store == Store::WeChat ? WeChatPass(path, log, working, &logProblem)
                                    : QQPass(path, log, working, &logProblem);
    if (!logProblem.empty()) {
      if (!problem.empty()) problem += "; ";
      problem += std::string(store == Store::WeChat ? "the WeChat store of " : "the QQ store of ") +
                 account + "'s write-ahead log " + logProblem;
    }
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

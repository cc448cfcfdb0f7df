#pragma once
// The WeChat and QQ accounts of a backup: every chat store named in the manifest is
// read by its store pass and filed under an account key in the catalogue. Runs on the
// scan thread with the catalogue it is given.
#include <cstdint>

#include "catalogue/backup_catalog.h"
#include "records/record_types.h"

namespace bv {

// Every manifest entry whose path contains "/MM.sqlite" is an account "User1",
// "User2", ... in manifest order; "/QQ.db" entries are keyed by the folder name just
// before "/QQ.db". The catalogue's map is emptied first and copied into `chats` when
// that is another map. Result: the progress answer that stopped the walk, else the
// last pass's result (0 without databases).
std::int32_t ReadWeChat(BackupCatalog& catalog, AccountChats& chats);
std::int32_t ReadQQ(BackupCatalog& catalog, AccountChats& chats);

}  // namespace bv

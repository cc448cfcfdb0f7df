#pragma once
// Writes one WeChat or QQ chat of one account as a text file for export. Runs on the
// export worker; reads the account map it is given and nothing else.
#include <string>

#include "common/result_codes.h"
#include "records/progress_sink.h"
#include "records/record_types.h"

namespace bv {

// UTF-8 with a byte-order mark and CR LF line ends. Per message "<time> <sender>:",
// "    <text>" and an empty line; the sender is "Me" for the owner's messages and the
// record's sender text otherwise. Result: 0, the callback's non-zero answer, or the
// platform error code when the file cannot be created or written. An account or chat
// that is not in the map leaves an empty file and returns 0.
Result WriteWeChatChatText(const AccountChats& accounts, const std::string& accountKey,
                           const std::string& chatKey, const std::string& outputPath,
                           CopyCallback callback, void* user);
Result WriteQQChatText(const AccountChats& accounts, const std::string& accountKey,
                       const std::string& chatKey, const std::string& outputPath,
                       CopyCallback callback, void* user);

}  // namespace bv

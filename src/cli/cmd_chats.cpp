// chats BACKUP [--json] [--password-stdin | --password-file F]
// The WeChat and QQ accounts of a backup with every chat and its messages, live
// and recovered from deleted space, without scanning the other categories.
#include <ostream>

#include "catalogue/discovery.h"
#include "cli/backup_args.h"
#include "cli/chat_json.h"
#include "cli/command.h"
#include "common/text.h"
#include "platform/interrupt.h"
#include "scan/data_source_factory.h"

namespace bv::cli {

namespace {

// Ctrl-C and SIGTERM reach the reads (and a running decryption) as a stop.
std::int32_t StopOnInterrupt(void*, std::int32_t) {
  return platform::InterruptRequested() ? kStopped : kSuccess;
}

void PrintJsonApp(std::ostream& os, const char* app, std::int32_t result,
                  const AccountChats& accounts, const std::string& problem) {
  os << "  \"" << app << "\": {\"result\": " << result
     << ", \"error\": " << (problem.empty() ? std::string("null") : JsonString(problem)) << ", ";
  PutChatAccounts(os, accounts, "  ");
  os << "}";
}

void PrintTextApp(std::ostream& os, const char* app, std::int32_t result,
                  const AccountChats& accounts, const std::string& problem) {
  // Read only in part: said before what was read.
  if (!problem.empty()) os << app << " (warning: " << problem << ")\n";
  os << app << ":";
  if (result != kSuccess && accounts.empty()) {
    os << " not read (result " << result << ")\n";
    return;
  }
  if (accounts.empty()) {
    os << " no accounts\n";
    return;
  }
  os << " " << accounts.size() << " account(s)\n";
  for (const auto& [account, chats] : accounts) {
    os << "  account " << account << ": " << chats.size() << " chat(s)\n";
    for (const auto& [key, messages] : chats) {
      const ChatCounts c = CountOf(messages);
      os << "    " << key << ": " << c.live << " live, " << c.deleted << " deleted\n";
      for (const ChatMessageRecord& m : messages) {
        os << "      " << (m.status != 0 ? "[deleted] " : "") << m.time << "  "
           << (m.is_sender != 0 ? std::string("me") : m.sender) << ": " << m.text
           << (m.partial ? "\xE2\x80\xA6" : "") << "\n";
      }
    }
  }
}

class ChatsCommand : public Command {
 public:
  std::string Name() const override { return "chats"; }
  std::string Summary() const override {
    return "Show the WeChat and QQ accounts of a backup with their live and "
           "deleted messages.";
  }
  std::string Usage() const override {
    return "chats BACKUP [--json] [--password-stdin | --password-file F]";
  }
  std::vector<ArgumentHelp> Arguments() const override {
    std::vector<ArgumentHelp> a = {
        {"BACKUP", "the folder of one backup (as 'list' prints it)"},
        {"--json", "print the accounts and their messages as one JSON document"},
    };
    for (ArgumentHelp& p : PasswordArguments()) a.push_back(std::move(p));
    return a;
  }

  int Run(const std::vector<std::string>& args, Streams io) override {
    BackupArgParser backupArgs;
    bool json = false;
    std::string error;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (backupArgs.Take(args, i)) continue;
      if (a == "--json") {
        json = true;
      } else {
        return UsageError(io, "unexpected argument '" + a + "'");
      }
    }
    BackupArgs backup;
    bool usage = false;
    if (!backupArgs.Finish(io.in, backup, error, usage))
      return usage ? UsageError(io, error) : Fail(io, error);
    BackupRecord record;
    if (!ReadBackupRecord(backup, record, error)) return Fail(io, error);

    BackupCatalog catalog;
    InitCatalog(catalog);
    SelectBackup(catalog, record);
    auto source = CreateDataSource(kLocalBackupSource, &catalog);
    if (!source) return Fail(io, "cannot read this backup");
    source->SetProgressCallback(&StopOnInterrupt, nullptr);
    const std::int32_t open = source->OpenBackup(backup.password);
    if (platform::InterruptRequested()) return Cancelled(io, source, catalog);
    if (open != kSuccess) {
      const std::string problem = source->OpenProblem();
      source.reset();
      DestroyCatalog(catalog);
      if (open == kWrongPassword) return Fail(io, "the backup password is wrong");
      return Fail(
          io, "the backup could not be opened" +
                  (problem.empty() ? " (result " + std::to_string(open) + ")" : ": " + problem));
    }
    AccountChats weChat, qq;
    const std::int32_t weChatResult = source->ReadWeChat(weChat);
    const std::int32_t qqResult = platform::InterruptRequested() ? kStopped : source->ReadQQ(qq);
    if (platform::InterruptRequested()) return Cancelled(io, source, catalog);
    const std::string weChatProblem = source->ChatStoreProblem(true);
    const std::string qqProblem = source->ChatStoreProblem(false);
    source.reset();
    DestroyCatalog(catalog);

    if (json) {
      io.out << "{\n  \"backup\": " << JsonString(record.folder) << ",\n";
      PrintJsonApp(io.out, "wechat", weChatResult, weChat, weChatProblem);
      io.out << ",\n";
      PrintJsonApp(io.out, "qq", qqResult, qq, qqProblem);
      io.out << "\n}\n";
    } else {
      PrintTextApp(io.out, "WeChat", weChatResult, weChat, weChatProblem);
      PrintTextApp(io.out, "QQ", qqResult, qq, qqProblem);
    }
    const bool ok =
        (weChatResult == kSuccess || !weChat.empty()) && (qqResult == kSuccess || !qq.empty());
    return ok ? kExitOk : kExitFailed;
  }

 private:
  static int Fail(Streams io, const std::string& what) {
    io.err << "backvault-cli chats: " << what << "\n";
    return kExitFailed;
  }
  int UsageError(Streams io, const std::string& what) const {
    io.err << "backvault-cli chats: " << what << "\nUsage: backvault-cli " << Usage() << "\n";
    return kExitUsage;
  }
  // Nothing is printed of a run that was cut off; the decrypted files go with the source.
  static int Cancelled(Streams io, std::unique_ptr<IPhoneRecoveryParse>& source,
                       BackupCatalog& catalog) {
    source.reset();
    DestroyCatalog(catalog);
    io.err << "backvault-cli chats: cancelled\n";
    return platform::InterruptExitCode();
  }
};

}  // namespace

BV_REGISTER_COMMAND(ChatsCommand)

}  // namespace bv::cli

// recover BACKUP --out DIR [--categories LIST] [--deleted-only] [--heic-jpeg]
//         [--password-stdin | --password-file F]
// Scans a backup as the scan page does, ticks every result (or filters every
// filterable category to its deleted records), and runs the recovery job into
// DIR with the same output tree as the desktop program.
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <mutex>
#include <ostream>
#include <thread>

#include "catalogue/discovery.h"
#include "cli/backup_args.h"
#include "cli/command.h"
#include "cli/scan_outcome.h"
#include "common/text.h"
#include "export/output_folder.h"
#include "export/output_paths.h"
#include "export/recovery_job.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "scan/scan_session.h"

namespace bv::cli {

namespace {

// Prints a one-line progress bar on standard error (only when it is a
// terminal).
class TerminalView : public IRecoveryView {
 public:
  explicit TerminalView(bool show) : show_(show) {}
  void OnDetailLine(const DetailLine&) noexcept override {}
  void OnProgress(const RecoveryProgress& p) noexcept override {
    if (!show_) return;
    const auto now = std::chrono::steady_clock::now();
    // Redrawing for every chunk of a large copy would flood the terminal.
    if (p.percent != 100 && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const int total = p.totalCount > 0 ? p.totalCount : 1;
    const int width = 30;
    const int filled = static_cast<int>(static_cast<long long>(p.doneCount) * width / total);
    std::string bar(static_cast<std::size_t>(filled > width ? width : filled), '#');
    bar.resize(width, '.');
    std::string name = platform::Utf8FromPath(platform::PathFromUtf8(p.current).filename());
    if (Utf8Length(name) > 40) name = name.substr(0, Utf8Offset(name, 37)) + "...";
    std::fprintf(stderr, "\r[%s] %d/%d  %3d%%  %-40s", bar.c_str(), p.doneCount, p.totalCount,
                 p.percent, name.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
  void End() {
    if (drawn_) std::fprintf(stderr, "\n");
  }

 private:
  bool show_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_{};
};

class RecoverCommand : public Command {
 public:
  std::string Name() const override { return "recover"; }
  std::string Summary() const override {
    return "Scan a backup and recover everything found (or only deleted "
           "records) into a folder.";
  }
  std::string Usage() const override {
    return "recover BACKUP --out DIR [--categories LIST] [--deleted-only] [--heic-jpeg] "
           "[--password-stdin | --password-file F]";
  }
  std::vector<ArgumentHelp> Arguments() const override {
    std::vector<ArgumentHelp> a = {
        {"BACKUP", "the folder of one backup (as 'list' prints it); nothing in it is changed"},
        {"--out DIR", "the folder to recover into; it is created when missing"},
        CategoriesArgument(),
        {"--deleted-only", "recover only records found in deleted space"},
        {"--heic-jpeg",
         "also write a JPEG beside each recovered HEIC (or AVIF) picture, for programs that "
         "cannot open those; the HEIC copy stays the original"},
    };
    for (ArgumentHelp& p : PasswordArguments()) a.push_back(std::move(p));
    return a;
  }

  int Run(const std::vector<std::string>& args, Streams io) override {
    BackupArgParser backupArgs;
    std::string out, categories, error;
    bool deletedOnly = false;
    bool heicJpeg = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (backupArgs.Take(args, i)) continue;
      if (a == "--out" && i + 1 < args.size()) {
        out = args[++i];
      } else if (a == "--categories" && i + 1 < args.size()) {
        categories = args[++i];
      } else if (a == "--deleted-only") {
        deletedOnly = true;
      } else if (a == "--heic-jpeg") {
        heicJpeg = true;
      } else {
        return UsageError(io, "unexpected argument '" + a + "'");
      }
    }
    if (!backupArgs.Check(error)) return UsageError(io, error);
    if (out.empty()) return UsageError(io, "no output folder given (--out DIR)");
    CategorySet chosen = AllCategories();
    if (!categories.empty() && !ParseCategoryList(categories, chosen, error))
      return UsageError(io, error);
    // The password is read last: a wrong argument must not have used up standard input.
    BackupArgs backup;
    bool usage = false;
    if (!backupArgs.Finish(io.in, backup, error, usage))
      return usage ? UsageError(io, error) : Fail(io, error);

    BackupRecord record;
    if (!ReadBackupRecord(backup, record, error)) return Fail(io, error);
    // Checked before anything is read or made: recovered files never go into the
    // backup they come from.
    const std::filesystem::path outPath = platform::PathFromUtf8(out);
    if (std::string problem = OutputFolderProblem(platform::PathFromUtf8(backup.folder), outPath);
        !problem.empty()) {
      io.err << "backvault-cli recover: " << problem << "\n";
      return kExitUsage;
    }
    std::error_code ec;
    const std::filesystem::path outAbs = std::filesystem::absolute(outPath, ec);
    const std::string shownOut = platform::Utf8FromPath(ec ? outPath : outAbs);

    // Ctrl-C and SIGTERM (an InterruptScope is around every command) cancel as the
    // window's cancel button does: the item being written is finished or removed, what
    // is written stays.
    BackupCatalog catalog;
    InitCatalog(catalog);
    CScanSession session;
    ScanRequest request;
    request.catalog = &catalog;
    request.backup = record;
    request.chosen = chosen;
    request.password = backup.password;
    if (!session.Start(request)) {
      DestroyCatalog(catalog);
      return Fail(io, "cannot read this backup");
    }
    WaitForScan(session, false);
    auto cancelledEarly = [&] {
      DestroyCatalog(catalog);
      io.out << "Recovery cancelled before anything was written; " << shownOut
             << " was not created or changed.\n";
      return platform::InterruptExitCode();
    };
    if (platform::InterruptRequested()) return cancelledEarly();
    if (const std::string failure = OpenFailure(session); !failure.empty()) {
      DestroyCatalog(catalog);
      return Fail(io, failure);
    }
    const bool warned = PrintCategoryWarnings(session, io.err, "backvault-cli recover: ") > 0;

    if (deletedOnly) {
      for (int i = 0; i < kCategoryCount; ++i)
        if (CStatisticsObj::IsFilterable(static_cast<Category>(i)))
          session.SetDeletedOnly(static_cast<Category>(i), true);
    }
    session.Statistics().RecomputeRoot();

    CRecoverJob job(session.Stores(), session.Statistics(), session.DataSource(),
                    record.displayName, platform::Utf8FromPath(ec ? outPath : outAbs));
    TerminalView view(&io.err == &std::cerr && ::isatty(STDERR_FILENO));
    job.SetView(&view);
    job.SetHeicJpeg(heicJpeg);
    if (Result r = job.LoadTemplates(); r != kSuccess) {
      DestroyCatalog(catalog);
      return Fail(io, "cannot load the document templates from " +
                          platform::Utf8FromPath(DefaultTemplateFolder()) + ": " +
                          platform::ErrorText(r));
    }
    // The output folder is made only now that the backup has opened.
    if (platform::InterruptRequested()) return cancelledEarly();
    {
      OutputFolder root;
      if (Result r = OutputFolder::OpenRoot(outPath, root); r != kSuccess) {
        DestroyCatalog(catalog);
        return Fail(io, "cannot create the output folder '" + out + "': " + platform::ErrorText(r));
      }
    }
    job.Start();
    while (!job.Finished()) {
      if (platform::InterruptRequested()) {
        job.BeginCancel();
        job.ConfirmCancel();
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    job.Wait();
    view.End();
    DestroyCatalog(catalog);

    for (const DetailLine& line : job.Details())
      if (line.error != 0) io.err << "failed: " << line.path << ": " << line.result << "\n";
    const int done = job.DoneCount(), failed = job.FailedCount(), other = job.OtherFailures();
    const bool cancelled = job.CancelRequested();
    io.out << "Recovered " << done - failed << " of " << job.TotalCount() << " item(s) into "
           << shownOut << " (" << failed << " failed";
    if (other > 0) io.out << ", " << other << " other file(s) not written";
    if (cancelled) io.out << ", cancelled";
    io.out << ").\n";
    if (cancelled)
      return platform::InterruptExitCode() != 0 ? platform::InterruptExitCode() : kExitFailed;
    if (failed != 0 || other != 0) return kExitFailed;
    return warned ? kExitWarnings : kExitOk;
  }

 private:
  int UsageError(Streams io, const std::string& what) {
    io.err << "backvault-cli recover: " << what << "\nUsage: backvault-cli " << Usage() << "\n";
    return kExitUsage;
  }
  static int Fail(Streams io, const std::string& what) {
    io.err << "backvault-cli recover: " << what << "\n";
    return kExitFailed;
  }
};

}  // namespace

BV_REGISTER_COMMAND(RecoverCommand)

}  // namespace bv::cli

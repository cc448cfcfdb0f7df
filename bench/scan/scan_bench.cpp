// Times a full scan of a large synthetic backup (every category) through the scan
// session against its floor: the same data-source operations called directly, in the
// same order, without the session (no progress report, no selection tree, no lists).
// The ratio is what the session adds on top of the readers; the readers' own floors
// (SQLite alone) are measured by bench_records. Each measurement runs in a child
// process, so that its peak memory (maximum resident set) is its own.
//
//   bench_scan [--scale N] [--runs R] [--dir KEEP]
//   (N = 1: 100,000 messages, 5,000 contacts, 20,000 calls, 5,000 notes, 50,000
//    WhatsApp messages, 3,000 media files, 50,000 further manifest entries)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/backup_catalog.h"
#include "catalogue/discovery.h"
#include "catalogue/local_recovery.h"
#include "mkbackup.h"
#include "scan/scan_session.h"

namespace fs = std::filesystem;
using namespace bv;

namespace {

struct Measure {
  double ms = 0;
  double cpuMs = 0;  // user and system time of the child, every thread
  long maxRssKb = 0;
  long items = 0;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty()      ? 0
         : v.size() % 2 ? v[v.size() / 2]
                        : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Runs `work` in a child; it returns (milliseconds, item count) through a pipe.
Measure InChild(const std::function<std::pair<double, long>()>& work) {
  int fds[2];
  if (::pipe(fds) != 0) std::exit(1);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    auto [ms, items] = work();
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%.3f %ld", ms, items);
    if (::write(fds[1], buf, static_cast<std::size_t>(n)) != n) ::_exit(2);
    ::_exit(0);
  }
  ::close(fds[1]);
  char buf[64] = {};
  const ssize_t got = ::read(fds[0], buf, sizeof buf - 1);
  ::close(fds[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Measure m;
  if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "measurement failed\n");
    std::exit(1);
  }
  std::sscanf(buf, "%lf %ld", &m.ms, &m.items);
  m.maxRssKb = usage.ru_maxrss;
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  m.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
  return m;
}

double Since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

std::pair<double, long> Floor(const BackupRecord& record) {
  BackupCatalog catalog;
  InitCatalog(catalog);
  const auto t0 = std::chrono::steady_clock::now();
  SelectBackup(catalog, record);
  CLocalBuckupRecovery source;
  source.Attach(&catalog);
  MediaList camera, stream, waAtt;
  AppMediaList app;
  ConversationMap messages;
  AttachmentList att;
  std::list<ContactRecord> contacts;
  std::list<CallRecord> calls;
  std::list<NoteRecord> notes;
  WhatsAppChatMap chats;
  source.OpenBackup("");
  source.ReadPhotos(camera, stream);
  source.ReadMessages(messages);
  source.ReadMessageAttachments(att);
  source.ReadContacts(contacts);
  source.ReadCallHistory(calls);
  source.ReadNotes(notes);
  source.ReadAppMedia(app);
  source.ReadWhatsApp(chats);
  source.ReadWhatsAppAttachments(waAtt);
  const double ms = Since(t0);
  const long items = static_cast<long>(camera.size() + stream.size() + app.size() +
                                       messages.size() + att.size() + contacts.size() +
                                       calls.size() + notes.size() + chats.size() + waAtt.size());
  return {ms, items};
}

std::pair<double, long> FullScan(const BackupRecord& record) {
  BackupCatalog catalog;
  InitCatalog(catalog);
  CScanSession session;
  session.SetOpenedPause(std::chrono::milliseconds(0));
  ScanRequest request;
  request.catalog = &catalog;
  request.backup = record;
  const auto t0 = std::chrono::steady_clock::now();
  if (!session.Start(request)) std::exit(3);
  session.Wait();
  const double ms = Since(t0);
  if (session.ShownPercent() != 98)
    std::fprintf(stderr, "note: scan ended at %d %%\n", session.ShownPercent());
  return {ms, static_cast<long>(session.Statistics().Root().items)};
}

}  // namespace

int main(int argc, char** argv) {
  double scale = 1;
  int runs = 3;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--scale") && i + 1 < argc)
      scale = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc)
      keep = argv[++i];
    else {
      std::fprintf(stderr, "usage: bench_scan [--scale N] [--runs R] [--dir KEEP]\n");
      return 1;
    }
  }
  const fs::path root =
      keep.empty() ? fs::temp_directory_path() / ("bench_scan-" + std::to_string(::getpid()))
                   : fs::path(keep);
  fs::create_directories(root / "data");
  ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  const fs::path folder = root / "backup";

  auto n = [&](int base) { return std::max(1, static_cast<int>(base * scale)); };
  mkbackup::BackupOptions o;
  o.seed = 3;
  o.messages = n(100000);
  o.contacts = n(5000);
  o.calls = n(20000);
  o.notes = n(5000);
  o.whatsapp = n(50000);
  o.wechat = 10;
  o.qq = 10;
  o.media = n(3000);
  o.manifestExtra = n(50000);
  o.writeTruth = false;
  const auto g0 = std::chrono::steady_clock::now();
  // Written in a child too, so the parent stays small for the measurements it forks.
  InChild([&]() -> std::pair<double, long> {
    std::string error;
    if (mkbackup::WriteBackup(o, folder, &error) != 0) {
      std::fprintf(stderr, "mkbackup: %s\n", error.c_str());
      std::exit(1);
    }
    return {0, 0};
  });
  std::printf(
      "backup: %d messages, %d contacts, %d calls, %d notes, %d WhatsApp messages, "
      "%d media, %d extra manifest entries (written in %.1f s)\n",
      o.messages, o.contacts, o.calls, o.notes, o.whatsapp, o.media, o.manifestExtra,
      Since(g0) / 1000);

  BackupRecord record;
  if (ReadBackupFolder(folder.string(), record) != 0) return 1;
  Measure bestFloor{1e300, 0, 0, 0}, bestScan{1e300, 0, 0, 0};
  std::vector<double> floorCpu, scanCpu;
  for (int r = 0; r < runs; ++r) {
    Measure f = InChild([&] { return Floor(record); });
    Measure s = InChild([&] { return FullScan(record); });
    if (f.ms < bestFloor.ms) bestFloor = f;
    if (s.ms < bestScan.ms) bestScan = s;
    floorCpu.push_back(f.cpuMs);
    scanCpu.push_back(s.cpuMs);
    std::printf("run %d: floor %.1f ms (CPU %.1f ms, %ld KB), scan %.1f ms (CPU %.1f ms, %ld KB)\n",
                r + 1, f.ms, f.cpuMs, f.maxRssKb, s.ms, s.cpuMs, s.maxRssKb);
  }
  std::printf("floor (data source alone): %9.1f ms  peak %ld KB  %ld results\n", bestFloor.ms,
              bestFloor.maxRssKb, bestFloor.items);
  std::printf("full scan (session):       %9.1f ms  peak %ld KB  %ld tree items\n", bestScan.ms,
              bestScan.maxRssKb, bestScan.items);
  std::printf("ratio %.2f (goal <= 1.20)\n", bestScan.ms / bestFloor.ms);
  // CPU time is what a shared machine disturbs least (the child's whole process,
  // opening and closing included).
  std::printf("CPU medians: floor %.1f ms, full scan %.1f ms, ratio %.2f\n", Median(floorCpu),
              Median(scanCpu), Median(scanCpu) / Median(floorCpu));
  if (keep.empty()) fs::remove_all(root);
  return 0;
}

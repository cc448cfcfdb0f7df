// Times the recovery of every media file of a synthetic backup (camera roll,
// photo stream, app media, message and WhatsApp attachments) by the recovery
// job, against `cp` of exactly the same stored files into one folder, measured
// in the same run. The stored media files are enlarged first so that copying,
// not bookkeeping, dominates. Each figure is the median of several runs; the
// ratio cp / recovery is what to watch (goal: at least 0.8, i.e. recovery no
// slower than 1.25 times cp).
//
//   bench_export [--runs N] [--media N] [--size BYTES] [--keep DIR]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/backup_catalog.h"
#include "catalogue/discovery.h"
#include "common/text.h"
#include "export/recovery_job.h"
#include "mkbackup.h"
#include "platform/platform.h"
#include "scan/scan_session.h"

namespace fs = std::filesystem;
using namespace bv;

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <typename F>
double Seconds(F&& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Grows a stored file to `size` bytes, keeping its first bytes (its detected
// type).
void Enlarge(const fs::path& file, std::uintmax_t size) {
  std::error_code ec;
  if (fs::file_size(file, ec) >= size) return;
  std::ofstream out(file, std::ios::binary | std::ios::app);
  std::string chunk(65536, '\0');
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131 + 7);
  std::uintmax_t have = fs::file_size(file, ec);
  while (have < size) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uintmax_t>(chunk.size(), size - have));
    out.write(chunk.data(), static_cast<std::streamsize>(n));
    have += n;
  }
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5, media = 200;
  std::uintmax_t size = 2u << 20;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
      runs = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--media") && i + 1 < argc)
      media = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--size") && i + 1 < argc)
      size = std::strtoull(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--keep") && i + 1 < argc)
      keep = argv[++i];
    else {
      std::fprintf(stderr,
                   "usage: bench_export [--runs N] [--media N] [--size "
                   "BYTES] [--keep DIR]\n");
      return 1;
    }
  }
  const fs::path work =
      keep.empty() ? fs::temp_directory_path() / ("bv-bench-export-" + std::to_string(::getpid()))
                   : fs::path(keep);
  fs::create_directories(work);
  ::setenv("XDG_DATA_HOME", (work / "appdata").c_str(), 1);
  const fs::path backup = work / "backup";
  mkbackup::BackupOptions o;
  o.media = media;
  o.messages = o.contacts = o.calls = o.notes = o.whatsapp = o.wechat = o.qq = 5;
  std::string error;
  if (!fs::exists(backup / "Info.plist") && mkbackup::WriteBackup(o, backup, &error) != 0) {
    std::fprintf(stderr, "mkbackup: %s\n", error.c_str());
    return 1;
  }

  BackupRecord record;
  ReadBackupFolder(platform::Utf8FromPath(backup), record);
  BackupCatalog catalog;
  InitCatalog(catalog);
  CScanSession session;
  ScanRequest request;
  request.catalog = &catalog;
  request.backup = record;
  request.chosen = {};
  for (Category c :
       {Category::CameraRoll, Category::PhotoStream, Category::AppPhotos, Category::AppVideos,
        Category::MessageAttachments, Category::WhatsAppAttachments})
    request.chosen[static_cast<int>(c)] = true;
  session.Start(request);
  session.Wait();

  // The stored files that recovery copies, in visit order.
  std::vector<fs::path> files;
  const ScanStores& s = session.Stores();
  for (const auto& m : s.cameraRoll) files.push_back(platform::PathFromUtf8(m.path));
  for (const auto& m : s.photoStream) files.push_back(platform::PathFromUtf8(m.path));
  for (const auto& m : s.appMedia) files.push_back(platform::PathFromUtf8(m.path));
  for (const auto& m : s.messageAttachments) files.push_back(platform::PathFromUtf8(m.path));
  for (const auto& m : s.whatsAppAttachments) files.push_back(platform::PathFromUtf8(m.path));
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  std::uintmax_t bytes = 0;
  for (const auto& f : files) {
    Enlarge(f, size);
    bytes += fs::file_size(f);
  }
  const fs::path list = work / "files.list";
  {
    std::ofstream l(list, std::ios::binary);
    for (const auto& f : files) l << f.string() << '\0';
  }
  std::printf("media files: %zu, %.1f MiB, entries ticked: %u, runs: %d\n", files.size(),
              bytes / 1048576.0, session.Statistics().Root().ticked, runs);

  std::vector<double> job, cp;
  int failed = 0;
  for (int r = 0; r < runs; ++r) {
    const fs::path outJob = work / "out-job", outCp = work / "out-cp";
    fs::remove_all(outJob);
    fs::remove_all(outCp);
    fs::create_directories(outJob);
    fs::create_directories(outCp);
    job.push_back(Seconds([&] {
      CRecoverJob j(s, session.Statistics(), session.DataSource(), record.displayName,
                    platform::Utf8FromPath(outJob));
      j.SetTemplateFolder(fs::path(BV_SOURCE_TEMPLATES));
      j.Run();
      failed += j.FailedCount();
    }));
    const std::string cmd = "xargs -0 -a '" + list.string() + "' cp -t '" + outCp.string() + "'";
    cp.push_back(Seconds([&] {
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cp failed\n");
    }));
  }
  const double mj = Median(job), mc = Median(cp);
  std::printf("recovery job: %.3f s (%.0f MiB/s), failed items: %d\n", mj, bytes / 1048576.0 / mj,
              failed);
  std::printf("cp:           %.3f s (%.0f MiB/s)\n", mc, bytes / 1048576.0 / mc);
  std::printf("ratio cp / recovery: %.2f (goal >= 0.8)\n", mc / mj);
  DestroyCatalog(catalog);
  if (keep.empty()) fs::remove_all(work);
  return 0;
}

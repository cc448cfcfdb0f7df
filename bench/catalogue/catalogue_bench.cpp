// Times loading the manifest of a large synthetic backup (both layouts) and the three
// manifest walks, against a floor measured in the same run: a plain loop that stats and
// reads the first 512 bytes of exactly the files that the walks touch. Each figure is the
// median of several runs; the ratio walk / floor is what to watch (goal: at most 1.3).
//
//   bench_catalogue [--runs N] [--media N] [--extra N] [--keep DIR]
//   (with --keep, backups already in DIR are reused, so repeated runs time only the walks)
#include <fcntl.h>
#include <sys/stat.h>
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
#include "catalogue/classification.h"
#include "catalogue/discovery.h"
#include "catalogue/manifest.h"
#include "mkbackup.h"

namespace fs = std::filesystem;
using namespace bv;

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Seconds(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The files a walk touches: entries whose key passes one of the walks' text tests.
std::vector<std::string> TouchedFiles(const BackupCatalog& c) {
  std::vector<std::string> files;
  for (const auto& e : c.manifest) {
    const std::string& k = e.key;
    if (k.find("/Attachments/") != std::string::npos ||
        k.find("CameraRollDomain-Media/DCIM/") != std::string::npos ||
        k.find("MediaDomain-Media/PhotoStreamsData/") != std::string::npos ||
        k.find("AppDomain-") != std::string::npos)
      files.push_back(fs::path(StoredFilePath(c, e.fileId)).string());
  }
  return files;
}

void Floor(const std::vector<std::string>& files) {
  unsigned char buf[512];
  volatile unsigned sink = 0;
  for (const auto& f : files) {
    struct stat st {};
    if (::stat(f.c_str(), &st) != 0) continue;
    int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    if (::read(fd, buf, sizeof buf) > 0) sink = sink + buf[0];
    ::close(fd);
  }
}

void RunLayout(mkbackup::Layout layout, int runs, int media, int extra, const fs::path& dir) {
  const char* name = layout == mkbackup::Layout::kNewer ? "newer" : "older";
  mkbackup::BackupOptions o;
  o.layout = layout;
  o.media = media;
  o.manifestExtra = extra;
  o.messages = 50;
  o.whatsapp = 50;
  o.writeTruth = false;
  const fs::path folder = dir / name;
  std::string error;
  // A kept folder from an earlier run is reused as it is.
  const bool reuse = fs::exists(folder / "Info.plist");
  double made = Seconds([&] {
    if (!reuse && mkbackup::WriteBackup(o, folder, &error) != 0) {
      std::fprintf(stderr, "mkbackup failed: %s\n", error.c_str());
      std::exit(1);
    }
  });
  BackupCatalog c;
  BackupRecord r;
  ReadBackupFolder(folder.string(), r);
  SelectBackup(c, r);
  std::vector<double> load, walks, floor;
  for (int i = 0; i < runs; ++i) {
    load.push_back(Seconds([&] { OpenBackup(c, ""); }));
    const auto files = TouchedFiles(c);
    floor.push_back(Seconds([&] { Floor(files); }));
    walks.push_back(Seconds([&] {
      AttachmentList a;
      MediaList roll, stream;
      AppMediaList apps;
      ReadMessageAttachments(c, a);
      ReadPhotos(c, roll, stream);
      ReadAppMedia(c, apps);
    }));
  }
  const double f = Median(floor), w = Median(walks);
  std::printf("%s layout: %zu manifest entries, %zu files touched (backup written in %.1f s)\n",
              name, c.manifest.size(), TouchedFiles(c).size(), made);
  std::printf("  manifest load  median %.3f s\n", Median(load));
  std::printf("  three walks    median %.3f s\n", w);
  std::printf("  floor          median %.3f s\n", f);
  std::printf("  ratio walks/floor %.2f (goal <= 1.30)\n", f > 0 ? w / f : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5, media = 20000, extra = 100000;
  fs::path keep;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc)
      runs = std::atoi(argv[++i]);
    else if (a == "--media" && i + 1 < argc)
      media = std::atoi(argv[++i]);
    else if (a == "--extra" && i + 1 < argc)
      extra = std::atoi(argv[++i]);
    else if (a == "--keep" && i + 1 < argc)
      keep = argv[++i];
    else {
      std::fprintf(stderr,
                   "usage: bench_catalogue [--runs N] [--media N] [--extra N] [--keep DIR]\n");
      return 1;
    }
  }
  const fs::path dir =
      keep.empty() ? fs::temp_directory_path() / ("bench-catalogue-" + std::to_string(::getpid()))
                   : keep;
  fs::create_directories(dir);
  RunLayout(mkbackup::Layout::kNewer, runs, media, extra, dir);
  RunLayout(mkbackup::Layout::kOlder, runs, media, extra, dir);
  if (keep.empty()) fs::remove_all(dir);
  return 0;
}

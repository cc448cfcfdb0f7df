// mkbackup command line: writes one synthetic backup, or the demo root.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "encrypt_backup.h"
#include "mkbackup.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: mkbackup OUT [--layout newer|older] [--ios VERSION] [--seed N]\n"
               "                    [--name TEXT] [--date YYYY-MM-DDTHH:MM:SSZ]\n"
               "                    [--messages N] [--contacts N] [--calls N] [--notes N]\n"
               "                    [--whatsapp N] [--wechat N] [--qq N] [--media N]\n"
               "                    [--events N] [--reminders N] [--bookmarks N]\n"
               "                    [--manifest-extra N] [--no-deleted] [--no-truth]\n"
               "                    [--chat-page-sizes N,N,...] [--chat-churn] [--wal]\n"
               "                    [--record-page-size N]\n"
               "                    [--binary-info-plist | --xml-references]\n"
               "                    [--encrypt PASSWORD [--dpic N] [--iter N]]\n"
               "       mkbackup --demo ROOT\n");
}

bool ParseCount(const char* text, int* out) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (!end || *end || end == text || value < 0 || value > 100000000) return false;
  *out = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using bv::mkbackup::BackupOptions;
  using bv::mkbackup::Layout;
  if (argc < 2) {
    Usage();
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  std::string out;
  if (std::strcmp(argv[1], "--demo") == 0) {
    if (argc != 3) {
      Usage();
      return 2;
    }
    if (bv::mkbackup::WriteDemoRoot(argv[2], &error) != 0) {
      std::fprintf(stderr, "mkbackup: %s\n", error.c_str());
      return 1;
    }
    out = argv[2];
  } else {
    BackupOptions o;
    bv::mkbackup::EncryptOptions encryption;
    bool encrypt = false;
    std::string layout;
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      const bool hasValue = i + 1 < argc;
      auto count = [&](int* field) {
        if (!hasValue || !ParseCount(argv[++i], field)) {
          std::fprintf(stderr, "mkbackup: %s needs a count\n", arg.c_str());
          std::exit(2);
        }
      };
      auto text = [&]() -> std::string {
        if (!hasValue) {
          std::fprintf(stderr, "mkbackup: %s needs a value\n", arg.c_str());
          std::exit(2);
        }
        return argv[++i];
      };
      if (arg == "--layout") {
        layout = text();
        if (layout == "newer") {
          o.layout = Layout::kNewer;
        } else if (layout == "older") {
          o.layout = Layout::kOlder;
        } else {
          std::fprintf(stderr, "mkbackup: --layout is newer or older\n");
          return 2;
        }
      } else if (arg == "--ios") {
        o.iosVersion = text();
      } else if (arg == "--seed") {
        const std::string s = text();
        char* end = nullptr;
        o.seed = std::strtoull(s.c_str(), &end, 10);
        if (s.empty() || *end) {
          std::fprintf(stderr, "mkbackup: --seed needs a number\n");
          return 2;
        }
      } else if (arg == "--name") {
        o.displayName = text();
      } else if (arg == "--date") {
        o.date = text();
      } else if (arg == "--messages") {
        count(&o.messages);
      } else if (arg == "--contacts") {
        count(&o.contacts);
      } else if (arg == "--calls") {
        count(&o.calls);
      } else if (arg == "--notes") {
        count(&o.notes);
      } else if (arg == "--whatsapp") {
        count(&o.whatsapp);
      } else if (arg == "--wechat") {
        count(&o.wechat);
      } else if (arg == "--qq") {
        count(&o.qq);
      } else if (arg == "--events") {
        count(&o.events);
      } else if (arg == "--reminders") {
        count(&o.reminders);
      } else if (arg == "--bookmarks") {
        count(&o.bookmarks);
      } else if (arg == "--media") {
        count(&o.media);
      } else if (arg == "--manifest-extra") {
        count(&o.manifestExtra);
      } else if (arg == "--encrypt") {
        encrypt = true;
        encryption.password = text();
      } else if (arg == "--dpic" || arg == "--iter") {
        int n = 0;
        count(&n);
        if (n == 0) {
          std::fprintf(stderr, "mkbackup: %s must be at least 1\n", arg.c_str());
          return 2;
        }
        (arg == "--dpic" ? encryption.dpic : encryption.iter) = static_cast<std::uint32_t>(n);
      } else if (arg == "--chat-page-sizes") {
        // One WeChat and one QQ account per size.
        const std::string list = text();
        std::vector<int> sizes;
        std::size_t at = 0;
        while (at <= list.size()) {
          const std::size_t comma = std::min(list.find(',', at), list.size());
          int size = 0;
          if (!ParseCount(list.substr(at, comma - at).c_str(), &size) || size == 0) {
            std::fprintf(stderr, "mkbackup: --chat-page-sizes needs sizes like 1024,4096\n");
            return 2;
          }
          sizes.push_back(size);
          at = comma + 1;
        }
        o.wechatPageSizes = sizes;
        o.qqPageSizes = sizes;
      } else if (arg == "--record-page-size") {
        count(&o.recordPageSize);
        if (o.recordPageSize < 512 || o.recordPageSize > 65536 ||
            (o.recordPageSize & (o.recordPageSize - 1)) != 0) {
          std::fprintf(stderr,
                       "mkbackup: --record-page-size is a power of two from 512 to 65536\n");
          return 2;
        }
      } else if (arg == "--chat-churn") {
        o.chatChurn = true;
      } else if (arg == "--wal") {
        o.writeAheadLogs = true;
      } else if (arg == "--binary-info-plist") {
        o.infoPlist = BackupOptions::InfoPlistForm::kBinary;
      } else if (arg == "--xml-references") {
        o.xmlReferences = true;
      } else if (arg == "--no-deleted") {
        o.deletedRows = false;
      } else if (arg == "--no-truth") {
        o.writeTruth = false;
      } else if (arg == "-h" || arg == "--help") {
        Usage();
        return 0;
      } else if (!arg.empty() && arg[0] == '-') {
        std::fprintf(stderr, "mkbackup: unknown option %s\n", arg.c_str());
        Usage();
        return 2;
      } else if (out.empty()) {
        out = arg;
      } else {
        std::fprintf(stderr, "mkbackup: only one output folder, got %s\n", arg.c_str());
        return 2;
      }
    }
    if (out.empty()) {
      Usage();
      return 2;
    }
    if (bv::mkbackup::WriteBackup(o, out, &error) != 0) {
      std::fprintf(stderr, "mkbackup: %s\n", error.c_str());
      return 1;
    }
    // The encrypted twin replaces the plain backup in place; the truth stays the same.
    encryption.seed = o.seed;
    if (encrypt && bv::mkbackup::EncryptBackup(out, out, encryption, &error) != 0) {
      std::fprintf(stderr, "mkbackup: %s\n", error.c_str());
      return 1;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "mkbackup: wrote %s in %.2f s\n", out.c_str(), seconds);
  return 0;
}

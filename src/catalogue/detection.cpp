#include "catalogue/detection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "catalogue/heif_picture.h"
#include "common/text.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace bv {

namespace fs = std::filesystem;

namespace {

using Bytes = const unsigned char*;

bool At(Bytes d, std::size_t n, std::size_t offset, std::string_view sig) {
  return offset + sig.size() <= n && std::memcmp(d + offset, sig.data(), sig.size()) == 0;
}
std::uint32_t Le16(Bytes d, std::size_t o) {
  return d[o] | (std::uint32_t(d[o + 1]) << 8);
}
std::uint32_t Le32(Bytes d, std::size_t o) {
  return d[o] | (std::uint32_t(d[o + 1]) << 8) | (std::uint32_t(d[o + 2]) << 16) |
         (std::uint32_t(d[o + 3]) << 24);
}
std::uint32_t Be32(Bytes d, std::size_t o) {
  return (std::uint32_t(d[o]) << 24) | (std::uint32_t(d[o + 1]) << 16) |
         (std::uint32_t(d[o + 2]) << 8) | d[o + 3];
}

bool FoundWithin(Bytes d, std::size_t n, std::string_view sig) {
  const std::size_t limit = n < 32 ? n : 32;
  for (std::size_t i = 0; i + sig.size() <= limit; ++i)
    if (std::memcmp(d + i, sig.data(), sig.size()) == 0) return true;
  return false;
}

int Mpeg(Bytes d, std::size_t n) {
  if (n < 16) return kTypeUnknown;
  using namespace std::string_view_literals;
  if (At(d, n, 0, "\x00\x00\x01\xBA"sv) && FoundWithin(d, n, "\x00\x00\x01\xBB"sv)) return 15;
  if (At(d, n, 0, "\x00\x00\x01\xB3"sv) && FoundWithin(d, n, "\x00\x00\x01\xB8"sv)) return 15;
  return kTypeUnknown;
}
int Mp4(Bytes d, std::size_t n) {
  if (n < 32) return kTypeUnknown;
  return At(d, n, 4, "ftyp") && (At(d, n, 8, "iso") || At(d, n, 8, "mp42")) ? 18 : kTypeUnknown;
}
int RealMedia(Bytes d, std::size_t n) {
  if (n < 4) return kTypeUnknown;
  return At(d, n, 0, ".RMF") ? 23 : kTypeUnknown;
}
int Asf(Bytes d, std::size_t n) {
  static const unsigned char kGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  if (n < 24) return kTypeUnknown;
  return std::memcmp(d, kGuid, 16) == 0 ? 24 : kTypeUnknown;
}
int Avi(Bytes d, std::size_t n) {
  if (n < 16) return kTypeUnknown;
  return At(d, n, 0, "RIFF") && At(d, n, 8, "AVI ") && At(d, n, 12, "LIST") ? 22 : kTypeUnknown;
}
int ThreeGp(Bytes d, std::size_t n) {
  if (n < 32) return kTypeUnknown;
  return At(d, n, 4, "ftyp") && At(d, n, 8, "3gp") ? 16 : kTypeUnknown;
}
int Mp3(Bytes d, std::size_t n) {
  if (n < 10) return kTypeUnknown;
  if (!At(d, n, 0, "ID3")) return kTypeUnknown;
  if (d[3] >= 0xFF || d[4] >= 0xFF || (d[5] & 0x1F) != 0) return kTypeUnknown;
  for (int i = 6; i <= 9; ++i)
    if (d[i] >= 0x80) return kTypeUnknown;
  return 12;
}
int Midi(Bytes d, std::size_t n) {
  using namespace std::string_view_literals;
  if (n < 16) return kTypeUnknown;
  return At(d, n, 0, "MThd") && At(d, n, 4, "\x00\x00\x00\x06"sv) && At(d, n, 14, "MTrk")
             ? 13
             : kTypeUnknown;
}
int Wave(Bytes d, std::size_t n) {
  if (n < 16) return kTypeUnknown;
  return At(d, n, 0, "RIFF") && At(d, n, 8, "WAVE") && At(d, n, 12, "fmt ") ? 21 : kTypeUnknown;
}
int QuickTime(Bytes d, std::size_t n) {
  if (n < 16) return kTypeUnknown;
  if (At(d, n, 0, "moov")) return 17;
  return At(d, n, 4, "ftyp") && At(d, n, 8, "qt  ") ? 17 : kTypeUnknown;
}
int Gif(Bytes d, std::size_t n) {
  if (n < 8) return kTypeUnknown;
  auto digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
  return At(d, n, 0, "GIF") && digit(d[3]) && digit(d[4]) && d[5] >= 'a' && d[5] <= 'z'
             ? 31
             : kTypeUnknown;
}
int Bmp(Bytes d, std::size_t n) {
  if (n < 40) return kTypeUnknown;
  if (!(At(d, n, 0, "BM") || At(d, n, 0, "BA"))) return kTypeUnknown;
  return Le16(d, 6) == 0 && Le16(d, 8) == 0 && Le32(d, 14) == 40 ? 29 : kTypeUnknown;
}
int Jpeg(Bytes d, std::size_t n) {
  using namespace std::string_view_literals;
  if (n < 16) return kTypeUnknown;
  if (At(d, n, 0, "\xFF\xD8\xFF\xE0"sv) && At(d, n, 6, "JFIF")) return 10;
  if (At(d, n, 0, "\xFF\xD8\xFF\xE1"sv) && At(d, n, 6, "Exif")) return 10;
  return kTypeUnknown;
}
int Png(Bytes d, std::size_t n) {
  using namespace std::string_view_literals;
  if (n < 8) return kTypeUnknown;
  return At(d, n, 0, "\x89PNG\r\n\x1A\n"sv) ? 30 : kTypeUnknown;
}
int Ico(Bytes d, std::size_t n) {
  using namespace std::string_view_literals;
  if (n < 16) return kTypeUnknown;
  if (!At(d, n, 0, "\x00\x00\x01\x00"sv)) return kTypeUnknown;
  const std::uint64_t count = Le16(d, 4);
  if (count == 0 || 6 + 16 * count > n) return kTypeUnknown;
  std::uint64_t running = 6 + 16 * count;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::size_t e = static_cast<std::size_t>(6 + 16 * i);
    if (d[e + 3] != 0) return kTypeUnknown;
    if (Le32(d, e + 12) != running) return kTypeUnknown;
    running += Le32(d, e + 8);  // 64-bit: a huge size cannot wrap round to a match
  }
  return 46;
}

bool BrandIn(const FtypBox& box, std::initializer_list<std::string_view> brands, bool major) {
  for (std::string_view b : brands) {
    if (major && box.Major() == b) return true;
    if (!major && box.HasCompatible(b)) return true;
  }
  return false;
}

// HEIF still images and sequences (HEVC-coded, or the generic mif1/msf1 structure
// brands) and AVIF. Only the major brand decides what a file is: an MP4 film that
// lists mif1 among its compatible brands stays a film. A generic mif1/msf1 file is
// AVIF when it says so among its compatible brands and no HEVC brand is there.
int Heif(Bytes d, std::size_t n) {
  FtypBox box;
  if (n < 16 || !ParseFtypBox(d, n, box)) return kTypeUnknown;
  if (BrandIn(box, {"heic", "heix", "hevc", "heim", "heis"}, true)) return kTypeHeic;
  if (box.Major() == "avif") return kTypeAvif;
  if (!BrandIn(box, {"mif1", "msf1"}, true)) return kTypeUnknown;
  if (box.HasCompatible("avif") && !BrandIn(box, {"heic", "heix", "hevc", "heim", "heis"}, false))
    return kTypeAvif;
  return kTypeHeic;
}

struct Row {
  const char* extension;
  int code;
  int (*recognise)(Bytes, std::size_t);
};

// HEIF pictures of newer phones come after every older row, so those keep their files.
constexpr Row kTable[] = {
    {"mpeg", 15, Mpeg},        {"mpg", 15, Mpeg},         {"vob", 15, Mpeg}, {"mp4", 18, Mp4},
    {"rmvb", 23, RealMedia},   {"wmv", 24, Asf},          {"wma", 24, Asf},  {"avi", 22, Avi},
    {"3gp", 16, ThreeGp},      {"mp3", 12, Mp3},          {"mid", 13, Midi}, {"wav", 21, Wave},
    {"mov", 17, QuickTime},    {"gif", 31, Gif},          {"bmp", 29, Bmp},  {"jpg", 10, Jpeg},
    {"jpeg", 10, Jpeg},        {"jpe", 10, Jpeg},         {"png", 30, Png},  {"ico", 46, Ico},
    {"heic", kTypeHeic, Heif}, {"avif", kTypeAvif, Heif},
};

void NameFor(int code, DetectionContext& context, std::string& name) {
  name.clear();
  if (code == kTypeUnknown) return;
  name = std::to_string(context.counter) + "." + ExtensionOfCode(code);
  ++context.counter;
}

// Writes the whole preview file anew, private to this user.
Result WritePreviewFile(const fs::path& path, std::string_view bytes) {
  platform::UniqueFd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!out.Valid()) return errno;
  if (!platform::WriteAll(out.Get(), bytes.data(), bytes.size())) return errno != 0 ? errno : EIO;
  return out.Close();
}

}  // namespace

bool ParseFtypBox(const unsigned char* data, std::size_t size, FtypBox& box) {
  box = FtypBox{};
  if (size < 16 || std::memcmp(data + 4, "ftyp", 4) != 0) return false;
  const std::uint32_t boxSize = Be32(data, 0);
  // 0 ("to the end of the file") and 1 (64-bit size) are never used for ftyp; a box
  // too small for its two brand fields, one running past the bytes we have, or one
  // with a partial brand at its end is damaged.
  if (boxSize < 16 || boxSize > size || (boxSize - 16) % 4 != 0) return false;
  box.data = data;
  box.size = boxSize;
  return true;
}

std::string_view FtypBox::Major() const {
  return {reinterpret_cast<const char*>(data) + 8, 4};
}

bool FtypBox::HasCompatible(std::string_view brand) const {
  if (brand.size() != 4) return false;
  for (std::size_t at = 16; at + 4 <= size; at += 4)
    if (std::memcmp(data + at, brand.data(), 4) == 0) return true;
  return false;
}

bool IsHeifFamily(int code) {
  return code == kTypeHeic || code == kTypeAvif;
}

const char* const kImageExtensions =
    "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|"
    "*.sr2|*.arw|*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|"
    "*.orf|*.erf|*.indd|*.pef|*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga";
const char* const kVideoExtensions =
    "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.ape|*.m4v|*.3gp|*.dv|"
    "*.3g2|*.m4b|*.mkv|*.mts|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|"
    "*.mod|*.m2t|*.lrv";
const char* const kAudioExtensions =
    "*.mp3|*.wav|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|*.amr|"
    "*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd";

int RecogniseBuffer(const unsigned char* data, std::size_t size) {
  for (const Row& row : kTable) {
    int code = row.recognise(data, size);
    if (code != kTypeUnknown) return code;
  }
  return kTypeUnknown;
}

const char* ExtensionOfCode(int code) {
  for (const Row& row : kTable)
    if (row.code == code) return row.extension;
  return "";
}

Result DetectFileType(const std::string& path, DetectionContext& context, std::string& name) {
  return DetectFileType(path, context, name, nullptr);
}

Result DetectFileType(const std::string& path, DetectionContext& context, std::string& name,
                      std::int64_t* size) {
  return DetectFileTypeNative(platform::PathFromUtf8(path).native(), context, name, size);
}

Result DetectFileTypeNative(const std::string& path, DetectionContext& context, std::string& name,
                            std::int64_t* size) {
  name.clear();
  if (size) *size = -1;
  // Read-only, regular files only: detection must work on read-only media, never touch
  // the backup and never wait on a FIFO or a device node (those count as missing).
  platform::ReadOnlyFile f;
  if (const int rc = f.Open(path); rc != 0) return platform::IsMissingFile(rc) ? ENOENT : rc;
  if (size) *size = f.Size();
  unsigned char buf[512];
  int error = 0;
  const std::int64_t read = f.ReadAt(0, buf, sizeof buf, &error);
  if (read < 0) return error;
  const auto got = static_cast<std::size_t>(read);
  if (got < sizeof buf) return kShortRead;
  NameFor(RecogniseBuffer(buf, sizeof buf), context, name);
  return kSuccess;
}

Result DetectBufferType(const unsigned char* buffer, DetectionContext& context, std::string& name) {
  NameFor(RecogniseBuffer(buffer, 128), context, name);
  return kSuccess;
}

Result WriteHeifPreview(const BackupCatalog& catalog, const std::string& backupFile,
                        std::string& copyPath) {
  copyPath = catalog.workFolder;
  if (!copyPath.empty() && copyPath.back() != '/') copyPath.push_back('/');
  copyPath += "tmp.jpg";
  const fs::path target = platform::PathFromUtf8(copyPath);
  std::string heif, jpeg;
  Result r = platform::ReadWholeFile(platform::PathFromUtf8(backupFile), heif, kHeifFileLimit);
  if (r == kSuccess) r = HeifToJpeg(heif, jpeg);
  if (r == kSuccess) r = WritePreviewFile(target, jpeg);
  if (r != kSuccess) {
    // An earlier picture must not be shown in place of this one.
    std::error_code ec;
    fs::remove(target, ec);
    return kInvalidParameter;
  }
  return kSuccess;
}

Result PreparePreviewCopy(const BackupCatalog& catalog, const std::string& backupFile,
                          std::string& copyPath, ProgressCallback callback, void* user) {
  auto finish = [&](Result r) {
    if (callback) callback(user, 100);
    return r;
  };
  DetectionContext context;
  std::string generated;
  DetectFileType(backupFile, context, generated);
  const std::size_t dot = generated.rfind('.');
  if (dot == std::string::npos) return finish(kInvalidParameter);
  std::string ext = generated.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
  // A HEIF picture is no file a viewer takes: its preview is the decoded picture.
  if (ext == ExtensionOfCode(kTypeHeic) || ext == ExtensionOfCode(kTypeAvif))
    return finish(WriteHeifPreview(catalog, backupFile, copyPath));

  const char* target = nullptr;
  if (std::strstr(kImageExtensions, ext.c_str()))
    target = "tmp.jpg";
  else if (std::strstr(kAudioExtensions, ext.c_str()))
    target = "tmp.wav";
  else if (std::strstr(kVideoExtensions, ext.c_str()))
    target = "tmp.avi";
  if (!target) return finish(kSuccess);

  copyPath = catalog.workFolder;
  if (!copyPath.empty() && copyPath.back() != '/') copyPath.push_back('/');
  copyPath += target;

  platform::ReadOnlyFile in;
  platform::UniqueFd out;
  if (in.Open(platform::PathFromUtf8(backupFile)) == 0)
    out.Reset(::open(platform::PathFromUtf8(copyPath).c_str(),
                     O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!in.IsOpen() || !out.Valid()) return finish(kInvalidParameter);

  const std::int64_t size = in.Size();  // 64-bit: films over 4 GiB are copied whole
  std::vector<char> buf(65536);
  std::int64_t copied = 0;
  while (copied < size) {
    int error = 0;
    const std::int64_t n =
        in.ReadAt(static_cast<std::uint64_t>(copied), buf.data(), buf.size(), &error);
    if (n < 0) return finish(error);
    if (n == 0) break;
    if (!platform::WriteAll(out.Get(), buf.data(), static_cast<std::size_t>(n)))
      return finish(errno != 0 ? errno : EIO);
    copied += n;
    if (callback) {
      std::int32_t answer = callback(user, static_cast<std::int32_t>(copied * 100 / size));
      if (answer != 0) return finish(answer);
    }
  }
  return finish(kSuccess);
}

}  // namespace bv

// Media samples of every detected kind (plus short and empty files) and their places
// in a backup: Camera Roll, Photo Stream, app containers, names whose extension lies
// about the content. Pictures (HEIC and AVIF included), WAVE and MIDI files are
// complete and open in ordinary viewers; the AVI is a playable film; the other film
// containers carry real headers and filler.
#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "internal.h"
#include "mkbackup.h"

namespace bv::mkbackup {

namespace {

// An 8 x 8 baseline JPEG (JFIF), blue.
const char* kJpegHex =
    "ffd8ffe000104a46494600010100000100010000ffdb00430006040506050406060506070706080a100a0a09090a14"
    "0e"
    "0f0c1017141818171416161a1d251f1a1b231c1616202c20232627292a29191f2d302d283025282928ffdb00430107"
    "07"
    "070a080a130a0a13281a161a2828282828282828282828282828282828282828282828282828282828282828282828"
    "28"
    "2828282828282828282828282828ffc00011080008000803012200021101031101ffc4001500010100000000000000"
    "00"
    "0000000000000005ffc40014100100000000000000000000000000000000ffc4001501010100000000000000000000"
    "00"
    "0000000607ffc40014110100000000000000000000000000000000ffda000c03010002110311003f0098028022ffd"
    "9";

std::string FromHex(const char* hex) {
  std::string out;
  for (const char* p = hex; p[0] && p[1]; p += 2) {
    auto nib = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    out += static_cast<char>(nib(p[0]) << 4 | nib(p[1]));
  }
  return out;
}

void Le16(std::string& o, unsigned v) {
  o += static_cast<char>(v & 0xFF);
  o += static_cast<char>((v >> 8) & 0xFF);
}
void Le32(std::string& o, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) o += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Be32(std::string& o, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) o += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t Crc32(const std::string& data, std::size_t from) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = from; i < data.size(); ++i) {
    c ^= static_cast<unsigned char>(data[i]);
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

void PngChunk(std::string& out, const char* type, const std::string& data) {
  Be32(out, static_cast<std::uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  Be32(out, Crc32(body, 0));
}

std::string Filler(Prng& rng, std::size_t n) {
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) out += static_cast<char>(rng.Below(256));
  return out;
}

std::string Jpeg(bool exif, Prng& rng, std::size_t size) {
  const std::string base = FromHex(kJpegHex);
  std::string out = base.substr(0, 2);
  if (exif) {
    std::string tiff("Exif\0\0II*\0\x08\0\0\0\0\0\0\0\0\0", 20);
    out += "\xFF\xE1";
    out += static_cast<char>(((tiff.size() + 2) >> 8) & 0xFF);
    out += static_cast<char>((tiff.size() + 2) & 0xFF);
    out += tiff;
  } else {
    out += base.substr(2, 18);  // APP0 JFIF
  }
  // Comment segments (before the frame) bring the file to the wanted size.
  while (out.size() + base.size() - 20 < size) {
    std::size_t n = std::min<std::size_t>(60000, size - (out.size() + base.size() - 20));
    n = std::max<std::size_t>(n, 8);
    out += "\xFF\xFE";
    out += static_cast<char>(((n - 2) >> 8) & 0xFF);
    out += static_cast<char>((n - 2) & 0xFF);
    for (std::size_t i = 0; i + 4 < n; ++i) out += static_cast<char>('a' + rng.Below(26));
  }
  return out + base.substr(20);
}

std::string Png(Prng& rng, std::size_t size) {
  std::string out("\x89PNG\r\n\x1A\n", 8);
  std::string ihdr;
  Be32(ihdr, 1);
  Be32(ihdr, 1);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  PngChunk(out, "IHDR", ihdr);
  // zlib stream with one stored block: filter byte 0 and one red pixel.
  std::string raw("\x00\xFF\x20\x20", 4);
  std::string z("\x78\x01\x01", 3);
  Le16(z, 4);
  Le16(z, static_cast<unsigned>(~4u & 0xFFFF));
  z += raw;
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  Be32(z, b << 16 | a);
  std::string text = "Comment";
  text += '\0';
  while (out.size() + 12 + text.size() + 12 + z.size() + 12 < size)
    text += static_cast<char>('a' + rng.Below(26));
  PngChunk(out, "tEXt", text);
  PngChunk(out, "IDAT", z);
  PngChunk(out, "IEND", "");
  return out;
}

std::string Gif(bool v87, Prng& rng, std::size_t size) {
  std::string out = v87 ? "GIF87a" : "GIF89a";
  Le16(out, 1);
  Le16(out, 1);
  out += std::string("\x80\x00\x00", 3);              // global table of 2 colours
  out += std::string("\xFF\x00\x00\x00\x00\xFF", 6);  // red, blue
  if (!v87) {
    out += "\x21\xFE";  // comment extension
    while (out.size() + 30 < size) {
      std::size_t n = std::min<std::size_t>(255, size - out.size() - 29);
      out += static_cast<char>(n);
      for (std::size_t i = 0; i < n; ++i) out += static_cast<char>('a' + rng.Below(26));
    }
    out += '\0';
  }
  out += std::string("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10);
  out += std::string("\x02\x02\x44\x01\x00", 5);  // LZW data of one pixel
  out += ';';
  // GIF87a has no comment block: bytes after the trailer pad the file.
  if (out.size() < size) out += Filler(rng, size - out.size());
  return out;
}

std::string Bmp(std::size_t size) {
  // 24-bit, width w, height 8; rows padded to 4 bytes.
  std::uint32_t w = 8;
  while (54 + ((w * 3 + 3) / 4 * 4) * 8 < size) w += 4;
  const std::uint32_t row = (w * 3 + 3) / 4 * 4;
  std::string out = "BM";
  Le32(out, 54 + row * 8);
  Le32(out, 0);
  Le32(out, 54);
  Le32(out, 40);
  Le32(out, w);
  Le32(out, 8);
  Le16(out, 1);
  Le16(out, 24);
  Le32(out, 0);
  Le32(out, row * 8);
  Le32(out, 2835);
  Le32(out, 2835);
  Le32(out, 0);
  Le32(out, 0);
  for (int y = 0; y < 8; ++y)
    for (std::uint32_t x = 0; x < row; ++x) out += static_cast<char>(x % 3 == 0 ? 0xC0 : 0x40);
  return out;
}

std::string Ico(Prng& rng, std::size_t size) {
  std::string image = Png(rng, size > 40 ? size - 22 : 64);
  std::string out("\x00\x00\x01\x00\x01\x00", 6);
  out += std::string("\x01\x01\x00\x00\x01\x00\x20\x00", 8);
  Le32(out, static_cast<std::uint32_t>(image.size()));
  Le32(out, 22);
  return out + image;
}

std::string Box(const char* type, const std::string& body) {
  std::string out;
  Be32(out, static_cast<std::uint32_t>(body.size() + 8));
  return out + std::string(type, 4) + body;
}

std::string IsoMedia(const char* brand, const char* compat, Prng& rng, std::size_t size) {
  std::string ftyp = std::string(brand, 4);
  Be32(ftyp, 0x200);
  ftyp += std::string(compat, 4);
  ftyp += std::string(brand, 4);
  std::string out = Box("ftyp", ftyp);
  std::string mvhd(100, '\0');
  mvhd[15] = static_cast<char>(0x03);  // time scale 1000
  mvhd[14] = static_cast<char>(0xE8);
  out += Box("moov", Box("mvhd", mvhd));
  if (out.size() + 8 < size) out += Box("free", Filler(rng, size - out.size() - 8));
  return out;
}

std::string Riff(const char* form, const std::string& chunks) {
  std::string out = "RIFF";
  Le32(out, static_cast<std::uint32_t>(chunks.size() + 4));
  return out + form + chunks;
}

std::string Wav(std::size_t size) {
  std::string fmt;
  Le16(fmt, 1);
  Le16(fmt, 1);
  Le32(fmt, 8000);
  Le32(fmt, 8000);
  Le16(fmt, 1);
  Le16(fmt, 8);
  std::string data;
  for (std::size_t i = 0; data.size() + 44 < size; ++i)
    data += static_cast<char>(128 + ((i / 8) % 2 ? 40 : -40));  // a 500 Hz square tone
  std::string chunks = "fmt ";
  Le32(chunks, 16);
  chunks += fmt + "data";
  Le32(chunks, static_cast<std::uint32_t>(data.size()));
  return Riff("WAVE", chunks + data);
}

// A film that players can play: uncompressed 8 x 8 frames (24-bit, bottom-up) at four
// frames a second, as many as the size allows (at least two), with an index and a JUNK
// chunk for the rest. The filler is drawn as before, so later files keep their bytes.
std::string Avi(Prng& rng, std::size_t size) {
  constexpr std::uint32_t kSide = 8;
  constexpr std::uint32_t kFrameBytes = kSide * kSide * 3;
  const std::size_t oldPad = size > 76 + 20 ? size - 76 - 20 : 16;
  const std::string filler = Filler(rng, oldPad);
  constexpr std::size_t kFixed = 12 + 12 + 64 + 12 + 64 + 48 + 12 + 8 + 8;
  const std::size_t room = size > kFixed ? size - kFixed : 0;
  const auto frames =
      static_cast<std::uint32_t>(std::clamp<std::size_t>(room / (8 + kFrameBytes + 16), 2, 40));

  std::string avih;
  Le32(avih, 250000);  // microseconds per frame
  Le32(avih, kFrameBytes * 4);
  Le32(avih, 0);
  Le32(avih, 0x10);  // has an index
  Le32(avih, frames);
  Le32(avih, 0);
  Le32(avih, 1);
  Le32(avih, kFrameBytes);
  Le32(avih, kSide);
  Le32(avih, kSide);
  avih += std::string(16, '\0');
  std::string strh = "vidsDIB ";
  Le32(strh, 0);  // flags
  Le32(strh, 0);  // priority, language
  Le32(strh, 0);  // initial frames
  Le32(strh, 1);  // scale
  Le32(strh, 4);  // rate
  Le32(strh, 0);  // start
  Le32(strh, frames);
  Le32(strh, kFrameBytes);
  Le32(strh, 0xFFFFFFFFu);  // quality
  Le32(strh, 0);            // sample size
  Le16(strh, 0);
  Le16(strh, 0);
  Le16(strh, kSide);
  Le16(strh, kSide);
  std::string strf;
  Le32(strf, 40);
  Le32(strf, kSide);
  Le32(strf, kSide);
  Le16(strf, 1);
  Le16(strf, 24);
  Le32(strf, 0);  // uncompressed
  Le32(strf, kFrameBytes);
  strf += std::string(16, '\0');
  auto chunk = [](const char* id, const std::string& body) {
    std::string out = id;
    Le32(out, static_cast<std::uint32_t>(body.size()));
    return out + body;
  };
  auto list = [&](const char* type, const std::string& body) { return chunk("LIST", type + body); };
  const std::string strl = list("strl", chunk("strh", strh) + chunk("strf", strf));
  const std::string hdrl = list("hdrl", chunk("avih", avih) + strl);
  std::string movi;
  std::string idx1;
  for (std::uint32_t f = 0; f < frames; ++f) {
    // A colour square that moves across a grey field.
    std::string pixels;
    for (std::uint32_t y = 0; y < kSide; ++y)
      for (std::uint32_t x = 0; x < kSide; ++x) {
        const bool on = (x / 4 + y / 4 + f) % 2 == 0;
        pixels += on ? std::string("\x30\x60\xE0", 3) : std::string("\xB0\xB0\xB0", 3);
      }
    Le32(idx1, 0x62643030);  // "00db"
    Le32(idx1, 0x10);        // key frame
    Le32(idx1, static_cast<std::uint32_t>(4 + movi.size()));
    Le32(idx1, kFrameBytes);
    movi += chunk("00db", pixels);
  }
  std::string body = hdrl + list("movi", movi) + chunk("idx1", idx1);
  const std::size_t used = 12 + body.size() + 8;
  const std::size_t pad = size > used ? size - used : 0;
  body += chunk("JUNK", filler.substr(0, std::min(pad, filler.size())) +
                            std::string(pad > filler.size() ? pad - filler.size() : 0, '\0'));
  return Riff("AVI ", body);
}

std::string Midi(std::size_t size) {
  std::string out = "MThd";
  Be32(out, 6);
  out += std::string("\x00\x00\x00\x01\x00\x60", 6);
  std::string track;
  // Notes C, E, G repeated: delta, note on, delta, note off.
  for (int i = 0; track.size() + 26 < size; ++i) {
    const char note = static_cast<char>(60 + (i % 3) * 2 + (i % 3 == 2 ? 1 : 0) + (i % 3 ? 2 : 0));
    track += std::string("\x00\x90", 2) + note + "\x50";
    track += std::string("\x30\x80", 2) + note + std::string("\x00", 1);
  }
  track += std::string("\x00\xFF\x2F\x00", 4);
  out += "MTrk";
  Be32(out, static_cast<std::uint32_t>(track.size()));
  return out + track;
}

std::string Mp3(Prng& rng, std::size_t size) {
  std::string out("ID3\x03\x00\x00", 6);
  std::string frame = "TIT2";
  std::string title = std::string("\x00", 1) + "Voice memo";
  Be32(frame, static_cast<std::uint32_t>(title.size()));
  frame += std::string("\x00\x00", 2) + title;
  // Tag size as four 7-bit bytes.
  const std::uint32_t n = static_cast<std::uint32_t>(frame.size());
  out += static_cast<char>((n >> 21) & 0x7F);
  out += static_cast<char>((n >> 14) & 0x7F);
  out += static_cast<char>((n >> 7) & 0x7F);
  out += static_cast<char>(n & 0x7F);
  out += frame;
  // MPEG-1 layer III frames, 128 kbit/s, 44.1 kHz: 417 bytes each, silent.
  while (out.size() < size) {
    out += std::string("\xFF\xFB\x90\x64", 4);
    out += std::string(413, '\0');
  }
  (void)rng;
  return out;
}

std::string Asf(Prng& rng, std::size_t size) {
  std::string out = FromHex("3026b2758e66cf11a6d900aa0062ce6c");
  std::string rest;
  Le32(rest, static_cast<std::uint32_t>(size));
  Le32(rest, 0);
  Le32(rest, 2);
  rest += std::string("\x01\x02", 2);
  out += rest;
  if (out.size() < size) out += Filler(rng, size - out.size());
  return out;
}

std::string RealMedia(Prng& rng, std::size_t size) {
  std::string out = ".RMF";
  Be32(out, 18);
  out += std::string("\x00\x00", 2);
  Be32(out, 0);
  Be32(out, 4);
  if (out.size() < size) out += Filler(rng, size - out.size());
  return out;
}

std::string Mpeg(bool program, Prng& rng, std::size_t size) {
  std::string out;
  if (program) {
    out = FromHex("000001ba440004000401018ba3f8");  // pack header (MPEG-2)
    out += FromHex("000001bb0012800001");           // system header
    out += std::string(15, '\xFF');
  } else {
    out = FromHex("000001b3");  // sequence header: 352 x 288, 25 fps
    out += FromHex("16012013ffffe018");
    out += FromHex("000001b8");  // group of pictures
    out += FromHex("00080000");
  }
  if (out.size() < size) out += Filler(rng, size - out.size());
  return out;
}

struct Kind {
  const char* name;  // MediaBytes kind
  const char* type;  // true type for the truth file
  const char* ext;   // the extension a phone would give it
};

const Kind kKinds[] = {
    {"jpeg-jfif", "jpg", "JPG"},   {"jpeg-exif", "jpg", "JPG"}, {"png", "png", "PNG"},
    {"gif87a", "gif", "GIF"},      {"gif89a", "gif", "GIF"},    {"bmp", "bmp", "BMP"},
    {"ico", "ico", "ico"},         {"mp4-iso", "mp4", "MP4"},   {"mp4-mp42", "mp4", "MP4"},
    {"3gp", "3gp", "3gp"},         {"mov-qt", "mov", "MOV"},    {"mov-moov", "mov", "MOV"},
    {"mp3", "mp3", "mp3"},         {"mid", "mid", "mid"},       {"wav", "wav", "wav"},
    {"avi", "avi", "avi"},         {"asf", "wmv", "wmv"},       {"rm", "rmvb", "rmvb"},
    {"mpeg-ps", "mpeg", "mpg"},    {"mpeg-es", "mpeg", "m2v"},  {"heic", "heic", "HEIC"},
    {"heic-mif1", "heic", "HEIC"}, {"avif", "avif", "AVIF"}};

// A real HEIF picture of one of a few variants, made up to `size` with a "free" box at
// its end (which readers skip) so that files differ in size as photos do. "heic-mif1"
// opens with the structural brand mif1, as some cameras write it.
std::string Heif(const std::string& kind, Prng& rng, std::size_t size) {
  const HeifCodec codec = kind == "avif" ? HeifCodec::kAvif : HeifCodec::kHevc;
  std::string error;
  std::string out = HeifPicture(codec, kHeifSampleWidth, kHeifSampleHeight,
                                static_cast<unsigned>(rng.Below(8)), &error);
  if (out.empty()) throw std::runtime_error(error);
  if (kind == "heic-mif1" && out.compare(4, 8, "ftypheic") == 0) out.replace(8, 4, "mif1");
  if (out.size() + 8 < size) out += Box("free", Filler(rng, size - out.size() - 8));
  return out;
}

}  // namespace

std::string MediaBytes(const std::string& kind, Prng& rng, std::size_t size) {
  size = std::max<std::size_t>(size, 512);
  if (kind == "jpeg-jfif") return Jpeg(false, rng, size);
  if (kind == "jpeg-exif") return Jpeg(true, rng, size);
  if (kind == "png") return Png(rng, size);
  if (kind == "gif87a") return Gif(true, rng, size);
  if (kind == "gif89a") return Gif(false, rng, size);
  if (kind == "bmp") return Bmp(size);
  if (kind == "ico") return Ico(rng, size);
  if (kind == "mp4-iso") return IsoMedia("isom", "iso2", rng, size);
  if (kind == "mp4-mp42") return IsoMedia("mp42", "isom", rng, size);
  if (kind == "3gp") return IsoMedia("3gp4", "3gp4", rng, size);
  if (kind == "mov-qt") return IsoMedia("qt  ", "qt  ", rng, size);
  if (kind == "mov-moov") {
    // Detected by "moov" at the very start of the file.
    std::string mvhd(100, '\0');
    std::string out = "moov" + Box("mvhd", mvhd);
    return out + Box("free", Filler(rng, size > out.size() + 8 ? size - out.size() - 8 : 8));
  }
  if (kind == "heic" || kind == "heic-mif1" || kind == "avif") return Heif(kind, rng, size);
  if (kind == "mp3") return Mp3(rng, size);
  if (kind == "mid") return Midi(size);
  if (kind == "wav") return Wav(size);
  if (kind == "avi") return Avi(rng, size);
  if (kind == "asf") return Asf(rng, size);
  if (kind == "rm") return RealMedia(rng, size);
  if (kind == "mpeg-ps") return Mpeg(true, rng, size);
  if (kind == "mpeg-es") return Mpeg(false, rng, size);
  return Filler(rng, size);
}

void WriteMedia(BackupContext& ctx) {
  const BackupOptions& o = ctx.options();
  Prng rng = ctx.prng().Fork(88);
  const std::int64_t base = ParseIsoDate(o.date) - 200 * 86400;
  int counter = 0;
  auto add = [&](const std::string& domain, const std::string& path, const Kind& k,
                 std::size_t size) {
    ctx.AddFile(domain, path, MediaBytes(k.name, rng, size), k.type, base + 600 * counter++);
  };
  // One file of every kind in each place.
  const std::size_t n = sizeof(kKinds) / sizeof(kKinds[0]);
  for (std::size_t i = 0; i < n; ++i) {
    const Kind& k = kKinds[i];
    char name[64];
    std::snprintf(name, sizeof name, "IMG_%04d.%s", static_cast<int>(100 + i), k.ext);
    add("CameraRollDomain", std::string("Media/DCIM/100APPLE/") + name, k, 600 + 97 * i);
    add("MediaDomain", "Media/PhotoStreamsData/1234567890/100APPLE/" + std::string(name), k,
        700 + 31 * i);
    std::snprintf(name, sizeof name, "file_%02d.%s", static_cast<int>(i), k.ext);
    add("AppDomain-com.example.camera", std::string("Documents/") + name, k, 800 + 13 * i);
    add("AppDomain-net.example.player", std::string("Library/Caches/") + name, k, 900 + 7 * i);
    add("AppDomain-org.sample.viewer", std::string("Documents/media/") + name, k, 650 + 5 * i);
    add("AppDomain-net.whatsapp.WhatsApp", std::string("Library/Media/Received/") + name, k, 750);
    add("AppDomainGroup-group.net.whatsapp.WhatsApp.shared",
        std::string("Message/Media/Shared/") + name, k, 760);
  }
  // Names that lie about the content, short files and empty files.
  const Kind& png = kKinds[2];
  const Kind& jpg = kKinds[0];
  const Kind& mp4 = kKinds[7];
  add("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0900.JPG", png, 1500);
  add("AppDomain-com.example.camera", "Documents/photo.jpg", png, 1200);
  add("AppDomain-com.example.camera", "Documents/noextension", jpg, 1200);
  add("AppDomain-net.example.player", "Documents/movie.mov", mp4, 2000);
  add("MediaDomain", "Library/SMS/Attachments/0f/15/LIE-0001/photo.jpg", png, 800);
  {
    Prng small = rng.Fork(1);
    ctx.AddFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0901.JPG",
                MediaBytes("jpeg-jfif", small, 512).substr(0, 511), "jpg", base);
    ctx.AddFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0902.JPG", "", "empty", base);
    ctx.AddFile("MediaDomain", "Library/SMS/Attachments/1a/02/EMPTY-0001/empty.jpg", "", "empty",
                base);
    ctx.AddFile("AppDomain-com.example.camera", "Documents/tiny.png",
                MediaBytes("png", small, 512).substr(0, 300), "png", base);
  }
  // Further media, cycling through the kinds and places.
  const char* domains[] = {"CameraRollDomain", "MediaDomain", "AppDomain-com.example.camera",
                           "AppDomain-net.whatsapp.WhatsApp", "MediaDomain"};
  for (int i = 0; i < o.media; ++i) {
    const Kind& k = kKinds[static_cast<std::size_t>(i) % n];
    const int place = i % 5;
    char name[64];
    std::snprintf(name, sizeof name, "IMG_%05d.%s", 10000 + i, k.ext);
    std::string path;
    switch (place) {
      case 0:
        path = "Media/DCIM/1" + std::to_string(10 + i / 1000) + "APPLE/" + name;
        break;
      case 1:
        path =
            "Media/PhotoStreamsData/1234567890/1" + std::to_string(10 + i / 1000) + "APPLE/" + name;
        break;
      case 2:
        path = std::string("Documents/gallery/") + name;
        break;
      case 3:
        path = std::string("Library/Media/Sent/") + name;
        break;
      default:
        path = "Library/SMS/Attachments/" + std::to_string(10 + i % 90) + "/0" +
               std::to_string(i % 10) + "/" + name;
        break;
    }
    add(domains[place], path, k, 512 + rng.Below(1500));
  }
}

void WriteExtraEntries(BackupContext& ctx) {
  const BackupOptions& o = ctx.options();
  const std::int64_t when = ParseIsoDate(o.date) - 100 * 86400;
  // Directories a real manifest lists, then the requested filler entries.
  for (const char* dir : {"Library", "Library/SMS", "Library/AddressBook", "Library/Notes",
                          "Library/CallHistoryDB", "Media", "Media/DCIM", "Media/DCIM/100APPLE"})
    ctx.AddDirectory(std::string(dir).rfind("Media", 0) == 0 ? "CameraRollDomain" : "HomeDomain",
                     dir, when);
  ctx.AddDirectory("AppDomain-net.whatsapp.WhatsApp", "Documents", when);
  for (int i = 0; i < o.manifestExtra; ++i) {
    const std::string domain =
        i % 4 == 0 ? "HomeDomain" : "AppDomain-com.example.app" + std::to_string(i % 7);
    if (i % 3 == 2) {
      ctx.AddDirectory(domain, "Library/Caches/dir" + std::to_string(i), when + i);
    } else {
      const std::string body =
          "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>n</key><integer>" +
          std::to_string(i) + "</integer></dict></plist>\n";
      ctx.AddFile(domain, "Library/Preferences/com.example.pref" + std::to_string(i) + ".plist",
                  body, "plist", when + i);
    }
  }
}

}  // namespace bv::mkbackup

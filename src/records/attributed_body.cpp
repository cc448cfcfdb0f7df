#include "records/attributed_body.h"

#include <cstdint>

#include "common/text.h"

namespace bv {

namespace {

constexpr unsigned char kTagInteger2 = 0x81;
constexpr unsigned char kTagInteger4 = 0x82;

class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : bytes_(bytes) {}
  std::size_t At() const { return at_; }
  void Seek(std::size_t at) { at_ = at; }
  bool Byte(unsigned char& out) {
    if (at_ >= bytes_.size()) return false;
    out = static_cast<unsigned char>(bytes_[at_++]);
    return true;
  }
  // A typed integer as a length: unsigned, at most the bytes left.
  bool Length(std::uint64_t& out) {
    unsigned char first = 0;
    if (!Byte(first)) return false;
    std::size_t width = 0;
    if (first == kTagInteger2) {
      width = 2;
    } else if (first == kTagInteger4) {
      width = 4;
    } else if (first < 0x80) {
      out = first;
      return true;
    } else {
      return false;  // another tag, or a negative single-byte value: no length
    }
    if (bytes_.size() - at_ < width) return false;
    out = 0;
    for (std::size_t i = 0; i < width; ++i)
      out |= std::uint64_t{static_cast<unsigned char>(bytes_[at_ + i])} << (8 * i);
    at_ += width;
    return true;
  }
  bool Take(std::uint64_t size, std::string_view& out) {
    if (size > bytes_.size() - at_) return false;
    out = bytes_.substr(at_, static_cast<std::size_t>(size));
    at_ += static_cast<std::size_t>(size);
    return true;
  }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

// How far after the class name the string's type may start: the class version, the
// superclass (a reference, or NSObject's definition) and the end of the chain.
constexpr std::size_t kChainWindow = 48;

}  // namespace

bool DecodeAttributedBodyText(std::string_view blob, std::string& text) {
  text.clear();
  Cursor in(blob);
  unsigned char version = 0;
  std::uint64_t length = 0;
  std::string_view signature;
  if (!in.Byte(version) || version != 4 || !in.Length(length) || !in.Take(length, signature) ||
      signature != "streamtyped")
    return false;
  std::uint64_t systemVersion = 0;
  if (!in.Length(systemVersion)) return false;

  // The first class chain that names NSString: the string object's.
  static constexpr std::string_view kName = "\x08NSString";
  const std::size_t name = blob.find(kName, in.At());
  if (name == std::string_view::npos) return false;
  // Its value: a new type string of one character, "+".
  static constexpr std::string_view kType = "\x84\x01+";
  const std::size_t type = blob.find(kType, name + kName.size());
  if (type == std::string_view::npos || type - (name + kName.size()) > kChainWindow) return false;
  in.Seek(type + kType.size());
  std::string_view bytes;
  if (!in.Length(length) || !in.Take(length, bytes)) return false;
  // A broken sequence shows as U+FFFD rather than losing the message's text.
  text = ValidUtf8(bytes);
  return true;
}

}  // namespace bv

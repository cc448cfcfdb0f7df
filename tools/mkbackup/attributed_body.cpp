// NSAttributedString in NSArchiver's typedstream form, as the message app stores it in
// message.attributedBody: the string object, then one attribute run over its whole
// length (the message part attribute).
#include <string>

#include "mkbackup.h"

namespace bv::mkbackup {

namespace {

// A typed integer: one byte up to 127, else 0x81 and two bytes, else 0x82 and four
// bytes, little-endian.
void AppendInteger(std::string& out, std::uint64_t value) {
  if (value < 128) {
    out += static_cast<char>(value);
    return;
  }
  const int width = value < 65536 ? 2 : 4;
  out += static_cast<char>(width == 2 ? 0x81 : 0x82);
  for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::size_t Utf16Length(const std::string& utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) == 0x80) continue;
    n += c >= 0xF0 ? 2 : 1;  // beyond the basic plane: a surrogate pair
  }
  return n;
}

}  // namespace

std::string AttributedBody(const std::string& text, bool mutableString) {
  using namespace std::string_literals;
  std::string out =
      "\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x12NSAttributedString\x00"
      "\x84\x84\x08NSObject\x00\x85\x92\x84\x84\x84"s;
  if (mutableString) out += "\x0fNSMutableString\x01\x84\x84"s;
  out += "\x08NSString\x01\x94\x84\x01+"s;
  AppendInteger(out, text.size());
  out += text;
  out += "\x86\x84\x02iI\x01"s;
  AppendInteger(out, Utf16Length(text));
  out +=
      "\x92\x84\x84\x84\x0cNSDictionary\x00\x94\x84\x01i\x01\x92\x84\x96\x96\x1d"
      "__kIMMessagePartAttributeName\x86\x92\x84\x84\x84\x08NSNumber\x00\x84\x84\x07NSValue\x00"
      "\x94\x84\x01*\x84\x99\x99\x00\x86\x86\x86"s;
  return out;
}

}  // namespace bv::mkbackup

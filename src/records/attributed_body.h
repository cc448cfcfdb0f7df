#pragma once
// The text of a message's attributedBody: an NSAttributedString that the phone
// serializes with NSArchiver's "typedstream" format. From iOS 16 on, many rows keep
// their text only there (message.text is NULL).
//
// The stream: a version byte (4), the signature "streamtyped" with its length byte,
// the system version as a typed integer, then objects. An attributed string's first
// object is its string: a class chain that names NSString (or NSMutableString over
// NSString), then the value written with the type "+" (bytes with a length): the
// UTF-8 text. Integers are a byte of -110..127 (0x92..0x7F), or 0x81 and two bytes, or
// 0x82 and four bytes (little-endian); so a length takes one byte below 128, three
// below 65,536 and five beyond.
// Bounds-checked over arbitrary bytes; no allocation beyond the text.
#include <string>
#include <string_view>

namespace bv {

// The string of the attributed string in `blob` (UTF-8; a broken sequence becomes
// U+FFFD); false, with `text` empty, when the bytes are no typedstream, hold no string
// or are cut short.
bool DecodeAttributedBodyText(std::string_view blob, std::string& text);

}  // namespace bv

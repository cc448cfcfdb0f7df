#pragma once
// The text of a note of the newer note store: ZICNOTEDATA.ZDATA is a gzip member whose
// content is a protocol-buffer document. Its text is field 2 (the note) of field 3 of
// field 2 of the top message; the other fields (attribute runs: fonts, paragraph
// styles such as checklists, links, attachments) are skipped. Attachments stand in the
// text as U+FFFC, as the phone keeps them.
//
// Both layers are bounds-checked over arbitrary bytes; the inflated document is capped
// (kMaxNoteDocument) so that a small blob cannot make the reader allocate without end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bv {

inline constexpr std::size_t kMaxNoteDocument = std::size_t{64} << 20;

// Inflates a gzip member (or a zlib stream) into `out`; false when the bytes are not
// one, are cut short, fail their check or would inflate beyond `limit`.
bool InflateDocument(std::string_view compressed, std::string& out,
                     std::size_t limit = kMaxNoteDocument);

// The protocol-buffer wire format, read without a schema.
class ProtoFields {
 public:
  explicit ProtoFields(std::string_view message) : rest_(message) {}
  // The next field: its number, wire type and, for length-delimited fields (type 2),
  // its bytes; varints land in `number`. False at the end and on malformed bytes
  // (Failed() tells them apart); groups (types 3, 4) count as malformed.
  bool Next(std::uint32_t& field, int& type, std::string_view& bytes, std::uint64_t& number);
  bool Failed() const { return failed_; }

 private:
  std::string_view rest_;
  bool failed_ = false;
};

// The first length-delimited field `field` of `message`; false when there is none or
// the message is malformed before it.
bool FindBytesField(std::string_view message, std::uint32_t field, std::string_view& out);

// The note text of a ZDATA value (UTF-8; broken sequences become U+FFFD); false, with
// `text` empty, when it does not decode.
bool DecodeNoteDocument(std::string_view zdata, std::string& text);

}  // namespace bv

// Decodes arbitrary bytes as a note's ZDATA (gzip around a protocol-buffer document),
// and walks them as a bare protocol-buffer message too. Nothing may crash, hang or leak.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/text.h"
#include "records/note_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string text;
  const bool ok = bv::DecodeNoteDocument(bytes, text);
  if ((!ok && !text.empty()) || !bv::IsValidUtf8(text)) std::abort();
  bv::ProtoFields fields(bytes);
  std::uint32_t field = 0;
  int type = 0;
  std::string_view value;
  std::uint64_t number = 0;
  while (fields.Next(field, type, value, number)) {
    if (value.data() != nullptr &&
        (value.data() < bytes.data() || value.data() + value.size() > bytes.data() + size))
      std::abort();
  }
  return 0;
}

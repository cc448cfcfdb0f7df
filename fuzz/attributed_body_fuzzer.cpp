// Decodes arbitrary bytes as a message's attributedBody. The text, when there is one,
// must be valid UTF-8 and no longer than the input. Nothing may crash, hang or leak.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/text.h"
#include "records/attributed_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text;
  const bool ok = bv::DecodeAttributedBodyText(
      std::string_view(reinterpret_cast<const char*>(data), size), text);
  if (!ok && !text.empty()) std::abort();
  if (!bv::IsValidUtf8(text) || text.size() > 3 * size) std::abort();
  return 0;
}

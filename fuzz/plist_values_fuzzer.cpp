// Feeds arbitrary bytes to the property-list readers of discovery: the character
// reference decoder of text values, the binary Info.plist reader and Manifest.plist's
// IsEncrypted.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/plist_values.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Decoding never makes text longer, and text without "&" comes back unchanged.
  const std::string decoded = bv::DecodeXmlReferences(bytes);
  if (decoded.size() > bytes.size()) __builtin_trap();
  if (bytes.find('&') == std::string_view::npos && decoded != bytes) __builtin_trap();
  bv::InfoPlistValues values;
  const bool binary = bv::ReadBinaryInfoPlist(bytes, values);
  if (binary && !bv::IsBinaryPlist(bytes)) __builtin_trap();
  bv::ReadManifestEncryptedFlag(bytes);
  return 0;
}

#include "device/relay_request.h"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>

namespace bv {

std::string BuildRelayRequestXml() {
  plist_t request = plist_new_dict();
  plist_t sources = plist_new_array();
  plist_array_append_item(sources, plist_new_string("UserDatabases"));
  plist_dict_set_item(request, "Sources", sources);  // the dictionary owns the array now
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(request, &xml, &length);
  std::string text;
  if (xml != nullptr) text.assign(xml, length);
  plist_to_xml_free(xml);
  plist_free(request);
  return text;
}

std::string FrameRelayMessage(const std::string& payload) {
  if (payload.size() > std::numeric_limits<std::uint32_t>::max()) return {};
  const auto n = static_cast<std::uint32_t>(payload.size());
  std::string message;
  message.reserve(payload.size() + 4);
  message.push_back(static_cast<char>((n >> 24) & 0xff));
  message.push_back(static_cast<char>((n >> 16) & 0xff));
  message.push_back(static_cast<char>((n >> 8) & 0xff));
  message.push_back(static_cast<char>(n & 0xff));
  message += payload;
  return message;
}

std::uint32_t ReadBigEndian32(const unsigned char* bytes) {
  return (static_cast<std::uint32_t>(bytes[0]) << 24) |
         (static_cast<std::uint32_t>(bytes[1]) << 16) |
         (static_cast<std::uint32_t>(bytes[2]) << 8) | static_cast<std::uint32_t>(bytes[3]);
}

}  // namespace bv

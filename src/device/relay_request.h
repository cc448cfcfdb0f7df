#pragma once
// The file-relay request and the framing of messages on the relay connection: a 4-byte
// big-endian length followed by that many bytes.
#include <cstdint>
#include <string>

namespace bv {

// The request as an XML property list: a dictionary whose "Sources" holds an array
// with the one string "UserDatabases". Built with libplist.
std::string BuildRelayRequestXml();

// `payload` preceded by its length as 4 big-endian bytes; empty when the payload does
// not fit 32 bits.
std::string FrameRelayMessage(const std::string& payload);

std::uint32_t ReadBigEndian32(const unsigned char* bytes);

}  // namespace bv

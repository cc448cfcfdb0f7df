// The settings and language file reader: any bytes decode and parse without a fault;
// every line lands in a section or is dropped.
#include <cstddef>
#include <cstdint>
#include <string>

// The reader lives with the language store in the front end's library; it has no Qt in
// it, so the target compiles it directly.
#include "app/lang/ini_file.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string text = bv::lang::DecodeIniBytes(bytes);
  const auto sections = bv::lang::ParseIni(text);
  size_t total = 0;
  for (const auto& s : sections) total += s.lines.size();
  if (total > text.size() + 1) __builtin_trap();  // never more lines than characters
  return 0;
}

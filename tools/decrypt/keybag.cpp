#include "keybag.h"

#include <cstring>

namespace bv::decrypt {

namespace {

std::uint32_t BigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

bool IsTag(const std::uint8_t* p, const char* tag) {
  return std::memcmp(p, tag, 4) == 0;
}

bool IsIntegerTag(const std::uint8_t* p) {
  static const char* const kTags[] = {"VERS", "TYPE", "WRAP", "ITER",
                                      "DPWT", "DPIC", "CLAS", "KTYP"};
  for (const char* tag : kTags) {
    if (IsTag(p, tag)) return true;
  }
  return false;
}

void Fail(std::string* error, const std::string& reason) {
  if (error) *error = reason;
}

}  // namespace

bool ParseKeybag(const std::uint8_t* data, std::size_t size, Keybag& keybag, std::string* error) {
  keybag = Keybag{};
  if (!data && size) return false;
  bool inClasses = false;
  bool headerWrapSeen = false;
  bool haveDpic = false;
  bool haveIter = false;
  std::size_t pos = 0;
  while (size - pos >= 8) {
    const std::uint8_t* tag = data + pos;
    const std::uint32_t length = BigEndian32(data + pos + 4);
    pos += 8;
    if (length > size - pos) {
      Fail(error, "keybag record runs past the end");
      return false;
    }
    const std::uint8_t* value = data + pos;
    pos += length;
    if (IsIntegerTag(tag) && length != 4) {
      Fail(error, "keybag integer record is not 4 bytes");
      return false;
    }
    const std::uint32_t number = length == 4 ? BigEndian32(value) : 0;

    if (IsTag(tag, "UUID")) {
      if (keybag.uuid.empty() && !inClasses) {
        keybag.uuid.assign(value, value + length);
        if (keybag.uuid.empty()) keybag.uuid.push_back(0);  // an empty header id still counts
      } else {
        inClasses = true;
        keybag.classes.emplace_back();
      }
      continue;
    }
    if (inClasses) {
      KeybagClass& entry = keybag.classes.back();
      if (IsTag(tag, "CLAS"))
        entry.protectionClass = number;
      else if (IsTag(tag, "WRAP"))
        entry.wrap = number;
      else if (IsTag(tag, "KTYP"))
        entry.keyType = number;
      else if (IsTag(tag, "WPKY"))
        entry.wrappedKey.assign(value, value + length);
      continue;
    }
    if (IsTag(tag, "VERS"))
      keybag.version = number;
    else if (IsTag(tag, "TYPE"))
      keybag.type = number;
    else if (IsTag(tag, "WRAP") && !headerWrapSeen)
      headerWrapSeen = true;
    else if (IsTag(tag, "SALT"))
      keybag.salt.assign(value, value + length);
    else if (IsTag(tag, "ITER")) {
      keybag.iterations = number;
      haveIter = true;
    } else if (IsTag(tag, "DPSL"))
      keybag.dpSalt.assign(value, value + length);
    else if (IsTag(tag, "DPIC")) {
      keybag.dpIterations = number;
      haveDpic = true;
    }
  }
  // Fewer than 8 trailing bytes cannot hold a record; they are ignored.
  if (keybag.salt.empty() || !haveIter || keybag.iterations == 0) {
    Fail(error, "keybag has no SALT or ITER");
    return false;
  }
  keybag.hasDp = haveDpic && !keybag.dpSalt.empty();
  if (keybag.hasDp && keybag.dpIterations == 0) {
    Fail(error, "keybag DPIC is 0");
    return false;
  }
  return true;
}

bool DeriveKek(const Keybag& keybag, const std::string& password, Bytes& kek) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(password.data());
  if (!keybag.hasDp) {
    return Pbkdf2Sha1(bytes, password.size(), keybag.salt, keybag.iterations, kek);
  }
  Bytes first;
  if (!Pbkdf2Sha256(bytes, password.size(), keybag.dpSalt, keybag.dpIterations, first)) {
    return false;
  }
  // The second stage takes the 32 raw bytes of the first as its password.
  const bool ok = Pbkdf2Sha1(first.data(), first.size(), keybag.salt, keybag.iterations, kek);
  Wipe(first);
  return ok;
}

ClassKeys::~ClassKeys() {
  for (auto& entry : keys) Wipe(entry.second);
}

const Bytes* ClassKeys::Find(std::uint32_t protectionClass) const {
  auto it = keys.find(protectionClass);
  return it == keys.end() ? nullptr : &it->second;
}

UnlockResult UnlockKeybag(const Keybag& keybag, const Bytes& kek, ClassKeys& keys) {
  for (auto& entry : keys.keys) Wipe(entry.second);
  keys.keys.clear();
  bool any = false;
  for (const KeybagClass& entry : keybag.classes) {
    if ((entry.wrap & 2) == 0 || entry.wrappedKey.empty()) continue;
    any = true;
    Bytes key;
    if (!AesUnwrap(kek, entry.wrappedKey, key)) {
      for (auto& k : keys.keys) Wipe(k.second);
      keys.keys.clear();
      return UnlockResult::kWrongPassword;
    }
    // Keys that are also wrapped by the device (WRAP 3) stay unusable here; only
    // password-only keys are kept for files.
    if (entry.wrap == 2) {
      Wipe(keys.keys[entry.protectionClass]);
      keys.keys[entry.protectionClass] = std::move(key);
    } else {
      Wipe(key);
    }
  }
  return any ? UnlockResult::kOk : UnlockResult::kNoClasses;
}

bool ParseWrappedKey(const std::uint8_t* data, std::size_t size, WrappedKey& key) {
  if (!data || size != 4 + kWrappedKeySize) return false;
  key.protectionClass = std::uint32_t{data[0]} | (std::uint32_t{data[1]} << 8) |
                        (std::uint32_t{data[2]} << 16) | (std::uint32_t{data[3]} << 24);
  key.wrapped.assign(data + 4, data + size);
  return true;
}

bool UnwrapFileKey(const ClassKeys& keys, const WrappedKey& wrapped, std::uint32_t preferredClass,
                   Bytes& key) {
  std::uint32_t order[2] = {wrapped.protectionClass, 0};
  if (preferredClass != 0 && preferredClass != wrapped.protectionClass) {
    order[0] = preferredClass;
    order[1] = wrapped.protectionClass;
  }
  for (std::uint32_t c : order) {
    if (c == 0) continue;
    const Bytes* classKey = keys.Find(c);
    if (classKey && AesUnwrap(*classKey, wrapped.wrapped, key)) return true;
  }
  return false;
}

}  // namespace bv::decrypt

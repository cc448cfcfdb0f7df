#include "file_blob.h"

#include <plist/plist.h>

#include <memory>

namespace bv::decrypt {

namespace {

struct PlistDeleter {
  void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};

// Follows UID references into $objects; a bounded number of hops guards against
// reference loops in damaged archives.
plist_t Resolve(plist_t objects, plist_t node) {
  for (int hops = 0; node && plist_get_node_type(node) == PLIST_UID && hops < 8; ++hops) {
    uint64_t index = 0;
    plist_get_uid_val(node, &index);
    if (index >= plist_array_get_size(objects)) return nullptr;
    node = plist_array_get_item(objects, static_cast<uint32_t>(index));
  }
  if (node && plist_get_node_type(node) == PLIST_UID) return nullptr;
  return node;
}

bool Integer(plist_t node, std::int64_t& out) {
  if (!node) return false;
  if (plist_get_node_type(node) == PLIST_UINT) {
    uint64_t v = 0;
    plist_get_uint_val(node, &v);
    out = static_cast<std::int64_t>(v);
    return true;
  }
  return false;
}

}  // namespace

bool ParseFileBlob(const std::uint8_t* data, std::size_t size, FileBlobInfo& info) {
  info = FileBlobInfo{};
  if (!data || size == 0 || size > 0xFFFFFFFFu) return false;
  plist_t raw = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size), &raw);
  std::unique_ptr<void, PlistDeleter> root(raw);
  if (!raw || plist_get_node_type(raw) != PLIST_DICT) return false;
  plist_t objects = plist_dict_get_item(raw, "$objects");
  if (!objects || plist_get_node_type(objects) != PLIST_ARRAY) return false;

  plist_t file = nullptr;
  plist_t top = plist_dict_get_item(raw, "$top");
  if (top && plist_get_node_type(top) == PLIST_DICT) {
    file = Resolve(objects, plist_dict_get_item(top, "root"));
  }
  if (!file && plist_array_get_size(objects) > 1) file = plist_array_get_item(objects, 1);
  if (!file || plist_get_node_type(file) != PLIST_DICT) return false;

  std::int64_t number = 0;
  if (Integer(Resolve(objects, plist_dict_get_item(file, "Size")), number)) info.size = number;
  if (Integer(Resolve(objects, plist_dict_get_item(file, "ProtectionClass")), number) &&
      number > 0 && number <= 0xFFFFFFFF) {
    info.protectionClass = static_cast<std::uint32_t>(number);
  }
  plist_t key = Resolve(objects, plist_dict_get_item(file, "EncryptionKey"));
  if (key && plist_get_node_type(key) == PLIST_DICT) {
    key = Resolve(objects, plist_dict_get_item(key, "NS.data"));
  }
  if (key && plist_get_node_type(key) == PLIST_DATA) {
    uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(key, &length);
    if (bytes && length > 0) {
      info.hasKey = true;
      info.encryptionKey.assign(reinterpret_cast<const std::uint8_t*>(bytes),
                                reinterpret_cast<const std::uint8_t*>(bytes) + length);
    }
  }
  return true;
}

}  // namespace bv::decrypt

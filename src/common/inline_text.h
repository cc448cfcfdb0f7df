#pragma once
// A short UTF-8 text kept inside the object that holds it: a record's date
// ("YYYY-MM-DD HH:MM:SS") takes no allocation of its own, where a std::string would
// take one for every record (its own buffer holds 15 bytes). A longer text goes to the
// heap, so any text can be held. Reads as a std::string_view.
#include <compare>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>

namespace bv {

class InlineText {
 public:
  static constexpr std::size_t kInline = 22;  // bytes held in place (a NUL follows)

  InlineText() noexcept { Clear(); }
  InlineText(std::string_view text) { Set(text); }  // NOLINT: as a string converts
  InlineText(const std::string& text) { Set(text); }
  InlineText(const char* text) { Set(text); }
  InlineText(const InlineText& other) { Set(other.view()); }
  InlineText(InlineText&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.Clear();
  }
  ~InlineText() { Free(); }

  InlineText& operator=(const InlineText& other) {
    if (this != &other) Assign(other.view());
    return *this;
  }
  InlineText& operator=(InlineText&& other) noexcept {
    if (this != &other) {
      Free();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      other.Clear();
    }
    return *this;
  }
  InlineText& operator=(std::string_view text) { return Assign(text); }
  InlineText& operator=(const std::string& text) { return Assign(text); }
  InlineText& operator=(const char* text) { return Assign(text); }

  std::string_view view() const noexcept {
    return tag() == kHeap ? std::string_view(HeapData(), HeapSize())
                          : std::string_view(bytes_, tag());
  }
  operator std::string_view() const noexcept { return view(); }  // NOLINT
  std::string str() const { return std::string(view()); }
  const char* data() const noexcept { return tag() == kHeap ? HeapData() : bytes_; }
  const char* c_str() const noexcept { return data(); }
  std::size_t size() const noexcept { return tag() == kHeap ? HeapSize() : tag(); }
  std::size_t length() const noexcept { return size(); }
  bool empty() const noexcept { return size() == 0; }
  void clear() noexcept {
    Free();
    Clear();
  }

  friend bool operator==(const InlineText& a, const InlineText& b) noexcept {
    return a.view() == b.view();
  }
  friend bool operator==(const InlineText& a, std::string_view b) noexcept { return a.view() == b; }
  friend std::strong_ordering operator<=>(const InlineText& a, const InlineText& b) noexcept {
    return a.view().compare(b.view()) <=> 0;
  }
  friend std::strong_ordering operator<=>(const InlineText& a, std::string_view b) noexcept {
    return a.view().compare(b) <=> 0;
  }
  // Exact overloads, so that neither side is converted into the other's type.
  friend bool operator==(const InlineText& a, const std::string& b) noexcept {
    return a.view() == std::string_view(b);
  }
  friend bool operator==(const InlineText& a, const char* b) noexcept {
    return a.view() == std::string_view(b);
  }
  friend std::strong_ordering operator<=>(const InlineText& a, const std::string& b) noexcept {
    return a.view().compare(b) <=> 0;
  }
  friend std::strong_ordering operator<=>(const InlineText& a, const char* b) noexcept {
    return a.view().compare(b) <=> 0;
  }
  friend std::string operator+(const std::string& a, const InlineText& b) {
    return a + std::string(b.view());
  }
  friend std::string operator+(const InlineText& a, const std::string& b) {
    return std::string(a.view()) + b;
  }
  friend std::ostream& operator<<(std::ostream& out, const InlineText& text) {
    return out << text.view();
  }

 private:
  static constexpr unsigned char kHeap = 0xFF;

  // bytes_[23] tells how the text is held: its length when in place (bytes_[0..22],
  // NUL-terminated), else kHeap, with the heap copy's address and length in bytes_[0..15].
  unsigned char tag() const noexcept { return static_cast<unsigned char>(bytes_[kInline + 1]); }
  char* HeapData() const noexcept {
    char* data;
    std::memcpy(&data, bytes_, sizeof data);
    return data;
  }
  std::size_t HeapSize() const noexcept {
    std::size_t size;
    std::memcpy(&size, bytes_ + sizeof(char*), sizeof size);
    return size;
  }
  void Clear() noexcept {
    bytes_[0] = '\0';
    bytes_[kInline + 1] = 0;
  }
  void Free() noexcept {
    if (tag() == kHeap) delete[] HeapData();
  }
  // Writes `text` over the held one; `text` may view this object's own bytes.
  InlineText& Assign(std::string_view text) {
    InlineText copy(text);
    *this = std::move(copy);
    return *this;
  }
  void Set(std::string_view text) {
    if (text.size() <= kInline) {
      if (!text.empty()) std::memcpy(bytes_, text.data(), text.size());
      bytes_[text.size()] = '\0';
      bytes_[kInline + 1] = static_cast<char>(text.size());
    } else {
      char* data = new char[text.size() + 1];
      std::memcpy(data, text.data(), text.size());
      data[text.size()] = '\0';
      const std::size_t size = text.size();
      std::memcpy(bytes_, &data, sizeof data);
      std::memcpy(bytes_ + sizeof data, &size, sizeof size);
      bytes_[kInline + 1] = static_cast<char>(kHeap);
    }
  }

  alignas(8) char bytes_[kInline + 2];
};

static_assert(sizeof(InlineText) == 24);

}  // namespace bv

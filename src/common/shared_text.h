#pragma once
// An immutable UTF-8 text that copies share: the many records that show one text (the
// address-book name of a conversation's correspondent, on every one of its messages)
// hold it once instead of a string each. Reads as a std::string_view; assigning a new
// text makes a new shared copy and leaves the others as they were.
#include <atomic>
#include <compare>
#include <cstddef>
#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <string_view>

namespace bv {

class SharedText {
 public:
  SharedText() noexcept = default;
  SharedText(std::string_view text) { Set(text); }  // NOLINT: as a string converts
  SharedText(const std::string& text) { Set(text); }
  SharedText(const char* text) { Set(text); }
  SharedText(const SharedText& other) noexcept : text_(other.text_) {
    if (text_) text_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  SharedText(SharedText&& other) noexcept : text_(other.text_) { other.text_ = nullptr; }
  ~SharedText() { Release(); }

  SharedText& operator=(const SharedText& other) noexcept {
    SharedText copy(other);
    Swap(copy);
    return *this;
  }
  SharedText& operator=(SharedText&& other) noexcept {
    SharedText taken(std::move(other));
    Swap(taken);
    return *this;
  }

  SharedText& operator=(std::string_view text) { return Assign(text); }
  SharedText& operator=(const std::string& text) { return Assign(text); }
  SharedText& operator=(const char* text) { return Assign(text); }

  std::string_view view() const noexcept {
    return text_ ? std::string_view(text_->bytes(), text_->size) : std::string_view();
  }
  operator std::string_view() const noexcept { return view(); }  // NOLINT
  std::string str() const { return std::string(view()); }
  const char* data() const noexcept { return text_ ? text_->bytes() : ""; }
  const char* c_str() const noexcept { return data(); }
  std::size_t size() const noexcept { return text_ ? text_->size : 0; }
  std::size_t length() const noexcept { return size(); }
  bool empty() const noexcept { return size() == 0; }
  void clear() noexcept {
    Release();
    text_ = nullptr;
  }

  friend bool operator==(const SharedText& a, const SharedText& b) noexcept {
    return (a.text_ != nullptr && a.text_ == b.text_) || a.view() == b.view();
  }
  friend bool operator==(const SharedText& a, std::string_view b) noexcept { return a.view() == b; }
  friend bool operator==(const SharedText& a, const std::string& b) noexcept {
    return a.view() == std::string_view(b);
  }
  friend bool operator==(const SharedText& a, const char* b) noexcept {
    return a.view() == std::string_view(b);
  }
  friend std::strong_ordering operator<=>(const SharedText& a, const SharedText& b) noexcept {
    return a.view().compare(b.view()) <=> 0;
  }
  friend std::strong_ordering operator<=>(const SharedText& a, std::string_view b) noexcept {
    return a.view().compare(b) <=> 0;
  }
  friend std::strong_ordering operator<=>(const SharedText& a, const std::string& b) noexcept {
    return a.view().compare(b) <=> 0;
  }
  friend std::strong_ordering operator<=>(const SharedText& a, const char* b) noexcept {
    return a.view().compare(b) <=> 0;
  }
  friend std::string operator+(const std::string& a, const SharedText& b) {
    return a + std::string(b.view());
  }
  friend std::string operator+(const SharedText& a, const std::string& b) {
    return std::string(a.view()) + b;
  }
  friend std::ostream& operator<<(std::ostream& out, const SharedText& text) {
    return out << text.view();
  }

 private:
  // One allocation a distinct text: the count of its holders, its length, and its
  // bytes with a NUL after them (8 bytes in a record, where a shared_ptr takes 16).
  struct Block {
    std::atomic<std::size_t> refs;
    std::size_t size;
    char* bytes() noexcept { return reinterpret_cast<char*>(this + 1); }
  };

  void Swap(SharedText& other) noexcept {
    Block* held = text_;
    text_ = other.text_;
    other.text_ = held;
  }
  void Release() noexcept {
    if (text_ && text_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      text_->~Block();
      ::operator delete(static_cast<void*>(text_));
    }
  }
  SharedText& Assign(std::string_view text) {
    SharedText made(text);  // `text` may view this object's own text
    Swap(made);
    return *this;
  }
  void Set(std::string_view text) {
    if (text.empty()) return;
    void* raw = ::operator new(sizeof(Block) + text.size() + 1);
    Block* block = new (raw) Block;
    block->refs.store(1, std::memory_order_relaxed);
    block->size = text.size();
    std::memcpy(block->bytes(), text.data(), text.size());
    block->bytes()[text.size()] = '\0';
    text_ = block;
  }

  Block* text_ = nullptr;  // null for the empty text
};

static_assert(sizeof(SharedText) == sizeof(void*));

}  // namespace bv

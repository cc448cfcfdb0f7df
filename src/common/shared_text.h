#pragma once
// An immutable UTF-8 text that copies share: the many records that show one text (the
// address-book name of a conversation's correspondent, on every one of its messages)
// hold it once instead of a string each. Reads as a std::string_view; assigning a new
// text makes a new shared copy and leaves the others as they were.
#include <compare>
#include <memory>
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

  SharedText& operator=(std::string_view text) { return Assign(text); }
  SharedText& operator=(const std::string& text) { return Assign(text); }
  SharedText& operator=(const char* text) { return Assign(text); }

  std::string_view view() const noexcept {
    return text_ ? std::string_view(*text_) : std::string_view();
  }
  operator std::string_view() const noexcept { return view(); }  // NOLINT
  std::string str() const { return std::string(view()); }
  const char* data() const noexcept { return text_ ? text_->data() : ""; }
  const char* c_str() const noexcept { return text_ ? text_->c_str() : ""; }
  std::size_t size() const noexcept { return text_ ? text_->size() : 0; }
  std::size_t length() const noexcept { return size(); }
  bool empty() const noexcept { return size() == 0; }
  void clear() noexcept { text_.reset(); }

  friend bool operator==(const SharedText& a, const SharedText& b) noexcept {
    return a.text_ == b.text_ || a.view() == b.view();
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
  SharedText& Assign(std::string_view text) {
    SharedText made(text);  // `text` may view this object's own text
    text_ = std::move(made.text_);
    return *this;
  }
  void Set(std::string_view text) {
    if (!text.empty()) text_ = std::make_shared<const std::string>(text);
  }

  std::shared_ptr<const std::string> text_;  // null for the empty text
};

}  // namespace bv

#pragma once
// The one place where engine text becomes Qt text, and Qt text (a folder the user
// picked, a typed password) goes back to the engine. Engine records carry UTF-8
// `std::string` fields; they convert here, without the locale. Only what a window
// shows is converted.
#include <QString>
#include <string>
#include <string_view>

namespace bv {

inline QString ToQ(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
inline QString ToQ(const std::string& utf8) {
  return ToQ(std::string_view(utf8));
}
inline QString ToQ(const char* utf8) {
  return utf8 ? QString::fromUtf8(utf8) : QString();
}

inline std::string ToUtf8(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace bv

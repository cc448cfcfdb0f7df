#pragma once
// The messages that pages, menus and worker threads post to the main window. Each is a
// QEvent carrying the message number and its first parameter; posting is safe from any
// thread, and the main window handles every message on the user-interface thread, so a
// worker never touches a widget.
#include <QEvent>
#include <QString>
#include <cstdint>

class QObject;

namespace bv::msg {

inline constexpr int kPreviewReady = 1027;  // the preview has copied a media file
inline constexpr int kLanguageChanged = 1030;
inline constexpr int kStartScan = 1031;  // first parameter: the source kind
inline constexpr int kUpdateCounts = 1032;
inline constexpr int kCategorySelection = 1033;  // first parameter: the category id
inline constexpr int kScanEnded = 1034;          // first parameter: the last result
inline constexpr int kPasswordResult = 1035;     // 0 the source is open, 1 wrong password
inline constexpr int kPrintReady = 1036;
inline constexpr int kHelp = 1124;
inline constexpr int kFaq = 1125;
inline constexpr int kAbout = 1128;
inline constexpr int kSupport = 1129;
// Our own: what the scan worker reported beyond the numbered messages (its progress,
// a warning to show by its message identifier, a category it could not read).
inline constexpr int kScanProgress = 1100;
inline constexpr int kScanWarning = 1101;
// A chosen category's source could not be read (first parameter: the category id); the
// reason is the session's, read when the message arrives.
inline constexpr int kScanSourceProblem = 1102;

class CWindowMessageEvent : public QEvent {
 public:
  CWindowMessageEvent(int message, std::int64_t wParam, std::int64_t lParam = 0,
                      QString text = QString());
  // The one event type of every window message (registered on first use).
  static QEvent::Type Type();

  int Message() const { return m_message; }
  std::int64_t WParam() const { return m_wParam; }
  std::int64_t LParam() const { return m_lParam; }
  const QString& Text() const { return m_text; }

 private:
  int m_message;
  std::int64_t m_wParam;
  std::int64_t m_lParam;
  QString m_text;
};

// Queues a message for `target`; returns at once. Any thread.
void Post(QObject* target, int message, std::int64_t wParam = 0, std::int64_t lParam = 0,
          const QString& text = QString());

}  // namespace bv::msg

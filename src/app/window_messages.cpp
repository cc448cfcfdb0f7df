#include "app/window_messages.h"

#include <QCoreApplication>

namespace bv::msg {

CWindowMessageEvent::CWindowMessageEvent(int message, std::int64_t wParam, std::int64_t lParam,
                                         QString text)
    : QEvent(Type()),
      m_message(message),
      m_wParam(wParam),
      m_lParam(lParam),
      m_text(std::move(text)) {}

QEvent::Type CWindowMessageEvent::Type() {
  // Static initialisation is thread-safe, and registerEventType is too.
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void Post(QObject* target, int message, std::int64_t wParam, std::int64_t lParam,
          const QString& text) {
  if (!target) return;
  QCoreApplication::postEvent(target, new CWindowMessageEvent(message, wParam, lParam, text));
}

}  // namespace bv::msg

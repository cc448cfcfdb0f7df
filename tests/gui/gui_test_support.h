#pragma once
// Helpers for window tests: a QApplication for the whole test run (offscreen), skins
// held in memory, and a way to act on a modal window once it runs.
#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTimer>
#include <functional>

#include "ui/skin_source.h"
#include "ui/skin_window.h"

namespace bv::testing {

// Skin files kept in memory, for framework tests.
class MemorySkinSource : public ui::ISkinSource {
 public:
  void Put(const QString& name, const QByteArray& bytes) {
    m_files.insert(ui::NormaliseSkinPath(name), bytes);
  }
  bool Read(const QString& name, QByteArray* out) const override {
    auto it = m_files.find(ui::NormaliseSkinPath(name));
    if (it == m_files.end()) return false;
    *out = *it;
    return true;
  }

 private:
  QHash<QString, QByteArray> m_files;
};

// The modal skinned window that is running now, if any.
inline ui::CSkinWindow* RunningModal() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* s = dynamic_cast<ui::CSkinWindow*>(w))
      if (s->IsModalRunning() && s->isVisible()) return s;
  return nullptr;
}

// Calls `act` with the modal window once it runs (polled from the event loop, so it
// works for windows that a function under test opens and waits on). Gives up after
// five seconds and closes nothing, so a hanging test shows as a failed expectation.
inline void WhenModal(std::function<void(ui::CSkinWindow*)> act) {
  auto timer = std::make_shared<QElapsedTimer>();
  timer->start();
  auto tick = std::make_shared<std::function<void()>>();
  *tick = [act, timer, tick]() {
    if (ui::CSkinWindow* w = RunningModal()) {
      act(w);
      return;
    }
    if (timer->elapsed() < 5000) QTimer::singleShot(10, *tick);
  };
  QTimer::singleShot(0, *tick);
}

// Clicks a control the way a user does (press and release over it).
void ClickControl(ui::CControlUI* c);

}  // namespace bv::testing

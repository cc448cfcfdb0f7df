#pragma once
// A walk through the program's own states for the screenshots of the documentation:
// started only when BACKVAULT_SCREENSHOTS names a folder. It drives the real windows
// with synthesized mouse and keyboard events (posted like the window system's, so the
// modal pop-ups run their own loops as they do for a person) and grabs the whole screen
// after each state, pop-ups and menus included. One PNG per state. UI-thread only.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace bv {

class CMainWnd;

class CScreenshotTour : public QObject {
 public:
  // The tour when the environment asks for one, else null.
  static std::unique_ptr<CScreenshotTour> FromEnvironment(CMainWnd& wnd);
  CScreenshotTour(CMainWnd& wnd, QString folder);
  ~CScreenshotTour() override;
  bool Failed() const { return m_failed; }

 protected:
  // Holds the scan once its backup is open and the recovery job at its first report,
  // so that the pictures show them under way.
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  struct Step {
    QString what;                 // said when the step cannot happen
    std::function<bool()> ready;  // polled until true (or the step times out)
    std::function<void()> act;
    // A step whose state may not come on a loaded machine: its picture is left out
    // (and said so) instead of failing the walk.
    bool optional = false;
  };
  void Build();
  void Poll();
  void Fail(const QString& why);
  void Finish();

  void Shot(const QString& name);
  void ClickWidget(QWidget* w);
  void ClickAt(QWidget* w, const QPoint& local);
  void ClickControl(const QString& name);
  void ClickInModal(const QString& name);
  void Type(QWidget* w, const QString& text);
  void Key(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier);

  CMainWnd& m_wnd;
  QString m_folder;
  std::vector<Step> m_steps;
  std::size_t m_next = 0;
  qint64 m_stepStarted = 0;
  qint64 m_readySince = 0;
  bool m_failed = false;
  bool m_done = false;
  std::string m_startLanguage;
  int m_shots = 0;
  bool m_inShot = false;
  bool m_holdScan = true;
  bool m_scanHeld = false;
  bool m_holdRecovery = false;
  QString m_outputFolder;
};

}  // namespace bv

#pragma once
// One copy of the program per user. The first copy holds an exclusive lock on a file in
// the user's runtime folder (released by the system when the process ends, however it
// ends, so a crash never leaves a stale lock) and listens on a local socket beside it.
// A later copy finds the lock taken and asks the first, through the socket, to bring its
// window to the front. UI-thread only.
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;

namespace bv {

inline constexpr const char* kSingleInstanceName = "Tarnwick_Backvault_2021_For_Windows";

class CSingleInstance {
 public:
  // `folder` empty: the user's runtime folder ($XDG_RUNTIME_DIR or Qt's fallback).
  explicit CSingleInstance(const QString& name = QString::fromLatin1(kSingleInstanceName),
                           const QString& folder = QString());
  ~CSingleInstance();
  CSingleInstance(const CSingleInstance&) = delete;
  CSingleInstance& operator=(const CSingleInstance&) = delete;

  // True when this process is the first copy (it then holds the lock until destroyed).
  // A lock file that cannot be created at all does not stop the program: it runs as
  // the first copy.
  bool Acquire();
  bool IsFirst() const { return m_fd >= 0 || m_noLock; }

  // First copy: answers later copies. `raise` runs on the user-interface thread for each
  // of them and says whether a window was brought to the front.
  bool Listen(std::function<bool()> raise);

  // Later copy: asks the first copy to raise its window. True when it answered that it
  // did within `timeoutMs`; false when no window answered.
  bool AskFirstToRaise(int timeoutMs = 3000) const;

  QString LockPath() const { return m_base + QStringLiteral(".lock"); }
  QString SocketPath() const { return m_base + QStringLiteral(".sock"); }

 private:
  QString m_base;
  int m_fd = -1;
  bool m_noLock = false;
  std::unique_ptr<QLocalServer> m_server;
  std::function<bool()> m_raise;
};

}  // namespace bv

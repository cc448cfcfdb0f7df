#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>

namespace bv {

namespace {
// One line each way: the later copy asks, the first answers.
constexpr char kRequest[] = "raise\n";
constexpr char kRaised[] = "raised\n";
constexpr char kNoWindow[] = "none\n";
}  // namespace

CSingleInstance::CSingleInstance(const QString& name, const QString& folder) {
  QString dir = folder;
  if (dir.isEmpty()) dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  m_base = QDir(dir).filePath(name);
}

CSingleInstance::~CSingleInstance() {
  if (m_server) {
    m_server->close();
    m_server.reset();
  }
  if (m_fd >= 0) {
    // The lock file stays: removing it would race with a copy that is opening it.
    ::close(m_fd);
    m_fd = -1;
  }
}

bool CSingleInstance::Acquire() {
  if (IsFirst()) return true;
  const QByteArray path = QFile::encodeName(LockPath());
  const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    m_noLock = true;
    return true;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return false;
    m_noLock = true;  // a file system without locks: run rather than refuse
    return true;
  }
  m_fd = fd;
  return true;
}

bool CSingleInstance::Listen(std::function<bool()> raise) {
  if (!IsFirst()) return false;
  m_raise = std::move(raise);
  // We hold the lock, so a socket file left there belongs to a copy that has ended.
  QLocalServer::removeServer(SocketPath());
  m_server = std::make_unique<QLocalServer>();
  m_server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!m_server->listen(SocketPath())) {
    m_server.reset();
    return false;
  }
  QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(), [this] {
    while (QLocalSocket* s = m_server->nextPendingConnection()) {
      QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      QObject::connect(s, &QLocalSocket::readyRead, s, [this, s] {
        if (!s->canReadLine()) {
          // A peer that never ends its line is dropped rather than buffered forever.
          if (s->bytesAvailable() > 64) s->abort();
          return;
        }
        const QByteArray line = s->readLine(64);
        if (line != kRequest) {
          s->abort();
          return;
        }
        const bool raised = m_raise && m_raise();
        s->write(raised ? kRaised : kNoWindow);
        s->flush();
        s->disconnectFromServer();
      });
    }
  });
  return true;
}

bool CSingleInstance::AskFirstToRaise(int timeoutMs) const {
  QElapsedTimer clock;
  clock.start();
  // The first copy may hold the lock but not listen yet (it is still starting).
  while (clock.elapsed() < timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(SocketPath());
    if (socket.waitForConnected(static_cast<int>(timeoutMs - clock.elapsed()))) {
      socket.write(kRequest);
      if (!socket.waitForBytesWritten(static_cast<int>(timeoutMs - clock.elapsed()))) return false;
      while (!socket.canReadLine() && socket.waitForReadyRead(static_cast<int>(
                                          std::max<qint64>(1, timeoutMs - clock.elapsed()))))
        ;
      return socket.canReadLine() && socket.readLine(64) == kRaised;
    }
    QThread::msleep(50);
  }
  return false;
}

}  // namespace bv

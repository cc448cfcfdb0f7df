#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace bv::platform {

namespace {
constexpr int kBusyRetries = 50;
}  // namespace

Process::~Process() {
  if (in_ >= 0) ::close(in_);
  if (out_ >= 0) ::close(out_);
  if (pid_ > 0 && exitCode_ < 0) Kill();
}

int Process::Start(const std::vector<std::string>& argv, const std::filesystem::path& workDir) {
  if (pid_ > 0 || argv.empty()) return EINVAL;
  int inPipe[2], outPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) != 0) return errno;
  if (::pipe2(outPipe, O_CLOEXEC) != 0) {
    int e = errno;
    ::close(inPipe[0]);
    ::close(inPipe[1]);
    return e;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 2);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());

  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (ownGroup_) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }

  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, args.data(), environ);
  // A program written just before (a staged copy) cannot be run while another thread's
  // child, between its fork and its exec, still holds a descriptor that was open for
  // writing it: the kernel says "text file busy" until that child has exec'd.
  for (int retry = 0; rc == ETXTBSY && retry < kBusyRetries; ++retry) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    rc = posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, args.data(), environ);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  if (rc != 0) {
    ::close(inPipe[1]);
    ::close(outPipe[0]);
    return rc;
  }
  pid_ = pid;
  in_ = inPipe[1];
  out_ = outPipe[0];
  ::fcntl(out_, F_SETFL, ::fcntl(out_, F_GETFL) | O_NONBLOCK);
  exitCode_ = -1;
  outputClosed_ = false;
  return 0;
}

bool Process::Reap(bool block) {
  if (pid_ <= 0) return true;
  if (exitCode_ >= 0) return true;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == pid_) {
    if (WIFEXITED(status))
      exitCode_ = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
      exitCode_ = 128 + WTERMSIG(status);
    else
      exitCode_ = 255;
    return true;
  }
  if (r < 0) {  // not our child any more: nothing to wait for
    exitCode_ = 255;
    return true;
  }
  return false;
}

bool Process::Running() {
  return pid_ > 0 && !Reap(false);
}

int Process::WriteInput(const std::string& data) {
  if (in_ < 0) return EBADF;
  // A child that exits without reading must not kill us with SIGPIPE.
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  std::size_t done = 0;
  int result = 0;
  while (done < data.size()) {
    ssize_t w = ::write(in_, data.data() + done, data.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      result = errno;
      break;
    }
    done += static_cast<std::size_t>(w);
  }
  ::sigaction(SIGPIPE, &old, nullptr);
  return result;
}

void Process::CloseInput() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

std::size_t Process::Available() {
  if (out_ < 0) return 0;
  int n = 0;
  if (::ioctl(out_, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<std::size_t>(n);
}

std::size_t Process::ReadAvailable(std::string& out, std::size_t max) {
  if (out_ < 0 || max == 0) return 0;
  char buf[65536];
  std::size_t total = 0;
  while (total < max) {
    std::size_t want = max - total < sizeof buf ? max - total : sizeof buf;
    ssize_t n = ::read(out_, buf, want);
    if (n > 0) {
      out.append(buf, static_cast<std::size_t>(n));
      total += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) {
      outputClosed_ = true;
      ::close(out_);
      out_ = -1;
    } else if (errno == EINTR) {
      continue;
    }
    break;  // EAGAIN: nothing more waiting now
  }
  return total;
}

bool Process::Wait(int timeoutMs) {
  if (pid_ <= 0) return true;
  if (timeoutMs < 0) return Reap(true);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (Reap(false)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void Process::Kill() {
  if (pid_ <= 0 || exitCode_ >= 0) return;
  ::kill(pid_, SIGKILL);
  Reap(true);
}

}  // namespace bv::platform

#include "platform/interrupt.h"

#include <signal.h>
#include <unistd.h>

namespace bv::platform {
namespace {

std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need a lock-free flag");

struct sigaction g_previousInt;
struct sigaction g_previousTerm;
int g_depth = 0;

extern "C" void OnInterruptSignal(int sig) {
  int expected = 0;
  if (!g_signal.compare_exchange_strong(expected, sig) && expected == sig) {
    // Asked twice: stop now, with the code the first request would have given.
    ::_exit(128 + sig);
  }
}

}  // namespace

InterruptScope::InterruptScope() {
  if (g_depth++ > 0) return;
  struct sigaction action {};
  action.sa_handler = OnInterruptSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: blocking reads return EINTR and see the flag
  ::sigaction(SIGINT, &action, &g_previousInt);
  ::sigaction(SIGTERM, &action, &g_previousTerm);
}

InterruptScope::~InterruptScope() {
  if (--g_depth > 0) return;
  ::sigaction(SIGINT, &g_previousInt, nullptr);
  ::sigaction(SIGTERM, &g_previousTerm, nullptr);
}

bool InterruptRequested() {
  return g_signal.load(std::memory_order_relaxed) != 0;
}

int InterruptSignal() {
  return g_signal.load(std::memory_order_relaxed);
}

int InterruptExitCode() {
  const int sig = InterruptSignal();
  return sig == 0 ? 0 : 128 + sig;
}

void ResetInterrupt() {
  g_signal.store(0);
}

void RequestInterrupt(int signal) {
  OnInterruptSignal(signal);
}

}  // namespace bv::platform

#pragma once
// Interrupts as cancel requests. While an InterruptScope is alive, SIGINT and SIGTERM do not end
// the process: they set a flag that long operations poll through their progress callbacks, so the
// current item is finished or its partial file removed, temporaries are cleaned up and the
// process ends with 128 + the signal's number. A second signal of the same kind while the first is
// still pending ends the process at once (the user insists).
// Thread-safe: the flag is a lock-free atomic; scopes are created on the main thread only.
#include <atomic>

namespace bv::platform {

class InterruptScope {
 public:
  InterruptScope();
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;
};

// True once SIGINT or SIGTERM arrived inside a scope (until ResetInterrupt).
bool InterruptRequested();
// The signal that arrived first (SIGINT or SIGTERM), 0 when none.
int InterruptSignal();
// 128 + InterruptSignal(): the exit code a shell expects of an interrupted program; 0 when none.
int InterruptExitCode();
// Forgets an earlier interrupt (a new command run in the same process, tests).
void ResetInterrupt();
// What a signal handler does; tests call it instead of raising a real signal.
void RequestInterrupt(int signal);

}  // namespace bv::platform

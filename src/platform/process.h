#pragma once
// A child process with pipes to its standard input and output (standard error goes to
// the output pipe as well). Started from an argument vector, never through a shell.
// Owned by one thread at a time; the destructor closes the pipes and, if the child is
// still running, ends it (only our own child, never anything else).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bv::platform {

class Process {
 public:
  Process() = default;
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // A child in a process group of its own does not get the terminal's Ctrl-C: we end it
  // ourselves, after our own clean-up. Set before Start.
  void SetOwnProcessGroup(bool own) { ownGroup_ = own; }
  // Starts argv[0] (a path) with the arguments. Returns 0 or the platform error code.
  int Start(const std::vector<std::string>& argv, const std::filesystem::path& workDir = {});
  bool Running();
  // Writes all of `data` to the child's standard input. Returns 0 or the error code.
  int WriteInput(const std::string& data);
  void CloseInput();
  // Bytes waiting in the output pipe, without blocking.
  std::size_t Available();
  // Reads what is waiting (at most `max` bytes) without blocking; appends to `out`.
  // Returns the number of bytes read; 0 when nothing is waiting or at end of output.
  std::size_t ReadAvailable(std::string& out, std::size_t max = 65536);
  // True once the child has closed its output and everything has been read.
  bool OutputClosed() const { return outputClosed_; }
  // Waits up to `timeoutMs` for the child to end; true when it has.
  bool Wait(int timeoutMs);
  // Exit code once ended (128 + signal number when killed by a signal); -1 before.
  int ExitCode() const { return exitCode_; }
  // Ends our child (SIGKILL) and reaps it.
  void Kill();
  int Pid() const { return pid_; }

 private:
  bool Reap(bool block);
  int pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int exitCode_ = -1;
  bool outputClosed_ = false;
  bool ownGroup_ = false;
};

}  // namespace bv::platform

// ChildProcess: a function of the test run in a child process of its own
// (Linux: fork), with a pipe each way. The child says lines that the test
// reads, and may wait until the test releases it; it ends with the
// function's result as its exit status, and stays unreaped until the test
// waits for it. The object goes away releasing the child and waiting for
// it. For the one thread of the test that made it.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <type_traits>

namespace quillbeck::testing {

class ChildProcess {
 public:
  // What the child holds of the pipes.
  class Side {
   public:
    // Say() hands the test one line (given without its newline).
    void Say(std::string_view line) const {
      const std::string text = std::string(line) + "\n";
      if (write(to_test_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        _exit(127);
      }
    }
    // WaitForRelease() waits until the test calls Release() or ends; false
    // when the pipe cannot be read.
    bool WaitForRelease() const {
      char c;
      return read(from_test_, &c, 1) >= 0;
    }
    // Released() tells without waiting whether the test has released it.
    bool Released() const {
      const int flags = fcntl(from_test_, F_GETFL);
      fcntl(from_test_, F_SETFL, flags | O_NONBLOCK);
      char c;
      const bool released = read(from_test_, &c, 1) >= 0;
      fcntl(from_test_, F_SETFL, flags);
      return released;
    }

   private:
    friend class ChildProcess;
    int to_test_ = -1;
    int from_test_ = -1;
  };

  // ChildProcess(work) runs `work()` or `work(side)` in the child.
  template <typename Work>
  explicit ChildProcess(Work work) {
    int up[2], down[2];
    if (pipe2(up, O_CLOEXEC) != 0) return;
    if (pipe2(down, O_CLOEXEC) != 0) {
      close(up[0]);
      close(up[1]);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(up[0]);
      close(down[1]);
      Side side;
      side.to_test_ = up[1];
      side.from_test_ = down[0];
      if constexpr (std::is_invocable_v<Work&, Side&>) {
        _exit(static_cast<int>(work(side)));
      } else {
        _exit(static_cast<int>(work()));
      }
    }
    close(up[1]);
    close(down[0]);
    from_child_ = up[0];
    to_child_ = down[1];
  }
  ~ChildProcess() {
    Release();
    if (from_child_ >= 0) close(from_child_);
    Wait();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  // ReadLine() is the next line the child said, without its newline; what
  // is left when the child ends without one; empty once it has ended.
  std::string ReadLine() {
    std::string line;
    char c;
    while (read(from_child_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  // Release() lets a child go on that waits for it.
  void Release() {
    if (to_child_ >= 0) close(to_child_);
    to_child_ = -1;
  }

  // Running() is true until the child has ended (it is reaped then).
  bool Running() {
    if (pid_ <= 0) End(-1);
    if (ended_) return false;
    const pid_t reaped = waitpid(pid_, &status_, WNOHANG);
    if (reaped == 0) return true;
    End(reaped);
    return false;
  }

  // Wait() waits until the child ends and reaps it; false when it was not
  // this object's to reap (it never started, or another waiter reaped it).
  bool Wait() {
    if (!ended_) {
      pid_t reaped;
      do {
        reaped = pid_ > 0 ? waitpid(pid_, &status_, 0) : -1;
      } while (reaped < 0 && errno == EINTR);
      End(reaped);
    }
    return reaped_;
  }

  // Kill() ends the child with SIGKILL, as a crash would, and reaps it.
  void Kill() {
    if (!ended_ && pid_ > 0) kill(pid_, SIGKILL);
    Wait();
  }

  // How the reaped child ended: its exit status (-1 when a signal ended
  // it), or the signal (0 when it exited).
  int ExitStatus() const { return reaped_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
  int Signal() const { return reaped_ && WIFSIGNALED(status_) ? WTERMSIG(status_) : 0; }

 private:
  void End(pid_t reaped) {
    ended_ = true;
    reaped_ = reaped == pid_;
  }

  pid_t pid_ = -1;
  int from_child_ = -1;
  int to_child_ = -1;
  int status_ = 0;
  bool ended_ = false;
  bool reaped_ = false;
};

}  // namespace quillbeck::testing
#endif

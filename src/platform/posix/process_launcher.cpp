// The Linux process launcher: the command text is split like a shell would
// split it (nothing expanded) and started with posix_spawnp, which reports a
// program that cannot be found or run as an error of the call itself.
//
// Reaping: each started child gets a small detached thread blocked in
// waitpid() on that child's pid alone. The child is reaped the moment it
// ends, whether or not anything else is ever launched, and no other child of
// the process is touched (no waitpid(-1), no SIGCHLD handler). Only if such a
// thread cannot be made is the pid kept and reaped with WNOHANG at the next
// Launch() and when the launcher goes away.
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/process_launcher.h"
#include "platform/runtime_error.h"

extern char** environ;

namespace quillbeck {

namespace {

void* WaitForChild(void* pid) {
  const auto child = static_cast<pid_t>(reinterpret_cast<std::intptr_t>(pid));
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  return nullptr;
}

// StartReaper() starts the thread that reaps `pid`; false when none could be
// made.
bool StartReaper(pid_t pid) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  // It only ever sits in waitpid().
  pthread_attr_setstacksize(&attr, 256 * 1024);
  // The thread takes no signal meant for the program.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pthread_t thread;
  const int result = pthread_create(&thread, &attr, WaitForChild,
                                    reinterpret_cast<void*>(static_cast<std::intptr_t>(pid)));
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  pthread_attr_destroy(&attr);
  return result == 0;
}

// Spawn() starts `arguments` with default signal dispositions, an empty
// signal mask and no descriptor beyond 0, 1 and 2; the error number of the
// failure, or 0.
int Spawn(const std::vector<std::string>& arguments, pid_t& pid) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  int result = posix_spawnattr_init(&attr);
  if (result != 0) return result;
  result = posix_spawn_file_actions_init(&actions);
  if (result != 0) {
    posix_spawnattr_destroy(&attr);
    return result;
  }
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  // Our descriptors are close-on-exec already; this also covers any that a
  // library opened without the flag.
  result = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (result == 0) {
    result = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return result;
}

class PosixProcessLauncher : public ProcessLauncher {
 public:
  ~PosixProcessLauncher() override { ReapFinished(); }

  void Launch(const std::string& command) override {
    ReapFinished();
    const std::vector<std::string> arguments = SplitCommandLine(command);
    if (arguments.empty()) {
      throw RuntimeError(ENOENT, "The command line names no program: \"" + command + "\"");
    }
    for (const std::string& argument : arguments) {
      if (argument.find('\0') != std::string::npos) RaiseSystemError(EINVAL, command);
    }
    pid_t pid = 0;
    const int result = Spawn(arguments, pid);
    if (result != 0) RaiseSystemError(result, command);
    if (!StartReaper(pid)) unreaped_.push_back(pid);
  }

 private:
  // ReapFinished() reaps the children without a reaper thread that ended.
  void ReapFinished() {
    std::vector<pid_t> running;
    for (const pid_t pid : unreaped_) {
      const pid_t result = waitpid(pid, nullptr, WNOHANG);
      if (result == 0 || (result < 0 && errno == EINTR)) running.push_back(pid);
    }
    unreaped_.swap(running);
  }

  std::vector<pid_t> unreaped_;
};

}  // namespace

std::unique_ptr<ProcessLauncher> NewProcessLauncher() {
  return std::make_unique<PosixProcessLauncher>();
}

}  // namespace quillbeck

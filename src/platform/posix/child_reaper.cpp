// One reaper thread serves every child: it sleeps in epoll_wait() on a pidfd
// per child, which becomes readable when that child ends, and reaps it with
// waitid(P_PIDFD, WNOHANG), which can name no other process and never
// blocks the reaper on one child while others end. Adding a pidfd to the
// epoll set from the launching thread reaches the sleeping reaper at once.
//
// Fallback: where no pidfd can be had (no descriptor left), the pid goes on
// a list that the reaper checks with waitpid(pid, WNOHANG) every 200 ms
// while the list is not empty; an eventfd wakes it for the first entry.
// Where not even the thread can be made, each ReapWhenEnded() checks that
// list itself.
#include "platform/posix/child_reaper.h"

#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/posix/unique_fd.h"

namespace quillbeck::posix {

namespace {

constexpr std::uint64_t kWakeUp = ~std::uint64_t{0};
constexpr int kPollMilliseconds = 200;

int OpenPidfd(pid_t pid) {
  // Close-on-exec by itself: no later child inherits it.
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

// Reaped() reaps the child behind `pidfd` if it has ended. False while the
// child runs.
bool Reaped(int pidfd) {
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PIDFD, static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG) == 0) {
      return info.si_pid != 0;
    }
    if (errno != EINTR) return true;  // not ours to wait for (any more)
  }
}

class Reaper {
 public:
  // The reaper of the process, made on first use and never destroyed: a
  // child may outlive any launcher.
  static Reaper& Get() {
    static Reaper* reaper = new Reaper;
    return *reaper;
  }

  void Add(pid_t pid) {
    if (threaded_) {
      UniqueFd pidfd(OpenPidfd(pid));
      if (pidfd.valid()) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = static_cast<std::uint64_t>(pidfd.get());
        if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, pidfd.get(), &event) == 0) {
          pidfd.release();  // the reaper closes it once the child is reaped
          return;
        }
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    polled_.push_back(pid);
    if (threaded_) {
      const std::uint64_t one = 1;
      if (write(wake_.get(), &one, sizeof one) < 0) { /* already awake: the counter is full */
      }
    } else {
      ReapPolled();
    }
  }

 private:
  Reaper() {
    epoll_.reset(epoll_create1(EPOLL_CLOEXEC));
    wake_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeUp;
    if (!epoll_.valid() || !wake_.valid() ||
        epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &event) != 0)
      return;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    // It only ever sits in epoll_wait().
    pthread_attr_setstacksize(&attr, 64 * 1024);
    // The thread takes no signal meant for the program.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pthread_t thread;
    threaded_ = pthread_create(&thread, &attr, &Reaper::Main, this) == 0;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    pthread_attr_destroy(&attr);
  }

  static void* Main(void* self) {
    static_cast<Reaper*>(self)->Run();
    return nullptr;
  }

  [[noreturn]] void Run() {
    epoll_event events[64];
    for (;;) {
      bool polling;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        polling = !polled_.empty();
      }
      const int n = epoll_wait(epoll_.get(), events, 64, polling ? kPollMilliseconds : -1);
      for (int i = 0; i < n; ++i) {
        const std::uint64_t data = events[i].data.u64;
        if (data == kWakeUp) {
          std::uint64_t count;
          if (read(wake_.get(), &count, sizeof count) < 0) { /* nothing to take */
          }
          continue;
        }
        const int pidfd = static_cast<int>(data);
        if (!Reaped(pidfd)) continue;
        // Out of the set before the close: a child being spawned may hold a
        // copy of the descriptor for a moment, which would keep it in the
        // set under a number that the next pidfd reuses.
        epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, pidfd, nullptr);
        close(pidfd);  // the set's since Add() released it
      }
      std::lock_guard<std::mutex> lock(mutex_);
      ReapPolled();
    }
  }

  // ReapPolled() reaps the listed children that have ended; the caller holds
  // mutex_.
  void ReapPolled() {
    std::vector<pid_t> running;
    for (const pid_t pid : polled_) {
      const pid_t result = waitpid(pid, nullptr, WNOHANG);
      if (result == 0 || (result < 0 && errno == EINTR)) running.push_back(pid);
    }
    polled_.swap(running);
  }

  UniqueFd epoll_;
  UniqueFd wake_;
  bool threaded_ = false;
  std::mutex mutex_;
  std::vector<pid_t> polled_;
};

}  // namespace

void ReapWhenEnded(pid_t pid) noexcept {
  try {
    Reaper::Get().Add(pid);
  } catch (...) {
    // Out of memory for the list: the child stays unreaped until we end.
  }
}

}  // namespace quillbeck::posix

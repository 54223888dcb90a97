// KeptThreads: threads kept for work that may block for long, such as a
// call into a share whose server has gone. Any thread may hand over work.
//
// A job goes to a kept thread that waits for work; a new thread is made only
// while every kept one is busy, so a thread stuck in the kernel holds its own
// job and no other. Threads are kept until the object goes: idle ones end
// then, and a busy one either is waited for (kJoin: its jobs use what its
// owner owns) or is left to end with its job (kLeave: its jobs own all they
// use, so nothing waits on a stuck call).
#pragma once

#include <functional>
#include <memory>

namespace quillbeck {

class KeptThreads {
 public:
  enum class OnClose { kJoin, kLeave };

  explicit KeptThreads(OnClose on_close);
  ~KeptThreads();
  KeptThreads(const KeptThreads&) = delete;
  KeptThreads& operator=(const KeptThreads&) = delete;

  // Hand() gives `job` to a kept thread and returns at once; false when no
  // thread could be had, and then `job` is not run.
  bool Hand(std::function<void()> job);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  OnClose on_close_;
};

}  // namespace quillbeck

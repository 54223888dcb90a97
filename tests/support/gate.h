// Gate: shut until Notify() opens it, then open for good. Any thread may
// call any of it; WaitForNotification() returns once the gate is open.
#pragma once

#include <condition_variable>
#include <mutex>

namespace quillbeck::testing {

class Gate {
 public:
  // Notify() opens the gate: every waiter goes on, and every later wait
  // returns at once.
  void Notify() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }

  bool HasBeenNotified() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
  }

  void WaitForNotification() const {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [&] { return open_; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable opened_;
  bool open_ = false;  // guarded by mutex_
};

}  // namespace quillbeck::testing

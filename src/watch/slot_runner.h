// SlotRunner: the slots' work runs away from the window's thread, so the
// window never waits on a watched folder for long.
//
// The window's thread hands over a tick's work as steps, one per slot, and
// waits for them until a deadline. In normal running one kept thread does
// the steps one after the other, in order, and ends long before it: the
// steps are then as if they had run on the window's thread, and the first
// failure ends the rest and is raised again there. Work still going at the
// deadline goes on by itself: the step in progress keeps its thread, and
// each step after it goes to a thread of its own, so no slow slot holds
// another. A failure of such work waits to be taken on the window's thread
// (TakeLateFailures).
//
// While a slot's step goes on, that slot, and any other slot set to the same
// folder, is busy: a step of it is skipped when its turn comes, so no two
// pieces of work ever share a folder.
//
// Threads: Run(), WaitIdle() and TakeLateFailures() are called by the
// window's thread. The steps run on threads kept for them: one is made only
// while every kept one is busy (one stuck on a share that never answers
// stays with its step), and all are kept until the runner goes.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"

namespace quillbeck {

class SlotRunner {
 public:
  using Clock = std::chrono::steady_clock;
  using Work = std::function<void()>;

  // One slot's work, done on its folder.
  struct Step {
    int slot = 0;
    std::string folder;
    Work work;
  };

  SlotRunner() = default;
  // Waits for the work in flight: the program itself ends without this
  // (EndImmediately), so only a test waits here.
  ~SlotRunner();
  SlotRunner(const SlotRunner&) = delete;
  SlotRunner& operator=(const SlotRunner&) = delete;

  // Run() does `steps` for `procedure` as told above, waiting for them until
  // `deadline`; raises the first failure that ends in time.
  void Run(std::vector<Step> steps, const char* procedure, Clock::time_point deadline);

  // WaitIdle() waits until no work goes on (for tests and benchmarks, which
  // check or measure the whole of a tick's work).
  void WaitIdle();

  struct LateFailure {
    const char* procedure;
    std::exception_ptr error;
  };
  // TakeLateFailures() hands over, once, the failures of work that ended
  // after its caller had stopped waiting, oldest first.
  std::vector<LateFailure> TakeLateFailures();

 private:
  struct Batch;

  void Serve();
  void RunBatch(Batch& batch, std::unique_lock<std::mutex>& lock);
  bool BusyLocked(int slot, const std::string& folder) const;
  // Queue() hands `batch` to a kept thread, making one when none is free;
  // false when no thread could be made.
  bool Queue(std::shared_ptr<Batch> batch);

  std::mutex mutex_;
  std::condition_variable work_;      // a batch waits for a thread, or the runner goes
  std::condition_variable finished_;  // a batch has ended
  std::deque<std::shared_ptr<Batch>> queue_;     // guarded by mutex_
  std::vector<std::thread> threads_;             // guarded by mutex_
  int idle_ = 0;                                 // threads waiting for work; guarded by mutex_
  int unfinished_ = 0;                           // batches not ended; guarded by mutex_
  std::array<bool, kSlotCount + 1> busy_{};      // guarded by mutex_
  std::array<std::string, kSlotCount + 1> busy_folder_;  // guarded by mutex_
  std::vector<LateFailure> late_;                // guarded by mutex_
  bool closing_ = false;                         // guarded by mutex_
};

// SameFolder() is true for two folder texts that name the same folder as
// typed, a trailing separator aside.
bool SameFolder(const std::string& a, const std::string& b);

}  // namespace quillbeck

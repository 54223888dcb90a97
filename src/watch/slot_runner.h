// SlotRunner: the slots' work runs away from the window's thread, so the
// window never waits on a watched folder for long.
//
// The window's thread hands over a tick's work as steps, one per slot, and
// waits for them until a deadline. In normal running one kept thread does
// the steps one after the other, in order, and ends long before it: the
// steps are then as if they had run on the window's thread. A failing step
// ends its own work only; the later steps are done all the same. Work still
// going at the deadline goes on by itself: the step in progress keeps its
// thread, and each step after it goes to a thread of its own, so no slow
// slot holds another. A failure of such work waits to be taken on the
// window's thread (TakeLateFailures), which is woken for it.
//
// While a step goes on, any step set to the same folder text is skipped
// when its turn comes, so a folder stuck on a share ties up one thread, not
// one a tick. (Two spellings of one folder are the work's own to tell.)
//
// Threads: Run(), LastDeadline(), WaitIdle() and TakeLateFailures() are
// called by the window's thread; OnLateFailure() before the first Run(). The steps run on
// kept threads (platform/kept_threads.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kept_threads.h"

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
  // Waits for the work in flight. The program itself ends without this
  // (EndImmediately), so only a test waits here.
  ~SlotRunner();
  SlotRunner(const SlotRunner&) = delete;
  SlotRunner& operator=(const SlotRunner&) = delete;

  // Run() does `steps` for `procedure` as told above, waiting for them until
  // `deadline`, and returns the failures of the steps that ended by then, in
  // the steps' order.
  std::vector<std::exception_ptr> Run(std::vector<Step> steps, const char* procedure,
                                      Clock::time_point deadline);

  // OnLateFailure() sets what tells the window's thread that a late failure
  // waits: it is called on the thread of the failed work, right after the
  // failure is kept for TakeLateFailures().
  void OnLateFailure(std::function<void()> wake) { wake_ = std::move(wake); }

  // LastDeadline() is the deadline of the latest Run(): the longest the
  // window's thread was let wait for it.
  Clock::time_point LastDeadline() const { return last_deadline_; }

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

  void RunBatch(Batch& batch);
  bool BusyLocked(const std::string& folder) const;
  // Hand() gives `batch` to a kept thread; false when no thread could be had.
  bool Hand(const std::shared_ptr<Batch>& batch);

  std::function<void()> wake_;
  Clock::time_point last_deadline_{};  // the window's thread's own
  std::mutex mutex_;
  std::condition_variable finished_;  // a batch has ended
  int unfinished_ = 0;                // batches not ended; guarded by mutex_
  std::vector<std::string> busy_;     // the folders of steps in progress; guarded by mutex_
  std::vector<LateFailure> late_;     // guarded by mutex_
  // Last, so its threads are waited for before what they use goes.
  KeptThreads threads_{KeptThreads::OnClose::kJoin};
};

// SameFolder() is true for two folder texts that name the same folder as
// typed, a trailing separator aside.
bool SameFolder(const std::string& a, const std::string& b);

}  // namespace quillbeck

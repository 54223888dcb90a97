// SlotRunner: each slot's work runs on a thread of that slot's own, so the
// window's thread never waits on a watched folder for long.
//
// The window's thread hands a slot its work and waits for it until a
// deadline. Work that ends in time is as if it had run on the window's
// thread: its failure is raised again there. Work that does not goes on by
// itself, and its failure, if any, waits to be taken on the window's thread
// (TakeLateFailures). While a slot's work goes on, that slot, and any other
// slot set to the same folder, is busy and takes no new work, so no two
// pieces of work ever share a folder.
//
// Threads: Run(), Busy() and TakeLateFailures() are called by the window's
// thread only; the work runs on the slot's thread. The slot's thread is made
// at its first work and kept until the runner goes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
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

  SlotRunner() = default;
  // Waits for the work in flight: the program itself ends without this
  // (EndImmediately), so only a test waits here.
  ~SlotRunner();
  SlotRunner(const SlotRunner&) = delete;
  SlotRunner& operator=(const SlotRunner&) = delete;

  // Busy() is true while work handed to `slot` has not finished, or while
  // work of another slot on the same `folder` has not.
  bool Busy(int slot, const std::string& folder) const;

  // Run() hands `work`, done on `folder` for the procedure `procedure`, to
  // the slot's thread and waits for it until `deadline`. True when it ended
  // in time; its failure is then raised here. False when it goes on.
  bool Run(int slot, const std::string& folder, const char* procedure, Work work,
           Clock::time_point deadline);

  // WaitIdle() waits until no slot's work goes on (for tests and
  // benchmarks, which measure or check the whole of a tick's work).
  void WaitIdle();

  struct LateFailure {
    const char* procedure;
    std::exception_ptr error;
  };
  // TakeLateFailures() hands over, once, the failures of work that ended
  // after its caller had stopped waiting, oldest first.
  std::vector<LateFailure> TakeLateFailures();

 private:
  struct Lane {
    std::thread thread;
    std::condition_variable wake;  // new work, or the runner goes
    Work work;                     // guarded by mutex_
    std::string folder;            // guarded by mutex_
    const char* procedure = "";    // guarded by mutex_
    bool busy = false;             // guarded by mutex_
    bool waited_for = false;       // the window's thread waits for it; guarded by mutex_
    std::exception_ptr failure;    // for the waiting caller; guarded by mutex_
  };

  void Serve(Lane& lane);

  mutable std::mutex mutex_;
  std::condition_variable finished_;
  Lane lanes_[kSlotCount + 1];
  std::vector<LateFailure> late_;  // guarded by mutex_
  bool closing_ = false;           // guarded by mutex_
};

// SameFolder() is true for two folder texts that name the same folder as
// typed, a trailing separator aside.
bool SameFolder(const std::string& a, const std::string& b);

}  // namespace quillbeck

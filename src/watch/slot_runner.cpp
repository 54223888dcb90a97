#include "watch/slot_runner.h"

#include <algorithm>
#include <utility>

namespace quillbeck {

namespace {

std::string_view WithoutTrailingSeparators(std::string_view folder) {
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\'))
    folder.remove_suffix(1);
  return folder;
}

}  // namespace

bool SameFolder(const std::string& a, const std::string& b) {
  return WithoutTrailingSeparators(a) == WithoutTrailingSeparators(b);
}

// Steps done by one thread in turn. Guarded by the runner's mutex_.
struct SlotRunner::Batch {
  std::vector<Step> steps;
  const char* procedure = "";
  std::size_t next = 0;    // the next step to begin
  bool waited_for = true;  // the window's thread waits for it
  bool handed_on = false;  // the steps not begun went to other threads
  bool ended = false;
  std::vector<std::exception_ptr> failures;  // for the waiting caller
};

SlotRunner::~SlotRunner() = default;

bool SlotRunner::BusyLocked(const std::string& folder) const {
  return std::any_of(busy_.begin(), busy_.end(),
                     [&](const std::string& busy) { return SameFolder(busy, folder); });
}

bool SlotRunner::Hand(const std::shared_ptr<Batch>& batch) {
  // Counted before the thread may end it.
  ++unfinished_;
  if (threads_.Hand([this, batch] { RunBatch(*batch); })) return true;
  --unfinished_;
  return false;
}

std::vector<std::exception_ptr> SlotRunner::Run(std::vector<Step> steps, const char* procedure,
                                                Clock::time_point deadline) {
  last_deadline_ = deadline;
  auto batch = std::make_shared<Batch>();
  batch->steps = std::move(steps);
  batch->procedure = procedure;
  std::unique_lock<std::mutex> lock(mutex_);
  if (!Hand(batch)) {
    // No thread to be had: the steps are done here, unbounded, rather than
    // not at all.
    ++unfinished_;
    lock.unlock();
    RunBatch(*batch);
    lock.lock();
  } else {
    finished_.wait_until(lock, deadline, [&] { return batch->ended; });
  }
  batch->waited_for = false;
  std::vector<std::exception_ptr> failures = std::exchange(batch->failures, {});
  if (batch->ended) return failures;
  // The step in progress keeps its thread; each step not begun goes on by
  // itself, so that none waits for the slow one or for another.
  batch->handed_on = true;
  for (std::size_t i = batch->next; i < batch->steps.size(); ++i) {
    auto single = std::make_shared<Batch>();
    single->steps.push_back(std::move(batch->steps[i]));
    single->procedure = procedure;
    single->waited_for = false;
    if (!Hand(single)) break;  // no thread: those steps wait for the next tick
  }
  return failures;
}

void SlotRunner::RunBatch(Batch& batch) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!batch.handed_on && batch.next < batch.steps.size()) {
    Step& step = batch.steps[batch.next++];
    // A folder whose earlier work goes on sits this turn out: missed ticks
    // are not made up.
    if (BusyLocked(step.folder)) continue;
    busy_.push_back(step.folder);
    Work work = std::move(step.work);
    lock.unlock();
    std::exception_ptr failure;
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    // The work's own copies of the texts go before the folder counts as free.
    work = nullptr;
    lock.lock();
    busy_.erase(std::find(busy_.begin(), busy_.end(), step.folder));
    if (!failure) continue;
    if (batch.waited_for) {
      batch.failures.push_back(failure);
      continue;
    }
    late_.push_back({batch.procedure, failure});
    if (wake_) {
      lock.unlock();
      wake_();
      lock.lock();
    }
  }
  batch.ended = true;
  --unfinished_;
  // Told under the lock: a waiter that wakes may end the runner at once.
  finished_.notify_all();
}

void SlotRunner::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&] { return unfinished_ == 0; });
}

std::vector<SlotRunner::LateFailure> SlotRunner::TakeLateFailures() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(late_, {});
}

}  // namespace quillbeck

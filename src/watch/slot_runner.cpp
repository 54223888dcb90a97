#include "watch/slot_runner.h"

#include <system_error>
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
  std::size_t next = 0;       // the next step to begin
  bool waited_for = true;     // the window's thread waits for it
  bool handed_on = false;     // the steps not begun went to other threads
  bool ended = false;
  std::exception_ptr failure;  // for the waiting caller
};

SlotRunner::~SlotRunner() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    threads.swap(threads_);
  }
  work_.notify_all();
  for (std::thread& thread : threads) thread.join();
}

bool SlotRunner::BusyLocked(int slot, const std::string& folder) const {
  for (int other = 1; other <= kSlotCount; ++other)
    if (busy_[other] && (other == slot || SameFolder(busy_folder_[other], folder))) return true;
  return false;
}

bool SlotRunner::Queue(std::shared_ptr<Batch> batch) {
  if (idle_ <= static_cast<int>(queue_.size())) {
    try {
      threads_.emplace_back([this] { Serve(); });
    } catch (const std::system_error&) {
      return false;
    }
  }
  ++unfinished_;
  queue_.push_back(std::move(batch));
  return true;
}

void SlotRunner::Run(std::vector<Step> steps, const char* procedure, Clock::time_point deadline) {
  auto batch = std::make_shared<Batch>();
  batch->steps = std::move(steps);
  batch->procedure = procedure;
  std::unique_lock<std::mutex> lock(mutex_);
  if (!Queue(batch)) {
    // No thread to be had: the steps are done here, unbounded, rather than
    // not at all.
    ++unfinished_;
    RunBatch(*batch, lock);
  } else {
    // Woken after the lock is let go, the thread does not wake only to wait
    // for the lock.
    lock.unlock();
    work_.notify_one();
    lock.lock();
    finished_.wait_until(lock, deadline, [&] { return batch->ended; });
  }
  batch->waited_for = false;
  if (batch->ended) {
    const std::exception_ptr failure = std::exchange(batch->failure, nullptr);
    lock.unlock();
    if (failure) std::rethrow_exception(failure);
    return;
  }
  // The step in progress keeps its thread; each step not begun goes on by
  // itself, so that none waits for the slow one or for another.
  batch->handed_on = true;
  for (std::size_t i = batch->next; i < batch->steps.size(); ++i) {
    auto single = std::make_shared<Batch>();
    single->steps.push_back(std::move(batch->steps[i]));
    single->procedure = procedure;
    single->waited_for = false;
    if (!Queue(single)) break;  // no thread: those steps wait for the next tick
  }
  lock.unlock();
  work_.notify_all();
}

void SlotRunner::RunBatch(Batch& batch, std::unique_lock<std::mutex>& lock) {
  while (!batch.handed_on && batch.next < batch.steps.size()) {
    Step& step = batch.steps[batch.next++];
    // A slot whose earlier work goes on sits this turn out, as does one set
    // to the folder of such a slot: missed ticks are not made up.
    if (BusyLocked(step.slot, step.folder)) continue;
    busy_[step.slot] = true;
    busy_folder_[step.slot] = step.folder;
    Work work = std::move(step.work);
    lock.unlock();
    std::exception_ptr failure;
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    // The work's own copies of the texts go before the slot counts as free.
    work = nullptr;
    lock.lock();
    busy_[step.slot] = false;
    if (failure) {
      // The first failure ends the steps not begun, as it ends a tick.
      if (batch.waited_for)
        batch.failure = failure;
      else
        late_.push_back({batch.procedure, failure});
      break;
    }
  }
  batch.ended = true;
  --unfinished_;
  lock.unlock();
  finished_.notify_all();
  lock.lock();
}

void SlotRunner::Serve() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ++idle_;
    work_.wait(lock, [&] { return closing_ || !queue_.empty(); });
    --idle_;
    if (queue_.empty()) return;  // the runner goes, nothing left to do
    const std::shared_ptr<Batch> batch = std::move(queue_.front());
    queue_.pop_front();
    RunBatch(*batch, lock);
  }
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

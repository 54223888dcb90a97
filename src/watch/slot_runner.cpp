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

SlotRunner::~SlotRunner() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    for (Lane& lane : lanes_) lane.wake.notify_all();
  }
  for (Lane& lane : lanes_)
    if (lane.thread.joinable()) lane.thread.join();
}

bool SlotRunner::Busy(int slot, const std::string& folder) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int other = 1; other <= kSlotCount; ++other) {
    const Lane& lane = lanes_[other];
    if (lane.busy && (other == slot || SameFolder(lane.folder, folder))) return true;
  }
  return false;
}

bool SlotRunner::Run(int slot, const std::string& folder, const char* procedure, Work work,
                     Clock::time_point deadline) {
  Lane& lane = lanes_[slot];
  std::unique_lock<std::mutex> lock(mutex_);
  if (lane.busy) return false;
  if (!lane.thread.joinable()) {
    try {
      lane.thread = std::thread([this, &lane] { Serve(lane); });
    } catch (const std::system_error&) {
      // No thread to be had: the work is done here, unbounded, rather than
      // not at all.
      lock.unlock();
      work();
      return true;
    }
  }
  lane.work = std::move(work);
  lane.folder = folder;
  lane.procedure = procedure;
  lane.busy = true;
  lane.waited_for = true;
  lane.failure = nullptr;
  lane.wake.notify_one();
  const bool ended = finished_.wait_until(lock, deadline, [&] { return !lane.busy; });
  lane.waited_for = false;
  if (!ended) return false;
  const std::exception_ptr failure = std::exchange(lane.failure, nullptr);
  lock.unlock();
  if (failure) std::rethrow_exception(failure);
  return true;
}

void SlotRunner::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&] {
    for (const Lane& lane : lanes_)
      if (lane.busy) return false;
    return true;
  });
}

std::vector<SlotRunner::LateFailure> SlotRunner::TakeLateFailures() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(late_, {});
}

void SlotRunner::Serve(Lane& lane) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    lane.wake.wait(lock, [&] { return closing_ || lane.work; });
    if (!lane.work) return;
    Work work = std::move(lane.work);
    lane.work = nullptr;
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
    lane.busy = false;
    if (lane.waited_for) {
      lane.failure = failure;
    } else if (failure) {
      late_.push_back({lane.procedure, failure});
    }
    finished_.notify_all();
  }
}

}  // namespace quillbeck

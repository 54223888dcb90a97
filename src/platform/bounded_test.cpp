// BoundedTest: tests run on kept threads and are waited for within a limit.
#include "platform/bounded_test.h"

#include <condition_variable>
#include <utility>

namespace quillbeck {

struct BoundedTest::Pending {
  std::mutex mutex;
  std::condition_variable answered;
  bool done = false;    // guarded by mutex
  bool result = false;  // guarded by mutex
};

BoundedTest::BoundedTest(Test test, std::chrono::milliseconds limit)
    : test_(std::move(test)), limit_(limit) {}

BoundedTest::~BoundedTest() = default;

std::shared_ptr<BoundedTest::Pending> BoundedTest::Start(const std::string& path) {
  auto pending = std::make_shared<Pending>();
  // The job owns its own share of the state and a copy of the test, so a
  // test stuck in the kernel outlives the caller, this object included.
  auto run = [pending, test = test_, path] {
    const bool result = [&] {
      try {
        return test(path);
      } catch (...) {
        return false;
      }
    }();
    std::lock_guard<std::mutex> pending_lock(pending->mutex);
    pending->done = true;
    pending->result = result;
    pending->answered.notify_all();
  };
  if (!threads_.Hand(run)) {
    // No thread to be had: the test is made here, unbounded, rather than
    // not at all.
    run();
  }
  return pending;
}

bool BoundedTest::operator()(const std::string& path) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (const auto late = outstanding_.find(path); late != outstanding_.end()) {
    bool answered = false;
    {
      std::lock_guard<std::mutex> pending_lock(late->second->mutex);
      answered = late->second->done;
    }
    // A late answer may be long stale: it only frees the path for a new
    // test. The erase may free the state with its mutex, which is no longer
    // held by then.
    if (!answered) return false;
    outstanding_.erase(late);
  }
  lock.unlock();
  const std::shared_ptr<Pending> pending = Start(path);

  std::unique_lock<std::mutex> pending_lock(pending->mutex);
  if (pending->answered.wait_for(pending_lock, limit_, [&] { return pending->done; }))
    return pending->result;
  pending_lock.unlock();
  lock.lock();
  outstanding_.emplace(path, pending);
  return false;
}

}  // namespace quillbeck

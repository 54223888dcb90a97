// BoundedTest: tests run on kept threads and are waited for within a limit.
#include "platform/bounded_test.h"

#include <condition_variable>
#include <deque>
#include <system_error>
#include <thread>
#include <utility>

namespace quillbeck {

struct BoundedTest::Pending {
  std::mutex mutex;
  std::condition_variable answered;
  bool done = false;    // guarded by mutex
  bool result = false;  // guarded by mutex
};

// The kept threads and the tests waiting for one. Each thread holds a share
// of this, so one stuck in a test outlives the BoundedTest that started it.
struct BoundedTest::Workers {
  std::mutex mutex;
  std::condition_variable work;
  std::deque<std::function<void()>> jobs;  // guarded by mutex
  int idle = 0;                            // threads waiting for a job; guarded by mutex
  bool closing = false;                    // guarded by mutex

  static void Serve(const std::shared_ptr<Workers>& self) {
    std::unique_lock<std::mutex> lock(self->mutex);
    for (;;) {
      ++self->idle;
      self->work.wait(lock, [&] { return self->closing || !self->jobs.empty(); });
      --self->idle;
      if (self->jobs.empty()) return;  // closing, nothing left to do
      std::function<void()> job = std::move(self->jobs.front());
      self->jobs.pop_front();
      lock.unlock();
      job();
      job = nullptr;
      lock.lock();
    }
  }

  // Hand() gives `job` to a kept thread, making one when none is free;
  // false when no thread could be made.
  static bool Hand(const std::shared_ptr<Workers>& self, std::function<void()> job) {
    std::lock_guard<std::mutex> lock(self->mutex);
    if (self->idle <= static_cast<int>(self->jobs.size())) {
      try {
        std::thread([self] { Serve(self); }).detach();
      } catch (const std::system_error&) {
        return false;
      }
    }
    self->jobs.push_back(std::move(job));
    self->work.notify_one();
    return true;
  }
};

BoundedTest::BoundedTest(Test test, std::chrono::milliseconds limit)
    : test_(std::move(test)), limit_(limit), workers_(std::make_shared<Workers>()) {}

BoundedTest::~BoundedTest() {
  std::lock_guard<std::mutex> lock(workers_->mutex);
  workers_->closing = true;
  workers_->work.notify_all();
}

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
  if (!Workers::Hand(workers_, run)) {
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

// KeptThreads: the threads, the jobs waiting for one, and the close.
#include "platform/kept_threads.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace quillbeck {

// Each thread holds a share of this, so one left behind in a job outlives
// the KeptThreads that made it.
struct KeptThreads::Shared {
  std::mutex mutex;
  std::condition_variable work;
  std::deque<std::function<void()>> jobs;  // guarded by mutex
  std::vector<std::thread> joinable;       // kJoin's threads; guarded by mutex
  int idle = 0;                            // threads waiting for a job; guarded by mutex
  bool closing = false;                    // guarded by mutex

  static void Serve(const std::shared_ptr<Shared>& self) {
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
      // What the job holds goes before the thread counts as idle again.
      job = nullptr;
      lock.lock();
    }
  }
};

KeptThreads::KeptThreads(OnClose on_close)
    : shared_(std::make_shared<Shared>()), on_close_(on_close) {}

KeptThreads::~KeptThreads() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->closing = true;
    threads.swap(shared_->joinable);
  }
  shared_->work.notify_all();
  for (std::thread& thread : threads) thread.join();
}

bool KeptThreads::Hand(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->idle <= static_cast<int>(shared_->jobs.size())) {
      try {
        // Room first, so a thread once made always finds its place.
        if (on_close_ == OnClose::kJoin) shared_->joinable.reserve(shared_->joinable.size() + 1);
        std::thread thread([shared = shared_] { Shared::Serve(shared); });
        if (on_close_ == OnClose::kJoin) {
          shared_->joinable.push_back(std::move(thread));
        } else {
          thread.detach();
        }
      } catch (const std::system_error&) {
        return false;
      }
    }
    shared_->jobs.push_back(std::move(job));
  }
  shared_->work.notify_one();
  return true;
}

}  // namespace quillbeck

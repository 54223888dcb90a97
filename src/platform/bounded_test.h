// An existence test that answers in bounded time. Testing a folder on a
// share whose server has gone blocks the calling thread in the kernel until
// the server answers, which may be never; no caller must wait for that. So
// the test runs on a thread kept for such tests, and the caller waits for it
// no longer than a set time.
//
// The tests run on kept threads (kept_threads.h), left behind when this
// object goes, so a test stuck on a share never holds its caller. Any thread
// may call, several at once.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/kept_threads.h"

namespace quillbeck {

class BoundedTest {
 public:
  using Test = std::function<bool(const std::string& path)>;

  // `test` must be safe to run on any thread, for any path, at any time:
  // a test that did not answer in time goes on running after the caller
  // has had its answer, possibly after this object is gone.
  BoundedTest(Test test, std::chrono::milliseconds limit);
  ~BoundedTest();
  BoundedTest(const BoundedTest&) = delete;
  BoundedTest& operator=(const BoundedTest&) = delete;

  // operator()() is the test's answer for `path`, or false when it has not
  // answered within the limit. While a test of `path` that missed its limit
  // still runs, the answer is false at once and no second test is started,
  // so a path never has more than one waiting test.
  bool operator()(const std::string& path);

 private:
  struct Pending;

  std::shared_ptr<Pending> Start(const std::string& path);

  Test test_;
  std::chrono::milliseconds limit_;
  KeptThreads threads_{KeptThreads::OnClose::kLeave};
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Pending>> outstanding_;  // guarded by mutex_
};

// The limit of every existence test of the file-system object.
inline constexpr std::chrono::milliseconds kExistenceTestLimit{500};

}  // namespace quillbeck

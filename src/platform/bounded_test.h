// An existence test that answers in bounded time. Testing a folder on a
// share whose server has gone blocks the calling thread in the kernel until
// the server answers, which may be never; no caller must wait for that. So
// the test runs on a thread kept for such tests, and the caller waits for it
// no longer than a set time.
//
// Threads are kept, not made per test: a test is handed to one that waits
// for work, and a new one is made only while every kept thread is busy (a
// thread stuck on a share that never answers stays with its test). Any
// thread may call, several at once.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

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
  struct Workers;

  std::shared_ptr<Pending> Start(const std::string& path);

  Test test_;
  std::chrono::milliseconds limit_;
  std::shared_ptr<Workers> workers_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Pending>> outstanding_;  // guarded by mutex_
};

// The limit of every existence test of the file-system object.
inline constexpr std::chrono::milliseconds kExistenceTestLimit{500};

}  // namespace quillbeck

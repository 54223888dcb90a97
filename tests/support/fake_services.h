// Fakes for the services a test cannot observe on the real system: the
// clock, the regional time stamp, the single-instance mark and the system
// log. Plain public records, arranged before the act and read after it.
#pragma once

#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/system_log.h"

namespace quillbeck::testing {

struct FixedClock : Clock {
  std::time_t now = 1765186502;  // an afternoon, well away from midnight
  std::time_t Now() override { return now; }
};

// FixedTimeStamps writes every moment as `stamp`. The default holds the
// slashes and colons of common regional forms, which a file name may not.
struct FixedTimeStamps : TimeStampFormat {
  std::string stamp = "08/12/2025 09:35:02";
  std::vector<std::time_t> formatted;
  std::string Format(std::time_t t) override {
    formatted.push_back(t);
    return stamp;
  }
};

// FakeSingleInstance hands out the mark for each folder once at a time, as
// the system does; `running` holds the folders already marked elsewhere.
struct FakeSingleInstance : SingleInstance {
  std::set<std::string> running;
  std::vector<std::string> asked;

  struct Lock : SingleInstanceLock {
    FakeSingleInstance* owner;
    std::string folder;
    bool acquired;
    Lock(FakeSingleInstance* o, std::string f, bool a)
        : owner(o), folder(std::move(f)), acquired(a) {}
    ~Lock() override {
      if (acquired) owner->running.erase(folder);
    }
    bool Acquired() const override { return acquired; }
  };

  std::unique_ptr<SingleInstanceLock> Acquire(const std::string& folder) override {
    asked.push_back(folder);
    const bool acquired = running.insert(folder).second;
    return std::make_unique<Lock>(this, folder, acquired);
  }
};

// RecordingSystemLog keeps "error: <text>" and "information: <text>" in order.
struct RecordingSystemLog : SystemLog {
  std::vector<std::string> entries;
  void Error(const std::string& text) noexcept override { entries.push_back("error: " + text); }
  void Information(const std::string& text) noexcept override {
    entries.push_back("information: " + text);
  }
};

}  // namespace quillbeck::testing

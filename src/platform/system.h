// Small services of the operating system that the core needs.
#pragma once

#include <ctime>
#include <memory>
#include <string>

namespace quillbeck {

// ExecutableFolder() is the folder that holds the running executable, without
// a trailing separator (except at the root of a drive). Settings.ini and
// Logs live there.
std::string ExecutableFolder();

// FormatTimeStamp() is the general date-and-time form of `t` (local time)
// under the user's regional settings: the short date, a blank and the long
// time; the date alone at exactly midnight.
std::string FormatTimeStamp(std::time_t t);

// Clock gives the current time; tests put a fixed one in its place.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::time_t Now() = 0;
};

// NewSystemClock() is the real clock.
std::unique_ptr<Clock> NewSystemClock();

// SingleInstanceLock holds, for as long as it lives, the mark that this copy
// of Quillbeck runs: a named mutex per user session and executable path on
// Windows, an exclusive flock on a lock file per user and executable folder
// on Linux (under $XDG_RUNTIME_DIR, else the temporary folder; opened
// close-on-exec so no started command inherits it).
class SingleInstanceLock {
 public:
  virtual ~SingleInstanceLock() = default;
  // Acquired() is false when another copy already holds the mark.
  virtual bool Acquired() const = 0;
};

// AcquireSingleInstanceLock() tries to take the mark for the executable
// folder `folder`. Never raises: a mark that cannot be made at all counts
// as acquired, so a broken lock folder never stops the service.
std::unique_ptr<SingleInstanceLock> AcquireSingleInstanceLock(
    const std::string& folder);

}  // namespace quillbeck

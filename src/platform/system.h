// Small services of the operating system that the core needs. Any thread
// may call them; each says where it holds state.
#pragma once

#include <ctime>
#include <memory>
#include <string>

namespace quillbeck {

// ExecutableFolder() is the folder that holds the running executable, without
// a trailing separator (except at the root of a drive).
std::string ExecutableFolder();

// FileFolders names where a running Quillbeck keeps its two files: the
// folder that holds Settings.ini and the folder that holds Logs/; and where
// the user has no Settings.ini yet, the folder of a system-wide one that
// start-up reads instead (empty when there is none to read).
struct FileFolders {
  std::string settings;
  std::string log_parent;
  std::string default_settings = {};
};

// ProgramFileFolders() is where this build keeps them: the executable folder
// for both, except in the Linux build made for installation, which keeps them
// in the user's configuration and state folders and creates those when they
// are missing, and which alone has a system-wide default (XDG_CONFIG_DIRS).
// Never raises: a folder that cannot be made surfaces later, as the failure
// of the Save or log write that needs it.
FileFolders ProgramFileFolders();

// Clock gives the current time; tests put a fixed one in its place.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::time_t Now() = 0;
};

// NewSystemClock() is the real clock.
std::unique_ptr<Clock> NewSystemClock();

// SingleInstanceLock holds, for as long as it lives, the mark that this copy
// of Quillbeck runs: a named mutex per user session and settings folder on
// Windows, an exclusive flock on a lock file per user and settings folder on
// Linux (under $XDG_RUNTIME_DIR, else the temporary folder; opened
// close-on-exec so no started command inherits it). The settings folder is
// the executable folder except in the packaged Linux build, whose settings
// folder is the user's own: one copy per user there.
class SingleInstanceLock {
 public:
  virtual ~SingleInstanceLock() = default;
  // Acquired() is false when another copy already holds the mark.
  virtual bool Acquired() const = 0;
};

// SingleInstance hands out the mark that one copy of Quillbeck runs.
class SingleInstance {
 public:
  virtual ~SingleInstance() = default;
  // Acquire() tries to take the mark for the program whose files live in
  // `folder`. Never raises: a mark that cannot be made at all counts as
  // acquired, so a broken lock folder never stops the service.
  virtual std::unique_ptr<SingleInstanceLock> Acquire(const std::string& folder) = 0;
};

// OpenRequestAddress() is where the copy that holds the mark for `folder`
// takes the requests of later copies: on Linux the path of a local socket
// beside the lock file, in a folder that only the user can enter; on
// Windows the name of the property that marks that copy's window. The same
// for every path of the same folder, as the mark is.
std::string OpenRequestAddress(const std::string& folder);

// NewSingleInstance() is the system's mark.
std::unique_ptr<SingleInstance> NewSingleInstance();

// TimeStampFormat writes a moment as the log time stamps show it.
class TimeStampFormat {
 public:
  virtual ~TimeStampFormat() = default;
  // Format() is the general date-and-time form of `t` (local time) under
  // the user's regional settings: the short date, a blank and the long
  // time; the date alone at exactly midnight. Never raises; the empty text
  // where the moment cannot be written.
  virtual std::string Format(std::time_t t) = 0;
};

// NewTimeStampFormat() is the system's regional form.
std::unique_ptr<TimeStampFormat> NewTimeStampFormat();

}  // namespace quillbeck

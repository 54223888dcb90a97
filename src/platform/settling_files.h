// The settle rule for files that no lease or share mode can vouch for: a
// writer on another machine, or a share's own server, may be at work on such
// a file where this machine cannot see it. The file is taken only once it
// has looked the same (file, size, last-write time) for a whole period:
// since a sighting at least that long ago. Two sightings close together (one
// folder in two slots, a tick that follows an overdue one at once) never
// vouch, however alike they are.
//
// Safe to call from any thread: each slot's work runs on a thread of its
// own, and two slots may watch one share.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "platform/file_system.h"

namespace quillbeck {

class SettlingFiles {
 public:
  using Clock = std::chrono::steady_clock;

  // Settled() is true when `path` has shown `stamp` since a sighting at
  // least one period before `now`; otherwise this sighting is remembered
  // (a new stamp starts the period anew).
  bool Settled(const std::string& path, const FileStamp& stamp, Clock::time_point now = Clock::now());

  // Changed() records that `path` was seen with `stamp` just now, after it
  // changed under a copy: its period starts anew.
  void Changed(const std::string& path, const FileStamp& stamp);

  // Forget() drops what was seen of `path` (it was taken).
  void Forget(const std::string& path);

  // How long a file must have stayed the same: the watch cycle's period.
  static constexpr std::chrono::milliseconds kPeriod{2000};

 private:
  struct Sighting {
    FileStamp stamp;
    Clock::time_point first;  // when this stamp was first seen
    Clock::time_point last;   // when it was last seen
  };
  // A file not seen for a minute is forgotten, so the record stays as small
  // as the folders.
  static constexpr std::chrono::seconds kForgetAfter{60};

  std::mutex mutex_;
  std::map<std::string, Sighting> seen_;  // guarded by mutex_
};

}  // namespace quillbeck

// The settle rule for files that no lease or share mode can vouch for: a
// writer on another machine, or a share's own server, may be at work on such
// a file where this machine cannot see it. The file is taken only once it
// has looked the same (file, size, last-write time) for a whole period:
// since a sighting at least that long ago, and only if it still looks so
// once it is copied. Two sightings close together (one folder in two slots,
// a tick that follows an overdue one at once) never vouch, however alike
// they are. Both file systems' CopyFile() follow the rule through this
// class alone.
//
// Safe to call from any thread: each slot's work runs on a thread of its
// own, and two slots may watch one share.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/file_system.h"
#include "platform/work_period.h"

namespace quillbeck {

class SettlingFiles {
 public:
  using Clock = std::chrono::steady_clock;

  // Admit() is true when a copy of `path`, which shows `stamp` now, may
  // begin: at once when `vouched` (a lease or share mode answers for every
  // writer), otherwise only when `path` has shown `stamp` since a sighting
  // at least one period before `now`. Every sighting not vouched for is
  // remembered; a new stamp starts the period anew.
  bool Admit(const std::string& path, const FileStamp& stamp, bool vouched,
             Clock::time_point now = Clock::now());

  // KeepCopy() is true when the copy of `path` just made from `stamp` may
  // stand: at once when `vouched`, otherwise only when the source still
  // shows `stamp`, which `stamp_now` is asked for. A source changed under
  // its copy starts its period anew, from `now`, and the copy is dropped.
  bool KeepCopy(const std::string& path, const FileStamp& stamp, bool vouched,
                const std::function<FileStamp()>& stamp_now, Clock::time_point now = Clock::now());

  // Forget() drops what was seen of `path` (it was taken).
  void Forget(const std::string& path);

  // Remembered() is the number of files whose sightings are kept.
  std::size_t Remembered();

  // How long a file must have stayed the same: the watch cycle's period.
  static constexpr std::chrono::milliseconds kPeriod = kWorkPeriod;

  // A file not seen for this long is forgotten, at the first sighting of
  // any file once a period has passed since the last sweep, so the record
  // stays as small as the folders and a sighting costs the same however
  // many files are remembered. An hour, since a backlog on a slow share
  // takes long to walk, and each of its files is seen once a walk: a file
  // forgotten before its turn would wait for one more.
  static constexpr std::chrono::hours kForgetAfter{1};

 private:
  struct Sighting {
    FileStamp stamp;
    Clock::time_point first;  // when this stamp was first seen
    Clock::time_point last;   // when it was last seen
  };
  // Record() notes a sighting of `path` with `stamp` at `now` and returns
  // it. Needs mutex_.
  Sighting& Record(const std::string& path, const FileStamp& stamp, Clock::time_point now);

  std::mutex mutex_;
  std::unordered_map<std::string, Sighting> seen_;  // guarded by mutex_
  std::optional<Clock::time_point> next_sweep_;     // guarded by mutex_
};

}  // namespace quillbeck

#include "platform/settling_files.h"

namespace quillbeck {

SettlingFiles::Sighting& SettlingFiles::Record(const std::string& path, const FileStamp& stamp,
                                               Clock::time_point now) {
  if (!next_sweep_ || now >= *next_sweep_) {
    std::erase_if(seen_, [&](const auto& entry) { return now - entry.second.last > kForgetAfter; });
    next_sweep_ = now + kPeriod;
  }
  auto [entry, added] = seen_.try_emplace(path, Sighting{stamp, now, now});
  Sighting& sighting = entry->second;
  if (!added && sighting.stamp != stamp) sighting = {stamp, now, now};
  sighting.last = now;
  return sighting;
}

bool SettlingFiles::Admit(const std::string& path, const FileStamp& stamp, bool vouched,
                          Clock::time_point now) {
  if (vouched) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  return now - Record(path, stamp, now).first >= kPeriod;
}

bool SettlingFiles::KeepCopy(const std::string& path, const FileStamp& stamp, bool vouched,
                             const std::function<FileStamp()>& stamp_now, Clock::time_point now) {
  if (vouched) return true;
  const FileStamp after = stamp_now();
  if (after == stamp) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  Record(path, after, now);
  return false;
}

void SettlingFiles::Forget(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  seen_.erase(path);
}

std::size_t SettlingFiles::Remembered() {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_.size();
}

}  // namespace quillbeck

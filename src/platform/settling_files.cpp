#include "platform/settling_files.h"

namespace quillbeck {

bool SettlingFiles::Settled(const std::string& path, const FileStamp& stamp,
                            Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(seen_, [&](const auto& entry) { return now - entry.second.last > kForgetAfter; });
  auto [entry, added] = seen_.try_emplace(path, Sighting{stamp, now, now});
  Sighting& sighting = entry->second;
  if (!added && sighting.stamp != stamp) sighting = {stamp, now, now};
  sighting.last = now;
  return !added && now - sighting.first >= kPeriod;
}

void SettlingFiles::Changed(const std::string& path, const FileStamp& stamp) {
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  seen_[path] = {stamp, now, now};
}

void SettlingFiles::Forget(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  seen_.erase(path);
}

}  // namespace quillbeck

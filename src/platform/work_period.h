// How often the watch cycle runs. Plain data, for any thread.
#pragma once

#include <chrono>

namespace quillbeck {

// kWorkPeriod is the period of the window's work timer, and so the time a
// file that no lease or share mode vouches for must have stayed the same
// before it is taken (SettlingFiles).
inline constexpr std::chrono::milliseconds kWorkPeriod{2000};

}  // namespace quillbeck

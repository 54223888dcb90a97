// Global: the log writers. Each call tests and creates the Logs folder, moves
// a log grown past the threshold aside, then opens, appends and closes: a
// failed step is dropped and the next one is attempted, so an entry reaches
// its file whenever that is at all possible and the caller never hears of a
// failure.
#include "log/Global.h"

#include <utility>

#include "platform/file_system.h"
#include "platform/system_log.h"

namespace quillbeck {

namespace {

// Attempt() runs one step of a writer and drops its failure; a failed test
// yields `on_failure`, which is the answer that lets the writer go on with
// the step guarded by the test.
template <typename Step, typename Result>
Result Attempt(Step&& step, Result on_failure) noexcept {
  try {
    return step();
  } catch (...) {
    return on_failure;
  }
}

template <typename Step>
void Attempt(Step&& step) noexcept {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

std::string SafeForFileName(const std::string& text) {
  std::string safe = text;
  for (char& c : safe) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' ||
        c == '<' || c == '>' || c == '|')
      c = '-';
  }
  return safe;
}

std::string Global::LogFolder() const {
  const std::string separator = PathSeparator();
  return platform_.log_parent_folder + separator + "Logs" + separator;
}

void Global::LogError(std::int32_t number, const std::string& description,
                      const std::string& procedure) noexcept {
  Attempt([&] {
    const std::string entry = std::to_string(number) + " - " + description + " - " + procedure;
    Append("Error.log", "error", entry);
    ToSystemLog(number, description, procedure, entry);
  });
}

void Global::ReportRepeats() noexcept {
  std::unique_lock<std::mutex> lock(reporting_, std::defer_lock);
  Attempt([&] { lock.lock(); });
  ReportRepeatsLocked();
}

void Global::ReportRepeatsLocked() noexcept {
  Attempt([&] {
    if (!last_sent_ || last_sent_->repeats == 0) return;
    const std::uint64_t repeats = std::exchange(last_sent_->repeats, 0);
    platform_.system_log.Information("The last error repeated " + std::to_string(repeats) +
                                     " times");
  });
}

void Global::ToSystemLog(std::int32_t number, const std::string& description,
                         const std::string& procedure, const std::string& entry) noexcept {
  std::unique_lock<std::mutex> lock(reporting_, std::defer_lock);
  Attempt([&] { lock.lock(); });
  Attempt([&] {
    const std::time_t now = platform_.clock.Now();
    // A clock set back ends the window as one run past it does.
    const bool same = last_sent_ && last_sent_->number == number &&
                      last_sent_->description == description &&
                      last_sent_->procedure == procedure && now >= last_sent_->sent &&
                      now - last_sent_->sent < kRepeatWindow;
    if (same) {
      ++last_sent_->repeats;
      return;
    }
    ReportRepeatsLocked();
    last_sent_ = SentError{number, description, procedure, now, 0};
    platform_.system_log.Error(OneLine(entry));
  });
}

void Global::LogDebug(const std::string& message) noexcept {
  Attempt([&] { Append("Debug.log", "Debug", message); });
}

void Global::Append(const std::string& file_name, const std::string& rotated_prefix,
                    const std::string& entry) noexcept {
  std::unique_lock<std::mutex> lock(writing_, std::defer_lock);
  Attempt([&] { lock.lock(); });
  FileSystem& fs = platform_.fs;
  const std::string folder = LogFolder();
  const std::string path = folder + file_name;
  auto stamp = [&] {
    return Attempt([&] { return platform_.time_stamps.Format(platform_.clock.Now()); },
                   std::string());
  };

  if (!Attempt([&] { return fs.FolderExists(folder); }, false)) {
    Attempt([&] { fs.CreateFolder(folder); });
  }
  if (Attempt([&] { return fs.FileExists(path); }, true)) {
    if (Attempt([&] { return fs.Size(path) > kRotateAbove; }, true)) {
      Attempt([&] { fs.Move(path, folder + rotated_prefix + SafeForFileName(stamp()) + ".log"); });
    }
  }
  Attempt([&] { fs.AppendText(path, OneLine(stamp() + " - " + entry) + "\r\n"); });
}

}  // namespace quillbeck

// Global: the debug flag and the two log writers.
//
// Error.log takes one entry per error caught by an error trap; Debug.log
// takes the trace lines written while bDebug is true. Both live in the Logs
// folder of the log folder's parent (Platform::log_parent_folder: the
// executable folder, or the user's state folder in the installed Linux
// build), which the writers create when missing. A
// log grown past 1000000 bytes is moved aside under a time-stamped name
// ("error..." / "Debug...") before the next entry. The writers never raise
// and never report: each step is attempted even when an earlier one failed.
// Any thread may write: one entry is written at a time, so a rotation never
// meets a write in progress.
// Errors also go to the system's log (platform/system_log.h), where those who
// look after many machines see them; trace lines stay in Debug.log. A
// lasting failure is heard there once, then as a count: repeats of an error
// within the hour after it was sent are counted, not sent, and reported in
// one information entry. Every line is one line: control characters are
// written visibly (OneLine).
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace quillbeck {

class Global {
 public:
  explicit Global(Platform& platform) : platform_(platform) {}

  // The debug flag: trace lines are written only while it is true. Set by
  // start-up, by the "Debug Log" check box and by Save, on the window's
  // thread; read by every slot's work, on the slot's own.
  std::atomic<bool> bDebug = false;

  // LogError() appends "<stamp> - <number> - <description> - <procedure>"
  // and records the same entry, without the stamp, in the system's log,
  // unless it repeats the last error sent there (same number, description
  // and procedure) within kRepeatWindow seconds of it, by the platform's
  // clock: such a repeat is only counted. The count goes to the system's log
  // ("The last error repeated N times") before the next error sent there: a
  // different one, or the same one once the window is over, which then opens
  // a window of its own.
  void LogError(std::int32_t number, const std::string& description,
                const std::string& procedure) noexcept;

  // ReportRepeats() sends the count of repeats not yet reported, if any, as
  // the program's end should before its own entry.
  void ReportRepeats() noexcept;

  // LogDebug() appends "<stamp> - <message>". It writes whatever it is given:
  // callers test bDebug first.
  void LogDebug(const std::string& message) noexcept;

  // Trace() hands `line` to LogDebug while bDebug is true, testing the flag
  // anew for every line.
  void Trace(const std::string& line) noexcept {
    if (bDebug) LogDebug(line);
  }

  // LogFolder() is the log folder's parent, the separator, "Logs" and the
  // separator again.
  std::string LogFolder() const;

  // Rotation threshold: a log larger than this is moved aside first.
  static constexpr std::uint64_t kRotateAbove = 1000000;

  // How long after an error was sent to the system's log its repeats are
  // counted rather than sent: an hour.
  static constexpr std::time_t kRepeatWindow = 3600;

 private:
  // The last error sent to the system's log, and its repeats since.
  struct SentError {
    std::int32_t number;
    std::string description;
    std::string procedure;
    std::time_t sent;
    std::uint64_t repeats;
  };

  void ToSystemLog(std::int32_t number, const std::string& description,
                   const std::string& procedure, const std::string& entry) noexcept;
  void ReportRepeatsLocked() noexcept;

  void Append(const std::string& file_name, const std::string& rotated_prefix,
              const std::string& entry) noexcept;

  Platform& platform_;
  std::mutex writing_;    // held for each entry's whole write, rotation included
  std::mutex reporting_;  // guards last_sent_; held for each error's system log entries
  std::optional<SentError> last_sent_;  // guarded by reporting_
};

// SafeForFileName() replaces the characters that a file name may not hold on
// either system (\ / : * ? " < > | and control characters) with "-", so a
// time stamp can stand in a rotated log's name.
std::string SafeForFileName(const std::string& text);

}  // namespace quillbeck

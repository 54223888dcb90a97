// SystemLog: the system's own log, where the people who look after many
// machines watch for trouble. Windows: the Application event log, source
// "Quillbeck". Linux: whatever listens on /dev/log (the journal, or a syslog
// daemon), identifier "quillbeck", facility user.
//
// Writing there is never a failure of the program: every call returns at
// once, whether or not anything listens or takes the entry, raises nothing
// and reports nothing. Calls keep no state between them, so any thread may
// make them. Each entry is written as OneLine() gives it, and cut to fit
// (CutToFit) where the system's log cannot take it whole.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quillbeck {

class SystemLog {
 public:
  virtual ~SystemLog() = default;
  // Error() records `text` as an entry of error priority (Windows: an error
  // event; Linux: priority err).
  virtual void Error(const std::string& text) noexcept = 0;
  // Information() records `text` as an entry of information priority
  // (Windows: an information event; Linux: priority info).
  virtual void Information(const std::string& text) noexcept = 0;
};

// NewSystemLog() writes to the system's log.
std::unique_ptr<SystemLog> NewSystemLog();

// NewSystemLog(address) writes to the log that `address` names instead: on
// Linux the path of the datagram socket (the system's is /dev/log), on
// Windows the event source. Tests listen there.
std::unique_ptr<SystemLog> NewSystemLog(const std::string& address);

// OneLine() is `text` with each control character (0x00 to 0x1F, and DEL,
// 0x7F) written visibly: "\r", "\n", "\t", else "\x" and two upper-case hex
// digits ("\x1B"). Every other byte stays as it is, backslashes and the
// bytes of non-ASCII characters included, so a line of the logs is always one
// line and reads as before for any real folder, command or message. The
// writers of Error.log, Debug.log and the system's log, and the error trap's
// box, write their text through it; any thread may call it.
std::string OneLine(std::string_view text);

// kCutMark ends an entry that was cut to fit.
inline constexpr std::string_view kCutMark = " [cut]";

// CutToFit() is `text` when it has at most `limit` bytes; otherwise its
// first bytes, cut before a whole UTF-8 character, followed by kCutMark,
// `limit` bytes at most in all. Any thread may call it.
std::string CutToFit(std::string text, std::size_t limit);

// DiscardingSystemLog() writes nowhere: the system log of a Platform built
// without one, as a test of something else builds it.
SystemLog& DiscardingSystemLog();

}  // namespace quillbeck

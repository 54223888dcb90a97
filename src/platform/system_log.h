// SystemLog: the system's own log, where the people who look after many
// machines watch for trouble. Windows: the Application event log, source
// "Quillbeck". Linux: whatever listens on /dev/log (the journal, or a syslog
// daemon), identifier "quillbeck", facility user.
//
// Writing there is never a failure of the program: every call returns at
// once, whether or not anything listens or takes the entry, raises nothing
// and reports nothing. Calls keep no state between them, so any thread may
// make them.
#pragma once

#include <memory>
#include <string>

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

// DiscardingSystemLog() writes nowhere: the system log of a Platform built
// without one, as a test of something else builds it.
SystemLog& DiscardingSystemLog();

}  // namespace quillbeck

// The system log on Linux: one datagram per entry to the socket where the
// journal (or a syslog daemon) listens, in the form syslog(3) sends:
// "<PRI>Mmm dd hh:mm:ss quillbeck[pid]: text" (RFC 3164).
//
// Written here rather than through syslog(3), because syslog(3) may wait:
// it sends on a blocking socket, so a receiver that has stopped reading
// (a stalled journal whose queue is full) would hold the window's thread,
// and with it the tick. Here the send never waits: a full queue, a missing
// socket or no listener drops the entry. A socket per entry: entries are
// few, and nothing is held open between them, so no started command can
// inherit it and a restarted journal is found again.
//
// A datagram is at most 8 KiB, header included: what rsyslog takes by
// default (the journal takes more, RFC 3164 asks for less). A longer entry is
// cut to fit, with a mark, rather than cut short or dropped by the receiver.
#include "platform/system_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "platform/posix/unique_fd.h"

namespace quillbeck {

namespace {

constexpr const char* kSystemSocket = "/dev/log";
constexpr int kFacilityUser = 1 << 3;
constexpr int kPriorityError = 3;
constexpr int kPriorityInformation = 6;
constexpr std::size_t kDatagramLimit = 8192;

// Header() is "<PRI>Mmm dd hh:mm:ss quillbeck[pid]: " for this moment. The
// month is always English, whatever the user's locale: receivers parse it.
std::string Header(int priority) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) local = std::tm{};
  char header[160];
  std::snprintf(header, sizeof header,
                "<%d>%s %2d %02d:%02d:%02d quillbeck[%ld]: ", kFacilityUser | priority,
                kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<long>(getpid()));
  return header;
}

class SocketSystemLog final : public SystemLog {
 public:
  explicit SocketSystemLog(std::string path) : path_(std::move(path)) {}

  void Error(const std::string& text) noexcept override { Send(kPriorityError, text); }
  void Information(const std::string& text) noexcept override { Send(kPriorityInformation, text); }

 private:
  void Send(int priority, const std::string& text) noexcept {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, path_.data(), path_.size());
    try {
      const std::string header = Header(priority);
      const std::string datagram = header + CutToFit(OneLine(text), kDatagramLimit - header.size());
      const posix::UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
      if (!fd.valid()) return;
      static_cast<void>(sendto(fd.get(), datagram.data(), datagram.size(),
                               MSG_DONTWAIT | MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&address), sizeof address));
    } catch (...) {
      // Out of memory for the text: the entry is lost, as any other is.
    }
  }

  std::string path_;
};

}  // namespace

std::unique_ptr<SystemLog> NewSystemLog() { return NewSystemLog(kSystemSocket); }

std::unique_ptr<SystemLog> NewSystemLog(const std::string& address) {
  return std::make_unique<SocketSystemLog>(address);
}

}  // namespace quillbeck

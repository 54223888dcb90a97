// The system log on Windows: the Application event log through the event
// source "Quillbeck". The source is registered for each entry and let go at
// once: entries are few, and nothing is held between them. The per-user
// installer cannot register the source in the machine's registry; the
// event is written all the same, and its text reads cleanly once an
// administrator points the source at the executable, whose message table
// (Quillbeck.mc) holds the two event IDs below.
//
// ReportEventW refuses an insertion string over 31,839 characters, and the
// event with it: a longer entry is cut to fit, with a mark. The cut counts
// UTF-8 bytes, never fewer than the UTF-16 units they become, so the string
// fits whatever the characters.
#include "platform/system_log.h"

#include <cstddef>
#include <string>
#include <utility>

#include "platform/win32/text_conversion.h"
#include "platform/win32/windows_api.h"

namespace quillbeck {

namespace {

constexpr const wchar_t* kEventSource = L"Quillbeck";
// The message table's IDs; each message is its one insertion string.
constexpr DWORD kInformationEvent = 1;
constexpr DWORD kErrorEvent = 2;
constexpr std::size_t kInsertionLimit = 31839;

class EventLog final : public SystemLog {
 public:
  explicit EventLog(std::wstring source) : source_(std::move(source)) {}

  void Error(const std::string& text) noexcept override {
    Report(EVENTLOG_ERROR_TYPE, kErrorEvent, text);
  }
  void Information(const std::string& text) noexcept override {
    Report(EVENTLOG_INFORMATION_TYPE, kInformationEvent, text);
  }

 private:
  void Report(WORD type, DWORD event, const std::string& text) noexcept {
    try {
      const std::wstring wide = win32::Utf8ToWide(CutToFit(OneLine(text), kInsertionLimit));
      HANDLE source = RegisterEventSourceW(nullptr, source_.c_str());
      if (source == nullptr) return;
      const wchar_t* strings[] = {wide.c_str()};
      ReportEventW(source, type, 0, event, nullptr, 1, 0, strings, nullptr);
      DeregisterEventSource(source);
    } catch (...) {
      // Out of memory for the text: the entry is lost, as any other is.
    }
  }

  std::wstring source_;
};

}  // namespace

std::unique_ptr<SystemLog> NewSystemLog() { return std::make_unique<EventLog>(kEventSource); }

std::unique_ptr<SystemLog> NewSystemLog(const std::string& address) {
  return std::make_unique<EventLog>(win32::Utf8ToWide(address));
}

}  // namespace quillbeck

// The system log that writes nowhere.
#include "platform/system_log.h"

namespace quillbeck {

namespace {

struct DiscardingLog final : SystemLog {
  void Error(const std::string&) noexcept override {}
  void Information(const std::string&) noexcept override {}
};

}  // namespace

SystemLog& DiscardingSystemLog() {
  static DiscardingLog log;
  return log;
}

}  // namespace quillbeck

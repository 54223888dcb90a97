// The one-line rule of every log, the cut of an entry too long for the
// system's log, and the system log that writes nowhere.
#include "platform/system_log.h"

namespace quillbeck {

namespace {

struct DiscardingLog final : SystemLog {
  void Error(const std::string&) noexcept override {}
  void Information(const std::string&) noexcept override {}
};

}  // namespace

std::string OneLine(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string line;
  line.reserve(text.size());
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) {
      line += c;
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\n') {
      line += "\\n";
    } else if (c == '\t') {
      line += "\\t";
    } else {
      line += "\\x";
      line += kHex[u >> 4];
      line += kHex[u & 0xF];
    }
  }
  return line;
}

std::string CutToFit(std::string text, std::size_t limit) {
  if (text.size() <= limit) return text;
  if (limit < kCutMark.size()) return std::string(kCutMark.substr(0, limit));
  std::size_t keep = limit - kCutMark.size();
  // A UTF-8 continuation byte (10xxxxxx) at the cut belongs to the character
  // before it, which goes whole.
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
  text.resize(keep);
  text += kCutMark;
  return text;
}

SystemLog& DiscardingSystemLog() {
  static DiscardingLog log;
  return log;
}

}  // namespace quillbeck

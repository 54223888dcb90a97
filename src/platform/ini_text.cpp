// The INI text engine: one forward pass over the lines finds what a read or a
// write needs, so no input, however shaped, costs more than linear time.
#include "platform/ini_text.h"

#include <string>

#include "platform/ascii_case.h"

namespace quillbeck {

namespace {

// Blanks and control characters are trimmed from both ends of lines, names
// and values.
bool IsTrimmed(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 0x20 || u == 0x7f;
}

std::string_view Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsTrimmed(text[begin])) ++begin;
  while (end > begin && IsTrimmed(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool NamesMatch(std::string_view a, std::string_view b) {
  return EqualsIgnoreCase(Trim(a), Trim(b));
}

enum class LineKind { kOther, kSection, kComment, kKey };

// One line of the contents: [begin, end) is its text without the line
// ending, `next` where the following line starts (end when there is no line
// ending, at the end of the contents).
struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t next = 0;
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
  std::size_t equals = 0;  // offset of the key line's "=" in the contents
};

class LineReader {
 public:
  explicit LineReader(std::string_view contents) : contents_(contents) {
    // A UTF-8 byte order mark written by an editor is not part of the first
    // line's text.
    if (contents_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

  // Next() reads the following line into `line`; false at the end.
  bool Next(Line& line) {
    if (pos_ >= contents_.size()) return false;
    line = Line{};
    line.begin = pos_;
    const std::size_t eol = contents_.find_first_of("\r\n", pos_);
    if (eol == std::string_view::npos) {
      line.end = line.next = contents_.size();
    } else {
      line.end = eol;
      line.next = eol + 1;
      if (contents_[eol] == '\r' && eol + 1 < contents_.size() && contents_[eol + 1] == '\n') {
        ++line.next;
      }
    }
    pos_ = line.next;
    Classify(line);
    return true;
  }

 private:
  void Classify(Line& line) const {
    const std::string_view raw = contents_.substr(line.begin, line.end - line.begin);
    const std::string_view text = Trim(raw);
    if (text.empty()) return;
    if (text.front() == '[') {
      const std::size_t close = text.rfind(']');
      if (close != std::string_view::npos && close > 0) {
        line.kind = LineKind::kSection;
        line.name = Trim(text.substr(1, close - 1));
        return;
      }
    }
    if (text.front() == ';') {
      line.kind = LineKind::kComment;
      return;
    }
    // Trimming removes no "=", so the first "=" of the text is the first of
    // the raw line.
    const std::size_t equals = raw.find('=');
    if (equals == std::string_view::npos) return;
    line.kind = LineKind::kKey;
    line.name = Trim(raw.substr(0, equals));
    line.value = Trim(raw.substr(equals + 1));
    line.equals = line.begin + equals;
  }

  std::string_view contents_;
  std::size_t pos_ = 0;
};

// What one pass over the contents finds for a section and key.
struct Search {
  bool section_found = false;
  std::size_t header_next = 0;  // where the line after the header starts
  bool header_ended = true;     // the header line has a line ending
  bool key_line_seen = false;
  std::size_t last_key_next = 0;  // where the line after the last key line starts
  bool last_key_ended = true;
  std::optional<Line> key;  // the first line of the key
};

Search Find(std::string_view contents, std::string_view section, std::string_view key) {
  Search found;
  LineReader reader(contents);
  Line line;
  bool inside = false;
  while (reader.Next(line)) {
    if (line.kind == LineKind::kSection) {
      // Only the first section of the name is searched.
      if (inside) break;
      if (NamesMatch(line.name, section)) {
        inside = true;
        found.section_found = true;
        found.header_next = line.next;
        found.header_ended = line.next > line.end;
      }
      continue;
    }
    if (!inside || line.kind != LineKind::kKey) continue;
    found.key_line_seen = true;
    found.last_key_next = line.next;
    found.last_key_ended = line.next > line.end;
    if (NamesMatch(line.name, key)) {
      found.key = line;
      break;
    }
  }
  return found;
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view contents, std::string_view section,
                                            std::string_view key) {
  const Search found = Find(contents, section, key);
  if (!found.key) return std::nullopt;
  std::string_view value = found.key->value;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

std::string SetProfileValue(std::string_view contents, std::string_view section,
                            std::string_view key, std::string_view value) {
  const Search found = Find(contents, section, key);
  std::string result;
  result.reserve(contents.size() + section.size() + key.size() + value.size() + 8);
  if (found.key) {
    result.append(contents.substr(0, found.key->equals + 1));
    result.append(value);
    result.append(contents.substr(found.key->end));
    return result;
  }
  std::string key_line;
  key_line.append(key).append("=").append(value).append("\r\n");
  if (found.section_found) {
    const std::size_t at = found.key_line_seen ? found.last_key_next : found.header_next;
    const bool ended = found.key_line_seen ? found.last_key_ended : found.header_ended;
    result.append(contents.substr(0, at));
    if (!ended) result.append("\r\n");
    result.append(key_line);
    result.append(contents.substr(at));
    return result;
  }
  result.append(contents);
  if (!contents.empty() && contents.back() != '\n' && contents.back() != '\r') {
    result.append("\r\n");
  }
  result.append("[").append(section).append("]\r\n").append(key_line);
  return result;
}

bool ProfileTextHoldsLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

namespace {

// ReadChangesIt() is true when a read would not give back `value` stored
// as it stands.
bool ReadChangesIt(std::string_view value) {
  if (value.empty()) return false;
  if (IsTrimmed(value.front()) || IsTrimmed(value.back())) return true;
  return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
         value.back() == value.front();
}

}  // namespace

std::string ProfileStoredForm(std::string_view value) {
  // The reader trims outside the quotes and drops exactly one pair, so
  // whatever lies inside them comes back untouched.
  if (!ReadChangesIt(value)) return std::string(value);
  std::string quoted;
  quoted.reserve(value.size() + 2);
  quoted.append(1, '"').append(value).append(1, '"');
  return quoted;
}

const char* ProfileValueRefusal(std::string_view value) {
  if (ProfileTextHoldsLineBreak(value)) return "a line break";
  if (value.find('\0') != std::string_view::npos) return "a zero byte";
  const std::size_t stored = value.size() + (ReadChangesIt(value) ? 2 : 0);
  if (stored > kLongestProfileValue) return "more text than start-up reads";
  return nullptr;
}

std::size_t ProfileCutLength(std::string_view value, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t limit = size - 1;
  if (value.size() <= limit) return value.size();
  // Back off to the start of a UTF-8 sequence that the cut would split: the
  // byte at the cut is a continuation byte and its lead byte, at most three
  // bytes before, announces a sequence reaching beyond the cut.
  auto is_continuation = [&](std::size_t i) {
    return (static_cast<unsigned char>(value[i]) & 0xC0) == 0x80;
  };
  if (!is_continuation(limit)) return limit;
  for (std::size_t back = 1; back <= 3 && back <= limit; ++back) {
    const std::size_t lead = limit - back;
    if (is_continuation(lead)) continue;
    const auto u = static_cast<unsigned char>(value[lead]);
    const std::size_t length = u >= 0xF0 ? 4 : u >= 0xE0 ? 3 : u >= 0xC0 ? 2 : 1;
    return length > back ? lead : limit;
  }
  return limit;
}

}  // namespace quillbeck

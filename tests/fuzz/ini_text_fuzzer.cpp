// Fuzz target for the INI text engine behind the Linux profile store.
//
// Input: the bytes of a settings file, optionally followed by the marker
// "\0\1" and a list of operations separated by "\1". Each operation's first
// byte picks one of the eleven keys (byte % 11) and whether it is written or
// only read ((byte / 11) % 2); the rest of it is the value to write. Without
// a marker every key is written once with a short value.
//
// What must hold, whatever the bytes:
//  - nothing crashes or trips a sanitizer;
//  - a written key reads back as written (trimmed, one pair of enclosing
//    quotes taken off, as every read does), also after later writes of the
//    other keys, and writing the same value again changes nothing;
//  - the other keys, and keys of other sections, read as they did before;
//  - every line but the key's own is kept byte for byte: at most one old
//    line changes (the key's line, or an unterminated last line that gains
//    its CR LF), and what is new is only the key's line and its section's
//    header, each ending in CR LF;
//  - a value holding CR or LF is recognised as one the file cannot hold;
//  - a value cut to a buffer never exceeds the buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ini_text.h"

namespace {

constexpr std::string_view kSection = "Quillbeck";
constexpr std::string_view kKeys[] = {"Folder 1", "Shell 1", "Folder 2", "Shell 2",
                                      "Folder 3", "Shell 3", "Folder 4", "Shell 4",
                                      "Folder 5", "Shell 5", "Debug"};
constexpr std::size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

// Keys outside the program's section, which a write must never disturb.
struct Probe {
  std::string_view section;
  std::string_view key;
};
constexpr Probe kProbes[] = {{"Other", "Folder 1"}, {"Quillbeck2", "Debug"}, {"", "Shell 1"}};

[[noreturn]] void Fail(const char* what, std::string_view contents) {
  std::fprintf(stderr, "ini_text_fuzzer: %s\ncontents (%zu bytes):\n", what, contents.size());
  std::fwrite(contents.data(), 1, contents.size(), stderr);
  std::fputc('\n', stderr);
  std::abort();
}

bool IsTrimmed(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 0x20 || u == 0x7f;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimmed(text.back())) text.remove_suffix(1);
  return text;
}

// ReadBack() is what a read of a key written as `value` must give.
std::string ReadBack(std::string_view value) {
  std::string_view text = Trim(value);
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
      text.back() == text.front()) {
    text = text.substr(1, text.size() - 2);
  }
  return std::string(text);
}

bool SameName(std::string_view a, std::string_view b) {
  a = Trim(a);
  b = Trim(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

struct Line {
  std::string_view text;
  std::string_view ending;  // "", "\r", "\n" or "\r\n"
  bool operator==(const Line& other) const { return text == other.text && ending == other.ending; }
};

std::vector<Line> SplitLines(std::string_view contents) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < contents.size()) {
    const std::size_t eol = contents.find_first_of("\r\n", pos);
    if (eol == std::string_view::npos) {
      lines.push_back({contents.substr(pos), {}});
      break;
    }
    std::size_t next = eol + 1;
    if (contents[eol] == '\r' && next < contents.size() && contents[next] == '\n') ++next;
    lines.push_back({contents.substr(pos, eol - pos), contents.substr(eol, next - eol)});
    pos = next;
  }
  return lines;
}

// CheckOnlyKeyLineChanged() checks that `after` is `before` with nothing
// changed but the line of `key` = `value` and what adding it needs.
void CheckOnlyKeyLineChanged(std::string_view before, std::string_view after, std::string_view key,
                             std::string_view value) {
  const std::vector<Line> old_lines = SplitLines(before);
  const std::vector<Line> new_lines = SplitLines(after);
  std::size_t prefix = 0;
  while (prefix < old_lines.size() && prefix < new_lines.size() &&
         old_lines[prefix] == new_lines[prefix]) {
    ++prefix;
  }
  std::size_t suffix = 0;
  while (suffix + prefix < old_lines.size() && suffix + prefix < new_lines.size() &&
         old_lines[old_lines.size() - 1 - suffix] == new_lines[new_lines.size() - 1 - suffix]) {
    ++suffix;
  }
  const std::size_t old_changed = old_lines.size() - prefix - suffix;
  const std::size_t new_changed = new_lines.size() - prefix - suffix;
  if (old_changed > 1) Fail("more than one existing line changed", after);
  if (new_changed > 3) Fail("more than three lines are new", after);

  bool old_accounted = old_changed == 0;
  bool key_line_seen = false;
  for (std::size_t i = prefix; i < prefix + new_changed; ++i) {
    const Line& line = new_lines[i];
    const std::size_t equals = line.text.find('=');
    const bool is_key_line = equals != std::string_view::npos &&
                             SameName(line.text.substr(0, equals), key) &&
                             line.text.substr(equals + 1) == value;
    if (old_changed == 1 && i == prefix) {
      const Line& old = old_lines[prefix];
      // An unterminated last line gains its line ending, nothing else.
      if (old.ending.empty() && line.text == old.text && line.ending == "\r\n") {
        old_accounted = true;
        continue;
      }
      // The key's own line keeps its name part and its line ending.
      const std::size_t old_equals = old.text.find('=');
      if (is_key_line && old_equals == equals &&
          old.text.substr(0, equals) == line.text.substr(0, equals) && old.ending == line.ending) {
        old_accounted = key_line_seen = true;
        continue;
      }
      Fail("an existing line was changed into something else", after);
    }
    if (line.ending != "\r\n") Fail("an added line does not end in CR LF", after);
    if (is_key_line && line.text.substr(0, equals) == key) {
      if (key_line_seen) Fail("the key was added twice", after);
      key_line_seen = true;
      continue;
    }
    if (line.text == "[" + std::string(kSection) + "]") continue;
    Fail("a line was added that is neither the key nor its section", after);
  }
  if (!old_accounted) Fail("an existing line disappeared", after);
  if (new_changed > 0 && !key_line_seen) Fail("the key's line is missing", after);
}

struct Operation {
  std::size_t key;
  bool write;
  std::string value;
};

std::vector<Operation> ParseOperations(std::string_view text) {
  std::vector<Operation> operations;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\1'), text.size());
    const std::string_view record = text.substr(0, end);
    if (!record.empty()) {
      const auto selector = static_cast<unsigned char>(record.front());
      operations.push_back(
          {selector % kKeyCount, (selector / kKeyCount) % 2 == 0, std::string(record.substr(1))});
    }
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return operations;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t marker = input.rfind(std::string_view("\0\1", 2));
  std::string contents(input.substr(0, marker));
  std::vector<Operation> operations;
  if (marker == std::string_view::npos) {
    for (std::size_t k = 0; k < kKeyCount; ++k) {
      operations.push_back({k, true, "v" + std::to_string(k)});
    }
  } else {
    operations = ParseOperations(input.substr(marker + 2));
  }

  // What every key and probe reads now; kept up to date after each write.
  std::optional<std::string> current[kKeyCount];
  std::optional<std::string> probes[std::size(kProbes)];
  auto read_all = [&](const std::string& text, std::optional<std::string>* keys,
                      std::optional<std::string>* probe_values) {
    for (std::size_t k = 0; k < kKeyCount; ++k) {
      keys[k] = quillbeck::FindProfileValue(text, kSection, kKeys[k]);
    }
    for (std::size_t p = 0; p < std::size(kProbes); ++p) {
      probe_values[p] = quillbeck::FindProfileValue(text, kProbes[p].section, kProbes[p].key);
    }
  };
  read_all(contents, current, probes);
  for (const std::optional<std::string>& value : current) {
    if (value && value->size() > contents.size()) Fail("a value longer than the file", contents);
  }

  std::optional<std::string> written[kKeyCount];
  for (const Operation& operation : operations) {
    const std::string_view key = kKeys[operation.key];
    const std::string& value = operation.value;

    // The buffer cut, at a size taken from the value itself.
    const std::size_t buffer = value.empty() ? 0 : static_cast<unsigned char>(value.front()) % 8;
    const std::size_t cut = quillbeck::ProfileCutLength(value, buffer);
    if (buffer == 0 ? cut != 0 : cut > buffer - 1) Fail("a cut value overflows its buffer", value);
    if (buffer > 0 && value.size() <= buffer - 1 && cut != value.size()) {
      Fail("a value that fits was cut", value);
    }

    const bool holds_break = value.find_first_of("\r\n") != std::string::npos;
    if (quillbeck::ProfileTextHoldsLineBreak(value) != holds_break) {
      Fail("a line break in a value was misjudged", value);
    }
    if (!operation.write) {
      if (written[operation.key] && current[operation.key] != written[operation.key]) {
        Fail("a key written earlier no longer reads back", contents);
      }
      continue;
    }
    if (holds_break) continue;  // the store refuses it before the engine sees it

    const std::string after = quillbeck::SetProfileValue(contents, kSection, key, value);
    std::optional<std::string> now[kKeyCount];
    std::optional<std::string> probes_now[std::size(kProbes)];
    read_all(after, now, probes_now);
    if (now[operation.key] != ReadBack(value)) Fail("a written key does not read back", after);
    for (std::size_t k = 0; k < kKeyCount; ++k) {
      if (k != operation.key && now[k] != current[k]) {
        Fail("writing one key changed another", after);
      }
    }
    for (std::size_t p = 0; p < std::size(kProbes); ++p) {
      if (probes_now[p] != probes[p]) Fail("writing a key changed a key of another section", after);
    }
    CheckOnlyKeyLineChanged(contents, after, key, value);
    if (quillbeck::SetProfileValue(after, kSection, key, value) != after) {
      Fail("writing the same value twice changed the file", after);
    }

    contents = after;
    std::copy(std::begin(now), std::end(now), std::begin(current));
    written[operation.key] = ReadBack(value);
  }

  // Every key written reads back at the end, after all the other writes.
  for (std::size_t k = 0; k < kKeyCount; ++k) {
    if (written[k] && quillbeck::FindProfileValue(contents, kSection, kKeys[k]) != written[k]) {
      Fail("a key written earlier was lost by a later write", contents);
    }
  }
  return 0;
}

// modINI: the settings keys, the settings path, ReadINI and the truth-value
// conversion of "Debug".
#include "settings/modINI.h"

#include <cctype>
#include <cstdlib>
#include <string_view>

#include "platform/ascii_case.h"
#include "platform/file_system.h"
#include "platform/ini_text.h"
#include "platform/runtime_error.h"

namespace quillbeck::modINI {

std::string FolderKey(std::int16_t slot) { return "Folder " + std::to_string(slot); }

std::string ShellKey(std::int16_t slot) { return "Shell " + std::to_string(slot); }

std::string SettingsPath(const std::string& settings_folder) {
  return settings_folder + PathSeparator() + "Settings.ini";
}

namespace {

// ReadIntoBuffer() is what ReadINI() reads with a buffer of `size`; `cut`
// says whether the store may have cut the value short.
std::string ReadIntoBuffer(ProfileStore& store, const std::string& section, const std::string& key,
                           const std::string& default_value, const std::string& path,
                           std::uint32_t size, bool* cut) {
  std::string buffer(size, ' ');
  const std::uint32_t placed =
      store.GetString(section, key, default_value, buffer, size, path, cut);
  return buffer.substr(0, placed);
}

}  // namespace

std::string ReadINI(ProfileStore& store, const std::string& section, const std::string& key,
                    const std::string& default_value, const std::string& path, std::int16_t size) {
  // A size below one leaves no room even for the terminating zero.
  if (size < 1) return std::string();
  return ReadIntoBuffer(store, section, key, default_value, path, static_cast<std::uint32_t>(size),
                        nullptr);
}

std::string ReadWholeINI(ProfileStore& store, const std::string& section, const std::string& key,
                         const std::string& default_value, const std::string& path) {
  // The store says when it may have cut: the count alone cannot, since a cut
  // that keeps a character whole may leave room in the buffer.
  constexpr std::uint32_t kLargest = std::uint32_t{1} << 24;
  static_assert(kLongestProfileValue < kLargest, "Save must not write what start-up cuts");
  std::uint32_t size = static_cast<std::uint32_t>(kBufferSize);
  for (;;) {
    bool cut = false;
    std::string value = ReadIntoBuffer(store, section, key, default_value, path, size, &cut);
    if (!cut || size >= kLargest) return value;
    size *= 2;
  }
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// ParseRadixLiteral() reads "&H1F" or "&O17" and tells whether it is zero.
bool ParseRadixLiteral(std::string_view text, bool& is_zero) {
  if (text.size() < 3 || text[0] != '&') return false;
  const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
  const int base = kind == 'H' ? 16 : kind == 'O' ? 8 : 0;
  if (base == 0) return false;
  is_zero = true;
  for (char c : text.substr(2)) {
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : std::isxdigit(static_cast<unsigned char>(c))
                          ? std::toupper(static_cast<unsigned char>(c)) - 'A' + 10
                          : 99;
    if (digit >= base) return false;
    if (digit != 0) is_zero = false;
  }
  return true;
}

// ParseDecimal() reads [sign] digits [. digits] [E [sign] digits] and tells
// whether the number is zero; at least one mantissa digit is required.
bool ParseDecimal(std::string_view text, bool& is_zero) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  bool digits = false;
  is_zero = true;
  auto mantissa = [&] {
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      digits = true;
      if (text[i] != '0') is_zero = false;
      ++i;
    }
  };
  mantissa();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa();
  }
  if (!digits) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t exponent_start = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == exponent_start) return false;
  }
  return i == text.size();
}

}  // namespace

bool ToBoolean(const std::string& text) {
  const std::string_view value = TrimBlanks(text);
  if (EqualsIgnoreCase(value, "true")) return true;
  if (EqualsIgnoreCase(value, "false")) return false;
  bool is_zero = false;
  if (ParseDecimal(value, is_zero) || ParseRadixLiteral(value, is_zero)) return !is_zero;
  throw RuntimeError(kTypeMismatch, "Type mismatch");
}

}  // namespace quillbeck::modINI

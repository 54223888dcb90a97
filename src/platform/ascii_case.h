// Comparisons of text that ignore the letter case of ASCII letters only:
// every other byte or character, accented letters and the bytes of UTF-8
// among them, must match exactly. Plain functions, safe on any thread.
#pragma once

#include <string_view>

namespace quillbeck {

namespace ascii_case_detail {

template <typename Char>
constexpr Char Lower(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename Char>
constexpr bool Equal(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

template <typename Char>
constexpr bool EndsWith(std::basic_string_view<Char> text, std::basic_string_view<Char> suffix) {
  return text.size() >= suffix.size() && Equal(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace ascii_case_detail

// EqualsIgnoreCase() returns whether `a` and `b` are the same text, ignoring
// ASCII letter case.
constexpr bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return ascii_case_detail::Equal(a, b);
}
constexpr bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
  return ascii_case_detail::Equal(a, b);
}

// EndsWithIgnoreCase() returns whether `text` ends with `suffix`, ignoring
// ASCII letter case. Every text ends with an empty suffix.
constexpr bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
  return ascii_case_detail::EndsWith(text, suffix);
}
constexpr bool EndsWithIgnoreCase(std::wstring_view text, std::wstring_view suffix) {
  return ascii_case_detail::EndsWith(text, suffix);
}

}  // namespace quillbeck

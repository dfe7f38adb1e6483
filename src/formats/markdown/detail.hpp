// Byte-level helpers shared by the renderer's own files; tools include markdown.hpp instead.
#pragma once

#include "core/text.hpp"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace vaskit::markdown::detail {

using text::ascii_lower;
using text::is_ascii_alpha;

inline constexpr std::size_t npos = std::string_view::npos;

inline bool is_digit(char c) {
  return text::is_ascii_digit(c);
}
inline bool is_blank_char(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}
// Python's \s and str.isspace() on ASCII.
inline bool is_ascii_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f');
}
inline bool is_word(char c) {
  return is_digit(c) || is_ascii_alpha(c) || c == '_';
}
inline bool is_blank(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return is_blank_char(c) || c == '\n'; });
}
// Whether s[i..] starts with `lit` (lower-case ASCII), in any letter case.
inline bool starts_with_ci(std::string_view s, std::size_t i, std::string_view lit) {
  return i <= s.size() && text::istarts_with_ascii(s.substr(i), lit);
}
inline std::size_t digits_end(std::string_view s, std::size_t i) {
  while (i < s.size() && is_digit(s[i]))
    ++i;
  return i;
}
// `s` without its leading and trailing ASCII white space.
inline std::string_view trim_ascii(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && is_ascii_space(s[b]))
    ++b;
  while (e > b && is_ascii_space(s[e - 1]))
    --e;
  return s.substr(b, e - b);
}

} // namespace vaskit::markdown::detail

// UTF-8 text helpers with Python's string semantics where the tools rely on them.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace vaskit::text {

// One unit of UTF-8 text: a code point, or an invalid byte run (`ok` false, `cp` U+FFFD) that
// covers the maximal invalid subpart, the way Python's decode('utf-8', 'replace') groups bytes.
struct CodePoint {
  std::size_t pos; // offset of the unit's first byte
  std::size_t len; // its byte length, at least 1
  char32_t cp;
  bool ok;
};

// The unit that starts at s[i]; `i` must be below s.size().
CodePoint decode_at(std::string_view s, std::size_t i);

// The units of a text in order: `for (const CodePoint &u : code_points(s))`. The view must
// outlive the iteration.
class CodePoints {
public:
  class iterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = CodePoint;
    using difference_type = std::ptrdiff_t;
    using pointer = const CodePoint *;
    using reference = const CodePoint &;

    iterator() = default;
    iterator(std::string_view s, std::size_t i) : s_(s) { load(i); }
    reference operator*() const { return unit_; }
    pointer operator->() const { return &unit_; }
    iterator &operator++() {
      load(unit_.pos + unit_.len);
      return *this;
    }
    iterator operator++(int) {
      iterator was = *this;
      ++*this;
      return was;
    }
    bool operator==(const iterator &o) const { return unit_.pos == o.unit_.pos; }

  private:
    void load(std::size_t i) {
      unit_ = i < s_.size() ? decode_at(s_, i) : CodePoint{s_.size(), 0, 0, false};
    }
    std::string_view s_;
    CodePoint unit_{};
  };

  explicit CodePoints(std::string_view s) : s_(s) {}
  iterator begin() const { return {s_, 0}; }
  iterator end() const { return {s_, s_.size()}; }

private:
  std::string_view s_;
};

inline CodePoints code_points(std::string_view s) {
  return CodePoints(s);
}

// Whether `s` is well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool valid_utf8(std::string_view s);
// Decodes `s` replacing every invalid sequence by U+FFFD.
std::string sanitize_utf8(std::string_view s);
// Code points of `s` (invalid bytes become U+FFFD).
std::u32string to_u32(std::string_view s);
std::string from_u32(std::u32string_view s);
void append_utf8(std::string &out, char32_t cp);
// Number of code points.
std::size_t length(std::string_view s);
// The first `n` code points of `s` (Python s[:n]).
std::string prefix(std::string_view s, std::size_t n);

// Python str.isspace() for one code point (Unicode white space, U+001C..U+001F included).
bool is_space(char32_t cp);
// Python str.strip()/lstrip()/rstrip() without arguments.
std::string strip(std::string_view s);
std::string lstrip(std::string_view s);
std::string rstrip(std::string_view s);
// Python str.strip(chars) for an ASCII set of characters.
std::string strip_chars(std::string_view s, std::string_view chars);
// Python str.lower()/upper() (full Unicode case mapping).
std::string lower(std::string_view s);
std::string upper(std::string_view s);
// Python str.splitlines() (keepends false): splits at \n, \r\n, \r, \v, \f, \x1c-\x1e, \x85,
// U+2028, U+2029.
std::vector<std::string> splitlines(std::string_view s);
// Python str.split(sep) with a non-empty separator.
std::vector<std::string> split(std::string_view s, std::string_view sep);
// Every occurrence of `from` replaced by `to` (Python str.replace).
std::string replace_all(std::string_view s, std::string_view from, std::string_view to);
bool starts_with(std::string_view s, std::string_view prefix);
bool ends_with(std::string_view s, std::string_view suffix);
std::string join(const std::vector<std::string> &parts, std::string_view sep);

// Value of a hexadecimal digit (either case), or -1 for any other character.
int hex_digit(char c);

// ASCII-only character classes and case mapping: other bytes, UTF-8 ones included, are never
// letters or digits here and pass through unchanged (unlike <cctype>, which is undefined for a
// negative `char`).
constexpr bool is_ascii_digit(char c) {
  return c >= '0' && c <= '9';
}
constexpr bool is_ascii_alpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char ascii_upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string ascii_lower(std::string_view s);
std::string ascii_upper(std::string_view s);
// Equal but for the letter case of ASCII letters.
bool iequals_ascii(std::string_view a, std::string_view b);
// Whether `s` starts with `prefix` but for the letter case of ASCII letters.
bool istarts_with_ascii(std::string_view s, std::string_view prefix);

// Python str.isdecimal() for one code point: a decimal digit of any script (category Nd).
bool is_decimal(char32_t cp);
// The value 0-9 of such a digit (full-width ４ is 4, as Python's int() reads it); -1 for any
// other code point.
int decimal_value(char32_t cp);

// Python's str.isprintable() for one code point: false for control, format, surrogate,
// private-use and unassigned code points and for every separator but the ASCII space.
bool is_printable(char32_t cp);

// unicodedata.normalize('NFKD', s); invalid sequences become U+FFFD first.
std::string nfkd(std::string_view s);

// Python's repr() (and str()) of a float: the shortest digits that read back as `v`, positional
// for decimal exponents from -4 to 15 ("0.0001", "1e+16", "20.0", "-0.0"), "inf", "-inf",
// "nan".
std::string float_repr(double v);

// "&", "<" and ">" as character references; with `quote` also '"' (for attribute values).
void append_html_escaped(std::string &out, std::string_view s, bool quote = false);
std::string html_escape(std::string_view s, bool quote = false);

// Python's repr() of a text: in single quotes, or double quotes when it holds ' but no ";
// backslash and that quote escaped, \n \r \t, other characters that str.isprintable() rejects as
// \xNN, \uNNNN or \UNNNNNNNN, and bytes that are not UTF-8 as Python's surrogate escapes \udcNN.
std::string py_repr(std::string_view s);

// Replaces C0 control characters (other than tab and line feed), DEL and C1 controls by
// U+FFFD, so that text from files cannot drive the terminal.
std::string printable(std::string_view s);

} // namespace vaskit::text

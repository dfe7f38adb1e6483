// UTF-8 text helpers with Python's string semantics where the tools rely on them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vaskit::text {

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
// Value of a decimal digit of any script (Unicode category Nd, as Python's int() reads them),
// or -1 for any other code point.
int decimal_value(char32_t cp);

// "&", "<" and ">" as character references; with `quote` also '"' (for attribute values).
void append_html_escaped(std::string &out, std::string_view s, bool quote = false);
std::string html_escape(std::string_view s, bool quote = false);

// Replaces C0 control characters (other than tab and line feed), DEL and C1 controls by
// U+FFFD, so that text from files cannot drive the terminal.
std::string printable(std::string_view s);

} // namespace vaskit::text

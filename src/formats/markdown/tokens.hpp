// Placeholders cross cmark as inert tokens: U+E000, a kind letter, the number as written, U+E001.
// Private-use characters mean nothing to Markdown, survive HTML escaping and never start an HTML
// block, so a placeholder keeps its place and the rest of its line is still Markdown. Kinds: C and
// M for code and math placeholders, P and Q for a U+E000 or U+E002 that the text itself holds
// (U+E002 opens the sentinels that stand for Markdown-bearing HTML elements, html_blocks.hpp),
// V for a "|" inside a code span, which the table extension would otherwise take for the end of
// a cell.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vaskit::markdown::detail {

inline constexpr std::string_view kTokOpen = "\xEE\x80\x80";
inline constexpr std::string_view kTokClose = "\xEE\x80\x81";
inline constexpr std::string_view kTokOpenUrl = "%EE%80%80"; // as cmark writes it in a link target
inline constexpr std::string_view kTokCloseUrl = "%EE%80%81";
inline constexpr std::string_view kSentOpen = "\xEE\x80\x82";
inline constexpr std::string_view kSentClose = "\xEE\x80\x83";

// The text as cmark gets it: CR LF and lone CR become LF, the text's own U+E000 and U+E002
// become tokens, and with `placeholders` so do "<!--CODE_PLACEHOLDER_n-->" and
// "<!--MATH_PLACEHOLDER_n-->". `tokens` is increased by the number of those tokens written.
// Every "|" inside a code span becomes a V token, so that a table row keeps its code spans whole
// and no cell is split off (see shield_code_span_pipes).
std::string shield_text(std::string_view md, bool placeholders, std::size_t &tokens);

// Turns the "|" of each code span of `text` into V tokens, line by line, code spans taken as on a
// table row: a run of backticks up to the next run of the same length on that line; a backtick
// after a backslash opens none. A "|" after a backslash stays as written: in a table row that is
// the escaped pipe the table extension reads as "|". Elsewhere the token comes back as the "|" it
// stands for, so only table rows change. The text is left as it is when no line holds a backtick
// and a "|".
void shield_code_span_pipes(std::string &text);

struct Token {
  std::size_t length = 0; // 0: no token here
  char kind = 0;
  std::string_view digits;
};

// The token, raw or percent-encoded, that starts at s[i], if any.
Token token_at(std::string_view s, std::size_t i);

// Appends `html` to `out` with the tokens turned back into what the text held. A token lies
// within one piece of the assembled page: every piece ends or begins with a byte no token holds.
void append_unshielded(std::string &out, std::string_view html);

// `s` without its tokens (slugs carry no placeholder text).
std::string drop_tokens(std::string_view s);

// Whether a paragraph line holds one code or math token and nothing else.
bool is_lone_token(std::string_view line);

} // namespace vaskit::markdown::detail

// Regular expressions with the matching rules of Python's `re` module, on PCRE2 (UTF + UCP).
//
// Patterns are written exactly as a Python program holds them (raw string literals here).
// The layer translates the few places where Python and PCRE2 differ: `\s` also matches
// U+001C..U+001F, `\Z` is the very end of the text, `\uXXXX`/`\UXXXXXXXX` escapes.
// Offsets are byte offsets into the UTF-8 subject. Python's `{,n}` quantifier is read as `{0,n}`.
//
// `\w`, `\d`, `\s`, `\S` and `\b` agree with Python 3.11 for every code point, and so do
// IGNORECASE matches between single characters, with one exception left as PCRE2 has it:
// Python treats 'İ' (U+0130), 'ı' (U+0131), 'i' and 'I' as all equal under IGNORECASE;
// PCRE2 10.42 pairs only 'i'/'I', and 'İ' and 'ı' match only themselves.
// Not supported: `\N{NAME}` escapes. Subjects must be valid UTF-8 (else error is thrown); a
// subject given as `Utf8` was checked once already and is matched without checking it again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vaskit::re {

enum Flag : unsigned {
  NOFLAG = 0,
  IGNORECASE = 1u << 0,
  MULTILINE = 1u << 1,
  DOTALL = 1u << 2,
  VERBOSE = 1u << 3,
};

// A pattern that does not compile, or a matching failure (match or depth limit).
class error : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class Pattern;

// A view of text known to be valid UTF-8. Only `check` makes one from a plain view, after
// validating it; pieces cut on character boundaries stay valid. Patterns match such text without
// checking it again, which matters when one text goes through many scans.
class Utf8 {
public:
  // Validates `s`; throws error naming the byte offset of the first invalid sequence.
  static Utf8 check(std::string_view s);
  // The piece [pos, pos + n) (clipped to the text); throws error when an end falls inside a
  // character.
  Utf8 substr(std::size_t pos, std::size_t n = std::string_view::npos) const;
  // The piece of this text that `part` views (a view into the same characters, as cut by a
  // scanner); throws error when `part` lies outside the text or cuts a character.
  Utf8 slice(std::string_view part) const;
  std::string_view view() const { return text_; }
  std::size_t size() const { return text_.size(); }

private:
  friend class Match;
  friend class Utf8Text;
  explicit Utf8(std::string_view s) : text_(s) {}
  std::string_view text_;
};

// Valid UTF-8 text with storage of its own: checked once, then built on only from validated
// pieces or from text checked on its way in, so that a text handed through many stages is
// validated once and not by every stage again.
class Utf8Text {
public:
  Utf8Text() = default;
  // Validates `s`; throws error naming the byte offset of the first invalid sequence.
  static Utf8Text check(std::string s);
  // A copy of validated text.
  explicit Utf8Text(Utf8 piece) : text_(piece.view()) {}

  Utf8 view() const { return Utf8(text_); }
  const std::string &str() const { return text_; }
  std::string release() { return std::move(text_); }
  std::size_t size() const { return text_.size(); }
  void reserve(std::size_t n) { text_.reserve(n); }
  // Empties the text and keeps its memory for the next one.
  void clear() { text_.clear(); }

  void append(Utf8 piece) { text_.append(piece.view()); }
  // Appends `s` after checking it (throws error, leaving the text as it was).
  void append_checked(std::string_view s);

private:
  friend class Pattern;
  std::string text_;
};

// One match. It refers to the subject it was found in: the subject must outlive it.
class Match {
public:
  // Text of group n ("" when the group did not take part). Throws error for a bad index.
  std::string_view group(std::size_t n = 0) const;
  std::string_view group(std::string_view name) const;
  // Whether group n took part in the match.
  bool matched(std::size_t n) const;
  // Byte offsets of group n in the subject; npos when the group did not take part.
  std::size_t start(std::size_t n = 0) const;
  std::size_t end(std::size_t n = 0) const;
  // Number of capturing groups in the pattern (group 0 not counted).
  std::size_t groups() const;
  // Text of group n as validated text (the subject was valid, groups end on characters).
  Utf8 group_text(std::size_t n = 0) const;
  // Python's Match.expand: `\1`, `\g<1>`, `\g<name>`, `\n`, `\t`, `\\` ...; unmatched groups give
  // "".
  std::string expand(std::string_view tmpl) const;
  std::string_view subject() const { return subject_; }

private:
  friend class Pattern;
  std::string_view subject_;
  std::vector<std::size_t> ovector_; // pairs of start/end, npos for unset
  std::shared_ptr<const void> code_; // keeps the compiled pattern alive for name lookups
};

using Replacer = std::function<std::string(const Match &)>;

class Pattern {
public:
  // Compiles `pattern` with Python syntax; throws error on a bad pattern.
  explicit Pattern(std::string_view pattern, unsigned flags = NOFLAG);

  // Leftmost match at or after byte offset `pos`.
  std::optional<Match> search(std::string_view s, std::size_t pos = 0) const;
  // Match anchored at `pos` (Python's re.match).
  std::optional<Match> match(std::string_view s, std::size_t pos = 0) const;
  // Match covering the whole of `s`.
  std::optional<Match> fullmatch(std::string_view s) const;
  // All non-overlapping matches, left to right, with Python 3.7+ empty-match rules.
  std::vector<Match> finditer(std::string_view s) const;
  // Python's findall for patterns with at most one group: group 0 without groups, else group 1.
  // Patterns with several groups throw error (use finditer).
  std::vector<std::string> findall(std::string_view s) const;
  // Calls `fn` for each match, in finditer order, until it returns false. The subject is checked
  // for valid UTF-8 once; a loop of search() calls from later offsets checks the rest each time.
  void for_each(std::string_view s, const std::function<bool(const Match &)> &fn) const;
  // Replace matches (all when count == 0). The template is expanded like Python's re.sub.
  std::string sub(std::string_view tmpl, std::string_view s, std::size_t count = 0) const;
  // Replace matches by what `fn` returns; the returned text is inserted literally.
  std::string sub(const Replacer &fn, std::string_view s, std::size_t count = 0) const;
  // Like sub, also returning the number of replacements made.
  std::pair<std::string, std::size_t> subn(const Replacer &fn, std::string_view s,
                                           std::size_t count = 0) const;
  // Like sub, appending the result to `out` (so that many pieces build one text); returns the
  // number of replacements.
  std::size_t sub_into(std::string &out, std::string_view tmpl, std::string_view s,
                       std::size_t count = 0) const;
  std::size_t sub_into(std::string &out, const Replacer &fn, std::string_view s,
                       std::size_t count = 0) const;
  // Python's re.split (captured groups are included in the result; unmatched ones as "").
  std::vector<std::string> split(std::string_view s, std::size_t maxsplit = 0) const;

  // The same operations on validated text: matched without a UTF-8 check. `pos` must fall on a
  // character boundary (else error).
  std::optional<Match> search(Utf8 s, std::size_t pos = 0) const;
  std::optional<Match> match(Utf8 s, std::size_t pos = 0) const;
  std::vector<Match> finditer(Utf8 s) const;
  void for_each(Utf8 s, const std::function<bool(const Match &)> &fn) const;
  std::string sub(std::string_view tmpl, Utf8 s, std::size_t count = 0) const;
  std::string sub(const Replacer &fn, Utf8 s, std::size_t count = 0) const;
  std::size_t sub_into(std::string &out, std::string_view tmpl, Utf8 s,
                       std::size_t count = 0) const;
  std::size_t sub_into(std::string &out, const Replacer &fn, Utf8 s, std::size_t count = 0) const;
  // Replacing in validated text gives validated text: the template is checked once, each text a
  // replacer returns on its way in (error when one is not valid UTF-8).
  Utf8Text sub_text(std::string_view tmpl, Utf8 s, std::size_t count = 0) const;
  Utf8Text sub_text(const Replacer &fn, Utf8 s, std::size_t count = 0) const;
  std::size_t sub_into(Utf8Text &out, std::string_view tmpl, Utf8 s, std::size_t count = 0) const;
  std::size_t sub_into(Utf8Text &out, const Replacer &fn, Utf8 s, std::size_t count = 0) const;

  const std::string &pattern() const { return source_; }
  unsigned flags() const { return flags_; }

private:
  std::string source_;
  unsigned flags_;
  std::shared_ptr<const void> code_;
  template <class F>
  void scan(std::string_view s, bool checked, std::size_t count, F &&on_match) const;
  std::optional<Match> find(std::string_view s, std::size_t pos, bool anchored,
                            uint32_t opts) const;
  std::size_t sub_template(std::string &out, std::string_view tmpl, std::string_view s,
                           bool checked, std::size_t count) const;
  std::size_t sub_replacer(std::string &out, const Replacer &fn, std::string_view s, bool checked,
                           std::size_t count) const;
};

// Module-level conveniences, compiling through a small cache (patterns are reused across calls).
const Pattern &compile(std::string_view pattern, unsigned flags = NOFLAG);
std::optional<Match> search(std::string_view pattern, std::string_view s, unsigned flags = NOFLAG);
std::optional<Match> match(std::string_view pattern, std::string_view s, unsigned flags = NOFLAG);
std::optional<Match> fullmatch(std::string_view pattern, std::string_view s,
                               unsigned flags = NOFLAG);
std::string sub(std::string_view pattern, std::string_view tmpl, std::string_view s,
                unsigned flags = NOFLAG);
std::string sub(std::string_view pattern, const Replacer &fn, std::string_view s,
                unsigned flags = NOFLAG);
std::vector<std::string> split(std::string_view pattern, std::string_view s,
                               unsigned flags = NOFLAG);
// re.escape
std::string escape(std::string_view text);

} // namespace vaskit::re

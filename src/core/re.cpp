// Python `re` semantics on PCRE2 (8-bit code units, UTF + UCP, newline LF).
#define PCRE2_CODE_UNIT_WIDTH 8
#include "core/re.hpp"

#include <pcre2.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <mutex>
#include <type_traits>
#include <utility>

#include "core/text.hpp"

namespace vaskit::re {

namespace {

constexpr std::size_t npos = std::string_view::npos;
static_assert(PCRE2_UNSET == npos, "PCRE2_UNSET must equal std::string_view::npos");

// Python's str.isspace() set as class items (what `\s` means in a Python pattern) ...
constexpr std::string_view kSpaceItems =
    R"(\t\n\x0b\f\r\x1c-\x20\x85\xa0\x{1680}\x{2000}-\x{200a}\x{2028}\x{2029}\x{202f}\x{205f}\x{3000})";
// ... and its complement as class items, so that `\S` also works inside a class.
constexpr std::string_view kNonSpaceItems =
    R"(\x00-\x08\x0e-\x1b\x21-\x84\x86-\x9f\x{a1}-\x{167f}\x{1681}-\x{1fff}\x{200b}-\x{2027})"
    R"(\x{202a}-\x{202e}\x{2030}-\x{205e}\x{2060}-\x{2fff}\x{3001}-\x{10ffff})";

// Whether `p` holds `n` hex digits at `i`.
bool hex_run(std::string_view p, std::size_t i, std::size_t n) {
  if (i + n > p.size())
    return false;
  for (std::size_t k = 0; k < n; ++k)
    if (text::hex_digit(p[i + k]) < 0)
      return false;
  return true;
}

// What a character class that opens at p[i] == '[' can be compiled as. PCRE2 adds the other
// case of every code point in a class when it compiles without case, and the `\S` items reach
// U+10FFFF: one such class costs milliseconds. A class holding both `\s` and `\S` is any
// character; a class whose items have no case (spaces, digits, ASCII non-letters) means the
// same with or without IGNORECASE and is compiled case-sensitively.
enum class ClassKind { plain, any, caseless_neutral };

// `end` receives the offset just past the closing "]".
ClassKind class_kind(std::string_view p, std::size_t i, std::size_t &end) {
  const std::size_t n = p.size();
  std::size_t k = i + 1;
  bool negated = false;
  if (k < n && p[k] == '^') {
    negated = true;
    ++k;
  }
  bool neutral = true, space = false, non_space = false;
  // Reads one class item at k: its code point (ASCII only), or -1 for a set or anything else.
  auto item = [&]() -> long {
    const char c = p[k];
    if (c == '[' && k + 1 < n && p[k + 1] == ':') {
      const std::size_t close = p.find(":]", k + 2);
      k = close == npos ? k + 1 : close + 2;
      neutral = false;
      return -1;
    }
    if (c != '\\') {
      ++k;
      if (static_cast<unsigned char>(c) >= 0x80)
        neutral = false;
      return static_cast<unsigned char>(c);
    }
    if (k + 1 >= n) {
      ++k;
      neutral = false;
      return -1;
    }
    const char d = p[k + 1];
    k += 2;
    switch (d) {
    case 's':
      space = true;
      return -1;
    case 'S':
      non_space = true;
      return -1;
    case 'd':
    case 'D':
      return -1;
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    case 'f':
      return '\f';
    case 'v':
      return '\v';
    case 'x':
      if (hex_run(p, k, 2)) {
        const long v = text::hex_digit(p[k]) * 16 + text::hex_digit(p[k + 1]);
        k += 2;
        return v;
      }
      break;
    default:
      if (static_cast<unsigned char>(d) < 0x80 && !text::is_ascii_alpha(d) &&
          !text::is_ascii_digit(d))
        return static_cast<unsigned char>(d);
    }
    neutral = false;
    return -1;
  };
  auto has_letter = [](long lo, long hi) {
    return !(hi < 'A' || lo > 'z' || (lo > 'Z' && hi < 'a'));
  };
  bool first = true;
  while (k < n) {
    if (p[k] == ']' && !first)
      break;
    first = false;
    const long lo = item();
    if (k + 1 < n && p[k] == '-' && p[k + 1] != ']') {
      ++k;
      const long hi = item();
      if (lo < 0 || hi < 0 || hi >= 0x80 || has_letter(lo, hi))
        neutral = false;
    } else if (lo >= 0 && (lo >= 0x80 || has_letter(lo, lo))) {
      neutral = false;
    }
  }
  if (k >= n)
    return ClassKind::plain; // unterminated: PCRE2 reports it
  end = k + 1;
  if (!negated && space && non_space)
    return ClassKind::any;
  return neutral ? ClassKind::caseless_neutral : ClassKind::plain;
}

// Rewrites the Python-only parts of a pattern into PCRE2 syntax. Everything else is copied.
std::string translate(std::string_view p, bool verbose) {
  std::string out;
  out.reserve(p.size() + 16);
  bool in_class = false;
  bool close_group = false; // the class is wrapped in (?-i:...)
  std::size_t i = 0;
  const std::size_t n = p.size();
  while (i < n) {
    const char c = p[i];
    if (c == '\\') {
      if (i + 1 >= n) { // trailing backslash: PCRE2 reports it
        out += c;
        ++i;
        continue;
      }
      const char d = p[i + 1];
      if (d == 's') {
        if (in_class)
          out += kSpaceItems;
        else
          out.append("[").append(kSpaceItems).append("]");
        i += 2;
      } else if (d == 'S') {
        if (in_class)
          out += kNonSpaceItems;
        else
          out.append("[^").append(kSpaceItems).append("]");
        i += 2;
      } else if (d == 'Z' && !in_class) {
        out += "\\z";
        i += 2;
      } else if ((d == 'u' && hex_run(p, i + 2, 4)) || (d == 'U' && hex_run(p, i + 2, 8))) {
        const std::size_t len = d == 'u' ? 4 : 8;
        std::string_view digits = p.substr(i + 2, len);
        while (digits.size() > 1 && digits.front() == '0')
          digits.remove_prefix(1);
        out.append("\\x{").append(digits).append("}");
        i += 2 + len;
      } else {
        out += c;
        out += d;
        i += 2;
      }
      continue;
    }
    if (in_class) {
      if (c == '[' && i + 1 < n && p[i + 1] == ':') { // POSIX class [:name:], copied whole
        const std::size_t close = p.find(":]", i + 2);
        if (close != npos) {
          out.append(p.substr(i, close + 2 - i));
          i = close + 2;
          continue;
        }
      }
      out += c;
      ++i;
      if (c == ']') {
        in_class = false;
        if (close_group)
          out += ')';
        close_group = false;
      }
      continue;
    }
    if (c == '[') {
      std::size_t end = npos;
      const ClassKind kind = class_kind(p, i, end);
      if (kind == ClassKind::any) {
        out += "(?s:.)";
        i = end;
        continue;
      }
      if (kind == ClassKind::caseless_neutral) {
        out += "(?-i:";
        close_group = true;
      }
      in_class = true;
      out += c;
      ++i;
      if (i < n && p[i] == '^')
        out += p[i++];
      if (i < n && p[i] == ']') // a leading ']' is a literal
        out += p[i++];
      continue;
    }
    if (c == '#' && verbose) { // comment up to the end of the line, copied untouched
      const std::size_t nl = p.find('\n', i);
      const std::size_t stop = nl == npos ? n : nl + 1;
      out.append(p.substr(i, stop - i));
      i = stop;
      continue;
    }
    if (c == '(' && p.substr(i, 3) == "(?#") { // (?#comment)
      const std::size_t close = p.find(')', i);
      const std::size_t stop = close == npos ? n : close + 1;
      out.append(p.substr(i, stop - i));
      i = stop;
      continue;
    }
    if (c == '(' && i + 2 < n && p[i + 1] == '?') {
      // Inline flags such as (?x) or (?ix:...): note when verbose mode starts.
      std::size_t k = i + 2;
      bool has_x = false, negative = false;
      while (k < n && std::string_view("aiLmsux-").find(p[k]) != npos) {
        if (p[k] == '-')
          negative = true;
        else if (p[k] == 'x' && !negative)
          has_x = true;
        ++k;
      }
      if (k < n && (p[k] == ')' || p[k] == ':') && has_x)
        verbose = true;
    }
    if (c == '{' && i + 1 < n && p[i + 1] == ',') {
      // Python reads {,n} as {0,n} and {,} as {0,}; PCRE2 10.42 would read them literally.
      std::size_t k = i + 2;
      while (k < n && text::is_ascii_digit(p[k]))
        ++k;
      if (k < n && p[k] == '}') {
        out += "{0,";
        i += 2;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

std::string pcre2_message(int code) {
  PCRE2_UCHAR buf[256];
  const int rc = pcre2_get_error_message(code, buf, sizeof buf);
  if (rc < 0)
    return "PCRE2 error " + std::to_string(code);
  return std::string(reinterpret_cast<const char *>(buf));
}

// A compiled pattern: the search form, plus the anchored forms used by match() and
// fullmatch(), compiled (and JIT-compiled) on first use.
struct Code {
  std::string translated;
  uint32_t options = 0;
  pcre2_code *search = nullptr;
  uint32_t capture_count = 0;

  mutable std::once_flag anchored_once, full_once;
  mutable pcre2_code *anchored = nullptr;
  mutable pcre2_code *full = nullptr;

  Code() = default;
  Code(const Code &) = delete;
  Code &operator=(const Code &) = delete;
  ~Code() {
    pcre2_code_free(search);
    pcre2_code_free(anchored);
    pcre2_code_free(full);
  }

  const pcre2_code *anchored_code() const {
    std::call_once(anchored_once, [&] { anchored = build(PCRE2_ANCHORED); });
    return anchored;
  }
  const pcre2_code *full_code() const {
    std::call_once(full_once, [&] { full = build(PCRE2_ANCHORED | PCRE2_ENDANCHORED); });
    return full;
  }

  // Compiles the translated pattern with extra options; throws error on failure.
  pcre2_code *build(uint32_t extra, std::string_view original = {}) const {
    pcre2_compile_context *cctx = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(cctx, PCRE2_NEWLINE_LF);
    int errcode = 0;
    PCRE2_SIZE erroffset = 0;
    pcre2_code *code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                      options | extra, &errcode, &erroffset, cctx);
    pcre2_compile_context_free(cctx);
    if (!code) {
      std::string msg = "invalid regular expression";
      if (!original.empty() || translated.empty())
        msg += " '" + std::string(original) + "'";
      msg += ": " + pcre2_message(errcode);
      if (original == translated)
        msg += " at offset " + std::to_string(erroffset);
      throw error(msg);
    }
    // Without JIT support the interpreter is used; that is slower but still correct.
    (void)pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    return code;
  }
};

const Code &code_of(const std::shared_ptr<const void> &p) {
  if (!p)
    throw error("regular expression used before it was compiled");
  return *static_cast<const Code *>(p.get());
}

// JIT stack per thread: lazy group repeats such as (?:.|\n)*? over a 5 MB text need a few
// hundred MB; 64 MB covers single-character repeats ([\s\S]*?) whatever the length.
constexpr std::size_t kJitStackMax = std::size_t{1} << 30;
constexpr std::size_t kJitStackMin = std::size_t{1} << 24;

// Per-thread match context with a JIT stack big enough for lazy quantifiers over long texts.
struct ThreadContext {
  pcre2_match_context *mctx = nullptr;
  pcre2_jit_stack *stack = nullptr;
  ThreadContext() {
    mctx = pcre2_match_context_create(nullptr);
    // The maximum is address space reserved up front; pages are only touched when used.
    for (std::size_t max = kJitStackMax; !stack && max >= kJitStackMin; max /= 4)
      stack = pcre2_jit_stack_create(64 * 1024, max, nullptr);
    if (mctx && stack)
      pcre2_jit_stack_assign(mctx, nullptr, stack);
  }
  ~ThreadContext() {
    pcre2_jit_stack_free(stack);
    pcre2_match_context_free(mctx);
  }
  ThreadContext(const ThreadContext &) = delete;
  ThreadContext &operator=(const ThreadContext &) = delete;
};

pcre2_match_context *thread_context() {
  thread_local ThreadContext ctx;
  return ctx.mctx;
}

// Match data blocks are kept per thread for reuse: stages search once per line or per piece of
// text, and a block per call would cost an allocation each time. Nested uses (a replacer that
// matches another pattern) take further blocks from the pool.
class MatchData {
public:
  explicit MatchData(const pcre2_code *code) {
    uint32_t captures = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captures);
    const uint32_t pairs = captures + 1;
    auto &free_list = pool();
    for (auto it = free_list.rbegin(); it != free_list.rend(); ++it) {
      if (pcre2_get_ovector_count(*it) >= pairs) {
        md = *it;
        free_list.erase(std::next(it).base());
        return;
      }
    }
    md = pcre2_match_data_create(std::max(pairs, kMinPairs), nullptr);
    if (!md)
      throw std::bad_alloc();
  }
  ~MatchData() {
    auto &free_list = pool();
    if (free_list.size() < kPoolSize)
      free_list.push_back(md);
    else
      pcre2_match_data_free(md);
  }
  MatchData(const MatchData &) = delete;
  MatchData &operator=(const MatchData &) = delete;

  pcre2_match_data *md = nullptr;

private:
  static constexpr uint32_t kMinPairs = 16;
  static constexpr std::size_t kPoolSize = 8;
  struct Pool {
    std::vector<pcre2_match_data *> blocks;
    ~Pool() {
      for (pcre2_match_data *b : blocks)
        pcre2_match_data_free(b);
    }
  };
  static std::vector<pcre2_match_data *> &pool() {
    thread_local Pool p;
    return p.blocks;
  }
};

// Runs one match. Returns false when there is no match; throws error on matching errors.
bool run(const pcre2_code *code, pcre2_match_data *md, std::string_view s, std::size_t pos,
         uint32_t opts) {
  static const char empty = 0;
  const auto *subject = reinterpret_cast<PCRE2_SPTR>(s.data() ? s.data() : &empty);
  pcre2_match_context *mctx = thread_context();
  int rc = pcre2_match(code, subject, s.size(), pos, opts, md, mctx);
  if (rc == PCRE2_ERROR_JIT_STACKLIMIT) // retry with the interpreter, which uses the heap
    rc = pcre2_match(code, subject, s.size(), pos, opts | PCRE2_NO_JIT, md, mctx);
  if (rc >= 0)
    return true;
  if (rc == PCRE2_ERROR_NOMATCH)
    return false;
  if (rc <= PCRE2_ERROR_UTF8_ERR1 && rc >= PCRE2_ERROR_UTF8_ERR21)
    throw error("subject is not valid UTF-8 (byte offset " +
                std::to_string(pcre2_get_startchar(md)) + "): " + pcre2_message(rc));
  if (rc == PCRE2_ERROR_BADUTFOFFSET)
    throw error("regular expression start offset is inside a UTF-8 character");
  throw error("regular expression matching failed: " + pcre2_message(rc));
}

// One piece of a replacement template: literal text, or a group reference.
struct Piece {
  std::string text;
  std::size_t group = npos;
};

bool is_octal(char c) {
  return c >= '0' && c <= '7';
}

bool is_identifier(std::string_view s) {
  if (s.empty())
    return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const bool ok = c == '_' || text::is_ascii_alpha(static_cast<char>(c)) || c >= 0x80 ||
                    (i > 0 && text::is_ascii_digit(static_cast<char>(c)));
    if (!ok)
      return false;
  }
  return true;
}

// Parses a Python replacement template (re.sub / Match.expand).
std::vector<Piece> parse_template(std::string_view t, const Code &code) {
  std::vector<Piece> pieces;
  std::string lit;
  auto add_group = [&](std::size_t g, std::size_t at) {
    if (g > code.capture_count)
      throw error("invalid group reference " + std::to_string(g) + " at position " +
                  std::to_string(at));
    if (!lit.empty()) {
      pieces.push_back({std::move(lit), npos});
      lit.clear();
    }
    pieces.push_back({std::string(), g});
  };
  std::size_t i = 0;
  const std::size_t n = t.size();
  while (i < n) {
    const std::size_t bs = t.find('\\', i);
    if (bs == npos) {
      lit.append(t.substr(i));
      break;
    }
    lit.append(t.substr(i, bs - i));
    if (bs + 1 >= n)
      throw error("bad escape (end of pattern) at position " + std::to_string(bs));
    const char c = t[bs + 1];
    i = bs + 2;
    if (c == 'g') {
      if (i >= n || t[i] != '<')
        throw error("missing < at position " + std::to_string(i));
      const std::size_t close = t.find('>', i + 1);
      if (close == npos)
        throw error("missing >, unterminated name at position " + std::to_string(i + 1));
      const std::string_view name = t.substr(i + 1, close - i - 1);
      if (name.empty())
        throw error("missing group name at position " + std::to_string(i + 1));
      std::size_t g = 0;
      bool numeric = true;
      for (char ch : name)
        numeric = numeric && text::is_ascii_digit(ch);
      if (numeric) {
        for (char ch : name) {
          g = g * 10 + static_cast<std::size_t>(ch - '0');
          if (g > 1000000)
            break;
        }
      } else {
        if (!is_identifier(name))
          throw error("bad character in group name '" + std::string(name) + "' at position " +
                      std::to_string(i + 1));
        const std::string zname(name);
        const int num = pcre2_substring_number_from_name(
            code.search, reinterpret_cast<PCRE2_SPTR>(zname.c_str()));
        if (num < 0)
          throw error("unknown group name '" + zname + "'");
        g = static_cast<std::size_t>(num);
      }
      add_group(g, i + 1);
      i = close + 1;
    } else if (c == '0') {
      unsigned v = 0;
      std::size_t k = 0;
      while (k < 2 && i < n && is_octal(t[i])) {
        v = v * 8 + static_cast<unsigned>(t[i] - '0');
        ++i;
        ++k;
      }
      text::append_utf8(lit, static_cast<char32_t>(v));
    } else if (text::is_ascii_digit(c)) {
      if (i < n && text::is_ascii_digit(t[i])) {
        if (is_octal(c) && is_octal(t[i]) && i + 1 < n && is_octal(t[i + 1])) {
          const unsigned v = static_cast<unsigned>(c - '0') * 64 +
                             static_cast<unsigned>(t[i] - '0') * 8 +
                             static_cast<unsigned>(t[i + 1] - '0');
          if (v > 0377)
            throw error("octal escape value \\" + std::string(t.substr(bs + 1, 3)) +
                        " outside of range 0-0o377 at position " + std::to_string(bs));
          text::append_utf8(lit, static_cast<char32_t>(v));
          i += 2;
        } else {
          add_group(static_cast<std::size_t>(c - '0') * 10 + static_cast<std::size_t>(t[i] - '0'),
                    bs + 1);
          ++i;
        }
      } else {
        add_group(static_cast<std::size_t>(c - '0'), bs + 1);
      }
    } else {
      switch (c) {
      case 'a':
        lit += '\a';
        break;
      case 'b':
        lit += '\b';
        break;
      case 'f':
        lit += '\f';
        break;
      case 'n':
        lit += '\n';
        break;
      case 'r':
        lit += '\r';
        break;
      case 't':
        lit += '\t';
        break;
      case 'v':
        lit += '\v';
        break;
      case '\\':
        lit += '\\';
        break;
      default:
        if (text::is_ascii_alpha(c))
          throw error(std::string("bad escape \\") + c + " at position " + std::to_string(bs));
        lit += '\\'; // unknown non-letter escapes are kept as written
        lit += c;
      }
    }
  }
  if (!lit.empty())
    pieces.push_back({std::move(lit), npos});
  return pieces;
}

// A template without backslashes is inserted as it is, without parsing.
bool is_literal_template(std::string_view t) {
  return t.find('\\') == npos;
}

void apply_template(const std::vector<Piece> &pieces, const Match &m, std::string &out) {
  for (const Piece &p : pieces) {
    if (p.group == npos)
      out += p.text;
    else
      out += m.group(p.group);
  }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Utf8

Utf8 Utf8::check(std::string_view s) {
  if (!text::valid_utf8(s)) {
    std::size_t at = 0;
    while (at < s.size()) {
      const text::CodePoint u = text::decode_at(s, at);
      if (!u.ok)
        break;
      at += u.len;
    }
    throw error("subject is not valid UTF-8 (byte offset " + std::to_string(at) + ")");
  }
  return Utf8(s);
}

Utf8Text Utf8Text::check(std::string s) {
  Utf8::check(s);
  Utf8Text t;
  t.text_ = std::move(s);
  return t;
}

void Utf8Text::append_checked(std::string_view s) {
  text_.append(Utf8::check(s).view());
}

Utf8 Utf8::substr(std::size_t pos, std::size_t n) const {
  if (pos > text_.size())
    throw error("text offset " + std::to_string(pos) + " is past the end");
  const std::string_view piece = text_.substr(pos, n);
  const std::size_t end = pos + piece.size();
  auto inside_character = [&](std::size_t at) {
    return at < text_.size() && (static_cast<unsigned char>(text_[at]) & 0xC0) == 0x80;
  };
  if (inside_character(pos) || inside_character(end))
    throw error("text offset falls inside a UTF-8 character");
  return Utf8(piece);
}

Utf8 Utf8::slice(std::string_view part) const {
  const auto begin = reinterpret_cast<std::uintptr_t>(text_.data());
  const auto at = reinterpret_cast<std::uintptr_t>(part.data());
  if (part.empty() && text_.empty())
    return *this;
  if (at < begin || at - begin + part.size() > text_.size())
    throw error("text piece lies outside the validated text");
  return substr(at - begin, part.size());
}

// ---------------------------------------------------------------------------------------------
// Match

std::string_view Match::group(std::size_t n) const {
  const std::size_t s = start(n);
  if (s == npos)
    return {};
  const std::size_t e = ovector_[2 * n + 1];
  if (e < s) // only possible with \K tricks
    return {};
  return subject_.substr(s, e - s);
}

std::string_view Match::group(std::string_view name) const {
  const Code &code = code_of(code_);
  const std::string zname(name);
  const int num =
      pcre2_substring_number_from_name(code.search, reinterpret_cast<PCRE2_SPTR>(zname.c_str()));
  if (num < 0)
    throw error("no such group: '" + zname + "'");
  return group(static_cast<std::size_t>(num));
}

bool Match::matched(std::size_t n) const {
  return start(n) != npos;
}

std::size_t Match::start(std::size_t n) const {
  if (2 * n + 1 >= ovector_.size())
    throw error("no such group: " + std::to_string(n));
  return ovector_[2 * n];
}

std::size_t Match::end(std::size_t n) const {
  if (2 * n + 1 >= ovector_.size())
    throw error("no such group: " + std::to_string(n));
  return ovector_[2 * n + 1];
}

std::size_t Match::groups() const {
  return ovector_.empty() ? 0 : ovector_.size() / 2 - 1;
}

Utf8 Match::group_text(std::size_t n) const {
  return Utf8(group(n));
}

std::string Match::expand(std::string_view tmpl) const {
  const auto pieces = parse_template(tmpl, code_of(code_));
  std::string out;
  apply_template(pieces, *this, out);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Pattern

namespace {

// Copies the offsets of the last match; groups that did not take part get npos.
void fill_ovector(std::vector<std::size_t> &ov, pcre2_match_data *md, uint32_t capture_count) {
  const std::size_t pairs = static_cast<std::size_t>(capture_count) + 1;
  const PCRE2_SIZE *src = pcre2_get_ovector_pointer(md);
  const std::size_t avail = pcre2_get_ovector_count(md);
  ov.assign(2 * pairs, npos);
  for (std::size_t k = 0; k < pairs && k < avail; ++k) {
    ov[2 * k] = src[2 * k];
    ov[2 * k + 1] = src[2 * k + 1];
  }
}

} // namespace

Pattern::Pattern(std::string_view pattern, unsigned flags) : source_(pattern), flags_(flags) {
  auto code = std::make_shared<Code>();
  code->translated = translate(pattern, (flags & VERBOSE) != 0);
  code->options = PCRE2_UTF | PCRE2_UCP;
  if (flags & IGNORECASE)
    code->options |= PCRE2_CASELESS;
  if (flags & MULTILINE)
    code->options |= PCRE2_MULTILINE;
  if (flags & DOTALL)
    code->options |= PCRE2_DOTALL;
  if (flags & VERBOSE)
    code->options |= PCRE2_EXTENDED;
  code->search = code->build(0, pattern);
  pcre2_pattern_info(code->search, PCRE2_INFO_CAPTURECOUNT, &code->capture_count);
  code_ = std::move(code);
}

std::optional<Match> Pattern::find(std::string_view s, std::size_t pos, bool anchored,
                                   uint32_t opts) const {
  const Code &code = code_of(code_);
  if (pos > s.size())
    return std::nullopt;
  const pcre2_code *compiled = anchored ? code.anchored_code() : code.search;
  MatchData md(compiled);
  if (!run(compiled, md.md, s, pos, opts))
    return std::nullopt;
  Match m;
  m.subject_ = s;
  m.code_ = code_;
  fill_ovector(m.ovector_, md.md, code.capture_count);
  return m;
}

std::optional<Match> Pattern::search(std::string_view s, std::size_t pos) const {
  return find(s, pos, false, 0);
}

std::optional<Match> Pattern::match(std::string_view s, std::size_t pos) const {
  return find(s, pos, true, 0);
}

std::optional<Match> Pattern::search(Utf8 s, std::size_t pos) const {
  if (pos < s.size())
    s.substr(pos); // refuses an offset inside a character
  return find(s.view(), pos, false, PCRE2_NO_UTF_CHECK);
}

std::optional<Match> Pattern::match(Utf8 s, std::size_t pos) const {
  if (pos < s.size())
    s.substr(pos);
  return find(s.view(), pos, true, PCRE2_NO_UTF_CHECK);
}

std::optional<Match> Pattern::fullmatch(std::string_view s) const {
  const Code &code = code_of(code_);
  const pcre2_code *full = code.full_code();
  MatchData md(full);
  if (!run(full, md.md, s, 0, 0))
    return std::nullopt;
  Match m;
  m.subject_ = s;
  m.code_ = code_;
  fill_ovector(m.ovector_, md.md, code.capture_count);
  return m;
}

// Calls on_match(const Match&) for each successive match (at most `count`, 0 = all), with
// Python 3.7+ rules: after an empty match at p the next match may not be empty at p (it may
// still start at p when non-empty); after a non-empty match an empty match may follow it
// directly. An on_match that returns bool ends the scan by returning false. The subject is
// checked for valid UTF-8 once (not at all when `checked`: the caller validated it); later calls
// skip the check, so a scan is linear in the subject.
template <class F>
void Pattern::scan(std::string_view s, bool checked, std::size_t count, F &&on_match) const {
  const Code &code = code_of(code_);
  MatchData md(code.search);
  Match m;
  m.subject_ = s;
  m.code_ = code_;
  std::size_t pos = 0, found = 0;
  uint32_t opts = checked ? PCRE2_NO_UTF_CHECK : 0;
  while (pos <= s.size()) {
    if (count != 0 && found >= count)
      break;
    if (!run(code.search, md.md, s, pos, opts))
      break;
    opts = PCRE2_NO_UTF_CHECK;
    fill_ovector(m.ovector_, md.md, code.capture_count);
    const std::size_t st = m.ovector_[0], en = m.ovector_[1];
    ++found;
    if constexpr (std::is_same_v<std::invoke_result_t<F &, const Match &>, bool>) {
      if (!on_match(static_cast<const Match &>(m)))
        break;
    } else {
      on_match(static_cast<const Match &>(m));
    }
    if (en <= st)
      opts |= PCRE2_NOTEMPTY_ATSTART;
    pos = en < st ? st : en;
  }
}

void Pattern::for_each(std::string_view s, const std::function<bool(const Match &)> &fn) const {
  scan(s, false, 0, fn);
}

void Pattern::for_each(Utf8 s, const std::function<bool(const Match &)> &fn) const {
  scan(s.view(), true, 0, fn);
}

std::vector<Match> Pattern::finditer(std::string_view s) const {
  std::vector<Match> out;
  scan(s, false, 0, [&](const Match &m) { out.push_back(m); });
  return out;
}

std::vector<Match> Pattern::finditer(Utf8 s) const {
  std::vector<Match> out;
  scan(s.view(), true, 0, [&](const Match &m) { out.push_back(m); });
  return out;
}

std::vector<std::string> Pattern::findall(std::string_view s) const {
  const Code &code = code_of(code_);
  if (code.capture_count > 1)
    throw error("findall with several groups is not supported (use finditer): " + source_);
  const std::size_t g = code.capture_count;
  std::vector<std::string> out;
  scan(s, false, 0, [&](const Match &m) { out.emplace_back(m.group(g)); });
  return out;
}

std::size_t Pattern::sub_template(std::string &out, std::string_view tmpl, std::string_view s,
                                  bool checked, std::size_t count) const {
  std::size_t last = 0, n = 0;
  if (is_literal_template(tmpl)) {
    scan(s, checked, count, [&](const Match &m) {
      out.append(s.substr(last, m.start() - last));
      out.append(tmpl);
      last = m.end();
      ++n;
    });
  } else {
    const auto pieces = parse_template(tmpl, code_of(code_));
    scan(s, checked, count, [&](const Match &m) {
      out.append(s.substr(last, m.start() - last));
      apply_template(pieces, m, out);
      last = m.end();
      ++n;
    });
  }
  out.append(s.substr(last));
  return n;
}

std::size_t Pattern::sub_replacer(std::string &out, const Replacer &fn, std::string_view s,
                                  bool checked, std::size_t count) const {
  std::size_t last = 0, n = 0;
  scan(s, checked, count, [&](const Match &m) {
    out.append(s.substr(last, m.start() - last));
    out += fn(m);
    last = m.end();
    ++n;
  });
  out.append(s.substr(last));
  return n;
}

std::size_t Pattern::sub_into(std::string &out, std::string_view tmpl, std::string_view s,
                              std::size_t count) const {
  return sub_template(out, tmpl, s, false, count);
}

std::size_t Pattern::sub_into(std::string &out, const Replacer &fn, std::string_view s,
                              std::size_t count) const {
  return sub_replacer(out, fn, s, false, count);
}

std::size_t Pattern::sub_into(std::string &out, std::string_view tmpl, Utf8 s,
                              std::size_t count) const {
  return sub_template(out, tmpl, s.view(), true, count);
}

std::size_t Pattern::sub_into(std::string &out, const Replacer &fn, Utf8 s,
                              std::size_t count) const {
  return sub_replacer(out, fn, s.view(), true, count);
}

std::size_t Pattern::sub_into(Utf8Text &out, std::string_view tmpl, Utf8 s,
                              std::size_t count) const {
  Utf8::check(tmpl);
  return sub_template(out.text_, tmpl, s.view(), true, count);
}

std::size_t Pattern::sub_into(Utf8Text &out, const Replacer &fn, Utf8 s, std::size_t count) const {
  return sub_replacer(
      out.text_,
      [&](const Match &m) {
        std::string replacement = fn(m);
        Utf8::check(replacement);
        return replacement;
      },
      s.view(), true, count);
}

Utf8Text Pattern::sub_text(std::string_view tmpl, Utf8 s, std::size_t count) const {
  Utf8Text out;
  out.reserve(s.size());
  sub_into(out, tmpl, s, count);
  return out;
}

Utf8Text Pattern::sub_text(const Replacer &fn, Utf8 s, std::size_t count) const {
  Utf8Text out;
  out.reserve(s.size());
  sub_into(out, fn, s, count);
  return out;
}

std::string Pattern::sub(std::string_view tmpl, Utf8 s, std::size_t count) const {
  std::string out;
  out.reserve(s.size());
  sub_into(out, tmpl, s, count);
  return out;
}

std::string Pattern::sub(const Replacer &fn, Utf8 s, std::size_t count) const {
  std::string out;
  out.reserve(s.size());
  sub_into(out, fn, s, count);
  return out;
}

std::string Pattern::sub(std::string_view tmpl, std::string_view s, std::size_t count) const {
  std::string out;
  out.reserve(s.size());
  sub_into(out, tmpl, s, count);
  return out;
}

std::pair<std::string, std::size_t> Pattern::subn(const Replacer &fn, std::string_view s,
                                                  std::size_t count) const {
  std::string out;
  out.reserve(s.size());
  const std::size_t n = sub_into(out, fn, s, count);
  return {std::move(out), n};
}

std::string Pattern::sub(const Replacer &fn, std::string_view s, std::size_t count) const {
  return subn(fn, s, count).first;
}

std::vector<std::string> Pattern::split(std::string_view s, std::size_t maxsplit) const {
  std::vector<std::string> out;
  std::size_t last = 0;
  scan(s, false, maxsplit, [&](const Match &m) {
    out.emplace_back(s.substr(last, m.start() - last));
    for (std::size_t g = 1; g <= m.groups(); ++g)
      out.emplace_back(m.group(g));
    last = m.end();
  });
  out.emplace_back(s.substr(last));
  return out;
}

// ---------------------------------------------------------------------------------------------
// Module level

const Pattern &compile(std::string_view pattern, unsigned flags) {
  // Entries are never evicted: callers hold references. Tools use a bounded set of patterns.
  static std::mutex mu;
  static std::map<std::pair<std::string, unsigned>, std::unique_ptr<Pattern>, std::less<>> cache;
  std::lock_guard<std::mutex> lock(mu);
  auto key = std::make_pair(std::string(pattern), flags);
  auto it = cache.find(key);
  if (it != cache.end())
    return *it->second;
  auto p = std::make_unique<Pattern>(pattern, flags); // throws before anything is cached
  const Pattern &ref = *p;
  cache.emplace(std::move(key), std::move(p));
  return ref;
}

std::optional<Match> search(std::string_view pattern, std::string_view s, unsigned flags) {
  return compile(pattern, flags).search(s);
}

std::optional<Match> match(std::string_view pattern, std::string_view s, unsigned flags) {
  return compile(pattern, flags).match(s);
}

std::optional<Match> fullmatch(std::string_view pattern, std::string_view s, unsigned flags) {
  return compile(pattern, flags).fullmatch(s);
}

std::string sub(std::string_view pattern, std::string_view tmpl, std::string_view s,
                unsigned flags) {
  return compile(pattern, flags).sub(tmpl, s);
}

std::string sub(std::string_view pattern, const Replacer &fn, std::string_view s, unsigned flags) {
  return compile(pattern, flags).sub(fn, s);
}

std::vector<std::string> split(std::string_view pattern, std::string_view s, unsigned flags) {
  return compile(pattern, flags).split(s);
}

std::string escape(std::string_view text) {
  static constexpr std::string_view special = "()[]{}?*+-|^$\\.&~# \t\n\r\v\f";
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char c : text) {
    if (special.find(c) != npos)
      out += '\\';
    out += c;
  }
  return out;
}

} // namespace vaskit::re

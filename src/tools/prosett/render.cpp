#include "tools/prosett/render.hpp"

#include "core/text.hpp"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <sys/mman.h>

namespace vaskit::prosett {
namespace {

constexpr int kOptions =
    CMARK_OPT_UNSAFE | CMARK_OPT_HARDBREAKS | CMARK_OPT_TABLE_PREFER_STYLE_ATTRIBUTES;
constexpr std::size_t npos = std::string_view::npos;

// Placeholders cross cmark as inert tokens: U+E000, a kind letter, the number as written, U+E001.
// Private-use characters mean nothing to Markdown, survive HTML escaping and never start an HTML
// block, so a placeholder keeps its place and the rest of its line is still Markdown. Kinds: C and
// M for code and math placeholders, P and Q for a U+E000 or U+E002 that the text itself holds.
constexpr std::string_view kTokOpen = "\xEE\x80\x80";
constexpr std::string_view kTokClose = "\xEE\x80\x81";
constexpr std::string_view kTokOpenUrl = "%EE%80%80"; // as cmark writes it inside a link target
constexpr std::string_view kTokCloseUrl = "%EE%80%81";
// A details body is rendered on its own; its enclosing text holds the comment line
// "<!--" U+E002 number U+E003 "-->" in its place, which cmark keeps as a block of its own.
constexpr std::string_view kSentOpen = "\xEE\x80\x82";
constexpr std::string_view kSentClose = "\xEE\x80\x83";
constexpr std::string_view kCodePlaceholder = "<!--CODE_PLACEHOLDER_";
constexpr std::string_view kMathPlaceholder = "<!--MATH_PLACEHOLDER_";

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_blank_char(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}
// Python's \s and str.isspace() on ASCII.
bool is_ascii_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f');
}
bool is_word(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool is_blank(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return is_blank_char(c) || c == '\n'; });
}
// Whether s[i..] starts with `lit`, in any letter case.
bool starts_with_ci(std::string_view s, std::size_t i, std::string_view lit) {
  return i <= s.size() && text::istarts_with_ascii(s.substr(i), lit);
}

std::size_t digits_end(std::string_view s, std::size_t i) {
  while (i < s.size() && is_digit(s[i]))
    ++i;
  return i;
}

// ---------------------------------------------------------------------------------------------
// Placeholders <-> tokens

std::string make_token(char kind, std::string_view digits) {
  std::string t(kTokOpen);
  t += kind;
  t += digits;
  t += kTokClose;
  return t;
}

// Shields the placeholders; `tokens` counts the tokens written.
std::string shield_placeholders(std::string_view md, std::size_t &tokens) {
  std::string out;
  out.reserve(md.size() + md.size() / 8);
  std::size_t i = 0;
  while (i < md.size()) {
    std::size_t j = i;
    while (j < md.size() && md[j] != '<' && md[j] != '\xEE' && md[j] != '\r')
      ++j;
    out.append(md.substr(i, j - i));
    if (j == md.size())
      break;
    i = j;
    if (md[j] == '\r') { // CR LF and lone CR end lines, as the renderer we stand in for reads them
      out += '\n';
      i += md.substr(j, 2) == "\r\n" ? 2 : 1;
      continue;
    }
    const std::string_view rest = md.substr(j);
    if (rest.starts_with(kCodePlaceholder) || rest.starts_with(kMathPlaceholder)) {
      const std::size_t d0 = kCodePlaceholder.size();
      const std::size_t d1 = digits_end(rest, d0);
      if (d1 > d0 && rest.substr(d1).starts_with("-->")) {
        out += make_token(rest[4] == 'C' ? 'C' : 'M', rest.substr(d0, d1 - d0));
        ++tokens;
        i += d1 + 3;
        continue;
      }
    } else if (rest.starts_with(kTokOpen) || rest.starts_with(kSentOpen)) {
      out += make_token(rest.starts_with(kTokOpen) ? 'P' : 'Q', "");
      ++tokens;
      i += kTokOpen.size();
      continue;
    }
    out += md[j];
    ++i;
  }
  return out;
}

struct Token {
  std::size_t length = 0; // 0: no token here
  char kind = 0;
  std::string_view digits;
};

Token token_at(std::string_view s, std::size_t i) {
  Token t;
  const std::string_view rest = s.substr(i);
  const bool raw = rest.starts_with(kTokOpen);
  if (!raw && !rest.starts_with(kTokOpenUrl))
    return t;
  std::size_t p = raw ? kTokOpen.size() : kTokOpenUrl.size();
  if (p >= rest.size())
    return t;
  const char kind = rest[p++];
  std::size_t q = p;
  if (kind == 'C' || kind == 'M') {
    q = digits_end(rest, p);
    if (q == p)
      return t;
  } else if (kind != 'P' && kind != 'Q') {
    return t;
  }
  const std::string_view close = raw ? kTokClose : kTokCloseUrl;
  if (!rest.substr(q).starts_with(close))
    return t;
  t.length = q + close.size();
  t.kind = kind;
  t.digits = rest.substr(p, q - p);
  return t;
}

// Appends `html` to `out` with the tokens turned back into placeholders. A token lies within one
// piece of the assembled page: every piece ends or begins with a byte no token holds.
void append_unshielded(std::string &out, std::string_view html) {
  std::size_t i = 0;
  while (i < html.size()) {
    std::size_t j = i;
    while (j < html.size() && html[j] != '\xEE' && html[j] != '%')
      ++j;
    out.append(html.substr(i, j - i));
    if (j == html.size())
      break;
    i = j;
    const Token t = token_at(html, j);
    if (t.length == 0) {
      out += html[j];
      ++i;
      continue;
    }
    const bool raw = html[j] == '\xEE';
    switch (t.kind) {
    case 'C':
    case 'M':
      out += t.kind == 'C' ? kCodePlaceholder : kMathPlaceholder;
      out += t.digits;
      out += "-->";
      break;
    case 'P':
      out += raw ? kTokOpen : kTokOpenUrl;
      break;
    default:
      out += raw ? kSentOpen : std::string_view("%EE%80%82");
      break;
    }
    i += t.length;
  }
}

// Removes every token (slugs carry no placeholder text).
std::string drop_tokens(std::string_view s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t j = s.find(kTokOpen, i);
    if (j == npos) {
      out.append(s.substr(i));
      break;
    }
    out.append(s.substr(i, j - i));
    const Token t = token_at(s, j);
    if (t.length == 0) {
      out.append(kTokOpen);
      i = j + kTokOpen.size();
    } else {
      i = j + t.length;
    }
  }
  return out;
}

// A paragraph line that holds one code or math token and nothing else.
bool is_lone_token(std::string_view line) {
  std::size_t b = 0, e = line.size();
  while (b < e && is_ascii_space(line[b]))
    ++b;
  while (e > b && is_ascii_space(line[e - 1]))
    --e;
  const std::string_view core = line.substr(b, e - b);
  if (!core.starts_with(kTokOpen))
    return false;
  const Token t = token_at(core, 0);
  return t.length == core.size() && (t.kind == 'C' || t.kind == 'M');
}

// ---------------------------------------------------------------------------------------------
// Details elements: the text is split into segments, one per details body, each rendered alone.

struct Details {
  std::string open_tag; // the opening tag without its markdown attribute
  std::string summary;  // the raw summary element, empty when there is none
  std::size_t body = 0; // segment index
};

struct Segment {
  std::string md;
  std::vector<std::size_t> children; // details whose sentinel stands in md, in text order
};

struct SplitText {
  std::vector<Segment> segments; // segment 0 is the document itself
  std::vector<Details> details;
};

std::string sentinel(std::size_t id) {
  std::string s = "<!--";
  s += kSentOpen;
  s += std::to_string(id);
  s += kSentClose;
  s += "-->";
  return s;
}

struct Attr {
  std::string_view raw;
  std::string_view name;
  bool has_value = false;
  std::string_view value;
};

// Attributes of a start tag, from the text between the tag name and ">".
std::vector<Attr> parse_attrs(std::string_view s) {
  std::vector<Attr> attrs;
  std::size_t i = 0;
  auto skip_ws = [&] {
    while (i < s.size() && (is_ascii_space(s[i]) || s[i] == '/'))
      ++i;
  };
  while (true) {
    skip_ws();
    if (i >= s.size())
      break;
    Attr a;
    const std::size_t start = i;
    while (i < s.size() && !is_ascii_space(s[i]) && s[i] != '=' && s[i] != '/')
      ++i;
    if (i == start) { // a stray "=": skip it
      ++i;
      continue;
    }
    a.name = s.substr(start, i - start);
    std::size_t j = i;
    while (j < s.size() && is_ascii_space(s[j]))
      ++j;
    if (j < s.size() && s[j] == '=') {
      ++j;
      while (j < s.size() && is_ascii_space(s[j]))
        ++j;
      a.has_value = true;
      if (j < s.size() && (s[j] == '"' || s[j] == '\'')) {
        const std::size_t close = s.find(s[j], j + 1);
        const std::size_t end = close == npos ? s.size() : close;
        a.value = s.substr(j + 1, end - j - 1);
        i = close == npos ? s.size() : close + 1;
      } else {
        const std::size_t v = j;
        while (j < s.size() && !is_ascii_space(s[j]))
          ++j;
        a.value = s.substr(v, j - v);
        i = j;
      }
    }
    a.raw = s.substr(start, i - start);
    attrs.push_back(a);
  }
  return attrs;
}

bool is_markdown_attr(const Attr &a) {
  return a.name.size() == 8 && starts_with_ci(a.name, 0, "markdown");
}

// Whether the tag asks for its content to be rendered as Markdown.
bool wants_markdown(const std::vector<Attr> &attrs) {
  for (const Attr &a : attrs)
    if (is_markdown_attr(a))
      return !a.has_value || a.value == "1" || a.value == "block" || a.value == "span";
  return false;
}

std::string clean_open_tag(const std::vector<Attr> &attrs) {
  std::string tag = "<details";
  for (const Attr &a : attrs) {
    if (is_markdown_attr(a))
      continue;
    tag += ' ';
    tag += a.raw;
  }
  tag += '>';
  return tag;
}

class DetailsSplitter {
public:
  explicit DetailsSplitter(std::string_view text) : text_(text) {
    for (std::size_t i = 0; i < text_.size();) {
      line_start_.push_back(i);
      const std::size_t nl = text_.find('\n', i);
      i = nl == npos ? text_.size() : nl + 1;
    }
    find_fences();
    for (std::size_t i = text_.find("</"); i != npos; i = text_.find("</", i + 2))
      if (starts_with_ci(text_, i, "</summary"))
        summary_close_.push_back(i);
  }

  SplitText run();

private:
  std::size_t lines() const { return line_start_.size(); }
  std::size_t line_end(std::size_t li) const {
    const std::size_t next = li + 1 < lines() ? line_start_[li + 1] : text_.size();
    return (next > line_start_[li] && text_[next - 1] == '\n') ? next - 1 : next;
  }
  std::size_t line_of(std::size_t pos) const {
    return static_cast<std::size_t>(std::upper_bound(line_start_.begin(), line_start_.end(), pos) -
                                    line_start_.begin()) -
           1;
  }
  // Offset after up to `cols` columns of leading white space of the line at `ls`.
  std::size_t dedent(std::size_t ls, std::size_t le, std::size_t cols) const {
    std::size_t col = 0, p = ls;
    while (p < le && col < cols && (text_[p] == ' ' || text_[p] == '\t')) {
      col = text_[p] == '\t' ? (col / 4 + 1) * 4 : col + 1;
      ++p;
    }
    return p;
  }
  std::size_t column_of_text(std::size_t ls, std::size_t le) const {
    std::size_t col = 0;
    for (std::size_t p = ls; p < le && (text_[p] == ' ' || text_[p] == '\t'); ++p)
      col = text_[p] == '\t' ? (col / 4 + 1) * 4 : col + 1;
    return col;
  }
  void find_fences();

  std::string_view text_;
  std::vector<std::size_t> line_start_;
  std::vector<bool> fenced_;               // the line belongs to a closed fenced block
  std::vector<std::size_t> summary_close_; // offsets of every "</summary", any case
};

// Tags inside fenced blocks are code. Only fences that close count: an unclosed fence is plain
// text to the renderer we stand in for. Existence of a closing line is looked up in suffix
// maxima, so the scan stays linear.
void DetailsSplitter::find_fences() {
  const std::size_t n = lines();
  fenced_.assign(n, false);
  struct FenceLine {
    char ch = 0;
    std::size_t len = 0;
    bool opener = false, closer = false;
  };
  std::vector<FenceLine> info(n);
  for (std::size_t li = 0; li < n; ++li) {
    const std::size_t le = line_end(li);
    std::size_t p = line_start_[li];
    while (p < le && (text_[p] == ' ' || text_[p] == '\t'))
      ++p;
    if (p >= le || (text_[p] != '`' && text_[p] != '~'))
      continue;
    const char ch = text_[p];
    std::size_t q = p;
    while (q < le && text_[q] == ch)
      ++q;
    if (q - p < 3)
      continue;
    const std::string_view rest = text_.substr(q, le - q);
    info[li] = {ch, q - p, ch == '~' || rest.find('`') == npos, is_blank(rest)};
  }
  std::vector<std::size_t> max_bt(n + 1, 0), max_tl(n + 1, 0);
  for (std::size_t li = n; li-- > 0;) {
    max_bt[li] = max_bt[li + 1];
    max_tl[li] = max_tl[li + 1];
    if (info[li].closer)
      (info[li].ch == '`' ? max_bt : max_tl)[li] =
          std::max((info[li].ch == '`' ? max_bt : max_tl)[li], info[li].len);
  }
  for (std::size_t li = 0; li < n; ++li) {
    const FenceLine &f = info[li];
    if (!f.opener || (f.ch == '`' ? max_bt : max_tl)[li + 1] < f.len)
      continue;
    std::size_t close = li + 1;
    while (!(info[close].closer && info[close].ch == f.ch && info[close].len >= f.len))
      ++close;
    for (std::size_t k = li; k <= close; ++k)
      fenced_[k] = true;
    li = close;
  }
}

SplitText DetailsSplitter::run() {
  SplitText out;
  out.segments.emplace_back();
  struct Frame {
    bool raw;            // a details element that stays raw HTML (markdown="0" or none)
    std::size_t segment; // where its text goes
    std::size_t indent;  // columns of leading white space removed from its lines
  };
  std::vector<Frame> stack{{false, 0, 0}};
  auto seg = [&]() -> std::string & { return out.segments[stack.back().segment].md; };
  auto flush = [&](std::size_t from, std::size_t to) {
    const std::string_view piece = text_.substr(from, to - from);
    if (!is_blank(piece)) {
      seg() += piece;
      seg() += '\n';
    }
  };

  std::size_t resume = npos; // continue inside a line after a multi-line summary
  for (std::size_t li = 0; li < lines(); ++li) {
    const std::size_t ls = line_start_[li], le = line_end(li);
    const bool has_nl = le < text_.size();
    const std::size_t line_body = dedent(ls, le, stack.back().indent);
    bool touched = resume != npos;
    std::size_t i = touched ? resume : line_body;
    resume = npos;
    if (fenced_[li] && !touched) {
      seg().append(text_.substr(i, le - i));
      if (has_nl)
        seg() += '\n';
      continue;
    }
    std::size_t emit_from = i;
    bool jumped = false;
    while (true) {
      // Only this line is searched: a search to the next "<" anywhere would read the text again
      // for every line.
      if (i >= le)
        break;
      const void *lt = std::memchr(text_.data() + i, '<', le - i);
      if (!lt)
        break;
      i = static_cast<std::size_t>(static_cast<const char *>(lt) - text_.data());
      if (starts_with_ci(text_, i, "<details") && i + 8 < le &&
          (is_ascii_space(text_[i + 8]) || text_[i + 8] == '>' || text_[i + 8] == '/')) {
        // A quoted ">" does not end the tag; an unquoted "<" starts another one, so a line full
        // of unclosed tags is still read once.
        std::size_t gt = i + 8;
        char quote = 0;
        for (; gt < le; ++gt) {
          const char c = text_[gt];
          if (quote) {
            if (c == quote)
              quote = 0;
          } else if (c == '"' || c == '\'') {
            quote = c;
          } else if (c == '>') {
            break;
          } else if (c == '<') {
            gt = le;
            break;
          }
        }
        if (gt >= le) {
          ++i;
          continue;
        }
        const std::vector<Attr> attrs = parse_attrs(text_.substr(i + 8, gt - i - 8));
        if (!wants_markdown(attrs)) {
          stack.push_back({true, stack.back().segment, stack.back().indent});
          i = gt + 1;
          continue;
        }
        flush(emit_from, i);
        const std::size_t id = out.details.size();
        const std::size_t body = out.segments.size();
        out.details.push_back({clean_open_tag(attrs), "", body});
        out.segments.emplace_back();
        out.segments[stack.back().segment].children.push_back(id);
        std::size_t lead_end = line_body;
        while (lead_end < le && (text_[lead_end] == ' ' || text_[lead_end] == '\t'))
          ++lead_end;
        seg().append(text_.substr(line_body, lead_end - line_body));
        seg() += sentinel(id);
        seg() += '\n';
        stack.push_back({false, body, column_of_text(ls, le)});

        // The summary may follow on the same line or on a later one.
        i = gt + 1;
        emit_from = i;
        touched = true;
        std::size_t k = i;
        while (k < text_.size() && (is_blank_char(text_[k]) || text_[k] == '\n')) {
          if (text_[k] == '\n' && k + 1 < text_.size() && fenced_[line_of(k + 1)])
            break;
          ++k;
        }
        if (!starts_with_ci(text_, k, "<summary") || k + 8 >= text_.size() ||
            !(is_ascii_space(text_[k + 8]) || text_[k + 8] == '>'))
          continue;
        const auto close = std::lower_bound(summary_close_.begin(), summary_close_.end(), k);
        if (close == summary_close_.end())
          continue;
        std::size_t end = *close + 9;
        while (end < text_.size() && is_ascii_space(text_[end]))
          ++end;
        if (end >= text_.size() || text_[end] != '>')
          continue;
        ++end;
        out.details[id].summary = std::string(text_.substr(k, end - k));
        if (end <= le) {
          i = end;
          emit_from = end;
          continue;
        }
        // Resume after the summary on its last line.
        const std::size_t target = line_of(end - 1);
        if (end >= line_end(target)) {
          li = target;
        } else {
          li = target - 1;
          resume = end;
        }
        jumped = true;
        break;
      }
      if (starts_with_ci(text_, i, "</details")) {
        std::size_t k = i + 9;
        while (k < le && is_ascii_space(text_[k]))
          ++k;
        if (k >= le || text_[k] != '>') {
          ++i;
          continue;
        }
        if (stack.size() == 1) { // a closing tag without opening one stays as it is
          i = k + 1;
          continue;
        }
        if (stack.back().raw) {
          stack.pop_back();
          i = k + 1;
          continue;
        }
        flush(emit_from, i);
        stack.pop_back();
        i = k + 1;
        emit_from = i;
        touched = true;
        continue;
      }
      ++i;
    }
    if (jumped)
      continue;
    const std::string_view rest = text_.substr(emit_from, le - emit_from);
    if (!touched) {
      seg().append(rest);
      if (has_nl)
        seg() += '\n';
    } else if (!is_blank(rest)) {
      std::size_t b = 0;
      while (b < rest.size() && is_blank_char(rest[b]))
        ++b;
      seg().append(rest.substr(b));
      seg() += '\n';
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Tree memory

// Memory for the cmark trees of one rendering, handed out from large blocks and given back all
// at once. The trees are built once and dropped whole; node by node, allocating and freeing
// them took a large share of the rendering. Small blocks that cmark frees on the way are kept
// by size for reuse. The large blocks ask for transparent huge pages, which spares most of the
// page faults of a large document.
class TreeArena {
public:
  TreeArena() = default;
  TreeArena(const TreeArena &) = delete;
  TreeArena &operator=(const TreeArena &) = delete;
  ~TreeArena() { release(); }

  void *allocate(std::size_t size) {
    const std::size_t cap = round_up(size);
    if (cap <= kMaxReused) {
      if (void *&head = free_[cap / kAlign]; head) {
        char *p = static_cast<char *>(head);
        std::memcpy(&head, p, sizeof head);
        std::memcpy(p - kHeader, &size, sizeof size);
        return p;
      }
    }
    const std::size_t need = cap + kHeader;
    if (blocks_.empty() || blocks_.back().size - blocks_.back().used < need)
      add_block(need);
    Block &b = blocks_.back();
    char *p = b.base + b.used;
    b.used += need;
    std::memcpy(p, &size, sizeof size);
    last_ = p + kHeader;
    return last_;
  }

  void *reallocate(void *ptr, std::size_t size) {
    if (!ptr)
      return allocate(size);
    char *p = static_cast<char *>(ptr);
    const std::size_t old = size_of(p);
    if (round_up(size) <= round_up(old)) {
      std::memcpy(p - kHeader, &size, sizeof size);
      return p;
    }
    // The newest allocation grows in place while its block has room (buffers grow by steps).
    if (p == last_) {
      Block &b = blocks_.back();
      const std::size_t end = static_cast<std::size_t>(p - b.base) + round_up(size);
      if (end <= b.size) {
        b.used = end;
        std::memcpy(p - kHeader, &size, sizeof size);
        return p;
      }
    }
    void *moved = allocate(size);
    std::memcpy(moved, p, old);
    deallocate(p);
    return moved;
  }

  void deallocate(void *ptr) {
    if (!ptr)
      return;
    char *p = static_cast<char *>(ptr);
    const std::size_t cap = round_up(size_of(p));
    if (cap > kMaxReused)
      return;
    if (p == last_) // a block that is no longer the newest cannot grow in place
      last_ = nullptr;
    void *&head = free_[cap / kAlign];
    std::memcpy(p, &head, sizeof head);
    head = p;
  }

  void release() {
    for (const Block &b : blocks_)
      ::munmap(b.base, b.size);
    blocks_.clear();
    last_ = nullptr;
    std::fill(std::begin(free_), std::end(free_), nullptr);
  }

private:
  struct Block {
    char *base;
    std::size_t size;
    std::size_t used;
  };
  // cmark's structures need no more than pointer alignment.
  static constexpr std::size_t kAlign =
      alignof(std::max_align_t) < 8 ? alignof(std::max_align_t) : 8;
  static constexpr std::size_t kHeader = 8; // the requested size
  static constexpr std::size_t kMaxReused = 512;
  static constexpr std::size_t kMinBlock = std::size_t{2} << 20;
  static constexpr std::size_t kMaxBlock = std::size_t{64} << 20;
  static std::size_t round_up(std::size_t n) {
    return n == 0 ? kAlign : (n + kAlign - 1) / kAlign * kAlign;
  }
  static std::size_t size_of(const char *p) {
    std::size_t size = 0;
    std::memcpy(&size, p - kHeader, sizeof size);
    return size;
  }

  void add_block(std::size_t need) {
    std::size_t size = blocks_.empty() ? kMinBlock : std::min(blocks_.back().size * 2, kMaxBlock);
    if (size < need)
      size = (need + kMinBlock - 1) / kMinBlock * kMinBlock;
    void *p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) { // as cmark itself does when memory runs out
      std::fputs("prosett: out of memory for the document tree\n", stderr);
      std::abort();
    }
#ifdef MADV_HUGEPAGE
    ::madvise(p, size, MADV_HUGEPAGE);
#endif
    blocks_.push_back({static_cast<char *>(p), size, 0});
    last_ = nullptr;
  }

  std::vector<Block> blocks_;
  char *last_ = nullptr;
  void *free_[kMaxReused / kAlign + 1] = {};
};

// cmark's allocator interface has no context: the arena of the rendering under way is found
// through this pointer, set for the lifetime of a Renderer.
thread_local TreeArena *current_arena = nullptr;

void *arena_calloc(std::size_t count, std::size_t size) {
  if (size != 0 && count > SIZE_MAX / size) {
    std::fputs("prosett: document tree allocation too large\n", stderr);
    std::abort();
  }
  void *p = current_arena->allocate(count * size);
  std::memset(p, 0, count * size);
  return p;
}
void *arena_realloc(void *ptr, std::size_t size) {
  return current_arena->reallocate(ptr, size);
}
void arena_free(void *ptr) {
  current_arena->deallocate(ptr);
}

cmark_mem tree_mem = {arena_calloc, arena_realloc, arena_free};

class ArenaScope {
public:
  explicit ArenaScope(TreeArena &arena) : previous_(current_arena) { current_arena = &arena; }
  ~ArenaScope() { current_arena = previous_; }
  ArenaScope(const ArenaScope &) = delete;
  ArenaScope &operator=(const ArenaScope &) = delete;

private:
  TreeArena *previous_;
};

// ---------------------------------------------------------------------------------------------
// Headings, ids and the table of contents

cmark_llist *table_extension_list() {
  static std::once_flag once;
  static cmark_llist *list = nullptr;
  std::call_once(once, [] {
    cmark_gfm_core_extensions_ensure_registered();
    list = cmark_llist_append(cmark_get_default_mem_allocator(), nullptr,
                              cmark_find_syntax_extension("table"));
  });
  return list;
}

struct CmarkFree {
  void operator()(char *p) const { cmark_get_default_mem_allocator()->free(p); }
};
using CmarkText = std::unique_ptr<char, CmarkFree>;

// The HTML goes to the general heap: it outlives the trees.
CmarkText render_html(cmark_node *node) {
  return CmarkText(cmark_render_html_with_mem(node, kOptions, table_extension_list(),
                                              cmark_get_default_mem_allocator()));
}

std::string render_node(cmark_node *node) {
  const CmarkText html = render_html(node);
  return std::string(html ? html.get() : "");
}

// Raw inline HTML reduced to its text: tags removed and, for slugs, entities too.
std::string strip_tags(std::string_view raw, bool strip_entities) {
  std::string out;
  std::size_t i = 0;
  while (i < raw.size()) {
    const char c = raw[i];
    if (c == '<' && i + 1 < raw.size() && raw[i + 1] != '>') {
      const std::size_t gt = raw.find('>', i + 1);
      if (gt != npos) {
        i = gt + 1;
        continue;
      }
    } else if (c == '&' && strip_entities) {
      std::size_t j = i + 1;
      while (j < raw.size() && (is_word(raw[j]) || raw[j] == '#') && raw[j] != '_')
        ++j;
      if (j > i + 1 && j < raw.size() && raw[j] == ';') {
        i = j + 1;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

struct HeadingText {
  std::string name; // display text, tokens kept so the placeholders come back in the contents
  std::string slug; // text the id is made from
};

HeadingText heading_text(cmark_node *heading) {
  HeadingText t;
  cmark_iter *it = cmark_iter_new(heading);
  cmark_node *skip = nullptr; // image alt text is not part of the heading text
  for (cmark_event_type ev; (ev = cmark_iter_next(it)) != CMARK_EVENT_DONE;) {
    cmark_node *node = cmark_iter_get_node(it);
    if (skip) {
      if (node == skip && ev == CMARK_EVENT_EXIT)
        skip = nullptr;
      continue;
    }
    if (ev != CMARK_EVENT_ENTER)
      continue;
    switch (cmark_node_get_type(node)) {
    case CMARK_NODE_TEXT:
    case CMARK_NODE_CODE: {
      const char *lit = cmark_node_get_literal(node);
      t.name += lit ? lit : "";
      t.slug += lit ? lit : "";
      break;
    }
    case CMARK_NODE_HTML_INLINE: {
      const char *lit = cmark_node_get_literal(node);
      t.name += strip_tags(lit ? lit : "", false);
      t.slug += strip_tags(lit ? lit : "", true);
      break;
    }
    case CMARK_NODE_SOFTBREAK:
    case CMARK_NODE_LINEBREAK:
      t.name += '\n';
      t.slug += '\n';
      break;
    case CMARK_NODE_IMAGE:
      skip = node;
      break;
    default:
      break;
    }
  }
  cmark_iter_free(it);
  t.name = text::strip(t.name);
  t.slug = text::strip(drop_tokens(t.slug));
  return t;
}

struct TocEntry {
  int level = 0;
  std::string id;
  std::string name;
  std::vector<std::size_t> children;
};

// The toc extension's nest_toc_tokens: documents may start below level 1, skip levels or go
// back above their first level.
std::vector<std::size_t> nest_toc(std::vector<TocEntry> &e) {
  std::vector<std::size_t> ordered;
  if (e.empty())
    return ordered;
  std::size_t last = 0;
  std::vector<int> levels{e[0].level};
  std::vector<std::size_t> parents;
  ordered.push_back(0);
  for (std::size_t t = 1; t < e.size(); ++t) {
    const int cur = e[t].level;
    if (cur < levels.back()) {
      levels.pop_back();
      std::size_t to_pop = 0;
      for (auto p = parents.rbegin(); p != parents.rend() && cur <= e[*p].level; ++p)
        ++to_pop;
      levels.resize(levels.size() - std::min(to_pop, levels.size()));
      parents.resize(parents.size() - to_pop);
      levels.push_back(cur);
    }
    if (cur == levels.back()) {
      (parents.empty() ? ordered : e[parents.back()].children).push_back(t);
    } else {
      e[last].children.push_back(t);
      parents.push_back(last);
      levels.push_back(cur);
    }
    last = t;
  }
  return ordered;
}

void append_toc_list(std::string &out, const std::vector<TocEntry> &e,
                     const std::vector<std::size_t> &items) {
  out += "<ul>\n";
  for (std::size_t i : items) {
    out += "<li><a href=\"#";
    out += e[i].id;
    out += "\">";
    text::append_html_escaped(out, e[i].name);
    out += "</a>";
    if (!e[i].children.empty())
      append_toc_list(out, e, e[i].children);
    out += "</li>\n";
  }
  out += "</ul>\n";
}

std::string toc_html(std::vector<TocEntry> &entries) {
  const std::vector<std::size_t> top = nest_toc(entries);
  std::string out = "<div class=\"toc\">\n";
  if (top.empty())
    out += "<ul></ul>\n";
  else
    append_toc_list(out, entries, top);
  out += "</div>";
  return out;
}

// ---------------------------------------------------------------------------------------------
// Rendering

void replace_with_html_block(cmark_node *node, const std::string &html) {
  cmark_node *block = cmark_node_new_with_mem(CMARK_NODE_HTML_BLOCK, &tree_mem);
  cmark_node_set_literal(block, html.c_str());
  cmark_node_insert_before(node, block);
  cmark_node_unlink(node); // its memory goes with the arena
}

bool is_toc_marker(cmark_node *para) {
  std::string text;
  for (cmark_node *c = cmark_node_first_child(para); c; c = cmark_node_next(c)) {
    if (cmark_node_get_type(c) != CMARK_NODE_TEXT)
      return false;
    const char *lit = cmark_node_get_literal(c);
    text += lit ? lit : "";
  }
  // Stripping decodes the whole paragraph: only one that holds the marker is worth it.
  return text.find("[TOC]") != std::string::npos && text::strip(text) == "[TOC]";
}

bool holds_token(cmark_node *para) {
  for (cmark_node *c = cmark_node_first_child(para); c; c = cmark_node_next(c))
    if (cmark_node_get_type(c) == CMARK_NODE_TEXT) {
      const char *lit = cmark_node_get_literal(c);
      if (lit && std::string_view(lit).find(kTokOpen) != npos)
        return true;
    }
  return false;
}

// A placeholder alone on a paragraph line leaves the paragraph as a block of its own, as a
// line-start HTML comment does in the renderer we stand in for.
// Inline literals point into their paragraph's buffer; the emptied paragraph is only unlinked,
// its memory stays in the arena until rendering is over.
void split_lone_tokens(cmark_node *para) {
  std::vector<std::vector<cmark_node *>> lines(1);
  std::vector<cmark_node *> breaks;
  for (cmark_node *c = cmark_node_first_child(para); c; c = cmark_node_next(c)) {
    const cmark_node_type type = cmark_node_get_type(c);
    if (type == CMARK_NODE_SOFTBREAK || type == CMARK_NODE_LINEBREAK) {
      breaks.push_back(c);
      lines.emplace_back();
    } else {
      lines.back().push_back(c);
    }
  }
  std::vector<bool> lone(lines.size(), false);
  bool any = false;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    std::string text;
    bool plain = !lines[k].empty();
    for (cmark_node *c : lines[k]) {
      if (cmark_node_get_type(c) != CMARK_NODE_TEXT) {
        plain = false;
        break;
      }
      const char *lit = cmark_node_get_literal(c);
      text += lit ? lit : "";
    }
    lone[k] = plain && is_lone_token(text);
    any = any || lone[k];
  }
  if (!any)
    return;
  cmark_node *group = nullptr;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (lone[k]) {
      group = nullptr;
      std::string text;
      for (cmark_node *c : lines[k])
        text += cmark_node_get_literal(c);
      std::size_t b = 0, e = text.size();
      while (b < e && is_ascii_space(text[b]))
        ++b;
      while (e > b && is_ascii_space(text[e - 1]))
        --e;
      cmark_node *block = cmark_node_new_with_mem(CMARK_NODE_HTML_BLOCK, &tree_mem);
      cmark_node_set_literal(block, text.substr(b, e - b).c_str());
      cmark_node_insert_before(para, block);
      continue;
    }
    if (lines[k].empty())
      continue;
    if (!group) {
      group = cmark_node_new_with_mem(CMARK_NODE_PARAGRAPH, &tree_mem);
      cmark_node_insert_before(para, group);
    } else {
      cmark_node_append_child(group, breaks[k - 1]);
    }
    for (cmark_node *c : lines[k])
      cmark_node_append_child(group, c);
  }
  cmark_node_unlink(para);
}

// A tree in the current arena.
cmark_node *parse(const std::string &md) {
  table_extension_list(); // registers the extensions
  cmark_parser *parser = cmark_parser_new_with_mem(kOptions, &tree_mem);
  cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension("table"));
  cmark_parser_feed(parser, md.data(), md.size());
  cmark_node *doc = cmark_parser_finish(parser);
  cmark_parser_free(parser);
  return doc;
}

struct SentinelHit {
  std::size_t begin, end, id;
};

// Sentinels in `s`, raw or HTML-escaped (inside a code block).
std::vector<SentinelHit> find_sentinels(std::string_view s) {
  std::vector<SentinelHit> hits;
  for (std::size_t j = s.find(kSentOpen); j != npos; j = s.find(kSentOpen, j + 1)) {
    std::size_t begin;
    bool escaped;
    if (j >= 4 && s.substr(j - 4, 4) == "<!--") {
      begin = j - 4;
      escaped = false;
    } else if (j >= 7 && s.substr(j - 7, 7) == "&lt;!--") {
      begin = j - 7;
      escaped = true;
    } else {
      continue;
    }
    const std::size_t d0 = j + kSentOpen.size(), d1 = digits_end(s, d0);
    if (d1 == d0 || !s.substr(d1).starts_with(kSentClose))
      continue;
    const std::string_view tail = escaped ? "--&gt;" : "-->";
    const std::size_t t0 = d1 + kSentClose.size();
    if (!s.substr(t0).starts_with(tail))
      continue;
    std::size_t id = 0;
    for (std::size_t k = d0; k < d1 && id < (std::size_t(1) << 48); ++k)
      id = id * 10 + static_cast<std::size_t>(s[k] - '0');
    // The indentation that kept the sentinel inside its list item goes with it.
    std::size_t lead = begin;
    while (!escaped && lead > 0 && (s[lead - 1] == ' ' || s[lead - 1] == '\t'))
      --lead;
    if (lead == 0 || s[lead - 1] == '\n')
      begin = lead;
    hits.push_back({begin, t0 + tail.size(), id});
  }
  return hits;
}

class Renderer {
public:
  // `tokens`: how many placeholder tokens the text holds, for sizing the page.
  Renderer(SplitText &split, std::size_t tokens) : split_(split), tokens_(tokens) {
    docs_.reserve(split_.segments.size());
    for (Segment &s : split_.segments) {
      docs_.push_back(parse(s.md));
      std::string().swap(s.md); // the tree holds its own copy
    }
    parent_.assign(split_.details.size(), npos);
    for (std::size_t s = 0; s < split_.segments.size(); ++s)
      for (std::size_t d : split_.segments[s].children)
        parent_[d] = s;
  }

  std::string render();

private:
  void collect();
  void transform();
  void emit(std::string &out);
  bool is_child(std::size_t seg, std::size_t id) const {
    return id < parent_.size() && parent_[id] == seg;
  }

  TreeArena arena_; // first: it holds every tree and must outlive all uses of them
  ArenaScope scope_{arena_};
  SplitText &split_;
  std::size_t tokens_;
  std::vector<cmark_node *> docs_;  // in the arena
  std::vector<std::size_t> parent_; // segment holding each details sentinel
  std::vector<cmark_node *> headings_, toc_markers_, token_paragraphs_;
  std::vector<TocEntry> toc_;
};

// Walks every segment in document order (a details body where its sentinel stands) and notes
// headings, [TOC] markers and paragraphs with tokens. Iterative: details may nest deeply.
void Renderer::collect() {
  std::vector<bool> visited(split_.details.size(), false);
  struct Walk {
    std::size_t seg;
    cmark_iter *it;
    std::size_t next_child; // for children whose sentinel was not met
  };
  std::vector<Walk> stack{{0, cmark_iter_new(docs_[0]), 0}};
  std::set<std::string> ids;
  auto enter = [&](std::size_t id) {
    visited[id] = true;
    const std::size_t body = split_.details[id].body;
    stack.push_back({body, cmark_iter_new(docs_[body]), 0});
  };
  while (!stack.empty()) {
    Walk &w = stack.back();
    if (!w.it) {
      const std::vector<std::size_t> &kids = split_.segments[w.seg].children;
      while (w.next_child < kids.size() && visited[kids[w.next_child]])
        ++w.next_child;
      if (w.next_child < kids.size())
        enter(kids[w.next_child]);
      else
        stack.pop_back();
      continue;
    }
    const cmark_event_type ev = cmark_iter_next(w.it);
    if (ev == CMARK_EVENT_DONE) {
      cmark_iter_free(w.it);
      w.it = nullptr;
      continue;
    }
    if (ev != CMARK_EVENT_ENTER)
      continue;
    cmark_node *node = cmark_iter_get_node(w.it);
    const std::size_t seg = w.seg;
    switch (cmark_node_get_type(node)) {
    case CMARK_NODE_HEADING: {
      HeadingText t = heading_text(node);
      headings_.push_back(node);
      toc_.push_back({cmark_node_get_heading_level(node),
                      unique_id(slugify(t.slug), ids),
                      std::move(t.name),
                      {}});
      break;
    }
    case CMARK_NODE_PARAGRAPH:
      if (is_toc_marker(node))
        toc_markers_.push_back(node);
      else if (holds_token(node))
        token_paragraphs_.push_back(node);
      break;
    case CMARK_NODE_HTML_BLOCK:
    case CMARK_NODE_HTML_INLINE:
    case CMARK_NODE_CODE_BLOCK:
    case CMARK_NODE_CODE: {
      const char *lit = cmark_node_get_literal(node);
      if (!lit)
        break;
      // Enter the bodies in reverse so that the stack visits them in text order.
      std::vector<std::size_t> found;
      for (const SentinelHit &h : find_sentinels(lit))
        if (is_child(seg, h.id) && !visited[h.id])
          found.push_back(h.id);
      for (auto id = found.rbegin(); id != found.rend(); ++id)
        enter(*id);
      break;
    }
    default:
      break;
    }
  }
}

void Renderer::transform() {
  for (std::size_t h = 0; h < headings_.size(); ++h) {
    const std::string html = render_node(headings_[h]);
    // "<hN>...</hN>\n" gets its id.
    const std::size_t gt = std::min(html.find('>'), html.size());
    std::string tagged = html.substr(0, gt) + " id=\"" + toc_[h].id + "\"" + html.substr(gt);
    while (!tagged.empty() && tagged.back() == '\n')
      tagged.pop_back();
    replace_with_html_block(headings_[h], tagged);
  }
  if (!toc_markers_.empty()) {
    const std::string toc = toc_html(toc_);
    for (cmark_node *marker : toc_markers_)
      replace_with_html_block(marker, toc);
  }
  for (cmark_node *para : token_paragraphs_)
    split_lone_tokens(para);
}

// Writes the document with every details element in its place, placeholders written back;
// iterative for deep nesting.
void Renderer::emit(std::string &out) {
  // Every segment is rendered and the trees dropped before the page is put together, so that
  // the page can be sized once and the trees are gone by then.
  std::vector<CmarkText> rendered(docs_.size());
  std::vector<std::string_view> html(docs_.size());
  std::size_t total = 0;
  for (std::size_t seg = 0; seg < docs_.size(); ++seg) {
    rendered[seg] = render_html(docs_[seg]);
    html[seg] = rendered[seg] ? std::string_view(rendered[seg].get()) : std::string_view();
    total += html[seg].size();
  }
  docs_.clear();
  headings_.clear();
  toc_markers_.clear();
  token_paragraphs_.clear();
  arena_.release();
  for (const Details &d : split_.details)
    total += d.open_tag.size() + d.summary.size() + 13;
  // A token grows by at most 17 bytes on its way back to a placeholder.
  out.reserve(total + 17 * tokens_);

  struct Frame {
    std::string_view html;         // the segment as cmark renders it
    std::vector<SentinelHit> hits; // sentinels of the segment's own details, in text order
    std::vector<std::size_t> lost; // details whose sentinel did not survive: appended at the end
    std::size_t pos = 0, hit = 0, next_lost = 0;
    std::size_t details = npos; // the details element this body belongs to
    bool appended = false;
  };
  std::vector<Frame> stack;
  auto push = [&](std::size_t seg, std::size_t details, bool appended) {
    Frame f;
    f.html = html[seg];
    f.details = details;
    f.appended = appended;
    const std::vector<std::size_t> &kids = split_.segments[seg].children;
    std::vector<bool> placed(kids.size(), false);
    for (const SentinelHit &h : find_sentinels(f.html)) {
      const auto at = std::lower_bound(kids.begin(), kids.end(), h.id);
      if (at == kids.end() || *at != h.id || placed[at - kids.begin()])
        continue;
      placed[at - kids.begin()] = true;
      f.hits.push_back(h);
    }
    for (std::size_t k = 0; k < kids.size(); ++k)
      if (!placed[k])
        f.lost.push_back(kids[k]);
    stack.push_back(std::move(f));
  };
  auto open = [&](std::size_t id, bool appended) {
    const Details &d = split_.details[id];
    append_unshielded(out, d.open_tag);
    out += '\n';
    if (!d.summary.empty()) {
      append_unshielded(out, d.summary);
      out += '\n';
    }
    push(d.body, id, appended);
  };
  push(0, npos, false);
  while (!stack.empty()) {
    Frame &f = stack.back();
    if (f.hit < f.hits.size()) {
      const SentinelHit h = f.hits[f.hit++];
      append_unshielded(out, f.html.substr(f.pos, h.begin - f.pos));
      f.pos = h.end;
      open(h.id, false);
      continue;
    }
    if (f.pos < f.html.size()) {
      append_unshielded(out, f.html.substr(f.pos));
      f.pos = f.html.size();
    }
    if (f.next_lost < f.lost.size()) {
      open(f.lost[f.next_lost++], true);
      continue;
    }
    const bool closes = f.details != npos, appended = f.appended;
    stack.pop_back();
    if (closes)
      out += appended ? "</details>\n" : "</details>";
  }
}

std::string Renderer::render() {
  collect();
  transform();
  std::string out;
  emit(out);
  return out;
}

// Python's int(digits) + 1, for digit strings of any length.
std::string increment(std::string_view digits) {
  std::size_t z = 0;
  while (z + 1 < digits.size() && digits[z] == '0')
    ++z;
  std::string n(digits.substr(z));
  std::size_t i = n.size();
  while (i > 0) {
    --i;
    if (n[i] == '9') {
      n[i] = '0';
    } else {
      ++n[i];
      return n;
    }
  }
  return "1" + n;
}

} // namespace

std::string slugify(std::string_view text) {
  // NFKD, then only the ASCII characters stay.
  std::string kept;
  for (char c : text::nfkd(text))
    if (is_word(c) || is_ascii_space(c) || c == '-')
      kept += text::ascii_lower(c);
  std::size_t b = 0, e = kept.size();
  while (b < e && is_ascii_space(kept[b]))
    ++b;
  while (e > b && is_ascii_space(kept[e - 1]))
    --e;
  std::string slug;
  bool in_run = false;
  for (std::size_t i = b; i < e; ++i) {
    const char c = kept[i];
    const bool sep = c == '-' || is_ascii_space(c);
    if (!sep)
      slug += c;
    else if (!in_run)
      slug += '-';
    in_run = sep;
  }
  return slug;
}

std::string unique_id(std::string id, std::set<std::string> &ids) {
  while (id.empty() || ids.count(id)) {
    // IDCOUNT_RE ^(.*)_([0-9]+)$: the last "_" followed by digits up to the end.
    const std::size_t us = id.rfind('_');
    const bool counted =
        us != std::string::npos && us + 1 < id.size() && digits_end(id, us + 1) == id.size();
    if (counted)
      id = id.substr(0, us) + "_" + increment(std::string_view(id).substr(us + 1));
    else
      id += "_1";
  }
  ids.insert(id);
  return id;
}

std::string render_markdown(std::string_view md) {
  std::size_t tokens = 0;
  SplitText split;
  {
    // The segments hold their own copies: the shielded text goes before the trees are built.
    const std::string shielded = shield_placeholders(md, tokens);
    split = DetailsSplitter(shielded).run();
  }
  Renderer renderer(split, tokens);
  return renderer.render();
}

} // namespace vaskit::prosett

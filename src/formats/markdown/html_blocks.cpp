#include "formats/markdown/html_blocks.hpp"

#include "formats/markdown/detail.hpp"
#include "formats/markdown/fences.hpp"
#include "formats/markdown/tokens.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace vaskit::markdown::detail {
namespace {

// Elements whose content may be Markdown blocks when any element may carry the attribute.
constexpr std::array<std::string_view, 20> kBlockContainers = {
    "article",  "aside",      "blockquote", "details", "dialog",  "div",    "dl",
    "fieldset", "figcaption", "figure",     "footer",  "form",    "header", "hgroup",
    "main",     "menu",       "nav",        "ol",      "section", "ul"};
// Block elements that hold text, not blocks: their Markdown content is rendered inline.
constexpr std::array<std::string_view, 14> kTextBlocks = {
    "address", "dd", "dt", "h1", "h2", "h3", "h4", "h5", "h6", "legend", "li", "p", "td", "th"};

template <std::size_t N>
bool listed(const std::array<std::string_view, N> &names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

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

std::string clean_open_tag(std::string_view name, const std::vector<Attr> &attrs) {
  std::string tag = "<";
  tag += name;
  for (const Attr &a : attrs) {
    if (is_markdown_attr(a))
      continue;
    tag += ' ';
    tag += a.raw;
  }
  tag += '>';
  return tag;
}

class ElementSplitter {
public:
  ElementSplitter(std::string_view text, MarkdownInHtml mode) : text_(text), mode_(mode) {
    for (std::size_t i = 0; i < text_.size();) {
      line_start_.push_back(i);
      const std::size_t nl = text_.find('\n', i);
      i = nl == npos ? text_.size() : nl + 1;
    }
    // Tags inside fenced blocks are code. The scanner is the one the tools use to leave code
    // alone, so the renderer and the text rewrites agree on where code is.
    fenced_.assign(lines(), false);
    for (const auto &[begin, end] : fenced_ranges(text_))
      for (std::size_t li = line_of(begin); li < lines() && line_start_[li] < end; ++li)
        fenced_[li] = true;
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
  // The lower-case name of a tag that starts at `at` (after "<" or "</") and is one this mode
  // looks at, else empty. The name must end before the line does.
  std::string element_name(std::size_t at, std::size_t le) const {
    std::size_t e = at;
    while (e < le && (is_ascii_alpha(text_[e]) || is_digit(text_[e])))
      ++e;
    if (e == at || !is_ascii_alpha(text_[at]) || e - at > 10)
      return {};
    std::string name;
    for (std::size_t k = at; k < e; ++k)
      name += ascii_lower(text_[k]);
    const bool known = mode_ == MarkdownInHtml::Details
                           ? name == "details"
                           : listed(kBlockContainers, name) || listed(kTextBlocks, name);
    return known ? name : std::string();
  }

  std::string_view text_;
  MarkdownInHtml mode_;
  std::vector<std::size_t> line_start_;
  std::vector<bool> fenced_;               // the line belongs to a closed fenced block
  std::vector<std::size_t> summary_close_; // offsets of every "</summary", any case
};

SplitText ElementSplitter::run() {
  SplitText out;
  out.segments.emplace_back();
  out.segments[0].md.reserve(text_.size()); // the document keeps most of the text
  struct Frame {
    bool raw;            // an element of the same name without the markdown attribute
    std::size_t segment; // where its text goes
    std::size_t indent;  // columns of leading white space removed from its lines
    std::string name;    // empty for the document
  };
  std::vector<Frame> stack{{false, 0, 0, {}}};
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
      const bool closing = i + 1 < le && text_[i + 1] == '/';
      const std::string name = element_name(i + (closing ? 2 : 1), le);
      const std::size_t name_end = i + (closing ? 2 : 1) + name.size();
      if (name.empty() || name_end >= le) {
        ++i;
        continue;
      }
      if (!closing) {
        const char after = text_[name_end];
        if (!(is_ascii_space(after) || after == '>' || after == '/')) {
          ++i;
          continue;
        }
        // A quoted ">" does not end the tag; an unquoted "<" starts another one, so a line full
        // of unclosed tags is still read once.
        std::size_t gt = name_end;
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
        const std::vector<Attr> attrs = parse_attrs(text_.substr(name_end, gt - name_end));
        if (!wants_markdown(attrs)) {
          // Counted only to find which closing tag is the Markdown element's own.
          if (stack.back().name == name)
            stack.push_back({true, stack.back().segment, stack.back().indent, name});
          i = gt + 1;
          continue;
        }
        flush(emit_from, i);
        const std::size_t id = out.elements.size();
        const std::size_t body = out.segments.size();
        out.elements.push_back(
            {clean_open_tag(name, attrs), "", "</" + name + ">", body, listed(kTextBlocks, name)});
        out.segments.emplace_back();
        out.segments[stack.back().segment].children.push_back(id);
        std::size_t lead_end = line_body;
        while (lead_end < le && (text_[lead_end] == ' ' || text_[lead_end] == '\t'))
          ++lead_end;
        seg().append(text_.substr(line_body, lead_end - line_body));
        seg() += sentinel(id);
        seg() += '\n';
        stack.push_back({false, body, column_of_text(ls, le), name});

        i = gt + 1;
        emit_from = i;
        touched = true;
        if (name != "details")
          continue;
        // The summary stays raw HTML; it may follow on the same line or on a later one.
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
        out.elements[id].summary = std::string(text_.substr(k, end - k));
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
      std::size_t k = name_end;
      while (k < le && is_ascii_space(text_[k]))
        ++k;
      if (k >= le || text_[k] != '>') {
        ++i;
        continue;
      }
      if (stack.back().name != name) { // a closing tag of no open element stays as it is
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

} // namespace

SplitText split_html_elements(std::string_view text, MarkdownInHtml mode) {
  if (mode == MarkdownInHtml::Off) {
    SplitText out;
    out.segments.push_back({std::string(text), {}});
    return out;
  }
  return ElementSplitter(text, mode).run();
}

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

} // namespace vaskit::markdown::detail

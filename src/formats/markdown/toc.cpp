#include "formats/markdown/toc.hpp"

#include "core/text.hpp"
#include "formats/markdown/detail.hpp"
#include "formats/markdown/markdown.hpp"
#include "formats/markdown/tokens.hpp"

namespace vaskit::markdown {

namespace {

using namespace detail;

// The decimal number `digits` plus one, for digit strings of any length.
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

// Counts the cached runs handle; longer numbers take the plain search.
constexpr std::size_t kMaxCachedDigits = 18;

} // namespace

std::string slugify(std::string_view text) {
  // NFKD, then only the ASCII characters stay.
  std::string kept;
  for (char c : text::nfkd(text))
    if (is_word(c) || is_ascii_space(c) || c == '-')
      kept += ascii_lower(c);
  const std::string_view trimmed = trim_ascii(kept);
  std::string slug;
  bool in_run = false;
  for (const char c : trimmed) {
    const bool sep = c == '-' || is_ascii_space(c);
    if (!sep)
      slug += c;
    else if (!in_run)
      slug += '-';
    in_run = sep;
  }
  return slug;
}

std::string HeadingIds::unique(std::string id) {
  if (!id.empty() && taken_.insert(id).second)
    return id;
  // The candidates after `id`: base_<start>, base_<start+1>, ... (the toc extension's IDCOUNT_RE
  // ^(.*)_([0-9]+)$ takes the last "_" followed by digits up to the end).
  const std::size_t us = id.rfind('_');
  const bool counted =
      us != std::string::npos && us + 1 < id.size() && digits_end(id, us + 1) == id.size();
  const std::string base = counted ? id.substr(0, us) : id;
  const std::string start_digits =
      counted ? increment(std::string_view(id).substr(us + 1)) : std::string("1");
  if (start_digits.size() > kMaxCachedDigits) {
    std::string number = start_digits;
    std::string candidate = base + "_" + number;
    while (!taken_.insert(candidate).second) {
      number = increment(number);
      candidate = base + "_" + number;
    }
    return candidate;
  }
  // Every number of a base's run is known to be taken: a search that reaches the run jumps past
  // it, so repeated headings cost one look each instead of one per earlier repeat.
  const std::uint64_t start = std::stoull(start_digits);
  Run &run = runs_[base];
  std::uint64_t n = start;
  std::string candidate;
  for (;;) {
    if (run.valid && n >= run.lo && n <= run.hi)
      n = run.hi + 1;
    candidate = base + "_" + std::to_string(n);
    if (taken_.insert(candidate).second)
      break;
    ++n;
  }
  // [start, n] is taken now.
  if (run.valid && start <= run.hi + 1 && n + 1 >= run.lo) {
    run.lo = std::min(run.lo, start);
    run.hi = std::max(run.hi, n);
  } else if (!run.valid || n - start >= run.hi - run.lo) {
    run = {true, start, n};
  }
  return candidate;
}

namespace detail {
namespace {

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

} // namespace

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

} // namespace detail
} // namespace vaskit::markdown

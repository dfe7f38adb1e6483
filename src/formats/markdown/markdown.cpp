// The renderer's glue: cmark parses each segment into a tree in one arena (the document a part at
// a time, parts.hpp); headings get their ids, [TOC] markers their contents and lone placeholders
// blocks of their own in the trees; each part's trees are rendered before the next part is
// parsed, and the page is put together with the elements in their places.
#include "formats/markdown/markdown.hpp"

#include "core/text.hpp"
#include "formats/markdown/arena.hpp"
#include "formats/markdown/detail.hpp"
#include "formats/markdown/html_blocks.hpp"
#include "formats/markdown/parts.hpp"
#include "formats/markdown/toc.hpp"
#include "formats/markdown/tokens.hpp"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>

namespace vaskit::markdown {
namespace {

using namespace detail;

int cmark_options(const Extensions &ext) {
  return CMARK_OPT_UNSAFE | CMARK_OPT_TABLE_PREFER_STYLE_ATTRIBUTES |
         (ext.hard_breaks ? CMARK_OPT_HARDBREAKS : 0);
}

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

struct HeapFree {
  void operator()(char *p) const { heap_mem.free(p); }
};
using CmarkText = std::unique_ptr<char, HeapFree>;

// The HTML goes to the general heap: it outlives the trees.
CmarkText render_html(cmark_node *node, int options) {
  return CmarkText(cmark_render_html_with_mem(node, options, table_extension_list(), &heap_mem));
}

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
// line-start HTML comment would.
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
      cmark_node *block = cmark_node_new_with_mem(CMARK_NODE_HTML_BLOCK, &tree_mem);
      cmark_node_set_literal(block, std::string(trim_ascii(text)).c_str());
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

// The inline content of HTML that is one paragraph; other HTML as it is.
std::string_view unwrap_paragraph(std::string_view html) {
  if (html.starts_with("<p>") && html.ends_with("</p>\n") &&
      html.find("<p>", 3) == std::string_view::npos)
    return html.substr(3, html.size() - 8);
  return html;
}

// Stands for the table of contents in a part that later parts may add headings to; rendered as
// an HTML block it is this and a line feed. cmark writes no 0xFF byte but what a text holds, and
// a text that holds one is parsed whole (parts.hpp).
constexpr std::string_view kTocMark = "\xFFtoc\xFF";

class Renderer {
public:
  // `tokens`: how many placeholder tokens the text holds, for sizing the page.
  Renderer(SplitText &split, std::size_t tokens, const Extensions &ext)
      : arena_(ext.max_tree_bytes), split_(split), tokens_(tokens), ext_(ext),
        options_(cmark_options(ext)) {
    const std::size_t n = split_.segments.size();
    docs_.assign(n, nullptr);
    html_.resize(n);
    rendered_.assign(n, false);
    visited_.assign(split_.elements.size(), false);
    parent_.assign(split_.elements.size(), npos);
    for (std::size_t s = 0; s < n; ++s)
      for (std::size_t d : split_.segments[s].children)
        parent_[d] = s;
  }

  std::string render();

private:
  void parse_body(std::size_t seg);
  void collect(bool lost_elements);
  void transform(bool last_part);
  void render_trees();
  void place_toc();
  void emit(std::string &out);
  bool is_child(std::size_t seg, std::size_t id) const {
    return id < parent_.size() && parent_[id] == seg;
  }
  std::string render_node(cmark_node *node) const {
    const CmarkText html = render_html(node, options_);
    return std::string(html ? html.get() : "");
  }

  TreeArena arena_; // first: it holds every tree and must outlive all uses of them
  ArenaScope scope_{arena_};
  SplitText &split_;
  std::size_t tokens_;
  const Extensions &ext_;
  int options_;
  std::vector<cmark_node *> docs_;  // trees of the part at hand, in the arena (null: none)
  std::vector<std::string> html_;   // each segment as cmark renders it
  std::vector<bool> rendered_;      // whether a segment's html_ is complete
  std::vector<bool> visited_;       // elements whose body the walk has entered
  std::vector<std::size_t> parent_; // segment holding each element's sentinel
  // Of the part at hand; headings_[h] has the entry toc_[first_heading_ + h].
  std::vector<cmark_node *> headings_, toc_markers_, token_paragraphs_;
  std::size_t first_heading_ = 0;
  bool toc_marked_ = false; // some part holds kTocMark
  HeadingIds heading_ids_;
  std::vector<TocEntry> toc_;
  std::optional<std::string> toc_html_; // once every heading is known
};

void Renderer::parse_body(std::size_t seg) {
  docs_[seg] = parse(split_.segments[seg].md, options_);
  std::string().swap(split_.segments[seg].md); // the tree holds its own copy
}

// Walks the part at hand in document order (an element's body where its sentinel stands) and
// notes headings, [TOC] markers and paragraphs with tokens. Bodies are parsed when the walk
// enters them. Elements whose sentinel was lost follow the end of their segment: for the
// document itself, in a walk of their own after its last part (`lost_elements`). Iterative:
// elements may nest deeply.
void Renderer::collect(bool lost_elements) {
  const bool ids = ext_.heading_ids || ext_.toc_marker;
  const bool elements = !split_.elements.empty();
  struct Walk {
    std::size_t seg;
    cmark_iter *it;
    std::size_t next_child; // for children whose sentinel was not met
  };
  std::vector<Walk> stack{{0, lost_elements ? nullptr : cmark_iter_new(docs_[0]), 0}};
  auto enter = [&](std::size_t id) {
    visited_[id] = true;
    const std::size_t body = split_.elements[id].body;
    if (!docs_[body])
      parse_body(body);
    stack.push_back({body, cmark_iter_new(docs_[body]), 0});
  };
  while (!stack.empty()) {
    Walk &w = stack.back();
    if (!w.it) {
      if (w.seg == 0 && !lost_elements) {
        stack.pop_back();
        continue;
      }
      const std::vector<std::size_t> &kids = split_.segments[w.seg].children;
      while (w.next_child < kids.size() && visited_[kids[w.next_child]])
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
      if (!ids)
        break;
      HeadingText t = heading_text(node);
      headings_.push_back(node);
      toc_.push_back({cmark_node_get_heading_level(node),
                      heading_ids_.unique(slugify(t.slug)),
                      std::move(t.name),
                      {}});
      break;
    }
    case CMARK_NODE_PARAGRAPH:
      if (ext_.toc_marker && is_toc_marker(node))
        toc_markers_.push_back(node);
      else if (ext_.placeholders && holds_token(node))
        token_paragraphs_.push_back(node);
      break;
    case CMARK_NODE_HTML_BLOCK:
    case CMARK_NODE_HTML_INLINE:
    case CMARK_NODE_CODE_BLOCK:
    case CMARK_NODE_CODE: {
      const char *lit = cmark_node_get_literal(node);
      if (!lit || !elements)
        break;
      // Enter the bodies in reverse so that the stack visits them in text order.
      std::vector<std::size_t> found;
      for (const SentinelHit &h : find_sentinels(lit))
        if (is_child(seg, h.id) && !visited_[h.id])
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

void Renderer::transform(bool last_part) {
  if (ext_.heading_ids)
    for (std::size_t h = 0; h < headings_.size(); ++h) {
      const std::string html = render_node(headings_[h]);
      // "<hN>...</hN>\n" gets its id.
      const std::size_t gt = std::min(html.find('>'), html.size());
      std::string tagged =
          html.substr(0, gt) + " id=\"" + toc_[first_heading_ + h].id + "\"" + html.substr(gt);
      while (!tagged.empty() && tagged.back() == '\n')
        tagged.pop_back();
      replace_with_html_block(headings_[h], tagged);
    }
  if (!toc_markers_.empty()) {
    // The contents need every heading: before the last part a mark holds their place.
    if (last_part && !toc_html_)
      toc_html_ = toc_html(toc_);
    const std::string toc = last_part ? *toc_html_ : std::string(kTocMark);
    for (cmark_node *marker : toc_markers_)
      replace_with_html_block(marker, toc);
    toc_marked_ = toc_marked_ || !last_part;
  }
  for (cmark_node *para : token_paragraphs_)
    split_lone_tokens(para);
  first_heading_ = toc_.size();
  headings_.clear();
  toc_markers_.clear();
  token_paragraphs_.clear();
}

// Renders the trees of the part at hand, after which their memory serves the next part.
void Renderer::render_trees() {
  for (std::size_t seg = 0; seg < docs_.size(); ++seg) {
    if (!docs_[seg])
      continue;
    const CmarkText html = render_html(docs_[seg], options_);
    if (html)
      html_[seg] += html.get();
    docs_[seg] = nullptr;
    if (seg != 0)
      rendered_[seg] = true;
  }
  arena_.reuse();
}

// Each mark, an HTML block of its own, becomes the contents as cmark would have written them.
void Renderer::place_toc() {
  if (!toc_marked_)
    return;
  if (!toc_html_)
    toc_html_ = toc_html(toc_);
  const std::string &toc = *toc_html_;
  const std::string mark = std::string(kTocMark) + "\n";
  const std::string block = toc.ends_with('\n') ? toc : toc + "\n";
  for (std::string &html : html_) {
    if (html.find(mark) == npos)
      continue;
    std::string placed;
    placed.reserve(html.size() + block.size());
    std::size_t from = 0;
    for (std::size_t at = html.find(mark); at != npos; at = html.find(mark, from)) {
      placed.append(html, from, at - from).append(block);
      from = at + mark.size();
    }
    placed.append(html, from);
    html.swap(placed);
  }
}

// Writes the document with every element in its place and the tokens written back; iterative
// for deep nesting.
void Renderer::emit(std::string &out) {
  std::vector<std::string_view> html(html_.begin(), html_.end());
  std::size_t total = 0;
  for (const std::string &h : html_)
    total += h.size();
  for (const Element &d : split_.elements)
    total += d.open_tag.size() + d.summary.size() + d.close_tag.size() + 3;
  // A token grows by at most 17 bytes on its way back to a placeholder.
  out.reserve(total + 17 * tokens_);

  struct Frame {
    std::string_view html;         // the segment as cmark renders it
    std::vector<SentinelHit> hits; // sentinels of the segment's own elements, in text order
    std::vector<std::size_t> lost; // elements whose sentinel did not survive: appended at the end
    std::size_t pos = 0, hit = 0, next_lost = 0;
    std::size_t element = npos; // the element this body belongs to
    bool appended = false;
  };
  std::vector<Frame> stack;
  auto push = [&](std::size_t seg, std::size_t element, bool appended) {
    Frame f;
    f.html = html[seg];
    f.element = element;
    f.appended = appended;
    const std::vector<std::size_t> &kids = split_.segments[seg].children;
    std::vector<bool> placed(kids.size(), false);
    if (!kids.empty())
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
    const Element &d = split_.elements[id];
    append_unshielded(out, d.open_tag);
    if (d.inline_body) {
      const std::string_view inner = unwrap_paragraph(html[d.body]);
      if (inner.size() != html[d.body].size()) {
        html[d.body] = inner;
        push(d.body, id, appended);
        return;
      }
    }
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
    const std::size_t element = f.element;
    const bool appended = f.appended;
    stack.pop_back();
    if (element != npos) {
      out += split_.elements[element].close_tag;
      if (appended)
        out += '\n';
    }
  }
}

std::string Renderer::render() {
  {
    PartParser parts(split_.segments[0].md, options_);
    // The document's page grows part by part; cmark's HTML is rarely twice its text.
    html_[0].reserve(2 * split_.segments[0].md.size());
    for (cmark_node *doc = parts.next(); doc; doc = parts.next()) {
      docs_[0] = doc;
      collect(false);
      const bool last = parts.done();
      if (last)
        collect(true);
      transform(last);
      render_trees();
    }
  }
  std::string().swap(split_.segments[0].md);
  rendered_[0] = true;
  // A segment that no walk reached is rendered as it is.
  for (std::size_t seg = 1; seg < html_.size(); ++seg)
    if (!rendered_[seg]) {
      parse_body(seg);
      render_trees();
    }
  place_toc();
  std::string out;
  emit(out);
  return out;
}

} // namespace

namespace {

std::string render_text(std::string_view md, std::string *given_up, const Extensions &extensions) {
  // Raw HTML and the opening tags of Markdown-bearing elements are written as the text holds
  // them: a NUL there would cut the page short in a mail reader.
  std::string without_nul;
  if (md.find('\0') != npos) {
    without_nul = replace_nul(std::string(md));
    md = without_nul;
  }
  std::size_t tokens = 0;
  SplitText split;
  {
    // The segments hold their own copies: the shielded text goes before the trees are built.
    std::string shielded = shield_text(md, extensions.placeholders, tokens);
    if (given_up)
      std::string().swap(*given_up);
    split = split_html_elements(shielded, extensions.markdown_in_html);
  }
  Renderer renderer(split, tokens, extensions);
  return renderer.render();
}

} // namespace

std::string replace_nul(std::string text) {
  std::size_t nul = text.find('\0');
  if (nul == npos)
    return text;
  std::string out;
  out.reserve(text.size() + 16);
  std::size_t from = 0;
  for (; nul != npos; nul = text.find('\0', from)) {
    out.append(text, from, nul - from).append("\xEF\xBF\xBD");
    from = nul + 1;
  }
  out.append(text, from);
  return out;
}

std::string render(std::string_view md, const Extensions &extensions) {
  return render_text(md, nullptr, extensions);
}

std::string render_owned(std::string &&md, const Extensions &extensions) {
  return render_text(md, &md, extensions);
}

} // namespace vaskit::markdown

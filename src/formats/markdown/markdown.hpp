// Markdown to HTML fragments: cmark-gfm and our glue, the extension set a parameter.
//
// A tool states its set once and renders each text with it:
//
//   namespace markdown = vaskit::markdown;
//   const markdown::Extensions kMailSet{.hard_breaks = true,
//                                       .markdown_in_html = markdown::MarkdownInHtml::AnyBlock};
//   std::string body = markdown::render(md_text, kMailSet);
//
// The sets in use:
//   prosett   {.hard_breaks = true, .heading_ids = true, .toc_marker = true,
//              .placeholders = true, .markdown_in_html = MarkdownInHtml::Details}
//   postrel   {.hard_breaks = true, .markdown_in_html = MarkdownInHtml::AnyBlock}
//   chartwyn  {} (fenced code and tables only)
// Always on: CommonMark with fenced code blocks, pipe tables (alignment as style attributes),
// raw HTML passed through as written, CR LF and lone CR read as line ends, NUL read as U+FFFD. No
// other GitHub extension (no strikethrough, no autolinks).
//
// Errors: render() throws markdown::Error when the document tree or the page cannot get memory
// (that text fails; nothing is left behind); besides that only std::bad_alloc. Any byte string
// is accepted, and the work is linear in the size of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace vaskit::markdown {

class Error : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Which HTML elements may carry markdown="1" (also "block", "span" or a bare markdown
// attribute) to have their content rendered as Markdown. The attribute is dropped from the
// opening tag, whose name is written in lower case; an element without closing tag ends with
// the document. A details element keeps its <summary> as raw HTML.
enum class MarkdownInHtml {
  Off,      // the attribute means nothing; the element stays raw HTML
  Details,  // <details> only
  AnyBlock, // any block element: containers (div, section, details, blockquote, ul, ...) get
            // Markdown blocks; text blocks (p, h1-h6, li, td, th, dd, dt, ...) get their content
            // inline when it is one paragraph
};

struct Extensions {
  // Every line break inside a paragraph becomes <br />.
  bool hard_breaks = false;
  // Every heading gets a unique id (slugify and HeadingIds below, in document order, headings
  // inside Markdown-bearing elements included).
  bool heading_ids = false;
  // A paragraph that is exactly "[TOC]" becomes <div class="toc"> with the nested list of
  // links to all headings (needs heading_ids).
  bool toc_marker = false;
  // "<!--CODE_PLACEHOLDER_n-->" and "<!--MATH_PLACEHOLDER_n-->" come out exactly as written,
  // also in code blocks, tables, list items and headings: one that stands alone on its line
  // becomes a block of its own, one that shares its line stays inline in its paragraph.
  bool placeholders = false;
  MarkdownInHtml markdown_in_html = MarkdownInHtml::Off;
  // Most bytes the document tree may take (a long text's trees are held a part at a time);
  // beyond it render() throws Error.
  std::size_t max_tree_bytes = SIZE_MAX;
};

// `text` with every NUL byte turned into U+FFFD, as CommonMark reads a text. render() applies it
// before anything else; a tool whose own stages read the Markdown before the renderer applies it
// to the text as it is loaded, so that no stage and no page ever holds a NUL.
std::string replace_nul(std::string text);

// Renders Markdown text to an HTML fragment with the given extensions. In a table row a "|"
// inside a code span is cell text, and "\|" is a "|" of the cell anywhere, code spans included.
std::string render(std::string_view md, const Extensions &extensions);
// The same for a text that is given up: its memory goes as soon as the renderer has its own
// copy, which keeps the peak down for long texts. `md` is left empty.
std::string render_owned(std::string &&md, const Extensions &extensions);

// The toc extension's default slug: NFKD, non-ASCII dropped, everything but word characters,
// white space and "-" removed, stripped, lower-cased, runs of white space and "-" become one "-".
std::string slugify(std::string_view text);

// The ids of one document's headings.
class HeadingIds {
public:
  // The toc extension's unique(): `id` itself when it is neither empty nor taken; otherwise
  // "_1" is appended, or a trailing "_<number>" is counted up, until it is new. The result is
  // taken from then on. Repeated ids cost one look each, not one per earlier repeat.
  std::string unique(std::string id);

private:
  struct Run { // numbers lo..hi of one base are all taken
    bool valid = false;
    std::uint64_t lo = 0, hi = 0;
  };
  std::unordered_set<std::string> taken_;
  std::unordered_map<std::string, Run> runs_;
};

} // namespace vaskit::markdown

// HTML elements whose content is Markdown (markdown="1" and the like). The text is split into
// segments, one per such element's body, each rendered alone; in its enclosing segment a
// sentinel comment line "<!--" U+E002 number U+E003 "-->" stands in the element's place, which
// cmark keeps as a block of its own. The page is put together from the rendered segments.
#pragma once

#include "formats/markdown/markdown.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vaskit::markdown::detail {

struct Element {
  std::string open_tag;     // the opening tag without its markdown attribute, name in lower case
  std::string summary;      // details only: the raw summary element, empty when there is none
  std::string close_tag;    // "</name>"
  std::size_t body = 0;     // segment index
  bool inline_body = false; // p, li, td, h1 and the like: a lone paragraph loses its <p>
};

struct Segment {
  std::string md;
  std::vector<std::size_t> children; // elements whose sentinel stands in md, in text order
};

struct SplitText {
  std::vector<Segment> segments; // segment 0 is the document itself
  std::vector<Element> elements;
};

// Splits `text` (line ends already LF). With MarkdownInHtml::Off the text is one segment.
// Lines of fenced code are never searched for tags. An element without closing tag ends with the
// document. Linear in the size of the text.
SplitText split_html_elements(std::string_view text, MarkdownInHtml mode);

struct SentinelHit {
  std::size_t begin, end, id;
};

// Sentinels in rendered HTML, raw or HTML-escaped (inside a code block), in text order. A raw
// sentinel takes the indentation before it on its line along.
std::vector<SentinelHit> find_sentinels(std::string_view s);

} // namespace vaskit::markdown::detail

// Heading texts and the table of contents, read from cmark's tree.
#pragma once

#include <cmark-gfm.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vaskit::markdown::detail {

struct HeadingText {
  std::string name; // display text, tokens kept so the placeholders come back in the contents
  std::string slug; // text the id is made from
};

// The heading's text: literals and code, inline HTML without its tags (and, for the slug,
// without character references); image alt texts left out.
HeadingText heading_text(cmark_node *heading);

struct TocEntry {
  int level = 0;
  std::string id;
  std::string name;
  std::vector<std::size_t> children;
};

// <div class="toc"> with the nested list of links to `entries` (in document order).
std::string toc_html(std::vector<TocEntry> &entries);

} // namespace vaskit::markdown::detail

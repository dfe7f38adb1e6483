// A long text is parsed a part at a time, so that only one part's tree is held: the trees of a
// text take about ten times its size. Each part ends before a top-level block that opens after a
// blank line, where cmark has closed every earlier block for good, so the parts' pages joined
// are the whole text's page.
#pragma once

#include <cmark-gfm.h>

#include <cstddef>
#include <string_view>
#include <vector>

namespace vaskit::markdown::detail {

// A parser (table extension attached) whose tree goes to the current arena.
cmark_parser *new_parser(int options);
// The tree of the whole of `md`, in the current arena.
cmark_node *parse(std::string_view md, int options);

// The size from which a text is parsed in parts, and about the size of each (512 KiB). Tests
// lower it to see many parts in small texts.
std::size_t &part_bytes();

class PartParser {
public:
  // The parts of `text`. A text is parsed whole when it is no larger than a part, when it may
  // hold a link reference definition (one applies to the whole text), when it holds a CR (cmark
  // counts lines differently then) or a 0xFF byte (which marks where the table of contents
  // goes, see markdown.cpp).
  PartParser(std::string_view text, int options);

  // The tree of the next part in the current arena; nullptr when the text is used up. The first
  // call always gives one (an empty text gives an empty document).
  cmark_node *next();
  // Whether the last tree given ends the text.
  bool done() const { return started_ && pos_ >= text_.size(); }
  // Byte offset in the text where each part begins, after the first (for tests).
  const std::vector<std::size_t> &cuts() const { return cuts_; }

private:
  std::string_view text_;
  int options_;
  bool whole_ = true;
  bool started_ = false;
  std::size_t pos_ = 0; // where the next part begins
  std::vector<std::size_t> cuts_;
};

} // namespace vaskit::markdown::detail

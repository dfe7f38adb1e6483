// Finds fenced code blocks line by line, so that text rewrites can leave code as written.
//
// An opening fence is a run of at least three backticks or tildes at the start of a line, after
// the line's container prefix: block-quote markers ("> "), indentation and list markers ("- ",
// "1. "). A backtick fence's info text holds no backtick. The block closes at the first later
// line with the same number of quote markers, indentation from the fence's column up to three
// columns more, a run of the same character at least as long, and nothing but white space
// after it. A fence that never closes opens no block. Lines inside a block open nothing.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vaskit::markdown {

struct FencedBlock {
  std::size_t begin = 0;       // start of the opening fence's line
  std::size_t end = 0;         // end of the closing fence's line, its line feed included
  std::size_t fence_begin = 0; // first fence character of the opening line
  std::size_t fence_end = 0;   // end of the closing line's run of fence characters
  char fence_char = '`';
  std::string_view info; // opening line after the fence, without its line break or '\r'
  std::string code;      // the lines between the fences, container prefix removed, joined by
                         // "\n"; a '\r' ending a line stays, except on the last line
};

// The closed fenced blocks of `md`, in text order. The views refer to `md`.
std::vector<FencedBlock> scan_fenced_blocks(std::string_view md);

// [begin, end) byte ranges of the fenced blocks: whole lines, closing line feed included.
std::vector<std::pair<std::size_t, std::size_t>> fenced_ranges(std::string_view md);

// Applies `fn` to each stretch of `md` outside fenced code and joins the results with the code
// blocks unchanged. Every stretch starts at a line start (or is empty) and ends at a line start
// or at the end of `md`, so MULTILINE anchors see the same lines as in the whole text.
std::string rewrite_outside_fences(std::string_view md,
                                   const std::function<std::string(std::string_view)> &fn);

// The same rewrite appended to `out`, with `fn` appending its result for each stretch itself.
void append_outside_fences(std::string &out, std::string_view md,
                           const std::function<void(std::string_view, std::string &)> &fn);

} // namespace vaskit::markdown

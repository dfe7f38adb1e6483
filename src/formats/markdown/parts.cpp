#include "formats/markdown/parts.hpp"

#include "formats/markdown/arena.hpp"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm_version.h>
// The parser's root: where top-level blocks begin is seen while the text is fed.
#include <cmark-gfm/parser.h>

#include <algorithm>
#include <mutex>

namespace vaskit::markdown::detail {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// parser.h describes the parser of this version; with another, texts are parsed whole.
constexpr bool kRootKnown = CMARK_GFM_VERSION == ((0 << 24) | (29 << 16) | (0 << 8) | 6);

cmark_node *finish(cmark_parser *parser) {
  cmark_node *doc = cmark_parser_finish(parser);
  cmark_parser_free(parser);
  return doc;
}

bool is_blank_line(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

} // namespace

cmark_parser *new_parser(int options) {
  static std::once_flag once;
  std::call_once(once, [] { cmark_gfm_core_extensions_ensure_registered(); });
  cmark_parser *parser = cmark_parser_new_with_mem(options, &tree_mem);
  cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension("table"));
  return parser;
}

cmark_node *parse(std::string_view md, int options) {
  cmark_parser *parser = new_parser(options);
  cmark_parser_feed(parser, md.data(), md.size());
  return finish(parser);
}

std::size_t &part_bytes() {
  static std::size_t bytes = std::size_t{512} << 10;
  return bytes;
}

PartParser::PartParser(std::string_view text, int options) : text_(text), options_(options) {
  whole_ = !kRootKnown || text.size() <= part_bytes() || text.find("]:") != npos ||
           text.find('\r') != npos || text.find('\xFF') != npos;
}

cmark_node *PartParser::next() {
  if (done())
    return nullptr;
  started_ = true;
  cmark_parser *parser = new_parser(options_);
  const std::string_view rest = text_.substr(pos_);
  std::size_t fed = 0;
  int lines = 0; // lines fed to this part's parser
  auto feed = [&](std::size_t to) {
    cmark_parser_feed(parser, rest.data() + fed, to - fed);
    lines += static_cast<int>(std::count(rest.begin() + fed, rest.begin() + to, '\n'));
    fed = to;
  };
  // Whole lines up to the part's size, then line by line to the next place to end it.
  const std::size_t first = whole_ ? npos : rest.find('\n', part_bytes());
  if (first == npos) {
    cmark_parser_feed(parser, rest.data(), rest.size());
    pos_ = text_.size();
    return finish(parser);
  }
  feed(first + 1);
  bool after_blank = false;
  while (fed < rest.size()) {
    const std::size_t nl = rest.find('\n', fed);
    if (nl == npos)
      break;
    const std::string_view line = rest.substr(fed, nl - fed);
    // A block that may begin a part: after a blank line, at the line's start (an indented line
    // may belong to a list item), and no byte order mark, which cmark skips on a first line.
    const bool candidate = after_blank && !line.empty() && line[0] != ' ' && line[0] != '\t' &&
                           !line.starts_with("\xEF\xBB\xBF");
    after_blank = is_blank_line(line);
    if (!candidate) {
      feed(nl + 1);
      continue;
    }
    cmark_node *before = cmark_node_last_child(parser->root);
    const std::size_t begin = fed;
    feed(nl + 1);
    cmark_node *block = cmark_node_last_child(parser->root);
    if (block && block != before && cmark_node_get_start_line(block) == lines) {
      // The line opened a top-level block: it begins the next part, parsed afresh there.
      cmark_node *doc = finish(parser);
      cmark_node_unlink(block);
      pos_ += begin;
      cuts_.push_back(pos_);
      return doc;
    }
  }
  feed(rest.size());
  pos_ = text_.size();
  return finish(parser);
}

} // namespace vaskit::markdown::detail

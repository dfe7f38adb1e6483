#include "formats/markdown/fences.hpp"

#include <map>
#include <tuple>

namespace vaskit::markdown {
namespace {

constexpr std::size_t kTabStop = 4;

struct Line {
  std::size_t begin;
  std::size_t end;  // before the line feed (or the end of the text)
  std::size_t next; // start of the next line
};

Line line_at(std::string_view md, std::size_t begin) {
  const std::size_t lf = md.find('\n', begin);
  if (lf == std::string_view::npos)
    return {begin, md.size(), md.size()};
  return {begin, lf, lf + 1};
}

// Skips up to `depth` block-quote markers (up to three spaces, ">", one optional space or tab).
// Returns how many were found; `pos` moves behind them.
std::size_t skip_quote_markers(std::string_view md, std::size_t &pos, std::size_t end,
                               std::size_t depth) {
  std::size_t found = 0;
  while (found < depth) {
    std::size_t q = pos;
    for (int spaces = 0; spaces < 3 && q < end && md[q] == ' '; ++spaces)
      ++q;
    if (q >= end || md[q] != '>')
      break;
    ++q;
    if (q < end && (md[q] == ' ' || md[q] == '\t'))
      ++q;
    pos = q;
    ++found;
  }
  return found;
}

void advance_column(char c, std::size_t &col) {
  col = c == '\t' ? (col / kTabStop + 1) * kTabStop : col + 1;
}

// Length of a list marker ("-", "*", "+", "1.", "12)") at `pos` that a space or tab follows.
std::size_t list_marker_length(std::string_view md, std::size_t pos, std::size_t end) {
  std::size_t q = pos;
  if (q < end && (md[q] == '-' || md[q] == '*' || md[q] == '+')) {
    ++q;
  } else {
    while (q < end && q - pos < 9 && md[q] >= '0' && md[q] <= '9')
      ++q;
    if (q == pos || q >= end || (md[q] != '.' && md[q] != ')'))
      return 0;
    ++q;
  }
  if (q < end && (md[q] == ' ' || md[q] == '\t'))
    return q - pos;
  return 0;
}

std::size_t run_length(std::string_view md, std::size_t pos, std::size_t end, char c) {
  std::size_t q = pos;
  while (q < end && md[q] == c)
    ++q;
  return q - pos;
}

bool only_blanks(std::string_view md, std::size_t pos, std::size_t end) {
  for (; pos < end; ++pos)
    if (md[pos] != ' ' && md[pos] != '\t' && md[pos] != '\r')
      return false;
  return true;
}

struct Opening {
  std::size_t depth;
  std::size_t column;
  std::size_t fence_begin;
  std::size_t fence_length;
  char fence_char;
  std::string_view info;
};

bool parse_opening(std::string_view md, const Line &line, Opening &out) {
  std::size_t pos = line.begin;
  const std::size_t depth = skip_quote_markers(md, pos, line.end, SIZE_MAX);
  std::size_t col = 0;
  for (;;) {
    while (pos < line.end && (md[pos] == ' ' || md[pos] == '\t'))
      advance_column(md[pos++], col);
    const std::size_t marker = list_marker_length(md, pos, line.end);
    if (marker == 0)
      break;
    pos += marker;
    col += marker;
  }
  if (pos >= line.end || (md[pos] != '`' && md[pos] != '~'))
    return false;
  const char c = md[pos];
  const std::size_t n = run_length(md, pos, line.end, c);
  if (n < 3)
    return false;
  std::string_view info = md.substr(pos + n, line.end - pos - n);
  if (!info.empty() && info.back() == '\r')
    info.remove_suffix(1);
  // A backtick in the info text makes the line an inline code span, not a fence.
  if (c == '`' && info.find('`') != std::string_view::npos)
    return false;
  out = {depth, col, pos, n, c, info};
  return true;
}

// Whether `line` closes the fence `open`; `fence_end` receives the end of its fence run.
bool is_closing(std::string_view md, const Line &line, const Opening &open,
                std::size_t &fence_end) {
  std::size_t pos = line.begin;
  if (skip_quote_markers(md, pos, line.end, open.depth) != open.depth)
    return false;
  std::size_t col = 0;
  while (pos < line.end && (md[pos] == ' ' || md[pos] == '\t'))
    advance_column(md[pos++], col);
  if (col < open.column || col > open.column + 3)
    return false;
  const std::size_t n = run_length(md, pos, line.end, open.fence_char);
  if (n < open.fence_length || !only_blanks(md, pos + n, line.end))
    return false;
  fence_end = pos + n;
  return true;
}

// A content line with its quote markers and up to `column` columns of indentation removed.
void append_content_line(std::string_view md, const Line &line, const Opening &open,
                         std::string &code) {
  std::size_t pos = line.begin;
  skip_quote_markers(md, pos, line.end, open.depth);
  std::size_t col = 0;
  while (pos < line.end && col < open.column && (md[pos] == ' ' || md[pos] == '\t')) {
    std::size_t next = col;
    advance_column(md[pos], next);
    ++pos;
    if (next > open.column) // a tab that reaches past the column leaves spaces behind
      code.append(next - open.column, ' ');
    col = next;
  }
  code.append(md.substr(pos, line.end - pos));
}

} // namespace

namespace {

// The blocks with their code text, or without it (`with_code` false) for callers that only need
// where the blocks are.
std::vector<FencedBlock> scan_blocks(std::string_view md, bool with_code) {
  std::vector<FencedBlock> blocks;
  // Openings that found no closing line, by (quote depth, column, fence character): the shortest
  // such fence and where its search ended. A later opening of the same kind before that point,
  // with a fence at least as long, cannot close either; knowing this keeps the scan linear on
  // texts full of unclosed fences.
  std::map<std::tuple<std::size_t, std::size_t, char>, std::pair<std::size_t, std::size_t>>
      unclosed;
  std::size_t pos = 0;
  while (pos < md.size()) {
    const Line line = line_at(md, pos);
    Opening open;
    if (!parse_opening(md, line, open)) {
      pos = line.next;
      continue;
    }
    const auto key = std::make_tuple(open.depth, open.column, open.fence_char);
    if (auto it = unclosed.find(key); it != unclosed.end() && line.begin < it->second.second &&
                                      open.fence_length >= it->second.first) {
      pos = line.next;
      continue;
    }
    // Look for the closing line; a content line that has left the quote ends the search.
    bool closed = false;
    std::size_t fence_end = 0;
    std::size_t cursor = line.next;
    Line close{};
    std::vector<Line> content;
    while (cursor < md.size()) {
      const Line l = line_at(md, cursor);
      if (is_closing(md, l, open, fence_end)) {
        closed = true;
        close = l;
        break;
      }
      std::size_t q = l.begin;
      if (skip_quote_markers(md, q, l.end, open.depth) != open.depth)
        break;
      if (with_code)
        content.push_back(l);
      cursor = l.next;
    }
    if (!closed) {
      const std::size_t stop = cursor;
      auto [it, fresh] = unclosed.try_emplace(key, open.fence_length, stop);
      if (!fresh && (it->second.second <= line.begin || open.fence_length < it->second.first))
        it->second = {open.fence_length, stop};
      pos = line.next;
      continue;
    }
    FencedBlock block;
    block.begin = line.begin;
    block.end = close.next;
    block.fence_begin = open.fence_begin;
    block.fence_end = fence_end;
    block.fence_char = open.fence_char;
    block.info = open.info;
    for (std::size_t i = 0; i < content.size(); ++i) {
      if (i > 0)
        block.code.push_back('\n');
      append_content_line(md, content[i], open, block.code);
    }
    if (!block.code.empty() && block.code.back() == '\r')
      block.code.pop_back();
    blocks.push_back(std::move(block));
    pos = close.next;
  }
  return blocks;
}

} // namespace

std::vector<FencedBlock> scan_fenced_blocks(std::string_view md) {
  return scan_blocks(md, true);
}

std::vector<std::pair<std::size_t, std::size_t>> fenced_ranges(std::string_view md) {
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  for (const auto &block : scan_blocks(md, false))
    ranges.emplace_back(block.begin, block.end);
  return ranges;
}

void append_outside_fences(std::string &out, std::string_view md,
                           const std::function<void(std::string_view, std::string &)> &fn) {
  std::size_t pos = 0;
  for (const auto &[begin, end] : fenced_ranges(md)) {
    fn(md.substr(pos, begin - pos), out);
    out.append(md.substr(begin, end - begin));
    pos = end;
  }
  fn(md.substr(pos), out);
}

std::string rewrite_outside_fences(std::string_view md,
                                   const std::function<std::string(std::string_view)> &fn) {
  std::string out;
  out.reserve(md.size() + md.size() / 16);
  append_outside_fences(out, md, [&](std::string_view part, std::string &to) { to += fn(part); });
  return out;
}

} // namespace vaskit::markdown

// Collapsible sections and lists written the way Notion exports them need a little help before
// rendering: details content is rendered as Markdown, and list items get the blank line that a
// list after a text line needs.
#include "core/re.hpp"
#include "formats/markdown/fences.hpp"
#include "tools/prosett/stages.hpp"

#include <algorithm>

namespace vaskit::prosett {
namespace {

// The opening details tag that `text` ends with ("<details open>"), or an empty view.
std::string_view trailing_details_tag(std::string_view text) {
  if (text.empty() || text.back() != '>')
    return {};
  const std::size_t lt = text.rfind('<');
  if (lt == std::string_view::npos)
    return {};
  static const re::Pattern tag(R"(<details(?:\s[^<>]*)?>)", re::IGNORECASE);
  return tag.fullmatch(text.substr(lt)) ? text.substr(lt) : std::string_view{};
}

// Both patterns below may begin almost anywhere (white space before a tag, any character before a
// line break), so a plain scan tries them at every character. These scans try them only where
// a match can begin, and find the same matches: the leftmost, after the end of the last one.

bool is_ascii_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f');
}

// Summary tags with the white space before them, replaced by `fn`.
template <class Fn>
void replace_summaries(const re::Pattern &summary, re::Utf8 text, re::Utf8Text &out, Fn &&fn) {
  static const re::Pattern summary_tag(R"(<summary>)", re::IGNORECASE);
  const std::string_view s = text.view();
  std::size_t pos = 0, copied = 0;
  while (pos <= s.size()) {
    const auto tag = summary_tag.search(text, pos);
    if (!tag)
      break;
    // A match ends its white space at a summary tag: it begins in the run of white space
    // before the first tag, or later. Other white space than ASCII is left to the pattern.
    std::size_t from = tag->start();
    while (from > pos && is_ascii_space(s[from - 1]))
      --from;
    if (from > pos && static_cast<unsigned char>(s[from - 1]) >= 0x80)
      from = pos;
    const auto m = summary.search(text, from);
    if (!m)
      break;
    out.append(text.substr(copied, m->start() - copied));
    out.append_checked(fn(*m));
    copied = pos = m->end();
  }
  out.append(text.substr(copied));
}

// The list fix: `list_item` begins with the character before a line break.
void separate_list_items(const re::Pattern &list_item, re::Utf8 text, re::Utf8Text &out) {
  const std::string_view s = text.view();
  std::size_t pos = 0, copied = 0, nl = 0;
  while ((nl = s.find('\n', std::max(pos, nl) + 1)) != std::string_view::npos) {
    std::size_t c = nl - 1; // the character before the break
    while (c > pos && (static_cast<unsigned char>(s[c]) & 0xC0) == 0x80)
      --c;
    if (c < pos || (static_cast<unsigned char>(s[c]) & 0xC0) == 0x80 || s[c] == '\n')
      continue;
    const auto m = list_item.match(text, c);
    if (!m)
      continue;
    out.append(text.substr(copied, m->start() - copied));
    out.append_checked(m->expand(R"(\1\n\n\2 )"));
    copied = pos = m->end();
    nl = pos - 1;
  }
  out.append(text.substr(copied));
}

void repair_segment(re::Utf8 segment, re::Utf8Text &out) {
  static const re::Pattern details(R"(<details(?![^>]*markdown=))", re::IGNORECASE);
  static const re::Pattern summary(
      R"((?<!<details markdown="1">)(?<!<details>)\s*(<summary>[\s\S]*?</summary>))",
      re::IGNORECASE);
  static const re::Pattern doubled(R"(<details markdown="1">\s*<details markdown="1">)",
                                   re::IGNORECASE);
  static const re::Pattern list_item(R"(([^\n])\n([ \t]*[-*+]|\d+\.) )");

  // Details and summary tags all begin with "<": a stretch without one only needs the list fix.
  if (segment.view().find('<') == std::string_view::npos) {
    separate_list_items(list_item, segment, out);
    return;
  }
  re::Utf8Text text = details.sub_text(R"(<details markdown="1")", segment);
  re::Utf8Text with_summaries;
  with_summaries.reserve(text.size());
  replace_summaries(summary, text.view(), with_summaries, [](const re::Match &m) {
    // A summary that already follows a details tag (with attributes, or after white space)
    // belongs to it: a second opening tag would leave a details element that never closes.
    const std::string_view before = m.subject().substr(0, m.start(1));
    std::size_t end = before.size();
    while (end > 0 &&
           std::string_view(" \t\n\r\f\v").find(before[end - 1]) != std::string_view::npos)
      --end;
    const std::string_view tag = trailing_details_tag(before.substr(0, end));
    if (!tag.empty() && !re::fullmatch(R"(<details(?: markdown="1")?>)", tag, re::IGNORECASE)) {
      if (m.start(1) == m.start(0))
        return std::string(m.group(0));
      return std::string("\n").append(m.group(1));
    }
    // The two tags the look-behinds know get a second opening tag, which the next step
    // merges into the first.
    return std::string("\n<details markdown=\"1\">\n").append(m.group(1));
  });
  text = doubled.sub_text(R"(<details markdown="1">)", with_summaries.view());
  separate_list_items(list_item, text.view(), out);
}

} // namespace

std::string preprocess_details_and_lists(std::string_view md_content) {
  return preprocess_details_and_lists(re::Utf8::check(md_content)).release();
}

re::Utf8Text preprocess_details_and_lists(re::Utf8 md_content) {
  re::Utf8Text out;
  out.reserve(md_content.size() + md_content.size() / 16);
  rewrite_outside_fences(md_content, out, repair_segment);
  return out;
}

} // namespace vaskit::prosett

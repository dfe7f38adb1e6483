// Collapsible sections and lists written the way Notion exports them need a little help before
// rendering: details content is rendered as Markdown, and list items get the blank line that a
// list after a text line needs.
#include "core/re.hpp"
#include "formats/markdown/fences.hpp"
#include "tools/prosett/stages.hpp"

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
    list_item.sub_into(out, R"(\1\n\n\2 )", segment);
    return;
  }
  re::Utf8Text text = details.sub_text(R"(<details markdown="1")", segment);
  text = summary.sub_text(
      [](const re::Match &m) {
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
      },
      text.view());
  text = doubled.sub_text(R"(<details markdown="1">)", text.view());
  list_item.sub_into(out, R"(\1\n\n\2 )", text.view());
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

// Test support: the attachment summary of an HTML page as the pattern searches give it, the
// reference that postrel's one-pass search is checked against (unit test and fuzz harness).
#pragma once

#include "core/re.hpp"
#include "core/text.hpp"

#include <string>

namespace vaskit::testing {

inline std::string summary_by_patterns(const std::string &page) {
  namespace re = vaskit::re;
  namespace text = vaskit::text;
  static const re::Pattern toc_block(R"((<div[^>]*class=["\']toc["\'][^>]*>[\s\S]*?</div>))",
                                     re::IGNORECASE);
  static const re::Pattern between_tags(R"(>\s+<)");
  static const re::Pattern first_link(R"((<a[^>]*>)(.*?)(</a>))");
  static const re::Pattern heading(R"(<(h[1-6])[^>]*>([\s\S]*?)</\1>)", re::IGNORECASE);
  if (const auto m = toc_block.search(page)) {
    const std::string toc = text::strip(between_tags.sub("><", m->group(1)));
    return first_link.sub(
        [](const re::Match &l) {
          if (text::lower(l.group(2)).find("abstract") != std::string::npos)
            return std::string(l.group(0));
          return std::string(l.group(1)) + std::string(l.group(2)) + " - Abstract" +
                 std::string(l.group(3));
        },
        toc, 1);
  }
  std::string items;
  for (const auto &h : heading.finditer(page)) {
    std::string title = text::strip(h.group(2));
    if (items.empty() && text::lower(title).find("abstract") == std::string::npos)
      title += " - Abstract";
    items += "<li>" + title + "</li>";
  }
  return items.empty() ? "" : "<div class=\"toc\"><ul>" + items + "</ul></div>";
}

} // namespace vaskit::testing

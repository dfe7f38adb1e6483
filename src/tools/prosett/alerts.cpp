// Block quotes in GitHub's alert notation ("> [!NOTE]") become styled alert boxes.
#include "core/re.hpp"
#include "core/text.hpp"
#include "tools/prosett/log.hpp"
#include "tools/prosett/stages.hpp"

#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace vaskit::prosett {
namespace {

#define PROSETT_OCTICON(name, path)                                                                \
  "<svg class=\"octicon octicon-" name "\" viewBox=\"0 0 16 16\" width=\"16\" height=\"16\" "      \
  "fill=\"currentColor\" aria-hidden=\"true\"><path d=\"" path "\"></path></svg>"

} // namespace

// Icons: Octicons, 16-pixel versions.
const AlertKind ALERT_CONFIG[5] = {
    {"note", "Note", "markdown-alert-note",
     PROSETT_OCTICON("info",
                     "M0 8a8 8 0 1 1 16 0A8 8 0 0 1 0 8Zm8-6.5a6.5 6.5 0 1 0 0 13 6.5 6.5 0 0 0 "
                     "0-13ZM6.5 7.75A.75.75 0 0 1 7.25 7h1a.75.75 0 0 1 .75.75v2.75h.25a.75.75 0 "
                     "0 1 0 1.5h-2a.75.75 0 0 1 0-1.5h.25v-2h-.25a.75.75 0 0 1-.75-.75ZM8 6a1 1 0 "
                     "1 1 0-2 1 1 0 0 1 0 2Z")},
    {"tip", "Tip", "markdown-alert-tip",
     PROSETT_OCTICON(
         "light-bulb",
         "M8 1.5c-2.363 0-4 1.69-4 3.75 0 .984.424 1.625.984 2.304l.214.253c.223.264.47.556.673."
         "848.284.411.537.896.621 1.49a.75.75 0 0 1-1.484.211c-.04-.282-.163-.547-.37-.847a8.456 "
         "8.456 0 0 0-.542-.68c-.084-.1-.173-.205-.268-.32C3.201 7.75 2.5 6.766 2.5 5.25 2.5 2.31 "
         "4.863 0 8 0s5.5 2.31 5.5 5.25c0 1.516-.701 2.5-1.328 3.259-.095.115-.184.22-.268.319-."
         "207.245-.383.453-.541.681-.208.3-.33.565-.37.847a.751.751 0 0 1-1.485-.212c.084-.593."
         "337-1.078.621-1.489.203-.292.45-.584.673-.848.075-.088.147-.173.213-.253.561-.679.985-1."
         "32.985-2.304 0-2.06-1.637-3.75-4-3.75ZM5.75 12h4.5a.75.75 0 0 1 0 1.5h-4.5a.75.75 0 0 1 "
         "0-1.5ZM6 15.25a.75.75 0 0 1 .75-.75h2.5a.75.75 0 0 1 0 1.5h-2.5a.75.75 0 0 1-.75-.75Z")},
    {"important", "Important", "markdown-alert-important",
     PROSETT_OCTICON(
         "report",
         "M0 1.75C0 .784.784 0 1.75 0h12.5C15.216 0 16 .784 16 1.75v9.5A1.75 1.75 0 0 1 14.25 "
         "13H8.06l-2.573 2.573A1.458 1.458 0 0 1 3 14.543V13H1.75A1.75 1.75 0 0 1 0 11.25Zm1.75-."
         "25a.25.25 0 0 0-.25.25v9.5c0 .138.112.25.25.25h2a.75.75 0 0 1 .75.75v2.19l2.72-2.72a."
         "749.749 0 0 1 .53-.22h6.5a.25.25 0 0 0 .25-.25v-9.5a.25.25 0 0 0-.25-.25Zm7 2.25v2.5a."
         "75.75 0 0 1-1.5 0v-2.5a.75.75 0 0 1 1.5 0ZM9 9a1 1 0 1 1-2 0 1 1 0 0 1 2 0Z")},
    {"warning", "Warning", "markdown-alert-warning",
     PROSETT_OCTICON(
         "alert",
         "M6.457 1.047c.659-1.234 2.427-1.234 3.086 0l6.082 11.378A1.75 1.75 0 0 1 14.082 "
         "15H1.918a1.75 1.75 0 0 1-1.543-2.575Zm1.763.707a.25.25 0 0 0-.44 0L1.698 13.132a.25.25 "
         "0 0 0 .22.368h12.164a.25.25 0 0 0 .22-.368Zm.53 3.996v2.5a.75.75 0 0 1-1.5 0v-2.5a.75."
         "75 0 0 1 1.5 0ZM9 11a1 1 0 1 1-2 0 1 1 0 0 1 2 0Z")},
    {"caution", "Caution", "markdown-alert-caution",
     PROSETT_OCTICON(
         "stop",
         "M4.47.22A.749.749 0 0 1 5 0h6c.199 0 .389.079.53.22l4.25 4.25c.141.14.22.331.22.53v6a."
         "749.749 0 0 1-.22.53l-4.25 4.25A.749.749 0 0 1 11 16H5a.749.749 0 0 1-.53-.22L.22 "
         "11.53A.749.749 0 0 1 0 11V5c0-.199.079-.389.22-.53Zm.84 1.28L1.5 5.31v5.38l3.81 3.81h5."
         "38l3.81-3.81V5.31L10.69 1.5ZM8 4a.75.75 0 0 1 .75.75v3.5a.75.75 0 0 1-1.5 0v-3.5A.75.75 "
         "0 0 1 8 4Zm0 8a1 1 0 1 1 0-2 1 1 0 0 1 0 2Z")},
};

#undef PROSETT_OCTICON

std::string process_markdown_alerts(std::string_view html_body) {
  std::optional<re::Utf8> valid;
  try {
    valid = re::Utf8::check(html_body);
  } catch (const std::exception &e) {
    log().warning(std::string("⚠️ Alert 轉換出錯: ") + e.what());
    return std::string(html_body);
  }
  return process_markdown_alerts(*valid).release();
}

namespace {

// The page with its alert boxes; nullopt when it has none, also after a failure (logged).
std::optional<re::Utf8Text> alert_boxes(re::Utf8 valid_body) {
  const std::string_view html_body = valid_body.view();
  static const re::Pattern quote(R"(<blockquote>([\s\S]*?)</blockquote>)");
  static const re::Pattern marker(
      // "İ" and "ı" match "I" when letter case is ignored in the marker's kind word, as users of
      // the notation expect; PCRE2's case folding leaves those two out, so they are spelled here.
      R"(^(?:<p>\s*)?\[!(NOTE|T[Iİı]P|[Iİı]MPORTANT|WARN[Iİı]NG|CAUT[Iİı]ON)\]([^\n<]*)(?:<br\s*/?>)?\s*(?:</p>)?)",
      re::IGNORECASE);
  try {
    int alert_count = 0;
    // The alert box for a block quote; empty when the quote is no alert and stays as it is.
    auto replace_alert = [&](const re::Match &match) -> std::string {
      const std::string inner = text::strip(match.group(1));
      const auto m = marker.match(inner);
      if (!m)
        return std::string();
      ++alert_count;
      const std::string kind = text::lower(m->group(1));
      const std::string custom_title = text::strip(m->group(2));
      const AlertKind *cfg = &ALERT_CONFIG[0]; // a kind word the table lacks shows as a note
      for (const auto &k : ALERT_CONFIG)
        if (k.key == kind)
          cfg = &k;
      const std::string title = custom_title.empty() ? std::string(cfg->title) : custom_title;
      std::string body_remainder = text::strip(std::string_view(inner).substr(m->end()));
      // Marker and first body line shared one paragraph: give the body its opening tag back.
      if (inner.starts_with("<p>") && !body_remainder.empty() && !body_remainder.starts_with("<p>"))
        body_remainder = "<p>" + body_remainder;
      std::string box;
      box.reserve(64 + cfg->css_class.size() + cfg->svg.size() + title.size() +
                  body_remainder.size());
      box.append("<div class=\"markdown-alert ").append(cfg->css_class).append("\">");
      box.append("<p class=\"markdown-alert-title\">").append(cfg->svg).append(title);
      box.append("</p>");
      if (!body_remainder.empty())
        box.append("\n").append(body_remainder);
      box.append("</div>");
      return box;
    };
    // The boxes are made first, so that the page is sized once.
    const auto quotes = quote.finditer(valid_body);
    std::vector<std::string> boxes;
    boxes.reserve(quotes.size());
    std::size_t size = html_body.size();
    for (const auto &q : quotes) {
      boxes.push_back(replace_alert(q));
      if (!boxes.back().empty())
        size = size - (q.end() - q.start()) + boxes.back().size();
    }
    if (alert_count == 0)
      return std::nullopt;
    re::Utf8Text out;
    out.reserve(size);
    std::size_t copied = 0;
    for (std::size_t k = 0; k < quotes.size(); ++k) {
      if (boxes[k].empty())
        continue;
      out.append(valid_body.substr(copied, quotes[k].start() - copied));
      out.append_checked(boxes[k]);
      copied = quotes[k].end();
    }
    out.append(valid_body.substr(copied));
    log().info("✅ 成功轉換 " + std::to_string(alert_count) + " 個 GitHub Alert 區塊。");
    return out;
  } catch (const std::exception &e) {
    log().warning(std::string("⚠️ Alert 轉換出錯: ") + e.what());
    return std::nullopt;
  }
}

} // namespace

re::Utf8Text process_markdown_alerts(re::Utf8 valid_body) {
  auto changed = alert_boxes(valid_body);
  return changed ? std::move(*changed) : re::Utf8Text(valid_body);
}

re::Utf8Text process_markdown_alerts(re::Utf8Text &&html_body) {
  auto changed = alert_boxes(html_body.view());
  return changed ? std::move(*changed) : std::move(html_body);
}

} // namespace vaskit::prosett

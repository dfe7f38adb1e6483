// The subject line of the Markdown, and the table-of-contents summary of an attachment.
#include "core/fs.hpp"
#include "core/re.hpp"
#include "core/text.hpp"
#include "tools/postrel/postrel.hpp"
#include "vaskern/fileIO.hpp"

#include <array>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace vaskit::postrel {
namespace {

bool is_fence(const std::string &line) {
  return text::starts_with(text::strip(line), "```");
}

// Byte-order marks at the start (one or several) are not text; one further in is a zero-width
// no-break space of the text and stays.
std::string without_leading_boms(const std::string &s) {
  static const std::string_view bom = "\xEF\xBB\xBF";
  std::size_t start = 0;
  while (s.compare(start, bom.size(), bom) == 0)
    start += bom.size();
  return s.substr(start);
}

// The three searches of an HTML attachment below find what the patterns in their comments find
// (leftmost match, lazy bodies), in one pass each. A backtracking search tries every opening tag
// that is never closed against the whole rest of the page, which takes minutes on a page of a
// few hundred kilobytes; here each opening tag's end and the next closing tag are looked up with
// positions that only move forward, since the openings are tried in order.

// The first position of `needle` at or after `from`, for calls whose `from` never decreases:
// the last answer stands as long as it is not behind `from`.
class ForwardFind {
public:
  ForwardFind(std::string_view hay, std::string_view needle) : hay_(hay), needle_(needle) {}
  std::size_t at_or_after(std::size_t from) {
    if (!searched_ || (found_ != std::string_view::npos && found_ < from)) {
      found_ = hay_.find(needle_, from);
      searched_ = true;
    }
    return found_;
  }

private:
  std::string_view hay_, needle_;
  std::size_t found_ = std::string_view::npos;
  bool searched_ = false;
};

// The length of the case-insensitive match of the lower-case ASCII `word` at `pos`, 0 when it
// does not match there. As the patterns' IGNORECASE reads it, "s" also matches the long s "ſ"
// (U+017F), its case partner in Unicode.
std::size_t caseless_at(std::string_view s, std::size_t pos, std::string_view word) {
  const std::size_t start = pos;
  for (const char w : word) {
    const bool letter = w >= 'a' && w <= 'z';
    if (pos < s.size() && (s[pos] == w || (letter && s[pos] == w - 'a' + 'A'))) {
      ++pos;
    } else if (w == 's' && s.compare(pos, 2, "\xC5\xBF") == 0) {
      pos += 2;
    } else {
      return 0;
    }
  }
  return pos - start;
}

// The first table-of-contents block, as `(<div[^>]*class=["\']toc["\'][^>]*>[\s\S]*?</div>)`
// (case-insensitive) finds it: an opening tag "<div" up to its first ">" that holds
// class="toc" (either quote on either side), and everything after it to the first "</div>".
std::optional<std::string_view> toc_block(std::string_view html) {
  // Where the class attribute could stand: every class="toc" of the page, in order.
  std::vector<std::size_t> marks;
  for (std::size_t p = 0; p < html.size(); ++p) {
    std::size_t n = caseless_at(html, p, "class=");
    if (!n || p + n >= html.size() || (html[p + n] != '"' && html[p + n] != '\''))
      continue;
    const std::size_t t = caseless_at(html, p + n + 1, "toc");
    const std::size_t q = p + n + 1 + t;
    if (t && q < html.size() && (html[q] == '"' || html[q] == '\''))
      marks.push_back(p);
  }
  std::vector<std::size_t> closing;
  for (std::size_t p = html.find("</"); p != std::string_view::npos; p = html.find("</", p + 1))
    if (caseless_at(html, p + 2, "div") && p + 5 < html.size() && html[p + 5] == '>')
      closing.push_back(p);

  ForwardFind tag_end(html, ">");
  std::size_t next_mark = 0, next_close = 0;
  for (std::size_t i = html.find('<'); i != std::string_view::npos; i = html.find('<', i + 1)) {
    if (!caseless_at(html, i + 1, "div"))
      continue;
    const std::size_t attrs = i + 4;
    const std::size_t gt = tag_end.at_or_after(attrs);
    if (gt == std::string_view::npos)
      return std::nullopt; // no opening tag ends any more
    while (next_mark < marks.size() && marks[next_mark] < attrs)
      ++next_mark;
    while (next_close < closing.size() && closing[next_close] <= gt)
      ++next_close;
    if (next_close == closing.size())
      return std::nullopt; // nothing closes any later block either
    // A mark inside the tag ends before its ">", since it holds none.
    if (next_mark < marks.size() && marks[next_mark] < gt)
      return html.substr(i, closing[next_close] + 6 - i);
  }
  return std::nullopt;
}

// The first link, as "(<a[^>]*>)(.*?)(</a>)" finds it: "<a" up to its first ">" (the tag), then
// the text up to the first "</a>" after it, which may hold no line feed.
struct Link {
  std::string_view tag, text;
  std::size_t start, end; // of the whole match
};
std::optional<Link> first_link(std::string_view html) {
  ForwardFind tag_end(html, ">"), closing(html, "</a>"), line_feed(html, "\n");
  for (std::size_t i = html.find("<a"); i != std::string_view::npos; i = html.find("<a", i + 1)) {
    const std::size_t gt = tag_end.at_or_after(i + 2);
    if (gt == std::string_view::npos)
      return std::nullopt;
    const std::size_t close = closing.at_or_after(gt + 1);
    if (close == std::string_view::npos)
      return std::nullopt;
    if (line_feed.at_or_after(gt + 1) < close)
      continue;
    return Link{html.substr(i, gt + 1 - i), html.substr(gt + 1, close - gt - 1), i, close + 4};
  }
  return std::nullopt;
}

// The inner HTML of every heading, in document order: what successive searches for
// "<(h[1-6])[^>]*>([\s\S]*?)</\1>" (case-insensitive) find, each from the end of the last match.
// An opening tag runs to the first ">" after "<hN"; the heading ends at the first "</hN>" of the
// same level after it, and an opening tag without one is no heading.
std::vector<std::string_view> heading_contents(std::string_view html) {
  const auto is_h = [](char c) { return c == 'h' || c == 'H'; };
  const auto level_at = [&](std::size_t i) -> int {
    return i < html.size() && html[i] >= '1' && html[i] <= '6' ? html[i] - '0' : 0;
  };
  std::array<std::vector<std::size_t>, 7> closing;
  for (std::size_t i = html.find("</"); i != std::string_view::npos; i = html.find("</", i + 1))
    if (i + 4 < html.size() && is_h(html[i + 2]) && level_at(i + 3) && html[i + 4] == '>')
      closing[level_at(i + 3)].push_back(i);
  std::array<std::size_t, 7> next_close{};

  std::vector<std::string_view> out;
  ForwardFind tag_end(html, ">");
  std::size_t pos = 0;
  for (std::size_t i = html.find('<'); i != std::string_view::npos; i = html.find('<', pos)) {
    pos = i + 1;
    const int level = i + 2 < html.size() && is_h(html[i + 1]) ? level_at(i + 2) : 0;
    if (!level)
      continue;
    const std::size_t gt = tag_end.at_or_after(i + 3);
    if (gt == std::string_view::npos)
      break;
    auto &k = next_close[level];
    while (k < closing[level].size() && closing[level][k] <= gt)
      ++k;
    if (k == closing[level].size())
      continue;
    out.push_back(html.substr(gt + 1, closing[level][k] - gt - 1));
    pos = closing[level][k] + 5;
  }
  return out;
}

std::string summary_of_html(const std::string &content, const std::string &name) {
  static const re::Pattern between_tags(R"(>\s+<)");
  if (const auto block = toc_block(content)) {
    std::string toc = text::strip(between_tags.sub("><", *block));
    if (const auto link = first_link(toc);
        link && text::lower(link->text).find("abstract") == std::string::npos)
      toc = toc.substr(0, link->start) + std::string(link->tag) + std::string(link->text) +
            " - Abstract</a>" + toc.substr(link->end);
    log().info("✅ 成功自附件 [" + name + "] 擷取 HTML 格式目錄摘要（已於 Header 加入 Abstract）。");
    return toc;
  }

  std::string items;
  const auto headings = heading_contents(content);
  for (std::size_t count = 0; count < headings.size(); ++count) {
    std::string title = text::strip(headings[count]);
    if (count == 0 && text::lower(title).find("abstract") == std::string::npos)
      title += " - Abstract";
    items += "<li>" + title + "</li>";
  }
  if (headings.empty())
    return "";
  log().info("✅ 成功自附件 [" + name + "] 擷取 " + std::to_string(headings.size()) +
             " 項標題組成 HTML 目錄。");
  return "<div class=\"toc\"><ul>" + items + "</ul></div>";
}

std::string summary_of_markdown(const std::string &content, const std::string &name) {
  std::vector<std::string> items;
  bool first = true;
  for (const auto &line : text::splitlines(content)) {
    const std::string stripped = text::strip(line);
    if (!text::starts_with(stripped, "#"))
      continue;
    const std::size_t level = stripped.find_first_not_of('#') == std::string::npos
                                  ? stripped.size()
                                  : stripped.find_first_not_of('#');
    std::string title = text::strip(std::string_view(stripped).substr(level));
    if (title.empty())
      continue;
    if (first && text::lower(title).find("abstract") == std::string::npos) {
      title += " - Abstract";
      first = false;
    }
    std::string item;
    for (std::size_t i = 1; i < level; ++i)
      item += "  ";
    items.push_back(item + "- " + title);
  }
  if (items.empty())
    return "";
  log().info("✅ 成功自附件 [" + name + "] 擷取 " + std::to_string(items.size()) + " 項目錄摘要。");
  return text::join(items, "\n");
}

} // namespace

std::pair<std::string, std::string> _extract_subject_from_markdown(const std::string &md_content) {
  if (md_content.empty())
    return {"", ""};
  const std::string txt = without_leading_boms(md_content);
  const auto lines = text::splitlines(txt);
  if (lines.empty())
    return {"", ""};

  std::optional<std::size_t> candidate;
  for (std::size_t i = 0; i < lines.size() && i < 5; ++i) {
    const std::string stripped = text::strip(lines[i]);
    if (stripped.empty() || text::starts_with(stripped, "```"))
      continue;
    candidate = i;
    break;
  }
  if (!candidate)
    return {"", txt};

  static const re::Pattern subject_line(R"(^(?:#+\s*|\*\*)?subject\s*[:：]\s*(.*?)(?:\*\*)?$)",
                                        re::IGNORECASE);
  const std::string stripped = text::strip(lines[*candidate]);
  const auto m = subject_line.match(stripped);
  if (!m)
    return {"", txt};
  std::string subject = text::strip(m->group(1));

  std::string body;
  body.reserve(txt.size());
  bool first = true;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i == *candidate || is_fence(lines[i]))
      continue;
    if (!first)
      body += '\n';
    first = false;
    body += lines[i];
  }
  const auto start = body.find_first_not_of("\r\n");
  body.erase(0, start == std::string::npos ? body.size() : start);
  return {subject, body};
}

std::string
PostrelApp::extract_toc_summary_from_attachment(const std::string &attachment_path) const {
  std::error_code ec;
  if (attachment_path.empty() || !std::filesystem::exists(attachment_path, ec))
    return "";
  try {
    const std::string name = fs::basename(attachment_path);
    const std::string ext = text::lower(fs::splitext(name).second);
    const bool html = ext == ".html" || ext == ".htm";
    const bool markdown = ext == ".md" || ext == ".markdown";
    // Only these two kinds can hold a summary; other attachments (often large) are not read.
    if (!html && !markdown)
      return "";
    const std::string content =
        vaskern::fileIO::load_local_file_content(attachment_path, "附件內容", &log());
    if (content.empty())
      return "";
    return html ? summary_of_html(content, name) : summary_of_markdown(content, name);
  } catch (const std::exception &e) {
    log().warning(std::string("⚠️ 擷取附件目錄摘要失敗: ") + e.what());
    return "";
  }
}

} // namespace vaskit::postrel

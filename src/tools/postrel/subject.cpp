// The subject line of the Markdown, and the table-of-contents summary of an attachment.
#include "core/fs.hpp"
#include "core/re.hpp"
#include "core/text.hpp"
#include "tools/postrel/postrel.hpp"
#include "vaskern/fileIO.hpp"

#include <filesystem>

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

std::string summary_of_html(const std::string &content, const std::string &name) {
  static const re::Pattern toc_block(R"((<div[^>]*class=["\']toc["\'][^>]*>[\s\S]*?</div>))",
                                     re::IGNORECASE);
  static const re::Pattern between_tags(R"(>\s+<)");
  static const re::Pattern first_link(R"((<a[^>]*>)(.*?)(</a>))");
  static const re::Pattern heading(R"(<(h[1-6])[^>]*>([\s\S]*?)</\1>)", re::IGNORECASE);

  if (const auto m = toc_block.search(content)) {
    std::string toc = text::strip(between_tags.sub("><", m->group(1)));
    const auto repl_header = [](const re::Match &link) {
      const std::string title(link.group(2));
      if (text::lower(title).find("abstract") != std::string::npos)
        return std::string(link.group(0));
      return std::string(link.group(1)) + title + " - Abstract" + std::string(link.group(3));
    };
    toc = first_link.sub(repl_header, toc, 1);
    log().info("✅ 成功自附件 [" + name + "] 擷取 HTML 格式目錄摘要（已於 Header 加入 Abstract）。");
    return toc;
  }

  std::string items;
  std::size_t count = 0;
  heading.for_each(content, [&](const re::Match &h) {
    std::string title = text::strip(h.group(2));
    if (count == 0 && text::lower(title).find("abstract") == std::string::npos)
      title += " - Abstract";
    items += "<li>" + title + "</li>";
    ++count;
    return true;
  });
  if (count == 0)
    return "";
  log().info("✅ 成功自附件 [" + name + "] 擷取 " + std::to_string(count) +
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

// The mail page and the draft: recipients, subject, body and attachments, saved and opened.
#include "core/fs.hpp"
#include "formats/markdown/markdown.hpp"
#include "tools/postrel/mail_draft.hpp"
#include "tools/postrel/postrel.hpp"

#include <cstdlib>
#include <filesystem>

namespace vaskit::postrel {

const char *const EMAIL_HTML_TEMPLATE = R"(<!DOCTYPE html>
<html>
<head>
<meta charset="UTF-8">
<style>
body, p, div, table, td, th, li, span {{
    font-family: 'Aptos', 'Segoe UI', Calibri, Arial, sans-serif;
    font-size: 12pt;
    line-height: 1.5;
    color: #222222;
}}
pre, code {{
    font-family: 'Consolas', 'Courier New', monospace;
    background-color: #f4f4f4;
    padding: 2px 4px;
    border-radius: 3px;
}}
table {{
    border-collapse: collapse;
    margin: 10px 0;
}}
th, td {{
    border: 1px solid #dddddd;
    padding: 6px 10px;
    text-align: left;
}}
th {{
    background-color: #f8f9fa;
}}
blockquote {{
    border-left: 3px solid #0078d4;
    padding-left: 10px;
    color: #555555;
    margin-left: 0;
}}
.toc ul {{
    padding-left: 24px;
    margin: 4px 0;
}}
.toc li {{
    margin: 3px 0;
}}
.toc a {{
    color: #0078d4;
    text-decoration: none;
}}
.toc a:hover {{
    text-decoration: underline;
}}
</style>
</head>
<body style="font-family: 'Aptos', 'Segoe UI', Calibri, Arial, sans-serif; font-size: 12pt; line-height: 1.5; color: #222222;">
<div style="font-family: 'Aptos', 'Segoe UI', Calibri, Arial, sans-serif; font-size: 12pt; line-height: 1.5; color: #222222;">
{body_content}
</div>
</body>
</html>)";

namespace {

// Tables, fenced code, a line break for every single newline, and Markdown inside any block
// element marked markdown="1"; other raw HTML passes through.
const markdown::Extensions kMailMarkdown{.hard_breaks = true,
                                         .markdown_in_html = markdown::MarkdownInHtml::AnyBlock};

} // namespace

std::string fill_email_template(const std::string &body_content) {
  static const std::string_view slot = "{body_content}";
  const std::string_view t = EMAIL_HTML_TEMPLATE;
  std::string out;
  out.reserve(t.size() + body_content.size());
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t.compare(i, slot.size(), slot) == 0) {
      out += body_content;
      i += slot.size() - 1;
    } else if ((t[i] == '{' || t[i] == '}') && i + 1 < t.size() && t[i + 1] == t[i]) {
      out += t[i++];
    } else {
      out += t[i];
    }
  }
  return out;
}

Result PostrelApp::create_and_display_mail(const std::string &md_content,
                                           const std::string &subject, const std::string &to,
                                           const std::string &cc,
                                           const std::vector<std::string> &attachments,
                                           const std::string &source) const {
  try {
    const std::string page = fill_email_template(markdown::render(md_content, kMailMarkdown));
    MailDraft item;
    item.To = !to.empty() ? to : mail_to;
    item.CC = !cc.empty() ? cc : mail_cc;
    item.Subject = !subject.empty() ? subject : "草稿";
    item.HTMLBody = page;
    item.TextBody = md_content;
    for (const auto &entry : attachments) {
      std::error_code ec;
      if (!std::filesystem::exists(entry, ec)) {
        log().warning("⚠️ 找不到附加檔案：" + entry + "，已略過。");
        continue;
      }
      // A file that is there but cannot be attached (unreadable, a FIFO, a device) ends the
      // draft with the reason: a draft silently without it would be reported as done.
      const std::string abs = std::filesystem::canonical(entry).string();
      item.add_attachment(abs);
      log().info("✅ 已成功加入附加檔案：" + abs);
    }

    std::filesystem::path folder = source.empty() ? "." : fs::dirname(fs::abspath(source));
    if (const char *dir = std::getenv("VASKIT_DRAFTS_DIR"); dir && *dir)
      folder = dir;
    const std::string stem = source.empty() ? "草稿" : fs::splitext(fs::basename(source)).first;
    const auto saved = item.save(folder, stem);
    log().info("✅ 郵件草稿已儲存：" + saved.string());
    if (auto err = open_draft(saved))
      throw std::runtime_error(*err);
    log().info("✅ 郵件草稿已建立並於 Outlook 視窗中開啟。");
    return {true, "郵件草稿已成功建立並開啟"};
  } catch (const std::exception &e) {
    log().error(std::string("❌ 建立 Outlook 郵件失敗: ") + e.what());
    return {false, e.what()};
  }
}

} // namespace vaskit::postrel

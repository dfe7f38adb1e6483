#include "support/log_capture.hpp"
#include "tools/prosett/page.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vaskit::prosett {
namespace {

using vaskit::testing::LogCapture;

std::size_t count(std::string_view s, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t i = s.find(what); i != std::string::npos; i = s.find(what, i + what.size()))
    ++n;
  return n;
}

TEST(PageTemplate, Shape) {
  const std::string_view t = PAGE_TEMPLATE;
  EXPECT_TRUE(t.starts_with("<!DOCTYPE html>\n<html>\n<head>\n    <meta charset=\"UTF-8\">\n"
                            "    <title>{title}</title>\n    <style>\n"));
  EXPECT_TRUE(t.ends_with("<body>\n    <article>\n        {content}\n    </article>\n</body>\n"
                          "</html>"));
  for (const char *slot : {"{title}", "{watermark_css}", "{content}"})
    EXPECT_EQ(count(t, slot), 1u) << slot;
  EXPECT_NE(t.find("        /* 💡 Watermark Layer */\n        {watermark_css}\n"),
            std::string::npos);
}

TEST(PageTemplate, ScriptsInOrder) {
  const std::string page = generate_final_html("a.md", "");
  const std::vector<std::string> in_order = {
      "import mermaid from "
      "'https://cdn.jsdelivr.net/npm/mermaid@10.9.1/dist/mermaid.esm.min.mjs';",
      "<!-- MathJax for LaTeX formula rendering -->",
      "window.MathJax = {",
      "<script id=\"MathJax-script\" async "
      "src=\"https://cdn.jsdelivr.net/npm/mathjax@3/es5/tex-mml-chtml.js\"></script>",
      "<!-- WaveDrom for timing diagram rendering -->",
      "src=\"https://cdn.jsdelivr.net/npm/wavedrom@3.5.0/skins/default.js\"",
      "src=\"https://cdn.jsdelivr.net/npm/wavedrom@3.5.0/skins/narrow.js\"",
      "src=\"https://cdn.jsdelivr.net/npm/wavedrom@3.5.0/wavedrom.min.js\"",
      "if (typeof WaveDrom !== 'undefined') {",
      "</head>"};
  std::size_t at = 0;
  for (const auto &piece : in_order) {
    const std::size_t found = page.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece;
    at = found + piece.size();
  }
}

TEST(PageTemplate, InlineMathOnlyBetweenParens) {
  const std::string page = generate_final_html("a.md", "Price $5 and $6");
  EXPECT_NE(page.find("inlineMath: [['\\\\(', '\\\\)']],"), std::string::npos);
  EXPECT_NE(page.find("displayMath: [['$$', '$$'], ['\\\\[', '\\\\]']],"), std::string::npos);
  EXPECT_EQ(page.find("['$', '$']"), std::string::npos);
}

TEST(PageTemplate, BracesComeOutSingle) {
  const std::string page = generate_final_html("a.md", "");
  EXPECT_EQ(page.find("{{"), std::string::npos);
  EXPECT_EQ(page.find("}}"), std::string::npos);
  EXPECT_EQ(count(page, "{"), count(page, "}"));
}

TEST(Page, EmptyWatermarkLeavesBlankSlotLine) {
  const std::string page = generate_final_html("a.md", "<p>x</p>");
  EXPECT_NE(page.find("        /* 💡 Watermark Layer */\n        \n"), std::string::npos);
  EXPECT_EQ(page.find("body::after"), std::string::npos);
  EXPECT_EQ(count(page, "/* 💡 Watermark Layer */"), 1u);
}

TEST(Page, WatermarkRule) {
  const std::string page = generate_final_html("a.md", "<p>x</p>", "CONFIDENTIAL");
  EXPECT_EQ(count(page, "/* 💡 Watermark Layer */"), 2u);
  const std::string rule =
      "        \n            /* 💡 Watermark Layer */\n            body::after {\n"
      "                content: \"\";\n                position: fixed;\n"
      "                top: 0;\n                left: 0;\n                width: 100%;\n"
      "                height: 100%;\n"
      "                background-image: url(\"data:image/svg+xml;utf8,<svg "
      "xmlns='http://www.w3.org/2000/svg' width='250' height='150' viewBox='0 0 250 150'>"
      "<text x='50%' y='50%' text-anchor='middle' fill='rgba(150, 150, 150, 0.1)' "
      "font-size='24' font-family='Arial' transform='rotate(-30, 150, 100)'>CONFIDENTIAL"
      "</text></svg>\");\n                background-repeat: repeat;\n"
      "                pointer-events: none;\n                z-index: 1000;\n            }\n";
  EXPECT_NE(page.find(rule), std::string::npos);
}

TEST(Page, WatermarkTextIsEscapedForTheDataUri) {
  struct Case {
    std::string text, encoded;
  };
  const std::vector<Case> cases = {
      {"a\"b<c>", "a%26quot;b%26lt;c%26gt;"},
      {"R&D #1 100%", "R%26amp;D %231 100%25"},
      {"it's", "it%26apos;s"},
      {"機密 🔒", "機密 🔒"},
      {"back\\slash", "back%5Cslash"},
      {"two\nlines\r", "two%0Alines%0D"},
      {"bell\x07", "bell"},
      {"</style>", "%26lt;/style%26gt;"},
      {"{content}", "{content}"},
  };
  for (const auto &c : cases) {
    const std::string css = watermark_css(c.text);
    const std::string want = "transform='rotate(-30, 150, 100)'>" + c.encoded + "</text></svg>\");";
    EXPECT_NE(css.find(want), std::string::npos) << c.text << "\n" << css;
  }
  EXPECT_EQ(watermark_css(""), "");
}

TEST(Page, BodyAndTitleAreInsertedOnce) {
  const std::string body = "<pre><code>{x} {content} {{y}} {title}</code></pre>";
  const std::string page = generate_final_html("R&D <notes>.md", body, "{title}");
  EXPECT_NE(page.find("<title>R&amp;D &lt;notes&gt;.md</title>"), std::string::npos);
  EXPECT_NE(page.find("    <article>\n        " + body + "\n    </article>"), std::string::npos);
  EXPECT_EQ(count(page, "R&amp;D"), 1u);
  EXPECT_NE(page.find(">{title}</text>"), std::string::npos);
}

TEST(Page, LogsOneInfoLine) {
  LogCapture capture;
  generate_final_html("notes.md", "");
  EXPECT_EQ(capture.texts("INFO"), std::vector<std::string>{"✅ 生成最終 HTML 頁面：notes.md"});
}

} // namespace
} // namespace vaskit::prosett

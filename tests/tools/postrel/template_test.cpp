#include "tools/postrel/postrel.hpp"

#include <gtest/gtest.h>

namespace vaskit::postrel {
namespace {

// The mail page around a body, rule by rule.
std::string page_around(const std::string &body) {
  const std::string font = "'Aptos', 'Segoe UI', Calibri, Arial, sans-serif";
  const std::string inline_style =
      "font-family: " + font + "; font-size: 12pt; line-height: 1.5; color: #222222;";
  auto rule = [](const std::string &selector, std::initializer_list<std::string> declarations) {
    std::string out = selector + " {\n";
    for (const auto &d : declarations)
      out += "    " + d + ";\n";
    return out + "}\n";
  };
  return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"UTF-8\">\n<style>\n" +
         rule("body, p, div, table, td, th, li, span",
              {"font-family: " + font, "font-size: 12pt", "line-height: 1.5", "color: #222222"}) +
         rule("pre, code",
              {"font-family: 'Consolas', 'Courier New', monospace", "background-color: #f4f4f4",
               "padding: 2px 4px", "border-radius: 3px"}) +
         rule("table", {"border-collapse: collapse", "margin: 10px 0"}) +
         rule("th, td", {"border: 1px solid #dddddd", "padding: 6px 10px", "text-align: left"}) +
         rule("th", {"background-color: #f8f9fa"}) +
         rule("blockquote", {"border-left: 3px solid #0078d4", "padding-left: 10px",
                             "color: #555555", "margin-left: 0"}) +
         rule(".toc ul", {"padding-left: 24px", "margin: 4px 0"}) +
         rule(".toc li", {"margin: 3px 0"}) +
         rule(".toc a", {"color: #0078d4", "text-decoration: none"}) +
         rule(".toc a:hover", {"text-decoration: underline"}) + "</style>\n</head>\n" +
         "<body style=\"" + inline_style + "\">\n<div style=\"" + inline_style + "\">\n" + body +
         "\n</div>\n</body>\n</html>";
}

TEST(MailPage, TheBodyFillsTheOneSlotAndTheRulesKeepSingleBraces) {
  EXPECT_EQ(fill_email_template("<p>x</p>"), page_around("<p>x</p>"));
  EXPECT_EQ(fill_email_template(""), page_around(""));
  // The body is put in as it is: its braces, doubled braces and even the slot's own name are
  // text of the mail, never filled or halved.
  const std::string tricky = "{a} {{b}} }} {body_content} {{body_content}}\n<p>{</p>";
  EXPECT_EQ(fill_email_template(tricky), page_around(tricky));
}

} // namespace
} // namespace vaskit::postrel

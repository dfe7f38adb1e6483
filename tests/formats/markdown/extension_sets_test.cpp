#include "formats/markdown/markdown.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vaskit::markdown {
namespace {

// The mail body's set: tables, fenced code, a break for every newline, raw HTML, Markdown in any
// block element that asks for it.
const Extensions kMailSet{.hard_breaks = true, .markdown_in_html = MarkdownInHtml::AnyBlock};
// The diagram site's set: fenced code and tables only.
const Extensions kSiteSet{};

struct SetCase {
  const char *name;
  std::string md;
  std::string want;
};

std::string case_name(const ::testing::TestParamInfo<SetCase> &info) {
  return info.param.name;
}

class MailSet : public ::testing::TestWithParam<SetCase> {};

TEST_P(MailSet, Renders) {
  EXPECT_EQ(render(GetParam().md, kMailSet), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MailSet,
    ::testing::Values(
        SetCase{"EveryNewlineBreaks", "one\ntwo\nthree\n", "<p>one<br />\ntwo<br />\nthree</p>\n"},
        SetCase{"PipeTable", "| a | b |\n|---|--:|\n| 1 | 2 |\n",
                "<table>\n<thead>\n<tr>\n<th>a</th>\n<th style=\"text-align: right\">b</th>\n"
                "</tr>\n</thead>\n<tbody>\n<tr>\n<td>1</td>\n"
                "<td style=\"text-align: right\">2</td>\n</tr>\n</tbody>\n</table>\n"},
        SetCase{"FencedCodeKeepsItsLines", "```py\nif a < b:\n    pass\n```\n",
                "<pre><code class=\"language-py\">if a &lt; b:\n    pass\n</code></pre>\n"},
        SetCase{"RawHtmlPasses",
                "<table class=\"sig\"><tr><td>Ann</td></tr></table>\n\n"
                "Hi <span style=\"color:red\">there</span>\n",
                "<table class=\"sig\"><tr><td>Ann</td></tr></table>\n"
                "<p>Hi <span style=\"color:red\">there</span></p>\n"},
        SetCase{"MarkdownInDiv",
                "<div class=\"note\" markdown=\"1\">\n**Due** today\n\n- a\n</div>\n",
                "<div class=\"note\">\n<p><strong>Due</strong> today</p>\n<ul>\n<li>a</li>\n"
                "</ul>\n</div>\n"},
        SetCase{"MarkdownInSectionOnOneLine", "<SECTION markdown=\"1\">*x*</section>\n\nafter\n",
                "<section>\n<p><em>x</em></p>\n</section>\n<p>after</p>\n"},
        // The inner div has no attribute: its closing tag must not end the outer element.
        SetCase{"RawChildOfTheSameName",
                "<div markdown=\"1\">\n<div>\n*raw*\n</div>\n\n*md*\n</div>\n\nafter\n",
                "<div>\n<div>\n*raw*\n</div>\n<p><em>md</em></p>\n</div>\n<p>after</p>\n"},
        SetCase{"NestedMarkdownElements",
                "<div markdown=\"1\">\n# T\n<aside markdown=\"1\">\n_in_\n</aside>\n"
                "out\n</div>\n",
                "<div>\n<h1>T</h1>\n<aside>\n<p><em>in</em></p>\n</aside>\n<p>out</p>\n"
                "</div>\n"},
        SetCase{"DetailsKeepsItsSummary",
                "<details markdown=\"1\">\n<summary>More *raw*</summary>\n*md*\n</details>\n",
                "<details>\n<summary>More *raw*</summary>\n<p><em>md</em></p>\n</details>\n"},
        SetCase{"WithoutTheAttributeStaysRaw",
                "<div>\n*x*\n</div>\n\n<div markdown=\"0\">\n*y*\n"
                "</div>\n",
                "<div>\n*x*\n</div>\n<div markdown=\"0\">\n*y*\n</div>\n"},
        SetCase{
            "TextBlockTakesInlineMarkdown",
            "<p class=\"lead\" markdown=\"1\">**Hi** there\nAnn</p>\n\n<h2 markdown>`v2`</h2>\n",
            "<p class=\"lead\"><strong>Hi</strong> there<br "
            "/>\nAnn</p>\n<h2><code>v2</code></h2>\n"},
        SetCase{"TableCellInRawTable",
                "<table>\n<tr><td markdown=\"1\">*a*</td><td>*b*</td></tr>\n</table>\n",
                "<table>\n<tr>\n<td><em>a</em></td>\n<td>*b*</td></tr>\n</table>\n"},
        SetCase{"TextBlockWithParagraphsKeepsThem", "<li markdown=\"1\">\na\n\nb\n</li>\n",
                "<li>\n<p>a</p>\n<p>b</p>\n</li>\n"},
        SetCase{"InlineElementsAreNoContainers", "<span markdown=\"1\">*x*</span>\n",
                "<p><span markdown=\"1\"><em>x</em></span></p>\n"},
        SetCase{"InsideFencedCodeIsCode", "```\n<div markdown=\"1\">\n```\n",
                "<pre><code>&lt;div markdown=&quot;1&quot;&gt;\n</code></pre>\n"},
        SetCase{"NoHeadingIdsNoContents", "[TOC]\n\n# Title\n", "<p>[TOC]</p>\n<h1>Title</h1>\n"},
        // Comments of the page converter mean nothing here: a comment stays a comment.
        SetCase{"PlaceholderLookalikesAreComments", "a <!--CODE_PLACEHOLDER_0--> b\n",
                "<p>a <!--CODE_PLACEHOLDER_0--> b</p>\n"}),
    case_name);

class SiteSet : public ::testing::TestWithParam<SetCase> {};

TEST_P(SiteSet, Renders) {
  EXPECT_EQ(render(GetParam().md, kSiteSet), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SiteSet,
    ::testing::Values(
        SetCase{"NewlinesStaySoft", "one\ntwo\n", "<p>one\ntwo</p>\n"},
        SetCase{"CrLfReadAsLf", "one\r\ntwo\rthree\r\n", "<p>one\ntwo\nthree</p>\n"},
        SetCase{"PipeTable", "| a |\n|:-:|\n| *b* |\n",
                "<table>\n<thead>\n<tr>\n<th style=\"text-align: center\">a</th>\n</tr>\n"
                "</thead>\n<tbody>\n<tr>\n<td style=\"text-align: center\"><em>b</em></td>\n"
                "</tr>\n</tbody>\n</table>\n"},
        SetCase{"FencedCode", "~~~mermaid\ngraph TD\n  A-->B\n~~~\n",
                "<pre><code class=\"language-mermaid\">graph TD\n  A--&gt;B\n</code></pre>\n"},
        SetCase{"HeadingsWithoutIds", "# A\n\n## A\n", "<h1>A</h1>\n<h2>A</h2>\n"},
        SetCase{"TocMarkerIsText", "[TOC]\n", "<p>[TOC]</p>\n"},
        SetCase{"MarkdownAttributeMeansNothing", "<div markdown=\"1\">\n*x*\n</div>\n",
                "<div markdown=\"1\">\n*x*\n</div>\n"},
        SetCase{"DetailsStayRaw",
                "<details markdown=\"1\">\n<summary>S</summary>\n*x*\n"
                "</details>\n",
                "<details markdown=\"1\">\n<summary>S</summary>\n*x*\n</details>\n"},
        SetCase{"NoOtherGfmExtensions", "~~gone~~ www.example.com\n",
                "<p>~~gone~~ www.example.com</p>\n"}),
    case_name);

// The text's own private-use characters look like the renderer's internal marks.
TEST(ExtensionSets, PrivateUseCharactersSurviveEverySet) {
  const std::string md = "a \xEE\x80\x80"
                         "C1\xEE\x80\x81 \xEE\x80\x82"
                         "0\xEE\x80\x83 b\n";
  const std::string want = "<p>" + md.substr(0, md.size() - 1) + "</p>\n";
  EXPECT_EQ(render(md, kMailSet), want);
  EXPECT_EQ(render(md, kSiteSet), want);
}

// The page converter's set, as the renderer sees it (its own code spans are placeholders by then,
// but a text may reach it without).
const Extensions kPageSet{.hard_breaks = true,
                          .heading_ids = true,
                          .toc_marker = true,
                          .placeholders = true,
                          .markdown_in_html = MarkdownInHtml::Details};

// A "|" in a code span is cell text in a table row, whatever the set; "\|" stays the table's
// escaped pipe, also in a code span; outside tables a code span's "|" is written as it stands,
// link targets included.
TEST(ExtensionSets, PipeInACodeSpanIsCellText) {
  const std::string md = "| Marker | Meaning |\n"
                         "|---|---|\n"
                         "| `o|--o{` | zero or one |\n"
                         "| ``a|`|b`` | `x\\|y` \\| z |\n"
                         "| `|` |\n"
                         "\n"
                         "`p|q` [l](x`|`y) \\`r|s`\n";
  const std::string want = "<table>\n<thead>\n<tr>\n<th>Marker</th>\n<th>Meaning</th>\n</tr>\n"
                           "</thead>\n<tbody>\n"
                           "<tr>\n<td><code>o|--o{</code></td>\n<td>zero or one</td>\n</tr>\n"
                           "<tr>\n<td><code>a|`|b</code></td>\n<td><code>x|y</code> | z</td>\n"
                           "</tr>\n"
                           "<tr>\n<td><code>|</code></td>\n<td></td>\n</tr>\n"
                           "</tbody>\n</table>\n";
  for (const Extensions *set : {&kMailSet, &kSiteSet, &kPageSet}) {
    const std::string html = render(md, *set);
    EXPECT_TRUE(html.starts_with(want)) << html;
    EXPECT_NE(html.find("<code>p|q</code> <a href=\"x%60%7C%60y\">l</a> `r|s`"), std::string::npos)
        << html;
  }
}

// CommonMark reads U+0000 as U+FFFD, in raw HTML and in the opening tag of a Markdown-bearing
// element too, so that no NUL reaches a page and cuts it short where a reader stops at one.
TEST(ExtensionSets, NulIsReadAsTheReplacementCharacter) {
  const std::string nul(1, '\0');
  const std::string md = "<div markdown=\"1\" title=\"a" + nul + "b\">\n\n" + "x" + nul +
                         "y\n\n</div>\n\n<span>" + nul + "</span>\n\n`" + nul + "`\n\nafter\n";
  const std::string fffd = "\xEF\xBF\xBD";
  const std::string html = render(md, kMailSet);
  EXPECT_EQ(html, "<div title=\"a" + fffd + "b\">\n<p>x" + fffd + "y</p>\n</div>\n<p><span>" +
                      fffd + "</span></p>\n<p><code>" + fffd + "</code></p>\n<p>after</p>\n");
  for (const Extensions *set : {&kSiteSet, &kPageSet}) {
    const std::string page = render(md, *set);
    EXPECT_EQ(page.find('\0'), std::string::npos) << page;
    EXPECT_NE(page.find("after"), std::string::npos) << page;
  }
  EXPECT_EQ(replace_nul("a" + nul + nul + "b" + nul), "a" + fffd + fffd + "b" + fffd);
}

TEST(ExtensionSets, TreeOutOfMemoryFailsThatTextOnly) {
  std::string md;
  for (int i = 0; i < 100000; ++i)
    md += "- item *" + std::to_string(i) + "*\n";
  Extensions tight = kSiteSet;
  tight.max_tree_bytes = std::size_t{4} << 20;
  EXPECT_THROW(render(md, tight), Error);
  // The next text renders normally.
  EXPECT_EQ(render("*ok*\n", tight), "<p><em>ok</em></p>\n");
  const std::string html = render(md, kSiteSet);
  EXPECT_NE(html.find("<li>item <em>99999</em></li>"), std::string::npos);
}

} // namespace
} // namespace vaskit::markdown

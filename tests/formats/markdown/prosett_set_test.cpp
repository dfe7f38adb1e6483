#include "formats/markdown/markdown.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace vaskit::markdown {
namespace {

// prosett's set: hard line breaks, heading ids, [TOC], Markdown in details, placeholders.
const Extensions kProsettSet{.hard_breaks = true,
                             .heading_ids = true,
                             .toc_marker = true,
                             .placeholders = true,
                             .markdown_in_html = MarkdownInHtml::Details};

std::string render_markdown(const std::string &md) {
  return render(md, kProsettSet);
}

struct RenderCase {
  const char *name;
  std::string md;
  std::string want;
};

std::string case_name(const ::testing::TestParamInfo<RenderCase> &info) {
  return info.param.name;
}

// Every value of `attr="..."` in `html`, in order.
std::vector<std::string> attr_values(const std::string &html, const std::string &attr) {
  std::vector<std::string> out;
  const std::string key = attr + "=\"";
  for (std::size_t i = html.find(key); i != std::string::npos; i = html.find(key, i + 1)) {
    const std::size_t b = i + key.size();
    out.push_back(html.substr(b, html.find('"', b) - b));
  }
  return out;
}

std::size_t count(const std::string &s, const std::string &what) {
  std::size_t n = 0;
  for (std::size_t i = s.find(what); i != std::string::npos; i = s.find(what, i + what.size()))
    ++n;
  return n;
}

// ---------------------------------------------------------------------------------------------

class Basics : public ::testing::TestWithParam<RenderCase> {};

TEST_P(Basics, Render) {
  EXPECT_EQ(render_markdown(GetParam().md), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Basics,
    ::testing::Values(
        RenderCase{"Empty", "", ""},
        RenderCase{"LineBreaksAreHard", "line one\nline two\n",
                   "<p>line one<br />\nline two</p>\n"},
        RenderCase{"CrLfAndCrEndLines", "a\r\nb\rc\r\n", "<p>a<br />\nb<br />\nc</p>\n"},
        RenderCase{"TableWithAlignment",
                   "| Left | Centre | Right |\n|:-----|:------:|------:|\n| a | **b** | c |\n",
                   "<table>\n<thead>\n<tr>\n<th style=\"text-align: left\">Left</th>\n"
                   "<th style=\"text-align: center\">Centre</th>\n"
                   "<th style=\"text-align: right\">Right</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n"
                   "<td style=\"text-align: left\">a</td>\n"
                   "<td style=\"text-align: center\"><strong>b</strong></td>\n"
                   "<td style=\"text-align: right\">c</td>\n</tr>\n</tbody>\n</table>\n"},
        RenderCase{"NestedLists", "- a\n    - b\n        - c\n- d\n",
                   "<ul>\n<li>a\n<ul>\n<li>b\n<ul>\n<li>c</li>\n</ul>\n</li>\n</ul>\n</li>\n"
                   "<li>d</li>\n</ul>\n"},
        RenderCase{"OrderedThenBulleted", "1. one\n2. two\n\n* x\n",
                   "<ol>\n<li>one</li>\n<li>two</li>\n</ol>\n<ul>\n<li>x</li>\n</ul>\n"},
        RenderCase{"RawHtmlPasses", "<div class=\"x\">\nhi\n</div>\n",
                   "<div class=\"x\">\nhi\n</div>\n"},
        RenderCase{"NoOtherGfmExtensions", "~~gone~~ www.example.com\n",
                   "<p>~~gone~~ www.example.com</p>\n"}),
    case_name);

// ---------------------------------------------------------------------------------------------

class HeadingIds : public ::testing::TestWithParam<RenderCase> {};

TEST_P(HeadingIds, Render) {
  EXPECT_EQ(render_markdown(GetParam().md), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeadingIds,
    ::testing::Values(
        RenderCase{"Ascii", "# Hello, World!\n", "<h1 id=\"hello-world\">Hello, World!</h1>\n"},
        RenderCase{"Duplicates", "## A\n\n## A\n\n## A_1\n",
                   "<h2 id=\"a\">A</h2>\n<h2 id=\"a_1\">A</h2>\n<h2 id=\"a_2\">A_1</h2>\n"},
        RenderCase{"CjkOnly", "## 中文\n\n## 中文\n\n### 日本\n",
                   "<h2 id=\"_1\">中文</h2>\n<h2 id=\"_2\">中文</h2>\n<h3 id=\"_3\">日本</h3>\n"},
        RenderCase{"Mixed", "## 第 2 章 Setup 指南\n",
                   "<h2 id=\"2-setup\">第 2 章 Setup 指南</h2>\n"},
        RenderCase{"CompatibilityForms", "## Ünïcödé ﬁ ① Ａ\n",
                   "<h2 id=\"unicode-fi-1-a\">Ünïcödé ﬁ ① Ａ</h2>\n"},
        RenderCase{"InlineMarkup", "## [Link](http://x) *text* <em>y</em> &amp; z\n",
                   "<h2 id=\"link-text-y-z\"><a href=\"http://x\">Link</a> <em>text</em> "
                   "<em>y</em> &amp; z</h2>\n"},
        RenderCase{"PlaceholderLeftOutOfId", "## Run <!--CODE_PLACEHOLDER_0--> now\n",
                   "<h2 id=\"run-now\">Run <!--CODE_PLACEHOLDER_0--> now</h2>\n"},
        RenderCase{"ImageAltIsNoText", "## ![alt](a.png) Pic\n",
                   "<h2 id=\"pic\"><img src=\"a.png\" alt=\"alt\" /> Pic</h2>\n"}),
    case_name);

struct SlugCase {
  std::string text;
  std::string slug;
};

TEST(Slugify, FollowsTocRules) {
  const std::vector<SlugCase> cases = {{"Hello World", "hello-world"},
                                       {"  a--b  c ", "a-b-c"},
                                       {"-dash-", "-dash-"},
                                       {"_under_", "_under_"},
                                       {"中文", ""},
                                       {"Ωmega ∑", "mega"},
                                       {"C++ & C", "c-c"},
                                       {"tab\there", "tab-here"},
                                       {"ＡＢＣ", "abc"},
                                       {"Café déjà vu", "cafe-deja-vu"}};
  for (const auto &c : cases)
    EXPECT_EQ(slugify(c.text), c.slug) << c.text;
}

TEST(UniqueId, CountsUpLikeToc) {
  markdown::HeadingIds ids;
  std::set<std::string> given;
  const std::vector<std::pair<std::string, std::string>> steps = {
      {"x", "x"},
      {"x", "x_1"},
      {"x_1", "x_2"},
      {"", "_1"},
      {"", "_2"},
      {"a_009", "a_009"},
      {"a_009", "a_10"},
      {"a_", "a_"},
      {"a_", "a__1"},
      {"n_99999999999999999999", "n_99999999999999999999"},
      {"n_99999999999999999999", "n_100000000000000000000"}};
  for (const auto &[in, want] : steps) {
    EXPECT_EQ(ids.unique(in), want) << in;
    given.insert(want);
  }
  EXPECT_EQ(given.size(), steps.size());
}

// The plain search of the toc extension, for comparison: from `id`, count up until it is new.
std::string counted_up(std::string id, std::set<std::string> &ids) {
  while (id.empty() || ids.count(id)) {
    const std::size_t us = id.rfind('_');
    const bool counted = us != std::string::npos && us + 1 < id.size() &&
                         id.find_first_not_of("0123456789", us + 1) == std::string::npos;
    id = counted ? id.substr(0, us) + "_" + std::to_string(std::stoull(id.substr(us + 1)) + 1)
                 : id + "_1";
  }
  ids.insert(id);
  return id;
}

TEST(UniqueId, ResumedSearchesGiveThePlainSearchsIds) {
  const std::vector<std::string> pool = {"h", "h",  "h",  "h_1", "h_3", "h_03", "h_2_1",
                                         "",  "_1", "_2", "x",   "x_1", "h_"};
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    markdown::HeadingIds ids;
    std::set<std::string> plain;
    for (int i = 0; i < 200; ++i) {
      const std::string id = pool[rng() % pool.size()];
      ASSERT_EQ(ids.unique(id), counted_up(id, plain)) << "round " << round << " step " << i;
    }
  }
}

// Each repeat used to search from "_1" again: 16,000 equal headings took many seconds.
TEST(UniqueId, RepeatedHeadingsStayLinear) {
  const int n = 30000;
  std::string md;
  for (int i = 0; i < n; ++i)
    md += "# h\n\n";
  const auto start = std::chrono::steady_clock::now();
  const std::string html = render_markdown(md);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 5.0);
  const std::vector<std::string> ids = attr_values(html, "id");
  ASSERT_EQ(ids.size(), static_cast<std::size_t>(n));
  EXPECT_EQ(ids[0], "h");
  EXPECT_EQ(ids[1], "h_1");
  EXPECT_EQ(ids[n - 1], "h_" + std::to_string(n - 1));
}

// ---------------------------------------------------------------------------------------------

class Toc : public ::testing::TestWithParam<RenderCase> {};

TEST_P(Toc, Nesting) {
  const std::string html = render_markdown(GetParam().md);
  EXPECT_EQ(html.substr(0, html.find("</div>") + 7), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Toc,
    ::testing::Values(
        RenderCase{"Levels123", "[TOC]\n\n# A\n\n## B\n\n### C\n\n## D\n",
                   "<div class=\"toc\">\n<ul>\n<li><a href=\"#a\">A</a><ul>\n"
                   "<li><a href=\"#b\">B</a><ul>\n<li><a href=\"#c\">C</a></li>\n</ul>\n</li>\n"
                   "<li><a href=\"#d\">D</a></li>\n</ul>\n</li>\n</ul>\n</div>\n"},
        RenderCase{"StartsAtTwo", "[TOC]\n\n## A\n\n### B\n\n# C\n\n## D\n",
                   "<div class=\"toc\">\n<ul>\n<li><a href=\"#a\">A</a><ul>\n"
                   "<li><a href=\"#b\">B</a></li>\n</ul>\n</li>\n<li><a href=\"#c\">C</a><ul>\n"
                   "<li><a href=\"#d\">D</a></li>\n</ul>\n</li>\n</ul>\n</div>\n"},
        RenderCase{"SkipsLevels", "[TOC]\n\n# A\n\n### B\n\n## C\n\n##### D\n\n# E\n",
                   "<div class=\"toc\">\n<ul>\n<li><a href=\"#a\">A</a><ul>\n"
                   "<li><a href=\"#b\">B</a></li>\n<li><a href=\"#c\">C</a><ul>\n"
                   "<li><a href=\"#d\">D</a></li>\n</ul>\n</li>\n</ul>\n</li>\n"
                   "<li><a href=\"#e\">E</a></li>\n</ul>\n</div>\n"},
        RenderCase{"DescendingStaysFlat", "[TOC]\n\n### A\n\n## B\n\n# C\n",
                   "<div class=\"toc\">\n<ul>\n<li><a href=\"#a\">A</a></li>\n"
                   "<li><a href=\"#b\">B</a></li>\n<li><a href=\"#c\">C</a></li>\n</ul>\n"
                   "</div>\n"},
        RenderCase{"NoHeadings", "[TOC]\n\ntext\n", "<div class=\"toc\">\n<ul></ul>\n</div>\n"},
        RenderCase{"NamesEscapedPlaceholdersKept",
                   "[TOC]\n\n## a &lt; b & <!--MATH_PLACEHOLDER_0-->\n",
                   "<div class=\"toc\">\n<ul>\n<li><a href=\"#a-b\">a &lt; b &amp; "
                   "<!--MATH_PLACEHOLDER_0--></a></li>\n</ul>\n</div>\n"},
        RenderCase{"MarkerWithSpacesAndInQuote", "  [TOC]  \n\n> [TOC]\n\n# H\n",
                   "<div class=\"toc\">\n<ul>\n<li><a href=\"#h\">H</a></li>\n</ul>\n</div>\n"}),
    case_name);

TEST(Toc, MarkerMustBeWholeParagraph) {
  EXPECT_EQ(render_markdown("[TOC]\nfoo\n\n# H\n"),
            "<p>[TOC]<br />\nfoo</p>\n<h1 id=\"h\">H</h1>\n");
  EXPECT_EQ(render_markdown("`[TOC]`\n"), "<p><code>[TOC]</code></p>\n");
}

TEST(Toc, MarkerInQuoteIsReplacedToo) {
  const std::string html = render_markdown("> [TOC]\n\n# H\n");
  EXPECT_EQ(html, "<blockquote>\n<div class=\"toc\">\n<ul>\n<li><a href=\"#h\">H</a></li>\n"
                  "</ul>\n</div>\n</blockquote>\n<h1 id=\"h\">H</h1>\n");
}

TEST(Toc, EveryLinkResolvesToAHeading) {
  const std::string md = "# Guide\n\n**Author:** Ann\n\n[TOC]\n\n"
                         "## Install\n\n## Install\n\n## 安裝\n\n## 安裝\n\n### Step_1\n\n"
                         "### Step\n\n### Step\n\n#### <!--CODE_PLACEHOLDER_0-->\n\n"
                         "<details markdown=\"1\">\n<summary>More</summary>\n\n"
                         "## Install\n\n<details markdown=\"1\">\n<summary>Deeper</summary>\n\n"
                         "###### Deep 中文 Title\n\n</details>\n</details>\n\n"
                         "## After ①\n\n# 🎉\n";
  const std::string html = render_markdown(md);
  const std::size_t toc_begin = html.find("<div class=\"toc\">");
  const std::size_t toc_end = html.find("</div>");
  ASSERT_LT(toc_begin, toc_end);
  const std::vector<std::string> links =
      attr_values(html.substr(toc_begin, toc_end - toc_begin), "href");
  const std::vector<std::string> ids = attr_values(html, "id");
  ASSERT_EQ(ids.size(), 13u);
  ASSERT_EQ(links.size(), ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i)
    EXPECT_EQ(links[i], "#" + ids[i]);
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size());
  EXPECT_EQ(ids,
            (std::vector<std::string>{"guide", "install", "install_1", "_1", "_2", "step_1", "step",
                                      "step_2", "_3", "install_2", "deep-title", "after-1", "_4"}));
}

// ---------------------------------------------------------------------------------------------

class DetailsBodies : public ::testing::TestWithParam<RenderCase> {};

TEST_P(DetailsBodies, Render) {
  EXPECT_EQ(render_markdown(GetParam().md), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DetailsBodies,
    ::testing::Values(
        RenderCase{"MarkdownInside",
                   "<details markdown=\"1\" open>\n<summary>Steps **raw**</summary>\n\n"
                   "1. first\n2. second\n\n| k | v |\n|---|---|\n| 1 | <!--CODE_PLACEHOLDER_0--> "
                   "|\n\nline\nbreak\n</details>\n",
                   "<details open>\n<summary>Steps **raw**</summary>\n<ol>\n<li>first</li>\n"
                   "<li>second</li>\n</ol>\n<table>\n<thead>\n<tr>\n<th>k</th>\n<th>v</th>\n"
                   "</tr>\n</thead>\n<tbody>\n<tr>\n<td>1</td>\n"
                   "<td><!--CODE_PLACEHOLDER_0--></td>\n</tr>\n</tbody>\n</table>\n"
                   "<p>line<br />\nbreak</p>\n</details>\n"},
        RenderCase{"Nested",
                   "<details markdown=\"1\">\n<summary>Outer</summary>\n\n- a\n\n"
                   "<details markdown=\"1\">\n<summary>Inner</summary>\ninner *x*\n</details>\n"
                   "</details>\n\nafter\n",
                   "<details>\n<summary>Outer</summary>\n<ul>\n<li>a</li>\n</ul>\n<details>\n"
                   "<summary>Inner</summary>\n<p>inner <em>x</em></p>\n</details>\n"
                   "</details>\n<p>after</p>\n"},
        RenderCase{"OneLine",
                   "<details markdown=\"1\"><summary>T</summary>body **b**</details>\n\nx\n",
                   "<details>\n<summary>T</summary>\n<p>body <strong>b</strong></p>\n"
                   "</details>\n<p>x</p>\n"},
        RenderCase{"MultiLineSummaryAndTrailingText",
                   "before <details markdown=\"1\">\n<summary>\nTwo\nlines</summary> tail\n"
                   "</details> after\n",
                   "<p>before</p>\n<details>\n<summary>\nTwo\nlines</summary>\n<p>tail</p>\n"
                   "</details>\n<p>after</p>\n"},
        RenderCase{"UnclosedEndsWithDocument",
                   "<details markdown=\"1\">\n<summary>T</summary>\nno close\n\n- a\n",
                   "<details>\n<summary>T</summary>\n<p>no close</p>\n<ul>\n<li>a</li>\n</ul>\n"
                   "</details>\n"},
        RenderCase{"OtherAttributesKept",
                   "<DETAILS class=\"x\" markdown open>\n<summary>S</summary>\n*a*\n</Details>\n",
                   "<details class=\"x\" open>\n<summary>S</summary>\n<p><em>a</em></p>\n"
                   "</details>\n"},
        RenderCase{"MarkdownZeroStaysRaw",
                   "<details markdown=\"0\">\n<summary>R</summary>\n*raw*\n</details>\n",
                   "<details markdown=\"0\">\n<summary>R</summary>\n*raw*\n</details>\n"},
        RenderCase{"InsideFenceIsCode", "~~~\n<details markdown=\"1\">\n~~~\n",
                   "<pre><code>&lt;details markdown=&quot;1&quot;&gt;\n</code></pre>\n"},
        RenderCase{"InsideListItem",
                   "- item\n\n    <details markdown=\"1\">\n    <summary>S</summary>\n\n"
                   "    - sub\n\n    </details>\n\n- next\n",
                   "<ul>\n<li>\n<p>item</p>\n<details>\n<summary>S</summary>\n<ul>\n"
                   "<li>sub</li>\n</ul>\n</details>\n</li>\n<li>\n<p>next</p>\n</li>\n</ul>\n"},
        // Fenced code is found as the text rewrites find it: a fence on a list item's marker
        // line holds code, not an element.
        RenderCase{
            "InsideListItemFenceIsCode", "- ~~~\n  <details markdown=\"1\">\n  x\n  ~~~\n\nafter\n",
            "<ul>\n<li>\n<pre><code>&lt;details markdown=&quot;1&quot;&gt;\nx\n</code></pre>\n"
            "</li>\n</ul>\n<p>after</p>\n"},
        RenderCase{"StrayClosingTagStays", "</details>\ntext\n", "</details>\ntext\n"}),
    case_name);

TEST(DetailsBodies, DeepNestingIsHandled) {
  const int depth = 20000;
  std::string md;
  for (int i = 0; i < depth; ++i)
    md += "<details markdown=\"1\">\n<summary>s</summary>\n";
  md += "# Bottom\n";
  for (int i = 0; i < depth; ++i)
    md += "</details>\n";
  const std::string html = render_markdown(md);
  EXPECT_EQ(count(html, "<details>\n<summary>s</summary>\n"), static_cast<std::size_t>(depth));
  EXPECT_EQ(count(html, "</details>"), static_cast<std::size_t>(depth));
  EXPECT_NE(html.find("<h1 id=\"bottom\">Bottom</h1>"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------

class Placeholders : public ::testing::TestWithParam<RenderCase> {};

TEST_P(Placeholders, Render) {
  EXPECT_EQ(render_markdown(GetParam().md), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Placeholders,
    ::testing::Values(
        RenderCase{"AloneIsBlock", "<!--CODE_PLACEHOLDER_0-->\n", "<!--CODE_PLACEHOLDER_0-->\n"},
        RenderCase{"AloneSplitsParagraph", "text\n  <!--CODE_PLACEHOLDER_1-->\nmore\n",
                   "<p>text</p>\n<!--CODE_PLACEHOLDER_1-->\n<p>more</p>\n"},
        RenderCase{"SharedLineStaysInline", "<!--MATH_PLACEHOLDER_0--> is **bold**\n",
                   "<p><!--MATH_PLACEHOLDER_0--> is <strong>bold</strong></p>\n"},
        RenderCase{"TwoOnOneLine", "<!--MATH_PLACEHOLDER_0--> <!--MATH_PLACEHOLDER_1-->\n",
                   "<p><!--MATH_PLACEHOLDER_0--> <!--MATH_PLACEHOLDER_1--></p>\n"},
        RenderCase{"InsideEmphasis", "**<!--MATH_PLACEHOLDER_0-->**\n",
                   "<p><strong><!--MATH_PLACEHOLDER_0--></strong></p>\n"},
        RenderCase{"ListItems", "- item <!--MATH_PLACEHOLDER_9-->\n- <!--CODE_PLACEHOLDER_2-->\n",
                   "<ul>\n<li>item <!--MATH_PLACEHOLDER_9--></li>\n<li>\n"
                   "<!--CODE_PLACEHOLDER_2-->\n</li>\n</ul>\n"},
        RenderCase{"TableCell", "| a |\n|---|\n| <!--MATH_PLACEHOLDER_3--> |\n",
                   "<table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n"
                   "<td><!--MATH_PLACEHOLDER_3--></td>\n</tr>\n</tbody>\n</table>\n"},
        RenderCase{"Blockquote", "> <!--MATH_PLACEHOLDER_4-->\n",
                   "<blockquote>\n<!--MATH_PLACEHOLDER_4-->\n</blockquote>\n"},
        RenderCase{"CodeBlocksKeepThemUnescaped",
                   "    <!--MATH_PLACEHOLDER_5-->\n\n~~~\n<!--MATH_PLACEHOLDER_6--> <b>\n~~~\n",
                   "<pre><code><!--MATH_PLACEHOLDER_5-->\n</code></pre>\n"
                   "<pre><code><!--MATH_PLACEHOLDER_6--> &lt;b&gt;\n</code></pre>\n"},
        RenderCase{"LinkTarget", "[a](http://x/<!--MATH_PLACEHOLDER_7-->)\n",
                   "<p><a href=\"http://x/<!--MATH_PLACEHOLDER_7-->\">a</a></p>\n"},
        RenderCase{"NumbersKeptApart",
                   "<!--CODE_PLACEHOLDER_1-->\n\n<!--CODE_PLACEHOLDER_10--> x\n",
                   "<!--CODE_PLACEHOLDER_1-->\n<p><!--CODE_PLACEHOLDER_10--> x</p>\n"},
        RenderCase{"LookalikesAreText", "<!--CODE_PLACEHOLDER_-->\n\n<!--MATH_PLACEHOLDER_x-->\n",
                   "<!--CODE_PLACEHOLDER_-->\n<!--MATH_PLACEHOLDER_x-->\n"},
        // Private-use characters of the text itself must not turn into placeholders.
        RenderCase{"PrivateUseTextSurvives",
                   "a \xEE\x80\x80"
                   "C1\xEE\x80\x81 b \xEE\x80\x82"
                   "0\xEE\x80\x83\n",
                   "<p>a \xEE\x80\x80"
                   "C1\xEE\x80\x81 b \xEE\x80\x82"
                   "0\xEE\x80\x83</p>\n"}),
    case_name);

} // namespace
} // namespace vaskit::markdown

#include "support/log_capture.hpp"
#include "tools/prosett/stages.hpp"

#include <chrono>
#include <gtest/gtest.h>

namespace vaskit::prosett {
namespace {

using vaskit::testing::LogCapture;

// What protect makes of a text, and what restore then gives for it unchanged (as if the
// renderer had passed the shielded text through as it stands).
struct ShieldCase {
  const char *name;
  std::string md;
  std::string shielded;
  std::string restored;
};

class Shield : public ::testing::TestWithParam<ShieldCase> {};

TEST_P(Shield, ProtectsAndRestores) {
  const auto &c = GetParam();
  auto s = protect_markdown_code_and_math(c.md);
  EXPECT_EQ(s.text, c.shielded);
  EXPECT_EQ(restore_markdown_code_and_math(s.text, s.code_placeholders, s.math_placeholders),
            c.restored);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Shield,
    ::testing::Values(
        ShieldCase{"MathNumberedBySubstitutionOrder", "$a$ then $$b$$",
                   "<!--MATH_PLACEHOLDER_1--> then <!--MATH_PLACEHOLDER_0-->",
                   "\\(a\\) then $$b$$"},
        ShieldCase{"DisplayLosesOuterWhitespaceOnly", "$$\n  x\n  y \n$$",
                   "<!--MATH_PLACEHOLDER_0-->", "$$x\n  y$$"},
        ShieldCase{"EnvironmentBetweenSingleDollars",
                   "$\n\\begin{align}\na &= 1\\\\\nb\n\\end{align}\n$", "<!--MATH_PLACEHOLDER_0-->",
                   "$$\\begin{align}\na &= 1\\\\\nb\n\\end{align}$$"},
        ShieldCase{"PricesAreNoFormula", "costs $5 and $10 today", "costs $5 and $10 today",
                   "costs $5 and $10 today"},
        ShieldCase{"NoFormulaAcrossLines", "$a\nb$", "$a\nb$", "$a\nb$"},
        ShieldCase{"BackslashDoesNotGuardDollar", "\\$x$", "\\<!--MATH_PLACEHOLDER_0-->",
                   "\\\\(x\\)"},
        ShieldCase{"ParenDelimitersUntouched", "\\(x\\) and \\[y\\]", "\\(x\\) and \\[y\\]",
                   "\\(x\\) and \\[y\\]"},
        // Formulas are escaped so that "<" cannot open a tag; MathJax reads the text node.
        ShieldCase{"FormulaIsEscaped", "$a<b$ & $$c>d$$",
                   "<!--MATH_PLACEHOLDER_1--> & <!--MATH_PLACEHOLDER_0-->",
                   "\\(a&lt;b\\) & $$c&gt;d$$"},
        ShieldCase{"InlineCodeEscapedQuotesKept", "`a<b & \"c\"`", "<!--CODE_PLACEHOLDER_0-->",
                   "<code>a&lt;b &amp; \"c\"</code>"},
        ShieldCase{"CodeInsideFormula", "$x `y` z$", "<!--MATH_PLACEHOLDER_0-->",
                   "\\(x <code>y</code> z\\)"},
        ShieldCase{"FencedWithTag", "```c++\nif (a < b) {}\n```\n", "<!--CODE_PLACEHOLDER_0-->\n",
                   "<pre><code class=\"language-c++\">if (a &lt; b) {}</code></pre>\n"},
        ShieldCase{"CarriageReturnsInsideStay", "```\r\na\r\nb\r\n```", "<!--CODE_PLACEHOLDER_0-->",
                   "<pre><code>a\r\nb</code></pre>"},
        ShieldCase{"EmptyBlockIsEmpty", "```\n```\nsee `x`",
                   "<!--CODE_PLACEHOLDER_0-->\nsee <!--CODE_PLACEHOLDER_1-->",
                   "<pre><code></code></pre>\nsee <code>x</code>"},
        // Fences the renderer draws itself: left as they are, formulas inside included.
        ShieldCase{"SpaceBeforeTagLeftToRenderer", "``` js\n$x$ `y`\n```", "``` js\n$x$ `y`\n```",
                   "``` js\n$x$ `y`\n```"},
        ShieldCase{"TildesLeftToRenderer", "~~~\n$x$\n~~~", "~~~\n$x$\n~~~", "~~~\n$x$\n~~~"},
        ShieldCase{"NoFormulaTakenOutOfCode", "```\n$x$ and $$y$$\n```",
                   "<!--CODE_PLACEHOLDER_0-->", "<pre><code>$x$ and $$y$$</code></pre>"},
        ShieldCase{"FenceInListItem", "- a\n  ```js\n  x<1\n  ```\n- $b$",
                   "- a\n  <!--CODE_PLACEHOLDER_0-->\n- <!--MATH_PLACEHOLDER_0-->",
                   "- a\n  <pre><code class=\"language-js\">x&lt;1</code></pre>\n- \\(b\\)"},
        ShieldCase{"FenceInQuote", "> ```js\n> a\n> ```", "> <!--CODE_PLACEHOLDER_0-->",
                   "> <pre><code class=\"language-js\">a</code></pre>"},
        // A nested block closed by its own indented fence: the text after it stays text.
        ShieldCase{"NestedFenceDoesNotSwallowDocument",
                   "- a\n    ```\n    x\n    ```\n\n$y$\n\n```\nz\n```",
                   "- a\n    <!--CODE_PLACEHOLDER_0-->\n\n<!--MATH_PLACEHOLDER_0-->\n\n"
                   "<!--CODE_PLACEHOLDER_1-->",
                   "- a\n    <pre><code>x</code></pre>\n\n\\(y\\)\n\n<pre><code>z</code></pre>"},
        ShieldCase{"UnclosedFenceNotShielded", "```js\n`a` $b$\n",
                   "```js\n<!--CODE_PLACEHOLDER_0--> <!--MATH_PLACEHOLDER_0-->\n",
                   "```js\n<code>a</code> \\(b\\)\n"},
        // A formula that swallowed another comes back whole instead of leaving a bare comment.
        ShieldCase{"FormulaInsideFormula", "$a $$x$$ b$", "<!--MATH_PLACEHOLDER_1-->",
                   "\\(a $$x$$ b\\)"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Shield, PlainTextIsUntouchedAndSilent) {
  LogCapture logs;
  auto s = protect_markdown_code_and_math("# Title\n\nJust text, 5 $.\n");
  EXPECT_EQ(s.text, "# Title\n\nJust text, 5 $.\n");
  EXPECT_TRUE(s.code_placeholders.empty());
  EXPECT_TRUE(s.math_placeholders.empty());
  EXPECT_EQ(restore_markdown_code_and_math("<p>x</p>", {}, {}), "<p>x</p>");
  EXPECT_TRUE(logs.lines().empty());
}

TEST(Shield, LogsCounts) {
  LogCapture logs;
  auto s = protect_markdown_code_and_math("`a` `b` $c$");
  restore_markdown_code_and_math(s.text, s.code_placeholders, s.math_placeholders);
  EXPECT_EQ(logs.texts("INFO"),
            (std::vector<std::string>{"✅ 成功保護 2 個程式碼區塊與 1 個數學公式。",
                                      "✅ 還原 2 個程式碼區塊與 1 個數學公式。"}));
}

TEST(Shield, PlaceholdersCarryTheirSource) {
  auto s = protect_markdown_code_and_math("`x` and\n```py\nprint()\n```\n$$ y $$ $z$");
  ASSERT_EQ(s.code_placeholders.size(), 2u);
  EXPECT_EQ(s.code_placeholders[0].placeholder, "<!--CODE_PLACEHOLDER_0-->");
  EXPECT_EQ(s.code_placeholders[0].source, "`x`");
  EXPECT_EQ(s.code_placeholders[1].source, "```py\nprint()\n```");
  ASSERT_EQ(s.math_placeholders.size(), 2u);
  EXPECT_EQ(s.math_placeholders[0].content, "y");
  EXPECT_TRUE(s.math_placeholders[0].is_block);
  EXPECT_EQ(s.math_placeholders[0].source, "$$ y $$");
  EXPECT_FALSE(s.math_placeholders[1].is_block);
}

// A "<" near the end of the page must not be read as the start of a placeholder that runs past
// the end: everything before it is still restored, and the tail stays as it is.
TEST(Restore, MarkerIsLookedUpOnlyWhereItFits) {
  auto s = protect_markdown_code_and_math("`x` $y$");
  for (const std::string tail :
       {"<", "<!", "<!-", "<!--", "\n<div>end <\n", "<!--C", "<!--CODE_"}) {
    const std::string html = "<p><!--CODE_PLACEHOLDER_0--> <!--MATH_PLACEHOLDER_0--></p>" + tail;
    EXPECT_EQ(restore_markdown_code_and_math(html, s.code_placeholders, s.math_placeholders),
              "<p><code>x</code> \\(y\\)</p>" + tail)
        << tail;
  }
}

// A character reference in a formula is the author's: MathJax reads the text node, where the
// reference stands for its character. "<" and ">" are escaped so that no tag can open.
TEST(Restore, FormulasKeepAmpersandsAndEscapeAngleBrackets) {
  auto s = protect_markdown_code_and_math("$a &lt; b$ $x<y>z$ $$p & q$$");
  EXPECT_EQ(restore_markdown_code_and_math(s.text, s.code_placeholders, s.math_placeholders),
            "\\(a &lt; b\\) \\(x&lt;y&gt;z\\) $$p & q$$");
}

// A stage that cannot finish must not hand on half-shielded text as if it were complete.
TEST(Shield, FailureFailsTheStage) {
  LogCapture logs;
  EXPECT_THROW(protect_markdown_code_and_math("`a` and \xff `b`"), std::exception);
  const auto warnings = logs.texts("WARNING");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_TRUE(warnings[0].starts_with("⚠️ 公式或程式碼預處理出錯: ")) << warnings[0];
}

// The renderer may escape a placeholder (code it drew itself, alt texts, attributes) or
// percent-encode it (link targets). It still comes back, as the text the author wrote.
TEST(Restore, EscapedPlaceholdersComeBackAsEscapedSource) {
  auto s = protect_markdown_code_and_math("$a<b$ `say \"hi\"` $5_and_$");
  ASSERT_EQ(s.math_placeholders.size(), 2u);
  ASSERT_EQ(s.code_placeholders.size(), 1u);
  const struct {
    std::string html;
    std::string want;
  } cases[] = {
      {"<pre><code>&lt;!--MATH_PLACEHOLDER_0--&gt;</code></pre>",
       "<pre><code>$a&lt;b$</code></pre>"},
      {"<img src=\"a.png\" alt=\"&lt;!--CODE_PLACEHOLDER_0--&gt;\" />",
       "<img src=\"a.png\" alt=\"`say &quot;hi&quot;`\" />"},
      {"<a href=\"cost_%3C!--MATH_PLACEHOLDER_1--%3E10.png\">", "<a href=\"cost_$5_and_$10.png\">"},
      {"<a href=\"x%3c!--MATH_PLACEHOLDER_0--%3e\">", "<a href=\"x$a%3Cb$\">"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(restore_markdown_code_and_math(c.html, s.code_placeholders, s.math_placeholders),
              c.want);
}

// A renderer may also pass a placeholder on as it stands inside code it drew itself or inside
// an attribute value: there too the author's text comes back, not HTML.
TEST(Restore, PlainPlaceholderInCodeOrAttributeComesBackAsSource) {
  auto s = protect_markdown_code_and_math("$a<b$ `q`");
  const struct {
    std::string html;
    std::string want;
  } cases[] = {
      {"<pre><code>x <!--MATH_PLACEHOLDER_0--></code></pre><p><!--MATH_PLACEHOLDER_0--></p>",
       "<pre><code>x $a&lt;b$</code></pre><p>\\(a&lt;b\\)</p>"},
      {"<img src=\"p<!--MATH_PLACEHOLDER_0-->.png\" alt=\"<!--CODE_PLACEHOLDER_0-->\" />",
       "<img src=\"p$a&lt;b$.png\" alt=\"`q`\" />"},
      // An author's unclosed code tag followed by other markup is no code the renderer drew.
      {"<code>open <b>x</b> <!--CODE_PLACEHOLDER_0-->", "<code>open <b>x</b> <code>q</code>"},
      {"<!-- note <!--MATH_PLACEHOLDER_0--> -->", "<!-- note \\(a&lt;b\\) -->"},
      {"<p>1 <2 <!--CODE_PLACEHOLDER_0--></p>", "<p>1 <2 <code>q</code></p>"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(restore_markdown_code_and_math(c.html, s.code_placeholders, s.math_placeholders),
              c.want);
}

TEST(Restore, EscapedFormulaKeepsItsCodeAsSource) {
  auto s = protect_markdown_code_and_math("$x `y` z$");
  EXPECT_EQ(restore_markdown_code_and_math("<code>&lt;!--MATH_PLACEHOLDER_0--&gt;</code>",
                                           s.code_placeholders, s.math_placeholders),
            "<code>$x `y` z$</code>");
}

TEST(Restore, EveryOccurrenceAndNoPrefixConfusion) {
  std::string md;
  for (int i = 0; i < 11; ++i)
    md += "`c" + std::to_string(i) + "` ";
  auto s = protect_markdown_code_and_math(md);
  ASSERT_EQ(s.code_placeholders.size(), 11u);
  const std::string html = "<!--CODE_PLACEHOLDER_10-->|<!--CODE_PLACEHOLDER_1-->|"
                           "<!--CODE_PLACEHOLDER_1-->|<!--CODE_PLACEHOLDER_11-->|"
                           "<!--CODE_PLACEHOLDER_01-->|<!-- note -->";
  EXPECT_EQ(restore_markdown_code_and_math(html, s.code_placeholders, s.math_placeholders),
            "<code>c10</code>|<code>c1</code>|<code>c1</code>|<!--CODE_PLACEHOLDER_11-->|"
            "<!--CODE_PLACEHOLDER_01-->|<!-- note -->");
}

TEST(Restore, ThousandsOfPlaceholdersInOnePass) {
  std::string md;
  for (int i = 0; i < 100000; ++i)
    md += "Line `code " + std::to_string(i) + "` and $x_" + std::to_string(i) + "$.\n";
  const auto start = std::chrono::steady_clock::now();
  auto s = protect_markdown_code_and_math(md);
  const std::string html =
      restore_markdown_code_and_math(s.text, s.code_placeholders, s.math_placeholders);
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(s.code_placeholders.size(), 100000u);
  EXPECT_EQ(html.find("PLACEHOLDER"), std::string::npos);
  EXPECT_NE(html.find("Line <code>code 99999</code> and \\(x_99999\\).\n"), std::string::npos);
  // A replace-per-placeholder restore needs minutes here.
  EXPECT_LT(seconds, 20.0);

  // Broken markup (quotes that never close) costs no second look at the rest of the text.
  std::string broken;
  for (int i = 0; i < 50000; ++i)
    broken += "<p a=\"b <!--MATH_PLACEHOLDER_0--> ";
  const auto again = std::chrono::steady_clock::now();
  const std::string fixed =
      restore_markdown_code_and_math(broken, s.code_placeholders, s.math_placeholders);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - again).count(), 20.0);
  EXPECT_EQ(fixed.find("PLACEHOLDER"), std::string::npos);
}

// With the real renderer: whatever context a placeholder lands in, no placeholder text reaches
// the page and the code and formulas are all there.
TEST(ShieldWithRenderer, NothingLeaksAndNothingIsLost) {
  const std::string md = "# Use `grep`\n\n"
                         "Text $a<b$ and `x & y`.\n\n"
                         "    indented $5_and_$ `z`\n\n"
                         "![alt `q`](pic_$1_$2.png)\n\n"
                         "- item\n  ```js\n  let a = 1;\n  ```\n\n"
                         "> ```py\n> pass\n> ```\n\n"
                         "| h |\n|---|\n| `c` $d$ |\n\n"
                         "~~~\n$t$\n~~~\n";
  auto s = protect_markdown_code_and_math(md);
  const std::string html = restore_markdown_code_and_math(
      markdown::render(s.text, RENDER_EXTENSIONS), s.code_placeholders, s.math_placeholders);
  EXPECT_EQ(html.find("PLACEHOLDER"), std::string::npos) << html;
  for (const char *part : {"grep", "a&lt;b", "x &amp; y", "5_and_", "let a = 1;", "pass", "$t$"})
    EXPECT_NE(html.find(part), std::string::npos) << part << "\n" << html;
}

// A NUL is read as U+FFFD before any stage sees it: code and formulas, which the shielding stage
// takes out of the renderer's reach, carry none into the page either.
TEST(ShieldWithRenderer, NoNulReachesThePage) {
  const std::string nul(1, '\0');
  const std::string md = "# Head" + nul + "\n\ntext " + nul + " `co" + nul + "de` $m" + nul +
                         "$\n\n```py\nx = '" + nul + "'\n```\n\n| h |\n|---|\n| `c" + nul + "` |\n";
  LogCapture logs;
  const std::string page = render_markdown(prepare_markdown(md), "doc.md", nullptr);
  EXPECT_EQ(page.find('\0'), std::string::npos) << page;
  const std::string fffd = "\xEF\xBF\xBD";
  for (const std::string &part :
       {"text " + fffd + " <code>co" + fffd + "de</code>", "\\(m" + fffd + "\\)",
        "x = '" + fffd + "'", "<td><code>c" + fffd + "</code></td>"})
    EXPECT_NE(page.find(part), std::string::npos) << part << "\n" << page;
}

} // namespace
} // namespace vaskit::prosett

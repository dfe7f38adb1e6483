#include "support/log_capture.hpp"
#include "tools/prosett/stages.hpp"

#include <gtest/gtest.h>

namespace vaskit::prosett {
namespace {

using vaskit::testing::LogCapture;

// Expected values are what Python's html.unescape gives for the same input.
TEST(HtmlUnescape, FollowsTheHtml5Rules) {
  const std::pair<std::string, std::string> cases[] = {
      {"&amp;", "&"},
      {"&lt;&gt;", "<>"},
      {"&amp", "&"},
      {"&ampx", "&x"},
      {"&notit;", "¬it;"},
      {"&notin;", "∉"},
      {"&copy=2", "©=2"},
      {"&#65;", "A"},
      {"&#x41", "A"},
      {"&#X4E2D;", "中"},
      {"&#00065;", "A"},
      {"&#65a", "Aa"},
      {"&#0;", "\uFFFD"},
      {"&#128;", "€"},
      {"&#x80;", "€"},
      {"&#13;", "\r"},
      {"&#xD800;", "\uFFFD"},
      {"&#1114112;", "\uFFFD"},
      {"&#x110000", "\uFFFD"},
      {"&#99999999999999999;", "\uFFFD"},
      {"&#1;", ""},
      {"&#xFFFF;", ""},
      {"&#;", "&#;"},
      {"&#x;", "&#x;"},
      {"&unknown;", "&unknown;"},
      {"& amp;", "& amp;"},
      {"a & b", "a & b"},
      {"&NotEqualTilde;", "≂̸"},
      {"&Aacute", "Á"},
      {"&aacutex;", "áx;"},
      {"&lt", "<"},
      {"&LTx", "<x"},
      {"&frac12abc", "½abc"},
      {"&" + std::string(40, 'a') + ";", "&" + std::string(40, 'a') + ";"},
      {"&中文;", "&中文;"},
      // One pass: a reference the escaping produced is not decoded twice.
      {"&amp;lt;", "&lt;"},
  };
  for (const auto &[in, want] : cases)
    EXPECT_EQ(html_unescape(in), want) << in;
}

struct DiagramCase {
  const char *name;
  std::string html;
  std::string mermaid;  // after process_mermaid_charts
  std::string wavedrom; // after process_wavedrom_charts of the same input
};

class Diagrams : public ::testing::TestWithParam<DiagramCase> {};

TEST_P(Diagrams, ReplaceExactlyTheirBlocks) {
  const auto &c = GetParam();
  EXPECT_EQ(process_mermaid_charts(c.html), c.mermaid);
  EXPECT_EQ(process_wavedrom_charts(c.html), c.wavedrom);
}

const std::string kMermaid = "<pre><code class=\"language-mermaid\">";
const std::string kWave = "<pre><code class=\"language-wavedrom\">";
const std::string kEnd = "</code></pre>";

INSTANTIATE_TEST_SUITE_P(
    Cases, Diagrams,
    ::testing::Values(
        DiagramCase{"Decoded", kMermaid + "\ngraph TD\n  A--&gt;B &amp;lt;\n" + kEnd,
                    "<div class=\"mermaid\">\ngraph TD\n  A-->B &lt;\n</div>",
                    kMermaid + "\ngraph TD\n  A--&gt;B &amp;lt;\n" + kEnd},
        DiagramCase{"TwoBlocksEachItsOwn",
                    kMermaid + "a" + kEnd + "<p>x</p>" + kWave + "{&quot;s&quot;}" + kEnd,
                    "<div class=\"mermaid\">a</div><p>x</p>" + kWave + "{&quot;s&quot;}" + kEnd,
                    kMermaid + "a" + kEnd + "<p>x</p><script type=\"WaveDrom\">{\"s\"}</script>"},
        DiagramCase{"EmptyBlock", kMermaid + kEnd + kWave + kEnd,
                    "<div class=\"mermaid\"></div>" + kWave + kEnd,
                    kMermaid + kEnd + "<script type=\"WaveDrom\"></script>"},
        DiagramCase{"OtherOpeningsUntouched",
                    "<pre><code class=\"language-Mermaid\">a" + kEnd +
                        "<pre><code class=\"language-mermaid x\">b" + kEnd +
                        "<pre class=\"p\"><code class=\"language-wavedrom\">c" + kEnd,
                    "<pre><code class=\"language-Mermaid\">a" + kEnd +
                        "<pre><code class=\"language-mermaid x\">b" + kEnd +
                        "<pre class=\"p\"><code class=\"language-wavedrom\">c" + kEnd,
                    "<pre><code class=\"language-Mermaid\">a" + kEnd +
                        "<pre><code class=\"language-mermaid x\">b" + kEnd +
                        "<pre class=\"p\"><code class=\"language-wavedrom\">c" + kEnd}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Diagrams, LogLines) {
  {
    LogCapture logs(true);
    process_mermaid_charts("<p>none</p>");
    process_wavedrom_charts("<p>none</p>");
    ASSERT_EQ(logs.lines().size(), 1u);
    EXPECT_EQ(logs.lines()[0].level, "DEBUG");
    EXPECT_EQ(logs.lines()[0].text, "🔍 未在 HTML 中找到 WaveDrom 區塊");
  }
  {
    LogCapture logs(true);
    process_mermaid_charts(kMermaid + "a" + kEnd + kMermaid + "b" + kEnd);
    const std::string twenty = "{signal: [{n: 'a'}]}";
    ASSERT_EQ(twenty.size(), 20u);
    const std::string long_text(150, 'x');
    process_wavedrom_charts(kWave + twenty + kEnd + kWave + kEnd + kWave + "中" + long_text + kEnd);
    EXPECT_EQ(logs.texts("INFO"),
              (std::vector<std::string>{"✅ 發現 2 個 Mermaid 區塊進行轉換。",
                                        "✅ 發現 3 個 WaveDrom 區塊進行轉換。"}));
    EXPECT_EQ(logs.texts("DEBUG"),
              (std::vector<std::string>{"🔍 正在處理 WaveDrom 內容 (前 100 字): " + twenty + "...",
                                        "🔍 正在處理 WaveDrom 內容 (前 100 字): ...",
                                        "🔍 正在處理 WaveDrom 內容 (前 100 字): 中" +
                                            std::string(99, 'x') + "..."}));
  }
}

} // namespace
} // namespace vaskit::prosett

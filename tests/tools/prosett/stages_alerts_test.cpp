#include "support/log_capture.hpp"
#include "tools/prosett/stages.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vaskit::prosett {
namespace {

using vaskit::testing::LogCapture;

std::string svg(std::string_view key) {
  for (const auto &k : ALERT_CONFIG)
    if (k.key == key)
      return std::string(k.svg);
  return "?";
}

std::string box(std::string_view key, const std::string &title, const std::string &body) {
  std::string out = "<div class=\"markdown-alert markdown-alert-" + std::string(key) +
                    "\"><p class=\"markdown-alert-title\">" + svg(key) + title + "</p>";
  if (!body.empty())
    out += "\n" + body;
  return out + "</div>";
}

struct AlertCase {
  const char *name;
  std::string html;
  std::string want;
};

class Alerts : public ::testing::TestWithParam<AlertCase> {};

TEST_P(Alerts, Convert) {
  EXPECT_EQ(process_markdown_alerts(GetParam().html), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Alerts,
    ::testing::Values(
        AlertCase{"MarkerAndBodyInOneParagraph",
                  "<blockquote>\n<p>[!NOTE]<br />\nBody line</p>\n</blockquote>",
                  box("note", "Note", "<p>Body line</p>")},
        AlertCase{"MarkerAloneThenParagraphs",
                  "<blockquote>\n<p>[!TIP]</p>\n<p>One</p>\n<p>Two</p>\n</blockquote>",
                  box("tip", "Tip", "<p>One</p>\n<p>Two</p>")},
        AlertCase{
            "CustomTitleEndsAtMarkup",
            "<blockquote>\n<p>[!WARNING]  My  title <em>x</em> more<br />\nbody</p>\n</blockquote>",
            box("warning", "My  title", "<p><em>x</em> more<br />\nbody</p>")},
        AlertCase{"LowerAndMixedCase",
                  "<blockquote><p>[!caution]</p></blockquote><blockquote><p>[!ImPortant]</p></"
                  "blockquote>",
                  box("caution", "Caution", "") + box("important", "Important", "")},
        // A kind word the case-blind match accepts but the table does not know takes the note box.
        AlertCase{"DottedCapitalIFallsBackToNote", "<blockquote><p>[!İMPORTANT]</p></blockquote>",
                  box("note", "Note", "")},
        AlertCase{"NoMarkerUnchanged", "<blockquote>\n<p>Quote</p>\n</blockquote>",
                  "<blockquote>\n<p>Quote</p>\n</blockquote>"},
        AlertCase{"TextBeforeMarkerUnchanged", "<blockquote><p>So [!NOTE]</p></blockquote>",
                  "<blockquote><p>So [!NOTE]</p></blockquote>"},
        AlertCase{"UnknownKindUnchanged", "<blockquote><p>[!DANGER]</p></blockquote>",
                  "<blockquote><p>[!DANGER]</p></blockquote>"},
        AlertCase{"NestedQuoteInsideQuoteUnchanged",
                  "<blockquote>\n<blockquote>\n<p>[!NOTE]</p>\n</blockquote>\n</blockquote>",
                  "<blockquote>\n<blockquote>\n<p>[!NOTE]</p>\n</blockquote>\n</blockquote>"},
        AlertCase{"AlertHoldingNestedQuote",
                  "<blockquote>\n<p>[!NOTE]</p>\n<blockquote>\n<p>q</p>\n</blockquote>\n<p>after</"
                  "p>\n</blockquote>",
                  box("note", "Note", "<p><blockquote>\n<p>q</p>") +
                      "\n<p>after</p>\n</blockquote>"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Alerts, CountsInOneLineAndSilentWithoutAlerts) {
  {
    LogCapture logs;
    const std::string one = "<blockquote><p>[!NOTE] a</p></blockquote>";
    process_markdown_alerts(one + "<blockquote><p>plain</p></blockquote>" + one + one);
    EXPECT_EQ(logs.texts("INFO"), std::vector<std::string>{"✅ 成功轉換 3 個 GitHub Alert 區塊。"});
  }
  {
    LogCapture logs;
    process_markdown_alerts("<blockquote><p>plain</p></blockquote>");
    EXPECT_TRUE(logs.lines().empty());
  }
}

TEST(Alerts, ConfigHoldsTheFiveOcticons) {
  const char *keys[] = {"note", "tip", "important", "warning", "caution"};
  const char *icons[] = {"info", "light-bulb", "report", "alert", "stop"};
  for (int i = 0; i < 5; ++i) {
    const auto &k = ALERT_CONFIG[i];
    EXPECT_EQ(k.key, keys[i]);
    EXPECT_EQ(k.css_class, "markdown-alert-" + std::string(keys[i]));
    const std::string open = "<svg class=\"octicon octicon-" + std::string(icons[i]) +
                             "\" viewBox=\"0 0 16 16\" width=\"16\" height=\"16\" "
                             "fill=\"currentColor\" aria-hidden=\"true\"><path d=\"M";
    EXPECT_TRUE(k.svg.starts_with(open)) << k.svg;
    EXPECT_TRUE(k.svg.ends_with("Z\"></path></svg>")) << k.svg;
    EXPECT_EQ(k.svg.find('\n'), std::string_view::npos);
  }
  EXPECT_EQ(ALERT_CONFIG[2].title, "Important");
}

TEST(PageStages, TextThatIsNoUtf8IsHandedBackAndValidatedTextGivesTheSamePage) {
  const std::string bad = "<blockquote>\n<p>[!NOTE]\nx \xff</p>\n</blockquote>\n"
                          "<pre><code class=\"language-mermaid\">a\xc3</code></pre>\n";
  {
    LogCapture logs;
    EXPECT_EQ(process_markdown_alerts(bad), bad);
    EXPECT_EQ(process_mermaid_charts(bad), bad);
    EXPECT_EQ(process_wavedrom_charts(bad), bad);
    EXPECT_EQ(logs.texts("WARNING").size(), 3u);
  }
  const std::string good = "<blockquote>\n<p>[!TIP]\n漢 &amp;</p>\n</blockquote>\n"
                           "<pre><code class=\"language-mermaid\">A--&gt;B</code></pre>\n"
                           "<pre><code class=\"language-wavedrom\">{s:1}</code></pre>\n"
                           "<img alt=\"x\" src=\"pic.png\" />\n";
  LogCapture logs;
  const re::Utf8 valid = re::Utf8::check(good);
  EXPECT_EQ(process_markdown_alerts(valid).str(), process_markdown_alerts(good));
  EXPECT_NE(process_markdown_alerts(good), good);
  EXPECT_EQ(process_mermaid_charts(valid).str(), process_mermaid_charts(good));
  EXPECT_NE(process_mermaid_charts(good), good);
  EXPECT_EQ(process_wavedrom_charts(valid).str(), process_wavedrom_charts(good));
  EXPECT_NE(process_wavedrom_charts(good), good);
  auto encode = [](const std::string &) -> std::optional<std::string> { return "data:x"; };
  EXPECT_EQ(embed_images_in_html(valid, "/d/a.md", encode).str(),
            embed_images_in_html(good, "/d/a.md", encode));
  EXPECT_NE(embed_images_in_html(good, "/d/a.md", encode).find("src=\"data:x\""),
            std::string::npos);
  // A data URI that is no UTF-8 is refused rather than put into validated text.
  auto broken = [](const std::string &) -> std::optional<std::string> { return "\xff"; };
  EXPECT_THROW(embed_images_in_html(valid, "/d/a.md", broken), re::error);
}

// A stage given its text hands it on as it is when it changes nothing (no copy of a page of
// many megabytes), and otherwise gives what the stage gives on a view of the text.
TEST(PageStages, GivenTextsAreHandedOnOrRewrittenAlike) {
  LogCapture logs;
  auto encode = [](const std::string &) -> std::optional<std::string> { return "data:x"; };
  auto missing = [](const std::string &) -> std::optional<std::string> { return std::nullopt; };
  const std::string plain = "<blockquote>\n<p>plain</p>\n</blockquote>\n<pre><code>x</code></pre>\n"
                            "<img src=\"https://e.com/a.png\" /><img src=\"gone.png\" />\n";
  using Stage = std::function<re::Utf8Text(re::Utf8Text &&)>;
  const std::vector<Stage> stages = {
      [](re::Utf8Text &&t) { return process_mermaid_charts(std::move(t)); },
      [](re::Utf8Text &&t) { return process_wavedrom_charts(std::move(t)); },
      [](re::Utf8Text &&t) { return process_markdown_alerts(std::move(t)); },
      [&](re::Utf8Text &&t) { return embed_images_in_html(std::move(t), "/d/a.md", missing); },
  };
  for (const Stage &stage : stages) {
    re::Utf8Text text = re::Utf8Text::check(plain);
    const char *memory = text.str().data();
    const re::Utf8Text out = stage(std::move(text));
    EXPECT_EQ(out.str(), plain);
    EXPECT_EQ(out.str().data(), memory);
  }

  const std::string rich = "<blockquote>\n<p>[!WARNING]\nx</p>\n</blockquote>\n"
                           "<pre><code class=\"language-mermaid\">A--&gt;B</code></pre>\n"
                           "<pre><code class=\"language-wavedrom\">{s:1}</code></pre>\n"
                           "<img alt=\"x\" src=\"pic.png\" />\n";
  const re::Utf8 valid = re::Utf8::check(rich);
  EXPECT_EQ(process_mermaid_charts(re::Utf8Text(valid)).str(), process_mermaid_charts(valid).str());
  EXPECT_EQ(process_wavedrom_charts(re::Utf8Text(valid)).str(),
            process_wavedrom_charts(valid).str());
  EXPECT_EQ(process_markdown_alerts(re::Utf8Text(valid)).str(),
            process_markdown_alerts(valid).str());
  const re::Utf8Text embedded = embed_images_in_html(re::Utf8Text(valid), "/d/a.md", encode);
  EXPECT_EQ(embedded.str(), embed_images_in_html(valid, "/d/a.md", encode).str());
  EXPECT_NE(embedded.str().find("src=\"data:x\""), std::string::npos);
}

} // namespace
} // namespace vaskit::prosett

// The index page.
#include "support.hpp"
#include "tools/shelvic/shelvic.hpp"

#include <gtest/gtest.h>

namespace {

using namespace vaskit::shelvic;
using test_support::InTempDir;
using test_support::LogCapture;

bool has(const std::string &hay, const std::string &needle) {
  return hay.find(needle) != std::string::npos;
}

Docs one_doc(const std::string &title, const std::string &file, const std::string &description) {
  Docs docs;
  docs.at_or_add(DocNumber::one()) = {title, file, description};
  return docs;
}

TEST(IndexPage, EveryValueIsEscapedForItsContext) {
  InTempDir dir;
  const json config = {{"document_title", "R&D <docs> {cards_html}"},
                       {"document_description", "\"quoted\" & 'single'"},
                       {"download_link", "my pkg#1.zip"}};
  Docs docs = one_doc("<script>alert(1)</script>", "report #1.html", "a & b");
  docs.at_or_add(DocNumber::from_digits("2")) = {"web", "https://x.test/?a=1&b=\"2\"", "d"};
  const std::string page = render_index_page(docs, config);
  EXPECT_TRUE(has(page, "<title>R&amp;D &lt;docs&gt; {cards_html}</title>"));
  EXPECT_TRUE(has(page, "<h1>R&amp;D &lt;docs&gt; {cards_html}</h1>"));
  EXPECT_TRUE(has(page, "<p>\"quoted\" &amp; 'single'</p>"));
  EXPECT_TRUE(has(page, "<h2>📄 &lt;script&gt;alert(1)&lt;/script&gt;</h2>"));
  EXPECT_TRUE(has(page, "<a href=\"report%20%231.html\" class=\"card\">"));
  EXPECT_TRUE(has(page, "<span class=\"file-tag\">@report #1.html</span>"));
  EXPECT_TRUE(has(page, "<p>a &amp; b</p>"));
  EXPECT_TRUE(has(page, "<a href=\"https://x.test/?a=1&amp;b=&quot;2&quot;\" class=\"card\">"));
  EXPECT_TRUE(has(page, "<a href=\"my%20pkg%231.zip\" class=\"download-btn\" download>"));
  EXPECT_FALSE(has(page, "<script>"));

  const std::string quoted = render_index_page(one_doc("t", "it's.html", ""), json::object());
  EXPECT_TRUE(has(quoted, "<a href=\"it&#x27;s.html\" class=\"card\">"));
}

TEST(IndexPage, VasleafOnlyAsAWholePathComponent) {
  InTempDir dir;
  LogCapture logs(true);
  const std::pair<std::string, std::string> cases[] = {
      {"VasLeaf/guide/a b.html", SITE_BASE_URL + "/guide/a%20b.html"},
      {"vasleaf/x/vasleaf/b.html", SITE_BASE_URL + "/b.html"},
      {"docs/vasleaf", SITE_BASE_URL},
      {"/srv/vasleaf/", SITE_BASE_URL},
      {"vasleaf-docs/x.html", "vasleaf-docs/x.html"},
      {"vasleaf_intro.html", "vasleaf_intro.html"},
      {"my_vasleaf/x.html", "my_vasleaf/x.html"},
      {"#", "#"},
      {"https://host/vasleaf/x.html", "https://host/vasleaf/x.html"},
  };
  for (const auto &[file, url] : cases)
    EXPECT_EQ(file_url_for(file), url) << file;
  ASSERT_FALSE(logs.texts("DEBUG").empty());
  EXPECT_EQ(logs.texts("DEBUG")[0], "🔍 自動偵測：成功將 VasLeaf/guide/a b.html 轉換為 " +
                                        SITE_BASE_URL + "/guide/a%20b.html");
  EXPECT_EQ(logs.texts("DEBUG").size(), 4u);
}

TEST(IndexPage, IconRules) {
  const std::tuple<const char *, const char *, const char *, const char *> cases[] = {
      {"Catalog", "", "a.html", "📟"},    {"x", "", "logs.zip", "📟"},
      {"x", "zipped", "a.html", "📦"},    {"README", "", "a.md", "📜 "},
      {"x", "", "toolbox.html", "🧰"}, {"x", "the FlowChart", "a", "🔀"},
      {"x", "", "flow_chart.html", "🔀"}, {"Guide", "intro", "guide.html", "📄"},
  };
  for (const auto &[title, description, file, icon] : cases)
    EXPECT_EQ(icon_for(title, description, file), icon) << title << " " << file;
}

TEST(IndexPage, CardsInNumericOrderWithDefaults) {
  InTempDir dir;
  Docs docs;
  docs.at_or_add(DocNumber::from_digits("10")) = {"ten", "ten.html", "d10"};
  docs.at_or_add(DocNumber::from_digits("2")) = {{}, {}, {}};
  docs.at_or_add(DocNumber::from_digits("1")) = {"readme", "r.md", ""};
  const std::string page = render_index_page(docs, json::object());
  const auto p1 = page.find("<h2>📜  readme</h2>");
  const auto p2 = page.find("<h2>📄 Document 2</h2>");
  const auto p10 = page.find("<h2>📄 ten</h2>");
  ASSERT_NE(p1, std::string::npos);
  ASSERT_NE(p2, std::string::npos);
  ASSERT_NE(p10, std::string::npos);
  EXPECT_LT(p1, p2);
  EXPECT_LT(p2, p10);
  EXPECT_TRUE(has(
      page, "<a href=\"#\" class=\"card\">\n                <span class=\"file-tag\">@#</span>"));
  EXPECT_TRUE(has(page, "<title>Documentation</title>"));
}

TEST(IndexPage, EmptyPageLayout) {
  InTempDir dir;
  const std::string page = render_index_page(Docs{}, json{{"download_link", ""}});
  EXPECT_TRUE(has(page, "        <div class=\"card-container\">\n        </div>\n        \n\n      "
                        "  \n        <footer>"));
  EXPECT_TRUE(
      has(page, "            <a href=\"" + SITE_BASE_URL + "/\" class=\"home-btn\">🏠 Home</a>\n"));
  EXPECT_TRUE(has(page, "        body {\n"));
  EXPECT_FALSE(has(page, "{{"));
  EXPECT_EQ(page.substr(page.size() - 16), "</body>\n</html>\n");

  const std::string with_link = render_index_page(Docs{}, json{{"download_link", "#"}});
  EXPECT_TRUE(has(with_link,
                  "        \n        <div class=\"download-section\">\n            <a href=\"#\" "
                  "class=\"download-btn\" download>📥 Download Offline Package "
                  "(.zip)</a>\n        </div>\n        \n        <footer>"));
}

TEST(IndexPage, WriteReportsThePathOrTheFailure) {
  InTempDir dir;
  const vaskit::Result ok = write_index_page(Docs{}, json::object());
  EXPECT_TRUE(ok.ok);
  EXPECT_EQ(ok.message, "Successfully generated HTML index at: ./index.html");
  EXPECT_TRUE(std::filesystem::exists("index.html"));
  std::filesystem::remove("index.html");
  std::filesystem::create_directory("index.html"); // cannot be replaced by a file
  LogCapture logs;
  const vaskit::Result bad = write_index_page(Docs{}, json::object());
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.message.rfind("Failed to generate index file: ", 0), 0u);
}

} // namespace

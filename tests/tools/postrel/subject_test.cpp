#include "core/re.hpp"
#include "core/text.hpp"
#include "support/fifo.hpp"
#include "support/files.hpp"
#include "support/log_capture.hpp"
#include "support/summary_reference.hpp"
#include "tools/postrel/postrel.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace vaskit::postrel {
namespace {

using testing::LogCapture;
using testing::TempDir;
using testing::write_file;

TEST(SubjectLine, CandidateLinesAndTheSubjectsTheyGive) {
  struct Case {
    const char *line;
    std::optional<std::string> subject; // nullopt: no subject line
  };
  const Case cases[] = {
      {"# Subject: Weekly", "Weekly"},
      {"**Subject: Weekly**", "Weekly"},
      {"**Subject:** Weekly", "** Weekly"},
      {"SUBJECT：週報", "週報"},
      {"#Subject: a", "a"},
      {"### subject :   spaced  ", "spaced"},
      {"Subject:", ""},
      {"* Subject: x", std::nullopt},
      {"Subject - x", std::nullopt},
      {"**subject**: x", std::nullopt},
      {"My subject: x", std::nullopt},
  };
  for (const auto &c : cases) {
    const std::string doc = std::string(c.line) + "\nbody line\n";
    const auto [subject, body] = _extract_subject_from_markdown(doc);
    if (c.subject) {
      EXPECT_EQ(subject, *c.subject) << c.line;
      EXPECT_EQ(body, "body line") << c.line;
    } else {
      EXPECT_EQ(subject, "") << c.line;
      EXPECT_EQ(body, doc) << c.line;
    }
  }
}

TEST(SubjectLine, WhereTheSearchLooksAndWhatTheBodyKeeps) {
  // Blank lines and fences before the candidate are skipped, within the first five lines.
  auto r = _extract_subject_from_markdown("```markdown\nsubject: S\n\ntext\n```\n");
  EXPECT_EQ(r.first, "S");
  EXPECT_EQ(r.second, "text");
  r = _extract_subject_from_markdown("\n\n\n\n\nsubject: late\nx");
  EXPECT_EQ(r.first, "");
  EXPECT_EQ(r.second, "\n\n\n\n\nsubject: late\nx");
  // The first candidate ends the search even when it is no subject line.
  r = _extract_subject_from_markdown("hello\nsubject: S\n");
  EXPECT_EQ(r.first, "");
  // Without a subject line the text stays whole (fences and line ends included) but BOMs go.
  r = _extract_subject_from_markdown("\xEF\xBB\xBFhi\r\n```\r\n");
  EXPECT_EQ(r.second, "hi\r\n```\r\n");
  // With one: CR LF become LF, every fence line leaves, leading line ends are dropped, no
  // trailing line break.
  r = _extract_subject_from_markdown("\xEF\xBB\xBFsubject: S\r\n\r\na\r\n  ```py\r\nb\r\n```\r\n");
  EXPECT_EQ(r.first, "S");
  EXPECT_EQ(r.second, "a\nb");
  EXPECT_EQ(_extract_subject_from_markdown(""), std::make_pair(std::string(), std::string()));
}

TEST(SubjectLine, OnlyLeadingByteOrderMarksGo) {
  const std::string bom = "\xEF\xBB\xBF";
  // Several marks at the start all go; a mark further in is a zero-width no-break space that
  // the text keeps, in the body and in the subject.
  auto r = _extract_subject_from_markdown(bom + bom + "subject: a" + bom + "b\nx" + bom + "y\n");
  EXPECT_EQ(r.first, "a" + bom + "b");
  EXPECT_EQ(r.second, "x" + bom + "y");
  r = _extract_subject_from_markdown(bom + "plain" + bom + "\n");
  EXPECT_EQ(r.first, "");
  EXPECT_EQ(r.second, "plain" + bom + "\n");
}

class Summary : public ::testing::Test {
protected:
  TempDir dir;
  PostrelApp app{json::object(), std::nullopt, false};
  std::string summary(const std::string &name, const std::string &content) {
    write_file(dir / name, content);
    return app.extract_toc_summary_from_attachment((dir / name).string());
  }
};

TEST_F(Summary, HtmlTableOfContentsBlock) {
  LogCapture logs;
  EXPECT_EQ(
      summary("a.html",
              "<p>x</p><div id=t class=\"toc\">\n  <ul>\n    <li><a href=\"#i\">Intro</a></li>\n"
              "    <li><a href=\"#b\">Body</a></li>\n  </ul>\n</div><div>after</div>"),
      "<div id=t class=\"toc\"><ul><li><a href=\"#i\">Intro - Abstract</a></li><li><a "
      "href=\"#b\">Body</a></li></ul></div>");
  EXPECT_TRUE(logs.has(
      "INFO", "✅ 成功自附件 [a.html] 擷取 HTML 格式目錄摘要（已於 Header 加入 Abstract）。"));
  // A first link that already says abstract stays; later links are never looked at.
  EXPECT_EQ(summary("b.HTM", "<div class='toc'> <a>Abstract</a> <a>Next</a> </div>"),
            "<div class='toc'><a>Abstract</a><a>Next</a></div>");
  // A nested div ends the block at its closing tag.
  EXPECT_EQ(summary("c.html", "<div class=\"toc\"><div><a>A</a></div><p>rest</p></div>"),
            "<div class=\"toc\"><div><a>A - Abstract</a></div>");
}

TEST_F(Summary, HtmlHeadingsWhenThereIsNoBlock) {
  LogCapture logs;
  // class "toc main" is not the block: the headings are listed instead.
  EXPECT_EQ(summary("a.html",
                    "<div class=\"toc main\"></div><h1 id=x> One <b>b</b> </h1><H2>Two</H2>"
                    "<h3>bad</h4><h3>Three\nlines</h3>"),
            "<div class=\"toc\"><ul><li>One <b>b</b> - Abstract</li><li>Two</li>"
            "<li>bad</h4><h3>Three\nlines</li></ul></div>");
  EXPECT_TRUE(logs.has("INFO", "✅ 成功自附件 [a.html] 擷取 3 項標題組成 HTML 目錄。"));
  EXPECT_EQ(summary("b.html", "<h2>The Abstract</h2><h2>x</h2>"),
            "<div class=\"toc\"><ul><li>The Abstract</li><li>x</li></ul></div>");
  EXPECT_EQ(summary("c.html", "<p>no headings</p>"), "");
}

// The summary of an HTML page is what the searches with the patterns below give: checked on
// many small pages made of the pieces that matter to them, then on a large page of tags that
// never close, which a backtracking search takes many minutes over.
TEST_F(Summary, HtmlSummaryIsWhatThePatternsFindInOnePass) {
  const auto expected = [](const std::string &page) { return testing::summary_by_patterns(page); };

  const std::vector<std::string> pieces = {"<h1>",
                                           "<H2 id=x>",
                                           "</h2>",
                                           "</H1>",
                                           "<h3",
                                           ">",
                                           "</h3>",
                                           "<h7>",
                                           "<div",
                                           " class=\"toc\"",
                                           " CLASS='TOC\"",
                                           " claſſ='toc'",
                                           "</div>",
                                           "</DIV>",
                                           "<a href=#>",
                                           "<abbr>",
                                           "</a>",
                                           "\n",
                                           " ",
                                           "x",
                                           "Abstract",
                                           "<",
                                           "/",
                                           "報"};
  std::mt19937 gen(7);
  for (int round = 0; round < 3000; ++round) {
    std::string page;
    const int n = std::uniform_int_distribution<int>(1, 24)(gen);
    for (int i = 0; i < n; ++i)
      page += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(gen)];
    std::filesystem::remove(dir / "p.html"); // rewriting a file in place waits for the disk
    ASSERT_EQ(summary("p.html", page), expected(page)) << page;
  }

  std::string big;
  for (int i = 0; i < 400000; ++i)
    big += "<h2>x <div class=\"toc\"><a>";
  big += "<h3>Last</h3>";
  EXPECT_EQ(summary("big.html", big), "<div class=\"toc\"><ul><li>Last - Abstract</li></ul></div>");
  // A block of links that never close: the first link search gives up, the block stays whole.
  const std::string block = "<div class='toc'>" + big.substr(0, 4000000) + "</div>";
  EXPECT_TRUE(summary("block.html", block) == block);
}

TEST_F(Summary, MarkdownHeadings) {
  LogCapture logs;
  EXPECT_EQ(summary("a.md", "# Abstract\ntext\n## Scope\n### Detail\n"),
            "- Abstract\n  - Scope - Abstract\n    - Detail");
  EXPECT_TRUE(logs.has("INFO", "✅ 成功自附件 [a.md] 擷取 3 項目錄摘要。"));
  EXPECT_EQ(summary("b.markdown", "  #tag\n###\n#   \n```\n# in code\n```\n"),
            "- tag - Abstract\n- in code");
  EXPECT_EQ(summary("c.md", "no headings\n"), "");
}

TEST_F(Summary, NothingForOtherFilesAndFailures) {
  EXPECT_EQ(summary("a.txt", "# heading\n"), "");
  EXPECT_EQ(summary("a.md", ""), "");
  EXPECT_EQ(summary("bad.md", "# \xff\xfe\n"), "");
  EXPECT_EQ(app.extract_toc_summary_from_attachment((dir / "missing.md").string()), "");
  EXPECT_EQ(app.extract_toc_summary_from_attachment(""), "");
}

TEST_F(Summary, AFifoIsRefusedWithoutWaiting) {
  LogCapture logs;
  testing::Fifo fifo(dir / "toc.md");
  EXPECT_EQ(app.extract_toc_summary_from_attachment((dir / "toc.md").string()), "");
  EXPECT_FALSE(fifo.waited_on());
  EXPECT_TRUE(logs.has("ERROR", "❌ 無法讀取 附件內容: " + (dir / "toc.md").string() +
                                    ": is not a regular file"));
}

} // namespace
} // namespace vaskit::postrel

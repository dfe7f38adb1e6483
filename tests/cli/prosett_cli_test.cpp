// End-to-end tests of the host and of prosett, run as the user runs them.
#include "support/files.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace {

using vaskit::testing::read_file;
using vaskit::testing::write_file;

using vaskit::testing::run_process;
using vaskit::testing::TempDir;
namespace fs = std::filesystem;

const std::string kBin = VASKIT_BIN_DIR;
const std::string kHost = kBin + "/vas-kit";
const std::string kProsett = kBin + "/vaskit-prosett";

bool contains(const std::string &hay, const std::string &needle) {
  return hay.find(needle) != std::string::npos;
}

TEST(Host, HelpListsToolsAndUnknownToolIsUsageError) {
  TempDir dir;
  auto help = run_process(kHost, {"--help"}, dir.path());
  EXPECT_EQ(help.status, 0);
  // Names are padded to the longest tool name, which grows as tools are added.
  EXPECT_TRUE(std::regex_search(
      help.out, std::regex("\n  prosett +Convert Notion exported \\.md files to HTML pages\\.\n")));
  EXPECT_TRUE(contains(help.out, "folvane"));

  auto unknown = run_process(kHost, {"nosuch", "-x"}, dir.path());
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(contains(unknown.err, "Error: No such command 'nosuch'."));
  EXPECT_TRUE(unknown.out.empty());
}

TEST(ProsettCommand, HelpIsTheSameThroughHostAndDirectly) {
  TempDir dir;
  auto via_host = run_process(kHost, {"prosett", "--help"}, dir.path());
  auto direct = run_process(kProsett, {"--help"}, dir.path());
  ASSERT_EQ(via_host.status, 0);
  ASSERT_EQ(direct.status, 0);
  EXPECT_TRUE(contains(via_host.out, "Usage: vas-kit prosett [OPTIONS]"));
  EXPECT_TRUE(contains(direct.out, "Usage: vaskit-prosett [OPTIONS]"));
  // Apart from the program name the two are identical.
  EXPECT_EQ(std::regex_replace(via_host.out, std::regex("vas-kit prosett \\[OPTIONS\\]"), "X"),
            std::regex_replace(direct.out, std::regex("vaskit-prosett \\[OPTIONS\\]"), "X"));
  for (const char *expected :
       {"  Convert Notion exported .md files to HTML pages.", "-c, --config PATH",
        "--generate-config", "Generate config_prosett_template.yaml", "--debug",
        "Enable debug mode", "-o, --output-dir PATH", "-f, --file FILE",
        "Examples:", "  1. Generate config template:", "     vas-kit prosett --generate-config",
        "  7. Process a specific Markdown file (skips interactive selection):",
        "     vas-kit prosett -f my_document.md"}) {
    EXPECT_TRUE(contains(direct.out, expected)) << expected;
  }
}

TEST(ProsettCommand, GenerateConfigWritesTheBuiltInTemplate) {
  TempDir dir;
  // -c and -o are not looked at.
  auto r = run_process(kHost, {"prosett", "--generate-config", "-c", "nothing.yaml", "-o"},
                       dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "✅ Success! Template file created at: "));
  EXPECT_EQ(read_file(dir / "config_prosett_template.yaml"),
            "config:\n  input_path: \"./\"\n  output_path: \"./\"\n  embed_images: true\n"
            "  watermark_enable: false\n  watermark_text: \"CONFIDENTIAL\"\n");
}

TEST(ProsettCommand, ConfigurationErrors) {
  TempDir dir;
  auto missing = run_process(kHost, {"prosett", "-c", "missing.yaml"}, dir.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "❌ Error: Config file 'missing.yaml' does not exist.\n");

  // A bare -c with no candidate: no banner, an error, status 1.
  auto none = run_process(kHost, {"prosett", "-c"}, dir.path());
  EXPECT_EQ(none.status, 1);
  EXPECT_FALSE(contains(none.out, "偵測到現有設定檔"));
  EXPECT_TRUE(contains(none.err, "❌ Error: No configuration file selected or found."));

  // A file that does not parse: one line naming file, line and column; status 1.
  write_file(dir / "broken.yaml", "config:\n  input_path: [unclosed\n");
  auto broken = run_process(kHost, {"prosett", "-c", "broken.yaml"}, dir.path());
  EXPECT_EQ(broken.status, 1);
  EXPECT_TRUE(contains(broken.err, "broken.yaml")) << broken.err;
  EXPECT_TRUE(contains(broken.err, "line ")) << broken.err;
  EXPECT_FALSE(contains(broken.out + broken.err, "Done:"));

  // A top level that is not a mapping is refused with a clear line.
  write_file(dir / "list.yaml", "- a\n- b\n");
  auto list = run_process(kHost, {"prosett", "-c", "list.yaml"}, dir.path());
  EXPECT_EQ(list.status, 1);
  EXPECT_TRUE(contains(list.err, "❌"));
}

TEST(ProsettCommand, ConfigurationsTheLoaderRefusesStopBeforeAnythingIsWritten) {
  TempDir dir;
  write_file(dir / "doc.md", "# Doc\n\ntext\n");
  const std::pair<const char *, std::string> cases[] = {
      {"open.yaml", "config:\n  output_path: \"./out\n"},
      {"self.yaml", "config: &x {a: *x}\n"},
      {"list.yaml", "a: &a [*a]"},
      {"bytes.yaml", "config:\n  output_path: out\xff\n"},
  };
  for (const auto &[name, content] : cases) {
    write_file(dir / name, content);
    auto r = run_process(kHost, {"prosett", "-c", name, "-f", "doc.md"}, dir.path());
    EXPECT_EQ(r.status, 1) << name << r.err;
    EXPECT_EQ(r.err.rfind("❌", 0), 0u) << name << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << name << r.err;
    EXPECT_TRUE(contains(r.err, name)) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(R"(\(line \d+, column \d+\))"))) << r.err;
  }
  // Nothing was written: no output folder, no page.
  std::set<std::string> left;
  for (const auto &entry : fs::directory_iterator(dir.path()))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"doc.md", "open.yaml", "self.yaml", "list.yaml",
                                         "bytes.yaml"}));
}

TEST(ProsettCommand, BareConfigOffersTheCandidates) {
  TempDir dir;
  write_file(dir / "config_a.yaml", "config:\n  output_path: \"./a\"\n");
  write_file(dir / "config_b.yml", "config:\n  output_path: \"./b\"\n");
  write_file(dir / "other.yaml", "config: {}\n");
  write_file(dir / "doc.md", "# Doc\n\ntext\n");

  auto cancelled = run_process(kHost, {"prosett", "-c"}, dir.path(), "\n");
  EXPECT_EQ(cancelled.status, 1);
  EXPECT_TRUE(contains(cancelled.out, "--- 💬 偵測到現有設定檔，請選擇一個使用 (直接按 Enter 取消) ---"));
  EXPECT_TRUE(contains(cancelled.out, "config_a.yaml"));
  EXPECT_TRUE(contains(cancelled.out, "config_b.yml"));
  EXPECT_FALSE(contains(cancelled.out, "other.yaml"));
  EXPECT_TRUE(contains(cancelled.err, "❌ Error: No configuration file selected or found."));

  // Choosing the second candidate, with -f given and a bare -c in front of another option.
  auto chosen = run_process(kHost, {"prosett", "-c", "-f", "doc.md"}, dir.path(), "2\n");
  EXPECT_EQ(chosen.status, 0) << chosen.err;
  EXPECT_TRUE(fs::exists(dir / "b" / "doc.html"));
}

TEST(ProsettCommand, FileOptionIsCheckedBeforeTheCommandRuns) {
  TempDir dir;
  auto missing = run_process(kHost, {"prosett", "-f", "missing.md"}, dir.path());
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(contains(missing.err, "Usage: vas-kit prosett [OPTIONS]"));
  EXPECT_TRUE(contains(missing.err, "Error: Invalid value for '-f' / '--file': File 'missing.md' does not exist."));
  fs::create_directories(dir / "folder.md");
  auto folder = run_process(kHost, {"prosett", "-f", "folder.md"}, dir.path());
  EXPECT_EQ(folder.status, 2);
  EXPECT_TRUE(contains(folder.err, "is a directory."));
  auto unknown = run_process(kHost, {"prosett", "--nope"}, dir.path());
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(contains(unknown.err, "Error: No such option: --nope"));
}

// Every "#id" link of the table of contents names an element id of the page.
void expect_toc_links_resolve(const std::string &page) {
  const auto toc_start = page.find("<div class=\"toc\">");
  ASSERT_NE(toc_start, std::string::npos);
  const auto toc_end = page.find("</div>", toc_start);
  const std::string toc = page.substr(toc_start, toc_end - toc_start);
  std::set<std::string> ids;
  const std::regex id_re("id=\"([^\"]+)\"");
  for (std::sregex_iterator it(page.begin(), page.end(), id_re), end; it != end; ++it)
    ids.insert((*it)[1]);
  const std::regex href_re("href=\"#([^\"]+)\"");
  int links = 0;
  for (std::sregex_iterator it(toc.begin(), toc.end(), href_re), end; it != end; ++it) {
    ++links;
    EXPECT_TRUE(ids.count((*it)[1])) << "dangling toc link #" << (*it)[1];
  }
  EXPECT_GE(links, 3);
}

TEST(ProsettConversion, NotionExportBecomesAVersionedWatermarkedPage) {
  TempDir dir;
  write_file(dir / "config.yaml", "config:\n  watermark_enable: true\n  output_path: out\n");
  write_file(dir / "notes.md",
        "# Project notes\n"
        "Status: Draft\n"
        "Created time: 2024\n"
        "**Version:** 1.2.0\n\n\n\n"
        "## Tables\n\n| A | B |\n| --- | --- |\n| 1 | 2 |\n\n"
        "## Lists\n- one\n    - nested\n- two\n\n"
        "## Toggle\n\n<details>\n<summary>More</summary>\n\nHidden **bold** text\n\n</details>\n\n"
        "## 中文標題\n\nEnd.\n");
  auto r = run_process(kHost, {"prosett", "-c", "config.yaml", "-f", "notes.md"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "Done: prosett 執行成功。"));
  EXPECT_TRUE(contains(r.err, "✅ 成功找到版本號碼: 1.2.0"));
  EXPECT_TRUE(contains(r.err, "✅ 正在處理: " + (dir / "notes.md").string()));
  const auto page_path = dir / "out" / "notes_1.2.0_CONFIDENTIAL.html";
  ASSERT_TRUE(fs::exists(page_path));
  const std::string page = read_file(page_path);
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_TRUE(contains(page, "<title>notes.md</title>"));
  EXPECT_TRUE(contains(page, "body::after"));
  EXPECT_TRUE(contains(page, "CONFIDENTIAL</text></svg>"));
  EXPECT_FALSE(contains(page, "Status: Draft"));
  EXPECT_FALSE(contains(page, "Created time"));
  EXPECT_TRUE(contains(page, "<table>"));
  EXPECT_TRUE(contains(page, "<td>1</td>"));
  EXPECT_TRUE(std::regex_search(page, std::regex("<li>\\s*(<p>)?one[\\s\\S]*<ul>[\\s\\S]*nested")));
  EXPECT_TRUE(contains(page, "<summary>More</summary>"));
  EXPECT_TRUE(contains(page, "<strong>bold</strong>"));
  EXPECT_FALSE(contains(page, "markdown=\"1\""));
  expect_toc_links_resolve(page);
}

TEST(ProsettConversion, BareOutputOptionMeansTheCurrentFolder) {
  TempDir dir;
  write_file(dir / "a.md", "# A\n");
  auto r = run_process(kHost, {"prosett", "-o", "-f", "a.md"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.err, "✅ 已手動指定輸出目錄：./"));
  EXPECT_TRUE(fs::exists(dir / "a.html"));
}

TEST(ProsettConversion, NewestFileIsOfferedAndDebugDumpsAreNeverInputs) {
  TempDir dir;
  write_file(dir / "old.md", "# Old\n");
  write_file(dir / "new.md", "# New\n");
  write_file(dir / "newest.md_debug.md", "# dump\n");
  const auto now = fs::file_time_type::clock::now();
  fs::last_write_time(dir / "old.md", now - std::chrono::hours(2));
  fs::last_write_time(dir / "new.md", now - std::chrono::hours(1));
  fs::last_write_time(dir / "newest.md_debug.md", now);

  auto r = run_process(kHost, {"prosett"}, dir.path(), "\n", {"DAVUZ_DEBUG=1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "💬 偵測到最新 Markdown 檔案：new.md，是否直接使用？ [Y/n]: "));
  EXPECT_TRUE(contains(r.err, "✅ 使用者確認使用最新 Markdown 檔案：new.md"));
  EXPECT_TRUE(fs::exists(dir / "new.html"));
  EXPECT_FALSE(fs::exists(dir / "old.html"));
  // Debug on through the environment: the cleaned Markdown is dumped.
  EXPECT_TRUE(fs::exists(dir / "new.md_debug.md"));

  // Declining the newest file opens the list; end of input there cancels the pass.
  auto declined = run_process(kHost, {"prosett"}, dir.path(), "n\n");
  EXPECT_EQ(declined.status, 1);
  EXPECT_TRUE(contains(declined.err, "❌ 使用者未選擇任何 Markdown 檔案，或該路徑下無檔案。"));
  EXPECT_TRUE(contains(declined.err, "Error: 使用者取消或未找到檔案"));
  EXPECT_FALSE(contains(declined.out, "newest.md_debug.md"));
}

TEST(ProsettConversion, FilesWithoutAPageMakeTheRunFail) {
  TempDir dir;
  write_file(dir / "bad.md", std::string("# Bad\n\xff\xfe broken bytes\n"));
  auto r = run_process(kHost, {"prosett", "-f", "bad.md"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "❌"));
  EXPECT_TRUE(contains(r.err, "Error: "));
  EXPECT_FALSE(fs::exists(dir / "bad.html"));

  write_file(dir / "empty.md", "");
  auto empty = run_process(kHost, {"prosett", "-f", "empty.md"}, dir.path());
  EXPECT_EQ(empty.status, 1);
  EXPECT_FALSE(fs::exists(dir / "empty.html"));
}

TEST(ProsettConversion, OneBadFileAmongSeveralDoesNotStopTheOthers) {
  TempDir dir;
  write_file(dir / "a.md", "# A\n");
  write_file(dir / "b.md", std::string("# B\n\xff\n"));
  write_file(dir / "c.md", "# C\n");
  // Decline the newest file, then choose all three from the list.
  auto r = run_process(kHost, {"prosett"}, dir.path(), "n\nall\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(fs::exists(dir / "a.html"));
  EXPECT_FALSE(fs::exists(dir / "b.html"));
  EXPECT_TRUE(fs::exists(dir / "c.html"));
  EXPECT_TRUE(contains(r.err, "Error: 僅寫出 2 個頁面（共 3 個檔案）"));
  // The pass went on after the bad file: the third one was processed after it.
  const auto bad = r.err.find("b.md: ");
  const auto third = r.err.find("✅ 正在處理: ./c.md");
  ASSERT_NE(bad, std::string::npos) << r.err;
  ASSERT_NE(third, std::string::npos);
  EXPECT_LT(bad, third);
}

TEST(ProsettConversion, DebugDumpHoldsTheCleanedTextBeforeTheStages) {
  TempDir dir;
  write_file(dir / "notes.md", "# Notes\nStatus: x\n\n\n\n<details>\n<summary>S</summary>\n\nBody\n</details>\n");
  auto r = run_process(kHost, {"prosett", "--debug", "-f", "notes.md"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir / "notes.md_debug.md"),
            "# Notes\n\n[TOC]\n\n\n\n<details>\n<summary>S</summary>\n\nBody\n</details>\n");
  EXPECT_TRUE(contains(r.err, "[notes.md] 已儲存預處理之 Markdown 至 ./notes.md_debug.md"));
  EXPECT_TRUE(contains(r.err, "偵錯模式已開啟。找到並選擇了 1 個 Markdown 檔案。"));
}

// A page whose rendered HTML ends in "<" still gets its code and formulas back.
TEST(ProsettConversion, CodeAndFormulasSurviveATrailingLessThan) {
  TempDir dir;
  write_file(dir / "tail.md", "Use `grep` for $a+b$.\n\n<div>end <");
  write_file(dir / "short.md", "<l>\n`1`<");
  for (const char *name : {"tail", "short"}) {
    auto r = run_process(kProsett, {"-f", std::string(name) + ".md"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string page = read_file(dir / (std::string(name) + ".html"));
    EXPECT_FALSE(contains(page, "PLACEHOLDER")) << name;
    EXPECT_FALSE(contains(r.err, "出錯")) << r.err;
  }
  const std::string tail = read_file(dir / "tail.html");
  EXPECT_TRUE(contains(tail, "<code>grep</code>"));
  EXPECT_TRUE(contains(tail, "\\(a+b\\)"));
  EXPECT_TRUE(contains(read_file(dir / "short.html"), "<code>1</code>"));
}

// A document too large for the memory the process may use fails alone: an error line naming
// it, no page, status 1, never a crash.
TEST(ProsettConversion, RunningOutOfMemoryFailsTheFile) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit allows";
#else
  TempDir dir;
  std::string md;
  for (int i = 0; i < 400000; ++i)
    md += "- *a* b\n";
  write_file(dir / "big.md", md);
  auto r = run_process("/bin/sh", {"-c", "ulimit -v 400000 && exec \"$0\" -f big.md", kProsett},
                       dir.path());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(contains(r.err, "❌ 處理 ")) << r.err;
  EXPECT_TRUE(contains(r.err, "big.md 失敗: out of memory for the document tree")) << r.err;
  EXPECT_FALSE(fs::exists(dir / "big.html"));
#endif
}

} // namespace

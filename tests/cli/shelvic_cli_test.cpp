// End-to-end tests of shelvic: the built executable in a fresh folder, answers on standard input,
// the page, the package read back with libzip and the configuration read back with the loader.
#include "core/config.hpp"
#include "support/files.hpp"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

namespace {

using vaskit::testing::read_file;
using vaskit::testing::run_process;
using vaskit::testing::TempDir;
using vaskit::testing::write_file;
namespace fs = std::filesystem;

const std::string kBin = VASKIT_BIN_DIR;
const std::string kHost = kBin + "/vas-kit";
const std::string kShelvic = kBin + "/vaskit-shelvic";

bool has(const std::string &hay, const std::string &needle) {
  return hay.find(needle) != std::string::npos;
}

std::set<std::string> zip_names(const fs::path &path) {
  int err = 0;
  zip_t *za = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (!za)
    throw std::runtime_error("not a zip archive: " + path.string());
  std::set<std::string> out;
  for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i)
    out.insert(zip_get_name(za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW));
  zip_discard(za);
  return out;
}

// A real archive holding one member.
void make_zip(const fs::path &path, const std::string &member) {
  int err = 0;
  zip_t *za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(za, nullptr);
  zip_source_t *src = zip_source_buffer(za, member.data(), member.size(), 0);
  ASSERT_GE(zip_file_add(za, member.c_str(), src, 0), 0);
  ASSERT_EQ(zip_close(za), 0);
}

vaskit::config::json load_yaml(const fs::path &p) {
  return vaskit::config::parse_yaml(read_file(p));
}

const std::string kConfig = "# Documentation index of the team\n"
                            "document_title: 'Team <Docs>'   # shown as the page title\n"
                            "document_description: All our guides & notes\n"
                            "download_link: package.zip\n"
                            "\n"
                            "# --- the guide ---\n"
                            "document1_title: \"User guide\"\n"
                            "document1_file: guide_v1.2.html   # the run keeps this newest\n"
                            "document1_description: How to start\n"
                            "\n"
                            "document2_title: Server log\n"
                            "document2_file: 'server_log_v1.txt'\n"
                            "document2_description: Nightly output\n"
                            "\n"
                            "document3_title: Ordering\n"
                            "document3_file: flow_chart_v1.html\n"
                            "document3_description: The flow chart\n"
                            "\n"
                            "document4_title: Old spec\n"
                            "document4_file: old_spec.html # removed from disk long ago\n"
                            "document4_description: Gone\n"
                            "\n"
                            "document5_title: API\n"
                            "document5_file: vasleaf/api/ref.html\n"
                            "document5_description: Mirrored on the site\n"
                            "# end of list\n";

void make_folder(const TempDir &dir) {
  for (const char *f :
       {"guide_v1.2.html", "guide_v1.10.html", "server_log_v1.txt", "server_log_v3.txt",
        "flow_chart_v2.html", "notes_v1.md", "notes_v2.md", "report #1.html", ".env", ".notes.swp"})
    write_file(dir / f, std::string("content of ") + f);
  write_file(dir / "vasleaf/api/ref.html", "api");
  write_file(dir / "config.yaml", kConfig);
}

TEST(ShelvicRun, PageCardsPackageAndConfigurationKeptAsWritten) {
  TempDir dir;
  make_folder(dir);
  const auto r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "Done: Successfully generated HTML index at: ./index.html"));
  // No answer on standard input: the offer of unlisted files is cancelled.
  EXPECT_TRUE(has(r.out, "偵測到未被記載的實體檔案"));
  EXPECT_TRUE(has(r.err, "💬 偵測到未在 YAML 中記載且非最新版的檔案列表：['notes_v1.md', "
                         "'notes_v2.md', 'report #1.html']"));

  EXPECT_EQ(read_file(dir / "config.yaml"),
            "# Documentation index of the team\n"
            "document_title: 'Team <Docs>'   # shown as the page title\n"
            "document_description: All our guides & notes\n"
            "download_link: package.zip\n"
            "\n"
            "# --- the guide ---\n"
            "document1_title: \"User guide\"\n"
            "document1_file: \"guide_v1.10.html\"   # the run keeps this newest\n"
            "document1_description: How to start\n"
            "\n"
            "document2_title: Server log\n"
            "document2_file: \"server_log_v3.txt\"\n"
            "document2_description: Nightly output\n"
            "\n"
            "document3_title: Ordering\n"
            "document3_file: \"flow_chart_v2.html\"\n"
            "document3_description: The flow chart\n"
            "\n"
            "document5_title: API\n"
            "document5_file: vasleaf/api/ref.html\n"
            "document5_description: Mirrored on the site\n"
            "# end of list\n");
  EXPECT_EQ(read_file(dir / ".config.yaml.bak"), kConfig);

  EXPECT_EQ(zip_names(dir / "package.zip"),
            (std::set<std::string>{"guide_v1.10.html", "server_log_v3.txt", "flow_chart_v2.html",
                                   "notes_v2.md", "report #1.html"}));

  const std::string page = read_file(dir / "index.html");
  EXPECT_TRUE(has(page, "<title>Team &lt;Docs&gt;</title>"));
  EXPECT_TRUE(has(page, "<p>All our guides &amp; notes</p>"));
  EXPECT_TRUE(has(page, "<a href=\"guide_v1.10.html\" class=\"card\">"));
  EXPECT_TRUE(has(page, "<h2>📟 Server log</h2>"));
  EXPECT_TRUE(has(page, "<a href=\"server_log_v3.txt\" class=\"card\">"));
  EXPECT_TRUE(has(page, "<h2>🔀 Ordering</h2>"));
  EXPECT_TRUE(has(page, "<a href=\"https://vasleaf.dev/api/ref.html\" class=\"card\">"));
  EXPECT_TRUE(has(page, "<span class=\"file-tag\">@vasleaf/api/ref.html</span>"));
  EXPECT_FALSE(has(page, "old_spec"));
  EXPECT_TRUE(has(page, "<a href=\"package.zip\" class=\"download-btn\" download>"));
  const auto card1 = page.find("User guide"), card5 = page.find("<h2>📄 API</h2>");
  ASSERT_NE(card5, std::string::npos);
  EXPECT_LT(card1, card5);
}

TEST(ShelvicRun, UnlistedFilesAddedFromAnswersRoundTrip) {
  TempDir dir;
  make_folder(dir);
  fs::remove(dir / "notes_v1.md");
  const std::string t1 = "Report & <b>\"one\"</b>: #1";
  const std::string d1 = "key: value # not a comment";
  const std::string t2 = "yes";
  const std::string d2 = "[x] & null";
  // The list offers notes_v2.md and report #1.html; "2,1" picks report first, then notes.
  const std::string input = "2,1\n\n" + t1 + "\n" + d1 + "\n" + t2 + "\n" + d2 + "\n";
  const auto r = run_process(kShelvic, {"--config", "config.yaml"}, dir.path(), input);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "\n💬 正在為 [report #1.html] 設定索引資訊："));
  EXPECT_TRUE(has(r.out, "請輸入顯示標題 (document_title): 請輸入顯示標題 (document_title): "
                         "請輸入描述 (document_description): "));
  EXPECT_LT(r.out.find("[report #1.html]"), r.out.find("[notes_v2.md]"));

  const auto cfg = load_yaml(dir / "config.yaml");
  EXPECT_EQ(cfg.at("document6_title"), t1);
  EXPECT_EQ(cfg.at("document6_file"), "report #1.html");
  EXPECT_EQ(cfg.at("document6_description"), d1);
  EXPECT_EQ(cfg.at("document7_title"), t2);
  EXPECT_EQ(cfg.at("document7_file"), "notes_v2.md");
  EXPECT_EQ(cfg.at("document7_description"), d2);
  EXPECT_FALSE(cfg.contains("document4_title"));
  const std::string text = read_file(dir / "config.yaml");
  EXPECT_TRUE(has(text, "# end of list\n"));
  EXPECT_TRUE(has(text, "document5_description: Mirrored on the site\n# end of list\n\n"
                        "document6_title: "));

  std::string page = read_file(dir / "index.html");
  EXPECT_TRUE(has(page, "<h2>📄 Report &amp; &lt;b&gt;\"one\"&lt;/b&gt;: #1</h2>"));
  EXPECT_TRUE(has(page, "<a href=\"report%20%231.html\" class=\"card\">"));

  // A second run reads the answers back unchanged; every family is listed now.
  const auto again = run_process(kShelvic, {"-c", "config.yaml"}, dir.path());
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(read_file(dir / "config.yaml"), text);
  EXPECT_FALSE(has(again.err, "偵測到未在 YAML 中記載"));
  page = read_file(dir / "index.html");
  EXPECT_TRUE(has(page, "<p>key: value # not a comment</p>"));
  EXPECT_TRUE(has(page, "<h2>📄 yes</h2>"));
}

// A configuration that documents optional settings as commented-out children of a key: new
// documents go after the last document, so uncommenting a child, as the file says to, still
// gives a configuration that loads, with the child under its key.
TEST(ShelvicRun, AddedDocumentsLeaveCommentedChildrenUnderTheirKey) {
  TempDir dir;
  write_file(dir / "guide.html", "g");
  write_file(dir / "notes.md", "n");
  const std::string cfg = "document_title: Team docs\n"
                          "download_link: package.zip\n"
                          "\n"
                          "document1_title: Guide\n"
                          "document1_file: guide.html\n"
                          "document1_description: How to start\n"
                          "\n"
                          "# Optional modules: uncomment to enable\n"
                          "modules:\n"
                          "#  activemq: yes\n"
                          "#  kafka: yes\n";
  write_file(dir / "config.yaml", cfg);
  const auto r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path(), "1\nNotes\nMy notes\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = read_file(dir / "config.yaml");
  EXPECT_EQ(text, "document_title: Team docs\n"
                  "download_link: package.zip\n"
                  "\n"
                  "document1_title: Guide\n"
                  "document1_file: guide.html\n"
                  "document1_description: How to start\n"
                  "\n"
                  "document2_title: \"Notes\"\n"
                  "document2_file: \"notes.md\"\n"
                  "document2_description: \"My notes\"\n"
                  "\n"
                  "# Optional modules: uncomment to enable\n"
                  "modules:\n"
                  "#  activemq: yes\n"
                  "#  kafka: yes\n");
  const auto loaded = vaskit::config::parse_yaml(text);
  EXPECT_EQ(loaded.at("document2_file"), "notes.md");
  std::string uncommented = text;
  uncommented.replace(uncommented.find("#  activemq"), 1, "");
  EXPECT_EQ(vaskit::config::parse_yaml(uncommented).at("modules"),
            (vaskit::config::json{{"activemq", true}}));

  // A configuration whose last key is the one with the commented children, without documents.
  TempDir bare;
  write_file(bare / "guide.html", "g");
  write_file(bare / "config.yaml", "document_title: Team docs\nmodules:\n#  activemq: yes\n");
  const auto r2 = run_process(kShelvic, {"-c", "config.yaml"}, bare.path(), "1\nGuide\nStart\n");
  ASSERT_EQ(r2.status, 0) << r2.err;
  std::string second = read_file(bare / "config.yaml");
  EXPECT_EQ(vaskit::config::parse_yaml(second).at("document1_file"), "guide.html") << second;
  second.replace(second.find("#  activemq"), 1, "");
  EXPECT_EQ(vaskit::config::parse_yaml(second).at("modules"),
            (vaskit::config::json{{"activemq", true}}))
      << second;
}

// Without a download link the package of an earlier run is in the folder already: it is offered
// once, and "all" makes one document of it.
TEST(ShelvicRun, PackageOfAnEarlierRunIsOfferedOnce) {
  for (const std::string link : {"download_link: \"#\"\n", "download_link: \"\"\n", ""}) {
    TempDir dir;
    write_file(dir / "a.txt", "a");
    make_zip(dir / "package.zip", "a.txt");
    write_file(dir / "config.yaml", "document_title: Docs\n" + link);
    const auto r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path(),
                               "all\nA\nFile a\nP\nThe package\n");
    ASSERT_EQ(r.status, 0) << link << r.err;
    EXPECT_TRUE(has(r.err, "檔案列表：['a.txt', 'package.zip']\n")) << link << r.err;
    const auto cfg = load_yaml(dir / "config.yaml");
    EXPECT_EQ(cfg.value("document1_file", ""), "a.txt") << link;
    EXPECT_EQ(cfg.value("document2_file", ""), "package.zip") << link;
    EXPECT_FALSE(cfg.contains("document3_file")) << link << cfg.dump();
    const std::string page = read_file(dir / "index.html");
    EXPECT_EQ(page.find("@package.zip"), page.rfind("@package.zip")) << link;
  }
}

TEST(ShelvicRun, EndOfInputAtATitleAbortsWithTheConfigurationUnchanged) {
  TempDir dir;
  make_folder(dir);
  const auto r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path(), "1\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "Aborted!"));
  EXPECT_EQ(read_file(dir / "config.yaml"), kConfig);
  EXPECT_FALSE(fs::exists(dir / ".config.yaml.bak"));
  EXPECT_FALSE(fs::exists(dir / "index.html"));
}

// Run in a folder where none of the documents exist, a configuration of documents only loses
// every key; it must stay a configuration the next run works with, comments kept.
TEST(ShelvicRun, ARunThatRemovesEveryDocumentLeavesAUsableConfiguration) {
  TempDir dir;
  const std::string cfg =
      "# documents of the team\ndocument1_title: Guide\ndocument1_file: guide_v1.html\n";
  write_file(dir / "config.yaml", cfg);
  auto r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string after = read_file(dir / "config.yaml");
  EXPECT_TRUE(has(after, "# documents of the team")) << after;
  EXPECT_EQ(vaskit::config::parse_yaml(after), vaskit::config::json::object()) << after;

  fs::remove(dir / "index.html");
  write_file(dir / "guide_v2.html", "back again");
  r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path(), "1\nGuide\nIt is back\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "Done: Successfully generated HTML index at: ./index.html")) << r.out;
  EXPECT_TRUE(fs::exists(dir / "index.html"));
  EXPECT_EQ(load_yaml(dir / "config.yaml").value("document1_file", ""), "guide_v2.html");
}

TEST(ShelvicRun, ValueThatIsNotTextIsRefusedByName) {
  TempDir dir;
  write_file(dir / "a.html", "a");
  const std::string cfg = "document1_title: [a, b]\ndocument1_file: a.html\n";
  write_file(dir / "config.yaml", cfg);
  const auto r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "Error: 設定值 document1_title 必須是文字"));
  EXPECT_EQ(read_file(dir / "config.yaml"), cfg);
  EXPECT_FALSE(fs::exists(dir / "index.html"));
  EXPECT_FALSE(fs::exists(dir / "package.zip"));
}

TEST(ShelvicRun, PackageNeverReplacesAFileThatIsNotAnArchive) {
  TempDir dir;
  write_file(dir / "guide.html", "g");
  write_file(dir / "package_v1.zip", "my own notes");
  write_file(dir / "package_v2.zip", "a newer member of the family");
  const std::string cfg = "document1_file: guide.html\ndownload_link: package_v1.zip\n";
  write_file(dir / "config.yaml", cfg);
  const auto r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, "❌ 打包壓縮檔失敗: package_v1.zip 已存在且不是 zip 壓縮檔，不會覆寫。"));
  EXPECT_EQ(read_file(dir / "package_v1.zip"), "my own notes");
  // A failed packing leaves the link alone (it is not re-pointed to package_v2.zip).
  EXPECT_EQ(read_file(dir / "config.yaml"), cfg);
  EXPECT_TRUE(
      has(read_file(dir / "index.html"), "<a href=\"package_v1.zip\" class=\"download-btn\""));
}

TEST(ShelvicRun, DownloadStaysOnThePackageBesideANewerFamilyMember) {
  TempDir dir;
  write_file(dir / "guide.html", "g");
  write_file(dir / "package_v2.zip", "the user's own archive");
  write_file(dir / "config.yaml", "download_link: package.zip\n");
  for (int run = 0; run < 2; ++run) {
    const auto r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "config.yaml"), "download_link: package.zip\n") << "run " << run;
    EXPECT_EQ(read_file(dir / "package_v2.zip"), "the user's own archive");
    EXPECT_TRUE(
        has(read_file(dir / "index.html"), "<a href=\"package.zip\" class=\"download-btn\""));
  }
  EXPECT_EQ(zip_names(dir / "package.zip"),
            (std::set<std::string>{"guide.html", "package_v2.zip"}));
}

TEST(ShelvicRun, ADocumentMayNameThePackageBeforeItExists) {
  TempDir dir;
  write_file(dir / "a.txt", "a");
  const std::string cfg = "download_link: package.zip\n"
                          "document1_title: Everything\n"
                          "document1_file: package.zip\n"
                          "document1_description: All files\n";
  write_file(dir / "config.yaml", cfg);
  const auto r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path(), "\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(has(r.err, "❌")) << r.err;
  EXPECT_EQ(zip_names(dir / "package.zip"), (std::set<std::string>{"a.txt"}));
  EXPECT_EQ(read_file(dir / "config.yaml"), cfg);
  // Nothing changed, so nothing was rewritten and no backup was made.
  EXPECT_FALSE(fs::exists(dir / ".config.yaml.bak"));
  EXPECT_TRUE(has(read_file(dir / "index.html"), "Everything</h2>"));
}

TEST(ShelvicRun, PackageNeverReplacesAnotherVersionOfAListedDocument) {
  TempDir dir;
  write_file(dir / "notes.txt", "n");
  make_zip(dir / "report_v1.zip", "first.txt");
  make_zip(dir / "report_v2.zip", "second.txt");
  const std::string v2 = read_file(dir / "report_v2.zip");
  write_file(dir / "config.yaml", "document1_title: Report\n"
                                  "document1_file: report_v1.zip\n"
                                  "document1_description: Quarterly\n"
                                  "download_link: report_v2.zip\n");
  const auto r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path(), "\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, "❌ 打包壓縮檔失敗: report_v2.zip 是索引中文件 report_v1.zip "
                         "的最新版本，不會被壓縮包覆寫。"))
      << r.err;
  EXPECT_EQ(read_file(dir / "report_v2.zip"), v2);
  const auto cfg = load_yaml(dir / "config.yaml");
  EXPECT_EQ(cfg["download_link"], "report_v2.zip");
  // The document follows its own family to the user's newer archive.
  EXPECT_EQ(cfg["document1_file"], "report_v2.zip");
}

TEST(ShelvicRun, DownloadLinkNamesThePackageWhereItWasWritten) {
  TempDir dir;
  write_file(dir / "a.txt", "a");
  write_file(dir / "config.yaml", "download_link: dist/package.zip  # the bundle\n");
  const auto r = run_process(kShelvic, {"-c", "config.yaml"}, dir.path(), "\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(zip_names(dir / "package.zip"), (std::set<std::string>{"a.txt"}));
  EXPECT_FALSE(fs::exists(dir / "dist"));
  EXPECT_EQ(read_file(dir / "config.yaml"), "download_link: \"package.zip\"  # the bundle\n");
  EXPECT_TRUE(has(read_file(dir / "index.html"), "<a href=\"package.zip\" class=\"download-btn\""));
}

TEST(ShelvicRun, UnlistedFileNamesAreLoggedQuotedWithInvisibleCharactersEscaped) {
  TempDir dir;
  for (const char *f : {"it's.txt", "a\u00a0b.txt", "zero\u200bwidth.md", "tab\tname.md",
                        "both'\"q.md", "\u9031\u5831.md"})
    write_file(dir / f, "x");
  const auto r = run_process(kShelvic, {}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char *shown : {"\"it's.txt\"", "'a\\xa0b.txt'", "'zero\\u200bwidth.md'",
                            "'tab\\tname.md'", "'both\\'\"q.md'", "'\u9031\u5831.md'"})
    EXPECT_TRUE(has(r.err, shown)) << shown << "\n" << r.err;
}

TEST(ShelvicRun, ReadOnlyFolderGivesThePageFailureAndTouchesNothing) {
  TempDir dir;
  make_folder(dir);
  fs::remove_all(dir / "vasleaf");
  const std::string before = read_file(dir / "config.yaml");
  ::chmod(dir.path().c_str(), 0555);
  for (const auto &e : fs::directory_iterator(dir.path()))
    ::chmod(e.path().c_str(), 0644);
  // Root writes anywhere: run as an unprivileged user then.
  std::vector<std::string> args = {"-c", "config.yaml"};
  std::string exe = kShelvic;
  if (::geteuid() == 0) {
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", kShelvic});
    exe = "/usr/bin/setpriv";
  }
  const auto r = run_process(exe, args, dir.path());
  ::chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(has(r.err, "Error: Failed to generate index file: ")) << r.err;
  EXPECT_TRUE(has(r.err, "❌ 打包壓縮檔失敗"));
  EXPECT_EQ(read_file(dir / "config.yaml"), before);
  EXPECT_FALSE(fs::exists(dir / "package.zip"));
  EXPECT_FALSE(fs::exists(dir / "index.html"));
  EXPECT_FALSE(fs::exists(dir / ".config.yaml.bak"));
}

TEST(ShelvicCommand, HelpTemplateAndConfigurationChoice) {
  TempDir dir;
  const auto help = run_process(kHost, {"shelvic", "--help"}, dir.path());
  ASSERT_EQ(help.status, 0);
  EXPECT_TRUE(has(help.out, "Usage: vas-kit shelvic [OPTIONS]\n\n  Generate an HTML index page "
                            "from a YAML configuration file.\n"));
  EXPECT_TRUE(has(help.out, "  Examples:\n    1. Generate config template:\n       vas-kit "
                            "shelvic --generate-config\n\n    2. Run with configuration:\n"));
  EXPECT_TRUE(has(help.out, "    4. Interactive config selection (when -c is provided without "
                            "arguments):\n       vas-kit shelvic -c\n"));
  EXPECT_TRUE(has(help.out,
                  "\nOptions:\n"
                  "  -c, --config PATH  Specify the YAML config file path. If -c is provided\n"
                  "                     without arguments, it will trigger interactive config\n"
                  "                     selection.\n"
                  "  --generate-config  Generate config_shelvic_template.yaml\n"
                  "  --debug            Enable debug mode\n"
                  "  --help             Show this message and exit.\n"))
      << help.out;

  const auto gen = run_process(kShelvic, {"--generate-config", "-c", "missing.yaml"}, dir.path());
  EXPECT_EQ(gen.status, 0);
  EXPECT_TRUE(has(gen.out, "✅ Success! Template file created at: "));
  const std::string tmpl = read_file(dir / "config_shelvic_template.yaml");
  EXPECT_EQ(tmpl,
            "document_title: \"[Project Name] Documentation\"\n"
            "document_description: \"Welcome to the [Project Name] documentation. Please select "
            "a document below to explore the details.\"\n"
            "download_link: \"package.zip\"\n"
            "\n"
            "document1_title: \"[template_doc]\"\n"
            "document1_file: \"template_doc.html\"\n"
            "document1_description: \"[Brief description of the document's purpose and "
            "contents.]\"\n"
            "\n"
            "document2_title: \"[template_flow_chart]\"\n"
            "document2_file: \"template_flow_chart.html\"\n"
            "document2_description: \"[Brief description of the document's purpose and "
            "contents.]\"\n"
            "\n"
            "document3_title: \"[log text file]\"\n"
            "document3_file: \"log.txt\"\n"
            "document3_description: \"Brief description of the log text purpose and "
            "contents.\"\n"
            "\n"
            "document4_title: \"log zip file\"\n"
            "document4_file: \"log.zip\"\n"
            "document4_description: \"Brief description of the log zip file purpose and "
            "contents.\"\n"
            "\n"
            "document5_title: \"download from R2\"\n"
            "document5_file: \"download/hello.txt\"\n"
            "document5_description: \"Brief description of the document3 purpose and "
            "contents.\"\n");
  fs::remove(dir / "config_shelvic_template.yaml");

  const auto none = run_process(kShelvic, {"-c"}, dir.path());
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(has(none.err, "❌ Error: No configuration file selected or found."));

  const auto missing = run_process(kShelvic, {"-c", "nope.yaml"}, dir.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(has(missing.err, "❌ Error: Config file 'nope.yaml' does not exist."));

  // One candidate is taken without asking, even when -c is followed by another option.
  write_file(dir / "config_one.yaml", "document_title: One\n");
  const auto single = run_process(kShelvic, {"-c", "--debug"}, dir.path());
  EXPECT_EQ(single.status, 0) << single.err;
  EXPECT_TRUE(has(single.err, "💬 偵測到僅有單一設定檔，已自動選用：./config_one.yaml"));
  EXPECT_TRUE(has(read_file(dir / "index.html"), "<h1>One</h1>"));

  // Several: a choice; Enter cancels.
  write_file(dir / "config_two.yml", "document_title: Two\n");
  const auto cancel = run_process(kShelvic, {"-c"}, dir.path(), "\n");
  EXPECT_EQ(cancel.status, 1);
  EXPECT_TRUE(has(cancel.out, "--- 💬 偵測到現有設定檔，請選擇一個使用 (直接按 Enter 取消) ---"));
  const auto pick = run_process(kShelvic, {"-c"}, dir.path(), "2\n");
  EXPECT_EQ(pick.status, 0) << pick.err;
  EXPECT_TRUE(has(read_file(dir / "index.html"), "<h1>Two</h1>"));

  // Several YAML documents in one file: refused as the README says, nothing written.
  const std::string two = "document_title: One\n---\ndocument_title: Two\n";
  write_file(dir / "two.yaml", two);
  fs::remove(dir / "index.html");
  const auto several = run_process(kShelvic, {"-c", "two.yaml"}, dir.path());
  EXPECT_EQ(several.status, 1);
  EXPECT_TRUE(has(several.err, "❌ 無法解析 two.yaml")) << several.err;
  EXPECT_EQ(read_file(dir / "two.yaml"), two);
  EXPECT_FALSE(fs::exists(dir / "index.html"));

  write_file(dir / "empty.yaml", "# nothing yet\n");
  const auto empty = run_process(kShelvic, {"-c", "empty.yaml"}, dir.path());
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out + empty.err, "");
}

TEST(ShelvicCommand, DefaultModeOnlyLogsUnlistedFilesAndWritesNoConfiguration) {
  TempDir dir;
  write_file(dir / "log.txt", "l");
  write_file(dir / "extra.md", "e");
  write_file(dir / "caf\xe9.txt", "a Latin-1 name");
  const auto r = run_process(kShelvic, {}, dir.path(), "1\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, "['extra.md']"));
  EXPECT_FALSE(has(r.out, "偵測到未被記載的實體檔案"));
  std::set<std::string> files;
  for (const auto &e : fs::directory_iterator(dir.path()))
    files.insert(e.path().filename().string());
  EXPECT_EQ(files, (std::set<std::string>{"log.txt", "extra.md", "caf\xe9.txt", "index.html",
                                          "package.zip"}));
  EXPECT_TRUE(has(read_file(dir / "index.html"), "<h2>📟 [log text file]</h2>"));
  // A name that is not UTF-8 is packed under its own bytes and shown with U+FFFD.
  EXPECT_EQ(zip_names(dir / "package.zip"),
            (std::set<std::string>{"log.txt", "extra.md", "caf\xe9.txt"}));
  EXPECT_TRUE(has(r.err, "✅ 已加入壓縮包: caf\uFFFD.txt"));
  EXPECT_FALSE(has(read_file(dir / "index.html"), "caf"));
}

} // namespace

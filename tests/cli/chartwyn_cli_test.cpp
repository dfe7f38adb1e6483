// End-to-end tests of chartwyn: a fake renderer reaches every branch of the diagram pass; the real
// Mermaid renderer (labelled "external") proves the site works with it.
#include "support/files.hpp"
#include "support/images.hpp"
#include "support/process.hpp"

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using vaskit::testing::process_gone;
using vaskit::testing::read_file;
using vaskit::testing::run_process;
using vaskit::testing::TempDir;
using vaskit::testing::wait_for_pid_file;
using vaskit::testing::write_file;

const std::string kBin = VASKIT_BIN_DIR;
const std::string kChartwyn = kBin + "/vaskit-chartwyn";
const std::string kHost = kBin + "/vas-kit";

bool contains(const std::string &hay, const std::string &needle) {
  return hay.find(needle) != std::string::npos;
}

std::size_t count(const std::string &hay, const std::string &needle) {
  std::size_t n = 0;
  for (auto p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1))
    ++n;
  return n;
}

// A folder holding a fake `mmdc` whose behaviour a test chooses by the diagram's text:
// "FAIL" exits 3, "SILENT" exits 0 without writing, "BADUTF8" writes invalid UTF-8, "SLEEP"
// hangs, "SLOW" takes a moment, "BROWSER" ignores SIGTERM and starts a "browser" in a session of
// its own (its pid in "<source>.pid") that ignores SIGTERM too, then waits for it; anything else
// writes an SVG holding the diagram text and the arguments it was given. Like the real renderer
// it reads a path that starts with "-" as an option, and it makes a browser profile folder in
// its temporary folder, which is the fake's own `tmp` unless the run gives it another.
struct FakeRenderer {
  TempDir bin;
  TempDir tmp;
  FakeRenderer() {
    const fs::path script = bin / "mmdc";
    write_file(script, R"(#!/bin/sh
[ "$1" = -i ] && [ "$3" = -o ] || { echo "bad arguments: $*" >&2; exit 9; }
case "$2" in -*) echo "unknown option: $2" >&2; exit 9 ;; esac
case "$4" in -*) echo "unknown option: $4" >&2; exit 9 ;; esac
mktemp -d "$TMPDIR/puppeteer_dev_chrome_profile-XXXXXX" >/dev/null
src=$(cat "$2")
case "$src" in
  *FAIL*) echo "Parse error on line 1" >&2; exit 3 ;;
  *SILENT*) exit 0 ;;
  *BADUTF8*) printf '<svg>\377\376</svg>' > "$4"; exit 0 ;;
  *SLEEP*) sleep 60; exit 0 ;;
  *SLOW*) sleep 0.5 ;;
  *BROWSER*)
    trap '' TERM
    setsid sh -c 'trap "" TERM; echo $$ > "$0.pid"; exec sleep 60' "$2" </dev/null >/dev/null 2>&1 &
    wait; exit 0 ;;
esac
echo "drawn $2" >&2
printf '<svg id="fake">%s|args=%s</svg>' "$src" "$#" > "$4"
)");
    fs::permissions(script, fs::perms::owner_all);
  }
  std::vector<std::string> env() const {
    return {"PATH=" + bin.path().string() + ":/usr/bin:/bin", "TMPDIR=" + tmp.path().string()};
  }
};

void write_config(const fs::path &dir, const nlohmann::ordered_json &section) {
  write_file(dir / "cfg.json", nlohmann::ordered_json{{"config", section}}.dump(2));
}

nlohmann::ordered_json site_config() {
  return {{"input_folder", "in"},
          {"output_folder", "site/out"},
          {"index_title", "Docs & <Things>"},
          {"doc_titles", {{"README.md", "Read me first"}}},
          {"chart_titles", {{"ab.mmd", "A to B"}}}};
}

// Starts vaskit-chartwyn -c cfg.json in `cwd` with `env` added; its output goes to out.txt and
// err.txt there.
pid_t start_chartwyn(const fs::path &cwd, const std::vector<std::string> &env) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0)
      ::_exit(127);
    for (const auto &e : env)
      ::putenv(const_cast<char *>(e.c_str()));
    const int out = ::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execl(kChartwyn.c_str(), kChartwyn.c_str(), "-c", "cfg.json", static_cast<char *>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// The names of a folder's entries ending in ".mmd" in any letter case, in the order the file
// system lists them (the order the run goes through them).
std::vector<std::string> listed_diagrams(const fs::path &dir) {
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    std::string ext = n.size() >= 4 ? n.substr(n.size() - 4) : "";
    for (char &c : ext)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".mmd")
      names.push_back(n);
  }
  return names;
}

TEST(ChartwynCommand, TemplateAndMissingConfig) {
  TempDir dir;
  auto gen = run_process(kHost, {"chartwyn", "--generate-config", "-c", "/nonexistent-is-refused"},
                         dir.path());
  // The path check of -c runs before the command body.
  EXPECT_EQ(gen.status, 2);

  write_file(dir / "some.json", "{");
  gen = run_process(kHost, {"chartwyn", "--generate-config", "-c", "some.json"}, dir.path());
  ASSERT_EQ(gen.status, 0) << gen.err;
  const fs::path tmpl = dir / "config_chartwyn_template.json";
  EXPECT_EQ(gen.out, "Success! Template file created at: " + fs::canonical(tmpl).string() + "\n");
  const auto j = nlohmann::ordered_json::parse(read_file(tmpl));
  const auto &c = j.at("config");
  std::vector<std::string> keys;
  for (const auto &[k, v] : c.items())
    keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"input_folder", "output_folder", "index_title",
                                            "doc_titles", "chart_titles"}));
  EXPECT_EQ(c.at("chart_titles").begin().key(), "ab.mmd");
  EXPECT_TRUE(contains(read_file(tmpl), "\n    \"config\": {"));

  auto none = run_process(kHost, {"chartwyn"}, dir.path());
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "Error: Please provide a JSON file path using --config or -c.\n"
                      "Hint: Run 'vas-kit chartwyn --generate-config' to get a template.\n");

  auto empty = run_process(kChartwyn, {"-c", ""}, dir.path());
  EXPECT_EQ(empty.status, 2);

  // A file the loader refuses: only the loader's own line, and a failed status.
  auto broken = run_process(kChartwyn, {"-c", "some.json"}, dir.path());
  EXPECT_EQ(broken.status, 1);
  EXPECT_FALSE(contains(broken.out, "[DONE]"));
  EXPECT_FALSE(contains(broken.out, "[ERROR]"));
}

TEST(ChartwynRun, BuildsPagesAndIndexWithTheFakeRenderer) {
  TempDir dir;
  FakeRenderer fake;
  fs::create_directories(dir / "in");
  write_file(dir / "in/README.md",
             "# Hello\n\n| a | b |\n|---|---|\n| 1 | 2 |\n\n```\ncode <x>\n```\n"
             "line one\nline two\n");
  write_file(dir / "in/notes.MD", "plain *text*\n");
  // The suffix test ignores case, the title lookup does not.
  write_file(dir / "in/Guide.MD", "guide\n");
  write_file(dir / "in/ab.mmd", "graph TD; A-->B");
  write_file(dir / "in/a b;touch PWNED.mmd", "graph TD; C-->D");
  write_file(dir / "in/broken.mmd", "FAIL");
  write_file(dir / "in/ignored.txt", "x");
  write_config(dir.path(), site_config());

  auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path(), "", fake.env());
  // One diagram failed: the site is made and the status says that something failed.
  ASSERT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(
      contains(r.out, "\n[DONE] Successfully generated documentation in: site/out/index.html\n"))
      << r.out;
  EXPECT_TRUE(contains(r.err, "Created output directory: site/out"));
  EXPECT_TRUE(contains(r.err, "Processing Markdown: README.md -> Read me first"));
  EXPECT_TRUE(contains(r.err, "Processing Markdown: notes.MD -> notes"));
  EXPECT_TRUE(contains(r.err, "Converting diagram: ab.mmd -> A to B ..."));
  EXPECT_TRUE(contains(r.err, "Failed to convert broken.mmd: Command 'mmdc -i in/broken.mmd -o "
                              "site/out/broken.svg' returned non-zero exit status 3.\n"))
      << r.err;
  EXPECT_TRUE(contains(r.err, "Generating index.html ..."));
  EXPECT_FALSE(fs::exists(dir / "PWNED"));
  EXPECT_FALSE(fs::exists(dir / "in/PWNED"));

  const std::string readme = read_file(dir / "site/out/README.html");
  EXPECT_TRUE(readme.starts_with("\n<!DOCTYPE html>"));
  EXPECT_EQ(count(readme, "Read me first"), 2u);
  EXPECT_TRUE(contains(readme, "<table>"));
  EXPECT_TRUE(contains(readme, "<td>1</td>"));
  EXPECT_TRUE(contains(readme, "<pre><code>code &lt;x&gt;\n</code></pre>"));
  // No hard line breaks for this tool: a single newline stays inside the paragraph.
  EXPECT_TRUE(contains(readme, "line one\nline two")) << readme;
  EXPECT_EQ(count(readme, "href=\"index.html\""), 2u);
  EXPECT_FALSE(contains(readme, "{{"));

  const std::string ab = read_file(dir / "site/out/ab.html");
  EXPECT_TRUE(contains(ab, "<svg id=\"fake\">graph TD; A-->B|args=4</svg>"));
  EXPECT_TRUE(fs::exists(dir / "site/out/ab.svg"));
  EXPECT_TRUE(fs::exists(dir / "site/out/a b;touch PWNED.html"));
  EXPECT_FALSE(fs::exists(dir / "site/out/broken.html"));

  const std::string index = read_file(dir / "site/out/index.html");
  EXPECT_EQ(count(index, "Docs &amp; &lt;Things&gt;"), 2u);
  EXPECT_TRUE(contains(index, "<h2>📁 Docs &amp; &lt;Things&gt;</h2>"));
  EXPECT_TRUE(contains(index, "<h3>Documentation</h3><ul>"));
  EXPECT_TRUE(contains(index, "<li><a href=\"README.html\"><span class=\"icon\">📘</span> Read me "
                              "first</a></li>"));
  EXPECT_TRUE(contains(index, "<h3>Flow Charts</h3><ul>"));
  EXPECT_TRUE(contains(index, "<li><a href=\"ab.html\"><span class=\"icon\">📊</span> A to "
                              "B</a></li>"));
  // A name with a blank and a semicolon links to its page, percent-encoded.
  EXPECT_TRUE(contains(index, "href=\"a%20b%3Btouch%20PWNED.html\""));
  EXPECT_EQ(count(index, "<li>"), 5u);
  EXPECT_FALSE(contains(index, "Not for Guide.MD"));

  // The page frame: both ways back to the index, the title in the header.
  EXPECT_TRUE(contains(readme, "<div class=\"title-text\">Read me first</div>"));
  EXPECT_TRUE(contains(readme, ">← Back</a>"));
  EXPECT_TRUE(contains(readme, ">← Back to Index</a>"));
}

TEST(ChartwynRun, NamesAndTitlesAreEscapedInMarkup) {
  TempDir dir;
  FakeRenderer fake;
  fs::create_directories(dir / "in");
  write_file(dir / "in/q\"<&>.md", "text\n");
  auto cfg = site_config();
  cfg["doc_titles"] = {{"q\"<&>.md", "T <b> & \"q\""}};
  write_config(dir.path(), cfg);
  auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path(), "", fake.env());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string index = read_file(dir / "site/out/index.html");
  EXPECT_TRUE(contains(index, "href=\"q%22%3C%26%3E.html\""));
  EXPECT_TRUE(contains(index, "T &lt;b&gt; &amp; \"q\"</a>"));
  const std::string page = read_file(dir / "site/out/q\"<&>.html");
  EXPECT_TRUE(contains(page, "<title>T &lt;b&gt; &amp; \"q\"</title>"));
  // The log shows the name and title as they are.
  EXPECT_TRUE(contains(r.err, "Processing Markdown: q\"<&>.md -> T <b> & \"q\""));
}

TEST(ChartwynRun, SameStemAndIndexNamesFollowThePassOrder) {
  TempDir dir;
  FakeRenderer fake;
  fs::create_directories(dir / "in");
  write_file(dir / "in/x.md", "markdown x\n");
  write_file(dir / "in/x.mmd", "diagram x");
  write_file(dir / "in/index.md", "markdown index\n");
  write_config(dir.path(), site_config());
  auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path(), "", fake.env());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // The diagram pass runs second, so its page replaces the Markdown page of the same name.
  EXPECT_TRUE(contains(read_file(dir / "site/out/x.html"), "diagram x"));
  const std::string index = read_file(dir / "site/out/index.html");
  EXPECT_EQ(count(index, "href=\"x.html\""), 2u);
  EXPECT_TRUE(contains(index, "href=\"index.html\""));
  EXPECT_FALSE(contains(index, "markdown index"));
}

TEST(ChartwynRun, DiagramErrorsOtherThanRendererFailureEndTheRun) {
  for (const char *kind : {"SILENT", "BADUTF8"}) {
    TempDir dir;
    FakeRenderer fake;
    fs::create_directories(dir / "in");
    write_file(dir / "in/a.md", "a\n");
    write_file(dir / "in/z.mmd", kind);
    write_config(dir.path(), site_config());
    auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path(), "", fake.env());
    EXPECT_EQ(r.status, 1) << kind;
    EXPECT_TRUE(contains(r.out, "\n[ERROR] ")) << kind << r.out;
    EXPECT_FALSE(fs::exists(dir / "site/out/index.html")) << kind;
    EXPECT_TRUE(fs::exists(dir / "site/out/a.html")) << kind; // pages written so far stay
  }
}

TEST(ChartwynRun, HangingRendererIsStoppedAndTheRunGoesOn) {
  TempDir dir;
  FakeRenderer fake;
  fs::create_directories(dir / "in");
  write_file(dir / "in/hang.mmd", "SLEEP");
  write_file(dir / "in/ok.mmd", "graph");
  write_config(dir.path(), site_config());
  auto env = fake.env();
  env.push_back("VASKIT_MMDC_TIMEOUT=1");
  const auto start = std::chrono::steady_clock::now();
  auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path(), "", env);
  // The renderer's whole process group is stopped, not only the renderer itself: nothing keeps
  // the run waiting for the sleeping child.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(contains(r.err, "Failed to convert hang.mmd: ")) << r.err;
  EXPECT_TRUE(contains(r.err, "timed out after 1 seconds"));
  const std::string index = read_file(dir / "site/out/index.html");
  EXPECT_TRUE(contains(index, "href=\"ok.html\""));
  // Only diagrams: only their section.
  EXPECT_TRUE(contains(index, "<h3>Flow Charts</h3>"));
  EXPECT_FALSE(contains(index, "<h3>Documentation</h3>"));
}

// A renderer stopped for any reason (its time is up, chartwyn is interrupted or terminated)
// ends with the browser it started in a session of its own, and its temporary files go too.
TEST(ChartwynRun, AStoppedRendererTakesItsBrowserAndTemporaryFilesWithIt) {
  {
    TempDir dir;
    FakeRenderer fake;
    fs::create_directories(dir / "in");
    write_file(dir / "in/a.mmd", "graph");
    write_file(dir / "in/b.mmd", "BROWSER");
    write_config(dir.path(), site_config());
    auto env = fake.env();
    env.push_back("VASKIT_MMDC_TIMEOUT=1");
    auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path(), "", env);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "Failed to convert b.mmd: Command 'mmdc -i in/b.mmd -o "
                                "site/out/b.svg' timed out after 1 seconds.\n"))
        << r.err;
    EXPECT_TRUE(fs::exists(dir / "site/out/a.html"));
    const pid_t browser = wait_for_pid_file(dir / "in/b.mmd.pid");
    ASSERT_GT(browser, 0);
    EXPECT_TRUE(process_gone(browser)) << "the browser outlived the time-out";
    // The finished renderer's profile and the stopped one's are both gone.
    EXPECT_TRUE(fs::is_empty(fake.tmp.path()));
  }
  for (const int sig : {SIGINT, SIGTERM}) {
    TempDir dir;
    FakeRenderer fake;
    fs::create_directories(dir / "in");
    write_file(dir / "in/b.mmd", "BROWSER");
    write_config(dir.path(), site_config());
    const pid_t run = start_chartwyn(dir.path(), fake.env());
    ASSERT_GT(run, 0);
    const pid_t browser = wait_for_pid_file(dir / "in/b.mmd.pid");
    ASSERT_GT(browser, 0) << sig;
    ::kill(run, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(run, &status, 0), run);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " " << status;
    EXPECT_TRUE(process_gone(browser)) << "the browser outlived signal " << sig;
    EXPECT_TRUE(fs::is_empty(fake.tmp.path())) << sig;
    EXPECT_FALSE(fs::exists(dir / "site/out/index.html"));
  }
}

// Diagrams are rendered side by side but come out in listing order, each with what its renderer
// printed; of two diagrams with one base name the later one's SVG and page stay, as in turn; and
// folders whose names start with "-" reach the renderer as paths, never as options.
TEST(ChartwynRun, DiagramsComeOutInListingOrderAndPathsAreNeverOptions) {
  TempDir dir;
  FakeRenderer fake;
  fs::create_directories(dir / "-in");
  write_file(dir / "-in/slow.mmd", "SLOW one");
  write_file(dir / "-in/bad.mmd", "FAIL");
  write_file(dir / "-in/quick.mmd", "quick two");
  write_file(dir / "-in/same.mmd", "SLOW lower");
  write_file(dir / "-in/same.MMD", "upper");
  write_config(dir.path(), {{"input_folder", "-in"}, {"output_folder", "-out"}});
  auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path(), "", fake.env());
  EXPECT_EQ(r.status, 1) << r.out << r.err; // bad.mmd failed
  EXPECT_TRUE(contains(r.out, "[DONE] Successfully generated documentation in: -out/index.html"))
      << r.out << r.err;
  EXPECT_FALSE(fs::exists(dir / "ut"));

  std::string expected;
  std::string last_same;
  for (const auto &name : listed_diagrams(dir / "-in")) {
    const std::string stem = name.substr(0, name.size() - 4);
    expected += "Converting diagram: " + name + " -> " + stem + " ...\n";
    if (name == "bad.mmd") {
      expected += "Parse error on line 1\nFailed to convert bad.mmd: Command 'mmdc -i "
                  "./-in/bad.mmd -o ./-out/bad.svg' returned non-zero exit status 3.\n";
      continue;
    }
    expected += "drawn ./-in/" + name + "\n";
    if (stem == "same")
      last_same = name;
    if (stem != "same") {
      EXPECT_TRUE(contains(read_file(dir / "-out" / (stem + ".html")),
                           read_file(dir / "-out" / (stem + ".svg"))))
          << name;
    }
  }
  const auto from = r.err.find("Converting diagram: ");
  ASSERT_NE(from, std::string::npos) << r.err;
  EXPECT_EQ(r.err.substr(from, r.err.find("Generating index.html") - from), expected);
  const std::string kept = last_same == "same.mmd" ? "SLOW lower" : "upper";
  EXPECT_TRUE(contains(read_file(dir / "-out/same.svg"), kept));
  EXPECT_TRUE(contains(read_file(dir / "-out/same.html"), kept));
  EXPECT_TRUE(fs::is_empty(fake.tmp.path()));
}

TEST(ChartwynRun, BadInputAndEmptyFolders) {
  TempDir dir;
  FakeRenderer fake;
  // Not UTF-8: that file fails, the run goes on.
  fs::create_directories(dir / "in");
  write_file(dir / "in/bad.md", "\xff\xfe text\n");
  write_file(dir / "in/good.md", "good\n");
  write_config(dir.path(), site_config());
  auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path(), "", fake.env());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "Failed to process bad.md: ")) << r.err;
  EXPECT_TRUE(contains(r.out, "[DONE]"));
  EXPECT_FALSE(fs::exists(dir / "site/out/bad.html"));
  EXPECT_FALSE(contains(read_file(dir / "site/out/index.html"), "bad.html"));

  // Every file fails (a folder named like a Markdown file, a failing diagram): nothing made,
  // and that is an error, not an empty folder.
  TempDir allfail;
  fs::create_directories(allfail / "in/folder.md");
  write_file(allfail / "in/z.mmd", "FAIL");
  write_config(allfail.path(), site_config());
  r = run_process(kChartwyn, {"-c", "cfg.json"}, allfail.path(), "", fake.env());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "Failed to process folder.md: ")) << r.err;
  EXPECT_TRUE(contains(r.err, "Failed to convert z.mmd: "));
  EXPECT_EQ(r.out, "\n[ERROR] No page was made: 2 of 2 .md and .mmd files failed.\n");
  EXPECT_FALSE(fs::exists(allfail / "site/out/index.html"));

  // An input folder that is a dangling link does not exist.
  TempDir dangling;
  fs::create_symlink(dangling / "gone", dangling / "in");
  write_config(dangling.path(), site_config());
  r = run_process(kChartwyn, {"-c", "cfg.json"}, dangling.path(), "", fake.env());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "\n[ERROR] Input folder not found: in\n");
  EXPECT_FALSE(fs::exists(dangling / "site"));

  // A title that is not text ends the run when its file comes up.
  TempDir badtitle;
  fs::create_directories(badtitle / "in");
  write_file(badtitle / "in/a.md", "a\n");
  auto cfg = site_config();
  cfg["doc_titles"] = {{"a.md", 5}, {"absent.md", 6}};
  write_config(badtitle.path(), cfg);
  r = run_process(kChartwyn, {"-c", "cfg.json"}, badtitle.path(), "", fake.env());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "\n[ERROR] config.doc_titles[\"a.md\"] must be text, got 5\n");
  EXPECT_FALSE(fs::exists(badtitle / "site/out/index.html"));

  // Empty folder: output created, no index, a warning and status 0.
  TempDir empty;
  fs::create_directories(empty / "in");
  write_config(empty.path(), site_config());
  r = run_process(kChartwyn, {"-c", "cfg.json"}, empty.path(), "", fake.env());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n[WARNING] No .md or .mmd files were found in the input folder.\n");
  EXPECT_TRUE(fs::is_directory(empty / "site/out"));
  EXPECT_FALSE(fs::exists(empty / "site/out/index.html"));

  // Missing input folder: the error line, status 1, no output folder.
  TempDir missing;
  write_config(missing.path(), site_config());
  r = run_process(kChartwyn, {"-c", "cfg.json"}, missing.path(), "", fake.env());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "\n[ERROR] Input folder not found: in\n");
  EXPECT_FALSE(fs::exists(missing / "site"));

  // Title tables that are not mappings, folders that are not text: one line, status 1.
  for (const auto &[key, value] : std::vector<std::pair<std::string, nlohmann::ordered_json>>{
           {"doc_titles", nlohmann::ordered_json::array({"x"})},
           {"chart_titles", "x"},
           {"input_folder", 5}}) {
    TempDir bad;
    fs::create_directories(bad / "in");
    auto cfg = site_config();
    cfg[key] = value;
    write_config(bad.path(), cfg);
    r = run_process(kChartwyn, {"-c", "cfg.json"}, bad.path(), "", fake.env());
    EXPECT_EQ(r.status, 1) << key;
    EXPECT_TRUE(contains(r.out, "[ERROR] config." + key)) << r.out;
    EXPECT_FALSE(fs::exists(bad / "site")) << key;
  }
}

TEST(ChartwynRun, MissingRendererFailsFirst) {
  TempDir dir;
  TempDir emptybin;
  fs::create_directories(dir / "in");
  write_file(dir / "in/a.md", "a\n");
  write_config(dir.path(), site_config());
  auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path(), "",
                       {"PATH=" + emptybin.path().string()});
  const std::string msg = "Mermaid CLI ('mmdc') is not installed or not in PATH.\n"
                          "Please install it via: npm install -g @mermaid-js/mermaid-cli";
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "\n[ERROR] " + msg + "\n");
  EXPECT_TRUE(contains(r.err, msg));
  EXPECT_FALSE(fs::exists(dir / "site"));
}

TEST(ChartwynRun, DefaultsApplyWhenKeysAreAbsent) {
  TempDir dir;
  FakeRenderer fake;
  fs::create_directories(dir / "data_chartwyn");
  write_file(dir / "data_chartwyn/README.md", "r\n");
  write_config(dir.path(), nlohmann::ordered_json::object());
  auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path(), "", fake.env());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(contains(r.out, "./data_chartwyn/html_out/index.html"));
  // Without a title table the base name is the title.
  EXPECT_TRUE(contains(read_file(dir / "data_chartwyn/html_out/index.html"),
                       "<title>Project Documentation</title>"));
  EXPECT_TRUE(
      contains(read_file(dir / "data_chartwyn/html_out/README.html"), "<title>README</title>"));
}

// The real renderer, as the project's set-up installs it, and the site seen in a browser.
TEST(ChartwynExternal, RealMermaidRendererAndBrowser) {
  TempDir dir;
  fs::create_directories(dir / "in");
  write_file(dir / "in/README.md",
             "# Guide\n\n| k | v |\n|---|---|\n| a | 1 |\n\n```sh\nmake\n```\n");
  write_file(dir / "in/test.md", "Some *text*.\n");
  write_file(dir / "in/ab.mmd", "graph TD\n  Alpha[Alpha node] --> Beta[Beta node]\n");
  write_file(dir / "in/cd.mmd", "sequenceDiagram\n  Carol->>Dave: hello\n");
  write_config(dir.path(),
               {{"input_folder", "in"},
                {"output_folder", "out"},
                {"index_title", "Site"},
                {"doc_titles", {{"README.md", "README (v0.1)"}}},
                {"chart_titles", {{"ab.mmd", "A to B Flow"}, {"cd.mmd", "C to D Flow"}}}});
  auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_TRUE(contains(r.out, "[DONE]")) << r.out << r.err;
  for (const auto &[page, label] : {std::pair{"ab.html", "Alpha node"}, {"cd.html", "Carol"}}) {
    const std::string html = read_file(dir / "out" / page);
    const auto svg = html.find("<svg");
    ASSERT_NE(svg, std::string::npos) << page;
    EXPECT_TRUE(contains(html.substr(svg), label)) << page;
  }
  const std::string index = read_file(dir / "out/index.html");
  EXPECT_TRUE(contains(index, "A to B Flow"));
  EXPECT_TRUE(contains(index, "C to D Flow"));
  EXPECT_TRUE(contains(index, "README (v0.1)"));
  EXPECT_TRUE(contains(index, "<h3>Documentation</h3>"));
  EXPECT_TRUE(contains(index, "<h3>Flow Charts</h3>"));

  // The diagram page as a browser shows it, against the same page without its diagram. The
  // screenshots stay in the build's test output folder for a person to look at.
  const fs::path shots = fs::path(kBin).parent_path() / "test-output" / "chartwyn";
  fs::create_directories(shots);
  std::string without = read_file(dir / "out/ab.html");
  without.erase(without.find("<svg"), without.rfind("</svg>") + 6 - without.find("<svg"));
  write_file(dir / "out/ab_without.html", without);
  // Mermaid fills its flowchart boxes lavender; the page frame has only greys.
  auto lavender_pixels = [&](const std::string &page, const std::string &png) {
    const fs::path shot = shots / png;
    fs::remove(shot);
    auto browser = run_process("/usr/bin/chromium",
                               {"--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                                "--window-size=1000,800", "--screenshot=" + shot.string(),
                                "file://" + (dir / "out" / page).string()},
                               dir.path());
    EXPECT_EQ(browser.status, 0) << browser.err;
    const auto px = vaskit::testing::read_pixels(shot);
    std::size_t n = 0;
    for (int y = 0; y < px.height; ++y)
      for (int x = 0; x < px.width; ++x) {
        const auto c = px.at(x, y);
        n += (c[2] - c[0] > 12 && c[2] - c[1] > 12) ? 1 : 0;
      }
    return n;
  };
  const std::size_t with_diagram = lavender_pixels("ab.html", "ab.png");
  const std::size_t frame_only = lavender_pixels("ab_without.html", "ab_without.png");
  // Two boxes of about 150 by 50 pixels each.
  EXPECT_GT(with_diagram, 5000u);
  EXPECT_LT(frame_only, 100u);
}

// The real renderer on a folder with a broken diagram among good ones, written to a folder
// whose name starts with "-": every good diagram gets its SVG and page, the broken one its
// failure line, all in listing order, and the renderers leave nothing in their temporary folder.
TEST(ChartwynExternal, ABrokenDiagramAmongGoodOnesGetsItsOwnFailureLine) {
  TempDir dir, tmp;
  const std::map<std::string, std::pair<std::string, std::string>> diagrams = {
      {"flow.mmd", {"graph TD\n  Alpha[Alpha node] --> Beta[Beta node]\n", "Alpha node"}},
      {"talk.mmd", {"sequenceDiagram\n  Carol->>Dave: hello\n", "Carol"}},
      {"broken.mmd", {"graph TD\n  A--->>>\n", ""}},
      {"pets.mmd", {"pie title Pets\n  \"Dogs\" : 386\n  \"Cats\" : 85\n", "Dogs"}},
      {"states.mmd", {"stateDiagram-v2\n  [*] --> Still\n  Still --> Moving\n", "Moving"}},
  };
  for (const auto &[name, d] : diagrams)
    write_file(dir / "in" / name, d.first);
  write_config(dir.path(), {{"input_folder", "in"}, {"output_folder", "-out"}});
  // A TMPDIR deep enough that the browser's socket would not fit under it.
  const fs::path deep = tmp / std::string(60, 'd');
  fs::create_directories(deep);
  auto r = run_process(kChartwyn, {"-c", "cfg.json"}, dir.path(), "", {"TMPDIR=" + deep.string()});
  EXPECT_EQ(r.status, 1) << r.out << r.err; // one diagram failed
  EXPECT_TRUE(contains(r.out, "[DONE] Successfully generated documentation in: -out/index.html"))
      << r.out << r.err;
  std::size_t at = 0;
  for (const auto &name : listed_diagrams(dir / "in")) {
    const std::string stem = name.substr(0, name.size() - 4);
    const auto line = r.err.find("Converting diagram: " + name + " -> " + stem + " ...\n", at);
    ASSERT_NE(line, std::string::npos) << name << " out of order:\n" << r.err;
    at = line + 1;
    const auto next = r.err.find("Converting diagram: ", at);
    const std::string own = r.err.substr(line, next == std::string::npos ? next : next - line);
    if (name == "broken.mmd") {
      EXPECT_TRUE(contains(own, "\nFailed to convert broken.mmd: Command 'mmdc -i in/broken.mmd -o "
                                "./-out/broken.svg' returned non-zero exit status 1.\n"))
          << own;
      EXPECT_FALSE(fs::exists(dir / "-out/broken.html"));
      continue;
    }
    EXPECT_FALSE(contains(own, "Failed")) << own;
    const std::string svg = read_file(dir / "-out" / (stem + ".svg"));
    EXPECT_TRUE(svg.starts_with("<svg")) << name;
    EXPECT_TRUE(contains(svg, diagrams.at(name).second)) << name;
    EXPECT_TRUE(contains(read_file(dir / "-out" / (stem + ".html")), svg)) << name;
  }
  EXPECT_FALSE(fs::exists(dir / "ut"));
  EXPECT_TRUE(fs::is_empty(deep));
}

// Ctrl-C while the real renderer draws: chartwyn ends by the interrupt, and no browser of the
// run (they all have their profile in the run's temporary folder) nor any of its files is left.
TEST(ChartwynExternal, AnInterruptLeavesNoBrowserAndNoProfile) {
  TempDir dir, tmp;
  for (int i = 0; i < 6; ++i)
    write_file(dir / "in" / ("d" + std::to_string(i) + ".mmd"),
               "graph TD\n  A" + std::to_string(i) + " --> B\n");
  write_config(dir.path(), {{"input_folder", "in"}, {"output_folder", "out"}});
  // Processes whose command line names the temporary folder: the browsers of this run.
  auto browsers = [&] {
    std::vector<pid_t> found;
    for (const auto &e : fs::directory_iterator("/proc")) {
      const std::string pid = e.path().filename().string();
      if (pid.find_first_not_of("0123456789") != std::string::npos)
        continue;
      std::string cmd = read_file(e.path() / "cmdline");
      if (contains(cmd, tmp.path().string()))
        found.push_back(std::stoi(pid));
    }
    return found;
  };
  const pid_t run = start_chartwyn(dir.path(), {"TMPDIR=" + tmp.path().string()});
  ASSERT_GT(run, 0);
  std::vector<pid_t> seen;
  for (int i = 0; i < 3000 && seen.empty(); ++i) {
    seen = browsers();
    if (seen.empty())
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(seen.empty()) << read_file(dir / "err.txt");
  ::kill(run, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(run, &status, 0), run);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  for (const pid_t p : seen)
    EXPECT_TRUE(process_gone(p)) << "browser " << p << " outlived the interrupt";
  EXPECT_TRUE(browsers().empty());
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

} // namespace

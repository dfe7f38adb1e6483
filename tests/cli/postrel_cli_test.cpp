// End-to-end tests of postrel: the built tool writes real .eml drafts, read back by Python's
// email package; a fake agent script stands in for the AI agent.
#include "support/fifo.hpp"
#include "support/files.hpp"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using vaskit::testing::read_file;
using vaskit::testing::run_process;
using vaskit::testing::TempDir;
using vaskit::testing::write_file;
namespace stdfs = std::filesystem;
using json = nlohmann::json;

const std::string kHost = std::string(VASKIT_BIN_DIR) + "/vas-kit";
const std::vector<std::string> kNoOpener = {"VASKIT_MAIL_OPENER=none"};

bool has(const std::string &hay, const std::string &needle) {
  return hay.find(needle) != std::string::npos;
}

vaskit::testing::ProcessResult postrel(const TempDir &dir, std::vector<std::string> args,
                                       const std::string &input = "",
                                       std::vector<std::string> env = kNoOpener) {
  args.insert(args.begin(), "postrel");
  return run_process(kHost, args, dir.path(), input, env);
}

// The draft as Python's email package reads it: headers, and each leaf part's type, file
// name, text (text parts) and SHA-256 of the decoded bytes.
json read_eml(const stdfs::path &file) {
  static const char *const script = R"(
import email, email.policy, hashlib, json, sys
m = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.default)
parts = []
for p in m.walk():
    if p.is_multipart():
        continue
    data = p.get_payload(decode=True)
    parts.append({'type': p.get_content_type(), 'name': p.get_filename() or '',
                  # MIME writes text with CR LF line ends.
                  'text': p.get_content().replace('\r\n', '\n') if p.get_content_maintype() == 'text' and not p.get_filename() else '',
                  'sha': hashlib.sha256(data).hexdigest()})
hdr = lambda k: str(m[k]) if m[k] is not None else None
print(json.dumps({'unsent': hdr('X-Unsent'), 'subject': hdr('Subject'), 'bcc': hdr('Bcc'),
                  'to': [a.addr_spec for a in m['To'].addresses] if m['To'] else [],
                  'to_names': [a.display_name for a in m['To'].addresses] if m['To'] else [],
                  'cc': [a.addr_spec for a in m['Cc'].addresses] if m['Cc'] else [],
                  'outer': m.get_content_type(), 'parts': parts}))
)";
  const auto r = run_process("/usr/bin/python3", {"-c", script, file.string()}, file.parent_path());
  if (r.status != 0)
    throw std::runtime_error("python could not read " + file.string() + ": " + r.err);
  return json::parse(r.out);
}

std::string sha256_of(const stdfs::path &file) {
  const auto r = run_process("/usr/bin/sha256sum", {file.string()}, file.parent_path());
  return r.out.substr(0, 64);
}

const json *part(const json &eml, const std::string &type, const std::string &name = "") {
  for (const auto &p : eml["parts"])
    if (p["type"] == type && p["name"] == name)
      return &p;
  return nullptr;
}

std::size_t eml_count(const stdfs::path &dir) {
  std::size_t n = 0;
  for (const auto &e : stdfs::directory_iterator(dir))
    n += e.path().extension() == ".eml";
  return n;
}

const char *const kReport = "subject: 週報 第49週\n\n"
                            "# 本週\n"
                            "第一行\n第二行\n\n"
                            "| 項目 | 狀態 |\n|---|---|\n| 報表 | 完成 |\n\n"
                            "<div markdown=\"1\">\n**粗體** 在區塊內\n</div>\n";

const char *const kConfig = "config:\n"
                            "  default_group: team\n"
                            "  groups:\n"
                            "    team:\n"
                            "      mail_to: \"Doe, John <john@x.com>; ; b@x.com\"\n"
                            "      mail_cc: [\"c1@x.com\", \"c2@x.com\"]\n"
                            "    weekly_report_to_boss:\n"
                            "      mail_to: boss@x.com\n";

TEST(PostrelCommand, HelpKeepsTheExampleBlocks) {
  TempDir dir;
  const auto r = postrel(dir, {"--help"});
  ASSERT_EQ(r.status, 0);
  for (const char *expected :
       {"Usage: vas-kit postrel [OPTIONS]", "  Convert Markdown content to Outlook email draft.",
        "-a, --attach FILE", "-l, --list-groups", "--no-ai",
        "    2. List all available recipient groups:\n       vas-kit postrel -l\n"
        "       vas-kit postrel -c config.yaml -l\n",
        "       vas-kit postrel -f ./data_postrel/report.md --no-ai\n\n  Features: Postrel - "
        "Convert Markdown content to Outlook email draft.\n    - Converts Markdown content to "
        "formatted HTML email body.\n"}) {
    EXPECT_TRUE(has(r.out, expected)) << expected;
  }
}

TEST(PostrelCommand, HelpIsTheWholeTextOfTheCommand) {
  TempDir dir;
  const auto r = postrel(dir, {"--help"});
  ASSERT_EQ(r.status, 0);
  // Option help in a column and wrapped at 80; the epilog indented, each "\b" block as written
  // (a marker inside a block stays as its own line).
  const std::string expected =
      "Usage: vas-kit postrel [OPTIONS]\n"
      "\n"
      "  Convert Markdown content to Outlook email draft.\n"
      "\n"
      "Options:\n"
      "  -c, --config PATH  Specify the YAML config file path. If -c is provided\n"
      "                     without arguments, it will trigger interactive config\n"
      "                     selection.\n"
      "  -f, --file FILE    Specify the Markdown file path directly.\n"
      "  -a, --attach FILE  Specify attachment file path(s). Can be used multiple\n"
      "                     times.\n"
      "  -g, --group TEXT   Specify the recipient group defined in YAML config.\n"
      "  -l, --list-groups  List all available recipient groups defined in\n"
      "                     configuration.\n"
      "  --generate-config  Generate config_postrel_template.yaml\n"
      "  --no-ai            Disable AI polishing and skip interactive AI option\n"
      "                     selection.\n"
      "  --debug            Enable debug mode\n"
      "  --help             Show this message and exit.\n"
      "\n"
      "  Examples:\n"
      "    1. Generate config template:\n"
      "       vas-kit postrel --generate-config\n"
      "  \b\n"
      "    2. List all available recipient groups:\n"
      "       vas-kit postrel -l\n"
      "       vas-kit postrel -c config.yaml -l\n"
      "  \b\n"
      "    3. Run with configuration:\n"
      "       vas-kit postrel -c config.yaml\n"
      "  \b\n"
      "    4. Run with specified group:\n"
      "       vas-kit postrel -c config.yaml -g management\n"
      "  \b\n"
      "    5. Specify a Markdown file directly:\n"
      "       vas-kit postrel -f ./data_postrel/report.md\n"
      "  \b\n"
      "    6. Specify attachment file(s):\n"
      "       vas-kit postrel -f ./data_postrel/report.md -a ./data_postrel/attachment.pdf\n"
      "  \b\n"
      "    7. Interactive config selection (when -c is provided without arguments):\n"
      "       vas-kit postrel -c\n"
      "  \b\n"
      "    8. Run without AI polishing:\n"
      "       vas-kit postrel -f ./data_postrel/report.md --no-ai\n"
      "\n"
      "  Features: Postrel - Convert Markdown content to Outlook email draft.\n"
      "    - Converts Markdown content to formatted HTML email body.\n"
      "    - Automatically creates Outlook draft and displays it for review.\n"
      "    - Supports configurable recipient groups (mail_to, mail_cc) and mail_content.\n"
      "    - Reads email subject from the first line of Markdown (`subject:{subject_content}`) or "
      "auto-generates via AI.\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
}

TEST(PostrelCommand, TemplateIsTheDefaultConfiguration) {
  TempDir dir;
  auto r = postrel(dir, {"--generate-config", "-c", "missing.yaml", "--debug"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "✅ Success! Template file created at: " +
                             (dir / "config_postrel_template.yaml").string()));
  const std::string text = read_file(dir / "config_postrel_template.yaml");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 15);
  EXPECT_TRUE(has(text, "\n      mail_cc: \n"));
  // The written template and the built-in text list the same groups; the empty mail_cc of the
  // weekly group is null, so no CC line.
  const auto from_file = postrel(dir, {"-c", "config_postrel_template.yaml", "-l"});
  const auto built_in = postrel(dir, {"-l", "-f", "x.md", "--no-ai"});
  ASSERT_EQ(from_file.status, 0);
  EXPECT_EQ(from_file.out, built_in.out);
  EXPECT_TRUE(has(built_in.out, "  🔹 群組名稱: weekly_report_to_boss\n     - 收件人 (To): "));
  EXPECT_FALSE(has(built_in.out.substr(0, built_in.out.find("群組名稱: project_team")), "副本"));
  EXPECT_TRUE(has(built_in.out, "  🔹 群組名稱: empty (預設)\n     - 收件人 (To): (未設定)\n"
                                "     - 內容路徑 (Content): (未設定)\n"));
}

TEST(PostrelCommand, ListingPrintsValuesAsConfigured) {
  TempDir dir;
  write_file(dir / "c.yaml", "config:\n  default_group: b\n  mail_content: s.md\n  groups:\n"
                             "    a:\n      mail_to: [\"x@y\", \"  \", \"z@w\"]\n"
                             "    b:\n      mail_to: \"\"\n      mail_cc: q@r\n");
  const auto r = postrel(dir, {"-c", "c.yaml", "-l", "-g", "nope"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string rule(60, '-');
  EXPECT_EQ(r.out, "\n📋 可用的郵件群組清單 (Available Recipient Groups):\n" + rule +
                       "\n  🔹 群組名稱: a\n     - 收件人 (To): ['x@y', '  ', 'z@w']\n"
                       "     - 內容路徑 (Content): s.md\n" +
                       rule +
                       "\n  🔹 群組名稱: b (預設)\n     - 收件人 (To): (未設定)\n"
                       "     - 副本 (CC): q@r\n     - 內容路徑 (Content): s.md\n" +
                       rule + "\n");
}

TEST(PostrelCommand, BareConfigAsksEvenForOneFile) {
  TempDir dir;
  write_file(dir / "config_mail.yaml", "config:\n  groups:\n    only: {mail_to: o@x.com}\n");
  auto r = postrel(dir, {"-c", "-l"}, "1\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "\n--- 💬 偵測到現有設定檔，請選擇一個使用 (直接按 Enter 取消) ---\n"));
  EXPECT_TRUE(has(r.out, "config_mail.yaml"));
  EXPECT_TRUE(has(r.out, "  🔹 群組名稱: only\n     - 收件人 (To): o@x.com\n"));
  r = postrel(dir, {"-c", "-l"}, "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "❌ Error: No configuration file selected or found."));
  EXPECT_FALSE(has(r.out, "群組名稱"));
}

TEST(PostrelCommand, BadInputEndsWithoutADraft) {
  TempDir dir;
  stdfs::create_directories(dir / "folder");
  write_file(dir / "report.md", kReport);
  write_file(dir / "latin1.md", "subject: caf\xe9\n");
  write_file(dir / "empty.md", "");
  write_file(dir / "list.yaml", "config:\n  groups: [a, b]\n");
  write_file(dir / "scalar.yaml", "config:\n  groups:\n    a: just-an-address@x\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {{"-f", "folder"},
       2,
       "Error: Invalid value for '-f' / '--file': File 'folder' is a directory."},
      {{"-f", "report.md", "-a", "folder"}, 2, "File 'folder' is a directory."},
      {{"-c", "list.yaml", "-f", "report.md"}, 1, "groups 必須是對應表"},
      {{"-c", "scalar.yaml", "-l"}, 1, "群組 [a] 的設定必須是對應表"},
      {{"-c", "nothing.yaml"}, 1, "❌ Error: Config file 'nothing.yaml' does not exist."},
      {{"-c"}, 1, "❌ Error: No configuration file selected or found."},
      {{"-f", "latin1.md", "-g", "empty", "--no-ai"}, 1, "Error: 檔案內容為空。"},
      {{"-f", "empty.md", "-g", "empty", "--no-ai"}, 1, "Error: 檔案內容為空。"},
      {{"-f", "gone.md", "-g", "empty", "--no-ai"}, 1, "Error: 指定的檔案不存在: gone.md"},
  };
  for (const auto &c : cases) {
    const auto r = postrel(dir, c.args);
    EXPECT_EQ(r.status, c.status) << c.err << "\n" << r.err;
    EXPECT_TRUE(has(r.err, c.err)) << r.err;
  }
  EXPECT_EQ(eml_count(dir.path()), 0u);
}

TEST(PostrelDraft, EmlReadBackWithEverything) {
  TempDir dir;
  write_file(dir / "c.yaml", kConfig);
  write_file(dir / "report.md", kReport);
  std::string every_byte;
  for (int round = 0; round < 4000; ++round)
    for (int b = 0; b < 256; ++b)
      every_byte.push_back(static_cast<char>(b));
  write_file(dir / "data.bin", every_byte);
  write_file(dir / "sub/報告 附件.pdf", "%PDF-1.4 fake\n");
  const std::vector<std::string> args = {
      "-c",       "c.yaml", "-f",          "report.md", "--no-ai",          "-a",
      "data.bin", "-a",     "missing.pdf", "-a",        "sub/報告 附件.pdf"};
  // The group menu: Enter takes the default group.
  const auto r = postrel(dir, args, "\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.rfind("Done: ")), "Done: 成功建立郵件草稿: report.md\n");
  EXPECT_TRUE(has(r.err, "⚠️ 找不到附加檔案：missing.pdf，已略過。"));
  EXPECT_TRUE(has(r.err, "✅ 已成功加入附加檔案：" + (dir / "data.bin").string()));

  const json eml = read_eml(dir / "report.eml");
  EXPECT_EQ(eml["unsent"], "1");
  EXPECT_EQ(eml["subject"], "週報 第49週");
  EXPECT_EQ(eml["to"], json({"john@x.com", "b@x.com"}));
  EXPECT_EQ(eml["to_names"][0], "Doe, John");
  EXPECT_EQ(eml["cc"], json({"c1@x.com", "c2@x.com"}));
  EXPECT_EQ(eml["outer"], "multipart/mixed");
  const json *html = part(eml, "text/html");
  const json *plain = part(eml, "text/plain");
  ASSERT_TRUE(html && plain);
  const std::string page = (*html)["text"];
  EXPECT_TRUE(has(page, "<th>項目</th>"));
  EXPECT_TRUE(has(page, "<td>完成</td>"));
  EXPECT_TRUE(has(page, "第一行<br />\n第二行"));
  EXPECT_TRUE(has(page, "<strong>粗體</strong> 在區塊內"));
  EXPECT_FALSE(has(page, "markdown=\"1\""));
  EXPECT_TRUE(has(page, "<body style=\"font-family: 'Aptos'"));
  // The text part is the body: the subject line gone, no trailing line break.
  const std::string report = kReport;
  EXPECT_EQ((*plain)["text"],
            report.substr(report.find("# 本週"), report.size() - 1 - report.find("# 本週")));
  const json *bin = part(eml, "application/octet-stream", "data.bin");
  const json *pdf = part(eml, "application/pdf", "報告 附件.pdf");
  ASSERT_TRUE(bin && pdf);
  EXPECT_EQ((*bin)["sha"], sha256_of(dir / "data.bin"));
  EXPECT_EQ((*pdf)["sha"], sha256_of(dir / "sub/報告 附件.pdf"));

  // A second run keeps the first draft and writes another.
  const std::string first = read_file(dir / "report.eml");
  ASSERT_EQ(postrel(dir, args, "\n").status, 0);
  EXPECT_EQ(read_file(dir / "report.eml"), first);
  EXPECT_EQ(read_eml(dir / "report_2.eml")["subject"], "週報 第49週");
}

// A NUL in the Markdown and subjects that GMime's own encoding loses or shortens: every part and
// the subject reach a reader whole.
TEST(PostrelDraft, NulAndSubjectsReachTheReaderWhole) {
  TempDir dir;
  const std::vector<std::string> subjects = {
      "Weekly報告：Q3進度更新與下一步計畫說明，附上本週的詳細數據與下週的工作安排",
      "=?utf-8?q?x?= 看起來像編碼的主旨"};
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    const std::string name = "m" + std::to_string(i);
    write_file(dir / (name + ".md"), "subject: " + subjects[i] + "\n\n前文" + std::string(1, '\0') +
                                         "後文\n\n| a | b |\n|---|---|\n| 1 | 2 |\n");
    const auto r = postrel(dir, {"-f", name + ".md", "--no-ai", "-g", "empty"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json eml = read_eml(dir / (name + ".eml"));
    EXPECT_EQ(eml["subject"], subjects[i]);
    EXPECT_EQ((*part(eml, "text/plain"))["text"],
              "前文\uFFFD後文\n\n| a | b |\n|---|---|\n| 1 | 2 |");
    const std::string page = (*part(eml, "text/html"))["text"];
    EXPECT_TRUE(has(page, "<td>2</td>")) << page;
    EXPECT_FALSE(has(page, std::string(1, '\0')));
  }
}

TEST(PostrelDraft, CodeBlocksFolderAndWeeklySummary) {
  TempDir dir;
  write_file(dir / "c.yaml", kConfig);
  // No subject line: fences stay and the code renders as a code block.
  write_file(dir / "notes/w.md", "Hello\n\n```\nint x = 1;\n```\n");
  write_file(dir / "toc.md", "# Intro\n## Scope\n");
  write_file(dir / "other.html", "<h1>Never used</h1>");
  stdfs::create_directories(dir / "drafts");
  auto env = kNoOpener;
  env.push_back("VASKIT_DRAFTS_DIR=" + (dir / "drafts").string());
  const auto r = postrel(dir,
                         {"-c", "c.yaml", "-g", "weekly_report_to_boss", "-f", "notes/w.md",
                          "--no-ai", "-a", "none.md", "-a", "toc.md", "-a", "other.html"},
                         "", env);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, "✅ 已將附件 [toc.md] 的目錄摘要附加至郵件內文。"));
  EXPECT_FALSE(stdfs::exists(dir / "notes/w.eml"));
  const json eml = read_eml(dir / "drafts/w.eml");
  EXPECT_EQ(eml["subject"], "草稿");
  EXPECT_EQ(eml["to"], json({"boss@x.com"}));
  const std::string page = (*part(eml, "text/html"))["text"];
  EXPECT_TRUE(has(page, "<pre><code>int x = 1;\n</code></pre>"));
  EXPECT_TRUE(has(page, "<li>Intro - Abstract"));
  EXPECT_TRUE(has(page, "<li>Scope</li>"));
  EXPECT_FALSE(has(page, "Never used"));
  EXPECT_TRUE(has((*part(eml, "text/plain"))["text"], "```\n\n- Intro - Abstract\n  - Scope"));
}

TEST(PostrelDraft, ConfiguredValuesCannotAddHeadersOrRecipients) {
  TempDir dir;
  write_file(
      dir / "c.yaml",
      "config:\n  groups:\n    g:\n"
      "      mail_to: \"a@b.com\\nBcc: x@y.com; ok@x.com\"\n"
      "      mail_cc: [\"c@d.com\\r\\nX-Evil: 1\", \"e@f.com\\u0085g@h.com\", \"i@j.com\\n\"]\n");
  write_file(dir / "m.md", "subject: hi\nbody\n");
  const auto r = postrel(dir, {"-c", "c.yaml", "-f", "m.md", "--no-ai"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json eml = read_eml(dir / "m.eml");
  EXPECT_TRUE(eml["bcc"].is_null());
  EXPECT_EQ(eml["to"], json({"ok@x.com"}));
  EXPECT_EQ(eml["cc"], json({"i@j.com"}));
  EXPECT_FALSE(has(read_file(dir / "m.eml"), "\nX-Evil:"));
  EXPECT_FALSE(has(read_file(dir / "m.eml"), "\nBcc:"));
  EXPECT_TRUE(
      has(r.err, "⚠️ 收件人含有控制字元，已略過：'a@b.com\\nBcc: x@y.com'"));
  EXPECT_TRUE(
      has(r.err, "⚠️ 收件人含有控制字元，已略過：'c@d.com\\r\\nX-Evil: 1'"));
}

TEST(PostrelDraft, FifosAreRefusedInsteadOfWaitedOn) {
  TempDir dir;
  write_file(dir / "c.yaml", kConfig);
  write_file(dir / "m.md", "subject: hi\nbody\n");
  {
    vaskit::testing::Fifo fifo(dir / "pipe.md");
    const auto r = postrel(dir, {"-f", "pipe.md", "-g", "empty", "--no-ai"});
    EXPECT_FALSE(fifo.waited_on());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "❌ 無法讀取 現有檔案內容: pipe.md: is not a regular file")) << r.err;
    EXPECT_TRUE(has(r.err, "Error: 檔案內容為空。"));
  }
  {
    // The weekly group reads a Markdown attachment for its summary, then attaches it.
    vaskit::testing::Fifo fifo(dir / "toc.md");
    const auto r = postrel(dir, {"-c", "c.yaml", "-g", "weekly_report_to_boss", "-f", "m.md",
                                 "--no-ai", "-a", "toc.md"});
    EXPECT_FALSE(fifo.waited_on());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "Error: " + (dir / "toc.md").string() + ": 不是一般檔案")) << r.err;
  }
  // An attachment that exists but cannot be attached is no reason for a draft without it.
  EXPECT_EQ(eml_count(dir.path()), 0u);
}

TEST(PostrelDraft, WeeklySummaryComesFromTheFirstAttachmentThatHasOne) {
  TempDir dir;
  write_file(dir / "c.yaml", kConfig);
  write_file(dir / "m.md", "subject: s\n\nbody  \n\n");
  write_file(dir / "notes.txt", "# not read\n");
  write_file(dir / "plain.html", "<p>no headings</p>");
  write_file(dir / "toc.html",
             "<div class=\"toc\">\n <ul>\n  <li><a href=\"#a\">Overview</a></li>\n </ul>\n</div>");
  write_file(dir / "toc.md", "# Later\n");
  const std::vector<std::string> attach = {"-a", "notes.txt", "-a", "plain.html",
                                           "-a", "toc.html",  "-a", "toc.md"};
  std::vector<std::string> args = {
      "-c", "c.yaml", "-f", "m.md", "--no-ai", "-g", "weekly_report_to_boss"};
  args.insert(args.end(), attach.begin(), attach.end());
  auto r = postrel(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, "✅ 已將附件 [toc.html] 的目錄摘要附加至郵件內文。"));
  EXPECT_FALSE(has(r.err, "[toc.md]")) << r.err;
  json eml = read_eml(dir / "m.eml");
  EXPECT_EQ((*part(eml, "text/plain"))["text"],
            "body\n\n<div class=\"toc\"><ul><li><a href=\"#a\">Overview - Abstract</a></li></ul>"
            "</div>");
  EXPECT_TRUE(has((*part(eml, "text/html"))["text"], "Overview - Abstract</a>"));
  EXPECT_EQ(eml["parts"].size(), 6u);

  // Another group gets no summary: the body stays as the subject step left it.
  args[6] = "team";
  r = postrel(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(has(r.err, "目錄摘要")) << r.err;
  eml = read_eml(dir / "m_2.eml");
  EXPECT_EQ((*part(eml, "text/plain"))["text"], "body  \n");
}

TEST(PostrelDraft, OpenerGetsTheDraftAndAFailedOpenerKeepsIt) {
  TempDir dir;
  write_file(dir / "m.md", "subject: s\nbody\n");
  write_file(dir / "opener.sh",
             "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$1\")/opened.tmp\"\n"
             "mv \"$(dirname \"$1\")/opened.tmp\" \"$(dirname \"$1\")/opened\"\n");
  stdfs::permissions(dir / "opener.sh", stdfs::perms::owner_all);
  auto r = postrel(dir, {"-f", "m.md", "--no-ai", "-g", "empty"}, "",
                   {"VASKIT_MAIL_OPENER=" + (dir / "opener.sh").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  for (int i = 0; i < 100 && !stdfs::exists(dir / "opened"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(read_file(dir / "opened"), (dir / "m.eml").string());

  r = postrel(dir, {"-f", "m.md", "--no-ai", "-g", "empty"}, "",
              {"VASKIT_MAIL_OPENER=" + (dir / "no-opener").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      has(r.err, "❌ 建立 Outlook 郵件失敗: 無法開啟郵件草稿 " + (dir / "m_2.eml").string()));
  EXPECT_TRUE(has(r.err, "Error: 無法開啟郵件草稿"));
  EXPECT_TRUE(stdfs::exists(dir / "m_2.eml"));
}

// The fake agent records its arguments and prompt and, unless AGENT_SILENT is set, writes
// "<stem>_ai.md" beside the source.
class PostrelAgent : public ::testing::Test {
protected:
  TempDir dir;
  std::vector<std::string> env;
  void SetUp() override {
    write_file(
        dir / "agent.sh",
        "#!/bin/sh\nlog=\"$(pwd)/agent.log\"\n: > \"$log\"\nfile=\nwhile [ $# -gt 0 ]; do\n"
        "  case \"$1\" in\n    --prompt) printf '%s' \"$2\" > \"$(pwd)/prompt.txt\"; shift 2;;\n"
        "    --file) file=\"$2\"; echo \"$1 $2\" >> \"$log\"; shift 2;;\n"
        "    *) echo \"$1 $2\" >> \"$log\"; shift 2;;\n  esac\ndone\n"
        "[ -n \"$AGENT_SILENT\" ] && exit 0\n"
        "[ -n \"$AGENT_HANG\" ] && { echo $$ > \"$(pwd)/agent.pid\"; trap '' TERM;\n"
        "  while :; do sleep 0.05; done; }\n"
        "[ -n \"$AGENT_FAIL\" ] && { printf 'subject: 半成品\\n\\n寫到一半' > "
        "\"${file%.md}_ai.md\";\n"
        "  [ \"$AGENT_FAIL\" = kill ] && kill -9 $$; exit \"$AGENT_FAIL\"; }\n"
        "[ -n \"$AGENT_BLANK\" ] && { printf ' \\n\\t\\n' > \"${file%.md}_ai.md\"; exit 0; }\n"
        "printf 'subject: AI 主旨\\n\\n潤飾後的內文\\n' > \"${file%.md}_ai.md\"\n");
    stdfs::permissions(dir / "agent.sh", stdfs::perms::owner_all);
    write_file(dir / "report.md", "subject: 原主旨\n\n原本的內文\n");
    env = kNoOpener;
    env.push_back("VASKIT_AGENT=" + (dir / "agent.sh").string());
  }
};

TEST_F(PostrelAgent, AgentOutputBecomesTheBodyAndTheDiffIsShown) {
  const auto r = postrel(dir, {"-f", "report.md", "-g", "empty"}, "2\n", env);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(
      has(r.out,
          "🤖 是否使用 AI 校正郵件內容？\n  1. 不使用AI\n  2. 排版+語法檢查\n"
          "  3. 排版+語法檢查+emoji\n  4. 排版+語法檢查+中翻英\n"
          "  5. 排版+語法檢查++emoji+中翻英\n請選擇校正模式 [1]: "));
  const std::string share =
      stdfs::weakly_canonical(std::string(VASKIT_BIN_DIR) + "/../share/vaskit");
  EXPECT_EQ(read_file(dir / "agent.log"),
            "--model gemini-3.7-flash-medium\n--file report.md\n--goal " + share +
                "/goal/mail_polish.yaml\n--skill " + share +
                "/skill/mail_formatting.yaml\n"
                "--skill " +
                share + "/skill/mail_grammar.yaml\n");
  EXPECT_EQ(read_file(dir / "prompt.txt"),
            "請依據 Goal 目標 (mail_polish.yaml) 與 Skill 規範 (mail_formatting, mail_grammar)，"
            "對來源 Email 檔案進行【排版+語法檢查】處理。\n- 來源檔案路徑：`" +
                (dir / "report.md").string() + "`\n- 目標輸出路徑：`" +
                (dir / "report_ai.md").string() +
                "`\n請讀取來源檔案並使用 `write_to_file` 工具將校正完成的完整 Markdown "
                "寫入目標檔案。");
  EXPECT_TRUE(has(r.out, "--- report.md\n+++ report_ai.md\n@@ -1,3 +1,3 @@\n-subject: 原主旨\n"
                         "+subject: AI 主旨\n \n-原本的內文\n+潤飾後的內文\n"));
  EXPECT_TRUE(has(r.out, "Done: 成功建立郵件草稿: report_ai.md"));
  const json eml = read_eml(dir / "report.eml");
  EXPECT_EQ(eml["subject"], "AI 主旨");
  EXPECT_TRUE(has((*part(eml, "text/html"))["text"], "潤飾後的內文"));
}

TEST_F(PostrelAgent, AnAgentThatFailsMakesNoDraft) {
  for (const std::string how : {"3", "kill"}) {
    auto failing = env;
    failing.push_back("AGENT_FAIL=" + how);
    const auto r = postrel(dir, {"-f", "report.md", "-g", "empty"}, "2\n", failing);
    EXPECT_EQ(r.status, 1) << how;
    EXPECT_TRUE(has(r.err, how == "3" ? "⚠️ AI 代理程式異常結束 (exit status 3)"
                                      : "⚠️ AI 代理程式異常結束 (signal 9)"))
        << r.err;
    EXPECT_TRUE(has(r.err, "Error: AI 代理程式異常結束，未使用其產出檔案: report_ai.md")) << r.err;
    EXPECT_FALSE(has(r.out, "Done:"));
    EXPECT_EQ(eml_count(dir.path()), 0u);
    EXPECT_EQ(read_file(dir / "report.md"), "subject: 原主旨\n\n原本的內文\n");
    stdfs::remove(dir / "report_ai.md");
  }
}

// A process whose entry in /proc is gone or a zombie has ended.
bool ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line))
    return true;
  const auto paren = line.rfind(')');
  return paren != std::string::npos && line.compare(paren + 2, 1, "Z") == 0;
}

// SIGTERM or SIGHUP sent to postrel alone (not to its process group), or a kill -9, while the
// agent works: the agent ends too, even one that ignores SIGTERM, and can write nothing later.
TEST_F(PostrelAgent, TheAgentEndsWithPostrel) {
  write_file(dir / "menu.txt", "2\n");
  auto hanging = env;
  hanging.push_back("AGENT_HANG=1");
  for (const int sig : {SIGTERM, SIGHUP, SIGKILL}) {
    stdfs::remove(dir / "agent.pid");
    const pid_t tool = ::fork();
    ASSERT_GE(tool, 0);
    if (tool == 0) {
      const int in = ::open((dir / "menu.txt").c_str(), O_RDONLY);
      const int null = ::open("/dev/null", O_WRONLY);
      if (in < 0 || null < 0 || ::dup2(in, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0 ||
          ::chdir(dir.path().c_str()) != 0)
        ::_exit(127);
      for (auto &e : hanging)
        ::putenv(e.data());
      ::execl(kHost.c_str(), kHost.c_str(), "postrel", "-f", "report.md", "-g", "empty",
              static_cast<char *>(nullptr));
      ::_exit(127);
    }
    pid_t agent = 0;
    for (int i = 0; i < 1000 && agent <= 0; ++i) {
      std::ifstream(dir / "agent.pid") >> agent;
      if (agent <= 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GT(agent, 0) << sig;
    ::kill(tool, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(tool, &status, 0), tool);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " " << status;
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
      gone = ended(agent);
      if (!gone)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone) << "the agent outlived postrel ended by signal " << sig;
    if (!gone)
      ::kill(agent, SIGKILL);
  }
  EXPECT_EQ(eml_count(dir.path()), 0u);
}

TEST_F(PostrelAgent, BlankOutputMeansNoDraft) {
  auto blank = env;
  blank.push_back("AGENT_BLANK=1");
  const auto r = postrel(dir, {"-f", "report.md", "-g", "empty"}, "2\n", blank);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "❌ AI 產出之檔案 [report_ai.md] 內容為空。")) << r.err;
  EXPECT_TRUE(has(r.err, "Error: AI 產出檔案為空: report_ai.md"));
  EXPECT_FALSE(has(r.out, "Done:"));
  EXPECT_EQ(eml_count(dir.path()), 0u);
  // The agent's file stays for the user to look at.
  EXPECT_EQ(read_file(dir / "report_ai.md"), " \n\t\n");
}

TEST_F(PostrelAgent, NoFreshOutputMeansNoDraft) {
  auto silent = env;
  silent.push_back("AGENT_SILENT=1");
  auto r = postrel(dir, {"-f", "report.md", "-g", "empty"}, "3\n", silent);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "❌ AI 校正未順利產生目標檔案 [report_ai.md]。"));
  EXPECT_TRUE(has(r.err, "Error: AI 校正未產生目標檔案: report_ai.md"));
  // The skills of option 3, in their order.
  EXPECT_TRUE(
      has(read_file(dir / "agent.log"),
          "mail_grammar.yaml\n--skill " +
              stdfs::weakly_canonical(std::string(VASKIT_BIN_DIR) + "/../share/vaskit").string() +
              "/skill/mail_emoji.yaml\n"));

  // A file left by an earlier run is not the agent's answer, and stays as it was.
  write_file(dir / "report_ai.md", "subject: stale\n");
  r = postrel(dir, {"-f", "report.md", "-g", "empty"}, "2\n", silent);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "Error: AI 校正未產生目標檔案: report_ai.md"));
  EXPECT_EQ(read_file(dir / "report_ai.md"), "subject: stale\n");

  // No agent configured: the runner says so, and the run fails the same way.
  r = postrel(dir, {"-f", "report.md", "-g", "empty"}, "2\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "VASKIT_AGENT"));
  EXPECT_TRUE(has(r.err, "Error: AI 校正未產生目標檔案: report_ai.md"));

  // End of input at the menu aborts.
  r = postrel(dir, {"-f", "report.md", "-g", "empty"}, "", env);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "Aborted!"));
  EXPECT_EQ(eml_count(dir.path()), 0u);

  // A stale file is replaced by a fresh answer: that one counts.
  r = postrel(dir, {"-f", "report.md", "-g", "empty"}, "2\n", env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_eml(dir / "report.eml")["subject"], "AI 主旨");
}

} // namespace

// The folvane command as the user runs it: missing and bad configurations, the template, and
// the inspection report of each kind of receipt.
#include "support/files.hpp"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

using vaskit::testing::read_file;
using vaskit::testing::write_file;

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using vaskit::testing::ProcessResult;
using vaskit::testing::TempDir;

const std::string kHost = std::string(VASKIT_BIN_DIR) + "/vas-kit";
const std::string kTool = std::string(VASKIT_BIN_DIR) + "/vaskit-folvane";

ProcessResult folvane(const std::vector<std::string> &args, const fs::path &cwd) {
  std::vector<std::string> all = {"folvane"};
  all.insert(all.end(), args.begin(), args.end());
  return vaskit::testing::run_process(kHost, all, cwd);
}

std::set<std::string> tree(const fs::path &dir) {
  std::set<std::string> out;
  for (const auto &e : fs::recursive_directory_iterator(dir))
    out.insert(fs::relative(e.path(), dir).string());
  return out;
}

std::string receipt(const std::string &variant) {
  return (vaskit::testing::generated_receipts() / (variant + ".pdf")).string();
}

bool contains(const std::string &hay, const std::string &needle) {
  return hay.find(needle) != std::string::npos;
}

TEST(FolvaneCli, WithoutConfigTwoLinesAndStatusOne) {
  TempDir dir;
  const auto r = folvane({}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error: Please provide a JSON file path using --config or -c.\n"
                   "Hint: Run 'vaskit folvane --generate-config' to get a template.\n");
  EXPECT_TRUE(tree(dir.path()).empty());
}

TEST(FolvaneCli, MissingPathsAreUsageErrors) {
  TempDir dir;
  for (const auto &args :
       std::vector<std::vector<std::string>>{{"-c", "missing.json"}, {"-i", "missing.pdf"}}) {
    SCOPED_TRACE(args[0]);
    const auto r = folvane(args, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(r.err, "Usage: vas-kit folvane [OPTIONS]")) << r.err;
    EXPECT_TRUE(contains(r.err, "Path '" + args[1] + "' does not exist.")) << r.err;
  }
}

TEST(FolvaneCli, BareConfigOptionIsTheEmptyPathAndRefused) {
  TempDir dir;
  for (const auto &args :
       std::vector<std::vector<std::string>>{{"-c"}, {"-c", "--generate-config"}}) {
    SCOPED_TRACE(args.size());
    const auto r = folvane(args, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(
        contains(r.err, "Error: Invalid value for '--config' / '-c': Path '' does not exist."))
        << r.err;
    EXPECT_TRUE(tree(dir.path()).empty());
  }
}

// Help lines are wrapped to the terminal width: compare with runs of blanks collapsed.
std::string collapsed(const std::string &s) {
  std::string out;
  for (char ch : s) {
    const bool blank = ch == ' ' || ch == '\n';
    if (blank && !out.empty() && out.back() == ' ')
      continue;
    out += blank ? ' ' : ch;
  }
  return out;
}

TEST(FolvaneCli, HelpListsTheOptions) {
  TempDir dir;
  const auto r = vaskit::testing::run_process(kTool, {"--help"}, dir.path());
  EXPECT_EQ(r.status, 0);
  const std::string help = collapsed(r.out);
  for (const char *text :
       {"Usage: vaskit-folvane [OPTIONS]", "Merge multiple PDF files into a single layout report.",
        "-c, --config PATH Specify the JSON config file path",
        "--generate-config Generate a config_folvane_template.json in the current directory",
        "-i, --extract-info PATH Extract and print receipt date, time, and total amount from a "
        "PDF file"})
    EXPECT_TRUE(contains(help, text)) << text << "\n" << r.out;
}

TEST(FolvaneCli, GenerateConfigWritesTheTemplateInKeyOrder) {
  TempDir dir;
  write_file(dir / "broken.json", "{ not json");
  const auto r = folvane({"--generate-config", "-c", "broken.json"}, dir.path());
  EXPECT_EQ(r.status, 0);
  const auto path = dir / "config_folvane_template.json";
  ASSERT_TRUE(fs::exists(path));
  EXPECT_EQ(r.out, "Success! Template file created at: " + fs::canonical(path).string() + "\n");
  EXPECT_EQ(r.err, ""); // the -c file was not read
  const json written = json::parse(read_file(path));
  std::vector<std::string> keys;
  for (const auto &item : written.at("config").items())
    keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"input_folder", "output_folder", "layout", "page_size",
                                            "margin", "debug_grid", "address_mapping",
                                            "default_expense_type", "description_suffix"}));
  EXPECT_EQ(written["config"]["layout"].dump(), R"({"cols":2,"rows":2,"landscape":false})");

  // The template is a working configuration.
  EXPECT_EQ(folvane({"-c", "config_folvane_template.json"}, dir.path()).status, 0);
}

TEST(FolvaneCli, BadValuesStopBeforeAnythingIsTouched) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"("layout": {"cols": 0, "rows": 2})",
       "Error: layout.cols must be a positive integer, got 0"},
      {R"("layout": {"rows": 1.5})", "Error: layout.rows must be a positive integer, got 1.5"},
      {R"("margin": 300)", "Error: margin must be a number from 0 to less than 297.5"},
      {R"("margin": "20")", "Error: margin must be a number"},
      {R"("output_folder": ["out"])", "Error: output_folder must be text"},
      {R"("layout": {"cols": 2000000})",
       "Error: layout.cols must be a positive integer up to 1000000, got 2000000"},
      // The workbook step could not use these: refused before the receipts are renamed.
      {R"("default_expense_type": true)",
       "Error: default_expense_type must be text or a number, got true"},
      {R"("default_expense_type": ["Taxi"])",
       "Error: default_expense_type must be text or a number, got [\"Taxi\"]"},
      {R"("default_expense_type": {"k": 1})",
       "Error: default_expense_type must be text or a number, got {\"k\":1}"},
  };
  for (const auto &[setting, message] : cases) {
    SCOPED_TRACE(setting);
    TempDir dir;
    fs::create_directories(dir / "in");
    fs::copy_file(receipt("basic"), dir / "in" / "scan.pdf");
    write_file(dir / "in" / "taxi_receipt.pdf", "old report");
    write_file(dir / "c.json", R"({"config": {"input_folder": "in", )" + setting + "}}");
    const auto before = tree(dir.path());
    const auto r = folvane({"-c", "c.json"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind(message, 0), 0u) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
    EXPECT_EQ(tree(dir.path()), before);
    EXPECT_EQ(read_file(dir / "in" / "taxi_receipt.pdf"), "old report");
  }
}

// Paths from the configuration reach the terminal in every line that names them, as do the
// current folder's path in the template line: a control sequence in them must arrive defused.
TEST(FolvaneCli, ControlCharactersInPathsNeverReachTheTerminal) {
  const std::string esc_dir = "out\x1b[31m";
  const std::string config =
      R"({"config": {"input_folder": "in", "output_folder": "out\u001b[31m"}})";
  struct Case {
    const char *name;
    const char *receipt; // the one receipt in the input folder
    bool old_report_is_folder;
    std::vector<std::string> lines; // expected in stdout + stderr, ESC shown defused
  };
  const std::string shown_out = "out\uFFFD[31m/taxi_receipt.pdf";
  const std::vector<Case> cases = {
      {"old report replaced",
       "basic",
       false,
       {"🗑️ 已先移除舊有的合併檔案: " + shown_out,
        "[DONE] Successfully saved merged report: " + shown_out, "Success: " + shown_out}},
      {"old report a folder, nothing placed",
       "zerobox",
       true,
       {"⚠️ 移除舊檔案失敗 " + shown_out + ": ",
        "No receipt pages could be placed; merged report not written: " + shown_out}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    fs::create_directories(dir / "in");
    fs::copy_file(receipt(c.receipt), dir / "in" / "scan.pdf");
    if (c.old_report_is_folder)
      fs::create_directories(dir / esc_dir / "taxi_receipt.pdf" / "keep");
    else
      write_file(dir / esc_dir / "taxi_receipt.pdf", "old report");
    write_file(dir / "c.json", config);
    const auto r = folvane({"-c", "c.json"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(contains(r.out, "\x1b")) << r.out;
    EXPECT_FALSE(contains(r.err, "\x1b")) << r.err;
    for (const auto &line : c.lines)
      EXPECT_TRUE(contains(r.out + r.err, line)) << line << "\n" << r.out << r.err;
  }

  TempDir dir;
  const fs::path cwd = dir / esc_dir;
  fs::create_directories(cwd);
  const auto r = folvane({"--generate-config"}, cwd);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(fs::exists(cwd / "config_folvane_template.json"));
  EXPECT_FALSE(contains(r.out, "\x1b")) << r.out;
  EXPECT_TRUE(contains(r.out, "Success! Template file created at: ")) << r.out;
  EXPECT_TRUE(contains(r.out, "out\uFFFD[31m/config_folvane_template.json\n")) << r.out;
}

TEST(FolvaneCli, UnusableConfigFileIsNamedAndFails) {
  TempDir dir;
  fs::create_directories(dir / "folder.json");
  write_file(dir / "noconfig.json", R"({"other": {}})");
  write_file(dir / "broken.json", "{\"config\": {\n");
  for (const std::string arg : {"folder.json", "noconfig.json", "broken.json"}) {
    SCOPED_TRACE(arg);
    const auto r = folvane({"-c", arg}, dir.path());
    EXPECT_EQ(r.status, 1);
    // One line from the loader names the file; nothing else runs.
    EXPECT_EQ(r.out.rfind("❌", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(arg), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
    EXPECT_FALSE(fs::exists(dir / "data_folvane"));
  }
}

const std::string kBasicReport =
    "📄 檔案: basic.pdf\n"
    "📅 日期: 2024年3月5日 (標準化: 2024/03/05)\n"
    "⏰ 時間: 下午3:15\n"
    "🕒 完整日期時間: 2024年3月5日 下午3:15\n"
    "💰 總計金額: $1,234\n"
    "📍 行程地址: 台北市松山區敦化北路100號 -> 台北市內湖區瑞光路188號\n"
    "  └ 起點: 台北市松山區敦化北路100號\n"
    "  └ 迄點: 台北市內湖區瑞光路188號\n"
    "📝 報表說明 (Description): ZVT(松山)->Brannor(內湖) radar support\n"
    "🏷️ 建議檔名: receipt_0305_1515_1234.pdf\n";

TEST(FolvaneCli, InspectionReportOfEachReceiptRenamesNothing) {
  struct Case {
    const char *variant;
    std::vector<std::string> lines; // expected among the report lines
    std::vector<std::string> absent;
  };
  const std::vector<Case> cases = {
      {"english",
       {"📅 日期: 2024/12/25 (標準化: 2024/12/25)", "⏰ 時間: 12:05 AM", "💰 總計金額: $85.00",
        "🏷️ 建議檔名: receipt_1225_0005_85.pdf"},
       {}},
      {"twopage",
       {"🕒 完整日期時間: 2024-06-01 上午9:05", "  └ 迄點: 台北車站",
        "🏷️ 建議檔名: receipt_0601_0905_420.pdf"},
       {}},
      {"rotated", {"💰 總計金額: $350.50", "🏷️ 建議檔名: receipt_0708_0030_350_5.pdf"}, {}},
      {"fullwidth",
       {"📅 日期: ２０２４年１１月３日 (標準化: 2024/11/03)",
        "📝 報表說明 (Description): Tessik(深坑)->Quelby(內湖) radar support",
        "🏷️ 建議檔名: receipt_1103_2345_1280.pdf"},
       {}},
      {"encrypted", {"🏷️ 建議檔名: receipt_0909_1507_120.pdf"}, {}},
      {"control",
       {"  └ 起點: 台北市\uFFFD[31m松山區民生東路四段1號",
        "🏷️ 建議檔名: receipt_0102_0800_99.pdf"},
       {"\x1b"}},
      {"blank",
       {"📅 日期: None (標準化: )", "💰 總計金額: $None",
        "📝 報表說明 (Description): ", "🏷️ 建議檔名: receipt_0000_0000_0.pdf"},
       {"⏰", "🕒", "📍", "└"}},
      {"damaged",
       {"📅 日期: None (標準化: )", "💰 總計金額: $None",
        "🏷️ 建議檔名: receipt_0000_0000_0.pdf"},
       {"⏰", "📍"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.variant);
    TempDir dir;
    const std::string name = std::string(c.variant) + ".pdf";
    fs::copy_file(receipt(c.variant), dir / name);
    const auto r = folvane({"-i", name}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("📄 檔案: " + name + "\n", 0), 0u) << r.out;
    for (const auto &line : c.lines)
      EXPECT_TRUE(contains(r.out, line + "\n")) << line << "\n" << r.out;
    for (const auto &text : c.absent)
      EXPECT_FALSE(contains(r.out, text)) << text << "\n" << r.out;
    EXPECT_FALSE(contains(r.err, "\x1b[31m松山")) << r.err;
    EXPECT_EQ(tree(dir.path()), std::set<std::string>{name});
  }
}

TEST(FolvaneCli, InspectionComesFirstAndUsesTheBuiltInTable) {
  TempDir dir;
  fs::copy_file(receipt("basic"), dir / "basic.pdf");
  // A configuration with another table and suffix: the inspection does not read it.
  write_file(dir / "c.json", R"({"config": {"address_mapping": {"Other": "敦化北路"},
                            "description_suffix": "x"}})");
  const auto r = folvane({"-c", "c.json", "--generate-config", "-i", "basic.pdf"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBasicReport);
  EXPECT_EQ(tree(dir.path()), (std::set<std::string>{"basic.pdf", "c.json"}));
}

TEST(FolvaneCli, DamagedReceiptLogsBeforeTheReport) {
  TempDir dir;
  fs::copy_file(receipt("damaged"), dir / "damaged.pdf");
  const auto r = folvane({"-i", "damaged.pdf"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.err, "❌ 擷取收據資訊失敗 damaged.pdf: ")) << r.err;
  EXPECT_TRUE(contains(r.err, "❌ 檔案: damaged.pdf | 未比對到公司名稱且無地址資訊！")) << r.err;
}

} // namespace

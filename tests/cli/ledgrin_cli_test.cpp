// ledgrin as a user runs it: a folder of expense workbooks, renamed into "results" with a
// byte-identical copy of each in "backup"; a dry run first, and a second run afterwards.
#include "support/files.hpp"
#include "support/process.hpp"
#include "support/workbook_writer.hpp"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

namespace {

namespace fs = std::filesystem;
using vaskit::testing::BookPlan;
using vaskit::testing::BookValue;
using vaskit::testing::read_file;
using vaskit::testing::run_process;
using vaskit::testing::TempDir;
using vaskit::testing::write_book;
using vaskit::testing::write_file;

const std::string kHost = std::string(VASKIT_BIN_DIR) + "/vas-kit";

// Every file and folder under `root` (relative paths; folders end in "/") with its bytes.
std::map<std::string, std::string> snapshot(const fs::path &root) {
  std::map<std::string, std::string> out;
  for (const auto &entry : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(entry.path(), root).string();
    if (entry.is_directory())
      out[rel + "/"] = "";
    else
      out[rel] = read_file(entry.path());
  }
  return out;
}

std::map<std::string, std::string> under(const std::map<std::string, std::string> &snap,
                                         const std::string &prefix) {
  std::map<std::string, std::string> out;
  for (const auto &[path, bytes] : snap)
    if (path.rfind(prefix, 0) == 0 && path != prefix)
      out[path.substr(prefix.size())] = bytes;
  return out;
}

void claim(const fs::path &path, const std::string &marker, const BookValue &who,
           const BookValue &amount, bool on_second_sheet = false) {
  BookPlan plan;
  // The marker makes every fixture's bytes differ, so each result can be traced to its source.
  const std::vector<std::pair<std::string, BookValue>> cells = {
      {"A1", marker}, {"D6", who}, {"P56", amount}};
  if (on_second_sheet) {
    plan.sheets = {{"Notes", {{"D6", std::string("not this one")}, {"P56", 1.0}}},
                   {"Claim", cells}};
    plan.active = 1;
  } else {
    plan.sheets = {{"Claim", cells}, {"Other", {{"D6", std::string("nor this")}}}};
  }
  write_book(path, plan);
}

class LedgrinCli : public ::testing::Test {
protected:
  vaskit::testing::ProcessResult ledgrin(const std::vector<std::string> &args) {
    std::vector<std::string> all = {"ledgrin"};
    all.insert(all.end(), args.begin(), args.end());
    return run_process(kHost, all, dir.path());
  }
  TempDir dir;
};

TEST_F(LedgrinCli, DryRunThenRunThenASecondRun) {
  const fs::path data = dir / "expenses";
  claim(data / "a.xlsx", "a", std::string("\u3000王小明 / 台北出差\u3000"), 1200.0);
  claim(data / "b1.xlsx", "b1", std::string(" Eve: "), 50.0);
  claim(data / "b2.xlsx", "b2", std::string("Eve"), 50.0);
  claim(data / "c.xlsx", "c", std::string("Bob"), std::string("NT$300"));
  claim(data / "d.xlsx", "d", std::string("Carol"), 88.25, true);
  BookPlan empty_amount;
  empty_amount.sheets = {{"Claim", {{"A1", std::string("e")}, {"D6", std::string("Dan")}}}};
  write_book(data / "e.xlsx", empty_amount);
  write_file(data / "f.xlsx", "this is not a workbook");
  write_file(data / "~$a.xlsx", std::string(162, '\x01'));
  claim(data / "sub/g.xlsx", "g", std::string("Gina"), 5.0);
  write_file(data / "readme.txt", "not an expense");
  write_file(dir / "config.json",
             R"({"config": {"path": "./expenses", "dry_run": "True"},
                 "excel_in": {"name_cell": "d6", "amount_cell": "$P$56"}})");
  const auto before = snapshot(data);

  // The dry run reports and leaves every byte and folder as it was.
  auto dry = ledgrin({"-c", "config.json"});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(snapshot(data), before);
  EXPECT_NE(dry.err.find("[Dry-Run] Would move: a.xlsx -> 王小明  台北出差_1200_"),
            std::string::npos)
      << dry.err;
  EXPECT_NE(dry.err.find("[Dry-Run] Would move: d.xlsx -> Carol_88.25_"), std::string::npos);
  EXPECT_EQ(dry.err.find("g.xlsx"), std::string::npos) << "sub-folders are not searched";

  write_file(dir / "config.json",
             R"({"config": {"path": "./expenses", "dry_run": false},
                 "excel_in": {"name_cell": "D6", "amount_cell": "P56"}})");
  auto run = ledgrin({"-c", "config.json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  for (const char *line :
       {"Starting expense processing in: ./expenses", "Processing: b1.xlsx -> Eve_50_",
        "Processing: b2.xlsx -> Eve_50_", "Processing: c.xlsx -> Bob_NT$300_",
        "---> Skipping e.xlsx: Cannot find Name or Amount in D6 or P56",
        "Error reading excel ./expenses/f.xlsx: ", "---> Skipping f.xlsx: ",
        "Error reading excel ./expenses/~$a.xlsx: ", "---> Skipping ~$a.xlsx: "})
    EXPECT_NE(run.err.find(line), std::string::npos) << line << "\n" << run.err;

  const auto after = snapshot(data);
  const auto results = under(after, "results/");
  const auto backups = under(after, "backup/");
  // Every readable workbook: once in results under its new name, once in backup as it was.
  const std::map<std::string, std::string> expected_names = {{"a.xlsx", "王小明  台北出差_1200"},
                                                             {"b1.xlsx", "Eve_50"},
                                                             {"b2.xlsx", "Eve_50"},
                                                             {"c.xlsx", "Bob_NT$300"},
                                                             {"d.xlsx", "Carol_88.25"}};
  EXPECT_EQ(results.size(), expected_names.size());
  EXPECT_EQ(backups.size(), expected_names.size());
  for (const auto &[base, stem] : expected_names) {
    SCOPED_TRACE(base);
    EXPECT_EQ(after.count(base), 0u);
    ASSERT_EQ(backups.count(base), 1u);
    EXPECT_EQ(backups.at(base), before.at(base));
    int copies = 0;
    for (const auto &[name, bytes] : results) {
      if (bytes != before.at(base))
        continue;
      ++copies;
      const std::regex pattern(std::regex_replace(stem, std::regex(R"([$.])"), R"(\$&)") +
                               R"(_\d{4}_\d{8}( \(\d+\))?\.xlsx)");
      EXPECT_TRUE(std::regex_match(name, pattern)) << name;
    }
    EXPECT_EQ(copies, 1);
  }
  // Nothing else changed: the unreadable, the skipped and the sub-folder's files stay as they were.
  for (const char *kept : {"e.xlsx", "f.xlsx", "~$a.xlsx", "sub/g.xlsx", "readme.txt"})
    EXPECT_EQ(after.at(kept), before.at(kept)) << kept;
  std::size_t others = 0;
  for (const auto &[path, bytes] : after)
    others += path.rfind("results/", 0) != 0 && path.rfind("backup/", 0) != 0 ? 1 : 0;
  // Outside results/ and backup/: the five kept files and the folder sub/.
  EXPECT_EQ(others, 6u);

  // A second run finds only what it skipped before and never touches results or backups.
  auto again = ledgrin({"-c", "config.json"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(snapshot(data), after);
  EXPECT_EQ(again.err.find("Processing:"), std::string::npos) << again.err;
}

TEST_F(LedgrinCli, CommandLineConfigurationAndTemplate) {
  // No option: two lines on standard output, status 1, nothing logged.
  auto bare = ledgrin({});
  EXPECT_EQ(bare.status, 1);
  EXPECT_EQ(bare.out, "Error: Please provide a JSON file path using --config or -c.\n"
                      "Hint: Run 'vas-kit ledgrin --help' to see the template.\n");
  EXPECT_EQ(bare.err, "");

  // The template only, even with -c naming an unusable file.
  write_file(dir / "broken.json", "{");
  auto tmpl = ledgrin({"--generate-config", "-c", "broken.json"});
  EXPECT_EQ(tmpl.status, 0) << tmpl.err;
  EXPECT_EQ(tmpl.out, "Success! Template file created at: " +
                          (fs::canonical(dir.path()) / "config_expense_template.json").string() +
                          "\n");
  const std::string written = read_file(dir / "config_expense_template.json");
  EXPECT_EQ(written,
            "{\n    \"config\": {\n        \"path\": \"./data_ledgrin\",\n"
            "        \"dry_run\": false\n    },\n    \"excel_in\": {\n"
            "        \"name_cell\": \"D6\",\n        \"amount_cell\": \"P56\"\n    }\n}\n");

  // The help keeps the parameter block's alignment and shows the template as written.
  auto help = ledgrin({"--help"});
  EXPECT_EQ(help.status, 0);
  // The first line's trailing blank and the joining blank both stay inside the wrapped line.
  EXPECT_NE(help.out.find("\n\n  Read information from Excel and auto-renfiles.  This tool relies "
                          "entirely on\n  a JSON configuration file.\n\n"),
            std::string::npos)
      << help.out;
  EXPECT_NE(help.out.find("\nOptions:\n"
                          "  -c, --config PATH  Specify the JSON config file path\n"
                          "  --generate-config  Generate a config_expense_template.json in the "
                          "current\n"
                          "                     directory\n"
                          "  --help             Show this message and exit.\n"),
            std::string::npos)
      << help.out;
  EXPECT_NE(help.out.find("  [JSON Parameter Description]:\n"
                          "  * config.path         : (String) Directory path containing the "
                          "target Excel files.\n"),
            std::string::npos)
      << help.out;
  EXPECT_NE(help.out.find("  * excel_in.amount_cell: (String) The exact cell coordinate for the "
                          "Amount (e.g., \"P56\").\n\n  [Default config.json Template]:\n  {\n"
                          "      \"config\": {\n"),
            std::string::npos)
      << help.out;

  // An empty object runs with the defaults: ./data_ledgrin, which does not exist here. A folder
  // that is missing or is a file ends with one line and status 1, and nothing is created.
  write_file(dir / "empty.json", "{}");
  write_file(dir / "file.json", R"({"config": {"path": "empty.json"}})");
  const auto files_before = snapshot(dir.path());
  auto empty = ledgrin({"-c", "empty.json"});
  EXPECT_EQ(empty.status, 1) << empty.err;
  EXPECT_EQ(empty.err, "❌ config.path: folder ./data_ledgrin does not exist\n");
  auto file = ledgrin({"-c", "file.json"});
  EXPECT_EQ(file.status, 1) << file.err;
  EXPECT_EQ(file.err, "❌ config.path: empty.json is not a folder\n");
  EXPECT_EQ(snapshot(dir.path()), files_before);

  // Files the command cannot use end with one error line and status 1.
  write_file(dir / "list.json", "[{\"config\": {}}]");
  write_file(dir / "bom.json", "\xEF\xBB\xBF{}");
  write_file(dir / "latin1.json", "{\"config\": {\"path\": \"caf\xE9\"}}");
  fs::create_directories(dir / "folder.json");
  for (const char *bad : {"broken.json", "list.json", "bom.json", "latin1.json", "folder.json"}) {
    auto r = ledgrin({"-c", bad});
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_EQ(r.err.rfind("❌ ", 0), 0u) << bad << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << bad << ": " << r.err;
  }
  EXPECT_NE(ledgrin({"-c", "list.json"})
                .err.find("the configuration file's top level must be a mapping of sections"),
            std::string::npos);

  // A path that does not exist is a usage error.
  auto missing = ledgrin({"-c", "nowhere.json"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;
}

TEST_F(LedgrinCli, AWorkbookLeftUnmovedEndsWithStatusOne) {
  const fs::path data = dir / "expenses";
  // A name cell too long for a file name: that move fails, the other workbook still moves.
  claim(data / "long.xlsx", "long", std::string(300, 'n'), 1.0);
  claim(data / "ok.xlsx", "ok", std::string("Amy"), 7.0);
  const std::string long_bytes = read_file(data / "long.xlsx");
  write_file(dir / "config.json", R"({"config": {"path": "./expenses"}})");
  const auto r = ledgrin({"-c", "config.json"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("Failed to move ./expenses/long.xlsx: "), std::string::npos) << r.err;
  EXPECT_EQ(read_file(data / "long.xlsx"), long_bytes);
  EXPECT_FALSE(fs::exists(data / "ok.xlsx"));
  EXPECT_TRUE(fs::exists(data / "backup/ok.xlsx"));

  // A workbook that is only skipped (no amount) is no failure.
  BookPlan no_amount;
  no_amount.sheets = {{"Claim", {{"D6", std::string("Dan")}}}};
  fs::remove(data / "long.xlsx");
  write_book(data / "e.xlsx", no_amount);
  const auto skipped = ledgrin({"-c", "config.json"});
  EXPECT_EQ(skipped.status, 0) << skipped.err;
  EXPECT_NE(skipped.err.find("---> Skipping e.xlsx"), std::string::npos) << skipped.err;
}

TEST_F(LedgrinCli, ALinkedWorkbookStaysReachableUnderItsNewName) {
  // The claim lives in a shared folder; the expense folder holds a relative link to it.
  claim(dir / "shared/claim.xlsx", "linked", std::string("Lin"), 42.0);
  const std::string bytes = read_file(dir / "shared/claim.xlsx");
  fs::create_directories(dir / "expenses");
  fs::create_symlink("../shared/claim.xlsx", dir / "expenses/claim.xlsx");
  write_file(dir / "config.json", R"({"config": {"path": "./expenses"}})");
  const auto r = ledgrin({"-c", "config.json"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<fs::path> results;
  for (const auto &entry : fs::directory_iterator(dir / "expenses/results"))
    results.push_back(entry.path());
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].filename().string().rfind("Lin_42_", 0), 0u) << results[0];
  EXPECT_EQ(read_file(results[0]), bytes);
  EXPECT_EQ(read_file(dir / "expenses/backup/claim.xlsx"), bytes);
  EXPECT_EQ(read_file(dir / "shared/claim.xlsx"), bytes);
}

} // namespace

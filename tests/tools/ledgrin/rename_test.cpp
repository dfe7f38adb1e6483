#include "support/console.hpp"
#include "support/files.hpp"
#include "support/log_capture.hpp"
#include "support/workbook_writer.hpp"
#include "support/xlsx_fixtures.hpp"
#include "tools/ledgrin/ledgrin.hpp"

#include <gtest/gtest.h>

#include <ctime>

namespace {

namespace ledgrin = vaskit::ledgrin;
namespace xlsx = vaskit::xlsx;
namespace fs = std::filesystem;
using vaskit::testing::BookPlan;
using vaskit::testing::LogCapture;
using vaskit::testing::read_file;
using vaskit::testing::TempDir;
using vaskit::testing::write_book;
using vaskit::testing::write_file;
using json = ledgrin::json;

// A local time on the clock, whatever the time zone of the test machine.
std::chrono::system_clock::time_point local_time(int month, int day, int hour, int minute,
                                                 int second, int micros) {
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm)) +
         std::chrono::microseconds(micros);
}

xlsx::DateTime date(int y, int m, int d) {
  xlsx::DateTime v;
  v.year = y;
  v.month = m;
  v.day = d;
  return v;
}

TEST(LedgrinNames, CleaningKeepsAllButTheNineCharactersThenTrims) {
  EXPECT_EQ(ledgrin::sanitize_filename(std::string("  a/b:c  ")), "abc");
  EXPECT_EQ(ledgrin::sanitize_filename(std::string("Q3 / travel : Tokyo")), "Q3  travel  Tokyo");
  EXPECT_EQ(ledgrin::sanitize_filename(std::string("\\/*?:\"<>|")), "");
  EXPECT_EQ(ledgrin::sanitize_filename(std::string(" * | ")), "");
  // Full-width blanks are white space at the ends and stay inside; dots and CJK text stay.
  EXPECT_EQ(ledgrin::sanitize_filename(std::string("\u3000王 小明\u3000<報銷>.v2\u3000")),
            "王 小明\u3000報銷.v2");
  EXPECT_EQ(ledgrin::sanitize_filename(xlsx::CellValue{}), "Unknown");
  EXPECT_EQ(ledgrin::sanitize_filename(1200LL), "1200");
  EXPECT_EQ(ledgrin::sanitize_filename(-35LL), "-35");
  EXPECT_EQ(ledgrin::sanitize_filename(1200.5), "1200.5");
  EXPECT_EQ(ledgrin::sanitize_filename(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(ledgrin::sanitize_filename(1200.0), "1200.0");
  EXPECT_EQ(ledgrin::sanitize_filename(1e16), "1e+16");
  EXPECT_EQ(ledgrin::sanitize_filename(1.5e-5), "1.5e-05");
  EXPECT_EQ(ledgrin::sanitize_filename(true), "True");
  EXPECT_EQ(ledgrin::sanitize_filename(date(2024, 5, 3)), "2024-05-03 000000");
  EXPECT_EQ(ledgrin::sanitize_filename(xlsx::CellError{"#DIV/0!"}), "#DIV0!");
}

TEST(LedgrinNames, TimeCodeHasNoYearAndTruncatedHundredths) {
  EXPECT_EQ(ledgrin::datecode(local_time(12, 7, 23, 16, 55, 123456)), "1207_23165512");
  EXPECT_EQ(ledgrin::datecode(local_time(1, 2, 3, 4, 5, 9999)), "0102_03040500");
  EXPECT_EQ(ledgrin::datecode(local_time(3, 4, 0, 0, 0, 999999)), "0304_00000099");
}

class LedgrinCells : public ::testing::Test {
protected:
  TempDir dir;
};

TEST_F(LedgrinCells, ValuesComeFromTheActiveSheetWhateverTheCaseOfTheAddress) {
  BookPlan plan;
  plan.sheets = {{"Cover", {{"D6", std::string("wrong sheet")}, {"P56", 1.0}}},
                 {"Claim", {{"D6", std::string("陳大文")}, {"P56", 1234.5}, {"A1", true}}}};
  plan.active = 1;
  const auto path = dir / "claim.xlsx";
  write_book(path, plan);
  LogCapture logs;
  const auto values = ledgrin::get_excel_cell_value(path.string(), {"d6", "$P$56", "A1", "Z9"});
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0], xlsx::CellValue{std::string("陳大文")});
  EXPECT_EQ(values[1], xlsx::CellValue{1234.5});
  EXPECT_EQ(values[2], xlsx::CellValue{true});
  EXPECT_EQ(values[3], xlsx::CellValue{});
  EXPECT_TRUE(logs.lines().empty());
}

TEST_F(LedgrinCells, StoredNumbersKeepEveryDigitWithoutPlusSignOrLeadingZeros) {
  // Whole numbers of any size keep all their digits; a leading "+" still reads as a number.
  auto entries = xlsx_test::rich_entries();
  for (auto &e : entries)
    if (e.name == "xl/worksheets/sheet2.xml") // the active sheet
      e.data = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
               "<sheetData><row r=\"6\"><c r=\"D6\"><v>123456789012345678901234</v></c></row>"
               "<row r=\"56\"><c r=\"P56\"><v>+1200</v></c><c r=\"Q56\"><v>+12.50</v></c>"
               "<c r=\"R56\"><v>-0099999999999999999999</v></c></row></sheetData></worksheet>";
  const auto path = dir / "claim.xlsm";
  xlsx_test::write_zip(path, entries);
  const auto values = ledgrin::get_excel_cell_value(path.string(), {"D6", "P56", "Q56", "R56"});
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(ledgrin::sanitize_filename(values[0]), "123456789012345678901234");
  EXPECT_EQ(ledgrin::sanitize_filename(values[1]), "1200");
  EXPECT_EQ(ledgrin::sanitize_filename(values[2]), "12.5");
  EXPECT_EQ(ledgrin::sanitize_filename(values[3]), "-99999999999999999999");
}

TEST_F(LedgrinCells, ADateCellHoldingADayAloneGivesTheDateAlone) {
  auto entries = xlsx_test::rich_entries();
  for (auto &e : entries)
    if (e.name == "xl/worksheets/sheet2.xml") // the active sheet
      e.data = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
               "<sheetData><row r=\"6\"><c r=\"D6\" t=\"d\"><v>2024-03-05</v></c>"
               "<c r=\"E6\" t=\"d\"><v>2024-03-05T08:30:00</v></c></row></sheetData></worksheet>";
  const auto path = dir / "claim.xlsx";
  xlsx_test::write_zip(path, entries);
  const auto values = ledgrin::get_excel_cell_value(path.string(), {"D6", "E6"});
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(ledgrin::sanitize_filename(values[0]), "2024-03-05");
  EXPECT_EQ(ledgrin::sanitize_filename(values[1]), "2024-03-05 083000");
}

TEST_F(LedgrinCells, AnEmptyStoredValueIsNoValue) {
  // A formula whose stored result is empty and a number cell written without digits hold
  // nothing, so the workbook is skipped rather than renamed with empty parts.
  auto entries = xlsx_test::rich_entries();
  for (auto &e : entries)
    if (e.name == "xl/worksheets/sheet2.xml") // the active sheet
      e.data = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
               "<sheetData><row r=\"6\"><c r=\"D6\" t=\"str\"><f>IF(A1,\"\",\"\")</f><v></v></c>"
               "</row><row r=\"56\"><c r=\"P56\"><v/></c><c r=\"Q56\" t=\"str\"><v>ok</v></c>"
               "</row></sheetData></worksheet>";
  const auto path = dir / "claim.xlsx";
  xlsx_test::write_zip(path, entries);
  EXPECT_EQ(ledgrin::get_excel_cell_value(path.string(), {"D6", "P56", "Q56"}),
            (std::vector<xlsx::CellValue>{xlsx::CellValue{}, xlsx::CellValue{},
                                          xlsx::CellValue{std::string("ok")}}));
}

TEST_F(LedgrinCells, AnyFailureGivesOneLineAndNoValues) {
  BookPlan plan;
  plan.sheets = {{"Claim", {{"D6", std::string("x")}, {"P56", 5.0}}}};
  write_book(dir / "ok.xlsx", plan);
  write_file(dir / "damaged.xlsx", "PK\x03\x04 not really a zip");
  write_file(dir / "~$lock.xlsx", std::string(162, '\0'));
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {(dir / "ok.xlsx").string(), {"D6:D7", "P56"}},
      {(dir / "ok.xlsx").string(), {"D6", "P0"}},
      {(dir / "ok.xlsx").string(), {"D", "P56"}},
      {(dir / "damaged.xlsx").string(), {"D6", "P56"}},
      {(dir / "~$lock.xlsx").string(), {"D6", "P56"}},
      {(dir / "missing.xlsx").string(), {"D6", "P56"}},
  };
  for (const auto &[path, cells] : cases) {
    SCOPED_TRACE(path + " " + cells[0] + " " + cells[1]);
    LogCapture logs;
    const auto values = ledgrin::get_excel_cell_value(path, cells);
    EXPECT_EQ(values, (std::vector<xlsx::CellValue>(2)));
    ASSERT_EQ(logs.lines().size(), 1u);
    EXPECT_EQ(logs.lines()[0].level, "ERROR");
    EXPECT_EQ(logs.lines()[0].text.rfind("Error reading excel " + path + ": ", 0), 0u)
        << logs.lines()[0].text;
  }
}

class LedgrinPass : public ::testing::Test {
protected:
  void SetUp() override {
    ledgrin::set_clock([] { return local_time(12, 7, 23, 16, 55, 123456); });
  }
  void TearDown() override { ledgrin::set_clock({}); }

  void claim(const fs::path &path, const vaskit::testing::BookValue &who,
             const vaskit::testing::BookValue &amount) {
    BookPlan plan;
    plan.sheets = {{"Claim", {{"D6", who}, {"P56", amount}}}};
    write_book(path, plan);
  }
  json config(const std::string &path, bool dry_run) {
    return json::parse(R"({"config": {"path": ")" + path + R"(", "dry_run": )" +
                       (dry_run ? "true" : "false") + "}}");
  }

  TempDir dir;
};

TEST_F(LedgrinPass, MovesEachReadableWorkbookUnderItsNewNameWithABackup) {
  const fs::path data = dir / "data";
  claim(data / "a.xlsx", std::string(" Alice : Q3 "), 1200.0);
  claim(data / "b.xlsx", std::string("Bob"), std::string("NT$ 300"));
  claim(data / "c.xlsx", std::string("Carol"), 0.0); // zero is a value
  BookPlan no_amount;
  no_amount.sheets = {{"Claim", {{"D6", std::string("Dan")}}}};
  write_book(data / "d.xlsx", no_amount);
  write_file(data / "notes.txt", "left alone");
  const std::string a_bytes = read_file(data / "a.xlsx");

  LogCapture logs;
  ledgrin::process_expense_rename(config(data.string(), false));
  const std::string code = "1207_23165512";
  EXPECT_EQ(logs.leveled(),
            (std::vector<std::string>{
                "INFO Starting expense processing in: " + data.string(),
                "INFO Processing: a.xlsx -> Alice  Q3_1200_" + code + ".xlsx",
                "INFO Processing: b.xlsx -> Bob_NT$ 300_" + code + ".xlsx",
                "INFO Processing: c.xlsx -> Carol_0_" + code + ".xlsx",
                "ERROR ---> Skipping d.xlsx: Cannot find Name or Amount in D6 or P56",
            }));
  EXPECT_EQ(read_file(data / "results" / ("Alice  Q3_1200_" + code + ".xlsx")), a_bytes);
  EXPECT_EQ(read_file(data / "backup/a.xlsx"), a_bytes);
  EXPECT_TRUE(fs::exists(data / "results" / ("Bob_NT$ 300_" + code + ".xlsx")));
  EXPECT_TRUE(fs::exists(data / "backup/c.xlsx"));
  EXPECT_FALSE(fs::exists(data / "a.xlsx"));
  EXPECT_TRUE(fs::exists(data / "d.xlsx")); // skipped, untouched
  EXPECT_EQ(read_file(data / "notes.txt"), "left alone");
}

TEST_F(LedgrinPass, DryRunOnlyReportsAndCreatesNothing) {
  const fs::path data = dir / "data";
  claim(data / "a.xlsx", std::string("Alice"), 10.0);
  for (const json &flag : {json(true), json("TRUE"), json("true")}) {
    json cfg = config(data.string(), false);
    cfg["config"]["dry_run"] = flag;
    LogCapture logs;
    ledgrin::process_expense_rename(cfg);
    EXPECT_EQ(
        logs.texts("INFO"),
        (std::vector<std::string>{"Starting expense processing in: " + data.string(),
                                  "[Dry-Run] Would move: a.xlsx -> Alice_10_1207_23165512.xlsx"}))
        << flag.dump();
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(data))
      left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"a.xlsx"}) << flag.dump();
  }
  // Anything else moves: 1, "yes", null, false.
  for (const json &flag : {json(1), json("yes"), json(nullptr), json(false)}) {
    TempDir other;
    claim(other / "a.xlsx", std::string("Alice"), 10.0);
    json cfg = config(other.path().string(), true);
    cfg["config"]["dry_run"] = flag;
    LogCapture logs;
    ledgrin::process_expense_rename(cfg);
    EXPECT_TRUE(fs::exists(other / "results/Alice_10_1207_23165512.xlsx")) << flag.dump();
  }
}

TEST_F(LedgrinPass, SameNameTwiceWithinOneHundredthKeepsBoth) {
  const fs::path data = dir / "data";
  claim(data / "one.xlsx", std::string("Eve"), 50.0);
  claim(data / "two.xlsx", std::string("Eve"), 50.0);
  LogCapture logs;
  EXPECT_EQ(ledgrin::process_expense_rename(config(data.string(), false)).count, 0u);
  EXPECT_TRUE(fs::exists(data / "results/Eve_50_1207_23165512.xlsx"));
  EXPECT_TRUE(fs::exists(data / "results/Eve_50_1207_23165512 (1).xlsx"));
  // Each line names the file that was written.
  EXPECT_EQ(logs.texts("INFO"),
            (std::vector<std::string>{"Starting expense processing in: " + data.string(),
                                      "Processing: one.xlsx -> Eve_50_1207_23165512.xlsx",
                                      "Processing: two.xlsx -> Eve_50_1207_23165512 (1).xlsx"}));
  EXPECT_TRUE(fs::exists(data / "backup/one.xlsx"));
  EXPECT_TRUE(fs::exists(data / "backup/two.xlsx"));
  EXPECT_TRUE(logs.texts("ERROR").empty());
}

TEST_F(LedgrinPass, AFailedMoveIsReportedAndTheFileStays) {
  const fs::path data = dir / "data";
  claim(data / "long.xlsx", std::string(300, 'n'), 1.0);
  const std::string bytes = read_file(data / "long.xlsx");
  LogCapture logs;
  EXPECT_EQ(ledgrin::process_expense_rename(config(data.string(), false)).count, 1u);
  const auto errors = logs.texts("ERROR");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Failed to move " + (data / "long.xlsx").string() + ": ", 0), 0u)
      << errors[0];
  EXPECT_EQ(read_file(data / "long.xlsx"), bytes);
  EXPECT_FALSE(fs::exists(data / "backup/long.xlsx"));
}

TEST_F(LedgrinPass, ANameWithANulCharacterIsNotCutShort) {
  // "_x0000_" is the workbook's escape for a NUL character; the system would end the new
  // name there, so the file would land as "results/abc" without its extension.
  const fs::path data = dir / "data";
  auto entries = xlsx_test::rich_entries();
  for (auto &e : entries)
    if (e.name == "xl/worksheets/sheet2.xml") // the active sheet
      e.data = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
               "<sheetData><row r=\"6\"><c r=\"D6\" t=\"inlineStr\"><is><t>abc_x0000_def</t>"
               "</is></c></row><row r=\"56\"><c r=\"P56\"><v>5</v></c></row></sheetData>"
               "</worksheet>";
  fs::create_directories(data);
  xlsx_test::write_zip(data / "nul.xlsx", entries);
  const std::string bytes = read_file(data / "nul.xlsx");
  LogCapture logs;
  ledgrin::process_expense_rename(config(data.string(), false));
  const auto errors = logs.texts("ERROR");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Failed to move " + (data / "nul.xlsx").string() + ": ", 0), 0u)
      << errors[0];
  EXPECT_EQ(read_file(data / "nul.xlsx"), bytes);
  EXPECT_FALSE(fs::exists(data / "results/abc"));
  EXPECT_FALSE(fs::exists(data / "backup/nul.xlsx"));
}

TEST_F(LedgrinPass, DefaultsAndConfigurationsThePassRefuses) {
  // No keys at all: ./data_ledgrin under the current folder, D6 and P56.
  {
    vaskit::testing::CurrentDir here(dir.path());
    claim(dir / "data_ledgrin/x.xlsx", std::string("X"), 2.0);
    LogCapture logs;
    ledgrin::process_expense_rename(json::object());
    EXPECT_EQ(logs.texts("INFO").front(), "Starting expense processing in: ./data_ledgrin");
    EXPECT_TRUE(fs::exists(dir / "data_ledgrin/results/X_2_1207_23165512.xlsx"));
  }
  LogCapture logs;
  for (const char *text : {"[1]", "\"x\"", "3", "null", "true", R"({"config": [1]})",
                           R"({"excel_in": "D6"})", R"({"config": {"path": 5}})"}) {
    EXPECT_THROW(ledgrin::process_expense_rename(json::parse(text)), ledgrin::ConfigError) << text;
  }
  EXPECT_TRUE(logs.lines().empty()); // refused before anything is done
  try {
    ledgrin::process_expense_rename(json::parse("[1]"));
  } catch (const ledgrin::ConfigError &e) {
    EXPECT_NE(std::string(e.what()).find("the configuration file's top level must be a mapping"),
              std::string::npos);
    EXPECT_NE(std::string(e.what()).find("list"), std::string::npos);
  }
  // Each line names the key and what stands there in the file's own terms.
  const std::pair<const char *, const char *> worded[] = {
      {R"({"excel_in": "D6"})", "the \"excel_in\" section must be a mapping; got text instead"},
      {R"({"config": {"path": 5}})", "config.path must be text; got a number instead"},
      {R"({"config": {"path": null}})", "config.path must be text; got null instead"},
  };
  for (const auto &[text, line] : worded) {
    try {
      ledgrin::process_expense_rename(json::parse(text));
      ADD_FAILURE() << text;
    } catch (const ledgrin::ConfigError &e) {
      EXPECT_EQ(std::string(e.what()), line);
    }
  }
}

} // namespace

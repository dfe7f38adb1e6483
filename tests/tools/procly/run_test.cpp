#include "core/text.hpp"
#include "formats/xlsx/workbook.hpp"
#include "support/console.hpp"
#include "support/files.hpp"
#include "support/log_capture.hpp"
#include "support/workbook_writer.hpp"
#include "tools/procly/procly.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

namespace procly = vaskit::procly;
namespace fs = std::filesystem;
using procly::json;
using vaskit::testing::BookDate;
using vaskit::testing::BookPlan;
using vaskit::testing::LogCapture;
using vaskit::testing::TempDir;
using vaskit::testing::write_book;
using vaskit::testing::write_file;
using V = vaskit::xlsx::CellValue;

// One system row: PO, SO, SO_POS, SO_SUFFIX, QTY, RDD in columns H..L and Q.
std::string sys_row(const std::string &po, const std::string &pos, const std::string &qty,
                    const std::string &rdd) {
  return ",,,,,,," + po + ",SO-" + po + "," + pos + ",S," + qty + ",,,,," + rdd + "\n";
}

class ProclyRun : public ::testing::Test {
protected:
  void SetUp() override { unsetenv("VAS"); }
  void TearDown() override { unsetenv("VAS"); }

  std::string path(const char *name) { return (dir / name).string(); }

  void customer(const std::vector<std::tuple<double, double, vaskit::testing::BookValue>> &rows) {
    BookPlan plan;
    plan.sheets = {{"Orders", {{"F2", std::string("PO")}}}};
    int r = 3;
    for (const auto &[po, qty, rdd] : rows) {
      plan.sheets[0].cells.push_back({"F" + std::to_string(r), po});
      plan.sheets[0].cells.push_back({"O" + std::to_string(r), qty});
      plan.sheets[0].cells.push_back({"R" + std::to_string(r), rdd});
      ++r;
    }
    write_book(dir / "c.xlsx", plan);
  }

  json config() {
    json c = json::object();
    c["system_data_path"] = path("s.csv");
    c["customer_data_path"] = path("c.xlsx");
    c["output_dir"] = path("out");
    return c;
  }

  TempDir dir;
};

TEST(ProclyConfig, TemplateAndDefaults) {
  const json t = procly::default_cfg_template();
  EXPECT_EQ(t.dump(), R"({"config":{"system_data_path":"./data_procly/system_data.csv",)"
                      R"("customer_data_path":"./data_procly/customer_data.xlsx",)"
                      R"("output_dir":"./data_procly/out","system_data":{"po_cell":"H2",)"
                      R"("so_cell":"I2","so_pos_cell":"J2","so_suffix_cell":"K2","qty_cell":"L2",)"
                      R"("rdd_cell":"Q2"},"customer_data":{"po_cell":"F3","qty_cell":"O3",)"
                      R"("rdd_cell":"R3"}}})");
  const procly::Procly empty(json::object());
  EXPECT_EQ(empty.system_data_path, "");
  EXPECT_EQ(empty.customer_data_path, "");
  EXPECT_EQ(empty.output_dir, "out");
  EXPECT_EQ(empty.sys_rdd_cell, "Q2");
  EXPECT_EQ(empty.rdd_cell, "R3");
  const procly::Procly custom(json::parse(R"({"customer_data": {"qty_cell": "P9"}})"));
  EXPECT_EQ(custom.qty_cell, "P9");
  EXPECT_EQ(custom.po_cell, "F3");
}

TEST_F(ProclyRun, MatchedRowsSortedBothWaysWithTheMonthlySummary) {
  write_file(path("s.csv"),
             "header\n" + sys_row("200", "20", "5", "2024-04-02") +
                 sys_row("100", "20", "3", "2024-03-15") + sys_row("100", "10", "3", "2024-05-01") +
                 sys_row("300", "10", "9", "not a date") + sys_row("999", "10", "1", "2024-03-01"));
  // 300's date is a bare day number (45360 is 2024-03-09), as some exports leave it.
  customer({{100, 3, BookDate{2024, 3, 1}}, {200, 5, BookDate{2024, 6, 30}}, {300, 9, 45360.0}});
  LogCapture logs;
  procly::Procly app(config());
  const auto result = app.run();
  EXPECT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.message, "Processed System & Customer Data and generated Result successfully.");
  EXPECT_EQ(logs.leveled(),
            (std::vector<std::string>{
                "INFO Starting Procly process on system data: " + path("s.csv"),
                "INFO Loading System data from: " + path("s.csv"),
                "INFO Successfully loaded system CSV with 5 rows.",
                "INFO Loading customer data from: " + path("c.xlsx"),
                "INFO Matching System and Customer data by PO and QTY...",
                "INFO Matching complete. Found 4 matched records.",
                "INFO ✅ Result Excel saved and formatted at: " + path("out") + "/result.xlsx"}));
  EXPECT_FALSE(fs::exists(dir / "out/debug_data.xlsx"));

  auto book = vaskit::xlsx::Workbook::open(dir / "out/result.xlsx");
  EXPECT_EQ(book.sheet_names(), (std::vector<std::string>{"byPO", "byRDD_SYS"}));
  auto &by_po = book.sheet("byPO");
  // PO, then SO_POS: 100/10, 100/20, 200/20, 300/10.
  EXPECT_EQ(by_po.value("A2"), V{100LL});
  EXPECT_EQ(by_po.value("C2"), V{10LL});
  EXPECT_EQ(by_po.value("F2"), V{std::string("2024-05-01")});
  EXPECT_EQ(by_po.value("C3"), V{20LL});
  EXPECT_EQ(by_po.value("A4"), V{200LL});
  EXPECT_EQ(by_po.value("A5"), V{300LL});
  EXPECT_EQ(by_po.value("F5"), V{}); // unreadable date: blank
  EXPECT_EQ(by_po.value("G5"), V{std::string("2024-03-09")});
  // The summary after two empty columns: months 24-Mar .. 24-Jun.
  EXPECT_EQ(by_po.value("H1"), V{});
  EXPECT_EQ(by_po.value("I1"), V{});
  EXPECT_EQ(by_po.value("J1"), V{});
  EXPECT_EQ(by_po.value("J2"), V{std::string("SYS_RDD")});
  EXPECT_EQ(by_po.value("J3"), V{std::string("CUS_RDD")});
  const std::vector<std::string> months = {"24-Mar", "24-Apr", "24-May", "24-Jun"};
  const std::vector<long long> sys = {3, 5, 3, 0}, cus = {3 + 3 + 9, 0, 0, 5};
  for (std::size_t i = 0; i < months.size(); ++i) {
    const std::string col(1, static_cast<char>('K' + i));
    EXPECT_EQ(by_po.value(col + "1"), V{months[i]});
    EXPECT_EQ(by_po.value(col + "2"), V{sys[i]}) << months[i];
    EXPECT_EQ(by_po.value(col + "3"), V{cus[i]}) << months[i];
  }
  // By system date, then PO; the row without a date last.
  auto &by_rdd = book.sheet("byRDD_SYS");
  EXPECT_EQ(by_rdd.value("F2"), V{std::string("2024-03-15")});
  EXPECT_EQ(by_rdd.value("F3"), V{std::string("2024-04-02")});
  EXPECT_EQ(by_rdd.value("F4"), V{std::string("2024-05-01")});
  EXPECT_EQ(by_rdd.value("A5"), V{300LL});
  EXPECT_EQ(by_rdd.value("K1"), V{}); // no summary on this sheet
}

TEST_F(ProclyRun, EachSideReadsItsDatesInTheOrderItsColumnShows) {
  // The system export writes month first, the customer workbook day first as text; a value
  // opening with a dot is no date on either side and the run goes on.
  write_file(path("s.csv"), "header\n" + sys_row("1", "10", "1", "05/06/2015") +
                                sys_row("2", "10", "2", "12/31/2016") +
                                sys_row("3", "10", "3", ".tbd") +
                                sys_row("4", "10", "4", "3/5/24"));
  customer({{1, 1, std::string("15/10/2017")},
            {2, 2, std::string("16/08/2016")},
            {3, 3, std::string("21/05/2015")},
            {4, 4, std::string("...TBD")}});
  const auto result = procly::Procly(config()).run();
  ASSERT_TRUE(result.ok()) << result.message;
  auto book = vaskit::xlsx::Workbook::open(dir / "out/result.xlsx");
  auto &by_po = book.sheet("byPO");
  const std::vector<V> sys = {V{std::string("2015-05-06")}, V{std::string("2016-12-31")}, V{},
                              V{std::string("2024-03-05")}};
  const std::vector<V> cus = {V{std::string("2017-10-15")}, V{std::string("2016-08-16")},
                              V{std::string("2015-05-21")}, V{}};
  for (std::size_t i = 0; i < sys.size(); ++i) {
    const std::string row = std::to_string(i + 2);
    EXPECT_EQ(by_po.value("A" + row), V{static_cast<long long>(i + 1)});
    EXPECT_EQ(by_po.value("F" + row), sys[i]) << row;
    EXPECT_EQ(by_po.value("G" + row), cus[i]) << row;
  }
}

TEST_F(ProclyRun, ATextLongerThanACellHoldsIsCutAndTheResultWritten) {
  // An order reference of 40,000 characters, some of them outside ASCII.
  std::string reference(32760, 'a');
  while (reference.size() < 40000)
    reference += "中é";
  write_file(path("s.csv"), "header\n" + sys_row("1", "10", "1", "2024-03-05") + ",,,,,,,2,\"" +
                                reference + "\",10,S,2,,,,,2024-03-06\n");
  customer({{1, 1, BookDate{2024, 3, 5}}, {2, 2, BookDate{2024, 3, 6}}});
  LogCapture logs;
  const auto result = procly::Procly(config()).run();
  ASSERT_TRUE(result.ok()) << result.message;
  const std::string cut = vaskit::text::prefix(reference, 32767);
  auto book = vaskit::xlsx::Workbook::open(dir / "out/result.xlsx");
  EXPECT_EQ(book.sheet("byPO").value("B3"), V{cut});
  EXPECT_EQ(book.sheet("byRDD_SYS").value("B3"), V{cut});
  EXPECT_EQ(book.sheet("byPO").value("B2"), V{std::string("SO-1")});
  const std::string tail = ": the text is longer than the 32,767 characters a cell holds and was "
                           "cut to fit.";
  EXPECT_EQ(logs.texts("WARNING"),
            (std::vector<std::string>{"Sheet 'byPO', row 3, column B" + tail,
                                      "Sheet 'byRDD_SYS', row 3, column B" + tail}));
}

TEST_F(ProclyRun, EarlyEndsAndTheirMessages) {
  {
    LogCapture logs;
    const auto r = procly::Procly(json::object()).run();
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.message, "System data file not found at: ");
    EXPECT_EQ(logs.leveled(),
              std::vector<std::string>{"INFO Starting Procly process on system data: "});
  }
  write_file(path("s.csv"), "h\n" + sys_row("1", "1", "1", "2024-01-01"));
  {
    json c = config();
    c["customer_data_path"] = path("c.csv");
    const auto r = procly::Procly(c).run();
    EXPECT_EQ(r.message, "Customer data file not found at: " + path("c.csv"));
  }
  customer({}); // headers only
  {
    LogCapture logs;
    const auto r = procly::Procly(config()).run();
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.message, "Data extraction failed or data is empty.");
    EXPECT_TRUE(logs.has(
        "ERROR", "System or Customer data is missing/empty. Cannot proceed with matching."));
  }
  customer({{2, 1, BookDate{2024, 1, 1}}});
  {
    LogCapture logs;
    const auto r = procly::Procly(config()).run();
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.message, "Process completed, but no matching records found.");
    EXPECT_TRUE(
        logs.has("WARNING", "Merge resulted in an empty dataframe. No matching records found."));
    EXPECT_FALSE(fs::exists(dir / "out/result.xlsx"));
  }
  write_file(path("c.xlsx"), "damaged");
  {
    LogCapture logs;
    const auto r = procly::Procly(config()).run();
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.message.find(path("c.xlsx")), std::string::npos) << r.message;
    EXPECT_TRUE(logs.has("ERROR", "Error during data processing"));
  }
  {
    json c = config();
    c["system_data"] = json::parse(R"({"qty_cell": "L"})");
    const auto r = procly::Procly(c).run();
    EXPECT_EQ(r.message, "the cell address of \"QTY\" is not one cell: 'L'");
  }
}

TEST_F(ProclyRun, SummaryLeftOutOrNotWritableAndTheDebugWorkbook) {
  // A quantity that is no number on both sides matches as text but cannot be summed.
  write_file(path("s.csv"), "h\n" + sys_row("1", "1", "ten", "2024-01-01"));
  BookPlan plan;
  plan.sheets = {{"O", {{"F3", 1.0}, {"O3", std::string("ten")}, {"R3", BookDate{2024, 1, 2}}}}};
  write_book(dir / "c.xlsx", plan);
  for (const char *value : {"01", "true", " 1", "1"}) {
    SCOPED_TRACE(value);
    fs::remove_all(dir / "out");
    setenv("VAS", value, 1);
    LogCapture logs;
    const auto r = procly::Procly(config()).run();
    EXPECT_TRUE(r.ok()) << r.message;
    EXPECT_TRUE(logs.has("WARNING", "Failed to create summary table: "));
    EXPECT_EQ(fs::exists(dir / "out/debug_data.xlsx"), std::string(value) == "1");
    auto book = vaskit::xlsx::Workbook::open(dir / "out/result.xlsx");
    EXPECT_EQ(book.sheet("byPO").value("E2"), V{std::string("ten")});
    EXPECT_EQ(book.sheet("byPO").max_column(), 7); // no summary block
  }
  auto debug = vaskit::xlsx::Workbook::open(dir / "out/debug_data.xlsx");
  EXPECT_EQ(debug.sheet_names(), (std::vector<std::string>{"SYS_DATA", "CUS_DATA"}));
  EXPECT_EQ(debug.sheet("SYS_DATA").value("F2"), V{std::string("2024-01-01")});
  EXPECT_EQ(debug.sheet("CUS_DATA").value("C2"), V{std::string("2024-01-02")});

  // An output folder that cannot be made: the writer's failure.
  unsetenv("VAS");
  write_file(path("blocked"), "a file where the folder should be");
  json c = config();
  c["output_dir"] = path("blocked") + "/out";
  LogCapture logs;
  const auto r = procly::Procly(c).run();
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.message, "Failed to save result excel file.");
  EXPECT_TRUE(logs.has("ERROR", "Failed to write workbook"));
}

} // namespace

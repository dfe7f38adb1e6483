// procly as a user runs it: a system CSV export and a customer workbook in, result.xlsx out,
// read back by the workbook layer and by another program (python3-openpyxl).
#include "core/config.hpp"
#include "formats/xlsx/workbook.hpp"
#include "support/files.hpp"
#include "support/process.hpp"
#include "support/workbook_writer.hpp"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using json = vaskit::config::json;
using vaskit::testing::BookDate;
using vaskit::testing::BookPlan;
using vaskit::testing::read_file;
using vaskit::testing::run_process;
using vaskit::testing::TempDir;
using vaskit::testing::write_book;
using vaskit::testing::write_file;
using V = vaskit::xlsx::CellValue;

const std::string kHost = std::string(VASKIT_BIN_DIR) + "/vas-kit";

// 17 columns; PO in H, SO in I, SO_POS in J, SO_SUFFIX in K, QTY in L, RDD in Q.
std::string csv_row(const std::string &po, const std::string &so, const std::string &pos,
                    const std::string &suffix, const std::string &qty, const std::string &rdd) {
  return "x,\"a, b\",,,,,," + po + "," + so + "," + pos + "," + suffix + "," + qty +
         ",,,,\"note, with comma\"," + rdd + "\r\n";
}

// Every sheet's values, whether row 1 is bold, and the column widths, as openpyxl sees them.
const char *const kReadBack = R"PY(
import json, sys
from openpyxl import load_workbook
book = load_workbook(sys.argv[1])
out = {}
for ws in book.worksheets:
    rows = [list(r) for r in ws.iter_rows(values_only=True)]
    bold = [bool(c.font.b) for c in ws[1] if c.value is not None]
    widths = {k: v.width for k, v in ws.column_dimensions.items()}
    out[ws.title] = {"rows": rows, "bold": bold, "widths": widths}
print(json.dumps(out, ensure_ascii=False))
)PY";

json read_back(const fs::path &book) {
  const auto r =
      run_process("/usr/bin/python3", {"-c", kReadBack, book.string()}, book.parent_path());
  EXPECT_EQ(r.status, 0) << r.err;
  return json::parse(r.out);
}

class ProclyCli : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string header =
        "\xEF\xBB\xBF"
        "c1,c2,c3,c4,c5,c6,c7,PO,SO,SO_POS,SO_SUFFIX,QTY,c13,c14,c15,c16,RDD\r\n";
    write_file(dir / "data/system_data.csv",
               header + csv_row("4500012345", "SO-1", "20", "\"A,1\"", "10", "2024-03-05") +
                   csv_row("4500012345", "SO-1", "10", "B", "10", "2024-04-01") +
                   csv_row("4500099999", "SO-2", "10", "C", "5", "2024-03-20") + // no match
                   csv_row("", "SO-3", "10", "D", "7", "2024-03-21") +           // missing PO
                   csv_row("0045", "SO-4", "10", "E", "2", "bad date") +
                   csv_row("4500077777", "SO-5", "10", "F", "3", "2024-05-31"));
    BookPlan plan;
    plan.sheets = {{"Customer",
                    {{"A1", std::string("Customer order list")},
                     {"F2", std::string("PO")},
                     {"O2", std::string("QTY")},
                     {"R2", std::string("RDD")},
                     {"F3", 4500012345.0}, // number against the CSV's digits
                     {"O3", 10.0},
                     {"R3", BookDate{2024, 3, 28}},
                     {"O4", 7.0}, // missing PO: never matches the CSV's missing PO
                     {"R4", BookDate{2024, 3, 21}},
                     {"F5", std::string("0045")}, // text with leading zeros matches text only
                     {"O5", std::string("2")},
                     {"R5", BookDate{2024, 6, 1}},
                     {"F6", std::string("4500077777")}, // text against the CSV's number
                     {"O6", 3.0},
                     {"R6", BookDate{2024, 5, 2}},
                     {"F7", 4500088888.0},
                     {"O7", 1.0},
                     {"R7", BookDate{2024, 7, 1}}}},
                   {"Archive", {{"F3", 4500099999.0}, {"O3", 5.0}, {"R3", BookDate{2024, 1, 1}}}}};
    write_book(dir / "data/customer_data.xlsx", plan);
    write_file(dir / "config.json",
               R"({"config": {"system_data_path": "./data/system_data.csv",
                              "customer_data_path": "./data/customer_data.xlsx",
                              "output_dir": "./data/out"}})");
  }

  vaskit::testing::ProcessResult procly(const std::vector<std::string> &args,
                                        const std::vector<std::string> &env = {}) {
    std::vector<std::string> all = {"procly"};
    all.insert(all.end(), args.begin(), args.end());
    return run_process(kHost, all, dir.path(), "", env);
  }

  TempDir dir;
};

TEST_F(ProclyCli, ResultWorkbookReadBackByTwoReaders) {
  const auto r = procly({"-c", "config.json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Success: Processed System & Customer Data and generated Result successfully.\n");
  EXPECT_NE(r.err.find("Matching complete. Found 4 matched records."), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "data/out/debug_data.xlsx"));

  const json got = read_back(dir / "data/out/result.xlsx");
  const json by_po = got.at("byPO").at("rows");
  // PO (numbers before text), then SO_POS; dates as text; the summary after two empty columns.
  const json expected_by_po = json::parse(R"([
    ["PO", "SO", "SO_POS", "SO_SUFFIX", "QTY", "SYSTEM_RDD", "CUSTOMER_RDD", null, null,
     null, "24-Mar", "24-Apr", "24-May", "24-Jun"],
    [4500012345, "SO-1", 10, "B", 10, "2024-04-01", "2024-03-28", null, null,
     "SYS_RDD", 10, 10, 3, 0],
    [4500012345, "SO-1", 20, "A,1", 10, "2024-03-05", "2024-03-28", null, null,
     "CUS_RDD", 20, 0, 3, 2],
    [4500077777, "SO-5", 10, "F", 3, "2024-05-31", "2024-05-02", null, null,
     null, null, null, null, null],
    ["0045", "SO-4", 10, "E", 2, null, "2024-06-01", null, null,
     null, null, null, null, null]])");
  EXPECT_EQ(by_po, expected_by_po) << by_po.dump();
  // By system date then PO; the row without a date last.
  const json by_rdd = got.at("byRDD_SYS").at("rows");
  ASSERT_EQ(by_rdd.size(), 5u) << by_rdd.dump();
  EXPECT_EQ(by_rdd[1][5], "2024-03-05");
  EXPECT_EQ(by_rdd[2][5], "2024-04-01");
  EXPECT_EQ(by_rdd[3][5], "2024-05-31");
  EXPECT_EQ(by_rdd[4][0], "0045");
  // Bold headers, and widths fitted to the content (the long header wider than a short one).
  for (const char *sheet : {"byPO", "byRDD_SYS"})
    for (const auto &b : got.at(sheet).at("bold"))
      EXPECT_TRUE(b.get<bool>()) << sheet;
  const json widths = got.at("byPO").at("widths");
  EXPECT_GT(widths.at("G").get<double>(), widths.at("B").get<double>()) << widths.dump();

  // The workbook layer reads the same values and types.
  auto book = vaskit::xlsx::Workbook::open(dir / "data/out/result.xlsx");
  auto &ws = book.sheet("byPO");
  EXPECT_EQ(ws.value("A2"), V{4500012345LL});
  EXPECT_EQ(ws.value("D3"), V{std::string("A,1")});
  EXPECT_EQ(ws.value("A5"), V{std::string("0045")});
  EXPECT_EQ(ws.value("F5"), V{});
  EXPECT_EQ(ws.value("M3"), V{3LL});
  EXPECT_EQ(ws.value("N2"), V{0LL});
}

TEST_F(ProclyCli, DebugWorkbookOnlyForExactlyOne) {
  for (const char *value : {"01", "true", " 1", ""}) {
    const auto r = procly({"-c", "config.json"}, {std::string("VAS=") + value});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(dir / "data/out/debug_data.xlsx")) << "VAS=" << value;
  }
  const auto r = procly({"-c", "config.json"}, {"VAS=1"});
  EXPECT_EQ(r.status, 0) << r.err;
  const json debug = read_back(dir / "data/out/debug_data.xlsx");
  EXPECT_EQ(debug.at("SYS_DATA").at("rows").size(), 7u); // header and six rows (one without PO)
  EXPECT_EQ(debug.at("CUS_DATA").at("rows")[0], json::parse(R"(["PO", "QTY", "RDD"])"));
  EXPECT_EQ(debug.at("CUS_DATA").at("rows")[1], json::parse(R"([4500012345, 10, "2024-03-28"])"));
}

TEST_F(ProclyCli, NoMatchNoOptionsTemplateAndUnusableFiles) {
  write_file(dir / "data/s2.csv", "h\r\n" + csv_row("1", "S", "1", "A", "1", "2024-01-01"));
  write_file(dir / "nomatch.json",
             R"({"config": {"system_data_path": "data/s2.csv",
                            "customer_data_path": "data/customer_data.xlsx",
                            "output_dir": "data/out2"}})");
  auto none = procly({"-c", "nomatch.json"});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "Success: Process completed, but no matching records found.\n");
  EXPECT_FALSE(fs::exists(dir / "data/out2/result.xlsx"));

  auto bare = procly({});
  EXPECT_EQ(bare.status, 1);
  EXPECT_EQ(bare.out, "Error: Please provide a JSON config file using -c.\n");

  auto tmpl = procly({"--generate-config", "-c", "nomatch.json"});
  EXPECT_EQ(tmpl.status, 0);
  EXPECT_EQ(tmpl.out, "Template created: " +
                          (fs::canonical(dir.path()) / "config_procly_template.json").string() +
                          "\n");
  EXPECT_EQ(json::parse(read_file(dir / "config_procly_template.json")),
            json::parse(R"({"config": {"system_data_path": "./data_procly/system_data.csv",
                "customer_data_path": "./data_procly/customer_data.xlsx",
                "output_dir": "./data_procly/out",
                "system_data": {"po_cell": "H2", "so_cell": "I2", "so_pos_cell": "J2",
                                "so_suffix_cell": "K2", "qty_cell": "L2", "rdd_cell": "Q2"},
                "customer_data": {"po_cell": "F3", "qty_cell": "O3", "rdd_cell": "R3"}}})"));

  write_file(dir / "empty.json", R"({"config": {}})");
  auto empty = procly({"-c", "empty.json"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, "Failed: System data file not found at: \n");

  // A file the loader cannot use: its own line, then the end with status 1.
  write_file(dir / "broken.json", "{\"config\": ");
  auto broken = procly({"-c", "broken.json"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.out.find("Success"), std::string::npos);
  EXPECT_EQ(broken.out.find("Failed"), std::string::npos);

  // A CSV with a quote that never closes: the catch-all names the file and the line.
  write_file(dir / "data/s3.csv", "h\r\n" + csv_row("1", "S", "1", "A", "1", "x") + "a,\"open\r\n");
  write_file(dir / "bad.json", R"({"config": {"system_data_path": "data/s3.csv"}})");
  auto bad = procly({"-c", "bad.json"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "Failed: data/s3.csv, line 3: a quoted field is never closed\n");
  EXPECT_NE(bad.err.find("Error during data processing"), std::string::npos);
}

TEST_F(ProclyCli, UnwritableResultFailsWithStatusOne) {
  // The output folder's place is taken by a file: the workbook cannot be written.
  write_file(dir / "taken", "not a folder");
  write_file(dir / "taken.json",
             R"({"config": {"system_data_path": "data/system_data.csv",
                            "customer_data_path": "data/customer_data.xlsx",
                            "output_dir": "taken"}})");
  const auto r = procly({"-c", "taken.json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Failed: Failed to save result excel file.\n");
  EXPECT_EQ(read_file(dir / "taken"), "not a folder");

  // A configuration without its "config" section ends the same way, with nothing written.
  write_file(dir / "nosection.json", R"({"other": {}})");
  const auto n = procly({"-c", "nosection.json"});
  EXPECT_EQ(n.status, 1);
  EXPECT_NE(n.out.find("nosection.json"), std::string::npos) << n.out;
  EXPECT_FALSE(fs::exists(dir / "data/out/result.xlsx"));
}

} // namespace

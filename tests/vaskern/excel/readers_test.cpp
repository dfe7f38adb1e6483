#include "core/fs.hpp"
#include "formats/xlsx/workbook.hpp"
#include "support/files.hpp"
#include "support/log_capture.hpp"
#include "support/workbook_writer.hpp"
#include "support/xlsx_fixtures.hpp"
#include "vaskern/excel/csv.hpp"
#include "vaskern/excel/excelTools.hpp"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using namespace vaskern::excelTools;
using vaskit::testing::BookDate;
using vaskit::testing::BookPlan;
using vaskit::testing::TempDir;
using vaskit::testing::write_book;
using vaskit::testing::write_file;
namespace fs = std::filesystem;

Cell num(double v) {
  return Cell{v};
}
Cell txt(const char *s) {
  return Cell{std::string(s)};
}
Cell none() {
  return Cell{};
}

std::string error_of(const std::function<void()> &fn) {
  try {
    fn();
  } catch (const std::exception &e) {
    return e.what();
  }
  return "(no error)";
}

TEST(ExcelCsv, QuotingLineEndsBomAndNumbers) {
  TempDir dir;
  const auto path = (dir / "s.csv").string();
  write_file(path, "\xEF\xBB\xBFh1,h2,h3\r\n"
                   "4500012345,\"a, \"\"quoted\"\" text\",0045\r\n"
                   "12.50,\"two\r\nlines\",-3e2\n"
                   "\n"
                   "12345678901234567890,x,1e\r\n"
                   "007,,+5\n");
  const Table t = read_csv_by_cells(path, {{"A", "A2"}, {"B", "B2"}, {"C", "C2"}});
  EXPECT_EQ(t.names(), (std::vector<std::string>{"A", "B", "C"}));
  // The blank line holds no value and is left out.
  EXPECT_EQ(t.column("A"), (std::vector<Cell>{num(4500012345), num(12.5),
                                              txt("12345678901234567890"), txt("007")}));
  EXPECT_EQ(t.column("B"),
            (std::vector<Cell>{txt("a, \"quoted\" text"), txt("two\r\nlines"), txt("x"), none()}));
  EXPECT_EQ(t.column("C"), (std::vector<Cell>{txt("0045"), num(-300), txt("1e"), num(5)}));
}

TEST(ExcelCsv, NumbersPaddedWithBlanksAreNumbers) {
  TempDir dir;
  const auto path = (dir / "s.csv").string();
  write_file(path, "PO,QTY,SO_POS\n"
                   "  4500012345 ,  10,\t20\n"
                   "\" 4500012346\",10 ,\" 0045 \"\n"
                   "A 1, ,x 2\n");
  const Table t = read_csv_by_cells(path, {{"PO", "A2"}, {"QTY", "B2"}, {"POS", "C2"}});
  EXPECT_EQ(t.column("PO"), (std::vector<Cell>{num(4500012345), num(4500012346), txt("A 1")}));
  // Blanks alone are text as written; identifiers with leading zeros keep their blanks too.
  EXPECT_EQ(t.column("QTY"), (std::vector<Cell>{num(10), num(10), txt(" ")}));
  EXPECT_EQ(t.column("POS"), (std::vector<Cell>{num(20), txt(" 0045 "), txt("x 2")}));
}

TEST(ExcelCsv, EachColumnFromItsOwnRowAndRaggedRows) {
  TempDir dir;
  const auto path = (dir / "s.csv").string();
  write_file(path, "title only\n"
                   "h,h,h\n"
                   "1,a\n"
                   "2\n"
                   ",b,x\n"
                   ",,\n"
                   ",,\n");
  // A starts at row 3, B at row 4: B's first value is "2"'s row, which has no B.
  const Table t = read_csv_by_cells(path, {{"A", "A3"}, {"B", "B4"}});
  EXPECT_EQ(t.column("A"), (std::vector<Cell>{num(1), num(2)}));
  EXPECT_EQ(t.column("B"), (std::vector<Cell>{none(), txt("b")}));
  EXPECT_EQ(read_csv_by_cells(path, {{"X", "Z9"}}).rows(), 0u);
}

TEST(ExcelCsv, BadInputNamesFileLineOrColumn) {
  TempDir dir;
  const auto path = (dir / "s.csv").string();
  write_file(path, "a,b\n1,2\n3,\"open\n4,5\n");
  EXPECT_EQ(error_of([&] {
              read_csv_by_cells(path, {{"A", "A2"}});
            }),
            path + ", line 3: a quoted field is never closed");
  write_file(path, "a,b\n1,2\ncaf\xE9,3\n");
  EXPECT_EQ(error_of([&] {
              read_csv_by_cells(path, {{"A", "A2"}});
            }),
            path + ", line 3: the text is not UTF-8");
  write_file(path, "a\n1\n");
  for (const char *bad : {"H", "2H", "H0", "H2:H9", ""})
    EXPECT_EQ(error_of([&] {
                read_csv_by_cells(path, {{"PO", "A2"}, {"QTY", bad}});
              }),
              std::string("the cell address of \"QTY\" is not one cell: '") + bad + "'");
  EXPECT_NE(error_of([&] {
              read_csv_by_cells((dir / "none.csv").string(), {{"A", "A1"}});
            }).find("none.csv"),
            std::string::npos);
}

TEST(ExcelCsv, TokenizerRecordEndsAndTextAroundQuotes) {
  using Records = std::vector<std::vector<std::string>>;
  Records records;
  const auto keep = [&](const std::vector<std::string> &fields) { records.push_back(fields); };
  // A lone CR ends a record; text after a closing quote and a quote inside an unquoted field
  // are field text; a trailing comma gives an empty last field.
  csv_records("a,\"b,\"\"c\"\"\"tail,\r"
              "\"two\nlines\",in\"side\r\n"
              "\n"
              "last",
              keep);
  EXPECT_EQ(records,
            (Records{{"a", "b,\"c\"tail", ""}, {"two\nlines", "in\"side"}, {""}, {"last"}}));
  // A never-closed quote names the line it opened on, counting line ends inside earlier quotes,
  // a lone CR as one.
  records.clear();
  try {
    csv_records("\"a\rb\",c\nd,\"open\ne\n", keep);
    ADD_FAILURE() << "no error";
  } catch (const CsvError &e) {
    EXPECT_EQ(std::string(e.what()), "line 3: a quoted field is never closed");
  }
  EXPECT_EQ(records, (Records{{"a\rb", "c"}}));
}

TEST(ExcelWorkbook, ActiveSheetTypedValuesFromTheirCells) {
  TempDir dir;
  const auto path = dir / "c.xlsx";
  BookPlan plan;
  plan.sheets = {{"Other", {{"F3", 999.0}, {"O3", 1.0}}},
                 {"Orders",
                  {{"A1", std::string("Customer orders")},
                   {"F2", std::string("PO")},
                   {"F3", 4500012345.0},
                   {"O3", 5.0},
                   {"R3", BookDate{2024, 3, 10}},
                   {"F4", std::string("4500012345")},
                   {"O4", 7.5},
                   {"R4", 45400.0},
                   {"O6", 3.0},
                   {"R6", std::string("2024-05-01")},
                   {"F7", true}}}};
  plan.active = 1;
  write_book(path, plan);
  const Table t =
      read_excel_by_cells(path.string(), {{"PO", "F3"}, {"QTY", "$o$3"}, {"RDD", "R3"}});
  EXPECT_EQ(t.column("PO"),
            (std::vector<Cell>{num(4500012345), txt("4500012345"), none(), txt("True")}));
  EXPECT_EQ(t.column("QTY"), (std::vector<Cell>{num(5), num(7.5), num(3), none()}));
  EXPECT_EQ(t.column("RDD"), (std::vector<Cell>{Cell{*make_date(2024, 3, 10)}, num(45400),
                                                txt("2024-05-01"), none()}));

  write_file(dir / "old.xls", "\xD0\xCF\x11\xE0 legacy");
  EXPECT_NE(error_of([&] {
              read_excel_by_cells((dir / "old.xls").string(), {{"PO", "F3"}});
            }).find(".xls workbooks"),
            std::string::npos);
  write_file(dir / "bad.xlsx", "garbage");
  EXPECT_NE(error_of([&] {
              read_excel_by_cells((dir / "bad.xlsx").string(), {{"PO", "F3"}});
            }).find("bad.xlsx"),
            std::string::npos);
}

TEST(ExcelWorkbook, WholeNumbersTooLongForADoubleKeepTheirDigits) {
  TempDir dir;
  auto entries = xlsx_test::rich_entries();
  for (auto &e : entries)
    if (e.name == "xl/worksheets/sheet2.xml") // the active sheet
      e.data = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
               "<sheetData><row r=\"2\"><c r=\"A2\"><v>12345678901234567</v></c></row>"
               "<row r=\"3\"><c r=\"A3\"><v>123456789012345678901234</v></c></row>"
               "<row r=\"4\"><c r=\"A4\"><v>-9007199254740993</v></c></row>"
               "<row r=\"5\"><c r=\"A5\"><v>9007199254740992</v></c></row>"
               "<row r=\"6\"><c r=\"A6\"><v>4500012345</v></c></row></sheetData></worksheet>";
  const auto path = dir / "ids.xlsx";
  xlsx_test::write_zip(path, entries);
  EXPECT_EQ(
      read_excel_by_cells(path.string(), {{"PO", "A2"}}).column("PO"),
      (std::vector<Cell>{txt("12345678901234567"), txt("123456789012345678901234"),
                         txt("-9007199254740993"), num(9007199254740992.0), num(4500012345)}));
}

TEST(ExcelMerge, LongIdentifiersMatchOnlyTheirOwnDigits) {
  // Digit runs past what a double holds exactly compare as text: neighbours that would round
  // to the same number stay apart. Shorter ones still match numbers.
  const Table left({"PO", "QTY", "SO"},
                   {{txt("12345678901234567"), txt("9007199254740993"), txt("4500012345"),
                     txt("1234567890123456"), txt("0.1000000000000000001")},
                    {num(1), num(1), num(1), num(1), num(1)},
                    {txt("s1"), txt("s2"), txt("s3"), txt("s4"), txt("s5")}});
  const Table right({"PO", "QTY", "RDD"},
                    {{txt("12345678901234568"), num(9007199254740992.0), num(4500012345),
                      num(1234567890123456.0), txt("12345678901234567"), num(0.1)},
                     {num(1), num(1), num(1), num(1), num(1), num(1)},
                     {txt("R1"), txt("R2"), txt("R3"), txt("R4"), txt("R5"), txt("R6")}});
  const Table m = merge_exact_match(left, right, {"PO", "QTY"}, {"_SYS", "_CUST"});
  EXPECT_EQ(m.column("SO"), (std::vector<Cell>{txt("s1"), txt("s3"), txt("s4")}));
  EXPECT_EQ(m.column("RDD"), (std::vector<Cell>{txt("R5"), txt("R3"), txt("R4")}));
}

TEST(ExcelMerge, InnerJoinInLeftOrderWithNumericKeys) {
  const Table left({"PO", "QTY", "SO", "RDD"},
                   {{num(4500012345), txt("10"), num(7), none(), txt("0045"), num(1)},
                    {num(10), num(2), num(3), num(1), num(1), none()},
                    {txt("s1"), txt("s2"), txt("s3"), txt("s4"), txt("s5"), txt("s6")},
                    {txt("L1"), txt("L2"), txt("L3"), txt("L4"), txt("L5"), txt("L6")}});
  const Table right(
      {"PO", "QTY", "RDD"},
      {{txt("4500012345"), num(10), txt(" 4500012345 "), none(), num(45), txt("0045"), none()},
       {num(10.0), txt("2"), num(10), num(1), num(1), txt("1"), none()},
       {txt("R1"), txt("R2"), txt("R3"), txt("R4"), txt("R5"), txt("R6"), txt("R7")}});
  const Table m = merge_exact_match(left, right, {"PO", "QTY"}, {"_SYS", "_CUST"});
  EXPECT_EQ(m.names(), (std::vector<std::string>{"PO", "QTY", "SO", "RDD_SYS", "RDD_CUST"}));
  // Left row 1 matches right rows 1 and 3 (text that reads as the same number); left row 2
  // ("10", 2) matches right row 2; "0045" matches only the text "0045"; missing keys never
  // match, even each other.
  EXPECT_EQ(m.column("SO"), (std::vector<Cell>{txt("s1"), txt("s1"), txt("s2"), txt("s5")}));
  EXPECT_EQ(m.column("RDD_CUST"), (std::vector<Cell>{txt("R1"), txt("R3"), txt("R2"), txt("R6")}));
  EXPECT_EQ(m.column("PO"),
            (std::vector<Cell>{num(4500012345), num(4500012345), txt("10"), txt("0045")}));
  EXPECT_TRUE(merge_exact_match(left, Table({"PO", "QTY"}, {{num(1)}, {num(99)}}), {"PO", "QTY"},
                                {"_SYS", "_CUST"})
                  .empty());
  EXPECT_THROW(merge_exact_match(left, Table({"PO"}, {{num(1)}}), {"PO", "QTY"}, {"_a", "_b"}),
               MissingColumn);
}

TEST(ExcelWriter, BlocksHeadersLabelsAndAtomicFailure) {
  TempDir dir;
  vaskit::testing::LogCapture logs;
  Table data({"PO", "NAME", "DATE"}, {{num(4500012345), num(2.5), none()},
                                      {txt("=SUM(A1:A2)"), txt("王小明的長名稱訂單"), txt("x")},
                                      {Cell{*make_date(2024, 3, 5)}, none(), txt("2024-04-01")}});
  Table summary({"24-Mar", "24-Apr"}, {{num(5), num(0)}, {num(7), num(2)}});
  summary.set_index({"SYS_RDD", "CUS_RDD"});
  const auto path = dir / "out/sub/r.xlsx"; // the folder does not exist yet
  ASSERT_TRUE(write_formatted_excel(
      path.string(), {{"byPO", {{&data, false, 0}, {&summary, true, 5}}}, {"Two", {{&data}}}},
      vaskern::app_logging::lazy_logger("ExcelTest")));
  auto book = vaskit::xlsx::Workbook::open(path);
  EXPECT_EQ(book.sheet_names(), (std::vector<std::string>{"byPO", "Two"}));
  auto &ws = book.sheet("byPO");
  using V = vaskit::xlsx::CellValue;
  EXPECT_EQ(ws.value("A1"), V{std::string("PO")});
  EXPECT_EQ(ws.value("A2"), V{4500012345LL});
  EXPECT_EQ(ws.value("B2"), V{std::string("=SUM(A1:A2)")}); // text, not a formula
  EXPECT_EQ(ws.value("C2"), V{std::string("2024-03-05")});
  EXPECT_EQ(ws.value("A3"), V{2.5});
  EXPECT_EQ(ws.value("C3"), V{});
  EXPECT_EQ(ws.value("F1"), V{}); // the label column's header is empty
  EXPECT_EQ(ws.value("G1"), V{std::string("24-Mar")});
  EXPECT_EQ(ws.value("F2"), V{std::string("SYS_RDD")});
  EXPECT_EQ(ws.value("F3"), V{std::string("CUS_RDD")});
  EXPECT_EQ(ws.value("H3"), V{2LL});
  EXPECT_EQ(book.sheet("Two").value("B3"), V{std::string("王小明的長名稱訂單")});
  EXPECT_TRUE(logs.lines().empty());

  // Texts that look like the workbook's own character escapes, or hold a NUL character, come
  // back as they were written.
  Table tricky({"_x0041_"}, {{txt("SO_x00e9_1"), Cell{std::string("S\0O", 3)}, txt("_x41_")}});
  ASSERT_TRUE(write_formatted_excel((dir / "t.xlsx").string(), {{"S", {{&tricky}}}},
                                    vaskern::app_logging::lazy_logger("ExcelTest")));
  auto tricky_book = vaskit::xlsx::Workbook::open(dir / "t.xlsx");
  auto &t = tricky_book.sheet("S");
  EXPECT_EQ(t.value("A1"), V{std::string("_x0041_")});
  EXPECT_EQ(t.value("A2"), V{std::string("SO_x00e9_1")});
  EXPECT_EQ(t.value("A3"), V{std::string("S\0O", 3)});
  EXPECT_EQ(t.value("A4"), V{std::string("_x41_")});

  // A target that cannot be written: false, one error line, nothing left behind.
  fs::create_directories(dir / "taken.xlsx");
  EXPECT_FALSE(write_formatted_excel((dir / "taken.xlsx").string(), {{"S", {{&data}}}},
                                     vaskern::app_logging::lazy_logger("ExcelTest")));
  ASSERT_EQ(logs.lines().size(), 1u);
  EXPECT_EQ(
      logs.lines()[0].text.rfind("Failed to write workbook " + (dir / "taken.xlsx").string(), 0),
      0u);
  EXPECT_TRUE(fs::is_directory(dir / "taken.xlsx"));
}

TEST(ExcelWriter, EscapedCharactersCountTowardsWhatACellHolds) {
  // 20,000 NUL characters are under a cell's 32,767, but each is stored as a 7-character
  // escape: the text is cut where its stored form fills the cell.
  TempDir dir;
  vaskit::testing::LogCapture logs;
  Table t({"T"}, {{Cell{std::string(20000, '\0')}}});
  ASSERT_TRUE(write_formatted_excel((dir / "t.xlsx").string(), {{"S", {{&t}}}},
                                    vaskern::app_logging::lazy_logger("ExcelTest")));
  auto book = vaskit::xlsx::Workbook::open(dir / "t.xlsx");
  EXPECT_EQ(book.sheet("S").value("A2"), vaskit::xlsx::CellValue{std::string(32767 / 7, '\0')});
  EXPECT_EQ(logs.texts("WARNING"),
            std::vector<std::string>{"Sheet 'S', row 2, column A: the text is longer than the "
                                     "32,767 characters a cell holds and was cut to fit."});
}

TEST(ExcelWriter, InterruptWhileWritingLeavesNoTemporaryAndNoNewFolder) {
  // The signal comes while the sheets are being written (at the warning for a text cut to fit),
  // and once more while the finished workbook is being saved.
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    TempDir dir, tmp;
    Table t({"T"}, {{txt("a"), Cell{std::string(40000, 'x')}}});
    EXPECT_EXIT(
        {
          ::setenv("TMPDIR", tmp.path().c_str(), 1);
          static int signal_to_send;
          signal_to_send = sig;
          vaskern::app_logging::set_test_sink([](std::string_view level, std::string_view) {
            if (level == "WARNING")
              ::kill(::getpid(), signal_to_send);
          });
          write_formatted_excel((dir / "out/sub/r.xlsx").string(), {{"S", {{&t}}}},
                                vaskern::app_logging::lazy_logger("ExcelTest"));
          std::exit(0); // the signal should have ended the run before this
        },
        ::testing::KilledBySignal(sig), "");
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_TRUE(fs::is_empty(tmp.path()));

    EXPECT_EXIT(
        {
          ::setenv("TMPDIR", tmp.path().c_str(), 1);
          static int signal_to_send;
          signal_to_send = sig;
          const vaskit::fs::ScopedWriteHook hook([](vaskit::fs::WriteStage stage, std::size_t) {
            if (stage == vaskit::fs::WriteStage::before_rename)
              ::kill(::getpid(), signal_to_send);
          });
          write_formatted_excel((dir / "out/r.xlsx").string(), {{"S", {{&t}}}},
                                vaskern::app_logging::lazy_logger("ExcelTest"));
          std::exit(0);
        },
        ::testing::KilledBySignal(sig), "");
    // The save was under way: the signal waits for the workbook to be whole and in place.
    std::vector<std::string> names;
    for (const auto &e : fs::recursive_directory_iterator(dir.path()))
      names.push_back(fs::relative(e.path(), dir.path()).string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"out", "out/r.xlsx"}));
    EXPECT_TRUE(fs::is_empty(tmp.path()));
  }
}

} // namespace

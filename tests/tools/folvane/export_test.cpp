// The expense workbook export: which cells change, what they hold, and that the user's workbook
// (its form, formulas, other sheets and macro project) comes through intact or not at all.
#include "folvane_support.hpp"
#include "tools/folvane/folvane.hpp"

// The rich macro-enabled fixture and the zip readers of the workbook library's own tests.
#include "core/fs.hpp"
#include "formats/xlsx/package.hpp"
#include "support/xlsx_fixtures.hpp"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace xlsx = vaskit::xlsx;
using vaskit::testing::LogCapture;
using vaskit::folvane::DEFAULT_CONFIG;
using vaskit::folvane::Folvaner;
using vaskit::folvane::json;
using vaskit::folvane::ReceiptInfo;
using xlsx_test::entry;
using xlsx_test::read_zip;

const std::string kEcho = " (自 M5/N5/P5/Q5 依序寫入，間隔 3 列)";

ReceiptInfo receipt(std::optional<std::string> date, std::optional<std::string> total,
                    std::optional<std::string> pickup, std::optional<std::string> dropoff,
                    std::string filename) {
  ReceiptInfo info;
  info.date = std::move(date);
  info.total = std::move(total);
  info.pickup_address = std::move(pickup);
  info.dropoff_address = std::move(dropoff);
  if (info.pickup_address && info.dropoff_address)
    info.address = *info.pickup_address + "\n" + *info.dropoff_address;
  info.filename = std::move(filename);
  return info;
}

// A receipt between two sites of the built-in address table.
ReceiptInfo known_trip(std::string filename = "a.pdf") {
  return receipt("2024年3月5日", "1,234", "台北市松山區敦化北路100號", "台北市內湖區瑞光路188號",
                 std::move(filename));
}
const std::string kKnownTripDescription = "ZVT(松山)->Brannor(內湖) radar support";

// The template's settings with the folders pointed at `dir`.
json settings(const fs::path &dir) {
  json conf = DEFAULT_CONFIG.at("config");
  conf["input_folder"] = dir.string();
  conf["output_folder"] = dir.string();
  return conf;
}

struct ExportRun {
  bool ok = false;
  std::string out; // console
};

ExportRun export_to(Folvaner &app, const std::vector<ReceiptInfo> &infos,
                    const std::optional<std::string> &path = std::nullopt) {
  ::testing::internal::CaptureStdout();
  ExportRun r;
  try {
    r.ok = app.export_receipts_to_excel(infos, path);
  } catch (...) {
    ::testing::internal::GetCapturedStdout();
    throw;
  }
  r.out = ::testing::internal::GetCapturedStdout();
  return r;
}

// The style record a cell of a saved sheet points at: its attributes, and those of its
// alignment ("alignment.horizontal", ...) and protection ("protection.locked").
std::map<std::string, std::string> cell_style(const fs::path &book, const std::string &sheet_part,
                                              const std::string &address) {
  const auto entries = read_zip(book);
  pugi::xml_document sheet, styles;
  EXPECT_TRUE(sheet.load_string(entry(entries, sheet_part).data.c_str()));
  EXPECT_TRUE(styles.load_string(entry(entries, "xl/styles.xml").data.c_str()));
  const pugi::xml_node cell = sheet.select_node(("//c[@r='" + address + "']").c_str()).node();
  if (!cell)
    return {{"missing", address}};
  const int index = cell.attribute("s").as_int(0);
  pugi::xml_node xf = styles.child("styleSheet").child("cellXfs").first_child();
  for (int i = 0; i < index && xf; ++i)
    xf = xf.next_sibling();
  std::map<std::string, std::string> out;
  for (const auto &a : xf.attributes())
    out[a.name()] = a.value();
  for (const char *part : {"alignment", "protection"})
    for (const auto &a : xf.child(part).attributes())
      out[std::string(part) + "." + a.name()] = a.value();
  return out;
}

bool has_formula(const fs::path &book, const std::string &sheet_part, const std::string &address) {
  pugi::xml_document sheet;
  sheet.load_string(entry(read_zip(book), sheet_part).data.c_str());
  return sheet.select_node(("//c[@r='" + address + "']/f").c_str()).node() != nullptr;
}

class ExportTest : public xlsx_test::TempDirTest {
protected:
  void SetUp() override {
    TempDirTest::SetUp();
    book = dir / "payList_tool.xlsm";
  }
  fs::path book;
};

TEST_F(ExportTest, FormKeepsItsMacrosShapesStylesAndOtherSheet) {
  xlsx_test::write_rich_xlsm(book);
  const auto before = read_zip(book);
  Folvaner app(settings(dir));
  LogCapture logs;

  const ExportRun r = export_to(app, {known_trip()});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.out, "🎉 成功寫入 Excel 報表: " + book.string() + kEcho + "\n");
  EXPECT_EQ(logs.texts("INFO"),
            (std::vector<std::string>{"📖 已成功載入現有 Excel 工具: " + book.string(),
                                      "🎉 [EXCEL] 成功更新 Excel 報表: " + book.string()}));

  // Parts the export has no business with keep their stored bytes.
  const auto after = read_zip(book);
  for (const std::string name :
       {"xl/vbaProject.bin", "xl/drawings/drawing1.xml", "xl/drawings/vmlDrawing1.vml",
        "xl/ctrlProps/ctrlProp1.xml", "xl/worksheets/sheet1.xml",
        "xl/worksheets/_rels/sheet2.xml.rels", "xl/sharedStrings.xml", "customXml/item1.xml"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(entry(after, name).compressed, entry(before, name).compressed);
    EXPECT_EQ(entry(after, name).method, entry(before, name).method);
  }
  EXPECT_NE(entry(after, "xl/workbook.xml").data.find("fullCalcOnLoad=\"1\""), std::string::npos);

  auto wb = xlsx::Workbook::open(book);
  EXPECT_TRUE(wb.has_macro_project());
  auto &form = wb.active_sheet();
  EXPECT_EQ(form.name(), "Form");
  EXPECT_EQ(form.value("M5"), xlsx::CellValue(std::string("2024/03/05")));
  EXPECT_EQ(form.value("N5"), xlsx::CellValue(std::string("Transportation_Taxi_Limo")));
  EXPECT_EQ(form.value("P5"), xlsx::CellValue(kKnownTripDescription));
  EXPECT_EQ(form.value("Q5"), xlsx::CellValue(1234LL));
  EXPECT_EQ(form.value("O5"), xlsx::CellValue(7LL));
  EXPECT_TRUE(has_formula(book, "xl/worksheets/sheet2.xml", "R5"));
  EXPECT_TRUE(has_formula(book, "xl/worksheets/sheet2.xml", "R6"));
  EXPECT_EQ(form.value("A8"), xlsx::CellValue(9LL));
  EXPECT_EQ(wb.sheet("Data").value("B3"), xlsx::CellValue(3LL));

  // The form's own fonts, borders and number formats stay; only the alignment is the export's.
  using Style = std::map<std::string, std::string>;
  const auto styled = [](Style s) {
    s.erase("xfId");
    s.erase("applyAlignment");
    s.erase("applyFont");
    s.erase("applyBorder");
    s.erase("applyNumberFormat");
    s.erase("applyProtection");
    s.erase("fillId");
    return s;
  };
  const std::string sheet = "xl/worksheets/sheet2.xml";
  EXPECT_EQ(styled(cell_style(book, sheet, "M5")), (Style{{"numFmtId", "0"},
                                                          {"fontId", "1"},
                                                          {"borderId", "1"},
                                                          {"alignment.horizontal", "center"},
                                                          {"alignment.vertical", "center"},
                                                          {"protection.locked", "0"}}));
  EXPECT_EQ(styled(cell_style(book, sheet, "N5")), (Style{{"numFmtId", "0"},
                                                          {"fontId", "0"},
                                                          {"borderId", "0"},
                                                          {"alignment.horizontal", "left"},
                                                          {"alignment.vertical", "center"}}));
  // P has a column style (the form's description column): a new cell takes it.
  EXPECT_EQ(styled(cell_style(book, sheet, "P5")), (Style{{"numFmtId", "0"},
                                                          {"fontId", "1"},
                                                          {"borderId", "1"},
                                                          {"alignment.horizontal", "left"},
                                                          {"alignment.vertical", "center"},
                                                          {"alignment.wrapText", "1"},
                                                          {"protection.locked", "0"}}));
  EXPECT_EQ(styled(cell_style(book, sheet, "Q5")), (Style{{"numFmtId", "3"},
                                                          {"fontId", "1"},
                                                          {"borderId", "1"},
                                                          {"alignment.horizontal", "center"},
                                                          {"alignment.vertical", "center"}}));
}

// A reader of another make sees the same workbook: values, alignments, fonts, macros kept.
TEST_F(ExportTest, OpenpyxlReadsTheSameValues) {
  if (!xlsx_test::have_openpyxl())
    GTEST_SKIP() << "python3-openpyxl is not installed";
  xlsx_test::write_rich_xlsm(book);
  Folvaner app(settings(dir));
  LogCapture logs;
  ASSERT_TRUE(export_to(app, {known_trip(),
                              receipt("2024-06-01", "NT$120", "台北車站", std::nullopt, "b.pdf")})
                  .ok);

  const std::string script = R"PY(
import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1], keep_vba=True)
ws = wb.active
print(ws.title, "xl/vbaProject.bin" in wb.vba_archive.namelist(), wb.sheetnames)
for ref in ("M5", "N5", "P5", "Q5", "O5", "M8", "P8", "Q8"):
    c = ws[ref]
    a = c.alignment
    print(ref, repr(c.value), a.horizontal, a.vertical, bool(a.wrap_text))
print(ws["M5"].font.name, ws["M5"].font.b, ws["M5"].border.left.style)
print(wb["Data"]["B3"].value)
)PY";
  const std::string out = xlsx_test::run_python(script, {book.string()});
  EXPECT_EQ(out, "Form True ['Data', 'Form']\n"
                 "M5 '2024/03/05' center center False\n"
                 "N5 'Transportation_Taxi_Limo' left center False\n"
                 "P5 '" +
                     kKnownTripDescription +
                     "' left center True\n"
                     "Q5 1234 center center False\n"
                     "O5 7 right None True\n"
                     "M8 '2024/06/01' center center False\n"
                     "P8 '台北車站 radar support' left center True\n"
                     "Q8 'NT$120' center center False\n"
                     "Arial True thin\n"
                     "=A1*3\n");
}

TEST_F(ExportTest, RowGroupsThreeApartKeepWhatLiesBetween) {
  xlsx_test::write_rich_xlsm(book);
  {
    // An earlier, longer pass and the user's notes between the row groups.
    auto wb = xlsx::Workbook::open(book);
    auto &ws = wb.active_sheet();
    for (int row : {6, 7, 9, 10, 12, 13, 14})
      ws.set_value(row, 13, "keep " + std::to_string(row));
    for (int row : {5, 8, 11})
      ws.set_value(row, 15, "O" + std::to_string(row));
    ws.set_value("Q8", 999LL);
    ws.set_value("Q11", 998LL);
    ws.set_value("Q14", "old amount");
    wb.save();
  }
  Folvaner app(settings(dir));
  LogCapture logs;
  struct Case {
    ReceiptInfo info;
    int row;
    xlsx::CellValue date, description, amount;
  };
  const std::vector<Case> cases = {
      {known_trip(), 5, std::string("2024/03/05"), kKnownTripDescription, 1234LL},
      // No total: the amount cell keeps what it held.
      {receipt("2024/12/25", std::nullopt, "Songshan Station", "台北市內湖區瑞光路188號", "b.pdf"),
       8, std::string("2024/12/25"), std::string("Songshan Station->Brannor(內湖) radar support"),
       999LL},
      {receipt("03/05/2024", "NT$120", std::nullopt, "台北市內湖區洲子街12號", "c.pdf"), 11,
       std::string("03/05/2024"), std::string("Norvale(內湖) radar support"),
       std::string("NT$120")},
  };
  std::vector<ReceiptInfo> infos;
  for (const auto &c : cases)
    infos.push_back(c.info);
  ASSERT_TRUE(export_to(app, infos).ok);

  auto wb = xlsx::Workbook::open(book);
  auto &ws = wb.active_sheet();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.row);
    EXPECT_EQ(ws.value(c.row, 13), c.date);
    EXPECT_EQ(ws.value(c.row, 14), xlsx::CellValue(std::string("Transportation_Taxi_Limo")));
    EXPECT_EQ(ws.value(c.row, 15), xlsx::CellValue("O" + std::to_string(c.row)));
    EXPECT_EQ(ws.value(c.row, 16), c.description);
    EXPECT_EQ(ws.value(c.row, 17), c.amount);
  }
  for (int row : {6, 7, 9, 10, 12, 13, 14})
    EXPECT_EQ(ws.value(row, 13), xlsx::CellValue("keep " + std::to_string(row))) << row;
  EXPECT_EQ(ws.value("Q14"), xlsx::CellValue(std::string("old amount")));
  EXPECT_EQ(ws.value("N14"), xlsx::CellValue());
  // The places the table does not know are reported, tagged with the receipt's file name.
  EXPECT_EQ(
      logs.texts("WARNING"),
      (std::vector<std::string>{
          "⚠️ 檔案: b.pdf | 未找到對應公司名稱 (起點: 'Songshan Station')"}));
  EXPECT_EQ(logs.texts("ERROR"),
            (std::vector<std::string>{
                "❌ 檔案: c.pdf | 未找到上車地點！(僅有迄點: '台北市內湖區洲子街12號')"}));
}

TEST_F(ExportTest, AmountsAndDatesInTheirCellForms) {
  struct Case {
    std::optional<std::string> date, total;
    xlsx::CellValue date_cell, amount_cell;
  };
  const std::vector<Case> cases = {
      {"2024年 5 月 3 日", "1,280", std::string("2024/05/03"), 1280LL},
      {"2024/5-3", "$ 75.50", std::string("2024/05/03"), 75.5},
      {"2024-12-01 10:20", "120.00", std::string("2024/12/01"), 120LL},
      {"sometime", "NT$120", std::string("sometime"), std::string("NT$120")},
      // No date: an empty date cell. An empty total empties the amount cell too.
      {std::nullopt, "", xlsx::CellValue(), xlsx::CellValue()},
  };
  xlsx_test::write_rich_xlsm(book);
  {
    auto wb = xlsx::Workbook::open(book);
    for (std::size_t i = 0; i < cases.size(); ++i) {
      wb.active_sheet().set_value(5 + 3 * static_cast<int>(i), 13, "old date");
      wb.active_sheet().set_value(5 + 3 * static_cast<int>(i), 17, "old amount");
    }
    wb.save();
  }
  std::vector<ReceiptInfo> infos;
  for (const auto &c : cases)
    infos.push_back(receipt(c.date, c.total, "台北車站", "松山車站", "x.pdf"));
  Folvaner app(settings(dir));
  LogCapture logs;
  ASSERT_TRUE(export_to(app, infos).ok);

  auto wb = xlsx::Workbook::open(book);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const int row = 5 + 3 * static_cast<int>(i);
    EXPECT_EQ(wb.active_sheet().value(row, 13), cases[i].date_cell);
    EXPECT_EQ(wb.active_sheet().value(row, 17), cases[i].amount_cell);
  }
}

// Receipt text comes from strangers' PDFs: it must never become a formula or break the file.
TEST_F(ExportTest, ReceiptTextIsStoredAsPlainText) {
  xlsx_test::write_rich_xlsm(book);
  json conf = settings(dir);
  conf["address_mapping"] = json::object();
  conf["description_suffix"] = "";
  Folvaner app(conf);
  LogCapture logs;
  ReceiptInfo info =
      receipt("=1+1", "=SUM(A1:A9)", "=HYPERLINK(\"http://x\")", std::nullopt, "evil.pdf");
  info.pickup_address = "=HYPERLINK(\"http://x\")\x01\x1b[31m";
  ASSERT_TRUE(export_to(app, {info}).ok);

  const std::string sheet = "xl/worksheets/sheet2.xml";
  for (const char *cell : {"M5", "P5", "Q5"})
    EXPECT_FALSE(has_formula(book, sheet, cell)) << cell;
  auto wb = xlsx::Workbook::open(book);
  auto &ws = wb.active_sheet();
  EXPECT_EQ(ws.value("M5"), xlsx::CellValue(std::string("=1+1")));
  EXPECT_EQ(ws.value("P5"), xlsx::CellValue(std::string("=HYPERLINK(\"http://x\")[31m")));
  EXPECT_EQ(ws.value("Q5"), xlsx::CellValue(std::string("=SUM(A1:A9)")));
  // The sheet is well-formed XML after control characters in the text.
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(entry(read_zip(book), sheet).data.c_str()));
}

TEST_F(ExportTest, MacroProjectKeptOnlyUnderAMacroEnabledName) {
  struct Case {
    std::string name;
    bool macros;
  };
  for (const Case &c : std::vector<Case>{
           {"book.xlsm", true}, {"BOOK.XLSM", true}, {"book.Xlsm", true}, {"book.xlsx", false}}) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir / c.name;
    xlsx_test::write_rich_xlsm(path);
    Folvaner app(settings(dir));
    LogCapture logs;
    ASSERT_TRUE(export_to(app, {known_trip()}, path.string()).ok);
    auto wb = xlsx::Workbook::open(path);
    EXPECT_EQ(wb.has_macro_project(), c.macros);
    const auto entries = read_zip(path);
    const std::string types = entry(entries, "[Content_Types].xml").data;
    EXPECT_EQ(types.find("macroEnabled") != std::string::npos, c.macros) << types;
    bool vba_part = false;
    for (const auto &e : entries)
      vba_part = vba_part || e.name == "xl/vbaProject.bin";
    EXPECT_EQ(vba_part, c.macros);
    // The form is filled either way.
    EXPECT_EQ(wb.active_sheet().value("P5"), xlsx::CellValue(kKnownTripDescription));
    // The pass's default workbook was not touched.
    EXPECT_FALSE(fs::exists(book));
  }
}

TEST_F(ExportTest, ActiveSheetIsFilledWhateverItIs) {
  xlsx_test::write_rich_xlsm(book, {.active_tab = 0});
  const auto before = read_zip(book);
  Folvaner app(settings(dir));
  LogCapture logs;
  ASSERT_TRUE(export_to(app, {known_trip()}).ok);
  auto wb = xlsx::Workbook::open(book);
  EXPECT_EQ(wb.sheet("Data").value("P5"), xlsx::CellValue(kKnownTripDescription));
  EXPECT_EQ(wb.sheet("Data").value("A1"), xlsx::CellValue(1LL));
  EXPECT_EQ(entry(read_zip(book), "xl/worksheets/sheet2.xml").compressed,
            entry(before, "xl/worksheets/sheet2.xml").compressed);
}

TEST_F(ExportTest, MissingWorkbookIsCreatedInAMissingFolder) {
  json conf = settings(dir);
  conf["output_folder"] = (dir / "out" / "deeper").string();
  conf["default_expense_type"] = 42;
  Folvaner app(conf);
  const std::string path = app.output_excel;
  LogCapture logs;
  const ExportRun r = export_to(app, {known_trip()});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.out, "🎉 成功寫入 Excel 報表: " + path + kEcho + "\n");
  EXPECT_EQ(logs.texts("WARNING"),
            (std::vector<std::string>{"⚠️ 找不到現有的 " + path + "，已建立新活頁簿。"}));
  EXPECT_EQ(logs.texts("INFO"),
            (std::vector<std::string>{"🎉 [EXCEL] 成功更新 Excel 報表: " + path}));

  auto wb = xlsx::Workbook::open(path);
  EXPECT_EQ(wb.sheet_names(), (std::vector<std::string>{"PayList"}));
  EXPECT_FALSE(wb.has_macro_project());
  auto &ws = wb.active_sheet();
  EXPECT_EQ(ws.value("M5"), xlsx::CellValue(std::string("2024/03/05")));
  EXPECT_EQ(ws.value("N5"), xlsx::CellValue(42LL));
  EXPECT_EQ(ws.value("Q5"), xlsx::CellValue(1234LL));
  EXPECT_EQ(ws.max_row(), 5);
  EXPECT_EQ(ws.max_column(), 17);
}

TEST_F(ExportTest, EmptyListSavesTheWorkbookUnchangedInContent) {
  xlsx_test::write_rich_xlsm(book);
  Folvaner app(settings(dir));
  LogCapture logs;
  const ExportRun r = export_to(app, {});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.out, "🎉 成功寫入 Excel 報表: " + book.string() + kEcho + "\n");
  const auto before = xlsx_test::rich_entries();
  const auto after = read_zip(book);
  for (const auto &e : before)
    if (e.name != "xl/workbook.xml") {
      EXPECT_EQ(entry(after, e.name).data, e.data) << e.name;
    }
}

TEST_F(ExportTest, UnreadableWorkbookIsReportedAndLeftAlone) {
  struct Case {
    std::string what;
    std::function<void(const fs::path &)> make;
  };
  const std::vector<Case> cases = {
      {"not a zip", [](const fs::path &p) { xlsx_test::write_file(p, "not a workbook at all"); }},
      {"truncated",
       [](const fs::path &p) {
         xlsx_test::write_rich_xlsm(p);
         const std::string bytes = xlsx_test::read_file(p);
         xlsx_test::write_file(p, bytes.substr(0, bytes.size() / 2));
       }},
      {"zip without a workbook",
       [](const fs::path &p) {
         xlsx_test::write_zip(p, {{"hello.txt", "hi"}});
       }},
      {"malformed sheet",
       [](const fs::path &p) {
         auto entries = xlsx_test::rich_entries();
         for (auto &e : entries)
           if (e.name == "xl/worksheets/sheet2.xml")
             e.data = "<worksheet><sheetData><row>";
         xlsx_test::write_zip(p, entries);
       }},
      {"a folder", [](const fs::path &p) { fs::create_directory(p); }},
      {"a link to itself", [](const fs::path &p) { fs::create_symlink(p.filename(), p); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path = dir / ("book " + c.what + ".xlsm");
    c.make(path);
    std::error_code ec;
    const std::string before = fs::is_regular_file(path, ec) ? xlsx_test::read_file(path) : "";
    Folvaner app(settings(dir));
    LogCapture logs;
    const ExportRun r = export_to(app, {known_trip()}, path.string());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, "");
    const auto errors = logs.texts("ERROR");
    ASSERT_EQ(errors.size(), 1u);
    const std::string head = "❌ 載入現有 Excel 失敗 " + path.string() + ": ";
    EXPECT_EQ(errors[0].substr(0, head.size()), head);
    EXPECT_GT(errors[0].size(), head.size());
    if (fs::is_regular_file(path, ec)) {
      EXPECT_EQ(xlsx_test::read_file(path), before);
    }
  }
  // Nothing but the inputs in the folder: no temporary or new files.
  std::size_t count = 0;
  for ([[maybe_unused]] const auto &e : fs::directory_iterator(dir))
    ++count;
  EXPECT_EQ(count, cases.size());
}

// A form whose row groups run into merged ranges (as printed forms often have for their
// headings): writing there would hide the value, so nothing is written at all.
TEST_F(ExportTest, RowInsideAMergedRangeFailsTheWholeExport) {
  xlsx_test::write_rich_xlsm_with_merges(book, {"L8:T9", "L11:T11"});
  const std::string before = xlsx_test::read_file(book);
  Folvaner app(settings(dir));
  LogCapture logs;
  const ExportRun r = export_to(app, {known_trip("a.pdf"), known_trip("b.pdf")});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.out, "");
  const auto errors = logs.texts("ERROR");
  ASSERT_EQ(errors.size(), 1u);
  const std::string head = "❌ 儲存 Excel 失敗 " + book.string() + ": ";
  EXPECT_EQ(errors[0].substr(0, head.size()), head);
  EXPECT_NE(errors[0].find("M8"), std::string::npos) << errors[0];
  EXPECT_NE(errors[0].find("L8:T9"), std::string::npos) << errors[0];
  EXPECT_EQ(logs.texts("INFO"),
            (std::vector<std::string>{"📖 已成功載入現有 Excel 工具: " + book.string()}));
  EXPECT_EQ(xlsx_test::read_file(book), before);

  // One receipt stays above the merged rows and is written as usual.
  const ExportRun one = export_to(app, {known_trip("a.pdf")});
  EXPECT_TRUE(one.ok);
  EXPECT_EQ(xlsx::Workbook::open(book).active_sheet().value("P5"),
            xlsx::CellValue{kKnownTripDescription});
}

TEST_F(ExportTest, FailedSaveLeavesTheWorkbookAsItWas) {
  for (const auto stage :
       {vaskit::fs::WriteStage::wrote_block, vaskit::fs::WriteStage::before_rename}) {
    SCOPED_TRACE(static_cast<int>(stage));
    xlsx_test::write_rich_xlsm(book);
    const std::string before = xlsx_test::read_file(book);
    std::optional<vaskit::fs::ScopedWriteHook> fault;
    fault.emplace([stage](vaskit::fs::WriteStage s, std::size_t) {
      if (s == stage)
        throw std::runtime_error("No space left on device");
    });
    Folvaner app(settings(dir));
    LogCapture logs;
    const ExportRun r = export_to(app, {known_trip()});
    fault.reset();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, "");
    const auto errors = logs.texts("ERROR");
    ASSERT_EQ(errors.size(), 1u);
    const std::string head = "❌ 儲存 Excel 失敗 " + book.string() + ": ";
    EXPECT_EQ(errors[0].substr(0, head.size()), head);
    EXPECT_NE(errors[0].find("No space left on device"), std::string::npos) << errors[0];
    EXPECT_EQ(logs.texts("INFO"),
              (std::vector<std::string>{"📖 已成功載入現有 Excel 工具: " + book.string()}));
    EXPECT_EQ(xlsx_test::read_file(book), before);
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
      names.push_back(e.path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"payList_tool.xlsm"}));
  }
}

TEST_F(ExportTest, ExpenseTypeThatNoCellCanHoldStopsBeforeTheWorkbook) {
  for (const json &bad : {json(true), json::array({"a"}), json::object({{"k", 1}})}) {
    SCOPED_TRACE(bad.dump());
    xlsx_test::write_rich_xlsm(book);
    const std::string before = xlsx_test::read_file(book);
    json conf = settings(dir);
    conf["default_expense_type"] = bad;
    // The constructor refuses it; the export still checks a value set on the object later.
    EXPECT_THROW(Folvaner{conf}, vaskit::folvane::ConfigError);
    Folvaner app(settings(dir));
    app.default_expense_type = bad;
    LogCapture logs;
    EXPECT_THROW(export_to(app, {known_trip()}), vaskit::folvane::ConfigError);
    EXPECT_EQ(xlsx_test::read_file(book), before);
  }
}

} // namespace

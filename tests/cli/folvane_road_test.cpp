// The whole folvane road as a user walks it: a folder of scanned ride receipts, the office's
// macro-enabled expense form and a configuration file in; renamed receipts, the merged report
// and the filled form out.
#include "support/process.hpp"

// The macro-enabled expense form fixture and the zip readers of the workbook library's tests.
#include "support/xlsx_fixtures.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace xlsx = vaskit::xlsx;
using vaskit::testing::run_process;
using vaskit::testing::TempDir;

const std::string kBin = VASKIT_BIN_DIR;

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line);
  return out;
}

std::set<std::string> names_in(const fs::path &dir) {
  std::set<std::string> out;
  for (const auto &e : fs::directory_iterator(dir))
    out.insert(e.path().filename().string());
  return out;
}

// Text of one page of a PDF, as poppler extracts it.
std::string page_text(const fs::path &pdf, int page) {
  const auto r =
      run_process("/usr/bin/pdftotext",
                  {"-f", std::to_string(page), "-l", std::to_string(page), pdf.string(), "-"},
                  pdf.parent_path());
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// Company labels end in ")", so the raw text needs its own delimiter.
const char *const kConfig = R"JSON({"config": {
  "input_folder": "./receipts",
  "output_folder": "./expenses",
  "layout": {"cols": 2, "rows": 2, "landscape": false},
  "margin": 20,
  "debug_grid": false,
  "address_mapping": {
    "ZVT(松山)": ["敦化北路", "Songshan Station"],
    "Brannor(內湖)": ["瑞光路188號", "188 Ruiguang Rd"],
    "Tessik(深坑)": "北深路三段",
    "Quelby(內湖)": "港墘路221號"
  },
  "default_expense_type": "Transportation_Taxi_Limo",
  "description_suffix": "radar support"
}})JSON";

TEST(FolvaneRoad, ReceiptsBecomeReportAndWorkbookRows) {
  TempDir dir;
  const fs::path root = dir.path();
  const fs::path gen = root / "generated";
  const auto made = run_process(kBin + "/make_receipts",
                                {gen.string(), "basic", "english", "twopage", "fullwidth"}, root);
  ASSERT_EQ(made.status, 0) << made.err;

  // Scans as they come off the phone, under names that say nothing.
  const fs::path in = root / "receipts";
  fs::create_directories(in);
  fs::copy_file(gen / "basic.pdf", in / "scan-a.pdf");
  fs::copy_file(gen / "english.pdf", in / "Scan_b.pdf");
  fs::copy_file(gen / "twopage.pdf", in / "scan-c.pdf");
  fs::copy_file(gen / "fullwidth.pdf", in / "scan-d.pdf");
  fs::remove_all(gen);

  const fs::path out = root / "expenses";
  fs::create_directories(out);
  const fs::path book = out / "payList_tool.xlsm";
  xlsx_test::write_rich_xlsm(book);
  const auto book_before = xlsx_test::read_zip(book);
  std::ofstream(root / "folvane.json") << kConfig;

  const auto r = run_process(kBin + "/vas-kit", {"folvane", "-c", "folvane.json"}, root);
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  // Every receipt under its standard name, nothing else in the folder.
  EXPECT_EQ(names_in(in),
            (std::set<std::string>{"receipt_0305_1515_1234.pdf", "receipt_0601_0905_420.pdf",
                                   "receipt_1103_2345_1280.pdf", "receipt_1225_0005_85.pdf"}));
  EXPECT_EQ(names_in(out), (std::set<std::string>{"payList_tool.xlsm", "taxi_receipt.pdf"}));

  // Console: the renaming (in the folder's own order), one line per receipt in name order, the
  // report, then the workbook.
  const auto printed = lines(r.out);
  ASSERT_EQ(printed.size(), 11u) << r.out;
  EXPECT_EQ(printed[0], "🔄 開始批次更名 (4 個檔案)...");
  std::vector<std::string> renames(printed.begin() + 1, printed.begin() + 5);
  std::sort(renames.begin(), renames.end());
  EXPECT_EQ(renames, (std::vector<std::string>{
                         "  ✅ Scan_b.pdf -> receipt_1225_0005_85.pdf",
                         "  ✅ scan-a.pdf -> receipt_0305_1515_1234.pdf",
                         "  ✅ scan-c.pdf -> receipt_0601_0905_420.pdf",
                         "  ✅ scan-d.pdf -> receipt_1103_2345_1280.pdf",
                     }));
  EXPECT_EQ(std::vector<std::string>(printed.begin() + 5, printed.end()),
            (std::vector<std::string>{
                "[收據資訊] 檔案: receipt_0305_1515_1234.pdf | 日期時間: 2024年3月5日 下午3:15 | "
                "總計: $1,234 | 地址: 台北市松山區敦化北路100號 -> 台北市內湖區瑞光路188號",
                "[收據資訊] 檔案: receipt_0601_0905_420.pdf | 日期時間: 2024-06-01 上午9:05 | "
                "總計: $420 | 地址: 台北市信義區松仁路100號 -> 台北車站",
                "[收據資訊] 檔案: receipt_1103_2345_1280.pdf | 日期時間: ２０２４年１１月３日 "
                "下午１１:４５ | 總計: $１,２８０ | 地址: 新北市深坑區北深路三段１５５號 -> "
                "台北市內湖區港墘路221號",
                "[收據資訊] 檔案: receipt_1225_0005_85.pdf | 日期時間: 2024/12/25 12:05 AM | "
                "總計: $85.00 | 地址: Songshan Station, Taipei, Taiwan -> 188 Ruiguang Rd, Neihu "
                "District, Taipei",
                "Success: ./expenses/taxi_receipt.pdf",
                "🎉 成功寫入 Excel 報表: ./expenses/payList_tool.xlsm (自 M5/N5/P5/Q5 "
                "依序寫入，間隔 3 列)",
            }));
  // The log: the workbook is loaded after the report is saved, and the route the table does not
  // know is reported with its file.
  const auto logged = lines(r.err);
  const auto at = [&](const std::string &line) {
    return std::find(logged.begin(), logged.end(), line) - logged.begin();
  };
  const auto saved = at("[DONE] Successfully saved merged report: ./expenses/taxi_receipt.pdf");
  const auto loaded = at("📖 已成功載入現有 Excel 工具: ./expenses/payList_tool.xlsm");
  const auto updated = at("🎉 [EXCEL] 成功更新 Excel 報表: ./expenses/payList_tool.xlsm");
  const auto unknown =
      at("⚠️ 檔案: receipt_0601_0905_420.pdf | 未找到對應公司名稱 (起點: "
         "'台北市信義區松仁路100號')");
  EXPECT_LT(saved, loaded) << r.err;
  EXPECT_LT(loaded, unknown) << r.err;
  EXPECT_LT(unknown, updated) << r.err;
  EXPECT_LT(updated, static_cast<long>(logged.size())) << r.err;

  // Five receipt pages, four to an A4 page: the English receipt opens page 2.
  const fs::path report = out / "taxi_receipt.pdf";
  const auto info = run_process("/usr/bin/pdfinfo", {report.string()}, root);
  EXPECT_NE(info.out.find("Pages:           2"), std::string::npos) << info.out;
  EXPECT_NE(page_text(report, 1).find("總計 NT$1,234"), std::string::npos);
  EXPECT_NE(page_text(report, 1).find("總計 NT$420"), std::string::npos);
  EXPECT_NE(page_text(report, 2).find("Total $85.00"), std::string::npos);

  // The form holds one row group per receipt, in name order; its macros came through untouched.
  const auto book_after = xlsx_test::read_zip(book);
  EXPECT_EQ(xlsx_test::entry(book_after, "xl/vbaProject.bin").compressed,
            xlsx_test::entry(book_before, "xl/vbaProject.bin").compressed);
  auto wb = xlsx::Workbook::open(book);
  auto &form = wb.active_sheet();
  ASSERT_EQ(form.name(), "Form");
  struct Row {
    int row;
    std::string date, description;
    xlsx::CellValue amount;
  };
  for (const Row &want : std::vector<Row>{
           {5, "2024/03/05", "ZVT(松山)->Brannor(內湖) radar support", 1234LL},
           {8, "2024/06/01", "台北市信義區松仁路100號->台北車站 radar support", 420LL},
           {11, "2024/11/03", "Tessik(深坑)->Quelby(內湖) radar support", 1280LL},
           {14, "2024/12/25", "ZVT(松山)->Brannor(內湖) radar support", 85LL},
       }) {
    SCOPED_TRACE(want.row);
    EXPECT_EQ(form.value(want.row, 13), xlsx::CellValue(want.date));
    EXPECT_EQ(form.value(want.row, 14), xlsx::CellValue(std::string("Transportation_Taxi_Limo")));
    EXPECT_EQ(form.value(want.row, 16), xlsx::CellValue(want.description));
    EXPECT_EQ(form.value(want.row, 17), want.amount);
  }
  EXPECT_EQ(form.value("O5"), xlsx::CellValue(7LL));
  EXPECT_EQ(wb.sheet("Data").value("A1"), xlsx::CellValue(1LL));

  // A second pass over the same receipts writes the same cells again.
  const auto again = run_process(kBin + "/vas-kit", {"folvane", "-c", "folvane.json"}, root);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("  ℹ️ receipt_0305_1515_1234.pdf (略過或未變更)"),
            std::string::npos)
      << again.out;
  auto wb2 = xlsx::Workbook::open(book);
  EXPECT_EQ(wb2.active_sheet().value("P11"),
            xlsx::CellValue(std::string("Tessik(深坑)->Quelby(內湖) radar support")));
  EXPECT_EQ(wb2.active_sheet().max_row(), form.max_row());
}

// Without the form the pass makes a blank workbook and says so.
TEST(FolvaneRoad, MissingWorkbookIsCreatedBesideTheReport) {
  TempDir dir;
  const fs::path root = dir.path();
  const auto made =
      run_process(kBin + "/make_receipts", {(root / "receipts").string(), "basic"}, root);
  ASSERT_EQ(made.status, 0) << made.err;
  std::ofstream(root / "folvane.json") << kConfig;

  const auto r = run_process(kBin + "/vaskit-folvane", {"-c", "folvane.json"}, root);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(
      r.err.find(
          "⚠️ 找不到現有的 ./expenses/payList_tool.xlsm，已建立新活頁簿。"),
      std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("🎉 成功寫入 Excel 報表: ./expenses/payList_tool.xlsm"), std::string::npos);
  auto wb = xlsx::Workbook::open(root / "expenses" / "payList_tool.xlsm");
  EXPECT_EQ(wb.sheet_names(), (std::vector<std::string>{"PayList"}));
  EXPECT_EQ(wb.active_sheet().value("Q5"), xlsx::CellValue(1234LL));
}

// Either save failing ends the run with status 1, after both the report and the workbook were
// tried; a script calling the tool must notice.
TEST(FolvaneRoad, FailedSaveOfReportOrWorkbookEndsWithStatusOne) {
  struct Case {
    std::string what;
    std::function<void(const fs::path &out)> spoil;
    bool report_saved;
    std::string error; // start of the one error line
  };
  const std::string book = "./expenses/payList_tool.xlsm";
  const std::string report = "./expenses/taxi_receipt.pdf";
  const std::vector<Case> cases = {
      {"report path is a folder",
       [](const fs::path &out) { fs::create_directories(out / "taxi_receipt.pdf" / "x"); }, false,
       "Save failed: "},
      {"report path is a link loop",
       [](const fs::path &out) {
         fs::create_symlink("taxi_receipt.pdf", out / "taxi_receipt.pdf");
       },
       false, "Save failed: "},
      {"workbook is read-only",
       [](const fs::path &out) { fs::permissions(out / "payList_tool.xlsm", fs::perms(0444)); },
       true, "❌ 儲存 Excel 失敗 " + book + ": "},
      {"workbook path is a link loop",
       [](const fs::path &out) {
         fs::remove(out / "payList_tool.xlsm");
         fs::create_symlink("loop.xlsm", out / "payList_tool.xlsm");
         fs::create_symlink("payList_tool.xlsm", out / "loop.xlsm");
       },
       true, "❌ 載入現有 Excel 失敗 " + book + ": "},
      {"workbook rows fall into merged ranges",
       [](const fs::path &out) {
         xlsx_test::write_rich_xlsm_with_merges(out / "payList_tool.xlsm", {"L8:T9", "L11:T11"});
       },
       true, "❌ 儲存 Excel 失敗 " + book + ": cell M8 "},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path root = dir.path();
    const auto made = run_process(kBin + "/make_receipts",
                                  {(root / "receipts").string(), "basic", "english"}, root);
    ASSERT_EQ(made.status, 0) << made.err;
    const fs::path out = root / "expenses";
    fs::create_directories(out);
    xlsx_test::write_rich_xlsm(out / "payList_tool.xlsm");
    c.spoil(out);
    std::error_code ec;
    const bool book_is_file = fs::is_regular_file(out / "payList_tool.xlsm", ec);
    const std::string book_before =
        book_is_file ? xlsx_test::read_file(out / "payList_tool.xlsm") : "";
    std::ofstream(root / "folvane.json") << kConfig;

    const auto r = run_process(kBin + "/vas-kit", {"folvane", "-c", "folvane.json"}, root);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    std::vector<std::string> errors;
    for (const auto &line : lines(r.err))
      if (line.rfind("Save failed: ", 0) == 0 || line.rfind("❌", 0) == 0)
        errors.push_back(line);
    ASSERT_EQ(errors.size(), 1u) << r.err;
    EXPECT_EQ(errors[0].substr(0, c.error.size()), c.error);
    // The other pass ran to its end.
    const bool report_line = r.out.find("Success: " + report) != std::string::npos;
    const bool book_line = r.out.find("🎉 成功寫入 Excel 報表: " + book) != std::string::npos;
    EXPECT_EQ(report_line, c.report_saved) << r.out;
    EXPECT_EQ(book_line, !c.report_saved) << r.out;
    if (c.report_saved) {
      EXPECT_FALSE(page_text(out / "taxi_receipt.pdf", 1).empty());
      if (book_is_file) {
        EXPECT_EQ(xlsx_test::read_file(out / "payList_tool.xlsm"), book_before);
      }
    }
  }
}

} // namespace

#include "tools/folvane/folvane.hpp"

#include "support/marker_pages.hpp"
#include "support/log_capture.hpp"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

namespace fs = std::filesystem;
using vaskit::folvane::Folvaner;
using vaskit::folvane::json;
using vaskit::testing::MarkerPage;

namespace {

std::string slurp(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool qpdf_check(const fs::path &p) {
  return vaskit::testing::run_command("qpdf --check '" + p.string() + "' >/dev/null 2>&1") == 0;
}

// One placed receipt page: its matrix and the tag drawn on it.
struct Placement {
  std::array<double, 6> cm;
  std::string tag;
};

// Per output page, the placements in drawing order, identified by the "TAG ..." text that the
// receipt page carries.
std::vector<std::vector<Placement>> placements(const fs::path &report) {
  QPDF q;
  q.processFile(report.string().c_str());
  std::vector<std::vector<Placement>> out;
  for (auto &page : QPDFPageDocumentHelper(q).getAllPages()) {
    auto data = page.getObjectHandle().getKey("/Contents").getStreamData(qpdf_dl_all);
    std::string content(reinterpret_cast<const char *>(data->getBuffer()), data->getSize());
    auto cms = vaskit::testing::cm_matrices(content);
    auto xobjects = page.getObjectHandle().getKey("/Resources").getKey("/XObject");
    std::vector<Placement> row;
    std::size_t pos = 0;
    for (const auto &cm : cms) {
      pos = content.find(" Do", content.find(" cm", pos));
      std::size_t name_start = content.rfind('/', pos);
      std::string name = content.substr(name_start, pos - name_start);
      auto fx = xobjects.getKey(name).getStreamData(qpdf_dl_all);
      std::string fxs(reinterpret_cast<const char *>(fx->getBuffer()), fx->getSize());
      auto t = fxs.find("TAG ");
      row.push_back(
          {cm, t == std::string::npos ? "" : fxs.substr(t + 4, fxs.find(')', t) - t - 4)});
      ++pos;
    }
    out.push_back(row);
  }
  return out;
}

class ReportTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "vaskit-report.XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    in = dir / "in";
    out = dir / "out";
    fs::create_directories(in);
    logs.emplace();
  }
  void TearDown() override {
    logs.reset();
    fs::remove_all(dir);
  }

  // A receipt whose text gives it the standard name receipt_0305_10<minute>_100.pdf, so the
  // renaming step leaves it alone; every page carries "TAG <minute>-<page>".
  fs::path receipt(int minute, std::vector<MarkerPage> pages) {
    char mm[3];
    std::snprintf(mm, sizeof mm, "%02d", minute);
    for (std::size_t i = 0; i < pages.size(); ++i)
      pages[i].text =
          std::string("2024/03/05 10:") + mm + " $100 TAG " + mm + "-" + std::to_string(i + 1);
    auto p = in / (std::string("receipt_0305_10") + mm + "_100.pdf");
    vaskit::testing::write_marker_pdf(p, pages);
    return p;
  }

  json conf(long long cols, long long rows, bool landscape = false, bool grid = false) {
    return {{"input_folder", in.string()},
            {"output_folder", out.string()},
            {"layout", {{"cols", cols}, {"rows", rows}, {"landscape", landscape}}},
            {"margin", 20},
            {"debug_grid", grid}};
  }

  // Runs the pass; returns what it printed on standard output.
  std::string run(const json &c) {
    Folvaner f(c);
    ::testing::internal::CaptureStdout();
    f.run();
    return ::testing::internal::GetCapturedStdout();
  }

  bool logged(const std::string &line) const {
    const auto all = logs->leveled();
    return std::find(all.begin(), all.end(), line) != all.end();
  }
  fs::path report() const { return out / "taxi_receipt.pdf"; }

  fs::path dir, in, out;
  std::optional<vaskit::testing::LogCapture> logs;
};

TEST_F(ReportTest, PortraitReceiptScaledAndCentredInTheTopLeftCell) {
  receipt(1, {MarkerPage{}}); // 300 x 600
  std::string printed = run(conf(2, 2));
  ASSERT_TRUE(fs::exists(report())) << printed;
  EXPECT_TRUE(qpdf_check(report()));
  EXPECT_NE(printed.find("Success: " + report().string() + "\n"), std::string::npos);
  EXPECT_TRUE(logged("INFO [DONE] Successfully saved merged report: " + report().string()));

  auto pages = placements(report());
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].size(), 1u);
  const auto &m = pages[0][0].cm;
  const double s = 0.6349166666666666;
  EXPECT_NEAR(m[0], s, 1e-12);
  EXPECT_EQ(m[1], 0);
  EXPECT_EQ(m[2], 0);
  EXPECT_NEAR(m[3], s, 1e-12);
  EXPECT_NEAR(300 * m[0], 190.475, 1e-9);
  EXPECT_NEAR(600 * m[3], 380.95, 1e-9);
  EXPECT_NEAR(m[4], 20 + (277.5 - 190.475) / 2, 1e-9);
  EXPECT_NEAR(m[5], 421 + (401 - 380.95) / 2, 1e-9);
  EXPECT_EQ(pages[0][0].tag, "01-1");
}

TEST_F(ReportTest, PagesFlowAcrossOutputPagesInNameOrder) {
  // Six pages: 3 + 1 + 2, given out of name order on disk creation.
  receipt(3, {MarkerPage{}, MarkerPage{}});
  receipt(1, {MarkerPage{}, MarkerPage{}, MarkerPage{}});
  receipt(2, {MarkerPage{}});
  std::string printed = run(conf(2, 2));
  ASSERT_TRUE(fs::exists(report())) << printed;
  EXPECT_TRUE(qpdf_check(report()));

  auto pages = placements(report());
  ASSERT_EQ(pages.size(), 2u);
  std::vector<std::string> order;
  for (const auto &page : pages)
    for (const auto &p : page)
      order.push_back(p.tag);
  EXPECT_EQ(order, (std::vector<std::string>{"01-1", "01-2", "01-3", "02-1", "03-1", "03-2"}));

  // Cell corners: (20, 421), (297.5, 421), (20, 20), (297.5, 20); the offset inside the cell
  // is the same for equal pages.
  const double dx = (277.5 - 190.475) / 2, dy = (401 - 380.95) / 2;
  const double cells[4][2] = {{20, 421}, {297.5, 421}, {20, 20}, {297.5, 20}};
  ASSERT_EQ(pages[0].size(), 4u);
  ASSERT_EQ(pages[1].size(), 2u);
  for (std::size_t i = 0; i < 6; ++i) {
    const auto &m = pages[i / 4][i % 4].cm;
    EXPECT_NEAR(m[4], cells[i % 4][0] + dx, 1e-9) << i;
    EXPECT_NEAR(m[5], cells[i % 4][1] + dy, 1e-9) << i;
  }

  // Output lines: the step line, then two lines per receipt in name order.
  const auto g_log = logs->leveled();
  auto step = std::find(g_log.begin(), g_log.end(), "INFO [STEP 1] Processing 3 files...");
  ASSERT_NE(step, g_log.end());
  auto first = std::find_if(step, g_log.end(), [](const std::string &l) {
    return l.rfind(
               "INFO ✅ 檔案: receipt_0305_1001_100.pdf | 日期時間: 2024/03/05 10:01 | 總計: $100",
               0) == 0;
  });
  EXPECT_NE(first, g_log.end());
  auto p1 = printed.find("[收據資訊] 檔案: receipt_0305_1001_100.pdf | 日期時間: 2024/03/05 10:01 "
                         "| 總計: $100");
  auto p2 = printed.find("[收據資訊] 檔案: receipt_0305_1002_100.pdf");
  auto p3 = printed.find("[收據資訊] 檔案: receipt_0305_1003_100.pdf");
  auto ok = printed.find("Success: ");
  ASSERT_NE(p1, std::string::npos) << printed;
  EXPECT_LT(p1, p2);
  EXPECT_LT(p2, p3);
  EXPECT_LT(p3, ok);
}

TEST_F(ReportTest, ExactlyOneFullPageAndOneMore) {
  struct Case {
    int pages;
    std::size_t want_output_pages;
    std::size_t want_on_last;
  };
  for (const Case &c : {Case{4, 1, 4}, Case{5, 2, 1}, Case{1, 1, 1}}) {
    fs::remove_all(in);
    fs::create_directories(in);
    for (int i = 0; i < c.pages; ++i)
      receipt(i + 1, {MarkerPage{}});
    run(conf(2, 2));
    auto pages = placements(report());
    ASSERT_EQ(pages.size(), c.want_output_pages) << c.pages;
    EXPECT_EQ(pages.back().size(), c.want_on_last) << c.pages;
    // The last receipt of a fresh page sits in the top-left cell.
    EXPECT_NEAR(pages.back()[0].cm[4], 20 + (277.5 - 190.475) / 2, 1e-9);
  }
}

TEST_F(ReportTest, TurnedAndCroppedReceiptsAppearUprightAndCentred) {
  // Cells of 3 x 2 on landscape A4, margin 20: 267.33 x 277.5 each.
  struct Case {
    const char *name;
    MarkerPage page;
  };
  MarkerPage tall; // 200 x 400
  tall.media = {0, 0, 200, 400};
  std::vector<Case> cases;
  for (double rot : {0.0, 90.0, 180.0, 270.0}) {
    MarkerPage p = tall;
    p.rotate = rot;
    cases.push_back({"rotate", p});
  }
  MarkerPage cropped; // media 300 x 600, visible 150 x 200 off the origin
  cropped.crop = std::array<double, 4>{100, 300, 250, 500};
  cropped.marker = 40;
  cases.push_back({"crop box", cropped});
  MarkerPage cropped_turned = cropped;
  cropped_turned.rotate = 90;
  cases.push_back({"crop box turned", cropped_turned});
  for (std::size_t i = 0; i < cases.size(); ++i)
    receipt(static_cast<int>(i + 1), {cases[i].page});

  std::string printed = run(conf(3, 2, true));
  ASSERT_TRUE(fs::exists(report())) << printed;
  EXPECT_TRUE(qpdf_check(report()));
  auto img = vaskit::testing::render_page(report(), 1);
  ASSERT_EQ(img.width, 842);
  ASSERT_EQ(img.height, 595);
  EXPECT_EQ(vaskit::testing::count_solid(img, vaskit::testing::is_grey), 0)
      << "something outside a crop box was drawn";

  const double cw = (842 - 40) / 3.0, ch = (595 - 40) / 2.0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto &pg = cases[i].page;
    auto box = pg.crop.value_or(pg.media);
    double w = std::abs(box[2] - box[0]), h = std::abs(box[3] - box[1]);
    double rot = pg.rotate.value_or(0);
    if (rot == 90 || rot == 270)
      std::swap(w, h);
    double scale = std::min(cw / w, ch / h) * 0.95;
    // Cell in pixels, y from the top.
    int col = static_cast<int>(i % 3), row = static_cast<int>(i / 3);
    double cx0 = 20 + col * cw, cy0 = 20 + row * ch;
    std::string what = std::string(cases[i].name) + " " + std::to_string(static_cast<int>(rot));

    // Only this cell is searched: a receipt pushed partly out of it, or a neighbour reaching
    // into it, changes the size or the centring measured here.
    auto ink = vaskit::testing::find_pixels(img, vaskit::testing::is_ink, static_cast<int>(cx0),
                                            static_cast<int>(cy0), static_cast<int>(cx0 + cw),
                                            static_cast<int>(cy0 + ch));
    ASSERT_FALSE(ink.empty()) << what;
    // Entirely inside the cell.
    EXPECT_GE(ink.x0, cx0 - 1) << what;
    EXPECT_GE(ink.y0, cy0 - 1) << what;
    EXPECT_LE(ink.x1, cx0 + cw + 1) << what;
    EXPECT_LE(ink.y1, cy0 + ch + 1) << what;
    // Upright size and centred.
    EXPECT_NEAR(ink.x1 - ink.x0, w * scale, 2) << what;
    EXPECT_NEAR(ink.y1 - ink.y0, h * scale, 2) << what;
    EXPECT_NEAR((ink.x0 - cx0) - (cx0 + cw - ink.x1), 0, 2) << what;
    EXPECT_NEAR((ink.y0 - cy0) - (cy0 + ch - ink.y1), 0, 2) << what;
    // The marker drawn at the receipt's top-left corner is at the top-left.
    auto red =
        vaskit::testing::find_pixels(img, vaskit::testing::is_red, ink.x0, ink.y0, ink.x1, ink.y1);
    ASSERT_FALSE(red.empty()) << what;
    EXPECT_NEAR(red.x0, ink.x0, 1) << what;
    EXPECT_NEAR(red.y0, ink.y0, 1) << what;
    EXPECT_NEAR(red.x1 - red.x0, pg.marker * scale, 2) << what;
    EXPECT_NEAR(red.y1 - red.y0, pg.marker * scale, 2) << what;
  }
}

TEST_F(ReportTest, DamagedFileIsReportedAndThePassGoesOn) {
  receipt(1, {MarkerPage{}});
  receipt(3, {MarkerPage{}});
  // Unreadable, so the renaming step can only give it the name of a receipt without data.
  std::ofstream(in / "damaged.pdf") << "%PDF-1.7\n1 0 obj\n<< /Type /Catalog";
  std::string printed = run(conf(2, 2));

  const auto g_log = logs->leveled();
  auto failed = std::find_if(g_log.begin(), g_log.end(),
                             [](const std::string &l) { return l.rfind("ERROR Failed ", 0) == 0; });
  ASSERT_NE(failed, g_log.end()) << printed;
  // The damaged file shows its lines with unknown values, then the failure.
  std::string damaged_name = failed->substr(13, failed->find(": ") - 13);
  EXPECT_TRUE(damaged_name == "damaged.pdf" || damaged_name == "receipt_0000_0000_0.pdf")
      << *failed;
  EXPECT_NE(printed.find("[收據資訊] 檔案: " + damaged_name + " | 日期時間: 未知 | 總計: $None"),
            std::string::npos)
      << printed;
  EXPECT_GT(failed->size(), 13 + damaged_name.size() + 2) << "no reason given";

  ASSERT_TRUE(fs::exists(report()));
  EXPECT_TRUE(qpdf_check(report()));
  auto pages = placements(report());
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].size(), 2u);
  EXPECT_EQ(pages[0][0].tag, "01-1");
  EXPECT_EQ(pages[0][1].tag, "03-1");
}

TEST_F(ReportTest, NothingPlacedWritesNoReport) {
  // An old report is removed first; the pass then has only unreadable or empty pages.
  fs::create_directories(out);
  std::ofstream(report()) << "old";
  std::ofstream(in / "broken.pdf") << "not a pdf";
  MarkerPage empty;
  empty.crop = std::array<double, 4>{0, 0, 0, 600};
  receipt(5, {empty});
  std::string printed = run(conf(2, 2, false, true));

  EXPECT_FALSE(fs::exists(report()));
  EXPECT_EQ(printed.find("Success:"), std::string::npos) << printed;
  EXPECT_TRUE(logged("INFO 🗑️ 已先移除舊有的合併檔案: " + report().string()));
  EXPECT_TRUE(logged("WARNING No receipt pages could be placed; merged report not written: " +
                     report().string()));
  // The receipts still go into the workbook; nothing else may be left.
  for (auto &e : fs::directory_iterator(out))
    if (e.path().filename() != "payList_tool.xlsm")
      ADD_FAILURE() << "left behind: " << e.path();
}

TEST_F(ReportTest, EmptyInputFolderLeavesNoReport) {
  fs::create_directories(out);
  std::ofstream(report()) << "old";
  std::string printed = run(conf(2, 2));
  EXPECT_FALSE(fs::exists(report()));
  EXPECT_TRUE(logged("WARNING No PDF files found to merge."));
  EXPECT_EQ(printed.find("Success:"), std::string::npos);
}

TEST_F(ReportTest, GridFramesEveryUsedCellIncludingEmptyOnes) {
  receipt(1, {MarkerPage{}});
  MarkerPage empty;
  empty.crop = std::array<double, 4>{0, 0, 300, 0};
  receipt(2, {empty, MarkerPage{}});
  run(conf(2, 2, false, true));
  ASSERT_TRUE(fs::exists(report()));
  EXPECT_TRUE(qpdf_check(report()));
  std::string c = vaskit::testing::page_contents(report(), 0);
  const char *frames[] = {"q 1 0 0 RG 2 w 20.00 421.00 277.50 401.00 re S Q",
                          "q 1 0 0 RG 2 w 297.50 421.00 277.50 401.00 re S Q",
                          "q 1 0 0 RG 2 w 20.00 20.00 277.50 401.00 re S Q"};
  std::size_t pos = 0;
  for (const char *f : frames) {
    auto at = c.find(f, pos);
    ASSERT_NE(at, std::string::npos) << f << "\n" << c;
    pos = at;
  }
  EXPECT_EQ(c.find("297.50 20.00"), std::string::npos) << "unused cell framed";
  // Two receipts placed, the empty page's cell left blank, each frame after its receipt.
  auto pages = placements(report());
  ASSERT_EQ(pages[0].size(), 2u);
  EXPECT_NEAR(pages[0][1].cm[5], 20 + (401 - 380.95) / 2, 1e-9) << "slot 1 not consumed";
  EXPECT_LT(c.find("/Fx1 Do"), c.find(frames[0]));
  EXPECT_LT(c.find(frames[0]), c.find("/Fx2 Do"));

  // Without the option there is no frame.
  run(conf(2, 2, false, false));
  EXPECT_EQ(vaskit::testing::page_contents(report(), 0).find("RG"), std::string::npos);
}

TEST_F(ReportTest, FailedSaveIsReportedAndLeavesNoPartialFile) {
  receipt(1, {MarkerPage{}});
  // A folder in the report's place: it can neither be removed nor replaced.
  fs::create_directories(report() / "keep");
  std::string printed = run(conf(2, 2));
  const auto g_log = logs->leveled();
  EXPECT_TRUE(std::any_of(g_log.begin(), g_log.end(), [&](const std::string &l) {
    return l.rfind("WARNING ⚠️ 移除舊檔案失敗 " + report().string() + ": ", 0) == 0;
  }));
  EXPECT_TRUE(std::any_of(g_log.begin(), g_log.end(), [](const std::string &l) {
    return l.rfind("ERROR Save failed: ", 0) == 0;
  }));
  EXPECT_EQ(printed.find("Success:"), std::string::npos);
  std::vector<std::string> names;
  for (auto &e : fs::directory_iterator(out))
    names.push_back(e.path().filename().string());
  // The workbook is written even though the report could not be.
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"payList_tool.xlsm", "taxi_receipt.pdf"}));
  EXPECT_TRUE(fs::exists(report() / "keep"));
}

TEST_F(ReportTest, MissingOutputFolderIsCreatedAndReportsAreReproducible) {
  receipt(1, {MarkerPage{}, MarkerPage{}});
  json c = conf(2, 1);
  c["output_folder"] = (dir / "new" / "deeper").string();
  run(c);
  auto first = dir / "new" / "deeper" / "taxi_receipt.pdf";
  ASSERT_TRUE(fs::exists(first));
  std::string bytes = slurp(first);
  run(c); // removes and rewrites it
  EXPECT_TRUE(logged("INFO 🗑️ 已先移除舊有的合併檔案: " + first.string()));
  EXPECT_EQ(slurp(first), bytes);
}

} // namespace

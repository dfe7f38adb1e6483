#include "tools/folvane/folvane.hpp"

#include "support/marker_pages.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using vaskit::folvane::Folvaner;
using vaskit::folvane::json;
using vaskit::testing::MarkerPage;

namespace {

Folvaner make(long long cols, long long rows, bool landscape, double margin = 20) {
  json conf = {{"input_folder", "./in"},
               {"layout", {{"cols", cols}, {"rows", rows}, {"landscape", landscape}}},
               {"margin", margin}};
  return Folvaner(conf);
}

class LayoutParamsTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "vaskit-layout.XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST(CellLayoutTest, GridInsideTheMargin) {
  struct Case {
    long long cols, rows;
    bool landscape;
    double margin, want_w, want_h;
  };
  const Case cases[] = {
      {2, 2, false, 20, 277.5, 401}, {2, 2, true, 20, 401, 277.5},
      {2, 1, false, 20, 277.5, 802}, {3, 4, false, 10, 575.0 / 3, 205.5},
      {1, 1, true, 0, 842, 595},
  };
  for (const auto &c : cases) {
    Folvaner f = make(c.cols, c.rows, c.landscape, c.margin);
    auto [w, h] = f.calculate_cell_layout();
    EXPECT_DOUBLE_EQ(w, c.want_w) << c.cols << "x" << c.rows;
    EXPECT_DOUBLE_EQ(h, c.want_h) << c.cols << "x" << c.rows;
  }
  Folvaner f = make(2, 2, false);
  f.cols = 0; // fields are public; the division must not quietly give infinity
  EXPECT_THROW(f.calculate_cell_layout(), vaskit::folvane::ConfigError);
}

TEST_F(LayoutParamsTest, ScaleAndCentring) {
  struct Case {
    const char *name;
    MarkerPage page;
    std::array<double, 4> cell;
    double scale, tx, ty, rot, x0, y0, src_w, src_h;
  };
  const double s_portrait = 401.0 / 600 * 0.95; // 0.634916...
  MarkerPage portrait;
  MarkerPage turned = portrait;
  turned.rotate = 90;
  MarkerPage turned3 = portrait;
  turned3.rotate = 270;
  MarkerPage half = portrait;
  half.rotate = 180;
  MarkerPage cropped;
  cropped.crop = std::array<double, 4>{50, 100, 250, 500};
  MarkerPage wide;
  wide.media = {0, 0, 800, 200};
  const Case cases[] = {
      {"portrait, height limits",
       portrait,
       {20, 421, 277.5, 401},
       s_portrait,
       20 + (277.5 - 300 * s_portrait) / 2,
       421 + (401 - 600 * s_portrait) / 2,
       0,
       0,
       0,
       300,
       600},
      {"quarter turn swaps the sides",
       turned,
       {20, 421, 277.5, 401},
       277.5 / 600 * 0.95,
       20 + 277.5 * 0.025,
       421 + (401 - 300 * 277.5 / 600 * 0.95) / 2,
       90,
       0,
       0,
       600,
       300},
      {"three quarters swap too", turned3, {0, 0, 600, 300}, 0.95, 15, 7.5, 270, 0, 0, 600, 300},
      {"half turn keeps them", half, {0, 0, 300, 600}, 0.95, 7.5, 15, 180, 0, 0, 300, 600},
      {"crop box corner", cropped, {0, 0, 100, 200}, 0.475, 2.5, 5, 0, 50, 100, 200, 400},
      {"width limits",
       wide,
       {297.5, 20, 277.5, 401},
       277.5 / 800 * 0.95,
       297.5 + 277.5 * 0.025,
       20 + (401 - 200 * 277.5 / 800 * 0.95) / 2,
       0,
       0,
       0,
       800,
       200},
  };
  std::vector<MarkerPage> pages;
  for (const auto &c : cases)
    pages.push_back(c.page);
  vaskit::testing::write_marker_pdf(dir / "p.pdf", pages);
  vaskit::pdf::Reader reader((dir / "p.pdf").string());

  Folvaner f = make(2, 2, false);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    auto p = f._get_layout_params(reader.pages().at(i), c.cell);
    ASSERT_TRUE(p) << c.name;
    EXPECT_DOUBLE_EQ(p->scale, c.scale) << c.name;
    EXPECT_NEAR(p->tx, c.tx, 1e-9) << c.name;
    EXPECT_NEAR(p->ty, c.ty, 1e-9) << c.name;
    EXPECT_EQ(p->rot, c.rot) << c.name;
    EXPECT_EQ(p->x0, c.x0) << c.name;
    EXPECT_EQ(p->y0, c.y0) << c.name;
    EXPECT_EQ(p->src_w, c.src_w) << c.name;
    EXPECT_EQ(p->src_h, c.src_h) << c.name;
  }
  // The worked example: 190.475 x 380.95, centred in the top-left cell.
  auto p = f._get_layout_params(reader.pages().at(0), {20, 421, 277.5, 401});
  EXPECT_NEAR(p->scale, 0.6349166666, 1e-9);
  EXPECT_NEAR(300 * p->scale, 190.475, 1e-9);
  EXPECT_NEAR(600 * p->scale, 380.95, 1e-9);
}

TEST_F(LayoutParamsTest, OddRotationsAreNotTurnsAndEmptyBoxesGiveNothing) {
  std::vector<MarkerPage> pages;
  for (double rot : {-90.0, 360.0, 450.0, 90.5}) {
    MarkerPage p;
    p.rotate = rot;
    pages.push_back(p);
  }
  MarkerPage flat; // zero height
  flat.crop = std::array<double, 4>{0, 100, 300, 100};
  MarkerPage thin; // zero width, turned
  thin.crop = std::array<double, 4>{100, 0, 100, 600};
  thin.rotate = 90;
  pages.push_back(flat);
  pages.push_back(thin);
  vaskit::testing::write_marker_pdf(dir / "odd.pdf", pages);
  vaskit::pdf::Reader reader((dir / "odd.pdf").string());

  Folvaner f = make(2, 2, false);
  for (std::size_t i = 0; i < 4; ++i) {
    auto p = f._get_layout_params(reader.pages().at(i), {0, 0, 300, 600});
    ASSERT_TRUE(p);
    EXPECT_EQ(p->src_w, 300) << "rotate " << p->rot;
    EXPECT_EQ(p->src_h, 600) << "rotate " << p->rot;
    EXPECT_DOUBLE_EQ(p->scale, 0.95);
  }
  EXPECT_FALSE(f._get_layout_params(reader.pages().at(4), {0, 0, 300, 600}));
  EXPECT_FALSE(f._get_layout_params(reader.pages().at(5), {0, 0, 300, 600}));
}

// The matrices the pass hands to the page merge for a 300 x 600 receipt in the top-left cell of
// a 2 x 2 portrait grid. A turned page's origin must land on the corner its /Rotate shows at the
// top-left (90), top-right (180) or bottom-right (270) of its centred box.
TEST_F(LayoutParamsTest, PlacementMatricesOfTheTurns) {
  const double s_side = 277.5 / 600 * 0.95; // turned: 600 wide, the width limits
  const double s_up = 401.0 / 600 * 0.95;   // upright: 300 wide, the height limits
  struct Case {
    double rot;
    std::array<double, 6> cm;
  };
  const Case cases[] = {
      {0, {s_up, 0, 0, s_up, 63.5125, 431.025}},
      // Turned clockwise, then shifted up by the displayed height (300).
      {90, {0, -s_side, s_side, 0, 26.9375, 687.40625}},
      {180, {-s_up, 0, 0, -s_up, 253.9875, 811.975}},
      // Turned three quarters, then shifted right by the displayed width (600).
      {270, {0, s_side, -s_side, 0, 290.5625, 555.59375}},
  };
  std::vector<MarkerPage> pages;
  for (const auto &c : cases) {
    MarkerPage p; // 300 x 600
    p.rotate = c.rot;
    pages.push_back(p);
  }
  vaskit::testing::write_marker_pdf(dir / "turns.pdf", pages);
  vaskit::pdf::Reader reader((dir / "turns.pdf").string());

  Folvaner f = make(2, 2, false);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(c.rot);
    auto p = f._get_layout_params(reader.pages().at(i), {20, 421, 277.5, 401});
    ASSERT_TRUE(p);
    const vaskit::pdf::Matrix m = vaskit::folvane::placement(*p);
    const double got[] = {m.a, m.b, m.c, m.d, m.e, m.f};
    for (std::size_t k = 0; k < 6; ++k)
      EXPECT_NEAR(got[k], c.cm[k], 1e-9) << "cm[" << k << "]";
    // Every corner of the page ends up inside the cell.
    for (auto [x, y] : {std::pair{0.0, 0.0}, {300.0, 0.0}, {0.0, 600.0}, {300.0, 600.0}}) {
      const auto [px, py] = m.apply(x, y);
      EXPECT_GE(px, 20 - 1e-9);
      EXPECT_LE(px, 297.5 + 1e-9);
      EXPECT_GE(py, 421 - 1e-9);
      EXPECT_LE(py, 822 + 1e-9);
    }
  }
}

TEST(RedFrameTest, ExactOperatorText) {
  struct Case {
    double x, y, w, h;
    const char *want;
  };
  const Case cases[] = {
      {20, 421, 277.5, 401, "q 1 0 0 RG 2 w 20.00 421.00 277.50 401.00 re S Q"},
      {20, 20, 277.5, 401, "q 1 0 0 RG 2 w 20.00 20.00 277.50 401.00 re S Q"},
      // Rounded as the decimal value of the double: 0.125 is exact (ties to even), 2.675 is
      // stored just below.
      {0.125, 2.675, 191.66666666666666, 1e-9, "q 1 0 0 RG 2 w 0.12 2.67 191.67 0.00 re S Q"},
  };
  Folvaner f = make(2, 2, true);
  for (const auto &c : cases) {
    vaskit::pdf::Page page = f._create_red_frame_page(c.x, c.y, c.w, c.h);
    EXPECT_EQ(page.contents(), c.want);
    EXPECT_EQ(page.width(), 842);
    EXPECT_EQ(page.height(), 595);
  }
}

} // namespace

#include "formats/pdf/nup.hpp"

#include "core/fs.hpp"

#include "support/marker_pages.hpp"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using namespace vaskit::pdf;
using vaskit::testing::MarkerPage;

namespace {

class NupTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "vaskit-nup.XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }

  fs::path marker_pdf(const std::string &name, const std::vector<MarkerPage> &pages,
                      const std::string &version = "1.4") {
    auto p = dir / name;
    vaskit::testing::write_marker_pdf(p, pages, version);
    return p;
  }

  static std::string slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir;
};

TEST(MatrixTest, StepsApplyInOrder) {
  struct Case {
    const char *name;
    Matrix m;
    double x, y, want_x, want_y;
  };
  const Case cases[] = {
      {"translate then scale", Matrix{}.translate(10, 20).scale(2, 3), 1, 1, 22, 63},
      {"scale then translate", Matrix{}.scale(2, 3).translate(10, 20), 1, 1, 12, 23},
      {"clockwise quarter turn", Matrix{}.rotate(-90), 1, 0, 0, -1},
      {"counter-clockwise quarter turn", Matrix{}.rotate(90), 1, 0, 0, 1},
      {"half turn", Matrix{}.rotate(-180), 2, 3, -2, -3},
      {"three quarters clockwise", Matrix{}.rotate(-270), 1, 0, 0, 1},
      {"full turn", Matrix{}.rotate(360), 5, 7, 5, 7},
      {"45 degrees", Matrix{}.rotate(45), 1, 0, std::sqrt(0.5), std::sqrt(0.5)},
      {"crop corner to origin, turned, shifted back",
       Matrix{}.translate(-10, -20).rotate(-90).translate(0, 300), 10, 20, 0, 300},
  };
  for (const auto &c : cases) {
    auto [x, y] = c.m.apply(c.x, c.y);
    EXPECT_NEAR(x, c.want_x, 1e-12) << c.name;
    EXPECT_NEAR(y, c.want_y, 1e-12) << c.name;
  }
  // Quarter turns are exact, so placed pages get clean matrices.
  Matrix q = Matrix{}.rotate(-90);
  EXPECT_EQ(q.a, 0.0);
  EXPECT_EQ(q.b, -1.0);
  EXPECT_EQ(q.c, 1.0);
  EXPECT_EQ(q.d, 0.0);
}

TEST(FormatNumberTest, FixedNotationRoundTrips) {
  struct Case {
    double v;
    const char *want;
  };
  const Case cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {20, "20"},
      {277.5, "277.5"},
      {-12.25, "-12.25"},
      {1e-20, "0.00000000000000000001"},
      {1e21, "1000000000000000000000"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(format_number(c.v), c.want) << c.v;
  double odd = 401.0 / 600.0 * 0.95;
  EXPECT_EQ(std::stod(format_number(odd)), odd);
  EXPECT_THROW(format_number(std::nan("")), Error);
  EXPECT_THROW(format_number(INFINITY), Error);
}

TEST_F(NupTest, ReaderReportsBoxesAndRotation) {
  MarkerPage plain;
  MarkerPage cropped;
  cropped.crop = std::array<double, 4>{10, 20, 210, 420};
  cropped.rotate = 90;
  MarkerPage swapped; // corners written upper-right first
  swapped.crop = std::array<double, 4>{250, 500, 50, 100};
  swapped.rotate = 450; // kept as stored
  MarkerPage real_rot;
  real_rot.rotate = -90.0;
  auto path = marker_pdf("r.pdf", {plain, cropped, swapped, real_rot});

  Reader r(path.string());
  ASSERT_EQ(r.pages().size(), 4u);
  struct Want {
    double l, b, w, h, rot;
  };
  const Want want[] = {
      {0, 0, 300, 600, 0}, {10, 20, 200, 400, 90}, {50, 100, 200, 400, 450}, {0, 0, 300, 600, -90}};
  for (std::size_t i = 0; i < 4; ++i) {
    Box b = r.pages()[i].cropbox();
    EXPECT_DOUBLE_EQ(b.left, want[i].l) << i;
    EXPECT_DOUBLE_EQ(b.bottom, want[i].b) << i;
    EXPECT_DOUBLE_EQ(b.width, want[i].w) << i;
    EXPECT_DOUBLE_EQ(b.height, want[i].h) << i;
    EXPECT_DOUBLE_EQ(r.pages()[i].rotate(), want[i].rot) << i;
  }
}

TEST_F(NupTest, RotationInheritedFromPageTree) {
  auto path = marker_pdf("inh.pdf", {MarkerPage{}});
  {
    QPDF q;
    q.processFile(path.string().c_str());
    q.getRoot().getKey("/Pages").replaceKey("/Rotate", QPDFObjectHandle::newInteger(180));
    q.getRoot().getKey("/Pages").replaceKey("/CropBox",
                                            vaskit::testing::pdf_rect({5, 5, 105, 205}));
    auto page = QPDFPageDocumentHelper(q).getAllPages().at(0).getObjectHandle();
    page.removeKey("/MediaBox");
    q.getRoot().getKey("/Pages").replaceKey("/MediaBox",
                                            vaskit::testing::pdf_rect({0, 0, 300, 600}));
    const std::string name = (dir / "inh2.pdf").string(); // QPDFWriter keeps the pointer
    QPDFWriter w(q, name.c_str());
    w.write();
  }
  Reader r((dir / "inh2.pdf").string());
  EXPECT_DOUBLE_EQ(r.pages().at(0).rotate(), 180);
  EXPECT_DOUBLE_EQ(r.pages().at(0).cropbox().width, 100);
  EXPECT_DOUBLE_EQ(r.pages().at(0).cropbox().height, 200);
}

TEST_F(NupTest, UnreadableFilesThrowWithReason) {
  std::ofstream(dir / "junk.pdf") << "this is not a PDF at all";
  fs::create_directories(dir / "folder.pdf");
  struct Case {
    fs::path path;
    std::string reason; // expected in the message after the path
  };
  // Folders and devices are refused before reading: a pipe or device could be read forever.
  for (const auto &c :
       {Case{dir / "missing.pdf", ": No such file or directory"}, Case{dir / "junk.pdf", ""},
        Case{dir / "folder.pdf", ": is a folder"}, Case{"/dev/null", ": is not a regular file"}}) {
    SCOPED_TRACE(c.path);
    try {
      Reader r(c.path.string());
      ADD_FAILURE() << "no error";
    } catch (const Error &e) {
      EXPECT_NE(std::string(e.what()).find(c.path.string() + c.reason), std::string::npos)
          << e.what();
    }
  }
}

TEST_F(NupTest, PlacedPageIsClippedToItsCropBoxAndDrawnWhereTheMatrixSays) {
  MarkerPage src;
  src.media = {0, 0, 300, 600};
  src.crop = std::array<double, 4>{50, 100, 250, 500}; // 200 x 400 visible
  auto in = marker_pdf("src.pdf", {src});
  { // A trim box inside the crop box must not cut the placed page further.
    QPDF q;
    q.processFile(in.string().c_str());
    QPDFPageDocumentHelper(q).getAllPages().at(0).getObjectHandle().replaceKey(
        "/TrimBox", vaskit::testing::pdf_rect({100, 200, 150, 250}));
    const std::string name = (dir / "trim.pdf").string(); // QPDFWriter keeps the pointer
    QPDFWriter wq(q, name.c_str());
    wq.write();
    in = dir / "trim.pdf";
  }

  Reader r(in.string());
  Writer w;
  Page page = w.create_blank_page(595, 842);
  // Crop corner to the origin, half size, lower-left corner at (100, 200).
  page.merge_transformed_page(r.pages()[0],
                              Matrix{}.translate(-50, -100).scale(0.5, 0.5).translate(100, 200));
  w.add_page(page);
  EXPECT_EQ(w.page_count(), 1u);
  auto out = dir / "out.pdf";
  w.write(out.string());

  EXPECT_EQ(vaskit::testing::run_command("qpdf --check '" + out.string() + "' >/dev/null"), 0);
  auto cms = vaskit::testing::cm_matrices(vaskit::testing::page_contents(out, 0));
  ASSERT_EQ(cms.size(), 1u);
  const std::array<double, 6> want{0.5, 0, 0, 0.5, 75, 150};
  for (int i = 0; i < 6; ++i)
    EXPECT_DOUBLE_EQ(cms[0][i], want[i]) << i;

  {
    QPDF q;
    q.processFile(out.string().c_str());
    auto pg = QPDFPageDocumentHelper(q).getAllPages().at(0);
    auto media = pg.getObjectHandle().getKey("/MediaBox").getArrayAsRectangle();
    EXPECT_EQ(media.urx, 595);
    EXPECT_EQ(media.ury, 842);
    auto fx = pg.getObjectHandle().getKey("/Resources").getKey("/XObject").getKey("/Fx1");
    ASSERT_TRUE(fx.isStream());
    EXPECT_EQ(fx.getDict().getKey("/Subtype").getName(), "/Form");
    auto bbox = fx.getDict().getKey("/BBox").getArrayAsRectangle();
    EXPECT_EQ(bbox.llx, 50);
    EXPECT_EQ(bbox.lly, 100);
    EXPECT_EQ(bbox.urx, 250);
    EXPECT_EQ(bbox.ury, 500);
  }

  // The visible 200 x 400 area lands at x 100..200, y 200..400 (from the top: 442..642).
  auto img = vaskit::testing::render_page(out, 1);
  auto ink = vaskit::testing::find_pixels(img, vaskit::testing::is_ink);
  EXPECT_NEAR(ink.x0, 100, 1);
  EXPECT_NEAR(ink.x1, 200, 1);
  EXPECT_NEAR(ink.y0, 842 - 400, 1);
  EXPECT_NEAR(ink.y1, 842 - 200, 1);
  EXPECT_EQ(vaskit::testing::count_solid(img, vaskit::testing::is_grey), 0)
      << "content outside the crop box was drawn";
}

TEST_F(NupTest, OverlayIsDrawnAfterPlacedPagesAndEachPlacementGetsItsOwnName) {
  auto in = marker_pdf("two.pdf", {MarkerPage{}, MarkerPage{}});
  Reader r(in.string());
  Writer w;
  Page page = w.create_blank_page(595, 842);
  page.merge_transformed_page(r.pages()[0], Matrix{}.scale(0.3, 0.3));
  page.merge_transformed_page(r.pages()[1], Matrix{}.scale(0.3, 0.3).translate(300, 0));
  Page frame = w.create_blank_page(595, 842);
  frame.set_contents("q 1 0 0 RG 2 w 20.00 20.00 277.50 401.00 re S Q");
  page.merge_page(frame);
  const std::string &c = page.contents();
  auto fx1 = c.find("/Fx1 Do");
  auto fx2 = c.find("/Fx2 Do");
  auto rect = c.find("q\nq 1 0 0 RG 2 w 20.00 20.00 277.50 401.00 re S Q\nQ\n");
  ASSERT_NE(fx1, std::string::npos);
  ASSERT_NE(fx2, std::string::npos);
  ASSERT_NE(rect, std::string::npos);
  EXPECT_LT(fx1, fx2);
  EXPECT_LT(fx2, rect);

  // A second output page continues the names, so no two placements share one.
  w.add_page(page);
  Page second = w.create_blank_page(595, 842);
  second.merge_transformed_page(r.pages()[0], Matrix{});
  EXPECT_NE(second.contents().find("/Fx3 Do"), std::string::npos);
  w.add_page(second);
  auto out = dir / "out.pdf";
  w.write(out.string());
  EXPECT_EQ(vaskit::testing::run_command("qpdf --check '" + out.string() + "' >/dev/null"), 0);

  Writer other;
  EXPECT_THROW(other.add_page(page), Error);
}

TEST_F(NupTest, OutputIsDeterministicAndKeepsTheSourceVersion) {
  auto in = marker_pdf("v17.pdf", {MarkerPage{}}, "1.7");
  auto build = [&](const fs::path &out) {
    Reader r(in.string());
    Writer w;
    Page page = w.create_blank_page(842, 595);
    page.merge_transformed_page(r.pages()[0], Matrix{}.scale(0.5, 0.5));
    w.add_page(page);
    w.write(out.string());
  };
  build(dir / "a.pdf");
  build(dir / "b.pdf");
  std::string a = slurp(dir / "a.pdf");
  EXPECT_EQ(a, slurp(dir / "b.pdf"));
  EXPECT_EQ(a.substr(0, 8), "%PDF-1.7");
  EXPECT_NE(a.find("/ID ["), std::string::npos);
}

TEST_F(NupTest, FailedWriteLeavesNothingBehind) {
  auto in = marker_pdf("src.pdf", {MarkerPage{}});
  Reader r(in.string());
  Writer w;
  Page page = w.create_blank_page(595, 842);
  page.merge_transformed_page(r.pages()[0], Matrix{});
  w.add_page(page);

  auto listing = [&](const fs::path &d) {
    std::vector<std::string> names;
    for (auto &e : fs::directory_iterator(d))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };

  // The target is a folder: the rename fails, the temporary file goes away.
  auto out = dir / "out";
  fs::create_directories(out / "taxi_receipt.pdf" / "keep");
  auto before = listing(out);
  try {
    w.write((out / "taxi_receipt.pdf").string());
    ADD_FAILURE() << "no error";
  } catch (const Error &e) {
    EXPECT_NE(std::string(e.what()).find("taxi_receipt.pdf"), std::string::npos) << e.what();
  }
  EXPECT_EQ(listing(out), before);
  EXPECT_TRUE(fs::exists(out / "taxi_receipt.pdf" / "keep"));

  // A missing folder is an error, not a crash.
  EXPECT_THROW(w.write((dir / "no" / "such" / "r.pdf").string()), Error);

  // A save that fails at the last moment (the file layer's hook stands in for a full disk)
  // leaves an existing report as it was and no temporary file.
  auto kept = out / "kept.pdf";
  std::ofstream(kept) << "old report";
  before = listing(out);
  {
    const vaskit::fs::ScopedWriteHook fault([](vaskit::fs::WriteStage stage, std::size_t) {
      if (stage == vaskit::fs::WriteStage::before_rename)
        throw std::runtime_error("disk full");
    });
    try {
      w.write(kept.string());
      ADD_FAILURE() << "no error";
    } catch (const Error &e) {
      EXPECT_EQ(std::string(e.what()), "cannot write " + kept.string() + ": disk full");
    }
  }
  EXPECT_EQ(listing(out), before);
  EXPECT_EQ(slurp(kept), "old report");

  // An existing file is replaced as a whole.
  auto target = dir / "old.pdf";
  std::ofstream(target) << std::string(100000, 'x');
  w.write(target.string());
  std::string now = slurp(target);
  EXPECT_EQ(now.substr(0, 5), "%PDF-");
  EXPECT_EQ(now.find("xxxx"), std::string::npos);
  EXPECT_EQ(vaskit::testing::run_command("qpdf --check '" + target.string() + "' >/dev/null"), 0);
}

} // namespace

// slidra end to end with the real presentation application (LibreOffice) and poppler. The
// suite name marks these tests "external": the sanitizer run leaves them out.
#include "support/files.hpp"
#include "support/images.hpp"
#include "support/pptx_writer.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using vaskit::testing::Pixels;
using vaskit::testing::read_file;
using vaskit::testing::read_pixels;
using vaskit::testing::Rgb;
using vaskit::testing::run_process;
using vaskit::testing::TempDir;
using vaskit::testing::write_file;
namespace gen = vaskit::testing::pptx;
namespace fs = std::filesystem;

const std::string kSlidra = std::string(VASKIT_BIN_DIR) + "/vaskit-slidra";

// At 1200 pixels across a 12192000-EMU slide, one pixel is 10160 EMU.
constexpr std::int64_t px(std::int64_t n) {
  return n * 10160;
}

bool contains_line(const std::string &text, const std::string &line) {
  return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

bool near(Rgb a, Rgb b) {
  for (int i = 0; i < 3; ++i)
    if (std::abs(a[i] - b[i]) > 8)
      return false;
  return true;
}

// Every pixel of the rectangle is close to `c`.
bool area_is(const Pixels &p, int x0, int y0, int x1, int y1, Rgb c) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (!near(p.at(x, y), c))
        return false;
  return true;
}

std::string solid(const std::string &rgb) {
  return R"(<a:solidFill><a:srgbClr val=")" + rgb + R"("/></a:solidFill><a:ln><a:noFill/></a:ln>)";
}

// Three slides stored as parts 3, 1, 2; the second is hidden. Slide 1: the keyword split across
// two runs (red box), a keyword shape inside a group and the keyword in capitals (both decoys).
// Slide 2: a title placeholder holding the keyword, its box inherited from the layout (yellow).
// Slide 3: no keyword.
gen::Deck must_show_deck() {
  gen::Deck d;
  d.layout_shapes = gen::placeholder(2, "Title", "type=\"title\"",
                                     gen::xfrm(px(500), px(300), px(300), px(100)), "");
  const std::string red = "FF0000", yellow = "FFFF00";
  d.slides = {
      {gen::rect(2, "Key", px(100), px(100), px(200), px(100), red,
                 gen::para(gen::run("see crop_", red) + gen::run("region", red))) +
           gen::group(3,
                      gen::rect(4, "In group", px(700), px(100), px(100), px(100), "00FF00",
                                gen::para(gen::run("crop_region", "00FF00"))),
                      px(700), px(100), px(100), px(100)) +
           gen::rect(5, "Capitals", px(100), px(400), px(100), px(100), "0000FF",
                     gen::para(gen::run("CROP_REGION", "0000FF"))),
       false, 3},
      {gen::placeholder(2, "Title 1", "type=\"title\"", "",
                        gen::para(gen::run("crop_region", yellow)), solid(yellow)),
       true, 1},
      {gen::rect(2, "Plain", px(100), px(100), px(100), px(100), "00FFFF",
                 gen::para(gen::run("nothing", "00FFFF"))),
       false, 2},
  };
  return d;
}

TEST(SlidraLibreOfficeExternal, CropsTheKeywordShapesOfRealSlideRenders) {
  TempDir dir, tmp;
  gen::write(dir / "deck.pptx", must_show_deck());
  write_file(dir / "config.yaml", "config:\n  scale_width: 1200\n  padding: 6\n");
  const auto r = run_process(kSlidra, {"-c", "config.yaml"}, dir.path(), "",
                             {"TMPDIR=" + tmp.path().string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "✅ Done: Slidra executed successfully. Processed 2 target images.\n");
  EXPECT_TRUE(contains_line(r.err, "✅ 📊 簡報檔案共有 3 頁"));
  EXPECT_TRUE(contains_line(
      r.err, "❌ 處理第 3 頁時發生錯誤: 在投影片中找不到任何包含關鍵字 'crop_region' 的物件！"));

  // Slide 1: the red box, 200 x 100, with a 6-pixel white ring; no decoy colour anywhere.
  const auto one = read_pixels(dir / "img/img1_slide1.gif");
  ASSERT_EQ(one.width, 212);
  ASSERT_EQ(one.height, 112);
  EXPECT_TRUE(area_is(one, 8, 8, 204, 104, {255, 0, 0}));
  EXPECT_TRUE(area_is(one, 0, 0, 212, 4, {255, 255, 255}));
  EXPECT_TRUE(area_is(one, 0, 108, 212, 112, {255, 255, 255}));
  EXPECT_TRUE(area_is(one, 0, 0, 4, 112, {255, 255, 255}));
  EXPECT_TRUE(area_is(one, 208, 0, 212, 112, {255, 255, 255}));
  // Slide 2 (hidden, stored first): the title placeholder at its layout box, 300 x 100.
  const auto two = read_pixels(dir / "img/img2_slide2.gif");
  ASSERT_EQ(two.width, 312);
  ASSERT_EQ(two.height, 112);
  EXPECT_TRUE(area_is(two, 8, 8, 304, 104, {255, 255, 0}));
  EXPECT_TRUE(area_is(two, 0, 0, 312, 4, {255, 255, 255}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "img"), fs::directory_iterator()), 2);

  const std::string preview = read_file(dir / "img_preview.md");
  EXPECT_TRUE(preview.starts_with("# Image Preview\n\n本文件由 `slidra` 自動產生"));
  const auto tpl = preview.find("```markdown\n");
  const auto first =
      preview.find("#### img1_slide1.gif\n`![img1_slide1.gif](./img/img1_slide1.gif)`\n");
  const auto second =
      preview.find("#### img2_slide2.gif\n`![img2_slide2.gif](./img/img2_slide2.gif)`\n");
  EXPECT_LT(tpl, first);
  EXPECT_LT(first, second);
  EXPECT_NE(second, std::string::npos);
  EXPECT_TRUE(preview.ends_with("![img2_slide2.gif](./img/img2_slide2.gif)\n\n</div>\n"));

  // No full-slide image, PDF or LibreOffice profile outlives the run.
  for (const auto &e : fs::directory_iterator(dir.path()))
    EXPECT_FALSE(e.path().filename().string().starts_with("temp_full_slide_")) << e.path();
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST(SlidraLibreOfficeExternal, ADeckLibreOfficeCannotLoadWritesNothing) {
  TempDir dir, tmp;
  gen::Deck d = must_show_deck();
  d.with_content_types = false; // readable for us, refused by LibreOffice
  gen::write(dir / "deck.pptx", d);
  write_file(dir / "config.yaml", "config:\n  scale_width: 600\n");
  const auto r = run_process(kSlidra, {"-c", "config.yaml"}, dir.path(), "",
                             {"TMPDIR=" + tmp.path().string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.find("❌ Error: 運行發生全域錯誤: LibreOffice") != std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_FALSE(fs::exists(dir / "img"));
  EXPECT_FALSE(fs::exists(dir / "img_preview.md"));
  for (const auto &e : fs::directory_iterator(dir.path()))
    EXPECT_FALSE(e.path().filename().string().starts_with("temp_full_slide_")) << e.path();
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

} // namespace

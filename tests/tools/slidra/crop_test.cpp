#include "slidra_support.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace slidra_test;
using vaskit::slidra::BboxRatio;
using vaskit::slidra::crop_slide_targets;

const Rgb kWhite{255, 255, 255};
const Rgb kBlack{0, 0, 0};
const Rgb kRed{255, 0, 0};
const Rgb kTeal{0, 128, 128};

// A 200 x 100 slide with a red 50 x 40 box at (50, 20) and a teal 20 x 20 box at (150, 70).
struct Slide {
  InTempDir dir;
  std::string png = (dir / "slide.png").string();
  std::string out = (dir / "img").string();
  Slide() {
    std::filesystem::create_directory(out);
    write_png(png, 200, 100, {{50, 20, 50, 40, kRed}, {150, 70, 20, 20, kTeal}});
  }
};

BboxRatio red_box() {
  return {50.0 / 200, 20.0 / 100, 50.0 / 200, 40.0 / 100, 3};
}

TEST(CropSlideTargets, CutsTheBoxWithPaddingAndKeepsFewColoursExactly) {
  Slide s;
  LogCapture logs;
  auto [files, next] = crop_slide_targets(s.png, {red_box()}, s.out, 0, 1, 4);
  ASSERT_EQ(files, std::vector<std::string>{s.out + "/img1_slide4.gif"});
  EXPECT_EQ(next, 2);
  auto px = read_pixels(files[0]);
  ASSERT_EQ(px.width, 50);
  ASSERT_EQ(px.height, 40);
  EXPECT_TRUE(px.all(0, 0, 50, 40, kRed));
  EXPECT_EQ(logs.texts("INFO"),
            std::vector<std::string>{"🎉 【第 4 頁區域 1 裁切成功】已儲存為: " + files[0]});

  // Enlarging padding: a white ring of 6 pixels around the red area; the teal box beyond the
  // ring never shows, and the colours stay exact (no dithering, no approximation).
  std::tie(files, next) = crop_slide_targets(s.png, {red_box()}, s.out, 6, 7, 1);
  px = read_pixels(files.at(0));
  ASSERT_EQ(px.width, 62);
  ASSERT_EQ(px.height, 52);
  EXPECT_TRUE(px.all(6, 6, 56, 46, kRed));
  EXPECT_TRUE(px.all(0, 0, 62, 6, kWhite));
  EXPECT_TRUE(px.all(0, 46, 62, 52, kWhite));
  EXPECT_TRUE(px.all(0, 0, 6, 52, kWhite));
  EXPECT_TRUE(px.all(56, 0, 62, 52, kWhite));
}

TEST(CropSlideTargets, ShrinkingPaddingWiderThanTheBoxSwapsEdges) {
  Slide s;
  LogCapture logs;
  // 50 wide with -40: left 90, right 60, exchanged: the 30-pixel band 60..90; 40 tall: 60 and 20
  // exchanged, the full 40 rows.
  const auto [files, next] = crop_slide_targets(s.png, {red_box()}, s.out, -40, 1, 1);
  const auto px = read_pixels(files.at(0));
  EXPECT_EQ(px.width, 30);
  EXPECT_EQ(px.height, 40);
  EXPECT_TRUE(px.all(0, 0, 30, 40, kRed));
}

TEST(CropSlideTargets, ClampsAtTheBorderAndPaintsOutsideAreasBlack) {
  Slide s;
  LogCapture logs;
  const std::vector<BboxRatio> targets{
      // Enlarged past the top left corner: clamped to 0.
      {0.0, 0.0, 0.05, 0.1, 0},
      // Right of the slide: after the exchange, 150..220 holds 20 outside columns.
      {0.9, 0.2, 0.05, 0.4, 1},
      // Entirely outside: black only.
      {1.1, 0.2, 0.1, 0.4, 2},
  };
  auto [files, next] = crop_slide_targets(s.png, {targets[0]}, s.out, 10, 1, 1);
  auto px = read_pixels(files.at(0));
  EXPECT_EQ(px.width, 20); // 0..(10 + 10)
  EXPECT_EQ(px.height, 20);

  std::tie(files, next) = crop_slide_targets(s.png, {targets[1], targets[2]}, s.out, -40, 2, 1);
  ASSERT_EQ(files.size(), 2u);
  px = read_pixels(files[0]);
  ASSERT_EQ(px.width, 70);
  ASSERT_EQ(px.height, 40);
  EXPECT_TRUE(px.all(0, 0, 50, 40, kWhite));
  EXPECT_TRUE(px.all(50, 0, 70, px.height, kBlack));
  px = read_pixels(files[1]);
  EXPECT_EQ(px.width, 60); // 200..260
  EXPECT_TRUE(px.all(0, 0, px.width, px.height, kBlack));
  EXPECT_EQ(next, 4);
}

TEST(CropSlideTargets, NumbersRunOnThroughFailedTargets) {
  Slide s;
  LogCapture logs;
  const BboxRatio empty{0.5, -0.5, 0.1, 0.51, 1}; // rows 0..0: nothing to save
  const BboxRatio huge{1e15, 0.0, 0.0, 1.0, 2};   // exchanged edges make it 2e17 wide
  // Reaches left of the slide: -0.98 truncates toward zero (to 0, not -1) before the padding.
  const BboxRatio left_out{-0.0049, 0.2, 0.4049, 0.4, 3};
  const auto [files, next] =
      crop_slide_targets(s.png, {red_box(), empty, huge, red_box(), left_out}, s.out, -1, 5, 2);
  EXPECT_EQ(files, (std::vector<std::string>{s.out + "/img5_slide2.gif", s.out + "/img8_slide2.gif",
                                             s.out + "/img9_slide2.gif"}));
  EXPECT_EQ(next, 10);
  EXPECT_FALSE(std::filesystem::exists(s.out + "/img6_slide2.gif"));
  EXPECT_FALSE(std::filesystem::exists(s.out + "/img7_slide2.gif"));
  const auto errors = logs.texts("ERROR");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_TRUE(errors[0].starts_with("❌ 裁切第 2 頁區域 2 時發生錯誤: ")) << errors[0];
  EXPECT_TRUE(errors[1].starts_with("❌ 裁切第 2 頁區域 3 時發生錯誤: ")) << errors[1];
  EXPECT_NE(errors[1].find("過大"), std::string::npos) << errors[1];
  EXPECT_EQ(read_pixels(files[0]).width, 48);
  EXPECT_EQ(read_pixels(files[2]).width, 78); // 1..79
}

TEST(CropSlideTargets, ABoxWithASideBeyondWhatAGifHoldsIsThatTargetsError) {
  Slide s;
  LogCapture logs;
  // Far left of the slide: the exchanged edges give a black band 79800 pixels wide and 40 high,
  // well inside the pixel budget but too wide for the 16 bits a GIF has for a side.
  const BboxRatio wide{-400.0, 0.2, 1.0, 0.4, 1};
  // 70000 rows above the slide and one column: too tall in the same way.
  const BboxRatio tall{0.5, -700.0, 0.005, 1.0, 2};
  const auto [files, next] = crop_slide_targets(s.png, {wide, tall, red_box()}, s.out, 0, 1, 3);
  EXPECT_EQ(files, std::vector<std::string>{s.out + "/img3_slide3.gif"});
  EXPECT_EQ(next, 4);
  EXPECT_FALSE(std::filesystem::exists(s.out + "/img1_slide3.gif"));
  EXPECT_FALSE(std::filesystem::exists(s.out + "/img2_slide3.gif"));
  const auto errors = logs.texts("ERROR");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_TRUE(errors[0].starts_with("❌ 裁切第 3 頁區域 1 時發生錯誤: ")) << errors[0];
  EXPECT_NE(errors[0].find("79800"), std::string::npos) << errors[0];
  EXPECT_TRUE(errors[1].starts_with("❌ 裁切第 3 頁區域 2 時發生錯誤: ")) << errors[1];
}

// The most extreme paddings a configuration can hold: shrinking, the exchanged edges lie
// billions of pixels apart, which is the region's size error (the pixel budget, computed without
// overflow); enlarging, the box is clamped to the whole slide.
TEST(CropSlideTargets, ExtremePaddingsGiveSizeErrorsOrTheWholeSlide) {
  Slide s;
  LogCapture logs;
  constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
  constexpr auto highest = std::numeric_limits<std::int64_t>::max();
  auto [files, next] = crop_slide_targets(s.png, {red_box(), red_box()}, s.out, lowest, 1, 2);
  EXPECT_TRUE(files.empty());
  EXPECT_EQ(next, 3);
  const auto errors = logs.texts("ERROR");
  ASSERT_EQ(errors.size(), 2u);
  for (const auto &e : errors)
    EXPECT_NE(e.find("過大 ("), std::string::npos) << e;
  EXPECT_NE(errors[1].find("上限為 100000000 像素)"), std::string::npos) << errors[1];
  EXPECT_TRUE(std::filesystem::is_empty(s.out));

  std::tie(files, next) = crop_slide_targets(s.png, {red_box()}, s.out, highest, 3, 2);
  const auto px = read_pixels(files.at(0));
  EXPECT_EQ(px.width, 200);
  EXPECT_EQ(px.height, 100);
  EXPECT_EQ(next, 4);
}

TEST(CropSlideTargets, UnreadableImageUsesNoNumbers) {
  Slide s;
  LogCapture logs;
  vaskit::testing::TempDir other;
  const std::string missing = (other / "missing.png").string();
  auto [files, next] = crop_slide_targets(missing, {red_box()}, s.out, 0, 3, 1);
  EXPECT_TRUE(files.empty());
  EXPECT_EQ(next, 3);
  const auto errors = logs.texts("ERROR");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].starts_with("❌ 無法讀取投影片圖片 " + missing + ": ")) << errors[0];
  // One line: the image library's own line break is not carried into the log.
  EXPECT_EQ(errors[0].find('\n'), std::string::npos) << errors[0];

  std::tie(files, next) = crop_slide_targets(s.png, {}, s.out, 0, 3, 1);
  EXPECT_TRUE(files.empty());
  EXPECT_EQ(next, 3);
  EXPECT_TRUE(std::filesystem::is_empty(s.out));
}

} // namespace

namespace {

// A slide whose top band holds `n` distinct greys-and-blues, one column each.
void striped_slide(const std::string &png, int n) {
  std::vector<Rect> stripes;
  for (int i = 0; i < n; ++i)
    stripes.push_back({i, 0, 1, 10, {i % 256, i / 256 * 40, 255 - i % 256}});
  write_png(png, std::max(n, 20), 20, stripes);
}

TEST(CropSlideTargets, UpTo256ColoursAreKeptExactlyAndMoreAreReducedToAPalette) {
  InTempDir dir;
  LogCapture logs;
  const std::string out = (dir / "img").string();
  std::filesystem::create_directory(out);
  const BboxRatio band{0.0, 0.0, 1.0, 0.5, 0}; // the striped top half
  // The band holds exactly 256 colours, the most a GIF palette takes.
  striped_slide((dir / "a.png").string(), 256);
  auto [files, next] = crop_slide_targets((dir / "a.png").string(), {band}, out, 0, 1, 1);
  auto px = read_pixels(files.at(0));
  ASSERT_EQ(px.width, 256);
  ASSERT_EQ(px.height, 10);
  for (int x = 0; x < 256; ++x)
    ASSERT_EQ(px.at(x, 5), (Rgb{x, 0, 255 - x})) << x;

  // 400 colours do not fit a GIF palette: the image is still saved, whole, with close colours.
  striped_slide((dir / "b.png").string(), 400);
  std::tie(files, next) = crop_slide_targets((dir / "b.png").string(), {band}, out, 0, 2, 1);
  px = read_pixels(files.at(0));
  ASSERT_EQ(px.width, 400);
  ASSERT_EQ(px.height, 10);
  int far = 0;
  for (int x = 0; x < 400; ++x) {
    const Rgb want{x % 256, x / 256 * 40, 255 - x % 256};
    const Rgb got = px.at(x, 5);
    for (int c = 0; c < 3; ++c)
      far += std::abs(got[c] - want[c]) > 24;
  }
  EXPECT_EQ(far, 0);
}

} // namespace

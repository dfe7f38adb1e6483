#include "slidra_support.hpp"
#include "support/pptx_writer.hpp"

#include <gtest/gtest.h>

namespace {

using namespace slidra_test;
using vaskit::slidra::json;
using vaskit::slidra::SlidraApp;
namespace gen = vaskit::testing::pptx;

std::vector<int> pick(const json &target, std::int64_t total = 5) {
  return SlidraApp(json::object()).parse_slide_indices(target, total);
}

TEST(ParseSlideIndices, IntegersAllAndLists) {
  LogCapture logs;
  EXPECT_EQ(pick(3), std::vector<int>{3});
  EXPECT_EQ(pick(9), std::vector<int>{});
  EXPECT_EQ(pick(0), std::vector<int>{});
  EXPECT_EQ(pick(true), std::vector<int>{1});
  EXPECT_EQ(pick(false), std::vector<int>{});
  EXPECT_EQ(pick(json(std::uint64_t(18446744073709551615u))), std::vector<int>{});
  EXPECT_TRUE(logs.lines().empty()); // integers are never warned about
  EXPECT_EQ(pick(" ALL "), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(pick("all", 0), std::vector<int>{});
  EXPECT_EQ(pick("1,,3,"), (std::vector<int>{1, 3}));
  EXPECT_TRUE(logs.lines().empty());
}

TEST(ParseSlideIndices, BadPartsAreWarnedInOrderAndSkipped) {
  LogCapture logs;
  EXPECT_EQ(pick("5, 2, 2, 7, x, ,1-3"), (std::vector<int>{2, 5}));
  EXPECT_EQ(logs.texts("WARNING"),
            (std::vector<std::string>{
                "⚠️ 頁碼 7 超出投影片總頁數範圍 (1~5)，已略過。",
                "⚠️ 無法解析的頁碼格式: 'x'，已略過。",
                "⚠️ 無法解析的頁碼格式: '1-3'，已略過。"}));
}

TEST(ParseSlideIndices, NumbersAreReadAsIntegerLiterals) {
  LogCapture logs;
  // Sign, underscores between digits, leading zeros and digits of other scripts.
  EXPECT_EQ(pick("+2, 0_3, 004, ５, ١"), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(logs.lines().empty());
  EXPECT_EQ(pick("-1, -0, 99999999999999999999999, 2.0, _1, 1_, 1__0, + 1, 2 3"),
            std::vector<int>{});
  EXPECT_EQ(logs.texts("WARNING"),
            (std::vector<std::string>{
                "⚠️ 頁碼 -1 超出投影片總頁數範圍 (1~5)，已略過。",
                "⚠️ 頁碼 0 超出投影片總頁數範圍 (1~5)，已略過。",
                "⚠️ 頁碼 99999999999999999999999 超出投影片總頁數範圍 "
                "(1~5)，已略過。",
                "⚠️ 無法解析的頁碼格式: '2.0'，已略過。",
                "⚠️ 無法解析的頁碼格式: '_1'，已略過。",
                "⚠️ 無法解析的頁碼格式: '1_'，已略過。",
                "⚠️ 無法解析的頁碼格式: '1__0'，已略過。",
                "⚠️ 無法解析的頁碼格式: '+ 1'，已略過。",
                "⚠️ 無法解析的頁碼格式: '2 3'，已略過。"}));
  // Anything that is not an integer is read as its text.
  EXPECT_EQ(pick(2.0), std::vector<int>{});
  EXPECT_EQ(pick(json()), std::vector<int>{});
}

TEST(ParseSlideIndices, AListIsSplitAtCommasOfItsQuotedTextForm) {
  LogCapture logs;
  // A YAML list is neither an integer nor text: its text form "['1', '3']" is split at commas.
  EXPECT_EQ(pick(json::parse(R"(["1", "3"])")), std::vector<int>{});
  EXPECT_EQ(
      logs.texts("WARNING"),
      (std::vector<std::string>{"⚠️ 無法解析的頁碼格式: '['1''，已略過。",
                                "⚠️ 無法解析的頁碼格式: ''3']'，已略過。"}));
}

// A 16:9 slide, 12192000 x 6858000 EMU.
std::string keyword_box(int id, std::int64_t x, std::int64_t y, std::int64_t cx, std::int64_t cy,
                        const std::string &paragraphs) {
  return gen::rect(id, "Shape " + std::to_string(id), x, y, cx, cy, "FFFFFF", paragraphs);
}

TEST(KeywordShapes, TopLevelShapesWhoseTextHoldsTheKeyword) {
  InTempDir dir;
  LogCapture logs;
  gen::Deck deck;
  const std::string picture =
      R"(<p:pic><p:nvPicPr><p:cNvPr id="9" name="Picture"/><p:cNvPicPr/><p:nvPr/></p:nvPicPr><p:blipFill/><p:spPr>)" +
      gen::xfrm(0, 0, 10, 10) + "</p:spPr></p:pic>";
  deck.layout_shapes = gen::placeholder(2, "Layout title", "type=\"title\"",
                                        gen::xfrm(609600, 342900, 6096000, 685800), "");
  deck.slides = {
      {picture +                                                              // 0
           keyword_box(3, 1219200, 685800, 2438400, 1371600,                  // 1: split runs
                       gen::para(gen::run("see crop_") + gen::run("region"))) //
           + gen::group(4, keyword_box(5, 0, 0, 100, 100, gen::para(gen::run("crop_region"))), 0, 0,
                        100, 100)                                               // 2: group
           + keyword_box(6, 0, 0, 100, 100, gen::para(gen::run("CROP_REGION"))) // 3: case
           + gen::placeholder(7, "Title", "type=\"title\"", "",
                              gen::para(gen::run("crop_region title"))) // 4: inherited box
           + keyword_box(8, -1219200, 6172200, 2438400, 1371600,
                         gen::para(gen::run("a")) + gen::para(gen::run("crop_region"))), // 5
       false, 0},
      {keyword_box(2, 0, 0, 10, 10, gen::para(gen::run("Crop_Region"))), false, 0},
      {gen::placeholder(2, "Body", "type=\"body\" idx=\"5\"", "",
                        gen::para(gen::run("crop_region"))),
       false, 0},
  };
  gen::write(dir / "d.pptx", deck);
  const SlidraApp app(json::object());
  const auto boxes = app.get_target_shapes_bbox_ratios("d.pptx", 1, "crop_region");
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].shape_idx, 1);
  EXPECT_DOUBLE_EQ(boxes[0].left_r, 0.1);
  EXPECT_DOUBLE_EQ(boxes[0].top_r, 0.1);
  EXPECT_DOUBLE_EQ(boxes[0].width_r, 0.2);
  EXPECT_DOUBLE_EQ(boxes[0].height_r, 0.2);
  EXPECT_EQ(boxes[1].shape_idx, 4);
  EXPECT_DOUBLE_EQ(boxes[1].left_r, 0.05);
  EXPECT_DOUBLE_EQ(boxes[1].height_r, 0.1);
  // Half outside the slide: fractions below 0 and above 1 come back unchanged.
  EXPECT_EQ(boxes[2].shape_idx, 5);
  EXPECT_DOUBLE_EQ(boxes[2].left_r, -0.1);
  EXPECT_DOUBLE_EQ(boxes[2].top_r + boxes[2].height_r, 1.1);
  EXPECT_EQ(logs.texts("INFO"),
            std::vector<std::string>{"✅ 成功定位 3 個包含關鍵字 'crop_region' 的目標物件！"});

  try {
    app.get_target_shapes_bbox_ratios("d.pptx", 2, "crop_region");
    FAIL() << "no error";
  } catch (const std::exception &e) {
    EXPECT_STREQ(e.what(), "在投影片中找不到任何包含關鍵字 'crop_region' 的物件！");
  }
  // A matching placeholder with no box anywhere up its line is an error for its slide.
  EXPECT_THROW(app.get_target_shapes_bbox_ratios("d.pptx", 3, "crop_region"), std::exception);
  EXPECT_THROW(app.get_target_shapes_bbox_ratios("d.pptx", 4, "crop_region"), std::exception);
  EXPECT_THROW(app.get_target_shapes_bbox_ratios("missing.pptx", 1, "crop_region"), std::exception);
}

} // namespace

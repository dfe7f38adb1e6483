#include "slidra_support.hpp"
#include "support/files.hpp"
#include "support/pptx_writer.hpp"

#include <gtest/gtest.h>

namespace {

using namespace slidra_test;
using vaskit::slidra::json;
using vaskit::slidra::SlidraApp;
namespace gen = vaskit::testing::pptx;
namespace stdfs = std::filesystem;

// Stands in for LibreOffice: paints slide n in the grey (10n, 10n, 10n), so a crop shows which
// slide image it came from.
struct ExportLog {
  int calls = 0;
  std::vector<int> slides;
  std::vector<std::string> outputs;
  int width = 0;
  std::string fail_with; // throw this instead of exporting
  std::vector<int> skip; // slides not written
};

class FakeExporter : public vaskit::slidra::SlideExporter {
public:
  explicit FakeExporter(ExportLog &log) : log_(log) {}
  void export_slides(const std::string &, const std::vector<int> &slides,
                     const std::vector<std::string> &outputs, int scale_width,
                     const vaskit::pptx::Size &size) override {
    ++log_.calls;
    log_.slides = slides;
    log_.outputs = outputs;
    log_.width = scale_width;
    if (!log_.fail_with.empty())
      throw std::runtime_error(log_.fail_with);
    const int h = vaskit::slidra::slide_height_pixels(scale_width, size);
    for (std::size_t i = 0; i < slides.size(); ++i) {
      if (std::find(log_.skip.begin(), log_.skip.end(), slides[i]) != log_.skip.end())
        continue;
      const int g = 10 * slides[i];
      write_png(outputs[i], scale_width, h, {{0, 0, scale_width, h, {g, g, g}}});
    }
  }

private:
  ExportLog &log_;
};

std::string box(int id, std::int64_t x, std::int64_t y, const std::string &text) {
  // 1219200 EMU is a tenth of the slide width; 685800 a tenth of its height.
  return gen::rect(id, "S", x * 1219200, y * 685800, 1219200, 685800, "FFFFFF",
                   gen::para(gen::run(text)));
}

// Slide 1: two keyword boxes; 2: none; 3: a keyword placeholder without any box; 4: one.
gen::Deck four_slides() {
  gen::Deck d;
  d.slides = {
      {box(2, 1, 1, "crop_region") + box(3, 5, 5, "x") + box(4, 6, 2, "a crop_region"), false, 0},
      {box(2, 1, 1, "nothing here"), false, 0},
      {gen::placeholder(2, "P", "idx=\"7\"", "", gen::para(gen::run("crop_region"))), false, 0},
      {box(2, 0, 0, "crop_region"), false, 0},
  };
  return d;
}

json settings(json extra = json::object()) {
  json c = {{"scale_width", 400}, {"padding", 0}};
  for (auto &[k, v] : extra.items())
    c[k] = v;
  return json{{"config", c}};
}

Rgb grey(int slide) {
  return {10 * slide, 10 * slide, 10 * slide};
}

bool has_temp_images(const stdfs::path &dir) {
  for (const auto &e : stdfs::directory_iterator(dir))
    if (e.path().filename().string().starts_with("temp_full_slide_"))
      return true;
  return false;
}

TEST(CropRun, ExportsOnceCropsEverySlideAndWritesThePreview) {
  InTempDir dir;
  LogCapture logs;
  gen::write(dir / "deck.pptx", four_slides());
  ExportLog exported;
  SlidraApp app(settings(), std::make_unique<FakeExporter>(exported));
  const auto result = app.run();
  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_EQ(result.message, "Slidra executed successfully. Processed 3 target images.");
  EXPECT_EQ(exported.calls, 1);
  EXPECT_EQ(exported.slides, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(exported.width, 400);
  EXPECT_EQ(exported.outputs.at(1), (stdfs::current_path() / "temp_full_slide_2.png").string());

  // 400 x 225 images: a tenth of the slide is 40 x 22 pixels (22.5 truncated at both edges).
  const auto one = read_pixels(dir / "img/img1_slide1.gif");
  EXPECT_EQ(one.width, 40);
  EXPECT_EQ(one.height, 23); // trunc(22.5)=22 .. trunc(45)=45
  EXPECT_TRUE(one.all(0, 0, one.width, one.height, grey(1)));
  EXPECT_TRUE(read_pixels(dir / "img/img2_slide1.gif").all(0, 0, 40, 22, grey(1)));
  const auto three = read_pixels(dir / "img/img3_slide4.gif");
  EXPECT_TRUE(three.all(0, 0, three.width, three.height, grey(4)));
  EXPECT_EQ(std::distance(stdfs::directory_iterator(dir / "img"), stdfs::directory_iterator()), 3);
  EXPECT_FALSE(has_temp_images(dir.path()));

  const std::string preview = vaskit::testing::read_file(dir / "img_preview.md");
  const auto p1 = preview.find("#### img1_slide1.gif");
  const auto p2 = preview.find("#### img2_slide1.gif");
  const auto p3 = preview.find("#### img3_slide4.gif");
  EXPECT_LT(preview.find("```markdown"), p1);
  EXPECT_LT(p1, p2);
  EXPECT_LT(p2, p3);
  EXPECT_NE(p3, std::string::npos);

  const auto errors = logs.texts("ERROR");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0],
            "❌ 處理第 2 頁時發生錯誤: 在投影片中找不到任何包含關鍵字 'crop_region' 的物件！");
  EXPECT_TRUE(errors[1].starts_with("❌ 處理第 3 頁時發生錯誤: ")) << errors[1];
  const auto infos = logs.texts("INFO");
  ASSERT_GE(infos.size(), 4u);
  EXPECT_EQ(infos[0], "✅ 🚀 Starting Slidra process in './'. Please select a PowerPoint file.");
  EXPECT_EQ(infos[1], "✅ 📊 簡報檔案共有 4 頁");
  EXPECT_EQ(infos[2], "✅ 🎯 預計處理投影片頁碼: [1, 2, 3, 4]");
  EXPECT_EQ(infos.back(), "🎉 Slidra executed successfully. Processed 3 target images.");
  // The default scan folder "./" names the images and the preview without a leading "./".
  EXPECT_NE(std::find(infos.begin(), infos.end(),
                      "🎉 【第 1 頁區域 1 裁切成功】已儲存為: img/img1_slide1.gif"),
            infos.end());
  EXPECT_EQ(infos[infos.size() - 2], "🎉 【預覽生成成功】已將影像連結寫入: img_preview.md");
}

TEST(CropRun, ScanFolderHoldsImagesAndPreviewWhileTemporaryImagesUseTheCurrentFolder) {
  InTempDir dir;
  LogCapture logs;
  stdfs::create_directory(dir / "decks");
  gen::write(dir / "decks/deck.pptx", four_slides());
  ExportLog exported;
  exported.skip = {4};
  SlidraApp app(settings({{"scan_dir", "decks"}, {"target_slides", "4, 1"}}),
                std::make_unique<FakeExporter>(exported));
  const auto result = app.run();
  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_EQ(result.message, "Slidra executed successfully. Processed 2 target images.");
  EXPECT_EQ(exported.outputs.at(0), (stdfs::current_path() / "temp_full_slide_1.png").string());
  EXPECT_TRUE(stdfs::exists(dir / "decks/img/img1_slide1.gif"));
  EXPECT_TRUE(stdfs::exists(dir / "decks/img_preview.md"));
  EXPECT_FALSE(stdfs::exists(dir / "img"));
  EXPECT_EQ(
      logs.texts("WARNING"),
      std::vector<std::string>{"⚠️ 找不到第 4 頁的簡報匯出圖片，略過該頁。"});
  EXPECT_FALSE(has_temp_images(dir.path()));
}

TEST(CropRun, NothingFoundStillSucceedsWithoutTouchingAnOldPreview) {
  InTempDir dir;
  LogCapture logs;
  gen::write(dir / "deck.pptx", four_slides());
  vaskit::testing::write_file(dir / "img_preview.md", "old");
  ExportLog exported;
  SlidraApp app(settings({{"search_keyword", "absent"}, {"target_slides", 2}}),
                std::make_unique<FakeExporter>(exported));
  const auto result = app.run();
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.message, "Slidra executed successfully. Processed 0 target images.");
  EXPECT_EQ(vaskit::testing::read_file(dir / "img_preview.md"), "old");
  EXPECT_FALSE(has_temp_images(dir.path()));
}

TEST(CropRun, EndsEarlyWithoutDeckOrValidSlides) {
  InTempDir dir;
  LogCapture logs;
  ExportLog exported;
  auto result = SlidraApp(settings(), std::make_unique<FakeExporter>(exported)).run();
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, "未選取任何有效簡報檔案，結束執行。");

  gen::write(dir / "deck.pptx", four_slides());
  result =
      SlidraApp(settings({{"target_slides", "9"}}), std::make_unique<FakeExporter>(exported)).run();
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, "沒有指定任何有效的投影片頁碼，結束執行。");
  EXPECT_EQ(exported.calls, 0);
  EXPECT_FALSE(stdfs::exists(dir / "img"));
}

TEST(CropRun, GlobalFailuresLeaveNothingBehind) {
  InTempDir dir;
  LogCapture logs;
  gen::write(dir / "deck.pptx", four_slides());
  ExportLog exported;
  exported.fail_with = "soffice gone";
  auto result = SlidraApp(settings(), std::make_unique<FakeExporter>(exported)).run();
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, "運行發生全域錯誤: soffice gone");
  EXPECT_EQ(logs.texts("ERROR").back(), "❌ 運行發生全域錯誤: soffice gone");
  EXPECT_FALSE(stdfs::exists(dir / "img"));

  // Not a zip, and a deck without a slide size: no export is tried.
  ExportLog untouched;
  vaskit::testing::write_file(dir / "deck.pptx", "plain text");
  result = SlidraApp(settings(), std::make_unique<FakeExporter>(untouched)).run();
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.message.starts_with("運行發生全域錯誤: ")) << result.message;
  auto no_size = four_slides();
  no_size.with_size = false;
  gen::write(dir / "deck.pptx", no_size);
  result = SlidraApp(settings(), std::make_unique<FakeExporter>(untouched)).run();
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.message.find("sldSz"), std::string::npos) << result.message;
  EXPECT_EQ(untouched.calls, 0);
  EXPECT_FALSE(stdfs::exists(dir / "img"));
}

TEST(CropRun, APageTooLargeToDrawIsRefusedBeforeLibreOfficeStarts) {
  InTempDir dir;
  LogCapture logs;
  auto tall = four_slides();
  tall.cx = 914400; // 1 x 56 inches: 20000 pixels across are over a million down
  tall.cy = 51206400;
  gen::write(dir / "deck.pptx", tall);
  const auto result = SlidraApp(settings({{"scale_width", 20000}})).run(); // the real exporter
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.message.starts_with("運行發生全域錯誤: 投影片圖片過大 (20000 x 1000000"))
      << result.message;
  EXPECT_FALSE(stdfs::exists(dir / "img"));
}

TEST(CropRun, APreviewThatCannotBeWrittenFailsTheRun) {
  InTempDir dir;
  LogCapture logs;
  gen::write(dir / "deck.pptx", four_slides());
  stdfs::create_directory(dir / "img_preview.md"); // a folder where the file should go
  ExportLog exported;
  const auto result =
      SlidraApp(settings({{"target_slides", 1}}), std::make_unique<FakeExporter>(exported)).run();
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.message.starts_with("運行發生全域錯誤: ")) << result.message;
  EXPECT_FALSE(has_temp_images(dir.path()));
}

TEST(CropRun, UnusableSettingsAreRefusedBeforeAnythingRuns) {
  InTempDir dir;
  gen::write(dir / "deck.pptx", four_slides());
  const std::vector<std::pair<json, std::string>> cases{
      {{{"scale_width", "4800"}}, "scale_width"}, {{{"scale_width", 0}}, "scale_width"},
      {{{"scale_width", 20001}}, "scale_width"},  {{{"scale_width", 480.5}}, "scale_width"},
      {{{"scale_width", true}}, "scale_width"},   {{{"padding", 1.5}}, "padding"},
      {{{"padding", "-40"}}, "padding"},          {{{"padding", nullptr}}, "padding"},
  };
  for (const auto &[extra, key] : cases) {
    LogCapture logs;
    ExportLog exported;
    const auto result = SlidraApp(settings(extra), std::make_unique<FakeExporter>(exported)).run();
    EXPECT_FALSE(result.ok) << extra.dump();
    EXPECT_NE(result.message.find(key), std::string::npos) << result.message;
    EXPECT_EQ(logs.lines().size(), 1u) << extra.dump(); // the one error line, no start line
    EXPECT_EQ(exported.calls, 0);
  }
  // Whole floats are whole numbers.
  LogCapture logs;
  ExportLog exported;
  const auto result =
      SlidraApp(settings({{"scale_width", 400.0}, {"padding", -0.0}, {"target_slides", "4"}}),
                std::make_unique<FakeExporter>(exported))
          .run();
  EXPECT_TRUE(result.ok) << result.message;
  EXPECT_EQ(exported.width, 400);
}

TEST(CropRun, DefaultsApplyWithoutAConfigSection) {
  const SlidraApp app(json::object());
  EXPECT_EQ(app.scan_dir, "./");
  EXPECT_EQ(app.target_slides, "all");
  EXPECT_EQ(app.search_keyword, "crop_region");
  EXPECT_EQ(app.scale_width, 4800);
  EXPECT_EQ(app.padding, -40);
  // The folder's text as a path object prints it: "img" for the default "./".
  EXPECT_EQ(app.output_dir, "img");
  EXPECT_EQ(SlidraApp(json{{"config", {{"scan_dir", "a/b"}}}}).output_dir, "a/b/img");
  EXPECT_EQ(SlidraApp(json{{"config", {{"scan_dir", "./a//b/"}}}}).output_dir, "a/b/img");
}

} // namespace

#include "support/log_capture.hpp"
#include "tools/prosett/stages.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace vaskit::prosett {
namespace {

namespace fs = std::filesystem;
using vaskit::testing::LogCapture;

TEST(Base64, Rfc4648Vectors) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\xff\xfe\x00", 3), "//4A"},
  };
  for (const auto &[in, want] : cases)
    EXPECT_EQ(base64_encode(in), want);
}

class ImageFolder : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("prosett_images_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "docs" / "img");
    fs::create_directories(root_ / "docs" / "dir.png");
    for (const char *name : {"img/a.png", "my pic.png", "中文.jpg", "photo.JPG", "x.webp", "x.bmp",
                             "x.svg", "secret.txt", "noext", "a&b.png", "secret.txt"})
      write(name, "PIX");
    write("empty.gif", "");
    md_file_ = (root_ / "docs" / "notes.md").string();
  }
  void TearDown() override { fs::remove_all(root_); }
  void write(const std::string &name, const std::string &bytes) {
    std::ofstream(root_ / "docs" / name, std::ios::binary) << bytes;
  }
  std::string docs(const std::string &name) const { return (root_ / "docs").string() + "/" + name; }

  fs::path root_;
  std::string md_file_;
};

TEST_F(ImageFolder, EmbedsLocalImageFilesOnly) {
  const std::string pix = base64_encode("PIX");
  const struct {
    std::string tag;
    std::string want;
  } cases[] = {
      {R"(<img src="https://x/a.png" />)", R"(<img src="https://x/a.png" />)"},
      {R"(<img src="data:image/png;base64,AA" />)", R"(<img src="data:image/png;base64,AA" />)"},
      {R"(<img src="img/a.png" alt="a" />)",
       R"(<img src="data:image/png;base64,)" + pix + R"(" alt="a" />)"},
      // Only the source changes, not an alt text that repeats it.
      {R"(<img alt="my%20pic.png" src="my%20pic.png" />)",
       R"(<img alt="my%20pic.png" src="data:image/png;base64,)" + pix + R"(" />)"},
      {R"(<img src="%E4%B8%AD%E6%96%87.jpg" />)",
       R"(<img src="data:image/jpeg;base64,)" + pix + R"(" />)"},
      {R"(<img src="photo.JPG" />)", R"(<img src="data:image/jpeg;base64,)" + pix + R"(" />)"},
      {R"(<img src="x.webp" />)", R"(<img src="data:image/png;base64,)" + pix + R"(" />)"},
      {R"(<img src="x.bmp" />)", R"(<img src="data:image/png;base64,)" + pix + R"(" />)"},
      {R"(<img src="x.svg" />)", R"(<img src="data:image/svg+xml;base64,)" + pix + R"(" />)"},
      // The renderer writes "&" in attributes as "&amp;".
      {R"(<img src="a&amp;b.png" />)", R"(<img src="data:image/png;base64,)" + pix + R"(" />)"},
      {R"(<img src="empty.gif" />)", R"(<img src="data:image/gif;base64," />)"},
      // Not image files, or a name that a NUL would cut short: never embedded.
      {R"(<img src="secret.txt" />)", R"(<img src="secret.txt" />)"},
      {R"(<img src="noext" />)", R"(<img src="noext" />)"},
      {R"(<img src="secret.txt%00.png" />)", R"(<img src="secret.txt%00.png" />)"},
      // Not matched by the image pattern.
      {R"(<img src='x.svg' />)", R"(<img src='x.svg' />)"},
      {R"(<IMG SRC="x.svg" />)", R"(<IMG SRC="x.svg" />)"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(embed_images_in_html(c.tag, md_file_, encode_image_base64), c.want) << c.tag;
}

TEST_F(ImageFolder, LogsCountsAndMisses) {
  LogCapture logs(true);
  const std::string html =
      R"(<img src="https://x/y.png"><img src="HTTP://x/a.png">)"
      R"(<img src="secret.txt"><img src="img/a.png"><img src="dir.png"><img src="x%1B[2J.png">)";
  embed_images_in_html(html, md_file_, encode_image_base64, true);
  EXPECT_EQ(logs.texts("INFO"), std::vector<std::string>{"✅ 發現 5 張本地圖片進行 Base64 嵌入。"});
  EXPECT_EQ(logs.texts("DEBUG"),
            std::vector<std::string>{"已嵌入 Base64 圖片: " + docs("img/a.png")});
  const auto warnings = logs.texts("WARNING");
  ASSERT_EQ(warnings.size(), 5u);
  EXPECT_EQ(warnings[0], "⚠️ 轉換過程中找不到圖片: " + docs("HTTP://x/a.png"));
  EXPECT_EQ(warnings[1], "⚠️ 轉換過程中找不到圖片: " + docs("secret.txt"));
  // A folder is found but cannot be read: the encoder's warning, then the stage's.
  EXPECT_TRUE(
      warnings[2].starts_with("⚠️ 無法將圖片 " + docs("dir.png") + " 編碼為 Base64: "))
      << warnings[2];
  EXPECT_EQ(warnings[3], "⚠️ 轉換過程中找不到圖片: " + docs("dir.png"));
  // The path comes from the document: no escape sequence reaches the terminal.
  EXPECT_EQ(warnings[4], "⚠️ 轉換過程中找不到圖片: " + docs("x\uFFFD[2J.png"));
}

TEST_F(ImageFolder, EachTagEncodedOnItsOwnAndRemoteNotCounted) {
  LogCapture logs;
  std::vector<std::string> asked;
  auto fake = [&](const std::string &path) -> std::optional<std::string> {
    asked.push_back(path);
    return "data:x";
  };
  const std::string out = embed_images_in_html(
      R"(<img src="img/a.png"><p><img class="c" src="img/a.png"></p><img src="/abs/b.png">)"
      R"(<img src="https://x/c.png">)",
      md_file_, fake);
  EXPECT_EQ(out, R"(<img src="data:x"><p><img class="c" src="data:x"></p><img src="data:x">)"
                 R"(<img src="https://x/c.png">)");
  EXPECT_EQ(asked, (std::vector<std::string>{docs("img/a.png"), docs("img/a.png"), "/abs/b.png"}));
  EXPECT_EQ(logs.texts("INFO"), std::vector<std::string>{"✅ 發現 3 張本地圖片進行 Base64 嵌入。"});
}

TEST_F(ImageFolder, MarkdownFileWithoutFolderReadsFromCurrentFolder) {
  const fs::path before = fs::current_path();
  fs::current_path(root_ / "docs");
  std::vector<std::string> asked;
  embed_images_in_html(R"(<img src="img/a.png">)", "notes.md", [&](const std::string &p) {
    asked.push_back(p);
    return encode_image_base64(p);
  });
  fs::current_path(before);
  EXPECT_EQ(asked, std::vector<std::string>{"img/a.png"});
}

TEST(EncodeImage, MissingFileIsSilent) {
  LogCapture logs;
  EXPECT_EQ(encode_image_base64("/nonexistent/x.png"), std::nullopt);
  EXPECT_TRUE(logs.lines().empty());
}

} // namespace
} // namespace vaskit::prosett

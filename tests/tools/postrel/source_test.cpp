#include "support/console.hpp"
#include "support/files.hpp"
#include "support/log_capture.hpp"
#include "tools/postrel/postrel.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace vaskit::postrel {
namespace {

using testing::CurrentDir;
using testing::LogCapture;
using testing::TempDir;
using testing::with_console;
using testing::write_file;
namespace stdfs = std::filesystem;

class Source : public ::testing::Test {
protected:
  TempDir dir;
  CurrentDir here{dir.path()};
  // Writes `name` with a modification time `age` seconds in the past.
  void file(const std::string &name, int age) {
    write_file(dir / name, "# " + name + "\n");
    stdfs::last_write_time(dir / name,
                           stdfs::file_time_type::clock::now() - std::chrono::seconds(age));
  }
  Resolved resolve(const std::string &input, std::optional<std::string> in = std::nullopt,
                   std::optional<std::string> configured = std::nullopt,
                   testing::Console *console = nullptr) {
    Resolved r;
    auto c = with_console(input, [&] { r = resolve_markdown_file(in, configured); });
    if (console)
      *console = c;
    return r;
  }
};

TEST_F(Source, CommandLineThenConfiguration) {
  file("given.md", 50);
  file("conf.md", 10);
  LogCapture logs;
  auto r = resolve("", "./given.md", "conf.md");
  EXPECT_EQ(r.path, "given.md");
  EXPECT_TRUE(logs.has("INFO", "✅ 使用命令列指定的 Markdown 檔案：given.md"));
  // A missing command-line file fails at once, without the configured file or a search.
  r = resolve("", "missing.md", "conf.md");
  EXPECT_FALSE(r.path);
  EXPECT_EQ(r.error, "指定的檔案不存在: missing.md");
  EXPECT_TRUE(logs.has("ERROR", "❌ 指定的 Markdown 檔案不存在: missing.md"));
  r = resolve("", std::nullopt, "conf.md");
  EXPECT_EQ(r.path, "conf.md");
  EXPECT_TRUE(logs.has("INFO", "✅ 使用 YAML 設定檔指定的 Markdown 檔案：conf.md"));
}

TEST_F(Source, NewestFileOfferedThenTheChoice) {
  file("old.md", 100);
  file("new.md", 5);
  file("mid.md", 50);
  stdfs::create_directories(dir / "build");
  file("build/newest.md", 0);
  LogCapture logs;
  testing::Console c;
  auto r = resolve("\n", std::nullopt, "gone.md", &c);
  EXPECT_TRUE(logs.has(
      "WARNING", "⚠️ YAML 指定的檔案不存在：gone.md，將嘗試互動式選擇。"));
  EXPECT_NE(c.out.find("💬 偵測到最新 Markdown 檔案：new.md，是否直接使用？ [Y/n]: "),
            std::string::npos);
  EXPECT_EQ(r.path, "new.md");
  // "no" leads to the list of all three (sorted), where the user takes the first.
  r = resolve("n\n1\n", std::nullopt, "", &c);
  EXPECT_EQ(r.path, "mid.md");
  EXPECT_EQ(c.out.find("newest.md"), std::string::npos);
  // End of input at the question: a warning, then the list, cancelled by end of input.
  r = resolve("", std::nullopt, "", &c);
  EXPECT_FALSE(r.path);
  EXPECT_EQ(r.error, "未選取任何檔案。");
  EXPECT_TRUE(logs.has("WARNING", "⚠️ 偵測最新 Markdown 檔案時發生異常: Aborted!"));
}

TEST_F(Source, SingleFileAndEmptyFolder) {
  testing::Console c;
  auto r = resolve("", std::nullopt, std::nullopt, &c);
  EXPECT_EQ(r.error, "未選取任何檔案。");
  EXPECT_EQ(c.out.find("偵測到最新"), std::string::npos);
  file("only.md", 3);
  // Answering no still ends with the single file: the choice takes it without asking.
  r = resolve("n\n", std::nullopt, std::nullopt, &c);
  EXPECT_EQ(r.path, "only.md");
}

} // namespace
} // namespace vaskit::postrel

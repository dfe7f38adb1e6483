#include "core/command.hpp"
#include "support/console.hpp"
#include "support/files.hpp"
#include "vaskern/fileIO_options.hpp"

#include <cstdlib>
#include <gtest/gtest.h>

namespace vaskern::fileIO {
namespace {

using vaskit::testing::TempDir;
using vaskit::testing::with_console;
using vaskit::testing::write_file;
namespace stdfs = std::filesystem;

TEST(SelectOption, DefaultNumbersRetriesAndEndOfInput) {
  const std::vector<std::string> options{"不使用AI", "排版", "翻譯"};
  std::string chosen;
  auto c =
      with_console("\n", [&] { chosen = select_option("請選擇", options, "2", "🤖 標題"); });
  EXPECT_EQ(chosen, "排版");
  EXPECT_EQ(c.out, "\n🤖 標題\n  1. 不使用AI\n  2. 排版\n  3. 翻譯\n請選擇 [2]: ");
  c = with_console("0\n4\nabc\n 3 \n", [&] { chosen = select_option("請選擇", options); });
  EXPECT_EQ(chosen, "翻譯");
  EXPECT_NE(c.err.find("⚠️ 無效的選擇：4"), std::string::npos);
  // A default that names no option: Enter asks again.
  c = with_console("\n1\n", [&] { chosen = select_option("p", options, "9"); });
  EXPECT_EQ(chosen, "不使用AI");
  EXPECT_THROW(with_console("", [&] { select_option("p", options); }), vaskit::cli::Abort);
  EXPECT_THROW(select_option("p", {}), std::invalid_argument);
}

TEST(ResourcePath, OverrideFolderThenInstalledThenFallback) {
  TempDir dir;
  write_file(dir / "over/goal/g.yaml", "o");
  write_file(dir / "fallback/g.yaml", "f");
  write_file(dir / "fallback/only_here.yaml", "f");
  ::setenv("VASKIT_RESOURCES", (dir / "over").c_str(), 1);
  EXPECT_EQ(get_resource_path("vaskit.goal", "g.yaml", dir / "fallback"), dir / "over/goal/g.yaml");
  EXPECT_EQ(get_resource_path("vaskit.goal", "only_here.yaml", dir / "fallback"),
            dir / "fallback/only_here.yaml");
  ::unsetenv("VASKIT_RESOURCES");
  EXPECT_EQ(get_resource_path("vaskit.goal", "g.yaml", dir / "fallback"), dir / "fallback/g.yaml");
  EXPECT_FALSE(get_resource_path("vaskit.goal", "missing.yaml", dir / "fallback"));
  EXPECT_FALSE(get_resource_path("vaskit.goal", "../fallback/g.yaml", dir / "over"));
  EXPECT_FALSE(get_resource_path("vaskit.goal", "goal", dir / "over"));
  // Relative fallbacks come back absolute.
  vaskit::testing::CurrentDir here(dir.path());
  const auto rel = get_resource_path("vaskit.goal", "g.yaml", "fallback");
  ASSERT_TRUE(rel);
  EXPECT_TRUE(rel->is_absolute());
  EXPECT_EQ(*rel, dir / "fallback/g.yaml");
}

} // namespace
} // namespace vaskern::fileIO

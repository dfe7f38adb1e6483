#include "core/fs.hpp"
#include "support/process.hpp"

#include <cerrno>
#include <gtest/gtest.h>

namespace {

using namespace vaskit::fs;
using vaskit::testing::TempDir;

TEST(PathRules, FollowPythonOsPath) {
  struct Case {
    const char *in;
    const char *root;
    const char *ext;
  };
  const Case cases[] = {
      {"notes.md", "notes", ".md"},
      {"a.b.md", "a.b", ".md"},
      {".md", ".md", ""},
      {"..md", "..md", ""},
      {"dir.d/file", "dir.d/file", ""},
      {"x/.hidden.txt", "x/.hidden", ".txt"},
      {"noext", "noext", ""},
  };
  for (const auto &c : cases) {
    const auto [root, ext] = splitext(c.in);
    EXPECT_EQ(root, c.root) << c.in;
    EXPECT_EQ(ext, c.ext) << c.in;
  }
  EXPECT_EQ(dirname("docs/notes.md"), "docs");
  EXPECT_EQ(dirname("/notes.md"), "/");
  EXPECT_EQ(dirname("notes.md"), "");
  EXPECT_EQ(join("docs", "img/a.png"), "docs/img/a.png");
  EXPECT_EQ(join("docs/", "a.png"), "docs/a.png");
  EXPECT_EQ(join("docs", "/abs.png"), "/abs.png");
  EXPECT_EQ(join("", "a.png"), "a.png");
  EXPECT_EQ(vaskit::fs::basename("a/b/c.md"), "c.md");
  EXPECT_EQ(abspath("/a/./b/../c/"), "/a/c");
}

TEST(AtomicWrite, ReplacesWholeOrLeavesTheOriginal) {
  TempDir dir;
  const auto target = dir / "page.html";
  write_file_atomic(target, "first");
  EXPECT_EQ(read_file(target), "first");
  write_file_atomic(target, "second version");
  EXPECT_EQ(read_file(target), "second version");

  set_write_hook([](WriteStage stage, std::size_t) {
    if (stage == WriteStage::before_rename)
      throw std::runtime_error("disk full");
  });
  EXPECT_THROW(write_file_atomic(target, "third"), std::runtime_error);
  set_write_hook(nullptr);
  EXPECT_EQ(read_file(target), "second version");
  // No temporary file is left behind.
  int entries = 0;
  for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator(dir.path()))
    ++entries;
  EXPECT_EQ(entries, 1);
  EXPECT_THROW(write_file_atomic(dir / "missing" / "x", "y"), std::system_error);
  EXPECT_THROW(read_file(dir / "nothing"), std::system_error);
}

TEST(AtomicWrite, WritesThroughLinksKeepsModesAndLeavesReadOnlyFiles) {
  TempDir dir;
  const auto target = dir / "real.html";
  write_file_atomic(target, "v1");
  std::filesystem::permissions(target, std::filesystem::perms(0640));
  std::filesystem::create_symlink("real.html", dir / "link.html");
  write_file_atomic(dir / "link.html", "v2");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.html"));
  EXPECT_EQ(read_file(target), "v2");
  EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0640));

  // A dangling link gets its target written.
  std::filesystem::create_symlink("later.html", dir / "dangling.html");
  write_file_atomic(dir / "dangling.html", "new");
  EXPECT_EQ(read_file(dir / "later.html"), "new");

  // A file marked read-only is not replaced, even for a user the permissions do not bind.
  std::filesystem::permissions(target, std::filesystem::perms(0444));
  try {
    write_file_atomic(target, "v3");
    FAIL() << "a read-only file was replaced";
  } catch (const std::system_error &e) {
    EXPECT_EQ(e.code().value(), EACCES);
  }
  EXPECT_EQ(read_file(target), "v2");
}

} // namespace

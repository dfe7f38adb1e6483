#include "core/fs.hpp"
#include "support/fifo.hpp"
#include "support/process.hpp"
#include "support/stopped_write.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace vaskit::fs;
using vaskit::testing::TempDir;

std::vector<std::string> listing(const std::filesystem::path &dir) {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A child process that saves `data` to `target` and stops for good at `stage`, after
// `after_bytes` bytes; returns its pid once it has stopped there.
pid_t child_stopped_in_save(const std::filesystem::path &target, const std::string &data,
                            WriteStage stage, std::size_t after_bytes) {
  return vaskit::testing::child_stopped_in_write(stage, after_bytes,
                                                 [&] { write_file_atomic(target, data); });
}

void kill_and_reap(pid_t pid) {
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
}

TEST(PathRules, ExtensionsKeepLeadingDotsAndJoinsRestartAtAbsoluteParts) {
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
  // The printed form of a path object: no "." parts, no empty ones, ".." kept.
  EXPECT_EQ(vaskit::fs::path_text("./img"), "img");
  EXPECT_EQ(vaskit::fs::path_text("./"), ".");
  EXPECT_EQ(vaskit::fs::path_text(""), ".");
  EXPECT_EQ(vaskit::fs::path_text("./a//b/"), "a/b");
  EXPECT_EQ(vaskit::fs::path_text("/x/./y"), "/x/y");
  EXPECT_EQ(vaskit::fs::path_text("/"), "/");
  EXPECT_EQ(vaskit::fs::path_text("../a.md"), "../a.md");
}

TEST(RegularRead, RefusesFifosDevicesAndFoldersWithoutWaiting) {
  TempDir dir;
  std::ofstream(dir / "a.md") << "text\n";
  EXPECT_EQ(read_regular_file(dir / "a.md"), "text\n");
  // A link to a regular file is read like the file.
  std::filesystem::create_symlink(dir / "a.md", dir / "link.md");
  EXPECT_EQ(read_regular_file(dir / "link.md"), "text\n");
  {
    vaskit::testing::Fifo fifo(dir / "pipe.md");
    try {
      read_regular_file(dir / "pipe.md");
      ADD_FAILURE() << "a FIFO was read";
    } catch (const std::runtime_error &e) {
      EXPECT_EQ(std::string(e.what()), (dir / "pipe.md").string() + ": is not a regular file");
    }
    EXPECT_FALSE(fifo.waited_on());
  }
  for (const std::filesystem::path &p : {dir.path(), std::filesystem::path("/dev/null")})
    EXPECT_THROW(read_regular_file(p), std::runtime_error) << p;
  try {
    read_regular_file(dir / "nothing");
    ADD_FAILURE() << "a missing file was read";
  } catch (const std::system_error &e) {
    EXPECT_EQ(e.code().value(), ENOENT);
  }
}

TEST(AtomicWrite, ReplacesWholeOrLeavesTheOriginal) {
  TempDir dir;
  const auto target = dir / "page.html";
  write_file_atomic(target, "first");
  EXPECT_EQ(read_file(target), "first");
  write_file_atomic(target, "second version");
  EXPECT_EQ(read_file(target), "second version");

  // Whatever the failure's exception type, no temporary file is left behind.
  for (const auto stage : {WriteStage::wrote_block, WriteStage::before_rename}) {
    {
      const ScopedWriteHook fault([stage](WriteStage s, std::size_t) {
        if (s == stage)
          throw std::runtime_error("disk full");
      });
      EXPECT_THROW(write_file_atomic(target, "third"), std::runtime_error);
    }
    {
      const ScopedWriteHook fault([stage](WriteStage s, std::size_t) {
        if (s == stage)
          throw std::system_error(ENOSPC, std::generic_category(), "disk full");
      });
      EXPECT_THROW(write_file_atomic(target, "third"), std::system_error);
    }
    {
      const ScopedWriteHook fault([stage](WriteStage s, std::size_t) {
        if (s == stage)
          throw 42;
      });
      EXPECT_THROW(write_file_atomic(target, "third"), int);
    }
    EXPECT_EQ(read_file(target), "second version");
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"page.html"});
  }
  // The seam ends with its scope.
  write_file_atomic(target, "fourth");
  EXPECT_EQ(read_file(target), "fourth");
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

TEST(AtomicWrite, ProcessKilledMidSaveLeavesTheOldFileWholeAndNoTemporary) {
  TempDir dir;
  const auto target = dir / "report.pdf";
  const std::string old_text(300000, 'o');
  const std::string new_text(300000, 'n');
  write_file_atomic(target, old_text);

  // Killed while the temporary file is being written: nothing but the target, as it was.
  for (const std::size_t after : {std::size_t{0}, std::size_t{131072}}) {
    const pid_t pid =
        child_stopped_in_save(dir / "report.pdf", new_text, WriteStage::wrote_block, after);
    kill_and_reap(pid);
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"report.pdf"}) << after;
    EXPECT_EQ(read_file(target), old_text) << after;
  }

  // Killed between naming the complete temporary and the rename: the next save removes it.
  const pid_t pid = child_stopped_in_save(target, new_text, WriteStage::before_rename, 0);
  kill_and_reap(pid);
  EXPECT_EQ(read_file(target), old_text);
  write_file_atomic(target, "third");
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"report.pdf"});
  EXPECT_EQ(read_file(target), "third");
}

TEST(AtomicWrite, ProcessKilledAtRandomMomentsLeavesAWholeFile) {
  TempDir dir;
  const auto target = dir / "page.html";
  const std::string a(1 << 20, 'a');
  const std::string b(1 << 20, 'b');
  write_file_atomic(target, a);
  std::mt19937 gen(11);
  for (int round = 0; round < 20; ++round) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0;; ++i)
        write_file_atomic(target, i % 2 ? a : b);
    }
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(gen));
    kill_and_reap(pid);
    const std::string now = read_file(target);
    EXPECT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
  }
  write_file_atomic(target, "done");
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"page.html"});
}

TEST(RunTempDir, RemovesTheFoldersOfDeadRunsOnly) {
  TempDir dir;
  const char *old = std::getenv("TMPDIR");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  ::setenv("TMPDIR", dir.path().c_str(), 1);
  const std::string d = std::to_string(vaskit::testing::ended_process_id());
  const std::string live = std::to_string(::getppid());
  std::filesystem::create_directories(dir / ("run-" + d + "-Ab3xYz") / "profile");
  write_file_atomic(dir / ("run-" + d + "-Ab3xYz") / "profile" / "big", "x");
  const std::vector<std::string> kept = {"run-" + live + "-Ab3xYz", "other-" + d + "-Ab3xYz",
                                         "run-" + d + "-Ab3x"};
  for (const auto &name : kept)
    std::filesystem::create_directory(dir / name);

  const std::filesystem::path made = make_run_temp_dir("run-");
  if (saved)
    ::setenv("TMPDIR", saved->c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  EXPECT_TRUE(std::filesystem::is_directory(made));
  EXPECT_EQ(made.parent_path(), dir.path());
  EXPECT_EQ(made.filename().string().rfind("run-" + std::to_string(::getpid()) + "-", 0), 0u);
  std::vector<std::string> want = kept;
  want.push_back(made.filename().string());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(listing(dir.path()), want);
}

TEST(AtomicWrite, RemovesOnlyTheTemporariesOfDeadProcesses) {
  TempDir dir;
  const std::string d = std::to_string(vaskit::testing::ended_process_id());
  const std::string live = std::to_string(::getppid());
  const std::string self = std::to_string(::getpid());
  const std::vector<std::string> stale = {".page.html.tmp-" + d + "-Ab3xYz"};
  const std::vector<std::string> kept = {
      ".page.html.tmp-" + live + "-Ab3xYz", // its process still runs
      ".page.html.tmp-" + self + "-Ab3xYz", // this process may be saving it on another thread
      ".other.html.tmp-" + d + "-Ab3xYz",   // another file's
      ".page.html.tmp-" + d + "-Ab3x",      // not a name this layer makes
      ".page.html.tmp-" + d + "-Ab3xYz.bak", "page.html.tmp-" + d + "-Ab3xYz",
  };
  for (const auto &name : stale)
    write_file_atomic(dir / name, "x");
  for (const auto &name : kept)
    write_file_atomic(dir / name, "x");
  std::filesystem::create_directory(dir / (".page.html.tmp-" + d + "-Folder"));
  write_file_atomic(dir / "page.html", "page");

  std::vector<std::string> want = kept;
  want.push_back(".page.html.tmp-" + d + "-Folder");
  want.push_back("page.html");
  std::sort(want.begin(), want.end());
  EXPECT_EQ(listing(dir.path()), want);

  // Long names keep their temporaries within the file-name limit.
  const std::string long_name(250, 'L');
  write_file_atomic(dir / long_name, "long");
  EXPECT_EQ(read_file(dir / long_name), "long");
}

} // namespace

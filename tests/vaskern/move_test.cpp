#include "core/fs.hpp"
#include "support/files.hpp"
#include "support/process.hpp"
#include "vaskern/fileMg.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace {

using vaskit::testing::read_file;
using vaskit::testing::TempDir;
using vaskit::testing::write_file;
namespace fileMg = vaskern::fileMg;
namespace fs = std::filesystem;

std::vector<std::string> listing(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::recursive_directory_iterator(folder))
    names.push_back(fs::relative(entry.path(), folder).string());
  std::sort(names.begin(), names.end());
  return names;
}

struct HookReset {
  ~HookReset() { fileMg::set_move_hook({}); }
};

TEST(FileMgPaths, FolderOfAPathAndExtensionChecks) {
  TempDir dir;
  write_file(dir / "in/a.CSV", "x");
  EXPECT_EQ(fileMg::get_folder_from_path((dir / "in/a.CSV").string()), (dir / "in").string());
  EXPECT_EQ(fileMg::get_folder_from_path((dir / "in").string()), (dir / "in").string());
  EXPECT_EQ(fileMg::get_folder_from_path("not/there"), "not/there");
  EXPECT_EQ(fileMg::generate_output_path("data", "results"), "data/results");
  EXPECT_FALSE(fs::exists("data")); // paths only, nothing created

  EXPECT_TRUE(fileMg::check_file_exists((dir / "in/a.CSV").string(), {".csv"}));
  EXPECT_TRUE(fileMg::check_file_exists((dir / "in/a.CSV").string()));
  EXPECT_FALSE(fileMg::check_file_exists((dir / "in/a.CSV").string(), {".xlsx", ".xls"}));
  EXPECT_FALSE(fileMg::check_file_exists((dir / "in").string(), {}));
  EXPECT_FALSE(fileMg::check_file_exists((dir / "in/b.csv").string(), {".csv"}));
  EXPECT_FALSE(fileMg::check_file_exists("", {".csv"}));
}

TEST(FileMgMove, MovesAfterABackupCopyAndCreatesTheFolders) {
  TempDir dir;
  write_file(dir / "a.xlsx", "content-a");
  chmod((dir / "a.xlsx").c_str(), 0640);
  const auto moved = fileMg::move_file_force((dir / "a.xlsx").string(),
                                             (dir / "results/New name_12.xlsx").string(),
                                             (dir / "backup/a.xlsx").string());
  EXPECT_EQ(moved.dest, (dir / "results/New name_12.xlsx").string());
  EXPECT_EQ(moved.backup, (dir / "backup/a.xlsx").string());
  EXPECT_FALSE(fs::exists(dir / "a.xlsx"));
  EXPECT_EQ(read_file(dir / "results/New name_12.xlsx"), "content-a");
  EXPECT_EQ(read_file(dir / "backup/a.xlsx"), "content-a");
  struct stat st {};
  ASSERT_EQ(stat((dir / "backup/a.xlsx").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(FileMgMove, TakenNamesGetNumbersAndNothingIsOverwritten) {
  TempDir dir;
  write_file(dir / "results/r.xlsx", "older result");
  write_file(dir / "backup/a.xlsx", "older backup");
  write_file(dir / "backup/a (1).xlsx", "older backup 1");
  write_file(dir / "a.xlsx", "new");
  const auto moved =
      fileMg::move_file_force((dir / "a.xlsx").string(), (dir / "results/r.xlsx").string(),
                              (dir / "backup/a.xlsx").string());
  EXPECT_EQ(moved.dest, (dir / "results/r (1).xlsx").string());
  EXPECT_EQ(moved.backup, (dir / "backup/a (2).xlsx").string());
  EXPECT_EQ(read_file(dir / "results/r.xlsx"), "older result");
  EXPECT_EQ(read_file(dir / "results/r (1).xlsx"), "new");
  EXPECT_EQ(read_file(dir / "backup/a.xlsx"), "older backup");
  EXPECT_EQ(read_file(dir / "backup/a (1).xlsx"), "older backup 1");
  EXPECT_EQ(read_file(dir / "backup/a (2).xlsx"), "new");
}

TEST(FileMgMove, AFailedMoveLeavesTheSourceAndNoCopy) {
  TempDir dir;
  write_file(dir / "a.xlsx", "keep me");
  // A name longer than any file system allows.
  const std::string long_name = std::string(300, 'x') + ".xlsx";
  EXPECT_THROW(fileMg::move_file_force((dir / "a.xlsx").string(),
                                       (dir / "results" / long_name).string(),
                                       (dir / "backup/a.xlsx").string()),
               std::system_error);
  EXPECT_EQ(read_file(dir / "a.xlsx"), "keep me");
  EXPECT_FALSE(fs::exists(dir / "backup/a.xlsx"));

  // A failure right after the backup copy: the copy goes again.
  HookReset reset;
  fileMg::set_move_hook([](std::string_view step) {
    if (step == "backup copied")
      throw std::system_error(EIO, std::generic_category(), "simulated");
  });
  EXPECT_THROW(fileMg::move_file_force((dir / "a.xlsx").string(), (dir / "results/b.xlsx").string(),
                                       (dir / "backup/a.xlsx").string()),
               std::system_error);
  EXPECT_EQ(read_file(dir / "a.xlsx"), "keep me");
  EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"a.xlsx", "backup", "results"}));

  EXPECT_THROW(fileMg::move_file_force((dir / "missing.xlsx").string(),
                                       (dir / "results/m.xlsx").string(),
                                       (dir / "backup/m.xlsx").string()),
               std::system_error);
  EXPECT_THROW(fileMg::move_file_force((dir / "results").string(),
                                       (dir / "results/m.xlsx").string(),
                                       (dir / "backup/m.xlsx").string()),
               std::system_error);
}

TEST(FileMgMove, AKilledBackupLeavesNoPartialCopyUnderARealName) {
  TempDir dir;
  const std::string data(300000, 'k');
  write_file(dir / "a.xlsx", data);
  // The process dies right after the first block of the backup copy is written.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    vaskit::fs::ScopedWriteHook hook([](vaskit::fs::WriteStage, std::size_t) { ::raise(SIGKILL); });
    try {
      fileMg::move_file_force((dir / "a.xlsx").string(), (dir / "results/r.xlsx").string(),
                              (dir / "backup/a.xlsx").string());
    } catch (...) {
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "not killed in the copy";
  EXPECT_EQ(read_file(dir / "a.xlsx"), data);
  // Only hidden temporaries may be left, no name a user or the next run would take for a copy.
  for (const auto &entry : fs::directory_iterator(dir / "backup"))
    EXPECT_EQ(entry.path().filename().string().rfind(".a.xlsx.tmp-", 0), 0u) << entry.path();

  // The next run backs up under the workbook's own name and leaves no temporary behind.
  const auto moved =
      fileMg::move_file_force((dir / "a.xlsx").string(), (dir / "results/r.xlsx").string(),
                              (dir / "backup/a.xlsx").string());
  EXPECT_EQ(moved.backup, (dir / "backup/a.xlsx").string());
  EXPECT_EQ(read_file(dir / "backup/a.xlsx"), data);
  EXPECT_EQ(listing(dir / "backup"), std::vector<std::string>{"a.xlsx"});
}

TEST(FileMgMove, TemporariesOfProcessesThatNoLongerRunAreRemoved) {
  TempDir dir;
  const std::string d = std::to_string(vaskit::testing::ended_process_id());
  const std::string live = std::to_string(::getppid());
  // Left by killed runs, for this workbook and for another; one of a process still running.
  write_file(dir / ("backup/.a.xlsx.tmp-" + d + "-Ab3xYz"), "part");
  write_file(dir / ("backup/.old.xlsx.tmp-" + d + "-Qw9eRt"), "part");
  write_file(dir / ("backup/.b.xlsx.tmp-" + live + "-Zx8cVb"), "in use");
  write_file(dir / "a.xlsx", "content");
  fileMg::move_file_force((dir / "a.xlsx").string(), (dir / "results/r.xlsx").string(),
                          (dir / "backup/a.xlsx").string());
  EXPECT_EQ(listing(dir / "backup"),
            (std::vector<std::string>{".b.xlsx.tmp-" + live + "-Zx8cVb", "a.xlsx"}));
}

// A second file system for the cross-device road; /dev/shm is a separate tmpfs on Linux.
bool other_file_system(const fs::path &here, fs::path &there) {
  struct stat a {
  }, b{};
  if (stat(here.c_str(), &a) != 0 || stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev ||
      access("/dev/shm", W_OK) != 0)
    return false;
  char tmpl[] = "/dev/shm/vaskit-move.XXXXXX";
  if (!mkdtemp(tmpl))
    return false;
  there = tmpl;
  return true;
}

TEST(FileMgMove, AcrossFileSystemsTheCopyIsWholeBeforeTheSourceGoes) {
  TempDir dir;
  fs::path other;
  if (!other_file_system(dir.path(), other))
    GTEST_SKIP() << "no second writable file system";
  struct Cleanup {
    fs::path p;
    ~Cleanup() { fs::remove_all(p); }
  } cleanup{other};
  const std::string data(200000, 'z');
  write_file(dir / "a.xlsx", data);
  write_file(other / "results/r.xlsx", "taken");

  // The source must go last: at that step the whole copy already has its final name.
  HookReset reset;
  std::vector<std::string> seen;
  fileMg::set_move_hook([&](std::string_view step) {
    seen.emplace_back(step);
    if (step == "before removing the source") {
      EXPECT_EQ(read_file(other / "results/r (1).xlsx"), data);
      EXPECT_TRUE(fs::exists(dir / "a.xlsx"));
    }
  });
  const auto moved =
      fileMg::move_file_force((dir / "a.xlsx").string(), (other / "results/r.xlsx").string(),
                              (dir / "backup/a.xlsx").string());
  EXPECT_EQ(seen, (std::vector<std::string>{"backup copied", "temporary copy written",
                                            "before removing the source"}));
  EXPECT_EQ(moved.dest, (other / "results/r (1).xlsx").string());
  EXPECT_FALSE(fs::exists(dir / "a.xlsx"));
  EXPECT_EQ(read_file(other / "results/r.xlsx"), "taken");
  EXPECT_EQ(read_file(other / "results/r (1).xlsx"), data);
  EXPECT_EQ(read_file(dir / "backup/a.xlsx"), data);
  EXPECT_EQ(listing(other / "results"), (std::vector<std::string>{"r (1).xlsx", "r.xlsx"}));

  // Failing at either later step leaves the source whole and no file beside the destination.
  for (const char *failing : {"temporary copy written", "before removing the source"}) {
    write_file(dir / "b.xlsx", data);
    fileMg::set_move_hook([&](std::string_view step) {
      if (step == failing)
        throw std::system_error(EIO, std::generic_category(), "simulated");
    });
    EXPECT_THROW(fileMg::move_file_force((dir / "b.xlsx").string(),
                                         (other / "results/b.xlsx").string(),
                                         (dir / "backup/b.xlsx").string()),
                 std::system_error)
        << failing;
    EXPECT_EQ(read_file(dir / "b.xlsx"), data) << failing;
    EXPECT_EQ(listing(other / "results"), (std::vector<std::string>{"r (1).xlsx", "r.xlsx"}))
        << failing;
    EXPECT_FALSE(fs::exists(dir / "backup/b.xlsx")) << failing;
  }
}

TEST(FileMgMove, ALinkStillReachesItsFileFromTheNewFolder) {
  TempDir dir;
  write_file(dir / "shared/real.xlsx", "the claim");
  write_file(dir / "data/results/r.xlsx", "older result");
  fs::create_symlink("../shared/real.xlsx", dir / "data/rel.xlsx");
  fs::create_symlink(dir / "shared/real.xlsx", dir / "data/abs.xlsx");
  for (const char *name : {"rel.xlsx", "abs.xlsx"}) {
    SCOPED_TRACE(name);
    const auto moved = fileMg::move_file_force((dir / "data" / name).string(),
                                               (dir / "data/results/r.xlsx").string(),
                                               (dir / "data/backup" / name).string());
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "data" / name)));
    // A link again, to the same file, under a free name; the content is readable through it.
    ASSERT_TRUE(fs::is_symlink(moved.dest));
    EXPECT_TRUE(fs::equivalent(moved.dest, dir / "shared/real.xlsx"));
    EXPECT_EQ(read_file(moved.dest), "the claim");
    // The backup holds the content itself, not another link.
    EXPECT_FALSE(fs::is_symlink(moved.backup));
    EXPECT_EQ(read_file(moved.backup), "the claim");
  }
  EXPECT_EQ(read_file(dir / "data/results/r.xlsx"), "older result");
  EXPECT_TRUE(fs::is_symlink(dir / "data/results/r (1).xlsx"));
  EXPECT_TRUE(fs::is_symlink(dir / "data/results/r (2).xlsx"));
  EXPECT_EQ(read_file(dir / "shared/real.xlsx"), "the claim");
}

} // namespace

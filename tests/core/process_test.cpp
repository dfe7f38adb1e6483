#include "core/process.hpp"
#include "support/process.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <system_error>
#include <thread>

namespace {

using namespace std::chrono_literals;
namespace proc = vaskit::process;
using vaskit::testing::TempDir;

TEST(Process, PassesArgumentsVerbatimWithoutAShell) {
  // Characters a shell would interpret reach the program untouched, one argument each.
  const auto st = proc::run({"printf", "[%s]\n", "a b", "$HOME", "*", "x;echo no", "'q'"});
  EXPECT_TRUE(st.ok());
  EXPECT_EQ(st.out, "[a b]\n[$HOME]\n[*]\n[x;echo no]\n['q']\n");
  EXPECT_EQ(st.err, "");
}

TEST(Process, ReportsExitStatusSignalAndSeparateStreams) {
  auto st = proc::run({"sh", "-c", "echo out; echo err >&2; exit 3"});
  EXPECT_FALSE(st.ok());
  EXPECT_EQ(st.exit_code, 3);
  EXPECT_EQ(st.signal, 0);
  EXPECT_EQ(st.out, "out\n");
  EXPECT_EQ(st.err, "err\n");
  EXPECT_EQ(st.describe(), "exit status 3");

  st = proc::run({"sh", "-c", "kill -TERM $$"});
  EXPECT_FALSE(st.ok());
  EXPECT_EQ(st.signal, SIGTERM);
  EXPECT_EQ(st.exit_code, -1);
}

TEST(Process, FeedsInputAndClosesItWhenEmpty) {
  proc::Options o;
  o.input = std::string(200000, 'x') + "\nend\n"; // more than a pipe buffer holds
  auto st = proc::run({"wc", "-c"}, o);
  EXPECT_TRUE(st.ok());
  EXPECT_EQ(std::stoul(st.out), 200005u);
  // With no input the child sees end of input at once instead of waiting for it.
  st = proc::run({"cat"}, {});
  EXPECT_TRUE(st.ok());
  EXPECT_EQ(st.out, "");
}

TEST(Process, AppliesEnvironmentChangesAndWorkingFolder) {
  TempDir dir;
  ::setenv("VASKIT_PROCESS_TEST_DROP", "present", 1);
  proc::Options o;
  o.cwd = dir.path();
  o.env = {{"VASKIT_PROCESS_TEST_SET", "a b"}, {"VASKIT_PROCESS_TEST_DROP", std::nullopt}};
  const auto st = proc::run(
      {"sh", "-c", "pwd; echo \"${VASKIT_PROCESS_TEST_SET}|${VASKIT_PROCESS_TEST_DROP-unset}\""},
      o);
  ::unsetenv("VASKIT_PROCESS_TEST_DROP");
  ASSERT_TRUE(st.ok()) << st.err;
  EXPECT_EQ(st.out, std::filesystem::canonical(dir.path()).string() + "\na b|unset\n");
}

TEST(Process, TimeoutKillsTheChildAndWhatItStarted) {
  TempDir dir;
  proc::Options o;
  o.timeout = 300ms;
  // The grandchild would leave a file behind if it outlived the timeout.
  const auto marker = dir / "late";
  const auto start = std::chrono::steady_clock::now();
  const auto st =
      proc::run({"sh", "-c", "(sleep 1; touch '" + marker.string() + "') & sleep 5"}, o);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(st.timed_out);
  EXPECT_FALSE(st.ok());
  EXPECT_EQ(st.signal, SIGKILL);
  EXPECT_LT(took, 3s);
  std::this_thread::sleep_for(1500ms);
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(Process, CapsCapturedOutput) {
  proc::Options o;
  o.max_output = 1000;
  const auto st = proc::run({"sh", "-c", "head -c 300000 /dev/zero; echo done >&2"}, o);
  EXPECT_TRUE(st.ok());
  EXPECT_EQ(st.out.size(), 1000u);
  EXPECT_EQ(st.err, "done\n");
}

TEST(Process, RefusesWhatCannotBeStarted) {
  EXPECT_THROW(proc::run({}), std::invalid_argument);
  try {
    proc::run({"vaskit-no-such-program-here"});
    FAIL() << "no error";
  } catch (const std::system_error &e) {
    EXPECT_EQ(e.code().value(), ENOENT);
    EXPECT_NE(std::string(e.what()).find("vaskit-no-such-program-here"), std::string::npos);
  }
  TempDir dir;
  proc::Options o;
  o.cwd = dir / "missing";
  EXPECT_THROW(proc::run({"true"}, o), std::system_error);
  EXPECT_FALSE(proc::find_program("vaskit-no-such-program-here"));
  EXPECT_TRUE(proc::find_program("sh"));
}

} // namespace

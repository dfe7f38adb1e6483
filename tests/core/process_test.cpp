#include "core/process.hpp"
#include "support/process.hpp"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vaskit::process::Options;
using vaskit::process::run;
using vaskit::process::Stream;
using vaskit::testing::process_gone;
using vaskit::testing::wait_for_pid_file;

namespace {

fs::path fresh_dir(const std::string &name) {
  const fs::path d =
      fs::temp_directory_path() / ("vaskit-process-" + name + "-" + std::to_string(::getpid()));
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

} // namespace

TEST(Process, ExitStatusSignalAndCapturedStreams) {
  Options o;
  o.out = Stream::capture;
  o.err = Stream::capture;
  auto r = run({"sh", "-c", "printf out; printf err >&2; exit 3"}, o);
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.status, 3);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.out, "out");
  EXPECT_EQ(r.err, "err");
  EXPECT_EQ(r.describe(), "exit status 3");

  r = run({"sh", "-c", "kill -9 $$"}, o);
  EXPECT_EQ(r.signal, 9);
  EXPECT_EQ(r.describe(), "signal 9");

  EXPECT_TRUE(run({"true"}).ok());
}

TEST(Process, LargeOutputDoesNotBlockTheChild) {
  Options o;
  o.out = Stream::capture;
  o.timeout = 20s;
  const auto r = run({"head", "-c", "3000000", "/dev/zero"}, o);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.out.size(), 3000000u);
}

TEST(Process, ArgumentsReachTheProgramLiterally) {
  const fs::path dir = fresh_dir("args");
  Options o;
  o.out = Stream::capture;
  o.cwd = dir.string();
  const auto r = run({"printf", "%s|", "a b;touch PWNED", "$(touch PWNED2)", "*"}, o);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.out, "a b;touch PWNED|$(touch PWNED2)|*|");
  EXPECT_FALSE(fs::exists(dir / "PWNED"));
  EXPECT_FALSE(fs::exists(dir / "PWNED2"));
  fs::remove_all(dir);
}

TEST(Process, WorkingFolderAndEnvironment) {
  const fs::path dir = fresh_dir("env");
  ::setenv("VASKIT_PROCESS_DROP", "x", 1);
  Options o;
  o.out = Stream::capture;
  o.cwd = dir.string();
  o.env = {{"VASKIT_PROCESS_SET", "a=b c"}};
  o.unset_env = {"VASKIT_PROCESS_DROP"};
  const auto r = run(
      {"sh", "-c", "pwd; echo \"$VASKIT_PROCESS_SET\"; echo \"${VASKIT_PROCESS_DROP-unset}\""}, o);
  ::unsetenv("VASKIT_PROCESS_DROP");
  EXPECT_EQ(r.out, fs::canonical(dir).string() + "\na=b c\nunset\n");
  fs::remove_all(dir);
}

TEST(Process, MissingProgramIsReportedNotThrown) {
  const auto r = run({"vaskit-no-such-program-xyz"});
  EXPECT_FALSE(r.started);
  EXPECT_NE(r.error.find("vaskit-no-such-program-xyz"), std::string::npos);
  EXPECT_FALSE(r.ok());
  EXPECT_FALSE(run({}).started);
}

TEST(Process, TimeOutEndsTheChildAndWhatItStarted) {
  const fs::path dir = fresh_dir("timeout");
  const fs::path pidfile = dir / "grandchild.pid";
  Options o;
  o.timeout = 300ms;
  const auto start = std::chrono::steady_clock::now();
  // The shell ignores SIGTERM, so only the SIGKILL of the whole group ends it.
  const auto r = run(
      {"sh", "-c", "trap '' TERM; sleep 60 & echo $! > '" + pidfile.string() + "'; wait; wait"}, o);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.timed_out);
  EXPECT_FALSE(r.ok());
  EXPECT_LT(took, 10s);
  std::ifstream in(pidfile);
  pid_t grandchild = 0;
  in >> grandchild;
  ASSERT_GT(grandchild, 0);
  // Give the kernel a moment to deliver the group kill to the grandchild.
  // A killed grandchild may linger as a zombie until init reaps it: that counts as gone.
  auto ended = [grandchild] {
    if (::kill(grandchild, 0) != 0)
      return true;
    std::ifstream stat("/proc/" + std::to_string(grandchild) + "/stat");
    std::string pid, comm, state;
    stat >> pid >> comm >> state;
    return state == "Z";
  };
  bool gone = false;
  for (int i = 0; i < 100 && !gone; ++i) {
    gone = ended();
    if (!gone)
      std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(gone);
  fs::remove_all(dir);
}

TEST(Process, WhichSearchesPathLikeAShell) {
  const fs::path dir = fresh_dir("which");
  const fs::path tool = dir / "vaskit-fake-tool";
  std::ofstream(tool) << "#!/bin/sh\n";
  const fs::path plain = dir / "vaskit-not-exec";
  std::ofstream(plain) << "x";
  fs::permissions(tool, fs::perms::owner_all);
  const char *old = std::getenv("PATH");
  const std::string saved = old ? old : "";
  ::setenv("PATH", ("/nonexistent:" + dir.string() + ":/usr/bin:/bin").c_str(), 1);
  EXPECT_EQ(vaskit::process::which("vaskit-fake-tool"), tool.string());
  EXPECT_FALSE(vaskit::process::which("vaskit-not-exec"));
  EXPECT_FALSE(vaskit::process::which("vaskit-no-such-program-xyz"));
  EXPECT_TRUE(vaskit::process::which("sh"));
  EXPECT_EQ(vaskit::process::which(tool.string()), tool.string());
  EXPECT_FALSE(vaskit::process::which(""));
  ::setenv("PATH", saved.c_str(), 1);
  fs::remove_all(dir);
}

TEST(Process, DetachedStartOutlivesTheCall) {
  const fs::path dir = fresh_dir("detached");
  const fs::path mark = dir / "started";
  EXPECT_FALSE(vaskit::process::start_detached({"touch", mark.string()}));
  bool seen = false;
  for (int i = 0; i < 250 && !seen; ++i) {
    seen = fs::exists(mark);
    if (!seen)
      std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(seen);
  const auto err = vaskit::process::start_detached({"vaskit-no-such-program-xyz"});
  ASSERT_TRUE(err);
  EXPECT_NE(err->find("vaskit-no-such-program-xyz"), std::string::npos);
  fs::remove_all(dir);
}

// Ctrl-C at the terminal reaches only our process group: the waiting caller passes it on to the
// child's own group, so that nothing it started outlives the interrupt, and then ends by it.
TEST(Process, InterruptReachesTheChildGroupAndEndsTheCaller) {
  const fs::path dir = fresh_dir("interrupt");
  const fs::path pidfile = dir / "child.pid";
  const fs::path cleaned = dir / "cleaned";
  const pid_t caller = ::fork();
  ASSERT_GE(caller, 0);
  if (caller == 0) {
    Options o;
    // The caller's own clean-up still runs before the interrupt ends it.
    o.on_interrupt = [&] { std::ofstream(cleaned) << "yes"; };
    run({"sh", "-c", "sleep 60 & echo $! > '" + pidfile.string() + "'; wait"}, o);
    ::_exit(0); // only reached when the interrupt did not end the caller
  }
  pid_t sleeper = 0;
  for (int i = 0; i < 500 && sleeper <= 0; ++i) {
    std::ifstream in(pidfile);
    in >> sleeper;
    if (sleeper <= 0)
      std::this_thread::sleep_for(10ms);
  }
  ASSERT_GT(sleeper, 0);
  ::kill(caller, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(caller, &status, 0), caller);
  EXPECT_TRUE(WIFSIGNALED(status));
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), SIGINT);
  }
  EXPECT_TRUE(fs::exists(cleaned));
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    std::ifstream stat("/proc/" + std::to_string(sleeper) + "/stat");
    std::string pid, comm, state;
    stat >> pid >> comm >> state;
    gone = !stat || state == "Z";
    if (!gone)
      std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(gone);
  fs::remove_all(dir);
}

// A caller that ignores an interrupt (started with nohup, or in the background) keeps ignoring
// it while a child runs.
TEST(Process, IgnoredInterruptStaysIgnored) {
  const pid_t caller = ::fork();
  ASSERT_GE(caller, 0);
  if (caller == 0) {
    ::signal(SIGINT, SIG_IGN);
    Options o;
    o.timeout = 5s;
    const auto r = run({"sleep", "0.5"}, o);
    ::_exit(r.ok() ? 0 : 3);
  }
  std::this_thread::sleep_for(200ms);
  ::kill(caller, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(caller, &status, 0), caller);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

namespace {

// A program that ignores SIGTERM and leaves a helper in a session of its own (as a renderer
// leaves its browser), which ignores SIGTERM too; the helper's pid goes to `pidfile`.
std::vector<std::string> program_with_detached_helper(const fs::path &pidfile,
                                                      const std::string &then) {
  return {"sh", "-c",
          "trap '' TERM; setsid sh -c 'trap \"\" TERM; echo $$ > \"$0\"; exec sleep 60' '" +
              pidfile.string() + "' </dev/null >/dev/null 2>&1 & " + then};
}

} // namespace

// Whatever way the program ends, nothing it started lives on, and its own folder goes: not
// after a time-out, not after a normal exit, not when the caller itself is killed.
TEST(Process, KeptTreeEndsWithTheProgramHoweverItEnds) {
  const fs::path dir = fresh_dir("tree");
  const fs::path own = dir / "own";
  auto with_own_folder = [&](const Options &base) {
    fs::create_directories(own / "profile");
    std::ofstream(own / "profile/state") << "x";
    Options o = base;
    o.remove_when_done = own.string();
    return o;
  };
  Options o;
  o.end_tree = true;
  o.timeout = 300ms;

  const fs::path timed = dir / "timed.pid";
  auto r = run(program_with_detached_helper(timed, "wait; wait"), with_own_folder(o));
  EXPECT_TRUE(r.timed_out);
  pid_t helper = wait_for_pid_file(timed);
  ASSERT_GT(helper, 0);
  EXPECT_TRUE(process_gone(helper)) << "helper left after a time-out";
  EXPECT_FALSE(fs::exists(own));

  const fs::path normal = dir / "normal.pid";
  o.timeout = 20s;
  r = run(program_with_detached_helper(normal, "while [ ! -s '" + normal.string() +
                                                   "' ]; do sleep 0.01; done; exit 4"),
          o);
  EXPECT_EQ(r.status, 4);
  EXPECT_FALSE(r.timed_out);
  helper = wait_for_pid_file(normal);
  ASSERT_GT(helper, 0);
  EXPECT_TRUE(process_gone(helper)) << "helper left after the program exited";

  const fs::path killed = dir / "killed.pid";
  o.timeout = 60s;
  const Options kept_folder = with_own_folder(o);
  const pid_t caller = ::fork();
  ASSERT_GE(caller, 0);
  if (caller == 0) {
    run(program_with_detached_helper(killed, "wait; wait"), kept_folder);
    ::_exit(0);
  }
  helper = wait_for_pid_file(killed);
  ASSERT_GT(helper, 0);
  ::kill(caller, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(caller, &status, 0), caller);
  EXPECT_TRUE(process_gone(helper)) << "helper left after the caller was killed";
  bool removed = false;
  for (int i = 0; i < 500 && !removed; ++i) {
    removed = !fs::exists(own);
    if (!removed)
      std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(removed) << "the program's folder left after the caller was killed";
  fs::remove_all(dir);
}

// Ctrl-C while several programs run: each one's whole tree ends before the caller's clean-up
// runs and the interrupt ends the caller.
TEST(Process, InterruptEndsEveryKeptTreeBeforeTheCleanUp) {
  const fs::path dir = fresh_dir("tree-interrupt");
  const fs::path cleaned = dir / "cleaned";
  const pid_t caller = ::fork();
  ASSERT_GE(caller, 0);
  if (caller == 0) {
    std::vector<vaskit::process::Job> jobs(2);
    for (int i = 0; i < 2; ++i) {
      jobs[i].argv = program_with_detached_helper(dir / (std::to_string(i) + ".pid"), "wait");
      jobs[i].options.end_tree = true;
    }
    vaskit::process::run_all(
        jobs, 2, [](std::size_t, const vaskit::process::Outcome &) {},
        [&] {
          // Both helpers must be gone by now.
          bool all_gone = true;
          for (int i = 0; i < 2; ++i) {
            std::ifstream in(dir / (std::to_string(i) + ".pid"));
            pid_t p = 0;
            in >> p;
            all_gone = all_gone && p > 0 && ::kill(p, 0) != 0;
          }
          std::ofstream(cleaned) << (all_gone ? "gone" : "alive");
        });
    ::_exit(0);
  }
  const pid_t first = wait_for_pid_file(dir / "0.pid");
  const pid_t second = wait_for_pid_file(dir / "1.pid");
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  ::kill(caller, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(caller, &status, 0), caller);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  std::string seen;
  std::ifstream(cleaned) >> seen;
  EXPECT_EQ(seen, "gone");
  EXPECT_TRUE(process_gone(first));
  EXPECT_TRUE(process_gone(second));
  fs::remove_all(dir);
}

// Jobs run side by side (each one waits for a file the other makes); output can be taken as it
// comes; and when the caller's callback throws, every running job and what it started ends.
TEST(Process, RunAllRunsJobsSideBySideAndStopsThemOnAnError) {
  const fs::path dir = fresh_dir("run-all");
  auto waits_for = [&](const std::string &mine, const std::string &other) {
    return std::vector<std::string>{
        "sh", "-c",
        "cd '" + dir.string() + "' && touch " + mine + " && i=0; while [ ! -e " + other +
            " ]; do i=$((i+1)); [ $i -gt 1000 ] && exit 7; sleep 0.01; done; echo " + mine};
  };
  std::vector<vaskit::process::Job> jobs(2);
  jobs[0].argv = waits_for("a", "b");
  jobs[1].argv = waits_for("b", "a");
  std::string streamed;
  for (auto &j : jobs) {
    j.options.out = Stream::capture;
    j.options.end_tree = true;
  }
  jobs[1].options.on_output = [&](std::string_view piece) { streamed += piece; };
  std::vector<std::pair<std::size_t, vaskit::process::Outcome>> ended;
  vaskit::process::run_all(
      jobs, 2, [&](std::size_t i, const vaskit::process::Outcome &o) { ended.emplace_back(i, o); });
  ASSERT_EQ(ended.size(), 2u);
  for (const auto &[i, o] : ended)
    EXPECT_TRUE(o.ok()) << i << ": " << o.describe();
  EXPECT_EQ(streamed, "b\n");
  for (const auto &[i, o] : ended)
    EXPECT_EQ(o.out, i == 0 ? "a\n" : "");

  const fs::path pidfile = dir / "helper.pid";
  std::vector<vaskit::process::Job> failing(2);
  failing[1].argv = program_with_detached_helper(pidfile, "wait");
  for (auto &j : failing)
    j.options.end_tree = true;
  failing[0].argv = {"sh", "-c", "while [ ! -s '" + pidfile.string() + "' ]; do sleep 0.01; done"};
  EXPECT_THROW(vaskit::process::run_all(failing, 2,
                                        [&](std::size_t, const vaskit::process::Outcome &) {
                                          throw std::runtime_error("stop");
                                        }),
               std::runtime_error);
  const pid_t helper = wait_for_pid_file(pidfile);
  ASSERT_GT(helper, 0);
  EXPECT_TRUE(process_gone(helper));
  fs::remove_all(dir);
}

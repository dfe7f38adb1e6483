#include "support/console.hpp"
#include "support/files.hpp"
#include "support/log_capture.hpp"
#include "vaskern/agy_utils.hpp"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace vaskern::agy_utils {
namespace {

using vaskit::testing::LogCapture;
using vaskit::testing::read_file;
using vaskit::testing::TempDir;
using vaskit::testing::write_file;

// Sets an environment variable for one test.
class Env {
public:
  Env(const char *name, const std::optional<std::string> &value) : name_(name) {
    if (const char *old = std::getenv(name))
      old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~Env() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

private:
  const char *name_;
  std::optional<std::string> old_;
};

std::string lines(int from, int to, const std::string &prefix = "l") {
  std::string s;
  for (int i = from; i <= to; ++i)
    s += prefix + std::to_string(i) + "\n";
  return s;
}

TEST(UnifiedDiff, HunksWithThreeLinesOfContext) {
  EXPECT_EQ(unified_diff("a\nb\n", "a\nb", "x.md", "y.md"), "");
  // One changed line in the middle of ten.
  EXPECT_EQ(unified_diff(lines(1, 10), lines(1, 4) + "new\n" + lines(6, 10), "r.md", "r_ai.md"),
            "--- r.md\n+++ r_ai.md\n@@ -2,7 +2,7 @@\n l2\n l3\n l4\n-l5\n+new\n l6\n l7\n l8\n");
  // Changes far apart make two hunks; close ones share one.
  const std::string far = unified_diff(lines(1, 20), "X\n" + lines(2, 19) + "Y\n", "a", "b");
  EXPECT_EQ(far, "--- a\n+++ b\n@@ -1,4 +1,4 @@\n-l1\n+X\n l2\n l3\n l4\n"
                 "@@ -17,4 +17,4 @@\n l17\n l18\n l19\n-l20\n+Y\n");
  const std::string near = unified_diff(lines(1, 8), "X\n" + lines(2, 7) + "Y\n", "a", "b");
  EXPECT_EQ(near.find("\n@@", near.find("\n@@") + 1), std::string::npos);
  EXPECT_EQ(near.substr(0, 32), "--- a\n+++ b\n@@ -1,8 +1,8 @@\n-l1\n");
  // Insertion into an empty text, and a one-line range without its count.
  EXPECT_EQ(unified_diff("", "only\n", "a", "b"), "--- a\n+++ b\n@@ -0,0 +1 @@\n+only\n");
  EXPECT_EQ(unified_diff("x\n", "", "a", "b"), "--- a\n+++ b\n@@ -1 +0,0 @@\n-x\n");
}

TEST(UnifiedDiff, ColourAndControlCharacters) {
  const std::string coloured = unified_diff("a\n", "b\x1b[2J\n", "f", "g", true);
  EXPECT_NE(coloured.find("\033[31m-a\033[0m\n"), std::string::npos);
  EXPECT_NE(coloured.find("\033[36m@@ -1 +1 @@\033[0m\n"), std::string::npos);
  // A text's own escape sequences never reach the terminal.
  EXPECT_EQ(coloured.find("\x1b[2J"), std::string::npos);
  EXPECT_EQ(unified_diff("a\n", "b\n", "f", "g").find('\033'), std::string::npos);
}

TEST(UnifiedDiff, LongTextsStayCorrect) {
  std::string a, b;
  for (int i = 0; i < 30000; ++i) {
    a += "line " + std::to_string(i) + "\n";
    b += (i % 1000 == 0 ? "changed " : "line ") + std::to_string(i) + "\n";
  }
  const std::string d = unified_diff(a, b, "a", "b");
  std::size_t removed = 0, added = 0;
  for (std::size_t at = d.find("\n-line "); at != std::string::npos;
       at = d.find("\n-line ", at + 1))
    ++removed;
  for (std::size_t at = d.find("\n+changed "); at != std::string::npos;
       at = d.find("\n+changed ", at + 1))
    ++added;
  EXPECT_EQ(removed, 30u);
  EXPECT_EQ(added, 30u);
}

TEST(RunAgy, ArgumentsStreamsAndFailures) {
  TempDir dir;
  const auto agent = dir / "agent.sh";
  write_file(agent,
             "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$AGENT_LOG\"\n"
             "read answer; echo \"got $answer\" >> \"$AGENT_LOG\"\nexit ${AGENT_STATUS:-0}\n");
  std::filesystem::permissions(agent, std::filesystem::perms::owner_all);
  Env log("AGENT_LOG", (dir / "args").string());
  Env program("VASKIT_AGENT", agent.string());
  Env model("VASKIT_AGENT_MODEL", std::nullopt);

  vaskit::Result r;
  vaskit::testing::with_console("yes\n", [&] {
    r = run_agy("src.md", std::string("/g/goal.yaml"), {"/s/a.yaml", "/s/b.yaml"}, "do it\nnow",
                "model-x");
  });
  EXPECT_TRUE(r.ok) << r.message;
  // The agent shares standard input with the tool.
  EXPECT_EQ(read_file(dir / "args"), "--model\nmodel-x\n--file\nsrc.md\n--goal\n/g/goal.yaml\n"
                                     "--skill\n/s/a.yaml\n--skill\n/s/b.yaml\n--prompt\ndo it\n"
                                     "now\ngot yes\n");

  Env other_model("VASKIT_AGENT_MODEL", "other");
  Env status("AGENT_STATUS", "3");
  LogCapture logs;
  vaskit::testing::with_console("", [&] { r = run_agy("s.md", std::nullopt, {}, "p", "m"); });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(read_file(dir / "args"), "--model\nother\n--file\ns.md\n--prompt\np\ngot \n");
  EXPECT_TRUE(logs.has("WARNING", "exit status 3"));

  Env missing("VASKIT_AGENT", (dir / "no-such-agent").string());
  r = run_agy("s.md", std::nullopt, {}, "p", "m");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(logs.has("ERROR", "❌ 無法啟動 AI 代理程式"));

  Env unset("VASKIT_AGENT", std::nullopt);
  r = run_agy("s.md", std::nullopt, {}, "p", "m");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(logs.has("ERROR", "VASKIT_AGENT"));
}

} // namespace
} // namespace vaskern::agy_utils

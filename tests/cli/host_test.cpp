// The host's listing and the tools it starts.
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using vaskit::testing::run_process;
using vaskit::testing::TempDir;

const std::string kHost = std::string(VASKIT_BIN_DIR) + "/vas-kit";

// Runs of blanks and line breaks as one blank: help texts are wrapped to the terminal.
std::string collapsed(const std::string &s) {
  std::string out;
  for (char ch : s) {
    const bool blank = ch == ' ' || ch == '\n';
    if (blank && !out.empty() && out.back() == ' ')
      continue;
    out += blank ? ' ' : ch;
  }
  return out;
}

struct Listed {
  std::string name;
  std::string help;
};

// The rows under "Commands:" of the host's help.
std::vector<Listed> listed_tools(const std::string &help) {
  std::vector<Listed> out;
  std::istringstream in(help);
  bool in_commands = false;
  for (std::string line; std::getline(in, line);) {
    if (line == "Commands:") {
      in_commands = true;
      continue;
    }
    if (!in_commands || line.rfind("  ", 0) != 0)
      continue;
    const auto name_end = line.find(' ', 2);
    const auto help_start = line.find_first_not_of(' ', name_end);
    if (name_end == std::string::npos || help_start == std::string::npos)
      continue;
    out.push_back({line.substr(2, name_end - 2), line.substr(help_start)});
  }
  return out;
}

TEST(Host, EveryListedToolRunsAndShowsTheListedHelpLine) {
  TempDir dir;
  const auto help = run_process(kHost, {"--help"}, dir.path());
  ASSERT_EQ(help.status, 0);
  const auto tools = listed_tools(help.out);
  std::vector<std::string> names;
  for (const auto &t : tools)
    names.push_back(t.name);
  // In name order, each once; the two first tools among them.
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "prosett"), names.end()) << help.out;
  EXPECT_NE(std::find(names.begin(), names.end(), "folvane"), names.end()) << help.out;

  for (const auto &t : tools) {
    SCOPED_TRACE(t.name);
    const auto own = run_process(kHost, {t.name, "--help"}, dir.path());
    EXPECT_EQ(own.status, 0) << own.err;
    const std::string text = collapsed(own.out);
    EXPECT_EQ(text.rfind("Usage: vas-kit " + t.name + " [OPTIONS] ", 0), 0u) << own.out;
    // The help paragraph follows the usage line and starts with the listed line (a tool may say
    // more below it).
    const auto listed = text.find("[OPTIONS] " + t.help + " ");
    EXPECT_NE(listed, std::string::npos) << own.out;
    EXPECT_NE(text.find(" Options:", listed), std::string::npos) << own.out;
  }
}

TEST(Host, StartedWithoutAToolOrWithAnOptionOfItsOwn) {
  TempDir dir;
  const auto bare = run_process(kHost, {}, dir.path());
  EXPECT_EQ(bare.status, 0);
  EXPECT_EQ(bare.out, run_process(kHost, {"--help"}, dir.path()).out);

  const auto option = run_process(kHost, {"--nope"}, dir.path());
  EXPECT_EQ(option.status, 2);
  EXPECT_EQ(option.out, "");
  EXPECT_EQ(option.err, "Usage: vas-kit [OPTIONS] COMMAND [ARGS]...\n"
                        "Try 'vas-kit --help' for help.\n\n"
                        "Error: No such option: --nope\n");
}

} // namespace

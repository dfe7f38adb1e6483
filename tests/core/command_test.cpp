#include "core/command.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using namespace vaskit::cli;

// The options struct of the sample command; `untouched` is bound to no option.
struct Sample {
  std::optional<std::string> config;
  bool debug = false;
  bool verbose = false;
  std::optional<std::string> file;
  std::vector<std::string> name;
  int untouched = 7;
};

Command<Sample> sample() {
  Command<Sample> cmd;
  cmd.name = "tool";
  cmd.help = "Do the thing.";
  cmd.epilog = "\b\nExamples:\n  1. First:\n     tool -c\n\b\n  2. Second:\n     tool -o x\n";
  cmd.options = {
      {{"-c", "--config"}, &Sample::config, PathCheck{}, "The config file."},
      {{"--debug"}, &Sample::debug, std::nullopt, "Enable debug mode"},
      {{"-v"}, &Sample::verbose, std::nullopt, "Verbose."},
      {{"-f", "--file"}, &Sample::file, PathCheck{true, true, false}, "A file."},
      {{"--name"}, &Sample::name, std::nullopt, ""},
  };
  return cmd;
}

// Parses and returns the exit status a usage error or --help asked for (-1 when none).
int exit_of(const std::vector<std::string> &args) {
  try {
    parse(sample(), args, "tool");
  } catch (const Exit &e) {
    return e.code;
  }
  return -1;
}

TEST(CommandParse, ValueFormsAndFlags) {
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> config;
    bool debug;
    bool verbose;
  };
  const Case cases[] = {
      {{}, std::nullopt, false, false},
      {{"-c", "a.yaml"}, "a.yaml", false, false},
      {{"--config", "a.yaml"}, "a.yaml", false, false},
      {{"--config=a.yaml"}, "a.yaml", false, false},
      {{"-ca.yaml"}, "a.yaml", false, false},
      {{"-c", ""}, "", false, false},
      {{"-c", "-x"}, "-x", false, false},                    // a value may look like an option
      {{"--debug", "-c", "a", "-c", "b"}, "b", true, false}, // the last one wins
      {{"-vc", "z"}, "z", false, true},
  };
  for (const auto &c : cases) {
    testing::internal::CaptureStderr();
    const Sample p = parse(sample(), c.args, "tool");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(p.config, c.config);
    EXPECT_EQ(p.debug, c.debug);
    EXPECT_EQ(p.verbose, c.verbose);
    EXPECT_EQ(p.untouched, 7);
  }
}

TEST(CommandParse, RepeatedValuesAreAllKeptInOrderAndEachIsPathChecked) {
  const Sample p = parse(sample(), {"--name", "a", "-c", "x", "--name=b", "--name", ""}, "tool");
  EXPECT_EQ(p.name, (std::vector<std::string>{"a", "b", ""}));
  EXPECT_EQ(p.config, "x");
  EXPECT_EQ(p.file, std::nullopt);
  // The second -f is a folder: refused although the first one passed.
  testing::internal::CaptureStderr();
  EXPECT_EQ(exit_of({"-f", VASKIT_SOURCE_DIR "/CMakeLists.txt", "-f", "/tmp"}), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("File '/tmp' is a directory."),
            std::string::npos);
}

TEST(CommandParse, UsageErrorsExitWithTwoAndSayWhy) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--nope"}, "Error: No such option: --nope\n"},
      {{"-x"}, "Error: No such option: -x\n"},
      {{"-c"}, "Error: Option '-c' requires an argument.\n"},
      {{"--debug=1"}, "Error: Option '--debug' does not take a value.\n"},
      {{"extra"}, "Error: Got unexpected extra argument (extra)\n"},
      {{"a", "b"}, "Error: Got unexpected extra arguments (a b)\n"},
      {{"-f", "/no/such/file.md"},
       "Error: Invalid value for '-f' / '--file': File '/no/such/file.md' does not exist.\n"},
      {{"-f", "/tmp"}, "Error: Invalid value for '-f' / '--file': File '/tmp' is a directory.\n"},
      // A bad path is reported before leftover arguments.
      {{"-f", "/no/x.md", "stray"},
       "Error: Invalid value for '-f' / '--file': File '/no/x.md' does not exist.\n"},
  };
  for (const auto &c : cases) {
    testing::internal::CaptureStderr();
    const int code = exit_of(c.args);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 2) << c.message;
    EXPECT_EQ(err, "Usage: tool [OPTIONS]\nTry 'tool --help' for help.\n\n" + c.message);
  }
}

TEST(CommandHelp, ListsOptionsWrapsHelpAndKeepsRawEpilog) {
  Command<Sample> cmd = sample();
  cmd.options[0].help = "Specify the YAML config file path. If -c is provided without "
                        "arguments, it will trigger interactive config selection.";
  const std::string help = help_text(cmd, "vas-kit tool");
  EXPECT_EQ(help.rfind("Usage: vas-kit tool [OPTIONS]\n\n  Do the thing.\n\nOptions:\n", 0), 0u);
  // Short names first, metavars by path kind, help aligned in one column and wrapped.
  EXPECT_NE(help.find("  -c, --config PATH  Specify the YAML config file path. If -c is provided\n"
                      "                     without arguments, it will trigger interactive config\n"
                      "                     selection.\n"),
            std::string::npos)
      << help;
  EXPECT_NE(help.find("  -f, --file FILE    A file.\n"), std::string::npos);
  EXPECT_NE(help.find("  --name TEXT\n"), std::string::npos);
  EXPECT_NE(help.find("  --help             Show this message and exit.\n"), std::string::npos);
  // The epilog keeps its line breaks; the inner "\b" marker line stays as written.
  EXPECT_NE(help.find("\n  Examples:\n    1. First:\n       tool -c\n  \b\n    2. Second:\n"),
            std::string::npos)
      << help;
  EXPECT_EQ(help.substr(help.size() - 17), "       tool -o x\n");
}

// The help text of `cmd` between the usage line and the options.
std::string help_paragraphs(const std::string &help) {
  Command<Sample> cmd = sample();
  cmd.help = help;
  const std::string out = help_text(cmd, "tool");
  const std::size_t from = out.find("\n\n") + 2;
  return out.substr(from, out.find("\n\nOptions:") - from);
}

TEST(CommandHelp, WrapsAtBlanksAndAfterHyphensCountingCharacters) {
  // A blank at a line's end meets the blank that joins the lines: both stay inside a line.
  EXPECT_EQ(help_paragraphs("Read it from the sheet and auto-rename files. \n"
                            "Then it relies on a well-formed configuration file written by hand."),
            "  Read it from the sheet and auto-rename files.  Then it relies on a well-\n"
            "  formed configuration file written by hand.");
  // Blanks where a line breaks are dropped; a word longer than a line is cut.
  EXPECT_EQ(help_paragraphs(std::string(70, 'x') + "    well-known"),
            "  " + std::string(70, 'x') + "\n  well-known");
  EXPECT_EQ(help_paragraphs("See " + std::string(90, 'y') + " end."),
            "  See " + std::string(72, 'y') + "\n  " + std::string(18, 'y') + " end.");
  // Dashes between words break after them; widths count characters, not bytes.
  EXPECT_EQ(help_paragraphs("Words joined by dashes stay with the word before them, a line long "
                            "enough--so wrapped."),
            "  Words joined by dashes stay with the word before them, a line long enough--\n"
            "  so wrapped.");
  std::string umlauts;
  for (int i = 0; i < 55; ++i)
    umlauts += "ä";
  EXPECT_EQ(help_paragraphs("Ünïcödé wörds: " + umlauts + " ends-here and more words."),
            "  Ünïcödé wörds: " + umlauts + " ends-\n  here and more words.");
}

TEST(CommandHelp, HelpOptionPrintsAndExitsZero) {
  testing::internal::CaptureStdout();
  const int code = exit_of({"-c", "x", "--help"});
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out.rfind("Usage: tool [OPTIONS]", 0), 0u);
}

TEST(BareOptionPrepass, InsertsEmptyValuesOnlyWhereAValueIsMissing) {
  const std::vector<std::string> names{"-c", "--config", "-o", "--output-dir"};
  struct Case {
    std::vector<std::string> in;
    std::vector<std::string> out;
  };
  const Case cases[] = {
      {{"prog", "-c"}, {"prog", "-c", ""}},
      {{"prog", "-c", "--debug"}, {"prog", "-c", "", "--debug"}},
      {{"prog", "-c", "-o"}, {"prog", "-c", "", "-o", ""}},
      {{"prog", "-o", "-f", "x.md"}, {"prog", "-o", "", "-f", "x.md"}},
      {{"prog", "-c", "a.yaml"}, {"prog", "-c", "a.yaml"}},
      {{"prog", "-c", ""}, {"prog", "-c", ""}},                     // an explicit empty value stays
      {{"prog", "--config=-x.yaml"}, {"prog", "--config=-x.yaml"}}, // joined forms untouched
      {{"prog", "-ca.yaml"}, {"prog", "-ca.yaml"}},
      {{"prog", "-f", "-c"}, {"prog", "-f", "-c", ""}}, // counts even as another option's value
      {{"-c"}, {"-c", ""}},                             // the program name is examined too
  };
  for (const auto &c : cases)
    EXPECT_EQ(bare_option_prepass(c.in, names), c.out);
}

} // namespace

namespace {

// Runs run_main with these arguments (argv[0] first) and collects what it printed.
struct MainRun {
  int status;
  std::vector<std::string> seen; // the arguments the body got
  std::string prog;
  std::string err;
};

MainRun run_main_with(std::vector<std::string> argv_text,
                      const std::function<int(const std::vector<std::string> &)> &body) {
  std::vector<char *> argv;
  for (auto &a : argv_text)
    argv.push_back(a.data());
  MainRun r{};
  testing::internal::CaptureStderr();
  r.status = run_main(static_cast<int>(argv.size()), argv.data(),
                      [&](const std::string &prog, const std::vector<std::string> &args) {
                        r.prog = prog;
                        r.seen = args;
                        return body(args);
                      });
  r.err = testing::internal::GetCapturedStderr();
  return r;
}

TEST(RunMain, BodyStatusPrePassAndErrorsBecomeStatuses) {
  const auto ok = run_main_with({"/usr/bin/vaskit-tool", "-c", "-o"},
                                [](const std::vector<std::string> &) { return 3; });
  EXPECT_EQ(ok.status, 3);
  EXPECT_EQ(ok.prog, "vaskit-tool"); // started directly: the file name
  EXPECT_EQ(ok.seen, (std::vector<std::string>{"-c", "", "-o", ""}));
  EXPECT_EQ(ok.err, "");

  const auto hosted = run_main_with({"vas-kit tool", "--config"},
                                    [](const std::vector<std::string> &) { return 0; });
  EXPECT_EQ(hosted.prog, "vas-kit tool");
  EXPECT_EQ(hosted.seen, (std::vector<std::string>{"--config", ""}));

  const auto exited =
      run_main_with({"t"}, [](const std::vector<std::string> &) -> int { throw Exit{2}; });
  EXPECT_EQ(exited.status, 2);
  EXPECT_EQ(exited.err, "");

  const auto aborted =
      run_main_with({"t"}, [](const std::vector<std::string> &) -> int { throw Abort(); });
  EXPECT_EQ(aborted.status, 1);
  EXPECT_EQ(aborted.err, "Aborted!\n");

  const auto failed = run_main_with({"t"}, [](const std::vector<std::string> &) -> int {
    throw std::runtime_error("bad \x1b[31mname");
  });
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err.rfind("❌ bad ", 0), 0u);
  EXPECT_EQ(failed.err.find('\x1b'), std::string::npos) << failed.err;
}

const Command<Sample> &sample_command() {
  static const Command<Sample> cmd = sample();
  return cmd;
}

std::optional<Sample> g_seen; // what the body of the last run_tool call got

TEST(RunTool, ParsesIntoTheToolsOptionsAndReturnsTheBodysStatus) {
  std::vector<std::string> text{"/usr/bin/vaskit-tool", "-c", "--name", "n", "-v"};
  std::vector<char *> argv;
  for (auto &a : text)
    argv.push_back(a.data());
  const auto body = [](const Sample &o) {
    g_seen = o;
    return 5;
  };
  g_seen.reset();
  EXPECT_EQ(run_tool(static_cast<int>(argv.size()), argv.data(), sample_command, +body), 5);
  ASSERT_TRUE(g_seen);
  EXPECT_EQ(g_seen->config, ""); // the bare -c, given the empty value by the pre-pass
  EXPECT_EQ(g_seen->name, std::vector<std::string>{"n"});
  EXPECT_TRUE(g_seen->verbose);
  EXPECT_FALSE(g_seen->debug);

  // A usage error ends with status 2 before the body runs.
  g_seen.reset();
  text = {"vas-kit tool", "--nope"};
  argv.clear();
  for (auto &a : text)
    argv.push_back(a.data());
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_tool(static_cast<int>(argv.size()), argv.data(), sample_command, +body), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Usage: vas-kit tool [OPTIONS]\nTry 'vas-kit tool --help' for help.\n\n"
            "Error: No such option: --nope\n");
  EXPECT_FALSE(g_seen);
}

TEST(Finish, PrintsTheOutcomesLineAndARunWithAFailureEndsWithOne) {
  struct Case {
    vaskit::Outcome outcome;
    OutcomeLines lines;
    std::string out;
    std::string err;
    int status;
  };
  using vaskit::Outcome;
  const OutcomeLines on_stdout{"", "Error: ", false};
  const Case cases[] = {
      {Outcome::done("3 files"), {}, "Done: 3 files\n", "", 0},
      {Outcome::items_failed(2, "2 of 5 failed"), {}, "", "Error: 2 of 5 failed\n", 1},
      {Outcome::items_failed(0, "all 5"), {}, "Done: all 5\n", "", 0}, // no item failed
      {Outcome::items_failed(1), on_stdout, "", "", 1},                // no line of its own
      {Outcome::run_failed("no file chosen"), on_stdout, "Error: no file chosen\n", "", 1},
      {Outcome::done(), {}, "", "", 0},
  };
  for (const auto &c : cases) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = finish(c.outcome, c.lines);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.outcome.message;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.outcome.message;
    EXPECT_EQ(status, c.status) << c.outcome.message;
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(fail("❌ Error: the file is no mapping."), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "❌ Error: the file is no mapping.\n");
}

} // namespace

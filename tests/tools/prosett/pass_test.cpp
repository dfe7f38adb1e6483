// The text rewrites of the conversion pass that run before the stages.
#include "tools/prosett/prosett.hpp"

#include "support/files.hpp"
#include "vaskern/app_logging.hpp"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using namespace vaskit::prosett;

TEST(NotionProperties, WholePropertyLinesAreEmptied) {
  struct Case {
    const char *in;
    const char *out;
  };
  const Case cases[] = {
      {"Status: Done\nText\n", "\nText\n"},
      {"status report: late\n", "\n"},
      {"Created time: 2024\nCREATED: x\n", "\n\n"},
      {"version.: 3\nversion 3: x\n", "\nversion 3: x\n"},
      {"Tags\nMy Status: x\n", "Tags\nMy Status: x\n"},
      {"Assignee: Ann\r\nBody\r\n", "\nBody\r\n"},
      // Fenced code is left as written.
      {"```\nStatus: code\n```\nStatus: prose\n", "```\nStatus: code\n```\n\n"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(remove_notion_properties(c.in), c.out) << c.in;
}

TEST(BlankLines, RunsOfThreeOrMoreBecomeOneBlankLine) {
  EXPECT_EQ(squeeze_blank_lines("a\n\n\n\nb\n\nc\n\n\n"), "a\n\nb\n\nc\n\n");
  EXPECT_EQ(squeeze_blank_lines("```\nx\n\n\n\ny\n```\n"), "```\nx\n\n\n\ny\n```\n");
}

TEST(TocMarker, FirstRuleThatAppliesPlacesIt) {
  struct Case {
    const char *in;
    const char *out;
  };
  const Case cases[] = {
      {"# Title\n**Author:** Ann\nText", "# Title\n**Author:** Ann\n\n[TOC]\n\n\nText"},
      {"# Title\nText", "# Title\n\n[TOC]\n\n\nText"},
      {"## Part\nText", "[TOC]\n\n## Part\nText"},
      {"#Title\nText", "[TOC]\n\n#Title\nText"},
      {"No heading here", "No heading here"},
      // A lone "#" is no heading; the match never runs across a line break.
      {"#\n\nBody # x", "[TOC]\n\n#\n\nBody # x"},
      {"#\r\n\r\nBody", "[TOC]\n\n#\r\n\r\nBody"},
      {"# T\r\nx", "# T\r\n\n[TOC]\n\n\nx"},
      // A heading-like line inside fenced code is not the document's heading.
      {"```\n# install\n```\n# Real\n", "```\n# install\n```\n# Real\n\n[TOC]\n\n\n"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(insert_toc_marker(c.in), c.out) << c.in;
}

TEST(Version, FoundInPlainAndLinkedForms) {
  EXPECT_EQ(find_version("**Version:** 1.2.0\n"), "1.2.0");
  EXPECT_EQ(find_version("**Version:** [`2.1`](https://x/releases/2.1)"), "2.1");
  EXPECT_EQ(find_version("**Version:**2.1|x"), "2.1");
  EXPECT_EQ(find_version("Version: 1.0"), "");
}

TEST(OutputName, StemVersionAndWatermark) {
  struct Case {
    const char *md_name;
    const char *version;
    bool enable;
    const char *text;
    const char *out;
  };
  const Case cases[] = {
      {"notes.md", "2.1", true, "Top Secret!", "notes_2.1_Top_Secret.html"},
      {"notes.md", "2.1", true, "機密", "notes_2.1_機密.html"},
      {"notes.md", "2.1", true, "!!!", "notes_2.1.html"},
      {"notes.md", "2.1", true, "", "notes_2.1.html"},
      {"notes.md", "2.1", false, "CONFIDENTIAL", "notes_2.1.html"},
      {"a.b.md", "", false, "", "a.b.html"},
      // A version can never make the page land elsewhere.
      {"notes.md", "../../etc/x", false, "", "notes_____etc_x.html"},
      {"notes.md", "1.0/beta", false, "", "notes_1.0_beta.html"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(output_name(c.md_name, c.version, c.enable, c.text), c.out) << c.md_name;
}

TEST(Converter, SettingsTakeDefaultsAndTheEnvironment) {
  ::unsetenv("DAVUZ_DEBUG");
  const ProsettConverter defaults(json::object({{"other", 1}}));
  EXPECT_EQ(defaults.input_path, "./");
  EXPECT_EQ(defaults.output_path, "./");
  EXPECT_EQ(defaults.embed_images, true);
  EXPECT_EQ(defaults.watermark_enable, false);
  EXPECT_EQ(defaults.watermark_text, "CONFIDENTIAL");
  EXPECT_FALSE(defaults.is_debug);

  ::setenv("DAVUZ_DEBUG", "true", 1);
  EXPECT_FALSE(ProsettConverter(json::object()).is_debug);
  ::setenv("DAVUZ_DEBUG", "1", 1);
  const ProsettConverter custom(
      json::parse(R"({"config":{"input_path":"in","watermark_text":"X"}})"));
  EXPECT_TRUE(custom.is_debug);
  EXPECT_EQ(custom.input_path, "in");
  EXPECT_EQ(custom.watermark_text, "X");
  ::unsetenv("DAVUZ_DEBUG");
}


TEST(Converter, InterruptLeavesNoOutputFolderItCreated) {
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    vaskit::testing::TempDir dir;
    vaskit::testing::write_file(dir / "a.md", "# A\n\ntext\n");
    const ProsettConverter converter(json{
        {"config", {{"input_path", dir.path().string()},
                    {"output_path", (dir / "out/pages").string()}}}});
    EXPECT_EXIT(
        {
          static int signal_to_send;
          signal_to_send = sig;
          // The signal comes once the folder is made, before any page is written.
          vaskern::app_logging::set_test_sink([](std::string_view, std::string_view text) {
            if (text.find("out/pages") != std::string_view::npos)
              ::kill(::getpid(), signal_to_send);
          });
          (void)converter.run("a.md");
          std::exit(0); // the signal should have ended the run before this
        },
        ::testing::KilledBySignal(sig), "");
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir.path()))
      names.push_back(std::filesystem::relative(e.path(), dir.path()).string());
    EXPECT_EQ(names, std::vector<std::string>{"a.md"});
  }
}

} // namespace

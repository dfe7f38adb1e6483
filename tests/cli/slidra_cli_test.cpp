// End-to-end tests of the slidra command that need no presentation application.
#include "support/fake_soffice.hpp"
#include "support/files.hpp"
#include "support/pptx_writer.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using vaskit::testing::read_file;
using vaskit::testing::run_process;
using vaskit::testing::TempDir;
using vaskit::testing::write_file;
namespace gen = vaskit::testing::pptx;
namespace fs = std::filesystem;

const std::string kBin = VASKIT_BIN_DIR;
const std::string kSlidra = kBin + "/vaskit-slidra";

bool contains(const std::string &hay, const std::string &needle) {
  return hay.find(needle) != std::string::npos;
}

void small_deck(const fs::path &p) {
  gen::Deck d;
  d.slides = {
      {gen::rect(2, "K", 0, 0, 1219200, 685800, "FF0000", gen::para(gen::run("crop_region"))),
       false, 0}};
  gen::write(p, d);
}

TEST(SlidraCommand, HelpShowsOptionsAndExamplesThroughTheHost) {
  TempDir dir;
  const auto host = run_process(kBin + "/vas-kit", {"--help"}, dir.path());
  EXPECT_TRUE(contains(host.out, "  slidra    Convert PPTX slides containing target keyword into "
                                 "cropped GIF/images.\n"));
  const auto help = run_process(kBin + "/vas-kit", {"slidra", "--help"}, dir.path());
  ASSERT_EQ(help.status, 0) << help.err;
  for (const char *expected :
       {"Usage: vas-kit slidra [OPTIONS]", "-c, --config PATH", "-d, --dir, --scan-dir DIRECTORY",
        "Specify the directory to scan for PowerPoint\n", "files (default: ./)\n",
        "Generate config_slidra_template.yaml", "  Examples:\n    1. Generate config template:\n",
        "    4. Interactive config selection (when -c is provided without arguments):\n"
        "       vas-kit slidra -c\n",
        "    5. Run with default settings (Direct mode):\n       vas-kit slidra\n"}) {
    EXPECT_TRUE(contains(help.out, expected)) << expected << "\n---\n" << help.out;
  }
}

TEST(SlidraCommand, GeneratedTemplateHoldsTheDefaultsAndRunsNothingElse) {
  TempDir dir;
  small_deck(dir / "deck.pptx");
  const auto r = run_process(kSlidra, {"--generate-config", "-c", "nowhere.yaml"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "✅ Success! Template file created at: "));
  const std::string text = read_file(dir / "config_slidra_template.yaml");
  for (const char *line :
       {"config:\n", "  scan_dir: \"./\"\n", "  target_slides: \"all\"\n",
        "  search_keyword: \"crop_region\"\n", "  scale_width: 4800\n", "  padding: -40\n"})
    EXPECT_TRUE(contains(text, line)) << line;
  EXPECT_FALSE(fs::exists(dir / "img"));
}

TEST(SlidraCommand, ConfigurationChoiceAndItsErrors) {
  TempDir dir;
  auto r = run_process(kSlidra, {"-c", "missing.yaml"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Config file 'missing.yaml' does not exist.\n");

  r = run_process(kSlidra, {"-c"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Please provide a YAML file path using --config or choose one from "
                   "the list.\n");

  // A single candidate is taken without asking; its settings are used.
  write_file(dir / "config_one.yaml", "config:\n  scan_dir: nothing_here\n");
  fs::create_directory(dir / "nothing_here");
  r = run_process(kSlidra, {"-c"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "💬 偵測到僅有單一設定檔，已自動選用："));
  EXPECT_TRUE(contains(r.err, "Starting Slidra process in 'nothing_here'"));
  EXPECT_TRUE(contains(r.err, "❌ Error: 未選取任何有效簡報檔案，結束執行。\n"));

  // Two candidates: the user chooses; Enter cancels.
  write_file(dir / "config_two.yml", "config: {}\n");
  r = run_process(kSlidra, {"-c"}, dir.path(), "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.out, "--- 💬 偵測到現有設定檔，請選擇一個使用 (直接按 Enter 取消) ---"));
  EXPECT_TRUE(contains(r.err, "Error: Please provide a YAML file path"));
}

TEST(SlidraCommand, ScanFolderOptionOverridesTheConfiguration) {
  TempDir dir;
  fs::create_directory(dir / "decks");
  write_file(dir / "c.yaml", "config:\n  scan_dir: elsewhere\n");
  auto r = run_process(kSlidra, {"-c", "c.yaml", "--scan-dir", "decks"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "Starting Slidra process in 'decks'"));
  // A configuration without a config section runs with the defaults; -d fills scan_dir.
  write_file(dir / "bare.yaml", "other: 1\n");
  r = run_process(kSlidra, {"-c", "bare.yaml", "-d", "decks"}, dir.path());
  EXPECT_TRUE(contains(r.err, "Starting Slidra process in 'decks'"));
  // Not a folder: refused before the command body runs.
  r = run_process(kSlidra, {"-d", "no_such_dir"}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "Error: Invalid value for"));
  EXPECT_FALSE(contains(r.err, "Starting Slidra"));
}

TEST(SlidraCommand, BadSettingsAndBadDecksEndWithStatusOneAndWriteNothing) {
  TempDir dir;
  small_deck(dir / "deck.pptx");
  write_file(dir / "c.yaml", "config:\n  scale_width: wide\n");
  auto r = run_process(kSlidra, {"-c", "c.yaml"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "❌ Error: 設定 scale_width 必須是"));
  EXPECT_FALSE(contains(r.err, "Starting Slidra"));

  // No LibreOffice on the search path: the run's global error, nothing left behind.
  TempDir tmp;
  r = run_process(kSlidra, {}, dir.path(), "",
                  {"PATH=" + (dir / "empty_path").string(), "TMPDIR=" + tmp.path().string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "❌ Error: 運行發生全域錯誤: ")) << r.err;
  EXPECT_TRUE(contains(r.err, "soffice"));
  EXPECT_FALSE(fs::exists(dir / "img"));
  EXPECT_TRUE(fs::is_empty(tmp.path()));

  // Not a zip package.
  write_file(dir / "deck.pptx", "not a deck");
  r = run_process(kSlidra, {}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "❌ Error: 運行發生全域錯誤: ")) << r.err;
  EXPECT_FALSE(fs::exists(dir / "img"));
}

TEST(SlidraCommand, TheLargestWidthIsDrawnForFourToThreeAndWideDecks) {
  TempDir dir;
  write_file(dir / "c.yaml", "config:\n  scale_width: 20000\n");
  for (const auto &[cx, cy] :
       {std::pair<std::int64_t, std::int64_t>{9144000, 6858000}, {12192000, 6858000}}) {
    gen::Deck d;
    d.cx = cx;
    d.cy = cy;
    d.slides = {{gen::rect(2, "K", 0, 0, 100, 100, "FF0000", gen::para(gen::run("crop_region"))),
                 false, 0}};
    gen::write(dir / "deck.pptx", d);
    // Without LibreOffice the run stops at looking for it: the page size itself was accepted.
    const auto r = run_process(kSlidra, {"-c", "c.yaml"}, dir.path(), "",
                               {"PATH=" + (dir / "empty_path").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "soffice")) << cx << "x" << cy << "\n" << r.err;
    EXPECT_FALSE(contains(r.err, "過大")) << r.err;
  }
}

TEST(SlidraCommand, AnInterruptDuringTheExportLeavesNoTemporaryFolder) {
  TempDir dir, tmp;
  small_deck(dir / "deck.pptx");
  // A presentation application that never finishes; Ctrl-C (SIGINT) arrives while it runs.
  fs::create_directory(dir / "bin");
  const fs::path started = dir / "soffice_started";
  write_file(dir / "bin/soffice",
             "#!/bin/sh\necho yes > '" + started.string() + "'\nexec /bin/sleep 30\n");
  fs::permissions(dir / "bin/soffice", fs::perms::owner_all);
  const auto r = run_process(
      "/usr/bin/timeout", {"-s", "INT", "3", kSlidra}, dir.path(), "",
      {"PATH=" + (dir / "bin").string() + ":/usr/bin:/bin", "TMPDIR=" + tmp.path().string()});
  EXPECT_EQ(r.status, 124) << r.err; // ended by the interrupt, not by finishing
  EXPECT_TRUE(fs::exists(started)) << r.err;
  // The copied deck and LibreOffice's private profile went with the run, and so did the image
  // folder it had made, still empty.
  EXPECT_TRUE(fs::is_empty(tmp.path()));
  EXPECT_FALSE(fs::exists(dir / "img"));
  EXPECT_FALSE(contains(r.out, "Done"));
}

TEST(SlidraCommand, ImagesThatCouldNotBeSavedEndTheRunWithStatusOne) {
  TempDir dir, tools;
  gen::Deck d;
  d.slides = {
      {gen::rect(2, "A", 0, 0, 1219200, 685800, "FF0000", gen::para(gen::run("crop_region"))) +
           gen::rect(3, "B", 2438400, 0, 1219200, 685800, "00FF00",
                     gen::para(gen::run("crop_region"))),
       false, 0}};
  gen::write(dir / "deck.pptx", d);
  write_file(dir / "c.yaml", "config:\n  scale_width: 320\n  padding: 0\n");
  // The first image's name is taken by a folder that cannot be replaced.
  fs::create_directories(dir / "img/img1_slide1.gif/kept");
  const std::string path = vaskit::testing::install_fake_soffice(tools / "bin", 1);
  const auto r = run_process(kSlidra, {"-c", "c.yaml"}, dir.path(), "", {"PATH=" + path});
  EXPECT_EQ(r.status, 1) << r.err;
  // The run's own lines stay; one line after them says what was lost.
  EXPECT_EQ(r.out, "✅ Done: Slidra executed successfully. Processed 2 target images.\n");
  EXPECT_TRUE(contains(r.err, "❌ 裁切第 1 頁區域 1 時發生錯誤: ")) << r.err;
  EXPECT_TRUE(r.err.ends_with("\n❌ Error: 2 張裁切影像中有 1 張未能儲存。\n")) << r.err;
  EXPECT_TRUE(fs::exists(dir / "img/img2_slide1.gif"));
  EXPECT_TRUE(contains(read_file(dir / "img_preview.md"), "img2_slide1.gif"));
}

TEST(SlidraCommand, AConfigurationWithoutContentEndsQuietly) {
  TempDir dir;
  small_deck(dir / "deck.pptx");
  write_file(dir / "empty.yaml", "");
  write_file(dir / "comments.yaml", "# nothing set yet\n");
  for (const char *name : {"empty.yaml", "comments.yaml"}) {
    const auto r = run_process(kSlidra, {"-c", name}, dir.path());
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.out, "") << name;
    EXPECT_EQ(r.err, "") << name;
  }
  EXPECT_FALSE(fs::exists(dir / "img"));
}

TEST(SlidraCommand, SeveralDecksAreOfferedForAChoice) {
  TempDir dir;
  small_deck(dir / "a.pptx");
  write_file(dir / "b.pptx", "not a deck");
  write_file(dir / "notes.txt", "not offered");
  const std::string no_office = "PATH=" + (dir / "empty_path").string();
  // The second deck is chosen: its own error shows it was the one opened.
  auto r = run_process(kSlidra, {}, dir.path(), "2\n", {no_office});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.out, "請選擇簡報檔案")) << r.out;
  EXPECT_TRUE(contains(r.out, "a.pptx"));
  EXPECT_FALSE(contains(r.out, "notes.txt"));
  EXPECT_TRUE(contains(r.err, "❌ Error: 運行發生全域錯誤: ")) << r.err;
  EXPECT_TRUE(contains(r.err, "b.pptx")) << r.err;
  // Enter cancels: no deck chosen.
  r = run_process(kSlidra, {}, dir.path(), "\n", {no_office});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "⚠️ 未選取任何有效簡報檔案，結束執行。\n"));
  EXPECT_TRUE(contains(r.err, "❌ Error: 未選取任何有效簡報檔案，結束執行。\n"));
  EXPECT_FALSE(fs::exists(dir / "img"));
}

} // namespace

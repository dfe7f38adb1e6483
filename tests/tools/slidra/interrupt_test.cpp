// An interrupt at any stage of a run after LibreOffice has finished: the run is taken down by a
// real signal, sent to the whole process at the moment an image is about to get its name, while
// other pages are still being drawn or the regions cropped.
#include "core/fs.hpp"
#include "slidra_support.hpp"
#include "support/fake_soffice.hpp"
#include "support/pptx_writer.hpp"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using namespace slidra_test;
using vaskit::slidra::json;
using vaskit::slidra::SlidraApp;
namespace gen = vaskit::testing::pptx;
namespace stdfs = std::filesystem;

std::vector<std::string> names_in(const stdfs::path &dir) {
  std::vector<std::string> names;
  for (const auto &e : stdfs::recursive_directory_iterator(dir))
    names.push_back(stdfs::relative(e.path(), dir).string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Moment {
  const char *stage;
  int signal;
  int write; // the signal comes as this write (1-based) is about to be renamed into place
  std::vector<std::string> left; // in the current folder afterwards, besides the deck
};

TEST(CropRunInterrupt, RemovesWhatTheRunMadeAndEndsByTheSignal) {
  // Three slides drawn (writes 1 to 3), then cropped (write 4 is the first region's image).
  const std::vector<Moment> moments{
      {"first page written", SIGTERM, 1, {}},
      {"pages being drawn", SIGINT, 2, {}},
      {"regions being cropped", SIGHUP, 4, {"img", "img/img1_slide1.gif"}},
  };
  for (const Moment &m : moments) {
    SCOPED_TRACE(m.stage);
    InTempDir dir;
    vaskit::testing::TempDir tools, tmp;
    gen::Deck d;
    for (int id = 0; id < 3; ++id)
      d.slides.push_back({gen::rect(2, "K", 1219200, 685800, 1219200, 685800, "FF0000",
                                    gen::para(gen::run("crop_region"))),
                          false, 0});
    gen::write(dir / "deck.pptx", d);
    const std::string path = vaskit::testing::install_fake_soffice(tools / "bin", 3);
    const json settings{{"config", {{"scale_width", 320}, {"padding", 0}}}};
    EXPECT_EXIT(
        {
          ::setenv("PATH", path.c_str(), 1);
          ::setenv("TMPDIR", tmp.path().c_str(), 1);
          int writes = 0;
          const vaskit::fs::ScopedWriteHook hook([&](vaskit::fs::WriteStage stage, std::size_t) {
            if (stage == vaskit::fs::WriteStage::before_rename && ++writes == m.write)
              ::kill(::getpid(), m.signal);
          });
          SlidraApp(settings).run();
          std::exit(0); // the signal should have ended the run before this
        },
        ::testing::KilledBySignal(m.signal), "");
    std::vector<std::string> want = m.left;
    want.push_back("deck.pptx");
    std::sort(want.begin(), want.end());
    EXPECT_EQ(names_in(dir.path()), want);
    EXPECT_TRUE(stdfs::is_empty(tmp.path()));
  }
}

TEST(CropRunInterrupt, DuringLibreOfficeRemovesItsTemporaryFilesAndPipe) {
  InTempDir dir;
  vaskit::testing::TempDir tools, tmp;
  gen::Deck d;
  d.slides.push_back({gen::rect(2, "K", 1219200, 685800, 1219200, 685800, "FF0000",
                                gen::para(gen::run("crop_region"))),
                      false, 0});
  gen::write(dir / "deck.pptx", d);
  // Does what LibreOffice does while it converts: a temporary file in its TMPDIR, and in /tmp the
  // socket of its profile (named as LibreOffice names it, e.g. OSL_PIPE_0_SingleOfficeIPC_
  // 6272ac0907ef6a2daa0d192e7bd9375 for file:///tmp/lc2exp/profile); then the interrupt comes.
  const stdfs::path pipe_note = tools / "pipe";
  vaskit::testing::write_file(
      tools / "bin/soffice",
      "#!/bin/sh\n"
      "for a; do case \"$a\" in -env:UserInstallation=*) p=${a#-env:UserInstallation=};; "
      "esac; done\n"
      "pipe=$(python3 -c 'import hashlib, os, sys; print(\"/tmp/OSL_PIPE_%d_SingleOfficeIPC_%s\" "
      "% (os.getuid(), \"\".join(\"%x\" % b for b in hashlib.md5(sys.argv[1].encode(\"utf-16-le\"))"
      ".digest())))' \"$p\")\n"
      ": > \"$pipe\"\n"
      ": > \"${TMPDIR:-/tmp}/lu4242abc.tmp\"\n"
      "echo \"$pipe\" > '" +
          pipe_note.string() +
          "'\n"
          "kill -INT \"$SLIDRA_TEST_PID\"\n"
          "exec sleep 30\n");
  stdfs::permissions(tools / "bin/soffice", stdfs::perms::owner_all);
  const std::string path = (tools / "bin").string() + ":/usr/bin:/bin";
  EXPECT_EXIT(
      {
        ::setenv("PATH", path.c_str(), 1);
        ::setenv("TMPDIR", tmp.path().c_str(), 1);
        ::setenv("SLIDRA_TEST_PID", std::to_string(::getpid()).c_str(), 1);
        SlidraApp(json{{"config", {{"scale_width", 320}}}}).run();
        std::exit(0); // the signal should have ended the run before this
      },
      ::testing::KilledBySignal(SIGINT), "");
  const std::string pipe = vaskit::testing::read_file(pipe_note);
  ASSERT_FALSE(pipe.empty()); // the stand-in ran
  EXPECT_FALSE(stdfs::exists(pipe.substr(0, pipe.size() - 1)));
  EXPECT_TRUE(stdfs::is_empty(tmp.path()));
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"deck.pptx"});
}

} // namespace

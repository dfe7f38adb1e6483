// An interrupt while the diagrams are handed to the renderer, before it has started: the run's
// own temporary folder goes with the run.
#include "core/fs.hpp"
#include "support/files.hpp"
#include "support/process.hpp"
#include "tools/chartwyn/diagrams.hpp"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using vaskit::testing::read_file;
using vaskit::testing::TempDir;
using vaskit::testing::write_file;

TEST(RenderDiagramsInterrupt, RemovesTheRenderersFolderBeforeTheRendererStarts) {
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    TempDir dir, tmp;
    // The renderer the project installs, as far as the batch needs to know: it never gets to run.
    write_file(dir / "bin/mmdc", "#!/bin/sh\n# vaskit-batch: 1\nexit 0\n");
    fs::permissions(dir / "bin/mmdc", fs::perms::owner_all);
    write_file(dir / "a.mmd", "graph TD; A-->B");
    const std::vector<vaskit::chartwyn::DiagramSource> diagrams{
        {(dir / "a.mmd").string(), (dir / "a.svg").string()}};
    EXPECT_EXIT(
        {
          ::setenv("PATH", (dir / "bin").c_str(), 1);
          ::setenv("TMPDIR", tmp.path().c_str(), 1);
          // The list of diagrams for the renderer is about to get its name in the run's folder.
          const vaskit::fs::ScopedWriteHook hook([&](vaskit::fs::WriteStage stage, std::size_t) {
            if (stage == vaskit::fs::WriteStage::before_rename) {
              write_file(dir / "pid", std::to_string(::getpid()));
              ::kill(::getpid(), sig);
            }
          });
          vaskit::chartwyn::render_diagrams(diagrams, 5, [](std::size_t, auto &) {});
          std::exit(0); // the signal should have ended the run before this
        },
        ::testing::KilledBySignal(sig), "");
    const std::string pid = read_file(dir / "pid");
    ASSERT_FALSE(pid.empty());
    // Under a long TMPDIR the folder is made in /tmp.
    for (const fs::path &root : {tmp.path(), fs::path("/tmp")})
      for (const auto &e : fs::directory_iterator(root))
        EXPECT_FALSE(e.path().filename().string().starts_with("vaskit-chartwyn-" + pid + "-"))
            << e.path();
    EXPECT_TRUE(fs::is_empty(tmp.path()));
  }
}

} // namespace

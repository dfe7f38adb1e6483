// Shared helpers of the slidra unit tests: captured log lines, a working folder of the test's
// own, and small images written and read back pixel by pixel.
#pragma once

#include "support/console.hpp"
#include "support/images.hpp"
#include "support/log_capture.hpp"
#include "support/process.hpp"
#include "tools/slidra/slidra.hpp"

#include <filesystem>
#include <string>

namespace slidra_test {

using vaskit::testing::LogCapture;
using vaskit::testing::Pixels;
using vaskit::testing::read_pixels;
using vaskit::testing::Rect;
using vaskit::testing::Rgb;
using vaskit::testing::write_png;

// Runs the test inside a fresh folder (the run writes its temporary images to the current one).
class InTempDir {
public:
  InTempDir() : cwd_(dir_.path()) {}
  const std::filesystem::path &path() const { return dir_.path(); }
  std::filesystem::path operator/(const std::string &n) const { return dir_.path() / n; }

private:
  vaskit::testing::TempDir dir_;
  vaskit::testing::CurrentDir cwd_;
};

} // namespace slidra_test

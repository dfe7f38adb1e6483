// Shared by the shelvic unit tests: a working folder of their own.
#pragma once

#include "support/console.hpp"
#include "support/files.hpp"
#include "support/log_capture.hpp"

#include <string>

namespace vaskit::shelvic::test_support {

using vaskit::testing::LogCapture;

// A fresh temporary folder that is the current directory while the object lives.
class InTempDir {
public:
  InTempDir() : cwd_(dir_.path()) {}
  const std::filesystem::path &path() const { return dir_.path(); }
  // Creates the file (and its folders) with `text`.
  void file(const std::string &name, const std::string &text = "x") const {
    vaskit::testing::write_file(dir_.path() / name, text);
  }

private:
  vaskit::testing::TempDir dir_;
  vaskit::testing::CurrentDir cwd_;
};

} // namespace vaskit::shelvic::test_support

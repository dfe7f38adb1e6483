#include "support/console.hpp"

#include "support/process.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace vaskit::testing {

Console with_console(const std::string &input, const std::function<void()> &fn) {
  TempDir dir;
  const auto in_path = dir / "stdin";
  std::ofstream(in_path, std::ios::binary) << input;
  if (!std::freopen(in_path.c_str(), "r", stdin))
    throw std::runtime_error("with_console: cannot redirect standard input");
  std::cin.clear();
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  try {
    fn();
  } catch (...) {
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    throw;
  }
  Console c;
  std::cout.flush();
  c.out = ::testing::internal::GetCapturedStdout();
  c.err = ::testing::internal::GetCapturedStderr();
  return c;
}

CurrentDir::CurrentDir(const std::filesystem::path &dir)
    : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

CurrentDir::~CurrentDir() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
}

} // namespace vaskit::testing

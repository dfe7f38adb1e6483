// Shared by the shelvic unit tests: a working folder of its own and the lines the tool logs.
#pragma once

#include "support/files.hpp"
#include "vaskern/app_logging.hpp"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vaskit::shelvic::test_support {

// A fresh temporary folder that is the current directory while the object lives.
class InTempDir {
public:
  InTempDir() : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.path());
  }
  ~InTempDir() { std::filesystem::current_path(old_); }
  InTempDir(const InTempDir &) = delete;
  InTempDir &operator=(const InTempDir &) = delete;
  const std::filesystem::path &path() const { return dir_.path(); }
  // Creates the file (and its folders) with `text`.
  void file(const std::string &name, const std::string &text = "x") const {
    vaskit::testing::write_file(dir_.path() / name, text);
  }

private:
  vaskit::testing::TempDir dir_;
  std::filesystem::path old_;
};

class LogCapture {
public:
  LogCapture() {
    lines().clear();
    vaskern::app_logging::set_test_sink(&sink);
    vaskern::app_logging::setup_logging("Vaskit", true);
  }
  ~LogCapture() {
    vaskern::app_logging::set_test_sink(nullptr);
    vaskern::app_logging::setup_logging("Vaskit", false);
  }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  std::vector<std::string> texts(std::string_view level) const {
    std::vector<std::string> out;
    for (const auto &[lv, text] : lines())
      if (lv == level)
        out.push_back(text);
    return out;
  }

private:
  static std::vector<std::pair<std::string, std::string>> &lines() {
    static std::vector<std::pair<std::string, std::string>> v;
    return v;
  }
  static void sink(std::string_view level, std::string_view text) {
    lines().emplace_back(std::string(level), std::string(text));
  }
};

} // namespace vaskit::shelvic::test_support

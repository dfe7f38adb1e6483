// Collects the lines the stages log, for the stage tests.
#pragma once

#include "vaskern/app_logging.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace vaskit::prosett::testing {

struct LogLine {
  std::string level;
  std::string text;
};

class LogCapture {
public:
  explicit LogCapture(bool debug = false) {
    lines().clear();
    vaskern::app_logging::set_test_sink(&sink);
    vaskern::app_logging::setup_logging("Prosett", debug);
  }
  ~LogCapture() {
    vaskern::app_logging::set_test_sink(nullptr);
    vaskern::app_logging::setup_logging("Prosett", false);
  }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  const std::vector<LogLine> &all() const { return lines(); }
  std::vector<std::string> texts(std::string_view level) const {
    std::vector<std::string> out;
    for (const auto &l : lines())
      if (l.level == level)
        out.push_back(l.text);
    return out;
  }

private:
  static std::vector<LogLine> &lines() {
    static std::vector<LogLine> v;
    return v;
  }
  static void sink(std::string_view level, std::string_view text) {
    lines().push_back({std::string(level), std::string(text)});
  }
};

} // namespace vaskit::prosett::testing

// Shared pieces of the folvane tests: generated receipts and captured log lines.
#pragma once

#include "support/files.hpp"
#include "vaskern/app_logging.hpp"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace folvane_test {

namespace fs = std::filesystem;

inline const fs::path &receipts() { return vaskit::testing::generated_receipts(); }

inline std::string receipt(const std::string &variant) {
  return (receipts() / (variant + ".pdf")).string();
}

struct LogLine {
  std::string level;
  std::string text;
};

inline std::vector<LogLine> &captured() {
  static std::vector<LogLine> lines;
  return lines;
}

// Collects the log lines written while it lives.
class LogCapture {
public:
  LogCapture() {
    captured().clear();
    vaskern::app_logging::set_test_sink([](std::string_view level, std::string_view text) {
      captured().push_back({std::string(level), std::string(text)});
    });
  }
  ~LogCapture() { vaskern::app_logging::set_test_sink(nullptr); }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  const std::vector<LogLine> &lines() const { return captured(); }
  std::vector<std::string> texts(std::string_view level) const {
    std::vector<std::string> out;
    for (const auto &l : captured())
      if (l.level == level)
        out.push_back(l.text);
    return out;
  }
};

} // namespace folvane_test

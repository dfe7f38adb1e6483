// Test support: the lines that loggers write while a LogCapture lives, with their levels.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vaskit::testing {

struct LogLine {
  std::string level; // "DEBUG", "INFO", "WARNING" or "ERROR"
  std::string text;
};

// Collects every logged line from construction to destruction (one capture at a time). With
// `debug`, debug lines are logged (and captured) too; debug output is off again afterwards.
class LogCapture {
public:
  explicit LogCapture(bool debug = false);
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  const std::vector<LogLine> &lines() const;
  // The texts of one level, in order.
  std::vector<std::string> texts(std::string_view level) const;
  // Every line as "LEVEL text", in order.
  std::vector<std::string> leveled() const;
  // Whether a line of `level` holds `part`.
  bool has(std::string_view level, std::string_view part) const;
  void clear();
};

} // namespace vaskit::testing

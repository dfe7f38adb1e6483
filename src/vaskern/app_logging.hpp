// Loggers of the tools: one named logger per tool, each message printed verbatim as one line on
// standard error (coloured by level on a terminal). Debug lines appear only when debug is on.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vaskern::app_logging {

class Logger {
public:
  explicit Logger(std::string name);
  void debug(std::string_view text) const;
  void info(std::string_view text) const;
  void warning(std::string_view text) const;
  void error(std::string_view text) const;
  const std::string &name() const { return name_; }

private:
  std::string name_;
};

// The logger of a tool; created on first use, the same object on every later call.
Logger &lazy_logger(const std::string &name);
// Turns debug output on or off for every logger of the process. `file` is accepted for callers
// that pass one; the tools write no log file.
void setup_logging(const std::string &app_name, bool debug, const char *file = nullptr);
bool debug_enabled();
// The YAML tools' debug switch: on when `debug_flag` is set or DAVUZ_DEBUG is "1". When on,
// DAVUZ_DEBUG becomes "1" for the rest of the process (so the tool's app sees it) and debug
// output is set up under `app_name`. Returns whether debug is on.
bool debug_switch(bool debug_flag, const std::string &app_name);

// Test seam: every line also goes to this sink when set (level, text).
using Sink = void (*)(std::string_view level, std::string_view text);
void set_test_sink(Sink sink);

} // namespace vaskern::app_logging

#include "vaskern/app_logging.hpp"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <unistd.h>

namespace vaskern::app_logging {
namespace {

bool g_debug = false;
Sink g_sink = nullptr;

bool stderr_is_tty() {
  static const bool tty = ::isatty(STDERR_FILENO) == 1;
  return tty;
}

void emit(std::string_view level, const char *colour, std::string_view text) {
  if (g_sink)
    g_sink(level, text);
  std::string line;
  line.reserve(text.size() + 16);
  if (stderr_is_tty() && colour) {
    line.append(colour).append(text).append("\033[0m");
  } else {
    line.append(text);
  }
  line.push_back('\n');
  // Whole lines in one write, so lines of stdout and stderr interleave cleanly.
  std::fflush(stdout);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

} // namespace

Logger::Logger(std::string name) : name_(std::move(name)) {}

void Logger::debug(std::string_view text) const {
  if (g_debug)
    emit("DEBUG", "\033[36m", text);
}
void Logger::info(std::string_view text) const { emit("INFO", nullptr, text); }
void Logger::warning(std::string_view text) const { emit("WARNING", "\033[33m", text); }
void Logger::error(std::string_view text) const { emit("ERROR", "\033[31m", text); }

Logger &lazy_logger(const std::string &name) {
  static std::mutex mu;
  static std::map<std::string, std::unique_ptr<Logger>> loggers;
  std::lock_guard lock(mu);
  auto &slot = loggers[name];
  if (!slot)
    slot = std::make_unique<Logger>(name);
  return *slot;
}

void setup_logging(const std::string & /*app_name*/, bool debug, const char * /*file*/) {
  g_debug = debug;
}

bool debug_enabled() { return g_debug; }

bool debug_switch(bool debug_flag, const std::string &app_name) {
  const char *env = std::getenv("DAVUZ_DEBUG");
  const bool on = debug_flag || (env && std::string_view(env) == "1");
  if (on) {
    ::setenv("DAVUZ_DEBUG", "1", 1);
    setup_logging(app_name, true);
  }
  return on;
}

void set_test_sink(Sink sink) { g_sink = sink; }

} // namespace vaskern::app_logging

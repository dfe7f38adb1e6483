#include "support/log_capture.hpp"

#include "vaskern/app_logging.hpp"

#include <stdexcept>

namespace vaskit::testing {
namespace {

std::vector<LogLine> g_lines;
bool g_active = false;

void record(std::string_view level, std::string_view text) {
  g_lines.push_back({std::string(level), std::string(text)});
}

} // namespace

LogCapture::LogCapture(bool debug) {
  if (g_active)
    throw std::logic_error("LogCapture: one capture at a time");
  g_active = true;
  g_lines.clear();
  vaskern::app_logging::set_test_sink(&record);
  vaskern::app_logging::setup_logging("test", debug);
}

LogCapture::~LogCapture() {
  vaskern::app_logging::set_test_sink(nullptr);
  vaskern::app_logging::setup_logging("test", false);
  g_active = false;
}

const std::vector<LogLine> &LogCapture::lines() const {
  return g_lines;
}

std::vector<std::string> LogCapture::texts(std::string_view level) const {
  std::vector<std::string> out;
  for (const auto &l : g_lines)
    if (l.level == level)
      out.push_back(l.text);
  return out;
}

std::vector<std::string> LogCapture::leveled() const {
  std::vector<std::string> out;
  for (const auto &l : g_lines)
    out.push_back(l.level + " " + l.text);
  return out;
}

bool LogCapture::has(std::string_view level, std::string_view part) const {
  for (const auto &l : g_lines)
    if (l.level == level && l.text.find(part) != std::string::npos)
      return true;
  return false;
}

void LogCapture::clear() {
  g_lines.clear();
}

} // namespace vaskit::testing

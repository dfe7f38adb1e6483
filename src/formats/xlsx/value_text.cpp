#include "formats/xlsx/workbook.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vaskit::xlsx {

namespace {

// Python's repr() of a float: the shortest digits that read back to the same value, in fixed
// notation for exponents from -4 to 15 and in scientific notation otherwise.
std::string python_float(double value) {
  if (std::isnan(value)) {
    return "nan";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-inf" : "inf";
  }
  char buffer[64];
  auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
  std::string sign;
  if (!text.empty() && text.front() == '-') {
    sign = "-";
    text.remove_prefix(1);
  }
  const std::size_t e = text.find('e');
  std::string digits;
  for (char c : text.substr(0, e)) {
    if (c != '.') {
      digits += c;
    }
  }
  const int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
  const int n = static_cast<int>(digits.size());
  if (exponent >= -4 && exponent < 16) {
    const int point = exponent + 1;
    if (point <= 0) {
      return sign + "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    }
    if (point >= n) {
      return sign + digits + std::string(static_cast<std::size_t>(point - n), '0') + ".0";
    }
    return sign + digits.substr(0, static_cast<std::size_t>(point)) + "." +
           digits.substr(static_cast<std::size_t>(point));
  }
  std::string out = sign + digits.substr(0, 1);
  if (n > 1) {
    out += "." + digits.substr(1);
  }
  char exp[16];
  std::snprintf(exp, sizeof exp, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  return out + exp;
}

std::string python_datetime(const DateTime &v) {
  char text[64];
  int n = 0;
  if (!v.time_only) {
    n = std::snprintf(text, sizeof text, "%04d-%02d-%02d ", v.year, v.month, v.day);
  }
  n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "%02d:%02d:%02d", v.hour,
                     v.minute, v.second);
  if (v.microsecond != 0) {
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ".%06d", v.microsecond);
  }
  return text;
}

} // namespace

std::string to_text(const CellValue &value) {
  struct Visitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(const std::string &s) const { return s; }
    std::string operator()(long long n) const { return std::to_string(n); }
    std::string operator()(double d) const { return python_float(d); }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(const DateTime &d) const { return python_datetime(d); }
    std::string operator()(const CellError &e) const { return e.code; }
  };
  return std::visit(Visitor{}, value);
}

} // namespace vaskit::xlsx

#include "formats/xlsx/workbook.hpp"

#include "core/text.hpp"

#include <cstdio>

namespace vaskit::xlsx {

namespace {

std::string python_datetime(const DateTime &v) {
  char text[64];
  int n = 0;
  if (v.date_only) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", v.year, v.month, v.day);
    return text;
  }
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
    std::string operator()(double d) const { return text::float_repr(d); }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(const DateTime &d) const { return python_datetime(d); }
    std::string operator()(const CellError &e) const { return e.code; }
    std::string operator()(const BigInteger &n) const { return n.digits; }
  };
  return std::visit(Visitor{}, value);
}

} // namespace vaskit::xlsx

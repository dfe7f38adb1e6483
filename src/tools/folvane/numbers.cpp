#include "tools/folvane/numbers.hpp"

#include "core/text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vaskit::folvane::numbers {

std::optional<long long> parse_digits(std::string_view digits) {
  const auto cps = text::to_u32(digits);
  if (cps.empty())
    return std::nullopt;
  long long value = 0;
  for (char32_t cp : cps) {
    const int digit = text::decimal_value(cp);
    if (digit < 0 || value > (std::numeric_limits<long long>::max() - 9) / 10)
      return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<double> parse_real(std::string_view s) {
  const auto cps = text::to_u32(text::strip(s));
  // Rewritten in ASCII, checked against the grammar on the way.
  std::string ascii;
  std::size_t i = 0;
  const auto digits = [&] {
    std::size_t n = 0;
    for (; i < cps.size() && text::is_decimal(cps[i]); ++i, ++n)
      ascii += static_cast<char>('0' + text::decimal_value(cps[i]));
    return n;
  };
  if (i < cps.size() && (cps[i] == U'+' || cps[i] == U'-')) {
    if (cps[i] == U'-')
      ascii += '-';
    ++i;
  }
  std::size_t mantissa = digits();
  if (i < cps.size() && cps[i] == U'.') {
    ascii += '.';
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0)
    return std::nullopt;
  if (i < cps.size() && (cps[i] == U'e' || cps[i] == U'E')) {
    ascii += 'e';
    ++i;
    if (i < cps.size() && (cps[i] == U'+' || cps[i] == U'-'))
      ascii += static_cast<char>(cps[i++]);
    if (digits() == 0)
      return std::nullopt;
  }
  if (i != cps.size())
    return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (ec != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string clean_amount(std::string_view amount) {
  return text::strip(text::replace_all(text::replace_all(amount, ",", ""), "$", ""));
}

std::string integral_text(double v) {
  if (v == 0)
    return "0";
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.0f", v);
  return buf;
}

std::string zero_pad(long long n, int width) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  if (static_cast<int>(digits.size()) < width)
    digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  return n < 0 ? "-" + digits : digits;
}

} // namespace vaskit::folvane::numbers

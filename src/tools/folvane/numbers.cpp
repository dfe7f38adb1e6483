#include "tools/folvane/numbers.hpp"

#include "core/text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utf8proc.h>

namespace vaskit::folvane::numbers {
namespace {

bool is_decimal_digit(char32_t cp) {
  return utf8proc_category(static_cast<utf8proc_int32_t>(cp)) == UTF8PROC_CATEGORY_ND;
}

// Unicode assigns decimal digits in runs of ten, zero first; adjacent runs (the mathematical
// digits) stay aligned, so the value is the distance from the run's start modulo ten.
int digit_value(char32_t cp) {
  if (cp >= U'0' && cp <= U'9')
    return static_cast<int>(cp - U'0');
  char32_t start = cp;
  while (start > 0 && is_decimal_digit(start - 1))
    --start;
  return static_cast<int>((cp - start) % 10);
}

} // namespace

std::optional<long long> parse_digits(std::string_view digits) {
  const auto cps = text::to_u32(digits);
  if (cps.empty())
    return std::nullopt;
  long long value = 0;
  for (char32_t cp : cps) {
    if (!is_decimal_digit(cp))
      return std::nullopt;
    if (value > (std::numeric_limits<long long>::max() - 9) / 10)
      return std::nullopt;
    value = value * 10 + digit_value(cp);
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
    for (; i < cps.size() && is_decimal_digit(cps[i]); ++i, ++n)
      ascii += static_cast<char>('0' + digit_value(cps[i]));
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

std::string real_repr(double v) {
  if (std::isnan(v))
    return "nan";
  if (std::isinf(v))
    return v < 0 ? "-inf" : "inf";
  // Shortest round-trip digits, then laid out by repr's rule: positional notation for decimal
  // exponents from -4 to 15, scientific otherwise.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string sci(buf, res.ptr);
  std::string sign;
  if (sci.front() == '-') {
    sign = "-";
    sci.erase(0, 1);
  }
  const auto epos = sci.find('e');
  const int exp = std::stoi(sci.substr(epos + 1));
  std::string digits;
  for (char c : sci.substr(0, epos))
    if (c != '.')
      digits += c;
  if (exp >= -4 && exp < 16) {
    std::string out;
    if (exp < 0) {
      out = "0." + std::string(static_cast<std::size_t>(-exp - 1), '0') + digits;
    } else if (static_cast<std::size_t>(exp) + 1 >= digits.size()) {
      out = digits + std::string(static_cast<std::size_t>(exp) + 1 - digits.size(), '0') + ".0";
    } else {
      out = digits.substr(0, static_cast<std::size_t>(exp) + 1) + "." +
            digits.substr(static_cast<std::size_t>(exp) + 1);
    }
    return sign + out;
  }
  std::string mant = digits.substr(0, 1);
  if (digits.size() > 1)
    mant += "." + digits.substr(1);
  const std::string e = std::to_string(exp < 0 ? -exp : exp);
  return sign + mant + "e" + (exp < 0 ? "-" : "+") + (e.size() < 2 ? "0" + e : e);
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

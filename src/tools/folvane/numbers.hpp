// Number reading for receipt texts, with Python's rules: any Unicode decimal digit counts by its
// value (full-width ４ is 4).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vaskit::folvane::numbers {

// The value of a run of Unicode decimal digits (what `\d+` matched); nullopt for anything else
// or a value beyond long long.
std::optional<long long> parse_digits(std::string_view digits);

// A decimal number: optional white space, optional sign, digits with an optional fraction (or
// a fraction alone), an optional exponent, optional white space; digits may be any Unicode
// decimal digits. Infinities, not-a-number, digit-group underscores and values beyond the range
// of double are not numbers here. nullopt when `s` is not a number.
std::optional<double> parse_real(std::string_view s);

// An amount as written on a receipt without its thousands commas and dollar signs, trimmed
// ("$ 1,280 " -> "1280"): the form parse_real reads.
std::string clean_amount(std::string_view amount);

// `v` (integral) as a decimal integer, exactly ("350", "100000000000000000000").
std::string integral_text(double v);

// `n` written with at least `width` digits (zero-padded), like "{:02d}".
std::string zero_pad(long long n, int width);

} // namespace vaskit::folvane::numbers

// Moving formulas between cells.
#pragma once

#include <string>
#include <string_view>

namespace vaskit::xlsx::detail {

// The formula as it reads when copied `rows` down and `cols` right: relative references
// move, absolute ("$") parts stay; string literals, quoted sheet names, function names and
// bracketed references are left alone. A reference moved off the sheet becomes "#REF!".
std::string shift_formula(std::string_view formula, int rows, int cols);

} // namespace vaskit::xlsx::detail

// Values of the configuration in the text forms the tool's users see them in: str() of a value
// and repr() of lists, mappings and texts, as Python writes them.
#pragma once

#include "core/config.hpp"

#include <string>

namespace vaskit::postrel {

// repr(): 'text' (or "text" when it holds ' but no "), with escapes for backslash, the quote,
// \n \r \t and characters that are not printable; [a, b] and {'k': v}; None, True, numbers.
std::string py_repr(const config::json &v);
// str(): a text as it is, containers as repr, scalars as config::to_text.
std::string py_str(const config::json &v);

} // namespace vaskit::postrel

// Configuration files as ordered mappings (key order kept, as the tools' templates rely on it).
// YAML scalars are typed by the YAML 1.1 rules the tools' users wrote their files for: unquoted
// true/false/yes/no/on/off are booleans, integers and floats are numbers, ~/null/empty are null;
// quoted scalars always stay text.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vaskit::config {

using json = nlohmann::ordered_json;

// A file that does not parse; line and column are 1-based (0 when unknown).
class ParseError : public std::runtime_error {
public:
  ParseError(const std::string &msg, int line, int column)
      : std::runtime_error(msg), line(line), column(column) {}
  int line;
  int column;
};

// Parses YAML text holding one document; "<<" merge keys are resolved, aliases expand to copies,
// keys that are not text take their text form (to_text). Throws ParseError for a syntax error,
// bytes that are not UTF-8 or control characters, a second document, an undefined, duplicate
// or self-containing anchor, an explicit tag whose type cannot be built, a collection as a key,
// nesting deeper than 1000 levels, or more than a million nodes (or 64 MiB of text) once aliases
// are expanded; std::bad_alloc when memory runs out.
json parse_yaml(std::string_view text);
// Parses JSON text. Throws ParseError.
json parse_json(std::string_view text);
// Python truthiness: null, false, 0, 0.0, "" and empty containers are false.
bool truthy(const json &v);
// Python str() of a value: None, True/False, integers, floats as repr, text as is; lists and
// mappings as repr.
std::string to_text(const json &v);
// Python repr() of a value: 'text' with Python's quoting and escapes, [a, b], {'k': v}; other
// values as to_text.
std::string repr(const json &v);
// The value under `key` of a mapping, or `fallback` when the key is absent (like dict.get).
json get_or(const json &mapping, const std::string &key, const json &fallback);

} // namespace vaskit::config

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

// A value as an error message shows it: compact JSON, invalid UTF-8 replaced, control
// characters escaped (text::printable), so that it is safe for a terminal.
std::string shown(const json &v);

// A configuration value a tool cannot use, the one error type of every tool's configuration.
// `key_path` names the value the way the file's user finds it: "layout.cols", "config.groups",
// "address_mapping.ZVT"; "" names the file's whole content. what() reads
// "<key path> must be <expected>, got <shown(value)>", with "the configuration" as the subject
// when the key path is "".
class ConfigError : public std::runtime_error {
public:
  ConfigError(std::string key_path, const std::string &expected, const json &value);
  // The same error where the tool words the whole line itself (a folder that does not exist, a
  // value with a requirement that "must be <expected>" cannot say): `message` is what() as is.
  static ConfigError worded(std::string key_path, std::string message);
  const std::string &key_path() const noexcept { return key_path_; }

private:
  struct Worded {};
  ConfigError(Worded, std::string key_path, const std::string &message);
  std::string key_path_;
};

// The one "must be a mapping" check: returns when `value` is a mapping, throws
// ConfigError(key_path, expected, value) otherwise (null too: a caller for whom an empty file or
// a key without a value means "no settings" uses mapping_or_empty).
void require_mapping(const json &value, const std::string &key_path,
                     const std::string &expected = "a mapping");
// `value` for reading settings from: null (an empty file, a key written without a value) is
// replaced by an empty mapping; anything else must pass require_mapping.
json &mapping_or_empty(json &value, const std::string &key_path);

} // namespace vaskit::config

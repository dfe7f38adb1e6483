#include "core/config.hpp"

#include "core/text.hpp"

#include <algorithm>
#include <utility>

namespace vaskit::config {

namespace {

// Nesting deeper than this is refused, as the YAML loader refuses it: printing a value recurses
// once per level.
constexpr int kMaxJsonDepth = 1000;

// 1-based line and column of byte `offset` of `text` (columns count characters).
std::pair<int, int> line_and_column(std::string_view text, std::size_t offset) {
  int line = 1, column = 1;
  const std::size_t upto = std::min(offset, text.size());
  for (std::size_t i = 0; i < upto; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  return {line, column};
}

// The offset of the bracket that opens level `depth` (strings skipped), or the end of `text`.
std::size_t opening_of_level(std::string_view text, int depth) {
  int level = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++level == depth)
        return i;
    } else if (c == ']' || c == '}') {
      --level;
    }
  }
  return text.size();
}

[[noreturn]] void fail_at(std::string_view text, std::size_t offset, std::string msg) {
  const auto [line, column] = line_and_column(text, offset);
  throw ParseError(msg, line, column);
}

// nlohmann's document builder, with every failure it reports (a syntax error, a number beyond
// the range of a double) and too deep a nesting thrown as ParseError at its place.
class DocumentBuilder : public nlohmann::detail::json_sax_dom_parser<json> {
public:
  DocumentBuilder(json &result, std::string_view text)
      : json_sax_dom_parser(result, true), text_(text) {}

  bool start_object(std::size_t n) {
    enter();
    return json_sax_dom_parser::start_object(n);
  }
  bool end_object() {
    --depth_;
    return json_sax_dom_parser::end_object();
  }
  bool start_array(std::size_t n) {
    enter();
    return json_sax_dom_parser::start_array(n);
  }
  bool end_array() {
    --depth_;
    return json_sax_dom_parser::end_array();
  }

  template <class Exception>
  bool parse_error(std::size_t position, const std::string & /*last_token*/, const Exception &ex) {
    std::string msg = ex.what();
    // nlohmann prefixes "[json.exception.<kind>.<id>] ", syntax errors also "parse error at
    // line L, column C: ".
    if (msg.rfind("[json.exception.", 0) == 0)
      if (auto close = msg.find("] "); close != std::string::npos)
        msg.erase(0, close + 2);
    if (msg.rfind("parse error", 0) == 0)
      if (auto colon = msg.find(": "); colon != std::string::npos)
        msg.erase(0, colon + 2);
    // The position counts the bytes read, the offending one included.
    fail_at(text_, position > 0 ? position - 1 : 0, std::move(msg));
  }

private:
  void enter() {
    if (++depth_ > kMaxJsonDepth)
      fail_at(text_, opening_of_level(text_, depth_),
              "nested more than " + std::to_string(kMaxJsonDepth) + " levels deep");
  }

  std::string_view text_;
  int depth_ = 0;
};

} // namespace

json parse_json(std::string_view text) {
  json result;
  DocumentBuilder builder(result, text);
  json::sax_parse(text.begin(), text.end(), &builder);
  return result;
}

bool truthy(const json &v) {
  switch (v.type()) {
  case json::value_t::null:
  case json::value_t::discarded:
    return false;
  case json::value_t::boolean:
    return v.get<bool>();
  case json::value_t::number_integer:
    return v.get<long long>() != 0;
  case json::value_t::number_unsigned:
    return v.get<unsigned long long>() != 0;
  case json::value_t::number_float:
    return v.get<double>() != 0.0;
  case json::value_t::string:
    return !v.get_ref<const std::string &>().empty();
  case json::value_t::array:
  case json::value_t::object:
  case json::value_t::binary:
    return !v.empty();
  }
  return false;
}

std::string to_text(const json &v) {
  switch (v.type()) {
  case json::value_t::null:
  case json::value_t::discarded:
    return "None";
  case json::value_t::boolean:
    return v.get<bool>() ? "True" : "False";
  case json::value_t::string:
    return v.get<std::string>();
  case json::value_t::number_float:
    return text::float_repr(v.get<double>());
  case json::value_t::array:
  case json::value_t::object:
    return repr(v);
  default:
    return v.dump();
  }
}

std::string repr(const json &v) {
  if (v.is_string())
    return text::py_repr(v.get<std::string>());
  if (v.is_array()) {
    std::string out = "[";
    bool first = true;
    for (const auto &item : v) {
      if (!first)
        out += ", ";
      first = false;
      out += repr(item);
    }
    return out + "]";
  }
  if (v.is_object()) {
    std::string out = "{";
    bool first = true;
    for (const auto &[key, item] : v.items()) {
      if (!first)
        out += ", ";
      first = false;
      out += text::py_repr(key) + ": " + repr(item);
    }
    return out + "}";
  }
  return to_text(v);
}

std::string shown(const json &v) {
  return text::printable(v.dump(-1, ' ', false, json::error_handler_t::replace));
}

ConfigError::ConfigError(std::string key_path, const std::string &expected, const json &value)
    : std::runtime_error((key_path.empty() ? std::string("the configuration") : key_path) +
                         " must be " + expected + ", got " + shown(value)),
      key_path_(std::move(key_path)) {}

ConfigError::ConfigError(Worded, std::string key_path, const std::string &message)
    : std::runtime_error(message), key_path_(std::move(key_path)) {}

ConfigError ConfigError::worded(std::string key_path, std::string message) {
  return ConfigError(Worded{}, std::move(key_path), message);
}

void require_mapping(const json &value, const std::string &key_path, const std::string &expected) {
  if (!value.is_object())
    throw ConfigError(key_path, expected, value);
}

json &mapping_or_empty(json &value, const std::string &key_path) {
  if (value.is_null())
    value = json::object();
  require_mapping(value, key_path);
  return value;
}

json get_or(const json &mapping, const std::string &key, const json &fallback) {
  if (mapping.is_object()) {
    auto it = mapping.find(key);
    if (it != mapping.end())
      return *it;
  }
  return fallback;
}

} // namespace vaskit::config

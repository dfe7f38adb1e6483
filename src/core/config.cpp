#include "core/config.hpp"

#include "core/text.hpp"

#include <algorithm>

namespace vaskit::config {

json parse_json(std::string_view text) {
  try {
    return json::parse(text.begin(), text.end());
  } catch (const json::parse_error &e) {
    // Byte offset to line and column, for a message the user can act on.
    int line = 1, column = 1;
    const std::size_t upto = std::min<std::size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
    for (std::size_t i = 0; i < upto; ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
        ++column;
      }
    }
    std::string msg = e.what();
    // nlohmann prefixes "[json.exception.parse_error.101] parse error at line L, column C: ".
    if (auto colon = msg.find(": "); colon != std::string::npos)
      msg = msg.substr(colon + 2);
    throw ParseError(msg, line, column);
  }
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
  default:
    return v.dump();
  }
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

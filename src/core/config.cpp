#include "core/config.hpp"

#include "core/re.hpp"
#include "core/text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <yaml-cpp/yaml.h>

namespace vaskit::config {
namespace {

// YAML 1.1 implicit types, as the tools' users' files were written for them.
const re::Pattern &bool_re() {
  static const re::Pattern p(
      R"(^(?:yes|Yes|YES|no|No|NO|true|True|TRUE|false|False|FALSE|on|On|ON|off|Off|OFF)$)");
  return p;
}
const re::Pattern &int_re() {
  static const re::Pattern p(
      R"(^(?:[-+]?0b[0-1_]+|[-+]?0[0-7_]+|[-+]?(?:0|[1-9][0-9_]*)|[-+]?0x[0-9a-fA-F_]+|[-+]?[1-9][0-9_]*(?::[0-5]?[0-9])+)$)");
  return p;
}
const re::Pattern &float_re() {
  static const re::Pattern p(
      R"(^(?:[-+]?(?:[0-9][0-9_]*)\.[0-9_]*(?:[eE][-+][0-9]+)?|\.[0-9][0-9_]*(?:[eE][-+][0-9]+)?|[-+]?[0-9][0-9_]*(?::[0-5]?[0-9])+\.[0-9_]*|[-+]?\.(?:inf|Inf|INF)|\.(?:nan|NaN|NAN))$)");
  return p;
}

std::string without_underscores(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != '_')
      out.push_back(c);
  return out;
}

// Python integers have no size limit; one that does not fit 64 bits becomes a real number
// (infinity beyond the double range) instead of failing the whole file or wrapping around.
class Accumulator {
public:
  void push(int base, unsigned digit) {
    Accumulator d;
    d.value_ = digit;
    d.real_ = digit;
    fold(static_cast<unsigned>(base), d);
  }
  // this = this * base + part
  void fold(unsigned base, const Accumulator &part) {
    real_ = real_ * base + part.real_;
    if (exact_ && part.exact_) {
      const auto limit = static_cast<unsigned __int128>(std::numeric_limits<long long>::max()) + 1;
      if (value_ > limit / base || value_ * base > limit - part.value_)
        exact_ = false;
      else
        value_ = value_ * base + part.value_;
    } else {
      exact_ = false;
    }
  }
  json result(bool negative) const {
    const auto max = static_cast<unsigned __int128>(std::numeric_limits<long long>::max());
    if (exact_ && (value_ <= max || (negative && value_ == max + 1)))
      return negative ? static_cast<long long>(-static_cast<__int128>(value_))
                      : static_cast<long long>(value_);
    const double d = static_cast<double>(real_);
    return negative ? -d : d;
  }

private:
  unsigned __int128 value_ = 0;
  long double real_ = 0;
  bool exact_ = true;
};

json resolve_int(std::string s) {
  s = without_underscores(s);
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.erase(0, 1);
  }
  Accumulator acc;
  // Sexagesimal: 1:30 is 90.
  if (s.find(':') != std::string::npos) {
    std::size_t pos = 0;
    while (true) {
      const auto colon = s.find(':', pos);
      Accumulator part;
      for (std::size_t i = pos; i < (colon == std::string::npos ? s.size() : colon); ++i)
        part.push(10, static_cast<unsigned>(text::hex_digit(s[i])));
      acc.fold(60, part);
      if (colon == std::string::npos)
        break;
      pos = colon + 1;
    }
    return acc.result(negative);
  }
  int base = 10;
  std::size_t start = 0;
  if (s.rfind("0b", 0) == 0) {
    base = 2;
    start = 2;
  } else if (s.rfind("0x", 0) == 0) {
    base = 16;
    start = 2;
  } else if (s.size() > 1 && s[0] == '0') {
    base = 8;
    start = 1;
  }
  for (std::size_t i = start; i < s.size(); ++i)
    acc.push(base, static_cast<unsigned>(text::hex_digit(s[i])));
  return acc.result(negative);
}

double to_double(const std::string &s) {
  // strtod gives infinity on overflow and zero on underflow, as Python's float() does.
  return std::strtod(s.c_str(), nullptr);
}

json resolve_float(std::string s) {
  s = without_underscores(s);
  double sign = 1;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    if (s[0] == '-')
      sign = -1;
    s.erase(0, 1);
  }
  if (s == ".inf" || s == ".Inf" || s == ".INF")
    return sign * std::numeric_limits<double>::infinity();
  if (s == ".nan" || s == ".NaN" || s == ".NAN")
    return std::numeric_limits<double>::quiet_NaN();
  if (s.find(':') != std::string::npos) {
    double value = 0;
    std::size_t pos = 0;
    while (true) {
      auto colon = s.find(':', pos);
      auto part = s.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
      value = value * 60 + to_double(part);
      if (colon == std::string::npos)
        break;
      pos = colon + 1;
    }
    return sign * value;
  }
  return sign * to_double(s);
}

json resolve_plain(const std::string &s) {
  if (s.empty() || s == "~" || s == "null" || s == "Null" || s == "NULL")
    return nullptr;
  if (bool_re().match(s)) {
    const char c = s[0];
    return c == 'y' || c == 'Y' || c == 't' || c == 'T' || s == "on" || s == "On" || s == "ON";
  }
  if (int_re().match(s))
    return resolve_int(s);
  if (float_re().match(s))
    return resolve_float(s);
  return s;
}

json convert(const YAML::Node &node) {
  switch (node.Type()) {
  case YAML::NodeType::Null:
  case YAML::NodeType::Undefined:
    return nullptr;
  case YAML::NodeType::Scalar: {
    const std::string &tag = node.Tag();
    const std::string &value = node.Scalar();
    if (tag == "?")
      return resolve_plain(value);
    if (tag == "tag:yaml.org,2002:int")
      return resolve_int(value);
    if (tag == "tag:yaml.org,2002:float")
      return resolve_float(value);
    if (tag == "tag:yaml.org,2002:bool" || tag == "tag:yaml.org,2002:null")
      return resolve_plain(value);
    return value; // quoted or explicitly tagged text
  }
  case YAML::NodeType::Sequence: {
    json arr = json::array();
    for (const auto &item : node)
      arr.push_back(convert(item));
    return arr;
  }
  case YAML::NodeType::Map: {
    json obj = json::object();
    for (const auto &kv : node) {
      const json key = convert(kv.first);
      obj[key.is_string() ? key.get<std::string>() : to_text(key)] = convert(kv.second);
    }
    return obj;
  }
  }
  return nullptr;
}

} // namespace

json parse_yaml(std::string_view text) {
  try {
    const YAML::Node root = YAML::Load(std::string(text));
    return convert(root);
  } catch (const YAML::Exception &e) {
    const int line = e.mark.is_null() ? 0 : e.mark.line + 1;
    const int column = e.mark.is_null() ? 0 : e.mark.column + 1;
    throw ParseError(e.msg, line, column);
  }
}

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

#include "tools/postrel/pyrepr.hpp"

#include "core/text.hpp"

namespace vaskit::postrel {

std::string py_repr(const config::json &v) {
  if (v.is_string())
    return text::py_repr(v.get<std::string>());
  if (v.is_array()) {
    std::string out = "[";
    bool first = true;
    for (const auto &item : v) {
      if (!first)
        out += ", ";
      first = false;
      out += py_repr(item);
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
      out += text::py_repr(key) + ": " + py_repr(item);
    }
    return out + "}";
  }
  return config::to_text(v);
}

std::string py_str(const config::json &v) {
  if (v.is_string())
    return v.get<std::string>();
  if (v.is_array() || v.is_object())
    return py_repr(v);
  return config::to_text(v);
}

} // namespace vaskit::postrel

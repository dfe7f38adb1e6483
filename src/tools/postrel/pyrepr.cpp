#include "tools/postrel/pyrepr.hpp"

#include "core/text.hpp"

#include <cstdio>
#include <utf8proc.h>

namespace vaskit::postrel {
namespace {

// Python's str.isprintable() for one code point: not in the categories Cc, Cf, Cs, Co, Cn,
// Zl, Zp, and not a separator other than the ASCII space.
bool printable(char32_t cp) {
  if (cp == U' ')
    return true;
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(cp))) {
  case UTF8PROC_CATEGORY_CC:
  case UTF8PROC_CATEGORY_CF:
  case UTF8PROC_CATEGORY_CS:
  case UTF8PROC_CATEGORY_CO:
  case UTF8PROC_CATEGORY_CN:
  case UTF8PROC_CATEGORY_ZS:
  case UTF8PROC_CATEGORY_ZL:
  case UTF8PROC_CATEGORY_ZP:
    return false;
  default:
    return true;
  }
}

std::string string_repr(const std::string &s) {
  const bool has_single = s.find('\'') != std::string::npos;
  const bool has_double = s.find('"') != std::string::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  std::string out(1, quote);
  for (char32_t cp : text::to_u32(s)) {
    char buf[16];
    if (cp == U'\\') {
      out += "\\\\";
    } else if (cp == static_cast<char32_t>(quote)) {
      out += '\\';
      out += quote;
    } else if (cp == U'\n') {
      out += "\\n";
    } else if (cp == U'\r') {
      out += "\\r";
    } else if (cp == U'\t') {
      out += "\\t";
    } else if (printable(cp)) {
      text::append_utf8(out, cp);
    } else {
      if (cp < 0x100)
        std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(cp));
      else if (cp < 0x10000)
        std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
      else
        std::snprintf(buf, sizeof buf, "\\U%08x", static_cast<unsigned>(cp));
      out += buf;
    }
  }
  out += quote;
  return out;
}

} // namespace

std::string py_repr(const config::json &v) {
  if (v.is_string())
    return string_repr(v.get<std::string>());
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
      out += string_repr(key) + ": " + py_repr(item);
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

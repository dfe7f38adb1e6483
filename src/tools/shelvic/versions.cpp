// Version families: which files are versions of one document, and which of them is newest.
#include "core/re.hpp"
#include "core/text.hpp"
#include "tools/shelvic/shelvic.hpp"

#include <limits>

namespace vaskit::shelvic {
namespace {

const re::Pattern &tag_pattern() {
  static const re::Pattern p(R"([-_]v\d+(?:\.\d+)*)", re::IGNORECASE);
  return p;
}

const re::Pattern &key_pattern() {
  static const re::Pattern p(R"([-_]v(\d+(?:\.\d+)*))", re::IGNORECASE);
  return p;
}

std::string valid_text(std::string_view s) {
  return text::valid_utf8(s) ? std::string(s) : text::sanitize_utf8(s);
}

// The value of a run of decimal digits of any script; nullopt when it does not fit.
std::optional<std::uint64_t> decimal_number(std::string_view digits) {
  constexpr auto max = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  bool any = false;
  for (char32_t cp : text::to_u32(digits)) {
    const int d = text::decimal_value(cp);
    if (d < 0)
      return std::nullopt;
    if (value > (max - static_cast<std::uint64_t>(d)) / 10)
      return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(d);
    any = true;
  }
  if (!any)
    return std::nullopt;
  return value;
}

} // namespace

std::string file_name_of(std::string_view path) {
  const auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string clean_version(std::string_view name) {
  const std::string file = valid_text(file_name_of(name));
  // The suffix starts at the last dot, unless that dot opens or ends the name.
  std::string stem = file, suffix;
  const auto dot = file.rfind('.');
  if (dot != std::string::npos && dot > 0 && dot + 1 < file.size()) {
    stem = file.substr(0, dot);
    suffix = file.substr(dot);
  }
  return text::lower(tag_pattern().sub("", stem) + suffix);
}

VersionKey get_version_key(std::string_view name) {
  const std::string subject = valid_text(name);
  const auto m = key_pattern().search(subject);
  if (!m)
    return {0};
  VersionKey key;
  for (const auto &part : text::split(m->group(1), ".")) {
    const auto v = decimal_number(part);
    if (!v)
      return {0};
    key.push_back(*v);
  }
  return key;
}

} // namespace vaskit::shelvic

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

// Bytes that are not UTF-8 stand for themselves in a name: each becomes a private code point of
// its own while the name is worked on (0x80..0xFF as U+10FF80..U+10FFFF), and its byte again
// afterwards, so that two names that differ only there stay apart. The name's own characters
// of that range, and the marker U+10FF7F itself, are written as the marker followed by the
// character, so that none of them is ever taken for an escaped byte. Tag removal and
// lower-casing leave all of these alone.
constexpr char32_t kEscapedByte = 0x10FF00;
constexpr char32_t kLiteral = 0x10FF7F;

std::string escape_bytes(std::string_view s) {
  if (text::valid_utf8(s))
    return std::string(s);
  std::string out;
  for (const text::CodePoint &u : text::code_points(s)) {
    if (u.ok) {
      if (u.cp >= kLiteral && u.cp <= kEscapedByte + 0xFF)
        text::append_utf8(out, kLiteral);
      out.append(s.substr(u.pos, u.len));
      continue;
    }
    for (std::size_t i = u.pos; i < u.pos + u.len; ++i)
      text::append_utf8(out, kEscapedByte + static_cast<unsigned char>(s[i]));
  }
  return out;
}

std::string unescape_bytes(std::string_view s) {
  std::string out;
  bool literal = false;
  for (const text::CodePoint &u : text::code_points(s)) {
    if (!literal && u.ok && u.cp == kLiteral) {
      literal = true;
      continue;
    }
    if (!literal && u.ok && u.cp >= kEscapedByte + 0x80 && u.cp <= kEscapedByte + 0xFF)
      out += static_cast<char>(u.cp - kEscapedByte);
    else
      out.append(s.substr(u.pos, u.len));
    literal = false;
  }
  return out;
}

// The bytes of `s` that are not part of a UTF-8 character, in order.
std::string stray_bytes(std::string_view s) {
  std::string out;
  for (const text::CodePoint &u : text::code_points(s))
    if (!u.ok)
      out.append(s.substr(u.pos, u.len));
  return out;
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
  const std::string raw = file_name_of(name);
  const bool escaped = !text::valid_utf8(raw);
  const std::string file = escape_bytes(raw);
  // The suffix starts at the last dot, unless that dot opens or ends the name.
  std::string stem = file, suffix;
  const auto dot = file.rfind('.');
  if (dot != std::string::npos && dot > 0 && dot + 1 < file.size()) {
    stem = file.substr(0, dot);
    suffix = file.substr(dot);
  }
  const std::string family = text::lower(tag_pattern().sub("", stem) + suffix);
  if (!escaped)
    return family;
  std::string bytes = unescape_bytes(family);
  // A removed tag can bring stray bytes together into a character ("\xE6\x8A_v1\xAE" reads
  // "\xE6\x8A\xAE" without it), and the name would join a readable name's family. Its key is
  // then the escaped text behind a marker that neither a name nor a text can hold: a NUL
  // followed by a byte that is never UTF-8.
  if (stray_bytes(bytes) != stray_bytes(raw))
    return std::string("\0\xFF", 2) + family;
  return bytes;
}

VersionKey get_version_key(std::string_view name) {
  const std::string subject = escape_bytes(name);
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

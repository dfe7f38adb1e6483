// UTF-8 helpers with Python str semantics; case mapping, digits and normalisation on utf8proc.
#include "core/text.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace vaskit::text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the code point at s[i]. Returns the number of bytes consumed (at least 1) and sets
// `ok`. An invalid sequence consumes its maximal valid prefix, the way Python's
// decode('utf-8', 'replace') emits one U+FFFD per maximal invalid subpart.
std::size_t decode(std::string_view s, std::size_t i, char32_t &cp, bool &ok) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  ok = false;
  cp = kReplacement;
  if (b0 < 0x80) {
    cp = b0;
    ok = true;
    return 1;
  }
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  char32_t value;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    value = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    value = b0 & 0x0F;
    if (b0 == 0xE0)
      lo = 0xA0;
    else if (b0 == 0xED)
      hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    value = b0 & 0x07;
    if (b0 == 0xF0)
      lo = 0x90;
    else if (b0 == 0xF4)
      hi = 0x8F;
  } else {
    return 1;
  }
  std::size_t k = 1;
  for (; k <= need; ++k) {
    if (i + k >= s.size())
      return k;
    const unsigned char b = byte(i + k);
    if (b < lo || b > hi)
      return k;
    lo = 0x80;
    hi = 0xBF;
    value = (value << 6) | (b & 0x3F);
  }
  cp = value;
  ok = true;
  return k;
}

// Python's _PyUnicode_IsCased, approximated by the cased letter categories.
bool is_cased(char32_t cp) {
  const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return cat == UTF8PROC_CATEGORY_LU || cat == UTF8PROC_CATEGORY_LL || cat == UTF8PROC_CATEGORY_LT;
}

// Unicode Case_Ignorable (categories Mn, Me, Cf, Lm, Sk and the Word_Break MidLetter,
// MidNumLet and Single_Quote characters).
bool is_case_ignorable(char32_t cp) {
  switch (cp) {
  case 0x0027:
  case 0x002E:
  case 0x003A:
  case 0x00B7:
  case 0x0387:
  case 0x05F4:
  case 0x2018:
  case 0x2019:
  case 0x2024:
  case 0x2027:
  case 0xFE13:
  case 0xFE52:
  case 0xFE55:
  case 0xFF07:
  case 0xFF0E:
  case 0xFF1A:
    return true;
  default:
    break;
  }
  const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return cat == UTF8PROC_CATEGORY_MN || cat == UTF8PROC_CATEGORY_ME ||
         cat == UTF8PROC_CATEGORY_CF || cat == UTF8PROC_CATEGORY_LM || cat == UTF8PROC_CATEGORY_SK;
}

struct SpecialUpper {
  char32_t cp;
  std::array<char32_t, 3> to;
};

// Code points whose str.upper() is longer than one code point (SpecialCasing.txt,
// unconditional mappings), sorted by code point. Other code points use the simple mapping.
constexpr SpecialUpper kSpecialUpper[] = {
    {0x00DF, {0x0053, 0x0053, 0x0000}}, {0x0149, {0x02BC, 0x004E, 0x0000}},
    {0x01F0, {0x004A, 0x030C, 0x0000}}, {0x0390, {0x0399, 0x0308, 0x0301}},
    {0x03B0, {0x03A5, 0x0308, 0x0301}}, {0x0587, {0x0535, 0x0552, 0x0000}},
    {0x1E96, {0x0048, 0x0331, 0x0000}}, {0x1E97, {0x0054, 0x0308, 0x0000}},
    {0x1E98, {0x0057, 0x030A, 0x0000}}, {0x1E99, {0x0059, 0x030A, 0x0000}},
    {0x1E9A, {0x0041, 0x02BE, 0x0000}}, {0x1F50, {0x03A5, 0x0313, 0x0000}},
    {0x1F52, {0x03A5, 0x0313, 0x0300}}, {0x1F54, {0x03A5, 0x0313, 0x0301}},
    {0x1F56, {0x03A5, 0x0313, 0x0342}}, {0x1F80, {0x1F08, 0x0399, 0x0000}},
    {0x1F81, {0x1F09, 0x0399, 0x0000}}, {0x1F82, {0x1F0A, 0x0399, 0x0000}},
    {0x1F83, {0x1F0B, 0x0399, 0x0000}}, {0x1F84, {0x1F0C, 0x0399, 0x0000}},
    {0x1F85, {0x1F0D, 0x0399, 0x0000}}, {0x1F86, {0x1F0E, 0x0399, 0x0000}},
    {0x1F87, {0x1F0F, 0x0399, 0x0000}}, {0x1F88, {0x1F08, 0x0399, 0x0000}},
    {0x1F89, {0x1F09, 0x0399, 0x0000}}, {0x1F8A, {0x1F0A, 0x0399, 0x0000}},
    {0x1F8B, {0x1F0B, 0x0399, 0x0000}}, {0x1F8C, {0x1F0C, 0x0399, 0x0000}},
    {0x1F8D, {0x1F0D, 0x0399, 0x0000}}, {0x1F8E, {0x1F0E, 0x0399, 0x0000}},
    {0x1F8F, {0x1F0F, 0x0399, 0x0000}}, {0x1F90, {0x1F28, 0x0399, 0x0000}},
    {0x1F91, {0x1F29, 0x0399, 0x0000}}, {0x1F92, {0x1F2A, 0x0399, 0x0000}},
    {0x1F93, {0x1F2B, 0x0399, 0x0000}}, {0x1F94, {0x1F2C, 0x0399, 0x0000}},
    {0x1F95, {0x1F2D, 0x0399, 0x0000}}, {0x1F96, {0x1F2E, 0x0399, 0x0000}},
    {0x1F97, {0x1F2F, 0x0399, 0x0000}}, {0x1F98, {0x1F28, 0x0399, 0x0000}},
    {0x1F99, {0x1F29, 0x0399, 0x0000}}, {0x1F9A, {0x1F2A, 0x0399, 0x0000}},
    {0x1F9B, {0x1F2B, 0x0399, 0x0000}}, {0x1F9C, {0x1F2C, 0x0399, 0x0000}},
    {0x1F9D, {0x1F2D, 0x0399, 0x0000}}, {0x1F9E, {0x1F2E, 0x0399, 0x0000}},
    {0x1F9F, {0x1F2F, 0x0399, 0x0000}}, {0x1FA0, {0x1F68, 0x0399, 0x0000}},
    {0x1FA1, {0x1F69, 0x0399, 0x0000}}, {0x1FA2, {0x1F6A, 0x0399, 0x0000}},
    {0x1FA3, {0x1F6B, 0x0399, 0x0000}}, {0x1FA4, {0x1F6C, 0x0399, 0x0000}},
    {0x1FA5, {0x1F6D, 0x0399, 0x0000}}, {0x1FA6, {0x1F6E, 0x0399, 0x0000}},
    {0x1FA7, {0x1F6F, 0x0399, 0x0000}}, {0x1FA8, {0x1F68, 0x0399, 0x0000}},
    {0x1FA9, {0x1F69, 0x0399, 0x0000}}, {0x1FAA, {0x1F6A, 0x0399, 0x0000}},
    {0x1FAB, {0x1F6B, 0x0399, 0x0000}}, {0x1FAC, {0x1F6C, 0x0399, 0x0000}},
    {0x1FAD, {0x1F6D, 0x0399, 0x0000}}, {0x1FAE, {0x1F6E, 0x0399, 0x0000}},
    {0x1FAF, {0x1F6F, 0x0399, 0x0000}}, {0x1FB2, {0x1FBA, 0x0399, 0x0000}},
    {0x1FB3, {0x0391, 0x0399, 0x0000}}, {0x1FB4, {0x0386, 0x0399, 0x0000}},
    {0x1FB6, {0x0391, 0x0342, 0x0000}}, {0x1FB7, {0x0391, 0x0342, 0x0399}},
    {0x1FBC, {0x0391, 0x0399, 0x0000}}, {0x1FC2, {0x1FCA, 0x0399, 0x0000}},
    {0x1FC3, {0x0397, 0x0399, 0x0000}}, {0x1FC4, {0x0389, 0x0399, 0x0000}},
    {0x1FC6, {0x0397, 0x0342, 0x0000}}, {0x1FC7, {0x0397, 0x0342, 0x0399}},
    {0x1FCC, {0x0397, 0x0399, 0x0000}}, {0x1FD2, {0x0399, 0x0308, 0x0300}},
    {0x1FD3, {0x0399, 0x0308, 0x0301}}, {0x1FD6, {0x0399, 0x0342, 0x0000}},
    {0x1FD7, {0x0399, 0x0308, 0x0342}}, {0x1FE2, {0x03A5, 0x0308, 0x0300}},
    {0x1FE3, {0x03A5, 0x0308, 0x0301}}, {0x1FE4, {0x03A1, 0x0313, 0x0000}},
    {0x1FE6, {0x03A5, 0x0342, 0x0000}}, {0x1FE7, {0x03A5, 0x0308, 0x0342}},
    {0x1FF2, {0x1FFA, 0x0399, 0x0000}}, {0x1FF3, {0x03A9, 0x0399, 0x0000}},
    {0x1FF4, {0x038F, 0x0399, 0x0000}}, {0x1FF6, {0x03A9, 0x0342, 0x0000}},
    {0x1FF7, {0x03A9, 0x0342, 0x0399}}, {0x1FFC, {0x03A9, 0x0399, 0x0000}},
    {0xFB00, {0x0046, 0x0046, 0x0000}}, {0xFB01, {0x0046, 0x0049, 0x0000}},
    {0xFB02, {0x0046, 0x004C, 0x0000}}, {0xFB03, {0x0046, 0x0046, 0x0049}},
    {0xFB04, {0x0046, 0x0046, 0x004C}}, {0xFB05, {0x0053, 0x0054, 0x0000}},
    {0xFB06, {0x0053, 0x0054, 0x0000}}, {0xFB13, {0x0544, 0x0546, 0x0000}},
    {0xFB14, {0x0544, 0x0535, 0x0000}}, {0xFB15, {0x0544, 0x053B, 0x0000}},
    {0xFB16, {0x054E, 0x0546, 0x0000}}, {0xFB17, {0x0544, 0x053D, 0x0000}},
};

const SpecialUpper *special_upper(char32_t cp) {
  const auto *end = std::end(kSpecialUpper);
  const auto *it = std::lower_bound(std::begin(kSpecialUpper), end, cp,
                                    [](const SpecialUpper &e, char32_t c) { return e.cp < c; });
  return it != end && it->cp == cp ? it : nullptr;
}

} // namespace

CodePoint decode_at(std::string_view s, std::size_t i) {
  CodePoint u{i, 0, kReplacement, false};
  u.len = decode(s, i, u.cp, u.ok);
  return u;
}

bool valid_utf8(std::string_view s) {
  // A branch per lead byte with the continuation bytes tested together: texts pass through here
  // once per stage, so this loop is on the hot path of every large document.
  const auto *p = reinterpret_cast<const unsigned char *>(s.data());
  const std::size_t n = s.size();
  auto cont = [p](std::size_t at) { return (p[at] & 0xC0) == 0x80; };
  std::size_t i = 0;
  while (i < n) {
    // ASCII runs are skipped eight bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, p + i, sizeof word);
      if (word & 0x8080808080808080ull)
        break;
      i += 8;
    }
    if (i >= n)
      break;
    const unsigned char b = p[i];
    if (b < 0x80) {
      ++i;
    } else if (b < 0xC2) {
      return false;
    } else if (b < 0xE0) {
      if (i + 1 >= n || !cont(i + 1))
        return false;
      i += 2;
    } else if (b < 0xF0) {
      if (i + 2 >= n || !cont(i + 1) || !cont(i + 2))
        return false;
      // No overlong forms (E0 80..9F) and no surrogates (ED A0..BF).
      if ((b == 0xE0 && p[i + 1] < 0xA0) || (b == 0xED && p[i + 1] > 0x9F))
        return false;
      i += 3;
    } else if (b < 0xF5) {
      if (i + 3 >= n || !cont(i + 1) || !cont(i + 2) || !cont(i + 3))
        return false;
      // No overlong forms (F0 80..8F) and nothing past U+10FFFF (F4 90..BF).
      if ((b == 0xF0 && p[i + 1] < 0x90) || (b == 0xF4 && p[i + 1] > 0x8F))
        return false;
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

void append_utf8(std::string &out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string sanitize_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (const CodePoint &u : code_points(s)) {
    if (u.ok)
      out.append(s.substr(u.pos, u.len));
    else
      append_utf8(out, kReplacement);
  }
  return out;
}

std::u32string to_u32(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (const CodePoint &u : code_points(s))
    out += u.cp; // U+FFFD when invalid
  return out;
}

std::string from_u32(std::u32string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char32_t cp : s)
    append_utf8(out, cp);
  return out;
}

std::size_t length(std::string_view s) {
  const CodePoints units(s);
  return static_cast<std::size_t>(std::distance(units.begin(), units.end()));
}

std::string prefix(std::string_view s, std::size_t n) {
  auto it = code_points(s).begin();
  for (std::size_t k = 0; k < n && it->pos < s.size(); ++k)
    ++it;
  return std::string(s.substr(0, it->pos));
}

bool is_space(char32_t cp) {
  switch (cp) {
  case 0x09:
  case 0x0A:
  case 0x0B:
  case 0x0C:
  case 0x0D:
  case 0x1C:
  case 0x1D:
  case 0x1E:
  case 0x1F:
  case 0x20:
  case 0x85:
  case 0xA0:
  case 0x1680:
  case 0x2028:
  case 0x2029:
  case 0x202F:
  case 0x205F:
  case 0x3000:
    return true;
  default:
    return cp >= 0x2000 && cp <= 0x200A;
  }
}

namespace {

// Offset of the first code point that is not white space.
std::size_t lstrip_begin(std::string_view s) {
  for (const CodePoint &u : code_points(s))
    if (!u.ok || !is_space(u.cp))
      return u.pos;
  return s.size();
}

// End of the last code point that is not white space (decoded forwards, so that invalid bytes
// group as they do when decoding).
std::size_t rstrip_end(std::string_view s) {
  std::size_t keep = 0;
  for (const CodePoint &u : code_points(s))
    if (!u.ok || !is_space(u.cp))
      keep = u.pos + u.len;
  return keep;
}

} // namespace

std::string lstrip(std::string_view s) {
  return std::string(s.substr(lstrip_begin(s)));
}

std::string rstrip(std::string_view s) {
  return std::string(s.substr(0, rstrip_end(s)));
}

std::string strip(std::string_view s) {
  const std::string_view rest = s.substr(lstrip_begin(s));
  return std::string(rest.substr(0, rstrip_end(rest)));
}

std::string strip_chars(std::string_view s, std::string_view chars) {
  const std::size_t b = s.find_first_not_of(chars);
  if (b == std::string_view::npos)
    return {};
  const std::size_t e = s.find_last_not_of(chars);
  return std::string(s.substr(b, e + 1 - b));
}

std::string lower(std::string_view s) {
  const CodePoints cps(s);
  const std::vector<CodePoint> us(cps.begin(), cps.end());
  std::string out;
  out.reserve(s.size());
  for (std::size_t k = 0; k < us.size(); ++k) {
    const CodePoint &u = us[k];
    if (!u.ok) { // invalid bytes are kept as they are
      out.append(s.substr(u.pos, u.len));
      continue;
    }
    if (u.cp == 0x0130) { // İ -> i + COMBINING DOT ABOVE
      out += 'i';
      append_utf8(out, 0x0307);
      continue;
    }
    if (u.cp == 0x03A3) { // Σ: final form ς at the end of a word (Final_Sigma, as Python)
      std::size_t j = k;
      bool before = false;
      while (j > 0) {
        --j;
        if (us[j].ok && is_case_ignorable(us[j].cp))
          continue;
        before = us[j].ok && is_cased(us[j].cp);
        break;
      }
      bool final_sigma = before;
      if (final_sigma) {
        for (j = k + 1; j < us.size(); ++j) {
          if (us[j].ok && is_case_ignorable(us[j].cp))
            continue;
          final_sigma = !(us[j].ok && is_cased(us[j].cp));
          break;
        }
      }
      append_utf8(out, final_sigma ? 0x03C2 : 0x03C3);
      continue;
    }
    append_utf8(out, static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(u.cp))));
  }
  return out;
}

std::string upper(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (const CodePoint &u : code_points(s)) {
    if (!u.ok) {
      out.append(s.substr(u.pos, u.len));
    } else if (const SpecialUpper *sp = special_upper(u.cp)) {
      for (char32_t c : sp->to)
        if (c != 0)
          append_utf8(out, c);
    } else {
      append_utf8(out,
                  static_cast<char32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(u.cp))));
    }
  }
  return out;
}

std::vector<std::string> splitlines(std::string_view s) {
  std::vector<std::string> out;
  std::size_t start = 0, i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t brk = 0; // length of the line boundary at i
    if (b == '\r')
      brk = (i + 1 < n && s[i + 1] == '\n') ? 2 : 1;
    else if (b == '\n' || b == 0x0B || b == 0x0C || b == 0x1C || b == 0x1D || b == 0x1E)
      brk = 1;
    else if (b == 0xC2 && i + 1 < n && static_cast<unsigned char>(s[i + 1]) == 0x85)
      brk = 2;
    else if (b == 0xE2 && i + 2 < n && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
             (static_cast<unsigned char>(s[i + 2]) == 0xA8 ||
              static_cast<unsigned char>(s[i + 2]) == 0xA9))
      brk = 3;
    if (brk == 0) {
      ++i;
      continue;
    }
    out.emplace_back(s.substr(start, i - start));
    i += brk;
    start = i;
  }
  if (start < n)
    out.emplace_back(s.substr(start));
  return out;
}

std::vector<std::string> split(std::string_view s, std::string_view sep) {
  if (sep.empty())
    throw std::invalid_argument("text::split: empty separator");
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = s.find(sep, start);
    if (at == std::string_view::npos)
      break;
    out.emplace_back(s.substr(start, at - start));
    start = at + sep.size();
  }
  out.emplace_back(s.substr(start));
  return out;
}

std::string replace_all(std::string_view s, std::string_view from, std::string_view to) {
  std::string out;
  if (from.empty()) { // Python inserts `to` at every code point boundary, ends included
    out.reserve(s.size() + (s.size() + 1) * to.size());
    out.append(to);
    for (const CodePoint &u : code_points(s)) {
      out.append(s.substr(u.pos, u.len));
      out.append(to);
    }
    return out;
  }
  out.reserve(s.size());
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = s.find(from, start);
    if (at == std::string_view::npos)
      break;
    out.append(s.substr(start, at - start));
    out.append(to);
    start = at + from.size();
  }
  out.append(s.substr(start));
  return out;
}

bool starts_with(std::string_view s, std::string_view prefix) {
  return s.starts_with(prefix);
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.ends_with(suffix);
}

std::string join(const std::vector<std::string> &parts, std::string_view sep) {
  std::string out;
  std::size_t total = 0;
  for (const auto &p : parts)
    total += p.size() + sep.size();
  out.reserve(total);
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k)
      out.append(sep);
    out.append(parts[k]);
  }
  return out;
}

bool is_printable(char32_t cp) {
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

namespace {

void append_escape(std::string &out, char32_t cp) {
  char buf[16];
  if (cp < 0x100)
    std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(cp));
  else if (cp < 0x10000)
    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
  else
    std::snprintf(buf, sizeof buf, "\\U%08x", static_cast<unsigned>(cp));
  out += buf;
}

} // namespace

std::string py_repr(std::string_view s) {
  const bool has_single = s.find('\'') != std::string_view::npos;
  const bool has_double = s.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  std::string out(1, quote);
  for (const CodePoint &u : code_points(s)) {
    const char32_t cp = u.cp;
    if (!u.ok) {
      // Python holds such bytes as lone surrogates (surrogateescape), shown as \udcXX.
      for (std::size_t i = u.pos; i < u.pos + u.len; ++i)
        append_escape(out, 0xDC00 + static_cast<unsigned char>(s[i]));
    } else if (cp == U'\\' || cp == static_cast<char32_t>(quote)) {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp == U'\n') {
      out += "\\n";
    } else if (cp == U'\r') {
      out += "\\r";
    } else if (cp == U'\t') {
      out += "\\t";
    } else if (is_printable(cp)) {
      out.append(s.substr(u.pos, u.len));
    } else {
      append_escape(out, cp);
    }
  }
  out += quote;
  return out;
}

std::string printable(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (const CodePoint &u : code_points(s)) {
    const char32_t cp = u.cp;
    const bool control =
        (cp < 0x20 && cp != '\t' && cp != '\n') || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F);
    if (!u.ok || control)
      append_utf8(out, kReplacement);
    else
      out.append(s.substr(u.pos, u.len));
  }
  return out;
}

void append_html_escaped(std::string &out, std::string_view s, bool quote) {
  // Runs without special characters are copied whole.
  auto special = [quote](char c) {
    return c == '&' || c == '<' || c == '>' || (quote && c == '"');
  };
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t j = i;
    while (j < s.size() && !special(s[j]))
      ++j;
    out.append(s.substr(i, j - i));
    if (j == s.size())
      break;
    switch (s[j]) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    default:
      out += "&quot;";
    }
    i = j + 1;
  }
}

std::string html_escape(std::string_view s, bool quote) {
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  append_html_escaped(out, s, quote);
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    c = ascii_lower(c);
  return out;
}

std::string ascii_upper(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    c = ascii_upper(c);
  return out;
}

bool iequals_ascii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ascii_lower(x) == ascii_lower(y);
         });
}

bool istarts_with_ascii(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && iequals_ascii(s.substr(0, prefix.size()), prefix);
}

bool is_decimal(char32_t cp) {
  return utf8proc_category(static_cast<utf8proc_int32_t>(cp)) == UTF8PROC_CATEGORY_ND;
}

int decimal_value(char32_t cp) {
  if (cp >= U'0' && cp <= U'9')
    return static_cast<int>(cp - U'0');
  if (!is_decimal(cp))
    return -1;
  // Unicode assigns decimal digits in runs of ten, zero first; adjacent runs (the mathematical
  // digits) stay aligned, so the value is the distance from the run's start modulo ten.
  char32_t start = cp;
  while (start > 0 && is_decimal(start - 1))
    --start;
  return static_cast<int>((cp - start) % 10);
}

std::string nfkd(std::string_view s) {
  const std::string clean = sanitize_utf8(s);
  utf8proc_uint8_t *mapped = nullptr;
  const utf8proc_ssize_t n = utf8proc_map(
      reinterpret_cast<const utf8proc_uint8_t *>(clean.data()),
      static_cast<utf8proc_ssize_t>(clean.size()), &mapped,
      static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPAT | UTF8PROC_DECOMPOSE));
  const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(mapped, &std::free);
  if (n < 0) {
    if (n == UTF8PROC_ERROR_NOMEM)
      throw std::bad_alloc();
    throw std::runtime_error(utf8proc_errmsg(n));
  }
  return std::string(reinterpret_cast<const char *>(mapped), static_cast<std::size_t>(n));
}

std::string float_repr(double v) {
  if (std::isnan(v))
    return "nan";
  if (std::isinf(v))
    return v < 0 ? "-inf" : "inf";
  // Shortest round-trip digits, then laid out by repr's rule.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  std::string out;
  if (sci.front() == '-') {
    out = "-";
    sci.remove_prefix(1);
  }
  const std::size_t epos = sci.find('e');
  int exp = 0; // printed as %e prints it: a sign, then at least two digits
  std::from_chars(sci.data() + epos + 2, sci.data() + sci.size(), exp);
  if (sci[epos + 1] == '-')
    exp = -exp;
  std::string digits;
  for (char c : sci.substr(0, epos))
    if (c != '.')
      digits += c;
  const int n = static_cast<int>(digits.size());
  if (exp >= -4 && exp < 16) {
    const int point = exp + 1; // digits before the decimal point
    if (point <= 0)
      out += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    else if (point >= n)
      out += digits + std::string(static_cast<std::size_t>(point - n), '0') + ".0";
    else
      out += digits.substr(0, static_cast<std::size_t>(point)) + "." +
             digits.substr(static_cast<std::size_t>(point));
    return out;
  }
  out += digits.substr(0, 1);
  if (n > 1)
    out += "." + digits.substr(1);
  const int mag = exp < 0 ? -exp : exp;
  out += exp < 0 ? "e-" : "e+";
  if (mag < 10)
    out += '0';
  out += std::to_string(mag);
  return out;
}

} // namespace vaskit::text

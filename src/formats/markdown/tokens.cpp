#include "formats/markdown/tokens.hpp"

#include "formats/markdown/detail.hpp"

namespace vaskit::markdown::detail {
namespace {

constexpr std::string_view kCodePlaceholder = "<!--CODE_PLACEHOLDER_";
constexpr std::string_view kMathPlaceholder = "<!--MATH_PLACEHOLDER_";

std::string make_token(char kind, std::string_view digits) {
  std::string t(kTokOpen);
  t += kind;
  t += digits;
  t += kTokClose;
  return t;
}

} // namespace

std::string shield_text(std::string_view md, bool placeholders, std::size_t &tokens) {
  std::string out;
  out.reserve(md.size() + md.size() / 8);
  const char lt = placeholders ? '<' : '\xEE'; // without placeholders "<" needs no look
  std::size_t i = 0;
  while (i < md.size()) {
    std::size_t j = i;
    while (j < md.size() && md[j] != lt && md[j] != '\xEE' && md[j] != '\r')
      ++j;
    out.append(md.substr(i, j - i));
    if (j == md.size())
      break;
    i = j;
    if (md[j] == '\r') { // CR LF and lone CR end lines
      out += '\n';
      i += md.substr(j, 2) == "\r\n" ? 2 : 1;
      continue;
    }
    const std::string_view rest = md.substr(j);
    if (placeholders &&
        (rest.starts_with(kCodePlaceholder) || rest.starts_with(kMathPlaceholder))) {
      const std::size_t d0 = kCodePlaceholder.size();
      const std::size_t d1 = digits_end(rest, d0);
      if (d1 > d0 && rest.substr(d1).starts_with("-->")) {
        out += make_token(rest[4] == 'C' ? 'C' : 'M', rest.substr(d0, d1 - d0));
        ++tokens;
        i += d1 + 3;
        continue;
      }
    } else if (rest.starts_with(kTokOpen) || rest.starts_with(kSentOpen)) {
      out += make_token(rest.starts_with(kTokOpen) ? 'P' : 'Q', "");
      ++tokens;
      i += kTokOpen.size();
      continue;
    }
    out += md[j];
    ++i;
  }
  return out;
}

Token token_at(std::string_view s, std::size_t i) {
  Token t;
  const std::string_view rest = s.substr(i);
  const bool raw = rest.starts_with(kTokOpen);
  if (!raw && !rest.starts_with(kTokOpenUrl))
    return t;
  std::size_t p = raw ? kTokOpen.size() : kTokOpenUrl.size();
  if (p >= rest.size())
    return t;
  const char kind = rest[p++];
  std::size_t q = p;
  if (kind == 'C' || kind == 'M') {
    q = digits_end(rest, p);
    if (q == p)
      return t;
  } else if (kind != 'P' && kind != 'Q') {
    return t;
  }
  const std::string_view close = raw ? kTokClose : kTokCloseUrl;
  if (!rest.substr(q).starts_with(close))
    return t;
  t.length = q + close.size();
  t.kind = kind;
  t.digits = rest.substr(p, q - p);
  return t;
}

void append_unshielded(std::string &out, std::string_view html) {
  std::size_t i = 0;
  while (i < html.size()) {
    std::size_t j = i;
    while (j < html.size() && html[j] != '\xEE' && html[j] != '%')
      ++j;
    out.append(html.substr(i, j - i));
    if (j == html.size())
      break;
    i = j;
    const Token t = token_at(html, j);
    if (t.length == 0) {
      out += html[j];
      ++i;
      continue;
    }
    const bool raw = html[j] == '\xEE';
    switch (t.kind) {
    case 'C':
    case 'M':
      out += t.kind == 'C' ? kCodePlaceholder : kMathPlaceholder;
      out += t.digits;
      out += "-->";
      break;
    case 'P':
      out += raw ? kTokOpen : kTokOpenUrl;
      break;
    default:
      out += raw ? kSentOpen : std::string_view("%EE%80%82");
      break;
    }
    i += t.length;
  }
}

std::string drop_tokens(std::string_view s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t j = s.find(kTokOpen, i);
    if (j == npos) {
      out.append(s.substr(i));
      break;
    }
    out.append(s.substr(i, j - i));
    const Token t = token_at(s, j);
    if (t.length == 0) {
      out.append(kTokOpen);
      i = j + kTokOpen.size();
    } else {
      i = j + t.length;
    }
  }
  return out;
}

bool is_lone_token(std::string_view line) {
  const std::string_view core = trim_ascii(line);
  if (!core.starts_with(kTokOpen))
    return false;
  const Token t = token_at(core, 0);
  return t.length == core.size() && (t.kind == 'C' || t.kind == 'M');
}

} // namespace vaskit::markdown::detail

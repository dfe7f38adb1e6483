#include "formats/markdown/tokens.hpp"

#include "formats/markdown/detail.hpp"

#include <unordered_map>
#include <vector>

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

// Where the "|" of the line's code spans stand (see shield_code_span_pipes), in order. Linear in
// the line: each backtick length keeps a cursor into the runs of that length, which only moves
// forward as the openers do.
void code_span_pipes(std::string_view line, std::vector<std::size_t> &at) {
  struct Run {
    std::size_t pos, len;
  };
  std::vector<Run> runs; // maximal runs of backticks, as closers are found
  std::unordered_map<std::size_t, std::vector<std::size_t>> by_length;
  for (std::size_t i = line.find('`'); i != npos; i = line.find('`', i)) {
    std::size_t end = i;
    while (end < line.size() && line[end] == '`')
      ++end;
    by_length[end - i].push_back(runs.size());
    runs.push_back({i, end - i});
    i = end;
  }
  std::unordered_map<std::size_t, std::size_t> cursor;
  std::size_t run = 0; // the run that holds or follows position i
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == '\\') { // an escaped backtick opens nothing
      i += 2;
      continue;
    }
    if (line[i] != '`') {
      ++i;
      continue;
    }
    while (runs[run].pos + runs[run].len <= i)
      ++run;
    // After an escaped backtick the opener is the rest of its run.
    const std::size_t open_end = runs[run].pos + runs[run].len;
    const std::size_t len = open_end - i;
    const std::vector<std::size_t> &same = by_length[len];
    std::size_t &c = cursor[len];
    while (c < same.size() && same[c] <= run)
      ++c;
    if (c == same.size()) { // no closer: the backticks are text
      i = open_end;
      continue;
    }
    const std::size_t close = runs[same[c]].pos;
    for (std::size_t p = open_end; p < close; ++p)
      if (line[p] == '|' && line[p - 1] != '\\')
        at.push_back(p);
    i = close + len;
  }
}

} // namespace

void shield_code_span_pipes(std::string &text) {
  if (text.find('`') == npos || text.find('|') == npos)
    return;
  std::string out;
  std::size_t copied = 0; // text before this is in `out` (once a line changed)
  std::vector<std::size_t> pipes;
  for (std::size_t begin = 0; begin < text.size();) {
    std::size_t end = text.find('\n', begin);
    if (end == npos)
      end = text.size();
    const std::string_view line = std::string_view(text).substr(begin, end - begin);
    if (line.find('`') != npos && line.find('|') != npos) {
      pipes.clear();
      code_span_pipes(line, pipes);
      for (const std::size_t p : pipes) {
        out.append(text, copied, begin + p - copied);
        out += kTokOpen;
        out += 'V';
        out += kTokClose;
        copied = begin + p + 1;
      }
    }
    begin = end + 1;
  }
  if (copied == 0)
    return;
  out.append(text, copied);
  text.swap(out);
}

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
  shield_code_span_pipes(out);
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
  } else if (kind != 'P' && kind != 'Q' && kind != 'V') {
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
    case 'V': // as cmark writes a "|" in a link target
      out += raw ? std::string_view("|") : std::string_view("%7C");
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

// Code and formulas are taken out of the Markdown before rendering and put back afterwards, so
// that the renderer neither reformats code nor reads TeX as Markdown.
#include "core/re.hpp"
#include "core/text.hpp"
#include "formats/markdown/fences.hpp"
#include "tools/prosett/log.hpp"
#include "tools/prosett/stages.hpp"

#include <algorithm>
#include <charconv>
#include <exception>
#include <optional>

namespace vaskit::prosett {
namespace {

constexpr std::string_view kCodeKind = "CODE_PLACEHOLDER_";
constexpr std::string_view kMathKind = "MATH_PLACEHOLDER_";

std::string code_placeholder(std::size_t n) {
  return "<!--CODE_PLACEHOLDER_" + std::to_string(n) + "-->";
}
std::string math_placeholder(std::size_t n) {
  return "<!--MATH_PLACEHOLDER_" + std::to_string(n) + "-->";
}

// The forms in which a placeholder can reach the HTML: as written, escaped as text by the
// renderer (code it rendered itself, alt texts, attributes), or percent-encoded in a URL.
enum class Form { Plain, Escaped, Percent };

struct Found {
  bool is_code;
  std::size_t index;
  std::size_t begin; // start of "<!--" (or its escaped form)
  std::size_t end;   // just after "-->" (or its escaped form)
  Form form;
};

// Reads a placeholder whose "!--" starts at `bang`. Numbers are written without leading zeros.
std::optional<Found> placeholder_at(std::string_view s, std::size_t bang, bool plain_only) {
  // Callers point at any "<" + 1; the marker is looked for only where it fits.
  if (bang > s.size() || s.substr(bang, 3) != "!--")
    return std::nullopt;
  Form form;
  std::size_t begin;
  if (bang >= 1 && s[bang - 1] == '<') {
    form = Form::Plain;
    begin = bang - 1;
  } else if (plain_only) {
    return std::nullopt;
  } else if (bang >= 4 && s.substr(bang - 4, 4) == "&lt;") {
    form = Form::Escaped;
    begin = bang - 4;
  } else if (bang >= 3 && text::iequals_ascii(s.substr(bang - 3, 3), "%3C")) {
    form = Form::Percent;
    begin = bang - 3;
  } else {
    return std::nullopt;
  }
  std::size_t p = bang + 3;
  const std::string_view rest = s.substr(p);
  bool is_code;
  if (rest.starts_with(kCodeKind))
    is_code = true;
  else if (rest.starts_with(kMathKind))
    is_code = false;
  else
    return std::nullopt;
  p += kCodeKind.size();
  const std::size_t digits_begin = p;
  while (p < s.size() && s[p] >= '0' && s[p] <= '9' && p - digits_begin < 18)
    ++p;
  const std::size_t ndigits = p - digits_begin;
  if (ndigits == 0 || (ndigits > 1 && s[digits_begin] == '0'))
    return std::nullopt;
  std::size_t index = 0;
  std::from_chars(s.data() + digits_begin, s.data() + p, index);
  const std::string_view tail = s.substr(p);
  std::size_t close = 0;
  switch (form) {
  case Form::Plain:
    close = tail.starts_with("-->") ? 3 : 0;
    break;
  case Form::Escaped:
    close = tail.starts_with("--&gt;") ? 6 : 0;
    break;
  case Form::Percent:
    close =
        tail.size() >= 5 && tail.starts_with("--") && text::iequals_ascii(tail.substr(2, 3), "%3E")
            ? 5
            : 0;
    break;
  }
  if (close == 0)
    return std::nullopt;
  return Found{is_code, index, begin, p + close, form};
}

// Calls on_text for the stretches between placeholders and on_placeholder for each one whose
// number `valid` accepts; other placeholders are passed on as text.
template <class Valid, class OnText, class OnPlaceholder>
void scan_placeholders(std::string_view s, bool plain_only, Valid &&valid, OnText &&on_text,
                       OnPlaceholder &&on_placeholder) {
  std::size_t copied = 0;
  std::size_t pos = 0;
  while ((pos = s.find("!--", pos)) != std::string_view::npos) {
    auto found = placeholder_at(s, pos, plain_only);
    if (!found || !valid(*found)) {
      pos += 3;
      continue;
    }
    on_text(s.substr(copied, found->begin - copied));
    on_placeholder(*found);
    copied = pos = found->end;
  }
  on_text(s.substr(copied));
}

// Escaping for text shown where the renderer had escaped the placeholder: quotes too, since
// that may be an attribute value.
void append_escaped_text(std::string &out, std::string_view text) {
  text::append_html_escaped(out, text, true);
}

// The renderer's escaping of link destinations: unsafe bytes percent-encoded, "&" and "'" as
// character references.
void append_href_escaped(std::string &out, std::string_view text) {
  static constexpr std::string_view safe = "-_.+!*(),%#@?=;:/$~";
  static constexpr char hex[] = "0123456789ABCDEF";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        safe.find(ch) != std::string_view::npos) {
      out += ch;
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '\'') {
      out += "&#x27;";
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  }
}

struct Tag {
  std::size_t end; // after its ">"
  bool closing;
  bool self_closing;
  bool is_code_element; // pre or code
};

// The start or end tag at `lt`, if one stands there. Quoted attribute values may hold ">" and
// placeholders ("<!--…-->").
std::optional<Tag> tag_at(std::string_view s, std::size_t lt) {
  std::size_t p = lt + 1;
  const bool closing = p < s.size() && s[p] == '/';
  if (closing)
    ++p;
  auto is_alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (p >= s.size() || !is_alpha(s[p]))
    return std::nullopt;
  const std::size_t name_begin = p;
  while (p < s.size() && (is_alpha(s[p]) || (s[p] >= '0' && s[p] <= '9') || s[p] == '-'))
    ++p;
  const std::string_view name = s.substr(name_begin, p - name_begin);
  if (p < s.size() && s[p] != '>' && s[p] != '/' && s[p] != ' ' && s[p] != '\t' && s[p] != '\n' &&
      s[p] != '\r' && s[p] != '\f')
    return std::nullopt;
  char quote = 0;
  while (p < s.size()) {
    const char c = s[p];
    if (c == '<') {
      // Only a placeholder may stand in an attribute value; any other "<" ends the attempt, so
      // that each stretch of the text is looked at once however broken the markup is.
      const auto f = quote ? placeholder_at(s, p + 1, true) : std::nullopt;
      if (!f)
        return std::nullopt;
      p = f->end;
      continue;
    }
    if (quote) {
      if (c == quote)
        quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      const bool self_closing = s[p - 1] == '/';
      return Tag{p + 1, closing, self_closing,
                 text::iequals_ascii(name, "pre") || text::iequals_ascii(name, "code")};
    }
    ++p;
  }
  return std::nullopt;
}

// A stretch of the text being shielded: [begin, end) of the current buffer.
struct Piece {
  std::size_t begin, end;
  bool code; // fenced code: no formula is looked for in it
};

bool is_fence_tag(std::string_view info) {
  for (char c : info) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-' || c == '+';
    if (!ok)
      return false;
  }
  return true;
}

} // namespace

std::string escape_html(std::string_view text) {
  return text::html_escape(text);
}

ShieldedMarkdown protect_markdown_code_and_math(std::string_view md_content) {
  std::optional<re::Utf8> valid;
  try {
    valid = re::Utf8::check(md_content);
  } catch (const std::exception &e) {
    log().warning(std::string("⚠️ 公式或程式碼預處理出錯: ") + e.what());
    throw;
  }
  return protect_markdown_code_and_math(*valid);
}

ShieldedMarkdown protect_markdown_code_and_math(re::Utf8 valid_content) {
  const std::string_view md_content = valid_content.view();
  static const re::Pattern inline_code(R"((`[^`\r\n]+`))");
  static const re::Pattern display_math(R"(\$\$\s*([\s\S]*?)\s*\$\$)");
  static const re::Pattern env_math(
      R"(\$\r?\n\s*(\\begin\{[a-zA-Z0-9_*]+\}[\s\S]*?\\end\{[a-zA-Z0-9_*]+\})\r?\n\s*\$)");
  static const re::Pattern inline_math(R"(\$(?!\s)([^\$\r\n]+?)(?<!\s)\$)");

  ShieldedMarkdown result;
  auto &code = result.code_placeholders;
  auto &math = result.math_placeholders;
  std::vector<Piece> pieces;
  // A formula placeholder that a later formula swallowed goes back into that formula as its
  // source text, once; otherwise it would reach the page as a bare comment.
  std::vector<bool> swallowed;

  auto code_replacer = [&](const re::Match &m) {
    const std::string_view inline_span = m.group(1);
    std::string html = "<code>";
    text::append_html_escaped(html, inline_span.substr(1, inline_span.size() - 2));
    html += "</code>";
    std::string placeholder = code_placeholder(code.size());
    code.push_back({placeholder, std::move(html), std::string(inline_span)});
    return placeholder;
  };

  auto unswallow = [&](std::string_view text) {
    std::string out;
    scan_placeholders(
        text, true,
        [&](const Found &f) { return !f.is_code && f.index < math.size() && !swallowed[f.index]; },
        [&](std::string_view t) { out.append(t); },
        [&](const Found &f) {
          swallowed[f.index] = true;
          out += math[f.index].source;
        });
    return out;
  };

  auto math_replacer = [&](const re::Match &m, bool is_block) {
    const std::string_view whole = m.group(0);
    const std::size_t lead = m.start(1) - m.start(0);
    const std::size_t trail_begin = m.end(1) - m.start(0);
    std::string content = unswallow(m.group(1));
    std::string source =
        std::string(whole.substr(0, lead)) + content + std::string(whole.substr(trail_begin));
    std::string placeholder = math_placeholder(math.size());
    math.push_back({placeholder, std::move(content), is_block, std::move(source)});
    swallowed.push_back(false);
    return placeholder;
  };

  // Each step reads one buffer and writes the other, piece by piece; the two take turns.
  re::Utf8Text text, next;
  text.reserve(md_content.size() + md_content.size() / 8);
  auto add_piece = [&](re::Utf8Text &to, std::size_t begin, bool is_code) {
    pieces.push_back({begin, to.size(), is_code});
  };
  // Code spans need a backtick: stretches without one are taken as they are.
  auto outside_piece = [&](re::Utf8 part) {
    const std::size_t begin = text.size();
    if (part.view().find('`') == std::string_view::npos)
      text.append(part);
    else
      inline_code.sub_into(text, code_replacer, part);
    add_piece(text, begin, false);
  };

  try {
    const re::Utf8 all = valid_content;
    // Fenced blocks by the line scanner; inline spans only between them.
    std::size_t pos = 0;
    for (const auto &block : markdown::scan_fenced_blocks(md_content)) {
      outside_piece(all.substr(pos, block.begin - pos));
      const std::size_t begin = text.size();
      if (block.fence_char == '`' && is_fence_tag(block.info)) {
        const std::string lang(block.info);
        const std::string class_attr = lang.empty() ? "" : " class=\"language-" + lang + "\"";
        std::string html =
            "<pre><code" + class_attr + ">" + escape_html(block.code) + "</code></pre>";
        std::string placeholder = code_placeholder(code.size());
        code.push_back({placeholder, std::move(html),
                        std::string(md_content.substr(block.fence_begin,
                                                      block.fence_end - block.fence_begin))});
        // The container prefix before the fence and the blanks after the closing fence stay, so
        // the placeholder sits in the list item or quote the block was in.
        text.append(all.substr(block.begin, block.fence_begin - block.begin));
        text.append_checked(placeholder);
        text.append(all.substr(block.fence_end, block.end - block.fence_end));
      } else {
        // Other fences (tildes, free-form info text) are the renderer's to draw.
        text.append(all.substr(block.begin, block.end - block.begin));
      }
      add_piece(text, begin, true);
      pos = block.end;
    }
    outside_piece(all.substr(pos));

    // Display formulas first, then environments, then inline formulas: the numbering follows
    // this order. A formula never reaches across fenced code.
    const std::pair<const re::Pattern *, bool> math_steps[] = {
        {&display_math, true}, {&env_math, true}, {&inline_math, false}};
    next.reserve(text.size() + text.size() / 8);
    for (const auto &[pattern, is_block] : math_steps) {
      const bool block = is_block;
      next.clear();
      for (auto &piece : pieces) {
        const re::Utf8 part = text.view().substr(piece.begin, piece.end - piece.begin);
        const std::size_t begin = next.size();
        // Every formula pattern begins with "$".
        if (!piece.code && part.view().find('$') != std::string_view::npos)
          pattern->sub_into(
              next, [&](const re::Match &m) { return math_replacer(m, block); }, part);
        else
          next.append(part);
        piece.begin = begin;
        piece.end = next.size();
      }
      std::swap(text, next);
    }
    if (!code.empty() || !math.empty())
      log().info("✅ 成功保護 " + std::to_string(code.size()) + " 個程式碼區塊與 " +
                 std::to_string(math.size()) + " 個數學公式。");
  } catch (const std::exception &e) {
    // Half-shielded text would lose code and formulas without a trace: the file fails.
    log().warning(std::string("⚠️ 公式或程式碼預處理出錯: ") + e.what());
    throw;
  }
  result.text = text.release();
  return result;
}

std::string restore_markdown_code_and_math(std::string_view html_body,
                                           const std::vector<CodePlaceholder> &code_placeholders,
                                           const std::vector<MathPlaceholder> &math_placeholders) {
  const auto &code = code_placeholders;
  const auto &math = math_placeholders;
  if (code.empty() && math.empty())
    return std::string(html_body);
  try {
    log().info("✅ 還原 " + std::to_string(code.size()) + " 個程式碼區塊與 " +
               std::to_string(math.size()) + " 個數學公式。");
    auto known = [&](const Found &f) { return f.index < (f.is_code ? code.size() : math.size()); };
    auto known_code = [&](const Found &f) { return f.is_code && f.index < code.size(); };

    // Formula HTML: escaped source between the delimiters, code inside it as code HTML.
    auto append_formula = [&](std::string &out, const MathPlaceholder &m) {
      out += m.is_block ? "$$" : "\\(";
      scan_placeholders(
          m.content, true, known_code,
          [&](std::string_view t) {
            // "&" stays as written: a character reference in a formula is the author's.
            for (char c : t) {
              if (c == '<')
                out += "&lt;";
              else if (c == '>')
                out += "&gt;";
              else
                out += c;
            }
          },
          [&](const Found &f) { out += code[f.index].html_code; });
      out += m.is_block ? "$$" : "\\)";
    };
    // What the author wrote, with the code placeholders inside a formula written back.
    auto source_of = [&](const Found &f) {
      if (f.is_code)
        return code[f.index].source;
      std::string text;
      scan_placeholders(
          math[f.index].source, true, known_code, [&](std::string_view t) { text.append(t); },
          [&](const Found &inner) { text += code[inner.index].source; });
      return text;
    };

    std::string out;
    out.reserve(html_body.size() + html_body.size() / 4);
    // Escaped and percent-encoded forms stand where the renderer wrote text: the source again.
    auto restore_escaped = [&](std::string_view part) {
      scan_placeholders(
          part, false, known, [&](std::string_view t) { out.append(t); },
          [&](const Found &f) {
            if (f.form == Form::Percent)
              append_href_escaped(out, source_of(f));
            else
              append_escaped_text(out, source_of(f));
          });
    };

    // One pass. A placeholder written as it stands is restored as code or formula HTML in
    // ordinary text, but as its escaped source inside an attribute value or inside a code
    // element the renderer drew (whose text holds no other tag), where HTML would not belong.
    const std::string_view html = html_body;
    const std::size_t n = html.size();
    int code_depth = 0;
    std::size_t i = 0;
    while (i < n) {
      const std::size_t lt = html.find('<', i);
      restore_escaped(html.substr(i, (lt == std::string_view::npos ? n : lt) - i));
      if (lt == std::string_view::npos)
        break;
      if (auto f = placeholder_at(html, lt + 1, true); f && known(*f)) {
        if (code_depth > 0)
          append_escaped_text(out, source_of(*f));
        else if (f->is_code)
          out += code[f->index].html_code;
        else
          append_formula(out, math[f->index]);
        i = f->end;
        continue;
      }
      const auto tag = tag_at(html, lt);
      if (!tag) {
        out += '<';
        i = lt + 1;
        continue;
      }
      // Attribute values: every form is shown as the escaped source there.
      scan_placeholders(
          html.substr(lt, tag->end - lt), false, known, [&](std::string_view t) { out.append(t); },
          [&](const Found &f) {
            if (f.form == Form::Percent)
              append_href_escaped(out, source_of(f));
            else
              append_escaped_text(out, source_of(f));
          });
      if (tag->is_code_element && !tag->self_closing)
        code_depth = tag->closing ? std::max(code_depth - 1, 0) : code_depth + 1;
      else
        code_depth = 0;
      i = tag->end;
    }
    return out;
  } catch (const std::exception &e) {
    // A page with placeholders left in it would show no code and no formulas: the file fails.
    log().warning(std::string("⚠️ 公式或程式碼還原出錯: ") + e.what());
    throw;
  }
}

} // namespace vaskit::prosett

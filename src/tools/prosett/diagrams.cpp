// Mermaid and WaveDrom code blocks become the elements their page scripts draw from.
#include "core/re.hpp"
#include "core/text.hpp"
#include "tools/prosett/html_entities.hpp"
#include "tools/prosett/log.hpp"
#include "tools/prosett/stages.hpp"

#include <algorithm>
#include <exception>
#include <optional>

namespace vaskit::prosett {
namespace {

std::optional<std::string_view> named_reference(std::string_view name) {
  const auto *first = std::begin(html_entities::kNamed);
  const auto *last = std::end(html_entities::kNamed);
  const auto *it = std::lower_bound(
      first, last, name, [](const auto &entry, std::string_view n) { return entry.name < n; });
  if (it != last && it->name == name)
    return it->value;
  return std::nullopt;
}

// The text a numeric reference stands for, with the HTML5 repairs of invalid numbers.
void append_numeric(std::string &out, char32_t num) {
  for (const auto &repair : html_entities::kInvalidCharrefs) {
    if (repair.code == num) {
      out.append(repair.value);
      return;
    }
  }
  if ((num >= 0xD800 && num <= 0xDFFF) || num > 0x10FFFF) {
    text::append_utf8(out, U'\uFFFD');
    return;
  }
  if (std::binary_search(std::begin(html_entities::kInvalidCodepoints),
                         std::end(html_entities::kInvalidCodepoints), num))
    return;
  text::append_utf8(out, num);
}

// Reads the digits of a numeric reference; values past U+10FFFF saturate just above it.
char32_t parse_number(std::string_view digits, int base) {
  char32_t value = 0;
  for (char c : digits) {
    const int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value * base + static_cast<char32_t>(d);
    if (value > 0x10FFFF)
      return 0x110000;
  }
  return value;
}

bool ends_name(char c) {
  return c == '\t' || c == '\n' || c == '\f' || c == ' ' || c == '<' || c == '&' || c == '#' ||
         c == ';';
}

// Decodes the reference whose "&" stands at `amp`; returns the position after it, or amp + 1
// with a literal "&" when nothing there is a reference.
std::size_t decode_reference(std::string_view s, std::size_t amp, std::string &out) {
  const std::size_t n = s.size();
  std::size_t p = amp + 1;
  if (p < n && s[p] == '#') {
    int base = 10;
    std::size_t digits = p + 1;
    if (digits < n && (s[digits] == 'x' || s[digits] == 'X') && digits + 1 < n &&
        text::hex_digit(s[digits + 1]) >= 0) {
      base = 16;
      ++digits;
    }
    std::size_t q = digits;
    while (q < n && (base == 16 ? text::hex_digit(s[q]) >= 0 : (s[q] >= '0' && s[q] <= '9')))
      ++q;
    if (q == digits) {
      out += '&';
      return amp + 1;
    }
    append_numeric(out, parse_number(s.substr(digits, q - digits), base));
    return q < n && s[q] == ';' ? q + 1 : q;
  }
  // A name: up to 32 characters that cannot end it, then an optional ";".
  std::size_t q = p;
  std::size_t chars = 0;
  while (q < n && !ends_name(s[q])) {
    const auto c = static_cast<unsigned char>(s[q]);
    if ((c & 0xC0) != 0x80) {
      if (chars == html_entities::kMaxNameLength)
        break;
      ++chars;
    }
    ++q;
  }
  if (q == p) {
    out += '&';
    return amp + 1;
  }
  const std::size_t end = q < n && s[q] == ';' ? q + 1 : q;
  const std::string_view name = s.substr(p, end - p);
  if (auto value = named_reference(name)) {
    out.append(*value);
    return end;
  }
  // The longest leading name that may stand without ";" (names are ASCII, at least two long).
  std::size_t ascii = 0;
  while (ascii < name.size() && static_cast<unsigned char>(name[ascii]) < 0x80)
    ++ascii;
  const std::size_t name_chars = chars + (end > q ? 1 : 0);
  for (std::size_t x = std::min({name_chars - 1, ascii, html_entities::kMaxNameLength}); x >= 2;
       --x) {
    if (auto value = named_reference(name.substr(0, x))) {
      out.append(*value);
      out.append(name.substr(x));
      return end;
    }
  }
  out += '&';
  out.append(name);
  return end;
}

// Replaces every match of `pattern` by `make(decoded text)`; logs the count line first.
// nullopt when nothing matches: the text stays as it is.
template <class Make>
std::optional<re::Utf8Text> convert_blocks(re::Utf8 valid_body, const re::Pattern &pattern,
                                           std::string_view kind, Make &&make) {
  const std::string_view html_body = valid_body.view();
  const auto matches = pattern.finditer(valid_body);
  if (!matches.empty())
    log().info("✅ 發現 " + std::to_string(matches.size()) + " 個 " + std::string(kind) +
               " 區塊進行轉換。");
  else if (kind == "WaveDrom")
    log().debug("🔍 未在 HTML 中找到 WaveDrom 區塊");
  if (matches.empty())
    return std::nullopt;
  re::Utf8Text out;
  out.reserve(html_body.size());
  std::size_t copied = 0;
  for (const auto &m : matches) {
    out.append(valid_body.substr(copied, m.start() - copied));
    out.append_checked(make(html_unescape(m.group(1))));
    copied = m.end();
  }
  out.append(valid_body.substr(copied));
  return out;
}

} // namespace

std::string html_unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t copied = 0;
  std::size_t pos = 0;
  while ((pos = text.find('&', pos)) != std::string_view::npos) {
    out.append(text.substr(copied, pos - copied));
    pos = copied = decode_reference(text, pos, out);
  }
  out.append(text.substr(copied));
  return out;
}

namespace {

// The validated form of a stage, for text of unknown origin: text that is no UTF-8 is logged
// and handed back like any other failure.
template <class Stage>
std::string on_checked(std::string_view html_body, std::string_view kind, Stage &&stage) {
  std::optional<re::Utf8> valid;
  try {
    valid = re::Utf8::check(html_body);
  } catch (const std::exception &e) {
    log().warning("⚠️ " + std::string(kind) + " 轉換出錯: " + e.what());
    return std::string(html_body);
  }
  return stage(*valid).release();
}

} // namespace

std::string process_mermaid_charts(std::string_view html_body) {
  return on_checked(html_body, "Mermaid",
                    [](re::Utf8 valid) { return process_mermaid_charts(valid); });
}

std::string process_wavedrom_charts(std::string_view html_body) {
  return on_checked(html_body, "WaveDrom",
                    [](re::Utf8 valid) { return process_wavedrom_charts(valid); });
}

namespace {

// The stages' results: nullopt when the text stays as it is, also after a failure (logged).
std::optional<re::Utf8Text> mermaid_blocks(re::Utf8 html_body) {
  try {
    static const re::Pattern pattern(
        R"(<pre><code class="language-mermaid">([\s\S]*?)</code></pre>)");
    return convert_blocks(html_body, pattern, "Mermaid", [](const std::string &decoded) {
      return "<div class=\"mermaid\">" + decoded + "</div>";
    });
  } catch (const std::exception &e) {
    log().warning(std::string("⚠️ Mermaid 轉換出錯: ") + e.what());
    return std::nullopt;
  }
}

std::optional<re::Utf8Text> wavedrom_blocks(re::Utf8 html_body) {
  try {
    static const re::Pattern pattern(
        R"(<pre><code class="language-wavedrom">([\s\S]*?)</code></pre>)");
    return convert_blocks(html_body, pattern, "WaveDrom", [](const std::string &decoded) {
      log().debug("🔍 正在處理 WaveDrom 內容 (前 100 字): " + text::prefix(decoded, 100) + "...");
      return "<script type=\"WaveDrom\">" + decoded + "</script>";
    });
  } catch (const std::exception &e) {
    log().warning(std::string("⚠️ WaveDrom 轉換出錯: ") + e.what());
    return std::nullopt;
  }
}

} // namespace

re::Utf8Text process_mermaid_charts(re::Utf8 html_body) {
  auto changed = mermaid_blocks(html_body);
  return changed ? std::move(*changed) : re::Utf8Text(html_body);
}

re::Utf8Text process_mermaid_charts(re::Utf8Text &&html_body) {
  auto changed = mermaid_blocks(html_body.view());
  return changed ? std::move(*changed) : std::move(html_body);
}

re::Utf8Text process_wavedrom_charts(re::Utf8 html_body) {
  auto changed = wavedrom_blocks(html_body);
  return changed ? std::move(*changed) : re::Utf8Text(html_body);
}

re::Utf8Text process_wavedrom_charts(re::Utf8Text &&html_body) {
  auto changed = wavedrom_blocks(html_body.view());
  return changed ? std::move(*changed) : std::move(html_body);
}

} // namespace vaskit::prosett

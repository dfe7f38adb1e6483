#include "formats/xlsx/xml_util.hpp"

#include "core/text.hpp"
#include "formats/xlsx/package.hpp"
#include "formats/xlsx/workbook.hpp"

#include <algorithm>
#include <limits>
#include <sstream>

namespace vaskit::xlsx::detail {

namespace {

std::string_view after_colon(std::string_view name) {
  std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// "_xHHHH_" at position i.
bool escape_at(std::string_view text, std::size_t i) {
  if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_')
    return false;
  for (std::size_t k = 2; k < 6; ++k)
    if (text::hex_digit(text[i + k]) < 0)
      return false;
  return true;
}

// The offset of the first character reference in `data` that is not referable(), in text or in
// an attribute value (comments, CDATA sections, processing instructions
// and declarations hold no references).
std::optional<std::size_t> first_bad_reference(std::string_view data) {
  auto bad_at = [&](std::size_t at) {
    const auto ref = reference_at(data.substr(at));
    return ref && !referable(ref->code_point);
  };
  auto after = [&](std::size_t from, std::string_view end) {
    const std::size_t found = data.find(end, from);
    return found == std::string_view::npos ? data.size() : found + end.size();
  };
  // Most parts hold no character reference at all; only those are read for their context.
  if (data.find("&#") == std::string_view::npos) {
    return std::nullopt;
  }
  std::size_t i = 0;
  while (i < data.size()) {
    const std::size_t at = data.find_first_of("<&", i);
    if (at == std::string_view::npos) {
      break;
    }
    if (data[at] == '&') {
      if (bad_at(at)) {
        return at;
      }
      i = at + 1;
      continue;
    }
    const std::string_view rest = data.substr(at);
    if (rest.substr(0, 4) == "<!--") {
      i = after(at + 4, "-->");
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      i = after(at + 9, "]]>");
    } else if (rest.substr(0, 2) == "<?") {
      i = after(at + 2, "?>");
    } else if (rest.substr(0, 2) == "<!") {
      i = after(at + 2, ">");
    } else {
      // A tag: a quoted value may hold '>'.
      char quote = 0;
      std::size_t k = at + 1;
      for (; k < data.size(); ++k) {
        const char c = data[k];
        if (quote != 0) {
          if (c == quote) {
            quote = 0;
          } else if (c == '&' && bad_at(k)) {
            return k;
          }
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      i = k + 1;
    }
  }
  return std::nullopt;
}

} // namespace

std::optional<Reference> reference_at(std::string_view text) {
  if (text.size() < 3 || text[0] != '&') {
    return std::nullopt;
  }
  static constexpr std::pair<std::string_view, char32_t> named[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
  for (const auto &[name, cp] : named) {
    if (text.substr(0, name.size()) == name) {
      return Reference{name.size(), cp};
    }
  }
  if (text[1] != '#') {
    return std::nullopt;
  }
  const bool hex = text[2] == 'x';
  std::size_t i = hex ? 3 : 2;
  const std::size_t first = i;
  char32_t cp = 0;
  for (; i < text.size(); ++i) {
    const int digit =
        hex ? text::hex_digit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) {
      break;
    }
    // Past U+10FFFF the value only has to stay out of range.
    cp = std::min<char32_t>(cp * (hex ? 16 : 10) + static_cast<char32_t>(digit), 0x110000);
  }
  if (i == first || i >= text.size() || text[i] != ';') {
    return std::nullopt;
  }
  return Reference{i + 1, cp};
}

bool referable(char32_t cp) {
  return cp != 0 && (cp < 0xD800 || cp > 0xDFFF) && cp <= 0x10FFFF;
}

std::optional<long long> unsigned_attribute(std::string_view text, long long max) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
    if (value > max) {
      return std::nullopt;
    }
  }
  return value;
}

int style_index(std::string_view text) {
  return static_cast<int>(unsigned_attribute(text, std::numeric_limits<int>::max()).value_or(0));
}

std::string text_of(const pugi::xml_node &node) {
  std::string text;
  for (pugi::xml_node part = node.first_child(); part; part = part.next_sibling()) {
    if (part.type() == pugi::node_pcdata || part.type() == pugi::node_cdata) {
      text += part.value();
    }
  }
  return text;
}

std::string rich_text(const pugi::xml_node &item) {
  std::string text;
  for (pugi::xml_node part = item.first_child(); part; part = part.next_sibling()) {
    if (part.type() != pugi::node_element) {
      continue;
    }
    if (local_name(part) == "t") {
      text += text_of(part);
    } else if (local_name(part) == "r") {
      for (pugi::xml_node t = part.first_child(); t; t = t.next_sibling()) {
        if (t.type() == pugi::node_element && local_name(t) == "t") {
          text += text_of(t);
        }
      }
    }
  }
  return text;
}

std::string_view local_name(const pugi::xml_node &node) {
  return after_colon(node.name());
}
std::string_view local_name(const pugi::xml_attribute &attr) {
  return after_colon(attr.name());
}

pugi::xml_node child(const pugi::xml_node &parent, std::string_view name) {
  for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_element && local_name(node) == name) {
      return node;
    }
  }
  return {};
}

std::string same_prefix(const pugi::xml_node &node, std::string_view name) {
  std::string_view full = node.name();
  std::size_t colon = full.find(':');
  std::string out;
  if (colon != std::string_view::npos) {
    out = std::string(full.substr(0, colon + 1));
  }
  out += name;
  return out;
}

std::string_view attr_by_local(const pugi::xml_node &node, std::string_view name) {
  for (pugi::xml_attribute attr = node.first_attribute(); attr; attr = attr.next_attribute()) {
    if (local_name(attr) == name && std::string_view(attr.name()).find(':') != std::string::npos) {
      return attr.value();
    }
  }
  return node.attribute(std::string(name).c_str()).value();
}

void parse_part(const Package &package, std::string_view name, pugi::xml_document &doc) {
  std::string data = package.read(name);
  // The parser would resolve such a reference anyway, "&#0;" to the end of the text.
  if (const auto bad = first_bad_reference(data)) {
    const std::string_view rest = std::string_view(data).substr(*bad);
    throw Error(package.path().string() + ": malformed XML in " + std::string(name) +
                ": an unusable character reference (" +
                std::string(rest.substr(0, std::min<std::size_t>(reference_at(rest)->length, 24))) +
                ") at byte " + std::to_string(*bad));
  }
  constexpr unsigned options =
      pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata;
  pugi::xml_parse_result result = doc.load_buffer(data.data(), data.size(), options);
  if (!result) {
    throw Error(package.path().string() + ": malformed XML in " + std::string(name) + ": " +
                result.description() + " at byte " + std::to_string(result.offset));
  }
  if (!doc.document_element()) {
    throw Error(package.path().string() + ": malformed XML in " + std::string(name) +
                ": no root element");
  }
  // Parts are written back as UTF-8 whatever they were read as, so the declaration must
  // say so.
  pugi::xml_node declaration = doc.first_child();
  if (declaration.type() == pugi::node_declaration && declaration.attribute("encoding")) {
    declaration.attribute("encoding") = "UTF-8";
  }
}

std::string serialize(const pugi::xml_document &doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  std::string text = out.str();
  // A document without a declaration (a new part) gets the one every producer writes.
  if (doc.first_child().type() != pugi::node_declaration) {
    text.insert(0, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n");
  }
  return text;
}

std::string serialize(const pugi::xml_node &node) {
  std::ostringstream out;
  node.print(out, "", pugi::format_raw, pugi::encoding_utf8);
  return out.str();
}

std::string clean_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  while (i < n) {
    unsigned char c = byte(i);
    if (c < 0x80) {
      if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') {
        out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    // Length and the allowed range of the second byte (which rules out overlongs, surrogates
    // and code points above U+10FFFF); one U+FFFD per maximal invalid prefix.
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      lo = c == 0xE0 ? 0xA0 : 0x80;
      hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      lo = c == 0xF0 ? 0x90 : 0x80;
      hi = c == 0xF4 ? 0x8F : 0xBF;
    }
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    std::size_t k = 1;
    for (; k < len && i + k < n; ++k) {
      unsigned char b = byte(i + k);
      unsigned char min = k == 1 ? lo : 0x80;
      unsigned char max = k == 1 ? hi : 0xBF;
      if (b < min || b > max) {
        break;
      }
    }
    if (k < len) {
      out += "\xEF\xBF\xBD";
      i += k;
      continue;
    }
    char32_t cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
    for (std::size_t j = 1; j < len; ++j) {
      cp = (cp << 6) | (byte(i + j) & 0x3F);
    }
    if (cp != 0xFFFE && cp != 0xFFFF) {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  return out;
}

std::string escape_cell_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (escape_at(text, i)) {
      out += "_x005F";
    }
    if (text[i] == '\r') {
      out += "_x000D_";
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string unescape_cell_text(std::string_view text) {
  if (text.find("_x") == std::string_view::npos) {
    return std::string(text);
  }
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (escape_at(text, i)) {
      char32_t cp = 0;
      for (std::size_t k = 2; k < 6; ++k) {
        cp = cp * 16 + static_cast<char32_t>(text::hex_digit(text[i + k]));
      }
      if (cp >= 0xD800 && cp <= 0xDFFF) {
        cp = 0xFFFD;
      }
      text::append_utf8(out, cp);
      i += 7;
    } else {
      out += text[i++];
    }
  }
  return out;
}

} // namespace vaskit::xlsx::detail

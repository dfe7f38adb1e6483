#include "vaskern/yaml_edit.hpp"

#include "core/command.hpp"
#include "core/fs.hpp"
#include "core/text.hpp"

#include <yaml.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vaskern::yaml_edit {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// One top-level entry of the file, as byte offsets into its text.
struct Entry {
  std::size_t key_begin = 0;
  std::size_t key_end = 0;
  std::size_t value_begin = 0;
  std::size_t value_end = 0;  // end of the value's last content character
  std::size_t region_end = 0; // after the entry's last line
  // The entry ends in a block scalar that keeps its final line breaks: the empty lines up to
  // region_end are part of its value, and a blank line added there would be too.
  bool keeps_breaks = false;
  // The entry ends in a block scalar whose last line has no line break (the end of the text):
  // the position of its '|' or '>'.
  std::size_t open_header = std::string_view::npos;
};

struct Layout {
  std::vector<Entry> entries;
  std::string failure; // non-empty: the text cannot be edited in place
};

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}
bool is_space(char c) {
  return is_blank(c) || c == '\n' || c == '\r';
}

std::size_t line_start(std::string_view text, std::size_t pos) {
  while (pos > 0 && text[pos - 1] != '\n')
    --pos;
  return pos;
}

// The position after the line break that ends the line holding `pos` (or the end of the text).
std::size_t line_after(std::string_view text, std::size_t pos) {
  const auto nl = text.find('\n', pos);
  return nl == std::string_view::npos ? text.size() : nl + 1;
}

// The end of the line starting at `ls`, before its line break.
std::size_t line_content_end(std::string_view text, std::size_t ls) {
  std::size_t end = line_after(text, ls);
  if (end > ls && text[end - 1] == '\n')
    --end;
  if (end > ls && text[end - 1] == '\r')
    --end;
  return end;
}

// The line starting at `ls` holds nothing but blanks (or nothing at all).
bool blank_line(std::string_view text, std::size_t ls) {
  const std::size_t end = line_content_end(text, ls);
  for (std::size_t i = ls; i < end; ++i)
    if (!is_blank(text[i]))
      return false;
  return true;
}

bool ends_with_break(std::string_view text) {
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

// libyaml counts positions in characters; the splice works on bytes.
class CharToByte {
public:
  explicit CharToByte(std::string_view text) {
    offsets_.reserve(text.size() + 1);
    for (std::size_t i = 0; i < text.size(); ++i)
      if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
        offsets_.push_back(i);
    offsets_.push_back(text.size());
  }
  std::size_t operator()(std::size_t index) const {
    return index < offsets_.size() ? offsets_[index] : offsets_.back();
  }

private:
  std::vector<std::size_t> offsets_;
};

struct ParserDeleter {
  void operator()(yaml_parser_t *p) const {
    yaml_parser_delete(p);
    delete p;
  }
};

bool has_anchor(const yaml_event_t &ev) {
  switch (ev.type) {
  case YAML_SCALAR_EVENT:
    return ev.data.scalar.anchor != nullptr;
  case YAML_SEQUENCE_START_EVENT:
    return ev.data.sequence_start.anchor != nullptr;
  case YAML_MAPPING_START_EVENT:
    return ev.data.mapping_start.anchor != nullptr;
  default:
    return false;
  }
}

bool is_flow_start(const yaml_event_t &ev) {
  return (ev.type == YAML_SEQUENCE_START_EVENT &&
          ev.data.sequence_start.style == YAML_FLOW_SEQUENCE_STYLE) ||
         (ev.type == YAML_MAPPING_START_EVENT &&
          ev.data.mapping_start.style == YAML_FLOW_MAPPING_STYLE);
}

// Where a value's text ends.
struct Extent {
  std::size_t content_end = 0; // after its last content character
  std::size_t region_end = 0;  // after its last line
  bool keeps_breaks = false;
  std::size_t open_header = std::string_view::npos;
};

// The extent of a block scalar ('|' or '>') that starts at `start` (its tag or indicator) and
// whose event ends at `end_mark` (past its trailing empty lines); `parent` is the indentation of
// the collection holding it. Its last content line is the last line with a character beyond
// the blanks, or with more blanks than its indentation; the empty lines after it belong to the
// value only when it keeps its final line breaks ('+'). Nothing when no indicator is found.
std::optional<Extent> block_scalar_extent(std::string_view text, std::size_t start,
                                          std::size_t end_mark, std::size_t parent) {
  std::size_t p = start;
  if (p < text.size() && text[p] == '!')
    while (p < text.size() && !is_space(text[p]))
      ++p;
  while (p < text.size() && is_space(text[p]))
    ++p;
  if (p >= text.size() || (text[p] != '|' && text[p] != '>'))
    return std::nullopt;
  char chomping = 0;
  std::size_t digit = 0;
  for (std::size_t q = p + 1; q < text.size(); ++q) {
    const char c = text[q];
    if (c == '+' || c == '-')
      chomping = c;
    else if (c >= '1' && c <= '9')
      digit = static_cast<std::size_t>(c - '0');
    else
      break;
  }
  const std::size_t first = line_after(text, p);
  const std::size_t stop = std::min(end_mark, text.size());
  // The indentation of the content, found as the parser finds it.
  std::size_t indent = parent + digit;
  if (digit == 0) {
    std::size_t widest = 0;
    for (std::size_t ls = first; ls < stop; ls = line_after(text, ls)) {
      std::size_t spaces = 0;
      while (ls + spaces < text.size() && text[ls + spaces] == ' ')
        ++spaces;
      widest = std::max(widest, spaces);
      if (ls + spaces < text.size() && !is_space(text[ls + spaces]))
        break;
      if (ls + spaces < text.size() && text[ls + spaces] == '\t')
        break;
    }
    indent = std::max({widest, parent + 1, std::size_t{1}});
  }
  Extent out;
  out.content_end = line_content_end(text, line_start(text, p));
  out.region_end = first;
  for (std::size_t ls = first; ls < stop; ls = line_after(text, ls)) {
    const std::size_t end = line_content_end(text, ls);
    std::size_t spaces = 0;
    while (ls + spaces < end && text[ls + spaces] == ' ')
      ++spaces;
    if (ls + spaces < end || spaces > indent) {
      out.content_end = end;
      out.region_end = line_after(text, ls);
    }
  }
  if (chomping == '+' && (stop == text.size() || (stop > 0 && text[stop - 1] == '\n'))) {
    out.keeps_breaks = true;
    out.region_end = std::max(out.region_end, stop);
  }
  if (out.region_end == text.size() && !ends_with_break(text))
    out.open_header = p;
  return out;
}

// Walks the parser's events and records where each top-level entry stands in the text.
Layout scan_layout(std::string_view text) {
  Layout out;
  const CharToByte byte_at(text);
  std::unique_ptr<yaml_parser_t, ParserDeleter> parser(new yaml_parser_t);
  if (!yaml_parser_initialize(parser.get())) {
    delete parser.release();
    out.failure = "無法啟動 YAML 解析器";
    return out;
  }
  yaml_parser_set_input_string(parser.get(), reinterpret_cast<const unsigned char *>(text.data()),
                               text.size());

  int documents = 0;
  int depth = 0;          // collection nesting; 1 = inside the top-level mapping
  bool want_key = true;   // at depth 1: the next node is a key
  bool root_seen = false; // the document's root node has started
  std::vector<bool> flow; // style of each open collection below the top level
  // The indentation of each open block collection, the top-level mapping first.
  std::vector<std::size_t> indents;
  Entry current;

  auto fail = [&](std::string why) {
    out.failure = std::move(why);
    out.entries.clear();
  };
  // Widens the current entry by a piece of its value.
  auto extend = [&](const Extent &x) {
    current.value_end = std::max(current.value_end, x.content_end);
    if (x.region_end > current.region_end) {
      current.region_end = x.region_end;
      current.keeps_breaks = x.keeps_breaks;
      current.open_header = x.open_header;
    }
  };
  // The extent of a scalar event.
  auto scalar_extent = [&](const yaml_event_t &ev, std::size_t begin,
                           std::size_t end) -> std::optional<Extent> {
    const auto style = ev.data.scalar.style;
    if (style == YAML_LITERAL_SCALAR_STYLE || style == YAML_FOLDED_SCALAR_STYLE)
      return block_scalar_extent(text, begin, end, indents.empty() ? 0 : indents.back());
    Extent x;
    x.content_end = end;
    x.region_end = line_after(text, end);
    return x;
  };
  while (out.failure.empty()) {
    yaml_event_t ev;
    if (!yaml_parser_parse(parser.get(), &ev)) {
      fail(std::string("YAML 解析失敗: ") + (parser->problem ? parser->problem : "?"));
      break;
    }
    std::unique_ptr<yaml_event_t, void (*)(yaml_event_t *)> guard(&ev, yaml_event_delete);
    const std::size_t begin = byte_at(ev.start_mark.index);
    const std::size_t end = byte_at(ev.end_mark.index);
    if (ev.type == YAML_STREAM_END_EVENT)
      break;
    if (ev.type == YAML_ALIAS_EVENT || has_anchor(ev)) {
      fail("含有錨點或別名");
      break;
    }
    switch (ev.type) {
    case YAML_DOCUMENT_START_EVENT:
      if (++documents > 1)
        fail("含有多份文件");
      continue;
    case YAML_DOCUMENT_END_EVENT:
    case YAML_STREAM_START_EVENT:
      continue;
    default:
      break;
    }
    if (!root_seen) {
      root_seen = true;
      if (ev.type == YAML_MAPPING_START_EVENT && !is_flow_start(ev)) {
        depth = 1;
        want_key = true;
        indents.push_back(ev.start_mark.column);
      } else if (ev.type == YAML_SCALAR_EVENT && ev.data.scalar.length == 0 &&
                 ev.data.scalar.style == YAML_PLAIN_SCALAR_STYLE) {
        // An empty document: entries can still be added after it.
      } else {
        fail("最上層不是區塊樣式的對應表");
      }
      continue;
    }
    if (depth == 0) {
      fail("最上層不是區塊樣式的對應表");
      continue;
    }
    if (depth == 1 && want_key) {
      if (ev.type == YAML_MAPPING_END_EVENT) {
        depth = 0;
      } else if (ev.type == YAML_SCALAR_EVENT) {
        current = Entry{};
        current.key_begin = begin;
        current.key_end = end;
        want_key = false;
      } else {
        fail("含有複合鍵");
      }
      continue;
    }
    if (depth == 1) { // the value of the current entry
      current.value_begin = begin;
      current.value_end = begin;
      current.region_end = 0;
      if (ev.type == YAML_SCALAR_EVENT) {
        const auto x = scalar_extent(ev, begin, end);
        if (!x) {
          fail("無法辨識區塊純量的標頭");
          break;
        }
        extend(*x);
        out.entries.push_back(current);
        want_key = true;
      } else {
        flow.push_back(is_flow_start(ev));
        if (!flow.back())
          indents.push_back(ev.start_mark.column);
        ++depth;
      }
      continue;
    }
    // Inside a collection value: follow its content to find where it ends.
    switch (ev.type) {
    case YAML_SCALAR_EVENT: {
      const auto x = scalar_extent(ev, begin, end);
      if (!x) {
        fail("無法辨識區塊純量的標頭");
        break;
      }
      extend(*x);
      break;
    }
    case YAML_SEQUENCE_START_EVENT:
    case YAML_MAPPING_START_EVENT:
      flow.push_back(is_flow_start(ev));
      if (!flow.back())
        indents.push_back(ev.start_mark.column);
      ++depth;
      break;
    case YAML_SEQUENCE_END_EVENT:
    case YAML_MAPPING_END_EVENT:
      // A block collection "ends" where the next token starts; only a flow one ends at its
      // closing bracket.
      if (flow.back())
        extend(Extent{end, line_after(text, end), false, std::string_view::npos});
      else
        indents.pop_back();
      flow.pop_back();
      if (--depth == 1) {
        out.entries.push_back(current);
        want_key = true;
      }
      break;
    default:
      break;
    }
  }
  return out;
}

bool blank_line_between(std::string_view text, std::size_t from, std::size_t to) {
  for (std::size_t p = from; p < to; p = line_after(text, p))
    if (line_after(text, p) <= to && blank_line(text, p))
      return true;
  return false;
}

// Where the comment lines that go with an entry whose lines end at `from` end: those indented
// deeper than the mapping's keys sit inside the entry, also after blank lines; with `adjoining`,
// those that follow without a blank line in between (a block of commented-out children under
// the key, for one) go with it too.
std::size_t comments_after(std::string_view text, std::size_t from, std::size_t key_column,
                           bool adjoining) {
  std::size_t end = from;
  bool gap = false;
  for (std::size_t ls = from; ls < text.size(); ls = line_after(text, ls)) {
    if (blank_line(text, ls)) {
      gap = true;
      continue;
    }
    std::size_t first = ls;
    while (is_blank(text[first]))
      ++first;
    if (text[first] != '#')
      break;
    if (first - ls <= key_column && !(adjoining && !gap))
      break;
    end = line_after(text, ls);
    gap = false;
  }
  return end;
}

// The line starts of the blank lines that follow `from`, up to the next other line.
std::size_t skip_blank_lines(std::string_view text, std::size_t from) {
  std::size_t p = from;
  while (p < text.size() && blank_line(text, p))
    p = line_after(text, p);
  return p;
}

// Where the document ends: at its end marker ("..."), or at the end of the text.
std::size_t document_end(std::string_view text) {
  for (std::size_t ls = 0; ls < text.size(); ls = line_after(text, ls)) {
    if (text.compare(ls, 3, "...") != 0)
      continue;
    if (ls + 3 == text.size() || is_space(text[ls + 3]))
      return ls;
  }
  return text.size();
}

// The output so far ends with an empty line (or is empty).
bool ends_with_blank_line(std::string_view out) {
  if (out.empty())
    return true;
  if (out.back() != '\n')
    return false;
  const std::size_t ls = line_start(out, out.size() - 1);
  return blank_line(out, ls);
}

bool plain_key_ok(const std::string &key) {
  if (key.empty())
    return false;
  const char c0 = key[0];
  if (!((c0 >= 'A' && c0 <= 'Z') || (c0 >= 'a' && c0 <= 'z') || c0 == '_'))
    return false;
  for (char c : key)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
          c == '-'))
      return false;
  // Words the loader would read as booleans or null.
  static const char *const reserved[] = {"y",   "n",    "yes",   "no",  "on",
                                         "off", "true", "false", "null"};
  const std::string low = vaskit::text::lower(key);
  for (const char *r : reserved)
    if (low == r)
      return false;
  return true;
}

std::string emit_key(const std::string &key) {
  return plain_key_ok(key) ? key : quote(key);
}

// The group a key belongs to for spacing: its text up to the first underscore.
std::string_view key_group(std::string_view key) {
  return key.substr(0, key.find('_'));
}

bool loads_as(std::string_view text, const json &mapping) {
  try {
    // A text that loads as nothing is no mapping, even an empty one: the tools treat such a
    // file as "nothing configured" and stop.
    return vaskit::config::parse_yaml(text) == mapping;
  } catch (const std::exception &) {
    return false;
  }
}

} // namespace

std::string quote(std::string_view raw) {
  const std::string s =
      vaskit::text::valid_utf8(raw) ? std::string(raw) : vaskit::text::sanitize_utf8(raw);
  std::string out = "\"";
  out.reserve(s.size() + 2);
  static const char hex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
      }
      ++i;
      continue;
    }
    std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    const std::u32string cp = vaskit::text::to_u32(s.substr(i, len));
    const char32_t u = cp.empty() ? 0xFFFD : cp[0];
    if (u >= 0x80 && u <= 0x9F) {
      // C1 controls, NEL included, are line breaks or unprintable to a YAML reader.
      out += "\\x";
      out += hex[u >> 4];
      out += hex[u & 15];
    } else if (u == 0x2028) {
      out += "\\L";
    } else if (u == 0x2029) {
      out += "\\P";
    } else if (u == 0xFEFF || u == 0xFFFE || u == 0xFFFF) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4)
        out += hex[(u >> shift) & 15];
    } else {
      out.append(s, i, len);
    }
    i += len;
  }
  out += '"';
  return out;
}

std::string emit_value(const json &v) {
  switch (v.type()) {
  case json::value_t::string:
    return quote(v.get_ref<const std::string &>());
  case json::value_t::null:
    return "null";
  case json::value_t::boolean:
    return v.get<bool>() ? "true" : "false";
  case json::value_t::number_float: {
    const double d = v.get<double>();
    if (std::isnan(d))
      return ".nan";
    if (std::isinf(d))
      return d > 0 ? ".inf" : "-.inf";
    std::string s = v.dump();
    // YAML 1.1 reads a float only with a decimal point.
    if (s.find('.') == std::string::npos) {
      const auto e = s.find_first_of("eE");
      s.insert(e == std::string::npos ? s.size() : e, ".0");
    }
    return s;
  }
  case json::value_t::array: {
    std::string out = "[";
    bool first = true;
    for (const auto &item : v) {
      out += first ? "" : ", ";
      out += emit_value(item);
      first = false;
    }
    return out + "]";
  }
  case json::value_t::object: {
    std::string out = "{";
    bool first = true;
    for (const auto &[k, item] : v.items()) {
      out += first ? "" : ", ";
      out += quote(k) + ": " + emit_value(item);
      first = false;
    }
    return out + "}";
  }
  default:
    return v.dump();
  }
}

Splice dump_mapping(const json &mapping) {
  if (!mapping.is_object())
    return {std::nullopt, "設定不是對應表"};
  std::string out;
  for (const auto &[k, v] : mapping.items())
    out += emit_key(k) + ": " + emit_value(v) + "\n";
  if (mapping.empty())
    out = "{}\n";
  if (!loads_as(out, mapping))
    return {std::nullopt, "內容無法以 YAML 寫回"};
  return {out, ""};
}

namespace {

// One change to the text: [begin, end) becomes `text`. New entry lines learn only when they are
// put in what the output before them ends with.
struct Edit {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string text;
  bool entries = false; // new entry lines: they start on a line of their own
  bool spacer = false;  // and after a blank line, unless the output already ends with one
};

} // namespace

Splice splice_mapping(std::string_view whole, const json &mapping) {
  if (!mapping.is_object())
    return {std::nullopt, "設定不是對應表"};
  // A byte-order mark is no part of the YAML text: the edit works on what follows it.
  const std::string_view bom = whole.substr(0, kBom.size()) == kBom ? kBom : std::string_view();
  const std::string_view text = whole.substr(bom.size());
  json old;
  try {
    old = vaskit::config::parse_yaml(text);
  } catch (const std::exception &e) {
    return {std::nullopt, std::string("無法解析: ") + e.what()};
  }
  if (old.is_null())
    old = json::object();
  if (!old.is_object())
    return {std::nullopt, "最上層不是對應表"};

  const Layout layout = scan_layout(text);
  if (!layout.failure.empty())
    return {std::nullopt, layout.failure};
  const auto &entries = layout.entries;
  const std::size_t n = entries.size();
  // The loader keeps the file's key order; a count that differs means repeated keys.
  if (n != old.size())
    return {std::nullopt, "含有重複的鍵"};
  for (const auto &e : entries)
    for (std::size_t i = line_start(text, e.key_begin); i < e.key_begin; ++i)
      if (!is_blank(text[i]))
        return {std::nullopt, "鍵的同一行前面還有其他內容"};

  const std::string eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  const std::size_t key_column =
      n ? entries.front().key_begin - line_start(text, entries.front().key_begin) : 0;
  const std::string indent =
      n ? std::string(text.substr(line_start(text, entries.front().key_begin), key_column)) : "";
  bool spaced = false; // the user separates groups of entries by blank lines
  for (std::size_t i = 0; i + 1 < n && !spaced; ++i)
    spaced =
        blank_line_between(text, entries[i].region_end, line_start(text, entries[i + 1].key_begin));

  // What becomes of each entry, and which new keys follow which kept one: slot 0 holds those
  // before every kept key, slot i + 1 those after entry i. Key lookups in an ordered mapping
  // are linear: both sides are indexed once.
  using Pair = std::pair<const std::string, json>;
  const auto &old_pairs = old.get_ref<const json::object_t &>();
  std::vector<const Pair *> was;
  was.reserve(n);
  std::unordered_map<std::string_view, std::size_t> index;
  index.reserve(n);
  for (const auto &kv : old_pairs) {
    index.emplace(kv.first, was.size());
    was.push_back(&kv);
  }
  std::vector<const json *> now(n, nullptr);
  std::vector<std::vector<const Pair *>> added(n + 1);
  std::size_t slot = 0;
  for (const auto &kv : mapping.get_ref<const json::object_t &>()) {
    const auto it = index.find(kv.first);
    if (it == index.end()) {
      added[slot].push_back(&kv);
      continue;
    }
    if (it->second + 1 <= slot)
      return {std::nullopt, "鍵的順序與檔案不同"};
    now[it->second] = &kv.second;
    slot = it->second + 1;
  }
  const auto gone = [&](std::size_t i) { return now[i] == nullptr; };
  const auto unchanged = [&](std::size_t i) { return now[i] && *now[i] == was[i]->second; };

  std::vector<Edit> edits;

  // Removed entries go with the comments inside them; a run of them with only blank lines in
  // between goes as one, and the blank lines around it are left as if it had never been there.
  for (std::size_t i = 0; i < n;) {
    if (!gone(i)) {
      ++i;
      continue;
    }
    std::size_t begin = line_start(text, entries[i].key_begin);
    std::size_t end = comments_after(text, entries[i].region_end, key_column, false);
    std::size_t j = i + 1;
    for (;
         j < n && gone(j) && skip_blank_lines(text, end) >= line_start(text, entries[j].key_begin);
         ++j)
      end = comments_after(text, entries[j].region_end, key_column, false);
    // A kept block scalar that keeps its line breaks ends right here: blank lines that followed
    // the removed entries would become part of its value.
    const bool joins = i > 0 && unchanged(i - 1) && entries[i - 1].keeps_breaks &&
                       entries[i - 1].region_end == begin;
    const bool blank_before = begin == 0 || blank_line(text, line_start(text, begin - 1));
    if (blank_before || joins)
      end = skip_blank_lines(text, end);
    if (end == text.size() && !joins) {
      const std::size_t floor = i > 0 ? entries[i - 1].region_end : 0;
      while (begin > floor && blank_line(text, line_start(text, begin - 1)))
        begin = line_start(text, begin - 1);
    }
    edits.push_back({begin, end, "", false, false});
    i = j;
  }

  // Changed values.
  for (std::size_t i = 0; i < n; ++i) {
    if (gone(i) || unchanged(i))
      continue;
    const Entry &e = entries[i];
    std::string replacement = emit_value(*now[i]);
    const std::size_t value_line = line_start(text, e.value_begin);
    if (value_line != line_start(text, e.key_begin) && e.value_begin - value_line <= key_column) {
      // A block sequence written at its key's column: the new value goes beside the key.
      std::size_t colon = e.key_end;
      while (colon < text.size() && is_blank(text[colon]))
        ++colon;
      if (colon >= text.size() || text[colon] != ':')
        return {std::nullopt, "找不到鍵後的冒號"};
      edits.push_back({colon + 1, colon + 1, " " + replacement, false, false});
      edits.push_back({value_line, e.region_end, "", false, false});
      continue;
    }
    if (e.value_begin == e.value_end && (e.value_begin == 0 || !is_space(text[e.value_begin - 1])))
      replacement.insert(replacement.begin(), ' ');
    edits.push_back({e.value_begin, e.value_end, std::move(replacement), false, false});
  }

  // New keys: after the kept key they follow in the mapping (and the comment lines that go
  // with it), or where the mapping ends.
  const auto lines_for = [&](const std::vector<const Pair *> &pairs, std::string_view group) {
    std::string lines;
    for (const Pair *kv : pairs) {
      if (!lines.empty() && spaced && key_group(kv->first) != group)
        lines += eol;
      lines += indent + emit_key(kv->first) + ": " + emit_value(kv->second) + eol;
      group = key_group(kv->first);
    }
    return lines;
  };
  std::size_t end_of_mapping =
      n ? comments_after(text, entries.back().region_end, key_column, true) : document_end(text);
  for (const Edit &e : edits)
    if (e.begin < end_of_mapping && end_of_mapping < e.end)
      end_of_mapping = e.end;
  for (std::size_t s = 1; s <= n; ++s) {
    if (added[s].empty())
      continue;
    const std::size_t anchor = s - 1;
    const Entry &e = entries[anchor];
    const std::size_t at = comments_after(text, e.region_end, key_column, true);
    const std::string_view group = key_group(was[anchor]->first);
    Edit insert{at, at, lines_for(added[s], group), true, false};
    // No blank line of ours may join a value that keeps its line breaks.
    const bool keeps = unchanged(anchor) && e.keeps_breaks && at == e.region_end;
    insert.spacer = spaced && !keeps && key_group(added[s].front()->first) != group;
    edits.push_back(std::move(insert));
    if (unchanged(anchor) && e.open_header != std::string_view::npos && at == text.size()) {
      // The block scalar's last line gets a line break, which its value must not take in: it
      // strips its final line breaks from now on, as it had none.
      std::size_t q = e.open_header + 1;
      while (q < text.size() && (text[q] == '+' || (text[q] >= '1' && text[q] <= '9')))
        ++q;
      std::size_t plus = e.open_header + 1;
      while (plus < q && text[plus] != '+')
        ++plus;
      if (plus < q)
        edits.push_back({plus, plus + 1, "-", false, false});
      else if (q >= text.size() || text[q] != '-')
        edits.push_back({e.open_header + 1, e.open_header + 1, "-", false, false});
    }
  }
  if (!added[0].empty()) {
    std::size_t first_kept = 0;
    while (first_kept < n && gone(first_kept))
      ++first_kept;
    const std::size_t at =
        first_kept < n ? line_start(text, entries[first_kept].key_begin) : end_of_mapping;
    edits.push_back({at, at, lines_for(added[0], ""), true, false});
  }
  // With every key gone, only comments would be left, and those load as nothing.
  if (mapping.empty())
    edits.push_back({end_of_mapping, end_of_mapping, "{}" + eol, true, false});

  std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) {
    if (a.begin != b.begin)
      return a.begin < b.begin;
    return a.begin == a.end && b.begin != b.end; // insertions before what starts there
  });
  std::string out;
  out.reserve(text.size() + 256);
  std::size_t pos = 0;
  for (const Edit &e : edits) {
    if (e.begin < pos)
      return {std::nullopt, "編輯位置重疊"};
    out.append(text.substr(pos, e.begin - pos));
    if (e.entries) {
      if (!out.empty() && !ends_with_break(out))
        out += eol;
      if (e.spacer && !ends_with_blank_line(out))
        out += eol;
    }
    out += e.text;
    pos = e.end;
  }
  out.append(text.substr(pos));

  if (!loads_as(out, mapping))
    return {std::nullopt, "更新後的內容無法讀回相同的設定"};
  return {std::string(bom) + out, ""};
}

} // namespace vaskern::yaml_edit

namespace vaskern::fileIO {

vaskit::Result save_yaml_config(const std::string &path, const json &config,
                                const app_logging::Logger *logger) {
  namespace stdfs = std::filesystem;
  const auto error = [&](const std::string &text) -> vaskit::Result {
    if (logger)
      logger->error(text);
    else
      vaskit::cli::echo(text, true);
    return {false, text};
  };
  const stdfs::path file(path);
  const std::string backup =
      (file.parent_path() / ("." + file.filename().string() + ".bak")).string();
  try {
    std::error_code ec;
    const bool existed = stdfs::exists(file, ec);
    const std::string old = existed ? vaskit::fs::read_file(file) : std::string();
    yaml_edit::Splice edit;
    if (!old.empty()) {
      edit = yaml_edit::splice_mapping(old, config);
      if (!edit.text) {
        const std::string why = edit.reason;
        edit = yaml_edit::dump_mapping(config);
        if (edit.text) {
          const std::string text = "⚠️ 設定檔 " + path + " 無法局部更新（" + why +
                                   "），已整份重寫，原有的註解與排版已遺失；舊內容保留在 " + backup;
          if (logger)
            logger->warning(text);
          else
            vaskit::cli::echo(text, true);
        }
      }
    } else {
      edit = yaml_edit::dump_mapping(config);
    }
    if (!edit.text)
      return error("❌ 無法儲存設定檔 " + path + ": " + edit.reason);
    // An unchanged text is not written again: the backup would lose the only older generation.
    if (!existed || *edit.text != old) {
      if (existed)
        vaskit::fs::write_file_atomic(backup, old);
      vaskit::fs::write_file_atomic(file, *edit.text);
    }
  } catch (const std::exception &e) {
    return error("❌ 無法儲存設定檔 " + path + ": " + e.what());
  }
  if (logger)
    logger->info("✅ 已更新設定檔：" + path);
  return {true, path};
}

} // namespace vaskern::fileIO

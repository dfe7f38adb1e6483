#include "vaskern/yaml_edit.hpp"

#include "core/command.hpp"
#include "core/fs.hpp"
#include "core/text.hpp"

#include <yaml.h>

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
  std::size_t value_begin = 0;
  std::size_t value_end = 0; // end of the value's last content character
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

// libyaml counts positions in characters; the splice works on bytes.
class CharToByte {
public:
  CharToByte(std::string_view text, std::size_t base) {
    offsets_.reserve(text.size() - base + 1);
    for (std::size_t i = base; i < text.size(); ++i)
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

// Walks the parser's events and records where each top-level entry stands in the text.
Layout scan_layout(std::string_view text) {
  Layout out;
  const std::size_t base = text.substr(0, kBom.size()) == kBom ? kBom.size() : 0;
  const CharToByte byte_at(text, base);
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
  Entry current;

  auto fail = [&](std::string why) {
    out.failure = std::move(why);
    out.entries.clear();
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
        want_key = false;
      } else {
        fail("含有複合鍵");
      }
      continue;
    }
    if (depth == 1) { // the value of the current entry
      current.value_begin = begin;
      current.value_end = end;
      if (ev.type == YAML_SCALAR_EVENT) {
        const auto style = ev.data.scalar.style;
        // A block scalar's end lies past its trailing line breaks; the content ends before them.
        if (style == YAML_LITERAL_SCALAR_STYLE || style == YAML_FOLDED_SCALAR_STYLE)
          while (current.value_end > current.value_begin + 1 &&
                 is_space(text[current.value_end - 1]))
            --current.value_end;
        out.entries.push_back(current);
        want_key = true;
      } else {
        flow.push_back(is_flow_start(ev));
        ++depth;
      }
      continue;
    }
    // Inside a collection value: follow its content to find where it ends.
    switch (ev.type) {
    case YAML_SCALAR_EVENT:
      current.value_end = std::max(current.value_end, end);
      break;
    case YAML_SEQUENCE_START_EVENT:
    case YAML_MAPPING_START_EVENT:
      flow.push_back(is_flow_start(ev));
      ++depth;
      break;
    case YAML_SEQUENCE_END_EVENT:
    case YAML_MAPPING_END_EVENT:
      // A block collection "ends" where the next token starts; only a flow one ends at its
      // closing bracket.
      if (flow.back())
        current.value_end = std::max(current.value_end, end);
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

bool blank_line_between(std::string_view text, std::size_t from, std::size_t to) {
  std::size_t p = from;
  while (p < to) {
    const std::size_t next = line_after(text, p);
    bool blank = true;
    for (std::size_t i = p; i < std::min(next, to); ++i)
      if (!is_space(text[i]))
        blank = false;
    if (blank && next <= to)
      return true;
    p = next;
  }
  return false;
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

Splice splice_mapping(std::string_view text, const json &mapping) {
  if (!mapping.is_object())
    return {std::nullopt, "設定不是對應表"};
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
  // The loader keeps the file's key order; a count that differs means repeated keys.
  if (entries.size() != old.size())
    return {std::nullopt, "含有重複的鍵"};
  for (const auto &e : entries)
    for (std::size_t i = line_start(text, e.key_begin); i < e.key_begin; ++i)
      if (!is_blank(text[i]))
        return {std::nullopt, "鍵的同一行前面還有其他內容"};

  const std::string eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  bool spaced = false; // the user separates groups of entries by blank lines
  for (std::size_t i = 0; i + 1 < entries.size() && !spaced; ++i)
    spaced = blank_line_between(text, line_after(text, entries[i].value_end),
                                line_start(text, entries[i + 1].key_begin));

  std::string out;
  out.reserve(text.size() + 256);
  std::size_t pos = 0;
  auto copy_to = [&](std::size_t p) {
    if (p > pos)
      out.append(text.substr(pos, p - pos));
    pos = std::max(pos, p);
  };
  // Key lookups in an ordered mapping are linear: index both sides once.
  std::unordered_map<std::string_view, const json *> wanted;
  wanted.reserve(mapping.size());
  for (const auto &[key, value] : mapping.items())
    wanted.emplace(key, &value);
  std::unordered_set<std::string_view> present;
  present.reserve(old.size());

  std::string last_key;
  bool any_kept = false;
  std::size_t index = 0;
  for (const auto &[key, old_value] : old.items()) {
    const Entry &e = entries[index++];
    present.insert(key);
    const auto found = wanted.find(key);
    if (found == wanted.end()) {
      copy_to(line_start(text, e.key_begin));
      pos = line_after(text, e.value_end);
      continue;
    }
    any_kept = true;
    last_key = key;
    if (*found->second == old_value)
      continue;
    copy_to(e.value_begin);
    std::string replacement = emit_value(*found->second);
    if (e.value_begin == e.value_end && (e.value_begin == 0 || !is_space(text[e.value_begin - 1])))
      replacement.insert(replacement.begin(), ' ');
    out += replacement;
    pos = e.value_end;
  }

  const std::size_t insert_at =
      entries.empty() ? text.size() : line_after(text, entries.back().value_end);
  copy_to(insert_at);
  std::string indent;
  if (!entries.empty()) {
    const std::size_t ls = line_start(text, entries.front().key_begin);
    indent = std::string(text.substr(ls, entries.front().key_begin - ls));
  }
  bool added = false;
  for (const auto &[key, value] : mapping.items()) {
    if (present.count(key))
      continue;
    if (!added && !out.empty() && out.back() != '\n')
      out += eol;
    if (spaced && (any_kept || added) && key_group(key) != key_group(last_key))
      out += eol;
    out += indent + emit_key(key) + ": " + emit_value(value) + eol;
    last_key = key;
    added = true;
  }
  // With every key gone, only comments would be left, and those load as nothing.
  if (mapping.empty()) {
    if (!out.empty() && out.back() != '\n')
      out += eol;
    out += "{}" + eol;
  }
  copy_to(text.size());

  if (!loads_as(out, mapping))
    return {std::nullopt, "更新後的內容無法讀回相同的設定"};
  return {out, ""};
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

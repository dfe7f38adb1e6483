// YAML configuration loading on libyaml, a YAML 1.1 parser: a file that breaks the YAML 1.1
// syntax is refused; scalars are typed afterwards by the YAML 1.1 rules config.hpp states.
// Events are composed into a node graph first (an alias is a second reference to a finished
// node, never a copy), with each node's expanded size and depth known when it closes; only a
// graph within bounds becomes values, so neither a self-referencing alias nor an alias bomb
// costs more than the bound.
#include "core/config.hpp"

#include "core/re.hpp"
#include "core/text.hpp"

#include <yaml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vaskit::config {
namespace {

// Far beyond any configuration file; what is larger is an attack or a mistake.
constexpr std::uint64_t kMaxNodes = 1'000'000;
constexpr std::uint64_t kMaxExpandedBytes = 64ull << 20;
constexpr std::uint32_t kMaxDepth = 1000;

constexpr std::string_view kTagPrefix = "tag:yaml.org,2002:";

[[noreturn]] void fail(const std::string &message, const yaml_mark_t &mark) {
  throw ParseError(message, static_cast<int>(mark.line) + 1, static_cast<int>(mark.column) + 1);
}

std::string where(const yaml_mark_t &mark) {
  return "line " + std::to_string(mark.line + 1) + ", column " + std::to_string(mark.column + 1);
}

// ---- YAML 1.1 scalar typing -------------------------------------------------------------------

const re::Pattern &bool_re() {
  static const re::Pattern p(
      R"(^(?:yes|Yes|YES|no|No|NO|true|True|TRUE|false|False|FALSE|on|On|ON|off|Off|OFF)$)");
  return p;
}
const re::Pattern &int_re() {
  static const re::Pattern p(
      R"(^(?:[-+]?0b[0-1_]+|[-+]?0[0-7_]+|[-+]?(?:0|[1-9][0-9_]*)|[-+]?0x[0-9a-fA-F_]+|[-+]?[1-9][0-9_]*(?::[0-5]?[0-9])+)$)");
  return p;
}
const re::Pattern &float_re() {
  static const re::Pattern p(
      R"(^(?:[-+]?(?:[0-9][0-9_]*)\.[0-9_]*(?:[eE][-+][0-9]+)?|\.[0-9][0-9_]*(?:[eE][-+][0-9]+)?|[-+]?[0-9][0-9_]*(?::[0-5]?[0-9])+\.[0-9_]*|[-+]?\.(?:inf|Inf|INF)|\.(?:nan|NaN|NAN))$)");
  return p;
}

std::string without_underscores(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != '_')
      out.push_back(c);
  return out;
}

// Python integers have no size limit; one that does not fit 64 bits becomes a real number
// (infinity beyond the double range) instead of failing the whole file or wrapping around.
class Accumulator {
public:
  void push(int base, unsigned digit) {
    Accumulator d;
    d.value_ = digit;
    d.real_ = digit;
    fold(static_cast<unsigned>(base), d);
  }
  // this = this * base + part
  void fold(unsigned base, const Accumulator &part) {
    real_ = real_ * base + part.real_;
    if (exact_ && part.exact_) {
      const auto limit = static_cast<unsigned __int128>(std::numeric_limits<long long>::max()) + 1;
      if (value_ > limit / base || value_ * base > limit - part.value_)
        exact_ = false;
      else
        value_ = value_ * base + part.value_;
    } else {
      exact_ = false;
    }
  }
  json result(bool negative) const {
    const auto max = static_cast<unsigned __int128>(std::numeric_limits<long long>::max());
    if (exact_ && (value_ <= max || (negative && value_ == max + 1)))
      return negative ? static_cast<long long>(-static_cast<__int128>(value_))
                      : static_cast<long long>(value_);
    const double d = static_cast<double>(real_);
    return negative ? -d : d;
  }

private:
  unsigned __int128 value_ = 0;
  long double real_ = 0;
  bool exact_ = true;
};

// `s` matches int_re.
json resolve_int(std::string s) {
  s = without_underscores(s);
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.erase(0, 1);
  }
  Accumulator acc;
  // Sexagesimal: 1:30 is 90.
  if (s.find(':') != std::string::npos) {
    std::size_t pos = 0;
    while (true) {
      const auto colon = s.find(':', pos);
      Accumulator part;
      for (std::size_t i = pos; i < (colon == std::string::npos ? s.size() : colon); ++i)
        part.push(10, static_cast<unsigned>(text::hex_digit(s[i])));
      acc.fold(60, part);
      if (colon == std::string::npos)
        break;
      pos = colon + 1;
    }
    return acc.result(negative);
  }
  int base = 10;
  std::size_t start = 0;
  if (s.rfind("0b", 0) == 0) {
    base = 2;
    start = 2;
  } else if (s.rfind("0x", 0) == 0) {
    base = 16;
    start = 2;
  } else if (s.size() > 1 && s[0] == '0') {
    base = 8;
    start = 1;
  }
  for (std::size_t i = start; i < s.size(); ++i)
    acc.push(base, static_cast<unsigned>(text::hex_digit(s[i])));
  return acc.result(negative);
}

double to_double(const std::string &s) {
  // strtod gives infinity on overflow and zero on underflow, as Python's float() does.
  return std::strtod(s.c_str(), nullptr);
}

// `s` matches float_re.
json resolve_float(std::string s) {
  s = without_underscores(s);
  double sign = 1;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    if (s[0] == '-')
      sign = -1;
    s.erase(0, 1);
  }
  if (s == ".inf" || s == ".Inf" || s == ".INF")
    return sign * std::numeric_limits<double>::infinity();
  if (s == ".nan" || s == ".NaN" || s == ".NAN")
    return std::numeric_limits<double>::quiet_NaN();
  if (s.find(':') != std::string::npos) {
    double value = 0;
    std::size_t pos = 0;
    while (true) {
      auto colon = s.find(':', pos);
      auto part = s.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
      value = value * 60 + to_double(part);
      if (colon == std::string::npos)
        break;
      pos = colon + 1;
    }
    return sign * value;
  }
  return sign * to_double(s);
}

json resolve_plain(const std::string &s) {
  if (s.empty() || s == "~" || s == "null" || s == "Null" || s == "NULL")
    return nullptr;
  if (bool_re().match(s)) {
    const char c = s[0];
    return c == 'y' || c == 'Y' || c == 't' || c == 'T' || s == "on" || s == "On" || s == "ON";
  }
  if (int_re().match(s))
    return resolve_int(s);
  if (float_re().match(s))
    return resolve_float(s);
  return s;
}

// A scalar with an explicit tag, built as that type; what cannot be built is an error.
json resolve_tagged(std::string_view tag, const std::string &value, const yaml_mark_t &mark) {
  if (tag == "!") // the non-specific tag: typed as if untagged
    return resolve_plain(value);
  const std::string_view name =
      tag.starts_with(kTagPrefix) ? tag.substr(kTagPrefix.size()) : std::string_view{};
  if (name == "str" || name == "timestamp" || name == "binary")
    return value;
  if (name == "null")
    return nullptr;
  if (name == "bool") {
    const std::string lower = text::ascii_lower(value);
    for (const char *yes : {"yes", "true", "on"})
      if (lower == yes)
        return true;
    for (const char *no : {"no", "false", "off"})
      if (lower == no)
        return false;
    fail("cannot read '" + text::printable(value) + "' as a boolean", mark);
  }
  if (name == "int") {
    if (int_re().match(value))
      return resolve_int(value);
    fail("cannot read '" + text::printable(value) + "' as an integer", mark);
  }
  if (name == "float") {
    if (float_re().match(value) || int_re().match(value))
      return resolve_float(value);
    // float() also takes exponents without a point ("1e3").
    std::string s = text::ascii_lower(without_underscores(text::strip(value)));
    const bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+'))
      s.erase(0, 1);
    double d = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
    if (!s.empty() && s[0] != '-' && s[0] != '+' && end == s.data() + s.size() &&
        (ec == std::errc() || ec == std::errc::result_out_of_range))
      return negative ? -d : d;
    fail("cannot read '" + text::printable(value) + "' as a real number", mark);
  }
  fail("could not determine a constructor for the tag '" + text::printable(tag) + "'", mark);
}

// ---- libyaml ----------------------------------------------------------------------------------

class Parser {
public:
  explicit Parser(std::string_view text) : text_(text) {
    if (!yaml_parser_initialize(&parser_))
      throw std::bad_alloc();
    yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char *>(text.data()),
                                 text.size());
    yaml_parser_set_encoding(&parser_, YAML_UTF8_ENCODING);
  }
  ~Parser() { yaml_parser_delete(&parser_); }
  Parser(const Parser &) = delete;
  Parser &operator=(const Parser &) = delete;

  // The next event into `event` (released by the caller); throws ParseError.
  void next(yaml_event_t &event) {
    if (!yaml_parser_parse(&parser_, &event))
      raise();
  }

private:
  [[noreturn]] void raise() const {
    const std::string problem = parser_.problem ? parser_.problem : "the text does not parse";
    switch (parser_.error) {
    case YAML_MEMORY_ERROR:
      throw std::bad_alloc();
    case YAML_READER_ERROR: {
      // The reader knows only a byte offset; the text before it is valid UTF-8.
      yaml_mark_t mark{};
      const std::size_t upto = std::min(parser_.problem_offset, text_.size());
      const std::size_t from = text_.starts_with("\xEF\xBB\xBF") ? 3 : 0;
      for (std::size_t i = from; i < upto; ++i) {
        const auto b = static_cast<unsigned char>(text_[i]);
        if (b == '\n' || (b == '\r' && (i + 1 >= text_.size() || text_[i + 1] != '\n'))) {
          ++mark.line;
          mark.column = 0;
        } else if ((b & 0xC0) != 0x80 && b != '\r') {
          ++mark.column;
        }
      }
      char value[16] = "";
      if (parser_.problem_value >= 0)
        std::snprintf(value, sizeof value, ": #x%02X", parser_.problem_value);
      fail(problem + value, mark);
    }
    default:
      if (parser_.context)
        fail(std::string(parser_.context) + " started at " + where(parser_.context_mark) + ": " +
                 problem,
             parser_.problem_mark);
      fail(problem, parser_.problem_mark);
    }
  }

  std::string_view text_;
  yaml_parser_t parser_;
};

struct Event {
  yaml_event_t e{};
  bool live = false;
  ~Event() { clear(); }
  void clear() {
    if (live)
      yaml_event_delete(&e);
    live = false;
  }
};

// ---- composition ------------------------------------------------------------------------------

enum class Kind : std::uint8_t { scalar, sequence, mapping };

struct Node {
  Kind kind = Kind::scalar;
  bool closed = false;
  bool merge = false;               // a "<<" key
  std::uint32_t depth = 1;          // levels once aliases are expanded
  std::uint64_t nodes = 1;          // nodes once aliases are expanded
  std::uint64_t bytes = 0;          // scalar bytes once aliases are expanded
  yaml_mark_t mark{};               // where the node starts
  json value;                       // a scalar's typed value
  std::vector<std::uint32_t> items; // sequence items; mapping keys and values alternating
};

class Composer {
public:
  explicit Composer(std::size_t text_size)
      : max_bytes_(std::max<std::uint64_t>(kMaxExpandedBytes, text_size)) {}

  void scalar(const yaml_event_t &e) {
    const auto &s = e.data.scalar;
    const std::string value(reinterpret_cast<const char *>(s.value), s.length);
    Node node;
    node.kind = Kind::scalar;
    node.mark = e.start_mark;
    node.bytes = s.length;
    if (!s.tag) {
      node.value = s.plain_implicit ? resolve_plain(value) : json(value);
      node.merge = s.plain_implicit && value == "<<";
    } else {
      const std::string_view tag(reinterpret_cast<const char *>(s.tag));
      node.merge = tag == "tag:yaml.org,2002:merge";
      node.value = node.merge ? json(value) : resolve_tagged(tag, value, e.start_mark);
    }
    node.closed = true;
    const auto id = add(std::move(node), s.anchor, e.start_mark);
    attach(id, e.start_mark);
  }

  void open(Kind kind, const yaml_event_t &e, const yaml_char_t *anchor, const yaml_char_t *tag) {
    if (tag) {
      const std::string_view t(reinterpret_cast<const char *>(tag));
      const std::string_view want =
          kind == Kind::sequence ? "tag:yaml.org,2002:seq" : "tag:yaml.org,2002:map";
      if (t != "!" && t != want)
        fail("could not determine a constructor for the tag '" + text::printable(t) + "'",
             e.start_mark);
    }
    if (open_.size() >= kMaxDepth)
      fail("nested more than " + std::to_string(kMaxDepth) + " levels deep", e.start_mark);
    Node node;
    node.kind = kind;
    node.mark = e.start_mark;
    open_.push_back(add(std::move(node), anchor, e.start_mark));
  }

  void close(const yaml_event_t &e) {
    const std::uint32_t id = open_.back();
    open_.pop_back();
    nodes_[id].closed = true;
    attach(id, e.end_mark);
  }

  void alias(const yaml_event_t &e) {
    const std::string name(reinterpret_cast<const char *>(e.data.alias.anchor));
    const auto it = anchors_.find(name);
    if (it == anchors_.end())
      fail("found undefined alias '" + name + "'", e.start_mark);
    if (!nodes_[it->second].closed)
      fail("found recursive alias '" + name + "': the node it names contains it", e.start_mark);
    attach(it->second, e.start_mark);
  }

  bool empty() const { return !root_; }

  json build() const { return root_ ? value_of(*root_) : json(); }

private:
  std::uint32_t add(Node node, const yaml_char_t *anchor, const yaml_mark_t &mark) {
    const auto id = static_cast<std::uint32_t>(nodes_.size());
    nodes_.push_back(std::move(node));
    if (anchor) {
      const std::string name(reinterpret_cast<const char *>(anchor));
      const auto [it, fresh] = anchors_.emplace(name, id);
      if (!fresh)
        fail("found duplicate anchor '" + name + "' (first at " + where(nodes_[it->second].mark) +
                 ")",
             mark);
    }
    return id;
  }

  // Hangs finished node `id` into the open collection, or makes it the document.
  void attach(std::uint32_t id, const yaml_mark_t &mark) {
    if (open_.empty()) {
      root_ = id;
      return;
    }
    const Node &child = nodes_[id];
    Node &parent = nodes_[open_.back()];
    parent.items.push_back(id);
    parent.nodes += child.nodes;
    parent.bytes += child.bytes;
    parent.depth = std::max(parent.depth, child.depth + 1);
    if (parent.nodes > kMaxNodes)
      fail("more than " + std::to_string(kMaxNodes) + " nodes once aliases are expanded", mark);
    if (parent.bytes > max_bytes_)
      fail("more than " + std::to_string(max_bytes_ >> 20) +
               " MiB of text once aliases are expanded",
           mark);
    if (parent.depth > kMaxDepth)
      fail("nested more than " + std::to_string(kMaxDepth) +
               " levels deep once aliases are expanded",
           mark);
  }

  // The (key, value) pairs of a mapping with its "<<" merges resolved: merged pairs first (of
  // several merged mappings, the later ones first), so that the mapping's own keys and the
  // earlier merges win.
  void flatten(const Node &map, std::vector<std::pair<std::uint32_t, std::uint32_t>> &out) const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> own, merged;
    for (std::size_t k = 0; k + 1 < map.items.size(); k += 2) {
      const Node &key = nodes_[map.items[k]];
      const std::uint32_t value_id = map.items[k + 1];
      const Node &value = nodes_[value_id];
      if (!key.merge) {
        own.emplace_back(map.items[k], value_id);
        continue;
      }
      if (value.kind == Kind::mapping) {
        flatten(value, merged);
      } else if (value.kind == Kind::sequence) {
        std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> parts;
        for (std::uint32_t sub : value.items) {
          if (nodes_[sub].kind != Kind::mapping)
            fail("expected a mapping for merging, but found " +
                     std::string(nodes_[sub].kind == Kind::scalar ? "a scalar" : "a sequence"),
                 key.mark);
          flatten(nodes_[sub], parts.emplace_back());
        }
        for (auto it = parts.rbegin(); it != parts.rend(); ++it)
          merged.insert(merged.end(), it->begin(), it->end());
      } else {
        fail("expected a mapping or list of mappings for merging, but found a scalar", key.mark);
      }
    }
    out.insert(out.end(), merged.begin(), merged.end());
    out.insert(out.end(), own.begin(), own.end());
  }

  json value_of(std::uint32_t id) const {
    const Node &node = nodes_[id];
    switch (node.kind) {
    case Kind::scalar:
      return node.value;
    case Kind::sequence: {
      json arr = json::array();
      for (std::uint32_t item : node.items)
        arr.push_back(value_of(item));
      return arr;
    }
    case Kind::mapping:
      break;
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    flatten(node, pairs);
    json obj = json::object();
    // A key lookup in an ordered mapping is linear; one index keeps a large mapping linear. A
    // repeated key keeps its first place and takes the later value.
    auto &entries = obj.get_ref<json::object_t &>();
    std::unordered_map<std::string, std::size_t> at;
    at.reserve(pairs.size());
    for (const auto &[key_id, value_id] : pairs) {
      const Node &key = nodes_[key_id];
      if (key.kind != Kind::scalar)
        fail("found unhashable key", key.mark);
      std::string name = key.value.is_string() ? key.value.get<std::string>() : to_text(key.value);
      json value = value_of(value_id);
      const auto [it, added] = at.try_emplace(name, entries.size());
      if (added)
        entries.Container::emplace_back(std::move(name), std::move(value));
      else
        entries.begin()[static_cast<std::ptrdiff_t>(it->second)].second = std::move(value);
    }
    return obj;
  }

  std::uint64_t max_bytes_;
  std::vector<Node> nodes_;
  std::vector<std::uint32_t> open_;
  std::unordered_map<std::string, std::uint32_t> anchors_;
  std::optional<std::uint32_t> root_;
};

} // namespace

json parse_yaml(std::string_view text) {
  Parser parser(text);
  Composer composer(text.size());
  Event event;
  for (;;) {
    event.clear();
    parser.next(event.e);
    event.live = true;
    const yaml_event_t &e = event.e;
    switch (e.type) {
    case YAML_DOCUMENT_START_EVENT:
      if (!composer.empty())
        fail("expected a single document in the stream, but found another document", e.start_mark);
      break;
    case YAML_SCALAR_EVENT:
      composer.scalar(e);
      break;
    case YAML_SEQUENCE_START_EVENT:
      composer.open(Kind::sequence, e, e.data.sequence_start.anchor, e.data.sequence_start.tag);
      break;
    case YAML_MAPPING_START_EVENT:
      composer.open(Kind::mapping, e, e.data.mapping_start.anchor, e.data.mapping_start.tag);
      break;
    case YAML_SEQUENCE_END_EVENT:
    case YAML_MAPPING_END_EVENT:
      composer.close(e);
      break;
    case YAML_ALIAS_EVENT:
      composer.alias(e);
      break;
    case YAML_STREAM_END_EVENT:
      return composer.build();
    default:
      break;
    }
  }
}

} // namespace vaskit::config

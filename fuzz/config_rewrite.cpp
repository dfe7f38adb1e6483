// The in-place rewrite of a YAML configuration. The input bytes steer a generator of files as
// people write them (comments and blank lines between entries, commented-out children under a
// key, every scalar style, block and flow collections, a byte-order mark, CRLF, no final line
// break) and an edit (entries removed, values replaced, new keys placed after a kept key or
// where the mapping ends). The rewrite must succeed on every such file; the result loads as
// exactly the intended mapping, keeps the byte-order mark, keeps the text of every untouched
// entry byte for byte and every comment line that no removed entry holds, adds no run of two
// blank lines where the file had none, and a commented-out child under an untouched key still
// loads as that key's child once it is uncommented.
#include "core/config.hpp"
#include "harness.hpp"
#include "vaskern/yaml_edit.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using json = vaskit::config::json;

// Reads the input a byte at a time; zeros once it is used up.
class Bytes {
public:
  Bytes(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
  unsigned next() { return pos_ < size_ ? data_[pos_++] : 0; }
  // A number in [0, n).
  unsigned pick(std::size_t n) { return static_cast<unsigned>(next() % n); }
  bool flag() { return next() & 1; }

private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct EntryText {
  std::string key;            // as it loads
  std::size_t begin;          // key line start
  std::size_t end;            // after the value's last content character
  bool block = false;         // its value is a block scalar
  bool ends_in_block = false; // its text ends with a block scalar's last line
  bool empty_value = false;
  std::vector<std::size_t> children; // commented-out children lines (line starts)
};

struct CommentLine {
  std::string text;
  std::size_t at;
  int owner; // the removed entry that would take it along, or -1
};

const char *const kPlain[] = {"guide_v1.html", "Plain words here", "12",  "1.5", "yes",
                              "null",          "中文說明 🎉",       "a#b", "~",   "http://x/y?z=1"};
const char *const kLines[] = {"first line",      "  indented more", "中文 🎉",
                              "# not a comment", "key: value",      "- not an item"};
const char *const kNewText[] = {"guide_v2.html", "",          "yes", "two\nlines", "a: b # c",
                                "'q'",           " lead",     "#x",  "中文 🎉",     "|",
                                "- item",        "tab\there", "null"};

std::string child_name(std::size_t entry, std::size_t i);

class Generator {
public:
  Generator(Bytes &in, std::string eol, std::string indent)
      : in_(in), eol_(std::move(eol)), ind_(std::move(indent)) {}

  std::string text;
  std::vector<EntryText> entries;
  std::vector<CommentLine> comments;
  bool open_block_end = false; // the last entry is a block scalar without a final line break

  void line(const std::string &s) { text += s + eol_; }

  // An indented comment goes with the entry before it when only blank lines and other indented
  // comments stand between them.
  void comment(int owner, bool indented) {
    CommentLine c;
    c.at = text.size();
    c.text =
        (indented ? ind_ + "  # inner note " : ind_ + "# note ") + std::to_string(comments.size());
    c.owner = indented && direct_ ? owner : -1;
    if (!indented)
      direct_ = false;
    line(c.text);
    comments.push_back(c);
  }

  // The key of entry `i`, written plain or quoted.
  std::string key_text(const std::string &key) {
    switch (in_.pick(6)) {
    case 0:
      return "'" + key + "'";
    case 1:
      return "\"" + key + "\"";
    default:
      return key;
    }
  }

  void entry(const std::string &key) {
    direct_ = true;
    EntryText e;
    e.key = key;
    e.begin = text.size();
    text += ind_ + key_text(key) + ":";
    const std::string in2 = ind_ + "  ";
    switch (in_.pick(12)) {
    case 0:
    case 1:
      text += " " + std::string(kPlain[in_.pick(std::size(kPlain))]);
      break;
    case 2:
      text += " 'it''s # here'";
      break;
    case 3:
      text += " \"tab\\there \\\"q\\\"\"";
      break;
    case 4:
    case 5: {
      e.block = e.ends_in_block = true;
      text += in_.flag() ? " |" : " >";
      const unsigned chomp = in_.pick(3);
      text += chomp == 0 ? "" : chomp == 1 ? "+" : "-";
      const bool explicit_indent = in_.pick(4) == 0;
      if (explicit_indent)
        text += "2";
      if (in_.pick(4) == 0)
        text += " # header note";
      const unsigned lines = 1 + in_.pick(3);
      for (unsigned i = 0; i < lines; ++i) {
        text += eol_;
        if (i > 0 && in_.pick(3) == 0) {
          // An empty line inside: nothing, the indentation only, or more (then it is text).
          const unsigned kind = in_.pick(3);
          text += (kind == 0 ? "" : kind == 1 ? in2 : in2 + "   ") + eol_;
        }
        text += in2 + kLines[in_.pick(std::size(kLines))];
      }
      break;
    }
    case 6:
      text += in_.flag() ? " [a, 'b c', {x: 1}]" : " {x: 1, y: [2, 3]}";
      break;
    case 7:
      text += " [a," + eol_ + in2 + "b]";
      break;
    case 8: {
      // A block sequence, indented or at its key's column.
      const std::string at = in_.flag() ? in2 : ind_;
      text += eol_ + at + "- a" + eol_ + at + "- b c";
      if (in_.pick(3) == 0) {
        text += eol_ + at + "- |" + eol_ + at + "    text of an item";
        e.ends_in_block = true;
      }
      break;
    }
    case 9:
      text += eol_ + in2 + "x: 1" + eol_ + in2 + "y: two";
      break;
    case 10:
      text += " one" + eol_ + in2 + "two";
      break;
    default:
      e.empty_value = true;
      if (in_.flag())
        text += " # nothing yet";
      break;
    }
    e.end = text.size();
    text += eol_;
    // Commented-out children right under a key without a value.
    if (e.empty_value && in_.pick(2) == 0) {
      const unsigned n = 1 + in_.pick(3);
      for (unsigned i = 0; i < n; ++i) {
        e.children.push_back(text.size());
        line(ind_ + "#  " + child_name(entries.size(), i) + ": yes");
      }
    }
    entries.push_back(std::move(e));
  }

  // What goes between entries: blank lines and comments.
  void between(bool after_block) {
    const int owner = static_cast<int>(entries.size()) - 1;
    const unsigned what = in_.next();
    // An indented comment right after a block scalar would be part of it.
    if ((what & 1) && !after_block && owner >= 0)
      comment(owner, true);
    if (what & 2)
      line(in_.flag() ? "" : ind_);
    if (what & 4)
      comment(owner, false);
    if (what & 8)
      line("");
    if ((what & 16) && !after_block && owner >= 0)
      comment(owner, true);
  }

  Bytes &in_;
  std::string eol_;
  std::string ind_;
  bool direct_ = false;
};

std::string child_name(std::size_t entry, std::size_t i) {
  return "child" + std::to_string(entry) + "_" + std::to_string(i);
}

bool has_double_blank(std::string_view text) {
  std::size_t blanks = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    auto nl = text.find('\n', pos);
    if (nl == std::string_view::npos)
      nl = text.size();
    std::string_view line = text.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    blanks = line.find_first_not_of(" \t") == std::string_view::npos ? blanks + 1 : 0;
    if (blanks >= 2)
      return true;
    pos = nl + 1;
  }
  return false;
}

json new_value(Bytes &in) {
  switch (in.pick(6)) {
  case 0:
    return static_cast<int>(in.next()) - 100;
  case 1:
    return in.flag();
  case 2:
    return nullptr;
  case 3:
    return json::array({"a", 1});
  default:
    return kNewText[in.pick(std::size(kNewText))];
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Bytes in(data, size);
  const unsigned shape = in.next();
  const bool bom = shape & 1;
  const std::string eol = shape & 2 ? "\r\n" : "\n";
  const std::string indent = shape & 4 ? "  " : "";
  const bool start_marker = shape & 8;
  const bool no_final_break = shape & 16;
  const bool end_marker = (shape & 32) && !no_final_break;

  Generator g(in, eol, indent);
  if (start_marker)
    g.line("--- # the configuration");
  if (in.flag())
    g.comment(-1, false);
  const unsigned count = in.pick(10);
  static const char *const names[] = {"document_title",
                                      "download_link",
                                      "document1_title",
                                      "document1_file",
                                      "document1_description",
                                      "modules",
                                      "document2_title",
                                      "document2_file",
                                      "extra_list",
                                      "document2_description",
                                      "notes",
                                      "document10_file"};
  for (unsigned i = 0; i < count; ++i) {
    if (i > 0)
      g.between(g.entries.back().block);
    g.entry(names[i]);
  }
  if (!g.entries.empty())
    g.between(g.entries.back().block);
  if (end_marker)
    g.line("...");
  if (no_final_break) {
    while (!g.text.empty() && (g.text.back() == '\n' || g.text.back() == '\r'))
      g.text.pop_back();
    if (!g.entries.empty() && g.entries.back().end == g.text.size() &&
        g.entries.back().ends_in_block)
      g.open_block_end = true;
  }
  // Comments cut off by the dropped line break are no longer whole lines.
  for (auto &c : g.comments)
    if (c.at + c.text.size() > g.text.size())
      c.at = std::string::npos;

  json old;
  try {
    old = vaskit::config::parse_yaml(g.text);
  } catch (const vaskit::config::ParseError &) {
    return 0; // a combination that is no YAML: not a file anyone has
  }
  if (old.is_null())
    old = json::object();
  FUZZ_CHECK(old.is_object() && old.size() == g.entries.size(), g.text);

  // The edit: each entry kept, removed or given a new value; new keys after a kept key (slot
  // i + 1) or before every kept key (slot 0).
  enum class Fate { keep, remove, change };
  std::vector<Fate> fate;
  std::vector<json> changed(g.entries.size());
  for (std::size_t i = 0; i < g.entries.size(); ++i) {
    const unsigned f = in.pick(4);
    fate.push_back(f == 1 ? Fate::remove : f == 2 ? Fate::change : Fate::keep);
    if (fate.back() == Fate::change) {
      changed[i] = new_value(in);
      if (changed[i] == old.at(g.entries[i].key))
        fate.back() = Fate::keep;
    }
  }
  std::vector<std::vector<std::string>> added(g.entries.size() + 1);
  const unsigned new_keys = in.pick(5);
  static const char *const new_names[] = {
      "document3_title", "document3_file", "document3_description", "k 1", "yes", "extra"};
  for (unsigned i = 0; i < new_keys && i < std::size(new_names); ++i) {
    std::vector<std::size_t> slots = {0};
    for (std::size_t e = 0; e < g.entries.size(); ++e)
      if (fate[e] != Fate::remove)
        slots.push_back(e + 1);
    // Mostly after the last kept key or a document key, as the tools add them.
    const std::size_t slot = in.flag() ? slots.back() : slots[in.pick(slots.size())];
    added[slot].push_back(new_names[i]);
  }

  json want = json::object();
  auto put_added = [&](std::size_t slot) {
    for (const auto &k : added[slot])
      want[k] = "added " + k;
  };
  put_added(0);
  for (std::size_t i = 0; i < g.entries.size(); ++i) {
    const std::string &k = g.entries[i].key;
    if (fate[i] == Fate::remove)
      continue;
    want[k] = fate[i] == Fate::change ? changed[i] : old.at(k);
    put_added(i + 1);
  }

  const std::string file = (bom ? "\xEF\xBB\xBF" : "") + g.text;
  const auto r = vaskern::yaml_edit::splice_mapping(file, want);
  FUZZ_CHECK(r.text.has_value(),
             r.reason + "\n--- file ---\n" + file + "\n--- want ---\n" + want.dump());
  const std::string &out = *r.text;
  const std::string report = "\n--- file ---\n" + file + "\n--- result ---\n" + out;
  const bool out_bom = out.rfind("\xEF\xBB\xBF", 0) == 0;
  FUZZ_CHECK(out_bom == bom, "byte-order mark" + report);
  const std::string body = out.substr(out_bom ? 3 : 0);
  json got;
  try {
    got = vaskit::config::parse_yaml(body);
  } catch (const vaskit::config::ParseError &e) {
    FUZZ_CHECK(false, std::string("result does not load: ") + e.what() + report);
  }
  if (got.is_null())
    got = json::object();
  FUZZ_CHECK(got == want, "loads as " + got.dump() + ", not " + want.dump() + report);

  // Untouched entries keep their text, in order; a block scalar that got a line break after
  // its last line may have changed its chomping indicator to "-" (that is all).
  std::size_t from = 0;
  for (std::size_t i = 0; i < g.entries.size(); ++i) {
    if (fate[i] != Fate::keep)
      continue;
    const auto &e = g.entries[i];
    const std::string before = g.text.substr(e.begin, e.end - e.begin);
    auto at = body.find(before, from);
    if (at == std::string::npos && g.open_block_end && i + 1 == g.entries.size()) {
      std::string stripped = before;
      const auto bar = stripped.rfind(" |"), angle = stripped.rfind(" >");
      const auto h = (bar == std::string::npos     ? angle
                      : angle == std::string::npos ? bar
                                                   : std::max(bar, angle)) +
                     1;
      if (h != std::string::npos + 1) {
        if (h + 1 < stripped.size() && stripped[h + 1] == '+')
          stripped[h + 1] = '-';
        else if (h + 1 >= stripped.size() || stripped[h + 1] != '-')
          stripped.insert(h + 1, "-");
        at = body.find(stripped, from);
      }
    }
    FUZZ_CHECK(at != std::string::npos, "entry " + e.key + " changed" + report);
    from = at + 1;
  }

  // Comment lines stay, in order, but for the indented ones a removed entry holds.
  from = 0;
  for (const auto &c : g.comments) {
    if (c.at == std::string::npos)
      continue;
    if (c.owner >= 0 && fate[static_cast<std::size_t>(c.owner)] == Fate::remove)
      continue;
    const auto at = body.find(c.text, from);
    FUZZ_CHECK(at != std::string::npos, "comment '" + c.text + "' lost" + report);
    from = at + 1;
  }

  FUZZ_CHECK(has_double_blank(g.text) || !has_double_blank(body), "two blank lines" + report);

  // Uncommenting the children under an untouched key makes them its children.
  for (std::size_t i = 0; i < g.entries.size(); ++i) {
    const auto &e = g.entries[i];
    if (fate[i] != Fate::keep || e.children.empty())
      continue;
    std::string edited = body;
    std::size_t search = 0;
    json children = json::object();
    for (std::size_t c = 0; c < e.children.size(); ++c) {
      const std::string child = indent + "#  " + child_name(i, c) + ": yes";
      const auto at = edited.find(child, search);
      FUZZ_CHECK(at != std::string::npos, "child line lost" + report);
      edited.erase(at + indent.size(), 1); // the '#'
      search = at;
      children[child_name(i, c)] = true;
    }
    json loaded;
    try {
      loaded = vaskit::config::parse_yaml(edited);
    } catch (const vaskit::config::ParseError &ex) {
      FUZZ_CHECK(false, std::string("uncommented children do not load: ") + ex.what() +
                            "\n--- uncommented ---\n" + edited + report);
    }
    FUZZ_CHECK(loaded.is_object() && loaded.contains(e.key) && loaded.at(e.key) == children,
               "uncommented children of " + e.key + " load as " + loaded.dump() +
                   "\n--- uncommented ---\n" + edited + report);
  }
  return 0;
}

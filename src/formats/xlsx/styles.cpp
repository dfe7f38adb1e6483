#include "formats/xlsx/styles.hpp"

#include "core/text.hpp"
#include "formats/xlsx/xml_util.hpp"

#include <array>
#include <charconv>

namespace vaskit::xlsx::detail {

namespace {

std::string first_section(std::string_view code) {
  return std::string(code.substr(0, code.find(';')));
}

bool is_ascii_letter_in(char c, std::string_view set) {
  return set.find(c) != std::string_view::npos;
}

// Reads exactly `width` digits at `pos`.
bool read_digits(std::string_view text, std::size_t &pos, std::size_t width, int &value) {
  if (pos + width > text.size()) {
    return false;
  }
  auto [end, ec] = std::from_chars(text.data() + pos, text.data() + pos + width, value);
  if (ec != std::errc() || end != text.data() + pos + width) {
    return false;
  }
  pos += width;
  return true;
}

bool read_time(std::string_view text, std::size_t &pos, DateTime &out) {
  if (!read_digits(text, pos, 2, out.hour) || pos >= text.size() || text[pos++] != ':' ||
      !read_digits(text, pos, 2, out.minute)) {
    return false;
  }
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!read_digits(text, pos, 2, out.second)) {
      return false;
    }
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      int micro = 0, digits = 0;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (digits < 6) {
          micro = micro * 10 + (text[pos] - '0');
          ++digits;
        }
        ++pos;
      }
      for (; digits < 6; ++digits) {
        micro *= 10;
      }
      out.microsecond = micro;
    }
  }
  return out.hour < 24 && out.minute < 60 && out.second < 60;
}

} // namespace

bool is_builtin_date_format(int id) {
  return (id >= 14 && id <= 22) || (id >= 45 && id <= 47);
}

bool is_date_format_code(std::string_view code) {
  const std::string section = first_section(code);
  // Drop quoted literals and bracketed tags ([Red], [$-404]) but keep elapsed-time tags.
  std::string kept;
  for (std::size_t i = 0; i < section.size(); ++i) {
    char c = section[i];
    if (c == '"') {
      std::size_t close = section.find('"', i + 1);
      if (close != std::string::npos) {
        i = close;
        continue;
      }
    } else if (c == '[') {
      std::size_t close = section.find(']', i + 1);
      if (close != std::string::npos) {
        std::string_view tag(section.data() + i + 1, close - i - 1);
        static constexpr std::array<std::string_view, 6> elapsed{"h", "hh", "m", "mm", "s", "ss"};
        bool is_elapsed = false;
        for (std::string_view e : elapsed) {
          is_elapsed = is_elapsed || tag == e;
        }
        if (!is_elapsed) {
          i = close;
          continue;
        }
      }
    }
    kept += c;
  }
  for (std::size_t i = 0; i < kept.size(); ++i) {
    // "\d" and "_d" put a literal character or its width, not a date part.
    if (is_ascii_letter_in(kept[i], "dmhysDMHYS") &&
        (i == 0 || (kept[i - 1] != '\\' && kept[i - 1] != '_'))) {
      return true;
    }
  }
  return false;
}

bool is_duration_format_code(std::string_view code) {
  const std::string section = text::ascii_lower(first_section(code));
  for (std::string_view tag : {"[h]", "[hh]", "[m]", "[mm]", "[s]", "[ss]"}) {
    if (section.find(tag) != std::string::npos) {
      return true;
    }
  }
  return false;
}

std::optional<DateTime> parse_iso_datetime(std::string_view text) {
  DateTime out;
  std::size_t pos = 0;
  if (text.size() >= 3 && text[2] == ':') {
    out.time_only = true;
    out.year = 1899;
    out.month = 12;
    out.day = 30;
    if (!read_time(text, pos, out) || pos != text.size()) {
      return std::nullopt;
    }
    return out;
  }
  if (!read_digits(text, pos, 4, out.year) || pos >= text.size() || text[pos++] != '-' ||
      !read_digits(text, pos, 2, out.month) || pos >= text.size() || text[pos++] != '-' ||
      !read_digits(text, pos, 2, out.day)) {
    return std::nullopt;
  }
  if (out.month < 1 || out.month > 12 || out.day < 1 || out.day > 31) {
    return std::nullopt;
  }
  if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
    ++pos;
    if (!read_time(text, pos, out)) {
      return std::nullopt;
    }
  } else {
    out.date_only = true;
  }
  if (pos < text.size() && text[pos] == 'Z') {
    ++pos;
  }
  return pos == text.size() ? std::optional<DateTime>(out) : std::nullopt;
}

const char *const default_styles_xml =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
    R"(<fonts count="1"><font><sz val="11"/><name val="Calibri"/><family val="2"/>)"
    R"(<scheme val="minor"/></font></fonts>)"
    R"(<fills count="2"><fill><patternFill patternType="none"/></fill>)"
    R"(<fill><patternFill patternType="gray125"/></fill></fills>)"
    R"(<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>)"
    R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>)"
    R"(<cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/></cellXfs>)"
    R"(<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>)"
    R"(<dxfs count="0"/><tableStyles count="0"/></styleSheet>)";

Styles::Styles(pugi::xml_document &&doc) {
  doc_.reset(doc);
  pugi::xml_node root = doc_.document_element();
  for (pugi::xml_node fmt = child(child(root, "numFmts"), "numFmt"); fmt;
       fmt = fmt.next_sibling()) {
    if (fmt.type() == pugi::node_element && local_name(fmt) == "numFmt") {
      custom_formats_[fmt.attribute("numFmtId").as_int(-1)] = fmt.attribute("formatCode").value();
    }
  }
  for (pugi::xml_node xf = child(child(root, "cellXfs"), "xf"); xf; xf = xf.next_sibling()) {
    if (xf.type() == pugi::node_element && local_name(xf) == "xf") {
      xfs_.push_back(xf);
    }
  }
  date_cache_.assign(xfs_.size(), -1);
}

bool Styles::shows_date(int xf) {
  if (xf < 0 || static_cast<std::size_t>(xf) >= xfs_.size()) {
    return false;
  }
  signed char &cached = date_cache_[static_cast<std::size_t>(xf)];
  if (cached < 0) {
    const int id = xfs_[static_cast<std::size_t>(xf)].attribute("numFmtId").as_int(0);
    auto custom = custom_formats_.find(id);
    if (custom != custom_formats_.end()) {
      cached = is_date_format_code(custom->second) && !is_duration_format_code(custom->second);
    } else {
      cached = is_builtin_date_format(id);
    }
  }
  return cached == 1;
}

pugi::xml_node Styles::ensure_cell_xfs() {
  pugi::xml_node root = doc_.document_element();
  if (pugi::xml_node xfs = child(root, "cellXfs")) {
    return xfs;
  }
  // Elements that follow cellXfs in a style sheet.
  pugi::xml_node before;
  for (std::string_view name : {"cellStyles", "dxfs", "tableStyles", "colors", "extLst"}) {
    if ((before = child(root, name))) {
      break;
    }
  }
  const std::string name = same_prefix(root, "cellXfs");
  pugi::xml_node xfs =
      before ? root.insert_child_before(name.c_str(), before) : root.append_child(name.c_str());
  xfs.append_attribute("count") = 0;
  dirty_ = true;
  return xfs;
}

void check_alignment(const Alignment &alignment) {
  static constexpr std::array<std::string_view, 8> horizontals{
      "general", "left", "center", "right", "fill", "justify", "centerContinuous", "distributed"};
  static constexpr std::array<std::string_view, 5> verticals{"top", "center", "bottom", "justify",
                                                             "distributed"};
  auto allowed = [](const auto &list, const std::string &value) {
    for (std::string_view v : list) {
      if (v == value) {
        return true;
      }
    }
    return false;
  };
  if (alignment.horizontal && !allowed(horizontals, *alignment.horizontal)) {
    throw std::invalid_argument("invalid horizontal alignment '" + *alignment.horizontal + "'");
  }
  if (alignment.vertical && !allowed(verticals, *alignment.vertical)) {
    throw std::invalid_argument("invalid vertical alignment '" + *alignment.vertical + "'");
  }
}

int Styles::with_alignment(int xf, const Alignment &alignment) {
  check_alignment(alignment);
  pugi::xml_node cell_xfs = ensure_cell_xfs();
  if (xfs_.empty()) {
    // Format 0 is what every cell without a style shows, so the first aligned format must not
    // take its place: a plain one goes first.
    pugi::xml_node plain = cell_xfs.append_child(same_prefix(cell_xfs, "xf").c_str());
    for (const char *id : {"numFmtId", "fontId", "fillId", "borderId", "xfId"}) {
      plain.append_attribute(id) = 0;
    }
    xfs_.push_back(plain);
    date_cache_.push_back(-1);
    if (indexed_) {
      xf_index_by_text_.emplace(serialize(plain), 0);
    }
    pugi::xml_attribute count = cell_xfs.attribute("count");
    if (!count) {
      count = cell_xfs.append_attribute("count");
    }
    count = 1;
    dirty_ = true;
  }
  pugi::xml_document scratch;
  pugi::xml_node candidate;
  if (xf >= 0 && static_cast<std::size_t>(xf) < xfs_.size()) {
    candidate = scratch.append_copy(xfs_[static_cast<std::size_t>(xf)]);
  } else {
    candidate = scratch.append_copy(xfs_.front());
  }
  while (pugi::xml_node old = child(candidate, "alignment")) {
    candidate.remove_child(old);
  }
  pugi::xml_attribute apply = candidate.attribute("applyAlignment");
  if (!apply) {
    apply = candidate.append_attribute("applyAlignment");
  }
  apply = "1";
  if (alignment.horizontal || alignment.vertical || alignment.wrap_text) {
    pugi::xml_node node = candidate.prepend_child(same_prefix(candidate, "alignment").c_str());
    if (alignment.horizontal) {
      node.append_attribute("horizontal") = alignment.horizontal->c_str();
    }
    if (alignment.vertical) {
      node.append_attribute("vertical") = alignment.vertical->c_str();
    }
    if (alignment.wrap_text) {
      node.append_attribute("wrapText") = "1";
    }
  }

  if (!indexed_) {
    for (std::size_t i = 0; i < xfs_.size(); ++i) {
      xf_index_by_text_.emplace(serialize(xfs_[i]), static_cast<int>(i));
    }
    indexed_ = true;
  }
  std::string key = serialize(candidate);
  if (auto found = xf_index_by_text_.find(key); found != xf_index_by_text_.end()) {
    return found->second;
  }
  xfs_.push_back(cell_xfs.append_copy(candidate));
  date_cache_.push_back(-1);
  const int index = static_cast<int>(xfs_.size() - 1);
  xf_index_by_text_.emplace(std::move(key), index);
  pugi::xml_attribute count = cell_xfs.attribute("count");
  if (!count) {
    count = cell_xfs.append_attribute("count");
  }
  count = static_cast<unsigned>(xfs_.size());
  dirty_ = true;
  return index;
}

} // namespace vaskit::xlsx::detail

#include "formats/xlsx/formula.hpp"
#include "formats/xlsx/workbook_impl.hpp"
#include "formats/xlsx/xml_util.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace vaskit::xlsx {

namespace {

using detail::child;
using detail::local_name;
using detail::same_prefix;

void check_position(int row, int col) {
  if (row < 1 || row > max_rows || col < 1 || col > max_cols) {
    throw std::invalid_argument("invalid cell position (" + std::to_string(row) + ", " +
                                std::to_string(col) + ")");
  }
}

bool is_element(const pugi::xml_node &node, std::string_view name) {
  return node.type() == pugi::node_element && local_name(node) == name;
}

void remove_children(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_node c = node.first_child(); c;) {
    pugi::xml_node next = c.next_sibling();
    if (is_element(c, name)) {
      node.remove_child(c);
    }
    c = next;
  }
}

// Inserts a new child element before the parent's <extLst>, which must stay last.
pugi::xml_node add_child(pugi::xml_node parent, std::string_view name) {
  const std::string full = same_prefix(parent, name);
  if (pugi::xml_node ext = child(parent, "extLst")) {
    return parent.insert_child_before(full.c_str(), ext);
  }
  return parent.append_child(full.c_str());
}

std::string_view trim(std::string_view s) {
  while (!s.empty() &&
         (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r')) {
    s.remove_prefix(1);
  }
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// A stored number read the way Python's int() and float() read it: text without "." or an
// exponent is a whole number of any size, the rest a float; one leading "+" is allowed.
std::variant<std::monostate, long long, double, BigInteger> parse_number(std::string_view text) {
  text = trim(text);
  if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
    text.remove_prefix(1);
  }
  const char *first = text.data();
  const char *last = first + text.size();
  if (text.find_first_of(".eEnN") == std::string_view::npos) {
    long long whole = 0;
    auto [end, ec] = std::from_chars(first, last, whole);
    if (ec == std::errc() && end == last) {
      return whole;
    }
    const bool negative = !text.empty() && text.front() == '-';
    std::string_view digits = negative ? text.substr(1) : text;
    if (!digits.empty() &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      // Too large for long long (smaller ones were read above).
      const std::size_t nonzero = digits.find_first_not_of('0');
      return BigInteger{(negative ? "-" : "") + std::string(digits.substr(nonzero))};
    }
  }
  double real = 0;
  auto [end, ec] = std::from_chars(first, last, real);
  if (ec == std::errc() && end == last && !text.empty()) {
    return real;
  }
  return std::monostate{};
}

bool parse_range(std::string_view ref, CellRef &top_left, CellRef &bottom_right) {
  try {
    std::size_t colon = ref.find(':');
    top_left = parse_address(ref.substr(0, colon));
    bottom_right =
        colon == std::string_view::npos ? top_left : parse_address(ref.substr(colon + 1));
    return true;
  } catch (const std::invalid_argument &) {
    return false;
  }
}

} // namespace

void Worksheet::Impl::load() {
  detail::parse_part(book->package, part, doc);
  pugi::xml_node root = doc.document_element();
  if (local_name(root) != "worksheet") {
    throw Error(book->package.path().string() + ": " + part + " holds no worksheet");
  }
  sheet_data = child(root, "sheetData");
  if (!sheet_data) {
    // Elements that may come before sheetData.
    pugi::xml_node after;
    for (std::string_view name : {"cols", "sheetFormatPr", "sheetViews", "dimension", "sheetPr"}) {
      if ((after = child(root, name))) {
        break;
      }
    }
    const std::string name = same_prefix(root, "sheetData");
    sheet_data =
        after ? root.insert_child_after(name.c_str(), after) : root.prepend_child(name.c_str());
  }
  // Row and cell positions may be implicit (one after the previous); they are spelled out
  // here so that inserted rows and cells cannot shift them. Rows come in ascending order: a row
  // numbered at or below one before it (written twice, or out of order) is not read, so the
  // first of a row written twice counts, as the first of a cell written twice does, and a
  // reader may stop at the first row past those it wants.
  int last_row = 0;
  for (pugi::xml_node row : sheet_data.children()) {
    if (!is_element(row, "row")) {
      continue;
    }
    int r = static_cast<int>(
        detail::unsigned_attribute(row.attribute("r").value(), max_rows).value_or(0));
    if (r < 1) {
      r = last_row + 1;
      row.remove_attribute("r");
      row.append_attribute("r") = r;
    } else if (r <= last_row) {
      continue;
    }
    last_row = r;
    Row &entry = rows[r];
    entry.node = row;
    int last_col = 0;
    for (pugi::xml_node cell : row.children()) {
      if (!is_element(cell, "c")) {
        continue;
      }
      int col = 0;
      if (pugi::xml_attribute ref = cell.attribute("r")) {
        try {
          col = parse_address(ref.value()).col;
        } catch (const std::invalid_argument &) {
          col = 0;
        }
      }
      if (col == 0) {
        col = last_col + 1;
        if (col > max_cols) {
          continue;
        }
        cell.remove_attribute("r");
        cell.append_attribute("r") = format_address(r, col).c_str();
      }
      last_col = col;
      entry.cells.emplace(col, cell);
    }
  }
  for (pugi::xml_node list : root.children()) {
    if (!is_element(list, "mergeCells")) {
      continue;
    }
    for (pugi::xml_node merge : list.children()) {
      if (!is_element(merge, "mergeCell")) {
        continue;
      }
      const std::string_view ref = merge.attribute("ref").value();
      const auto colon = ref.find(':');
      if (colon == std::string_view::npos) {
        continue; // one cell: nothing is covered
      }
      try {
        Merge m{parse_address(ref.substr(0, colon)), parse_address(ref.substr(colon + 1)),
                std::string(ref)};
        if (m.first.row > m.last.row) {
          std::swap(m.first.row, m.last.row);
        }
        if (m.first.col > m.last.col) {
          std::swap(m.first.col, m.last.col);
        }
        merges.push_back(std::move(m));
      } catch (const std::invalid_argument &) {
        // A range the spreadsheet application would not show either.
      }
    }
  }
}

const Worksheet::Impl::Merge *Worksheet::Impl::covering_merge(int row, int col) const {
  for (const Merge &m : merges) {
    if (m.first.row <= row && row <= m.last.row && m.first.col <= col && col <= m.last.col &&
        !(m.first.row == row && m.first.col == col)) {
      return &m;
    }
  }
  return nullptr;
}

pugi::xml_node Worksheet::Impl::find_cell(int row, int col) const {
  auto r = rows.find(row);
  if (r == rows.end()) {
    return {};
  }
  auto c = r->second.cells.find(col);
  return c == r->second.cells.end() ? pugi::xml_node() : c->second;
}

int Worksheet::Impl::inherited_style(int row, int col) const {
  auto r = rows.find(row);
  if (r != rows.end() && r->second.node.attribute("customFormat").as_bool(false)) {
    return r->second.node.attribute("s").as_int(0);
  }
  for (pugi::xml_node cols : doc.document_element().children()) {
    if (!is_element(cols, "cols")) {
      continue;
    }
    for (pugi::xml_node c : cols.children()) {
      if (is_element(c, "col") && c.attribute("min").as_int(0) <= col &&
          col <= c.attribute("max").as_int(0)) {
        return c.attribute("style").as_int(0);
      }
    }
  }
  return 0;
}

void Worksheet::Impl::extend_dimension(int row, int col) {
  pugi::xml_node dim = child(doc.document_element(), "dimension");
  CellRef a, b;
  if (!dim || !parse_range(dim.attribute("ref").value(), a, b)) {
    return;
  }
  a = {std::min(a.row, row), std::min(a.col, col)};
  b = {std::max(b.row, row), std::max(b.col, col)};
  std::string ref = format_address(a.row, a.col);
  if (!(a == b)) {
    ref.append(":").append(format_address(b.row, b.col));
  }
  dim.attribute("ref") = ref.c_str();
}

pugi::xml_node Worksheet::Impl::ensure_cell(int row, int col) {
  if (pugi::xml_node cell = find_cell(row, col)) {
    return cell;
  }
  const int style = inherited_style(row, col);
  auto r = rows.find(row);
  if (r == rows.end()) {
    auto next = rows.upper_bound(row);
    const std::string name = same_prefix(sheet_data, "row");
    pugi::xml_node node =
        next != rows.end()
            ? next->second.node.parent().insert_child_before(name.c_str(), next->second.node)
            : sheet_data.append_child(name.c_str());
    node.append_attribute("r") = row;
    r = rows.emplace(row, Row{node, {}}).first;
  }
  Row &entry = r->second;
  auto next = entry.cells.upper_bound(col);
  const std::string name = same_prefix(entry.node, "c");
  pugi::xml_node cell = next != entry.cells.end()
                            ? next->second.parent().insert_child_before(name.c_str(), next->second)
                            : add_child(entry.node, "c");
  cell.append_attribute("r") = format_address(row, col).c_str();
  if (style != 0) {
    cell.append_attribute("s") = style;
  }
  entry.cells.emplace(col, cell);
  // "spans" is only an optimisation hint; drop it rather than let it exclude the new cell.
  if (pugi::xml_attribute spans = entry.node.attribute("spans")) {
    bool covered = false;
    std::string_view text = spans.value();
    while (!text.empty()) {
      std::size_t space = text.find(' ');
      std::string_view range = text.substr(0, space);
      int first = 0, last = 0;
      std::size_t colon = range.find(':');
      if (colon != std::string_view::npos) {
        std::from_chars(range.data(), range.data() + colon, first);
        std::from_chars(range.data() + colon + 1, range.data() + range.size(), last);
      }
      covered = covered || (first <= col && col <= last);
      text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
    }
    if (!covered) {
      entry.node.remove_attribute(spans);
    }
  }
  extend_dimension(row, col);
  dirty = true;
  return cell;
}

void Worksheet::Impl::remove_formula(pugi::xml_node cell, int row, int col) {
  pugi::xml_node f = child(cell, "f");
  if (!f) {
    return;
  }
  // Cells that share this cell's formula store only a reference to it; they get their own
  // copy, moved to their position, before the master goes.
  if (std::string_view(f.attribute("t").value()) == "shared" && f.attribute("ref")) {
    const std::string si = f.attribute("si").value();
    const std::string master = detail::text_of(f);
    for (auto &[r, entry] : rows) {
      for (auto &[c, node] : entry.cells) {
        pugi::xml_node g = child(node, "f");
        if (!g || node == cell || std::string_view(g.attribute("t").value()) != "shared" ||
            si != g.attribute("si").value()) {
          continue;
        }
        const std::string moved = detail::shift_formula(master, r - row, c - col);
        g.remove_attribute("t");
        g.remove_attribute("si");
        g.remove_attribute("ref");
        g.text().set(moved.c_str());
      }
    }
  }
  cell.remove_child(f);
  book->removed_formulas.insert({sheet_id, format_address(row, col)});
}

CellValue Worksheet::Impl::read(pugi::xml_node cell) const {
  detail::RawCell raw;
  raw.type = cell.attribute("t").value();
  raw.style = detail::style_index(cell.attribute("s").value());
  if (raw.type == "inlineStr") {
    pugi::xml_node is = child(cell, "is");
    raw.has_inline = static_cast<bool>(is);
    if (is) {
      raw.inline_text = detail::rich_text(is);
    }
  } else if (pugi::xml_node v = child(cell, "v")) {
    raw.has_v = true;
    raw.v = detail::text_of(v);
  }
  return book->decode(raw);
}

CellValue Workbook::Impl::decode(const detail::RawCell &cell) {
  const std::string_view type = cell.type;
  if (type == "inlineStr") {
    if (!cell.has_inline) {
      return std::monostate{};
    }
    return detail::unescape_cell_text(cell.inline_text);
  }
  // An empty <v> holds no value, whatever the type says (a formula whose result was never
  // stored, a blank a generator wrote out).
  if (!cell.has_v || cell.v.empty()) {
    return std::monostate{};
  }
  const std::string_view text = cell.v;
  if (type == "s") {
    long long index = -1;
    std::string_view digits = trim(text);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (ec != std::errc() || end != digits.data() + digits.size()) {
      index = -1;
    }
    return shared_string(index);
  }
  if (type == "str") {
    return detail::unescape_cell_text(text);
  }
  if (type == "b") {
    std::string_view t = trim(text);
    return t == "1" || t == "true";
  }
  if (type == "e") {
    return CellError{std::string(text)};
  }
  if (type == "d") {
    if (auto date = detail::parse_iso_datetime(trim(text))) {
      return *date;
    }
    return std::string(text);
  }
  auto number = parse_number(text);
  if (std::holds_alternative<std::monostate>(number)) {
    // Not a number after all; keep what the file says rather than lose it.
    return std::string(text);
  }
  const double serial = std::holds_alternative<long long>(number)
                            ? static_cast<double>(std::get<long long>(number))
                        : std::holds_alternative<BigInteger>(number)
                            ? std::strtod(std::get<BigInteger>(number).digits.c_str(), nullptr)
                            : std::get<double>(number);
  if (style_sheet().shows_date(cell.style)) {
    if (auto date = date_from_serial(serial, date1904)) {
      return *date;
    }
  }
  if (std::holds_alternative<long long>(number)) {
    return std::get<long long>(number);
  }
  if (std::holds_alternative<BigInteger>(number)) {
    return std::get<BigInteger>(number);
  }
  return std::get<double>(number);
}

Worksheet::Worksheet(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Worksheet::~Worksheet() = default;

const std::string &Worksheet::name() const {
  return impl_->name;
}

int Worksheet::max_row() const {
  for (auto row = impl_->rows.rbegin(); row != impl_->rows.rend(); ++row) {
    if (!row->second.cells.empty()) {
      return row->first;
    }
  }
  return 0;
}

int Worksheet::max_column() const {
  int last = 0;
  for (const auto &[number, row] : impl_->rows) {
    if (!row.cells.empty()) {
      last = std::max(last, row.cells.rbegin()->first);
    }
  }
  return last;
}

CellValue Worksheet::value(std::string_view address) const {
  CellRef ref = parse_address(address);
  return value(ref.row, ref.col);
}

CellValue Worksheet::value(int row, int col) const {
  check_position(row, col);
  pugi::xml_node cell = impl_->find_cell(row, col);
  return cell ? impl_->read(cell) : CellValue{};
}

void Worksheet::set_value(std::string_view address, const CellInput &value) {
  CellRef ref = parse_address(address);
  set_value(ref.row, ref.col, value);
}

void Worksheet::set_value(int row, int col, const CellInput &value) {
  check_position(row, col);
  if (std::holds_alternative<std::monostate>(value)) {
    return;
  }
  if (const double *real = std::get_if<double>(&value); real && !std::isfinite(*real)) {
    throw std::invalid_argument("cannot store " + std::to_string(*real) + " in cell " +
                                format_address(row, col));
  }
  // The spreadsheet application shows such a value nowhere, and readers take the cell as empty.
  if (const Impl::Merge *m = impl_->covering_merge(row, col)) {
    throw Error("cell " + format_address(row, col) + " lies inside the merged range " + m->text +
                ", whose value only its first cell " + format_address(m->first.row, m->first.col) +
                " holds");
  }
  pugi::xml_node cell = impl_->ensure_cell(row, col);
  impl_->remove_formula(cell, row, col);
  remove_children(cell, "v");
  remove_children(cell, "is");
  // The type and the value and cell metadata describe the old value.
  cell.remove_attribute("t");
  cell.remove_attribute("cm");
  cell.remove_attribute("vm");
  impl_->dirty = true;

  if (const std::string *text = std::get_if<std::string>(&value)) {
    const std::string clean = detail::clean_text(*text);
    if (clean.empty()) {
      return; // an empty text is an empty cell
    }
    // An inline string is always text, so "=1+1" is never taken for a formula.
    cell.append_attribute("t") = "inlineStr";
    pugi::xml_node is = add_child(cell, "is");
    pugi::xml_node t = is.append_child(same_prefix(is, "t").c_str());
    const char first = clean.front();
    const char last = clean.back();
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    if (space(first) || space(last)) {
      t.append_attribute("xml:space") = "preserve";
    }
    t.text().set(detail::escape_cell_text(clean).c_str());
    return;
  }
  std::string number;
  if (const long long *whole = std::get_if<long long>(&value)) {
    number = std::to_string(*whole);
  } else {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::get<double>(value));
    number.assign(buffer, end);
  }
  add_child(cell, "v").text().set(number.c_str());
}

void Worksheet::set_alignment(std::string_view address, const Alignment &alignment) {
  CellRef ref = parse_address(address);
  set_alignment(ref.row, ref.col, alignment);
}

void Worksheet::set_alignment(int row, int col, const Alignment &alignment) {
  check_position(row, col);
  detail::check_alignment(alignment);
  pugi::xml_node existing = impl_->find_cell(row, col);
  const int base = existing ? detail::style_index(existing.attribute("s").value())
                            : impl_->inherited_style(row, col);
  const int style = impl_->book->style_sheet_for_edit().with_alignment(base, alignment);
  pugi::xml_node cell = impl_->ensure_cell(row, col);
  pugi::xml_attribute s = cell.attribute("s");
  if (!s) {
    s = cell.append_attribute("s");
  }
  s = style;
  impl_->dirty = true;
}

} // namespace vaskit::xlsx

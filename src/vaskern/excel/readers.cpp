// The cell-mapped readers: CSV files and the active sheet of workbooks.
#include "core/fs.hpp"
#include "core/text.hpp"
#include "formats/xlsx/quick_read.hpp"
#include "vaskern/excel/csv.hpp"
#include "vaskern/excel/excelTools.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace vaskern::excelTools {

namespace {

struct Source {
  std::string name;
  int col = 0;       // 1-based
  int first_row = 0; // 1-based row of the first value
};

std::vector<Source> sources_of(const CellMapping &mapping) {
  std::vector<Source> out;
  for (const auto &[name, address] : mapping) {
    vaskit::xlsx::CellRef ref;
    try {
      ref = vaskit::xlsx::parse_address(address);
    } catch (const std::invalid_argument &) {
      throw std::invalid_argument("the cell address of \"" + name + "\" is not one cell: '" +
                                  address + "'");
    }
    out.push_back({name, ref.col, ref.row});
  }
  return out;
}

// values[k] of each source is the cell at first_row + k; the table ends at the last row where
// any of them holds a value, and rows without any value are left out.
Table assemble(const std::vector<Source> &sources, std::vector<std::vector<Cell>> &values) {
  std::size_t rows = 0;
  for (const auto &v : values) {
    std::size_t last = v.size();
    while (last > 0 && missing(v[last - 1]))
      --last;
    rows = std::max(rows, last);
  }
  for (auto &v : values)
    v.resize(rows);
  std::vector<std::size_t> kept;
  kept.reserve(rows);
  for (std::size_t r = 0; r < rows; ++r) {
    bool any = false;
    for (const auto &v : values)
      any = any || !missing(v[r]);
    if (any)
      kept.push_back(r);
  }
  std::vector<std::string> names;
  for (const Source &s : sources)
    names.push_back(s.name);
  Table all(std::move(names), std::move(values));
  return kept.size() == rows ? all : all.take(kept);
}

// A CSV field that reads as a number: decimal digits with an optional sign, fraction and
// exponent; no leading zeros ("0045" is an identifier) and no more significant digits than a
// number keeps exactly.
std::optional<double> csv_number(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+'))
    ++i;
  const std::size_t int_start = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9')
    ++i;
  const std::size_t int_digits = i - int_start;
  std::size_t frac_digits = 0;
  if (i < s.size() && s[i] == '.') {
    ++i;
    const std::size_t f = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
      ++i;
    frac_digits = i - f;
  }
  if (int_digits + frac_digits == 0)
    return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
      ++i;
    const std::size_t e = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
      ++i;
    if (i == e)
      return std::nullopt;
  }
  if (i != s.size())
    return std::nullopt;
  if (int_digits > 1 && s[int_start] == '0')
    return std::nullopt;
  std::size_t significant = 0;
  bool leading = true;
  for (std::size_t k = int_start; k < s.size() && s[k] != 'e' && s[k] != 'E'; ++k) {
    if (s[k] == '.')
      continue;
    if (leading && s[k] == '0')
      continue;
    leading = false;
    ++significant;
  }
  if (significant > 15)
    return std::nullopt;
  std::string_view digits = s;
  if (!digits.empty() && digits.front() == '+')
    digits.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (ec != std::errc() || end != digits.data() + digits.size() || !std::isfinite(v))
    return std::nullopt;
  return v;
}

Cell csv_cell(std::string &&field) {
  if (field.empty())
    return Cell{};
  // Exports that pad their columns write numbers with blanks around them.
  std::string_view number = field;
  while (!number.empty() && (number.front() == ' ' || number.front() == '\t'))
    number.remove_prefix(1);
  while (!number.empty() && (number.back() == ' ' || number.back() == '\t'))
    number.remove_suffix(1);
  if (const auto n = csv_number(number))
    return Cell{*n};
  return Cell{std::move(field)};
}

// Line ends in `s` as records end: CR LF, LF or a lone CR.
std::size_t line_ends(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (s[i] == '\n' || (s[i] == '\r' && (i + 1 == s.size() || s[i + 1] != '\n')))
      ++n;
  return n;
}

// The line of the first byte that is not UTF-8, or 0 when all is.
std::size_t first_bad_utf8_line(std::string_view data) {
  std::size_t line = 1;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = data.find_first_of("\r\n", start);
    if (!vaskit::text::valid_utf8(data.substr(start, end - start)))
      return line;
    if (end == std::string_view::npos)
      return 0;
    start = end + (data.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    ++line;
  }
}

} // namespace

void csv_records(std::string_view text,
                 const std::function<void(const std::vector<std::string> &fields)> &record) {
  std::vector<std::string> fields;
  std::size_t pos = 0;
  std::size_t line = 1;
  while (pos < text.size()) {
    std::size_t count = 0;
    for (;;) {
      // One field, into a string the previous records may already have grown.
      if (count == fields.size())
        fields.emplace_back();
      std::string &field = fields[count++];
      field.clear();
      if (pos < text.size() && text[pos] == '"') {
        const std::size_t opened = line;
        ++pos;
        for (;;) {
          const std::size_t q = text.find('"', pos);
          if (q == std::string_view::npos)
            throw CsvError(opened, "a quoted field is never closed");
          const std::string_view part = text.substr(pos, q - pos);
          line += line_ends(part);
          field.append(part);
          pos = q + 1;
          if (pos < text.size() && text[pos] == '"') {
            field += '"';
            ++pos;
            continue;
          }
          break;
        }
        // Text after the closing quote belongs to the field, as spreadsheet programs read it.
        const std::size_t stop = text.find_first_of(",\r\n", pos);
        field.append(
            text.substr(pos, stop == std::string_view::npos ? std::string_view::npos : stop - pos));
        pos = stop == std::string_view::npos ? text.size() : stop;
      } else {
        const std::size_t stop = text.find_first_of(",\r\n", pos);
        const std::size_t end = stop == std::string_view::npos ? text.size() : stop;
        field.assign(text.substr(pos, end - pos));
        pos = end;
      }
      if (pos < text.size() && text[pos] == ',') {
        ++pos;
        continue;
      }
      break;
    }
    // End of the record: CR LF, LF or a lone CR.
    if (pos < text.size() && text[pos] == '\r')
      ++pos;
    if (pos < text.size() && text[pos] == '\n')
      ++pos;
    ++line;
    fields.resize(count);
    record(fields);
  }
}

Table read_csv_by_cells(const std::string &path, const CellMapping &mapping) {
  const std::vector<Source> sources = sources_of(mapping);
  std::string data = vaskit::fs::read_file(path);
  std::string_view text = data;
  if (vaskit::text::starts_with(text, "\xEF\xBB\xBF"))
    text.remove_prefix(3);
  if (const std::size_t bad = first_bad_utf8_line(text))
    throw std::runtime_error(path + ", line " + std::to_string(bad) + ": the text is not UTF-8");

  // Each source takes the field of its column from its first row on; a record too short for
  // a column gives a missing value there.
  std::vector<std::vector<Cell>> values(sources.size());
  int row = 0;
  try {
    csv_records(text, [&](const std::vector<std::string> &fields) {
      ++row;
      for (std::size_t i = 0; i < sources.size(); ++i) {
        if (row < sources[i].first_row)
          continue;
        const auto col = static_cast<std::size_t>(sources[i].col - 1);
        values[i].push_back(col < fields.size() ? csv_cell(std::string(fields[col])) : Cell{});
      }
    });
  } catch (const CsvError &e) {
    throw std::runtime_error(path + ", " + e.what());
  }
  return assemble(sources, values);
}

namespace {

Cell workbook_cell(const vaskit::xlsx::CellValue &v) {
  namespace xlsx = vaskit::xlsx;
  if (const auto *s = std::get_if<std::string>(&v))
    return s->empty() ? Cell{} : Cell{*s};
  // A whole number too long for a double (an identifier written by a program) keeps its
  // digits as text, so that it is neither changed nor mistaken for a neighbouring number.
  if (const auto *n = std::get_if<long long>(&v)) {
    constexpr long long exact = 1LL << 53;
    if (*n > exact || *n < -exact)
      return Cell{std::to_string(*n)};
    return Cell{static_cast<double>(*n)};
  }
  if (const auto *d = std::get_if<double>(&v))
    return Cell{*d};
  if (const auto *big = std::get_if<xlsx::BigInteger>(&v))
    return Cell{big->digits};
  if (const auto *dt = std::get_if<xlsx::DateTime>(&v)) {
    if (dt->time_only)
      return Cell{xlsx::to_text(v)};
    if (const auto date = make_date(dt->year, dt->month, dt->day))
      return Cell{*date};
    return Cell{};
  }
  if (std::holds_alternative<std::monostate>(v))
    return Cell{};
  return Cell{xlsx::to_text(v)}; // booleans and error values as their text
}

} // namespace

Table read_excel_by_cells(const std::string &path, const CellMapping &mapping) {
  const std::vector<Source> sources = sources_of(mapping);
  if (vaskit::text::lower(vaskit::fs::splitext(path).second) == ".xls")
    throw std::runtime_error(path + ": .xls workbooks (the Excel 97-2003 format) cannot be read; "
                                    "save the file as .xlsx");
  std::vector<vaskit::xlsx::CellRef> starts;
  for (const Source &src : sources)
    starts.push_back({src.first_row, src.col});
  // One pass over the sheet's XML keeps only the mapped cells: a large sheet is never held
  // in memory whole.
  const auto columns = vaskit::xlsx::read_active_columns(path, starts);
  std::vector<std::vector<Cell>> values(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) {
    values[i].reserve(columns[i].size());
    for (const auto &v : columns[i])
      values[i].push_back(workbook_cell(v));
  }
  return assemble(sources, values);
}

} // namespace vaskern::excelTools

#include "vaskern/excel/table.hpp"

#include "core/text.hpp"
#include "formats/xlsx/workbook.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <map>
#include <numeric>
#include <vector>

namespace vaskern::excelTools {

namespace chr = std::chrono;

Table::Table(std::vector<std::string> names, std::vector<std::vector<Cell>> columns)
    : names_(std::move(names)), columns_(std::move(columns)) {
  if (names_.size() != columns_.size())
    throw std::invalid_argument("a table needs one name per column");
  for (const auto &c : columns_)
    if (c.size() != columns_.front().size())
      throw std::invalid_argument("the columns of a table must have the same length");
}

bool Table::has(std::string_view name) const {
  return std::find(names_.begin(), names_.end(), name) != names_.end();
}

const std::vector<Cell> &Table::column(std::string_view name) const {
  const auto it = std::find(names_.begin(), names_.end(), name);
  if (it == names_.end())
    throw MissingColumn(std::string(name));
  return columns_[static_cast<std::size_t>(it - names_.begin())];
}

std::vector<Cell> &Table::column(std::string_view name) {
  return const_cast<std::vector<Cell> &>(static_cast<const Table *>(this)->column(name));
}

void Table::set_column(const std::string &name, std::vector<Cell> values) {
  if (!columns_.empty() && values.size() != rows())
    throw std::invalid_argument("column '" + name + "' has " + std::to_string(values.size()) +
                                " rows, the table " + std::to_string(rows()));
  const auto it = std::find(names_.begin(), names_.end(), name);
  if (it != names_.end()) {
    columns_[static_cast<std::size_t>(it - names_.begin())] = std::move(values);
    return;
  }
  names_.push_back(name);
  columns_.push_back(std::move(values));
}

void Table::set_index(std::vector<std::string> labels) {
  if (!labels.empty() && labels.size() != rows())
    throw std::invalid_argument("one row label per row is needed");
  index_ = std::move(labels);
}

Table Table::select(const std::vector<std::string> &names) const {
  Table out;
  for (const std::string &name : names)
    if (has(name))
      out.set_column(name, column(name));
  out.index_ = index_;
  return out;
}

void Table::rename(const std::vector<std::pair<std::string, std::string>> &from_to) {
  for (const auto &[from, to] : from_to)
    for (std::string &name : names_)
      if (name == from)
        name = to;
}

namespace {

// Rank of a cell's kind in the sort order; missing values always come last.
int kind_rank(const Cell &c) {
  switch (c.index()) {
  case 1:
    return 0; // number
  case 3:
    return 1; // date
  case 2:
    return 2; // text
  default:
    return 3; // missing
  }
}

// -1, 0 or 1. Texts compare bytewise, which is code point order for UTF-8.
int compare_cells(const Cell &a, const Cell &b) {
  const int ra = kind_rank(a), rb = kind_rank(b);
  if (ra != rb)
    return ra < rb ? -1 : 1;
  switch (a.index()) {
  case 1: {
    const double x = std::get<double>(a), y = std::get<double>(b);
    return x < y ? -1 : (y < x ? 1 : 0);
  }
  case 3: {
    const auto x = std::get<Date>(a).days, y = std::get<Date>(b).days;
    return x < y ? -1 : (y < x ? 1 : 0);
  }
  case 2: {
    const int c = std::get<std::string>(a).compare(std::get<std::string>(b));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  default:
    return 0;
  }
}

} // namespace

Table Table::sort_by(const std::vector<std::string> &keys) const {
  std::vector<const std::vector<Cell> *> key_columns;
  for (const std::string &key : keys)
    key_columns.push_back(&column(key));
  std::vector<std::size_t> order(rows());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    for (const auto *col : key_columns) {
      const int c = compare_cells((*col)[a], (*col)[b]);
      if (c != 0)
        return c < 0;
    }
    return false;
  });
  return take(order);
}

Table Table::take(const std::vector<std::size_t> &order) const {
  Table out;
  out.names_ = names_;
  out.columns_.resize(columns_.size());
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    out.columns_[c].reserve(order.size());
    for (std::size_t r : order)
      out.columns_[c].push_back(columns_[c].at(r));
  }
  if (!index_.empty())
    for (std::size_t r : order)
      out.index_.push_back(index_.at(r));
  return out;
}

std::optional<Date> make_date(int year, int month, int day) {
  const chr::year_month_day ymd{chr::year(year), chr::month(static_cast<unsigned>(month)),
                                chr::day(static_cast<unsigned>(day))};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || !ymd.ok())
    return std::nullopt;
  return Date{static_cast<std::int32_t>(chr::sys_days(ymd).time_since_epoch().count())};
}

Ymd to_ymd(Date d) {
  const chr::year_month_day ymd{chr::sys_days(chr::days(d.days))};
  return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
          static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

std::string iso_text(Date d) {
  const Ymd v = to_ymd(d);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", v.year, v.month, v.day);
  return text;
}

namespace {

bool all_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int to_int(std::string_view s) {
  int v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

// Digits at the front of `s`, consumed; how many there were.
std::size_t take_digits(std::string_view &s) {
  std::size_t n = 0;
  while (n < s.size() && s[n] >= '0' && s[n] <= '9')
    ++n;
  s.remove_prefix(n);
  return n;
}

bool take_ci(std::string_view &s, std::string_view word) {
  if (!vaskit::text::istarts_with_ascii(s, word))
    return false;
  s.remove_prefix(word.size());
  return true;
}

// A time of day as exports write it after a date: "13:45", "13:45:00.250", "1:45 PM", each
// optionally followed, directly or after a blank, by "Z", a zone name of mail headers ("GMT",
// "UT", "UTC") or an offset ("+08:00", "-0500"), which leaves the date as written.
bool time_of_day(std::string_view s) {
  const std::size_t hour_digits = take_digits(s);
  if (hour_digits < 1 || hour_digits > 2 || s.empty() || s.front() != ':')
    return false;
  s.remove_prefix(1);
  if (take_digits(s) != 2)
    return false;
  if (!s.empty() && s.front() == ':') {
    s.remove_prefix(1);
    if (take_digits(s) != 2)
      return false;
    if (!s.empty() && s.front() == '.') {
      s.remove_prefix(1);
      if (take_digits(s) == 0)
        return false;
    }
  }
  std::string_view rest = s.substr(!s.empty() && s.front() == ' ' ? 1 : 0);
  if (take_ci(rest, "AM") || take_ci(rest, "PM"))
    s = rest;
  if (s.empty() || s == "Z" || s == "z")
    return true;
  if (s.front() == ' ') {
    s.remove_prefix(1);
    if (vaskit::text::iequals_ascii(s, "GMT") || vaskit::text::iequals_ascii(s, "UT") ||
        vaskit::text::iequals_ascii(s, "UTC"))
      return true;
    if (s.empty())
      return false;
  }
  if (s.front() != '+' && s.front() != '-')
    return false;
  s.remove_prefix(1);
  const std::size_t offset_digits = take_digits(s);
  if (offset_digits == 4)
    return s.empty();
  if (offset_digits != 2)
    return false;
  if (s.empty())
    return true;
  if (s.front() != ':')
    return false;
  s.remove_prefix(1);
  return take_digits(s) == 2 && s.empty();
}

// 1..12 for an English month name or its three-letter abbreviation ("Sept" too), any case.
int month_number(std::string_view word) {
  static const char *const names[] = {"JANUARY",   "FEBRUARY", "MARCH",    "APRIL",
                                      "MAY",       "JUNE",     "JULY",     "AUGUST",
                                      "SEPTEMBER", "OCTOBER",  "NOVEMBER", "DECEMBER"};
  if (word.size() < 3)
    return 0;
  const std::string upper = vaskit::text::ascii_upper(word);
  for (int m = 0; m < 12; ++m) {
    const std::string_view name = names[m];
    if (upper == name || upper == name.substr(0, 3) || (m == 8 && upper == "SEPT"))
      return m + 1;
  }
  return 0;
}

// An English weekday name or its three-letter abbreviation, any case.
bool weekday_name(std::string_view word) {
  static const char *const names[] = {"MONDAY", "TUESDAY",  "WEDNESDAY", "THURSDAY",
                                      "FRIDAY", "SATURDAY", "SUNDAY"};
  if (word.size() < 3)
    return false;
  const std::string upper = vaskit::text::ascii_upper(word);
  return std::any_of(std::begin(names), std::end(names), [&](std::string_view name) {
    return upper == name || upper == name.substr(0, 3);
  });
}

// A two-digit year as the date reader of the data-frame library expands it: the year of this
// century, moved by a hundred years when that lies fifty or more years away from today.
int full_year(std::string_view digits) {
  const int y = to_int(digits);
  if (digits.size() == 4)
    return y;
  const int this_year =
      static_cast<int>(chr::year_month_day{chr::floor<chr::days>(chr::system_clock::now())}.year());
  int year = this_year / 100 * 100 + y;
  if (year >= this_year + 50)
    year -= 100;
  else if (year < this_year - 50)
    year += 100;
  return year;
}

bool date_separator(char c) {
  return c == ' ' || c == '-' || c == '/' || c == ',' || c == '.';
}

// Dates with an English month name, as spreadsheets export them: "5-Mar-24", "05 March 2024",
// "Mar 5, 2024", or as mail headers write them, after a weekday: "Tue, 05 Mar 2024"; a time of
// day may follow after a blank.
std::optional<Date> date_with_month_name(std::string_view s) {
  // The weekday says nothing the date does not.
  const std::size_t first_end = s.find_first_of(", ");
  if (first_end != std::string_view::npos && weekday_name(s.substr(0, first_end))) {
    s.remove_prefix(first_end);
    while (!s.empty() && (s.front() == ',' || s.front() == ' '))
      s.remove_prefix(1);
  }
  // Three fields, each at least one character that is no separator: a value that opens with
  // a separator (".tbd") or ends before its third field is no date.
  std::string_view parts[3];
  std::size_t i = 0;
  for (int k = 0; k < 3; ++k) {
    if (k > 0)
      while (i < s.size() && date_separator(s[i]))
        ++i;
    const std::size_t start = i;
    while (i < s.size() && !date_separator(s[i]))
      ++i;
    if (i == start)
      return std::nullopt;
    parts[k] = s.substr(start, i - start);
  }
  std::string_view rest = s.substr(i);
  if (!rest.empty()) {
    if (rest.front() != ' ')
      return std::nullopt;
    while (!rest.empty() && rest.front() == ' ')
      rest.remove_prefix(1);
    if (!time_of_day(rest))
      return std::nullopt;
  }
  std::string_view day = parts[0], month = parts[1];
  if (month_number(parts[0]) != 0)
    std::swap(day, month);
  const std::string_view year = parts[2];
  const int m = month_number(month);
  if (m == 0 || !all_digits(day) || day.size() > 2 || !all_digits(year) ||
      (year.size() != 2 && year.size() != 4))
    return std::nullopt;
  return make_date(full_year(year), m, to_int(day));
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// A date of digits and separators, as far as its text tells: year first (complete), or day and
// month before the year in an order the text may leave open.
struct NumericDate {
  bool year_last = false;
  int year = 0;
  // Year first: month and day. Year last: the first and second field as written.
  int first = 0;
  int second = 0;
};

// A trimmed text as a numeric date: "2024-03-05", "2024/3/5", "2024.03.05", "20240305", year
// and month "2024-03" or "2024/3" (the 1st), or day and month before a year of four or two
// digits with '/', '-' or '.' ("05/03/2024", "3.5.24"); a time of day after a blank or "T" is
// allowed and dropped. Nullopt for anything else; the fields are not checked against the
// calendar.
std::optional<NumericDate> numeric_date(std::string_view s) {
  // A time of day after the date is allowed and dropped; it must look like one.
  const std::size_t cut = s.find_first_of(" T");
  if (cut != std::string_view::npos) {
    if (!time_of_day(s.substr(cut + 1)))
      return std::nullopt;
    s = s.substr(0, cut);
  }
  if (s.size() == 8 && all_digits(s))
    return NumericDate{false, to_int(s.substr(0, 4)), to_int(s.substr(4, 2)),
                       to_int(s.substr(6, 2))};
  for (const char sep : {'-', '/', '.'}) {
    const std::size_t a = s.find(sep);
    if (a == std::string_view::npos)
      continue;
    const std::size_t b = s.find(sep, a + 1);
    const std::string_view p1 = s.substr(0, a);
    if (b == std::string_view::npos) {
      const std::string_view p2 = s.substr(a + 1);
      if (sep != '.' && p1.size() == 4 && all_digits(p1) && all_digits(p2) && p2.size() <= 2)
        return NumericDate{false, to_int(p1), to_int(p2), 1};
      return std::nullopt;
    }
    if (s.find(sep, b + 1) != std::string_view::npos)
      return std::nullopt;
    const std::string_view p2 = s.substr(a + 1, b - a - 1), p3 = s.substr(b + 1);
    if (!all_digits(p1) || !all_digits(p2) || !all_digits(p3) || p2.size() > 2)
      return std::nullopt;
    if (p1.size() == 4 && p3.size() <= 2)
      return NumericDate{false, to_int(p1), to_int(p2), to_int(p3)};
    if (p1.size() <= 2 && (p3.size() == 4 || p3.size() == 2))
      return NumericDate{true, full_year(p3), to_int(p1), to_int(p2)};
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<Date> numeric_to_date(const NumericDate &d, DayOrder order) {
  if (!d.year_last)
    return make_date(d.year, d.first, d.second);
  const bool day_first = order == DayOrder::day_first;
  const auto in_order =
      make_date(d.year, day_first ? d.second : d.first, day_first ? d.first : d.second);
  if (in_order)
    return in_order;
  // A value that only one order reads as a date is read in that order.
  return make_date(d.year, day_first ? d.first : d.second, day_first ? d.second : d.first);
}

std::optional<Date> date_from_text(std::string_view s, DayOrder order) {
  s = trimmed(s);
  const bool has_letters = std::any_of(s.begin(), s.end(), vaskit::text::is_ascii_alpha);
  if (has_letters)
    if (const auto named = date_with_month_name(s))
      return named;
  if (const auto numeric = numeric_date(s))
    return numeric_to_date(*numeric, order);
  return std::nullopt;
}

} // namespace

std::optional<Date> to_date(const Cell &value, bool serial_numbers, DayOrder order) {
  if (const auto *d = std::get_if<Date>(&value))
    return *d;
  if (const auto *t = std::get_if<std::string>(&value))
    return date_from_text(*t, order);
  if (const auto *n = std::get_if<double>(&value)) {
    if (!std::isfinite(*n))
      return std::nullopt;
    if (serial_numbers) {
      // The day only: a time of day never moves the date.
      const double whole = std::floor(*n);
      if (whole < 1 || whole > 2958465) // 9999-12-31
        return std::nullopt;
      const auto day = vaskit::xlsx::date_from_serial(whole, false);
      return day ? make_date(day->year, day->month, day->day) : std::nullopt;
    }
    if (*n == std::floor(*n) && *n >= 10000101 && *n <= 99991231) {
      const auto v = static_cast<int>(*n);
      return make_date(v / 10000, v / 100 % 100, v % 100);
    }
  }
  return std::nullopt;
}

DayOrder column_day_order(const std::vector<Cell> &column) {
  for (const Cell &cell : column) {
    const auto *t = std::get_if<std::string>(&cell);
    if (t == nullptr)
      continue;
    const auto numeric = numeric_date(trimmed(*t));
    if (!numeric || !numeric->year_last)
      continue;
    // The first value that reads as a date in either order shows the column's order: a first
    // field over 12 can only be a day.
    if (numeric_to_date(*numeric, DayOrder::month_first))
      return numeric->first > 12 ? DayOrder::day_first : DayOrder::month_first;
  }
  return DayOrder::month_first;
}

void dates_to_iso_text(std::vector<Cell> &column, bool serial_numbers) {
  const DayOrder order = column_day_order(column);
  for (Cell &cell : column) {
    const auto date = to_date(cell, serial_numbers, order);
    cell = date ? Cell{iso_text(*date)} : Cell{};
  }
}

std::optional<double> numeric_value(const Cell &value) {
  if (const auto *n = std::get_if<double>(&value))
    return *n;
  if (const auto *t = std::get_if<std::string>(&value)) {
    std::string_view s = *t;
    if (!s.empty() && s.front() == '+')
      s.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (!s.empty() && ec == std::errc() && end == s.data() + s.size() && std::isfinite(v))
      return v;
  }
  return std::nullopt;
}

std::string month_label(int year, int month) {
  static const char *const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[16];
  std::snprintf(text, sizeof text, "%02d-%s", ((year % 100) + 100) % 100, names[(month - 1) % 12]);
  return text;
}

Table monthly_sums(const std::vector<Cell> &dates_a, const std::vector<Cell> &values_a,
                   const std::vector<Cell> &dates_b, const std::vector<Cell> &values_b,
                   const std::pair<std::string, std::string> &labels) {
  // Month key: year * 12 + month - 1, so that keys order as months do.
  std::map<int, std::pair<double, double>> sums;
  auto add = [&](const std::vector<Cell> &dates, const std::vector<Cell> &values, bool first) {
    for (std::size_t r = 0; r < dates.size(); ++r) {
      const auto date = to_date(dates[r], false);
      if (!date)
        continue;
      const auto qty = numeric_value(values.at(r));
      if (!qty)
        throw std::runtime_error("quantity in row " + std::to_string(r + 1) + " is not a number");
      const Ymd ymd = to_ymd(*date);
      auto &slot = sums[ymd.year * 12 + ymd.month - 1];
      (first ? slot.first : slot.second) += *qty;
    }
  };
  add(dates_a, values_a, true);
  add(dates_b, values_b, false);
  Table out;
  for (const auto &[key, pair] : sums) {
    const int year = key >= 0 ? key / 12 : (key - 11) / 12;
    out.set_column(month_label(year, key - year * 12 + 1), {Cell{pair.first}, Cell{pair.second}});
  }
  if (out.cols() > 0)
    out.set_index({labels.first, labels.second});
  return out;
}

} // namespace vaskern::excelTools

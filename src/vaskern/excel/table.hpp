// A small table of typed cells, for the order data of the JSON tools: named columns, optional
// row labels, selection, renaming, stable sorting, dates and monthly sums.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vaskern::excelTools {

// A calendar date, as days since 1970-01-01.
struct Date {
  std::int32_t days = 0;
  friend bool operator==(const Date &, const Date &) = default;
};

// A cell: missing, a number, a text or a date.
using Cell = std::variant<std::monostate, double, std::string, Date>;

inline bool missing(const Cell &c) {
  return std::holds_alternative<std::monostate>(c);
}

// Thrown for a column that a table does not have.
class MissingColumn : public std::runtime_error {
public:
  explicit MissingColumn(const std::string &name)
      : std::runtime_error("no column '" + name + "'"), column(name) {}
  std::string column;
};

class Table {
public:
  Table() = default;
  // Columns of equal length; throws std::invalid_argument when lengths differ.
  Table(std::vector<std::string> names, std::vector<std::vector<Cell>> columns);

  std::size_t rows() const { return columns_.empty() ? 0 : columns_.front().size(); }
  std::size_t cols() const { return names_.size(); }
  // No rows or no columns.
  bool empty() const { return rows() == 0 || cols() == 0; }

  const std::vector<std::string> &names() const { return names_; }
  bool has(std::string_view name) const;
  // Throws MissingColumn.
  const std::vector<Cell> &column(std::string_view name) const;
  std::vector<Cell> &column(std::string_view name);
  const std::vector<Cell> &column(std::size_t i) const { return columns_.at(i); }
  const Cell &at(std::size_t row, std::size_t col) const { return columns_.at(col).at(row); }

  // Adds a column at the end (or replaces one of the same name). Throws std::invalid_argument
  // when its length differs from the table's rows (unless the table has no columns yet).
  void set_column(const std::string &name, std::vector<Cell> values);

  // Row labels; empty means the positions 0, 1, ... (written by nobody).
  const std::vector<std::string> &index() const { return index_; }
  void set_index(std::vector<std::string> labels);

  // The columns among `names` that the table has, in that order.
  Table select(const std::vector<std::string> &names) const;
  // Renames columns; names that are absent are skipped.
  void rename(const std::vector<std::pair<std::string, std::string>> &from_to);
  // A stable sort, ascending on every key in turn: numbers before dates before texts, numbers
  // and dates by value, texts by code point, missing values last. Throws MissingColumn for a
  // key the table does not have.
  Table sort_by(const std::vector<std::string> &keys) const;
  // The rows at `order`, in that order.
  Table take(const std::vector<std::size_t> &order) const;

private:
  std::vector<std::string> names_;
  std::vector<std::vector<Cell>> columns_;
  std::vector<std::string> index_;
};

// Days since 1970-01-01 of a valid calendar date; nullopt for an impossible one.
std::optional<Date> make_date(int year, int month, int day);
// {year, month, day}.
struct Ymd {
  int year;
  int month;
  int day;
};
Ymd to_ymd(Date d);
// "2024-03-05".
std::string iso_text(Date d);

// The order of day and month in a date written with both before the year ("05/03/2024").
enum class DayOrder { month_first, day_first };

// A value read as a date, as the order files hold them, or nullopt when it cannot be read:
// - a date stays;
// - a text: "2024-03-05", "2024/3/5" or "2024.03.05", "20240305", year and month "2024-03" or
//   "2024/3" (the 1st); day and month before a year of four or two digits with '/', '-' or
//   '.' ("05/03/2024", "3/5/24"), read in `order` unless only the other order gives a date;
//   with an English month name ("5-Mar-24", "Mar 5, 2024"), also after a weekday as mail
//   headers write it ("Tue, 05 Mar 2024"); a time of day after a blank or "T" ("13:45",
//   "1:45 PM", "10:00:00Z", "23:30+08:00", "13:45:00 +0000") is allowed and dropped;
// - a number: with `serial_numbers`, a day number of the spreadsheet calendar (1 is
//   1900-01-01, the phantom 29 February 1900 reads as the 28th); otherwise only a whole
//   number of eight digits read as YYYYMMDD.
std::optional<Date> to_date(const Cell &value, bool serial_numbers,
                            DayOrder order = DayOrder::month_first);

// The order of a column's dates with day and month before the year, as its first such value
// that is a date shows it: day first when its first field is over 12, month first otherwise
// (also when there is none).
DayOrder column_day_order(const std::vector<Cell> &column);

// Every value of `column` as its date's "YYYY-MM-DD" text, or missing when it cannot be read;
// day and month are read in the column's own order (column_day_order), never value by value.
void dates_to_iso_text(std::vector<Cell> &column, bool serial_numbers);

// A number as its value: numbers, and texts that read wholly as a decimal number. Nullopt
// otherwise (missing values included).
std::optional<double> numeric_value(const Cell &value);

// "24-Mar" for March 2024: two-digit year and English month abbreviation, whatever the locale.
std::string month_label(int year, int month);

// Sums of `values` per calendar month of `dates` (rows whose date cannot be read count in no
// month), as two rows labelled `labels` aligned on the union of the months of both, months
// ascending as columns labelled by month_label, 0 where a side has no rows in a month. Throws
// std::runtime_error naming the row when a value with a readable date is no number.
Table monthly_sums(const std::vector<Cell> &dates_a, const std::vector<Cell> &values_a,
                   const std::vector<Cell> &dates_b, const std::vector<Cell> &values_b,
                   const std::pair<std::string, std::string> &labels);

} // namespace vaskern::excelTools

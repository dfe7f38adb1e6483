// Reading and in-place editing of spreadsheet workbooks (.xlsx, .xlsm).
//
// Error contract of the workbook layer: every failure throws, nothing is printed and nothing
// returns a status. xlsx::Error (a std::runtime_error naming the file) for a workbook that cannot
// be read, parsed or saved; std::invalid_argument for a bad cell address, position, value or
// sheet title given by the caller. The zip and XML libraries stay behind this header; the
// layer's other headers (package, styles, formula, xml_util, workbook_impl) are internal, for
// its own sources and its unit tests.
//
// A Workbook holds the whole package in memory. Saving rewrites only the parts that were
// changed (edited sheets, styles, the workbook part); every other zip entry, such as a macro
// project, drawings or the other sheets, is copied with its compressed bytes untouched.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vaskit::xlsx {

// Every failure to read, parse or save a workbook (the message names the file), and an edit the
// workbook cannot hold (the message names the cell).
class Error : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A date and time read from a number cell whose number format shows a date or time.
struct DateTime {
  int year = 1900;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int microsecond = 0;
  // Serial values in [0, 1) carry only a time of day; year/month/day are then the epoch's.
  bool time_only = false;
  // A date cell that stores a day without a time of day ("2024-03-05"); the time is midnight.
  bool date_only = false;

  friend bool operator==(const DateTime &, const DateTime &) = default;
};

// An error value cached in a cell, such as "#DIV/0!" or "#N/A".
struct CellError {
  std::string code;
  friend bool operator==(const CellError &, const CellError &) = default;
};

// A whole number stored without a fraction or exponent that does not fit long long: its
// decimal digits, "-" first when negative, no leading zeros.
struct BigInteger {
  std::string digits;
  friend bool operator==(const BigInteger &, const BigInteger &) = default;
};

// What a cell holds. An empty or missing cell is std::monostate. Numbers stored without a
// fraction or exponent ("120", "+7") read as long long (BigInteger when they do not fit),
// others ("120.5", "1E3") as double. For a formula cell this is the result cached in the file
// (std::monostate when none is cached).
using CellValue = std::variant<std::monostate, std::string, long long, double, bool, DateTime,
                               CellError, BigInteger>;

// A value to write. std::monostate means "no value": the cell keeps what it holds.
// An empty string empties the cell (its style stays).
using CellInput = std::variant<std::monostate, std::string, long long, double>;

// A cell alignment. Unset members take their defaults ("general" horizontal, "bottom"
// vertical, no wrapping). Allowed horizontal values: general, left, center, right, fill,
// justify, centerContinuous, distributed; vertical: top, center, bottom, justify, distributed.
struct Alignment {
  std::optional<std::string> horizontal;
  std::optional<std::string> vertical;
  bool wrap_text = false;
};

// The value as text: "" for an empty cell, "120", "120.5" (the shortest digits that read back
// as the value), "1e+20", the digits of a BigInteger, "True", the error code,
// "2024-05-03 00:00:00" (with ".500000" when there are microseconds), "2024-05-03" for a date
// alone, or "12:30:00" for a time of day.
std::string to_text(const CellValue &value);

// 1-based row and column of a cell.
struct CellRef {
  int row = 0;
  int col = 0;
  friend bool operator==(const CellRef &, const CellRef &) = default;
};

inline constexpr int max_rows = 1048576;
inline constexpr int max_cols = 16384;

// A workbook serial day number as a date and time: in the 1900 date system (which counts a
// 29 February 1900 that never was, so serials 1-59 are read one day later: serial 60 is
// 28 February 1900 like serial 59) or in the 1904 one. The fraction is the time of day, rounded
// to the millisecond; serials in [0, 1) give a time only. Empty when the date falls outside years
// 1 to 9999 or the serial is no finite number.
std::optional<DateTime> date_from_serial(double serial, bool date1904);

// "B12" -> {12, 2}; "$B$12" and "B012" are accepted. Throws std::invalid_argument for anything
// that does not name one cell inside the sheet limits (ranges, "A0", "XFE1", empty text).
CellRef parse_address(std::string_view address);
// {12, 2} -> "B12". Throws std::invalid_argument outside the sheet limits.
std::string format_address(int row, int col);
// 1 -> "A", 28 -> "AB".
std::string column_name(int col);

class Workbook;

// One worksheet of a workbook. Owned by its Workbook; references stay valid while the
// Workbook lives.
class Worksheet {
public:
  ~Worksheet();
  Worksheet(const Worksheet &) = delete;
  Worksheet &operator=(const Worksheet &) = delete;

  const std::string &name() const;
  // The largest row and column number that holds a cell element (0 for an empty sheet).
  // Cells may exist without a value, as styled blanks do.
  int max_row() const;
  int max_column() const;

  // The cell's value (see CellValue). Throws std::invalid_argument for a bad address or
  // position, Error when the cell refers to a shared string the file does not hold.
  CellValue value(std::string_view address) const;
  CellValue value(int row, int col) const;

  // Writes a value: text always as text (even when it starts with "="), numbers as numbers.
  // A formula in the cell is replaced. Characters that XML cannot carry are dropped from
  // text and invalid UTF-8 becomes U+FFFD. The cell's style is kept. Throws
  // std::invalid_argument for a bad position or a non-finite number, Error (naming the cell and
  // the range) for a cell inside a merged range that starts at another cell.
  void set_value(int row, int col, const CellInput &value);
  void set_value(std::string_view address, const CellInput &value);

  // Replaces the cell's alignment by `alignment`, keeping its font, fill, border, number
  // format and protection. Throws std::invalid_argument for a bad position or alignment value.
  void set_alignment(int row, int col, const Alignment &alignment);
  void set_alignment(std::string_view address, const Alignment &alignment);

  struct Impl;

private:
  friend class Workbook;
  explicit Worksheet(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

class Workbook {
public:
  // Opens an existing workbook. Throws Error (naming the file) when it cannot be read, is
  // not a zip package, lacks its workbook part or holds malformed XML in a part it needs.
  static Workbook open(const std::filesystem::path &path);
  // A new workbook with one empty sheet titled `sheet_title`, to be saved at `path`. A path
  // ending in ".xlsm" (any case) gets the macro-enabled package type. Nothing is written
  // until save(). Throws std::invalid_argument for a title Excel would reject.
  static Workbook create(const std::filesystem::path &path, std::string_view sheet_title);

  Workbook(Workbook &&) noexcept;
  Workbook &operator=(Workbook &&) noexcept;
  ~Workbook();

  const std::filesystem::path &path() const;
  // Sheet titles in workbook order (worksheets and chart sheets).
  std::vector<std::string> sheet_names() const;
  // The sheet selected when the file was last saved. Throws Error when it is a chart sheet.
  Worksheet &active_sheet();
  // Throws Error when no worksheet has exactly this title.
  Worksheet &sheet(std::string_view title);

  // Whether the package holds a macro project.
  bool has_macro_project() const;
  // Drops the macro project (and its signatures) and turns the package into a plain
  // workbook, as a workbook saved under an .xlsx name must be. Shapes and form controls that
  // name macros stay; they only do nothing.
  void remove_macro_project();

  // Asks the spreadsheet application to recalculate every formula when it opens the file.
  void set_full_calc_on_load();

  // Writes the workbook to path() (or `target`) atomically: a temporary file in the same
  // folder is written, flushed to disk and renamed over the target. On failure the target
  // is left as it was, no temporary file remains, and Error is thrown.
  void save();
  void save_as(const std::filesystem::path &target);

  struct Impl;

private:
  explicit Workbook(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

} // namespace vaskit::xlsx

// The delivery-date reader: every line of the input is one value of a column. Each reading
// returns (the fuzzer's time limit catches a loop), every date read lies in the calendar and its
// ISO text reads back as the same date; the order of day and month changes a reading only for a
// text with both before the year, and either order finds a date exactly when the other does.
// The column rewrite reads such dates in the one order the column's first of them shows.
#include "date_checks.hpp"
#include "harness.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace excel = vaskern::excelTools;
using vaskit::fuzz::check_calendar_date;
using vaskit::fuzz::shown_cell;

namespace {

void check_value(const excel::Cell &cell) {
  const std::string from = shown_cell(cell);
  const auto month_first = excel::to_date(cell, false, excel::DayOrder::month_first);
  const auto day_first = excel::to_date(cell, false, excel::DayOrder::day_first);
  FUZZ_CHECK(month_first.has_value() == day_first.has_value(), from);
  if (!month_first)
    return;
  check_calendar_date(*month_first, from);
  check_calendar_date(*day_first, from);
  if (month_first == day_first)
    return;
  const auto *text = std::get_if<std::string>(&cell);
  FUZZ_CHECK(text != nullptr, from + ": the order changed a date that is no text");
  const auto fields = vaskit::fuzz::leading_fields(*text);
  FUZZ_CHECK(fields.has_value(), from + ": the order changed a date without day and month first");
  const excel::Ymd m = excel::to_ymd(*month_first), d = excel::to_ymd(*day_first);
  FUZZ_CHECK(m.month == fields->first && m.day == fields->second, from + " read month first");
  FUZZ_CHECK(d.day == fields->first && d.month == fields->second, from + " read day first");
}

// A line that is wholly a number, as a number cell: a day count of the spreadsheet calendar, or
// an eight-digit date without separators.
void check_number(std::string_view line) {
  double v = 0;
  const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), v);
  if (line.empty() || ec != std::errc() || end != line.data() + line.size())
    return;
  const excel::Cell cell{v};
  if (const auto serial = excel::to_date(cell, true))
    check_calendar_date(*serial, std::string(line));
  if (const auto digits = excel::to_date(cell, false)) {
    check_calendar_date(*digits, std::string(line));
    std::string iso = excel::iso_text(*digits);
    iso.erase(4, 1);
    iso.erase(6, 1);
    FUZZ_CHECK(std::isfinite(v) && iso == std::to_string(static_cast<long long>(v)),
               std::string(line) + " read as " + excel::iso_text(*digits));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  std::vector<excel::Cell> column;
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos)
      end = input.size();
    const std::string_view line = input.substr(start, end - start);
    column.push_back(line.empty() ? excel::Cell{} : excel::Cell{std::string(line)});
    check_value(column.back());
    check_number(line);
    start = end + 1;
  }
  for (const bool serial_numbers : {false, true}) {
    std::vector<excel::Cell> rewritten = column;
    excel::dates_to_iso_text(rewritten, serial_numbers);
    vaskit::fuzz::check_date_rewrite(column, rewritten, serial_numbers);
  }
  return 0;
}

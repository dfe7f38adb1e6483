// What the date harnesses check of a delivery-date column and its rewrite as ISO text: every
// date lies in the calendar and reads back as itself, and day and month of dates written before
// the year are read in one order per column, the one its first such date shows.
#pragma once

#include "harness.hpp"
#include "vaskern/excel/table.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vaskit::fuzz {

namespace excel = vaskern::excelTools;

inline std::string shown_cell(const excel::Cell &c) {
  if (const auto *t = std::get_if<std::string>(&c))
    return "\"" + *t + "\"";
  if (const auto *n = std::get_if<double>(&c))
    return std::to_string(*n);
  if (const auto *d = std::get_if<excel::Date>(&c))
    return "day " + std::to_string(d->days);
  return "(missing)";
}

// A date of the calendar (years 1 to 9999) whose ISO text reads back as the same date.
inline void check_calendar_date(excel::Date d, const std::string &from) {
  const excel::Ymd ymd = excel::to_ymd(d);
  FUZZ_CHECK(ymd.year >= 1 && ymd.year <= 9999, from);
  FUZZ_CHECK(excel::make_date(ymd.year, ymd.month, ymd.day) == d, from);
  const std::string iso = excel::iso_text(d);
  for (const auto order : {excel::DayOrder::month_first, excel::DayOrder::day_first})
    FUZZ_CHECK(excel::to_date(excel::Cell{iso}, false, order) == d, from + " as " + iso);
  FUZZ_CHECK(excel::to_date(excel::Cell{d}, false) == d, from);
}

// Day and month written before the year, as the text shows them: "05/06/2015", "5-6-24",
// "05.06.2015 10:00" give 5 and 6. Written independently of the reader: one or two digits, the
// same separator twice, a year of two or four digits, then the end or a blank or "T".
struct LeadingFields {
  int first = 0;
  int second = 0;
  int year = 0; // as written: 24 for "24", 0 for "0000"
  std::size_t year_digits = 0;
};

inline std::optional<LeadingFields> leading_fields(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  std::size_t i = 0;
  auto number = [&](std::size_t min, std::size_t max, int &value) {
    const std::size_t start = i;
    value = 0;
    while (i < s.size() && i - start < max && s[i] >= '0' && s[i] <= '9')
      value = value * 10 + (s[i++] - '0');
    return i - start >= min;
  };
  LeadingFields f;
  if (!number(1, 2, f.first) || i >= s.size())
    return std::nullopt;
  const char sep = s[i++];
  if (sep != '/' && sep != '-' && sep != '.')
    return std::nullopt;
  if (!number(1, 2, f.second) || i >= s.size() || s[i++] != sep)
    return std::nullopt;
  const std::size_t year_start = i;
  if (!number(2, 4, f.year) || i - year_start == 3)
    return std::nullopt;
  f.year_digits = i - year_start;
  if (i < s.size() && s[i] != ' ' && s[i] != 'T')
    return std::nullopt;
  return f;
}

// `rewritten` is `column` after dates_to_iso_text(..., serial_numbers).
inline void check_date_rewrite(const std::vector<excel::Cell> &column,
                               const std::vector<excel::Cell> &rewritten, bool serial_numbers) {
  FUZZ_CHECK(rewritten.size() == column.size(), "the rewrite changed the column's length");
  // The order the column's first date with day and month before the year shows.
  std::optional<bool> day_first;
  for (std::size_t r = 0; r < column.size(); ++r) {
    const std::string from = "row " + std::to_string(r) + " " + shown_cell(column[r]);
    const excel::Cell &out = rewritten[r];
    if (excel::missing(out))
      continue;
    const auto *iso = std::get_if<std::string>(&out);
    FUZZ_CHECK(iso != nullptr, from + " became " + shown_cell(out));
    const auto date = excel::to_date(out, false);
    FUZZ_CHECK(date.has_value(), from + " became " + *iso);
    FUZZ_CHECK(excel::iso_text(*date) == *iso, from + " became " + *iso);
    check_calendar_date(*date, from);
    const auto *text = std::get_if<std::string>(&column[r]);
    if (text == nullptr)
      continue;
    const auto fields = leading_fields(*text);
    if (!fields)
      continue;
    const excel::Ymd ymd = excel::to_ymd(*date);
    const bool as_day_first = ymd.day == fields->first && ymd.month == fields->second;
    const bool as_month_first = ymd.month == fields->first && ymd.day == fields->second;
    FUZZ_CHECK(as_day_first || as_month_first, from + " became " + *iso);
    if (!day_first)
      day_first = fields->first > 12;
    // Both orders give a date: the column's order decides, for every such value alike.
    if (fields->first != fields->second && fields->first <= 12 && fields->second <= 12)
      FUZZ_CHECK(as_day_first == *day_first, from + " became " + *iso + ", against the column");
  }
  // A value whose fields fit both orders is a date in any year of the calendar (a two-digit
  // year always names one; year 0000 is none).
  for (std::size_t r = 0; r < column.size(); ++r) {
    const auto *text = std::get_if<std::string>(&column[r]);
    if (text == nullptr || !excel::missing(rewritten[r]))
      continue;
    const auto fields = leading_fields(*text);
    if (fields && (fields->year_digits == 2 || fields->year != 0) && fields->first >= 1 &&
        fields->first <= 12 && fields->second >= 1 && fields->second <= 12 &&
        text->find_first_of(" T") == std::string::npos)
      FUZZ_CHECK(false, "row " + std::to_string(r) + " " + shown_cell(column[r]) + " was lost");
  }
  (void)serial_numbers;
}

} // namespace vaskit::fuzz

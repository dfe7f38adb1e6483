// Table tests of the building blocks: addresses, dates, format codes, text rules, formulas.
#include "formats/xlsx/formula.hpp"
#include "formats/xlsx/styles.hpp"
#include "formats/xlsx/workbook.hpp"
#include "formats/xlsx/xml_util.hpp"

#include <gtest/gtest.h>

namespace xlsx = vaskit::xlsx;
namespace detail = vaskit::xlsx::detail;

namespace {

TEST(XlsxAddress, ParseAndFormat) {
  const std::vector<std::tuple<std::string, int, int>> cases = {
      {"A1", 1, 1},    {"Z9", 9, 26},  {"AA10", 10, 27},
      {"p56", 56, 16}, {"$D$6", 6, 4}, {"XFD1048576", 1048576, 16384},
      {"AZ3", 3, 52},
  };
  for (const auto &[text, row, col] : cases) {
    EXPECT_EQ(xlsx::parse_address(text), (xlsx::CellRef{row, col})) << text;
  }
  EXPECT_EQ(xlsx::format_address(5, 13), "M5");
  EXPECT_EQ(xlsx::format_address(1048576, 16384), "XFD1048576");
  EXPECT_EQ(xlsx::column_name(702), "ZZ");
  EXPECT_EQ(xlsx::column_name(703), "AAA");
  EXPECT_THROW(xlsx::format_address(0, 1), std::invalid_argument);
  EXPECT_THROW(xlsx::column_name(16385), std::invalid_argument);
}

xlsx::DateTime dt(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int us = 0) {
  xlsx::DateTime out;
  out.year = y;
  out.month = m;
  out.day = d;
  out.hour = h;
  out.minute = mi;
  out.second = s;
  out.microsecond = us;
  return out;
}

TEST(XlsxDates, SerialNumbers) {
  struct Case {
    double serial;
    bool date1904;
    xlsx::DateTime expected;
  };
  xlsx::DateTime noon = dt(1899, 12, 30, 12);
  noon.time_only = true;
  const std::vector<Case> cases = {
      {1, false, dt(1900, 1, 1)},
      {59, false, dt(1900, 2, 28)},
      {60, false, dt(1900, 2, 28)}, // the phantom 29 February 1900
      {61, false, dt(1900, 3, 1)},
      {45000, false, dt(2023, 3, 15)},
      {45000.75, false, dt(2023, 3, 15, 18)},
      {45000.999999999, false, dt(2023, 3, 16)}, // rounds to the next midnight
      {0.5, false, noon},
      {2, true, dt(1904, 1, 3)},
      {1, true, dt(1904, 1, 2)},
      {2958465, false, dt(9999, 12, 31)},
      {43831 + 1.0 / 86400 * 1.5, false, dt(2020, 1, 1, 0, 0, 1, 500000)},
  };
  for (const Case &c : cases) {
    auto got = xlsx::date_from_serial(c.serial, c.date1904);
    ASSERT_TRUE(got.has_value()) << c.serial;
    EXPECT_EQ(*got, c.expected) << c.serial;
  }
  EXPECT_FALSE(xlsx::date_from_serial(2958466, false).has_value());
  EXPECT_FALSE(xlsx::date_from_serial(-700000, false).has_value());
  EXPECT_FALSE(xlsx::date_from_serial(1e300, false).has_value());
}

TEST(XlsxDates, IsoText) {
  // A date alone is a day, not midnight of it: it prints without a time.
  xlsx::DateTime day = dt(2024, 5, 3);
  day.date_only = true;
  EXPECT_EQ(detail::parse_iso_datetime("2024-05-03"), day);
  EXPECT_EQ(xlsx::to_text(*detail::parse_iso_datetime("2024-05-03")), "2024-05-03");
  EXPECT_EQ(xlsx::to_text(*detail::parse_iso_datetime("2024-05-03T00:00")), "2024-05-03 00:00:00");
  EXPECT_EQ(detail::parse_iso_datetime("2024-05-03T10:20:30.25Z"),
            dt(2024, 5, 3, 10, 20, 30, 250000));
  auto time = detail::parse_iso_datetime("08:15:00");
  ASSERT_TRUE(time.has_value());
  EXPECT_TRUE(time->time_only);
  EXPECT_EQ(time->hour, 8);
  for (const char *bad : {"", "2024-13-01", "2024-05", "2024-05-03X", "25:00:00", "soon"}) {
    EXPECT_FALSE(detail::parse_iso_datetime(bad).has_value()) << bad;
  }
}

TEST(XlsxDates, FormatCodes) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"yyyy/mm/dd", true},
      {"d-mmm-yy", true},
      {"h:mm AM/PM", true},
      {"[$-404]e/m/d", true}, // the locale tag is skipped, "d" remains
      {"[h]:mm:ss", true},    // elapsed time still counts as a time format
      {"yyyy\"年\"m\"月\"d\"日\"", true},
      {"General", false},
      {"0.00%", false},
      {"#,##0", false},
      {"0.00E+00", false},
      {"\"days\" 0", false},  // letters inside quotes are literal
      {"[Red]0.00", false},   // colour tag
      {"\\d0", false},        // escaped literal
      {"_d0", false},         // padding with the width of "d"
      {"0;[Red]yyyy", false}, // only the first section counts
  };
  for (const auto &[code, is_date] : cases) {
    EXPECT_EQ(detail::is_date_format_code(code), is_date) << code;
  }
  EXPECT_TRUE(detail::is_duration_format_code("[h]:mm"));
  EXPECT_TRUE(detail::is_duration_format_code("[MM]:ss"));
  EXPECT_FALSE(detail::is_duration_format_code("hh:mm"));
  for (int id : {14, 15, 16, 17, 18, 19, 20, 21, 22, 45, 46, 47}) {
    EXPECT_TRUE(detail::is_builtin_date_format(id)) << id;
  }
  for (int id : {0, 1, 2, 9, 10, 13, 23, 44, 48, 49}) {
    EXPECT_FALSE(detail::is_builtin_date_format(id)) << id;
  }
}

TEST(XlsxText, CleanText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "plain"},
      {"tab\tlf\ncr\r", "tab\tlf\ncr\r"},
      {std::string("a\0b", 3), "ab"},
      {"bell\x07 esc\x1b", "bell esc"},
      {"\xEF\xBF\xBE\xEF\xBF\xBFok", "ok"},                     // U+FFFE, U+FFFF
      {"\xE4\xB8\xAD\xE6\x96\x87", "\xE4\xB8\xAD\xE6\x96\x87"}, // valid CJK stays
      {"bad\xFFx", "bad\xEF\xBF\xBDx"},                         // stray byte
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                 // overlong
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // surrogate
      {"cut\xE4\xB8", "cut\xEF\xBF\xBD"},                       // truncated sequence
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},                 // emoji
  };
  for (const auto &[in, out] : cases) {
    EXPECT_EQ(detail::clean_text(in), out) << in;
  }
}

TEST(XlsxText, CellEscapesRoundTrip) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a\r\nb", "a_x000D_\nb"},
      {"_x0041_", "_x005F_x0041_"},
      {"_x12_", "_x12_"},
      {"plain_text", "plain_text"},
  };
  for (const auto &[text, stored] : cases) {
    EXPECT_EQ(detail::escape_cell_text(text), stored);
    EXPECT_EQ(detail::unescape_cell_text(stored), text);
  }
  EXPECT_EQ(detail::unescape_cell_text("_x0041__x00e9_"), "A\xC3\xA9");
}

TEST(XlsxFormula, ShiftRelativeReferences) {
  struct Case {
    std::string formula;
    int rows, cols;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"A5+B5", 1, 0, "A6+B6"},
      {"A5+$B$5+SUM(C5:D5)", 2, 0, "A7+$B$5+SUM(C7:D7)"},
      {"$A5*B$5", 3, 2, "$A8*D$5"},
      {"SUM(A:A)+SUM(1:2)", 1, 1, "SUM(B:B)+SUM(2:3)"},
      {"\"A1\"&A1", 1, 0, "\"A1\"&A2"}, // text literals stay
      {"'My A1'!A1+Sheet2!B2", 1, 0, "'My A1'!A2+Sheet2!B3"},
      {"LOG10(A1)", 1, 0, "LOG10(A2)"},                 // function names stay
      {"Table1[Col A1]+A1", 1, 0, "Table1[Col A1]+A2"}, // structured references stay
      {"A1-1.5E+3", 0, 1, "B1-1.5E+3"},
      {"A1", -1, 0, "#REF!"},
      {"TRUE+myName", 1, 1, "TRUE+myName"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(detail::shift_formula(c.formula, c.rows, c.cols), c.expected) << c.formula;
  }
}

} // namespace

namespace {

TEST(XlsxValueText, NumbersInShortestDigitsDatesAndTimesInIsoForm) {
  xlsx::DateTime day = dt(2024, 5, 3);
  xlsx::DateTime precise = dt(2024, 5, 3, 1, 2, 3, 500000);
  xlsx::DateTime time = dt(1899, 12, 30, 12, 30);
  time.time_only = true;
  const std::vector<std::pair<xlsx::CellValue, std::string>> cases = {
      {xlsx::CellValue{}, ""},
      {std::string("Ann"), "Ann"},
      {120LL, "120"},
      {-7LL, "-7"},
      {120.5, "120.5"},
      {120.0, "120.0"},
      {1e20, "1e+20"},
      {1e16, "1e+16"},
      {1e15, "1000000000000000.0"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {-2.5, "-2.5"},
      {0.1 + 0.2, "0.30000000000000004"},
      {123456789.123, "123456789.123"},
      {-0.0, "-0.0"},
      {1.5e-7, "1.5e-07"},
      {1180591620717411303424.0, "1.1805916207174113e+21"},
      {true, "True"},
      {false, "False"},
      {xlsx::CellError{"#N/A"}, "#N/A"},
      {day, "2024-05-03 00:00:00"},
      {precise, "2024-05-03 01:02:03.500000"},
      {time, "12:30:00"},
  };
  for (const auto &[value, text] : cases) {
    EXPECT_EQ(xlsx::to_text(value), text) << text;
  }
}

} // namespace

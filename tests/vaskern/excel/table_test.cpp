#include "vaskern/excel/table.hpp"

#include <gtest/gtest.h>

namespace {

using namespace vaskern::excelTools;

Cell num(double v) {
  return Cell{v};
}
Cell txt(const char *s) {
  return Cell{std::string(s)};
}
Cell none() {
  return Cell{};
}
Cell day(int y, int m, int d) {
  return Cell{*make_date(y, m, d)};
}

std::vector<Cell> col(const Table &t, const char *name) {
  return t.column(name);
}

TEST(ExcelTable, SelectionRenamingAndShape) {
  Table t({"A", "B", "C"}, {{num(1), num(2)}, {txt("x"), txt("y")}, {none(), none()}});
  EXPECT_EQ(t.rows(), 2u);
  EXPECT_FALSE(t.empty());
  const Table s = t.select({"C", "missing", "A"});
  EXPECT_EQ(s.names(), (std::vector<std::string>{"C", "A"}));
  t.rename({{"B", "BB"}, {"nothing", "X"}});
  EXPECT_EQ(t.names(), (std::vector<std::string>{"A", "BB", "C"}));
  EXPECT_THROW(t.column("B"), MissingColumn);
  EXPECT_THROW(t.set_column("D", {num(1)}), std::invalid_argument);
  EXPECT_TRUE(Table({"A"}, {{}}).empty());
  EXPECT_TRUE(Table().empty());
}

TEST(ExcelTable, StableMultiKeySortWithMissingLast) {
  // Keys: numbers before dates before texts, missing last; ties keep their order.
  Table t({"K", "L", "Row"},
          {{txt("b"), none(), num(10), txt("a"), num(2), num(10), day(2024, 1, 1), txt("B")},
           {num(1), num(1), num(2), num(1), num(1), num(1), num(1), num(1)},
           {num(0), num(1), num(2), num(3), num(4), num(5), num(6), num(7)}});
  const Table s = t.sort_by({"K", "L"});
  // 2, 10 (L=1, row 5), 10 (L=2, row 2), date, "B" < "a" < "b" by code point, missing.
  EXPECT_EQ(col(s, "Row"),
            (std::vector<Cell>{num(4), num(5), num(2), num(6), num(7), num(3), num(0), num(1)}));
  EXPECT_THROW(t.sort_by({"K", "nope"}), MissingColumn);
  // Code point order, not locale order: "Z" < "a" < "é" < "中".
  Table u({"T"}, {{txt("中"), txt("é"), txt("a"), txt("Z")}});
  EXPECT_EQ(col(u.sort_by({"T"}), "T"),
            (std::vector<Cell>{txt("Z"), txt("a"), txt("é"), txt("中")}));
}

TEST(ExcelDates, TextsNumbersAndSerials) {
  EXPECT_EQ(to_date(txt("2024-03-05"), false), make_date(2024, 3, 5));
  EXPECT_EQ(to_date(txt(" 2024/3/5 "), false), make_date(2024, 3, 5));
  EXPECT_EQ(to_date(txt("2024.03.05"), false), make_date(2024, 3, 5));
  EXPECT_EQ(to_date(txt("2024-03-05 13:45:00"), false), make_date(2024, 3, 5));
  EXPECT_EQ(to_date(txt("2024-03-05T13:45"), false), make_date(2024, 3, 5));
  EXPECT_EQ(to_date(txt("20240305"), false), make_date(2024, 3, 5));
  EXPECT_EQ(to_date(txt("3/5/2024"), false), make_date(2024, 3, 5)); // month first
  EXPECT_EQ(to_date(num(20240305), false), make_date(2024, 3, 5));
  for (const char *bad : {"2024-02-30", "2023-02-29", "TBD", "", "2024-13-01", "2024-03-05 x"})
    EXPECT_EQ(to_date(txt(bad), false), std::nullopt) << bad;
  EXPECT_EQ(to_date(txt("2024-02-29"), false), make_date(2024, 2, 29));
  // A bare number from a CSV is no day count; from a workbook it is the spreadsheet's serial.
  EXPECT_EQ(to_date(num(45356), false), std::nullopt);
  EXPECT_EQ(to_date(num(45356), true), make_date(2024, 3, 5));
  EXPECT_EQ(to_date(num(45356.75), true), make_date(2024, 3, 5));
  EXPECT_EQ(to_date(num(1), true), make_date(1900, 1, 1));
  EXPECT_EQ(to_date(num(59), true), make_date(1900, 2, 28));
  EXPECT_EQ(to_date(num(60), true), make_date(1900, 2, 28));
  EXPECT_EQ(to_date(num(61), true), make_date(1900, 3, 1));
  EXPECT_EQ(to_date(num(0), true), std::nullopt);
  EXPECT_EQ(to_date(num(-5), true), std::nullopt);
  EXPECT_EQ(to_date(none(), true), std::nullopt);

  std::vector<Cell> column = {day(2024, 12, 31), txt("bad"), num(45356), none()};
  dates_to_iso_text(column, true);
  EXPECT_EQ(column, (std::vector<Cell>{txt("2024-12-31"), none(), txt("2024-03-05"), none()}));
  EXPECT_EQ(iso_text(*make_date(1, 1, 1)), "0001-01-01");
}

TEST(ExcelDates, TimesOfDayAsExportsWriteThemAreDropped) {
  // Twelve-hour clocks, UTC marks and offsets after the date: the date as written.
  for (const char *text : {"3/5/2024 10:00 AM", "3/5/2024 1:05:09 pm", "2024-03-05T10:00:00Z",
                           "2024-03-05 23:30:00+08:00", "2024-03-05T10:00:00.123-0500",
                           "2024-03-05T10:00+01", "2024/03/05 10:00PM"})
    EXPECT_EQ(to_date(txt(text), false), make_date(2024, 3, 5)) << text;
  // What follows the date must still be a time.
  for (const char *text : {"2024-03-05 10", "2024-03-05 10:0", "2024-03-05 10:00 XM",
                           "2024-03-05 10:00+8", "2024-03-05T10:00:00Zulu", "2024-03-05 :00",
                           "2024-03-05 10:00:00.", "2024-03-05 10:00+08:0"})
    EXPECT_EQ(to_date(txt(text), false), std::nullopt) << text;
}

TEST(ExcelDates, EnglishMonthNamesAsSpreadsheetsExportThem) {
  for (const char *text : {"5-Mar-24", "05-MAR-2024", "5 March 2024", "Mar 5, 2024", "march 5 2024",
                           "Mar. 5, 2024", "5-Mar-2024 13:45", "05-mar-24 1:45 PM"})
    EXPECT_EQ(to_date(txt(text), false), make_date(2024, 3, 5)) << text;
  EXPECT_EQ(to_date(txt("30-Sept-99"), false), make_date(1999, 9, 30));
  EXPECT_EQ(to_date(txt("1-Oct-29"), false), make_date(2029, 10, 1));
  EXPECT_EQ(to_date(txt("1-OCT-30"), false), make_date(2030, 10, 1));
  for (const char *text : {"31-Feb-24", "5-Mar", "Mar 2024", "5-Mars-24", "5-Mar-024",
                           "5-Mar-24 noon", "Ma 5 2024", "105-Mar-24", "5-Mar-24x"})
    EXPECT_EQ(to_date(txt(text), false), std::nullopt) << text;
}

TEST(ExcelDates, DayAndMonthInTheOrderTheColumnShows) {
  // 15 can only be a day: the whole column is day first, whatever the separator.
  std::vector<Cell> column = {none(),
                              txt("2024-01-09"),
                              txt("15/10/2017"),
                              txt("05/06/2015"),
                              txt("31/01/2024"),
                              txt("02.03.2024"),
                              txt("3-4-24"),
                              txt("07/08/2016 10:00")};
  dates_to_iso_text(column, false);
  EXPECT_EQ(column, (std::vector<Cell>{none(), txt("2024-01-09"), txt("2017-10-15"),
                                       txt("2015-06-05"), txt("2024-01-31"), txt("2024-03-02"),
                                       txt("2024-04-03"), txt("2016-08-07")}));
  // Month first when the first such value starts with 12 or less; a value that only fits day
  // first is still read, in that order.
  column = {txt("05/06/2015"), txt("31/01/2024"), txt("12.11.2023"), txt("02/30/2024")};
  dates_to_iso_text(column, false);
  EXPECT_EQ(column,
            (std::vector<Cell>{txt("2015-05-06"), txt("2024-01-31"), txt("2023-12-11"), none()}));
  // Year and month, two-digit years and dates as mail headers write them.
  EXPECT_EQ(to_date(txt("2024-03"), false), make_date(2024, 3, 1));
  EXPECT_EQ(to_date(txt("3/5/24"), false), make_date(2024, 3, 5));
  for (const char *text : {"Tue, 05 Mar 2024", "Tuesday, 5 March 2024",
                           "Tue, 05 Mar 2024 13:45:00 +0000", "Tue, 5 Mar 2024 13:45 GMT"})
    EXPECT_EQ(to_date(txt(text), false), make_date(2024, 3, 5)) << text;
  for (const char *text : {"2024-3-", "2024.03", "Tue, 05 Mar", "Tue 2024-03-05", "5/3/024"})
    EXPECT_EQ(to_date(txt(text), false), std::nullopt) << text;
}

TEST(ExcelDates, ADotBeforeLettersIsNoDate) {
  // A value opening with a separator once kept the month-name reader from moving on.
  for (const char *text : {".tbd", "...TBD", ".5-Mar-24", "-Mar-5-24", " ,March"})
    EXPECT_EQ(to_date(txt(text), false), std::nullopt) << text;
}

TEST(ExcelMonths, LabelsAreEnglishWhateverTheLocale) {
  EXPECT_EQ(month_label(2024, 3), "24-Mar");
  EXPECT_EQ(month_label(2009, 12), "09-Dec");
  EXPECT_EQ(month_label(2100, 1), "00-Jan");
}

TEST(ExcelMonths, SumsPerMonthAlignedOnBothSides) {
  const std::vector<Cell> sys_dates = {txt("2024-03-05"), txt("2024-03-20"), txt("2023-12-31"),
                                       none(), txt("2024-05-01")};
  const std::vector<Cell> cus_dates = {txt("2024-03-01"), txt("2024-04-02"), txt("2024-04-30"),
                                       txt("2024-04-30"), none()};
  const std::vector<Cell> qty = {num(5), num(2.5), txt("4"), num(100), num(1)};
  const Table t = monthly_sums(sys_dates, qty, cus_dates, qty, {"SYS_RDD", "CUS_RDD"});
  EXPECT_EQ(t.names(), (std::vector<std::string>{"23-Dec", "24-Mar", "24-Apr", "24-May"}));
  EXPECT_EQ(t.index(), (std::vector<std::string>{"SYS_RDD", "CUS_RDD"}));
  EXPECT_EQ(col(t, "23-Dec"), (std::vector<Cell>{num(4), num(0)}));
  EXPECT_EQ(col(t, "24-Mar"), (std::vector<Cell>{num(7.5), num(5)}));
  EXPECT_EQ(col(t, "24-Apr"), (std::vector<Cell>{num(0), num(106.5)}));
  EXPECT_EQ(col(t, "24-May"), (std::vector<Cell>{num(1), num(0)}));

  // Without any readable date there is no month: an empty table.
  EXPECT_TRUE(monthly_sums({none()}, {num(1)}, {txt("x")}, {num(1)}, {"A", "B"}).empty());
  // A quantity that is no number (with a date) is refused, naming the row.
  try {
    monthly_sums({txt("2024-01-01"), txt("2024-01-02")}, {num(1), txt("ten")}, {}, {}, {"A", "B"});
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error &e) {
    EXPECT_NE(std::string(e.what()).find("row 2"), std::string::npos) << e.what();
  }
}

} // namespace

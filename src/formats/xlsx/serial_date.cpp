#include "formats/xlsx/workbook.hpp"

#include <chrono>
#include <cmath>

namespace vaskit::xlsx {

namespace chr = std::chrono;

std::optional<DateTime> date_from_serial(double serial, bool date1904) {
  // Beyond about 27,000 years either way no calendar date in years 1-9999 can result.
  if (!std::isfinite(serial) || std::fabs(serial) > 1e7) {
    return std::nullopt;
  }
  const double whole = std::floor(serial);
  chr::days day{static_cast<long long>(whole)};
  chr::milliseconds time{std::llround((serial - whole) * 86400000.0)};
  DateTime out;
  out.time_only = serial >= 0 && serial < 1 && time < chr::days(1);
  if (time >= chr::days(1)) {
    day += chr::days(1);
    time -= chr::days(1);
  }
  // Day 60 of the 1900 system is 29 February 1900, which never was: serials before it are one
  // day behind the real calendar.
  if (!date1904 && serial > 0 && serial < 60) {
    day += chr::days(1);
  }
  const chr::sys_days epoch =
      date1904 ? chr::sys_days(chr::year(1904) / 1 / 1) : chr::sys_days(chr::year(1899) / 12 / 30);
  const chr::year_month_day date{out.time_only ? epoch : epoch + day};
  if (date.year() < chr::year(1) || date.year() > chr::year(9999)) {
    return std::nullopt;
  }
  out.year = static_cast<int>(date.year());
  out.month = static_cast<int>(static_cast<unsigned>(date.month()));
  out.day = static_cast<int>(static_cast<unsigned>(date.day()));
  const chr::hh_mm_ss clock{time};
  out.hour = static_cast<int>(clock.hours().count());
  out.minute = static_cast<int>(clock.minutes().count());
  out.second = static_cast<int>(clock.seconds().count());
  out.microsecond = static_cast<int>(chr::microseconds(clock.subseconds()).count());
  return out;
}

} // namespace vaskit::xlsx

#include "simulator/encoder.h"

#include <cmath>

UtcMinute SplitUtc(double utc) {
  UtcMinute m;
  const double whole = std::floor(utc);
  const int64_t s = static_cast<int64_t>(whole);
  int64_t within = s % 60;
  if (within < 0) within += 60;
  m.minute_start = s - within;
  m.second = static_cast<int>(within);
  m.fraction = utc - whole;
  return m;
}

CivilTime CivilFromUtc(int64_t utc) {
  int64_t days = utc / 86400;
  int64_t secs = utc % 86400;
  if (secs < 0) {
    secs += 86400;
    days -= 1;
  }
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  CivilTime c;
  c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.year = static_cast<int>(yoe + era * 400 + (c.month <= 2));
  int64_t wd = (days + 4) % 7;
  if (wd < 0) wd += 7;
  c.weekday = static_cast<int>(wd);
  c.hour = static_cast<int>(secs / 3600);
  c.minute = static_cast<int>(secs / 60 % 60);
  return c;
}

namespace {

int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// 01:00 UTC on the last Sunday of the month.
int64_t LastSundayOneUtc(int year, int month) {
  const int next_month = month == 12 ? 1 : month + 1;
  const int next_year = month == 12 ? year + 1 : year;
  const int64_t last_day = DaysFromCivil(next_year, next_month, 1) - 1;
  int64_t wd = (last_day + 4) % 7;  // 0 = Sunday
  if (wd < 0) wd += 7;
  return (last_day - wd) * 86400 + 3600;
}

}  // namespace

bool CentralEuropeanSummerTime(int64_t utc) {
  const int year = CivilFromUtc(utc).year;
  return utc >= LastSundayOneUtc(year, 3) && utc < LastSundayOneUtc(year, 10);
}

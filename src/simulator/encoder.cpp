// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulator/encoder.h"

#include "platform/system_clock.h"

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
  const SYSTEMTIME st = SystemTimeFromUnix(utc);
  CivilTime c;
  c.year = st.wYear;
  c.month = st.wMonth;
  c.day = st.wDay;
  c.weekday = st.wDayOfWeek;
  c.hour = st.wHour;
  c.minute = st.wMinute;
  return c;
}

namespace {

// 01:00 UTC on the last Sunday of the month.
int64_t LastSundayOneUtc(int year, int month) {
  const int next_month = month == 12 ? 1 : month + 1;
  const int next_year = month == 12 ? year + 1 : year;
  const int64_t last_day = DaysFromCivil(next_year, static_cast<unsigned>(next_month), 1) - 1;
  int64_t wd = (last_day + 4) % 7;  // 0 = Sunday
  if (wd < 0) wd += 7;
  return (last_day - wd) * 86400 + 3600;
}

}  // namespace

bool CentralEuropeanSummerTime(int64_t utc) {
  const int year = CivilFromUtc(utc).year;
  return utc >= LastSundayOneUtc(year, 3) && utc < LastSundayOneUtc(year, 10);
}

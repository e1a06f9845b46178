// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system_clock.h"

#include <ctime>

// Howard Hinnant's algorithm.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

SYSTEMTIME SystemTimeFromUnix(int64_t t, int milliseconds) {
  int64_t days = t / 86400;
  int64_t secs = t % 86400;
  if (secs < 0) {
    secs += 86400;
    days -= 1;
  }
  // Civil from days (Howard Hinnant's algorithm).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;

  SYSTEMTIME st;
  st.wYear = static_cast<uint16_t>(y + (m <= 2));
  st.wMonth = static_cast<uint16_t>(m);
  st.wDay = static_cast<uint16_t>(d);
  // 1970-01-01 was a Thursday (4).
  int64_t dow = (days + 4) % 7;
  if (dow < 0) dow += 7;
  st.wDayOfWeek = static_cast<uint16_t>(dow);
  st.wHour = static_cast<uint16_t>(secs / 3600);
  st.wMinute = static_cast<uint16_t>(secs / 60 % 60);
  st.wSecond = static_cast<uint16_t>(secs % 60);
  st.wMilliseconds = static_cast<uint16_t>(milliseconds);
  return st;
}

int64_t UnixFromSystemTime(const SYSTEMTIME& st) {
  return DaysFromCivil(st.wYear, st.wMonth, st.wDay) * 86400 + st.wHour * 3600 +
         st.wMinute * 60 + st.wSecond;
}

int64_t UtcSecondsOfDay(int64_t t) {
  const int64_t s = t % 86400;
  return s < 0 ? s + 86400 : s;
}

int64_t NearestUtcTimeOfDay(int64_t around, int64_t seconds_of_day) {
  const int64_t midnight = around - UtcSecondsOfDay(around);
  int64_t best = midnight + seconds_of_day;
  for (int64_t day = -1; day <= 1; day += 2) {
    const int64_t candidate = midnight + day * 86400 + seconds_of_day;
    const int64_t d_candidate = candidate > around ? candidate - around : around - candidate;
    const int64_t d_best = best > around ? best - around : around - best;
    if (d_candidate < d_best) best = candidate;
  }
  return best;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The PC clock as the clock program sees it: the current time, the local calendar, the
// conversion of a local standard-time date and time to a time count, and the UTC system
// time that is read and written when the clock is set.
#pragma once

#include <cstdint>

// Broken-down UTC system time, field for field as the Windows SYSTEMTIME record.
struct SYSTEMTIME {
  uint16_t wYear = 1970;
  uint16_t wMonth = 1;      // 1..12
  uint16_t wDayOfWeek = 4;  // 0 = Sunday
  uint16_t wDay = 1;        // 1..31
  uint16_t wHour = 0;
  uint16_t wMinute = 0;
  uint16_t wSecond = 0;
  uint16_t wMilliseconds = 0;
};

// A local calendar date and time of day.
struct LocalDateTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class SystemClock {
 public:
  virtual ~SystemClock() = default;

  // Current time, seconds since 1970-01-01 00:00:00 UTC.
  virtual int64_t Now() = 0;

  // The local calendar date and time of day of a time count (the PC's time zone, with
  // daylight saving as the zone rules say).
  virtual LocalDateTime Local(int64_t t) = 0;

  // A local date and time read as local standard time (daylight-saving flag 0) and turned
  // into a time count. Fields out of range roll over (hour 24 is 00 of the next day).
  virtual int64_t LocalStandardToTime(const LocalDateTime& local) = 0;

  // The current UTC system time.
  virtual SYSTEMTIME GetSystemTime() = 0;

  // Writes the UTC system time; false when the write was refused or failed.
  virtual bool SetSystemTime(const SYSTEMTIME& st) = 0;
};

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);

// Conversions between a UTC time count and the broken-down system time (no time zone).
SYSTEMTIME SystemTimeFromUnix(int64_t t, int milliseconds = 0);
int64_t UnixFromSystemTime(const SYSTEMTIME& st);  // milliseconds ignored

// Seconds since the UTC midnight that begins the day of `t`: 0..86399.
int64_t UtcSecondsOfDay(int64_t t);

// The time count of a UTC time of day (seconds; 86400 and more run into the next day, so an
// hour of 24 is 00 of the next day) on the UTC date of `around`, the day before or the day
// after, whichever lies nearest `around`; on a tie the date of `around`. Near midnight this
// puts a minute read from the radio on the date it belongs to, so that a clock error of
// seconds never turns into a day.
int64_t NearestUtcTimeOfDay(int64_t around, int64_t seconds_of_day);

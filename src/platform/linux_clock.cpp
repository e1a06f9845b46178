// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux_clock.h"

#include <cmath>
#include <ctime>

LocalDateTime LibcLocalTime::Local(int64_t t) {
  const time_t tt = static_cast<time_t>(t);
  struct tm tmv {};
  localtime_r(&tt, &tmv);
  LocalDateTime l;
  l.year = tmv.tm_year + 1900;
  l.month = tmv.tm_mon + 1;
  l.day = tmv.tm_mday;
  l.hour = tmv.tm_hour;
  l.minute = tmv.tm_min;
  l.second = tmv.tm_sec;
  return l;
}

int64_t LibcLocalTime::LocalStandardToTime(const LocalDateTime& local) {
  struct tm tmv {};
  tmv.tm_year = local.year - 1900;
  tmv.tm_mon = local.month - 1;
  tmv.tm_mday = local.day;
  tmv.tm_hour = local.hour;
  tmv.tm_min = local.minute;
  tmv.tm_sec = local.second;
  tmv.tm_isdst = 0;  // read as standard time
  return static_cast<int64_t>(mktime(&tmv));
}

int64_t RealSystemClock::Now() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec);
}

SYSTEMTIME RealSystemClock::GetSystemTime() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return SystemTimeFromUnix(ts.tv_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

bool RealSystemClock::SetSystemTime(const SYSTEMTIME& st) {
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(UnixFromSystemTime(st));
  ts.tv_nsec = static_cast<long>(st.wMilliseconds) * 1000000L;
  return clock_settime(CLOCK_REALTIME, &ts) == 0;
}

SimulatedClock::SimulatedClock(int64_t start_utc, double blocks_per_minute)
    : start_ms_(start_utc * 1000), blocks_per_minute_(blocks_per_minute) {}

int64_t SimulatedClock::NowMilliseconds() const {
  // 128 samples a block; blocks_per_minute blocks are 60 000 ms.
  const double ms = static_cast<double>(AudioSamples()) / 128.0 * 60000.0 / blocks_per_minute_;
  return start_ms_ + static_cast<int64_t>(std::floor(ms)) + adjust_ms_;
}

int64_t SimulatedClock::Now() {
  const int64_t ms = NowMilliseconds();
  return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

SYSTEMTIME SimulatedClock::GetSystemTime() {
  const int64_t ms = NowMilliseconds();
  const int64_t s = Now();
  return SystemTimeFromUnix(s, static_cast<int>(ms - s * 1000));
}

bool SimulatedClock::SetSystemTime(const SYSTEMTIME& st) {
  if (refuse_writes_) return false;
  const int64_t target_ms = UnixFromSystemTime(st) * 1000 + st.wMilliseconds;
  adjust_ms_ += target_ms - NowMilliseconds();
  ++write_count_;
  return true;
}

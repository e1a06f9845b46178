// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/lock_labels.h"

#include "platform/system_clock.h"

bool MayEndWithLeapSecond(int64_t utc) {
  const int64_t of_day = ((utc % 86400) + 86400) % 86400;
  if (of_day < 86400 - 60) return false;
  const SYSTEMTIME next_day = SystemTimeFromUnix(utc - of_day + 86400);
  return next_day.wDay == 1 && (next_day.wMonth == 1 || next_day.wMonth == 7);
}

SecondLabeller::Seconds LockLabels::Labels(double newest_sample) {
  Seconds s;
  int64_t utc = 0;
  double start = 0.0;
  if (!lock_.UtcNear(newest_sample, &utc, &start)) {
    leap_end_ = 0;
    return s;
  }
  if (leap_end_ != 0 && utc >= leap_end_) {
    // Past the minute: whether or not a second was inserted, the lock is found again.
    leap_end_ = 0;
    lock_.Reset();
    return s;
  }
  // (the time service may send the seconds up to two before the newest sample from this answer)
  if (MayEndWithLeapSecond(utc) || MayEndWithLeapSecond(utc - 2)) {
    const int64_t in_minute = MayEndWithLeapSecond(utc) ? utc : utc - 2;
    leap_end_ = in_minute - ((in_minute % 60) + 60) % 60 + 60;
    s.leap_minute = true;
    return s;
  }
  const LockStatus status = lock_.Status();
  s.labelled = true;
  s.holdover = status.state == LockState::Holdover;
  s.utc = utc;
  s.sample = start;
  s.rate = lock_.SecondLength();
  s.minutes = status.minutes;
  return s;
}

void LockLabels::Renew() {
  leap_end_ = 0;
  lock_.Reset();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/lock_guard.h"

#include <cmath>

LockObserver::LockObserver(int station_mode) : epochs_(station_mode), lock_(station_mode) {}

void LockObserver::OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                                   int64_t capture_time_ns) {
  epochs_.OnCaptureBuffer(samples, count, first_block, capture_time_ns);
  if (!lock_.Supported() || samples == nullptr || count <= 0 || first_block < 1) return;
  line_ = epochs_.SecondLine();
  if (line_.following) lock_.SetSecondLine(line_.sample, line_.rate);
  const int64_t first_sample = (first_block - 1) * BlockSize;  // as the epoch estimator counts
  lock_.OnBuffer(samples, count, first_sample, capture_time_ns);
  newest_sample_ = static_cast<double>(first_sample + count);
  fed_ = true;
}

void LockObserver::OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) {
  epochs_.OnMinuteAccepted(ut_hour, ut_minute, block);
}

void LockObserver::OnUpdate(int hint) {
  epochs_.OnUpdate(hint);
  if (hint == UPDATE_HINT_CAPTURE_STARTED) lock_.Reset();
}

bool LockObserver::UtcNow(double* utc) const {
  int64_t second = 0;
  double start = 0.0;
  if (!lock_.UtcNear(newest_sample_, &second, &start)) return false;
  *utc = static_cast<double>(second) + (newest_sample_ - start) / lock_.SecondLength();
  return true;
}

bool LockObserver::SecondOfMinuteNow(double* seconds) const {
  return lock_.SecondOfMinuteNear(newest_sample_, seconds);
}

bool GuardedClock::SetSystemTime(const SYSTEMTIME& st) {
  const double offset_s = (offset_ != nullptr ? *offset_ : 0.0) * 3600.0;
  if (lock_.Lock().PhaseOnly() && lock_.Fed()) {
    const double written = static_cast<double>(UnixFromSystemTime(st)) + st.wMilliseconds / 1000.0;
    double into = 0.0;
    if (!lock_.SecondOfMinuteNow(&into)) return Refuse(written, std::nan(""));
    // seconds, the write's second of the minute (UT) minus the phase's: -30 .. +30
    const double off = std::remainder(written - offset_s - into, 60.0);
    if (std::fabs(off) > MarkAgreeSeconds) return Refuse(written, written - off);
    return inner_.SetSystemTime(st);
  }
  double utc = 0.0;
  const double written = static_cast<double>(UnixFromSystemTime(st)) + st.wMilliseconds / 1000.0;
  if (!lock_.UtcNow(&utc)) {
    if (wait_for_lock_ && lock_.Lock().Supported()) {
      held_back_ = true;
      held_back_written_ = written;
      return false;
    }
  } else {
    double locked = utc + offset_s;
    // Audio without time stamps (a simulated receiver, a recording played without its start)
    // gives the lock the time of day but not the date: it vouches for the time of day only,
    // on the day of the write.
    if (!lock_.Lock().DateKnown()) locked = written + std::remainder(locked - written, 86400.0);
    if (std::fabs(written - locked) > ContradictSeconds) return Refuse(written, locked);
  }
  return inner_.SetSystemTime(st);
}

bool GuardedClock::Refuse(double written, double locked) {
  refused_ = true;
  refused_written_ = written;
  refused_locked_ = locked;
  return false;
}

bool GuardedClock::TakeHeldBack(double* written) {
  if (!held_back_) return false;
  held_back_ = false;
  *written = held_back_written_;
  return true;
}

bool GuardedClock::TakeRefusal(double* written, double* locked) {
  if (!refused_) return false;
  refused_ = false;
  *written = refused_written_;
  *locked = refused_locked_;
  return true;
}

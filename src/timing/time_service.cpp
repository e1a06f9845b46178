// SPDX-License-Identifier: GPL-3.0-or-later
#include "timing/time_service.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void OffsetStats::Add(double offset) {
  // Welford's running mean and sum of squares: no list of samples to keep.
  ++count;
  const double d = offset - mean;
  mean += d / static_cast<double>(count);
  sum_sq += d * (offset - mean);
  if (count == 1 || offset < min) min = offset;
  if (count == 1 || offset > max) max = offset;
}

double OffsetStats::StdDev() const {
  return count > 1 ? std::sqrt(sum_sq / static_cast<double>(count - 1)) : 0.0;
}

std::string DescribeLockChange(const LockChange& c) {
  char buf[160];
  if (c.locked) {
    std::snprintf(buf, sizeof buf, "locked: %d minutes agree", c.minutes);
    return buf;
  }
  switch (c.reason) {
    case LockReason::MinuteDisagrees:
      std::snprintf(buf, sizeof buf,
                    "unlocked: minute %02d:%02d disagrees; no samples until 3 minutes agree again", c.hour,
                    c.minute);
      return buf;
    case LockReason::SecondsLost:
      return "unlocked: the seconds' markers were lost (a gap in the audio, fading or noise)";
    case LockReason::LeapSecond:
      return "unlocked: the last minute of June or December may end with a leap second";
    case LockReason::TimingBroke:
      return "unlocked: the capture's time stamps broke off (samples lost or the system clock stepped)";
    case LockReason::CaptureRestarted: return "unlocked: the capture started again";
    case LockReason::MinutesAgree: break;
  }
  return "unlocked";
}

TimeService::TimeService(int station_mode, double receiver_delay_s)
    : station_(station_mode),
      epochs_(std::make_unique<SecondEpochs>(station_mode)),
      delay_s_(std::isfinite(receiver_delay_s) && receiver_delay_s > 0.0 ? receiver_delay_s : 0.0) {}

TimeService::~TimeService() = default;

bool TimeService::AddOutput(EpochOutput* output) {
  for (EpochOutput*& o : outputs_) {
    if (o == output) return true;
    if (o == nullptr) {
      o = output;
      return true;
    }
  }
  return false;
}

namespace {

// The UTC day holding `utc` is the last of its month: a leap second announced for the month's
// end comes at the end of this day.
bool LastDayOfMonth(int64_t utc) {
  const int64_t next_day = utc - ((utc % 86400) + 86400) % 86400 + 86400;
  return SystemTimeFromUnix(next_day).wDay == 1;
}

}  // namespace

void TimeService::Restart() {
  epochs_ = std::make_unique<SecondEpochs>(station_);
  clock_.Reset();
  clock_restarts_ = clock_.Restarts();
  NoteLock(LockReason::CaptureRestarted);
}

void TimeService::NoteLock(LockReason lost_reason, int hour, int minute) {
  const bool locked = epochs_->Locked();
  if (locked == locked_) return;
  locked_ = locked;
  change_.serial += 1;
  change_.locked = locked;
  change_.reason = locked ? LockReason::MinutesAgree : lost_reason;
  change_.minutes = locked ? epochs_->AgreeingMinutes() : 0;
  change_.hour = hour;
  change_.minute = minute;
  if (locked) ++times_locked_;
}

void TimeService::OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                                  int64_t capture_time_ns) {
  // The buffer's first sample is sample (first_block - 1) * 128 of the capture.
  clock_.Add((first_block - 1) * 128, capture_time_ns);
  // A jump of the stamps by more than a second breaks the estimator's count of seconds at
  // once, before the capture line gives up on them.
  bool timing_broke =
      capture_time_ns != 0 && expected_ns_ != 0 && std::llabs(capture_time_ns - expected_ns_) > 1000000000;
  expected_ns_ =
      capture_time_ns != 0 ? capture_time_ns + int64_t{count} * 125000 : 0;  // 1e9 / 8000 per sample
  if (clock_.Restarts() != clock_restarts_) {
    clock_restarts_ = clock_.Restarts();
    timing_broke = true;
    // the seconds start afresh with this buffer, as after a new capture (no allocation here)
    epochs_->OnUpdate(UPDATE_HINT_CAPTURE_STARTED);
  }
  epochs_->OnCaptureBuffer(samples, count, first_block, capture_time_ns);
  // Lost within a buffer: the estimator still follows the seconds only when it let go of the
  // labels about a possible leap second.
  NoteLock(capture_started_                                ? LockReason::CaptureRestarted
           : timing_broke                                  ? LockReason::TimingBroke
           : std::strcmp(epochs_->State(), "locking") == 0 ? LockReason::LeapSecond
                                                           : LockReason::SecondsLost);
  capture_started_ = false;

  for (;;) {
    const int n = epochs_->TakeEpochs(taken_, static_cast<int>(sizeof taken_ / sizeof taken_[0]));
    for (int i = 0; i < n; ++i) {
      const SecondEpoch& e = taken_[i];
      // While the newest stamp is off the line, it may be the first sign of a break: hold
      // back rather than send a second that might be counted across it.
      if (!clock_.Ready() || clock_.Doubtful()) {
        ++unstamped_;
        continue;
      }
      EpochMeasurement m;
      m.utc = e.utc;
      m.system_ns = clock_.TimeNs(e.sample);
      // Split into whole seconds first so that the double keeps nanoseconds.
      const int64_t diff_ns = e.utc * 1000000000 - m.system_ns;
      m.offset = static_cast<double>(diff_ns) * 1e-9 + delay_s_;
      m.quality = e.quality;
      m.leap = leap_ != 0 && LastDayOfMonth(e.utc) ? leap_ : 0;
      ++measured_;
      offsets_.Add(m.offset);
      for (EpochOutput* o : outputs_)
        if (o != nullptr) o->OnEpoch(m);
    }
    if (n < static_cast<int>(sizeof taken_ / sizeof taken_[0])) break;
  }
}

void TimeService::OnUpdate(int hint) {
  epochs_->OnUpdate(hint);
  if (hint == UPDATE_HINT_CAPTURE_STARTED) capture_started_ = true;
}

void TimeService::OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) {
  if (leap_source_ != nullptr) leap_ = *leap_source_ == 1 || *leap_source_ == 2 ? *leap_source_ : 0;
  epochs_->OnMinuteAccepted(ut_hour, ut_minute, block);
  NoteLock(LockReason::MinuteDisagrees, ut_hour, ut_minute);
}

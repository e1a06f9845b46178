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
  if (c.locked && c.reason == LockReason::TimeOfDay) {
    std::snprintf(buf, sizeof buf, "locked: the robust lock holds the time of day (%d minutes of evidence)",
                  c.minutes);
    return buf;
  }
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
    case LockReason::TimeOfDayLost:
      return "unlocked: the robust lock let go of the time of day (the signal turned against it, or a gap "
             "too long for the capture clock)";
    case LockReason::MinutesAgree:
    case LockReason::TimeOfDay: break;
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
  if (labeller_ != nullptr) labeller_->Renew();
  labels_ = SecondLabeller::Seconds{};
  served_through_ = INT64_MIN;
  NoteLock(LockReason::CaptureRestarted);
}

void TimeService::NoteLock(LockReason lost_reason, int hour, int minute) {
  const bool locked = labels_.labelled || epochs_->Locked();
  if (locked == locked_) return;
  locked_ = locked;
  change_.serial += 1;
  change_.locked = locked;
  change_.reason = !locked            ? lost_reason
                   : labels_.labelled ? LockReason::TimeOfDay
                                      : LockReason::MinutesAgree;
  change_.minutes = !locked ? 0 : labels_.labelled ? labels_.minutes : epochs_->AgreeingMinutes();
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
  const double newest_sample = static_cast<double>((first_block - 1) * 128 + count);
  const bool had_labels = labels_.labelled;
  if (labeller_ != nullptr) {
    // Counted across a break, the labeller's seconds are as doubtful as the estimator's.
    if (timing_broke) labeller_->Renew();
    labels_ = labeller_->Labels(newest_sample);
  }
  // Lost within a buffer: the estimator still follows the seconds only when it let go of the
  // labels about a possible leap second.
  NoteLock(capture_started_                                ? LockReason::CaptureRestarted
           : timing_broke                                  ? LockReason::TimingBroke
           : had_labels && labels_.leap_minute             ? LockReason::LeapSecond
           : had_labels                                    ? LockReason::TimeOfDayLost
           : std::strcmp(epochs_->State(), "locking") == 0 ? LockReason::LeapSecond
                                                           : LockReason::SecondsLost);
  capture_started_ = false;

  bool contradicted = false;
  for (;;) {
    const int n = epochs_->TakeEpochs(taken_, static_cast<int>(sizeof taken_ / sizeof taken_[0]));
    for (int i = 0; i < n; ++i) {
      const SecondEpoch& e = taken_[i];
      if (labels_.labelled) {
        // The labeller's count is sent instead; a decoded label that names another second for
        // this marker (or a marker off the count's seconds) means one of the two is wrong.
        const double at = (e.sample - labels_.sample) / labels_.rate;
        const double k = std::round(at);
        if (std::fabs(at - k) > 0.1 || labels_.utc + static_cast<int64_t>(k) != e.utc) contradicted = true;
        continue;
      }
      // While the newest stamp is off the line, it may be the first sign of a break: hold
      // back rather than send a second that might be counted across it.
      if (!clock_.Ready() || clock_.Doubtful()) {
        ++unstamped_;
        continue;
      }
      Send(e.utc, e.sample, e.quality);
    }
    if (n < static_cast<int>(sizeof taken_ / sizeof taken_[0])) break;
  }
  if (labels_.labelled) {
    SendLabelled(newest_sample, contradicted);
  } else {
    served_through_ = INT64_MIN;
  }
}

void TimeService::SendLabelled(double newest_sample, bool contradicted) {
  const SecondLabeller::Seconds& l = labels_;
  if (!(l.rate > 0.0)) return;
  // A second is sent once its start lies a whole second back: its marker has been measured
  // into the line by then.
  const double behind = std::floor((newest_sample - l.rate - l.sample) / l.rate);
  if (!(std::fabs(behind) < 1e9)) return;
  const int64_t last = l.utc + static_cast<int64_t>(behind);
  // Taken up where the last buffer left off; after a pause of the labels, from now on.
  const int64_t first =
      served_through_ != INT64_MIN && served_through_ >= last - 4 ? served_through_ + 1 : last;
  for (int64_t u = first; u <= last; ++u) {
    if (contradicted) {
      ++contradicted_;
      continue;
    }
    if (!clock_.Ready() || clock_.Doubtful()) {
      ++unstamped_;
      continue;
    }
    // In holdover the second's start is the capture clock's count, not a marker heard: said
    // in the quality.
    Send(u, l.sample + static_cast<double>(u - l.utc) * l.rate, l.holdover ? 0.5 : 1.0);
  }
  if (last > served_through_ || served_through_ == INT64_MIN) served_through_ = last;
}

void TimeService::Send(int64_t utc, double sample, double quality) {
  EpochMeasurement m;
  m.utc = utc;
  m.system_ns = clock_.TimeNs(sample);
  // Split into whole seconds first so that the double keeps nanoseconds.
  const int64_t diff_ns = utc * 1000000000 - m.system_ns;
  m.offset = static_cast<double>(diff_ns) * 1e-9 + delay_s_;
  m.quality = quality;
  m.leap = leap_ != 0 && LastDayOfMonth(utc) ? leap_ : 0;
  ++measured_;
  offsets_.Add(m.offset);
  for (EpochOutput* o : outputs_)
    if (o != nullptr) o->OnEpoch(m);
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

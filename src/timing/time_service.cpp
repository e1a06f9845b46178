// SPDX-License-Identifier: GPL-3.0-or-later
#include "timing/time_service.h"

#include <cmath>

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

void TimeService::Restart() {
  epochs_ = std::make_unique<SecondEpochs>(station_);
  clock_.Reset();
  clock_restarts_ = clock_.Restarts();
}

void TimeService::OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                                  int64_t capture_time_ns) {
  // The buffer's first sample is sample (first_block - 1) * 128 of the capture.
  clock_.Add((first_block - 1) * 128, capture_time_ns);
  if (clock_.Restarts() != clock_restarts_) {
    clock_restarts_ = clock_.Restarts();
    // the seconds start afresh with this buffer, as after a new capture (no allocation here)
    epochs_->OnUpdate(UPDATE_HINT_CAPTURE_STARTED);
  }
  epochs_->OnCaptureBuffer(samples, count, first_block, capture_time_ns);

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
      ++measured_;
      for (EpochOutput* o : outputs_)
        if (o != nullptr) o->OnEpoch(m);
    }
    if (n < static_cast<int>(sizeof taken_ / sizeof taken_[0])) break;
  }
}

void TimeService::OnUpdate(int hint) {
  epochs_->OnUpdate(hint);
}

void TimeService::OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) {
  epochs_->OnMinuteAccepted(ut_hour, ut_minute, block);
}

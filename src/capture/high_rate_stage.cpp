// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/high_rate_stage.h"

#include <algorithm>
#include <cmath>

HighRateStage::HighRateStage(int factor, CaptureRateFilter* filter)
    : factor_(std::clamp(factor, 1, MaxFactor)), filter_(filter) {}

size_t HighRateStage::Process(const int16_t* in, size_t count, int16_t* out) {
  count = std::min(count, MaxChunk);
  for (size_t i = 0; i < count; ++i) work_[i] = static_cast<float>(in[i]);
  if (filter_ != nullptr && count > 0) filter_->Process(work_, count);
  size_t made = 0;
  for (size_t i = 0; i < count; ++i) {
    sum_ += work_[i];
    if (++taken_ < factor_) continue;
    const double v = std::round(sum_ / factor_);
    out[made++] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
    sum_ = 0.0;
    taken_ = 0;
  }
  return made;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// A sound card sampling an antenna at a multiple of 8000 samples a second (96, 192 or 384 kHz),
// brought to the clock's 8000. At the card's rate the samples go through a filter (the tone
// shift that moves a long-wave carrier, 77.5 kHz for DCF77, to the 1000 Hz the clock measures,
// keeping only a few hundred hertz around it); then each run of `factor` samples is averaged into
// one. The average is a low-pass of its own with zeros at every multiple of 8000 Hz, on top of
// the shift's, which leaves nothing above a few kilohertz to fold back onto the tone.
//
// Runs on the capture thread: fixed buffers, no allocation, no waiting.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/sample_source.h"

class HighRateStage {
 public:
  static constexpr int OutputRate = 8000;  // samples a second
  static constexpr int MaxFactor = 48;     // 384000 / 8000
  static constexpr size_t MaxChunk = 256;  // input samples a call takes at most

  // `factor`: the card's rate over 8000, 1..MaxFactor; `filter` (not owned, may be nullptr) runs
  // at the card's rate.
  HighRateStage(int factor, CaptureRateFilter* filter);

  // Takes `count` <= MaxChunk samples at the card's rate; writes the finished samples at 8000 a
  // second to `out` (room for count / factor + 1) and returns how many.
  size_t Process(const int16_t* in, size_t count, int16_t* out);

  // Input samples already summed into the sample being made: the first one `Process` writes
  // began that many card samples before its `in`.
  int Pending() const { return taken_; }
  int Factor() const { return factor_; }

 private:
  int factor_;
  CaptureRateFilter* filter_;
  float work_[MaxChunk] = {};
  double sum_ = 0.0;
  int taken_ = 0;
};

// SPDX-License-Identifier: GPL-3.0-or-later
// A stream of audio as the sound card would deliver it.
#pragma once

#include <cstddef>
#include <cstdint>

// Mono 16-bit samples at 8000 per second of sound-card time.
class SampleSource {
 public:
  virtual ~SampleSource() = default;
  // Fills up to `count` samples; returns how many (fewer only at the end of the input).
  virtual size_t Read(int16_t* out, size_t count) = 0;
};

// Changes mono samples at the capture's own rate, before they are resampled to 8000 Hz (a
// frequency shift that must see a long-wave carrier where the card sampled it). In place; runs
// on the capture path: no allocation, no waiting.
class CaptureRateFilter {
 public:
  virtual ~CaptureRateFilter() = default;
  virtual void Process(float* samples, size_t count) = 0;
};

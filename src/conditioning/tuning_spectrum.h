// SPDX-License-Identifier: GPL-3.0-or-later
// What the tuning aid shows: the receiver's audio as it reaches the tone stage, 8000 samples a
// second, as a spectrum over 0..4000 Hz.
//
// SampleTap keeps the newest second of audio in a ring filled in place as each capture buffer
// passes (a copy into memory allocated once: no allocation, no waiting, nothing ever dropped or
// held up for the drawing). The window's timer takes the newest samples out and TuningSpectrum
// transforms them there, off the per-block path.
//
// The spectrum: 1024 samples (128 ms) under a Hann window, 513 bins of 7.8125 Hz from 0 to
// 4000 Hz, each the power in dB relative to a full-scale sine (a sine of amplitude 32767 reads
// about 0 dB in its bin).
#pragma once

#include <array>
#include <cstdint>

class SampleTap {
 public:
  static constexpr int Capacity = 8192;  // samples: just over a second at 8000 Hz

  // Copies `count` samples into the ring, the oldest going out.
  void Add(const int16_t* samples, int count);
  // Samples added since the start (never wraps in practice: 2^63 samples).
  int64_t Written() const { return written_; }
  // The newest `count` samples (at most Capacity), oldest first; false while fewer have come.
  bool Latest(int16_t* out, int count) const { return Copy(written_ - count, out, count); }
  // The `count` samples from sample number `from` on; false unless all of them are in the ring.
  bool Copy(int64_t from, int16_t* out, int count) const;

 private:
  std::array<int16_t, Capacity> ring_{};
  int64_t written_ = 0;
};

class TuningSpectrum {
 public:
  static constexpr int Size = 1024;  // samples per transform
  static constexpr int Bins = Size / 2 + 1;
  static constexpr double SampleRate = 8000.0;
  static constexpr double BinHz = SampleRate / Size;

  TuningSpectrum();
  // The spectrum of Size samples into Db().
  void Compute(const int16_t* samples);
  const std::array<float, Bins>& Db() const { return db_; }
  // The bin that holds `hz` (nearest), within 0..Bins-1.
  static int BinOf(double hz);

 private:
  std::array<double, Size> window_{};
  std::array<double, Size / 2> wr_{}, wi_{};  // e^(-i 2 pi k / Size)
  std::array<double, Size> re_{}, im_{};
  std::array<float, Bins> db_{};
};

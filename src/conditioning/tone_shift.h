// SPDX-License-Identifier: GPL-3.0-or-later
// Moving a receiver's tone to where the clock measures it.
//
// A long-wave station heard through a CW or USB receiver comes out as a tone wherever the
// operator tuned it (300..3000 Hz), and a sound card sampling an antenna at 96..384 kHz sees the
// carrier itself (77.5 kHz for DCF77). The clock measures the tone's strength in three bins
// around 1000 Hz at 8000 samples per second. The shift moves the band around the tone there and
// keeps the keying (the envelope) as it is:
//
//   x[n], real, `rate` samples a second
//   -> times e^(-i 2 pi from n / rate): the tone at 0 Hz
//   -> low-pass with its corner at `half_width` (4th-order Butterworth, two biquads, on the real
//      and the imaginary part alike): only what lay within about half_width of the tone remains,
//      so nothing from the other side of the shift lands on the moved tone as a mirror image
//   -> times e^(+i 2 pi to n / rate): the tone at `to`
//   -> twice the real part: a tone of the same amplitude as it came in.
//
// How it runs, cheaply enough to move every sample of a recording:
//   - below 24000 samples a second (a receiver's audio at 4..16 kHz, and live input at 8000 Hz),
//     every sample goes through the steps above: the two mixings' phasors come from a table of
//     e^(i w k), k = 0..64, times the block's own phasor (which turns by e^(i w 64) from block to
//     block and is put back on the unit circle each time, so rounding cannot make it grow or
//     shrink), and the low-pass's recursion is arranged so that a sample's output waits on one
//     multiplication and one addition after the previous output's.
//   - from 24000 samples a second up (a recording at 24..384 kHz, resampled to 8000 Hz next),
//     the band around the tone is worked at a low rate, rate / factor, 8..10.7 kHz:
//       - the mixing down and a decimating low-pass (a running sum of `factor` samples, four
//         times over: zeros at every multiple of the low rate, so that nothing folds onto the
//         band around the tone, at least 90 dB down within 500 Hz of it, and exactly 1 at the
//         tone) are one complex filter over the real samples, worked out once every `factor`
//         samples, on four samples at a time;
//       - the 4th-order low-pass and the mixing up run at the low rate;
//       - the moved band (500..1500 Hz) is drawn back at the full rate by straight lines from
//         one low-rate sample to the next, scaled so that the moved tone keeps its amplitude
//         exactly. The lines leave images of the moved band around each multiple of the low
//         rate (30 dB down and more, all above 6.5 kHz), which the resampling to 8000 Hz
//         removes; the output lags one low-rate sample (at most 125 us) behind the full-rate way.
// Double precision for the recursions: a 50 Hz corner is 0.006 of an 8 kHz rate, where
// single precision would lose the filter; single precision for the decimating sums, whose terms
// are the samples' own. No allocation, no waiting: it runs on the capture path.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/sample_source.h"

class ToneShift : public CaptureRateFilter {
 public:
  static constexpr double DefaultHalfWidthHz = 500.0;
  static constexpr double MinHalfWidthHz = 50.0;

  // The low-pass corner for a tone at `from_hz`: 500 Hz, narrower where the tone's own mirror
  // (-from_hz, or its alias rate - from_hz near the Nyquist frequency) lies within four corners of
  // it, so that the mirror is 48 dB down.
  static double HalfWidthFor(double rate, double from_hz);

  // `rate` in samples a second; `from_hz` below rate / 2; `to_hz` + the half width below rate / 2.
  ToneShift(double rate, double from_hz, double to_hz)
      : ToneShift(rate, from_hz, to_hz, HalfWidthFor(rate, from_hz)) {}
  ToneShift(double rate, double from_hz, double to_hz, double half_width_hz);

  double FromHz() const { return from_hz_; }
  double ToHz() const { return to_hz_; }
  double Rate() const { return rate_; }

  // In place. Samples in any scale; int16 ones are rounded to nearest and held at the limits.
  void Process(float* samples, size_t count) override;
  void Process(int16_t* samples, size_t count);

  // Whether a shift from `from_hz` to `to_hz` with `half_width_hz` fits under `rate`'s Nyquist
  // frequency.
  static bool Fits(double rate, double from_hz, double to_hz);

 private:
  static constexpr int Block = 64;
  // factor = rate / LowRateAtLeast, rounded down; from MinFactor up the band around the tone
  // is worked at rate / factor.
  static constexpr double LowRateAtLeast = 8000.0;
  static constexpr int MinFactor = 3;  // below it the low rate's overhead outweighs the saving
  static constexpr int MaxFactor = 48;
  static constexpr int MaxTaps = 4 * MaxFactor;         // four running sums of `factor`, rounded up to 8s
  static constexpr int Chunk = 512;                     // samples taken in at a time on the decimating way
  using Quad = float __attribute__((vector_size(16)));  // four floats, one vector instruction
  // A complex sample: real and imaginary part, worked on together by one vector instruction.
  using Pair = double __attribute__((vector_size(16)));
  // One second-order section of the low-pass (b1 = 2 b0, b2 = b0), on the real and the
  // imaginary part alike.
  struct Biquad {
    double b0 = 0, a1 = 0, a2 = 0;
    Pair x1{}, x2{}, y1{}, y2{};  // the last two inputs and outputs
    Pair Step(Pair in) {
      // The terms that do not wait on the last output first.
      const Pair rest = b0 * (in + 2.0 * x1 + x2) - a2 * y2;
      const Pair out = rest - a1 * y1;
      x2 = x1;
      x1 = in;
      y2 = y1;
      y1 = out;
      return out;
    }
  };
  struct Oscillator {
    double table_r[Block + 1], table_i[Block + 1];  // e^(i w k)
    double r = 1.0, i = 0.0;                        // the current block's phasor
    void Set(double w);
    void Advance(int n);  // on by n <= Block samples
  };
  static void Design(Biquad (&stages)[2], double rate, double half_width_hz);
  template <class Sample>
  void Full(Sample* samples, size_t count);
  template <class Sample>
  void Decimating(Sample* samples, size_t count);
  // The complex filter over the samples ending at line_[end - 1].
  void Sum(int end, double& re, double& im) const;

  double rate_, from_hz_, to_hz_;
  int factor_ = 1;  // 1: every sample worked at the full rate
  Biquad stages_[2];
  Oscillator down_, up_;  // at the full rate; at the low rate on the decimating way
  double mixed_r_[Block] = {}, mixed_i_[Block] = {};  // a block on the full-rate way
  // The decimating way: the complex filter's taps (last tap first, zeros up to a multiple of 8),
  // the samples it reaches back over, a chunk's low-rate samples, where the next one falls, and
  // the line drawn between the two latest.
  int taps_ = 0;
  alignas(16) float taps_r_[MaxTaps] = {}, taps_i_[MaxTaps] = {};
  alignas(16) float line_[MaxTaps + Chunk] = {};
  double low_r_[Chunk] = {}, low_i_[Chunk] = {};
  int phase_ = 0;                    // samples since the last low-rate sample
  int low_in_block_ = 0;             // low-rate samples since the oscillators' last block
  double scale_ = 1.0;               // 2 / (the lines' response at the moved tone)
  double last_ = 0.0, slope_ = 0.0;  // the line drawn now: where it starts, and its step a sample
  double end_ = 0.0;                 // the latest low-rate sample, where it ends
};

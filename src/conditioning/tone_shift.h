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
// The oscillators run a block of 64 samples at a time: a table of e^(i w k), k = 0..63, taken
// once with cos and sin, times the block's own phasor, which turns by e^(i w 64) from block to
// block and is put back on the unit circle each time so rounding cannot make it grow or shrink.
// Within a block nothing depends on the sample before but the filter, so the mixing runs as
// vector instructions. Double precision throughout: at 384 kHz a 500 Hz corner is 0.0013 of the
// rate, where single precision would lose the filter. No allocation, no waiting: it runs on the
// capture path.
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
  // A complex sample: real and imaginary part, worked on together by one vector instruction.
  using Pair = double __attribute__((vector_size(16)));
  struct Biquad {
    double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    Pair x1{}, x2{}, y1{}, y2{};  // the last two inputs and outputs
  };
  struct Oscillator {
    double table_r[Block], table_i[Block];  // e^(i w k)
    double step_r, step_i;                  // e^(i w Block)
    double r = 1.0, i = 0.0;                // the current block's phasor
    void Set(double w);
    void Next();  // on to the next block
  };
  // `n` <= Block samples from `x` through the shift, into `y`.
  void Run(const double* x, double* y, int n);

  double rate_, from_hz_, to_hz_;
  Biquad stages_[2];
  Oscillator down_, up_;
  double in_[Block] = {}, out_[Block] = {};
  Pair z_[Block] = {};
};

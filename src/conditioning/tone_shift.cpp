// SPDX-License-Identifier: GPL-3.0-or-later
#include "conditioning/tone_shift.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr double Pi = 3.14159265358979323846;

// Rounded to nearest (halves away from zero) and held at the 16-bit limits; floats pass as they are.
inline void Store(float& out, double v) {
  out = static_cast<float>(v);
}
inline void Store(int16_t& out, double v) {
  v = std::clamp(v, -32768.0, 32767.0);
  out = static_cast<int16_t>(v + std::copysign(0.5, v));
}
}  // namespace

double ToneShift::HalfWidthFor(double rate, double from_hz) {
  const double mirror = std::min(2.0 * from_hz, rate - 2.0 * from_hz);  // Hz from the tone
  return std::clamp(mirror / 4.0, MinHalfWidthHz, DefaultHalfWidthHz);
}

bool ToneShift::Fits(double rate, double from_hz, double to_hz) {
  const double nyquist = rate / 2.0;
  if (rate <= 0 || from_hz <= 0 || from_hz >= nyquist) return false;
  const double half_width = HalfWidthFor(rate, from_hz);
  return 4.0 * half_width <= std::min(2.0 * from_hz, rate - 2.0 * from_hz) && to_hz > half_width &&
         to_hz + half_width < nyquist;
}

void ToneShift::Oscillator::Set(double w) {
  for (int k = 0; k <= Block; ++k) {
    table_r[k] = std::cos(w * k);
    table_i[k] = std::sin(w * k);
  }
}

void ToneShift::Oscillator::Advance(int n) {
  const double nr = r * table_r[n] - i * table_i[n];
  const double ni = r * table_i[n] + i * table_r[n];
  // Back onto the unit circle: the phasor's length is 1 to within rounding, where one Newton
  // step for 1 / sqrt(length^2) is exact to the last digits.
  const double g = 1.5 - 0.5 * (nr * nr + ni * ni);
  r = nr * g;
  i = ni * g;
}

void ToneShift::Design(Biquad (&stages)[2], double rate, double half_width_hz) {
  // Butterworth of order 4 as two second-order sections, Q = 1 / (2 sin((2k - 1) pi / 8)),
  // by the bilinear transform. 1 - cos(w0) is written 2 sin^2(w0 / 2): at a small w0 the
  // difference would lose most of its digits.
  const double w0 = 2.0 * Pi * half_width_hz / rate;
  const double one_minus_cos = 2.0 * std::sin(w0 / 2.0) * std::sin(w0 / 2.0);
  const double qs[2] = {0.54119610014619698, 1.3065629648763766};
  for (int k = 0; k < 2; ++k) {
    const double alpha = std::sin(w0) / (2.0 * qs[k]);
    const double a0 = 1.0 + alpha;
    stages[k].b0 = one_minus_cos / 2.0 / a0;
    stages[k].a1 = -2.0 * std::cos(w0) / a0;
    stages[k].a2 = (1.0 - alpha) / a0;
  }
}

ToneShift::ToneShift(double rate, double from_hz, double to_hz, double half_width_hz)
    : rate_(rate), from_hz_(from_hz), to_hz_(to_hz) {
  factor_ = std::min(static_cast<int>(rate / LowRateAtLeast), MaxFactor);
  if (factor_ < MinFactor) factor_ = 1;
  const double low_rate = rate / factor_;
  Design(stages_, low_rate, half_width_hz);
  up_.Set(2.0 * Pi * to_hz / low_rate);
  down_.Set(-2.0 * Pi * from_hz / low_rate);
  if (factor_ == 1) return;
  // The decimating low-pass: a running sum of `factor` samples, four times over (4 factor - 3
  // taps), divided by factor^4 so that it passes 0 Hz (the tone, once mixed down) exactly.
  // Mixed down by e^(-i w n) and sampled at n = m factor, it is
  //   e^(-i w m factor) sum_j h[j] e^(i w j) x[m factor - j],
  // one complex filter over the real samples, then a phasor at the low rate.
  const int d = factor_;
  double h[MaxTaps] = {};
  int len = 1;
  h[0] = 1.0;
  for (int pass = 0; pass < 4; ++pass) {
    double next[MaxTaps] = {};
    for (int j = 0; j < len; ++j)
      for (int k = 0; k < d; ++k) next[j + k] += h[j] / d;
    len += d - 1;
    std::copy(next, next + len, h);
  }
  taps_ = (len + 7) / 8 * 8;
  const double w = 2.0 * Pi * from_hz / rate;
  for (int j = 0; j < len; ++j) {
    taps_r_[taps_ - 1 - j] = static_cast<float>(h[j] * std::cos(w * j));
    taps_i_[taps_ - 1 - j] = static_cast<float>(h[j] * std::sin(w * j));
  }
  // Straight lines between samples `factor` apart pass f with (sin(pi f d / rate) /
  // (d sin(pi f / rate)))^2: the moved tone is scaled back up by as much.
  const double lines = std::sin(Pi * to_hz * d / rate) / (d * std::sin(Pi * to_hz / rate));
  scale_ = 2.0 / (lines * lines);
}

template <class Sample>
void ToneShift::Full(Sample* samples, size_t count) {
  for (size_t done = 0; done < count;) {
    const int n = static_cast<int>(std::min<size_t>(Block, count - done));
    Sample* s = samples + done;
    // Down to 0 Hz. Nothing here waits on the sample before: vector instructions.
    const double dr = down_.r, di = down_.i;
    for (int k = 0; k < n; ++k) {
      const double x = s[k];
      mixed_r_[k] = x * (dr * down_.table_r[k] - di * down_.table_i[k]);
      mixed_i_[k] = x * (dr * down_.table_i[k] + di * down_.table_r[k]);
    }
    // The low-pass, the real and imaginary parts as one pair: what is left of the time.
    Biquad p = stages_[0], q = stages_[1];
    for (int k = 0; k < n; ++k) {
      const Pair z = q.Step(p.Step(Pair{mixed_r_[k], mixed_i_[k]}));
      mixed_r_[k] = z[0];
      mixed_i_[k] = z[1];
    }
    stages_[0] = p;
    stages_[1] = q;
    // Up to `to`, twice the real part.
    const double ur = 2.0 * up_.r, ui = 2.0 * up_.i;
    for (int k = 0; k < n; ++k)
      Store(s[k], mixed_r_[k] * (ur * up_.table_r[k] - ui * up_.table_i[k]) -
                      mixed_i_[k] * (ur * up_.table_i[k] + ui * up_.table_r[k]));
    down_.Advance(n);
    up_.Advance(n);
    done += static_cast<size_t>(n);
  }
}

void ToneShift::Sum(int end, double& re, double& im) const {
  // Two sums each for the real and the imaginary part, so that no addition waits on the one
  // before.
  Quad r0{}, r1{}, i0{}, i1{};
  const float* x = line_ + end - taps_;
  for (int t = 0; t < taps_; t += 8) {
    Quad v0, v1, tr0, tr1, ti0, ti1;
    std::memcpy(&v0, x + t, sizeof v0);
    std::memcpy(&v1, x + t + 4, sizeof v1);
    std::memcpy(&tr0, taps_r_ + t, sizeof tr0);
    std::memcpy(&tr1, taps_r_ + t + 4, sizeof tr1);
    std::memcpy(&ti0, taps_i_ + t, sizeof ti0);
    std::memcpy(&ti1, taps_i_ + t + 4, sizeof ti1);
    r0 += v0 * tr0;
    r1 += v1 * tr1;
    i0 += v0 * ti0;
    i1 += v1 * ti1;
  }
  const Quad r = r0 + r1, i = i0 + i1;
  re = static_cast<double>(r[0] + r[1]) + static_cast<double>(r[2] + r[3]);
  im = static_cast<double>(i[0] + i[1]) + static_cast<double>(i[2] + i[3]);
}

template <class Sample>
void ToneShift::Decimating(Sample* samples, size_t count) {
  const int history = taps_ - 1;
  const int d = factor_;
  const double per_sample = 1.0 / d;
  int phase = phase_, at = low_in_block_;
  double last = last_, end = end_, slope = slope_;
  for (size_t done = 0; done < count;) {
    const int c = static_cast<int>(std::min<size_t>(Chunk, count - done));
    Sample* s = samples + done;
    for (int i = 0; i < c; ++i) line_[history + i] = static_cast<float>(s[i]);
    // The low-rate samples that fall in this chunk: at first, first + d, ...
    const int first = phase == 0 ? 0 : d - phase;
    int lows = 0;
    for (int i = first; i < c; i += d, ++lows) Sum(history + i + 1, low_r_[lows], low_i_[lows]);
    // Each times e^(-i w m factor), through the 4th-order low-pass, up to `to`: the moved band.
    Biquad p = stages_[0], q = stages_[1];
    double dr = down_.r, di = down_.i, ur = scale_ * up_.r, ui = scale_ * up_.i;
    for (int m = 0; m < lows; ++m) {
      const double cr = dr * down_.table_r[at] - di * down_.table_i[at];
      const double ci = dr * down_.table_i[at] + di * down_.table_r[at];
      const double sr = low_r_[m], si = low_i_[m];
      const Pair z = q.Step(p.Step(Pair{sr * cr - si * ci, sr * ci + si * cr}));
      low_r_[m] = z[0] * (ur * up_.table_r[at] - ui * up_.table_i[at]) -
                  z[1] * (ur * up_.table_i[at] + ui * up_.table_r[at]);
      if (++at == Block) {
        at = 0;
        down_.Advance(Block);
        up_.Advance(Block);
        dr = down_.r;
        di = down_.i;
        ur = scale_ * up_.r;
        ui = scale_ * up_.i;
      }
    }
    stages_[0] = p;
    stages_[1] = q;
    // Straight lines at the full rate, each from one low-rate sample to the next.
    int i = 0;
    for (int m = phase == 0 ? 0 : -1; m < lows; ++m) {  // first the rest of the line drawn last
      if (m >= 0) {
        last = end;
        end = low_r_[m];
        slope = (end - last) * per_sample;
        phase = 0;
      }
      const int run = std::min(d - phase, c - i);
      for (int j = 0; j < run; ++j) Store(s[i + j], last + (phase + j) * slope);
      i += run;
      phase += run;
    }
    if (phase == d) phase = 0;
    std::memmove(line_, line_ + c, static_cast<size_t>(history) * sizeof(float));
    done += static_cast<size_t>(c);
  }
  phase_ = phase;
  low_in_block_ = at;
  last_ = last;
  end_ = end;
  slope_ = slope;
}

void ToneShift::Process(float* samples, size_t count) {
  if (factor_ == 1)
    Full(samples, count);
  else
    Decimating(samples, count);
}

void ToneShift::Process(int16_t* samples, size_t count) {
  if (factor_ == 1)
    Full(samples, count);
  else
    Decimating(samples, count);
}

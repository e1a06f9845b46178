#include "conditioning/tone_shift.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double Pi = 3.14159265358979323846;
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
  for (int k = 0; k < Block; ++k) {
    table_r[k] = std::cos(w * k);
    table_i[k] = std::sin(w * k);
  }
  step_r = std::cos(w * Block);
  step_i = std::sin(w * Block);
}

void ToneShift::Oscillator::Next() {
  const double nr = r * step_r - i * step_i;
  const double ni = r * step_i + i * step_r;
  const double g = 1.0 / std::hypot(nr, ni);
  r = nr * g;
  i = ni * g;
}

ToneShift::ToneShift(double rate, double from_hz, double to_hz, double half_width_hz)
    : rate_(rate), from_hz_(from_hz), to_hz_(to_hz) {
  down_.Set(-2.0 * Pi * from_hz / rate);
  up_.Set(2.0 * Pi * to_hz / rate);
  // Butterworth of order 4 as two second-order sections, Q = 1 / (2 sin((2k - 1) pi / 8)),
  // by the bilinear transform. 1 - cos(w0) is written 2 sin^2(w0 / 2): at a small w0 the
  // difference would lose most of its digits.
  const double w0 = 2.0 * Pi * half_width_hz / rate;
  const double one_minus_cos = 2.0 * std::sin(w0 / 2.0) * std::sin(w0 / 2.0);
  const double qs[2] = {0.54119610014619698, 1.3065629648763766};
  for (int k = 0; k < 2; ++k) {
    const double alpha = std::sin(w0) / (2.0 * qs[k]);
    const double a0 = 1.0 + alpha;
    Biquad& b = stages_[k];
    b.b0 = one_minus_cos / 2.0 / a0;
    b.b1 = one_minus_cos / a0;
    b.b2 = b.b0;
    b.a1 = -2.0 * std::cos(w0) / a0;
    b.a2 = (1.0 - alpha) / a0;
  }
}

void ToneShift::Run(const double* x, double* y, int n) {
  // Down to 0 Hz.
  const double dr = down_.r, di = down_.i;
  for (int k = 0; k < n; ++k) {
    const double cr = dr * down_.table_r[k] - di * down_.table_i[k];
    const double ci = dr * down_.table_i[k] + di * down_.table_r[k];
    z_[k] = Pair{x[k] * cr, x[k] * ci};
  }
  // The low-pass: both sections, sample by sample, in direct form I (a sample's output waits on
  // one multiplication and one addition after the previous output's), the real and imaginary
  // parts as one pair.
  Biquad& p = stages_[0];
  Biquad& q = stages_[1];
  for (int k = 0; k < n; ++k) {
    const Pair in = z_[k];
    const Pair a = p.b0 * in + p.b1 * p.x1 + p.b2 * p.x2 - p.a1 * p.y1 - p.a2 * p.y2;
    p.x2 = p.x1;
    p.x1 = in;
    p.y2 = p.y1;
    p.y1 = a;
    const Pair b = q.b0 * a + q.b1 * q.x1 + q.b2 * q.x2 - q.a1 * q.y1 - q.a2 * q.y2;
    q.x2 = q.x1;
    q.x1 = a;
    q.y2 = q.y1;
    q.y1 = b;
    z_[k] = b;
  }
  // Up to `to`, twice the real part.
  const double ur = up_.r, ui = up_.i;
  for (int k = 0; k < n; ++k) {
    const double cr = ur * up_.table_r[k] - ui * up_.table_i[k];
    const double ci = ur * up_.table_i[k] + ui * up_.table_r[k];
    y[k] = 2.0 * (z_[k][0] * cr - z_[k][1] * ci);
  }
  if (n == Block) {
    down_.Next();
    up_.Next();
  } else {
    // A partial block: the phasors move on by `n` samples.
    const double nr = dr * down_.table_r[n] - di * down_.table_i[n];
    const double ni = dr * down_.table_i[n] + di * down_.table_r[n];
    down_.r = nr;
    down_.i = ni;
    const double mr = ur * up_.table_r[n] - ui * up_.table_i[n];
    const double mi = ur * up_.table_i[n] + ui * up_.table_r[n];
    up_.r = mr;
    up_.i = mi;
  }
}

void ToneShift::Process(float* samples, size_t count) {
  for (size_t done = 0; done < count;) {
    const int n = static_cast<int>(std::min<size_t>(Block, count - done));
    for (int k = 0; k < n; ++k) in_[k] = samples[done + static_cast<size_t>(k)];
    Run(in_, out_, n);
    for (int k = 0; k < n; ++k) samples[done + static_cast<size_t>(k)] = static_cast<float>(out_[k]);
    done += static_cast<size_t>(n);
  }
}

void ToneShift::Process(int16_t* samples, size_t count) {
  for (size_t done = 0; done < count;) {
    const int n = static_cast<int>(std::min<size_t>(Block, count - done));
    for (int k = 0; k < n; ++k) in_[k] = samples[done + static_cast<size_t>(k)];
    Run(in_, out_, n);
    // Held at the 16-bit limits and rounded to nearest (halves away from zero).
    for (int k = 0; k < n; ++k) {
      const double v = std::clamp(out_[k], -32768.0, 32767.0);
      samples[done + static_cast<size_t>(k)] = static_cast<int16_t>(v < 0.0 ? v - 0.5 : v + 0.5);
    }
    done += static_cast<size_t>(n);
  }
}
